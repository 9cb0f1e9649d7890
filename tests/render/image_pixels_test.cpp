// Texture builder on the CPU: format choice with its fall-backs, the pixel
// conversions, scratch surfaces, mip chains and image halving.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "ov_texture_builder.h"
#include "trace_capture.h"

namespace {

class FormatSet : public OvTexFormatSupport {
 public:
  explicit FormatSet(std::set<OvTexFormat> formats) : m_formats(std::move(formats)) {}
  bool Supports(OvTexFormat f) const override { return m_formats.count(f) != 0; }

 private:
  std::set<OvTexFormat> m_formats;
};

OvImageDesc Image32(const uint32_t* pixels, int w, int h, int a, int r, int g, int b) {
  OvImageDesc d;
  d.pixels32 = pixels;
  d.width = w;
  d.height = h;
  d.alphaBits = a, d.redBits = r, d.greenBits = g, d.blueBits = b;
  return d;
}

OvImageDesc Image16(const uint16_t* pixels, int w, int h, int a, int r, int g, int b) {
  OvImageDesc d;
  d.pixels16 = pixels;
  d.width = w;
  d.height = h;
  d.alphaBits = a, d.redBits = r, d.greenBits = g, d.blueBits = b;
  return d;
}

uint16_t Word16(const OvSurface& s, int i) {
  uint16_t v;
  std::memcpy(&v, s.bits + 2 * i, 2);
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// Conversions.

TEST(TexturePixels, ConversionsKeepTheTopBitsOfEachChannel) {
  EXPECT_EQ(OvPixelTo565(0xFFFFFFFFu), 0xFFFF);
  EXPECT_EQ(OvPixelTo565(0x00FF0000u), 0xF800);
  EXPECT_EQ(OvPixelTo565(0x0000FF00u), 0x07E0);
  EXPECT_EQ(OvPixelTo565(0x000000FFu), 0x001F);
  EXPECT_EQ(OvPixelTo565(0x12345678u), ((0x34 >> 3) << 11) | ((0x56 >> 2) << 5) | (0x78 >> 3));

  EXPECT_EQ(OvPixel8888To4444(0x12345678u), 0x1357);
  EXPECT_EQ(OvPixel8888To4444(0xF0A05020u), 0xFA52);

  // The lowest green bit goes, the alpha bit comes.
  EXPECT_EQ(OvPixel565To1555(0xFFFF), 0xFFFF);
  EXPECT_EQ(OvPixel565To1555(0x0020), 0x8000);
  EXPECT_EQ(OvPixel565To1555(0x0040), 0x8020);
  EXPECT_EQ(OvPixel565To1555(0xF800), 0xFC00);
  EXPECT_EQ(OvPixel565To1555(0x001F), 0x801F);
}

TEST(TexturePixels, PaletteIsExpandedThrough565) {
  uint32_t palette[256] = {};
  palette[0] = 0xFFFF0000u;
  palette[7] = 0xFF00FF00u;
  palette[255] = 0x000000FFu;
  const uint8_t indices[4] = {0, 7, 255, 7};
  OvImageDesc d;
  d.palette = palette;
  d.indices = indices;
  d.width = 2;
  d.height = 2;
  OvSurface* s = OvSurface::Create(OvTexFormat::R5G6B5, 2, 2);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(OvWritePixels(*s, d, OvPixelMode::Palette565));
  EXPECT_EQ(Word16(*s, 0), 0xF800);
  EXPECT_EQ(Word16(*s, 1), 0x07E0);
  EXPECT_EQ(Word16(*s, 2), 0x001F);
  EXPECT_EQ(Word16(*s, 3), 0x07E0);
  delete s;
}

TEST(TexturePixels, CopiesFitTheSurfaceWord) {
  // 32-bit words lose their top byte in the 3-byte format.
  const uint32_t px[2] = {0x80112233u, 0x7F445566u};
  OvSurface* rgb = OvSurface::Create(OvTexFormat::R8G8B8, 2, 1);
  ASSERT_NE(rgb, nullptr);
  ASSERT_TRUE(OvWritePixels(*rgb, Image32(px, 2, 1, 0, 8, 8, 8), OvPixelMode::Copy));
  const uint8_t expect[6] = {0x33, 0x22, 0x11, 0x66, 0x55, 0x44};
  EXPECT_EQ(std::memcmp(rgb->bits, expect, 6), 0);
  EXPECT_EQ(OvSurfacePixelARGB(*rgb, 1, 0), 0xFF445566u);
  delete rgb;

  // 16-bit words give their low byte to the 1-byte formats.
  const uint16_t small[2] = {0x12E3, 0x001C};
  OvSurface* r332 = OvSurface::Create(OvTexFormat::R3G3B2, 2, 1);
  ASSERT_NE(r332, nullptr);
  ASSERT_TRUE(OvWritePixels(*r332, Image16(small, 2, 1, 0, 3, 3, 2), OvPixelMode::Copy));
  EXPECT_EQ(r332->bits[0], 0xE3);
  EXPECT_EQ(r332->bits[1], 0x1C);
  EXPECT_EQ(OvSurfacePixelARGB(*r332, 0, 0), 0xFFFF00FFu);  // 111 000 11
  delete r332;

  // A mode the image has no data for is refused.
  OvSurface* s = OvSurface::Create(OvTexFormat::A4R4G4B4, 2, 1);
  EXPECT_FALSE(OvWritePixels(*s, Image16(small, 2, 1, 4, 4, 4, 4), OvPixelMode::A8888To4444));
  delete s;
}

// ---------------------------------------------------------------------------
// Format choice.

TEST(TextureFormatChoice, FallBacksInOrder) {
  using F = OvTexFormat;
  using M = OvPixelMode;
  const uint32_t p32 = 0;
  const uint16_t p16 = 0;
  struct Row {
    int a, r, g, b;
    std::set<F> device;
    bool ok;
    F format;
    M mode;
  } rows[] = {
      {8, 8, 8, 8, {F::A8R8G8B8, F::A4R4G4B4}, true, F::A8R8G8B8, M::Copy},
      {255, 8, 8, 8, {F::X8R8G8B8, F::A8R8G8B8}, true, F::X8R8G8B8, M::Copy},
      {8, 8, 8, 8, {F::A4R4G4B4}, true, F::A4R4G4B4, M::A8888To4444},
      {8, 8, 8, 8, {F::R5G6B5}, false, F::A8R8G8B8, M::Copy},  // 8888 never to 565
      {255, 8, 8, 8, {F::R5G6B5}, true, F::R5G6B5, M::X888To565},
      {255, 8, 8, 8, {F::A4R4G4B4}, false, F::A8R8G8B8, M::Copy},
      {0, 5, 6, 5, {F::X1R5G5B5, F::A1R5G5B5}, true, F::X1R5G5B5, M::R565To1555},
      {0, 5, 6, 5, {F::A1R5G5B5}, true, F::A1R5G5B5, M::R565To1555},
      {0, 5, 6, 5, {F::A4R4G4B4}, false, F::A8R8G8B8, M::Copy},
      {2, 5, 5, 5, {F::A1R5G5B5}, false, F::A8R8G8B8, M::Copy},  // not in the table
      {0, 3, 3, 2, {F::R3G3B2}, true, F::R3G3B2, M::Copy},
  };
  for (const Row& row : rows) {
    FormatSet device(row.device);
    const bool wide = row.r + row.g + row.b >= 17;
    const OvImageDesc d =
        wide ? Image32(&p32, 1, 1, row.a, row.r, row.g, row.b) : Image16(&p16, 1, 1, row.a, row.r, row.g, row.b);
    const OvTexFormatChoice c = OvChooseTexFormat(d, device);
    SCOPED_TRACE(testing::Message() << row.a << "/" << row.r << "/" << row.g << "/" << row.b);
    EXPECT_EQ(c.ok, row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(c.format, row.format);
    EXPECT_EQ(c.mode, row.mode);
  }
}

TEST(TextureFormatChoice, RefusedCandidatesAreTraced) {
  TraceCapture trace;
  uint32_t px = 0;
  EXPECT_TRUE(OvChooseTexFormat(Image32(&px, 1, 1, 8, 8, 8, 8), FormatSet({OvTexFormat::A4R4G4B4})).ok);
  EXPECT_TRUE(trace.Contains("!!! CheckDeviceFormat() failed! -- A8R8G8B8\n")) << trace.Text();
}

TEST(TextureFormatChoice, PalettedNeeds565AndWinsOverPixels) {
  uint32_t palette[256] = {};
  uint8_t index = 0;
  uint32_t px = 0;
  OvImageDesc d = Image32(&px, 1, 1, 8, 8, 8, 8);
  d.palette = palette;
  d.indices = &index;
  OvTexFormatChoice c = OvChooseTexFormat(d, FormatSet({OvTexFormat::R5G6B5, OvTexFormat::A8R8G8B8}));
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.format, OvTexFormat::R5G6B5);
  EXPECT_EQ(c.mode, OvPixelMode::Palette565);
  EXPECT_FALSE(OvChooseTexFormat(d, FormatSet({OvTexFormat::A8R8G8B8, OvTexFormat::X1R5G5B5})).ok);
  // No data, or no size: nothing to make.
  d.palette = nullptr;
  d.pixels32 = nullptr;
  EXPECT_FALSE(OvChooseTexFormat(d, FormatSet({OvTexFormat::A8R8G8B8})).ok);
  EXPECT_FALSE(OvChooseTexFormat(Image32(&px, 0, 4, 8, 8, 8, 8), FormatSet({OvTexFormat::A8R8G8B8})).ok);
}

TEST(TextureFormatChoice, TableOrderAndSizes) {
  ASSERT_NE(OvFindTexFormat(255, 8, 8, 8), nullptr);
  EXPECT_EQ(OvFindTexFormat(255, 8, 8, 8)->format, OvTexFormat::X8R8G8B8);
  EXPECT_EQ(OvFindTexFormat(8, 3, 3, 2)->format, OvTexFormat::A8R3G3B2);
  EXPECT_EQ(OvFindTexFormat(0, 4, 4, 4)->format, OvTexFormat::X4R4G4B4);
  EXPECT_EQ(OvFindTexFormat(8, 0, 0, 0)->bytesPerPixel, 1);
  EXPECT_EQ(OvTexFormatInfo(OvTexFormat::R8G8B8).bytesPerPixel, 3);
  EXPECT_EQ(OvFindTexFormat(8, 8, 8, 7), nullptr);
  // Scratch surfaces are what the device uploads.
  for (int f = 0; f < OV_TEX_FORMAT_COUNT; ++f)
    EXPECT_EQ(OvTexFormatInfo(OvTexFormat(f)).bytesPerPixel, OvTexFormatBytes(OvTexFormat(f))) << f;
}

// ---------------------------------------------------------------------------
// Mip levels and halving.

TEST(TextureMips, LevelCounts) {
  EXPECT_EQ(OvMipLevelCount(1, 1), 1);
  EXPECT_EQ(OvMipLevelCount(2, 2), 2);
  EXPECT_EQ(OvMipLevelCount(256, 256), 9);
  EXPECT_EQ(OvMipLevelCount(256, 4), 9);
  EXPECT_EQ(OvMipLevelCount(5, 3), 3);  // 5x3, 2x1, 1x1
  EXPECT_EQ(OvMipLevelCount(128, 128), 8);
}

TEST(TextureMips, BoxFilterAveragesEachField) {
  OvSurface* s = OvSurface::Create(OvTexFormat::A4R4G4B4, 2, 2);
  ASSERT_NE(s, nullptr);
  const uint16_t px[4] = {0xF000, 0x0F00, 0x00F0, 0x000F};
  std::memcpy(s->bits, px, 8);
  OvSurface* h = OvHalveSurface(*s);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->width, 1);
  EXPECT_EQ(h->height, 1);
  // Each field: 15 / 4 = 3.75, rounded to 4; no carry into the next field.
  EXPECT_EQ(Word16(*h, 0), 0x4444);
  delete h;
  delete s;

  OvSurface* wide = OvSurface::Create(OvTexFormat::A8R8G8B8, 4, 1);
  const uint32_t row[4] = {0xFF000000u, 0xFF0000FFu, 0x00FFFFFFu, 0x00FFFFFFu};
  std::memcpy(wide->bits, row, 16);
  h = OvHalveSurface(*wide);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->width, 2);
  EXPECT_EQ(h->height, 1);
  uint32_t out[2];
  std::memcpy(out, h->bits, 8);
  EXPECT_EQ(out[0], 0xFF000080u);  // (0 + 255 + 2) / 4 twice: 128
  EXPECT_EQ(out[1], 0x00FFFFFFu);
  delete h;
  delete wide;
}

