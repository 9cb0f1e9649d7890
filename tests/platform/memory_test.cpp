// AllocMem/OvMFree counting and the balance report, failure
// injection, the chunk arena, the five element pools, the engine-wide
// singletons and the optional boundary-tag arena.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ov_clock.h"
#include "ov_memory.h"
#include "trace_capture.h"

namespace {

const char kMismatch[] = "!!! Count of allocation and free are not matched!\n";
const char kOutOfMemory[] = "!!! Not enough memory when AllocMem()!\n";

std::string CountLine(int32_t alloc, int32_t freed) {
  char line[128];
  std::snprintf(line, sizeof line, "Count of Orvo memory management systeme. alloc: %d, free: %d\n", alloc, freed);
  return line;
}

std::string FailLine(int32_t n) {
  char line[128];
  std::snprintf(line, sizeof line, "!!! Memory allocation has ever been failed %d times.\n", n);
  return line;
}

// Every test leaves the memory system stopped and failure injection off, even
// when it stops early on a failed assertion.
class MemoryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    OvMemoryFailNext(0);
    OvMemorySetStopHook(nullptr);
    if (OvMemoryGetCounters().countingOn) {
      TraceCapture swallow;
      OvMemoryStop();
    }
  }
};

// ---------------------------------------------------------------------------
// Counting and the balance report.

TEST_F(MemoryTest, FreeOfNullChangesNoCounter) {
  OvMemoryStart(0);
  OvMemoryCounters before = OvMemoryGetCounters();
  OvMFree(nullptr);
  OvMemoryCounters after = OvMemoryGetCounters();
  EXPECT_EQ(before.allocCount, after.allocCount);
  EXPECT_EQ(before.freeCount, after.freeCount);
  EXPECT_EQ(before.failCount, after.failCount);
}

TEST_F(MemoryTest, StartSwitchesCountingOnAndStopOff) {
  EXPECT_FALSE(OvMemoryGetCounters().countingOn);
  OvMemoryStart(0);
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_TRUE(c.countingOn);
  EXPECT_FALSE(c.arenaOn);
  EXPECT_EQ(c.failCount, 0);
  EXPECT_EQ(c.freeCount, 0);
  void* p = AllocMem(32);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, c.allocCount + 1);
  OvMFree(p);
  EXPECT_EQ(OvMemoryGetCounters().freeCount, c.freeCount + 1);
  TraceCapture capture;
  OvMemoryStop();
  EXPECT_FALSE(OvMemoryGetCounters().countingOn);
}

TEST_F(MemoryTest, BalancedRunPrintsOnlyTheCountLine) {
  OvMemoryStart(0);
  void* a = AllocMem(10);
  void* b = AllocMem(1000);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  OvMFree(b);
  OvMFree(a);
  TraceCapture capture;
  OvMemoryStop();
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(c.allocCount, c.freeCount);
  EXPECT_GE(c.allocCount, 2);
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount));
}

TEST_F(MemoryTest, MissingFreeAddsTheNotMatchedLine) {
  OvMemoryStart(0);
  void* leaked = AllocMem(24);
  ASSERT_NE(leaked, nullptr);
  TraceCapture capture;
  OvMemoryStop();
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(c.allocCount, c.freeCount + 1);
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount) + kMismatch);
  OvMFree(leaked);  // after stop: system heap, not counted
  EXPECT_EQ(OvMemoryGetCounters().freeCount, c.freeCount);
}

TEST_F(MemoryTest, FailuresAddTheEverFailedLineWithTheCount) {
  OvMemoryStart(0);
  TraceCapture capture;
  OvMemoryFailNext(3);
  EXPECT_EQ(AllocMem(8), nullptr);
  EXPECT_EQ(AllocMem(8), nullptr);
  EXPECT_EQ(AllocMem(8), nullptr);
  void* ok = AllocMem(8);  // injection used up
  ASSERT_NE(ok, nullptr);
  OvMFree(ok);
  EXPECT_EQ(capture.Text(), std::string(kOutOfMemory) + kOutOfMemory + kOutOfMemory);
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(c.failCount, 3);
  capture.Clear();
  OvMemoryStop();
  c = OvMemoryGetCounters();
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount) + FailLine(3));
}

TEST_F(MemoryTest, FailuresAreCountedEvenWithCountingOff) {
  OvMemoryStart(0);
  {
    TraceCapture swallow;
    OvMemoryStop();
  }
  int32_t before = OvMemoryGetCounters().failCount;
  TraceCapture capture;
  OvMemoryFailNext(1);
  EXPECT_EQ(AllocMem(8), nullptr);
  EXPECT_EQ(OvMemoryGetCounters().failCount, before + 1);
  EXPECT_EQ(capture.Text(), kOutOfMemory);
}

