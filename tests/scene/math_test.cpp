// Tests for the vector, matrix and quaternion math.
#include "ov_math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

constexpr float kEps = 1e-5f;

OvVector V(float x, float y, float z) { return {x, y, z}; }

float FromBits(uint32_t b) { return std::bit_cast<float>(b); }

void ExpectVecNear(const OvVector& a, const OvVector& b, float eps = kEps) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

void ExpectVecEq(const OvVector& a, const OvVector& b) {
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(a.z, b.z);
}

void ExpectMatNear(const OvMatrix& a, const OvMatrix& b, float eps = kEps) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.m[r][c], b.m[r][c], eps) << "at [" << r << "][" << c << "]";
}

void ExpectMatEq(const OvMatrix& a, const OvMatrix& b) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(a.m[r][c], b.m[r][c]) << "at [" << r << "][" << c << "]";
}

// Same rotation: q equals p up to sign.
void ExpectSameRotation(const OvQuat& q, const OvQuat& p, float eps = 1e-5f) {
  const float dot = q.s * p.s + q.v.x * p.v.x + q.v.y * p.v.y + q.v.z * p.v.z;
  const float sign = dot < 0 ? -1.0f : 1.0f;
  EXPECT_NEAR(q.s, sign * p.s, eps);
  EXPECT_NEAR(q.v.x, sign * p.v.x, eps);
  EXPECT_NEAR(q.v.y, sign * p.v.y, eps);
  EXPECT_NEAR(q.v.z, sign * p.v.z, eps);
}

// Independent naive 4x4 product (double accumulation).
OvMatrix NaiveMul(const OvMatrix& a, const OvMatrix& b) {
  OvMatrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += double(a.m[i][k]) * double(b.m[k][j]);
      r.m[i][j] = float(s);
    }
  return r;
}

OvMatrix Identity() {
  OvMatrix m;
  OvMatrixIdentity(m);
  return m;
}

OvMatrix Translation(const OvVector& t) {
  OvMatrix m = Identity();
  OvMatrixSetPos(m, t);
  return m;
}

// An arbitrary affine matrix: rotation about a tilted axis, non-uniform scale, translation.
OvMatrix SomeAffine(float angle = 0.7f, OvVector scale = {1.5f, 0.5f, 2.0f}, OvVector pos = {3.0f, -2.0f, 7.0f}) {
  OvQuat q;
  OvVector axis = V(1.0f, 2.0f, -0.5f);
  OvNormalize(axis);
  MakeQuat(q, axis, angle);
  OvMatrix m;
  OvPRSToMatrix(m, pos, q, scale);
  return m;
}

OvQuat UnitQuat(OvVector axis, float angle) {
  OvNormalize(axis);
  OvQuat q;
  MakeQuat(q, axis, angle);
  return q;
}

}  // namespace

// ---------------------------------------------------------------------------
// Types, constants, tolerance

TEST(OvMathTypes, LayoutScalarFirstAndRowMajor) {
  OvQuat q{1.0f, {2.0f, 3.0f, 4.0f}};
  const float* f = &q.s;
  EXPECT_EQ(f[0], 1.0f);
  EXPECT_EQ(f[1], 2.0f);
  EXPECT_EQ(f[3], 4.0f);
  OvMatrix m;
  for (int i = 0; i < 16; ++i) (&m.m[0][0])[i] = float(i);
  EXPECT_EQ(m.m[2][3], 11.0f);  // index 4r + c
  OvPlane p{{1, 2, 3}, 4};
  EXPECT_EQ((&p.n.x)[3], 4.0f);
}

TEST(OvMathConstants, FloatValuesOfPi) {
  EXPECT_EQ(double(C_PI), 3.1415927410125732);
  EXPECT_EQ(double(C_2PI), 6.2831854820251465);
  EXPECT_EQ(double(C_HALF_PI), 1.5707963705062866);
  EXPECT_EQ(C_PI, float(std::numbers::pi));
}

TEST(OvMathTolerance, BitPatternWindow) {
  EXPECT_TRUE(OvIsUnit(1.0f));
  EXPECT_TRUE(OvIsUnit(1.00002f));
  EXPECT_TRUE(OvIsUnit(FromBits(0x3F7FFFE1u)));
  EXPECT_TRUE(OvIsUnit(FromBits(0x3F7FFFE1u + 255u)));
  EXPECT_FALSE(OvIsUnit(FromBits(0x3F7FFFE0u)));
  EXPECT_FALSE(OvIsUnit(FromBits(0x3F7FFFE1u + 256u)));
  EXPECT_NEAR(FromBits(0x3F7FFFE1u), 0.99999815f, 1e-7f);
  EXPECT_NEAR(FromBits(0x3F7FFFE1u + 255u), 1.0000267f, 1e-7f);
  EXPECT_FALSE(OvIsUnit(0.0f));
  EXPECT_FALSE(OvIsUnit(-1.0f));
  EXPECT_FALSE(OvIsUnit(1.0001f));
  EXPECT_FALSE(OvIsUnit(0.9999f));
}

