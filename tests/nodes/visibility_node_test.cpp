// "Invisible": the invisible bit by flag test or once at the start, for the
// clump alone or its subtree; its stored block.
#include <gtest/gtest.h>

#include <vector>

#include "../scene/scene_fixture.h"
#include "ov_stream.h"
#include "ov_visibility_node.h"

namespace {

class VisibilityNode : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene->SetRenderer(&renderer);
    AddCamera(*scene);
  }
  void TearDown() override { delete scene; }

  RecordingRenderer renderer{nullptr};
  OvScene* scene = new OvScene();
  OvChunkArena arena;
};

TEST_F(VisibilityNode, SwitchesTheBitByTestOrOnce) {
  struct Case {
    const char* name;
    uint32_t options, mask, value, switches;
    bool clumpInvisible, childInvisible, stays;
  };
  const Case cases[] = {
      {"test passes", 0, 0x3, 0x1, 0x1, true, false, true},
      {"test passes, subtree", OV_INVISIBLE_ALL_CHILDREN, 0x3, 0x1, 0x5, true, true, true},
      {"test fails: shown again", OV_INVISIBLE_ALL_CHILDREN, 0x3, 0x1, 0x3, false, false, true},
      {"init only: once, then gone", OV_INVISIBLE_INIT_ONLY, 0x3, 0x1, 0x3, true, false, false},
      {"init only, subtree", OV_INVISIBLE_INIT_ONLY | OV_INVISIBLE_ALL_CHILDREN, 0, 0, 0, true, true, false},
  };
  for (const Case& c : cases) {
    auto* node = OvArenaNew<OvInvisibleNode>(arena);
    node->options = c.options, node->checkMask = c.mask, node->checkValue = c.value;
    OvClump* clump = nullptr;
    AddObject(*scene, "lamp", &clump, {0, 0, -10});
    OvClump* child = OvClump::Create();
    clump->AttachChild(child);
    child->SetInvisible();  // the opposite of what a passing test leaves
    if (c.clumpInvisible) child->SetVisible();
    clump->SetSwitch(0xFFFF, c.switches);
    ASSERT_TRUE(clump->AddAniCtrl(OvNodeController(node, clump)));
    StepFrame(*scene);
    StepFrame(*scene);
    EXPECT_EQ(clump->IsInvisible(), c.clumpInvisible) << c.name;
    if (c.options & OV_INVISIBLE_ALL_CHILDREN) {
      EXPECT_EQ(child->IsInvisible(), c.childInvisible) << c.name;
    } else {
      EXPECT_EQ(child->IsInvisible(), !c.clumpInvisible) << c.name;  // untouched
    }
    EXPECT_EQ(clump->FindAniCtrl(OV_ACID_INVISIBLE) != nullptr, c.stays) << c.name;
    scene->DelLogObj(clump->GetLogObj());
  }
}

TEST_F(VisibilityNode, StoredBlockRoundTrips) {
  OvInvisibleNode node;
  node.options = 3, node.checkMask = 0x8001, node.checkValue = 1;
  OvStream out;
  ASSERT_TRUE(out.OpenMemoryWrite());
  ASSERT_TRUE(node.Write(out));
  const std::vector<uint8_t> block(out.Image(), out.Image() + out.ImageSize());
  ASSERT_EQ(block.size(), 16u);
  EXPECT_EQ(block[0], 100);
  OvStream in;
  ASSERT_TRUE(in.OpenMemory(block.data(), block.size()));
  OvInvisibleNode back;
  ASSERT_TRUE(back.Read(in, arena));
  OvStream again;
  ASSERT_TRUE(again.OpenMemoryWrite());
  ASSERT_TRUE(back.Write(again));
  EXPECT_EQ(std::vector<uint8_t>(again.Image(), again.Image() + again.ImageSize()), block);
}

}  // namespace