TEST_F(MemoryTest, FailAfterSkipsThenFails) {
  OvMemoryStart(0);
  TraceCapture capture;
  OvMemoryFailAfter(2, 1);
  void* a = AllocMem(4);
  void* b = AllocMem(4);
  void* c = AllocMem(4);
  void* d = AllocMem(4);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  OvMFree(a);
  OvMFree(b);
  OvMFree(d);
  EXPECT_EQ(OvMemoryGetCounters().failCount, 1);
}

TEST_F(MemoryTest, AllocationsBeforeStartAreNotCountedButTheirFreesAre) {
  OvMemoryCounters idle = OvMemoryGetCounters();
  void* early = AllocMem(40);
  ASSERT_NE(early, nullptr);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, idle.allocCount);
  OvMemoryStart(0);
  OvMemoryCounters started = OvMemoryGetCounters();
  OvMFree(early);
  EXPECT_EQ(OvMemoryGetCounters().freeCount, started.freeCount + 1);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, started.allocCount);
  TraceCapture capture;
  OvMemoryStop();
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(c.freeCount, c.allocCount + 1);
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount) + kMismatch);
}

TEST_F(MemoryTest, AllocMemWorksAfterStopWithoutCounting) {
  OvMemoryStart(0);
  {
    TraceCapture swallow;
    OvMemoryStop();
  }
  OvMemoryCounters stopped = OvMemoryGetCounters();
  void* p = AllocMem(100);
  ASSERT_NE(p, nullptr);
  std::memset(p, 0xAB, 100);
  OvMFree(p);
  OvMemoryCounters after = OvMemoryGetCounters();
  EXPECT_EQ(after.allocCount, stopped.allocCount);
  EXPECT_EQ(after.freeCount, stopped.freeCount);
}

struct Engineish : OvAllocated {
  double values[4];
};

TEST_F(MemoryTest, EngineNewGoesThroughAllocMemAndYieldsNullOnFailure) {
  OvMemoryStart(0);
  int32_t allocs = OvMemoryGetCounters().allocCount;
  Engineish* e = new Engineish();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, allocs + 1);
  delete e;
  TraceCapture capture;
  OvMemoryFailNext(1);
  EXPECT_EQ(new Engineish(), nullptr);
  EXPECT_TRUE(capture.Contains(kOutOfMemory));
}

TEST_F(MemoryTest, StopHookRunsFirstAndItsFreesAreCounted) {
  static void* s_registry = nullptr;
  static bool s_poolsAlive = false;
  static bool s_countingOn = false;
  OvMemoryStart(0);
  s_registry = AllocMem(64);
  ASSERT_NE(s_registry, nullptr);
  OvMemorySetStopHook([] {
    s_poolsAlive = OvMemoryPool(1) != nullptr && OvMemoryTextCollector() != nullptr;
    s_countingOn = OvMemoryGetCounters().countingOn;
    OvMFree(s_registry);
    s_registry = nullptr;
  });
  TraceCapture capture;
  OvMemoryStop();
  EXPECT_TRUE(s_poolsAlive);
  EXPECT_TRUE(s_countingOn);
  EXPECT_EQ(s_registry, nullptr);
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount));
}

// ---------------------------------------------------------------------------
// Engine-wide singletons.

TEST_F(MemoryTest, SingletonsLiveFromStartToStop) {
  EXPECT_EQ(OvMemoryAccumulator(), nullptr);
  EXPECT_EQ(OvMemoryTimingRecord(), nullptr);
  EXPECT_EQ(OvMemoryTextCollector(), nullptr);
  OvMemoryStart(0);
  ASSERT_NE(OvMemoryAccumulator(), nullptr);
  ASSERT_NE(OvMemoryTimingRecord(), nullptr);
  ASSERT_NE(OvMemoryTextCollector(), nullptr);

  OvAccumulator* acc = OvMemoryAccumulator();
  EXPECT_EQ(acc->total, 0.0);
  acc->Add(5);
  acc->Add(3);
  acc->Add(-6);
  EXPECT_EQ(acc->total, 2.0);
  EXPECT_EQ(acc->maximum, 8.0);

  OvTimingRecord* timing = OvMemoryTimingRecord();
  EXPECT_EQ(timing->counter, 0);
  EXPECT_FALSE(timing->flag1);
  EXPECT_FALSE(timing->flag2);
  EXPECT_LE(timing->startSeconds, OvTickCount() / 1000.0);
  EXPECT_GE(timing->startSeconds, OvTickCount() / 1000.0 - 5.0);

  TraceCapture capture;
  OvMemoryStop();
  EXPECT_EQ(OvMemoryAccumulator(), nullptr);
  EXPECT_EQ(OvMemoryTimingRecord(), nullptr);
  EXPECT_EQ(OvMemoryTextCollector(), nullptr);
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount));
}

