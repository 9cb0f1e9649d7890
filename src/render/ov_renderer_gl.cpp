#include "ov_renderer_gl.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <cstring>

#include "ov_clock.h"
#include "ov_trace.h"

namespace {

const char* YesNo(bool b) { return b ? "Yes" : "No"; }

const char* GlString(GLenum name) {
  const GLubyte* s = glGetString(name);
  return s ? reinterpret_cast<const char*>(s) : "";
}

int GlInt(GLenum name) {
  GLint v = 0;
  glGetIntegerv(name, &v);
  return v;
}

}  // namespace

OvRendererGL::OvRendererGL() = default;

OvRendererGL::~OvRendererGL() { ReleaseAll(); }

void OvRendererGL::SetWindowAttributes() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
}

uint32_t OvRendererGL::WindowFlags() { return SDL_WINDOW_OPENGL; }

void OvRendererGL::SetWindow(SDL_Window** window) { m_window = window; }

bool OvRendererGL::Init(bool useFirstAdapter) {
  if (m_initialised) return true;
  SDL_Window* window = m_window ? *m_window : nullptr;
  if (window == nullptr) {
    Trace("Create GL failed!\n");
    return false;
  }
  int displays = SDL_GetNumVideoDisplays();
  m_adapter = (!useFirstAdapter && displays > 1) ? 1 : 0;
  _TraceFormat("Create GL device on adapter: %d\n", m_adapter);

  SDL_DisplayMode mode{};
  int displayIndex = SDL_GetWindowDisplayIndex(window);
  if (displayIndex < 0) displayIndex = 0;
  if (SDL_GetCurrentDisplayMode(displayIndex, &mode) == 0) {
    m_displayWidth = mode.w;
    m_displayHeight = mode.h;
    m_displayRefresh = mode.refresh_rate;
  }
  _TraceFormat("Window display mode (width,height,refresh rate,format): %u, %u, %u, %u\n",
               unsigned(m_displayWidth), unsigned(m_displayHeight), unsigned(m_displayRefresh),
               unsigned(mode.format));
  if (m_requestedWidth < 1) {
    m_requestedWidth = m_displayWidth;
    m_requestedHeight = m_displayHeight;
    Trace("Do not indicate display mode, use the current display mode.\n");
  }

  m_context = SDL_GL_CreateContext(window);
  if (m_context == nullptr) {
    _TraceFormat("%s -- %s\n", "Init GL failed!", SDL_GetError());
    return false;
  }
  if (SDL_GL_MakeCurrent(window, m_context) != 0) {
    _TraceFormat("%s -- %s\n", "Init GL failed!", SDL_GetError());
    SDL_GL_DeleteContext(m_context);
    m_context = nullptr;
    return false;
  }
  if (epoxy_gl_version() < 33) {
    _TraceFormat("%s -- %s\n", "Init GL failed!", "OpenGL 3.3 core is not available");
    SDL_GL_DeleteContext(m_context);
    m_context = nullptr;
    return false;
  }
  // Windowed presentation follows the retrace option; full screen always does.
  SDL_GL_SetSwapInterval((m_waitVRetrace || m_fullScreen) ? 1 : 0);

  // Core profile draws nothing without a bound vertex array.
  glGenVertexArrays(1, &m_vao);
  glBindVertexArray(m_vao);

  m_caps.vendor = GlString(GL_VENDOR);
  m_caps.renderer = GlString(GL_RENDERER);
  m_caps.version = GlString(GL_VERSION);
  m_caps.glslVersion = GlString(GL_SHADING_LANGUAGE_VERSION);
  m_caps.maxTextureSize = GlInt(GL_MAX_TEXTURE_SIZE);
  m_caps.maxTextureUnits = GlInt(GL_MAX_TEXTURE_IMAGE_UNITS);
  m_caps.maxCombinedTextureUnits = GlInt(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS);
  m_caps.maxVertexAttribs = GlInt(GL_MAX_VERTEX_ATTRIBS);
  m_caps.maxRenderbufferSize = GlInt(GL_MAX_RENDERBUFFER_SIZE);
  m_caps.maxSamples = GlInt(GL_MAX_SAMPLES);
  if (epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic"))
    glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &m_caps.maxAnisotropy);
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &m_caps.depthBits);
  SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &m_caps.stencilBits);

  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glPolygonMode(GL_FRONT_AND_BACK, m_wireframe ? GL_LINE : GL_FILL);
  SetAmbient(0);

  m_initialised = true;
  ReadFrameSize();
  ReportCaps();
  m_rateStartMs = OvTickCount();
  m_presented = 0;
  return true;
}

