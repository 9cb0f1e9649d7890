#include "ov_shadow_draw.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ov_anictrl.h"
#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_mesh.h"
#include "ov_mesh_draw.h"
#include "ov_renderer_gl.h"
#include "ov_scene.h"
#include "ov_trace.h"

// ---------------------------------------------------------------------------
// Volume geometry.

namespace {

// Up to 6 vertices of caps and 3 x 6 of sides a triangle.
constexpr uint32_t kVerticesPerTriangle = 24;
// Meshes beyond this get no shadow: the volume's buffer would pass 18 MB.
constexpr int32_t kMaxTriangles = 65536;

struct Edge {
  uint64_t key;  // low vertex, high vertex
  int32_t slot;  // triangle * 3 + edge
  bool forward;  // runs from the low vertex to the high one
};

bool TriangleValid(const OvMesh& m, int32_t t) {
  for (int k = 0; k < 3; ++k)
    if (m.indices[3 * t + k] >= uint32_t(m.vertexCount)) return false;
  return true;
}

OvVector Position(const OvMesh& m, uint32_t index) {
  const float* p = m.positions + 3 * size_t(index);
  return {p[0], p[1], p[2]};
}

}  // namespace

OvShadowVolumeBuilder::~OvShadowVolumeBuilder() {
  OvMFree(m_neighbour);
  OvMFree(m_facing);
  OvMFree(m_out);
}

bool OvShadowVolumeBuilder::Prepare(const OvMesh& mesh) {
  if (!mesh.positions || !mesh.indices || mesh.vertexCount <= 0 || mesh.triangleCount <= 0) return false;
  if (int64_t(mesh.indexCount) < 3 * int64_t(mesh.triangleCount)) return false;
  if (mesh.triangleCount > kMaxTriangles) {
    if (m_source != mesh.indices) {
      m_source = mesh.indices;  // said once for this mesh
      _TraceFormat("### A mesh of %d triangles casts no shadow (at most %d).\n", mesh.triangleCount, kMaxTriangles);
    }
    return false;
  }
  if (m_source == mesh.indices && m_triangles == mesh.triangleCount && m_vertices == mesh.vertexCount)
    return m_neighbour != nullptr;
  OvMFree(m_neighbour);
  OvMFree(m_facing);
  OvMFree(m_out);
  m_neighbour = nullptr, m_facing = nullptr, m_out = nullptr;
  m_source = mesh.indices, m_triangles = mesh.triangleCount, m_vertices = mesh.vertexCount;
  const size_t slots = 3 * size_t(m_triangles);
  m_neighbour = static_cast<int32_t*>(AllocMem(slots * sizeof(int32_t)));
  m_facing = static_cast<uint8_t*>(AllocMem(size_t(m_triangles)));
  m_out = static_cast<float*>(AllocMem(size_t(m_triangles) * kVerticesPerTriangle * 3 * sizeof(float)));
  Edge* edges = static_cast<Edge*>(AllocMem(slots * sizeof(Edge)));
  uint32_t* same = static_cast<uint32_t*>(AllocMem(size_t(m_vertices) * sizeof(uint32_t)));
  if (!m_neighbour || !m_facing || !m_out || !edges || !same) {
    OvMFree(edges);
    OvMFree(same);
    OvMFree(m_neighbour);
    m_neighbour = nullptr;
    return false;
  }
  // Vertices at one place count as one (faces of a box keep their own
  // vertices for their normals), so that their edges meet.
  for (int32_t v = 0; v < m_vertices; ++v) same[v] = uint32_t(v);
  // By bit pattern: a total order whatever the file holds (NaN too).
  std::sort(same, same + m_vertices, [&mesh](uint32_t x, uint32_t y) {
    uint32_t a[3], b[3];
    std::memcpy(a, mesh.positions + 3 * size_t(x), 12);
    std::memcpy(b, mesh.positions + 3 * size_t(y), 12);
    for (int k = 0; k < 3; ++k)
      if (a[k] != b[k]) return a[k] < b[k];
    return x < y;
  });
  uint32_t* first = static_cast<uint32_t*>(AllocMem(size_t(m_vertices) * sizeof(uint32_t)));
  if (!first) {
    OvMFree(edges);
    OvMFree(same);
    OvMFree(m_neighbour);
    m_neighbour = nullptr;
    return false;
  }
  for (int32_t i = 0; i < m_vertices; ++i) {
    const bool atPrevious =
        i > 0 && std::memcmp(mesh.positions + 3 * size_t(same[i]), mesh.positions + 3 * size_t(same[i - 1]), 12) == 0;
    first[same[i]] = atPrevious ? first[same[i - 1]] : same[i];
  }
  OvMFree(same);
  // Edges sorted by their two vertices: an edge and its reverse meet, and
  // the two triangles become neighbours; a third triangle on the same edge
  // stays without one (its edge is then a silhouette edge when it faces).
  size_t n = 0;
  for (int32_t t = 0; t < m_triangles; ++t) {
    for (int e = 0; e < 3; ++e) m_neighbour[3 * t + e] = -1;
    if (!TriangleValid(mesh, t)) continue;
    for (int e = 0; e < 3; ++e) {
      const uint32_t a = first[mesh.indices[3 * t + e]], b = first[mesh.indices[3 * t + (e + 1) % 3]];
      if (a == b) continue;
      const uint32_t lo = a < b ? a : b, hi = a < b ? b : a;
      edges[n++] = {uint64_t(lo) | uint64_t(hi) << 32, 3 * t + e, a == lo};
    }
  }
  std::sort(edges, edges + n,
            [](const Edge& x, const Edge& y) { return x.key < y.key || (x.key == y.key && x.slot < y.slot); });
  for (size_t i = 0; i < n;) {
    size_t end = i;
    while (end < n && edges[end].key == edges[i].key) ++end;
    for (size_t j = i; j < end; ++j) {
      if (m_neighbour[edges[j].slot] >= 0) continue;
      for (size_t k = j + 1; k < end; ++k) {
        if (m_neighbour[edges[k].slot] >= 0 || edges[k].forward == edges[j].forward) continue;
        m_neighbour[edges[j].slot] = edges[k].slot / 3;
        m_neighbour[edges[k].slot] = edges[j].slot / 3;
        break;
      }
    }
    i = end;
  }
  OvMFree(edges);
  OvMFree(first);
  return true;
}

