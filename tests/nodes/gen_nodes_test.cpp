// Generators and self-deleting nodes on real clumps in a ticking scene, with
// a template object from a database built in memory.
#include <gtest/gtest.h>

#include "../scene/scene_fixture.h"
#include "ov_gen_nodes.h"
#include "ov_nodes.h"

namespace {

class GenNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene.SetRenderer(&renderer);
    AddCamera(scene);  // at the origin, looking along -z
    db->AddLogObjRecord("Shot")->creationFlags = 1;
    db->AddClumpRecord("O_shot")->logObjIndex = 0;
    StepFrame(scene);
  }
  void TearDown() override {
    // Objects go before the database their nodes live in.
    while (OvLogObj* o = scene.GetLogObjs()) scene.DelLogObj(o);
    db->Destroy();
  }
  template <class Node>
  Node* Make() {
    Node* n = OvArenaNew<Node>(db->Arena());
    n->clumpRecord = 0, n->lifeTime = -1;
    n->options = OV_GEN_ALIGN_ORIENTATION;
    n->Bind(db);
    return n;
  }
  OvClump* Object(const char* name, OvVector pos = {0, 0, -10}, OvDbNode* node = nullptr) {
    OvClump* c = nullptr;
    AddObject(scene, name, &c, pos);
    c->CalcToWorldMatrix();
    if (node) {
      EXPECT_TRUE(c->AddAniCtrl(OvNodeController(node, c)));
    }
    return c;
  }
  void Step(int n = 1) {
    for (int i = 0; i < n; ++i) StepFrame(scene);
  }
  std::vector<OvLogObj*> Shots() const {
    std::vector<OvLogObj*> out;
    for (OvLogObj* o = scene.GetLogObjs(); o; o = o->LoGetNextBrother()) {
      if (std::string(o->LoGetName()) == "Shot") out.push_back(o);
    }
    return out;
  }
  static OvVector WorldPos(OvLogObj* o) {
    OvVector p{};
    if (o->GetClumps()->CalcToWorldMatrix()) o->GetClumps()->GetWorldPos(p);
    return p;
  }

  OvDatabase* db = OvDatabase::Create();
  RecordingRenderer renderer{nullptr};
  OvScene scene;
};

TEST_F(GenNodes, GeneratorKeepsTheInSceneLimitAndRefillsAfterADeletion) {
  auto* g = Make<OvGeneratorNode>();
  g->inSceneLimit = 3;
  g->checkMask = g->checkValue = 0x1;
  OvClump* gun = Object("gun", {1, 2, -10}, g);
  Step(2);
  EXPECT_TRUE(Shots().empty());  // test fails
  gun->SetSwitch(0x1, 0x1);
  Step();
  ASSERT_EQ(Shots().size(), 1u);  // at most one per frame
  EXPECT_TRUE(Near(WorldPos(Shots()[0]), {1, 2, -10}));
  Step(5);
  ASSERT_EQ(Shots().size(), 3u);
  scene.DelLogObj(Shots()[1]);
  Step();
  EXPECT_EQ(Shots().size(), 3u);
  EXPECT_EQ(OvNodeController(OvArenaNew<OvGeneratorNode>(db->Arena()), gun), nullptr);  // no database
}

TEST_F(GenNodes, GeneratorCountsNumbersAndLinksItsObjectsAndChecksTheView) {
  auto* g = Make<OvGeneratorNode>();
  g->idMode = OV_GEN_SET_ID | OV_GEN_INHERIT_ID;
  g->firstId = 10, g->idStep = 2, g->totalLimit = 3;
  OvClump* gun = Object("gun", {0, 0, -10}, g);
  gun->GetLogObj()->LoSetNodeID(100);
  Step(5);  // one per frame up to the total, then the generator leaves
  EXPECT_EQ(gun->FindAniCtrl(OV_ACID_GENERATOR), nullptr);
  std::vector<int32_t> ids;
  for (OvLogObj* o : Shots()) ids.push_back(o->LoGetNodeID());
  EXPECT_EQ(ids, (std::vector<int32_t>{110, 112, 114}));

  auto* seen = Make<OvGeneratorNode>();
  seen->options |= OV_GEN_CHECK_IN_CAMERA;
  seen->unlinkTime = -1;  // linked for good
  OvClump* behind = Object("behind", {0, 0, 10}, seen);
  Step(3);
  EXPECT_EQ(behind->GetLogObj()->LoGetChild(), nullptr);
  behind->SetPos({0, 0, -10});
  Step(2);  // animate sees the placement of the frame before
  const OvLogObj* child = behind->GetLogObj()->LoGetChild();
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(child->GetParentClump() == behind && (child->GetObjFlags() & OV_LO_DIES_WITH_PARENT));
}

TEST_F(GenNodes, GenerateAfterDestroyedEmitsWhenItsClumpGoes) {
  auto* n = Make<OvGenerateAfterDestroyedNode>();
  n->idMode = OV_GEN_SET_ID | OV_GEN_INHERIT_ID, n->id = 5;
  OvClump* mine = Object("mine", {4, 0, -10}, n);
  mine->GetLogObj()->LoSetNodeID(20);
  auto* off = Make<OvGenerateAfterDestroyedNode>();
  off->checkMask = off->checkValue = 0x1;  // fails when its clump goes
  OvClump* dud = Object("dud", {0, 0, -10}, off);
  Step(3);
  EXPECT_TRUE(Shots().empty());
  scene.DelLogObj(dud->GetLogObj());
  EXPECT_TRUE(Shots().empty());
  scene.DelLogObj(mine->GetLogObj());
  ASSERT_EQ(Shots().size(), 1u);
  EXPECT_EQ(Shots()[0]->LoGetNodeID(), 25);
  EXPECT_TRUE(Near(WorldPos(Shots()[0]), {4, 0, -10}));
}

TEST_F(GenNodes, DeletionNodesRemoveTheirClumpTreeOrObject) {
  OvClump* body = Object("body");
  OvClump* arm = OvClump::Create();
  body->AttachChild(arm);
  auto* delClump = OvArenaNew<OvDelClumpTreeNode>(db->Arena());
  delClump->checkMask = delClump->checkValue = 0x4;
  ASSERT_TRUE(arm->AddAniCtrl(OvNodeController(delClump, arm)));
  Step(2);
  EXPECT_EQ(body->GetChild(), arm);
  arm->SetSwitch(0x4, 0x4);
  Step();
  EXPECT_TRUE(body->GetChild() == nullptr && scene.SearchLogObj("body"));
  Object("doomed", {}, OvArenaNew<OvDelObjectTreeNode>(db->Arena()));  // mask 0: the first frame
  Step();
  EXPECT_EQ(scene.SearchLogObj("doomed"), nullptr);
}

}  // namespace
