// Sound, face-camera, spin-coupling, aim and level-of-detail nodes on real
// clumps in a ticking scene; their stored blocks and CreateFromValues.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

#include "../scene/scene_fixture.h"
#include "../sound/sound_test_util.h"
#include "ov_misc_nodes.h"
#include "ov_nodes.h"
#include "ov_sound_db.h"
#include "ov_stream.h"

namespace {

using S = OvSoundSystem;
using P = OvPlaySoundNode;

struct DbHolder {
  OvDatabase* db = OvDatabase::Create();
  ~DbHolder() { db->Destroy(); }
};

class MiscNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene.SetRenderer(&renderer);
    camera = AddCamera(scene);
    ASSERT_TRUE(sys.Start());
    ASSERT_EQ(holder.db->SoundDatabase()->AddItem("tone.wav", tone.bytes.data(), uint32_t(tone.bytes.size())), 0);
  }
  template <class Node>
  Node* Make() {
    return OvArenaNew<Node>(arena);
  }
  OvAniCtrl* Attach(OvDbNode* node, OvClump* clump) {
    OvAniCtrl* ctrl = OvNodeController(node, clump);
    EXPECT_TRUE(ctrl && ctrl->IsOwned() && clump->AddAniCtrl(ctrl));
    return ctrl;
  }
  OvClump* Object(const char* name, int32_t objectId = 0, int32_t clumpId = 0, OvVector pos = {0, 0, 0}) {
    OvClump* c = nullptr;
    AddObject(scene, name, &c, pos)->LoSetID(objectId);
    c->SetID(clumpId);
    c->CalcToWorldMatrix();
    return c;
  }
  void Step(int n = 1, int32_t units = 1) {
    while (n-- > 0) StepFrame(scene, units);
  }
  static OvVector Row(const OvClump* c, int i) {
    const float* r = c->GetToWorldMatrix()->m[i];
    return {r[0], r[1], r[2]};
  }
  static float ZAngle(const OvClump* c) { return 2.0f * std::atan2(c->GetQuat().v.z, c->GetQuat().s); }

  P* Sound(uint32_t options, int32_t repeat = 0) {
    auto* n = Make<P>();
    n->soundIndex = 0, n->options = options, n->repeat = repeat;
    n->safePeriodSec = 0.1f;  // 6 units at 60 frames of 1 unit
    n->Bind(holder.db);
    return n;
  }
  const OvSoundInstance* Ready(uint8_t kind = OV_SND_PLAIN) { return sys.List(kind, S::kReady).head; }
  void PlayOut() {  // gives out voices, then plays the whole tone
    sys.clock += 10, sys.Update();
    sys.MixSamples(4000);
    sys.clock += 10, sys.Update();
  }

  // Destroyed last: the scene's controllers stop their sounds on the way out.
  DbHolder holder;
  soundtest::TestSoundSystem sys;
  soundtest::EmbeddedSound tone{std::vector<int16_t>(2000, 100)};
  OvChunkArena arena;
  RecordingRenderer renderer{nullptr};
  OvScene scene;
  OvClump* camera = nullptr;
};

TEST_F(MiscNodes, PlaySoundEndlessPositionedPlaysUntilTheControllerGoes) {
  OvClump* c = Object("loud", 0, 0, {3, 4, 5});
  OvAniCtrl* ctrl = Attach(Sound(P::k3D | P::kEndless | P::kOnce, -1), c);
  Step();
  const OvSoundInstance* s = Ready(OV_SND_POSITIONED);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->Looping() && s->Priority() == 500 && Near(s->Position(), {3, 4, 5}));
  PlayOut();
  Step(3);  // the once-only option means nothing for an endless sound
  EXPECT_TRUE(c->GetAniCtrlCount() == 1 && s->State() == OV_SND_PLAYING);
  c->DelAniCtrl(ctrl);
  EXPECT_EQ(sys.DyingList().count, 1);
}

