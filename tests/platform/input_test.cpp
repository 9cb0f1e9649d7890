// the polled input device over a fake source, the SDL scancode
// table, and the SDL source without a window.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ov_input.h"
#include "ov_input_sdl.h"
#include "ov_vkeys.h"
#include "trace_capture.h"

namespace {

class FakeSource : public OvInputSource {
 public:
  uint8_t keys[256] = {};
  int x = 0, y = 0;
  bool cursorOk = true;
  int left = 0, top = 0, right = 1920, bottom = 1080;
  bool clipOk = true;
  bool hasWindow = true;
  int winX = 0, winY = 0;
  std::vector<std::pair<int, int>> warps;
  int clipReads = 0;

  void Press(int vk) { keys[vk] |= 0x80; }
  void Release(int vk) { keys[vk] &= 0x7F; }

  void ReadKeyState(uint8_t out[256]) override { std::memcpy(out, keys, 256); }
  bool ReadCursor(int& ox, int& oy) override {
    if (!cursorOk) {
      ox = -12345;  // garbage on failure must not leak into the device
      oy = -12345;
      return false;
    }
    ox = x;
    oy = y;
    return true;
  }
  void SetCursor(int nx, int ny) override {
    warps.emplace_back(nx, ny);
    x = nx;  // the system cursor moves
    y = ny;
  }
  bool ReadClipRect(int& l, int& t, int& r, int& b) override {
    ++clipReads;
    if (!clipOk) return false;
    l = left;
    t = top;
    r = right;
    b = bottom;
    return true;
  }
  bool ScreenToClient(int& cx, int& cy) override {
    if (!hasWindow) return false;
    cx -= winX;
    cy -= winY;
    return true;
  }
};

class InputDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { dev.Reset(); }
  FakeSource src;
  OvPolledInputDevice dev{src};
};

TEST_F(InputDeviceTest, ClickDownForExactlyOneUpdateThenOnlyDown) {
  dev.Update();
  EXPECT_FALSE(dev.IsDown('A'));
  src.Press('A');
  dev.Update();
  EXPECT_TRUE(dev.IsDown('A'));
  EXPECT_TRUE(dev.IsClickDown('A'));
  EXPECT_FALSE(dev.IsClickUp('A'));
  // Queries are stable within a frame.
  EXPECT_TRUE(dev.IsClickDown('A'));
  dev.Update();
  EXPECT_TRUE(dev.IsDown('A'));
  EXPECT_FALSE(dev.IsClickDown('A'));
  dev.Update();
  EXPECT_TRUE(dev.IsDown('A'));
  EXPECT_FALSE(dev.IsClickDown('A'));
  EXPECT_FALSE(dev.IsClickUp('A'));
}

TEST_F(InputDeviceTest, ClickUpForExactlyOneUpdate) {
  src.Press(VK_SPACE);
  dev.Update();
  dev.Update();
  src.Release(VK_SPACE);
  dev.Update();
  EXPECT_FALSE(dev.IsDown(VK_SPACE));
  EXPECT_TRUE(dev.IsClickUp(VK_SPACE));
  EXPECT_FALSE(dev.IsClickDown(VK_SPACE));
  dev.Update();
  EXPECT_FALSE(dev.IsClickUp(VK_SPACE));
  EXPECT_FALSE(dev.IsDown(VK_SPACE));
}

TEST_F(InputDeviceTest, PressAndReleaseBetweenUpdatesIsNeverSeen) {
  dev.Update();
  src.Press('Q');
  src.Release('Q');
  dev.Update();
  EXPECT_FALSE(dev.IsDown('Q'));
  EXPECT_FALSE(dev.IsClickDown('Q'));
  EXPECT_FALSE(dev.IsClickUp('Q'));
  dev.Update();
  EXPECT_FALSE(dev.IsClickDown('Q'));
  EXPECT_FALSE(dev.IsClickUp('Q'));
}

TEST_F(InputDeviceTest, OnlyBit7Counts) {
  src.keys[VK_CAPITAL] = 0x01;  // toggled, not held
  dev.Update();
  EXPECT_FALSE(dev.IsDown(VK_CAPITAL));
  EXPECT_FALSE(dev.IsClickDown(VK_CAPITAL));
  src.keys[VK_CAPITAL] = 0x81;
  dev.Update();
  EXPECT_TRUE(dev.IsDown(VK_CAPITAL));
  EXPECT_TRUE(dev.IsClickDown(VK_CAPITAL));
}

