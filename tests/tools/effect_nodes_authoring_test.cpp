// The trail, flare and overlay node types authored by their labels in a stage, then
// loaded and written back unchanged.
#include <gtest/gtest.h>

#include <vector>

#include "orvc_test_util.h"
#include "ov_database.h"
#include "ov_flare_node.h"
#include "ov_overlay_nodes.h"
#include "ov_trail_nodes.h"

using namespace orvc_test;

namespace {

TEST(EffectNodesAuthoring, BuiltByLabelsAndWrittenBackUnchanged) {
  Compiled c = Compile(R"~(
    animation{
      node{ "Drag Shine", ["Vertices list of it's parent:"] = "4, 9,1" },
      node{ "Lens Flare", ["Check Flag"] = { 0x2, 0x2 }, ["Visible Range:"] = 500,
            ["Multiple (child nodes)"] = true, ["Distance Ratio List"] = "0.5; 1.25" },
      node{ "Lens Flare" },
    }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  ASSERT_NE(db, nullptr);
  const auto* shine = NodeAt<OvDragShineNode>(*db, 0);
  ASSERT_NE(shine, nullptr);
  EXPECT_EQ(std::vector<int32_t>(shine->vertices, shine->vertices + shine->count), (std::vector<int32_t>{4, 9, 1}));
  const auto* flare = NodeAt<OvLensFlareNode>(*db, 1);
  ASSERT_NE(flare, nullptr);
  EXPECT_EQ(flare->checkMask, 2u);
  EXPECT_EQ(flare->visibleRange, 500.0f);
  EXPECT_EQ(std::vector<float>(flare->ratios, flare->ratios + flare->count), (std::vector<float>{0.5f, 1.25f}));
  const auto* plain = NodeAt<OvLensFlareNode>(*db, 2);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->count, 0);  // no child nodes: no ratios
  EXPECT_EQ(plain->fadeOutTime, 0.5f);
  EXPECT_EQ(plain->unobstructedRange, 30.0f);
  EXPECT_EQ(content_test::WriteDatabase(*db), c.image);
}

TEST(EffectNodesAuthoring, OverlaysBuiltByLabels) {
  Compiled c = Compile(R"~(
    animation{
      node{ "{i}Display Scene State", ["X (0 - 640):"] = 640, ["Y (0 - 480):"] = 0 },
      node{ "{i}Display Clump State", ["Display Anyway"] = false, ["Char Width:"] = 16, ["Color:"] = "#FF0000" },
    }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  ASSERT_NE(db, nullptr);
  const auto* scene = NodeAt<OvSceneStateNode>(*db, 0);
  ASSERT_NE(scene, nullptr);
  EXPECT_EQ(scene->x, 1.0f);  // the right edge
  EXPECT_EQ(scene->y, 0.75f);
  const auto* clump = NodeAt<OvClumpStateNode>(*db, 1);
  ASSERT_NE(clump, nullptr);
  EXPECT_EQ(clump->withClump, 1);
  EXPECT_EQ(clump->anyway, 0);
  EXPECT_EQ(clump->charWidth, 0.05f);
  EXPECT_EQ(clump->colour, 0xFFFF0000u);
  EXPECT_EQ(content_test::WriteDatabase(*db), c.image);
}

}  // namespace
