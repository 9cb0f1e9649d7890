// Animation-playing nodes on real clumps in a ticking scene with sets from a
// database; their stored blocks and CreateFromValues.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "../scene/scene_fixture.h"
#include "ov_anim_nodes.h"
#include "ov_keyframe.h"
#include "ov_nodes.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

// Destroyed after the scene, whose clumps hold controllers of its nodes.
struct DbHolder {
  OvDatabase* db = OvDatabase::Create();
  ~DbHolder() { db ? db->Destroy() : void(); }
};

class AnimNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(db, nullptr);
    renderer.quiet = true;
    scene.SetRenderer(&renderer);
    AddCamera(scene);
    // Set i moves along axis i; record "body" (set 0) has child "arm" (set 1).
    const char* names[] = {"body", "arm"};
    for (int i = 0; i < 2; ++i) {
      auto* node = OvArenaNew<OvKeyTrackNode>(db->Arena(), OV_TRACK_POSITION);
      const int32_t times[] = {0, 100};
      float values[6] = {};
      values[3 + i] = 100.0f;
      node->SetTable(OvKeyTable::Create(db->Arena(), 2, 3, times, values));
      EXPECT_TRUE(db->AddAniSetEntry(*db->AddAniSet(), node));
      db->AddClumpRecord(names[i])->aniSetIndex = i;
    }
    db->ClumpRecord(0)->firstChild = 1;
  }
  template <class Node>
  Node* Make() {
    Node* n = OvArenaNew<Node>(db->Arena());
    n->Bind(db);
    return n;
  }
  OvAniCtrl* Attach(OvDbNode* node, OvClump* clump) {
    OvAniCtrl* ctrl = OvNodeController(node, clump);
    EXPECT_TRUE(ctrl && clump->AddAniCtrl(ctrl));
    return ctrl;
  }
  OvClump* Object(const char* name, int32_t objectId = 0, int32_t clumpId = 0) {
    OvClump* c = nullptr;
    AddObject(scene, name, &c)->LoSetID(objectId);
    c->SetID(clumpId);
    return c;
  }
  void Step(int n = 1, int32_t units = 1) {
    while (n-- > 0) StepFrame(scene, units);
  }
  static OvAcKeyPlayback* Playback(const OvClump* c) {
    return static_cast<OvAcKeyPlayback*>(c->FindAniCtrl(OV_ACID_KEY_PLAYBACK));
  }

  DbHolder holder;
  OvDatabase* db = holder.db;
  RecordingRenderer renderer{nullptr};
  OvScene scene;
};

TEST_F(AnimNodes, ApplyAnimationLoopsAndHoldsItsFlagWhileRunning) {
  // From the start of the object's clock, and running across its wrap.
  for (const int32_t clockAt : {int32_t(0), MAX_TIME - 15}) {
    OvClump* c = Object("body");
    c->GetLogObj()->GotoFrame(clockAt);
    auto* n = Make<OvApplyAnimationNode>();
    n->checkMask = n->checkValue = 0x1, n->applyMask = 0x4;
    n->options = 0, n->sourceIndex = 1, n->to = 10;  // set 1 on the object's clock
    EXPECT_EQ(Attach(n, c)->GetCtrlId(), OV_ACID_APPLY_ANIMATION);
    Step(3);
    EXPECT_EQ(Playback(c), nullptr);  // the test fails: nothing
    c->SetSwitch(0x1, 0x1);
    std::vector<int32_t> starts;
    bool flagStayedOn = true;  // restarts set it again in the frame that clears it
    for (int i = 0; i < 30; ++i) {
      Step();
      const OvAcKeyPlayback* p = Playback(c);
      if (p && (starts.empty() || starts.back() != p->Start())) starts.push_back(p->Start());
      flagStayedOn = flagStayedOn && (c->GetSwitch() & 0x4);
    }
    // Restarted once a run lasted more than to - from.
    ASSERT_EQ(starts.size(), 3u) << clockAt;
    EXPECT_EQ(OvTimeDelta(starts[1], starts[0]), 11) << clockAt;
    EXPECT_EQ(OvTimeDelta(starts[2], starts[1]), 11) << clockAt;
    EXPECT_TRUE(c->GetPos().x == 0.0f && c->GetPos().y > 0.0f && flagStayedOn) << clockAt;
    c->SetSwitch(0x1, 0x0), Step(12);
    EXPECT_EQ(c->GetSwitch() & 0x4, 0u) << clockAt;  // the last run ended, nothing restarted
  }
}

