// Particle effects on real clumps in a ticking scene at 60 units a second:
// stored blocks, the effect's own object and its lifetime, emission counts,
// the three update rules and the limits on what content may ask for.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "../scene/scene_fixture.h"
#include "ov_nodes.h"
#include "ov_particle_nodes.h"
#include "ov_stream.h"
#include "trace_capture.h"

namespace {

uint32_t F(float f) { return std::bit_cast<uint32_t>(f); }

class ParticleNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene.SetRenderer(&renderer);
    AddCamera(scene);
    db->AddLogObjRecord("Spark")->creationFlags = 1;
    db->AddClumpRecord("O_spark")->logObjIndex = 0;
    StepFrame(scene);  // the next step is one unit long
  }
  void TearDown() override {
    while (OvLogObj* o = scene.GetLogObjs()) scene.DelLogObj(o);
    db->Destroy();
  }
  // A node that emits `rate` per second straight along -Z of its clump at
  // `speed`, without gravity or forces.
  template <class Node>
  Node* Make(float rate, float speed = 0.0f) {
    Node* n = OvArenaNew<Node>(db->Arena());
    n->p.emitRate = rate;
    n->p.speedMin = n->p.speedMax = speed;
    n->p.angle1 = n->p.angle2 = 1e-30f;  // a cone of no width: straight along -Z
    n->p.strength = 0.0f;
    n->Bind(db);
    return n;
  }
  OvClump* Source(OvDbNode* node, OvVector pos = {0, 0, -100}) {
    OvClump* c = nullptr;
    AddObject(scene, "source", &c, pos);
    c->CalcToWorldMatrix();
    EXPECT_TRUE(c->AddAniCtrl(OvNodeController(node, c)));
    return c;
  }
  void Step(int n = 1) {
    for (int i = 0; i < n; ++i) StepFrame(scene);
  }
  OvParticleSet* Set() const {
    for (OvLogObj* o = scene.GetLogObjs(); o; o = o->LoGetNextBrother()) {
      if (OvParticleSet* s = OvParticleSetOf(o->GetClumps())) return s;
    }
    return nullptr;
  }
  int Live() const { return Set() ? Set()->LiveCount() : -1; }
  std::vector<OvParticle> Particles() const {
    std::vector<OvParticle> out;
    OvParticleSet* s = Set();
    for (int32_t i = 0; s && i < s->UsedCount(); ++i) {
      if (!OvParticleSet::IsFree(s->Records()[i])) out.push_back(s->Records()[i]);
    }
    return out;
  }
  int Sparks() const {
    int n = 0;
    for (OvLogObj* o = scene.GetLogObjs(); o; o = o->LoGetNextBrother()) n += std::string(o->LoGetName()) == "Spark";
    return n;
  }

  OvDatabase* db = OvDatabase::Create();
  RecordingRenderer renderer{nullptr};
  OvScene scene;
};

TEST(ParticleBlocks, RoundTripByteForByteAndACutBlockFails) {
  OvFreeAllNodeTypes();
  OvRegisterNodeTypes();
  OvChunkArena arena;
  std::vector<uint32_t> common = {100, 30, 2, 0, 0, 0, 0, 1, 0xFF112233, 0x80FFFFFF, 7, 8};
  for (float f : {1.f, 2.f, 3.f, 4.f, 5.f, 6.f, 7.f, 8.f, 9.f, 10.f, -980.f}) common.push_back(F(f));
  for (uint32_t w :
       {3u, 9u, 1u, 2u, F(0.5f), 300u, F(60.f), F(0.1f), F(0.2f), 6u, F(1), F(2), F(3), 0xFFFFFFFFu, 4u, F(1.5f)})
    common.push_back(w);
  ASSERT_EQ(common.size(), 39u);
  struct Case {
    OvTypeId pair;
    std::vector<uint32_t> head;
  };
  const Case cases[] = {
      {OV_NODE_PARTICLE_SIMPLE, {}},
      {OV_NODE_PARTICLE_ATTRACTION, {100}},
      {OV_NODE_PARTICLE_SMOKE, {100, F(0.25f), F(0.5f)}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> words = c.head;
    words.insert(words.end(), common.begin(), common.end());
    std::vector<uint8_t> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.data(), bytes.size());
    const OvNodeType* type = OvFindNodeType(c.pair.group, c.pair.id);
    OvDbNode* node = type ? type->Create(arena) : nullptr;
    ASSERT_NE(node, nullptr) << c.pair.id;
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    EXPECT_TRUE(node->Read(in, arena)) << c.pair.id;
    EXPECT_EQ(in.Remaining(), 0u) << c.pair.id;
    EXPECT_TRUE(node->Write(out)) << c.pair.id;
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes) << c.pair.id;
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 4));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << c.pair.id;
  }
  OvFreeAllNodeTypes();
}

