#include "orvo_app.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "file_dialog.h"
#include "language.h"
#include "ov_content_switch.h"
#include "ov_database.h"
#include "ov_input.h"
#include "ov_input_sdl.h"
#include "ov_nodes.h"
#include "ov_paths.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_scene.h"
#include "ov_scene_nodes.h"
#include "ov_screen_point.h"
#include "ov_script_host.h"
#include "ov_sound_system.h"
#include "ov_std_material.h"
#include "ov_trace.h"
#include "stop_signals.h"

// Hands the scene's listener and per-frame update to the sound system.
class SceneSoundSink : public OvSceneSoundSink, public OvAllocated {
 public:
  explicit SceneSoundSink(OvSoundSystem& sound) : m_sound(sound) {}
  void SetListenerPosition(const OvVector& position) override { m_sound.SetListenerPosition(position); }
  void SetListenerOrientation(const OvVector& velocity) override {
    m_sound.SetListenerOrientation(velocity, OvVector{0.0f, 0.0f, 1.0f});
  }
  void Update() override { m_sound.Update(); }
  void Stop() override { m_sound.StopAll(); }

 private:
  OvSoundSystem& m_sound;
};

namespace {

// The renderer's tuning values are script globals ("__ov_...").
class ScriptSettings : public OvRenderSettings {
 public:
  int32_t GetInt(const char* name) override { return OvScriptGetSettingInt(name); }
  float GetFloat(const char* name) override { return OvScriptGetSettingFloat(name); }
};
ScriptSettings g_scriptSettings;

// The board's own content: a file in the program's folder, links resolved.
bool InProgramFolder(const std::string& contentFolder) {
  char* content = realpath(contentFolder.c_str(), nullptr);
  char* program = realpath(OvProgramFolder().c_str(), nullptr);
  const bool same = content != nullptr && program != nullptr && std::strcmp(content, program) == 0;
  std::free(content);
  std::free(program);
  return same;
}

}  // namespace

OrvoApp::OrvoApp() = default;

OrvoApp::~OrvoApp() = default;

bool OrvoApp::ChooseContentFile(std::string& chosen, unsigned long* errorCode) {
  static const char* const kFilter[] = {"Orvo Files", "*.orv", "All Files", "*.*", nullptr, nullptr};
  return OvChooseFile(chosen, "Load file", kFilter, errorCode);
}

OvInputDevice* OrvoApp::CreateInputDevice() {
  if (m_replayPlanned) {
    m_replay = new OvReplayInputDevice(std::move(m_replayEvents), m_replaySource, this);
    return m_replay;
  }
  OvInputDevice* real = OvCreateSdlInputDevice(m_window ? *m_window : nullptr);
  if (real != nullptr && m_recordOut != nullptr) {
    m_recorder = new OvRecordingInputDevice(real, m_recordOut);
    if (m_recorder == nullptr) delete real;
    return m_recorder;
  }
  return real;
}

void OrvoApp::SetInputReplay(std::vector<OvInputEvent> events, const std::string& source) {
  m_replayPlanned = true;
  m_replayEvents = std::move(events);
  m_replaySource = source;
}

int OrvoApp::InputActivity() const { return m_inputActivity != 0 || (m_replay && m_replay->EventsDue()) ? 1 : 0; }

void OrvoApp::FeedWheel(int delta) {
  if (m_input != nullptr) m_input->FeedWheel(delta);
}

void OrvoApp::FeedPointer(const OvPointerEvent& e) {
  if (m_input != nullptr) m_input->FeedPointer(e);
}

void OrvoApp::RecordQuit() {
  if (m_recorder != nullptr) m_recorder->RecordQuit();
}

