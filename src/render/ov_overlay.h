// Diagnostic text over the rendered scene with the built-in font: a screen
// text writer and the two overlay node types, "{i}Display Scene State"
// (frame rate and object counts) and "{i}Display Clump State" (a clump's
// name, time, switches, controllers, health, ID and triangles). Both draw
// after the scene has been rendered, before the frame is shown.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_type.h"

class OvGLTexture;
class OvRendererGL;

inline constexpr OvTypeId OV_NODE_SCENE_STATE{0, 2040};
inline constexpr OvTypeId OV_NODE_CLUMP_STATE{0, 2010};

// Screen units: x and y from the frame centre in half frame widths, y up.
// Design units (640 wide) convert as x = (px - 320) / 320, y = (240 - py) / 320.
inline float OvDesignX(float px) { return (px - 320.0f) / 320.0f; }
inline float OvDesignY(float py) { return (240.0f - py) / 320.0f; }
inline float OvDesignSize(float s) { return s / 320.0f; }

struct OvScreenTextWriter {
  float charWidth = 0.025f;  // screen units
  float charHeight = 0.05f;
  OvRendererGL* renderer = nullptr;
  OvGLTexture* texture = nullptr;  // null: the built-in font
  uint32_t colour = 0xFFFFFFFFu;

  // Draws the bytes of `text` from (x, y) to the right, one glyph a byte.
  bool DrawText(const char* text, float x, float y) const;
};

class OvSceneStateNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_SCENE_STATE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  // One value slot per parameter of the type's table.
  void FromValues(const OvParamValue* values);

  float x = -1.0f, y = -0.65f, charWidth = 0.025f, charHeight = 0.05f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

class OvClumpStateNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_CLUMP_STATE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  // One value slot per parameter of the type's table.
  void FromValues(const OvParamValue* values);

  int32_t withClump = 1;
  int32_t anyway = 1;
  float x = -1.0f, y = -0.65f, charWidth = 0.025f, charHeight = 0.05f;
  uint32_t colour = 0xFFFFFFFFu;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// The lines a clump-state node shows for a clump, joined by '\n' (the
// controller line keeps its own line feed, drawn as a glyph).
int OvClumpStateLines(const OvClump& clump, char* out, int size);

// Registers both types in the node registry (once).
void OvRegisterOverlayNodeTypes();
