#include "ov_sound_db.h"

#include <cstring>

#include "ov_database.h"
#include "ov_node_type.h"
#include "ov_stream.h"

namespace {

OvSoundReleaseHook g_releaseHook = nullptr;
void* g_releaseContext = nullptr;

// The smallest item chunk: id, size, name length and data size.
constexpr uint64_t kMinItemBytes = 4 + 4 + 2 + 4;

}  // namespace

void OvSetSoundReleaseHook(OvSoundReleaseHook hook, void* context) {
  g_releaseHook = hook;
  g_releaseContext = context;
}

uint32_t OvSoundChecksum(const void* data, uint32_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  uint32_t sum = 0;
  if (!bytes) return 0;
  for (uint32_t i = 0; i + 4 <= size; i += 4) {
    sum +=
        uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 | uint32_t(bytes[i + 2]) << 16 | uint32_t(bytes[i + 3]) << 24;
  }
  return sum;
}

OvSoundDatabase::~OvSoundDatabase() {
  ClearSoundDatabase();
  OvMFree(m_folder);
}

bool OvSoundDatabase::SetFolder(const char* folder) {
  OvMFree(m_folder);
  m_folder = nullptr;
  if (!folder) return true;
  const size_t length = std::strlen(folder);
  m_folder = static_cast<char*>(AllocMem(length + 1));
  if (!m_folder) return false;
  std::memcpy(m_folder, folder, length + 1);
  return true;
}

void OvSoundDatabase::ClearSoundDatabase() {
  bool anyData = false;
  for (uint32_t i = 0; i < m_count; ++i) {
    if (m_items[i] && m_items[i]->data) anyData = true;
  }
  // Playing instances may still point into the data.
  if (anyData && g_releaseHook) g_releaseHook(g_releaseContext);
  for (uint32_t i = 0; i < m_count; ++i) {
    if (!m_items[i]) continue;
    OvMFree(m_items[i]->data);
    m_items[i]->data = nullptr;
  }
  m_items = nullptr;
  m_count = 0;
  m_capacity = 0;
}

bool OvSoundDatabase::Reserve(uint32_t capacity) {
  if (capacity <= m_capacity) return true;
  if (!m_arena) return false;
  OvSoundItem** items = OvArenaNewArray<OvSoundItem*>(*m_arena, capacity);
  if (!items) return false;
  if (m_count) std::memcpy(items, m_items, m_count * sizeof(OvSoundItem*));
  m_items = items;
  m_capacity = capacity;
  return true;
}

int32_t OvSoundDatabase::AddItem(const char* name, const void* data, uint32_t size) {
  if (!m_arena || m_count >= 0x7FFFFFFFu) return -1;
  if (m_count == m_capacity && !Reserve(m_capacity ? m_capacity * 2 : 8)) return -1;
  OvSoundItem* item = OvArenaNew<OvSoundItem>(*m_arena);
  if (!item) return -1;
  if (name && *name) {
    item->name = OvArenaCopyString(*m_arena, name);
    if (!item->name) return -1;
  }
  if (data && size != 0) {
    item->data = static_cast<uint8_t*>(AllocMem(size));
    if (!item->data) return -1;
    std::memcpy(item->data, data, size);
    item->size = size;
    item->embedded = 1;
    item->checksum = OvSoundChecksum(item->data, size);
  }
  m_items[m_count] = item;
  return int32_t(m_count++);
}

bool OvSoundDatabase::ReadSoundDatabase(OvStream& stream) {
  ClearSoundDatabase();
  if (!m_arena) return false;
  uint32_t id;
  if (!stream.NextChunk(id)) return !stream.Failed();
  bool ok = true;
  if (id == OV_CHUNK_SOUND_DATABASE) {
    uint32_t count;
    ok = stream.ReadU32(count);
    if (ok && count != 0) {
      if (!OvStreamCanHold(stream, count, kMinItemBytes)) {
        ok = stream.MarkFailed();
      } else if (!Reserve(count)) {
        ok = false;  // count stays 0
      }
    }
    for (uint32_t slot = 0; ok && slot < count; ++slot) {
      // Claim the slot first so that whatever is read is also cleared.
      m_items[slot] = nullptr;
      m_count = slot + 1;
      uint32_t itemId;
      if (!stream.NextChunk(itemId)) {
        ok = false;  // fewer items than announced
        break;
      }
      if (itemId == OV_CHUNK_SOUND_ITEM) {
        OvSoundItem* item = OvArenaNew<OvSoundItem>(*m_arena);
        ok = item != nullptr;
        if (ok) {
          m_items[slot] = item;
          ok = stream.ReadString(item->name, m_arena) && stream.ReadU32(item->size);
        }
        if (ok && item->size != 0) {
          if (!OvStreamCanHold(stream, item->size, 1)) {
            ok = stream.MarkFailed();
          } else {
            item->data = static_cast<uint8_t*>(AllocMem(item->size));
            ok = item->data && stream.ReadBytes(item->data, item->size) && stream.ReadU32(item->checksum) &&
                 stream.ReadI32(item->embedded);
          }
        }
        if (ok && item->size == 0) {
          item->data = nullptr;
          item->embedded = 0;
          item->checksum = 0;
        }
      }
      if (!stream.EndChunk()) ok = false;
    }
  }
  if (!stream.EndChunk()) ok = false;
  return ok && !stream.Failed();
}

bool OvSoundDatabase::WriteSoundDatabase(OvStream& stream) const {
  if (!stream.BeginWriteChunk(OV_CHUNK_SOUND_DATABASE) || !stream.WriteU32(m_count)) return false;
  for (uint32_t i = 0; i < m_count; ++i) {
    const OvSoundItem* item = m_items[i];
    // An empty slot reads back from a chunk of another type.
    if (!stream.BeginWriteChunk(item ? OV_CHUNK_SOUND_ITEM : 0)) return false;
    if (item) {
      const uint32_t size = item->data ? item->size : 0;
      if (!stream.WriteString(item->name) || !stream.WriteU32(size)) return false;
      if (size != 0 && (!stream.WriteBytes(item->data, size) || !stream.WriteU32(item->checksum) ||
                        !stream.WriteI32(item->embedded))) {
        return false;
      }
    }
    if (!stream.EndChunk()) return false;
  }
  return stream.EndChunk();
}
