#include "ov_collision_nodes.h"

#include <cmath>

#include "ov_aniset.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_node_flags.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

// Content reals may be anything; a bad duration means "no time at all".
float Seconds(float s) { return std::isfinite(s) && s > 0.0f ? s : 0.0f; }

int32_t UnitsOf(const OvScene& scene, float seconds) {
  const double units = double(Seconds(seconds)) * double(scene.TimePerSec());
  return units >= 2147483647.0 ? INT32_MAX : int32_t(units);
}

OvClump* RootOf(const OvClump* self) {
  const OvLogObj* object = self ? self->GetLogObj() : nullptr;
  return object ? object->GetClumps() : nullptr;
}

OvDatabase* DatabaseFor(OvDatabase* bound, const OvClump* root) {
  return bound ? bound : OvDatabase::FindBySerial(root ? root->GetSerial() : -1);
}

// Applies a flag change now and its inverse on the set bits once the hold
// has passed, then takes itself off the clump.
class AcTimedFlag final : public OvAniCtrl {
 public:
  AcTimedFlag(uint32_t mask, uint32_t value, float deadline) : m_mask(mask), m_value(value), m_deadline(deadline) {
    SetOwned(true);
  }
  void Animate(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene || m_done || !(scene->GetTime_Sec() > m_deadline)) return;
    m_done = true;
    clump->SetSwitch(m_mask & OV_SWITCH_FLAGS, m_mask & ~m_value);
    scene->RegisterHrchy(this, clump, 0);
  }
  void Hierarchy(OvClump* clump, int32_t) override {
    if (clump && m_done) clump->DelAniCtrl(this);
  }

 private:
  uint32_t m_mask, m_value;
  float m_deadline;
  bool m_done = false;
};

void TimedFlag(OvClump& root, uint32_t mask, uint32_t value, float holdSec) {
  OvScene* scene = root.GetScene();
  OvFlagChange(root, mask, value);
  if (!scene) return;
  auto* ctrl = new AcTimedFlag(mask, value, scene->GetTime_Sec() + Seconds(holdSec));
  if (ctrl && !root.AddAniCtrl(ctrl)) ctrl->Release();
}

OvLogObj* EmitAt(OvScene& scene, OvDatabase& db, int32_t record, const OvVector& at, int32_t life) {
  OvMatrix m;
  OvMatrixIdentity(m);
  OvMatrixSetPos(m, at);
  return OvEmitObjectCore(scene, &m, db, record, life, false, false);
}

void ApplyByRecord(OvClump& root, OvDatabase* db, int32_t record, int32_t from, int32_t to) {
  const OvScene* scene = root.GetScene();
  if (!scene || !db) return;
  OvApplyOptions options;
  options.time = scene->GetTime();
  options.offset = from;
  options.end = to;
  options.sceneClock = true;
  options.descend = true;
  OvApplyAnimationByRecord(&root, db, record, options);
}

// A temporary point light at `at`.
void Glitter(OvScene& scene, const OvVector& at, uint32_t colour, float range, float seconds) {
  OvLogObj* object = OvLogObj::Create();
  OvClump* clump = OvClump::Create();
  if (!object || !clump) {
    if (object) object->Release();
    if (clump) clump->Release();
    return;
  }
  clump->SetPos(at);
  object->AppendClumps(clump);
  OvLightData data;
  data.type = OV_LIGHT_POINT;
  data.diffuse[0] = float((colour >> 16) & 0xFF) / 255.0f;
  data.diffuse[1] = float((colour >> 8) & 0xFF) / 255.0f;
  data.diffuse[2] = float(colour & 0xFF) / 255.0f;
  data.diffuse[3] = float((colour >> 24) & 0xFF) / 255.0f;
  data.range = range;
  data.attenuation[0] = 0.00990099f;
  data.attenuation[1] = 0.0f;
  const float half = range * 0.5f;
  data.attenuation[2] = half != 0.0f ? 100.0f / (101.0f * half * half) : 0.0f;
  clump->SetExtension(new OvLight(data));
  auto* life = new OvAcLifetime(UnitsOf(scene, seconds));
  if (life && !clump->AddAniCtrl(life)) life->Release();
  scene.AddLogObjs(object);
}

