// Content files for tests: whole databases through OvDatabase::Write, or
// hand-made (also deliberately broken) files chunk by chunk through the
// stream's writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "ov_database.h"
#include "ov_stream.h"
#include "ov_typed_record.h"

namespace content_test {

using Bytes = std::vector<uint8_t>;

// Writes into a memory image. Every call returns the writer so files read
// like their layout:
//   ContentWriter w;
//   w.FileHeader().Begin(OV_CHUNK_DATABASE).Begin(0x1234).U32(7).End().End();
class ContentWriter {
 public:
  ContentWriter() { m_stream.OpenMemoryWrite(); }

  OvStream& Stream() { return m_stream; }
  bool Ok() const { return !m_stream.Failed(); }
  Bytes Image() const { return Bytes(m_stream.Image(), m_stream.Image() + m_stream.ImageSize()); }

  // Signature, version and the reserved word.
  ContentWriter& FileHeader(uint32_t version = OV_DB_VERSION, const char* signature = "ORVO", uint32_t reserved = 0) {
    m_stream.WriteBytes(signature, 4);
    m_stream.WriteU32(version);
    m_stream.WriteU32(reserved);
    return *this;
  }
  ContentWriter& Begin(uint32_t id) {
    m_stream.BeginWriteChunk(id);
    return *this;
  }
  ContentWriter& BeginUntagged() {
    m_stream.BeginWriteUntaggedChunk();
    return *this;
  }
  ContentWriter& End() {
    m_stream.EndChunk();
    return *this;
  }
  ContentWriter& U16(uint16_t v) {
    m_stream.WriteU16(v);
    return *this;
  }
  ContentWriter& U32(uint32_t v) {
    m_stream.WriteU32(v);
    return *this;
  }
  ContentWriter& I32(int32_t v) {
    m_stream.WriteI32(v);
    return *this;
  }
  ContentWriter& F32(float v) {
    m_stream.WriteF32(v);
    return *this;
  }
  ContentWriter& Str(const char* text) {
    m_stream.WriteString(text);
    return *this;
  }
  ContentWriter& Raw(const void* data, size_t size) {
    m_stream.WriteBytes(data, size);
    return *this;
  }
  ContentWriter& Raw(const Bytes& data) { return Raw(data.data(), data.size()); }
  ContentWriter& Compressed(const void* data, size_t size) {
    m_stream.WriteCompressed(data, size);
    return *this;
  }
  // Group, id, payload size, payload.
  ContentWriter& TypedRecord(uint32_t group, uint32_t id, const Bytes& payload) {
    return U32(group).U32(id).U32(uint32_t(payload.size())).Raw(payload);
  }

 private:
  OvStream m_stream;
};

// Little-endian i32 words as bytes, for payloads.
inline Bytes Words(std::initializer_list<int32_t> words) {
  Bytes out;
  for (int32_t w : words) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(uint32_t(w) >> (8 * i)));
  }
  return out;
}

struct DatabaseDeleter {
  void operator()(OvDatabase* db) const {
    if (db) db->Destroy();
  }
};
using DatabasePtr = std::unique_ptr<OvDatabase, DatabaseDeleter>;

inline DatabasePtr MakeDatabase() { return DatabasePtr(OvDatabase::Create()); }

// What OvDatabase::Write produces (empty when it fails).
inline Bytes WriteDatabase(const OvDatabase& db) {
  ContentWriter w;
  if (!db.Write(w.Stream())) return {};
  return w.Image();
}

inline bool LoadBytes(OvDatabase& db, const Bytes& bytes, const char* name = "test.orv") {
  return db.LoadMemory(bytes.data(), bytes.size(), name);
}

// A record of a type no registry knows, kept as raw bytes (the loader's
// unknown-type record), created in the database's arena.
inline OvDbNode* MakeUnknownRecord(OvDatabase& db, uint32_t group, uint32_t id, const Bytes& payload) {
  ContentWriter w;
  w.TypedRecord(group, id, payload);
  const Bytes image = w.Image();
  OvStream r;
  if (!r.OpenMemory(image.data(), image.size())) return nullptr;
  OvTypeRegistry none;
  OvDbNode* node = nullptr;
  return OvReadTypedRecord(r, none, db.Arena(), node) ? node : nullptr;
}

// A file in the temporary folder, removed with the object. The process id
// keeps tests that run side by side apart.
class TempFile {
 public:
  explicit TempFile(const char* name) : m_path(std::string(P_tmpdir) + "/" + std::to_string(getpid()) + "_" + name) {}
  ~TempFile() { std::remove(m_path.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const char* Path() const { return m_path.c_str(); }
  bool Write(const Bytes& bytes) const {
    FILE* f = std::fopen(m_path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
  }
  Bytes Read() const {
    Bytes bytes;
    FILE* f = std::fopen(m_path.c_str(), "rb");
    if (!f) return bytes;
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(uint8_t(c));
    std::fclose(f);
    return bytes;
  }

 private:
  std::string m_path;
};

}  // namespace content_test
