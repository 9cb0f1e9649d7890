#include "ov_std_material.h"

#include <cstring>
#include <new>

#include "ov_database.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_stream.h"
#include "ov_trace.h"

// ---------------------------------------------------------------------------
// Stored form.

bool OvStdMaterial::Read(OvStream& stream, OvChunkArena& arena) {
  if (!stream.ReadU32(m_format)) return false;
  m_name = nullptr;
  if (m_format > 100 && !stream.ReadString(m_name, &arena)) return false;
  uint32_t n = 0;
  if (!stream.ReadU32(n)) return false;
  m_layerCount = 0;
  m_layers = nullptr;
  m_arrayMask = 0;
  if (n > 0) {
    if (!stream.ReadU32(m_arrayMask)) return false;
    // Each layer takes at least its kind word: a larger count is broken data.
    if (!OvStreamCanHold(stream, n, 4)) return stream.MarkFailed();
    m_layers = OvArenaNewArray<OvStdLayer>(arena, n);
    if (!m_layers) return false;
    m_layerCount = int32_t(n);
    for (uint32_t i = 0; i < n; ++i) {
      if (!stream.ReadU32(m_layers[i].kind)) return false;
    }
    uint8_t* bytes = static_cast<uint8_t*>(OvArenaAllocZeroed(arena, n));
    if (!bytes) return false;
    static constexpr uint32_t kOrder[] = {OV_STD_HAS_SLOTS, OV_STD_HAS_SETS, OV_STD_HAS_ADDR_U, OV_STD_HAS_ADDR_V,
                                          OV_STD_HAS_ADDR_W};
    for (uint32_t bit : kOrder) {
      if (!(m_arrayMask & bit)) continue;
      if (!stream.ReadBytes(bytes, n)) return false;
      for (uint32_t i = 0; i < n; ++i) {
        OvStdLayer& l = m_layers[i];
        switch (bit) {
          case OV_STD_HAS_SLOTS: l.slot = bytes[i]; break;
          case OV_STD_HAS_SETS: l.set = bytes[i]; break;
          case OV_STD_HAS_ADDR_U: l.addressU = bytes[i]; break;
          case OV_STD_HAS_ADDR_V: l.addressV = bytes[i]; break;
          default: l.addressW = bytes[i]; break;
        }
      }
    }
  }
  if (!stream.ReadI32(m_blend) || !stream.ReadU32(m_options)) return false;
  uint32_t m = 0;
  if (!stream.ReadU32(m)) return false;
  m_textureCount = 0;
  m_textureIndices = nullptr;
  m_textures = nullptr;
  if (m > 0) {
    if (!OvStreamCanHold(stream, m, 4)) return stream.MarkFailed();
    m_textureIndices = OvArenaNewArray<int32_t>(arena, m);
    m_textures = OvArenaNewArray<OvGLTexture*>(arena, m);
    if (!m_textureIndices || !m_textures) return false;
    m_textureCount = int32_t(m);
    for (uint32_t i = 0; i < m; ++i) {
      if (!stream.ReadI32(m_textureIndices[i])) return false;
    }
  }
  return true;
}

