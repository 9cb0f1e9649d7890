// The behaviour-node registry: registration order, descriptors, records of
// known, unknown, opaque and editor-only types, the two controller shapes and
// the authoring metadata (parameter tables, CreateFromValues).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ov_aniset.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_node_params.h"
#include "ov_nodes.h"
#include "ov_opaque_node.h"
#include "ov_stream.h"
#include "ov_typed_record.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Record(uint32_t group, uint32_t id, const Bytes& payload) {
  OvStream w;
  EXPECT_TRUE(w.OpenMemoryWrite());
  w.WriteU32(group);
  w.WriteU32(id);
  w.WriteU32(uint32_t(payload.size()));
  w.WriteBytes(payload.data(), payload.size());
  return Bytes(w.Image(), w.Image() + w.ImageSize());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes WriteBack(const OvDbNode& node) {
  OvStream w;
  EXPECT_TRUE(w.OpenMemoryWrite());
  EXPECT_TRUE(OvWriteTypedRecord(w, node));
  return Bytes(w.Image(), w.Image() + w.ImageSize());
}

class NodeRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OvFreeAllNodeTypes();
    OvRegisterNodeTypes();
  }
  void TearDown() override { OvFreeAllNodeTypes(); }

  // Reads every record of the image in turn.
  std::vector<OvDbNode*> ReadAll(const Bytes& image) {
    OvStream s;
    EXPECT_TRUE(s.OpenMemory(image.data(), image.size()));
    std::vector<OvDbNode*> nodes;
    while (s.Remaining() > 0) {
      OvDbNode* node = nullptr;
      EXPECT_TRUE(OvReadTypedRecord(s, OvNodeClasses(), arena, node));
      if (!node) break;
      nodes.push_back(node);
    }
    return nodes;
  }

  OvChunkArena arena;
};

TEST_F(NodeRegistryTest, EveryTypeOfTheTableInRegistrationOrder) {
  const int size = OvNodeTableSize();
  EXPECT_EQ(size, 102);
  ASSERT_EQ(OvNodeTypeCount(), size);
  // Enumeration runs backwards through the table.
  int i = size - 1;
  for (OvNodeType* t = OvFirstNodeType(); t; t = t->m_next, --i) {
    ASSERT_GE(i, 0);
    const OvNodeTableEntry& e = OvNodeTableAt(i);
    OvTypeId pair;
    t->GetTypeId(pair);
    EXPECT_EQ(pair, e.pair) << i;
    EXPECT_EQ(t->GetFamily(), OV_FAMILY_NODE);
    if (e.name) {
      ASSERT_NE(t->GetName(), nullptr);
      EXPECT_STREQ(t->GetName(), e.name);
    } else {
      EXPECT_EQ(t->GetName(), nullptr);
    }
    // Hidden types carry no parameter table; a table is never empty.
    int count = -1;
    const OvNodeParamDesc* params = t->GetParamTable(count);
    EXPECT_EQ(params != nullptr, count > 0) << i;
    if (!e.name) {
      EXPECT_EQ(params, nullptr) << i;
    }
  }
  EXPECT_EQ(i, -1);

  OvTypeId first;
  OvFirstNodeType()->GetTypeId(first);
  EXPECT_EQ(first, (OvTypeId{0, 9000}));
  EXPECT_STREQ(OvNodeTableAt(0).name, "<ss> Flag Trigger");

  OvRegisterNodeTypes();  // a second start-up adds nothing
  EXPECT_EQ(OvNodeTypeCount(), size);
}

TEST_F(NodeRegistryTest, PairsAreWholePairs) {
  ASSERT_NE(OvFindNodeType(1110, 1), nullptr);
  EXPECT_STREQ(OvFindNodeType(1110, 1)->GetName(), "{c}Obj on Surface");
  EXPECT_STREQ(OvFindNodeType(1100, 1)->GetName(), "{c}Rigid Shadow");
  EXPECT_EQ(OvFindNodeType(1, 1110), nullptr);
  ASSERT_NE(OvFindNodeType(0, 1100), nullptr);
  EXPECT_EQ(OvFindNodeType(0, 1100)->GetName(), nullptr);  // the stepped UV track
  EXPECT_EQ(OvFindNodeType(0, 1110)->GetName(), nullptr);
  const std::string tildes(25, '~');
  EXPECT_EQ(std::string(OvFindNodeType(1, 2000)->GetName()), tildes + "{c}Advance if No Block");
  // The renderer's types come with the renderer.
  EXPECT_EQ(OvFindNodeType(0, 4550), nullptr);
  EXPECT_EQ(OvFindNodeType(0, 2010), nullptr);
  EXPECT_NE(OvFindNodeType(0, 4600), nullptr);  // "~~Glow" is the engine's
}

