#include "ov_screen_point.h"

#include <cstring>

#include "ov_clump.h"
#include "ov_logobj.h"
#include "ov_scene.h"

namespace {

// Content trees can be deep; the walk stops beyond this.
constexpr int kMaxDepth = 512;

bool Matches(const char* clumpName, const char* name, bool exact) {
  if (clumpName == nullptr) return false;
  return exact ? std::strcmp(clumpName, name) == 0 : std::strstr(clumpName, name) != nullptr;
}

OvClump* InClumps(OvClump* first, const char* name, bool exact, int depth) {
  for (OvClump* c = first; c != nullptr; c = c->GetNextBrother()) {
    if (Matches(c->GetName(), name, exact)) return c;
    if (depth < kMaxDepth)
      if (OvClump* found = InClumps(c->GetChild(), name, exact, depth + 1)) return found;
  }
  return nullptr;
}

OvClump* InObjects(OvLogObj* first, const char* name, bool exact, int depth) {
  for (OvLogObj* o = first; o != nullptr; o = o->LoGetNextBrother()) {
    if (OvClump* c = InClumps(o->GetClumps(), name, exact, 0)) return c;
    if (depth < kMaxDepth)
      if (OvClump* c = InObjects(o->LoGetChild(), name, exact, depth + 1)) return c;
  }
  return nullptr;
}

}  // namespace

OvClump* OvFindClumpForPointer(const OvScene& scene, const char* name) {
  if (name == nullptr || *name == 0) return nullptr;
  if (OvClump* c = InObjects(scene.GetLogObjs(), name, true, 0)) return c;
  return InObjects(scene.GetLogObjs(), name, false, 0);
}

OvScreenPointResult OvClumpScreenPoint(const OvScene& scene, const OvClump& clump, float& x, float& y) {
  const OvCameraView& view = scene.View();
  const float width = scene.ViewportWidth();
  if (!view.valid || width <= 0.0f) return OvScreenPointResult::NoView;
  const OvMatrix* world = clump.GetToWorldMatrix();
  if (world == nullptr) return OvScreenPointResult::NoPlacement;

  OvVector centre{0.0f, 0.0f, 0.0f};
  float radius = 0.0f;
  if (!(clump.GetExtension() && clump.GetExtension()->GetBoundingSphere(centre, radius)))
    clump.GetBoundingSphere(centre, radius);  // leaves the origin without bounds
  OvVector w;
  OvXformPoint(w, centre, *world);

  const OvMatrix& m = view.viewProj;
  const float cx = w.x * m.m[0][0] + w.y * m.m[1][0] + w.z * m.m[2][0] + m.m[3][0];
  const float cy = w.x * m.m[0][1] + w.y * m.m[1][1] + w.z * m.m[2][1] + m.m[3][1];
  const float cw = w.x * m.m[0][3] + w.y * m.m[1][3] + w.z * m.m[2][3] + m.m[3][3];
  if (!(cw > 0.0f)) return OvScreenPointResult::BehindCamera;
  // Clip space spans the viewport on each axis (the projection carries the
  // aspect), as drawing and picking see it.
  x = width * 0.5f + cx / cw * width * 0.5f;
  y = scene.ViewportHeight() * 0.5f - cy / cw * scene.ViewportHeight() * 0.5f;
  return OvScreenPointResult::Ok;
}
