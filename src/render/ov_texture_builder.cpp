#include "ov_texture_builder.h"

#include <cstring>
#include <new>

#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_texture.h"
#include "ov_trace.h"

namespace {

// Search order of the format table.
constexpr OvTexFormatEntry kFormats[] = {
    {255, 8, 8, 8, OvTexFormat::X8R8G8B8, 4, "X8R8G8B8"},
    {8, 8, 8, 8, OvTexFormat::A8R8G8B8, 4, "A8R8G8B8"},
    {0, 8, 8, 8, OvTexFormat::R8G8B8, 3, "R8G8B8"},
    {0, 5, 6, 5, OvTexFormat::R5G6B5, 2, "R5G6B5"},
    {0, 5, 5, 5, OvTexFormat::X1R5G5B5, 2, "X1R5G5B5"},
    {1, 5, 5, 5, OvTexFormat::A1R5G5B5, 2, "A1R5G5B5"},
    {4, 4, 4, 4, OvTexFormat::A4R4G4B4, 2, "A4R4G4B4"},
    {0, 3, 3, 2, OvTexFormat::R3G3B2, 1, "R3G3B2"},
    {8, 0, 0, 0, OvTexFormat::A8, 1, "A8"},
    {8, 3, 3, 2, OvTexFormat::A8R3G3B2, 2, "A8R3G3B2"},
    {0, 4, 4, 4, OvTexFormat::X4R4G4B4, 2, "X4R4G4B4"},
};
static_assert(sizeof(kFormats) / sizeof(kFormats[0]) == OV_TEX_FORMAT_COUNT);

// Channel fields of one pixel word: shift and width of alpha, red, green,
// blue (width 0: absent). `xAlpha`: the alpha field carries no alpha.
struct Layout {
  uint8_t shift[4];
  uint8_t bits[4];
  bool xAlpha;
};

Layout LayoutOf(OvTexFormat f) {
  switch (f) {
    case OvTexFormat::X8R8G8B8: return {{24, 16, 8, 0}, {8, 8, 8, 8}, true};
    case OvTexFormat::A8R8G8B8: return {{24, 16, 8, 0}, {8, 8, 8, 8}, false};
    case OvTexFormat::R8G8B8: return {{0, 16, 8, 0}, {0, 8, 8, 8}, true};
    case OvTexFormat::R5G6B5: return {{0, 11, 5, 0}, {0, 5, 6, 5}, true};
    case OvTexFormat::X1R5G5B5: return {{15, 10, 5, 0}, {1, 5, 5, 5}, true};
    case OvTexFormat::A1R5G5B5: return {{15, 10, 5, 0}, {1, 5, 5, 5}, false};
    case OvTexFormat::A4R4G4B4: return {{12, 8, 4, 0}, {4, 4, 4, 4}, false};
    case OvTexFormat::R3G3B2: return {{0, 5, 2, 0}, {0, 3, 3, 2}, true};
    case OvTexFormat::A8: return {{0, 0, 0, 0}, {8, 0, 0, 0}, false};
    case OvTexFormat::A8R3G3B2: return {{8, 5, 2, 0}, {8, 3, 3, 2}, false};
    case OvTexFormat::X4R4G4B4: return {{12, 8, 4, 0}, {4, 4, 4, 4}, true};
    case OvTexFormat::Count: break;
  }
  return {{24, 16, 8, 0}, {8, 8, 8, 8}, false};
}

uint32_t ReadWord(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1: return p[0];
    case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    case 3: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
}

void WriteWord(uint8_t* p, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t Expand(uint32_t v, int bits) {
  if (bits <= 0) return 0;
  if (bits >= 8) return v & 0xFF;
  const uint32_t max = (1u << bits) - 1;
  return (v * 255 + max / 2) / max;
}

bool TryFormat(const OvTexFormatSupport& support, int a, int r, int g, int b, OvTexFormat& out) {
  const OvTexFormatEntry* entry = OvFindTexFormat(a, r, g, b);
  if (!entry) return false;
  if (!support.Supports(entry->format)) {
    _TraceFormat("!!! %s -- %s\n", "CheckDeviceFormat() failed!", entry->name);
    return false;
  }
  out = entry->format;
  return true;
}

}  // namespace

const OvTexFormatEntry* OvFindTexFormat(int alpha, int red, int green, int blue) {
  for (const OvTexFormatEntry& e : kFormats) {
    if (e.alpha == alpha && e.red == red && e.green == green && e.blue == blue) return &e;
  }
  return nullptr;
}

const OvTexFormatEntry& OvTexFormatInfo(OvTexFormat format) {
  const int i = int(format);
  return kFormats[i >= 0 && i < OV_TEX_FORMAT_COUNT ? i : 1];
}

OvImageDesc OvImageFromRecord(const OvTextureRecord& record) {
  OvImageDesc d;
  d.width = record.width;
  d.height = record.height;
  d.alphaBits = record.alphaBits;
  d.redBits = record.redBits;
  d.greenBits = record.greenBits;
  d.blueBits = record.blueBits;
  if (record.paletteBits != 0 && record.palette) {
    d.palette = record.PaletteColors();
    d.indices = record.PaletteIndices();
    d.indexBits = record.paletteBits;
  }
  d.pixels16 = record.pixels16;
  d.pixels32 = record.pixels32;
  return d;
}

OvTexFormatChoice OvChooseTexFormat(const OvImageDesc& image, const OvTexFormatSupport& support) {
  OvTexFormatChoice c;
  if (image.width <= 0 || image.height <= 0) return c;
  if (image.Paletted()) {
    // Only 8-bit indices can be expanded through a 256-entry palette.
    if (image.indexBits != 8) return c;
    c.ok = TryFormat(support, 0, 5, 6, 5, c.format);
    c.mode = OvPixelMode::Palette565;
    return c;
  }
  if (!image.HasPixels()) return c;
  const int a = image.alphaBits, r = image.redBits, g = image.greenBits, b = image.blueBits;
  if (TryFormat(support, a, r, g, b, c.format)) {
    c.ok = true;
    c.mode = OvPixelMode::Copy;
    return c;
  }
  if (a == 8 && r == 8 && g == 8 && b == 8) {
    if (TryFormat(support, 4, 4, 4, 4, c.format)) {
      c.ok = true;
      c.mode = OvPixelMode::A8888To4444;
      return c;
    }
  }
  if (a == 255 && r == 8 && g == 8 && b == 8) {
    if (TryFormat(support, 0, 5, 6, 5, c.format)) {
      c.ok = true;
      c.mode = OvPixelMode::X888To565;
      return c;
    }
  }
  if (a == 0 && r == 5 && g == 6 && b == 5) {
    if (TryFormat(support, 0, 5, 5, 5, c.format) || TryFormat(support, 1, 5, 5, 5, c.format)) {
      c.ok = true;
      c.mode = OvPixelMode::R565To1555;
      return c;
    }
  }
  return c;
}

// ---------------------------------------------------------------------------
// Scratch surfaces.

OvSurface::~OvSurface() { OvMFree(bits); }

OvSurface* OvSurface::Create(OvTexFormat format, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > 65536 || height > 65536) return nullptr;
  OvSurface* s = new OvSurface;
  if (!s) return nullptr;
  s->format = format;
  s->width = width;
  s->height = height;
  s->pitch = width * OvTexFormatInfo(format).bytesPerPixel;
  const size_t bytes = size_t(s->pitch) * size_t(height);
  s->bits = static_cast<uint8_t*>(AllocMem(bytes));
  if (!s->bits) {
    delete s;
    return nullptr;
  }
  std::memset(s->bits, 0, bytes);
  return s;
}

