// The sound system on a clock and device the test drives: state lists, both
// schedulers with their tie rules, interruption, grace times, stop modes and
// mixing.
#include <gtest/gtest.h>

#include <vector>

#include "sound_test_util.h"
#include "trace_capture.h"

namespace {

using soundtest::EmbeddedSound;
using soundtest::TestSoundSystem;
using S = OvSoundSystem;
using Pcm = std::vector<int16_t>;

constexpr int32_t kLoop = -1;
constexpr int32_t kOnce = 0;

class SoundSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sys.Start()); }

  OvSoundInstance* Make(int32_t loop, int32_t priority, const EmbeddedSound* sound = nullptr) {
    OvPlayRequest r;
    r.item = sound ? &sound->item : &tone.item;
    r.loop = loop;
    r.priority = priority;
    return sys.CreateInstance(r);
  }
  // Positioned at (x, 0, 0), reference distance 1 (near: closer than 10).
  OvSoundInstance* Make3D(int32_t priority, float x, float radius = 100.0f) {
    OvPlayRequest r;
    r.item = &tone.item;
    r.loop = kLoop;
    r.priority = priority;
    r.kind = OV_SND_POSITIONED;
    r.referenceDistance = 1.0f;
    r.radius = radius;
    OvSoundInstance* s = sys.CreateInstance(r);
    s->SetPosition({x, 0.0f, 0.0f});
    s->Play();
    return s;
  }
  std::vector<OvSoundInstance*> PlayMany(int n, int32_t loop, int32_t priority) {
    std::vector<OvSoundInstance*> v;
    for (int i = 0; i < n; ++i) {
      v.push_back(Make(loop, priority));
      v.back()->Play();
    }
    return v;
  }
  void Tick(uint32_t ms) {
    sys.clock += ms;
    sys.Update();
  }

  TestSoundSystem sys;
  EmbeddedSound tone{Pcm(5000, 100)};
};

TEST_F(SoundSystemTest, RequestsMoveThroughTheStateLists) {
  OvSoundInstance* s = Make(kOnce, -7);
  EXPECT_EQ(s->Priority(), 0);  // negative requests count as 0
  EXPECT_TRUE(s->Play());
  EXPECT_EQ(sys.List(OV_SND_PLAIN, S::kReady).head, s);
  s->Pause();
  EXPECT_EQ(sys.List(OV_SND_PLAIN, S::kIdle).head, s);
  s->Play();
  Tick(0);
  EXPECT_EQ(s->State(), OV_SND_PLAYING);
  sys.MixSamples(100);
  s->Pause();
  EXPECT_EQ(s->State(), OV_SND_SUSPENDED);
  EXPECT_FALSE(s->HasVoice());
  EXPECT_TRUE(s->Play());
  EXPECT_EQ(s->State(), OV_SND_INTERRUPTED);
  Tick(1);
  EXPECT_EQ(s->PlayPosition(), 0u);  // every start begins at the first sample
}

TEST_F(SoundSystemTest, SeventeenOnceOnlySoundsTheLastFallsBackInTheSameUpdate) {
  std::vector<OvSoundInstance*> v = PlayMany(17, kOnce, 3);
  sys.Update();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(v[i]->State(), OV_SND_PLAYING) << i;
  EXPECT_EQ(v[16]->State(), OV_SND_IDLE);
  EXPECT_EQ(sys.PlayingCount(OV_SND_PLAIN), 16);
  EXPECT_EQ(sys.VoiceList().count, 16);
}

TEST_F(SoundSystemTest, SeventeenLoopingSoundsTheLastWaitsForAFreeVoice) {
  std::vector<OvSoundInstance*> v = PlayMany(17, kLoop, 3);
  Tick(5000);
  EXPECT_EQ(v[16]->State(), OV_SND_READY);  // an equal priority never interrupts
  sys.StopInstance(v[3], OV_SND_STOP);
  Tick(16);
  EXPECT_EQ(v[16]->State(), OV_SND_PLAYING);
  EXPECT_EQ(sys.PlayingCount(OV_SND_PLAIN), 16);
}

TEST_F(SoundSystemTest, PriorityInterruptsTheFirstLeastImportantWhichIsIdleAfterGrace) {
  std::vector<OvSoundInstance*> v;
  for (int i = 0; i < 16; ++i) v.push_back(Make(kOnce, i == 5 || i == 9 ? 2 : 3));
  for (OvSoundInstance* s : v) s->Play();
  sys.Update();
  OvSoundInstance* low = Make(kOnce, 1);
  OvSoundInstance* hi = Make(kOnce, 5);
  low->Play();
  hi->Play();
  Tick(10);
  EXPECT_EQ(hi->State(), OV_SND_PLAYING);
  EXPECT_EQ(low->State(), OV_SND_IDLE);
  EXPECT_EQ(v[5]->State(), OV_SND_SUSPENDED);  // once-only: not kept waiting
  EXPECT_EQ(v[9]->State(), OV_SND_PLAYING);
  EXPECT_EQ(v[5]->StopTime(), sys.clock);
  Tick(1000);
  EXPECT_EQ(v[5]->State(), OV_SND_SUSPENDED);
  Tick(1);
  EXPECT_EQ(v[5]->State(), OV_SND_IDLE);
}

