// Logical objects: the units of gameplay. Each has an ID, a name, a local
// clock, a chain of clump trees and game values, and sits in a tree of
// objects: at the scene's top level or hanging below a clump of another
// object. Created from database records (at start-up or by emission) and
// deleted through the scene.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ov_clump.h"
#include "ov_math.h"
#include "ov_memory.h"

class OvDatabase;
class OvScene;

// Object flags.
inline constexpr uint32_t OV_LO_COLLIDABLE = 0x1;
inline constexpr uint32_t OV_LO_CATEGORY_MASK = 0xFE;
inline constexpr uint32_t OV_LO_LIST30 = 0x200;
inline constexpr uint32_t OV_LO_START_FROZEN = 0x10000;
inline constexpr uint32_t OV_LO_DIES_WITH_PARENT = 0x20000;
inline constexpr uint32_t OV_LO_IMMUNE = 0x40000;

// State flags.
inline constexpr uint32_t OV_LOS_TIME_FROZEN = 0x80000000u;
inline constexpr uint32_t OV_LOS_DESTROY_HANDLED = 0x40000000u;

// Controller IDs of the engine's own object controllers.
inline constexpr int32_t OV_CTRL_ID_UNLINK = 201;
inline constexpr int32_t OV_CTRL_ID_LIFETIME = 203;

// Emission flags (EmitObject's flag word).
inline constexpr int OV_EMIT_FULL_MATRIX = 0x1;
inline constexpr int OV_EMIT_SCALE = 0x2;

// A reference-counted resource an object may carry (the collision box).
class OvObjResource {
 public:
  virtual ~OvObjResource() = default;
  virtual void AddRef() = 0;
  virtual void Release() = 0;
  // True for the box class the collision pass understands.
  virtual bool IsBox() const { return false; }
};

class OvLogObj {
 public:
  static void* operator new(size_t size) noexcept { return AllocMemKind(OV_MEM_KIND_LOGOBJ, size); }
  static void operator delete(void* p) noexcept { OvMFree(p); }

  // An empty object (count 1); null when memory runs out.
  static OvLogObj* Create();
  // From logical-object record `index`: ID, name, flags, game values, serial
  // and, with `withClumps`, the clump trees of its first clump record and
  // that record's brothers. Null (with a trace line when memory ran out) on
  // failure.
  static OvLogObj* CreateFromRecord(OvDatabase& db, int32_t index, bool withClumps = true);

  void AddRef() { ++m_refCount; }
  // Count - 1; at zero releases the child objects, the clump chain and the
  // resource, then frees the object.
  void Release();
  int32_t RefCount() const { return m_refCount; }

  // -------------------------------------------------------------------------
  // Tree.
  OvLogObj* LoGetParent() const { return m_parent; }
  OvLogObj* LoGetChild() const { return m_firstChild; }
  OvLogObj* LoGetNextBrother() const { return m_next; }
  OvLogObj* LoGetPrevBrother() const { return m_prev; }
  OvScene* LoGetScene() const { return m_scene; }
  // Appends a chain of objects at the end of the child list; sets parent
  // and scene on all of them and their subtrees.
  void AttachChildren(OvLogObj* chain);
  // Takes the object out of its brother chain (parent's children or the
  // scene's top level); it keeps its subtree.
  void Unlink();
  // True when `other` is this object or one of its ancestors.
  bool IsDescendFrom(const OvLogObj* other) const;
  // Sets the scene over this object and its whole subtree.
  void SetSceneTree(OvScene* scene);

  // -------------------------------------------------------------------------
  // Clumps.
  OvClump* GetClumps() const { return m_firstClump; }
  // The clump of another object this object hangs from (null at top level).
  OvClump* GetParentClump() const { return m_linkedClump; }
  // Appends a clump chain to the object's own clumps (root clumps).
  void AppendClumps(OvClump* chain);
  // By name among its clumps, depth-first; exact comparison.
  OvClump* LoSearchClump(const char* name) const;
  OvClump* LoSearchClump_ID(int32_t id, int32_t serial = -1) const;
  // Within the subtree: the object, its children, then its next brothers.
  OvLogObj* SearchLogObj(const char* name);
  OvLogObj* SearchLogObj_ID(int32_t id, int32_t serial = -1);

