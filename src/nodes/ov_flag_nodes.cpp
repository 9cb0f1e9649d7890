#include "ov_flag_nodes.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

// ---------------------------------------------------------------------------
// Controllers. Each keeps a reference to its node, which the database keeps
// alive longer than any clump.

class AcFlagTrigger final : public OvAniCtrl {
 public:
  explicit AcFlagTrigger(const OvFlagTriggerNode& node) : m_node(node) {}
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    const bool result = OvFlagTest(*clump, m_node.checkMask, m_node.checkValue);
    if (result && !m_previous) {
      OvFlagChange(*clump, m_node.setMask, m_node.setValue);
      if (m_node.options & OvFlagTriggerNode::kHold) m_pendingUndo = true;
    } else if (m_pendingUndo) {
      OvFlagChangeInverse(*clump, m_node.setMask, m_node.setValue);
      m_pendingUndo = false;
    }
    m_previous = result;
  }

 private:
  const OvFlagTriggerNode& m_node;
  bool m_previous = false;
  bool m_pendingUndo = false;
};

class AcCountFlagTrigger final : public OvAniCtrl {
 public:
  explicit AcCountFlagTrigger(const OvCountFlagTriggerNode& node) : m_node(node), m_counter(node.countDown) {}
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    const bool result = OvFlagTest(*clump, m_node.checkMask, m_node.checkValue);
    if (result && !m_previous && --m_counter <= 0) {
      // Wraps inside the mask; other bits are never touched.
      clump->SetSwitch(m_node.incMask & OV_SWITCH_FLAGS, clump->GetSwitch() + m_node.incUnit);
      m_counter = m_node.countDown;
    }
    m_previous = result;
  }

 private:
  const OvCountFlagTriggerNode& m_node;
  int64_t m_counter;
  bool m_previous = false;
};

class AcAndOrFlag final : public OvAniCtrl {
 public:
  explicit AcAndOrFlag(const OvAndOrFlagNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_AND_OR_FLAG; }
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    const uint32_t mask = m_node.checkMask & OV_SWITCH_FLAGS;
    const uint32_t seen = clump->GetSwitch() & mask;
    const uint32_t wanted = mask & m_node.checkValue;
    uint32_t result = m_node.setMask & m_node.setValue;
    const bool complement = m_node.operation == OvAndOrFlagNode::kAnd ? seen != wanted : (seen ^ wanted) == mask;
    if (complement) result = ~result;
    OvFlagChange(*clump, m_node.setMask, result);
  }

 private:
  const OvAndOrFlagNode& m_node;
};

class AcTimingFlag final : public OvAniCtrl {
 public:
  explicit AcTimingFlag(const OvTimingFlagNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_TIMING_FLAG; }
  void Animate(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    const int32_t now = scene->GetTime();
    if (m_start == OV_TIMING_IDLE) {
      // Tested only when the timer starts.
      if (!OvFlagTestAll(*clump, m_node.checkMask)) return;
      m_start = now;
      const double perSec = double(scene->TimePerSec());
      m_delay = OvSaturateI32(OvTruncToI64(double(m_node.delaySec) * perSec));
      m_end = OvSaturateI32(OvTruncToI64(double(m_node.holdSec) * perSec) + m_delay);
    }
    const int64_t d = OvTimeDelta(now, m_start);  // right across the clock wrap
    if (m_holding) {
      if (d >= 0 && d <= m_end) return;
    } else if (d >= 0) {
      if (d < m_delay) return;
      m_holding = true;
      OvFlagChange(*clump, m_node.setMask, m_node.setValue);
      return;
    }
    m_holding = false;
    m_start = OV_TIMING_IDLE;
    OvFlagChangeInverse(*clump, m_node.setMask, m_node.setValue);
  }

 private:
  const OvTimingFlagNode& m_node;
  int32_t m_start = OV_TIMING_IDLE;
  int32_t m_delay = 0;
  int32_t m_end = 0;
  bool m_holding = false;
};

