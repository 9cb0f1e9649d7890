// The content database: everything one content file holds (textures, shaders,
// meshes, clump and logical-object records, animation sets, scripts, sounds),
// loaded into one arena and freed together. Also writes the same file form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "ov_memory.h"
#include "ov_mesh.h"
#include "ov_sound_db.h"
#include "ov_texture.h"

class OvStream;
class OvDbNode;

constexpr uint32_t OV_DB_VERSION = 301;
constexpr uint32_t OV_DB_VERSION_OLD = 300;
constexpr int32_t OV_DB_ARENA_BLOCK = 64 * 1024;

// Chunk ids of the file.
constexpr uint32_t OV_CHUNK_DATABASE = 0x1000;
constexpr uint32_t OV_CHUNK_HEADER = 0x1010;
constexpr uint32_t OV_CHUNK_SOUNDS = 0x2000;
constexpr uint32_t OV_CHUNK_TEXTURES = 0x3000;
constexpr uint32_t OV_CHUNK_SHADERS = 0x4000;
constexpr uint32_t OV_CHUNK_MESHES = 0x5000;
constexpr uint32_t OV_CHUNK_CLUMPS = 0x6000;
constexpr uint32_t OV_CHUNK_LOGOBJS = 0x7000;
constexpr uint32_t OV_CHUNK_ANISETS = 0x8000;
constexpr uint32_t OV_CHUNK_SCRIPTS = 0x9000;

// ---------------------------------------------------------------------------
// Arena and stream helpers shared by the section readers.

// Zeroed, 8-byte aligned arena memory; null when the arena cannot serve it.
void* OvArenaAllocZeroed(OvChunkArena& arena, uint64_t bytes);

// An array of default-constructed T from the arena; null when count x size
// does not fit or memory runs out.
template <class T>
T* OvArenaNewArray(OvChunkArena& arena, uint64_t count) {
  if (count > (uint64_t(0x7FFF0000u) / sizeof(T))) return nullptr;
  T* items = static_cast<T*>(OvArenaAllocZeroed(arena, count * sizeof(T)));
  if (!items) return nullptr;
  for (uint64_t i = 0; i < count; ++i) ::new (static_cast<void*>(items + i)) T();
  return items;
}

// A NUL-terminated copy in the arena (null for null).
char* OvArenaCopyString(OvChunkArena& arena, const char* text);

// Bytes the arena hands out at present (the payload used in every chunk up to
// the current one).
uint64_t OvArenaUsedBytes(const OvChunkArena& arena);

// True when `count` elements of at least `elementBytes` each can still be in
// the stream (innermost chunk or data), so a count may be trusted for an
// allocation.
bool OvStreamCanHold(const OvStream& stream, uint64_t count, uint64_t elementBytes);

// Checks the compressed block at the stream position without consuming it:
// the marker is 1, the packed bytes lie within the chunk, and they could
// inflate to `unpackedSize` bytes. Lets a reader refuse a hostile length
// before allocating the destination.
bool OvStreamCheckCompressed(OvStream& stream, uint64_t unpackedSize);

// ---------------------------------------------------------------------------
// Records kept by the database.

// Device work for content: implemented by the renderer, which sits above the
// content library. Without one nothing is uploaded and handles stay null.
class OvDbRenderer {
 public:
  virtual ~OvDbRenderer() = default;
  virtual void* CreateTexture(const OvTextureRecord& record) = 0;
  // Once after the last texture of a texture section.
  virtual void EndTextureBuilding() = 0;
  virtual void ReleaseTexture(void* texture) = 0;
  // Drops the mesh's device buffers (mesh.deviceBuffers).
  virtual void ReleaseMeshBuffers(OvMesh& mesh) = 0;
  // Drops one reference to a shader's render resource.
  virtual void ReleaseShaderResource(void* resource) = 0;
};

struct OvTextureEntry {
  void* handle = nullptr;  // device texture
  OvTextureRecord* record = nullptr;
};

struct OvShaderEntry {
  OvDbNode* shader = nullptr;
  void* resource = nullptr;  // render resource, made on first use
  uint32_t entryWord = 0;    // the word ahead of each shader entry
};

struct OvScriptEntry {
  int32_t compressed = 1;  // stored as a compressed block (else raw bytes)
  int32_t kind = 0;
  uint32_t length = 0;
  uint8_t* bytes = nullptr;
};

struct OvDbAniSet {
  uint16_t count = 0;
  uint16_t capacity = 0;
  OvDbNode** nodes = nullptr;
  // File form: the entry count's high half and the word after it.
  uint16_t countHigh = 0;
  uint32_t entryWord = 0;
};

constexpr int32_t OV_CLUMP_EXTENSION = 0x1;  // extension flag: a typed record follows

