#include "ov_render_list.h"

#include <stb/stb_image_write.h>

#include <cstring>

#include "ov_assert.h"
#include "ov_clump.h"
#include "ov_effect_draw.h"
#include "ov_glow_draw.h"
#include "ov_mesh_draw.h"
#include "ov_overlay.h"
#include "ov_particle_draw.h"
#include "ov_renderer_gl.h"
#include "ov_shader_material.h"
#include "ov_shadow_draw.h"
#include "ov_std_material.h"
#include "ov_texture_builder.h"
#include "ov_trace.h"

// ---------------------------------------------------------------------------
// Settings.

namespace {
OvRenderSettings* g_settings = nullptr;
}  // namespace

void OvSetRenderSettings(OvRenderSettings* settings) { g_settings = settings; }
OvRenderSettings* OvGetRenderSettings() { return g_settings; }
int32_t OvRenderSettingInt(const char* name) { return g_settings ? g_settings->GetInt(name) : 0; }
float OvRenderSettingFloat(const char* name) { return g_settings ? g_settings->GetFloat(name) : 0.0f; }

// ---------------------------------------------------------------------------
// Content uploader.

OvContentUploader::OvContentUploader(OvRendererGL& renderer) : m_renderer(renderer) {
  m_builder = new OvTextureBuilder(&renderer);
  OvRegisterStdMaterialType();
  OvAddShaderResourceFactory(OvStdMaterialFactory);
  OvRegisterShaderMaterialTypes();
  OvInstallOverlayControllers();
  OvInstallGlowController();
  OvInstallShadowController();
  OvInstallEffectControllers();
}

OvContentUploader::~OvContentUploader() { delete m_builder; }

OvContentUploader* OvContentUploader::FromDbRenderer(OvDbRenderer* renderer) {
  return dynamic_cast<OvContentUploader*>(renderer);
}

void* OvContentUploader::CreateTexture(const OvTextureRecord& record) {
  if (!m_builder) return nullptr;
  return LoadTexture(OvImageFromRecord(record), *m_builder);
}

void OvContentUploader::EndTextureBuilding() {
  if (m_builder) m_builder->EndBuilding();
}

void OvContentUploader::ReleaseTexture(void* texture) {
  OvReleaseTexture(m_renderer, static_cast<OvGLTexture*>(texture));
}

void OvContentUploader::ReleaseMeshBuffers(OvMesh& mesh) { OvReleaseMeshBuffers(mesh); }

void OvContentUploader::ReleaseShaderResource(void* resource) {
  if (resource) static_cast<OvShaderResource*>(resource)->Release();
}

void OvReleaseTexture(OvRendererGL& renderer, OvGLTexture* texture) {
  if (!texture) return;
  renderer.DestroyTexture(*texture);
  texture->~OvGLTexture();
  OvMFree(texture);
}

// ---------------------------------------------------------------------------
// Render list.

namespace {

// The light record in world space: position through the clump's world
// matrix, direction rotated and normalised.
OvLightData WorldLight(const OvLightItem& item) {
  OvLightData d = item.light->Data();
  const OvMatrix* world = item.clump ? item.clump->GetToWorldMatrix() : nullptr;
  if (world) {
    OvVector p;
    OvXformPoint(p, d.position, *world);
    d.position = p;
    OvVector dir;
    OvRotateVector(dir, d.direction, *world);
    if (OvSquareLength(dir) > 0.0f) OvNormalize(dir);
    d.direction = dir;
  }
  return d;
}

}  // namespace

void OvDrawRenderList(OvRendererGL& renderer, const OvRenderItem* items, const OvLightItem* lights) {
  if (renderer.IsDeviceLost()) return;
  int maxLights = renderer.Caps().maxLights;
  if (maxLights <= 0 || maxLights > OV_MAX_LIGHTS) maxLights = OV_MAX_LIGHTS;
  int used = 0;
  bool active = false;
  for (const OvLightItem* l = lights; l && used < maxLights; l = l->next) {
    if (!l->light) continue;
    const OvLightData d = WorldLight(*l);
    if (!renderer.SetLight(used, d)) continue;
    renderer.EnableLight(used, true);
    if (!active) {
      renderer.SetActiveLight(&d, used, 0);
      active = true;
    }
    ++used;
  }
  for (int i = used; i < OV_MAX_LIGHTS; ++i) {
    if (renderer.LightEnabled(i)) renderer.EnableLight(i, false);
  }
  if (!active) renderer.SetActiveLight(nullptr, 0, 0);

  for (const OvRenderItem* it = items; it; it = it->next) {
    OvClump* clump = it->clump;
    OV_ASSERT(clump);  // culling lists only live clumps
    if (!clump) continue;
    if (OvParticleSet* particles = OvParticleSetOf(clump)) {
      OvDrawParticleSet(renderer, *particles);
      continue;
    }
    OvMesh* mesh = clump->GetMesh();
    const OvMatrix* world = clump->GetToWorldMatrix();
    if (!mesh || !world) continue;
    renderer.SetWorldMatrix(world);
    OvDrawMesh(renderer, *mesh, clump);
  }
  renderer.ResetWorldMode();
}

// ---------------------------------------------------------------------------
// Screenshot.

bool OvSaveScreenshotPNG(OvRendererGL& renderer, const char* path) {
  const int w = renderer.GetFrameWidth(), h = renderer.GetFrameHeight();
  if (!path || w <= 0 || h <= 0) return false;
  const size_t row = size_t(w) * 4;
  uint8_t* pixels = static_cast<uint8_t*>(AllocMem(row * size_t(h)));
  uint8_t* flipped = static_cast<uint8_t*>(AllocMem(row * size_t(h)));
  bool ok = pixels && flipped && renderer.ReadPixels(pixels, w, h);
  if (ok) {
    // Read back bottom row first; the file wants the top row first. The
    // frame is opaque: a cleared alpha must not make the picture see-through.
    for (int y = 0; y < h; ++y) std::memcpy(flipped + size_t(y) * row, pixels + size_t(h - 1 - y) * row, row);
    for (size_t i = 3; i < row * size_t(h); i += 4) flipped[i] = 255;
    ok = stbi_write_png(path, w, h, 4, flipped, int(row)) != 0;
  }
  if (!ok) _TraceFormat("%s -- %s\n", "Screenshot failed.", path);
  OvMFree(pixels);
  OvMFree(flipped);
  return ok;
}