TEST_F(InputDeviceTest, MouseButtonIndicesFollowLeftMiddleRight) {
  src.Press(VK_LBUTTON);
  dev.Update();
  EXPECT_TRUE(dev.IsDown(OV_INPUT_MOUSE_LEFT));
  EXPECT_TRUE(dev.IsClickDown(256));
  EXPECT_FALSE(dev.IsDown(257));
  EXPECT_FALSE(dev.IsDown(258));

  src.Release(VK_LBUTTON);
  src.Press(VK_MBUTTON);
  dev.Update();
  EXPECT_TRUE(dev.IsClickUp(256));
  EXPECT_TRUE(dev.IsDown(OV_INPUT_MOUSE_MIDDLE));
  EXPECT_TRUE(dev.IsClickDown(257));
  EXPECT_FALSE(dev.IsDown(258));

  src.Release(VK_MBUTTON);
  src.Press(VK_RBUTTON);
  dev.Update();
  EXPECT_FALSE(dev.IsDown(256));
  EXPECT_FALSE(dev.IsDown(257));
  EXPECT_TRUE(dev.IsDown(OV_INPUT_MOUSE_RIGHT));
  EXPECT_TRUE(dev.IsClickDown(258));
  // The virtual-key entries themselves answer too.
  EXPECT_TRUE(dev.IsDown(VK_RBUTTON));
}

TEST_F(InputDeviceTest, IndexOutOfRangeIsFalse) {
  std::memset(src.keys, 0x80, sizeof(src.keys));
  dev.Update();
  for (int bad : {-1, -1000, 259, 260, 100000, -2147483647 - 1, 2147483647}) {
    EXPECT_FALSE(dev.IsDown(bad)) << bad;
    EXPECT_FALSE(dev.IsClickDown(bad)) << bad;
    EXPECT_FALSE(dev.IsClickUp(bad)) << bad;
  }
  EXPECT_TRUE(dev.IsDown(0));
  EXPECT_TRUE(dev.IsDown(255));
  EXPECT_TRUE(dev.IsDown(258));
}

TEST_F(InputDeviceTest, ResetClearsEverything) {
  src.Press('A');
  src.x = 300;
  src.y = 200;
  int dx, dy;
  dev.GetMove(dx, dy);
  dev.Update();
  src.x = 310;
  dev.Update();
  ASSERT_TRUE(dev.RelativeMode());
  dev.Reset();
  EXPECT_FALSE(dev.RelativeMode());
  EXPECT_FALSE(dev.IsDown('A'));
  EXPECT_FALSE(dev.IsClickUp('A'));
  int x = -1, y = -1;
  src.hasWindow = false;
  dev.GetPos(x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  // Reset turned relative mode off: the next update measures nothing.
  src.x = 500;
  dev.Update();
  EXPECT_FALSE(dev.RelativeMode());
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
}

// Pointer events fed between updates: every press and release becomes a
// frame edge, a press is seen where it happened, and its event time judges
// double clicks.
TEST_F(InputDeviceTest, PointerEventsBecomeFrameEdges) {
  using K = OvPointerEvent::Kind;
  auto press = [](int x, int y, double t) { return OvPointerEvent{K::Button, x, y, OV_INPUT_MOUSE_LEFT, true, t}; };
  auto release = [](int x, int y, double t) { return OvPointerEvent{K::Button, x, y, OV_INPUT_MOUSE_LEFT, false, t}; };
  auto motion = [](int x, int y, double t) { return OvPointerEvent{K::Motion, x, y, 0, false, t}; };
  struct Step {
    std::vector<OvPointerEvent> events;  // fed before the update
    bool polledDown;                     // the system's button state at the update
    int polledX, polledY;                // the system's cursor, client pixels
    bool down, clickDown, clickUp;
    int x, y;  // GetPos after the update
    double clickTime;
    size_t taken;  // FrameEvents().size()
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"a 3 ms tap between two frames is a press, then a release",
       {{{press(10, 20, 1.0), release(10, 20, 1.003)}, false, 10, 20, true, true, false, 10, 20, 1.0, 1},
        {{}, false, 10, 20, false, false, true, 10, 20, -1.0, 1}}},
      {"a release and a new press between two frames are two edges",
       {{{press(5, 5, 0.0)}, true, 5, 5, true, true, false, 5, 5, 0.0, 1},
        {{release(5, 5, 0.1), press(6, 6, 0.15)}, true, 6, 6, false, false, true, 6, 6, -1.0, 1},
        {{}, true, 6, 6, true, true, false, 6, 6, 0.15, 1}}},
      {"a press ends the frame: the motion after it comes next frame",
       {{{motion(1, 1, 0.0), press(5, 5, 0.01), motion(50, 40, 0.011)}, true, 50, 40, true, true, false, 5, 5, 0.01, 2},
        {{}, true, 50, 40, true, false, false, 50, 40, -1.0, 1}}},
      {"a press the system state showed first is not a second click",
       {{{}, true, 7, 7, true, true, false, 7, 7, -1.0, 0},
        {{press(7, 7, 2.0)}, true, 7, 7, true, false, false, 7, 7, -1.0, 1},
        {{release(7, 7, 2.1)}, false, 7, 7, false, false, true, 7, 7, -1.0, 1}}},
      {"a release still on its way does not undo the press's frame",
       {{{press(3, 4, 5.0)}, false, 3, 4, true, true, false, 3, 4, 5.0, 1},
        {{}, false, 3, 4, false, false, true, 3, 4, -1.0, 0}}},
      {"buttons other than left keep their own edges",
       {{{OvPointerEvent{K::Button, 1, 1, OV_INPUT_MOUSE_RIGHT, true, 0.0},
          OvPointerEvent{K::Button, 1, 1, OV_INPUT_MOUSE_RIGHT, false, 0.001},
          OvPointerEvent{K::Button, 1, 1, 999, true, 0.002}},
         false,
         1,
         1,
         false,
         false,
         false,
         1,
         1,
         -1.0,
         1}}},
  };
  src.winX = 100;
  src.winY = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dev.Reset();
    int n = 0;
    for (const Step& st : c.steps) {
      SCOPED_TRACE("step " + std::to_string(++n));
      for (const OvPointerEvent& e : st.events) dev.FeedPointer(e);
      src.keys[VK_LBUTTON] = st.polledDown ? 0x80 : 0;
      src.x = st.polledX + src.winX;
      src.y = st.polledY + src.winY;
      dev.Update();
      EXPECT_EQ(dev.IsDown(OV_INPUT_MOUSE_LEFT), st.down);
      EXPECT_EQ(dev.IsDown(VK_LBUTTON), st.down);
      EXPECT_EQ(dev.IsClickDown(OV_INPUT_MOUSE_LEFT), st.clickDown);
      EXPECT_EQ(dev.IsClickUp(OV_INPUT_MOUSE_LEFT), st.clickUp);
      int x = 0, y = 0;
      dev.GetPos(x, y);
      EXPECT_EQ(x, st.x);
      EXPECT_EQ(y, st.y);
      EXPECT_EQ(dev.ClickTime(OV_INPUT_MOUSE_LEFT), st.clickTime);
      EXPECT_EQ(dev.FrameEvents().size(), st.taken);
    }
  }
  // The right button's tap of the last case: its release comes next update.
  EXPECT_TRUE(dev.IsClickDown(OV_INPUT_MOUSE_RIGHT));
  dev.Update();
  EXPECT_TRUE(dev.IsClickUp(OV_INPUT_MOUSE_RIGHT));
}

