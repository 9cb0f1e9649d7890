// The byte stream: primitives, strings, layouts, compressed blocks, chunks,
// bounded reads, and files read through the buffer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ov_memory.h"
#include "ov_stream.h"
#include "trace_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ImageOf(const OvStream& w) { return Bytes(w.Image(), w.Image() + w.ImageSize()); }

template <class F>
Bytes Build(F&& write) {
  OvStream w;
  EXPECT_TRUE(w.OpenMemoryWrite());
  write(w);
  EXPECT_FALSE(w.Failed());
  return ImageOf(w);
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  uint32_t x = 12345;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = uint8_t(x >> 16);
  }
  return b;
}

std::string TempPath(const char* tag) { return "/tmp/ov_stream_" + std::to_string(getpid()) + "_" + tag + ".bin"; }

TEST(StreamPrimitives, RoundTripAndReadsPastTheEnd) {
  const Bytes img = Build([](OvStream& w) {
    w.WriteU32(0x11223344);
    w.WriteU16(uint16_t(-5));
    w.WriteI32(-7);
    w.WriteF32(-1.5f);
    w.WriteBytes("xyz", 3);
  });
  ASSERT_EQ(img.size(), 4u + 2 + 4 + 4 + 3);
  EXPECT_EQ(img[0], 0x44);  // little-endian
  EXPECT_EQ(img[3], 0x11);

  OvStream r;
  ASSERT_TRUE(r.OpenMemory(img.data(), img.size()));
  uint32_t u = 0;
  int16_t sh = 0;
  int32_t i = 0;
  float f = 0;
  char raw[3];
  EXPECT_TRUE(r.ReadU32(u) && r.ReadI16(sh) && r.ReadI32(i) && r.ReadF32(f));
  EXPECT_EQ(u, 0x11223344u);
  EXPECT_EQ(sh, -5);
  EXPECT_EQ(i, -7);
  EXPECT_EQ(f, -1.5f);
  EXPECT_FALSE(r.ReadU32(u));  // 3 bytes left
  EXPECT_EQ(u, 0u);
  EXPECT_TRUE(r.Failed());
  EXPECT_TRUE(r.ReadBytes(raw, 3));  // nothing was consumed
  EXPECT_EQ(std::string(raw, 3), "xyz");
  EXPECT_TRUE(r.Failed());  // sticky
  r.ClearFailure();

  EXPECT_FALSE(r.Seek(img.size() + 1));
  EXPECT_FALSE(r.SeekRelative(-int64_t(img.size()) - 1));
  EXPECT_TRUE(r.SeekRelative(-int64_t(img.size())));
  EXPECT_EQ(r.Position(), 0u);
}

TEST(StreamStrings, LengthsAndFailures) {
  const std::string longest(65535, 'q');
  const Bytes img = Build([&](OvStream& w) {
    w.WriteString(nullptr);
    w.WriteString("");
    w.WriteString("abc");
    w.WriteString(longest.c_str());
  });
  EXPECT_EQ(img.size(), 2u + 2 + 5 + 2 + 65535);

  OvChunkArena arena;
  OvStream r;
  ASSERT_TRUE(r.OpenMemory(img.data(), img.size()));
  char* s = reinterpret_cast<char*>(1);
  EXPECT_TRUE(r.ReadString(s, &arena));
  EXPECT_EQ(s, nullptr);
  EXPECT_TRUE(r.ReadString(s, &arena));
  EXPECT_EQ(s, nullptr);
  EXPECT_TRUE(r.ReadString(s, &arena));
  EXPECT_STREQ(s, "abc");
  EXPECT_TRUE(r.ReadString(s, nullptr));  // from AllocMem
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::string(s), longest);
  OvMFree(s);

  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  EXPECT_FALSE(w.WriteString(std::string(65536, 'q').c_str()));
  EXPECT_TRUE(w.Failed());

  // A length beyond the data fails before anything is allocated.
  const uint8_t cut[] = {10, 0, 'a', 'b'};
  ASSERT_TRUE(r.OpenMemory(cut, sizeof cut));
  const int32_t offset = arena.CurrentOffset();
  EXPECT_FALSE(r.ReadString(s, &arena));
  EXPECT_EQ(s, nullptr);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(arena.CurrentOffset(), offset);
}

