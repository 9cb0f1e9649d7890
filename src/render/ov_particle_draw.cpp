#include "ov_particle_draw.h"

#include <cmath>

#include "ov_renderer_gl.h"

namespace {

struct Vertex {
  float x, y, z;
  uint32_t colour;
  float u, v;
};
static_assert(sizeof(Vertex) == 24);

// The set's buffer, and a CPU copy it is filled from.
class GLParticleCache final : public OvParticleDrawCache, public OvAllocated {
 public:
  explicit GLParticleCache(OvRendererGL& renderer) : m_renderer(renderer) {}
  ~GLParticleCache() override {
    if (m_renderer.IsInitialised()) m_renderer.DestroyBuffer(buffer);
    OvMFree(vertices);
  }
  bool Reserve(uint32_t count) {
    if (count <= capacity) return true;
    uint64_t grown = capacity ? uint64_t(capacity) * 2 : 256;
    while (grown < count) grown *= 2;
    const uint64_t bytes = grown * sizeof(Vertex);
    if (bytes > 0x7FFFFFFFu) return false;
    auto* memory = static_cast<Vertex*>(AllocMem(size_t(bytes)));
    if (!memory) return false;
    m_renderer.DestroyBuffer(buffer);
    if (!m_renderer.CreateVertexBuffer(buffer, uint32_t(bytes), true)) {
      OvMFree(memory);
      return false;
    }
    OvMFree(vertices);
    vertices = memory;
    capacity = uint32_t(grown);
    return true;
  }

  OvGLBuffer buffer;
  Vertex* vertices = nullptr;
  uint32_t capacity = 0;

 private:
  OvRendererGL& m_renderer;
};

Vertex At(const OvVector& p, uint32_t colour, float u, float v) { return {p.x, p.y, p.z, colour, u, v}; }

// Two triangles a b c, a c d.
Vertex* Quad(Vertex* out, const Vertex& a, const Vertex& b, const Vertex& c, const Vertex& d) {
  out[0] = a, out[1] = b, out[2] = c, out[3] = a, out[4] = c, out[5] = d;
  return out + 6;
}

uint32_t PerParticle(uint32_t type) {
  switch (type) {
    case OV_PARTICLE_LINE: return 2;
    case OV_PARTICLE_BEAM_TRIANGLE: return 3;
    default: return 6;
  }
}

// Fills the vertices of every live record; returns how many were written.
uint32_t Fill(const OvParticleSet& set, Vertex* out, const OvVector& right, const OvVector& up, const OvVector& eye) {
  Vertex* v = out;
  const OvParticle* records = set.Records();
  const uint32_t type = set.TypeCode();
  for (int32_t i = 0; i < set.UsedCount(); ++i) {
    const OvParticle& p = records[i];
    if (OvParticleSet::IsFree(p)) continue;
    const float half = p.size * 0.5f;
    if (type == OV_PARTICLE_LINE) {
      *v++ = At(p.second, p.colourB, 0.0f, 0.5f);
      *v++ = At(p.pos, p.colourA, 1.0f, 0.5f);
      continue;
    }
    if (type == OV_PARTICLE_BEAM || type == OV_PARTICLE_BEAM_TRIANGLE) {
      // Across the beam, facing the eye; a beam seen end on uses the screen.
      OvVector side = OvCross(OvSub(p.pos, p.second), OvSub(eye, p.pos));
      const float len = OvLength(side);
      side = len > 1e-12f ? OvScaled(side, half / len) : OvScaled(right, half);
      if (type == OV_PARTICLE_BEAM_TRIANGLE) {
        *v++ = At(p.second, p.colourB, 0.5f, 1.0f);
        *v++ = At(OvSub(p.pos, side), p.colourA, 0.0f, 0.0f);
        *v++ = At(OvAdd(p.pos, side), p.colourA, 1.0f, 0.0f);
        continue;
      }
      v = Quad(v, At(OvSub(p.second, side), p.colourB, 0.0f, 1.0f), At(OvAdd(p.second, side), p.colourB, 1.0f, 1.0f),
               At(OvAdd(p.pos, side), p.colourA, 1.0f, 0.0f), At(OvSub(p.pos, side), p.colourA, 0.0f, 0.0f));
      continue;
    }
    const OvVector r = OvScaled(right, half), u = OvScaled(up, half);
    const OvVector left = OvSub(p.pos, r), rightEdge = OvAdd(p.pos, r);
    v = Quad(v, At(OvSub(left, u), p.colourA, 0.0f, 1.0f), At(OvSub(rightEdge, u), p.colourA, 1.0f, 1.0f),
             At(OvAdd(rightEdge, u), p.colourA, 1.0f, 0.0f), At(OvAdd(left, u), p.colourA, 0.0f, 0.0f));
  }
  return uint32_t(v - out);
}

constexpr uint32_t kStageStates[] = {TSS_COLOROP,   TSS_COLORARG1, TSS_COLORARG2,     TSS_ALPHAOP,
                                     TSS_ALPHAARG1, TSS_ALPHAARG2, TSS_TEXCOORDINDEX, TSS_TEXTURETRANSFORMFLAGS};

}  // namespace

