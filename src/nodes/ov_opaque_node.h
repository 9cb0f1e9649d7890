// Node types whose behaviour is not part of this engine build: their records
// keep their pair and bytes, write back byte for byte and act as nothing.
#pragma once

#include <cstdint>

#include "ov_node_type.h"

class OvOpaqueNode : public OvDbNode {
 public:
  explicit OvOpaqueNode(const OvTypeId& type) : m_type(type) {}

  void GetTypeId(OvTypeId& out) const override { out = m_type; }
  // Keeps every byte up to the end of the record's payload (the container
  // makes the payload the stream's innermost chunk).
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  // A real type: bound like any other node, but it yields no controller.

  uint32_t PayloadSize() const { return m_size; }
  const uint8_t* Payload() const { return m_payload; }
  // Payload from code (tools, tests); the bytes are copied into the arena.
  bool SetPayload(OvChunkArena& arena, const void* bytes, uint32_t size);

 private:
  OvTypeId m_type;
  uint32_t m_size = 0;
  uint8_t* m_payload = nullptr;
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
