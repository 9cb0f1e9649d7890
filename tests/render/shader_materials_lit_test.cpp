// The bump, gloss and transparency materials: their stored blocks, and
// pictures that follow the normal map, the gloss map and the diffuse map's
// alpha.
#include "image_harness.h"
#include "ov_shader_gen.h"
#include "ov_shader_material.h"
#include "ov_stream.h"

namespace image_test {
namespace {

std::vector<uint8_t> Block(const OvDbNode& node) {
  OvStream out;
  EXPECT_TRUE(out.OpenMemoryWrite());
  EXPECT_TRUE(node.Write(out));
  return std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize());
}

// Every cut short of the whole block fails; the whole block reads and is
// written back unchanged.
template <class Material>
void ExpectRoundTrip(const Material& m, OvChunkArena& arena, const char* name) {
  const std::vector<uint8_t> first = Block(m);
  for (size_t cut = 0; cut <= first.size(); ++cut) {
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(first.data(), cut));
    Material back;
    const bool read = back.Read(in, arena);
    EXPECT_EQ(read, cut == first.size()) << name << " cut at " << cut;
    if (read) {
      EXPECT_EQ(Block(back), first) << name;
    }
  }
}

TEST(ShaderMaterialBlocks, BumpGlossTransparencyRoundTrip) {
  OvChunkArena arena;
  const int32_t maps[4] = {3, 4, -1, 0x7FFFFFFF};
  OvBumpMaterial bump;
  ASSERT_TRUE(bump.SetBump(arena, maps, true, false, "", "bump.psh"));
  ExpectRoundTrip(bump, arena, "bump");
  EXPECT_EQ(bump.VertexSource(), kOvBumpVertexProgram);  // empty file: built-in
  EXPECT_STREQ(bump.PixelSource(), "bump.psh");
  EXPECT_EQ(bump.PassLimit(), -1);  // all lights: a pass each
  OvGlossMaterial gloss;
  ASSERT_TRUE(gloss.SetGloss(arena, 1, 2, "gloss test"));
  ExpectRoundTrip(gloss, arena, "gloss");
  OvTransparencyMaterial transparency;
  ASSERT_TRUE(transparency.SetTransparency(arena, 5));
  ExpectRoundTrip(transparency, arena, "transparency");
  EXPECT_EQ(Block(transparency).size(), 8u);
}

class LitMaterialImage : public ImageTest {
 protected:
  // A normal map tilted towards +u on its left half and towards -u on its
  // right half; with `rows`, towards +v on its top half and -v below.
  OvGLTexture* TiltedNormals(bool rows = false) {
    std::vector<uint32_t> px(16 * 16);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const bool first = rows ? y < 8 : x < 8;
        px[size_t(y * 16 + x)] = rows ? (first ? 0xFF80D9D9u : 0xFF8026D9u) : (first ? 0xFFD980D9u : 0xFF2680D9u);
      }
    return Texture32(px, 16, 16);
  }
  OvGLTexture* Flat(uint32_t argb) { return Texture32(std::vector<uint32_t>(16, argb), 4, 4); }

  Picture DrawFrame(MeshData& d, const std::vector<OvLightData>& lights, const OvMatrix* world = nullptr,
                    uint32_t background = 0xFF000000u) {
    BeginFrame(background);
    for (size_t i = 0; i < lights.size(); ++i) {
      R().SetLight(int(i), lights[i]);
      R().EnableLight(int(i), true);
    }
    if (world) R().SetWorldMatrix(world);
    Draw(d);
    const Picture p = EndFrame();
    R().ShowBackBuffer();
    return p;
  }
};

