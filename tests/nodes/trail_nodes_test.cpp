// "Drag Shine": rows streaming behind the parent's vertices in a ticking
// scene, its stored block and CreateFromValues.
#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "../scene/scene_fixture.h"
#include "ov_nodes.h"
#include "ov_stream.h"
#include "ov_trail_nodes.h"

namespace {

class TrailNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene->SetRenderer(&renderer);
    AddCamera(*scene);
  }
  void TearDown() override {
    delete scene;
    db->Destroy();
  }
  // A grid of `rows` rows of two vertices (row length in mesh word A, or
  // none: the two listed vertices make a row).
  OvMesh* Grid(int rows, int32_t wordA = 2) {
    OvMesh* mesh = MakeQuadMesh(*db, 1.0f, false);
    mesh->vertexCount = 2 * rows;
    mesh->positions = OvArenaNewArray<float>(db->Arena(), size_t(6 * rows));
    mesh->wordA = wordA;
    return mesh;
  }
  OvDragShineNode* Node(int32_t interval, std::vector<int32_t> list) {
    auto* node = OvArenaNew<OvDragShineNode>(arena);
    node->interval = interval;
    node->count = int32_t(list.size());
    node->vertices = OvArenaNewArray<int32_t>(arena, list.size());
    for (size_t i = 0; i < list.size(); ++i) node->vertices[i] = list[i];
    return node;
  }

  RecordingRenderer renderer{nullptr};
  OvDatabase* db = OvDatabase::Create();
  OvScene* scene = new OvScene();
  OvChunkArena arena;
};

TEST_F(TrailNodes, RowsShowWhereTheParentsVerticesWere) {
  struct Case {
    const char* name;
    float speed;  // parent x per time unit
    int frames;   // after the setup frame
    float step;   // time units between rows
    int32_t wordA = 2;
  };
  // Five rows at interval 10: the trail grows for 40 units, then keeps 10
  // units between rows (the oldest row 40 units back).
  const Case cases[] = {
      {"first frame: no length", 1.0f, 1, 0.0f},
      {"growing", 1.0f, 8, 2.0f},
      {"growing", 1.0f, 20, 5.0f},
      {"full", 1.0f, 40, 10.0f},
      {"full", 1.0f, 75, 10.0f},
      {"still parent", 0.0f, 75, 0.0f},
      {"row length from the list", 1.0f, 75, 10.0f, 0},
  };
  for (const Case& c : cases) {
    OvClump* parent = nullptr;
    AddObject(*scene, "blade", &parent, {0, 0, -10});
    parent->SetMesh(MakeQuadMesh(*db, 1.0f, false));
    OvClump* trail = OvClump::Create();
    trail->SetMesh(Grid(5, c.wordA));
    parent->AttachChild(trail);
    ASSERT_TRUE(parent->CalcToWorldMatrix() && trail->CalcToWorldMatrix());
    ASSERT_TRUE(trail->AddAniCtrl(OvNodeController(Node(10, {0, 2}), trail)));
    const int32_t start = scene->GetTime();
    for (int f = 0; f <= c.frames; ++f) {
      parent->SetPos({c.speed * float(scene->GetTime() - start), 0, -10});
      StepFrame(*scene);
    }
    const float* p = trail->GetMesh()->positions;
    ASSERT_NE(p, trail->GetMesh()->sharedMesh->positions) << c.name;
    // Row 0 is the parent's vertices 0 and 2 around the trail's origin,
    // which sits on vertex 0.
    EXPECT_TRUE(Near({p[0], p[1], p[2]}, {0, 0, 0})) << c.name;
    EXPECT_TRUE(Near({p[3], p[4], p[5]}, {2, 2, 0})) << c.name;
    EXPECT_NEAR((*trail->GetToWorldMatrix()).m[3][1], -1.0f, 1e-4f) << c.name;
    for (int k = 1; k < 5; ++k) {
      const float back = -c.speed * c.step * float(k);
      EXPECT_TRUE(Near({p[6 * k], p[6 * k + 1], p[6 * k + 2]}, {back, 0, 0})) << c.name << " row " << k;
      EXPECT_TRUE(Near({p[6 * k + 3], p[6 * k + 4], p[6 * k + 5]}, {back + 2, 2, 0})) << c.name << " row " << k;
    }
    EXPECT_TRUE(trail->GetMesh()->changeFlags & ACF_VERTS) << c.name;
    scene->DelLogObj(parent->GetLogObj());
  }
}

TEST_F(TrailNodes, StoredBlockAndValues) {
  OvDragShineNode* node = Node(12, {3, 5, -1});
  OvStream out;
  ASSERT_TRUE(out.OpenMemoryWrite());
  ASSERT_TRUE(node->Write(out));
  const std::vector<uint8_t> block(out.Image(), out.Image() + out.ImageSize());
  ASSERT_EQ(block.size(), 20u);
  for (size_t cut = 0; cut <= block.size(); ++cut) {
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(block.data(), cut));
    OvDragShineNode back;
    ASSERT_EQ(back.Read(in, arena), cut == block.size()) << cut;
    if (cut < block.size()) continue;
    OvStream again;
    ASSERT_TRUE(again.OpenMemoryWrite());
    ASSERT_TRUE(back.Write(again));
    EXPECT_EQ(std::vector<uint8_t>(again.Image(), again.Image() + again.ImageSize()), block);
  }
  const uint8_t negative[8] = {12, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  OvStream in;
  ASSERT_TRUE(in.OpenMemory(negative, sizeof(negative)));
  OvDragShineNode back;
  EXPECT_FALSE(back.Read(in, arena));

  // The list text and 0.5 s over the owner's four rows at 60 units a second.
  OvClump* owner = nullptr;
  AddObject(*scene, "trail", &owner);
  owner->SetMesh(Grid(4));
  const char* text = "3,5 8\t12\n1";
  OvParamValue slots[6] = {};
  slots[2].w[0] = uint32_t(uintptr_t(text)), slots[2].w[1] = uint32_t(uintptr_t(text) >> 32);
  slots[3].w[0] = uint32_t(uintptr_t(owner)), slots[3].w[1] = uint32_t(uintptr_t(owner) >> 32);
  slots[5].w[0] = std::bit_cast<uint32_t>(0.5f);
  OvNodeType* type = OvTrailNodeTypeCreate(OV_NODE_DRAG_SHINE, "Drag Shine");
  auto* made = static_cast<OvDragShineNode*>(type->CreateFromValues(arena, slots, 6));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->interval, 10);
  EXPECT_EQ(std::vector<int32_t>(made->vertices, made->vertices + made->count), (std::vector<int32_t>{3, 5, 8, 12, 1}));
  EXPECT_EQ(type->CreateFromValues(arena, slots, 5), nullptr);
  delete type;
}

}  // namespace
