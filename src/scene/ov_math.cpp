// Vector, matrix and quaternion math.
#include "ov_math.h"

#include <algorithm>
#include <cmath>

namespace {

OvVector Row(const OvMatrix& m, int i) { return {m.m[i][0], m.m[i][1], m.m[i][2]}; }

void SetRow4(OvMatrix& m, int i, const OvVector& v, float w) {
  m.m[i][0] = v.x;
  m.m[i][1] = v.y;
  m.m[i][2] = v.z;
  m.m[i][3] = w;
}

// Upper 3x3 of the rotation matrix of q (QuatToMatrix formula), rows 0-2 only.
void QuatRows(const OvQuat& q, OvVector rows[3]) {
  const float s = q.s, x = q.v.x, y = q.v.y, z = q.v.z;
  rows[0] = {1.0f - 2.0f * y * y - 2.0f * z * z, 2.0f * x * y + 2.0f * s * z, 2.0f * x * z - 2.0f * s * y};
  rows[1] = {2.0f * x * y - 2.0f * s * z, 1.0f - 2.0f * x * x - 2.0f * z * z, 2.0f * y * z + 2.0f * s * x};
  rows[2] = {2.0f * x * z + 2.0f * s * y, 2.0f * y * z - 2.0f * s * x, 1.0f - 2.0f * x * x - 2.0f * y * y};
}

void SetRot3x3(OvMatrix& m, const OvQuat& q) {
  OvVector rows[3];
  QuatRows(q, rows);
  for (int i = 0; i < 3; ++i) SetRow4(m, i, rows[i], 0.0f);
}

}  // namespace

// ---------------------------------------------------------------------------
// Matrix operations

void OvMatrixSet3Row(OvMatrix& m, const OvVector& r0, const OvVector& r1, const OvVector& r2) {
  OvMatrixSetRow(m, 0, r0);
  OvMatrixSetRow(m, 1, r1);
  OvMatrixSetRow(m, 2, r2);
}

void OvMatrixSet3Col(OvMatrix& m, const OvVector& c0, const OvVector& c1, const OvVector& c2) {
  OvMatrixSetCol(m, 0, c0);
  OvMatrixSetCol(m, 1, c1);
  OvMatrixSetCol(m, 2, c2);
}

void OvMatSetRotX(OvMatrix& m, float a) {
  const float c = std::cos(a), s = std::sin(a);
  OvMatrixIdentity(m);
  m.m[1][1] = m.m[2][2] = c;
  m.m[1][2] = s;
  m.m[2][1] = -s;
}

void OvMatSetRotY(OvMatrix& m, float a) {
  const float c = std::cos(a), s = std::sin(a);
  OvMatrixIdentity(m);
  m.m[0][0] = m.m[2][2] = c;
  m.m[2][0] = s;
  m.m[0][2] = -s;
}

void OvMatSetRotZ(OvMatrix& m, float a) {
  const float c = std::cos(a), s = std::sin(a);
  OvMatrixIdentity(m);
  m.m[0][0] = m.m[1][1] = c;
  m.m[0][1] = s;
  m.m[1][0] = -s;
}

void OvMatPreRotZ(OvMatrix& m, float a) {
  const float c = std::cos(a), s = std::sin(a);
  for (int k = 0; k < 3; ++k) {
    const float r0 = m.m[0][k], r1 = m.m[1][k];
    m.m[0][k] = c * r0 + s * r1;
    m.m[1][k] = c * r1 - s * r0;
  }
}

void OvMatrixPreScale(OvMatrix& m, const OvVector& s) {
  const float f[3] = {s.x, s.y, s.z};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m.m[r][c] *= f[r];
}

void OvMatMul4x3(OvMatrix& out, const OvMatrix& a, const OvMatrix& b) {
  OvMatrix t;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 3; ++c) {
      float v = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c];
      if (r == 3) v += b.m[3][c];
      t.m[r][c] = v;
    }
    t.m[r][3] = (r == 3) ? 1.0f : 0.0f;
  }
  out = t;
}

