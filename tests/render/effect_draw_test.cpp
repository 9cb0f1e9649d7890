// The render-effect controllers in a running scene: a mirror showing what is
// in front of it on the right side, a magic lens drawing the magnified scene
// into its texture, an environment map drawing each direction into its cube
// face, the second view's culling, failures, and a lost device.
#include <deque>

#include "image_harness.h"
#include "ov_camera.h"
#include "ov_effect_draw.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "trace_capture.h"

namespace image_test {
namespace {

class EffectDraw : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    scene_ = new OvScene();
    OvScene& scene = *scene_;
    scene.SetRenderer(m_renderer);
    scene.SetBackgroundColour(0xFF000000u);
    scene.SetPresentAfterFrame(false);
    world = OvLogObj::Create();
    scene.AddLogObjs(world);
    // Camera at the origin looking along -z, 90 degrees wide.
    camera = Add(nullptr, {0, 0, 0});
    camera->SetExtension(new OvCamera(1.5707964f, 1.0f, 1000.0f));
    camera->CalcToWorldMatrix();
    ASSERT_TRUE(scene.UseCamera(camera));
  }
  OvScene& Scene() { return *scene_; }
  void TearDown() override {
    delete scene_;
    scene_ = nullptr;
    for (OvGLTexture* t : cubes) OvDestroyCubeTexture(R(), t);
    ImageTest::TearDown();
  }

  OvClump* Add(OvMesh* mesh, OvVector pos) {
    OvClump* c = OvClump::Create();
    c->SetMesh(mesh);
    c->SetPos(pos);
    world->AppendClumps(c);
    return c;
  }
  // A ball of one flat colour (emissive, unlit).
  OvClump* Ball(OvVector pos, float radius, float r, float g, float b) {
    MeshData& d = NewMesh();
    MakeSphere(d, 8, 12, {0, 0, 0}, radius);
    d.Finish(0);
    d.material = {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}, {r, g, b, 0}, 0};
    d.resource = Plan({}, {}, 2);
    return Add(&d.mesh, pos);
  }
  // A square of side 2s facing -z in its own frame, textured from slot 0.
  MeshData& Square(float s, OvGLTexture* texture, int32_t blend = 1) {
    MeshData& d = NewMesh();
    MakeGrid(d, 2, -s, -s, s, s, 0.0f);
    d.Finish(1);
    d.material = {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}, {1, 1, 1, 0}, 0};
    if (texture && !OvIsCubeTexture(texture))
      d.resource = Plan({Layer(OV_LAYER_MODULATE)}, {texture}, 2, blend);
    else
      d.resource = Plan({}, {texture}, 2, blend);
    return d;
  }
  OvAniCtrl* Attach(OvDbNode& node, OvClump* clump) {
    OvAniCtrl* ctrl = OvNodeController(&node, clump);
    if (ctrl) {
      EXPECT_TRUE(clump->AddAniCtrl(ctrl));
    }
    return ctrl;
  }
  void Frame() {
    Scene().FrameStep();
    Scene().ForceStep(1);
    Scene().AdvanceTime();
  }
  Picture Screen() {
    Picture p;
    p.width = R().GetFrameWidth();
    p.height = R().GetFrameHeight();
    std::vector<uint8_t> raw(size_t(p.width) * p.height * 4);
    EXPECT_TRUE(R().ReadPixels(raw.data(), p.width, p.height));
    p.rgba.resize(raw.size());
    const size_t row = size_t(p.width) * 4;
    for (int y = 0; y < p.height; ++y)
      std::copy_n(raw.data() + size_t(p.height - 1 - y) * row, row, p.rgba.data() + size_t(y) * row);
    for (size_t i = 3; i < p.rgba.size(); i += 4) p.rgba[i] = 255;
    return p;
  }
  Picture Level0(const OvGLTexture& texture, int face = 0) {
    Picture p;
    p.width = texture.width;
    p.height = texture.height;
    p.rgba.resize(size_t(p.width) * p.height * 4);
    OvEffectTarget reader(R(), texture, OvIsCubeTexture(&texture), false);
    EXPECT_TRUE(reader.Read(face, p.rgba.data()));
    for (size_t i = 3; i < p.rgba.size(); i += 4) p.rgba[i] = 255;
    return p;
  }
  // Pixel at normalised device coordinates (x right, y up).
  static const uint8_t* At(const Picture& p, float x, float y) {
    const int px = std::clamp(int((x + 1.0f) * 0.5f * float(p.width)), 0, p.width - 1);
    const int py = std::clamp(int((1.0f - y) * 0.5f * float(p.height)), 0, p.height - 1);
    return p.At(px, py);
  }

  OvScene* scene_ = nullptr;
  OvLogObj* world = nullptr;
  OvClump* camera = nullptr;
  std::vector<OvGLTexture*> cubes;
};

