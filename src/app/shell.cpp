#include "shell.h"

#include <SDL.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "command_line.h"
#include "main_app.h"
#include "note_export_main.h"
#include "orvo_app.h"
#include "ov_clock.h"
#include "ov_input_replay.h"
#include "ov_paths.h"
#include "ov_renderer_gl.h"
#include "ov_scene.h"
#include "ov_spawn.h"
#include "ov_trace.h"
#include "scene_dump.h"
#include "shell_state.h"
#include "single_instance.h"
#include "stop_signals.h"

namespace {

constexpr const char* kWindowTitle = "Kiwa Memo";
constexpr const char* kContentName = "stage.orv";
constexpr const char* kPlayerTitle = "Orvo Player";
constexpr bool kWindowedAllowed = true;

bool MakeFolders(const std::string& path, std::string& error) {
  // The error_code forms only: a folder that cannot be entered is a message,
  // not an exception.
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  std::error_code statError;
  if (ec && !std::filesystem::is_directory(path, statError)) {
    error = "cannot create the folder '" + path + "': " + ec.message();
    return false;
  }
  return true;
}

bool Writable(const std::string& path) { return ::access(path.c_str(), W_OK | X_OK) == 0; }

// A content file named on the command line must be a readable regular file;
// otherwise one line says which file and why.
bool ContentReadable(const char* program, const std::string& path) {
  int openError = 0;
  const int fd = OvOpenRegularFile(path.c_str(), &openError);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  const char* reason = openError == EISDIR   ? "it is a folder"
                       : openError == EINVAL ? "it is not a regular file"
                                             : std::strerror(openError);
  std::fprintf(stderr, "%s: cannot read the content file '%s': %s\n", program, path.c_str(), reason);
  return false;
}

// Milliseconds since the kernel started this process (clock-tick resolution,
// so the time before main counts too); negative when unreadable.
double MsSinceProcessStart() {
  char text[1024] = {};
  FILE* f = std::fopen("/proc/self/stat", "r");
  if (f == nullptr) return -1;
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = 0;
  // The command name may hold spaces and brackets: fields count from the last ')'.
  const char* p = std::strrchr(text, ')');
  // The start time is field 22: the state, then 18 fields to skip.
  const char* fields = " %*c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu";
  unsigned long long start = 0;
  if (p == nullptr || std::sscanf(p + 1, fields, &start) != 1) return -1;
  timespec now{};
  const long ticks = sysconf(_SC_CLK_TCK);
  if (ticks <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0) return -1;
  return (double(now.tv_sec) + now.tv_nsec * 1e-9 - double(start) / double(ticks)) * 1000.0;
}

std::string WithSlash(std::string p) {
  if (p.empty() || p.back() != '/') p.push_back('/');
  return p;
}

class Shell {
 public:
  Shell(const CommandLine& cl, const char* title, const char* contentName, const std::function<OrvoApp*(bool)>& makeApp,
        bool contentMustLoad, const char* program)
      : m_cl(cl), m_title(title), m_contentName(contentName), m_makeApp(makeApp), m_contentMustLoad(contentMustLoad),
        m_program(program ? program : title), m_frameLimit(cl.frames) {}

  int Run(SingleInstance* instance);

 private:
  bool CreateWindow();
  void Loop(SingleInstance* instance);
  void ProbeActivity();
  void WindowMessage(const SDL_Event& e);
  // Left-button changes go to the exit gesture after the frame that took
  // them, once the content has said whether the press was its own.
  void FeedGesture();
  void Shutdown();
  bool HasRealDisplay() const;
  bool PrepareRecordedInput();
  void PaceFrame();

  const CommandLine& m_cl;
  const char* m_title;
  const char* m_contentName;
  const std::function<OrvoApp*(bool)>& m_makeApp;
  const bool m_contentMustLoad;
  bool m_outputFailed = false;  // a screenshot, a scene dump or the content

