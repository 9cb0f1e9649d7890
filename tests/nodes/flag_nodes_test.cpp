// Flag, trigger and reaction-variable nodes on real clumps in a ticking
// scene; their stored blocks, parameter tables and CreateFromValues.
#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "../scene/scene_fixture.h"
#include "ov_flag_nodes.h"
#include "ov_node_flags.h"
#include "ov_nodes.h"
#include "ov_stream.h"

namespace {

class FlagNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene.SetRenderer(&renderer);
    AddCamera(scene);
  }
  template <class Node>
  Node* Make() {
    return OvArenaNew<Node>(arena);
  }
  OvAniCtrl* Attach(OvDbNode* node, OvClump* clump) {
    OvAniCtrl* ctrl = OvNodeController(node, clump);
    EXPECT_TRUE(ctrl && ctrl->IsOwned() && ctrl->GetChannelMask() == 0 && clump->AddAniCtrl(ctrl));
    return ctrl;
  }
  OvClump* Object(const char* name, int32_t objectId = 0, int32_t clumpId = 0, OvVector pos = {0, 0, 0}) {
    OvClump* c = nullptr;
    OvLogObj* o = AddObject(scene, name, &c, pos);
    o->LoSetID(objectId);
    c->SetID(clumpId);
    c->CalcToWorldMatrix();
    return c;
  }
  void Step(int n = 1, int32_t units = 1) {
    for (int i = 0; i < n; ++i) StepFrame(scene, units);
  }

  OvChunkArena arena;
  RecordingRenderer renderer{nullptr};
  OvScene scene;
};

uint32_t Flags(const OvClump* c) { return c->GetSwitch() & OV_SWITCH_FLAGS; }

TEST(FlagHelpers, MasksReachOnlyTheSwitchesAndMapsClamp) {
  const uint32_t flags = 0x10005;  // invisible bit and two switches
  EXPECT_TRUE(OvFlagTest(flags, 0x10001, 0x1));
  EXPECT_TRUE(OvFlagTest(flags, 0, 0xFFFF));  // an empty mask always passes
  EXPECT_FALSE(OvFlagTestAll(flags, 0x6));
  EXPECT_EQ(OvFlagChange(flags, 0x1000F, 0xA), 0x1000Au);
  EXPECT_EQ(OvFlagChangeInverse(flags, 0x1000F, 0xA), 0x10005u);
  OvVarMap m{int32_t(OV_VARMAP_CLAMP), 0, 0, 1, 10, 0};  // falling input range
  EXPECT_TRUE(m.Map(12) == 0.0f && m.Map(-1) == 1.0f && m.Map(5) == 0.5f);
  m.options = 0, m.inTo = 10;
  EXPECT_FLOAT_EQ(m.Map(50), 0.0f);  // empty range: slope 0
}

TEST_F(FlagNodes, FlagTriggerFiresOnRisingEdgesAndHoldsOneFrame) {
  OvClump* held = Object("held");
  OvClump* kept = Object("kept");
  auto* hold = Make<OvFlagTriggerNode>();
  hold->checkMask = hold->checkValue = 0x1;
  hold->setMask = 0x6, hold->setValue = 0x2, hold->options = OvFlagTriggerNode::kHold;
  auto* keep = Make<OvFlagTriggerNode>();
  *keep = *hold;
  keep->options = 0;
  held->SetSwitch(0x1, 0x1), kept->SetSwitch(0x1, 0x1);  // true before the first frame: fires at once
  Attach(hold, held), Attach(keep, kept);
  Step();
  EXPECT_EQ(Flags(held) & 0x6, 0x2u);
  Step();
  EXPECT_EQ(Flags(held) & 0x6, 0x4u);  // the inverse, not what was there before
  EXPECT_EQ(Flags(kept) & 0x6, 0x2u);
  held->SetSwitch(0x6, 0x0);
  Step(3);  // the level stays: no new edge
  EXPECT_EQ(Flags(held) & 0x6, 0x0u);
}

