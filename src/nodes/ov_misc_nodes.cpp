#include "ov_misc_nodes.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "ov_camera.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_sound_db.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

// Content axis codes index matrix rows: keep them in range.
int Axis3(int32_t code) { return code >= 0 && code < 3 ? int(code) : 0; }

// A rotation by `angle` about local axis `axis`, applied before `base`, so
// the clump turns about its own axis.
OvQuat SpinThen(int axis, float angle, const OvQuat& base) {
  const float s = std::sin(angle * 0.5f);
  OvQuat q{std::cos(angle * 0.5f), {axis == 0 ? s : 0.0f, axis == 1 ? s : 0.0f, axis == 2 ? s : 0.0f}};
  OvQuatCombine(q, base);
  return q;
}

void ApplySpin(OvClump& clump, int axis, float angle, const OvQuat& base) {
  const OvQuat& from = (clump.GetChangeFlags() & ACF_ROT) ? clump.GetQuat() : base;
  clump.SetQuat(SpinThen(axis, angle, from));
  clump.MarkChanged(ACF_ROT);
}

void SetTreeInvisible(OvClump* root, bool invisible) {
  if (!root) return;
  if (invisible) {
    root->SetInvisible();
  } else {
    root->SetVisible();
  }
  for (OvClump* c = root->GetChild(); c; c = c->GetNextBrother()) SetTreeInvisible(c, invisible);
}

// ---------------------------------------------------------------------------
// Play Sound

class AcPlaySound final : public OvAniCtrl {
 public:
  AcPlaySound(const OvPlaySoundNode& node, OvSoundSystem* system, int32_t safeUnits)
      : m_node(node), m_system(system), m_safe(safeUnits) {
    // The endless loop makes the other playing options meaningless.
    const uint32_t o = node.options;
    m_endless = (o & OvPlaySoundNode::kEndless) != 0;
    m_entire = !m_endless && (o & OvPlaySoundNode::kEntire);
    m_once = !m_endless && (o & OvPlaySoundNode::kOnce);
    m_3d = (o & OvPlaySoundNode::k3D) != 0;
  }

  void Animate(OvClump* clump, int32_t t) override {
    if (!clump) return;
    if (!OvFlagTest(*clump, m_node.checkMask, m_node.checkValue)) {
      if (!m_instance || !m_playing) return;
      if (!m_entire) {
        m_instance->Pause();
        m_playing = false;
        m_waiting = false;
      }
      if (m_once) {
        OvAniCtrlRegisterHrchy(clump, this, t);
        return;
      }
      if (!m_playing) return;
    } else if (!m_playing) {
      const int64_t since = OvTimeDelta(t, m_lastStart);
      if (m_waiting && since >= 0 && since < m_safe) return;
      m_lastStart = t;
      if (!m_instance) {
        m_instance = Live() ? m_system->CreateInstance(m_node.Request()) : nullptr;
        if (!m_instance) {
          const OvSoundItem* item = m_node.Request().item;
          _TraceFormat("!!!! %s: 'Play Sound' cannot play '%s'.\n", clump->GetName() ? clump->GetName() : "",
                       item && item->name ? item->name : "");
          OvAniCtrlRegisterHrchy(clump, this, t);
          return;
        }
      }
      if (!m_instance->Play()) {
        m_waiting = true;
        return;
      }
      m_playing = true;
    }
    m_playing = m_instance->IsActive();
    if (!m_playing) {
      m_waiting = true;
      if (m_once) OvAniCtrlRegisterHrchy(clump, this, t);
      return;
    }
    if (!m_3d) return;
    OvVector p;
    if (clump->GetWorldPos(p)) {
      m_instance->SetPosition(p);
    } else {
      OvAniCtrlRegisterPass(clump, this, t, T2PA_AFTER_ANIM);
    }
    OvVector v;
    if (clump->GetVelocity(v)) m_instance->SetVelocity(v);
  }

  void PassDefault(OvClump* clump, int32_t) override {
    OvVector p;
    if (m_instance && clump && clump->GetWorldPos(p)) m_instance->SetPosition(p);
  }

  void Hierarchy(OvClump* clump, int32_t) override {
    if (clump) clump->DelAniCtrl(this);
  }

