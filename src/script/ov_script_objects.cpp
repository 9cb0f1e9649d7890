// The scene-object functions: clumps (Cp), logical objects (Lo), cameras,
// the scene (Sn) and the few unprefixed ones. Object arguments must carry
// their tag and be alive; numbers default to 0.
#include <cstring>

#include "ov_aniset.h"
#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_pick.h"
#include "ov_scene.h"
#include "ov_script_internal.h"
#include "ov_script_node.h"
#include "ov_trace.h"

namespace ovs {
namespace {

#define NEED(var, Kind, index, report) \
  auto* var = Arg##Kind(L, index);     \
  if (!var) Invalid(L, report)

#define STAT(var, index)               \
  OvLogObj* var = ArgLogObj(L, index); \
  if (!var) Raise(L, "NULL structure")

uint32_t ArgU32(lua_State* L, int i) { return uint32_t(OvTruncToI64(ArgNum(L, i))); }

int PushNumber(lua_State* L, double v) {
  lua_pushnumber(L, lua_Number(v));
  return 1;
}
int PushInt(lua_State* L, int64_t v) {
  lua_pushinteger(L, lua_Integer(v));
  return 1;
}
int PushBool(lua_State* L, bool v) { return PushInt(L, v ? 1 : 0); }

// Depth first over the start clump, its children, then its following brothers.
template <class Match>
OvClump* SearchClumps(OvClump* c, const Match& match, int depth = 0) {
  if (depth > 4096) return nullptr;
  for (; c; c = c->GetNextBrother()) {
    if (match(c)) return c;
    if (OvClump* f = SearchClumps(c->GetChild(), match, depth + 1)) return f;
  }
  return nullptr;
}

bool SameId(int32_t id, int32_t serial, int32_t wantId, int32_t wantSub) {
  return id == wantId && (wantSub == -1 || serial == wantSub);
}

void RefreshWorld(OvClump* c, int depth = 0) {
  if (depth > 4096) return;
  for (; c; c = c->GetNextBrother()) {
    c->CalcToWorldMatrix();
    RefreshWorld(c->GetChild(), depth + 1);
  }
}

// ---------------------------------------------------------------------------
// Clumps.

int CpSetID(lua_State* L) {
  NEED(c, Clump, 1, "SetID()");
  c->SetID(ArgI(L, 2));
  return 0;
}
int CpGetID(lua_State* L) {
  NEED(c, Clump, 1, "GetID()");
  return PushInt(L, c->GetID());
}
int CpGetName(lua_State* L) {
  NEED(c, Clump, 1, "GetName()");
  if (c->GetName()) {
    lua_pushstring(L, c->GetName());
  } else {
    lua_pushnil(L);
  }
  return 1;
}
int CpGetCamera(lua_State* L) {
  NEED(c, Clump, 1, "GetCamera()");
  PushCamera(L, c);
  return 1;
}
int CpGetOwner(lua_State* L) {
  NEED(c, Clump, 1, "GetOwner()");
  PushLogObj(L, c->GetLogObj());
  return 1;
}
int CpGetScene(lua_State* L) {
  NEED(c, Clump, 1, "GetScene()");
  PushScene(L, c->GetScene());
  return 1;
}
int CpGetScale(lua_State* L) {
  NEED(c, Clump, 1, "GetScale()");
  PushVector(L, c->GetScale());
  return 1;
}
int CpGetQuat(lua_State* L) {
  NEED(c, Clump, 1, "GetQuat()");
  PushQuat(L, c->GetQuat());
  return 1;
}
int CpGetPos(lua_State* L) {
  NEED(c, Clump, 1, "GetPos()");
  PushVector(L, c->GetPos());
  return 1;
}
int CpGetWorldPos(lua_State* L) {
  NEED(c, Clump, 1, "GetWorldPos()");
  NEED(out, Vector, 2, "GetWorldPos()");
  OvVector p;
  if (!c->GetWorldPos(p)) return PushInt(L, 0);
  *out = p;
  return PushInt(L, 1);
}
int CpGetVelocity(lua_State* L) {
  NEED(c, Clump, 1, "GetVelocity()");
  NEED(out, Vector, 2, "GetVelocity()");
  OvVector v{0.0f, 0.0f, 0.0f};
  const bool ok = c->GetVelocity(v);
  *out = ok ? v : OvVector{0.0f, 0.0f, 0.0f};
  return PushBool(L, ok);
}
int CpGetNextBrother(lua_State* L) {
  NEED(c, Clump, 1, "GetNextBrother()");
  PushClump(L, c->GetNextBrother());
  return 1;
}
int CpGetChild(lua_State* L) {
  NEED(c, Clump, 1, "GetChild()");
  PushClump(L, c->GetChild());
  return 1;
}
int CpGetParent(lua_State* L) {
  NEED(c, Clump, 1, "GetParent()");
  PushClump(L, c->GetParent());
  return 1;
}
int CpIsDescendFrom(lua_State* L) {
  NEED(c, Clump, 1, "IsDescendFrom()");
  NEED(a, Clump, 2, "IsDescendFrom()");
  return PushBool(L, c != a && c->IsDescendFrom(a));
}
int CpDelAniCtrl(lua_State* L) {
  NEED(c, Clump, 1, "DelAniCtrl()");
  NEED(ctrl, AniCtrl, 2, "DelAniCtrl()");
  c->DelAniCtrl(ctrl);
  return 0;
}
int CpFindAniCtrl(lua_State* L) {
  NEED(c, Clump, 1, "FindAniCtrl()");
  PushAniCtrl(L, c->FindAniCtrl(ArgI(L, 2)), c);
  return 1;
}
int CpSetPos(lua_State* L) {
  NEED(c, Clump, 1, "SetPos()");
  NEED(v, Vector, 2, "SetPos()");
  c->SetPos(*v);
  return 0;
}
int CpSetScale(lua_State* L) {
  NEED(c, Clump, 1, "SetScale()");
  NEED(v, Vector, 2, "SetScale()");
  c->SetScale(*v);
  return 0;
}
int CpSetQuat(lua_State* L) {
  NEED(c, Clump, 1, "SetQuat()");
  NEED(q, Quat, 2, "SetQuat()");
  c->SetQuat(*q);
  return 0;
}
int CpSetUniScale(lua_State* L) {
  NEED(c, Clump, 1, "SetUniScale()");
  c->SetUniScale(ArgF(L, 2));
  return 0;
}
int CpGetAnimFlag(lua_State* L) {
  NEED(c, Clump, 1, "GetAnimFlag()");
  return PushInt(L, ArgU32(L, 2) & c->GetChangeFlags());
}
int CpGetToWorldMat(lua_State* L) {
  NEED(c, Clump, 1, "GetToWorldMatrix()");
  if (c->GetToWorldMatrix()) {
    PushLiveMatrix(L, kMatClumpWorld, c);
  } else {
    lua_pushnil(L);
  }
  return 1;
}
int CpNeedToWorldMat(lua_State* L) {
  NEED(c, Clump, 1, "NeedToWorldMatrix()");
  if (c->NeedToWorldMatrix()) {
    PushLiveMatrix(L, kMatClumpWorld, c);
  } else {
    lua_pushnil(L);
  }
  return 1;
}
int CpSetToWorldMat(lua_State* L) {
  NEED(c, Clump, 1, "SetToWorldMatrix()");
  NEED(m, Matrix, 2, "SetToWorldMatrix()");
  const OvMatrix copy = *m;
  c->SetToWorldMatrix(copy);
  return 0;
}
int CpGetVPMat(lua_State* L) {
  NEED(c, Clump, 1, "GetVPMatrix()");
  if (c->GetVPMatrix()) {
    PushLiveMatrix(L, kMatClumpVP, c);
  } else {
    lua_pushnil(L);
  }
  return 1;
}
int CpSetVPMat(lua_State* L) {
  NEED(c, Clump, 1, "SetVPMatrix()");
  NEED(m, Matrix, 2, "SetVPMatrix()");
  const OvMatrix copy = *m;
  c->SetVPMatrix(&copy);
  return 0;
}
int CpAdjustVPMat(lua_State* L) {
  NEED(c, Clump, 1, "AdjustVPMatrix()");
  c->AdjustVPMatrix();
  return 0;
}
int CpCalcXformParentMat(lua_State* L) {
  NEED(c, Clump, 1, "CalcXformParentMatrix()");
  NEED(out, Matrix, 2, "CalcXformParentMatrix()");
  OvMatrix m;
  c->CalcXformParentMatrix(m);
  *out = m;
  return 0;
}
int CpGetBoundingSphere(lua_State* L) {
  NEED(c, Clump, 1, "GetBoundingSphere()");
  NEED(out, Vector, 2, "GetBoundingSphere()");
  OvVector centre;
  float radius = 0.0f;
  if (!c->GetBoundingSphere(centre, radius)) return PushInt(L, 0);
  *out = centre;
  return PushNumber(L, radius);
}
int CpIsCulled(lua_State* L) {
  NEED(c, Clump, 1, "IsCulled()");
  return PushBool(L, c->IsCulled());
}
int CpSetSwitch(lua_State* L) {
  NEED(c, Clump, 1, "SetSwitch()");
  c->SetSwitch(ArgU32(L, 2), ArgU32(L, 3));
  return 0;
}
int CpCheckSwitch(lua_State* L) {
  NEED(c, Clump, 1, "CheckSwitch()");
  return PushBool(L, c->CheckSwitch(ArgU32(L, 2), ArgU32(L, 3)));
}
int CpSetVisible(lua_State* L) {
  NEED(c, Clump, 1, "SetVisible()");
  c->SetVisible();
  return 0;
}
int CpSetInvisible(lua_State* L) {
  NEED(c, Clump, 1, "SetInvisible()");
  c->SetInvisible();
  return 0;
}
int CpSetReactionVar(lua_State* L) {
  NEED(c, Clump, 1, "CpSetReactionVar()");
  c->CpSetReactionVar(ArgI(L, 2), ArgF(L, 3));
  return 0;
}
int CpGetReactionVar(lua_State* L) {
  NEED(c, Clump, 1, "CpGetReactionVar()");
  return PushNumber(L, c->CpGetReactionVar(ArgI(L, 2)));
}

// ---------------------------------------------------------------------------
// Searches.

int SearchLogObj_ID(lua_State* L) {
  NEED(o, LogObj, 1, "SearchLogObj_ID()");
  PushLogObj(L, o->SearchLogObj_ID(ArgI(L, 2), ArgI(L, 3)));
  return 1;
}
int SearchClump_ID(lua_State* L) {
  NEED(c, Clump, 1, "SearchClump_ID()");
  const int32_t id = ArgI(L, 2), sub = ArgI(L, 3);
  PushClump(L, SearchClumps(c, [&](OvClump* x) { return SameId(x->GetID(), x->GetSerial(), id, sub); }));
  return 1;
}
int SearchLogObj(lua_State* L) {
  NEED(o, LogObj, 1, "SearchLogObj()");
  const char* name = ArgStr(L, 2);
  PushLogObj(L, name ? o->SearchLogObj(name) : nullptr);
  return 1;
}
int SearchClump(lua_State* L) {
  NEED(c, Clump, 1, "SearchClump()");
  const char* name = ArgStr(L, 2);
  if (!name) {
    lua_pushnil(L);
    return 1;
  }
  PushClump(L, SearchClumps(c, [&](OvClump* x) { return x->GetName() && std::strcmp(x->GetName(), name) == 0; }));
  return 1;
}

// ---------------------------------------------------------------------------
// Logical objects.

int LoGetCrntFrame(lua_State* L) {
  NEED(o, LogObj, 1, "GetCrntFrame()");
  return PushInt(L, o->GetCrntFrame());
}
int LoGetCrntFrame_Sec(lua_State* L) {
  NEED(o, LogObj, 1, "GetCrntFrame_Sec()");
  return PushNumber(L, o->GetCrntFrame_Sec());
}
int LoGotoFrame(lua_State* L) {
  NEED(o, LogObj, 1, "GotoFrame()");
  o->GotoFrame(ArgI(L, 2));
  return 0;
}
int LoGotoFrame_Sec(lua_State* L) {
  NEED(o, LogObj, 1, "GotoFrame_Sec()");
  if (o->LoGetScene()) o->GotoFrame_Sec(ArgF(L, 2));
  return 0;
}
int LoGetClumps(lua_State* L) {
  NEED(o, LogObj, 1, "GetClumps()");
  PushClump(L, o->GetClumps());
  return 1;
}
int LoGetNextBrother(lua_State* L) {
  NEED(o, LogObj, 1, "GetNextBrother()");
  PushLogObj(L, o->LoGetNextBrother());
  return 1;
}
int LoGetChild(lua_State* L) {
  NEED(o, LogObj, 1, "GetChild()");
  PushLogObj(L, o->LoGetChild());
  return 1;
}
int LoGetParent(lua_State* L) {
  NEED(o, LogObj, 1, "GetParent()");
  PushLogObj(L, o->LoGetParent());
  return 1;
}
int LoGetParentClump(lua_State* L) {
  NEED(o, LogObj, 1, "GetParentClump()");
  PushClump(L, o->GetParentClump());
  return 1;
}
int LoChangeParentClump(lua_State* L) {
  NEED(o, LogObj, 1, "ChangeParentClump()");
  NEED(c, Clump, 2, "ChangeParentClump()");
  o->ChangeParentClump(c, ArgNum(L, 3) != 0.0);
  return 0;
}
int LoGraftClump(lua_State* L) {
  NEED(o, LogObj, 1, "GraftClump()");
  NEED(a, Clump, 2, "GraftClump()");
  NEED(b, Clump, 3, "GraftClump()");
  o->GraftClump(a, b, ArgNum(L, 4) != 0.0);
  return 0;
}
int LoAlignOrientation(lua_State* L) {
  NEED(o, LogObj, 1, "AlignOrientation()");
  NEED(c, Clump, 2, "AlignOrientation()");
  o->AlignOrientation(c);
  return 0;
}
int LoAlignMat(lua_State* L) {
  NEED(o, LogObj, 1, "AlignMat()");
  NEED(m, Matrix, 2, "AlignMat()");
  const OvMatrix copy = *m;
  o->AlignMat(copy);
  return 0;
}
int LoSearchClump_ID(lua_State* L) {
  NEED(o, LogObj, 1, "SearchClump_ID()");
  PushClump(L, o->LoSearchClump_ID(ArgI(L, 2), ArgI(L, 3)));
  return 1;
}
int LoSearchClump(lua_State* L) {
  NEED(o, LogObj, 1, "SearchClump()");
  const char* name = ArgStr(L, 2);
  PushClump(L, name ? o->LoSearchClump(name) : nullptr);
  return 1;
}
int LoSetID(lua_State* L) {
  NEED(o, LogObj, 1, "SetID()");
  o->LoSetID(ArgI(L, 2));
  return 0;
}
int LoGetID(lua_State* L) {
  NEED(o, LogObj, 1, "GetID()");
  return PushInt(L, o->LoGetID());
}
int LoSetName(lua_State* L) {
  NEED(o, LogObj, 1, "SetName()");
  o->SetName(ArgStr(L, 2));
  return 0;
}
int LoGetName(lua_State* L) {
  NEED(o, LogObj, 1, "GetName()");
  const char* name = o->LoGetName();
  if (name && *name) {
    lua_pushstring(L, name);
  } else {
    lua_pushnil(L);
  }
  return 1;
}
int LoGetScene(lua_State* L) {
  NEED(o, LogObj, 1, "GetScene()");
  PushScene(L, o->LoGetScene());
  return 1;
}
int LoFreezeTime(lua_State* L) {
  NEED(o, LogObj, 1, "FreezeTime()");
  o->FreezeTime();
  return 0;
}
int LoUnfreezeTime(lua_State* L) {
  NEED(o, LogObj, 1, "UnfreezeTime()");
  o->UnfreezeTime();
  return 0;
}
int LoIsTimeFreeze(lua_State* L) {
  NEED(o, LogObj, 1, "IsTimeFreeze()");
  return PushBool(L, o->IsTimeFreeze());
}

#define STAT_PAIR(Field, Getter, Setter) \
  int GetLo_##Field(lua_State* L) {      \
    STAT(o, 1);                          \
    return PushInt(L, o->Getter());      \
  }                                      \
  int SetLo_##Field(lua_State* L) {      \
    STAT(o, 1);                          \
    o->Setter(ArgI(L, 2));               \
    return 0;                            \
  }
