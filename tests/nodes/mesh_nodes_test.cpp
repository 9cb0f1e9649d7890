// Mesh-writing nodes on clumps in a ticking scene (scrolled, waved and
// camera-derived coordinates, waved vertices and normals), their stored
// blocks and CreateFromValues.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>
#include "../scene/scene_fixture.h"
#include "ov_mesh_nodes.h"
#include "ov_nodes.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

class MeshNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene->SetRenderer(&renderer);
    AddCamera(*scene);
    OvFreeAllNodeTypes();
    OvRegisterNodeTypes();
  }
  void TearDown() override {
    OvFreeAllNodeTypes();
    delete scene;
    db->Destroy();
  }
  // The quad with normals and one coordinate set (u = vertex number).
  OvMesh* Mesh() {
    OvMesh* mesh = MakeQuadMesh(*db, 1.0f);
    mesh->normals = OvArenaNewArray<float>(db->Arena(), 12);
    for (int i : {2, 3, 7}) mesh->normals[i] = 1.0f;  // +Z, +X, +Y, -Z
    mesh->normals[11] = -1.0f;
    mesh->setCount = 1, mesh->sets = OvArenaNewArray<OvTexCoordSet>(db->Arena(), 1);
    mesh->sets[0].coordCount = 4, mesh->sets[0].coords = OvArenaNewArray<float>(db->Arena(), 8);
    for (int i = 0; i < 4; ++i) mesh->sets[0].coords[2 * i] = float(i);
    return mesh;
  }
  OvClump* Clump(OvVector pos, OvDbNode* node) {
    OvClump* c = nullptr;
    AddObject(*scene, "mesh", &c, pos);
    c->SetMesh(Mesh());
    EXPECT_TRUE(c->CalcToWorldMatrix() && c->AddAniCtrl(OvNodeController(node, c)));
    return c;
  }
  const float* Uv(const OvClump* c) { return c->GetMesh()->sets[0].coords; }

  RecordingRenderer renderer{nullptr};
  OvDatabase* db = OvDatabase::Create();
  OvScene* scene = new OvScene();
  OvChunkArena arena;
};

TEST_F(MeshNodes, FlowUvScrollsWithMotionAlongTheAxisOnly) {
  auto* node = OvArenaNew<OvFlowUvByMoveNode>(arena);
  node->uPerUnit = 0.01f, node->vPerUnit = 0.0f;  // direction 5: -Z
  OvClump* c = Clump({0, 0, 0}, node);
  StepFrame(*scene);
  for (int k = 1; k <= 3; ++k) {
    c->SetPos({0, 0, -float(k)});
    StepFrame(*scene);
    EXPECT_NEAR(Uv(c)[2], 1.0f + 0.01f * k, 1e-5f) << k;
    EXPECT_FLOAT_EQ(Uv(c)[3], 0.0f);
  }
  EXPECT_TRUE((c->GetSetChangeBits() & 0x10000u) && (c->GetMesh()->changeFlags & 0x10000u));
  c->SetPos({5, 2, -3});  // sideways
  StepFrame(*scene);
  EXPECT_TRUE(std::fabs(Uv(c)[2] - 1.03f) < 1e-5f && c->GetMesh()->sharedMesh->sets[0].coords[2] == 1.0f);

  auto* absent = OvArenaNew<OvFlowUvByMoveNode>(arena);
  absent->channel = 3;
  OvClump* d = Clump({0, 0, 0}, absent);
  d->SetPos({0, 0, -7}), StepFrame(*scene);
  EXPECT_TRUE(Uv(d)[2] == 1.0f && d->GetSetChangeBits() == 0u);
  absent->channel = 16;  // no mask can name it
  EXPECT_EQ(OvNodeController(absent, d), nullptr);
}