TEST_F(FlagNodes, CountFlagTriggerCountsEdgesAndWrapsInsideTheMask) {
  OvClump* c = Object("counter");
  auto* n = Make<OvCountFlagTriggerNode>();
  n->checkMask = n->checkValue = 0x1;
  n->countDown = 3;
  n->incMask = 0x30, n->incUnit = 0x10;
  c->SetSwitch(0x48, 0x48);  // bits outside the counter
  Attach(n, c);
  for (int edge = 1; edge <= 12; ++edge) {
    c->SetSwitch(0x1, 0x1);
    Step(2);  // a level that stays counts once
    c->SetSwitch(0x1, 0x0);
    Step();
    EXPECT_EQ(Flags(c) & 0x78, 0x48u | uint32_t((edge / 3) % 4) * 0x10) << edge;
  }
}

TEST_F(FlagNodes, AndOrFlagWritesEveryFrame) {
  OvClump* c = Object("logic");
  auto* n = Make<OvAndOrFlagNode>();
  n->checkMask = n->checkValue = 0x3;
  n->setMask = n->setValue = 0x10;
  EXPECT_EQ(Attach(n, c)->GetCtrlId(), OV_ACID_AND_OR_FLAG);
  struct Case {
    int32_t op;
    uint32_t flags, out;
  };
  const Case cases[] = {{OvAndOrFlagNode::kOr, 0x0, 0x0},
                        {OvAndOrFlagNode::kOr, 0x1, 0x10},
                        {OvAndOrFlagNode::kAnd, 0x1, 0x0},
                        {OvAndOrFlagNode::kAnd, 0x3, 0x10}};
  for (const Case& k : cases) {
    n->operation = k.op;
    c->SetSwitch(0x13, k.flags | (k.out ^ 0x10));  // start from the opposite output
    Step();
    EXPECT_EQ(Flags(c) & 0x10, k.out) << k.op << " " << k.flags;
  }
}

TEST_F(FlagNodes, TimingFlagDelaysHoldsAndRestarts) {
  // From the start of the clock, and running across its 32-bit wrap.
  for (const int32_t clockAt : {int32_t(0), MAX_TIME - 100}) {
    if (clockAt != 0) {
      scene.SetTime(clockAt);
      Step();
    }
    OvClump* c = Object("timer");
    auto* n = Make<OvTimingFlagNode>();
    n->checkMask = 0x1;
    n->delaySec = 1.0f, n->holdSec = 1.0f;
    n->setMask = n->setValue = 0x2;
    EXPECT_EQ(Attach(n, c)->GetCtrlId(), OV_ACID_TIMING_FLAG);
    ASSERT_EQ(scene.TimePerSec(), 60);
    Step(5);
    c->SetSwitch(0x1, 0x1);
    const int32_t start = scene.GetTime();
    std::vector<int32_t> changes;  // animate times at which bit 0x2 flipped
    uint32_t last = 0;
    for (int i = 0; i < 330; ++i) {
      const int32_t t = OvTimeDelta(scene.GetTime(), start);
      if (t == 200) c->SetSwitch(0x1, 0x0);  // does not stop a running timer
      Step();
      if ((Flags(c) & 0x2) != last) changes.push_back(t);
      last = Flags(c) & 0x2;
    }
    EXPECT_EQ(changes, (std::vector<int32_t>{60, 121, 182, 243})) << clockAt;
  }
}

