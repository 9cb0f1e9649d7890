// Type registries and typed records: lookup by pair, raw ("Missing") records,
// payload bounding and repositioning, and out-of-memory paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ov_memory.h"
#include "ov_node_type.h"
#include "ov_stream.h"
#include "ov_typed_record.h"
#include "trace_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Behaviour { Exact, IgnoreFailures, LeaveChunkOpen };

// Payload: `count` i32 values.
class IntsNode : public OvDbNode {
 public:
  IntsNode(OvTypeId type, int count, Behaviour how) : m_type(type), m_count(count), m_how(how) {}
  void GetTypeId(OvTypeId& out) const override { out = m_type; }
  bool Read(OvStream& s, OvChunkArena&) override {
    if (m_how == Behaviour::LeaveChunkOpen) {
      s.BeginChunk();
      return false;
    }
    for (int k = 0; k < m_count; ++k) {
      if (!s.ReadI32(values[k]) && m_how != Behaviour::IgnoreFailures) return false;
    }
    return true;
  }
  bool Write(OvStream& s) const override {
    for (int k = 0; k < m_count; ++k) {
      if (!s.WriteI32(values[k])) return false;
    }
    return true;
  }
  int32_t values[4] = {};

 private:
  OvTypeId m_type;
  int m_count;
  Behaviour m_how;
};

class TestType : public OvNodeType {
 public:
  TestType(OvTypeId type, const char* name, int count = 2, bool creates = true, Behaviour how = Behaviour::Exact)
      : m_type(type), m_name(name), m_count(count), m_creates(creates), m_how(how) {}
  ~TestType() override { ++destroyed; }
  void GetTypeId(OvTypeId& out) const override { out = m_type; }
  const char* GetName() const override { return m_name; }
  OvDbNode* Create(OvChunkArena& arena) const override {
    return m_creates ? OvArenaNew<IntsNode>(arena, m_type, m_count, m_how) : nullptr;
  }
  static inline int destroyed = 0;

 private:
  OvTypeId m_type;
  const char* m_name;
  int m_count;
  bool m_creates;
  Behaviour m_how;
};

void PutRecord(OvStream& w, uint32_t group, uint32_t id, const Bytes& payload) {
  w.WriteU32(group);
  w.WriteU32(id);
  w.WriteU32(uint32_t(payload.size()));
  w.WriteBytes(payload.data(), payload.size());
}

Bytes Ints(std::initializer_list<int32_t> v) {
  Bytes b(v.size() * 4);
  std::memcpy(b.data(), std::data(v), b.size());
  return b;
}

class TypedRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_reg.Register(new TestType({0, 1000}, "Pair"));
    m_reg.Register(new TestType({0, 1001}, "Short", 1));
    m_reg.Register(new TestType({0, 1002}, "Greedy", 3));
    m_reg.Register(new TestType({0, 1003}, "Careless", 3, true, Behaviour::IgnoreFailures));
    m_reg.Register(new TestType({0, 1004}, "Nester", 0, true, Behaviour::LeaveChunkOpen));
    m_reg.Register(new TestType({0, 1005}, "Editor only", 2, false));
    m_reg.Register(new TestType({0, 1006}, nullptr));
  }
  void TearDown() override {
    OvMemoryFailNext(0);
    m_reg.Shutdown();
  }

  void Open(const Bytes& img) { ASSERT_TRUE(m_s.OpenMemory(img.data(), img.size())); }

  OvTypeRegistry m_reg;
  OvChunkArena m_arena;
  OvStream m_s;
};

TEST(TypeRegistry, OrderPairsAndShutdown) {
  TestType::destroyed = 0;
  OvTypeRegistry reg;
  auto* a = new TestType({0, 1100}, "a");
  auto* b = new TestType({1100, 1}, "b");
  auto* c = new TestType({0, 1110}, "c");
  reg.Register(a);
  reg.Register(b);
  reg.Register(c);
  reg.Register(b);  // twice: ignored rather than looping the list
  reg.Register(nullptr);
  ASSERT_EQ(reg.Count(), 3);
  EXPECT_EQ(reg.First(), c);
  EXPECT_EQ(c->m_next, b);
  EXPECT_EQ(b->m_next, a);
  EXPECT_EQ(a->m_next, nullptr);

  EXPECT_EQ(reg.FindType({0, 1100}), a);
  EXPECT_EQ(reg.FindType({1100, 1}), b);
  EXPECT_EQ(reg.FindType({1, 1100}), nullptr);
  EXPECT_EQ(reg.FindType({1110, 0}), nullptr);
  auto* shadow = new TestType({0, 1100}, "later");
  reg.Register(shadow);
  EXPECT_EQ(reg.FindType({0, 1100}), shadow);  // first in list order

  reg.Shutdown();
  EXPECT_EQ(reg.Count(), 0);
  EXPECT_EQ(reg.First(), nullptr);
  EXPECT_EQ(TestType::destroyed, 4);
}

