// Headless drawing for the image tests: an offscreen window with the GL
// renderer, meshes built in memory, materials as pass plans, read-back and
// comparison with reference pictures.
//
// OV_UPDATE_REFERENCES=1 writes the pictures of this run as the new
// references. A failing comparison leaves the actual picture in the build
// tree beside a copy of the expected one.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "ov_clump.h"
#include "ov_mesh.h"
#include "ov_mesh_draw.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_std_material.h"
#include "ov_texture_builder.h"

namespace image_test {

constexpr int kSize = 96;

// RGBA pixels, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
  const uint8_t* At(int x, int y) const { return rgba.data() + (size_t(y) * width + x) * 4; }
};

// Mesh arrays owned by the test.
struct MeshData {
  std::vector<float> positions, normals;
  std::vector<uint32_t> colors, indices;
  std::vector<std::vector<float>> coords;
  std::vector<OvTexCoordSet> sets;
  OvMaterial material{{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
  void* resource = nullptr;
  int32_t shaderIndex = 0;
  OvMesh mesh;

  void Finish(int setCount) {
    coords.resize(size_t(setCount));
    sets.resize(size_t(setCount));
    for (int s = 0; s < setCount; ++s) {
      if (coords[size_t(s)].empty()) coords[size_t(s)] = coords[0];
      sets[size_t(s)].coordCount = int32_t(coords[size_t(s)].size() / 2);
      sets[size_t(s)].coords = coords[size_t(s)].data();
    }
    mesh.vertexCount = int32_t(positions.size() / 3);
    mesh.positions = positions.data();
    mesh.normals = normals.data();
    mesh.colors = colors.empty() ? nullptr : colors.data();
    mesh.indexCount = int32_t(indices.size());
    mesh.triangleCount = mesh.indexCount / 3;
    mesh.indices = indices.data();
    mesh.setCount = setCount;
    mesh.sets = setCount ? sets.data() : nullptr;
    mesh.subsetCount = 1;
    mesh.materials = &material;
    mesh.resources = &resource;
    mesh.shaderIndices = &shaderIndex;
  }
};

// A flat grid of n x n quads in the plane z, (x0, y0) ... (x1, y1), facing
// the camera at -z (counter-clockwise on screen, which the default cull mode
// keeps); coordinates 0 ... 1 with v down.
inline void MakeGrid(MeshData& d, int n, float x0, float y0, float x1, float y1, float z = 0.0f) {
  const uint32_t base = uint32_t(d.positions.size() / 3);
  if (d.coords.empty()) d.coords.resize(1);
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      const float u = float(i) / float(n), v = float(j) / float(n);
      d.positions.insert(d.positions.end(), {x0 + (x1 - x0) * u, y1 + (y0 - y1) * v, z});
      d.normals.insert(d.normals.end(), {0.0f, 0.0f, -1.0f});
      d.coords[0].insert(d.coords[0].end(), {u, v});
    }
  }
  const uint32_t side = uint32_t(n + 1);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const uint32_t a = base + uint32_t(j) * side + uint32_t(i), b = a + 1, c = a + side, e = c + 1;
      d.indices.insert(d.indices.end(), {a, c, b, b, c, e});
    }
  }
}

// A sphere of `rings` x `segments` around centre.
inline void MakeSphere(MeshData& d, int rings, int segments, OvVector centre, float radius) {
  const uint32_t base = uint32_t(d.positions.size() / 3);
  if (d.coords.empty()) d.coords.resize(1);
  for (int r = 0; r <= rings; ++r) {
    const float theta = C_PI * float(r) / float(rings);
    for (int s = 0; s <= segments; ++s) {
      const float phi = C_2PI * float(s) / float(segments);
      const OvVector n{std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)};
      d.positions.insert(d.positions.end(),
                         {centre.x + radius * n.x, centre.y + radius * n.y, centre.z + radius * n.z});
      d.normals.insert(d.normals.end(), {n.x, n.y, n.z});
      d.coords[0].insert(d.coords[0].end(), {float(s) / float(segments), float(r) / float(rings)});
    }
  }
  const uint32_t side = uint32_t(segments + 1);
  for (int r = 0; r < rings; ++r) {
    for (int s = 0; s < segments; ++s) {
      const uint32_t a = base + uint32_t(r) * side + uint32_t(s), b = a + 1, c = a + side, e = c + 1;
      d.indices.insert(d.indices.end(), {a, c, b, b, c, e});
    }
  }
}

