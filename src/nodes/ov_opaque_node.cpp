#include "ov_opaque_node.h"

#include <cstring>

#include "ov_memory.h"
#include "ov_stream.h"

namespace {

constexpr uint64_t kMaxPayload = 0x7FFF0000u;

}  // namespace

bool OvKeptBytes::Read(OvStream& stream, OvChunkArena& arena) {
  const uint64_t count = stream.Remaining();
  size = 0;
  bytes = nullptr;
  if (count == 0) return true;
  if (count > kMaxPayload) return stream.MarkFailed();
  auto* kept = static_cast<uint8_t*>(arena.Allocate(int32_t(count)));
  if (!kept || !stream.ReadBytes(kept, size_t(count))) return false;
  bytes = kept;
  size = uint32_t(count);
  return true;
}

bool OvKeptBytes::Set(OvChunkArena& arena, const void* from, uint32_t count) {
  if (count == 0) {
    bytes = nullptr;
    size = 0;
    return true;
  }
  if (!from || count > kMaxPayload) return false;
  auto* copy = static_cast<uint8_t*>(arena.Allocate(int32_t(count)));
  if (!copy) return false;
  std::memcpy(copy, from, count);
  bytes = copy;
  size = count;
  return true;
}

OvDbNode* OvOpaqueNodeType::Create(OvChunkArena& arena) const {
  if (m_editorOnly) return nullptr;
  return OvArenaNew<OvOpaqueNode>(arena, m_pair);
}