  SDL_Window* m_window = nullptr;
  OrvoApp* m_app = nullptr;
  LoopState m_loop;
  ExitGesture m_gesture;
  struct GestureButton {
    bool press;
    int x, y, width, height;
  };
  std::vector<GestureButton> m_gestureQueue;
  ActivityProbe m_probe;
  bool m_screenSaverWasOn = false;
  bool m_cursorHidden = false;
  int64_t m_frames = 0;
  const char* m_program;
  int64_t m_frameLimit;  // 0: until the user quits
  std::vector<OvInputEvent> m_replayEvents;
  FILE* m_recordFile = nullptr;
  bool m_inputFailed = false;  // the replay could not be played
  bool m_paced = false;        // the loop keeps to 60 frames a second itself
  bool m_watchSwap = false;    // checking that presenting really waits
  int m_watchedFrames = 0;
  double m_watchStart = 0.0;
  double m_nextFrameAt = 0.0;
};

// Recorded input is read, and the record file made, before any window: a
// malformed line ends the run before the first frame.
bool Shell::PrepareRecordedInput() {
  if (!m_cl.replay.empty()) {
    std::string error;
    if (!OvLoadInputEvents(m_cl.replay.c_str(), m_replayEvents, error)) {
      std::fprintf(stderr, "%s: %s\n", m_program, error.c_str());
      return false;
    }
    if (m_frameLimit == 0) m_frameLimit = (m_replayEvents.empty() ? 0 : m_replayEvents.back().frame + 1) + 60;
  }
  if (!m_cl.record.empty()) {
    m_recordFile = std::fopen(m_cl.record.c_str(), "w");
    if (m_recordFile == nullptr) {
      std::fprintf(stderr, "%s: cannot write the record file '%s': %s\n", m_program, m_cl.record.c_str(),
                   std::strerror(errno));
      return false;
    }
  }
  return true;
}

// Without a retrace to wait for, frames would come as fast as they can be
// drawn: sleep out the rest of a 60th of a second. Some servers accept a
// swap interval and never wait (a virtual X server): frames much faster
// than any display switch the pacing on.
void Shell::PaceFrame() {
  if (m_watchSwap) {
    constexpr int kWatch = 30;
    if (m_watchedFrames++ == 0) m_watchStart = Seconds();
    if (m_watchedFrames <= kWatch) return;
    m_watchSwap = false;
    if (Seconds() - m_watchStart >= kWatch / 240.0) return;
    Trace("Presenting does not wait for the retrace: frames are paced to 60 a second.\n");
    m_paced = true;
  }
  constexpr double kPeriod = 1.0 / 60.0;
  double now = Seconds();
  if (m_nextFrameAt > now) {
    OvSleep(uint32_t((m_nextFrameAt - now) * 1000.0 + 0.5));
    now = Seconds();
  }
  // A late frame starts a new beat rather than making the next ones hurry.
  m_nextFrameAt = now - m_nextFrameAt > kPeriod ? now + kPeriod : m_nextFrameAt + kPeriod;
}

bool Shell::HasRealDisplay() const {
  const char* driver = SDL_GetCurrentVideoDriver();
  return !m_cl.headless && driver != nullptr && std::strcmp(driver, "offscreen") != 0 &&
         std::strcmp(driver, "dummy") != 0;
}

bool Shell::CreateWindow() {
  OvRendererGL::SetWindowAttributes();
  SDL_DisplayMode desktop{};
  int w = 1024, h = 768;
  if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
    w = desktop.w;
    h = desktop.h;
  }
  uint32_t flags = OvRendererGL::WindowFlags();
  if (kWindowedAllowed && !m_cl.fullScreen) {
    flags |= SDL_WINDOW_RESIZABLE;
    if (m_cl.width != 0 && m_cl.height != 0) {
      w = m_cl.width;
      h = m_cl.height;
    }
  } else {
    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  }
  m_window = SDL_CreateWindow(m_title, 0, 0, w, h, flags);
  if (m_window == nullptr) {
    _TraceFormat("CreateWindowEx failed -- %s\n", SDL_GetError());
    if (HasRealDisplay()) SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "", "CreateWindowEx failed", nullptr);
    return false;
  }
  SDL_ShowWindow(m_window);
  return true;
}

