#include "ov_anim_nodes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>

#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

OvMeterScoreFn g_scoreSource = nullptr;

// "now" of the apply controllers: the scene clock or the object's time.
int32_t ApplyNow(const OvClump* clump, int32_t t, bool independent) {
  const OvScene* scene = independent && clump ? clump->GetScene() : nullptr;
  return scene ? scene->GetTime() : t;
}

// A run of (to - from) units is over once more than that has passed.
bool RunOver(int32_t from, int32_t to, int32_t start, int32_t now) {
  return int64_t(to) - from < OvTimeDelta(now, start);
}

// ---------------------------------------------------------------------------
// Authoring side of the two apply types.

OvDatabase* DatabaseOfArena(OvChunkArena* arena) {
  if (!arena) return nullptr;
  for (OvDatabase* db = OvDatabase::First(); db; db = db->Next()) {
    if (&db->Arena() == arena) return db;
  }
  return nullptr;
}

// The record whose child chain holds `index`, or -1. Chains are content:
// each walk is bounded by the record count.
int32_t FindParentRecord(const OvDatabase& db, int32_t index) {
  const uint32_t n = db.ClumpRecordCount();
  for (uint32_t p = 0; p < n; ++p) {
    const OvClumpRecord* r = db.ClumpRecord(int32_t(p));
    int32_t at = r ? r->firstChild : -1;
    for (uint32_t steps = 0; at >= 0 && steps < n; ++steps) {
      if (at == index) return int32_t(p);
      const OvClumpRecord* c = db.ClumpRecord(at);
      at = c ? c->nextBrother : -1;
    }
  }
  return -1;
}

bool NearOne(float f) {
  const uint32_t bits = std::bit_cast<uint32_t>(f);
  return bits >= 0x3F7FFFE1u && bits <= 0x3F8000E0u;
}

// The name of the clump that owns the node: a tool passes it in the first
// internal item as a text (words 0 and 1, low half first). Without one the
// database is the best an author gets.
const char* OwnerName(const OvParamValues& v, const OvDatabase* db) {
  const uintptr_t address = uintptr_t(v.Word(0, 0)) | (uintptr_t(v.Word(0, 1)) << 32);
  if (address) return reinterpret_cast<const char*>(address);
  return db && db->Name() ? db->Name() : "";
}

// Checks the chosen clump record and says what an author should know about
// it. -1 (with the message naming the node's owner) when there is none.
int32_t ChooseRecord(const OvDatabase* db, const char* owner, int32_t index, int32_t from, int32_t to) {
  if (!db || !db->ClumpRecord(index)) {
    _TraceFormat("!!!! %s: 'Apply animation' apply nothing.\n", owner);
    return -1;
  }
  const OvClumpRecord* record = db->ClumpRecord(index);
  const char* name = record->name ? record->name : "";
  const OvDbHeader& h = db->Header();
  const double perSec = double(h.frameRate) * double(h.timeUnitsPerFrame);
  if (perSec != 0.0) {
    const double seconds = (double(to) - double(from)) / perSec;
    if (seconds >= 0.0 && seconds < 0.1) {
      _TraceFormat(
          "### Apply animation to '%s': The time between 'from' -> "
          "'to' is only %f seconds, are you sure ?\n",
          name, seconds);
    }
  }
  const int32_t parent = FindParentRecord(*db, index);
  if (const OvClumpRecord* p = db->ClumpRecord(parent)) {
    if (!NearOne(p->scale[0]) || !NearOne(p->scale[1]) || !NearOne(p->scale[2])) {
      _TraceFormat(
          "### Apply animation: Parent of '%s' has been scaled "
          "(%f,%f,%f), the position and the scale of the applyed "
          "animation will be scaled inversely.\n",
          name, double(p->scale[0]), double(p->scale[1]), double(p->scale[2]));
    }
  }
  return index;
}

// ---------------------------------------------------------------------------
// Controllers. Each keeps a reference to its node, which the database keeps
// alive longer than any clump.

class AcApplyAnimation final : public OvAniCtrl {
 public:
  explicit AcApplyAnimation(const OvApplyAnimationNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_APPLY_ANIMATION; }

