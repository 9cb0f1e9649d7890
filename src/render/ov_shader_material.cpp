#include "ov_shader_material.h"

#include <cstring>

#include "ov_database.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_shader_gen.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

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
  if (!stream.ReadString(m_vertexSource, &arena) || !stream.ReadString(m_pixelSource, &arena)) return false;
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
    const OvLightData* light;
  };
  static bool DrawGeometry(void* context) {
    Geometry* g = static_cast<Geometry*>(context);
    g->material->SetPixelConstants(g->drawer->Renderer(), g->light);
    return g->drawer->DrawGeometry(g->subset);
  }

  bool DrawWithPrograms(OvMeshDrawer& drawer, int subset) {
    OvRendererGL& r = drawer.Renderer();
    OvShaderCache* cache = r.ShaderCache();
    const char* vertexSource = m_material.VertexSource();
    // Without a vertex program the subset is not drawn.
    if (!vertexSource || !*vertexSource) return true;
    if (!cache) return false;
    const char* name = m_material.Name() ? m_material.Name() : "";
    if (!m_pixelTried) {
      m_pixelTried = true;
      const char* pixelSource = m_material.PixelSource();
      // A pixel program that cannot be built is dropped; colours still draw.
      if (pixelSource && *pixelSource) m_pixel = cache->GetPixelShader(pixelSource, nullptr, name);
    }
    for (int s = 0; s < OvShaderMaterial::kMaps; ++s) r.SetTexture(s, m_material.Texture(s));
    const OvLightData* lights[OV_MAX_LIGHTS];
    int count = 0;
    for (int i = 0; i < OV_MAX_LIGHTS && count < m_material.LightLimit(); ++i)
      if (r.LightEnabled(i)) lights[count++] = &r.Light(i);
    Geometry geometry{&drawer, subset, &m_material, count ? lights[0] : nullptr};
    OvShaderDraw d;
    d.vertexSource = vertexSource;
    d.pixelShader = m_pixel;
    d.texCount = drawer.Buffers().layout.texSets;
    d.alphaTest = m_material.AlphaTest();
    d.owner = name;
    d.draw = &ShaderMaterialDraw::DrawGeometry;
    d.context = &geometry;
    int passes = 0;
    const uint32_t alphaTest = r.GetRenderState(RS_ALPHATESTENABLE);
    r.SetRenderState(RS_ALPHATESTENABLE, d.alphaTest ? 1 : 0);
    OvDrawLitWithShaders(r, d, true, lights, count, m_material.PassLimit(), &passes);
    r.SetRenderState(RS_ALPHATESTENABLE, alphaTest);
    for (int s = 0; s < OvShaderMaterial::kMaps; ++s) r.SetTexture(s, nullptr);
    // Nothing drawn: the programs will not build for this record; stop
    // trying and use the standard material from now on.
    if (passes == 0) m_broken = true;
    return passes > 0;
  }

  OvShaderMaterial& m_material;
  OvPassPlan* m_fallback;
  unsigned m_pixel = 0;
  bool m_pixelTried = false;
  bool m_broken = false;
};

class ShaderMaterialType : public OvNodeType {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_SHADER_MATERIAL_TYPE; }
  int GetFamily() const override { return OV_FAMILY_SHADER; }
  OvDbNode* Create(OvChunkArena& arena) const override { return OvArenaNew<OvShaderMaterial>(arena); }
};

class CartoonMaterialType : public OvNodeType {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_CARTOON_MATERIAL_TYPE; }
  int GetFamily() const override { return OV_FAMILY_SHADER; }
  OvDbNode* Create(OvChunkArena& arena) const override { return OvArenaNew<OvCartoonMaterial>(arena); }
};

void* ShaderMaterialFactory(OvDbNode& shader, void* renderer) {
  OvTypeId type;
  shader.GetTypeId(type);
  if (!(type == OV_SHADER_MATERIAL_TYPE || type == OV_CARTOON_MATERIAL_TYPE) || !renderer) return nullptr;
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
  registry.Register(new ShaderMaterialType);
  registry.Register(new CartoonMaterialType);
  OvAddShaderResourceFactory(ShaderMaterialFactory);
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
  return Set(arena, "Cartoon", maps, 1, 0, kOvToonVertexProgram, kOvToonPixelProgram);
}

void OvCartoonMaterial::SetPixelConstants(OvRendererGL& renderer, const OvLightData* light) const {
  auto rgba = [](uint32_t argb, float* out) {
    for (int i = 0; i < 3; ++i) out[i] = float((argb >> (16 - 8 * i)) & 0xFF) / 255.0f;
    out[3] = float(argb >> 24) / 255.0f;
  };
  float c[5][4] = {{darkThreshold, brightThreshold, 0, 0}, {}, {}, {1, 1, 1, 1}, {0, 0, 0, 1}};
  rgba(dark, c[1]);
  rgba(average, c[2]);
  if (light) std::memcpy(c[4], light->diffuse, sizeof(c[4]));
  OvSetPixelShaderConstants(renderer, 0, &c[0][0], 5);
}
