// The standard material (0, 1000000): texture layers with combine kinds,
// slots, coordinate sets and address modes, a blend for the whole material
// and its database textures; and the pass plan the renderer makes of it for
// a given number of texture stages.
#pragma once

#include <cstdint>

#include "ov_mesh_draw.h"
#include "ov_node_type.h"

class OvGLTexture;
class OvRendererGL;

inline constexpr OvTypeId OV_STD_MATERIAL_TYPE{0, 1000000};

// Layer kinds: a texture-stage combine and, for a pass of its own, a blend.
inline constexpr uint32_t OV_LAYER_TEXTURE = 1;
inline constexpr uint32_t OV_LAYER_BLEND_ALPHA = 2;
inline constexpr uint32_t OV_LAYER_ADD = 3;
inline constexpr uint32_t OV_LAYER_MODULATE = 4;
inline constexpr uint32_t OV_LAYER_MODULATE2X = 5;
inline constexpr uint32_t OV_LAYER_REFLECT = 0x10000;
inline constexpr uint32_t OV_LAYER_BUMP = 0x20000;
inline constexpr uint32_t OV_LAYER_BUMP_SPECULAR = 0x30000;

// Address byte 3 clamps; anything else wraps.
inline constexpr uint8_t OV_ADDRESS_CLAMP = 3;

// Array-mask bits of the stored form.
inline constexpr uint32_t OV_STD_HAS_SLOTS = 0x10;
inline constexpr uint32_t OV_STD_HAS_SETS = 0x08;
inline constexpr uint32_t OV_STD_HAS_ADDR_U = 0x04;
inline constexpr uint32_t OV_STD_HAS_ADDR_V = 0x02;
inline constexpr uint32_t OV_STD_HAS_ADDR_W = 0x01;

// Option word.
inline constexpr uint32_t OV_STD_OPTION_BIT0 = 0x1;
inline constexpr uint32_t OV_STD_OPTION_ALPHA_TEST = 0x2;

struct OvStdLayer {
  uint32_t kind = OV_LAYER_TEXTURE;
  uint8_t slot = 0;
  uint8_t set = 0;
  uint8_t addressU = 1;
  uint8_t addressV = 1;
  uint8_t addressW = 1;
};

class OvStdMaterial : public OvDbNode {
 public:
  static constexpr uint32_t kFormat = 101;