  void Animate(OvClump* clump, int32_t t) override {
    if (!clump) return;
    const OvApplyAnimationNode& n = m_node;
    const int32_t now = ApplyNow(clump, t, (n.options & OvApplyAnimationNode::kIndependentTime) != 0);
    if (m_state == OV_APPLY_RUNNING) {
      if (RunOver(n.from, n.to, m_start, now)) {
        m_state = OV_APPLY_FINISHED;
        if (n.applyMask & OV_SWITCH_FLAGS) clump->SetSwitch(n.applyMask, 0);
      }
      if (m_state == OV_APPLY_RUNNING) return;
    }
    if ((n.checkMask & OV_SWITCH_FLAGS) && !OvFlagTest(*clump, n.checkMask, n.checkValue)) return;
    m_state = OV_APPLY_RUNNING;
    m_start = now;
    if (n.applyMask & OV_SWITCH_FLAGS) clump->SetSwitch(n.applyMask, n.applyMask);
    OvAniCtrlRegisterHrchy(clump, this, t);
  }

  void Hierarchy(OvClump* clump, int32_t) override {
    const OvApplyAnimationNode& n = m_node;
    if (!clump || !n.database || n.sourceIndex < 0) return;
    OvApplyOptions o;
    o.time = m_start;
    o.offset = n.from;
    o.end = n.to;
    o.sceneClock = (n.options & OvApplyAnimationNode::kIndependentTime) != 0;
    o.descend = (n.options & OvApplyAnimationNode::kAllChildren) != 0;
    if (o.descend) {
      OvApplyAnimationByRecord(clump, n.database, n.sourceIndex, o);
    } else {
      OvApplyAnimation(clump, n.database->AniSet(n.sourceIndex), o);
    }
    // An end that never comes: one application is all there is to do.
    if (n.to < n.from) clump->DelAniCtrl(this);
  }

  int32_t State() const { return m_state; }

 private:
  const OvApplyAnimationNode& m_node;
  int32_t m_state = OV_APPLY_IDLE;
  int32_t m_start = OV_APPLY_NEVER;
};

class AcApplyMotion final : public OvAniCtrl {
 public:
  explicit AcApplyMotion(const OvApplyMotionNode& node) : m_node(node) {}

  void Animate(OvClump* clump, int32_t t) override {
    if (!clump) return;
    const OvApplyMotionNode& n = m_node;
    const int32_t now = ApplyNow(clump, t, (n.options & OvApplyMotionNode::kIndependentTime) != 0);
    const bool pass = OvFlagTest(*clump, n.checkMask, n.checkValue);
    if (m_state == OV_APPLY_RUNNING) {
      if (RunOver(n.from, n.to, m_start, now)) {
        m_state = OV_APPLY_FINISHED;
        if (n.motionMask & OV_SWITCH_FLAGS) clump->SetSwitch(n.motionMask, 0);
      }
      if (!m_reapply && (n.options & OvApplyMotionNode::kCanReapply) && !pass) m_reapply = true;
    }
    if (m_state == OV_APPLY_RUNNING && !m_reapply) return;
    // A flag change may have made the test pass or fail; test again.
    if (OvFlagTest(*clump, n.checkMask, n.checkValue)) {
      m_start = now;
      if (n.motionMask & OV_SWITCH_FLAGS) OvFlagChange(*clump, n.motionMask, n.motionValue);
      OvAniCtrlRegisterHrchy(clump, this, t);
    } else if (m_state != OV_APPLY_RUNNING) {
      m_state = OV_APPLY_IDLE;
    }
  }

