#include "ov_shader_material.h"

#include <cstring>

#include "ov_database.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_shader_gen.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

void ArgbToFloats(uint32_t argb, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = float((argb >> (16 - 8 * i)) & 0xFF) / 255.0f;
  out[3] = float(argb >> 24) / 255.0f;
}

char* ArenaCopy(OvChunkArena& arena, const char* text) {
  if (!text) return nullptr;
  const size_t n = std::strlen(text);
  if (n > 65535) return nullptr;
  char* out = static_cast<char*>(arena.Allocate(int32_t(n + 1)));
  if (out) std::memcpy(out, text, n + 1);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Stored form: format, name, four texture indices, pass limit, alpha test,
// vertex source, pixel source.

bool OvShaderMaterial::Read(OvStream& stream, OvChunkArena& arena) {
  if (!stream.ReadU32(m_format) || !stream.ReadString(m_name, &arena)) return false;
  for (int32_t& map : m_maps)
    if (!stream.ReadI32(map)) return false;
  if (!stream.ReadI32(m_passLimit) || !stream.ReadI32(m_alphaTest)) return false;
  char* vertexSource = nullptr;
  char* pixelSource = nullptr;
  if (!stream.ReadString(vertexSource, &arena) || !stream.ReadString(pixelSource, &arena)) return false;
  UsePrograms(vertexSource, pixelSource);
  return MakeFallback(arena);
}

bool OvShaderMaterial::Write(OvStream& stream) const {
  bool ok = stream.WriteU32(m_format) && stream.WriteString(m_name);
  for (int32_t map : m_maps) ok = ok && stream.WriteI32(map);
  ok = ok && stream.WriteI32(m_passLimit) && stream.WriteI32(m_alphaTest);
  return ok && stream.WriteString(m_vertexSource) && stream.WriteString(m_pixelSource);
}

bool OvShaderMaterial::Set(OvChunkArena& arena, const char* name, const int32_t maps[kMaps], int32_t passLimit,
                           int32_t alphaTest, const char* vertexSource, const char* pixelSource) {
  m_name = ArenaCopy(arena, name);
  for (int i = 0; i < kMaps; ++i) m_maps[i] = maps[i];
  m_passLimit = passLimit;
  m_alphaTest = alphaTest;
  m_vertexSource = ArenaCopy(arena, vertexSource);
  m_pixelSource = ArenaCopy(arena, pixelSource);
  return MakeFallback(arena);
}

bool OvShaderMaterial::MakeFallback(OvChunkArena& arena) {
  // The first map as a plain texture layer, or the lit colour alone.
  OvStdLayer layer;
  const int32_t index = m_maps[0];
  const int32_t layers = index >= 0 ? 1 : 0;
  return m_fallback.SetLayers(arena, &layer, layers) && m_fallback.SetTextureIndices(arena, &index, layers);
}

void OvShaderMaterial::Bind(OvDatabase* database) {
  for (int i = 0; i < kMaps; ++i) {
    const OvTextureEntry* entry = database && m_maps[i] >= 0 ? database->Texture(m_maps[i]) : nullptr;
    m_textures[i] = entry ? static_cast<OvGLTexture*>(entry->handle) : nullptr;
  }
  m_fallback.Bind(database);
}

void OvShaderMaterial::SetTexture(int i, OvGLTexture* texture) {
  m_textures[i & 3] = texture;
  if ((i & 3) == 0) m_fallback.SetTexture(0, texture);
}

// ---------------------------------------------------------------------------
// Drawing.

namespace {

class ShaderMaterialDraw : public OvShaderResource {
 public:
  ShaderMaterialDraw(OvShaderMaterial& material, OvPassPlan* fallback) : m_material(material), m_fallback(fallback) {}

  // The basis is built from set 0, the set the normal map is read with.
  int BumpSet() const override { return m_material.NeedsTangents() ? 0 : -1; }
  bool NeedsTangentStream() const override { return m_material.NeedsTangents(); }

  void DrawSubset(OvMeshDrawer& drawer, int subset) override {
    if (!m_broken && DrawWithPrograms(drawer, subset)) return;
    if (m_fallback) m_fallback->DrawSubset(drawer, subset);
  }

 private:
  ~ShaderMaterialDraw() override {
    if (m_fallback) m_fallback->Release();
  }

  struct Geometry {
    OvMeshDrawer* drawer;
    int subset;
    const OvShaderMaterial* material;
    const OvLightData* const* lights;  // in pass order
    int count;
    int pass;
  };
  static bool DrawGeometry(void* context) {
    Geometry* g = static_cast<Geometry*>(context);
    const int at = g->pass < g->count ? g->pass : g->count - 1;
    g->material->SetPixelConstants(g->drawer->Renderer(), at >= 0 ? g->lights[at] : nullptr, g->pass);
    ++g->pass;
    return g->drawer->DrawGeometry(g->subset);
  }

  bool DrawWithPrograms(OvMeshDrawer& drawer, int subset) {
    OvRendererGL& r = drawer.Renderer();
    OvShaderCache* cache = r.ShaderCache();
    const char* vertexSource = m_material.VertexSource();
    // Without a vertex program the subset is not drawn.
    if (!vertexSource || !*vertexSource) return true;
    if (!cache) return false;
    // Bump programs read the basis rows; without them the standard
    // material draws the subset.
    if (m_material.NeedsTangents() && !drawer.Buffers().layout.tangentStream) return false;
    const char* name = m_material.Name() ? m_material.Name() : "";
    const OvShaderMacro* macros = m_material.Macros();
    // Asked of the cache each time: its shaders go with the device and are
    // made again after a reset. A pixel program that cannot be built is
    // dropped (the cache remembers the failure); colours still draw.
    const char* pixelSource = m_material.PixelSource();
    const unsigned pixel = pixelSource && *pixelSource ? cache->GetPixelShader(pixelSource, macros, name) : 0;
    for (int s = 0; s < OvShaderMaterial::kMaps; ++s) r.SetTexture(s, m_material.Texture(s));
    const OvLightData* given[OV_MAX_LIGHTS];
    int count = 0;
    for (int i = 0; i < OV_MAX_LIGHTS && count < m_material.LightLimit(); ++i)
      if (r.LightEnabled(i)) given[count++] = &r.Light(i);
    // The passes take the lights in this order, so each pass's constants
    // follow its own light.
    const OvLightData* lights[OV_MAX_LIGHTS];
    OvSortLights(given, count, lights);
    Geometry geometry{&drawer, subset, &m_material, lights, count, 0};
    OvShaderDraw d;
    d.vertexSource = vertexSource;
    d.macros = macros;
    d.pixelShader = pixel;
    d.texCount = drawer.Buffers().layout.texSets;
    d.alphaTest = m_material.AlphaTest();
    d.owner = name;
    d.draw = &ShaderMaterialDraw::DrawGeometry;
    d.context = &geometry;
    int passes = 0;
    OvStatePair saved[] = {{RS_ALPHATESTENABLE, 0}, {RS_ALPHABLENDENABLE, 0}, {RS_SRCBLEND, 0}, {RS_DESTBLEND, 0}};
    const int savedCount = int(sizeof(saved) / sizeof(saved[0]));
    r.GetRenderStates(saved, savedCount);
    r.SetRenderState(RS_ALPHATESTENABLE, d.alphaTest ? 1 : 0);
    if (m_material.BlendsOver()) {
      r.SetRenderState(RS_ALPHABLENDENABLE, 1);
      r.SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
      r.SetRenderState(RS_DESTBLEND, BLEND_INVSRCALPHA);
    }
    OvDrawLitWithShaders(r, d, true, lights, count, m_material.PassLimit(), &passes);
    r.SetRenderStates(saved, savedCount);
    for (int s = 0; s < OvShaderMaterial::kMaps; ++s) r.SetTexture(s, nullptr);
    // Nothing drawn: the programs will not build for this record; stop
    // trying and use the standard material from now on.
    if (passes == 0) m_broken = true;
    return passes > 0;
  }

  OvShaderMaterial& m_material;
  OvPassPlan* m_fallback;
  bool m_broken = false;
};

// Shader classes described like node types: display name and parameters.
template <class Material>
class MaterialType : public OvNodeTypeOf<Material> {
 public:
  using OvNodeTypeOf<Material>::OvNodeTypeOf;
  int GetFamily() const override { return OV_FAMILY_SHADER; }
};

constexpr OvNodeParamDesc kGlossParams[] = {
    OvParamI(0, "Diffuse Map", OV_PK_TEXTURE, -1),
    OvParamI(1, "test file", OV_PK_FILE),
    OvParamI(2, "Gloss Map", OV_PK_TEXTURE, -1),
};
constexpr OvNodeParamDesc kTransparencyParams[] = {
    OvParamI(0, "Diffuse Map", OV_PK_TEXTURE, -1),
};
constexpr OvNodeParamDesc kProgramParams[] = {
    OvParamI(0, "Map 1:", OV_PK_TEXTURE, -1),     OvParamI(1, "Map 2:", OV_PK_TEXTURE, -1),
    OvParamI(2, "Map 3:", OV_PK_TEXTURE, -1),     OvParamI(3, "Map 4:", OV_PK_TEXTURE, -1),
    OvParamI(4, "Pass # for Lights:", OV_PK_INT), OvParamI(5, "Vertex Shader File", OV_PK_FILE),
    OvParamI(6, "Pixel Shader File", OV_PK_FILE),
};
constexpr OvNodeParamDesc kCartoonParams[] = {
    OvParamI(0, "Diffuse Map", OV_PK_TEXTURE, -1),
    OvParamI(1, "(unused)", OV_PK_TEXTURE | OV_PK_NOT_KEPT, -1),
    OvParamI(2, "Dark Color", OV_PK_COLOUR, int32_t(0xFF404040u)),
    OvParamF(3, "Dark Threshold", OV_PK_REAL, 0.2f),
    OvParamI(4, "Average Color", OV_PK_COLOUR, int32_t(0xFF808080u)),
    OvParamF(5, "Bright Threshold", OV_PK_REAL, 0.0f),
};
constexpr OvNodeParamDesc kBumpParams[] = {
    OvParamI(0, "Diffuse Map:", OV_PK_TEXTURE, -1),
    OvParamI(1, "Normal (bump) Map:", OV_PK_TEXTURE, -1),
    OvParamI(2, "Unused Map1:", OV_PK_TEXTURE, -1),
    OvParamI(3, "Unused Map2:", OV_PK_TEXTURE, -1),
    OvParamI(4, "Light #:\0One Light\0All Lights\0", OV_PK_CHOICE, 0),
    OvParamI(5, "Self-Shadowing", OV_PK_CHECK, 1),
    OvParamI(6, "Vertex Shader File (optional)", OV_PK_FILE),
    OvParamI(7, "Pixel Shader File (optional)", OV_PK_FILE),
};

template <size_t N>
constexpr int Count(const OvNodeParamDesc (&)[N]) {
  return int(N);
}

bool IsShaderMaterial(const OvTypeId& type) {
  return type == OV_SHADER_MATERIAL_TYPE || type == OV_CARTOON_MATERIAL_TYPE || type == OV_BUMP_MATERIAL_TYPE ||
         type == OV_GLOSS_MATERIAL_TYPE || type == OV_TRANSPARENCY_MATERIAL_TYPE;
}

void* ShaderMaterialFactory(OvDbNode& shader, void* renderer) {
  OvTypeId type;
  shader.GetTypeId(type);
  if (!IsShaderMaterial(type) || !renderer) return nullptr;
  OvContentUploader* uploader = OvContentUploader::FromDbRenderer(static_cast<OvDbRenderer*>(renderer));
  if (!uploader) return nullptr;
  OvRendererGL& r = uploader->Renderer();
  return OvMakeShaderMaterialDraw(static_cast<OvShaderMaterial&>(shader), r, r.GetMaxTextures());
}

}  // namespace

OvShaderResource* OvMakeShaderMaterialDraw(OvShaderMaterial& material, OvRendererGL& renderer, int stageLimit) {
  (void)renderer;
  OvPassPlan* fallback = OvPassPlan::Build(material.Fallback(), stageLimit);
  ShaderMaterialDraw* draw = new ShaderMaterialDraw(material, fallback);
  if (!draw && fallback) fallback->Release();
  return draw;
}

void OvRegisterShaderMaterialTypes() {
  OvTypeRegistry& registry = OvShaderClasses();
  if (registry.FindType(OV_SHADER_MATERIAL_TYPE)) return;
  registry.Register(
      new MaterialType<OvGlossMaterial>(OV_GLOSS_MATERIAL_TYPE, "Gloss Mapping", kGlossParams, Count(kGlossParams)));
  registry.Register(new MaterialType<OvTransparencyMaterial>(OV_TRANSPARENCY_MATERIAL_TYPE, "~~~~ Transparency",
                                                             kTransparencyParams, Count(kTransparencyParams)));
  registry.Register(new MaterialType<OvShaderMaterial>(OV_SHADER_MATERIAL_TYPE, "~~~~Test Vertex/Pixel Shader",
                                                       kProgramParams, Count(kProgramParams)));
  registry.Register(new MaterialType<OvCartoonMaterial>(OV_CARTOON_MATERIAL_TYPE,
                                                        "~~~~Test Cartoon Shader (vertex/pixel shader)", kCartoonParams,
                                                        Count(kCartoonParams)));
  registry.Register(
      new MaterialType<OvBumpMaterial>(OV_BUMP_MATERIAL_TYPE, "Bump Mapping", kBumpParams, Count(kBumpParams)));
  OvAddShaderResourceFactory(ShaderMaterialFactory);
}

bool OvShaderMaterial::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  const int32_t maps[kMaps] = {v.Int(0), v.Int(1), v.Int(2), v.Int(3)};
  return Set(arena, "", maps, v.Int(4), 0, v.Text(5), v.Text(6));
}

