// Node types that rewrite a clump's mesh data every frame: texture
// coordinates scrolled by motion, waving vertices, normals and coordinates,
// and coordinates derived from the normals as the camera sees them. All of
// them write only arrays the clump's private mesh copy owns, and mark the
// change so the renderer uploads them again.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

class OvChunkArena;
class OvClump;
struct OvMesh;

inline constexpr OvTypeId OV_NODE_FLOW_UV_BY_MOVE{0, 1170};
inline constexpr OvTypeId OV_NODE_SWING_VERTEX{0, 1150};
inline constexpr OvTypeId OV_NODE_SWING_VERTEX_NORMAL{0, 1154};
inline constexpr OvTypeId OV_NODE_SWING_UVW{0, 1140};
inline constexpr OvTypeId OV_NODE_SPHERE_ENV{0, 1420};

// Controller IDs.
inline constexpr int32_t OV_ACID_FLOW_UV_BY_MOVE = 183;
inline constexpr int32_t OV_ACID_SWING_UVW = 190;
inline constexpr int32_t OV_ACID_SWING_VERTEX = 191;
inline constexpr int32_t OV_ACID_SWING_VERTEX_NORMAL = 193;
inline constexpr int32_t OV_ACID_SPHERE_ENV = 250;

// Seed of the per-vertex phase sequence when the block keeps none.
inline constexpr int32_t OV_SWING_DEFAULT_SEED = 1;

// Authoring tools pass the clump a node is being added to in the first value
// slot (an internal item): its address in words 0 and 1, low half first.
OvClump* OvParamOwningClump(const OvParamValues& v, int slot);

// Per-vertex phase bytes for "Sync Position": the generator's values indexed
// by each vertex's distance from the origin after the clump's matrix, so
// vertices at the same distance share phases. Null when memory runs out or
// the mesh has no vertices; `count` is the vertex count.
uint8_t* OvSwingSyncTable(OvChunkArena& arena, const OvClump& clump, const OvMesh& mesh, int32_t seed, uint32_t& count);

// "Flow UV by Move": scrolls one coordinate set by the distance the clump
// moves along an axis.
class OvFlowUvByMoveNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_FLOW_UV_BY_MOVE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

  int32_t channel = 0;
  int32_t direction = 5;  // +X +Y +Z -X -Y -Z
  float uPerUnit = 100.0f;
  float vPerUnit = 100.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// Shared by the two vertex-array swings: nine raw reals, then the phase
// table. One controller serves every clump.
class OvSwingVertexBase : public OvSharedCtrlNode {
 public:
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

  // Writes dst = src + the wave offsets for n vertices at `seconds`.
  void Deform(float* dst, const float* src, int32_t n, float seconds) const;

  float amplitude[3] = {20.0f, 20.0f, 20.0f};
  float frequency[3] = {0.5f, 0.5f, 0.5f};
  float phase[3] = {0.0f, 0.0f, 0.0f};
  int32_t seed = OV_SWING_DEFAULT_SEED;
  uint32_t tableCount = 0;
  uint8_t* table = nullptr;

 protected:
  // Deforms the clump's own copy of the array and marks it changed.
  void DeformClump(OvClump* clump, int32_t time) const;
  virtual uint32_t Channel() const = 0;
  virtual const char* NoMeshMessage() const { return nullptr; }
};

// "Swing Vertex": vertex positions, after culling and only when visible.
class OvSwingVertexNode : public OvSwingVertexBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_SWING_VERTEX; }
  uint32_t GetChannelMask() const override;
  int32_t GetCtrlId() const override { return OV_ACID_SWING_VERTEX; }
  void Animate(OvClump* clump, int32_t time) override;
  void TwoPass(OvClump* clump, int32_t value, int point) override;

 protected:
  uint32_t Channel() const override;
};

// "Swing Vertex Normal": vertex normals, every frame.
class OvSwingVertexNormalNode : public OvSwingVertexBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_SWING_VERTEX_NORMAL; }
  uint32_t GetChannelMask() const override;
  int32_t GetCtrlId() const override { return OV_ACID_SWING_VERTEX_NORMAL; }
  void Animate(OvClump* clump, int32_t time) override;

 protected:
  uint32_t Channel() const override;
  const char* NoMeshMessage() const override { return "!!! Swing vertex normal must be added to a mesh.\n"; }
};

// "Swing UVW Mapping": waves and scrolls one coordinate set.
class OvSwingUvwNode : public OvSharedCtrlNode {
 public:
  static constexpr int32_t kSets = 16;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_SWING_UVW; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

  uint32_t GetSecondaryMask() const override;
  int32_t GetCtrlId() const override { return OV_ACID_SWING_UVW; }
  void Animate(OvClump* clump, int32_t time) override;
  void TwoPass(OvClump* clump, int32_t value, int point) override;

  int32_t set = 0;
  float amplitude[2] = {0.1f, 0.1f};
  float frequency[2] = {0.5f, 0.5f};
  float phase[2] = {0.0f, 0.0f};
  float flow[2] = {0.0f, 0.0f};
  int32_t seed = OV_SWING_DEFAULT_SEED;
  uint32_t tableCount = 0;
  uint8_t* table = nullptr;
};

// "Sphere Env Mapping": one coordinate set from the camera-space normals.
class OvSphereEnvNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_SPHERE_ENV; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

  int32_t set = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// The descriptor of one of the types above (named `name`), or null for any
// other pair.
OvNodeType* OvMeshNodeTypeCreate(const OvTypeId& pair, const char* name);