TEST_F(AnimNodes, ApplyAnimationWithoutEndAppliesOnceDownTheTreeAndLeaves) {
  OvClump* body = Object("body");
  OvClump* arm = OvClump::Create();
  arm->SetName("arm"), body->AttachChild(arm);
  auto* n = Make<OvApplyAnimationNode>();
  n->sourceIndex = 0, n->from = 50, n->to = 0;  // a clump record with "All Children"
  Attach(n, body);
  Step();
  EXPECT_EQ(body->FindAniCtrl(OV_ACID_APPLY_ANIMATION), nullptr);
  ASSERT_TRUE(Playback(body) && Playback(arm));
  EXPECT_TRUE(Playback(body)->End() == MAX_TIME && (Playback(body)->Mode() & 3) == OV_PLAY_SCENE);
  OvClump* lone = Object("lone");
  Attach(OvArenaNew<OvApplyAnimationNode>(db->Arena()), lone)->Hierarchy(lone, 0);  // no database: nothing
  Step(5);
  EXPECT_TRUE(Playback(body) && !Playback(lone));
}

TEST_F(AnimNodes, ApplyMotionBlendsReappliesAndSetsItsFlag) {
  OvClump* c = Object("body");
  auto* n = Make<OvApplyMotionNode>();
  n->checkMask = n->checkValue = 0x1, n->motionMask = 0x30, n->motionValue = 0x10;
  n->options = OvApplyMotionNode::kCanReapply, n->recordIndex = 0, n->to = 100, n->blend = 7, n->selfBlend = 3;
  Attach(n, c);
  c->SetSwitch(0x1, 0x1), Step();
  ASSERT_NE(Playback(c), nullptr);
  const int32_t first = Playback(c)->Start();
  EXPECT_TRUE(Playback(c)->BlendLength() == 7 && (c->GetSwitch() & 0x30) == 0x10u);
  Step(5);
  EXPECT_EQ(Playback(c)->Start(), first);  // running, test still passing: no restart
  c->SetSwitch(0x1, 0x0), Step();          // the test fails: re-apply allowed
  c->SetSwitch(0x1, 0x1), Step();
  EXPECT_TRUE(Playback(c)->Start() != first && Playback(c)->BlendLength() == 7);  // still running: no self blend
}

TEST_F(AnimNodes, GoToFrameAndPauseDriveTheObjectClock) {
  OvClump* absolute = Object("absolute");
  OvClump* relative = Object("relative");
  const OvLogObj* clock = Object("clock")->GetLogObj();
  auto* hold = Make<OvGotoFrameNode>();
  hold->checkMask = hold->checkValue = 0x1, hold->options = 0, hold->amount = 100;  // absolute
  auto* add = Make<OvGotoFrameNode>();
  add->validStart = 20, add->validEnd = 40, add->mode = OvGotoFrameNode::kRelative, add->amount = 1000;
  EXPECT_EQ(Attach(hold, absolute), static_cast<OvAniCtrl*>(hold));  // shared: the node itself
  Attach(add, relative);
  Step(3, 5);
  EXPECT_EQ(absolute->GetLogObj()->GetCrntFrame(), clock->GetCrntFrame());  // the test fails
  absolute->SetSwitch(0x1, 0x1);
  Step(4, 5);  // held; the other jumped once at t 20, then left the window
  EXPECT_EQ(absolute->GetLogObj()->GetCrntFrame(), 100);
  EXPECT_EQ(relative->GetLogObj()->GetCrntFrame(), clock->GetCrntFrame() + 1000);

  OvClump* c = Object("paused");
  auto* n = Make<OvAnimPauseObjNode>();
  n->checkMask = n->checkValue = 0x2;
  Attach(n, c);
  OvLogObj* o = c->GetLogObj();
  Step(2, 10);
  const int32_t stopped = o->GetCrntFrame();
  Step(3, 10);
  EXPECT_TRUE(o->IsTimeFreeze() && o->GetCrntFrame() == stopped);
  c->SetSwitch(0x2, 0x2), Step(1, 10);  // unfrozen in this frame, runs from the next
  Step(1, 10);
  EXPECT_TRUE(!o->IsTimeFreeze() && o->GetCrntFrame() == stopped + 10);
}

TEST_F(AnimNodes, MeterShowsValuesAndDiesWithoutTarget) {
  OvClump* target = Object("target", 5, 7);
  target->GetLogObj()->SetHealth(50);
  OvClump* gauge = Object("gauge");
  auto* health = Make<OvMeterNode>();
  health->target = {5, 7, -1};
  Attach(health, gauge);
  OvClump* scoreClump = Object("score");
  auto* score = Make<OvMeterNode>();
  score->code = OV_METER_HISCORE, score->options = OvMeterNode::kSmooth;
  Attach(score, scoreClump);
  OvSetMeterScoreSource([](bool high) { return high ? 80 : 25; });
  Step(1);
  EXPECT_FALSE(gauge->GetLogObj()->IsTimeFreeze());  // the first call only arms it
  Step(1);
  EXPECT_TRUE(gauge->GetLogObj()->IsTimeFreeze() && gauge->GetLogObj()->GetCrntFrame() == 8000);
  target->GetLogObj()->SetHealth(25), Step(1);
  EXPECT_EQ(gauge->GetLogObj()->GetCrntFrame(), 4000);
  Step(1, 100);  // the high score, 80 -> 12800, approached by the last step
  const int32_t before = scoreClump->GetLogObj()->GetCrntFrame();
  Step(1, 100);
  EXPECT_EQ(scoreClump->GetLogObj()->GetCrntFrame(), before + 100);
  OvSetMeterScoreSource(nullptr);

  Attach(Make<OvMeterNode>(), Object("orphan", 9));  // health, no target, "Destroy with Target"
  Step(1);
  EXPECT_EQ(scene.SearchLogObj_ID(9), nullptr);
}

