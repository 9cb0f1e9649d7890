// Sensor nodes: each measures something about its clump, another clump, the
// input devices or the clock and writes the outcome into the clump's
// switches. Most are level sensors: every frame the "Set Flag" change when
// the condition holds, the inverse change when it does not.
#pragma once

#include "ov_scene.h"

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_flags.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_NODE_S_KEYBOARD{0, 6150};
inline constexpr OvTypeId OV_NODE_S_TIME_RANGE{0, 6072};
inline constexpr OvTypeId OV_NODE_S_TIME_PERIOD{0, 6100};
inline constexpr OvTypeId OV_NODE_S_OBJ_ID{0, 6140};
inline constexpr OvTypeId OV_NODE_S_HEALTH{0, 6130};
inline constexpr OvTypeId OV_NODE_S_DISTANCE{0, 6030};
inline constexpr OvTypeId OV_NODE_S_ANGLE_BETWEEN{0, 6010};
inline constexpr OvTypeId OV_NODE_S_ANGLE_IN_WORLD{0, 6020};
inline constexpr OvTypeId OV_NODE_S_IN_CAMERA_VIEW{0, 6035};
inline constexpr OvTypeId OV_NODE_S_CHECK_IN_OUT{0, 5000};
inline constexpr OvTypeId OV_NODE_S_CHECK_DESTROYED{0, 5010};

// Controller IDs.
inline constexpr int32_t OV_ACID_S_CHECK_IN_OUT = 500;
inline constexpr int32_t OV_ACID_S_CHECK_DESTROYED = OV_CTRL_ID_CHECK_DESTROYED;
inline constexpr int32_t OV_ACID_S_ANGLE_BETWEEN = 614;
inline constexpr int32_t OV_ACID_S_ANGLE_IN_WORLD = 616;
inline constexpr int32_t OV_ACID_S_DISTANCE = 618;
inline constexpr int32_t OV_ACID_S_IN_CAMERA_VIEW = 630;
inline constexpr int32_t OV_ACID_S_HEALTH = 660;
inline constexpr int32_t OV_ACID_S_TIME_RANGE = 670;
inline constexpr int32_t OV_ACID_S_TIME_PERIOD = 672;

// Entries of the "<s> Keyboard" key choice list.
inline constexpr int OV_KEY_CHOICE_COUNT = 108;
// The input index of key choice i (out of range: the nearest end).
int32_t OvKeyChoiceCode(int32_t choice);

// The clump axis of an axis code (0..5 = +X, +Y, +Z, -X, -Y, -Z, reduced
// modulo 6): that row of the to-world matrix, normalised.
OvVector OvClumpAxis(const OvMatrix& toWorld, int32_t code);

// A "Set Flag" pair every sensor has; kFormat is what writers store.
struct OvSensorFlag {
  static constexpr int32_t kFormat = 100;
  uint32_t setMask = 0, setValue = 0;
  // The change when `holds`, the inverse change otherwise.
  void Apply(OvClump& clump, bool holds) const {
    if (holds) {
      OvFlagChange(clump, setMask, setValue);
    } else {
      OvFlagChangeInverse(clump, setMask, setValue);
    }
  }
};

// Shared sensors: the node is the controller of every clump.
class OvSharedSensorNode : public OvSharedCtrlNode, public OvSensorFlag {};
class OvPerClumpSensorNode : public OvPerClumpNode, public OvSensorFlag {};

// "<s> Keyboard": a key or mouse button is held, went down or went up.
class OvKeyboardSensorNode : public OvSharedSensorNode {
 public:
  static constexpr int32_t kPressed = 0;
  static constexpr int32_t kClickDown = 1;
  static constexpr int32_t kClickUp = 2;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_KEYBOARD; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Animate(OvClump* clump, int32_t time) override;
  bool FromValues(const OvParamValues& v);

  int32_t keyCode = 32;
  int32_t keyState = kPressed;
};