  void Hierarchy(OvClump* clump, int32_t) override {
    const OvApplyMotionNode& n = m_node;
    if (!clump || !n.database || n.recordIndex < 0) return;
    OvApplyOptions o;
    o.time = m_start;
    o.offset = n.from;
    o.end = n.to;
    o.blendLength = m_state == OV_APPLY_FINISHED ? n.selfBlend : n.blend;
    o.sceneClock = (n.options & OvApplyMotionNode::kIndependentTime) != 0;
    o.descend = (n.options & OvApplyMotionNode::kAllChildren) != 0;
    m_state = OV_APPLY_RUNNING;
    m_reapply = false;
    OvApplyAnimationByRecord(clump, n.database, n.recordIndex, o);
    if ((n.options & OvApplyMotionNode::kKeepOrientation) && !clump->GetVPMatrix()) {
      // The motion's rotation then turns the clump inside the frame it had.
      OvMatrix identity;
      OvMatrixIdentity(identity);
      clump->SetVPMatrix(&identity);
    }
    if (n.to < n.from) clump->DelAniCtrl(this);
  }

 private:
  const OvApplyMotionNode& m_node;
  int32_t m_state = OV_APPLY_IDLE;
  int32_t m_start = OV_APPLY_NEVER;
  bool m_reapply = false;
};

class AcMeter final : public OvAniCtrl {
 public:
  explicit AcMeter(const OvMeterNode& node) : m_node(node), m_ref(node.target), m_target(node.frameBegin) {
    // Equal value ends have no finite slope: the frame stays at its beginning.
    const float range = node.valueEnd - node.valueBegin;
    m_slope = range != 0.0f ? float(double(int64_t(node.frameEnd) - node.frameBegin) / double(range)) : 0.0f;
  }
  int32_t GetCtrlId() const override { return OV_ACID_METER; }

  void Animate(OvClump* clump, int32_t) override {
    if (!clump || m_deleted) return;
    const OvMeterNode& n = m_node;
    OvLogObj* object = clump->GetLogObj();
    const bool needsTarget = n.code < OV_METER_SCORE;
    OvClump* target = nullptr;
    if (needsTarget) {
      target = m_ref.Resolve(clump);
      if (!target && m_ref.IsVoid() && (n.options & OvMeterNode::kDestroyWithTarget)) {
        OvScene* scene = object ? object->LoGetScene() : nullptr;
        if (scene) {
          m_deleted = true;
          scene->DelLogObj(object);
        }
        return;
      }
    }
    if (m_first) {
      m_first = false;
      return;
    }
    if (needsTarget && !target && m_reached) return;
    if (!object) return;
    object->FreezeTime();
    if (target || !needsTarget) {
      const float value = Measure(target);
      m_target = OvSaturateI32(OvTruncToI64(double((value - n.valueBegin) * m_slope)) + n.frameBegin);
    }
    int32_t next = m_target;
    if (n.options & OvMeterNode::kSmooth) {
      const OvScene* scene = object->LoGetScene();
      const int64_t step = scene ? scene->FrameDelta() : 0;
      const int64_t current = object->GetCrntFrame();
      if (current < m_target) {
        next = OvSaturateI32(std::min<int64_t>(current + step, m_target));
      } else if (current > m_target) {
        next = OvSaturateI32(std::max<int64_t>(current - step, m_target));
      }
    }
    m_reached = next == m_target;
    object->GotoFrame(next);
  }

 private:
  float Measure(const OvClump* target) const {
    const OvLogObj* o = target ? target->GetLogObj() : nullptr;
    switch (m_node.code) {
      case OV_METER_HEALTH: return o ? float(o->GetHealth()) : m_node.valueBegin;
      case OV_METER_FULL_HEALTH: return o ? float(o->GetFullHealth()) : m_node.valueBegin;
      case OV_METER_DPOWER: return o ? float(o->GetDPower()) : m_node.valueBegin;
      case OV_METER_TIME_SEC: return o ? o->GetCrntFrame_Sec() : m_node.valueBegin;
      case OV_METER_SCORE:
      case OV_METER_HISCORE: return g_scoreSource ? float(g_scoreSource(m_node.code == OV_METER_HISCORE)) : 0.0f;
      default: return m_node.valueBegin;
    }
  }

  const OvMeterNode& m_node;
  OvTargetRef m_ref;
  int32_t m_target;
  float m_slope;
  bool m_reached = false;
  bool m_first = true;
  bool m_deleted = false;
};

// ---------------------------------------------------------------------------
// Parameter tables.

