// Sound data: the sound-file lookup, AddSound on a content's sound
// database, LoadSample from files and from embedded data.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ov_sound_data.h"
#include "ov_sound_db.h"
#include "sound_test_util.h"
#include "trace_capture.h"

namespace fs = std::filesystem;

namespace {

using namespace soundtest;

class SoundDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root);
    WriteWav(root / "sounds" / "a.wav", {4, 5, 6});
  }
  void TearDown() override { fs::remove_all(root); }
  void WriteWav(const fs::path& p, const std::vector<int16_t>& samples) {
    fs::create_directories(p.parent_path());
    const std::vector<uint8_t> b = MakeWav16(samples);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  const fs::path root = fs::temp_directory_path() / ("ov_sound_data_" + std::to_string(getpid()));
  const std::string sounds = (root / "sounds").string();
  const std::string a = (root / "sounds" / "a.wav").string();
};

TEST_F(SoundDataTest, SoundPathsSplitOnBackslashesOnly) {
  std::string out;
  EXPECT_TRUE(ResolveSoundPath(out, "SOUNDS\\a.wav", sounds.c_str()) && out == a) << out;  // overlap
  EXPECT_TRUE(ResolveSoundPath(out, "q\\a.wav", sounds.c_str()) && out == a) << out;       // tail
  EXPECT_FALSE(ResolveSoundPath(out, a.c_str(), "elsewhere")) << out;                      // absolute: refused
  // "/" in a content name separates nothing here, so no tail "a.wav".
  EXPECT_FALSE(ResolveSoundPath(out, "q/a.wav", sounds.c_str()));
  EXPECT_FALSE(ResolveSoundPath(out, "sounds", root.string().c_str()));  // a folder
}

TEST_F(SoundDataTest, LoadSampleFromTheSoundFolderOrFromEmbeddedData) {
  TestSoundSystem sys;
  sys.Start();
  sys.SetSoundFolder(sounds.c_str());
  OvSoundItem onDisk;
  onDisk.name = const_cast<char*>("stage\\a.wav");
  EmbeddedSound embedded({7, 8}, "nowhere\\ghost.wav");  // no such file
  OvPlayRequest r;
  for (const auto& [item, expected] :
       {std::pair{&onDisk, std::vector<int16_t>{4, 5, 6}}, std::pair{&embedded.item, std::vector<int16_t>{7, 8}}}) {
    r.item = item;
    OvSoundInstance* s = sys.CreateInstance(r);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::vector<int16_t>(s->samples, s->samples + s->sampleCount), expected);
  }
  embedded.bytes[0] = 'X';
  onDisk.name = const_cast<char*>("missing.wav");
  TraceCapture trace;
  EXPECT_EQ(sys.CreateInstance(r), nullptr);
  r.item = &onDisk;
  EXPECT_EQ(sys.CreateInstance(r), nullptr);
  EXPECT_EQ(trace.Text(),
            "### nowhere\\ghost.wav: sound rejected, not a RIFF file\n### missing.wav: sound file not found\n");
}

TEST_F(SoundDataTest, AddSoundFindsReadsAndReusesItems) {
  OvChunkArena arena;
  OvSoundDatabase db(&arena);
  ASSERT_TRUE(db.SetFolder((root.string() + "/").c_str()));
  EXPECT_EQ(AddSound(db, "sounds\\a.wav"), 0);
  EXPECT_EQ(db.Item(0)->data, nullptr);  // not embedding: the name only

  db.SetEmbed(true);
  ASSERT_EQ(AddSound(db, "sounds/a.wav"), 1);
  const OvSoundItem* item = db.Item(1);
  ASSERT_NE(item->data, nullptr);
  EXPECT_EQ(item->embedded, 1);
  EXPECT_EQ(item->size, uint32_t(fs::file_size(a)));
  EXPECT_EQ(item->checksum, OvSoundChecksum(item->data, item->size));
  // A known name is not read again, even once its file has gone.
  fs::remove(a);
  EXPECT_EQ(AddSound(db, "sounds/a.wav"), 1);
  EXPECT_EQ(AddSound(db, "missing.wav"), 2);
  EXPECT_EQ(db.Item(2)->data, nullptr);
  EXPECT_EQ(AddSound(db, ""), -1);
}

TEST_F(SoundDataTest, ClearingTheDatabaseFirstReleasesDyingInstances) {
  TestSoundSystem sys;
  sys.Start();
  OvChunkArena arena;
  OvSoundDatabase db(&arena);
  const std::vector<uint8_t> wav = MakeWav16({1, 2, 3});
  ASSERT_EQ(db.AddItem("a.wav", wav.data(), uint32_t(wav.size())), 0);
  OvPlayRequest r;
  r.item = db.Item(0);
  OvSoundInstance* s = sys.CreateInstance(r);
  s->Play();
  sys.Update();
  sys.StopInstance(s, OV_SND_STOP);
  ASSERT_EQ(sys.DyingList().count, 1);
  db.ClearSoundDatabase();
  EXPECT_EQ(sys.DyingList().count, 0);
}

}  // namespace