TEST_F(LitMaterialImage, BumpShadingFollowsTheNormalMap) {
  OvGLTexture* white = Flat(0xFFFFFFFFu);
  OvGLTexture* normals = TiltedNormals();
  OvGLTexture* rows = TiltedNormals(true);
  OvMatrix turned;  // half round z: the light must reach the programs in object space
  OvMatrixIdentity(turned);
  OvMatSetRotZ(turned, C_PI);
  const OvLightData right = Light(OV_LIGHT_POINT, {4, 0, -3}, {0, 0, 1}, 0.7f, 0.7f, 0.7f);
  const OvLightData left = Light(OV_LIGHT_POINT, {-4, 0, -3}, {0, 0, 1}, 0.7f, 0.7f, 0.7f);
  const OvLightData behind = Light(OV_LIGHT_POINT, {6, 0, 0.5f}, {0, 0, 1}, 1, 1, 1);
  const OvLightData along = Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {-0.8f, 0, 0.6f}, 1, 1, 1);
  const OvLightData below = Light(OV_LIGHT_POINT, {0, -4, -3}, {0, 0, 1}, 0.7f, 0.7f, 0.7f);
  struct Case {
    const char* name;
    std::vector<OvLightData> lights;
    bool allLights, selfShadowing, turn, rows;
    // Red of the screen's left quarter less its right quarter (top less
    // bottom with the rows map): sign and rough size.
    int firstMinusSecond;
  };
  const Case cases[] = {
      {"light on the right", {right}, false, true, false, false, 60},
      {"mesh turned, light on the right", {right}, false, true, true, false, 60},
      {"directional light from the right", {along}, false, true, false, false, 60},
      {"one light of two", {right, left}, false, true, false, false, 60},
      {"all lights, one each side", {right, left}, true, true, false, false, 0},
      {"light behind, no self-shadowing", {behind}, false, false, false, false, 60},
      {"light behind, self-shadowing", {behind}, false, true, false, false, 0},
      {"rows tilted along v, light below", {below}, false, true, false, true, 60},
  };
  OvChunkArena arena;
  Picture reference;
  for (const Case& c : cases) {
    OvBumpMaterial m;
    const int32_t maps[4] = {-1, -1, -1, -1};
    ASSERT_TRUE(m.SetBump(arena, maps, c.allLights, c.selfShadowing, nullptr, nullptr));
    m.SetTexture(0, white);
    m.SetTexture(1, c.rows ? rows : normals);
    MeshData& quad = NewMesh();
    MakeGrid(quad, 8, -2.0f, -2.0f, 2.0f, 2.0f);
    quad.Finish(1);
    OvShaderResource* draw = OvMakeShaderMaterialDraw(m, R(), 2);
    ASSERT_NE(draw, nullptr);
    quad.resource = draw;
    const Picture p = DrawFrame(quad, c.lights, c.turn ? &turned : nullptr);
    const int l = c.rows ? p.At(kSize / 2, kSize / 4)[0] : p.At(kSize / 4, kSize / 2)[0];
    const int r = c.rows ? p.At(kSize / 2, 3 * kSize / 4)[0] : p.At(3 * kSize / 4, kSize / 2)[0];
    if (c.firstMinusSecond > 0) {
      EXPECT_GT(l - r, c.firstMinusSecond) << c.name << ": first " << l << ", second " << r;
    } else {
      EXPECT_NEAR(l, r, 12) << c.name;
      if (c.allLights) {
        EXPECT_GT(l, 100) << c.name;
      } else {
        EXPECT_LT(l, 60) << c.name;  // self-shadowed: the ambient alone
      }
    }
    if (&c == &cases[0]) reference = p;
    OvReleaseMeshBuffers(quad.mesh);
    draw->Release();
  }
  ExpectMatchesReference(reference, "bump_quad", 8, 40);
}

// A bump material on the second subset still gets the basis stream.
TEST_F(LitMaterialImage, BumpOnALaterSubsetGetsTheBasis) {
  OvChunkArena arena;
  OvBumpMaterial m;
  const int32_t maps[4] = {-1, -1, -1, -1};
  ASSERT_TRUE(m.SetBump(arena, maps, false, true, nullptr, nullptr));
  m.SetTexture(0, Flat(0xFFFFFFFFu));
  m.SetTexture(1, TiltedNormals());
  MeshData& quad = NewMesh();
  MakeGrid(quad, 8, -2.0f, -2.0f, 2.0f, 2.0f);
  quad.Finish(1);
  // Rows 0-3 (the top half) plain, rows 4-7 bump mapped.
  OvShaderResource* draw = OvMakeShaderMaterialDraw(m, R(), 2);
  void* resources[2] = {Plan({}, {}, 2), draw};
  OvMaterial materials[2] = {quad.material, quad.material};
  uint32_t ranges[4] = {0, 64, 64, 64};
  int32_t shaders[2] = {0, 1};
  quad.mesh.subsetCount = 2;
  quad.mesh.resources = resources;
  quad.mesh.materials = materials;
  quad.mesh.ranges = ranges;
  quad.mesh.shaderIndices = shaders;
  const Picture p = DrawFrame(quad, {Light(OV_LIGHT_POINT, {4, 0, -3}, {0, 0, 1}, 1, 1, 1)});
  const int l = p.At(kSize / 4, 3 * kSize / 4)[0], r = p.At(3 * kSize / 4, 3 * kSize / 4)[0];
  EXPECT_GT(l - r, 60) << "left " << l << ", right " << r;
  OvReleaseMeshBuffers(quad.mesh);
  draw->Release();
}

