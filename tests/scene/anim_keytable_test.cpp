// Key tables: reading untrusted tables, range preparation, every before and
// after mode, linear, cubic, stepped and spherical sampling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "ov_keyframe.h"
#include "ov_memory.h"
#include "ov_stream.h"
#include "trace_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Key {
  int32_t t;
  std::vector<float> v;
};

// The stored form: size, "uuuttttu" header, keys, optional tail bytes.
Bytes TableBytes(const std::vector<Key>& keys, uint32_t mode, int32_t rs, int32_t re, int32_t le, int32_t ls,
                 int tail = 0, int64_t sizeDelta = 0, int64_t countDelta = 0) {
  const uint32_t values = keys.empty() ? 0 : uint32_t(keys[0].v.size());
  const uint32_t stride = 4 + 4 * values;
  const uint32_t size = uint32_t(32 + stride * keys.size() + tail + sizeDelta);
  OvStream w;
  EXPECT_TRUE(w.OpenMemoryWrite());
  w.WriteU32(size);
  w.WriteLayout("uuuttttu", uint32_t(keys.size() + countDelta), stride, 0u, rs, re, le, ls, mode);
  for (const Key& k : keys) {
    w.WriteI32(k.t);
    for (float f : k.v) w.WriteF32(f);
  }
  for (int i = 0; i < tail; ++i) w.WriteBytes("\x5A", 1);
  return Bytes(w.Image(), w.Image() + w.ImageSize());
}

uint32_t Mode(int before, int after, int interp = OV_KEY_LINEAR) {
  return uint32_t(before) | (uint32_t(after) << 8) | (uint32_t(interp) << 16);
}

class KeyTableTest : public ::testing::Test {
 protected:
  OvChunkArena arena;

  OvKeyTable* Load(const Bytes& bytes, bool expectOk = true) {
    OvStream s;
    EXPECT_TRUE(s.OpenMemory(bytes.data(), bytes.size()));
    OvKeyTable* t = nullptr;
    EXPECT_EQ(OvKeyTable::Read(s, arena, t), expectOk);
    return t;
  }

  // Keys 0 -> 0, 10 -> 10, 20 -> 30; range from the keys.
  OvKeyTable* Ramp(int before, int after, int interp = OV_KEY_LINEAR) {
    const int32_t times[] = {0, 10, 20};
    const float values[] = {0.0f, 10.0f, 30.0f};
    return OvKeyTable::Create(arena, 3, 1, times, values, before, after, interp);
  }

  static float At(const OvKeyTable& t, int32_t time) {
    float v = -999.0f;
    OvKeySample(t, time, &v, 0, 1);
    return v;
  }
};

TEST_F(KeyTableTest, LinearInsideTheRange) {
  OvKeyTable* t = Ramp(OV_KEY_CLAMP, OV_KEY_CLAMP);
  ASSERT_NE(t, nullptr);
  EXPECT_FLOAT_EQ(At(*t, 0), 0.0f);
  EXPECT_FLOAT_EQ(At(*t, 5), 5.0f);
  EXPECT_FLOAT_EQ(At(*t, 10), 10.0f);
  EXPECT_FLOAT_EQ(At(*t, 15), 20.0f);
  EXPECT_FLOAT_EQ(At(*t, 20), 30.0f);
}

TEST_F(KeyTableTest, BeforeRangeModes) {
  OvKeyTable* clamp = Ramp(OV_KEY_CLAMP, OV_KEY_CLAMP);
  EXPECT_FLOAT_EQ(At(*clamp, -5), 0.0f);

  // Repeat [0, 20): -5 plays 15, -20 plays 0, -25 plays 15.
  OvKeyTable* repeat = Ramp(OV_KEY_REPEAT, OV_KEY_CLAMP);
  EXPECT_FLOAT_EQ(At(*repeat, -5), 20.0f);
  EXPECT_FLOAT_EQ(At(*repeat, -20), 0.0f);
  EXPECT_FLOAT_EQ(At(*repeat, -25), 20.0f);

  // Ping-pong mirrors at the range start: -5 plays 5, -25 plays 15 again.
  OvKeyTable* pingpong = Ramp(OV_KEY_PINGPONG, OV_KEY_CLAMP);
  EXPECT_FLOAT_EQ(At(*pingpong, -5), 5.0f);
  EXPECT_FLOAT_EQ(At(*pingpong, -20), 30.0f);
  EXPECT_FLOAT_EQ(At(*pingpong, -25), 20.0f);

  // Counting: one span back subtracts the span's change (30).
  OvKeyTable* cycle = Ramp(OV_KEY_CYCLE, OV_KEY_CLAMP);
  EXPECT_FLOAT_EQ(At(*cycle, -5), -10.0f);
  EXPECT_FLOAT_EQ(At(*cycle, -20), -30.0f);
  EXPECT_FLOAT_EQ(At(*cycle, -25), -40.0f);
}