TEST_F(InputDeviceTest, BeyondTheLimitTheOldestWaitingPointerEventsGoWithOneLine) {
  TraceCapture trace;
  for (size_t i = 0; i < OvPolledInputDevice::kMaxPendingEvents + 10; ++i)
    dev.FeedPointer(OvPointerEvent{OvPointerEvent::Kind::Motion, int(i), 0, 0, false, 0.0});
  const std::string& text = trace.Text();
  const size_t first = text.find("the oldest are dropped");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("the oldest are dropped", first + 1), std::string::npos);
  dev.Update();
  ASSERT_EQ(dev.FrameEvents().size(), OvPolledInputDevice::kMaxPendingEvents);
  EXPECT_EQ(dev.FrameEvents().front().x, 10);
}

TEST_F(InputDeviceTest, BeforeGetMoveCursorIsNeverMovedAndMovementStaysZero) {
  // Right at the screen edges; without relative mode nothing wraps.
  const int pts[][2] = {{1919, 500}, {0, 500}, {800, 0}, {800, 1079}, {100, 100}, {1919, 1079}};
  for (const auto& p : pts) {
    src.x = p[0];
    src.y = p[1];
    dev.Update();
  }
  EXPECT_TRUE(src.warps.empty());
  EXPECT_EQ(src.clipReads, 0);
  int sx, sy;
  dev.GetScreenPos(sx, sy);
  EXPECT_EQ(sx, 1919);
  EXPECT_EQ(sy, 1079);
  int dx = -1, dy = -1;
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
}

TEST_F(InputDeviceTest, MovementIsZeroUntilAnUpdateRunsInRelativeMode) {
  src.x = 100;
  src.y = 100;
  dev.Update();
  int dx = -1, dy = -1;
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  src.x = 130;
  src.y = 90;
  dev.Update();
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 30);
  EXPECT_EQ(dy, -10);
  // Movement is the last update's, not accumulated.
  dev.Update();
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
}

// Puts the device into relative mode with the cursor at (x0, y0).
void EnterRelative(OvPolledInputDevice& dev, FakeSource& src, int x0, int y0) {
  src.x = x0;
  src.y = y0;
  dev.Update();
  int dx, dy;
  dev.GetMove(dx, dy);
}

TEST_F(InputDeviceTest, RightEdgeWrapsToLeftPlusOne) {
  src.left = 100;
  src.top = 50;
  src.right = 900;
  src.bottom = 650;
  EnterRelative(dev, src, 850, 300);
  src.x = 899;  // R - 1
  dev.Update();
  int dx, dy;
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 49);  // the real motion is reported
  EXPECT_EQ(dy, 0);
  ASSERT_EQ(src.warps.size(), 1u);
  EXPECT_EQ(src.warps[0], std::make_pair(101, 300));
  int sx, sy;
  dev.GetScreenPos(sx, sy);
  EXPECT_EQ(sx, 101);
  EXPECT_EQ(sy, 300);
  // The next movement is measured from the wrapped position: no jump.
  src.x = 106;
  src.y = 302;
  dev.Update();
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 5);
  EXPECT_EQ(dy, 2);
  EXPECT_EQ(src.warps.size(), 1u);
}

