// The render device on OpenGL 3.3 core: device creation on an SDL window (or
// SDL's offscreen driver), the capability report and the per-frame bracket.
#pragma once

#include <cstdint>

#include "ov_math.h"
#include "ov_memory.h"
#include "ov_renderer.h"

struct SDL_Window;
typedef void* SDL_GLContext;

// What the GL context reports about itself; filled once by Init.
struct OvRenderCaps {
  const char* vendor = "";
  const char* renderer = "";
  const char* version = "";
  const char* glslVersion = "";
  int maxTextureSize = 0;
  int maxTextureUnits = 0;
  int maxCombinedTextureUnits = 0;
  int maxVertexAttribs = 0;
  int maxRenderbufferSize = 0;
  int maxSamples = 0;
  float maxAnisotropy = 0;
  bool textureNonPow2 = true;
  int depthBits = 0;
  int stencilBits = 0;
};

class OvRendererGL : public OvAllocated, public OvRenderer {
 public:
  OvRendererGL();
  ~OvRendererGL() override;
  OvRendererGL(const OvRendererGL&) = delete;
  OvRendererGL& operator=(const OvRendererGL&) = delete;

  // Must run before the window is created: SDL picks the pixel format and
  // context profile from these attributes.
  static void SetWindowAttributes();
  // Window flags the renderer needs on its window.
  static uint32_t WindowFlags();

  // Start options (set before Init).
  void SetFullScreen(bool on) { m_fullScreen = on; }
  void SetRequestedSize(int width, int height) { m_requestedWidth = width, m_requestedHeight = height; }
  void SetWaitVRetrace(bool on) { m_waitVRetrace = on; }
  void SetWireframe(bool on) { m_wireframe = on; }
  bool IsFullScreen() const { return m_fullScreen; }

  virtual void SetWindow(SDL_Window** window);
  virtual bool Init(bool useFirstAdapter);
  virtual void ReleaseAll();
  virtual bool IsHardwareDevice() const;
  int GetFrameWidth() const override { return m_frameWidth; }
  int GetFrameHeight() const override { return m_frameHeight; }
  virtual bool ReadFrameSize();
  bool BeginScene() override;
  bool EndScene() override;
  virtual bool IsInScene() const { return m_inScene; }
  bool ClearBackBuffer() override;
  virtual bool ClearZBuffer();
  bool ShowBackBuffer() override;
  void SetBackgroundColour(uint32_t argb) override { m_background = argb; }
  void SetAmbient(uint32_t argb) override;

  // Scene-level state. Kept here until the drawing code consumes it.
  void SetDefaultStates(bool lighting) override { m_lighting = lighting; }
  void EnableFog(bool on) override { m_fogOn = on; }
  void SetFogColour(uint32_t argb) override { m_fogColour = argb; }
  void SetFogRange(float fogNear, float fogFar, const OvMatrix& projection) override;
  void EnableZWrite(bool on) override { m_zWrite = on; }
  void SetTexture(int stage, void* texture) override;
  void SetViewMatrix(const OvMatrix& view) override { m_view = view; }
  void SetProjectionMatrix(const OvMatrix& projection) override { m_projection = projection; }
  bool UsesVertexFog() const override { return false; }
  // Nothing is drawn yet: frames go through the bracket only.
  void RenderList(OvScene& scene, const OvRenderItem* items, const OvLightItem* lights) override;

  bool IsInitialised() const { return m_initialised; }
  uint32_t BackgroundColour() const { return m_background; }
  uint32_t AmbientColour() const { return m_ambient; }
  const float* AmbientFloats() const { return m_ambientF; }
  const OvRenderCaps& Caps() const { return m_caps; }
  uint32_t PresentedFrames() const { return m_presented; }
  bool LightingOn() const { return m_lighting; }
  bool FogOn() const { return m_fogOn; }
  uint32_t FogColour() const { return m_fogColour; }
  float FogNear() const { return m_fogNear; }
  float FogFar() const { return m_fogFar; }
  bool ZWriteOn() const { return m_zWrite; }
  void* Texture(int stage) const { return stage >= 0 && stage < kTextureStages ? m_textures[stage] : nullptr; }
  const OvMatrix& ViewMatrix() const { return m_view; }
  const OvMatrix& ProjectionMatrix() const { return m_projection; }

  // Reads the back buffer (RGBA, bottom row first) into out, which holds
  // width * height * 4 bytes; call it before ShowBackBuffer.
  bool ReadPixels(uint8_t* out, int width, int height);

 private:
  void ReportCaps();
  void UpdateTitleFrameRate();

  SDL_Window** m_window = nullptr;
  SDL_GLContext m_context = nullptr;
  bool m_fullScreen = false;
  int m_requestedWidth = 0;
  int m_requestedHeight = 0;
  bool m_waitVRetrace = true;
  bool m_wireframe = false;
  int m_adapter = 0;

  bool m_initialised = false;
  bool m_inScene = false;
  int m_frameWidth = 0;
  int m_frameHeight = 0;
  int m_displayWidth = 0;
  int m_displayHeight = 0;
  int m_displayRefresh = 0;
  unsigned m_vao = 0;
  OvRenderCaps m_caps;

  uint32_t m_background = 0xFFFFFFFFu;
  uint32_t m_ambient = 0;
  float m_ambientF[4] = {0, 0, 0, 0};

  static constexpr int kTextureStages = 8;
  bool m_lighting = true;
  bool m_fogOn = false;
  uint32_t m_fogColour = 0xFFFFFFFFu;
  float m_fogNear = 0.0f;
  float m_fogFar = 0.0f;
  bool m_zWrite = true;
  void* m_textures[kTextureStages] = {};
  OvMatrix m_view{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  OvMatrix m_projection{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

  uint32_t m_presented = 0;
  uint32_t m_rateStartMs = 0;
};
