// The film on a headless GL device: memory round trips in B, G, R, A byte
// order and top-first rows, the depth choice, a lost and reset device, the
// drawing bracket and the failure messages.
#include <epoxy/gl.h>

#include <vector>

#include "device_fixture.h"
#include "ov_film_tex.h"

namespace {

using device_test::DeviceTest;

std::vector<uint8_t> Pattern(int w, int h) {
  std::vector<uint8_t> p(size_t(w) * size_t(h) * 4);
  for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 7 + 3);
  return p;
}

class FilmTest : public DeviceTest {};

TEST_F(FilmTest, UploadDownloadRoundTrip) {
  Open();
  const struct { int w, h; } sizes[] = {{1, 1}, {8, 4}, {3, 5}, {512, 512}};
  for (const auto& s : sizes) {
    OuFilmTexGLAdapter film(r);
    ASSERT_NE(film.CreateFilm(s.w, s.h), nullptr);
    const std::vector<uint8_t> in = Pattern(s.w, s.h);
    ASSERT_TRUE(film.Upload(in.data()));
    std::vector<uint8_t> out(in.size(), 0xEE);
    ASSERT_TRUE(film.Download(out.data()));
    EXPECT_EQ(out, in) << s.w << "x" << s.h;
  }
}

TEST_F(FilmTest, ColourWordsAreStoredBlueFirstAndRowsTopFirst) {
  Open();
  OuFilmTexGLAdapter film(r);
  ASSERT_NE(film.CreateFilm(4, 2), nullptr);
  ASSERT_TRUE(film.Clear(0x80402010u));
  std::vector<uint8_t> out(4 * 2 * 4);
  ASSERT_TRUE(film.Download(out.data()));
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), (std::vector<uint8_t>{0x10, 0x20, 0x40, 0x80}));

  // Top row red, bottom row blue, shown on the whole window.
  std::vector<uint8_t> in(out.size());
  for (int i = 0; i < 8; ++i) {
    const bool top = i < 4;
    const uint8_t px[4] = {uint8_t(top ? 0 : 255), 0, uint8_t(top ? 255 : 0), 255};
    std::copy(px, px + 4, in.begin() + i * 4);
  }
  ASSERT_TRUE(film.Upload(in.data()));
  PlainStates();
  r->SetRenderState(RS_LIGHTING, 0);
  r->SetTexture(0, film.FilmTexture());
  r->SetSamplerState(0, SAMP_MINFILTER, TEXF_POINT);
  r->SetSamplerState(0, SAMP_MAGFILTER, TEXF_POINT);
  const float w = float(kWidth), h = float(kHeight);
  struct V {
    float x, y, z, rhw;
    uint32_t c;
    float u, v;
  } quad[4] = {{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0},
               {w, 0, 0, 1, 0xFFFFFFFFu, 1, 0},
               {0, h, 0, 1, 0xFFFFFFFFu, 0, 1},
               {w, h, 0, 1, 0xFFFFFFFFu, 1, 1}};
  ASSERT_TRUE(r->DrawUser(OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE, 1), quad, PRIM_TRIANGLESTRIP, 2));
  EXPECT_TRUE(device_test::Near(Pixel(kWidth / 2, 4), 255, 0, 0));
  EXPECT_TRUE(device_test::Near(Pixel(kWidth / 2, kHeight - 4), 0, 0, 255));
  r->SetTexture(0, nullptr);
}

TEST_F(FilmTest, DeviceLossThenResetReadsZeros) {
  Open();
  OuFilmTexGLAdapter film(r);
  OvGLTexture* tex = film.CreateFilm(16, 8);
  ASSERT_NE(tex, nullptr);
  const std::vector<uint8_t> in = Pattern(16, 8);
  ASSERT_TRUE(film.Upload(in.data()));
  std::vector<uint8_t> out(in.size(), 0xEE);

  r->SimulateDeviceLost();
  EXPECT_EQ(tex->name, 0u);
  EXPECT_FALSE(film.Upload(in.data()));
  EXPECT_FALSE(film.Download(out.data()));
  EXPECT_FALSE(film.BeginFilmDrawing());

  ASSERT_TRUE(r->SimulateDeviceReset());
  EXPECT_EQ(film.FilmTexture(), tex);  // materials keep pointing at it
  EXPECT_NE(tex->name, 0u);
  ASSERT_TRUE(film.Download(out.data()));
  EXPECT_EQ(out, std::vector<uint8_t>(in.size(), 0));
}

TEST_F(FilmTest, FirstAcceptedDepthSize) {
  Open();
  const struct {
    std::vector<int> refused;
    int bits;
  } cases[] = {{{}, 16}, {{16}, 32}, {{16, 32}, 24}, {{16, 32, 24}, 0}};
  for (const auto& c : cases) {
    TraceCapture trace;
    OuFilmTexGLAdapter film(r);
    for (int b : c.refused) film.RefuseDepthBits(b);
    ASSERT_NE(film.CreateFilm(8, 8), nullptr);
    EXPECT_EQ(film.DepthBits(), c.bits);
    EXPECT_EQ(trace.Contains("CreateDepthStencilSurface failed in OuFilmTexGLAdapter::CreateFilm(). -- GL_"),
              c.bits == 0);
    // Without depth the film still takes drawing.
    EXPECT_TRUE(film.BeginFilmDrawing());
    film.EndFilmDrawing();
  }
}

TEST_F(FilmTest, UnusableSizesFailWithTheReason) {
  Open();
  const struct {
    int w, h;
    const char* trace;
  } cases[] = {{0, 4, ""},
               {4, -1, ""},
               {r->Caps().maxTextureSize + 1, 4,
                "CreateTexture failed in OuFilmTexGLAdapter::CreateFilm(). -- GL_INVALID_VALUE\n"}};
  for (const auto& c : cases) {
    TraceCapture trace;
    OuFilmTexGLAdapter film(r);
    EXPECT_EQ(film.CreateFilm(c.w, c.h), nullptr) << c.w;
    EXPECT_EQ(trace.Text(), c.trace);
    uint8_t px[4] = {};
    EXPECT_FALSE(film.Upload(px));
    EXPECT_FALSE(film.Download(px));
  }
}

TEST_F(FilmTest, DrawingBracketGivesBackTargetMatricesAndScene) {
  Open();
  Camera();
  OuFilmTexGLAdapter film(r);
  ASSERT_NE(film.CreateFilm(32, 32), nullptr);
  const OvMatrix view = r->ViewMatrix();
  for (bool inScene : {true, false}) {
    if (!inScene) r->EndScene();
    ASSERT_TRUE(film.BeginFilmDrawing());
    EXPECT_EQ(r->RenderTarget(), film.FilmTexture());
    EXPECT_TRUE(r->IsInScene());
    EXPECT_FALSE(film.BeginFilmDrawing());  // no nesting
    OvMatrix other;
    OvMatrixIdentity(other);
    other.m[3][0] = 42;
    r->SetViewMatrix(other);
    film.EndFilmDrawing();
    EXPECT_EQ(r->RenderTarget(), nullptr);
    EXPECT_EQ(r->IsInScene(), inScene);
    EXPECT_EQ(r->ViewMatrix().m[3][0], view.m[3][0]);
  }
}

}  // namespace
