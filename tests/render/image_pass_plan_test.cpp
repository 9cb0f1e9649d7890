// The standard material: stored form, registry entry, binding and the pass
// plans for one and for several texture stages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ov_database.h"
#include "ov_memory.h"
#include "ov_std_material.h"
#include "ov_stream.h"
#include "ov_typed_record.h"

namespace {

class PassPlanTest : public ::testing::Test {
 protected:
  OvStdMaterial* Material(std::vector<OvStdLayer> layers, int32_t blend = 1, uint32_t options = 0) {
    OvStdMaterial* m = OvArenaNew<OvStdMaterial>(arena);
    m->SetLayers(arena, layers.data(), int32_t(layers.size()));
    m->SetBlendKind(blend);
    m->SetOptions(options);
    return m;
  }
  // The plan in short: per pass its stages and blend, "test" with alpha test.
  std::string Plan(std::vector<OvStdLayer> layers, int stages, int32_t blend = 1, uint32_t options = 0) {
    OvPassPlan* plan = OvPassPlan::Build(*Material(std::move(layers), blend, options), stages);
    if (!plan) return "none";
    static const char* const ops[] = {"cur", "tex", "blend", "add", "mod", "mod2", "refl+", "refl", "dot3", "specular"};
    static const char* const blends[] = {"opaque", "alpha", "add", "mul", "mul2"};
    std::string out;
    for (int p = 0; p < plan->PassCount(); ++p) {
      const OvPlanPass& pass = plan->Pass(p);
      out += "(";
      for (int s = 0; s < pass.stageCount; ++s) out += std::string(ops[int(pass.stages[s].op)]) + " ";
      out += std::string("/") + blends[int(pass.blend)] + (pass.alphaTest ? " test" : "") + ")";
    }
    last = {plan->NeedsBumpColours(), plan->NeedsBumpSpecular(), plan->Option0Flag(), plan->BumpSet()};
    plan->Release();
    return out;
  }
  static OvStdLayer L(uint32_t kind, uint8_t slot = 0, uint8_t set = 0) {
    OvStdLayer l;
    l.kind = kind;
    l.slot = slot;
    l.set = set;
    return l;
  }
  struct Reports {
    bool bump, bumpSpecular, option0;
    int bumpSet;
  } last{};
  OvChunkArena arena;
};

TEST_F(PassPlanTest, StageLimits) {
  // (modulate, add): one pass with two stages, or two passes, the second
  // additive with the plain texture stage.
  EXPECT_EQ(Plan({L(4), L(3, 1, 1)}, 2), "(mod add /opaque)");
  EXPECT_EQ(Plan({L(4), L(3, 1, 1)}, 1, 2, OV_STD_OPTION_ALPHA_TEST), "(mod /alpha test)(tex /add)");
  // The first pass takes at most S leading layers; the rest their own blend.
  EXPECT_EQ(Plan({L(1), L(4), L(5), L(2)}, 2), "(tex mod /opaque)(tex /mul2)(tex /alpha)");
  EXPECT_EQ(Plan({L(1), L(4), L(5), L(2)}, 20), "(tex mod mod2 blend /opaque)");
  EXPECT_EQ(Plan({L(2), L(4)}, 1, 3), "(blend /add)(tex /mul)");
  // No layers: the lit colour only, with the material's blend.
  EXPECT_EQ(Plan({}, 2, 2, OV_STD_OPTION_ALPHA_TEST), "(cur /alpha test)");
  EXPECT_EQ(Plan({}, 1, 7), "(cur /opaque)");
}

TEST_F(PassPlanTest, ReflectionLayers) {
  EXPECT_EQ(Plan({L(OV_LAYER_REFLECT), L(OV_LAYER_REFLECT, 1)}, 1), "(refl+ /opaque)(refl /add)");
  EXPECT_EQ(Plan({L(OV_LAYER_REFLECT), L(OV_LAYER_REFLECT, 1)}, 2), "(refl+ refl+ /opaque)");
}

TEST_F(PassPlanTest, BumpLayers) {
  // Layer 0 bump: its pass takes the material's blend, every other layer a
  // pass of its own.
  EXPECT_EQ(Plan({L(OV_LAYER_BUMP, 1, 2), L(4), L(3)}, 4, 2), "(dot3 specular /alpha)(tex /mul)(tex /add)");
  EXPECT_TRUE(last.bump);
  EXPECT_FALSE(last.bumpSpecular);
  EXPECT_EQ(last.bumpSet, 2);
  // A later bump layer ends the first pass and adds.
  EXPECT_EQ(Plan({L(4), L(OV_LAYER_BUMP_SPECULAR, 1, 1), L(3)}, 8), "(mod /opaque)(dot3 specular /add)(tex /add)");
  EXPECT_TRUE(last.bumpSpecular);
  EXPECT_EQ(last.bumpSet, 1);
}

TEST_F(PassPlanTest, UnknownKindsGiveNoPlan) {
  EXPECT_EQ(Plan({L(4), L(6)}, 2), "none");
  EXPECT_EQ(Plan({L(0)}, 1), "none");
  EXPECT_EQ(Plan({L(0x40000)}, 1), "none");
}

TEST_F(PassPlanTest, StagesKeepSlotsSetsAndAddressModes) {
  std::vector<OvStdLayer> layers = {L(OV_LAYER_BUMP, 1, 2), L(4, 3, 1), L(3, 0, 2)};
  layers[1].addressU = 3;
  layers[1].addressV = 4;
  OvPassPlan* plan = OvPassPlan::Build(*Material(layers), 2);
  ASSERT_NE(plan, nullptr);
  EXPECT_EQ(plan->Pass(0).stages[0].slot, 1);
  EXPECT_EQ(plan->Pass(0).stages[0].set, 2);
  EXPECT_EQ(plan->Pass(0).stages[1].slot, OV_PLAN_NO_TEXTURE);
  const OvPlanStage& s = plan->Pass(1).stages[0];
  EXPECT_EQ(s.slot, 3);
  EXPECT_EQ(s.set, 1);
  EXPECT_EQ(s.addressU, 3);
  EXPECT_EQ(s.addressV, 4);
  EXPECT_EQ(plan->Pass(2).stages[0].set, 2);
  plan->Release();
}

TEST_F(PassPlanTest, OptionBitZeroFlagOnlyWithoutAlphaTest) {
  Plan({L(1)}, 2, 1, OV_STD_OPTION_BIT0);
  EXPECT_TRUE(last.option0);
  Plan({L(1)}, 2, 1, OV_STD_OPTION_BIT0 | OV_STD_OPTION_ALPHA_TEST);
  EXPECT_FALSE(last.option0);
}

// ---------------------------------------------------------------------------
// Stored form.

std::vector<uint8_t> Payload(std::initializer_list<uint32_t> words, std::vector<uint8_t> tail = {}) {
  std::vector<uint8_t> out;
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(w >> (8 * i)));
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

void Append(std::vector<uint8_t>& out, std::initializer_list<uint32_t> words) {
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(w >> (8 * i)));
}