// ---------------------------------------------------------------------------
// Cartoon material.

bool OvCartoonMaterial::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t format = 0, map = -1, d = 0, a = 0;
  if (!stream.ReadLayout("i iiiff", &format, &map, &d, &a, &darkThreshold, &brightThreshold)) return false;
  return SetCartoon(arena, map, uint32_t(d), uint32_t(a), darkThreshold, brightThreshold);
}

bool OvCartoonMaterial::Write(OvStream& stream) const {
  return stream.WriteLayout("i iiiff", int32_t(100), Map(0), int32_t(dark), int32_t(average), darkThreshold,
                            brightThreshold);
}

bool OvCartoonMaterial::SetCartoon(OvChunkArena& arena, int32_t map, uint32_t darkColour, uint32_t averageColour,
                                   float darkAt, float brightAt) {
  dark = darkColour, average = averageColour;
  darkThreshold = darkAt, brightThreshold = brightAt;
  const int32_t maps[kMaps] = {map, -1, -1, -1};
  if (!Set(arena, "Cartoon", maps, 1, 0, nullptr, nullptr)) return false;
  UsePrograms(kOvToonVertexProgram, kOvToonPixelProgram);
  return true;
}

bool OvCartoonMaterial::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  return SetCartoon(arena, v.Int(0), v.Word(2, 0), v.Word(4, 0), v.Real(3), v.Real(5));
}

