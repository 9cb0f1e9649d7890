// The memo board content (stage/stage.lua) as the memo program plays it:
// every name the program looks up is there, the main things are drawn where
// they project, and the content's own logic answers the program's bits.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Played {
  int status = -1;
  std::string dump;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int Shell(const std::string& cmd) {
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class MemoStage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/memo-stage-XXXXXX";
    const char* dir = mkdtemp(pattern);
    ASSERT_NE(dir, nullptr);
    s_dir = dir;
    ASSERT_EQ(Shell(std::string(ORVC_PATH) + " " + STAGE_SOURCE_DIR + "/stage.lua -o " + s_dir + "/stage.orv"), 0);
  }
  static void TearDownTestSuite() { Shell("rm -rf " + s_dir); }

  // kiwa-memo on the board with a fresh data folder, driven by `replay`.
  static Played Play(const std::string& replay, int frames, const std::string& shot = "",
                     const char* window = "1024 768", bool freshData = true) {
    const std::string data = s_dir + "/data", input = s_dir + "/input.txt", dump = s_dir + "/dump.json";
    Shell("rm -rf " + dump);
    if (freshData) Shell("rm -rf " + data);
    std::ofstream(input) << replay;
    std::string cmd = std::string("timeout 120 ") + KIWA_MEMO_PATH + " --headless " + window +
                      " --fixed-step 1 --frames " + std::to_string(frames) + " --content " + s_dir +
                      "/stage.orv --data " + data + " --replay " + input + " --dump-scene " + dump;
    if (!shot.empty()) cmd += " --screenshot " + shot;
    Played run;
    run.status = Shell(cmd + " >/dev/null 2>&1");
    run.dump = ReadAll(dump);
    return run;
  }

  static std::string s_dir;
};
std::string MemoStage::s_dir;

bool HasName(const std::string& json, const std::string& name) {
  return json.find("\"name\": \"" + name + "\"") != std::string::npos;
}

// The "screen" point of the clump named `name`, false when it has none.
bool ScreenOf(const std::string& json, const std::string& name, double& x, double& y) {
  size_t at = json.find("\"name\": \"" + name + "\", \"position\"");
  if (at == std::string::npos) return false;
  // A clump's screen point follows its children.
  int depth = 0;
  for (size_t i = at; i < json.size(); ++i) {
    if (json[i] == '{' || json[i] == '[') ++depth;
    if (json[i] == '}' || json[i] == ']') --depth;
    if (depth == 0 && json.compare(i, 11, "\"screen\": [") == 0)
      return std::sscanf(json.c_str() + i + 11, "%lf, %lf", &x, &y) == 2;
    if (depth < 0) return false;
  }
  return false;
}

TEST_F(MemoStage, EveryNameTheProgramUsesIsThere) {
  const Played run = Play("", 3);
  ASSERT_EQ(run.status, 0);
  const char* objects[] = {
      "_exp_pick2_pen00", "_exp_pick2_pen01", "_exp_pick2_pen02", "_exp_pick2_pen03", "_exp_pick2_rubber",
      "_editPaper00",     "_editPaper01",     "_editPaper02",     "_editPaper03",     "_cursor",
      "_editUIRoot",      "_BkBoard",         "_0XBkBoard",       "_1XBkBoard",       "_pick1_pick3_CancelBtn",
      "D_CamRote",        "_pick1_CloseBtn",  "_InvisiblePlace",  "_clock",           "_pick1_noteBox0",
      "_pick1_noteBox3",  "_pick1_ReturnBtn", "_pick2_ok",        "TrashCan",         "D_TrashCanRot",
      "second_hand",      "minute_hand",      "hour_hand",        "month_digit",      "month_digit1",
      "mday_digit",       "mday_digit1",      "wday_digit"};
  for (const char* name : objects) EXPECT_TRUE(HasName(run.dump, name)) << name;

  // Templates are records of the content, not objects of the scene.
  const std::string records = s_dir + "/records.txt";
  ASSERT_EQ(Shell(std::string(ORVDUMP_PATH) + " " + s_dir + "/stage.orv > " + records), 0);
  const std::string text = ReadAll(records);
  const char* templates[] = {"_noteRoot00",  "_noteRoot01",  "_noteRoot02",         "_noteRoot03",
                             "_00noteXRoot", "_01noteXRoot", "_02noteXRoot",        "_03noteXRoot",
                             "delfly_red",   "del_noteRoot", "_pick3_recycleBkRoot"};
  for (const char* name : templates) EXPECT_NE(text.find(name), std::string::npos) << name;
}