TEST(ParticleBlocks, ToolValuesFollowEachTypesTable) {
  OvFreeAllNodeTypes();
  OvRegisterNodeTypes();
  OvChunkArena arena;
  struct Case {
    OvTypeId pair;
    int count;
    int fadeSlot;  // -1: none
  };
  const Case cases[] = {
      {OV_NODE_PARTICLE_SIMPLE, 35, -1}, {OV_NODE_PARTICLE_ATTRACTION, 26, -1}, {OV_NODE_PARTICLE_SMOKE, 30, 10}};
  for (const Case& c : cases) {
    const OvNodeType* type = OvFindNodeType(c.pair.group, c.pair.id);
    int count = 0;
    const OvNodeParamDesc* params = type->GetParamTable(count);
    ASSERT_EQ(count, c.count) << c.pair.id;
    // The defaults as a tool would hand them over, with the particle type
    // choice set to "Beam" and the emit angles in degrees.
    std::vector<OvParamValue> v(size_t(count), OvParamValue{{0, 0, 0, 0}});
    for (int i = 0; i < count; ++i) v[size_t(i)].w[0] = uint32_t(params[i].def.i);
    for (int i = 0; i < count; ++i) {
      if (params[i].number == 1) v[size_t(i)].w[0] = 2;
      if (params[i].number == 30) v[size_t(i)].w[0] = F(90.0f);
    }
    EXPECT_EQ(type->CreateFromValues(arena, v.data(), count - 1), nullptr) << c.pair.id;
    auto* n = static_cast<OvParticleNode*>(type->CreateFromValues(arena, v.data(), count));
    ASSERT_NE(n, nullptr) << c.pair.id;
    EXPECT_EQ(n->p.typeCode, c.pair == OV_NODE_PARTICLE_SMOKE ? OV_PARTICLE_SQUARE : OV_PARTICLE_BEAM) << c.pair.id;
    EXPECT_FLOAT_EQ(n->p.angle2, 1.5707964f) << c.pair.id;
    // Rate 0: a full set within one life time.
    EXPECT_FLOAT_EQ(n->p.emitRate, float(n->p.total) / n->p.lifeTime) << c.pair.id;
    if (c.fadeSlot >= 0) {
      v[size_t(c.fadeSlot)].w[0] = F(2.0f);
      auto* s = static_cast<OvParticleNode*>(type->CreateFromValues(arena, v.data(), count));
      EXPECT_FLOAT_EQ(s->colourFadeIn, 2.0f);
    }
  }
  OvFreeAllNodeTypes();
}

TEST_F(ParticleNodes, EffectLivesInItsOwnObjectUntilSourceAndParticlesAreGone) {
  auto* n = Make<OvParticleSimpleNode>(60.0f);
  n->p.lifeTime = 0.25f;  // 15 units
  OvClump* source = Source(n);
  EXPECT_EQ(Set(), nullptr);
  Step();
  ASSERT_NE(Set(), nullptr);
  EXPECT_NE(Set(), OvParticleSetOf(source));
  EXPECT_EQ(source->FindAniCtrl(OV_ACID_PARTICLE_INSTALLER), nullptr);  // gone after one frame
  Step(20);
  const int live = Live();
  EXPECT_EQ(live, 16);  // one a frame, each lives 15 units past its birth
  scene.DelLogObj(source->GetLogObj());
  Step(15);
  EXPECT_EQ(Live(), 1);  // no new ones; the old ones live on
  Step();
  EXPECT_EQ(Set(), nullptr);  // the last one died: the effect is gone
}

