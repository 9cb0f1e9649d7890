// A headless GL device for the device tests: an offscreen window, an
// initialised renderer, a simple camera and helpers to draw and read pixels.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ov_renderer_gl.h"
#include "trace_capture.h"

namespace device_test {

struct Rgba {
  int r, g, b, a;
};

// Vertex layouts the tests draw with.
struct LitVertex {
  float x, y, z;
  float nx, ny, nz;
};
struct ColourVertex {
  float x, y, z;
  uint32_t diffuse;
  float u, v;
};
struct ScreenVertex {
  float x, y, z, rhw;
  uint32_t diffuse;
};

class DeviceTest : public ::testing::Test {
 protected:
  // Window size; tests that need another one call Open themselves.
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 48;

  void SetUp() override {
    OvTraceSetQuiet(true);
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
  }
  void TearDown() override {
    Close();
    SDL_Quit();
    OvTraceSetQuiet(false);
  }

  void Open(int width = kWidth, int height = kHeight, bool wireframe = false) {
    Close();
    OvRendererGL::SetWindowAttributes();
    window = SDL_CreateWindow("device", 0, 0, width, height, OvRendererGL::WindowFlags());
    ASSERT_NE(window, nullptr) << SDL_GetError();
    r = new OvRendererGL();
    r->SetWireframe(wireframe);
    r->SetWindow(&window);
    ASSERT_TRUE(r->Init(true));
    ASSERT_TRUE(r->BeginScene());
  }
  void Close() {
    delete r;
    r = nullptr;
    if (window) SDL_DestroyWindow(window);
    window = nullptr;
  }

  // View looking along +z from the origin; 90 degree perspective, near 1,
  // far 100.
  void Camera() {
    OvMatrix view, proj;
    OvMatrixIdentity(view);
    OvMatrixZero(proj);
    const float n = 1.0f, f = 100.0f;
    proj.m[0][0] = proj.m[1][1] = 1.0f;
    proj.m[2][2] = f / (f - n);
    proj.m[3][2] = -n * f / (f - n);
    proj.m[2][3] = 1.0f;
    r->SetViewMatrix(view);
    r->SetProjectionMatrix(proj);
    r->SetWorldMatrix(nullptr);
  }

  // The scene's default states, then no culling, no alpha test, Z off.
  void PlainStates() {
    r->SetDefaultStates(false);
    r->SetRenderState(RS_CULLMODE, CULL_NONE);
    r->SetRenderState(RS_ALPHATESTENABLE, 0);
    r->SetRenderState(RS_ZENABLE, 0);
    r->SetRenderState(RS_DITHERENABLE, 0);
  }

  void Clear(uint32_t argb) {
    r->SetBackgroundColour(argb);
    ASSERT_TRUE(r->ClearBackBuffer());
  }

  // A quad at depth z covering x, y in [-s, s] as a 16 x 16 grid (lighting
  // is per vertex), normals towards the eye.
  bool DrawLitQuad(float z, float s = 8.0f) {
    constexpr int n = 16;
    std::vector<LitVertex> v;
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i) v.push_back({-s + 2 * s * float(i) / n, -s + 2 * s * float(j) / n, z, 0, 0, -1});
    std::vector<uint16_t> idx;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const uint16_t a = uint16_t(j * (n + 1) + i), b = uint16_t(a + 1), c = uint16_t(a + n + 1), d = uint16_t(c + 1);
        idx.insert(idx.end(), {a, b, c, b, d, c});
      }
    return r->DrawUserIndexed(OvMakeVertexFormat(VF_XYZ | VF_NORMAL, 0), v.data(), uint32_t(v.size()), idx.data(),
                              PRIM_TRIANGLELIST, uint32_t(idx.size() / 3));
  }
  bool DrawColourQuad(float z, uint32_t diffuse, float s = 8.0f) {
    const ColourVertex v[4] = {
        {-s, -s, z, diffuse, 0, 1}, {s, -s, z, diffuse, 1, 1}, {-s, s, z, diffuse, 0, 0}, {s, s, z, diffuse, 1, 0}};
    return r->DrawUser(OvMakeVertexFormat(VF_XYZ | VF_DIFFUSE, 1), v, PRIM_TRIANGLESTRIP, 2);
  }

  // Pixel (x, y) with y from the top of the frame.
  Rgba Pixel(int x, int y) {
    const int w = r->GetFrameWidth(), h = r->GetFrameHeight();
    std::vector<uint8_t> buf(size_t(w) * size_t(h) * 4);
    EXPECT_TRUE(r->ReadPixels(buf.data(), w, h));
    const uint8_t* p = buf.data() + (size_t(h - 1 - y) * size_t(w) + size_t(x)) * 4;
    return {p[0], p[1], p[2], p[3]};
  }
  Rgba Centre() { return Pixel(r->GetFrameWidth() / 2, r->GetFrameHeight() / 2); }

  SDL_Window* window = nullptr;
  OvRendererGL* r = nullptr;
};

inline ::testing::AssertionResult Near(const Rgba& got, int r, int g, int b, int tolerance = 3) {
  if (std::abs(got.r - r) <= tolerance && std::abs(got.g - g) <= tolerance && std::abs(got.b - b) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "pixel (" << got.r << ", " << got.g << ", " << got.b << ") expected (" << r
                                       << ", " << g << ", " << b << ") within " << tolerance;
}

}  // namespace device_test
