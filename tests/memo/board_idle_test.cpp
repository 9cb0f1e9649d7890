// How long an idle board sleeps per frame and whether it skips the frame.
#include <gtest/gtest.h>

#include "ov_memo_board.h"

TEST(BoardIdle, SleepAndSkipFollowIdleTimeAndCameraRest) {
  const struct {
    uint32_t idleMs;
    bool atRest;
    int32_t k;
    int32_t sleepMs;
    bool skip;
  } cases[] = {
      {13000, true, -1, 0, false},                                       // not yet idle
      {13001, true, -1, 50, true},                                       // 13001 / 256
      {14000, true, -1, 54, true},        {52000, true, -1, 200, true},  // capped
      {4000000000u, true, -1, 200, true}, {120000, false, 0, 0, false},  // moving camera: not yet
      {120001, false, 0, 30, false},      {120001, false, -1, 31, false},
      {120001, false, 30, 0, false},      {120001, false, 45, 0, false},  // a long step never makes a negative sleep
      {14000, false, 0, 0, false},
  };
  for (const auto& c : cases) {
    bool skip = !c.skip;
    EXPECT_EQ(OvIdleSleepMs(c.idleMs, c.atRest, c.k, &skip), c.sleepMs) << c.idleMs << " " << c.atRest << " " << c.k;
    EXPECT_EQ(skip, c.skip) << c.idleMs << " " << c.atRest << " " << c.k;
  }
}