TEST_F(ParticleNodes, SourceDeletedInTheFrameItsEffectStartsIsLetGo) {
  auto* n = Make<OvParticleSimpleNode>(60.0f);
  n->p.lifeTime = 0.1f;
  OvClump* source = Source(n);
  auto* killer = ScriptedCtrl::Make();
  killer->onAnimate = [this](ScriptedCtrl&, OvClump* c, int32_t) { scene.DelLogObj(c->GetLogObj()); };
  source->AddAniCtrl(killer);
  Step();
  EXPECT_EQ(scene.SearchClump("source"), nullptr);
  Step(10);
  EXPECT_EQ(Set(), nullptr);
  // Deleted before the effect was ever installed: nothing is left behind.
  OvClump* early = Source(Make<OvParticleSimpleNode>(60.0f));
  scene.DelLogObj(early->GetLogObj());
  Step(2);
  EXPECT_EQ(Set(), nullptr);
}

TEST_F(ParticleNodes, EmissionCarriesFractionsAndStopsAtTheTotal) {
  struct Case {
    float rate;
    uint32_t total;
    int live;  // after 11 frames at 60 a second, the first one the effect's own
  };
  const Case cases[] = {{30, 300, 5}, {60, 300, 11}, {90, 300, 16}, {0, 300, 0}, {600, 4, 4}, {600, 0, 0}};
  for (const Case& c : cases) {
    auto* n = Make<OvParticleSimpleNode>(c.rate);
    n->p.total = c.total;
    OvClump* source = Source(n);
    Step(11);
    EXPECT_EQ(Live(), c.live) << c.rate << " " << c.total;
    EXPECT_NE(Set(), nullptr);  // lives while its source does, even empty
    scene.DelLogObj(source->GetLogObj());
    while (Set()) Step();
  }
}

