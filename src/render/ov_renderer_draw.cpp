// Drawing on OvRendererGL: vertex formats, buffers, textures, the program key
// of the current state, uniform upload, draws, render targets and debug
// drawing.
#include <epoxy/gl.h>

#include <cmath>
#include <cstring>

#include "ov_gl_program.h"
#include "ov_renderer_gl.h"
#include "ov_trace.h"

// ---------------------------------------------------------------------------
// Formats.

int OvVertexStride(uint32_t flags, int texSets) {
  if (texSets < 0) texSets = 0;
  if (texSets > OV_MAX_TEXCOORD_SETS) texSets = OV_MAX_TEXCOORD_SETS;
  int stride = (flags & VF_XYZRHW) ? 16 : 12;
  if ((flags & VF_NORMAL) && !(flags & VF_XYZRHW)) stride += 12;
  if (flags & VF_DIFFUSE) stride += 4;
  if (flags & VF_SPECULAR) stride += 4;
  return stride + 8 * texSets;
}

OvVertexFormat OvMakeVertexFormat(uint32_t flags, int texSets, int stride) {
  OvVertexFormat f;
  if (texSets < 0) texSets = 0;
  if (texSets > OV_MAX_TEXCOORD_SETS) texSets = OV_MAX_TEXCOORD_SETS;
  // Screen vertices carry no normal.
  if (flags & VF_XYZRHW) flags &= ~uint32_t(VF_XYZ | VF_NORMAL);
  f.flags = flags;
  f.texSets = texSets;
  int off = (flags & VF_XYZRHW) ? 16 : 12;
  f.offPosition = 0;
  if (flags & VF_NORMAL) f.offNormal = off, off += 12;
  if (flags & VF_DIFFUSE) f.offDiffuse = off, off += 4;
  if (flags & VF_SPECULAR) f.offSpecular = off, off += 4;
  for (int i = 0; i < texSets; ++i) f.offTex[i] = off, off += 8;
  f.stride = stride > off ? stride : off;
  return f;
}

uint32_t OvPrimitiveVertexCount(OvPrimitive prim, uint32_t count) {
  if (count == 0) return 0;
  switch (prim) {
    case PRIM_POINTLIST: return count;
    case PRIM_LINELIST: return count * 2;
    case PRIM_LINESTRIP: return count + 1;
    case PRIM_TRIANGLELIST: return count * 3;
    case PRIM_TRIANGLESTRIP:
    case PRIM_TRIANGLEFAN: return count + 2;
  }
  return 0;
}

int OvTexFormatBytes(OvTexFormat format) {
  switch (format) {
    case OvTexFormat::X8R8G8B8:
    case OvTexFormat::A8R8G8B8: return 4;
    case OvTexFormat::R8G8B8: return 3;
    case OvTexFormat::R3G3B2:
    case OvTexFormat::A8: return 1;
    default: return 2;
  }
}

const char* OvTexFormatName(OvTexFormat format) {
  static const char* const kNames[] = {"X8R8G8B8", "A8R8G8B8", "R8G8B8", "R5G6B5",   "X1R5G5B5", "A1R5G5B5",
                                       "A4R4G4B4", "R3G3B2",   "A8",     "A8R3G3B2", "X4R4G4B4"};
  const int i = int(format);
  return i >= 0 && i < OV_TEX_FORMAT_COUNT ? kNames[i] : "unknown";
}

namespace {

GLenum PrimitiveToGL(OvPrimitive prim) {
  switch (prim) {
    case PRIM_POINTLIST: return GL_POINTS;
    case PRIM_LINELIST: return GL_LINES;
    case PRIM_LINESTRIP: return GL_LINE_STRIP;
    case PRIM_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case PRIM_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
  }
}

// How a format is stored and uploaded.
struct GLFormat {
  GLint internal;
  GLenum format;
  GLenum type;
  bool opaque;     // the alpha field carries no alpha
  bool alphaOnly;  // A8: colour reads as black
  bool convert;    // A8R3G3B2: widened to 8888 on upload
};

GLFormat GLFormatOf(OvTexFormat f) {
  switch (f) {
    case OvTexFormat::X8R8G8B8: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, true, false, false};
    case OvTexFormat::A8R8G8B8: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, false, false, false};
    case OvTexFormat::R8G8B8: return {GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE, true, false, false};
    case OvTexFormat::R5G6B5: return {GL_RGB8, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, true, false, false};
    case OvTexFormat::X1R5G5B5: return {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, true, false, false};
    case OvTexFormat::A1R5G5B5: return {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, false, false, false};
    case OvTexFormat::A4R4G4B4: return {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, false, false, false};
    case OvTexFormat::X4R4G4B4: return {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, true, false, false};
    case OvTexFormat::R3G3B2: return {GL_R3_G3_B2, GL_RGB, GL_UNSIGNED_BYTE_3_3_2, true, false, false};
    case OvTexFormat::A8: return {GL_R8, GL_RED, GL_UNSIGNED_BYTE, false, true, false};
    case OvTexFormat::A8R3G3B2: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, false, false, true};
    default: break;
  }
  return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, false, false, false};
}

uint32_t Expand3(uint32_t v) { return (v << 5) | (v << 2) | (v >> 1); }
uint32_t Expand2(uint32_t v) { return v * 0x55; }