void OvRendererGL::ReportCaps() {
  Trace("Device capabilities:\n");
  _TraceFormat("  Adapter no: %u\n", unsigned(m_adapter));
  Trace(m_fullScreen ? "  Full screen mode\n" : "  Window mode\n");
  _TraceFormat("  Vendor: %s\n", m_caps.vendor);
  _TraceFormat("  Renderer: %s\n", m_caps.renderer);
  _TraceFormat("  Version: %s\n", m_caps.version);
  _TraceFormat("  Shading language: %s\n", m_caps.glslVersion);
  _TraceFormat("  Display mode: %d, %d, %d\n", m_displayWidth, m_displayHeight, 32);
  _TraceFormat("  Frame buffer size: %d, %d\n", m_frameWidth, m_frameHeight);
  _TraceFormat("  Depth bits: %d, stencil bits: %d\n", m_caps.depthBits, m_caps.stencilBits);
  _TraceFormat("  Hardware T&L: %s\n", YesNo(IsHardwareDevice()));
  _TraceFormat("  Maximum render buffer size: %d\n", m_caps.maxRenderbufferSize);
  _TraceFormat("  Maximum multisample count: %d\n", m_caps.maxSamples);
  _TraceFormat("  Maximum vertex attributes: %d\n", m_caps.maxVertexAttribs);
  Trace("  Texture Caps\n");
  _TraceFormat("    Conditionally supports 2-D textures not powers of 2: %s\n", YesNo(m_caps.textureNonPow2));
  _TraceFormat("    All textures's size must be powers of 2: %s\n", YesNo(!m_caps.textureNonPow2));
  _TraceFormat("    All textures must be square: %s\n", YesNo(false));
  _TraceFormat("    Max texture size: %d x %d\n", m_caps.maxTextureSize, m_caps.maxTextureSize);
  _TraceFormat("    Maximum simultaneous textures: %d\n", m_caps.maxTextureUnits);
  _TraceFormat("    Maximum anisotropy: %.0f\n", double(m_caps.maxAnisotropy));
}

void OvRendererGL::ReleaseAll() {
  if (m_context != nullptr) {
    SDL_Window* window = m_window ? *m_window : nullptr;
    if (window != nullptr) SDL_GL_MakeCurrent(window, m_context);
    if (m_vao != 0) glDeleteVertexArrays(1, &m_vao);
    m_vao = 0;
    SDL_GL_MakeCurrent(window, nullptr);
    SDL_GL_DeleteContext(m_context);
    m_context = nullptr;
  }
  m_frameWidth = m_frameHeight = 0;
  m_initialised = false;
  m_inScene = false;
}

bool OvRendererGL::IsHardwareDevice() const {
  // Software rasterisers report themselves in the renderer string.
  const char* r = m_caps.renderer;
  return !(std::strstr(r, "llvmpipe") || std::strstr(r, "softpipe") || std::strstr(r, "Software"));
}

bool OvRendererGL::ReadFrameSize() {
  SDL_Window* window = m_window ? *m_window : nullptr;
  if (!m_initialised || window == nullptr) return false;
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  m_frameWidth = w;
  m_frameHeight = h;
  return w > 0 && h > 0;
}