  // -------------------------------------------------------------------------
  // Identity and values.
  int32_t LoGetID() const { return m_id; }
  void LoSetID(int32_t id) { m_id = id; }
  // The word after the ID: behaviour nodes use it as the object's ID
  // (generators set it, sensors test it); -1 until set.
  int32_t LoGetNodeID() const { return m_reserved0; }
  void LoSetNodeID(int32_t id) { m_reserved0 = id; }
  const char* LoGetName() const { return m_name ? m_name : ""; }
  // Keeps its own copy of the text; false without memory (name unchanged).
  bool SetName(const char* name);
  int32_t GetSerial() const { return m_serial; }
  uint32_t GetObjFlags() const { return m_objFlags; }
  void SetObjFlags(uint32_t flags) { m_objFlags = flags; }
  uint32_t GetStateFlags() const { return m_stateFlags; }
  void SetStateFlags(uint32_t flags) { m_stateFlags = flags; }
  int32_t GetDPower() const { return m_dPower; }
  void SetDPower(int32_t v) { m_dPower = v; }
  int32_t GetHealth() const { return m_health; }
  void SetHealth(int32_t v) { m_health = v; }
  int32_t GetFullHealth() const { return m_fullHealth; }
  void SetFullHealth(int32_t v) { m_fullHealth = v; }
  int32_t GetParentHurtRate() const { return m_parentHurtRate; }
  void SetParentHurtRate(int32_t v) { m_parentHurtRate = v; }
  OvObjResource* GetResource() const { return m_resource; }
  // Takes a reference on the new resource, drops the old one.
  void SetResource(OvObjResource* resource);
  void* GetVolume() const { return m_volume; }
  void SetVolume(void* volume) { m_volume = volume; }

  // -------------------------------------------------------------------------
  // Time.
  void FreezeTime() { m_stateFlags |= OV_LOS_TIME_FROZEN; }
  void UnfreezeTime() { m_stateFlags &= ~OV_LOS_TIME_FROZEN; }
  bool IsTimeFreeze() const { return (m_stateFlags & OV_LOS_TIME_FROZEN) != 0; }
  void GotoFrame(int32_t t) { m_localTime = t; }
  void GotoFrame_Sec(float seconds);
  // Local time; 0 while the object is in no scene.
  int32_t GetCrntFrame() const { return m_scene ? m_localTime : 0; }
  float GetCrntFrame_Sec() const;
  int32_t LocalTime() const { return m_localTime; }
  // Advances the local clock by delta unless frozen, then animates the
  // clump chain at the local time.
  void Tick(int32_t delta);

  // -------------------------------------------------------------------------
  // Re-parenting. All refuse (false) while the scene ticks its objects and
  // any request that would make the tree a loop.
  // Hangs the object below `clump` (of another object), or at the scene's
  // top level for null. keepWorld keeps every root clump where it is.
  bool ChangeParentClump(OvClump* clump, bool keepWorld);
  // Moves one of this object's clumps below `newParent` (which may belong to
  // another object); the objects hanging from the moved subtree go along.
  bool GraftClump(OvClump* clump, OvClump* newParent, bool keepWorld);
  // Places the object so that its first root clump's world matrix is m.
  bool AlignMat(const OvMatrix& m);
  bool AlignOrientation(OvClump* clump);
  // Moves `clump` with its subtree and the objects hanging from it into
  // `target`, which takes this object's flags, time and reserved words and
  // the clump's name. The clump keeps its world placement.
  bool SplitClump(OvClump* clump, OvLogObj* target);

 private:
  OvLogObj() = default;
  ~OvLogObj();
  bool Ticking() const;
  void MoveLinkedChildren(OvClump* subtree, OvLogObj* target);