// Inverse of the upper 3 x 3 part; identity when singular.
void Inverse3(float out[9], const OvMatrix& m) {
  const float a = m.m[0][0], b = m.m[0][1], c = m.m[0][2];
  const float d = m.m[1][0], e = m.m[1][1], f = m.m[1][2];
  const float g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];
  const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
  const float det = a * A + b * B + c * C;
  if (det == 0.0f || !std::isfinite(det)) {
    const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::memcpy(out, id, sizeof(id));
    return;
  }
  const float r = 1.0f / det;
  out[0] = A * r, out[1] = -(b * i - c * h) * r, out[2] = (b * f - c * e) * r;
  out[3] = B * r, out[4] = (a * i - c * g) * r, out[5] = -(a * f - c * d) * r;
  out[6] = C * r, out[7] = -(a * h - b * g) * r, out[8] = (a * e - b * d) * r;
}

void ColourToFloats(uint32_t argb, float out[4]) {
  out[0] = float((argb >> 16) & 0xFF) / 255.0f;
  out[1] = float((argb >> 8) & 0xFF) / 255.0f;
  out[2] = float(argb & 0xFF) / 255.0f;
  out[3] = float(argb >> 24) / 255.0f;
}

int FloorPow2(int n) {
  if (n < 1) return 0;
  int p = 1;
  while (p <= n / 2) p *= 2;
  return p;
}

constexpr uint32_t kStreamBytes = 256 * 1024;

}  // namespace

bool BlackSpecular(const OvMaterial& m) {
  return m.specular[0] == 0.0f && m.specular[1] == 0.0f && m.specular[2] == 0.0f;
}

// ---------------------------------------------------------------------------
// Buffers.

namespace {

bool MakeBuffer(OvGLBuffer& out, uint32_t bytes, bool dynamic, const void* data) {
  GLuint name = 0;
  glGenBuffers(1, &name);
  if (name == 0) return false;
  while (glGetError() != GL_NO_ERROR) {
  }
  glBindBuffer(GL_COPY_WRITE_BUFFER, name);
  glBufferData(GL_COPY_WRITE_BUFFER, GLsizeiptr(bytes), data, dynamic ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
  glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteBuffers(1, &name);
    return false;
  }
  out.name = name;
  out.size = bytes;
  out.dynamic = dynamic;
  return true;
}

}  // namespace

bool OvRendererGL::CreateVertexBuffer(OvGLBuffer& out, uint32_t bytes, bool dynamic, const void* data) {
  out = OvGLBuffer();
  if (!m_context || bytes == 0) return false;
  if (!MakeBuffer(out, bytes, dynamic, data)) return false;
  out.index = false;
  return true;
}

bool OvRendererGL::CreateIndexBuffer(OvGLBuffer& out, uint32_t bytes, int indexSize, bool dynamic, const void* data) {
  out = OvGLBuffer();
  if (!m_context || bytes == 0 || (indexSize != 2 && indexSize != 4)) return false;
  if (!MakeBuffer(out, bytes, dynamic, data)) return false;
  out.index = true;
  out.indexSize = indexSize;
  return true;
}

bool OvRendererGL::UpdateBuffer(OvGLBuffer& buf, uint32_t offset, uint32_t bytes, const void* data) {
  if (!m_context || buf.name == 0 || data == nullptr) return false;
  if (offset > buf.size || bytes > buf.size - offset) return false;
  if (bytes == 0) return true;
  glBindBuffer(GL_COPY_WRITE_BUFFER, buf.name);
  glBufferSubData(GL_COPY_WRITE_BUFFER, GLintptr(offset), GLsizeiptr(bytes), data);
  glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
  return true;
}

void OvRendererGL::DestroyBuffer(OvGLBuffer& buf) {
  if (buf.name != 0 && m_context) {
    // A later buffer may reuse the name: forget what was bound.
    if (m_boundVbo == buf.name) m_boundVbo = 0, m_boundLayout = 0;
    if (m_boundIbo == buf.name) m_boundIbo = 0;
    glDeleteBuffers(1, &buf.name);
  }
  buf = OvGLBuffer();
}

// ---------------------------------------------------------------------------
// Textures.

bool OvRendererGL::CreateTexture(OvGLTexture& out, OvTexFormat format, int width, int height, int levels) {
  out = OvGLTexture();
  const int fi = int(format);
  if (!m_context || fi < 0 || fi >= OV_TEX_FORMAT_COUNT || !m_caps.textureFormat[fi]) return false;
  if (width < 1 || height < 1 || width > m_caps.maxTextureSize || height > m_caps.maxTextureSize) return false;
  int full = 1;
  for (int s = width > height ? width : height; s > 1; s >>= 1) ++full;
  if (levels <= 0 || levels > full) levels = full;

  const GLFormat gf = GLFormatOf(format);
  GLuint name = 0;
  glGenTextures(1, &name);
  if (name == 0) return false;
  while (glGetError() != GL_NO_ERROR) {
  }
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, name);
  for (int l = 0; l < levels; ++l) {
    const int w = width >> l > 0 ? width >> l : 1;
    const int h = height >> l > 0 ? height >> l : 1;
    glTexImage2D(GL_TEXTURE_2D, l, gf.internal, w, h, 0, gf.format, gf.type, nullptr);
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels - 1);
  if (gf.alphaOnly) {
    const GLint swz[4] = {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED};
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swz);
  } else if (gf.opaque) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
  }
  glBindTexture(GL_TEXTURE_2D, m_devTextures[0] && !m_devTextures[0]->cube ? m_devTextures[0]->name : 0);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteTextures(1, &name);
    return false;
  }
  out.name = name;
  out.width = width;
  out.height = height;
  out.levels = levels;
  out.format = format;
  return true;
}