bool OvStdMaterial::Write(OvStream& stream) const {
  bool ok = stream.WriteU32(m_format);
  if (m_format > 100) ok = ok && stream.WriteString(m_name);
  ok = ok && stream.WriteU32(uint32_t(m_layerCount));
  if (m_layerCount > 0) {
    // The W modes are stored exactly when the U modes are. A record that
    // came with only one of them gets the other as read (mode 1 when it was
    // missing), so no mode that was stored is lost.
    uint32_t mask = m_arrayMask;
    if (mask & (OV_STD_HAS_ADDR_U | OV_STD_HAS_ADDR_W)) mask |= OV_STD_HAS_ADDR_U | OV_STD_HAS_ADDR_W;
    ok = ok && stream.WriteU32(mask);
    for (int32_t i = 0; i < m_layerCount; ++i) ok = ok && stream.WriteU32(m_layers[i].kind);
    static constexpr uint32_t kOrder[] = {OV_STD_HAS_SLOTS, OV_STD_HAS_SETS, OV_STD_HAS_ADDR_U, OV_STD_HAS_ADDR_V,
                                          OV_STD_HAS_ADDR_W};
    for (uint32_t bit : kOrder) {
      if (!(mask & bit)) continue;
      for (int32_t i = 0; i < m_layerCount; ++i) {
        const OvStdLayer& l = m_layers[i];
        const uint8_t b = bit == OV_STD_HAS_SLOTS    ? l.slot
                          : bit == OV_STD_HAS_SETS   ? l.set
                          : bit == OV_STD_HAS_ADDR_U ? l.addressU
                          : bit == OV_STD_HAS_ADDR_V ? l.addressV
                                                     : l.addressW;
        ok = ok && stream.WriteBytes(&b, 1);
      }
    }
  }
  ok = ok && stream.WriteI32(m_blend) && stream.WriteU32(m_options) && stream.WriteU32(uint32_t(m_textureCount));
  for (int32_t i = 0; i < m_textureCount; ++i) ok = ok && stream.WriteI32(m_textureIndices[i]);
  return ok;
}

bool OvStdMaterial::SetLayers(OvChunkArena& arena, const OvStdLayer* layers, int32_t count) {
  if (count < 0) return false;
  OvStdLayer* copy = count ? OvArenaNewArray<OvStdLayer>(arena, uint64_t(count)) : nullptr;
  if (count && !copy) return false;
  for (int32_t i = 0; i < count; ++i) copy[i] = layers[i];
  m_layers = copy;
  m_layerCount = count;
  m_arrayMask = count ? 0x1F : 0;
  return true;
}

bool OvStdMaterial::SetTextureIndices(OvChunkArena& arena, const int32_t* indices, int32_t count) {
  if (count < 0) return false;
  int32_t* copy = count ? OvArenaNewArray<int32_t>(arena, uint64_t(count)) : nullptr;
  OvGLTexture** textures = count ? OvArenaNewArray<OvGLTexture*>(arena, uint64_t(count)) : nullptr;
  if (count && (!copy || !textures)) return false;
  for (int32_t i = 0; i < count; ++i) copy[i] = indices[i];
  m_textureIndices = copy;
  m_textures = textures;
  m_textureCount = count;
  return true;
}

void OvStdMaterial::Bind(OvDatabase* database) {
  for (int32_t i = 0; i < m_textureCount; ++i) {
    const OvTextureEntry* entry = database ? database->Texture(m_textureIndices[i]) : nullptr;
    m_textures[i] = entry ? static_cast<OvGLTexture*>(entry->handle) : nullptr;
  }
}

OvGLTexture* OvStdMaterial::Texture(int32_t i) const {
  return i >= 0 && i < m_textureCount && m_textures ? m_textures[i] : nullptr;
}

void OvStdMaterial::SetTexture(int32_t i, OvGLTexture* texture) {
  if (i >= 0 && i < m_textureCount && m_textures) m_textures[i] = texture;
}

void* OvStdMaterial::GetController(void* renderer) { return OvMakeShaderResource(*this, renderer); }

// ---------------------------------------------------------------------------
// Registry entry.

namespace {

class StdMaterialType : public OvNodeType {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_STD_MATERIAL_TYPE; }
  int GetFamily() const override { return OV_FAMILY_SHADER; }
  OvDbNode* Create(OvChunkArena& arena) const override { return OvArenaNew<OvStdMaterial>(arena); }
};

// Factories in the order they were added; a handful at most.
constexpr int kMaxFactories = 16;
OvShaderResourceFactory g_factories[kMaxFactories];
int g_factoryCount = 0;

}  // namespace

