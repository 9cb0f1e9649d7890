// Rendered pictures compared with the references in reference/: lights,
// textures, multi-stage against multi-pass materials, alpha test and
// blending, two-sided meshes, vertex colours, fog and format fall-backs.
#include "image_harness.h"

namespace image_test {
namespace {

std::vector<uint32_t> Checker(int size, int cell, uint32_t a, uint32_t b) {
  std::vector<uint32_t> px(size_t(size) * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) px[size_t(y) * size + x] = ((x / cell + y / cell) & 1) ? b : a;
  return px;
}

// Owns clumps and lights for a render-list frame.
struct SceneObjects {
  std::vector<OvClump*> clumps;
  std::vector<OvLight*> lights;
  std::deque<OvRenderItem> items;
  std::deque<OvLightItem> lightItems;
  OvRenderItem* firstItem = nullptr;
  OvLightItem* firstLight = nullptr;

  ~SceneObjects() {
    for (OvClump* c : clumps) c->Release();
    for (OvLight* l : lights) delete l;
  }
  void AddMesh(OvMesh& mesh) {
    OvClump* c = OvClump::Create();
    c->SetMesh(&mesh);
    OvMatrix world;
    OvMatrixIdentity(world);
    c->SetToWorldMatrix(world);
    clumps.push_back(c);
    OvRenderItem& it = items.emplace_back(OvRenderItem{c, nullptr});
    if (items.size() > 1) items[items.size() - 2].next = &it;
    firstItem = &items.front();
  }
  // The light record is in the clump's frame; the clump moves it by `offset`.
  void AddLight(const OvLightData& data, OvVector offset) {
    OvClump* c = OvClump::Create();
    OvMatrix world;
    OvMatrixIdentity(world);
    OvMatrixSetPos(world, offset);
    c->SetToWorldMatrix(world);
    clumps.push_back(c);
    OvLight* l = new OvLight(data);
    lights.push_back(l);
    OvLightItem& it = lightItems.emplace_back(OvLightItem{c, l, nullptr});
    if (lightItems.size() > 1) lightItems[lightItems.size() - 2].next = &it;
    firstLight = &lightItems.front();
  }
};

using ImageScene = ImageTest;

TEST_F(ImageScene, UntexturedMeshLitByPointSpotAndDirectionalLights) {
  MeshData& wall = NewMesh();
  MakeGrid(wall, 24, -3.0f, -3.0f, 3.0f, 3.0f, 1.5f);
  wall.Finish(0);
  MeshData& ball = NewMesh();
  MakeSphere(ball, 16, 24, {0.0f, 0.0f, 0.0f}, 1.0f);
  ball.Finish(0);
  OvPassPlan* plain = Plan({}, {}, 2);
  ASSERT_NE(plain, nullptr);
  wall.resource = ball.resource = plain;
  wall.material = ball.material = {{1, 1, 1, 1}, {0.3f, 0.3f, 0.3f, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};

  SceneObjects scene;
  scene.AddMesh(wall.mesh);
  scene.AddMesh(ball.mesh);
  // Red point light at the upper left, green spot from the camera onto the
  // lower right, blue directional light from the right.
  OvLightData point = Light(OV_LIGHT_POINT, {0, 0, 0}, {0, 0, 1}, 1.0f, 0.2f, 0.2f);
  point.attenuation[1] = 0.4f;
  scene.AddLight(point, {-1.6f, 1.4f, -2.0f});
  OvLightData spot = Light(OV_LIGHT_SPOT, {0, 0, 0}, {0.35f, -0.35f, 1.0f}, 0.2f, 1.0f, 0.2f);
  scene.AddLight(spot, {0.0f, 0.0f, -3.0f});
  scene.AddLight(Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {-1.0f, 0.0f, 0.4f}, 0.2f, 0.2f, 1.0f), {0, 0, 0});

  BeginFrame(0xFF000000u);
  OvDrawRenderList(R(), scene.firstItem, scene.firstLight);
  const Picture p = EndFrame();
  ExpectMatchesReference(p, "lit_point_spot_directional");
  // The first light is the active light.
  ASSERT_NE(R().GetActiveLight(), nullptr);
  EXPECT_EQ(R().GetActiveLight()->type, OV_LIGHT_POINT);
  EXPECT_TRUE(R().LightEnabled(2));
  EXPECT_FALSE(R().LightEnabled(3));
}

TEST_F(ImageScene, TexturedMesh) {
  OvGLTexture* checker = Texture32(Checker(16, 4, 0xFFE04020u, 0xFFF0F0F0u), 16, 16);
  ASSERT_NE(checker, nullptr);
  EXPECT_EQ(checker->levels, 5);
  MeshData& ball = NewMesh();
  MakeSphere(ball, 16, 24, {-0.9f, 0.0f, 0.0f}, 1.0f);
  ball.Finish(1);
  MeshData& quad = NewMesh();
  MakeGrid(quad, 4, 0.3f, -1.0f, 2.3f, 1.0f, 0.0f);
  quad.Finish(1);
  OvPassPlan* plan = Plan({Layer(OV_LAYER_MODULATE)}, {checker}, 2);
  ball.resource = quad.resource = plan;

  BeginFrame();
  R().SetLight(0, Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {0.3f, -0.4f, 1.0f}, 1.0f, 1.0f, 1.0f));
  R().EnableLight(0, true);
  Draw(ball);
  Draw(quad);
  ExpectMatchesReference(EndFrame(), "textured");
}

TEST_F(ImageScene, ModulateAddInOnePassEqualsTwoPasses) {
  // Sums stay below 1: a saturated sum is clamped before fog in one pass
  // and after it in two.
  OvGLTexture* checker = Texture32(Checker(16, 4, 0xFF406080u, 0xFF909090u), 16, 16);
  std::vector<uint32_t> glow(16 * 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) glow[size_t(y) * 16 + x] = 0xFF000000u | uint32_t(x * 6) << 16 | uint32_t(y * 5) << 8;
  OvGLTexture* gradient = Texture32(glow, 16, 16);
  ASSERT_TRUE(checker && gradient);

  MeshData& quad = NewMesh();
  MakeGrid(quad, 4, -2.0f, -2.0f, 2.0f, 2.0f);
  // Second set: the same grid mirrored, so the stages read different sets.
  quad.coords.resize(2);
  for (size_t i = 0; i < quad.coords[0].size(); i += 2)
    quad.coords[1].insert(quad.coords[1].end(), {1.0f - quad.coords[0][i], quad.coords[0][i + 1]});
  quad.Finish(2);
  const std::vector<OvStdLayer> layers = {Layer(OV_LAYER_MODULATE, 0, 0), Layer(OV_LAYER_ADD, 1, 1)};
  OvPassPlan* twoStages = Plan(layers, {checker, gradient}, 2);
  OvPassPlan* oneStage = Plan(layers, {checker, gradient}, 1);
  ASSERT_EQ(twoStages->PassCount(), 1);
  ASSERT_EQ(oneStage->PassCount(), 2);

  auto render = [&](OvPassPlan* plan, bool fog) {
    quad.resource = plan;
    BeginFrame();
    if (fog) {
      R().EnableFog(true);
      R().SetFogColour(0xFF4060A0u);
      R().SetFogRange(2.0f, 6.0f, R().ProjectionMatrix());
    }
    R().SetLight(0, Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {0.5f, 0.0f, 1.0f}, 0.9f, 0.9f, 0.9f));
    R().EnableLight(0, true);
    Draw(quad);
    return EndFrame();
  };
  const Picture a = render(twoStages, false);
  const Picture b = render(oneStage, false);
  ExpectMatchesReference(a, "modulate_add");
  ExpectMatchesReference(b, "modulate_add");
  EXPECT_LE(MaxDifference(a, b), 3);
  // The additive pass draws with black fog, so fog also agrees.
  const Picture fa = render(twoStages, true);
  const Picture fb = render(oneStage, true);
  EXPECT_LE(MaxDifference(fa, fb), 3);
  EXPECT_GT(MaxDifference(a, fa), 20);
  // The fog colour is back after the additive pass.
  EXPECT_EQ(R().FogColour(), 0xFF4060A0u);
}

