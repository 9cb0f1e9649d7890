// Memory system: one allocation pair with counters, a chunk arena, element
// pools and an optional boundary-tag arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

void* AllocMem(size_t size);
void OvMFree(void* p);

// Engine objects are allocated under an object kind (2 controllers, 3 clumps,
// 5 lights, 6 logical objects, ...). Kinds 0 to 8 are accepted; any other kind
// gets no memory. Freed with OvMFree.
constexpr int OV_MEM_KIND_COUNT = 9;
void* AllocMemKind(int kind, size_t size);
// Successful allocations made under the kind so far (0 for an unknown kind).
int32_t OvMemoryKindCount(int kind);

// Starts counting and creates the pools; arenaSize > 0 serves allocations from
// one block of that size. Stop prints the balance report.
void OvMemoryStart(size_t arenaSize);
void OvMemoryStop();

struct OvMemoryCounters {
  bool countingOn;
  int32_t allocCount;
  int32_t freeCount;
  int32_t failCount;
  bool arenaOn;
};
OvMemoryCounters OvMemoryGetCounters();

// Makes the next n allocations fail (0 turns failure injection off). Lets
// tests reach every out-of-memory path.
void OvMemoryFailNext(int n);
// Makes allocations fail after `skip` more successful ones, for `count` calls.
void OvMemoryFailAfter(int skip, int count);

// Base for engine objects: new/delete go through AllocMem/OvMFree, and new
// yields nullptr instead of throwing when memory runs out.
struct OvAllocated {
  static void* operator new(size_t n) noexcept { return AllocMem(n); }
  static void* operator new[](size_t n) noexcept { return AllocMem(n); }
  static void operator delete(void* p) noexcept { OvMFree(p); }
  static void operator delete[](void* p) noexcept { OvMFree(p); }
};

// Bump allocator over linked chunks. Every chunk is max(default payload, n) + 16
// bytes and its payload starts at offset 16. In the 32-bit layout this format
// keeps, the 16-byte header held previous, next, size and saved offset; on 64-bit two
// pointers and two int32 do not fit, so the header keeps only the next link
// (8 bytes) plus size and saved offset, and the previous chunk is found by
// walking from the first chunk (needed only when ResizeLast empties a chunk).
// Allocations are 4-byte aligned, as the 32-bit layout has them.
class OvChunkArena : public OvAllocated {
 public:
  static constexpr int32_t kHeader = 16;
  static constexpr int32_t kDefaultPayload = 4076;

  OvChunkArena();
  // Variant taking a total block size N: payload N - 20 when N > 20.
  explicit OvChunkArena(int32_t blockSize);
  ~OvChunkArena();
  OvChunkArena(const OvChunkArena&) = delete;
  OvChunkArena& operator=(const OvChunkArena&) = delete;

  // Rounds up to 4. Null (failure count incremented, offsets unchanged) when
  // no chunk can be had.
  void* Allocate(int32_t bytes);
  // Sets the size of the most recent allocation (rounded up to 4). Meaningful
  // for shrinking, or growing within the current chunk.
  void ResizeLast(int32_t bytes);
  // Frees all chunks; a fixed arena keeps its chunks and rewinds to the first.
  void Reset();

  // Element-pool mode (element size at least 4 -- at least the size of a
  // pointer here, since the free list is threaded through the elements --
  // count at least 1). Sets the chunk payload to size x count rounded to 4.
  void SetElements(int32_t elementSize, int32_t perChunk);
  void* Get();
  // Pushes p on the free list (null is ignored).
  void Put(void* p);
  // Like Put, but refuses (false) a pointer outside this pool's chunks.
  bool PutChecked(void* p);
  bool Owns(const void* p) const;

  void SetFixed(bool fixed) { m_fixed = fixed; }

  // Introspection for diagnostics and tests.
  int32_t CurrentOffset() const { return m_offset; }
  int32_t CurrentChunkSize() const { return m_chunkSize; }
  int32_t FailureCount() const { return m_failures; }
  int32_t ChunkCount() const;
  const void* CurrentChunk() const { return m_current; }
  const void* FirstChunk() const { return m_first; }
  int32_t LastOffset() const { return m_lastOffset; }
  int32_t DefaultPayload() const { return m_defaultPayload; }
  int32_t ElementSize() const { return m_elementSize; }
  int32_t ElementsPerChunk() const { return m_perChunk; }
  bool IsFixed() const { return m_fixed; }

