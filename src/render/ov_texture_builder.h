// The texture builder: turns an image held in memory (content texture
// records, memo note images, the built-in font) into a device texture with a
// full mipmap chain. It picks a pixel format the device takes, converts the
// pixels where needed into a scratch surface and builds the levels with a
// 2 x 2 box filter on the CPU.
#pragma once

#include <cstdint>

#include "ov_gl_draw.h"
#include "ov_memory.h"
#include "ov_tex_format.h"

class OvRendererGL;
struct OvTextureRecord;

// One row of the format table: channel bits (alpha 255 = byte present but no
// alpha) and the format they select.
struct OvTexFormatEntry {
  uint16_t alpha, red, green, blue;
  OvTexFormat format;
  uint8_t bytesPerPixel;  // of the scratch surface
  const char* name;
};

// The table in search order; null when no row matches the bit counts.
const OvTexFormatEntry* OvFindTexFormat(int alpha, int red, int green, int blue);
const OvTexFormatEntry& OvTexFormatInfo(OvTexFormat format);

// How source pixels are written into the scratch surface.
enum class OvPixelMode : uint8_t {
  Copy,         // unchanged (fitted to the surface's pixel size)
  Palette565,   // palette expanded to R5G6B5
  A8888To4444,  // top nibble of each channel
  X888To565,
  R565To1555,  // lowest green bit dropped, alpha bit set
};

// Pixel conversions, one word at a time.
inline uint16_t OvPixelTo565(uint32_t c) {
  return uint16_t(((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c >> 3) & 0x001F));
}
inline uint16_t OvPixel8888To4444(uint32_t c) {
  return uint16_t(((c >> 16) & 0xF000) | ((c >> 12) & 0x0F00) | ((c >> 8) & 0x00F0) | ((c >> 4) & 0x000F));
}
inline uint16_t OvPixel565To1555(uint16_t c) { return uint16_t(((c >> 1) & 0xFFE0) | (c & 0x001F) | 0x8000); }

// What the caller describes; the builder never owns these arrays. Exactly one
// kind of data is used, paletted first.
struct OvImageDesc {
  const uint32_t* pixels32 = nullptr;  // ARGB words
  const uint16_t* pixels16 = nullptr;  // packed from bit 0 by the channel bits
  const uint8_t* indices = nullptr;    // paletted: one index per pixel
  const uint32_t* palette = nullptr;   // 256 ARGB words
  int32_t width = 0;
  int32_t height = 0;
  int32_t indexBits = 8;
  int32_t alphaBits = 0;  // 255: X8R8G8B8 data
  int32_t redBits = 0;
  int32_t greenBits = 0;
  int32_t blueBits = 0;

  bool Paletted() const { return indices != nullptr && palette != nullptr; }
  bool HasPixels() const { return pixels32 != nullptr || pixels16 != nullptr; }
};

// The description of a content texture record.
OvImageDesc OvImageFromRecord(const OvTextureRecord& record);

// Which formats the device takes; the texture builder asks through this so
// tests can narrow the answer.
class OvTexFormatSupport {
 public:
  virtual ~OvTexFormatSupport() = default;
  virtual bool Supports(OvTexFormat format) const = 0;
};

struct OvTexFormatChoice {
  bool ok = false;
  OvTexFormat format = OvTexFormat::A8R8G8B8;
  OvPixelMode mode = OvPixelMode::Copy;
};

// The format choice with its fall-backs. Every refused candidate is traced
// as a failed format check.
OvTexFormatChoice OvChooseTexFormat(const OvImageDesc& image, const OvTexFormatSupport& support);

// A scratch surface in a table format: rows without gaps.
struct OvSurface : OvAllocated {
  OvTexFormat format = OvTexFormat::A8R8G8B8;
  int32_t width = 0;
  int32_t height = 0;
  int32_t pitch = 0;  // bytes per row
  uint8_t* bits = nullptr;

  ~OvSurface();
  static OvSurface* Create(OvTexFormat format, int32_t width, int32_t height);
};

// Writes width x height pixels of the image into the surface by the mode.
// False when the image lacks the data the mode needs.
bool OvWritePixels(OvSurface& surface, const OvImageDesc& image, OvPixelMode mode);

// Mip levels of a full chain for this size (1 for 1 x 1).
int OvMipLevelCount(int32_t width, int32_t height);
// The next level of a surface: half size (at least 1) by a 2 x 2 box filter
// over each channel field, rounded; an odd last row or column is reused.
OvSurface* OvHalveSurface(const OvSurface& src);

// Software 2 x 2 reduction of a 32-bit image (memo thumbnails): each output
// byte = sum of the four input bytes of its channel >> 2. dst holds
// (width / 2) x (height / 2) words.
void HalveImage32(uint32_t* dst, const uint32_t* src, int32_t width, int32_t height);

// Decodes one scratch-surface pixel to ARGB 8888 (for read-back and tests).
uint32_t OvSurfacePixelARGB(const OvSurface& surface, int32_t x, int32_t y);

// The builder bound to the renderer: the chosen format and size, the scratch
// surface and its pixel pointer.
class OvTextureBuilder : public OvAllocated, public OvTexFormatSupport {
 public:
  explicit OvTextureBuilder(OvRendererGL* renderer) : m_renderer(renderer) {}
  ~OvTextureBuilder() override;
  OvTextureBuilder(const OvTextureBuilder&) = delete;
  OvTextureBuilder& operator=(const OvTextureBuilder&) = delete;

  // The device's format caps.
  bool Supports(OvTexFormat format) const override;
  // Never: palettes are expanded.
  bool PalettedFormatsSupported() const { return false; }
  // The table lookup with the device check; remembers the format.
  bool ChannelFormatSupported(int alpha, int red, int green, int blue);
  bool CreateSurface(int32_t width, int32_t height);
  uint8_t* LockedPixels() const { return m_surface ? m_surface->bits : nullptr; }
  OvSurface* Surface() const { return m_surface; }
  // Makes the device texture from the scratch surface and drops the surface.
  OvGLTexture* Finish();
  // After the last texture of a batch: frees the scratch surface.
  void EndBuilding();

  OvRendererGL* Renderer() const { return m_renderer; }
  OvTexFormat Format() const { return m_format; }

 private:
  OvRendererGL* m_renderer;
  OvTexFormat m_format = OvTexFormat::A8R8G8B8;
  OvSurface* m_surface = nullptr;
};

// The single entry for images: format choice, conversion, device texture.
// Null (with the trace lines) when no format fits or the device fails.
OvGLTexture* LoadTexture(const OvImageDesc& image, OvTextureBuilder& builder);

// The mipmap step: a texture of the surface's format and size with one level
// when "__ov_boDontCreateMipMap" is exactly 1, else the full chain.
OvGLTexture* MakeDeviceTexture(OvRendererGL& renderer, const OvSurface& surface);
