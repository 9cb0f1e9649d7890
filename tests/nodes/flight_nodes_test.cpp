// Flight and alignment nodes on real clumps in a ticking scene (60 units a
// second, one unit a frame); their stored blocks, tables and CreateFromValues.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "../scene/scene_fixture.h"
#include "ov_flight_nodes.h"
#include "ov_nodes.h"
#include "ov_stream.h"

namespace {

class FlightNodes : public ::testing::Test {
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
    EXPECT_TRUE(ctrl && clump->AddAniCtrl(ctrl));
    return ctrl;
  }
  OvClump* Object(int32_t objectId, OvVector pos = {0, 0, 0}, OvQuat q = {1, {0, 0, 0}}, OvVector s = {1, 1, 1}) {
    OvClump* c = nullptr;
    AddObject(scene, "o", &c, pos)->LoSetID(objectId);
    c->SetID(7), c->SetQuat(q), c->SetScale(s);
    c->CalcToWorldMatrix();
    return c;
  }
  void Step(int n = 1) {
    for (int i = 0; i < n; ++i) StepFrame(scene, 1);
  }
  OvChunkArena arena;
  RecordingRenderer renderer{nullptr};
  OvScene scene;
};

OvVector Row(const OvClump* c, int i) {
  OvVector r;
  OvMatrixGetRow(*c->GetToWorldMatrix(), i, r);
  return r;
}
OvQuat Rot(OvVector axis, float angle) {
  OvQuat q;
  MakeQuat(q, axis, angle);
  return q;
}
bool SameMatrix(const OvMatrix& a, const OvMatrix& b) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c)
      if (std::fabs(a.m[r][c] - b.m[r][c]) > 1e-4f) return false;
  return true;
}
bool Marked(const OvClump* c) { return (c->GetChangeFlags() & ACF_WORLD_MAT) != 0; }

TEST_F(FlightNodes, ParabolicFlightFallsUnderGravityAndFollowsItsPath) {
  auto* n = Make<OvParabolicFlightNode>();  // 1000 along -Z, gravity 980, follow move
  auto* fixed = Make<OvParabolicFlightNode>();
  fixed->options = 0;
  OvClump* down = Object(0, {0, 0, 5000});
  OvClump* side = Object(1, {0, 0, 0}, Rot({1, 0, 0}, C_HALF_PI));
  OvClump* turn = Object(2, {0, 0, 0}, Rot({1, 0, 0}, C_HALF_PI), {2, 2, 2});
  const OvMatrix sideStart = *side->GetToWorldMatrix();
  const OvVector launch = Row(side, 2);  // horizontal; flies along -launch
  EXPECT_EQ(Attach(n, down)->GetChannelMask(), ACF_WORLD_MAT);
  Attach(fixed, side), Attach(n, turn);
  OvVector v0, v1;
  Step(2);  // the first frame step is 0 long
  down->GetVelocity(v0);
  Step(59);  // one second of flight
  EXPECT_TRUE(Near(Row(down, 3), {0, 0, 5000 - 1000 - 490}, 0.05f));
  EXPECT_TRUE(Near(Row(side, 3), {-1000 * launch.x, -1000 * launch.y, -490}, 0.05f));
  EXPECT_TRUE(Marked(side));
  for (int r = 0; r < 3; ++r) EXPECT_EQ(std::memcmp(sideStart.m[r], side->GetToWorldMatrix()->m[r], 12), 0);
  Step();
  down->GetVelocity(v1);
  EXPECT_NEAR(v1.z - v0.z, -980.0f, 0.5f);  // 60 frames of gravity later
  // Z points back along the last step; the axis scales stay.
  const OvVector at = Row(turn, 3), prev = turn->GetPrevWorldPos();
  OvVector back{prev.x - at.x, prev.y - at.y, prev.z - at.z}, z;
  OvVectorAdjLength(back, 2.0f);
  EXPECT_TRUE(Near(Row(turn, 2), back));
  OvVectorCrossProd(z, Row(turn, 0), Row(turn, 1));
  OvVectorScale(z, 0.5f);
  EXPECT_TRUE(Near(z, back) && std::fabs(OvLength(Row(turn, 0)) - 2.0f) < 1e-4f);
}

// Homing by hand in the XZ plane: heading from -Z toward +X, the turn
// limited per frame, the move along the heading from before the turn.
struct HomingModel {
  double x = 0, z = 0, heading = 0;
  void Frame(bool turning) {
    const double fx = std::sin(heading), fz = -std::cos(heading), maxTurn = C_HALF_PI / 60.0;
    if (turning) heading += std::clamp(std::atan2(100 - x, z) - heading, -maxTurn, maxTurn);
    x += fx, z += fz;  // speed 60, 1/60 s
  }
};