void OvRegisterStdMaterialType() {
  OvTypeRegistry& registry = OvShaderClasses();
  if (registry.FindType(OV_STD_MATERIAL_TYPE)) return;
  registry.Register(new StdMaterialType);
}

void OvAddShaderResourceFactory(OvShaderResourceFactory factory) {
  if (!factory) return;
  for (int i = 0; i < g_factoryCount; ++i) {
    if (g_factories[i] == factory) return;
  }
  if (g_factoryCount < kMaxFactories) g_factories[g_factoryCount++] = factory;
}

void OvRemoveShaderResourceFactory(OvShaderResourceFactory factory) {
  for (int i = 0; i < g_factoryCount; ++i) {
    if (g_factories[i] != factory) continue;
    for (int j = i + 1; j < g_factoryCount; ++j) g_factories[j - 1] = g_factories[j];
    --g_factoryCount;
    return;
  }
}

void* OvMakeShaderResource(OvDbNode& shader, void* renderer) {
  for (int i = 0; i < g_factoryCount; ++i) {
    if (void* resource = g_factories[i](shader, renderer)) return resource;
  }
  return nullptr;
}

void* OvStdMaterialFactory(OvDbNode& shader, void* renderer) {
  OvTypeId type;
  shader.GetTypeId(type);
  if (!(type == OV_STD_MATERIAL_TYPE) || !renderer) return nullptr;
  OvContentUploader* uploader = OvContentUploader::FromDbRenderer(static_cast<OvDbRenderer*>(renderer));
  if (!uploader) return nullptr;
  return OvPassPlan::Build(static_cast<OvStdMaterial&>(shader), uploader->Renderer().GetMaxTextures());
}

// ---------------------------------------------------------------------------
// Pass plan.

OvPassBlend OvBlendOfKind(uint32_t kind) {
  switch (kind) {
    case OV_LAYER_BLEND_ALPHA: return OvPassBlend::Alpha;
    case OV_LAYER_ADD:
    case OV_LAYER_REFLECT: return OvPassBlend::Additive;
    case OV_LAYER_MODULATE: return OvPassBlend::Multiply;
    case OV_LAYER_MODULATE2X: return OvPassBlend::Multiply2x;
    default: return OvPassBlend::Opaque;
  }
}

bool OvIsKnownLayerKind(uint32_t kind) {
  return (kind >= OV_LAYER_TEXTURE && kind <= OV_LAYER_MODULATE2X) || kind == OV_LAYER_REFLECT ||
         kind == OV_LAYER_BUMP || kind == OV_LAYER_BUMP_SPECULAR;
}

namespace {

bool IsBump(uint32_t kind) { return kind == OV_LAYER_BUMP || kind == OV_LAYER_BUMP_SPECULAR; }

OvStageOp OwnOp(uint32_t kind) {
  switch (kind) {
    case OV_LAYER_TEXTURE: return OvStageOp::Texture;
    case OV_LAYER_BLEND_ALPHA: return OvStageOp::BlendTexAlpha;
    case OV_LAYER_ADD: return OvStageOp::Add;
    case OV_LAYER_MODULATE: return OvStageOp::Modulate;
    case OV_LAYER_MODULATE2X: return OvStageOp::Modulate2x;
    default: return OvStageOp::ReflectAdd;
  }
}

OvPlanStage StageOf(const OvStdLayer& layer, OvStageOp op) {
  OvPlanStage s;
  s.op = op;
  s.slot = layer.slot;
  s.set = layer.set;
  s.addressU = layer.addressU;
  s.addressV = layer.addressV;
  s.addressW = layer.addressW;
  return s;
}

OvPlanPass BumpPass(const OvStdLayer& layer, OvPassBlend blend, bool alphaTest) {
  OvPlanPass p;
  p.bump = true;
  p.bumpSpecular = layer.kind == OV_LAYER_BUMP_SPECULAR;
  p.stageCount = 2;
  p.stages[0] = StageOf(layer, OvStageOp::BumpDot3);
  p.stages[0].addressU = p.stages[0].addressV = p.stages[0].addressW = 1;
  p.stages[1].op = OvStageOp::BumpSpecular;
  p.blend = blend;
  p.alphaTest = alphaTest;
  return p;
}

// A layer drawn as a pass of its own (not the first layer): the plain
// texture stage (texture-only reflection) and the blend of its kind.
OvPlanPass OwnPass(const OvStdLayer& layer) {
  if (IsBump(layer.kind)) return BumpPass(layer, OvPassBlend::Additive, false);
  OvPlanPass p;
  p.stageCount = 1;
  p.stages[0] = StageOf(layer, layer.kind == OV_LAYER_REFLECT ? OvStageOp::ReflectTexture : OvStageOp::Texture);
  p.blend = OvBlendOfKind(layer.kind);
  p.alphaTest = false;
  return p;
}

}  // namespace

