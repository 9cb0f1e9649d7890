// Controllers on clumps: the list and its release rules, enumeration and
// broadcast, keyframe playback with blending, ApplyAnimation, and what the
// keyframe track nodes write.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ov_aniset.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

// Records what happens to it; frees itself like any owned controller.
class ProbeCtrl : public OvAniCtrl {
 public:
  ProbeCtrl(int32_t id, uint32_t channels, std::vector<int>* log = nullptr, int tag = 0)
      : m_id(id), m_channels(channels), m_log(log), m_tag(tag) {}
  ~ProbeCtrl() override {
    if (m_log) m_log->push_back(-m_tag);
  }
  uint32_t GetChannelMask() const override { return m_channels; }
  uint32_t GetSecondaryMask() const override { return m_sets; }
  int32_t GetCtrlId() const override { return m_id; }
  void Animate(OvClump* clump, int32_t time) override {
    (void)clump;
    lastTime = time;
    Visited();
  }
  void Message(intptr_t a, intptr_t b, intptr_t c) override {
    lastMessage = a + b + c;
    Visited();
  }
  void Visited() {
    if (m_log) m_log->push_back(m_tag);
    if (onVisit) onVisit(this);
  }
  bool CtrlRemoved(OvAniCtrl* removed) override {
    lastRemoved = removed;
    return false;
  }

  int32_t m_id;
  uint32_t m_channels;
  uint32_t m_sets = 0;
  std::vector<int>* m_log;
  int m_tag;
  int32_t lastTime = -1;
  intptr_t lastMessage = 0;
  OvAniCtrl* lastRemoved = nullptr;
  void (*onVisit)(ProbeCtrl*) = nullptr;
  OvAniCtrlList* list = nullptr;
  OvAniCtrl* other = nullptr;
};

ProbeCtrl* Owned(ProbeCtrl* c) {
  c->SetOwned(true);
  return c;
}

