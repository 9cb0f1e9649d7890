// Animation sets: keyframe tracks from key lists, behaviour nodes by display
// name with labelled parameters (through the type's table and
// CreateFromValues) or by stored block.
#include <gtest/gtest.h>

#include <cmath>

#include "orvc_records.h"
#include "orvc_test_util.h"
#include "ov_condition_nodes.h"
#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_node_params.h"
#include "ov_opaque_node.h"
#include "ov_particle_nodes.h"
#include "ov_stream.h"

using namespace orvc_test;

namespace {

// A node type with a parameter table of the common kinds. Its block keeps
// every value slot word it was given, so a test sees exactly what
// CreateFromValues received, and it reads and writes that block like any
// engine type.
constexpr OvTypeId kProbeType{77, 1};
const OvNodeParamDesc kProbeParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamF(1, "Timing(sec):", OV_PK_REAL, 1.5f),
    OvParamI(2, "Operation:\0Or\0And\0", OV_PK_CHOICE),
    OvParamI(3, "Target", OV_PK_REF),
    OvParamI(4, "\tVar From:", OV_PK_INT, 7),
    OvParamI(5, "Color 1:", OV_PK_COLOUR, -1),
    OvParamI(6, "Hold 1 Frame", OV_PK_CHECK, 1),
    OvParamI(7, "", OV_PK_SPACER),
    OvParamI(8, "Script", OV_PK_TEXT),
    OvParamI(9, "Check Flag", OV_PK_FLAG_MASK),
};
constexpr int kProbeCount = int(sizeof(kProbeParams) / sizeof(kProbeParams[0]));

class ProbeNode : public OvDbNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = kProbeType; }
  bool Read(OvStream& s, OvChunkArena&) override {
    for (auto& slot : m_words)
      for (uint32_t& w : slot)
        if (!s.ReadU32(w)) return false;
    return true;
  }
  bool Write(OvStream& s) const override {
    for (const auto& slot : m_words)
      for (uint32_t w : slot)
        if (!s.WriteU32(w)) return false;
    return true;
  }
  bool FromValues(const OvParamValues& v) {
    for (int i = 0; i < kProbeCount; ++i) {
      for (int w = 0; w < 4; ++w) m_words[i][w] = v.Word(i, w);
    }
    // Texts come as an address in words 0 and 1, valid during the call.
    const uint64_t address = uint64_t(v.Word(8, 0)) | uint64_t(v.Word(8, 1)) << 32;
    s_lastText = address ? reinterpret_cast<const char*>(uintptr_t(address)) : "(none)";
    m_words[8][0] = m_words[8][1] = 0;  // addresses differ between runs
    return v.Int(4) != 666;             // a value the type refuses
  }
  uint32_t Word(int slot, int w) const { return m_words[slot][w]; }

  static inline std::string s_lastText;

 private:
  uint32_t m_words[kProbeCount][4] = {};
};

class OrvcNodes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterEngineTypes();
    if (!OvNodeClasses().FindType(kProbeType)) {
      OvNodeClasses().Register(new OvNodeTypeOf<ProbeNode>(kProbeType, "Probe Node", kProbeParams, kProbeCount));
    }
  }

  static const ProbeNode* Probe(const OvDatabase& db, int set, int entry) {
    const OvDbAniSet* s = db.AniSet(set);
    return s && entry < s->count ? dynamic_cast<const ProbeNode*>(s->nodes[entry]) : nullptr;
  }
};

