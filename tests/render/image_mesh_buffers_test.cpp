// Mesh device buffers on the device: creation, dirty groups, sharing between
// instances, subsets with their materials and shader objects, cull and colour
// states, the lost device, the shadow-volume pass.
#include "image_harness.h"
#include "trace_capture.h"

namespace image_test {
namespace {

// Records what mesh drawing asks of a shader object, and draws.
class RecordingShader : public OvShaderResource {
 public:
  void DrawSubset(OvMeshDrawer& drawer, int subset) override {
    subsets.push_back(subset);
    diffuseRed.push_back(drawer.Renderer().Material().diffuse[0]);
    cullModes.push_back(drawer.Renderer().CachedRenderState(RS_CULLMODE));
    drawer.DrawGeometry(subset);
  }
  std::vector<int> subsets;
  std::vector<float> diffuseRed;
  std::vector<uint32_t> cullModes;
};

struct ShaderRef {
  RecordingShader* shader = new RecordingShader;
  ~ShaderRef() { shader->Release(); }
};

OvMeshBuffers* Buffers(const OvMesh& m) { return static_cast<OvMeshBuffers*>(m.deviceBuffers); }

float PositionX(const OvMeshBuffers& b, uint32_t v) {
  float x;
  std::memcpy(&x, b.vertices + size_t(v) * b.layout.stride + b.format.offPosition, 4);
  return x;
}

float NormalZ(const OvMeshBuffers& b, uint32_t v) {
  float z;
  std::memcpy(&z, b.vertices + size_t(v) * b.layout.stride + b.format.offNormal + 8, 4);
  return z;
}

using MeshBuffers = ImageTest;

TEST_F(MeshBuffers, IndexedAndExpandedBuffers) {
  MeshData& indexed = NewMesh();
  MakeGrid(indexed, 2, -1, -1, 1, 1);
  indexed.Finish(1);
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), indexed.mesh, nullptr));
  OvMeshBuffers* b = Buffers(indexed.mesh);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->layout.indexed);
  EXPECT_NE(b->ibo.name, 0u);
  EXPECT_EQ(b->ibo.size, 8u * 3 * 2);
  EXPECT_EQ(b->vbo.size, 9u * 32);

  MeshData& pair = NewMesh();
  MakeGrid(pair, 1, -1, -1, 1, 1);
  pair.Finish(1);
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), pair.mesh, nullptr));
  b = Buffers(pair.mesh);
  EXPECT_FALSE(b->layout.indexed);
  EXPECT_EQ(b->ibo.name, 0u);
  EXPECT_EQ(b->vbo.size, 6u * 32);
  // Corner order follows the triangles: (a, c, b), (b, c, e).
  EXPECT_EQ(PositionX(*b, 0), -1.0f);
  EXPECT_EQ(PositionX(*b, 1), -1.0f);
  EXPECT_EQ(PositionX(*b, 2), 1.0f);
  EXPECT_EQ(PositionX(*b, 5), 1.0f);
}

TEST_F(MeshBuffers, OnlyDirtyGroupsAreRewritten) {
  MeshData& d = NewMesh();
  MakeGrid(d, 2, -1, -1, 1, 1);
  d.Finish(1);
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), d.mesh, nullptr));
  OvMeshBuffers* b = Buffers(d.mesh);
  EXPECT_EQ(b->dirty, 0u);

  d.positions[0] = -5.0f;
  d.normals[2] = 7.0f;
  // Without a change flag nothing is read again.
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), d.mesh, nullptr));
  EXPECT_EQ(PositionX(*b, 0), -1.0f);
  // Positions changed: the normal stays as it was.
  d.mesh.changeFlags = 0x1;
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), d.mesh, nullptr));
  EXPECT_EQ(PositionX(*b, 0), -5.0f);
  EXPECT_EQ(NormalZ(*b, 0), -1.0f);
  EXPECT_EQ(d.mesh.changeFlags, 0u);
  d.mesh.changeFlags = 0x10;
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), d.mesh, nullptr));
  EXPECT_EQ(NormalZ(*b, 0), 7.0f);
  EXPECT_EQ(Buffers(d.mesh), b);  // same buffers throughout
}

