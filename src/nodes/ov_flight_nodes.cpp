#include "ov_flight_nodes.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

bool IsZero(const OvVector& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

bool IsInvalidPos(float f) { return std::bit_cast<uint32_t>(f) == OV_INVALID_POS_BITS; }

// Row lengths of rows 0-2, and those rows divided by them. A row of length
// 0 stays as it is: dividing would fill the matrix with NaN for good.
void SplitScale(const OvMatrix& m, OvMatrix& rotation, OvVector& scale) {
  rotation = m;
  float len[3];
  for (int r = 0; r < 3; ++r) {
    OvVector row;
    OvMatrixGetRow(m, r, row);
    len[r] = OvLength(row);
    if (len[r] > 0.0f) {
      OvVectorScale(row, 1.0f / len[r]);
      OvMatrixSetRow(rotation, r, row);
    }
  }
  scale = {len[0], len[1], len[2]};
}

// Rows 0-2 of `m` become rows 0-2 of `unit` times the given lengths.
void SetScaledRows(OvMatrix& m, const OvMatrix& unit, const OvVector& scale) {
  const float s[3] = {scale.x, scale.y, scale.z};
  for (int r = 0; r < 3; ++r) {
    OvVector row;
    OvMatrixGetRow(unit, r, row);
    OvVectorScale(row, s[r]);
    OvMatrixSetRow(m, r, row);
  }
}

// ---------------------------------------------------------------------------

class AcParabolicFlight final : public OvAniCtrl {
 public:
  explicit AcParabolicFlight(const OvParabolicFlightNode& node) : m_node(node) {}
  uint32_t GetChannelMask() const override { return ACF_WORLD_MAT; }
  void Animate(OvClump* clump, int32_t) override {
    if (!clump) return;
    OvMatrix* m = clump->GetToWorldMatrix();
    if (!m) m = clump->NeedToWorldMatrix();
    if (!m) return;
    const OvScene* scene = clump->GetScene();
    const float dt = scene ? scene->SecToPreFrame() : 0.0f;
    if (m_first) {
      OvMatrixGetRow(*m, 2, m_velocity);
      OvNormalize(m_velocity);
      OvVectorScale(m_velocity, -m_node.speed);
      m_first = false;
    }
    OvVector old, pos;
    OvMatrixGetPos(*m, old);
    pos = {old.x + m_velocity.x * dt, old.y + m_velocity.y * dt,
           old.z + m_velocity.z * dt - 0.5f * m_node.gravity * dt * dt};
    OvMatrixSetPos(*m, pos);
    m_velocity.z -= m_node.gravity * dt;

    if (m_node.options & OvParabolicFlightNode::kFollowMove) FollowMove(*m, OvSub(old, pos));
    clump->MarkChanged(ACF_WORLD_MAT);
  }

 private:
  // Turns the matrix so that its Z axis points back along the step (its -Z
  // along the flight), keeping the axis scales.
  static void FollowMove(OvMatrix& m, OvVector back) {
    if (IsZero(back)) return;
    OvNormalize(back);
    OvVector scale;
    const bool scaled = OvMatrixGetScale(scale, m);
    OvVector x0;
    OvMatrixGetRow(m, 0, x0);
    OvVector y = OvCross(back, x0);
    OvNormalize(y);
    if (IsZero(y)) return;
    OvVector x = OvCross(y, back);
    if (scaled) {
      OvVectorScale(x, scale.x);
      OvVectorScale(y, scale.y);
      OvVectorScale(back, scale.z);
    }
    OvMatrixSetRow(m, 0, x);
    OvMatrixSetRow(m, 1, y);
    OvMatrixSetRow(m, 2, back);
  }

  const OvParabolicFlightNode& m_node;
  OvVector m_velocity{0.0f, 0.0f, 0.0f};
  bool m_first = true;
};

// ---------------------------------------------------------------------------

class AcHoming final : public OvAniCtrl {
 public:
  explicit AcHoming(const OvHomingNode& node) : m_node(node), m_ref(node.target) {
    const float invalid = OvInvalidPos();
    m_aim = {invalid, invalid, invalid};
  }
  uint32_t GetChannelMask() const override { return ACF_WORLD_MAT; }
  int32_t GetCtrlId() const override { return OV_ACID_HOMING; }
  bool RefersTo(const void* object) const override { return object && object == m_ref.Held(); }

  void Animate(OvClump* clump, int32_t t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    const float secPerUnit = scene->SecondsPerUnit();
    // The first step is one frame long, whatever the object's time is when
    // the controller starts; a step back in time moves nothing.
    if (!m_timed) {
      m_prevTime = int64_t(t) - scene->FrameDelta();
      m_timed = true;
    }
    const float now = float(t) * secPerUnit;
    const float dt = std::max(0.0f, float(int64_t(t) - m_prevTime) * secPerUnit);
    m_prevTime = t;

    if (now < m_node.startSec || clump->GetParent()) return;
    OvMatrix* world = clump->GetToWorldMatrix();
    if (!world) return;
    if (scene->FrameDelta() == 0) {
      clump->MarkChanged(ACF_WORLD_MAT);
      return;
    }
    if (m_first) {
      OvMatrixGetPos(*world, m_position);
      OvVector velocity;
      clump->GetVelocity(velocity);
      m_speed = OvLength(velocity);
    }
    OvMatrix rotation;
    OvVector scale;
    SplitScale(*world, rotation, scale);
    OvVector forward;
    OvMatrixGetRow(rotation, 2, forward);
    OvVectorScale(forward, -1.0f);

    OvClump* target = nullptr;
    if (m_node.target.objectKey == -1) {
      target = OvDefaultTargetClump(clump);
      if (!target) return;
    } else {
      target = m_ref.Resolve(clump);
    }
    if (m_first) {
      OvQuatFromMatrix(m_orientation, rotation);
      clump->SetVPMatrix(nullptr);
      m_first = false;
    }

    const float maxTurn = m_node.turnRate * dt;
    if (m_node.acceleration != 0.0f) {
      m_speed += m_node.acceleration * dt;
    } else {
      m_speed = m_node.maxSpeed;
    }
    m_speed = std::min(m_speed, m_node.maxSpeed);

    if (target) {
      OvVector aim;
      if (!IsInvalidPos(m_aim.x)) {
        const OvMatrix* tm = target->GetToWorldMatrix();
        if (!tm) return;
        OvXformPoint(aim, m_aim, *tm);
      } else if (!target->GetWorldPos(aim)) {
        return;
      }
      const float start = m_node.startSec, stop = m_node.stopSec;
      const bool active = (start < now && now < stop && stop > 0.0f) || stop == 0.0f;
      if (active) Turn(OvSub(aim, m_position), forward, maxTurn);
    }
    clump->SetQuat(m_orientation);
    OvVectorScale(forward, m_speed * dt);
    OvVectorAdd(m_position, forward);

    OvMatrix out;
    OvQuatToMatrix(out, m_orientation);
    OvMatrixPreScale(out, clump->GetScale());
    OvMatrixSetPos(out, m_position);
    *world = out;
    clump->MarkChanged(ACF_WORLD_MAT);
  }

 private:
  // Rotates the orientation by at most maxTurn about the axis perpendicular
  // to d and forward, bringing forward toward d.
  void Turn(const OvVector& d, const OvVector& forward, float maxTurn) {
    if (!(maxTurn > 0.0f) || IsZero(d)) return;
    OvVector axis = OvCross(d, forward);
    if (IsZero(axis)) {
      // Straight ahead needs no turn; straight behind turns about any
      // perpendicular rather than never.
      if (OvVectorDotProd(d, forward) >= 0.0f) return;
      OvPerpendicular(axis, forward);
    }
    OvNormalize(axis);
    if (IsZero(axis)) return;
    const OvVector side = OvCross(axis, forward);
    const float angle = std::min(std::fabs(std::atan2(OvVectorDotProd(d, side), OvVectorDotProd(d, forward))), maxTurn);
    if (!(angle > 0.0f)) return;
    // axis x forward points away from d: the turn toward it is negative.
    OvQuat turn;
    MakeQuat(turn, axis, -angle);
    OvQuatCombine(m_orientation, turn);
    const float n = std::sqrt(m_orientation.s * m_orientation.s + OvSquareLength(m_orientation.v));
    if (n > 0.0f) {
      m_orientation.s /= n;
      OvVectorScale(m_orientation.v, 1.0f / n);
    }
  }

  const OvHomingNode& m_node;
  OvTargetRef m_ref;
  int64_t m_prevTime = 0;
  float m_speed = 0.0f;
  bool m_timed = false;
  bool m_first = true;
  OvVector m_position{0.0f, 0.0f, 0.0f};
  OvQuat m_orientation{1.0f, {0.0f, 0.0f, 0.0f}};
  OvVector m_aim;  // in target space; invalid: the target's origin
};

// ---------------------------------------------------------------------------

class AcAlign final : public OvAniCtrl {
 public:
  explicit AcAlign(const OvAlignNode& node) : m_node(node), m_ref(node.target) {}
  uint32_t GetChannelMask() const override { return ACF_WORLD_MAT; }
  int32_t GetCtrlId() const override { return OV_ACID_ALIGN; }
  bool RefersTo(const void* object) const override { return object && object == m_ref.Held(); }
  // Animate stays the base one: it asks for the after-animation pass.

  void PassDefault(OvClump* clump, int32_t) override {
    if (!clump) return;
    const uint32_t options = m_node.options;
    OvClump* source = nullptr;
    if (options & OvAlignNode::kActiveCamera) {
      const OvScene* scene = clump->GetScene();
      source = scene ? scene->GetCrntCamera() : nullptr;
    } else if (m_node.target.objectKey != -1 && m_node.target.clumpKey != -1) {
      source = m_ref.Resolve(clump);
    }
    if (!source) return;
    const OvMatrix* src = source->GetToWorldMatrix();
    OvMatrix* dst = clump->GetToWorldMatrix();
    if (!src || !dst) return;

    const uint32_t all = OvAlignNode::kPosition | OvAlignNode::kOrientation | OvAlignNode::kScale;
    if ((options & all) == all) {
      *dst = *src;
    } else {
      if (options & OvAlignNode::kPosition) {
        OvVector pos;
        OvMatrixGetPos(*src, pos);
        OvMatrixSetPos(*dst, pos);
      }
      const uint32_t rows = options & (OvAlignNode::kOrientation | OvAlignNode::kScale);
      OvMatrix srcRot, dstRot;
      OvVector srcScale, dstScale;
      if (rows == (OvAlignNode::kOrientation | OvAlignNode::kScale)) {
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 3; ++c) dst->m[r][c] = src->m[r][c];
      } else if (rows == OvAlignNode::kOrientation) {
        SplitScale(*dst, dstRot, dstScale);
        SplitScale(*src, srcRot, srcScale);
        SetScaledRows(*dst, srcRot, dstScale);
      } else if (rows == OvAlignNode::kScale) {
        SplitScale(*dst, dstRot, dstScale);
        SplitScale(*src, srcRot, srcScale);
        SetScaledRows(*dst, dstRot, srcScale);
      }
    }
    clump->MarkChanged(ACF_WORLD_MAT);
  }

 private:
  const OvAlignNode& m_node;
  OvTargetRef m_ref;
};

