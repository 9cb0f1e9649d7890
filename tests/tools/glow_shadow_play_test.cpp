// A glowing ball and a box casting a shadow on a floor, compiled by orvc and
// played by orvplay: against the same stage without the two nodes, the glow
// only brightens, around the ball and beyond its outline, and the shadow
// only darkens, on the box's side of the view.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "orvc_test_util.h"

namespace {

constexpr int kW = 160, kH = 120;

// Camera in front and above, looking at the origin: the ball stands left of
// the middle column, the box right of it; the sun comes from the left.
std::string Stage(bool nodes) {
  std::string s = R"(
stage{ background = "#000000", ambient = "#303030" }
local floor = material{ name = "floor", diffuse = "#C0C0C0" }
local ember = material{ name = "ember", diffuse = "#000000", emissive = { 1, 0.4, 0.1 } }
local cam = clump{ name = "cam", position = { 0, -120, 120 }, look_at = { 0, 0, 0 }, camera = { fov = 45, near = 1, far = 1000 } }
local sun = clump{ name = "sun", light = { type = "directional", direction = { 1, 0.2, -1 } } }
)";
  s += std::string(
           "local ball = clump{ name = \"ball\", position = { -30, 0, 8 }, mesh = sphere{ radius = 6, material = ember "
           "}") +
       (nodes ? ", animation = { node{ \"~~Glow\", [\"Color:\"] = \"#FF8040\", [\"Multiplier:\"] = 16, [\"Range:\"] = "
                "2 } }"
              : "") +
       " }\n";
  s += std::string("local box = clump{ name = \"box\", position = { 30, 0, 10 }, mesh = box{ size = 10 }") +
       (nodes ? ", animation = { node{ \"{c}Rigid Shadow\" } }" : "") + " }\n";
  s += R"(
local ground = clump{ name = "ground", mesh = plane{ size = 200, material = floor } }
object{ name = "world", clumps = { cam, sun, ground, ball, box } }
stage{ camera = cam }
)";
  return s;
}

// RGB pixels of the last of a few frames, top row first; empty on failure.
std::vector<uint8_t> Shot(bool nodes) {
  orvc_test::Compiled c = orvc_test::Compile(Stage(nodes));
  EXPECT_TRUE(c.ok) << c.error;
  if (!c.ok) return {};
  const std::string base = "glow_shadow_play_" + std::to_string(::getpid()) + (nodes ? "_b" : "_a");
  std::ofstream(base + ".orv", std::ios::binary)
      .write(reinterpret_cast<const char*>(c.image.data()), std::streamsize(c.image.size()));
  const std::string cmd = std::string(ORVPLAY_PATH) + " --headless " + std::to_string(kW) + " " + std::to_string(kH) +
                          " --fixed-step 1 --frames 3 --screenshot " + base + ".png " + base + ".orv >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
  int w = 0, h = 0, n = 0;
  uint8_t* px = stbi_load((base + ".png").c_str(), &w, &h, &n, 3);
  std::vector<uint8_t> out;
  if (px && w == kW && h == kH) out.assign(px, px + size_t(w) * h * 3);
  if (px) stbi_image_free(px);
  std::remove((base + ".orv").c_str());
  std::remove((base + ".png").c_str());
  return out;
}

TEST(GlowShadowPlay, TheGlowBrightensAroundTheBallAndTheShadowDarkensBesideTheBox) {
  const std::vector<uint8_t> plain = Shot(false), effects = Shot(true);
  ASSERT_EQ(plain.size(), size_t(kW) * kH * 3);
  ASSERT_EQ(effects.size(), plain.size());
  int halo = 0, glowInside = 0, shadow = 0, darkLeft = 0, brightRight = 0;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const uint8_t* a = &plain[(size_t(y) * kW + x) * 3];
      const uint8_t* b = &effects[(size_t(y) * kW + x) * 3];
      const int dr = int(b[0]) - int(a[0]), dg = int(b[1]) - int(a[1]), db = int(b[2]) - int(a[2]);
      const bool floorGrey = a[0] == a[1] && a[1] == a[2];  // not the ball (orange) in the plain frame
      const bool left = x<kW / 2 - 2, right = x> kW / 2 + 2;
      if (left && floorGrey && dr > 20) ++halo;
      if (left && !floorGrey && dr >= 0 && dg >= 0) ++glowInside;
      if (right && dr < -20 && dg < -20 && db < -20) ++shadow;
      if (left && (dr < -2 || dg < -2 || db < -2)) ++darkLeft;
      if (right && (dr > 2 || dg > 2 || db > 2)) ++brightRight;
    }
  }
  EXPECT_GT(halo, 20) << "a halo beyond the ball's outline";
  EXPECT_GT(glowInside, 20);
  EXPECT_GT(shadow, 20) << "the box's shadow on the floor";
  EXPECT_EQ(darkLeft, 0) << "the glow only adds";
  EXPECT_EQ(brightRight, 0) << "the shadow only darkens";
}

}  // namespace