TEST_F(FlagNodes, RandomFlagDrawsFromTheSceneTime) {
  OvClump* all = Object("all");
  OvClump* one = Object("one");
  auto* n = Make<OvRandomFlagNode>();
  n->mask = 0xF0, n->onlyOne = 0;
  auto* pick = Make<OvRandomFlagNode>();
  pick->mask = 0x0F0F;
  EXPECT_EQ(Attach(n, all)->GetCtrlId(), OV_ACID_RANDOM_FLAG);
  Attach(pick, one);
  for (int i = 0; i < 20; ++i) {
    const uint32_t r = uint32_t(scene.GetTime()) * 214013u + 2531011u;
    Step();
    EXPECT_EQ(Flags(all) & 0xF0, r & 0xF0);
    int k = int(((r >> 16) & 0x7FFF) % 8);  // k-th mask bit from the top
    uint32_t want = 0;
    for (uint32_t b = 0x8000; b && !want; b >>= 1) {
      if ((0x0F0F & b) && k-- == 0) want = b;
    }
    EXPECT_EQ(Flags(one) & 0x0F0F, want);
  }
}

TEST_F(FlagNodes, RefOthersFlagResolvesRetriesAndVoidsItsTarget) {
  OvClump* self = Object("self");
  auto* n = Make<OvRefOthersFlagNode>();
  n->otherMask = n->otherValue = 0x1;
  n->setMask = n->setValue = 0x2;
  n->target = {3, 4, -1};
  EXPECT_EQ(Attach(n, self)->GetCtrlId(), OV_ACID_REF_OTHERS_FLAG);
  self->SetSwitch(0x2, 0x2);
  const int32_t first = scene.GetTime();
  Step();  // nothing found: the inverse change
  EXPECT_EQ(Flags(self) & 0x2, 0u);
  OvClump* late = Object("late", 3, 4);
  late->SetSwitch(0x1, 0x1);
  int32_t foundAt = -1;
  for (int i = 0; i < 40 && foundAt < 0; ++i) {
    const int32_t t = scene.GetTime();
    Step();
    if (Flags(self) & 0x2) foundAt = t - first;
  }
  EXPECT_EQ(foundAt, 32);          // the next lookup waits 32 units
  EXPECT_EQ(late->RefCount(), 2);  // held

  // No object key: the first clump of leading object 0.
  OvClump* follower = Object("follower");
  auto* byDefault = Make<OvRefOthersFlagNode>();
  *byDefault = *n;
  byDefault->target = {-1, -1, -1};
  Attach(byDefault, follower);
  ASSERT_TRUE(scene.SetLeadingLogObj(0, late->GetLogObj()));
  Step();
  EXPECT_EQ(Flags(follower) & 0x2, 0x2u);
}

TEST_F(FlagNodes, RvDistanceMapsDistanceAndForgetsADeletedTarget) {
  OvClump* target = Object("target", 5, 6, {3, 4, 0});
  OvClump* self = Object("self");
  auto* n = Make<OvRvDistanceNode>();
  n->target = {5, 6, -1};
  n->map.var = 2;
  n->map.outTo = 100, n->map.inTo = 10;  // clamp on by default
  Attach(n, self);
  Step();
  EXPECT_FLOAT_EQ(self->CpGetReactionVar(2), 50.0f);
  target->SetPos({30, 40, 0}), Step();
  EXPECT_FLOAT_EQ(self->CpGetReactionVar(2), 100.0f);
  scene.DelClump(target), Step();
  EXPECT_EQ(self->CpGetReactionVar(2), OV_REACTION_VAR_UNSET);
  Object("new", 5, 6, {1, 0, 0});
  Step(40);
  EXPECT_EQ(self->CpGetReactionVar(2), OV_REACTION_VAR_UNSET);
}

