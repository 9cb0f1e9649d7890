// Particle sets: the geometry of a particle effect's clump. A set keeps
// world-space particle records in one growing array with a free list; the
// renderer draws them by the set's type code and culling uses its bounds.
#pragma once

#include <cstdint>

#include "ov_clump.h"
#include "ov_math.h"
#include "ov_memory.h"

// Extension kind of a particle set.
inline constexpr int OV_EXT_PARTICLES = 4;

// Type codes: how the renderer draws a record.
inline constexpr uint32_t OV_PARTICLE_SQUARE = 3;
inline constexpr uint32_t OV_PARTICLE_LINE = 2;
inline constexpr uint32_t OV_PARTICLE_BEAM = 30;
inline constexpr uint32_t OV_PARTICLE_BEAM_TRIANGLE = 31;

// Transparency codes.
inline constexpr int32_t OV_PARTICLE_OPAQUE = 0;
inline constexpr int32_t OV_PARTICLE_BLEND = 1;
inline constexpr int32_t OV_PARTICLE_ADDITIVE = 2;

// The most records one set holds. Content may ask for up to 2^32 live
// particles; a set never grows past this.
inline constexpr int32_t OV_PARTICLE_CAP = 65536;

// One particle: thirteen 4-byte words. A free record has word 0 = 0x7FFFFFFF
// and keeps the index of the next free record in word 1.
struct OvParticle {
  OvVector pos;
  uint32_t colourA;
  uint32_t colourB;
  float size;
  OvVector second;  // previous position, tail, or (start size, final size)
  OvVector velocity;
  int32_t birth;
};
static_assert(sizeof(OvParticle) == 52);

inline constexpr uint32_t OV_PARTICLE_FREE_BITS = 0x7FFFFFFFu;

// What a renderer keeps for drawing one set (its vertex buffer); the set
// owns it and frees it with itself.
class OvParticleDrawCache {
 public:
  virtual ~OvParticleDrawCache() = default;
};

class OvParticleSet : public OvClumpExt, public OvAllocated {
 public:
  OvParticleSet(uint32_t typeCode, void* texture, int32_t transparency)
      : m_type(typeCode), m_texture(texture), m_transparency(transparency) {}
  ~OvParticleSet() override;
  OvParticleSet(const OvParticleSet&) = delete;
  OvParticleSet& operator=(const OvParticleSet&) = delete;

  int Kind() const override { return OV_EXT_PARTICLES; }
  // The bounds in world space (the effect's clump sits at the origin).
  bool GetBoundingSphere(OvVector& centre, float& radius) const override;

  uint32_t TypeCode() const { return m_type; }
  void* Texture() const { return m_texture; }
  int32_t Transparency() const { return m_transparency; }

  // Reuses the most recently freed record, else the next unused one, else
  // grows to twice the live count (64 when empty), never past the cap. Null
  // when full or out of memory: the particle is refused.
  OvParticle* Add();
  void Remove(OvParticle* p);
  int32_t LiveCount() const { return m_live; }
  int32_t Capacity() const { return m_capacity; }
  // Records ever used; live ones are those below this that are not free.
  int32_t UsedCount() const { return m_used; }
  OvParticle* Records() const { return m_records; }
  static bool IsFree(const OvParticle& p);

  // Box over the live positions (and second points for lines and beams),
  // grown by the largest size for squares and beams.
  void RecomputeBounds();
  const OvVector& BoxMin() const { return m_min; }
  const OvVector& BoxMax() const { return m_max; }
  const OvVector& Centre() const { return m_centre; }
  float Radius() const { return m_radius; }

  OvParticleDrawCache* DrawCache() const { return m_drawCache; }
  // Takes ownership; a previous cache is freed.
  void SetDrawCache(OvParticleDrawCache* cache);

 private:
  uint32_t m_type;
  void* m_texture;
  int32_t m_transparency;
  OvParticle* m_records = nullptr;
  int32_t m_capacity = 0;
  int32_t m_used = 0;
  int32_t m_live = 0;
  int32_t m_freeHead = -1;
  OvVector m_min{}, m_max{}, m_centre{};
  float m_radius = 0.0f;
  OvParticleDrawCache* m_drawCache = nullptr;
};

// The set a clump carries as its extension, or null.
inline OvParticleSet* OvParticleSetOf(const OvClump* clump) {
  OvClumpExt* ext = clump ? clump->GetExtension() : nullptr;
  return ext && ext->Kind() == OV_EXT_PARTICLES ? static_cast<OvParticleSet*>(ext) : nullptr;
}