 protected:
  ~AcPlaySound() override {
    if (!m_instance || !Live()) return;
    if (m_entire) {
      m_system->StopInstance(m_instance, OV_SND_STOP_AFTER_END);
    } else {
      m_instance->Pause();
      m_system->StopInstance(m_instance, OV_SND_STOP);
    }
  }

 private:
  // The system may have gone before the clump; its instances went with it.
  bool Live() const { return m_system && OvGetSoundSystem() == m_system; }

  const OvPlaySoundNode& m_node;
  OvSoundSystem* m_system;
  int32_t m_safe;
  bool m_endless, m_entire, m_once, m_3d;
  OvSoundInstance* m_instance = nullptr;
  bool m_playing = false;
  bool m_waiting = false;
  int32_t m_lastStart = 0;
};

// ---------------------------------------------------------------------------
// Face Camera

class AcFaceCamera final : public OvAniCtrl {
 public:
  explicit AcFaceCamera(const OvFaceCameraNode& node) : m_node(node) {}
  uint32_t GetChannelMask() const override { return ACF_ROT; }
  int32_t GetCtrlId() const override { return OV_ACID_FACE_CAMERA; }

  void PassDefault(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    OvClump* camera = scene ? scene->GetCrntCamera() : nullptr;
    OvMatrix* m = clump ? clump->GetToWorldMatrix() : nullptr;
    if (!camera || !m) return;
    const int r = Axis3(m_node.rotationAxis);
    const int32_t aim = m_node.aimAxis >= 0 && m_node.aimAxis < 6 ? m_node.aimAxis : 1;
    const int a = int(aim % 3);
    if (a == r) return;  // the aim axis cannot move

    OvVector rows[3];
    float scale[3];
    bool scaled = false;
    for (int i = 0; i < 3; ++i) {
      OvMatrixGetRow(*m, i, rows[i]);
      scale[i] = OvLength(rows[i]);
      OvNormalize(rows[i]);
      if (!OvIsUnit(scale[i])) scaled = true;
    }
    OvVector own, cam;
    OvMatrixGetPos(*m, own);
    cam = camera->GetPrevWorldPos();
    // Not animated yet: its current place is the best known.
    if (std::bit_cast<uint32_t>(cam.x) == OV_INVALID_POS_BITS) camera->GetWorldPos(cam);
    OvVector t = cam;
    OvVectorSub(t, own);

    const OvVector& axis = rows[r];
    OvVector side = OvCross(axis, t);
    // Camera on the rotation axis: no direction to turn to, keep the frame.
    if (OvSquareLength(side) == 0.0f) return;
    OvNormalize(side);
    OvVector facing = OvCross(side, axis);
    OvNormalize(facing);
    rows[a] = aim >= 3 ? OvNeg(facing) : facing;
    const int k = 3 - r - a;
    rows[k] = OvCross(rows[(k + 1) % 3], rows[(k + 2) % 3]);  // right-handed
    for (int i = 0; i < 3; ++i) {
      if (scaled) OvVectorScale(rows[i], scale[i]);
      OvMatrixSetRow(*m, i, rows[i]);
    }
  }

 private:
  const OvFaceCameraNode& m_node;
};

// ---------------------------------------------------------------------------
// Spin by Other's Spin

class AcSpinByOther final : public OvAniCtrl {
 public:
  explicit AcSpinByOther(const OvSpinByOtherNode& node) : m_node(node), m_ref(node.ref) { OvQuatIdentity(m_base); }
  uint32_t GetChannelMask() const override { return ACF_ROT; }
  int32_t GetCtrlId() const override { return OV_ACID_SPIN_BY_OTHER; }
  void Attached(OvClump* clump) override {
    if (clump) m_base = clump->GetQuat();
  }

  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    OvClump* other = m_ref.Resolve(clump);
    const OvMatrix* m = other ? other->GetToWorldMatrix() : nullptr;
    if (!m) return;
    if (m_first < 0) {
      const int axis = Axis3(m_node.refAxis);
      m_first = (axis + 1) % 3;
      m_second = (axis + 2) % 3;
      m_a = Row(*m, m_first);
      m_b = Row(*m, m_second);
      return;
    }
    const OvVector a = Row(*m, m_first);
    const OvVector b = Row(*m, m_second);
    const float c = std::clamp(OvVectorDotProd(m_a, a), -1.0f, 1.0f);
    const float theta = std::acos(c);
    const float step = OvVectorDotProd(m_b, a) < 0.0f ? -theta : theta;
    m_a = a;
    m_b = b;
    m_angle += m_node.ratio * step;
    ApplySpin(*clump, Axis3(m_node.spinAxis), m_angle, m_base);
  }

 private:
  static OvVector Row(const OvMatrix& m, int i) {
    OvVector v;
    OvMatrixGetRow(m, i, v);
    OvNormalize(v);
    return v;
  }

  const OvSpinByOtherNode& m_node;
  OvTargetRef m_ref;
  OvVector m_a{}, m_b{};
  int m_first = -1, m_second = -1;
  float m_angle = 0.0f;
  OvQuat m_base;
};

