// "Drag Shine": the clump's mesh, a grid of rows, becomes a trail behind
// chosen vertices of the parent clump. Row 0 follows the vertices now; row k
// shows where they were k intervals ago, sampled from a short history.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

class OvChunkArena;
class OvClump;
struct OvMesh;

inline constexpr OvTypeId OV_NODE_DRAG_SHINE{0, 1380};
inline constexpr int32_t OV_ACID_DRAG_SHINE = 226;
inline constexpr uint32_t OV_DRAG_SHINE_CHANNELS = 0x110001;  // verts, position, world matrix

// Parameter slots of CreateFromValues.
inline constexpr int OV_DRAG_SHINE_SLOT_LIST = 2;      // the vertex list text
inline constexpr int OV_DRAG_SHINE_SLOT_OWNER = 3;     // the owning clump (words 0, 1)
inline constexpr int OV_DRAG_SHINE_SLOT_DURATION = 5;  // trail duration, seconds

// Row length of a trail mesh: mesh word A, or else the number of listed
// vertices; 0 when neither makes whole rows, at least two of them.
int32_t OvTrailRowLength(const OvMesh& mesh, int32_t listed);

class OvDragShineNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kMaxVertices = 4096;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_DRAG_SHINE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

  int32_t interval = 0;  // time units between two rows
  int32_t count = 0;
  int32_t* vertices = nullptr;  // parent vertex numbers

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

OvNodeType* OvTrailNodeTypeCreate(const OvTypeId& pair, const char* name);