TEST(StreamLayouts, AllLettersRoundTrip) {
  const Bytes img = Build([](OvStream& w) {
    EXPECT_TRUE(w.WriteLayout("iutf R xs", -3, 7u, 1600, 2.5, 0.1, int16_t(-2)));
    EXPECT_TRUE(w.WriteLayout("f", 3));  // an integer for a real letter is converted
    EXPECT_TRUE(w.WriteLayout("  "));
  });
  EXPECT_EQ(img.size(), 4u * 5 + 2 + 4);

  OvStream r;
  ASSERT_TRUE(r.OpenMemory(img.data(), img.size()));
  int32_t i = 0;
  uint32_t u = 0, t = 0;
  float f = 0, R = 0, f3 = 0;
  int16_t s = 0;
  EXPECT_TRUE(r.ReadLayout("iutf R xs", &i, &u, &t, &f, &R, &s));
  EXPECT_TRUE(r.ReadLayout("f", &f3));
  EXPECT_EQ(i, -3);
  EXPECT_EQ(u, 7u);
  EXPECT_EQ(t, 1600u);
  EXPECT_EQ(f, 2.5f);
  EXPECT_EQ(R, 0.1f);
  EXPECT_EQ(s, -2);
  EXPECT_EQ(f3, 3.0f);
  EXPECT_EQ(r.Remaining(), 0u);
}

TEST(StreamLayouts, MismatchesReadNothing) {
  TraceCapture trace;
  const Bytes img = Build([](OvStream& w) { w.WriteLayout("iii", 1, 2, 3); });
  OvStream r;
  ASSERT_TRUE(r.OpenMemory(img.data(), img.size()));
  int32_t a = 0, b = 0;
  int16_t narrow = 0;
  int64_t wide = 0;
  EXPECT_FALSE(r.ReadLayout("ii", &a, &narrow));  // "i" into 16 bits
  EXPECT_FALSE(r.ReadLayout("i", &wide));
  EXPECT_FALSE(r.ReadLayout("R", &a));      // "R" into an integer
  EXPECT_FALSE(r.ReadLayout("i", &a, &b));  // more fields than letters
  EXPECT_FALSE(r.ReadLayout("ii", &a));     // more letters than fields
  EXPECT_EQ(r.Position(), 0u);
  EXPECT_TRUE(trace.Contains("does not match"));

  // Past the end: every field zeroed, nothing consumed.
  r.ClearFailure();
  int32_t c = 9, d = 9;
  ASSERT_TRUE(r.ReadLayout("i", &a));
  a = b = 9;
  EXPECT_FALSE(r.ReadLayout("iiii", &a, &b, &c, &d));
  EXPECT_EQ(a | b | c | d, 0);
  EXPECT_EQ(r.Position(), 4u);
  EXPECT_TRUE(r.Failed());
}

class StreamCompressed : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { OvStreamUseLibdeflate(GetParam()); }
  void TearDown() override { OvStreamUseLibdeflate(true); }

  // A block whose fields can be tampered with.
  static Bytes Block(const Bytes& plain, uint32_t marker = 1, int32_t packedDelta = 0) {
    Bytes img = Build([&](OvStream& w) { EXPECT_TRUE(w.WriteCompressed(plain.data(), plain.size())); });
    img[0] = uint8_t(marker);
    uint32_t packed;
    std::memcpy(&packed, &img[4], 4);
    packed += uint32_t(packedDelta);
    std::memcpy(&img[4], &packed, 4);
    return img;
  }
};

TEST_P(StreamCompressed, RoundTrip) {
  Bytes plain = Pattern(200000);
  for (size_t k = 0; k < plain.size(); k += 3) plain[k] = 0;  // compressible
  for (const Bytes& data : {plain, Bytes{}}) {
    const Bytes img = Block(data);
    EXPECT_LT(img.size(), data.size() + 64);
    OvStream r;
    ASSERT_TRUE(r.OpenMemory(img.data(), img.size()));
    Bytes out(data.size());
    EXPECT_TRUE(r.ReadCompressed(out.data(), out.size()));
    EXPECT_EQ(out, data);
    EXPECT_EQ(r.Remaining(), 0u);
  }
}

TEST_P(StreamCompressed, MalformedBlocksFailZeroed) {
  const Bytes plain = Pattern(5000);
  struct Case {
    const char* what;
    Bytes img;
    size_t promised;
  } cases[] = {
      {"wrong marker", Block(plain, 2), plain.size()},
      {"packed length beyond the data", Block(plain, 1, 1), plain.size()},
      {"packed stream cut short", Block(plain, 1, -8), plain.size()},
      {"inflates short", Block(plain), plain.size() + 1},
      {"inflates long", Block(plain), plain.size() - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OvStream r;
    ASSERT_TRUE(r.OpenMemory(c.img.data(), c.img.size()));
    Bytes out(c.promised, 0xAA);
    EXPECT_FALSE(r.ReadCompressed(out.data(), out.size()));
    EXPECT_EQ(out, Bytes(c.promised, 0));
    EXPECT_TRUE(r.Failed());
  }
}

TEST_P(StreamCompressed, FromFileAcrossTheBuffer) {
  const Bytes plain = Pattern(50000);  // incompressible: packed > buffer
  const Bytes small(1000, 7);
  const Bytes img = Build([&](OvStream& w) {
    w.WriteBytes(Pattern(29990).data(), 29990);  // the first block straddles a refill
    w.WriteCompressed(small.data(), small.size());
    w.WriteCompressed(plain.data(), plain.size());
    w.WriteCompressed(small.data(), small.size());
  });
  const std::string path = TempPath(GetParam() ? "cl" : "cz");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(img.data(), 1, img.size(), f);
  std::fclose(f);

  OvStream r;
  ASSERT_TRUE(r.Open(path.c_str(), "rb"));
  ASSERT_TRUE(r.Seek(29990));
  Bytes a(small.size()), b(plain.size()), c(small.size());
  EXPECT_TRUE(r.ReadCompressed(a.data(), a.size()));
  EXPECT_TRUE(r.ReadCompressed(b.data(), b.size()));
  EXPECT_TRUE(r.ReadCompressed(c.data(), c.size()));
  EXPECT_EQ(a, small);
  EXPECT_EQ(b, plain);
  EXPECT_EQ(c, small);
  EXPECT_EQ(r.Remaining(), 0u);
  r.Close();
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Inflaters, StreamCompressed, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "libdeflate" : "zlib"; });