TEST_F(MeshBuffers, SetIndexChangeCanTurnTheBufferExpanded) {
  MeshData& d = NewMesh();
  MakeGrid(d, 2, -1, -1, 1, 1);
  d.Finish(2);
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), d.mesh, nullptr));
  EXPECT_TRUE(Buffers(d.mesh)->layout.indexed);
  std::vector<uint32_t> own(d.indices.rbegin(), d.indices.rend());
  d.sets[1].indices = own.data();
  d.sets[1].indexCount = int32_t(own.size());
  d.mesh.changeFlags = 0x02000000u;  // index list of set 1
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), d.mesh, nullptr));
  EXPECT_FALSE(Buffers(d.mesh)->layout.indexed);
  EXPECT_EQ(Buffers(d.mesh)->layout.vertexCount, 24u);
  OvReleaseMeshBuffers(d.mesh);
}

TEST_F(MeshBuffers, StaticInstancesShareAndAnimatedOnesDoNot) {
  MeshData& d = NewMesh();
  MakeGrid(d, 2, -1, -1, 1, 1);
  d.Finish(1);
  OvMesh* a = OvMeshMakePrivateCopy(d.mesh);
  OvMesh* b = OvMeshMakePrivateCopy(d.mesh);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), *a, nullptr));
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), *b, nullptr));
  ASSERT_NE(d.mesh.deviceBuffers, nullptr);
  EXPECT_EQ(a->deviceBuffers, d.mesh.deviceBuffers);
  EXPECT_EQ(b->deviceBuffers, d.mesh.deviceBuffers);
  EXPECT_EQ(Buffers(d.mesh)->refCount, 3);

  // Animating b's positions gives it buffers of its own.
  ASSERT_TRUE(OvMeshMakeChannelsPrivate(*b, OV_MESH_POSITIONS, 0));
  b->positions[0] = -3.0f;
  b->changeFlags = 0x1;
  ASSERT_TRUE(OvUpdateMeshBuffers(R(), *b, nullptr));
  EXPECT_NE(b->deviceBuffers, d.mesh.deviceBuffers);
  EXPECT_TRUE(Buffers(*b)->dynamic);
  EXPECT_EQ(PositionX(*Buffers(*b), 0), -3.0f);
  EXPECT_EQ(PositionX(*Buffers(d.mesh), 0), -1.0f);
  EXPECT_EQ(Buffers(d.mesh)->refCount, 2);

  OvReleaseMeshBuffers(*a);
  OvReleaseMeshBuffers(*b);
  EXPECT_EQ(Buffers(d.mesh)->refCount, 1);
  OvMeshReleasePrivateCopy(a);
  OvMeshReleasePrivateCopy(b);
}