TEST_F(KeyTableTest, AfterRangeModes) {
  OvKeyTable* clamp = Ramp(OV_KEY_CLAMP, OV_KEY_CLAMP);
  EXPECT_FLOAT_EQ(At(*clamp, 25), 30.0f);
  EXPECT_FLOAT_EQ(At(*clamp, 1000000), 30.0f);

  // Repeat (0, 20]: 25 plays 5, 40 plays 20, 41 plays 1.
  OvKeyTable* repeat = Ramp(OV_KEY_CLAMP, OV_KEY_REPEAT);
  EXPECT_FLOAT_EQ(At(*repeat, 25), 5.0f);
  EXPECT_FLOAT_EQ(At(*repeat, 40), 30.0f);
  EXPECT_FLOAT_EQ(At(*repeat, 41), 1.0f);

  // Ping-pong: the first cycle past the end runs backwards, the next forwards.
  OvKeyTable* pingpong = Ramp(OV_KEY_CLAMP, OV_KEY_PINGPONG);
  EXPECT_FLOAT_EQ(At(*pingpong, 25), 20.0f);
  EXPECT_FLOAT_EQ(At(*pingpong, 40), 0.0f);
  EXPECT_FLOAT_EQ(At(*pingpong, 45), 5.0f);
  EXPECT_FLOAT_EQ(At(*pingpong, 60), 30.0f);
  EXPECT_FLOAT_EQ(At(*pingpong, 65), 20.0f);

  // Counting continues from where the previous cycle ended.
  OvKeyTable* cycle = Ramp(OV_KEY_CLAMP, OV_KEY_CYCLE);
  EXPECT_FLOAT_EQ(At(*cycle, 25), 35.0f);
  EXPECT_FLOAT_EQ(At(*cycle, 40), 60.0f);
  EXPECT_FLOAT_EQ(At(*cycle, 45), 65.0f);

  // An unknown mode clamps to the range end.
  OvKeyTable* unknown = Ramp(OV_KEY_CLAMP, 7);
  EXPECT_FLOAT_EQ(At(*unknown, 25), 30.0f);
}

TEST_F(KeyTableTest, ExtremeTimesDoNotOverflow) {
  OvKeyTable* repeat = Ramp(OV_KEY_REPEAT, OV_KEY_REPEAT);
  // INT32_MAX - 20 - 1 = 20 * 107374181 + 6: plays 7.
  EXPECT_FLOAT_EQ(At(*repeat, INT32_MAX), 7.0f);
  float v = 0.0f;
  EXPECT_EQ(OvKeySample(*repeat, INT32_MIN, &v, 0, 1), 1);
  EXPECT_TRUE(std::isfinite(v));
}

TEST_F(KeyTableTest, CubicCoefficientsPerValue) {
  // Per value c3, c2, c1, c0 of the segment's first key.
  const int32_t times[] = {0, 10};
  const float coeffs[] = {1.0f, 2.0f, 3.0f, 4.0f, /* key 1 */ 9.0f, 9.0f, 9.0f, 9.0f};
  OvKeyTable* t = OvKeyTable::Create(arena, 2, 4, times, coeffs, OV_KEY_CLAMP, OV_KEY_CLAMP, OV_KEY_CUBIC);
  ASSERT_NE(t, nullptr);
  float v = 0.0f;
  EXPECT_EQ(OvKeySampleCubic(*t, 5, &v, 0, 1), 1);
  EXPECT_FLOAT_EQ(v, 0.125f + 0.5f + 1.5f + 4.0f);
  OvKeySampleCubic(*t, 0, &v, 0, 1);
  EXPECT_FLOAT_EQ(v, 4.0f);
  OvKeySampleCubic(*t, 10, &v, 0, 1);
  EXPECT_FLOAT_EQ(v, 10.0f);
  // The general sampler follows the table's kind.
  OvKeySample(*t, 5, &v, 0, 1);
  EXPECT_FLOAT_EQ(v, 6.125f);
  // Only one cubic value fits in four floats.
  float two[2] = {0.0f, -1.0f};
  EXPECT_EQ(OvKeySampleCubic(*t, 5, two, 0, 2), 1);
  EXPECT_FLOAT_EQ(two[1], -1.0f);
}

