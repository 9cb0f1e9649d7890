// Pixel checks that the generated pipeline lights, textures, fogs, tests
// alpha, culls and places screen vertices as the device model says.
#include <cstring>

#include "device_fixture.h"
#include "ov_font.h"

namespace device_test {
namespace {

class PixelTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    Open();
    Camera();
    PlainStates();
    Clear(0xFF000000u);
  }

  void Lit(const float diffuse[3], const float ambient[3] = nullptr) {
    OvMaterial m{{diffuse[0], diffuse[1], diffuse[2], 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}, 0};
    if (ambient) std::memcpy(m.ambient, ambient, 12);
    r->SetMaterial(m);
    r->EnableLighting(true);
  }

  // A 2 x 2 texture, row 0 on top.
  bool Texture2x2(OvGLTexture& t, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    const uint32_t px[4] = {a, b, c, d};
    return r->CreateTexture(t, OvTexFormat::A8R8G8B8, 2, 2, 1) && r->UploadTextureLevel(t, 0, px);
  }

  void SelectTexture() {
    r->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
    r->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
    r->SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG1);
    r->SetTextureStageState(0, TSS_ALPHAARG1, TA_TEXTURE);
    r->SetSamplerState(0, SAMP_MINFILTER, TEXF_POINT);
    r->SetSamplerState(0, SAMP_MAGFILTER, TEXF_POINT);
  }
};

TEST_F(PixelTest, DirectionalLightLightsTheMaterialDiffuse) {
  const float diffuse[3] = {1.0f, 0.5f, 0.25f};
  Lit(diffuse);
  OvLightData l;
  l.type = OV_DEVLIGHT_DIRECTIONAL;
  l.direction = {0, 0, 1};
  ASSERT_TRUE(r->SetLight(0, l));
  r->EnableLight(0, true);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_TRUE(Near(Centre(), 255, 128, 64));

  // Turned away: only the (black) ambient term is left.
  l.direction = {0, 0, -1};
  r->SetLight(0, l);
  Clear(0xFF0000FFu);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_TRUE(Near(Centre(), 0, 0, 0));
}

TEST_F(PixelTest, PointLightAttenuatesAndAmbientAdds) {
  const float diffuse[3] = {1.0f, 0.5f, 0.25f};
  const float ambient[3] = {0.5f, 0.5f, 0.5f};
  Lit(diffuse, ambient);
  r->SetAmbient(0xFF808080u);
  OvLightData l;
  l.type = OV_DEVLIGHT_POINT;
  l.position = {0, 0, 0};
  l.range = 100.0f;
  l.attenuation[0] = 0.0f, l.attenuation[1] = 0.4f, l.attenuation[2] = 0.0f;  // 1 / (0.4 * 5) = 0.5
  ASSERT_TRUE(r->SetLight(1, l));
  r->EnableLight(1, true);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_TRUE(Near(Centre(), 128 + 64, 64 + 64, 32 + 64));

  // Out of range: ambient only.
  l.range = 3.0f;
  r->SetLight(1, l);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_TRUE(Near(Centre(), 64, 64, 64));
}

TEST_F(PixelTest, SpotLightConeAndUnknownTypesAsPoint) {
  const float diffuse[3] = {1.0f, 1.0f, 1.0f};
  Lit(diffuse);
  OvLightData l;
  l.type = OV_DEVLIGHT_SPOT;
  l.position = {0, 0, 0};
  l.direction = {0, 0, 1};
  l.theta = 0.6f;
  l.phi = 0.8f;
  ASSERT_TRUE(r->SetLight(0, l));
  r->EnableLight(0, true);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  // The centre is inside the inner cone; near the left edge the quad is
  // 0.7 rad off the axis, outside the outer cone.
  EXPECT_TRUE(Near(Centre(), 255, 255, 255));
  EXPECT_TRUE(Near(Pixel(4, kHeight / 2), 0, 0, 0));

  // Type 9 is lit as a point light: the same edge pixel is lit now.
  l.type = 9;
  r->SetLight(0, l);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_GT(Pixel(4, kHeight / 2).r, 100);
}

