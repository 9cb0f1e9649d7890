// Animation sets on clumps: the two shapes of behaviour nodes (the node is
// the controller, or the node makes one controller per clump), attaching a
// set's controllers, the keyframe playback controller and ApplyAnimation.
#pragma once

#include <cstdint>

#include "ov_anictrl.h"
#include "ov_math.h"
#include "ov_node_type.h"

class OvDatabase;
struct OvDbAniSet;

// Behaviour nodes hand out controllers through OvDbNode::GetController: the
// context is the clump the controller is for (may be null) and the result is
// an OvAniCtrl*.

// Shared-controller node: the node object is the controller of every clump it
// is applied to, so its run-time state is shared. The owned flag stays clear
// and no list ever frees it; it goes with the database.
class OvSharedCtrlNode : public OvDbNode, public OvAniCtrl {
 public:
  void* GetController(void* context) override;
};

// Per-clump node: every clump gets a controller of its own, allocated under
// the controller kind and owned by the clump's list. The controller may keep
// pointers into the node, which outlives it (the database outlives clumps).
class OvPerClumpNode : public OvDbNode {
 public:
  void* GetController(void* context) override;

 protected:
  // A new controller for `clump` (new OvAc...(...)), or null when memory runs
  // out or the parameters make a controller pointless.
  virtual OvAniCtrl* MakeController(OvClump* clump) = 0;
};

// The controller `node` yields for `clump`; null for an empty or inert entry
// or a node without one.
OvAniCtrl* OvNodeController(OvDbNode* node, OvClump* clump);

// ---------------------------------------------------------------------------
// Keyframe playback: drives one controller made from an animation-set entry on
// a clock of its own, optionally blending in from the clump's current pose.

inline constexpr int32_t OV_ACID_KEY_PLAYBACK = 100;

// Clock modes (bits 0-1).
inline constexpr int32_t OV_PLAY_LOCAL = 0;   // elapsed = t - start
inline constexpr int32_t OV_PLAY_HOLD = 1;    // elapsed stays, start follows
inline constexpr int32_t OV_PLAY_SCENE = 2;   // elapsed = scene time - start
inline constexpr int32_t OV_PLAY_FROZEN = 3;  // nothing moves

class OvAcKeyPlayback : public OvAniCtrl {
 public:
  static const void* ClassTag();
  // Takes over `entry` (released with the playback).
  OvAcKeyPlayback(OvAniCtrl* entry, int32_t start, int32_t end, int32_t mode);
  ~OvAcKeyPlayback() override;

  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  uint32_t GetChannelMask() const override { return m_entry ? m_entry->GetChannelMask() : 0; }
  uint32_t GetSecondaryMask() const override { return m_entry ? m_entry->GetSecondaryMask() : 0; }
  int32_t GetCtrlId() const override { return OV_ACID_KEY_PLAYBACK; }
  void Animate(OvClump* clump, int32_t time) override;
  // Finished: takes itself off the clump.
  void Hierarchy(OvClump* clump, int32_t value) override;
  void Attached(OvClump* clump) override;
  bool CtrlRemoved(OvAniCtrl* removed) override;

  // Blends from the pose found at each frame toward the animation over
  // `length` units starting at `start` (on the playback's clock); 0 = none.
  void SetBlend(int32_t start, int32_t length);

  OvAniCtrl* Entry() const { return m_entry; }
  int32_t Mode() const { return m_mode; }
  void SetMode(int32_t mode) { m_mode = mode; }
  int32_t Start() const { return m_start; }
  int32_t Elapsed() const { return m_elapsed; }
  int32_t End() const { return m_end; }
  int32_t BlendLength() const { return m_blendLength; }

 private:
  OvAniCtrl* m_entry;
  int32_t m_mode;
  int32_t m_start;
  int32_t m_elapsed = 0;
  int32_t m_end;
  int32_t m_blendStart = 0;
  int32_t m_blendLength = 0;
};

// How ApplyAnimation plays a set.
struct OvApplyOptions {
  int32_t time = 0;         // now, on the chosen clock
  int32_t offset = 0;       // key time shown at `time` ("from")
  int32_t end = MAX_TIME;   // key time at which playback ends ("to"); < offset: never
  int32_t blendLength = 0;  // units of blending from the current pose; 0 = none
  bool sceneClock = false;  // run on the scene clock instead of the object's
  bool descend = false;     // continue with child clumps and hanging objects
};

// Plays `set` on the clump: for each entry in order its controller is wrapped
// in a playback controller (owned) and added; an entry that writes position,
// rotation or scale first removes the clump's older controllers writing any
// of those channels (once per channel per call). With `descend`, each child
// clump (and each root clump of an object hanging from this clump) gets the
// set of the child record matching its name under the clump's own record.
// Returns the number of playback controllers added over the whole call.
int OvApplyAnimation(OvClump* clump, const OvDbAniSet* set, const OvApplyOptions& options);
// The same starting from a clump record: its animation set on this clump,
// then (with `descend`) the matching child records on the child clumps.
int OvApplyAnimationByRecord(OvClump* clump, OvDatabase* database, int32_t recordIndex, const OvApplyOptions& options);
// True when applying the record (with `descend`: and every record below it)
// would make a controller from `node`: a node that applies its own set feeds
// on itself.
bool OvRecordTreeHoldsNode(const OvDatabase& database, int32_t recordIndex, bool descend, const OvDbNode* node);