TEST_F(KeyTableTest, SingleKeyAddModeAndValueCut) {
  const int32_t times[] = {50};
  const float values[] = {2.0f, 3.0f};
  OvKeyTable* t = OvKeyTable::Create(arena, 1, 2, times, values, OV_KEY_CYCLE, OV_KEY_CYCLE);
  ASSERT_NE(t, nullptr);
  float out[4] = {1.0f, 1.0f, 7.0f, 7.0f};
  // Four asked, two held: the rest stays untouched.
  EXPECT_EQ(OvKeySample(*t, -1000, out, 0, 4, /*add=*/true), 2);
  EXPECT_FLOAT_EQ(out[0], 3.0f);
  EXPECT_FLOAT_EQ(out[1], 4.0f);
  EXPECT_FLOAT_EQ(out[2], 7.0f);
  // From value 1 only.
  EXPECT_EQ(OvKeySample(*t, 0, out, 1, 3), 1);
  EXPECT_FLOAT_EQ(out[0], 3.0f);
  EXPECT_EQ(OvKeySample(*t, 0, out, 2, 1), 0);
}

TEST_F(KeyTableTest, SteppedSamplingTakesTheKeyAtOrBefore) {
  const int32_t times[] = {0, 10, 20};
  const float values[] = {1.0f, 2.0f, 3.0f};
  OvKeyTable* t = OvKeyTable::Create(arena, 3, 1, times, values);
  float v = 0.0f;
  OvKeySampleStep(*t, 9, &v, 0, 1);
  EXPECT_FLOAT_EQ(v, 1.0f);
  OvKeySampleStep(*t, 10, &v, 0, 1);
  EXPECT_FLOAT_EQ(v, 2.0f);
  OvKeySampleStep(*t, 19, &v, 0, 1);
  EXPECT_FLOAT_EQ(v, 2.0f);
  OvKeySampleStep(*t, 99, &v, 0, 1);
  EXPECT_FLOAT_EQ(v, 3.0f);
  EXPECT_EQ(t->FindKeyAtOrBefore(-1), -1);
  EXPECT_EQ(t->FindKeyAtOrBefore(20), 2);
  EXPECT_EQ(t->FindSegment(20), 1);
}

// Two keys at one time make a jump: at that time and after it the later
// key counts, just before it the segment leading up to the earlier one.
TEST_F(KeyTableTest, EqualKeyTimesJumpToTheLaterKey) {
  const int32_t times[] = {0, 10, 10, 20, 20};
  const float values[] = {0.0f, 5.0f, 20.0f, 30.0f, 40.0f};
  OvKeyTable* t = OvKeyTable::Create(arena, 5, 1, times, values);
  ASSERT_NE(t, nullptr);
  const struct {
    int32_t time;
    float linear, stepped;
  } cases[] = {{9, 4.5f, 0.0f}, {10, 20.0f, 20.0f}, {15, 25.0f, 20.0f}, {20, 40.0f, 40.0f}, {25, 40.0f, 40.0f}};
  for (const auto& c : cases) {
    EXPECT_FLOAT_EQ(At(*t, c.time), c.linear) << c.time;
    float v = -999.0f;
    OvKeySampleStep(*t, c.time, &v, 0, 1);
    EXPECT_FLOAT_EQ(v, c.stepped) << c.time;
  }
}

