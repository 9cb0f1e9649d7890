#include "ov_gl_program.h"

#include <epoxy/gl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ov_render_states.h"
#include "ov_trace.h"

bool operator==(const OvProgramKey& a, const OvProgramKey& b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

uint64_t OvHashProgramKey(const OvProgramKey& key) {
  // FNV-1a over the key bytes.
  const auto* p = reinterpret_cast<const uint8_t*>(&key);
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < sizeof(key); ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

namespace {

// Appends formatted text to a caller's buffer, counting what did not fit.
class Text {
 public:
  Text(char* out, int size) : m_out(out), m_size(size) {
    if (m_out && m_size > 0) m_out[0] = 0;
  }
  void operator()(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    int room = m_len < m_size ? m_size - m_len : 0;
    int n = std::vsnprintf(room > 0 ? m_out + m_len : nullptr, size_t(room), format, args);
    va_end(args);
    if (n > 0) m_len += n;
  }
  int Length() const { return m_len; }

 private:
  char* m_out;
  int m_size;
  int m_len = 0;
};

}  // namespace

bool OvStageUsesTexture(const OvStageKey& s) {
  auto isTex = [](uint8_t arg) { return (arg & TA_SELECTMASK) == TA_TEXTURE; };
  if (s.colorOp == TOP_BLENDTEXTUREALPHA) return true;
  if (isTex(s.colorArg1) || isTex(s.colorArg2)) return true;
  if (s.alphaOp != TOP_DISABLE) {
    if (s.alphaOp == TOP_BLENDTEXTUREALPHA) return true;
    if (isTex(s.alphaArg1) || isTex(s.alphaArg2)) return true;
  }
  return false;
}

namespace {

// The GLSL expression of a stage argument as a vec4.
void ArgExpr(char* out, size_t size, uint8_t arg) {
  const char* src = "cur";
  switch (arg & TA_SELECTMASK) {
    case TA_DIFFUSE: src = "vDiffuse"; break;
    case TA_TEXTURE: src = "tex"; break;
    case TA_TFACTOR: src = "uTFactor"; break;
    case TA_SPECULAR: src = "vSpecular"; break;
    default: src = "cur"; break;  // current, temp
  }
  char base[32];  // the longest is "vSpecular.aaaa"; leaves room for the complement in out
  if (arg & TA_ALPHAREPLICATE)
    std::snprintf(base, sizeof(base), "%s.aaaa", src);
  else
    std::snprintf(base, sizeof(base), "%s", src);
  if (arg & TA_COMPLEMENT)
    std::snprintf(out, size, "(vec4(1.0) - %s)", base);
  else
    std::snprintf(out, size, "%s", base);
}

// Combine expression of op over arguments a1, a2 of type `type` (vec3 or
// float), `sw` the swizzle taking that type from a vec4.
void OpExpr(Text& t, uint8_t op, const char* a1, const char* a2, const char* sw, const char* type) {
  switch (op) {
    case TOP_SELECTARG1: t("%s%s", a1, sw); break;
    case TOP_SELECTARG2: t("%s%s", a2, sw); break;
    case TOP_MODULATE: t("%s%s * %s%s", a1, sw, a2, sw); break;
    case TOP_MODULATE2X: t("2.0 * %s%s * %s%s", a1, sw, a2, sw); break;
    case TOP_MODULATE4X: t("4.0 * %s%s * %s%s", a1, sw, a2, sw); break;
    case TOP_ADD: t("%s%s + %s%s", a1, sw, a2, sw); break;
    case TOP_ADDSIGNED: t("%s%s + %s%s - %s(0.5)", a1, sw, a2, sw, type); break;
    case TOP_ADDSIGNED2X: t("2.0 * (%s%s + %s%s - %s(0.5))", a1, sw, a2, sw, type); break;
    case TOP_SUBTRACT: t("%s%s - %s%s", a1, sw, a2, sw); break;
    case TOP_ADDSMOOTH: t("%s%s + %s%s * (%s(1.0) - %s%s)", a1, sw, a2, sw, type, a1, sw); break;
    case TOP_BLENDDIFFUSEALPHA: t("mix(%s%s, %s%s, vDiffuse.a)", a2, sw, a1, sw); break;
    case TOP_BLENDTEXTUREALPHA: t("mix(%s%s, %s%s, tex.a)", a2, sw, a1, sw); break;
    case TOP_BLENDFACTORALPHA: t("mix(%s%s, %s%s, uTFactor.a)", a2, sw, a1, sw); break;
    case TOP_BLENDCURRENTALPHA: t("mix(%s%s, %s%s, cur.a)", a2, sw, a1, sw); break;
    case TOP_DOTPRODUCT3:
      t("%s(clamp(4.0 * dot(%s.rgb - vec3(0.5), %s.rgb - vec3(0.5)), 0.0, 1.0))", type, a1, a2);
      break;
    default: t("%s%s", a2, sw); break;  // unknown: keep the previous result
  }
}

const char* CompareOp(uint8_t func) {
  switch (func) {
    case CMP_LESS: return "<";
    case CMP_EQUAL: return "==";
    case CMP_LESSEQUAL: return "<=";
    case CMP_GREATER: return ">";
    case CMP_NOTEQUAL: return "!=";
    case CMP_GREATEREQUAL: return ">=";
    default: return nullptr;
  }
}

const char* SourceExpr(const OvProgramKey& k, uint8_t source, int materialSlot, char* buf, size_t size) {
  if (k.colorVertex && source == MCS_COLOR1 && k.hasDiffuse) return "aDiffuse";
  if (k.colorVertex && source == MCS_COLOR2 && k.hasSpecular) return "aSpecular";
  std::snprintf(buf, size, "uMaterial[%d]", materialSlot);
  return buf;
}

bool StageHasCoords(const OvProgramKey& k, int s) { return k.stages[s].hasTexture != 0; }
// A cube texture is looked up by the stage's first three coordinates.
bool StageIsCube(const OvProgramKey& k, int s) { return k.stages[s].hasTexture == 2; }

int LightTypeOf(const OvProgramKey& k, int i) { return (k.lightTypes[i >> 2] >> (2 * (i & 3))) & 3; }

// One light of the key, its type known: no loop and no branch on the type,
// which software vertex processing would pay for on every vertex.
void LightTerm(Text& t, const OvProgramKey& k, int i) {
  const int base = i * OV_LIGHT_VEC4S, type = LightTypeOf(k, i);
  t("  {\n    vec4 l1 = uLights[%d];\n    vec3 L;\n    float att = 1.0;\n", base + 1);
  if (type == 3) {
    t("    L = -l1.xyz;\n");
  } else {
    t("    vec4 l0 = uLights[%d];\n    vec4 l5 = uLights[%d];\n", base, base + 5);
    t("    vec3 d = l0.xyz - P;\n    float dist = length(d);\n");
    t("    L = dist > 0.0 ? d / dist : vec3(0.0, 0.0, -1.0);\n");
    t("    float den = l5.x + l5.y * dist + l5.z * dist * dist;\n");
    // Past its range a light adds nothing at all.
    t("    att = dist > l1.w ? 0.0 : den > 0.0 ? 1.0 / den : 1.0;\n");
    if (type == 2) {
      t("    vec4 l6 = uLights[%d];\n", base + 6);
      t("    float rho = dot(-L, l1.xyz);\n");
      t("    if (rho <= l6.y) att = 0.0;\n");
      t("    else if (rho <= l6.x) {\n");
      t("      float s = (rho - l6.y) / max(l6.x - l6.y, 1e-6);\n");
      t("      att *= l5.w == 1.0 ? s : pow(s, l5.w);\n    }\n");
    }
  }
  t("    asum += att * uLights[%d].rgb;\n", base + 4);
  t("    float ndl = max(dot(N, L), 0.0);\n");
  t("    dsum += att * ndl * uLights[%d].rgb;\n", base + 2);
  if (k.specularEnable) {
    t("    if (ndl > 0.0) {\n");
    t("      vec3 H = normalize(L + E);\n");
    t("      float nh = max(dot(N, H), 0.0);\n");
    t("      float sp = uMaterial[4].x > 0.0 ? pow(nh, uMaterial[4].x) : 1.0;\n");
    t("      ssum += att * sp * uLights[%d].rgb;\n    }\n", base + 3);
  }
  t("  }\n");
}

void FogFunction(Text& t, const OvProgramKey& k, const char* depth) {
  switch (k.fogFunc) {
    case FOG_EXP: t("exp(-uFog.z * %s)", depth); break;
    case FOG_EXP2: t("exp(-(uFog.z * %s) * (uFog.z * %s))", depth, depth); break;
    default: t("(uFog.y - %s) * uFog.w", depth); break;
  }
}

}  // namespace

int OvGenerateVertexShader(const OvProgramKey& k, char* out, int size) {
  Text t(out, size);
  const bool lit = k.lighting && !k.pretransformed;
  const char* flat = k.flatShade ? "flat " : "";
  t("#version 330 core\n");
  t("layout(location = 0) in vec4 aPosition;\n");
  if (k.hasNormal) t("layout(location = 1) in vec3 aNormal;\n");
  if (k.hasDiffuse) t("layout(location = 2) in vec4 aDiffuse;\n");
  if (k.hasSpecular) t("layout(location = 3) in vec4 aSpecular;\n");
  for (int i = 0; i < k.texSets; ++i) t("layout(location = %d) in vec2 aTex%d;\n", 4 + i, i);
  t("uniform mat4 uWorldViewProj;\nuniform mat4 uWorldView;\nuniform mat3 uNormalMatrix;\n");
  t("uniform vec4 uScreen;\nuniform float uClipFlip;\nuniform vec4 uFog;\n");
  if (lit) {
    t("uniform vec4 uMaterial[5];\nuniform vec4 uAmbient;\nuniform int uLightCount;\n");
    t("uniform vec4 uLights[%d];\n", OV_LIGHT_VEC4S * 8);
  }
  t("uniform mat4 uTexMatrix[%d];\n", OV_PROGRAM_STAGES);
  t("%sout vec4 vDiffuse;\n%sout vec4 vSpecular;\n", flat, flat);
  for (int s = 0; s < k.stageCount; ++s)
    if (StageHasCoords(k, s)) t("out vec4 vTex%d;\n", s);
  if (k.fogKind == FOGK_VERTEX || k.fogKind == FOGK_SPECULAR) t("out float vFog;\n");
  if (k.fogKind == FOGK_TABLE_EYE) t("out float vEyeDepth;\n");

  t("void main() {\n");
  if (k.pretransformed) {
    t("  float w = aPosition.w > 0.0 ? 1.0 / aPosition.w : 1.0;\n");
    t("  vec4 clip = vec4((aPosition.x * uScreen.x - 1.0) * w, (1.0 - aPosition.y * uScreen.y) * w, "
      "aPosition.z * w, w);\n");
    t("  vec3 P = vec3(0.0, 0.0, w);\n  vec3 N = vec3(0.0);\n");
  } else {
    t("  vec4 pos = vec4(aPosition.xyz, 1.0);\n");
    t("  vec4 clip = uWorldViewProj * pos;\n");
    t("  vec3 P = (uWorldView * pos).xyz;\n");
    if (k.hasNormal) {
      t("  vec3 N = uNormalMatrix * aNormal;\n");
      if (k.normalize) t("  float nl = length(N);\n  if (nl > 0.0) N /= nl;\n");
    } else {
      t("  vec3 N = vec3(0.0);\n");
    }
  }
  // Direction from the vertex to the eye (the camera looks along +z).
  if (k.localViewer && !k.pretransformed)
    t("  vec3 E = length(P) > 0.0 ? -normalize(P) : vec3(0.0, 0.0, -1.0);\n");
  else
    t("  vec3 E = vec3(0.0, 0.0, -1.0);\n");

  if (lit) {
    char b1[32], b2[32], b3[32], b4[32];
    t("  vec4 mD = %s;\n", SourceExpr(k, k.diffuseSource, 0, b1, sizeof(b1)));
    t("  vec4 mA = %s;\n", SourceExpr(k, k.ambientSource, 1, b2, sizeof(b2)));
    t("  vec4 mS = %s;\n", SourceExpr(k, k.specularSource, 2, b3, sizeof(b3)));
    t("  vec4 mE = %s;\n", SourceExpr(k, k.emissiveSource, 3, b4, sizeof(b4)));
    t("  vec3 dsum = vec3(0.0);\n  vec3 asum = vec3(0.0);\n  vec3 ssum = vec3(0.0);\n");
    const int lights = k.lightCount <= OV_PROGRAM_LIGHTS ? k.lightCount : OV_PROGRAM_LIGHTS;
    for (int i = 0; i < lights; ++i) LightTerm(t, k, i);
    t("  vDiffuse = clamp(vec4(mE.rgb + mA.rgb * (uAmbient.rgb + asum) + mD.rgb * dsum, mD.a), 0.0, 1.0);\n");
    t("  vSpecular = clamp(vec4(mS.rgb * ssum, mS.a), 0.0, 1.0);\n");
  } else {
    t("  vDiffuse = %s;\n", k.hasDiffuse ? "aDiffuse" : "vec4(1.0)");
    t("  vSpecular = %s;\n", k.hasSpecular ? "aSpecular" : "vec4(0.0)");
  }

  for (int s = 0; s < k.stageCount; ++s) {
    if (!StageHasCoords(k, s)) continue;
    const OvStageKey& st = k.stages[s];
    t("  {\n    vec4 tc;\n");
    switch (st.texGen) {
      case TCI_CAMERASPACENORMAL >> 16: t("    tc = vec4(N, 1.0);\n"); break;
      case TCI_CAMERASPACEPOSITION >> 16: t("    tc = vec4(P, 1.0);\n"); break;
      case TCI_CAMERASPACEREFLECTIONVECTOR >> 16: t("    tc = vec4(2.0 * dot(E, N) * N - E, 1.0);\n"); break;
      case TCI_SPHEREMAP >> 16:
        t("    vec3 R = 2.0 * dot(E, N) * N - E;\n");
        t("    float m = 2.0 * sqrt(R.x * R.x + R.y * R.y + (1.0 - R.z) * (1.0 - R.z));\n");
        t("    tc = m > 0.0 ? vec4(R.x / m + 0.5, R.y / m + 0.5, 1.0, 0.0) : vec4(0.5, 0.5, 1.0, 0.0);\n");
        break;
      default:
        if (st.texSet < k.texSets)
          t("    tc = vec4(aTex%d, 1.0, 0.0);\n", st.texSet);
        else
          t("    tc = vec4(0.0, 0.0, 1.0, 0.0);\n");
        break;
    }
    const int count = st.transform & 7;
    if (count > 0) {
      t("    tc = uTexMatrix[%d] * tc;\n", s);
      if (st.transform & 0x80) {
        const char comp = "xyzw"[count - 1];
        t("    if (tc.%c != 0.0) tc.xy /= tc.%c;\n", comp, comp);
      }
    }
    t("    vTex%d = tc;\n  }\n", s);
  }

  if (k.fogKind == FOGK_VERTEX) {
    t("  float fogDepth = %s;\n", k.rangeFog ? "length(P)" : "P.z");
    t("  vFog = clamp(");
    FogFunction(t, k, "fogDepth");
    t(", 0.0, 1.0);\n");
  } else if (k.fogKind == FOGK_SPECULAR) {
    t("  vFog = vSpecular.a;\n");
  } else if (k.fogKind == FOGK_TABLE_EYE) {
    t("  vEyeDepth = clip.w;\n");
  }
  // Depth 0 ... 1 of the device model onto GL's -1 ... 1; render targets are
  // drawn upside down so their rows run top first like every other texture.
  t("  gl_Position = vec4(clip.x, clip.y * uClipFlip, 2.0 * clip.z - clip.w, clip.w);\n");
  t("}\n");
  return t.Length();
}

int OvGenerateFragmentShader(const OvProgramKey& k, char* out, int size) {
  Text t(out, size);
  const char* flat = k.flatShade ? "flat " : "";
  t("#version 330 core\n");
  t("%sin vec4 vDiffuse;\n%sin vec4 vSpecular;\n", flat, flat);
  for (int s = 0; s < k.stageCount; ++s)
    if (StageHasCoords(k, s))
      t("in vec4 vTex%d;\nuniform %s uTex%d;\n", s, StageIsCube(k, s) ? "samplerCube" : "sampler2D", s);
  if (k.fogKind == FOGK_VERTEX || k.fogKind == FOGK_SPECULAR) t("in float vFog;\n");
  if (k.fogKind == FOGK_TABLE_EYE) t("in float vEyeDepth;\n");
  t("uniform vec4 uTFactor;\nuniform vec4 uFog;\nuniform vec4 uFogColour;\nuniform int uAlphaRef;\n");
  t("out vec4 fragColour;\n");
  t("void main() {\n");
  t("  vec4 cur = vDiffuse;\n  vec4 tex = vec4(1.0);\n  vec3 c;\n  float a;\n");
  for (int s = 0; s < k.stageCount; ++s) {
    const OvStageKey& st = k.stages[s];
    if (StageHasCoords(k, s))
      t("  tex = texture(uTex%d, vTex%d.%s);\n", s, s, StageIsCube(k, s) ? "xyz" : "xy");
    else
      t("  tex = vec4(1.0);\n");
    char a1[64], a2[64];
    ArgExpr(a1, sizeof(a1), st.colorArg1);
    ArgExpr(a2, sizeof(a2), st.colorArg2);
    t("  c = ");
    OpExpr(t, st.colorOp, a1, a2, ".rgb", "vec3");
    t(";\n");
    if (st.colorOp == TOP_DOTPRODUCT3) {
      t("  a = c.r;\n");  // the dot product goes to every channel
    } else if (st.alphaOp == TOP_DISABLE) {
      t("  a = cur.a;\n");
    } else {
      ArgExpr(a1, sizeof(a1), st.alphaArg1);
      ArgExpr(a2, sizeof(a2), st.alphaArg2);
      t("  a = ");
      OpExpr(t, st.alphaOp, a1, a2, ".a", "float");
      t(";\n");
    }
    t("  cur = clamp(vec4(c, a), 0.0, 1.0);\n");
  }
  if (k.specularEnable) t("  cur.rgb = min(cur.rgb + vSpecular.rgb, vec3(1.0));\n");
  if (k.fogKind != FOGK_NONE) {
    if (k.fogKind == FOGK_VERTEX || k.fogKind == FOGK_SPECULAR) {
      t("  float f = clamp(vFog, 0.0, 1.0);\n");
    } else {
      t("  float f = clamp(");
      FogFunction(t, k, k.fogKind == FOGK_TABLE_EYE ? "vEyeDepth" : "gl_FragCoord.z");
      t(", 0.0, 1.0);\n");
    }
    t("  cur.rgb = mix(uFogColour.rgb, cur.rgb, f);\n");
  }
  if (k.alphaFunc == CMP_NEVER) {
    t("  discard;\n");
  } else if (const char* op = CompareOp(k.alphaFunc)) {
    t("  int ia = int(cur.a * 255.0 + 0.5);\n");
    t("  if (!(ia %s uAlphaRef)) discard;\n", op);
  }
  t("  fragColour = cur;\n");
  t("}\n");
  return t.Length();
}

// ---------------------------------------------------------------------------
// The cache.

namespace {

constexpr int kTextSize = 16384;

unsigned CompileShader(GLenum type, const char* text) {
  GLuint sh = glCreateShader(type);
  glShaderSource(sh, 1, &text, nullptr);
  glCompileShader(sh);
  GLint ok = 0;
  glGetShaderiv(sh, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[1024] = {};
    glGetShaderInfoLog(sh, sizeof(log), nullptr, log);
    _TraceFormat("!!! %s -- %s\n", "Compile GL program failed!", log);
    glDeleteShader(sh);
    return 0;
  }
  return sh;
}

}  // namespace

OvProgramCache::OvProgramCache() = default;

OvProgramCache::~OvProgramCache() {
  for (int i = 0; i < m_bucketCount; ++i) {
    for (OvProgram* p = m_buckets[i]; p;) {
      OvProgram* next = p->next;
      p->~OvProgram();
      OvMFree(p);
      p = next;
    }
  }
  OvMFree(m_buckets);
}

void OvProgramCache::Clear() {
  for (int i = 0; i < m_bucketCount; ++i) {
    for (OvProgram* p = m_buckets[i]; p;) {
      OvProgram* next = p->next;
      if (p->name) glDeleteProgram(p->name);
      p->~OvProgram();
      OvMFree(p);
      p = next;
    }
    m_buckets[i] = nullptr;
  }
  m_count = 0;
}

void OvProgramCache::Grow() {
  int newCount = m_bucketCount ? m_bucketCount * 2 : 64;
  auto** buckets = static_cast<OvProgram**>(AllocMem(sizeof(OvProgram*) * size_t(newCount)));
  if (!buckets) return;  // keep the old table: longer chains only
  for (int i = 0; i < newCount; ++i) buckets[i] = nullptr;
  for (int i = 0; i < m_bucketCount; ++i) {
    for (OvProgram* p = m_buckets[i]; p;) {
      OvProgram* next = p->next;
      int b = int(OvHashProgramKey(p->key) & uint64_t(newCount - 1));
      p->next = buckets[b];
      buckets[b] = p;
      p = next;
    }
  }
  OvMFree(m_buckets);
  m_buckets = buckets;
  m_bucketCount = newCount;
}

OvProgram* OvProgramCache::Get(const OvProgramKey& key) {
  if (m_count >= m_bucketCount) Grow();
  if (m_bucketCount == 0) return nullptr;
  const int b = int(OvHashProgramKey(key) & uint64_t(m_bucketCount - 1));
  for (OvProgram* p = m_buckets[b]; p; p = p->next)
    if (p->key == key) return p->name ? p : nullptr;
  OvProgram* p = Compile(key);
  if (!p) return nullptr;
  p->next = m_buckets[b];
  m_buckets[b] = p;
  ++m_count;
  return p->name ? p : nullptr;
}

OvProgram* OvProgramCache::Compile(const OvProgramKey& key) {
  void* mem = AllocMem(sizeof(OvProgram));
  if (!mem) return nullptr;
  auto* prog = new (mem) OvProgram();
  prog->key = key;
  ++m_compiles;

  char* text = static_cast<char*>(AllocMem(kTextSize));
  if (!text) return prog;  // remembered as failed
  GLuint vs = 0, fs = 0;
  if (OvGenerateVertexShader(key, text, kTextSize) < kTextSize) vs = CompileShader(GL_VERTEX_SHADER, text);
  if (OvGenerateFragmentShader(key, text, kTextSize) < kTextSize) fs = CompileShader(GL_FRAGMENT_SHADER, text);
  OvMFree(text);
  if (!vs || !fs) {
    if (vs) glDeleteShader(vs);
    if (fs) glDeleteShader(fs);
    return prog;
  }
  GLuint name = glCreateProgram();
  glAttachShader(name, vs);
  glAttachShader(name, fs);
  glLinkProgram(name);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(name, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[1024] = {};
    glGetProgramInfoLog(name, sizeof(log), nullptr, log);
    _TraceFormat("!!! %s -- %s\n", "Link GL program failed!", log);
    glDeleteProgram(name);
    return prog;
  }
  prog->name = name;
  prog->uWorldViewProj = glGetUniformLocation(name, "uWorldViewProj");
  prog->uWorldView = glGetUniformLocation(name, "uWorldView");
  prog->uNormalMatrix = glGetUniformLocation(name, "uNormalMatrix");
  prog->uScreen = glGetUniformLocation(name, "uScreen");
  prog->uMaterial = glGetUniformLocation(name, "uMaterial");
  prog->uAmbient = glGetUniformLocation(name, "uAmbient");
  prog->uLightCount = glGetUniformLocation(name, "uLightCount");
  prog->uLights = glGetUniformLocation(name, "uLights");
  prog->uFog = glGetUniformLocation(name, "uFog");
  prog->uFogColour = glGetUniformLocation(name, "uFogColour");
  prog->uTexMatrix = glGetUniformLocation(name, "uTexMatrix");
  prog->uTFactor = glGetUniformLocation(name, "uTFactor");
  prog->uAlphaRef = glGetUniformLocation(name, "uAlphaRef");
  prog->uClipFlip = glGetUniformLocation(name, "uClipFlip");
  // Stage s samples texture unit s.
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  glUseProgram(name);
  for (int s = 0; s < OV_PROGRAM_STAGES; ++s) {
    char uname[16];
    std::snprintf(uname, sizeof(uname), "uTex%d", s);
    GLint loc = glGetUniformLocation(name, uname);
    if (loc >= 0) glUniform1i(loc, s);
  }
  glUseProgram(GLuint(current));
  return prog;
}
