#include "ov_clump.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_scene.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

// Content decides how deep a record tree goes; the stack does not.
constexpr int kMaxTreeDepth = 512;

bool SameName(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

void PRSMatrix(OvMatrix& m, const OvClump& c) { OvPRSToMatrix(m, c.GetPos(), c.GetQuat(), c.GetScale()); }

}  // namespace

float OvInvalidPos() { return std::bit_cast<float>(OV_INVALID_POS_BITS); }

bool OvMatInverseAffine(OvMatrix& out, const OvMatrix& m) {
  const float a = m.m[0][0], b = m.m[0][1], c = m.m[0][2];
  const float d = m.m[1][0], e = m.m[1][1], f = m.m[1][2];
  const float g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];
  const float c00 = e * i - f * h, c01 = c * h - b * i, c02 = b * f - c * e;
  const float c10 = f * g - d * i, c11 = a * i - c * g, c12 = c * d - a * f;
  const float c20 = d * h - e * g, c21 = b * g - a * h, c22 = a * e - b * d;
  const float det = a * c00 + b * c10 + c * c20;
  if (!(std::fabs(det) > 1e-30f) || !std::isfinite(det)) {
    OvMatrixIdentity(out);
    return false;
  }
  const float k = 1.0f / det;
  OvMatrix r;
  r.m[0][0] = c00 * k, r.m[0][1] = c01 * k, r.m[0][2] = c02 * k, r.m[0][3] = 0.0f;
  r.m[1][0] = c10 * k, r.m[1][1] = c11 * k, r.m[1][2] = c12 * k, r.m[1][3] = 0.0f;
  r.m[2][0] = c20 * k, r.m[2][1] = c21 * k, r.m[2][2] = c22 * k, r.m[2][3] = 0.0f;
  const float tx = m.m[3][0], ty = m.m[3][1], tz = m.m[3][2];
  for (int col = 0; col < 3; ++col) {
    r.m[3][col] = -(tx * r.m[0][col] + ty * r.m[1][col] + tz * r.m[2][col]);
  }
  r.m[3][3] = 1.0f;
  out = r;
  return true;
}

// ---------------------------------------------------------------------------
// Creation and release.

OvClump* OvClump::Create() {
  OvClump* c = new OvClump();
  if (!c) return nullptr;
  const float invalid = OvInvalidPos();
  c->m_prevWorldPos = {invalid, invalid, invalid};
  return c;
}

OvClump* OvClump::CreateFromRecord(OvDatabase& db, int32_t index) {
  const OvClumpRecord* rec = db.ClumpRecord(index);
  if (!rec) return nullptr;
  OvClump* c = Create();
  if (!c) return nullptr;
  c->m_id = rec->id;
  c->m_name = rec->name;
  c->m_serial = db.Serial();
  c->m_recordIndex = index;
  // Flags and visibility the record sets up front, before any controller
  // sees the clump.
  c->m_switch = rec->switchWord;
  c->m_scale = {rec->scale[0], rec->scale[1], rec->scale[2]};
  c->m_pos = {rec->position[0], rec->position[1], rec->position[2]};
  c->m_rot = {rec->rotation[0], {rec->rotation[1], rec->rotation[2], rec->rotation[3]}};
  c->m_recordWord0 = int32_t(rec->flags);
  c->m_recordWord1 = int32_t(rec->switchWord);

  if (OvMesh* mesh = db.Mesh(rec->meshIndex)) {
    if (mesh->resources && mesh->shaderIndices) {
      for (int32_t i = 0; i < mesh->subsetCount; ++i) {
        if (!mesh->resources[i]) mesh->resources[i] = db.ShaderResource(mesh->shaderIndices[i]);
      }
    }
    c->SetMesh(mesh);
  }
  if (rec->extension && !rec->extension->IsInert()) {
    // Extension classes hand back their run-time object as an OvClumpExt.
    c->SetExtension(static_cast<OvClumpExt*>(rec->extension->GetController(c)));
  }
  c->AddAniSetControllers(db, rec->aniSetIndex);
  return c;
}

OvClump* OvClump::InstantiateNode(OvDatabase& db, int32_t index, uint8_t* seen, int depth) {
  if (index < 0 || uint32_t(index) >= db.ClumpRecordCount() || seen[index]) return nullptr;
  seen[index] = 1;
  OvClump* c = CreateFromRecord(db, index);
  if (!c) return nullptr;
  if (depth >= kMaxTreeDepth) {
    _TraceFormat("### Clump tree of '%s' too deep, children left out.\n", c->m_name ? c->m_name : "");
    return c;
  }
  for (int32_t child = db.ClumpRecord(index)->firstChild;
       child >= 0 && uint32_t(child) < db.ClumpRecordCount() && !seen[child];
       child = db.ClumpRecord(child)->nextBrother) {
    if (OvClump* made = InstantiateNode(db, child, seen, depth + 1)) c->AttachChild(made);
  }
  return c;
}