TEST_F(PixelTest, SpecularAddsWhenEnabled) {
  OvMaterial m{{0.25f, 0.25f, 0.25f, 1}, {0, 0, 0, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, 4.0f};
  r->SetMaterial(m);
  r->EnableLighting(true);
  OvLightData l;
  l.type = OV_DEVLIGHT_POINT;
  l.position = {0, 0, 0};
  l.specular[0] = l.specular[1] = l.specular[2] = 0.5f;
  ASSERT_TRUE(r->SetLight(0, l));
  r->EnableLight(0, true);
  r->SetRenderState(RS_SPECULARENABLE, 0);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_TRUE(Near(Centre(), 64, 64, 64));
  r->SetRenderState(RS_SPECULARENABLE, 1);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_TRUE(Near(Centre(), 191, 191, 191));
}

// A black specular colour leaves the highlight out of the program; a
// material with one, drawn after it, must have it again.
TEST_F(PixelTest, HighlightFollowsTheMaterialsSpecularColour) {
  OvLightData l;
  l.type = OV_DEVLIGHT_POINT;
  l.position = {0, 0, 0};
  l.specular[0] = l.specular[1] = l.specular[2] = 0.5f;
  ASSERT_TRUE(r->SetLight(0, l));
  r->EnableLight(0, true);
  r->EnableLighting(true);
  r->SetRenderState(RS_SPECULARENABLE, 1);
  const float specular[] = {0, 1, 0, 1};
  for (const float s : specular) {
    SCOPED_TRACE(testing::Message() << "specular " << s);
    r->SetMaterial({{0.25f, 0.25f, 0.25f, 1}, {0, 0, 0, 1}, {s, s, s, 1}, {0, 0, 0, 0}, 4.0f});
    Clear(0xFF000000u);
    ASSERT_TRUE(DrawLitQuad(5.0f));
    const int grey = s > 0 ? 191 : 64;
    EXPECT_TRUE(Near(Centre(), grey, grey, grey));
  }
}

// Repeating a material skips the upload; any change, in any field, must
// still reach the program, across frames.
TEST_F(PixelTest, MaterialChangesReachTheProgramAfterRepeats) {
  OvLightData l;
  l.type = OV_DEVLIGHT_POINT;
  l.position = {0, 0, 0};
  ASSERT_TRUE(r->SetLight(0, l));
  r->EnableLight(0, true);
  r->EnableLighting(true);
  struct Step {
    float diffuse, emissive;
    int grey;
  };
  const Step steps[] = {{0.5f, 0, 128}, {0.5f, 0, 128}, {0.25f, 0, 64}, {0.25f, 0.25f, 128}, {0.25f, 0, 64}};
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "diffuse " << s.diffuse << " emissive " << s.emissive);
    const float d = s.diffuse, e = s.emissive;
    const OvMaterial m{{d, d, d, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {e, e, e, 0}, 0};
    Clear(0xFF000000u);
    r->SetMaterial(m);
    ASSERT_TRUE(DrawLitQuad(5.0f));
    EXPECT_TRUE(Near(Centre(), s.grey, s.grey, s.grey));
  }
}

TEST_F(PixelTest, VertexColourAsDiffuseSource) {
  const float diffuse[3] = {1.0f, 1.0f, 1.0f};
  Lit(diffuse);
  OvLightData l;
  l.type = OV_DEVLIGHT_DIRECTIONAL;
  l.direction = {0, 0, 1};
  r->SetLight(0, l);
  r->EnableLight(0, true);
  struct V {
    float x, y, z, nx, ny, nz;
    uint32_t c;
  };
  const float s = 8;
  const uint32_t c = 0xFF00FF80u;
  const V v[4] = {{-s, -s, 5, 0, 0, -1, c}, {s, -s, 5, 0, 0, -1, c}, {-s, s, 5, 0, 0, -1, c}, {s, s, 5, 0, 0, -1, c}};
  const OvVertexFormat f = OvMakeVertexFormat(VF_XYZ | VF_NORMAL | VF_DIFFUSE, 0);
  // The fixed default list takes the material.
  ASSERT_TRUE(r->DrawUser(f, v, PRIM_TRIANGLESTRIP, 2));
  EXPECT_TRUE(Near(Centre(), 255, 255, 255));
  r->SetRenderState(RS_COLORVERTEX, 1);
  r->SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_COLOR1);
  ASSERT_TRUE(r->DrawUser(f, v, PRIM_TRIANGLESTRIP, 2));
  EXPECT_TRUE(Near(Centre(), 0, 255, 128));
}

