// Cameras (clip rules, view tests, screen-to-world, the stored extension)
// and ray picking with name filters.
#include <gtest/gtest.h>

#include "ov_pick.h"
#include "ov_stream.h"
#include "scene_fixture.h"

namespace {

TEST(Camera, ClipPlaneRules) {
  OvCamera cam(1.0f, 10.0f, 10.0f);
  float n, f;
  cam.GetClipPlane(n, f);
  EXPECT_FLOAT_EQ(f, 10.0001f);
  cam.SetClipPlane(-5.0f, 0.0f);
  cam.GetClipPlane(n, f);
  EXPECT_FLOAT_EQ(f, 0.0001f);
  cam.SetPerspective(false);
  cam.SetFov(0.5f);
  EXPECT_TRUE(cam.IsPerspective());
  cam.GetFogRange(n, f);
  EXPECT_GT(n, f);  // fog off until set
}

TEST(Camera, ViewTestsAndScreenToWorld) {
  CallLog log;
  RecordingRenderer renderer(&log);
  renderer.quiet = true;
  OvScene scene;
  scene.SetRenderer(&renderer);
  EXPECT_TRUE(Near(scene.FilmCoordToWorldVector(1, 1), {0, 0, 0}));  // no camera yet
  OvClump* cam = AddCamera(scene, 1.5707964f);                       // 90 degrees, near 1, far 1000
  scene.FrameStep();

  EXPECT_TRUE(scene.InViewFrustum({0, 0, -100}));
  EXPECT_FALSE(scene.InViewFrustum({0, 0, 100}));    // behind
  EXPECT_FALSE(scene.InViewFrustum({0, 0, -0.5f}));  // before the near plane
  EXPECT_TRUE(scene.InViewFrustum({99, 0, -100}));
  EXPECT_FALSE(scene.InViewFrustum({0, 100, -100}));  // y = depth: above a 4:3 view
  EXPECT_TRUE(scene.InViewFrustum({0, 70, -100}));
  EXPECT_TRUE(scene.InViewFrustum({0, 100, -100}, 1.0f, 1.5f));

  // The frustum planes agree with the view (aspect 480 / 640).
  EXPECT_TRUE(scene.SphereInFrustum({0, 70, -100}, 0.0f));
  EXPECT_FALSE(scene.SphereInFrustum({0, 80, -100}, 0.0f));
  EXPECT_TRUE(scene.SphereInFrustum({0, 80, -100}, 10.0f));
  EXPECT_FALSE(scene.SphereInFrustum({0, 0, -1100}, 50.0f));

  EXPECT_TRUE(Near(scene.FilmCoordToWorldVector(320, 240), {0, 0, -1}));
  EXPECT_TRUE(Near(scene.FilmCoordToWorldVector(640, 240), {1, 0, -1}));
  EXPECT_TRUE(Near(scene.FilmCoordToWorldVector(320, 0), {0, 0.75f, -1}));

  // Turned to look along +x (local -z onto world +x), raised to z = 5.
  OvQuat q;
  MakeQuat(q, {0, 1, 0}, -1.5707964f);
  cam->SetQuat(q);
  cam->SetPos({0, 0, 5});
  scene.FrameStep();
  EXPECT_TRUE(scene.InViewFrustum({100, 0, 5}));
  EXPECT_FALSE(scene.InViewFrustum({-100, 0, 5}));
  EXPECT_TRUE(Near(scene.FilmCoordToWorldVector(320, 240), {1, 0, 0}));
  EXPECT_TRUE(Near(scene.View().position, {0, 0, 5}));
}

TEST(Camera, UseCameraNeedsACameraOfThisScene) {
  OvScene scene, other;
  OvClump* plain = nullptr;
  AddObject(scene, "plain", &plain);
  EXPECT_FALSE(scene.UseCamera(plain));
  EXPECT_FALSE(scene.UseCamera(nullptr));
  OvClump* elsewhere = AddCamera(other);
  EXPECT_FALSE(scene.UseCamera(elsewhere));
  OvClump* cam = AddCamera(scene);
  cam->SetID(42);
  scene.LockCamera(true);
  EXPECT_FALSE(scene.UseCamera_ID(42));
  scene.LockCamera(false);
  EXPECT_TRUE(scene.UseCamera_ID(42));
  EXPECT_EQ(scene.GetCrntCamera(), cam);
  scene.DelClump(cam);
  EXPECT_EQ(scene.GetCrntCamera(), nullptr);
}

TEST(Camera, ExtensionRecordRoundTrip) {
  OvStream out;
  ASSERT_TRUE(out.OpenMemoryWrite());
  OvDbCameraExt perspective;
  perspective.m_fov = 0.9f;
  perspective.m_near = 2.0f;
  perspective.m_far = 900.0f;
  OvDbCameraExt ortho;
  ortho.m_flags = 0;
  ortho.m_near = 5.0f;
  ortho.m_far = 1.0f;
  ASSERT_TRUE(perspective.Write(out));
  ASSERT_TRUE(ortho.Write(out));
  EXPECT_EQ(out.ImageSize(), 2u * 28u);

  OvStream in;
  ASSERT_TRUE(in.OpenMemory(out.Image(), out.ImageSize()));
  OvChunkArena arena;
  OvDbCameraExt a, b;
  ASSERT_TRUE(a.Read(in, arena));
  ASSERT_TRUE(b.Read(in, arena));
  EXPECT_FLOAT_EQ(a.m_fov, 0.9f);
  EXPECT_FLOAT_EQ(a.m_far, 900.0f);
  EXPECT_FLOAT_EQ(b.m_near, -10000.0f);
  EXPECT_FLOAT_EQ(b.m_far, 10000.0f);
  auto* cam = static_cast<OvCamera*>(static_cast<OvClumpExt*>(b.GetController(nullptr)));
  ASSERT_NE(cam, nullptr);
  EXPECT_FALSE(cam->IsPerspective());
  delete cam;
}

// ---------------------------------------------------------------------------
// Picking.

struct PickScene {
  CallLog log;
  RecordingRenderer renderer{&log};
  OvDatabase* db = OvDatabase::Create();
  OvScene* scene = new OvScene();
  OvClump *note = nullptr, *board = nullptr, *anon = nullptr;

