// Drawing particle sets: every live record becomes a camera-facing square, a
// line or a beam, written into one dynamic vertex buffer per set and drawn
// in one call with the set's texture and transparency.
#pragma once

#include <cstdint>

#include "ov_particle_set.h"

class OvRendererGL;

// Draws `set` (world space) with the current view and projection. The set
// keeps its vertex buffer between frames; it grows as the set does.
void OvDrawParticleSet(OvRendererGL& renderer, OvParticleSet& set);

// Vertices the set needs this frame (6 per square or beam, 3 per triangle
// beam, 2 per line).
uint32_t OvParticleVertexCount(const OvParticleSet& set);