bool OvRendererGL::UploadTextureLevel(OvGLTexture& tex, int level, const void* pixels) {
  if (!m_context || tex.name == 0 || pixels == nullptr || level < 0 || level >= tex.levels) return false;
  const int w = tex.width >> level > 0 ? tex.width >> level : 1;
  const int h = tex.height >> level > 0 ? tex.height >> level : 1;
  const GLFormat gf = GLFormatOf(tex.format);
  const void* data = pixels;
  uint32_t* wide = nullptr;
  if (gf.convert) {
    // A8R3G3B2 has no GL pixel type: widen to 8888.
    wide = static_cast<uint32_t*>(AllocMem(size_t(w) * size_t(h) * 4));
    if (!wide) return false;
    const auto* src = static_cast<const uint8_t*>(pixels);
    for (int i = 0; i < w * h; ++i) {
      const uint32_t c = uint32_t(src[2 * i]) | uint32_t(src[2 * i + 1]) << 8;
      wide[i] = ((c >> 8) << 24) | (Expand3((c >> 5) & 7) << 16) | (Expand3((c >> 2) & 7) << 8) | Expand2(c & 3);
    }
    data = wide;
  }
  while (glGetError() != GL_NO_ERROR) {
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, tex.name);
  glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, w, h, gf.format, gf.type, data);
  glBindTexture(GL_TEXTURE_2D, m_devTextures[0] && !m_devTextures[0]->cube ? m_devTextures[0]->name : 0);
  OvMFree(wide);
  return glGetError() == GL_NO_ERROR;
}

void OvRendererGL::DestroyTexture(OvGLTexture& tex) {
  for (int s = 0; s < OV_MAX_STAGES; ++s) {
    if (m_textures[s] == &tex) {
      m_textures[s] = nullptr;
      m_textureKnown[s] = false;
    }
    if (m_devTextures[s] == &tex) {
      m_devTextures[s] = nullptr;
      m_keyDirty = true;
    }
  }
  if (m_font == &tex) m_font = nullptr;
  if (m_renderTarget == &tex) SetRenderTarget(nullptr);
  if (m_context) {
    if (tex.framebuffer) glDeleteFramebuffers(1, &tex.framebuffer);
    if (tex.depthBuffer) glDeleteRenderbuffers(1, &tex.depthBuffer);
    if (tex.name) glDeleteTextures(1, &tex.name);
  }
  tex = OvGLTexture();
}

bool OvRendererGL::SetRenderTarget(const OvGLTexture* target) {
  if (!m_context) return false;
  if (target && target->framebuffer == 0) return false;
  m_renderTarget = target;
  if (target) {
    glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
    glViewport(0, 0, target->width, target->height);
  } else {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, m_frameWidth, m_frameHeight);
  }
  ApplyCull();
  ++m_targetVersion;
  return true;
}

namespace {

bool MakeRenderTarget(OvGLTexture& t, int w, int h) {
  glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t.name, 0);
  glBindRenderbuffer(GL_RENDERBUFFER, t.depthBuffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, w, h);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, t.depthBuffer);
  const bool ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  return ok;
}

}  // namespace

bool OvRendererGL::GetEffectTargets(OvGLTexture** first, OvGLTexture** second) {
  if (!m_effectTargetsMade) {
    if (m_deviceLost || m_effectTargetsFailed || !m_context) return false;
    int w = FloorPow2(m_frameWidth - 1);
    int h = FloorPow2(m_frameHeight - 1);
    if (m_caps.textureSquareOnly) w = h = (w < h ? w : h);
    OvTexFormat format = OvTexFormat::A8R8G8B8;
    if (!m_caps.renderTargetFormat[int(format)]) format = OvTexFormat::X8R8G8B8;
    bool ok = w > 0 && h > 0 && m_caps.renderTargetFormat[int(format)];
    for (int i = 0; ok && i < 2; ++i) {
      OvGLTexture& t = m_effectTargets[i];
      ok = CreateTexture(t, format, w, h, 1);
      if (ok) {
        glGenFramebuffers(1, &t.framebuffer);
        glGenRenderbuffers(1, &t.depthBuffer);
        ok = MakeRenderTarget(t, w, h);
      }
    }
    glBindFramebuffer(GL_FRAMEBUFFER, m_renderTarget ? m_renderTarget->framebuffer : 0);
    if (!ok) {
      // Both or neither; no second attempt.
      for (OvGLTexture& t : m_effectTargets) DestroyTexture(t);
      m_effectTargetsFailed = true;
      return false;
    }
    m_effectTargetsMade = true;
  }
  if (first) *first = &m_effectTargets[0];
  if (second) *second = &m_effectTargets[1];
  return true;
}