// 180 degrees about y: the clump's z axis points along world -z.
const OvQuat kTurned{0.0f, {0.0f, 1.0f, 0.0f}};

TEST_F(EffectDraw, MirrorShowsWhatIsInFrontOfItOnTheRightSide) {
  // A half-transparent mirror at z = -10 facing the camera; in front of it
  // to the right a red sign facing the mirror (the camera sees its back, so
  // only the reflection shows it), behind it to the left a green ball.
  MeshData& sign = Square(1.0f, nullptr);
  sign.material.emissive[1] = sign.material.emissive[2] = 0.0f;
  Add(&sign.mesh, {3, 0, -6})->SetQuat(kTurned);
  Ball({-3, 0, -12}, 1.0f, 0, 1, 0);
  MeshData& glass = Square(6.0f, nullptr, 2);
  glass.material = {{0, 0, 0, 0.5f}, {0, 0, 0, 0.5f}, {0, 0, 0, 0}, {0.2f, 0.2f, 0.2f, 0}, 0};
  glass.mesh.flags |= OV_MESH_TWO_SIDED;
  OvClump* mirror = Add(&glass.mesh, {0, 0, -10});
  mirror->SetQuat(kTurned);
  OvMirrorNode node;
  node.minSize = 0.0f;
  ASSERT_NE(Attach(node, mirror), nullptr);
  EXPECT_NE(glass.mesh.flags & OV_MESH_MIRROR, 0u);
  Frame();
  const Picture p = Screen();
  ExpectMatchesReference(p, "effect_mirror");
  // The reflection of the sign stands at (3, 0, -14): right of centre, seen
  // through the glass; the sign itself turns its back.
  EXPECT_GT(At(p, 0.214f, 0.0f)[0], 80);
  EXPECT_LT(At(p, -0.214f, 0.0f)[0], 80);
  EXPECT_LT(At(p, 0.5f, 0.0f)[0], 80);
  // Green behind the glass is not reflected to (-3, 0, -8).
  EXPECT_LT(At(p, -0.45f, 0.0f)[1], 60);
  EXPECT_GT(At(p, -0.25f, 0.0f)[1], 60);  // but seen through it

  // Facing away from the camera it registers only when two-sided.
  struct Case {
    uint32_t options;
    bool reflected;
  };
  const Case cases[] = {{OV_EFFECT_MIRROR, false}, {OV_EFFECT_MIRROR | OV_EFFECT_TWO_SIDE, true}};
  mirror->SetQuat({1.0f, {0, 0, 0}});
  glass.material.emissive[0] = glass.material.emissive[1] = glass.material.emissive[2] = 0.0f;
  for (const Case& c : cases) {
    node.options = c.options;
    Frame();
    EXPECT_EQ(At(Screen(), 0.214f, 0.0f)[0] > 80, c.reflected) << c.options;
  }
}

TEST_F(EffectDraw, MirrorNeedsAMesh) {
  TraceCapture trace;
  OvMirrorNode node;
  EXPECT_EQ(OvNodeController(&node, Add(nullptr, {0, 0, -5})), nullptr);
  EXPECT_EQ(trace.Text(), "!!! Mirror must be added to a mesh.\n");
}

