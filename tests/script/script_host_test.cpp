// The host: tick modes of the script controller, instance numbers, the
// script folder's order, and scripts that try to hurt the engine.
#include <chrono>
#include <string>

#include "ov_script_internal.h"
#include "script_fixture.h"

namespace {

// Text compiled to a precompiled chunk in a state of its own.
std::string Precompiled(const char* text) {
  lua_State* L = luaL_newstate();
  std::string out;
  if (luaL_loadstring(L, text) == LUA_OK) {
    lua_dump(
        L,
        [](lua_State*, const void* p, size_t n, void* ud) {
          static_cast<std::string*>(ud)->append(static_cast<const char*>(p), n);
          return 0;
        },
        &out, 0);
  }
  lua_close(L);
  return out;
}

using ScriptHost = ScriptTest;

TEST_F(ScriptHost, TickModes) {
  struct Case {
    const char* what;
    const char* table;  // defines T; the counters are TICK, PASS, HR and the last pass in P
    uint32_t mask, value;
    int tick, pass, hr, lastPass;
  } cases[] = {
      {"OnTick wins over OnTick2Pass",
       "T = { OnTick = function() TICK = TICK + 1 end,"
       "      OnTick2Pass = function() PASS = PASS + 1 end }",
       0, 0, 2, 0, 0, 0},
      {"OnTick asks for a second pass",
       "T = { OnTick = function() TICK = TICK + 1 NeedTick2Pass(T2PA_BEFORE_CULL) end,"
       "      OnTick2Pass = function(self, t, p) PASS = PASS + 1 P = p end }",
       0, 0, 2, 2, 0, 3},
      {"OnTick asks for a hierarchy call",
       "T = { OnTick = function() TICK = TICK + 1 NeedTickHrchy() end,"
       "      OnTickHrchy = function() HR = HR + 1 end }",
       0, 0, 2, 0, 2, 0},
      {"only OnTick2Pass", "T = { OnTick2Pass = function(self, t, p) PASS = PASS + 1 P = p NeedTick2Pass(3) end }", 0,
       0, 0, 2, 0, 2},
      {"only OnTickHrchy", "T = { OnTickHrchy = function() HR = HR + 1 end }", 0, 0, 0, 0, 2, 0},
      {"OnTickHrchy behind an unmet flag", "T = { OnTickHrchy = function() HR = HR + 1 end }", 0x4, 0x4, 0, 0, 0, 0},
      {"OnTick behind a met flag", "T = { OnTick = function() TICK = TICK + 1 end }", 0x4, 0x0, 2, 0, 0, 0},
      {"a loop of requests is cut at 16 a call",
       "T = { OnTick = function() TICK = TICK + 1 for i = 1, 1000 do NeedTick2Pass(2) end end,"
       "      OnTick2Pass = function(self, t, p) PASS = PASS + 1 P = p end }",
       0, 0, 2, 32, 0, 2},
      {"OnCreate cannot ask for a pass",
       "T = { OnCreate = function() NeedTick2Pass(2) end, OnTick = function() TICK = TICK + 1 end,"
       "      OnTick2Pass = function() PASS = PASS + 1 end }",
       0, 0, 2, 0, 0, 0},
  };
  for (const Case& k : cases) {
    Start();
    ASSERT_TRUE(Run(std::string("TICK, PASS, HR, P = 0, 0, 0, 0 ") + k.table)) << k.what;
    OvScene local;
    local.SetRenderer(&renderer);
    AddCamera(local);
    OvClump* c = nullptr;
    AddObject(local, "obj", &c);
    auto* ctrl = static_cast<OvAniCtrl*>(Node("T", nullptr, k.mask, k.value)->GetController(c));
    ASSERT_NE(ctrl, nullptr) << k.what;
    ASSERT_TRUE(c->AddAniCtrl(ctrl));
    StepFrame(local);
    StepFrame(local);
    EXPECT_EQ(Num("TICK"), k.tick) << k.what;
    EXPECT_EQ(Num("PASS"), k.pass) << k.what;
    EXPECT_EQ(Num("HR"), k.hr) << k.what;
    EXPECT_EQ(Num("P"), k.lastPass) << k.what;
    OvScriptShutdown();
  }
}

TEST_F(ScriptHost, FirstResultMarksTheClumpChanged) {
  const struct {
    const char* body;
    uint32_t expected;
  } cases[] = {
      {"", 0}, {"return ACF_POS", ACF_POS}, {"return 'x'", 0}, {"return ACF_ROT + ACF_SCALE", ACF_ROT | ACF_SCALE}};
  Start();
  for (const auto& k : cases) {
    ASSERT_TRUE(Run(std::string("T = { OnTick = function() ") + k.body + " end }"));
    OvClump* c = nullptr;
    ASSERT_NE(Attach(Node("T"), &c), nullptr);
    StepFrame(scene);
    EXPECT_EQ(c->GetChangeFlags() & ACF_PRS, k.expected) << k.body;
  }
}

TEST_F(ScriptHost, ControllerCreationAndInstanceNumbers) {
  Start();
  ASSERT_TRUE(
      Run("T = { AffectFlag = ACF_POS, OnCreate = function(self) self.SecStart = 2 end,"
          "      OnTick = function(self) self.seen = self.SecEnd or -1 end }"));
  EXPECT_EQ(Attach(Node("T", "} and 5 or {")), nullptr);  // the init text is no table
  EXPECT_EQ(Attach(Node(nullptr)), nullptr);
  OvAniCtrl* none = Attach(Node("Undefined"));
  ASSERT_NE(none, nullptr);  // a controller that never calls Lua
  EXPECT_EQ(OvGetInstanceNumber(none, "x"), 0.0f);

  OvClump* c = nullptr;
  OvAniCtrl* ctrl = Attach(Node("T", "SecEnd = 9"), &c);
  ASSERT_NE(ctrl, nullptr);
  EXPECT_EQ(ctrl->GetChannelMask(), ACF_POS);
  EXPECT_EQ(OvFindScriptCtrl(c, "T"), ctrl);
  EXPECT_EQ(OvFindScriptCtrl(c, "U"), nullptr);
  EXPECT_EQ(OvGetInstanceNumber(ctrl, "SecStart"), 2.0f);
  EXPECT_TRUE(OvSetInstanceNumber(ctrl, "SecEnd", 4.5f));
  StepFrame(scene);
  EXPECT_EQ(OvGetInstanceNumber(ctrl, "seen"), 4.5f);
}

TEST_F(ScriptHost, ScriptFolderRunsTextFilesBeforePrecompiledOnes) {
  WriteScript("a.out", Precompiled("ORDER = (ORDER or '') .. 'a'"));
  WriteScript("z.lua", "ORDER = (ORDER or '') .. 'z'");
  WriteScript("y.LUA", "ORDER = (ORDER or '') .. 'y'");
  WriteScript("sub/m.lua", "ORDER = (ORDER or '') .. 'm'");
  WriteScript(".hidden/h.lua", "ORDER = (ORDER or '') .. 'h'");
  Start();
  EXPECT_EQ(Str("ORDER"), "yzma");
}

TEST_F(ScriptHost, HostileContentChunksFailAlone) {
  Start();
  const std::string bytecode = Precompiled("BYTECODE_RAN = 1");
  const struct {
    std::string chunk;
    const char* trace;
  } cases[] = {
      {"while true do end", "lua error: instruction budget exceeded\n"},
      {"while true do pcall(function() while true do end end) end", ""},  // traced once already
      {"local s = string.rep('x', 1 << 30)", "lua error: not enough memory\n"},
      {"local t = {} for i = 1, 1e9 do t[i] = i end", ""},  // budget or memory: traced already
      {"local function f() return 1 + f() end f()", "stack overflow"},
      {bytecode, "lua error: precompiled script chunk in content refused\n"},
      {"error('boom')", "lua error: content:1: boom\n"},
  };
  for (const auto& k : cases) {
    TraceCapture trace;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(OvScriptRunContentChunk(k.chunk.data(), k.chunk.size())) << k.chunk;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5)) << k.chunk;
    EXPECT_TRUE(trace.Contains(k.trace)) << k.chunk << " traced " << trace.Text();
    EXPECT_TRUE(Run("AFTER = 1")) << k.chunk;
  }
  EXPECT_EQ(Num("BYTECODE_RAN"), 0.0);
  ASSERT_TRUE(Run("collectgarbage()"));
  EXPECT_LT(OvScriptMemoryInUse(), size_t(16) << 20);
  // The same message again is not traced again.
  TraceCapture trace;
  EXPECT_FALSE(Run("error('boom')"));
  EXPECT_FALSE(OvScriptRunContentChunk("error('boom')", 13));
  EXPECT_EQ(Count(trace.Text(), "boom"), 1u);
}