void OvRendererGL::ReleaseEffectTargets() {
  for (OvGLTexture& t : m_effectTargets) DestroyTexture(t);
  m_effectTargetsMade = false;
}

// ---------------------------------------------------------------------------
// Drawing.

bool OvRendererGL::PrepareDraw(const OvVertexFormat& fmt) {
  if (!m_context || m_deviceLost || !m_programs) return false;
  if (m_shaderProgram) {
    if (m_boundProgram != m_shaderProgram) {
      glUseProgram(m_shaderProgram);
      m_boundProgram = m_shaderProgram;
    }
    return true;
  }
  const uint32_t sig = fmt.flags | uint32_t(fmt.texSets) << 16;
  if (m_keyDirty || sig != m_keyFormat || !m_program) {
    OvProgramKey k;
    std::memset(&k, 0, sizeof(k));
    const bool pre = (fmt.flags & VF_XYZRHW) != 0;
    const uint32_t* d = m_devRS;
    k.pretransformed = pre;
    k.hasNormal = !pre && (fmt.flags & VF_NORMAL);
    k.hasDiffuse = (fmt.flags & VF_DIFFUSE) != 0;
    k.hasSpecular = (fmt.flags & VF_SPECULAR) != 0;
    k.texSets = uint8_t(fmt.texSets);
    // Texture-coordinate generation looks at the viewer too, lit or not.
    k.localViewer = !pre && d[RS_LOCALVIEWER] != 0;
    if (!pre && d[RS_LIGHTING]) {
      k.lighting = 1;
      k.normalize = d[RS_NORMALIZENORMALS] != 0;
      k.colorVertex = d[RS_COLORVERTEX] != 0;
      auto src = [](uint32_t v) { return uint8_t(v <= MCS_COLOR2 ? v : MCS_MATERIAL); };
      k.diffuseSource = src(d[RS_DIFFUSEMATERIALSOURCE]);
      k.ambientSource = src(d[RS_AMBIENTMATERIALSOURCE]);
      k.specularSource = src(d[RS_SPECULARMATERIALSOURCE]);
      k.emissiveSource = src(d[RS_EMISSIVEMATERIALSOURCE]);
      // The enabled lights in the order the uniforms pack them.
      for (int i = 0; i < OV_MAX_LIGHTS && k.lightCount < OV_PROGRAM_LIGHTS; ++i) {
        if (!m_lightOn[i]) continue;
        const uint32_t type = uint32_t(m_lights[i].type) & 3;
        k.lightTypes[k.lightCount >> 2] |= uint8_t(type << (2 * (k.lightCount & 3)));
        ++k.lightCount;
      }
    }
    k.specularEnable = d[RS_SPECULARENABLE] != 0;
    if (k.lighting && k.specularEnable) {
      // A black material specular lights nothing: the program leaves the
      // highlight out (unless the vertex colours give the specular colour).
      const bool fromVertex = k.colorVertex && ((k.specularSource == MCS_COLOR1 && k.hasDiffuse) ||
                                                (k.specularSource == MCS_COLOR2 && k.hasSpecular));
      if (!fromVertex && BlackSpecular(m_material)) k.specularEnable = 0;
    }
    if (d[RS_FOGENABLE]) {
      auto func = [](uint32_t v) { return uint8_t(v == FOG_EXP || v == FOG_EXP2 ? v : FOG_LINEAR); };
      if (d[RS_FOGTABLEMODE] != FOG_NONE && m_caps.fogTable) {
        k.fogFunc = func(d[RS_FOGTABLEMODE]);
        const bool eye = m_caps.fogW && (pre || m_projection.m[2][3] == 1.0f);
        k.fogKind = eye ? FOGK_TABLE_EYE : FOGK_TABLE_DEPTH;
      } else if (d[RS_FOGVERTEXMODE] != FOG_NONE && !pre) {
        k.fogFunc = func(d[RS_FOGVERTEXMODE]);
        k.fogKind = FOGK_VERTEX;
        k.rangeFog = d[RS_RANGEFOGENABLE] != 0 && m_caps.fogRange;
      } else if (pre && k.hasSpecular) {
        k.fogKind = FOGK_SPECULAR;
      }
    }
    if (d[RS_ALPHATESTENABLE] && d[RS_ALPHAFUNC] != CMP_ALWAYS && d[RS_ALPHAFUNC] >= CMP_NEVER &&
        d[RS_ALPHAFUNC] <= CMP_GREATEREQUAL)
      k.alphaFunc = uint8_t(d[RS_ALPHAFUNC]);
    k.flatShade = d[RS_SHADEMODE] == SHADE_FLAT;
    int stages = m_caps.maxTextureStages < OV_PROGRAM_STAGES ? m_caps.maxTextureStages : OV_PROGRAM_STAGES;
    for (int s = 0; s < stages; ++s) {
      const uint32_t* t = m_devTSS[s];
      if (t[TSS_COLOROP] <= TOP_DISABLE || t[TSS_COLOROP] >= TOP_OP_END) break;
      OvStageKey& st = k.stages[s];
      st.colorOp = uint8_t(t[TSS_COLOROP]);
      st.colorArg1 = uint8_t(t[TSS_COLORARG1]);
      st.colorArg2 = uint8_t(t[TSS_COLORARG2]);
      if (t[TSS_ALPHAOP] > TOP_DISABLE && t[TSS_ALPHAOP] < TOP_OP_END) {
        st.alphaOp = uint8_t(t[TSS_ALPHAOP]);
        st.alphaArg1 = uint8_t(t[TSS_ALPHAARG1]);
        st.alphaArg2 = uint8_t(t[TSS_ALPHAARG2]);
      } else {
        st.alphaOp = TOP_DISABLE;
      }
      if (OvStageUsesTexture(st) && m_devTextures[s] && m_devTextures[s]->name) {
        st.hasTexture = m_devTextures[s]->cube ? 2 : 1;
        const uint32_t tci = t[TSS_TEXCOORDINDEX];
        st.texSet = uint8_t((tci & 0xFFFF) < 8 ? tci & 0xFFFF : 7);
        st.texGen = uint8_t((tci >> 16) <= 4 ? tci >> 16 : 0);
        const uint32_t tt = t[TSS_TEXTURETRANSFORMFLAGS];
        st.transform = uint8_t(((tt & 0xFF) <= 4 ? tt & 0xFF : 0) | ((tt & TTFF_PROJECTED) ? 0x80 : 0));
        if ((st.transform & 7) == 0) st.transform = 0;
      }
      k.stageCount = uint8_t(s + 1);
    }
    m_program = m_programs->Get(k);
    m_keyDirty = false;
    m_keyFormat = sig;
  }
  if (!m_program) return false;
  if (m_boundProgram != m_program->name) {
    glUseProgram(m_program->name);
    m_boundProgram = m_program->name;
  }
  UploadUniforms(*m_program, fmt);
  return true;
}