// ---------------------------------------------------------------------------
// Aim

class AcAim final : public OvAniCtrl {
 public:
  explicit AcAim(const OvAimNode& node) : m_node(node), m_ref(node.target) {
    OvQuatIdentity(m_base);
    m_rotAxis = Axis3(node.RotationAxis());
    int32_t aim = node.AimAxis() < 6 ? node.AimAxis() : 1;
    if (aim % 3 == m_rotAxis) aim = (aim + 1) % 6;
    m_aimAxis = int(aim);
  }
  uint32_t GetChannelMask() const override { return ACF_ROT; }
  int32_t GetCtrlId() const override { return OV_ACID_AIM; }
  void Attached(OvClump* clump) override {
    if (clump) m_base = clump->GetQuat();
  }

  void Animate(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    const int32_t now = scene->GetTime();
    if (m_last == MAX_TIME) {
      m_last = now;
      return;
    }
    if (!OvFlagTest(*clump, m_node.checkMask, m_node.checkValue)) {
      m_last = now;
      return;
    }
    OvClump* target = m_node.target.objectKey == -1 ? OvDefaultTargetClump(clump) : m_ref.Resolve(clump);
    const OvMatrix* m = clump->GetToWorldMatrix();
    OvVector aimAt, own;
    if (!target || !m || !target->GetWorldPos(aimAt) || scene->FrameDelta() == 0) return;
    OvMatrixGetPos(*m, own);

    if (m_node.bulletSpeed != 0.0f) {
      OvVector v;
      target->GetVelocity(v);
      m_velocity.x += (v.x - m_velocity.x) * 0.25f;
      m_velocity.y += (v.y - m_velocity.y) * 0.25f;
      m_velocity.z += (v.z - m_velocity.z) * 0.25f;
      OvVector hit;
      if (OvAimIntercept(hit, aimAt, m_velocity, own, m_node.bulletSpeed)) aimAt = hit;
    }

    OvVector r, a;
    OvMatrixGetRow(*m, m_rotAxis, r);
    OvMatrixGetRow(*m, m_aimAxis % 3, a);
    OvNormalize(a);
    if (m_aimAxis >= 3) a = OvNeg(a);
    const OvVector side = OvCross(r, a);
    OvVector h = aimAt;
    OvVectorSub(h, own);
    const float y = OvVectorDotProd(h, side);
    const float x = OvVectorDotProd(h, a);
    if (x > 0.0f && 0.01f * x > std::fabs(y)) return;

    const float dt = float(OvTimeDelta(now, m_last)) * scene->SecondsPerUnit();
    m_last = now;
    const float maxStep = m_node.turnRate * dt;
    const float w = std::atan2(y, x);
    const float step = std::min(std::fabs(w), maxStep);
    const float hi = m_node.maxAngle, lo = m_node.minAngle;
    const bool limited = !(hi == 0.0f && lo == 0.0f);
    bool positive = y > 0.0f;
    if (limited) {
      if (positive && w + m_angle > hi + C_2PI) {
        positive = false;
      } else if (!positive && w + m_angle < lo - C_2PI) {
        positive = true;
      }
    }
    if (positive) {
      m_angle += step;
      if (limited) m_angle = std::min(m_angle, hi);
    } else {
      m_angle -= step;
      if (limited) m_angle = std::max(m_angle, lo);
    }
    ApplySpin(*clump, m_rotAxis, m_angle, m_base);
  }

  float Angle() const { return m_angle; }

 private:
  const OvAimNode& m_node;
  OvTargetRef m_ref;
  int m_rotAxis;
  int m_aimAxis;
  float m_angle = 0.0f;
  OvVector m_velocity{0.0f, 0.0f, 0.0f};
  int32_t m_last = MAX_TIME;
  OvQuat m_base;
};

