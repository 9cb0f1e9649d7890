#include "ov_pick.h"

#include <cmath>
#include <cstring>

#include "ov_clump.h"
#include "ov_logobj.h"
#include "ov_memory.h"
#include "ov_mesh.h"
#include "ov_scene.h"

namespace {

// A vertex projected onto the plane across the ray, with its quadrant code.
struct Projected {
  float x;
  float y;
  uint32_t code;
};
static_assert(sizeof(Projected) == 12);

constexpr size_t kStackBytes = 100000;

OvVector Vertex(const OvMesh& mesh, uint32_t i) {
  const float* p = mesh.positions + size_t(i) * 3;
  return {p[0], p[1], p[2]};
}

float Edge(const Projected& a, const Projected& b) {
  // Which side of the edge a -> b the ray's own point (the origin) is on.
  return (b.x - a.x) * (-a.y) - (b.y - a.y) * (-a.x);
}

bool Contains(const char* name, const char* part) { return name && std::strstr(name, part) != nullptr; }

}  // namespace

bool OvRayMeshTest(const OvVector& start, const OvVector& end, int mode, const OvMesh& mesh, const OvMatrix* world,
                   int32_t* outTriangles, OvVector* outPoints, int& count) {
  const int capacity = count;
  count = 0;
  if (capacity <= 0 || mesh.vertexCount <= 0 || !mesh.positions || !mesh.indices) return false;
  OvVector s = start, e = end;
  if (world) {
    OvMatrix inv;
    if (!OvMatInverseAffine(inv, *world)) return false;
    OvXformPoint(s, start, inv);
    OvXformPoint(e, end, inv);
  }
  const OvVector dir = OvSub(e, s);
  const float length = OvLength(dir);
  if (!(length > 0.0f)) return false;
  OvVector axisZ = dir;
  OvVectorScale(axisZ, 1.0f / length);
  OvVector axisX, axisY;
  OvPerpendicular(axisX, axisZ);
  OvNormalize(axisX);
  OvVectorCrossProd(axisY, axisZ, axisX);

  const size_t vertices = size_t(mesh.vertexCount);
  const size_t bytes = vertices * sizeof(Projected);
  alignas(Projected) unsigned char stackBuffer[kStackBytes];
  Projected* projected = reinterpret_cast<Projected*>(stackBuffer);
  void* heap = nullptr;
  if (bytes > kStackBytes) {
    heap = AllocMem(bytes);
    if (!heap) return false;
    projected = static_cast<Projected*>(heap);
  }
  for (size_t v = 0; v < vertices; ++v) {
    const OvVector d = OvSub(Vertex(mesh, uint32_t(v)), s);
    Projected& p = projected[v];
    p.x = OvVectorDotProd(d, axisX);
    p.y = OvVectorDotProd(d, axisY);
    p.code = (p.x > 0.0f ? 1u : p.x < 0.0f ? 2u : 0u) | (p.y > 0.0f ? 4u : p.y < 0.0f ? 8u : 0u);
  }

  int32_t triangles = mesh.triangleCount;
  if (triangles > mesh.indexCount / 3) triangles = mesh.indexCount / 3;
  float best = 0.0f;
  bool found = false;
  int32_t bestTriangle = -1;
  OvVector bestHit{};
  for (int32_t t = 0; t < triangles; ++t) {
    const uint32_t i0 = mesh.indices[3 * t], i1 = mesh.indices[3 * t + 1], i2 = mesh.indices[3 * t + 2];
    if (i0 >= vertices || i1 >= vertices || i2 >= vertices) continue;
    const Projected &p0 = projected[i0], &p1 = projected[i1], &p2 = projected[i2];
    if (p0.code & p1.code & p2.code) continue;  // entirely on one side of the ray
    const float e0 = Edge(p0, p1), e1 = Edge(p1, p2), e2 = Edge(p2, p0);
    const bool inside = (e0 >= 0.0f && e1 >= 0.0f && e2 >= 0.0f) || (e0 <= 0.0f && e1 <= 0.0f && e2 <= 0.0f);
    if (!inside) continue;
    const OvVector a = Vertex(mesh, i0), b = Vertex(mesh, i1), c = Vertex(mesh, i2);
    OvVector normal;
    OvPlaneNormal(normal, a, b, c);
    const float denom = OvVectorDotProd(normal, dir);
    if (denom == 0.0f || !std::isfinite(denom)) continue;
    const float k = OvVectorDotProd(normal, OvSub(a, s)) / denom;
    const OvVector hit{s.x + dir.x * k, s.y + dir.y * k, s.z + dir.z * k};
    if (mode == OV_RAY_NEAREST) {
      // Only hits ahead of the start count: a nearer one behind it must not
      // hide the one in front.
      const float distance = k * length;
      if (distance < 0.0f || (found && distance >= best)) continue;
      best = distance;
      bestTriangle = t;
      bestHit = hit;
      found = true;
    } else {
      if (outTriangles) outTriangles[count] = t;
      if (outPoints) {
        outPoints[count] = hit;
        if (world) OvXformPoint(outPoints[count], hit, *world);
      }
      if (++count >= capacity) break;
    }
  }
  OvMFree(heap);
  if (mode == OV_RAY_NEAREST && found) {
    count = 1;
    if (outTriangles) outTriangles[0] = bestTriangle;
    if (outPoints) {
      outPoints[0] = bestHit;
      if (world) OvXformPoint(outPoints[0], bestHit, *world);
    }
  }
  return count > 0;
}