  PickScene() {
    renderer.quiet = true;
    scene->SetRenderer(&renderer);
    AddCamera(*scene);
    AddObject(*scene, "yellow_note", &note, {0, 0, -10});
    AddObject(*scene, "cork_board", &board, {0, 0, -20});
    AddObject(*scene, "anon", &anon, {-6, 0, -8});
    anon->SetName(nullptr);
    note->SetMesh(MakeQuadMesh(*db, 1.0f));
    board->SetMesh(MakeQuadMesh(*db, 5.0f));
    anon->SetMesh(MakeQuadMesh(*db, 1.0f));
    scene->FrameStep();
  }
  ~PickScene() {
    delete scene;
    db->Destroy();
  }
  OvClump* Pick(float x, float y, const char* include, const char* exclude, OvVector* hit = nullptr,
                int32_t* tri = nullptr) {
    return OvPickFilmCoord(x, y, *scene, include, exclude, hit, tri);
  }
};

TEST(Pick, NearestTriangleWithFilters) {
  PickScene s;
  OvVector hit{99, 99, 99};
  int32_t tri = -7;
  // 10 pixels right of centre: x = 10 / 320 of the depth.
  ASSERT_EQ(s.Pick(330, 240, nullptr, nullptr, &hit, &tri), s.note);
  EXPECT_TRUE(Near(hit, {0.3125f, 0, -10}));
  EXPECT_EQ(tri, 0);
  ASSERT_EQ(s.Pick(320, 230, nullptr, nullptr, &hit, &tri), s.note);
  EXPECT_EQ(tri, 1);  // above the diagonal
  EXPECT_EQ(s.Pick(330, 240, "board", nullptr, &hit), s.board);
  EXPECT_TRUE(Near(hit, {0.625f, 0, -20}));
  EXPECT_EQ(s.Pick(330, 240, nullptr, "note"), s.board);
  EXPECT_EQ(s.Pick(330, 240, "nothing_like_it", nullptr), nullptr);

  // The unnamed clump fails every include but survives an exclude.
  const float ax = 320.0f + (-6.0f / 8.0f) * 320.0f;
  EXPECT_EQ(s.Pick(ax, 240, nullptr, "note"), s.anon);
  EXPECT_EQ(s.Pick(ax, 240, "", nullptr), nullptr);

  // Outputs stay untouched on a miss.
  hit = {7, 7, 7};
  tri = 3;
  EXPECT_EQ(s.Pick(5, 5, nullptr, nullptr, &hit, &tri), nullptr);
  EXPECT_TRUE(Near(hit, {7, 7, 7}));
  EXPECT_EQ(tri, 3);
}

// A clump made after this frame's cull was never drawn: it stays culled and
// out of reach of the pick until the next cull finds it visible.
TEST(Pick, AClumpMadeAfterTheCullWaitsForTheNextCull) {
  PickScene s;
  OvClump* late = nullptr;
  AddObject(*s.scene, "late_note", &late, {0, 0, -5});
  late->SetMesh(MakeQuadMesh(*s.db, 1.0f));
  late->CalcToWorldMatrix();
  EXPECT_TRUE(late->IsCulled());
  EXPECT_EQ(s.Pick(330, 240, nullptr, nullptr), s.note);
  s.scene->FrameStep();
  EXPECT_FALSE(late->IsCulled());
  EXPECT_EQ(s.Pick(330, 240, nullptr, nullptr), late);
}

TEST(Pick, HiddenAndBehindAreNotHit) {
  PickScene s;
  s.note->SetInvisible();
  s.scene->FrameStep();
  EXPECT_EQ(s.Pick(330, 240, nullptr, nullptr), s.board);

  // A ray starting between the two: the note lies behind its start.
  s.note->SetVisible();
  s.scene->FrameStep();
  EXPECT_EQ(OvPickRay({0.3f, 0, -15}, {0, 0, -1}, *s.scene, nullptr, nullptr, nullptr, nullptr), s.board);
  EXPECT_EQ(OvPickRay({0.3f, 0, -15}, {0, 0, 1}, *s.scene, nullptr, nullptr, nullptr, nullptr), s.note);
}

// A box-like mesh of two parallel squares (z = -1 and z = 1) with a ray that
// starts between them: the hit is the square ahead, whichever layer comes
// first in the mesh, and the clump is picked.
TEST(Pick, ARayStartingInsideAMeshHitsTheLayerAhead) {
  PickScene s;
  OvMesh* layers = s.db->AddMesh();
  layers->vertexCount = 8;
  layers->positions = OvArenaNewArray<float>(s.db->Arena(), 24);
  for (int i = 0; i < 24; ++i) layers->positions[i] = s.note->GetMesh()->positions[i % 12] * 3.0f;
  for (int v = 0; v < 8; ++v) layers->positions[v * 3 + 2] = v < 4 ? -1.0f : 1.0f;
  layers->triangleCount = 4, layers->indexCount = 12;
  layers->indices = OvArenaNewArray<uint32_t>(s.db->Arena(), 12);
  const uint32_t idx[12] = {0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7};
  for (int i = 0; i < 12; ++i) layers->indices[i] = idx[i];
  layers->bounds = OvArenaNewArray<float>(s.db->Arena(), OV_MESH_BOUNDS_FLOATS);
  layers->bounds[3] = 5.0f;
  OvClump* box = nullptr;
  AddObject(*s.scene, "box", &box, {0, 0, -40});
  box->SetMesh(layers);
  s.scene->FrameStep();
  const struct {
    float dz;
    float hitZ;
    int32_t triangle;
  } cases[] = {{-1, -41, 0}, {1, -39, 2}};
  for (const auto& c : cases) {
    OvVector hit{};
    int32_t tri = -1;
    EXPECT_EQ(OvPickRay({0.5f, -0.2f, -40}, {0, 0, c.dz}, *s.scene, "box", nullptr, &hit, &tri), box) << c.dz;
    EXPECT_TRUE(Near(hit, {0.5f, -0.2f, c.hitZ})) << c.dz << ": hit at z " << hit.z;
    EXPECT_EQ(tri, c.triangle) << c.dz;
    OvVector p[1];
    int32_t t[1];
    int count = 1;
    ASSERT_TRUE(
        OvRayMeshTest({0.5f, -0.2f, 0}, {0.5f, -0.2f, 3 * c.dz}, OV_RAY_NEAREST, *layers, nullptr, t, p, count));
    EXPECT_TRUE(Near(p[0], {0.5f, -0.2f, c.hitZ + 40})) << c.dz;
  }
}

// The window shapes the view must hold at: 4:3, square and wide.
const struct ViewShape { int width, height; } kShapes[] = {{1024, 768}, {640, 640}, {1280, 540}};

// A 60 degree camera at the origin looking along -z in a viewport of `shape`.
struct ShapedScene {
  RecordingRenderer renderer{nullptr};
  OvDatabase* db = OvDatabase::Create();
  OvScene* scene = new OvScene();
  explicit ShapedScene(ViewShape shape, bool perspective = true) {
    renderer.quiet = true;
    renderer.width = shape.width, renderer.height = shape.height;
    scene->SetRenderer(&renderer);
    OvClump* camera = AddCamera(*scene, 1.0471976f);
    static_cast<OvCamera*>(camera->GetExtension())->SetPerspective(perspective);
  }
  ~ShapedScene() {
    delete scene;
    db->Destroy();
  }
  // The viewport pixel where the renderer draws world point p.
  void PixelOf(const OvVector& p, float& x, float& y) const {
    const OvMatrix& m = scene->GetViewProjMatrix();
    const float cx = p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0];
    const float cy = p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1];
    const float w = p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + m.m[3][3];
    x = (cx / w + 1.0f) * 0.5f * float(renderer.width);
    y = (1.0f - cy / w) * 0.5f * float(renderer.height);
  }
};

