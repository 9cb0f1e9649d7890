// The per-frame collision pass: bounding volumes of the collidable logical
// objects, a coarse grid around the camera, category lists tested by a fixed
// pair table, and the reactions to contacts (damage up the parent chain,
// deletion, hit and explosion objects). Behaviour nodes may take over any
// reaction through the event-node interface below.
#pragma once

#include <cstdint>

#include "ov_clump.h"
#include "ov_logobj.h"
#include "ov_math.h"
#include "ov_memory.h"
#include "ov_node_type.h"
#include "ov_scene.h"

class OvDatabase;

// Object categories (the low flag byte without bit 0) and the list indices
// that are not categories.
inline constexpr int OV_COLL_LISTS = 32;
inline constexpr int OV_COLL_LIST_FLAGGED = 30;
inline constexpr int OV_COLL_LIST_BOX = 31;
inline constexpr int OV_COLL_LAYERS = 3;
inline constexpr int OV_COLL_ROWS = 5;
inline constexpr int OV_COLL_COLS = 5;
inline constexpr int OV_COLL_CELLS = OV_COLL_LAYERS * OV_COLL_ROWS * OV_COLL_COLS;
inline constexpr int OV_COLL_MAX_SPHERES = 1024;
inline constexpr int32_t OV_COLL_ARENA_BLOCK = 65532;

// Events behaviour nodes can take (bits of an event mask).
inline constexpr uint32_t OV_COLL_EVENT_HIT = 1;
inline constexpr uint32_t OV_COLL_EVENT_DESTROYED = 2;
inline constexpr uint32_t OV_COLL_EVENT_TOUCH = 4;

inline constexpr int32_t OV_CTRL_ID_SELF_REMOVAL = 204;

inline bool OvCollInG2(int c) { return c == 2 || c == 10 || c == 18; }
inline bool OvCollInG4(int c) { return c == 4 || c == 12 || c == 20; }
inline bool OvCollInG8(int c) { return c == 8 || c == 16; }
inline int OvCollCategory(const OvLogObj& o) { return int(o.GetObjFlags() & OV_LO_CATEGORY_MASK); }

// What a narrow-phase test found. Kind 1: two surface points (the event
// point is their midpoint, the normal is +z). Kind 2: a point and a normal.
struct OvCollContactData {
  int32_t kind = 0;
  OvVector a{0.0f, 0.0f, 0.0f};
  OvVector b{0.0f, 0.0f, 0.0f};
};

// Event point and surface normal of a contact; false for any other kind.
bool OvCollEventPoint(const OvCollContactData& data, OvVector& point, OvVector& normal);
// A placement whose z axis is the normal and whose position is the point.
void OvCollSurfaceMatrix(OvMatrix& out, const OvVector& point, const OvVector& normal);

// ---------------------------------------------------------------------------
// Per-frame records (all in the handler's arena).

struct OvCollSphere {
  OvClump* clump;
  OvVector centre;
  float radius;
  OvCollSphere* next;
};

struct OvCollVolume;

struct OvCollContact {
  OvCollVolume* volume[2];  // the two sides
  OvClump* clump[2];        // the touching clumps (null for a box side)
  OvCollContactData data;
  OvCollContact* next;
};

struct OvCollVolume {
  OvLogObj* object;
  OvVector min, max;
  OvCollSphere* spheres;
  OvCollContact* contacts;
  int32_t contactCount;
  int32_t list;
};

// ---------------------------------------------------------------------------
// The box resource the pass understands (OvObjResource::IsBox answers true
// only for this class).

class OvCollisionHandler;

class OvCollisionBox : public OvObjResource {
 public:
  bool IsBox() const final { return true; }
  // The world box of the object this frame; false gives it no volume.
  virtual bool GetWorldBox(const OvLogObj& object, OvVector& min, OvVector& max) const = 0;
  // The object's contacts; the base dispatches each both ways, like any
  // other object.
  virtual void HandleContacts(OvCollisionHandler& handler, OvCollVolume& volume);
};

// ---------------------------------------------------------------------------
// What the pass tells the application (score, game state, particle effects).

class OvCollisionListener {
 public:
  virtual ~OvCollisionListener() = default;
  virtual bool GameOver() const { return false; }
  virtual void AddScore(int32_t points) { (void)points; }
  virtual void CountKill() {}
  // A particle burst at `at`: size, four parameters and a fifth.
  virtual void StartBurst(const OvVector& at, float size, const float params[4], float fifth) {
    (void)at, (void)size, (void)params, (void)fifth;
  }
  // A smoke trail on `clump` emitting clump record `templateRecord` (-1 none).
  virtual void AttachSmokeTrail(OvClump& clump, int32_t templateRecord, const float params[4],
                                const OvVector& direction) {
    (void)clump, (void)templateRecord, (void)params, (void)direction;
  }
};

// ---------------------------------------------------------------------------
// Behaviour nodes that take collision events. No controller of their own:
// the pass calls them directly.