struct OvClumpRecord {
  int32_t id = 0;
  char* name = nullptr;  // "" when absent
  int32_t meshIndex = -1;
  int32_t logObjIndex = -1;  // object generated with this clump when emitted
  int32_t placement = -1;    // >= 0: an emitted clump takes the whole matrix
  int32_t nextBrother = -1;
  int32_t firstChild = -1;
  int32_t aniSetIndex = -1;
  float scale[3] = {1.0f, 1.0f, 1.0f};
  float position[3] = {0.0f, 0.0f, 0.0f};
  float rotation[4] = {1.0f, 0.0f, 0.0f, 0.0f};  // scalar first
  uint32_t flags = 0;
  uint32_t switchWord = 0;
  int32_t extensionFlags = 0;
  OvDbNode* extension = nullptr;
};

struct OvLogObjRecord {
  int32_t reserved = 0;
  int32_t id = 0;
  char* name = nullptr;  // "" when absent
  int32_t firstClump = -1;
  int32_t objectFlags = 0;
  int32_t dPower = 0;
  int32_t health = 0;
  int32_t fullHealth = 0;
  int32_t parentHurtRate = 0;
  int32_t creationFlags = 0;  // bit 0 or 1: a template, not instantiated
};

struct OvDbHeader {
  uint32_t reserved = 0;
  float real = 1.0f / 61.0f;  // kept, not interpreted
  int32_t timeUnitsPerFrame = 1;
  uint32_t frameRate = 60;
  int32_t cameraId = -1;  // initial camera clump, -1 none
  int32_t headerInt = 0;  // kept, not interpreted
  uint32_t background = 0xFFFFFFFFu;
  uint32_t ambient = 0;
  int32_t hasFog = 0;            // as stored; non-zero: fogColor follows
  uint32_t* fogColor = nullptr;  // arena; null: fog off
  bool lighting = true;
};

// The content loader hands every script chunk here (the script host installs
// it); the result is the host's business. Null removes it.
using OvScriptLoadHook = bool (*)(const void* bytes, uint32_t length, int flags);
void OvSetScriptLoadHook(OvScriptLoadHook hook);

// Digit-run name matching: the names agree up to their first difference, a
// run of decimal digits is skipped in each at that point, and the rests are
// equal ("arm_1" matches "arm_2", "wheel01_L" matches "wheel_L"). Identical
// names match; null never does.
bool OvNameMatchIgnoringDigits(const char* a, const char* b);

// Growable array of record pointers in the database arena.
template <class T>
struct OvDbList {
  T** items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;
  T* At(int64_t index) const { return index >= 0 && index < int64_t(count) ? items[index] : nullptr; }
};

class OvDatabase : public OvAllocated {
 public:
  // A new empty database linked into the global list; null when memory runs
  // out.
  static OvDatabase* Create();
  // Unloads, frees the arena and the sound database, unlinks and deletes.
  void Destroy();

  static OvDatabase* FindBySerial(int32_t serial);
  static OvDatabase* FindByName(const char* name);
  static OvDatabase* First();
  OvDatabase* Next() const { return m_next; }

  // Unloads, then reads the file. A null path does nothing; a non-zero block
  // size replaces the arena's. Progress and every failure go to the trace;
  // true when every section loaded.
  bool Load(const char* path, int32_t arenaBlockSize = 0);
  // The same from a memory image; `name` is what the messages show.
  bool LoadMemory(const void* data, size_t size, const char* name, int32_t arenaBlockSize = 0);
  // Releases device objects, destroys the records, resets the arena.
  void Unload();

  // Writes the whole file form. False (with a trace line) when a record
  // cannot be written or the stream fails.
  bool Save(const char* path) const;
  bool Write(OvStream& stream) const;

  void SetRenderer(OvDbRenderer* renderer) { m_renderer = renderer; }
  OvDbRenderer* Renderer() const { return m_renderer; }

  int32_t Serial() const { return m_serial; }
  const char* Name() const { return m_name ? m_name : ""; }
  bool SetName(const char* name);
  uint32_t Version() const { return m_version; }
  void SetVersion(uint32_t version) { m_version = version; }
  uint32_t FileReserved() const { return m_fileReserved; }
  void SetFileReserved(uint32_t word) { m_fileReserved = word; }

  OvDbHeader& Header() { return m_header; }
  const OvDbHeader& Header() const { return m_header; }
  bool SetFogColor(uint32_t color);
  void ClearFog();

  OvChunkArena& Arena() { return *m_arena; }
  OvSoundDatabase* SoundDatabase() const { return m_sounds; }

  bool KeepTexturePixels() const { return m_keepTexturePixels; }
  void SetKeepTexturePixels(bool on) { m_keepTexturePixels = on; }
  bool CreatingInitialObjects() const { return m_creatingInitialObjects; }
  void SetCreatingInitialObjects(bool on) { m_creatingInitialObjects = on; }
  bool Instantiating() const { return m_instantiating; }
  void SetInstantiating(bool on) { m_instantiating = on; }

