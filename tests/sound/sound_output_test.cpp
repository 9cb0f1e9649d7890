// End to end: a content file carrying an embedded WAV is saved and loaded,
// its sound is played through the sound system on SDL's "disk" audio driver,
// and the driver's output file holds exactly the sound's samples.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ov_database.h"
#include "ov_sound_system.h"
#include "sound_test_util.h"
#include "trace_capture.h"

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one scope.
struct ScopedEnv {
  ScopedEnv(const char* name, const std::string& value) : name(name) {
    if (const char* old = std::getenv(name)) before = old, had = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { had ? (void)setenv(name, before.c_str(), 1) : (void)unsetenv(name); }
  const char* name;
  std::string before;
  bool had = false;
};

// The driver writes the device format: native-endian 16-bit samples.
std::vector<int16_t> ReadPcm(const fs::path& path) {
  std::vector<int16_t> pcm(fs::file_size(path) / 2);
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(pcm.data()), std::streamsize(pcm.size() * 2));
  return pcm;
}

TEST(SoundOutputTest, ContentSoundReachesTheDiskDriverSampleForSample) {
  const fs::path dir = fs::temp_directory_path() / ("ov_sound_out_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path content = dir / "sound.orv";
  const fs::path output = dir / "audio.raw";

  // Three buffers' worth minus a bit, never zero, so silence around it shows.
  std::vector<int16_t> pcm;
  for (int i = 0; i < 3000; ++i) pcm.push_back(int16_t(i % 2 ? 1000 + (i * 37) % 20000 : -1000 - i));
  {
    OvDatabase* db = OvDatabase::Create();
    const std::vector<uint8_t> wav = soundtest::MakeWav16(pcm);
    ASSERT_EQ(db->SoundDatabase()->AddItem("sounds\\tone.wav", wav.data(), uint32_t(wav.size())), 0);
    ASSERT_TRUE(db->Save(content.string().c_str()));
    db->Destroy();
  }

  OvDatabase* db = OvDatabase::Create();
  ASSERT_NE(db, nullptr);
  {
    TraceCapture quiet;  // the loader reports every section
    ASSERT_TRUE(db->Load(content.string().c_str()));
  }
  const OvSoundItem* item = db->SoundDatabase()->Item(0);
  ASSERT_TRUE(item && item->embedded == 1);

  {
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", output.string());
    OvSoundSystem sys;
    ASSERT_TRUE(sys.Start());
    ASSERT_STREQ(sys.WaveOut().DriverName(), "disk");

    OvPlayRequest request;
    request.item = item;
    OvSoundInstance* sound = sys.CreateInstance(request);
    ASSERT_NE(sound, nullptr);
    ASSERT_TRUE(sound->Play());
    sys.Update();  // gives the sound its voice
    ASSERT_EQ(sound->State(), OV_SND_PLAYING);
    sys.Update();  // mixes and queues it: three buffers, then nothing plays
    EXPECT_EQ(sound->State(), OV_SND_IDLE);
    EXPECT_LE(sys.WaveOut().QueuedCount(), 3);

    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sys.WaveOut().QueuedCount() > 0 && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(sys.WaveOut().QueuedCount(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    sys.StopInstance(sound, OV_SND_STOP_NOW);
    sys.Shutdown();
  }
  db->Destroy();

  const std::vector<int16_t> out = ReadPcm(output);
  size_t first = 0;
  while (first < out.size() && out[first] == 0) ++first;
  ASSERT_LT(first, out.size()) << "nothing but silence in " << out.size() << " samples";
  ASSERT_GE(out.size(), first + pcm.size() + 1323 - pcm.size() % 1323);
  for (size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(out[first + i], pcm[i]) << i;
  // The rest of the last buffer, and everything after it, is silence.
  for (size_t i = first + pcm.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
  fs::remove_all(dir);
}

}  // namespace
