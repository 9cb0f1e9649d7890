// Ray picking: which drawn clump lies under a viewport pixel, and where the
// ray hits it.
#pragma once

#include <cstdint>

#include "ov_math.h"

class OvClump;
class OvScene;
struct OvMesh;

inline constexpr int OV_RAY_NEAREST = 0;
inline constexpr int OV_RAY_COLLECT = 1;

// Ray through `start` and `end` against a mesh's triangles (both sides).
// With a world matrix, start, end and the hit points are in world space and
// the mesh is placed by the matrix; without one everything is model space.
// Nearest: the single nearest hit at or beyond start (count becomes 1).
// Collect: up to `count` hits on the line in triangle order; count becomes
// the number found. False when nothing was hit. Indices out of the vertex
// range are skipped.
bool OvRayMeshTest(const OvVector& start, const OvVector& end, int mode, const OvMesh& mesh, const OvMatrix* world,
                   int32_t* outTriangles, OvVector* outPoints, int& count);

// The clump drawn this frame under pixel (x, y), nearest to the camera.
// `include` (if not null) must occur in the clump's name; a named clump
// whose name holds `exclude` is skipped. outHit and outTriangle are written
// only on a hit (either may be null).
OvClump* OvPickFilmCoord(float x, float y, OvScene& scene, const char* include, const char* exclude, OvVector* outHit,
                         int32_t* outTriangle);

// The same for an arbitrary world ray from start through start + dir.
OvClump* OvPickRay(const OvVector& start, const OvVector& dir, OvScene& scene, const char* include, const char* exclude,
                   OvVector* outHit, int32_t* outTriangle);
