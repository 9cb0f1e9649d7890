#include "ov_stream.h"

#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "ov_paths.h"
#include "ov_trace.h"

namespace {

std::atomic<bool> g_useLibdeflate{true};

inline FILE* AsFile(void* f) { return static_cast<FILE*>(f); }

inline uint32_t LoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t LoadU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// Stored width of a layout letter; 0 for letters that take no field.
inline size_t LetterSize(char c) {
  switch (c) {
    case 'i':
    case 'u':
    case 't':
    case 'f':
    case 'R': return 4;
    case 's': return 2;
    default: return 0;
  }
}

inline bool IntegerLetter(char c) { return c == 'i' || c == 'u' || c == 's'; }

}  // namespace

void OvStreamUseLibdeflate(bool on) { g_useLibdeflate.store(on, std::memory_order_relaxed); }
bool OvStreamUsesLibdeflate() { return g_useLibdeflate.load(std::memory_order_relaxed); }

// The written image; grows by doubling.
struct OvStream::Growable : OvAllocated {
  uint8_t* data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  size_t pos = 0;
};

OvStream::OvStream() = default;

OvStream::~OvStream() {
  Close();
  if (m_decompressor) libdeflate_free_decompressor(static_cast<libdeflate_decompressor*>(m_decompressor));
}

bool OvStream::Fail() {
  m_failed = true;
  return false;
}

bool OvStream::Open(const char* path, const char* mode) {
  Close();
  m_failed = false;
  if (!path) return false;
  if (!mode || !*mode) mode = "rb";
  FILE* f = nullptr;
  if (mode[0] == 'w') {
    f = std::fopen(path, mode);
  } else {
    // Only regular files, refused before opening could wait (a FIFO) or a
    // read could go on for ever (a device).
    const int fd = OvOpenRegularFile(path, nullptr);
    if (fd >= 0 && (f = fdopen(fd, "rb")) == nullptr) ::close(fd);
  }
  if (!f) return false;

  if (mode[0] == 'w') {
    m_file = f;
    m_kind = Kind::FileWrite;
    m_writing = true;
    m_bufferStart = 0;
    m_fileSize = 0;
    return true;
  }

  // Only regular files: a directory or a pipe has no size to bound reads by.
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  m_file = f;
  m_kind = Kind::FileRead;
  m_fileSize = uint64_t(st.st_size);
  m_bufferStart = 0;
  m_bufferOffset = 0;
  m_bufferValid = 0;
  m_buffer = static_cast<uint8_t*>(AllocMem(OV_STREAM_BUFFER_SIZE));
  if (!m_buffer) {
    // Still usable: reads then go to the file directly.
    _TraceFormat("Not enough memory(%d) for file buffer.\n", int(OV_STREAM_BUFFER_SIZE));
  }
  return true;
}

bool OvStream::OpenMemory(const void* data, size_t size) {
  Close();
  m_failed = false;
  if (!data && size > 0) return false;
  m_memory = static_cast<const uint8_t*>(data);
  m_memorySize = size;
  m_memoryOffset = 0;
  m_kind = Kind::MemoryRead;
  return true;
}

bool OvStream::OpenMemoryWrite() {
  Close();
  m_failed = false;
  m_image = new Growable;
  if (!m_image) return false;
  m_kind = Kind::MemoryWrite;
  m_writing = true;
  return true;
}

void OvStream::Close() {
  if (m_file) std::fclose(AsFile(m_file));
  m_file = nullptr;
  OvMFree(m_buffer);
  m_buffer = nullptr;
  if (m_image) {
    OvMFree(m_image->data);
    delete m_image;
    m_image = nullptr;
  }
  m_memory = nullptr;
  m_memorySize = 0;
  m_memoryOffset = 0;
  m_bufferStart = 0;
  m_bufferOffset = 0;
  m_bufferValid = 0;
  m_fileSize = 0;
  m_depth = 0;
  m_writing = false;
  m_kind = Kind::None;
}

bool OvStream::IsOpen() const { return m_kind != Kind::None; }

const uint8_t* OvStream::Image() const { return m_image ? m_image->data : nullptr; }
size_t OvStream::ImageSize() const { return m_image ? m_image->size : 0; }

