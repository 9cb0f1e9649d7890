// Particle effects: three node types sharing one parameter record. On its
// first frame a node's installer builds the effect as a logical object of
// its own whose clump carries the particle set and the emitter; the emitter
// follows the node's clump (its source), emits in world space, moves the
// particles by its type's rule and removes the effect once the source is
// gone and the last particle has died.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_flags.h"
#include "ov_node_params.h"
#include "ov_node_type.h"
#include "ov_particle_set.h"

inline constexpr OvTypeId OV_NODE_PARTICLE_SIMPLE{0, 4000};
inline constexpr OvTypeId OV_NODE_PARTICLE_ATTRACTION{0, 4110};
inline constexpr OvTypeId OV_NODE_PARTICLE_SMOKE{0, 4120};

inline constexpr int32_t OV_ACID_PARTICLE_EMITTER = 4000;
inline constexpr int32_t OV_ACID_PARTICLE_INSTALLER = 4001;

// Attraction types.
inline constexpr int32_t OV_ATTRACT_POINT = 0;
inline constexpr int32_t OV_ATTRACT_LINE = 1;
inline constexpr int32_t OV_ATTRACT_PLANE = 2;
inline constexpr int32_t OV_ATTRACT_PLANE_NEG_Z = 3;

// Emit shapes.
inline constexpr int32_t OV_EMIT_POINT = 0;
inline constexpr int32_t OV_EMIT_ELLIPSE_HOLLOW = 1;
inline constexpr int32_t OV_EMIT_ELLIPSE = 2;
inline constexpr int32_t OV_EMIT_RECT = 3;
inline constexpr int32_t OV_EMIT_SPHERE_HOLLOW = 4;
inline constexpr int32_t OV_EMIT_SPHERE = 5;
inline constexpr int32_t OV_EMIT_BOX = 6;

// The fields every particle node stores (the common block).
struct OvParticleParams {
  uint32_t typeCode = OV_PARTICLE_SQUARE;
  uint32_t texture = 0;
  int32_t transparency = OV_PARTICLE_ADDITIVE;
  uint32_t colour[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  float sizeMin = 10.0f, sizeMax = 10.0f;
  float lengthMin = 0.05f, lengthMax = 0.2f;
  float lifeTime = 3.0f;  // seconds
  float timeA = 3.0f, timeB = 3.0f;
  float speedMin = 0.0f, speedMax = 1000.0f;
  float inertia = 0.0f;
  float strength = -980.0f;  // gravity (Simple) or attraction strength
  OvTargetKeys target;
  int32_t includeChildren = 0;
  int32_t attractionType = OV_ATTRACT_POINT;
  float resistance = 0.0f;
  uint32_t total = 300;
  float emitRate = 0.0f;
  float angle1 = 0.0f, angle2 = 0.0f;  // radians
  int32_t shape = OV_EMIT_POINT;
  OvVector shapeSize{0.0f, 0.0f, 0.0f};
  int32_t transitionObject = -1;  // kept, not used at run time
  int32_t transition = -1;        // clump record emitted where a particle dies
  float transitionLife = 1.0f;    // seconds
};

class OvParticleNode : public OvPerClumpNode {
 public:
  static constexpr uint32_t kFormat = 100;
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);
  OvDatabase* Database() const { return m_database; }

  OvParticleParams p;
  // Smoke only: fade-in seconds of colour and size.
  float colourFadeIn = 0.0f, sizeFadeIn = 0.0f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
  bool ReadCommon(OvStream& stream);
  bool WriteCommon(OvStream& stream) const;

 private:
  OvDatabase* m_database = nullptr;
  bool m_capTraced = false;
};

class OvParticleSimpleNode : public OvParticleNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_PARTICLE_SIMPLE; }
};

class OvParticleAttractionNode : public OvParticleNode {
 public:
  OvParticleAttractionNode() {
    p.sizeMax = 30.0f;
    p.strength = 1000.0f;
  }
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_PARTICLE_ATTRACTION; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
};

class OvParticleSmokeNode : public OvParticleNode {
 public:
  OvParticleSmokeNode() {
    p.transparency = OV_PARTICLE_BLEND;
    p.sizeMax = 20.0f;
    p.lengthMin = 50.0f, p.lengthMax = 100.0f;
    p.lifeTime = 5.0f;
    p.timeA = p.timeB = 0.0f;
    p.speedMin = 30.0f, p.speedMax = 50.0f;
    p.strength = 0.0f;
    p.total = 100;
    p.angle2 = 10.0f * OV_PARAM_DEG_TO_RAD;
  }
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_PARTICLE_SMOKE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
};

// The descriptor of one of the types above, or null for any other pair.
OvNodeType* OvParticleNodeTypeCreate(const OvTypeId& pair, const char* name);