void OvMatInversePRS(OvMatrix& out, const OvMatrix& m) {
  OvMatrix t;
  const OvVector pos = Row(m, 3);
  for (int i = 0; i < 3; ++i) {
    const OvVector row = Row(m, i);
    const float k = 1.0f / OvSquareLength(row);
    t.m[0][i] = row.x * k;
    t.m[1][i] = row.y * k;
    t.m[2][i] = row.z * k;
    t.m[3][i] = -k * OvVectorDotProd(pos, row);
  }
  t.m[0][3] = t.m[1][3] = t.m[2][3] = 0.0f;
  t.m[3][3] = 1.0f;
  out = t;
}

void OvOrientationMatrix(OvMatrix& m, const OvQuat& q, const OvVector& pos) {
  OvQuatToMatrix(m, q);
  OvMatrixSetPos(m, pos);
}

void OvPRSToMatrix(OvMatrix& m, const OvVector& pos, const OvQuat& q, const OvVector& scale) {
  SetRot3x3(m, q);
  SetRow4(m, 3, pos, 1.0f);
  const float f[3] = {scale.x, scale.y, scale.z};
  for (int r = 0; r < 3; ++r) {
    if (f[r] == 1.0f) continue;
    for (int c = 0; c < 3; ++c) m.m[r][c] *= f[r];
  }
}

void OvMatrixLookAt(OvMatrix& m, const OvVector& pos, const OvVector& target) {
  OvVector z = OvSub(pos, target);
  OvNormalize(z);
  OvVector up{0.0f, 0.0f, 1.0f};
  if (z.x == 0.0f && z.y == 0.0f) up = {0.0f, 1.0f, 1.0f};
  OvVector x = OvCross(up, z);
  OvNormalize(x);
  const OvVector y = OvCross(z, x);
  SetRow4(m, 0, x, 0.0f);
  SetRow4(m, 1, y, 0.0f);
  SetRow4(m, 2, z, 0.0f);
  SetRow4(m, 3, pos, 1.0f);
}

void OvMatLookAt_Roll(OvMatrix& m, const OvVector& pos, const OvVector& target, const OvVector& up, float roll) {
  OvVector z = OvSub(pos, target);
  if (z.x == 0.0f && z.y == 0.0f && z.z == 0.0f) z = {0.0f, 0.0f, 1.0f};
  OvNormalize(z);
  OvVector x = OvCross(up, z);
  OvNormalize(x);
  OvVector y = OvCross(z, x);
  if (roll != 0.0f) {
    // RotZ(roll)3x3 * basis: rows (c, s, 0), (-s, c, 0), (0, 0, 1).
    const float c = std::cos(roll), s = std::sin(roll);
    const OvVector nx{c * x.x + s * y.x, c * x.y + s * y.y, c * x.z + s * y.z};
    const OvVector ny{c * y.x - s * x.x, c * y.y - s * x.y, c * y.z - s * x.z};
    x = nx;
    y = ny;
  }
  SetRow4(m, 0, x, 0.0f);
  SetRow4(m, 1, y, 0.0f);
  SetRow4(m, 2, z, 0.0f);
  SetRow4(m, 3, pos, 1.0f);
}

void OvMatrixOrthogonalize(OvMatrix& m) {
  const OvVector r0 = Row(m, 0), r1 = Row(m, 1);
  const OvVector r2 = OvCross(r0, r1);
  OvMatrixSetRow(m, 2, r2);
  OvMatrixSetRow(m, 1, OvCross(r2, r0));
}

bool OvMatrixGetScale(OvVector& out, const OvMatrix& m) {
  float len[3];
  bool outside = false;
  for (int i = 0; i < 3; ++i) {
    const float sq = OvSquareLength(Row(m, i));
    if (OvIsUnit(sq)) {
      len[i] = 1.0f;
    } else {
      len[i] = std::sqrt(sq);
      outside = true;
    }
  }
  out = {len[0], len[1], len[2]};
  return outside;
}

float OvMatrixGetUniScale(const OvMatrix& m) {
  const float sq = OvSquareLength(Row(m, 0));
  return OvIsUnit(sq) ? 1.0f : std::sqrt(sq);
}

void OvMatrixExtractScale(OvVector& outScale, OvMatrix* outMat, const OvMatrix& m) {
  const float len[3] = {OvLength(Row(m, 0)), OvLength(Row(m, 1)), OvLength(Row(m, 2))};
  if (outMat) {
    *outMat = m;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) outMat->m[r][c] /= len[r];
  }
  outScale = {len[0], len[1], len[2]};
}