void OvCartoonMaterial::SetPixelConstants(OvRendererGL& renderer, const OvLightData* light, int pass) const {
  (void)pass;
  float c[5][4] = {{darkThreshold, brightThreshold, 0, 0}, {}, {}, {1, 1, 1, 1}, {0, 0, 0, 1}};
  ArgbToFloats(dark, c[1]);
  ArgbToFloats(average, c[2]);
  if (light) std::memcpy(c[4], light->diffuse, sizeof(c[4]));
  OvSetPixelShaderConstants(renderer, 0, &c[0][0], 5);
}

// ---------------------------------------------------------------------------
// Bump mapping.

bool OvBumpMaterial::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t maps[kMaps];
  if (!stream.ReadU32(m_bumpFormat)) return false;
  for (int32_t& map : maps)
    if (!stream.ReadI32(map)) return false;
  int32_t allLights = 0, selfShadowing = 0;
  char* vertexFile = nullptr;
  char* pixelFile = nullptr;
  if (!stream.ReadI32(allLights) || !stream.ReadI32(selfShadowing) || !stream.ReadString(vertexFile, &arena) ||
      !stream.ReadString(pixelFile, &arena)) {
    return false;
  }
  if (!SetBump(arena, maps, allLights == 1, selfShadowing != 0, vertexFile, pixelFile)) return false;
  // Kept as stored, so the block is written back unchanged.
  m_allLights = allLights, m_selfShadowing = selfShadowing;
  return true;
}

