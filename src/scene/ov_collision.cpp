#include "ov_collision.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ov_anictrl.h"
#include "ov_database.h"

namespace {

struct PairRow {
  int8_t a, b, kind;
};

// Tested in this order in every cell.
constexpr PairRow kPairs[] = {
    {0, 8, 1},   {0, 12, 1},  {0, 20, 1},  {10, 0, 2},  {8, 4, 1},   {8, 20, 1},  {16, 4, 1},  {16, 12, 1},
    {18, 0, 2},  {18, 8, 2},  {18, 16, 2}, {2, 4, 3},   {2, 12, 3},  {2, 20, 3},  {18, 4, 3},  {18, 12, 3},
    {18, 20, 3}, {10, 4, 3},  {10, 12, 3}, {10, 20, 3}, {24, 26, 1}, {24, 4, 1},  {24, 12, 1}, {24, 20, 1},
    {31, 2, 4},  {31, 18, 4}, {31, 10, 4}, {31, 8, 4},  {31, 0, 4},  {31, 16, 4}, {31, 24, 4}, {31, 30, 4},
};

constexpr float kXYOffsets[4] = {-6000.0f, -1000.0f, 1000.0f, 6000.0f};
constexpr float kZOffsets[2] = {-2000.0f, 2000.0f};
constexpr int kMaxClumpDepth = 256;
constexpr int kMaxParentChain = 1024;
constexpr float kDamageMemorySec = 0.2f;
constexpr int64_t kMaxShare = INT64_C(0xFFFFFFFF);

// Remembers recent attackers of an object so a lasting touch hurts once.
class AcDamageMemory final : public OvAniCtrl {
 public:
  AcDamageMemory() { SetOwned(true); }
  static const void* ClassTag() {
    static const char tag = 0;
    return &tag;
  }
  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }

  // True when `attacker` may hurt now; it is then remembered. Only the
  // address is kept, never followed.
  bool Admit(const void* attacker, float now) {
    Entry* slot = &m_entries[0];
    for (Entry& e : m_entries) {
      if (e.attacker == attacker && now < e.until && now >= e.until - kDamageMemorySec) return false;
      if (e.until < slot->until) slot = &e;
    }
    for (Entry& e : m_entries) {
      if (e.attacker == attacker) slot = &e;
    }
    *slot = {attacker, now + kDamageMemorySec};
    return true;
  }

 private:
  struct Entry {
    const void* attacker = nullptr;
    float until = -1.0e30f;
  };
  Entry m_entries[8];
};

// Deletes its object once its clump is the only one left.
class AcSelfRemoval final : public OvAniCtrl {
 public:
  AcSelfRemoval() { SetOwned(true); }
  int32_t GetCtrlId() const override { return OV_CTRL_ID_SELF_REMOVAL; }
  void Animate(OvClump* clump, int32_t time) override {
    const OvLogObj* object = clump ? clump->GetLogObj() : nullptr;
    if (object && object->GetClumps() == clump && !clump->GetNextBrother()) {
      OvAniCtrlRegisterHrchy(clump, this, time);
    }
  }
  void Hierarchy(OvClump* clump, int32_t) override {
    OvLogObj* object = clump ? clump->GetLogObj() : nullptr;
    OvScene* scene = object ? object->LoGetScene() : nullptr;
    if (scene) scene->DelLogObj(object);
  }
};

bool RootPos(const OvLogObj& o, OvVector& out) {
  const OvClump* root = o.GetClumps();
  return root && root->GetWorldPos(out);
}

OvCollisionHandler* g_installed[16] = {};

}  // namespace

// ---------------------------------------------------------------------------

bool OvCollEventPoint(const OvCollContactData& data, OvVector& point, OvVector& normal) {
  if (data.kind == 1) {
    point = {(data.a.x + data.b.x) * 0.5f, (data.a.y + data.b.y) * 0.5f, (data.a.z + data.b.z) * 0.5f};
    normal = {0.0f, 0.0f, 1.0f};
    return true;
  }
  if (data.kind == 2) {
    point = data.a;
    normal = data.b;
    return true;
  }
  return false;
}

