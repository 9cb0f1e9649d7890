// The scene's draws on the GL device: the settings the renderer reads from
// script globals, the content uploader that creates a database's textures,
// buffers and render resources on the device, the render list with its
// lights, and the screenshot.
#pragma once

#include <cstdint>

#include "ov_database.h"
#include "ov_memory.h"
#include "ov_renderer.h"

class OvRendererGL;
class OvTextureBuilder;
class OvGLTexture;

// Engine settings served by the script host ("__ov_boDontCreateMipMap",
// "__ov_iFilterCreateMipMap", "__ov_VolumeFogNearBias"); an undefined name
// reads as 0.
class OvRenderSettings {
 public:
  virtual ~OvRenderSettings() = default;
  virtual int32_t GetInt(const char* name) = 0;
  virtual float GetFloat(const char* name) { return float(GetInt(name)); }
};
// Process-wide; null (the default) answers 0 for everything.
void OvSetRenderSettings(OvRenderSettings* settings);
OvRenderSettings* OvGetRenderSettings();
int32_t OvRenderSettingInt(const char* name);
float OvRenderSettingFloat(const char* name);

// Device work for content databases: textures through the texture builder,
// mesh buffers, shader render resources. Registers the standard material and
// its render-resource factory when made.
class OvContentUploader : public OvAllocated, public OvDbRenderer {
 public:
  explicit OvContentUploader(OvRendererGL& renderer);
  ~OvContentUploader() override;
  OvContentUploader(const OvContentUploader&) = delete;
  OvContentUploader& operator=(const OvContentUploader&) = delete;

  void* CreateTexture(const OvTextureRecord& record) override;
  void EndTextureBuilding() override;
  void ReleaseTexture(void* texture) override;
  void ReleaseMeshBuffers(OvMesh& mesh) override;
  void ReleaseShaderResource(void* resource) override;

  OvRendererGL& Renderer() const { return m_renderer; }
  OvTextureBuilder* Builder() const { return m_builder; }
  // The uploader behind a database's renderer interface, or null.
  static OvContentUploader* FromDbRenderer(OvDbRenderer* renderer);

 private:
  OvRendererGL& m_renderer;
  OvTextureBuilder* m_builder = nullptr;
};

// Frees a texture made by LoadTexture.
void OvReleaseTexture(OvRendererGL& renderer, OvGLTexture* texture);

// Draws the frame's visible clumps lit by the collected lights: the lights
// in world space on the device (the first also as the active light), then
// each clump's mesh with its world matrix.
void OvDrawRenderList(OvRendererGL& renderer, const OvRenderItem* items, const OvLightItem* lights);

// Reads the back buffer and writes it as PNG (top row first). Call it after
// the frame is drawn and before it is shown.
bool OvSaveScreenshotPNG(OvRendererGL& renderer, const char* path);
