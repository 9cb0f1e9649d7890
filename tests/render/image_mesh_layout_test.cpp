// Mesh buffer layout rules, the tangent basis, the shadow ring size and the
// volume-fog projection rule (no device needed).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ov_mesh.h"
#include "ov_mesh_draw.h"

namespace {

// A grid mesh of n x n quads with every array filled; sets use the position
// index list unless told otherwise.
struct TestMesh {
  std::vector<float> positions, normals, coords[10];
  std::vector<uint32_t> indices, colors, ownIndices;
  std::vector<OvTexCoordSet> sets;
  OvMesh mesh;

  explicit TestMesh(int quads, int setCount = 1, bool colours = false) {
    const int side = quads + 1;
    for (int y = 0; y < side; ++y) {
      for (int x = 0; x < side; ++x) {
        positions.insert(positions.end(), {float(x), float(y), 0.0f});
        normals.insert(normals.end(), {0.0f, 0.0f, -1.0f});
        colors.push_back(0xFF000000u | uint32_t(x * 40) << 16 | uint32_t(y * 40));
        for (int s = 0; s < setCount; ++s) coords[s].insert(coords[s].end(), {float(x) / quads, float(y) / quads});
      }
    }
    for (int y = 0; y < quads; ++y) {
      for (int x = 0; x < quads; ++x) {
        const uint32_t a = uint32_t(y * side + x), b = a + 1, c = a + uint32_t(side), d = c + 1;
        indices.insert(indices.end(), {a, c, b, b, c, d});
      }
    }
    sets.resize(size_t(setCount));
    for (int s = 0; s < setCount; ++s) {
      sets[size_t(s)].coordCount = int32_t(coords[s].size() / 2);
      sets[size_t(s)].coords = coords[s].data();
    }
    mesh.vertexCount = side * side;
    mesh.positions = positions.data();
    mesh.normals = normals.data();
    mesh.colors = colours ? colors.data() : nullptr;
    mesh.triangleCount = quads * quads * 2;
    mesh.indexCount = int32_t(indices.size());
    mesh.indices = indices.data();
    mesh.setCount = setCount;
    mesh.sets = setCount ? sets.data() : nullptr;
  }
};

}  // namespace

TEST(MeshLayout, TwoTrianglesAreAlwaysExpanded) {
  TestMesh m(1);
  const OvMeshLayout l = OvComputeMeshLayout(m.mesh, -1, false);
  EXPECT_FALSE(l.indexed);
  EXPECT_EQ(l.vertexCount, 6u);
  EXPECT_EQ(l.triangles, 2u);
  EXPECT_EQ(l.stride, 24 + 8);
}

TEST(MeshLayout, MoreTrianglesSharingThePositionListAreIndexed) {
  TestMesh m(2, 2);
  OvMeshLayout l = OvComputeMeshLayout(m.mesh, -1, false);
  EXPECT_TRUE(l.indexed);
  EXPECT_EQ(l.vertexCount, 9u);
  EXPECT_EQ(l.triangles, 8u);
  EXPECT_EQ(l.indexSize, 2);
  // A copy of the position list is the same list.
  m.ownIndices = m.indices;
  m.sets[1].indices = m.ownIndices.data();
  m.sets[1].indexCount = int32_t(m.ownIndices.size());
  EXPECT_TRUE(OvComputeMeshLayout(m.mesh, -1, false).indexed);
}

TEST(MeshLayout, SecondSetWithItsOwnIndexListIsExpanded) {
  TestMesh m(2, 2);
  m.ownIndices = m.indices;
  std::swap(m.ownIndices[0], m.ownIndices[1]);
  m.sets[1].indices = m.ownIndices.data();
  m.sets[1].indexCount = int32_t(m.ownIndices.size());
  EXPECT_TRUE(OvMeshSetUsesPositionIndices(m.mesh, 0));
  EXPECT_FALSE(OvMeshSetUsesPositionIndices(m.mesh, 1));
  const OvMeshLayout l = OvComputeMeshLayout(m.mesh, -1, false);
  EXPECT_FALSE(l.indexed);
  EXPECT_EQ(l.vertexCount, 24u);
}

TEST(MeshLayout, SetWithFewerCoordinatesThanVerticesIsExpanded) {
  TestMesh m(2, 1);
  m.sets[0].coordCount = m.mesh.vertexCount - 1;
  EXPECT_FALSE(OvComputeMeshLayout(m.mesh, -1, false).indexed);
}

TEST(MeshLayout, TenSetsAreCappedAtEight) {
  TestMesh m(2, 10);
  const OvMeshLayout l = OvComputeMeshLayout(m.mesh, -1, false);
  EXPECT_EQ(l.texSets, 8);
  EXPECT_EQ(l.stride, 24 + 64);
  EXPECT_EQ(l.flags, uint32_t(VF_XYZ | VF_NORMAL));
}

