// The frame step: order of work, pass lists, hooks, deferred deletion, and
// the time advance with its forced steps, waiting and clamp.
#include <gtest/gtest.h>

#include <algorithm>

#include "ov_assert.h"
#include "ov_input.h"
#include "scene_fixture.h"

namespace {

class FakeInput : public OvInputDevice {
 public:
  explicit FakeInput(CallLog* log) : m_log(log) {}
  void Reset() override {}
  void Update() override { m_log->push_back("Input"); }
  bool IsClickDown(int) override { return false; }
  bool IsClickUp(int) override { return false; }
  bool IsDown(int) override { return false; }
  void GetPos(int& x, int& y) override { x = y = 0; }
  void GetMove(int& dx, int& dy) override { dx = dy = 0; }

 private:
  CallLog* m_log;
};

class RecordingSound : public OvSceneSoundSink {
 public:
  explicit RecordingSound(CallLog* log) : m_log(log) {}
  void SetListenerPosition(const OvVector&) override { m_log->push_back("ListenerPosition"); }
  void SetListenerOrientation(const OvVector&) override { m_log->push_back("ListenerOrientation"); }
  void Update() override { m_log->push_back("SoundUpdate"); }
  void Stop() override { stopped = true; }
  bool stopped = false;

 private:
  CallLog* m_log;
};

// A controller that logs its calls and asks for every pass point.
ScriptedCtrl* PassLogger(CallLog* log) {
  ScriptedCtrl* c = ScriptedCtrl::Make();
  c->onAnimate = [log](ScriptedCtrl& self, OvClump* clump, int32_t t) {
    log->push_back("Animate");
    for (int p = T2PA_AFTER_ANIM; p <= T2PA_AFTER_RENDER; ++p) OvAniCtrlRegisterPass(clump, &self, t, p);
    OvAniCtrlRegisterHrchy(clump, &self, t);
  };
  c->onPass = [log](ScriptedCtrl&, OvClump*, int32_t, int point) { log->push_back("Pass" + std::to_string(point)); };
  c->onHrchy = [log](ScriptedCtrl&, OvClump*, int32_t) { log->push_back("Hierarchy"); };
  return c;
}

TEST(SceneFrame, StepRunsEveryStageInOrder) {
  CallLog log;
  RecordingRenderer renderer(&log);
  FakeInput input(&log);
  RecordingSound sound(&log);
  OvSetInputDevice(&input);
  {
    // Hooks outlive the scene, which releases them.
    LoggingHook h1(&log, "Hook1"), h2(&log, "Hook2"), h3(&log, "Hook3"), h4(&log, "Hook4");
    OvScene scene;
    scene.SetRenderer(&renderer);
    scene.SetSoundSink(&sound);
    ASSERT_TRUE(scene.RegisterHook(&h1, 1));
    ASSERT_TRUE(scene.RegisterHook(&h2, 2));
    ASSERT_TRUE(scene.RegisterHook(&h3, 3));
    ASSERT_TRUE(scene.RegisterHook(&h4, 4));
    AddCamera(scene);
    OvClump* c = nullptr;
    AddObject(scene, "box", &c);
    ASSERT_TRUE(c->AddAniCtrl(PassLogger(&log)));

    scene.FrameStep();
    const CallLog expected = {"Hook1",
                              "SetBackgroundColour",
                              "ClearBackBuffer",
                              "BeginScene",
                              "SetAmbient",
                              "Input",
                              "Hook2",
                              "Animate",
                              "SetViewMatrix",
                              "SetProjectionMatrix",
                              "Pass2",
                              "Hook3",
                              "SetViewMatrix",
                              "SetProjectionMatrix",
                              "SetDefaultStates(1)",
                              "EnableFog(0)",
                              "EnableZWrite(1)",
                              "SetBackgroundColour",
                              "SetTexture(0,none)",
                              "Pass3",
                              "Pass4",
                              "Pass5",
                              "Pass6",
                              "Pass7",
                              "Pass8",
                              "RenderList",
                              "Pass9",
                              "Hierarchy",
                              "ListenerPosition",
                              "SoundUpdate",
                              "EndScene",
                              "Hook4",
                              "ShowBackBuffer"};
    EXPECT_EQ(log, expected);

    // Registrations last one frame: with fog on the next frame also sets the
    // fog colour and range, and the controller registers afresh.
    log.clear();
    scene.EnableFog(true);
    scene.SetClearBeforeFrame(false);
    scene.SetPresentAfterFrame(false);
    scene.FrameStep();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Pass2"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "ClearBackBuffer"), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), "ShowBackBuffer"), 0);
    auto fog = std::find(log.begin(), log.end(), "EnableFog(1)");
    ASSERT_NE(fog, log.end());
    EXPECT_EQ(*(fog + 1), "SetFogColour");
    EXPECT_EQ(*(fog + 2), "SetFogRange");
  }
  EXPECT_TRUE(sound.stopped);
  OvSetInputDevice(nullptr);
}

TEST(SceneFrame, WithoutCameraNothingTicksOrDraws) {
  CallLog log;
  RecordingRenderer renderer(&log);
  LoggingHook h1(&log, "Hook1"), h4(&log, "Hook4");
  OvScene scene;
  scene.SetRenderer(&renderer);
  scene.RegisterHook(&h1, 1);
  scene.RegisterHook(&h4, 4);
  OvLogObj* o = AddObject(scene, "idle");
  for (int i = 0; i < 3; ++i) StepFrame(scene, 10);
  EXPECT_EQ(log, (CallLog{"Hook1", "Hook1", "Hook1"}));
  EXPECT_TRUE(scene.NoCamera());
  EXPECT_EQ(scene.GetTime(), 30);
  EXPECT_EQ(o->GetCrntFrame(), 0);

  // When a camera comes, the skipped frames are not caught up in one jump:
  // the first frame ages the objects by one frame's step only.
  AddCamera(scene);
  StepFrame(scene, 1);
  EXPECT_EQ(o->GetCrntFrame(), 10);
  StepFrame(scene, 1);
  EXPECT_EQ(o->GetCrntFrame(), 11);
}

// A hook kind outside 1-4 is a programmer error: it stops Debug and sanitizer
// builds, and is refused elsewhere.
TEST(SceneFrameDeathTest, UnknownHookKindIsAProgrammerError) {
  for (int kind : {0, 5}) {
    OvScene scene;
    LoggingHook hook(nullptr, "Hook");
#if defined(OV_ASSERT_ON)
    EXPECT_DEATH(scene.RegisterHook(&hook, kind), "OV_ASSERT") << kind;
#else
    EXPECT_FALSE(scene.RegisterHook(&hook, kind)) << kind;
#endif
  }
}

TEST(SceneFrame, HooksAreDroppedOnRequestAndNullRefused) {
  CallLog log;
  LoggingHook once(&log, "Once", 1), kept(&log, "Kept");
  OvScene scene;
  EXPECT_FALSE(scene.RegisterHook(nullptr, 1));
  ASSERT_TRUE(scene.RegisterHook(&once, 1));
  ASSERT_TRUE(scene.RegisterHook(&kept, 1));
  scene.FrameStep();
  scene.FrameStep();
  EXPECT_EQ(log, (CallLog{"Once", "Kept", "Kept"}));
  EXPECT_TRUE(once.released);
  EXPECT_FALSE(kept.released);
}

TEST(SceneFrame, PassRegisteredDuringPassRunsInSameWalk) {
  CallLog log;
  OvScene scene;
  AddCamera(scene);
  OvClump* c = nullptr;
  AddObject(scene, "a", &c);
  ScriptedCtrl* second = ScriptedCtrl::Make();
  second->onPass = [&](ScriptedCtrl&, OvClump*, int32_t value, int point) {
    log.push_back("second@" + std::to_string(point) + "=" + std::to_string(value));
  };
  ScriptedCtrl* first = ScriptedCtrl::Make();
  first->onAnimate = [](ScriptedCtrl& self, OvClump* clump, int32_t t) {
    OvAniCtrlRegisterPass(clump, &self, t, T2PA_AFTER_ANIM);
  };
  first->onPass = [&](ScriptedCtrl&, OvClump* clump, int32_t, int point) {
    log.push_back("first@" + std::to_string(point));
    EXPECT_TRUE(OvAniCtrlRegisterPass(clump, second, 7, T2PA_AFTER_ANIM));
  };
  ASSERT_TRUE(c->AddAniCtrl(first));
  ASSERT_TRUE(c->AddAniCtrl(second));
  EXPECT_FALSE(scene.RegisterPass(first, c, 0, 1));
  EXPECT_FALSE(scene.RegisterPass(first, c, 0, 10));
  scene.FrameStep();
  EXPECT_EQ(log, (CallLog{"first@2", "second@2=7"}));
}

TEST(SceneFrame, DeletionInsideControllerWaitsForFrameEnd) {
  CallLog log;
  RecordingRenderer renderer(&log);
  OvScene scene;
  scene.SetRenderer(&renderer);
  OvDatabase* db = OvDatabase::Create();
  AddCamera(scene);
  OvClump* victimClump = nullptr;
  OvLogObj* victim = AddObject(scene, "victim", &victimClump, {0, 0, -50});
  victimClump->SetMesh(MakeQuadMesh(*db, 1.0f));
  OvClump* killerClump = nullptr;
  AddObject(scene, "killer", &killerClump);

  bool stillThereInPass = false;
  bool done = false;
  ScriptedCtrl* killer = ScriptedCtrl::Make();
  killer->onAnimate = [&](ScriptedCtrl& self, OvClump* clump, int32_t t) {
    if (done) return;
    done = true;
    scene.DelLogObj(victim);
    scene.DelClump(victimClump);  // both ways at once must not double-free
    OvAniCtrlRegisterPass(clump, &self, t, T2PA_AFTER_RENDER);
  };
  killer->onPass = [&](ScriptedCtrl&, OvClump*, int32_t, int) { stillThereInPass = InScene(scene, victim); };
  ASSERT_TRUE(killerClump->AddAniCtrl(killer));

  scene.FrameStep();
  EXPECT_TRUE(stillThereInPass);
  EXPECT_NE(std::find(renderer.rendered.begin(), renderer.rendered.end(), victimClump), renderer.rendered.end());
  EXPECT_FALSE(InScene(scene, victim));
  EXPECT_EQ(scene.SearchLogObj("victim"), nullptr);
  EXPECT_EQ(scene.BusyCount(), 0);

  // Outside a frame step a deletion is immediate.
  OvLogObj* other = AddObject(scene, "other");
  scene.DelLogObj(other);
  EXPECT_EQ(scene.SearchLogObj("other"), nullptr);
  // Gone at once from the scene's point of view as well.
  scene.FrameStep();
  db->Destroy();
}

TEST(SceneFrame, ControllerRemovedDuringFrameLosesItsRegistrations) {
  OvScene scene;
  AddCamera(scene);
  OvClump* c = nullptr;
  AddObject(scene, "a", &c);
  int hierarchyCalls = 0;
  ScriptedCtrl* doomed = ScriptedCtrl::Make();
  doomed->onAnimate = [](ScriptedCtrl& self, OvClump* clump, int32_t t) { OvAniCtrlRegisterHrchy(clump, &self, t); };
  doomed->onHrchy = [&](ScriptedCtrl&, OvClump*, int32_t) { ++hierarchyCalls; };
  ScriptedCtrl* remover = ScriptedCtrl::Make();
  remover->onAnimate = [](ScriptedCtrl& self, OvClump* clump, int32_t t) {
    OvAniCtrlRegisterPass(clump, &self, t, T2PA_AFTER_ANIM);
  };
  remover->onPass = [&](ScriptedCtrl&, OvClump* clump, int32_t, int) { clump->DelAniCtrl(doomed); };
  ASSERT_TRUE(c->AddAniCtrl(doomed));
  ASSERT_TRUE(c->AddAniCtrl(remover));
  scene.FrameStep();
  EXPECT_EQ(hierarchyCalls, 0);
  EXPECT_EQ(c->GetAniCtrlCount(), 1);
}

// ---------------------------------------------------------------------------
// Time advance.

TEST(SceneTime, ForcedStepsAreConsumedOnce) {
  OvScene scene;
  FakeClock clock;
  clock.step = 20;
  scene.SetWallClock(&FakeClock::Read, &clock);
  scene.ResetClock();
  scene.ForceStep(0);
  scene.AdvanceTime();
  EXPECT_EQ(scene.GetTime(), 0);
  EXPECT_EQ(scene.PendingForcedStep(), -1);
  scene.ForceStep(5);
  scene.AdvanceTime();
  EXPECT_EQ(scene.GetTime(), 5);
  const int readsBefore = clock.reads;
  scene.AdvanceTime();  // measured again: 20 ms is one unit
  EXPECT_GT(clock.reads, readsBefore);
  EXPECT_EQ(scene.GetTime(), 6);
}

TEST(SceneTime, ShortFrameWaitsForOneUnit) {
  OvScene scene;
  FakeClock clock;
  clock.step = 1;
  scene.SetWallClock(&FakeClock::Read, &clock);
  scene.ResetClock();  // one read
  scene.AdvanceTime();
  // 1/60 s is 16.7 ms: the loop reads until 17 ms have gone.
  EXPECT_EQ(clock.reads, 1 + 17);
  EXPECT_EQ(scene.GetTime(), 1);
}

TEST(SceneTime, ShortFrameSleepsUntilTheStepIsDue) {
  struct SleepingClock {
    FakeClock clock;
    uint32_t slept = 0;
    static void Sleep(void* self, uint32_t ms) {
      auto* c = static_cast<SleepingClock*>(self);
      c->slept += ms;
      c->clock.now += ms;
    }
  };
  struct Case {
    uint32_t frameMs;  // how long the frame itself took
    uint32_t sleptMs;
  } cases[] = {{0, 17}, {5, 12}, {16, 1}, {17, 0}, {40, 0}};
  for (const Case& c : cases) {
    SleepingClock s;
    s.clock.step = 0;
    OvScene scene;
    scene.SetWallClock(&FakeClock::Read, &s.clock);
    scene.SetWallSleep(&SleepingClock::Sleep, &s);
    scene.ResetClock();
    s.clock.now += c.frameMs;
    scene.AdvanceTime();
    EXPECT_EQ(s.slept, c.sleptMs) << "frame of " << c.frameMs << " ms";
    EXPECT_LE(s.clock.reads, 3) << "frame of " << c.frameMs << " ms";
  }
}

TEST(SceneTime, StallIsClampedAndFractionCarried) {
  OvScene scene;
  FakeClock clock;
  scene.SetWallClock(&FakeClock::Read, &clock);
  scene.ResetClock();
  clock.now += 2000;
  scene.AdvanceTime();
  EXPECT_EQ(scene.GetTime(), 15);  // 0.25 s at 60 units per second

  // 30 ms frames: 1.8 units each, the fraction carried into the next frame.
  clock.step = 30;
  OvScene paced;
  paced.SetWallClock(&FakeClock::Read, &clock);
  paced.ResetClock();
  paced.AdvanceTime();
  EXPECT_EQ(paced.GetTime(), 1);
  paced.AdvanceTime();
  EXPECT_EQ(paced.GetTime(), 3);
}

TEST(SceneTime, IntervalsStayRightAcrossTheClockWrap) {
  struct Case {
    int32_t start;
    int32_t step;
  } cases[] = {{INT32_MAX - 1, 3}, {-2, 5}, {INT32_MAX - 999999, 1000000}};
  for (const Case& c : cases) {
    OvScene scene;
    AddCamera(scene);
    OvLogObj* object = AddObject(scene, "o");
    scene.SetTime(c.start);
    StepFrame(scene, c.step);  // takes up the jump to the start
    object->GotoFrame(c.start);
    for (int frame = 1; frame <= 3; ++frame) {
      StepFrame(scene, c.step);
      EXPECT_FLOAT_EQ(scene.SecToPreFrame(), float(c.step) / 60.0f) << c.start << " frame " << frame;
      EXPECT_EQ(uint32_t(object->LocalTime()) - uint32_t(c.start), uint32_t(c.step) * uint32_t(frame))
          << c.start << " frame " << frame;
    }
  }
}

TEST(SceneTime, TimeBaseAndFrameRate) {
  OvScene scene;
  EXPECT_EQ(scene.TimePerSec(), 60);
  scene.SetTimeBase(30 * 4);
  scene.SetFrameRate(30);
  EXPECT_EQ(scene.FrameRate(), 30);
  EXPECT_EQ(scene.UnitsPerFrame(), 4);
  EXPECT_EQ(scene.TimePerSec(), 120);
  EXPECT_FLOAT_EQ(scene.SecondsPerUnit(), 1.0f / 120.0f);
  EXPECT_FLOAT_EQ(scene.FramesPerUnit(), 0.25f);
  scene.SetTime(240);
  EXPECT_FLOAT_EQ(scene.GetTime_Sec(), 2.0f);
  // Nonsense from content leaves the clock usable.
  scene.SetTimeBase(0);
  scene.SetFrameRate(-5);
  EXPECT_EQ(scene.TimePerSec(), 120);
}

}  // namespace