void OvRendererGL::UploadUniforms(OvProgram& p, const OvVertexFormat& fmt) {
  (void)fmt;
  if (p.transformVersion != m_transformVersion) {
    p.transformVersion = m_transformVersion;
    OvMatrix wv, wvp;
    OvMatMul4x4(wv, m_world, m_view);
    OvMatMul4x4(wvp, wv, m_projection);
    // Row-major rows become GLSL columns, so M * v in GLSL is v * M here.
    glUniformMatrix4fv(p.uWorldViewProj, 1, GL_FALSE, &wvp.m[0][0]);
    glUniformMatrix4fv(p.uWorldView, 1, GL_FALSE, &wv.m[0][0]);
    if (p.uNormalMatrix >= 0) {
      float inv[9];
      Inverse3(inv, wv);
      glUniformMatrix3fv(p.uNormalMatrix, 1, GL_TRUE, inv);
    }
  }
  if (p.targetVersion != m_targetVersion) {
    p.targetVersion = m_targetVersion;
    const int w = m_renderTarget ? m_renderTarget->width : m_frameWidth;
    const int h = m_renderTarget ? m_renderTarget->height : m_frameHeight;
    glUniform4f(p.uScreen, w > 0 ? 2.0f / float(w) : 0.0f, h > 0 ? 2.0f / float(h) : 0.0f, float(w), float(h));
    glUniform1f(p.uClipFlip, m_renderTarget ? -1.0f : 1.0f);
  }
  if (p.lightVersion != m_lightVersion && p.uLights >= 0) {
    p.lightVersion = m_lightVersion;
    float data[OV_MAX_LIGHTS * OV_LIGHT_VEC4S * 4] = {};
    int count = 0;
    for (int i = 0; i < OV_MAX_LIGHTS; ++i) {
      if (!m_lightOn[i]) continue;
      const OvLightData& l = m_lights[i];
      float* v = data + count * OV_LIGHT_VEC4S * 4;
      OvVector pos, dir;
      OvXformPoint(pos, l.position, m_view);
      dir = {l.direction.x * m_view.m[0][0] + l.direction.y * m_view.m[1][0] + l.direction.z * m_view.m[2][0],
             l.direction.x * m_view.m[0][1] + l.direction.y * m_view.m[1][1] + l.direction.z * m_view.m[2][1],
             l.direction.x * m_view.m[0][2] + l.direction.y * m_view.m[1][2] + l.direction.z * m_view.m[2][2]};
      const float len = std::sqrt(dir.x * dir.x + dir.y * dir.y + dir.z * dir.z);
      if (len > 0.0f) dir = {dir.x / len, dir.y / len, dir.z / len};
      v[0] = pos.x, v[1] = pos.y, v[2] = pos.z, v[3] = float(l.type);
      v[4] = dir.x, v[5] = dir.y, v[6] = dir.z, v[7] = l.range;
      for (int c = 0; c < 4; ++c) v[8 + c] = l.diffuse[c], v[12 + c] = l.specular[c], v[16 + c] = l.ambient[c];
      v[20] = l.attenuation[0], v[21] = l.attenuation[1], v[22] = l.attenuation[2], v[23] = l.falloff;
      v[24] = std::cos(l.theta * 0.5f), v[25] = std::cos(l.phi * 0.5f);
      ++count;
    }
    glUniform1i(p.uLightCount, count);
    if (count > 0) glUniform4fv(p.uLights, count * OV_LIGHT_VEC4S, data);
  }
  if (p.materialVersion != m_materialVersion) {
    p.materialVersion = m_materialVersion;
    const OvMaterial& m = m_material;
    float data[20];
    std::memcpy(data, m.diffuse, 16);
    std::memcpy(data + 4, m.ambient, 16);
    std::memcpy(data + 8, m.specular, 16);
    std::memcpy(data + 12, m.emissive, 16);
    data[16] = m.power, data[17] = data[18] = data[19] = 0.0f;
    glUniform4fv(p.uMaterial, 5, data);
    float amb[4];
    ColourToFloats(m_devRS[RS_AMBIENT], amb);
    glUniform4fv(p.uAmbient, 1, amb);
  }
  if (p.stateVersion != m_stateVersion) {
    p.stateVersion = m_stateVersion;
    const float start = OvStateFloat(m_devRS[RS_FOGSTART]);
    const float end = OvStateFloat(m_devRS[RS_FOGEND]);
    glUniform4f(p.uFog, start, end, OvStateFloat(m_devRS[RS_FOGDENSITY]), end != start ? 1.0f / (end - start) : 0.0f);
    float c[4];
    ColourToFloats(m_devRS[RS_FOGCOLOR], c);
    glUniform4fv(p.uFogColour, 1, c);
    ColourToFloats(m_devRS[RS_TEXTUREFACTOR], c);
    glUniform4fv(p.uTFactor, 1, c);
    glUniform1i(p.uAlphaRef, GLint(m_devRS[RS_ALPHAREF] & 0xFF));
    if (p.uTexMatrix >= 0) glUniformMatrix4fv(p.uTexMatrix, OV_MAX_STAGES, GL_FALSE, &m_texTransform[0].m[0][0]);
  }
}