void Shell::ProbeActivity() {
  SDL_PumpEvents();
  SDL_Event events[64];
  int n = SDL_PeepEvents(events, 64, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
  for (int i = 0; i < n; ++i) {
    const SDL_Event& e = events[i];
    switch (e.type) {
      case SDL_MOUSEMOTION: m_probe.Feed(ActivityProbe::Kind::MouseMove, e.motion.x, e.motion.y); return;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
      case SDL_TEXTINPUT:
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
      case SDL_MOUSEWHEEL: m_probe.Feed(ActivityProbe::Kind::OtherInput); return;
      default: break;
    }
  }
  m_probe.Feed(ActivityProbe::Kind::None);
}

// The window's pointer events in the device's form; false for others.
bool PointerEventFromSdl(const SDL_Event& e, OvPointerEvent& out) {
  out.time = e.common.timestamp / 1000.0;
  if (e.type == SDL_MOUSEMOTION) {
    out.kind = OvPointerEvent::Kind::Motion;
    out.x = e.motion.x;
    out.y = e.motion.y;
    return true;
  }
  if (e.type != SDL_MOUSEBUTTONDOWN && e.type != SDL_MOUSEBUTTONUP) return false;
  switch (e.button.button) {
    case SDL_BUTTON_LEFT: out.index = OV_INPUT_MOUSE_LEFT; break;
    case SDL_BUTTON_MIDDLE: out.index = OV_INPUT_MOUSE_MIDDLE; break;
    case SDL_BUTTON_RIGHT: out.index = OV_INPUT_MOUSE_RIGHT; break;
    default: return false;
  }
  out.kind = OvPointerEvent::Kind::Button;
  out.down = e.type == SDL_MOUSEBUTTONDOWN;
  out.x = e.button.x;
  out.y = e.button.y;
  return true;
}

void Shell::WindowMessage(const SDL_Event& e) {
  if ((e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP) && e.button.button == SDL_BUTTON_LEFT) {
    int w = 0, h = 0;
    SDL_GetWindowSize(m_window, &w, &h);
    m_gestureQueue.push_back({e.type == SDL_MOUSEBUTTONDOWN, e.button.x, e.button.y, w, h});
  }
  if (m_gesture.Done()) m_loop.quitRequested = true;

  if (e.type == SDL_WINDOWEVENT) {
    switch (e.window.event) {
      case SDL_WINDOWEVENT_FOCUS_LOST: m_loop.inactive = true; break;
      case SDL_WINDOWEVENT_FOCUS_GAINED: m_loop.inactive = false; break;
      case SDL_WINDOWEVENT_EXPOSED: m_loop.repaintRequested = true; break;
      case SDL_WINDOWEVENT_CLOSE: m_loop.quitRequested = true; break;
      default: break;
    }
  }
}

void Shell::FeedGesture() {
  const bool owned = m_app->PointerOwned();
  for (const GestureButton& b : m_gestureQueue) {
    if (b.press && owned)
      m_gesture.Restart();
    else
      m_gesture.Feed(b.press ? ExitGesture::Button::Press : ExitGesture::Button::Release, b.x, b.y, b.width, b.height);
  }
  m_gestureQueue.clear();
  if (m_gesture.Done()) m_loop.quitRequested = true;
}

void Shell::Loop(SingleInstance* instance) {
  m_loop.quitRequested = false;
  bool firstFrame = true;
  while (!m_loop.quitRequested) {
    if (OvStopRequested()) break;
    ProbeActivity();
    m_app->SetInputActivity(m_probe.Activity());

    SDL_Event e;
    while (SDL_PollEvent(&e)) {
      if (e.type == SDL_QUIT) {
        m_loop.quitRequested = true;
        break;
      }
      if (e.type == SDL_MOUSEWHEEL) {
        const int notches = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        m_app->FeedWheel(notches * 120);
      }
      if (OvPointerEvent pointer; PointerEventFromSdl(e, pointer)) m_app->FeedPointer(pointer);
      WindowMessage(e);
    }

    // Programs started by content end on their own; none stays a zombie.
    OvReapChildren();

    if (instance != nullptr && instance->PollRaise()) {
      Trace("Raise request from another start.\n");
      if (SDL_GetWindowFlags(m_window) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(m_window);
      SDL_RaiseWindow(m_window);
    }

    if (m_loop.ShouldRunFrame()) {
      if (m_app->ReplayQuitDue()) break;
      if (!m_cl.screenshot.empty() && m_frameLimit > 0 && m_frames + 1 == m_frameLimit)
        m_app->RequestScreenshot(m_cl.screenshot.c_str());
      if (!m_app->Frame() || OvStopRequested()) m_loop.quitRequested = true;
      if (firstFrame) {
        // Start-up cost as the user sees it: from exec to the first presented picture.
        _TraceFormat("First frame presented %.0f ms after start.\n", MsSinceProcessStart());
        firstFrame = false;
      }
      if (const std::string error = m_app->ReplayError(); !error.empty()) {
        std::fprintf(stderr, "%s: %s\n", m_program, error.c_str());
        _TraceFormat("!!! %s\n", error.c_str());
        m_inputFailed = true;
        m_loop.quitRequested = true;
      }
      m_loop.repaintRequested = false;
      if (TitleNeedsReset(SDL_GetWindowTitle(m_window))) SDL_SetWindowTitle(m_window, m_title);
      if (m_frameLimit > 0 && ++m_frames >= m_frameLimit) m_loop.quitRequested = true;
      if ((m_paced || m_watchSwap) && !m_loop.quitRequested) PaceFrame();
    } else {
      OvSleep(500);
    }
    FeedGesture();
  }
  m_app->RecordQuit();
}

void Shell::Shutdown() {
  // Without a frame count the last frame is one more, drawn for the picture.
  if (m_app != nullptr && m_app->EngineStarted() && !m_cl.screenshot.empty() && m_frameLimit == 0) {
    m_app->RequestScreenshot(m_cl.screenshot.c_str());
    m_app->Frame();
  }
  if (m_cursorHidden) SDL_ShowCursor(SDL_ENABLE);
  if (m_app != nullptr && !m_cl.dumpScene.empty()) {
    if (OvScene* scene = m_app->Scene()) {
      if (!OvDumpSceneJson(*scene, m_cl.dumpScene.c_str())) m_outputFailed = true;
    } else {
      _TraceFormat("!!! No scene to write to '%s'.\n", m_cl.dumpScene.c_str());
      m_outputFailed = true;
    }
  }
  if (m_app != nullptr) {
    if (m_app->ScreenshotFailed()) m_outputFailed = true;
    if (!m_app->RecordOk()) {
      std::fprintf(stderr, "%s: cannot write the record file '%s'\n", m_program, m_cl.record.c_str());
      m_outputFailed = true;
    }
    if (m_contentMustLoad && m_app->EngineStarted() && !m_app->ContentLoaded()) m_outputFailed = true;
    m_app->Terminate();
    delete m_app;
    m_app = nullptr;
  }
  if (m_recordFile != nullptr) {
    if (std::fclose(m_recordFile) != 0) {
      std::fprintf(stderr, "%s: cannot write the record file '%s'\n", m_program, m_cl.record.c_str());
      m_outputFailed = true;
    }
    m_recordFile = nullptr;
  }
  if (m_screenSaverWasOn) SDL_EnableScreenSaver();
  if (m_window != nullptr) {
    SDL_DestroyWindow(m_window);
    m_window = nullptr;
  }
}

int Shell::Run(SingleInstance* instance) {
  if (!PrepareRecordedInput()) return 2;
  OvTimerResolutionReport();

  if (m_cl.headless) SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
  // SDL would turn SIGTERM and SIGINT into an event that a hung frame never
  // reads; these handlers also reach a hung frame, and take SIGHUP as well.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (OvStopSignalsInstall())
    OvStopSetInterrupt(OvStopInterruptScripts);
  else
    Trace("!!! Cannot watch for stop signals: a hung board will not end on SIGTERM.\n");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    _TraceFormat("!!! Cannot start the video system -- %s\n", SDL_GetError());
    return 1;
  }
  if (!CreateWindow()) {
    if (m_recordFile != nullptr) std::fclose(m_recordFile);
    SDL_Quit();
    return 1;
  }

  if (SDL_IsScreenSaverEnabled()) {
    SDL_DisableScreenSaver();
    m_screenSaverWasOn = true;
  }

  m_app = m_makeApp(HasRealDisplay());
  if (m_app != nullptr) {
    m_app->SetFixedStep(m_cl.fixedStep);
    m_app->SetAllowExec(m_cl.allowExec);
    if (!m_cl.replay.empty()) m_app->SetInputReplay(std::move(m_replayEvents), m_cl.replay);
    m_app->SetInputRecord(m_recordFile);
  }
  bool ok = m_app != nullptr && m_app->Initialise(&m_window, !kWindowedAllowed, m_contentName);
  int status = 0;
  if (ok) {
    Trace("Floating point version.\n");
    // Only a run off screen with a fixed step goes as fast as it can: nobody
    // watches it and its clock does not depend on the frame rate.
    const bool pace = !(m_cl.fixedStep > 0 && !HasRealDisplay());
    const OvRendererGL* renderer = m_app->Renderer();
    const bool swapPaced = HasRealDisplay() && renderer != nullptr && renderer->SwapPaced();
    m_paced = pace && !swapPaced;
    m_watchSwap = pace && swapPaced;
    if (m_paced) Trace("No retrace to wait for: frames are paced to 60 a second.\n");
    if (m_cl.hideCursor) {
      SDL_ShowCursor(SDL_DISABLE);
      m_cursorHidden = true;
    }
    Loop(instance);
  } else {
    // Nothing past a failed start may run a frame: straight to shutdown.
    status = 1;
  }
  Shutdown();
  SDL_Quit();
  OvStopFinished();
  if (m_inputFailed) return 2;
  return m_outputFailed ? 1 : status;
}

}  // namespace