TEST_F(MiscNodes, PlaySoundPausesWhenTheFlagClearsAndContinuesTheSameInstance) {
  OvClump* c = Object("toggle");
  P* n = Sound(P::kEndless, -1);
  n->checkMask = n->checkValue = 0x1;
  Attach(n, c);
  Step();
  EXPECT_EQ(Ready(), nullptr);
  c->SetSwitch(0x1, 0x1), Step();
  const OvSoundInstance* s = Ready();
  ASSERT_NE(s, nullptr);
  sys.clock += 10, sys.Update();
  c->SetSwitch(0x1, 0x0), Step();
  EXPECT_EQ(s->State(), OV_SND_SUSPENDED);
  c->SetSwitch(0x1, 0x1), Step();
  EXPECT_TRUE(s->State() == OV_SND_INTERRUPTED && Ready() == s);
}

TEST_F(MiscNodes, PlaySoundOnceOnlyGoesAfterOnePlayOthersRestartAfterTheSafePeriod) {
  OvClump* once = Object("once");
  OvClump* again = Object("again");
  Attach(Sound(P::kEntire | P::kOnce), once), Attach(Sound(P::k3D), again);
  Step();
  const OvSoundInstance* s = Ready(OV_SND_POSITIONED);
  ASSERT_TRUE(s && Ready());
  PlayOut();
  Step(2);  // sees the end and waits
  ASSERT_EQ(s->State(), OV_SND_IDLE);
  EXPECT_EQ(once->GetAniCtrlCount(), 0);
  int frames = 0;
  while (s->State() == OV_SND_IDLE && frames < 20) Step(), ++frames;
  EXPECT_EQ(frames, 4);  // six units after the start
}

TEST_F(MiscNodes, FaceCameraTurnsTheAimAxisTowardTheCameraAboutTheRotationAxis) {
  camera->SetPos({10, 5, 0});
  OvClump* plain = Object("plain");
  OvClump* scaled = Object("scaled");
  scaled->SetScale({2, 2, 2});
  auto* n = Make<OvFaceCameraNode>();
  n->rotationAxis = 1, n->aimAxis = 2;  // about Y, +Z toward the camera
  EXPECT_EQ(Attach(n, plain)->GetChannelMask(), ACF_ROT);
  Attach(n, scaled);
  Step(2);
  EXPECT_TRUE(Near(Row(plain, 2), {1, 0, 0}) && Near(Row(plain, 1), {0, 1, 0}) && Near(Row(plain, 0), {0, 0, -1}));
  EXPECT_TRUE(Near(Row(scaled, 2), {2, 0, 0}) && Near(Row(scaled, 0), {0, 0, -2}));
  n->aimAxis = 3;  // -X toward the camera
  Step();
  EXPECT_TRUE(Near(Row(plain, 0), {-1, 0, 0}) && Near(Row(plain, 2), {0, 0, -1}));
}

TEST_F(MiscNodes, SpinFollowsTheOtherClumpsTurnByTheRatio) {
  OvClump* wheel = Object("wheel", 5, 7);
  float turned = 0.0f;
  ScriptedCtrl* driver = ScriptedCtrl::Make();
  driver->onAnimate = [&](ScriptedCtrl&, OvClump* c, int32_t) {
    OvQuat q;
    MakeQuat(q, {0, 0, 1}, turned += 10.0f * OV_DEG_TO_RAD);
    c->SetQuat(q);
  };
  wheel->AddAniCtrl(driver);
  OvClump* gear = Object("gear");
  OvClump* half = Object("half");
  auto* n = Make<OvSpinByOtherNode>();
  n->spinAxis = 2, n->refAxis = 2, n->ref = {5, 7, -1};
  auto* h = OvArenaNew<OvSpinByOtherNode>(arena, *n);
  h->ratio = -0.5f;
  EXPECT_EQ(Attach(n, gear)->GetCtrlId(), OV_ACID_SPIN_BY_OTHER);
  Attach(h, half);
  Step(6);  // the first frame only records the wheel's axes
  EXPECT_NEAR(ZAngle(gear), 50.0f * OV_DEG_TO_RAD, 1e-3f);
  EXPECT_NEAR(ZAngle(half), -25.0f * OV_DEG_TO_RAD, 1e-3f);
  turned += 190.0f * OV_DEG_TO_RAD;  // a 200 degree leap is seen as 160 back
  Step();
  EXPECT_NEAR(ZAngle(gear), -110.0f * OV_DEG_TO_RAD, 1e-3f);
  scene.DelClump(wheel);
  Step(3);  // keeps its last rotation
  EXPECT_NEAR(ZAngle(gear), -110.0f * OV_DEG_TO_RAD, 1e-3f);
}