TEST_F(MeshNodes, SwingDeformHandValuesTablesAndPeriod) {
  OvSwingVertexNode node;
  node.amplitude[1] = node.amplitude[2] = 0.0f;  // (20, 0, 0), 0.5 Hz, seed 1
  const float src[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  float dst[9], later[9], out[9] = {};
  node.Deform(dst, src, 3, 0.5f);
  // Generator from seed 1: X indices 1, 3, 6.
  EXPECT_TRUE(Near({dst[0], dst[3], dst[6]}, {1.0f + 14.142136f, 4.0f - 14.142136f, 7.0f}, 1e-4f));
  for (int i : {1, 2, 4, 5, 7, 8}) EXPECT_FLOAT_EQ(dst[i], src[i]);
  node.Deform(later, src, 3, 2.5f);  // period 2 s
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(later[i], dst[i], 1e-3f);

  uint8_t table[2] = {0x2A, 0x2A};  // X 2, Y 5, Z 1
  node.table = table, node.tableCount = 2;
  for (int c = 0; c < 3; ++c) node.amplitude[c] = 1.0f, node.frequency[c] = 0.0f;
  node.Deform(out, src, 3, 0.0f);
  EXPECT_TRUE(Near({out[0], out[1], out[2]}, {2.0f, 2.0f - 0.70710678f, 3.0f + 0.70710678f}, 1e-5f));
  for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(out[3 + i] - src[3 + i], out[i] - src[i]);
  EXPECT_FLOAT_EQ(out[6], 0.0f);  // beyond the table: untouched
}

TEST_F(MeshNodes, SwingVertexSkipsCulledClumpsSwingNormalDoesNot) {
  auto* vertex = OvArenaNew<OvSwingVertexNode>(arena);
  auto* normal = OvArenaNew<OvSwingVertexNormalNode>(arena);
  vertex->amplitude[1] = vertex->amplitude[2] = normal->amplitude[0] = normal->amplitude[1] = 0.0f;
  EXPECT_EQ(OvNodeController(vertex, nullptr), OvNodeController(vertex, nullptr));  // shared
  OvClump* seen = Clump({0, 0, -10}, vertex);
  OvClump* hidden = Clump({0, 0, 100}, vertex);  // behind the camera
  hidden->AddAniCtrl(OvNodeController(normal, hidden));
  for (int i = 0; i < 20; ++i) StepFrame(*scene, 7);
  ASSERT_TRUE(!seen->IsCulled() && hidden->IsCulled());
  const OvMesh *m = seen->GetMesh(), *dbm = m->sharedMesh, *h = hidden->GetMesh();
  ASSERT_TRUE(dbm && m->positions != dbm->positions);
  float moved = 0.0f, bent = 0.0f;
  for (int i = 0; i < 12; ++i) {
    const float d = m->positions[i] - dbm->positions[i];
    EXPECT_TRUE(i % 3 == 0 ? std::fabs(d) <= 20.0f : d == 0.0f) << i;
    moved += std::fabs(d);
    EXPECT_FLOAT_EQ(h->positions[i], h->sharedMesh->positions[i]);  // culled: never deformed
    bent += std::fabs(h->normals[i] - h->sharedMesh->normals[i]);
  }
  EXPECT_TRUE(moved > 0.0f && bent > 0.0f);
  EXPECT_TRUE((seen->GetChangeFlags() & ACF_VERTS) && (m->changeFlags & ACF_VERTS));
  EXPECT_TRUE(hidden->GetChangeFlags() & ACF_NORMALS);
}

TEST_F(MeshNodes, SwingUvwFlowsAndWrapsEveryFourSeconds) {
  auto* node = OvArenaNew<OvSwingUvwNode>(arena);
  node->amplitude[0] = node->amplitude[1] = 0.0f, node->flow[0] = 0.25f;
  OvClump* c = Clump({0, 0, -10}, node);
  StepFrame(*scene);  // found visible by a cull: only then does it flow
  const int32_t second = scene->TimePerSec();
  const float expect[] = {0.25f, 0.5f, 0.75f, 0.0f, 0.25f};
  for (int k = 1; k <= 5; ++k) {
    node->TwoPass(c, k * second, T2PA_AFTER_CULL1);
    EXPECT_NEAR(Uv(c)[2], 1.0f + expect[k - 1], 1e-4f) << k;
  }
  EXPECT_TRUE(c->GetSetChangeBits() & 0x10000u);
}

TEST_F(MeshNodes, SphereEnvMapsCameraSpaceNormalsEvenWhenCulled) {
  auto* node = OvArenaNew<OvSphereEnvNode>(arena);
  OvClump* c = Clump({0, 0, 100}, node);  // behind the camera
  StepFrame(*scene);
  ASSERT_TRUE(c->IsCulled());
  const OvTexCoordSet& s = c->GetMesh()->sets[0];
  ASSERT_TRUE(s.coordCount == 4 && s.indices == c->GetMesh()->indices && s.indexCount == 6);
  const float want[8] = {0.5f, 0.5f, 1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.5f};  // front, right, up, back
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(s.coords[i], want[i], 1e-5f) << i;
  EXPECT_FLOAT_EQ(c->GetMesh()->sharedMesh->sets[0].coords[2], 1.0f);
  // A quarter turn about Y sends the +Z normal sideways on the screen (the
  // matrix of the animate is the one of the frame before).
  c->SetQuat({0.70710678f, {0.0f, 0.70710678f, 0.0f}});
  StepFrame(*scene), StepFrame(*scene);
  EXPECT_TRUE(Near({std::fabs(s.coords[0] - 0.5f), s.coords[1], 0}, {0.5f, 0.5f, 0}, 1e-4f));
  auto* missing = OvArenaNew<OvSphereEnvNode>(arena);
  missing->set = 2;  // the mesh has one set
  OvClump* d = Clump({0, 0, -10}, missing);
  StepFrame(*scene), StepFrame(*scene);
  EXPECT_TRUE(Uv(d)[2] == 1.0f && d->GetSetChangeBits() == 0u);
}

std::vector<uint8_t> Bytes(std::initializer_list<uint32_t> words, std::initializer_list<uint8_t> tail = {}) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) out.insert(out.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)});
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}
uint32_t F(float f) { return std::bit_cast<uint32_t>(f); }
OvParamValue Slot(uint32_t w0, uint32_t w1 = 0) { return OvParamValue{{w0, w1, 0, 0}}; }
void TraceTo(void* context, const char* text) { static_cast<std::string*>(context)->append(text); }