TEST_F(LitMaterialImage, GlossScalesTheHighlight) {
  // Left half of the gloss map white, right half black: the highlight shows
  // on the left only; the diffuse map is lit on both.
  std::vector<uint32_t> half(16 * 16);
  for (int i = 0; i < 256; ++i) half[size_t(i)] = (i % 16) < 8 ? 0xFFFFFFFFu : 0xFF000000u;
  OvChunkArena arena;
  OvGlossMaterial m;
  ASSERT_TRUE(m.SetGloss(arena, -1, -1, nullptr));
  m.SetTexture(0, Flat(0xFF4080C0u));
  m.SetTexture(1, Texture32(half, 16, 16));
  MeshData& quad = NewMesh();
  MakeGrid(quad, 16, -2.0f, -2.0f, 2.0f, 2.0f);
  quad.Finish(1);
  quad.material = {{0.5f, 0.5f, 0.5f, 1}, {0, 0, 0, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, 1.0f};
  OvShaderResource* draw = OvMakeShaderMaterialDraw(m, R(), 2);
  quad.resource = draw;
  OvLightData light = Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {0, 0, 1}, 1, 1, 1);
  light.specular[0] = light.specular[1] = light.specular[2] = 0.5f;
  // Over grey: an opaque surface hides it, a blended one would not.
  const Picture p = DrawFrame(quad, {light}, nullptr, 0xFF808080u);
  const uint8_t* l = p.At(kSize / 4, kSize / 2);
  const uint8_t* r = p.At(3 * kSize / 4, kSize / 2);
  // Right: the diffuse map times the lit colour (0.5) alone.
  EXPECT_NEAR(r[0], 32, 4);
  EXPECT_NEAR(r[2], 96, 4);
  // Left: the same plus the white highlight.
  EXPECT_GT(l[0] - r[0], 60);
  EXPECT_GT(l[2] - r[2], 60);
  ExpectMatchesReference(p, "gloss_quad", 8, 40);
  OvReleaseMeshBuffers(quad.mesh);
  draw->Release();
}

TEST_F(LitMaterialImage, TransparencyBlendsByTheMapsAlpha) {
  OvChunkArena arena;
  OvTransparencyMaterial m;
  ASSERT_TRUE(m.SetTransparency(arena, -1));
  // A quarter opaque red over the blue background.
  m.SetTexture(0, Flat(0x40FF0000u));
  MeshData& quad = NewMesh();
  MakeGrid(quad, 4, -2.0f, -2.0f, 2.0f, 2.0f);
  quad.Finish(1);
  quad.material = {{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
  OvShaderResource* draw = OvMakeShaderMaterialDraw(m, R(), 2);
  quad.resource = draw;
  const Picture p = DrawFrame(quad, {Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {0, 0, 1}, 0.875f, 0.875f, 0.875f)},
                              nullptr, 0xFF0000FFu);
  const uint8_t* c = p.At(kSize / 2, kSize / 2);
  // Lit red (0.875 + ambient 0.125 = 1) at alpha 0.25 over blue.
  EXPECT_NEAR(c[0], 64, 4);
  EXPECT_NEAR(c[1], 0, 4);
  EXPECT_NEAR(c[2], 191, 4);
  ExpectMatchesReference(p, "transparency_quad", 6, 8);
  OvReleaseMeshBuffers(quad.mesh);
  draw->Release();
}

// The programs are made again after the device comes back: the picture
// stays the cartoon's, not the standard material's.
TEST_F(LitMaterialImage, ProgramsComeBackAfterADeviceReset) {
  OvChunkArena arena;
  OvCartoonMaterial m;
  ASSERT_TRUE(m.SetCartoon(arena, -1, 0xFF800000u, 0xFF008000u, 0.2f, 0.0f));
  MeshData& quad = NewMesh();
  MakeGrid(quad, 4, -2.0f, -2.0f, 2.0f, 2.0f);
  quad.Finish(1);
  OvShaderResource* draw = OvMakeShaderMaterialDraw(m, R(), 2);
  quad.resource = draw;
  const std::vector<OvLightData> away = {Light(OV_LIGHT_POINT, {0, 0, 10}, {0, 0, 1}, 1, 1, 1)};
  const Picture before = DrawFrame(quad, away);
  R().SimulateDeviceLost();
  ASSERT_TRUE(R().SimulateDeviceReset());
  OvReleaseMeshBuffers(quad.mesh);
  const Picture after = DrawFrame(quad, away);
  const uint8_t* b = before.At(kSize / 2, kSize / 2);
  const uint8_t* a = after.At(kSize / 2, kSize / 2);
  EXPECT_NEAR(b[0], 128, 3);  // the dark band
  for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(a[ch], b[ch]) << "channel " << ch;
  OvReleaseMeshBuffers(quad.mesh);
  draw->Release();
}

}  // namespace
}  // namespace image_test