// ---------------------------------------------------------------------------
// Parameter tables.

const OvNodeParamDesc kDieParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(2, "", OV_PK_SPACER),
    OvParamI(3, "Solid Explosion", OV_PK_CHECK, 1),
    OvParamI(4, "\tPhysics Effect", OV_PK_CHECK, 1),
    OvParamF(5, "\tGravity Accel.:", OV_PK_REAL, 980.0f),
    OvParamF(6, "\tSpeed Ratio:", OV_PK_REAL, 1.0f),
    OvParamF(7, "\tRot Speed Ratio:", OV_PK_REAL, 1.0f),
    OvParamF(8, "\tDisappear (sec):", OV_PK_REAL, 5.0f),
    OvParamI(9, "\tFragments Animation", OV_PK_REF, -1),
    OvParamF(10, "\t\tMin:", OV_PK_REAL, 0.0f),
    OvParamF(11, "\t\tMax:", OV_PK_REAL, 1000.0f),
    OvParamI(12, "Apply Animation", OV_PK_REF, -1),
    OvParamI(13, "\tKeep Orientation", OV_PK_CHECK, 0),
    OvParamI(14, "Generate Obj", OV_PK_REF, -1),
    OvParamI(15, "Life Time:", OV_PK_TIME, 10),
    OvParamI(16, "Unlink Time:", OV_PK_TIME, 0),
    OvParamI(17, "\tGen at Hit", OV_PK_CHECK, 1),
    OvParamI(18, "\tAlign Orientation", OV_PK_CHECK, 0),
    OvParamI(19, "\tLink to Opponent", OV_PK_CHECK, 0),
    OvParamI(20, "Set Flag", OV_PK_FLAG_PAIR),
    OvParamI(21, "", OV_PK_SPACER),
};

const OvNodeParamDesc kHitTerrainParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "Set Flag", OV_PK_FLAG_PAIR),
    OvParamF(2, "Flag Hold (sec):", OV_PK_REAL, 0.0f),
    OvParamI(3, "Generated Obj", OV_PK_REF, -1),
    OvParamI(4, "Life Time:", OV_PK_TIME, 1200),
    OvParamI(5, "\tAlign Surface", OV_PK_CHECK, 1),
};

const OvNodeParamDesc kHitObjParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "Set Flag", OV_PK_FLAG_PAIR),
    OvParamF(2, "Flag Hold (sec):", OV_PK_REAL, 0.0f),
    OvParamI(3, "Generate Obj (hit)", OV_PK_REF, -1),
    OvParamI(4, "Life Time:", OV_PK_TIME, 2400),
    OvParamI(5, "Reserved", OV_PK_SPACER),
    OvParamI(6, "Apply Animation (hit)", OV_PK_REF, -1),
    OvParamI(7, "Apply From:", OV_PK_TIME, 0),
    OvParamI(8, "Apply To:", OV_PK_TIME, 9600),
    OvParamI(9, "\tKeep Orientation", OV_PK_CHECK, 0),
    OvParamI(10, "Glitter Color:", OV_PK_COLOUR, -1),
    OvParamF(11, "Glitter Range:", OV_PK_REAL, 0.0f),
    OvParamF(12, "Glitter Duration (sec):", OV_PK_REAL, 0.1f),
};

int32_t RefClumpKey(const OvParamValues& v, int slot) {
  int32_t objectKey = -1, clumpKey = -1;
  v.Ref(slot, objectKey, clumpKey);
  return clumpKey;
}

uint32_t Bit(bool on, uint32_t bit) { return on ? bit : 0; }

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

}  // namespace

// ---------------------------------------------------------------------------
// "<oc:Die>Common": "ii iiii iRRiRRRR iitt".