// Each view shows its things: the pixel where a clump projects differs from
// the empty wall (board view) or the bare desk (edit view).
TEST_F(MemoStage, MainThingsAreDrawnWhereTheyProject) {
  struct Case {
    const char* replay;
    int frames;
    int emptyX, emptyY;  // a point where only the wall or the desk shows
    std::vector<const char*> shown;
    std::vector<const char*> hidden;  // as empty as that point
  };
  const Case cases[] = {
      {"",
       30,
       20,
       20,
       {"_BkBoard", "_pick1_noteBox0", "_pick1_noteBox1", "_pick1_noteBox2", "_pick1_noteBox3", "TrashCan",
        "_pick1_ReturnBtn", "_pick1_CloseBtn", "_clockFace", "wday_digit"},
       {}},
      {"2 move @_pick1_noteBox1\n3 down left\n4 up left\n",
       60,
       512,
       700,
       {"_editPaper01", "_exp_pick2_pen00", "_exp_pick2_pen03", "_exp_pick2_rubber", "_pick2_ok"},
       {"_pick1_pick3_CancelBtn"}},
      {"2 move @_pick1_ReturnBtn\n3 down left\n4 up left\n",
       60,
       900,
       700,
       {"_pick3_RecycleBinBk", "_pick3_RecycleBinBkGrip", "_pick3_pick1_ClearBtn", "_pick1_pick3_CancelBtn"},
       {}},
  };
  for (const Case& c : cases) {
    const std::string shot = s_dir + "/shot.png";
    const Played run = Play(c.replay, c.frames, shot);
    ASSERT_EQ(run.status, 0) << c.replay;
    int w = 0, h = 0, n = 0;
    unsigned char* px = stbi_load(shot.c_str(), &w, &h, &n, 3);
    ASSERT_NE(px, nullptr) << c.replay;
    ASSERT_EQ(w, 1024);
    ASSERT_EQ(h, 768);
    const unsigned char* empty = px + (c.emptyY * w + c.emptyX) * 3;
    for (const char* name : c.shown) {
      double x = -1, y = -1;
      ASSERT_TRUE(ScreenOf(run.dump, name, x, y)) << name;
      ASSERT_TRUE(x >= 0 && x < w && y >= 0 && y < h) << name << " projects off the screen";
      const unsigned char* p = px + (int(y) * w + int(x)) * 3;
      const int diff = std::abs(p[0] - empty[0]) + std::abs(p[1] - empty[1]) + std::abs(p[2] - empty[2]);
      EXPECT_GT(diff, 24) << name << " is not drawn at (" << x << ", " << y << ")";
    }
    for (const char* name : c.hidden) {
      double x = -1, y = -1;
      ASSERT_TRUE(ScreenOf(run.dump, name, x, y)) << name;
      const unsigned char* p = px + (int(y) * w + int(x)) * 3;
      const int diff = std::abs(p[0] - empty[0]) + std::abs(p[1] - empty[1]) + std::abs(p[2] - empty[2]);
      EXPECT_LE(diff, 24) << name << " is drawn at (" << x << ", " << y << ")";
    }
    stbi_image_free(px);
  }
}