// ---------------------------------------------------------------------------
// LOD

class AcLod final : public OvAniCtrl {
 public:
  explicit AcLod(const OvLodNode& node) : m_node(node), m_count(std::clamp(node.count, 0, OvLodNode::kMaxLevels)) {}

  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    if (m_first) {
      m_first = false;
      Gather(*clump);
    }
    OvScene* scene = clump->GetScene();
    OvClump* camera = scene ? scene->GetCrntCamera() : nullptr;
    OvVector p;
    if (!camera || !clump->GetWorldPos(p) || !camera->GetWorldPos(p)) return;
    float mval = OvLodScreenMeasure(*clump, *camera, m_node.refSize);
    if (mval < 100.0f) mval *= mval;
    const float* thr = m_node.thresholds;
    int d = m_count - 1;
    for (int i = 0; i < m_count; ++i) {
      if (mval >= thr[i]) {
        d = i;
        break;
      }
    }
    int chosen = d;
    if (m_current == d + 1) {
      const float e = thr[d];
      const float f = d > 0 ? e - thr[d - 1] : e;
      if (0.2f * f >= mval - e) chosen = m_current;  // margin before a finer level
    }
    if (chosen != m_current) {
      SetTreeInvisible(m_levels[m_current], true);
      SetTreeInvisible(m_levels[chosen], false);
      m_current = chosen;
    }
  }

  int Current() const { return m_current; }

 protected:
  ~AcLod() override {
    for (OvClump*& c : m_levels) {
      if (c) c->Release();
      c = nullptr;
    }
  }

 private:
  void Gather(OvClump& clump) {
    for (OvClump* c = clump.GetChild(); c; c = c->GetNextBrother()) {
      for (int i = 0; i < m_count; ++i) {
        if (m_levels[i] || c->GetID() != m_node.levelIds[i]) continue;
        c->AddRef();
        m_levels[i] = c;
        SetTreeInvisible(c, true);
        break;
      }
    }
    SetTreeInvisible(m_levels[0], false);
    if (m_node.options & OvLodNode::kAlign) {
      for (OvClump* c : m_levels) {
        if (c) c->SetPos({0.0f, 0.0f, 0.0f});
      }
    }
  }

  const OvLodNode& m_node;
  int m_count;
  int m_current = 0;
  bool m_first = true;
  OvClump* m_levels[OvLodNode::kMaxLevels] = {};
};

// ---------------------------------------------------------------------------
// Parameter tables.

const OvNodeParamDesc kPlaySoundParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamF(1, "Safe Period (sec)", OV_PK_REAL, 1.0f),
    OvParamI(2, "Sound File:", OV_PK_SOUND_FILE, -1),
    OvParamI(3, "Repeat Number", OV_PK_INT, 0),
    OvParamF(4, "Volume", OV_PK_SPACER, 1.0f),
    OvParamI(5, "Priority", OV_PK_INT, 500),
    OvParamI(6, "3D Sound", OV_PK_CHECK, 1),
    OvParamI(7, "\t3D Algorithm", OV_PK_SPACER),
    OvParamF(8, "Decay From", OV_PK_REAL, 100.0f),
    OvParamF(9, "Mute From", OV_PK_REAL, 10000.0f),
    OvParamI(10, "Small Sound", OV_PK_SPACER),
    OvParamI(11, "Infinite Loop", OV_PK_CHECK, 1),
    OvParamI(12, "Play Entire Sound", OV_PK_CHECK, 1),
    OvParamI(13, "Overlap", OV_PK_SPACER),
    OvParamI(14, "Only Play Once", OV_PK_CHECK, 1),
    OvParamI(15, "Doppler", OV_PK_SPACER),
    OvParamI(16, "Environmental Reverberation", OV_PK_SPACER),
    OvParamI(17, "\tRoom Type", OV_PK_SPACER),
    OvParamI(18, "\tObstruction Effect", OV_PK_SPACER),
    OvParamI(19, "", OV_PK_INTERNAL),
    OvParamI(20, "Background Music", OV_PK_SPACER),
    OvParamI(21, "Streaming", OV_PK_SPACER),
    OvParamI(22, "Import", OV_PK_SPACER),
};