OvPassPlan* OvPassPlan::Build(const OvStdMaterial& material, int stageLimit) {
  const int n = material.LayerCount();
  for (int i = 0; i < n; ++i) {
    if (!OvIsKnownLayerKind(material.Layer(i).kind)) return nullptr;
  }
  if (stageLimit < 1) stageLimit = 1;
  if (stageLimit > OV_PLAN_MAX_STAGES) stageLimit = OV_PLAN_MAX_STAGES;

  OvPassPlan* plan = new OvPassPlan(material);
  if (!plan) return nullptr;
  // At most one pass per layer, and one for a material without layers.
  plan->m_passes = static_cast<OvPlanPass*>(AllocMem(sizeof(OvPlanPass) * size_t(n > 0 ? n : 1)));
  if (!plan->m_passes) {
    plan->Release();
    return nullptr;
  }
  const OvPassBlend materialBlend = OvBlendOfKind(uint32_t(material.BlendKind()));
  const bool alphaTest = material.AlphaTest();
  auto add = [plan](const OvPlanPass& p) { new (&plan->m_passes[plan->m_passCount++]) OvPlanPass(p); };

  if (n == 0) {
    OvPlanPass p;
    p.stageCount = 1;
    p.stages[0].op = OvStageOp::Current;
    p.blend = materialBlend;
    p.alphaTest = alphaTest;
    add(p);
  } else {
    int next = 0;
    const OvStdLayer& first = material.Layer(0);
    if (IsBump(first.kind)) {
      add(BumpPass(first, materialBlend, alphaTest));
      next = 1;
    } else if (stageLimit == 1) {
      OvPlanPass p;
      p.stageCount = 1;
      p.stages[0] = StageOf(first, OwnOp(first.kind));
      p.blend = materialBlend;
      p.alphaTest = alphaTest;
      add(p);
      next = 1;
    } else {
      OvPlanPass p;
      while (next < n && next < stageLimit && !IsBump(material.Layer(next).kind)) {
        const OvStdLayer& l = material.Layer(next);
        p.stages[p.stageCount++] = StageOf(l, OwnOp(l.kind));
        ++next;
      }
      p.blend = materialBlend;
      p.alphaTest = alphaTest;
      add(p);
    }
    for (; next < n; ++next) add(OwnPass(material.Layer(next)));
  }

  for (int i = 0; i < n; ++i) {
    const OvStdLayer& l = material.Layer(i);
    if (!IsBump(l.kind)) continue;
    if (!plan->m_needsBump) plan->m_bumpSet = l.set;
    plan->m_needsBump = true;
    if (l.kind == OV_LAYER_BUMP_SPECULAR) plan->m_needsBumpSpecular = true;
  }
  plan->m_option0 = (material.Options() & OV_STD_OPTION_BIT0) != 0 && !alphaTest;
  return plan;
}

OvPassPlan::~OvPassPlan() { OvMFree(m_passes); }

// ---------------------------------------------------------------------------
// Drawing a subset with the plan.

