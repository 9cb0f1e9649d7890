// The mirror, magic lens and dynamic environment map node types authored by
// their labels in a stage, loaded, and written back unchanged.
#include <gtest/gtest.h>

#include "orvc_test_util.h"
#include "ov_database.h"
#include "ov_effect_nodes.h"
#include "ov_stream.h"

using namespace orvc_test;

namespace {

TEST(EffectRenderNodesAuthoring, BuiltByLabelsAndWrittenBackUnchanged) {
  Compiled c = Compile(R"~(
    animation{
      node{ "Mirror", ["Check Flag"] = { 0x3, 0x1 }, ["Mirror"] = false, ["2 Side"] = true,
            ["Background"] = "#102030", ["Don't Render Self Obj"] = true, ["Clip: Far"] = 800,
            ["Minimum Mesh Size (pixel):"] = 4 },
      node{ "~~Magic Lens", ["Sub Material #"] = 2, ["Map #"] = 3, ["Map Channel#"] = 2, ["Mirror"] = false,
            ["Clip: Near"] = 2.5, ["Minimum Mesh Size (pixel)"] = 0 },
      node{ "Dynamic Env Map", ["Map #:"] = 2, ["Background:"] = "#FF0000", ["Don't Render Self Obj"] = true,
            ["Clip: Near:"] = 1 },
      node{ "Mirror" },
    }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  ASSERT_NE(db, nullptr);

  const auto* mirror = NodeAt<OvMirrorNode>(*db, 0);
  ASSERT_NE(mirror, nullptr);
  EXPECT_EQ(mirror->checkMask, 3u);
  EXPECT_EQ(mirror->checkValue, 1u);
  EXPECT_EQ(mirror->options, OV_EFFECT_TWO_SIDE | OV_EFFECT_SKIP_SELF);
  EXPECT_EQ(mirror->background, 0xFF102030u);
  EXPECT_EQ(mirror->backgroundObj, -1);
  EXPECT_EQ(mirror->nearClip, 10.0f);
  EXPECT_EQ(mirror->farClip, 800.0f);
  EXPECT_EQ(mirror->minSize, 4.0f);

  const auto* lens = NodeAt<OvMagicLensNode>(*db, 1);
  ASSERT_NE(lens, nullptr);
  EXPECT_EQ(lens->subMaterial, 2);
  EXPECT_EQ(lens->map, 3);
  EXPECT_EQ(lens->mapChannel, 2);
  EXPECT_EQ(lens->options, 0u);
  EXPECT_EQ(lens->magnification, 2.5f);
  EXPECT_EQ(lens->farClip, 5000.0f);
  EXPECT_EQ(lens->minSize, 0.0f);

  const auto* env = NodeAt<OvDynamicEnvMapNode>(*db, 2);
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(env->subMaterial, 1);
  EXPECT_EQ(env->map, 2);
  EXPECT_EQ(env->background, 0xFFFF0000u);
  EXPECT_EQ(env->options, OV_EFFECT_SKIP_SELF);
  EXPECT_EQ(env->nearClip, 1.0f);
  EXPECT_EQ(env->farClip, 5000.0f);
  EXPECT_EQ(env->minSize, 20.0f);

  const auto* plain = NodeAt<OvMirrorNode>(*db, 3);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->options, OV_EFFECT_MIRROR);  // "Mirror" defaults on
  EXPECT_EQ(plain->minSize, 20.0f);

  EXPECT_EQ(content_test::WriteDatabase(*db), c.image);
}

// A stored block of each type, read and written back byte for byte.
TEST(EffectRenderNodesAuthoring, StoredBlocksRoundTrip) {
  struct Case {
    OvTypeId pair;
    const char* layout;
  };
  const Case cases[] = {
      {OV_NODE_MIRROR, "iiiiiuifff"},
      {OV_NODE_MAGIC_LENS, "ii iiiufff"},
      {OV_NODE_DYNAMIC_ENV_MAP, "iiiiufff"},
  };
  RegisterEngineTypes();
  for (const Case& c : cases) {
    // Distinct words, so a swapped field shows.
    Bytes block;
    for (uint32_t i = 0; i < 10; ++i) {
      const uint32_t w = i == 0 ? 100u : 0x3F800000u + i * 0x10000u;
      for (int b = 0; b < 4; ++b) block.push_back(uint8_t(w >> (8 * b)));
    }
    int fields = 0;
    for (const char* p = c.layout; *p; ++p) fields += *p != ' ';
    block.resize(size_t(fields) * 4);
    OvNodeType* type = OvFindNodeType(c.pair.group, c.pair.id);
    ASSERT_NE(type, nullptr) << c.layout;
    OvChunkArena arena;
    OvDbNode* node = type->Create(arena);
    ASSERT_NE(node, nullptr) << c.layout;
    // Every shorter block fails to read.
    for (size_t cut = 0; cut < block.size(); cut += 4) {
      OvStream in;
      ASSERT_TRUE(in.OpenMemory(block.data(), cut));
      EXPECT_FALSE(node->Read(in, arena)) << c.layout << " cut " << cut;
    }
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(block.data(), block.size()));
    ASSERT_TRUE(node->Read(in, arena)) << c.layout;
    EXPECT_EQ(in.Position(), block.size()) << c.layout;
    OvStream out;
    ASSERT_TRUE(out.OpenMemoryWrite());
    ASSERT_TRUE(node->Write(out)) << c.layout;
    EXPECT_EQ(Bytes(out.Image(), out.Image() + out.ImageSize()), block) << c.layout;
    node->~OvDbNode();
  }
}

}  // namespace