TEST(AniCtrlList, OrderMasksAndGrowth) {
  OvAniCtrlList* list = OvAniCtrlList::Create();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->IsOwned());
  std::vector<int> log;
  ProbeCtrl* made[6];
  for (int i = 0; i < 6; ++i) {
    made[i] = Owned(new ProbeCtrl(10 + i, i == 2 ? ACF_POS : 0, &log, i + 1));
    ASSERT_TRUE(list->Append(made[i]));
  }
  made[5]->m_sets = 0x10000;
  list->RecomputeMasks();
  EXPECT_EQ(list->Count(), 6);
  EXPECT_EQ(list->Capacity(), 8);  // grows by 4
  EXPECT_EQ(list->GetChannelMask(), ACF_POS);
  EXPECT_EQ(list->GetSecondaryMask(), 0x10000u);
  EXPECT_FALSE(list->Append(made[0]));  // once only
  EXPECT_FALSE(list->Append(nullptr));

  ProbeCtrl* front = Owned(new ProbeCtrl(99, 0, &log, 7));
  ASSERT_TRUE(list->Insert(0, front));
  list->Animate(nullptr, 42);
  EXPECT_EQ(log, (std::vector<int>{7, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(made[3]->lastTime, 42);

  EXPECT_EQ(list->FindById(12), made[2]);
  EXPECT_EQ(list->FindById(1234), nullptr);
  EXPECT_EQ(list->FindByMasks(ACF_ROT | ACF_POS, 0), made[2]);
  EXPECT_EQ(list->FindByMasks(0, 0x10000), made[5]);
  EXPECT_EQ(list->FindByTag(OvAniCtrl::ClassTag()), front);
  EXPECT_EQ(list->FindByTag(OvHrchyAniCtrl::ClassTag()), nullptr);

  log.clear();
  list->Destroy(OvAniCtrl::kFreeMemory);
  // Every owned member is destroyed, in list order.
  EXPECT_EQ(log, (std::vector<int>{-7, -1, -2, -3, -4, -5, -6}));
}

TEST(AniCtrlList, RemoveTellsTheOthersReleasesOwnedOnlyAndCompacts) {
  OvAniCtrlList* list = OvAniCtrlList::Create();
  std::vector<int> log;
  ProbeCtrl* a = Owned(new ProbeCtrl(1, ACF_POS, &log, 1));
  ProbeCtrl shared(2, ACF_ROT, &log, 2);  // not owned: the list must not free it
  ProbeCtrl* c = Owned(new ProbeCtrl(3, 0, &log, 3));
  list->Append(a);
  list->Append(&shared);
  list->Append(c);

  EXPECT_TRUE(list->Remove(&shared));
  EXPECT_EQ(a->lastRemoved, &shared);
  EXPECT_EQ(c->lastRemoved, &shared);
  EXPECT_TRUE(log.empty());  // not destroyed
  EXPECT_EQ(list->Count(), 2);
  EXPECT_EQ(list->At(0), a);
  EXPECT_EQ(list->At(1), c);
  EXPECT_EQ(list->GetChannelMask(), ACF_POS);
  EXPECT_FALSE(list->Remove(&shared));

  EXPECT_TRUE(list->Remove(a));
  EXPECT_EQ(log, (std::vector<int>{-1}));
  EXPECT_EQ(list->GetChannelMask(), 0u);
  list->Release();
}

// A member may take itself or a brother out of the list, or put one in front,
// from inside any walk: the walk still reaches every member left in the list
// once, and a removed member is released only after the walk.
TEST(AniCtrlList, WalksReachEveryMemberStillInTheList) {
  enum Walk { kAnimate, kEnumerate, kBroadcast };
  enum Act { kRemoveSelf, kRemoveEarlier, kRemoveLater, kInsertFront, kRemoveAndPutBack };
  struct VisitAll : EnumAniCtrlCallback {
    int32_t Visit(OvAniCtrl* ctrl) override {
      static_cast<ProbeCtrl*>(ctrl)->Visited();
      return 0;
    }
  };
  const struct {
    Walk walk;
    Act act;
    std::vector<int> log;
    int count;
  } cases[] = {
      {kAnimate, kRemoveSelf, {1, 2, 3, -2}, 2},      {kAnimate, kRemoveEarlier, {1, 2, 3, -1}, 2},
      {kAnimate, kRemoveLater, {1, 2, -3}, 2},        {kAnimate, kInsertFront, {1, 2, 3}, 4},
      {kAnimate, kRemoveAndPutBack, {1, 2, 3, 2}, 3}, {kEnumerate, kRemoveSelf, {1, 2, 3, -2}, 2},
      {kEnumerate, kRemoveEarlier, {1, 2, 3, -1}, 2}, {kBroadcast, kRemoveSelf, {1, 2, 3, -2}, 2},
      {kBroadcast, kRemoveEarlier, {1, 2, 3, -1}, 2},
  };
  for (const auto& tc : cases) {
    OvAniCtrlList* list = OvAniCtrlList::Create();
    std::vector<int> log;
    ProbeCtrl* made[3];
    for (int i = 0; i < 3; ++i) {
      made[i] = Owned(new ProbeCtrl(6, 0, &log, i + 1));
      list->Append(made[i]);
    }
    ProbeCtrl* actor = made[1];
    actor->list = list;
    if (tc.act == kInsertFront) {
      actor->other = Owned(new ProbeCtrl(6, 0, &log, 9));
      actor->onVisit = [](ProbeCtrl* self) { self->list->Insert(0, self->other); };
    } else if (tc.act == kRemoveAndPutBack) {
      // At the end again: visited a second time, and never released.
      actor->onVisit = [](ProbeCtrl* self) {
        self->onVisit = nullptr;
        self->list->Remove(self);
        self->list->Append(self);
      };
    } else {
      actor->other = tc.act == kRemoveSelf ? made[1] : tc.act == kRemoveEarlier ? made[0] : made[2];
      actor->onVisit = [](ProbeCtrl* self) { self->list->Remove(self->other); };
    }
    VisitAll visitAll;
    if (tc.walk == kAnimate) list->Animate(nullptr, 0);
    if (tc.walk == kEnumerate) list->Enumerate(visitAll);
    if (tc.walk == kBroadcast) list->Broadcast(6, 0, 0, 0);
    EXPECT_EQ(log, tc.log) << "walk " << tc.walk << " act " << tc.act;
    EXPECT_EQ(list->Count(), tc.count) << "walk " << tc.walk << " act " << tc.act;
    list->Release();
  }
}

TEST(AniCtrlList, EnumerationStopsAndBroadcastReachesOnlyTheId) {
  OvAniCtrlList* list = OvAniCtrlList::Create();
  ProbeCtrl* a = Owned(new ProbeCtrl(5, 0));
  ProbeCtrl* b = Owned(new ProbeCtrl(6, 0));
  ProbeCtrl* c = Owned(new ProbeCtrl(6, 0));
  list->Append(a);
  list->Append(b);
  list->Append(c);

  EnumFindAcCb find(6);
  EXPECT_EQ(list->Enumerate(find), b);
  EXPECT_EQ(find.m_found, b);
  EnumFindAcCb none(7);
  EXPECT_EQ(list->Enumerate(none), nullptr);
  EXPECT_EQ(none.m_found, nullptr);

  EXPECT_EQ(list->Broadcast(6, 1, 2, 3), 2);
  EXPECT_EQ(a->lastMessage, 0);
  EXPECT_EQ(b->lastMessage, 6);
  EXPECT_EQ(c->lastMessage, 6);
  list->Release();
}

// ---------------------------------------------------------------------------
// With clumps and content.

class AnimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = OvDatabase::Create();
    ASSERT_NE(db, nullptr);
  }
  void TearDown() override {
    for (OvClump* c : clumps) c->Release();
    db->Destroy();
  }

  OvClump* NewClump() {
    OvClump* c = OvClump::Create();
    clumps.push_back(c);
    return c;
  }

  OvKeyTrackNode* Track(uint32_t id, std::vector<int32_t> times, std::vector<float> values, int before = 0,
                        int after = 0) {
    OvKeyTrackNode* node = OvArenaNew<OvKeyTrackNode>(db->Arena(), id);
    const int perKey = int(values.size() / times.size());
    node->SetTable(
        OvKeyTable::Create(db->Arena(), int(times.size()), perKey, times.data(), values.data(), before, after));
    return node;
  }

  // Position along x: 0 at t 0, 100 at t 100.
  OvKeyTrackNode* PosRamp() { return Track(OV_TRACK_POSITION, {0, 100}, {0, 0, 0, 100, 0, 0}); }

  int32_t AddSet(std::vector<OvDbNode*> nodes) {
    OvDbAniSet* set = db->AddAniSet();
    for (OvDbNode* n : nodes) EXPECT_TRUE(db->AddAniSetEntry(*set, n));
    return int32_t(db->AniSetCount() - 1);
  }

  int32_t AddRecord(const char* name, int32_t aniSet, int32_t parent = -1) {
    OvClumpRecord* r = db->AddClumpRecord(name);
    r->aniSetIndex = aniSet;
    const int32_t index = int32_t(db->ClumpRecordCount() - 1);
    r->id = index;
    if (parent >= 0) {
      OvClumpRecord* p = db->ClumpRecord(parent);
      if (p->firstChild < 0) {
        p->firstChild = index;
      } else {
        int32_t at = p->firstChild;
        while (db->ClumpRecord(at)->nextBrother >= 0) at = db->ClumpRecord(at)->nextBrother;
        db->ClumpRecord(at)->nextBrother = index;
      }
    }
    return index;
  }

  OvDatabase* db = nullptr;
  std::vector<OvClump*> clumps;
};

