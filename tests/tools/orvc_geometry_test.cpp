#include <gtest/gtest.h>

#include <cmath>

#include "orvc_geometry.h"
#include "orvc_image.h"

namespace {

struct V {
  double x, y, z;
};

V At(const std::vector<float>& p, uint32_t i) { return {p[3 * i], p[3 * i + 1], p[3 * i + 2]}; }

// Every triangle of a closed convex shape centred on the origin must face
// away from the centre (counter-clockwise seen from outside), and its corner
// normals must agree with that side.
void ExpectOutward(const OrvcMeshData& m, const char* what) {
  ASSERT_EQ(OrvcCheckMesh(m), "") << what;
  ASSERT_EQ(m.normals.size(), m.positions.size()) << what;
  for (size_t t = 0; t < m.indices.size(); t += 3) {
    const V a = At(m.positions, m.indices[t]), b = At(m.positions, m.indices[t + 1]),
            c = At(m.positions, m.indices[t + 2]);
    const V e1{b.x - a.x, b.y - a.y, b.z - a.z}, e2{c.x - a.x, c.y - a.y, c.z - a.z};
    const V n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    const V centroid{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
    const double area2 = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    ASSERT_GT(area2, 0.0) << what << ": degenerate triangle " << t / 3;
    EXPECT_GT(n.x * centroid.x + n.y * centroid.y + n.z * centroid.z, 0.0) << what << ": triangle " << t / 3;
    for (int k = 0; k < 3; ++k) {
      const V vn = At(m.normals, m.indices[t + k]);
      EXPECT_GT(vn.x * n.x + vn.y * n.y + vn.z * n.z, 0.0) << what << ": corner normal of triangle " << t / 3;
    }
  }
}

TEST(OrvcGeometry, ShapesAreClosedOutwardAndConsistent) {
  ExpectOutward(OrvcMakeBox(2, 4, 6), "box");
  ExpectOutward(OrvcMakeSphere(3, 12, 7), "sphere");
  ExpectOutward(OrvcMakeCylinder(2, 5, 9, true, true), "cylinder");
  ExpectOutward(OrvcMakeCone(2, 5, 9, true), "cone");
  ExpectOutward(OrvcMakeRoundedBox(4, 6, 8, 1, 3), "rounded box");
  ExpectOutward(OrvcMakeRoundedBox(4, 6, 8, 0, 1), "rounded box with radius 0");
}

TEST(OrvcGeometry, CountsOfGeneratedShapes) {
  const OrvcMeshData box = OrvcMakeBox(1, 1, 1);
  EXPECT_EQ(box.VertexCount(), 24);
  EXPECT_EQ(box.TriangleCount(), 12);
  ASSERT_EQ(box.sets.size(), 1u);
  EXPECT_EQ(box.sets[0].indices, box.indices);  // indexable by one list
  EXPECT_EQ(box.sets[0].coords.size(), 48u);

  // Poles collapse: 2 x segments triangles fewer than a full grid.
  const OrvcMeshData sphere = OrvcMakeSphere(1, 8, 4);
  EXPECT_EQ(sphere.VertexCount(), 9 * 5);
  EXPECT_EQ(sphere.TriangleCount(), 2 * 8 * 4 - 2 * 8);

  EXPECT_EQ(OrvcMakeCylinder(1, 1, 6, false, false).TriangleCount(), 12);
  EXPECT_EQ(OrvcMakeCylinder(1, 1, 6, true, false).TriangleCount(), 18);
  EXPECT_EQ(OrvcMakeDisc(1, 3).TriangleCount(), 3);  // clamped to the minimum
  EXPECT_EQ(OrvcMakeDisc(1, 1).TriangleCount(), 3);
  EXPECT_EQ(OrvcMakePlane(1, 1).TriangleCount(), 2);
}

TEST(OrvcGeometry, FlatShapesFaceUp) {
  for (const OrvcMeshData& m : {OrvcMakePlane(2, 3), OrvcMakeDisc(1, 7)}) {
    for (size_t t = 0; t < m.indices.size(); t += 3) {
      const V a = At(m.positions, m.indices[t]), b = At(m.positions, m.indices[t + 1]),
              c = At(m.positions, m.indices[t + 2]);
      EXPECT_GT((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x), 0.0);
    }
  }
}

TEST(OrvcGeometry, RoundedBoxKeepsItsExtents) {
  float b[10];
  OrvcComputeBounds(OrvcMakeRoundedBox(4, 6, 8, 1.5f, 3).positions, b);
  EXPECT_FLOAT_EQ(b[4], -2);
  EXPECT_FLOAT_EQ(b[5], -3);
  EXPECT_FLOAT_EQ(b[6], -4);
  EXPECT_FLOAT_EQ(b[7], 2);
  EXPECT_FLOAT_EQ(b[8], 3);
  EXPECT_FLOAT_EQ(b[9], 4);
}

TEST(OrvcGeometry, BoundsEncloseEveryVertex) {
  const std::vector<float> p = {1, 2, 3, -1, 0, 5, 3, 2, -1};
  float b[10];
  OrvcComputeBounds(p, b);
  EXPECT_FLOAT_EQ(b[0], 1);  // centre of the box (-1..3, 0..2, -1..5)
  EXPECT_FLOAT_EQ(b[1], 1);
  EXPECT_FLOAT_EQ(b[2], 2);
  EXPECT_FLOAT_EQ(b[4], -1);
  EXPECT_FLOAT_EQ(b[9], 5);
  for (size_t i = 0; i < p.size(); i += 3) {
    const double d = std::sqrt(std::pow(p[i] - b[0], 2) + std::pow(p[i + 1] - b[1], 2) + std::pow(p[i + 2] - b[2], 2));
    EXPECT_LE(d, b[3]);
  }
  float none[10];
  OrvcComputeBounds({}, none);
  for (float v : none) EXPECT_EQ(v, 0.0f);
}

TEST(OrvcGeometry, SmoothNormalsAverageFaces) {
  OrvcMeshData m;
  // Two triangles folded along the x axis: one facing +z, one facing -y.
  m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, -1};
  m.indices = {0, 1, 2, 0, 3, 1};
  OrvcSmoothNormals(m);
  EXPECT_NEAR(m.normals[2 * 3 + 2], 1.0, 1e-6);              // vertex 2: first face only
  EXPECT_NEAR(m.normals[3 * 3 + 1], -1.0, 1e-6);             // vertex 3: second face only
  EXPECT_NEAR(m.normals[0 * 3 + 1], -std::sqrt(0.5), 1e-6);  // shared: the mean
  EXPECT_NEAR(m.normals[0 * 3 + 2], std::sqrt(0.5), 1e-6);
}

TEST(OrvcGeometry, CheckFindsInconsistentArrays) {
  OrvcMeshData m = OrvcMakePlane(1, 1);
  EXPECT_EQ(OrvcCheckMesh(m), "");
  m.indices[4] = 9;
  EXPECT_NE(OrvcCheckMesh(m).find("index 9"), std::string::npos);
  m = OrvcMakePlane(1, 1);
  m.colors = {1, 2};
  EXPECT_NE(OrvcCheckMesh(m).find("colors"), std::string::npos);
  m = OrvcMakePlane(1, 1);
  m.sets[0].indices.pop_back();
  EXPECT_NE(OrvcCheckMesh(m).find("coordinate set 0"), std::string::npos);
}

TEST(OrvcImage, PacksChannelsFromTheTopBits) {
  EXPECT_EQ(OrvcPack16(0xFFFF0000u, 0, 5, 6, 5), 0xF800);
  EXPECT_EQ(OrvcPack16(0xFF00FF00u, 0, 5, 6, 5), 0x07E0);
  EXPECT_EQ(OrvcPack16(0xFF0000FFu, 0, 5, 6, 5), 0x001F);
  EXPECT_EQ(OrvcPack16(0x80FF8040u, 1, 5, 5, 5), 0x8000 | 0x7C00 | (0x10 << 5) | 0x08);
  EXPECT_EQ(OrvcPack16(0x12345678u, 4, 4, 4, 4), 0x1357);
  EXPECT_EQ(OrvcPack16(0xFFE0E0C0u, 0, 3, 3, 2), 0xFF);
}

TEST(OrvcImage, FormatsByName) {
  const OrvcTextureFormat* f = OrvcFindTextureFormat("xrgb8888");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->alphaBits, 255);
  EXPECT_EQ(OrvcFindTextureFormat("p8")->paletteBits, 8);
  EXPECT_EQ(OrvcFindTextureFormat("rgba"), nullptr);
}

}  // namespace