bool OvBumpMaterial::Write(OvStream& stream) const {
  bool ok = stream.WriteU32(m_bumpFormat);
  for (int i = 0; i < kMaps; ++i) ok = ok && stream.WriteI32(Map(i));
  return ok && stream.WriteI32(m_allLights) && stream.WriteI32(m_selfShadowing) && stream.WriteString(m_vertexFile) &&
         stream.WriteString(m_pixelFile);
}

bool OvBumpMaterial::SetBump(OvChunkArena& arena, const int32_t maps[kMaps], bool allLights, bool selfShadowing,
                             const char* vertexFile, const char* pixelFile) {
  m_allLights = allLights ? 1 : 0;
  m_selfShadowing = selfShadowing ? 1 : 0;
  m_vertexFile = ArenaCopy(arena, vertexFile);
  m_pixelFile = ArenaCopy(arena, pixelFile);
  // One light: a single pass; all lights: one additive pass per light.
  if (!Set(arena, "Bump Mapping", maps, allLights ? -1 : 1, 0, nullptr, nullptr)) return false;
  if ((vertexFile && !m_vertexFile) || (pixelFile && !m_pixelFile)) return false;
  UsePrograms(m_vertexFile && *m_vertexFile ? m_vertexFile : kOvBumpVertexProgram,
              m_pixelFile && *m_pixelFile ? m_pixelFile : kOvBumpPixelProgram);
  return true;
}

