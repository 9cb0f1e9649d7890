#include "ov_shadow_node.h"

#include "ov_memory.h"
#include "ov_stream.h"

namespace {

constexpr uint64_t kMaxPayload = 0x7FFF0000u;

OvRigidShadowCtrlFactory g_factory = nullptr;

// No settings: one caption, so that a stage can name the type by its label
// list like any other.
const OvNodeParamDesc kShadowParams[] = {
    OvParamI(0, "Shadow from the first directional light", OV_PK_CAPTION),
};

}  // namespace

void OvSetRigidShadowCtrlFactory(OvRigidShadowCtrlFactory factory) { g_factory = factory; }

bool OvRigidShadowNode::Read(OvStream& stream, OvChunkArena& arena) {
  const uint64_t size = stream.Remaining();
  m_size = 0;
  m_payload = nullptr;
  if (size == 0) return true;
  if (size > kMaxPayload) return stream.MarkFailed();
  auto* bytes = static_cast<uint8_t*>(arena.Allocate(int32_t(size)));
  if (!bytes || !stream.ReadBytes(bytes, size_t(size))) return false;
  m_payload = bytes;
  m_size = uint32_t(size);
  return true;
}

bool OvRigidShadowNode::Write(OvStream& stream) const { return m_size == 0 || stream.WriteBytes(m_payload, m_size); }

OvAniCtrl* OvRigidShadowNode::MakeController(OvClump*) { return g_factory ? g_factory(*this) : nullptr; }

OvNodeType* OvShadowNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair != OV_NODE_RIGID_SHADOW) return nullptr;
  return new OvNodeTypeOf<OvRigidShadowNode>(pair, name, kShadowParams, 1);
}