// A quad drawn right after one whose material uses more stages looks as it
// does on its own: the stages it does not use are off, not left over.
TEST_F(ImageScene, AMaterialWithFewerStagesAfterOneWithMore) {
  OvGLTexture* grey = Texture32(std::vector<uint32_t>(16, 0xFF606060u), 4, 4);
  OvGLTexture* bright = Texture32(std::vector<uint32_t>(16, 0xFFC0A080u), 4, 4);
  OvGLTexture* blue = Texture32(std::vector<uint32_t>(16, 0xFF2040C0u), 4, 4);
  ASSERT_TRUE(grey && bright && blue);
  MeshData& left = NewMesh();
  MakeGrid(left, 2, -2.0f, -1.0f, -0.2f, 1.0f);
  left.Finish(1);
  left.resource =
      Plan({Layer(OV_LAYER_MODULATE, 0), Layer(OV_LAYER_ADD, 1), Layer(OV_LAYER_ADD, 2)}, {grey, bright, bright}, 4);
  ASSERT_EQ(static_cast<OvPassPlan*>(left.resource)->PassCount(), 1);
  MeshData& right = NewMesh();
  MakeGrid(right, 2, 0.2f, -1.0f, 2.0f, 1.0f);
  right.Finish(1);
  const struct {
    const char* name;
    OvPassPlan* plan;
  } fewer[] = {{"no layer", Plan({}, {}, 4)},
               {"one texture", Plan({Layer(OV_LAYER_TEXTURE)}, {blue}, 4)},
               {"modulate", Plan({Layer(OV_LAYER_MODULATE)}, {blue}, 4)}};
  for (const auto& f : fewer) {
    right.resource = f.plan;
    BeginFrame(0xFF000000u, false);
    Draw(right);
    const Picture alone = EndFrame();
    BeginFrame(0xFF000000u, false);
    Draw(left);
    Draw(right);
    const Picture after = EndFrame();
    const uint8_t* a = alone.At(kSize * 3 / 4, kSize / 2);
    const uint8_t* b = after.At(kSize * 3 / 4, kSize / 2);
    EXPECT_GT(std::max({a[0], a[1], a[2]}), 40) << f.name << ": nothing drawn";
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(b[c], a[c], 3) << f.name << " channel " << c;
    EXPECT_GT(after.At(kSize / 4, kSize / 2)[0], 200) << f.name << ": the quad with more stages";
  }
}