TEST_F(FlightNodes, HomingTurnsAtItsRateUntilStopWaitsForStartAndSkipsChildren) {
  Object(5, {100, 0, 0});
  auto* ever = Make<OvHomingNode>();
  ever->acceleration = 0, ever->maxSpeed = 60, ever->turnRate = C_HALF_PI;
  ever->target = {5, 7, -1};
  auto* brief = Make<OvHomingNode>();
  *brief = *ever;
  brief->stopSec = 0.25f;
  auto* late = Make<OvHomingNode>();
  late->acceleration = 60, late->maxSpeed = 600, late->startSec = 1.0f, late->target = {9, 9, -1};  // absent
  OvClump* a = Object(1);
  OvClump* b = Object(2);
  OvClump* l = Object(3, {0, 0, 0}, Rot({0, 1, 0}, C_HALF_PI));
  OvClump* child = OvClump::Create();
  child->SetPos({3, 0, 0});
  a->AttachChild(child);
  EXPECT_EQ(Attach(ever, a)->GetCtrlId(), OV_ACID_HOMING);
  Attach(brief, b), Attach(late, l), Attach(ever, child);
  const OvVector forward = Row(l, 2);
  Step();  // a step of 0 only marks
  EXPECT_TRUE(Marked(a) && Near(Row(a, 3), {0, 0, 0}));
  HomingModel ma, mb;
  for (int t = 1; t < 60; ++t) {
    Step();
    ma.Frame(true), mb.Frame(t < 15);  // active while 0 < now < 0.25
    ASSERT_TRUE(!Marked(l) && Near(Row(l, 3), {0, 0, 0})) << t;
  }
  EXPECT_TRUE(Near(Row(a, 3), {float(ma.x), 0, float(ma.z)}, 5e-3f));
  EXPECT_TRUE(Near(Row(b, 3), {float(mb.x), 0, float(mb.z)}, 5e-3f));
  EXPECT_TRUE(Near(Row(a, 2), {float(-std::sin(ma.heading)), 0, float(std::cos(ma.heading))}, 1e-4f));
  EXPECT_FALSE(Marked(child));
  Step(2);  // t = 60, 61: speeds 1 and 2 along the launch direction
  const float d = -3.0f / 60;
  EXPECT_TRUE(Marked(l) && Near(Row(l, 3), {forward.x * d, forward.y * d, forward.z * d}, 1e-5f));
}

TEST_F(FlightNodes, AlignCopiesTheChosenPartsAfterAnimation) {
  const OvVector tpos{10, 20, 30}, tscale{2, 3, 4}, own{1, 2, 3}, ownScale{5, 5, 5};
  const OvQuat tq = Rot({0, 0, 1}, C_HALF_PI), oq = Rot({1, 0, 0}, C_HALF_PI);
  Object(5, tpos, tq, tscale);
  const uint32_t P = OvAlignNode::kPosition, O = OvAlignNode::kOrientation, S = OvAlignNode::kScale;
  const uint32_t cases[] = {P | O | S, S, O, P, O | S, OvAlignNode::kActiveCamera | P | O | S, P | O | S};
  std::vector<OvClump*> clumps;
  for (uint32_t options : cases) {
    auto* n = Make<OvAlignNode>();
    n->options = options;
    if (clumps.size() < 5) n->target = {5, 7, -1};  // the last keeps -1: no source
    clumps.push_back(Object(1, own, oq, ownScale));
    OvAniCtrl* ctrl = Attach(n, clumps.back());
    EXPECT_TRUE(ctrl->GetCtrlId() == OV_ACID_ALIGN && ctrl->GetChannelMask() == ACF_WORLD_MAT);
  }
  Step();
  OvMatrix expect[7];
  OvPRSToMatrix(expect[0], tpos, tq, tscale);
  OvPRSToMatrix(expect[1], own, oq, tscale);
  OvPRSToMatrix(expect[2], own, tq, ownScale);
  OvPRSToMatrix(expect[3], tpos, oq, ownScale);
  OvPRSToMatrix(expect[4], own, tq, tscale);
  expect[5] = *scene.GetCrntCamera()->GetToWorldMatrix();
  OvPRSToMatrix(expect[6], own, oq, ownScale);
  for (size_t i = 0; i < clumps.size(); ++i) {
    EXPECT_TRUE(SameMatrix(*clumps[i]->GetToWorldMatrix(), expect[i]) && Marked(clumps[i]) == (i != 6)) << i;
  }
}

