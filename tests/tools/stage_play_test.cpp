// Small stages compiled by orvc and played by orvplay: what a stage authors
// (switch words, references, categories, deletions) must show in the scene.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "orvc_test_util.h"

namespace {

const char* const kViewer = R"(
local cam = clump{ name = "cam", position = { 0, -500, 0 }, look_at = { 0, 0, 0 }, camera = {} }
object{ name = "viewer", clump = cam }
stage{ camera = cam }
)";

struct Played {
  int exitCode = -1;
  std::string dump;
};

// Compiles `source` and plays it headless for `frames` fixed steps.
Played Play(const std::string& source, int frames) {
  Played p;
  orvc_test::Compiled c = orvc_test::Compile(source);
  EXPECT_TRUE(c.ok) << c.error;
  if (!c.ok) return p;
  const std::string base = "stage_play_" + std::to_string(::getpid());
  const std::string orv = base + ".orv", json = base + ".json";
  std::ofstream(orv, std::ios::binary)
      .write(reinterpret_cast<const char*>(c.image.data()), std::streamsize(c.image.size()));
  std::remove(json.c_str());
  const std::string cmd = std::string(ORVPLAY_PATH) + " --headless 64 48 --fixed-step 1 --frames " +
                          std::to_string(frames) + " --dump-scene " + json + " " + orv + " >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  p.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(json);
  p.dump.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::remove(orv.c_str());
  std::remove(json.c_str());
  return p;
}

// Clumps in the dump name themselves before their position, objects before
// their local time.
std::string ClumpAt(const std::string& name) { return "\"name\": \"" + name + "\", \"position\""; }
std::string ObjectAt(const std::string& name) { return "\"name\": \"" + name + "\", \"localTime\""; }

int Count(const std::string& json, const std::string& marker) {
  int n = 0;
  for (size_t at = json.find(marker); at != std::string::npos; at = json.find(marker, at + 1)) ++n;
  return n;
}

// The value text of `key` in the first item found by `marker` ("" if none).
std::string Field(const std::string& json, const std::string& marker, const std::string& key) {
  size_t at = json.find(marker);
  if (at == std::string::npos) return "";
  at = json.find("\"" + key + "\": ", at);
  if (at == std::string::npos) return "";
  at += key.size() + 4;
  const size_t end = json[at] == '[' ? json.find(']', at) + 1 : json.find_first_of(",}", at);
  return json.substr(at, end - at);
}

TEST(StagePlay, AuthoredSwitchWordsAndInvisibilityReachTheClumps) {
  const struct {
    const char* fields;
    const char* switchWord;
    const char* culled;
  } cases[] = {
      {"", "0", "false"},
      {"switch = 0x5", "5", "false"},
      {"invisible = true", "65536", "true"},
      {"switch = 0x3, invisible = true", "65539", "true"},
  };
  std::string source = std::string(kViewer) + "local ball = sphere{ radius = 10 }\n";
  for (size_t i = 0; i < std::size(cases); ++i) {
    source += "object{ clump = clump{ name = \"c" + std::to_string(i) + "\", id = " + std::to_string(40 + i) +
              ", mesh = ball, " + cases[i].fields + " } }\n";
  }
  const Played p = Play(source, 2);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string at = ClumpAt("c" + std::to_string(i));
    EXPECT_EQ(Field(p.dump, at, "switchWord"), cases[i].switchWord) << cases[i].fields;
    EXPECT_EQ(Field(p.dump, at, "culled"), cases[i].culled) << cases[i].fields;
  }
}

// The chosen clump is held by an object whose ID (0) is another object's
// record index: neither key may stand for a record.
TEST(StagePlay, GeneratorEmitsItsChosenRecordAndMarksNoOtherObject) {
  const Played p = Play(std::string(kViewer) + R"(
    local tmpl = object{ name = "bullet", id = 9, template = true }
    local proto = clump{ name = "proto", emit_object = tmpl }
    object{ name = "rack", id = 0, clump = proto }
    object{ name = "gun", id = 1, clump = clump{ name = "launcher", id = 40, position = { 10, 20, 30 }, animation = {
      node{ "Generator", ["Check in Camera"] = false, ["Generated Object"] = proto, ["Total #"] = 1 } } } }
  )",
                        3);
  EXPECT_EQ(Count(p.dump, ObjectAt("bullet")), 1);
  EXPECT_EQ(Field(p.dump, ObjectAt("bullet"), "worldPosition"), "[10, 20, 30]");
  EXPECT_EQ(Count(p.dump, ObjectAt("viewer")), 1);
  EXPECT_EQ(Count(p.dump, ObjectAt("rack")), 1);
  EXPECT_NE(p.dump.find("\"camera\": {"), std::string::npos);
}