uint32_t OvShadowVolumeBuilder::Build(const OvMesh& mesh, const OvVector& dir, float offset, float length) {
  if (!(length > 0.0f) || !Prepare(mesh)) return 0;
  const OvVector toLight = OvScaled(dir, -1.0f);
  for (int32_t t = 0; t < m_triangles; ++t) {
    m_facing[t] = 0;
    if (!TriangleValid(mesh, t)) continue;
    const OvVector p0 = Position(mesh, mesh.indices[3 * t]), p1 = Position(mesh, mesh.indices[3 * t + 1]),
                   p2 = Position(mesh, mesh.indices[3 * t + 2]);
    // A face seen through a camera clump winds so that (p1 - p0) x (p2 - p0)
    // points out of it.
    m_facing[t] = OvVectorDotProd(OvCross(OvSub(p1, p0), OvSub(p2, p0)), toLight) > 0.0f;
  }
  const OvVector nearShift = OvScaled(dir, offset), farShift = OvScaled(dir, offset + length);
  float* out = m_out;
  auto put = [&out](const OvVector& v) {
    out[0] = v.x, out[1] = v.y, out[2] = v.z;
    out += 3;
  };
  for (int32_t t = 0; t < m_triangles; ++t) {
    if (!m_facing[t]) continue;
    OvVector nearP[3], farP[3];
    for (int k = 0; k < 3; ++k) {
      const OvVector p = Position(mesh, mesh.indices[3 * t + k]);
      nearP[k] = OvAdd(p, nearShift);
      farP[k] = OvAdd(p, farShift);
    }
    put(nearP[0]), put(nearP[1]), put(nearP[2]);
    put(farP[0]), put(farP[2]), put(farP[1]);
    for (int e = 0; e < 3; ++e) {
      const int32_t across = m_neighbour[3 * t + e];
      if (across >= 0 && m_facing[across]) continue;
      const int a = e, b = (e + 1) % 3;
      put(nearP[b]), put(nearP[a]), put(farP[a]);
      put(nearP[b]), put(farP[a]), put(farP[b]);
    }
  }
  return uint32_t((out - m_out) / 3);
}

// ---------------------------------------------------------------------------
// The controller: casters in the frame put themselves on a list after
// culling; after drawing the first one called draws every volume at once,
// so that overlapping shadows darken once.

namespace {

class AcRigidShadow;
constexpr int kMaxCasters = 64;

struct ShadowFrame {
  const OvScene* scene = nullptr;
  uint32_t frame = 0;
  AcRigidShadow* casters[kMaxCasters];
  OvClump* clumps[kMaxCasters];
  int count = 0;
  bool warned = false;

