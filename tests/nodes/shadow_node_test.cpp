// "{c}Rigid Shadow": whatever block content carries for it loads and is
// written back unchanged.
#include <gtest/gtest.h>

#include <vector>

#include "ov_shadow_node.h"
#include "ov_stream.h"

namespace {

TEST(RigidShadowNode, AnyBlockLoadsAndWritesBackUnchanged) {
  const std::vector<std::vector<uint8_t>> blocks = {{}, {1, 2, 3}, std::vector<uint8_t>(300, 0xA5)};
  for (const std::vector<uint8_t>& block : blocks) {
    OvChunkArena arena;
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(block.data(), block.size()));
    OvRigidShadowNode node;
    ASSERT_TRUE(node.Read(in, arena)) << block.size();
    EXPECT_EQ(node.PayloadSize(), block.size());
    OvStream out;
    ASSERT_TRUE(out.OpenMemoryWrite());
    ASSERT_TRUE(node.Write(out));
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), block);
  }
}

}  // namespace