const OvNodeParamDesc kApplyAnimationParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "", OV_PK_INTERNAL),
    OvParamI(2, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(3, "Which Clump's Animation", OV_PK_REF, -1),
    OvParamI(4, "From:", OV_PK_TIME, 0),
    OvParamI(5, "To:", OV_PK_TIME, 16000),
    OvParamI(6, "Set Flag While Applying", OV_PK_FLAG_MASK),
    OvParamI(7, "Independent Time", OV_PK_CHECK, 1),
    OvParamI(8, "All Children", OV_PK_CHECK, 1),
};

const OvNodeParamDesc kApplyMotionParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "", OV_PK_INTERNAL),
    OvParamI(2, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(3, "Which Clump's Motion", OV_PK_REF, -1),
    OvParamI(4, "From:", OV_PK_TIME, 0),
    OvParamI(5, "To:", OV_PK_TIME, 16000),
    OvParamI(6, "Motion Blending:", OV_PK_TIME),
    OvParamI(7, "Self MoBlending:", OV_PK_TIME),
    OvParamI(8, "Set Flag (in Motion)", OV_PK_FLAG_PAIR),
    OvParamI(9, "Keep Orientation", OV_PK_CHECK, 1),
    OvParamI(10, "Independent Time", OV_PK_CHECK, 1),
    OvParamI(11, "All Children", OV_PK_CHECK, 1),
    OvParamI(12, "When Flag Off", OV_PK_CAPTION),
    OvParamI(13, "\tCan Reapply", OV_PK_CHECK, 0),
};

const OvNodeParamDesc kGotoFrameParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "", OV_PK_SPACER),
    OvParamI(2, "Check Valid Time", OV_PK_CHECK, 1),
    OvParamI(3, "Valid Start:", OV_PK_TIME),
    OvParamI(4, "Valid End:", OV_PK_TIME),
    OvParamI(5, "Absolute Go to", OV_PK_CHECK, 1),
    OvParamI(6, "Go to:", OV_PK_TIME),
    OvParamI(7, "Relative Go to", OV_PK_CHECK, 0),
    OvParamI(8, "\tTime Correction", OV_PK_CHECK, 0),
    OvParamI(9, "Add:", OV_PK_TIME, 5),
    OvParamF(10, "Multiple:", OV_PK_REAL, 1.0f),
};

const OvNodeParamDesc kAnimPauseObjParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "", OV_PK_INTERNAL),
    OvParamI(2, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(3, "", OV_PK_SPACER),
};

const OvNodeParamDesc kMeterParams[] = {
    OvParamI(0, "Target", OV_PK_REF, -1),
    OvParamI(1, "Frame Begin:", OV_PK_TIME, 0),
    OvParamI(2, "Frame End:", OV_PK_TIME, 16000),
    OvParamI(3,
             "Meter By:\0Health\0Full "
             "Health\0D-Power\0Frame(sec)\0--\0Score\0HiScore\0",
             OV_PK_CHOICE, 0),
    OvParamF(4, "Value Begin:", OV_PK_REAL, 0.0f),
    OvParamF(5, "Value End:", OV_PK_REAL, 100.0f),
    OvParamI(6, "Smooth Anim", OV_PK_CHECK, 0),
    OvParamI(7, "Destroy with Target", OV_PK_CHECK, 1),
};

// "Meter By:" choices to stored measure codes.
constexpr int32_t kMeterCodes[] = {OV_METER_HEALTH, OV_METER_FULL_HEALTH, OV_METER_DPOWER, OV_METER_TIME_SEC,
                                   OV_METER_NONE,   OV_METER_SCORE,       OV_METER_HISCORE};

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

// The apply types look the chosen clump up in the database that owns the
// arena they are built in.
template <class Node>
class ApplyNodeType final : public OvNodeTypeOf<Node> {
 public:
  using OvNodeTypeOf<Node>::OvNodeTypeOf;
  OvDbNode* CreateFromValues(OvChunkArena& arena, const OvParamValue* values, int count) const override {
    int needed = 0;
    this->GetParamTable(needed);
    if (!needed || !values || count < needed) return nullptr;
    Node* node = OvArenaNew<Node>(arena);
    if (!node) return nullptr;
    if (!node->FromValues(OvParamValues(values, count, &arena), DatabaseOfArena(&arena))) {
      node->~Node();
      return nullptr;
    }
    return node;
  }
};

