#include "ov_logobj.h"

#include <cmath>
#include <cstring>

#include "ov_database.h"
#include "ov_scene.h"
#include "ov_trace.h"

namespace {

bool SameName(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

// Units per second of the object's scene, or the default clock without one.
float UnitsPerSecond(const OvScene* scene) { return scene ? float(scene->TimePerSec()) : 60.0f; }

int32_t SecondsToUnits(const OvScene* scene, float seconds) {
  const double units = double(seconds) * double(UnitsPerSecond(scene));
  if (!(units < 2147483647.0)) return MAX_TIME;
  if (units < -2147483647.0) return -MAX_TIME;
  return int32_t(units);
}

// Logical objects alive in the process: emission stops at a cap, so content
// cannot emit its way through all memory.
int32_t g_liveObjects = 0;

OvLogObj* Counted(OvLogObj* o) {
  if (o) ++g_liveObjects;
  return o;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and release.

OvLogObj* OvLogObj::Create() { return Counted(new OvLogObj()); }

OvLogObj* OvLogObj::CreateFromRecord(OvDatabase& db, int32_t index, bool withClumps) {
  const OvLogObjRecord* rec = db.LogObjRecord(index);
  if (!rec) return nullptr;
  OvLogObj* o = Counted(new OvLogObj());
  if (!o) {
    Trace("Not enough memory while generating logical object.\n");
    return nullptr;
  }
  o->m_id = rec->id;
  o->m_name = rec->name;
  o->m_serial = db.Serial();
  o->m_objFlags = uint32_t(rec->objectFlags);
  o->m_dPower = rec->dPower;
  o->m_health = rec->health;
  o->m_fullHealth = rec->fullHealth;
  o->m_parentHurtRate = rec->parentHurtRate;
  if (o->m_objFlags & OV_LO_START_FROZEN) o->FreezeTime();
  if (!withClumps || rec->firstClump < 0) return o;

  // One check for all root trees: records that loop are made once.
  const uint32_t count = db.ClumpRecordCount();
  auto* seen = static_cast<uint8_t*>(AllocMem(count ? count : 1));
  if (!seen) {
    Trace("Not enough memory while generating logical object.\n");
    o->Release();
    return nullptr;
  }
  std::memset(seen, 0, count);
  for (int32_t ci = rec->firstClump; ci >= 0 && uint32_t(ci) < count && !seen[ci];
       ci = db.ClumpRecord(ci)->nextBrother) {
    if (OvClump* tree = OvClump::InstantiateTree(db, ci, seen)) o->AppendClumps(tree);
  }
  OvMFree(seen);
  return o;
}

OvLogObj::~OvLogObj() {
  --g_liveObjects;
  OvNotifyObjectFreed(this);
  // One at a time from the head, so the chains stay whole if a controller
  // released on the way deletes a brother. What dies with this object
  // still finds its scene while it goes; what someone else still holds is
  // cut loose from it.
  while (OvLogObj* child = m_firstChild) {
    OvLogObjChainRemove(m_firstChild, child);
    child->m_parent = nullptr;
    child->m_linkedClump = nullptr;
    if (child->m_refCount > 1) child->SetSceneTree(nullptr);
    child->Release();
  }
  while (OvClump* c = m_firstClump) {
    c->Unlink();
    if (c->m_refCount > 1) c->SetLogObjTree(nullptr);
    c->Release();
  }
  if (m_resource) m_resource->Release();
  OvMFree(m_ownName);
}

void OvLogObj::Release() {
  if (--m_refCount > 0) return;
  delete this;
}

// ---------------------------------------------------------------------------
// Tree.

void OvLogObj::SetSceneTree(OvScene* scene) {
  m_scene = scene;
  for (OvLogObj* c = m_firstChild; c; c = c->m_next) c->SetSceneTree(scene);
}

void OvLogObj::AttachChildren(OvLogObj* chain) {
  if (!chain) return;
  int n = 0;
  for (OvLogObj* o = chain; o && n < OV_CHAIN_WALK_LIMIT; o = o->m_next, ++n) {
    o->m_parent = this;
    o->SetSceneTree(m_scene);
  }
  OvLogObjChainAppend(m_firstChild, chain);
}

void OvLogObj::Unlink() {
  if (m_parent) {
    OvLogObjChainRemove(m_parent->m_firstChild, this);
  } else if (m_scene && (m_scene->m_firstLogObj == this || m_prev)) {
    OvLogObjChainRemove(m_scene->m_firstLogObj, this);
  } else {
    m_prev = m_next = nullptr;
  }
  m_parent = nullptr;
  m_linkedClump = nullptr;
}

bool OvLogObj::IsDescendFrom(const OvLogObj* other) const {
  if (!other) return false;
  for (const OvLogObj* o = this; o; o = o->m_parent) {
    if (o == other) return true;
  }
  return false;
}

void OvLogObj::AppendClumps(OvClump* chain) {
  if (!chain) return;
  int n = 0;
  for (OvClump* c = chain; c && n < OV_CHAIN_WALK_LIMIT; c = c->m_next, ++n) {
    c->m_parent = nullptr;
    c->SetLogObjTree(this);
  }
  OvClumpChainAppend(m_firstClump, chain);
}

OvClump* OvLogObj::LoSearchClump(const char* name) const {
  for (OvClump* c = m_firstClump; c; c = c->m_next) {
    if (SameName(c->GetName(), name)) return c;
    if (OvClump* found = c->FindChild(name)) return found;
  }
  return nullptr;
}

OvClump* OvLogObj::LoSearchClump_ID(int32_t id, int32_t serial) const {
  for (OvClump* c = m_firstClump; c; c = c->m_next) {
    if (OvClump* found = c->FindById(id, serial)) return found;
  }
  return nullptr;
}

OvLogObj* OvLogObj::SearchLogObj(const char* name) {
  for (OvLogObj* o = this; o; o = o->m_next) {
    if (SameName(o->m_name, name)) return o;
    if (o->m_firstChild) {
      if (OvLogObj* found = o->m_firstChild->SearchLogObj(name)) return found;
    }
  }
  return nullptr;
}

OvLogObj* OvLogObj::SearchLogObj_ID(int32_t id, int32_t serial) {
  for (OvLogObj* o = this; o; o = o->m_next) {
    if (o->m_id == id && (serial == -1 || o->m_serial == serial)) return o;
    if (o->m_firstChild) {
      if (OvLogObj* found = o->m_firstChild->SearchLogObj_ID(id, serial)) return found;
    }
  }
  return nullptr;
}

bool OvLogObj::SetName(const char* name) {
  if (!name) {
    OvMFree(m_ownName);
    m_ownName = nullptr;
    m_name = nullptr;
    return true;
  }
  const size_t n = std::strlen(name);
  auto* copy = static_cast<char*>(AllocMem(n + 1));
  if (!copy) return false;
  std::memcpy(copy, name, n + 1);
  OvMFree(m_ownName);
  m_ownName = copy;
  m_name = copy;
  return true;
}

void OvLogObj::SetResource(OvObjResource* resource) {
  if (resource == m_resource) return;
  if (resource) resource->AddRef();
  if (m_resource) m_resource->Release();
  m_resource = resource;
}

// ---------------------------------------------------------------------------
// Time.

void OvLogObj::GotoFrame_Sec(float seconds) { m_localTime = SecondsToUnits(m_scene, seconds); }

float OvLogObj::GetCrntFrame_Sec() const { return m_scene ? float(m_localTime) * m_scene->SecondsPerUnit() : 0.0f; }

void OvLogObj::Tick(int32_t delta) {
  if (!IsTimeFreeze()) m_localTime = OvTimeAdd(m_localTime, delta);
  if (m_firstClump) m_firstClump->AnimateChain(m_localTime);
}

// ---------------------------------------------------------------------------
// Re-parenting.

bool OvLogObj::Ticking() const { return m_scene && m_scene->Ticking(); }

bool OvLogObj::ChangeParentClump(OvClump* clump, bool keepWorld) {
  if (Ticking()) return false;
  OvLogObj* owner = nullptr;
  OvScene* scene = m_scene;
  if (clump) {
    owner = clump->GetLogObj();
    if (!owner || owner == this || owner->IsDescendFrom(this)) return false;
    if (owner->m_scene && owner->m_scene->Ticking()) return false;
  } else if (!scene) {
    return false;
  }
  if (keepWorld) {
    for (OvClump* c = m_firstClump; c; c = c->m_next) c->NeedToWorldMatrix();
  }
  Unlink();
  if (clump) {
    m_linkedClump = clump;
    owner->AttachChildren(this);
  } else {
    scene->OvScene::AddLogObjs(this);  // re-homed, not new: no notification
  }
  if (keepWorld) {
    for (OvClump* c = m_firstClump; c; c = c->m_next) c->AdjustVPMatrix();
  }
  return true;
}

void OvLogObj::MoveLinkedChildren(OvClump* subtree, OvLogObj* target) {
  OvLogObj* o = m_firstChild;
  while (o) {
    OvLogObj* next = o->m_next;
    if (o->m_linkedClump && o->m_linkedClump->IsDescendFrom(subtree)) {
      OvLogObjChainRemove(m_firstChild, o);
      o->m_parent = nullptr;
      target->AttachChildren(o);
    }
    o = next;
  }
}

bool OvLogObj::GraftClump(OvClump* clump, OvClump* newParent, bool keepWorld) {
  if (Ticking() || !clump || clump->GetLogObj() != this) return false;
  OvLogObj* target = this;
  if (newParent) {
    if (newParent->IsDescendFrom(clump)) return false;
    target = newParent->GetLogObj();
    if (!target) return false;
    if (target != this && target->IsDescendFrom(this)) return false;
    if (target->Ticking()) return false;
  }
  if (keepWorld) clump->NeedToWorldMatrix();
  clump->Unlink();
  if (newParent) {
    newParent->AttachChild(clump);
  } else {
    AppendClumps(clump);
  }
  if (target != this) MoveLinkedChildren(clump, target);
  if (keepWorld) clump->AdjustVPMatrix();
  return true;
}

bool OvLogObj::AlignMat(const OvMatrix& m) {
  OvClump* first = m_firstClump;
  if (!first) return false;
  const OvMatrix* w0 = first->NeedToWorldMatrix();
  if (!w0) return false;
  // Alignment takes place and turn, not size: the matrix's scale goes first.
  OvMatrix target = m;
  for (int r = 0; r < 3; ++r) {
    const float len =
        std::sqrt(target.m[r][0] * target.m[r][0] + target.m[r][1] * target.m[r][1] + target.m[r][2] * target.m[r][2]);
    if (len > 0.0f && std::isfinite(len))
      for (int c = 0; c < 3; ++c) target.m[r][c] /= len;
  }
  // Every root clump moves rigidly with the first.
  OvMatrix inv, delta;
  OvMatInverseAffine(inv, *w0);
  OvMatMul4x3(delta, inv, target);
  for (OvClump* c = m_firstClump; c; c = c->GetNextBrother()) {
    const OvMatrix* w = c->NeedToWorldMatrix();
    if (!w) continue;
    OvMatrix placed;
    OvMatMul4x3(placed, *w, delta);
    if (c == first) placed = target;
    c->SetToWorldMatrix(placed);
    c->AdjustVPMatrix();
  }
  return true;
}

bool OvLogObj::AlignOrientation(OvClump* clump) {
  if (!clump) return false;
  const OvMatrix* w = clump->NeedToWorldMatrix();
  if (!w) return false;
  const OvMatrix m = *w;
  return AlignMat(m);
}

bool OvLogObj::SplitClump(OvClump* clump, OvLogObj* target) {
  if (Ticking() || !clump || !target || target == this || clump->GetLogObj() != this) return false;
  if (target->m_linkedClump && target->m_linkedClump->IsDescendFrom(clump)) return false;
  if (target->IsDescendFrom(this) && target->m_parent) {
    // A target hanging inside the moved part would hang from itself.
    for (OvLogObj* o = target; o && o != this; o = o->m_parent) {
      if (o->m_linkedClump && o->m_linkedClump->IsDescendFrom(clump)) return false;
    }
  }
  clump->NeedToWorldMatrix();
  clump->Unlink();
  target->AppendClumps(clump);
  MoveLinkedChildren(clump, target);
  target->m_objFlags = m_objFlags;
  target->m_stateFlags = m_stateFlags;
  target->m_localTime = m_localTime;
  target->m_reserved0 = m_reserved0;
  target->m_reserved1 = m_reserved1;
  target->m_reserved2 = m_reserved2;
  OvMFree(target->m_ownName);
  target->m_ownName = nullptr;
  target->m_name = clump->GetName();
  clump->AdjustVPMatrix();
  return true;
}

// ---------------------------------------------------------------------------
// Lifetime and timed links.

const void* OvAcLifetime::ClassTag() {
  static const char tag = 0;
  return &tag;
}

void OvAcLifetime::Animate(OvClump* clump, int32_t time) {
  if (time >= m_lifetime) OvAniCtrlRegisterHrchy(clump, this, time);
}

void OvAcLifetime::Hierarchy(OvClump* clump, int32_t value) {
  (void)value;
  OvLogObj* object = clump ? clump->GetLogObj() : nullptr;
  OvScene* scene = object ? object->LoGetScene() : nullptr;
  if (scene) scene->DelLogObj(object);
}

const void* OvAcUnlink::ClassTag() {
  static const char tag = 0;
  return &tag;
}

void OvAcUnlink::Animate(OvClump* clump, int32_t time) {
  if (time >= m_deadline) OvAniCtrlRegisterHrchy(clump, this, time);
}

void OvAcUnlink::Hierarchy(OvClump* clump, int32_t value) {
  (void)value;
  if (!clump) return;
  OvLogObj* object = clump->GetLogObj();
  if (object && object->GetParentClump() && !object->ChangeParentClump(nullptr, true)) return;
  // Done: the controller goes (this call is its last).
  clump->DelAniCtrl(this);
}

bool OvLinkForUnits(OvLogObj& object, OvClump* clump, int32_t units) {
  if (!clump || !object.ChangeParentClump(clump, true)) return false;
  object.SetObjFlags(object.GetObjFlags() | OV_LO_DIES_WITH_PARENT);
  if (units > 0) {
    OvClump* root = object.GetClumps();
    if (!root) return true;
    auto* ctrl = new OvAcUnlink(units);
    if (ctrl && !root->AddAniCtrl(ctrl)) ctrl->Release();
  }
  return true;
}

bool SetLinkAndUnlinkTime(OvLogObj& object, OvClump* clump, float seconds) {
  return OvLinkForUnits(object, clump, seconds > 0.0f ? SecondsToUnits(object.LoGetScene(), seconds) : 0);
}

// ---------------------------------------------------------------------------
// Emission.

namespace {

// Emissions of the current frame step of one scene; a script call runs
// inside one frame, so this bounds a call too.
const OvScene* g_emitScene = nullptr;
uint32_t g_emitFrame = 0;
int32_t g_emitCount = 0;
bool g_frameCapTold = false;
bool g_sceneCapTold = false;

bool EmissionAllowed(const OvScene& scene) {
  if (&scene != g_emitScene || scene.FrameCount() != g_emitFrame) {
    g_emitScene = &scene;
    g_emitFrame = scene.FrameCount();
    g_emitCount = 0;
  }
  if (g_liveObjects >= OV_MAX_LIVE_OBJECTS) {
    if (!g_sceneCapTold)
      _TraceFormat("!!!! %d logical objects exist: no more are emitted (said once).\n", OV_MAX_LIVE_OBJECTS);
    g_sceneCapTold = true;
    return false;
  }
  if (g_emitCount >= OV_MAX_EMITS_PER_FRAME) {
    if (!g_frameCapTold)
      _TraceFormat("!!!! More than %d objects emitted in one frame: the rest of that frame's are not (said once).\n",
                   OV_MAX_EMITS_PER_FRAME);
    g_frameCapTold = true;
    return false;
  }
  ++g_emitCount;
  return true;
}

}  // namespace

OvLogObj* OvEmitObjectCore(OvScene& scene, const OvMatrix* placement, OvDatabase& db, int32_t clumpRecord,
                           int32_t lifetime, bool fullMatrix, bool scale) {
  if (scene.ShuttingDown() || !EmissionAllowed(scene)) return nullptr;
  const OvClumpRecord* crec = db.ClumpRecord(clumpRecord);
  if (!crec || crec->logObjIndex < 0) return nullptr;
  OvLogObj* object = OvLogObj::CreateFromRecord(db, crec->logObjIndex, false);
  if (!object) return nullptr;
  OvClump* root = OvClump::InstantiateTree(db, clumpRecord);
  if (!root) {
    object->Release();
    return nullptr;
  }
  object->AppendClumps(root);

  if (lifetime >= 0) {
    auto* ctrl = new OvAcLifetime(lifetime);
    if (ctrl && !root->AddAniCtrl(ctrl)) ctrl->Release();
  }

  if (placement) {
    if (crec->placement >= 0) {
      // The emitter's whole matrix hangs above the clump; without the scale
      // flag the emitter's scale is left out.
      OvMatrix vp = *placement;
      if (!scale) {
        OvVector s;
        OvMatrixExtractScale(s, &vp, *placement);
      }
      root->SetVPMatrix(&vp);
      root->CalcToWorldMatrix();
    } else if (fullMatrix) {
      if (scale) {
        root->SetToWorldMatrix(*placement);
        root->AdjustVPMatrix();
      } else {
        object->AlignMat(*placement);
      }
    } else {
      OvVector pos;
      OvMatrixGetPos(*placement, pos);
      root->SetPos(pos);
      if (scale) {
        OvVector s;
        OvMatrixExtractScale(s, nullptr, *placement);
        root->SetScale(s);
      }
    }
  }
  scene.AddLogObjs(object);
  return object;
}

namespace {

int32_t LifetimeUnits(const OvScene& scene, float lifeSeconds) {
  return lifeSeconds < 0.0f ? -1 : SecondsToUnits(&scene, lifeSeconds);
}

}  // namespace

OvLogObj* EmitObject(OvClump& clump, OvDatabase& db, const char* name, float lifeSeconds, float linkSeconds, int flag) {
  OvScene* scene = clump.GetScene();
  if (!scene || !name) return nullptr;
  const int32_t index = db.FindClumpRecordIndex(name);
  if (index < 0) return nullptr;
  const OvMatrix* world = clump.NeedToWorldMatrix();
  if (!world) return nullptr;
  const OvMatrix at = *world;
  OvLogObj* object = OvEmitObjectCore(*scene, &at, db, index, LifetimeUnits(*scene, lifeSeconds),
                                      (flag & OV_EMIT_FULL_MATRIX) != 0, (flag & OV_EMIT_SCALE) != 0);
  // A link time of 0 leaves the new object on its own.
  if (object && linkSeconds != 0.0f) SetLinkAndUnlinkTime(*object, &clump, linkSeconds);
  return object;
}

OvLogObj* EmitObject_Mat(OvScene& scene, const OvMatrix& m, OvDatabase& db, const char* name, float lifeSeconds,
                         int flag) {
  if (!name) return nullptr;
  const int32_t index = db.FindClumpRecordIndex(name);
  if (index < 0) return nullptr;
  return OvEmitObjectCore(scene, &m, db, index, LifetimeUnits(scene, lifeSeconds), (flag & OV_EMIT_FULL_MATRIX) != 0,
                          (flag & OV_EMIT_SCALE) != 0);
}

OvLogObj* EmitObject_Pos(OvScene& scene, const OvVector& pos, OvDatabase& db, const char* name, float lifeSeconds) {
  if (!name) return nullptr;
  const int32_t index = db.FindClumpRecordIndex(name);
  if (index < 0) return nullptr;
  OvLogObj* object = OvEmitObjectCore(scene, nullptr, db, index, LifetimeUnits(scene, lifeSeconds), false, false);
  if (object && object->GetClumps()) object->GetClumps()->SetPos(pos);
  return object;
}
