// The collision pass: grid and pair table, damage, reactions, node veto.

#include <gtest/gtest.h>

#include "ov_collision.h"
#include "scene_fixture.h"

namespace {

struct RecordingListener : OvCollisionListener {
  int32_t score = 0;
  int kills = 0;
  std::vector<float> bursts;  // first parameter of each burst
  int trails = 0;
  void AddScore(int32_t points) override { score += points; }
  void CountKill() override { ++kills; }
  void StartBurst(const OvVector&, float, const float params[4], float) override { bursts.push_back(params[0]); }
  void AttachSmokeTrail(OvClump&, int32_t, const float*, const OvVector&) override { ++trails; }
};

struct CollScene {
  OvDatabase* db = OvDatabase::Create();
  OvScene* scene = new OvScene();
  RecordingListener listener;
  OvCollisionHandler* handler = nullptr;

  CollScene() {
    AddCamera(*scene);
    handler = OvCollisionInstall(*scene, *db);
    if (handler) handler->SetListener(&listener);
  }
  ~CollScene() {
    delete scene;
    db->Destroy();
  }
  OvLogObj* Add(const char* name, uint32_t category, const OvVector& pos, OvClump** clump = nullptr) {
    OvClump* c = nullptr;
    OvLogObj* o = AddObject(*scene, name, &c, pos);
    c->SetMesh(MakeQuadMesh(*db, 1.0f));
    o->SetObjFlags(category | OV_LO_COLLIDABLE);
    if (clump) *clump = c;
    return o;
  }
  void Frames(int n, int32_t units = 1) {
    for (int i = 0; i < n; ++i) StepFrame(*scene, units);
  }
};

int ClumpCount(const OvLogObj* o) {
  int n = 0;
  for (const OvClump* c = o->GetClumps(); c; c = c->GetNextBrother()) ++n;
  return n;
}

}  // namespace

TEST(CollisionPass, PairTableDecidesWhatMeetsAndHitsScoreOnce) {
  CollScene s;
  ASSERT_NE(s.handler, nullptr);
  EXPECT_EQ(OvCollisionFind(*s.scene), s.handler);
  EXPECT_EQ(OvCollisionInstall(*s.scene, *s.db), s.handler);  // one handler per scene
  OvLogObj* target = s.Add("target", 8, {0, 0, -10});
  OvLogObj* shot = s.Add("shot", 4, {0.5f, 0, -10});
  target->SetHealth(100);
  shot->SetHealth(10);
  shot->SetDPower(5);
  s.Frames(4);  // the first frame has no delta; the touch lasts three frames
  EXPECT_EQ(s.handler->ContactCount(), 1);
  EXPECT_EQ(target->GetHealth(), 95);  // remembered attacker: hurt once
  EXPECT_EQ(s.listener.score, 15);     // min(power, health) per hit reaction
  EXPECT_EQ(s.listener.bursts.size(), 3u);

  // Same category on both sides: no row of the table pairs them.
  CollScene t;
  t.Add("a", 4, {0, 0, -10});
  t.Add("b", 4, {0.5f, 0, -10});
  t.Frames(2);
  EXPECT_EQ(t.handler->PairTests(), 0);
  EXPECT_EQ(t.handler->ContactCount(), 0);
}

TEST(CollisionPass, GridSlotsAroundTheCamera) {
  const float xy[4] = {-6000, -1000, 1000, 6000};
  const float z[2] = {-2000, 2000};
  EXPECT_EQ(OvCollisionHandler::Slot(-7000, 0, xy, 4), 0);
  EXPECT_EQ(OvCollisionHandler::Slot(999.5f, 0, xy, 4), 2);
  EXPECT_EQ(OvCollisionHandler::Slot(1000, 0, xy, 4), 3);
  EXPECT_EQ(OvCollisionHandler::Slot(9000, 0, xy, 4), 4);
  EXPECT_EQ(OvCollisionHandler::Slot(2000, 0, z, 2), 2);

  // Far out in x: still in the outermost cell, still tested there.
  CollScene s;
  OvLogObj* target = s.Add("target", 8, {9000, 0, -10});
  OvLogObj* shot = s.Add("shot", 4, {9000.5f, 0, -10});
  target->SetHealth(100);
  shot->SetHealth(10);
  shot->SetDPower(7);
  s.Frames(2);
  EXPECT_EQ(target->GetHealth(), 93);
}

TEST(CollisionPass, DamageClimbsParentsAndIsRememberedBriefly) {
  CollScene s;
  OvLogObj* parent = s.Add("parent", 8, {0, 0, -50});
  OvLogObj* child = OvLogObj::Create();
  OvClump* cc = OvClump::Create();
  child->AppendClumps(cc);
  parent->AttachChildren(child);
  OvLogObj* attacker = s.Add("attacker", 4, {0, 0, -90});
  parent->SetHealth(100);
  child->SetHealth(100);
  child->SetParentHurtRate(50);
  attacker->SetDPower(7);

  OvCollisionHandler::ApplyDamage(*s.scene, *child, *attacker);
  EXPECT_EQ(child->GetHealth(), 93);
  EXPECT_EQ(parent->GetHealth(), 97);  // 7 x 50 / 100, rounded down
  s.scene->SetTime(6);                 // 0.1 s later: remembered
  OvCollisionHandler::ApplyDamage(*s.scene, *child, *attacker);
  EXPECT_EQ(child->GetHealth(), 93);
  s.scene->SetTime(13);  // past 0.2 s
  OvCollisionHandler::ApplyDamage(*s.scene, *child, *attacker);
  EXPECT_EQ(child->GetHealth(), 86);

  child->SetObjFlags(OV_LO_IMMUNE);
  s.scene->SetTime(40);
  OvCollisionHandler::ApplyDamage(*s.scene, *child, *attacker);
  EXPECT_EQ(child->GetHealth(), 86);
}