TEST_F(AnimTest, PlaybackRunsOnItsOwnClock) {
  OvClump* c = NewClump();
  auto* play = new OvAcKeyPlayback(PosRamp(), /*start=*/-20, MAX_TIME, OV_PLAY_LOCAL);
  play->SetOwned(true);
  ASSERT_TRUE(c->AddAniCtrl(play));
  EXPECT_EQ(c->FindAniCtrl(OV_ACID_KEY_PLAYBACK), play);
  EXPECT_EQ(c->GetAniCtrlList()->GetChannelMask(), ACF_POS);

  play->Animate(c, 10);  // elapsed 30
  EXPECT_FLOAT_EQ(c->GetPos().x, 30.0f);
  EXPECT_TRUE(c->GetChangeFlags() & ACF_POS);

  play->SetMode(OV_PLAY_HOLD);
  play->Animate(c, 50);  // the elapsed time stays, the start follows
  EXPECT_FLOAT_EQ(c->GetPos().x, 30.0f);
  EXPECT_EQ(play->Start(), 20);
  play->SetMode(OV_PLAY_LOCAL);
  play->Animate(c, 60);
  EXPECT_FLOAT_EQ(c->GetPos().x, 40.0f);
  play->SetMode(OV_PLAY_FROZEN);
  play->Animate(c, 90);
  EXPECT_FLOAT_EQ(c->GetPos().x, 40.0f);
}

