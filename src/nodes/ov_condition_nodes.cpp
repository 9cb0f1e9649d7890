#include "ov_condition_nodes.h"

#include <cmath>

#include "ov_database.h"
#include "ov_input.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

// Codes may come from content as any integer.
int32_t Mod(int32_t v, int32_t n) {
  const int32_t r = v % n;
  return r < 0 ? r + n : r;
}

float CosDegrees(float degrees) { return std::cos(degrees * OV_PARAM_DEG_TO_RAD); }

// The clump a "Target"/"Checked" reference stands for: the default target for
// key -1, else the resolved reference. `unresolved` tells a set reference
// that found nothing from a missing default target.
OvClump* FindTarget(OvClump* asker, const OvTargetKeys& keys, OvTargetRef& ref, bool& unresolved) {
  unresolved = false;
  if (keys.objectKey == -1) return OvDefaultTargetClump(asker);
  OvClump* found = ref.Resolve(asker);
  unresolved = found == nullptr;
  return found;
}

// ---------------------------------------------------------------------------
// Per-clump controllers. Each keeps a reference to its node, which the
// database keeps alive longer than any clump.

class AcTimeRange final : public OvAniCtrl {
 public:
  explicit AcTimeRange(const OvTimeRangeSensorNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_S_TIME_RANGE; }
  void Animate(OvClump* clump, int32_t time) override {
    if (!clump) return;
    const bool fails = time < m_node.from || (m_node.to >= m_node.from && time > m_node.to);
    m_node.Apply(*clump, !fails);
  }

 private:
  const OvTimeRangeSensorNode& m_node;
};

class AcDistance final : public OvAniCtrl {
 public:
  explicit AcDistance(const OvDistanceSensorNode& node) : m_node(node), m_ref(node.target) {}
  int32_t GetCtrlId() const override { return OV_ACID_S_DISTANCE; }
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    bool unresolved = false;
    OvClump* target = FindTarget(clump, m_node.target, m_ref, unresolved);
    if (!target) {
      if (unresolved) m_node.Apply(*clump, false);
      return;
    }
    OvVector a, b;
    if (!clump->GetWorldPos(a) || !target->GetWorldPos(b)) return;
    const float d2 = OvSquareDistance(a, b);
    const float lo = m_node.minDistance, hi = m_node.maxDistance;
    m_node.Apply(*clump, !(d2 < lo * lo || d2 >= hi * hi));
  }

 private:
  const OvDistanceSensorNode& m_node;
  OvTargetRef m_ref;
};

class AcAngleBetween final : public OvAniCtrl {
 public:
  explicit AcAngleBetween(const OvAngleBetweenSensorNode& node) : m_node(node), m_ref(node.target) {}
  int32_t GetCtrlId() const override { return OV_ACID_S_ANGLE_BETWEEN; }
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    bool unresolved = false;
    OvClump* target = FindTarget(clump, m_node.target, m_ref, unresolved);
    if (!target) {
      if (unresolved) m_node.Apply(*clump, false);
      return;
    }
    const OvMatrix* own = clump->GetToWorldMatrix();
    const OvMatrix* other = target->GetToWorldMatrix();
    if (!own || !other) return;
    const bool ofTarget = m_node.axisOwner == OvAngleBetweenSensorNode::kAxisOfTarget;
    const OvMatrix& from = ofTarget ? *other : *own;
    const OvMatrix& to = ofTarget ? *own : *other;
    OvVector direction{to.m[3][0] - from.m[3][0], to.m[3][1] - from.m[3][1], to.m[3][2] - from.m[3][2]};
    OvNormalize(direction);
    const OvVector axis = OvClumpAxis(from, m_node.axis);
    m_node.Apply(*clump, m_node.cosine <= OvVectorDotProd(direction, axis));
  }

 private:
  const OvAngleBetweenSensorNode& m_node;
  OvTargetRef m_ref;
};

class AcAngleInWorld final : public OvAniCtrl {
 public:
  explicit AcAngleInWorld(const OvAngleInWorldSensorNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_S_ANGLE_IN_WORLD; }
  void Animate(OvClump* clump, int32_t) override {
    const OvMatrix* world = clump ? clump->GetToWorldMatrix() : nullptr;
    if (!world) return;
    const OvVector v = OvClumpAxis(*world, m_node.clumpAxis);
    const int32_t w = Mod(m_node.worldAxis, 3);
    const float c = w == 0 ? v.x : (w == 1 ? v.y : v.z);
    const float a = m_node.cosFrom, b = m_node.cosTo;
    m_node.Apply(*clump, (a <= c && c <= b) || (b <= c && c <= a));
  }