TEST(TextureMips, HalveImage32TruncatesTheSum) {
  const uint32_t src[8] = {0x01020304u, 0x01020304u, 0xFFFFFFFFu, 0x00000000u,
                           0x01020304u, 0x02030405u, 0xFFFFFFFFu, 0xFFFFFFFFu};
  uint32_t dst[2] = {};
  HalveImage32(dst, src, 4, 2);
  // (1+1+1+2)>>2 = 1, (2+2+2+3)>>2 = 2, (3+3+3+4)>>2 = 3, (4+4+4+5)>>2 = 4.
  EXPECT_EQ(dst[0], 0x01020304u);
  EXPECT_EQ(dst[1], 0xBFBFBFBFu);  // 765 >> 2 = 191
}

TEST(TextureMips, DecodedPixelsExpandEachField) {
  OvSurface* s = OvSurface::Create(OvTexFormat::A1R5G5B5, 1, 1);
  const uint16_t px = 0x7C00;  // red, no alpha
  std::memcpy(s->bits, &px, 2);
  EXPECT_EQ(OvSurfacePixelARGB(*s, 0, 0), 0x00FF0000u);
  delete s;
  s = OvSurface::Create(OvTexFormat::X1R5G5B5, 1, 1);
  std::memcpy(s->bits, &px, 2);
  EXPECT_EQ(OvSurfacePixelARGB(*s, 0, 0), 0xFFFF0000u);
  delete s;
  s = OvSurface::Create(OvTexFormat::A8, 1, 1);
  s->bits[0] = 0x80;
  EXPECT_EQ(OvSurfacePixelARGB(*s, 0, 0), 0x80000000u);
  delete s;
}