  bool Current(const OvScene* s) const { return s == scene && s->FrameCount() == frame; }
  void Add(OvScene* s, AcRigidShadow* caster, OvClump* clump) {
    if (!Current(s)) {
      scene = s;
      frame = s->FrameCount();
      count = 0;
    }
    if (count < kMaxCasters) {
      casters[count] = caster, clumps[count] = clump;
      ++count;
    } else if (!warned) {
      warned = true;
      _TraceFormat("### More than %d shadow casters: the rest cast none.\n", kMaxCasters);
    }
  }
  void Draw(OvScene* s);
};
ShadowFrame g_frame;

// The first directional light the frame was drawn with, or null.
const OvLightData* SunOf(OvRendererGL& r) {
  for (int i = 0; i < OV_MAX_LIGHTS; ++i)
    if (r.LightEnabled(i) && r.Light(i).type == OV_DEVLIGHT_DIRECTIONAL) return &r.Light(i);
  return nullptr;
}

float LargestScale(const OvMatrix& m) {
  float s = 0.0f;
  for (int i = 0; i < 3; ++i)
    s = std::fmax(s, std::sqrt(m.m[i][0] * m.m[i][0] + m.m[i][1] * m.m[i][1] + m.m[i][2] * m.m[i][2]));
  return s;
}

class AcRigidShadow final : public OvAniCtrl {
 public:
  void Animate(OvClump* clump, int32_t time) override {
    if (!clump) return;
    OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_CULL1);
    OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_RENDER);
  }
  void TwoPass(OvClump* clump, int32_t, int point) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    // Culled casters still cast: the shadow may fall in view.
    if (point == T2PA_AFTER_CULL1) {
      if (!clump->IsInvisible() && clump->GetMesh() && clump->GetToWorldMatrix()) g_frame.Add(scene, this, clump);
    } else if (point == T2PA_AFTER_RENDER) {
      g_frame.Draw(scene);
    }
  }

  // This frame's volume of the clump for light direction `sun` (world).
  bool Volume(OvScene& scene, OvClump& clump, const OvVector& sun, OvShadowVolume& out) {
    const OvMesh* mesh = clump.GetMesh();
    const OvMatrix* world = clump.GetToWorldMatrix();
    OvClump* eye = scene.GetCrntCamera();
    const OvMatrix* eyeWorld = eye ? eye->GetToWorldMatrix() : nullptr;
    if (!mesh || !world || !eyeWorld || !mesh->positions) return false;
    float nearClip = 1.0f, farClip = 30000.0f;
    if (eye->IsCamera()) static_cast<OvCamera*>(eye->GetExtension())->GetClipPlane(nearClip, farClip);
    // The far end of the volume must stay inside the far clip plane for the
    // depth-fail count: the volume reaches no farther from the camera than
    // the mesh's farthest point plus its length.
    float extent = 0.0f;
    for (int32_t v = 0; v < mesh->vertexCount; ++v) {
      const float* p = mesh->positions + 3 * size_t(v);
      extent = std::fmax(extent, p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    }
    extent = std::sqrt(extent) * LargestScale(*world);
    OvVector at, from;
    OvMatrixGetPos(*world, at);
    OvMatrixGetPos(*eyeWorld, from);
    const float reach = OvLength(OvSub(at, from)) + extent;
    const float offset = extent * 0.01f;
    const float length = (farClip - reach) * 0.99f - offset;
    if (!(length > 0.0f) || !(extent > 0.0f)) return false;
    // The light's direction in the mesh's space, so that one unit along it
    // is one world unit.
    OvMatrix inverse;
    OvMatInversePRS(inverse, *world);
    OvVector dir;
    OvRotateVector(dir, sun, inverse);
    const uint32_t n = m_builder.Build(*mesh, dir, offset, length);
    if (n == 0) return false;
    out = {n, m_builder.Positions(), &clump};
    return true;
  }

 protected:
  // The list may name this controller: it is rebuilt next frame.
  ~AcRigidShadow() override { g_frame.count = 0; }

 private:
  OvShadowVolumeBuilder m_builder;
};

void ShadowFrame::Draw(OvScene* s) {
  const int n = count;
  count = 0;
  if (n == 0 || !Current(s)) return;
  OvRendererGL* r = dynamic_cast<OvRendererGL*>(s->GetRenderer());
  const OvLightData* sun = r ? SunOf(*r) : nullptr;
  if (!sun || OvSquareLength(sun->direction) <= 0.0f) return;
  OvVector dir = sun->direction;
  OvNormalize(dir);
  OvShadowVolume volumes[kMaxCasters];
  int built = 0;
  for (int i = 0; i < n; ++i)
    if (casters[i]->Volume(*s, *clumps[i], dir, volumes[built])) ++built;
  if (built > 0) OvDrawShadowVolumes(*r, volumes, built);
}

}  // namespace

void OvInstallShadowController() {
  OvSetRigidShadowCtrlFactory([](const OvRigidShadowNode&) -> OvAniCtrl* { return new AcRigidShadow(); });
}