class OvCollEventNode : public OvDbNode {
 public:
  static const void* EventClassKey();
  const void* GetClassKey() const override { return EventClassKey(); }
  bool IsClass(const void* key) const override { return key == EventClassKey() || OvDbNode::IsClass(key); }
  void* GetController(void*) override { return nullptr; }
  void Bind(OvDatabase* database) override { m_database = database; }

  virtual uint32_t EventMask() const = 0;
  virtual void OnTouch(OvClump* self, OvClump* other, const OvCollContactData& contact) {
    (void)self, (void)other, (void)contact;
  }
  virtual void OnHit(OvClump* self, OvClump* other, const OvCollContactData& contact) {
    (void)self, (void)other, (void)contact;
  }
  virtual void OnDestroyed(OvClump* self, OvClump* other, const OvCollContactData& contact) {
    (void)self, (void)other, (void)contact;
  }

  OvDatabase* Database() const { return m_database; }

 protected:
  OvDatabase* m_database = nullptr;
};

// Lets the event nodes of the animation set of `self`'s object's root clump
// take the event; true when at least one did.
bool OvCollAskNodes(uint32_t event, OvClump* self, OvClump* other, const OvCollContactData& contact);

// ---------------------------------------------------------------------------
// The pass itself: a scene hook of kind 3.

class OvCollisionHandler : public OvSceneHook, public OvAllocated {
 public:
  explicit OvCollisionHandler(OvDatabase* db);
  ~OvCollisionHandler() override;
  OvCollisionHandler(const OvCollisionHandler&) = delete;
  OvCollisionHandler& operator=(const OvCollisionHandler&) = delete;

  bool Run(OvScene& scene) override;
  void ReleaseHook() override;

  void SetDatabase(OvDatabase* db);
  OvDatabase* Database() const { return m_db; }
  void SetListener(OvCollisionListener* listener) { m_listener = listener; }
  OvCollisionListener* Listener() const { return m_listener; }
  void SetOwner(OvScene* scene) { m_owner = scene; }
  OvScene* Scene() const { return m_owner; }

  // The pair (self, other) of one contact: reactions by category.
  void Dispatch(OvScene& scene, OvLogObj* self, OvClump* selfClump, OvLogObj* other, OvClump* otherClump,
                const OvCollContactData& contact);
  // Damage from `other` to `self` and up self's parent chain.
  static void ApplyDamage(OvScene& scene, OvLogObj& self, OvLogObj& other);

  // Counters of the last pass.
  int32_t VolumeCount() const { return m_volumes; }
  int32_t PairTests() const { return m_tests; }
  int32_t ContactCount() const { return m_contacts; }
  // Slot of coordinate v against the camera coordinate c: the number of
  // offsets (ascending) that c + offset does not exceed v.
  static int Slot(float v, float c, const float* offsets, int n);
  // Reactions for every contact of the volume, both ways round.
  void DispatchContacts(OvScene& scene, OvCollVolume& volume);

  const float* SmokeParams() const { return m_smoke; }

 private:
  struct Link {
    OvCollVolume* volume;
    Link* next;
  };
  struct Cell {
    Link* lists[OV_COLL_LISTS];
    int32_t count;
  };

  void VisitTree(OvLogObj* first, bool& full);
  bool BuildVolume(OvLogObj& object, bool& full);
  bool Insert(OvCollVolume& volume);
  void TestCell(Cell& cell);
  bool Test(int kind, OvCollVolume& a, OvCollVolume& b);
  void ResolveTree(OvScene& scene, OvLogObj* first);
  void ClearVolumes(OvLogObj* first);
  int32_t Template(const char* name, int32_t& cache);

  void ReactionA(OvScene& scene, OvLogObj* self, OvClump* sc, OvClump* oc, const OvCollContactData& contact);
  void ReactionB(OvScene& scene, OvLogObj* self, OvLogObj* other, OvClump* sc, OvClump* oc,
                 const OvCollContactData& contact);
  void ReactionC(OvScene& scene, OvLogObj* self, OvLogObj* other, OvClump* sc, OvClump* oc,
                 const OvCollContactData& contact);

  OvDatabase* m_db = nullptr;
  OvScene* m_scene = nullptr;
  OvScene* m_owner = nullptr;
  OvCollisionListener* m_listener = nullptr;
  OvChunkArena* m_arena = nullptr;
  Cell m_cells[OV_COLL_CELLS] = {};
  OvVector m_camera{0.0f, 0.0f, 0.0f};
  int32_t m_spheres = 0;
  int32_t m_volumes = 0;
  int32_t m_tests = 0;
  int32_t m_contacts = 0;
  float m_smoke[4] = {980.0f, 1.0f, 1.0f, 5.0f};
  int32_t m_explosion = -1;
  int32_t m_dragSmoke = -1;
  int32_t m_hit = -1;
  int32_t m_hitTerrain = -1;
};

// Creates the scene's handler for `db` and registers it as a kind-3 hook; a
// scene that already has one keeps it and emits from `db` from now on.
OvCollisionHandler* OvCollisionInstall(OvScene& scene, OvDatabase& db);
// The scene's handler, or null.
OvCollisionHandler* OvCollisionFind(const OvScene& scene);