void OvMatrixPosSub(OvVector& out, const OvMatrix& m1, const OvMatrix& m2) { out = OvSub(Row(m1, 3), Row(m2, 3)); }

void OvXformPoint(OvVector& out, const OvVector& p, const OvMatrix& m) {
  const OvVector r{p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
                   p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
                   p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
  out = r;
}

void OvInvXformPoint(OvVector& out, const OvVector& p, const OvMatrix& m) {
  const OvVector v = OvSub(p, Row(m, 3));
  const OvVector r0 = Row(m, 0);
  OvVector r{OvVectorDotProd(v, r0), OvVectorDotProd(v, Row(m, 1)), OvVectorDotProd(v, Row(m, 2))};
  const float sq = OvSquareLength(r0);
  if (!OvIsUnit(sq)) r = {r.x / sq, r.y / sq, r.z / sq};
  out = r;
}

// ---------------------------------------------------------------------------
// Vector operations

void OvVectorMin(OvVector& out, const OvVector& a, const OvVector& b) {
  out = {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)};
}

void OvVectorMax(OvVector& out, const OvVector& a, const OvVector& b) {
  out = {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)};
}

void OvVectorMinMax(OvVector& outMin, OvVector& outMax, const OvVector& a, const OvVector& b) {
  const OvVector lo{std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)};
  const OvVector hi{std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)};
  outMin = lo;
  outMax = hi;
}

void OvVectorAdjLength(OvVector& v, float len) {
  const float l = OvLength(v);
  if (l == 0.0f) return;
  OvVectorScale(v, len / l);
}

void OvVectorAddRay(OvVector& v, const OvVector& from, const OvVector& to, float dist) {
  const OvVector d = OvSub(to, from);
  const float l = OvLength(d);
  if (l == 0.0f) return;
  OvVectorAdd(v, OvScaled(d, dist / l));
}

void OvVectorCrossProd(OvVector& out, const OvVector& a, const OvVector& b) { out = OvCross(a, b); }

void OvVectorNormCrossProd(OvVector& out, const OvVector& a, const OvVector& b) {
  OvVector c = OvCross(a, b);
  const float sq = OvSquareLength(c);
  if (sq != 0.0f && !OvIsUnit(sq)) OvVectorScale(c, 1.0f / std::sqrt(sq));
  out = c;
}

float OvVectorProjLength(const OvVector& a, const OvVector& b) {
  const float dot = OvVectorDotProd(a, b);
  const float sq = OvSquareLength(b);
  if (OvIsUnit(sq)) return dot;
  return dot / std::sqrt(sq);
}

void OvPlaneNormal(OvVector& out, const OvVector& p0, const OvVector& p1, const OvVector& p2) {
  out = OvCross(OvSub(p1, p0), OvSub(p2, p0));
}

void OvVectorLerp(OvVector& out, const OvVector& a, const OvVector& b, float t) {
  out = {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)};
}

float OvCrossAngle(const OvVector& a, const OvVector& b) {
  const double dot = OvVectorDotProd(a, b);
  const double la = OvSquareLength(a), lb = OvSquareLength(b);
  double k = dot / std::sqrt(la * lb);
  if (k > 1.0) k = 1.0;
  if (k < -1.0) k = -1.0;
  return static_cast<float>(std::acos(k) * static_cast<double>(OV_RAD_TO_DEG));
}

void OvNormalize(OvVector& v) {
  const float l = OvLength(v);
  if (l == 0.0f) return;
  OvVectorScale(v, 1.0f / l);
}

// ---------------------------------------------------------------------------
// Quaternion operations

void OvQuatToMatrix(OvMatrix& m, const OvQuat& q) {
  SetRot3x3(m, q);
  SetRow4(m, 3, {0.0f, 0.0f, 0.0f}, 1.0f);
}

void OvQuatCombine(OvQuat& q1, const OvQuat& q2) {
  const float s1 = q1.s, s2 = q2.s;
  const OvVector a = q1.v, b = q2.v;
  const OvVector c = OvCross(b, a);
  q1.s = s1 * s2 - OvVectorDotProd(a, b);
  q1.v = {s1 * b.x + s2 * a.x + c.x, s1 * b.y + s2 * a.y + c.y, s1 * b.z + s2 * a.z + c.z};
}