TEST_F(NodeRegistryTest, UnknownPairLoadsAsMissingAndWritesBack) {
  const Bytes rec = Record(0, 424242, {1, 2, 3, 4, 5});
  std::vector<OvDbNode*> nodes = ReadAll(rec);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_TRUE(nodes[0]->IsInert());
  EXPECT_STREQ(OvTypedRecordName(*nodes[0], OvNodeClasses()), "Missing");
  EXPECT_EQ(OvNodeController(nodes[0], nullptr), nullptr);
  EXPECT_EQ(WriteBack(*nodes[0]), rec);
}

TEST_F(NodeRegistryTest, OpaqueTypesKeepTheirBytesAndYieldNothing) {
  Bytes payload(37);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7 + 1);
  const Bytes trigger = Record(0, 1285, payload);
  const Bytes shadow = Record(1100, 1, {});
  const Bytes slice = Record(0, 7000, {0xFF, 0, 0x80});
  std::vector<OvDbNode*> nodes = ReadAll(Concat({trigger, shadow, slice}));
  ASSERT_EQ(nodes.size(), 3u);
  for (OvDbNode* n : nodes) {
    EXPECT_FALSE(n->IsInert());
    EXPECT_EQ(OvNodeController(n, nullptr), nullptr);
    n->Bind(nullptr);
  }
  EXPECT_STREQ(OvTypedRecordName(*nodes[0], OvNodeClasses()), "Set Sub-Object");
  EXPECT_STREQ(OvTypedRecordName(*nodes[1], OvNodeClasses()), "{c}Rigid Shadow");
  EXPECT_EQ(WriteBack(*nodes[0]), trigger);
  EXPECT_EQ(WriteBack(*nodes[1]), shadow);
  EXPECT_EQ(WriteBack(*nodes[2]), slice);
}

TEST_F(NodeRegistryTest, EditorOnlyTypesCreateNothingAndTheNextRecordReads) {
  const OvNodeType* attr = OvFindNodeType(0, 1280);
  ASSERT_NE(attr, nullptr);
  EXPECT_STREQ(attr->GetName(), "Set Object Attribute");
  EXPECT_EQ(attr->Create(arena), nullptr);
  for (uint32_t id : {1291u, 1290u, 1112u, 1297u, 1295u, 3800u, 3900u}) {
    ASSERT_NE(OvFindNodeType(0, id), nullptr);
    EXPECT_EQ(OvFindNodeType(0, id)->Create(arena), nullptr) << id;
  }
  const Bytes next = Record(0, 1285, {9, 9});
  std::vector<OvDbNode*> nodes = ReadAll(Concat({Record(0, 1280, Bytes(20, 0xAB)), next}));
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(OvNodeController(nodes[0], nullptr), nullptr);
  EXPECT_EQ(WriteBack(*nodes[1]), next);
}

TEST_F(NodeRegistryTest, TrackRecordsBecomeSharedControllers) {
  // Flags, then a table of two position keys, then bytes a newer writer added.
  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  w.WriteU32(0);
  w.WriteU32(32 + 2 * 16);
  w.WriteLayout("uuuttttu", 2u, 16u, 0u, 0, 10, 10, 0, 0u);
  for (int k = 0; k < 2; ++k) {
    w.WriteI32(k * 10);
    for (int v = 0; v < 3; ++v) w.WriteF32(float(k * 10 + v));
  }
  w.WriteU32(0xDEADBEEF);
  const Bytes payload(w.Image(), w.Image() + w.ImageSize());
  const Bytes after = Record(0, 1285, {1});
  std::vector<OvDbNode*> nodes = ReadAll(Concat({Record(0, 100, payload), after}));
  ASSERT_EQ(nodes.size(), 2u);
  OvAniCtrl* ctrl = OvNodeController(nodes[0], nullptr);
  ASSERT_NE(ctrl, nullptr);
  EXPECT_EQ(ctrl->GetCtrlId(), 111);
  EXPECT_EQ(ctrl->GetChannelMask(), ACF_POS);
  EXPECT_EQ(ctrl, OvNodeController(nodes[0], nullptr));
  EXPECT_EQ(WriteBack(*nodes[1]), after);
}