TEST_F(InputDeviceTest, BeyondRightEdgeAlsoWraps) {
  EnterRelative(dev, src, 1000, 500);
  src.x = 2500;  // e.g. on another display
  dev.Update();
  ASSERT_EQ(src.warps.size(), 1u);
  EXPECT_EQ(src.warps[0], std::make_pair(1, 500));
}

TEST_F(InputDeviceTest, LeftEdgeWrapsToRightMinusTwo) {
  src.left = 100;
  src.top = 50;
  src.right = 900;
  src.bottom = 650;
  EnterRelative(dev, src, 140, 300);
  src.x = 100;  // L
  dev.Update();
  int dx, dy;
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, -40);
  ASSERT_EQ(src.warps.size(), 1u);
  EXPECT_EQ(src.warps[0], std::make_pair(898, 300));
  src.x = 890;
  dev.Update();
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, -8);
  EXPECT_EQ(dy, 0);
}

TEST_F(InputDeviceTest, TopEdgeWrapsToBottomMinusTwo) {
  src.left = 100;
  src.top = 50;
  src.right = 900;
  src.bottom = 650;
  EnterRelative(dev, src, 400, 70);
  src.y = 50;  // T
  dev.Update();
  ASSERT_EQ(src.warps.size(), 1u);
  EXPECT_EQ(src.warps[0], std::make_pair(400, 648));
  src.y = 640;
  dev.Update();
  int dx, dy;
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, -8);
}

TEST_F(InputDeviceTest, BottomEdgeWrapsToTopPlusOne) {
  src.left = 100;
  src.top = 50;
  src.right = 900;
  src.bottom = 650;
  EnterRelative(dev, src, 400, 600);
  src.y = 649;  // B - 1
  dev.Update();
  ASSERT_EQ(src.warps.size(), 1u);
  EXPECT_EQ(src.warps[0], std::make_pair(400, 51));
  src.y = 60;
  dev.Update();
  int dx, dy;
  dev.GetMove(dx, dy);
  EXPECT_EQ(dy, 9);
}

TEST_F(InputDeviceTest, CornerWrapsBothAxesInOneMove) {
  EnterRelative(dev, src, 500, 500);
  src.x = 1919;
  src.y = 0;
  dev.Update();
  ASSERT_EQ(src.warps.size(), 1u);
  EXPECT_EQ(src.warps[0], std::make_pair(1, 1078));
}

TEST_F(InputDeviceTest, InsideTheRectangleNothingWraps) {
  EnterRelative(dev, src, 500, 500);
  for (auto [x, y] : {std::pair{1, 1}, {1918, 1078}, {1, 1078}, {1918, 1}}) {
    src.x = x;
    src.y = y;
    dev.Update();
  }
  EXPECT_TRUE(src.warps.empty());
}

TEST_F(InputDeviceTest, GetPosReturnsClientCoordinates) {
  src.winX = 200;
  src.winY = 150;
  src.x = 200;
  src.y = 150;
  dev.Update();
  int x = -1, y = -1;
  dev.GetPos(x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  src.x = 250;
  src.y = 140;
  dev.Update();
  dev.GetPos(x, y);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, -10);
}

TEST_F(InputDeviceTest, GetPosFallsBackToScreenCoordinates) {
  src.hasWindow = false;
  src.winX = 200;
  src.winY = 150;
  src.x = 250;
  src.y = 170;
  dev.Update();
  int x = -1, y = -1;
  dev.GetPos(x, y);
  EXPECT_EQ(x, 250);
  EXPECT_EQ(y, 170);
}

TEST_F(InputDeviceTest, GetPosIsTheLastUpdatesCursor) {
  src.x = 10;
  src.y = 20;
  dev.Update();
  src.x = 99;  // moved since, but not sampled
  int x, y;
  dev.GetPos(x, y);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
}

TEST_F(InputDeviceTest, CursorFailureTracesAndKeepsOldCursor) {
  TraceCapture trace;
  src.x = 300;
  src.y = 400;
  dev.Update();
  EXPECT_EQ(trace.Text(), "");
  int dx, dy;
  dev.GetMove(dx, dy);
  src.x = 320;
  dev.Update();
  src.cursorOk = false;
  src.Press('K');
  dev.Update();
  EXPECT_EQ(trace.Text(), "Get mouse position failed.\n");
  EXPECT_TRUE(dev.IsClickDown('K'));  // keys are still sampled
  int x, y;
  src.hasWindow = false;
  dev.GetPos(x, y);
  EXPECT_EQ(x, 320);
  EXPECT_EQ(y, 400);
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
}

TEST_F(InputDeviceTest, CursorFailureWithoutRelativeModeTracesToo) {
  TraceCapture trace;
  src.cursorOk = false;
  dev.Update();
  dev.Update();
  EXPECT_EQ(trace.Text(), "Get mouse position failed.\nGet mouse position failed.\n");
}