TEST(OvMathSaturate, ClampsAtTheEdgesInsteadOfWrapping) {
  const struct {
    double in;
    int64_t i64;
    int32_t i32;
  } cases[] = {
      {std::nan(""), 0, 0},
      {2147483647.9, 2147483647, INT32_MAX},
      {2147483648.0, 2147483648, INT32_MAX},
      {-2147483648.5, -2147483648, INT32_MIN},
      {-2147483649.0, -2147483649, INT32_MIN},
      {1e19, INT64_C(9000000000000000000), INT32_MAX},
      {-HUGE_VAL, -INT64_C(9000000000000000000), INT32_MIN},
      {-7.9, -7, -7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(OvTruncToI64(c.in), c.i64);
    EXPECT_EQ(OvTruncToI32(c.in), c.i32);
  }
  EXPECT_EQ(OvSaturateI32(INT64_MIN), INT32_MIN);
}

TEST(OvMathFloorDiv, RoundsTowardsMinusInfinity) {
  const struct {
    int64_t a, b, q;
  } cases[] = {{7, 2, 3}, {-7, 2, -4}, {7, -2, -4}, {-7, -2, 3}, {-8, 2, -4}, {0, -3, 0}, {-1, INT64_MAX, -1}};
  for (const auto& c : cases) EXPECT_EQ(OvFloorDiv(c.a, c.b), c.q) << c.a << " / " << c.b;
}

// ---------------------------------------------------------------------------
// Matrix element access

TEST(OvMatrixAccess, IdentityZeroCopy) {
  OvMatrix m;
  OvMatrixZero(m);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(m.m[r][c], 0.0f);
  OvMatrixIdentity(m);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(m.m[r][c], r == c ? 1.0f : 0.0f);
  OvMatrix a = SomeAffine(), b;
  OvMatrixZero(b);
  OvMatrixCopy(b, a);
  ExpectMatEq(a, b);
}

TEST(OvMatrixAccess, RowsColsPos) {
  OvMatrix m;
  for (int i = 0; i < 16; ++i) (&m.m[0][0])[i] = float(i);
  OvVector v;
  OvMatrixGetRow(m, 1, v);
  ExpectVecEq(v, V(4, 5, 6));
  OvMatrixGetRow(m, 3, v);
  ExpectVecEq(v, V(12, 13, 14));
  OvMatrixGetCol(m, 2, v);
  ExpectVecEq(v, V(2, 6, 10));
  OvMatrixGetPos(m, v);
  ExpectVecEq(v, V(12, 13, 14));

  OvMatrixSetRow(m, 2, V(-1, -2, -3));
  EXPECT_EQ(m.m[2][0], -1.0f);
  EXPECT_EQ(m.m[2][2], -3.0f);
  EXPECT_EQ(m.m[2][3], 11.0f);  // column 3 untouched

  OvMatrixSetCol(m, 1, V(-7, -8, -9));
  EXPECT_EQ(m.m[0][1], -7.0f);
  EXPECT_EQ(m.m[1][1], -8.0f);
  EXPECT_EQ(m.m[2][1], -9.0f);
  EXPECT_EQ(m.m[3][1], 13.0f);  // row 3 untouched

  OvMatrixSetPos(m, V(100, 200, 300));
  EXPECT_EQ(m.m[3][0], 100.0f);
  EXPECT_EQ(m.m[3][2], 300.0f);
  EXPECT_EQ(m.m[3][3], 15.0f);

  OvMatrixSet3Row(m, V(1, 2, 3), V(4, 5, 6), V(7, 8, 9));
  EXPECT_EQ(m.m[0][2], 3.0f);
  EXPECT_EQ(m.m[1][0], 4.0f);
  EXPECT_EQ(m.m[2][1], 8.0f);
  EXPECT_EQ(m.m[0][3], 3.0f);
  OvMatrixSet3Col(m, V(1, 2, 3), V(4, 5, 6), V(7, 8, 9));
  EXPECT_EQ(m.m[0][2], 7.0f);
  EXPECT_EQ(m.m[1][0], 2.0f);
  EXPECT_EQ(m.m[2][1], 6.0f);
  EXPECT_EQ(m.m[3][0], 100.0f);
}

// ---------------------------------------------------------------------------
// Rotations

TEST(OvMatrixRot, SetRotElements) {
  const float a = 0.3f, c = std::cos(a), s = std::sin(a);
  OvMatrix m;
  OvMatSetRotX(m, a);
  EXPECT_EQ(m.m[0][0], 1.0f);
  EXPECT_EQ(m.m[1][1], c);
  EXPECT_EQ(m.m[2][2], c);
  EXPECT_EQ(m.m[1][2], s);
  EXPECT_EQ(m.m[2][1], -s);
  EXPECT_EQ(m.m[3][3], 1.0f);
  OvMatSetRotY(m, a);
  EXPECT_EQ(m.m[0][0], c);
  EXPECT_EQ(m.m[2][2], c);
  EXPECT_EQ(m.m[2][0], s);
  EXPECT_EQ(m.m[0][2], -s);
  EXPECT_EQ(m.m[1][1], 1.0f);
  OvMatSetRotZ(m, a);
  EXPECT_EQ(m.m[0][0], c);
  EXPECT_EQ(m.m[1][1], c);
  EXPECT_EQ(m.m[0][1], s);
  EXPECT_EQ(m.m[1][0], -s);
  EXPECT_EQ(m.m[2][2], 1.0f);
}

TEST(OvMatrixRot, RightHandedAxesUnderRowVectors) {
  OvMatrix m;
  OvVector p;
  OvMatSetRotZ(m, C_HALF_PI);
  OvXformPoint(p, V(1, 0, 0), m);
  ExpectVecNear(p, V(0, 1, 0));
  OvMatSetRotX(m, C_HALF_PI);
  OvXformPoint(p, V(0, 1, 0), m);
  ExpectVecNear(p, V(0, 0, 1));
  OvMatSetRotY(m, C_HALF_PI);
  OvXformPoint(p, V(0, 0, 1), m);
  ExpectVecNear(p, V(1, 0, 0));
}

TEST(OvMatrixRot, PreRotZIsRotZTimesMatrix) {
  const OvMatrix m = SomeAffine();
  OvMatrix rz, expect, got = m;
  OvMatSetRotZ(rz, 0.9f);
  OvMatMul4x3(expect, rz, m);
  OvMatPreRotZ(got, 0.9f);
  ExpectMatNear(got, expect);
  // Rows 2 and 3 are unchanged exactly.
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(got.m[2][c], m.m[2][c]);
    EXPECT_EQ(got.m[3][c], m.m[3][c]);
  }
}

TEST(OvMatrixRot, PreScaleIsScalingTimesMatrix) {
  const OvMatrix m = SomeAffine();
  OvMatrix sc, expect, got = m;
  OvMatScaling(sc, V(2, 3, -4));
  OvMatMul4x3(expect, sc, m);
  OvMatrixPreScale(got, V(2, 3, -4));
  ExpectMatNear(got, expect);
  EXPECT_EQ(got.m[0][0], m.m[0][0] * 2.0f);
  EXPECT_EQ(got.m[2][1], m.m[2][1] * -4.0f);
  ExpectVecEq({got.m[3][0], got.m[3][1], got.m[3][2]}, {m.m[3][0], m.m[3][1], m.m[3][2]});
}

// ---------------------------------------------------------------------------
// Products and inverses

TEST(OvMatrixProduct, Mul4x3MatchesNaiveForAffine) {
  const OvMatrix a = SomeAffine(0.7f, V(1.5f, 0.5f, 2.0f), V(3, -2, 7));
  const OvMatrix b = SomeAffine(-1.9f, V(0.25f, 3.0f, 1.0f), V(-1, 4, 0.5f));
  OvMatrix out;
  OvMatMul4x3(out, a, b);
  ExpectMatNear(out, NaiveMul(a, b), 1e-5f);
  EXPECT_EQ(out.m[0][3], 0.0f);
  EXPECT_EQ(out.m[3][3], 1.0f);
}

TEST(OvMatrixProduct, Mul4x3HandValues) {
  // Scale by 2 then translate by (1, 2, 3), then rotate 90 deg about Z and translate by (10, 0, 0).
  OvMatrix a;
  OvMatScaling(a, V(2, 2, 2));
  OvMatrixSetPos(a, V(1, 2, 3));
  OvMatrix b;
  OvMatSetRotZ(b, C_HALF_PI);
  OvMatrixSetPos(b, V(10, 0, 0));
  OvMatrix ab;
  OvMatMul4x3(ab, a, b);
  OvVector p;
  OvXformPoint(p, V(1, 0, 0), ab);
  // (1,0,0) -> (2,0,0) -> (3,2,3) -> rot: (-2,3,3) -> (8,3,3)
  ExpectVecNear(p, V(8, 3, 3));
}

TEST(OvMatrixProduct, Mul4x3OutputMayAliasInputs) {
  const OvMatrix a = SomeAffine(0.7f), b = SomeAffine(2.1f, V(1, 2, 3), V(4, 5, 6));
  OvMatrix ref;
  OvMatMul4x3(ref, a, b);
  OvMatrix x = a;
  OvMatMul4x3(x, x, b);
  ExpectMatEq(x, ref);
  OvMatrix y = b;
  OvMatMul4x3(y, a, y);
  ExpectMatEq(y, ref);
  OvMatrix z = a, zref;
  OvMatMul4x3(zref, a, a);
  OvMatMul4x3(z, z, z);
  ExpectMatEq(z, zref);
}