TEST_F(OrvcNodes, LabelledParametersReachTheirSlots) {
  Compiled c = Compile(R"~(
    local target = clump{ name = "target", id = 12 }
    object{ name = "holder", id = 4, clump = target }
    animation{
      node{ "Probe Node",
            ["Check Flag"] = { 0x3, 0x1 },
            ["Timing(sec)"] = 2.25,
            ["Operation:"] = "And",
            Target = target,
            ["Var From"] = 9,
            ["Color 1:"] = "#102030",
            ["Hold 1 Frame"] = false,
            Script = "return {}",
            ["Check Flag#2"] = 0x30 },
      node{ "Probe Node" },
    }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(ProbeNode::s_lastText, "(none)");  // the second node: no text
  DatabasePtr db = Load(c.image);
  ASSERT_NE(db, nullptr);
  const ProbeNode* n = Probe(*db, 0, 0);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->Word(0, 0), 0x3u);
  EXPECT_EQ(n->Word(0, 1), 0x1u);
  EXPECT_EQ(std::bit_cast<float>(n->Word(1, 0)), 2.25f);
  EXPECT_EQ(n->Word(2, 0), 1u);  // "And" is choice 1
  EXPECT_EQ(n->Word(3, 0), 4u);  // object ID, clump ID, clump record
  EXPECT_EQ(n->Word(3, 1), 12u);
  EXPECT_EQ(n->Word(3, 2), 0u);
  EXPECT_EQ(n->Word(4, 0), 9u);
  EXPECT_EQ(n->Word(5, 0), 0xFF102030u);
  EXPECT_EQ(n->Word(6, 0), 0u);
  EXPECT_EQ(n->Word(9, 0), 0x30u);

  // Defaults of the table where nothing was given.
  const ProbeNode* d = Probe(*db, 0, 1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::bit_cast<float>(d->Word(1, 0)), 1.5f);
  EXPECT_EQ(d->Word(3, 0), 0xFFFFFFFFu);  // no reference
  EXPECT_EQ(d->Word(3, 1), 0xFFFFFFFFu);
  EXPECT_EQ(d->Word(4, 0), 7u);
  EXPECT_EQ(d->Word(5, 0), 0xFFFFFFFFu);
  EXPECT_EQ(d->Word(6, 0), 1u);
}