STAT_PAIR(iDPower, GetDPower, SetDPower)
STAT_PAIR(iHealth, GetHealth, SetHealth)
STAT_PAIR(iFullHealth, GetFullHealth, SetFullHealth)
STAT_PAIR(iParentHurtRate, GetParentHurtRate, SetParentHurtRate)
#undef STAT_PAIR

// ---------------------------------------------------------------------------
// Cameras.

int CameraGetFov(lua_State* L) {
  NEED(c, Camera, 1, "GetFov()");
  return PushNumber(L, c->GetFov());
}
int CameraSetFov(lua_State* L) {
  NEED(c, Camera, 1, "SetFov()");
  c->SetFov(ArgF(L, 2));
  return 0;
}
int CameraSetClipPlane(lua_State* L) {
  NEED(c, Camera, 1, "SetClipPlane()");
  c->SetClipPlane(ArgF(L, 2), ArgF(L, 3));
  return 0;
}
int CameraGetClipPlane(lua_State* L) {
  NEED(c, Camera, 1, "GetClipPlane()");
  float n = 0.0f, f = 0.0f;
  c->GetClipPlane(n, f);
  PushNumber(L, n);
  return 1 + PushNumber(L, f);
}
int CameraSetFogRange(lua_State* L) {
  NEED(c, Camera, 1, "SetFogRange()");
  c->SetFogRange(ArgF(L, 2), ArgF(L, 3));
  return 0;
}
int CameraGetFogRange(lua_State* L) {
  NEED(c, Camera, 1, "GetFogRange()");
  float n = 0.0f, f = 0.0f;
  c->GetFogRange(n, f);
  PushNumber(L, n);
  return 1 + PushNumber(L, f);
}