 private:
  struct Chunk;
  Chunk* PreviousOf(const Chunk* chunk) const;
  void FreeChunks();
  Chunk* m_first = nullptr;
  Chunk* m_current = nullptr;
  int32_t m_chunkSize = 0;
  int32_t m_defaultPayload = kDefaultPayload;
  int32_t m_offset = kHeader;
  int32_t m_lastOffset = kHeader;
  int32_t m_failures = 0;
  bool m_fixed = false;
  int32_t m_elementSize = 4;
  int32_t m_perChunk = 1;
  void* m_freeList = nullptr;
};

// The five element pools made by OvMemoryStart (index 1..5); null before start
// or when creation failed.
OvChunkArena* OvMemoryPool(int index);

// Called first by OvMemoryStop, before the pools go, so that the engine-wide
// registries of node types are released while the allocator still
// counts. One hook; it stays installed across start/stop; nullptr removes it.
using OvMemoryStopHookFn = void (*)();
void OvMemorySetStopHook(OvMemoryStopHookFn fn);

// Engine-wide singletons created by OvMemoryStart (through AllocMem, so they
// are counted) and freed by OvMemoryStop before the balance report. The
// accessors return null before start and after stop.

// A running total and the highest value it has reached.
struct OvAccumulator : OvAllocated {
  double total = 0.0;
  double maximum = 0.0;
  void Add(double delta) {
    total += delta;
    if (total > maximum) maximum = total;
  }
  void Clear() { total = maximum = 0.0; }
};
OvAccumulator* OvMemoryAccumulator();

// Start time in seconds (from the millisecond tick counter), a counter and
// two flags, all cleared at creation; their meaning belongs to the user.
struct OvTimingRecord : OvAllocated {
  double startSeconds = 0.0;
  int32_t counter = 0;
  bool flag1 = false;
  bool flag2 = false;
};
OvTimingRecord* OvMemoryTimingRecord();

// Growable text buffer (4096 bytes at first, doubled as needed, all through
// AllocMem). While enabled, every line formatted by _TraceFormat is appended
// to it followed by a newline (none added when the line already ends with one).
class OvTextCollector : public OvAllocated {
 public:
  static constexpr size_t kInitialCapacity = 4096;
  OvTextCollector();
  ~OvTextCollector();
  OvTextCollector(const OvTextCollector&) = delete;
  OvTextCollector& operator=(const OvTextCollector&) = delete;

  void Enable(bool on) { m_enabled = on; }
  bool Enabled() const { return m_enabled; }
  // Appends text (regardless of the enabled flag); false when the buffer
  // could not grow, the text then being dropped.
  bool Append(const char* text);
  // When enabled: appends the line and a newline unless it already ends in one.
  void AppendLine(const char* line);
  const char* Text() const { return m_buffer ? m_buffer : ""; }
  size_t Length() const { return m_length; }
  size_t Capacity() const { return m_capacity; }
  void Clear();

 private:
  char* m_buffer = nullptr;
  size_t m_length = 0;
  size_t m_capacity = 0;
  bool m_enabled = false;
};
OvTextCollector* OvMemoryTextCollector();

// The optional boundary-tag arena (OvMemoryStart(size > 0)). Offsets are from
// the arena start; the free-list links inside free blocks are 32-bit offsets,
// so an arena is at most 2 GiB (a bigger request leaves the arena off). As in
// the 32-bit layout, payloads are only 4-byte aligned (blocks are multiples of 4
// after an 8-byte header); the application never turns the arena on.
// Allocations made before start and freed while the arena is on are foreign:
// traced and not freed. Blocks still in use at stop die with the arena.
struct OvArenaInfo {
  bool on;
  const void* start;
  uint32_t size;        // bytes, including the 8-byte end marker
  uint32_t peakOffset;  // highest block end ever handed out
  int32_t freeBlocks;
  uint32_t freeBytes;  // sum of free block sizes, headers included
};
OvArenaInfo OvMemoryArenaInfo();

struct OvArenaBlock {
  uint32_t offset;  // of the 8-byte header
  uint32_t size;    // whole block, header included
};
// Copies up to maxBlocks free blocks in list (address) order; returns how many
// free blocks there are.
int OvMemoryArenaFreeBlocks(OvArenaBlock* out, int maxBlocks);

// Walks the arena block by block and checks the boundary tags (each block's
// "preceding size" matches), that no two free blocks are adjacent, and that
// the free list holds exactly the free blocks in address order. True when the
// arena is off.
bool OvMemoryArenaCheck();
