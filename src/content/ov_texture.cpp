#include "ov_texture.h"

#include <cstring>

#include "ov_database.h"
#include "ov_node_type.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

constexpr const char* kRecordMemoryText = "!!! Not enough memory while loading texture to database.\n";
constexpr const char* kPaletteMemoryText = "!!! Not enough memory while loading paletted texture to database.\n";
constexpr const char* kDirectMemoryText = "!!! Not enough memory while loading ARGB texture to database.\n";

void* AllocBlock(uint64_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX) return nullptr;
  void* block = AllocMem(size_t(bytes));
  if (block) std::memset(block, 0, size_t(bytes));
  return block;
}

// One pixel block, raw or compressed. The length is checked against what the
// stream can still deliver before anything is allocated.
bool ReadBlock(OvStream& stream, bool compressed, uint64_t bytes, void*& block, const char* memoryText) {
  block = nullptr;
  if (compressed ? !OvStreamCheckCompressed(stream, bytes) : !OvStreamCanHold(stream, bytes, 1)) {
    return stream.MarkFailed();
  }
  if (bytes == 0) {
    // An empty texture still carries its (empty) compressed block.
    uint8_t none = 0;
    return !compressed || stream.ReadCompressed(&none, 0);
  }
  block = AllocBlock(bytes);
  if (!block) {
    Trace(memoryText);
    return false;
  }
  if (compressed) return stream.ReadCompressed(block, size_t(bytes));
  return stream.ReadBytes(block, size_t(bytes));
}

bool WriteBlock(OvStream& stream, bool compressed, const void* block, uint64_t bytes) {
  if (bytes == 0) {
    const uint8_t none = 0;
    return !compressed || stream.WriteCompressed(&none, 0);
  }
  if (!block) return false;
  if (compressed) return stream.WriteCompressed(block, size_t(bytes));
  return stream.WriteBytes(block, size_t(bytes));
}

}  // namespace

uint64_t OvTexturePixelCount(const OvTextureRecord& record) {
  if (record.width <= 0 || record.height <= 0) return 0;
  return uint64_t(record.width) * uint64_t(record.height);
}

uint64_t OvTexturePaletteBytes(const OvTextureRecord& record) {
  return record.paletteBits != 0 ? OvTexturePixelCount(record) + OV_PALETTE_BYTES : 0;
}

bool OvTextureIsDirect16(const OvTextureRecord& record) {
  return uint32_t(record.redBits) + record.greenBits + record.blueBits < 17;
}

uint64_t OvTextureDirectBytes(const OvTextureRecord& record) {
  if (record.alphaBits == 0 && record.redBits == 0 && record.greenBits == 0 && record.blueBits == 0) return 0;
  return OvTexturePixelCount(record) * (OvTextureIsDirect16(record) ? 2 : 4);
}

void OvTextureFreePixels(OvTextureRecord& record) {
  OvMFree(record.palette);
  OvMFree(record.pixels16);
  OvMFree(record.pixels32);
  record.palette = nullptr;
  record.pixels16 = nullptr;
  record.pixels32 = nullptr;
}

bool OvTextureAllocPixels(OvTextureRecord& record) {
  OvTextureFreePixels(record);
  const uint64_t paletteBytes = OvTexturePaletteBytes(record);
  if (paletteBytes != 0) {
    record.palette = static_cast<uint8_t*>(AllocBlock(paletteBytes));
    if (!record.palette) {
      Trace(kPaletteMemoryText);
      return false;
    }
  }
  const uint64_t directBytes = OvTextureDirectBytes(record);
  if (directBytes != 0) {
    void* block = AllocBlock(directBytes);
    if (!block) {
      Trace(kDirectMemoryText);
      OvTextureFreePixels(record);
      return false;
    }
    if (OvTextureIsDirect16(record)) {
      record.pixels16 = static_cast<uint16_t*>(block);
    } else {
      record.pixels32 = static_cast<uint32_t*>(block);
    }
  }
  return true;
}

bool OvReadTextureRecord(OvStream& stream, OvChunkArena& arena, OvTextureRecord*& out) {
  out = nullptr;
  uint32_t entryWord;
  int32_t width;
  if (!stream.ReadU32(entryWord) || !stream.ReadI32(width)) return false;
  OvTextureRecord* record = OvArenaNew<OvTextureRecord>(arena);
  if (!record) {
    Trace(kRecordMemoryText);
    return false;
  }
  out = record;
  record->entryWord = entryWord;
  if (width == 0) {
    // Width 0 says the blocks are compressed; the real width follows.
    record->compressed = true;
    if (!stream.ReadI32(width)) return false;
  }
  record->width = width;
  if (!stream.ReadLayout("issssssi", &record->height, &record->paletteBits, &record->alphaBits, &record->redBits,
                         &record->greenBits, &record->blueBits, &record->word16, &record->word32)) {
    return false;
  }
  if (record->width < 0 || record->height < 0) return stream.MarkFailed();

  void* block = nullptr;
  if (record->paletteBits != 0) {
    if (!ReadBlock(stream, record->compressed, OvTexturePaletteBytes(*record), block, kPaletteMemoryText)) {
      OvMFree(block);
      return false;
    }
    record->palette = static_cast<uint8_t*>(block);
  }
  const uint64_t directBytes = OvTextureDirectBytes(*record);
  if (record->alphaBits != 0 || record->redBits != 0 || record->greenBits != 0 || record->blueBits != 0) {
    if (!ReadBlock(stream, record->compressed, directBytes, block, kDirectMemoryText)) {
      OvMFree(block);
      return false;
    }
    if (OvTextureIsDirect16(*record)) {
      record->pixels16 = static_cast<uint16_t*>(block);
    } else {
      record->pixels32 = static_cast<uint32_t*>(block);
    }
  }
  return true;
}

bool OvWriteTextureRecord(OvStream& stream, const OvTextureRecord& record) {
  if (record.width < 0 || record.height < 0) return false;
  // A width of 0 announces compression, so an empty texture is always
  // written compressed.
  const bool compressed = record.compressed || record.width == 0;
  if (!stream.WriteU32(record.entryWord)) return false;
  if (compressed && !stream.WriteI32(0)) return false;
  if (!stream.WriteI32(record.width)) return false;
  if (!stream.WriteLayout("issssssi", record.height, record.paletteBits, record.alphaBits, record.redBits,
                          record.greenBits, record.blueBits, record.word16, record.word32)) {
    return false;
  }
  if (record.paletteBits != 0 && !WriteBlock(stream, compressed, record.palette, OvTexturePaletteBytes(record))) {
    return false;
  }
  if (record.alphaBits != 0 || record.redBits != 0 || record.greenBits != 0 || record.blueBits != 0) {
    const void* block = OvTextureIsDirect16(record) ? static_cast<const void*>(record.pixels16)
                                                    : static_cast<const void*>(record.pixels32);
    if (!WriteBlock(stream, compressed, block, OvTextureDirectBytes(record))) return false;
  }
  return true;
}
