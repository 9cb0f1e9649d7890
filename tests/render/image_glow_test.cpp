// The glow effect: a glowing clump gets a halo beyond its silhouette, a plain
// one none, a wall in front hides the glow, and the effect comes back after
// a lost device; the glow colour and range of the node.
#include "image_harness.h"
#include "ov_glow_draw.h"
#include "ov_renderer_gl.h"

namespace image_test {
namespace {

class Glow : public ImageTest {
 protected:
  void TearDown() override {
    for (OvClump* c : m_clumps) c->Release();
    m_clumps.clear();
    ImageTest::TearDown();
  }

  // A white sphere clump of radius 0.6 at (x, 0, z).
  OvClump* Sphere(float x, float z = 0.0f) {
    MeshData& d = NewMesh();
    MakeSphere(d, 12, 16, {x, 0.0f, z}, 0.6f);
    d.Finish(0);
    d.resource = Plan({}, {}, 2);
    return Place(d);
  }
  OvClump* Place(MeshData& d) {
    OvClump* c = OvClump::Create();
    c->SetMesh(&d.mesh);
    OvMatrix identity;
    OvMatrixIdentity(identity);
    c->SetToWorldMatrix(identity);
    m_clumps.push_back(c);
    return c;
  }
  void DrawClumps() {
    for (OvClump* c : m_clumps) {
      R().SetWorldMatrix(c->GetToWorldMatrix());
      OvDrawMesh(R(), *c->GetMesh());
    }
  }

