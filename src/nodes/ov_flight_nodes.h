// Node types that write a clump's to-world matrix directly: ballistic
// flight, steering pursuit of a target, copying another clump's (or the
// active camera's) placement, and hanging the clump's logical object under
// the active camera. World Z is up; a clump flies along its -Z axis.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_flags.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_NODE_PARABOLIC_FLIGHT{0, 1335};
inline constexpr OvTypeId OV_NODE_HOMING{0, 1320};
inline constexpr OvTypeId OV_NODE_ALIGN{0, 1115};
inline constexpr OvTypeId OV_NODE_LINK_TO_CAMERA{0, 7100};

// Controller IDs.
inline constexpr int32_t OV_ACID_HOMING = 224;
inline constexpr int32_t OV_ACID_ALIGN = 169;

// "Parabolic Flight": launched along -Z at the speed, then falls under
// gravity (along -Z of the world); optionally turns -Z along the flight.
class OvParabolicFlightNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  static constexpr uint32_t kFollowMove = 0x1;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_PARABOLIC_FLIGHT; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t options = kFollowMove;
  float speed = 1000.0f;
  float gravity = 980.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "Homing": flies along -Z, accelerating up to the maximum speed, and turns
// toward the target at a limited rate between start and stop (seconds of
// the object's time; stop 0 homes for ever). Seven raw values.
class OvHomingNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_HOMING; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  float acceleration = 100.0f;
  float maxSpeed = 100.0f;
  float turnRate = 50.0f * OV_PARAM_DEG_TO_RAD;  // radians per second
  float startSec = 0.0f;
  float stopSec = 0.0f;
  OvTargetKeys target;  // object key -1: the default target (OvDefaultTargetClump)

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "Align": after all clumps of the frame were animated, copies position,
// orientation and/or scale from the target's (or the active camera's)
// to-world matrix.
class OvAlignNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  static constexpr uint32_t kPosition = 0x1;
  static constexpr uint32_t kOrientation = 0x2;
  static constexpr uint32_t kScale = 0x4;
  static constexpr uint32_t kActiveCamera = 0x10;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_ALIGN; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  OvTargetKeys target;
  uint32_t options = kPosition | kOrientation | kScale;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "Link Obj to Active Camera": while the test passes, hangs the root
// clump's logical object under the active camera clump. Shared by every
// clump; works after all clumps of the frame were animated.
class OvLinkToCameraNode : public OvSharedCtrlNode {
 public:
  static constexpr int32_t kFormat = 100;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_LINK_TO_CAMERA; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t GetChannelMask() const override { return ACF_WORLD_MAT | ACF_LOG_OBJ_LINK; }
  void PassDefault(OvClump* clump, int32_t value) override;

  uint32_t checkMask = 0, checkValue = 0;
};

// The descriptor of one of the types above (named `name`), or null for any
// other pair.
OvNodeType* OvFlightNodeTypeCreate(const OvTypeId& pair, const char* name);