namespace {

uint32_t Address(uint8_t mode) { return mode == OV_ADDRESS_CLAMP ? TADDRESS_CLAMP : TADDRESS_WRAP; }

// A cube texture is looked up by the camera-space reflection vector
// whatever the layer's kind: a coordinate set cannot address it.
void ApplyStage(OvRendererGL& r, int stage, const OvPlanStage& s, bool cube) {
  uint32_t colorOp = TOP_SELECTARG1, colorArg1 = TA_TEXTURE, colorArg2 = TA_CURRENT;
  uint32_t alphaOp = TOP_SELECTARG1, alphaArg1 = TA_TEXTURE, alphaArg2 = TA_CURRENT;
  uint32_t coordIndex = s.set, transform = TTFF_DISABLE;
  uint32_t u = Address(s.addressU), v = Address(s.addressV), w = Address(s.addressW);
  switch (s.op) {
    case OvStageOp::Current: colorOp = alphaOp = TOP_SELECTARG2; break;
    case OvStageOp::Texture: break;
    case OvStageOp::BlendTexAlpha:
      colorOp = TOP_BLENDTEXTUREALPHA;
      alphaOp = TOP_SELECTARG2;
      break;
    case OvStageOp::Add:
      colorOp = TOP_ADD;
      alphaOp = TOP_SELECTARG2;
      break;
    case OvStageOp::Modulate: colorOp = alphaOp = TOP_MODULATE; break;
    case OvStageOp::Modulate2x: colorOp = alphaOp = TOP_MODULATE2X; break;
    case OvStageOp::ReflectAdd:
    case OvStageOp::ReflectTexture:
      colorOp = s.op == OvStageOp::ReflectAdd ? TOP_ADD : TOP_SELECTARG1;
      alphaOp = s.op == OvStageOp::ReflectAdd ? TOP_SELECTARG2 : TOP_SELECTARG1;
      coordIndex = TCI_CAMERASPACEREFLECTIONVECTOR | s.set;
      transform = TTFF_COUNT3;
      u = v = TADDRESS_MIRROR;
      break;
    case OvStageOp::BumpDot3:
      colorOp = TOP_DOTPRODUCT3;
      colorArg2 = TA_DIFFUSE;
      alphaOp = TOP_SELECTARG2;
      u = v = w = TADDRESS_WRAP;
      break;
    case OvStageOp::BumpSpecular:
      colorOp = TOP_MODULATE;
      colorArg1 = TA_SPECULAR;
      alphaOp = TOP_SELECTARG2;
      break;
  }
  if (cube && s.op != OvStageOp::Current && s.op != OvStageOp::BumpSpecular) {
    coordIndex = TCI_CAMERASPACEREFLECTIONVECTOR | s.set;
    transform = TTFF_COUNT3;
  }
  r.SetTextureStageState(stage, TSS_COLOROP, colorOp);
  r.SetTextureStageState(stage, TSS_COLORARG1, colorArg1);
  r.SetTextureStageState(stage, TSS_COLORARG2, colorArg2);
  r.SetTextureStageState(stage, TSS_ALPHAOP, alphaOp);
  r.SetTextureStageState(stage, TSS_ALPHAARG1, alphaArg1);
  r.SetTextureStageState(stage, TSS_ALPHAARG2, alphaArg2);
  r.SetTextureStageState(stage, TSS_TEXCOORDINDEX, coordIndex);
  r.SetTextureStageState(stage, TSS_TEXTURETRANSFORMFLAGS, transform);
  r.SetSamplerState(stage, SAMP_ADDRESSU, u);
  r.SetSamplerState(stage, SAMP_ADDRESSV, v);
  r.SetSamplerState(stage, SAMP_ADDRESSW, w);
}

// Sets the pass blend; answers whether the fog colour was blacked out (and
// what it was).
bool ApplyBlend(OvRendererGL& r, OvPassBlend blend, bool alphaTest, uint32_t& fogColour) {
  r.SetRenderState(RS_ALPHATESTENABLE, alphaTest ? 1 : 0);
  bool fogSaved = false;
  switch (blend) {
    case OvPassBlend::Opaque: r.SetRenderState(RS_ALPHABLENDENABLE, 0); break;
    case OvPassBlend::Alpha:
      r.SetRenderState(RS_ALPHABLENDENABLE, 1);
      r.SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
      r.SetRenderState(RS_DESTBLEND, BLEND_INVSRCALPHA);
      break;
    case OvPassBlend::Additive:
      r.SetRenderState(RS_ALPHABLENDENABLE, 1);
      r.SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
      r.SetRenderState(RS_DESTBLEND, BLEND_ONE);
      // Fog must add nothing to what is already fogged below.
      if (r.GetRenderState(RS_FOGENABLE)) {
        fogColour = r.GetRenderState(RS_FOGCOLOR);
        r.SetRenderState(RS_FOGCOLOR, 0);
        fogSaved = true;
      }
      break;
    case OvPassBlend::Multiply:
      r.SetRenderState(RS_ALPHABLENDENABLE, 1);
      r.SetRenderState(RS_SRCBLEND, BLEND_ZERO);
      r.SetRenderState(RS_DESTBLEND, BLEND_SRCCOLOR);
      break;
    case OvPassBlend::Multiply2x:
      r.SetRenderState(RS_ALPHABLENDENABLE, 1);
      r.SetRenderState(RS_SRCBLEND, BLEND_DESTCOLOR);
      r.SetRenderState(RS_DESTBLEND, BLEND_SRCCOLOR);
      break;
  }
  return fogSaved;
}

}  // namespace