TEST_F(OrvcNodes, UnlabelledParametersOfEngineTypes) {
  Compiled c = Compile(R"~(animation{
    node{ "<s> Keyboard", ["#1"] = 3 },
    node{ "Particle: Simple", ["Emit Shape:"] = "Box", ["#1"] = { 2.5, 4.0, 8.25 } } })~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  ASSERT_NE(db, nullptr);
  const auto* keys = dynamic_cast<const OvKeyboardSensorNode*>(db->AniSet(0)->nodes[0]);
  ASSERT_NE(keys, nullptr);
  EXPECT_EQ(keys->keyCode, OvKeyChoiceCode(3));
  const auto* particles = dynamic_cast<const OvParticleNode*>(db->AniSet(0)->nodes[1]);
  ASSERT_NE(particles, nullptr);
  EXPECT_EQ(particles->p.shapeSize.x, 2.5f);
  EXPECT_EQ(particles->p.shapeSize.y, 4.0f);
  EXPECT_EQ(particles->p.shapeSize.z, 8.25f);

  const struct {
    const char* source;
    const char* error;
  } bad[] = {
      {R"~(animation{ node{ "<s> Keyboard", ["#2"] = 1 } })~", "no unlabelled parameter #2 (this type has 1)"},
      {R"~(animation{ node{ "Particle: Simple", ["#1"] = { 1, 2, 3, 4, 5 } } })~", "a list of 1 to 4 numbers"},
  };
  for (const auto& b : bad) {
    Compiled e = Compile(b.source);
    EXPECT_FALSE(e.ok) << b.source;
    EXPECT_NE(e.error.find(b.error), std::string::npos) << e.error;
  }
}

TEST_F(OrvcNodes, TextParametersArriveAsAddresses) {
  Compiled c = Compile(R"~(animation{ node{ "Probe Node", Script = "Speed = 4" } })~");
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(ProbeNode::s_lastText, "Speed = 4");
}

// A node the type refuses is reported with the clump that owns it.
TEST_F(OrvcNodes, ApplyingNothingNamesTheOwningClump) {
  TraceCapture trace;
  Compiled c = Compile(R"~(
    local door = clump{ name = "door",
                        animation = { node{ "Apply Animation", ["Which Clump's Animation"] = false } } }
    object{ name = "house", clump = door }
  )~");
  EXPECT_FALSE(c.ok);
  EXPECT_NE(trace.Text().find("!!!! door: 'Apply animation' apply nothing.\n"), std::string::npos) << trace.Text();
}

TEST_F(OrvcNodes, ReferencedClumpsAndObjectsGetIds) {
  Compiled c = Compile(R"~(
    local a = clump{ name = "a", id = 3 }
    local b = clump{ name = "b" }
    object{ name = "o", clumps = { a, b } }
    animation{ node{ "Probe Node", Target = b } }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  EXPECT_EQ(db->ClumpRecord(1)->id, 4);
  EXPECT_EQ(db->LogObjRecord(0)->id, 1);
  const ProbeNode* n = Probe(*db, 0, 0);
  EXPECT_EQ(n->Word(3, 0), 1u);
  EXPECT_EQ(n->Word(3, 1), 4u);
  EXPECT_EQ(n->Word(3, 2), 1u);
}

TEST_F(OrvcNodes, NodeRoundTripsByteForByte) {
  Compiled c = Compile(R"~(
    local t = clump{ name = "t", id = 2, animation = {
      node{ "Probe Node", ["Check Flag"] = { mask = 4, value = 0 }, ["Operation:"] = 0, ["Timing(sec):"] = -3 },
      track{ kind = "position", keys = { { 0, 1, 2, 3 }, { 30, 4, 5, 6 } }, after = "cycle" },
      node{ "Set Sub-Object", block = { "iii z", 100, 1, 1, "next.orv" } },
    } }
    object{ name = "o", clump = t }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  ASSERT_NE(db, nullptr);
  ASSERT_NE(Probe(*db, 0, 0), nullptr);  // loaded as the real type
  EXPECT_EQ(content_test::WriteDatabase(*db), c.image);
}

TEST_F(OrvcNodes, StoredBlocksForTypesWithoutATable) {
  Compiled c = Compile(R"~(
    animation{ node{ "Set Sub-Object", block = { "iii z", 100, 0x1, 0x1, "memo.orv" } },
               node{ pair = { 0, 1110 }, block = { "i R s b", -1, 0.5, 65535, 7 } } }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  const OvDbAniSet* set = db->AniSet(0);
  ASSERT_EQ(set->count, 2);
  OvTypeId type;
  set->nodes[0]->GetTypeId(type);
  EXPECT_EQ(type, (OvTypeId{0, 1285}));
  const Bytes b = NodeBytes(*set->nodes[0]);
  ASSERT_EQ(b.size(), 12u + 2 + 8);
  EXPECT_EQ(U32(&b[0]), 100u);
  EXPECT_EQ(b[12], 8);  // u16 length, then the text
  EXPECT_EQ(std::string(b.begin() + 14, b.end()), "memo.orv");
  const Bytes h = NodeBytes(*set->nodes[1]);
  ASSERT_EQ(h.size(), 4u + 4 + 2 + 1);
  EXPECT_EQ(U32(&h[0]), 0xFFFFFFFFu);
  EXPECT_EQ(F32(&h[4]), 0.5f);
  EXPECT_EQ(h[8], 0xFF);
  EXPECT_EQ(h[10], 7);
}

TEST_F(OrvcNodes, PositionTrackBlockLayout) {
  Compiled c = Compile(R"~(
    animation{ track{ kind = "position", flags = 0x10, before = "repeat", after = "pingpong",
                      range = { 0, 100 }, loop = { 20, 80 },
                      keys = { { 0, 1, 2, 3 }, { 100, { 4, 5, 6 } } } } }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  const auto* track = dynamic_cast<const OvKeyTrackNode*>(db->AniSet(0)->nodes[0]);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->TrackId(), OV_TRACK_POSITION);
  const Bytes b = NodeBytes(*track);
  ASSERT_EQ(b.size(), 8u + 32 + 2 * 16);
  EXPECT_EQ(U32(&b[0]), 0x10u);         // flag word
  EXPECT_EQ(U32(&b[4]), 32u + 2 * 16);  // table size
  EXPECT_EQ(U32(&b[8]), 2u);            // key count
  EXPECT_EQ(U32(&b[12]), 16u);          // stride: time + 3 values
  EXPECT_EQ(U32(&b[20]), 0u);           // range start
  EXPECT_EQ(U32(&b[24]), 100u);         // range end
  EXPECT_EQ(U32(&b[28]), 80u);          // loop end
  EXPECT_EQ(U32(&b[32]), 20u);          // loop start
  EXPECT_EQ(U32(&b[36]), 0x0201u);      // before repeat, after ping-pong, linear
  EXPECT_EQ(U32(&b[40 + 16]), 100u);    // second key's time
  EXPECT_EQ(F32(&b[40 + 16 + 12]), 6.0f);
}

TEST_F(OrvcNodes, TracksSampleWhatTheKeysSay) {
  Compiled c = Compile(R"~(
    animation{
      track{ kind = "position", keys = { { 0, 0, 0, 0 }, { 60, 60, 0, 0 }, { 120, 60, 60, 0 } } },
      track{ kind = "position", interpolation = "cubic", keys = { { 0, 0, 0, 40 }, { 60, 0, 0, 80 }, { 120, 0, 0, 40 } } },
      track{ kind = "rotation", keys = { { 0, rotation("z", 0) }, { 60, rotation("z", 90) } } },
      track{ kind = "scale", after = "pingpong", keys = { { 0, 1 }, { 60, 3 } } },
      track{ kind = "visibility", keys = { 30, 90 } },
      track{ kind = "position_cubic", keys = { { 0, 0, 0, 0 }, { 10, 10, 0, 0 } } },
    }
  )~");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  auto table = [&](int i) { return dynamic_cast<const OvKeyTrackNode*>(db->AniSet(0)->nodes[i])->Table(); };
  float v[3];
  OvKeySample(*table(0), 30, v, 0, 3);
  EXPECT_FLOAT_EQ(v[0], 30);
  OvKeySample(*table(0), 90, v, 0, 3);
  EXPECT_FLOAT_EQ(v[1], 30);
  OvKeySample(*table(0), 500, v, 0, 3);
  EXPECT_FLOAT_EQ(v[1], 60);

  // The cubic curve passes through every key and is smooth at the middle.
  EXPECT_EQ(table(1)->Interpolation(), OV_KEY_CUBIC);
  for (int t : {0, 60, 120}) {
    OvKeySample(*table(1), t, v, 0, 3);
    EXPECT_NEAR(v[2], t == 60 ? 80 : 40, 1e-4) << t;
  }
  float before[3], after[3];
  OvKeySample(*table(1), 59, before, 0, 3);
  OvKeySample(*table(1), 61, after, 0, 3);
  EXPECT_NEAR(before[2], after[2], 1e-3);

  OvQuat q;
  ASSERT_TRUE(OvKeySampleQuat(*table(2), 30, q));
  EXPECT_NEAR(q.s, std::cos(C_PI / 8), 1e-5);
  EXPECT_NEAR(q.v.z, std::sin(C_PI / 8), 1e-5);

  OvKeySample(*table(3), 90, v, 0, 1);  // ping-pong: back at 2 on the way down
  EXPECT_FLOAT_EQ(v[0], 2);
  EXPECT_EQ(table(4)->ValuesPerKey(), 0);
  EXPECT_EQ(table(4)->FindKeyAtOrBefore(60), 0);

  const OvKeyTable& cubic = *table(5);
  EXPECT_EQ(cubic.ValuesPerKey(), 12);
  OvKeySampleCubic(cubic, 5, v, 0, 3);
  EXPECT_NEAR(v[0], 5, 1e-4);
}

TEST_F(OrvcNodes, UnknownLabelOrTypeIsAnErrorWithItsLine) {
  Compiled label = Compile("local x = 1\n\nanimation{ node{ \"Probe Node\",\n  [\"Chek Flag\"] = { 1, 1 } } }\n");
  EXPECT_FALSE(label.ok);
  EXPECT_NE(label.error.find("stage.lua:3:"), std::string::npos) << label.error;
  EXPECT_NE(label.error.find("'Chek Flag'"), std::string::npos) << label.error;
  EXPECT_NE(label.error.find("'Check Flag'"), std::string::npos) << label.error;  // what it has

  Compiled type = Compile("\nnode{ \"Probe Nod\" }\n");
  EXPECT_FALSE(type.ok);
  EXPECT_NE(type.error.find("stage.lua:2:"), std::string::npos) << type.error;
  EXPECT_NE(type.error.find("no node type is named 'Probe Nod'"), std::string::npos) << type.error;
  EXPECT_NE(type.error.find("did you mean 'Probe Node'"), std::string::npos) << type.error;
}

TEST_F(OrvcNodes, ValueErrorsNameTheParameter) {
  struct Case {
    const char* source;
    const char* expect;
  } cases[] = {
      {R"~(node{ "Probe Node", ["Operation:"] = "Xor" })~", "'Xor' is not one of 'Or', 'And'"},
      {R"~(node{ "Probe Node", ["Operation:"] = 2 })~", "beyond the 2 choices"},
      {R"~(node{ "Probe Node", ["Check Flag"] = "on" })~", "expected a flag pair"},
      {R"~(node{ "Probe Node", ["Timing(sec)"] = "fast" })~", "'Timing(sec):': expected a number"},
      {R"~(node{ "Probe Node", ["Var From"] = 1.5 })~", "expected a whole number"},
      {R"~(node{ "Probe Node", ["Var From"] = 1, ["\tVar From:"] = 2 })~", "given twice"},
      {R"~(node{ "Set Sub-Object", ["Orvo File"] = "x" })~", "no parameter table"},
      {R"~(node{ "Set Sub-Object", block = { "ii", 1 } })~", "more letters than there are values"},
      {R"~(node{ "Set Sub-Object", block = { "i", 1, 2 } })~", "more values than the layout"},
      {R"~(node{ "Set Sub-Object", block = { "s", 70000 } })~", "does not fit"},
      {R"~(node{ pair = { 5, 5 } })~", "no node type (5, 5)"},
      {R"~(node{ "Set Object Attribute", block = { "i", 1 } })~", "editor-only"},
      {R"~(animation{ node{ "Probe Node", ["Var From"] = 666 } })~", "made no node from these parameter values"},
      {R"~(track{ kind = "spin", keys = { { 0 } } })~", "'spin' is not a track kind"},
      {R"~(track{ kind = "position", keys = { { 0, 1, 2 } } })~", "expected 3 values after the time"},
      {R"~(track{ kind = "rotation", interpolation = "cubic", keys = { { 0, 1, 0, 0, 0 } } })~", "no cubic form"},
      {R"~(local e = track{ kind = "scale", keys = { { 0, 1 } } } animation{ e } animation{ e })~", "already belongs"},
  };
  for (const Case& k : cases) {
    Compiled c = Compile(k.source);
    EXPECT_FALSE(c.ok) << k.source;
    EXPECT_NE(c.error.find("stage.lua:1:"), std::string::npos) << c.error;
    EXPECT_NE(c.error.find(k.expect), std::string::npos) << k.source << "\n" << c.error;
  }
}

TEST(OrvcRecords, CubicCoefficientsThroughTheKeys) {
  const std::vector<int32_t> times = {0, 10, 30};
  const std::vector<float> values = {1, 3, 2};
  const std::vector<float> c = OrvcCubicCoefficients(times, values, 1);
  ASSERT_EQ(c.size(), 12u);
  for (int k = 0; k < 2; ++k) {
    const float* s = &c[4 * k];
    EXPECT_FLOAT_EQ(s[3], values[k]);                             // f = 0
    EXPECT_NEAR(s[0] + s[1] + s[2] + s[3], values[k + 1], 1e-5);  // f = 1
  }
  EXPECT_EQ(c[8], 0);
  EXPECT_EQ(c[11], 2);  // the last key holds its value alone
}

TEST(OrvcRecords, BlockWriterLetters) {
  OrvcBlockWriter w;
  std::string why;
  EXPECT_TRUE(w.Integer('i', -1, why));
  EXPECT_TRUE(w.Integer('u', 0xFFFFFFFFll, why));
  EXPECT_TRUE(w.Real('f', 2.5, why));
  EXPECT_TRUE(w.Real('t', 3.0, why));  // a whole real is fine for an integer letter
  EXPECT_TRUE(w.Text('z', "ab", why));
  EXPECT_EQ(w.Bytes().size(), 4u * 4 + 2 + 2);
  EXPECT_FALSE(w.Real('i', 2.5, why));
  EXPECT_FALSE(w.Integer('b', 256, why));
  EXPECT_FALSE(w.Text('i', "x", why));
  EXPECT_FALSE(w.Integer('q', 1, why));
}

}  // namespace
