// Memory system: the counted AllocMem/OvMFree pair, the optional
// boundary-tag arena, the chunk arena, the element pools and the engine-wide
// singletons that live as long as the memory system.
#include "ov_memory.h"

#include <cstdlib>
#include <cstring>

#include "ov_clock.h"
#include "ov_trace.h"

namespace {

// ---------------------------------------------------------------------------
// Optional arena: a boundary-tag heap inside one block of the system heap.
//
// Block layout (offsets from the arena start, all multiples of 4):
//   +0  uint32 size of the physically preceding block (0 for the first)
//   +4  uint32 own size in bytes, header included; bit 0 set while free
//   +8  payload; a free block keeps its previous and next free block here as
//       two uint32 offsets (kNone for none), so the 16-byte minimum block
//       holds them on 64-bit too.
// An 8-byte end marker (size 0, in use) closes the arena.

constexpr uint32_t kBlockHeader = 8;
constexpr uint32_t kMinBlock = 16;
constexpr uint32_t kFreeBit = 1;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kMaxArena = 0x7FFFFFF0u;

struct Arena {
  unsigned char* start = nullptr;
  uint32_t size = 0;  // whole block, end marker included
  uint32_t firstFree = kNone;
  uint32_t peak = 0;
};

uint32_t Load32(const unsigned char* at) {
  uint32_t v;
  std::memcpy(&v, at, sizeof v);
  return v;
}
void Store32(unsigned char* at, uint32_t v) { std::memcpy(at, &v, sizeof v); }

uint32_t PrevSize(const Arena& a, uint32_t off) { return Load32(a.start + off); }
void SetPrevSize(Arena& a, uint32_t off, uint32_t v) { Store32(a.start + off, v); }
uint32_t SizeOf(const Arena& a, uint32_t off) { return Load32(a.start + off + 4) & ~kFreeBit; }
bool IsFree(const Arena& a, uint32_t off) { return (Load32(a.start + off + 4) & kFreeBit) != 0; }
void SetSize(Arena& a, uint32_t off, uint32_t size, bool isFree) {
  Store32(a.start + off + 4, size | (isFree ? kFreeBit : 0));
}
uint32_t PrevFree(const Arena& a, uint32_t off) { return Load32(a.start + off + 8); }
uint32_t NextFree(const Arena& a, uint32_t off) { return Load32(a.start + off + 12); }
void SetPrevFree(Arena& a, uint32_t off, uint32_t v) { Store32(a.start + off + 8, v); }
void SetNextFree(Arena& a, uint32_t off, uint32_t v) { Store32(a.start + off + 12, v); }

// Tells the physically following block (or the end marker) our size.
void UpdateFollower(Arena& a, uint32_t off) {
  uint32_t next = off + SizeOf(a, off);
  if (next + kBlockHeader <= a.size) SetPrevSize(a, next, SizeOf(a, off));
}

void Unlink(Arena& a, uint32_t off) {
  uint32_t prev = PrevFree(a, off);
  uint32_t next = NextFree(a, off);
  if (prev == kNone) {
    a.firstFree = next;
  } else {
    SetNextFree(a, prev, next);
  }
  if (next != kNone) SetPrevFree(a, next, prev);
}

bool ArenaInit(Arena& a, unsigned char* block, size_t bytes) {
  bytes &= ~static_cast<size_t>(3);
  if (bytes < kMinBlock + kBlockHeader || bytes > kMaxArena) return false;
  a.start = block;
  a.size = static_cast<uint32_t>(bytes);
  a.peak = 0;
  uint32_t span = a.size - kBlockHeader;
  SetPrevSize(a, 0, 0);
  SetSize(a, 0, span, true);
  SetPrevFree(a, 0, kNone);
  SetNextFree(a, 0, kNone);
  a.firstFree = 0;
  SetPrevSize(a, span, span);  // end marker
  SetSize(a, span, 0, false);
  return true;
}

void* ArenaAlloc(Arena& a, size_t request) {
  if (request > a.size) return nullptr;
  uint32_t need = (static_cast<uint32_t>(request) + kBlockHeader + 3) & ~3u;
  if (need < kMinBlock) need = kMinBlock;
  for (uint32_t off = a.firstFree; off != kNone; off = NextFree(a, off)) {
    uint32_t have = SizeOf(a, off);
    if (have < need) continue;
    if (have - need >= kMinBlock) {
      // Split: the front part is handed out, the rest takes its list place.
      uint32_t rest = off + need;
      uint32_t prev = PrevFree(a, off);
      uint32_t next = NextFree(a, off);
      SetSize(a, rest, have - need, true);
      SetPrevSize(a, rest, need);
      SetPrevFree(a, rest, prev);
      SetNextFree(a, rest, next);
      if (prev == kNone) {
        a.firstFree = rest;
      } else {
        SetNextFree(a, prev, rest);
      }
      if (next != kNone) SetPrevFree(a, next, rest);
      UpdateFollower(a, rest);
      SetSize(a, off, need, false);
    } else {
      Unlink(a, off);
      SetSize(a, off, have, false);
    }
    uint32_t end = off + SizeOf(a, off);
    if (end > a.peak) a.peak = end;
    return a.start + off + kBlockHeader;
  }
  return nullptr;
}

// Returns false (nothing changed) when p is not the payload of a block in use.
bool ArenaFree(Arena& a, void* p) {
  size_t pos = static_cast<size_t>(static_cast<unsigned char*>(p) - a.start);
  if (pos < kBlockHeader || (pos & 3) != 0) return false;
  uint32_t off = static_cast<uint32_t>(pos - kBlockHeader);
  uint32_t size = SizeOf(a, off);
  if (IsFree(a, off) || size < kMinBlock || off + size > a.size - kBlockHeader) return false;

  // Insert in address order.
  uint32_t prev = kNone;
  uint32_t next = a.firstFree;
  while (next != kNone && next < off) {
    prev = next;
    next = NextFree(a, next);
  }
  SetSize(a, off, size, true);
  SetPrevFree(a, off, prev);
  SetNextFree(a, off, next);
  if (prev == kNone) {
    a.firstFree = off;
  } else {
    SetNextFree(a, prev, off);
  }
  if (next != kNone) SetPrevFree(a, next, off);

  // Merge with the preceding free block, then with the following one.
  if (prev != kNone && prev + SizeOf(a, prev) == off) {
    Unlink(a, off);
    SetSize(a, prev, SizeOf(a, prev) + size, true);
    off = prev;
  }
  if (next != kNone && off + SizeOf(a, off) == next) {
    uint32_t merged = SizeOf(a, off) + SizeOf(a, next);
    Unlink(a, next);
    SetSize(a, off, merged, true);
  }
  UpdateFollower(a, off);
  return true;
}

// ---------------------------------------------------------------------------
// Memory-system globals.

bool g_countingOn = false;
int32_t g_allocCount = 0;
int32_t g_freeCount = 0;
int32_t g_failCount = 0;
bool g_arenaOn = false;
Arena g_arena;

// Failure injection: after g_failSkip more successful allocations, the next
// g_failRemaining allocations fail.
int g_failSkip = 0;
int g_failRemaining = 0;

constexpr int kPoolCount = 5;
struct PoolShape {
  int32_t elementSize;
  int32_t perChunk;
};
constexpr PoolShape kPoolShapes[kPoolCount] = {{44, 16}, {8, 64}, {64, 15}, {12, 20}, {16, 15}};
OvChunkArena* g_pools[kPoolCount] = {};

OvAccumulator* g_accumulator = nullptr;
OvTimingRecord* g_timing = nullptr;
OvTextCollector* g_collector = nullptr;
OvMemoryStopHookFn g_stopHook = nullptr;

bool InjectedFailure() {
  if (g_failRemaining <= 0) return false;
  if (g_failSkip > 0) {
    --g_failSkip;
    return false;
  }
  --g_failRemaining;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The allocation pair.

void* AllocMem(size_t size) {
  void* p = nullptr;
  if (!InjectedFailure()) {
    if (g_arenaOn) {
      p = ArenaAlloc(g_arena, size);
    } else {
      p = std::malloc(size ? size : 1);
    }
  }
  if (!p) {
    ++g_failCount;
    Trace("!!! Not enough memory when AllocMem()!\n");
    return nullptr;
  }
  if (g_countingOn) ++g_allocCount;
  return p;
}

namespace {
int32_t g_kindCount[OV_MEM_KIND_COUNT] = {};
}  // namespace

void* AllocMemKind(int kind, size_t size) {
  if (kind < 0 || kind >= OV_MEM_KIND_COUNT) return nullptr;
  void* p = AllocMem(size);
  if (p) ++g_kindCount[kind];
  return p;
}

int32_t OvMemoryKindCount(int kind) { return kind >= 0 && kind < OV_MEM_KIND_COUNT ? g_kindCount[kind] : 0; }

void OvMFree(void* p) {
  if (!p) return;
  if (g_countingOn) ++g_freeCount;
  if (!g_arenaOn) {
    std::free(p);
    return;
  }
  unsigned char* at = static_cast<unsigned char*>(p);
  bool inside = at >= g_arena.start && at < g_arena.start + g_arena.size;
  // Besides a pointer outside the arena, one that is not a block in use
  // (double free, interior pointer) is refused the same way.
  if (!inside || !ArenaFree(g_arena, p)) {
    _TraceFormat("!!! OvMFree(0x%llx) error!\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  }
}

// ---------------------------------------------------------------------------
// Start and stop.

void OvMemoryStart(size_t arenaSize) {
  g_countingOn = true;
  g_allocCount = 0;
  g_freeCount = 0;
  g_failCount = 0;

  if (arenaSize > 0 && !g_arenaOn) {
    void* block = std::malloc(arenaSize);
    if (block && ArenaInit(g_arena, static_cast<unsigned char*>(block), arenaSize)) {
      g_arenaOn = true;
    } else {
      std::free(block);
    }
  }

  for (int i = 0; i < kPoolCount; ++i) {
    if (g_pools[i]) continue;  // started twice: keep the existing pools
    g_pools[i] = new OvChunkArena();
    if (g_pools[i]) g_pools[i]->SetElements(kPoolShapes[i].elementSize, kPoolShapes[i].perChunk);
  }

  if (!g_accumulator) g_accumulator = new OvAccumulator();
  if (!g_timing) {
    g_timing = new OvTimingRecord();
    if (g_timing) g_timing->startSeconds = OvTickCount() / 1000.0;
  }
  if (!g_collector) g_collector = new OvTextCollector();
}

void OvMemoryStop() {
  if (g_stopHook) g_stopHook();

  for (OvChunkArena*& pool : g_pools) {
    if (!pool) continue;
    pool->Reset();
    delete pool;
    pool = nullptr;
  }

  delete g_collector;
  g_collector = nullptr;
  delete g_timing;
  g_timing = nullptr;
  delete g_accumulator;
  g_accumulator = nullptr;

  if (g_arenaOn) {
    // Blocks still in use die with the arena: a holder must not free one
    // after the stop, since OvMFree would hand it to the system heap.
    std::free(g_arena.start);
    g_arena = Arena();
    g_arenaOn = false;
  }

  _TraceFormat("Count of Orvo memory management systeme. alloc: %d, free: %d\n", g_allocCount, g_freeCount);
  if (g_allocCount != g_freeCount) Trace("!!! Count of allocation and free are not matched!\n");
  if (g_failCount > 0) _TraceFormat("!!! Memory allocation has ever been failed %d times.\n", g_failCount);
  g_countingOn = false;
}

OvMemoryCounters OvMemoryGetCounters() {
  return OvMemoryCounters{g_countingOn, g_allocCount, g_freeCount, g_failCount, g_arenaOn};
}

void OvMemoryFailNext(int n) {
  g_failSkip = 0;
  g_failRemaining = n > 0 ? n : 0;
}

void OvMemoryFailAfter(int skip, int count) {
  g_failSkip = skip > 0 ? skip : 0;
  g_failRemaining = count > 0 ? count : 0;
}

void OvMemorySetStopHook(OvMemoryStopHookFn fn) { g_stopHook = fn; }

OvChunkArena* OvMemoryPool(int index) {
  if (index < 1 || index > kPoolCount) return nullptr;
  return g_pools[index - 1];
}

OvAccumulator* OvMemoryAccumulator() { return g_accumulator; }
OvTimingRecord* OvMemoryTimingRecord() { return g_timing; }
OvTextCollector* OvMemoryTextCollector() { return g_collector; }

OvArenaInfo OvMemoryArenaInfo() {
  OvArenaInfo info{g_arenaOn, g_arena.start, g_arena.size, g_arena.peak, 0, 0};
  if (!g_arenaOn) return info;
  for (uint32_t off = g_arena.firstFree; off != kNone; off = NextFree(g_arena, off)) {
    ++info.freeBlocks;
    info.freeBytes += SizeOf(g_arena, off);
  }
  return info;
}

int OvMemoryArenaFreeBlocks(OvArenaBlock* out, int maxBlocks) {
  if (!g_arenaOn) return 0;
  int n = 0;
  for (uint32_t off = g_arena.firstFree; off != kNone; off = NextFree(g_arena, off)) {
    if (out && n < maxBlocks) out[n] = OvArenaBlock{off, SizeOf(g_arena, off)};
    ++n;
  }
  return n;
}

bool OvMemoryArenaCheck() {
  if (!g_arenaOn) return true;
  const Arena& a = g_arena;
  const uint32_t end = a.size - kBlockHeader;
  uint32_t listed = a.firstFree;
  uint32_t listPrev = kNone;
  uint32_t prevSize = 0;
  bool prevFree = false;
  uint32_t off = 0;
  while (off < end) {
    uint32_t size = SizeOf(a, off);
    if (size < kMinBlock || (size & 3) != 0 || off + size > end) return false;
    if (PrevSize(a, off) != prevSize) return false;
    bool isFree = IsFree(a, off);
    if (isFree) {
      if (prevFree || listed != off || PrevFree(a, off) != listPrev) return false;
      listPrev = off;
      listed = NextFree(a, off);
    }
    prevFree = isFree;
    prevSize = size;
    off += size;
  }
  return off == end && listed == kNone && PrevSize(a, end) == prevSize && SizeOf(a, end) == 0 && !IsFree(a, end);
}

// ---------------------------------------------------------------------------
// Chunk arena.

// 16-byte chunk header; the payload follows it at offset 16.
struct OvChunkArena::Chunk {
  Chunk* next;
  int32_t size;         // bytes, header included
  int32_t savedOffset;  // current offset when the arena moved on to a further chunk
};

namespace {
constexpr int32_t RoundUp4(int32_t n) { return (n + 3) & ~3; }
}  // namespace

OvChunkArena::OvChunkArena() { static_assert(sizeof(Chunk) == kHeader, "the chunk header is 16 bytes"); }

OvChunkArena::OvChunkArena(int32_t blockSize) : OvChunkArena() {
  if (blockSize > 20) m_defaultPayload = blockSize - 20;
}

OvChunkArena::~OvChunkArena() {
  // Every chunk was allocated here, so even a fixed arena gives them back.
  FreeChunks();
}

void OvChunkArena::FreeChunks() {
  Chunk* c = m_first;
  while (c) {
    Chunk* next = c->next;
    OvMFree(c);
    c = next;
  }
  m_first = m_current = nullptr;
  m_chunkSize = 0;
  m_offset = m_lastOffset = kHeader;
  m_freeList = nullptr;
}

OvChunkArena::Chunk* OvChunkArena::PreviousOf(const Chunk* chunk) const {
  Chunk* prev = nullptr;
  for (Chunk* c = m_first; c && c != chunk; c = c->next) prev = c;
  return prev;
}

int32_t OvChunkArena::ChunkCount() const {
  int32_t n = 0;
  for (Chunk* c = m_first; c; c = c->next) ++n;
  return n;
}

void* OvChunkArena::Allocate(int32_t bytes) {
  if (bytes < 0 || bytes > 0x7FFFFFFF - kHeader - 3) {
    ++m_failures;
    return nullptr;
  }
  const int32_t n = RoundUp4(bytes);
  const int32_t oldOffset = m_offset;
  const int32_t oldLast = m_lastOffset;
  m_lastOffset = m_offset;
  if (m_current && static_cast<int64_t>(m_offset) + n <= m_chunkSize) {
    m_offset += n;
    return reinterpret_cast<char*>(m_current) + m_lastOffset;
  }

  // Move on to a further chunk: first the ones kept from earlier use.
  if (m_current) m_current->savedOffset = oldOffset;
  Chunk* found = nullptr;
  if (m_current) {
    Chunk* c = m_current->next;
    while (c) {
      if (c->size - kHeader >= n) {
        found = c;
        break;
      }
      Chunk* after = c->next;
      if (m_fixed) {
        // A fixed arena never frees its chunks: the small one is skipped
        // and left empty.
        c->savedOffset = kHeader;
      } else {
        m_current->next = after;
        OvMFree(c);
      }
      c = after;
    }
  }
  if (!found && !m_fixed) {
    const int32_t payload = n > m_defaultPayload ? n : m_defaultPayload;
    found = static_cast<Chunk*>(AllocMem(static_cast<size_t>(payload) + kHeader));
    if (found) {
      found->size = payload + kHeader;
      found->savedOffset = kHeader;
      if (m_current) {
        found->next = m_current->next;
        m_current->next = found;
      } else {
        found->next = nullptr;
        m_first = found;
      }
    }
  }
  if (!found) {
    // Failure: the arena stays as it was before the call.
    ++m_failures;
    m_offset = oldOffset;
    m_lastOffset = oldLast;
    return nullptr;
  }
  m_current = found;
  m_chunkSize = found->size;
  m_lastOffset = kHeader;
  m_offset = kHeader + n;
  return reinterpret_cast<char*>(found) + kHeader;
}

void OvChunkArena::ResizeLast(int32_t bytes) {
  if (bytes < 0) bytes = 0;
  if (bytes > 0x7FFFFFFF - 3 - m_lastOffset) bytes = 0x7FFFFFFF - 3 - m_lastOffset;  // no overflow
  m_offset = m_lastOffset + RoundUp4(bytes);
  if (m_offset != kHeader || !m_current) return;
  Chunk* prev = PreviousOf(m_current);
  if (!prev) return;
  // The emptied chunk stays linked after prev and is reused by Allocate.
  m_current = prev;
  m_chunkSize = prev->size;
  m_offset = prev->savedOffset;
  m_lastOffset = m_offset;
}

void OvChunkArena::Reset() {
  if (!m_fixed) {
    FreeChunks();
    return;
  }
  // Fixed: keep the chunks and start again at the first one.
  m_current = m_first;
  m_chunkSize = m_first ? m_first->size : 0;
  m_offset = m_lastOffset = kHeader;
  m_freeList = nullptr;
}

void OvChunkArena::SetElements(int32_t elementSize, int32_t perChunk) {
  int32_t minimum = static_cast<int32_t>(sizeof(void*));
  m_elementSize = elementSize > minimum ? elementSize : minimum;
  m_perChunk = perChunk > 1 ? perChunk : 1;
  m_defaultPayload = RoundUp4(m_elementSize * m_perChunk);
}

void* OvChunkArena::Get() {
  if (!m_freeList) {
    char* block = static_cast<char*>(Allocate(RoundUp4(m_elementSize * m_perChunk)));
    if (!block) return nullptr;
    // Thread the elements: each first word points to the next, the last is null.
    void* next = nullptr;
    for (int32_t i = m_perChunk - 1; i >= 0; --i) {
      char* element = block + static_cast<size_t>(i) * m_elementSize;
      std::memcpy(element, &next, sizeof next);
      next = element;
    }
    m_freeList = block;
  }
  void* head = m_freeList;
  std::memcpy(&m_freeList, head, sizeof m_freeList);
  return head;
}

void OvChunkArena::Put(void* p) {
  if (!p) return;
  std::memcpy(p, &m_freeList, sizeof m_freeList);
  m_freeList = p;
}

bool OvChunkArena::PutChecked(void* p) {
  if (!Owns(p)) return false;
  Put(p);
  return true;
}

bool OvChunkArena::Owns(const void* p) const {
  if (!p) return false;
  const char* at = static_cast<const char*>(p);
  for (Chunk* c = m_first; c; c = c->next) {
    const char* base = reinterpret_cast<const char*>(c);
    if (at >= base + kHeader && at < base + c->size) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Text collector.

OvTextCollector::OvTextCollector() {
  m_buffer = static_cast<char*>(AllocMem(kInitialCapacity));
  if (m_buffer) {
    m_capacity = kInitialCapacity;
    m_buffer[0] = '\0';
  }
}

OvTextCollector::~OvTextCollector() { OvMFree(m_buffer); }

bool OvTextCollector::Append(const char* text) {
  if (!text) return true;
  size_t add = std::strlen(text);
  if (m_length + add + 1 > m_capacity) {
    size_t capacity = m_capacity ? m_capacity : kInitialCapacity;
    while (m_length + add + 1 > capacity) capacity *= 2;
    char* grown = static_cast<char*>(AllocMem(capacity));
    if (!grown) return false;
    if (m_buffer) std::memcpy(grown, m_buffer, m_length);
    OvMFree(m_buffer);
    m_buffer = grown;
    m_capacity = capacity;
  }
  std::memcpy(m_buffer + m_length, text, add + 1);
  m_length += add;
  return true;
}

void OvTextCollector::AppendLine(const char* line) {
  if (!m_enabled || !line) return;
  size_t n = std::strlen(line);
  if (!Append(line)) return;
  if (n == 0 || line[n - 1] != '\n') Append("\n");
}

void OvTextCollector::Clear() {
  m_length = 0;
  if (m_buffer) m_buffer[0] = '\0';
}