class AcRandomFlag final : public OvAniCtrl {
 public:
  explicit AcRandomFlag(const OvRandomFlagNode& node)
      : m_node(node), m_bits(std::popcount(node.mask & OV_SWITCH_FLAGS)) {}
  int32_t GetCtrlId() const override { return OV_ACID_RANDOM_FLAG; }
  void Animate(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    const uint32_t mask = m_node.mask & OV_SWITCH_FLAGS;
    if (!scene || mask == 0 || m_bits == 0) return;
    const uint32_t r = uint32_t(scene->GetTime()) * 214013u + 2531011u;
    if (!m_node.onlyOne) {
      clump->SetSwitch(mask, r);
      return;
    }
    int k = int(((r >> 16) & 0x7FFF) % uint32_t(m_bits));
    uint32_t chosen = 0;
    for (uint32_t bit = 0x8000; bit; bit >>= 1) {
      if (!(mask & bit)) continue;
      if (k-- == 0) {
        chosen = bit;
        break;
      }
    }
    clump->SetSwitch(mask, chosen);
  }

 private:
  const OvRandomFlagNode& m_node;
  int m_bits;
};

class AcRefOthersFlag final : public OvAniCtrl {
 public:
  explicit AcRefOthersFlag(const OvRefOthersFlagNode& node) : m_node(node), m_ref(node.target) {}
  int32_t GetCtrlId() const override { return OV_ACID_REF_OTHERS_FLAG; }
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    OvClump* other = m_node.target.objectKey == -1 ? OvDefaultTargetClump(clump) : m_ref.Resolve(clump);
    if (other && OvFlagTest(*other, m_node.otherMask, m_node.otherValue)) {
      OvFlagChange(*clump, m_node.setMask, m_node.setValue);
    } else {
      OvFlagChangeInverse(*clump, m_node.setMask, m_node.setValue);
    }
  }

 private:
  const OvRefOthersFlagNode& m_node;
  OvTargetRef m_ref;
};

class AcRvDistance final : public OvAniCtrl {
 public:
  explicit AcRvDistance(const OvRvDistanceNode& node) : m_node(node), m_ref(node.target) {}
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    const OvVarMap& map = m_node.map;
    OvClump* target = m_ref.Resolve(clump);
    OvVector a, b;
    if (!target || !clump->GetWorldPos(a) || !target->GetWorldPos(b)) {
      clump->CpSetReactionVar(map.var, OV_REACTION_VAR_UNSET);
      return;
    }
    clump->CpSetReactionVar(map.var, map.Map(OvDistance(a, b)));
  }

 private:
  const OvRvDistanceNode& m_node;
  OvTargetRef m_ref;
};

class AcRvReactionVar final : public OvAniCtrl {
 public:
  explicit AcRvReactionVar(const OvRvReactionVarNode& node)
      : m_node(node), m_ref(node.target), m_identity(node.map.IsIdentity()), m_self(node.target.objectKey == -1) {}
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    const OvVarMap& map = m_node.map;
    OvClump* source = m_self ? clump : m_ref.Resolve(clump);
    if (!source) {
      clump->CpSetReactionVar(map.var, OV_REACTION_VAR_UNSET);
      return;
    }
    const float value = source->CpGetReactionVar(m_node.sourceVar);
    if (m_identity || !OvReactionVarDefined(value)) {
      clump->CpSetReactionVar(map.var, value);
    } else {
      clump->CpSetReactionVar(map.var, map.Map(value));
    }
  }

 private:
  const OvRvReactionVarNode& m_node;
  OvTargetRef m_ref;
  bool m_identity;
  bool m_self;
};

class AcRFrame final : public OvAniCtrl {
 public:
  explicit AcRFrame(const OvRFrameNode& node) : m_node(node), m_target(node.frameFrom) {
    const float range = node.varTo - node.varFrom;
    m_slope = range != 0.0f ? float(int64_t(node.frameTo) - node.frameFrom) / range : 0.0f;
  }
  void Animate(OvClump* clump, int32_t) override {
    if (m_first) {
      m_first = false;
      return;
    }
    OvLogObj* object = clump ? clump->GetLogObj() : nullptr;
    if (!object) return;
    // Only this node moves the object's time from now on.
    object->FreezeTime();
    const float x = clump->CpGetReactionVar(m_node.sourceVar);
    if (OvReactionVarDefined(x)) {
      m_target = OvSaturateI32(OvTruncToI64(double((x - m_node.varFrom) * m_slope)) + m_node.frameFrom);
    }
    int32_t next = m_target;
    if (m_node.options & OvRFrameNode::kSmooth) {
      const OvScene* scene = object->LoGetScene();
      const int64_t step = scene ? scene->FrameDelta() : 0;
      const int64_t current = object->GetCrntFrame();
      if (current < m_target) {
        next = OvSaturateI32(std::min<int64_t>(current + step, m_target));
      } else if (current > m_target) {
        next = OvSaturateI32(std::max<int64_t>(current - step, m_target));
      }
    }
    object->GotoFrame(next);
  }