TEST(Pick, TheRayThroughAPixelHitsWhatIsDrawnThere) {
  const OvVector points[] = {{0, 0, -20}, {5, 4, -20}, {-8, -3.5f, -20}, {0.5f, 4.5f, -20}};
  for (const ViewShape& shape : kShapes) {
    for (bool perspective : {true, false}) {
      ShapedScene s(shape, perspective);
      OvClump* board = nullptr;
      AddObject(*s.scene, "board", &board, {0, 0, -20});
      board->SetMesh(MakeQuadMesh(*s.db, 50.0f));
      s.scene->FrameStep();
      for (const OvVector& p : points) {
        float x = 0, y = 0;
        s.PixelOf(p, x, y);
        OvVector hit{};
        EXPECT_EQ(OvPickFilmCoord(x, y, *s.scene, nullptr, nullptr, &hit, nullptr), board);
        EXPECT_TRUE(Near(hit, p, 1e-2f)) << shape.width << "x" << shape.height << (perspective ? "" : " ortho")
                                         << " at " << p.x << ", " << p.y << ": hit " << hit.x << ", " << hit.y;
      }
    }
  }
}

TEST(Camera, AClumpDrawnAtTheEdgeOfTheViewIsNotCulled) {
  // Where the centre is drawn, in viewport units (-1 to 1 across each side).
  const struct { float x, y; } edges[] = {{0, 0.97f}, {0, -0.97f}, {0.97f, 0}, {-0.97f, 0}, {0.97f, 0.97f}};
  for (const ViewShape& shape : kShapes) {
    ShapedScene s(shape);
    s.scene->FrameStep();
    const OvMatrix& proj = s.scene->View().projection;
    const float depth = 20.0f;
    for (const auto& e : edges) {
      OvClump* c = nullptr;
      AddObject(*s.scene, "edge", &c, {e.x * depth / proj.m[0][0], e.y * depth / proj.m[1][1], -depth});
      c->SetMesh(MakeQuadMesh(*s.db, 0.1f));
      s.scene->FrameStep();
      EXPECT_FALSE(c->IsCulled()) << shape.width << "x" << shape.height << " at " << e.x << ", " << e.y;
      s.scene->DelLogObj(c->GetLogObj());
    }
  }
}