void OvSlerpCore(OvQuat& out, const OvQuat& q1, const OvQuat& q2, float theta, float t) {
  const float e = std::cos(theta);
  float w1, w2;
  if (1.0f - e > 0.03f) {
    const float st = std::sin(theta);
    w1 = std::sin((1.0f - t) * theta) / st;
    w2 = std::sin(t * theta) / st;
  } else {
    w1 = 1.0f - t;
    w2 = t;
  }
  const OvQuat r{w1 * q1.s + w2 * q2.s,
                 {w1 * q1.v.x + w2 * q2.v.x, w1 * q1.v.y + w2 * q2.v.y, w1 * q1.v.z + w2 * q2.v.z}};
  out = r;
}

void OvQuatSlerp(OvQuat& out, const OvQuat& q1, const OvQuat& q2, float t) {
  OvQuat b = q2;
  float k = q1.s * b.s + q1.v.x * b.v.x + q1.v.y * b.v.y + q1.v.z * b.v.z;
  if (k < 0.0f) {
    b = {-b.s, {-b.v.x, -b.v.y, -b.v.z}};
    k = -k;
  }
  const float theta = (k >= 1.0f || k <= -1.0f) ? 0.0f : std::acos(k);
  OvSlerpCore(out, q1, b, theta, t);
}

void MakeQuat(OvQuat& q, const OvVector& axis, float angle) {
  const float h = angle * 0.5f;
  const float s = std::sin(h);
  q = {std::cos(h), {s * axis.x, s * axis.y, s * axis.z}};
}

void MakeRotMatrix(OvMatrix& m, const OvVector& center, const OvVector& axis, float angle) {
  OvQuat q;
  MakeQuat(q, axis, angle);
  SetRot3x3(m, q);
  // row 3 = center - center * R
  OvVector rc;
  OvRotateVector(rc, center, m);
  SetRow4(m, 3, OvSub(center, rc), 1.0f);
}

// ---------------------------------------------------------------------------
// Further operations

void OvMatMul4x4(OvMatrix& out, const OvMatrix& a, const OvMatrix& b) {
  OvMatrix t;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      t.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c] + a.m[r][3] * b.m[3][c];
  out = t;
}

void OvMatMul3x3(OvMatrix& out, const OvMatrix& a, const OvMatrix& b) {
  OvMatrix t;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) t.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c];
    t.m[r][3] = 0.0f;
  }
  t.m[3][0] = t.m[3][1] = t.m[3][2] = 0.0f;
  t.m[3][3] = 1.0f;
  out = t;
}

void OvMatTranspose(OvMatrix& m) {
  for (int r = 0; r < 4; ++r)
    for (int c = r + 1; c < 4; ++c) std::swap(m.m[r][c], m.m[c][r]);
}

void OvMatScaling(OvMatrix& m, const OvVector& s) {
  OvMatrixIdentity(m);
  m.m[0][0] = s.x;
  m.m[1][1] = s.y;
  m.m[2][2] = s.z;
}

void OvRotateVector(OvVector& out, const OvVector& v, const OvMatrix& m) {
  const OvVector r{v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
                   v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
                   v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]};
  out = r;
}

void OvProjectPoint(OvVector& out, const OvVector& p, const OvMatrix& m) {
  const float w = p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + m.m[3][3];
  OvVector q;
  OvXformPoint(q, p, m);
  out = {q.x / w, q.y / w, q.z / w};
}

void OvQuatFromMatrix(OvQuat& q, const OvMatrix& mat) {
  const auto& m = mat.m;
  const float t = m[0][0] + m[1][1] + m[2][2];
  if (t > 0.0f) {
    const float r = std::sqrt(t + 1.0f);
    const float k = 0.5f / r;
    q = {r * 0.5f, {(m[1][2] - m[2][1]) * k, (m[2][0] - m[0][2]) * k, (m[0][1] - m[1][0]) * k}};
    return;
  }
  static constexpr int kNext[3] = {1, 2, 0};
  int i = (m[1][1] > m[0][0]) ? 1 : 0;
  if (m[2][2] > m[i][i]) i = 2;
  const int j = kNext[i], k = kNext[j];
  const float r = std::sqrt(m[i][i] - (m[j][j] + m[k][k]) + 1.0f);
  const float f = 0.5f / r;
  float v[3];
  v[i] = r * 0.5f;
  v[j] = (m[i][j] + m[j][i]) * f;
  v[k] = (m[i][k] + m[k][i]) * f;
  q = {(m[j][k] - m[k][j]) * f, {v[0], v[1], v[2]}};
}

