// The shader materials: records of the shader classes (0, 1000100 ...
// 1000500) that draw mesh subsets through run-time programs. The base, the
// vertex/pixel program material (0, 1000300): up to four textures, a vertex
// and a pixel program (inline text or a file name), a pass limit for the
// lights and an alpha-test switch. Subsets are drawn through the
// run-time programs; when the vertex program cannot be built the subset is
// drawn with a standard material of the same first texture instead, so the
// object stays visible.
#pragma once

#include <cstdint>

#include "ov_mesh_draw.h"
#include "ov_node_params.h"
#include "ov_node_type.h"
#include "ov_render_states.h"
#include "ov_std_material.h"

class OvRendererGL;
struct OvLightData;
struct OvShaderMacro;

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

  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

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
  // Lights a draw takes at most, and the constants a pass needs beyond the
  // common ones (the program is bound when this is called; `light` is the
  // pass's light for materials that take one light a pass, null without
  // lights; pass 0 carries the ambient).
  virtual int LightLimit() const { return OV_MAX_LIGHTS; }
  virtual void SetPixelConstants(OvRendererGL& renderer, const OvLightData* light, int pass) const {
    (void)renderer, (void)light, (void)pass;
  }
  // Extra definitions for both programs (a static list: it is part of the
  // cache key), the tangent-basis stream, and blending over what is behind
  // on the first pass.
  virtual const OvShaderMacro* Macros() const { return nullptr; }
  virtual bool NeedsTangents() const { return false; }
  virtual bool BlendsOver() const { return false; }

 protected:
  // Built-in programs are kept by address, not copied, so every material
  // using them shares one cache entry.
  void UsePrograms(const char* vertexSource, const char* pixelSource) {
    m_vertexSource = vertexSource;
    m_pixelSource = pixelSource;
  }

 private:
  bool MakeFallback(OvChunkArena& arena);

  uint32_t m_format = kFormat;
  char* m_name = nullptr;
  int32_t m_maps[kMaps] = {-1, -1, -1, -1};
  int32_t m_passLimit = 0;
  int32_t m_alphaTest = 0;
  const char* m_vertexSource = nullptr;
  const char* m_pixelSource = nullptr;
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
  void SetPixelConstants(OvRendererGL& renderer, const OvLightData* light, int pass) const override;
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

  uint32_t dark = 0xFF404040u;
  uint32_t average = 0xFF808080u;
  float darkThreshold = 0.2f;
  float brightThreshold = 0.0f;
};

inline constexpr OvTypeId OV_BUMP_MATERIAL_TYPE{0, 1000500};

// Bump mapping: a diffuse map lit through a normal map in tangent space,
// with the built-in bump programs unless files are given. Stored block:
// format, four maps (diffuse, normal, two unused), light mode (0 one light,
// 1 all lights, a pass each), self-shadowing, vertex file, pixel file.
class OvBumpMaterial : public OvShaderMaterial {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_BUMP_MATERIAL_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool SetBump(OvChunkArena& arena, const int32_t maps[kMaps], bool allLights, bool selfShadowing,
               const char* vertexFile, const char* pixelFile);
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);
  int LightLimit() const override { return AllLights() ? OV_MAX_LIGHTS : 1; }
  void SetPixelConstants(OvRendererGL& renderer, const OvLightData* light, int pass) const override;
  const OvShaderMacro* Macros() const override;
  bool NeedsTangents() const override { return true; }
  bool AllLights() const { return m_allLights == 1; }
  bool SelfShadowing() const { return m_selfShadowing != 0; }

 private:
  uint32_t m_bumpFormat = 100;
  int32_t m_allLights = 0;
  int32_t m_selfShadowing = 1;
  char* m_vertexFile = nullptr;
  char* m_pixelFile = nullptr;
};

inline constexpr OvTypeId OV_GLOSS_MATERIAL_TYPE{0, 1000100};

// Gloss mapping: the diffuse map lit, the specular light scaled by the
// gloss map's value (the mean of its colour; whole without a gloss map).
// "test file", when given, is a
// pixel program used in place of the built-in one. Stored block: format,
// diffuse map, test file, gloss map.
class OvGlossMaterial : public OvShaderMaterial {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_GLOSS_MATERIAL_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool SetGloss(OvChunkArena& arena, int32_t diffuseMap, int32_t glossMap, const char* testFile);
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

 private:
  uint32_t m_glossFormat = 100;
  char* m_testFile = nullptr;
};

inline constexpr OvTypeId OV_TRANSPARENCY_MATERIAL_TYPE{0, 1000200};

// Transparency: the diffuse map lit, its alpha (times the material's)
// blending the surface over what is behind. Stored block: format, diffuse
// map.
class OvTransparencyMaterial : public OvShaderMaterial {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_TRANSPARENCY_MATERIAL_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool SetTransparency(OvChunkArena& arena, int32_t diffuseMap);
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);
  bool BlendsOver() const override { return true; }

 private:
  uint32_t m_transparencyFormat = 100;
};

// Registers the material types with their display names and parameter
// tables, and their resource factory (once). Touches no GL state, so the
// content compiler registers them too.
void OvRegisterShaderMaterialTypes();
// The resource of a material for a renderer, with `stageLimit` stages for
// the fall-back; null without memory.
OvShaderResource* OvMakeShaderMaterialDraw(OvShaderMaterial& material, OvRendererGL& renderer, int stageLimit);