void OvCollSurfaceMatrix(OvMatrix& out, const OvVector& point, const OvVector& normal) {
  OvVector z = normal;
  if (!(OvSquareLength(z) > 1e-12f)) z = {0.0f, 0.0f, 1.0f};
  OvNormalize(z);
  const OvVector helper = std::fabs(z.z) < 0.9f ? OvVector{0.0f, 0.0f, 1.0f} : OvVector{1.0f, 0.0f, 0.0f};
  OvVector x, y;
  OvVectorNormCrossProd(x, helper, z);
  OvVectorCrossProd(y, z, x);
  OvMatrixIdentity(out);
  OvMatrixSetRow(out, 0, x);
  OvMatrixSetRow(out, 1, y);
  OvMatrixSetRow(out, 2, z);
  OvMatrixSetPos(out, point);
}

const void* OvCollEventNode::EventClassKey() {
  static const char key = 0;
  return &key;
}

bool OvCollAskNodes(uint32_t event, OvClump* self, OvClump* other, const OvCollContactData& contact) {
  const OvLogObj* object = self ? self->GetLogObj() : nullptr;
  const OvClump* root = object ? object->GetClumps() : nullptr;
  if (!root) return false;
  const OvDatabase* db = OvDatabase::FindBySerial(root->GetSerial());
  const OvClumpRecord* rec = db ? db->ClumpRecord(root->GetRecordIndex()) : nullptr;
  const OvDbAniSet* set = rec ? db->AniSet(rec->aniSetIndex) : nullptr;
  if (!set || !set->nodes) return false;
  bool taken = false;
  for (int i = 0; i < int(set->count); ++i) {
    OvDbNode* node = set->nodes[i];
    if (!node || !node->IsClass(OvCollEventNode::EventClassKey())) continue;
    auto* ev = static_cast<OvCollEventNode*>(node);
    if (!(ev->EventMask() & event)) continue;
    taken = true;
    if (event == OV_COLL_EVENT_HIT) {
      ev->OnHit(self, other, contact);
    } else if (event == OV_COLL_EVENT_DESTROYED) {
      ev->OnDestroyed(self, other, contact);
    } else if (event == OV_COLL_EVENT_TOUCH) {
      ev->OnTouch(self, other, contact);
    }
  }
  return taken;
}

void OvCollisionBox::HandleContacts(OvCollisionHandler& handler, OvCollVolume& volume) {
  OvScene* scene = volume.object ? volume.object->LoGetScene() : nullptr;
  if (scene) handler.DispatchContacts(*scene, volume);
}

// ---------------------------------------------------------------------------

OvCollisionHandler::OvCollisionHandler(OvDatabase* db) : m_db(db), m_arena(new OvChunkArena(OV_COLL_ARENA_BLOCK)) {}

OvCollisionHandler::~OvCollisionHandler() { delete m_arena; }

void OvCollisionHandler::SetDatabase(OvDatabase* db) {
  if (db == m_db) return;
  m_db = db;
  m_explosion = m_dragSmoke = m_hit = m_hitTerrain = -1;
}

void OvCollisionHandler::ReleaseHook() {
  for (OvCollisionHandler*& h : g_installed) {
    if (h == this) h = nullptr;
  }
  delete this;
}

int OvCollisionHandler::Slot(float v, float c, const float* offsets, int n) {
  int slot = 0;
  while (slot < n && v >= c + offsets[slot]) ++slot;
  return slot;
}

int32_t OvCollisionHandler::Template(const char* name, int32_t& cache) {
  if (!m_db) return -1;
  cache = m_db->FindClumpRecordIndex(name, cache);
  return cache;
}