TEST_F(MemoryTest, TextCollectorGathersFormattedLinesWhileEnabled) {
  OvMemoryStart(0);
  OvTextCollector* text = OvMemoryTextCollector();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Capacity(), 4096u);
  EXPECT_FALSE(text->Enabled());
  TraceCapture capture;
  _TraceFormat("ignored %d\n", 1);
  EXPECT_STREQ(text->Text(), "");
  text->Enable(true);
  _TraceFormat("value %d\n", 42);
  _TraceFormat("no newline %s", "here");
  EXPECT_STREQ(text->Text(), "value 42\nno newline here\n");
  text->Enable(false);
  _TraceFormat("after\n");
  EXPECT_STREQ(text->Text(), "value 42\nno newline here\n");
  EXPECT_EQ(capture.Text(), "ignored 1\nvalue 42\nno newline hereafter\n");
}

TEST_F(MemoryTest, TextCollectorDoublesItsBuffer) {
  OvMemoryStart(0);
  OvTextCollector* text = OvMemoryTextCollector();
  ASSERT_NE(text, nullptr);
  int32_t allocs = OvMemoryGetCounters().allocCount;
  std::string chunk(3000, 'a');
  EXPECT_TRUE(text->Append(chunk.c_str()));
  EXPECT_EQ(text->Capacity(), 4096u);
  EXPECT_TRUE(text->Append(chunk.c_str()));
  EXPECT_EQ(text->Capacity(), 8192u);
  EXPECT_TRUE(text->Append(chunk.c_str()));
  EXPECT_TRUE(text->Append(chunk.c_str()));
  EXPECT_EQ(text->Capacity(), 16384u);
  EXPECT_EQ(text->Length(), 12000u);
  EXPECT_EQ(std::string(text->Text()), chunk + chunk + chunk + chunk);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, allocs + 2);

  TraceCapture capture;
  OvMemoryFailNext(1);
  std::string big(20000, 'b');
  EXPECT_FALSE(text->Append(big.c_str()));
  EXPECT_EQ(text->Length(), 12000u);
  text->Clear();
  EXPECT_STREQ(text->Text(), "");
  capture.Clear();
  OvMemoryStop();
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount) + FailLine(1));
}

// ---------------------------------------------------------------------------
// Chunk arena.

TEST_F(MemoryTest, ChunkArenaDefaultsAndBlockSizeVariant) {
  OvChunkArena plain;
  EXPECT_EQ(plain.DefaultPayload(), 4076);
  EXPECT_EQ(plain.CurrentOffset(), 16);
  EXPECT_EQ(plain.ChunkCount(), 0);
  OvChunkArena frame(64000);
  EXPECT_EQ(frame.DefaultPayload(), 63980);
  OvChunkArena tiny(20);
  EXPECT_EQ(tiny.DefaultPayload(), 4076);
  OvChunkArena small(21);
  EXPECT_EQ(small.DefaultPayload(), 1);
}

TEST_F(MemoryTest, ChunkArenaBumpsWithinAChunkRoundedToFour) {
  OvMemoryStart(0);
  int32_t allocs = OvMemoryGetCounters().allocCount;
  {
    OvChunkArena arena;
    char* a = static_cast<char*>(arena.Allocate(10));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(OvMemoryGetCounters().allocCount, allocs + 1);
    EXPECT_EQ(arena.CurrentChunkSize(), 4076 + 16);
    EXPECT_EQ(a, static_cast<const char*>(arena.CurrentChunk()) + 16);
    EXPECT_EQ(arena.CurrentOffset(), 28);
    char* b = static_cast<char*>(arena.Allocate(1));
    EXPECT_EQ(b, a + 12);
    EXPECT_EQ(arena.LastOffset(), 28);
    EXPECT_EQ(arena.CurrentOffset(), 32);
    // Exactly filling the chunk stays in it.
    char* c = static_cast<char*>(arena.Allocate(4092 - 32));
    EXPECT_EQ(c, b + 4);
    EXPECT_EQ(arena.CurrentOffset(), 4092);
    EXPECT_EQ(arena.ChunkCount(), 1);
    // Zero bytes at a full chunk fit too.
    EXPECT_EQ(arena.Allocate(0), a + 4076);
    EXPECT_EQ(arena.ChunkCount(), 1);
  }
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(c.allocCount - allocs, 1);
  EXPECT_EQ(c.freeCount, 1);
}

TEST_F(MemoryTest, ChunkArenaBigRequestGetsExactlyItsSizePlusHeader) {
  OvMemoryStart(0);
  OvChunkArena arena;
  char* small = static_cast<char*>(arena.Allocate(100));
  ASSERT_NE(small, nullptr);
  const void* first = arena.CurrentChunk();
  char* big = static_cast<char*>(arena.Allocate(5000));
  ASSERT_NE(big, nullptr);
  EXPECT_NE(arena.CurrentChunk(), first);
  EXPECT_EQ(arena.CurrentChunkSize(), 5000 + 16);
  EXPECT_EQ(big, static_cast<const char*>(arena.CurrentChunk()) + 16);
  EXPECT_EQ(arena.CurrentOffset(), 5016);
  EXPECT_EQ(arena.ChunkCount(), 2);
  std::memset(big, 1, 5000);
  // Unaligned size: rounded to 5004 first.
  arena.Allocate(5001);
  EXPECT_EQ(arena.CurrentChunkSize(), 5004 + 16);
}