TEST_F(FlagNodes, RvReactionVarCopiesOrMaps) {
  OvClump* self = Object("self");
  OvClump* source = Object("source", 1, 2);
  auto* copy = Make<OvRvReactionVarNode>();  // own variable, identity mapping
  copy->sourceVar = 1;
  copy->map.var = 2;
  auto* mapped = Make<OvRvReactionVarNode>();
  mapped->target = {1, 2, -1};
  mapped->map = {int32_t(OV_VARMAP_CLAMP), 3, 100, 200, 0, 10};
  Attach(copy, self), Attach(mapped, self);
  self->CpSetReactionVar(2, 1.0f), self->CpSetReactionVar(3, 1.0f);
  Step();
  EXPECT_EQ(self->CpGetReactionVar(2), OV_REACTION_VAR_UNSET);
  EXPECT_EQ(self->CpGetReactionVar(3), OV_REACTION_VAR_UNSET);  // source undefined
  self->CpSetReactionVar(1, 42.0f), source->CpSetReactionVar(0, 5.0f);
  Step();
  EXPECT_FLOAT_EQ(self->CpGetReactionVar(2), 42.0f);
  EXPECT_FLOAT_EQ(self->CpGetReactionVar(3), 150.0f);
  source->CpSetReactionVar(0, 20.0f), Step();
  EXPECT_FLOAT_EQ(self->CpGetReactionVar(3), 200.0f);
}

TEST_F(FlagNodes, RFrameDrivesTheObjectClock) {
  OvClump* jump = Object("jump");
  OvClump* smooth = Object("smooth");
  auto* direct = Make<OvRFrameNode>();
  direct->frameTo = 1000;  // 10 frames per unit of the variable
  auto* eased = Make<OvRFrameNode>();
  *eased = *direct;
  eased->options = OvRFrameNode::kSmooth;
  Attach(direct, jump), Attach(eased, smooth);
  OvLogObj *jo = jump->GetLogObj(), *so = smooth->GetLogObj();
  Step(1, 10);
  EXPECT_FALSE(jo->IsTimeFreeze());  // the first call only arms it
  jump->CpSetReactionVar(0, 50.0f), smooth->CpSetReactionVar(0, 2.5f);
  Step(2, 10);
  EXPECT_TRUE(jo->IsTimeFreeze() && jo->GetCrntFrame() == 500);
  EXPECT_EQ(so->GetCrntFrame(), 25);  // reached, then held
  smooth->CpSetReactionVar(0, 10.0f), Step(1, 10);
  EXPECT_EQ(so->GetCrntFrame(), 35);
  smooth->CpSetReactionVar(0, OV_REACTION_VAR_UNSET);  // keeps moving to 100
  Step(6, 10);
  EXPECT_EQ(so->GetCrntFrame(), 95);
  Step(1, 10);
  EXPECT_EQ(so->GetCrntFrame(), 100);
  smooth->CpSetReactionVar(0, 9.7f), Step(1, 10);  // 97: below, limited to the target
  EXPECT_EQ(so->GetCrntFrame(), 97);
}

// ---------------------------------------------------------------------------
// Stored blocks and authoring metadata.

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) {
    for (int b = 0; b < 4; ++b) out.push_back(uint8_t(w >> (8 * b)));
  }
  return out;
}

uint32_t F(float f) { return std::bit_cast<uint32_t>(f); }

class FlagNodeTypes : public ::testing::Test {
 protected:
  void SetUp() override {
    OvFreeAllNodeTypes();
    OvRegisterNodeTypes();
  }
  void TearDown() override { OvFreeAllNodeTypes(); }
  OvChunkArena arena;
};