uint64_t OvStream::Position() const {
  switch (m_kind) {
    case Kind::FileRead: return m_bufferStart + m_bufferOffset;
    case Kind::FileWrite: return m_bufferStart;  // the next byte written
    case Kind::MemoryRead: return m_memoryOffset;
    case Kind::MemoryWrite: return m_image->pos;
    case Kind::None: break;
  }
  return 0;
}

uint64_t OvStream::Size() const {
  switch (m_kind) {
    case Kind::FileRead:
    case Kind::FileWrite: return m_fileSize;
    case Kind::MemoryRead: return m_memorySize;
    case Kind::MemoryWrite: return m_image->size;
    case Kind::None: break;
  }
  return 0;
}

uint64_t OvStream::InnermostEnd() const {
  const uint64_t size = Size();
  if (m_depth > 0 && m_chunkEnd[m_depth - 1] < size) return m_chunkEnd[m_depth - 1];
  return size;
}

uint64_t OvStream::Remaining() const {
  if (m_kind != Kind::FileRead && m_kind != Kind::MemoryRead) return 0;
  const uint64_t end = InnermostEnd();
  const uint64_t pos = Position();
  return end > pos ? end - pos : 0;
}

bool OvStream::Seek(uint64_t absolute) {
  switch (m_kind) {
    case Kind::FileRead:
      if (absolute > m_fileSize) return Fail();
      if (absolute >= m_bufferStart && absolute - m_bufferStart <= m_bufferValid) {
        m_bufferOffset = size_t(absolute - m_bufferStart);
        return true;
      }
      if (absolute > uint64_t(LLONG_MAX) || fseeko(AsFile(m_file), off_t(absolute), SEEK_SET) != 0) return Fail();
      m_bufferStart = absolute;
      m_bufferOffset = 0;
      m_bufferValid = 0;
      return true;
    case Kind::FileWrite:
      if (absolute > m_fileSize) return Fail();
      if (fseeko(AsFile(m_file), off_t(absolute), SEEK_SET) != 0) return Fail();
      m_bufferStart = absolute;
      return true;
    case Kind::MemoryRead:
      if (absolute > m_memorySize) return Fail();
      m_memoryOffset = size_t(absolute);
      return true;
    case Kind::MemoryWrite:
      if (absolute > m_image->size) return Fail();
      m_image->pos = size_t(absolute);
      return true;
    case Kind::None: break;
  }
  return Fail();
}

bool OvStream::SeekRelative(int64_t delta) {
  const uint64_t pos = Position();
  if (delta < 0 && uint64_t(-(delta + 1)) + 1 > pos) return Fail();
  return Seek(pos + uint64_t(delta));
}

bool OvStream::Fill() {
  m_bufferStart += m_bufferValid;
  m_bufferOffset = 0;
  m_bufferValid = std::fread(m_buffer, 1, OV_STREAM_BUFFER_SIZE, AsFile(m_file));
  return m_bufferValid > 0;
}

bool OvStream::ReadFromFile(uint8_t* dst, size_t n) {
  while (n > 0) {
    if (m_bufferOffset == m_bufferValid) {
      // Big reads (and a stream without its buffer) go straight to the
      // destination instead of through the buffer.
      if (!m_buffer || n >= OV_STREAM_BUFFER_SIZE) {
        m_bufferStart += m_bufferValid;
        m_bufferOffset = 0;
        m_bufferValid = 0;
        const size_t got = std::fread(dst, 1, n, AsFile(m_file));
        m_bufferStart += got;
        return got == n;
      }
      if (!Fill()) return false;
    }
    size_t take = m_bufferValid - m_bufferOffset;
    if (take > n) take = n;
    std::memcpy(dst, m_buffer + m_bufferOffset, take);
    m_bufferOffset += take;
    dst += take;
    n -= take;
  }
  return true;
}

bool OvStream::ReadBytes(void* dst, size_t n) {
  if (n == 0) return true;
  if (!dst) return Fail();
  bool ok = false;
  if (uint64_t(n) <= Remaining()) {
    if (m_kind == Kind::MemoryRead) {
      std::memcpy(dst, m_memory + m_memoryOffset, n);
      m_memoryOffset += n;
      ok = true;
    } else {
      ok = ReadFromFile(static_cast<uint8_t*>(dst), n);
    }
  }
  if (!ok) {
    std::memset(dst, 0, n);
    return Fail();
  }
  return true;
}