  std::vector<OvClump*> m_clumps;
};

// Red of the pixel at x on the row through the centre.
int RedAt(const Picture& p, int x) { return p.At(x, kSize / 2)[0]; }

TEST_F(Glow, AGlowingClumpShinesBeyondItsSilhouetteAndAPlainOneDoesNot) {
  OvClump* glowing = Sphere(-1.0f);
  Sphere(1.0f);
  OvGlowNode node;
  node.colour = 0xFFFF2000u;
  node.multiplier = 16.0f;
  node.range = 3;
  ASSERT_TRUE(OvDrawGlow(R(), nullptr, 0, nullptr) == false);

  BeginFrame(0xFF102030u);
  DrawClumps();
  const Picture plain = EndFrame();
  BeginFrame(0xFF102030u);
  DrawClumps();
  const OvGlowItem item{glowing, &node};
  ASSERT_TRUE(OvDrawGlow(R(), &item, 1, nullptr));
  EXPECT_EQ(R().CachedRenderState(RS_ALPHABLENDENABLE), 0u);  // given back
  EXPECT_EQ(R().CachedRenderState(RS_ZWRITEENABLE), 1u);
  EXPECT_EQ(R().RenderTarget(), nullptr);
  const Picture p = EndFrame();

  // The spheres' outer edges on the centre row of the plain frame (the
  // background's red is 16, the spheres' 32).
  int leftEdge = 0, rightEdge = kSize - 1;
  while (leftEdge < kSize / 2 && RedAt(plain, leftEdge) < 24) ++leftEdge;
  while (rightEdge > kSize / 2 && RedAt(plain, rightEdge) < 24) --rightEdge;
  ASSERT_GT(leftEdge, 4);
  ASSERT_LT(rightEdge, kSize - 5);
  EXPECT_GT(RedAt(p, leftEdge - 2), 60) << "no halo: the blur is missing";
  EXPECT_LT(p.At(leftEdge - 2, kSize / 2)[2], plain.At(leftEdge - 2, kSize / 2)[2] + 8) << "a red halo";
  EXPECT_EQ(RedAt(p, rightEdge + 1), RedAt(plain, rightEdge + 1));
  EXPECT_EQ(RedAt(p, 68), RedAt(plain, 68));
  // Far from the glow the frame is untouched: the glow is added, not drawn over.
  EXPECT_EQ(p.At(2, 2)[2], plain.At(2, 2)[2]);
  EXPECT_EQ(p.At(kSize - 3, kSize - 3)[1], plain.At(kSize - 3, kSize - 3)[1]);
  // Inside the glowing sphere the glow adds to what was there.
  EXPECT_GE(RedAt(p, 28), RedAt(plain, 28));
  ExpectMatchesReference(p, "glow_halo", 8, 16);
}

TEST_F(Glow, AClumpInFrontHidesTheGlowBehindIt) {
  OvClump* glowing = Sphere(0.0f, 1.0f);
  MeshData& wall = NewMesh();
  MakeGrid(wall, 1, -3, -3, 0, 3, -1.0f);  // covers the left half, in front
  wall.Finish(0);
  wall.resource = Plan({}, {}, 2);
  OvClump* front = Place(wall);
  OvRenderItem occluders[2] = {{front, &occluders[1]}, {glowing, nullptr}};
  OvGlowNode node;
  node.multiplier = 16.0f;
  BeginFrame(0xFF000000u);
  DrawClumps();
  const Picture plain = EndFrame();
  BeginFrame(0xFF000000u);
  DrawClumps();
  const OvGlowItem item{glowing, &node};
  ASSERT_TRUE(OvDrawGlow(R(), &item, 1, occluders));
  const Picture p = EndFrame();
  // Behind the wall (left of the centre) the frame is as before; the
  // visible right half glows.
  EXPECT_EQ(p.At(kSize / 2 - 6, kSize / 2)[0], plain.At(kSize / 2 - 6, kSize / 2)[0]);
  EXPECT_GT(p.At(kSize / 2 + 6, kSize / 2)[0], plain.At(kSize / 2 + 6, kSize / 2)[0]);
}

// Fog fades the glow as it fades the clump, and never adds the fog colour:
// a glow deep in fog adds nothing. The scene's fog comes back afterwards.
TEST_F(Glow, FogFadesTheGlowAndAddsNoFogColour) {
  OvClump* glowing = Sphere(0.0f);
  OvGlowNode node;
  node.colour = 0xFFFF2000u;
  node.multiplier = 16.0f;
  node.range = 3;
  const OvGlowItem item{glowing, &node};
  const struct {
    bool fog;
    float start, end;
    int redMin, redMax;  // red added just outside the silhouette
  } cases[] = {{false, 0, 0, 30, 255}, {true, 2.0f, 8.0f, 8, 255}, {true, 1.0f, 3.0f, 0, 2}};
  int unfogged = 0;
  for (const auto& c : cases) {
    Picture frames[2];
    for (int glow = 0; glow < 2; ++glow) {
      BeginFrame(0xFF102030u);
      R().EnableFog(c.fog);
      R().SetFogColour(0xFF0000FFu);
      if (c.fog) R().SetFogRange(c.start, c.end, R().ProjectionMatrix());
      DrawClumps();
      if (glow) {
        ASSERT_TRUE(OvDrawGlow(R(), &item, 1, nullptr));
        EXPECT_EQ(R().CachedRenderState(RS_FOGENABLE), c.fog ? 1u : 0u);
        EXPECT_EQ(R().FogColour(), 0xFF0000FFu);
      }
      frames[glow] = EndFrame();
    }
    const uint8_t* plain = frames[0].At(kSize / 2 - 14, kSize / 2);
    const uint8_t* lit = frames[1].At(kSize / 2 - 14, kSize / 2);
    const int red = int(lit[0]) - int(plain[0]);
    EXPECT_GE(red, c.redMin) << c.start << " " << c.end;
    EXPECT_LE(red, c.redMax) << c.start << " " << c.end;
    EXPECT_LE(int(lit[2]) - int(plain[2]), 2) << c.start << " " << c.end << ": fog colour in the glow";
    if (!c.fog) unfogged = red;
    if (c.fog && c.redMax > 2) {
      EXPECT_LT(red, unfogged) << "fog does not fade the glow";
    }
  }
}

TEST_F(Glow, PartialMeshGlowsOnlyItsSubset) {
  struct Case {
    int32_t subset;
    bool left, right, drawn;
  };
  const Case cases[] = {
      {-1, true, true, true}, {0, true, false, true}, {1, false, true, true}, {2, false, false, false}};
  // Two quads side by side, one subset each.
  MeshData& d = NewMesh();
  MakeGrid(d, 1, -2.5f, -1, -0.5f, 1);
  MakeGrid(d, 1, 0.5f, -1, 2.5f, 1);
  d.Finish(0);
  d.resource = Plan({}, {}, 2);
  static OvMaterial materials[2] = {d.material, d.material};
  static void* resources[2];
  static int32_t shaders[2] = {0, 0};
  static uint32_t ranges[4] = {0, 2, 2, 2};
  resources[0] = resources[1] = d.resource;
  d.mesh.subsetCount = 2, d.mesh.materials = materials, d.mesh.resources = resources;
  d.mesh.shaderIndices = shaders, d.mesh.ranges = ranges;
  OvClump* quads = Place(d);
  for (const Case& c : cases) {
    OvGlowNode node;
    node.multiplier = 16.0f;
    node.colour = 0xFF00FF00u;
    node.subset = c.subset;
    const OvGlowItem item{quads, &node};
    BeginFrame(0xFF000000u);
    EXPECT_EQ(OvDrawGlow(R(), &item, 1, nullptr), c.drawn) << c.subset;
    const Picture p = EndFrame();
    // The quads themselves are not drawn: only the glow shows where each is.
    EXPECT_EQ(p.At(kSize / 2 - 18, kSize / 2)[1] > 20, c.left) << c.subset;
    EXPECT_EQ(p.At(kSize / 2 + 18, kSize / 2)[1] > 20, c.right) << c.subset;
  }
}

TEST_F(Glow, TheGlowComesBackAfterALostDevice) {
  OvClump* glowing = Sphere(0.0f);
  OvGlowNode node;
  node.multiplier = 16.0f;
  const OvGlowItem item{glowing, &node};
  BeginFrame(0xFF000000u);
  DrawClumps();
  ASSERT_TRUE(OvDrawGlow(R(), &item, 1, nullptr));
  const Picture before = EndFrame();
  R().SimulateDeviceLost();
  EXPECT_FALSE(OvDrawGlow(R(), &item, 1, nullptr));
  ASSERT_TRUE(R().SimulateDeviceReset());
  BeginFrame(0xFF000000u);
  DrawClumps();
  ASSERT_TRUE(OvDrawGlow(R(), &item, 1, nullptr));
  const Picture after = EndFrame();
  EXPECT_LE(MaxDifference(before, after), 2);
}

TEST(GlowNode, ColourScalesByAMultiplierOverSixteenAndRangePicksASize) {
  struct Case {
    uint32_t colour;
    float multiplier;
    uint32_t glow;
  };
  const Case cases[] = {
      {0xFFFFFFFFu, 1.0f, 0xFF0F0F0Fu},   // the default: a sixteenth
      {0x80102030u, 16.0f, 0x80102030u},  // 16: as given, alpha kept
      {0xFF406080u, 32.0f, 0xFF80C0FFu},  // clamped at 255
      {0xFF406080u, -1.0f, 0xFF406080u},  // negative: unchanged
      {0xFF406080u, 0.0f, 0xFF000000u},
  };
  for (const Case& c : cases) EXPECT_EQ(OvGlowColour(c.colour, c.multiplier), c.glow) << c.multiplier;
  EXPECT_EQ(OvGlowSpread(-5), OvGlowSpread(0));
  EXPECT_EQ(OvGlowSpread(99), OvGlowSpread(OV_GLOW_RANGE_COUNT - 1));
  EXPECT_LT(OvGlowSpread(1), OvGlowSpread(2));
}

}  // namespace
}  // namespace image_test