TEST_F(FlagNodeTypes, BlocksReadAndWriteByteForByte) {
  struct Block {
    OvTypeId pair;
    std::vector<uint8_t> bytes;
  };
  const Block blocks[] = {
      {OV_NODE_FLAG_TRIGGER, Words({100, 1, 0x3, 0x1, 0x30, 0x10})},
      {OV_NODE_COUNT_FLAG_TRIGGER, Words({100, 0x1, 0x1, 3, 0x30, 0x10})},
      {OV_NODE_AND_OR_FLAG, Words({0x3, 0x2, 0x10, 0x10, 1})},
      {OV_NODE_TIMING_FLAG, Words({100, 0x5, F(1.5f), F(0.25f), 0x8, 0x8})},
      {OV_NODE_RANDOM_FLAG, Words({0xF0, 1})},
      {OV_NODE_REF_OTHERS_FLAG, Words({0x1, 0x1, 0x2, 0x0, 7, 9})},
      {OV_NODE_RV_DISTANCE, Words({100, 7, 9, 100, 1, 2, F(0), F(1), F(5), F(50)})},
      {OV_NODE_RV_REACTION_VAR, Words({100, uint32_t(-1), uint32_t(-1), 3, 100, 0, 1, F(0), F(1), F(2), F(3)})},
      {OV_NODE_R_FRAME, Words({100, 1, 0, 16000, 2, F(-1), F(1)})},
  };
  for (const Block& b : blocks) {
    const OvNodeType* type = OvFindNodeType(b.pair.group, b.pair.id);
    OvDbNode* node = type ? type->Create(arena) : nullptr;
    ASSERT_NE(node, nullptr) << b.pair.id;
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(b.bytes.data(), b.bytes.size()));
    EXPECT_TRUE(node->Read(in, arena)) << b.pair.id;
    EXPECT_EQ(in.Remaining(), 0u) << b.pair.id;
    OvStream out;
    ASSERT_TRUE(out.OpenMemoryWrite());
    EXPECT_TRUE(node->Write(out));
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), b.bytes) << b.pair.id;
    // A block cut short fails without reading past the data.
    OvStream cut;
    ASSERT_TRUE(cut.OpenMemory(b.bytes.data(), b.bytes.size() - 4));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << b.pair.id;
  }
}

OvParamValue Slot(uint32_t w0, uint32_t w1 = 0) { return OvParamValue{{w0, w1, 0, 0}}; }

TEST_F(FlagNodeTypes, ParameterTablesAndCreateFromValues) {
  int count = 0;
  const OvNodeParamDesc* timing = OvFindNodeType(0, 6110)->GetParamTable(count);
  ASSERT_EQ(count, 4);
  EXPECT_TRUE(timing[2].number == 3 && timing[0].kind == OV_PK_FLAG_MASK && timing[1].def.f == 1.0f);
  const OvNodeParamDesc* rv = OvFindNodeType(0, 14100)->GetParamTable(count);
  ASSERT_EQ(count, 8);
  EXPECT_STREQ(OvParamChoice(rv[5], 3), "Var 4");
  EXPECT_EQ(OvFindNodeType(0, 15000)->GetParamTable(count)[4].def.i, 16000);

  const OvParamValue counts[] = {Slot(0x1, 0x1), Slot(3), Slot(0x30, 0x30)};
  const OvNodeType* countType = OvFindNodeType(0, 6910);
  EXPECT_EQ(countType->CreateFromValues(arena, counts, 2), nullptr);
  auto* counter = static_cast<OvCountFlagTriggerNode*>(countType->CreateFromValues(arena, counts, 3));
  ASSERT_NE(counter, nullptr);
  EXPECT_TRUE(counter->countDown == 3 && counter->incUnit == 0x10);  // lowest bit of the mask

  const OvParamValue times[] = {Slot(0x10003), Slot(F(2.0f)), Slot(F(0.5f)), Slot(0x4, 0x0)};
  auto* timer = static_cast<OvTimingFlagNode*>(OvFindNodeType(0, 6110)->CreateFromValues(arena, times, 4));
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->checkMask == 0x3 && timer->holdSec == 0.5f && timer->setMask == 0x4);

  const OvParamValue vars[] = {Slot(2), Slot(F(1)), Slot(F(9)), Slot(0), Slot(4, 5), Slot(3), Slot(F(3)), Slot(F(30))};
  auto* rvar = static_cast<OvRvReactionVarNode*>(OvFindNodeType(0, 14100)->CreateFromValues(arena, vars, 8));
  ASSERT_NE(rvar, nullptr);
  EXPECT_TRUE(rvar->map.var == 2 && rvar->sourceVar == 3 && rvar->map.inFrom == 3.0f && rvar->target.clumpKey == 5);
}

}  // namespace
