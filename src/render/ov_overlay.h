// Diagnostic text over the rendered scene with the built-in font: a screen
// text writer and the controllers of the two overlay node types, scene state
// (frame rate and object counts) and clump state (a clump's name, time,
// switches, controllers, health, ID and triangles). Both draw after the
// scene has been rendered, before the frame is shown.
#pragma once

#include <cstdint>

#include "ov_overlay_nodes.h"

class OvClump;
class OvGLTexture;
class OvRendererGL;

struct OvScreenTextWriter {
  float charWidth = 0.025f;  // screen units
  float charHeight = 0.05f;
  OvRendererGL* renderer = nullptr;
  OvGLTexture* texture = nullptr;  // null: the built-in font
  uint32_t colour = 0xFFFFFFFFu;

  // Draws the bytes of `text` from (x, y) to the right, one glyph a byte.
  bool DrawText(const char* text, float x, float y) const;
};

// The lines a clump-state node shows for a clump, joined by '\n' (the
// controller line keeps its own line feed, drawn as a glyph).
int OvClumpStateLines(const OvClump& clump, char* out, int size);

// Registers the two overlay node types (once) and installs their drawing
// controllers.
void OvInstallOverlayControllers();
