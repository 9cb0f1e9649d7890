// "Lens Flare": the light clump is moved every frame onto a plane just in
// front of the camera where the light appears, turned to face the camera,
// and the chain of element clumps below it is strung along the line through
// the centre of the view. A segment test against the scene's meshes tells
// whether something hides the light; the flare then fades out, and in again
// when it is clear.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

class OvChunkArena;
class OvClump;

inline constexpr OvTypeId OV_NODE_LENS_FLARE{0, 8070};
inline constexpr int32_t OV_ACID_LENS_FLARE = 807;
inline constexpr uint32_t OV_LENS_FLARE_CHANNELS = 0x100020;  // world matrix, materials
inline constexpr int OV_LENS_FLARE_MAX_RATIOS = 64;

class OvLensFlareNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_LENS_FLARE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v, OvChunkArena& arena);

  uint32_t checkMask = 0;
  uint32_t checkValue = 0;
  int32_t obstructionTest = 1;
  float unobstructedRange = 30.0f;
  float visibleRange = 0.0f;
  float fadeOutTime = 0.5f;
  float rotationRatio = 1.0f;
  int32_t count = 0;
  float* ratios = nullptr;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// Whether a clump carries the marker that keeps it from hiding lights.
bool OvHasNoObstructMarker(const OvClump& clump);

OvNodeType* OvFlareNodeTypeCreate(const OvTypeId& pair, const char* name);
