#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "main_app.h"
#include "ov_content_switch.h"
#include "ov_memory.h"
#include "ov_renderer_gl.h"
#include "ov_sound_system.h"
#include "shell.h"
#include "single_instance.h"
#include "trace_capture.h"

namespace fs = std::filesystem;

namespace {

// Position of each needle in the text, in order; -1 when one is missing or out
// of order.
bool InOrder(const std::string& text, const std::vector<std::string>& needles) {
  size_t at = 0;
  for (const auto& n : needles) {
    size_t p = text.find(n, at);
    if (p == std::string::npos) {
      ADD_FAILURE() << "missing or out of order: " << n;
      return false;
    }
    at = p + n.size();
  }
  return true;
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    OvRendererGL::SetWindowAttributes();
    window = SDL_CreateWindow("Kiwa Memo", 0, 0, 320, 240, OvRendererGL::WindowFlags());
    ASSERT_NE(window, nullptr) << SDL_GetError();
    dir = fs::temp_directory_path() / ("ov_app_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "stages");
    content = (dir / "stages" / "first.orv").string();
    std::ofstream(content) << "content";
    options.programFolder = dir.string();
    options.dataFolder = (dir / "data").string();
    options.contentOverride = content;
    options.allowDialog = false;
  }
  void TearDown() override {
    if (window) SDL_DestroyWindow(window);
    SDL_Quit();
    fs::remove_all(dir);
    OvClearContentChange();
  }

  SDL_Window* window = nullptr;
  fs::path dir;
  std::string content;
  MainAppOptions options;
};

TEST_F(AppTest, StartFramesAndStopTraceInOrderWithBalancedMemory) {
  TraceCapture trace;
  MainApp* app = new MainApp(options);
  ASSERT_TRUE(app->Initialise(&window, false, "stage.orv"));
  EXPECT_TRUE(fs::is_directory(dir / "data" / "recycle"));
  EXPECT_STREQ(app->ContentPath(), content.c_str());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(app->Frame());
  EXPECT_TRUE(app->Terminate());
  delete app;

  EXPECT_TRUE(
      InOrder(trace.Text(), {"Device capabilities:\n", "Orvo Renderer initialized\n", "Orvo Sound system initialized\n",
                             " ------- Memory usage after the file loaded ------\n"
                             " -------------------------------------------------\n",
                             "Prepare terminate Orvo Renderer\n", "Orvo Renderer terminated\n", "End play game\n",
                             "Count of Orvo memory management systeme. alloc: "}));
  EXPECT_FALSE(trace.Contains("not matched")) << trace.Text();
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(c.allocCount, c.freeCount);
  EXPECT_GT(c.allocCount, 0);
}

TEST_F(AppTest, InputActivityReadsTheLoopFlagAndReplayedEvents) {
  TraceCapture trace;
  std::vector<OvInputEvent> events;
  std::string error;
  ASSERT_TRUE(OvParseInputEvents("1 key 65 down\n3 quit\n", events, error)) << error;
  MainApp* app = new MainApp(options);
  app->SetInputReplay(events, "in.txt");
  ASSERT_TRUE(app->Initialise(&window, false, "stage.orv"));
  struct Step {
    int loopFlag;
    int activity;  // before the frame
    bool quitDue;
  } steps[] = {{0, 0, false}, {0, 1, false}, {1, 1, false}, {0, 1, true}};
  for (const Step& s : steps) {
    app->SetInputActivity(s.loopFlag);
    EXPECT_EQ(app->InputActivity(), s.activity);
    EXPECT_EQ(app->ReplayQuitDue(), s.quitDue);
    app->Frame();
  }
  EXPECT_TRUE(app->ReplayError().empty());
  EXPECT_TRUE(app->Terminate());
  delete app;
  OvMemoryCounters c = OvMemoryGetCounters();
  EXPECT_EQ(c.allocCount, c.freeCount);
}

TEST_F(AppTest, MissingContentTracesTheDialogErrorAndStillStarts) {
  TraceCapture trace;
  options.contentOverride = (dir / "absent.orv").string();
  MainApp app(options);
  ASSERT_TRUE(app.Initialise(&window, false, "stage.orv"));
  EXPECT_TRUE(trace.Contains("Open file error : ffff\n")) << trace.Text();
  app.Terminate();
}

class NoRendererApp : public MainApp {
 public:
  using MainApp::MainApp;
  OvRendererGL* CreateRenderer() override { return nullptr; }
};

TEST_F(AppTest, FailedRendererStopsStartAndShutsDownCleanly) {
  TraceCapture trace;
  NoRendererApp app(options);
  EXPECT_FALSE(app.Initialise(&window, false, "stage.orv"));
  EXPECT_FALSE(app.Frame());  // never runs a frame on a half-started engine
  EXPECT_TRUE(app.Terminate());
  EXPECT_TRUE(InOrder(
      trace.Text(), {"Initialize renderer failed !\n", "End play game\n", "Count of Orvo memory management systeme."}));
  EXPECT_FALSE(trace.Contains("Orvo Renderer initialized"));
  EXPECT_FALSE(trace.Contains("not matched")) << trace.Text();
}

TEST_F(AppTest, ContentSwitchResolvesAgainstTheContentFolder) {
  std::ofstream(dir / "stages" / "second.orv") << "content";
  TraceCapture trace;
  MainApp app(options);
  ASSERT_TRUE(app.Initialise(&window, false, "stage.orv"));

  OvRequestContentChange("stages\\second.orv");
  EXPECT_TRUE(app.Frame());
  EXPECT_EQ(fs::path(app.ContentPath()), dir / "stages" / "second.orv");
  EXPECT_FALSE(OvContentChangeRequested());
  EXPECT_STREQ(OvNextContentName(), "");

  OvRequestContentChange("nowhere.orv");
  EXPECT_FALSE(app.Frame());
  EXPECT_TRUE(trace.Contains("Orvo file -- 'nowhere.orv' does not exist!\n"));

  OvRequestContentChange("");
  EXPECT_FALSE(app.Frame());  // an empty name ends the program
  app.Terminate();
}

TEST_F(AppTest, ContentNamesAndSoundsStayBesideTheContent) {
  std::ofstream(dir / "outside.orv") << "content";
  TraceCapture trace;
  MainApp app(options);
  ASSERT_TRUE(app.Initialise(&window, false, "stage.orv"));
  ASSERT_NE(app.Sound(), nullptr);
  EXPECT_EQ(fs::path(app.Sound()->SoundFolder()), dir / "stages" / "sounds");
  const std::string absolute = (dir / "outside.orv").string();
  for (const std::string& name : {std::string("../outside.orv"), absolute}) {
    trace.Clear();
    OvRequestContentChange(name.c_str());
    EXPECT_FALSE(app.Frame()) << name;
    EXPECT_EQ(app.ContentPath(), content) << name;
    EXPECT_TRUE(trace.Contains("'" + name + "': a name in content may not be absolute or leave its folder"))
        << trace.Text();
    EXPECT_FALSE(trace.Contains("does not exist")) << name;
  }
  app.Terminate();
}

TEST_F(AppTest, NextContentNameIsCutTo127Characters) {
  std::string longName(300, 'a');
  OvRequestContentChange(longName.c_str());
  EXPECT_EQ(std::string(OvNextContentName()).size(), 127u);
}

TEST_F(AppTest, FrameRateReadoutAppearsInTheTitleEveryHundredFrames) {
  MainApp app(options);
  ASSERT_TRUE(app.Initialise(&window, false, "stage.orv"));
  for (int i = 0; i < 99; ++i) app.Frame();
  EXPECT_STREQ(SDL_GetWindowTitle(window), "Kiwa Memo");
  app.Frame();
  std::string title = SDL_GetWindowTitle(window);
  EXPECT_EQ(title.rfind("Kiwa Memo   [", 0), 0u) << title;
  EXPECT_NE(title.find(" fps]"), std::string::npos) << title;
  // A second readout replaces the first instead of piling up.
  for (int i = 0; i < 100; ++i) app.Frame();
  title = SDL_GetWindowTitle(window);
  EXPECT_EQ(title.find("fps]"), title.rfind("fps]")) << title;
  app.Terminate();
}

TEST_F(AppTest, BackgroundColourReachesTheFrame) {
  MainApp app(options);
  ASSERT_TRUE(app.Initialise(&window, false, "stage.orv"));
  OvRendererGL* r = app.Renderer();
  r->SetBackgroundColour(0xFF336699u);
  ASSERT_TRUE(r->ClearBackBuffer());
  std::vector<uint8_t> px(size_t(r->GetFrameWidth()) * r->GetFrameHeight() * 4);
  ASSERT_TRUE(r->ReadPixels(px.data(), r->GetFrameWidth(), r->GetFrameHeight()));
  EXPECT_EQ(px[0], 0x33);
  EXPECT_EQ(px[1], 0x66);
  EXPECT_EQ(px[2], 0x99);
  app.Terminate();
}

TEST(SingleInstanceTest, SecondHolderIsRefusedAndCanAskForARaise) {
  fs::path d = fs::temp_directory_path() / ("ov_lock_" + std::to_string(::getpid()));
  fs::create_directories(d);
  {
    SingleInstance first;
    ASSERT_EQ(first.Acquire(d.string()), SingleInstance::Result::Acquired);
    EXPECT_FALSE(first.PollRaise());
    SingleInstance second;
    ASSERT_EQ(second.Acquire(d.string()), SingleInstance::Result::AlreadyRunning);
    EXPECT_TRUE(second.SendRaise());
    EXPECT_TRUE(first.PollRaise());
    EXPECT_FALSE(first.PollRaise());
    // Another folder is another board.
    fs::path other = d / "other";
    fs::create_directories(other);
    SingleInstance third;
    EXPECT_EQ(third.Acquire(other.string()), SingleInstance::Result::Acquired);
  }
  // Released on destruction: the folder can be taken again.
  SingleInstance again;
  EXPECT_EQ(again.Acquire(d.string()), SingleInstance::Result::Acquired);
  again.Release();
  SingleInstance bad;
  EXPECT_EQ(bad.Acquire((d / "missing" / "deeper").string()), SingleInstance::Result::Failed);
  EXPECT_FALSE(bad.error().empty());
  fs::remove_all(d);
}

TEST(DataFolderTest, RequestedFolderIsCreatedAndBesideTheProgramByDefault) {
  fs::path d = fs::temp_directory_path() / ("ov_data_" + std::to_string(::getpid()));
  fs::remove_all(d);
  std::string error;
  std::string got = ResolveDataFolder("/unused", (d / "a" / "b").string(), error);
  EXPECT_EQ(got, (d / "a" / "b").string() + "/");
  EXPECT_TRUE(fs::is_directory(d / "a" / "b"));

  fs::create_directories(d / "prog");
  got = ResolveDataFolder((d / "prog").string(), "", error);
  EXPECT_EQ(got, (d / "prog" / "data").string() + "/");

  // A file standing where the folder should be is a clear error.
  std::ofstream(d / "file") << "x";
  got = ResolveDataFolder("/unused", (d / "file").string(), error);
  EXPECT_TRUE(got.empty());
  EXPECT_NE(error.find("file"), std::string::npos);
  fs::remove_all(d);
}

TEST(DataFolderTest, InstalledMarkKeepsTheNotesOutOfTheProgramFolder) {
  fs::path d = fs::temp_directory_path() / ("ov_installed_" + std::to_string(::getpid()));
  struct Case {
    bool mark;
    const char* expected;  // under d
  } cases[] = {{false, "prog/data/"}, {true, "xdg/kiwa-memo/data/"}};
  const char* oldXdg = std::getenv("XDG_DATA_HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "";
  for (const Case& c : cases) {
    fs::remove_all(d);
    fs::create_directories(d / "prog");
    if (c.mark) std::ofstream(d / "prog" / "installed") << "x";
    ::setenv("XDG_DATA_HOME", (d / "xdg").c_str(), 1);
    std::string error;
    EXPECT_EQ(ResolveDataFolder((d / "prog").string(), "", error), (d / c.expected).string()) << c.mark;
    EXPECT_EQ(fs::exists(d / "prog" / "data"), !c.mark);
  }
  if (oldXdg)
    ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
  fs::remove_all(d);
}

}  // namespace
