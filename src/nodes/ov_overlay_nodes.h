// The overlay node types, "{i}Display Scene State" and "{i}Display Clump
// State": stored blocks and parameter tables. Their controllers draw, so the
// renderer installs the factories; without one the nodes yield nothing.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_NODE_SCENE_STATE{0, 2040};
inline constexpr OvTypeId OV_NODE_CLUMP_STATE{0, 2010};

// Design units (640 wide) to screen units: x and y from the frame centre in
// half frame widths, y up.
inline float OvDesignX(float px) { return (px - 320.0f) / 320.0f; }
inline float OvDesignY(float py) { return (240.0f - py) / 320.0f; }
inline float OvDesignSize(float s) { return s / 320.0f; }

class OvSceneStateNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_SCENE_STATE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  float x = -1.0f, y = -0.65f, charWidth = 0.025f, charHeight = 0.05f;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

class OvClumpStateNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_CLUMP_STATE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  int32_t withClump = 1;
  int32_t anyway = 1;
  float x = -1.0f, y = -0.65f, charWidth = 0.025f, charHeight = 0.05f;
  uint32_t colour = 0xFFFFFFFFu;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

using OvSceneStateCtrlFactory = OvAniCtrl* (*)(const OvSceneStateNode& node);
using OvClumpStateCtrlFactory = OvAniCtrl* (*)(const OvClumpStateNode& node);
void OvSetOverlayCtrlFactories(OvSceneStateCtrlFactory scene, OvClumpStateCtrlFactory clump);

OvNodeType* OvOverlayNodeTypeCreate(const OvTypeId& pair, const char* name);