bool OvCollisionHandler::Run(OvScene& scene) {
  if (scene.FrameDelta() == 0 || !m_arena) return true;
  m_scene = &scene;
  m_camera = {0.0f, 0.0f, 0.0f};
  if (const OvClump* camera = scene.GetCrntCamera()) camera->GetWorldPos(m_camera);
  m_arena->Reset();
  std::memset(static_cast<void*>(m_cells), 0, sizeof(m_cells));
  m_spheres = m_volumes = m_tests = m_contacts = 0;

  bool full = false;
  VisitTree(scene.GetLogObjs(), full);
  for (Cell& cell : m_cells) {
    if (cell.count >= 2) TestCell(cell);
  }

  scene.RaiseBusy();
  ResolveTree(scene, scene.GetLogObjs());
  ClearVolumes(scene.GetLogObjs());
  scene.LowerBusy();
  m_arena->Reset();
  m_scene = nullptr;
  return true;
}

void OvCollisionHandler::VisitTree(OvLogObj* first, bool& full) {
  for (OvLogObj* o = first; o && !full; o = o->LoGetNextBrother()) {
    o->SetVolume(nullptr);
    if (o->GetObjFlags() & OV_LO_COLLIDABLE) BuildVolume(*o, full);
    if (o->LoGetChild()) VisitTree(o->LoGetChild(), full);
  }
}

bool OvCollisionHandler::BuildVolume(OvLogObj& object, bool& full) {
  OvCollVolume* volume = OvArenaNew<OvCollVolume>(*m_arena);
  if (!volume) {
    full = true;
    return false;
  }
  *volume = {&object, {0, 0, 0}, {0, 0, 0}, nullptr, nullptr, 0, 0};
  OvCollSphere** tail = &volume->spheres;

  // Depth-first over the clump trees, with an explicit stack.
  OvClump* stack[kMaxClumpDepth];
  int depth = 0;
  OvClump* c = object.GetClumps();
  while (c && m_spheres < OV_COLL_MAX_SPHERES && !full) {
    OvVector centre;
    float radius = 0.0f;
    const OvMatrix* world = c->GetToWorldMatrix();
    if (world && c->GetBoundingSphere(centre, radius) && radius > 0.0f) {
      OvVector row;
      OvMatrixGetRow(*world, 0, row);
      const float len = OvLength(row);
      OvCollSphere* s = OvArenaNew<OvCollSphere>(*m_arena);
      if (!s) {
        full = true;
        break;
      }
      OvXformPoint(s->centre, centre, *world);
      s->clump = c;
      s->radius = len != 1.0f ? radius * len : radius;
      s->next = nullptr;
      *tail = s;
      tail = &s->next;
      ++m_spheres;
    }
    if (c->GetChild() && depth < kMaxClumpDepth) {
      stack[depth++] = c;
      c = c->GetChild();
      continue;
    }
    while (c && !c->GetNextBrother() && depth > 0) c = stack[--depth];
    c = c ? c->GetNextBrother() : nullptr;
  }
  if (full) return false;

  if (volume->spheres) {
    bool first = true;
    for (const OvCollSphere* s = volume->spheres; s; s = s->next) {
      const OvVector lo{s->centre.x - s->radius, s->centre.y - s->radius, s->centre.z - s->radius};
      const OvVector hi{s->centre.x + s->radius, s->centre.y + s->radius, s->centre.z + s->radius};
      if (first) {
        volume->min = lo;
        volume->max = hi;
        first = false;
      } else {
        OvVectorMin(volume->min, volume->min, lo);
        OvVectorMax(volume->max, volume->max, hi);
      }
    }
    const uint32_t flags = object.GetObjFlags();
    volume->list = (flags & OV_LO_LIST30) ? OV_COLL_LIST_FLAGGED : OvCollCategory(object);
  } else {
    OvObjResource* res = object.GetResource();
    if (!res || !res->IsBox()) return false;
    if (!static_cast<OvCollisionBox*>(res)->GetWorldBox(object, volume->min, volume->max)) return false;
    volume->list = OV_COLL_LIST_BOX;
  }
  object.SetVolume(volume);
  ++m_volumes;
  if (Insert(*volume)) return true;
  full = true;
  return false;
}