TEST_F(MeshBuffers, SubsetsDrawWithTheirMaterialsAndShaders) {
  MeshData& d = NewMesh();
  MakeGrid(d, 2, -1, -1, 1, 1);
  d.Finish(1);
  ShaderRef s0, s1;
  OvMaterial materials[3] = {d.material, d.material, d.material};
  materials[0].diffuse[0] = 0.25f;
  materials[1].diffuse[0] = 0.5f;
  materials[2].diffuse[0] = 0.75f;
  void* resources[3] = {s0.shader, nullptr, s1.shader};
  uint32_t ranges[6] = {0, 4, 4, 2, 6, 2};
  d.mesh.subsetCount = 3;
  d.mesh.materials = materials;
  d.mesh.resources = resources;
  d.mesh.ranges = ranges;

  TraceCapture trace;
  BeginFrame();
  Draw(d);
  Draw(d);
  EndFrame();
  EXPECT_EQ(s0.shader->subsets, (std::vector<int>{0, 0}));
  EXPECT_EQ(s1.shader->subsets, (std::vector<int>{2, 2}));
  EXPECT_EQ(s0.shader->diffuseRed[0], 0.25f);
  EXPECT_EQ(s1.shader->diffuseRed[0], 0.75f);
  // The subset without a shader object is skipped, with one trace line.
  size_t lines = 0;
  for (size_t at = trace.Text().find("!!! No shader in the mesh, why ?\n"); at != std::string::npos;
       at = trace.Text().find("!!! No shader in the mesh, why ?\n", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u);
  d.mesh.materials = &d.material;
  d.mesh.resources = &d.resource;
  d.mesh.ranges = nullptr;
  d.mesh.subsetCount = 1;
}

TEST_F(MeshBuffers, TwoSidedCullingAndVertexColourStates) {
  ShaderRef s;
  MeshData& twoSided = NewMesh();
  MakeGrid(twoSided, 2, -1, -1, 1, 1);
  twoSided.colors.assign(9, 0xFF00FF00u);
  twoSided.Finish(0);
  twoSided.mesh.flags = OV_MESH_TWO_SIDED;
  twoSided.resource = s.shader;
  MeshData& plain = NewMesh();
  MakeGrid(plain, 2, -1, -1, 1, 1);
  plain.Finish(0);
  plain.resource = s.shader;

  BeginFrame();
  R().SetCullCCW(true);
  Draw(twoSided);
  EXPECT_EQ(R().CachedRenderState(RS_COLORVERTEX), 1u);
  EXPECT_EQ(R().CachedRenderState(RS_DIFFUSEMATERIALSOURCE), uint32_t(MCS_COLOR1));
  Draw(plain);
  EXPECT_EQ(R().CachedRenderState(RS_COLORVERTEX), 0u);
  EXPECT_EQ(R().CachedRenderState(RS_DIFFUSEMATERIALSOURCE), uint32_t(MCS_MATERIAL));
  EndFrame();
  EXPECT_EQ(s.shader->cullModes, (std::vector<uint32_t>{CULL_NONE, CULL_CCW}));
  EXPECT_EQ(R().WorldMode(), 1);
}

TEST_F(MeshBuffers, NothingIsDrawnWhileTheDeviceIsLost) {
  ShaderRef s;
  MeshData& d = NewMesh();
  MakeGrid(d, 2, -1, -1, 1, 1);
  d.Finish(0);
  d.resource = s.shader;
  R().SimulateDeviceLost();
  Draw(d);
  EXPECT_TRUE(s.shader->subsets.empty());
  EXPECT_EQ(d.mesh.deviceBuffers, nullptr);
  ASSERT_TRUE(R().SimulateDeviceReset());
  BeginFrame();
  Draw(d);
  EndFrame();
  EXPECT_EQ(s.shader->subsets.size(), 1u);
}

TEST_F(MeshBuffers, SoftwareBumpColoursCarryTheLightVector) {
  MeshData& d = NewMesh();
  MakeGrid(d, 2, -1, -1, 1, 1);
  d.Finish(1);
  OvGLTexture* normalMap = Texture32(std::vector<uint32_t>(16, 0xFF7F7FFFu), 4, 4);
  OvPassPlan* plan = Plan({Layer(OV_LAYER_BUMP, 0, 0)}, {normalMap}, 2);
  ASSERT_NE(plan, nullptr);
  d.resource = plan;
  BeginFrame();
  // A light straight in front of the grid's centre.
  OvLightData light = Light(OV_LIGHT_POINT, {0.0f, 0.0f, -2.0f}, {0, 0, 1}, 1.0f, 0.5f, 0.0f);
  R().SetActiveLight(&light, 0, 0);
  Draw(d);
  const Picture p = EndFrame();
  OvMeshBuffers* b = Buffers(d.mesh);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->layout.softwareBump);
  ASSERT_NE(b->basis, nullptr);
  uint32_t centre, desc;
  std::memcpy(&centre, b->vertices + 4 * size_t(b->layout.stride) + b->format.offDiffuse, 4);
  std::memcpy(&desc, b->vertices + 4 * size_t(b->layout.stride) + b->format.offSpecular, 4);
  // Tangent space: N faces the viewer (-z), so the light lies along +N.
  EXPECT_EQ(centre & 0xFFFFFF00u, 0xFF7F7F00u);
  EXPECT_GE(centre & 0xFF, 0xFEu);
  EXPECT_EQ(desc, 0xFFFF7F00u);
  // The pass states are given back.
  EXPECT_EQ(R().CachedRenderState(RS_LIGHTING), 1u);
  EXPECT_EQ(R().CachedRenderState(RS_SPECULARMATERIALSOURCE), uint32_t(MCS_MATERIAL));
  // The centre is lit by N . L with the light's colour: orange.
  const uint8_t* px = p.At(kSize / 2, kSize / 2);
  EXPECT_GT(int(px[0]), 200);
  EXPECT_GT(int(px[1]), 90);
  EXPECT_LT(int(px[2]), 30);
}