bool OvDieCommonNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0, colour = 0;
  return stream.ReadLayout("ii iiii iRRiRRRR iitt", &format, &options, &checkMask, &checkValue, &setMask, &setValue,
                           &colour, &fragMin, &fragMax, &fragAnimKey, &gravity, &speedRatio, &turnRatio, &disappearSec,
                           &applyRecord, &genRecord, &lifeTime, &unlinkTime);
}

bool OvDieCommonNode::Write(OvStream& stream) const {
  return stream.WriteLayout("ii iiii iRRiRRRR iitt", kFormat, options, checkMask, checkValue, setMask, setValue,
                            int32_t(0xFF000000u), fragMin, fragMax, fragAnimKey, gravity, speedRatio, turnRatio,
                            disappearSec, applyRecord, genRecord, lifeTime, unlinkTime);
}

bool OvDieCommonNode::FromValues(const OvParamValues& v) {
  v.FlagPair(1, checkMask, checkValue);
  gravity = v.Real(5);
  speedRatio = v.Real(6);
  turnRatio = v.Real(7);
  disappearSec = v.Real(8);
  fragAnimKey = RefClumpKey(v, 9);
  fragMin = v.Real(10);
  fragMax = v.Real(11);
  applyRecord = v.RefRecord(12);
  genRecord = v.RefRecord(14);
  lifeTime = v.Int(15);
  unlinkTime = v.Int(16);
  v.FlagPair(20, setMask, setValue);
  options = Bit(v.Check(3), kSolidExplosion) | Bit(v.Check(4), kPhysicsEffect) | Bit(v.Check(13), kKeepOrientation) |
            Bit(v.Check(17), kGenAtHit) | Bit(v.Check(18), kAlignOrientation) | Bit(v.Check(19), kLinkToOpponent);
  return true;
}

void OvDieCommonNode::OnDestroyed(OvClump* self, OvClump* other, const OvCollContactData& contact) {
  OvVector point, normal;
  if (!OvCollEventPoint(contact, point, normal)) return;
  OvClump* root = RootOf(self);
  OvLogObj* object = root ? root->GetLogObj() : nullptr;
  OvScene* scene = root ? root->GetScene() : nullptr;
  if (!object || !scene) return;
  if (!OvFlagTest(*root, checkMask, checkValue)) return;
  OvFlagChange(*root, setMask, setValue);

  OvDatabase* db = DatabaseFor(m_database, root);
  if (options & kSolidExplosion) {
    // The fragments are the engine's solid explosion; without it the object
    // simply goes (deferred while the pass runs).
    object->SetObjFlags(object->GetObjFlags() & ~OV_LO_COLLIDABLE);
    scene->DelLogObj(object);
  } else if (applyRecord == -1) {
    scene->DelLogObj(object);
  } else {
    ApplyByRecord(*root, db, applyRecord, 0, -1);
  }

  if (genRecord == -1 || !db) return;
  OvClump* base = root;
  OvVector at = point;
  if (options & kGenAtHit) {
    base = self;
  } else if (!root->GetWorldPos(at)) {
    at = root->GetPos();
  }
  OvLogObj* emitted = nullptr;
  const OvMatrix* world = (options & kAlignOrientation) ? base->NeedToWorldMatrix() : nullptr;
  if (world) {
    OvMatrix m = *world;
    OvMatrixSetPos(m, at);
    emitted = OvEmitObjectCore(*scene, &m, *db, genRecord, lifeTime, true, false);
  } else {
    emitted = EmitAt(*scene, *db, genRecord, at, lifeTime);
  }
  if (emitted && unlinkTime != 0) {
    OvLinkForUnits(*emitted, (options & kLinkToOpponent) && other ? other : base, unlinkTime);
  }
}

// ---------------------------------------------------------------------------
// "<oc:Hit>Terrain:Common": "ii iiRit".

bool OvHitTerrainNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("ii iiRit", &format, &options, &setMask, &setValue, &holdSec, &genRecord, &lifeTime);
}

bool OvHitTerrainNode::Write(OvStream& stream) const {
  return stream.WriteLayout("ii iiRit", kFormat, options, setMask, setValue, holdSec, genRecord, lifeTime);
}