bool OvBumpMaterial::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  const int32_t maps[kMaps] = {v.Int(0), v.Int(1), v.Int(2), v.Int(3)};
  return SetBump(arena, maps, v.Int(4) == 1, v.Check(5), v.Text(6), v.Text(7));
}

const OvShaderMacro* OvBumpMaterial::Macros() const {
  static const OvShaderMacro kSelfShadowing[] = {{"ENABLE_SELF_SHADOWING", "1"}, {nullptr, nullptr}};
  return m_selfShadowing ? kSelfShadowing : nullptr;
}

void OvBumpMaterial::SetPixelConstants(OvRendererGL& renderer, const OvLightData* light, int pass) const {
  // The bump programs work in object space: the light and the eye are
  // brought there through the inverse world matrix.
  OvMatrix inverse;
  OvMatInversePRS(inverse, renderer.WorldMatrix());
  float vc[3][4] = {};
  OvVector eye;
  OvXformPoint(eye, renderer.CameraPosition(), inverse);
  vc[0][0] = eye.x, vc[0][1] = eye.y, vc[0][2] = eye.z, vc[0][3] = 1.0f;
  if (light) {
    OvVector at;
    OvXformPoint(at, light->position, inverse);
    // w = 0 marks a directional light: the program then lights along c20.
    const bool directional = light->type == OV_LIGHT_DIRECTIONAL;
    vc[1][0] = at.x, vc[1][1] = at.y, vc[1][2] = at.z, vc[1][3] = directional ? 0.0f : 1.0f;
    const OvVector& d = light->direction;
    for (int k = 0; k < 3; ++k) vc[2][k] = d.x * inverse.m[0][k] + d.y * inverse.m[1][k] + d.z * inverse.m[2][k];
  }
  OvSetVertexShaderConstantsAt(renderer, 8, vc[0], 1);
  OvSetVertexShaderConstantsAt(renderer, 19, vc[1], 2);

  // c0 diffuse, c1 ambient (first pass only), c2 specular (the program's
  // highlight peaks at 16 times it), c3.a / c4.a the highlight's scale and
  // bias: it starts where the half vector is within about 40 degrees.
  const OvMaterial& m = renderer.Material();
  float c[5][4] = {};
  if (light) {
    for (int k = 0; k < 3; ++k) {
      c[0][k] = light->diffuse[k] * m.diffuse[k];
      c[2][k] = light->specular[k] * m.specular[k] / 16.0f;
    }
  }
  if (pass == 0) {
    const float* argb = renderer.AmbientFloats();  // alpha first
    for (int k = 0; k < 3; ++k) c[1][k] = argb[k + 1] * m.ambient[k] + m.emissive[k];
  }
  c[0][3] = c[1][3] = c[2][3] = 1.0f;
  c[3][3] = 1.0f;
  c[4][3] = -0.75f;
  OvSetPixelShaderConstants(renderer, 0, &c[0][0], 5);
  const float c7[4] = {0, 0, 0, 1};
  OvSetPixelShaderConstants(renderer, 7, c7, 1);
}