  void GetTypeId(OvTypeId& out) const override { out = OV_STD_MATERIAL_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  // The pass plan, from the first shader-resource factory that answers.
  void* GetController(void* renderer) override;
  // Resolves the texture indices to the database's device textures.
  void Bind(OvDatabase* database) override;

  // Building in memory (tests, a content compiler); arrays from the arena.
  bool SetLayers(OvChunkArena& arena, const OvStdLayer* layers, int32_t count);
  bool SetTextureIndices(OvChunkArena& arena, const int32_t* indices, int32_t count);

  const char* Name() const { return m_name; }
  int32_t LayerCount() const { return m_layerCount; }
  const OvStdLayer& Layer(int32_t i) const { return m_layers[i]; }
  uint32_t ArrayMask() const { return m_arrayMask; }
  int32_t BlendKind() const { return m_blend; }
  void SetBlendKind(int32_t kind) { m_blend = kind; }
  uint32_t Options() const { return m_options; }
  void SetOptions(uint32_t options) { m_options = options; }
  bool AlphaTest() const { return (m_options & OV_STD_OPTION_ALPHA_TEST) != 0; }
  int32_t TextureCount() const { return m_textureCount; }
  int32_t TextureIndex(int32_t i) const { return m_textureIndices[i]; }
  // The bound device texture of list entry i; null out of range or missing.
  OvGLTexture* Texture(int32_t i) const;
  // Tests and the memo board set textures directly.
  void SetTexture(int32_t i, OvGLTexture* texture);

 private:
  uint32_t m_format = kFormat;
  char* m_name = nullptr;
  int32_t m_layerCount = 0;
  OvStdLayer* m_layers = nullptr;
  uint32_t m_arrayMask = 0;
  int32_t m_blend = 1;
  uint32_t m_options = 0;
  int32_t m_textureCount = 0;
  int32_t* m_textureIndices = nullptr;
  OvGLTexture** m_textures = nullptr;
};

// Registers the standard material in OvShaderClasses() (once).
void OvRegisterStdMaterialType();

// ---------------------------------------------------------------------------
// Shader-resource factories: a process-wide list asked in turn for a shader
// record's render resource; the first non-null answer wins.
using OvShaderResourceFactory = void* (*)(OvDbNode& shader, void* renderer);
void OvAddShaderResourceFactory(OvShaderResourceFactory factory);
void OvRemoveShaderResourceFactory(OvShaderResourceFactory factory);
void* OvMakeShaderResource(OvDbNode& shader, void* renderer);
// The standard material's factory: answers for the GL content uploader only.
void* OvStdMaterialFactory(OvDbNode& shader, void* renderer);

// ---------------------------------------------------------------------------
// Pass plan.

// What a stage computes (argument 1 the texture, argument 2 the previous
// result unless said otherwise).
enum class OvStageOp : uint8_t {
  Current,         // untextured: the previous result (lit diffuse at stage 0)
  Texture,         // kind 1
  BlendTexAlpha,   // kind 2
  Add,             // kind 3
  Modulate,        // kind 4
  Modulate2x,      // kind 5
  ReflectAdd,      // reflection vector lookup added to the previous result
  ReflectTexture,  // reflection vector lookup alone
  BumpDot3,        // texture . diffuse, alpha previous
  BumpSpecular,    // specular colour x previous, alpha previous
};

enum class OvPassBlend : uint8_t {
  Opaque,      // blending off
  Alpha,       // source alpha / inverse source alpha
  Additive,    // source alpha / one, black fog
  Multiply,    // zero / source colour
  Multiply2x,  // destination colour / source colour
};

inline constexpr int OV_PLAN_MAX_STAGES = 8;
inline constexpr uint8_t OV_PLAN_NO_TEXTURE = 255;

struct OvPlanStage {
  OvStageOp op = OvStageOp::Current;
  uint8_t slot = OV_PLAN_NO_TEXTURE;
  uint8_t set = 0;
  uint8_t addressU = 1;
  uint8_t addressV = 1;
  uint8_t addressW = 1;
};

struct OvPlanPass {
  bool bump = false;
  bool bumpSpecular = false;  // the half-vector variant (kind 0x30000)
  int stageCount = 0;
  OvPlanStage stages[OV_PLAN_MAX_STAGES];
  OvPassBlend blend = OvPassBlend::Opaque;
  bool alphaTest = false;
};

// The blend a kind stands for (material blend kinds and layer kinds alike).
OvPassBlend OvBlendOfKind(uint32_t kind);
bool OvIsKnownLayerKind(uint32_t kind);

class OvPassPlan : public OvShaderResource {
 public:
  // Null for an unknown layer kind or no memory. stageLimit is clamped to
  // 1 ... 8.
  static OvPassPlan* Build(const OvStdMaterial& material, int stageLimit);

  int PassCount() const { return m_passCount; }
  const OvPlanPass& Pass(int i) const { return m_passes[i]; }
  // A bump layer needs the tangent-space light vector in the vertex colours;
  // kind 0x30000 also the half-vector variant.
  bool NeedsBumpColours() const { return m_needsBump; }
  bool NeedsBumpSpecular() const { return m_needsBumpSpecular; }
  // Option bit 0 with alpha test off.
  bool Option0Flag() const { return m_option0; }
  const OvStdMaterial& Material() const { return m_material; }

  int BumpSet() const override { return m_bumpSet; }
  void DrawSubset(OvMeshDrawer& drawer, int subset) override;

 private:
  OvPassPlan(const OvStdMaterial& material) : m_material(material) {}
  ~OvPassPlan() override;

  const OvStdMaterial& m_material;
  OvPlanPass* m_passes = nullptr;
  int m_passCount = 0;
  bool m_needsBump = false;
  bool m_needsBumpSpecular = false;
  bool m_option0 = false;
  int m_bumpSet = -1;
};
