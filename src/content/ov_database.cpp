#include "ov_database.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "ov_node_type.h"
#include "ov_paths.h"
#include "ov_stream.h"
#include "ov_trace.h"
#include "ov_typed_record.h"

namespace {

OvDatabase* g_first = nullptr;
OvDatabase* g_last = nullptr;
int32_t g_nextSerial = 0;
OvScriptLoadHook g_scriptHook = nullptr;

constexpr char kSignature[4] = {'O', 'R', 'V', 'O'};
constexpr const char* kTextureMemoryText = "!!! Not enough memory while loading texture to database.\n";
constexpr const char* kAniSetMemoryText = "Not enough memory when loading OvDbAniSet.\n";

// Smallest stored forms, to judge a count against the bytes left.
constexpr uint64_t kMinTextureEntry = 4 + 4 + 4 + 4 + 6 * 2 + 4;  // size, word, width, layout
constexpr uint64_t kMinTypedRecord = 12;
constexpr uint64_t kMinClumpRecord = 4 + 2 + 6 * 4 + 10 * 4 + 3 * 4;
constexpr uint64_t kMinLogObjRecord = 8 + 2 + 7 * 4;
constexpr uint64_t kMinAniSet = 8;
constexpr uint64_t kMinScriptEntry = 4 + 12;
// zlib cannot expand data by more than about 1032:1.
constexpr uint64_t kMaxInflateRatio = 1032;

const char* OrEmpty(const char* text) { return text ? text : ""; }

void DestroyNode(OvDbNode* node) {
  if (node) node->~OvDbNode();
}

bool DigitAt(const char* s) { return *s >= '0' && *s <= '9'; }

// Next chunk of the database walk. A chunk that claims more bytes than its
// parent holds (a cut file) is opened over what there is, and `cut` says so:
// the complete records in it still load, and the section fails.
bool BeginSection(OvStream& stream, uint32_t& id, bool& cut) {
  cut = false;
  uint32_t size = 0;
  if (stream.Remaining() == 0) return false;
  if (!stream.ReadU32(id) || !stream.ReadU32(size)) return false;
  const uint64_t left = stream.Remaining();
  cut = size > left;
  return stream.BeginChunkOfSize(cut ? left : size);
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers.

void* OvArenaAllocZeroed(OvChunkArena& arena, uint64_t bytes) {
  if (bytes > 0x7FFF0000u) return nullptr;
  void* p = OvArenaAllocAligned(arena, size_t(bytes), 8);
  if (p && bytes) std::memset(p, 0, size_t(bytes));
  return p;
}

char* OvArenaCopyString(OvChunkArena& arena, const char* text) {
  if (!text) return nullptr;
  const size_t length = std::strlen(text);
  if (length >= 0x7FFF0000u) return nullptr;
  char* copy = static_cast<char*>(arena.Allocate(int32_t(length + 1)));
  if (copy) std::memcpy(copy, text, length + 1);
  return copy;
}

uint64_t OvArenaUsedBytes(const OvChunkArena& arena) {
  // Chunk header, as ov_memory.h lays it out: next link, size, saved offset.
  // Chunks before the current one hold what was used when the arena moved
  // on; the current one its running offset.
  uint64_t used = 0;
  const void* chunk = arena.FirstChunk();
  const int32_t limit = arena.ChunkCount();
  for (int32_t n = 0; chunk && n < limit; ++n) {
    if (chunk == arena.CurrentChunk()) {
      used += uint64_t(arena.CurrentOffset() - OvChunkArena::kHeader);
      break;
    }
    int32_t saved;
    std::memcpy(&saved, static_cast<const char*>(chunk) + sizeof(void*) + sizeof(int32_t), sizeof saved);
    if (saved > OvChunkArena::kHeader) used += uint64_t(saved - OvChunkArena::kHeader);
    const void* next;
    std::memcpy(&next, chunk, sizeof next);
    chunk = next;
  }
  return used;
}

bool OvStreamCanHold(const OvStream& stream, uint64_t count, uint64_t elementBytes) {
  if (elementBytes == 0) return true;
  return count <= stream.Remaining() / elementBytes;
}

bool OvStreamCheckCompressed(OvStream& stream, uint64_t unpackedSize) {
  const uint64_t at = stream.Position();
  uint32_t marker = 0;
  uint32_t packed = 0;
  const bool read = stream.ReadU32(marker) && stream.ReadU32(packed);
  const bool fits =
      read && marker == 1 && packed <= stream.Remaining() && unpackedSize <= uint64_t(packed) * kMaxInflateRatio + 64;
  if (read) stream.Seek(at);
  return fits;
}

void OvSetScriptLoadHook(OvScriptLoadHook hook) { g_scriptHook = hook; }

bool OvNameMatchIgnoringDigits(const char* a, const char* b) {
  if (!a || !b) return false;
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  if (!*a && !*b) return true;
  while (DigitAt(a)) ++a;
  while (DigitAt(b)) ++b;
  return std::strcmp(a, b) == 0;
}

// ---------------------------------------------------------------------------
// Creation and the global list.

OvDatabase::OvDatabase() = default;

OvDatabase::~OvDatabase() = default;

OvDatabase* OvDatabase::Create() {
  OvDatabase* db = new OvDatabase();
  if (!db) return nullptr;
  db->m_arena = new OvChunkArena(OV_DB_ARENA_BLOCK);
  db->m_sounds = db->m_arena ? new OvSoundDatabase(db->m_arena) : nullptr;
  if (!db->m_arena || !db->m_sounds) {
    delete db->m_arena;
    delete db;
    return nullptr;
  }
  db->m_serial = g_nextSerial++;
  if (g_last) {
    g_last->m_next = db;
  } else {
    g_first = db;
  }
  g_last = db;
  return db;
}

void OvDatabase::Destroy() {
  Unload();
  delete m_sounds;
  m_sounds = nullptr;
  delete m_arena;
  m_arena = nullptr;
  OvDatabase* previous = nullptr;
  for (OvDatabase* d = g_first; d; previous = d, d = d->m_next) {
    if (d != this) continue;
    if (previous) {
      previous->m_next = m_next;
    } else {
      g_first = m_next;
    }
    if (g_last == this) g_last = previous;
    break;
  }
  delete this;
}

OvDatabase* OvDatabase::First() { return g_first; }

OvDatabase* OvDatabase::FindBySerial(int32_t serial) {
  for (OvDatabase* d = g_first; d; d = d->m_next) {
    if (d->m_serial == serial) return d;
  }
  return nullptr;
}

OvDatabase* OvDatabase::FindByName(const char* name) {
  if (!name) return nullptr;
  for (OvDatabase* d = g_first; d; d = d->m_next) {
    if (std::strcmp(d->Name(), name) == 0) return d;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Lists.

template <class T>
bool OvDatabase::Reserve(OvDbList<T>& list, uint64_t capacity) {
  if (capacity <= list.capacity) return true;
  if (capacity > 0x7FFFFFFFu) return false;
  T** items = OvArenaNewArray<T*>(*m_arena, capacity);
  if (!items) return false;
  if (list.count) std::memcpy(items, list.items, list.count * sizeof(T*));
  list.items = items;
  list.capacity = uint32_t(capacity);
  return true;
}

template <class T>
T* OvDatabase::Append(OvDbList<T>& list) {
  if (list.count == list.capacity && !Reserve(list, list.capacity ? uint64_t(list.capacity) * 2 : 8)) {
    return nullptr;
  }
  T* item = OvArenaNew<T>(*m_arena);
  if (item) list.items[list.count++] = item;
  return item;
}

// ---------------------------------------------------------------------------
// Unloading.

void OvDatabase::ReleaseTextures() {
  for (uint32_t i = 0; i < m_textures.count; ++i) {
    OvTextureEntry* entry = m_textures.items[i];
    if (!entry) continue;
    if (entry->handle && m_renderer) m_renderer->ReleaseTexture(entry->handle);
    entry->handle = nullptr;
    if (entry->record) OvTextureFreePixels(*entry->record);
  }
  m_textures = {};
}

void OvDatabase::ReleaseShaders() {
  for (uint32_t i = 0; i < m_shaders.count; ++i) {
    OvShaderEntry* entry = m_shaders.items[i];
    if (!entry) continue;
    if (entry->resource && m_renderer) m_renderer->ReleaseShaderResource(entry->resource);
    entry->resource = nullptr;
    DestroyNode(entry->shader);
    entry->shader = nullptr;
  }
  m_shaders = {};
}

void OvDatabase::ReleaseMeshes() {
  for (uint32_t i = 0; i < m_meshes.count; ++i) {
    OvMesh* mesh = m_meshes.items[i];
    // A slot holding an earlier mesh is the same object: release it once.
    if (!mesh || (m_meshIdentity && m_meshIdentity[i] != OV_MESH_INLINE)) continue;
    if (mesh->deviceBuffers && m_renderer) m_renderer->ReleaseMeshBuffers(*mesh);
  }
  m_meshes = {};
  m_meshIdentity = nullptr;
}

void OvDatabase::ReleaseClumps() {
  for (uint32_t i = 0; i < m_clumps.count; ++i) {
    OvClumpRecord* record = m_clumps.items[i];
    if (!record) continue;
    DestroyNode(record->extension);
    record->extension = nullptr;
  }
  m_clumps = {};
}

void OvDatabase::ReleaseAniSets() {
  for (uint32_t i = 0; i < m_aniSets.count; ++i) {
    OvDbAniSet* set = m_aniSets.items[i];
    if (!set || !set->nodes) continue;
    for (uint16_t k = 0; k < set->count; ++k) DestroyNode(set->nodes[k]);
    set->count = 0;
  }
  m_aniSets = {};
}

void OvDatabase::ResetHeader() {
  m_header = OvDbHeader();
  m_name = nullptr;
  m_version = OV_DB_VERSION;
  m_fileReserved = 0;
}

void OvDatabase::Unload() {
  ReleaseTextures();
  ReleaseShaders();
  ReleaseMeshes();
  ReleaseClumps();
  ReleaseAniSets();
  m_logObjs = {};
  m_scripts = {};
  // Item data is heap memory; the records themselves go with the arena.
  if (m_sounds) m_sounds->ClearSoundDatabase();
  ResetHeader();
  if (m_arena) m_arena->Reset();
}

// ---------------------------------------------------------------------------
// Loading.

bool OvDatabase::Load(const char* path, int32_t arenaBlockSize) {
  if (!path) return false;
  Unload();
  OvStream stream;
  if (!stream.Open(path, "rb")) {
    _TraceFormat("Can not open file -- '%s'.\n", path);
    return false;
  }
  std::string folder;
  FolderOf(folder, path);
  const bool ok = LoadFrom(stream, path, arenaBlockSize);
  if (m_sounds) m_sounds->SetFolder(folder.c_str());
  stream.Close();
  return ok;
}

bool OvDatabase::LoadMemory(const void* data, size_t size, const char* name, int32_t arenaBlockSize) {
  name = OrEmpty(name);
  Unload();
  OvStream stream;
  if (!data || !stream.OpenMemory(data, size)) {
    _TraceFormat("Can not open file -- '%s'.\n", name);
    return false;
  }
  // Sound files of a memory image are found by name only.
  if (m_sounds) m_sounds->SetFolder(nullptr);
  const bool ok = LoadFrom(stream, name, arenaBlockSize);
  stream.Close();
  return ok;
}

bool OvDatabase::LoadFrom(OvStream& stream, const char* name, int32_t arenaBlockSize) {
  _TraceFormat("Loading database: %s\n", name);
  Unload();
  if (arenaBlockSize != 0) {
    // The arena is empty now: a fresh one takes the new block size.
    OvChunkArena* arena = new OvChunkArena(arenaBlockSize);
    if (arena) {
      delete m_arena;
      m_arena = arena;
      m_sounds->SetArena(arena);
    }
  }

  char signature[4];
  if (!stream.ReadBytes(signature, sizeof signature) || std::memcmp(signature, kSignature, 4) != 0) {
    _TraceFormat("!!! '%s' is not a Orvo file.\n", name);
    return false;
  }
  uint32_t version = 0;
  stream.ReadU32(version);
  if (version != OV_DB_VERSION && version != OV_DB_VERSION_OLD) {
    _TraceFormat("!!! Wrong file version : %u ( Loader version : %u )\n", unsigned(version), unsigned(OV_DB_VERSION));
    return false;
  }
  uint32_t reserved = 0;
  uint32_t id = 0;
  bool cut = false;
  if (!stream.ReadU32(reserved) || !BeginSection(stream, id, cut)) {
    // No database chunk ends the load quietly; a broken one does not.
    if (!stream.Failed()) return false;
    Trace("Load database error.\n");
    return false;
  }
  if (id != OV_CHUNK_DATABASE) {
    stream.EndChunk();
    return false;
  }
  m_version = version;
  m_fileReserved = reserved;

  // A cut database chunk still loads its complete sections.
  const bool outerCut = cut;
  bool success = true;
  uint32_t section;
  while (BeginSection(stream, section, cut)) {
    const uint64_t before = OvArenaUsedBytes(*m_arena);
    const char* progress = nullptr;
    bool (OvDatabase::*reader)(OvStream&) = nullptr;
    switch (section) {
      case OV_CHUNK_HEADER:
        if (success) success = ReadHeader(stream);
        break;
      case OV_CHUNK_SOUNDS:
        if (!m_sounds) {
          Trace("!!!! Sound database doesn't exist, can't load sound data.\n");
        } else if (success) {
          success = m_sounds->ReadSoundDatabase(stream);
        }
        break;
      case OV_CHUNK_TEXTURES:
        progress = "Loading texture ...";
        reader = &OvDatabase::ReadTextures;
        break;
      case OV_CHUNK_SHADERS:
        progress = "Loading shader ...";
        reader = &OvDatabase::ReadShaders;
        break;
      case OV_CHUNK_MESHES:
        progress = "Loading mesh ...";
        reader = &OvDatabase::ReadMeshes;
        break;
      case OV_CHUNK_CLUMPS:
        progress = "Loading clump ...";
        reader = &OvDatabase::ReadClumps;
        break;
      case OV_CHUNK_LOGOBJS:
        progress = "Loading logical object ...";
        reader = &OvDatabase::ReadLogObjs;
        break;
      case OV_CHUNK_ANISETS:
        progress = "Loading animation set ...";
        reader = &OvDatabase::ReadAniSets;
        break;
      case OV_CHUNK_SCRIPTS:
        progress = "Loading script ...";
        reader = &OvDatabase::ReadScripts;
        break;
      default: _TraceFormat("!!! Unknow chunk: %d\n", int(section)); break;
    }
    if (reader) {
      Trace(progress);
      if (success) success = (this->*reader)(stream);
    }
    // A read past the end of the section, or a section cut short, fails it
    // whatever the reader said.
    if (stream.Failed() || cut) success = false;
    if (reader) {
      const uint64_t used = OvArenaUsedBytes(*m_arena) - before;
      if (section == OV_CHUNK_SHADERS) {
        _TraceFormat("  %d\n", int(used));
      } else {
        _TraceFormat("  %u\n", unsigned(used));
      }
    }
    stream.ClearFailure();
    if (!stream.EndChunk()) break;
  }
  // A chunk header cut off ends the walk early.
  if (stream.Failed() || outerCut) success = false;
  if (!success) Trace("Load database error.\n");
  stream.EndChunk();
  return success;
}

bool OvDatabase::ReadHeader(OvStream& stream) {
  OvDbHeader& h = m_header;
  char* name = nullptr;
  if (!stream.ReadU32(h.reserved) || !stream.ReadString(name, m_arena)) return false;
  m_name = name;
  if (!stream.ReadF32(h.real) || !stream.ReadI32(h.timeUnitsPerFrame) || !stream.ReadU32(h.frameRate) ||
      !stream.ReadI32(h.cameraId) || !stream.ReadI32(h.headerInt) || !stream.ReadU32(h.background) ||
      !stream.ReadU32(h.ambient) || !stream.ReadI32(h.hasFog)) {
    return false;
  }
  h.fogColor = nullptr;
  if (h.hasFog == 0) return true;
  uint32_t fog;
  if (!stream.ReadU32(fog)) return false;
  h.fogColor = static_cast<uint32_t*>(OvArenaAllocZeroed(*m_arena, sizeof(uint32_t)));
  if (!h.fogColor) return false;
  *h.fogColor = fog;
  return true;
}

bool OvDatabase::ReadTextures(OvStream& stream) {
  ReleaseTextures();
  uint32_t count;
  if (!stream.ReadU32(count)) return false;
  bool ok = true;
  if (!OvStreamCanHold(stream, count, kMinTextureEntry)) {
    ok = stream.MarkFailed();
  } else if (!Reserve(m_textures, count)) {
    Trace(kTextureMemoryText);
    ok = false;
  }
  for (uint32_t i = 0; ok && i < count; ++i) {
    OvTextureEntry* entry = OvArenaNew<OvTextureEntry>(*m_arena);
    if (!entry) {
      Trace(kTextureMemoryText);
      ok = false;
      break;
    }
    if (!stream.BeginChunk()) {
      ok = false;
      break;
    }
    OvTextureRecord* record = nullptr;
    ok = OvReadTextureRecord(stream, *m_arena, record);
    if (!stream.EndChunk()) ok = false;
    if (!ok) {
      if (record) OvTextureFreePixels(*record);
      break;
    }
    entry->record = record;
    if (m_renderer) {
      entry->handle = m_renderer->CreateTexture(*record);
      if (!m_keepTexturePixels) OvTextureFreePixels(*record);
    }
    m_textures.items[m_textures.count++] = entry;
  }
  if (m_renderer) m_renderer->EndTextureBuilding();
  return ok;
}

bool OvDatabase::ReadShaders(OvStream& stream) {
  ReleaseShaders();
  uint32_t count;
  if (!stream.ReadU32(count)) return false;
  if (count == 0) return true;
  if (!OvStreamCanHold(stream, count, 4 + kMinTypedRecord)) return stream.MarkFailed();
  if (!Reserve(m_shaders, count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    OvShaderEntry* entry = OvArenaNew<OvShaderEntry>(*m_arena);
    if (!entry || !stream.ReadU32(entry->entryWord)) return false;
    if (!OvReadTypedRecord(stream, OvShaderClasses(), *m_arena, entry->shader)) return false;
    // Binding lets the shader resolve its texture indices.
    if (!entry->shader->IsInert()) entry->shader->Bind(this);
    m_shaders.items[m_shaders.count++] = entry;
  }
  return true;
}

bool OvDatabase::ReadMeshes(OvStream& stream) {
  ReleaseMeshes();
  OvMesh** meshes = nullptr;
  int32_t* identity = nullptr;
  uint32_t count = 0;
  const bool ok = OvReadMeshSection(stream, *m_arena, meshes, identity, count);
  m_meshes.items = meshes;
  m_meshes.count = count;
  m_meshes.capacity = meshes ? count : 0;
  m_meshIdentity = identity;
  return ok;
}

bool OvDatabase::ReadClumps(OvStream& stream) {
  ReleaseClumps();
  uint32_t count;
  if (!stream.ReadU32(count)) return false;
  if (count == 0) return true;
  if (!OvStreamCanHold(stream, count, kMinClumpRecord)) return stream.MarkFailed();
  if (!Reserve(m_clumps, count)) return false;
  OvClumpRecord* records = OvArenaNewArray<OvClumpRecord>(*m_arena, count);
  if (!records && count) return false;
  for (uint32_t i = 0; i < count; ++i) {
    OvClumpRecord& r = records[i];
    char* name = nullptr;
    if (!stream.ReadI32(r.id) || !stream.ReadString(name, m_arena)) return false;
    r.name = name ? name : OvArenaCopyString(*m_arena, "");
    if (!r.name) return false;
    // Indices stay as stored; they are resolved (and checked) when clumps
    // are instantiated.
    if (!stream.ReadI32(r.meshIndex) || !stream.ReadI32(r.logObjIndex) || !stream.ReadI32(r.placement) ||
        !stream.ReadI32(r.nextBrother) || !stream.ReadI32(r.firstChild) || !stream.ReadI32(r.aniSetIndex)) {
      return false;
    }
    for (float& v : r.scale) {
      if (!stream.ReadF32(v)) return false;
    }
    for (float& v : r.position) {
      if (!stream.ReadF32(v)) return false;
    }
    for (float& v : r.rotation) {
      if (!stream.ReadF32(v)) return false;
    }
    if (!stream.ReadU32(r.flags) || !stream.ReadU32(r.switchWord) || !stream.ReadI32(r.extensionFlags)) {
      return false;
    }
    if ((r.extensionFlags & OV_CLUMP_EXTENSION) &&
        !OvReadTypedRecord(stream, OvExtensionClasses(), *m_arena, r.extension)) {
      return false;
    }
    m_clumps.items[m_clumps.count++] = &r;
  }
  return true;
}

bool OvDatabase::ReadLogObjs(OvStream& stream) {
  m_logObjs = {};
  uint32_t count;
  if (!stream.ReadU32(count)) return false;
  if (count == 0) return true;
  if (!OvStreamCanHold(stream, count, kMinLogObjRecord)) return stream.MarkFailed();
  if (!Reserve(m_logObjs, count)) return false;
  OvLogObjRecord* records = OvArenaNewArray<OvLogObjRecord>(*m_arena, count);
  if (!records && count) return false;
  for (uint32_t i = 0; i < count; ++i) {
    OvLogObjRecord& r = records[i];
    char* name = nullptr;
    if (!stream.ReadLayout("ii", &r.reserved, &r.id) || !stream.ReadString(name, m_arena)) return false;
    r.name = name ? name : OvArenaCopyString(*m_arena, "");
    if (!r.name) return false;
    if (!stream.ReadLayout("iiiiii i", &r.firstClump, &r.objectFlags, &r.dPower, &r.health, &r.fullHealth,
                           &r.parentHurtRate, &r.creationFlags)) {
      return false;
    }
    m_logObjs.items[m_logObjs.count++] = &r;
  }
  return true;
}

bool OvDatabase::ReadAniSets(OvStream& stream) {
  ReleaseAniSets();
  uint32_t count;
  if (!stream.ReadU32(count)) return false;
  if (count == 0) return true;
  if (!OvStreamCanHold(stream, count, kMinAniSet)) return stream.MarkFailed();
  OvDbAniSet* sets = OvArenaNewArray<OvDbAniSet>(*m_arena, count);
  if ((!sets && count) || !Reserve(m_aniSets, count)) {
    Trace(kAniSetMemoryText);
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    OvDbAniSet& set = sets[i];
    uint32_t entries;
    if (!stream.ReadU32(entries) || !stream.ReadU32(set.entryWord)) return false;
    set.countHigh = uint16_t(entries >> 16);
    const uint16_t n = uint16_t(entries & 0xFFFF);
    m_aniSets.items[m_aniSets.count++] = &set;
    if (n == 0) continue;
    if (!OvStreamCanHold(stream, n, kMinTypedRecord)) return stream.MarkFailed();
    set.nodes = OvArenaNewArray<OvDbNode*>(*m_arena, n);
    if (!set.nodes) {
      Trace(kAniSetMemoryText);
      return false;
    }
    set.capacity = n;
    for (uint16_t k = 0; k < n; ++k) {
      OvDbNode* node = nullptr;
      if (!OvReadTypedRecord(stream, OvNodeClasses(), *m_arena, node)) return false;
      if (!node->IsInert()) node->Bind(this);
      set.nodes[k] = node;
      set.count = uint16_t(k + 1);
    }
  }
  return true;
}

bool OvDatabase::ReadScripts(OvStream& stream) {
  m_scripts = {};
  uint32_t count;
  if (!stream.ReadU32(count)) return false;
  if (count == 0) return true;
  if (!OvStreamCanHold(stream, count, kMinScriptEntry)) return stream.MarkFailed();
  OvScriptEntry* entries = OvArenaNewArray<OvScriptEntry>(*m_arena, count);
  if ((!entries && count) || !Reserve(m_scripts, count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    OvScriptEntry& e = entries[i];
    if (!stream.BeginChunk()) return false;
    bool ok = stream.ReadLayout("iiu", &e.compressed, &e.kind, &e.length);
    if (ok) {
      // Uncompressed scripts are stored as their raw bytes.
      const bool fits = e.compressed ? OvStreamCheckCompressed(stream, e.length) : OvStreamCanHold(stream, e.length, 1);
      if (!fits) ok = stream.MarkFailed();
    }
    if (ok) {
      e.bytes = static_cast<uint8_t*>(OvArenaAllocZeroed(*m_arena, e.length));
      ok = e.bytes != nullptr;
    }
    if (ok) ok = e.compressed ? stream.ReadCompressed(e.bytes, e.length) : stream.ReadBytes(e.bytes, e.length);
    if (!stream.EndChunk()) ok = false;
    if (!ok) return false;
    m_scripts.items[m_scripts.count++] = &e;
    if (g_scriptHook) g_scriptHook(e.bytes, e.length, 0);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Writing.

bool OvDatabase::Save(const char* path) const {
  if (!path) return false;
  OvStream stream;
  if (!stream.Open(path, "wb")) {
    _TraceFormat("Can not open file -- '%s'.\n", path);
    return false;
  }
  const bool ok = Write(stream);
  stream.Close();
  // A half-written file would only fail to load later.
  if (!ok) std::remove(path);
  return ok;
}

bool OvDatabase::Write(OvStream& stream) const {
  struct Section {
    uint32_t id;
    bool (OvDatabase::*writer)(OvStream&) const;
  };
  static const Section kSections[] = {
      {OV_CHUNK_HEADER, &OvDatabase::WriteHeader},     {OV_CHUNK_SOUNDS, nullptr},
      {OV_CHUNK_TEXTURES, &OvDatabase::WriteTextures}, {OV_CHUNK_SHADERS, &OvDatabase::WriteShaders},
      {OV_CHUNK_MESHES, &OvDatabase::WriteMeshes},     {OV_CHUNK_CLUMPS, &OvDatabase::WriteClumps},
      {OV_CHUNK_LOGOBJS, &OvDatabase::WriteLogObjs},   {OV_CHUNK_ANISETS, &OvDatabase::WriteAniSets},
      {OV_CHUNK_SCRIPTS, &OvDatabase::WriteScripts},
  };
  bool ok = stream.WriteBytes(kSignature, sizeof kSignature) && stream.WriteU32(m_version) &&
            stream.WriteU32(m_fileReserved) && stream.BeginWriteChunk(OV_CHUNK_DATABASE);
  for (const Section& s : kSections) {
    if (!ok) break;
    ok = stream.BeginWriteChunk(s.id);
    if (ok) {
      if (s.writer) {
        ok = (this->*s.writer)(stream);
      } else if (m_sounds) {
        ok = m_sounds->WriteSoundDatabase(stream);
      }
    }
    if (ok) ok = stream.EndChunk();
    if (!ok) _TraceFormat("!!! Can not write database section 0x%x.\n", unsigned(s.id));
  }
  return ok && stream.EndChunk();
}

bool OvDatabase::WriteHeader(OvStream& stream) const {
  const OvDbHeader& h = m_header;
  const int32_t hasFog = h.fogColor ? (h.hasFog != 0 ? h.hasFog : 1) : 0;
  return stream.WriteU32(h.reserved) && stream.WriteString(m_name) && stream.WriteF32(h.real) &&
         stream.WriteI32(h.timeUnitsPerFrame) && stream.WriteU32(h.frameRate) && stream.WriteI32(h.cameraId) &&
         stream.WriteI32(h.headerInt) && stream.WriteU32(h.background) && stream.WriteU32(h.ambient) &&
         stream.WriteI32(hasFog) && (hasFog == 0 || stream.WriteU32(*h.fogColor));
}

bool OvDatabase::WriteTextures(OvStream& stream) const {
  if (!stream.WriteU32(m_textures.count)) return false;
  for (uint32_t i = 0; i < m_textures.count; ++i) {
    const OvTextureEntry* entry = m_textures.items[i];
    if (!entry->record || !stream.BeginWriteUntaggedChunk()) return false;
    const bool written = OvWriteTextureRecord(stream, *entry->record);
    if (!stream.EndChunk() || !written) return false;
  }
  return true;
}

bool OvDatabase::WriteShaders(OvStream& stream) const {
  if (!stream.WriteU32(m_shaders.count)) return false;
  for (uint32_t i = 0; i < m_shaders.count; ++i) {
    const OvShaderEntry* entry = m_shaders.items[i];
    if (!entry->shader || !stream.WriteU32(entry->entryWord) || !OvWriteTypedRecord(stream, *entry->shader)) {
      return false;
    }
  }
  return true;
}

bool OvDatabase::WriteMeshes(OvStream& stream) const {
  return OvWriteMeshSection(stream, m_meshes.items, m_meshIdentity, m_meshes.count);
}

bool OvDatabase::WriteClumps(OvStream& stream) const {
  if (!stream.WriteU32(m_clumps.count)) return false;
  for (uint32_t i = 0; i < m_clumps.count; ++i) {
    const OvClumpRecord& r = *m_clumps.items[i];
    bool ok = stream.WriteI32(r.id) && stream.WriteString(r.name) && stream.WriteI32(r.meshIndex) &&
              stream.WriteI32(r.logObjIndex) && stream.WriteI32(r.placement) && stream.WriteI32(r.nextBrother) &&
              stream.WriteI32(r.firstChild) && stream.WriteI32(r.aniSetIndex);
    for (float v : r.scale) ok = ok && stream.WriteF32(v);
    for (float v : r.position) ok = ok && stream.WriteF32(v);
    for (float v : r.rotation) ok = ok && stream.WriteF32(v);
    ok = ok && stream.WriteU32(r.flags) && stream.WriteU32(r.switchWord) && stream.WriteI32(r.extensionFlags);
    if (ok && (r.extensionFlags & OV_CLUMP_EXTENSION)) ok = r.extension && OvWriteTypedRecord(stream, *r.extension);
    if (!ok) return false;
  }
  return true;
}

bool OvDatabase::WriteLogObjs(OvStream& stream) const {
  if (!stream.WriteU32(m_logObjs.count)) return false;
  for (uint32_t i = 0; i < m_logObjs.count; ++i) {
    const OvLogObjRecord& r = *m_logObjs.items[i];
    if (!stream.WriteLayout("ii", r.reserved, r.id) || !stream.WriteString(r.name) ||
        !stream.WriteLayout("iiiiii i", r.firstClump, r.objectFlags, r.dPower, r.health, r.fullHealth, r.parentHurtRate,
                            r.creationFlags)) {
      return false;
    }
  }
  return true;
}

bool OvDatabase::WriteAniSets(OvStream& stream) const {
  if (!stream.WriteU32(m_aniSets.count)) return false;
  for (uint32_t i = 0; i < m_aniSets.count; ++i) {
    const OvDbAniSet& set = *m_aniSets.items[i];
    if (!stream.WriteU32(uint32_t(set.countHigh) << 16 | set.count) || !stream.WriteU32(set.entryWord)) return false;
    for (uint16_t k = 0; k < set.count; ++k) {
      if (!set.nodes[k] || !OvWriteTypedRecord(stream, *set.nodes[k])) return false;
    }
  }
  return true;
}

bool OvDatabase::WriteScripts(OvStream& stream) const {
  if (!stream.WriteU32(m_scripts.count)) return false;
  for (uint32_t i = 0; i < m_scripts.count; ++i) {
    const OvScriptEntry& e = *m_scripts.items[i];
    if (e.length != 0 && !e.bytes) return false;
    if (!stream.BeginWriteUntaggedChunk() || !stream.WriteLayout("iiu", e.compressed, e.kind, e.length)) return false;
    const uint8_t none = 0;
    const void* bytes = e.bytes ? static_cast<const void*>(e.bytes) : &none;
    const bool written = e.compressed ? stream.WriteCompressed(bytes, e.length) : stream.WriteBytes(bytes, e.length);
    if (!written || !stream.EndChunk()) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Accessors and lookups.

OvDbNode* OvDatabase::Shader(int32_t index) const {
  const OvShaderEntry* entry = m_shaders.At(index);
  return entry ? entry->shader : nullptr;
}

void* OvDatabase::ShaderResource(int32_t index) {
  OvShaderEntry* entry = m_shaders.At(index);
  if (!entry || !entry->shader) return nullptr;
  if (!entry->resource && m_renderer && !entry->shader->IsInert()) {
    entry->resource = entry->shader->GetController(m_renderer);
  }
  return entry->resource;
}

int32_t OvDatabase::MeshIdentity(int32_t index) const {
  if (index < 0 || uint32_t(index) >= m_meshes.count || !m_meshIdentity) return OV_MESH_INLINE;
  return m_meshIdentity[index];
}

OvClumpRecord* OvDatabase::FindClumpRecordInChain(int32_t first, const char* name) const {
  if (!name) return nullptr;
  // A chain longer than the record count has looped.
  for (int pass = 0; pass < 2; ++pass) {
    int32_t index = first;
    for (uint32_t steps = 0; steps < m_clumps.count; ++steps) {
      OvClumpRecord* r = m_clumps.At(index);
      if (!r) break;
      const bool match =
          pass == 0 ? std::strcmp(OrEmpty(r->name), name) == 0 : OvNameMatchIgnoringDigits(OrEmpty(r->name), name);
      if (match) return r;
      index = r->nextBrother;
    }
  }
  return nullptr;
}

int32_t OvDatabase::FindClumpRecordIndex(const char* name, int32_t hint) const {
  if (!name) return -1;
  const OvClumpRecord* hinted = m_clumps.At(hint);
  if (hinted && std::strcmp(OrEmpty(hinted->name), name) == 0) return hint;
  for (uint32_t i = 0; i < m_clumps.count; ++i) {
    if (std::strcmp(OrEmpty(m_clumps.items[i]->name), name) == 0) return int32_t(i);
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Building.

bool OvDatabase::SetName(const char* name) {
  if (!name || !*name) {
    m_name = nullptr;
    return true;
  }
  char* copy = OvArenaCopyString(*m_arena, name);
  if (!copy) return false;
  m_name = copy;
  return true;
}

bool OvDatabase::SetFogColor(uint32_t color) {
  if (!m_header.fogColor) {
    m_header.fogColor = static_cast<uint32_t*>(OvArenaAllocZeroed(*m_arena, sizeof(uint32_t)));
    if (!m_header.fogColor) return false;
  }
  *m_header.fogColor = color;
  if (m_header.hasFog == 0) m_header.hasFog = 1;
  return true;
}

void OvDatabase::ClearFog() {
  m_header.fogColor = nullptr;
  m_header.hasFog = 0;
}

OvTextureEntry* OvDatabase::AddTexture(const OvTextureRecord& shape) {
  if (shape.width < 0 || shape.height < 0) return nullptr;
  OvTextureRecord* record = OvArenaNew<OvTextureRecord>(*m_arena, shape);
  if (!record) return nullptr;
  record->palette = nullptr;
  record->pixels16 = nullptr;
  record->pixels32 = nullptr;
  if (!OvTextureAllocPixels(*record)) return nullptr;
  OvTextureEntry* entry = Append(m_textures);
  if (!entry) {
    OvTextureFreePixels(*record);
    return nullptr;
  }
  entry->record = record;
  return entry;
}

OvShaderEntry* OvDatabase::AddShader(OvDbNode* shader) {
  if (!shader) return nullptr;
  OvShaderEntry* entry = Append(m_shaders);
  if (entry) entry->shader = shader;
  return entry;
}

OvMesh* OvDatabase::AddMesh() {
  if (!AddMeshIdentity(OV_MESH_INLINE)) return nullptr;
  return m_meshes.items[m_meshes.count - 1];
}

bool OvDatabase::AddMeshIdentity(int32_t earlier) {
  OvMesh* mesh = nullptr;
  if (earlier == OV_MESH_INLINE) {
    mesh = OvMeshCreate(*m_arena);
  } else {
    mesh = m_meshes.At(earlier);
  }
  if (!mesh) return false;
  if (m_meshes.count == m_meshes.capacity) {
    const uint64_t capacity = m_meshes.capacity ? uint64_t(m_meshes.capacity) * 2 : 8;
    int32_t* identity = OvArenaNewArray<int32_t>(*m_arena, capacity);
    if (!identity || !Reserve(m_meshes, capacity)) return false;
    if (m_meshes.count) std::memcpy(identity, m_meshIdentity, m_meshes.count * sizeof(int32_t));
    m_meshIdentity = identity;
  }
  m_meshIdentity[m_meshes.count] = earlier;
  m_meshes.items[m_meshes.count++] = mesh;
  return true;
}

OvClumpRecord* OvDatabase::AddClumpRecord(const char* name) {
  char* copy = OvArenaCopyString(*m_arena, OrEmpty(name));
  if (!copy) return nullptr;
  OvClumpRecord* record = Append(m_clumps);
  if (record) record->name = copy;
  return record;
}

OvLogObjRecord* OvDatabase::AddLogObjRecord(const char* name) {
  char* copy = OvArenaCopyString(*m_arena, OrEmpty(name));
  if (!copy) return nullptr;
  OvLogObjRecord* record = Append(m_logObjs);
  if (record) record->name = copy;
  return record;
}

OvDbAniSet* OvDatabase::AddAniSet() { return Append(m_aniSets); }

bool OvDatabase::AddAniSetEntry(OvDbAniSet& set, OvDbNode* node) {
  if (!node || set.count == 0xFFFF) return false;
  if (set.count == set.capacity) {
    const uint32_t capacity = set.capacity ? (set.capacity >= 0x8000 ? 0xFFFF : set.capacity * 2u) : 4;
    OvDbNode** nodes = OvArenaNewArray<OvDbNode*>(*m_arena, capacity);
    if (!nodes) return false;
    if (set.count) std::memcpy(nodes, set.nodes, set.count * sizeof(OvDbNode*));
    set.nodes = nodes;
    set.capacity = uint16_t(capacity);
  }
  set.nodes[set.count++] = node;
  return true;
}

OvScriptEntry* OvDatabase::AddScript(int32_t kind, const void* bytes, uint32_t length, bool compressed) {
  if (length != 0 && !bytes) return nullptr;
  uint8_t* copy = static_cast<uint8_t*>(OvArenaAllocZeroed(*m_arena, length));
  if (!copy) return nullptr;
  if (length) std::memcpy(copy, bytes, length);
  OvScriptEntry* entry = Append(m_scripts);
  if (!entry) return nullptr;
  entry->compressed = compressed ? 1 : 0;
  entry->kind = kind;
  entry->length = length;
  entry->bytes = copy;
  return entry;
}