template <class Node, size_t N>
OvNodeType* MakeApplyType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new ApplyNodeType<Node>(pair, name, params, int(N));
}

}  // namespace

void OvSetMeterScoreSource(OvMeterScoreFn fn) { g_scoreSource = fn; }

// ---------------------------------------------------------------------------
// "Apply Animation": "i iiiiiitt".

bool OvApplyAnimationNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("i iiiiiitt", &format, &checkMask, &checkValue, &applyMaskFirst, &applyMask, &options,
                           &sourceIndex, &from, &to);
}

bool OvApplyAnimationNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i iiiiiitt", kFormat, checkMask, checkValue, applyMaskFirst, applyMask, options,
                            sourceIndex, from, to);
}

bool OvApplyAnimationNode::FromValues(const OvParamValues& v, OvDatabase* db) {
  v.FlagPair(2, checkMask, checkValue);
  from = v.Int(4);
  to = v.Int(5);
  applyMask = applyMaskFirst = v.FlagMask(6);
  options = (v.Check(7) ? kIndependentTime : 0) | (v.Check(8) ? kAllChildren : 0);
  const int32_t record = ChooseRecord(db, OwnerName(v, db), v.RefRecord(3), from, to);
  if (record < 0) return false;
  // Without "All Children" the index names the set itself, so the chosen
  // record's set is stored and both readings play the same animation.
  sourceIndex = (options & kAllChildren) ? record : db->ClumpRecord(record)->aniSetIndex;
  database = db;
  return true;
}

OvAniCtrl* OvApplyAnimationNode::MakeController(OvClump*) { return new AcApplyAnimation(*this); }

// ---------------------------------------------------------------------------
// "Apply Motion": "i iiiiiitttt".

bool OvApplyMotionNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("i iiiiiitttt", &format, &checkMask, &checkValue, &motionMask, &motionValue, &options,
                           &recordIndex, &from, &to, &blend, &selfBlend);
}

bool OvApplyMotionNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i iiiiiitttt", kFormat, checkMask, checkValue, motionMask, motionValue, options,
                            recordIndex, from, to, blend, selfBlend);
}

bool OvApplyMotionNode::FromValues(const OvParamValues& v, OvDatabase* db) {
  v.FlagPair(2, checkMask, checkValue);
  from = v.Int(4);
  to = v.Int(5);
  blend = v.Int(6);
  selfBlend = v.Int(7);
  v.FlagPair(8, motionMask, motionValue);
  options = (v.Check(9) ? kKeepOrientation : 0) | (v.Check(10) ? kIndependentTime : 0) |
            (v.Check(11) ? kAllChildren : 0) | (v.Check(13) ? kCanReapply : 0);
  recordIndex = ChooseRecord(db, OwnerName(v, db), v.RefRecord(3), from, to);
  if (recordIndex < 0) return false;
  database = db;
  return true;
}

OvAniCtrl* OvApplyMotionNode::MakeController(OvClump*) { return new AcApplyMotion(*this); }

// ---------------------------------------------------------------------------
// "Go to Frame": "iiiittit".

bool OvGotoFrameNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiittit", &format, &checkMask, &checkValue, &options, &validStart, &validEnd, &mode,
                           &amount);
}

bool OvGotoFrameNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiittit", kFormat, checkMask, checkValue, options, validStart, validEnd, mode, amount);
}

bool OvGotoFrameNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  options = v.Check(2) ? kCheckValidTime : 0;
  validStart = v.Int(3);
  validEnd = v.Int(4);
  amount = v.Int(6);
  if (v.Check(5)) {
    mode = kAbsolute;
  } else if (v.Check(7)) {
    mode = v.Check(8) ? kCorrected : kRelative;
    amount = OvSaturateI32(OvTruncToI64(double(v.Int(9)) * double(v.Real(10))));
  } else {
    mode = kFromValidStart;
  }
  return true;
}