TEST_F(ImageScene, AlphaTestAndAlphaBlending) {
  // Left: holes where alpha is 0 (alpha test); right: half see-through.
  OvGLTexture* holes = Texture32(Checker(16, 4, 0xFFFFE040u, 0x00FFE040u), 16, 16);
  OvGLTexture* glass = Texture32(std::vector<uint32_t>(64, 0x80FFFFFFu), 8, 8);
  std::vector<uint32_t> stripes(16 * 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) stripes[size_t(y) * 16 + x] = (x / 2) & 1 ? 0xFF2040C0u : 0xFF20A040u;
  OvGLTexture* back = Texture32(stripes, 16, 16);
  ASSERT_TRUE(holes && glass && back);

  MeshData& wall = NewMesh();
  MakeGrid(wall, 2, -3.0f, -2.0f, 3.0f, 2.0f, 1.0f);
  wall.Finish(1);
  wall.resource = Plan({Layer(OV_LAYER_TEXTURE)}, {back}, 2);
  MeshData& left = NewMesh();
  MakeGrid(left, 2, -2.0f, -1.0f, -0.2f, 1.0f);
  left.Finish(1);
  left.resource = Plan({Layer(OV_LAYER_TEXTURE)}, {holes}, 2, 1, OV_STD_OPTION_ALPHA_TEST);
  MeshData& right = NewMesh();
  MakeGrid(right, 2, 0.2f, -1.0f, 2.0f, 1.0f);
  right.Finish(1);
  right.resource = Plan({Layer(OV_LAYER_MODULATE)}, {glass}, 2, 2);
  right.material.diffuse[0] = 1.0f, right.material.diffuse[1] = 0.2f, right.material.diffuse[2] = 0.2f;

  BeginFrame(0xFF000000u, false);
  Draw(wall);
  Draw(left);
  Draw(right);
  ExpectMatchesReference(EndFrame(), "alpha_test_blend");
}