void RefreshTree(OvClump* clump) {
  for (; clump; clump = clump->GetNextBrother()) {
    clump->CalcToWorldMatrix();
    RefreshTree(clump->GetChild());
  }
}

// ---------------------------------------------------------------------------
// Parameter tables.

const OvNodeParamDesc kParabolicParams[] = {
    OvParamF(0, "Speed:", OV_PK_REAL, 1000.0f),
    OvParamF(1, "Accel. of Gravity:", OV_PK_REAL, 980.0f),
    OvParamI(2, "Follow Move", OV_PK_CHECK, 1),
};

const OvNodeParamDesc kHomingParams[] = {
    OvParamF(0, "Accel.(/s):", OV_PK_REAL, 100.0f),   OvParamF(1, "Max Speed(/s):", OV_PK_REAL, 100.0f),
    OvParamF(2, "Rot Speed(/s):", OV_PK_REAL, 50.0f), OvParamF(3, "Start Homing(s):", OV_PK_REAL, 0.0f),
    OvParamF(4, "Stop Homing(s):", OV_PK_REAL, 0.0f), OvParamI(5, "Target:", OV_PK_REF, -1),
};

const OvNodeParamDesc kAlignParams[] = {
    OvParamI(0, "Target Active Camera", OV_PK_CHECK, 0), OvParamI(1, "Target", OV_PK_REF, -1),
    OvParamI(2, "Align Position", OV_PK_CHECK, 1),       OvParamI(3, "Align Orientation", OV_PK_CHECK, 1),
    OvParamI(4, "Align Scale", OV_PK_CHECK, 1),
};