OvClump* OvClump::InstantiateTree(OvDatabase& db, int32_t index, uint8_t* seen) {
  if (!db.ClumpRecord(index)) return nullptr;
  if (seen) return InstantiateNode(db, index, seen, 0);
  auto* own = static_cast<uint8_t*>(AllocMem(db.ClumpRecordCount()));
  if (!own) return nullptr;
  std::memset(own, 0, db.ClumpRecordCount());
  OvClump* c = InstantiateNode(db, index, own, 0);
  OvMFree(own);
  return c;
}

namespace {
OvObjectFreedFn g_objectFreed = nullptr;
}  // namespace

void OvSetObjectFreedHook(OvObjectFreedFn fn) { g_objectFreed = fn; }

void OvNotifyObjectFreed(const void* object) {
  if (g_objectFreed) g_objectFreed(object);
}

OvClump::~OvClump() {
  OvNotifyObjectFreed(this);
  if (m_ctrls) {
    OvAniCtrlList* list = m_ctrls;
    m_ctrls = nullptr;
    list->Release();
  }
  ReleaseMesh();
  delete m_ext;
  m_ext = nullptr;
  OvMFree(m_world);
  OvMFree(m_vp);
  // Children go with their subtree; a child someone still holds lives on
  // without an owner.
  while (OvClump* c = m_firstChild) {
    c->Unlink();
    if (c->m_refCount > 1) c->SetLogObjTree(nullptr);
    c->Release();
  }
}

void OvClump::Release() {
  if (--m_refCount > 0) return;
  delete this;
}

// ---------------------------------------------------------------------------
// Tree.

OvScene* OvClump::GetScene() const { return m_logObj ? m_logObj->LoGetScene() : nullptr; }

void OvClump::SetLogObjTree(OvLogObj* object) {
  m_logObj = object;
  for (OvClump* c = m_firstChild; c; c = c->m_next) c->SetLogObjTree(object);
}

void OvClump::AttachChild(OvClump* chain) {
  if (!chain) return;
  int n = 0;
  for (OvClump* c = chain; c && n < OV_CHAIN_WALK_LIMIT; c = c->m_next, ++n) {
    c->m_parent = this;
    c->SetLogObjTree(m_logObj);
  }
  OvClumpChainAppend(m_firstChild, chain);
}

void OvClump::Unlink() {
  OvClump** head = nullptr;
  if (m_parent) {
    head = &m_parent->m_firstChild;
  } else if (m_logObj) {
    head = &m_logObj->m_firstClump;
  }
  if (head && *head) {
    if (*head == this) {
      *head = m_next;
      if (m_next) m_next->m_prev = (m_prev && m_prev != this) ? m_prev : m_next;
    } else if (m_prev) {
      m_prev->m_next = m_next;
      if (m_next) {
        m_next->m_prev = m_prev;
      } else {
        (*head)->m_prev = m_prev;  // this was the last
      }
    }
  }
  m_parent = nullptr;
  m_prev = nullptr;
  m_next = nullptr;
}

bool OvClump::IsDescendFrom(const OvClump* other) const {
  if (!other) return false;
  for (const OvClump* c = this; c; c = c->m_parent) {
    if (c == other) return true;
  }
  return false;
}

OvClump* OvClump::FindChild(const char* name) const {
  for (OvClump* c = m_firstChild; c; c = c->m_next) {
    if (SameName(c->m_name, name)) return c;
    if (OvClump* found = c->FindChild(name)) return found;
  }
  return nullptr;
}

