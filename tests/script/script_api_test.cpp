// The script API's surface: the registered names, every function under bad
// arguments, operators and degree conventions, key names, stale handles.
#include <cstring>
#include <vector>

#include "ov_input.h"
#include "ov_script_internal.h"
#include "script_fixture.h"

namespace {

const char* const kObjectNames[] = {
    "CpSetID",
    "CpGetID",
    "CpGetName",
    "CpGetCamera",
    "CpGetOwner",
    "CpGetScene",
    "CpGetScale",
    "CpGetQuat",
    "CpGetPos",
    "CpGetWorldPos",
    "CpGetVelocity",
    "CpGetNextBrother",
    "CpGetChild",
    "CpGetParent",
    "CpIsDescendFrom",
    "CpDelAniCtrl",
    "CpFindAniCtrl",
    "CpSetPos",
    "CpSetScale",
    "CpSetQuat",
    "CpSetUniScale",
    "CpGetAnimFlag",
    "CpGetToWorldMat",
    "CpNeedToWorldMat",
    "CpSetToWorldMat",
    "CpGetVPMat",
    "CpSetVPMat",
    "CpAdjustVPMat",
    "CpCalcXformParentMat",
    "CpGetBoundingSphere",
    "CpIsCulled",
    "CpSetSwitch",
    "CpCheckSwitch",
    "CpSetVisible",
    "CpSetInvisible",
    "CpSetReactionVar",
    "CpGetReactionVar",
    "SearchLogObj_ID",
    "SearchClump_ID",
    "SearchLogObj",
    "SearchClump",
    "LoGetCrntFrame",
    "LoGetCrntFrame_Sec",
    "LoGotoFrame",
    "LoGotoFrame_Sec",
    "LoGetClumps",
    "LoGetNextBrother",
    "LoGetChild",
    "LoGetParent",
    "LoGetParentClump",
    "LoChangeParentClump",
    "LoGraftClump",
    "LoAlignOrientation",
    "LoAlignMat",
    "LoSearchClump_ID",
    "LoSearchClump",
    "LoSetID",
    "LoGetID",
    "LoSetName",
    "LoGetName",
    "LoGetScene",
    "LoFreezeTime",
    "LoUnfreezeTime",
    "LoIsTimeFreeze",
    "GetLo_iDPower",
    "SetLo_iDPower",
    "GetLo_iHealth",
    "SetLo_iHealth",
    "GetLo_iFullHealth",
    "SetLo_iFullHealth",
    "GetLo_iParentHurtRate",
    "SetLo_iParentHurtRate",
    "CameraGetFov",
    "CameraSetFov",
    "CameraSetClipPlane",
    "CameraGetClipPlane",
    "CameraSetFogRange",
    "CameraGetFogRange",
    "SnGetTime_Sec",
    "SnTimePerSec",
    "SnSecToPreFrame",
    "SnAddLogObjs",
    "SnGetLogObjs",
    "SnGetLeadingLogObj",
    "SnDelLogObj",
    "SnDelClump",
    "SnUseCamera_ID",
    "SnUseCamera",
    "SnGetCrntCamera",
    "SnGetCameraToWorldMat",
    "SnGetViewProjMat",
    "SnInViewFrustum",
    "SnSearchClump_ID",
    "SnSearchLogObj_ID",
    "SnSearchLogObjClump_ID",
    "SnSearchClump",
    "SnSearchLogObj",
    "SnSearchLogObjClump",
    "SnSetBkgdColor",
    "SnGetBkgdColor",
    "SnEnableFog",
    "SnSetFogColor",
    "SnGetFogColor",
    "SnFilmCoordToWorldVec",
    "GetLeadingLogObjClumps",
    "NeedTick2Pass",
    "NeedTickHrchy",
    "TRACE",
    "ItscFilmCoordScene",
    "ApplyAnimation",
    "EmitObject",
    "EmitObject_Mat",
    "SetLinkAndUnlinkTime",
    "FindDatabase",
};

const char* const kMathNames[] = {
    "Vec",
    "Vec0",
    "VecX",
    "VecY",
    "VecZ",
    "QuatI",
    "MatI",
    "CloneVec",
    "CloneQuat",
    "CloneMat",
    "GetVec_x",
    "GetVec_y",
    "GetVec_z",
    "SetVec_x",
    "SetVec_y",
    "SetVec_z",
    "GetOvQuat_s",
    "SetOvQuat_s",
    "GetOvQuat_v",
    "SetOvQuat_v",
    "MatGetRow",
    "MatSetRow",
    "MatGetPos",
    "MatSetPos",
    "MatSet3Row",
    "MatGetCol",
    "MatSetCol",
    "MatSet3Col",
    "MatCopy",
    "MatIdentity",
    "MatZero",
    "MatSetRotX",
    "MatSetRotY",
    "MatSetRotZ",
    "OrientationMat",
    "MatMul4x3",
    "MatInversePRS",
    "MatLookAt",
    "MatLookAt_Roll",
    "MatOrthogonalize",
    "MatPreRotZ",
    "MatPreScale",
    "PRSToMat",
    "MatExtractScale",
    "MatGetScale",
    "MatGetUniScale",
    "MatPosSub",
    "XformPoint",
    "InvXformPoint",
    "Length",
    "SquareLength",
    "Distance",
    "SquareDistance",
    "Normalize",
    "VecSet",
    "VecAdd",
    "VecSub",
    "VecScale",
    "VecMin",
    "VecMax",
    "VecMinMax",
    "VecAdjLength",
    "VecAddRay",
    "VecCrossProd",
    "VecNormCrossProd",
    "VecDotProd",
    "VecProjLength",
    "PlaneNormal",
    "VecLerp",
    "CrossAngle",
    "QuatIdentity",
    "QuatToMat",
    "QuatCombine",
    "QuatSlerp",
    "MakeQuat",
    "MakeRotMat",
};

const char* const kInputNames[] = {"IsKeyDown",           "IsKeyClickDown",    "IsKeyClickUp", "IsMouseKeyDown",
                                   "IsMouseKeyClickDown", "IsMouseKeyClickUp", "GetMousePos",  "GetMouseMove"};

using ScriptApi = ScriptTest;

TEST_F(ScriptApi, RegisteredNamesAreTheListsInOrder) {
  Start();
  struct List {
    const ovs::FnEntry* (*table)(int&);
    const char* const* names;
    int expected;
  };
  const List lists[] = {{ovs::ObjectFunctions, kObjectNames, 114},
                        {ovs::MathFunctions, kMathNames, 76},
                        {ovs::InputFunctions, kInputNames, 8}};
  lua_State* L = OvScriptState();
  for (const List& list : lists) {
    int count = 0;
    const ovs::FnEntry* table = list.table(count);
    ASSERT_EQ(count, list.expected);
    for (int i = 0; i < count; ++i) {
      EXPECT_STREQ(table[i].name, list.names[i]);
      lua_getglobal(L, list.names[i]);
      EXPECT_TRUE(lua_iscfunction(L, -1)) << list.names[i];
      lua_pop(L, 1);
    }
  }
}

// Every function with missing, wrongly tagged, wrongly typed and real but
// mismatched arguments either works or raises one of the API's errors.
TEST_F(ScriptApi, EveryFunctionSurvivesBadArguments) {
  TraceCapture quiet;  // TRACE is among the functions
  Start();
  OvClump* c = nullptr;
  AddObject(scene, "thing", &c);
  OvClump* cam = AddCamera(scene);
  (void)cam;
  OvDatabase* db = OvDatabase::Create();
  ASSERT_TRUE(db->SetName("db"));
  lua_State* L = OvScriptState();
  ovs::PushClump(L, c);
  lua_setglobal(L, "C");
  ovs::PushScene(L, &scene);
  lua_setglobal(L, "S");
  ovs::PushCamera(L, cam);
  lua_setglobal(L, "CAM");
  std::string names = "NAMES = {";
  for (const char* n : kObjectNames) names += std::string("'") + n + "',";
  for (const char* n : kMathNames) names += std::string("'") + n + "',";
  for (const char* n : kInputNames) names += std::string("'") + n + "',";
  names += "'PerfSec'}";
  ASSERT_TRUE(Run(names));
  ASSERT_TRUE(Run(R"(
    local function rep(v) local t = {} for i = 1, 10 do t[i] = v end return t end
    local sets = { {}, rep(Vec(1, 2, 3)), rep(QuatI()), rep(MatI()), rep('x'), rep({}), rep(true),
                   rep(print), rep(0/0), rep(1e300), rep(-1), rep(C), rep(CpGetOwner(C)), rep(S), rep(CAM),
                   rep(FindDatabase('db')), { C, 1, FindDatabase('db'), 'thing', 0, 1, 0, 0, 0, 1 },
                   { S, MatI(), FindDatabase('db'), 'none', -1, 1 }, { 1, 2, S, 'a', 'b', 3, Vec0() } }
    local allowed = { '^Invalid parameter when calling Orvo function, ', '^NULL structure$' }
    BAD, CALLS = '', 0
    for _, name in ipairs(NAMES) do
      for _, args in ipairs(sets) do
        local ok, err = pcall(_G[name], table.unpack(args, 1, 10))
        CALLS = CALLS + 1
        if not ok then
          local fine = false
          for _, p in ipairs(allowed) do fine = fine or string.find(tostring(err), p) ~= nil end
          if not fine then BAD = BAD .. name .. ': ' .. tostring(err) .. '\n' end
        end
      end
    end
  )"));
  EXPECT_EQ(Str("BAD"), "");
  EXPECT_EQ(Num("CALLS"), 199.0 * 19);
  db->Destroy();
}

// Errors name the function's report name; numbers and defaults as the API
// fixes them.
TEST_F(ScriptApi, ResultsAndErrorsOfSingleCalls) {
  Start();
  OvClump* root = nullptr;
  AddObject(scene, "root", &root);
  OvClump* child = OvClump::Create();
  child->SetName("child");
  root->AttachChild(child);
  lua_State* L = OvScriptState();
  ovs::PushClump(L, root);
  lua_setglobal(L, "ROOT");
  ovs::PushClump(L, child);
  lua_setglobal(L, "CHILD");
  ovs::PushScene(L, &scene);
  lua_setglobal(L, "S");
  struct Case {
    const char* expr;
    const char* expected;  // tostring of the first result, or the error text
  } cases[] = {
      {"CpIsDescendFrom(ROOT, ROOT)", "0"},
      {"CpIsDescendFrom(CHILD, ROOT)", "1"},
      {"(function() CpSetReactionVar(ROOT, 4, 1) CpSetReactionVar(ROOT, -1, 1) return CpGetReactionVar(ROOT, 0) end)()",
       "-3.4028234663853e+38"},
      {"CpGetReactionVar(ROOT, 7)", "0.0"},
      {"(function() CpSetSwitch(ROOT, 0x10000, 1) return CpCheckSwitch(ROOT, 0xFFFF, 0) end)()", "1"},
      {"(function() CpSetSwitch(ROOT, 5, 0xFF) return CpCheckSwitch(ROOT, 0xF, 5) end)()", "1"},
      {"(function() SnSetBkgdColor(S, 300, 0, 0) return SnGetBkgdColor(S) end)()", "44"},
      {"SearchClump(ROOT)", "nil"},
      {"SearchClump(nil, 'root')", "Invalid parameter when calling Orvo function, SearchClump()"},
      {"CpGetName(SearchClump(ROOT, 'child'))", "child"},
      {"CpSetPos(ROOT)", "Invalid parameter when calling Orvo function, SetPos()"},
      {"(function() CpSetUniScale(ROOT) return GetVec_x(CpGetScale(ROOT)) end)()", "0.0"},
      {"GetLo_iHealth(ROOT)", "NULL structure"},
      {"MatGetRow(MatI(), 4, Vec0())", "Invalid parameter when calling Orvo function, OvMatrixGetRow()"},
      {"MatGetCol(MatI(), 3, Vec0())", "Invalid parameter when calling Orvo function, OvMatrixGetCol()"},
      {"SetOvQuat_v(QuatI(), MatI())", "NULL structure"},
      {"CloneVec(QuatI())", "Invalid parameter when calling Orvo function, CloneVec()"},
      {"ROOT == SearchClump(ROOT, 'root')", "true"},
      {"ROOT == CHILD", "false"},
  };
  for (const Case& k : cases) {
    const std::string chunk = std::string("local ok, r = pcall(function() return ") + k.expr + " end) R = tostring(r)";
    ASSERT_TRUE(Run(chunk)) << k.expr;
    EXPECT_EQ(Str("R"), k.expected) << k.expr;
  }
}

TEST_F(ScriptApi, OperatorsAndDegrees) {
  Start();
  struct Case {
    const char* expr;  // a Lua expression yielding a Vector or a number
    double x, y, z;    // a number compares with x
  } cases[] = {
      {"Vec(1, 2)", 1, 2, 0},
      {"Vec()", 0, 0, 0},
      {"2 * Vec(1, 2, 3)", 2, 4, 6},
      {"Vec(1, 2, 3) * 2", 2, 4, 6},
      {"Vec(1, 0, 0) * Vec(0, 1, 0)", 0, 0, 0},
      {"Vec(1, 0, 0) ^ Vec(0, 1, 0)", 0, 0, 1},
      {"Vec(1, 2, 3) + Vec(1, 1, 1)", 2, 3, 4},
      {"Vec(1, 2, 3) - Vec(1, 1, 1)", 0, 1, 2},
      {"-Vec(1, 2, 3)", -1, -2, -3},
      {"Vec(2, 4, 6) / 2", 1, 2, 3},
      {"MatI() * Vec(1, 2, 3)", 1, 2, 3},
      {"(function() local m = MatI() MatSetPos(m, Vec(5, 0, 0)) return m * Vec(1, 2, 3) end)()", 1, 2, 3},
      {"(function() local m = MatI() MatSetPos(m, Vec(5, 0, 0)) return Vec(1, 2, 3) * m end)()", 6, 2, 3},
      {"(function() local m = MatI() MatSetRotZ(m, 90) return Vec(1, 0, 0) * m end)()", 0, 1, 0},
      {"(function() local q = QuatI() MakeQuat(q, Vec(0, 0, 1), 90) local m = MatI() QuatToMat(m, q)"
       " return Vec(1, 0, 0) * m end)()",
       0, 1, 0},
      {"CrossAngle(Vec(1, 0, 0), Vec(0, 1, 0))", 90, 0, 0},
      {"sin(30)", 0.5, 0, 0},
      {"atan2(1, 1)", 45, 0, 0},
      {"(function() local q = QuatI() local v = GetOvQuat_v(q) SetVec_x(v, 0.5) return GetVec_x(GetOvQuat_v(q)) end)()",
       0.5, 0, 0},
      // The alias keeps its quaternion: nothing else refers to it here.
      {"(function() local v = GetOvQuat_v(QuatI()) collectgarbage() collectgarbage() SetVec_y(v, 2) return v end)()", 0,
       2, 0},
  };
  for (const auto& k : cases) {
    ASSERT_TRUE(Run(std::string("R = ") + k.expr)) << k.expr;
    lua_State* L = OvScriptState();
    lua_getglobal(L, "R");
    if (lua_isnumber(L, -1)) {
      EXPECT_NEAR(lua_tonumber(L, -1), k.x, 1e-4) << k.expr;
    } else {
      OvVector* v = ovs::ArgVector(L, -1);
      ASSERT_NE(v, nullptr) << k.expr;
      EXPECT_TRUE(Near(*v, {float(k.x), float(k.y), float(k.z)}, 1e-4f)) << k.expr;
    }
    lua_pop(L, 1);
  }
  const char* errors[][2] = {{"Vec(1, 2, 3) / 0", "Vector: divide 0 or wrong type."},
                             {"Vec(1, 2, 3) / 'x'", "Vector: divide 0 or wrong type."},
                             {"Vec(1, 2, 3) + 1", "Vector '+'"},
                             {"Vec(1, 2, 3) * 'x'", "Vector '*'"},
                             {"QuatI() ^ Vec()", "Quat '^'"},
                             {"MatI() * 2", "Matrix '*'"}};
  for (const auto& e : errors) {
    ASSERT_TRUE(Run(std::string("local ok, r = pcall(function() return ") + e[0] + " end) R = r")) << e[0];
    EXPECT_EQ(Str("R"), e[1]) << e[0];
  }
}

// The codes each name reaches the input device with (or none).
TEST_F(ScriptApi, KeyAndButtonNames) {
  struct Recorder : OvInputDevice {
    std::vector<int> asked;
    void Reset() override {}
    void Update() override {}
    bool IsClickDown(int i) override { return asked.push_back(i), false; }
    bool IsClickUp(int i) override { return asked.push_back(i), false; }
    bool IsDown(int i) override { return asked.push_back(i), true; }
    void GetPos(int& x, int& y) override { x = 7, y = 8; }
    void GetMove(int& x, int& y) override { x = -1, y = 2; }
  } device;
  OvSetInputDevice(&device);
  Start();
  const struct {
    const char* call;
    int code;  // -1: no query
  } cases[] = {
      {"IsKeyDown('shift')", 0x10},    {"IsKeyDown('SHIFT')", 0x10},
      {"IsKeyDown('F1')", 0x70},       {"IsKeyDown('f12')", 0x7B},
      {"IsKeyDown('F13')", -1},        {"IsKeyDown('SHIFTLOCK')", -1},
      {"IsKeyDown('N5')", 0x65},       {"IsKeyDown('a')", 'A'},
      {"IsKeyDown('7')", '7'},         {"IsKeyDown('+')", 0x6B},
      {"IsKeyDown('?')", -1},          {"IsKeyDown()", 0},
      {"IsKeyDown('pagedown')", 0x22}, {"IsMouseKeyDown('middle')", 257},
      {"IsMouseKeyDown('Left')", 256}, {"IsMouseKeyClickUp('r')", 258},
      {"IsMouseKeyDown('x')", -1},
  };
  for (const auto& k : cases) {
    device.asked.clear();
    ASSERT_TRUE(Run(std::string("R = ") + k.call));
    if (k.code < 0) {
      EXPECT_TRUE(device.asked.empty()) << k.call;
      EXPECT_EQ(Num("R"), 0.0) << k.call;
    } else {
      ASSERT_EQ(device.asked.size(), 1u) << k.call;
      EXPECT_EQ(device.asked[0], k.code) << k.call;
    }
  }
  ASSERT_TRUE(Run("X, Y = GetMouseMove(3, 4)"));
  EXPECT_EQ(Num("X"), -1.0);
  OvSetInputDevice(nullptr);
  ASSERT_TRUE(Run("X, Y = GetMousePos(3, 4) K = IsKeyDown('A')"));
  EXPECT_EQ(Num("X"), 3.0);
  EXPECT_EQ(Num("K"), 0.0);
}

}  // namespace