// A fading mesh draws its opaque first pass alpha-blended: a half-faded
// white quad over black is half white.
TEST_F(ImageScene, FadingMeshBlendsItsOpaquePass) {
  OvPassPlan* plain = Plan({}, {}, 2);
  ASSERT_NE(plain, nullptr);
  for (const bool fading : {false, true}) {
    MeshData& quad = NewMesh();
    MakeGrid(quad, 1, -2.0f, -2.0f, 2.0f, 2.0f);
    quad.Finish(0);
    quad.resource = plain;
    quad.material = {{0, 0, 0, 0.5f}, {0, 0, 0, 1}, {0, 0, 0, 0}, {1, 1, 1, 1}, 0};
    quad.mesh.fadeBlend = fading;
    BeginFrame(0xFF000000u);
    Draw(quad);
    const Picture p = EndFrame();
    const uint8_t* centre = p.At(p.width / 2, p.height / 2);
    EXPECT_NEAR(centre[0], fading ? 128 : 255, 8) << "fading " << fading;
  }
}

TEST_F(ImageScene, TwoSidedMeshIsDrawnFromBehind) {
  OvGLTexture* checker = Texture32(Checker(8, 2, 0xFF40C0F0u, 0xFFF0F0F0u), 8, 8);
  // Both quads turn their back to the camera (reversed winding).
  auto backFacing = [&](float x0, float x1, uint32_t flags) -> MeshData& {
    MeshData& d = NewMesh();
    MakeGrid(d, 2, x0, -1.0f, x1, 1.0f);
    for (size_t i = 0; i < d.indices.size(); i += 3) std::swap(d.indices[i + 1], d.indices[i + 2]);
    d.Finish(1);
    d.mesh.flags = flags;
    d.resource = Plan({Layer(OV_LAYER_TEXTURE)}, {checker}, 2);
    return d;
  };
  MeshData& twoSided = backFacing(-2.0f, -0.2f, OV_MESH_TWO_SIDED);
  MeshData& oneSided = backFacing(0.2f, 2.0f, 0);

  BeginFrame(0xFF000000u, false);
  Draw(twoSided);
  EXPECT_EQ(R().CachedRenderState(RS_CULLMODE), uint32_t(CULL_NONE));
  Draw(oneSided);
  EXPECT_EQ(R().CachedRenderState(RS_CULLMODE), R().DefaultCullMode());
  const Picture p = EndFrame();
  ExpectMatchesReference(p, "two_sided");
  // Left drawn, right culled.
  EXPECT_GT(int(p.At(kSize / 4, kSize / 2)[2]), 100);
  EXPECT_LT(int(p.At(3 * kSize / 4, kSize / 2)[2]), 20);
}

TEST_F(ImageScene, VertexColours) {
  MeshData& quad = NewMesh();
  MakeGrid(quad, 4, -2.0f, -2.0f, 2.0f, 2.0f);
  for (size_t v = 0; v < quad.positions.size() / 3; ++v) {
    const uint32_t i = uint32_t(v % 5), j = uint32_t(v / 5);
    quad.colors.push_back(0xFF000000u | (i * 63) << 16 | (j * 63) << 8 | (255 - i * 63));
  }
  quad.Finish(0);
  quad.resource = Plan({}, {}, 2);

  BeginFrame();
  R().SetLight(0, Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {0.0f, 0.0f, 1.0f}, 1.0f, 1.0f, 1.0f));
  R().EnableLight(0, true);
  Draw(quad);
  EXPECT_EQ(R().CachedRenderState(RS_COLORVERTEX), 1u);
  EXPECT_EQ(R().CachedRenderState(RS_DIFFUSEMATERIALSOURCE), uint32_t(MCS_COLOR1));
  const Picture p = EndFrame();
  ExpectMatchesReference(p, "vertex_colours");

  // The screenshot holds the same picture, top row first.
  const std::string path = std::string(OV_RENDER_ACTUAL_DIR) + "/screenshot.png";
  std::filesystem::create_directories(OV_RENDER_ACTUAL_DIR);
  ASSERT_TRUE(OvSaveScreenshotPNG(R(), path.c_str()));
  int w = 0, h = 0, n = 0;
  uint8_t* shot = stbi_load(path.c_str(), &w, &h, &n, 4);
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(w, p.width);
  EXPECT_EQ(h, p.height);
  EXPECT_TRUE(std::equal(p.rgba.begin(), p.rgba.end(), shot));
  stbi_image_free(shot);
  std::filesystem::remove(path);
  EXPECT_FALSE(OvSaveScreenshotPNG(R(), "/nonexistent-folder/shot.png"));
}