TEST_F(SoundSystemTest, InterruptedLoopWaitsResumesFromTheStartOrIsReadyAfterGrace) {
  sys.SetVoiceLimit2D(1);
  EmbeddedSound shortHi({1, 2, 3, 4});
  OvSoundInstance* loop = Make(kLoop, 1);
  loop->Play();
  sys.Update();
  OvSoundInstance* hi = Make(kOnce, 9, &shortHi);
  hi->Play();
  Tick(1);
  EXPECT_EQ(loop->State(), OV_SND_INTERRUPTED);
  EXPECT_TRUE(loop->IsActive());
  sys.MixSamples(8);  // the short sound ends
  EXPECT_EQ(hi->State(), OV_SND_IDLE);
  Tick(1);
  EXPECT_EQ(loop->State(), OV_SND_PLAYING);

  hi->Play();
  Tick(1);
  sys.SetVoiceLimit2D(0);
  sys.StopInstance(hi, OV_SND_STOP_NOW);
  Tick(1001);
  EXPECT_EQ(loop->State(), OV_SND_READY);
}

TEST_F(SoundSystemTest, StopModes) {
  OvSoundInstance* a = Make(kLoop, 1);
  a->Play();
  sys.Update();
  sys.StopInstance(a, OV_SND_STOP_LATER);
  EXPECT_EQ(a->State(), OV_SND_DYING);
  EXPECT_FALSE(a->HasVoice());
  EXPECT_FALSE(a->Play());  // a stopped instance stays stopped
  Tick(1000);
  EXPECT_EQ(sys.DyingList().count, 1);  // released 1000 ms later, not before
  Tick(1);
  EXPECT_EQ(sys.DyingList().count, 0);

  // Mode 1, and any mode on an Idle or Ready instance, release at once.
  OvSoundInstance* b = Make(kLoop, 1);
  b->Play();
  sys.StopInstance(Make(kOnce, 1), OV_SND_STOP);
  sys.StopInstance(b, OV_SND_STOP_LATER);
  EXPECT_EQ(sys.List(OV_SND_PLAIN, S::kIdle).count + sys.List(OV_SND_PLAIN, S::kReady).count, 0);
  OvSoundInstance* c = Make(kLoop, 1);
  c->Play();
  sys.Update();
  sys.StopInstance(c, OV_SND_STOP_NOW);
  EXPECT_EQ(sys.PlayingCount(OV_SND_PLAIN) + sys.VoiceList().count + sys.DyingList().count, 0);

  // Mode 3: a playing once-only sound finishes, then goes; a loop goes now.
  EmbeddedSound shortOne({5, 6, 7});
  OvSoundInstance* once = Make(kOnce, 1, &shortOne);
  OvSoundInstance* loop = Make(kLoop, 1);
  once->Play();
  loop->Play();
  sys.Update();
  sys.StopInstance(once, OV_SND_STOP_AFTER_END);
  sys.StopInstance(once, OV_SND_STOP_AFTER_END);
  sys.StopInstance(loop, OV_SND_STOP_AFTER_END);
  EXPECT_EQ(once->State(), OV_SND_PLAYING_RELEASE);
  EXPECT_EQ(loop->State(), OV_SND_DYING);
  EXPECT_EQ(sys.MixSamples(5), (Pcm{5, 6, 7, 0, 0}));
  EXPECT_EQ(sys.VoiceList().count + sys.List(OV_SND_PLAIN, S::kIdle).count, 0);
}

TEST_F(SoundSystemTest, MixingOnceOnlyLoopsAndSaturation) {
  EmbeddedSound shortOne({7, 8, 9});
  OvSoundInstance* once = Make(kOnce, 1, &shortOne);
  once->Play();
  sys.Update();
  EXPECT_EQ(sys.MixSamples(5), (Pcm{7, 8, 9, 0, 0}));
  EXPECT_EQ(once->State(), OV_SND_IDLE);
  EXPECT_EQ(sys.PlayingCount(OV_SND_PLAIN), 0);
  int16_t untouched[2] = {11, 12};
  EXPECT_EQ(sys.Mix(untouched, 2), 0u);  // no voice: nothing written
  EXPECT_EQ(untouched[0], 11);

  // A loop shorter than the buffer repeats inside it, across mixing blocks.
  EmbeddedSound shortLoop({1, 2, 3});
  Make(kLoop, 1, &shortLoop)->Play();
  sys.Update();
  EXPECT_EQ(sys.MixSamples(7), (Pcm{1, 2, 3, 1, 2, 3, 1}));
  const Pcm big = sys.MixSamples(3000);
  for (size_t i = 0; i < big.size(); ++i) ASSERT_EQ(big[i], int16_t((i + 1) % 3 + 1)) << i;
  sys.StopAll();

  // Wrapped, 20000 + 20000 would be -25536. The total is clamped once, so
  // the order of the voices does not matter.
  EmbeddedSound plus({20000, -20000, 100}), minus({-20000, -20000, -100});
  Make(kLoop, 1, &plus)->Play();
  Make(kLoop, 1, &plus)->Play();
  sys.Update();
  EXPECT_EQ(sys.MixSamples(3), (Pcm{32767, -32768, 200}));
  Make(kLoop, 1, &minus)->Play();
  sys.Update();
  EXPECT_EQ(sys.MixSamples(3), (Pcm{20000, -32768, 100}));
}

