// Vector, matrix and quaternion math.
//
// Conventions:
// - OvVector: x, y, z.
// - OvQuat: scalar first, s (cosine part), then the vector part v = (x, y, z).
//   Identity (1, 0, 0, 0); rotation by angle a about unit axis n is
//   (cos a/2, sin a/2 * n). The vector part is a real OvVector, so a pointer
//   to it may be handed out as an OvVector (the script layer aliases it).
// - OvMatrix: row-major float m[4][4]. Points are row vectors, p' = p * M.
//   Rows 0-2 are the images of the X, Y, Z axes, row 3 is the translation;
//   affine matrices have column 3 = (0, 0, 0, 1). A * B applies A first.
// - OvPlane: (n.x, n.y, n.z, d); points on the plane satisfy n . p + d = 0.
// - Angles are radians.
// - Free functions, output first. Plain value arithmetic: no allocation, no
//   state, no failure reporting. Indices are not validated.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

struct OvVector {
  float x, y, z;
};

struct OvQuat {
  float s;
  OvVector v;
};

struct OvMatrix {
  float m[4][4];
};

struct OvPlane {
  OvVector n;
  float d;
};

static_assert(sizeof(OvVector) == 12);
static_assert(sizeof(OvQuat) == 16);
static_assert(sizeof(OvMatrix) == 64);
static_assert(sizeof(OvPlane) == 16);

// The float values of pi, 2 pi and pi/2.
inline constexpr float C_PI = 3.1415927410125732f;
inline constexpr float C_2PI = 6.2831854820251465f;
inline constexpr float C_HALF_PI = 1.5707963705062866f;

// Degree/radian factors used by the script-side wrappers.
inline constexpr float OV_DEG_TO_RAD = 0.017453292f;
inline constexpr float OV_RAD_TO_DEG = 57.295776f;

// Unit tolerance: true when the float's bit pattern minus 0x3F7FFFE1, as an
// unsigned 32-bit number, is below 256 (values 0.99999815 ... 1.0000267).
// Such a value is then taken as exactly 1.
inline bool OvIsUnit(float value) { return static_cast<uint32_t>(std::bit_cast<uint32_t>(value) - 0x3F7FFFE1u) < 256u; }

// ---------------------------------------------------------------------------
// Saturating conversions. Content numbers may be anything; conversions to
// time units and frames clamp instead of being undefined.

inline int32_t OvSaturateI32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return int32_t(v);
}
// NaN gives 0; beyond +-9e18 clamps there, so the result can still be added to.
inline int64_t OvTruncToI64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.0e18) return INT64_C(9000000000000000000);
  if (v <= -9.0e18) return -INT64_C(9000000000000000000);
  return int64_t(v);
}
inline int32_t OvTruncToI32(double v) { return OvSaturateI32(OvTruncToI64(v)); }
// Division rounding towards minus infinity; b must not be 0.
inline int64_t OvFloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// ---------------------------------------------------------------------------
// Matrix operations

inline void OvMatrixIdentity(OvMatrix& m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m.m[r][c] = (r == c) ? 1.0f : 0.0f;
}

inline void OvMatrixZero(OvMatrix& m) {
  for (auto& row : m.m)
    for (float& e : row) e = 0.0f;
}

inline void OvMatrixCopy(OvMatrix& dst, const OvMatrix& src) { dst = src; }

// out = (m[i][0], m[i][1], m[i][2]); i in 0-3.
inline void OvMatrixGetRow(const OvMatrix& m, int i, OvVector& out) { out = {m.m[i][0], m.m[i][1], m.m[i][2]}; }
// Sets m[i][0..2]; column 3 untouched.
inline void OvMatrixSetRow(OvMatrix& m, int i, const OvVector& v) {
  m.m[i][0] = v.x;
  m.m[i][1] = v.y;
  m.m[i][2] = v.z;
}
// out = (m[0][i], m[1][i], m[2][i]); i in 0-2.
inline void OvMatrixGetCol(const OvMatrix& m, int i, OvVector& out) { out = {m.m[0][i], m.m[1][i], m.m[2][i]}; }
// Sets m[0..2][i] (rows 0-2 only).
inline void OvMatrixSetCol(OvMatrix& m, int i, const OvVector& v) {
  m.m[0][i] = v.x;
  m.m[1][i] = v.y;
  m.m[2][i] = v.z;
}
void OvMatrixSet3Row(OvMatrix& m, const OvVector& r0, const OvVector& r1, const OvVector& r2);
void OvMatrixSet3Col(OvMatrix& m, const OvVector& c0, const OvVector& c1, const OvVector& c2);

inline void OvMatrixGetPos(const OvMatrix& m, OvVector& out) { OvMatrixGetRow(m, 3, out); }
inline void OvMatrixSetPos(OvMatrix& m, const OvVector& v) { OvMatrixSetRow(m, 3, v); }

// Identity, then the rotation elements for angle a (radians).
void OvMatSetRotX(OvMatrix& m, float a);
void OvMatSetRotY(OvMatrix& m, float a);
void OvMatSetRotZ(OvMatrix& m, float a);