bool OrvoApp::Locate(const std::string& name, int32_t& x, int32_t& y, std::string& why) {
  const std::string quoted = "'" + name + "'";
  if (m_scene == nullptr) {
    why = "no scene is loaded to find " + quoted + " in";
    return false;
  }
  OvClump* clump = OvFindClumpForPointer(*m_scene, name.c_str());
  if (clump == nullptr) {
    why = "no clump is named " + quoted + " or has it in its name";
    return false;
  }
  float fx = 0.0f, fy = 0.0f;
  switch (OvClumpScreenPoint(*m_scene, *clump, fx, fy)) {
    case OvScreenPointResult::Ok: break;
    case OvScreenPointResult::NoView:
      why = "no frame has been drawn through a camera yet to find " + quoted + " on";
      return false;
    case OvScreenPointResult::NoPlacement: why = "the clump " + quoted + " has no place in the world yet"; return false;
    case OvScreenPointResult::BehindCamera: why = "the clump " + quoted + " is behind the camera"; return false;
  }
  // Far outside any window: a pointer cannot go there.
  if (!(std::fabs(fx) < 1.0e6f && std::fabs(fy) < 1.0e6f)) {
    why = "the clump " + quoted + " projects far outside the window";
    return false;
  }
  x = int32_t(std::lround(fx));
  y = int32_t(std::lround(fy));
  return true;
}

bool OrvoApp::Initialise(SDL_Window** window, bool flag, const char* contentName) {
  std::string candidate;
  bool haveCandidate = false;
  if (contentName != nullptr && FileExists(contentName)) {
    candidate = contentName;
    haveCandidate = true;
  } else if (m_defaultContentPath != nullptr) {
    candidate = m_defaultContentPath;
    haveCandidate = true;
  }
  if (!haveCandidate || candidate.empty() || !FileExists(candidate.c_str())) {
    std::string chosen;
    unsigned long error = 0;
    if (ChooseContentFile(chosen, &error)) {
      candidate = chosen;
      haveCandidate = true;
    } else {
      _TraceFormat("Open file error : %lx\n", error);
    }
  }

  if (!StartEngine(window, flag)) return false;
  // A missing candidate still goes to the loader, which reports it.
  if (!haveCandidate && contentName != nullptr) candidate = contentName;
  LoadContent(candidate.c_str());
  return true;
}

bool OrvoApp::StartEngine(SDL_Window** window, bool flag) {
  m_window = window;

  OvMemoryStart(0);
  m_memoryStarted = true;

  OvRegisterNodeTypes();
  OvRegisterSceneExtensionTypes();
  OvRegisterStdMaterialType();

  m_input = CreateInputDevice();
  if (m_input != nullptr) {
    m_input->Reset();
    OvSetInputDevice(m_input);
  }

  m_renderer = CreateRenderer();
  if (m_renderer == nullptr) {
    Trace("Initialize renderer failed !\n");
    return false;
  }
  m_renderer->SetFullScreen(flag);
  m_renderer->SetWindow(window);
  if (!m_renderer->Init(true)) {
    Trace("Initialize renderer failed !\n");
    return false;
  }
  Trace("Orvo Renderer initialized\n");
  // Content textures and meshes reach the device through this.
  m_uploader = new OvContentUploader(*m_renderer);

  // Without an audio device the sound system runs on the silent driver.
  m_sound = new OvSoundSystem;
  if (m_sound != nullptr) {
    m_sound->Start();
    m_soundSink = new SceneSoundSink(*m_sound);
  }
  Trace("Orvo Sound system initialized\n");

  // Scripts of the Script folder run before any content, which may rely on them.
  if (OvScriptStart()) OvSetRenderSettings(&g_scriptSettings);

  m_engineStarted = true;
  return true;
}

OvScene* OrvoApp::CreateScene() { return new OvScene(); }

void OrvoApp::LoadContent(const char* path) {
  OvScene* scene = CreateScene();
  OvDatabase* database = OvDatabase::Create();
  if (scene == nullptr || database == nullptr) {
    delete scene;
    if (database != nullptr) database->Destroy();
    Trace("!!! Not enough memory to load content.\n");
    return;
  }
  m_scene = scene;
  m_database = database;
  m_contentPath = path ? path : "";

  scene->SetRenderer(m_renderer);
  database->SetRenderer(m_uploader);
  scene->SetSoundSink(m_soundSink);
  std::string folder;
  FolderOf(folder, m_contentPath.c_str());
  if (OvSoundDatabase* sounds = database->SoundDatabase()) sounds->SetFolder(folder.c_str());
  // Sound files named by content are found beside it, never under whatever
  // folder the program was started from.
  if (m_sound != nullptr) m_sound->SetSoundFolder((folder + "sounds").c_str());
  OvSetExecPolicy(m_allowExec || InProgramFolder(folder), folder.c_str());

  m_contentLoaded = database->Load(m_contentPath.c_str());
  OvClearNextContentName();
  scene->InstantiateDatabase(*database);

  LanguageEnvironment language;
  language.programFolder = OvProgramFolder();
  language.userLcid = OvUserDefaultLcid();
  language.systemLcid = OvSystemDefaultLcid();
  m_localised = SelectLanguage(m_contentPath.c_str(), language, m_uploader);

  OvClearContentChange();
  scene->ResetClock();
  Trace(" ------- Memory usage after the file loaded ------\n");
  Trace(" -------------------------------------------------\n");
}