TEST(StagePlay, GenerateAfterDestroyedEmitsWhereItsClumpWent) {
  const struct {
    const char* what;
    const char* stage;
  } cases[] = {
      {"Del Object-tree", R"(object{ name = "doomed", clump = clump{ name = "doomed_root", id = 60,
         position = { 5, 6, 7 }, animation = { after, node{ "Del Object-tree", ["Check Flag"] = 0 } } } })"},
      {"Del Clump-tree", R"(object{ name = "holder", clump = clump{ name = "holder_root", children = {
         clump{ name = "doomed_root", id = 60, position = { 5, 6, 7 },
                animation = { after, node{ "Del Clump-tree", ["Check Flag"] = 0 } } } } } })"},
      {"lifetime end", R"(local brief = object{ name = "doomed", template = true }
         local proto = clump{ name = "doomed_root", id = 60, emit_object = brief, animation = { after } }
         object{ name = "gun", clump = clump{ name = "launcher", id = 61, position = { 5, 6, 7 }, animation = {
           node{ "Generator", ["Check in Camera"] = false, ["Generated Object"] = proto, ["Total #"] = 1,
                 ["Life Time:"] = 1, ["Align Orientation"] = false } } } })"},
  };
  for (const auto& c : cases) {
    const Played p = Play(std::string(kViewer) + R"(
      local spark = object{ name = "spark", id = 9, template = true }
      local sparkRoot = clump{ name = "spark_root", id = 30, emit_object = spark }
      local after = node{ "Generate After Destroyed", ["Generated Object"] = sparkRoot, ["Align Orientation"] = false }
    )" + c.stage,
                          4);
    EXPECT_EQ(Count(p.dump, ClumpAt("doomed_root")), 0) << c.what;
    EXPECT_EQ(Count(p.dump, ObjectAt("spark")), 1) << c.what;
    EXPECT_EQ(Field(p.dump, ClumpAt("spark_root"), "worldPosition"), "[5, 6, 7]") << c.what;
  }
}

// A category 26 object touching a category 24 one is deleted unless a node
// of its root clump's record takes the touch.
TEST(StagePlay, CollisionEventNodeOfAClumpWithItsOwnIdTakesTheTouch) {
  const Played p = Play(std::string(kViewer) + R"(
    local ball = sphere{ radius = 10 }
    object{ name = "wall", flags = { "collidable" }, category = 24, clump = clump{ name = "wall_root", id = 70,
            mesh = ball } }
    object{ name = "target", flags = { "collidable" }, category = 26, clump = clump{ name = "target_root", id = 50,
            mesh = ball, animation = { node{ "<oc:Touch>Obj:Common", ["Set Flag"] = { 0x4, 0x4 },
                                             ["Flag Hold (sec):"] = 10 } } } }
  )",
                        3);
  EXPECT_EQ(Count(p.dump, ObjectAt("target")), 1);
  EXPECT_EQ(Field(p.dump, ClumpAt("target_root"), "switchWord"), "4");
}

TEST(StagePlay, CategoriesAreTheFlagBytesOwnNumbers) {
  const struct {
    int a, b;
    bool aStays;
  } cases[] = {{26, 24, false}, {4, 2, false}, {4, 24, false}, {26, 0, true}, {4, 4, true}};
  for (const auto& c : cases) {
    const Played p = Play(std::string(kViewer) + "local ball = sphere{ radius = 10 }\n" +
                              "object{ name = \"a\", flags = { \"collidable\" }, category = " + std::to_string(c.a) +
                              ", clump = clump{ mesh = ball } }\n" +
                              "object{ name = \"b\", flags = { \"collidable\" }, category = " + std::to_string(c.b) +
                              ", clump = clump{ mesh = ball } }\n",
                          3);
    EXPECT_EQ(Count(p.dump, ObjectAt("a")), c.aStays ? 1 : 0) << c.a << " against " << c.b;
    EXPECT_EQ(Count(p.dump, ObjectAt("b")), 1) << c.a << " against " << c.b;
  }
}

// Without an object key the other clump is the first clump of object 0, the
// scene's first object.
TEST(StagePlay, RefOthersFlagWithoutAKeyReadsTheFirstObject) {
  const struct {
    const char* leaderSwitch;
    const char* followerSwitch;
  } cases[] = {{"0x1", "2"}, {"0x0", "0"}};
  for (const auto& c : cases) {
    const Played p = Play(
        std::string("object{ name = \"leader\", clump = clump{ switch = ") + c.leaderSwitch + " } }\n" + kViewer + R"(
      object{ clump = clump{ name = "follower", animation = {
        node{ "<s> Ref Other's Flag", ["Ref Other's Flag"] = { 0x1, 0x1 }, ["Set Flag"] = { 0x2, 0x2 } } } } }
    )",
        2);
    EXPECT_EQ(Field(p.dump, ClumpAt("follower"), "switchWord"), c.followerSwitch) << c.leaderSwitch;
  }
}

