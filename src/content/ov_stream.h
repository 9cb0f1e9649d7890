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

// Compressed blocks inflate through libdeflate's one-call decoder (default) or
// through zlib's inflate; both accept the same streams. Process-wide.
void OvStreamUseLibdeflate(bool on);
bool OvStreamUsesLibdeflate();

class OvStream : public OvAllocated {
 public:
  OvStream();
  ~OvStream();
  OvStream(const OvStream&) = delete;
  OvStream& operator=(const OvStream&) = delete;

  // Opens a file; a mode beginning with 'w' writes. Reading needs a regular
  // file. Traces only when the read buffer cannot be had (reads then go to
  // the file unbuffered).
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
  // For readers that find the data inconsistent: sets the flag, returns false.
  bool MarkFailed() { return Fail(); }

  uint64_t Position() const;
  // Reading: anywhere up to the end of the data. Writing: anywhere up to the
  // end of what has been written (to patch earlier fields).
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
  // A length beyond the data fails before allocating; when memory runs out
  // the text is skipped and false returned with the flag untouched.
  bool ReadString(char*& out, OvChunkArena* arena);
  bool WriteString(const char* text);  // null writes length 0; > 65535 fails

  // Compressed block: u32 marker 1, u32 packed length, zlib stream. The
  // destination holds exactly `unpackedSize` bytes and must be filled exactly.
  // A malformed block fails (sticky) and zeroes the destination; when scratch
  // memory runs out the block is skipped and false returned, flag untouched.
  bool ReadCompressed(void* dst, size_t unpackedSize);
  bool WriteCompressed(const void* src, size_t size);

  // Chunks: u32 id, u32 size, payload. BeginChunk reads the size only (the
  // untagged form); NextChunk reads the id and begins the chunk; EndChunk
  // skips any unread payload. Nesting deeper than 32 fails, and so does a
  // chunk that would end beyond its parent (or the data). NextChunk returns
  // false, without failing, once the innermost chunk (or the data) is used up.
  bool BeginChunk();
  bool NextChunk(uint32_t& id);
  bool EndChunk();
  // Begins a chunk of `size` payload bytes at the current position, for
  // payloads whose size was read elsewhere (typed records).
  bool BeginChunkOfSize(uint64_t size);
  int Depth() const { return m_depth; }
  // Writing: reserves the size field (and writes the id for the tagged form);
  // EndChunk patches the size.
  bool BeginWriteChunk(uint32_t id);
  bool BeginWriteUntaggedChunk();

  // Layout strings: one letter per field. "i" i32, "u" u32, "t" u32 (time),
  // "f" and "R" f32, "s" 16 bits, blank a separator; other letters take no
  // field. Read targets are pointers whose size must match the letter;
  // write values are the fields themselves ("f"/"R" take a real number).
  // "R" reads into a float only, "i" "u" "s" into integers only. A list that
  // does not match its layout is traced and fails without touching the data;
  // fields that would run past the end are all zeroed and nothing is read.
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
  enum class Kind : uint8_t { None, FileRead, FileWrite, MemoryRead, MemoryWrite };

  bool ReadLayoutFields(const char* layout, const Field* fields, size_t count);
  bool WriteLayoutValues(const char* layout, const Value* values, size_t count);
  bool Fill();
  bool Fail();
  bool ReadFromFile(uint8_t* dst, size_t n);
  bool SkipBytes(uint64_t n);
  bool PushChunkEnd(uint64_t end);
  bool Inflate(const uint8_t* packed, size_t packedSize, void* dst, size_t unpackedSize);
  uint64_t InnermostEnd() const;

  Kind m_kind = Kind::None;
  void* m_decompressor = nullptr;  // libdeflate, kept across opens

  void* m_file = nullptr;  // FILE*
  bool m_writing = false;
  bool m_failed = false;
  uint8_t* m_buffer = nullptr;
  uint64_t m_bufferStart = 0;  // file position of the buffer (writing: of the next byte)
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
  const Field list[] = {
      Field{static_cast<void*>(fields), sizeof(T), std::is_floating_point_v<T>, std::is_signed_v<T>}...,
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