  // Bounds-checked accessors: null out of range.
  uint32_t TextureCount() const { return m_textures.count; }
  OvTextureEntry* Texture(int32_t index) const { return m_textures.At(index); }
  uint32_t ShaderCount() const { return m_shaders.count; }
  OvShaderEntry* ShaderEntry(int32_t index) const { return m_shaders.At(index); }
  OvDbNode* Shader(int32_t index) const;
  // The shader's render resource, made through GetController on first use;
  // null without a renderer or for an unknown shader class.
  void* ShaderResource(int32_t index);
  uint32_t MeshCount() const { return m_meshes.count; }
  OvMesh* Mesh(int32_t index) const { return m_meshes.At(index); }
  // -1, or the earlier mesh this slot is the same object as.
  int32_t MeshIdentity(int32_t index) const;
  uint32_t ClumpRecordCount() const { return m_clumps.count; }
  OvClumpRecord* ClumpRecord(int32_t index) const { return m_clumps.At(index); }
  uint32_t LogObjRecordCount() const { return m_logObjs.count; }
  OvLogObjRecord* LogObjRecord(int32_t index) const { return m_logObjs.At(index); }
  uint32_t AniSetCount() const { return m_aniSets.count; }
  OvDbAniSet* AniSet(int32_t index) const { return m_aniSets.At(index); }
  uint32_t ScriptCount() const { return m_scripts.count; }
  OvScriptEntry* Script(int32_t index) const { return m_scripts.At(index); }

  // Among the chain of brothers starting at record `first`: the record named
  // `name`, else the first one matching with a run of digits ignored. The walk
  // stops at an index out of range and never loops.
  OvClumpRecord* FindClumpRecordInChain(int32_t first, const char* name) const;
  // Index of the record named `name` (exact), trying `hint` first; -1 none.
  int32_t FindClumpRecordIndex(const char* name, int32_t hint = -1) const;

  // Building in memory (a content compiler, tests). Records come from the
  // arena; the pointers stay valid until unload.
  OvTextureEntry* AddTexture(const OvTextureRecord& shape);  // zeroed blocks
  OvShaderEntry* AddShader(OvDbNode* shader);                // arena node
  OvMesh* AddMesh();
  bool AddMeshIdentity(int32_t earlier);  // a slot holding an earlier mesh
  OvClumpRecord* AddClumpRecord(const char* name);
  OvLogObjRecord* AddLogObjRecord(const char* name);
  OvDbAniSet* AddAniSet();
  bool AddAniSetEntry(OvDbAniSet& set, OvDbNode* node);  // arena node
  OvScriptEntry* AddScript(int32_t kind, const void* bytes, uint32_t length, bool compressed = true);
  char* CopyString(const char* text) { return OvArenaCopyString(*m_arena, text); }

 private:
  OvDatabase();
  ~OvDatabase();

  bool LoadFrom(OvStream& stream, const char* name, int32_t arenaBlockSize);
  bool ReadHeader(OvStream& stream);
  bool ReadTextures(OvStream& stream);
  bool ReadShaders(OvStream& stream);
  bool ReadMeshes(OvStream& stream);
  bool ReadClumps(OvStream& stream);
  bool ReadLogObjs(OvStream& stream);
  bool ReadAniSets(OvStream& stream);
  bool ReadScripts(OvStream& stream);

  bool WriteHeader(OvStream& stream) const;
  bool WriteTextures(OvStream& stream) const;
  bool WriteShaders(OvStream& stream) const;
  bool WriteMeshes(OvStream& stream) const;
  bool WriteClumps(OvStream& stream) const;
  bool WriteLogObjs(OvStream& stream) const;
  bool WriteAniSets(OvStream& stream) const;
  bool WriteScripts(OvStream& stream) const;

  // Each drops one section (device objects, node destructors, heap blocks);
  // the arena memory goes with the next reset.
  void ReleaseTextures();
  void ReleaseShaders();
  void ReleaseMeshes();
  void ReleaseClumps();
  void ReleaseAniSets();
  void ResetHeader();

  template <class T>
  T* Append(OvDbList<T>& list);
  template <class T>
  bool Reserve(OvDbList<T>& list, uint64_t capacity);

  int32_t m_serial = 0;
  char* m_name = nullptr;
  OvChunkArena* m_arena = nullptr;
  OvDbRenderer* m_renderer = nullptr;
  OvSoundDatabase* m_sounds = nullptr;
  OvDbList<OvMesh> m_meshes;
  int32_t* m_meshIdentity = nullptr;  // per slot: -1 or the earlier mesh; capacity as m_meshes
  OvDbList<OvDbAniSet> m_aniSets;
  OvDbList<OvClumpRecord> m_clumps;
  OvDbList<OvLogObjRecord> m_logObjs;
  OvDbList<OvTextureEntry> m_textures;
  OvDbList<OvShaderEntry> m_shaders;
  OvDbList<OvScriptEntry> m_scripts;
  OvDbHeader m_header;
  uint32_t m_version = OV_DB_VERSION;
  uint32_t m_fileReserved = 0;
  bool m_creatingInitialObjects = false;
  bool m_instantiating = false;
  bool m_keepTexturePixels = false;
  OvDatabase* m_next = nullptr;
};
