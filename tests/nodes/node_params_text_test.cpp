#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ov_memory.h"
#include "ov_node_params.h"

namespace {

OvParamValue TextSlot(const char* text) {
  OvParamValue v{};
  const uintptr_t a = reinterpret_cast<uintptr_t>(text);
  v.w[0] = uint32_t(a);
  v.w[1] = uint32_t(uint64_t(a) >> 32);
  return v;
}

TEST(ParamValues, TextIsCopiedIntoTheArena) {
  OvChunkArena arena;
  std::string source = "print('hello')";
  OvParamValue slots[2] = {TextSlot(source.c_str()), OvParamValue{}};
  OvParamValues values(slots, 2, &arena);
  char* copy = values.Text(0);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, source.c_str());
  source.assign("changed after the call");
  EXPECT_STREQ(copy, "print('hello')");
  EXPECT_EQ(values.Text(1), nullptr);  // an empty slot holds no text
  EXPECT_EQ(values.Text(7), nullptr);  // out of range
  OvParamValues noArena(slots, 2);
  EXPECT_EQ(noArena.Text(0), nullptr);  // nowhere to keep it
}

}  // namespace
