// Animation controllers: the interface every keyframe track, behaviour node,
// script node and application controller implements, the per-clump
// controller list, and the enumeration callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "ov_memory.h"

class OvClump;
class OvScene;

// Change flags of a clump (what a controller writes).
inline constexpr uint32_t ACF_VERTS = 0x1;
inline constexpr uint32_t ACF_INDICES = 0x2;
inline constexpr uint32_t ACF_VERT_COLORS = 0x4;
inline constexpr uint32_t ACF_BOUNDARY = 0x8;
inline constexpr uint32_t ACF_NORMALS = 0x10;
inline constexpr uint32_t ACF_MATERIALS = 0x20;
inline constexpr uint32_t ACF_TEX = 0x4000;
inline constexpr uint32_t ACF_GEN_MESH = 0x8000;
inline constexpr uint32_t ACF_POS = 0x10000;
inline constexpr uint32_t ACF_ROT = 0x20000;
inline constexpr uint32_t ACF_SCALE = 0x40000;
inline constexpr uint32_t ACF_WORLD_MAT = 0x100000;
inline constexpr uint32_t ACF_VP_MAT = 0x200000;
inline constexpr uint32_t ACF_CLUMP_LINK = 0x1000000;
inline constexpr uint32_t ACF_LOG_OBJ_LINK = 0x2000000;
// Channels that live in the mesh: a controller writing one of them needs the
// clump's own copy of that array.
inline constexpr uint32_t ACF_MESH_CHANNELS = 0x403F;
inline constexpr uint32_t ACF_PRS = ACF_POS | ACF_ROT | ACF_SCALE;

// Pass points of the frame step (2-8 have script constants, 9 is after drawing).
inline constexpr int T2PA_AFTER_ANIM = 2;
inline constexpr int T2PA_BEFORE_CULL = 3;
inline constexpr int T2PA_AFTER_CULL0 = 4;
inline constexpr int T2PA_AFTER_CULL1 = 5;
inline constexpr int T2PA_AFTER_CULL2 = 6;
inline constexpr int T2PA_AFTER_CULL3 = 7;
inline constexpr int T2PA_AFTER_CULL4 = 8;
inline constexpr int T2PA_AFTER_RENDER = 9;

// Time units and identifiers.
inline constexpr int32_t ZERO_TIME = 0;
inline constexpr int32_t UNIT_TIME = 1;
inline constexpr int32_t MAX_TIME = 2147483647;

// Clock arithmetic in time units: defined across the 32-bit wrap (a board
// left open at 60 units per second reaches it after about a year), so an
// interval stays right when the clock wraps.
inline constexpr int32_t OvTimeAdd(int32_t time, int32_t units) { return int32_t(uint32_t(time) + uint32_t(units)); }
inline constexpr int32_t OvTimeDelta(int32_t later, int32_t earlier) {
  return int32_t(uint32_t(later) - uint32_t(earlier));
}
inline constexpr int32_t INVALID_ID = -1;

// Allocator kind under which engine controllers are counted.
inline constexpr int OV_MEM_KIND_ANICTRL = 2;

// Base of every controller. Engine controllers come from the engine allocator
// (kind 2) and are freed by their clump's list when the owned flag is set;
// controllers embedded in another object (shared-controller nodes) keep the
// flag clear and are never freed through this interface.
//
// The virtual operations keep one fixed order, numbered below; the destructor is
// protected so that ending a controller always goes through Destroy/Release.
class OvAniCtrl {
 public:
  static constexpr uint32_t kOwned = 0x1;       // flags bit 0
  static constexpr uint32_t kFreeMemory = 0x1;  // Destroy flags bit 0

