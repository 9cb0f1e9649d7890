// "~~Glow": its stored block, and the parameters that fold into it.
#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "ov_glow_node.h"
#include "ov_nodes.h"
#include "ov_stream.h"

namespace {

std::vector<uint8_t> Block(const OvDbNode& node) {
  OvStream out;
  EXPECT_TRUE(out.OpenMemoryWrite());
  EXPECT_TRUE(node.Write(out));
  return std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize());
}

TEST(GlowNodeBlock, RoundTripsAndAShortBlockFails) {
  OvChunkArena arena;
  OvGlowNode node;
  node.range = 3, node.multiplier = 2.5f, node.colour = 0x80FF4020u, node.texture = 7, node.subset = 2;
  const std::vector<uint8_t> block = Block(node);
  ASSERT_EQ(block.size(), 24u);
  EXPECT_EQ(block[0], 100);
  OvStream in;
  ASSERT_TRUE(in.OpenMemory(block.data(), block.size()));
  OvGlowNode back;
  ASSERT_TRUE(back.Read(in, arena));
  EXPECT_EQ(back.GlowColour(), OvGlowColour(0x80FF4020u, 2.5f));
  EXPECT_EQ(Block(back), block);

  for (size_t cut : {size_t(0), size_t(4), size_t(23)}) {
    OvStream shortIn;
    ASSERT_TRUE(shortIn.OpenMemory(block.data(), cut));
    OvGlowNode partial;
    EXPECT_FALSE(partial.Read(shortIn, arena)) << cut;
  }
}

TEST(GlowNodeBlock, SwitchesFoldIntoTheTextureAndSubsetWords) {
  struct Case {
    uint32_t otherTexture, texture, partial, subset;
    int32_t storedTexture, storedSubset;
  };
  const Case cases[] = {
      {0, 5, 0, 3, -1, -1},  // switched off: the values under them are not kept
      {1, 5, 1, 3, 5, 3},
      {1, 0, 1, 0, 0, 0},
  };
  OvRegisterNodeTypes();
  const OvNodeType* type = OvFindNodeType(0, 4600);
  ASSERT_NE(type, nullptr);
  EXPECT_STREQ(type->GetName(), "~~Glow");
  int count = 0;
  ASSERT_NE(type->GetParamTable(count), nullptr);
  ASSERT_EQ(count, 7);
  OvChunkArena arena;
  for (const Case& c : cases) {
    OvParamValue v[7] = {};
    v[0].w[0] = 2, v[1].w[0] = 0xFF00FF00u, v[2].w[0] = std::bit_cast<uint32_t>(8.0f);
    v[3].w[0] = c.otherTexture, v[4].w[0] = c.texture, v[5].w[0] = c.partial, v[6].w[0] = c.subset;
    auto* node = dynamic_cast<OvGlowNode*>(type->CreateFromValues(arena, v, 7));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->texture, c.storedTexture);
    EXPECT_EQ(node->subset, c.storedSubset);
    EXPECT_EQ(node->GlowColour(), 0xFF007F00u);  // 255 x 8 / 16, cut
  }
  EXPECT_EQ(type->CreateFromValues(arena, nullptr, 0), nullptr);
}

}  // namespace
