#include "ov_camera.h"

#include <cmath>

#include "ov_stream.h"

// ---------------------------------------------------------------------------
// The extension.

OvCamera::OvCamera(float fov, float nearClip, float farClip) : m_fov(fov), m_near(nearClip), m_far(farClip) {
  SetClipPlane(nearClip, farClip);
}

void OvCamera::SetClipPlane(float nearClip, float farClip) {
  if (nearClip >= farClip) farClip = nearClip + 0.0001f;
  if (farClip == 0.0f) farClip = 0.0001f;
  m_near = nearClip;
  m_far = farClip;
}

bool OvDbCameraExt::Read(OvStream& stream, OvChunkArena& arena) {
  (void)arena;
  if (!stream.ReadLayout("iiRRRRR", &m_version, &m_flags, &m_fov, &m_near, &m_far, &m_fogNear, &m_fogFar)) {
    return false;
  }
  if (!(m_flags & OV_CAMERA_FLAG_PERSPECTIVE) && m_near > m_far) {
    m_near = -10000.0f;
    m_far = 10000.0f;
  }
  return true;
}

bool OvDbCameraExt::Write(OvStream& stream) const {
  return stream.WriteLayout("iiRRRRR", kVersion, m_flags, m_fov, m_near, m_far, m_fogNear, m_fogFar);
}

void* OvDbCameraExt::GetController(void* clump) {
  (void)clump;
  auto* camera = new OvCamera(m_fov, m_near, m_far);
  if (!camera) return nullptr;
  camera->SetPerspective((m_flags & OV_CAMERA_FLAG_PERSPECTIVE) != 0);
  camera->SetFogRange(m_fogNear, m_fogFar);
  return static_cast<OvClumpExt*>(camera);
}

namespace {

class OvCameraExtType : public OvNodeType {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_CAMERA_EXT_TYPE; }
  int GetFamily() const override { return OV_FAMILY_EXTENSION; }
  OvDbNode* Create(OvChunkArena& arena) const override { return OvArenaNew<OvDbCameraExt>(arena); }
};

OvVector Normalised(const OvVector& v) {
  OvVector out = v;
  OvNormalize(out);
  return out;
}

OvVector Combine(const OvVector& a, float ka, const OvVector& b, float kb) {
  return {a.x * ka + b.x * kb, a.y * ka + b.y * kb, a.z * ka + b.z * kb};
}

// Outward plane with normal n (normalised here) through point p.
void MakePlane(OvPlane& plane, const OvVector& n, const OvVector& p) {
  OvPlaneFromPointNormal(plane, p, Normalised(n));
}

}  // namespace

void OvRegisterCameraExtensionType() {
  OvTypeRegistry& reg = OvExtensionClasses();
  if (reg.FindType(OV_CAMERA_EXT_TYPE)) return;
  reg.Register(new OvCameraExtType());
}

// ---------------------------------------------------------------------------
// The view.

