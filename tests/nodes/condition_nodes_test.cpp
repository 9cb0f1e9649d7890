// Sensor nodes on real clumps in a ticking scene; their stored blocks,
// parameter tables and CreateFromValues.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

#include "../scene/scene_fixture.h"
#include "ov_condition_nodes.h"
#include "ov_input.h"
#include "ov_nodes.h"
#include "ov_stream.h"

namespace {

struct FakeKeys : OvInputDevice {
  void Reset() override {}
  void Update() override {}
  bool IsClickDown(int i) override { return i == key && clickDown; }
  bool IsClickUp(int i) override { return i == key && clickUp; }
  bool IsDown(int i) override { return i == key && down; }
  void GetPos(int& x, int& y) override { x = y = 0; }
  void GetMove(int& dx, int& dy) override { dx = dy = 0; }
  int key = -1;
  bool down = false, clickDown = false, clickUp = false;
};

struct DbHolder {
  OvDatabase* db = OvDatabase::Create();
  ~DbHolder() { db->Destroy(); }
};

class Sensors : public ::testing::Test {
 protected:
  void SetUp() override { renderer.quiet = true, scene.SetRenderer(&renderer), AddCamera(scene); }
  template <class Node>
  Node* Make(uint32_t mask = 0x3, uint32_t value = 0x1) {
    Node* n = OvArenaNew<Node>(arena);
    n->setMask = mask, n->setValue = value;
    return n;
  }
  OvAniCtrl* Attach(OvDbNode* node, OvClump* clump) {
    OvAniCtrl* ctrl = OvNodeController(node, clump);
    EXPECT_TRUE(ctrl && clump->AddAniCtrl(ctrl));
    return ctrl;
  }
  OvClump* Object(const char* name, OvVector pos = {0, 0, 0}, int32_t objectId = 0, int32_t clumpId = 0) {
    OvClump* c = nullptr;
    AddObject(scene, name, &c, pos)->LoSetID(objectId);
    c->SetID(clumpId), c->CalcToWorldMatrix();
    return c;
  }
  void Step(int n = 1, int32_t units = 1) {
    while (n-- > 0) StepFrame(scene, units);
  }