bool OvCollisionHandler::Insert(OvCollVolume& volume) {
  // Lists past the table's reach are never tested.
  if (volume.list < 0 || volume.list >= OV_COLL_LISTS) return true;
  OvVector lo = volume.min, hi = volume.max;
  if (OvCollInG4(OvCollCategory(*volume.object))) {
    if (const OvClump* root = volume.object->GetClumps()) {
      // Fast movers sweep from where they were.
      OvVectorMin(lo, lo, root->GetPrevWorldPos());
      OvVectorMax(hi, hi, root->GetPrevWorldPos());
    }
  }
  const int x0 = Slot(lo.x, m_camera.x, kXYOffsets, 4), x1 = Slot(hi.x, m_camera.x, kXYOffsets, 4);
  const int y0 = Slot(lo.y, m_camera.y, kXYOffsets, 4), y1 = Slot(hi.y, m_camera.y, kXYOffsets, 4);
  const int z0 = Slot(lo.z, m_camera.z, kZOffsets, 2), z1 = Slot(hi.z, m_camera.z, kZOffsets, 2);
  for (int z = z0; z <= z1; ++z) {
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        Cell& cell = m_cells[(z * OV_COLL_ROWS + y) * OV_COLL_COLS + x];
        Link* link = OvArenaNew<Link>(*m_arena);
        if (!link) return false;
        *link = {&volume, cell.lists[volume.list]};
        cell.lists[volume.list] = link;
        ++cell.count;
      }
    }
  }
  return true;
}

void OvCollisionHandler::TestCell(Cell& cell) {
  for (const PairRow& row : kPairs) {
    for (Link* la = cell.lists[row.a]; la; la = la->next) {
      for (Link* lb = cell.lists[row.b]; lb; lb = lb->next) {
        OvCollVolume& a = *la->volume;
        OvCollVolume& b = *lb->volume;
        if (&a == &b || a.object == b.object) continue;
        // Kinds 4 and 5 take their volumes the other way round.
        if (row.kind >= 4) {
          Test(row.kind, b, a);
        } else {
          Test(row.kind, a, b);
        }
      }
    }
  }
}

