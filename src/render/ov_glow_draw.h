// The glow effect: glowing clumps drawn in their glow colour into the first
// effect render target (hidden by whatever else the frame shows in front),
// blurred across the target pair (across, then down) and added over the
// frame. The glow controller
// collects the clumps that were not culled after culling and draws them all
// at once after the frame was drawn.
#pragma once

#include <cstdint>

#include "ov_glow_node.h"

class OvClump;
class OvGLTexture;
class OvRendererGL;
struct OvRenderItem;

// Draws `texture` into the current target over (0, 0) ... (width, height) as
// a weighted sum of four taps at (+du, +dv), (+du, +dv) / 3, (-du, -dv) and
// (-du, -dv) / 3 from each point (1/6, 1/3, 1/6, 1/3); texture coordinates
// run from (u0, v0) to (u0 + 1, v0 + 1). Cull mode, Z and dithering are given
// back; false (with its trace lines) when nothing was drawn.
bool OvGlowBlur(OvRendererGL& renderer, int width, int height, OvGLTexture* texture, float u0, float v0, float du,
                float dv);
// Adds `texture` over the pixel rectangle (x0, y0) ... (x1, y1) (source alpha
// / one, black fog); cull mode and Z are given back.
bool OvGlowDrawTex(OvRendererGL& renderer, float x0, float y0, float x1, float y1, OvGLTexture* texture);

struct OvGlowItem {
  OvClump* clump;
  const OvGlowNode* node;
};

// The glow of these clumps over the current frame with the current view.
// The other clumps of `occluders` (the frame's render list, may be null) hide
// what lies behind them. The blur takes the widest range of the items. False
// when nothing was drawn: a lost device, no effect targets, nothing to draw.
bool OvDrawGlow(OvRendererGL& renderer, const OvGlowItem* items, int count, const OvRenderItem* occluders);

// Installs the glow controller's factory in the "~~Glow" node type.
void OvInstallGlowController();