void OvPassPlan::DrawSubset(OvMeshDrawer& drawer, int subset) {
  OvRendererGL& r = drawer.Renderer();
  for (int p = 0; p < m_passCount; ++p) {
    const OvPlanPass& pass = m_passes[p];
    OvStatePair bumpStates[] = {{RS_LIGHTING, 0},
                                {RS_SPECULARENABLE, 0},
                                {RS_COLORVERTEX, 0},
                                {RS_DIFFUSEMATERIALSOURCE, 0},
                                {RS_SPECULARMATERIALSOURCE, 0}};
    constexpr int kBumpStates = int(sizeof(bumpStates) / sizeof(bumpStates[0]));
    if (pass.bump) {
      if (!drawer.WriteBumpColours(pass.bumpSpecular)) continue;
      r.GetRenderStates(bumpStates, kBumpStates);
      r.SetRenderState(RS_LIGHTING, 0);
      r.SetRenderState(RS_SPECULARENABLE, 0);
      r.SetRenderState(RS_COLORVERTEX, 1);
      r.SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_COLOR1);
      r.SetRenderState(RS_SPECULARMATERIALSOURCE, MCS_COLOR2);
    }
    for (int s = 0; s < pass.stageCount; ++s) {
      const OvPlanStage& stage = pass.stages[s];
      OvGLTexture* texture = stage.slot == OV_PLAN_NO_TEXTURE
                                 ? nullptr
                                 : drawer.SlotTexture(subset, stage.slot, m_material.Texture(stage.slot));
      r.SetTexture(s, texture);
      ApplyStage(r, s, stage, texture && texture->cube);
    }
    if (pass.stageCount < OV_PLAN_MAX_STAGES) r.DisableStage(pass.stageCount - 1);
    uint32_t fogColour = 0;
    const bool fading = p == 0 && pass.blend == OvPassBlend::Opaque && drawer.Mesh().fadeBlend;
    const bool fogSaved = ApplyBlend(r, fading ? OvPassBlend::Alpha : pass.blend, pass.alphaTest, fogColour);
    drawer.DrawGeometry(subset);
    if (fogSaved) r.SetRenderState(RS_FOGCOLOR, fogColour);
    if (pass.bump) r.SetRenderStates(bumpStates, kBumpStates);
  }
}