TEST_F(AnimTest, PlaybackIntervalsSurviveTheClockWrap) {
  OvClump* c = NewClump();
  constexpr int32_t kStart = MAX_TIME - 9;
  auto* play = new OvAcKeyPlayback(PosRamp(), kStart, MAX_TIME, OV_PLAY_LOCAL);
  play->SetOwned(true);
  ASSERT_TRUE(c->AddAniCtrl(play));
  struct Case {
    int mode;
    int32_t units;  // after the start
    float x;
  } cases[] = {
      {OV_PLAY_LOCAL, 5, 5.0f}, {OV_PLAY_LOCAL, 30, 30.0f}, {OV_PLAY_HOLD, 60, 30.0f}, {OV_PLAY_LOCAL, 70, 40.0f}};
  for (const Case& k : cases) {
    play->SetMode(k.mode);
    play->Animate(c, OvTimeAdd(kStart, k.units));
    EXPECT_FLOAT_EQ(c->GetPos().x, k.x) << k.units;
  }
}

TEST_F(AnimTest, PlaybackBlendsFromTheCurrentPose) {
  OvClump* c = NewClump();
  c->SetPos({100.0f, 8.0f, 0.0f});
  const float h = 0.70710678f;
  OvKeyTrackNode* rot = Track(OV_TRACK_ROTATION, {0}, {h, 0, 0, h});  // 90 degrees about z
  auto* pos = new OvAcKeyPlayback(PosRamp(), 0, MAX_TIME, OV_PLAY_LOCAL);
  auto* turn = new OvAcKeyPlayback(rot, 0, MAX_TIME, OV_PLAY_LOCAL);
  pos->SetOwned(true);
  turn->SetOwned(true);
  pos->SetBlend(0, 10);
  turn->SetBlend(0, 10);
  c->AddAniCtrl(pos);
  c->AddAniCtrl(turn);

  pos->Animate(c, 5);  // w = 0.5 between (100, 8, 0) and (5, 0, 0)
  EXPECT_FLOAT_EQ(c->GetPos().x, 52.5f);
  EXPECT_FLOAT_EQ(c->GetPos().y, 4.0f);
  turn->Animate(c, 5);  // halfway from identity: 45 degrees
  EXPECT_NEAR(c->GetQuat().s, 0.9238795f, 1e-5f);
  EXPECT_NEAR(c->GetQuat().v.z, 0.3826834f, 1e-5f);

  pos->Animate(c, 10);  // the blend is over: full weight from now on
  EXPECT_EQ(pos->BlendLength(), 0);
  EXPECT_FLOAT_EQ(c->GetPos().x, 10.0f);

  OvClump* d = NewClump();
  d->SetPos({100.0f, 0.0f, 0.0f});
  auto* instant = new OvAcKeyPlayback(PosRamp(), 0, MAX_TIME, OV_PLAY_LOCAL);
  instant->SetOwned(true);
  instant->SetBlend(0, 0);  // length 0: no blend at all
  d->AddAniCtrl(instant);
  instant->Animate(d, 5);
  EXPECT_FLOAT_EQ(d->GetPos().x, 5.0f);
}