// ---------------------------------------------------------------------------
// Stored blocks and authoring metadata.

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words)
    for (int b = 0; b < 4; ++b) out.push_back(uint8_t(w >> (8 * b)));
  return out;
}
uint32_t F(float f) { return std::bit_cast<uint32_t>(f); }
OvParamValue Slot(uint32_t w0, uint32_t w1 = 0, uint32_t w2 = 0) { return OvParamValue{{w0, w1, w2, 0}}; }
std::string g_trace;

class AnimNodeTypes : public ::testing::Test {
 protected:
  void SetUp() override {
    OvFreeAllNodeTypes();
    OvRegisterNodeTypes();
    g_trace.clear();
    OvTraceSetSink([](void*, const char* text) { g_trace += text; }, nullptr);
  }
  void TearDown() override {
    OvTraceSetSink(nullptr, nullptr);
    OvFreeAllNodeTypes();
  }
  template <class Node, size_t N>
  Node* FromValues(OvChunkArena& in, const OvParamValue (&v)[N], int count = int(N)) {
    OvTypeId pair;
    Node().GetTypeId(pair);
    return static_cast<Node*>(OvFindNodeType(pair.group, pair.id)->CreateFromValues(in, v, count));
  }
  OvChunkArena arena;
};

TEST_F(AnimNodeTypes, BlocksReadAndWriteByteForByte) {
  const std::pair<OvTypeId, std::vector<uint8_t>> blocks[] = {
      {OV_NODE_APPLY_ANIMATION, Words({100, 0x1, 0x1, 0x8, 0x4, 3, 2, 10, 200})},  // two different mask copies
      {OV_NODE_APPLY_MOTION, Words({100, 0x1, 0x0, 0x30, 0x10, 0xF, 4, 0, 160, 8, 4})},
      {OV_NODE_GOTO_FRAME, Words({100, 0x2, 0x2, 1, 5, uint32_t(-1), 3, 77})},
      {OV_NODE_ANIM_PAUSE_OBJ, Words({0x8, 0x0})},
      {OV_NODE_METER, Words({100, 3, 5, 7, 0, 16000, 4, F(0.5f), F(-2.0f)})},
  };
  for (const auto& [pair, bytes] : blocks) {
    const OvNodeType* type = OvFindNodeType(pair.group, pair.id);
    OvDbNode* node = type ? type->Create(arena) : nullptr;
    ASSERT_TRUE(node && !node->IsInert()) << pair.id;
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    EXPECT_TRUE(node->Read(in, arena) && in.Remaining() == 0u && node->Write(out)) << pair.id;
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes) << pair.id;
    EXPECT_TRUE(pair != OV_NODE_APPLY_ANIMATION || static_cast<OvApplyAnimationNode*>(node)->applyMask == 0x4u);
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 4));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << pair.id;  // cut short: fails, reads nothing past
  }
}

