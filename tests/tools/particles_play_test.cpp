// The particle demo played from recorded input: its three effects live as
// objects of their own, and the 3-D pointer picks the crate, pulses its flag,
// leaves markers where the ray hit, and drags it while the button is down.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const std::string kTmp = "particles_play_" + std::to_string(::getpid());

// The compiled demo and the replay file go when the program ends.
struct TmpFiles {
  ~TmpFiles() {
    std::remove((kTmp + ".orv").c_str());
    std::remove((kTmp + ".txt").c_str());
  }
} g_tmpFiles;

struct PlayRun {
  int exitCode = -1;
  std::string dump;
};

// The demo compiled once, played for `frames` fixed steps with the pointer
// over the crate, the left button down at frame 3, two moves to the right
// and the button up at frame 12.
PlayRun Play(int frames, const std::string& screenshot = "") {
  static const bool compiled = [] {
    const std::string cmd =
        std::string(ORVC_PATH) + " " STAGE_SOURCE_DIR "/demos/particles.lua -o " + kTmp + ".orv >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
  }();
  PlayRun r;
  EXPECT_TRUE(compiled);
  std::ofstream(kTmp + ".txt") << "1 move @crate_inpick\n3 down left\n6 move @crate_inpick 30 0\n"
                                  "9 move @crate_inpick 30 0\n12 up left\n";
  const std::string json = kTmp + ".json";
  std::remove(json.c_str());
  std::string cmd = std::string(ORVPLAY_PATH) + " --headless 160 120 --fixed-step 1 --frames " +
                    std::to_string(frames) + " --replay " + kTmp + ".txt --dump-scene " + json;
  if (!screenshot.empty()) cmd += " --screenshot " + screenshot;
  cmd += " " + kTmp + ".orv >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(json);
  r.dump.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::remove(json.c_str());
  return r;
}

// The value text of `key` after the first `marker` ("" if none).
std::string Field(const std::string& json, const std::string& marker, const std::string& key) {
  size_t at = json.find(marker);
  if (at == std::string::npos) return "";
  at = json.find("\"" + key + "\": ", at);
  if (at == std::string::npos) return "";
  at += key.size() + 4;
  const size_t end = json[at] == '[' ? json.find(']', at) + 1 : json.find_first_of(",}", at);
  return json.substr(at, end - at);
}

int Count(const std::string& json, const std::string& marker) {
  int n = 0;
  for (size_t at = json.find(marker); at != std::string::npos; at = json.find(marker, at + 1)) ++n;
  return n;
}

float FirstX(const std::string& vector) { return vector.size() > 1 ? std::strtof(vector.c_str() + 1, nullptr) : 0.0f; }

const std::string kCrate = "\"name\": \"crate_inpick\", \"position\"";

TEST(ParticlesPlay, PointerPicksMarksAndDragsTheCrate) {
  const struct {
    int frames;
    const char* crateSwitch;    // 2 picked this frame, 4 dragged, 8 latched from a pick
    const char* pointerSwitch;  // 1 button held, 16 a pick this frame
    bool moved;
  } cases[] = {
      {2, "0", "0", false},   // pointer over the crate, button up: nothing
      {9, "14", "17", true},  // held: picked again under the pointer, dragged along
      {10, "12", "1", true},  // the pointer ran ahead of the crate: no pick, both pulses over
      {20, "8", "0", true},   // released at 12: dropped where it is, the drag flag undone
  };
  for (const auto& c : cases) {
    const PlayRun r = Play(c.frames);
    ASSERT_EQ(r.exitCode, 0) << c.frames;
    EXPECT_EQ(Field(r.dump, kCrate, "switchWord"), c.crateSwitch) << c.frames;
    EXPECT_EQ(Field(r.dump, "\"name\": \"pointer\", \"position\"", "switchWord"), c.pointerSwitch) << c.frames;
    EXPECT_EQ(FirstX(Field(r.dump, kCrate, "worldPosition")) > 20.0f, c.moved) << c.frames;
    // The pointer hangs 100 units in front of the camera.
    EXPECT_NE(Field(r.dump, "\"name\": \"pointer\", \"position\"", "position").find(", -100]"), std::string::npos)
        << c.frames;
    // A marker at every pick, on the crate's face towards the camera.
    const std::string marker = "\"name\": \"marker\", \"position\"";
    EXPECT_EQ(Count(r.dump, marker) > 0, c.frames > 3) << c.frames;
    if (c.frames > 3) {
      EXPECT_NE(Field(r.dump, marker, "worldPosition").find(", -220"), std::string::npos);
    }
    // Each particle effect is an object of its own with the emitter.
    EXPECT_EQ(Count(r.dump, "\"controllers\": [4000]"), 3) << c.frames;
  }
}

// The picture of the pointer over the dragged crate, with the three effects
// behind it. OV_UPDATE_REFERENCES=1 writes a new reference.
TEST(ParticlesPlay, PictureMatchesTheReference) {
  const std::string shot = kTmp + ".png";
  ASSERT_EQ(Play(9, shot).exitCode, 0);
  const std::string reference = STAGE_SOURCE_DIR "/../tests/tools/reference/particles_cursor.png";
  int w = 0, h = 0, n = 0, rw = 0, rh = 0;
  unsigned char* got = stbi_load(shot.c_str(), &w, &h, &n, 4);
  ASSERT_NE(got, nullptr);
  if (const char* update = std::getenv("OV_UPDATE_REFERENCES"); update && *update == '1') {
    stbi_write_png(reference.c_str(), w, h, 4, got, w * 4);
  }
  unsigned char* want = stbi_load(reference.c_str(), &rw, &rh, &n, 4);
  ASSERT_NE(want, nullptr) << reference;
  ASSERT_EQ(w, rw);
  ASSERT_EQ(h, rh);
  int outliers = 0;
  for (int i = 0; i < w * h * 4; ++i) outliers += std::abs(int(got[i]) - int(want[i])) > 12;
  EXPECT_LE(outliers, w * h * 4 / 100) << "actual picture left in " << shot;
  stbi_image_free(got);
  stbi_image_free(want);
  if (outliers <= w * h * 4 / 100) std::remove(shot.c_str());
}

}  // namespace
