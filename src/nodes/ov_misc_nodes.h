// Behaviour nodes that play sounds, turn a clump toward the camera, a target
// or another clump's spin, and pick a level of detail among child clumps.
// All are per-clump nodes.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_flags.h"
#include "ov_node_params.h"
#include "ov_node_type.h"
#include "ov_sound_system.h"

inline constexpr OvTypeId OV_NODE_PLAY_SOUND{0, 1520};
inline constexpr OvTypeId OV_NODE_FACE_CAMERA{0, 1310};
inline constexpr OvTypeId OV_NODE_SPIN_BY_OTHER{0, 1165};
inline constexpr OvTypeId OV_NODE_AIM{0, 1300};
inline constexpr OvTypeId OV_NODE_LOD{0, 8200};

// Controller IDs.
inline constexpr int32_t OV_ACID_SPIN_BY_OTHER = 182;
inline constexpr int32_t OV_ACID_AIM = 220;
inline constexpr int32_t OV_ACID_FACE_CAMERA = 223;

class OvMiscNodeBase : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
};

// "Play Sound": keeps one sound instance playing while the test passes.
class OvPlaySoundNode : public OvMiscNodeBase {
 public:
  static constexpr uint32_t k3D = 0x1;
  static constexpr uint32_t kEndless = 0x2;
  static constexpr uint32_t kEntire = 0x4;
  static constexpr uint32_t kOverlap = 0x8;
  static constexpr uint32_t kOnce = 0x10;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_PLAY_SOUND; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override { m_database = database; }
  bool FromValues(const OvParamValues& v);

  uint32_t checkMask = 0, checkValue = 0;
  float safePeriodSec = 1.0f;
  uint32_t options = k3D | kEndless | kEntire | kOnce;
  int32_t soundIndex = -1;
  int32_t repeat = -1;
  int32_t priority = 500;
  float decayFrom = 100.0f;
  float muteFrom = 10000.0f;

  OvDatabase* Database() const { return m_database; }
  const OvPlayRequest& Request() const { return m_request; }

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;

 private:
  OvDatabase* m_database = nullptr;
  OvPlayRequest m_request;  // filled when a controller is made
  bool m_reported = false;  // a missing sound is traced once
};

// "Face Camera: 1 Axis Freedom": two raw words.
class OvFaceCameraNode : public OvMiscNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_FACE_CAMERA; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  int32_t rotationAxis = 0;  // 0-2
  int32_t aimAxis = 1;       // 0-5: +X +Y +Z -X -Y -Z

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "Spin by Other's Spin": "iiRiii".
class OvSpinByOtherNode : public OvMiscNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_SPIN_BY_OTHER; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  int32_t spinAxis = 0;
  float ratio = 1.0f;
  OvTargetKeys ref;
  int32_t refAxis = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "Aim: 1 Axis Freedom": "ii RRRR iiii".
class OvAimNode : public OvMiscNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_AIM; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  int32_t RotationAxis() const { return axes & 0x7; }
  int32_t AimAxis() const { return (axes >> 4) & 0x7; }

  int32_t axes = 2 | (1 << 4);
  float maxAngle = 0.0f, minAngle = 0.0f;
  float turnRate = 50.0f * OV_DEG_TO_RAD;
  float bulletSpeed = 0.0f;
  OvTargetKeys target;
  uint32_t checkMask = 0, checkValue = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// Lead aiming: where a bullet of `speed` from `own` meets a target at `pos`
// moving at `vel`; false when it never does.
bool OvAimIntercept(OvVector& out, const OvVector& pos, const OvVector& vel, const OvVector& own, float speed);

// "LOD (clump tree)": "iiRi", then n level IDs and n thresholds.
class OvLodNode : public OvMiscNodeBase {
 public:
  static constexpr int kMaxLevels = 10;
  static constexpr uint32_t kAlign = 0x1;

  OvLodNode();
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_LOD; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t options = kAlign;
  float refSize = 1.0f;
  int32_t count = 0;
  int32_t levelIds[kMaxLevels];
  float thresholds[kMaxLevels];

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// What the LOD node compares: the reference size as seen through `camera`
// from `clump`; 0 without a camera extension or a world position.
float OvLodScreenMeasure(const OvClump& clump, const OvClump& camera, float refSize);

// The descriptor of one of the types above (named `name`), or null.
OvNodeType* OvMiscNodeTypeCreate(const OvTypeId& pair, const char* name);