TEST_F(InputDeviceTest, ClipFailureTracesAndSkipsWrapping) {
  TraceCapture trace;
  EnterRelative(dev, src, 1000, 500);
  EXPECT_EQ(trace.Text(), "");
  src.clipOk = false;
  src.x = 1919;
  dev.Update();
  EXPECT_EQ(trace.Text(), "GetClipCursor() failed.\n");
  EXPECT_TRUE(src.warps.empty());
  int dx, dy;
  dev.GetMove(dx, dy);
  EXPECT_EQ(dx, 919);  // movement is still computed before the clip read
  int sx, sy;
  dev.GetScreenPos(sx, sy);
  EXPECT_EQ(sx, 1919);
}

TEST_F(InputDeviceTest, NoClipReadOutsideRelativeMode) {
  TraceCapture trace;
  src.clipOk = false;
  dev.Update();
  EXPECT_EQ(trace.Text(), "");
}

TEST(InputDeviceGlobal, AccessorIsThePointer) {
  EXPECT_EQ(OvGetInputDevice(), nullptr);
  FakeSource src;
  OvPolledInputDevice* dev = new OvPolledInputDevice(src);
  ASSERT_NE(dev, nullptr);
  OvSetInputDevice(dev);
  EXPECT_EQ(OvGetInputDevice(), dev);
  OvSetInputDevice(nullptr);
  EXPECT_EQ(OvGetInputDevice(), nullptr);
  delete dev;
}

TEST(InputDeviceGlobal, DevicesComeFromTheEngineAllocator) {
  OvMemoryStart(0);
  const OvMemoryCounters before = OvMemoryGetCounters();
  OvInputDevice* dev = OvCreateSdlInputDevice(nullptr);
  ASSERT_NE(dev, nullptr);
  EXPECT_EQ(OvMemoryGetCounters().allocCount, before.allocCount + 1);
  delete dev;
  EXPECT_EQ(OvMemoryGetCounters().freeCount, before.freeCount + 1);
  OvMemoryFailNext(1);
  EXPECT_EQ(OvCreateSdlInputDevice(nullptr), nullptr);
  OvMemoryFailNext(0);
  TraceCapture quiet;  // the balance report
  OvMemoryStop();
}

// ---- The scancode table ---------------------------------------------------

TEST(VirtualKeyTable, SpotChecks) {
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_A), 0x41);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_M), 'M');
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_Z), 0x5A);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_1), 0x31);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_9), 0x39);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_0), 0x30);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_F1), 0x70);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_F12), 0x7B);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_F13), 0x7C);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_F24), 0x87);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_RETURN), 0x0D);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_ENTER), 0x0D);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_ESCAPE), 0x1B);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_SPACE), 0x20);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_BACKSPACE), 0x08);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_TAB), 0x09);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_LEFT), 0x25);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_UP), 0x26);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_RIGHT), 0x27);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_DOWN), 0x28);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_PAGEUP), 0x21);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_PAGEDOWN), 0x22);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_END), 0x23);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_HOME), 0x24);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_INSERT), 0x2D);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_DELETE), 0x2E);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_PRINTSCREEN), 0x2C);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_PAUSE), 0x13);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_CAPSLOCK), 0x14);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_NUMLOCKCLEAR), 0x90);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_SCROLLLOCK), 0x91);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_LGUI), 0x5B);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_RGUI), 0x5C);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_APPLICATION), 0x5D);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_SEMICOLON), 0xBA);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_EQUALS), 0xBB);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_COMMA), 0xBC);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_MINUS), 0xBD);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_PERIOD), 0xBE);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_SLASH), 0xBF);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_GRAVE), 0xC0);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_LEFTBRACKET), 0xDB);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_BACKSLASH), 0xDC);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_RIGHTBRACKET), 0xDD);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_APOSTROPHE), 0xDE);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_LSHIFT), 0xA0);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_RSHIFT), 0xA1);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_LCTRL), 0xA2);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_RCTRL), 0xA3);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_LALT), 0xA4);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_RALT), 0xA5);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_UNKNOWN), 0);
  EXPECT_EQ(OvVkFromScancode(-1), 0);
  EXPECT_EQ(OvVkFromScancode(SDL_NUM_SCANCODES), 0);
}

TEST(VirtualKeyTable, Keypad) {
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_0), 0x60);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_1), 0x61);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_5), 0x65);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_9), 0x69);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_MULTIPLY), 0x6A);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_PLUS), 0x6B);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_MINUS), 0x6D);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_PERIOD), 0x6E);
  EXPECT_EQ(OvVkFromScancode(SDL_SCANCODE_KP_DIVIDE), 0x6F);
}