 private:
  const OvAngleInWorldSensorNode& m_node;
};

class AcCheckInOut final : public OvAniCtrl {
 public:
  explicit AcCheckInOut(const OvCheckInOutSensorNode& node)
      : m_node(node), m_checked(node.checked), m_in(node.inNode), m_out(node.outNode) {}
  int32_t GetCtrlId() const override { return OV_ACID_S_CHECK_IN_OUT; }
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    bool unresolved = false;
    OvClump* checked = FindTarget(clump, m_node.checked, m_checked, unresolved);
    OvVector p;
    if (!checked || !checked->GetWorldPos(p)) return;
    const bool inside = OvInsideClumpBox(p, m_in.Resolve(clump));
    if (m_node.regionMode) {
      if (inside) {
        OvFlagChange(*clump, m_node.inMask, m_node.inValue);
      } else {
        OvFlagChange(*clump, m_node.outMask, m_node.outValue);
      }
      return;
    }
    if (inside) OvFlagChange(*clump, m_node.inMask, m_node.inValue);
    if (OvInsideClumpBox(p, m_out.Resolve(clump))) OvFlagChange(*clump, m_node.outMask, m_node.outValue);
  }

 private:
  const OvCheckInOutSensorNode& m_node;
  OvTargetRef m_checked;
  OvTargetRef m_in;
  OvTargetRef m_out;
};

class AcCheckDestroyed final : public OvAniCtrl {
 public:
  explicit AcCheckDestroyed(const OvCheckDestroyedSensorNode& node) : m_node(node), m_remaining(node.number) {
    OvDestructionWatchers(+1);
  }
  ~AcCheckDestroyed() override { OvDestructionWatchers(-1); }
  int32_t GetCtrlId() const override { return OV_ACID_S_CHECK_DESTROYED; }
  void Attached(OvClump* clump) override { m_clump = clump; }

  void Message(intptr_t a, intptr_t b, intptr_t) override {
    if (m_triggered || a != -1 || b == 0 || !m_clump) return;
    const OvClump* destroyed = reinterpret_cast<const OvClump*>(b);
    // A record index means something only in the watcher's own database.
    if (destroyed->GetRecordIndex() != m_node.checkedRecord || destroyed->GetSerial() != m_clump->GetSerial()) return;
    if (m_node.ChecksId()) {
      const OvLogObj* object = destroyed->GetLogObj();
      if (!object || !OvObjValueSensorNode::InRange(object->LoGetNodeID(), m_node.minId, m_node.maxId)) return;
    }
    if (--m_remaining > 0) return;
    m_triggered = true;
    OvFlagChange(*m_clump, m_node.setMask, m_node.setValue);
    if (m_node.holdSec < 0.0f) {
      // The flags stay changed for good; nothing is left to do.
      m_clump->DelAniCtrl(this);
      return;
    }
    const OvScene* scene = m_clump->GetScene();
    const int32_t now = scene ? scene->GetTime() : 0;
    const double perSec = scene ? double(scene->TimePerSec()) : 0.0;
    m_holdEnd = OvTruncToI32(double(now) + OvTruncToI32(double(m_node.holdSec) * perSec));
  }

  void Animate(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!m_triggered || !scene || scene->GetTime() <= m_holdEnd) return;
    if (!m_undone) {
      m_undone = true;
      OvFlagChangeInverse(*clump, m_node.setMask, m_node.setValue);
    }
    scene->RegisterHrchy(this, clump, 0);
  }

  void Hierarchy(OvClump* clump, int32_t) override {
    if (clump && m_undone) clump->DelAniCtrl(this);
  }

  int64_t Remaining() const { return m_remaining; }

 private:
  const OvCheckDestroyedSensorNode& m_node;
  OvClump* m_clump = nullptr;
  int64_t m_remaining;
  int32_t m_holdEnd = 0;
  bool m_triggered = false;
  bool m_undone = false;
};

// ---------------------------------------------------------------------------
// Keys of the authoring choice list, in choice order.