TEST_F(MiscNodes, AimTurnsAtTheTurnRateWithinLimitsAndLeadsMovingTargets) {
  OvVector hit;
  ASSERT_TRUE(OvAimIntercept(hit, {10, 0, 0}, {0, 1, 0}, {0, 0, 0}, 2.0f));
  EXPECT_NEAR(OvLength(hit), 2.0f * hit.y, 1e-3f);                            // bullet and target arrive together
  EXPECT_FALSE(OvAimIntercept(hit, {10, 0, 0}, {0, 1, 0}, {0, 0, 0}, 1.0f));  // a = 0
  Object("target", 3, 4, {10, 0, 0});
  Object("behind", 6, 5, {0, -10, 0});
  OvClump* turret = Object("turret");
  OvClump* limited = Object("limited");
  auto* n = Make<OvAimNode>();  // about Z, +Y toward the target, 50 degrees a second
  n->target = {3, 4, -1};
  n->checkMask = n->checkValue = 0x1;
  auto* l = Make<OvAimNode>();
  l->target = {6, 5, -1}, l->maxAngle = 0.5f, l->minAngle = -0.5f;
  EXPECT_EQ(Attach(n, turret)->GetCtrlId(), OV_ACID_AIM);
  Attach(l, limited);
  const int32_t tenth = scene.TimePerSec() / 10;
  Step(3, tenth);
  EXPECT_FLOAT_EQ(ZAngle(turret), 0.0f);  // the flag test fails
  turret->SetSwitch(0x1, 0x1);
  Step(17, tenth);
  EXPECT_NEAR(ZAngle(turret), -17 * 0.087266f, 1e-3f);
  Step(3, tenth);
  EXPECT_NEAR(ZAngle(turret), -C_HALF_PI, 1e-3f);
  EXPECT_TRUE(Near(Row(turret, 1), {1, 0, 0}));
  EXPECT_NEAR(ZAngle(limited), -0.5f, 1e-4f);
}

TEST_F(MiscNodes, LodShowsOneLevelBySizeInCameraWithAMarginBackToTheFinest) {
  OvClump* root = Object("lod", 0, 1, {0, 0, -1});
  OvClump* level[4];
  for (int i = 0; i < 4; ++i) {
    level[i] = OvClump::Create();
    level[i]->SetID(i < 3 ? 11 + i : 99);
    level[i]->SetPos({1, 1, 1});
    root->AttachChild(level[i]);
  }
  OvClump* grand = OvClump::Create();
  level[1]->AttachChild(grand);
  auto* node = Make<OvLodNode>();
  node->count = 3;
  node->levelIds[0] = 11, node->levelIds[1] = 12, node->levelIds[2] = 13;
  Attach(node, root);
  // Where the compared (squared) measure is c; the node sees last frame's place.
  auto measure = [&](float c) {
    root->SetPos({0, 0, -1.0f / std::sqrt(c)});
    Step(2);
    int v = -1;
    for (int i = 0; i < 3; ++i) v = level[i]->IsInvisible() ? v : v < 0 ? i : 9;
    return v;
  };
  EXPECT_EQ(measure(0.6f), 0);
  EXPECT_TRUE(grand->IsInvisible() && !level[3]->IsInvisible());
  EXPECT_TRUE(Near(level[0]->GetPos(), {0, 0, 0}) && Near(level[3]->GetPos(), {1, 1, 1}));
  EXPECT_EQ(measure(0.3f), 1);
  EXPECT_FALSE(grand->IsInvisible());
  EXPECT_EQ(measure(0.15f), 2);
  EXPECT_EQ(measure(0.05f), 2);  // below every threshold: the last level
  EXPECT_EQ(measure(0.3f), 1);
  EXPECT_EQ(measure(0.55f), 1);  // within the margin above threshold 0
  EXPECT_TRUE(measure(0.65f) == 0 && grand->IsInvisible());
  node->count = 0;
  EXPECT_EQ(OvNodeController(node, root), nullptr);
  root->SetPos({2, 4, -4}), Step();
  EXPECT_NEAR(OvLodScreenMeasure(*root, *camera, 6.0f), 6.0f / 7.0f, 1e-5f);  // length estimate 7
  static_cast<OvCamera*>(camera->GetExtension())->SetPerspective(false);      // half size 1.57
  EXPECT_NEAR(OvLodScreenMeasure(*root, *camera, 3.0f), 3.0f / C_HALF_PI, 1e-5f);
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) out.insert(out.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)});
  return out;
}
uint32_t F(float f) { return std::bit_cast<uint32_t>(f); }
OvParamValue Slot(uint32_t w0, uint32_t w1 = 0, uint32_t w2 = 0) { return OvParamValue{{w0, w1, w2, 0}}; }