namespace {

struct PickState {
  OvVector start;
  OvVector end;
  OvVector dir;  // normalised
  const char* include;
  const char* exclude;
  OvClump* best = nullptr;
  float bestT = 0.0f;
  OvVector hit{};
  int32_t triangle = -1;
};

void TestClump(PickState& st, OvClump* c) {
  if (c->IsCulled()) return;
  if (st.include && !Contains(c->GetName(), st.include)) return;
  if (st.exclude && Contains(c->GetName(), st.exclude)) return;
  const OvMatrix* world = c->GetToWorldMatrix();
  OvVector centre;
  float radius;
  if (!world || !c->GetMesh() || !c->GetBoundingSphere(centre, radius) || !(radius > 0.0f)) return;
  OvVector worldCentre;
  OvXformPoint(worldCentre, centre, *world);
  const float rowSq =
      world->m[0][0] * world->m[0][0] + world->m[0][1] * world->m[0][1] + world->m[0][2] * world->m[0][2];
  const float radiusSq = radius * radius * rowSq;
  const OvVector d = OvSub(worldCentre, st.start);
  const float along = OvVectorDotProd(d, st.dir);
  if (OvSquareLength(d) - along * along > radiusSq) return;

  int count = 1;
  int32_t triangle = -1;
  OvVector hit;
  if (!OvRayMeshTest(st.start, st.end, OV_RAY_NEAREST, *c->GetMesh(), world, &triangle, &hit, count)) return;
  const float t = OvVectorDotProd(OvSub(hit, st.start), st.dir);
  if (!(t > 0.0f) || (st.best && t >= st.bestT)) return;
  st.best = c;
  st.bestT = t;
  st.hit = hit;
  st.triangle = triangle;
}

void VisitClumps(PickState& st, OvClump* first) {
  for (OvClump* c = first; c; c = c->GetNextBrother()) {
    TestClump(st, c);
    if (c->GetChild()) VisitClumps(st, c->GetChild());
  }
}

void VisitObjects(PickState& st, OvLogObj* first) {
  for (OvLogObj* o = first; o; o = o->LoGetNextBrother()) {
    VisitClumps(st, o->GetClumps());
    if (o->LoGetChild()) VisitObjects(st, o->LoGetChild());
  }
}

}  // namespace

OvClump* OvPickRay(const OvVector& start, const OvVector& dir, OvScene& scene, const char* include, const char* exclude,
                   OvVector* outHit, int32_t* outTriangle) {
  PickState st;
  st.start = start;
  st.dir = dir;
  OvNormalize(st.dir);
  if (OvSquareLength(st.dir) == 0.0f) return nullptr;
  st.end = OvAdd(start, dir);
  st.include = include;
  st.exclude = exclude;
  VisitObjects(st, scene.GetLogObjs());
  if (!st.best) return nullptr;
  if (outHit) *outHit = st.hit;
  if (outTriangle) *outTriangle = st.triangle;
  return st.best;
}

OvClump* OvPickFilmCoord(float x, float y, OvScene& scene, const char* include, const char* exclude, OvVector* outHit,
                         int32_t* outTriangle) {
  const OvMatrix* cameraWorld = scene.GetCameraToWorldMatrix();
  if (!cameraWorld) return nullptr;
  OvVector start;
  OvMatrixGetPos(*cameraWorld, start);
  OvVector dir = scene.FilmCoordToWorldVector(x, y);
  if (scene.View().projection.m[2][3] == 0.0f) {
    // Orthographic: every ray runs straight ahead, from the pixel's place in
    // the camera plane.
    OvVector back;
    OvMatrixGetRow(*cameraWorld, 2, back);
    OvNormalize(back);
    // dir is the pixel's offset in the camera plane plus one unit ahead; the
    // projection's w (P33) is the half width the view spans.
    const OvVector offset = OvSub(dir, OvScaled(back, OvVectorDotProd(dir, back)));
    start = OvAdd(start, OvScaled(offset, scene.View().projection.m[3][3]));
    dir = OvNeg(back);
  }
  return OvPickRay(start, dir, scene, include, exclude, outHit, outTriangle);
}