TEST(StagePlay, ChangeSceneWithoutAFileEndsTheProgram) {
  const struct {
    const char* check;
    const char* frames;
  } cases[] = {{"0", "1"}, {"{ 0x1, 0x1 }", "5"}};
  for (const auto& c : cases) {
    const Played p = Play(std::string(kViewer) + "object{ clump = clump{ animation = { node{ \"Change Scene\", " +
                              "[\"Check Flag\"] = " + c.check + " } } } }\n",
                          5);
    EXPECT_EQ(p.exitCode, 0) << c.check;
    EXPECT_EQ(Field(p.dump, "{\"time\"", "frames"), c.frames) << c.check;
  }
}

// Every kind of reference a node keeps, in a stage whose IDs are first the
// record indices and then shifted by 100: the same scene either way.
TEST(StagePlay, IdsNeedNotBeRecordIndices) {
  const std::string stage = R"(
    local cam = clump{ name = "cam", id = S + 0, position = { 0, -500, 0 }, look_at = { 0, 0, 0 }, camera = {} }
    object{ name = "viewer", id = S + 0, clump = cam }
    local ball = sphere{ radius = 10 }
    local spark = object{ name = "spark", id = S + 1, template = true }
    local leaderRoot = clump{ name = "leader_root", id = S + 1, switch = 0x1, position = { 30, 0, 0 } }
    object{ name = "leader", id = S + 2, clump = leaderRoot }
    object{ name = "follower", id = S + 3, clump = clump{ name = "follower_root", id = S + 2, animation = {
      node{ "<s> Ref Other's Flag", ["Ref Other's Flag"] = { 0x1, 0x1 }, ["Set Flag"] = { 0x2, 0x2 }, Ref = leaderRoot },
      node{ "<s> Distance", ["Set Flag"] = { 0x4, 0x4 }, ["Max Distance:"] = 50, Target = leaderRoot } } } }
    local bullet = object{ name = "bullet", id = S + 4, template = true }
    local proto = clump{ name = "proto", id = S + 9, emit_object = bullet }
    local sparkRoot = clump{ name = "spark_root", id = S + 10, emit_object = spark }
    local moves = clump{ name = "moves", id = S + 11, animation = {
      track{ kind = "position", keys = { { 0, 0, 0, 0 }, { 10, 100, 0, 0 } } } } }
    object{ name = "gun", id = S + 5, clump = clump{ name = "launcher", id = S + 3, position = { 10, 20, 30 },
      animation = { node{ "Generator", ["Check in Camera"] = false, ["Generated Object"] = proto, ["Total #"] = 2 } } } }
    local doomedRoot = clump{ name = "doomed_root", id = S + 4, position = { 5, 6, 7 }, animation = {
      node{ "<s> Time Range", ["Set Flag"] = { 0x1, 0x1 }, ["From:"] = 3, ["To:"] = 0 },
      node{ "Generate After Destroyed", ["Generated Object"] = sparkRoot, ["Align Orientation"] = false },
      node{ "Del Object-tree", ["Check Flag"] = { 0x1, 0x1 } } } }
    object{ name = "doomed", id = S + 6, clump = doomedRoot }
    object{ name = "watcher", id = S + 7, clump = clump{ name = "watcher_root", id = S + 5, animation = {
      node{ "<s> Check Destroyed", ["Set Flag"] = { 0x8, 0x8 }, Checked = doomedRoot } } } }
    object{ name = "wall", id = S + 8, flags = { "collidable" }, category = 24,
            clump = clump{ name = "wall_root", id = S + 6, mesh = ball } }
    object{ name = "target", id = S + 9, flags = { "collidable" }, category = 26, clump = clump{ name = "target_root",
      id = S + 7, mesh = ball, animation = {
        node{ "<oc:Touch>Obj:Common", ["Set Flag"] = { 0x4, 0x4 }, ["Flag Hold (sec):"] = 10 } } } }
    object{ name = "dancer", id = S + 10, clump = clump{ name = "dancer_root", id = S + 8, animation = {
      node{ "Apply Animation", ["Which Clump's Animation"] = moves, ["To:"] = 100 } } } }
    stage{ camera = cam }
  )";
  const std::regex ids("\"id\": -?[0-9]+");
  const std::string asIndices = std::regex_replace(Play("local S = 0\n" + stage, 6).dump, ids, "\"id\"");
  const std::string shifted = std::regex_replace(Play("local S = 100\n" + stage, 6).dump, ids, "\"id\"");
  EXPECT_EQ(Count(asIndices, ObjectAt("bullet")), 2);
  EXPECT_EQ(Count(asIndices, ObjectAt("spark")), 1);
  EXPECT_EQ(Field(asIndices, ClumpAt("watcher_root"), "switchWord"), "8");
  EXPECT_EQ(shifted, asIndices);
}

}  // namespace
