// The vertex/pixel program material (0, 1000300): up to four textures, a
// vertex and a pixel program (inline text or a file name), a pass limit for
// the lights and an alpha-test switch. Subsets are drawn through the
// run-time programs; when the vertex program cannot be built the subset is
// drawn with a standard material of the same first texture instead, so the
// object stays visible.
#pragma once

#include <cstdint>

#include "ov_mesh_draw.h"
#include "ov_node_type.h"
#include "ov_render_states.h"
#include "ov_std_material.h"

class OvRendererGL;
struct OvLightData;

inline constexpr OvTypeId OV_SHADER_MATERIAL_TYPE{0, 1000300};

class OvShaderMaterial : public OvDbNode {
 public:
  static constexpr uint32_t kFormat = 101;
  static constexpr int kMaps = 4;

  void GetTypeId(OvTypeId& out) const override { out = OV_SHADER_MATERIAL_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void* GetController(void* renderer) override { return OvMakeShaderResource(*this, renderer); }
  void Bind(OvDatabase* database) override;

  // Building in memory; strings and arrays come from the arena.
  bool Set(OvChunkArena& arena, const char* name, const int32_t maps[kMaps], int32_t passLimit, int32_t alphaTest,
           const char* vertexSource, const char* pixelSource);

  const char* Name() const { return m_name; }
  int32_t Map(int i) const { return m_maps[i & 3]; }
  int32_t PassLimit() const { return m_passLimit; }
  bool AlphaTest() const { return m_alphaTest != 0; }
  const char* VertexSource() const { return m_vertexSource; }
  const char* PixelSource() const { return m_pixelSource; }
  OvGLTexture* Texture(int i) const { return m_textures[i & 3]; }
  void SetTexture(int i, OvGLTexture* texture);
  // The standard material drawn when the programs cannot be built.
  const OvStdMaterial& Fallback() const { return m_fallback; }
  // Lights a draw takes at most, and the pixel constants a pass needs (the
  // program is bound when this is called).
  virtual int LightLimit() const { return OV_MAX_LIGHTS; }
  virtual void SetPixelConstants(OvRendererGL& renderer, const OvLightData* light) const {
    (void)renderer, (void)light;
  }

 private:
  bool MakeFallback(OvChunkArena& arena);

  uint32_t m_format = kFormat;
  char* m_name = nullptr;
  int32_t m_maps[kMaps] = {-1, -1, -1, -1};
  int32_t m_passLimit = 0;
  int32_t m_alphaTest = 0;
  char* m_vertexSource = nullptr;
  char* m_pixelSource = nullptr;
  OvGLTexture* m_textures[kMaps] = {};
  OvStdMaterial m_fallback;
};

inline constexpr OvTypeId OV_CARTOON_MATERIAL_TYPE{0, 1000400};

// The cartoon material: the built-in toon programs, one light, colours in
// three bands by the angle between normal and light. Stored block "i iiiff":
// format, diffuse map, dark colour, average colour, dark and bright
// thresholds.
class OvCartoonMaterial : public OvShaderMaterial {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_CARTOON_MATERIAL_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool SetCartoon(OvChunkArena& arena, int32_t map, uint32_t dark, uint32_t average, float darkThreshold,
                  float brightThreshold);
  int LightLimit() const override { return 1; }
  void SetPixelConstants(OvRendererGL& renderer, const OvLightData* light) const override;

  uint32_t dark = 0xFF404040u;
  uint32_t average = 0xFF808080u;
  float darkThreshold = 0.2f;
  float brightThreshold = 0.0f;
};

// Registers the material types and their resource factory (once).
void OvRegisterShaderMaterialTypes();
// The resource of a material for a renderer, with `stageLimit` stages for
// the fall-back; null without memory.
OvShaderResource* OvMakeShaderMaterialDraw(OvShaderMaterial& material, OvRendererGL& renderer, int stageLimit);
