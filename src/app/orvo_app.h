// The engine's application object: starts the services in a fixed order,
// loads content into a fresh scene, runs frames, swaps content on request and
// shuts down in reverse order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ov_memory.h"

struct SDL_Window;
class OvRendererGL;
class OvInputDevice;
class OvSoundSystem;
class OvScene;
class OvDatabase;
class SceneSoundSink;
class OvContentUploader;

class OrvoApp : public OvAllocated {
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
  // Content from outside the program folder may start programs too.
  void SetAllowExec(bool allow) { m_allowExec = allow; }
  // Whether the last content load read the whole file.
  bool ContentLoaded() const { return m_contentLoaded; }
  // The next frame is also written to this PNG file before it is shown.
  void RequestScreenshot(const char* path);
  bool ScreenshotPending() const { return !m_screenshot.empty(); }
  // Whether a requested screenshot could not be written.
  bool ScreenshotFailed() const { return m_screenshotFailed; }

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
};
