// the trace log (sinks, _TraceFormat's 500-byte buffer, the trace
// file) and the timing services.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "ov_clock.h"
#include "ov_trace.h"
#include "trace_capture.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(TraceTest, TraceSendsTheTextUnchanged) {
  TraceCapture capture;
  Trace("first line\n");
  Trace("no newline");
  Trace("");
  Trace(nullptr);
  EXPECT_EQ(capture.Text(), "first line\nno newline");
}

TEST(TraceTest, TraceFormatFormatsPrintfStyle) {
  TraceCapture capture;
  _TraceFormat("%s: %d, %5.2f, 0x%x\n", "values", -7, 3.14159, 255u);
  EXPECT_EQ(capture.Text(), "values: -7,  3.14, 0xff\n");
}

TEST(TraceTest, TraceFormatCutsALongLineAt499Characters) {
  TraceCapture capture;
  std::string longLine(2000, 'x');
  _TraceFormat("%s\n", longLine.c_str());
  ASSERT_EQ(capture.Text().size(), static_cast<size_t>(OV_TRACE_BUFFER_SIZE - 1));
  EXPECT_EQ(capture.Text(), std::string(499, 'x'));
  capture.Clear();
  _TraceFormat("%s", std::string(499, 'y').c_str());
  EXPECT_EQ(capture.Text(), std::string(499, 'y'));
  capture.Clear();
  _TraceFormat("short\n");  // the buffer is cleared between calls
  EXPECT_EQ(capture.Text(), "short\n");
}

TEST(TraceTest, SinkReplacesStandardError) {
  testing::internal::CaptureStderr();
  {
    TraceCapture capture;
    Trace("to the sink\n");
    EXPECT_EQ(capture.Text(), "to the sink\n");
  }
  Trace("to stderr\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\n");
}

TEST(TraceTest, QuietSilencesStandardErrorOnly) {
  testing::internal::CaptureStderr();
  OvTraceSetQuiet(true);
  Trace("silent\n");
  {
    TraceCapture capture;
    Trace("still captured\n");
    EXPECT_EQ(capture.Text(), "still captured\n");
  }
  OvTraceSetQuiet(false);
  Trace("loud\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "loud\n");
}

TEST(TraceTest, TraceFileAppends) {
  std::string path = testing::TempDir() + "ov_trace_test.log";
  std::remove(path.c_str());
  {
    std::ofstream seed(path);
    seed << "earlier run\n";
  }
  TraceCapture capture;  // keeps standard error clean
  ASSERT_TRUE(OvTraceSetFile(path.c_str()));
  Trace("a\n");
  _TraceFormat("b %d\n", 2);
  EXPECT_EQ(ReadFile(path), "earlier run\na\nb 2\n");  // flushed line by line
  EXPECT_TRUE(OvTraceSetFile(nullptr));
  Trace("not in the file\n");
  ASSERT_TRUE(OvTraceSetFile(path.c_str()));
  Trace("c\n");
  EXPECT_TRUE(OvTraceSetFile(nullptr));
  EXPECT_EQ(ReadFile(path), "earlier run\na\nb 2\nc\n");
  EXPECT_EQ(capture.Text(), "a\nb 2\nnot in the file\nc\n");
  std::remove(path.c_str());
}

TEST(TraceTest, TraceFileThatCannotBeOpenedIsRefused) {
  std::string path = testing::TempDir() + "no/such/folder/trace.log";
  EXPECT_FALSE(OvTraceSetFile(path.c_str()));
  TraceCapture capture;
  Trace("still works\n");
  EXPECT_EQ(capture.Text(), "still works\n");
}

// The file gets what fits the caps and one line the first time each is hit;
// the in-process sink keeps everything.
TEST(TraceTest, FileOutputIsCappedPerSecondAndPerRun) {
  const std::string path = testing::TempDir() + "ov_trace_cap.log";
  struct Case {
    uint64_t perSecond, perRun;
    const char* note;
  } cases[] = {
      {1u << 20, 100, "reached its limit for this run"},
      {100, 1u << 20, "over its limit a second"},
  };
  const std::string line = "nineteen bytes + nl\n";
  for (const Case& c : cases) {
    std::remove(path.c_str());
    TraceCapture capture;
    OvTraceSetLimits(c.perSecond, c.perRun);
    ASSERT_TRUE(OvTraceSetFile(path.c_str()));
    for (int i = 0; i < 10; ++i) Trace(line.c_str());
    OvTraceSetFile(nullptr);
    OvTraceSetLimits(OV_TRACE_BYTES_PER_SECOND, OV_TRACE_BYTES_PER_RUN);
    std::string expected;
    for (int i = 0; i < 5; ++i) expected += line;
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.substr(0, expected.size()), expected) << text;
    const std::string rest = text.substr(expected.size());
    EXPECT_NE(rest.find(c.note), std::string::npos) << text;
    EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 1) << text;
    EXPECT_EQ(capture.Text().size(), 10 * line.size());
  }
  std::remove(path.c_str());
}

