// Particle sets drawn headless: squares, lines and beams with the three
// transparency modes, textured and not, compared with reference pictures.
#include "image_harness.h"
#include "ov_particle_draw.h"

namespace image_test {
namespace {

using ImageParticles = ImageTest;

std::vector<uint32_t> Spot(int size) {
  std::vector<uint32_t> px(size_t(size) * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const float dx = (x + 0.5f) / size - 0.5f, dy = (y + 0.5f) / size - 0.5f;
      const float a = std::max(0.0f, 1.0f - 2.0f * std::sqrt(dx * dx + dy * dy));
      px[size_t(y) * size + x] = (uint32_t(a * 255.0f) << 24) | 0xFFFFFFu;
    }
  return px;
}

void AddParticle(OvParticleSet& set, OvVector pos, OvVector second, uint32_t head, uint32_t tail, float size) {
  OvParticle* p = set.Add();
  ASSERT_NE(p, nullptr);
  *p = {pos, head, tail, size, second, {0, 0, 0}, 0};
}

TEST_F(ImageParticles, SquaresLinesAndBeamsInEachTransparencyMode) {
  OvGLTexture* spot = Texture32(Spot(16), 16, 16);
  ASSERT_NE(spot, nullptr);
  struct Case {
    const char* reference;
    uint32_t type;
    bool textured;
  };
  const Case cases[] = {
      {"particles_square", OV_PARTICLE_SQUARE, true},
      {"particles_line", OV_PARTICLE_LINE, false},
      {"particles_beam", OV_PARTICLE_BEAM, true},
      {"particles_beam_triangle", OV_PARTICLE_BEAM_TRIANGLE, false},
  };
  for (const Case& c : cases) {
    BeginFrame(0xFF203040u, false);
    // One row per transparency mode: none at the top, then blended, then
    // additive; overlapping pairs show how the modes mix.
    const int32_t modes[] = {OV_PARTICLE_OPAQUE, OV_PARTICLE_BLEND, OV_PARTICLE_ADDITIVE};
    std::vector<OvParticleSet*> sets;
    for (int row = 0; row < 3; ++row) {
      auto* set = new OvParticleSet(c.type, c.textured ? spot : nullptr, modes[row]);
      sets.push_back(set);
      const float y = 1.2f - 1.2f * float(row);
      for (int k = 0; k < 3; ++k) {
        const float x = -1.3f + 0.9f * float(k);
        AddParticle(*set, {x, y, 0}, {x + 0.4f, y - 0.3f, 0.5f}, 0x80FF4020u, 0xFF2060FFu, 0.9f);
      }
      set->RecomputeBounds();
      OvDrawParticleSet(R(), *set);
    }
    const Picture p = EndFrame();
    ExpectMatchesReference(p, c.reference);
    for (OvParticleSet* s : sets) delete s;
  }
}

TEST_F(ImageParticles, BufferGrowsWithTheSetAndEmptySetsDrawNothing) {
  OvParticleSet set(OV_PARTICLE_SQUARE, nullptr, OV_PARTICLE_OPAQUE);
  BeginFrame(0xFF000000u, false);
  OvDrawParticleSet(R(), set);  // nothing live: no buffer
  EXPECT_EQ(set.DrawCache(), nullptr);
  for (int i = 0; i < 300; ++i) AddParticle(set, {-1.5f + 0.01f * float(i), 0, 0}, {}, 0xFFFFFFFFu, 0, 0.05f);
  OvDrawParticleSet(R(), set);
  EXPECT_NE(set.DrawCache(), nullptr);
  const Picture p = EndFrame();
  EXPECT_EQ(p.At(kSize / 2, kSize / 2)[0], 255);  // drawn past the first 256 vertices
  EXPECT_EQ(p.At(kSize / 2, 5)[0], 0);
}

}  // namespace
}  // namespace image_test