TEST_F(AnimTest, ApplyingPositionReplacesOlderPositionAnimation) {
  OvClump* c = NewClump();
  std::vector<int> log;
  ProbeCtrl* old = Owned(new ProbeCtrl(77, ACF_POS | ACF_ROT, &log, 1));
  ProbeCtrl* keep = Owned(new ProbeCtrl(78, ACF_SCALE, &log, 2));
  c->AddAniCtrl(old);
  c->AddAniCtrl(keep);
  const int32_t set = AddSet({PosRamp()});

  OvApplyOptions o;
  o.time = 1000;
  o.offset = 10;
  o.end = 5;  // before the offset: never ends
  EXPECT_EQ(OvApplyAnimation(c, db->AniSet(set), o), 1);
  EXPECT_EQ(log, (std::vector<int>{-1}));  // wrote rotation too, still removed
  EXPECT_EQ(c->FindAniCtrl(78), keep);
  auto* play = static_cast<OvAcKeyPlayback*>(c->FindAniCtrl(OV_ACID_KEY_PLAYBACK));
  ASSERT_NE(play, nullptr);
  EXPECT_TRUE(play->IsOwned());
  EXPECT_EQ(play->Start(), 990);
  EXPECT_EQ(play->End(), MAX_TIME);
  EXPECT_EQ(play->Mode(), OV_PLAY_LOCAL);
  play->Animate(c, 1000);
  EXPECT_FLOAT_EQ(c->GetPos().x, 10.0f);

  // A second apply replaces the first playback; two entries writing
  // position in one call both stay.
  const int32_t twice =
      AddSet({PosRamp(), Track(OV_TRACK_POSITION, {0}, {0, 0, 1}), Track(OV_TRACK_SCALE, {0}, {2.0f})});
  o.sceneClock = true;
  EXPECT_EQ(OvApplyAnimation(c, db->AniSet(twice), o), 3);
  EXPECT_EQ(c->GetAniCtrlCount(), 3);
  EXPECT_EQ(c->FindAniCtrl(78), nullptr);  // the scale track claimed scale
  EXPECT_EQ(static_cast<OvAcKeyPlayback*>(c->GetAniCtrlList()->At(0))->Mode(), OV_PLAY_SCENE);
}

TEST_F(AnimTest, ApplyByRecordMatchesChildNamesIgnoringDigitRuns) {
  const int32_t rootSet = AddSet({PosRamp()});
  const int32_t armSet = AddSet({Track(OV_TRACK_SCALE, {0}, {3.0f})});
  const int32_t wheelSet = AddSet({Track(OV_TRACK_POSITION, {0}, {0, 7, 0})});
  const int32_t root = AddRecord("body", rootSet);
  AddRecord("arm_1", armSet, root);
  AddRecord("wheel01_L", wheelSet, root);
  AddRecord("other", wheelSet, root);

  // The live tree was made from other records of the same shape.
  OvClump* body = NewClump();
  body->SetName("body");
  OvClump* arm = OvClump::Create();
  arm->SetName("arm_2");
  OvClump* wheel = OvClump::Create();
  wheel->SetName("wheel_L");
  OvClump* stray = OvClump::Create();
  stray->SetName("unrelated");
  body->AttachChild(arm);
  body->AttachChild(wheel);
  body->AttachChild(stray);

  OvApplyOptions o;
  o.descend = true;
  EXPECT_EQ(OvApplyAnimationByRecord(body, db, root, o), 3);
  EXPECT_EQ(stray->GetAniCtrlCount(), 0);
  arm->GetAniCtrlList()->Animate(arm, 0);
  EXPECT_FLOAT_EQ(arm->GetScale().x, 3.0f);
  wheel->GetAniCtrlList()->Animate(wheel, 0);
  EXPECT_FLOAT_EQ(wheel->GetPos().y, 7.0f);

  // Without descending only the clump itself plays.
  OvClump* lone = NewClump();
  lone->AttachChild(OvClump::Create());
  lone->GetChild()->SetName("arm_1");
  o.descend = false;
  EXPECT_EQ(OvApplyAnimationByRecord(lone, db, root, o), 1);
  EXPECT_EQ(lone->GetChild()->GetAniCtrlCount(), 0);
  EXPECT_EQ(OvApplyAnimationByRecord(lone, db, 99, o), 0);
}