const int16_t kKeyCodes[OV_KEY_CHOICE_COUNT] = {
    32,  256, 257, 258,                                                              // space, mouse
    65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77, 78, 79, 80, 81,  // A-Q
    82,  83,  84,  85,  86,  87,  88,  89,  90,                                      // R-Z
    48,  49,  50,  51,  52,  53,  54,  55,  56,  57,                                 // 0-9
    37,  38,  39,  40,                                                               // arrows
    160, 161, 162, 163, 164, 165,                                                    // L/R Shift, Ctrl, Alt
    112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123,                      // F1-F12
    8,   9,   13,  16,  17,  18,  19,  20,                                           // Backspace..Caps Lock
    27,  33,  34,  35,  36,  44,  45,  46,                                           // Escape..Delete
    91,  92,                                                                         // Windows keys
    96,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107,                      // keypad 0-9, *, +
    109, 110, 111,                                                                   // keypad -, ., /
    144, 145,                                                                        // Num, Scroll Lock
    186, 187, 188, 189, 190, 191, 192,                                               // punctuation
    219, 220, 221, 222,
};

// ---------------------------------------------------------------------------
// Parameter tables.

#define OV_SET_FLAG OvParamI(0, "Set Flag", OV_PK_FLAG_PAIR), OvParamI(1, "", OV_PK_SPACER)

const OvNodeParamDesc kKeyboardParams[] = {
    OV_SET_FLAG,
    OvParamI(2, "Key State:\0Pressed\0Click Down\0Click Up\0", OV_PK_CHOICE, 0),
    OvParamI(3, "Key:", OV_PK_CAPTION),
    OvParamI(4, "", OV_PK_CHOICE, 0),
};

const OvNodeParamDesc kTimeRangeParams[] = {
    OV_SET_FLAG,
    OvParamI(2, "From:", OV_PK_TIME, 0),
    OvParamI(3, "To:", OV_PK_TIME, 0),
};

const OvNodeParamDesc kTimePeriodParams[] = {
    OV_SET_FLAG,
    OvParamI(2, "From:", OV_PK_TIME, 0),
    OvParamI(3, "To:", OV_PK_TIME, 160000),
    OvParamI(4, "Period:", OV_PK_TIME, 16000),
    OvParamI(5, "Length:", OV_PK_TIME, 0),
};

const OvNodeParamDesc kObjIdParams[] = {
    OV_SET_FLAG,
    OvParamI(2, "Min ID:", OV_PK_INT, 0),
    OvParamI(3, "Max ID:", OV_PK_INT, 0),
};

const OvNodeParamDesc kHealthParams[] = {
    OV_SET_FLAG,
    OvParamI(2, "Health Min:", OV_PK_INT, -100),
    OvParamI(3, "Health Max:", OV_PK_INT, 500),
};

const OvNodeParamDesc kDistanceParams[] = {
    OV_SET_FLAG,
    OvParamF(2, "Min Distance:", OV_PK_REAL, 0.0f),
    OvParamF(3, "Max Distance:", OV_PK_REAL, 1000.0f),
    OvParamI(4, "Target", OV_PK_REF, -1),
};

const OvNodeParamDesc kAngleBetweenParams[] = {
    OV_SET_FLAG,
    OvParamI(2, "Target", OV_PK_REF, -1),
    OvParamI(3, "Axis of:\0Self\0Target\0", OV_PK_CHOICE, 0),
    OvParamI(4, "Axis", OV_PK_AXIS, 0),
    OvParamF(5, "Angle:", OV_PK_REAL, 0.0f),
};

const OvNodeParamDesc kAngleInWorldParams[] = {
    OV_SET_FLAG,
    OvParamI(2, "Axis: Clump", OV_PK_AXIS, 0),
    OvParamI(3, "Axis: World", OV_PK_SPIN_AXIS, 2),
    OvParamF(4, "Angle From:", OV_PK_REAL, 0.0f),
    OvParamF(5, "Angle To:", OV_PK_REAL, 0.0f),
};

const OvNodeParamDesc kInCameraViewParams[] = {
    OV_SET_FLAG,
};

