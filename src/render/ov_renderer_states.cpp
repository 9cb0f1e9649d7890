// The device-state model of OvRendererGL: caches, the saved-state stack,
// default states, blend modes, fog, lights, material and transforms; and the
// device layer below the caches, which applies what GL has natively.
#include <epoxy/gl.h>

#include <cstring>

#include "ov_renderer_gl.h"
#include "ov_trace.h"

namespace {

GLenum CompareToGL(uint32_t v) {
  switch (v) {
    case CMP_NEVER: return GL_NEVER;
    case CMP_LESS: return GL_LESS;
    case CMP_EQUAL: return GL_EQUAL;
    case CMP_LESSEQUAL: return GL_LEQUAL;
    case CMP_GREATER: return GL_GREATER;
    case CMP_NOTEQUAL: return GL_NOTEQUAL;
    case CMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
  }
}

GLenum BlendToGL(uint32_t v) {
  switch (v) {
    case BLEND_ZERO: return GL_ZERO;
    case BLEND_ONE: return GL_ONE;
    case BLEND_SRCCOLOR: return GL_SRC_COLOR;
    case BLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case BLEND_SRCALPHA: return GL_SRC_ALPHA;
    case BLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case BLEND_DESTALPHA: return GL_DST_ALPHA;
    case BLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case BLEND_DESTCOLOR: return GL_DST_COLOR;
    case BLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case BLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    default: return GL_ONE;
  }
}

GLenum BlendOpToGL(uint32_t v) {
  switch (v) {
    case BLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case BLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case BLENDOP_MIN: return GL_MIN;
    case BLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
  }
}

GLenum StencilOpToGL(uint32_t v) {
  switch (v) {
    case STENCILOP_ZERO: return GL_ZERO;
    case STENCILOP_REPLACE: return GL_REPLACE;
    case STENCILOP_INCRSAT: return GL_INCR;
    case STENCILOP_DECRSAT: return GL_DECR;
    case STENCILOP_INVERT: return GL_INVERT;
    case STENCILOP_INCR: return GL_INCR_WRAP;
    case STENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
  }
}

GLint AddressToGL(uint32_t v) {
  switch (v) {
    case TADDRESS_MIRROR:
    case TADDRESS_MIRRORONCE: return GL_MIRRORED_REPEAT;
    case TADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case TADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    default: return GL_REPEAT;
  }
}

void SetIdentity(OvMatrix& m) { OvMatrixIdentity(m); }

// Render states the program text or uniforms depend on.
bool IsProgramState(uint32_t state) {
  switch (state) {
    case RS_ALPHATESTENABLE:
    case RS_ALPHAFUNC:
    case RS_SHADEMODE:
    case RS_FOGENABLE:
    case RS_FOGTABLEMODE:
    case RS_FOGVERTEXMODE:
    case RS_RANGEFOGENABLE:
    case RS_SPECULARENABLE:
    case RS_LIGHTING:
    case RS_COLORVERTEX:
    case RS_LOCALVIEWER:
    case RS_NORMALIZENORMALS:
    case RS_DIFFUSEMATERIALSOURCE:
    case RS_SPECULARMATERIALSOURCE:
    case RS_AMBIENTMATERIALSOURCE:
    case RS_EMISSIVEMATERIALSOURCE: return true;
    default: return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Device layer.

void OvRendererGL::DeviceDefaults() {
  for (uint32_t& v : m_devRS) v = 0;
  auto rs = [this](uint32_t s, uint32_t v) { m_devRS[s] = v; };
  rs(RS_ZENABLE, 1);
  rs(RS_FILLMODE, FILL_SOLID);
  rs(RS_SHADEMODE, SHADE_GOURAUD);
  rs(RS_ZWRITEENABLE, 1);
  rs(RS_SRCBLEND, BLEND_ONE);
  rs(RS_DESTBLEND, BLEND_ZERO);
  rs(RS_CULLMODE, CULL_CCW);
  rs(RS_ZFUNC, CMP_LESSEQUAL);
  rs(RS_ALPHAFUNC, CMP_ALWAYS);
  rs(RS_FOGTABLEMODE, FOG_NONE);
  rs(RS_FOGSTART, OvFloatState(0.0f));
  rs(RS_FOGEND, OvFloatState(1.0f));
  rs(RS_FOGDENSITY, OvFloatState(1.0f));
  rs(RS_STENCILFAIL, STENCILOP_KEEP);
  rs(RS_STENCILZFAIL, STENCILOP_KEEP);
  rs(RS_STENCILPASS, STENCILOP_KEEP);
  rs(RS_STENCILFUNC, CMP_ALWAYS);
  rs(RS_STENCILMASK, 0xFFFFFFFFu);
  rs(RS_STENCILWRITEMASK, 0xFFFFFFFFu);
  rs(RS_TEXTUREFACTOR, 0xFFFFFFFFu);
  rs(RS_CLIPPING, 1);
  rs(RS_LIGHTING, 1);
  rs(RS_FOGVERTEXMODE, FOG_NONE);
  rs(RS_COLORVERTEX, 1);
  rs(RS_LOCALVIEWER, 1);
  rs(RS_DIFFUSEMATERIALSOURCE, MCS_COLOR1);
  rs(RS_SPECULARMATERIALSOURCE, MCS_COLOR2);
  rs(RS_AMBIENTMATERIALSOURCE, MCS_MATERIAL);
  rs(RS_EMISSIVEMATERIALSOURCE, MCS_MATERIAL);
  rs(RS_COLORWRITEENABLE, 0xF);
  rs(RS_BLENDOP, BLENDOP_ADD);
  rs(RS_LASTPIXEL, 1);
  rs(RS_SRCBLENDALPHA, BLEND_ONE);
  rs(RS_DESTBLENDALPHA, BLEND_ZERO);
  rs(RS_BLENDOPALPHA, BLENDOP_ADD);

  for (int s = 0; s < OV_MAX_STAGES; ++s) {
    uint32_t* t = m_devTSS[s];
    for (int i = 0; i < OV_STAGE_STATE_COUNT; ++i) t[i] = 0;
    t[TSS_COLOROP] = s == 0 ? TOP_MODULATE : TOP_DISABLE;
    t[TSS_COLORARG1] = TA_TEXTURE;
    t[TSS_COLORARG2] = TA_CURRENT;
    t[TSS_ALPHAOP] = s == 0 ? TOP_SELECTARG1 : TOP_DISABLE;
    t[TSS_ALPHAARG1] = TA_TEXTURE;
    t[TSS_ALPHAARG2] = TA_CURRENT;
    t[TSS_TEXCOORDINDEX] = uint32_t(s);
    t[TSS_TEXTURETRANSFORMFLAGS] = TTFF_DISABLE;
    t[TSS_COLORARG0] = TA_CURRENT;
    t[TSS_ALPHAARG0] = TA_CURRENT;
    t[TSS_RESULTARG] = TA_CURRENT;

    uint32_t* p = m_devSamp[s];
    for (int i = 0; i < OV_SAMPLER_STATE_COUNT; ++i) p[i] = 0;
    p[SAMP_ADDRESSU] = p[SAMP_ADDRESSV] = p[SAMP_ADDRESSW] = TADDRESS_WRAP;
    p[SAMP_MAGFILTER] = p[SAMP_MINFILTER] = TEXF_POINT;
    p[SAMP_MIPFILTER] = TEXF_NONE;
    p[SAMP_MIPMAPLODBIAS] = OvFloatState(0.0f);
    p[SAMP_MAXANISOTROPY] = 1;
    m_devTextures[s] = nullptr;
  }
  ++m_transformVersion, ++m_targetVersion, ++m_lightVersion, ++m_materialVersion, ++m_stateVersion;
}

void OvRendererGL::ApplyBlendFunc() {
  if (!m_context) return;
  const bool separate = m_devRS[RS_SEPARATEALPHABLENDENABLE] != 0;
  const uint32_t src = m_devRS[RS_SRCBLEND], dst = m_devRS[RS_DESTBLEND], op = m_devRS[RS_BLENDOP];
  glBlendFuncSeparate(BlendToGL(src), BlendToGL(dst), BlendToGL(separate ? m_devRS[RS_SRCBLENDALPHA] : src),
                      BlendToGL(separate ? m_devRS[RS_DESTBLENDALPHA] : dst));
  glBlendEquationSeparate(BlendOpToGL(op), BlendOpToGL(separate ? m_devRS[RS_BLENDOPALPHA] : op));
  m_glCalls += 2;
}

void OvRendererGL::ApplyStencil() {
  if (!m_context) return;
  glStencilFunc(CompareToGL(m_devRS[RS_STENCILFUNC]), GLint(m_devRS[RS_STENCILREF]), m_devRS[RS_STENCILMASK]);
  glStencilOp(StencilOpToGL(m_devRS[RS_STENCILFAIL]), StencilOpToGL(m_devRS[RS_STENCILZFAIL]),
              StencilOpToGL(m_devRS[RS_STENCILPASS]));
  m_glCalls += 2;
}

void OvRendererGL::ApplyCull() {
  if (!m_context) return;
  const uint32_t mode = m_devRS[RS_CULLMODE];
  if (mode != CULL_CW && mode != CULL_CCW) {
    glDisable(GL_CULL_FACE);
    ++m_glCalls;
    return;
  }
  glEnable(GL_CULL_FACE);
  // Render targets are drawn upside down, which turns the winding round.
  glFrontFace(m_renderTarget ? GL_CW : GL_CCW);
  glCullFace(mode == CULL_CW ? GL_BACK : GL_FRONT);
  m_glCalls += 3;
}

void OvRendererGL::ApplySampler(int s) {
  if (!m_context || m_samplers[s] == 0) return;
  const GLuint smp = m_samplers[s];
  const uint32_t* p = m_devSamp[s];
  glSamplerParameteri(smp, GL_TEXTURE_WRAP_S, AddressToGL(p[SAMP_ADDRESSU]));
  glSamplerParameteri(smp, GL_TEXTURE_WRAP_T, AddressToGL(p[SAMP_ADDRESSV]));
  glSamplerParameteri(smp, GL_TEXTURE_WRAP_R, AddressToGL(p[SAMP_ADDRESSW]));
  const uint32_t b = p[SAMP_BORDERCOLOR];
  const float border[4] = {float((b >> 16) & 0xFF) / 255.0f, float((b >> 8) & 0xFF) / 255.0f, float(b & 0xFF) / 255.0f,
                           float(b >> 24) / 255.0f};
  glSamplerParameterfv(smp, GL_TEXTURE_BORDER_COLOR, border);
  const bool magLinear = p[SAMP_MAGFILTER] >= TEXF_LINEAR;
  glSamplerParameteri(smp, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
  const bool minLinear = p[SAMP_MINFILTER] >= TEXF_LINEAR;
  GLint minFilter = minLinear ? GL_LINEAR : GL_NEAREST;
  if (p[SAMP_MIPFILTER] == TEXF_POINT)
    minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
  else if (p[SAMP_MIPFILTER] >= TEXF_LINEAR)
    minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
  glSamplerParameteri(smp, GL_TEXTURE_MIN_FILTER, minFilter);
  glSamplerParameterf(smp, GL_TEXTURE_LOD_BIAS, OvStateFloat(p[SAMP_MIPMAPLODBIAS]));
  glSamplerParameterf(smp, GL_TEXTURE_MIN_LOD, float(p[SAMP_MAXMIPLEVEL]));
  m_glCalls += 8;
  if (m_caps.anisotropicFilter) {
    float aniso = p[SAMP_MINFILTER] == TEXF_ANISOTROPIC ? float(p[SAMP_MAXANISOTROPY]) : 1.0f;
    if (aniso < 1.0f) aniso = 1.0f;
    if (aniso > m_caps.maxAnisotropy) aniso = m_caps.maxAnisotropy;
    glSamplerParameterf(smp, GL_TEXTURE_MAX_ANISOTROPY_EXT, aniso);
    ++m_glCalls;
  }
}

void OvRendererGL::ApplyAllDeviceStates() {
  if (!m_context) return;
  const uint32_t* d = m_devRS;
  d[RS_ZENABLE] ? glEnable(GL_DEPTH_TEST) : glDisable(GL_DEPTH_TEST);
  glDepthMask(d[RS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
  glDepthFunc(CompareToGL(d[RS_ZFUNC]));
  d[RS_ALPHABLENDENABLE] ? glEnable(GL_BLEND) : glDisable(GL_BLEND);
  d[RS_STENCILENABLE] ? glEnable(GL_STENCIL_TEST) : glDisable(GL_STENCIL_TEST);
  glStencilMask(d[RS_STENCILWRITEMASK]);
  d[RS_DITHERENABLE] ? glEnable(GL_DITHER) : glDisable(GL_DITHER);
  glBlendEquation(BlendOpToGL(d[RS_BLENDOP]));
  glColorMask((d[RS_COLORWRITEENABLE] & COLORWRITE_RED) != 0, (d[RS_COLORWRITEENABLE] & COLORWRITE_GREEN) != 0,
              (d[RS_COLORWRITEENABLE] & COLORWRITE_BLUE) != 0, (d[RS_COLORWRITEENABLE] & COLORWRITE_ALPHA) != 0);
  glPolygonMode(GL_FRONT_AND_BACK, d[RS_FILLMODE] == FILL_WIREFRAME ? GL_LINE
                                   : d[RS_FILLMODE] == FILL_POINT   ? GL_POINT
                                                                    : GL_FILL);
  const float bias = OvStateFloat(d[RS_DEPTHBIAS]);
  const float slope = OvStateFloat(d[RS_SLOPESCALEDEPTHBIAS]);
  (bias != 0.0f || slope != 0.0f) ? glEnable(GL_POLYGON_OFFSET_FILL) : glDisable(GL_POLYGON_OFFSET_FILL);
  glPolygonOffset(slope, bias * 16777215.0f);
  m_glCalls += 12;
  ApplyBlendFunc();
  ApplyStencil();
  ApplyCull();
  for (int s = 0; s < OV_MAX_STAGES; ++s) {
    ApplySampler(s);
    glActiveTexture(GLenum(GL_TEXTURE0 + s));
    const OvGLTexture* t = m_devTextures[s];
    glBindTexture(GL_TEXTURE_2D, t && !t->cube ? t->name : 0);
    glBindTexture(GL_TEXTURE_CUBE_MAP, t && t->cube ? t->name : 0);
  }
  glActiveTexture(GL_TEXTURE0);
}

void OvRendererGL::DeviceSetRenderState(uint32_t state, uint32_t value) {
  state &= 255;
  ++m_deviceCalls;
  ++m_rsChanges;
  m_devRS[state] = value;
  if (IsProgramState(state)) m_keyDirty = true;
  const bool gl = m_context != nullptr;
  switch (state) {
    case RS_ZENABLE:
      if (gl) value ? glEnable(GL_DEPTH_TEST) : glDisable(GL_DEPTH_TEST), ++m_glCalls;
      break;
    case RS_ZWRITEENABLE:
      if (gl) glDepthMask(value ? GL_TRUE : GL_FALSE), ++m_glCalls;
      break;
    case RS_ZFUNC:
      if (gl) glDepthFunc(CompareToGL(value)), ++m_glCalls;
      break;
    case RS_ALPHABLENDENABLE:
      if (gl) value ? glEnable(GL_BLEND) : glDisable(GL_BLEND), ++m_glCalls;
      break;
    case RS_SRCBLEND:
    case RS_DESTBLEND:
    case RS_BLENDOP:
    case RS_SEPARATEALPHABLENDENABLE:
    case RS_SRCBLENDALPHA:
    case RS_DESTBLENDALPHA:
    case RS_BLENDOPALPHA: ApplyBlendFunc(); break;
    case RS_CULLMODE: ApplyCull(); break;
    case RS_FILLMODE:
      if (gl) {
        glPolygonMode(GL_FRONT_AND_BACK, value == FILL_WIREFRAME ? GL_LINE : value == FILL_POINT ? GL_POINT : GL_FILL);
        ++m_glCalls;
      }
      break;
    case RS_STENCILENABLE:
      if (gl) value ? glEnable(GL_STENCIL_TEST) : glDisable(GL_STENCIL_TEST), ++m_glCalls;
      break;
    case RS_STENCILFAIL:
    case RS_STENCILZFAIL:
    case RS_STENCILPASS:
    case RS_STENCILFUNC:
    case RS_STENCILREF:
    case RS_STENCILMASK: ApplyStencil(); break;
    case RS_STENCILWRITEMASK:
      if (gl) glStencilMask(value), ++m_glCalls;
      break;
    case RS_DITHERENABLE:
      if (gl) value ? glEnable(GL_DITHER) : glDisable(GL_DITHER), ++m_glCalls;
      break;
    case RS_COLORWRITEENABLE:
      if (gl) {
        glColorMask((value & COLORWRITE_RED) != 0, (value & COLORWRITE_GREEN) != 0, (value & COLORWRITE_BLUE) != 0,
                    (value & COLORWRITE_ALPHA) != 0);
        ++m_glCalls;
      }
      break;
    case RS_DEPTHBIAS:
    case RS_SLOPESCALEDEPTHBIAS:
      if (gl) {
        const float bias = OvStateFloat(m_devRS[RS_DEPTHBIAS]);
        const float slope = OvStateFloat(m_devRS[RS_SLOPESCALEDEPTHBIAS]);
        (bias != 0.0f || slope != 0.0f) ? glEnable(GL_POLYGON_OFFSET_FILL) : glDisable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(slope, bias * 16777215.0f);
        m_glCalls += 2;
      }
      break;
    case RS_AMBIENT: ++m_materialVersion; break;
    case RS_FOGCOLOR:
    case RS_FOGSTART:
    case RS_FOGEND:
    case RS_FOGDENSITY:
    case RS_TEXTUREFACTOR:
    case RS_ALPHAREF: ++m_stateVersion; break;
    default: break;
  }
}

void OvRendererGL::DeviceSetStageState(int stage, uint32_t state, uint32_t value) {
  stage &= 7;
  state &= 31;
  ++m_deviceCalls;
  ++m_tssChanges;
  m_devTSS[stage][state] = value;
  m_keyDirty = true;
}

void OvRendererGL::DeviceSetSamplerState(int sampler, uint32_t state, uint32_t value) {
  sampler &= 7;
  state &= 15;
  ++m_deviceCalls;
  m_devSamp[sampler][state] = value;
  ApplySampler(sampler);
}

void OvRendererGL::DeviceSetTexture(int stage, OvGLTexture* tex) {
  stage &= 7;
  ++m_deviceCalls;
  const OvGLTexture* old = m_devTextures[stage];
  const bool wasCube = old && old->cube, cube = tex && tex->cube;
  // A cube is sampled through another sampler type: the program changes.
  if ((old != nullptr) != (tex != nullptr) || wasCube != cube) m_keyDirty = true;
  m_devTextures[stage] = tex;
  if (m_context) {
    glActiveTexture(GLenum(GL_TEXTURE0 + stage));
    if (wasCube != cube) glBindTexture(wasCube ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D, 0), ++m_glCalls;
    glBindTexture(cube ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D, tex ? tex->name : 0);
    glActiveTexture(GL_TEXTURE0);
    m_glCalls += 3;
  }
}

// ---------------------------------------------------------------------------
// Caches.

void OvRendererGL::ResetCaches() {
  for (uint32_t& v : m_rs) v = OV_STATE_UNKNOWN;
  for (auto& stage : m_tss)
    for (uint32_t& v : stage) v = OV_STATE_UNKNOWN;
  for (auto& sampler : m_samp)
    for (uint32_t& v : sampler) v = OV_STATE_UNKNOWN;
  for (int s = 0; s < OV_MAX_STAGES; ++s) {
    m_textures[s] = nullptr;
    m_textureKnown[s] = false;
  }
}

void OvRendererGL::SetRenderState(uint32_t state, uint32_t value) {
  state &= 255;
  if (m_rs[state] == value && value != OV_STATE_UNKNOWN) return;
  m_rs[state] = value;
  DeviceSetRenderState(state, value);
}

uint32_t OvRendererGL::GetRenderState(uint32_t state) {
  state &= 255;
  if (m_rs[state] == OV_STATE_UNKNOWN) m_rs[state] = m_devRS[state];
  return m_rs[state];
}

void OvRendererGL::SetRenderStates(const OvStatePair* list, int count) {
  for (int i = 0; list && i < count; ++i) SetRenderState(list[i].state, list[i].value);
}

void OvRendererGL::GetRenderStates(OvStatePair* list, int count) {
  for (int i = 0; list && i < count; ++i) list[i].value = GetRenderState(list[i].state);
}

void OvRendererGL::SetSamplerState(int sampler, uint32_t state, uint32_t value) {
  if (sampler < 0 || sampler >= OV_MAX_STAGES) return;
  state &= 15;
  if (m_samp[sampler][state] == value && value != OV_STATE_UNKNOWN) return;
  m_samp[sampler][state] = value;
  DeviceSetSamplerState(sampler, state, value);
}

uint32_t OvRendererGL::GetSamplerState(int sampler, uint32_t state) {
  sampler &= 7;
  state &= 15;
  if (m_samp[sampler][state] == OV_STATE_UNKNOWN) m_samp[sampler][state] = m_devSamp[sampler][state];
  return m_samp[sampler][state];
}

void OvRendererGL::SetSamplerStates(int sampler, const OvStatePair* list, int count) {
  for (int i = 0; list && i < count; ++i) SetSamplerState(sampler, list[i].state, list[i].value);
}

void OvRendererGL::SetTextureStageState(int stage, uint32_t state, uint32_t value) {
  if (stage < 0 || stage >= OV_MAX_STAGES) return;
  state &= 31;
  if (m_tss[stage][state] == value && value != OV_STATE_UNKNOWN) return;
  m_tss[stage][state] = value;
  DeviceSetStageState(stage, state, value);
}

uint32_t OvRendererGL::GetTextureStageState(int stage, uint32_t state) {
  stage &= 7;
  state &= 31;
  if (m_tss[stage][state] == OV_STATE_UNKNOWN) m_tss[stage][state] = m_devTSS[stage][state];
  return m_tss[stage][state];
}

void OvRendererGL::SetTextureStageStates(int stage, const OvStatePair* list, int count) {
  for (int i = 0; list && i < count; ++i) SetTextureStageState(stage, list[i].state, list[i].value);
}

void OvRendererGL::PushRenderStates(const OvStatePair* list, int count) {
  for (int i = 0; list && i < count; ++i) {
    if (m_savedCount < OV_SAVED_STATE_CAPACITY) {
      const uint32_t state = list[i].state & 255;
      m_saved[m_savedCount++] = {state, GetRenderState(state)};
    }
    SetRenderState(list[i].state, list[i].value);
  }
}

void OvRendererGL::PopRenderStates() {
  // Newest first, so a state saved twice ends at its oldest value.
  while (m_savedCount > 0) {
    const OvStatePair& p = m_saved[--m_savedCount];
    SetRenderState(p.state, p.value);
  }
}

void OvRendererGL::SetTexture(int stage, void* texture) {
  if (stage < 0 || stage >= OV_MAX_STAGES) return;
  if (m_textureKnown[stage] && m_textures[stage] == texture) return;
  m_textures[stage] = texture;
  m_textureKnown[stage] = true;
  DeviceSetTexture(stage, static_cast<OvGLTexture*>(texture));
}

void* OvRendererGL::Texture(int stage) const {
  if (stage < 0 || stage >= OV_MAX_STAGES) return nullptr;
  return m_textureKnown[stage] ? m_textures[stage] : m_devTextures[stage];
}

// ---------------------------------------------------------------------------
// Default states, blending, stages.

void OvRendererGL::ApplyFixedDefaults() {
  SetRenderState(RS_COLORVERTEX, 0);
  SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_MATERIAL);
  SetRenderState(RS_SPECULARMATERIALSOURCE, MCS_MATERIAL);
  SetRenderState(RS_AMBIENTMATERIALSOURCE, MCS_MATERIAL);
  SetRenderState(RS_EMISSIVEMATERIALSOURCE, MCS_MATERIAL);
}

void OvRendererGL::SetDefaultStates(bool specular) {
  if (specular) {
    SetRenderState(RS_LIGHTING, 1);
    SetSoftwareVertexProcessing(false);
  }
  SetRenderState(RS_SPECULARENABLE, specular ? 1 : 0);
  SetRenderState(RS_CULLMODE, CULL_CW);
  SetRenderState(RS_SHADEMODE, SHADE_GOURAUD);
  SetStageTextureTimesDiffuse(0);
  SetTextureStageState(1, TSS_COLOROP, TOP_DISABLE);
  for (int s = 0; s < OV_MAX_STAGES; ++s) {
    if (m_caps.linearFilter) {
      SetSamplerState(s, SAMP_MAGFILTER, TEXF_LINEAR);
      SetSamplerState(s, SAMP_MINFILTER, TEXF_LINEAR);
      SetSamplerState(s, SAMP_MIPFILTER, TEXF_LINEAR);
      SetSamplerState(s, SAMP_MIPMAPLODBIAS, OvFloatState(0.0f));
    } else {
      SetSamplerState(s, SAMP_MAGFILTER, TEXF_POINT);
      SetSamplerState(s, SAMP_MINFILTER, TEXF_POINT);
      SetSamplerState(s, SAMP_MIPFILTER, TEXF_NONE);
    }
  }
  SetRenderState(RS_WRAP0, 0);
  SetSamplerState(0, SAMP_ADDRESSU, TADDRESS_WRAP);
  SetSamplerState(0, SAMP_ADDRESSV, TADDRESS_WRAP);
  SetRenderState(RS_DITHERENABLE, 1);
  SetRenderState(RS_ZENABLE, 1);
  SetRenderState(RS_ZFUNC, CMP_LESSEQUAL);
  SetRenderState(RS_ALPHATESTENABLE, 1);
  SetRenderState(RS_ALPHAREF, 128);
  SetRenderState(RS_ALPHAFUNC, CMP_GREATER);
  SetRenderState(RS_FILLMODE, m_wireframe ? FILL_WIREFRAME : FILL_SOLID);
}

void OvRendererGL::SetBlendMode(int mode) {
  if (mode == 0) {
    SetRenderState(RS_ALPHABLENDENABLE, 0);
    return;
  }
  SetRenderState(RS_ALPHABLENDENABLE, 1);
  SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
  if (mode == 1) {
    SetRenderState(RS_DESTBLEND, BLEND_INVSRCALPHA);
    return;
  }
  SetRenderState(RS_DESTBLEND, BLEND_ONE);
  // Fog would add its colour to what lies behind.
  if (GetRenderState(RS_FOGENABLE)) {
    const OvStatePair black{RS_FOGCOLOR, 0};
    PushRenderStates(&black, 1);
  }
}

void OvRendererGL::SetStageTextureTimesDiffuse(int stage) {
  SetTextureStageState(stage, TSS_COLOROP, TOP_MODULATE);
  SetTextureStageState(stage, TSS_COLORARG1, TA_TEXTURE);
  SetTextureStageState(stage, TSS_COLORARG2, TA_DIFFUSE);
  SetTextureStageState(stage, TSS_ALPHAOP, TOP_MODULATE);
  SetTextureStageState(stage, TSS_ALPHAARG1, TA_TEXTURE);
  SetTextureStageState(stage, TSS_ALPHAARG2, TA_DIFFUSE);
}

void OvRendererGL::DisableStage(int lastStage) {
  if (lastStage < 0 || lastStage > 6) return;
  SetTextureStageState(lastStage + 1, TSS_COLOROP, TOP_DISABLE);
}

int OvRendererGL::GetMaxTextures() const {
  int n = m_caps.maxTextureStages;
  if (m_textureLimit > 0 && m_textureLimit < n) n = m_textureLimit;
  return n;
}

uint32_t OvRendererGL::EnableVertexShaders(bool on) {
  m_vsVersion = on ? m_caps.vertexShaderVersion : 0;
  return m_vsVersion;
}

uint32_t OvRendererGL::EnablePixelShaders(bool on) {
  m_psVersion = on ? m_caps.pixelShaderVersion : 0;
  return m_psVersion;
}

void OvRendererGL::SetAmbient(uint32_t argb) {
  m_ambient = argb;
  // Alpha, red, green, blue in the order the colour word holds them.
  for (int i = 0; i < 4; ++i) m_ambientF[i] = float((argb >> (24 - 8 * i)) & 0xFF) * 0.003921569f;
  SetRenderState(RS_AMBIENT, argb);
}

// ---------------------------------------------------------------------------
// Fog.

void OvRendererGL::SetFogRange(float fogNear, float fogFar, const OvMatrix& projection) {
  if (m_useVertexFog) {
    SetRenderState(RS_FOGTABLEMODE, FOG_NONE);
    // Vertex fog needs its own mode and range, in eye distances.
    SetRenderState(RS_FOGVERTEXMODE, FOG_LINEAR);
    SetRenderState(RS_FOGSTART, OvFloatState(fogNear));
    SetRenderState(RS_FOGEND, OvFloatState(fogFar));
    return;
  }
  SetRenderState(RS_FOGTABLEMODE, FOG_LINEAR);
  const OvMatrix& p = projection;
  if (m_caps.fogW && p.m[2][3] == 1.0f) {
    SetRenderState(RS_FOGSTART, OvFloatState(fogNear));
    SetRenderState(RS_FOGEND, OvFloatState(fogFar));
    return;
  }
  // Per-pixel fog then runs on projected depth.
  auto project = [&p](float d) {
    const float w = d * p.m[2][3] + p.m[3][3];
    return w != 0.0f ? (d * p.m[2][2] + p.m[3][2]) / w : d;
  };
  SetRenderState(RS_FOGSTART, OvFloatState(project(fogNear)));
  SetRenderState(RS_FOGEND, OvFloatState(project(fogFar)));
}

// ---------------------------------------------------------------------------
// Lights and material.

void OvRendererGL::EnableLighting(bool on) {
  SetRenderState(RS_LIGHTING, on ? 1 : 0);
  SetRenderState(RS_NORMALIZENORMALS, on ? 1 : 0);
}

void OvRendererGL::EnableLight(int index, bool on) {
  if (index < 0 || index >= OV_MAX_LIGHTS) return;
  if (m_lightOn[index] == on) return;
  m_lightOn[index] = on;
  ++m_lightVersion;
  // Lit programs are built for the enabled lights.
  m_keyDirty = true;
}

bool OvRendererGL::SetLight(int index, const OvLightData& light) {
  if (index < 0 || index >= OV_MAX_LIGHTS) return false;
  const int32_t before = m_lights[index].type;
  m_lights[index] = light;
  const int32_t t = light.type;
  if (t != OV_DEVLIGHT_POINT && t != OV_DEVLIGHT_SPOT && t != OV_DEVLIGHT_DIRECTIONAL)
    m_lights[index].type = OV_DEVLIGHT_POINT;
  // The type is part of the lit programs.
  if (m_lights[index].type != before) m_keyDirty = true;
  ++m_lightVersion;
  return true;
}

void OvRendererGL::SetActiveLight(const OvLightData* light, int32_t a, int32_t b) {
  m_activeLightSet = light != nullptr;
  if (light) m_activeLight = *light;
  m_value[0] = a;
  m_value[1] = b;
}

void OvRendererGL::SetMaterial(const OvMaterial& material) {
  // Meshes sharing a material set it draw after draw: only a change
  // reaches the programs.
  if (std::memcmp(&m_material, &material, sizeof(material)) == 0) return;
  // Lit programs leave the highlight out for a black specular colour.
  if (BlackSpecular(m_material) != BlackSpecular(material)) m_keyDirty = true;
  m_material = material;
  ++m_materialVersion;
}

// ---------------------------------------------------------------------------
// Transforms.

void OvRendererGL::UpdateViewProducts() {
  OvMatMul4x4(m_viewProj, m_view, m_projection);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m_viewProjT.m[r][c] = m_viewProj.m[c][r];
  ++m_transformVersion;
}

void OvRendererGL::SetWorldMatrix(const OvMatrix* world) {
  m_worldPtr = world;
  if (world)
    m_world = *world;
  else
    SetIdentity(m_world);
  ++m_transformVersion;
}

void OvRendererGL::SetViewMatrix(const OvMatrix& view) {
  m_view = view;
  OvMatrix inverse;
  OvMatInversePRS(inverse, view);
  OvMatrixGetPos(inverse, m_cameraPos);
  UpdateViewProducts();
  ++m_lightVersion;  // lights are given to programs in eye space
}

void OvRendererGL::SetProjectionMatrix(const OvMatrix& projection) {
  m_projection = projection;
  UpdateViewProducts();
  m_keyDirty = true;  // the fog variant follows the projection
}

void OvRendererGL::SetTextureTransform(int stage, const OvMatrix& m) {
  if (stage < 0 || stage >= OV_MAX_STAGES) return;
  m_texTransform[stage] = m;
  ++m_stateVersion;
}

void OvRendererGL::ResetWorldMode() {
  if (m_worldMode != 1 || m_deviceLost) return;
  m_worldMode = 0;
  // The per-mesh matrices went straight to the device: reload the kept one.
  ++m_transformVersion;
}