TEST_F(ScriptHost, RunawayOnTickCostsOneFrameThenStops) {
  Start();
  ASSERT_TRUE(Run("TICKS = 0 T = { OnTick = function() TICKS = TICKS + 1 while true do end end }"));
  TraceCapture trace;
  OvAniCtrl* ctrl = Attach(Node("T"));
  ASSERT_NE(ctrl, nullptr);
  for (int i = 0; i < 3; ++i) StepFrame(scene);
  EXPECT_EQ(Num("TICKS"), 1.0);
  EXPECT_TRUE(OvScriptCtrlStopped(ctrl));
  EXPECT_EQ(Count(trace.Text(), "instruction budget exceeded"), 1u);
  EXPECT_EQ(Count(trace.Text(), "'T' ran past its instruction budget"), 1u);
}

// A script keeps a clump, its object and its live matrix after the object
// is deleted: later uses fail as missing arguments, every frame completes
// and the engine's memory balances.
TEST_F(ScriptHost, KeptHandlesGoStaleWhenTheirObjectsGo) {
  Start();
  const OvMemoryCounters before = OvMemoryGetCounters();
  {
    OvScene local;
    local.SetRenderer(&renderer);
    AddCamera(local);
    ASSERT_TRUE(Run(R"(
      USES, FAILS = 0, 0
      T = { OnTick = function(self)
        if not KEPT then
          KEPT = SnSearchClump(CpGetScene(self._Clump), 'victim')
          KEPT_LO, KEPT_M = CpGetOwner(KEPT), CpNeedToWorldMat(KEPT)
        end
        for _, f in ipairs({ function() return CpGetPos(KEPT) end, function() return LoGetID(KEPT_LO) end,
                             function() MatGetPos(KEPT_M, Vec0()) end }) do
          USES = USES + 1
          if not pcall(f) then FAILS = FAILS + 1 end
        end
      end })"));
    OvClump* watcher = nullptr;
    AddObject(local, "watcher", &watcher);
    OvClump* victim = nullptr;
    OvLogObj* victimObject = AddObject(local, "victim", &victim);
    auto* ctrl = static_cast<OvAniCtrl*>(Node("T")->GetController(watcher));
    ASSERT_NE(ctrl, nullptr);
    ASSERT_TRUE(watcher->AddAniCtrl(ctrl));
    StepFrame(local);
    EXPECT_EQ(Num("FAILS"), 0.0);
    local.DelLogObj(victimObject);
    for (int i = 0; i < 3; ++i) StepFrame(local);
    EXPECT_EQ(Num("USES"), 12.0);
    EXPECT_EQ(Num("FAILS"), 9.0);
  }
  ASSERT_TRUE(Run("KEPT, KEPT_LO, KEPT_M = nil collectgarbage()"));
  const OvMemoryCounters after = OvMemoryGetCounters();
  EXPECT_EQ(after.allocCount - after.freeCount, before.allocCount - before.freeCount);
}

// NeedTick2Pass and NeedTickHrchy act only inside the OnTick that is running:
// afterwards the clump it ran for may be gone.
TEST_F(ScriptHost, RequestsOutsideOnTickDoNothing) {
  Start();
  ASSERT_TRUE(
      Run("PASS, HR = 0, 0 T = { OnTick = function() end, OnTick2Pass = function() PASS = PASS + 1 end,"
          "                      OnTickHrchy = function() HR = HR + 1 end }"));
  OvClump* c = nullptr;
  ASSERT_NE(Attach(Node("T"), &c), nullptr);
  StepFrame(scene);
  scene.DelLogObj(c->GetLogObj());
  ASSERT_TRUE(Run("NeedTick2Pass(T2PA_BEFORE_CULL) NeedTickHrchy()"));
  StepFrame(scene);
  EXPECT_EQ(Num("PASS"), 0.0);
  EXPECT_EQ(Num("HR"), 0.0);
}

// The controller removes itself from inside its own call.
TEST_F(ScriptHost, ControllerMayRemoveItselfWhileRunning) {
  Start();
  ASSERT_TRUE(Run(
      "RUNS = 0 T = { OnTickHrchy = function(self) RUNS = RUNS + 1 CpDelAniCtrl(self._Clump, self._AniCtrl) end }"));
  OvClump* c = nullptr;
  ASSERT_NE(Attach(Node("T"), &c), nullptr);
  for (int i = 0; i < 3; ++i) StepFrame(scene);
  EXPECT_EQ(Num("RUNS"), 1.0);
  EXPECT_EQ(c->GetAniCtrlCount(), 0);
}

}  // namespace