const OvNodeParamDesc kCheckInOutParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "Set Flag (In)", OV_PK_FLAG_PAIR),
    OvParamI(2, "", OV_PK_SPACER),
    OvParamI(3, "Set Flag (Out)", OV_PK_FLAG_PAIR),
    OvParamI(4, "", OV_PK_SPACER),
    OvParamI(5, "Checked", OV_PK_REF, -1),
    OvParamI(6, "In/Out Region", OV_PK_CHECK, 1),
    OvParamI(7, "\tRegion Node", OV_PK_NODE_REF, -1),
    OvParamI(8, "Trigger In/Out", OV_PK_CHECK, 0),
    OvParamI(9, "\tNode as In", OV_PK_NODE_REF, -1),
    OvParamI(10, "\tNode as Out", OV_PK_NODE_REF, -1),
};

const OvNodeParamDesc kCheckDestroyedParams[] = {
    OV_SET_FLAG,
    OvParamF(2, "Hold(sec):", OV_PK_REAL, -1.0f),
    OvParamI(3, "Checked", OV_PK_REF, -1),
    OvParamI(4, "Number:", OV_PK_INT, 1),
    OvParamI(5, "", OV_PK_INTERNAL),
    OvParamI(6, "", OV_PK_INTERNAL),
    OvParamI(7, "Check Obj's ID", OV_PK_CHECK, 0),
    OvParamI(8, "Min ID:", OV_PK_INT, 100),
    OvParamI(9, "Max ID:", OV_PK_INT, 100),
};

#undef OV_SET_FLAG

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

}  // namespace

int32_t OvKeyChoiceCode(int32_t choice) {
  if (choice < 0) choice = 0;
  if (choice >= OV_KEY_CHOICE_COUNT) choice = OV_KEY_CHOICE_COUNT - 1;
  return kKeyCodes[choice];
}

OvVector OvClumpAxis(const OvMatrix& toWorld, int32_t code) {
  const int32_t c = Mod(code, 6);
  const float* row = toWorld.m[c % 3];
  OvVector v{row[0], row[1], row[2]};
  OvNormalize(v);
  if (c >= 3) OvVectorScale(v, -1.0f);
  return v;
}

bool OvInsideClumpBox(const OvVector& p, const OvClump* node) {
  const OvMatrix* world = node ? node->GetToWorldMatrix() : nullptr;
  const OvMesh* mesh = node ? node->GetMesh() : nullptr;
  if (!world || !mesh || !mesh->bounds) return false;
  OvMatrix inverse;
  OvMatInversePRS(inverse, *world);
  OvVector local;
  OvXformPoint(local, p, inverse);
  const float* lo = mesh->bounds + 4;
  const float* hi = mesh->bounds + 7;
  return lo[0] <= local.x && local.x <= hi[0] && lo[1] <= local.y && local.y <= hi[1] && lo[2] <= local.z &&
         local.z <= hi[2];
}

// ---------------------------------------------------------------------------
// "<s> Keyboard": "iiiii".

bool OvKeyboardSensorNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiii", &format, &setMask, &setValue, &keyCode, &keyState);
}

bool OvKeyboardSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiii", kFormat, setMask, setValue, keyCode, keyState);
}

void OvKeyboardSensorNode::Animate(OvClump* clump, int32_t) {
  OvInputDevice* device = OvGetInputDevice();
  if (!clump || !device) return;
  bool holds = false;
  if (keyState == kPressed) {
    holds = device->IsDown(keyCode);
  } else if (keyState == kClickDown) {
    holds = device->IsClickDown(keyCode);
  } else {
    holds = device->IsClickUp(keyCode);
  }
  Apply(*clump, holds);
}

bool OvKeyboardSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  keyState = v.Int(2);
  keyCode = OvKeyChoiceCode(v.Int(4));
  return true;
}

// ---------------------------------------------------------------------------
// "<s> Time Range": four raw words.

bool OvTimeRangeSensorNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("iiii", &setMask, &setValue, &from, &to);
}

bool OvTimeRangeSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiii", setMask, setValue, from, to);
}

bool OvTimeRangeSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  from = v.Int(2);
  to = v.Int(3);
  return true;
}

OvAniCtrl* OvTimeRangeSensorNode::MakeController(OvClump*) { return new AcTimeRange(*this); }

// ---------------------------------------------------------------------------
// "<s> Time Period": "iii tttt".

bool OvTimePeriodSensorNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iii tttt", &format, &setMask, &setValue, &from, &to, &period, &length);
}

bool OvTimePeriodSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iii tttt", kFormat, setMask, setValue, from, to, period, length);
}