TEST_F(PixelTest, ModulateSolidTextureWithDiffuse) {
  r->EnableLighting(false);
  OvGLTexture t;
  const uint32_t c = 0xFF80FF40u;
  ASSERT_TRUE(Texture2x2(t, c, c, c, c));
  r->SetTexture(0, &t);
  r->SetTextureStageState(0, TSS_COLOROP, TOP_MODULATE);
  r->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
  r->SetTextureStageState(0, TSS_COLORARG2, TA_DIFFUSE);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFF8080FFu));
  EXPECT_TRUE(Near(Centre(), 64, 128, 64, 2));

  // Without a texture the stage reads white: the diffuse colour is left.
  r->SetTexture(0, nullptr);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFF8080FFu));
  EXPECT_TRUE(Near(Centre(), 128, 128, 255, 2));
  r->DestroyTexture(t);
}

TEST_F(PixelTest, SecondStageAddsAndTextureFactorSelects) {
  r->EnableLighting(false);
  OvGLTexture t;
  const uint32_t c = 0xFF202020u;
  ASSERT_TRUE(Texture2x2(t, c, c, c, c));
  r->SetTexture(1, &t);
  r->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG2);
  r->SetTextureStageState(0, TSS_COLORARG2, TA_TFACTOR);
  r->SetRenderState(RS_TEXTUREFACTOR, 0xFF406080u);
  r->SetTextureStageState(1, TSS_COLOROP, TOP_ADD);
  r->SetTextureStageState(1, TSS_COLORARG1, TA_TEXTURE);
  r->SetTextureStageState(1, TSS_COLORARG2, TA_CURRENT);
  r->SetTextureStageState(1, TSS_TEXCOORDINDEX, 0);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  EXPECT_TRUE(Near(Centre(), 0x60, 0x80, 0xA0, 2));
  r->DestroyTexture(t);
}

TEST_F(PixelTest, AlphaTestDiscards) {
  r->EnableLighting(false);
  r->SetRenderState(RS_ALPHATESTENABLE, 1);
  r->SetRenderState(RS_ALPHAREF, 128);
  r->SetRenderState(RS_ALPHAFUNC, CMP_GREATER);
  Clear(0xFF0000FFu);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0x40FF0000u));
  EXPECT_TRUE(Near(Centre(), 0, 0, 255));
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xC0FF0000u));
  EXPECT_TRUE(Near(Centre(), 255, 0, 0));
  // Exactly the reference fails GREATER and passes GREATEREQUAL.
  Clear(0xFF0000FFu);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0x8000FF00u));
  EXPECT_TRUE(Near(Centre(), 0, 0, 255));
  r->SetRenderState(RS_ALPHAFUNC, CMP_GREATEREQUAL);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0x8000FF00u));
  EXPECT_TRUE(Near(Centre(), 0, 255, 0));
}

TEST_F(PixelTest, AlphaBlendMode) {
  r->EnableLighting(false);
  Clear(0xFF0000FFu);
  r->SetBlendMode(1);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0x80FF0000u));
  EXPECT_TRUE(Near(Centre(), 128, 0, 127, 2));
}

