#include "ov_renderer_gl.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <cstring>

#include "ov_clock.h"
#include "ov_font.h"
#include "ov_gl_program.h"
#include "ov_render_list.h"
#include "ov_shader_gen.h"
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

OvRendererGL::OvRendererGL() {
  DeviceDefaults();
  ResetCaches();
  for (OvMatrix& m : m_texTransform) OvMatrixIdentity(m);
}

OvRendererGL::~OvRendererGL() {
  ReleaseAll();
  // Resources outliving the renderer must not reach back into it.
  for (OvVolatileRes* r = m_volatiles; r;) {
    OvVolatileRes* next = r->m_next;
    r->m_renderer = nullptr;
    r->m_prev = r->m_next = nullptr;
    r = next;
  }
  m_volatiles = nullptr;
}

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
  _TraceFormat("Window display mode (width,height,refresh rate,format): %u, %u, %u, %u\n", unsigned(m_displayWidth),
               unsigned(m_displayHeight), unsigned(m_displayRefresh), unsigned(mode.format));
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
  const int interval = (m_waitVRetrace || m_fullScreen) ? 1 : 0;
  m_swapPaced = interval != 0 && SDL_GL_SetSwapInterval(interval) == 0 && SDL_GL_GetSwapInterval() != 0;
  if (interval == 0) SDL_GL_SetSwapInterval(0);

  // Core profile draws nothing without a bound vertex array.
  glGenVertexArrays(1, &m_vao);
  glBindVertexArray(m_vao);
  // Flat shading takes the first vertex's colour, as the device model does.
  glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

  FillCaps();
  glGenSamplers(OV_MAX_STAGES, m_samplers);
  for (int s = 0; s < OV_MAX_STAGES; ++s) glBindSampler(GLuint(s), m_samplers[s]);
  m_programs = new OvProgramCache();
  if (m_programs == nullptr) {
    _TraceFormat("%s -- %s\n", "Init GL failed!", "out of memory");
    ReleaseAll();
    return false;
  }

  // The device starts from its defaults; the caches know nothing yet.
  DeviceDefaults();
  ApplyAllDeviceStates();
  ResetCaches();
  m_keyDirty = true;
  SetRenderState(RS_LIGHTING, 1);
  EnableVertexShaders(true);
  EnablePixelShaders(true);
  SetAmbient(0);
  ApplyFixedDefaults();

  m_initialised = true;
  ReadFrameSize();
  glViewport(0, 0, m_frameWidth, m_frameHeight);
  ReportCaps();

  m_useVertexFog = m_caps.fogVertex && !(m_caps.fogTable && m_caps.fogW);
  Trace(m_useVertexFog ? "Use vertex fog.\n" : "Use table fog.\n");

  if (m_font != nullptr) Trace("!!! Font texture has not been released in OvRendererGL::Init()\n");
  Trace("Create font texture ...\n");
  CreateFontTexture();

  m_rateStartMs = OvTickCount();
  m_presented = 0;
  return true;
}

void OvRendererGL::FillCaps() {
  OvRenderCaps& c = m_caps;
  c = OvRenderCaps();
  c.vendor = GlString(GL_VENDOR);
  c.renderer = GlString(GL_RENDERER);
  c.version = GlString(GL_VERSION);
  c.glslVersion = GlString(GL_SHADING_LANGUAGE_VERSION);
  c.maxTextureSize = GlInt(GL_MAX_TEXTURE_SIZE);
  c.maxTextureAspect = c.maxTextureSize;
  c.maxTextureUnits = GlInt(GL_MAX_TEXTURE_IMAGE_UNITS);
  c.maxCombinedTextureUnits = GlInt(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS);
  c.maxVertexAttribs = GlInt(GL_MAX_VERTEX_ATTRIBS);
  c.maxRenderbufferSize = GlInt(GL_MAX_RENDERBUFFER_SIZE);
  c.maxSamples = GlInt(GL_MAX_SAMPLES);
  c.anisotropicFilter = epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic") ||
                        epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic");
  if (c.anisotropicFilter) glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &c.maxAnisotropy);
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &c.depthBits);
  SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &c.stencilBits);
  c.textureNonPow2 = true;
  c.texturePow2Only = false;
  c.textureSquareOnly = false;
  c.maxTextureStages = c.maxTextureUnits < OV_MAX_STAGES ? c.maxTextureUnits : OV_MAX_STAGES;
  c.maxLights = OV_MAX_LIGHTS;
  // Every table format has a GL upload path; colour render targets are 8888.
  for (bool& f : c.textureFormat) f = true;
  c.renderTargetFormat[int(OvTexFormat::A8R8G8B8)] = true;
  c.renderTargetFormat[int(OvTexFormat::X8R8G8B8)] = true;
  c.linearFilter = true;
  c.mipFilter = true;
  c.fogVertex = c.fogTable = c.fogW = c.fogRange = true;
  // The generated programs stand in for shader model 3.
  c.vertexShaderVersion = 0x0300;
  c.pixelShaderVersion = 0x0300;
  c.hardwareTnL = true;
  c.separateAlphaBlend = true;
  c.blendOps = true;
  c.maxUserClipPlanes = GlInt(GL_MAX_CLIP_DISTANCES);
  c.maxStreams = c.maxVertexAttribs;
}