TEST_F(MemoryTest, ChunkArenaResizeLastWithinChunk) {
  OvChunkArena arena;
  char* a = static_cast<char*>(arena.Allocate(100));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(arena.CurrentOffset(), 116);
  arena.ResizeLast(10);
  EXPECT_EQ(arena.CurrentOffset(), 28);
  EXPECT_EQ(arena.Allocate(4), a + 12);
  arena.ResizeLast(0);
  EXPECT_EQ(arena.CurrentOffset(), 28);
  arena.ResizeLast(5);  // rounded to 4 like Allocate
  EXPECT_EQ(arena.CurrentOffset(), 36);

  // Emptying the only chunk keeps it current.
  OvChunkArena single;
  const char* p = static_cast<char*>(single.Allocate(8));
  single.ResizeLast(0);
  EXPECT_EQ(single.CurrentOffset(), 16);
  EXPECT_EQ(single.CurrentChunk(), p - 16);
  EXPECT_EQ(single.Allocate(4), p);
}

TEST_F(MemoryTest, ChunkArenaResizeLastZeroReturnsToThePreviousChunk) {
  OvMemoryStart(0);
  OvChunkArena arena;
  char* a = static_cast<char*>(arena.Allocate(4000));
  ASSERT_NE(a, nullptr);
  const void* first = arena.CurrentChunk();
  EXPECT_EQ(arena.CurrentOffset(), 4016);
  char* b = static_cast<char*>(arena.Allocate(200));  // 4216 > 4092: opens a chunk
  ASSERT_NE(b, nullptr);
  const void* second = arena.CurrentChunk();
  EXPECT_NE(second, first);
  EXPECT_EQ(b, static_cast<const char*>(second) + 16);
  EXPECT_EQ(arena.CurrentOffset(), 216);

  arena.ResizeLast(0);
  EXPECT_EQ(arena.CurrentChunk(), first);
  EXPECT_EQ(arena.CurrentOffset(), 4016);  // the saved offset
  EXPECT_EQ(arena.CurrentChunkSize(), 4092);
  EXPECT_EQ(arena.ChunkCount(), 2);  // the emptied chunk is kept

  // The rest of the first chunk is used again ...
  EXPECT_EQ(arena.Allocate(64), a + 4000);
  // ... and moving on reuses the kept chunk without a new allocation.
  int32_t allocs = OvMemoryGetCounters().allocCount;
  char* c = static_cast<char*>(arena.Allocate(300));
  EXPECT_EQ(c, static_cast<const char*>(second) + 16);
  EXPECT_EQ(arena.CurrentChunk(), second);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, allocs);
  EXPECT_EQ(arena.ChunkCount(), 2);
}

TEST_F(MemoryTest, ChunkArenaFreesKeptChunksThatAreTooSmall) {
  OvMemoryStart(0);
  OvChunkArena arena;
  ASSERT_NE(arena.Allocate(4000), nullptr);
  const void* first = arena.CurrentChunk();
  ASSERT_NE(arena.Allocate(200), nullptr);
  arena.ResizeLast(0);
  ASSERT_EQ(arena.CurrentChunk(), first);
  OvMemoryCounters before = OvMemoryGetCounters();
  char* big = static_cast<char*>(arena.Allocate(8000));
  ASSERT_NE(big, nullptr);
  OvMemoryCounters after = OvMemoryGetCounters();
  EXPECT_EQ(after.freeCount, before.freeCount + 1);    // the 4092-byte chunk
  EXPECT_EQ(after.allocCount, before.allocCount + 1);  // the 8016-byte chunk
  EXPECT_EQ(arena.CurrentChunkSize(), 8016);
  EXPECT_EQ(arena.ChunkCount(), 2);
  arena.ResizeLast(0);
  EXPECT_EQ(arena.CurrentChunk(), first);
  EXPECT_EQ(arena.CurrentOffset(), 4016);
}

TEST_F(MemoryTest, ChunkArenaFailedAllocateRestoresTheOffsets) {
  OvMemoryStart(0);
  TraceCapture capture;
  OvChunkArena arena;
  OvMemoryFailNext(1);
  EXPECT_EQ(arena.Allocate(10), nullptr);
  EXPECT_EQ(arena.FailureCount(), 1);
  EXPECT_EQ(arena.CurrentOffset(), 16);
  EXPECT_EQ(arena.ChunkCount(), 0);

  char* a = static_cast<char*>(arena.Allocate(4000));
  ASSERT_NE(a, nullptr);
  OvMemoryFailNext(1);
  EXPECT_EQ(arena.Allocate(200), nullptr);
  EXPECT_EQ(arena.FailureCount(), 2);
  EXPECT_EQ(arena.CurrentOffset(), 4016);
  EXPECT_EQ(arena.LastOffset(), 16);
  // ResizeLast still applies to the last successful allocation.
  arena.ResizeLast(8);
  EXPECT_EQ(arena.CurrentOffset(), 24);
  EXPECT_EQ(arena.Allocate(4), a + 8);
  EXPECT_TRUE(capture.Contains(kOutOfMemory));
}