bool OvWritePixels(OvSurface& surface, const OvImageDesc& image, OvPixelMode mode) {
  const int bpp = OvTexFormatInfo(surface.format).bytesPerPixel;
  const size_t count = size_t(surface.width) * size_t(surface.height);
  if (image.width != surface.width || image.height != surface.height) return false;
  uint8_t* out = surface.bits;
  switch (mode) {
    case OvPixelMode::Palette565: {
      if (!image.Paletted() || bpp != 2) return false;
      uint16_t converted[256];
      for (int i = 0; i < 256; ++i) converted[i] = OvPixelTo565(image.palette[i]);
      for (size_t i = 0; i < count; ++i) WriteWord(out + 2 * i, 2, converted[image.indices[i]]);
      return true;
    }
    case OvPixelMode::A8888To4444:
      if (!image.pixels32 || bpp != 2) return false;
      for (size_t i = 0; i < count; ++i) WriteWord(out + 2 * i, 2, OvPixel8888To4444(image.pixels32[i]));
      return true;
    case OvPixelMode::X888To565:
      if (!image.pixels32 || bpp != 2) return false;
      for (size_t i = 0; i < count; ++i) WriteWord(out + 2 * i, 2, OvPixelTo565(image.pixels32[i]));
      return true;
    case OvPixelMode::R565To1555:
      if (!image.pixels16 || bpp != 2) return false;
      for (size_t i = 0; i < count; ++i) WriteWord(out + 2 * i, 2, OvPixel565To1555(image.pixels16[i]));
      return true;
    case OvPixelMode::Copy: break;
  }
  // Copies: 32-bit words go to 4-byte formats whole and to the 3-byte format
  // without their top byte; 16-bit words go to 2-byte formats whole and to
  // the 1-byte formats as their low byte (channels are packed from bit 0).
  if (image.pixels32 && bpp >= 3) {
    for (size_t i = 0; i < count; ++i) WriteWord(out + bpp * i, bpp, image.pixels32[i]);
    return true;
  }
  if (image.pixels16 && bpp <= 2) {
    for (size_t i = 0; i < count; ++i) WriteWord(out + bpp * i, bpp, image.pixels16[i]);
    return true;
  }
  return false;
}

