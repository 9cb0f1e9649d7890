// Mixing 32 voices (16 plain, 16 positioned, all looping) into one output
// buffer, against a plain copy of the same number of source bytes. Both
// report output samples per second; their ratio is the cost of mixing.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "ov_sound_system.h"

namespace {

constexpr int kVoices = 32;

std::vector<uint8_t> MakeWav(uint32_t samples) {
  std::vector<uint8_t> b;
  auto put16 = [&](uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(uint16_t(v));
    put16(uint16_t(v >> 16));
  };
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put32(36 + samples * 2);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(16);
  put16(1);
  put16(1);
  put32(OV_WAVE_RATE);
  put32(OV_WAVE_RATE * 2);
  put16(2);
  put16(16);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put32(samples * 2);
  for (uint32_t i = 0; i < samples; ++i) put16(uint16_t(int16_t((i * 977) % 4000 - 2000)));
  return b;
}

// A sound system without a device: the benchmark calls Mix itself.
class SilentSystem : public OvSoundSystem {
 public:
  bool OpenDevice() override { return true; }
  void CloseDevice() override {}
  void Refill() override {}
  uint32_t Now() override { return 0; }
};

void BM_Mix32Voices(benchmark::State& state) {
  // Sounds of different lengths so that voices wrap at different places.
  std::vector<std::vector<uint8_t>> wavs;
  std::vector<OvSoundItem> items(kVoices);
  for (int i = 0; i < kVoices; ++i) wavs.push_back(MakeWav(22050 + uint32_t(i) * 101));
  SilentSystem sys;
  sys.Start();
  for (int i = 0; i < kVoices; ++i) {
    items[i].name = const_cast<char*>("bench.wav");
    items[i].data = wavs[i].data();
    items[i].size = uint32_t(wavs[i].size());
    items[i].embedded = 1;
    OvPlayRequest r;
    r.item = &items[i];
    r.loop = -1;
    r.kind = i % 2 ? OV_SND_POSITIONED : OV_SND_PLAIN;
    r.referenceDistance = 1.0f;
    r.radius = 1000.0f;
    OvSoundInstance* s = sys.CreateInstance(r);
    if (s == nullptr) {
      state.SkipWithError("cannot make a voice");
      return;
    }
    s->Play();
  }
  sys.Update();
  if (sys.VoiceList().count != kVoices) {
    state.SkipWithError("not every voice plays");
    return;
  }
  std::vector<int16_t> out(OV_WAVE_BUFFER_SAMPLES);
  for (auto _ : state) {
    sys.Mix(out.data(), OV_WAVE_BUFFER_SAMPLES);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * OV_WAVE_BUFFER_SAMPLES);
}
BENCHMARK(BM_Mix32Voices);

// The baseline: copying the bytes the mixer reads (32 voices x one buffer).
void BM_CopySameBytes(benchmark::State& state) {
  const size_t bytes = size_t(kVoices) * OV_WAVE_BUFFER_SAMPLES * sizeof(int16_t);
  std::vector<uint8_t> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * OV_WAVE_BUFFER_SAMPLES);
}
BENCHMARK(BM_CopySameBytes);

}  // namespace

BENCHMARK_MAIN();