void OvQuatAxis(const OvQuat& q, int i, OvVector& out) {
  const float s = q.s, x = q.v.x, y = q.v.y, z = q.v.z;
  if (i == 0)
    out = {1.0f - 2.0f * y * y - 2.0f * z * z, 2.0f * x * y + 2.0f * s * z, 2.0f * x * z - 2.0f * s * y};
  else if (i == 1)
    out = {2.0f * x * y - 2.0f * s * z, 1.0f - 2.0f * x * x - 2.0f * z * z, 2.0f * y * z + 2.0f * s * x};
  else
    out = {2.0f * x * z + 2.0f * s * y, 2.0f * y * z - 2.0f * s * x, 1.0f - 2.0f * x * x - 2.0f * y * y};
}

void OvInversePRS(OvMatrix& m, const OvVector& pos, const OvQuat& q, const OvVector& scale) {
  OvVector rows[3];
  QuatRows(q, rows);
  // Transposed rotation: column i = rows[i].
  for (int i = 0; i < 3; ++i) {
    m.m[0][i] = rows[i].x;
    m.m[1][i] = rows[i].y;
    m.m[2][i] = rows[i].z;
    // -pos rotated back: (-pos) * R^T, component i = -(pos . rows[i]).
    m.m[3][i] = -OvVectorDotProd(pos, rows[i]);
  }
  m.m[0][3] = m.m[1][3] = m.m[2][3] = 0.0f;
  m.m[3][3] = 1.0f;
  const float f[3] = {scale.x, scale.y, scale.z};
  for (int c = 0; c < 3; ++c) {
    if (f[c] == 1.0f) continue;
    for (int r = 0; r < 4; ++r) m.m[r][c] /= f[c];
  }
}

void OvMatPerspective(OvMatrix& m, float fov, float nearZ, float farZ) {
  OvMatrixZero(m);
  const float h = fov * 0.5f;
  const float cot = std::cos(h) / std::sin(h);
  m.m[0][0] = m.m[1][1] = cot;
  m.m[2][2] = farZ / (farZ - nearZ);
  m.m[3][2] = -nearZ * farZ / (farZ - nearZ);
  m.m[2][3] = 1.0f;
}

void OvPlaneFromPointNormal(OvPlane& plane, const OvVector& p, const OvVector& n) {
  const float d = -OvVectorDotProd(p, n);
  plane.n = n;
  plane.d = d;
}

void OvPlaneFrom3Points(OvPlane& plane, const OvVector& p0, const OvVector& p1, const OvVector& p2) {
  OvVector n = OvCross(OvSub(p1, p0), OvSub(p2, p0));
  OvNormalize(n);
  const float d = -OvVectorDotProd(n, p0);
  plane.n = n;
  plane.d = d;
}

void OvPlaneFrom3PointsUnnormalized(OvPlane& plane, const OvVector& p0, const OvVector& p1, const OvVector& p2) {
  const OvVector n = OvCross(OvSub(p1, p0), OvSub(p2, p0));
  const float d = -OvVectorDotProd(n, p0);
  plane.n = n;
  plane.d = d;
}

bool OvSphereTouchesPlanes(const OvPlane* planes, int count, const OvVector& centre, float r) {
  for (int i = 0; i < count; ++i)
    if (!(OvVectorDotProd(planes[i].n, centre) + planes[i].d <= r)) return false;
  return true;
}

bool OvSphereInsidePlanes(const OvPlane* planes, int count, const OvVector& centre, float r) {
  for (int i = 0; i < count; ++i)
    if (!(OvVectorDotProd(planes[i].n, centre) + planes[i].d <= -r)) return false;
  return true;
}

void OvPerpendicular(OvVector& out, const OvVector& v) {
  OvVector a;
  if (v.x != 0.0f)
    a = {0.0f, 0.0f, 1.0f};
  else if (v.y == 0.0f)
    a = {0.0f, 1.0f, 0.0f};
  else
    a = {1.0f, 0.0f, 0.0f};
  out = OvCross(v, a);
}
