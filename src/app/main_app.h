// The memo board's application object.
#pragma once

#include <cstdint>
#include <string>

#include "orvo_app.h"
#include "scene_dump.h"

class OvMemoBoard;
class OvLogObj;
class OvObjectAddedSink;

struct MainAppOptions {
  std::string programFolder;    // without a trailing separator
  std::string dataFolder;       // with a trailing separator
  std::string contentOverride;  // a content file given on the command line
  bool allowDialog = true;      // never true in headless runs
  std::string dataNotice;       // why the notes are not where the user may look; shown in the title
};

class MainApp : public OrvoApp {
 public:
  explicit MainApp(const MainAppOptions& options);
  ~MainApp() override;

  bool Initialise(SDL_Window** window, bool flag, const char* contentName) override;
  bool Terminate() override;
  bool Frame() override;
  OvRendererGL* CreateRenderer() override;
  // Objects the content makes while it runs.
  void OnObjectAdded(OvLogObj* object);
  // Null while the content is not a board.
  OvMemoBoard* Board() const { return m_board; }
  void DestroyRenderer(OvRendererGL* renderer) override;

  bool PointerOwned() const override;
  uint32_t LastActivityMs() const { return m_lastActivityMs; }
  const std::string& DataFolder() const { return m_options.dataFolder; }
  const std::string& RecycleFolder() const { return m_recycleFolder; }

 protected:
  bool ChooseContentFile(std::string& chosen, unsigned long* errorCode) override;
  OvScene* CreateScene() override;

 private:
  void ShowSaveProblem();

  MainAppOptions m_options;
  std::string m_recycleFolder;
  uint32_t m_lastActivityMs = 0;
  OvMemoBoard* m_board = nullptr;
  OvObjectAddedSink* m_sink = nullptr;
  SDL_Window** m_window = nullptr;
  std::string m_baseTitle;
  std::string m_titleProblem;  // what the window title says now
  OvSceneDumpExtras m_dumpExtras;
};