bool OvStream::SkipBytes(uint64_t n) {
  if (n > Remaining()) return Fail();
  return Seek(Position() + n);
}

bool OvStream::WriteBytes(const void* src, size_t n) {
  if (m_kind != Kind::FileWrite && m_kind != Kind::MemoryWrite) return Fail();
  if (n == 0) return true;
  if (!src) return Fail();
  if (m_kind == Kind::FileWrite) {
    const size_t put = std::fwrite(src, 1, n, AsFile(m_file));
    m_bufferStart += put;
    if (m_bufferStart > m_fileSize) m_fileSize = m_bufferStart;
    return put == n ? true : Fail();
  }
  Growable& g = *m_image;
  if (n > SIZE_MAX - g.pos) return Fail();
  const size_t need = g.pos + n;
  if (need > g.capacity) {
    size_t cap = g.capacity ? g.capacity : 4096;
    while (cap < need) cap = cap > SIZE_MAX / 2 ? need : cap * 2;
    uint8_t* bigger = static_cast<uint8_t*>(AllocMem(cap));
    if (!bigger) return Fail();
    if (g.size) std::memcpy(bigger, g.data, g.size);
    OvMFree(g.data);
    g.data = bigger;
    g.capacity = cap;
  }
  std::memcpy(g.data + g.pos, src, n);
  g.pos = need;
  if (need > g.size) g.size = need;
  return true;
}

bool OvStream::ReadU16(uint16_t& v) {
  uint8_t b[2];
  const bool ok = ReadBytes(b, 2);
  v = LoadU16(b);
  return ok;
}

bool OvStream::ReadI16(int16_t& v) {
  uint16_t u;
  const bool ok = ReadU16(u);
  v = int16_t(u);
  return ok;
}

bool OvStream::ReadU32(uint32_t& v) {
  uint8_t b[4];
  const bool ok = ReadBytes(b, 4);
  v = LoadU32(b);
  return ok;
}

bool OvStream::ReadI32(int32_t& v) {
  uint32_t u;
  const bool ok = ReadU32(u);
  v = int32_t(u);
  return ok;
}

bool OvStream::ReadF32(float& v) {
  uint32_t u;
  const bool ok = ReadU32(u);
  std::memcpy(&v, &u, 4);
  return ok;
}

bool OvStream::WriteU16(uint16_t v) {
  uint8_t b[2];
  StoreU16(b, v);
  return WriteBytes(b, 2);
}

bool OvStream::WriteU32(uint32_t v) {
  uint8_t b[4];
  StoreU32(b, v);
  return WriteBytes(b, 4);
}

bool OvStream::WriteI32(int32_t v) { return WriteU32(uint32_t(v)); }

bool OvStream::WriteF32(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return WriteU32(u);
}

bool OvStream::ReadString(char*& out, OvChunkArena* arena) {
  out = nullptr;
  uint16_t length = 0;
  if (!ReadU16(length)) return false;
  if (length == 0) return true;
  if (length > Remaining()) return Fail();
  const size_t bytes = size_t(length) + 1;
  char* text = static_cast<char*>(arena ? arena->Allocate(int32_t(bytes)) : AllocMem(bytes));
  if (!text) {
    // Out of memory, not bad data: step over the text so the caller can go on.
    SkipBytes(length);
    return false;
  }
  if (!ReadBytes(text, length)) {
    if (!arena) OvMFree(text);
    return false;
  }
  text[length] = '\0';
  out = text;
  return true;
}

bool OvStream::WriteString(const char* text) {
  const size_t length = text ? std::strlen(text) : 0;
  if (length > 0xFFFF) return Fail();
  return WriteU16(uint16_t(length)) && WriteBytes(text, length);
}

