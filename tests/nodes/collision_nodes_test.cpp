// Object-collision event nodes: blocks, the query protocol and the handlers.

#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "../scene/scene_fixture.h"
#include "ov_collision_nodes.h"
#include "ov_nodes.h"
#include "ov_stream.h"

namespace {

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(w >> (8 * i)));
  }
  return out;
}
uint32_t F(float f) { return std::bit_cast<uint32_t>(f); }

struct Burster : OvCollisionListener {
  int bursts = 0, kills = 0;
  void StartBurst(const OvVector&, float, const float*, float) override { ++bursts; }
  void CountKill() override { ++kills; }
};

class CollisionNodes : public ::testing::Test {
 protected:
  void SetUp() override { AddCamera(*scene); }
  void TearDown() override {
    delete scene;
    db->Destroy();
  }
  template <class Node>
  Node* Make() {
    Node* node = OvArenaNew<Node>(db->Arena());
    EXPECT_TRUE(node && db->AddAniSetEntry(*set, node));
    node->Bind(db);
    return node;
  }
  // An object whose root clump's record carries the set of nodes.
  OvLogObj* Owner(uint32_t category, const OvVector& pos, OvClump** clump) {
    OvClumpRecord* rec = db->AddClumpRecord("owner");
    rec->aniSetIndex = int32_t(db->AniSetCount()) - 1;
    OvLogObj* o = AddObject(*scene, "owner", clump, pos);
    (*clump)->SetRecordIndex(int32_t(db->ClumpRecordCount()) - 1);
    (*clump)->SetSerial(db->Serial());
    (*clump)->SetMesh(MakeQuadMesh(*db, 1.0f));
    (*clump)->CalcToWorldMatrix();
    o->SetObjFlags(category | OV_LO_COLLIDABLE);
    return o;
  }
  uint32_t Flags(const OvClump* c) const { return c->GetSwitch() & OV_SWITCH_FLAGS; }

  OvDatabase* db = OvDatabase::Create();
  OvDbAniSet* set = db->AddAniSet();
  OvScene* scene = new OvScene();
  OvCollContactData hit{2, {1, 2, 3}, {0, 0, 1}};
};

}  // namespace

TEST(CollisionNodeTypes, BlocksReadAndWriteByteForByte) {
  OvFreeAllNodeTypes();
  OvRegisterNodeTypes();
  OvChunkArena arena;
  const std::vector<uint8_t> hitObj =
      Words({100, 0x1000, 0x3, 0x1, F(0.5f), 7, 2400, 0, 9, 0, 9600, 0xFF102030u, F(50), F(0.1f)});
  const struct {
    OvTypeId pair;
    std::vector<uint8_t> bytes;
  } blocks[] = {
      {OV_NODE_OC_DIE, Words({100, 0x105, 0x1, 0x1, 0x2, 0x2, 0xFF000000u, F(0), F(1000), 4, F(980), F(1), F(1), F(5),
                              uint32_t(-1), 6, 10, 0})},
      {OV_NODE_OC_HIT_TERRAIN, Words({100, 1, 0x4, 0x4, F(2), 5, 1200})},
      {OV_NODE_OC_HIT_OBJ, hitObj},
      {OV_NODE_OC_TOUCH_OBJ, hitObj},
  };
  for (const auto& b : blocks) {
    const OvNodeType* type = OvFindNodeType(b.pair.group, b.pair.id);
    OvDbNode* node = type ? type->Create(arena) : nullptr;
    ASSERT_NE(node, nullptr) << b.pair.id;
    EXPECT_TRUE(node->IsClass(OvCollEventNode::EventClassKey()) && node->IsClass(OvDbNode::ClassKey()));
    EXPECT_EQ(node->GetController(nullptr), nullptr);
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(b.bytes.data(), b.bytes.size()));
    EXPECT_TRUE(node->Read(in, arena)) << b.pair.id;
    EXPECT_EQ(in.Remaining(), 0u) << b.pair.id;
    OvStream out;
    ASSERT_TRUE(out.OpenMemoryWrite());
    EXPECT_TRUE(node->Write(out));
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), b.bytes) << b.pair.id;
    int count = 0;
    EXPECT_NE(type->GetParamTable(count), nullptr);
  }
  OvFreeAllNodeTypes();
}

