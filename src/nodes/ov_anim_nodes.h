// Node types that play keyframe animation from flags: applying animation sets
// and motions, jumping to a frame, pausing an object's clock, and showing a
// game value as an animation frame.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_flags.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

class OvDatabase;

inline constexpr OvTypeId OV_NODE_APPLY_ANIMATION{0, 6007};
inline constexpr OvTypeId OV_NODE_APPLY_MOTION{0, 5500};
inline constexpr OvTypeId OV_NODE_GOTO_FRAME{0, 6002};
inline constexpr OvTypeId OV_NODE_ANIM_PAUSE_OBJ{0, 6005};
inline constexpr OvTypeId OV_NODE_METER{0, 1375};

// Controller IDs.
inline constexpr int32_t OV_ACID_APPLY_ANIMATION = 710;
inline constexpr int32_t OV_ACID_GOTO_FRAME = 604;
inline constexpr int32_t OV_ACID_ANIM_PAUSE_OBJ = 606;
inline constexpr int32_t OV_ACID_METER = 235;

// Apply controllers: start time before the first start.
inline constexpr int32_t OV_APPLY_NEVER = 2147483647;

// Run states of the apply controllers.
inline constexpr int32_t OV_APPLY_IDLE = 0;
inline constexpr int32_t OV_APPLY_RUNNING = 1;
inline constexpr int32_t OV_APPLY_FINISHED = 2;

// "Apply Animation": while the test passes, plays an animation set (or a
// clump record's sets down the tree) and restarts it when a run is over.
class OvApplyAnimationNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  static constexpr uint32_t kIndependentTime = 0x1;
  static constexpr uint32_t kAllChildren = 0x2;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_APPLY_ANIMATION; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* db) override { database = db; }
  // `db` is the database whose arena the node lives in (null: unknown); the
  // chosen clump is looked up there.
  bool FromValues(const OvParamValues& v, OvDatabase* db = nullptr);

  uint32_t checkMask = 0, checkValue = 0;
  uint32_t applyMaskFirst = 0;  // the stored block repeats the mask; this copy is only written back
  uint32_t applyMask = 0;
  uint32_t options = kIndependentTime | kAllChildren;
  int32_t sourceIndex = -1;  // animation set, or clump record with kAllChildren
  int32_t from = 0, to = 16000;
  OvDatabase* database = nullptr;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "Apply Motion": like "Apply Animation" from a clump record, blending in
// from the current pose, with a flag change while in motion.
class OvApplyMotionNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  static constexpr uint32_t kIndependentTime = 0x1;
  static constexpr uint32_t kAllChildren = 0x2;
  static constexpr uint32_t kKeepOrientation = 0x4;
  static constexpr uint32_t kCanReapply = 0x8;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_APPLY_MOTION; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* db) override { database = db; }
  bool FromValues(const OvParamValues& v, OvDatabase* db = nullptr);

  uint32_t checkMask = 0, checkValue = 0;
  uint32_t motionMask = 0, motionValue = 0;
  uint32_t options = kIndependentTime | kAllChildren | kKeepOrientation;
  int32_t recordIndex = -1;
  int32_t from = 0, to = 16000;
  int32_t blend = 0, selfBlend = 0;
  OvDatabase* database = nullptr;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "Go to Frame": sets the logical object's local time while the test passes.
// One controller serves every clump.
class OvGotoFrameNode : public OvSharedCtrlNode {
 public:
  static constexpr int32_t kFormat = 100;
  static constexpr uint32_t kCheckValidTime = 0x1;
  static constexpr int32_t kFromValidStart = 0;  // amount + (t - valid start)
  static constexpr int32_t kAbsolute = 1;        // amount
  static constexpr int32_t kRelative = 2;        // current + amount
  static constexpr int32_t kCorrected = 3;       // current + frames of the last step x amount

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_GOTO_FRAME; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  int32_t GetCtrlId() const override { return OV_ACID_GOTO_FRAME; }
  void Animate(OvClump* clump, int32_t time) override;

  uint32_t checkMask = 0, checkValue = 0;
  uint32_t options = kCheckValidTime;
  int32_t validStart = 0, validEnd = 0;
  int32_t mode = kAbsolute;
  int32_t amount = 0;
};

// "Anim/Pause Obj": the object's clock runs while the test passes and stops
// otherwise. Two raw words; one controller serves every clump.
class OvAnimPauseObjNode : public OvSharedCtrlNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_ANIM_PAUSE_OBJ; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  int32_t GetCtrlId() const override { return OV_ACID_ANIM_PAUSE_OBJ; }
  void Animate(OvClump* clump, int32_t time) override;

  uint32_t checkMask = 0, checkValue = 0;
};

// Stored measure codes of "Meter".
inline constexpr int32_t OV_METER_NONE = 0;
inline constexpr int32_t OV_METER_HEALTH = 1;
inline constexpr int32_t OV_METER_FULL_HEALTH = 2;
inline constexpr int32_t OV_METER_DPOWER = 3;
inline constexpr int32_t OV_METER_TIME_SEC = 4;
inline constexpr int32_t OV_METER_SCORE = 6;
inline constexpr int32_t OV_METER_HISCORE = 7;

// Where "Meter" reads the application's score (false) and high score
// (true); null (the default) reads 0.
using OvMeterScoreFn = int32_t (*)(bool high);
void OvSetMeterScoreSource(OvMeterScoreFn fn);

// "Meter": a game value shown as the logical object's local time.
class OvMeterNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  static constexpr uint32_t kSmooth = 0x1;
  static constexpr uint32_t kDestroyWithTarget = 0x2;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_METER; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  uint32_t options = kDestroyWithTarget;
  OvTargetKeys target;
  int32_t frameBegin = 0, frameEnd = 16000;
  int32_t code = OV_METER_HEALTH;
  float valueBegin = 0.0f, valueEnd = 100.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// The descriptor of one of the types above (named `name`), or null for any
// other pair.
OvNodeType* OvAnimNodeTypeCreate(const OvTypeId& pair, const char* name);
