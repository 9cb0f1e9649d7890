// The math, input and constant side of the script API: Vector, Quat and
// Matrix values with their operators, the math functions (angles in
// degrees), the keyboard and mouse queries and C_PI and friends.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ov_input.h"
#include "ov_script_internal.h"

namespace ovs {
namespace {

#define NEED(var, Kind, index, report) \
  auto* var = Arg##Kind(L, index);     \
  if (!var) Invalid(L, report)

#define NULLSTRUCT(var, Kind, index) \
  auto* var = Arg##Kind(L, index);   \
  if (!var) Raise(L, "NULL structure")

float Deg(lua_State* L, int i) { return ArgF(L, i) * OV_DEG_TO_RAD; }

int PushNumber(lua_State* L, double v) {
  lua_pushnumber(L, lua_Number(v));
  return 1;
}

// Row and column indices must name a row or column.
int RowIndex(lua_State* L, int i, const char* report) {
  const int32_t r = ArgI(L, i);
  if (r < 0 || r > 3) Invalid(L, report);
  return r;
}
int ColIndex(lua_State* L, int i, const char* report) {
  const int32_t c = ArgI(L, i);
  if (c < 0 || c > 2) Invalid(L, report);
  return c;
}

// ---------------------------------------------------------------------------
// Constructors and accessors.

int Vec(lua_State* L) {
  PushVector(L, {ArgF(L, 1), ArgF(L, 2), ArgF(L, 3)});
  return 1;
}
int Vec0(lua_State* L) {
  PushVector(L, {0.0f, 0.0f, 0.0f});
  return 1;
}
int VecX(lua_State* L) {
  PushVector(L, {ArgF(L, 1), 0.0f, 0.0f});
  return 1;
}
int VecY(lua_State* L) {
  PushVector(L, {0.0f, ArgF(L, 1), 0.0f});
  return 1;
}
int VecZ(lua_State* L) {
  PushVector(L, {0.0f, 0.0f, ArgF(L, 1)});
  return 1;
}
int QuatI(lua_State* L) {
  PushQuat(L, {1.0f, {0.0f, 0.0f, 0.0f}});
  return 1;
}
int MatI(lua_State* L) {
  OvMatrix m;
  OvMatrixIdentity(m);
  PushMatrix(L, m);
  return 1;
}
int CloneVec(lua_State* L) {
  NEED(v, Vector, 1, "CloneVec()");
  PushVector(L, *v);
  return 1;
}
int CloneQuat(lua_State* L) {
  NEED(q, Quat, 1, "CloneQuat()");
  PushQuat(L, *q);
  return 1;
}
int CloneMat(lua_State* L) {
  NEED(m, Matrix, 1, "CloneMat()");
  PushMatrix(L, *m);
  return 1;
}
int GetVec_x(lua_State* L) {
  NULLSTRUCT(v, Vector, 1);
  return PushNumber(L, v->x);
}
int GetVec_y(lua_State* L) {
  NULLSTRUCT(v, Vector, 1);
  return PushNumber(L, v->y);
}
int GetVec_z(lua_State* L) {
  NULLSTRUCT(v, Vector, 1);
  return PushNumber(L, v->z);
}
int SetVec_x(lua_State* L) {
  NULLSTRUCT(v, Vector, 1);
  v->x = ArgF(L, 2);
  return 0;
}
int SetVec_y(lua_State* L) {
  NULLSTRUCT(v, Vector, 1);
  v->y = ArgF(L, 2);
  return 0;
}
int SetVec_z(lua_State* L) {
  NULLSTRUCT(v, Vector, 1);
  v->z = ArgF(L, 2);
  return 0;
}
int GetOvQuat_s(lua_State* L) {
  NULLSTRUCT(q, Quat, 1);
  return PushNumber(L, q->s);
}
int SetOvQuat_s(lua_State* L) {
  NULLSTRUCT(q, Quat, 1);
  q->s = ArgF(L, 2);
  return 0;
}
int GetOvQuat_v(lua_State* L) {
  NULLSTRUCT(q, Quat, 1);
  // The alias keeps its quaternion alive through its user value.
  auto* u = static_cast<VecUd*>(lua_newuserdatauv(L, sizeof(VecUd), 1));
  std::memset(static_cast<void*>(u), 0, sizeof(VecUd));
  u->tag = kTagVector;
  u->p = &q->v;
  SetTagMetatable(L, kTagVector);
  lua_pushvalue(L, 1);
  lua_setiuservalue(L, -2, 1);
  return 1;
}
int SetOvQuat_v(lua_State* L) {
  NULLSTRUCT(q, Quat, 1);
  NULLSTRUCT(v, Vector, 2);
  q->v = *v;
  return 0;
}

// ---------------------------------------------------------------------------
// Matrices.

int MatGetRow(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixGetRow()");
  NEED(out, Vector, 3, "OvMatrixGetRow()");
  OvMatrixGetRow(*m, RowIndex(L, 2, "OvMatrixGetRow()"), *out);
  return 0;
}
int MatSetRow(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixSetRow()");
  NEED(v, Vector, 3, "OvMatrixSetRow()");
  OvMatrixSetRow(*m, RowIndex(L, 2, "OvMatrixSetRow()"), *v);
  return 0;
}
int MatGetPos(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixGetPos()");
  NEED(out, Vector, 2, "OvMatrixGetPos()");
  OvMatrixGetPos(*m, *out);
  return 0;
}
int MatSetPos(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixSetPos()");
  NEED(v, Vector, 2, "OvMatrixSetPos()");
  OvMatrixSetPos(*m, *v);
  return 0;
}
int MatSet3Row(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixSet3Row()");
  NEED(a, Vector, 2, "OvMatrixSet3Row()");
  NEED(b, Vector, 3, "OvMatrixSet3Row()");
  NEED(c, Vector, 4, "OvMatrixSet3Row()");
  OvMatrixSet3Row(*m, *a, *b, *c);
  return 0;
}
int MatGetCol(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixGetCol()");
  NEED(out, Vector, 3, "OvMatrixGetCol()");
  OvMatrixGetCol(*m, ColIndex(L, 2, "OvMatrixGetCol()"), *out);
  return 0;
}
int MatSetCol(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixSetCol()");
  NEED(v, Vector, 3, "OvMatrixSetCol()");
  OvMatrixSetCol(*m, ColIndex(L, 2, "OvMatrixSetCol()"), *v);
  return 0;
}
int MatSet3Col(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixSet3Col()");
  NEED(a, Vector, 2, "OvMatrixSet3Col()");
  NEED(b, Vector, 3, "OvMatrixSet3Col()");
  NEED(c, Vector, 4, "OvMatrixSet3Col()");
  OvMatrixSet3Col(*m, *a, *b, *c);
  return 0;
}
int MatCopy(lua_State* L) {
  NEED(dst, Matrix, 1, "OvMatrixCopy()");
  NEED(src, Matrix, 2, "OvMatrixCopy()");
  OvMatrixCopy(*dst, *src);
  return 0;
}
int MatIdentity(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixIdentity()");
  OvMatrixIdentity(*m);
  return 0;
}
int MatZero(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixZero()");
  OvMatrixZero(*m);
  return 0;
}
int MatSetRotX(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatSetRotX()");
  OvMatSetRotX(*m, Deg(L, 2));
  return 0;
}
int MatSetRotY(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatSetRotY()");
  OvMatSetRotY(*m, Deg(L, 2));
  return 0;
}
int MatSetRotZ(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatSetRotZ()");
  OvMatSetRotZ(*m, Deg(L, 2));
  return 0;
}
int OrientationMat(lua_State* L) {
  NEED(m, Matrix, 1, "OvOrientationMatrix()");
  NEED(q, Quat, 2, "OvOrientationMatrix()");
  NEED(p, Vector, 3, "OvOrientationMatrix()");
  OvOrientationMatrix(*m, *q, *p);
  return 0;
}
int MatMul4x3(lua_State* L) {
  NEED(out, Matrix, 1, "OvMatMul4x3()");
  NEED(a, Matrix, 2, "OvMatMul4x3()");
  NEED(b, Matrix, 3, "OvMatMul4x3()");
  OvMatrix r;
  OvMatMul4x3(r, *a, *b);
  *out = r;
  return 0;
}
int MatInversePRS(lua_State* L) {
  NEED(out, Matrix, 1, "OvMatInversePRS()");
  NEED(m, Matrix, 2, "OvMatInversePRS()");
  OvMatrix r;
  OvMatInversePRS(r, *m);
  *out = r;
  return 0;
}
int MatLookAt(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixLookAt()");
  NEED(pos, Vector, 2, "OvMatrixLookAt()");
  NEED(target, Vector, 3, "OvMatrixLookAt()");
  OvMatrixLookAt(*m, OvVector(*pos), OvVector(*target));
  return 0;
}
int MatLookAt_Roll(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatLookAt_Roll()");
  NEED(pos, Vector, 2, "OvMatLookAt_Roll()");
  NEED(target, Vector, 3, "OvMatLookAt_Roll()");
  NEED(up, Vector, 4, "OvMatLookAt_Roll()");
  OvMatLookAt_Roll(*m, OvVector(*pos), OvVector(*target), OvVector(*up), Deg(L, 5));
  return 0;
}
int MatOrthogonalize(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixOrthogonalize()");
  OvMatrixOrthogonalize(*m);
  return 0;
}
int MatPreRotZ(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatPreRotZ()");
  OvMatPreRotZ(*m, Deg(L, 2));
  return 0;
}
int MatPreScale(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixPreScale()");
  NEED(s, Vector, 2, "OvMatrixPreScale()");
  OvMatrixPreScale(*m, OvVector(*s));
  return 0;
}
int PRSToMat(lua_State* L) {
  NEED(m, Matrix, 1, "OvPRSToMatrix()");
  NEED(pos, Vector, 2, "OvPRSToMatrix()");
  NEED(q, Quat, 3, "OvPRSToMatrix()");
  NEED(s, Vector, 4, "OvPRSToMatrix()");
  OvPRSToMatrix(*m, OvVector(*pos), OvQuat(*q), OvVector(*s));
  return 0;
}
int MatExtractScale(lua_State* L) {
  NEED(dst, Matrix, 1, "OvMatrixExtractScale()");
  NEED(src, Matrix, 2, "OvMatrixExtractScale()");
  OvVector scale;
  OvMatrix r;
  OvMatrixExtractScale(scale, &r, *src);
  *dst = r;
  PushVector(L, scale);
  return 1;
}
int MatGetScale(lua_State* L) {
  NEED(out, Vector, 1, "OvMatrixGetScale()");
  NEED(m, Matrix, 2, "OvMatrixGetScale()");
  OvVector s;
  const bool off = OvMatrixGetScale(s, *m);
  *out = s;
  lua_pushinteger(L, off ? 1 : 0);
  return 1;
}
int MatGetUniScale(lua_State* L) {
  NEED(m, Matrix, 1, "OvMatrixGetUniScale()");
  return PushNumber(L, OvMatrixGetUniScale(*m));
}
int MatPosSub(lua_State* L) {
  NEED(out, Vector, 1, "OvMatrixPosSub()");
  NEED(a, Matrix, 2, "OvMatrixPosSub()");
  NEED(b, Matrix, 3, "OvMatrixPosSub()");
  OvMatrixPosSub(*out, *a, *b);
  return 0;
}
int XformPoint(lua_State* L) {
  NEED(out, Vector, 1, "OvXformPoint()");
  NEED(p, Vector, 2, "OvXformPoint()");
  NEED(m, Matrix, 3, "OvXformPoint()");
  OvVector r;
  OvXformPoint(r, *p, *m);
  *out = r;
  return 0;
}
int InvXformPoint(lua_State* L) {
  NEED(out, Vector, 1, "OvInvXformPoint()");
  NEED(p, Vector, 2, "OvInvXformPoint()");
  NEED(m, Matrix, 3, "OvInvXformPoint()");
  OvVector r;
  OvInvXformPoint(r, *p, *m);
  *out = r;
  return 0;
}

// ---------------------------------------------------------------------------
// Vectors and quaternions.

int Length(lua_State* L) {
  NEED(v, Vector, 1, "OvLength()");
  return PushNumber(L, OvLength(*v));
}
int SquareLength(lua_State* L) {
  NEED(v, Vector, 1, "OvSquareLength()");
  return PushNumber(L, OvSquareLength(*v));
}
int Distance(lua_State* L) {
  NEED(a, Vector, 1, "OvDistance()");
  NEED(b, Vector, 2, "OvDistance()");
  return PushNumber(L, OvDistance(*a, *b));
}
int SquareDistance(lua_State* L) {
  NEED(a, Vector, 1, "OvSquareDistance()");
  NEED(b, Vector, 2, "OvSquareDistance()");
  return PushNumber(L, OvSquareDistance(*a, *b));
}
int Normalize(lua_State* L) {
  NEED(v, Vector, 1, "OvNormalize()");
  OvNormalize(*v);
  return 0;
}
int VecSet(lua_State* L) {
  NEED(v, Vector, 1, "OvVectorSet()");
  OvVectorSet(*v, ArgF(L, 2), ArgF(L, 3), ArgF(L, 4));
  return 0;
}
int VecAdd(lua_State* L) {
  NEED(a, Vector, 1, "OvVectorAdd()");
  NEED(b, Vector, 2, "OvVectorAdd()");
  OvVectorAdd(*a, OvVector(*b));
  return 0;
}
int VecSub(lua_State* L) {
  NEED(a, Vector, 1, "OvVectorSub()");
  NEED(b, Vector, 2, "OvVectorSub()");
  OvVectorSub(*a, OvVector(*b));
  return 0;
}
int VecScale(lua_State* L) {
  NEED(v, Vector, 1, "OvVectorScale()");
  OvVectorScale(*v, ArgF(L, 2));
  return 0;
}
int VecMin(lua_State* L) {
  NEED(out, Vector, 1, "OvVectorMin()");
  NEED(a, Vector, 2, "OvVectorMin()");
  NEED(b, Vector, 3, "OvVectorMin()");
  OvVector r;
  OvVectorMin(r, *a, *b);
  *out = r;
  return 0;
}
int VecMax(lua_State* L) {
  NEED(out, Vector, 1, "OvVectorMax()");
  NEED(a, Vector, 2, "OvVectorMax()");
  NEED(b, Vector, 3, "OvVectorMax()");
  OvVector r;
  OvVectorMax(r, *a, *b);
  *out = r;
  return 0;
}
int VecMinMax(lua_State* L) {
  NEED(lo, Vector, 1, "OvVectorMinMax()");
  NEED(hi, Vector, 2, "OvVectorMinMax()");
  NEED(a, Vector, 3, "OvVectorMinMax()");
  NEED(b, Vector, 4, "OvVectorMinMax()");
  OvVector rlo, rhi;
  OvVectorMinMax(rlo, rhi, *a, *b);
  *lo = rlo;
  *hi = rhi;
  return 0;
}
int VecAdjLength(lua_State* L) {
  NEED(v, Vector, 1, "OvVectorAdjLength()");
  OvVectorAdjLength(*v, ArgF(L, 2));
  return 0;
}
int VecAddRay(lua_State* L) {
  NEED(v, Vector, 1, "OvVectorAddRay()");
  NEED(from, Vector, 2, "OvVectorAddRay()");
  NEED(to, Vector, 3, "OvVectorAddRay()");
  OvVectorAddRay(*v, OvVector(*from), OvVector(*to), ArgF(L, 4));
  return 0;
}
int VecCrossProd(lua_State* L) {
  NEED(out, Vector, 1, "OvVectorCrossProd()");
  NEED(a, Vector, 2, "OvVectorCrossProd()");
  NEED(b, Vector, 3, "OvVectorCrossProd()");
  OvVector r;
  OvVectorCrossProd(r, *a, *b);
  *out = r;
  return 0;
}
int VecNormCrossProd(lua_State* L) {
  NEED(out, Vector, 1, "OvVectorNormCrossProd()");
  NEED(a, Vector, 2, "OvVectorNormCrossProd()");
  NEED(b, Vector, 3, "OvVectorNormCrossProd()");
  OvVector r;
  OvVectorNormCrossProd(r, *a, *b);
  *out = r;
  return 0;
}
int VecDotProd(lua_State* L) {
  NEED(a, Vector, 1, "OvVectorDotProd()");
  NEED(b, Vector, 2, "OvVectorDotProd()");
  return PushNumber(L, OvVectorDotProd(*a, *b));
}
int VecProjLength(lua_State* L) {
  NEED(a, Vector, 1, "OvVectorProjLength()");
  NEED(b, Vector, 2, "OvVectorProjLength()");
  return PushNumber(L, OvVectorProjLength(*a, *b));
}
int PlaneNormal(lua_State* L) {
  NEED(out, Vector, 1, "OvPlaneNormal()");
  NEED(p0, Vector, 2, "OvPlaneNormal()");
  NEED(p1, Vector, 3, "OvPlaneNormal()");
  NEED(p2, Vector, 4, "OvPlaneNormal()");
  OvVector r;
  OvPlaneNormal(r, *p0, *p1, *p2);
  *out = r;
  return 0;
}
int VecLerp(lua_State* L) {
  NEED(out, Vector, 1, "OvVectorLerp()");
  NEED(a, Vector, 2, "OvVectorLerp()");
  NEED(b, Vector, 3, "OvVectorLerp()");
  OvVector r;
  OvVectorLerp(r, *a, *b, ArgF(L, 4));
  *out = r;
  return 0;
}
int CrossAngle(lua_State* L) {
  NEED(a, Vector, 1, "OvCrossAngle()");
  NEED(b, Vector, 2, "OvCrossAngle()");
  return PushNumber(L, OvCrossAngle(*a, *b));
}
int QuatIdentity(lua_State* L) {
  NEED(q, Quat, 1, "OvQuatIdentity()");
  OvQuatIdentity(*q);
  return 0;
}
int QuatToMat(lua_State* L) {
  NEED(m, Matrix, 1, "OvQuatToMatrix()");
  NEED(q, Quat, 2, "OvQuatToMatrix()");
  OvQuatToMatrix(*m, *q);
  return 0;
}
int QuatCombine(lua_State* L) {
  NEED(a, Quat, 1, "OvQuatCombine()");
  NEED(b, Quat, 2, "OvQuatCombine()");
  OvQuatCombine(*a, OvQuat(*b));
  return 0;
}
int QuatSlerp(lua_State* L) {
  NEED(a, Quat, 1, "OvQuatSlerp()");
  NEED(b, Quat, 2, "OvQuatSlerp()");
  OvQuat r;
  OvQuatSlerp(r, *a, *b, ArgF(L, 3));
  PushQuat(L, r);
  return 1;
}
int MakeQuat(lua_State* L) {
  NEED(q, Quat, 1, "MakeQuat()");
  NEED(axis, Vector, 2, "MakeQuat()");
  ::MakeQuat(*q, OvVector(*axis), Deg(L, 3));
  return 0;
}
int MakeRotMat(lua_State* L) {
  NEED(m, Matrix, 1, "MakeRotMatrix()");
  NEED(centre, Vector, 2, "MakeRotMatrix()");
  NEED(axis, Vector, 3, "MakeRotMatrix()");
  MakeRotMatrix(*m, OvVector(*centre), OvVector(*axis), Deg(L, 4));
  return 0;
}

#define F(name) \
  { #name, name }
const FnEntry kMathFunctions[] = {
    F(Vec),
    F(Vec0),
    F(VecX),
    F(VecY),
    F(VecZ),
    F(QuatI),
    F(MatI),
    F(CloneVec),
    F(CloneQuat),
    F(CloneMat),
    F(GetVec_x),
    F(GetVec_y),
    F(GetVec_z),
    F(SetVec_x),
    F(SetVec_y),
    F(SetVec_z),
    F(GetOvQuat_s),
    F(SetOvQuat_s),
    F(GetOvQuat_v),
    F(SetOvQuat_v),
    F(MatGetRow),
    F(MatSetRow),
    F(MatGetPos),
    F(MatSetPos),
    F(MatSet3Row),
    F(MatGetCol),
    F(MatSetCol),
    F(MatSet3Col),
    F(MatCopy),
    F(MatIdentity),
    F(MatZero),
    F(MatSetRotX),
    F(MatSetRotY),
    F(MatSetRotZ),
    F(OrientationMat),
    F(MatMul4x3),
    F(MatInversePRS),
    F(MatLookAt),
    F(MatLookAt_Roll),
    F(MatOrthogonalize),
    F(MatPreRotZ),
    F(MatPreScale),
    F(PRSToMat),
    F(MatExtractScale),
    F(MatGetScale),
    F(MatGetUniScale),
    F(MatPosSub),
    F(XformPoint),
    F(InvXformPoint),
    F(Length),
    F(SquareLength),
    F(Distance),
    F(SquareDistance),
    F(Normalize),
    F(VecSet),
    F(VecAdd),
    F(VecSub),
    F(VecScale),
    F(VecMin),
    F(VecMax),
    F(VecMinMax),
    F(VecAdjLength),
    F(VecAddRay),
    F(VecCrossProd),
    F(VecNormCrossProd),
    F(VecDotProd),
    F(VecProjLength),
    F(PlaneNormal),
    F(VecLerp),
    F(CrossAngle),
    F(QuatIdentity),
    F(QuatToMat),
    F(QuatCombine),
    F(QuatSlerp),
    F(MakeQuat),
    F(MakeRotMat),
};

// ---------------------------------------------------------------------------
// Operators.

int VecAddOp(lua_State* L) {
  OvVector* a = ArgVector(L, 1);
  OvVector* b = ArgVector(L, 2);
  if (!a || !b) Raise(L, "Vector '+'");
  PushVector(L, OvAdd(*a, *b));
  return 1;
}
int VecSubOp(lua_State* L) {
  OvVector* a = ArgVector(L, 1);
  OvVector* b = ArgVector(L, 2);
  if (!a || !b) Raise(L, "Vector '-'");
  PushVector(L, OvSub(*a, *b));
  return 1;
}
int VecUnmOp(lua_State* L) {
  OvVector* a = ArgVector(L, 1);
  if (!a) Raise(L, "Vector '-'");
  PushVector(L, OvNeg(*a));
  return 1;
}
int VecPowOp(lua_State* L) {
  OvVector* a = ArgVector(L, 1);
  OvVector* b = ArgVector(L, 2);
  if (!a || !b) Raise(L, "Vector '^'");
  PushVector(L, OvCross(*a, *b));
  return 1;
}
int VecMulOp(lua_State* L) {
  OvVector* a = ArgVector(L, 1);
  if (a) {
    if (OvVector* b = ArgVector(L, 2)) return PushNumber(L, OvVectorDotProd(*a, *b));
    if (OvMatrix* m = ArgMatrix(L, 2)) {
      OvVector r;
      OvXformPoint(r, *a, *m);
      PushVector(L, r);
      return 1;
    }
    if (lua_type(L, 2) == LUA_TNUMBER) {
      PushVector(L, OvScaled(*a, ArgF(L, 2)));
      return 1;
    }
  } else if (OvVector* b = ArgVector(L, 2); b && lua_type(L, 1) == LUA_TNUMBER) {
    PushVector(L, OvScaled(*b, ArgF(L, 1)));
    return 1;
  }
  Raise(L, "Vector '*'");
}
int VecDivOp(lua_State* L) {
  OvVector* a = ArgVector(L, 1);
  const float x = ArgF(L, 2);
  if (!a || lua_type(L, 2) != LUA_TNUMBER || x == 0.0f) Raise(L, "Vector: divide 0 or wrong type.");
  PushVector(L, OvScaled(*a, 1.0f / x));
  return 1;
}
int QuatPowOp(lua_State* L) {
  OvQuat* p = ArgQuat(L, 1);
  OvQuat* q = ArgQuat(L, 2);
  if (!p || !q) Raise(L, "Quat '^'");
  OvQuat r = *p;
  OvQuatCombine(r, *q);
  PushQuat(L, r);
  return 1;
}
int MatMulOp(lua_State* L) {
  OvMatrix* m = ArgMatrix(L, 1);
  if (m) {
    if (OvMatrix* b = ArgMatrix(L, 2)) {
      OvMatrix r;
      OvMatMul4x3(r, *m, *b);
      PushMatrix(L, r);
      return 1;
    }
    if (OvVector* v = ArgVector(L, 2)) {
      OvVector r;
      r.x = m->m[0][0] * v->x + m->m[0][1] * v->y + m->m[0][2] * v->z;
      r.y = m->m[1][0] * v->x + m->m[1][1] * v->y + m->m[1][2] * v->z;
      r.z = m->m[2][0] * v->x + m->m[2][1] * v->y + m->m[2][2] * v->z;
      PushVector(L, r);
      return 1;
    }
  }
  Raise(L, "Matrix '*'");
}

// ---------------------------------------------------------------------------
// Input.

int KeyCode(const char* name) {
  if (!name || !*name) return 0;
  const size_t n = std::strlen(name);
  if (n == 1) {
    const char c = char(std::toupper(static_cast<unsigned char>(name[0])));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    switch (c) {
      case ' ': return 0x20;
      case '*': return 0x6A;
      case '+': return 0x6B;
      case '-': return 0x6D;
      case '/': return 0x6F;
      default: return -1;
    }
  }
  if (name[0] == 'F' || name[0] == 'f') {
    const long k = std::strtol(name + 1, nullptr, 10);
    return k >= 1 && k <= 12 ? int(0x6F + k) : -1;
  }
  if (name[0] == 'N' || name[0] == 'n') return name[1] >= '0' && name[1] <= '9' ? 0x60 + (name[1] - '0') : -1;
  char upper[10] = {};
  for (size_t i = 0; i < 9 && name[i]; ++i) upper[i] = char(std::toupper(static_cast<unsigned char>(name[i])));
  static const struct {
    const char* name;
    int code;
  } kNames[] = {
      {"SHIFT", 0x10},  {"CTRL", 0x11}, {"ALT", 0x12},    {"LEFT", 0x25},     {"UP", 0x26},
      {"RIGHT", 0x27},  {"DOWN", 0x28}, {"END", 0x23},    {"HOME", 0x24},     {"INSERT", 0x2D},
      {"DELETE", 0x2E}, {"DEL", 0x6E},  {"PAGEUP", 0x21}, {"PAGEDOWN", 0x22}, {"ENTER", 0x0D},
      {"BACK", 0x08},   {"ESC", 0x1B},  {"TAB", 0x09},    {"CAPSLOCK", 0x14},
  };
  // Nine characters are compared, so a longer name never matches.
  if (n > 9) return -1;
  for (const auto& k : kNames) {
    if (std::strcmp(upper, k.name) == 0) return k.code;
  }
  return -1;
}

int MouseCode(const char* name) {
  if (!name || !*name) return 0;
  switch (std::toupper(static_cast<unsigned char>(name[0]))) {
    case 'L': return 256;
    case 'M': return 257;
    case 'R': return 258;
    default: return -1;
  }
}

enum class Query { kDown, kClickDown, kClickUp };

int Ask(lua_State* L, int code, Query q) {
  OvInputDevice* d = OvGetInputDevice();
  bool r = false;
  if (code >= 0 && d) {
    r = q == Query::kDown ? d->IsDown(code) : q == Query::kClickDown ? d->IsClickDown(code) : d->IsClickUp(code);
  }
  lua_pushinteger(L, r ? 1 : 0);
  return 1;
}

int IsKeyDown(lua_State* L) { return Ask(L, KeyCode(ArgStr(L, 1)), Query::kDown); }
int IsKeyClickDown(lua_State* L) { return Ask(L, KeyCode(ArgStr(L, 1)), Query::kClickDown); }
int IsKeyClickUp(lua_State* L) { return Ask(L, KeyCode(ArgStr(L, 1)), Query::kClickUp); }
int IsMouseKeyDown(lua_State* L) { return Ask(L, MouseCode(ArgStr(L, 1)), Query::kDown); }
int IsMouseKeyClickDown(lua_State* L) { return Ask(L, MouseCode(ArgStr(L, 1)), Query::kClickDown); }
int IsMouseKeyClickUp(lua_State* L) { return Ask(L, MouseCode(ArgStr(L, 1)), Query::kClickUp); }

int MousePair(lua_State* L, bool move) {
  int x = ArgI(L, 1), y = ArgI(L, 2);
  if (OvInputDevice* d = OvGetInputDevice()) {
    if (move) {
      d->GetMove(x, y);
    } else {
      d->GetPos(x, y);
    }
  }
  lua_pushinteger(L, x);
  lua_pushinteger(L, y);
  return 2;
}
int GetMousePos(lua_State* L) { return MousePair(L, false); }
int GetMouseMove(lua_State* L) { return MousePair(L, true); }

const FnEntry kInputFunctions[] = {
    F(IsKeyDown),           F(IsKeyClickDown),    F(IsKeyClickUp), F(IsMouseKeyDown),
    F(IsMouseKeyClickDown), F(IsMouseKeyClickUp), F(GetMousePos),  F(GetMouseMove),
};
#undef F

}  // namespace

const FnEntry* MathFunctions(int& count) {
  count = int(sizeof(kMathFunctions) / sizeof(kMathFunctions[0]));
  return kMathFunctions;
}

const FnEntry* InputFunctions(int& count) {
  count = int(sizeof(kInputFunctions) / sizeof(kInputFunctions[0]));
  return kInputFunctions;
}

void RegisterMathConstants(lua_State* L) {
  lua_pushnumber(L, lua_Number(C_PI));
  lua_setglobal(L, "C_PI");
  lua_pushnumber(L, lua_Number(C_2PI));
  lua_setglobal(L, "C_2PI");
  lua_pushnumber(L, lua_Number(C_HALF_PI));
  lua_setglobal(L, "C_HALF_PI");
}

void RegisterOperators(lua_State* L) {
  struct Op {
    Tag tag;
    const char* event;
    lua_CFunction fn;
  };
  const Op ops[] = {
      {kTagVector, "__add", VecAddOp}, {kTagVector, "__sub", VecSubOp}, {kTagVector, "__unm", VecUnmOp},
      {kTagVector, "__pow", VecPowOp}, {kTagVector, "__mul", VecMulOp}, {kTagVector, "__div", VecDivOp},
      {kTagQuat, "__pow", QuatPowOp},  {kTagMatrix, "__mul", MatMulOp},
  };
  for (const Op& op : ops) {
    PushMetatable(L, op.tag);
    lua_pushcfunction(L, op.fn);
    lua_setfield(L, -2, op.event);
    lua_pop(L, 1);
  }
}

}  // namespace ovs
