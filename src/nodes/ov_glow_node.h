// "~~Glow": a clump drawn once more in a glow colour into the effect render
// targets, blurred and added over the frame, so it shines beyond its
// silhouette. The drawing lives in the renderer, which installs the
// controller factory; without one the node yields nothing.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

class OvDatabase;

inline constexpr OvTypeId OV_NODE_GLOW{0, 4600};

// Halo sizes "Range:" selects, as a fraction of the frame width; values
// outside the table take its nearest end.
inline constexpr int OV_GLOW_RANGE_COUNT = 5;
float OvGlowSpread(int32_t range);

// The stored colour with R, G and B scaled by multiplier / 16 and clamped to
// 255; alpha is kept, and a negative multiplier leaves the colour as it is.
uint32_t OvGlowColour(uint32_t colour, float multiplier);

class OvGlowNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_GLOW; }
  // Stored block "iiR ui i": format, range, multiplier, colour, texture index
  // (-1: none), subset (-1: the whole mesh).
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override { m_database = database; }
  bool FromValues(const OvParamValues& v);

  int32_t range = 1;
  float multiplier = 1.0f;
  uint32_t colour = 0xFFFFFFFFu;  // as stored
  int32_t texture = -1;           // database texture index, -1 none
  int32_t subset = -1;            // the only subset drawn, -1 all

  // What the glow draws with.
  uint32_t GlowColour() const { return OvGlowColour(colour, multiplier); }
  // The bound device texture of "Other Texture", or null.
  void* Texture() const;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;

 private:
  OvDatabase* m_database = nullptr;
};

using OvGlowCtrlFactory = OvAniCtrl* (*)(const OvGlowNode& node);
void OvSetGlowCtrlFactory(OvGlowCtrlFactory factory);

OvNodeType* OvGlowNodeTypeCreate(const OvTypeId& pair, const char* name);
