// Whole scene frames drawn by the GL renderer into windows of several shapes:
// a sphere is drawn round, and one whose centre sits on the top edge of the
// view is drawn there, not culled.
#include <climits>

#include "../scene/scene_fixture.h"
#include "image_harness.h"

namespace image_test {
namespace {

// Bounds of the pixels the sphere covers (the background is white, the
// sphere has no green in it whether it is lit or not).
struct Extent {
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
  int Width() const { return right < 0 ? 0 : right - left + 1; }
  int Height() const { return bottom < 0 ? 0 : bottom - top + 1; }
};

Extent Covered(const Picture& p) {
  Extent e;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      if (p.At(x, y)[1] >= 128) continue;
      e.left = std::min(e.left, x), e.right = std::max(e.right, x);
      e.top = std::min(e.top, y), e.bottom = std::max(e.bottom, y);
    }
  }
  return e;
}

// One window of the given size with a scene: a 60 degree camera at the origin
// looking along -z and a sphere of radius 0.8 at depth 10.
class ViewShape {
 public:
  ViewShape(int width, int height) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    EXPECT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    OvRendererGL::SetWindowAttributes();
    m_window = SDL_CreateWindow("shape", 0, 0, width, height, OvRendererGL::WindowFlags());
    m_renderer = new OvRendererGL();
    m_renderer->SetRequestedSize(width, height);
    m_renderer->SetWaitVRetrace(false);
    m_renderer->SetWindow(&m_window);
    m_ready = m_window && m_renderer->Init(true);
    m_scene.SetRenderer(m_renderer);
    m_scene.SetPresentAfterFrame(false);
    AddCamera(m_scene, 1.0471976f);
    m_data.material = OvMaterial{{1, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
    MakeSphere(m_data, 24, 48, {0, 0, 0}, 0.8f);
    m_data.Finish(0);
    // A plain material: no layers, one pass.
    m_material = OvArenaNew<OvStdMaterial>(m_arena);
    m_material->SetLayers(m_arena, nullptr, 0);
    m_material->SetTextureIndices(m_arena, nullptr, 0);
    m_material->SetBlendKind(1);
    m_plan = OvPassPlan::Build(*m_material, 2);
    m_data.resource = m_plan;
    m_bounds[3] = 0.8f;
    m_data.mesh.bounds = m_bounds;
    AddObject(m_scene, "ball", &m_ball, {0, 0, -10});
    m_ball->SetMesh(&m_data.mesh);
  }
  ~ViewShape() {
    m_ball->SetMesh(nullptr);  // the mesh goes before the scene
    OvReleaseMeshBuffers(m_data.mesh);
    if (m_plan) m_plan->Release();
    m_material->~OvStdMaterial();
    delete m_renderer;
    if (m_window) SDL_DestroyWindow(m_window);
    SDL_Quit();
  }
  bool Ready() const { return m_ready && m_plan; }
  const OvScene& Scene() const { return m_scene; }

  // Places the ball, draws one frame and reads it back.
  Picture Draw(const OvVector& at) {
    m_ball->SetPos(at);
    m_scene.FrameStep();
    Picture p;
    p.width = m_renderer->GetFrameWidth();
    p.height = m_renderer->GetFrameHeight();
    std::vector<uint8_t> raw(size_t(p.width) * p.height * 4);
    EXPECT_TRUE(m_renderer->ReadPixels(raw.data(), p.width, p.height));
    p.rgba.resize(raw.size());
    const size_t row = size_t(p.width) * 4;
    for (int y = 0; y < p.height; ++y)
      std::copy_n(raw.data() + size_t(p.height - 1 - y) * row, row, p.rgba.data() + size_t(y) * row);
    return p;
  }

 private:
  SDL_Window* m_window = nullptr;
  OvRendererGL* m_renderer = nullptr;
  bool m_ready = false;
  OvScene m_scene;
  OvChunkArena m_arena;
  OvStdMaterial* m_material = nullptr;
  OvPassPlan* m_plan = nullptr;
  MeshData m_data;
  float m_bounds[OV_MESH_BOUNDS_FLOATS] = {};
  OvClump* m_ball = nullptr;
};

// Small windows of the shapes 1024 x 768, 640 x 640 and 1280 x 540.
TEST(ImageViewShape, SphereIsRoundAndDrawnUpToTheTopEdge) {
  const struct { int width, height; } shapes[] = {{128, 96}, {96, 96}, {128, 54}};
  for (const auto& shape : shapes) {
    ViewShape v(shape.width, shape.height);
    ASSERT_TRUE(v.Ready());
    const Extent centred = Covered(v.Draw({0, 0, -10}));
    // About 17.7 pixels across at this depth for a 128-pixel-wide view.
    EXPECT_GT(centred.Width(), shape.width / 10) << shape.width << "x" << shape.height;
    EXPECT_NEAR(centred.Height(), centred.Width(), 1) << shape.width << "x" << shape.height;

    // Centre on the top edge of what the projection draws: the upper half
    // is cut off, the lower half shows from the first row down.
    const float top = 10.0f / v.Scene().View().projection.m[1][1];
    const Extent edge = Covered(v.Draw({0, top, -10}));
    EXPECT_EQ(edge.top, 0) << shape.width << "x" << shape.height;
    EXPECT_NEAR(edge.Height(), centred.Height() / 2, 2) << shape.width << "x" << shape.height;
  }
}

}  // namespace
}  // namespace image_test
