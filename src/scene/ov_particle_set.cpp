#include "ov_particle_set.h"

#include <algorithm>
#include <bit>
#include <cstring>

OvParticleSet::~OvParticleSet() {
  delete m_drawCache;
  OvMFree(m_records);
}

void OvParticleSet::SetDrawCache(OvParticleDrawCache* cache) {
  if (cache == m_drawCache) return;
  delete m_drawCache;
  m_drawCache = cache;
}

bool OvParticleSet::IsFree(const OvParticle& p) { return std::bit_cast<uint32_t>(p.pos.x) == OV_PARTICLE_FREE_BITS; }

bool OvParticleSet::GetBoundingSphere(OvVector& centre, float& radius) const {
  centre = m_centre;
  radius = m_radius;
  return true;
}

OvParticle* OvParticleSet::Add() {
  int32_t index;
  if (m_freeHead >= 0) {
    index = m_freeHead;
    m_freeHead = int32_t(std::bit_cast<uint32_t>(m_records[index].pos.y));
  } else {
    if (m_used >= m_capacity) {
      int32_t grown = m_live ? m_live * 2 : 64;
      grown = std::min(grown, OV_PARTICLE_CAP);
      if (grown <= m_capacity) return nullptr;
      auto* records = static_cast<OvParticle*>(AllocMem(size_t(grown) * sizeof(OvParticle)));
      if (!records) return nullptr;
      if (m_used) std::memcpy(records, m_records, size_t(m_used) * sizeof(OvParticle));
      OvMFree(m_records);
      m_records = records;
      m_capacity = grown;
    }
    index = m_used++;
  }
  ++m_live;
  OvParticle* p = &m_records[index];
  std::memset(p, 0, sizeof(*p));
  return p;
}

void OvParticleSet::Remove(OvParticle* p) {
  if (!p || p < m_records || p >= m_records + m_used || IsFree(*p)) return;
  p->pos.x = std::bit_cast<float>(OV_PARTICLE_FREE_BITS);
  p->pos.y = std::bit_cast<float>(uint32_t(m_freeHead));
  m_freeHead = int32_t(p - m_records);
  --m_live;
}

void OvParticleSet::RecomputeBounds() {
  m_min = m_max = m_centre = {0.0f, 0.0f, 0.0f};
  m_radius = 0.0f;
  if (m_live <= 0) return;
  const bool withSecond =
      m_type == OV_PARTICLE_LINE || m_type == OV_PARTICLE_BEAM || m_type == OV_PARTICLE_BEAM_TRIANGLE;
  const bool withSize =
      m_type == OV_PARTICLE_SQUARE || m_type == OV_PARTICLE_BEAM || m_type == OV_PARTICLE_BEAM_TRIANGLE;
  bool first = true;
  float largest = 0.0f;
  auto take = [&](const OvVector& v) {
    if (first) {
      m_min = m_max = v;
      first = false;
      return;
    }
    m_min = {std::min(m_min.x, v.x), std::min(m_min.y, v.y), std::min(m_min.z, v.z)};
    m_max = {std::max(m_max.x, v.x), std::max(m_max.y, v.y), std::max(m_max.z, v.z)};
  };
  for (int32_t i = 0; i < m_used; ++i) {
    const OvParticle& p = m_records[i];
    if (IsFree(p)) continue;
    take(p.pos);
    if (withSecond) take(p.second);
    largest = std::max(largest, p.size);
  }
  if (withSize) {
    m_min = {m_min.x - largest, m_min.y - largest, m_min.z - largest};
    m_max = {m_max.x + largest, m_max.y + largest, m_max.z + largest};
  }
  m_centre = {(m_min.x + m_max.x) * 0.5f, (m_min.y + m_max.y) * 0.5f, (m_min.z + m_max.z) * 0.5f};
  OvVector d = m_centre;
  OvVectorSub(d, m_min);
  m_radius = OvLength(d);
}