bool OvTimePeriodSensorNode::Holds(int32_t t, int32_t delta) const {
  // A period of 0 or below has no phase; such a node never holds.
  if (t < from || period <= 0) return false;
  if (!(to < from || to >= t)) return false;
  const int64_t phase = (int64_t(t) - from) % period;
  return phase <= length || phase - delta < 0;
}

void OvTimePeriodSensorNode::Animate(OvClump* clump, int32_t time) {
  if (!clump) return;
  const OvScene* scene = clump->GetScene();
  Apply(*clump, Holds(time, scene ? scene->FrameDelta() : 0));
}

bool OvTimePeriodSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  from = v.Int(2);
  to = v.Int(3);
  period = v.Int(4);
  length = v.Int(5);
  return true;
}

// ---------------------------------------------------------------------------
// "<s> Obj ID" and "<s> Health": four raw words.

bool OvObjValueSensorNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("iiii", &setMask, &setValue, &min, &max);
}

bool OvObjValueSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiii", setMask, setValue, min, max);
}

void OvObjValueSensorNode::Animate(OvClump* clump, int32_t) {
  const OvLogObj* object = clump ? clump->GetLogObj() : nullptr;
  if (!object) return;
  Apply(*clump, InRange(ValueOf(*object), min, max));
}

bool OvObjValueSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  min = v.Int(2);
  max = v.Int(3);
  return true;
}

int32_t OvObjIdSensorNode::ValueOf(const OvLogObj& object) const { return object.LoGetNodeID(); }

int32_t OvHealthSensorNode::ValueOf(const OvLogObj& object) const { return object.GetHealth(); }

// ---------------------------------------------------------------------------
// "<s> Distance": six raw words.

bool OvDistanceSensorNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("iiRRii", &setMask, &setValue, &minDistance, &maxDistance, &target.objectKey,
                           &target.clumpKey);
}

bool OvDistanceSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiRRii", setMask, setValue, minDistance, maxDistance, target.objectKey, target.clumpKey);
}

void OvDistanceSensorNode::Bind(OvDatabase* database) { target.serial = OvSerialOf(database); }

bool OvDistanceSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  minDistance = v.Real(2);
  maxDistance = v.Real(3);
  v.Ref(4, target.objectKey, target.clumpKey);
  return true;
}

OvAniCtrl* OvDistanceSensorNode::MakeController(OvClump*) { return new AcDistance(*this); }

// ---------------------------------------------------------------------------
// "<s> Angle Between": "iiiiiRii".

bool OvAngleBetweenSensorNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiiiRii", &format, &setMask, &setValue, &axisOwner, &axis, &cosine, &target.objectKey,
                           &target.clumpKey);
}

bool OvAngleBetweenSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiiiRii", kFormat, setMask, setValue, axisOwner, axis, cosine, target.objectKey,
                            target.clumpKey);
}

void OvAngleBetweenSensorNode::Bind(OvDatabase* database) { target.serial = OvSerialOf(database); }

bool OvAngleBetweenSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  v.Ref(2, target.objectKey, target.clumpKey);
  axisOwner = v.Int(3);
  axis = v.Int(4);
  cosine = CosDegrees(v.Real(5));
  return true;
}

OvAniCtrl* OvAngleBetweenSensorNode::MakeController(OvClump*) { return new AcAngleBetween(*this); }

// ---------------------------------------------------------------------------
// "<s> Angle in World": "i iiiiRR".

bool OvAngleInWorldSensorNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("i iiiiRR", &format, &setMask, &setValue, &clumpAxis, &worldAxis, &cosFrom, &cosTo);
}

bool OvAngleInWorldSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i iiiiRR", kFormat, setMask, setValue, clumpAxis, worldAxis, cosFrom, cosTo);
}

bool OvAngleInWorldSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  clumpAxis = v.Int(2);
  worldAxis = v.Int(3);
  cosFrom = CosDegrees(v.Real(4));
  cosTo = CosDegrees(v.Real(5));
  return true;
}

OvAniCtrl* OvAngleInWorldSensorNode::MakeController(OvClump*) { return new AcAngleInWorld(*this); }

// ---------------------------------------------------------------------------
// "<s> In Camera View": two raw words.

bool OvInCameraViewSensorNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("ii", &setMask, &setValue);
}

bool OvInCameraViewSensorNode::Write(OvStream& stream) const { return stream.WriteLayout("ii", setMask, setValue); }

