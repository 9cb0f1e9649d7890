// "{c}Rigid Shadow": the volume a mesh casts (closed, the silhouette's sides
// only, bad triangles left out), and a caster over a floor in a scene: the
// floor is darkened where the shadow falls and nowhere else.
#include <array>
#include <map>
#include <utility>

#include "image_harness.h"
#include "ov_camera.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_shadow_draw.h"
#include "trace_capture.h"

namespace image_test {
namespace {

// A closed box (x0..x1, y0..y1, z0..z1) whose triangles wind the way faces
// seen through a camera clump do: (p1 - p0) x (p2 - p0) points out.
void MakeBox(MeshData& d, OvVector lo, OvVector hi) {
  const uint32_t base = uint32_t(d.positions.size() / 3);
  const OvVector c[8] = {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {lo.x, hi.y, lo.z},
                         {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}};
  if (d.coords.empty()) d.coords.resize(1);
  for (const OvVector& p : c) {
    d.positions.insert(d.positions.end(), {p.x, p.y, p.z});
    const OvVector n = OvSub(p, OvScaled(OvAdd(lo, hi), 0.5f));
    d.normals.insert(d.normals.end(), {n.x, n.y, n.z});
    d.coords[0].insert(d.coords[0].end(), {0.0f, 0.0f});
  }
  const uint32_t quads[6][4] = {{0, 1, 2, 3}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {1, 2, 6, 5}, {3, 0, 4, 7}};
  const OvVector centre = OvScaled(OvAdd(lo, hi), 0.5f);
  for (const auto& q : quads) {
    const std::array<uint32_t, 3> tris[2] = {{q[0], q[1], q[2]}, {q[0], q[2], q[3]}};
    for (const auto& t : tris) {
      uint32_t a = t[0], b = t[1], e = t[2];
      const OvVector n = OvCross(OvSub(c[b], c[a]), OvSub(c[e], c[a]));
      if (OvVectorDotProd(n, OvSub(c[a], centre)) < 0) std::swap(b, e);
      d.indices.insert(d.indices.end(), {base + a, base + b, base + e});
    }
  }
}

// Every directed edge of a closed, consistently wound surface meets its
// reverse exactly once.
bool Closed(const float* p, uint32_t vertices) {
  std::map<std::pair<std::array<float, 3>, std::array<float, 3>>, int> count;
  auto at = [&](uint32_t i) { return std::array<float, 3>{p[3 * i], p[3 * i + 1], p[3 * i + 2]}; };
  for (uint32_t t = 0; t + 2 < vertices; t += 3)
    for (int e = 0; e < 3; ++e) ++count[{at(t + e), at(t + (e + 1) % 3)}];
  for (const auto& [edge, n] : count) {
    auto back = count.find({edge.second, edge.first});
    if (n != 1 || back == count.end() || back->second != 1) return false;
  }
  return true;
}

TEST(ShadowVolume, IsClosedAndHasSidesOnlyAlongTheSilhouette) {
  struct Case {
    const char* name;
    bool box;
    bool split;  // every triangle with vertices of its own
    OvVector dir;
    uint32_t triangles;
  };
  const Case cases[] = {
      {"box lit from above: top, its far copy, four sides", true, false, {0, 0, -1}, 2 + 2 + 4 * 2},
      {"box lit along a diagonal: three faces", true, false, {-1, -1, -1}, 6 + 6 + 6 * 2},
      {"box of separate triangles: corners at one place meet", true, true, {-1, -1, -1}, 6 + 6 + 6 * 2},
      {"quad facing the light: open edges are silhouette", false, false, {0, 0, -1}, 2 + 2 + 4 * 2},
      {"quad facing away: no volume", false, false, {0, 0, 1}, 0},
  };
  for (const Case& c : cases) {
    MeshData d;
    if (c.box) {
      MakeBox(d, {-1, -1, -1}, {1, 1, 1});
      if (c.split) {
        std::vector<float> corners, normals;
        for (uint32_t& i : d.indices) {
          corners.insert(corners.end(), d.positions.begin() + 3 * i, d.positions.begin() + 3 * i + 3);
          normals.insert(normals.end(), d.normals.begin() + 3 * i, d.normals.begin() + 3 * i + 3);
          i = uint32_t(corners.size() / 3 - 1);
        }
        d.positions = corners, d.normals = normals;
        d.coords[0].assign(2 * d.positions.size() / 3, 0.0f);
      }
    } else {
      MakeBox(d, {-1, -1, 1}, {1, 1, 1.5f});
      d.indices.resize(12);  // the box's top: its first two quads are bottom and top
      d.indices.erase(d.indices.begin(), d.indices.begin() + 6);
    }
    d.Finish(1);
    OvShadowVolumeBuilder b;
    const uint32_t n = b.Build(d.mesh, c.dir, 0.01f, 10.0f);
    EXPECT_EQ(n, 3 * c.triangles) << c.name;
    if (n && c.box) {
      EXPECT_TRUE(Closed(b.Positions(), n)) << c.name;
    }
  }
}

TEST(ShadowVolume, BadTrianglesAreLeftOutAndHugeMeshesCastNothing) {
  MeshData d;
  MakeBox(d, {-1, -1, -1}, {1, 1, 1});
  d.Finish(1);
  OvShadowVolumeBuilder b;
  const uint32_t whole = b.Build(d.mesh, {0, 0, -1}, 0.01f, 10.0f);
  ASSERT_GT(whole, 0u);
  MeshData bad;
  MakeBox(bad, {-1, -1, -1}, {1, 1, 1});
  for (uint32_t& i : bad.indices) i = i == 7 ? 1000 : i;  // a top corner
  bad.Finish(1);
  OvShadowVolumeBuilder b2;
  EXPECT_LT(b2.Build(bad.mesh, {0, 0, -1}, 0.01f, 10.0f), whole);
  EXPECT_EQ(b2.Build(bad.mesh, {0, 0, -1}, 0.01f, 0.0f), 0u);

  MeshData huge;
  MakeBox(huge, {-1, -1, -1}, {1, 1, 1});
  const std::vector<uint32_t> top(huge.indices.begin() + 6, huge.indices.begin() + 12);
  while (huge.indices.size() <= 3 * 65536) huge.indices.insert(huge.indices.end(), top.begin(), top.end());
  huge.Finish(1);
  TraceCapture trace;
  OvShadowVolumeBuilder b3;
  EXPECT_EQ(b3.Build(huge.mesh, {0, 0, -1}, 0.01f, 10.0f), 0u);
  EXPECT_TRUE(trace.Contains("casts no shadow"));
}

class ShadowScene : public ImageTest {
 protected:
  void TearDown() override {
    delete m_scene;
    ImageTest::TearDown();
  }