// Every key code of the "<s> Keyboard" sensor table and of the
// script key-name parser is reachable from some scancode.
TEST(VirtualKeyTable, EveryContentKeyCodeIsReachable) {
  std::vector<int> codes = {32, 8,  9,  13, 16, 17,  18,  19,  20,  27,  33, 34, 35, 36,
                            44, 45, 46, 91, 92, 109, 110, 111, 144, 145, 37, 38, 39, 40};
  for (int c = 65; c <= 90; ++c) codes.push_back(c);
  for (int c = 48; c <= 57; ++c) codes.push_back(c);
  for (int c = 160; c <= 165; ++c) codes.push_back(c);
  for (int c = 112; c <= 123; ++c) codes.push_back(c);
  for (int c = 96; c <= 107; ++c) codes.push_back(c);
  for (int c = 186; c <= 192; ++c) codes.push_back(c);
  for (int c = 219; c <= 222; ++c) codes.push_back(c);
  bool reachable[256] = {};
  for (int sc = 0; sc < SDL_NUM_SCANCODES; ++sc) reachable[OvVkFromScancode(sc)] = true;
  // The sideless modifiers come from OvMapKeyboardState.
  reachable[VK_SHIFT] = reachable[VK_CONTROL] = reachable[VK_MENU] = true;
  for (int c : codes) EXPECT_TRUE(reachable[c]) << "key code " << c;
}

TEST(VirtualKeyTable, NoScancodeGivesAMouseCode) {
  for (int sc = 0; sc < SDL_NUM_SCANCODES; ++sc) {
    const int vk = OvVkFromScancode(sc);
    EXPECT_TRUE(vk != VK_LBUTTON && vk != VK_RBUTTON && vk != VK_MBUTTON && vk != VK_XBUTTON1 && vk != VK_XBUTTON2)
        << sc;
  }
}

struct KeyboardStateTest : ::testing::Test {
  uint8_t sdl[SDL_NUM_SCANCODES] = {};
  uint8_t out[256];
  void Map(uint32_t mod = 0) { OvMapKeyboardState(sdl, SDL_NUM_SCANCODES, mod, out); }
  KeyboardStateTest() { std::memset(out, 0xEE, sizeof(out)); }
};

TEST_F(KeyboardStateTest, NothingDownClearsEverything) {
  out[VK_LBUTTON] = 0;
  out[VK_RBUTTON] = 0;
  out[VK_MBUTTON] = 0;
  out[VK_XBUTTON1] = 0;
  out[VK_XBUTTON2] = 0;
  Map();
  for (int i = 0; i < 256; ++i) EXPECT_EQ(out[i], 0) << i;
}

TEST_F(KeyboardStateTest, LetterDigitFunctionReturn) {
  sdl[SDL_SCANCODE_A] = 1;
  sdl[SDL_SCANCODE_1] = 1;
  sdl[SDL_SCANCODE_F1] = 1;
  sdl[SDL_SCANCODE_RETURN] = 1;
  sdl[SDL_SCANCODE_KP_7] = 1;
  Map();
  EXPECT_EQ(out['A'], 0x80);
  EXPECT_EQ(out['1'], 0x80);
  EXPECT_EQ(out[VK_F1], 0x80);
  EXPECT_EQ(out[VK_RETURN], 0x80);
  EXPECT_EQ(out[VK_NUMPAD0 + 7], 0x80);
  EXPECT_EQ(out['B'], 0);
  EXPECT_EQ(out[VK_SHIFT], 0);
}

TEST_F(KeyboardStateTest, LeftShiftSetsShiftAndLeftShift) {
  sdl[SDL_SCANCODE_LSHIFT] = 1;
  Map();
  EXPECT_EQ(out[VK_SHIFT], 0x80);
  EXPECT_EQ(out[VK_LSHIFT], 0x80);
  EXPECT_EQ(out[VK_RSHIFT], 0);
  EXPECT_EQ(out[VK_CONTROL], 0);
  EXPECT_EQ(out[VK_MENU], 0);
}

TEST_F(KeyboardStateTest, EitherSideSetsTheSidelessModifier) {
  sdl[SDL_SCANCODE_RSHIFT] = 1;
  sdl[SDL_SCANCODE_RCTRL] = 1;
  sdl[SDL_SCANCODE_LALT] = 1;
  Map();
  EXPECT_EQ(out[VK_SHIFT], 0x80);
  EXPECT_EQ(out[VK_RSHIFT], 0x80);
  EXPECT_EQ(out[VK_LSHIFT], 0);
  EXPECT_EQ(out[VK_CONTROL], 0x80);
  EXPECT_EQ(out[VK_RCONTROL], 0x80);
  EXPECT_EQ(out[VK_LCONTROL], 0);
  EXPECT_EQ(out[VK_MENU], 0x80);
  EXPECT_EQ(out[VK_LMENU], 0x80);
  EXPECT_EQ(out[VK_RMENU], 0);
  // Released again: all clear.
  std::memset(sdl, 0, sizeof(sdl));
  Map();
  EXPECT_EQ(out[VK_SHIFT], 0);
  EXPECT_EQ(out[VK_CONTROL], 0);
  EXPECT_EQ(out[VK_MENU], 0);
}