 private:
  const OvRFrameNode& m_node;
  int32_t m_target;
  float m_slope;
  bool m_first = true;
};

// ---------------------------------------------------------------------------
// Parameter tables.

#define OV_VAR_CHOICES "\0Var 1\0Var 2\0Var 3\0Var 4\0"

const OvNodeParamDesc kFlagTriggerParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "Set Flag", OV_PK_FLAG_PAIR),
    OvParamI(2, "Hold 1 Frame", OV_PK_CHECK, 0),
};

const OvNodeParamDesc kCountFlagTriggerParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "Count Down", OV_PK_INT, 1),
    OvParamI(2, "Increment Flag", OV_PK_FLAG_PAIR),
};

const OvNodeParamDesc kAndOrFlagParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "", OV_PK_SPACER),
    OvParamI(2, "Set Flag", OV_PK_FLAG_PAIR),
    OvParamI(3, "", OV_PK_SPACER),
    OvParamI(4, "Operation:\0Or\0And\0", OV_PK_CHOICE, 0),
};

const OvNodeParamDesc kTimingFlagParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_MASK),
    OvParamF(1, "Timing(sec):", OV_PK_REAL, 1.0f),
    OvParamF(3, "Hold(sec):", OV_PK_REAL, 1.0f),
    OvParamI(2, "Set Flag", OV_PK_FLAG_PAIR),
};

const OvNodeParamDesc kRandomFlagParams[] = {
    OvParamI(0, "Set Flag", OV_PK_FLAG_MASK),
    OvParamI(1, "Only 1 Flag On", OV_PK_CHECK, 1),
};

const OvNodeParamDesc kRefOthersFlagParams[] = {
    OvParamI(0, "Ref Other's Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "", OV_PK_SPACER),
    OvParamI(2, "Set Flag", OV_PK_FLAG_PAIR),
    OvParamI(3, "", OV_PK_SPACER),
    OvParamI(4, "Ref", OV_PK_REF, -1),
    OvParamI(5, "", OV_PK_INTERNAL),
};

const OvNodeParamDesc kRvDistanceParams[] = {
    OvParamI(0, "Reaction Var:" OV_VAR_CHOICES, OV_PK_CHOICE, 0),
    OvParamF(1, "\tVar From:", OV_PK_REAL, 0.0f),
    OvParamF(2, "\tVar To:", OV_PK_REAL, 100.0f),
    OvParamI(3, "Clamp", OV_PK_CHECK, 1),
    OvParamI(4, "Target", OV_PK_REF, -1),
    OvParamF(5, "Dist From:", OV_PK_REAL, 0.0f),
    OvParamF(6, "Dist To:", OV_PK_REAL, 100.0f),
};

const OvNodeParamDesc kRvReactionVarParams[] = {
    OvParamI(0, "Reaction Var:" OV_VAR_CHOICES, OV_PK_CHOICE, 0),
    OvParamF(1, "\tVar From:", OV_PK_REAL, 0.0f),
    OvParamF(2, "\tVar To:", OV_PK_REAL, 100.0f),
    OvParamI(3, "Clamp", OV_PK_CHECK, 0),
    OvParamI(4, "Target", OV_PK_REF, -1),
    OvParamI(5, "Ref Reaction Var:" OV_VAR_CHOICES, OV_PK_CHOICE, 0),
    OvParamF(6, "\tRef Var From:", OV_PK_REAL, 0.0f),
    OvParamF(7, "\tRef Var To:", OV_PK_REAL, 100.0f),
};

const OvNodeParamDesc kRFrameParams[] = {
    OvParamI(0, "Ref Reaction Var:" OV_VAR_CHOICES, OV_PK_CHOICE, 0),
    OvParamF(1, "\tRef Var From:", OV_PK_REAL, 0.0f),
    OvParamF(2, "\tRef Var To:", OV_PK_REAL, 100.0f),
    OvParamI(3, "Frame From:", OV_PK_TIME, 0),
    OvParamI(4, "Frame To:", OV_PK_TIME, 16000),
    OvParamI(5, "Smooth Anim", OV_PK_CHECK, 0),
};

#undef OV_VAR_CHOICES

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

}  // namespace

