#include "ov_shadow_node.h"

namespace {

OvRigidShadowCtrlFactory g_factory = nullptr;

// No settings: one caption, so that a stage can name the type by its label
// list like any other.
const OvNodeParamDesc kShadowParams[] = {
    OvParamI(0, "Shadow from the first directional light", OV_PK_CAPTION),
};

}  // namespace

void OvSetRigidShadowCtrlFactory(OvRigidShadowCtrlFactory factory) { g_factory = factory; }

OvAniCtrl* OvRigidShadowNode::MakeController(OvClump*) { return g_factory ? g_factory(*this) : nullptr; }

OvNodeType* OvShadowNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair != OV_NODE_RIGID_SHADOW) return nullptr;
  return new OvNodeTypeOf<OvRigidShadowNode>(pair, name, kShadowParams, 1);
}
