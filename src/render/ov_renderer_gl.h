// The render device on OpenGL 3.3 core: device creation on an SDL window (or
// SDL's offscreen driver), the capability report and the per-frame bracket.
#pragma once

#include <cstdint>

#include "ov_memory.h"

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

class OvRendererGL : public OvAllocated {
 public:
  OvRendererGL();
  virtual ~OvRendererGL();
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
  virtual int GetFrameWidth() const { return m_frameWidth; }
  virtual int GetFrameHeight() const { return m_frameHeight; }
  virtual bool ReadFrameSize();
  virtual bool BeginScene();
  virtual bool EndScene();
  virtual bool IsInScene() const { return m_inScene; }
  virtual bool ClearBackBuffer();
  virtual bool ClearZBuffer();
  virtual bool ShowBackBuffer();
  virtual void SetBackgroundColour(uint32_t argb) { m_background = argb; }
  virtual void SetAmbient(uint32_t argb);

  bool IsInitialised() const { return m_initialised; }
  uint32_t BackgroundColour() const { return m_background; }
  uint32_t AmbientColour() const { return m_ambient; }
  const float* AmbientFloats() const { return m_ambientF; }
  const OvRenderCaps& Caps() const { return m_caps; }
  uint32_t PresentedFrames() const { return m_presented; }

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

  uint32_t m_presented = 0;
  uint32_t m_rateStartMs = 0;
};