TEST_F(EffectDraw, LensDrawsTheMagnifiedSceneIntoItsTexture) {
  OvGLTexture* texture = Texture32(std::vector<uint32_t>(32 * 32, 0xFF808080u), 32, 32);
  ASSERT_NE(texture, nullptr);
  MeshData& face = Square(1.0f, texture);
  OvClump* lens = Add(&face.mesh, {0, -3, -6});
  lens->SetQuat(kTurned);
  OvClump* red = Ball({0, 0, -10}, 1.0f, 1, 0, 0);
  MeshData& ball = m_meshes.back();
  Scene().SetBackgroundColour(0xFF000040u);
  OvMagicLensNode node;
  node.options = 0;
  node.magnification = 4.0f;
  node.minSize = 0.0f;
  ASSERT_NE(Attach(node, lens), nullptr);
  Frame();
  const Picture p = Level0(*texture);
  ExpectMatchesReference(p, "effect_lens");
  // Radius 0.1 of the view, 0.4 magnified.
  EXPECT_GT(At(p, 0.0f, 0.0f)[0], 200);
  EXPECT_GT(At(p, 0.3f, 0.0f)[0], 200);
  EXPECT_LT(At(p, 0.6f, 0.0f)[0], 40);
  EXPECT_GT(At(p, 0.9f, 0.9f)[2], 50);  // the scene's background

  // Drawn after this frame's animation: a ball moved before the frame is
  // seen where it is now (0.05 of the view right, 0.2 magnified).
  red->SetPos({0.5f, 0, -10});
  Frame();
  EXPECT_LT(At(Level0(*texture), -0.3f, 0.0f)[0], 40);
  EXPECT_GT(At(Level0(*texture), 0.5f, 0.0f)[0], 200);

  // A magnification that is not a positive number counts as 1: the ball,
  // 0.3 of the view to the right, stays there and the right way round.
  red->SetPos({3, 0, -10});
  for (float k : {0.0f, -1.0f, std::nanf("")}) {
    node.magnification = k;
    Frame();
    const Picture q = Level0(*texture);
    EXPECT_GT(At(q, 0.3f, 0.0f)[0], 200) << k;
    EXPECT_LT(At(q, -0.3f, 0.0f)[0], 40) << k;
  }
  node.magnification = 4.0f;
  red->SetPos({0, 0, -10});
  Frame();

  // The target survives a lost device: nothing is drawn while lost, the
  // next frame after the reset draws the changed scene.
  R().SimulateDeviceLost();
  ball.material.emissive[2] = 1.0f;
  Frame();
  ASSERT_TRUE(R().SimulateDeviceReset());
  EXPECT_LT(At(Level0(*texture), 0.0f, 0.0f)[2], 50);
  Frame();
  const Picture after = Level0(*texture);
  EXPECT_GT(At(after, 0.0f, 0.0f)[0], 200);
  EXPECT_GT(At(after, 0.0f, 0.0f)[2], 200);
}

TEST_F(EffectDraw, EnvMapDrawsEachDirectionIntoItsFace) {
  OvGLTexture* cube = OvCreateCubeTexture(R(), 32);
  ASSERT_NE(cube, nullptr);
  cubes.push_back(cube);
  // The probe is a red ball around the cube's centre, seen from inside too:
  // it must stay out of its own faces.
  OvClump* probe = Ball({0, 0, -10}, 2.0f, 1, 0, 0);
  MeshData& body = m_meshes.back();
  body.mesh.flags |= OV_MESH_TWO_SIDED;
  static_cast<OvPassPlan*>(body.resource)->Release();
  m_plans.pop_back();
  body.resource = Plan({}, {cube}, 2);
  Ball({4, 0, -10}, 1.0f, 1, 0, 0);  // right: face +x, centre
  // Up, and ahead in the camera's view: the +x face has ahead on its left.
  Ball({4, 3, -12}, 0.8f, 0, 1, 0);
  Ball({0, 0, -14}, 1.0f, 0, 0, 1);  // ahead: face +z
  OvDynamicEnvMapNode node;
  node.nearClip = 0.5f;
  node.farClip = 100.0f;
  node.minSize = 0.0f;
  node.background = 0xFF202020u;
  ASSERT_NE(Attach(node, probe), nullptr);
  Frame();
  const Picture right = Level0(*cube, 0);
  ExpectMatchesReference(right, "effect_envmap_right");
  EXPECT_GT(At(right, 0.0f, 0.0f)[0], 200);
  EXPECT_GT(At(right, -0.5f, 0.75f)[1], 200);
  EXPECT_LT(At(right, 0.5f, 0.75f)[1], 60);
  EXPECT_LT(At(right, -0.5f, -0.75f)[1], 60);
  const Picture ahead = Level0(*cube, 4);
  EXPECT_GT(At(ahead, 0.0f, 0.0f)[2], 200);
  EXPECT_LT(At(Level0(*cube, 1), 0.0f, 0.0f)[0], 60);  // nothing to the left
}

