// The five shader-material types authored by their display names and
// labels: loaded back as the engine's records and written unchanged; and a
// stage with a bump-mapped and a cartoon object played to a screenshot that
// shows the programs' shading, not the standard material's.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "orvc_test_util.h"
#include "ov_database.h"
#include "ov_shader_gen.h"
#include "ov_shader_material.h"

using namespace orvc_test;

namespace {

template <class T>
const T* ShaderAt(const OvDatabase& db, int index) {
  return dynamic_cast<const T*>(db.Shader(index));
}

TEST(ShaderMaterialAuthoring, EveryTypeBuiltByLabelsAndWrittenBackUnchanged) {
  Compiled c = Compile(R"~(
    local diffuse = texture{ name = "d", width = 4, height = 4, solid = "#FF8040" }
    local normals = texture{ name = "n", width = 4, height = 4, solid = "#8080FF" }
    local gloss = shader_material{ "Gloss Mapping", ["Diffuse Map"] = diffuse, ["Gloss Map"] = normals,
                                   ["test file"] = "gloss.glsl" }
    local see = shader_material{ "~~~~ Transparency", ["Diffuse Map"] = diffuse, diffuse = "#80FFFFFF" }
    local test = shader_material{ "~~~~Test Vertex/Pixel Shader", ["Map 2:"] = 1, ["Pass # for Lights:"] = -1,
                                  ["Vertex Shader File"] = "// flat\nvoid main() {}\n" }
    local toon = shader_material{ "~~~~Test Cartoon Shader (vertex/pixel shader)", ["Diffuse Map"] = diffuse,
                                  ["Dark Color"] = "#00FF00", ["Dark Threshold"] = 0.3, ["Average Color"] = 0xFF0000FF }
    local bump = shader_material{ "Bump Mapping", name = "rock", ["Diffuse Map"] = diffuse,
                                  ["Normal (bump) Map"] = normals, ["Light #"] = "All Lights",
                                  ["Self-Shadowing"] = false, ["Pixel Shader File (optional)"] = "bump.glsl" }
    for i, m in ipairs({ gloss, see, test, toon, bump }) do
      clump{ name = "c" .. i, mesh = plane{ size = 1, material = m } }
    end
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  ASSERT_NE(db, nullptr);
  // Every mesh names its material: the shader records are the five, in order.
  const auto* gloss = ShaderAt<OvGlossMaterial>(*db, 0);
  ASSERT_NE(gloss, nullptr);
  EXPECT_EQ(gloss->Map(0), 0);
  EXPECT_EQ(gloss->Map(1), 1);
  EXPECT_STREQ(gloss->PixelSource(), "gloss.glsl");
  const auto* see = ShaderAt<OvTransparencyMaterial>(*db, 1);
  ASSERT_NE(see, nullptr);
  EXPECT_EQ(see->Map(0), 0);
  const auto* test = ShaderAt<OvShaderMaterial>(*db, 2);
  ASSERT_NE(test, nullptr);
  EXPECT_EQ(test->Map(0), -1);
  EXPECT_EQ(test->Map(1), 1);
  EXPECT_EQ(test->PassLimit(), -1);
  EXPECT_STREQ(test->VertexSource(), "// flat\nvoid main() {}\n");
  const auto* toon = ShaderAt<OvCartoonMaterial>(*db, 3);
  ASSERT_NE(toon, nullptr);
  EXPECT_EQ(toon->dark, 0xFF00FF00u);
  EXPECT_EQ(toon->average, 0xFF0000FFu);
  EXPECT_FLOAT_EQ(toon->darkThreshold, 0.3f);
  EXPECT_FLOAT_EQ(toon->brightThreshold, 0.0f);
  const auto* bump = ShaderAt<OvBumpMaterial>(*db, 4);
  ASSERT_NE(bump, nullptr);
  EXPECT_EQ(bump->Map(1), 1);
  EXPECT_TRUE(bump->AllLights());
  EXPECT_FALSE(bump->SelfShadowing());
  EXPECT_EQ(bump->VertexSource(), kOvBumpVertexProgram);
  EXPECT_STREQ(bump->PixelSource(), "bump.glsl");
  EXPECT_EQ(content_test::WriteDatabase(*db), c.image);
}

TEST(ShaderMaterialAuthoring, MistakesNameTheTypeAndTheLabel) {
  struct Case {
    const char* source;
    const char* message;
  };
  const Case cases[] = {
      {"shader_material{ \"Bump\" }", "no shader material is named 'Bump'"},
      {"shader_material{ [\"Light #:\"] = 1 }", "name the type first"},
      {"shader_material{ \"Bump Mapping\", [\"Light #\"] = \"Two Lights\" }",
       "is not one of 'One Light', 'All Lights'"},
      {"shader_material{ \"Bump Mapping\", [\"Diffuse Map\"] = 3 }", "texture 3 does not exist"},
      {"shader_material{ \"~~~~ Transparency\", [\"Gloss Map\"] = 0 }", "no parameter labelled 'Gloss Map'"},
  };
  for (const Case& k : cases) {
    const Compiled c = Compile(k.source);
    EXPECT_FALSE(c.ok) << k.source;
    EXPECT_NE(c.error.find(k.message), std::string::npos) << k.source << " -> " << c.error;
  }
}

// Compiled by the program and played headless: the bump-mapped plane on the
// left shows the normal map's stripes and the cartoon sphere on the right its
// green dark band; the standard material would show neither.
TEST(ShaderMaterialAuthoring, PlayedStageShowsTheProgramsShading) {
  TempDir dir;
  dir.Write("shaded.lua", std::string(R"~(
    stage{ name = "shaded", background = "#000000", ambient = "#202020" }
    local white = texture{ name = "white", width = 4, height = 4, solid = "#FFFFFF" }
    local stripes = texture{ name = "stripes", width = 16, height = 16,
                             pixels = function(x, y) return (x // 4) % 2 == 0 and "#D980D9" or "#2680D9" end }
    local bump = shader_material{ "Bump Mapping", ["Diffuse Map:"] = white, ["Normal (bump) Map:"] = stripes }
    local toon = shader_material{ "~~~~Test Cartoon Shader (vertex/pixel shader)", ["Diffuse Map"] = white,
                                  ["Dark Color"] = "#00FF00", ["Average Color"] = "#0000FF" }
    local wall = clump{ name = "wall", position = { -3, 0, 0 }, rotation = rotation("x", 90),
                        mesh = plane{ size = 5, material = bump } }
    local ball = clump{ name = "ball", position = { 3, 0, 0 }, mesh = sphere{ radius = 2.2, material = toon } }
    local camera = clump{ name = "camera", position = { 0, -12, 0 }, look_at = { 0, 0, 0 },
                          camera = { fov = 60, near = 1, far = 100 } }
    local lamp = clump{ name = "lamp", position = { 8, -6, 0 }, light = { type = "point", range = 100 } }
    object{ name = "world", clumps = { wall, ball, camera, lamp } }
    stage{ camera = camera }
  )~"));
  const std::string orv = dir.Path() + "/shaded.orv", shot = dir.Path() + "/shot.png";
  ASSERT_EQ(std::system((std::string(ORVC_PATH) + " " + dir.Path() + "/shaded.lua -o " + orv).c_str()), 0);
  // orvdump names the records by their types.
  std::string dump;
  if (FILE* p = popen((std::string(ORVDUMP_PATH) + " " + orv).c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;) dump.append(buf, n);
    pclose(p);
  }
  EXPECT_NE(dump.find("(0, 1000500) Bump Mapping"), std::string::npos) << dump;
  EXPECT_NE(dump.find("(0, 1000400) ~~~~Test Cartoon Shader (vertex/pixel shader)"), std::string::npos);
  const std::string play = std::string(ORVPLAY_PATH) + " --headless 160 80 --fixed-step 1 --frames 3 --screenshot " +
                           shot + " " + orv + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(play.c_str()), 0);
  int w = 0, h = 0, n = 0;
  uint8_t* px = stbi_load(shot.c_str(), &w, &h, &n, 3);
  ASSERT_NE(px, nullptr);
  int wallMin = 255, wallMax = 0, green = 0;
  for (int y = h / 4; y < 3 * h / 4; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = px + (size_t(y) * w + x) * 3;
      if (x > w / 8 && x < 3 * w / 8) {
        wallMin = std::min(wallMin, int(p[0]));
        wallMax = std::max(wallMax, int(p[0]));
      }
      if (x > w / 2 && p[1] > 100 && p[0] < 40 && p[2] < 40) ++green;
    }
  }
  stbi_image_free(px);
  EXPECT_GT(wallMax - wallMin, 80) << "the normal map's stripes on the wall";
  EXPECT_GT(green, 20) << "the cartoon's dark band";
}

}  // namespace