  // Camera 10 above the origin looking down, the sun travelling down and
  // toward +x, a white floor at z = 0 and a blue box from z = 1 to 3.
  void Build(bool shadow) {
    m_scene = new OvScene();
    m_scene->SetRenderer(&R());
    m_scene->SetBackgroundColour(0xFF000000u);
    m_scene->SetPresentAfterFrame(false);
    OvLogObj* o = OvLogObj::Create();
    OvClump* eye = OvClump::Create();
    eye->SetExtension(new OvCamera(1.2f, 1.0f, 100.0f));
    eye->SetPos({0, 0, 10});
    OvClump* sun = OvClump::Create();
    OvLightData l = Light(OV_DEVLIGHT_DIRECTIONAL, {0, 0, 0}, {0.5f, 0, -1}, 1, 1, 1);
    sun->SetExtension(new OvLight(l));
    MeshData& floor = NewMesh();
    MakeGrid(floor, 4, -5, -5, 5, 5, 0.0f);
    floor.Finish(0);
    floor.mesh.flags |= OV_MESH_TWO_SIDED;
    floor.material = {{0, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 1, 1, 0}, 0};
    floor.resource = Plan({}, {}, 2);
    OvClump* ground = OvClump::Create();
    ground->SetMesh(&floor.mesh);
    MeshData& box = NewMesh();
    MakeBox(box, {-1, -1, 1}, {1, 1, 3});
    box.Finish(0);
    box.material = {{0, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0.2f, 0.2f, 1, 0}, 0};
    box.resource = Plan({}, {}, 2);
    m_caster = OvClump::Create();
    m_caster->SetMesh(&box.mesh);
    for (OvClump* c : {eye, sun, ground, m_caster}) o->AppendClumps(c);
    m_scene->AddLogObjs(o);
    eye->CalcToWorldMatrix();
    ASSERT_TRUE(m_scene->UseCamera(eye));
    OvInstallShadowController();
    if (shadow) {
      m_node = OvArenaNew<OvRigidShadowNode>(*m_arena);
      ASSERT_TRUE(m_caster->AddAniCtrl(OvNodeController(m_node, m_caster)));
    }
  }