TEST(Pick, RayMeshTestBothSidesCollectAndLargeMeshes) {
  OvDatabase* db = OvDatabase::Create();
  OvMesh* quad = MakeQuadMesh(*db, 1.0f);
  OvVector p[4];
  int32_t t[4];
  int count = 1;
  // From behind (-z side): the back face is hit as well.
  ASSERT_TRUE(OvRayMeshTest({0.5f, -0.2f, -3}, {0.5f, -0.2f, 3}, OV_RAY_NEAREST, *quad, nullptr, t, p, count));
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(Near(p[0], {0.5f, -0.2f, 0}));

  // Placed by a world matrix: start, end and hit in world space.
  OvMatrix world;
  OvMatrixIdentity(world);
  OvMatrixSetPos(world, {0, 0, -4});
  count = 1;
  ASSERT_TRUE(OvRayMeshTest({0.2f, 0.5f, 3}, {0.2f, 0.5f, -3}, OV_RAY_NEAREST, *quad, &world, t, p, count));
  EXPECT_TRUE(Near(p[0], {0.2f, 0.5f, -4}));
  EXPECT_EQ(t[0], 1);

  // Collect: the diagonal lies in both triangles.
  count = 4;
  ASSERT_TRUE(OvRayMeshTest({0.3f, 0.3f, 1}, {0.3f, 0.3f, -1}, OV_RAY_COLLECT, *quad, nullptr, t, p, count));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1], 1);

  // A mesh too big for the stack buffer; a bad index is skipped.
  OvMesh* big = db->AddMesh();
  big->vertexCount = 9000;
  big->positions = OvArenaNewArray<float>(db->Arena(), 9000 * 3);
  for (int i = 0; i < 12; ++i) big->positions[i] = quad->positions[i];
  big->triangleCount = 3;
  big->indexCount = 9;
  big->indices = OvArenaNewArray<uint32_t>(db->Arena(), 9);
  const uint32_t idx[9] = {0, 1, 9000, 0, 1, 2, 0, 2, 3};
  for (int i = 0; i < 9; ++i) big->indices[i] = idx[i];
  count = 1;
  ASSERT_TRUE(OvRayMeshTest({0.5f, -0.2f, 3}, {0.5f, -0.2f, -3}, OV_RAY_NEAREST, *big, nullptr, t, p, count));
  EXPECT_EQ(t[0], 1);
  db->Destroy();
}

}  // namespace
