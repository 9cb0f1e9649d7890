// "Lens Flare": placement of the light and its chain in front of the camera,
// fading behind an occluder, its stored block and CreateFromValues.
#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "../scene/scene_fixture.h"
#include "ov_flare_node.h"
#include "ov_nodes.h"
#include "ov_stream.h"

namespace {

class FlareNode : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene->SetRenderer(&renderer);
    AddCamera(*scene);  // at the origin, looking along -z, near clip 1
  }
  void TearDown() override {
    delete scene;
    db->Destroy();
  }
  OvMesh* Quad(float h) {
    OvMesh* mesh = MakeQuadMesh(*db, h);
    mesh->subsetCount = 1;
    mesh->materials = OvArenaNewArray<OvMaterial>(db->Arena(), 1);
    mesh->materials[0] = {{1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
    return mesh;
  }
  OvVector Pos(const OvClump* c) {
    OvVector p;
    OvMatrixGetPos(*c->GetToWorldMatrix(), p);
    return p;
  }

  RecordingRenderer renderer{nullptr};
  OvDatabase* db = OvDatabase::Create();
  OvScene* scene = new OvScene();
  OvChunkArena arena;
};

TEST_F(FlareNode, LightAndChainAreStrungThroughTheViewAndFadeBehindAnOccluder) {
  auto* node = OvArenaNew<OvLensFlareNode>(arena);
  node->rotationRatio = 0.0f;
  node->count = 1;
  node->ratios = OvArenaNewArray<float>(arena, 1);
  node->ratios[0] = 0.5f;
  OvClump* light = nullptr;
  AddObject(*scene, "light", &light, {10, 0, -100});
  light->SetMesh(Quad(1.0f));
  OvClump* e0 = OvClump::Create();
  OvClump* e1 = OvClump::Create();
  e0->SetMesh(Quad(1.0f));
  e1->SetMesh(Quad(1.0f));
  e0->AttachChild(e1);
  light->AttachChild(e0);
  ASSERT_TRUE(light->CalcToWorldMatrix() && e0->CalcToWorldMatrix() && e1->CalcToWorldMatrix());
  ASSERT_TRUE(light->AddAniCtrl(OvNodeController(node, light)));
  OvClump* wall = nullptr;
  AddObject(*scene, "wall", &wall, {0, 0, 300});  // behind the camera for now
  wall->SetMesh(Quad(40.0f));

  // Where the light appears on the plane at depth 1.03, and the line from
  // there to the centre of the view.
  const OvVector f{0.103f, 0.0f, -1.03f};
  const OvVector a{-0.103f, 0.0f, 0.01f};
  struct Step {
    int frames;
    bool wallInFront;
    float alpha;  // the light's material alpha after the frames
    bool invisible;
    bool blended;  // drawn alpha-blended while it fades
  };
  // Fade-out time 0.5 s at 60 units a second: 1/30 a frame. A clump that
  // just came into view hides the light from the next frame on.
  const Step steps[] = {{1, false, 1.0f, false, false}, {15, false, 0.5f, false, true}, {15, false, 1.0f, false, false},
                        {15, true, 0.5f, false, true},  {18, true, 0.0f, true, true},   {15, false, 0.5f, false, true}};
  int done = 0;
  for (const Step& s : steps) {
    wall->SetPos({0, 0, s.wallInFront ? -50.0f : 300.0f});
    for (int i = 0; i < s.frames; ++i) StepFrame(*scene);
    done += s.frames;
    if (done == 1) continue;  // the first frame only prepares
    EXPECT_NEAR(light->GetMesh()->materials[0].diffuse[3], s.alpha, 0.07f) << done;
    EXPECT_EQ(light->IsInvisible(), s.invisible) << done;
    EXPECT_EQ(light->GetMesh()->fadeBlend, s.blended) << done;
    if (s.invisible) continue;  // a vanished flare is not placed
    EXPECT_TRUE(Near(Pos(light), f)) << done;
    EXPECT_TRUE(Near(Pos(e0), {f.x + 0.5f * a.x, 0, f.z + 0.5f * a.z})) << done;
    const float u1 = 0.18333334f - 0.4f;  // past the list
    EXPECT_TRUE(Near(Pos(e1), {f.x + u1 * a.x, 0, f.z + u1 * a.z})) << done;
  }
  EXPECT_EQ(light->GetMesh()->sharedMesh->materials[0].diffuse[3], 1.0f);

  // Behind the camera the light is not moved.
  light->SetPos({0, 0, 100});
  StepFrame(*scene);
  EXPECT_TRUE(Near(Pos(light), {0, 0, 100}));
}

// A light in front of the camera but outside the view fades out and stays
// out: it is not obstruction-tested while it is culled and out of view.
TEST_F(FlareNode, OffScreenLightStaysHidden) {
  auto* node = OvArenaNew<OvLensFlareNode>(arena);
  OvClump* light = nullptr;
  AddObject(*scene, "light", &light, {500, 0, -100});
  light->SetMesh(Quad(1.0f));
  ASSERT_TRUE(light->CalcToWorldMatrix());
  ASSERT_TRUE(light->AddAniCtrl(OvNodeController(node, light)));
  int shown = 0;
  for (int i = 0; i < 90; ++i) {
    StepFrame(*scene);
    if (i >= 40 && !light->IsInvisible()) ++shown;
  }
  EXPECT_EQ(shown, 0);
}

TEST_F(FlareNode, StoredBlockAndValues) {
  auto* node = OvArenaNew<OvLensFlareNode>(arena);
  node->checkMask = 3, node->checkValue = 1, node->visibleRange = 80.0f;
  node->count = 2;
  node->ratios = OvArenaNewArray<float>(arena, 2);
  node->ratios[0] = -0.25f, node->ratios[1] = 1.5f;
  OvStream out;
  ASSERT_TRUE(out.OpenMemoryWrite());
  ASSERT_TRUE(node->Write(out));
  const std::vector<uint8_t> block(out.Image(), out.Image() + out.ImageSize());
  ASSERT_EQ(block.size(), 44u);
  for (size_t cut = 0; cut <= block.size(); ++cut) {
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(block.data(), cut));
    OvLensFlareNode back;
    ASSERT_EQ(back.Read(in, arena), cut == block.size()) << cut;
    if (cut < block.size()) continue;
    OvStream again;
    ASSERT_TRUE(again.OpenMemoryWrite());
    ASSERT_TRUE(back.Write(again));
    EXPECT_EQ(std::vector<uint8_t>(again.Image(), again.Image() + again.ImageSize()), block);
  }

  struct Case {
    const char* name;
    bool multiple;
    const char* text;
    std::vector<float> ratios;
  };
  const Case cases[] = {
      {"single", false, "1,2", {}},
      {"own list", true, "0.5; -1\t2\r\n3 ,", {0.5f, -1.0f, 2.0f, 3.0f}},
      {"default list",
       true,
       nullptr,
       {-0.43f, -0.31f, -0.19f, 0.37f, 0.5f, 0.7f, 0.92f, 1.26f, 1.45f, 1.6f, 1.7f, 1.8f}},
  };
  OvNodeType* type = OvFlareNodeTypeCreate(OV_NODE_LENS_FLARE, "Lens Flare");
  for (const Case& c : cases) {
    OvParamValue slots[11] = {};
    slots[0].w[0] = 0x10003, slots[0].w[1] = 1;
    slots[2].w[0] = 1;
    slots[3].w[0] = std::bit_cast<uint32_t>(30.0f);
    slots[5].w[0] = std::bit_cast<uint32_t>(0.5f);
    slots[8].w[0] = c.multiple;
    slots[9].w[0] = uint32_t(uintptr_t(c.text)), slots[9].w[1] = uint32_t(uintptr_t(c.text) >> 32);
    auto* made = static_cast<OvLensFlareNode*>(type->CreateFromValues(arena, slots, 11));
    ASSERT_NE(made, nullptr) << c.name;
    EXPECT_EQ(made->checkMask, 3u) << c.name;
    EXPECT_EQ(std::vector<float>(made->ratios, made->ratios + made->count), c.ratios) << c.name;
  }
  EXPECT_EQ(type->CreateFromValues(arena, nullptr, 0), nullptr);
  delete type;
}

}  // namespace