TEST(OvMatrixProduct, Mul4x4AndMul3x3) {
  OvMatrix a, b;
  for (int i = 0; i < 16; ++i) {
    (&a.m[0][0])[i] = float(i + 1);
    (&b.m[0][0])[i] = float((i * 7) % 5) - 2.0f;
  }
  OvMatrix out;
  OvMatMul4x4(out, a, b);
  ExpectMatEq(out, NaiveMul(a, b));
  // Hand value: row 0 of a = (1,2,3,4); column 0 of b = (-2, 1, -1, 2) -> -2 + 2 - 3 + 8 = 5.
  EXPECT_EQ(b.m[0][0], -2.0f);
  EXPECT_EQ(b.m[1][0], 1.0f);
  EXPECT_EQ(b.m[2][0], -1.0f);
  EXPECT_EQ(b.m[3][0], 2.0f);
  EXPECT_EQ(out.m[0][0], 5.0f);
  OvMatrix al = a;
  OvMatMul4x4(al, al, b);
  ExpectMatEq(al, out);

  OvMatMul3x3(out, a, b);
  OvMatrix a3 = a, b3 = b;
  for (int i = 0; i < 3; ++i) a3.m[i][3] = a3.m[3][i] = b3.m[i][3] = b3.m[3][i] = 0.0f;
  a3.m[3][3] = b3.m[3][3] = 1.0f;
  ExpectMatEq(out, NaiveMul(a3, b3));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(out.m[3][i], 0.0f);
    EXPECT_EQ(out.m[i][3], 0.0f);
  }
  EXPECT_EQ(out.m[3][3], 1.0f);
  OvMatrix bl = b;
  OvMatMul3x3(bl, a, bl);
  ExpectMatEq(bl, out);
}

TEST(OvMatrixProduct, TransposeAndScaling) {
  OvMatrix m;
  for (int i = 0; i < 16; ++i) (&m.m[0][0])[i] = float(i);
  OvMatTranspose(m);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(m.m[r][c], float(4 * c + r));
  OvMatScaling(m, V(2, 3, 4));
  OvMatrix e = Identity();
  e.m[0][0] = 2;
  e.m[1][1] = 3;
  e.m[2][2] = 4;
  ExpectMatEq(m, e);
}

TEST(OvMatrixInverse, InversePRSTimesMatrixIsIdentity) {
  const OvMatrix m = SomeAffine(0.7f, V(1.5f, 0.5f, 2.0f), V(3, -2, 7));
  OvMatrix inv;
  OvMatInversePRS(inv, m);
  ExpectMatNear(NaiveMul(m, inv), Identity(), 1e-5f);
  ExpectMatNear(NaiveMul(inv, m), Identity(), 1e-5f);
  EXPECT_EQ(inv.m[0][3], 0.0f);
  EXPECT_EQ(inv.m[3][3], 1.0f);
}

TEST(OvMatrixInverse, InversePRSHandValues) {
  // Scale (2, 4, 1), translation (2, 4, 6): inverse scales by (1/2, 1/4, 1) and translates by (-1, -1, -6).
  OvMatrix m;
  OvMatScaling(m, V(2, 4, 1));
  OvMatrixSetPos(m, V(2, 4, 6));
  OvMatrix inv;
  OvMatInversePRS(inv, m);
  OvMatrix e;
  OvMatScaling(e, V(0.5f, 0.25f, 1));
  OvMatrixSetPos(e, V(-1, -1, -6));
  ExpectMatEq(inv, e);
}

TEST(OvMatrixInverse, InversePRSOutputMayBeInput) {
  const OvMatrix m = SomeAffine();
  OvMatrix ref;
  OvMatInversePRS(ref, m);
  OvMatrix x = m;
  OvMatInversePRS(x, x);
  ExpectMatEq(x, ref);
}

TEST(OvMatrixInverse, PRSToMatrixIsScaleRotationTranslation) {
  const OvQuat q = UnitQuat(V(0.3f, -1, 2), 1.1f);
  const OvVector pos = V(5, 6, -7), scale = V(2, 0.5f, 3);
  OvMatrix m;
  OvPRSToMatrix(m, pos, q, scale);
  OvMatrix s, r;
  OvMatScaling(s, scale);
  OvQuatToMatrix(r, q);
  const OvMatrix expect = NaiveMul(NaiveMul(s, r), Translation(pos));
  ExpectMatNear(m, expect);
  EXPECT_EQ(m.m[0][3], 0.0f);
  EXPECT_EQ(m.m[3][3], 1.0f);

  // Unit scale: identical to OrientationMatrix.
  OvMatrix o, p;
  OvOrientationMatrix(o, q, pos);
  OvPRSToMatrix(p, pos, q, V(1, 1, 1));
  ExpectMatEq(o, p);
  ExpectVecEq({o.m[3][0], o.m[3][1], o.m[3][2]}, pos);
}

TEST(OvMatrixInverse, InversePRSFromComponents) {
  const OvQuat q = UnitQuat(V(0.3f, -1, 2), 1.1f);
  const OvVector pos = V(5, 6, -7), scale = V(2, 0.5f, 3);
  OvMatrix m, inv;
  OvPRSToMatrix(m, pos, q, scale);
  OvInversePRS(inv, pos, q, scale);
  ExpectMatNear(NaiveMul(m, inv), Identity(), 1e-5f);
  ExpectMatNear(NaiveMul(inv, m), Identity(), 1e-5f);
  OvMatrix inv2;
  OvMatInversePRS(inv2, m);
  ExpectMatNear(inv, inv2, 1e-5f);

  // Unit scale: pure transposed rotation plus rotated-back translation.
  OvInversePRS(inv, pos, q, V(1, 1, 1));
  OvMatrix r;
  OvQuatToMatrix(r, q);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(inv.m[i][j], r.m[j][i]);
}

// ---------------------------------------------------------------------------
// Look-at

TEST(OvMatrixLookAt, MinusZPointsAtTargetUpIsZ) {
  const OvVector pos = V(3, -4, 2), target = V(-1, 1, 0.5f);
  OvMatrix m;
  OvMatrixLookAt(m, pos, target);
  OvVector x, y, z;
  OvMatrixGetRow(m, 0, x);
  OvMatrixGetRow(m, 1, y);
  OvMatrixGetRow(m, 2, z);
  OvVector dir = V(target.x - pos.x, target.y - pos.y, target.z - pos.z);
  OvNormalize(dir);
  ExpectVecNear(z, V(-dir.x, -dir.y, -dir.z));
  EXPECT_NEAR(OvLength(x), 1.0f, kEps);
  EXPECT_NEAR(OvLength(y), 1.0f, kEps);
  EXPECT_NEAR(OvVectorDotProd(x, y), 0.0f, kEps);
  EXPECT_NEAR(OvVectorDotProd(x, z), 0.0f, kEps);
  EXPECT_EQ(x.z, 0.0f);  // x is horizontal (up x z)
  EXPECT_GT(y.z, 0.0f);  // camera up leans to world up
  ExpectVecEq({m.m[3][0], m.m[3][1], m.m[3][2]}, pos);
  EXPECT_EQ(m.m[0][3], 0.0f);
  EXPECT_EQ(m.m[2][3], 0.0f);
  EXPECT_EQ(m.m[3][3], 1.0f);
  // The target lies on the matrix's -Z axis: in local space it is (0, 0, -distance).
  OvMatrix inv;
  OvMatInversePRS(inv, m);
  OvVector local;
  OvXformPoint(local, target, inv);
  ExpectVecNear(local, V(0, 0, -OvDistance(pos, target)), 1e-4f);
}