bool OvCameraSetupView(OvCameraView& view, const OvClump& camera, float width, float height, bool vertexFog) {
  const OvMatrix* world = camera.GetToWorldMatrix();
  if (!world || !camera.IsCamera()) return false;
  const auto& cam = *static_cast<const OvCamera*>(camera.GetExtension());

  OvMatrixGetPos(*world, view.position);
  cam.GetFogRange(view.fogNear, view.fogFar);
  cam.GetClipPlane(view.nearClip, view.farClip);
  view.perspective = cam.IsPerspective();
  view.fov = cam.GetFov();
  const float n = view.nearClip;
  const float f = view.farClip;
  const float depth = (f - n) != 0.0f ? f - n : 0.0001f;
  // Height over width of the viewport: the field of view (or size) spans the
  // width, the height sees that fraction of it. The projection, the frustum
  // planes and the pick ray all follow it, so what is drawn is what is culled
  // and picked.
  const float aspect = width > 0.0f && height > 0.0f ? height / width : 0.75f;

  // The camera looks along its negative local z axis.
  OvMatInverseAffine(view.view, *world);
  for (auto& row : view.view.m) row[2] = -row[2];

  OvMatrix& p = view.projection;
  if (view.perspective) {
    const float c = std::cos(view.fov * 0.5f);
    float s = std::sin(view.fov * 0.5f);
    if (s == 0.0f) s = 1e-6f;
    OvMatrixZero(p);
    p.m[0][0] = c / s;
    p.m[1][1] = c / (s * aspect);
    p.m[2][2] = f / depth;
    p.m[3][2] = -n * f / depth;
    p.m[2][3] = 1.0f;
  } else {
    const float h = view.fov;
    OvMatrixIdentity(p);
    p.m[1][1] = 1.0f / aspect;
    p.m[2][2] = h / depth;
    p.m[3][2] = -h * n / depth;
    p.m[3][3] = h;
  }
  OvMatMul4x4(view.viewProj, view.view, p);

  // Frustum planes in world space from the camera's own axes.
  OvVector right, up, back;
  OvMatrixGetRow(*world, 0, right);
  OvMatrixGetRow(*world, 1, up);
  OvMatrixGetRow(*world, 2, back);
  right = Normalised(right);
  up = Normalised(up);
  const OvVector fwd = Normalised(OvNeg(back));
  const OvVector& eye = view.position;
  const OvVector negFwd = OvNeg(fwd);
  MakePlane(view.planes[0], negFwd, Combine(eye, 1.0f, fwd, n));
  MakePlane(view.planes[1], fwd, Combine(eye, 1.0f, fwd, f));
  if (view.perspective) {
    const float tx = std::tan(view.fov * 0.5f);
    const float ty = tx * aspect;
    MakePlane(view.planes[2], Combine(OvNeg(right), 1.0f, fwd, -tx), eye);
    MakePlane(view.planes[3], Combine(right, 1.0f, fwd, -tx), eye);
    MakePlane(view.planes[4], Combine(up, 1.0f, fwd, -ty), eye);
    MakePlane(view.planes[5], Combine(OvNeg(up), 1.0f, fwd, -ty), eye);
  } else {
    const float hx = view.fov;
    const float hy = view.fov * aspect;
    MakePlane(view.planes[2], OvNeg(right), Combine(eye, 1.0f, right, -hx));
    MakePlane(view.planes[3], right, Combine(eye, 1.0f, right, hx));
    MakePlane(view.planes[4], up, Combine(eye, 1.0f, up, hy));
    MakePlane(view.planes[5], OvNeg(up), Combine(eye, 1.0f, up, -hy));
  }

  if (vertexFog) {
    OvVector z1{0.0f, 0.0f, view.fogNear};
    OvVector z2{0.0f, 0.0f, view.fogFar};
    OvProjectPoint(z1, z1, p);
    OvProjectPoint(z2, z2, p);
    view.fogZ1 = z1.z;
    view.fogZ2 = z2.z;
    view.fogFactor = (z1.z != z2.z) ? 256.0f / (z1.z - z2.z) : 0.0f;
  }
  view.valid = true;
  return true;
}

namespace {

void Transform4(const OvMatrix& m, const OvVector& p, float out[4]) {
  for (int c = 0; c < 4; ++c) out[c] = p.x * m.m[0][c] + p.y * m.m[1][c] + p.z * m.m[2][c] + m.m[3][c];
}

}  // namespace

bool OvInViewFrustum(const OvCameraView& view, const OvVector& p) {
  float v[4];
  Transform4(view.viewProj, p, v);
  const float w = v[3];
  return -w <= v[0] && v[0] <= w && 0.0f <= v[2] && v[2] <= w && -w <= v[1] && v[1] <= w;
}

bool OvInViewFrustumXY(const OvCameraView& view, const OvVector& p, float a, float b) {
  float v[4];
  Transform4(view.viewProj, p, v);
  const float w = v[3];
  return -a * w <= v[0] && v[0] <= a * w && -b * w <= v[1] && v[1] <= b * w;
}

OvVector OvFilmCoordToWorldVector(const OvCameraView& view, const OvMatrix* cameraWorld, float x, float y, float width,
                                  float height) {
  const float p00 = view.projection.m[0][0];
  if (!cameraWorld || width <= 0.0f || height <= 0.0f || p00 == 0.0f) return {0.0f, 0.0f, 0.0f};
  const float s = 1.0f / (p00 * width * 0.5f);
  // An orthographic projection has no P23: its rays all run straight ahead.
  const float p23 = view.projection.m[2][3];
  const OvVector local{(x - width * 0.5f) * s, (height * 0.5f - y) * s, p23 != 0.0f ? 1.0f / p23 : 1.0f};
  OvVector right, up, back;
  OvMatrixGetRow(*cameraWorld, 0, right);
  OvMatrixGetRow(*cameraWorld, 1, up);
  OvMatrixGetRow(*cameraWorld, 2, back);
  right = Normalised(right);
  up = Normalised(up);
  back = Normalised(back);
  return {right.x * local.x + up.x * local.y - back.x * local.z, right.y * local.x + up.y * local.y - back.y * local.z,
          right.z * local.x + up.z * local.y - back.z * local.z};
}