bool OvCollisionHandler::Test(int kind, OvCollVolume& a, OvCollVolume& b) {
  (void)kind;  // every kind uses the same sphere and box tests
  // Volumes spanning several cells meet in each of them: one contact a pair.
  for (const OvCollVolume* v : {&a, &b}) {
    for (const OvCollContact* c = v->contacts; c; c = c->next) {
      if ((c->volume[0] == &a && c->volume[1] == &b) || (c->volume[0] == &b && c->volume[1] == &a)) return false;
    }
  }
  ++m_tests;
  if (a.min.x > b.max.x || b.min.x > a.max.x || a.min.y > b.max.y || b.min.y > a.max.y || a.min.z > b.max.z ||
      b.min.z > a.max.z) {
    return false;
  }
  OvCollContactData data;
  OvClump* ca = nullptr;
  OvClump* cb = nullptr;
  if (a.spheres && b.spheres) {
    bool hit = false;
    for (const OvCollSphere* sa = a.spheres; sa && !hit; sa = sa->next) {
      for (const OvCollSphere* sb = b.spheres; sb && !hit; sb = sb->next) {
        const float r = sa->radius + sb->radius;
        const float d2 = OvSquareDistance(sa->centre, sb->centre);
        if (d2 > r * r) continue;
        hit = true;
        ca = sa->clump;
        cb = sb->clump;
        const float d = std::sqrt(d2);
        OvVector dir{0.0f, 0.0f, 1.0f};
        if (d > 0.0f)
          dir = {(sb->centre.x - sa->centre.x) / d, (sb->centre.y - sa->centre.y) / d,
                 (sb->centre.z - sa->centre.z) / d};
        data.kind = 1;
        data.a = {sa->centre.x + dir.x * sa->radius, sa->centre.y + dir.y * sa->radius,
                  sa->centre.z + dir.z * sa->radius};
        data.b = {sb->centre.x - dir.x * sb->radius, sb->centre.y - dir.y * sb->radius,
                  sb->centre.z - dir.z * sb->radius};
      }
    }
    if (!hit) return false;
  } else if (a.spheres || b.spheres) {
    const OvCollVolume& sv = a.spheres ? a : b;
    const OvCollVolume& bv = a.spheres ? b : a;
    bool hit = false;
    for (const OvCollSphere* s = sv.spheres; s && !hit; s = s->next) {
      const OvVector p{std::clamp(s->centre.x, bv.min.x, bv.max.x), std::clamp(s->centre.y, bv.min.y, bv.max.y),
                       std::clamp(s->centre.z, bv.min.z, bv.max.z)};
      const float d2 = OvSquareDistance(p, s->centre);
      if (d2 > s->radius * s->radius) continue;
      hit = true;
      (a.spheres ? ca : cb) = s->clump;
      OvVector n{s->centre.x - p.x, s->centre.y - p.y, s->centre.z - p.z};
      if (d2 > 0.0f) {
        OvNormalize(n);
      } else {
        n = {0.0f, 0.0f, 1.0f};
      }
      data.kind = 2;
      data.a = p;
      data.b = n;
    }
    if (!hit) return false;
  } else {
    data.kind = 2;
    data.a = {(std::max(a.min.x, b.min.x) + std::min(a.max.x, b.max.x)) * 0.5f,
              (std::max(a.min.y, b.min.y) + std::min(a.max.y, b.max.y)) * 0.5f,
              (std::max(a.min.z, b.min.z) + std::min(a.max.z, b.max.z)) * 0.5f};
    data.b = {0.0f, 0.0f, 1.0f};
  }
  if (!ca && a.object) ca = a.object->GetClumps();
  if (!cb && b.object) cb = b.object->GetClumps();

  OvCollContact* contact = OvArenaNew<OvCollContact>(*m_arena);
  if (!contact) return false;
  OvCollVolume& keeper = b.contactCount < a.contactCount ? b : a;
  *contact = {{&a, &b}, {ca, cb}, data, keeper.contacts};
  keeper.contacts = contact;
  ++keeper.contactCount;
  ++m_contacts;
  return true;
}

void OvCollisionHandler::ResolveTree(OvScene& scene, OvLogObj* first) {
  for (OvLogObj* o = first; o; o = o->LoGetNextBrother()) {
    if (auto* volume = static_cast<OvCollVolume*>(o->GetVolume())) {
      OvObjResource* res = o->GetResource();
      if (res && res->IsBox()) {
        static_cast<OvCollisionBox*>(res)->HandleContacts(*this, *volume);
      } else {
        DispatchContacts(scene, *volume);
      }
    }
    if (o->LoGetChild()) ResolveTree(scene, o->LoGetChild());
  }
}

void OvCollisionHandler::ClearVolumes(OvLogObj* first) {
  for (OvLogObj* o = first; o; o = o->LoGetNextBrother()) {
    o->SetVolume(nullptr);
    if (o->LoGetChild()) ClearVolumes(o->LoGetChild());
  }
}

void OvCollisionHandler::DispatchContacts(OvScene& scene, OvCollVolume& volume) {
  for (const OvCollContact* c = volume.contacts; c; c = c->next) {
    const int s = c->volume[0] == &volume ? 0 : 1;
    OvLogObj* self = c->volume[s]->object;
    OvLogObj* other = c->volume[1 - s]->object;
    Dispatch(scene, self, c->clump[s], other, c->clump[1 - s], c->data);
    Dispatch(scene, other, c->clump[1 - s], self, c->clump[s], c->data);
  }
}

// ---------------------------------------------------------------------------
// Reactions.