TEST_F(NodeRegistryTest, TracksSurviveAContentFileAndAnimateItsClumps) {
  OvDatabase* src = OvDatabase::Create();
  ASSERT_NE(src, nullptr);
  OvDbAniSet* set = src->AddAniSet();
  auto* turn = OvArenaNew<OvKeyTrackNode>(src->Arena(), OV_TRACK_ROTATION);
  const int32_t times[] = {0, 60};
  const float quats[] = {1, 0, 0, 0, 0, 0, 0, 1};
  turn->SetTable(OvKeyTable::Create(src->Arena(), 2, 4, times, quats, OV_KEY_CLAMP, OV_KEY_REPEAT));
  auto* blink = OvArenaNew<OvKeyTrackNode>(src->Arena(), OV_TRACK_VISIBILITY);
  const int32_t onOff[] = {30};
  blink->SetTable(OvKeyTable::Create(src->Arena(), 1, 0, onOff, nullptr));
  src->AddAniSetEntry(*set, turn);
  src->AddAniSetEntry(*set, blink);
  src->AddAniSetEntry(*set, OvArenaNew<OvMissingNode>(src->Arena(), OvTypeId{3, 3}, 0));
  src->AddClumpRecord("spinner")->aniSetIndex = 0;

  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  ASSERT_TRUE(src->Write(w));
  const Bytes image(w.Image(), w.Image() + w.ImageSize());
  src->Destroy();

  OvDatabase* db = OvDatabase::Create();
  ASSERT_TRUE(db->LoadMemory(image.data(), image.size(), "tracks"));
  OvClump* c = OvClump::CreateFromRecord(*db, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetAniCtrlCount(), 2);  // the unknown record yields nothing
  c->AnimateChain(90);                 // repeats: plays 30 of (0, 60]
  EXPECT_NEAR(c->GetQuat().s, 0.70710678f, 1e-5f);
  EXPECT_NEAR(c->GetQuat().v.z, 0.70710678f, 1e-5f);
  EXPECT_TRUE(c->IsInvisible());
  c->Release();

  OvStream again;
  ASSERT_TRUE(again.OpenMemoryWrite());
  ASSERT_TRUE(db->Write(again));
  EXPECT_EQ(Bytes(again.Image(), again.Image() + again.ImageSize()), image);
  db->Destroy();
}

// ---------------------------------------------------------------------------
// The two controller shapes, on clumps made from content.

class CountingCtrl : public OvAniCtrl {
 public:
  int32_t GetCtrlId() const override { return 4321; }
  void Animate(OvClump* clump, int32_t time) override {
    (void)clump;
    ticks += time;
  }
  int32_t ticks = 0;
};

class SharedTestNode : public OvSharedCtrlNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = {7, 1}; }
  bool Read(OvStream&, OvChunkArena&) override { return true; }
  bool Write(OvStream&) const override { return true; }
  int32_t GetCtrlId() const override { return 1234; }
};

class PerClumpTestNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = {7, 2}; }
  bool Read(OvStream&, OvChunkArena&) override { return true; }
  bool Write(OvStream&) const override { return true; }
  bool pointless = false;

 protected:
  OvAniCtrl* MakeController(OvClump*) override { return pointless ? nullptr : new CountingCtrl(); }
};

