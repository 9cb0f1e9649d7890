// The render device on OpenGL 3.3 core: device creation on an SDL window (or
// SDL's offscreen driver), the capability report, the per-frame bracket, the
// device-state model with its caches, transforms, lights, fog, volatile
// resources, the effect render-target pair, debug drawing and the font.
//
// Drawing: see ov_gl_draw.h for the vertex formats, buffers, textures and the
// Draw calls; state values are in ov_render_states.h. The fixed-function
// states (stage combines, lighting, fog, alpha test, texture-coordinate
// generation) become generated GLSL programs, cached by a state key.
#pragma once

#include <cstdint>

#include "ov_clump.h"
#include "ov_gl_draw.h"
#include "ov_math.h"
#include "ov_memory.h"
#include "ov_mesh.h"
#include "ov_render_states.h"
#include "ov_renderer.h"
#include "ov_volatile.h"

struct SDL_Window;
typedef void* SDL_GLContext;
class OvProgramCache;
struct OvProgram;
class OvShaderCache;

// Every capability the renderer and its users test; filled once by Init
// from the GL context. Tests may narrow it with SetCaps (e.g. drop texture
// formats, stages, table fog) to reach fall-backs.
struct OvRenderCaps {
  const char* vendor = "";
  const char* renderer = "";
  const char* version = "";
  const char* glslVersion = "";
  int maxTextureSize = 0;
  int maxTextureAspect = 0;
  int maxTextureUnits = 0;
  int maxCombinedTextureUnits = 0;
  int maxVertexAttribs = 0;
  int maxRenderbufferSize = 0;
  int maxSamples = 0;
  float maxAnisotropy = 0;
  bool textureNonPow2 = true;
  bool texturePow2Only = false;
  bool textureSquareOnly = false;
  int depthBits = 0;
  int stencilBits = 0;
  // Texture-stage count of the fixed-function model (at most 8).
  int maxTextureStages = 0;
  int maxLights = 0;
  // Formats usable as textures and as render-target textures.
  bool textureFormat[OV_TEX_FORMAT_COUNT] = {};
  bool renderTargetFormat[OV_TEX_FORMAT_COUNT] = {};
  // Filtering.
  bool linearFilter = false;
  bool mipFilter = false;
  bool anisotropicFilter = false;
  // Fog: per-vertex, per-pixel, per-pixel on eye depth, range-based.
  bool fogVertex = false;
  bool fogTable = false;
  bool fogW = false;
  bool fogRange = false;
  // Shaders (major << 8 | minor; 0 = none).
  uint32_t vertexShaderVersion = 0;
  uint32_t pixelShaderVersion = 0;
  bool hardwareTnL = false;
  bool separateAlphaBlend = false;
  bool blendOps = false;
  int maxUserClipPlanes = 0;
  int maxStreams = 0;
};