TEST_F(EffectDraw, EnvMapThatCannotDrawTracesOnceAndSkips) {
  struct Case {
    const char* name;
    bool cube;
    float nearClip, farClip;
    const char* trace;
  };
  const char* const kNoTexture = "!!! Dynamic Env Map: map #1 of sub material #1 holds no texture.\n";
  const char* const kBadClip = "!!! Dynamic Env Map: the clip distances need 0 < near < far.\n";
  const Case cases[] = {
      {"no texture in the slot", false, 10.0f, 5000.0f, kNoTexture},
      {"near 0", true, 0.0f, 5000.0f, kBadClip},
      {"near = far", true, 10.0f, 10.0f, kBadClip},
      {"far not a number", true, 10.0f, std::nanf(""), kBadClip},
  };
  for (const Case& c : cases) {
    OvGLTexture* texture = nullptr;
    if (c.cube) {
      texture = OvCreateCubeTexture(R(), 16);
      cubes.push_back(texture);
    }
    MeshData& body = Square(0.5f, texture);
    OvClump* probe = Add(&body.mesh, {0, 0, -10});
    OvDynamicEnvMapNode node;
    node.nearClip = c.nearClip, node.farClip = c.farClip;
    OvAniCtrl* ctrl = Attach(node, probe);
    ASSERT_NE(ctrl, nullptr);
    TraceCapture trace;
    Frame();
    Frame();
    EXPECT_EQ(trace.Text(), c.trace) << c.name;
    EXPECT_GT(At(Screen(), 0.0f, 0.0f)[0], 100) << c.name;  // the probe itself is still drawn
    // The node ends with this case: its controller and probe go too.
    probe->DelAniCtrl(ctrl);
    probe->SetMesh(nullptr);
  }
}