void OvRendererGL::BindVertexFormat(const OvVertexFormat& fmt, unsigned vbo, uintptr_t base) {
  const uint32_t layout = fmt.flags | uint32_t(fmt.texSets) << 8 | uint32_t(fmt.stride) << 12;
  if (vbo == m_boundVbo && base == m_boundBase && layout == m_boundLayout) return;
  m_boundVbo = vbo;
  m_boundBase = base;
  m_boundLayout = layout;
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  const GLsizei stride = GLsizei(fmt.stride);
  auto at = [base](int off) { return reinterpret_cast<const void*>(base + uintptr_t(off)); };
  const bool pre = (fmt.flags & VF_XYZRHW) != 0;
  uint32_t mask = 1;
  glVertexAttribPointer(0, pre ? 4 : 3, GL_FLOAT, GL_FALSE, stride, at(fmt.offPosition));
  if (fmt.offNormal >= 0 && !pre) {
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride, at(fmt.offNormal));
    mask |= 1u << 1;
  }
  // Colour words 0xAARRGGBB lie in memory as blue, green, red, alpha.
  if (fmt.offDiffuse >= 0) {
    glVertexAttribPointer(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, at(fmt.offDiffuse));
    mask |= 1u << 2;
  }
  if (fmt.offSpecular >= 0) {
    glVertexAttribPointer(3, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, at(fmt.offSpecular));
    mask |= 1u << 3;
  }
  for (int i = 0; i < fmt.texSets && i < OV_MAX_TEXCOORD_SETS; ++i) {
    if (fmt.offTex[i] < 0) continue;
    glVertexAttribPointer(GLuint(4 + i), 2, GL_FLOAT, GL_FALSE, stride, at(fmt.offTex[i]));
    mask |= 1u << (4 + i);
  }
  // Switch arrays on and off only where the layout differs.
  const uint32_t changed = mask ^ m_enabledAttribs;
  for (GLuint a = 0; a < 4 + OV_MAX_TEXCOORD_SETS; ++a) {
    if (!(changed & (1u << a))) continue;
    (mask & (1u << a)) ? glEnableVertexAttribArray(a) : glDisableVertexAttribArray(a);
  }
  m_enabledAttribs = mask;
}

bool OvRendererGL::Draw(const OvVertexFormat& fmt, const OvGLBuffer& vbo, const OvGLBuffer* ibo, OvPrimitive prim,
                        uint32_t first, uint32_t primitiveCount, uint32_t baseVertex) {
  if (vbo.name == 0 || primitiveCount == 0 || fmt.stride <= 0) return false;
  if (!PrepareDraw(fmt)) return false;
  BindVertexFormat(fmt, vbo.name, 0);
  DrawBound(ibo, prim, first, primitiveCount, baseVertex);
  return true;
}

void OvRendererGL::DrawBound(const OvGLBuffer* ibo, OvPrimitive prim, uint32_t first, uint32_t primitiveCount,
                             uint32_t baseVertex) {
  const GLsizei n = GLsizei(OvPrimitiveVertexCount(prim, primitiveCount));
  const GLenum mode = PrimitiveToGL(prim);
  if (ibo && ibo->name) {
    if (m_boundIbo != ibo->name) {
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo->name);
      m_boundIbo = ibo->name;
    }
    const GLenum type = ibo->indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    const auto offset = reinterpret_cast<const void*>(uintptr_t(first) * uintptr_t(ibo->indexSize));
    glDrawElementsBaseVertex(mode, n, type, offset, GLint(baseVertex));
  } else {
    glDrawArrays(mode, GLint(first + baseVertex), n);
  }
}