TEST_F(FlightNodes, LinkHangsTheObjectUnderTheCameraOnce) {
  OvClump* camera = scene.GetCrntCamera();
  camera->SetPos({5, 0, 0});
  auto* n = Make<OvLinkToCameraNode>();
  n->checkMask = n->checkValue = 0x1;
  OvClump* hud = Object(1, {0, 0, -10});
  OvClump* other = Object(2);
  OvAniCtrl* ctrl = Attach(n, hud);
  EXPECT_TRUE(ctrl == Attach(n, other) && ctrl->GetChannelMask() == (ACF_WORLD_MAT | ACF_LOG_OBJ_LINK));
  Step(2);
  EXPECT_EQ(hud->GetLogObj()->GetParentClump(), nullptr);
  hud->SetSwitch(0x1, 0x1);
  Step();
  EXPECT_TRUE(hud->GetLogObj()->GetParentClump() == camera && !other->GetLogObj()->GetParentClump());
  EXPECT_EQ(hud->GetChangeFlags() & (ACF_WORLD_MAT | ACF_LOG_OBJ_LINK), ACF_WORLD_MAT | ACF_LOG_OBJ_LINK);
  EXPECT_TRUE(Near(Row(hud, 3), {5, 0, -10}));  // placed below the camera at once
  Step();
  EXPECT_TRUE((hud->GetChangeFlags() & ACF_LOG_OBJ_LINK) == 0 && Near(Row(hud, 3), {5, 0, -10}));
}

// ---------------------------------------------------------------------------

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words)
    for (int b = 0; b < 4; ++b) out.push_back(uint8_t(w >> (8 * b)));
  return out;
}
uint32_t F(float f) { return std::bit_cast<uint32_t>(f); }
OvParamValue Slot(uint32_t w0, uint32_t w1 = 0) { return OvParamValue{{w0, w1, 0, 0}}; }

TEST(FlightNodeTypes, BlocksTablesAndCreateFromValues) {
  OvFreeAllNodeTypes();
  OvRegisterNodeTypes();
  OvChunkArena arena;
  const std::pair<OvTypeId, std::vector<uint8_t>> blocks[] = {
      {OV_NODE_PARABOLIC_FLIGHT, Words({100, 0, F(500.0f), F(9.8f)})},
      {OV_NODE_HOMING, Words({F(10), F(200), F(0.5f), F(1), F(3), 4, 9})},
      {OV_NODE_ALIGN, Words({100, 3, 8, 0x12})},
      {OV_NODE_LINK_TO_CAMERA, Words({100, 0x5, 0x4})},
  };
  for (const auto& [pair, bytes] : blocks) {
    const OvNodeType* type = OvFindNodeType(pair.group, pair.id);
    OvDbNode* node = type ? type->Create(arena) : nullptr;
    ASSERT_NE(node, nullptr) << pair.id;
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    EXPECT_TRUE(node->Read(in, arena) && in.Remaining() == 0 && node->Write(out)) << pair.id;
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes) << pair.id;
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 4));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << pair.id;
  }
  int count = 0;
  const OvNodeParamDesc* flight = OvFindNodeType(0, 1335)->GetParamTable(count);
  EXPECT_TRUE(count == 3 && flight[1].def.f == 980.0f && flight[2].kind == OV_PK_CHECK && flight[2].def.i == 1);
  const OvNodeParamDesc* homing = OvFindNodeType(0, 1320)->GetParamTable(count);
  EXPECT_TRUE(count == 6 && homing[2].def.f == 50.0f && homing[5].kind == OV_PK_REF);
  EXPECT_STREQ(homing[4].label, "Stop Homing(s):");

  const OvParamValue hv[] = {Slot(F(5)), Slot(F(50)), Slot(F(180)), Slot(F(1)), Slot(F(2)), Slot(3, 4)};
  EXPECT_EQ(OvFindNodeType(0, 1320)->CreateFromValues(arena, hv, 5), nullptr);
  auto* h = static_cast<OvHomingNode*>(OvFindNodeType(0, 1320)->CreateFromValues(arena, hv, 6));
  ASSERT_NE(h, nullptr);
  EXPECT_FLOAT_EQ(h->turnRate, C_PI);
  EXPECT_TRUE(h->maxSpeed == 50 && h->stopSec == 2 && h->target.objectKey == 3 && h->target.clumpKey == 4);
  const OvParamValue av[] = {Slot(1), Slot(6, 2), Slot(0), Slot(1), Slot(1)};
  auto* a = static_cast<OvAlignNode*>(OvFindNodeType(0, 1115)->CreateFromValues(arena, av, 5));
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->options == 0x16 && a->target.clumpKey == 2);  // camera, orientation, scale
  const OvParamValue lv[] = {Slot(0x30003, 0x1)};
  auto* l = static_cast<OvLinkToCameraNode*>(OvFindNodeType(0, 7100)->CreateFromValues(arena, lv, 1));
  ASSERT_NE(l, nullptr);
  EXPECT_TRUE(l->checkMask == 0x3 && l->checkValue == 0x1);
  OvFreeAllNodeTypes();
}

}  // namespace