void OvRendererGL::SetAmbient(uint32_t argb) {
  m_ambient = argb;
  // Alpha, red, green, blue in the order the colour word holds them.
  for (int i = 0; i < 4; ++i) m_ambientF[i] = float((argb >> (24 - 8 * i)) & 0xFF) * 0.003921569f;
}

void OvRendererGL::SetFogRange(float fogNear, float fogFar, const OvMatrix& projection) {
  (void)projection;  // vertex fog would need it; this device fogs per pixel
  m_fogNear = fogNear;
  m_fogFar = fogFar;
}

void OvRendererGL::SetTexture(int stage, void* texture) {
  if (stage >= 0 && stage < kTextureStages) m_textures[stage] = texture;
}

void OvRendererGL::RenderList(OvScene& scene, const OvRenderItem* items, const OvLightItem* lights) {
  (void)scene, (void)items, (void)lights;
}

bool OvRendererGL::BeginScene() {
  if (!m_initialised) return false;
  // The window may have been resized since the last frame.
  ReadFrameSize();
  glViewport(0, 0, m_frameWidth, m_frameHeight);
  m_inScene = true;
  return true;
}

bool OvRendererGL::EndScene() {
  m_inScene = false;
  if (!m_initialised) {
    Trace("!!! EndScene() fail.\n");
    return false;
  }
  glFlush();
  return true;
}

bool OvRendererGL::ClearBackBuffer() {
  if (!m_initialised) {
    Trace("ClearBackBuffer() fail!\n");
    return false;
  }
  glClearColor(float((m_background >> 16) & 0xFF) / 255.0f, float((m_background >> 8) & 0xFF) / 255.0f,
               float(m_background & 0xFF) / 255.0f, float((m_background >> 24) & 0xFF) / 255.0f);
  glClearDepth(1.0);
  glClearStencil(0);
  glDepthMask(GL_TRUE);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  return true;
}

bool OvRendererGL::ClearZBuffer() {
  if (!m_initialised) {
    Trace("ClearZBuffer() fail!\n");
    return false;
  }
  glClearDepth(1.0);
  glDepthMask(GL_TRUE);
  glClear(GL_DEPTH_BUFFER_BIT);
  return true;
}

bool OvRendererGL::ShowBackBuffer() {
  SDL_Window* window = m_window ? *m_window : nullptr;
  if (!m_initialised || window == nullptr) {
    _TraceFormat("%s -- %s\n", "ShowBackBuffer() fail!", "device not initialised");
    return false;
  }
  SDL_GL_SwapWindow(window);
  UpdateTitleFrameRate();
  return true;
}

void OvRendererGL::UpdateTitleFrameRate() {
  ++m_presented;
  if (m_presented % 100 != 0) return;
  SDL_Window* window = *m_window;
  uint32_t now = OvTickCount();
  uint32_t elapsed = now - m_rateStartMs;  // wraps correctly
  m_rateStartMs = now;
  if (elapsed == 0) elapsed = 1;
  // Frames per second with two decimals, in integer arithmetic.
  uint64_t centiFps = uint64_t(100) * 100 * 1000 / elapsed;
  char title[100];
  std::snprintf(title, sizeof(title), "%s", SDL_GetWindowTitle(window));
  if (std::strstr(title, "fps]") != nullptr) {
    char* bracket = std::strrchr(title, '[');
    if (bracket != nullptr) {
      long cut = long(bracket - title) - 3;
      title[cut < 0 ? 0 : cut] = 0;
    }
  }
  char text[160];
  std::snprintf(text, sizeof(text), "%s   [%d.%02d fps]", title, int(centiFps / 100), int(centiFps % 100));
  SDL_SetWindowTitle(window, text);
}

bool OvRendererGL::ReadPixels(uint8_t* out, int width, int height) {
  if (!m_initialised || out == nullptr || width <= 0 || height <= 0) return false;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, out);
  return glGetError() == GL_NO_ERROR;
}