// ---------------------------------------------------------------------------
// "<ss> Flag Trigger": "iiiiii".

bool OvFlagTriggerNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiiii", &format, &options, &checkMask, &checkValue, &setMask, &setValue);
}

bool OvFlagTriggerNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiiii", kFormat, options, checkMask, checkValue, setMask, setValue);
}

bool OvFlagTriggerNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  v.FlagPair(1, setMask, setValue);
  options = v.Check(2) ? kHold : 0;
  return true;
}

OvAniCtrl* OvFlagTriggerNode::MakeController(OvClump*) { return new AcFlagTrigger(*this); }

// ---------------------------------------------------------------------------
// "<ss> Count Flag Trigger": "iiiiii".

bool OvCountFlagTriggerNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiiii", &format, &checkMask, &checkValue, &countDown, &incMask, &incUnit);
}

bool OvCountFlagTriggerNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiiii", kFormat, checkMask, checkValue, countDown, incMask, incUnit);
}

bool OvCountFlagTriggerNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  countDown = v.Int(1);
  uint32_t ignored = 0;
  v.FlagPair(2, incMask, ignored);
  incUnit = incMask & (0u - incMask);  // lowest set bit
  return true;
}

OvAniCtrl* OvCountFlagTriggerNode::MakeController(OvClump*) { return new AcCountFlagTrigger(*this); }

// ---------------------------------------------------------------------------
// "<ss> And/Or Flag": five raw words.

bool OvAndOrFlagNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("iiiii", &checkMask, &checkValue, &setMask, &setValue, &operation);
}

bool OvAndOrFlagNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiii", checkMask, checkValue, setMask, setValue, operation);
}

bool OvAndOrFlagNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  v.FlagPair(2, setMask, setValue);
  operation = v.Int(4);
  return true;
}

OvAniCtrl* OvAndOrFlagNode::MakeController(OvClump*) { return new AcAndOrFlag(*this); }

// ---------------------------------------------------------------------------
// "<ss> Timing Flag": "iiRRii".

bool OvTimingFlagNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiRRii", &format, &checkMask, &delaySec, &holdSec, &setMask, &setValue);
}

bool OvTimingFlagNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiRRii", kFormat, checkMask, delaySec, holdSec, setMask, setValue);
}

bool OvTimingFlagNode::FromValues(const OvParamValues& v) {
  checkMask = v.FlagMask(0);
  delaySec = v.Real(1);
  holdSec = v.Real(2);
  v.FlagPair(3, setMask, setValue);
  return true;
}

OvAniCtrl* OvTimingFlagNode::MakeController(OvClump*) { return new AcTimingFlag(*this); }

// ---------------------------------------------------------------------------
// "<s> Random Flag": two raw words.

bool OvRandomFlagNode::Read(OvStream& stream, OvChunkArena&) { return stream.ReadLayout("ii", &mask, &onlyOne); }

bool OvRandomFlagNode::Write(OvStream& stream) const { return stream.WriteLayout("ii", mask, onlyOne); }

bool OvRandomFlagNode::FromValues(const OvParamValues& v) {
  mask = v.FlagMask(0);
  onlyOne = v.Check(1) ? 1 : 0;
  return true;
}

OvAniCtrl* OvRandomFlagNode::MakeController(OvClump*) { return new AcRandomFlag(*this); }

// ---------------------------------------------------------------------------
// "<s> Ref Other's Flag": six raw words.

bool OvRefOthersFlagNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("iiiiii", &otherMask, &otherValue, &setMask, &setValue, &target.objectKey, &target.clumpKey);
}

bool OvRefOthersFlagNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiiii", otherMask, otherValue, setMask, setValue, target.objectKey, target.clumpKey);
}

void OvRefOthersFlagNode::Bind(OvDatabase* database) { target.serial = OvSerialOf(database); }

bool OvRefOthersFlagNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, otherMask, otherValue);
  v.FlagPair(2, setMask, setValue);
  v.Ref(4, target.objectKey, target.clumpKey);
  return true;
}

OvAniCtrl* OvRefOthersFlagNode::MakeController(OvClump*) { return new AcRefOthersFlag(*this); }