TEST_F(PixelTest, LinearFogOnEyeDepthAndPerVertex) {
  r->EnableLighting(false);
  r->EnableFog(true);
  r->SetFogColour(0xFF000000u);
  r->SetFogRange(10.0f, 50.0f, r->ProjectionMatrix());
  ASSERT_TRUE(DrawColourQuad(30.0f, 0xFFFFFFFFu, 60.0f));
  EXPECT_TRUE(Near(Centre(), 128, 128, 128, 2));

  OvRenderCaps caps = r->Caps();
  caps.fogW = false;
  r->SetCaps(caps);
  ASSERT_TRUE(r->UsesVertexFog());
  r->SetFogRange(10.0f, 50.0f, r->ProjectionMatrix());
  Clear(0xFF0000FFu);
  ASSERT_TRUE(DrawColourQuad(30.0f, 0xFFFFFFFFu, 60.0f));
  EXPECT_TRUE(Near(Centre(), 128, 128, 128, 2));
}

TEST_F(PixelTest, TableFogOnProjectedDepth) {
  OvRenderCaps caps = r->Caps();
  caps.fogW = false;
  caps.fogVertex = false;
  r->SetCaps(caps);
  r->EnableLighting(false);
  r->EnableFog(true);
  r->SetFogColour(0xFF000000u);
  const OvMatrix& p = r->ProjectionMatrix();
  r->SetFogRange(10.0f, 50.0f, p);
  auto z = [&p](float d) { return (d * p.m[2][2] + p.m[3][2]) / d; };
  const float f = (z(50.0f) - z(30.0f)) / (z(50.0f) - z(10.0f));
  ASSERT_TRUE(DrawColourQuad(30.0f, 0xFFFFFFFFu, 60.0f));
  const int expected = int(f * 255.0f + 0.5f);
  EXPECT_TRUE(Near(Centre(), expected, expected, expected, 3));
}

TEST_F(PixelTest, ReflectionVectorThroughTextureTransform) {
  r->EnableLighting(false);
  OvGLTexture t;
  ASSERT_TRUE(Texture2x2(t, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu));
  r->SetTexture(0, &t);
  SelectTexture();
  r->SetTextureStageState(0, TSS_TEXCOORDINDEX, TCI_CAMERASPACEREFLECTIONVECTOR);
  r->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT3);
  r->SetRenderState(RS_LOCALVIEWER, 0);
  // Facing the eye the reflection is (0, 0, -1): u = 0.25, v = 0.75 picks
  // the lower-left texel.
  OvMatrix m;
  OvMatrixZero(m);
  m.m[2][0] = -0.25f;
  m.m[2][1] = -0.75f;
  r->SetTextureTransform(0, m);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_TRUE(Near(Centre(), 0, 0, 255));
  // Another transform picks another texel.
  m.m[2][0] = -0.75f;
  r->SetTextureTransform(0, m);
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_TRUE(Near(Centre(), 255, 255, 255));
  r->DestroyTexture(t);
}

TEST_F(PixelTest, TwoDCoordinatesTakeTheThirdRowAsTranslation) {
  r->EnableLighting(false);
  OvGLTexture t;
  ASSERT_TRUE(Texture2x2(t, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu));
  r->SetTexture(0, &t);
  SelectTexture();
  r->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT2);
  // Every coordinate scaled to nothing and moved to (0.75, 0.25).
  OvMatrix m;
  OvMatrixZero(m);
  m.m[2][0] = 0.75f;
  m.m[2][1] = 0.25f;
  r->SetTextureTransform(0, m);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  EXPECT_TRUE(Near(Centre(), 0, 255, 0));
  r->DestroyTexture(t);
}