uint32_t OvSurfacePixelARGB(const OvSurface& s, int32_t x, int32_t y) {
  const int bpp = OvTexFormatInfo(s.format).bytesPerPixel;
  const uint32_t w = ReadWord(s.bits + size_t(y) * s.pitch + size_t(x) * bpp, bpp);
  const Layout l = LayoutOf(s.format);
  uint32_t ch[4];
  for (int i = 0; i < 4; ++i) ch[i] = Expand((w >> l.shift[i]) & ((1u << l.bits[i]) - 1), l.bits[i]);
  if (l.xAlpha || l.bits[0] == 0) ch[0] = 255;
  return ch[0] << 24 | ch[1] << 16 | ch[2] << 8 | ch[3];
}

int OvMipLevelCount(int32_t width, int32_t height) {
  int levels = 1;
  while (width > 1 || height > 1) {
    width = width > 1 ? width / 2 : 1;
    height = height > 1 ? height / 2 : 1;
    ++levels;
  }
  return levels;
}

OvSurface* OvHalveSurface(const OvSurface& src) {
  const int32_t w = src.width > 1 ? src.width / 2 : 1;
  const int32_t h = src.height > 1 ? src.height / 2 : 1;
  OvSurface* dst = OvSurface::Create(src.format, w, h);
  if (!dst) return nullptr;
  const int bpp = OvTexFormatInfo(src.format).bytesPerPixel;
  const Layout l = LayoutOf(src.format);
  for (int32_t y = 0; y < h; ++y) {
    const int32_t y0 = 2 * y < src.height ? 2 * y : src.height - 1;
    const int32_t y1 = y0 + 1 < src.height ? y0 + 1 : y0;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t x0 = 2 * x < src.width ? 2 * x : src.width - 1;
      const int32_t x1 = x0 + 1 < src.width ? x0 + 1 : x0;
      const uint32_t p[4] = {
          ReadWord(src.bits + size_t(y0) * src.pitch + size_t(x0) * bpp, bpp),
          ReadWord(src.bits + size_t(y0) * src.pitch + size_t(x1) * bpp, bpp),
          ReadWord(src.bits + size_t(y1) * src.pitch + size_t(x0) * bpp, bpp),
          ReadWord(src.bits + size_t(y1) * src.pitch + size_t(x1) * bpp, bpp),
      };
      uint32_t out = 0;
      for (int c = 0; c < 4; ++c) {
        if (l.bits[c] == 0) continue;
        const uint32_t mask = (1u << l.bits[c]) - 1;
        uint32_t sum = 0;
        for (uint32_t v : p) sum += (v >> l.shift[c]) & mask;
        out |= ((sum + 2) >> 2) << l.shift[c];
      }
      WriteWord(dst->bits + size_t(y) * dst->pitch + size_t(x) * bpp, bpp, out);
    }
  }
  return dst;
}

void HalveImage32(uint32_t* dst, const uint32_t* src, int32_t width, int32_t height) {
  const int32_t w = width / 2, h = height / 2;
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* r0 = src + size_t(2 * y) * width;
    const uint32_t* r1 = r0 + width;
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t a = r0[2 * x], b = r0[2 * x + 1], c = r1[2 * x], d = r1[2 * x + 1];
      uint32_t out = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t sum =
            ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF) + ((d >> shift) & 0xFF);
        out |= (sum >> 2) << shift;
      }
      dst[size_t(y) * w + x] = out;
    }
  }
}

// ---------------------------------------------------------------------------
// The builder and the device texture.

OvTextureBuilder::~OvTextureBuilder() { delete m_surface; }