inline OvLightData Light(int32_t type, OvVector pos, OvVector dir, float r, float g, float b) {
  OvLightData l;
  l.type = type;
  l.diffuse[0] = r, l.diffuse[1] = g, l.diffuse[2] = b, l.diffuse[3] = 1.0f;
  l.position = pos;
  l.direction = dir;
  l.range = 100.0f;
  l.attenuation[0] = 1.0f;
  l.attenuation[1] = 0.0f;
  l.attenuation[2] = 0.0f;
  l.falloff = 1.0f;
  l.theta = 0.3f;
  l.phi = 0.6f;
  return l;
}

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    OvRendererGL::SetWindowAttributes();
    m_window = SDL_CreateWindow("image", 0, 0, kSize, kSize, OvRendererGL::WindowFlags());
    ASSERT_NE(m_window, nullptr) << SDL_GetError();
    m_renderer = new OvRendererGL();
    m_renderer->SetRequestedSize(kSize, kSize);
    m_renderer->SetWaitVRetrace(false);
    m_renderer->SetWindow(&m_window);
    ASSERT_TRUE(m_renderer->Init(true));
    m_uploader = new OvContentUploader(*m_renderer);
    m_arena = new OvChunkArena();
  }

  void TearDown() override {
    for (OvPassPlan* p : m_plans) p->Release();
    m_plans.clear();
    for (MeshData& d : m_meshes) OvReleaseMeshBuffers(d.mesh);
    m_meshes.clear();
    for (OvGLTexture* t : m_textures) OvReleaseTexture(*m_renderer, t);
    m_textures.clear();
    for (OvStdMaterial* m : m_materials) m->~OvStdMaterial();
    m_materials.clear();
    delete m_arena;
    delete m_uploader;
    delete m_renderer;
    if (m_window) SDL_DestroyWindow(m_window);
    SDL_Quit();
  }

  OvRendererGL& R() { return *m_renderer; }

  MeshData& NewMesh() { return m_meshes.emplace_back(); }

  OvGLTexture* Texture(const OvImageDesc& image) {
    OvGLTexture* t = LoadTexture(image, *m_uploader->Builder());
    if (t) m_textures.push_back(t);
    return t;
  }
  OvGLTexture* Texture32(const std::vector<uint32_t>& argb, int w, int h, int alphaBits = 8) {
    OvImageDesc d;
    d.pixels32 = argb.data();
    d.width = w;
    d.height = h;
    d.alphaBits = alphaBits, d.redBits = d.greenBits = d.blueBits = 8;
    return Texture(d);
  }

  // A standard material with these layers and textures, as a plan for the
  // given number of stages.
  OvPassPlan* Plan(std::vector<OvStdLayer> layers, std::vector<OvGLTexture*> textures, int stages, int32_t blend = 1,
                   uint32_t options = 0) {
    OvStdMaterial* m = OvArenaNew<OvStdMaterial>(*m_arena);
    m_materials.push_back(m);
    m->SetLayers(*m_arena, layers.data(), int32_t(layers.size()));
    std::vector<int32_t> indices(textures.size(), -1);
    m->SetTextureIndices(*m_arena, indices.data(), int32_t(indices.size()));
    for (size_t i = 0; i < textures.size(); ++i) m->SetTexture(int32_t(i), textures[i]);
    m->SetBlendKind(blend);
    m->SetOptions(options);
    OvPassPlan* plan = OvPassPlan::Build(*m, stages);
    if (plan) m_plans.push_back(plan);
    return plan;
  }

  static OvStdLayer Layer(uint32_t kind, uint8_t slot = 0, uint8_t set = 0) {
    OvStdLayer l;
    l.kind = kind;
    l.slot = slot;
    l.set = set;
    return l;
  }

  // Camera at (0, 0, -4) looking along +z with a 60 degree view.
  void BeginFrame(uint32_t background = 0xFF203040u, bool lighting = true) {
    R().SetBackgroundColour(background);
    R().ClearBackBuffer();
    R().BeginScene();
    R().SetAmbient(0xFF202020u);
    OvMatrix view;
    OvMatrixIdentity(view);
    view.m[3][2] = 4.0f;
    OvMatrix proj;
    OvMatPerspective(proj, 1.0471976f, 0.5f, 100.0f);
    R().SetViewMatrix(view);
    R().SetProjectionMatrix(proj);
    R().SetDefaultStates(lighting);
    // Default states only ever switch lighting on.
    R().EnableLighting(lighting);
    R().EnableFog(false);
    R().EnableZWrite(true);
    R().SetTexture(0, nullptr);
    OvMatrixIdentity(m_world);
    R().SetWorldMatrix(&m_world);
  }

  void Draw(MeshData& d) { OvDrawMesh(R(), d.mesh); }

  Picture EndFrame() {
    Picture p;
    p.width = R().GetFrameWidth();
    p.height = R().GetFrameHeight();
    std::vector<uint8_t> raw(size_t(p.width) * p.height * 4);
    EXPECT_TRUE(R().ReadPixels(raw.data(), p.width, p.height));
    R().EndScene();
    p.rgba.resize(raw.size());
    const size_t row = size_t(p.width) * 4;
    for (int y = 0; y < p.height; ++y)
      std::copy_n(raw.data() + size_t(p.height - 1 - y) * row, row, p.rgba.data() + size_t(y) * row);
    for (size_t i = 3; i < p.rgba.size(); i += 4) p.rgba[i] = 255;
    return p;
  }

  // Compares with reference/<name>.png: every channel within `tolerance`,
  // except at most `outliers` pixels (edges may rasterise differently).
  void ExpectMatchesReference(const Picture& p, const std::string& name, int tolerance = 6, int outliers = 8) {
    const std::string ref = std::string(OV_RENDER_REFERENCE_DIR) + "/" + name + ".png";
    const char* update = std::getenv("OV_UPDATE_REFERENCES");
    if (update && std::string(update) == "1") {
      std::filesystem::create_directories(OV_RENDER_REFERENCE_DIR);
      ASSERT_NE(stbi_write_png(ref.c_str(), p.width, p.height, 4, p.rgba.data(), p.width * 4), 0) << ref;
      return;
    }
    int w = 0, h = 0, n = 0;
    uint8_t* expected = stbi_load(ref.c_str(), &w, &h, &n, 4);
    std::string why;
    int bad = 0;
    if (!expected) {
      why = "no reference picture " + ref;
    } else if (w != p.width || h != p.height) {
      why = "size differs";
    } else {
      int worst = 0;
      for (size_t i = 0; i < p.rgba.size(); i += 4) {
        int diff = 0;
        for (int c = 0; c < 3; ++c) diff = std::max(diff, std::abs(int(p.rgba[i + c]) - int(expected[i + c])));
        if (diff > tolerance) ++bad;
        worst = std::max(worst, diff);
      }
      if (bad > outliers) why = std::to_string(bad) + " pixels differ, worst by " + std::to_string(worst);
    }
    if (!why.empty()) {
      std::filesystem::create_directories(OV_RENDER_ACTUAL_DIR);
      const std::string actual = std::string(OV_RENDER_ACTUAL_DIR) + "/" + name + ".png";
      stbi_write_png(actual.c_str(), p.width, p.height, 4, p.rgba.data(), p.width * 4);
      if (expected) {
        const std::string copy = std::string(OV_RENDER_ACTUAL_DIR) + "/" + name + ".expected.png";
        stbi_write_png(copy.c_str(), w, h, 4, expected, w * 4);
      }
      ADD_FAILURE() << name << ": " << why << "; actual picture: " << actual;
    }
    if (expected) stbi_image_free(expected);
  }

  static int MaxDifference(const Picture& a, const Picture& b) {
    int worst = 0;
    for (size_t i = 0; i < a.rgba.size() && i < b.rgba.size(); ++i)
      worst = std::max(worst, std::abs(int(a.rgba[i]) - int(b.rgba[i])));
    return worst;
  }

  SDL_Window* m_window = nullptr;
  OvRendererGL* m_renderer = nullptr;
  OvContentUploader* m_uploader = nullptr;
  OvChunkArena* m_arena = nullptr;
  std::deque<MeshData> m_meshes;
  std::vector<OvGLTexture*> m_textures;
  std::vector<OvPassPlan*> m_plans;
  std::vector<OvStdMaterial*> m_materials;
  OvMatrix m_world;
};

}  // namespace image_test