void OvCollisionHandler::Dispatch(OvScene& scene, OvLogObj* self, OvClump* sc, OvLogObj* other, OvClump* oc,
                                  const OvCollContactData& contact) {
  if (!self || !other) return;
  const int cs = OvCollCategory(*self);
  const int co = OvCollCategory(*other);
  if (cs == 26) {
    ReactionA(scene, self, sc, oc, contact);
  } else if (cs == 24) {
    if (OvCollInG4(co)) {
      ReactionB(scene, self, other, sc, oc, contact);
    } else {
      ReactionA(scene, self, sc, oc, contact);
    }
  } else if (OvCollInG2(cs)) {
    if (OvCollInG4(co)) ReactionB(scene, self, other, sc, oc, contact);
  } else if (OvCollInG4(cs) && (OvCollInG2(co) || co == 24)) {
    ReactionC(scene, self, other, sc, oc, contact);
  } else {
    ApplyDamage(scene, *self, *other);
    if (self->GetHealth() <= 0) {
      ReactionC(scene, self, other, sc, oc, contact);
    } else if (other->GetDPower() == 0) {
      ReactionA(scene, self, sc, oc, contact);
    } else {
      ReactionB(scene, self, other, sc, oc, contact);
    }
  }
}

void OvCollisionHandler::ApplyDamage(OvScene& scene, OvLogObj& self, OvLogObj& other) {
  if (self.GetObjFlags() & OV_LO_IMMUNE) return;
  if (OvClump* root = self.GetClumps()) {
    auto* memory = static_cast<AcDamageMemory*>(root->FindAniCtrlByTag(AcDamageMemory::ClassTag()));
    if (!memory) {
      memory = new AcDamageMemory();
      if (memory && !root->AddAniCtrl(memory)) {
        memory->Release();
        memory = nullptr;
      }
    }
    if (memory && !memory->Admit(&other, scene.GetTime_Sec())) return;
  }
  int64_t d = other.GetDPower();
  OvLogObj* target = &self;
  for (int n = 0; target && n < kMaxParentChain; ++n, target = target->LoGetParent()) {
    // An immune ancestor keeps its health but passes the share on.
    if (target == &self || !(target->GetObjFlags() & OV_LO_IMMUNE)) {
      target->SetHealth(OvSaturateI32(int64_t(target->GetHealth()) - d));
    }
    // A share this large saturates any health already; clamping it keeps the
    // next product within 64 bits whatever hurt rates content sets.
    d = std::clamp<int64_t>(d * target->GetParentHurtRate() / 100, -kMaxShare, kMaxShare);
  }
}

void OvCollisionHandler::ReactionA(OvScene& scene, OvLogObj* self, OvClump* sc, OvClump* oc,
                                   const OvCollContactData& contact) {
  if (OvCollAskNodes(OV_COLL_EVENT_TOUCH, sc ? sc : self->GetClumps(), oc, contact)) return;
  if (OvCollCategory(*self) == 26) scene.DelLogObj(self);
}