TEST(NodeShapes, SharedNodesServeEveryClumpPerClumpNodesMakeOneEach) {
  OvDatabase* db = OvDatabase::Create();
  ASSERT_NE(db, nullptr);
  auto* shared = OvArenaNew<SharedTestNode>(db->Arena());
  auto* perClump = OvArenaNew<PerClumpTestNode>(db->Arena());
  auto* pointless = OvArenaNew<PerClumpTestNode>(db->Arena());
  pointless->pointless = true;
  OvDbAniSet* set = db->AddAniSet();
  db->AddAniSetEntry(*set, shared);
  db->AddAniSetEntry(*set, perClump);
  db->AddAniSetEntry(*set, pointless);
  OvClumpRecord* rec = db->AddClumpRecord("user");
  rec->aniSetIndex = 0;

  const int32_t before = OvMemoryKindCount(OV_MEM_KIND_ANICTRL);
  OvClump* a = OvClump::CreateFromRecord(*db, 0);
  OvClump* b = OvClump::CreateFromRecord(*db, 0);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->GetAniCtrlCount(), 2);
  EXPECT_EQ(a->FindAniCtrl(1234), b->FindAniCtrl(1234));
  EXPECT_FALSE(a->FindAniCtrl(1234)->IsOwned());
  OvAniCtrl* ca = a->FindAniCtrl(4321);
  OvAniCtrl* cb = b->FindAniCtrl(4321);
  ASSERT_TRUE(ca && cb);
  EXPECT_NE(ca, cb);
  EXPECT_TRUE(ca->IsOwned());
  // Two lists and two per-clump controllers.
  EXPECT_EQ(OvMemoryKindCount(OV_MEM_KIND_ANICTRL), before + 4);

  // Releasing the clumps frees the owned controllers only; the shared one
  // still works for the next clump.
  a->Release();
  b->Release();
  OvClump* c = OvClump::CreateFromRecord(*db, 0);
  EXPECT_EQ(c->FindAniCtrl(1234), static_cast<OvAniCtrl*>(shared));
  c->Release();
  db->Destroy();
}

// ---------------------------------------------------------------------------
// Authoring metadata.

class AngleNode : public OvDbNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = {7, 3}; }
  bool Read(OvStream&, OvChunkArena&) override { return true; }
  bool Write(OvStream&) const override { return true; }
  bool FromValues(const OvParamValues& v) {
    v.FlagPair(0, checkMask, checkValue);
    angle = v.Radians(1);
    v.Ref(2, objectKey, clumpKey);
    op = v.Int(3);
    return true;
  }
  uint32_t checkMask = 0, checkValue = 0;
  float angle = 0.0f;
  int32_t objectKey = 0, clumpKey = 0, op = 0;
};

const OvNodeParamDesc kAngleParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamF(1, "Angle:", OV_PK_REAL, 45.0f),
    OvParamI(3, "Target:", OV_PK_REF, -1),
    OvParamI(2, "Operation:\0Or\0And\0", OV_PK_CHOICE, 1),
};

OvParamValue Slot(uint32_t w0, uint32_t w1 = 0) { return OvParamValue{{w0, w1, 0, 0}}; }

TEST(NodeMetadata, ParameterTableAndCreateFromValues) {
  OvNodeTypeOf<AngleNode> type({7, 3}, "Angle Test", kAngleParams, 4);
  int count = 0;
  const OvNodeParamDesc* params = type.GetParamTable(count);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(type.GetFamily(), OV_FAMILY_NODE);
  EXPECT_FLOAT_EQ(params[1].def.f, 45.0f);
  EXPECT_EQ(params[2].def.i, -1);
  EXPECT_EQ(params[3].number, 2);  // display order is not number order
  EXPECT_EQ(OvParamChoiceCount(params[3]), 2);
  EXPECT_STREQ(OvParamChoice(params[3], 0), "Or");
  EXPECT_STREQ(OvParamChoice(params[3], 1), "And");
  EXPECT_EQ(OvParamChoice(params[3], 2), nullptr);
  EXPECT_EQ(OvParamChoiceCount(params[0]), 0);  // not a choice list

  OvChunkArena arena;
  const OvParamValue values[] = {Slot(0x3FFFF, 0x10001), Slot(std::bit_cast<uint32_t>(90.0f)), Slot(5, 6), Slot(1)};
  EXPECT_EQ(type.CreateFromValues(arena, values, 3), nullptr);  // one short
  EXPECT_EQ(type.CreateFromValues(arena, nullptr, 4), nullptr);
  auto* node = static_cast<AngleNode*>(type.CreateFromValues(arena, values, 4));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->checkMask, 0xFFFFu);  // flags reach the 16 switches only
  EXPECT_EQ(node->checkValue, 0x1u);
  EXPECT_FLOAT_EQ(node->angle, 90.0f * C_PI / 180.0f);
  EXPECT_EQ(node->objectKey, 5);
  EXPECT_EQ(node->clumpKey, 6);
  EXPECT_EQ(node->op, 1);
}

}  // namespace