const OvNodeParamDesc kFaceCameraParams[] = {
    OvParamI(0, "Rotation Axis", OV_PK_SPIN_AXIS, 0),
    OvParamI(1, "Aim Axis", OV_PK_AXIS, 1),
};

const OvNodeParamDesc kSpinByOtherParams[] = {
    OvParamI(0, "Spin Axis", OV_PK_SPIN_AXIS, 0),
    OvParamF(1, "Ratio:", OV_PK_REAL, 1.0f),
    OvParamI(2, "Ref Obj", OV_PK_REF, -1),
    OvParamI(3, "Ref Obj's Spin Axis", OV_PK_SPIN_AXIS, 0),
};

const OvNodeParamDesc kAimParams[] = {
    OvParamI(0, "Rotation Axis", OV_PK_SPIN_AXIS, 2),
    OvParamF(1, "Max Angle:", OV_PK_REAL, 0.0f),
    OvParamF(2, "Min Angle:", OV_PK_REAL, 0.0f),
    OvParamF(3, "Rot Speed (/s):", OV_PK_REAL, 50.0f),
    OvParamF(4, "Bullet Speed (/s):", OV_PK_REAL, 0.0f),
    OvParamI(5, "Aim Axis", OV_PK_AXIS, 1),
    OvParamI(6, "Target", OV_PK_REF, -1),
    OvParamI(7, "Check Flag", OV_PK_FLAG_PAIR),
};

#define OV_LOD_LEVEL(n, def) \
  OvParamI(6 + 2 * (n), "Level " #n, OV_PK_REF, -1), OvParamF(7 + 2 * (n), "Threshold " #n ":", OV_PK_REAL, def)

const OvNodeParamDesc kLodParams[] = {
    OvParamI(0, "", OV_PK_SPACER),
    OvParamI(1, "", OV_PK_INTERNAL),
    OvParamI(2, "Align", OV_PK_CHECK, 1),
    OvParamI(3, "", OV_PK_SPACER),
    OvParamI(4, "", OV_PK_SPACER),
    OvParamI(5, "", OV_PK_SPACER),
    OvParamI(6, "Pick children for LOD.", OV_PK_CAPTION),
    OvParamI(7, "Threshold: the size in camera.", OV_PK_CAPTION),
    OV_LOD_LEVEL(1, 0.5f),
    OV_LOD_LEVEL(2, 0.2f),
    OV_LOD_LEVEL(3, 0.1f),
    OV_LOD_LEVEL(4, 0.05f),
    OV_LOD_LEVEL(5, 0.02f),
    OV_LOD_LEVEL(6, 0.01f),
    OV_LOD_LEVEL(7, 0.001f),
    OV_LOD_LEVEL(8, 0.0f),
    OV_LOD_LEVEL(9, 0.0f),
    OV_LOD_LEVEL(10, 0.0f),
};

#undef OV_LOD_LEVEL

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

}  // namespace

// ---------------------------------------------------------------------------
// "Play Sound": "i iiRii iiRR".

bool OvPlaySoundNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("i iiRii iiRR", &format, &checkMask, &checkValue, &safePeriodSec, &options, &soundIndex,
                           &repeat, &priority, &decayFrom, &muteFrom);
}

bool OvPlaySoundNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i iiRii iiRR", kFormat, checkMask, checkValue, safePeriodSec, options, soundIndex, repeat,
                            priority, decayFrom, muteFrom);
}

bool OvPlaySoundNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  safePeriodSec = v.Real(1);
  soundIndex = v.Int(2);
  repeat = v.Int(3);
  priority = std::max(v.Int(5), 0);
  decayFrom = v.Real(8);
  muteFrom = v.Real(9);
  options = 0;
  if (v.Check(6)) options |= k3D;
  if (v.Check(11)) {
    options |= kEndless;
    repeat = -1;
  }
  if (v.Check(12)) options |= kEntire;
  if (v.Check(13)) options |= kOverlap;
  if (v.Check(14)) options |= kOnce;
  return true;
}