TEST_F(EffectDraw, EnvMapReflectsTheRoomInPlaceOfAFlatMap) {
  // A mirror ball in a room open towards the camera: walls red on the right,
  // green on the left, blue above, yellow below, white at the back. Its
  // material reflects a flat orange texture, which a small twin ball with
  // the very same material keeps showing.
  const float h = 0.70710678f;
  struct Wall {
    OvVector pos;
    OvQuat turn;
    float r, g, b;
  };
  const Wall walls[] = {{{4, 0, -4.5f}, {h, {0, h, 0}}, 1, 0, 0},
                        {{-4, 0, -4.5f}, {h, {0, h, 0}}, 0, 1, 0},
                        {{0, 4, -4.5f}, {h, {h, 0, 0}}, 0, 0, 1},
                        {{0, -4, -4.5f}, {h, {h, 0, 0}}, 1, 1, 0},
                        {{0, 0, -8.5f}, {1, {0, 0, 0}}, 1, 1, 1}};
  std::vector<MeshData*> sides;
  for (const Wall& w : walls) {
    MeshData& d = Square(4.0f, nullptr);
    d.material.emissive[0] = w.r, d.material.emissive[1] = w.g, d.material.emissive[2] = w.b;
    d.mesh.flags |= OV_MESH_TWO_SIDED;
    Add(&d.mesh, w.pos)->SetQuat(w.turn);
    sides.push_back(&d);
  }
  OvGLTexture* flat = Texture32(std::vector<uint32_t>(8 * 8, 0xFFFF8000u), 8, 8);
  ASSERT_NE(flat, nullptr);
  MeshData& body = NewMesh();
  MakeSphere(body, 24, 32, {0, 0, 0}, 2.0f);
  body.Finish(1);
  body.material = {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
  body.resource = Plan({Layer(OV_LAYER_REFLECT)}, {flat}, 2);
  // Wound for a camera looking along +z: from this one only the inside of
  // the far half would show.
  body.mesh.flags |= OV_MESH_TWO_SIDED;
  OvClump* probe = Add(&body.mesh, {0, 0, -4.5f});
  MeshData& twin = NewMesh();
  MakeSphere(twin, 8, 12, {0, 0, 0}, 0.5f);
  twin.Finish(1);
  twin.material = body.material;
  twin.resource = body.resource;
  Add(&twin.mesh, {-3.0f, -3.0f, -6.0f});

  OvDynamicEnvMapNode node;
  node.nearClip = 0.1f;
  node.farClip = 100.0f;
  node.minSize = 0.0f;
  node.background = 0xFF000000u;
  ASSERT_NE(Attach(node, probe), nullptr);
  Frame();
  const Picture p = Screen();
  ExpectMatchesReference(p, "effect_envmap_sphere");
  // Where the ball's surface faces right, left, up and down (halfway to its
  // outline), and its middle, which sees the open side behind the camera.
  struct Spot {
    const char* name;
    float x, y;
    int r, g, b;
  };
  const Spot spots[] = {{"right", 0.4f, 0.0f, 255, 0, 0}, {"left", -0.4f, 0.0f, 0, 255, 0},
                        {"top", 0.0f, 0.4f, 0, 0, 255},   {"bottom", 0.0f, -0.4f, 255, 255, 0},
                        {"middle", 0.0f, 0.0f, 0, 0, 0},  {"twin", -0.5f, -0.5f, 255, 128, 0}};
  auto check = [&](const Picture& q, const char* when) {
    for (const Spot& s : spots) {
      const uint8_t* px = At(q, s.x, s.y);
      EXPECT_NEAR(px[0], s.r, 60) << s.name << ", " << when;
      EXPECT_NEAR(px[1], s.g, 60) << s.name << ", " << when;
      EXPECT_NEAR(px[2], s.b, 60) << s.name << ", " << when;
    }
  };
  check(p, "first frame");

  // After a lost device the cube is made again and shows the room as it is
  // now: the side walls swapped colours.
  R().SimulateDeviceLost();
  Frame();
  ASSERT_TRUE(R().SimulateDeviceReset());
  std::swap(sides[0]->material.emissive[0], sides[1]->material.emissive[0]);
  std::swap(sides[0]->material.emissive[1], sides[1]->material.emissive[1]);
  Frame();
  const Picture after = Screen();
  EXPECT_NEAR(At(after, 0.4f, 0.0f)[1], 255, 60);
  EXPECT_NEAR(At(after, -0.4f, 0.0f)[0], 255, 60);
  EXPECT_NEAR(At(after, 0.0f, 0.4f)[2], 255, 60);
}

// Balls reflecting flat maps of several widths: each gets a cube of that
// width held between 16 and 1024 pixels a face, and shows the white wall
// behind the camera in its middle (not the flat orange map).
TEST_F(EffectDraw, EnvMapCubeFromAFlatMapHasItsWidthWithinLimits) {
  MeshData& wall = Square(20.0f, nullptr);
  wall.material.emissive[0] = wall.material.emissive[1] = wall.material.emissive[2] = 1.0f;
  wall.mesh.flags |= OV_MESH_TWO_SIDED;
  Add(&wall.mesh, {0, 0, 5});
  const struct {
    int width, face;
    float x;
  } cases[] = {{8, 16, -0.5f}, {300, 300, 0.0f}, {2048, 1024, 0.5f}};
  std::vector<OvClump*> balls;
  std::vector<OvGLTexture*> flats;
  std::deque<OvDynamicEnvMapNode> nodes;
  for (const auto& c : cases) {
    OvGLTexture* flat = Texture32(std::vector<uint32_t>(size_t(c.width) * 2, 0xFFFF8000u), c.width, 2);
    ASSERT_NE(flat, nullptr) << c.width;
    MeshData& body = NewMesh();
    MakeSphere(body, 16, 24, {0, 0, 0}, 0.8f);
    body.Finish(1);
    body.material = {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
    body.resource = Plan({Layer(OV_LAYER_REFLECT)}, {flat}, 2);
    body.mesh.flags |= OV_MESH_TWO_SIDED;
    balls.push_back(Add(&body.mesh, {c.x * 6.0f, 0, -6.0f}));
    flats.push_back(flat);
    OvDynamicEnvMapNode& node = nodes.emplace_back();
    node.nearClip = 0.1f, node.farClip = 100.0f, node.minSize = 0.0f, node.background = 0xFF000000u;
    ASSERT_NE(Attach(node, balls.back()), nullptr);
  }
  Frame();
  const Picture p = Screen();
  for (size_t i = 0; i < balls.size(); ++i) {
    OvMesh& mesh = *balls[i]->GetMesh();
    ASSERT_NE(mesh.deviceBuffers, nullptr);
    OvMeshDrawer drawer(R(), mesh, *static_cast<OvMeshBuffers*>(mesh.deviceBuffers), balls[i]);
    const OvGLTexture* cube = drawer.SlotTexture(0, 0, flats[i]);
    ASSERT_TRUE(cube && OvIsCubeTexture(cube)) << cases[i].width;
    EXPECT_EQ(cube->width, cases[i].face) << cases[i].width;
    const uint8_t* px = At(p, cases[i].x, 0.0f);
    EXPECT_GT(px[2], 200) << cases[i].width << ": the middle shows " << int(px[0]) << " " << int(px[1]) << " "
                          << int(px[2]);
  }
}

TEST_F(EffectDraw, FlatTexturesAreMadeWhileACubeIsBound) {
  OvGLTexture* cube = OvCreateCubeTexture(R(), 16);
  ASSERT_NE(cube, nullptr);
  cubes.push_back(cube);
  R().SetTexture(0, cube);
  EXPECT_NE(Texture32(std::vector<uint32_t>(4 * 4, 0xFF00FF00u), 4, 4), nullptr);
}

TEST_F(EffectDraw, SecondViewCullsByFrustumClipPlaneAndSize) {
  // Balls with bounds one unit across, straight ahead of the camera.
  struct Case {
    const char* name;
    float z;
    float minPixels;
    bool clip;
    bool seen;
  };
  const Case cases[] = {
      {"ahead", -10, 0, false, true},
      {"behind the eye", 10, 0, false, false},
      {"beyond far", -2000, 0, false, false},
      {"4.8 pixels, 4 needed", -10, 4, false, true},
      {"4.8 pixels, 5 needed", -10, 5, false, false},
      {"on the dropped side of the plane", -10, 0, true, false},
  };
  for (const Case& c : cases) {
    MeshData& d = NewMesh();
    MakeSphere(d, 4, 6, {0, 0, 0}, 1.0f);
    d.Finish(0);
    float bounds[OV_MESH_BOUNDS_FLOATS] = {0, 0, 0, 1.0f};
    d.mesh.bounds = bounds;
    OvClump* ball = Add(&d.mesh, {0, 0, c.z});
    Frame();
    OvEffectView v;
    v.view = R().ViewMatrix();
    v.projection = R().ProjectionMatrix();
    v.halfWidth = 48.0f;  // projection m00 is 1
    v.minPixels = c.minPixels;
    v.clip = c.clip;
    v.plane = {{0, 0, 1}, 5.0f};  // keeps z >= -5
    v.skip = camera;
    int found = 0;
    for (const OvRenderItem* it = OvCollectEffectView(Scene(), v); it; it = it->next) found += it->clump == ball;
    EXPECT_EQ(found, c.seen ? 1 : 0) << c.name;
    ball->SetMesh(nullptr);
    d.mesh.bounds = nullptr;
  }
}

}  // namespace
}  // namespace image_test
