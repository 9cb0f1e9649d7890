#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ov_camera.h"
#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_nodes.h"
#include "ov_scene.h"

namespace {

int RunPlayer(const std::string& args, std::string* output = nullptr) {
  std::string cmd = std::string(ORVPLAY_PATH) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  std::string out;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  if (output) *output = out;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// The numbers of the first "key": [a, b, c] array after `from`.
std::vector<double> ArrayAfter(const std::string& json, size_t from, const char* key) {
  std::vector<double> v;
  size_t k = json.find(std::string("\"") + key + "\": [", from);
  if (k == std::string::npos) return v;
  std::istringstream in(json.substr(k + std::strlen(key) + 5));
  double x;
  char sep;
  while (in >> x) {
    v.push_back(x);
    if (!(in >> sep) || sep != ',') break;
  }
  return v;
}

long IntAfter(const std::string& json, size_t from, const char* key) {
  size_t k = json.find(std::string("\"") + key + "\": ", from);
  return k == std::string::npos ? -999 : std::strtol(json.c_str() + k + std::strlen(key) + 4, nullptr, 10);
}

OvKeyTrackNode* Track(OvDatabase& db, uint32_t id, int values, const float* keys) {
  OvKeyTrackNode* node = OvArenaNew<OvKeyTrackNode>(db.Arena(), id);
  const int32_t times[2] = {0, 120};
  node->SetTable(OvKeyTable::Create(db.Arena(), 2, values, times, keys));
  return node;
}

// A camera looking at one object whose root clump moves from the origin to
// (12, 0, 0), turns a quarter turn about Z and grows from 1 to 3 over 120
// time units, all linear and clamped.
std::string WriteStage() {
  OvRegisterNodeTypes();
  OvRegisterSceneExtensionTypes();
  OvDatabase* db = OvDatabase::Create();
  db->SetName("tracks");

  OvDbAniSet* set = db->AddAniSet();
  const float pos[6] = {0, 0, 0, 12, 0, 0};
  const float s45 = std::sqrt(0.5f);
  const float rot[8] = {1, 0, 0, 0, s45, 0, 0, s45};
  const float scale[6] = {1, 1, 1, 3, 3, 3};
  db->AddAniSetEntry(*set, Track(*db, OV_TRACK_POSITION, 3, pos));
  db->AddAniSetEntry(*set, Track(*db, OV_TRACK_ROTATION, 4, rot));
  db->AddAniSetEntry(*set, Track(*db, OV_TRACK_SCALE, 3, scale));

  OvClumpRecord* mover = db->AddClumpRecord("mover");
  mover->id = 1;
  mover->aniSetIndex = 0;
  OvClumpRecord* cam = db->AddClumpRecord("eye");
  cam->id = 7;
  cam->position[1] = -50;
  cam->extensionFlags = OV_CLUMP_EXTENSION;
  cam->extension = OvArenaNew<OvDbCameraExt>(db->Arena());
  OvLogObjRecord* thing = db->AddLogObjRecord("thing");
  thing->id = 1;
  thing->firstClump = 0;
  OvLogObjRecord* viewer = db->AddLogObjRecord("viewer");
  viewer->id = 2;
  viewer->firstClump = 1;
  db->Header().cameraId = 7;

  std::string path = "orvplay_test_" + std::to_string(::getpid()) + ".orv";
  bool ok = db->Save(path.c_str());
  db->Destroy();
  return ok ? path : std::string();
}

TEST(Orvplay, FixedStepsGiveThePositionsTheKeysPredict) {
  std::string stage = WriteStage();
  ASSERT_FALSE(stage.empty());
  std::string dump = stage + ".json";
  std::string out;
  ASSERT_EQ(RunPlayer("--headless --frames 60 --fixed-step 1 --dump-scene " + dump + " " + stage, &out), 0) << out;

  std::ifstream in(dump);
  std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = json.find("\"name\": \"mover\"");
  ASSERT_NE(at, std::string::npos) << json;
  size_t obj = json.rfind("\"localTime\"", at);
  long t = IntAfter(json, obj, "localTime");
  // The clumps were last animated at the object's local time (the clock
  // advances after the step, and the object ages at the next step).
  long animated = t;
  EXPECT_EQ(t, 59);
  ASSERT_GE(animated, 0);
  double f = double(animated) / 120.0;

  std::vector<double> p = ArrayAfter(json, at, "position");
  ASSERT_EQ(p.size(), 3u);
  EXPECT_NEAR(p[0], 12.0 * f, 1e-3);
  EXPECT_NEAR(p[1], 0.0, 1e-4);
  std::vector<double> w = ArrayAfter(json, at, "worldPosition");
  ASSERT_EQ(w.size(), 3u);
  EXPECT_NEAR(w[0], 12.0 * f, 1e-3);

  std::vector<double> s = ArrayAfter(json, at, "scale");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_NEAR(s[0], 1.0 + 2.0 * f, 1e-3);

  std::vector<double> q = ArrayAfter(json, at, "rotation");
  ASSERT_EQ(q.size(), 4u);
  const double half = 0.5 * f * 1.5707963267948966;  // slerp of a quarter turn
  EXPECT_NEAR(q[0], std::cos(half), 1e-3);
  EXPECT_NEAR(q[3], std::sin(half), 1e-3);

  EXPECT_NE(json.find("\"camera\": {\"id\": 7"), std::string::npos) << json.substr(0, 300);
  // The three tracks drive the mover.
  std::vector<double> ctrls = ArrayAfter(json, at, "controllers");
  EXPECT_EQ(ctrls.size(), 3u) << json.substr(at, 600);
  std::remove(stage.c_str());
  std::remove(dump.c_str());
}

TEST(Orvplay, CommandLineErrorsAreExplained) {
  std::string out;
  EXPECT_EQ(RunPlayer("--headless", &out), 2);
  EXPECT_NE(out.find("no content file"), std::string::npos) << out;
  EXPECT_EQ(RunPlayer("--headless /nonexistent/x.orv", &out), 1);
  EXPECT_NE(out.find("/nonexistent/x.orv"), std::string::npos) << out;
  EXPECT_EQ(RunPlayer("--fixed-step 0 a.orv", &out), 2);
  EXPECT_EQ(RunPlayer("--help", &out), 0);
  EXPECT_NE(out.find("--dump-scene"), std::string::npos);
}

}  // namespace