TEST_F(PixelTest, CullingFollowsScreenWinding) {
  r->EnableLighting(false);
  // Top-left, top-right, bottom-left in screen pixels: clockwise on screen.
  const ScreenVertex cw[3] = {
      {4, 4, 0.5f, 1, 0xFFFF0000u}, {30, 4, 0.5f, 1, 0xFFFF0000u}, {4, 30, 0.5f, 1, 0xFFFF0000u}};
  const OvVertexFormat f = OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE, 0);
  r->SetRenderState(RS_CULLMODE, CULL_CW);
  ASSERT_TRUE(r->DrawUser(f, cw, PRIM_TRIANGLELIST, 1));
  EXPECT_TRUE(Near(Pixel(8, 8), 0, 0, 0));
  r->SetRenderState(RS_CULLMODE, CULL_CCW);
  ASSERT_TRUE(r->DrawUser(f, cw, PRIM_TRIANGLELIST, 1));
  // Screen y runs down from the top.
  EXPECT_TRUE(Near(Pixel(8, 8), 255, 0, 0));
  EXPECT_TRUE(Near(Pixel(8, kHeight - 8), 0, 0, 0));
}

TEST_F(PixelTest, DepthTestAndWriteMask) {
  r->EnableLighting(false);
  r->SetRenderState(RS_ZENABLE, 1);
  r->SetRenderState(RS_ZFUNC, CMP_LESSEQUAL);
  ASSERT_TRUE(r->ClearZBuffer());
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFF0000u));
  ASSERT_TRUE(DrawColourQuad(10.0f, 0xFF00FF00u, 16.0f));  // behind
  EXPECT_TRUE(Near(Centre(), 255, 0, 0));
  r->SetRenderState(RS_ZWRITEENABLE, 0);
  ASSERT_TRUE(r->ClearZBuffer());
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFF0000FFu));
  ASSERT_TRUE(DrawColourQuad(10.0f, 0xFF00FF00u, 16.0f));  // nothing written to stop it
  EXPECT_TRUE(Near(Centre(), 0, 255, 0));
}

TEST_F(PixelTest, IndexedDrawFromBuffers) {
  r->EnableLighting(false);
  const float s = 8;
  const ColourVertex v[4] = {{-s, -s, 5, 0xFFFFFF00u, 0, 0},
                             {s, -s, 5, 0xFFFFFF00u, 0, 0},
                             {-s, s, 5, 0xFFFFFF00u, 0, 0},
                             {s, s, 5, 0xFFFFFF00u, 0, 0}};
  const uint16_t idx[6] = {0, 1, 2, 1, 3, 2};
  OvGLBuffer vb, ib;
  ASSERT_TRUE(r->CreateVertexBuffer(vb, sizeof(v), false, v));
  ASSERT_TRUE(r->CreateIndexBuffer(ib, sizeof(idx), 2, false, idx));
  const OvVertexFormat f = OvMakeVertexFormat(VF_XYZ | VF_DIFFUSE, 1);
  ASSERT_EQ(f.stride, int(sizeof(ColourVertex)));
  ASSERT_TRUE(r->Draw(f, vb, &ib, PRIM_TRIANGLELIST, 0, 2));
  EXPECT_TRUE(Near(Centre(), 255, 255, 0));
  // Rewrite the colours in place.
  ColourVertex w[4];
  std::memcpy(w, v, sizeof(w));
  for (ColourVertex& x : w) x.diffuse = 0xFF00FFFFu;
  ASSERT_TRUE(r->UpdateBuffer(vb, 0, sizeof(w), w));
  EXPECT_FALSE(r->UpdateBuffer(vb, 8, sizeof(w), w));  // past the end
  ASSERT_TRUE(r->Draw(f, vb, &ib, PRIM_TRIANGLELIST, 0, 2));
  EXPECT_TRUE(Near(Centre(), 0, 255, 255));
  r->DestroyBuffer(vb);
  r->DestroyBuffer(ib);
  EXPECT_EQ(vb.name, 0u);
  EXPECT_FALSE(r->Draw(f, vb, &ib, PRIM_TRIANGLELIST, 0, 2));
}

TEST_F(PixelTest, DebugLineInTheLineColour) {
  r->EnableLighting(false);
  r->SetLineColour(0xFF00FF00u);
  r->DrawLine({-8, 0.1f, 5}, {8, 0.1f, 5});
  int green = 0;
  for (int y = 0; y < kHeight; ++y) {
    const Rgba p = Pixel(kWidth / 2, y);
    if (p.g > 200 && p.r < 50) ++green;
  }
  EXPECT_GE(green, 1);
  EXPECT_LE(green, 2);
}

