// WAV data: parses a RIFF/WAVE file (or an in-memory image of one) into
// 16-bit mono PCM at the output rate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ov_memory.h"

class OvStream;

// Longest sound accepted after conversion to the output rate (one hour);
// keeps a hostile header from asking for gigabytes.
constexpr uint32_t OV_SOUND_MAX_SAMPLES = 22050u * 3600u;

// 16-bit mono PCM at OV_WAVE_RATE, owned (AllocMem).
struct OvSoundSample {
  OvSoundSample() = default;
  ~OvSoundSample() { FreeSamples(); }
  OvSoundSample(const OvSoundSample&) = delete;
  OvSoundSample& operator=(const OvSoundSample&) = delete;

  // Replaces the samples with `count` zeroed ones; false when memory runs out
  // (the sample is then empty).
  bool AllocateSamples(uint32_t count);
  void FreeSamples();

  int16_t* samples = nullptr;
  uint32_t sampleCount = 0;
  uint32_t sampleRate = 0;  // of `samples`: the output rate once parsed
  uint32_t fileRate = 0;    // as the file gave it
  int32_t bits = 16;
};

// Reads a WAV file. Accepts PCM, one channel, 8 (unsigned) or 16 bits,
// chunks it does not know skipped; converts 8-bit data to 16 bits and any
// other rate to the output rate by linear interpolation. On rejection writes
// one trace line naming the file and the reason, and leaves `sample` empty.
bool ParseWave(const char* fileName, OvSoundSample& sample);
// The same for a memory image; `name` is what the trace line shows.
bool ParseWaveMemory(const void* data, size_t size, const char* name, OvSoundSample& sample);
// The same from an open stream positioned at the "RIFF" tag.
bool ParseWaveStream(OvStream& stream, const char* name, OvSoundSample& sample);

// Linear interpolation from `fromRate` to `toRate`: output sample k is taken
// at input position k x fromRate / toRate (exact integer arithmetic, rounded
// to nearest), for every position up to the last input sample. Returns the
// new count, or 0 when the input is empty, a rate is 0 or the result would be
// longer than OV_SOUND_MAX_SAMPLES. `out` may be null to ask for the count.
uint32_t OvResampleLinear(const int16_t* in, uint32_t count, uint32_t fromRate, uint32_t toRate, int16_t* out);