void OvRendererGL::SetCaps(const OvRenderCaps& caps) {
  m_caps = caps;
  if (m_caps.maxTextureStages > OV_MAX_STAGES) m_caps.maxTextureStages = OV_MAX_STAGES;
  if (m_caps.maxTextureStages < 1) m_caps.maxTextureStages = 1;
  m_useVertexFog = m_caps.fogVertex && !(m_caps.fogTable && m_caps.fogW);
  m_keyDirty = true;
}

void OvRendererGL::ReportCaps() {
  const OvRenderCaps& c = m_caps;
  Trace("Device capabilities:\n");
  _TraceFormat("  Adapter no: %u\n", unsigned(m_adapter));
  Trace(m_fullScreen ? "  Full screen mode\n" : "  Window mode\n");
  _TraceFormat("  Vendor: %s\n", c.vendor);
  _TraceFormat("  Renderer: %s\n", c.renderer);
  _TraceFormat("  Version: %s\n", c.version);
  _TraceFormat("  Shading language: %s\n", c.glslVersion);
  _TraceFormat("  Display mode: %d, %d, %d\n", m_displayWidth, m_displayHeight, 32);
  _TraceFormat("  Frame buffer size: %d, %d\n", m_frameWidth, m_frameHeight);
  _TraceFormat("  Depth bits: %d, stencil bits: %d\n", c.depthBits, c.stencilBits);
  Trace("  Available render target format:\n");
  Trace("    texture: ");
  for (int i = 0; i < OV_TEX_FORMAT_COUNT; ++i)
    if (c.renderTargetFormat[i]) _TraceFormat("    %s", OvTexFormatName(OvTexFormat(i)));
  Trace("    ...\n");
  _TraceFormat("  VertexShaderVersion: 0x%x\n", unsigned(c.vertexShaderVersion));
  _TraceFormat("  PixelShaderVersion: 0x%x\n", unsigned(c.pixelShaderVersion));
  _TraceFormat("  Hardware T&L: %s\n", YesNo(IsHardwareDevice()));
  _TraceFormat("  Maximum render buffer size: %d\n", c.maxRenderbufferSize);
  _TraceFormat("  Maximum multisample count: %d\n", c.maxSamples);
  _TraceFormat("  Maximum user-defined clip planes: %d\n", c.maxUserClipPlanes);
  _TraceFormat("  Maximum number of concurrent data streams: %d\n", c.maxStreams);
  _TraceFormat("  Maximum vertex attributes: %d\n", c.maxVertexAttribs);
  Trace("  VertexProcessingCaps:\n");
  _TraceFormat("    Directional lights: %s\n", YesNo(c.maxLights > 0));
  _TraceFormat("    Point and spot lights: %s\n", YesNo(c.maxLights > 0));
  _TraceFormat("    Local viewer: %s\n", YesNo(true));
  _TraceFormat("    Selectable vertex color sources: %s\n", YesNo(true));
  _TraceFormat("    Device can generate texture coordinates: %s\n", YesNo(true));
  _TraceFormat("  Supports separate blend settings for the alpha : %s\n", YesNo(c.separateAlphaBlend));
  _TraceFormat("  Supports alpha-blending operations other than BLENDOP_ADD : %s\n", YesNo(c.blendOps));
  Trace("  Texture Caps\n");
  _TraceFormat("    Conditionally supports 2-D textures not powers of 2: %s\n", YesNo(c.textureNonPow2));
  _TraceFormat("    All textures's size must be powers of 2: %s\n", YesNo(c.texturePow2Only));
  _TraceFormat("    All textures must be square: %s\n", YesNo(c.textureSquareOnly));
  _TraceFormat("    Max texture size: %d x %d\n", c.maxTextureSize, c.maxTextureSize);
  _TraceFormat("    Maximum texture aspect ratio: %d\n", c.maxTextureAspect);
  _TraceFormat("    Maximum simultaneous textures: %d\n", c.maxTextureStages);
  _TraceFormat("    Maximum anisotropy: %.0f\n", double(c.maxAnisotropy));
}