uint32_t OvParticleVertexCount(const OvParticleSet& set) {
  return uint32_t(set.LiveCount()) * PerParticle(set.TypeCode());
}

void OvDrawParticleSet(OvRendererGL& renderer, OvParticleSet& set) {
  const uint32_t count = OvParticleVertexCount(set);
  if (count == 0 || renderer.IsDeviceLost()) return;
  auto* cache = static_cast<GLParticleCache*>(set.DrawCache());
  if (!cache) {
    cache = new GLParticleCache(renderer);
    if (!cache) return;
    set.SetDrawCache(cache);
  }
  if (!cache->Reserve(count)) return;

  // The camera's axes are the view matrix's columns.
  const OvMatrix& view = renderer.ViewMatrix();
  const OvVector right{view.m[0][0], view.m[1][0], view.m[2][0]};
  const OvVector up{view.m[0][1], view.m[1][1], view.m[2][1]};
  const uint32_t written = Fill(set, cache->vertices, right, up, renderer.CameraPosition());
  if (!renderer.UpdateBuffer(cache->buffer, 0, written * uint32_t(sizeof(Vertex)), cache->vertices)) return;

  const int32_t mode = set.Transparency();
  const bool blended = mode == OV_PARTICLE_BLEND || mode == OV_PARTICLE_ADDITIVE;
  OvStatePair states[] = {
      {RS_LIGHTING, 0},
      {RS_CULLMODE, CULL_NONE},
      // Fading particles must fade, not vanish at the alpha reference.
      {RS_ALPHATESTENABLE, 0},
      {RS_ZWRITEENABLE, blended ? 0u : 1u},
      {RS_ALPHABLENDENABLE, blended ? 1u : 0u},
      {RS_SRCBLEND, BLEND_SRCALPHA},
      {RS_DESTBLEND, mode == OV_PARTICLE_ADDITIVE ? uint32_t(BLEND_ONE) : uint32_t(BLEND_INVSRCALPHA)},
      // Fog would add its colour to what lies behind an additive particle.
      {RS_FOGCOLOR, mode == OV_PARTICLE_ADDITIVE ? 0u : renderer.GetRenderState(RS_FOGCOLOR)},
  };
  constexpr int kStates = int(sizeof(states) / sizeof(states[0]));
  uint32_t before[kStates];
  for (int i = 0; i < kStates; ++i) {
    before[i] = renderer.GetRenderState(states[i].state);
    renderer.SetRenderState(states[i].state, states[i].value);
  }
  constexpr int kSaved = int(sizeof(kStageStates) / sizeof(kStageStates[0]));
  uint32_t saved[kSaved];
  for (int i = 0; i < kSaved; ++i) saved[i] = renderer.GetTextureStageState(0, kStageStates[i]);
  const uint32_t next = renderer.GetTextureStageState(1, TSS_COLOROP);
  const uint32_t stage0[kSaved] = {TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE, 0, 0};
  for (int i = 0; i < kSaved; ++i) renderer.SetTextureStageState(0, kStageStates[i], stage0[i]);
  renderer.SetTextureStageState(1, TSS_COLOROP, TOP_DISABLE);
  void* texture = renderer.Texture(0);
  renderer.SetTexture(0, set.Texture());
  renderer.SetWorldMatrix(nullptr);

  const OvVertexFormat format = OvMakeVertexFormat(VF_XYZ | VF_DIFFUSE, 1);
  const bool lines = set.TypeCode() == OV_PARTICLE_LINE;
  renderer.Draw(format, cache->buffer, nullptr, lines ? PRIM_LINELIST : PRIM_TRIANGLELIST, 0,
                lines ? written / 2 : written / 3);

  renderer.SetTexture(0, texture);
  renderer.SetTextureStageState(1, TSS_COLOROP, next);
  for (int i = 0; i < kSaved; ++i) renderer.SetTextureStageState(0, kStageStates[i], saved[i]);
  for (int i = kStates - 1; i >= 0; --i) renderer.SetRenderState(states[i].state, before[i]);
}