// Rotates about the local Z axis: row0' = c row0 + s row1, row1' = c row1 - s row0
// (x, y, z elements; rows 2, 3 unchanged).
void OvMatPreRotZ(OvMatrix& m, float a);
// Row 0 *= s.x, row 1 *= s.y, row 2 *= s.z (x, y, z elements).
void OvMatrixPreScale(OvMatrix& m, const OvVector& s);

// Affine product a * b (column 3 of the result = (0, 0, 0, 1)). out may be a or b.
void OvMatMul4x3(OvMatrix& out, const OvMatrix& a, const OvMatrix& b);
// Inverse of a matrix whose rows 0-2 are mutually orthogonal (any lengths). out may be m.
void OvMatInversePRS(OvMatrix& out, const OvMatrix& m);

// m = QuatToMatrix(q), row 3 = pos.
void OvOrientationMatrix(OvMatrix& m, const OvQuat& q, const OvVector& pos);
// Scale * Rotation(q) * Translation(pos); scale components equal to 1 are skipped.
void OvPRSToMatrix(OvMatrix& m, const OvVector& pos, const OvQuat& q, const OvVector& scale);

// -Z axis points from pos at target, world up +Z; row 3 = pos, m[3][3] = 1.
void OvMatrixLookAt(OvMatrix& m, const OvVector& pos, const OvVector& target);
// As LookAt with an explicit up vector and a roll (radians) about the local Z axis.
void OvMatLookAt_Roll(OvMatrix& m, const OvVector& pos, const OvVector& target, const OvVector& up, float roll);

// row 2 = row0 x row1, then row 1 = row2 x row0; no normalisation.
void OvMatrixOrthogonalize(OvMatrix& m);

// out.i = length of row i (exactly 1 within the unit tolerance of the squared
// length); true when any row fell outside the tolerance.
bool OvMatrixGetScale(OvVector& out, const OvMatrix& m);
// Length of row 0 (1 within the unit tolerance).
float OvMatrixGetUniScale(const OvMatrix& m);
// outScale.i = length of row i (no tolerance). If outMat is non-null it becomes
// m with rows 0-2 divided by those lengths (row 3 kept). outMat may be &m.
void OvMatrixExtractScale(OvVector& outScale, OvMatrix* outMat, const OvMatrix& m);

// out = position(m1) - position(m2).
void OvMatrixPosSub(OvVector& out, const OvMatrix& m1, const OvMatrix& m2);
// out = p * m including translation. out may be p.
void OvXformPoint(OvVector& out, const OvVector& p, const OvMatrix& m);
// Inverse transform for orthogonal rows of equal length. out may be p.
void OvInvXformPoint(OvVector& out, const OvVector& p, const OvMatrix& m);

// ---------------------------------------------------------------------------
// Vector operations