bool OvStream::Inflate(const uint8_t* packed, size_t packedSize, void* dst, size_t unpackedSize) {
  uint8_t none = 0;
  uint8_t* out = unpackedSize ? static_cast<uint8_t*>(dst) : &none;

  if (OvStreamUsesLibdeflate()) {
    if (!m_decompressor) m_decompressor = libdeflate_alloc_decompressor();
    if (m_decompressor) {
      // No actual-size pointer: anything but exactly unpackedSize bytes fails.
      return libdeflate_zlib_decompress(static_cast<libdeflate_decompressor*>(m_decompressor), packed, packedSize, out,
                                        unpackedSize, nullptr) == LIBDEFLATE_SUCCESS;
    }
    // No decoder to be had: zlib below does the same job.
  }

  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit(&zs) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(packed);
  zs.next_out = out;
  size_t inLeft = packedSize;
  size_t outLeft = unpackedSize;
  int rc;
  do {
    if (zs.avail_in == 0 && inLeft > 0) {
      zs.avail_in = uInt(inLeft > UINT_MAX ? UINT_MAX : inLeft);
      inLeft -= zs.avail_in;
    }
    if (zs.avail_out == 0 && outLeft > 0) {
      zs.avail_out = uInt(outLeft > UINT_MAX ? UINT_MAX : outLeft);
      outLeft -= zs.avail_out;
    }
    rc = inflate(&zs, Z_NO_FLUSH);
  } while (rc == Z_OK);
  // Z_BUF_ERROR here means the input ran out, or the output did before the
  // stream ended (it would inflate long).
  const bool ok = rc == Z_STREAM_END && uint64_t(zs.total_out) == uint64_t(unpackedSize);
  inflateEnd(&zs);
  return ok;
}

bool OvStream::ReadCompressed(void* dst, size_t unpackedSize) {
  if (unpackedSize > 0 && !dst) return Fail();
  auto failed = [&](bool sticky) {
    if (unpackedSize) std::memset(dst, 0, unpackedSize);
    return sticky ? Fail() : false;
  };
  uint32_t marker = 0, packedSize = 0;
  if (!ReadU32(marker) || !ReadU32(packedSize)) return failed(true);
  if (marker != 1 || packedSize > Remaining()) return failed(true);

  const uint8_t* packed = nullptr;
  uint8_t* scratch = nullptr;
  if (m_kind == Kind::MemoryRead) {
    packed = m_memory + m_memoryOffset;
    m_memoryOffset += packedSize;
  } else if (m_buffer && m_bufferValid - m_bufferOffset >= packedSize) {
    packed = m_buffer + m_bufferOffset;
    m_bufferOffset += packedSize;
  } else {
    scratch = static_cast<uint8_t*>(AllocMem(packedSize ? packedSize : 1));
    if (!scratch) {
      SkipBytes(packedSize);
      return failed(false);
    }
    if (!ReadFromFile(scratch, packedSize)) {
      OvMFree(scratch);
      return failed(true);
    }
    packed = scratch;
  }
  const bool ok = Inflate(packed, packedSize, dst, unpackedSize);
  OvMFree(scratch);
  return ok ? true : failed(true);
}

bool OvStream::WriteCompressed(const void* src, size_t size) {
  if (m_kind != Kind::FileWrite && m_kind != Kind::MemoryWrite) return Fail();
  if (size > 0 && !src) return Fail();
  uint8_t none = 0;
  uLongf packedSize = compressBound(uLong(size));
  uint8_t* scratch = static_cast<uint8_t*>(AllocMem(packedSize));
  if (!scratch) return Fail();
  const bool ok = compress2(scratch, &packedSize, size ? static_cast<const Bytef*>(src) : &none, uLong(size),
                            Z_DEFAULT_COMPRESSION) == Z_OK &&
                  packedSize <= 0xFFFFFFFFu && WriteU32(1) && WriteU32(uint32_t(packedSize)) &&
                  WriteBytes(scratch, packedSize);
  OvMFree(scratch);
  return ok ? true : Fail();
}

bool OvStream::PushChunkEnd(uint64_t end) {
  if (m_depth >= OV_STREAM_MAX_DEPTH || end > InnermostEnd()) return Fail();
  m_chunkEnd[m_depth++] = end;
  return true;
}

bool OvStream::BeginChunk() {
  if (m_kind != Kind::FileRead && m_kind != Kind::MemoryRead) return Fail();
  if (m_depth >= OV_STREAM_MAX_DEPTH) return Fail();
  uint32_t size = 0;
  if (!ReadU32(size)) return false;
  return PushChunkEnd(Position() + size);
}