// ---------------------------------------------------------------------------
// Scenes.

int SnGetTime_Sec(lua_State* L) {
  NEED(s, Scene, 1, "GetTime_Sec()");
  return PushNumber(L, s->GetTime_Sec());
}
int SnTimePerSec(lua_State* L) {
  NEED(s, Scene, 1, "TimePerSec()");
  return PushInt(L, s->TimePerSec());
}
int SnSecToPreFrame(lua_State* L) {
  NEED(s, Scene, 1, "SecToPreFrame()");
  return PushNumber(L, s->SecToPreFrame());
}
int SnAddLogObjs(lua_State* L) {
  NEED(s, Scene, 1, "AddLogObjs()");
  NEED(o, LogObj, 2, "AddLogObjs()");
  // Only a free-standing object: linking one that sits in a tree would
  // break that tree's chains.
  if (o->LoGetScene() || o->LoGetParent() || o->LoGetNextBrother() || o->LoGetPrevBrother()) return 0;
  s->AddLogObjs(o);
  return 0;
}
int SnGetLogObjs(lua_State* L) {
  NEED(s, Scene, 1, "GetLogObjs()");
  PushLogObj(L, s->GetLogObjs());
  return 1;
}
int SnGetLeadingLogObj(lua_State* L) {
  NEED(s, Scene, 1, "GetLeadingLogObj()");
  PushLogObj(L, s->GetLeadingLogObj(ArgI(L, 2)));
  return 1;
}
int SnDelLogObj(lua_State* L) {
  NEED(s, Scene, 1, "DelLogObj()");
  NEED(o, LogObj, 2, "DelLogObj()");
  s->DelLogObj(o);
  return 0;
}
int SnDelClump(lua_State* L) {
  NEED(s, Scene, 1, "DelClump()");
  NEED(c, Clump, 2, "DelClump()");
  s->DelClump(c);
  return 0;
}
int SnUseCamera_ID(lua_State* L) {
  NEED(s, Scene, 1, "UseCamera_ID()");
  OvClump* c = s->SearchClump_ID(ArgI(L, 2), ArgI(L, 3));
  return PushBool(L, c && s->UseCamera(c));
}
int SnUseCamera(lua_State* L) {
  NEED(s, Scene, 1, "UseCamera()");
  const char* name = ArgStr(L, 2);
  OvClump* c = name ? s->SearchClump(name) : nullptr;
  return PushBool(L, c && s->UseCamera(c));
}
int SnGetCrntCamera(lua_State* L) {
  NEED(s, Scene, 1, "GetCrntCamera()");
  PushClump(L, s->GetCrntCamera());
  return 1;
}
int SnGetCameraToWorldMat(lua_State* L) {
  NEED(s, Scene, 1, "GetCameraToWorldMatrix()");
  if (s->GetCameraToWorldMatrix()) {
    PushLiveMatrix(L, kMatSceneCameraWorld, s);
  } else {
    lua_pushnil(L);
  }
  return 1;
}
int SnGetViewProjMat(lua_State* L) {
  NEED(s, Scene, 1, "GetViewProjMatrix()");
  PushLiveMatrix(L, kMatSceneViewProj, s);
  return 1;
}
int SnInViewFrustum(lua_State* L) {
  NEED(s, Scene, 1, "InViewFrustum()");
  NEED(p, Vector, 2, "InViewFrustum()");
  return PushBool(L, s->InViewFrustum(*p));
}
int SnSearchClump_ID(lua_State* L) {
  NEED(s, Scene, 1, "SearchClump_ID()");
  PushClump(L, s->SearchClump_ID(ArgI(L, 2), ArgI(L, 3)));
  return 1;
}
int SnSearchLogObj_ID(lua_State* L) {
  NEED(s, Scene, 1, "SearchLogObj_ID()");
  PushLogObj(L, s->SearchLogObj_ID(ArgI(L, 2), ArgI(L, 3)));
  return 1;
}
OvClump* SearchObjectTreeClump(OvLogObj* o, int32_t id, int32_t sub, int depth = 0) {
  if (!o || depth > 4096) return nullptr;
  if (OvClump* c = o->LoSearchClump_ID(id, sub)) return c;
  for (OvLogObj* child = o->LoGetChild(); child; child = child->LoGetNextBrother()) {
    if (OvClump* c = SearchObjectTreeClump(child, id, sub, depth + 1)) return c;
  }
  return nullptr;
}
int SnSearchLogObjClump_ID(lua_State* L) {
  NEED(s, Scene, 1, "SearchLogObjClump_ID()");
  OvLogObj* o = s->SearchLogObj_ID(ArgI(L, 2), ArgI(L, 3));
  PushClump(L, SearchObjectTreeClump(o, ArgI(L, 4), ArgI(L, 5)));
  return 1;
}
int SnSearchClump(lua_State* L) {
  NEED(s, Scene, 1, "SearchClump()");
  const char* name = ArgStr(L, 2);
  PushClump(L, name ? s->SearchClump(name) : nullptr);
  return 1;
}
int SnSearchLogObj(lua_State* L) {
  NEED(s, Scene, 1, "SearchLogObj()");
  const char* name = ArgStr(L, 2);
  PushLogObj(L, name ? s->SearchLogObj(name) : nullptr);
  return 1;
}
int SnSearchLogObjClump(lua_State* L) {
  NEED(s, Scene, 1, "SearchLogObjClump()");
  const char* objectName = ArgStr(L, 2);
  const char* name = ArgStr(L, 3);
  PushClump(L, objectName && name ? s->SearchLogObjClump(objectName, name) : nullptr);
  return 1;
}
int SnSetBkgdColor(lua_State* L) {
  NEED(s, Scene, 1, "SetBkgdColor()");
  s->SetBkgdColor(ArgI(L, 2), ArgI(L, 3), ArgI(L, 4));
  return 0;
}
int SnGetBkgdColor(lua_State* L) {
  NEED(s, Scene, 1, "GetBkgdColor()");
  int r = 0, g = 0, b = 0;
  s->GetBkgdColor(r, g, b);
  PushInt(L, r);
  PushInt(L, g);
  return 2 + PushInt(L, b);
}
int SnEnableFog(lua_State* L) {
  NEED(s, Scene, 1, "EnableFog()");
  s->EnableFog(ArgNum(L, 2) != 0.0);
  return 0;
}
int SnSetFogColor(lua_State* L) {
  NEED(s, Scene, 1, "SetFogColor()");
  s->SetFogColor(ArgI(L, 2), ArgI(L, 3), ArgI(L, 4));
  return 0;
}
int SnGetFogColor(lua_State* L) {
  NEED(s, Scene, 1, "GetFogColor()");
  int r = 0, g = 0, b = 0;
  s->GetFogColor(r, g, b);
  PushInt(L, r);
  PushInt(L, g);
  return 2 + PushInt(L, b);
}
int SnFilmCoordToWorldVec(lua_State* L) {
  NEED(s, Scene, 1, "FilmCoordToWorldVector()");
  PushVector(L, s->FilmCoordToWorldVector(ArgF(L, 2), ArgF(L, 3)));
  return 1;
}