void OvInCameraViewSensorNode::Animate(OvClump* clump, int32_t) {
  if (clump) Apply(*clump, !clump->IsCulled());
}

bool OvInCameraViewSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  return true;
}

// ---------------------------------------------------------------------------
// "<s> Check In/Out Area": "ii iiii iiiiii".

bool OvCheckInOutSensorNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("ii iiii iiiiii", &format, &regionMode, &inMask, &inValue, &outMask, &outValue,
                           &checked.objectKey, &checked.clumpKey, &inNode.objectKey, &inNode.clumpKey,
                           &outNode.objectKey, &outNode.clumpKey);
}

bool OvCheckInOutSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("ii iiii iiiiii", kFormat, regionMode, inMask, inValue, outMask, outValue,
                            checked.objectKey, checked.clumpKey, inNode.objectKey, inNode.clumpKey, outNode.objectKey,
                            outNode.clumpKey);
}

void OvCheckInOutSensorNode::Bind(OvDatabase* database) {
  checked.serial = inNode.serial = outNode.serial = OvSerialOf(database);
}

bool OvCheckInOutSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(1, inMask, inValue);
  v.FlagPair(3, outMask, outValue);
  v.Ref(5, checked.objectKey, checked.clumpKey);
  regionMode = v.Check(6) ? 1 : 0;
  // The block keeps one node pair for the region node or the in node.
  v.Ref(regionMode ? 7 : 9, inNode.objectKey, inNode.clumpKey);
  v.Ref(10, outNode.objectKey, outNode.clumpKey);
  return true;
}

OvAniCtrl* OvCheckInOutSensorNode::MakeController(OvClump*) { return new AcCheckInOut(*this); }

// ---------------------------------------------------------------------------
// "<s> Check Destroyed": "iiiiiiR", no format number.

bool OvCheckDestroyedSensorNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("iiiiiiR", &checkedRecord, &number, &minId, &maxId, &setMask, &setValue, &holdSec);
}

bool OvCheckDestroyedSensorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiiiiR", checkedRecord, number, minId, maxId, setMask, setValue, holdSec);
}

bool OvCheckDestroyedSensorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, setMask, setValue);
  holdSec = v.Real(2);
  checkedRecord = v.RefRecord(3);
  number = v.Int(4);
  if (v.Check(7)) {
    minId = v.Int(8);
    maxId = v.Int(9);
  } else {
    minId = -1, maxId = -2;
  }
  return true;
}

OvAniCtrl* OvCheckDestroyedSensorNode::MakeController(OvClump*) { return new AcCheckDestroyed(*this); }

// ---------------------------------------------------------------------------

OvNodeType* OvConditionNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_S_KEYBOARD) return MakeType<OvKeyboardSensorNode>(pair, name, kKeyboardParams);
  if (pair == OV_NODE_S_TIME_RANGE) return MakeType<OvTimeRangeSensorNode>(pair, name, kTimeRangeParams);
  if (pair == OV_NODE_S_TIME_PERIOD) return MakeType<OvTimePeriodSensorNode>(pair, name, kTimePeriodParams);
  if (pair == OV_NODE_S_OBJ_ID) return MakeType<OvObjIdSensorNode>(pair, name, kObjIdParams);
  if (pair == OV_NODE_S_HEALTH) return MakeType<OvHealthSensorNode>(pair, name, kHealthParams);
  if (pair == OV_NODE_S_DISTANCE) return MakeType<OvDistanceSensorNode>(pair, name, kDistanceParams);
  if (pair == OV_NODE_S_ANGLE_BETWEEN) return MakeType<OvAngleBetweenSensorNode>(pair, name, kAngleBetweenParams);
  if (pair == OV_NODE_S_ANGLE_IN_WORLD) {
    return MakeType<OvAngleInWorldSensorNode>(pair, name, kAngleInWorldParams);
  }
  if (pair == OV_NODE_S_IN_CAMERA_VIEW) {
    return MakeType<OvInCameraViewSensorNode>(pair, name, kInCameraViewParams);
  }
  if (pair == OV_NODE_S_CHECK_IN_OUT) return MakeType<OvCheckInOutSensorNode>(pair, name, kCheckInOutParams);
  if (pair == OV_NODE_S_CHECK_DESTROYED) {
    return MakeType<OvCheckDestroyedSensorNode>(pair, name, kCheckDestroyedParams);
  }
  return nullptr;
}