// True when the material's specular colour is black (it lights nothing).
bool BlackSpecular(const OvMaterial& material);

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
  // Whether presenting waits for the display's retrace (the swap interval
  // could be set); without it the caller paces its frames.
  bool SwapPaced() const { return m_swapPaced; }
  void SetWireframe(bool on) { m_wireframe = on; }
  bool IsFullScreen() const { return m_fullScreen; }

  // ---- Device --------------------------------------------------------------
  virtual void SetWindow(SDL_Window** window);
  virtual bool Init(bool useFirstAdapter);
  virtual void ReleaseAll();
  virtual bool IsHardwareDevice() const;
  int GetFrameWidth() const override { return m_frameWidth; }
  int GetFrameHeight() const override { return m_frameHeight; }
  // Texture stages usable at once: the caps' stage count, or the configured
  // limit when lower.
  virtual int GetMaxTextures() const;
  virtual void SetTextureLimit(int limit) { m_textureLimit = limit; }
  // Shader versions in use (the device's, or 0 when switched off).
  virtual uint32_t EnableVertexShaders(bool on);
  virtual uint32_t EnablePixelShaders(bool on);
  uint32_t VertexShaderVersion() const { return m_vsVersion; }
  uint32_t PixelShaderVersion() const { return m_psVersion; }
  virtual bool ReadFrameSize();
  bool BeginScene() override;
  bool EndScene() override;
  virtual bool IsInScene() const { return m_inScene; }
  bool ClearBackBuffer() override;
  virtual bool ClearZBuffer();
  bool ShowBackBuffer() override;

  // ---- Transforms ------------------------------------------------------------
  // Remembers the pointer and loads the matrix; null loads identity.
  virtual void SetWorldMatrix(const OvMatrix* world);
  void SetViewMatrix(const OvMatrix& view) override;
  void SetProjectionMatrix(const OvMatrix& projection) override;
  // The texture matrix of a stage (used with TSS_TEXTURETRANSFORMFLAGS).
  void SetTextureTransform(int stage, const OvMatrix& m);
  const OvMatrix* WorldMatrixPointer() const { return m_worldPtr; }
  const OvMatrix& WorldMatrix() const { return m_world; }
  const OvMatrix& ViewMatrix() const { return m_view; }
  const OvMatrix& ProjectionMatrix() const { return m_projection; }
  const OvMatrix& ViewProjMatrix() const { return m_viewProj; }
  const OvMatrix& ViewProjTransposed() const { return m_viewProjT; }
  const OvVector& CameraPosition() const { return m_cameraPos; }
  // World-transform mode: 0 plain, 1 per mesh, 2 through the shader manager.
  void SetWorldMode(int mode) { m_worldMode = mode; }
  int WorldMode() const { return m_worldMode; }
  // After per-mesh world matrices: reloads the current world matrix.
  virtual void ResetWorldMode();

  // ---- Common states ---------------------------------------------------------
  virtual void EnableZ(bool on) { SetRenderState(RS_ZENABLE, on ? 1 : 0); }
  void EnableZWrite(bool on) override { SetRenderState(RS_ZWRITEENABLE, on ? 1 : 0); }
  virtual void EnableAlphaTest(bool on) { SetRenderState(RS_ALPHATESTENABLE, on ? 1 : 0); }
  void SetBackgroundColour(uint32_t argb) override { m_background = argb; }
  void SetAmbient(uint32_t argb) override;
  // 0 opaque; 1 alpha (source alpha / inverse source alpha); 2 additive
  // (source alpha / one; with fog on, the fog colour is pushed on the saved
  // stack and set to black: PopRenderStates restores it).
  virtual void SetBlendMode(int mode);
  // Null handle unbinds the stage; the handle is an OvGLTexture*.
  void SetTexture(int stage, void* texture) override;
  void* Texture(int stage) const;
  virtual void SetFontTexture(OvGLTexture* texture) { m_font = texture; }
  OvGLTexture* FontTexture() const { return m_font; }
  virtual void BindFontTexture(int stage) { SetTexture(stage, m_font); }

  // ---- Fog -------------------------------------------------------------------
  void EnableFog(bool on) override { SetRenderState(RS_FOGENABLE, on ? 1 : 0); }
  void SetFogRange(float fogNear, float fogFar, const OvMatrix& projection) override;
  bool UsesVertexFog() const override { return m_useVertexFog; }
  void SetFogColour(uint32_t argb) override { SetRenderState(RS_FOGCOLOR, argb); }

  // ---- Lighting --------------------------------------------------------------
  // RS_LIGHTING and RS_NORMALIZENORMALS together.
  virtual void EnableLighting(bool on);
  virtual void EnableLight(int index, bool on);
  // Light in world space; types 1 point, 2 spot, 3 directional, others point.
  virtual bool SetLight(int index, const OvLightData& light);
  bool LightEnabled(int index) const { return index >= 0 && index < OV_MAX_LIGHTS && m_lightOn[index]; }
  const OvLightData& Light(int index) const { return m_lights[index & (OV_MAX_LIGHTS - 1)]; }
  // The lighting material (colours as RGBA floats, then the power).
  void SetMaterial(const OvMaterial& material);
  const OvMaterial& Material() const { return m_material; }
  // Two integers kept for other users of the renderer.
  virtual void SetValuePair(int32_t a, int32_t b) { m_value[0] = a, m_value[1] = b; }
  // Keeps a copy of the light (null clears it) and the two integers.
  virtual void SetActiveLight(const OvLightData* light, int32_t a, int32_t b);
  virtual const OvLightData* GetActiveLight() const { return m_activeLightSet ? &m_activeLight : nullptr; }
  virtual int32_t GetValue0() const { return m_value[0]; }
  virtual int32_t GetValue1() const { return m_value[1]; }

  // ---- Default states and stages ------------------------------------------------
  // Fixed states at the start of drawing; specular also switches lighting on.
  void SetDefaultStates(bool specular) override;
  virtual void SetSoftwareVertexProcessing(bool on) { m_softwareVP = on; }
  // Disables the stage after lastStage (lastStage <= 6): the stages used are
  // 0 ... lastStage.
  virtual void DisableStage(int lastStage);
  // The cull mode meshes draw with: CULL_CCW when on, else CULL_CW.
  virtual void SetCullCCW(bool on) { m_cullMode = on ? CULL_CCW : CULL_CW; }
  virtual bool IsCullCCW() const { return m_cullMode == CULL_CCW; }
  uint32_t DefaultCullMode() const { return m_cullMode; }

  // ---- State caches ------------------------------------------------------------
  // Each reaches the device only when the value differs from the cache.
  virtual void SetRenderState(uint32_t state, uint32_t value);
  uint32_t GetRenderState(uint32_t state);
  virtual void SetRenderStates(const OvStatePair* list, int count);
  // Fills each pair's value from the cache (fetching unknown entries).
  virtual void GetRenderStates(OvStatePair* list, int count);
  virtual void SetSamplerState(int sampler, uint32_t state, uint32_t value);
  uint32_t GetSamplerState(int sampler, uint32_t state);
  virtual void SetSamplerStates(int sampler, const OvStatePair* list, int count);
  virtual void SetTextureStageState(int stage, uint32_t state, uint32_t value);
  uint32_t GetTextureStageState(int stage, uint32_t state);
  virtual void SetTextureStageStates(int stage, const OvStatePair* list, int count);
  // The stage gives texture × diffuse, for colour and alpha alike.
  void SetStageTextureTimesDiffuse(int stage);
  // Saves (state, current value) of each listed state on the saved-state
  // stack (while it holds fewer than 512 entries), then sets the listed value.
  virtual void PushRenderStates(const OvStatePair* list, int count);
  // Re-applies every saved pair, newest first, and empties the stack.
  virtual void PopRenderStates();
  int SavedStateCount() const { return m_savedCount; }
  // Real render-state and texture-stage changes since the frame began.
  int RenderStateChanges() const { return m_rsChanges; }
  int StageStateChanges() const { return m_tssChanges; }

  // ---- Drawing (see ov_gl_draw.h) -------------------------------------------
  bool CreateVertexBuffer(OvGLBuffer& out, uint32_t bytes, bool dynamic, const void* data = nullptr);
  bool CreateIndexBuffer(OvGLBuffer& out, uint32_t bytes, int indexSize, bool dynamic, const void* data = nullptr);
  bool UpdateBuffer(OvGLBuffer& buf, uint32_t offset, uint32_t bytes, const void* data);
  void DestroyBuffer(OvGLBuffer& buf);
  bool Draw(const OvVertexFormat& fmt, const OvGLBuffer& vbo, const OvGLBuffer* ibo, OvPrimitive prim, uint32_t first,
            uint32_t primitiveCount, uint32_t baseVertex = 0);
  // Draw with a second stream: the tangent-basis rows T, B, N (36 bytes a
  // vertex) in attributes 9 ... 11.
  bool DrawWithBasis(const OvVertexFormat& fmt, const OvGLBuffer& vbo, const OvGLBuffer& basis, const OvGLBuffer* ibo,
                     OvPrimitive prim, uint32_t first, uint32_t primitiveCount);
  bool DrawUser(const OvVertexFormat& fmt, const void* vertices, OvPrimitive prim, uint32_t primitiveCount);
  bool DrawUserIndexed(const OvVertexFormat& fmt, const void* vertices, uint32_t vertexCount, const uint16_t* indices,
                       OvPrimitive prim, uint32_t primitiveCount);

  bool CreateTexture(OvGLTexture& out, OvTexFormat format, int width, int height, int levels);
  bool UploadTextureLevel(OvGLTexture& tex, int level, const void* pixels);
  void DestroyTexture(OvGLTexture& tex);
  // Renders into a render-target texture of the pair (null: the back buffer).
  bool SetRenderTarget(const OvGLTexture* target);
  const OvGLTexture* RenderTarget() const { return m_renderTarget; }

  // The frame's visible clumps with their lights (OvDrawRenderList).
  void RenderList(OvScene& scene, const OvRenderItem* items, const OvLightItem* lights) override;

  // ---- Run-time shader programs (ov_shader_gen.h) -----------------------------
  // The renderer's shader cache, made on first use (null without a context).
  OvShaderCache* ShaderCache();
  // Draws use this linked program instead of the generated ones; 0 returns
  // to the generated programs. Binds it at once so constants can be set.
  void UseShaderProgram(unsigned program);
  unsigned ShaderProgram() const { return m_shaderProgram; }

  // ---- Effects and debug drawing ----------------------------------------------
  // The effect render-target pair, made on first request; false when the
  // device is lost or a previous attempt failed.
  bool GetEffectTargets(OvGLTexture** first, OvGLTexture** second);
  // Draws the stage-0 texture at pixel rectangle (x, y, w, h), y from the
  // bottom of the frame, texture pixels (u, v) ... (u + w, v + h).
  virtual void DrawScreenRect(int x, int y, int u, int v, int w, int h);
  virtual void SetLineColour(uint32_t argb) { m_lineColour = argb; }
  uint32_t LineColour() const { return m_lineColour; }
  // With the current world matrix and states (switch lighting off first to
  // see the line colour).
  virtual void DrawLine(const OvVector& a, const OvVector& b);
  virtual void DrawBox(const OvVector& min, const OvVector& max);
  virtual void DrawSphere(const OvVector& centre, float radius, int slices, int stacks);

  // ---- Lost device ----------------------------------------------------------------
  bool IsDeviceLost() const { return m_deviceLost; }
  // Test call: the device is lost now (runs the device-lost step); the next
  // ShowBackBuffer, or SimulateDeviceReset, resets it.
  void SimulateDeviceLost();
  // Test call: runs the device-reset step of a lost device.
  bool SimulateDeviceReset();

  // ---- Queries and test hooks -------------------------------------------------------
  bool IsInitialised() const { return m_initialised; }
  uint32_t BackgroundColour() const { return m_background; }
  uint32_t AmbientColour() const { return m_ambient; }
  const float* AmbientFloats() const { return m_ambientF; }
  const OvRenderCaps& Caps() const { return m_caps; }
  // Replaces the caps (tests narrow them); re-derives the fog variant.
  void SetCaps(const OvRenderCaps& caps);
  uint32_t PresentedFrames() const { return m_presented; }
  bool LightingOn() { return GetRenderState(RS_LIGHTING) != 0; }
  bool FogOn() { return GetRenderState(RS_FOGENABLE) != 0; }
  uint32_t FogColour() { return GetRenderState(RS_FOGCOLOR); }
  bool ZWriteOn() { return GetRenderState(RS_ZWRITEENABLE) != 0; }
  // Calls that reached the device layer (cache misses) and GL calls made by
  // state changes; programs compiled and cached.
  uint64_t DeviceStateCalls() const { return m_deviceCalls; }
  uint64_t GLStateCalls() const { return m_glCalls; }
  int ProgramCompiles() const;
  int ProgramCount() const;
  // The device's value of a state (not the cache).
  uint32_t DeviceRenderState(uint32_t state) const { return m_devRS[state & 255]; }
  uint32_t DeviceStageState(int stage, uint32_t state) const { return m_devTSS[stage & 7][state & 31]; }
  uint32_t DeviceSamplerState(int sampler, uint32_t state) const { return m_devSamp[sampler & 7][state & 15]; }
  // The cache entry as stored (OV_STATE_UNKNOWN when not yet known).
  uint32_t CachedRenderState(uint32_t state) const { return m_rs[state & 255]; }

  // Reads the back buffer (RGBA, bottom row first; a render target in use
  // gives its top row first) into out, which holds width * height * 4
  // bytes; call it before ShowBackBuffer.
  bool ReadPixels(uint8_t* out, int width, int height);

 private:
  friend class OvVolatileRes;

  void ReportCaps();
  void FillCaps();
  void UpdateTitleFrameRate();
  void DeviceLostStep();
  void DeviceResetStep();
  void ApplyFixedDefaults();
  void ResetCaches();
  void AddVolatile(OvVolatileRes* res);
  void RemoveVolatile(OvVolatileRes* res);
  void ReleaseEffectTargets();
  bool CreateFontTexture();
  void UpdateViewProducts();
  void RestoreWriteMasks();

  // Device layer: stores the value, applies what GL has natively, marks the
  // program key stale for the rest.
  void DeviceSetRenderState(uint32_t state, uint32_t value);
  void DeviceSetStageState(int stage, uint32_t state, uint32_t value);
  void DeviceSetSamplerState(int sampler, uint32_t state, uint32_t value);
  void DeviceSetTexture(int stage, OvGLTexture* tex);
  void DeviceDefaults();
  void ApplyAllDeviceStates();
  void ApplyBlendFunc();
  void ApplyStencil();
  void ApplyCull();
  void ApplySampler(int sampler);
  bool PrepareDraw(const OvVertexFormat& fmt);
  // The draw call itself, once the vertex arrays are bound.
  void DrawBound(const OvGLBuffer* ibo, OvPrimitive prim, uint32_t first, uint32_t primitiveCount, uint32_t baseVertex);
  void BindVertexFormat(const OvVertexFormat& fmt, unsigned vbo, uintptr_t base);
  void UploadUniforms(OvProgram& prog, const OvVertexFormat& fmt);
  bool StreamVertices(const void* data, uint32_t bytes, uintptr_t& offset);

  SDL_Window** m_window = nullptr;
  SDL_GLContext m_context = nullptr;
  bool m_fullScreen = false;
  int m_requestedWidth = 0;
  int m_requestedHeight = 0;
  bool m_waitVRetrace = true;
  bool m_swapPaced = false;
  bool m_wireframe = false;
  int m_adapter = 0;

  bool m_initialised = false;
  bool m_inScene = false;
  bool m_deviceLost = false;
  bool m_useVertexFog = false;
  bool m_softwareVP = false;
  int m_frameWidth = 0;
  int m_frameHeight = 0;
  int m_displayWidth = 0;
  int m_displayHeight = 0;
  int m_displayRefresh = 0;
  unsigned m_vao = 0;
  unsigned m_samplers[OV_MAX_STAGES] = {};
  OvRenderCaps m_caps;
  int m_textureLimit = OV_MAX_STAGES;
  uint32_t m_vsVersion = 0;
  uint32_t m_psVersion = 0;

  uint32_t m_background = 0xFFFFFFFFu;
  uint32_t m_ambient = 0;
  float m_ambientF[4] = {0, 0, 0, 0};
  uint32_t m_cullMode = CULL_CW;
  uint32_t m_lineColour = 0xFFFFFFFFu;

  // Transforms.
  const OvMatrix* m_worldPtr = nullptr;
  OvMatrix m_world{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  OvMatrix m_view{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  OvMatrix m_projection{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  OvMatrix m_viewProj{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  OvMatrix m_viewProjT{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  OvMatrix m_texTransform[OV_MAX_STAGES];
  OvVector m_cameraPos{0, 0, 0};
  int m_worldMode = 0;

  // Lights and material.
  OvLightData m_lights[OV_MAX_LIGHTS];
  bool m_lightOn[OV_MAX_LIGHTS] = {};
  OvMaterial m_material{{1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
  OvLightData m_activeLight;
  bool m_activeLightSet = false;
  int32_t m_value[2] = {0, 0};

  // State caches and the device's own values.
  uint32_t m_rs[OV_RENDER_STATE_COUNT];
  uint32_t m_tss[OV_MAX_STAGES][OV_STAGE_STATE_COUNT];
  uint32_t m_samp[OV_MAX_STAGES][OV_SAMPLER_STATE_COUNT];
  void* m_textures[OV_MAX_STAGES] = {};
  bool m_textureKnown[OV_MAX_STAGES] = {};
  uint32_t m_devRS[OV_RENDER_STATE_COUNT];
  uint32_t m_devTSS[OV_MAX_STAGES][OV_STAGE_STATE_COUNT];
  uint32_t m_devSamp[OV_MAX_STAGES][OV_SAMPLER_STATE_COUNT];
  OvGLTexture* m_devTextures[OV_MAX_STAGES] = {};
  OvStatePair m_saved[OV_SAVED_STATE_CAPACITY];
  int m_savedCount = 0;
  int m_rsChanges = 0;
  int m_tssChanges = 0;
  uint64_t m_deviceCalls = 0;
  uint64_t m_glCalls = 0;

  // Generated programs and what the current one was last given.
  OvProgramCache* m_programs = nullptr;
  uint32_t m_transformVersion = 1;
  uint32_t m_targetVersion = 1;  // frame size or render target
  uint32_t m_lightVersion = 1;
  uint32_t m_materialVersion = 1;
  uint32_t m_stateVersion = 1;
  bool m_keyDirty = true;
  uint32_t m_keyFormat = 0;
  OvProgram* m_program = nullptr;
  unsigned m_boundProgram = 0;
  OvShaderCache* m_shaders = nullptr;
  unsigned m_shaderProgram = 0;
  unsigned m_boundVbo = 0;
  uintptr_t m_boundBase = ~uintptr_t(0);
  uint32_t m_boundLayout = 0;
  uint32_t m_enabledAttribs = 0;
  unsigned m_boundIbo = 0;
  OvGLBuffer m_stream;       // DrawUser vertices
  OvGLBuffer m_streamIndex;  // DrawUserIndexed indices
  uint32_t m_streamUsed = 0;
  uint32_t m_streamIndexUsed = 0;

  // Render targets, font, volatile resources.
  OvGLTexture m_effectTargets[2];
  bool m_effectTargetsMade = false;
  bool m_effectTargetsFailed = false;
  const OvGLTexture* m_renderTarget = nullptr;
  OvGLTexture m_fontStore;
  OvGLTexture* m_font = nullptr;
  OvVolatileRes* m_volatiles = nullptr;

  uint32_t m_presented = 0;
  uint32_t m_rateStartMs = 0;
};
