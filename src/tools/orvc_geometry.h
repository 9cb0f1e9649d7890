// Mesh geometry for the content compiler: generated shapes, normals and
// bounds, kept as plain arrays until they become a database mesh.
//
// Conventions: +Z is up; every shape is centred on the origin; triangles are
// counter-clockwise seen from outside (the right-hand normal of a, b, c points
// out), which is the side the default cull mode keeps. Generated shapes carry
// normals and one texture-coordinate set whose index list equals the
// position index list, with v = 0 at the top of the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OrvcCoordSet {
  uint32_t word = 0;
  std::vector<float> coords;      // (u, v) pairs
  std::vector<uint32_t> indices;  // three per triangle, into coords
};

struct OrvcMeshData {
  std::vector<float> positions;   // x, y, z per vertex
  std::vector<float> normals;     // empty, or x, y, z per vertex
  std::vector<uint32_t> colors;   // empty, or one 0xAARRGGBB per vertex
  std::vector<uint32_t> indices;  // three per triangle
  std::vector<OrvcCoordSet> sets;

  int VertexCount() const { return int(positions.size() / 3); }
  int TriangleCount() const { return int(indices.size() / 3); }
};

// Shapes. Sizes are full extents; counts are clamped to sensible minimums.
OrvcMeshData OrvcMakeBox(float sx, float sy, float sz);
OrvcMeshData OrvcMakePlane(float sx, float sy);
OrvcMeshData OrvcMakeDisc(float radius, int segments);
OrvcMeshData OrvcMakeCylinder(float radius, float height, int segments, bool top, bool bottom);
OrvcMeshData OrvcMakeCone(float radius, float height, int segments, bool bottom);
OrvcMeshData OrvcMakeSphere(float radius, int segments, int rings);
// A box whose edges and corners are rounded with `radius` (clamped to half
// the smallest extent), `segments` steps per quarter circle.
OrvcMeshData OrvcMakeRoundedBox(float sx, float sy, float sz, float radius, int segments);

// Area-weighted vertex normals from the triangles (zero-area triangles add
// nothing; a vertex no triangle uses gets (0, 0, 1)).
void OrvcSmoothNormals(OrvcMeshData& mesh);

// The ten bound values stored with a mesh: bounding sphere centre x, y, z and
// radius (centre of the axis-aligned box, radius to the farthest vertex),
// then the box minimum x, y, z and maximum x, y, z. All zero without vertices.
void OrvcComputeBounds(const std::vector<float>& positions, float out[10]);

// Checks the arrays against each other; empty when consistent, else what is
// wrong (counts, indices out of range).
std::string OrvcCheckMesh(const OrvcMeshData& mesh);
