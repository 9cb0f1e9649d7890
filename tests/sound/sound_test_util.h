// Helpers of the sound tests: WAV images built in memory, sound items over
// them, and a sound system whose clock and device the test drives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ov_sound_system.h"

namespace soundtest {

inline void Put(std::vector<uint8_t>& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void Put(std::vector<uint8_t>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

struct WavShape {
  uint16_t formatTag = 1;
  uint16_t channels = 1;
  uint32_t rate = 22050;
  uint16_t bits = 16;
  uint32_t formatSize = 16;    // 14 leaves out the bits; more adds zeros
  std::string between;         // raw chunks between "fmt " and "data"
  int64_t dataSizeField = -1;  // -1: the real size
};

// A RIFF/WAVE image around `data`, given in the file's sample format.
inline std::vector<uint8_t> MakeWavBytes(const std::vector<uint8_t>& data, const WavShape& w = {}) {
  const uint16_t align = uint16_t(w.channels * ((w.bits + 7) / 8));
  std::vector<uint8_t> b;
  Put(b, "RIFF");
  Put(b, 0, 4);  // ignored by the reader
  Put(b, "WAVE");
  Put(b, "fmt ");
  Put(b, w.formatSize, 4);
  Put(b, w.formatTag, 2);
  Put(b, w.channels, 2);
  Put(b, w.rate, 4);
  Put(b, w.rate * align, 4);
  Put(b, align, 2);
  if (w.formatSize >= 16) Put(b, w.bits, 2);
  for (uint32_t i = 16; i < w.formatSize + (w.formatSize & 1u); ++i) b.push_back(0);
  b.insert(b.end(), w.between.begin(), w.between.end());
  Put(b, "data");
  Put(b, w.dataSizeField < 0 ? uint32_t(data.size()) : uint32_t(w.dataSizeField), 4);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

inline std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> b;
  for (int16_t s : samples) Put(b, uint16_t(s), 2);
  return b;
}

inline std::vector<uint8_t> MakeWav16(const std::vector<int16_t>& samples, uint32_t rate = 22050) {
  WavShape w;
  w.rate = rate;
  return MakeWavBytes(Pcm16(samples), w);
}

// A sound item over an embedded WAV image (it keeps the bytes).
struct EmbeddedSound {
  explicit EmbeddedSound(const std::vector<int16_t>& samples, const char* name = "test.wav")
      : bytes(MakeWav16(samples)), label(name) {
    item.name = label.data();
    item.data = bytes.data();
    item.size = uint32_t(bytes.size());
    item.embedded = 1;
  }
  std::vector<uint8_t> bytes;
  std::string label;
  OvSoundItem item;
};

// A sound system on a clock the test sets and a device that never mixes by
// itself: tests call Mix.
class TestSoundSystem : public OvSoundSystem {
 public:
  bool OpenDevice() override { return deviceOpen = true; }
  void CloseDevice() override { deviceOpen = false; }
  void Refill() override { ++refills; }
  uint32_t Now() override { return clock; }
  using OvSoundSystem::SchedulePlain;

  std::vector<int16_t> MixSamples(uint32_t count) {
    std::vector<int16_t> out(count, int16_t(0x7777));
    out.resize(Mix(out.data(), count));
    return out;
  }

  uint32_t clock = 100000;
  bool deviceOpen = false;
  int refills = 0;
};

}  // namespace soundtest