// ---------------------------------------------------------------------------
// Others.

int GetLeadingLogObjClumps(lua_State* L) {
  NEED(s, Scene, 1, "GetLeadingLogObjClumps()");
  OvLogObj* o = s->GetLeadingLogObj(ArgI(L, 2));
  PushClump(L, o ? o->GetClumps() : nullptr);
  return 1;
}
int NeedTick2Pass(lua_State* L) {
  TickContext& c = CurrentContext();
  if (c.ctrl && c.clump && c.requests++ < kMaxTickRequests) OvAniCtrlRegisterPass(c.clump, c.ctrl, c.time, ArgI(L, 1));
  return 0;
}
int NeedTickHrchy(lua_State*) {
  TickContext& c = CurrentContext();
  if (c.ctrl && c.clump && c.requests++ < kMaxTickRequests) OvAniCtrlRegisterHrchy(c.clump, c.ctrl, c.time);
  return 0;
}
int TRACE(lua_State* L) {
  if (const char* text = ArgStr(L, 1)) Trace(text);
  return 0;
}
int ItscFilmCoordScene(lua_State* L) {
  NEED(s, Scene, 3, "OvItscFilmCoordScene()");
  OvVector* out = ArgVector(L, 7);
  int32_t n = ArgI(L, 6);
  OvVector hit{0.0f, 0.0f, 0.0f};
  OvClump* c = OvPickFilmCoord(ArgF(L, 1), ArgF(L, 2), *s, ArgStr(L, 4), ArgStr(L, 5), &hit, &n);
  if (c && out) *out = hit;
  PushClump(L, c);
  return 1 + PushInt(L, n);
}
int32_t SecondsToUnits(const OvDatabase& db, double seconds) {
  const double perSecond = double(db.Header().frameRate) * double(db.Header().timeUnitsPerFrame);
  return OvTruncToI32(seconds * perSecond);
}
int ApplyAnimation(lua_State* L) {
  NEED(c, Clump, 1, "ApplyAnimation()");
  NEED(db, Database, 3, "ApplyAnimation()");
  const char* name = ArgStr(L, 4);
  const int32_t record = name ? db->FindClumpRecordIndex(name) : -1;
  if (record < 0) return 0;
  OvApplyOptions o;
  o.time = SecondsToUnits(*db, ArgNum(L, 2));
  o.offset = SecondsToUnits(*db, ArgNum(L, 5));
  o.end = SecondsToUnits(*db, ArgNum(L, 6));
  o.blendLength = SecondsToUnits(*db, ArgNum(L, 7));
  o.sceneClock = ArgNum(L, 8) != 0.0;
  o.descend = ArgNum(L, 9) != 0.0;
  // A set holding the Script node whose code runs now would make a new
  // controller of that script, which applies the set again: each round
  // feeds the next. Refused.
  const OvScriptNode* running = RunningScriptNode();
  if (running && OvRecordTreeHoldsNode(*db, record, o.descend, running)) {
    if (!running->applyRefusedTraced) {
      running->applyRefusedTraced = true;
      _TraceFormat("!!!! ApplyAnimation(): the set '%.64s' holds the script '%.64s' that applies it: refused\n", name,
                   running->scriptName ? running->scriptName : "");
    }
    return 0;
  }
  OvApplyAnimationByRecord(c, db, record, o);
  if (ArgNum(L, 10) != 0.0) {
    c->CalcToWorldMatrix();
    RefreshWorld(c->GetChild());
  }
  return 0;
}
void PlaceStart(OvLogObj* o, double start) {
  if (o && start >= 0.0) o->GotoFrame_Sec(float(start));
}
int EmitObject(lua_State* L) {
  NEED(c, Clump, 1, "EmitObject()");
  NEED(db, Database, 2, "EmitObject()");
  const char* name = ArgStr(L, 3);
  OvLogObj* o = name ? ::EmitObject(*c, *db, name, -1.0f, ArgF(L, 5), ArgI(L, 6)) : nullptr;
  PlaceStart(o, ArgNum(L, 4));
  PushLogObj(L, o);
  return 1;
}
int EmitObject_Mat(lua_State* L) {
  NEED(s, Scene, 1, "EmitObject_Mat()");
  NEED(m, Matrix, 2, "EmitObject_Mat()");
  NEED(db, Database, 3, "EmitObject_Mat()");
  const char* name = ArgStr(L, 4);
  const OvMatrix at = *m;
  OvLogObj* o = name ? ::EmitObject_Mat(*s, at, *db, name, -1.0f, ArgI(L, 6)) : nullptr;
  PlaceStart(o, ArgNum(L, 5));
  PushLogObj(L, o);
  return 1;
}
int SetLinkAndUnlinkTime(lua_State* L) {
  NEED(o, LogObj, 1, "SetLinkAndUnlinkTime()");
  NEED(c, Clump, 2, "SetLinkAndUnlinkTime()");
  ::SetLinkAndUnlinkTime(*o, c, ArgF(L, 3));
  return 0;
}
int FindDatabase(lua_State* L) {
  const char* name = ArgStr(L, 1);
  PushDatabase(L, name ? OvDatabase::FindByName(name) : nullptr);
  return 1;
}