TEST_F(KeyboardStateTest, SharedKeyCodeIsDownWhileEitherKeyIs) {
  sdl[SDL_SCANCODE_KP_ENTER] = 1;
  Map();
  EXPECT_EQ(out[VK_RETURN], 0x80);
}

TEST_F(KeyboardStateTest, LockTogglesInBit0Only) {
  Map(KMOD_CAPS | KMOD_NUM);
  EXPECT_EQ(out[VK_CAPITAL], 0x01);
  EXPECT_EQ(out[VK_NUMLOCK], 0x01);
  EXPECT_EQ(out[VK_SCROLL], 0);
  sdl[SDL_SCANCODE_CAPSLOCK] = 1;
  Map(KMOD_CAPS);
  EXPECT_EQ(out[VK_CAPITAL], 0x81);
}

TEST_F(KeyboardStateTest, ShortArrayAndNull) {
  OvMapKeyboardState(nullptr, 0, 0, out);
  EXPECT_EQ(out['A'], 0);
  uint8_t few[10] = {};
  few[SDL_SCANCODE_A] = 1;
  OvMapKeyboardState(few, 10, 0, out);
  EXPECT_EQ(out['A'], 0x80);
}

TEST_F(KeyboardStateTest, MouseButtonsKeptAndMapped) {
  OvMapMouseButtons(SDL_BUTTON_LMASK | SDL_BUTTON_RMASK, out);
  Map();
  EXPECT_EQ(out[VK_LBUTTON], 0x80);
  EXPECT_EQ(out[VK_RBUTTON], 0x80);
  EXPECT_EQ(out[VK_MBUTTON], 0);
  OvMapMouseButtons(SDL_BUTTON_MMASK | SDL_BUTTON_X1MASK, out);
  EXPECT_EQ(out[VK_LBUTTON], 0);
  EXPECT_EQ(out[VK_RBUTTON], 0);
  EXPECT_EQ(out[VK_MBUTTON], 0x80);
  EXPECT_EQ(out[VK_XBUTTON1], 0x80);
  EXPECT_EQ(out[VK_XBUTTON2], 0);
}

// ---- The SDL source without a display --------------------------------------

