#include <gtest/gtest.h>

#include "command_line.h"
#include "shell_state.h"

namespace {

using B = ExitGesture::Button;

// 900 x 600: thirds at x 300 / 600 and y 200 / 400.
constexpr int W = 900, H = 600;

void Cross(ExitGesture& g) {
  EXPECT_FALSE(g.Feed(B::Press, 850, 50, W, H));
  EXPECT_FALSE(g.Feed(B::Release, 50, 550, W, H));
  EXPECT_FALSE(g.Feed(B::Press, 50, 50, W, H));
  EXPECT_TRUE(g.Feed(B::Release, 850, 550, W, H));
}

TEST(ExitGesture, CrossOfTwoDiagonalDragsCompletes) {
  ExitGesture g;
  Cross(g);
  EXPECT_TRUE(g.Done());
  EXPECT_EQ(g.Step(), 0);
  // Sticky: anything afterwards still reports done.
  EXPECT_TRUE(g.Feed(B::Press, 450, 300, W, H));
}

TEST(ExitGesture, WrongPointRestartsWithoutRetestingAsFirstStep) {
  ExitGesture g;
  g.Feed(B::Press, 850, 50, W, H);
  EXPECT_EQ(g.Step(), 1);
  // A press in the top-right third would be a valid first step, but a wrong
  // message resets to 0 and is not tested again.
  g.Feed(B::Press, 850, 50, W, H);
  EXPECT_EQ(g.Step(), 0);
  Cross(g);
  EXPECT_TRUE(g.Done());
}

TEST(ExitGesture, DoubleClickNeitherAdvancesNorResets) {
  ExitGesture g;
  g.Feed(B::Press, 850, 50, W, H);
  g.Feed(B::Release, 50, 550, W, H);
  EXPECT_FALSE(g.Feed(B::DoubleClick, 450, 300, W, H));
  EXPECT_EQ(g.Step(), 2);
  g.Feed(B::Press, 50, 50, W, H);
  EXPECT_TRUE(g.Feed(B::Release, 850, 550, W, H));
}

TEST(ExitGesture, BoundariesAreStrict) {
  ExitGesture g;
  // x must be greater than 2W/3 = 600 and y below H/3 = 200.
  g.Feed(B::Press, 600, 50, W, H);
  EXPECT_EQ(g.Step(), 0);
  g.Feed(B::Press, 601, 199, W, H);
  EXPECT_EQ(g.Step(), 1);
  g.Feed(B::Release, 299, 400, W, H);  // y must exceed 400
  EXPECT_EQ(g.Step(), 0);
}

TEST(ActivityProbe, MovesCountOnlyWhenThePositionChanges) {
  ActivityProbe p;
  EXPECT_EQ(p.Feed(ActivityProbe::Kind::MouseMove, 10, 20), 1);
  EXPECT_EQ(p.Feed(ActivityProbe::Kind::MouseMove, 10, 20), 0);
  EXPECT_EQ(p.Feed(ActivityProbe::Kind::MouseMove, 11, 20), 1);
  EXPECT_EQ(p.Feed(ActivityProbe::Kind::None), 0);
  EXPECT_EQ(p.Feed(ActivityProbe::Kind::OtherInput), 1);
  // The first move at the origin equals the initial packed value.
  ActivityProbe q;
  EXPECT_EQ(q.Feed(ActivityProbe::Kind::MouseMove, 0, 0), 0);
  // Negative coordinates wrap as 16-bit halves and still compare correctly.
  EXPECT_EQ(q.Feed(ActivityProbe::Kind::MouseMove, -1, -1), 1);
  EXPECT_EQ(q.Feed(ActivityProbe::Kind::MouseMove, -1, -1), 0);
}

TEST(LoopState, InactiveWindowRunsFramesOnlyForRepaints) {
  LoopState s;
  EXPECT_TRUE(s.ShouldRunFrame());
  s.inactive = true;
  EXPECT_FALSE(s.ShouldRunFrame());
  s.repaintRequested = true;
  EXPECT_TRUE(s.ShouldRunFrame());
}

TEST(LoopState, TitleWithFrameRateIsReset) {
  EXPECT_TRUE(TitleNeedsReset("Kiwa Memo   [59.94 fps]"));
  EXPECT_FALSE(TitleNeedsReset("Kiwa Memo"));
  EXPECT_FALSE(TitleNeedsReset(nullptr));
}

CommandLine Parse(std::initializer_list<const char*> args, bool expectOk = true) {
  std::vector<const char*> argv = {"kiwa-memo"};
  argv.insert(argv.end(), args);
  CommandLine cl;
  EXPECT_EQ(ParseCommandLine(int(argv.size()), argv.data(), cl), expectOk) << cl.error;
  return cl;
}

TEST(CommandLine, WindowModeRules) {
  CommandLine none = Parse({});
  EXPECT_TRUE(none.fullScreen);
  EXPECT_TRUE(none.hideCursor);

  CommandLine one = Parse({"x"});  // one character counts as none
  EXPECT_TRUE(one.fullScreen);
  EXPECT_TRUE(one.hideCursor);

  CommandLine sized = Parse({"800", "600"});
  EXPECT_FALSE(sized.fullScreen);
  EXPECT_FALSE(sized.hideCursor);
  EXPECT_EQ(sized.width, 800);
  EXPECT_EQ(sized.height, 600);

  CommandLine single = Parse({"800"});  // framed, desktop size
  EXPECT_FALSE(single.fullScreen);
  EXPECT_EQ(single.width, 800);
  EXPECT_EQ(single.height, 0);

  CommandLine negative = Parse({"-800", "-600"});
  EXPECT_FALSE(negative.fullScreen);
  EXPECT_EQ(negative.width, 0);
  EXPECT_EQ(negative.height, 0);

  CommandLine words = Parse({"hello"});  // framed, nothing readable
  EXPECT_FALSE(words.fullScreen);
  EXPECT_EQ(words.width, 0);
}

TEST(CommandLine, OptionsDoNotDisturbTheSize) {
  CommandLine cl = Parse(
      {"--headless", "1024", "--frames", "100", "768", "--data", "/tmp/d", "--content", "a.orv", "--trace", "t.log"});
  EXPECT_TRUE(cl.headless);
  EXPECT_EQ(cl.frames, 100);
  EXPECT_EQ(cl.width, 1024);
  EXPECT_EQ(cl.height, 768);
  EXPECT_EQ(cl.dataDir, "/tmp/d");
  EXPECT_EQ(cl.content, "a.orv");
  EXPECT_EQ(cl.traceFile, "t.log");
  EXPECT_EQ(Parse({"--replay", "in.txt"}).replay, "in.txt");
  EXPECT_EQ(Parse({"--record", "out.txt"}).record, "out.txt");

  CommandLine headlessOnly = Parse({"--headless", "--frames", "5"});
  EXPECT_TRUE(headlessOnly.fullScreen);
}

TEST(CommandLine, BadInputIsRejectedWithAReason) {
  EXPECT_NE(Parse({"--frames", "0"}, false).error.find("--frames"), std::string::npos);
  EXPECT_NE(Parse({"--frames", "12x"}, false).error.find("12x"), std::string::npos);
  EXPECT_NE(Parse({"--frames", "99999999999999999999999"}, false).error.find("--frames"), std::string::npos);
  EXPECT_NE(Parse({"--content"}, false).error.find("needs a value"), std::string::npos);
  EXPECT_EQ(Parse({"--fixed-step", "1000000"}).fixedStep, 1000000);
  EXPECT_NE(Parse({"--fixed-step", "1000001"}, false).error.find("1 to 1000000"), std::string::npos);
  EXPECT_NE(Parse({"--fullscreen"}, false).error.find("--fullscreen"), std::string::npos);
  EXPECT_NE(Parse({"--replay", "a.txt", "--record", "b.txt"}, false).error.find("together"), std::string::npos);
  EXPECT_TRUE(Parse({"--help"}).help);
  std::string usage = UsageText("kiwa-memo");
  for (const char* opt : {"--content", "--data", "--headless", "--frames", "--trace", "--replay", "--record", "--help"})
    EXPECT_NE(usage.find(opt), std::string::npos) << opt;
}

}  // namespace
