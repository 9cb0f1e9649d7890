// The Script node's stored block and its authoring values.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ov_script_host.h"
#include "ov_script_node.h"
#include "ov_stream.h"

namespace {

std::vector<uint8_t> Block(std::initializer_list<uint32_t> words, std::initializer_list<const char*> strings) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) {
    for (int b = 0; b < 4; ++b) out.push_back(uint8_t(w >> (8 * b)));
  }
  for (const char* s : strings) {
    const size_t n = std::strlen(s);
    out.push_back(uint8_t(n)), out.push_back(uint8_t(n >> 8));
    out.insert(out.end(), s, s + n);
  }
  return out;
}

OvParamValue Slot(uint32_t w0, uint32_t w1 = 0) { return OvParamValue{{w0, w1, 0, 0}}; }
OvParamValue TextSlot(const char* text) {
  const uint64_t a = reinterpret_cast<uintptr_t>(text);
  return Slot(uint32_t(a), uint32_t(a >> 32));
}

TEST(ScriptNode, BlockReadsAndWritesByteForByte) {
  OvChunkArena arena;
  OvNodeType* type = OvScriptNodeTypeCreate(OV_NODE_SCRIPT, "Script");
  ASSERT_NE(type, nullptr);
  const std::vector<uint8_t> blocks[] = {Block({100, 0x3, 0x1, 0}, {"Door", "speed = 2"}),
                                         Block({100, 0, 0, 7}, {"", ""})};
  for (const auto& bytes : blocks) {
    auto* node = static_cast<OvScriptNode*>(type->Create(arena));
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    EXPECT_TRUE(node->Read(in, arena) && in.Remaining() == 0);
    EXPECT_TRUE(node->Write(out));
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes);
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 1));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena));
    // No host: the node yields no controller.
    EXPECT_EQ(node->GetController(nullptr), nullptr);
  }
  delete type;
}

TEST(ScriptNode, AuthoredByLabels) {
  OvChunkArena arena;
  OvNodeType* type = OvScriptNodeTypeCreate(OV_NODE_SCRIPT, "Script");
  ASSERT_NE(type, nullptr);
  int count = 0;
  const OvNodeParamDesc* params = type->GetParamTable(count);
  ASSERT_EQ(count, 5);
  EXPECT_STREQ(params[0].label, "Check Flag");
  EXPECT_STREQ(params[2].label, "Script");
  EXPECT_STREQ(params[3].label, "Init Value");
  const OvParamValue values[] = {Slot(0x1FFFF, 0x1), Slot(0), TextSlot("Door"), TextSlot(""), Slot(0)};
  auto* node = static_cast<OvScriptNode*>(type->CreateFromValues(arena, values, 5));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->checkMask, 0xFFFFu);  // flags reach the 16 switches only
  EXPECT_STREQ(node->scriptName, "Door");
  EXPECT_EQ(node->initValue, nullptr);
  EXPECT_EQ(type->CreateFromValues(arena, values, 4), nullptr);
  delete type;
}

}  // namespace
