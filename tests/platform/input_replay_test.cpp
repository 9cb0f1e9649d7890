// Recorded input: the line form, the playing device, and a record that
// plays back to the same samples.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "ov_input_replay.h"
#include "ov_vkeys.h"

namespace {

TEST(InputEventsParse, GoodAndMalformedLines) {
  using K = OvInputEvent::Kind;
  struct Case {
    const char* text;
    int errorLine;  // 0: parses
    size_t count;
    K lastKind;
  } cases[] = {
      {"0 move 10 20", 0, 1, K::Move},
      {"# comment\n\n  3 down left   # pressed\r\n", 0, 1, K::Button},
      {"1 move @lid", 0, 1, K::MoveToName},
      {"1 move @lid -4 7", 0, 1, K::MoveToName},
      {"2 key 65 down\n2 key 65 up", 0, 2, K::Key},
      {"2 wheel -120\n2 up middle\n9 quit", 0, 3, K::Quit},
      {"", 0, 0, K::Move},
      {"\xEF\xBB\xBF"
       "0 quit",
       0, 1, K::Quit},  // a byte-order mark
      {"x move 1 2", 1, 0, K::Move},
      {"-1 quit", 1, 0, K::Move},
      {"0", 1, 0, K::Move},
      {"0 move 1", 1, 0, K::Move},
      {"0 move 1 2 3", 1, 0, K::Move},
      {"0 move 1 y", 1, 0, K::Move},
      {"0 move 99999999999 0", 1, 0, K::Move},
      {"0 move @lid 3", 1, 0, K::Move},
      {"0 move @ 1 2", 1, 0, K::Move},
      {"0 down left\n# fine\n1 press left", 3, 0, K::Move},
      {"0 down thumb", 1, 0, K::Move},
      {"0 key 256 down", 1, 0, K::Move},
      {"0 key 65 pressed", 1, 0, K::Move},
      {"0 wheel", 1, 0, K::Move},
      {"0 quit now", 1, 0, K::Move},
      {"5 quit\n4 move 0 0", 2, 0, K::Move},
      {"2147483647 quit", 0, 1, K::Quit},  // the last frame a run may reach
      {"2147483648 quit", 1, 0, K::Move},
      {"1099511627776 quit", 1, 0, K::Move},
  };
  for (const Case& c : cases) {
    std::vector<OvInputEvent> events;
    std::string error;
    const bool ok = OvParseInputEvents(c.text, events, error);
    EXPECT_EQ(ok, c.errorLine == 0) << c.text << " -> " << error;
    if (c.errorLine != 0) {
      EXPECT_EQ(error.rfind("line " + std::to_string(c.errorLine) + ": ", 0), 0u) << c.text << " -> " << error;
    } else {
      EXPECT_EQ(events.size(), c.count) << c.text;
      if (!events.empty()) {
        EXPECT_EQ(events.back().kind, c.lastKind) << c.text;
      }
    }
  }
}

// A message shows a bad token cut short and with its raw bytes escaped.
TEST(InputEventsParse, MessagesCutAndEscapeTokens) {
  const std::string huge(1 << 20, '7');
  const std::string longName(300, 'n');
  struct Case {
    std::string text;
    const char* shows;
  } cases[] = {
      {huge + " quit", "'7777777777777777777777777777777777777777... (1048576 bytes)'"},
      {"0 \x1b[2J\xff quit", "'\\x1B[2J\\xFF'"},
      {"0 down \x01\x02", "'\\x01\\x02'"},
      {"0 move @" + longName, "at most 255 bytes"},
  };
  for (const Case& c : cases) {
    std::vector<OvInputEvent> events;
    std::string error;
    EXPECT_FALSE(OvParseInputEvents(c.text, events, error));
    EXPECT_NE(error.find(c.shows), std::string::npos) << error;
    EXPECT_LT(error.size(), 200u) << error;
    for (unsigned char ch : error) EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << error;
  }
}

class FixedLocator : public OvPointerLocator {
 public:
  bool Locate(const std::string& name, int32_t& x, int32_t& y, std::string& why) override {
    if (name != "lid") {
      why = "no clump is named '" + name + "'";
      return false;
    }
    x = 100;
    y = 200;
    return true;
  }
};

std::vector<OvInputEvent> Parse(const char* text) {
  std::vector<OvInputEvent> events;
  std::string error;
  EXPECT_TRUE(OvParseInputEvents(text, events, error)) << error;
  return events;
}

// What one frame samples.
struct Sample {
  int x, y;
  bool leftClickDown, leftDown, leftKeyDown, leftClickUp, keyDown, keyClickDown;
  int wheel;
  bool operator==(const Sample&) const = default;
};

Sample Take(OvInputDevice& d) {
  Sample s{};
  d.GetPos(s.x, s.y);
  s.leftClickDown = d.IsClickDown(OV_INPUT_MOUSE_LEFT);
  s.leftDown = d.IsDown(OV_INPUT_MOUSE_LEFT);
  s.leftKeyDown = d.IsDown(VK_LBUTTON);
  s.leftClickUp = d.IsClickUp(OV_INPUT_MOUSE_LEFT);
  s.keyDown = d.IsDown(65);
  s.keyClickDown = d.IsClickDown(65);
  s.wheel = d.GetWheel();
  return s;
}

constexpr const char* kSession =
    "0 move 10 20\n0 down left\n"
    "1 up left\n"
    "2 key 66 down\n2 key 66 up\n2 key 65 down\n"  // 66 is never seen
    "4 move @lid 5 -5\n4 wheel 240\n4 key 65 up\n"
    "6 quit\n";

TEST(ReplayInputDevice, FramesSampleTheirEvents) {
  FixedLocator locator;
  OvReplayInputDevice device(Parse(kSession), "session.txt", &locator);
  device.Reset();
  const Sample expected[] = {
      {10, 20, true, true, true, false, false, false, 0},
      {10, 20, false, false, false, true, false, false, 0},
      {10, 20, false, false, false, false, true, true, 0},
      {10, 20, false, false, false, false, true, false, 0},
      {105, 195, false, false, false, false, false, false, 240},
      {105, 195, false, false, false, false, false, false, 0},
  };
  for (size_t f = 0; f < std::size(expected); ++f) {
    EXPECT_FALSE(device.QuitDue()) << "frame " << f;
    device.Update();
    EXPECT_EQ(Take(device), expected[f]) << "frame " << f;
  }
  EXPECT_TRUE(device.QuitDue());
  EXPECT_FALSE(device.Failed());
}

TEST(ReplayInputDevice, UnknownNameFailsNamingItsLine) {
  FixedLocator locator;
  OvReplayInputDevice device(Parse("0 move 1 1\n# next\n1 move @door\n"), "session.txt", &locator);
  device.Update();
  EXPECT_FALSE(device.Failed());
  device.Update();
  EXPECT_EQ(device.Error(), "session.txt:3: no clump is named 'door'");
  int x = 0, y = 0;
  device.GetPos(x, y);
  EXPECT_EQ(x, 1);  // the pointer stays where it was
}

// Sums and differences at the ends of the int range stay at the ends.
TEST(ReplayInputDevice, ExtremeWheelAndMovesSaturate) {
  struct Case {
    const char* text;
    int wheel, dx;
  } cases[] = {
      {"0 move -2147483648 0\n0 wheel 2147483647\n0 wheel 2147483647\n1 move 2147483647 0", 2147483647, 2147483647},
      {"0 move 2147483647 0\n0 wheel -2147483648\n0 wheel -1\n1 move -2147483648 0", -2147483647 - 1, -2147483647 - 1},
  };
  for (const auto& c : cases) {
    OvReplayInputDevice device(Parse(c.text), "extreme.txt", nullptr);
    int dx = 0, dy = 0;
    device.GetMove(dx, dy);  // relative mode on
    device.Update();
    EXPECT_EQ(device.GetWheel(), c.wheel) << c.text;
    device.Update();
    device.GetMove(dx, dy);
    EXPECT_EQ(dx, c.dx) << c.text;
  }
}

TEST(RecordingInputDevice, RecordReplaysToTheSameSamples) {
  FixedLocator locator;
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  std::vector<Sample> seen;
  {
    // A played session stands in for the real device.
    OvRecordingInputDevice recorder(new OvReplayInputDevice(Parse(kSession), "session.txt", &locator), out);
    recorder.Reset();
    for (int f = 0; f < 6; ++f) {
      recorder.Update();
      seen.push_back(Take(recorder));
    }
    recorder.RecordQuit();
    EXPECT_TRUE(recorder.Ok());
  }
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(char(c));
  std::fclose(out);

  OvReplayInputDevice replay(Parse(text.c_str()), "recorded.txt", nullptr);
  replay.Reset();
  for (size_t f = 0; f < seen.size(); ++f) {
    replay.Update();
    EXPECT_EQ(Take(replay), seen[f]) << "frame " << f << "\n" << text;
  }
  EXPECT_TRUE(replay.QuitDue());
}

}  // namespace
