// The sound database of a content database: the sound items named or embedded
// in the content file. Items live in the content database's arena; embedded
// file bytes come from AllocMem and are freed by ClearSoundDatabase.
#pragma once

#include <cstdint>

#include "ov_memory.h"

class OvStream;
class OvChunkArena;

constexpr uint32_t OV_CHUNK_SOUND_DATABASE = 0x2010;
constexpr uint32_t OV_CHUNK_SOUND_ITEM = 0x2020;

struct OvSoundItem {
  char* name = nullptr;     // as written in the content; null when absent
  uint8_t* data = nullptr;  // the whole sound file when embedded
  uint32_t size = 0;
  int32_t embedded = 0;
  uint32_t checksum = 0;
};

// Sum of the data as little-endian u32 words (size / 4 of them), wrapping.
uint32_t OvSoundChecksum(const void* data, uint32_t size);

// Lets the sound system drop its instances waiting for release before item
// data goes away. One sound system per process, so one hook; null removes it.
using OvSoundReleaseHook = void (*)(void* context);
void OvSetSoundReleaseHook(OvSoundReleaseHook hook, void* context);

class OvSoundDatabase : public OvAllocated {
 public:
  explicit OvSoundDatabase(OvChunkArena* arena) : m_arena(arena) {}
  ~OvSoundDatabase();
  OvSoundDatabase(const OvSoundDatabase&) = delete;
  OvSoundDatabase& operator=(const OvSoundDatabase&) = delete;

  // The arena the items come from; the content database sets it again when
  // it replaces its arena (only while the sound database is empty).
  void SetArena(OvChunkArena* arena) { m_arena = arena; }

  // Reads the sound database chunk at the stream position (its payload is the
  // content file's sound section). Replaces the current items. A chunk of
  // another type reads nothing. False when the data are broken or memory runs
  // out; the items read so far stay.
  bool ReadSoundDatabase(OvStream& stream);
  bool WriteSoundDatabase(OvStream& stream) const;
  // Calls the release hook when any item holds data, frees the data and
  // forgets the items (their records go with the arena).
  void ClearSoundDatabase();

  // Appends an item with a copy of the name and of the data (embedded when
  // data is given; the checksum is computed). Index, or -1 when memory runs
  // out.
  int32_t AddItem(const char* name, const void* data, uint32_t size);

  const char* Name() const { return "sounds"; }
  uint32_t Count() const { return m_count; }
  // Null when out of range or when the slot's chunk was of another type.
  OvSoundItem* Item(uint32_t index) const { return index < m_count ? m_items[index] : nullptr; }

  bool Embed() const { return m_embed; }
  void SetEmbed(bool on) { m_embed = on; }
  // Folder of the content file, for finding sound files ("" when unknown).
  const char* Folder() const { return m_folder ? m_folder : ""; }
  bool SetFolder(const char* folder);

 private:
  bool Reserve(uint32_t capacity);

  OvChunkArena* m_arena;
  OvSoundItem** m_items = nullptr;
  uint32_t m_count = 0;
  uint32_t m_capacity = 0;
  bool m_embed = false;
  char* m_folder = nullptr;  // AllocMem
};