TEST(StreamChunks, WrittenSizesAndWalking) {
  const Bytes img = Build([](OvStream& w) {
    w.BeginWriteChunk(0x1000);
    w.BeginWriteChunk(0x10);
    w.WriteLayout("uu", 1, 2);
    w.EndChunk();
    w.BeginWriteChunk(0x20);
    w.BeginWriteUntaggedChunk();
    w.WriteU16(3);
    w.EndChunk();
    w.EndChunk();
    w.EndChunk();
    w.WriteU32(0xDEAD);
  });
  OvStream r;
  ASSERT_TRUE(r.OpenMemory(img.data(), img.size()));
  uint32_t id = 0, v = 0, size = 0;
  ASSERT_TRUE(r.NextChunk(id) && id == 0x1000u);
  EXPECT_EQ(r.Remaining(), 8u + 8 + 8 + 4 + 2);
  ASSERT_TRUE(r.NextChunk(id) && id == 0x10u);
  EXPECT_TRUE(r.ReadU32(v));
  EXPECT_TRUE(r.EndChunk());  // skips the second u32
  ASSERT_TRUE(r.NextChunk(id) && id == 0x20u);
  EXPECT_TRUE(r.ReadU32(size));
  EXPECT_EQ(size, 2u);
  EXPECT_TRUE(r.EndChunk());
  EXPECT_FALSE(r.NextChunk(id));  // the outer chunk is used up
  EXPECT_TRUE(r.EndChunk());
  EXPECT_TRUE(r.ReadU32(v) && v == 0xDEADu);
  EXPECT_FALSE(r.NextChunk(id));  // so is the data: no failure
  EXPECT_FALSE(r.Failed());
  EXPECT_FALSE(r.EndChunk());  // none open
}

TEST(StreamChunks, ReadsStayInsideTheChunk) {
  const uint8_t data[] = {6, 0, 0, 0, 1, 2, 20, 0, 0, 0, 0x55, 0x55, 0x55, 0x55};
  OvStream r;
  ASSERT_TRUE(r.OpenMemory(data, sizeof data));
  ASSERT_TRUE(r.BeginChunk());
  uint16_t h = 0;
  EXPECT_TRUE(r.ReadU16(h));
  EXPECT_FALSE(r.BeginChunk());  // claims 20 bytes where none are left
  EXPECT_EQ(r.Depth(), 1);
  uint32_t v = 7;
  EXPECT_FALSE(r.ReadU32(v));  // the chunk is used up; the data is not
  EXPECT_EQ(v, 0u);
  EXPECT_TRUE(r.Failed());
  EXPECT_TRUE(r.EndChunk());
  EXPECT_TRUE(r.ReadU32(v) && v == 0x55555555u);
  ASSERT_TRUE(r.OpenMemory(data, 9));
  EXPECT_FALSE(r.BeginChunk());  // ends beyond the data
}