  DbHolder holder;
  OvChunkArena arena;
  RecordingRenderer renderer{nullptr};
  OvScene scene;
};

uint32_t Flags(const OvClump* c) { return c->GetSwitch() & 0x3; }

TEST_F(Sensors, KeyboardClickDownHoldsForOneFrameAndNeedsADevice) {
  OvClump* c = Object("c");
  auto* node = Make<OvKeyboardSensorNode>();
  node->keyCode = 'A', node->keyState = OvKeyboardSensorNode::kClickDown;
  EXPECT_EQ(Attach(node, c), Attach(node, Object("d")));  // one shared controller
  c->SetSwitch(0x3, 0x3);
  Step();  // no device: no change
  EXPECT_EQ(Flags(c), 0x3u);
  FakeKeys keys;
  keys.key = 'A', keys.clickDown = keys.down = true, OvSetInputDevice(&keys), Step();
  EXPECT_EQ(Flags(c), 0x1u);
  keys.clickDown = false, Step();  // still held
  EXPECT_EQ(Flags(c), 0x2u);
  node->keyState = OvKeyboardSensorNode::kPressed, Step();
  EXPECT_EQ(Flags(c), 0x1u);
  OvSetInputDevice(nullptr);
}

TEST_F(Sensors, TimeSensorsFollowTheLocalTime) {
  OvClump* c = Object("c");
  auto* range = Make<OvTimeRangeSensorNode>(0x1, 0x1);
  range->from = 100, range->to = 50;  // open-ended
  Attach(range, c);
  std::vector<std::pair<int32_t, uint32_t>> seen;
  ScriptedCtrl* probe = ScriptedCtrl::Make();
  probe->onAnimate = [&](ScriptedCtrl&, OvClump* k, int32_t t) { seen.push_back({t, k->GetSwitch() & 0x1}); };
  c->AddAniCtrl(probe);
  Step(8, 40);
  ASSERT_FALSE(seen.empty());
  EXPECT_GE(seen.back().first, 200);
  for (auto [t, flag] : seen) EXPECT_EQ(flag, t >= 100 ? 1u : 0u) << t;

  OvTimePeriodSensorNode period;  // from 0, period 16000, length 0: the frame at or after each start
  for (int32_t t = 0; t <= 64200; t += 300) EXPECT_EQ(period.Holds(t, 300), t % 16000 < 300) << t;
  EXPECT_FALSE(period.Holds(160001, 16000));  // past "To:"
  period.period = 0;
  EXPECT_FALSE(period.Holds(100, 1));
}

TEST_F(Sensors, ObjectValuesAreTestedAgainstOpenOrClosedRanges) {
  OvClump* c = Object("c");
  OvLogObj* o = c->GetLogObj();
  auto* health = Make<OvHealthSensorNode>(0x1, 0x1);
  auto* id = Make<OvObjIdSensorNode>(0x2, 0x2);
  id->min = id->max = 7;
  Attach(health, c), Attach(id, c);
  const struct {
    int32_t health, max, nodeId;
    uint32_t flags;
  } cases[] = {{500, 500, 7, 0x3}, {501, 500, 6, 0x0}, {100000, -200, -1, 0x1}, {-101, -200, 7, 0x2}};
  for (const auto& k : cases) {
    o->SetHealth(k.health), o->LoSetNodeID(k.nodeId), health->max = k.max, Step();
    EXPECT_EQ(Flags(c), k.flags) << k.health;
  }
}

TEST_F(Sensors, DistanceUsesDefaultOrSetTargets) {
  OvClump* c = Object("c", {0, 0, 0}, 1, 1);
  OvClump* far = Object("far", {1000, 0, 0}, 5, 3);
  auto* byDefault = Make<OvDistanceSensorNode>(0x1, 0x1);
  auto* byRef = Make<OvDistanceSensorNode>(0x2, 0x2);
  byRef->target = {5, 3, -1}, byRef->maxDistance = 1000.5f;
  Attach(byDefault, c), Attach(byRef, c);
  c->SetSwitch(0x3, 0x3);
  Step();  // no logical object 0 yet: no change for the default target
  EXPECT_EQ(Flags(c), 0x3u);
  ASSERT_TRUE(scene.SetLeadingLogObj(0, far->GetLogObj()));
  Step();
  EXPECT_EQ(Flags(c), 0x2u);  // exactly 1000 is out of [0, 1000)
  far->SetPos({999, 0, 0}), far->CalcToWorldMatrix(), Step();
  EXPECT_EQ(Flags(c), 0x3u);
  auto* missing = Make<OvDistanceSensorNode>(0x3, 0x3);
  missing->target = {77, 3, -1};
  OvClump* lone = Object("lone");
  lone->SetSwitch(0x3, 0x3), Attach(missing, lone), Step();
  EXPECT_EQ(Flags(lone), 0x0u);  // a set reference that finds nothing: inverse
}

TEST_F(Sensors, AnglesTrackClumpAxes) {
  OvClump* c = Object("c", {0, 0, 0}, 1, 1);
  Object("t", {0, 10, 0}, 2, 2);
  auto* world = Make<OvAngleInWorldSensorNode>(0x1, 0x1);
  world->clumpAxis = 1, world->worldAxis = 1;  // +Y against world Y
  world->cosFrom = 1.0f, world->cosTo = std::cos(30.0f * C_PI / 180.0f);
  auto* between = Make<OvAngleBetweenSensorNode>(0x2, 0x2);
  between->target = {2, 2, -1}, between->axis = 7;  // +Y, reduced modulo 6
  between->cosine = std::cos(30.0f * C_PI / 180.0f);
  Attach(world, c), Attach(between, c);
  for (float deg : {0.0f, 25.0f, 35.0f, 180.0f}) {
    const float h = deg * C_PI / 360.0f;
    c->SetQuat({std::cos(h), {std::sin(h), 0, 0}}), c->CalcToWorldMatrix(), Step();
    EXPECT_EQ(Flags(c), deg <= 30.0f ? 0x3u : 0x0u) << deg;
  }
  between->axisOwner = OvAngleBetweenSensorNode::kAxisOfTarget, between->axis = 4, Step();  // target's -Y at c
  EXPECT_EQ(Flags(c) & 0x2, 0x2u);
}

// Every axis code on an unturned clump: the component along each world axis
// is +1, -1 or 0, so a narrow band around +1 or -1 finds exactly one axis.
TEST_F(Sensors, EachAxisCodeIsItsRowOrItsNegation) {
  OvClump* c = Object("c", {0, 0, 0}, 1, 1);
  Object("t", {0, 0, 0}, 2, 2);
  auto* world = Make<OvAngleInWorldSensorNode>(0x1, 0x1);
  auto* between = Make<OvAngleBetweenSensorNode>(0x2, 0x2);
  between->target = {2, 2, -1}, between->cosine = 0.99f;
  Attach(world, c), Attach(between, c);
  const OvVector towards[] = {{10, 0, 0}, {0, 10, 0}, {0, 0, 10}, {-10, 0, 0}, {0, -10, 0}, {0, 0, -10}};
  for (int32_t code = 0; code < 12; ++code) {
    for (int32_t axis = 0; axis < 3; ++axis) {
      for (float sign : {1.0f, -1.0f}) {
        world->clumpAxis = code, world->worldAxis = axis + 3;  // world axes reduce modulo 3
        world->cosFrom = sign, world->cosTo = 0.99f * sign;
        scene.SearchClump("t")->SetPos(towards[axis + (sign < 0 ? 3 : 0)]);
        scene.SearchClump("t")->CalcToWorldMatrix();
        between->axis = code, Step();
        const bool along = code % 3 == axis && (code % 6 < 3) == (sign > 0);
        EXPECT_EQ(Flags(c), along ? 0x3u : 0x0u) << "code " << code << " world axis " << axis << " sign " << sign;
      }
    }
  }
}

// The ends of "<s> Time Range" and "<s> Time Period" belong to them.
TEST_F(Sensors, TimeSensorEndsAreInside) {
  OvTimePeriodSensorNode period;
  period.from = 100, period.to = 1000, period.period = 50, period.length = 10;
  const struct {
    int32_t t, delta;
    bool holds;
  } periodCases[] = {{99, 0, false},   {100, 0, true},  {110, 0, true},  {111, 0, false}, {149, 0, false},
                     {150, 0, true},   {152, 1, true},  {161, 0, false}, {161, 12, true}, {1000, 0, true},
                     {1001, 9, false}, {990, 0, false}, {990, 41, true}};
  for (const auto& c : periodCases) EXPECT_EQ(period.Holds(c.t, c.delta), c.holds) << c.t << " " << c.delta;
  period.to = 99;  // below from: open-ended
  EXPECT_TRUE(period.Holds(1000000, 0));

  OvClump* c = Object("c");
  auto* range = Make<OvTimeRangeSensorNode>(0x1, 0x1);
  range->from = 3, range->to = 5;
  Attach(range, c);
  std::vector<std::pair<int32_t, uint32_t>> seen;
  ScriptedCtrl* probe = ScriptedCtrl::Make();
  probe->onAnimate = [&](ScriptedCtrl&, OvClump* k, int32_t t) { seen.push_back({t, k->GetSwitch() & 0x1}); };
  c->AddAniCtrl(probe);
  Step(8);
  ASSERT_GE(seen.size(), 7u);
  for (auto [t, flag] : seen) EXPECT_EQ(flag, t >= 3 && t <= 5 ? 1u : 0u) << t;
}

TEST_F(Sensors, InCameraViewFollowsTheCullingPass) {
  OvClump* seen = Object("seen", {0, 0, -10});
  OvClump* behind = Object("behind", {0, 0, 10});
  seen->SetMesh(MakeQuadMesh(*holder.db, 1.0f)), behind->SetMesh(MakeQuadMesh(*holder.db, 1.0f));
  auto* node = Make<OvInCameraViewSensorNode>();
  Attach(node, seen), Attach(node, behind), Step();
  EXPECT_EQ(Flags(seen), 0x2u);  // not tested by a cull yet
  Step();
  EXPECT_EQ(Flags(seen), 0x1u);
  EXPECT_EQ(Flags(behind), 0x2u);
}

TEST_F(Sensors, CheckInOutRegionAndTriggerModes) {
  OvClump* mover = Object("mover", {0, 0, 0}, 1, 1);
  OvClump* inBox = Object("in", {0, 0, 0}, 2, 2);
  OvClump* outBox = Object("out", {100, 0, 0}, 3, 3);
  for (OvClump* box : {inBox, outBox}) {
    box->SetMesh(MakeQuadMesh(*holder.db, 5.0f));
    for (int i = 0; i < 6; ++i) box->GetMesh()->bounds[4 + i] = i < 3 ? -5.0f : 5.0f;
  }
  OvClump *region = Object("region"), *trigger = Object("trigger");
  auto* r = OvArenaNew<OvCheckInOutSensorNode>(arena);
  r->checked = {1, 1, -1}, r->inNode = {2, 2, -1};
  r->inMask = 0x3, r->inValue = 0x1, r->outMask = 0x3, r->outValue = 0x2;
  auto* tr = OvArenaNew<OvCheckInOutSensorNode>(arena);
  *tr = *r;
  tr->regionMode = 0, tr->outNode = {3, 3, -1};
  Attach(r, region), Attach(tr, trigger);
  const struct {
    float x;
    uint32_t region, trigger;
  } path[] = {{5.0f, 0x1, 0x1}, {50, 0x2, 0x1}, {100, 0x2, 0x2}, {50, 0x2, 0x2}, {0, 0x1, 0x1}};
  for (const auto& p : path) {  // bounds included; outside both keeps the last flags
    mover->SetPos({p.x, 0, 0}), mover->CalcToWorldMatrix(), Step();
    EXPECT_TRUE(Flags(region) == p.region && Flags(trigger) == p.trigger) << p.x;
  }
}

TEST_F(Sensors, CheckDestroyedCountsMatchingObjectsAndHolds) {
  OvClump* victim = Object("victim", {0, 0, 0}, 4, 70);
  victim->SetRecordIndex(7);  // watched by record, not by ID
  OvClump* other = Object("other", {0, 0, 0}, 5, 8);
  OvClump *forever = Object("forever"), *brief = Object("brief");
  auto* keep = Make<OvCheckDestroyedSensorNode>(0x1, 0x1);
  keep->checkedRecord = 7, keep->number = 3, keep->minId = 10, keep->maxId = 12;
  auto* hold = Make<OvCheckDestroyedSensorNode>();
  hold->checkedRecord = 7, hold->holdSec = 0.5f;
  Attach(keep, forever), Attach(hold, brief);
  auto destroyed = [&](OvClump* c, int32_t nodeId) {
    c->GetLogObj()->LoSetNodeID(nodeId);
    forever->BroadcastMessage(OV_ACID_S_CHECK_DESTROYED, -1, reinterpret_cast<intptr_t>(c), 0);
    brief->BroadcastMessage(OV_ACID_S_CHECK_DESTROYED, -1, reinterpret_cast<intptr_t>(c), 0);
  };
  destroyed(victim, 11), destroyed(victim, 13), destroyed(other, 11), destroyed(victim, 10);
  EXPECT_TRUE(Flags(forever) == 0x0u && Flags(brief) == 0x1u);  // two matches so far
  forever->BroadcastMessage(OV_ACID_S_CHECK_DESTROYED, 0, reinterpret_cast<intptr_t>(victim), 0);
  destroyed(victim, 12);
  EXPECT_TRUE(Flags(forever) == 0x1u && forever->GetAniCtrlCount() == 0);  // took itself off
  const int32_t end = scene.GetTime() + scene.TimePerSec() / 2;
  while (scene.GetTime() <= end) {
    EXPECT_EQ(Flags(brief), 0x1u);
    Step(1, 10);
  }
  Step();
  EXPECT_TRUE(Flags(brief) == 0x2u && brief->GetAniCtrlCount() == 0);
  Step(3);
  EXPECT_EQ(Flags(forever), 0x1u);  // kept for good
}

// ---------------------------------------------------------------------------
// Stored blocks and authoring metadata.

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) out.insert(out.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)});
  return out;
}