// ---------------------------------------------------------------------------
// Timing services.

TEST(ClockTest, SecondsFollowsThePerformanceCounter) {
  double t0 = Seconds();
  double expected =
      static_cast<double>(SDL_GetPerformanceCounter()) / static_cast<double>(SDL_GetPerformanceFrequency());
  double t1 = Seconds();
  EXPECT_LE(t0, expected + 1e-6);
  EXPECT_GE(t1 + 1e-6, expected);
  EXPECT_LE(t0, t1);
}

TEST(ClockTest, SleepAdvancesBothClocks) {
  double s0 = Seconds();
  uint32_t k0 = OvTickCount();
  OvSleep(30);
  double s1 = Seconds();
  uint32_t k1 = OvTickCount();
  EXPECT_GE(s1 - s0, 0.025);
  EXPECT_LT(s1 - s0, 5.0);
  EXPECT_GE(static_cast<uint32_t>(k1 - k0), 25u);
  EXPECT_EQ(OvTickCount() - static_cast<uint32_t>(SDL_GetTicks()) <= 1u, true);
}

TEST(ClockTest, TimerResolutionReportPrintsThreeLines) {
  TraceCapture capture;
  OvTimerResolutionReport();
  std::istringstream lines(capture.Text());
  std::string line1, line2, line3, extra;
  ASSERT_TRUE(std::getline(lines, line1));
  ASSERT_TRUE(std::getline(lines, line2));
  ASSERT_TRUE(std::getline(lines, line3));
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(capture.Text().back(), '\n');

  // Each line must be exactly what its format gives for the printed values.
  Uint64 f = SDL_GetPerformanceFrequency();
  long low = static_cast<int32_t>(static_cast<uint32_t>(f));
  double resolution = static_cast<float>(1.0 / static_cast<double>(f));
  char expected[256];
  std::snprintf(expected, sizeof expected, "QueryPerformanceFrequency: %ld. So the resolution is %12.11f second.", low,
                resolution);
  EXPECT_EQ(line1, expected);

  double counterCost = -1.0;
  ASSERT_EQ(std::sscanf(line2.c_str(), "QueryPerformanceCounter() takes: %lf", &counterCost), 1) << line2;
  std::snprintf(expected, sizeof expected, "QueryPerformanceCounter() takes: %12.11f second.", counterCost);
  EXPECT_EQ(line2, expected);
  EXPECT_GE(counterCost, 0.0);
  EXPECT_LT(counterCost, 0.1);

  double tickCost = -1.0;
  ASSERT_EQ(std::sscanf(line3.c_str(), "GetTickCount() takes: %lf", &tickCost), 1) << line3;
  std::snprintf(expected, sizeof expected, "GetTickCount() takes: %12.11f second.", tickCost);
  EXPECT_EQ(line3, expected);
  EXPECT_GE(tickCost, 0.0);
  EXPECT_LT(tickCost, 0.1);
}

}  // namespace