TEST(StreamChunks, NestingStopsAt32) {
  const Bytes img = Build([](OvStream& w) {
    for (int i = 0; i < OV_STREAM_MAX_DEPTH; ++i) EXPECT_TRUE(w.BeginWriteChunk(uint32_t(i)));
    EXPECT_FALSE(w.BeginWriteChunk(99));
    EXPECT_TRUE(w.Failed());
    w.ClearFailure();
    w.WriteU32(0xABCD);
    for (int i = 0; i < OV_STREAM_MAX_DEPTH; ++i) EXPECT_TRUE(w.EndChunk());
  });
  OvStream r;
  ASSERT_TRUE(r.OpenMemory(img.data(), img.size()));
  uint32_t id = 0;
  for (int i = 0; i < OV_STREAM_MAX_DEPTH; ++i) {
    ASSERT_TRUE(r.NextChunk(id));
    EXPECT_EQ(id, uint32_t(i));
  }
  EXPECT_EQ(r.Depth(), OV_STREAM_MAX_DEPTH);
  EXPECT_EQ(r.Remaining(), 4u);  // room for a 33rd size field
  const uint64_t at = r.Position();
  EXPECT_FALSE(r.BeginChunk());
  EXPECT_EQ(r.Position(), at);
  EXPECT_EQ(r.Depth(), OV_STREAM_MAX_DEPTH);
  uint32_t v = 0;
  EXPECT_TRUE(r.ReadU32(v));
  EXPECT_EQ(v, 0xABCDu);
  for (int i = 0; i < OV_STREAM_MAX_DEPTH; ++i) EXPECT_TRUE(r.EndChunk());
  EXPECT_EQ(r.Position(), img.size());
}

class StreamFile : public ::testing::Test {
 protected:
  void SetUp() override {
    m_data = Pattern(100000);
    m_path = TempPath("file");
    OvStream w;
    ASSERT_TRUE(w.Open(m_path.c_str(), "wb"));
    EXPECT_TRUE(w.IsWriting());
    EXPECT_TRUE(w.WriteBytes(m_data.data(), 8));
    EXPECT_TRUE(w.BeginWriteUntaggedChunk());  // patched in place on disk
    EXPECT_TRUE(w.WriteBytes(m_data.data() + 12, m_data.size() - 12));
    EXPECT_TRUE(w.EndChunk());
    w.Close();
    const uint32_t size = uint32_t(m_data.size() - 12);
    std::memcpy(&m_data[8], &size, 4);
  }
  void TearDown() override {
    OvMemoryFailNext(0);
    std::remove(m_path.c_str());
  }

  // Reads everything in odd-sized pieces and with seeks in and out of the buffer.
  void CheckReads(OvStream& r) {
    ASSERT_EQ(r.Size(), m_data.size());
    Bytes got(m_data.size());
    size_t at = 0;
    for (size_t step = 1; at < got.size(); step = step * 3 % 7919 + 1) {
      const size_t n = std::min(step, got.size() - at);
      ASSERT_TRUE(r.ReadBytes(&got[at], n)) << at;
      at += n;
    }
    EXPECT_EQ(got, m_data);
    EXPECT_EQ(r.Remaining(), 0u);
    const uint64_t probes[] = {99990, 99000, 12, 70000, 69999, 30000, 29999, 0};
    for (uint64_t p : probes) {
      ASSERT_TRUE(r.Seek(p));
      uint8_t b[10] = {};
      const size_t n = std::min<size_t>(10, m_data.size() - p);
      ASSERT_TRUE(r.ReadBytes(b, n));
      EXPECT_EQ(0, std::memcmp(b, &m_data[p], n)) << p;
      EXPECT_EQ(r.Position(), p + n);
    }
    ASSERT_TRUE(r.SeekRelative(-2));
    uint8_t b = 0;
    ASSERT_TRUE(r.ReadBytes(&b, 1));
    EXPECT_EQ(b, m_data[8]);
    EXPECT_FALSE(r.Failed());
    EXPECT_FALSE(r.Seek(m_data.size() + 1));
    ASSERT_TRUE(r.Seek(8));
    ASSERT_TRUE(r.BeginChunk());
    EXPECT_EQ(r.Remaining(), m_data.size() - 12);
  }

  Bytes m_data;
  std::string m_path;
};

TEST_F(StreamFile, ReadsAcrossRefillsAndSeeks) {
  OvStream r;
  ASSERT_TRUE(r.Open(m_path.c_str(), "rb"));
  CheckReads(r);
  Bytes all(m_data.size());
  ASSERT_TRUE(r.Seek(0));
  EXPECT_TRUE(r.ReadBytes(all.data(), all.size()));  // one read bigger than the buffer
  EXPECT_EQ(all, m_data);
  uint8_t extra = 1;
  EXPECT_FALSE(r.ReadBytes(&extra, 1));
  EXPECT_EQ(extra, 0);
}

TEST_F(StreamFile, WorksWithoutItsBuffer) {
  TraceCapture trace;
  OvStream r;
  OvMemoryFailNext(1);
  ASSERT_TRUE(r.Open(m_path.c_str(), "rb"));
  OvMemoryFailNext(0);
  EXPECT_TRUE(trace.Contains("Not enough memory(30000) for file buffer.\n"));
  CheckReads(r);
}

TEST_F(StreamFile, OpenRefusesMissingFilesAndFolders) {
  OvStream r;
  EXPECT_FALSE(r.Open("/nonexistent/ov/file.orv", "rb"));
  EXPECT_FALSE(r.Open("/tmp", "rb"));
  EXPECT_FALSE(r.IsOpen());
}

}  // namespace
