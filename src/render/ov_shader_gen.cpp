#include "ov_shader_gen.h"

#include <epoxy/gl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ov_paths.h"
#include "ov_renderer_gl.h"
#include "ov_trace.h"

namespace {

constexpr int kConstantRegisters = 16 + 7 * OV_MAX_LIGHTS;
constexpr size_t kMaxShaderFile = 1u << 20;

const char* const kAssembleFailed = "AssembleShaderFromFile() failed.";
const char* const kCompileFailed = "CompileShaderFromFile() failed.";

void Appendf(std::string& s, const char* format, int a, int b = 0) {
  char buf[256];
  std::snprintf(buf, sizeof(buf), format, a, a, a, a, b);
  s += buf;
}

// The text up to the first line break (trace lines stay one line).
std::string FirstLine(const char* text) {
  std::string s(text ? text : "");
  const size_t cut = s.find_first_of("\r\n");
  if (cut != std::string::npos) s.resize(cut);
  return s;
}

void TraceFailure(const char* message, const char* owner, const std::string& reason) {
  _TraceFormat("%s -- %s: %s\n", message, owner && *owner ? owner : "(built-in)", reason.c_str());
}

bool EndsWithCg(const char* name) {
  const char* slash = std::strrchr(name, '/');
  const char* back = std::strrchr(name, '\\');
  const char* base = slash > back ? slash : back;
  base = base ? base + 1 : name;
  const char* dot = std::strrchr(base, '.');
  return dot == nullptr || strcasecmp(dot, ".cg") == 0;
}

// Reads a whole regular file of at most kMaxShaderFile bytes.
bool ReadShaderFile(const std::string& path, std::string& out, std::string& reason) {
  int error = 0;
  const int fd = OvOpenRegularFile(path.c_str(), &error);
  if (fd < 0) {
    reason = path + ": " + std::strerror(error);
    return false;
  }
  out.clear();
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0) {
      reason = path + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    if (out.size() + size_t(n) > kMaxShaderFile) {
      reason = path + ": larger than 1 MB";
      close(fd);
      return false;
    }
    out.append(buf, size_t(n));
  }
  close(fd);
  return true;
}

// Shared declarations ahead of every vertex source. Attribute locations are
// the renderer's vertex layout; c[] is the constant-register file.
const char* const kVertexPrelude =
    "layout(location = 0) in vec4 aPosition;\n"
    "layout(location = 1) in vec3 aNormal;\n"
    "layout(location = 2) in vec4 aDiffuse;\n"
    "layout(location = 3) in vec4 aSpecular;\n"
    "uniform vec4 c[96];\n"
    "uniform float ovClipFlip;\n"
    "out vec4 vColor0;\nout vec4 vColor1;\n"
    "out vec4 vTex0;\nout vec4 vTex1;\nout vec4 vTex2;\nout vec4 vTex3;\n"
    "out vec4 vTex4;\nout vec4 vTex5;\nout vec4 vTex6;\nout vec4 vTex7;\n"
    "struct Light { vec4 Amb; vec4 Diff; vec4 Specular; vec4 Pos; vec4 Dir; vec4 Atten; vec4 Falloff; };\n"
    "Light ovLight(int r) { return Light(c[r], c[r + 1], c[r + 2], c[r + 3], c[r + 4], c[r + 5], c[r + 6]); }\n"
    "vec4 ovTransform(vec4 p) { return vec4(dot(c[0], p), dot(c[1], p), dot(c[2], p), dot(c[3], p)); }\n"
    "vec4 ovClip(vec4 h) { return vec4(h.x, h.y * ovClipFlip, 2.0 * h.z - h.w, h.w); }\n"
    "vec3 ovWorld(vec4 p) { return vec3(dot(c[4], p), dot(c[5], p), dot(c[6], p)); }\n"
    "vec3 ovWorldDir(vec3 n) { return vec3(dot(c[4].xyz, n), dot(c[5].xyz, n), dot(c[6].xyz, n)); }\n"
    "vec4 lit(float nl, float nh, float m) {\n"
    "  return vec4(1.0, max(nl, 0.0), (nl < 0.0 || nh < 0.0) ? 0.0 : pow(max(nh, 1e-8), m), 1.0);\n}\n"
    "void DirLighting(inout vec4 lighting, vec3 n, vec4 dir, vec3 cam, float power) {\n"
    "  lighting = lit(dot(-dir.xyz, n), -dot(n, normalize(dir.xyz + cam)), power);\n}\n"
    "void PointLighting(inout vec4 lighting, vec3 p, vec3 n, vec4 pos, vec3 cam, float power, vec4 atten) {\n"
    "  vec3 L = pos.xyz - p; float d = length(L); vec3 l = L / max(d, 1e-6);\n"
    "  float a = 1.0 / max(dot(atten.xyz, vec3(1.0, d, d * d)), 1e-6);\n"
    "  lighting = lit(dot(l, n), dot(n, normalize(l - cam)), power) * a; lighting.x = a;\n}\n"
    "void SpotLighting(inout vec4 lighting, vec3 p, vec3 n, vec4 pos, vec4 dir, vec3 cam, float power,\n"
    "                  vec4 atten, vec4 falloff) {\n"
    "  vec3 L = pos.xyz - p; float d = length(L); vec3 l = L / max(d, 1e-6);\n"
    "  float s = clamp((dot(-l, dir.xyz) - falloff.x) * falloff.y, 0.0, 1.0);\n"
    "  float a = pow(s, falloff.z) / max(dot(atten.xyz, vec3(1.0, d, d * d)), 1e-6);\n"
    "  lighting = lit(dot(l, n), dot(n, normalize(l - cam)), power) * a; lighting.x = a;\n}\n";