std::string ResolveDataFolder(const std::string& programFolder, const std::string& requested, std::string& error,
                              std::string* notice, bool readOnly) {
  if (notice) notice->clear();
  std::error_code ec;
  if (!requested.empty()) {
    if (readOnly) {
      if (std::filesystem::is_directory(requested, ec)) return WithSlash(requested);
      error = "the data folder '" + requested + "' does not exist or is no folder";
      return {};
    }
    if (!MakeFolders(requested, error)) return {};
    if (!Writable(requested)) {
      error = "the data folder '" + requested + "' is not writable";
      return {};
    }
    return WithSlash(requested);
  }
  std::string beside = programFolder + "/data";
  // An installed copy never writes into its program folder, even where it could
  // (run as root, or installed under the user's own prefix).
  const bool installed = std::filesystem::exists(programFolder + "/installed", ec);
  std::string besideError;
  if (!installed) {
    if (readOnly ? std::filesystem::is_directory(beside, ec) && Writable(beside)
                 : MakeFolders(beside, besideError) && Writable(beside))
      return WithSlash(beside);
    if (besideError.empty()) besideError = "'" + beside + "' is not writable";
  }

  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) {
    base = std::string(home) + "/.local/share";
  } else {
    error = "no writable data folder: '" + beside + "' is not writable and neither XDG_DATA_HOME nor HOME is set";
    return {};
  }
  std::string folder = base + "/kiwa-memo/data";
  if (readOnly) {
    // Reading needs no write access: the folder the board would use, else
    // the read-only one beside the program.
    if (std::filesystem::is_directory(folder, ec)) return WithSlash(folder);
    if (!installed && std::filesystem::is_directory(beside, ec)) return WithSlash(beside);
    error = "no data folder: neither '" + beside + "' nor '" + folder + "' exists";
    return {};
  }
  if (!MakeFolders(folder, error)) return {};
  if (!Writable(folder)) {
    error = "the data folder '" + folder + "' is not writable";
    return {};
  }
  // Notes kept beside the program earlier are not here: the user must know.
  if (!installed && notice)
    *notice = "the data folder '" + WithSlash(beside) + "' cannot be used (" + besideError + "); notes are kept in '" +
              WithSlash(folder) + "'";
  return WithSlash(folder);
}