TEST(StdMaterialRecord, ReadsEveryArrayAndWritesTheSameBytes) {
  // Format 101, name "ab", two layers with all arrays, blend 2, option 3,
  // textures 7 and 9.
  std::vector<uint8_t> bytes = Payload({101});
  bytes.insert(bytes.end(), {2, 0, 'a', 'b'});
  Append(bytes, {2, 0x1F, 4, 3});
  bytes.insert(bytes.end(), {5, 6, 0, 1, 3, 0, 3, 4, 2, 2});
  Append(bytes, {2, 3, 2, 7, 9});

  OvChunkArena arena;
  OvStream s;
  ASSERT_TRUE(s.OpenMemory(bytes.data(), bytes.size()));
  OvStdMaterial m;
  ASSERT_TRUE(m.Read(s, arena));
  EXPECT_STREQ(m.Name(), "ab");
  ASSERT_EQ(m.LayerCount(), 2);
  EXPECT_EQ(m.Layer(0).kind, 4u);
  EXPECT_EQ(m.Layer(1).kind, 3u);
  EXPECT_EQ(m.Layer(0).slot, 5);
  EXPECT_EQ(m.Layer(1).slot, 6);
  EXPECT_EQ(m.Layer(1).set, 1);
  EXPECT_EQ(m.Layer(0).addressU, 3);
  EXPECT_EQ(m.Layer(1).addressV, 4);
  EXPECT_EQ(m.Layer(1).addressW, 2);
  EXPECT_EQ(m.BlendKind(), 2);
  EXPECT_TRUE(m.AlphaTest());
  ASSERT_EQ(m.TextureCount(), 2);
  EXPECT_EQ(m.TextureIndex(1), 9);
  EXPECT_EQ(s.Remaining(), 0u);

  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  ASSERT_TRUE(m.Write(w));
  ASSERT_EQ(w.ImageSize(), bytes.size());
  EXPECT_EQ(std::vector<uint8_t>(w.Image(), w.Image() + w.ImageSize()), bytes);
}

