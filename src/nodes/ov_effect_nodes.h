// The render-effect node types "Mirror", "~~Magic Lens" and "Dynamic Env
// Map": stored blocks and parameter tables. Their controllers render the
// scene a second time, so the renderer installs the factories; without one
// the nodes yield nothing.
//
// Stored blocks (all begin with the format number 100):
//   "Mirror"           "iiiiiuifff": Check Flag mask and value, the
//                      unlabelled item, option bits, background colour,
//                      background object record (-1 none), near clip, far
//                      clip, minimum projected size in pixels.
//   "~~Magic Lens"     "ii iiiufff": option bits, sub material, map slot,
//                      map channel, background colour, then the reals:
//                      magnification (the table's first real, labelled
//                      "Clip: Near"; the lens view keeps the camera's own
//                      clip distances), far clip, minimum projected size.
//                      "Background Obj" has no room in the block; "Map
//                      Channel#" is kept, the lens's texture is shown through
//                      the coordinates its material gives it.
//   "Dynamic Env Map"  "iiiiufff": sub material, map slot, option bits,
//                      background colour, near clip, far clip, minimum
//                      projected size. "Background Obj" is not kept either.
// Option bits: 0x1 "Mirror", 0x2 "2 Side", 0x4 "Don't Render Self Obj".
// Sub material and map numbers count from 1, as authored.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

class OvClump;

inline constexpr OvTypeId OV_NODE_MIRROR{0, 4800};
inline constexpr OvTypeId OV_NODE_MAGIC_LENS{0, 4550};
inline constexpr OvTypeId OV_NODE_DYNAMIC_ENV_MAP{0, 4500};

inline constexpr uint32_t OV_EFFECT_MIRROR = 0x1;
inline constexpr uint32_t OV_EFFECT_TWO_SIDE = 0x2;
inline constexpr uint32_t OV_EFFECT_SKIP_SELF = 0x4;

// Mesh flag of a mirror surface.
inline constexpr uint32_t OV_MESH_MIRROR = 0x100000;

class OvMirrorNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_MIRROR; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t checkMask = 0;
  uint32_t checkValue = 0;
  int32_t unlabelled = 0;
  uint32_t options = OV_EFFECT_MIRROR;
  uint32_t background = 0;
  int32_t backgroundObj = -1;
  float nearClip = 10.0f;
  float farClip = 5000.0f;
  float minSize = 20.0f;

 protected:
  // Traces and yields nothing on a clump without a mesh; otherwise flags the
  // mesh as a mirror surface.
  OvAniCtrl* MakeController(OvClump* clump) override;
};

class OvMagicLensNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_MAGIC_LENS; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t options = OV_EFFECT_MIRROR;
  int32_t subMaterial = 1;
  int32_t map = 1;
  int32_t mapChannel = 1;
  uint32_t background = 0;
  float magnification = 10.0f;
  float farClip = 5000.0f;
  float minSize = 20.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

class OvDynamicEnvMapNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_DYNAMIC_ENV_MAP; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  int32_t subMaterial = 1;
  int32_t map = 1;
  uint32_t options = 0;
  uint32_t background = 0;
  float nearClip = 10.0f;
  float farClip = 5000.0f;
  float minSize = 20.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

using OvMirrorCtrlFactory = OvAniCtrl* (*)(const OvMirrorNode& node, OvClump* clump);
using OvMagicLensCtrlFactory = OvAniCtrl* (*)(const OvMagicLensNode& node, OvClump* clump);
using OvEnvMapCtrlFactory = OvAniCtrl* (*)(const OvDynamicEnvMapNode& node, OvClump* clump);
void OvSetEffectCtrlFactories(OvMirrorCtrlFactory mirror, OvMagicLensCtrlFactory lens, OvEnvMapCtrlFactory envMap);

OvNodeType* OvEffectNodeTypeCreate(const OvTypeId& pair, const char* name);