bool OvRendererGL::CreateFontTexture() {
  const OvTexFormat format =
      m_caps.textureFormat[int(OvTexFormat::A4R4G4B4)] ? OvTexFormat::A4R4G4B4 : OvTexFormat::A8R8G8B8;
  if (!CreateTexture(m_fontStore, format, OV_FONT_SIZE, OV_FONT_SIZE, 1)) {
    Trace("!!! Create font texture failed.\n");
    return false;
  }
  const int n = OV_FONT_SIZE * OV_FONT_SIZE;
  void* pixels = AllocMem(size_t(n) * 4);
  if (!pixels) {
    DestroyTexture(m_fontStore);
    return false;
  }
  // White glyphs; the coverage is the alpha.
  for (int i = 0; i < n; ++i) {
    const uint32_t a = (g_ovFontCoverage[i / 2] >> ((i & 1) ? 0 : 4)) & 0xF;
    if (format == OvTexFormat::A4R4G4B4)
      static_cast<uint16_t*>(pixels)[i] = uint16_t(a << 12 | 0x0FFF);
    else
      static_cast<uint32_t*>(pixels)[i] = (a * 17) << 24 | 0x00FFFFFF;
  }
  const bool ok = UploadTextureLevel(m_fontStore, 0, pixels);
  OvMFree(pixels);
  if (!ok) {
    DestroyTexture(m_fontStore);
    return false;
  }
  m_font = &m_fontStore;
  return true;
}

void OvRendererGL::ReleaseAll() {
  if (m_context != nullptr) {
    SDL_Window* window = m_window ? *m_window : nullptr;
    if (window != nullptr) SDL_GL_MakeCurrent(window, m_context);
    SetRenderTarget(nullptr);
    if (m_font == &m_fontStore) m_font = nullptr;
    DestroyTexture(m_fontStore);
    ReleaseEffectTargets();
    DestroyBuffer(m_stream);
    DestroyBuffer(m_streamIndex);
    for (int s = 0; s < OV_MAX_STAGES; ++s) DeviceSetTexture(s, nullptr);
    delete m_shaders;
    m_shaders = nullptr;
    m_shaderProgram = 0;
    if (m_programs) m_programs->Clear();
    glUseProgram(0);
    glDeleteSamplers(OV_MAX_STAGES, m_samplers);
    for (unsigned& s : m_samplers) s = 0;
    if (m_vao != 0) glDeleteVertexArrays(1, &m_vao);
    m_vao = 0;
    SDL_GL_MakeCurrent(window, nullptr);
    SDL_GL_DeleteContext(m_context);
    m_context = nullptr;
  }
  delete m_programs;
  m_programs = nullptr;
  m_program = nullptr;
  m_boundProgram = 0;
  m_boundVbo = m_boundIbo = 0;
  m_boundLayout = 0;
  m_enabledAttribs = 0;
  m_effectTargetsFailed = false;
  m_frameWidth = m_frameHeight = 0;
  m_initialised = false;
  m_inScene = false;
  m_deviceLost = false;
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
  if (w != m_frameWidth || h != m_frameHeight) ++m_targetVersion;
  m_frameWidth = w;
  m_frameHeight = h;
  return w > 0 && h > 0;
}

void OvRendererGL::RenderList(OvScene& scene, const OvRenderItem* items, const OvLightItem* lights) {
  (void)scene;
  if (!m_initialised || m_deviceLost) return;
  OvDrawRenderList(*this, items, lights);
}