// "<s> Time Range": from <= t <= to (to below from: no upper end). Four raw
// words.
class OvTimeRangeSensorNode : public OvPerClumpSensorNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_TIME_RANGE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  int32_t from = 0, to = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<s> Time Period": the first `length` units of every period between from
// and to, and at least the frame that crosses each period start.
class OvTimePeriodSensorNode : public OvSharedSensorNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_TIME_PERIOD; }
  int32_t GetCtrlId() const override { return OV_ACID_S_TIME_PERIOD; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Animate(OvClump* clump, int32_t time) override;
  bool FromValues(const OvParamValues& v);
  // The condition at t with `delta` units since the previous frame step.
  bool Holds(int32_t t, int32_t delta) const;

  int32_t from = 0, to = 160000, period = 16000, length = 0;
};

// "<s> Obj ID" and "<s> Health": a value of the clump's logical object lies
// in [min, max] (max below min: no upper end). Four raw words.
class OvObjValueSensorNode : public OvSharedSensorNode {
 public:
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Animate(OvClump* clump, int32_t time) override;
  bool FromValues(const OvParamValues& v);
  static bool InRange(int64_t v, int32_t min, int32_t max) { return !(v < min || (max >= min && v > max)); }

  int32_t min = 0, max = 0;

 protected:
  virtual int32_t ValueOf(const OvLogObj& object) const = 0;
};

class OvObjIdSensorNode : public OvObjValueSensorNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_OBJ_ID; }

 protected:
  int32_t ValueOf(const OvLogObj& object) const override;
};

class OvHealthSensorNode : public OvObjValueSensorNode {
 public:
  OvHealthSensorNode() { min = -100, max = 500; }
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_HEALTH; }
  int32_t GetCtrlId() const override { return OV_ACID_S_HEALTH; }

 protected:
  int32_t ValueOf(const OvLogObj& object) const override;
};

// "<s> Distance": min <= distance to the target < max. Six raw words.
class OvDistanceSensorNode : public OvPerClumpSensorNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_DISTANCE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  float minDistance = 0.0f, maxDistance = 1000.0f;
  OvTargetKeys target;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<s> Angle Between": the line to the other clump lies within the angle of
// an axis of this clump or of the target.
class OvAngleBetweenSensorNode : public OvPerClumpSensorNode {
 public:
  static constexpr int32_t kAxisOfSelf = 0;
  static constexpr int32_t kAxisOfTarget = 1;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_ANGLE_BETWEEN; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  int32_t axisOwner = kAxisOfSelf;
  int32_t axis = 0;
  float cosine = 1.0f;
  OvTargetKeys target;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<s> Angle in World": the world-axis component of a clump axis lies
// between two cosines.
class OvAngleInWorldSensorNode : public OvPerClumpSensorNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_ANGLE_IN_WORLD; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  int32_t clumpAxis = 0;
  int32_t worldAxis = 2;
  float cosFrom = 1.0f, cosTo = 1.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<s> In Camera View": the last culling pass found the clump visible. Two
// raw words.
class OvInCameraViewSensorNode : public OvSharedSensorNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_IN_CAMERA_VIEW; }
  int32_t GetCtrlId() const override { return OV_ACID_S_IN_CAMERA_VIEW; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Animate(OvClump* clump, int32_t time) override;
  bool FromValues(const OvParamValues& v);
};

// "<s> Check In/Out Area": whether a clump lies in the boundary box of node
// clumps. Region mode: in or out of one node. Trigger mode: the in change
// inside the in node, the out change inside the out node, else nothing.
class OvCheckInOutSensorNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_CHECK_IN_OUT; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  int32_t regionMode = 1;
  uint32_t inMask = 0, inValue = 0;
  uint32_t outMask = 0, outValue = 0;
  OvTargetKeys checked;
  OvTargetKeys inNode;  // the region node in region mode
  OvTargetKeys outNode;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// Whether world point p lies in the boundary box of `node` (bounds included).
bool OvInsideClumpBox(const OvVector& p, const OvClump* node);

// "<s> Check Destroyed": counts destroyed objects of one clump record (and
// node-ID range); at the last one the change, undone after the hold or kept
// for good.
class OvCheckDestroyedSensorNode : public OvPerClumpSensorNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_S_CHECK_DESTROYED; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);
  bool ChecksId() const { return maxId >= minId; }

  int32_t checkedRecord = -1;
  int32_t number = 1;
  int32_t minId = -1, maxId = -2;
  float holdSec = -1.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// The descriptor of one of the types above (named `name`), or null for any
// other pair.
OvNodeType* OvConditionNodeTypeCreate(const OvTypeId& pair, const char* name);