TEST_F(PixelTest, DebugSphereIsWireframeAndRestoresStates) {
  r->EnableLighting(false);
  r->SetRenderState(RS_FILLMODE, FILL_SOLID);
  OvMatrix world;
  OvMatrixIdentity(world);
  r->SetWorldMatrix(&world);
  r->DrawSphere({0, 0, 10}, 4.0f, 12, 8);
  EXPECT_EQ(r->GetRenderState(RS_FILLMODE), uint32_t(FILL_SOLID));
  EXPECT_EQ(r->WorldMatrixPointer(), &world);
  EXPECT_EQ(r->WorldMatrix().m[3][2], 0.0f);
  // Wireframe: lines drawn, but not every pixel inside the outline.
  int lit = 0, inside = 0;
  for (int y = kHeight / 2 - 8; y < kHeight / 2 + 8; ++y)
    for (int x = kWidth / 2 - 8; x < kWidth / 2 + 8; ++x, ++inside)
      if (Pixel(x, y).r > 128) ++lit;
  EXPECT_GT(lit, 0);
  EXPECT_LT(lit, inside);
}

TEST_F(PixelTest, ScreenRectDrawsAFontGlyphFromTheBottom) {
  ASSERT_NE(r->FontTexture(), nullptr);
  EXPECT_EQ(r->FontTexture()->width, 128);
  EXPECT_EQ(r->FontTexture()->height, 128);
  EXPECT_EQ(r->FontTexture()->format, OvTexFormat::A4R4G4B4);
  r->BindFontTexture(0);
  SelectTexture();
  r->SetRenderState(RS_ALPHATESTENABLE, 1);
  r->SetRenderState(RS_ALPHAREF, 128);
  r->SetRenderState(RS_ALPHAFUNC, CMP_GREATER);
  // 'H' (column 8, row 2 of the grid) at 8 pixels from the left and bottom.
  r->DrawScreenRect(8, 8, 8 * 8, 2 * 16, 8, 16);
  int white = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const Rgba p = Pixel(x, y);
      if (p.r > 200) {
        ++white;
        EXPECT_GE(x, 8);
        EXPECT_LT(x, 16);
        EXPECT_GE(y, kHeight - 8 - 16);
        EXPECT_LT(y, kHeight - 8);
      }
    }
  EXPECT_GT(white, 12);
  EXPECT_LT(white, 8 * 16);
}

TEST(FontData, GlyphCellsHoldTheirCharacters) {
  auto coverage = [](int x, int y) {
    const int i = y * OV_FONT_SIZE + x;
    return (g_ovFontCoverage[i / 2] >> ((i & 1) ? 0 : 4)) & 0xF;
  };
  auto cellSum = [&](int ch) {
    const int k = ch - OV_FONT_FIRST_CHAR;
    const int cx = (k % OV_FONT_COLUMNS) * 8, cy = (k / OV_FONT_COLUMNS) * 16;
    int sum = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 8; ++x) sum += coverage(cx + x, cy + y);
    return sum;
  };
  EXPECT_EQ(cellSum(' '), 0);
  EXPECT_GT(cellSum('A'), 100);
  EXPECT_GT(cellSum('#'), cellSum('.'));
  EXPECT_GT(cellSum('.'), 0);
  // The underscore sits low in its cell, the apostrophe high.
  auto rowOfMass = [&](int ch) {
    const int k = ch - OV_FONT_FIRST_CHAR;
    const int cx = (k % OV_FONT_COLUMNS) * 8, cy = (k / OV_FONT_COLUMNS) * 16;
    int sum = 0, weighted = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 8; ++x) sum += coverage(cx + x, cy + y), weighted += y * coverage(cx + x, cy + y);
    return sum ? weighted / sum : -1;
  };
  EXPECT_GT(rowOfMass('_'), 10);
  EXPECT_LT(rowOfMass('\''), 8);
}

