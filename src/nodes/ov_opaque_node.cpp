#include "ov_opaque_node.h"

#include <cstring>

#include "ov_memory.h"
#include "ov_stream.h"

namespace {

constexpr uint64_t kMaxPayload = 0x7FFF0000u;

}  // namespace

bool OvOpaqueNode::Read(OvStream& stream, OvChunkArena& arena) {
  const uint64_t size = stream.Remaining();
  m_size = 0;
  m_payload = nullptr;
  if (size == 0) return true;
  if (size > kMaxPayload) return stream.MarkFailed();
  auto* bytes = static_cast<uint8_t*>(arena.Allocate(int32_t(size)));
  if (!bytes) return false;
  if (!stream.ReadBytes(bytes, size_t(size))) return false;
  m_payload = bytes;
  m_size = uint32_t(size);
  return true;
}

bool OvOpaqueNode::Write(OvStream& stream) const { return m_size == 0 || stream.WriteBytes(m_payload, m_size); }

bool OvOpaqueNode::SetPayload(OvChunkArena& arena, const void* bytes, uint32_t size) {
  if (size == 0) {
    m_payload = nullptr;
    m_size = 0;
    return true;
  }
  if (!bytes || size > kMaxPayload) return false;
  auto* copy = static_cast<uint8_t*>(arena.Allocate(int32_t(size)));
  if (!copy) return false;
  std::memcpy(copy, bytes, size);
  m_payload = copy;
  m_size = size;
  return true;
}

OvDbNode* OvOpaqueNodeType::Create(OvChunkArena& arena) const {
  if (m_editorOnly) return nullptr;
  return OvArenaNew<OvOpaqueNode>(arena, m_pair);
}