#define F(name) \
  { #name, name }
const FnEntry kObjectFunctions[] = {
    F(CpSetID),
    F(CpGetID),
    F(CpGetName),
    F(CpGetCamera),
    F(CpGetOwner),
    F(CpGetScene),
    F(CpGetScale),
    F(CpGetQuat),
    F(CpGetPos),
    F(CpGetWorldPos),
    F(CpGetVelocity),
    F(CpGetNextBrother),
    F(CpGetChild),
    F(CpGetParent),
    F(CpIsDescendFrom),
    F(CpDelAniCtrl),
    F(CpFindAniCtrl),
    F(CpSetPos),
    F(CpSetScale),
    F(CpSetQuat),
    F(CpSetUniScale),
    F(CpGetAnimFlag),
    F(CpGetToWorldMat),
    F(CpNeedToWorldMat),
    F(CpSetToWorldMat),
    F(CpGetVPMat),
    F(CpSetVPMat),
    F(CpAdjustVPMat),
    F(CpCalcXformParentMat),
    F(CpGetBoundingSphere),
    F(CpIsCulled),
    F(CpSetSwitch),
    F(CpCheckSwitch),
    F(CpSetVisible),
    F(CpSetInvisible),
    F(CpSetReactionVar),
    F(CpGetReactionVar),
    F(SearchLogObj_ID),
    F(SearchClump_ID),
    F(SearchLogObj),
    F(SearchClump),
    F(LoGetCrntFrame),
    F(LoGetCrntFrame_Sec),
    F(LoGotoFrame),
    F(LoGotoFrame_Sec),
    F(LoGetClumps),
    F(LoGetNextBrother),
    F(LoGetChild),
    F(LoGetParent),
    F(LoGetParentClump),
    F(LoChangeParentClump),
    F(LoGraftClump),
    F(LoAlignOrientation),
    F(LoAlignMat),
    F(LoSearchClump_ID),
    F(LoSearchClump),
    F(LoSetID),
    F(LoGetID),
    F(LoSetName),
    F(LoGetName),
    F(LoGetScene),
    F(LoFreezeTime),
    F(LoUnfreezeTime),
    F(LoIsTimeFreeze),
    F(GetLo_iDPower),
    F(SetLo_iDPower),
    F(GetLo_iHealth),
    F(SetLo_iHealth),
    F(GetLo_iFullHealth),
    F(SetLo_iFullHealth),
    F(GetLo_iParentHurtRate),
    F(SetLo_iParentHurtRate),
    F(CameraGetFov),
    F(CameraSetFov),
    F(CameraSetClipPlane),
    F(CameraGetClipPlane),
    F(CameraSetFogRange),
    F(CameraGetFogRange),
    F(SnGetTime_Sec),
    F(SnTimePerSec),
    F(SnSecToPreFrame),
    F(SnAddLogObjs),
    F(SnGetLogObjs),
    F(SnGetLeadingLogObj),
    F(SnDelLogObj),
    F(SnDelClump),
    F(SnUseCamera_ID),
    F(SnUseCamera),
    F(SnGetCrntCamera),
    F(SnGetCameraToWorldMat),
    F(SnGetViewProjMat),
    F(SnInViewFrustum),
    F(SnSearchClump_ID),
    F(SnSearchLogObj_ID),
    F(SnSearchLogObjClump_ID),
    F(SnSearchClump),
    F(SnSearchLogObj),
    F(SnSearchLogObjClump),
    F(SnSetBkgdColor),
    F(SnGetBkgdColor),
    F(SnEnableFog),
    F(SnSetFogColor),
    F(SnGetFogColor),
    F(SnFilmCoordToWorldVec),
    F(GetLeadingLogObjClumps),
    F(NeedTick2Pass),
    F(NeedTickHrchy),
    F(TRACE),
    F(ItscFilmCoordScene),
    F(ApplyAnimation),
    F(EmitObject),
    F(EmitObject_Mat),
    F(SetLinkAndUnlinkTime),
    F(FindDatabase),
};
#undef F

}  // namespace