void OvCollisionHandler::ReactionB(OvScene& scene, OvLogObj* self, OvLogObj* other, OvClump* sc, OvClump* oc,
                                   const OvCollContactData& contact) {
  if (OvCollAskNodes(OV_COLL_EVENT_HIT, sc ? sc : self->GetClumps(), oc, contact)) return;
  const int cs = OvCollCategory(*self);
  if (OvCollInG4(cs)) return;
  OvVector point, normal;
  const bool hasPoint = OvCollEventPoint(contact, point, normal);
  if (OvCollInG2(cs)) {
    const int32_t rec = Template("O_HitTerrain", m_hitTerrain);
    if (hasPoint && rec >= 0 && m_db) {
      OvMatrix m;
      OvCollSurfaceMatrix(m, point, normal);
      OvEmitObjectCore(scene, &m, *m_db, rec, 200, true, false);
    }
    return;
  }
  if (m_listener && !m_listener->GameOver() && OvCollInG8(cs) && OvCollCategory(*other) == 4) {
    const int32_t points = std::min(other->GetDPower(), self->GetHealth());
    if (points > 0) m_listener->AddScore(points);
  }
  if (!hasPoint) return;
  const int32_t rec = Template("O_Hit", m_hit);
  if (rec >= 0 && m_db) {
    OvMatrix m;
    OvMatrixIdentity(m);
    OvMatrixSetPos(m, point);
    OvEmitObjectCore(scene, &m, *m_db, rec, 200, false, false);
  }
  if (m_listener) {
    float size = 0.0f;
    if (const auto* volume = static_cast<const OvCollVolume*>(self->GetVolume())) {
      size = 0.33f * OvDistance(volume->min, volume->max);
    }
    const float params[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    m_listener->StartBurst(point, size, params, 0.1f);
  }
}

void OvCollisionHandler::ReactionC(OvScene& scene, OvLogObj* self, OvLogObj* other, OvClump* sc, OvClump* oc,
                                   const OvCollContactData& contact) {
  const int cs = OvCollCategory(*self);
  const int co = OvCollCategory(*other);
  if (m_listener && OvCollInG8(cs) && (co == 0 || co == 4)) {
    m_listener->CountKill();
    if (!m_listener->GameOver() && std::strcmp(other->LoGetName(), "MainRole") != 0) {
      m_listener->AddScore(self->GetFullHealth());
    }
  }
  if (self->GetStateFlags() & OV_LOS_DESTROY_HANDLED) return;
  self->SetStateFlags(self->GetStateFlags() | OV_LOS_DESTROY_HANDLED);
  if (OvCollAskNodes(OV_COLL_EVENT_DESTROYED, sc ? sc : self->GetClumps(), oc, contact)) return;
  if (OvCollInG4(cs)) {
    scene.DelLogObj(self);
    return;
  }
  OvVector point, normal;
  if (!OvCollEventPoint(contact, point, normal) && !RootPos(*self, point)) point = {0.0f, 0.0f, 0.0f};
  const int32_t rec = Template("O_explosion1", m_explosion);
  if (rec >= 0 && m_db) {
    OvMatrix m;
    OvMatrixIdentity(m);
    OvMatrixSetPos(m, point);
    OvEmitObjectCore(scene, &m, *m_db, rec, 1000, false, false);
  } else if (m_listener) {
    const float params[4] = {2.0f, 0.8f, 0.0f, 1.0f};
    m_listener->StartBurst(point, 0.0f, params, 0.5f);
  }
  if (OvClump* root = self->GetClumps()) {
    if (m_listener) {
      OvVector from{0, 0, 0}, to{0, 0, 0};
      RootPos(*other, from);
      RootPos(*self, to);
      OvVector dir = OvSub(to, from);
      if (OvSquareLength(dir) > 0.0f) OvNormalize(dir);
      m_listener->AttachSmokeTrail(*root, Template("O_DragSmoke", m_dragSmoke), m_smoke, dir);
    }
  }
  self->SetObjFlags(self->GetObjFlags() & ~OV_LO_COLLIDABLE);
  if (OvClump* remover = OvClump::Create()) {
    auto* ctrl = new AcSelfRemoval();
    if (ctrl && !remover->AddAniCtrl(ctrl)) ctrl->Release();
    self->AppendClumps(remover);
  }
}

// ---------------------------------------------------------------------------

OvCollisionHandler* OvCollisionFind(const OvScene& scene) {
  for (OvCollisionHandler* h : g_installed) {
    if (h && h->Scene() == &scene) return h;
  }
  return nullptr;
}

OvCollisionHandler* OvCollisionInstall(OvScene& scene, OvDatabase& db) {
  if (OvCollisionHandler* h = OvCollisionFind(scene)) {
    h->SetDatabase(&db);
    return h;
  }
  OvCollisionHandler** slot = nullptr;
  for (OvCollisionHandler*& h : g_installed) {
    if (!h) {
      slot = &h;
      break;
    }
  }
  auto* handler = new OvCollisionHandler(&db);
  if (!handler) return nullptr;
  handler->SetOwner(&scene);
  if (!scene.RegisterHook(handler, 3)) {
    delete handler;
    return nullptr;
  }
  if (slot) *slot = handler;
  return handler;
}