int KiwaMemoMain(int argc, char** argv) {
  CommandLine cl;
  CommandLineRules rules;
  rules.dumpScene = true;
  if (!ParseCommandLine(argc, argv, cl, rules)) {
    std::fprintf(stderr, "kiwa-memo: %s\nTry 'kiwa-memo --help'.\n", cl.error.c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(UsageText("kiwa-memo").c_str(), stdout);
    return 0;
  }
  if (!cl.traceFile.empty() && !OvTraceSetFile(cl.traceFile.c_str())) {
    std::fprintf(stderr, "kiwa-memo: cannot write the trace file '%s': %s\n", cl.traceFile.c_str(),
                 std::strerror(errno));
    return 2;
  }

  if (!cl.content.empty() && !ContentReadable("kiwa-memo", cl.content)) return 1;

  std::string programFolder = OvProgramFolder();
  std::string error;
  std::string dataNotice;
  const bool exporting = !cl.exportDir.empty();
  std::string dataFolder = ResolveDataFolder(programFolder, cl.dataDir, error, &dataNotice, exporting);
  if (dataFolder.empty()) {
    std::fprintf(stderr, "kiwa-memo: %s\n", error.c_str());
    return 1;
  }
  if (!dataNotice.empty()) {
    std::fprintf(stderr, "kiwa-memo: %s\n", dataNotice.c_str());
    _TraceFormat("### %s\n", dataNotice.c_str());
  }
  // Reads the notes only: runs beside a board and needs no window.
  if (!cl.exportDir.empty()) return OvRunNoteExport(dataFolder, cl.exportDir);

  SingleInstance instance;
  switch (instance.Acquire(dataFolder)) {
    case SingleInstance::Result::AlreadyRunning:
      // The running board comes to the front; this start shows no window.
      if (instance.SendRaise())
        std::printf("kiwa-memo: a board already runs on '%s'; it was brought to the front.\n", dataFolder.c_str());
      else
        std::printf("kiwa-memo: a board already runs on '%s'; it could not be asked to come to the front.\n",
                    dataFolder.c_str());
      return 0;
    case SingleInstance::Result::Failed: std::fprintf(stderr, "kiwa-memo: %s\n", instance.error().c_str()); return 1;
    case SingleInstance::Result::Acquired: break;
  }

  auto makeApp = [&](bool hasDisplay) -> OrvoApp* {
    MainAppOptions options;
    options.programFolder = programFolder;
    options.dataFolder = dataFolder;
    options.contentOverride = cl.content;
    options.allowDialog = hasDisplay;
    options.dataNotice = dataNotice;
    return new MainApp(options);
  };
  int status = OvRunShell(cl, kWindowTitle, kContentName, makeApp, &instance, false, "kiwa-memo");
  instance.Release();
  OvTraceSetFile(nullptr);
  return status;
}

int OvRunShell(const CommandLine& cl, const char* title, const char* contentName,
               const std::function<OrvoApp*(bool)>& makeApp, SingleInstance* instance, bool contentMustLoad,
               const char* program) {
  Shell shell(cl, title, contentName, makeApp, contentMustLoad, program);
  return shell.Run(instance);
}

namespace {

// Runs any content file: the engine with no application of its own.
class PlayerApp : public OrvoApp {
 public:
  explicit PlayerApp(bool allowDialog) : m_allowDialog(allowDialog) {}
  OvRendererGL* CreateRenderer() override { return new OvRendererGL(); }
  void DestroyRenderer(OvRendererGL* renderer) override { delete renderer; }

 protected:
  bool ChooseContentFile(std::string& chosen, unsigned long* errorCode) override {
    if (!m_allowDialog) {
      if (errorCode) *errorCode = 0xFFFF;
      return false;
    }
    return OrvoApp::ChooseContentFile(chosen, errorCode);
  }

 private:
  bool m_allowDialog;
};

}  // namespace

int OrvPlayMain(int argc, char** argv) {
  CommandLine cl;
  CommandLineRules rules;
  rules.contentArgument = true;
  rules.dumpScene = true;
  rules.exportNotes = false;
  if (!ParseCommandLine(argc, argv, cl, rules)) {
    std::fprintf(stderr, "orvplay: %s\nTry 'orvplay --help'.\n", cl.error.c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(PlayerUsageText("orvplay").c_str(), stdout);
    return 0;
  }
  if (cl.content.empty()) {
    std::fprintf(stderr, "orvplay: no content file given\nTry 'orvplay --help'.\n");
    return 2;
  }
  if (!ContentReadable("orvplay", cl.content)) return 1;
  if (!cl.traceFile.empty() && !OvTraceSetFile(cl.traceFile.c_str())) {
    std::fprintf(stderr, "orvplay: cannot write the trace file '%s': %s\n", cl.traceFile.c_str(), std::strerror(errno));
    return 2;
  }
  auto makeApp = [](bool hasDisplay) -> OrvoApp* { return new PlayerApp(hasDisplay); };
  int status = OvRunShell(cl, kPlayerTitle, cl.content.c_str(), makeApp, nullptr, true, "orvplay");
  if (status == 1)
    std::fprintf(stderr, "orvplay: '%s' did not play completely; the trace above says why\n", cl.content.c_str());
  OvTraceSetFile(nullptr);
  return status;
}