  int32_t m_refCount = 1;
  int32_t m_id = 0;
  int32_t m_reserved0 = -1;
  int32_t m_serial = -1;
  const char* m_name = nullptr;
  uint32_t m_objFlags = 0;
  uint32_t m_stateFlags = 0;
  int32_t m_reserved1 = 0;
  int32_t m_localTime = 0;
  OvObjResource* m_resource = nullptr;
  OvClump* m_firstClump = nullptr;
  OvClump* m_linkedClump = nullptr;
  OvScene* m_scene = nullptr;
  OvLogObj* m_parent = nullptr;
  OvLogObj* m_prev = nullptr;
  OvLogObj* m_next = nullptr;
  OvLogObj* m_firstChild = nullptr;
  int32_t m_reserved2 = 0;
  int32_t m_dPower = 0;
  int32_t m_health = 0;
  int32_t m_fullHealth = 0;
  int32_t m_parentHurtRate = 0;
  void* m_volume = nullptr;
  char* m_ownName = nullptr;  // SetName's copy

  friend class OvScene;
  friend class OvClump;
  template <class T>
  friend void OvChainAppend(T*& head, T* chain);
  template <class T>
  friend void OvChainRemove(T*& head, T* item);
};

inline void OvLogObjChainAppend(OvLogObj*& head, OvLogObj* chain) { OvChainAppend(head, chain); }
inline void OvLogObjChainRemove(OvLogObj*& head, OvLogObj* item) { OvChainRemove(head, item); }

// ---------------------------------------------------------------------------
// Emission: new objects from template clump records.

// Caps on emission, each told once in the trace: objects emitted in one
// frame step of a scene (and so in one script call), and logical objects
// alive in the process.
inline constexpr int32_t OV_MAX_EMITS_PER_FRAME = 2000;
inline constexpr int32_t OV_MAX_LIVE_OBJECTS = 20000;

// The core: creates the object of clump record `clumpRecord`'s object record
// with that record's clump tree, adds a lifetime controller when lifetime >=
// 0 (units), places it by `placement` (null: where the record says) and adds
// it to the scene. Refused while the scene shuts down and past the caps above.
OvLogObj* OvEmitObjectCore(OvScene& scene, const OvMatrix* placement, OvDatabase& db, int32_t clumpRecord,
                           int32_t lifetime, bool fullMatrix, bool scale);
// At `clump`'s world matrix; then linked to the clump for linkSeconds.
// lifeSeconds < 0 lives for ever. flag: OV_EMIT_* bits.
OvLogObj* EmitObject(OvClump& clump, OvDatabase& db, const char* name, float lifeSeconds, float linkSeconds, int flag);
OvLogObj* EmitObject_Mat(OvScene& scene, const OvMatrix& m, OvDatabase& db, const char* name, float lifeSeconds,
                         int flag);
// Without a matrix; the root clump is then put at `pos`.
OvLogObj* EmitObject_Pos(OvScene& scene, const OvVector& pos, OvDatabase& db, const char* name, float lifeSeconds);

// Hangs `object` below `clump` keeping its world placement, makes it die with
// its parent, and for seconds > 0 detaches it again after that long.
bool SetLinkAndUnlinkTime(OvLogObj& object, OvClump* clump, float seconds);
// The same with the time in units (<= 0: linked for good).
bool OvLinkForUnits(OvLogObj& object, OvClump* clump, int32_t units);

// The controllers behind lifetime and timed links (added to the root clump).
class OvAcLifetime : public OvAniCtrl {
 public:
  explicit OvAcLifetime(int32_t lifetime) : m_lifetime(lifetime) { SetOwned(true); }
  static const void* ClassTag();
  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  uint32_t GetChannelMask() const override { return ACF_CLUMP_LINK; }
  int32_t GetCtrlId() const override { return OV_CTRL_ID_LIFETIME; }
  void Animate(OvClump* clump, int32_t time) override;
  void Hierarchy(OvClump* clump, int32_t value) override;
  int32_t Lifetime() const { return m_lifetime; }

 private:
  int32_t m_lifetime;
};

class OvAcUnlink : public OvAniCtrl {
 public:
  explicit OvAcUnlink(int32_t deadline) : m_deadline(deadline) { SetOwned(true); }
  static const void* ClassTag();
  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  uint32_t GetChannelMask() const override { return ACF_CLUMP_LINK; }
  int32_t GetCtrlId() const override { return OV_CTRL_ID_UNLINK; }
  void Animate(OvClump* clump, int32_t time) override;
  void Hierarchy(OvClump* clump, int32_t value) override;
  int32_t Deadline() const { return m_deadline; }

 private:
  int32_t m_deadline;
};