bool OvStream::BeginChunkOfSize(uint64_t size) {
  if (m_kind != Kind::FileRead && m_kind != Kind::MemoryRead) return Fail();
  if (size > Remaining()) return Fail();
  return PushChunkEnd(Position() + size);
}

bool OvStream::NextChunk(uint32_t& id) {
  id = 0;
  if (m_kind != Kind::FileRead && m_kind != Kind::MemoryRead) return Fail();
  if (Position() >= InnermostEnd()) return false;  // no more chunks here
  if (m_depth >= OV_STREAM_MAX_DEPTH) return Fail();
  return ReadU32(id) && BeginChunk();
}

bool OvStream::EndChunk() {
  if (m_depth <= 0) return Fail();
  --m_depth;
  if (!m_writing) return Seek(m_chunkEnd[m_depth]);

  const uint64_t sizeField = m_chunkStart[m_depth];
  const uint64_t end = Position();
  if (end < sizeField + 4 || end - sizeField - 4 > 0xFFFFFFFFu) return Fail();
  return Seek(sizeField) && WriteU32(uint32_t(end - sizeField - 4)) && Seek(end);
}

bool OvStream::BeginWriteChunk(uint32_t id) {
  if (!m_writing || m_depth >= OV_STREAM_MAX_DEPTH) return Fail();
  return WriteU32(id) && BeginWriteUntaggedChunk();
}

bool OvStream::BeginWriteUntaggedChunk() {
  if (!m_writing || m_depth >= OV_STREAM_MAX_DEPTH) return Fail();
  const uint64_t sizeField = Position();
  if (!WriteU32(0)) return false;
  m_chunkStart[m_depth++] = sizeField;
  return true;
}

bool OvStream::ReadLayoutFields(const char* layout, const Field* fields, size_t count) {
  // Check the whole list first so that a mismatch reads nothing.
  size_t n = 0;
  uint64_t total = 0;
  bool match = layout != nullptr;
  for (const char* c = layout; match && *c; ++c) {
    const size_t width = LetterSize(*c);
    if (!width) continue;
    match = n < count && fields[n].ptr && fields[n].size == width && (*c != 'R' || fields[n].isFloat) &&
            (!IntegerLetter(*c) || !fields[n].isFloat);
    total += width;
    ++n;
  }
  if (!match || n != count) {
    _TraceFormat("!!! Layout \"%s\" does not match its %d fields.\n", layout ? layout : "(null)", int(count));
    return Fail();
  }
  if (total > Remaining()) {
    for (size_t i = 0; i < count; ++i) std::memset(fields[i].ptr, 0, fields[i].size);
    return Fail();
  }
  n = 0;
  for (const char* c = layout; *c; ++c) {
    const size_t width = LetterSize(*c);
    if (!width) continue;
    uint8_t b[4];
    if (!ReadBytes(b, width)) {
      for (size_t i = n; i < count; ++i) std::memset(fields[i].ptr, 0, fields[i].size);
      return false;
    }
    if (width == 4) {
      const uint32_t v = LoadU32(b);
      std::memcpy(fields[n].ptr, &v, 4);
    } else {
      const uint16_t v = LoadU16(b);
      std::memcpy(fields[n].ptr, &v, 2);
    }
    ++n;
  }
  return true;
}

bool OvStream::WriteLayoutValues(const char* layout, const Value* values, size_t count) {
  size_t n = 0;
  bool match = layout != nullptr;
  for (const char* c = layout; match && *c; ++c) {
    if (!LetterSize(*c)) continue;
    // Integer letters take integers; "f" and "R" take any number.
    match = n < count && (*c == 'f' || *c == 'R' || !values[n].isFloat);
    ++n;
  }
  if (!match || n != count) {
    _TraceFormat("!!! Layout \"%s\" does not match its %d values.\n", layout ? layout : "(null)", int(count));
    return Fail();
  }
  n = 0;
  for (const char* c = layout; *c; ++c) {
    if (!LetterSize(*c)) continue;
    const Value& v = values[n++];
    bool ok;
    if (*c == 'f' || *c == 'R') {
      ok = WriteF32(v.isFloat ? float(v.real) : float(v.integer));
    } else if (*c == 's') {
      ok = WriteU16(uint16_t(v.integer));
    } else {
      ok = WriteU32(uint32_t(v.integer));
    }
    if (!ok) return false;
  }
  return true;
}
