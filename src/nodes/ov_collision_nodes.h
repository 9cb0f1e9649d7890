// Object-collision event nodes: content-defined replacements for the
// collision pass's touch, hit and destroyed reactions. The pass calls them
// directly; they yield no controller.
#pragma once

#include <cstdint>

#include "ov_collision.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_NODE_OC_DIE{0, 9900};
inline constexpr OvTypeId OV_NODE_OC_HIT_TERRAIN{0, 9910};
inline constexpr OvTypeId OV_NODE_OC_HIT_OBJ{0, 9920};
inline constexpr OvTypeId OV_NODE_OC_TOUCH_OBJ{0, 9930};

class OvCollNodeBase : public OvCollEventNode {
 public:
  static constexpr int32_t kFormat = 100;
};

// "<oc:Die>Common": flags, the solid explosion or an animation or deletion,
// and a generated object.
class OvDieCommonNode : public OvCollNodeBase {
 public:
  static constexpr uint32_t kSolidExplosion = 0x1;
  static constexpr uint32_t kGenAtHit = 0x4;
  static constexpr uint32_t kAlignOrientation = 0x10;
  static constexpr uint32_t kLinkToOpponent = 0x20;
  static constexpr uint32_t kPhysicsEffect = 0x100;
  static constexpr uint32_t kKeepOrientation = 0x1000;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_OC_DIE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);
  uint32_t EventMask() const override { return OV_COLL_EVENT_DESTROYED; }
  void OnDestroyed(OvClump* self, OvClump* other, const OvCollContactData& contact) override;

  uint32_t options = kSolidExplosion | kPhysicsEffect | kGenAtHit;
  uint32_t checkMask = 0, checkValue = 0;
  uint32_t setMask = 0, setValue = 0;
  float fragMin = 0.0f, fragMax = 1000.0f;
  int32_t fragAnimKey = -1;
  float gravity = 980.0f, speedRatio = 1.0f, turnRatio = 1.0f, disappearSec = 5.0f;
  int32_t applyRecord = -1;
  int32_t genRecord = -1;
  int32_t lifeTime = 10;
  int32_t unlinkTime = 0;
};

// "<oc:Hit>Terrain:Common": timed flags and a generated object on the surface.
class OvHitTerrainNode : public OvCollNodeBase {
 public:
  static constexpr uint32_t kAlignSurface = 0x1;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_OC_HIT_TERRAIN; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);
  uint32_t EventMask() const override { return OV_COLL_EVENT_HIT; }
  void OnHit(OvClump* self, OvClump* other, const OvCollContactData& contact) override;

  uint32_t options = kAlignSurface;
  uint32_t setMask = 0, setValue = 0;
  float holdSec = 0.0f;
  int32_t genRecord = -1;
  int32_t lifeTime = 1200;
};

// "<oc:Hit>Obj:Common": timed flags, a generated object, an applied
// animation and a short-lived light.
class OvHitObjNode : public OvCollNodeBase {
 public:
  static constexpr uint32_t kKeepOrientation = 0x1000;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_OC_HIT_OBJ; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);
  uint32_t EventMask() const override { return OV_COLL_EVENT_HIT; }
  void OnHit(OvClump* self, OvClump* other, const OvCollContactData& contact) override;

  uint32_t options = 0;
  uint32_t setMask = 0, setValue = 0;
  float holdSec = 0.0f;
  int32_t genRecord = -1;
  int32_t lifeTime = 2400;
  int32_t reserved = 0;
  int32_t applyRecord = -1;
  int32_t applyFrom = 0, applyTo = 9600;
  uint32_t glitterColour = 0xFFFFFFFFu;
  float glitterRange = 0.0f;
  float glitterSec = 0.1f;
};

// "<oc:Touch>Obj:Common": the same reaction on touches only.
class OvTouchObjNode : public OvHitObjNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_OC_TOUCH_OBJ; }
  uint32_t EventMask() const override { return OV_COLL_EVENT_TOUCH; }
  void OnHit(OvClump*, OvClump*, const OvCollContactData&) override {}
  void OnTouch(OvClump* self, OvClump* other, const OvCollContactData& contact) override {
    OvHitObjNode::OnHit(self, other, contact);
  }
};

// The descriptor of one of the types above (named `name`), or null for any
// other pair.
OvNodeType* OvCollisionNodeTypeCreate(const OvTypeId& pair, const char* name);