  Picture Frame() {
    m_scene->FrameStep();
    m_scene->ForceStep(1);
    m_scene->AdvanceTime();
    return EndFrame();
  }

  // The pixel where a world point is drawn.
  std::pair<int, int> Screen(OvVector p) {
    const OvMatrix& m = R().ViewProjMatrix();
    float h[4];
    for (int j = 0; j < 4; ++j) h[j] = p.x * m.m[0][j] + p.y * m.m[1][j] + p.z * m.m[2][j] + m.m[3][j];
    return {int((h[0] / h[3] + 1.0f) * 0.5f * kSize), int((1.0f - h[1] / h[3]) * 0.5f * kSize)};
  }

  OvScene* m_scene = nullptr;
  OvClump* m_caster = nullptr;
  OvRigidShadowNode* m_node = nullptr;
};

TEST_F(ShadowScene, TheFloorIsDarkenedWhereTheShadowFallsAndNowhereElse) {
  Build(false);
  const Picture lit = Frame();
  delete m_scene;
  Build(true);
  Frame();
  const Picture p = Frame();
  // The box's top (z = 3) falls 1.5 along +x, its bottom 0.5: the shadow
  // covers x -0.5 ... 2.5, y -1 ... 1 of the floor, the box hides x < 1.
  struct Spot {
    OvVector at;
    bool shadowed;
  };
  const Spot spots[] = {
      {{2.0f, 0, 0}, true},   {{2.3f, 0.8f, 0}, true},  {{3.0f, 0, 0}, false},
      {{-2.5f, 0, 0}, false}, {{1.8f, 1.6f, 0}, false}, {{0, 0, 3}, false},  // the box's top
  };
  for (const Spot& s : spots) {
    const auto [x, y] = Screen(s.at);
    const uint8_t* before = lit.At(x, y);
    const uint8_t* after = p.At(x, y);
    if (s.shadowed) {
      // Black at alpha 0x60 over white: 255 x (1 - 0x60 / 255).
      EXPECT_NEAR(int(after[0]), 159, 3) << s.at.x << ", " << s.at.y;
    } else {
      EXPECT_EQ(int(after[2]), int(before[2])) << s.at.x << ", " << s.at.y;
    }
  }
  // Nothing changes outside the shadow's rectangle on the floor.
  const auto [left, top] = Screen({-0.6f, 1.1f, 0});
  const auto [right, bottom] = Screen({2.6f, -1.1f, 0});
  int outside = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      if ((x < left || x > right || y < top || y > bottom) && p.At(x, y)[0] != lit.At(x, y)[0]) ++outside;
  EXPECT_EQ(outside, 0);
  ExpectMatchesReference(p, "rigid_shadow", 6, 8);
}

}  // namespace
}  // namespace image_test