TEST_F(CollisionNodes, EveryMatchingNodeRunsAndTouchNodesIgnoreHits) {
  auto* a = Make<OvHitObjNode>();
  auto* b = Make<OvHitObjNode>();
  auto* touch = Make<OvTouchObjNode>();
  a->setMask = 0x1, a->setValue = 0x1;
  b->setMask = 0x2, b->setValue = 0x2;
  touch->setMask = 0x4, touch->setValue = 0x4;
  OvClump* root = nullptr;
  Owner(8, {0, 0, -10}, &root);
  EXPECT_TRUE(OvCollAskNodes(OV_COLL_EVENT_HIT, root, nullptr, hit));
  EXPECT_EQ(Flags(root), 0x3u);
  EXPECT_FALSE(OvCollAskNodes(OV_COLL_EVENT_DESTROYED, root, nullptr, hit));
  EXPECT_TRUE(OvCollAskNodes(OV_COLL_EVENT_TOUCH, root, nullptr, hit));
  EXPECT_EQ(Flags(root), 0x7u);
  // No event point: the handlers stop, the event still counts as taken.
  root->SetSwitch(0xFFFF, 0);
  EXPECT_TRUE(OvCollAskNodes(OV_COLL_EVENT_HIT, root, nullptr, OvCollContactData{}));
  EXPECT_EQ(Flags(root), 0u);
}

TEST_F(CollisionNodes, TerrainHitHoldsItsFlagsThenInvertsTheSetBits) {
  auto* node = Make<OvHitTerrainNode>();
  node->setMask = 0x3, node->setValue = 0x1, node->holdSec = 2.0f;
  OvClump* root = nullptr;
  Owner(2, {0, 0, -10}, &root);
  root->SetSwitch(0xFFFF, 0x10);
  StepFrame(*scene);
  EXPECT_TRUE(OvCollAskNodes(OV_COLL_EVENT_HIT, root, nullptr, hit));
  EXPECT_EQ(Flags(root), 0x11u);
  for (int i = 0; i < 3; ++i) StepFrame(*scene, 30);  // 1.5 s
  EXPECT_EQ(Flags(root), 0x11u);
  for (int i = 0; i < 3; ++i) StepFrame(*scene, 30);
  EXPECT_EQ(Flags(root), 0x12u);
  EXPECT_EQ(root->GetAniCtrlCount(), 0);
}

TEST_F(CollisionNodes, DieNodeTakesTheDestroyedReaction) {
  auto* die = Make<OvDieCommonNode>();
  die->checkMask = 0x1, die->checkValue = 0x1;  // fails: the switch is off
  Burster listener;
  OvCollisionHandler* handler = OvCollisionInstall(*scene, *db);
  ASSERT_NE(handler, nullptr);
  handler->SetListener(&listener);
  OvClump* root = nullptr;
  OvLogObj* target = Owner(8, {0, 0, -10}, &root);
  target->SetHealth(1);
  OvClump* sc = nullptr;
  OvLogObj* shot = AddObject(*scene, "shot", &sc, {0.5f, 0, -10});
  sc->SetMesh(MakeQuadMesh(*db, 1.0f));
  shot->SetObjFlags(4 | OV_LO_COLLIDABLE);
  shot->SetDPower(5);
  shot->SetHealth(10);
  StepFrame(*scene);
  StepFrame(*scene);
  EXPECT_EQ(listener.bursts, 0);  // no fallback explosion
  EXPECT_EQ(root->GetNextBrother(), nullptr);
  EXPECT_TRUE(InScene(*scene, target));

  // Flags pass, no solid explosion, no animation: the object goes at once.
  die->checkMask = 0;
  die->options = 0;
  EXPECT_TRUE(OvCollAskNodes(OV_COLL_EVENT_DESTROYED, root, sc, hit));
  EXPECT_FALSE(InScene(*scene, target));
}