OvAniCtrl* OvPlaySoundNode::MakeController(OvClump* clump) {
  OvSoundSystem* system = OvGetSoundSystem();
  const OvSoundDatabase* sounds = m_database ? m_database->SoundDatabase() : nullptr;
  const OvSoundItem* item = sounds && soundIndex >= 0 ? sounds->Item(uint32_t(soundIndex)) : nullptr;
  if (!system) return nullptr;
  if (!item) {
    if (!m_reported) {
      _TraceFormat("!!!! %s: 'Play Sound' sound %d is not in the content's sound list.\n",
                   clump && clump->GetName() ? clump->GetName() : "", soundIndex);
      m_reported = true;
    }
    return nullptr;
  }
  m_request.item = item;
  m_request.folder = sounds->Folder();
  m_request.loop = repeat;
  m_request.priority = priority;
  m_request.kind = (options & k3D) ? OV_SND_POSITIONED : OV_SND_PLAIN;
  m_request.referenceDistance = decayFrom;
  m_request.radius = muteFrom;
  const OvDbHeader& h = m_database->Header();
  double perSec = double(h.frameRate) * double(h.timeUnitsPerFrame);
  if (perSec <= 0.0) {
    const OvScene* scene = clump ? clump->GetScene() : nullptr;
    perSec = scene ? double(scene->TimePerSec()) : 0.0;
  }
  return new AcPlaySound(*this, system, OvTruncToI32(double(safePeriodSec) * perSec));
}

// ---------------------------------------------------------------------------
// "Face Camera: 1 Axis Freedom": two raw words.

bool OvFaceCameraNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("ii", &rotationAxis, &aimAxis);
}

bool OvFaceCameraNode::Write(OvStream& stream) const { return stream.WriteLayout("ii", rotationAxis, aimAxis); }

bool OvFaceCameraNode::FromValues(const OvParamValues& v) {
  rotationAxis = v.Int(0);
  aimAxis = v.Int(1);
  return true;
}

OvAniCtrl* OvFaceCameraNode::MakeController(OvClump*) { return new AcFaceCamera(*this); }

// ---------------------------------------------------------------------------
// "Spin by Other's Spin": "iiRiii".

bool OvSpinByOtherNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiRiii", &format, &spinAxis, &ratio, &ref.objectKey, &ref.clumpKey, &refAxis);
}

bool OvSpinByOtherNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiRiii", kFormat, spinAxis, ratio, ref.objectKey, ref.clumpKey, refAxis);
}

void OvSpinByOtherNode::Bind(OvDatabase* database) { ref.serial = OvSerialOf(database); }

bool OvSpinByOtherNode::FromValues(const OvParamValues& v) {
  spinAxis = v.Int(0);
  ratio = v.Real(1);
  v.Ref(2, ref.objectKey, ref.clumpKey);
  refAxis = v.Int(3);
  return true;
}

OvAniCtrl* OvSpinByOtherNode::MakeController(OvClump*) { return new AcSpinByOther(*this); }

// ---------------------------------------------------------------------------
// "Aim: 1 Axis Freedom": "ii RRRR iiii".

bool OvAimNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("ii RRRR iiii", &format, &axes, &maxAngle, &minAngle, &turnRate, &bulletSpeed,
                           &target.objectKey, &target.clumpKey, &checkMask, &checkValue);
}

bool OvAimNode::Write(OvStream& stream) const {
  return stream.WriteLayout("ii RRRR iiii", kFormat, axes, maxAngle, minAngle, turnRate, bulletSpeed, target.objectKey,
                            target.clumpKey, checkMask, checkValue);
}

void OvAimNode::Bind(OvDatabase* database) { target.serial = OvSerialOf(database); }

bool OvAimNode::FromValues(const OvParamValues& v) {
  axes = (v.Int(0) & 0x7) | ((v.Int(5) & 0x7) << 4);
  maxAngle = v.Radians(1);
  minAngle = v.Radians(2);
  turnRate = v.Radians(3);
  bulletSpeed = v.Real(4);
  v.Ref(6, target.objectKey, target.clumpKey);
  v.FlagPair(7, checkMask, checkValue);
  return true;
}

OvAniCtrl* OvAimNode::MakeController(OvClump*) { return new AcAim(*this); }

bool OvAimIntercept(OvVector& out, const OvVector& pos, const OvVector& vel, const OvVector& own, float speed) {
  const float a = OvSquareLength(vel) - speed * speed;
  if (a == 0.0f) return false;
  OvVector d = pos;
  OvVectorSub(d, own);
  const float b = 2.0f * OvVectorDotProd(vel, d);
  const float disc = b * b - 4.0f * a * OvSquareLength(d);
  if (disc < 0.0f) return false;
  const float root = std::sqrt(disc);
  const float t = a > 0.0f ? (-b + root) / (2.0f * a) : (-b - root) / (2.0f * a);
  if (!(t > 0.0f)) return false;
  out = {pos.x + t * vel.x, pos.y + t * vel.y, pos.z + t * vel.z};
  return true;
}

