// Run-time shader programs: source rules, light order and code, the cache
// (one build per key, failures remembered) and the multi-pass lit draw.
#include <string>

#include "device_fixture.h"
#include "ov_shader_gen.h"

namespace device_test {
namespace {

OvLightData LightOf(int32_t type, float red = 1.0f) {
  OvLightData l;
  l.type = type;
  l.diffuse[0] = red, l.diffuse[1] = 0, l.diffuse[2] = 0;
  l.direction = {0, 0, 1};
  l.position = {0, 0, 0};
  return l;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ShaderSourceTest, KindTargetAndLightOrder) {
  struct KindCase {
    const char* source;
    OvShaderSourceKind kind;
  };
  const KindCase kinds[] = {
      {"; vs.1.1", OvShaderSourceKind::AssemblyText},      {"// main", OvShaderSourceKind::HighLevelText},
      {"bump.vsh", OvShaderSourceKind::AssemblyFile},      {"toon.cg", OvShaderSourceKind::HighLevelFile},
      {"TOON.CG", OvShaderSourceKind::HighLevelFile},      {"shaders/plain", OvShaderSourceKind::HighLevelFile},
      {"my.dir/plain", OvShaderSourceKind::HighLevelFile}, {"a.cg.vsh", OvShaderSourceKind::AssemblyFile},
  };
  for (const KindCase& c : kinds) EXPECT_EQ(OvClassifyShaderSource(c.source), c.kind) << c.source;

  struct TargetCase {
    const char* line;
    size_t limit;
    bool marked;
    const char* profile;
  };
  const TargetCase targets[] = {
      {"// target:vs_2_0\nvoid main", 30, true, "vs_2_0"}, {"// target: vs_2_0", 30, true, ""},
      {"// target:ps_1_4\tx", 30, true, "ps_1_4"},         {"// target:vs_2_0", 12, true, "vs"},
      {"// target:abcdefghijkl", 99, true, "abcdefghi"},   {"//target:vs_2_0", 30, false, ""},
  };
  for (const TargetCase& c : targets) {
    char profile[10];
    EXPECT_EQ(OvShaderTarget(c.line, c.limit, profile), c.marked) << c.line;
    EXPECT_STREQ(profile, c.profile) << c.line;
  }

  struct OrderCase {
    std::vector<int32_t> types;
    uint32_t code;
    std::vector<int> order;  // indices into types
  };
  const OrderCase orders[] = {
      {{OV_LIGHT_POINT, OV_LIGHT_POINT, OV_LIGHT_DIRECTIONAL, OV_LIGHT_POINT}, 87, {2, 0, 1, 3}},
      {{OV_LIGHT_SPOT, OV_LIGHT_POINT, OV_LIGHT_DIRECTIONAL}, 3 | 1 << 2 | 2 << 4, {2, 1, 0}},
      {{7, OV_LIGHT_SPOT}, 1 | 2 << 2, {0, 1}},
      {{}, 0, {}},
  };
  for (const OrderCase& c : orders) {
    std::vector<OvLightData> data;
    for (int32_t t : c.types) data.push_back(LightOf(t));
    std::vector<const OvLightData*> in, out(data.size() + 1);
    for (const OvLightData& l : data) in.push_back(&l);
    EXPECT_EQ(OvSortLights(in.data(), int(in.size()), out.data()), c.code);
    for (size_t i = 0; i < c.order.size(); ++i) EXPECT_EQ(out[i], &data[size_t(c.order[i])]) << i;
  }
  std::string defines;
  ASSERT_TRUE(OvVertexShaderDefines(87, 4, 2, nullptr, defines));
  EXPECT_NE(defines.find("#define LIGHT_TYPES 87\n"), std::string::npos);
  EXPECT_NE(defines.find("Light lt3=ovLight(37);"), std::string::npos);
  EXPECT_NE(defines.find("DirLighting(lighting,nmlVert,lt0.Dir"), std::string::npos);
  EXPECT_NE(defines.find("PointLighting(lighting,posVert,nmlVert,lt3.Pos"), std::string::npos);
}

class ShaderGenTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    Open();
    Camera();
    PlainStates();
    OvMaterial m{{1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
    r->SetMaterial(m);
    r->SetAmbient(0);
    cache = r->ShaderCache();
    ASSERT_NE(cache, nullptr);
  }
  static bool DrawQuad(void* self) { return static_cast<ShaderGenTest*>(self)->DrawLitQuad(5.0f); }
  OvShaderDraw Draw(const char* source) {
    OvShaderDraw d;
    d.vertexSource = source;
    d.owner = "record";
    d.draw = &ShaderGenTest::DrawQuad;
    d.context = this;
    return d;
  }
  OvShaderCache* cache = nullptr;
};

// Builds only up to two lights.
const char* const kTwoLightsAtMost =
    "// target:vs_2_0\n#if LIGHT_NUM > 2\n#error too many lights\n#endif\n"
    "void main() { LIGHT_PARAMS gl_Position = ovClip(ovTransform(vec4(aPosition.xyz, 1.0)));"
    " vec3 posVert = ovWorld(vec4(aPosition.xyz, 1.0)); vec3 nmlVert = normalize(ovWorldDir(aNormal));"
    " vec3 cam_vert = normalize(posVert - c[8].xyz); vec4 mtlSpecular = c[11]; vec4 amb = c[13];"
    " vec4 diff = vec4(0.0); vec4 specular = vec4(0.0); vec4 lighting; LIGHTING"
    " vColor0 = vec4(diff.rgb, 1.0); vColor1 = vec4(0.0); }\n";

TEST_F(ShaderGenTest, CacheBuildsEachKeyOnceAndRemembersFailures) {
  struct Case {
    const char* name;
    const char* source;
    bool builds;
  };
  const std::string kSpaced = std::string("// target: vs_2_0\n") + (kOvLitVertexProgram + 17);
  const Case cases[] = {
      {"built-in", nullptr, true},
      {"target vs_2_0", kTwoLightsAtMost, true},
      {"blank after the colon", kSpaced.c_str(), false},
      {"pixel target", "// target:ps_2_0\nvoid main() {}\n", false},
      {"assembly text", "; vs.1.1\nmov oPos, v0\n", false},
      {"assembly file", "lit.vsh", false},
      {"missing file", "no_such_shader.cg", false},
      {"syntax error", "// broken\nvoid main() { nonsense }\n", false},
  };
  // Every built-in program builds, with and without its switches.
  static const OvShaderMacro bumpSwitches[] = {
      {"BUMP_TEX_COORD", "1"}, {"ENABLE_SELF_SHADOWING", "1"}, {nullptr, nullptr}};
  for (const OvShaderMacro* m : {static_cast<const OvShaderMacro*>(nullptr), bumpSwitches}) {
    EXPECT_NE(cache->GetVertexShader(1, 1, 2, kOvUnlitVertexProgram, m, nullptr), 0u);
    EXPECT_NE(cache->GetVertexShader(1, 1, 1, kOvToonVertexProgram, m, nullptr), 0u);
    EXPECT_NE(cache->GetVertexShader(1, 1, 2, kOvBumpVertexProgram, m, nullptr), 0u);
    EXPECT_NE(cache->GetPixelShader(kOvToonPixelProgram, m, nullptr), 0u);
    EXPECT_NE(cache->GetPixelShader(kOvBumpPixelProgram, m, nullptr), 0u);
  }
  for (const Case& c : cases) {
    TraceCapture trace;
    const int before = cache->Compiles();
    const unsigned first = cache->GetVertexShader(1, 1, 0, c.source, nullptr, "Rock");
    EXPECT_EQ(first != 0, c.builds) << c.name;
    EXPECT_EQ(cache->GetVertexShader(1, 1, 0, c.source, nullptr, "Rock"), first) << c.name;
    EXPECT_EQ(cache->Compiles(), before + 1) << c.name;
    EXPECT_EQ(Count(trace.Text(), "\n"), c.builds ? 0 : 1) << c.name << ": " << trace.Text();
    if (!c.builds) {
      EXPECT_TRUE(trace.Contains("Rock")) << c.name;
    }
  }
  // Another light code, texture count or macro list is another key.
  const int before = cache->Compiles();
  static const OvShaderMacro extra[] = {{"VERT_COLOR_NUM", "1"}, {nullptr, nullptr}};
  EXPECT_NE(cache->GetVertexShader(3, 1, 0, nullptr, nullptr, nullptr), 0u);
  EXPECT_NE(cache->GetVertexShader(1, 1, 2, nullptr, nullptr, nullptr), 0u);
  EXPECT_NE(cache->GetVertexShader(1, 1, 0, nullptr, extra, nullptr), 0u);
  EXPECT_EQ(cache->Compiles(), before + 3);
}

TEST_F(ShaderGenTest, LitDrawTakesThePassesTheLightsNeed) {
  struct Case {
    const char* name;
    const char* source;
    int lights;
    int passLimit;
    bool ok;
    int passes;
    int red;  // centre pixel
  };
  // Each light adds a quarter red; passes after the first blend additively.
  const Case cases[] = {
      {"one pass", nullptr, 4, 0, true, 1, 255},
      {"a light a pass", nullptr, 4, -1, true, 4, 255},
      {"pass limit", nullptr, 4, 2, true, 1, 255},
      {"a light a pass, limited", nullptr, 3, -1, true, 3, 191},
      {"fewer lights on failure", kTwoLightsAtMost, 4, 0, true, 2, 255},
      {"fewer lights, limited", kTwoLightsAtMost, 4, 1, true, 1, 128},
      {"no lights", nullptr, 0, 0, true, 1, 0},
      {"assembly", "; vs.1.1\n", 2, 0, false, 0, 0},
  };
  for (const Case& c : cases) {
    Clear(0xFF000000u);
    std::vector<OvLightData> data(size_t(c.lights), LightOf(OV_LIGHT_DIRECTIONAL, 0.25f));
    std::vector<const OvLightData*> lights;
    for (const OvLightData& l : data) lights.push_back(&l);
    int passes = -1;
    EXPECT_EQ(OvDrawLitWithShaders(*r, Draw(c.source), true, lights.data(), c.lights, c.passLimit, &passes), c.ok)
        << c.name;
    EXPECT_EQ(passes, c.passes) << c.name;
    EXPECT_TRUE(Near(Centre(), c.red, 0, 0, 3)) << c.name;
    // The additive states end with the draw.
    EXPECT_EQ(r->GetRenderState(RS_ALPHABLENDENABLE), 0u) << c.name;
    EXPECT_EQ(r->ShaderProgram(), 0u) << c.name;
  }
}

TEST_F(ShaderGenTest, AmbientOnlyOnTheFirstPass) {
  r->SetAmbient(0xFF400000u);  // 0.25 red
  OvMaterial m{{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
  r->SetMaterial(m);
  Clear(0xFF000000u);
  std::vector<OvLightData> data(2, LightOf(OV_LIGHT_DIRECTIONAL, 0.25f));
  const OvLightData* lights[2] = {&data[0], &data[1]};
  ASSERT_TRUE(OvDrawLitWithShaders(*r, Draw(nullptr), true, lights, 2, -1));
  // 0.25 ambient (once) + 2 x 0.25 light.
  EXPECT_TRUE(Near(Centre(), 191, 0, 0, 3));
}

}  // namespace
}  // namespace device_test
