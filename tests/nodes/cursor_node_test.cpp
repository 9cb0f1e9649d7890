// "Mouse Cursor": its stored block in both forms and the values a tool gives.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "ov_cursor_node.h"
#include "ov_nodes.h"
#include "ov_stream.h"

namespace {

std::vector<uint8_t> Block(int32_t format, const char* include, const char* exclude) {
  OvStream out;
  EXPECT_TRUE(out.OpenMemoryWrite());
  EXPECT_TRUE(out.WriteLayout("i iRittR iiiiii", format, 0x13, 250.0f, 4, 600, -1, 5.0f, 1, 1, 2, 2, 4, 0));
  EXPECT_TRUE(out.WriteString(include) && out.WriteString(exclude));
  if (format > 100) {
    EXPECT_TRUE(out.WriteLayout("ii", 8, 8));
  }
  return {out.Image(), out.Image() + out.ImageSize()};
}

TEST(MouseCursorBlock, BothFormsRoundTripAndACutBlockFails) {
  OvFreeAllNodeTypes();
  OvRegisterNodeTypes();
  const OvNodeType* type = OvFindNodeType(0, 13000);
  ASSERT_NE(type, nullptr);
  OvChunkArena arena;
  const struct {
    int32_t format;
    const char* include;
    uint32_t options;  // as the controller works with them
    uint32_t dragMask;
  } cases[] = {
      {101, "_inpick", 0x13, 8},
      {100, nullptr, 0x13 | OV_CURSOR_GEN_AT_PICK_POINT, 0},  // older: always at the pick point, no drag flags
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> bytes = Block(c.format, c.include, "_expick");
    auto* node = static_cast<OvMouseCursorNode*>(type->Create(arena));
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    ASSERT_TRUE(node->Read(in, arena)) << c.format;
    EXPECT_EQ(in.Remaining(), 0u) << c.format;
    EXPECT_EQ(node->Options(), c.options) << c.format;
    EXPECT_EQ(node->dragMask, c.dragMask) << c.format;
    EXPECT_EQ(node->include == nullptr, c.include == nullptr) << c.format;  // empty: no filter
    EXPECT_STREQ(node->exclude, "_expick");
    ASSERT_TRUE(node->Write(out));
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes) << c.format;
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 1));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << c.format;
  }
  OvFreeAllNodeTypes();
}

TEST(MouseCursorBlock, ToolValuesKeepDefaultFiltersUnlessGivenEmpty) {
  OvFreeAllNodeTypes();
  OvRegisterNodeTypes();
  const OvNodeType* type = OvFindNodeType(0, 13000);
  OvChunkArena arena;
  int count = 0;
  const OvNodeParamDesc* params = type->GetParamTable(count);
  ASSERT_EQ(count, 19);
  std::vector<OvParamValue> v(size_t(count), OvParamValue{{0, 0, 0, 0}});
  for (int i = 0; i < count; ++i) v[size_t(i)].w[0] = uint32_t(params[i].def.i);
  v[9].w[2] = 0xFFFFFFFFu;  // no object to emit
  EXPECT_EQ(type->CreateFromValues(arena, v.data(), count - 1), nullptr);
  auto* n = static_cast<OvMouseCursorNode*>(type->CreateFromValues(arena, v.data(), count));
  ASSERT_NE(n, nullptr);
  EXPECT_STREQ(n->include, "_inpick");
  EXPECT_STREQ(n->exclude, "_expick");
  EXPECT_EQ(n->Options(), OV_CURSOR_GEN_AT_PICK_POINT);
  EXPECT_FLOAT_EQ(n->front, 100.0f);
  const char* empty = "";
  const auto address = uint64_t(reinterpret_cast<uintptr_t>(empty));
  v[5].w[0] = uint32_t(address), v[5].w[1] = uint32_t(address >> 32);
  v[16].w[0] = 1;  // "Drag Enable (Obj)"
  n = static_cast<OvMouseCursorNode*>(type->CreateFromValues(arena, v.data(), count));
  EXPECT_EQ(n->include, nullptr);
  EXPECT_EQ(n->Options(), OV_CURSOR_GEN_AT_PICK_POINT | OV_CURSOR_DRAG);
  OvFreeAllNodeTypes();
}

}  // namespace