bool OvRendererGL::DrawWithBasis(const OvVertexFormat& fmt, const OvGLBuffer& vbo, const OvGLBuffer& basis,
                                 const OvGLBuffer* ibo, OvPrimitive prim, uint32_t first, uint32_t primitiveCount) {
  if (basis.name == 0) return Draw(fmt, vbo, ibo, prim, first, primitiveCount);
  if (vbo.name == 0 || primitiveCount == 0 || fmt.stride <= 0) return false;
  if (!PrepareDraw(fmt)) return false;
  BindVertexFormat(fmt, vbo.name, 0);
  glBindBuffer(GL_ARRAY_BUFFER, basis.name);
  for (GLuint row = 0; row < 3; ++row) {
    glVertexAttribPointer(9 + row, 3, GL_FLOAT, GL_FALSE, 36, reinterpret_cast<const void*>(uintptr_t(12 * row)));
    glEnableVertexAttribArray(9 + row);
  }
  // The next draw gives every pointer again and switches the rows off.
  m_enabledAttribs |= 7u << 9;
  m_boundVbo = basis.name;
  m_boundLayout = 0;
  DrawBound(ibo, prim, first, primitiveCount, 0);
  return true;
}

bool OvRendererGL::StreamVertices(const void* data, uint32_t bytes, uintptr_t& offset) {
  if (m_stream.name == 0 || m_stream.size < bytes) {
    DestroyBuffer(m_stream);
    const uint32_t size = bytes > kStreamBytes ? bytes : kStreamBytes;
    if (!CreateVertexBuffer(m_stream, size, true)) return false;
    m_streamUsed = 0;
  }
  glBindBuffer(GL_ARRAY_BUFFER, m_stream.name);
  if (m_streamUsed + bytes > m_stream.size) {
    // Orphan the storage so draws still reading it are not waited for.
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(m_stream.size), nullptr, GL_DYNAMIC_DRAW);
    m_streamUsed = 0;
  }
  glBufferSubData(GL_ARRAY_BUFFER, GLintptr(m_streamUsed), GLsizeiptr(bytes), data);
  m_boundVbo = m_stream.name;
  m_boundLayout = 0;  // the pointers must be given again for this offset
  offset = m_streamUsed;
  m_streamUsed = (m_streamUsed + bytes + 15u) & ~15u;
  return true;
}

bool OvRendererGL::DrawUser(const OvVertexFormat& fmt, const void* vertices, OvPrimitive prim,
                            uint32_t primitiveCount) {
  if (!vertices || primitiveCount == 0 || fmt.stride <= 0) return false;
  if (!PrepareDraw(fmt)) return false;
  const uint32_t n = OvPrimitiveVertexCount(prim, primitiveCount);
  uintptr_t offset = 0;
  if (!StreamVertices(vertices, n * uint32_t(fmt.stride), offset)) return false;
  BindVertexFormat(fmt, m_stream.name, offset);
  glDrawArrays(PrimitiveToGL(prim), 0, GLsizei(n));
  return true;
}

bool OvRendererGL::DrawUserIndexed(const OvVertexFormat& fmt, const void* vertices, uint32_t vertexCount,
                                   const uint16_t* indices, OvPrimitive prim, uint32_t primitiveCount) {
  if (!vertices || !indices || vertexCount == 0 || primitiveCount == 0 || fmt.stride <= 0) return false;
  if (!PrepareDraw(fmt)) return false;
  const uint32_t n = OvPrimitiveVertexCount(prim, primitiveCount);
  uintptr_t offset = 0;
  if (!StreamVertices(vertices, vertexCount * uint32_t(fmt.stride), offset)) return false;
  BindVertexFormat(fmt, m_stream.name, offset);
  const uint32_t bytes = n * 2;
  if (m_streamIndex.name == 0 || m_streamIndex.size < bytes) {
    DestroyBuffer(m_streamIndex);
    if (!CreateIndexBuffer(m_streamIndex, bytes > kStreamBytes ? bytes : kStreamBytes, 2, true)) return false;
    m_streamIndexUsed = 0;
  }
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_streamIndex.name);
  m_boundIbo = m_streamIndex.name;
  if (m_streamIndexUsed + bytes > m_streamIndex.size) {
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(m_streamIndex.size), nullptr, GL_DYNAMIC_DRAW);
    m_streamIndexUsed = 0;
  }
  glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(m_streamIndexUsed), GLsizeiptr(bytes), indices);
  glDrawElements(PrimitiveToGL(prim), GLsizei(n), GL_UNSIGNED_SHORT,
                 reinterpret_cast<const void*>(uintptr_t(m_streamIndexUsed)));
  m_streamIndexUsed = (m_streamIndexUsed + bytes + 15u) & ~15u;
  return true;
}

// ---------------------------------------------------------------------------
// Debug drawing.

namespace {

struct LineVertex {
  float x, y, z;
  uint32_t colour;
};
static_assert(sizeof(LineVertex) == 16);

struct ScreenVertex {
  float x, y, z, rhw;
  uint32_t diffuse, specular;
  float u, v;
};
static_assert(sizeof(ScreenVertex) == 32);

}  // namespace