bool OvTextureBuilder::Supports(OvTexFormat format) const {
  const int i = int(format);
  return m_renderer && i >= 0 && i < OV_TEX_FORMAT_COUNT && m_renderer->Caps().textureFormat[i];
}

bool OvTextureBuilder::ChannelFormatSupported(int alpha, int red, int green, int blue) {
  const OvTexFormatEntry* entry = OvFindTexFormat(alpha, red, green, blue);
  if (!entry) return false;
  if (!Supports(entry->format)) {
    _TraceFormat("!!! %s -- %s\n", "CheckDeviceFormat() failed!", entry->name);
    return false;
  }
  m_format = entry->format;
  return true;
}

bool OvTextureBuilder::CreateSurface(int32_t width, int32_t height) {
  delete m_surface;
  m_surface = OvSurface::Create(m_format, width, height);
  return m_surface != nullptr;
}

OvGLTexture* OvTextureBuilder::Finish() {
  if (!m_surface || !m_renderer) return nullptr;
  OvGLTexture* texture = MakeDeviceTexture(*m_renderer, *m_surface);
  delete m_surface;
  m_surface = nullptr;
  return texture;
}

void OvTextureBuilder::EndBuilding() {
  delete m_surface;
  m_surface = nullptr;
}

OvGLTexture* LoadTexture(const OvImageDesc& image, OvTextureBuilder& builder) {
  const OvTexFormatChoice choice = OvChooseTexFormat(image, builder);
  if (!choice.ok) return nullptr;
  const OvTexFormatEntry& entry = OvTexFormatInfo(choice.format);
  if (!builder.ChannelFormatSupported(entry.alpha, entry.red, entry.green, entry.blue)) return nullptr;
  if (!builder.CreateSurface(image.width, image.height)) {
    Trace("CreateSurface for texture failed.\n");
    return nullptr;
  }
  if (!builder.LockedPixels()) {
    Trace("Lock failed while loading surface (loadtex).\n");
    builder.EndBuilding();
    return nullptr;
  }
  if (!OvWritePixels(*builder.Surface(), image, choice.mode)) {
    builder.EndBuilding();
    return nullptr;
  }
  return builder.Finish();
}

OvGLTexture* MakeDeviceTexture(OvRendererGL& renderer, const OvSurface& surface) {
  const int32_t dontMip = OvRenderSettingInt("__ov_boDontCreateMipMap");
  // Level 0 has the surface's size, so every filter the setting may name
  // gives the same copy.
  (void)OvRenderSettingInt("__ov_iFilterCreateMipMap");
  if (!surface.bits || surface.width <= 0 || surface.height <= 0) {
    _TraceFormat("%s -- %s\n", "GetDesc() failed.", "no surface");
    return nullptr;
  }
  const int levels = dontMip == 1 ? 1 : OvMipLevelCount(surface.width, surface.height);
  void* memory = AllocMem(sizeof(OvGLTexture));
  if (!memory) {
    _TraceFormat("%s -- %s\n", "!!! Create (GL)texture failed.", "out of memory");
    return nullptr;
  }
  OvGLTexture* texture = new (memory) OvGLTexture;
  if (!renderer.CreateTexture(*texture, surface.format, surface.width, surface.height, levels)) {
    _TraceFormat("%s -- %s\n", "!!! Create (GL)texture failed.", "the device refused the texture");
    OvMFree(memory);
    return nullptr;
  }
  if (!renderer.UploadTextureLevel(*texture, 0, surface.bits)) {
    _TraceFormat("%s -- %s\n", "!!! GLXLoadSurfaceFromSurface() failed.", "level 0");
    renderer.DestroyTexture(*texture);
    OvMFree(memory);
    return nullptr;
  }
  const OvSurface* previous = &surface;
  OvSurface* owned = nullptr;
  bool ok = true;
  for (int level = 1; level < levels && ok; ++level) {
    OvSurface* next = OvHalveSurface(*previous);
    ok = next != nullptr && renderer.UploadTextureLevel(*texture, level, next->bits);
    if (!ok) {
      _TraceFormat("%s -- %s\n", "!!! GLXLoadSurfaceFromSurface() failed.", next ? "upload" : "out of memory");
      Trace("!!! Create mipmap texture failed.\n");
    }
    delete owned;
    owned = next;
    previous = next;
  }
  delete owned;
  if (!ok) {
    renderer.DestroyTexture(*texture);
    OvMFree(memory);
    return nullptr;
  }
  return texture;
}