uint32_t F(float f) { return std::bit_cast<uint32_t>(f); }
OvParamValue Slot(uint32_t w0, uint32_t w1 = 0, uint32_t w2 = 0) { return OvParamValue{{w0, w1, w2, 0}}; }

class SensorTypes : public ::testing::Test {
 protected:
  void SetUp() override { OvFreeAllNodeTypes(), OvRegisterNodeTypes(); }
  void TearDown() override { OvFreeAllNodeTypes(); }
  template <class Node, size_t N>
  Node* FromValues(uint32_t id, const OvParamValue (&v)[N]) {
    const OvNodeType* type = OvFindNodeType(0, id);
    EXPECT_EQ(type->CreateFromValues(arena, v, int(N) - 1), nullptr) << id;
    return static_cast<Node*>(type->CreateFromValues(arena, v, int(N)));
  }
  OvChunkArena arena;
};

TEST_F(SensorTypes, BlocksReadAndWriteByteForByte) {
  const uint32_t none = uint32_t(-1);
  const std::pair<uint32_t, std::vector<uint8_t>> blocks[] = {
      {6150, Words({100, 0x3, 0x1, 65, 1})},
      {6072, Words({0x3, 0x1, 100, 50})},
      {6100, Words({100, 0x3, 0x1, 0, 160000, 16000, 0})},
      {6140, Words({0x3, 0x1, 10, 12})},
      {6130, Words({0x3, 0x1, none - 99, 500})},
      {6030, Words({0x3, 0x1, F(1.5f), F(1000), 4, 9})},
      {6010, Words({100, 0x3, 0x1, 1, 5, F(0.5f), none, none})},
      {6020, Words({100, 0x3, 0x1, 1, 2, F(1), F(0.25f)})},
      {6035, Words({0x3, 0x1})},
      {5000, Words({100, 0, 0x1, 0x1, 0x2, 0x0, 1, 1, 2, 2, 3, 3})},
      {5010, Words({7, 3, none, none - 1, 0x3, 0x1, F(-1)})},
  };
  for (const auto& [id, bytes] : blocks) {
    const OvNodeType* type = OvFindNodeType(0, id);
    OvDbNode* node = type ? type->Create(arena) : nullptr;
    ASSERT_NE(node, nullptr) << id;
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    EXPECT_TRUE(node->Read(in, arena) && in.Remaining() == 0 && node->Write(out)) << id;
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes) << id;
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 4));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << id;
  }
}

