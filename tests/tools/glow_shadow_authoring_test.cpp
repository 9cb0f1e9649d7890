// The glow and rigid-shadow node types authored by their labels in a stage,
// then loaded and written back unchanged.
#include <gtest/gtest.h>

#include "orvc_test_util.h"
#include "ov_database.h"
#include "ov_glow_node.h"
#include "ov_shadow_node.h"

using namespace orvc_test;

namespace {

TEST(GlowShadowAuthoring, BuiltByLabelsAndWrittenBackUnchanged) {
  Compiled c = Compile(R"~(
    local t = texture{ name = "spot", width = 2, height = 2, solid = "#FFFFFF" }
    animation{
      node{ "~~Glow", ["Range:"] = 3, ["Color:"] = "#FF8000", ["Multiplier:"] = 8,
            ["Other Texture"] = true, ["Texture (pick node)"] = t, ["Partial Mesh"] = true, ["Sub Material ID"] = 1 },
      node{ "~~Glow", ["Texture (pick node)"] = t, ["Sub Material ID"] = 1 },
      node{ "{c}Rigid Shadow" },
    }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  ASSERT_NE(db, nullptr);
  const auto* glow = NodeAt<OvGlowNode>(*db, 0);
  ASSERT_NE(glow, nullptr);
  EXPECT_EQ(glow->range, 3);
  EXPECT_EQ(glow->GlowColour(), 0xFF7F4000u);
  EXPECT_EQ(glow->texture, 0);
  EXPECT_EQ(glow->subset, 1);
  const auto* plain = NodeAt<OvGlowNode>(*db, 1);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->texture, -1);  // not switched on: not kept
  EXPECT_EQ(plain->subset, -1);
  EXPECT_EQ(plain->range, 1);
  EXPECT_EQ(plain->GlowColour(), 0xFF0F0F0Fu);
  const auto* shadow = NodeAt<OvRigidShadowNode>(*db, 2);
  ASSERT_NE(shadow, nullptr);
  EXPECT_EQ(shadow->PayloadSize(), 0u);
  EXPECT_EQ(content_test::WriteDatabase(*db), c.image);
}

}  // namespace
