// "Invisible": switches the clump's invisible bit (and its subtree's with
// "All Children") by a flag test every frame, or once at the start.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_NODE_INVISIBLE{0, 1365};
inline constexpr int32_t OV_ACID_INVISIBLE = 165;
inline constexpr uint32_t OV_INVISIBLE_INIT_ONLY = 0x1;
inline constexpr uint32_t OV_INVISIBLE_ALL_CHILDREN = 0x2;

class OvInvisibleNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_INVISIBLE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t options = 0;
  uint32_t checkMask = 0;
  uint32_t checkValue = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

OvNodeType* OvVisibilityNodeTypeCreate(const OvTypeId& pair, const char* name);
