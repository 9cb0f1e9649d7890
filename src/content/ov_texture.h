// Texture records of the content database: the image description handed to
// the renderer, with its pixel blocks.
#pragma once

#include <cstdint>

class OvStream;
class OvChunkArena;

constexpr uint32_t OV_PALETTE_BYTES = 1024;  // 256 u32 colours

struct OvTextureRecord {
  int32_t width = 0;
  int32_t height = 0;
  uint16_t paletteBits = 0;  // 0 no palette, 8 one u8 index per pixel
  uint16_t alphaBits = 0;    // 255: the alpha byte is present but no alpha
  uint16_t redBits = 0;
  uint16_t greenBits = 0;
  uint16_t blueBits = 0;
  uint16_t word16 = 0;  // kept for the renderer
  int32_t word32 = 0;   // kept for the renderer
  // Palette block: 256 u32 colours, then one u8 index per pixel.
  uint8_t* palette = nullptr;
  // Direct-colour block: one of the two, by the channel widths.
  uint16_t* pixels16 = nullptr;
  uint32_t* pixels32 = nullptr;

  // File form, kept for writing.
  uint32_t entryWord = 0;   // the word ahead of each texture entry
  bool compressed = false;  // pixel blocks stored as compressed blocks

  const uint32_t* PaletteColors() const { return reinterpret_cast<const uint32_t*>(palette); }
  const uint8_t* PaletteIndices() const { return palette ? palette + OV_PALETTE_BYTES : nullptr; }
};

// Sizes by the record's shape, in 64 bits (0 when the block is absent or the
// shape is negative).
uint64_t OvTexturePixelCount(const OvTextureRecord& record);
uint64_t OvTexturePaletteBytes(const OvTextureRecord& record);
uint64_t OvTextureDirectBytes(const OvTextureRecord& record);
// True when the direct-colour block holds 16-bit pixels.
bool OvTextureIsDirect16(const OvTextureRecord& record);

// Allocates zeroed pixel blocks (AllocMem) for the record's shape, replacing
// any it held. False when memory runs out (message traced).
bool OvTextureAllocPixels(OvTextureRecord& record);
// Frees the pixel blocks.
void OvTextureFreePixels(OvTextureRecord& record);

// One texture entry of the texture section (the entry word, the width rule,
// the layout and the blocks), the record itself from the arena. False when the
// data are broken or memory runs out; a record already allocated is returned
// in `out` either way so its blocks can be freed.
bool OvReadTextureRecord(OvStream& stream, OvChunkArena& arena, OvTextureRecord*& out);
// Writes the same form back. False when the blocks are gone (freed after
// upload) or the stream fails.
bool OvWriteTextureRecord(OvStream& stream, const OvTextureRecord& record);
