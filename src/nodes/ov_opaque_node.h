// Node types whose behaviour is not part of this engine build: their records
// keep their pair and bytes, write back byte for byte and act as nothing.
#pragma once

#include <cstdint>

#include "ov_node_type.h"
#include "ov_stream.h"

// The bytes of a record's payload, kept up to its end (the container makes
// the payload the stream's innermost chunk) and written back unchanged.
struct OvKeptBytes {
  bool Read(OvStream& stream, OvChunkArena& arena);
  bool Write(OvStream& stream) const { return size == 0 || stream.WriteBytes(bytes, size); }
  // From code (tools, tests); the bytes are copied into the arena.
  bool Set(OvChunkArena& arena, const void* from, uint32_t count);

  uint32_t size = 0;
  uint8_t* bytes = nullptr;
};

class OvOpaqueNode : public OvDbNode {
 public:
  explicit OvOpaqueNode(const OvTypeId& type) : m_type(type) {}

  void GetTypeId(OvTypeId& out) const override { out = m_type; }
  bool Read(OvStream& stream, OvChunkArena& arena) override { return m_kept.Read(stream, arena); }
  bool Write(OvStream& stream) const override { return m_kept.Write(stream); }
  // A real type: bound like any other node, but it yields no controller.

  uint32_t PayloadSize() const { return m_kept.size; }
  const uint8_t* Payload() const { return m_kept.bytes; }
  // Payload from code (tools, tests); the bytes are copied into the arena.
  bool SetPayload(OvChunkArena& arena, const void* bytes, uint32_t size) { return m_kept.Set(arena, bytes, size); }

 private:
  OvTypeId m_type;
  OvKeptBytes m_kept;
};

// Descriptor of such a type. Editor-only types create nothing: their records
// become empty entries.
class OvOpaqueNodeType : public OvNodeType {
 public:
  OvOpaqueNodeType(const OvTypeId& pair, const char* name, bool editorOnly)
      : m_pair(pair), m_name(name), m_editorOnly(editorOnly) {}

  void GetTypeId(OvTypeId& out) const override { out = m_pair; }
  const char* GetName() const override { return m_name; }
  OvDbNode* Create(OvChunkArena& arena) const override;
  bool IsEditorOnly() const { return m_editorOnly; }

 private:
  OvTypeId m_pair;
  const char* m_name;
  bool m_editorOnly;
};