TEST(OvMatrixLookAt, DirectlyAboveTargetUsesAlternateUp) {
  OvMatrix m;
  OvMatrixLookAt(m, V(1, 2, 10), V(1, 2, 3));
  OvVector x, y, z;
  OvMatrixGetRow(m, 0, x);
  OvMatrixGetRow(m, 1, y);
  OvMatrixGetRow(m, 2, z);
  ExpectVecEq(z, V(0, 0, 1));
  ExpectVecEq(x, V(1, 0, 0));
  ExpectVecEq(y, V(0, 1, 0));
}

TEST(OvMatrixLookAt, RollZeroMatchesLookAt) {
  const OvVector pos = V(3, -4, 2), target = V(-1, 1, 0.5f);
  OvMatrix a, b;
  OvMatrixLookAt(a, pos, target);
  OvMatLookAt_Roll(b, pos, target, V(0, 0, 1), 0.0f);
  ExpectMatEq(a, b);
}

TEST(OvMatrixLookAt, RollRotatesAboutLocalZ) {
  const OvVector pos = V(3, -4, 2), target = V(-1, 1, 0.5f), up = V(0.2f, 0.1f, 1);
  const float roll = 0.6f;
  OvMatrix basis, rolled, rz, expect;
  OvMatLookAt_Roll(basis, pos, target, up, 0.0f);
  OvMatLookAt_Roll(rolled, pos, target, up, roll);
  OvMatSetRotZ(rz, roll);
  OvMatMul3x3(expect, rz, basis);
  OvMatrixSetPos(expect, pos);
  ExpectMatNear(rolled, expect);
  EXPECT_EQ(rolled.m[3][3], 1.0f);
  EXPECT_EQ(rolled.m[1][3], 0.0f);
  // Z row is unaffected by the roll.
  for (int c = 0; c < 3; ++c) EXPECT_EQ(rolled.m[2][c], basis.m[2][c]);
}

TEST(OvMatrixLookAt, RollCoincidentPositionsUseZ) {
  OvMatrix m;
  OvMatLookAt_Roll(m, V(1, 1, 1), V(1, 1, 1), V(0, 1, 0), 0.0f);
  OvVector x, y, z;
  OvMatrixGetRow(m, 0, x);
  OvMatrixGetRow(m, 1, y);
  OvMatrixGetRow(m, 2, z);
  ExpectVecEq(z, V(0, 0, 1));
  ExpectVecNear(x, V(1, 0, 0));  // (0,1,0) x (0,0,1)
  ExpectVecNear(y, V(0, 1, 0));
}

// ---------------------------------------------------------------------------
// Orthogonalize, scale

TEST(OvMatrixScale, OrthogonalizeHandValues) {
  OvMatrix m = Identity();
  OvMatrixSet3Row(m, V(2, 0, 0), V(1, 3, 0), V(9, 9, 9));
  OvMatrixSetPos(m, V(7, 8, 9));
  OvMatrixOrthogonalize(m);
  OvVector r0, r1, r2, p;
  OvMatrixGetRow(m, 0, r0);
  OvMatrixGetRow(m, 1, r1);
  OvMatrixGetRow(m, 2, r2);
  OvMatrixGetPos(m, p);
  ExpectVecEq(r0, V(2, 0, 0));
  ExpectVecEq(r2, V(0, 0, 6));   // (2,0,0) x (1,3,0)
  ExpectVecEq(r1, V(0, 12, 0));  // (0,0,6) x (2,0,0), not normalised
  ExpectVecEq(p, V(7, 8, 9));
}

TEST(OvMatrixScale, GetScaleIdentity) {
  OvVector s{9, 9, 9};
  EXPECT_FALSE(OvMatrixGetScale(s, Identity()));
  ExpectVecEq(s, V(1, 1, 1));
  EXPECT_EQ(OvMatrixGetUniScale(Identity()), 1.0f);
}

TEST(OvMatrixScale, GetScaleNonUnit) {
  OvMatrix m = SomeAffine(0.7f, V(2, 3, 4));
  OvVector s;
  EXPECT_TRUE(OvMatrixGetScale(s, m));
  ExpectVecNear(s, V(2, 3, 4));
  EXPECT_NEAR(OvMatrixGetUniScale(m), 2.0f, kEps);
  // Only one row outside the tolerance still reports true.
  OvMatrix n = Identity();
  OvMatrixSetRow(n, 1, V(0, 5, 0));
  EXPECT_TRUE(OvMatrixGetScale(s, n));
  ExpectVecEq(s, V(1, 5, 1));
}

TEST(OvMatrixScale, WithinToleranceTakenAsOne) {
  const float x = std::sqrt(1.00002f);  // squared length ~1.00002
  ASSERT_TRUE(OvIsUnit(x * x));
  ASSERT_NE(x, 1.0f);
  OvMatrix m = Identity();
  OvMatrixSet3Row(m, V(x, 0, 0), V(0, x, 0), V(0, 0, x));
  OvVector s;
  EXPECT_FALSE(OvMatrixGetScale(s, m));
  ExpectVecEq(s, V(1, 1, 1));
  EXPECT_EQ(OvMatrixGetUniScale(m), 1.0f);
  // ExtractScale does not use the tolerance.
  OvMatrix u;
  OvMatrixExtractScale(s, &u, m);
  EXPECT_EQ(s.x, x);
  EXPECT_NE(s.x, 1.0f);
}

TEST(OvMatrixScale, ExtractScale) {
  const OvMatrix m = SomeAffine(0.7f, V(2, 3, 4), V(1, 2, 3));
  OvVector s;
  OvMatrix u;
  OvMatrixExtractScale(s, &u, m);
  ExpectVecNear(s, V(2, 3, 4));
  for (int i = 0; i < 3; ++i) {
    OvVector r;
    OvMatrixGetRow(u, i, r);
    EXPECT_NEAR(OvLength(r), 1.0f, kEps);
  }
  for (int c = 0; c < 4; ++c) EXPECT_EQ(u.m[3][c], m.m[3][c]);
  OvMatrix r;
  OvQuatToMatrix(r, UnitQuat(V(1.0f, 2.0f, -0.5f), 0.7f));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(u.m[i][j], r.m[i][j], kEps);

  OvVector s2;
  OvMatrixExtractScale(s2, nullptr, m);
  ExpectVecEq(s2, s);

  OvMatrix same = m;
  OvMatrixExtractScale(s2, &same, same);
  ExpectMatEq(same, u);
}

// ---------------------------------------------------------------------------
// Points

TEST(OvMatrixPoints, PosSubAndXform) {
  OvMatrix a = Translation(V(5, 6, 7)), b = Translation(V(1, 1, 1));
  OvVector d;
  OvMatrixPosSub(d, a, b);
  ExpectVecEq(d, V(4, 5, 6));

  OvMatrix m;
  for (int i = 0; i < 16; ++i) (&m.m[0][0])[i] = float(i);
  OvVector p = V(1, 2, 3), out;
  OvXformPoint(out, p, m);
  // x = 1*0 + 2*4 + 3*8 + 12 = 44; y = 1 + 10 + 27 + 13 = 51; z = 2 + 12 + 30 + 14 = 58
  ExpectVecEq(out, V(44, 51, 58));
  OvXformPoint(p, p, m);
  ExpectVecEq(p, out);

  OvVector r = V(1, 2, 3);
  OvRotateVector(r, r, m);
  ExpectVecEq(r, V(32, 38, 44));
}