const OvNodeParamDesc kLinkParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
};

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

}  // namespace

// ---------------------------------------------------------------------------
// "Parabolic Flight": "iiRR".

bool OvParabolicFlightNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiRR", &format, &options, &speed, &gravity);
}

bool OvParabolicFlightNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiRR", kFormat, options, speed, gravity);
}

bool OvParabolicFlightNode::FromValues(const OvParamValues& v) {
  speed = v.Real(0);
  gravity = v.Real(1);
  options = v.Check(2) ? kFollowMove : 0;
  return true;
}

OvAniCtrl* OvParabolicFlightNode::MakeController(OvClump*) { return new AcParabolicFlight(*this); }

// ---------------------------------------------------------------------------
// "Homing": seven raw values.

bool OvHomingNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("RRRRRii", &acceleration, &maxSpeed, &turnRate, &startSec, &stopSec, &target.objectKey,
                           &target.clumpKey);
}

bool OvHomingNode::Write(OvStream& stream) const {
  return stream.WriteLayout("RRRRRii", acceleration, maxSpeed, turnRate, startSec, stopSec, target.objectKey,
                            target.clumpKey);
}

void OvHomingNode::Bind(OvDatabase* database) { target.serial = OvSerialOf(database); }

bool OvHomingNode::FromValues(const OvParamValues& v) {
  acceleration = v.Real(0);
  maxSpeed = v.Real(1);
  turnRate = v.Radians(2);
  startSec = v.Real(3);
  stopSec = v.Real(4);
  v.Ref(5, target.objectKey, target.clumpKey);
  return true;
}