bool OvRendererGL::BeginScene() {
  if (!m_initialised) return false;
  // The window may have been resized since the last frame.
  ReadFrameSize();
  if (m_renderTarget == nullptr) glViewport(0, 0, m_frameWidth, m_frameHeight);
  m_rsChanges = 0;
  m_tssChanges = 0;
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
  // Clears ignore the write masks of the device model, as the device does.
  glDepthMask(GL_TRUE);
  glStencilMask(0xFFFFFFFFu);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  RestoreWriteMasks();
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
  RestoreWriteMasks();
  return true;
}

void OvRendererGL::RestoreWriteMasks() {
  const uint32_t cw = m_devRS[RS_COLORWRITEENABLE];
  glDepthMask(m_devRS[RS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
  glStencilMask(m_devRS[RS_STENCILWRITEMASK]);
  glColorMask((cw & COLORWRITE_RED) != 0, (cw & COLORWRITE_GREEN) != 0, (cw & COLORWRITE_BLUE) != 0,
              (cw & COLORWRITE_ALPHA) != 0);
}

bool OvRendererGL::ShowBackBuffer() {
  SDL_Window* window = m_window ? *m_window : nullptr;
  if (!m_initialised || window == nullptr) {
    _TraceFormat("%s -- %s\n", "ShowBackBuffer() fail!", "device not initialised");
    return false;
  }
  if (m_deviceLost) {
    // A lost device is not presented; it is reset for the next frame.
    SimulateDeviceReset();
    UpdateTitleFrameRate();
    return false;
  }
  SDL_GL_SwapWindow(window);
  UpdateTitleFrameRate();
  return true;
}

// ---------------------------------------------------------------------------
// Lost device and volatile resources.

OvVolatileRes::OvVolatileRes(OvRendererGL* renderer) : m_renderer(renderer) {
  if (m_renderer) m_renderer->AddVolatile(this);
}

OvVolatileRes::~OvVolatileRes() {
  if (m_renderer) m_renderer->RemoveVolatile(this);
}

void OvRendererGL::AddVolatile(OvVolatileRes* res) {
  res->m_prev = nullptr;
  res->m_next = m_volatiles;
  if (m_volatiles) m_volatiles->m_prev = res;
  m_volatiles = res;
}

void OvRendererGL::RemoveVolatile(OvVolatileRes* res) {
  if (res->m_prev)
    res->m_prev->m_next = res->m_next;
  else if (m_volatiles == res)
    m_volatiles = res->m_next;
  if (res->m_next) res->m_next->m_prev = res->m_prev;
  res->m_prev = res->m_next = nullptr;
}

void OvRendererGL::DeviceLostStep() {
  ReleaseEffectTargets();
  UseShaderProgram(0);
  for (OvVolatileRes* r = m_volatiles; r;) {
    OvVolatileRes* next = r->m_next;
    r->OnDeviceLost();
    r = next;
  }
}

void OvRendererGL::DeviceResetStep() {
  // A reset device is back at its defaults and the caches know nothing.
  DeviceDefaults();
  ApplyAllDeviceStates();
  ResetCaches();
  m_keyDirty = true;
  SetRenderState(RS_LIGHTING, 1);
  SetAmbient(0);
  ApplyFixedDefaults();
  for (OvVolatileRes* r = m_volatiles; r;) {
    OvVolatileRes* next = r->m_next;
    r->OnDeviceReset();
    r = next;
  }
}

void OvRendererGL::SimulateDeviceLost() {
  if (!m_initialised || m_deviceLost) return;
  _TraceFormat("%s -- %s\n", "ShowBackBuffer() fail!", "GLERR_DEVICELOST");
  m_deviceLost = true;
  Trace("m_OnDeviceLost()\n");
  DeviceLostStep();
}

bool OvRendererGL::SimulateDeviceReset() {
  if (!m_initialised || !m_deviceLost) return false;
  Trace("TestCooperativeLevel() : GLERR_DEVICENOTRESET\n");
  m_deviceLost = false;
  DeviceResetStep();
  _TraceFormat("Reset() successful, TestCooperativeLevel() -- %s\n", "GL_NO_ERROR");
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
  while (glGetError() != GL_NO_ERROR) {
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(m_renderTarget ? GL_COLOR_ATTACHMENT0 : GL_BACK);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, out);
  return glGetError() == GL_NO_ERROR;
}