class MiscNodeTypes : public ::testing::Test {
 protected:
  void SetUp() override { OvFreeAllNodeTypes(), OvRegisterNodeTypes(); }
  void TearDown() override { OvFreeAllNodeTypes(); }
  template <class Node>
  Node* From(uint32_t id, const std::vector<OvParamValue>& v, int count) {
    return static_cast<Node*>(OvFindNodeType(0, id)->CreateFromValues(arena, v.data(), count));
  }
  OvChunkArena arena;
};

TEST_F(MiscNodeTypes, BlocksReadAndWriteByteForByte) {
  const std::pair<uint32_t, std::vector<uint8_t>> blocks[] = {
      {1520, Words({100, 0x3, 0x1, F(0.5f), 0x17, 2, uint32_t(-1), 300, F(50), F(5000)})},
      {1310, Words({1, 5})},
      {1165, Words({100, 2, F(-0.5f), 5, 7, 1})},
      {1300, Words({100, 0x21, F(0.5f), F(-0.5f), F(1), F(0), 3, 4, 0x1, 0x1})},
      {8200, Words({100, 1, F(2), 3, 11, 12, 13, F(0.5f), F(0.2f), F(0.1f)})},
  };
  for (const auto& [id, bytes] : blocks) {
    const OvNodeType* type = OvFindNodeType(0, id);
    OvDbNode* node = type ? type->Create(arena) : nullptr;
    ASSERT_NE(node, nullptr) << id;
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    EXPECT_TRUE(node->Read(in, arena) && in.Remaining() == 0u && node->Write(out)) << id;
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes) << id;
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 4));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << id;
  }
  const std::vector<uint8_t> many = Words({100, 0, F(1), 11});  // more levels than a node holds
  OvStream in;
  ASSERT_TRUE(in.OpenMemory(many.data(), many.size()));
  EXPECT_FALSE(OvFindNodeType(0, 8200)->Create(arena)->Read(in, arena));
}

TEST_F(MiscNodeTypes, CreateFromValuesMapsTheSlots) {
  std::vector<OvParamValue> sv(23, Slot(0));
  sv[0] = Slot(0x3, 0x1), sv[2] = Slot(4), sv[3] = Slot(7), sv[5] = Slot(uint32_t(-5));
  sv[6] = sv[11] = sv[13] = Slot(1);
  EXPECT_EQ(From<P>(1520, sv, 22), nullptr);
  auto* s = From<P>(1520, sv, 23);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->soundIndex == 4 && s->repeat == -1 && s->priority == 0 && s->options == 0xB);

  auto* a = From<OvAimNode>(
      1300, {Slot(0), Slot(F(90)), Slot(F(-90)), Slot(F(180)), Slot(F(7)), Slot(4), Slot(3, 4), Slot(0x1, 0x1)}, 8);
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->axes == 0x40 && a->bulletSpeed == 7.0f && a->target.clumpKey == 4);
  EXPECT_TRUE(std::fabs(a->maxAngle - C_HALF_PI) < 1e-6f && std::fabs(a->turnRate - C_PI) < 1e-6f);
  EXPECT_EQ(From<OvFaceCameraNode>(1310, {Slot(2)}, 1), nullptr);

  std::vector<OvParamValue> lv(28, Slot(0));
  lv[1] = Slot(F(3), F(4), F(0)), lv[2] = Slot(1);
  lv[8] = Slot(0, 11), lv[9] = Slot(F(0.4f)), lv[10] = Slot(0, 12), lv[11] = Slot(F(0.1f));
  lv[12] = Slot(0, uint32_t(-1)), lv[14] = Slot(0, 14);  // stops at the first empty level
  auto* l = From<OvLodNode>(8200, lv, 28);
  ASSERT_NE(l, nullptr);
  EXPECT_TRUE(l->count == 2 && l->refSize == 5.0f && l->levelIds[1] == 12 && l->levelIds[2] == -1);
}

}  // namespace