TEST_F(MemoryTest, ChunkArenaResetFreesAllChunks) {
  OvMemoryStart(0);
  int32_t frees = OvMemoryGetCounters().freeCount;
  OvChunkArena arena;
  arena.Allocate(4000);
  arena.Allocate(4000);
  arena.Allocate(4000);
  EXPECT_EQ(arena.ChunkCount(), 3);
  arena.Reset();
  EXPECT_EQ(arena.ChunkCount(), 0);
  EXPECT_EQ(arena.CurrentChunk(), nullptr);
  EXPECT_EQ(arena.CurrentOffset(), 16);
  EXPECT_EQ(OvMemoryGetCounters().freeCount, frees + 3);
  EXPECT_NE(arena.Allocate(4), nullptr);
}

TEST_F(MemoryTest, FixedChunkArenaNeverAllocatesOrFreesChunks) {
  OvMemoryStart(0);
  OvChunkArena arena;
  char* a = static_cast<char*>(arena.Allocate(100));
  ASSERT_NE(a, nullptr);
  arena.SetFixed(true);
  OvMemoryCounters before = OvMemoryGetCounters();
  EXPECT_EQ(arena.Allocate(5000), nullptr);
  EXPECT_EQ(arena.FailureCount(), 1);
  EXPECT_EQ(arena.CurrentOffset(), 116);
  arena.Reset();
  EXPECT_EQ(arena.ChunkCount(), 1);
  EXPECT_EQ(arena.CurrentOffset(), 16);
  EXPECT_EQ(arena.Allocate(8), a);
  OvMemoryCounters after = OvMemoryGetCounters();
  EXPECT_EQ(after.allocCount, before.allocCount);
  EXPECT_EQ(after.freeCount, before.freeCount);

  OvChunkArena empty;
  empty.SetFixed(true);
  EXPECT_EQ(empty.Allocate(4), nullptr);
  EXPECT_EQ(empty.FailureCount(), 1);
}

// ---------------------------------------------------------------------------
// Element pools.

TEST_F(MemoryTest, FivePoolsExistOnlyBetweenStartAndStop) {
  for (int i = 0; i <= 6; ++i) EXPECT_EQ(OvMemoryPool(i), nullptr);
  OvMemoryStart(0);
  const int32_t sizes[5] = {44, 8, 64, 12, 16};
  const int32_t counts[5] = {16, 64, 15, 20, 15};
  for (int i = 1; i <= 5; ++i) {
    OvChunkArena* pool = OvMemoryPool(i);
    ASSERT_NE(pool, nullptr) << i;
    EXPECT_EQ(pool->ElementSize(), sizes[i - 1]);
    EXPECT_EQ(pool->ElementsPerChunk(), counts[i - 1]);
    EXPECT_EQ(pool->DefaultPayload(), sizes[i - 1] * counts[i - 1]);
  }
  EXPECT_EQ(OvMemoryPool(0), nullptr);
  EXPECT_EQ(OvMemoryPool(6), nullptr);
  TraceCapture capture;
  OvMemoryStop();
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(OvMemoryPool(i), nullptr);
}

TEST_F(MemoryTest, PoolHandsOutElementsOfOneChunkThenOpensAnother) {
  OvMemoryStart(0);
  OvChunkArena* pool = OvMemoryPool(1);
  ASSERT_NE(pool, nullptr);
  int32_t allocs = OvMemoryGetCounters().allocCount;
  std::vector<char*> got;
  for (int i = 0; i < 16; ++i) got.push_back(static_cast<char*>(pool->Get()));
  EXPECT_EQ(OvMemoryGetCounters().allocCount, allocs + 1);
  EXPECT_EQ(pool->ChunkCount(), 1);
  EXPECT_EQ(pool->CurrentChunkSize(), 44 * 16 + 16);
  EXPECT_EQ(got[0], static_cast<const char*>(pool->CurrentChunk()) + 16);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(got[i], got[i - 1] + 44);
  for (char* p : got) std::memset(p, 0x5A, 44);
  char* more = static_cast<char*>(pool->Get());
  ASSERT_NE(more, nullptr);
  EXPECT_EQ(pool->ChunkCount(), 2);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, allocs + 2);
  for (char* p : got) pool->Put(p);
  pool->Put(more);
}

TEST_F(MemoryTest, PoolGetReusesWhatPutReturned) {
  OvMemoryStart(0);
  OvChunkArena* pool = OvMemoryPool(2);
  ASSERT_NE(pool, nullptr);
  void* a = pool->Get();
  void* b = pool->Get();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  int32_t allocs = OvMemoryGetCounters().allocCount;
  pool->Put(a);
  pool->Put(b);
  EXPECT_EQ(pool->Get(), b);
  EXPECT_EQ(pool->Get(), a);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, allocs);
  pool->Put(nullptr);  // ignored
  void* c = pool->Get();
  EXPECT_NE(c, nullptr);
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);
}