TEST_F(KeyTableTest, QuaternionsInterpolateSpherically) {
  const float h = std::sqrt(0.5f);
  const int32_t times[] = {0, 10};
  // Identity to 90 degrees about z, the second key given on the far hemisphere.
  const float q[] = {1.0f, 0.0f, 0.0f, 0.0f, -h, 0.0f, 0.0f, -h};
  OvKeyTable* t = OvKeyTable::Create(arena, 2, 4, times, q);
  OvQuat out;
  ASSERT_TRUE(OvKeySampleQuat(*t, 5, out));
  const float c = std::cos(C_PI / 8.0f), s = std::sin(C_PI / 8.0f);
  EXPECT_NEAR(out.s, c, 1e-5f);
  EXPECT_NEAR(out.v.x, 0.0f, 1e-6f);
  EXPECT_NEAR(out.v.z, s, 1e-5f);  // shortest arc: about +z
  const int32_t one[] = {0};
  const float few[] = {1.0f, 0.0f, 0.0f};
  OvKeyTable* tooFew = OvKeyTable::Create(arena, 1, 3, one, few);
  EXPECT_FALSE(OvKeySampleQuat(*tooFew, 0, out));
}

TEST_F(KeyTableTest, StoredRangeAndItsFallbackToTheKeys) {
  const std::vector<Key> keys = {{0, {0.0f}}, {10, {10.0f}}, {20, {30.0f}}};
  // Stored range [0, 10]: after that, clamped to 10 although keys go on.
  OvKeyTable* stored = Load(TableBytes(keys, Mode(0, 0), 0, 10, 10, 0));
  ASSERT_NE(stored, nullptr);
  EXPECT_FLOAT_EQ(At(*stored, 15), 10.0f);

  // Start >= end with a negative end: the range comes from the keys.
  OvKeyTable* fromKeys = Load(TableBytes(keys, Mode(0, 0), 5, -1, 0, 0));
  ASSERT_NE(fromKeys, nullptr);
  EXPECT_EQ(fromKeys->RangeStart(), 0);
  EXPECT_EQ(fromKeys->RangeEnd(), 20);
  EXPECT_EQ(fromKeys->LoopStart(), 0);
  EXPECT_EQ(fromKeys->LoopEnd(), 20);
  EXPECT_FLOAT_EQ(At(*fromKeys, 15), 20.0f);

  // Degenerate loops are widened so that the spans are never empty.
  OvKeyTable* loops = Load(TableBytes(keys, Mode(1, 1), 0, 20, 0, 20));
  ASSERT_NE(loops, nullptr);
  EXPECT_EQ(loops->LoopEnd(), 1);
  EXPECT_EQ(loops->LoopStart(), 19);
  EXPECT_FLOAT_EQ(At(*loops, 25), 30.0f);  // span (19, 20]
}

TEST_F(KeyTableTest, ReadWriteRoundTripKeepsEveryByte) {
  const std::vector<Key> keys = {{0, {1.0f, 2.0f}}, {7, {3.0f, 4.0f}}};
  const Bytes in = TableBytes(keys, Mode(2, 3, 0), 5, -1, 9, 8, /*tail=*/8);
  OvKeyTable* t = Load(in);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->ValuesPerKey(), 2);
  OvStream w;
  ASSERT_TRUE(w.OpenMemoryWrite());
  ASSERT_TRUE(OvKeyTable::Write(w, t));
  EXPECT_EQ(Bytes(w.Image(), w.Image() + w.ImageSize()), in);

  const Bytes none = {0, 0, 0, 0};
  EXPECT_EQ(Load(none), nullptr);
}

TEST_F(KeyTableTest, HostileSizesAreRefusedBeforeAllocating) {
  TraceCapture trace;
  const std::vector<Key> keys = {{0, {1.0f}}, {10, {2.0f}}};
  const int32_t failuresBefore = arena.FailureCount();
  // Table larger than the stream.
  EXPECT_EQ(Load(TableBytes(keys, 0, 0, 10, 10, 0, 0, /*sizeDelta=*/1000), false), nullptr);
  // More keys than the table holds.
  EXPECT_EQ(Load(TableBytes(keys, 0, 0, 10, 10, 0, 0, 0, /*countDelta=*/0x10000000), false), nullptr);
  // Smaller than a header.
  Bytes tiny = {8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(Load(tiny, false), nullptr);
  EXPECT_EQ(arena.FailureCount(), failuresBefore);
  EXPECT_EQ(arena.ChunkCount(), 0);
}
}  // namespace