  // Kind 2 allocation; null (no exception) when memory runs out.
  static void* operator new(size_t size) noexcept;
  static void operator delete(void* p) noexcept;
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}

  // The marker of this class (what TypeTag answers for the base).
  static const void* ClassTag();

  OvAniCtrl() = default;
  OvAniCtrl(const OvAniCtrl&) = delete;
  OvAniCtrl& operator=(const OvAniCtrl&) = delete;

  // 0: unique address identifying the class.
  virtual const void* TypeTag() const { return ClassTag(); }
  // 1: true for the own tag and the tags of the bases.
  virtual bool IsKindOf(const void* tag) const { return tag == ClassTag(); }
  // 2: runs the destructor; with kFreeMemory also gives the memory back.
  virtual void Destroy(uint32_t flags);

 protected:
  virtual ~OvAniCtrl() = default;

 public:
  // 3: the ACF bits this controller writes.
  virtual uint32_t GetChannelMask() const { return 0; }
  // 4: texture-coordinate-set bits (16 + i: coordinates of set i, i: its indices).
  virtual uint32_t GetSecondaryMask() const { return 0; }
  // 5: kind number used by find and message dispatch.
  virtual int32_t GetCtrlId() const { return 0; }
  // 6: called once per frame when the clump is animated at `time`. The base
  // asks for a pass call at T2PA_AFTER_ANIM with value = time.
  virtual void Animate(OvClump* clump, int32_t time);
  // 7: the pass call when the controller registered at a pass point.
  virtual void PassDefault(OvClump* clump, int32_t value) { (void)clump, (void)value; }
  // 8: the pass call with its point; the base forwards to PassDefault.
  virtual void TwoPass(OvClump* clump, int32_t value, int point) {
    (void)point;
    PassDefault(clump, value);
  }
  // 9: the controller's hierarchy step, after the whole scene was animated and drawn.
  virtual void Hierarchy(OvClump* clump, int32_t value) { (void)clump, (void)value; }
  // 10: what a list does when it lets go of the controller: an owned
  // controller is destroyed and freed, any other one is left alone.
  virtual void Release();
  // 11: the controller was added to `clump`.
  virtual void Attached(OvClump* clump) { (void)clump; }
  // 12: a message broadcast to controllers of this ID.
  virtual void Message(intptr_t a, intptr_t b, intptr_t c) { (void)a, (void)b, (void)c; }
  // 13: whether the controller keeps a reference to `object`.
  virtual bool RefersTo(const void* object) const {
    (void)object;
    return false;
  }
  // 14: another controller of the same clump was removed; true when this
  // controller dropped its reference to it.
  virtual bool CtrlRemoved(OvAniCtrl* removed) {
    (void)removed;
    return false;
  }

  uint32_t Flags() const { return m_flags; }
  void SetFlags(uint32_t flags) { m_flags = flags; }
  bool IsOwned() const { return (m_flags & kOwned) != 0; }
  void SetOwned(bool owned) { m_flags = owned ? (m_flags | kOwned) : (m_flags & ~kOwned); }

 protected:
  uint32_t m_flags = 0;
};

// Base of controllers that work only after the whole frame was drawn: its
// Animate asks for the hierarchy step (value = time) instead of a pass call.
class OvHrchyAniCtrl : public OvAniCtrl {
 public:
  static const void* ClassTag();
  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  void Animate(OvClump* clump, int32_t time) override;
  void Hierarchy(OvClump* clump, int32_t value) override = 0;
};

// Enumeration over a clump's controllers; visit answers 1 to stop.
class EnumAniCtrlCallback {
 public:
  virtual ~EnumAniCtrlCallback() = default;
  virtual int32_t Visit(OvAniCtrl* ctrl) = 0;
};

// Stops at the first controller whose GetCtrlId is the wanted one.
class EnumFindAcCb : public EnumAniCtrlCallback {
 public:
  explicit EnumFindAcCb(int32_t wantedId) : m_wantedId(wantedId) {}
  int32_t Visit(OvAniCtrl* ctrl) override;

  int32_t m_wantedId;
  OvAniCtrl* m_found = nullptr;
};

// The ordered controller list of one clump; the clump owns it (owned flag
// set) and releases it with itself, which calls Release on every member.
// Entries are packed: all non-null entries come first.
//
// The clump's operations go through it:
// - add: create the list on first use, Append, then if the clump has a mesh
//   and the list's masks meet ACF_MESH_CHANNELS or any secondary bit, make
//   those mesh channels private; finally call the controller's Attached.
// - remove (DelAniCtrl): the scene drops the controller's pending pass and
//   hierarchy registrations, then Remove.
// - animate: Animate(clump, t) calls Animate of every member in order.
class OvAniCtrlList final : public OvAniCtrl {
 public:
  static constexpr int kGrowBy = 4;
  static const void* ClassTag();