void OvRendererGL::DrawLine(const OvVector& a, const OvVector& b) {
  const LineVertex v[2] = {{a.x, a.y, a.z, m_lineColour}, {b.x, b.y, b.z, m_lineColour}};
  DrawUser(OvMakeVertexFormat(VF_XYZ | VF_DIFFUSE, 0), v, PRIM_LINELIST, 1);
}

void OvRendererGL::DrawBox(const OvVector& lo, const OvVector& hi) {
  OvVector c[8];
  for (int i = 0; i < 8; ++i) c[i] = {(i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z};
  static const int kEdges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 2}, {1, 3},
                                    {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
  LineVertex v[24];
  for (int e = 0; e < 12; ++e)
    for (int k = 0; k < 2; ++k) {
      const OvVector& p = c[kEdges[e][k]];
      v[e * 2 + k] = {p.x, p.y, p.z, m_lineColour};
    }
  DrawUser(OvMakeVertexFormat(VF_XYZ | VF_DIFFUSE, 0), v, PRIM_LINELIST, 12);
}

void OvRendererGL::DrawSphere(const OvVector& centre, float radius, int slices, int stacks) {
  if (slices < 3) slices = 3;
  if (stacks < 2) stacks = 2;
  if (slices > 128) slices = 128;
  if (stacks > 128) stacks = 128;
  const int rings = stacks + 1, columns = slices + 1;
  const int vertexCount = rings * columns;
  const int triangles = slices * stacks * 2;
  auto* verts = static_cast<float*>(AllocMem(size_t(vertexCount) * 24));
  auto* idx = static_cast<uint16_t*>(AllocMem(size_t(triangles) * 6));
  if (verts && idx) {
    for (int r = 0; r < rings; ++r) {
      const float phi = C_PI * float(r) / float(stacks);
      for (int c = 0; c < columns; ++c) {
        const float theta = C_2PI * float(c) / float(slices);
        const float n[3] = {std::sin(phi) * std::cos(theta), std::sin(phi) * std::sin(theta), std::cos(phi)};
        float* v = verts + (r * columns + c) * 6;
        v[0] = n[0] * radius, v[1] = n[1] * radius, v[2] = n[2] * radius;
        v[3] = n[0], v[4] = n[1], v[5] = n[2];
      }
    }
    int k = 0;
    for (int r = 0; r < stacks; ++r)
      for (int c = 0; c < slices; ++c) {
        const uint16_t a = uint16_t(r * columns + c), b = uint16_t(a + 1);
        const uint16_t d = uint16_t(a + columns), e = uint16_t(d + 1);
        idx[k++] = a, idx[k++] = d, idx[k++] = b;
        idx[k++] = b, idx[k++] = d, idx[k++] = e;
      }
    // The sphere sits at the centre in the current world frame's space.
    const OvMatrix* savedPtr = m_worldPtr;
    const OvMatrix saved = m_world;
    OvMatrix moved = m_world;
    moved.m[3][0] += centre.x, moved.m[3][1] += centre.y, moved.m[3][2] += centre.z;
    SetWorldMatrix(&moved);
    const uint32_t fill = GetRenderState(RS_FILLMODE);
    SetRenderState(RS_FILLMODE, FILL_WIREFRAME);
    DrawUserIndexed(OvMakeVertexFormat(VF_XYZ | VF_NORMAL, 0), verts, uint32_t(vertexCount), idx, PRIM_TRIANGLELIST,
                    uint32_t(triangles));
    SetRenderState(RS_FILLMODE, fill);
    SetWorldMatrix(savedPtr);
    m_world = saved;
  }
  OvMFree(verts);
  OvMFree(idx);
}

void OvRendererGL::DrawScreenRect(int x, int y, int u, int v, int w, int h) {
  const OvGLTexture* tex = m_devTextures[0];
  if (!tex || tex->width <= 0 || tex->height <= 0) return;
  const int frameH = m_renderTarget ? m_renderTarget->height : m_frameHeight;
  const float left = float(x), right = float(x + w);
  const float top = float(frameH - y - h), bottom = float(frameH - y);
  const float tw = float(tex->width), th = float(tex->height);
  const float u0 = float(u) / tw, u1 = float(u + w) / tw;
  const float v0 = float(v) / th, v1 = float(v + h) / th;
  const ScreenVertex q[4] = {{left, top, 0.0f, 1.0f, 0xFFFFFFFFu, 0, u0, v0},
                             {right, top, 0.0f, 1.0f, 0xFFFFFFFFu, 0, u1, v0},
                             {left, bottom, 0.0f, 1.0f, 0xFFFFFFFFu, 0, u0, v1},
                             {right, bottom, 0.0f, 1.0f, 0xFFFFFFFFu, 0, u1, v1}};
  DrawUser(OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE | VF_SPECULAR, 1), q, PRIM_TRIANGLESTRIP, 2);
}

int OvRendererGL::ProgramCompiles() const { return m_programs ? m_programs->Compiles() : 0; }
int OvRendererGL::ProgramCount() const { return m_programs ? m_programs->Count() : 0; }