TEST_F(MemoryTest, PoolsRoundTheirChunkPayloadToFour) {
  OvChunkArena pool;
  pool.SetElements(5, 3);
  EXPECT_EQ(pool.ElementSize(), static_cast<int32_t>(sizeof(void*)));  // holds the free-list link
  pool.SetElements(12, 3);
  EXPECT_EQ(pool.DefaultPayload(), 36);
  pool.SetElements(10, 3);
  EXPECT_EQ(pool.DefaultPayload(), 32);
  ASSERT_NE(pool.Get(), nullptr);
  EXPECT_EQ(pool.CurrentChunkSize(), 48);
  pool.SetElements(16, 0);
  EXPECT_EQ(pool.ElementsPerChunk(), 1);
}

TEST_F(MemoryTest, CheckedPoolsRefuseForeignPointers) {
  OvMemoryStart(0);
  OvChunkArena* pool3 = OvMemoryPool(3);
  OvChunkArena* pool4 = OvMemoryPool(4);
  OvChunkArena* pool5 = OvMemoryPool(5);
  ASSERT_NE(pool3, nullptr);
  ASSERT_NE(pool4, nullptr);
  ASSERT_NE(pool5, nullptr);
  void* m = pool3->Get();
  void* v = pool4->Get();
  void* q = pool5->Get();
  ASSERT_NE(m, nullptr);
  ASSERT_NE(q, nullptr);
  EXPECT_FALSE(pool3->Owns(q));
  EXPECT_FALSE(pool3->PutChecked(q));  // pool 3 refuses pool 5's pointer
  EXPECT_FALSE(pool5->PutChecked(m));
  EXPECT_FALSE(pool4->PutChecked(q));
  float onStack[4] = {};
  EXPECT_FALSE(pool3->PutChecked(onStack));
  EXPECT_FALSE(pool3->PutChecked(nullptr));
  // The chunk header is not payload.
  EXPECT_FALSE(pool3->PutChecked(const_cast<void*>(pool3->CurrentChunk())));
  // A refused Put changed nothing: the next Get is a fresh element.
  void* m2 = pool3->Get();
  EXPECT_NE(m2, q);
  EXPECT_EQ(m2, static_cast<char*>(m) + 64);
  EXPECT_TRUE(pool3->PutChecked(m2));
  EXPECT_TRUE(pool3->PutChecked(m));
  EXPECT_TRUE(pool4->PutChecked(v));
  EXPECT_TRUE(pool5->PutChecked(q));
  EXPECT_EQ(pool3->Get(), m);
}

TEST_F(MemoryTest, PoolGetFailsCleanlyWhenMemoryRunsOut) {
  OvMemoryStart(0);
  TraceCapture capture;
  OvChunkArena* pool = OvMemoryPool(5);
  ASSERT_NE(pool, nullptr);
  OvMemoryFailNext(1);
  EXPECT_EQ(pool->Get(), nullptr);
  EXPECT_EQ(pool->FailureCount(), 1);
  void* p = pool->Get();
  EXPECT_NE(p, nullptr);
  pool->Put(p);
}

// ---------------------------------------------------------------------------
// Optional boundary-tag arena.

class ArenaTest : public MemoryTest {
 protected:
  static constexpr size_t kArenaSize = 64 * 1024;

  void SetUp() override {
    OvMemoryStart(kArenaSize);
    OvArenaInfo info = OvMemoryArenaInfo();
    ASSERT_TRUE(info.on);
    // The pools and singletons came from the arena first; one free block of
    // the rest remains.
    OvArenaBlock blocks[4];
    ASSERT_EQ(OvMemoryArenaFreeBlocks(blocks, 4), 1);
    base_ = blocks[0].offset;
    rest_ = blocks[0].size;
    start_ = static_cast<const char*>(info.start);
  }

  uint32_t OffsetOf(const void* payload) const {
    return static_cast<uint32_t>(static_cast<const char*>(payload) - start_) - 8;
  }

  std::vector<OvArenaBlock> FreeBlocks() const {
    std::vector<OvArenaBlock> out(64);
    int n = OvMemoryArenaFreeBlocks(out.data(), 64);
    out.resize(n);
    return out;
  }

  uint32_t base_ = 0;
  uint32_t rest_ = 0;
  const char* start_ = nullptr;
};

TEST_F(ArenaTest, StartMakesOneBlockLessTheEndMarker) {
  OvArenaInfo info = OvMemoryArenaInfo();
  EXPECT_EQ(info.size, kArenaSize);
  EXPECT_TRUE(OvMemoryGetCounters().arenaOn);
  EXPECT_EQ(base_ + rest_, kArenaSize - 8);
  EXPECT_EQ(info.peakOffset, base_);
  EXPECT_TRUE(OvMemoryArenaCheck());
  TraceCapture capture;
  OvMemoryStop();
  EXPECT_FALSE(OvMemoryGetCounters().arenaOn);
  EXPECT_FALSE(OvMemoryArenaInfo().on);
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount));
}