TEST_F(SensorTypes, ParameterTablesAndCreateFromValues) {
  int count = 0;
  EXPECT_STREQ(OvParamChoice(OvFindNodeType(0, 6150)->GetParamTable(count)[2], 2), "Click Up");
  EXPECT_EQ(OvFindNodeType(0, 6130)->GetParamTable(count)[2].def.i, -100);
  EXPECT_EQ(OvFindNodeType(0, 5010)->GetParamTable(count)[2].def.f, -1.0f);
  EXPECT_TRUE(OvKeyChoiceCode(5) == 66 && OvKeyChoiceCode(97) == 186 && OvKeyChoiceCode(500) == 222);

  const OvParamValue keys[] = {Slot(0x10003, 0x1), Slot(0), Slot(1), Slot(0), Slot(2)};
  auto* kn = FromValues<OvKeyboardSensorNode>(6150, keys);
  ASSERT_TRUE(kn && kn->setMask == 0x3 && kn->keyCode == 257 && kn->keyState == 1);

  const OvParamValue angle[] = {Slot(1, 1), Slot(0), Slot(4, 5), Slot(1), Slot(2), Slot(F(60))};
  auto* an = FromValues<OvAngleBetweenSensorNode>(6010, angle);
  ASSERT_TRUE(an && std::fabs(an->cosine - 0.5f) < 1e-6f);
  EXPECT_TRUE(an->target.clumpKey == 5 && an->axisOwner == 1 && an->axis == 2);

  const OvParamValue area[] = {Slot(0), Slot(1, 1), Slot(0), Slot(2, 2), Slot(0),     Slot(4, 5),
                               Slot(0), Slot(6, 7), Slot(1), Slot(8, 9), Slot(10, 11)};
  auto* trig = FromValues<OvCheckInOutSensorNode>(5000, area);  // the in node where the region node would go
  ASSERT_TRUE(trig && trig->regionMode == 0 && trig->inNode.clumpKey == 9 && trig->outNode.objectKey == 10);

  OvParamValue gone[] = {Slot(1, 1), Slot(0), Slot(F(2)), Slot(4, 70, 7), Slot(3),
                         Slot(0),    Slot(0), Slot(0),    Slot(20),       Slot(30)};
  auto* cd = FromValues<OvCheckDestroyedSensorNode>(5010, gone);
  ASSERT_TRUE(cd && cd->checkedRecord == 7 && cd->number == 3 && cd->holdSec == 2.0f && !cd->ChecksId());
  gone[7] = Slot(1);
  cd = FromValues<OvCheckDestroyedSensorNode>(5010, gone);
  EXPECT_TRUE(cd && cd->minId == 20 && cd->maxId == 30);
}

}  // namespace