bool OvHitTerrainNode::FromValues(const OvParamValues& v) {
  v.FlagPair(1, setMask, setValue);
  holdSec = v.Real(2);
  genRecord = v.RefRecord(3);
  lifeTime = v.Int(4);
  options = Bit(v.Check(5), kAlignSurface);
  return true;
}

void OvHitTerrainNode::OnHit(OvClump* self, OvClump*, const OvCollContactData& contact) {
  OvVector point, normal;
  if (!OvCollEventPoint(contact, point, normal)) return;
  OvClump* root = RootOf(self);
  OvScene* scene = root ? root->GetScene() : nullptr;
  if (!scene) return;
  if (setMask & OV_SWITCH_FLAGS) TimedFlag(*root, setMask, setValue, holdSec);
  OvDatabase* db = DatabaseFor(m_database, root);
  if (genRecord == -1 || !db) return;
  if (options & kAlignSurface) {
    OvMatrix m;
    OvCollSurfaceMatrix(m, point, normal);
    OvEmitObjectCore(*scene, &m, *db, genRecord, lifeTime, true, false);
  } else {
    EmitAt(*scene, *db, genRecord, point, lifeTime);
  }
}

// ---------------------------------------------------------------------------
// "<oc:Hit>Obj:Common" and "<oc:Touch>Obj:Common": "ii iiR ittitt uRR".

bool OvHitObjNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("ii iiR ittitt uRR", &format, &options, &setMask, &setValue, &holdSec, &genRecord, &lifeTime,
                           &reserved, &applyRecord, &applyFrom, &applyTo, &glitterColour, &glitterRange, &glitterSec);
}

bool OvHitObjNode::Write(OvStream& stream) const {
  return stream.WriteLayout("ii iiR ittitt uRR", kFormat, options, setMask, setValue, holdSec, genRecord, lifeTime,
                            reserved, applyRecord, applyFrom, applyTo, glitterColour, glitterRange, glitterSec);
}

bool OvHitObjNode::FromValues(const OvParamValues& v) {
  v.FlagPair(1, setMask, setValue);
  holdSec = v.Real(2);
  genRecord = v.RefRecord(3);
  lifeTime = v.Int(4);
  reserved = 0;
  applyRecord = v.RefRecord(6);
  applyFrom = v.Int(7);
  applyTo = v.Int(8);
  options = Bit(v.Check(9), kKeepOrientation);
  glitterColour = v.Word(10, 0);
  glitterRange = v.Real(11);
  glitterSec = v.Real(12);
  return true;
}

void OvHitObjNode::OnHit(OvClump* self, OvClump*, const OvCollContactData& contact) {
  OvVector point, normal;
  if (!OvCollEventPoint(contact, point, normal)) return;
  OvClump* root = RootOf(self);
  OvScene* scene = root ? root->GetScene() : nullptr;
  if (!scene) return;
  if (setMask & OV_SWITCH_FLAGS) TimedFlag(*root, setMask, setValue, holdSec);
  OvDatabase* db = DatabaseFor(m_database, root);
  if (genRecord != -1 && db) EmitAt(*scene, *db, genRecord, point, lifeTime);
  if (applyRecord != -1) ApplyByRecord(*root, db, applyRecord, applyFrom, applyTo);
  if (glitterColour != 0 && glitterRange != 0.0f && std::isfinite(glitterRange)) {
    Glitter(*scene, point, glitterColour, glitterRange, glitterSec);
  }
}

// ---------------------------------------------------------------------------

OvNodeType* OvCollisionNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_OC_DIE) return MakeType<OvDieCommonNode>(pair, name, kDieParams);
  if (pair == OV_NODE_OC_HIT_TERRAIN) return MakeType<OvHitTerrainNode>(pair, name, kHitTerrainParams);
  if (pair == OV_NODE_OC_HIT_OBJ) return MakeType<OvHitObjNode>(pair, name, kHitObjParams);
  if (pair == OV_NODE_OC_TOUCH_OBJ) return MakeType<OvTouchObjNode>(pair, name, kHitObjParams);
  return nullptr;
}
