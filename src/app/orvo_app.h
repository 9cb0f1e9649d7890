// The engine's application object: starts the services in a fixed order,
// loads content into a fresh scene, runs frames, swaps content on request and
// shuts down in reverse order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ov_input_replay.h"
#include "ov_memory.h"

struct SDL_Window;
class OvRendererGL;
class OvInputDevice;
class OvSoundSystem;
class OvScene;
class OvDatabase;
class SceneSoundSink;
class OvContentUploader;

class OrvoApp : public OvAllocated, private OvPointerLocator {
 public:
  OrvoApp();
  virtual ~OrvoApp();
  OrvoApp(const OrvoApp&) = delete;
  OrvoApp& operator=(const OrvoApp&) = delete;

  virtual bool Initialise(SDL_Window** window, bool flag, const char* contentName);
  virtual bool Terminate();
  virtual bool Frame();
  virtual void LoadContent(const char* path);
  virtual void UnloadContent();
  virtual OvRendererGL* CreateRenderer() = 0;
  virtual void DestroyRenderer(OvRendererGL* renderer) = 0;

  const char* ContentPath() const { return m_contentPath.c_str(); }
  OvRendererGL* Renderer() const { return m_renderer; }
  OvInputDevice* Input() const { return m_input; }
  OvSoundSystem* Sound() const { return m_sound; }
  OvScene* Scene() const { return m_scene; }
  OvDatabase* Database() const { return m_database; }
  // The language-specific content loaded beside the main content, or null.
  OvDatabase* LocalisedDatabase() const { return m_localised; }
  bool EngineStarted() const { return m_engineStarted; }

  // Every frame advances the scene clock by exactly this many time units
  // (0: measure the wall clock). Makes runs deterministic.
  void SetFixedStep(int32_t units) { m_fixedStep = units; }
  int32_t FixedStep() const { return m_fixedStep; }
  // Content from outside the program folder may start programs too.
  void SetAllowExec(bool allow) { m_allowExec = allow; }
  // Whether the last content load read the whole file.
  bool ContentLoaded() const { return m_contentLoaded; }
  // The next frame is also written to this PNG file before it is shown.
  void RequestScreenshot(const char* path);
  bool ScreenshotPending() const { return !m_screenshot.empty(); }
  // Whether a requested screenshot could not be written.
  bool ScreenshotFailed() const { return m_screenshotFailed; }

  // Recorded input, chosen before Initialise: play these events instead of
  // the real device (`source` names the file in messages), or write what
  // the real device samples to `out` (not owned).
  void SetInputReplay(std::vector<OvInputEvent> events, const std::string& source);
  void SetInputRecord(FILE* out) { m_recordOut = out; }
  // The loop's input-activity flag (1 while user input waits), set by the
  // shell once per pass; replayed events due this frame count as input.
  void SetInputActivity(int activity) { m_inputActivity = activity; }
  int InputActivity() const;
  // The replay reached its "quit": the run ends before the next frame.
  bool ReplayQuitDue() const { return m_replay != nullptr && m_replay->QuitDue(); }
  // A replayed event could not be played; the message names its line.
  std::string ReplayError() const { return m_replay != nullptr ? m_replay->Error() : std::string(); }
  // A wheel turn seen by the window, 120 per notch.
  void FeedWheel(int delta);
  // A pointer button change or motion sample seen by the window.
  void FeedPointer(const OvPointerEvent& e);
  // The content has the pointer: the last frame's press picked an object, or
  // an edit or a drag is under way. The window's own gestures leave it alone.
  virtual bool PointerOwned() const { return false; }
  // The run is ending: a record says "quit" at the next frame.
  void RecordQuit();
  // False once writing the record failed.
  bool RecordOk() const { return m_recorder == nullptr || m_recorder->Ok(); }

 protected:
  // The choose-file dialog; false with an error code when no file was chosen.
  virtual bool ChooseContentFile(std::string& chosen, unsigned long* errorCode);
  // The input device for the window; a recorded-input device can replace it.
  virtual OvInputDevice* CreateInputDevice();
  // The scene content is loaded into; the memo board makes its own kind.
  virtual OvScene* CreateScene();
  // One step of the running content.
  virtual void RunSceneFrame();

  const char* m_defaultContentPath = nullptr;

 private:
  bool StartEngine(SDL_Window** window, bool flag);
  // "move @NAME": the named clump's pixel through the last frame's camera.
  bool Locate(const std::string& name, int32_t& x, int32_t& y, std::string& why) override;

  SDL_Window** m_window = nullptr;
  OvRendererGL* m_renderer = nullptr;
  OvContentUploader* m_uploader = nullptr;
  OvInputDevice* m_input = nullptr;
  OvSoundSystem* m_sound = nullptr;
  SceneSoundSink* m_soundSink = nullptr;
  OvScene* m_scene = nullptr;
  OvDatabase* m_database = nullptr;
  OvDatabase* m_localised = nullptr;
  bool m_engineStarted = false;
  bool m_memoryStarted = false;
  int32_t m_fixedStep = 0;
  bool m_allowExec = false;
  bool m_contentLoaded = false;
  bool m_screenshotFailed = false;
  std::string m_contentPath;
  std::string m_screenshot;
  bool m_replayPlanned = false;
  std::vector<OvInputEvent> m_replayEvents;
  std::string m_replaySource;
  FILE* m_recordOut = nullptr;
  OvReplayInputDevice* m_replay = nullptr;       // m_input when replaying
  OvRecordingInputDevice* m_recorder = nullptr;  // m_input when recording
  int m_inputActivity = 0;
};