namespace {

// The scene tells watchers when it deletes an object, before it is gone.
TEST_F(Sensors, CheckDestroyedHearsTheSceneDeleteAnObject) {
  OvClump* victim = Object("victim", {0, 0, 0}, 4, 70);
  victim->SetRecordIndex(7);
  OvClump* watcher = Object("watcher");
  auto* node = Make<OvCheckDestroyedSensorNode>(0x2, 0x2);
  node->checkedRecord = 7;
  node->number = 1;
  Attach(node, watcher);
  Step();
  EXPECT_EQ(Flags(watcher), 0x0u);
  scene.DelLogObj(victim->GetLogObj());
  Step();
  EXPECT_EQ(Flags(watcher), 0x2u);
}

// Sensors that trigger for good leave their clump's list while the message
// is going round; the ones after them must still hear it.
TEST_F(Sensors, CheckDestroyedSensorsSharingAClumpAllHear) {
  OvClump* victim = Object("victim", {0, 0, 0}, 4, 70);
  victim->SetRecordIndex(7);
  OvClump* watcher = Object("watcher");
  for (uint32_t bit : {0x1u, 0x2u}) {
    auto* node = Make<OvCheckDestroyedSensorNode>(bit, bit);
    node->checkedRecord = 7;
    node->number = 1;
    Attach(node, watcher);
  }
  scene.DelLogObj(victim->GetLogObj());
  Step();
  EXPECT_EQ(Flags(watcher), 0x3u);
  EXPECT_EQ(watcher->GetAniCtrlCount(), 0);
}

}  // namespace