inline void OvVectorSet(OvVector& v, float x, float y, float z) { v = {x, y, z}; }
// a += b
inline void OvVectorAdd(OvVector& a, const OvVector& b) {
  a.x += b.x;
  a.y += b.y;
  a.z += b.z;
}
// a -= b
inline void OvVectorSub(OvVector& a, const OvVector& b) {
  a.x -= b.x;
  a.y -= b.y;
  a.z -= b.z;
}
inline void OvVectorScale(OvVector& v, float s) {
  v.x *= s;
  v.y *= s;
  v.z *= s;
}
inline float OvVectorDotProd(const OvVector& a, const OvVector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float OvSquareLength(const OvVector& v) { return v.x * v.x + v.y * v.y + v.z * v.z; }
inline float OvLength(const OvVector& v) { return std::sqrt(OvSquareLength(v)); }
inline float OvSquareDistance(const OvVector& a, const OvVector& b) {
  const OvVector d{a.x - b.x, a.y - b.y, a.z - b.z};
  return OvSquareLength(d);
}
inline float OvDistance(const OvVector& a, const OvVector& b) { return std::sqrt(OvSquareDistance(a, b)); }

// Value forms, for use inside expressions.
inline OvVector OvAdd(const OvVector& a, const OvVector& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline OvVector OvSub(const OvVector& a, const OvVector& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline OvVector OvNeg(const OvVector& v) { return {-v.x, -v.y, -v.z}; }
inline OvVector OvScaled(const OvVector& v, float s) { return {v.x * s, v.y * s, v.z * s}; }
inline OvVector OvCross(const OvVector& a, const OvVector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Component-wise minimum / maximum. out may be a or b.
void OvVectorMin(OvVector& out, const OvVector& a, const OvVector& b);
void OvVectorMax(OvVector& out, const OvVector& a, const OvVector& b);
// Both at once; on equal components both outputs take that value.
void OvVectorMinMax(OvVector& outMin, OvVector& outMax, const OvVector& a, const OvVector& b);

// Scales v to length len; a zero vector is left unchanged.
void OvVectorAdjLength(OvVector& v, float len);
// v += (to - from) * dist / length(to - from); nothing when from equals to.
void OvVectorAddRay(OvVector& v, const OvVector& from, const OvVector& to, float dist);
// out = a x b. out may be a or b.
void OvVectorCrossProd(OvVector& out, const OvVector& a, const OvVector& b);
// out = a x b, normalised unless its squared length is 0 or within the unit tolerance.
void OvVectorNormCrossProd(OvVector& out, const OvVector& a, const OvVector& b);
// (a . b) / length(b); no division when lengthSquared(b) is within the unit tolerance.
float OvVectorProjLength(const OvVector& a, const OvVector& b);
// out = (p1 - p0) x (p2 - p0), not normalised.
void OvPlaneNormal(OvVector& out, const OvVector& p0, const OvVector& p1, const OvVector& p2);
// out = a + t (b - a).
void OvVectorLerp(OvVector& out, const OvVector& a, const OvVector& b, float t);
// Angle between a and b in degrees, 0-180.
float OvCrossAngle(const OvVector& a, const OvVector& b);
// In place: v *= 1 / length(v); a zero vector stays zero. No unit tolerance.
void OvNormalize(OvVector& v);

// ---------------------------------------------------------------------------
// Quaternion operations

inline void OvQuatIdentity(OvQuat& q) { q = {1.0f, {0.0f, 0.0f, 0.0f}}; }
// Rotation matrix of q (not normalised); row 3 = (0, 0, 0, 1).
void OvQuatToMatrix(OvMatrix& m, const OvQuat& q);
// q1 := rotation q1 followed by rotation q2.
void OvQuatCombine(OvQuat& q1, const OvQuat& q2);
// Spherical interpolation (shortest arc). out may be q1 or q2.
void OvQuatSlerp(OvQuat& out, const OvQuat& q1, const OvQuat& q2, float t);
// Interpolation core shared with keyframe playback: given the angle theta
// between q1 and q2 (already on the same hemisphere), out = w1 q1 + w2 q2 with
// sine weights, or linear weights when 1 - cos(theta) <= 0.03. out may be q1 or q2.
void OvSlerpCore(OvQuat& out, const OvQuat& q1, const OvQuat& q2, float theta, float t);
// q = (cos(angle/2), sin(angle/2) * axis); the axis is not normalised.
void MakeQuat(OvQuat& q, const OvVector& axis, float angle);
// Rotation about the line through center.
void MakeRotMatrix(OvMatrix& m, const OvVector& center, const OvVector& axis, float angle);

// ---------------------------------------------------------------------------
// Further operations

// Full 4x4 product a * b. out may be a or b.
void OvMatMul4x4(OvMatrix& out, const OvMatrix& a, const OvMatrix& b);
// Product of the upper 3x3 parts; row 3 = 0, column 3 = (0, 0, 0, 1). out may be a or b.
void OvMatMul3x3(OvMatrix& out, const OvMatrix& a, const OvMatrix& b);
// In place, all 16 elements.
void OvMatTranspose(OvMatrix& m);
// Identity with diagonal s.x, s.y, s.z.
void OvMatScaling(OvMatrix& m, const OvVector& s);
// out = v * m3x3 (no translation). out may be v.
void OvRotateVector(OvVector& out, const OvVector& v, const OvMatrix& m);
// q = p * m; w = p . column3 + m[3][3]; out = q / w. out may be p.
void OvProjectPoint(OvVector& out, const OvVector& p, const OvMatrix& m);
// Rotation quaternion of the upper 3x3 of m.
void OvQuatFromMatrix(OvQuat& q, const OvMatrix& m);
// Row i (0, 1, 2) of QuatToMatrix(q), computed directly.
void OvQuatAxis(const OvQuat& q, int i, OvVector& out);
// Inverse of PRSToMatrix(pos, q, scale).
void OvInversePRS(OvMatrix& m, const OvVector& pos, const OvQuat& q, const OvVector& scale);
// Perspective projection (row vectors, w = z); aspect is applied elsewhere.
void OvMatPerspective(OvMatrix& m, float fov, float nearZ, float farZ);
// plane = (n, -p . n).
void OvPlaneFromPointNormal(OvPlane& plane, const OvVector& p, const OvVector& n);
// n = normalize((p1 - p0) x (p2 - p0)), d = -n . p0.
void OvPlaneFrom3Points(OvPlane& plane, const OvVector& p0, const OvVector& p1, const OvVector& p2);
// As above with the raw (unnormalised) cross product.
void OvPlaneFrom3PointsUnnormalized(OvPlane& plane, const OvVector& p0, const OvVector& p1, const OvVector& p2);
// True when n . centre + d <= r for every plane.
bool OvSphereTouchesPlanes(const OvPlane* planes, int count, const OvVector& centre, float r);
// True when n . centre + d <= -r for every plane (sphere fully inside).
bool OvSphereInsidePlanes(const OvPlane* planes, int count, const OvVector& centre, float r);
// out = v x a, a = (0,0,1) if v.x != 0, else (0,1,0) if v.y == 0, else (1,0,0). out may be v.
void OvPerpendicular(OvVector& out, const OvVector& v);
