// Pieces every behaviour-node family shares: the flag test and change on a
// clump's 16 switches, target references to live clumps, and the mapping of
// a measured value onto a reaction variable.
#pragma once

#include <cmath>
#include <cstdint>

#include "ov_clump.h"
#include "ov_database.h"
#include "ov_math.h"

// The serial a node learns from Bind; -1 before it is bound.
inline int32_t OvSerialOf(const OvDatabase* database) { return database ? database->Serial() : -1; }

class OvStream;

// ---------------------------------------------------------------------------
// Flags. Masks are cut to the 16 switches, so no node reaches the invisible
// bit or anything above it.

// A "Check Flag" pair: the masked switches equal the masked value. A mask of
// 0 always passes.
inline bool OvFlagTest(uint32_t flags, uint32_t mask, uint32_t value) {
  mask &= OV_SWITCH_FLAGS;
  return (flags & mask) == (value & mask);
}
// A mask alone: every bit of it is on.
inline bool OvFlagTestAll(uint32_t flags, uint32_t mask) {
  mask &= OV_SWITCH_FLAGS;
  return (flags & mask) == mask;
}
// A "Set Flag" pair, and its inverse (the value's complement), which nodes
// use to undo their change.
inline uint32_t OvFlagChange(uint32_t flags, uint32_t mask, uint32_t value) {
  mask &= OV_SWITCH_FLAGS;
  return (flags & ~mask) | (value & mask);
}
inline uint32_t OvFlagChangeInverse(uint32_t flags, uint32_t mask, uint32_t value) {
  return OvFlagChange(flags, mask, ~value);
}

inline bool OvFlagTest(const OvClump& clump, uint32_t mask, uint32_t value) {
  return OvFlagTest(clump.GetSwitch(), mask, value);
}
inline bool OvFlagTestAll(const OvClump& clump, uint32_t mask) { return OvFlagTestAll(clump.GetSwitch(), mask); }
inline void OvFlagChange(OvClump& clump, uint32_t mask, uint32_t value) {
  clump.SetSwitch(mask & OV_SWITCH_FLAGS, value);
}
inline void OvFlagChangeInverse(OvClump& clump, uint32_t mask, uint32_t value) {
  clump.SetSwitch(mask & OV_SWITCH_FLAGS, ~value);
}

// ---------------------------------------------------------------------------
// Target references: a logical-object key and a clump key as stored, plus the
// serial of the node's database (-1 before binding: any database).

struct OvTargetKeys {
  int32_t objectKey = -1;
  int32_t clumpKey = -1;
  int32_t serial = -1;
};

// Scene time units between two lookups that found nothing.
inline constexpr int32_t OV_TARGET_RETRY_UNITS = 32;

// The run-time side, one per controller. A found clump is held (use count
// raised) until the reference is released or the clump leaves its object;
// then the reference is void for good. A clump that owns the asking clump
// (itself or an ancestor) is kept without a count: counting it would keep
// both alive for ever.
class OvTargetRef {
 public:
  OvTargetRef() = default;
  explicit OvTargetRef(const OvTargetKeys& keys) : m_keys(keys) {}
  OvTargetRef(const OvTargetRef&) = delete;
  OvTargetRef& operator=(const OvTargetRef&) = delete;
  ~OvTargetRef() { Release(); }

  // The live clump for `asker`, or null (void, not found yet, or waiting
  // for the next lookup).
  OvClump* Resolve(OvClump* asker);
  // Lets go of the held clump (the keys stay).
  void Release();

  bool IsVoid() const { return m_keys.clumpKey == -1 && !m_held; }
  OvClump* Held() const { return m_held; }
  const OvTargetKeys& Keys() const { return m_keys; }

 private:
  OvClump* Lookup(OvClump* asker) const;

  OvTargetKeys m_keys;
  OvClump* m_held = nullptr;
  bool m_counted = false;
  bool m_tried = false;
  int32_t m_lastTry = 0;
};

// The first clump of the scene's logical object 0 (the leading object 0 when
// one is set, else the scene's first object): the default target of nodes
// whose logical-object key is -1.
OvClump* OvDefaultTargetClump(const OvClump* asker);

// ---------------------------------------------------------------------------
// Reaction-variable mapping, stored as "i iiRRRR".

inline constexpr uint32_t OV_VARMAP_CLAMP = 0x1;

struct OvVarMap {
  int32_t options = 0;  // bit 0: clamp
  int32_t var = 0;      // reaction variable written, 0 to 3
  float outFrom = 0.0f;
  float outTo = 100.0f;
  float inFrom = 0.0f;
  float inTo = 100.0f;

  bool Read(OvStream& stream);
  bool Write(OvStream& stream) const;
  bool Clamp() const { return (uint32_t(options) & OV_VARMAP_CLAMP) != 0; }
  float Slope() const { return inTo != inFrom ? (outTo - outFrom) / (inTo - inFrom) : 0.0f; }
  float Map(float x) const;
  // Clamp off and the output range equal to the input range.
  bool IsIdentity() const { return !Clamp() && inFrom == outFrom && inTo == outTo; }
};

inline bool OvReactionVarDefined(float v) { return v != OV_REACTION_VAR_UNSET; }