TEST(OvMatrixPoints, InvXformPointRoundTrip) {
  OvMatrix m = SomeAffine(0.7f, V(2.5f, 2.5f, 2.5f), V(1, -2, 3));
  const OvVector p = V(0.3f, 4, -5);
  OvVector w, back;
  OvXformPoint(w, p, m);
  OvInvXformPoint(back, w, m);
  ExpectVecNear(back, p, 1e-4f);
  // Unit rows: pure rotation + translation.
  m = SomeAffine(0.7f, V(1, 1, 1), V(1, -2, 3));
  OvXformPoint(w, p, m);
  OvInvXformPoint(w, w, m);  // out may be p
  ExpectVecNear(w, p, 1e-5f);
}

TEST(OvMatrixPoints, InvXformPointSkipsDivisionWithinTolerance) {
  const float x = std::sqrt(1.00002f);
  OvMatrix m = Identity();
  OvMatrixSet3Row(m, V(x, 0, 0), V(0, x, 0), V(0, 0, x));
  OvMatrixSetPos(m, V(1, 1, 1));
  OvVector out;
  OvInvXformPoint(out, V(3, 1, 1), m);
  EXPECT_EQ(out.x, 2.0f * x);  // not divided by x*x
  EXPECT_EQ(out.y, 0.0f);
}

TEST(OvMatrixPoints, ProjectPointWithPerspective) {
  const float fov = 1.2f, n = 0.5f, f = 100.0f;
  OvMatrix m;
  OvMatPerspective(m, fov, n, f);
  const float cot = std::cos(fov / 2) / std::sin(fov / 2);
  EXPECT_EQ(m.m[0][0], cot);
  EXPECT_EQ(m.m[1][1], cot);
  EXPECT_EQ(m.m[2][2], f / (f - n));
  EXPECT_EQ(m.m[3][2], -n * f / (f - n));
  EXPECT_EQ(m.m[2][3], 1.0f);
  EXPECT_EQ(m.m[3][3], 0.0f);
  EXPECT_EQ(m.m[0][1], 0.0f);
  EXPECT_EQ(m.m[3][0], 0.0f);

  OvVector out;
  OvProjectPoint(out, V(0, 0, n), m);
  EXPECT_NEAR(out.z, 0.0f, 1e-6f);
  OvProjectPoint(out, V(0, 0, f), m);
  EXPECT_NEAR(out.z, 1.0f, 1e-6f);
  OvVector p = V(2, -3, 10);
  OvProjectPoint(p, p, m);
  EXPECT_NEAR(p.x, 2 * cot / 10, 1e-6f);
  EXPECT_NEAR(p.y, -3 * cot / 10, 1e-6f);
  EXPECT_NEAR(p.z, (10 * f / (f - n) - n * f / (f - n)) / 10, 1e-6f);
  // Affine matrix: w = 1, same as XformPoint.
  const OvMatrix a = SomeAffine();
  OvVector q1, q2;
  OvProjectPoint(q1, V(1, 2, 3), a);
  OvXformPoint(q2, V(1, 2, 3), a);
  ExpectVecEq(q1, q2);
}

// ---------------------------------------------------------------------------
// Vectors

TEST(OvVectorOps, BasicArithmetic) {
  OvVector a;
  OvVectorSet(a, 1, 2, 3);
  ExpectVecEq(a, V(1, 2, 3));
  OvVectorAdd(a, V(1, 1, 1));
  ExpectVecEq(a, V(2, 3, 4));
  OvVectorSub(a, V(0.5f, 1, 2));
  ExpectVecEq(a, V(1.5f, 2, 2));
  OvVectorScale(a, 2);
  ExpectVecEq(a, V(3, 4, 4));
  EXPECT_EQ(OvVectorDotProd(V(1, 2, 3), V(4, -5, 6)), 12.0f);
  EXPECT_EQ(OvSquareLength(V(3, 4, 12)), 169.0f);
  EXPECT_EQ(OvLength(V(3, 4, 12)), 13.0f);
  EXPECT_EQ(OvSquareDistance(V(1, 1, 1), V(4, 5, 1)), 25.0f);
  EXPECT_EQ(OvDistance(V(1, 1, 1), V(4, 5, 1)), 5.0f);
}

TEST(OvVectorOps, MinMax) {
  OvVector lo, hi;
  OvVectorMin(lo, V(1, 5, -2), V(3, 4, -2));
  ExpectVecEq(lo, V(1, 4, -2));
  OvVectorMax(hi, V(1, 5, -2), V(3, 4, -2));
  ExpectVecEq(hi, V(3, 5, -2));
  OvVectorMinMax(lo, hi, V(1, 5, 7), V(3, 4, 7));
  ExpectVecEq(lo, V(1, 4, 7));
  ExpectVecEq(hi, V(3, 5, 7));
  // Outputs may be the inputs.
  OvVector a = V(1, 5, 7), b = V(3, 4, 7);
  OvVectorMinMax(a, b, a, b);
  ExpectVecEq(a, V(1, 4, 7));
  ExpectVecEq(b, V(3, 5, 7));
}

TEST(OvVectorOps, AdjLengthAndAddRay) {
  OvVector v = V(3, 4, 0);
  OvVectorAdjLength(v, 10);
  ExpectVecNear(v, V(6, 8, 0));
  OvVector z = V(0, 0, 0);
  OvVectorAdjLength(z, 10);
  ExpectVecEq(z, V(0, 0, 0));

  OvVector p = V(1, 1, 1);
  OvVectorAddRay(p, V(0, 0, 0), V(0, 3, 4), 10);
  ExpectVecNear(p, V(1, 7, 9));
  OvVector q = V(1, 1, 1);
  OvVectorAddRay(q, V(2, 2, 2), V(2, 2, 2), 10);
  ExpectVecEq(q, V(1, 1, 1));
}

TEST(OvVectorOps, CrossProduct) {
  OvVector c;
  OvVectorCrossProd(c, V(1, 0, 0), V(0, 1, 0));
  ExpectVecEq(c, V(0, 0, 1));
  OvVectorCrossProd(c, V(1, 2, 3), V(4, 5, 6));
  ExpectVecEq(c, V(-3, 6, -3));
  OvVector a = V(1, 2, 3), b = V(4, 5, 6);
  OvVectorCrossProd(a, a, b);
  ExpectVecEq(a, V(-3, 6, -3));
  a = V(1, 2, 3);
  OvVectorCrossProd(b, a, b);
  ExpectVecEq(b, V(-3, 6, -3));
}

TEST(OvVectorOps, NormCrossProduct) {
  OvVector c;
  OvVectorNormCrossProd(c, V(2, 0, 0), V(0, 3, 0));
  ExpectVecNear(c, V(0, 0, 1));
  OvVectorNormCrossProd(c, V(1, 2, 3), V(2, 4, 6));  // parallel
  ExpectVecEq(c, V(0, 0, 0));
  const float x = std::sqrt(1.00002f);
  OvVectorNormCrossProd(c, V(x, 0, 0), V(0, 1, 0));
  ExpectVecEq(c, V(0, 0, x));  // within tolerance: not normalised
  OvVector a = V(0, 2, 0);
  OvVectorNormCrossProd(a, a, V(0, 0, 5));
  ExpectVecNear(a, V(1, 0, 0));
}