TEST_F(ParticleNodes, FastSourceLeavesParticlesEvenlyAlongItsPath) {
  auto* n = Make<OvParticleSimpleNode>(600.0f);  // ten a frame
  OvClump* source = Source(n, {0, 0, -100});
  Step(2);
  const size_t before = Particles().size();
  source->SetPos({60, 0, -100});
  Step();
  std::vector<OvParticle> all = Particles();
  ASSERT_EQ(all.size(), before + 10);
  std::vector<float> xs;
  for (const OvParticle& p : all) {
    if (p.birth == all.back().birth) xs.push_back(p.pos.x);
  }
  std::sort(xs.begin(), xs.end());
  ASSERT_EQ(xs.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(xs[size_t(i)], 6.0f * float(i + 1), 1e-3f) << i;
}

TEST_F(ParticleNodes, SimpleParticleFallsUnderGravity) {
  struct Case {
    float gravity;
    float speed;
    float dz;  // after 0.1 s of flight
  };
  // Straight down at 100 units a second adds 10 units in 0.1 s.
  const Case cases[] = {{-980, 0, -4.9f}, {980, 0, 4.9f}, {-980, 100, -14.9f}, {0, 0, 0}};
  for (const Case& c : cases) {
    auto* n = Make<OvParticleSimpleNode>(600.0f, c.speed);
    n->p.total = 1;
    n->p.strength = c.gravity;
    OvClump* source = Source(n);
    Step(1);
    ASSERT_EQ(Particles().size(), 1u);
    Step(5);  // six updates of one sixtieth, the first in its birth frame
    EXPECT_NEAR(Particles()[0].pos.z - -100.0f, c.dz, 2e-3f) << c.gravity << " " << c.speed;
    scene.DelLogObj(source->GetLogObj());
    while (Set()) Step();
  }
}

TEST_F(ParticleNodes, AttractionFadesInItsLastEighthAndPullsTowardsItsTarget) {
  auto* n = Make<OvParticleAttractionNode>(600.0f);
  n->p.total = 1;
  n->p.lifeTime = 0.25f;  // 15 units: full colour to age 13, then two units of fade
  n->p.typeCode = OV_PARTICLE_LINE;
  n->p.colour[0] = 0xFF8040C0u;
  n->p.colour[1] = 0x20406080u;
  n->p.strength = 1000.0f;
  n->p.target.objectKey = -1;  // the source itself
  OvClump* source = Source(n);
  Step();
  source->SetPos({10, 0, -100});  // the particle stays at x 0
  const struct {
    uint32_t head, tail;
    float vx;
  } frames[] = {
      {0xFF8040C0u, 0x20406080u, 1000.0f / 60 * 1},  // age 1
      {0xFF8040C0u, 0x20406080u, 1000.0f / 60 * 2},
  };
  for (const auto& f : frames) {
    Step();
    ASSERT_EQ(Particles().size(), 1u);
    EXPECT_EQ(Particles()[0].colourA, f.head);
    EXPECT_EQ(Particles()[0].colourB, f.tail);
    EXPECT_NEAR(Particles()[0].velocity.x, f.vx, 1e-2f);
  }
  Step(10);                                                          // age 12
  source->SetPos({10, 0, 1e6f});                                     // out of the way of the colours
  const uint32_t heads[] = {0xFF8040C0u, 0x80402060u, 0x00000000u};  // ages 13, 14, 15
  for (uint32_t head : heads) {
    Step();
    ASSERT_EQ(Particles().size(), 1u);
    EXPECT_EQ(Particles()[0].colourA, head);
  }
  scene.DelLogObj(source->GetLogObj());
  Step();
  EXPECT_EQ(Set(), nullptr);  // age 16: past its life
}

// The source is its own target: with "Include Children" its child, and the
// child's child, pull too (one unit vector each, +X, +Y and +Z), never the
// source's brother (-Y) or a clump of another object.
TEST_F(ParticleNodes, AttractionTargetChildrenPullOnlyWhenIncluded) {
  for (int include : {0, 1}) {
    auto* n = Make<OvParticleAttractionNode>(600.0f);
    n->p.total = 1;
    n->p.strength = 600.0f;  // 10 a frame towards each point
    n->p.target.objectKey = -1;
    n->p.includeChildren = include;
    OvClump* source = Source(n, {0, 0, -100});
    auto clump = [](OvClump* parent, OvVector pos) {
      OvClump* k = OvClump::Create();
      k->SetPos(pos);
      parent->AttachChild(k);
      return k;
    };
    clump(clump(source, {100, 0, 0}), {-100, 0, 100});  // at (100, 0, -100), its child at (0, 0, 0)
    clump(source, {0, 100, 0});
    OvClump* brother = OvClump::Create();
    brother->SetPos({0, -100, -100});
    source->GetLogObj()->AppendClumps(brother);
    Step(2);
    ASSERT_EQ(Particles().size(), 1u) << include;
    const OvVector v = Particles()[0].velocity;
    if (!include) {
      EXPECT_LT(OvLength(v), 1e-3f);
    } else {
      EXPECT_GT(v.x, 5.0f);
      EXPECT_NEAR(v.y, v.x, 0.05f * v.x);
      EXPECT_NEAR(v.z, v.x, 0.05f * v.x);
    }
    scene.DelLogObj(source->GetLogObj());
    while (Set()) Step();
  }
}

TEST_F(ParticleNodes, SmokeGrowsAndBlendsAfterItsFadeIn) {
  auto* n = Make<OvParticleSmokeNode>(600.0f);
  n->p.total = 1;
  n->p.lifeTime = 1.0f;
  n->p.sizeMin = n->p.sizeMax = 10.0f;
  n->p.lengthMin = n->p.lengthMax = 40.0f;  // final size
  n->p.timeA = n->p.timeB = 0.0f;
  n->p.colour[0] = 0xFF0000FFu;
  n->p.colour[1] = 0xFFFF0000u;
  n->colourFadeIn = 0.5f;  // 30 units
  OvClump* source = Source(n);
  Step();
  ASSERT_EQ(Particles().size(), 1u);
  const OvParticle born = Particles()[0];
  EXPECT_EQ(born.colourA, 0x000000FFu);  // age 0: no alpha yet
  EXPECT_FLOAT_EQ(born.size, 10.0f);
  const struct {
    int steps;
    uint32_t colour;
    float size;
  } ages[] = {
      {15, 0x7F3F00C0u, 17.5f},  // age 15: a quarter of the way, alpha half faded in
      {15, 0xFF7F0080u, 25.0f},  // age 30: half way, fully faded in
  };
  for (const auto& a : ages) {
    Step(a.steps);
    ASSERT_EQ(Particles().size(), 1u);
    EXPECT_EQ(Particles()[0].colourA, a.colour) << a.steps;
    EXPECT_FLOAT_EQ(Particles()[0].size, a.size) << a.steps;
  }
  scene.DelLogObj(source->GetLogObj());
}

TEST_F(ParticleNodes, EmitAnglesMakeAConeAroundMinusZ) {
  struct Case {
    float angle1, angle2;
    bool cone;  // every direction 0.5 radian off -Z, else some point upwards
  };
  const Case cases[] = {{0.5f, 0.5f, true}, {0.0f, 0.0f, false}};
  for (const Case& c : cases) {
    auto* n = Make<OvParticleSimpleNode>(600.0f, 100.0f);
    n->p.angle1 = c.angle1, n->p.angle2 = c.angle2;
    n->p.total = 40;
    OvClump* source = Source(n);
    Step(4);
    ASSERT_EQ(Particles().size(), 40u);
    bool someUp = false;
    for (const OvParticle& p : Particles()) {
      EXPECT_NEAR(OvLength(p.velocity), 100.0f, 1e-2f);
      if (c.cone) {
        EXPECT_NEAR(-p.velocity.z / 100.0f, std::cos(0.5f), 1e-4f);
      }
      someUp = someUp || p.velocity.z > 0.0f;
    }
    EXPECT_EQ(someUp, !c.cone);
    scene.DelLogObj(source->GetLogObj());
    while (Set()) Step();
  }
}

TEST_F(ParticleNodes, DyingParticleLeavesItsTransitionObject) {
  struct Case {
    OvParticleNode* node;
    int sparks;
  };
  const Case cases[] = {{Make<OvParticleSimpleNode>(600.0f, 60.0f), 0},
                        {Make<OvParticleAttractionNode>(600.0f, 60.0f), 1},
                        {Make<OvParticleSmokeNode>(600.0f, 60.0f), 1}};
  for (const Case& c : cases) {
    c.node->p.total = 1;
    c.node->p.lifeTime = 0.1f;  // 6 units
    c.node->p.transition = 0;
    c.node->p.transitionLife = -1.0f;
    OvClump* source = Source(c.node);
    Step();  // the effect starts with its one particle
    scene.DelLogObj(source->GetLogObj());
    Step(8);
    EXPECT_EQ(Set(), nullptr);
    ASSERT_EQ(Sparks(), c.sparks);
    for (OvLogObj *o = scene.GetLogObjs(), *next = nullptr; o; o = next) {
      next = o->LoGetNextBrother();
      OvVector at{};
      if (std::string(o->LoGetName()) != "Spark" || !o->GetClumps()->CalcToWorldMatrix()) continue;
      o->GetClumps()->GetWorldPos(at);
      EXPECT_NEAR(at.z, -100.0f - 7.0f, 1e-3f);  // seven steps of one unit at 60 a second down
      scene.DelLogObj(o);
    }
  }
}

TEST_F(ParticleNodes, ContentCannotAskForUnboundedParticles) {
  TraceCapture trace;
  auto* n = Make<OvParticleSimpleNode>(INFINITY);
  n->p.total = 0xFFFFFFFFu;
  Source(n);
  Source(n, {5, 0, -100});
  Step(3);
  EXPECT_EQ(Set()->LiveCount(), OV_PARTICLE_CAP);
  EXPECT_EQ(Set()->Capacity(), OV_PARTICLE_CAP);
  const std::string& text = trace.Text();
  EXPECT_NE(text.find("at most 65536"), std::string::npos);
  EXPECT_EQ(text.find("at most 65536"), text.rfind("at most 65536"));  // once
}

}  // namespace