TEST(StdMaterialRecord, MissingArraysReadAsDefaults) {
  // Old format without a name; only the texture-set array is stored.
  std::vector<uint8_t> bytes = Payload({100, 1, 0x08, 1});
  bytes.push_back(2);
  Append(bytes, {1, 0, 0});
  OvChunkArena arena;
  OvStream s;
  ASSERT_TRUE(s.OpenMemory(bytes.data(), bytes.size()));
  OvStdMaterial m;
  ASSERT_TRUE(m.Read(s, arena));
  EXPECT_EQ(m.Name(), nullptr);
  ASSERT_EQ(m.LayerCount(), 1);
  EXPECT_EQ(m.Layer(0).slot, 0);
  EXPECT_EQ(m.Layer(0).set, 2);
  EXPECT_EQ(m.Layer(0).addressU, 1);
  EXPECT_EQ(m.Layer(0).addressV, 1);
  EXPECT_EQ(m.Layer(0).addressW, 1);
  EXPECT_EQ(m.TextureCount(), 0);
}

// One layer (kind 4) with the arrays of `mask`: slot 5, set 1, and the
// given address modes; blend 1, no options, no textures.
std::vector<uint8_t> OneLayer(uint32_t mask, uint8_t u, uint8_t v, uint8_t w) {
  std::vector<uint8_t> bytes = Payload({100, 1, mask, 4});
  const struct {
    uint32_t bit;
    uint8_t value;
  } arrays[] = {{0x10, 5}, {0x08, 1}, {0x04, u}, {0x02, v}, {0x01, w}};
  for (const auto& a : arrays) {
    if (mask & a.bit) bytes.push_back(a.value);
  }
  Append(bytes, {1, 0, 0});
  return bytes;
}

TEST(StdMaterialRecord, WritesTheWModesExactlyWhenItWritesTheUModes) {
  const struct {
    uint32_t readMask;
    uint32_t writtenMask;
    uint8_t writtenU, writtenW;  // a missing array reads as mode 1
  } cases[] = {
      {0x1F, 0x1F, 3, 2},  // both stored
      {0x1E, 0x1F, 3, 1},  // U without W: W added
      {0x19, 0x1D, 1, 2},  // W without U: U added, W kept
      {0x1A, 0x1A, 1, 1},  // neither
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> in = OneLayer(c.readMask, 3, 4, 2);
    OvChunkArena arena;
    OvStream s;
    ASSERT_TRUE(s.OpenMemory(in.data(), in.size()));
    OvStdMaterial m;
    ASSERT_TRUE(m.Read(s, arena)) << c.readMask;
    OvStream w;
    ASSERT_TRUE(w.OpenMemoryWrite());
    ASSERT_TRUE(m.Write(w)) << c.readMask;
    const std::vector<uint8_t> out(w.Image(), w.Image() + w.ImageSize());
    const uint8_t v = (c.readMask & 0x02) ? 4 : 1;
    EXPECT_EQ(out, OneLayer(c.writtenMask, c.writtenU, v, c.writtenW)) << std::hex << c.readMask;
  }
}