TEST(OvVectorOps, ProjLength) {
  EXPECT_NEAR(OvVectorProjLength(V(3, 4, 5), V(0, 2, 0)), 4.0f, kEps);
  const float x = std::sqrt(1.00002f);
  EXPECT_EQ(OvVectorProjLength(V(3, 4, 5), V(x, 0, 0)), 3.0f * x);  // no division
  EXPECT_EQ(OvVectorProjLength(V(3, 4, 5), V(1, 0, 0)), 3.0f);
}

TEST(OvVectorOps, PlaneNormalAndLerp) {
  OvVector n;
  OvPlaneNormal(n, V(1, 1, 1), V(3, 1, 1), V(1, 4, 1));
  ExpectVecEq(n, V(0, 0, 6));
  OvVector l;
  OvVectorLerp(l, V(0, 10, -2), V(4, 20, 2), 0.25f);
  ExpectVecEq(l, V(1, 12.5f, -1));
}

TEST(OvVectorOps, CrossAngle) {
  EXPECT_EQ(OvCrossAngle(V(1, 2, 3), V(1, 2, 3)), 0.0f);
  EXPECT_FLOAT_EQ(OvCrossAngle(V(1, 2, 3), V(-1, -2, -3)), 180.0f);
  EXPECT_NEAR(OvCrossAngle(V(1, 0, 0), V(0, 5, 0)), 90.0f, 1e-4f);
  EXPECT_NEAR(OvCrossAngle(V(1, 0, 0), V(1, 1, 0)), 45.0f, 1e-4f);
  EXPECT_NEAR(OvCrossAngle(V(1, 0, 0), V(-1, 1, 0)), 135.0f, 1e-4f);

  // Parallel and anti-parallel vectors whose rounded cosine leaves [-1, 1]
  // must still give exactly 0 / 180 (clamped), never NaN.
  int beyond = 0;
  for (int i = 1; i < 200; ++i) {
    const OvVector a = V(0.1f * i, 0.37f * i + 0.3f, -0.011f * i * i);
    for (float k : {0.3f, 1.7f, 3.1f, 7.9f}) {
      const OvVector b = V(a.x * k, a.y * k, a.z * k);
      const double raw =
          double(OvVectorDotProd(a, b)) / std::sqrt(double(OvSquareLength(a)) * double(OvSquareLength(b)));
      if (raw > 1.0) ++beyond;
      const float ang = OvCrossAngle(a, b);
      ASSERT_FALSE(std::isnan(ang));
      EXPECT_NEAR(ang, 0.0f, 0.1f);
      const float opp = OvCrossAngle(a, V(-b.x, -b.y, -b.z));
      ASSERT_FALSE(std::isnan(opp));
      EXPECT_NEAR(opp, 180.0f, 0.1f);
      if (raw > 1.0) {
        EXPECT_EQ(ang, 0.0f);
      }
    }
  }
  EXPECT_GT(beyond, 0) << "no sample exercised the clamp";
}

TEST(OvVectorOps, Normalize) {
  OvVector v = V(3, 0, 4);
  OvNormalize(v);
  ExpectVecNear(v, V(0.6f, 0, 0.8f));
  OvVector z = V(0, 0, 0);
  OvNormalize(z);
  ExpectVecEq(z, V(0, 0, 0));
  // Normalize has no unit tolerance: it still divides.
  const float x = std::sqrt(1.00002f);
  ASSERT_NE(x, 1.0f);
  OvVector t = V(x, 0, 0);
  OvNormalize(t);
  EXPECT_NE(t.x, x);
  EXPECT_NEAR(t.x, 1.0f, 1e-7f);
}

TEST(OvVectorOps, Perpendicular) {
  OvVector out;
  OvPerpendicular(out, V(2, 3, 4));  // a = (0,0,1)
  ExpectVecEq(out, V(3, -2, 0));
  OvPerpendicular(out, V(0, 0, 5));  // a = (0,1,0)
  ExpectVecEq(out, V(-5, 0, 0));
  OvPerpendicular(out, V(0, 3, 4));  // a = (1,0,0)
  ExpectVecEq(out, V(0, 4, -3));
  OvVector v = V(0, 3, 4);
  OvPerpendicular(v, v);
  ExpectVecEq(v, V(0, 4, -3));
}

// ---------------------------------------------------------------------------
// Quaternions

TEST(OvQuatOps, IdentityAndToMatrix) {
  OvQuat q{5, {5, 5, 5}};
  OvQuatIdentity(q);
  EXPECT_EQ(q.s, 1.0f);
  ExpectVecEq(q.v, V(0, 0, 0));
  OvMatrix m;
  OvQuatToMatrix(m, q);
  ExpectMatEq(m, Identity());

  // Hand-evaluated formula for a non-normalised quaternion (no normalisation).
  const OvQuat h{1, {2, 3, 4}};
  OvQuatToMatrix(m, h);
  // row0 = (1 - 18 - 32, 12 + 8, 16 - 6); row1 = (12 - 8, 1 - 8 - 32, 24 + 4); row2 = (16 + 6, 24 - 4, 1 - 8 - 18)
  OvMatrix e;
  OvMatrixIdentity(e);
  OvMatrixSet3Row(e, V(-49, 20, 10), V(4, -39, 28), V(22, 20, -25));
  ExpectMatEq(m, e);
}

TEST(OvQuatOps, MakeQuatAboutZRotatesXToY) {
  OvQuat q;
  MakeQuat(q, V(0, 0, 1), C_HALF_PI);
  EXPECT_NEAR(q.s, std::sqrt(0.5f), 1e-7f);
  EXPECT_NEAR(q.v.z, std::sqrt(0.5f), 1e-7f);
  OvMatrix m;
  OvQuatToMatrix(m, q);
  OvVector p;
  OvXformPoint(p, V(1, 0, 0), m);
  ExpectVecNear(p, V(0, 1, 0));
  OvXformPoint(p, V(0, 1, 0), m);
  ExpectVecNear(p, V(-1, 0, 0));
  // Row 0 is the image of X.
  ExpectVecNear({m.m[0][0], m.m[0][1], m.m[0][2]}, V(0, 1, 0));
}

TEST(OvQuatOps, MakeQuatMatchesSetRot) {
  const float a = 0.83f;
  OvMatrix fromQ, fromRot;
  OvQuat q;
  MakeQuat(q, V(1, 0, 0), a);
  OvQuatToMatrix(fromQ, q);
  OvMatSetRotX(fromRot, a);
  ExpectMatNear(fromQ, fromRot);
  MakeQuat(q, V(0, 1, 0), a);
  OvQuatToMatrix(fromQ, q);
  OvMatSetRotY(fromRot, a);
  ExpectMatNear(fromQ, fromRot);
  MakeQuat(q, V(0, 0, 1), a);
  OvQuatToMatrix(fromQ, q);
  OvMatSetRotZ(fromRot, a);
  ExpectMatNear(fromQ, fromRot);
  // The axis is not normalised.
  MakeQuat(q, V(0, 0, 2), a);
  EXPECT_NEAR(q.v.z, 2 * std::sin(a / 2), 1e-7f);
}