TEST(SdlInputSource, WithoutVideoCursorAndClipFailAndClientIsScreen) {
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << "video already started in this process";
  OvSdlInputSource src(nullptr);
  int x = 7, y = 8;
  EXPECT_FALSE(src.ScreenToClient(x, y));
  int l, t, r, b;
  EXPECT_FALSE(src.ReadClipRect(l, t, r, b));
  EXPECT_FALSE(src.ReadCursor(x, y));
  src.SetCursor(10, 10);  // harmless
  uint8_t keys[256];
  std::memset(keys, 0xEE, sizeof(keys));
  src.ReadKeyState(keys);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(keys[i] & 0x80, 0) << i;

  // The device traces both failures as the Part says.
  TraceCapture trace;
  OvInputDevice* dev = OvCreateSdlInputDevice(nullptr);
  ASSERT_NE(dev, nullptr);
  dev->Reset();
  int dx, dy;
  dev->GetMove(dx, dy);
  dev->Update();
  EXPECT_EQ(trace.Text(), "Get mouse position failed.\nGetClipCursor() failed.\n");
  dev->GetPos(x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  delete dev;
}

TEST(SdlInputSource, OffscreenWindowClientOriginAndDisplayBounds) {
  // Headless unless the environment names a driver (ctest sets offscreen).
  SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_DEFAULT);
  const bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  SDL_ResetHint(SDL_HINT_VIDEODRIVER);
  if (!started) GTEST_SKIP() << SDL_GetError();
  SDL_Window* win = SDL_CreateWindow("input", 40, 30, 320, 240, SDL_WINDOW_HIDDEN);
  if (win == nullptr) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    GTEST_SKIP() << SDL_GetError();
  }
  OvSdlInputSource src(win);
  int wx, wy;
  SDL_GetWindowPosition(win, &wx, &wy);
  int x = wx, y = wy;
  EXPECT_TRUE(src.ScreenToClient(x, y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  x = wx + 15;
  y = wy + 25;
  EXPECT_TRUE(src.ScreenToClient(x, y));
  EXPECT_EQ(x, 15);
  EXPECT_EQ(y, 25);

  SDL_Rect bounds;
  ASSERT_EQ(SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(win), &bounds), 0);
  int l, t, r, b;
  ASSERT_TRUE(src.ReadClipRect(l, t, r, b));
  EXPECT_EQ(l, bounds.x);
  EXPECT_EQ(t, bounds.y);
  EXPECT_EQ(r, bounds.x + bounds.w);
  EXPECT_EQ(b, bounds.y + bounds.h);
  EXPECT_TRUE(src.ReadCursor(x, y));

  SDL_DestroyWindow(win);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// ---- The SDL device on a real X server --------------------------------------
// Opt-in: runs only with SDL_VIDEODRIVER=x11 and a display, e.g.
//   SDL_VIDEODRIVER=x11 xvfb-run -a -s "-screen 0 1024x768x24"
//     platform_tests --gtest_filter='SdlInputX11.*'
// (it moves the pointer and presses keys with xdotool).

void PumpFor(int ms) {
  for (int t = 0; t < ms; t += 10) {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
    SDL_Delay(10);
  }
}

// Pumps events until SDL's own state shows what xdotool did; a loaded
// machine may take longer than any fixed wait.
template <class Cond>
bool PumpUntil(Cond cond, int maxMs = 5000) {
  for (int t = 0; t < maxMs; t += 10) {
    PumpFor(10);
    if (cond()) return true;
  }
  return cond();
}

bool PointerAt(int x, int y) {
  int mx, my;
  SDL_GetMouseState(&mx, &my);
  return mx == x && my == y;
}

TEST(SdlInputX11, PointerKeysButtonsAndWrapOverAFullDisplayWindow) {
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (driver == nullptr || std::string(driver) != "x11" || std::getenv("DISPLAY") == nullptr ||
      std::system("command -v xdotool >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs SDL_VIDEODRIVER=x11, a display and xdotool";
  }
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  SDL_Rect bounds;
  ASSERT_EQ(SDL_GetDisplayBounds(0, &bounds), 0);
  SDL_Window* win =
      SDL_CreateWindow("input", bounds.x, bounds.y, bounds.w, bounds.h, SDL_WINDOW_SHOWN | SDL_WINDOW_BORDERLESS);
  ASSERT_NE(win, nullptr) << SDL_GetError();
  PumpFor(200);
  OvInputDevice* dev = OvCreateSdlInputDevice(win);
  ASSERT_NE(dev, nullptr);
  dev->Reset();
  auto run = [](const std::string& cmd) { ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd; };

  int wx, wy;
  SDL_GetWindowPosition(win, &wx, &wy);
  run("xdotool mousemove " + std::to_string(wx + 150) + " " + std::to_string(wy + 120));
  EXPECT_TRUE(PumpUntil([] { return PointerAt(150, 120); }));
  dev->Update();
  int x, y, dx, dy;
  dev->GetPos(x, y);
  EXPECT_EQ(x, 150);
  EXPECT_EQ(y, 120);

  dev->GetMove(dx, dy);  // relative mode on
  const int right = bounds.x + bounds.w;
  run("xdotool mousemove " + std::to_string(right - 1) + " " + std::to_string(wy + 120));
  EXPECT_TRUE(PumpUntil([&] { return PointerAt(right - 1 - wx, 120); }));
  dev->Update();
  dev->GetMove(dx, dy);
  EXPECT_EQ(dx, right - 1 - (wx + 150));
  EXPECT_EQ(dy, 0);
  int gx = 0, gy = 0;
  PumpUntil([&] {
    SDL_GetGlobalMouseState(&gx, &gy);
    return gx == bounds.x + 1;
  });
  EXPECT_EQ(gx, bounds.x + 1);  // wrapped to L + 1
  PumpUntil([&] { return PointerAt(bounds.x + 1 - wx, 120); });
  run("xdotool mousemove_relative 7 3");
  EXPECT_TRUE(PumpUntil([&] { return PointerAt(bounds.x + 1 - wx + 7, 123); }));
  dev->Update();
  dev->GetMove(dx, dy);
  EXPECT_EQ(dx, 7);
  EXPECT_EQ(dy, 3);

  run("xdotool keydown a keydown Shift_L mousedown 3");
  EXPECT_TRUE(PumpUntil([] {
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return keys[SDL_SCANCODE_A] && keys[SDL_SCANCODE_LSHIFT] &&
           (SDL_GetGlobalMouseState(nullptr, nullptr) & SDL_BUTTON(SDL_BUTTON_RIGHT));
  }));
  dev->Update();
  EXPECT_TRUE(dev->IsClickDown('A'));
  EXPECT_TRUE(dev->IsDown(VK_SHIFT));
  EXPECT_TRUE(dev->IsDown(VK_LSHIFT));
  EXPECT_TRUE(dev->IsClickDown(OV_INPUT_MOUSE_RIGHT));
  EXPECT_FALSE(dev->IsDown(OV_INPUT_MOUSE_LEFT));
  run("xdotool keyup a keyup Shift_L mouseup 3");
  EXPECT_TRUE(PumpUntil([] {
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return !keys[SDL_SCANCODE_A] && !keys[SDL_SCANCODE_LSHIFT] &&
           !(SDL_GetGlobalMouseState(nullptr, nullptr) & SDL_BUTTON(SDL_BUTTON_RIGHT));
  }));
  dev->Update();
  EXPECT_TRUE(dev->IsClickUp('A'));
  EXPECT_FALSE(dev->IsDown(VK_SHIFT));
  EXPECT_TRUE(dev->IsClickUp(OV_INPUT_MOUSE_RIGHT));

  delete dev;
  SDL_DestroyWindow(win);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace
