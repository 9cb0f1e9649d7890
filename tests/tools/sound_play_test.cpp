// Sounds from a stage source to the speakers: "Play Sound" nodes as orvc
// builds them, and stages compiled by orvc and played by orvplay on SDL's
// disk audio driver, whose output file (22050 Hz, mono, 16 bits) the tests
// read back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "orvc_test_util.h"
#include "ov_database.h"
#include "ov_misc_nodes.h"
#include "ov_sound_db.h"

using namespace orvc_test;

namespace {

constexpr double kOutRate = 22050.0;
constexpr int16_t kLevel = 8192;  // also exact in 8 bits: 128 +- 32

struct Tone {
  uint32_t rate = 22050;
  int bits = 16;
  double seconds = 0.1;
  bool toolChunks = false;  // an 18-byte format chunk, "fact" and "LIST" as common tools write
  bool extensible = false;  // the extensible format chunk naming PCM
};

void Put(Bytes& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

// A mono square wave of +-kLevel, about 441 Hz, whose samples are never 0,
// at the output rate or after linear resampling to it.
Bytes Wav(const Tone& t) {
  const uint32_t count = uint32_t(t.rate * t.seconds + 0.5);
  const uint32_t half = t.rate / 882;
  const int bytes = t.bits / 8;
  Bytes b;
  Put(b, "RIFF");
  Put(b, 0, 4);
  Put(b, "WAVE");
  Put(b, "fmt ");
  Put(b, t.extensible ? 40 : t.toolChunks ? 18 : 16, 4);
  Put(b, t.extensible ? 0xFFFE : 1, 2);
  Put(b, 1, 2);
  Put(b, t.rate, 4);
  Put(b, t.rate * bytes, 4);
  Put(b, bytes, 2);
  Put(b, t.bits, 2);
  if (t.extensible) {
    Put(b, 22, 2);
    Put(b, t.bits, 2);
    Put(b, 4, 4);  // front centre
    for (uint8_t g : {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}) b.push_back(g);
  }
  if (t.toolChunks) {
    Put(b, 0, 2);
    Put(b, "fact");
    Put(b, 4, 4);
    Put(b, count, 4);
    Put(b, "LIST");  // odd length: a pad byte follows
    Put(b, 15, 4);
    Put(b, "INFO");
    Put(b, "ISFT");
    Put(b, 3, 4);
    b.insert(b.end(), {'o', 'v', 0, 0});
  }
  Put(b, "data");
  Put(b, count * bytes, 4);
  for (uint32_t i = 0; i < count; ++i) {
    const int v = (i / half) % 2 ? -kLevel : kLevel;
    if (bytes == 1)
      Put(b, uint32_t(128 + v / 256), 1);
    else
      Put(b, uint16_t(int16_t(v)), 2);
  }
  const uint32_t riff = uint32_t(b.size() - 8);
  std::memcpy(b.data() + 4, &riff, 4);
  return b;
}

struct Played {
  std::string log;  // what orvc and orvplay printed
  std::vector<int16_t> out;
  // Samples that are not 0, the first and the last of them, the loudest.
  size_t sounding = 0, first = 0, last = 0;
  int peak = 0;
};

int Shell(const std::string& cmd, std::string& log) {
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) log.append(buf, n);
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Compiles `stage` with orvc in `dir` and plays it for `frames` frames on
// the disk audio driver (or `driver`).
Played Play(const TempDir& dir, const std::string& stage, int frames, const char* driver = "disk") {
  Played r;
  dir.Write("stage.lua", stage);
  const std::string d = "'" + dir.Path() + "/";
  if (Shell(std::string(ORVC_PATH) + " " + d + "stage.lua' -o " + d + "stage.orv'", r.log) != 0) {
    ADD_FAILURE() << r.log;
    return r;
  }
  const std::string env = std::string("SDL_AUDIODRIVER=") + driver + " SDL_DISKAUDIOFILE=" + d + "out.raw' ";
  if (Shell(env + ORVPLAY_PATH + " --headless 64 64 --frames " + std::to_string(frames) + " " + d + "stage.orv'",
            r.log) != 0) {
    ADD_FAILURE() << r.log;
  }
  std::ifstream in(dir.Path() + "/out.raw", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  r.out.resize(raw.size() / 2);
  if (!r.out.empty()) std::memcpy(r.out.data(), raw.data(), r.out.size() * 2);
  for (size_t i = 0; i < r.out.size(); ++i) {
    if (r.out[i] == 0) continue;
    if (r.sounding++ == 0) r.first = i;
    r.last = i;
    r.peak = std::max(r.peak, std::abs(int(r.out[i])));
  }
  return r;
}

// A camera at the origin looking along +Y and one clump at (0, distance, 0)
// with `nodes` (Lua node{} entries, the sound's handle is `snd`) and
// `fields`.
std::string Stage(const std::string& soundDecl, const std::string& nodes, double distance = 50,
                  const std::string& fields = "") {
  return "stage{ frame_rate = 60 }\nlocal snd = " + soundDecl +
         "\nlocal eye = clump{ name = \"eye\", look_at = { 0, 1, 0 }, camera = { near = 1, far = 1000 } }\n"
         "object{ name = \"viewer\", clump = eye }\nstage{ camera = eye }\n"
         "object{ name = \"src\", clump = clump{ name = \"src\", position = { 0, " +
         std::to_string(distance) + ", 0 }, " + fields + "animation = { " + nodes + " } } }\n";
}

// Sets flag 0x1 a quarter second in and keeps it; a once-only sound waits
// for it.
std::string OnceAfterQuarterSecond(bool positioned, double muteFrom = 10000) {
  return "node{ \"<ss> Timing Flag\", [\"Timing(sec):\"] = 0.25, [\"Hold(sec):\"] = 100, [\"Set Flag\"] = { 1, 1 } },"
         " node{ \"Play Sound\", [\"Sound File:\"] = snd, [\"Check Flag\"] = { 1, 1 }, [\"Infinite Loop\"] = false,"
         " [\"3D Sound\"] = " +
         std::string(positioned ? "true" : "false") + ", [\"Mute From\"] = " + std::to_string(muteFrom) + " }";
}

TEST(SoundPlay, PlaySoundNodeNamesItsSoundByIndex) {
  struct Case {
    const char* value;  // the "Sound File:" parameter, or null for none
    int32_t index;
    uint32_t sounds;  // items in the sound list afterwards
  };
  const Case cases[] = {
      {"bell", 0, 2},         // a handle
      {"\"far.wav\"", 1, 2},  // the name of a listed sound
      {"\"new.wav\"", 2, 3},  // a new named sound
      {"1", 1, 2},            // an index
      {nullptr, -1, 2},       // none
  };
  TempDir dir;
  dir.Write("bell.wav", Wav({}));
  for (const Case& c : cases) {
    std::string text =
        "local bell = sound{ file = \"bell.wav\" }\nsound{ name = \"far.wav\" }\n"
        "object{ clump = clump{ animation = { node{ \"Play Sound\"";
    if (c.value) text += std::string(", [\"Sound File:\"] = ") + c.value;
    text += " } } } }\n";
    Compiled compiled = Compile(text, dir.Path());
    ASSERT_TRUE(compiled.ok) << compiled.error;
    DatabasePtr db = Load(compiled.image);
    ASSERT_NE(db, nullptr);
    const auto* node = dynamic_cast<const OvPlaySoundNode*>(db->AniSet(0)->nodes[0]);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->soundIndex, c.index) << (c.value ? c.value : "none");
    EXPECT_EQ(db->SoundDatabase()->Count(), c.sounds) << (c.value ? c.value : "none");
  }
}

// Each tone lasts 0.1 s: 2205 samples at the output rate whatever its own.
TEST(SoundPlay, WaveFilesPlayAtTheirTimeAndLengthAtTheOutputRate) {
  struct Case {
    const char* what;
    Tone tone;
    bool embedded;
    bool positioned;
  };
  const Case cases[] = {
      {"22050 Hz 16-bit, plain", {22050, 16}, true, false},
      {"44100 Hz 16-bit, positioned", {44100, 16}, true, true},
      {"48000 Hz 16-bit with fact and LIST", {48000, 16, 0.1, true}, true, false},
      {"44100 Hz 16-bit, extensible format", {44100, 16, 0.1, false, true}, true, false},
      {"22050 Hz 8-bit", {22050, 8}, true, true},
      {"48000 Hz 8-bit", {48000, 8}, true, false},
      {"named file beside the content", {22050, 16}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    dir.Write("tone.wav", Wav(c.tone));
    const std::string decl = c.embedded ? "sound{ file = \"tone.wav\" }" : "sound{ name = \"tone.wav\" }";
    const Played p = Play(dir, Stage(decl, OnceAfterQuarterSecond(c.positioned)), 40);
    EXPECT_EQ(p.sounding, 2205u) << p.log;
    EXPECT_EQ(p.last + 1 - p.first, 2205u);  // in one piece
    EXPECT_EQ(p.peak, kLevel);
    // Not before its flag; within a few frames and one buffer after it.
    EXPECT_GE(p.first / kOutRate, 0.2);
    EXPECT_LE(p.first / kOutRate, 0.6);
  }
}

// Distance only decides whether a positioned sound gets a voice: inside its
// "Mute From" distance it plays at full level, beyond it not at all.
TEST(SoundPlay, PositionedSoundsFallSilentBeyondTheirMuteDistance) {
  struct Case {
    double distance;
    bool positioned;
    size_t sounding;
  };
  const Case cases[] = {{10, true, 2205}, {90, true, 2205}, {110, true, 0}, {110, false, 2205}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.distance) + (c.positioned ? " positioned" : " plain"));
    TempDir dir;
    dir.Write("tone.wav", Wav({}));
    const std::string nodes = OnceAfterQuarterSecond(c.positioned, 100);
    const Played p = Play(dir, Stage("sound{ file = \"tone.wav\" }", nodes, c.distance), 40);
    EXPECT_EQ(p.sounding, c.sounding) << p.log;
    EXPECT_EQ(p.peak, c.sounding ? kLevel : 0);
  }
}

// Flag 0x1 is on from the start and cleared for good after 0.3 s: the
// endless sound plays from the start and stops once the queued output
// (at most 240 ms) has played.
TEST(SoundPlay, EndlessSoundStopsWhenItsFlagClears) {
  TempDir dir;
  dir.Write("tone.wav", Wav({}));
  const std::string stage = Stage("sound{ file = \"tone.wav\" }",
                                  "node{ \"<ss> Timing Flag\", [\"Timing(sec):\"] = 0.3, [\"Hold(sec):\"] = 100,"
                                  " [\"Set Flag\"] = { 1, 0 } },"
                                  " node{ \"Play Sound\", [\"Sound File:\"] = snd, [\"Check Flag\"] = { 1, 1 } }",
                                  50, "switch = 1, ");
  const Played p = Play(dir, stage, 75);
  ASSERT_GT(p.sounding, 0u) << p.log;
  EXPECT_LE(p.first / kOutRate, 0.3);
  const double playing = (p.last + 1 - p.first) / kOutRate;
  EXPECT_GE(playing, 0.2);
  EXPECT_LE(playing, 0.7);
  EXPECT_GE((p.out.size() - p.last) / kOutRate, 0.3);  // silent to the end
}

// Where content sound cannot play, the trace says why.
TEST(SoundPlay, SilentFailuresAreTraced) {
  struct Case {
    const char* sound;  // declaration of `snd`
    const char* node;
    const char* driver;
    const char* line;
  };
  const Case cases[] = {
      {"sound{ name = \"missing.wav\" }", "node{ \"Play Sound\", [\"Sound File:\"] = snd }", "disk",
       "!!!! src: 'Play Sound' cannot play 'missing.wav'."},
      {"sound{ name = \"missing.wav\" }", "node{ \"Play Sound\", [\"Sound File:\"] = 4 }", "disk",
       "!!!! src: 'Play Sound' sound 4 is not in the content's sound list."},
      {"sound{ file = \"tone.wav\" }", "node{ \"Play Sound\", [\"Sound File:\"] = snd }", "no-such-driver",
       "### Wave output: no audio device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TempDir dir;
    dir.Write("tone.wav", Wav({}));
    const Played p = Play(dir, Stage(c.sound, c.node), 3, c.driver);
    EXPECT_NE(p.log.find(c.line), std::string::npos) << p.log;
  }
}

}  // namespace