const FnEntry* ObjectFunctions(int& count) {
  count = int(sizeof(kObjectFunctions) / sizeof(kObjectFunctions[0]));
  return kObjectFunctions;
}

void RegisterConstants(lua_State* L) {
  static const struct {
    const char* name;
    lua_Integer value;
  } kInts[] = {
      {"ACF_VERTS", ACF_VERTS},
      {"ACF_VERT_COLORS", ACF_VERT_COLORS},
      {"ACF_BOUNDARY", ACF_BOUNDARY},
      {"ACF_NORMALS", ACF_NORMALS},
      {"ACF_MATERIALS", ACF_MATERIALS},
      {"ACF_TEX", ACF_TEX},
      {"ACF_GEN_MESH", ACF_GEN_MESH},
      {"ACF_POS", ACF_POS},
      {"ACF_ROT", ACF_ROT},
      {"ACF_SCALE", ACF_SCALE},
      {"ACF_WORLD_MAT", ACF_WORLD_MAT},
      {"ACF_VP_MAT", ACF_VP_MAT},
      {"ACF_CLUMP_LINK", ACF_CLUMP_LINK},
      {"ACF_LOG_OBJ_LINK", ACF_LOG_OBJ_LINK},
      {"T2PA_AFTER_ANIM", T2PA_AFTER_ANIM},
      {"T2PA_BEFORE_CULL", T2PA_BEFORE_CULL},
      {"T2PA_AFTER_CULL0", T2PA_AFTER_CULL0},
      {"T2PA_AFTER_CULL1", T2PA_AFTER_CULL1},
      {"T2PA_AFTER_CULL2", T2PA_AFTER_CULL2},
      {"T2PA_AFTER_CULL3", T2PA_AFTER_CULL3},
      {"T2PA_AFTER_CULL4", T2PA_AFTER_CULL4},
      {"ZERO_TIME", ZERO_TIME},
      {"UNIT_TIME", UNIT_TIME},
      {"MAX_TIME", MAX_TIME},
      {"INVALID_ID", INVALID_ID},
  };
  for (const auto& c : kInts) {
    lua_pushinteger(L, c.value);
    lua_setglobal(L, c.name);
  }
  lua_pushnumber(L, lua_Number(OvInvalidPos()));
  lua_setglobal(L, "INVALID_POS");
}

}  // namespace ovs