TEST_F(MeshNodes, BlocksReadAndWriteByteForByte) {
  const std::pair<OvTypeId, std::vector<uint8_t>> blocks[] = {
      {OV_NODE_FLOW_UV_BY_MOVE, Bytes({100, 2, 3, F(0.5f), F(-1.0f)})},
      {OV_NODE_SWING_VERTEX, Bytes({F(1), F(2), F(3), F(4), F(5), F(6), F(7), F(8), F(9), 3}, {7, 8, 9})},
      {OV_NODE_SWING_VERTEX_NORMAL, Bytes({F(1), F(2), F(3), F(4), F(5), F(6), F(7), F(8), F(9), 0})},
      {OV_NODE_SWING_UVW, Bytes({1, F(1), F(2), F(3), F(4), F(5), F(6), F(7), F(8), 42, 2}, {0x11, 0x22})},
      {OV_NODE_SPHERE_ENV, Bytes({100, 5})},
  };
  for (const auto& [pair, bytes] : blocks) {
    const OvNodeType* type = OvFindNodeType(pair.group, pair.id);
    OvDbNode* node = type->Create(arena);
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    EXPECT_TRUE(node->Read(in, arena) && in.Remaining() == 0u && node->Write(out)) << pair.id;
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes) << pair.id;
    // Short by one byte: for the tables, a count beyond the block.
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 1));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << pair.id;
  }
}