TEST(OvQuatOps, CombineIsRotationThenRotation) {
  const OvQuat q1 = UnitQuat(V(1, 2, 3), 0.9f);
  const OvQuat q2 = UnitQuat(V(-2, 0.5f, 1), 2.2f);
  OvQuat c = q1;
  OvQuatCombine(c, q2);
  OvMatrix m1, m2, mc;
  OvQuatToMatrix(m1, q1);
  OvQuatToMatrix(m2, q2);
  OvQuatToMatrix(mc, c);
  ExpectMatNear(mc, NaiveMul(m1, m2), 1e-5f);

  // Hand example: 90 deg about X then 90 deg about Z takes Y to Z then stays Z; X goes to Y.
  OvQuat a;
  MakeQuat(a, V(1, 0, 0), C_HALF_PI);
  OvQuat b;
  MakeQuat(b, V(0, 0, 1), C_HALF_PI);
  OvQuatCombine(a, b);
  OvMatrix m;
  OvQuatToMatrix(m, a);
  OvVector p;
  OvXformPoint(p, V(0, 1, 0), m);
  ExpectVecNear(p, V(0, 0, 1));
  OvXformPoint(p, V(1, 0, 0), m);
  ExpectVecNear(p, V(0, 1, 0));

  // Combining with itself (q2 aliasing q1).
  OvQuat z;
  MakeQuat(z, V(0, 0, 1), 0.4f);
  OvQuatCombine(z, z);
  OvQuat z2;
  MakeQuat(z2, V(0, 0, 1), 0.8f);
  ExpectSameRotation(z, z2);
}

TEST(OvQuatOps, SlerpEndpointsAndMidpoint) {
  OvQuat id;
  OvQuatIdentity(id);
  OvQuat q90;
  MakeQuat(q90, V(0, 0, 1), C_HALF_PI);
  OvQuat out;
  OvQuatSlerp(out, id, q90, 0.0f);
  ExpectSameRotation(out, id, 1e-6f);
  OvQuatSlerp(out, id, q90, 1.0f);
  ExpectSameRotation(out, q90, 1e-6f);
  OvQuatSlerp(out, id, q90, 0.5f);
  OvQuat q45;
  MakeQuat(q45, V(0, 0, 1), C_HALF_PI / 2);
  EXPECT_NEAR(out.s, q45.s, 1e-6f);
  EXPECT_NEAR(out.v.z, q45.v.z, 1e-6f);
  EXPECT_EQ(out.v.x, 0.0f);
  EXPECT_NEAR(out.s * out.s + out.v.z * out.v.z, 1.0f, 1e-6f);
  // General axis: slerp at t is rotation by t * angle.
  const OvQuat g = UnitQuat(V(1, -2, 0.5f), 2.4f);
  OvQuatSlerp(out, id, g, 0.3f);
  ExpectSameRotation(out, UnitQuat(V(1, -2, 0.5f), 0.72f), 1e-5f);
}

TEST(OvQuatOps, SlerpOfNegatedQuatReturnsFirst) {
  const OvQuat q1 = UnitQuat(V(1, 2, 3), 1.3f);
  const OvQuat q2{-q1.s, {-q1.v.x, -q1.v.y, -q1.v.z}};
  for (float t : {0.0f, 0.25f, 0.5f, 1.0f}) {
    OvQuat out;
    OvQuatSlerp(out, q1, q2, t);
    EXPECT_NEAR(out.s, q1.s, 1e-6f);
    EXPECT_NEAR(out.v.x, q1.v.x, 1e-6f);
    EXPECT_NEAR(out.v.y, q1.v.y, 1e-6f);
    EXPECT_NEAR(out.v.z, q1.v.z, 1e-6f);
  }
}

TEST(OvQuatOps, SlerpTakesShortestArc) {
  OvQuat id;
  OvQuatIdentity(id);
  OvQuat q90;
  MakeQuat(q90, V(0, 0, 1), C_HALF_PI);
  const OvQuat neg{-q90.s, {-q90.v.x, -q90.v.y, -q90.v.z}};
  OvQuat a, b;
  OvQuatSlerp(a, id, q90, 0.5f);
  OvQuatSlerp(b, id, neg, 0.5f);
  EXPECT_NEAR(a.s, b.s, 1e-6f);
  EXPECT_NEAR(a.v.z, b.v.z, 1e-6f);
  EXPECT_GT(b.s, 0.0f);
}

TEST(OvQuatOps, SlerpNearlyParallelUsesLinearWeights) {
  OvQuat q1;
  MakeQuat(q1, V(0, 0, 1), 0.1f);
  OvQuat q2;
  MakeQuat(q2, V(0, 0, 1), 0.2f);  // half-angle difference 0.05: 1 - cos << 0.03
  OvQuat out;
  OvQuatSlerp(out, q1, q2, 0.25f);
  EXPECT_EQ(out.s, 0.75f * q1.s + 0.25f * q2.s);
  EXPECT_EQ(out.v.z, 0.75f * q1.v.z + 0.25f * q2.v.z);
}

TEST(OvQuatOps, SlerpOutputMayAliasInput) {
  const OvQuat q1 = UnitQuat(V(1, 2, 3), 0.3f), q2 = UnitQuat(V(-1, 0, 1), 2.0f);
  OvQuat ref;
  OvQuatSlerp(ref, q1, q2, 0.4f);
  OvQuat a = q1;
  OvQuatSlerp(a, a, q2, 0.4f);
  EXPECT_EQ(a.s, ref.s);
  EXPECT_EQ(a.v.y, ref.v.y);
  OvQuat b = q2;
  OvQuatSlerp(b, q1, b, 0.4f);
  EXPECT_EQ(b.s, ref.s);
  EXPECT_EQ(b.v.z, ref.v.z);
}

TEST(OvQuatOps, SlerpCore) {
  OvQuat id;
  OvQuatIdentity(id);
  OvQuat q90;
  MakeQuat(q90, V(0, 0, 1), C_HALF_PI);
  const float theta = C_PI / 4;  // half of the 90 deg rotation angle
  OvQuat out;
  OvSlerpCore(out, id, q90, theta, 0.5f);
  const float w = std::sin(0.5f * theta) / std::sin(theta);
  EXPECT_FLOAT_EQ(out.s, w * id.s + w * q90.s);
  EXPECT_FLOAT_EQ(out.v.z, w * q90.v.z);
  // theta = 0: linear weights, no renormalisation.
  const OvQuat a{1, {0, 0, 0}}, b{0, {1, 0, 0}};
  OvSlerpCore(out, a, b, 0.0f, 0.5f);
  EXPECT_EQ(out.s, 0.5f);
  EXPECT_EQ(out.v.x, 0.5f);
}

TEST(OvQuatOps, FromMatrixRoundTripPositiveTrace) {
  for (float angle : {0.0f, 0.3f, 1.5f, 2.0f}) {
    const OvQuat q = UnitQuat(V(1, -2, 0.7f), angle);
    OvMatrix m;
    OvQuatToMatrix(m, q);
    ASSERT_GT(m.m[0][0] + m.m[1][1] + m.m[2][2], 0.0f);
    OvQuat back;
    OvQuatFromMatrix(back, m);
    ExpectSameRotation(back, q);
    EXPECT_GT(back.s, 0.0f);
  }
}