void OrvoApp::UnloadContent() {
  // The scene points into the database's records, so it goes first.
  delete m_scene;
  m_scene = nullptr;
  if (m_database != nullptr) m_database->Destroy();
  m_database = nullptr;
  if (m_localised != nullptr) m_localised->Destroy();
  m_localised = nullptr;
}

void OrvoApp::RequestScreenshot(const char* path) { m_screenshot = path ? path : ""; }

void OrvoApp::RunSceneFrame() {
  if (m_scene == nullptr) return;
  if (m_fixedStep > 0) m_scene->ForceStep(m_fixedStep);
  // A screenshot reads the frame before it is shown.
  const bool capture = !m_screenshot.empty() && m_renderer != nullptr;
  if (capture) m_scene->SetPresentAfterFrame(false);
  m_scene->Frame();
  // Content without a camera draws nothing; the window still shows the
  // background instead of whatever the buffer held.
  const bool blank = m_scene->NoCamera() && m_renderer != nullptr;
  if (blank) {
    if (m_input != nullptr) m_input->Update();
    m_renderer->SetBackgroundColour(m_scene->BackgroundColour());
    m_renderer->ClearBackBuffer();
  }
  if (capture) {
    m_scene->SetPresentAfterFrame(true);
    if (!OvSaveScreenshotPNG(*m_renderer, m_screenshot.c_str())) {
      _TraceFormat("!!! Can not write the screenshot '%s'.\n", m_screenshot.c_str());
      m_screenshotFailed = true;
    }
    m_screenshot.clear();
    if (!blank) m_renderer->ShowBackBuffer();
  }
  if (blank) m_renderer->ShowBackBuffer();
}

bool OrvoApp::Frame() {
  if (!m_engineStarted) return false;
  RunSceneFrame();
  if (!OvContentChangeRequested()) return true;

  std::string name = OvNextContentName();
  if (name.empty()) return false;
  std::string folder, resolved;
  FolderOf(folder, m_contentPath.c_str());
  if (!ResolveDataPath(resolved, name.c_str(), folder.c_str())) {
    // A refused name has had its own trace line.
    if (OvContentNameAllowed(name.c_str())) _TraceFormat("Orvo file -- '%s' does not exist!\n", name.c_str());
    return false;
  }
  UnloadContent();
  LoadContent(resolved.c_str());
  return true;
}

bool OrvoApp::Terminate() {
  UnloadContent();

  if (OvGetRenderSettings() == &g_scriptSettings) OvSetRenderSettings(nullptr);
  // A stop signal's interrupt must not reach an interpreter being closed.
  OvStopSetInterrupt(nullptr);
  OvScriptShutdown();

  // Device objects of content are gone with the databases; the uploader's
  // builder goes before the device.
  delete m_uploader;
  m_uploader = nullptr;

  if (m_renderer != nullptr) {
    Trace("Prepare terminate Orvo Renderer\n");
    m_renderer->ReleaseAll();
    Trace("Orvo Renderer terminated\n");
    DestroyRenderer(m_renderer);
    m_renderer = nullptr;
  }

  delete m_soundSink;
  m_soundSink = nullptr;
  if (m_sound != nullptr) {
    m_sound->Shutdown();
    delete m_sound;
    m_sound = nullptr;
  }

  Trace("End play game\n");

  if (m_input != nullptr) {
    if (OvGetInputDevice() == m_input) OvSetInputDevice(nullptr);
    delete m_input;
    m_input = nullptr;
    m_replay = nullptr;
    m_recorder = nullptr;
  }

  m_engineStarted = false;
  if (m_memoryStarted) {
    m_memoryStarted = false;
    OvMemoryStop();
  }
  return true;
}
