// Fuzz target: WAV files, embedded in content (parsed from memory) and found
// on disk (parsed from a file). Either way a hostile file gives one trace line
// and an empty sample, and the two readers agree on what they accept.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ov_trace.h"
#include "ov_wave_file.h"

namespace {

std::string ScratchFile() {
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/wave_fuzz_" + std::to_string(getpid()) + ".wav";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (OvTraceSetQuiet(true), true);
  (void)quiet;
  static const std::string path = ScratchFile();

  OvSoundSample embedded;
  const bool fromMemory = ParseWaveMemory(data, size, "fuzz.wav", embedded);

  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  if (!written) return 0;
  OvSoundSample onDisk;
  const bool fromFile = ParseWave(path.c_str(), onDisk);
  std::remove(path.c_str());

  if (fromMemory != fromFile || embedded.sampleCount != onDisk.sampleCount) __builtin_trap();
  return 0;
}
