// Byte stream over a file or a memory image, with nested chunks, layout
// strings, u16-length strings and compressed blocks. Every number is
// little-endian. Reads never go past the end of the data or of the innermost
// chunk: such a read fails, sets the sticky failure flag and leaves the
// destination zeroed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "ov_memory.h"

class OvChunkArena;

constexpr int OV_STREAM_MAX_DEPTH = 32;
constexpr size_t OV_STREAM_BUFFER_SIZE = 30000;

class OvStream : public OvAllocated {
 public:
  OvStream();
  ~OvStream();
  OvStream(const OvStream&) = delete;
  OvStream& operator=(const OvStream&) = delete;

  // Opens a file; a mode beginning with 'w' writes. Traces nothing.
  bool Open(const char* path, const char* mode);
  // Reads a memory image of exactly `size` bytes; the caller keeps it alive.
  bool OpenMemory(const void* data, size_t size);
  // Writes into a growing memory image (see Image / ImageSize).
  bool OpenMemoryWrite();
  void Close();

  bool IsOpen() const;
  bool IsWriting() const { return m_writing; }
  // The written memory image (OpenMemoryWrite), valid until Close.
  const uint8_t* Image() const;
  size_t ImageSize() const;

  // Sticky: set by any failed read or write; cleared by Open/ClearFailure.
  bool Failed() const { return m_failed; }
  void ClearFailure() { m_failed = false; }

  uint64_t Position() const;
  bool Seek(uint64_t absolute);
  bool SeekRelative(int64_t delta);
  // Bytes left before the innermost chunk end, or the end of the data.
  uint64_t Remaining() const;
  uint64_t Size() const;  // total length of a read stream

  bool ReadBytes(void* dst, size_t n);
  bool WriteBytes(const void* src, size_t n);
  bool ReadU16(uint16_t& v);
  bool ReadI16(int16_t& v);
  bool ReadU32(uint32_t& v);
  bool ReadI32(int32_t& v);
  bool ReadF32(float& v);
  bool WriteU16(uint16_t v);
  bool WriteU32(uint32_t v);
  bool WriteI32(int32_t v);
  bool WriteF32(float v);

  // u16 length then the bytes. Length 0 reads as null. The text comes from
  // the arena (length + 1 bytes, NUL appended), or AllocMem when arena is null.
  bool ReadString(char*& out, OvChunkArena* arena);
  bool WriteString(const char* text);  // null writes length 0; > 65535 fails

  // Compressed block: u32 marker 1, u32 packed length, zlib stream. The
  // destination holds exactly `unpackedSize` bytes and must be filled exactly.
  bool ReadCompressed(void* dst, size_t unpackedSize);
  bool WriteCompressed(const void* src, size_t size);

  // Chunks: u32 id, u32 size, payload. BeginChunk reads the size only (the
  // untagged form); NextChunk reads the id and begins the chunk; EndChunk
  // skips any unread payload. Nesting deeper than 32 fails.
  bool BeginChunk();
  bool NextChunk(uint32_t& id);
  bool EndChunk();
  int Depth() const { return m_depth; }
  // Writing: reserves the size field (and writes the id for the tagged form);
  // EndChunk patches the size.
  bool BeginWriteChunk(uint32_t id);
  bool BeginWriteUntaggedChunk();

  // Layout strings: one letter per field. "i" i32, "u" u32, "t" u32 (time),
  // "f" and "R" f32, "s" 16 bits, blank a separator; other letters take no
  // field. Read targets are pointers whose size must match the letter;
  // write values are the fields themselves ("f"/"R" take a real number).
  template <class... T>
  bool ReadLayout(const char* layout, T*... fields);
  template <class... T>
  bool WriteLayout(const char* layout, T... fields);

 private:
  struct Field {
    void* ptr;
    size_t size;
    bool isFloat;
    bool isSigned;
  };
  struct Value {
    double real;
    int64_t integer;
    bool isFloat;
  };
  bool ReadLayoutFields(const char* layout, const Field* fields, size_t count);
  bool WriteLayoutValues(const char* layout, const Value* values, size_t count);
  bool Fill();
  bool Fail();

  void* m_file = nullptr;  // FILE*
  bool m_writing = false;
  bool m_failed = false;
  uint8_t* m_buffer = nullptr;
  uint64_t m_bufferStart = 0;
  size_t m_bufferOffset = 0;
  size_t m_bufferValid = 0;
  uint64_t m_fileSize = 0;
  const uint8_t* m_memory = nullptr;
  size_t m_memorySize = 0;
  size_t m_memoryOffset = 0;
  struct Growable;
  Growable* m_image = nullptr;
  uint64_t m_chunkEnd[OV_STREAM_MAX_DEPTH] = {};
  uint64_t m_chunkStart[OV_STREAM_MAX_DEPTH] = {};  // size-field position (writing)
  int m_depth = 0;
};

template <class... T>
bool OvStream::ReadLayout(const char* layout, T*... fields) {
  const Field list[] = {Field{static_cast<void*>(fields), sizeof(T), std::is_floating_point_v<T>,
                              std::is_signed_v<T>}...,
                        Field{nullptr, 0, false, false}};
  return ReadLayoutFields(layout, list, sizeof...(T));
}

template <class... T>
bool OvStream::WriteLayout(const char* layout, T... fields) {
  const Value list[] = {Value{std::is_floating_point_v<T> ? double(fields) : 0.0,
                              std::is_floating_point_v<T> ? 0 : int64_t(fields), std::is_floating_point_v<T>}...,
                        Value{0, 0, false}};
  return WriteLayoutValues(layout, list, sizeof...(T));
}
