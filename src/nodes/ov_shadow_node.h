// "{c}Rigid Shadow": the node's clump casts a shadow from the first
// directional light of the frame (a stencil shadow volume, drawn by the
// renderer, which installs the controller factory; without one the node
// yields nothing). The node has no settings of its own: whatever block
// content carries for it is kept as bytes and written back unchanged.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"
#include "ov_opaque_node.h"

inline constexpr OvTypeId OV_NODE_RIGID_SHADOW{1100, 1};

class OvRigidShadowNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_RIGID_SHADOW; }
  // Any block, empty too: its bytes are kept up to the end of the payload.
  bool Read(OvStream& stream, OvChunkArena& arena) override { return m_kept.Read(stream, arena); }
  bool Write(OvStream& stream) const override { return m_kept.Write(stream); }
  bool FromValues(const OvParamValues&) { return true; }

  uint32_t PayloadSize() const { return m_kept.size; }

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;

 private:
  OvKeptBytes m_kept;
};

using OvRigidShadowCtrlFactory = OvAniCtrl* (*)(const OvRigidShadowNode& node);
void OvSetRigidShadowCtrlFactory(OvRigidShadowCtrlFactory factory);

OvNodeType* OvShadowNodeTypeCreate(const OvTypeId& pair, const char* name);