void OvGotoFrameNode::Animate(OvClump* clump, int32_t t) {
  if (!clump) return;
  if (options & kCheckValidTime) {
    if (t < validStart || (validEnd >= validStart && t > validEnd)) return;
  }
  if (!OvFlagTest(*clump, checkMask, checkValue)) return;
  OvLogObj* object = clump->GetLogObj();
  if (!object) return;
  const int64_t current = object->GetCrntFrame();
  int64_t next = amount;
  switch (mode) {
    case kFromValidStart: next = int64_t(amount) + (int64_t(t) - validStart); break;
    case kRelative: next = current + amount; break;
    case kCorrected: {
      const OvScene* scene = object->LoGetScene();
      const double frames = scene ? double(scene->FramesPerUnit()) * double(scene->FrameDelta()) : 0.0;
      next = current + OvTruncToI64(frames * double(amount));
      break;
    }
    default: break;
  }
  object->GotoFrame(OvSaturateI32(next));
}

// ---------------------------------------------------------------------------
// "Anim/Pause Obj": two raw words.

bool OvAnimPauseObjNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("ii", &checkMask, &checkValue);
}

bool OvAnimPauseObjNode::Write(OvStream& stream) const { return stream.WriteLayout("ii", checkMask, checkValue); }

bool OvAnimPauseObjNode::FromValues(const OvParamValues& v) {
  v.FlagPair(2, checkMask, checkValue);
  return true;
}

void OvAnimPauseObjNode::Animate(OvClump* clump, int32_t) {
  OvLogObj* object = clump ? clump->GetLogObj() : nullptr;
  if (!object) return;
  const bool pass = OvFlagTest(*clump, checkMask, checkValue);
  if (pass && object->IsTimeFreeze()) {
    object->UnfreezeTime();
  } else if (!pass && !object->IsTimeFreeze()) {
    object->FreezeTime();
  }
}

// ---------------------------------------------------------------------------
// "Meter": "i i iiii iRR".

bool OvMeterNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("i i iiii iRR", &format, &options, &target.objectKey, &target.clumpKey, &frameBegin,
                           &frameEnd, &code, &valueBegin, &valueEnd);
}

bool OvMeterNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i i iiii iRR", kFormat, options, target.objectKey, target.clumpKey, frameBegin, frameEnd,
                            code, valueBegin, valueEnd);
}

void OvMeterNode::Bind(OvDatabase* database) { target.serial = database ? database->Serial() : -1; }

bool OvMeterNode::FromValues(const OvParamValues& v) {
  v.Ref(0, target.objectKey, target.clumpKey);
  frameBegin = v.Int(1);
  frameEnd = v.Int(2);
  const int32_t choice = v.Int(3);
  code = choice >= 0 && choice < int32_t(std::size(kMeterCodes)) ? kMeterCodes[choice] : OV_METER_NONE;
  valueBegin = v.Real(4);
  valueEnd = v.Real(5);
  options = (v.Check(6) ? kSmooth : 0) | (v.Check(7) ? kDestroyWithTarget : 0);
  return true;
}

OvAniCtrl* OvMeterNode::MakeController(OvClump*) { return new AcMeter(*this); }

// ---------------------------------------------------------------------------

OvNodeType* OvAnimNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_APPLY_ANIMATION) {
    return MakeApplyType<OvApplyAnimationNode>(pair, name, kApplyAnimationParams);
  }
  if (pair == OV_NODE_APPLY_MOTION) return MakeApplyType<OvApplyMotionNode>(pair, name, kApplyMotionParams);
  if (pair == OV_NODE_GOTO_FRAME) return MakeType<OvGotoFrameNode>(pair, name, kGotoFrameParams);
  if (pair == OV_NODE_ANIM_PAUSE_OBJ) return MakeType<OvAnimPauseObjNode>(pair, name, kAnimPauseObjParams);
  if (pair == OV_NODE_METER) return MakeType<OvMeterNode>(pair, name, kMeterParams);
  return nullptr;
}