TEST_F(SoundSystemTest, OutsideItsRadiusASoundNeverGetsAVoice) {
  sys.SetVoiceLimit3D(1);
  OvSoundInstance* quiet = Make3D(0, 1.0f);
  OvSoundInstance* outside = Make3D(1000000, 20.0f, 10.0f);
  OvSoundInstance* onEdge = Make3D(1000000, 10.0f, 10.0f);
  for (int i = 0; i < 5; ++i) Tick(500);
  EXPECT_EQ(quiet->State(), OV_SND_PLAYING);
  EXPECT_EQ(outside->State(), OV_SND_READY);
  EXPECT_EQ(onEdge->State(), OV_SND_READY);
  sys.SetListenerPosition({18.0f, 0.0f, 0.0f});  // now both are inside
  Tick(1);
  EXPECT_EQ(outside->State(), OV_SND_PLAYING);  // near, then relatively nearer
}

TEST_F(SoundSystemTest, PositionedCandidateIsNearFirstThenImportantThenRelativelyNearer) {
  sys.SetVoiceLimit3D(1);
  OvSoundInstance* farImportant = Make3D(9, 50.0f);
  Make3D(1, 8.0f);
  OvSoundInstance* nearest = Make3D(1, 2.0f);
  Make3D(1, 2.0f);
  sys.Update();
  EXPECT_EQ(nearest->State(), OV_SND_PLAYING);
  EXPECT_EQ(farImportant->State(), OV_SND_READY);
}

TEST_F(SoundSystemTest, PositionedVictimRules) {
  struct Run {
    int32_t playingPriority;
    float playingX;
    int32_t candidatePriority;
    float candidateX;
    bool takesOver;
  };
  const Run runs[] = {
      {5, 50, 6, 60, true},    // far victim, far candidate more important
      {5, 50, 5, 20, false},   // far victim, far candidate equal
      {5, 50, 0, 5, true},     // far victim, near candidate of any priority
      {0, 5, 99, 20, false},   // near victim, far candidate
      {5, 9, 6, 9.5f, true},   // near victim, near candidate more important
      {5, 9, 4, 1, false},     // near victim, near candidate less important
      {5, 5, 5, 2, true},      // equal, candidate relatively nearer
      {5, 5, 5, 5, false},     // equal, as near
      {99, 150, 0, 50, true},  // the victim has left its radius (200)
  };
  for (const Run& r : runs) {
    sys.StopAll();
    sys.SetVoiceLimit3D(1);
    OvSoundInstance* playing = Make3D(r.playingPriority, r.playingX, 200.0f);
    Tick(1);
    ASSERT_EQ(playing->State(), OV_SND_PLAYING);
    if (r.playingX > 100) sys.SetListenerPosition({-60.0f, 0, 0});
    OvSoundInstance* candidate = Make3D(r.candidatePriority, r.candidateX, 200.0f);
    Tick(1);
    sys.SetListenerPosition({0, 0, 0});
    EXPECT_EQ(candidate->State() == OV_SND_PLAYING, r.takesOver) << r.playingX << " " << r.candidateX;
    EXPECT_EQ(playing->State() == OV_SND_INTERRUPTED, r.takesOver) << r.playingX << " " << r.candidateX;
  }
}

TEST_F(SoundSystemTest, AmongFarVictimsTheRelativelyFarthestGoes) {
  sys.SetVoiceLimit3D(2);
  OvSoundInstance* b = Make3D(1, 30.0f);
  OvSoundInstance* c = Make3D(1, 40.0f);
  sys.Update();
  Make3D(0, 5.0f);
  Tick(1);
  EXPECT_EQ(b->State(), OV_SND_PLAYING);
  EXPECT_EQ(c->State(), OV_SND_INTERRUPTED);
}

TEST_F(SoundSystemTest, ShutdownAndThePerFrameCall) {
  ASSERT_EQ(OvGetSoundSystem(), &sys);
  const OvVector camera = {1.0f, 2.0f, 3.0f};
  OvSoundInstance* playing = Make(kLoop, 1);
  playing->Play();
  OvSoundFrame(&camera);
  EXPECT_EQ(sys.Listener().y, 2.0f);
  EXPECT_EQ(playing->State(), OV_SND_PLAYING);
  Make(kLoop, 1);  // idle: its owner's until the system goes
  sys.Shutdown();
  EXPECT_FALSE(sys.deviceOpen);
  EXPECT_EQ(sys.VoiceList().count + sys.PlayingCount(OV_SND_PLAIN), 0);
  EXPECT_EQ(sys.List(OV_SND_PLAIN, S::kIdle).count, 1);
  EXPECT_EQ(Make(kOnce, 1), nullptr);  // disabled
}

}  // namespace