TEST_F(AnimNodeTypes, ParameterTablesAndCreateFromValues) {
  int count = 0;
  const OvNodeParamDesc* meterTable = OvFindNodeType(OV_NODE_METER.group, OV_NODE_METER.id)->GetParamTable(count);
  ASSERT_EQ(count, 8);
  EXPECT_EQ(OvParamChoiceCount(meterTable[3]), 7);
  EXPECT_EQ(meterTable[7].def.i, 1);
  EXPECT_NE(OvFindNodeType(OV_NODE_APPLY_MOTION.group, OV_NODE_APPLY_MOTION.id)->GetParamTable(count), nullptr);
  EXPECT_EQ(count, 14);
  DbHolder h;
  OvDatabase* db = h.db;
  ASSERT_TRUE(db && db->SetName("content"));
  OvClumpRecord* root = db->AddClumpRecord("root");
  root->id = 10, root->firstChild = 1, root->scale[1] = 2.0f;
  OvClumpRecord* leg = db->AddClumpRecord("leg");
  leg->id = 42, leg->aniSetIndex = 6;
  db->Header().frameRate = 60, db->Header().timeUnitsPerFrame = 10;
  // Check, chosen clump (object key, clump key, record), from, to, set flag, independent, children.
  OvParamValue v[] = {Slot(0), Slot(0), Slot(0x10001, 0x1), Slot(3, 10, 1), Slot(0), Slot(30), Slot(0x4),
                      Slot(1), Slot(0)};
  EXPECT_EQ(FromValues<OvApplyAnimationNode>(db->Arena(), v, 8), nullptr);
  auto* a = FromValues<OvApplyAnimationNode>(db->Arena(), v);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->checkMask, 0x1u);
  EXPECT_EQ(a->applyMask, 0x4u);
  EXPECT_EQ(a->options, OvApplyAnimationNode::kIndependentTime);
  EXPECT_EQ(a->sourceIndex, 6);  // the chosen record's set without "All Children"
  EXPECT_NE(g_trace.find("The time between 'from' -> 'to' is only 0.050000 seconds"), std::string::npos);
  EXPECT_NE(g_trace.find("Parent of 'leg' has been scaled (1.000000,2.000000,1.000000)"), std::string::npos);
  v[8] = Slot(1), v[5] = Slot(600), g_trace.clear();
  a = FromValues<OvApplyAnimationNode>(db->Arena(), v);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->sourceIndex, 1);  // the record itself
  EXPECT_EQ(g_trace.find("only"), std::string::npos);
  // No such record: the message names the node's owner, which a tool gives
  // as a text in the first internal item (the database when it gave none).
  v[3] = Slot(3, 10, 9);
  const std::string door = "door";
  const auto address = uint64_t(reinterpret_cast<uintptr_t>(door.c_str()));
  const struct {
    OvParamValue owner;
    const char* message;
  } owners[] = {{Slot(uint32_t(address), uint32_t(address >> 32)), "!!!! door: 'Apply animation' apply nothing.\n"},
                {Slot(0), "!!!! content: 'Apply animation' apply nothing.\n"}};
  for (const auto& o : owners) {
    v[0] = o.owner, g_trace.clear();
    EXPECT_EQ(FromValues<OvApplyAnimationNode>(db->Arena(), v), nullptr);
    EXPECT_NE(g_trace.find(o.message), std::string::npos) << g_trace;
  }
  v[0] = Slot(0);

  const OvParamValue m[] = {Slot(0), Slot(0),          Slot(0x1, 0x1), Slot(0, 42, 0), Slot(5), Slot(900), Slot(4),
                            Slot(2), Slot(0x30, 0x10), Slot(1),        Slot(0),        Slot(1), Slot(0),   Slot(1)};
  auto* motion = FromValues<OvApplyMotionNode>(db->Arena(), m);
  ASSERT_NE(motion, nullptr);
  EXPECT_EQ(motion->recordIndex, 0);
  EXPECT_EQ(motion->blend, 4);
  EXPECT_EQ(motion->selfBlend, 2);
  EXPECT_EQ(motion->motionValue, 0x10u);
  EXPECT_EQ(motion->options, 0xEu);  // keep orientation, all children, can reapply

  // "Go to Frame": (absolute, relative, correction) -> mode, amount.
  const int32_t modes[][5] = {{1, 1, 1, 1, 70}, {0, 1, 0, 2, 12}, {0, 1, 1, 3, 12}, {0, 0, 1, 0, 70}};
  for (const auto& k : modes) {
    const OvParamValue g[] = {Slot(0x2, 0x2), Slot(0),    Slot(1),    Slot(5), Slot(9),      Slot(k[0]),
                              Slot(70),       Slot(k[1]), Slot(k[2]), Slot(5), Slot(F(2.5f))};
    auto* go = FromValues<OvGotoFrameNode>(arena, g);
    ASSERT_NE(go, nullptr) << k[3];
    EXPECT_EQ(go->mode, k[3]);
    EXPECT_EQ(go->amount, k[4]) << k[3];
    EXPECT_EQ(go->validEnd, 9) << k[3];
  }
  const OvParamValue p[] = {Slot(0), Slot(0), Slot(0x8, 0x8), Slot(0)};
  EXPECT_EQ(FromValues<OvAnimPauseObjNode>(arena, p)->checkValue, 0x8u);
  OvParamValue g[] = {Slot(4, 5), Slot(10), Slot(20), Slot(0), Slot(F(1)), Slot(F(2)), Slot(1), Slot(0)};
  for (uint32_t choice = 0; choice < 8; ++choice) {
    g[3] = Slot(choice);
    auto* meter = FromValues<OvMeterNode>(arena, g);
    ASSERT_NE(meter, nullptr) << choice;
    EXPECT_EQ(meter->code, "\1\2\3\4\0\6\7\0"[choice]) << choice;
    EXPECT_EQ(meter->options, OvMeterNode::kSmooth) << choice;
  }
}

}  // namespace
