// Test entry: headless video and silent audio unless the environment says
// otherwise (window tests run under an X server with SDL_VIDEODRIVER=x11).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