TEST(StdMaterialRecord, HostileCountsFail) {
  std::vector<uint8_t> bytes = Payload({100, 0x7FFFFFFF, 0x1F, 1});
  OvChunkArena arena;
  OvStream s;
  ASSERT_TRUE(s.OpenMemory(bytes.data(), bytes.size()));
  OvStdMaterial m;
  EXPECT_FALSE(m.Read(s, arena));
  bytes = Payload({100, 0, 1, 0, 0x40000000});
  OvStream t;
  ASSERT_TRUE(t.OpenMemory(bytes.data(), bytes.size()));
  OvStdMaterial n;
  EXPECT_FALSE(n.Read(t, arena));
}

TEST(StdMaterialRecord, RegisteredAsShaderClassAndReadThroughTheRegistry) {
  OvRegisterStdMaterialType();
  OvRegisterStdMaterialType();
  OvNodeType* type = OvShaderClasses().FindType(OV_STD_MATERIAL_TYPE);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->GetFamily(), OV_FAMILY_SHADER);
  EXPECT_EQ(type->GetName(), nullptr);
  int params = -1;
  EXPECT_EQ(type->GetParamTable(params), nullptr);
  EXPECT_EQ(params, 0);

  std::vector<uint8_t> payload = Payload({100, 0, 1, 0, 0});
  std::vector<uint8_t> record = Payload({0, 1000000, uint32_t(payload.size())});
  record.insert(record.end(), payload.begin(), payload.end());
  OvChunkArena arena;
  OvStream s;
  ASSERT_TRUE(s.OpenMemory(record.data(), record.size()));
  OvDbNode* node = nullptr;
  ASSERT_TRUE(OvReadTypedRecord(s, OvShaderClasses(), arena, node));
  ASSERT_NE(node, nullptr);
  EXPECT_FALSE(node->IsInert());
  OvTypeId id;
  node->GetTypeId(id);
  EXPECT_EQ(id, OV_STD_MATERIAL_TYPE);
  // Without a renderer no factory answers.
  EXPECT_EQ(node->GetController(nullptr), nullptr);
  node->~OvDbNode();
}

TEST(StdMaterialRecord, BindResolvesDatabaseTextures) {
  OvDatabase* db = OvDatabase::Create();
  ASSERT_NE(db, nullptr);
  OvTextureRecord shape;
  OvTextureEntry* t0 = db->AddTexture(shape);
  OvTextureEntry* t1 = db->AddTexture(shape);
  ASSERT_TRUE(t0 && t1);
  t0->handle = reinterpret_cast<void*>(uintptr_t(0x1000));
  t1->handle = reinterpret_cast<void*>(uintptr_t(0x2000));
  OvStdMaterial* m = OvArenaNew<OvStdMaterial>(db->Arena());
  const int32_t indices[3] = {1, 5, 0};
  ASSERT_TRUE(m->SetTextureIndices(db->Arena(), indices, 3));
  m->Bind(db);
  EXPECT_EQ(m->Texture(0), reinterpret_cast<OvGLTexture*>(uintptr_t(0x2000)));
  EXPECT_EQ(m->Texture(1), nullptr);  // no such texture
  EXPECT_EQ(m->Texture(2), reinterpret_cast<OvGLTexture*>(uintptr_t(0x1000)));
  EXPECT_EQ(m->Texture(3), nullptr);  // beyond the list
  t0->handle = t1->handle = nullptr;
  m->~OvStdMaterial();
  db->Destroy();
}

}  // namespace