// ---------------------------------------------------------------------------
// "<rv> Distance": "i ii" then the mapping.

bool OvRvDistanceNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("i ii", &format, &target.objectKey, &target.clumpKey) && map.Read(stream);
}

bool OvRvDistanceNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i ii", kFormat, target.objectKey, target.clumpKey) && map.Write(stream);
}

void OvRvDistanceNode::Bind(OvDatabase* database) { target.serial = OvSerialOf(database); }

bool OvRvDistanceNode::FromValues(const OvParamValues& v) {
  map.var = v.Int(0);
  map.outFrom = v.Real(1);
  map.outTo = v.Real(2);
  map.options = v.Check(3) ? int32_t(OV_VARMAP_CLAMP) : 0;
  v.Ref(4, target.objectKey, target.clumpKey);
  map.inFrom = v.Real(5);
  map.inTo = v.Real(6);
  return true;
}

OvAniCtrl* OvRvDistanceNode::MakeController(OvClump*) { return new AcRvDistance(*this); }

// ---------------------------------------------------------------------------
// "<rv> Reaction Var": "iiii" then the mapping.

bool OvRvReactionVarNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiii", &format, &target.objectKey, &target.clumpKey, &sourceVar) && map.Read(stream);
}

bool OvRvReactionVarNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiii", kFormat, target.objectKey, target.clumpKey, sourceVar) && map.Write(stream);
}

void OvRvReactionVarNode::Bind(OvDatabase* database) { target.serial = OvSerialOf(database); }

bool OvRvReactionVarNode::FromValues(const OvParamValues& v) {
  map.var = v.Int(0);
  map.outFrom = v.Real(1);
  map.outTo = v.Real(2);
  map.options = v.Check(3) ? int32_t(OV_VARMAP_CLAMP) : 0;
  v.Ref(4, target.objectKey, target.clumpKey);
  sourceVar = v.Int(5);
  map.inFrom = v.Real(6);
  map.inTo = v.Real(7);
  return true;
}

OvAniCtrl* OvRvReactionVarNode::MakeController(OvClump*) { return new AcRvReactionVar(*this); }

// ---------------------------------------------------------------------------
// "<r> Frame": "i i ii iRR".

bool OvRFrameNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("i i ii iRR", &format, &options, &frameFrom, &frameTo, &sourceVar, &varFrom, &varTo);
}

bool OvRFrameNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i i ii iRR", kFormat, options, frameFrom, frameTo, sourceVar, varFrom, varTo);
}

bool OvRFrameNode::FromValues(const OvParamValues& v) {
  sourceVar = v.Int(0);
  varFrom = v.Real(1);
  varTo = v.Real(2);
  frameFrom = v.Int(3);
  frameTo = v.Int(4);
  options = v.Check(5) ? kSmooth : 0;
  return true;
}

OvAniCtrl* OvRFrameNode::MakeController(OvClump*) { return new AcRFrame(*this); }

// ---------------------------------------------------------------------------

OvNodeType* OvFlagNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_FLAG_TRIGGER) return MakeType<OvFlagTriggerNode>(pair, name, kFlagTriggerParams);
  if (pair == OV_NODE_COUNT_FLAG_TRIGGER) {
    return MakeType<OvCountFlagTriggerNode>(pair, name, kCountFlagTriggerParams);
  }
  if (pair == OV_NODE_AND_OR_FLAG) return MakeType<OvAndOrFlagNode>(pair, name, kAndOrFlagParams);
  if (pair == OV_NODE_TIMING_FLAG) return MakeType<OvTimingFlagNode>(pair, name, kTimingFlagParams);
  if (pair == OV_NODE_RANDOM_FLAG) return MakeType<OvRandomFlagNode>(pair, name, kRandomFlagParams);
  if (pair == OV_NODE_REF_OTHERS_FLAG) return MakeType<OvRefOthersFlagNode>(pair, name, kRefOthersFlagParams);
  if (pair == OV_NODE_RV_DISTANCE) return MakeType<OvRvDistanceNode>(pair, name, kRvDistanceParams);
  if (pair == OV_NODE_RV_REACTION_VAR) return MakeType<OvRvReactionVarNode>(pair, name, kRvReactionVarParams);
  if (pair == OV_NODE_R_FRAME) return MakeType<OvRFrameNode>(pair, name, kRFrameParams);
  return nullptr;
}