TEST_F(ArenaTest, AllocationSplitsTheFirstFreeBlock) {
  char* a = static_cast<char*>(AllocMem(10));  // (10 + 8) rounded to 4 = 20
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(OffsetOf(a), base_);
  std::vector<OvArenaBlock> free = FreeBlocks();
  ASSERT_EQ(free.size(), 1u);
  EXPECT_EQ(free[0].offset, base_ + 20);
  EXPECT_EQ(free[0].size, rest_ - 20);
  EXPECT_EQ(OvMemoryArenaInfo().peakOffset, base_ + 20);

  char* b = static_cast<char*>(AllocMem(1));  // minimum block 16
  EXPECT_EQ(OffsetOf(b), base_ + 20);
  char* c = static_cast<char*>(AllocMem(0));
  EXPECT_EQ(OffsetOf(c), base_ + 36);
  EXPECT_EQ(OvMemoryArenaInfo().peakOffset, base_ + 52);
  std::memset(a, 1, 10);
  std::memset(b, 2, 1);
  EXPECT_TRUE(OvMemoryArenaCheck());
  OvMFree(a);
  OvMFree(b);
  OvMFree(c);
  free = FreeBlocks();
  ASSERT_EQ(free.size(), 1u);
  EXPECT_EQ(free[0].offset, base_);
  EXPECT_EQ(free[0].size, rest_);
  EXPECT_EQ(OvMemoryArenaInfo().peakOffset, base_ + 52);  // peak stays
  EXPECT_TRUE(OvMemoryArenaCheck());
}

TEST_F(ArenaTest, SmallSpareIsHandedOutWithTheBlock) {
  void* a = AllocMem(24);  // block 32
  void* fence = AllocMem(10);
  ASSERT_NE(a, nullptr);
  OvMFree(a);
  std::vector<OvArenaBlock> free = FreeBlocks();
  ASSERT_EQ(free.size(), 2u);
  EXPECT_EQ(free[0].offset, base_);
  EXPECT_EQ(free[0].size, 32u);
  void* b = AllocMem(12);  // block 20; 12 spare bytes are not split off
  EXPECT_EQ(b, a);
  free = FreeBlocks();
  ASSERT_EQ(free.size(), 1u);
  EXPECT_EQ(free[0].offset, base_ + 52);
  OvMFree(b);
  free = FreeBlocks();
  ASSERT_EQ(free.size(), 2u);
  EXPECT_EQ(free[0].size, 32u);  // the whole block came back
  // 16 spare bytes are split off.
  void* c = AllocMem(8);  // block 16, spare 16
  EXPECT_EQ(c, a);
  free = FreeBlocks();
  ASSERT_EQ(free.size(), 2u);
  EXPECT_EQ(free[0].offset, base_ + 16);
  EXPECT_EQ(free[0].size, 16u);
  EXPECT_TRUE(OvMemoryArenaCheck());
  OvMFree(c);
  OvMFree(fence);
  EXPECT_EQ(FreeBlocks().size(), 1u);
}

TEST_F(ArenaTest, FirstFitTakesTheLowestBlockThatIsBigEnough) {
  void* hole1 = AllocMem(24);  // 32 at base
  void* f1 = AllocMem(8);
  void* hole2 = AllocMem(56);  // 64
  void* f2 = AllocMem(8);
  OvMFree(hole2);
  OvMFree(hole1);
  std::vector<OvArenaBlock> free = FreeBlocks();
  ASSERT_EQ(free.size(), 3u);
  EXPECT_LT(free[0].offset, free[1].offset);  // address order regardless of free order
  EXPECT_LT(free[1].offset, free[2].offset);
  void* x = AllocMem(40);  // block 48: skips the 32-byte hole
  EXPECT_EQ(x, hole2);
  void* y = AllocMem(16);  // block 24 fits the first hole
  EXPECT_EQ(y, hole1);
  EXPECT_TRUE(OvMemoryArenaCheck());
  for (void* p : {x, y, f1, f2}) OvMFree(p);
  EXPECT_EQ(FreeBlocks().size(), 1u);
  EXPECT_TRUE(OvMemoryArenaCheck());
}