OvAniCtrl* OvHomingNode::MakeController(OvClump*) { return new AcHoming(*this); }

// ---------------------------------------------------------------------------
// "Align": "iiii".

bool OvAlignNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiii", &format, &target.objectKey, &target.clumpKey, &options);
}

bool OvAlignNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiii", kFormat, target.objectKey, target.clumpKey, options);
}

void OvAlignNode::Bind(OvDatabase* database) { target.serial = OvSerialOf(database); }

bool OvAlignNode::FromValues(const OvParamValues& v) {
  options = (v.Check(0) ? kActiveCamera : 0) | (v.Check(2) ? kPosition : 0) | (v.Check(3) ? kOrientation : 0) |
            (v.Check(4) ? kScale : 0);
  v.Ref(1, target.objectKey, target.clumpKey);
  return true;
}

OvAniCtrl* OvAlignNode::MakeController(OvClump*) { return new AcAlign(*this); }

// ---------------------------------------------------------------------------
// "Link Obj to Active Camera": "iii".

bool OvLinkToCameraNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iii", &format, &checkMask, &checkValue);
}

bool OvLinkToCameraNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iii", kFormat, checkMask, checkValue);
}

bool OvLinkToCameraNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  return true;
}

void OvLinkToCameraNode::PassDefault(OvClump* clump, int32_t) {
  if (!clump || !OvFlagTest(*clump, checkMask, checkValue) || clump->GetParent()) return;
  OvLogObj* own = clump->GetLogObj();
  const OvScene* scene = clump->GetScene();
  OvClump* camera = scene ? scene->GetCrntCamera() : nullptr;
  if (!own || !camera || own->GetParentClump() == camera) return;
  OvLogObj* cameraObject = camera->GetLogObj();
  if (!cameraObject || cameraObject == own) return;
  if (!own->ChangeParentClump(camera, false)) return;
  RefreshTree(own->GetClumps());
  clump->MarkChanged(ACF_WORLD_MAT | ACF_LOG_OBJ_LINK);
}

// ---------------------------------------------------------------------------

OvNodeType* OvFlightNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_PARABOLIC_FLIGHT) return MakeType<OvParabolicFlightNode>(pair, name, kParabolicParams);
  if (pair == OV_NODE_HOMING) return MakeType<OvHomingNode>(pair, name, kHomingParams);
  if (pair == OV_NODE_ALIGN) return MakeType<OvAlignNode>(pair, name, kAlignParams);
  if (pair == OV_NODE_LINK_TO_CAMERA) return MakeType<OvLinkToCameraNode>(pair, name, kLinkParams);
  return nullptr;
}
