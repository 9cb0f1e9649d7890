// The pixel a named clump shows at: the name rule (exact before contained)
// and the projection through the last frame's camera.
#include <gtest/gtest.h>

#include <cstring>

#include "ov_screen_point.h"
#include "scene_fixture.h"

namespace {

TEST(ScreenPoint, NamedClumpsProjectThroughTheLastFrame) {
  RecordingRenderer renderer(nullptr);
  OvScene scene;
  scene.SetRenderer(&renderer);  // 640 x 480
  AddCamera(scene);              // 90 degrees, looking along -z
  AddObject(scene, "lid_frame", nullptr, {0, 0, -100});
  AddObject(scene, "lid", nullptr, {100, 0, -100});
  AddObject(scene, "high", nullptr, {0, 75, -100});
  AddObject(scene, "back", nullptr, {0, 0, 100});

  float x = 0, y = 0;
  OvClump* lid = OvFindClumpForPointer(scene, "lid");
  ASSERT_NE(lid, nullptr);
  EXPECT_EQ(OvClumpScreenPoint(scene, *lid, x, y), OvScreenPointResult::NoView);  // nothing drawn yet
  scene.FrameStep();

  struct Case {
    const char* query;
    const char* found;  // null: no clump
    OvScreenPointResult result;
    float x, y;
  } cases[] = {
      {"lid", "lid", OvScreenPointResult::Ok, 640, 240},  // exact, though "lid_frame" comes first
      {"frame", "lid_frame", OvScreenPointResult::Ok, 320, 240},
      {"hig", "high", OvScreenPointResult::Ok, 320, 0},  // the top edge of the 4:3 view
      {"back", "back", OvScreenPointResult::BehindCamera, 0, 0},
      {"nothing", nullptr, OvScreenPointResult::Ok, 0, 0},
      {"", nullptr, OvScreenPointResult::Ok, 0, 0},
  };
  for (const Case& c : cases) {
    OvClump* clump = OvFindClumpForPointer(scene, c.query);
    if (c.found == nullptr) {
      EXPECT_EQ(clump, nullptr) << c.query;
      continue;
    }
    ASSERT_NE(clump, nullptr) << c.query;
    EXPECT_STREQ(clump->GetName(), c.found) << c.query;
    EXPECT_EQ(OvClumpScreenPoint(scene, *clump, x, y), c.result) << c.query;
    if (c.result != OvScreenPointResult::Ok) continue;
    EXPECT_NEAR(x, c.x, 0.01f) << c.query;
    EXPECT_NEAR(y, c.y, 0.01f) << c.query;
  }
}

}  // namespace