// Each format's upload layout reaches the right channels.
TEST_F(PixelTest, TextureFormatsUploadTheirChannels) {
  r->EnableLighting(false);
  SelectTexture();
  // Alpha must survive for the drawn texel to pass.
  r->SetRenderState(RS_ALPHATESTENABLE, 1);
  r->SetRenderState(RS_ALPHAREF, 128);
  r->SetRenderState(RS_ALPHAFUNC, CMP_GREATER);
  struct Case {
    OvTexFormat format;
    uint8_t bytes[4];
    int r, g, b;
  };
  const Case cases[] = {
      {OvTexFormat::X8R8G8B8, {0x00, 0x00, 0xFF, 0x00}, 255, 0, 0},  // no alpha: opaque
      {OvTexFormat::A8R8G8B8, {0xFF, 0x00, 0x00, 0xFF}, 0, 0, 255},
      {OvTexFormat::R8G8B8, {0x00, 0xFF, 0x00, 0}, 0, 255, 0},
      {OvTexFormat::R5G6B5, {0x00, 0xF8, 0, 0}, 255, 0, 0},
      {OvTexFormat::X1R5G5B5, {0x1F, 0x00, 0, 0}, 0, 0, 255},
      {OvTexFormat::A1R5G5B5, {0xE0, 0x83, 0, 0}, 0, 255, 0},
      {OvTexFormat::A4R4G4B4, {0xF0, 0xF0, 0, 0}, 0, 255, 0},
      {OvTexFormat::X4R4G4B4, {0x00, 0x0F, 0, 0}, 255, 0, 0},
      {OvTexFormat::R3G3B2, {0x03, 0, 0, 0}, 0, 0, 255},
      {OvTexFormat::A8R3G3B2, {0xE0, 0xFF, 0, 0}, 255, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(OvTexFormatName(c.format));
    OvGLTexture t;
    ASSERT_TRUE(r->CreateTexture(t, c.format, 1, 1, 1));
    ASSERT_TRUE(r->UploadTextureLevel(t, 0, c.bytes));
    r->SetTexture(0, &t);
    Clear(0xFF808080u);
    ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
    EXPECT_TRUE(Near(Centre(), c.r, c.g, c.b));
    r->DestroyTexture(t);
  }
  // A8 reads as black with its alpha.
  OvGLTexture a8;
  const uint8_t alpha = 0xFF;
  ASSERT_TRUE(r->CreateTexture(a8, OvTexFormat::A8, 1, 1, 1));
  ASSERT_TRUE(r->UploadTextureLevel(a8, 0, &alpha));
  r->SetTexture(0, &a8);
  Clear(0xFF808080u);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  EXPECT_TRUE(Near(Centre(), 0, 0, 0));
  r->DestroyTexture(a8);
}

TEST_F(PixelTest, NarrowedFormatsAndMipChains) {
  OvRenderCaps caps = r->Caps();
  caps.textureFormat[int(OvTexFormat::R5G6B5)] = false;
  r->SetCaps(caps);
  OvGLTexture t;
  EXPECT_FALSE(r->CreateTexture(t, OvTexFormat::R5G6B5, 4, 4, 1));
  ASSERT_TRUE(r->CreateTexture(t, OvTexFormat::A8R8G8B8, 16, 4, 0));
  EXPECT_EQ(t.levels, 5);
  EXPECT_TRUE(r->UploadTextureLevel(t, 4, std::vector<uint32_t>(1, 0).data()));
  EXPECT_FALSE(r->UploadTextureLevel(t, 5, std::vector<uint32_t>(1, 0).data()));
  r->DestroyTexture(t);
  ASSERT_TRUE(r->CreateTexture(t, OvTexFormat::A8R8G8B8, 1, 1, 0));
  EXPECT_EQ(t.levels, 1);
  r->DestroyTexture(t);
}

}  // namespace
}  // namespace device_test
