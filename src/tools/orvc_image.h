// Images for the content compiler: 32-bit ARGB pictures (decoded PNG files or
// generated) and their conversion into the pixel blocks of a texture record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OvTextureRecord;

constexpr int ORVC_MAX_TEXTURE_SIDE = 8192;

struct OrvcImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;  // row after row from the top, 0xAARRGGBB
};

// The stored pixel forms a texture can take.
struct OrvcTextureFormat {
  const char* name;
  uint16_t paletteBits;
  uint16_t alphaBits;  // 255: the alpha byte is present but carries no alpha
  uint16_t redBits;
  uint16_t greenBits;
  uint16_t blueBits;
};

// Looks a format up by name ("argb8888", "rgb565", "p8", ...); null when unknown.
const OrvcTextureFormat* OrvcFindTextureFormat(const std::string& name);
// Every known name, comma separated (for messages).
std::string OrvcTextureFormatNames();

// The picture's size from its header, without decoding it; false when the
// reader does not know the format.
bool OrvcImageSize(const std::vector<uint8_t>& bytes, int& width, int& height);

// Decodes a PNG (or another format the image reader knows) from memory.
// False with the reason in `error`.
bool OrvcDecodeImage(const std::vector<uint8_t>& bytes, OrvcImage& out, std::string& error);

// Packs one ARGB colour into a 16-bit pixel with the given channel widths
// (blue in the low bits, then green, red and alpha; each channel keeps its
// top bits).
uint16_t OrvcPack16(uint32_t argb, int alphaBits, int redBits, int greenBits, int blueBits);

// Fills the record's pixel blocks (already allocated for its shape) from the
// image. A paletted record gets a palette of the image's distinct colours in
// order of first appearance; more than 256 of them is an error.
bool OrvcFillTexturePixels(OvTextureRecord& record, const OrvcImage& image, std::string& error);