// Content may set any hurt rate: shares up a long parent chain saturate the
// healths instead of overflowing on the way.
TEST(CollisionPass, DamageSharesSaturateUpALongParentChain) {
  const struct {
    int32_t rate;
    int32_t health[4];  // self, then each ancestor
  } cases[] = {
      {INT32_MAX, {-12245, INT32_MIN, INT32_MIN, INT32_MIN}},
      {INT32_MIN, {-12245, INT32_MAX, INT32_MIN, INT32_MAX}},
  };
  for (const auto& c : cases) {
    CollScene s;
    OvLogObj* chain[4];
    chain[3] = s.Add("top", 8, {0, 0, -50});
    for (int i = 2; i >= 0; --i) {
      chain[i] = OvLogObj::Create();
      chain[i]->AppendClumps(OvClump::Create());
      chain[i + 1]->AttachChildren(chain[i]);
    }
    for (OvLogObj* o : chain) {
      o->SetHealth(100);
      o->SetParentHurtRate(c.rate);
    }
    OvLogObj* attacker = s.Add("attacker", 4, {0, 0, -90});
    attacker->SetDPower(12345);
    OvCollisionHandler::ApplyDamage(*s.scene, *chain[0], *attacker);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(chain[i]->GetHealth(), c.health[i]) << "rate " << c.rate << " level " << i;
  }
}

TEST(CollisionPass, DestroyedObjectExplodesOnceAndRemovesItself) {
  CollScene s;
  OvClump* root = nullptr;
  OvLogObj* target = s.Add("target", 8, {0, 0, -10}, &root);
  OvLogObj* shot = s.Add("shot", 4, {0.5f, 0, -10});
  target->SetHealth(3);
  target->SetFullHealth(50);
  shot->SetHealth(10);
  shot->SetDPower(5);
  s.Frames(2);
  EXPECT_EQ(s.listener.kills, 1);
  EXPECT_EQ(s.listener.score, 50);
  ASSERT_EQ(s.listener.bursts.size(), 1u);
  EXPECT_EQ(s.listener.bursts[0], 2.0f);  // no explosion template: the fallback burst
  EXPECT_EQ(s.listener.trails, 1);
  EXPECT_TRUE(target->GetStateFlags() & OV_LOS_DESTROY_HANDLED);
  EXPECT_FALSE(target->GetObjFlags() & OV_LO_COLLIDABLE);
  ASSERT_EQ(ClumpCount(target), 2);
  EXPECT_NE(root->GetNextBrother()->FindAniCtrl(OV_CTRL_ID_SELF_REMOVAL), nullptr);

  s.Frames(2);
  EXPECT_EQ(s.listener.kills, 1);  // no longer collidable
  EXPECT_TRUE(InScene(*s.scene, target));
  s.scene->DelClump(root);  // only the self-removal clump is left
  s.Frames(2);
  EXPECT_FALSE(InScene(*s.scene, target));
}

namespace {

struct TouchTaker : OvCollEventNode {
  void GetTypeId(OvTypeId& out) const override { out = {0, 1}; }
  bool Read(OvStream&, OvChunkArena&) override { return true; }
  bool Write(OvStream&) const override { return true; }
  uint32_t EventMask() const override { return OV_COLL_EVENT_TOUCH; }
  void OnTouch(OvClump* self, OvClump*, const OvCollContactData& contact) override {
    ++touches;
    lastSelf = self;
    kind = contact.kind;
  }
  int touches = 0;
  OvClump* lastSelf = nullptr;
  int32_t kind = 0;
};

}  // namespace

TEST(CollisionPass, TouchDeletesCategory26UnlessANodeTakesIt) {
  CollScene s;
  s.Add("wall", 24, {0, 0, -10});
  OvLogObj* pickup = s.Add("pickup", 26, {0.5f, 0, -10});
  s.Frames(2);
  EXPECT_FALSE(InScene(*s.scene, pickup));

  CollScene t;
  OvClumpRecord* rec = t.db->AddClumpRecord("pickup");
  OvDbAniSet* set = t.db->AddAniSet();
  auto* node = OvArenaNew<TouchTaker>(t.db->Arena());
  ASSERT_TRUE(rec && set && node && t.db->AddAniSetEntry(*set, node));
  rec->aniSetIndex = int32_t(t.db->AniSetCount()) - 1;
  t.Add("wall", 24, {0, 0, -10});
  OvClump* clump = nullptr;
  OvLogObj* kept = t.Add("pickup", 26, {0.5f, 0, -10}, &clump);
  clump->SetRecordIndex(int32_t(t.db->ClumpRecordCount()) - 1);
  clump->SetSerial(t.db->Serial());
  t.Frames(2);
  EXPECT_TRUE(InScene(*t.scene, kept));
  EXPECT_EQ(node->touches, 1);
  EXPECT_EQ(node->lastSelf, clump);
  EXPECT_EQ(node->kind, 1);
}
