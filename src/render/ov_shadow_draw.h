// Shadows cast by clumps with a "{c}Rigid Shadow" node: each frame the
// volume of the clump's mesh is built for the first directional light of the
// frame (the triangles facing the light, pushed a little along it, the same
// triangles far along it, and the sides along the silhouette edges between
// them), and every caster's volume goes through the stencil shadow pass
// together after the frame was drawn.
#pragma once

#include <cstdint>

#include "ov_math.h"
#include "ov_shadow_node.h"

struct OvMesh;

// The closed volume of a mesh lit along a direction, as triangles.
class OvShadowVolumeBuilder {
 public:
  OvShadowVolumeBuilder() = default;
  OvShadowVolumeBuilder(const OvShadowVolumeBuilder&) = delete;
  OvShadowVolumeBuilder& operator=(const OvShadowVolumeBuilder&) = delete;
  ~OvShadowVolumeBuilder();

  // `dir`: the way the light travels, in the mesh's space; the volume starts
  // `offset` along it from the lit triangles and reaches `offset + length`.
  // Triangles with an index outside the mesh are left out. Returns the
  // number of vertices written (three a triangle), 0 when there are none.
  uint32_t Build(const OvMesh& mesh, const OvVector& dir, float offset, float length);
  // Object-space positions, three floats a vertex.
  const float* Positions() const { return m_out; }

 private:
  bool Prepare(const OvMesh& mesh);

  const void* m_source = nullptr;  // the index array the tables were made for
  int32_t m_triangles = 0;
  int32_t m_vertices = 0;
  int32_t* m_neighbour = nullptr;  // per triangle edge, the triangle across it, -1 none
  uint8_t* m_facing = nullptr;
  float* m_out = nullptr;
};

// Installs the "{c}Rigid Shadow" controller's factory.
void OvInstallShadowController();