TEST(MeshLayout, ColoursAndBumpDecideTheFormat) {
  TestMesh m(2, 2, true);
  OvMeshLayout l = OvComputeMeshLayout(m.mesh, -1, false);
  EXPECT_EQ(l.flags, uint32_t(VF_XYZ | VF_NORMAL | VF_DIFFUSE));
  EXPECT_EQ(l.stride, 24 + 4 + 16);
  // Software bump: diffuse and specular carry the light vector and colour.
  l = OvComputeMeshLayout(m.mesh, 1, false);
  EXPECT_TRUE(l.softwareBump);
  EXPECT_EQ(l.flags, uint32_t(VF_XYZ | VF_NORMAL | VF_DIFFUSE | VF_SPECULAR));
  EXPECT_EQ(l.stride, 24 + 4 + 4 + 16);
  // A tangent stream instead: no vertex colours with a bump set.
  l = OvComputeMeshLayout(m.mesh, 1, true);
  EXPECT_FALSE(l.softwareBump);
  EXPECT_TRUE(l.tangentStream);
  EXPECT_EQ(l.flags, uint32_t(VF_XYZ | VF_NORMAL));
  // A bump set the mesh does not have is no bump set.
  l = OvComputeMeshLayout(m.mesh, 5, false);
  EXPECT_FALSE(l.softwareBump);
  EXPECT_EQ(l.flags, uint32_t(VF_XYZ | VF_NORMAL | VF_DIFFUSE));
}

TEST(MeshLayout, BrokenCountsDrawOnlyWhatIsThere) {
  TestMesh m(2);
  m.mesh.triangleCount = 100;  // more than the index list holds
  EXPECT_EQ(OvComputeMeshLayout(m.mesh, -1, false).triangles, 8u);
  m.mesh.positions = nullptr;
  EXPECT_EQ(OvComputeMeshLayout(m.mesh, -1, false).vertexCount, 0u);
  TestMesh empty(0);
  EXPECT_EQ(OvComputeMeshLayout(empty.mesh, -1, false).vertexCount, 0u);
}

TEST(MeshLayout, TangentBasisFollowsTheCoordinates) {
  TestMesh m(2, 1);
  // u grows with x, v with y; normals face -z.
  std::vector<float> basis(size_t(m.mesh.vertexCount) * 9);
  ASSERT_TRUE(OvComputeTangentBasis(m.mesh, 0, basis.data()));
  for (int v = 0; v < m.mesh.vertexCount; ++v) {
    const float* r = basis.data() + 9 * v;
    EXPECT_NEAR(std::fabs(r[0]), 1.0f, 1e-5f) << v;  // T along x
    EXPECT_NEAR(r[1], 0.0f, 1e-5f);
    EXPECT_NEAR(std::fabs(r[4]), 1.0f, 1e-5f);  // B along y
    EXPECT_NEAR(r[3], 0.0f, 1e-5f);
    EXPECT_NEAR(r[8], -1.0f, 1e-5f) << v;  // N turned toward the vertex normal
  }
  EXPECT_FALSE(OvComputeTangentBasis(m.mesh, 3, basis.data()));
}

TEST(MeshLayout, PackedTangentVectors) {
  EXPECT_EQ(OvPackTangentVector({0.0f, 0.0f, 1.0f}), 0xFF7F7FFFu);
  EXPECT_EQ(OvPackTangentVector({-1.0f, 1.0f, 0.0f}), 0xFF00FF7Fu);
}

TEST(ShadowRing, CapacityFromTheLimit) {
  EXPECT_EQ(OvShadowRingTriangles(20000), 10000u);
  EXPECT_EQ(OvShadowRingTriangles(50000), 10000u);
  EXPECT_EQ(OvShadowRingTriangles(100), 50u);
  EXPECT_EQ(OvShadowRingTriangles(0), 0u);
}

TEST(VolumeFog, MovesTheNearPlaneOfAPerspectiveProjection) {
  OvMatrix p;
  OvMatPerspective(p, 1.0f, 10.0f, 1000.0f);
  ASSERT_EQ(p.m[3][3], 0.0f);
  OvMatrix q = p;
  ASSERT_TRUE(OvVolumeFogProjection(q, 40.0f));
  const float n = -q.m[3][2] / q.m[2][2];
  const float f = n / (1.0f - 1.0f / q.m[2][2]);
  EXPECT_NEAR(n, 50.0f, 1e-2f);
  EXPECT_NEAR(f, 1000.0f, 1.0f);
  EXPECT_EQ(q.m[0][0], p.m[0][0]);
  EXPECT_EQ(q.m[2][3], p.m[2][3]);
}

TEST(VolumeFog, LeavesOtherProjectionsAlone) {
  OvMatrix p;
  OvMatPerspective(p, 1.0f, 10.0f, 1000.0f);
  OvMatrix q = p;
  EXPECT_FALSE(OvVolumeFogProjection(q, 0.0f));
  // Past the far plane there is nothing to project.
  EXPECT_FALSE(OvVolumeFogProjection(q, 2000.0f));
  OvMatrix ortho;
  OvMatrixIdentity(ortho);
  EXPECT_FALSE(OvVolumeFogProjection(ortho, 5.0f));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(q.m[r][c], p.m[r][c]);
}
