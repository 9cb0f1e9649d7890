// Typed records in the content file: u32 group, u32 id, u32 payload size,
// then the payload, which the class named by the pair reads itself.
#pragma once

#include <cstdint>

#include "ov_node_type.h"

class OvStream;
class OvChunkArena;

// A record kept as raw bytes: its type is unknown to this program, or the
// type could not take it (no instance, or its payload did not read). Nothing
// is lost when the file is written back.
class OvMissingNode : public OvDbNode {
 public:
  static constexpr const char* kName = "Missing";

  OvMissingNode(const OvTypeId& type, uint32_t payloadSize) : m_type(type), m_size(payloadSize) {}

  void GetTypeId(OvTypeId& out) const override { out = m_type; }
  // Reads exactly the payload size given at construction into the arena.
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool IsInert() const override { return true; }

  uint32_t PayloadSize() const { return m_size; }
  const uint8_t* Payload() const { return m_payload; }

 private:
  OvTypeId m_type;
  uint32_t m_size;
  uint8_t* m_payload = nullptr;
};

// Reads one typed record and creates its instance in the arena. The class
// reads within its payload only, and the stream always ends up right after
// the payload. Unknown pairs, types without an instance (editor-only) and
// payloads the class failed to read come back as OvMissingNode. False (out
// null) when the record itself is truncated or memory runs out.
bool OvReadTypedRecord(OvStream& s, OvTypeRegistry& reg, OvChunkArena& arena, OvDbNode*& out);

// Writes the pair, the payload size and the node's payload.
bool OvWriteTypedRecord(OvStream& s, const OvDbNode& node);

// The registered type's display name; "Missing" for raw records, pairs not in
// the registry and types without a name.
const char* OvTypedRecordName(const OvDbNode& node, const OvTypeRegistry& reg);