TEST_F(ArenaTest, FreeCoalescesWithBothNeighbours) {
  void* a = AllocMem(24);  // 32
  void* b = AllocMem(40);  // 48
  void* c = AllocMem(56);  // 64
  void* d = AllocMem(8);   // 16, fence
  OvMFree(a);
  OvMFree(c);
  ASSERT_EQ(FreeBlocks().size(), 3u);
  OvMFree(b);  // merges with a before and c after
  std::vector<OvArenaBlock> free = FreeBlocks();
  ASSERT_EQ(free.size(), 2u);
  EXPECT_EQ(free[0].offset, base_);
  EXPECT_EQ(free[0].size, 32u + 48u + 64u);
  EXPECT_EQ(free[1].offset, base_ + 160);
  EXPECT_TRUE(OvMemoryArenaCheck());
  OvMFree(d);  // merges with both again: one block spanning everything
  free = FreeBlocks();
  ASSERT_EQ(free.size(), 1u);
  EXPECT_EQ(free[0].offset, base_);
  EXPECT_EQ(free[0].size, rest_);
  EXPECT_EQ(OvMemoryArenaInfo().peakOffset, base_ + 160);
  EXPECT_TRUE(OvMemoryArenaCheck());
}

TEST_F(ArenaTest, ForeignFreeIsTracedCountedAndIgnored) {
  void* a = AllocMem(24);
  std::vector<OvArenaBlock> before = FreeBlocks();
  int32_t frees = OvMemoryGetCounters().freeCount;
  int onStack = 0;
  TraceCapture capture;
  OvMFree(&onStack);
  char expected[64];
  std::snprintf(expected, sizeof expected, "!!! OvMFree(0x%llx) error!\n",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&onStack)));
  EXPECT_EQ(capture.Text(), expected);
  EXPECT_EQ(OvMemoryGetCounters().freeCount, frees + 1);
  std::vector<OvArenaBlock> after = FreeBlocks();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[0].offset, before[0].offset);
  // One past the end is foreign too.
  capture.Clear();
  OvMFree(const_cast<char*>(start_) + kArenaSize);
  EXPECT_TRUE(capture.Contains("!!! OvMFree(0x"));
  // A second free of the same block is refused the same way.
  OvMFree(a);
  capture.Clear();
  OvMFree(a);
  EXPECT_TRUE(capture.Contains("!!! OvMFree(0x"));
  EXPECT_TRUE(OvMemoryArenaCheck());
  capture.Clear();
  OvMemoryStop();
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount) + kMismatch);
}

TEST_F(ArenaTest, ExhaustedArenaFailsThroughAllocMem) {
  TraceCapture capture;
  EXPECT_EQ(AllocMem(rest_), nullptr);  // needs rest_ + 8
  EXPECT_EQ(capture.Text(), kOutOfMemory);
  EXPECT_EQ(OvMemoryGetCounters().failCount, 1);
  void* all = AllocMem(rest_ - 8);
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(FreeBlocks().size(), 0u);
  EXPECT_EQ(OvMemoryArenaInfo().peakOffset, kArenaSize - 8);
  EXPECT_EQ(AllocMem(1), nullptr);
  OvMFree(all);
  EXPECT_EQ(FreeBlocks().size(), 1u);
  EXPECT_TRUE(OvMemoryArenaCheck());
  capture.Clear();
  OvMemoryStop();
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(capture.Text(), CountLine(c.allocCount, c.freeCount) + FailLine(2));
}

TEST_F(ArenaTest, ManyMixedAllocationsKeepTheTagsConsistent) {
  std::vector<void*> live;
  unsigned seed = 12345;
  for (int i = 0; i < 2000; ++i) {
    seed = seed * 1103515245u + 12345u;
    if (live.empty() || (seed >> 16) % 3 != 0) {
      void* p = AllocMem((seed >> 8) % 200);
      if (p) live.push_back(p);
    } else {
      size_t k = (seed >> 4) % live.size();
      OvMFree(live[k]);
      live.erase(live.begin() + static_cast<long>(k));
    }
    ASSERT_TRUE(OvMemoryArenaCheck()) << i;
  }
  for (void* p : live) OvMFree(p);
  std::vector<OvArenaBlock> free = FreeBlocks();
  ASSERT_EQ(free.size(), 1u);
  EXPECT_EQ(free[0].size, rest_);
}

TEST_F(MemoryTest, ArenaTooSmallLeavesTheArenaOff) {
  TraceCapture capture;
  OvMemoryStart(16);
  EXPECT_FALSE(OvMemoryGetCounters().arenaOn);
  EXPECT_NE(OvMemoryPool(1), nullptr);
}

TEST_F(MemoryTest, ArenaTooSmallForTheSingletonsCountsFailures) {
  TraceCapture capture;
  OvMemoryStart(2048);  // the text collector's 4096-byte buffer cannot fit
  EXPECT_TRUE(OvMemoryGetCounters().arenaOn);
  EXPECT_GE(OvMemoryGetCounters().failCount, 1);
  EXPECT_TRUE(capture.Contains(kOutOfMemory));
  ASSERT_NE(OvMemoryTextCollector(), nullptr);
  EXPECT_EQ(OvMemoryTextCollector()->Capacity(), 0u);
  capture.Clear();
  OvMemoryStop();
  EXPECT_TRUE(capture.Contains("!!! Memory allocation has ever been failed"));
}

}  // namespace