// The content's answers to the program: the pad makes a new paper and the
// camera turns to the desk, a note dropped on the basket is recycled with a
// marker, the recycle button opens the tray, the close button ends the run.
TEST_F(MemoStage, ContentAnswersTheProgram) {
  const std::string newNote =
      "2 move @_pick1_noteBox2\n3 down left\n4 up left\n"
      "50 move @_editPaper02\n52 down left\n55 move @_editPaper02 -40 -30\n58 up left\n"
      "70 move @_pick2_ok\n71 down left\n72 up left\n";
  std::string toTrash = newNote + "140 move @_pick1_drag_paper\n141 down left\n";
  for (int f = 142; f <= 160; f += 2)
    toTrash += std::to_string(f) + " move @TrashCan 0 " + std::to_string(160 - f) + "\n";
  toTrash += "162 up left\n";
  std::string scroll =
      "2 move @_pick1_ReturnBtn\n3 down left\n4 up left\n60 move @_pick3_RecycleBinBkGrip 90 0\n61 down left\n";
  for (int f = 62; f <= 90; f += 2)
    scroll += std::to_string(f) + " move @_pick3_RecycleBinBkGrip " + std::to_string(90 - (f - 62) * 6) + " 0\n";
  scroll += "92 up left\n";
  struct Case {
    const char* what;
    std::string replay;
    int frames;
    std::vector<const char*> expected;  // texts the dump holds
    std::vector<const char*> absent;
    bool manyInBin = false;  // 18 recycled notes (copies of the one from "trash")
  };
  const Case cases[] = {
      {"at rest", "", 40, {"\"pickFilter\": \"_pick1_\"", "\"idleView\": true"}, {"newPaper"}},
      {"pad",
       "2 move @_pick1_noteBox2\n3 down left\n4 up left\n",
       60,
       {"\"pickFilter\": \"_pick2_\"", "\"camRote\": true", "\"idleView\": true",
        "\"name\": \"camera\", \"position\": [0, 64, 150]"},
       {}},
      {"new note", newNote, 140, {"\"kind\": 2", "\"pickFilter\": \"pick1\"", "\"camRote\": false"}, {}},
      {"trash", toTrash, 200, {"\"notes\": []", "\"recycleCount\": 1", "\"name\": \"delfly_red\""}, {"\"kind\": 2"}},
      {"recycle view",
       toTrash + "220 move @_pick1_ReturnBtn\n221 down left\n222 up left\n",
       280,
       {"\"pickFilter\": \"_pick3_\"", "\"name\": \"_pick3_recycleBk\"", "\"name\": \"_02noteXRoot\""},
       {}},
      // 84 pixels to the left on the grip slide the rows 25.5 units left.
      {"tray scroll", scroll, 110, {"\"name\": \"_pick3_recycleBkRoot\", \"position\": [-55.5"}, {}, true},
      {"recycle view again",
       "2 move @_pick1_ReturnBtn\n3 down left\n4 up left\n80 move @_pick1_pick3_CancelBtn\n81 down left\n82 up left\n"
       "150 move @_pick1_ReturnBtn\n151 down left\n152 up left\n",
       220,
       {"\"pickFilter\": \"_pick3_\"", "\"name\": \"_00noteXRoot\""},
       {},
       true},
      {"close", "2 move @_pick1_CloseBtn\n3 down left\n4 up left\n", 3000, {"\"frames\": 2"}, {}},
  };
  for (const Case& c : cases) {
    if (c.manyInBin) {
      // The bin as "trash" left it, with copies of its note under new names.
      const std::string bin = s_dir + "/data/recycle/";
      ASSERT_EQ(Shell("f=$(ls " + bin + " | head -1) && for i in $(seq 10 27); do cp " + bin + "$f " + bin +
                      "$((i % 4))00000000000000$i; done"),
                0);
    }
    const Played run = Play(c.replay, c.frames, "", "400 300", !c.manyInBin);
    EXPECT_EQ(run.status, 0) << c.what;
    for (const char* text : c.expected) EXPECT_NE(run.dump.find(text), std::string::npos) << c.what << ": " << text;
    for (const char* text : c.absent) EXPECT_EQ(run.dump.find(text), std::string::npos) << c.what << ": " << text;
  }
}

}  // namespace