TEST_F(AnimTest, ApplyDescendsIntoObjectsHangingFromTheClump) {
  const int32_t armSet = AddSet({Track(OV_TRACK_SCALE, {0}, {4.0f})});
  const int32_t root = AddRecord("body", -1);
  AddRecord("arm_1", armSet, root);

  OvScene scene;
  OvLogObj* owner = OvLogObj::Create();
  OvClump* body = OvClump::Create();
  body->SetName("body");
  owner->AppendClumps(body);
  scene.AddLogObjs(owner);
  OvLogObj* hanging = OvLogObj::Create();
  OvClump* arm = OvClump::Create();
  arm->SetName("arm_9");
  hanging->AppendClumps(arm);
  scene.AddLogObjs(hanging);
  ASSERT_TRUE(hanging->ChangeParentClump(body, false));

  OvApplyOptions o;
  o.descend = true;
  EXPECT_EQ(OvApplyAnimationByRecord(body, db, root, o), 1);
  ASSERT_EQ(arm->GetAniCtrlCount(), 1);
  arm->GetAniCtrlList()->Animate(arm, 0);
  EXPECT_FLOAT_EQ(arm->GetScale().z, 4.0f);
}

TEST_F(AnimTest, ClumpsFromOneSetShareTrackControllers) {
  const int32_t set = AddSet({PosRamp()});
  const int32_t rec = AddRecord("thing", set);
  OvClump* a = OvClump::CreateFromRecord(*db, rec);
  OvClump* b = OvClump::CreateFromRecord(*db, rec);
  ASSERT_TRUE(a && b);
  clumps.push_back(a);
  clumps.push_back(b);
  OvAniCtrl* ca = a->FindAniCtrl(111);
  ASSERT_NE(ca, nullptr);
  EXPECT_EQ(ca, b->FindAniCtrl(111));
  EXPECT_FALSE(ca->IsOwned());
  a->GetAniCtrlList()->Animate(a, 25);
  EXPECT_FLOAT_EQ(a->GetPos().x, 25.0f);
}

TEST_F(AnimTest, TrackNodesWriteTheirChannels) {
  OvClump* c = NewClump();
  OvKeyTrackNode* scale = Track(OV_TRACK_SCALE, {0, 10}, {1.0f, 3.0f});
  scale->Animate(c, 5);
  EXPECT_FLOAT_EQ(c->GetScale().x, 2.0f);
  EXPECT_FLOAT_EQ(c->GetScale().y, 2.0f);
  EXPECT_FLOAT_EQ(c->GetScale().z, 2.0f);
  EXPECT_TRUE(c->GetChangeFlags() & ACF_SCALE);

  OvKeyTrackNode* vis = Track(OV_TRACK_VISIBILITY, {10, 20, 30}, {});
  const int32_t times[] = {0, 9, 10, 19, 20, 29, 30, 1000};
  const bool hidden[] = {false, false, true, true, false, false, true, true};
  for (int i = 0; i < 8; ++i) {
    vis->Animate(c, times[i]);
    EXPECT_EQ(c->IsInvisible(), hidden[i]) << "t=" << times[i];
  }

  // No table: nothing happens.
  OvKeyTrackNode* empty = OvArenaNew<OvKeyTrackNode>(db->Arena(), OV_TRACK_POSITION);
  c->SetPos({1.0f, 2.0f, 3.0f});
  empty->Animate(c, 5);
  EXPECT_FLOAT_EQ(c->GetPos().x, 1.0f);

  OvKeyTrackNode* rot = Track(OV_TRACK_ROTATION, {0, 10}, {1, 0, 0, 0, 0, 0, 0, 1});
  EXPECT_EQ(rot->GetCtrlId(), 121);
  EXPECT_EQ(rot->GetChannelMask(), ACF_ROT);
  rot->Animate(c, 10);
  EXPECT_FLOAT_EQ(c->GetQuat().v.z, 1.0f);
}

