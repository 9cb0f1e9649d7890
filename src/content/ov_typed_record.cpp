#include "ov_typed_record.h"

#include "ov_stream.h"
#include "ov_trace.h"

bool OvMissingNode::Read(OvStream& stream, OvChunkArena& arena) {
  if (m_size == 0) return true;
  if (m_size > stream.Remaining()) return stream.MarkFailed();
  m_payload = m_size <= 0x7FFF0000u ? static_cast<uint8_t*>(arena.Allocate(int32_t(m_size))) : nullptr;
  if (!m_payload) return false;
  return stream.ReadBytes(m_payload, m_size);
}

bool OvMissingNode::Write(OvStream& stream) const { return stream.WriteBytes(m_payload, m_size); }

namespace {

// Keeps the payload as raw bytes; the stream must stand at the payload start.
OvDbNode* ReadRaw(OvStream& s, OvChunkArena& arena, const OvTypeId& type, uint32_t size) {
  OvMissingNode* node = OvArenaNew<OvMissingNode>(arena, type, size);
  if (!node) return nullptr;
  if (!node->Read(s, arena)) {
    node->~OvMissingNode();
    return nullptr;
  }
  return node;
}

}  // namespace

bool OvReadTypedRecord(OvStream& s, OvTypeRegistry& reg, OvChunkArena& arena, OvDbNode*& out) {
  out = nullptr;
  OvTypeId type;
  uint32_t size = 0;
  if (!s.ReadU32(type.group) || !s.ReadU32(type.id) || !s.ReadU32(size)) return false;
  // The payload becomes a chunk of its own: the class cannot read past it,
  // and ending it puts the stream at the next record whatever was consumed.
  if (!s.BeginChunkOfSize(size)) return false;
  const int depth = s.Depth();
  const uint64_t payloadStart = s.Position();

  OvDbNode* node = nullptr;
  bool usable = true;  // false: memory ran out or the stream lost its place
  if (const OvNodeType* desc = reg.FindType(type)) {
    const int32_t arenaFailures = arena.FailureCount();
    const bool failedBefore = s.Failed();
    s.ClearFailure();
    node = desc->Create(arena);
    if (node) {
      bool ok = node->Read(s, arena) && !s.Failed();
      // A class that gave up inside chunks of its own leaves them open.
      while (s.Depth() > depth) {
        s.EndChunk();
        ok = false;
      }
      if (s.Depth() < depth) {
        // It closed ours as well: where the next record starts is lost.
        node->~OvDbNode();
        return s.MarkFailed();
      }
      if (!ok) {
        node->~OvDbNode();
        node = nullptr;
        if (arena.FailureCount() == arenaFailures) {
          _TraceFormat("!!! Record (%u, %u) could not be read; kept as raw data.\n", unsigned(type.group),
                       unsigned(type.id));
        }
      }
    }
    // Failed reads of the class stay inside its record.
    s.ClearFailure();
    if (failedBefore) s.MarkFailed();
    if (!node) usable = arena.FailureCount() == arenaFailures && s.Seek(payloadStart);
  }
  if (!node && usable) node = ReadRaw(s, arena, type, size);
  const bool ended = s.EndChunk();
  if (!node || !ended) {
    if (node) node->~OvDbNode();
    return false;
  }
  out = node;
  return true;
}

bool OvWriteTypedRecord(OvStream& s, const OvDbNode& node) {
  OvTypeId type;
  node.GetTypeId(type);
  if (!s.WriteU32(type.group) || !s.WriteU32(type.id) || !s.BeginWriteUntaggedChunk()) return false;
  const bool written = node.Write(s);
  return s.EndChunk() && written;
}

const char* OvTypedRecordName(const OvDbNode& node, const OvTypeRegistry& reg) {
  if (node.IsInert()) return OvMissingNode::kName;
  OvTypeId type;
  node.GetTypeId(type);
  const OvNodeType* desc = reg.FindType(type);
  const char* name = desc ? desc->GetName() : nullptr;
  return name ? name : OvMissingNode::kName;
}
