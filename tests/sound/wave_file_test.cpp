// WAV parsing: accepted layouts, 8-bit widening, rate conversion, and every
// rejection with its one trace line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ov_wave_file.h"
#include "sound_test_util.h"
#include "trace_capture.h"

namespace {

using namespace soundtest;

std::vector<int16_t> Samples(const OvSoundSample& s) { return {s.samples, s.samples + s.sampleCount}; }

bool Parse(const std::vector<uint8_t>& bytes, OvSoundSample& sample) {
  return ParseWaveMemory(bytes.data(), bytes.size(), "sounds\\t.wav", sample);
}

std::vector<uint8_t> Shaped(void (*edit)(WavShape&), const std::vector<uint8_t>& data = Pcm16({1, 2, 3, 4})) {
  WavShape s;
  edit(s);
  return MakeWavBytes(data, s);
}

TEST(ParseWaveTest, SixteenAndEightBitData) {
  OvSoundSample s;
  ASSERT_TRUE(Parse(MakeWav16({0, -1, 32767, -32768}), s));
  EXPECT_EQ(Samples(s), (std::vector<int16_t>{0, -1, 32767, -32768}));
  EXPECT_EQ(s.sampleRate, 22050u);
  ASSERT_TRUE(Parse(Shaped([](WavShape& w) { w.bits = 8; }, {0, 128, 255, 1}), s));
  EXPECT_EQ(Samples(s), (std::vector<int16_t>{-32768, 0, 32512, -32512}));
}

TEST(ParseWaveTest, FormatSizesAndChunksItDoesNotKnow) {
  const std::string list = std::string("LIST\x09\0\0\0INFOISFT\x01\0", 18);  // odd size, padded
  const std::string fact = std::string("fact\x04\0\0\0\x03\0\0\0", 12);
  for (const auto& [formatSize, between] : std::vector<std::pair<uint32_t, std::string>>{
           {18, ""}, {14, ""}, {16, list}, {16, fact + list}, {17, ""}, {19, list}}) {
    WavShape w;
    w.formatSize = formatSize;
    w.between = between;
    OvSoundSample s;
    TraceCapture trace;
    ASSERT_TRUE(Parse(MakeWavBytes(Pcm16({5, -5}), w), s)) << formatSize << " " << trace.Text();
    EXPECT_EQ(Samples(s), (std::vector<int16_t>{5, -5}));
  }
}

TEST(ParseWaveTest, RejectsWhatItCannotPlayWithOneTraceLine) {
  std::vector<uint8_t> cut = MakeWav16({1, 2, 3});
  cut.resize(cut.size() - 2);
  std::vector<uint8_t> cutInFormat = MakeWav16({1});
  cutInFormat.resize(30);
  std::vector<uint8_t> notRiff = MakeWav16({1});
  notRiff[0] = 'X';
  const std::pair<std::vector<uint8_t>, const char*> cases[] = {
      {Shaped([](WavShape& w) { w.channels = 2; }), "2 channels"},
      {Shaped([](WavShape& w) { w.bits = 24; }), "only 8 or 16 bits"},
      {Shaped([](WavShape& w) { w.formatTag = 7; }), "not PCM"},
      {Shaped([](WavShape& w) { w.rate = 0; }), "sample rate 0"},
      {Shaped([](WavShape& w) { w.formatSize = 12; }), "format chunk too short"},
      {Shaped([](WavShape& w) { w.dataSizeField = 0xFFFFFFFFll; }), "data size larger than the file"},
      {Shaped([](WavShape& w) { w.between = std::string("LIST\xff\0\0\0", 8); }), "chunk truncated"},
      {Shaped([](WavShape&) {}, {}), "no sample data"},
      {cut, "data size larger than the file"},
      {cutInFormat, "format chunk truncated"},
      {notRiff, "not a RIFF file"},
  };
  for (const auto& [bytes, reason] : cases) {
    OvSoundSample s;
    ASSERT_TRUE(s.AllocateSamples(3));  // an earlier sound must not survive
    TraceCapture trace;
    EXPECT_FALSE(Parse(bytes, s)) << reason;
    EXPECT_EQ(s.samples, nullptr) << reason;
    const std::string& text = trace.Text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(text.rfind("### sounds\\t.wav: sound rejected, ", 0), 0u) << text;
    EXPECT_NE(text.find(reason), std::string::npos) << text;
  }
}

TEST(ParseWaveTest, OtherRatesAreConvertedByLinearInterpolation) {
  std::vector<int16_t> ramp;
  for (int i = 0; i < 100; ++i) ramp.push_back(int16_t(i * 10));
  OvSoundSample s;
  ASSERT_TRUE(Parse(MakeWav16(ramp, 44100), s));
  EXPECT_EQ(s.fileRate, 44100u);
  EXPECT_EQ(s.sampleRate, 22050u);
  ASSERT_EQ(s.sampleCount, 50u);
  for (uint32_t k = 0; k < 50; ++k) ASSERT_EQ(s.samples[k], int16_t(k * 20)) << k;
  // Midpoints in between, the last value held so the length in time stays.
  ASSERT_TRUE(Parse(MakeWav16({0, 100, -200}, 11025), s));
  EXPECT_EQ(Samples(s), (std::vector<int16_t>{0, 50, 100, -50, -200, -200}));
  // Thirds round to the nearest value.
  const int16_t two[] = {0, 1};
  int16_t out[6] = {};
  ASSERT_EQ(OvResampleLinear(two, 2, 1, 3, out), 6u);
  EXPECT_EQ(std::vector<int16_t>(out, out + 3), (std::vector<int16_t>{0, 0, 1}));
  EXPECT_EQ(OvResampleLinear(two, 8000, 8000, 22050, nullptr), 22050u);
  EXPECT_EQ(OvResampleLinear(two, 1000000, 1, 22050, nullptr), 0u);  // too long
}

// Rates that are no whole multiple of the output rate: as many samples as
// cover the same time (rounded up), each on the straight line between the
// two input samples around its moment.
TEST(ParseWaveTest, RatesWithoutAWholeRatio) {
  std::vector<int16_t> ramp;
  for (int i = 0; i < 40; ++i) ramp.push_back(int16_t(i * 300));
  const struct { uint32_t rate, count; } cases[] = {{16000, 56}, {32000, 28}, {48000, 19}, {8000, 111}, {44101, 20}};
  for (const auto& c : cases) {
    OvSoundSample s;
    ASSERT_TRUE(Parse(MakeWav16(ramp, c.rate), s)) << c.rate;
    ASSERT_EQ(s.sampleCount, c.count) << c.rate;
    for (uint32_t k = 0; k < c.count; ++k) {
      const double at = double(k) * c.rate / 22050.0;
      const double want = at >= 39.0 ? 39.0 * 300 : at * 300;
      ASSERT_NEAR(s.samples[k], want, 0.5001) << c.rate << " sample " << k;
    }
  }
}

TEST(ParseWaveTest, MissingFileIsNamed) {
  OvSoundSample s;
  TraceCapture trace;
  EXPECT_FALSE(ParseWave("/nonexistent/x.wav", s));
  EXPECT_EQ(trace.Text(), "### /nonexistent/x.wav: sound rejected, cannot open the file\n");
}

}  // namespace