TEST(OvQuatOps, FromMatrixRoundTripNonPositiveTrace) {
  // 180 degrees about each axis hits i = 0, 1, 2; near-180 about tilted axes
  // and the tie m00 == m11 (which keeps i = 0).
  const OvVector axes[] = {V(1, 0, 0), V(0, 1, 0),     V(0, 0, 1),       V(1, 1, 0),
                           V(1, 2, 3), V(-3, 1, 0.5f), V(0.2f, -0.1f, 4)};
  for (const OvVector& axis : axes) {
    for (float angle : {C_PI, 3.0f, 2.6f, -2.9f}) {
      const OvQuat q = UnitQuat(axis, angle);
      OvMatrix m;
      OvQuatToMatrix(m, q);
      if (m.m[0][0] + m.m[1][1] + m.m[2][2] > 0.0f) continue;
      OvQuat back;
      OvQuatFromMatrix(back, m);
      ExpectSameRotation(back, q, 1e-5f);
      OvMatrix m2;
      OvQuatToMatrix(m2, back);
      ExpectMatNear(m2, m, 1e-5f);
    }
  }
}

TEST(OvQuatOps, FromMatrixBranchHandValues) {
  // 180 deg about Y: diag(-1, 1, -1): i = 1; q = (0, 0, 1, 0).
  OvMatrix m;
  OvMatSetRotY(m, C_PI);
  m.m[0][2] = m.m[2][0] = 0.0f;  // exact
  m.m[0][0] = m.m[2][2] = -1.0f;
  OvQuat q;
  OvQuatFromMatrix(q, m);
  EXPECT_EQ(q.s, 0.0f);
  ExpectVecEq(q.v, V(0, 1, 0));
  // diag(-1, -1, 1) (180 about Z): m00 == m11 tie keeps 0, then m22 wins: i = 2.
  OvMatrixIdentity(m);
  m.m[0][0] = m.m[1][1] = -1.0f;
  OvQuatFromMatrix(q, m);
  EXPECT_EQ(q.s, 0.0f);
  ExpectVecEq(q.v, V(0, 0, 1));
  // diag(1, -1, -1): i = 0.
  OvMatrixIdentity(m);
  m.m[1][1] = m.m[2][2] = -1.0f;
  OvQuatFromMatrix(q, m);
  ExpectVecEq(q.v, V(1, 0, 0));
  // Trace 0 exactly (120 deg about (1,1,1)): the non-positive branch.
  OvMatrixZero(m);
  m.m[0][1] = m.m[1][2] = m.m[2][0] = 1.0f;  // X->Y, Y->Z, Z->X
  m.m[3][3] = 1.0f;
  OvQuatFromMatrix(q, m);
  OvMatrix m2;
  OvQuatToMatrix(m2, q);
  ExpectMatNear(m2, m, 1e-6f);
}

TEST(OvQuatOps, QuatAxisMatchesMatrixRows) {
  const OvQuat q{0.3f, {-0.5f, 0.7f, 0.2f}};  // need not be normalised
  OvMatrix m;
  OvQuatToMatrix(m, q);
  for (int i = 0; i < 3; ++i) {
    OvVector r, a;
    OvMatrixGetRow(m, i, r);
    OvQuatAxis(q, i, a);
    ExpectVecEq(a, r);
  }
}

TEST(OvQuatOps, MakeRotMatrixAboutLine) {
  const OvVector center = V(2, 3, 4);
  OvMatrix m;
  MakeRotMatrix(m, center, V(0, 0, 1), C_HALF_PI);
  OvVector p;
  OvXformPoint(p, center, m);
  ExpectVecNear(p, center);
  OvXformPoint(p, V(3, 3, 4), m);  // center + X -> center + Y
  ExpectVecNear(p, V(2, 4, 4));
  EXPECT_EQ(m.m[0][3], 0.0f);
  EXPECT_EQ(m.m[2][3], 0.0f);
  EXPECT_EQ(m.m[3][3], 1.0f);
  // Equivalent to T(-c) * R * T(c).
  OvMatrix r;
  OvQuat q;
  MakeQuat(q, V(0, 0, 1), C_HALF_PI);
  OvQuatToMatrix(r, q);
  ExpectMatNear(m, NaiveMul(NaiveMul(Translation(V(-2, -3, -4)), r), Translation(center)));
}

// ---------------------------------------------------------------------------
// Planes and spheres

TEST(OvPlaneOps, Construction) {
  OvPlane pl;
  OvPlaneFromPointNormal(pl, V(0, 0, 5), V(0, 0, 1));
  ExpectVecEq(pl.n, V(0, 0, 1));
  EXPECT_EQ(pl.d, -5.0f);

  OvPlaneFrom3Points(pl, V(1, 1, 3), V(4, 1, 3), V(1, 5, 3));
  ExpectVecNear(pl.n, V(0, 0, 1));
  EXPECT_NEAR(pl.d, -3.0f, kEps);

  OvPlaneFrom3PointsUnnormalized(pl, V(1, 1, 3), V(4, 1, 3), V(1, 5, 3));
  ExpectVecEq(pl.n, V(0, 0, 12));
  EXPECT_EQ(pl.d, -36.0f);

  // Every defining point lies on the plane.
  const OvVector p0 = V(1, 2, 3), p1 = V(-2, 0.5f, 4), p2 = V(3, -1, -2);
  OvPlaneFrom3Points(pl, p0, p1, p2);
  EXPECT_NEAR(OvLength(pl.n), 1.0f, kEps);
  for (const OvVector& p : {p0, p1, p2}) EXPECT_NEAR(OvVectorDotProd(pl.n, p) + pl.d, 0.0f, 1e-5f);
}

TEST(OvPlaneOps, SphereAgainstPlanes) {
  // Box |x| <= 10, |y| <= 10 as outward planes: n . p + d <= 0 inside.
  OvPlane planes[4];
  OvPlaneFromPointNormal(planes[0], V(10, 0, 0), V(1, 0, 0));
  OvPlaneFromPointNormal(planes[1], V(-10, 0, 0), V(-1, 0, 0));
  OvPlaneFromPointNormal(planes[2], V(0, 10, 0), V(0, 1, 0));
  OvPlaneFromPointNormal(planes[3], V(0, -10, 0), V(0, -1, 0));

  EXPECT_TRUE(OvSphereTouchesPlanes(planes, 4, V(0, 0, 0), 1));
  EXPECT_TRUE(OvSphereInsidePlanes(planes, 4, V(0, 0, 0), 1));
  // Straddling the x = 10 plane: touches, not inside.
  EXPECT_TRUE(OvSphereTouchesPlanes(planes, 4, V(10.5f, 0, 0), 1));
  EXPECT_FALSE(OvSphereInsidePlanes(planes, 4, V(10.5f, 0, 0), 1));
  // Exactly touching from outside counts (<=).
  EXPECT_TRUE(OvSphereTouchesPlanes(planes, 4, V(11, 0, 0), 1));
  EXPECT_FALSE(OvSphereTouchesPlanes(planes, 4, V(11.5f, 0, 0), 1));
  // Exactly touching from inside is still fully inside (<= -r).
  EXPECT_TRUE(OvSphereInsidePlanes(planes, 4, V(9, 0, 0), 1));
  EXPECT_FALSE(OvSphereInsidePlanes(planes, 4, V(9.5f, 0, 0), 1));
  // No planes: always true.
  EXPECT_TRUE(OvSphereTouchesPlanes(planes, 0, V(100, 0, 0), 1));
}
