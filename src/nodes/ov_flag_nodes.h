// Node types that turn flags into flags (edge triggers, counters, logic,
// timers, random choice, another clump's flags) and that feed and read the
// reaction variables. All are per-clump nodes whose controllers drive no
// transform channel.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_flags.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_NODE_FLAG_TRIGGER{0, 6900};
inline constexpr OvTypeId OV_NODE_COUNT_FLAG_TRIGGER{0, 6910};
inline constexpr OvTypeId OV_NODE_AND_OR_FLAG{0, 6060};
inline constexpr OvTypeId OV_NODE_TIMING_FLAG{0, 6110};
inline constexpr OvTypeId OV_NODE_RANDOM_FLAG{0, 6050};
inline constexpr OvTypeId OV_NODE_REF_OTHERS_FLAG{0, 6090};
inline constexpr OvTypeId OV_NODE_RV_DISTANCE{0, 14000};
inline constexpr OvTypeId OV_NODE_RV_REACTION_VAR{0, 14100};
inline constexpr OvTypeId OV_NODE_R_FRAME{0, 15000};

// Controller IDs.
inline constexpr int32_t OV_ACID_RANDOM_FLAG = 622;
inline constexpr int32_t OV_ACID_AND_OR_FLAG = 624;
inline constexpr int32_t OV_ACID_REF_OTHERS_FLAG = 628;
inline constexpr int32_t OV_ACID_TIMING_FLAG = 650;

// Timing flag: "not running".
inline constexpr int32_t OV_TIMING_IDLE = 2147483647;

// Base of the family: a format number is written as 100 and read into
// scratch by the types whose block has one.
class OvFlagNodeBase : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
};

// "<ss> Flag Trigger": on a rising edge of the test, the change; with the
// hold option the inverse change one frame later.
class OvFlagTriggerNode : public OvFlagNodeBase {
 public:
  static constexpr uint32_t kHold = 0x1;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_FLAG_TRIGGER; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t options = 0;
  uint32_t checkMask = 0, checkValue = 0;
  uint32_t setMask = 0, setValue = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<ss> Count Flag Trigger": every count-down-th rising edge adds the unit
// (the mask's lowest bit) to the bits under the increment mask.
class OvCountFlagTriggerNode : public OvFlagNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_COUNT_FLAG_TRIGGER; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t checkMask = 0, checkValue = 0;
  int32_t countDown = 1;
  uint32_t incMask = 0, incUnit = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<ss> And/Or Flag": every frame, the set value or its complement by the
// outcome of the test. Five raw words, no format number.
class OvAndOrFlagNode : public OvFlagNodeBase {
 public:
  static constexpr int32_t kOr = 0;
  static constexpr int32_t kAnd = 1;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_AND_OR_FLAG; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t checkMask = 0, checkValue = 0;
  uint32_t setMask = 0, setValue = 0;
  int32_t operation = kOr;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<ss> Timing Flag": once all check bits are on, the change after the delay
// and the inverse change after the hold.
class OvTimingFlagNode : public OvFlagNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_TIMING_FLAG; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t checkMask = 0;
  float delaySec = 1.0f, holdSec = 1.0f;
  uint32_t setMask = 0, setValue = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<s> Random Flag": the mask's bits from a generator seeded by the scene
// time, or exactly one of them. Two raw words.
class OvRandomFlagNode : public OvFlagNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_RANDOM_FLAG; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t mask = 0;
  int32_t onlyOne = 1;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<s> Ref Other's Flag": the change while another clump's flags pass the
// test, the inverse change otherwise. Six raw words.
class OvRefOthersFlagNode : public OvFlagNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_REF_OTHERS_FLAG; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  uint32_t otherMask = 0, otherValue = 0;
  uint32_t setMask = 0, setValue = 0;
  OvTargetKeys target;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<rv> Distance": the mapped distance to the target clump.
class OvRvDistanceNode : public OvFlagNodeBase {
 public:
  OvRvDistanceNode() { map.options = int32_t(OV_VARMAP_CLAMP); }
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_RV_DISTANCE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  OvTargetKeys target;
  OvVarMap map;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<rv> Reaction Var": a reaction variable of this or the target clump,
// mapped into one of this clump's.
class OvRvReactionVarNode : public OvFlagNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_RV_REACTION_VAR; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  OvTargetKeys target;
  int32_t sourceVar = 0;
  OvVarMap map;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// "<r> Frame": a reaction variable drives the logical object's local time.
class OvRFrameNode : public OvFlagNodeBase {
 public:
  static constexpr uint32_t kSmooth = 0x1;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_R_FRAME; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t options = 0;
  int32_t frameFrom = 0, frameTo = 16000;
  int32_t sourceVar = 0;
  float varFrom = 0.0f, varTo = 100.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// The descriptor of one of the types above (named `name`), or null for any
// other pair.
OvNodeType* OvFlagNodeTypeCreate(const OvTypeId& pair, const char* name);