const char* const kPixelPrelude =
    "in vec4 vColor0;\nin vec4 vColor1;\n"
    "in vec4 vTex0;\nin vec4 vTex1;\nin vec4 vTex2;\nin vec4 vTex3;\n"
    "in vec4 vTex4;\nin vec4 vTex5;\nin vec4 vTex6;\nin vec4 vTex7;\n"
    "uniform sampler2D uTex0;\nuniform sampler2D uTex1;\nuniform sampler2D uTex2;\nuniform sampler2D uTex3;\n"
    "uniform vec4 pc[8];\nuniform vec4 ovTexOn;\n"
    "out vec4 ovFragColor;\n";

// Without a pixel shader: texture 0 (when bound) times colour 0, plus the
// specular colour.
const char* const kDefaultPixelProgram =
    "// target:ps_1_1\n"
    "void main() {\n"
    "  vec4 col = vColor0;\n"
    "  if (ovTexOn.x > 0.5) col *= texture(uTex0, vTex0.xy);\n"
    "  ovFragColor = vec4(col.rgb + vColor1.rgb, col.a);\n"
    "}\n";

// Blanks a "#version" line of the source: the engine writes its own first.
std::string WithoutVersion(const char* text, size_t size) {
  std::string s(text, size);
  for (size_t at = s.find("#version"); at != std::string::npos; at = s.find("#version", at + 2)) {
    if (at == 0 || s[at - 1] == '\n') s[at] = s[at + 1] = '/';
  }
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Source rules.

OvShaderSourceKind OvClassifyShaderSource(const char* source) {
  if (source && source[0] == ';') return OvShaderSourceKind::AssemblyText;
  if (source && source[0] == '/' && source[1] == '/') return OvShaderSourceKind::HighLevelText;
  return source && !EndsWithCg(source) ? OvShaderSourceKind::AssemblyFile : OvShaderSourceKind::HighLevelFile;
}

bool OvShaderTarget(const char* line, size_t limit, char out[10]) {
  out[0] = 0;
  static const char kMarker[] = "// target:";
  const size_t markerLen = sizeof(kMarker) - 1;
  if (!line || limit < markerLen || std::strncmp(line, kMarker, markerLen) != 0) return false;
  size_t n = 0;
  for (size_t i = markerLen; i < limit && n < 9; ++i) {
    const char ch = line[i];
    if (ch == 0 || ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') break;
    out[n++] = ch;
  }
  out[n] = 0;
  return true;
}

uint32_t OvSortLights(const OvLightData* const* lights, int count, const OvLightData** out) {
  if (count > 16) count = 16;
  static constexpr int32_t kOrder[3] = {OV_LIGHT_DIRECTIONAL, OV_LIGHT_POINT, OV_LIGHT_SPOT};
  uint32_t code = 0;
  int n = 0;
  for (int32_t type : kOrder) {
    for (int i = 0; i < count; ++i) {
      // Types the device does not know are drawn as point lights.
      int32_t t = lights[i]->type;
      if (t != OV_LIGHT_SPOT && t != OV_LIGHT_DIRECTIONAL) t = OV_LIGHT_POINT;
      if (t != type) continue;
      code |= uint32_t(t) << (2 * n);
      out[n++] = lights[i];
    }
  }
  return code;
}

int OvLightCodeCount(uint32_t code) {
  int n = 0;
  while (n < 16 && ((code >> (2 * n)) & 3) != 0) ++n;
  return n;
}

bool OvVertexShaderDefines(uint32_t lightCode, int lightCount, int texCount, const OvShaderMacro* extra,
                           std::string& out) {
  out.clear();
  if (lightCount < 0) lightCount = 0;
  if (lightCount > 16) lightCount = 16;
  if (texCount < 0) texCount = 0;
  if (texCount > OV_MAX_TEXCOORD_SETS) texCount = OV_MAX_TEXCOORD_SETS;
  std::string lighting, params, decl, assign;
  for (int i = 0; i < 16; ++i) {
    const uint32_t type = (lightCode >> (2 * i)) & 3;
    if (type == 0) break;
    if (type == 1)
      Appendf(lighting, "PointLighting(lighting,posVert,nmlVert,lt%d.Pos,cam_vert,mtlSpecular.w,lt%d.Atten);", i);
    else if (type == 2)
      Appendf(
          lighting,
          "SpotLighting(lighting,posVert,nmlVert,lt%d.Pos,lt%d.Dir,cam_vert,mtlSpecular.w,lt%d.Atten,lt%d.Falloff);",
          i);
    else
      Appendf(lighting, "DirLighting(lighting,nmlVert,lt%d.Dir,cam_vert,mtlSpecular.w);", i);
    Appendf(lighting,
            "diff.rgb+=lighting.y*lt%d.Diff.rgb;specular.rgb+=lighting.z*lt%d.Specular.rgb;amb.rgb+=lighting.x*lt%d."
            "Amb.rgb;",
            i);
  }
  for (int i = 0; i < lightCount; ++i) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "Light lt%d=ovLight(%d);", i, 16 + 7 * i);
    params += buf;
  }
  for (int i = 0; i < texCount; ++i) {
    char buf[96];
    std::snprintf(buf, sizeof(buf), "layout(location=%d) in vec2 aTex%d;", 4 + i, i);
    decl += buf;
    std::snprintf(buf, sizeof(buf), "vTex%d=vec4(aTex%d,0.0,1.0);", i, i);
    assign += buf;
  }
  char num[3][16];
  std::snprintf(num[0], sizeof(num[0]), "%u", lightCode);
  std::snprintf(num[1], sizeof(num[1]), "%d", lightCount);
  std::snprintf(num[2], sizeof(num[2]), "%d", texCount);
  const OvShaderMacro defaults[] = {{"LIGHTING", lighting.c_str()}, {"LIGHT_PARAMS", params.c_str()},
                                    {"TEX_DECL", decl.c_str()},     {"TEX_ASSIGN", assign.c_str()},
                                    {"LIGHT_TYPES", num[0]},        {"LIGHT_NUM", num[1]},
                                    {"TEX_COORD_NUM", num[2]}};
  int count = 0;
  auto add = [&](const OvShaderMacro& m) {
    out += "#define ";
    out += m.name;
    out += ' ';
    out += FirstLine(m.value);
    out += '\n';
    ++count;
  };
  for (const OvShaderMacro& m : defaults) add(m);
  for (const OvShaderMacro* m = extra; m && m->name; ++m) {
    if (count >= OV_MAX_SHADER_MACROS) return false;
    add(*m);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Built-in programs.

const char* const kOvLitVertexProgram =
    "// target:vs_1_1\n"
    "TEX_DECL\n"
    "void main() {\n"
    "  LIGHT_PARAMS\n"
    "  vec4 pos = vec4(aPosition.xyz, 1.0);\n"
    "  gl_Position = ovClip(ovTransform(pos));\n"
    "  vec3 posVert = ovWorld(pos);\n"
    "  vec3 nmlVert = normalize(ovWorldDir(aNormal));\n"
    "  vec3 cam_vert = normalize(posVert - c[8].xyz);\n"
    "  vec4 mtlSpecular = c[11];\n"
    "  vec4 amb = c[13];\n"
    "  vec4 diff = vec4(0.0, 0.0, 0.0, 1.0);\n"
    "  vec4 specular = vec4(0.0, 0.0, 0.0, 1.0);\n"
    "  vec4 lighting = vec4(0.0);\n"
    "  LIGHTING\n"
    "  vColor0 = vec4(diff.rgb * c[10].rgb + amb.rgb * c[9].rgb + c[12].rgb, c[10].a);\n"
    "  vColor1 = specular * mtlSpecular;\n"
    "  TEX_ASSIGN\n"
    "}\n";

const char* const kOvUnlitVertexProgram =
    "// target:vs_1_1\n"
    "#ifdef TEX_DECL\nTEX_DECL\n#endif\n"
    "void main() {\n"
    "  gl_Position = ovClip(ovTransform(vec4(aPosition.xyz, 1.0)));\n"
    "#ifdef VERT_COLOR_NUM\n  vColor0 = aDiffuse;\n#else\n  vColor0 = vec4(1.0);\n#endif\n"
    "  vColor1 = vec4(0.0);\n"
    "#ifdef TEX_ASSIGN\n  TEX_ASSIGN\n#endif\n"
    "}\n";

const char* const kOvToonVertexProgram =
    "// target:vs_1_1\n"
    "layout(location = 4) in vec2 aTex0;\n"
    "void main() {\n"
    "#ifdef LIGHT_PARAMS\n  LIGHT_PARAMS\n#else\n  Light lt0 = ovLight(16);\n#endif\n"
    "  vec4 pos = vec4(aPosition.xyz, 1.0);\n"
    "  gl_Position = ovClip(ovTransform(pos));\n"
    "  vec3 posVert = ovWorld(pos);\n"
    "  vec3 l = normalize(lt0.Pos.xyz - posVert);\n"
    "  vTex0 = vec4(aTex0, 0.0, 1.0);\n"
    "  vTex1 = vec4(normalize(ovWorldDir(aNormal)), 0.0);\n"
    "  vTex2 = vec4(l, 0.0);\n"
    "  vTex3 = vec4(normalize(l + normalize(c[8].xyz - posVert)), 0.0);\n"
    "  vColor0 = vec4(lt0.Diff.rgb * c[10].rgb, c[10].a);\n"
    "  vColor1 = vec4(0.0);\n"
    "}\n";

const char* const kOvToonPixelProgram =
    "// target:ps_1_4\n"
    "void main() {\n"
    "  vec4 col = pc[3];\n"
    "  float nl = dot(normalize(vTex1.xyz), normalize(vTex2.xyz));\n"
    "  if (nl < pc[0].x) col = pc[1]; else if (nl < pc[0].y) col = pc[2];\n"
    "  vec4 t = ovTexOn.x > 0.5 ? texture(uTex0, vTex0.xy) : vec4(1.0);\n"
    "  ovFragColor = clamp(vec4(col.rgb, 1.0) * pc[4] * t, 0.0, 1.0);\n"
    "}\n";

const char* const kOvBumpVertexProgram =
    "// target:vs_1_1\n"
    "layout(location = 4) in vec2 aTex0;\n"
    "layout(location = 5) in vec2 aTex1;\n"
    "layout(location = 9) in vec3 aBasisT;\n"
    "layout(location = 10) in vec3 aBasisB;\n"
    "layout(location = 11) in vec3 aBasisN;\n"
    "vec3 ovTangent(vec3 v) { return vec3(dot(aBasisT, v), dot(aBasisB, v), dot(aBasisN, v)); }\n"
    "void main() {\n"
    "  vec4 pos = vec4(aPosition.xyz, 1.0);\n"
    "  gl_Position = ovClip(ovTransform(pos));\n"
    "  vTex0 = vec4(aTex0, 0.0, 1.0);\n"
    "#ifdef BUMP_TEX_COORD\n  vTex1 = vec4(aTex1, 0.0, 1.0);\n#else\n  vTex1 = vTex0;\n#endif\n"
    "  vec3 toLight = c[19].w > 0.5 ? c[19].xyz - pos.xyz : -c[20].xyz;\n"
    "  float d = c[19].w > 0.5 ? length(toLight) : 0.0;\n"
    "  float att = min(1.0 / max(dot(c[21].xyz, vec3(1.0, d, d * d)), 1e-6), 1.0);\n"
    "  vec3 l = normalize(ovTangent(toLight));\n"
    "  vec3 e = normalize(ovTangent(c[8].xyz - pos.xyz));\n"
    "  vec3 h = normalize(l + e) * att;\n"
    "  l *= att;\n"
    "  vColor0 = vec4(ovTangent(aNormal) * 0.5 + 0.5, 1.0);\n"
    "  vColor1 = vec4(l * 0.5 + 0.5, 1.0);\n"
    "  vTex2 = vec4(l, 1.0);\n"
    "  vTex3 = vec4(h * 0.5 + 0.5, 1.0);\n"
    "}\n";

const char* const kOvBumpPixelProgram =
    "// target:ps_1_1\n"
    "void main() {\n"
    "  vec4 base = texture(uTex0, vTex0.xy);\n"
    "  vec3 n = texture(uTex1, vTex1.xy).rgb * 2.0 - 1.0;\n"
    "  vec3 l = vColor1.rgb * 2.0 - 1.0;\n"
    "  float s = clamp(dot(vTex3.xyz * 2.0 - 1.0, n), 0.0, 1.0);\n"
    "  float diffuse = clamp(dot(l, n), 0.0, 1.0);\n"
    "  float a = clamp(4.0 * (s * pc[3].a + pc[4].a), 0.0, 1.0);\n"
    "  a = 4.0 * a * a;\n"
    "  vec3 specular = 4.0 * a * pc[2].rgb;\n"
    "#ifdef ENABLE_SELF_SHADOWING\n"
    "  float shadow = clamp(4.0 * dot(vColor0.rgb * 2.0 - 1.0, l), 0.0, 1.0);\n"
    "#else\n  float shadow = 1.0;\n#endif\n"
    "  ovFragColor = vec4((base.rgb * diffuse * pc[0].rgb + specular) * shadow + base.rgb * pc[1].rgb, 1.0);\n"
    "}\n";

// ---------------------------------------------------------------------------
// Cache.

OvShaderCache::OvShaderCache(OvRendererGL* renderer) : OvVolatileRes(renderer) {}

OvShaderCache::~OvShaderCache() {
  Clear();
  std::free(m_vs);
  std::free(m_ps);
  std::free(m_linked);
  std::free(m_dead);
}

void OvShaderCache::Clear() {
  for (int i = 0; i < m_linkedCount; ++i) glDeleteProgram(m_linked[i].name);
  for (int i = 0; i < m_vsCount; ++i)
    if (m_vs[i].shader) glDeleteShader(m_vs[i].shader);
  for (int i = 0; i < m_psCount; ++i)
    if (m_ps[i].shader) glDeleteShader(m_ps[i].shader);
  if (m_defaultPixel) glDeleteShader(m_defaultPixel);
  m_defaultPixel = 0;
  m_vsCount = m_psCount = m_linkedCount = m_deadCount = 0;
}

bool OvShaderCache::IsDead(uintptr_t source) const {
  for (int i = 0; i < m_deadCount; ++i)
    if (m_dead[i] == source) return true;
  return false;
}

template <typename T>
static bool Reserve(T*& items, int count, int& cap) {
  if (count < cap) return true;
  const int grown = cap ? cap * 2 : 16;
  T* p = static_cast<T*>(std::realloc(items, sizeof(T) * size_t(grown)));
  if (!p) return false;
  items = p;
  cap = grown;
  return true;
}

unsigned OvShaderCache::CompileText(bool vertex, const char* text, size_t size, const char* profile,
                                    const std::string& defines, const char* message, const char* owner) {
  ++m_compiles;
  const char* want = vertex ? "vs_" : "ps_";
  if (std::strncmp(profile, want, 3) != 0 || profile[3] == 0) {
    TraceFailure(message, owner, std::string("no compiler for target '") + profile + "'");
    return 0;
  }
  const std::string body = WithoutVersion(text, size);
  const std::string head = std::string("#version 330 core\n") + defines + (vertex ? kVertexPrelude : kPixelPrelude);
  const char* parts[3] = {head.c_str(), "#line 1\n", body.c_str()};
  GLuint shader = glCreateShader(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
  if (!shader) {
    Trace(vertex ? "CreateVertexShader() failed.\n" : "CreatePixelShader() failed.\n");
    return 0;
  }
  glShaderSource(shader, 3, parts, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[1024] = {};
    glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
    TraceFailure(message, owner, FirstLine(log));
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

unsigned OvShaderCache::Build(bool vertex, const char* source, const std::string& defines, const char* owner) {
  const int compiles = m_compiles;
  bool textCompiled = false;
  const unsigned shader = BuildOnce(vertex, source, defines, owner, textCompiled);
  if (!shader && !textCompiled && m_compiles != compiles && Reserve(m_dead, m_deadCount, m_deadCap))
    m_dead[m_deadCount++] = reinterpret_cast<uintptr_t>(source);
  return shader;
}

unsigned OvShaderCache::BuildOnce(bool vertex, const char* source, const std::string& defines, const char* owner,
                                  bool& textCompiled) {
  const char* deflt = vertex ? "vs_1_1" : "ps_1_1";
  char profile[10];
  switch (OvClassifyShaderSource(source)) {
    case OvShaderSourceKind::AssemblyText:
      ++m_compiles;
      TraceFailure(kAssembleFailed, owner, "assembly shader text cannot be built on this device");
      return 0;
    case OvShaderSourceKind::HighLevelText: {
      if (!OvShaderTarget(source, 30, profile)) std::strcpy(profile, deflt);
      textCompiled = true;
      return CompileText(vertex, source, std::strlen(source), profile, defines, kCompileFailed, owner);
    }
    default: break;
  }
  const bool assembly = OvClassifyShaderSource(source) == OvShaderSourceKind::AssemblyFile;
  const char* message = assembly ? kAssembleFailed : kCompileFailed;
  std::string path;
  if (!ResolveDataPath(path, source, m_folder.empty() ? "./" : m_folder.c_str())) {
    ++m_compiles;
    TraceFailure(message, owner, std::string(source) + ": file not found");
    return 0;
  }
  if (assembly) {
    ++m_compiles;
    TraceFailure(message, owner, path + ": assembly shader files cannot be built on this device");
    return 0;
  }
  std::string text, reason;
  if (!ReadShaderFile(path, text, reason)) {
    ++m_compiles;
    TraceFailure(message, owner, reason);
    return 0;
  }
  if (!OvShaderTarget(text.c_str(), text.size() < 99 ? text.size() : 99, profile)) std::strcpy(profile, deflt);
  textCompiled = true;
  return CompileText(vertex, text.data(), text.size(), profile, defines, message, owner);
}

unsigned OvShaderCache::GetVertexShader(uint32_t lightCode, int lightCount, int texCount, const char* source,
                                        const OvShaderMacro* extra, const char* owner) {
  if (!source) source = kOvLitVertexProgram;
  const uintptr_t macros = reinterpret_cast<uintptr_t>(extra);
  const uintptr_t src = reinterpret_cast<uintptr_t>(source);
  for (int i = 0; i < m_vsCount; ++i) {
    const VsEntry& e = m_vs[i];
    if (e.macros == macros && e.code == lightCode && e.texCount == uint32_t(texCount) && e.source == src)
      return e.shader;
  }
  std::string defines;
  unsigned shader = 0;
  if (IsDead(src)) {
    // Known to fail for every key.
  } else if (!OvVertexShaderDefines(lightCode, lightCount, texCount, extra, defines)) {
    ++m_compiles;
    TraceFailure(kCompileFailed, owner, "more than 127 macros");
  } else {
    shader = Build(true, source, defines, owner);
  }
  if (!Reserve(m_vs, m_vsCount, m_vsCap)) return shader;  // not cached, still usable
  m_vs[m_vsCount++] = {macros, src, lightCode, uint32_t(texCount), shader};
  return shader;
}

unsigned OvShaderCache::GetPixelShader(const char* source, const OvShaderMacro* macros, const char* owner) {
  if (!source) return 0;
  const uintptr_t m = reinterpret_cast<uintptr_t>(macros);
  const uintptr_t src = reinterpret_cast<uintptr_t>(source);
  for (int i = 0; i < m_psCount; ++i)
    if (m_ps[i].macros == m && m_ps[i].source == src) return m_ps[i].shader;
  std::string defines;
  int count = 0;
  for (const OvShaderMacro* p = macros; p && p->name && count < OV_MAX_SHADER_MACROS; ++p, ++count)
    defines += std::string("#define ") + p->name + " " + FirstLine(p->value) + "\n";
  const unsigned shader = IsDead(src) ? 0 : Build(false, source, defines, owner);
  if (!Reserve(m_ps, m_psCount, m_psCap)) return shader;
  m_ps[m_psCount++] = {m, src, shader};
  return shader;
}

const OvShaderCache::Linked* OvShaderCache::Find(unsigned program) const {
  for (int i = 0; i < m_linkedCount; ++i)
    if (m_linked[i].name == program) return &m_linked[i];
  return nullptr;
}

unsigned OvShaderCache::Program(unsigned vertexShader, unsigned pixelShader) {
  if (!vertexShader) return 0;
  for (int i = 0; i < m_linkedCount; ++i)
    if (m_linked[i].vs == vertexShader && m_linked[i].ps == pixelShader) return m_linked[i].name;
  unsigned ps = pixelShader;
  if (!ps) {
    if (!m_defaultPixel)
      m_defaultPixel = CompileText(false, kDefaultPixelProgram, std::strlen(kDefaultPixelProgram), "ps_1_1",
                                   std::string(), kCompileFailed, nullptr);
    ps = m_defaultPixel;
    if (!ps) return 0;
  }
  if (!Reserve(m_linked, m_linkedCount, m_linkedCap)) return 0;
  ++m_links;
  GLuint name = glCreateProgram();
  glAttachShader(name, vertexShader);
  glAttachShader(name, ps);
  glLinkProgram(name);
  glDetachShader(name, vertexShader);
  glDetachShader(name, ps);
  GLint ok = 0;
  glGetProgramiv(name, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[1024] = {};
    glGetProgramInfoLog(name, sizeof(log), nullptr, log);
    _TraceFormat("%s -- %s\n", "Link GL program failed!", FirstLine(log).c_str());
    glDeleteProgram(name);
    name = 0;
  }
  Linked& l = m_linked[m_linkedCount++];
  l = Linked();
  l.vs = vertexShader;
  l.ps = pixelShader;
  l.name = name;
  if (name) {
    l.constants = glGetUniformLocation(name, "c");
    l.pixelConstants = glGetUniformLocation(name, "pc");
    l.clipFlip = glGetUniformLocation(name, "ovClipFlip");
    l.texOn = glGetUniformLocation(name, "ovTexOn");
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    glUseProgram(name);
    for (int s = 0; s < 4; ++s) {
      char uname[8];
      std::snprintf(uname, sizeof(uname), "uTex%d", s);
      const GLint loc = glGetUniformLocation(name, uname);
      if (loc >= 0) glUniform1i(loc, s);
    }
    glUseProgram(GLuint(current));
  }
  return name;
}

// ---------------------------------------------------------------------------
// Constants and drawing.

void OvSetVertexShaderConstants(OvRendererGL& r, bool withAmbient, const OvLightData* const* lights, int count) {
  const OvShaderCache::Linked* p = r.ShaderCache() ? r.ShaderCache()->Find(r.ShaderProgram()) : nullptr;
  if (!p || p->constants < 0) return;
  if (count < 0) count = 0;
  if (count > OV_MAX_LIGHTS) count = OV_MAX_LIGHTS;
  float c[kConstantRegisters][4] = {};
  OvMatrix wv, wvp;
  OvMatMul4x4(wv, r.WorldMatrix(), r.ViewMatrix());
  OvMatMul4x4(wvp, wv, r.ProjectionMatrix());
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      c[i][j] = wvp.m[j][i];
      c[4 + i][j] = r.WorldMatrix().m[j][i];
    }
  const OvVector& cam = r.CameraPosition();
  c[8][0] = cam.x, c[8][1] = cam.y, c[8][2] = cam.z, c[8][3] = 1.0f;
  const OvMaterial& m = r.Material();
  std::memcpy(c[9], m.ambient, sizeof(c[9]));
  std::memcpy(c[10], m.diffuse, sizeof(c[10]));
  std::memcpy(c[11], m.specular, sizeof(c[11]));
  c[11][3] = m.power;
  std::memcpy(c[12], m.emissive, sizeof(c[12]));
  if (withAmbient) {
    const float* argb = r.AmbientFloats();  // alpha first
    c[13][0] = argb[1], c[13][1] = argb[2], c[13][2] = argb[3], c[13][3] = argb[0];
  }
  for (int i = 0; i < count; ++i) {
    const OvLightData& l = *lights[i];
    float(*q)[4] = &c[16 + 7 * i];
    std::memcpy(q[0], l.ambient, sizeof(q[0]));
    std::memcpy(q[1], l.diffuse, sizeof(q[1]));
    std::memcpy(q[2], l.specular, sizeof(q[2]));
    q[3][0] = l.position.x, q[3][1] = l.position.y, q[3][2] = l.position.z, q[3][3] = 1.0f;
    q[4][0] = l.direction.x, q[4][1] = l.direction.y, q[4][2] = l.direction.z;
    q[5][0] = l.attenuation[0], q[5][1] = l.attenuation[1], q[5][2] = l.attenuation[2];
    const float cosPhi = std::cos(l.phi), cosTheta = std::cos(l.theta);
    // Equal cone angles make a hard edge rather than a division by zero.
    const float span = cosTheta - cosPhi;
    q[6][0] = cosPhi;
    q[6][1] = span > 1e-6f ? 1.0f / span : 1e6f;
    q[6][2] = l.falloff;
  }
  const int used = 16 + 7 * (count > 0 ? count : 1);
  glUniform4fv(p->constants, used, &c[0][0]);
  if (p->clipFlip >= 0) glUniform1f(p->clipFlip, r.RenderTarget() ? -1.0f : 1.0f);
  if (p->texOn >= 0) glUniform4f(p->texOn, r.Texture(0) ? 1.0f : 0.0f, r.Texture(1) ? 1.0f : 0.0f, 0, 0);
}

void OvSetVertexShaderConstantsAt(OvRendererGL& r, int start, const float* values, int count) {
  const OvShaderCache::Linked* p = r.ShaderCache() ? r.ShaderCache()->Find(r.ShaderProgram()) : nullptr;
  if (!p || p->constants < 0 || start < 0 || count <= 0 || start + count > kConstantRegisters) return;
  glUniform4fv(p->constants + start, count, values);
}

void OvSetPixelShaderConstants(OvRendererGL& r, int start, const float* values, int count) {
  const OvShaderCache::Linked* p = r.ShaderCache() ? r.ShaderCache()->Find(r.ShaderProgram()) : nullptr;
  if (!p || p->pixelConstants < 0 || start < 0 || count <= 0 || start + count > 8) return;
  glUniform4fv(p->pixelConstants + start, count, values);
}

bool OvDrawLitWithShaders(OvRendererGL& r, const OvShaderDraw& d, bool withAmbient, const OvLightData* const* lights,
                          int count, int passLimit, int* passesDrawn) {
  if (passesDrawn) *passesDrawn = 0;
  OvShaderCache* cache = r.ShaderCache();
  if (!cache || !d.draw) return false;
  if (count < 0) count = 0;
  if (count > OV_MAX_LIGHTS) count = OV_MAX_LIGHTS;
  const bool software = r.VertexShaderVersion() < 0x100;
  if (software) r.SetSoftwareVertexProcessing(true);
  const OvLightData* sorted[OV_MAX_LIGHTS];
  uint32_t code = OvSortLights(lights, count, sorted);
  static constexpr uint32_t kSaved[] = {RS_ALPHABLENDENABLE, RS_ALPHATESTENABLE, RS_DESTBLEND, RS_SRCBLEND,
                                        RS_FOGCOLOR};
  uint32_t saved[5];
  bool additive = false;
  bool ok = true;
  int used = 0, passes = 0;
  const int texCount = d.texCount;
  do {
    if (passLimit > 0 && passes >= passLimit) break;
    const int remaining = count - used;
    int n = passLimit < 0 ? (remaining > 0 ? 1 : 0) : remaining;
    unsigned vs = 0;
    for (;;) {
      const uint32_t mask = n >= 16 ? ~0u : (1u << (2 * n)) - 1;
      vs = cache->GetVertexShader(code & mask, n, texCount, d.vertexSource, d.macros, d.owner);
      if (vs || n <= 1 || passLimit < 0) break;
      --n;
    }
    const unsigned program = vs ? cache->Program(vs, d.pixelShader) : 0;
    if (!program) {
      ok = false;
      break;
    }
    r.UseShaderProgram(program);
    OvSetVertexShaderConstants(r, withAmbient && passes == 0, sorted + used, n);
    d.draw(d.context);
    ++passes;
    if (!additive) {
      additive = true;
      for (int i = 0; i < 5; ++i) saved[i] = r.GetRenderState(kSaved[i]);
      r.SetRenderState(RS_ALPHABLENDENABLE, 1);
      r.SetRenderState(RS_ALPHATESTENABLE, d.alphaTest ? 1 : 0);
      r.SetRenderState(RS_DESTBLEND, BLEND_ONE);
      r.SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
      if (r.FogOn()) r.SetRenderState(RS_FOGCOLOR, 0);
    }
    used += n;
    code = n >= 16 ? 0 : code >> (2 * n);
  } while (used < count);
  // Later draws must not inherit the additive passes' states.
  if (additive)
    for (int i = 0; i < 5; ++i) r.SetRenderState(kSaved[i], saved[i]);
  r.UseShaderProgram(0);
  if (software) r.SetSoftwareVertexProcessing(false);
  if (passesDrawn) *passesDrawn = passes;
  return ok;
}

// ---------------------------------------------------------------------------
// Renderer side.

OvShaderCache* OvRendererGL::ShaderCache() {
  if (!m_shaders && m_context && !m_deviceLost) m_shaders = new OvShaderCache(this);
  return m_shaders;
}

void OvRendererGL::UseShaderProgram(unsigned program) {
  m_shaderProgram = program;
  if (program && m_context && m_boundProgram != program) {
    glUseProgram(program);
    m_boundProgram = program;
  }
}
