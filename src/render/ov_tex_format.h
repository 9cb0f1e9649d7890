// Device texture formats, named after their channel layout in one pixel word
// (alpha highest, blue lowest). Shared by the texture objects of the device
// and the texture builder's format table (which keeps the search order).
//
// Pixel memory for uploads: 32-bit formats one little-endian u32 per pixel
// (0xAARRGGBB); 16-bit formats one u16; R8G8B8 three bytes per pixel (blue,
// green, red); A8 and R3G3B2 one byte.
#pragma once

#include <cstdint>

enum class OvTexFormat : uint8_t {
  X8R8G8B8,
  A8R8G8B8,
  R8G8B8,
  R5G6B5,
  X1R5G5B5,
  A1R5G5B5,
  A4R4G4B4,
  R3G3B2,
  A8,
  A8R3G3B2,
  X4R4G4B4,
  Count,
};
constexpr int OV_TEX_FORMAT_COUNT = int(OvTexFormat::Count);

// Bytes of one pixel in upload memory.
int OvTexFormatBytes(OvTexFormat format);
const char* OvTexFormatName(OvTexFormat format);