TEST(TypeRegistry, MemoryStopReleasesTheGlobalRegistries) {
  // In a child process: the global registries are shared by the whole binary.
  EXPECT_EXIT(
      {
        OvMemoryStart(0);
        TestType::destroyed = 0;
        OvNodeClasses().Register(new TestType({0, 1}, "n"));
        OvShaderClasses().Register(new TestType({0, 2}, "s"));
        OvExtensionClasses().Register(new TestType({0, 3}, "e"));
        OvMemoryStop();
        const OvMemoryCounters c = OvMemoryGetCounters();
        const bool released = OvNodeClasses().Count() == 0 && OvShaderClasses().Count() == 0 &&
                              OvExtensionClasses().Count() == 0 && TestType::destroyed == 3;
        std::exit(released && c.allocCount == c.freeCount ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(TypedRecordTest, KnownTypesAndRepositioning) {
  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  PutRecord(w, 0, 1000, Ints({5, 6}));
  PutRecord(w, 0, 1001, Ints({7, 8, 9}));  // the class reads only the first
  PutRecord(w, 0, 1000, Ints({10, 11}));
  const Bytes img(w.Image(), w.Image() + w.ImageSize());
  Open(img);

  m_arena.Allocate(4);  // the arena now stands on a 4-byte boundary only
  OvDbNode* n = nullptr;
  ASSERT_TRUE(OvReadTypedRecord(m_s, m_reg, m_arena, n));
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(n) % alignof(IntsNode), 0u);
  EXPECT_FALSE(n->IsInert());
  EXPECT_STREQ(OvTypedRecordName(*n, m_reg), "Pair");
  EXPECT_EQ(static_cast<IntsNode*>(n)->values[1], 6);

  ASSERT_TRUE(OvReadTypedRecord(m_s, m_reg, m_arena, n));
  EXPECT_EQ(static_cast<IntsNode*>(n)->values[0], 7);
  EXPECT_EQ(m_s.Position(), 20u + 24);  // past the two unread values
  ASSERT_TRUE(OvReadTypedRecord(m_s, m_reg, m_arena, n));
  EXPECT_EQ(static_cast<IntsNode*>(n)->values[0], 10);
  EXPECT_EQ(m_s.Depth(), 0);
  EXPECT_FALSE(m_s.Failed());
}

TEST_F(TypedRecordTest, RawRecordsRoundTripByteForByte) {
  TraceCapture trace;
  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  Bytes big(6000);
  for (size_t k = 0; k < big.size(); ++k) big[k] = uint8_t(k * 7);
  PutRecord(w, 1100, 1, big);           // unknown pair ((0, 1100) is not registered either)
  PutRecord(w, 0, 1005, Ints({1, 2}));  // editor-only: no instance
  PutRecord(w, 0, 1002, Ints({3, 4}));  // reads past its payload
  PutRecord(w, 0, 1003, Ints({5, 6}));  // ... and ignores the failure
  PutRecord(w, 0, 1004, Ints({0, 7}));  // gives up inside a chunk of its own
  PutRecord(w, 7, 7, {});               // empty payload
  PutRecord(w, 0, 1000, Ints({8, 9}));
  const Bytes img(w.Image(), w.Image() + w.ImageSize());
  Open(img);

  const OvTypeId expected[] = {{1100, 1}, {0, 1005}, {0, 1002}, {0, 1003}, {0, 1004}, {7, 7}, {0, 1000}};
  std::vector<OvDbNode*> nodes;
  for (const OvTypeId& id : expected) {
    OvDbNode* n = nullptr;
    ASSERT_TRUE(OvReadTypedRecord(m_s, m_reg, m_arena, n));
    OvTypeId got;
    n->GetTypeId(got);
    EXPECT_EQ(got, id);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(n) % alignof(OvMissingNode), 0u);
    EXPECT_EQ(m_s.Depth(), 0);
    nodes.push_back(n);
  }
  EXPECT_FALSE(m_s.Failed());  // the failed reads stayed inside their records
  EXPECT_TRUE(trace.Contains("(0, 1002)"));
  for (size_t k = 0; k + 1 < nodes.size(); ++k) {
    EXPECT_TRUE(nodes[k]->IsInert()) << k;
    EXPECT_EQ(nodes[k]->GetController(nullptr), nullptr);
    EXPECT_STREQ(OvTypedRecordName(*nodes[k], m_reg), "Missing");
  }
  EXPECT_FALSE(nodes.back()->IsInert());

  OvStream out;
  ASSERT_TRUE(out.OpenMemoryWrite());
  for (OvDbNode* n : nodes) EXPECT_TRUE(OvWriteTypedRecord(out, *n));
  EXPECT_EQ(Bytes(out.Image(), out.Image() + out.ImageSize()), img);
}

TEST_F(TypedRecordTest, NamesOfHiddenAndUnknownTypes) {
  EXPECT_STREQ(OvTypedRecordName(IntsNode({0, 1001}, 0, Behaviour::Exact), m_reg), "Short");
  EXPECT_STREQ(OvTypedRecordName(IntsNode({0, 1006}, 0, Behaviour::Exact), m_reg), "Missing");  // hidden
  EXPECT_STREQ(OvTypedRecordName(IntsNode({9, 9}, 0, Behaviour::Exact), m_reg), "Missing");
  EXPECT_STREQ(OvTypedRecordName(OvMissingNode({0, 1000}, 0), m_reg), "Missing");  // registered, kept raw
}

TEST_F(TypedRecordTest, TruncatedRecordsFail) {
  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  PutRecord(w, 0, 1000, Ints({1, 2}));
  const Bytes img(w.Image(), w.Image() + w.ImageSize());
  for (size_t cut : {size_t(8), img.size() - 1}) {
    SCOPED_TRACE(cut);
    ASSERT_TRUE(m_s.OpenMemory(img.data(), cut));
    OvDbNode* n = reinterpret_cast<OvDbNode*>(&m_s);
    EXPECT_FALSE(OvReadTypedRecord(m_s, m_reg, m_arena, n));
    EXPECT_EQ(n, nullptr);
    EXPECT_TRUE(m_s.Failed());
    EXPECT_EQ(m_s.Depth(), 0);
  }
}

TEST_F(TypedRecordTest, OutOfMemoryFailsAndKeepsTheStreamInStep) {
  TraceCapture trace;
  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  PutRecord(w, 0, 1000, Ints({1, 2}));
  PutRecord(w, 5, 5, Ints({3}));
  PutRecord(w, 5, 5, Bytes(5000, 1));  // payload needs a second arena chunk
  PutRecord(w, 0, 1000, Ints({4, 5}));
  const Bytes img(w.Image(), w.Image() + w.ImageSize());
  Open(img);

  OvDbNode* n = nullptr;
  OvMemoryFailNext(1);  // Create's arena chunk
  EXPECT_FALSE(OvReadTypedRecord(m_s, m_reg, m_arena, n));
  EXPECT_EQ(n, nullptr);
  EXPECT_EQ(m_s.Position(), 20u);

  OvChunkArena fresh;
  OvMemoryFailNext(1);  // the raw record's node
  EXPECT_FALSE(OvReadTypedRecord(m_s, m_reg, fresh, n));
  EXPECT_EQ(n, nullptr);

  OvChunkArena another;
  OvMemoryFailAfter(1, 1);  // the raw record's payload
  EXPECT_FALSE(OvReadTypedRecord(m_s, m_reg, another, n));
  EXPECT_EQ(n, nullptr);
  OvMemoryFailNext(0);
  EXPECT_TRUE(trace.Contains("!!! Not enough memory when AllocMem()!"));
  EXPECT_FALSE(trace.Contains("kept as raw"));

  ASSERT_TRUE(OvReadTypedRecord(m_s, m_reg, m_arena, n));
  EXPECT_EQ(static_cast<IntsNode*>(n)->values[1], 5);
  EXPECT_FALSE(m_s.Failed());
}

}  // namespace