TEST_F(ImageScene, LinearFog) {
  // Four quads at growing depth, all white and lit head-on.
  MeshData& rows = NewMesh();
  for (int k = 0; k < 4; ++k) {
    const float z = float(k) * 4.0f;
    const float scale = (z + 4.0f) / 4.0f;
    MakeGrid(rows, 2, (-2.0f + float(k)) * scale, -0.5f * scale, (-1.1f + float(k)) * scale, 0.5f * scale, z);
  }
  rows.Finish(0);
  rows.resource = Plan({}, {}, 2);

  BeginFrame(0xFF000000u);
  R().EnableFog(true);
  R().SetFogColour(0xFF80A0C0u);
  R().SetFogRange(3.0f, 18.0f, R().ProjectionMatrix());
  R().SetLight(0, Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {0.0f, 0.0f, 1.0f}, 1.0f, 1.0f, 1.0f));
  R().EnableLight(0, true);
  Draw(rows);
  const Picture p = EndFrame();
  ExpectMatchesReference(p, "linear_fog");
  // Nearer quads are whiter, farther ones closer to the fog colour.
  const int y = kSize / 2;
  const uint8_t* nearest = p.At(kSize / 2 - 27, y);
  const uint8_t* farthest = p.At(kSize / 2 + 30, y);
  EXPECT_GT(int(nearest[0]), int(farthest[0]));
}

TEST_F(ImageScene, PalettedAnd4444TexturesAfterFallBack) {
  OvRenderCaps caps = R().Caps();
  caps.textureFormat[int(OvTexFormat::A8R8G8B8)] = false;
  R().SetCaps(caps);

  uint32_t palette[256] = {};
  palette[0] = 0xFFFF0000u, palette[1] = 0xFF00FF00u, palette[2] = 0xFF0000FFu, palette[3] = 0xFFFFFF00u;
  std::vector<uint8_t> indices(16 * 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) indices[size_t(y) * 16 + x] = uint8_t((x / 4 + y / 8 * 2) & 3);
  OvImageDesc paletted;
  paletted.palette = palette;
  paletted.indices = indices.data();
  paletted.width = paletted.height = 16;
  OvGLTexture* p565 = Texture(paletted);
  ASSERT_NE(p565, nullptr);
  EXPECT_EQ(p565->format, OvTexFormat::R5G6B5);

  std::vector<uint32_t> ramp(16 * 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ramp[size_t(y) * 16 + x] = 0xFF000000u | uint32_t(x * 17) << 16 | uint32_t(y * 17);
  OvGLTexture* t4444 = Texture32(ramp, 16, 16);
  ASSERT_NE(t4444, nullptr);
  EXPECT_EQ(t4444->format, OvTexFormat::A4R4G4B4);

  MeshData& left = NewMesh();
  MakeGrid(left, 2, -2.0f, -1.0f, -0.1f, 1.0f);
  left.Finish(1);
  left.resource = Plan({Layer(OV_LAYER_TEXTURE)}, {p565}, 2);
  MeshData& right = NewMesh();
  MakeGrid(right, 2, 0.1f, -1.0f, 2.0f, 1.0f);
  right.Finish(1);
  right.resource = Plan({Layer(OV_LAYER_TEXTURE)}, {t4444}, 2);
  BeginFrame(0xFF000000u, false);
  // Nearest sampling shows the texels as they are.
  for (int s = 0; s < 2; ++s) {
    R().SetSamplerState(s, SAMP_MAGFILTER, TEXF_POINT);
    R().SetSamplerState(s, SAMP_MINFILTER, TEXF_POINT);
  }
  Draw(left);
  Draw(right);
  ExpectMatchesReference(EndFrame(), "paletted_4444");
}

}  // namespace
}  // namespace image_test