// ---------------------------------------------------------------------------
// Gloss mapping and transparency: the built-in lit vertex program with
// their own pixel programs.

namespace {

const char* const kGlossPixelProgram =
    "// target:ps_1_1\n"
    "void main() {\n"
    "  vec4 base = ovTexOn.x > 0.5 ? texture(uTex0, vTex0.xy) : vec4(1.0);\n"
    "  float gloss = ovTexOn.y > 0.5 ? dot(texture(uTex1, vTex0.xy).rgb, vec3(1.0 / 3.0)) : 1.0;\n"
    "  vec4 col = vColor0 * base;\n"
    "  ovFragColor = vec4(col.rgb + vColor1.rgb * gloss, col.a);\n"
    "}\n";

const char* const kTransparencyPixelProgram =
    "// target:ps_1_1\n"
    "void main() {\n"
    "  vec4 base = ovTexOn.x > 0.5 ? texture(uTex0, vTex0.xy) : vec4(1.0);\n"
    "  ovFragColor = vec4(vColor0.rgb * base.rgb + vColor1.rgb, vColor0.a * base.a);\n"
    "}\n";

}  // namespace

bool OvGlossMaterial::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t diffuseMap = -1, glossMap = -1;
  char* testFile = nullptr;
  if (!stream.ReadU32(m_glossFormat) || !stream.ReadI32(diffuseMap) || !stream.ReadString(testFile, &arena) ||
      !stream.ReadI32(glossMap)) {
    return false;
  }
  return SetGloss(arena, diffuseMap, glossMap, testFile);
}

bool OvGlossMaterial::Write(OvStream& stream) const {
  return stream.WriteU32(m_glossFormat) && stream.WriteI32(Map(0)) && stream.WriteString(m_testFile) &&
         stream.WriteI32(Map(1));
}

bool OvGlossMaterial::SetGloss(OvChunkArena& arena, int32_t diffuseMap, int32_t glossMap, const char* testFile) {
  m_testFile = ArenaCopy(arena, testFile);
  if (testFile && !m_testFile) return false;
  const int32_t maps[kMaps] = {diffuseMap, glossMap, -1, -1};
  if (!Set(arena, "Gloss Mapping", maps, 0, 0, nullptr, nullptr)) return false;
  UsePrograms(kOvLitVertexProgram, m_testFile && *m_testFile ? m_testFile : kGlossPixelProgram);
  return true;
}

bool OvGlossMaterial::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  return SetGloss(arena, v.Int(0), v.Int(2), v.Text(1));
}

bool OvTransparencyMaterial::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t diffuseMap = -1;
  if (!stream.ReadU32(m_transparencyFormat) || !stream.ReadI32(diffuseMap)) return false;
  return SetTransparency(arena, diffuseMap);
}

bool OvTransparencyMaterial::Write(OvStream& stream) const {
  return stream.WriteU32(m_transparencyFormat) && stream.WriteI32(Map(0));
}

bool OvTransparencyMaterial::SetTransparency(OvChunkArena& arena, int32_t diffuseMap) {
  const int32_t maps[kMaps] = {diffuseMap, -1, -1, -1};
  if (!Set(arena, "~~~~ Transparency", maps, 0, 0, nullptr, nullptr)) return false;
  UsePrograms(kOvLitVertexProgram, kTransparencyPixelProgram);
  return true;
}

bool OvTransparencyMaterial::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  return SetTransparency(arena, v.Int(0));
}