// ---------------------------------------------------------------------------
// "LOD (clump tree)": "iiRi", n IDs, n thresholds.

OvLodNode::OvLodNode() {
  const float defaults[kMaxLevels] = {0.5f, 0.2f, 0.1f, 0.05f, 0.02f, 0.01f, 0.001f, 0.0f, 0.0f, 0.0f};
  for (int i = 0; i < kMaxLevels; ++i) {
    levelIds[i] = -1;
    thresholds[i] = defaults[i];
  }
}

bool OvLodNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  if (!stream.ReadLayout("iiRi", &format, &options, &refSize, &count)) return false;
  if (count < 0 || count > kMaxLevels) return false;
  for (int i = 0; i < count; ++i) {
    if (!stream.ReadI32(levelIds[i])) return false;
  }
  for (int i = 0; i < count; ++i) {
    if (!stream.ReadF32(thresholds[i])) return false;
  }
  for (int i = count; i < kMaxLevels; ++i) levelIds[i] = -1;
  return true;
}

bool OvLodNode::Write(OvStream& stream) const {
  if (count < 0 || count > kMaxLevels) return false;
  if (!stream.WriteLayout("iiRi", kFormat, options, refSize, count)) return false;
  for (int i = 0; i < count; ++i) {
    if (!stream.WriteI32(levelIds[i])) return false;
  }
  for (int i = 0; i < count; ++i) {
    if (!stream.WriteF32(thresholds[i])) return false;
  }
  return true;
}

bool OvLodNode::FromValues(const OvParamValues& v) {
  const OvVector size{std::bit_cast<float>(v.Word(1, 0)), std::bit_cast<float>(v.Word(1, 1)),
                      std::bit_cast<float>(v.Word(1, 2))};
  refSize = OvLength(size);
  options = v.Check(2) ? kAlign : 0;
  count = 0;
  for (int i = 0; i < kMaxLevels; ++i) {
    int32_t objectKey = -1, clumpKey = -1;
    v.Ref(8 + 2 * i, objectKey, clumpKey);
    if (clumpKey == -1) break;
    levelIds[i] = clumpKey;
    thresholds[i] = v.Real(9 + 2 * i);
    count = i + 1;
  }
  return true;
}

OvAniCtrl* OvLodNode::MakeController(OvClump*) {
  if (count <= 0 || count > kMaxLevels) return nullptr;
  return new AcLod(*this);
}

float OvLodScreenMeasure(const OvClump& clump, const OvClump& camera, float refSize) {
  OvVector p, c;
  if (!camera.IsCamera() || !clump.GetWorldPos(p) || !camera.GetWorldPos(c)) return 0.0f;
  const auto* cam = static_cast<const OvCamera*>(camera.GetExtension());
  float denominator;
  if (cam->IsPerspective()) {
    const float dx = std::fabs(p.x - c.x), dy = std::fabs(p.y - c.y), dz = std::fabs(p.z - c.z);
    const float big = std::max({dx, dy, dz});
    const float length = big + 0.5f * (dx + dy + dz - big);
    denominator = length * std::tan(cam->GetFov() * 0.5f);
  } else {
    denominator = cam->GetFov();
  }
  if (denominator == 0.0f) return 3.4028235e38f;  // at the eye: as large as it gets
  const float m = refSize / denominator;
  return std::isnan(m) ? 0.0f : m;
}

// ---------------------------------------------------------------------------

OvNodeType* OvMiscNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_PLAY_SOUND) return MakeType<OvPlaySoundNode>(pair, name, kPlaySoundParams);
  if (pair == OV_NODE_FACE_CAMERA) return MakeType<OvFaceCameraNode>(pair, name, kFaceCameraParams);
  if (pair == OV_NODE_SPIN_BY_OTHER) return MakeType<OvSpinByOtherNode>(pair, name, kSpinByOtherParams);
  if (pair == OV_NODE_AIM) return MakeType<OvAimNode>(pair, name, kAimParams);
  if (pair == OV_NODE_LOD) return MakeType<OvLodNode>(pair, name, kLodParams);
  return nullptr;
}