TEST_F(AnimTest, TextureTracksAddUpWithinOneFrame) {
  OvMesh* mesh = db->AddMesh();
  mesh->setCount = 1;
  mesh->sets = OvArenaNewArray<OvTexCoordSet>(db->Arena(), 1);
  mesh->sets[0].coordCount = 1;
  mesh->sets[0].coords = OvArenaNewArray<float>(db->Arena(), 2);
  OvClump* c = NewClump();
  c->SetMesh(mesh);
  OvKeyTrackNode* a = Track(OV_TRACK_UV, {0}, {0.25f, 0.5f});
  OvKeyTrackNode* b = Track(OV_TRACK_UV, {0}, {1.0f, 2.0f});
  EXPECT_EQ(a->GetSecondaryMask(), 0x10000u);
  ASSERT_TRUE(c->AddAniCtrl(a));
  ASSERT_TRUE(c->AddAniCtrl(b));
  // The clump animates its own copy; the database's coordinates stay.
  ASSERT_NE(c->GetMesh(), mesh);
  c->AnimateChain(0);
  const float* uv = c->GetMesh()->sets[0].coords;
  EXPECT_FLOAT_EQ(uv[0], 1.25f);
  EXPECT_FLOAT_EQ(uv[1], 2.5f);
  EXPECT_FLOAT_EQ(mesh->sets[0].coords[0], 0.0f);
  c->AnimateChain(1);  // a new frame replaces first
  EXPECT_FLOAT_EQ(uv[0], 1.25f);
}

TEST_F(AnimTest, BackgroundTrackTintsTheScene) {
  OvScene scene;
  OvLogObj* obj = OvLogObj::Create();
  OvClump* c = OvClump::Create();
  obj->AppendClumps(c);
  scene.AddLogObjs(obj);
  OvKeyTrackNode* bg = Track(OV_TRACK_BACKGROUND, {0}, {1.0f, 0.5f, 0.0f});
  bg->Animate(c, 0);
  EXPECT_EQ(scene.BackgroundColour(), 0xFFFF7F00u);
}

TEST_F(AnimTest, TrackNodeKeepsItsStoredFlagsButIsNeverOwned) {
  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  w.WriteU32(0x5);  // bit 0 set in the file
  w.WriteU32(0);    // no table
  const std::vector<uint8_t> in(w.Image(), w.Image() + w.ImageSize());
  OvStream r;
  r.OpenMemory(in.data(), in.size());
  OvKeyTrackNode node(OV_TRACK_ROTATION);
  ASSERT_TRUE(node.Read(r, db->Arena()));
  EXPECT_EQ(node.Table(), nullptr);
  EXPECT_FALSE(node.IsOwned());
  EXPECT_EQ(node.Flags(), 0x4u);
  EXPECT_EQ(static_cast<OvAniCtrl*>(node.GetController(nullptr)), static_cast<OvAniCtrl*>(&node));
  node.Release();  // not owned: stays
  OvStream out;
  out.OpenMemoryWrite();
  ASSERT_TRUE(node.Write(out));
  EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), in);
}

}  // namespace