TEST_F(MeshNodes, ParameterTablesAndCreateFromValues) {
  int count = 0;
  const OvNodeParamDesc* uvw = OvFindNodeType(0, 1140)->GetParamTable(count);
  ASSERT_EQ(count, 14);
  EXPECT_TRUE(uvw[0].kind == 103 && uvw[1].kind == 105 && uvw[2].def.i == 1 && uvw[3].def.f == 0.1f);
  const OvParamValue flowValues[] = {Slot(2), Slot(3), Slot(F(0.5f)), Slot(F(0.25f))};
  auto* f = static_cast<OvFlowUvByMoveNode*>(OvFindNodeType(0, 1170)->CreateFromValues(arena, flowValues, 4));
  EXPECT_TRUE(f && f->channel == 2 && f->direction == 3 && f->uPerUnit == 0.5f && f->vPerUnit == 0.25f);
  EXPECT_EQ(OvFindNodeType(0, 1170)->CreateFromValues(arena, flowValues, 3), nullptr);
  const OvNodeType* sphere = OvFindNodeType(0, 1420);  // map channel 3, and one out of range
  const OvParamValue three[] = {Slot(3)}, wild[] = {Slot(17)};
  EXPECT_EQ(static_cast<OvSphereEnvNode*>(sphere->CreateFromValues(arena, three, 1))->set, 2);
  EXPECT_EQ(static_cast<OvSphereEnvNode*>(sphere->CreateFromValues(arena, wild, 1))->set, 0);

  // Swings need the clump they are added to (first slot) to have a mesh.
  OvClump* c = nullptr;
  AddObject(*scene, "owner", &c, {0, 0, 0});
  std::vector<OvParamValue> v(14, Slot(0));
  const uintptr_t address = reinterpret_cast<uintptr_t>(c);
  v[0] = Slot(uint32_t(address), uint32_t(uint64_t(address) >> 32));
  v[12] = Slot(9), v[13] = Slot(1);
  std::string traced;  // and one says so
  OvTraceSetSink(TraceTo, &traced);
  EXPECT_EQ(OvFindNodeType(0, 1154)->CreateFromValues(arena, v.data(), 14), nullptr);
  EXPECT_EQ(OvFindNodeType(0, 1140)->CreateFromValues(arena, v.data(), 14), nullptr);
  OvTraceSetSink(nullptr, nullptr);
  EXPECT_EQ(traced,
            "!!! Swing vertex normal must be added to a mesh.\n!!! Swing UV Mapping must be added to a mesh.\n");

  OvMesh* mesh = Mesh();
  mesh->positions[0] = -1.0f, mesh->positions[1] = 1.0f;  // vertices 0 and 2 at the same distance
  mesh->positions[3] = 3.0f, mesh->positions[4] = 0.0f;
  c->SetMesh(mesh);
  v[5] = Slot(F(0.5f));  // map channel 0 counts as 1
  auto* sv = static_cast<OvSwingVertexNode*>(OvFindNodeType(0, 1150)->CreateFromValues(arena, v.data(), 14));
  ASSERT_TRUE(sv && sv->table && sv->tableCount == 4u);
  EXPECT_TRUE(sv->seed == 9 && sv->frequency[0] == 0.5f && sv->table[0] == sv->table[2]);
  // Vertex 1 is 3 from the origin: the fourth value from seed 9.
  uint32_t x = 9;
  for (int i = 0; i < 4; ++i) x = x * 214013u + 2531011u;
  EXPECT_EQ(sv->table[1], uint8_t(x >> 16));

  // Coordinates take the phase of the vertex at the same corner.
  static uint32_t corners[6] = {3, 2, 1, 3, 1, 0};  // vertex 0 -> coord 3, 1 -> 2, 2 -> 1, 3 -> 0
  mesh->sets[0].indexCount = 6, mesh->sets[0].indices = corners;
  auto* uv = static_cast<OvSwingUvwNode*>(OvFindNodeType(0, 1140)->CreateFromValues(arena, v.data(), 14));
  ASSERT_TRUE(uv && uv->table && uv->tableCount == 4u && uv->set == 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(uv->table[3 - i], sv->table[i]) << i;
}

}  // namespace
