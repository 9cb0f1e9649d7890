// Logical objects: clocks, the object tree and its re-parenting rules,
// deletion with dies-with-parent, emission from templates, timed links.
#include <gtest/gtest.h>

#include "scene_fixture.h"

namespace {

struct TemplateDb {
  OvDatabase* db = OvDatabase::Create();
  int32_t sparkClump = -1;
  TemplateDb() {
    OvLogObjRecord* lo = db->AddLogObjRecord("Spark");
    lo->id = 77;
    lo->creationFlags = 1;  // a template
    lo->objectFlags = int32_t(OV_LO_DIES_WITH_PARENT) | 4;
    OvClumpRecord* root = db->AddClumpRecord("O_spark");
    root->logObjIndex = 0;
    root->firstChild = 1;
    OvClumpRecord* child = db->AddClumpRecord("spark_tail");
    child->position[0] = 1.0f;
    sparkClump = 0;
  }
  ~TemplateDb() { db->Destroy(); }
};

OvVector WorldPos(OvClump* c) {
  OvVector p{};
  c->NeedToWorldMatrix();
  c->GetWorldPos(p);
  return p;
}

TEST(LogObj, LocalClockFreezesAndJumps) {
  OvScene scene;
  AddCamera(scene);
  OvLogObj* loose = OvLogObj::Create();
  loose->GotoFrame(12);
  EXPECT_EQ(loose->GetCrntFrame(), 0);  // in no scene
  loose->Release();

  OvLogObj* o = AddObject(scene, "clock");
  StepFrame(scene, 5);
  StepFrame(scene, 5);
  EXPECT_EQ(o->GetCrntFrame(), 5);
  o->FreezeTime();
  StepFrame(scene, 5);
  EXPECT_EQ(o->GetCrntFrame(), 5);
  EXPECT_TRUE(o->IsTimeFreeze());
  o->GotoFrame(100);
  StepFrame(scene, 5);
  EXPECT_EQ(o->GetCrntFrame(), 100);
  o->UnfreezeTime();
  o->GotoFrame_Sec(2.0f);
  EXPECT_EQ(o->GetCrntFrame(), 120);
  EXPECT_FLOAT_EQ(o->GetCrntFrame_Sec(), 2.0f);
}

TEST(LogObj, ReparentingRefusedWhileTickingAndWhenCyclic) {
  OvScene scene;
  AddCamera(scene);
  OvClump* hostClump = nullptr;
  OvLogObj* host = AddObject(scene, "host", &hostClump);
  OvClump* riderClump = nullptr;
  OvLogObj* rider = AddObject(scene, "rider", &riderClump);

  bool duringTick = true;
  ScriptedCtrl* c = ScriptedCtrl::Make();
  c->onAnimate = [&](ScriptedCtrl&, OvClump*, int32_t) {
    duringTick = rider->ChangeParentClump(hostClump, false) || rider->GraftClump(riderClump, hostClump, false);
  };
  ASSERT_TRUE(riderClump->AddAniCtrl(c));
  scene.FrameStep();
  EXPECT_FALSE(duringTick);
  EXPECT_EQ(rider->LoGetParent(), nullptr);

  ASSERT_TRUE(rider->ChangeParentClump(hostClump, false));
  EXPECT_EQ(rider->LoGetParent(), host);
  EXPECT_EQ(rider->GetParentClump(), hostClump);
  // host below its own child, or below its own clump: a loop.
  EXPECT_FALSE(host->ChangeParentClump(riderClump, false));
  EXPECT_FALSE(rider->ChangeParentClump(riderClump, false));
  ASSERT_TRUE(rider->ChangeParentClump(nullptr, false));
  EXPECT_EQ(rider->LoGetParent(), nullptr);
  EXPECT_TRUE(InScene(scene, rider));
}

TEST(LogObj, KeepWorldHoldsPlacementAcrossReparenting) {
  OvScene scene;
  AddCamera(scene);
  OvClump* hostClump = nullptr;
  AddObject(scene, "host", &hostClump, {10, 0, 0});
  OvQuat q;
  MakeQuat(q, {0, 0, 1}, 1.0f);
  hostClump->SetQuat(q);
  hostClump->SetUniScale(2.0f);
  OvClump* riderClump = nullptr;
  OvLogObj* rider = AddObject(scene, "rider", &riderClump, {1, 2, 3});
  StepFrame(scene);
  ASSERT_TRUE(rider->ChangeParentClump(hostClump, true));
  StepFrame(scene);
  EXPECT_TRUE(Near(WorldPos(riderClump), {1, 2, 3}));
  hostClump->SetPos({20, 0, 0});
  StepFrame(scene);
  EXPECT_TRUE(Near(WorldPos(riderClump), {11, 2, 3}));  // now it follows the host
}

TEST(LogObj, DeletionKeepsChildrenThatDoNotDieWithParent) {
  OvScene scene;
  AddCamera(scene);
  OvClump* parentClump = nullptr;
  OvLogObj* parent = AddObject(scene, "parent", &parentClump, {5, 0, 0});
  OvClump* keeperClump = nullptr;
  OvLogObj* keeper = AddObject(scene, "keeper", &keeperClump, {0, 1, 0});
  OvLogObj* dier = AddObject(scene, "dier");
  dier->SetObjFlags(OV_LO_DIES_WITH_PARENT);
  ASSERT_TRUE(keeper->ChangeParentClump(parentClump, false));
  ASSERT_TRUE(dier->ChangeParentClump(parentClump, false));
  scene.SetLeadingLogObj(0, parent);
  StepFrame(scene);
  EXPECT_TRUE(Near(WorldPos(keeperClump), {5, 1, 0}));

  scene.DelLogObj(parent);
  EXPECT_EQ(scene.SearchLogObj("dier"), nullptr);
  EXPECT_EQ(scene.SearchLogObj("parent"), nullptr);
  EXPECT_EQ(scene.GetLeadingLogObj(0), nullptr);
  ASSERT_EQ(scene.SearchLogObj("keeper"), keeper);
  EXPECT_EQ(keeper->LoGetParent(), nullptr);
  EXPECT_EQ(keeper->GetParentClump(), nullptr);
  StepFrame(scene);
  EXPECT_TRUE(Near(WorldPos(keeperClump), {5, 1, 0}));  // stays where it was
}

TEST(LogObj, DeletingAClumpTakesOnlyDyingObjectsAlong) {
  OvScene scene;
  AddCamera(scene);
  OvClump* bodyClump = nullptr;
  OvLogObj* body = AddObject(scene, "body", &bodyClump);
  OvClump* arm = OvClump::Create();
  arm->SetName("arm");
  bodyClump->AttachChild(arm);
  OvLogObj* sword = AddObject(scene, "sword");
  sword->SetObjFlags(OV_LO_DIES_WITH_PARENT);
  OvLogObj* shield = AddObject(scene, "shield");
  ASSERT_TRUE(sword->ChangeParentClump(arm, false));
  ASSERT_TRUE(shield->ChangeParentClump(arm, false));
  EXPECT_EQ(scene.SearchClump("arm"), arm);

  scene.DelClump(bodyClump);
  EXPECT_EQ(body->GetClumps(), nullptr);
  EXPECT_EQ(scene.SearchClump("arm"), nullptr);
  EXPECT_EQ(scene.SearchLogObj("sword"), nullptr);
  EXPECT_EQ(scene.SearchLogObj("shield"), shield);
  EXPECT_EQ(shield->LoGetParent(), nullptr);
  StepFrame(scene);
}

TEST(LogObj, GraftMovesHangingObjectsAlong) {
  OvScene scene;
  AddCamera(scene);
  OvClump* aClump = nullptr;
  OvLogObj* a = AddObject(scene, "a", &aClump);
  OvClump* limb = OvClump::Create();
  aClump->AttachChild(limb);
  OvClump* bClump = nullptr;
  OvLogObj* b = AddObject(scene, "b", &bClump);
  OvLogObj* hanger = AddObject(scene, "hanger");
  ASSERT_TRUE(hanger->ChangeParentClump(limb, false));

  EXPECT_FALSE(a->GraftClump(aClump, limb, false));    // below its own child
  EXPECT_FALSE(a->GraftClump(bClump, aClump, false));  // not a's clump
  ASSERT_TRUE(a->GraftClump(limb, bClump, false));
  EXPECT_EQ(limb->GetLogObj(), b);
  EXPECT_EQ(limb->GetParent(), bClump);
  EXPECT_EQ(hanger->LoGetParent(), b);
  EXPECT_EQ(aClump->GetChild(), nullptr);
  StepFrame(scene);
}

TEST(LogObj, TemplatesAreEmittedNotInstantiated) {
  TemplateDb t;
  OvScene scene;
  EXPECT_TRUE(scene.InstantiateDatabase(*t.db));
  EXPECT_EQ(scene.GetLogObjs(), nullptr);
  AddCamera(scene);

  OvMatrix at;
  OvMatrixIdentity(at);
  OvMatrixSetPos(at, {3, 4, 5});
  OvLogObj* spark = EmitObject_Mat(scene, at, *t.db, "O_spark", -1.0f, 0);
  ASSERT_NE(spark, nullptr);
  EXPECT_EQ(spark->LoGetID(), 77);
  EXPECT_STREQ(spark->LoGetName(), "Spark");
  EXPECT_EQ(spark->GetSerial(), t.db->Serial());
  ASSERT_NE(spark->GetClumps(), nullptr);
  EXPECT_TRUE(Near(spark->GetClumps()->GetPos(), {3, 4, 5}));
  EXPECT_NE(spark->LoSearchClump("spark_tail"), nullptr);
  EXPECT_EQ(spark->GetClumps()->FindAniCtrl(OV_CTRL_ID_LIFETIME), nullptr);
  EXPECT_EQ(EmitObject_Mat(scene, at, *t.db, "no_such", -1.0f, 0), nullptr);
  for (int i = 0; i < 3; ++i) StepFrame(scene);
  EXPECT_TRUE(InScene(scene, spark));
}

// An emitter turned 90 degrees about Z and scaled 2 at (3, 4, 5): where the
// template's child (one unit along its root's X) lands for each placement.
TEST(LogObj, EmissionFromAScaledEmitterFollowsThePlacementAndScaleFlag) {
  OvMatrix at{};
  at.m[0][1] = 2, at.m[1][0] = -2, at.m[2][2] = 2, at.m[3][3] = 1;
  OvMatrixSetPos(at, {3, 4, 5});
  const struct {
    int32_t placement;
    int flag;
    OvVector tail;
  } cases[] = {
      {0, OV_EMIT_SCALE, {3, 6, 5}},
      {0, 0, {3, 5, 5}},
      {-1, OV_EMIT_FULL_MATRIX | OV_EMIT_SCALE, {3, 6, 5}},
      {-1, OV_EMIT_FULL_MATRIX, {3, 5, 5}},
      {-1, OV_EMIT_SCALE, {5, 4, 5}},
      {-1, 0, {4, 4, 5}},
  };
  for (const auto& c : cases) {
    TemplateDb t;
    t.db->ClumpRecord(t.sparkClump)->placement = c.placement;
    OvScene scene;
    AddCamera(scene);
    OvLogObj* spark = EmitObject_Mat(scene, at, *t.db, "O_spark", -1.0f, c.flag);
    ASSERT_NE(spark, nullptr);
    EXPECT_TRUE(Near(WorldPos(spark->GetClumps()), {3, 4, 5})) << c.placement << " " << c.flag;
    const OvVector tail = WorldPos(spark->LoSearchClump("spark_tail"));
    EXPECT_TRUE(Near(tail, c.tail)) << c.placement << " " << c.flag << ": " << tail.x << " " << tail.y << " " << tail.z;
  }
}

TEST(LogObj, LifetimeZeroDiesInFirstTickedFrame) {
  TemplateDb t;
  OvScene scene;
  AddCamera(scene);
  OvMatrix at;
  OvMatrixIdentity(at);
  OvLogObj* spark = EmitObject_Mat(scene, at, *t.db, "O_spark", 0.0f, 0);
  ASSERT_NE(spark, nullptr);
  OvAniCtrl* life = spark->GetClumps()->FindAniCtrl(OV_CTRL_ID_LIFETIME);
  ASSERT_NE(life, nullptr);
  EXPECT_EQ(life->GetChannelMask(), ACF_CLUMP_LINK);
  EXPECT_TRUE(InScene(scene, spark));
  scene.FrameStep();
  EXPECT_EQ(scene.SearchLogObj("Spark"), nullptr);

  // A lifetime of 2 units lasts until the local clock reaches 2.
  OvLogObj* slow = EmitObject_Mat(scene, at, *t.db, "O_spark", 2.0f / 60.0f, 0);
  ASSERT_NE(slow, nullptr);
  StepFrame(scene);  // local time 0
  StepFrame(scene);  // 1
  EXPECT_TRUE(InScene(scene, slow));
  StepFrame(scene);  // 2
  EXPECT_EQ(scene.SearchLogObj("Spark"), nullptr);
}

TEST(LogObj, EmissionRefusedWhileShuttingDown) {
  TemplateDb t;
  // A hook released by the dying scene tries to emit.
  struct Hook : OvSceneHook {
    OvScene* scene = nullptr;
    OvDatabase* db = nullptr;
    bool tried = false;
    OvLogObj* made = nullptr;
    bool Run(OvScene&) override { return true; }
    void ReleaseHook() override {
      OvMatrix m;
      OvMatrixIdentity(m);
      tried = true;
      made = EmitObject_Mat(*scene, m, *db, "O_spark", -1.0f, 0);
    }
  } hook;
  auto* scene = new OvScene();
  hook.scene = scene;
  hook.db = t.db;
  scene->RegisterHook(&hook, 1);
  delete scene;
  EXPECT_TRUE(hook.tried);
  EXPECT_EQ(hook.made, nullptr);
}

TEST(LogObj, ControllerReleasedWithItsObjectStillReachesTheScene) {
  TemplateDb t;
  OvScene scene;
  AddCamera(scene);
  OvClump* wreckClump = nullptr;
  OvLogObj* wreck = AddObject(scene, "wreck", &wreckClump);
  OvClump* part = OvClump::Create();
  wreckClump->AttachChild(part);
  AddObject(scene, "bystander");
  OvLogObj* spark = nullptr;
  ScriptedCtrl* c = ScriptedCtrl::Make();
  c->onDestroy = [&] {
    OvScene* s = part->GetScene();
    if (!s) return;
    OvMatrix m;
    OvMatrixIdentity(m);
    spark = EmitObject_Mat(*s, m, *t.db, "O_spark", -1.0f, 0);
    s->DelLogObj(s->SearchLogObj("bystander"));
    s->DelLogObj(part->GetLogObj());  // already going: ignored
  };
  ASSERT_TRUE(part->AddAniCtrl(c));
  scene.DelLogObj(wreck);
  EXPECT_EQ(scene.SearchLogObj("wreck"), nullptr);
  EXPECT_EQ(scene.SearchLogObj("bystander"), nullptr);
  ASSERT_NE(spark, nullptr);
  EXPECT_TRUE(InScene(scene, spark));
  StepFrame(scene);
}

TEST(LogObj, TimedLinkDetachesAtDeadline) {
  TemplateDb t;
  OvScene scene;
  AddCamera(scene);
  OvClump* gunClump = nullptr;
  AddObject(scene, "gun", &gunClump, {0, 0, 7});
  OvLogObj* shell = EmitObject(*gunClump, *t.db, "O_spark", -1.0f, 2.0f / 60.0f, 0);
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ(shell->GetParentClump(), gunClump);
  EXPECT_TRUE(shell->GetObjFlags() & OV_LO_DIES_WITH_PARENT);
  ASSERT_NE(shell->GetClumps()->FindAniCtrl(OV_CTRL_ID_UNLINK), nullptr);
  StepFrame(scene);  // local 0
  StepFrame(scene);  // 1
  EXPECT_EQ(shell->GetParentClump(), gunClump);
  StepFrame(scene);  // 2: detached, keeping its place
  EXPECT_EQ(shell->GetParentClump(), nullptr);
  EXPECT_EQ(shell->LoGetParent(), nullptr);
  EXPECT_EQ(shell->GetClumps()->FindAniCtrl(OV_CTRL_ID_UNLINK), nullptr);
  gunClump->SetPos({0, 0, 50});
  StepFrame(scene);
  EXPECT_TRUE(Near(WorldPos(shell->GetClumps()), {0, 0, 7}));

  // Link time 0 leaves the object on its own.
  OvLogObj* free = EmitObject(*gunClump, *t.db, "O_spark", -1.0f, 0.0f, 0);
  ASSERT_NE(free, nullptr);
  EXPECT_EQ(free->GetParentClump(), nullptr);
}

TEST(LogObj, SplitClumpMakesANewObject) {
  OvScene scene;
  AddCamera(scene);
  OvClump* hullClump = nullptr;
  OvLogObj* hull = AddObject(scene, "hull", &hullClump, {4, 0, 0});
  OvClump* wing = OvClump::Create();
  wing->SetName("wing");
  wing->SetPos({0, 2, 0});
  hullClump->AttachChild(wing);
  hull->GotoFrame(9);
  hull->SetObjFlags(0x40);
  StepFrame(scene);
  OvLogObj* debris = OvLogObj::Create();
  ASSERT_TRUE(hull->SplitClump(wing, debris));
  scene.AddLogObjs(debris);
  EXPECT_STREQ(debris->LoGetName(), "wing");
  EXPECT_EQ(debris->GetObjFlags(), 0x40u);
  EXPECT_EQ(debris->GetCrntFrame(), hull->GetCrntFrame());
  EXPECT_EQ(hull->LoSearchClump("wing"), nullptr);
  StepFrame(scene);
  EXPECT_TRUE(Near(WorldPos(wing), {4, 2, 0}));
}

}  // namespace