OvClump* OvClump::FindById(int32_t id, int32_t serial) {
  if (m_id == id && (serial == -1 || m_serial == serial)) return this;
  for (OvClump* c = m_firstChild; c; c = c->m_next) {
    if (OvClump* found = c->FindById(id, serial)) return found;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Transforms.

OvClump* OvClump::WorldParent() const {
  if (m_parent) return m_parent;
  return m_logObj ? m_logObj->GetParentClump() : nullptr;
}

bool OvClump::GetWorldPos(OvVector& out) const {
  if (!m_world) return false;
  OvMatrixGetPos(*m_world, out);
  return true;
}

bool OvClump::GetVelocity(OvVector& out) const {
  out = {0.0f, 0.0f, 0.0f};
  if (!m_world || std::bit_cast<uint32_t>(m_prevWorldPos.x) == OV_INVALID_POS_BITS) return false;
  const OvScene* scene = GetScene();
  const float dt = scene ? scene->SecToPreFrame() : 0.0f;
  if (dt == 0.0f) return false;
  OvMatrixGetPos(*m_world, out);
  OvVectorSub(out, m_prevWorldPos);
  OvVectorScale(out, 1.0f / dt);
  return true;
}

bool OvClump::EnsureWorld() {
  if (m_world) return true;
  m_world = static_cast<OvMatrix*>(AllocMem(sizeof(OvMatrix)));
  if (!m_world) return false;
  OvMatrixIdentity(*m_world);
  return true;
}

bool OvClump::SetToWorldMatrix(const OvMatrix& m) {
  if (!EnsureWorld()) return false;
  *m_world = m;
  return true;
}

OvMatrix* OvClump::ComputeWorld(int depth) {
  OvMatrix local;
  PRSMatrix(local, *this);
  if (m_vp) OvMatMul4x3(local, local, *m_vp);
  const OvMatrix* parentWorld = nullptr;
  if (OvClump* parent = WorldParent(); parent && depth < OV_CHAIN_WALK_LIMIT) {
    parentWorld = parent->m_world ? parent->m_world : parent->ComputeWorld(depth + 1);
  }
  if (!EnsureWorld()) return nullptr;
  if (parentWorld) {
    OvMatMul4x3(*m_world, local, *parentWorld);
  } else {
    *m_world = local;
  }
  return m_world;
}

bool OvClump::CalcToWorldMatrix() { return ComputeWorld(0) != nullptr; }

OvMatrix* OvClump::NeedToWorldMatrix() {
  // Parents first, so a clump moved this frame is seen where it is now; a
  // matrix a controller wrote this frame stays.
  OvClump* chain[64];
  int n = 0;
  for (OvClump* p = WorldParent(); p && n < 64; p = p->WorldParent()) chain[n++] = p;
  while (n > 0) {
    OvClump* p = chain[--n];
    if (!(p->m_changeFlags & ACF_WORLD_MAT) || !p->m_world) p->ComputeWorld(0);
  }
  if ((m_changeFlags & ACF_WORLD_MAT) && m_world) return m_world;
  return ComputeWorld(0);
}

bool OvClump::SetVPMatrix(const OvMatrix* m) {
  if (!m) {
    OvMFree(m_vp);
    m_vp = nullptr;
    return true;
  }
  if (!m_vp) {
    m_vp = static_cast<OvMatrix*>(AllocMem(sizeof(OvMatrix)));
    if (!m_vp) return false;
  }
  *m_vp = *m;
  return true;
}

void OvClump::CalcXformParentMatrix(OvMatrix& out) {
  OvClump* parent = WorldParent();
  const OvMatrix* pw = parent ? parent->NeedToWorldMatrix() : nullptr;
  if (m_vp && pw) {
    OvMatMul4x3(out, *m_vp, *pw);
  } else if (m_vp) {
    out = *m_vp;
  } else if (pw) {
    out = *pw;
  } else {
    OvMatrixIdentity(out);
  }
}

bool OvClump::AdjustVPMatrix() {
  if (!m_world) return false;
  const OvMatrix world = *m_world;
  OvMatrix prs, prsInv;
  PRSMatrix(prs, *this);
  OvMatInverseAffine(prsInv, prs);
  OvMatrix vp;
  OvMatMul4x3(vp, prsInv, world);
  OvClump* parent = WorldParent();
  if (const OvMatrix* pw = parent ? parent->NeedToWorldMatrix() : nullptr) {
    OvMatrix pInv;
    OvMatInverseAffine(pInv, *pw);
    OvMatMul4x3(vp, vp, pInv);
  }
  return SetVPMatrix(&vp);
}

bool OvClump::DecomposeWorldToPRS() {
  if (!m_world) return false;
  OvMatrix parent, inv, local;
  CalcXformParentMatrix(parent);
  OvMatInverseAffine(inv, parent);
  OvMatMul4x3(local, *m_world, inv);
  OvMatrixGetPos(local, m_pos);
  OvMatrix rot;
  OvMatrixExtractScale(m_scale, &rot, local);
  OvQuatFromMatrix(m_rot, rot);
  return true;
}

float OvClump::GetUniScale() {
  if (!m_world) return m_uniScale;
  const float sq =
      m_world->m[0][0] * m_world->m[0][0] + m_world->m[0][1] * m_world->m[0][1] + m_world->m[0][2] * m_world->m[0][2];
  if (sq != m_uniScaleSq) {
    m_uniScaleSq = sq;
    m_uniScale = std::sqrt(sq);
  }
  return m_uniScale;
}

// ---------------------------------------------------------------------------
// Mesh.

void OvClump::ReleaseMesh() {
  OvMesh* mesh = m_mesh;
  m_mesh = nullptr;
  if (!mesh) return;
  if (mesh->sharedMesh) {
    if (mesh->deviceBuffers) {
      OvDatabase* db = OvDatabase::FindBySerial(m_serial);
      if (db && db->Renderer()) db->Renderer()->ReleaseMeshBuffers(*mesh);
    }
    OvMeshReleasePrivateCopy(mesh);
  } else {
    --mesh->refCount;
  }
}

void OvClump::SetMesh(OvMesh* mesh) {
  if (mesh == m_mesh) return;
  ReleaseMesh();
  m_mesh = mesh;
  if (mesh) ++mesh->refCount;
  ReevaluatePrivateMesh();
}

bool OvClump::MakeMeshChannelsPrivate(uint32_t channels, uint32_t sets) {
  if (!m_mesh) return false;
  if (!m_mesh->sharedMesh) {
    OvMesh* copy = OvMeshMakePrivateCopy(*m_mesh);
    if (!copy) return false;
    --m_mesh->refCount;  // the copy holds the database mesh now
    m_mesh = copy;
  }
  const uint32_t arrays = channels & (OV_MESH_POSITIONS | OV_MESH_INDICES | OV_MESH_COLORS | OV_MESH_BOUNDS |
                                      OV_MESH_NORMALS | OV_MESH_MATERIALS);
  if (!arrays && !sets) return true;
  return OvMeshMakeChannelsPrivate(*m_mesh, arrays, sets);
}

void OvClump::ReevaluatePrivateMesh() {
  if (!m_ctrls || !m_mesh) return;
  const uint32_t channels = m_ctrls->GetChannelMask() & ACF_MESH_CHANNELS;
  const uint32_t sets = m_ctrls->GetSecondaryMask();
  if (channels || sets) MakeMeshChannelsPrivate(channels, sets);
}

bool OvClump::GetBoundingSphere(OvVector& centre, float& radius) const {
  if (!m_mesh || !m_mesh->bounds) {
    centre = {0.0f, 0.0f, 0.0f};
    radius = 0.0f;
    return false;
  }
  centre = {m_mesh->bounds[0], m_mesh->bounds[1], m_mesh->bounds[2]};
  radius = m_mesh->bounds[3];
  return true;
}

void OvClump::MarkChanged(uint32_t flags) {
  m_changeFlags |= flags;
  if (m_mesh) m_mesh->changeFlags |= flags & ACF_MESH_FORWARD;
}

void OvClump::MarkSetCoordsChanged(int set) {
  if (set < 0 || set >= 8) return;
  m_setChangeBits |= 1u << (16 + set);
  if (m_mesh) m_mesh->changeFlags |= 1u << (16 + set);
}

void OvClump::MarkSetIndicesChanged(int set) {
  if (set < 0 || set >= 8) return;
  m_setChangeBits |= 1u << set;
  if (m_mesh) m_mesh->changeFlags |= 1u << (24 + set);
}

void OvClump::SetExtension(OvClumpExt* ext) {
  if (ext == m_ext) return;
  delete m_ext;
  m_ext = ext;
}

// ---------------------------------------------------------------------------
// Controllers.

bool OvClump::AddAniCtrl(OvAniCtrl* ctrl) {
  if (!ctrl) return false;
  if (!m_ctrls) {
    m_ctrls = OvAniCtrlList::Create();
    if (!m_ctrls) return false;
  }
  if (!m_ctrls->Append(ctrl)) return false;
  ReevaluatePrivateMesh();
  ctrl->Attached(this);
  return true;
}

bool OvClump::DelAniCtrl(OvAniCtrl* ctrl) {
  if (!ctrl || !m_ctrls || !m_ctrls->Contains(ctrl)) return false;
  if (OvScene* scene = GetScene()) scene->DropRegistrations(ctrl, this);
  return m_ctrls->Remove(ctrl);
}

void OvClump::AddAniSetControllers(OvDatabase& db, int32_t aniSetIndex) {
  const OvDbAniSet* set = db.AniSet(aniSetIndex);
  if (!set || !set->nodes) return;
  for (uint16_t i = 0; i < set->count; ++i) {
    OvDbNode* node = set->nodes[i];
    if (!node || node->IsInert()) continue;
    auto* ctrl = static_cast<OvAniCtrl*>(node->GetController(this));
    if (ctrl && !AddAniCtrl(ctrl)) ctrl->Release();
  }
}

// ---------------------------------------------------------------------------
// Per frame.

void OvClump::AnimateOne(int32_t t) {
  m_changeFlags = 0;
  m_setChangeBits = 0;
  OvVector before{};
  const bool had = m_world != nullptr;
  if (had) OvMatrixGetPos(*m_world, before);
  if (m_ctrls) m_ctrls->Animate(this, t);
  if (had) m_prevWorldPos = before;
  if (!(m_changeFlags & ACF_WORLD_MAT)) CalcToWorldMatrix();
  if (m_firstChild) m_firstChild->AnimateChain(t);
}

void OvClump::AnimateChain(int32_t t) {
  for (OvClump* c = this; c; c = c->m_next) c->AnimateOne(t);
}

bool OvClump::CullOne(OvScene& scene) {
  if (m_ext && m_ext->Kind() == OV_EXT_LIGHT) {
    const auto* light = static_cast<const OvLight*>(m_ext);
    const OvLightData& d = light->Data();
    bool take = scene.LightingOn() && d.type == OV_LIGHT_DIRECTIONAL;
    if (!take && m_world) {
      OvVector at;
      OvXformPoint(at, d.position, *m_world);
      take = scene.SphereInFrustum(at, 1.5f * d.range);
    }
    if (take) scene.AppendLight(this, light);
    return false;  // a light is never drawn itself
  }
  OvVector centre;
  float radius = 0.0f;
  bool hasSphere;
  if (m_ext && m_ext->GetBoundingSphere(centre, radius)) {
    hasSphere = true;
  } else {
    if (!m_mesh) return false;
    hasSphere = GetBoundingSphere(centre, radius);
  }
  if (!m_world || IsInvisible()) return false;
  if (!hasSphere) return true;
  OvVector world;
  OvXformPoint(world, centre, *m_world);
  return scene.SphereVisible(world, radius * GetUniScale());
}

void OvClump::CullChain(OvScene& scene) {
  for (OvClump* c = this; c; c = c->m_next) {
    const bool visible = c->CullOne(scene) && scene.AppendRender(c);
    c->m_culled = !visible;
    if (c->m_firstChild) c->m_firstChild->CullChain(scene);
  }
}

// ---------------------------------------------------------------------------
// Light extension.

bool OvDbLightExt::Read(OvStream& stream, OvChunkArena& arena) {
  (void)arena;
  OvLightData& d = m_data;
  return stream.ReadLayout("ii RRRR RRRR RRRR RRR RRR RR RRR RR", &m_format, &d.type, &d.diffuse[0], &d.diffuse[1],
                           &d.diffuse[2], &d.diffuse[3], &d.specular[0], &d.specular[1], &d.specular[2], &d.specular[3],
                           &d.ambient[0], &d.ambient[1], &d.ambient[2], &d.ambient[3], &d.position.x, &d.position.y,
                           &d.position.z, &d.direction.x, &d.direction.y, &d.direction.z, &d.range, &d.falloff,
                           &d.attenuation[0], &d.attenuation[1], &d.attenuation[2], &d.theta, &d.phi);
}

bool OvDbLightExt::Write(OvStream& stream) const {
  const OvLightData& d = m_data;
  return stream.WriteLayout("ii ffff ffff ffff fff fff ff fff ff", kFormat, d.type, d.diffuse[0], d.diffuse[1],
                            d.diffuse[2], d.diffuse[3], d.specular[0], d.specular[1], d.specular[2], d.specular[3],
                            d.ambient[0], d.ambient[1], d.ambient[2], d.ambient[3], d.position.x, d.position.y,
                            d.position.z, d.direction.x, d.direction.y, d.direction.z, d.range, d.falloff,
                            d.attenuation[0], d.attenuation[1], d.attenuation[2], d.theta, d.phi);
}

void* OvDbLightExt::GetController(void* clump) {
  (void)clump;
  return static_cast<OvClumpExt*>(new OvLight(m_data));
}

namespace {

class OvLightExtType : public OvNodeType {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_LIGHT_EXT_TYPE; }
  int GetFamily() const override { return OV_FAMILY_EXTENSION; }
  OvDbNode* Create(OvChunkArena& arena) const override { return OvArenaNew<OvDbLightExt>(arena); }
};

}  // namespace

void OvRegisterLightExtensionType() {
  OvTypeRegistry& reg = OvExtensionClasses();
  if (reg.FindType(OV_LIGHT_EXT_TYPE)) return;
  reg.Register(new OvLightExtType());
}