TEST_F(MeshBuffers, ShadowVolumeDarkensWhatItEncloses) {
  MeshData& wall = NewMesh();
  MakeGrid(wall, 2, -3, -3, 3, 3, 1.0f);
  wall.Finish(0);
  wall.resource = Plan({}, {}, 2);
  wall.material.emissive[0] = wall.material.emissive[1] = wall.material.emissive[2] = 1.0f;

  // A closed box from z = 0 to z = 2 around the left half: it crosses the wall.
  const float x0 = -3, x1 = 0, y0 = -3, y1 = 3, z0 = 0, z1 = 2;
  const float c[8][3] = {{x0, y0, z0}, {x1, y0, z0}, {x1, y1, z0}, {x0, y1, z0},
                         {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}};
  const int faces[12][3] = {{0, 1, 2}, {0, 2, 3}, {5, 4, 7}, {5, 7, 6}, {4, 0, 3}, {4, 3, 7},
                            {1, 5, 6}, {1, 6, 2}, {3, 2, 6}, {3, 6, 7}, {4, 5, 1}, {4, 1, 0}};
  std::vector<float> tris;
  for (const auto& f : faces)
    for (int k : f) tris.insert(tris.end(), {c[k][0], c[k][1], c[k][2]});
  OvClump* clump = OvClump::Create();
  OvMatrix identity;
  OvMatrixIdentity(identity);
  clump->SetToWorldMatrix(identity);
  OvShadowVolume volume{uint32_t(tris.size() / 3), tris.data(), clump};

  BeginFrame(0xFF000000u);
  Draw(wall);
  OvStatePair before[] = {{RS_ZWRITEENABLE, 0}, {RS_STENCILENABLE, 0}, {RS_CULLMODE, 0}, {RS_ALPHABLENDENABLE, 0}};
  R().GetRenderStates(before, 4);
  OvDrawShadowVolumes(R(), &volume, 1);
  OvStatePair after[] = {{RS_ZWRITEENABLE, 0}, {RS_STENCILENABLE, 0}, {RS_CULLMODE, 0}, {RS_ALPHABLENDENABLE, 0}};
  R().GetRenderStates(after, 4);
  const Picture p = EndFrame();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(after[i].value, before[i].value) << after[i].state;
  const uint8_t* shadowed = p.At(kSize / 4, kSize / 2);
  const uint8_t* lit = p.At(3 * kSize / 4, kSize / 2);
  EXPECT_GT(int(lit[0]), 240);
  // Black at alpha 0x60 over white leaves 255 x (1 - 0x60 / 255).
  EXPECT_NEAR(int(shadowed[0]), 159, 3);
  clump->Release();
}

}  // namespace
}  // namespace image_test