  // A new, empty, owned list; null when memory runs out.
  static OvAniCtrlList* Create();

  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  // Calls Release on every member, then destroys itself.
  void Destroy(uint32_t flags) override;
  // OR of the members' masks.
  uint32_t GetChannelMask() const override { return m_channelMask; }
  uint32_t GetSecondaryMask() const override { return m_secondaryMask; }
  // Animate of each member in list order. A member removed meanwhile is
  // released only when the walk is over, so a controller may remove itself
  // or a brother from inside its own animate; every member still in the list
  // is reached once, and members appended meanwhile are reached too.
  void Animate(OvClump* clump, int32_t time) override;

  // Stores the controller in the first free entry (growing by 4) and ORs its
  // masks. False when the array cannot grow, or for null or a controller
  // already in the list.
  bool Append(OvAniCtrl* ctrl);
  // As Append, but at `index` (clamped to the end), shifting the rest.
  bool Insert(int index, OvAniCtrl* ctrl);
  // Takes the controller out: tells every other member (CtrlRemoved), releases
  // it (Release), compacts and recomputes the masks. False when it is not here.
  bool Remove(OvAniCtrl* ctrl);
  // Takes the controller out without releasing it or telling anyone.
  bool Detach(OvAniCtrl* ctrl);

  int Count() const { return m_count; }
  int Capacity() const { return m_capacity; }
  OvAniCtrl* At(int index) const { return index >= 0 && index < m_count ? m_items[index] : nullptr; }
  bool Contains(const OvAniCtrl* ctrl) const;
  // First member whose GetCtrlId is `id`.
  OvAniCtrl* FindById(int32_t id) const;
  // First member whose TypeTag is `tag`.
  OvAniCtrl* FindByTag(const void* tag) const;
  // First member whose channel mask meets `channels` or whose secondary mask
  // meets `sets`.
  OvAniCtrl* FindByMasks(uint32_t channels, uint32_t sets) const;
  // Visits members in order until a visit answers 1; returns the controller
  // it stopped at, or null.
  OvAniCtrl* Enumerate(EnumAniCtrlCallback& callback);
  // Message(a, b, c) on every member whose ID is `id`; the number of
  // controllers called.
  int Broadcast(int32_t id, intptr_t a, intptr_t b, intptr_t c);
  // ORs the members' masks afresh (after a member changed its own).
  void RecomputeMasks();

 private:
  OvAniCtrlList() { SetOwned(true); }
  ~OvAniCtrlList() override;
  // Position of one walk over the list (walks nest when a member's animate
  // or message reaches the list again); Take and Insert keep it on the next
  // member to visit.
  struct Walk {
    int next;
    Walk* outer;
  };
  void BeginWalk(Walk& walk);
  void EndWalk(Walk& walk);
  // The member to visit next, or null when the walk is over.
  OvAniCtrl* Step(Walk& walk);

  bool Grow();
  bool Take(OvAniCtrl* ctrl);
  void FlushPending();

  OvAniCtrl** m_items = nullptr;
  int m_count = 0;
  int m_capacity = 0;
  uint32_t m_channelMask = 0;
  uint32_t m_secondaryMask = 0;
  Walk* m_walks = nullptr;          // innermost walk in progress
  OvAniCtrl** m_pending = nullptr;  // removed while walking, released after
  int m_pendingCount = 0;
  int m_pendingCapacity = 0;
};

// Frame registrations through the clump's scene; they last for the current
// frame only. False when the clump belongs to no scene or the scene could not
// take the registration.
bool OvAniCtrlRegisterPass(OvClump* clump, OvAniCtrl* ctrl, int32_t value, int point);
bool OvAniCtrlRegisterHrchy(OvClump* clump, OvAniCtrl* ctrl, int32_t value);
