#include "main_app.h"

#include <sys/stat.h>

#include <cstdlib>

#include <SDL.h>

#include <cstdio>

#include "file_dialog.h"
#include "ov_clock.h"
#include "ov_database.h"
#include "ov_json_writer.h"
#include "ov_memo_board.h"
#include "ov_renderer_gl.h"
#include "ov_trace.h"

namespace {

// Forwards the scene's new objects to the application.
class ObjectAddedToApp : public OvObjectAddedSink {
 public:
  explicit ObjectAddedToApp(MainApp& app) : m_app(app) {}
  void OnObjectAdded(OvLogObj* object) override { m_app.OnObjectAdded(object); }

 private:
  MainApp& m_app;
};

}  // namespace

MainApp::MainApp(const MainAppOptions& options) : m_options(options) {
  if (!m_options.dataFolder.empty() && m_options.dataFolder.back() != '/') m_options.dataFolder.push_back('/');
  m_recycleFolder = m_options.dataFolder + "recycle/";
}

MainApp::~MainApp() { delete m_sink; }

bool MainApp::Initialise(SDL_Window** window, bool flag, const char* contentName) {
  m_window = window;
  m_lastActivityMs = OvTickCount();
  // One level each; an existing folder is fine and a failure shows up later
  // when notes are written.
  ::mkdir(m_options.dataFolder.c_str(), 0755);
  ::mkdir(m_recycleFolder.c_str(), 0755);

  std::string content = m_options.contentOverride.empty()
                            ? m_options.programFolder + "/" + (contentName ? contentName : "")
                            : m_options.contentOverride;
  if (!OrvoApp::Initialise(window, flag, content.c_str())) return false;
  if (SDL_Window* w = m_window ? *m_window : nullptr; w != nullptr && !m_options.dataNotice.empty())
    SDL_SetWindowTitle(w, (std::string(SDL_GetWindowTitle(w)) + " - " + m_options.dataNotice).c_str());
  std::srand(OvTickCount());
  // Content without the memo cursor plays as a plain scene.
  if (Scene() == nullptr || Database() == nullptr || !OvMemoBoard::IsBoardContent(*Scene())) return true;

  const std::vector<std::string> missing = OvMemoBoard::MissingNames(*Scene(), *Database());
  if (!missing.empty()) {
    std::string list;
    for (const std::string& name : missing) list += (list.empty() ? "" : ", ") + name;
    std::fprintf(stderr, "kiwa-memo: the board content '%s' lacks the named objects: %s\n", ContentPath(),
                 list.c_str());
    _TraceFormat("!!! The board content lacks the named objects: %s\n", list.c_str());
    return false;
  }
  m_board = new OvMemoBoard();
  if (m_board == nullptr) return false;
  OvMemoBoard::Services services;
  services.scene = Scene();
  services.database = Database();
  services.localised = LocalisedDatabase();
  services.renderer = Renderer();
  services.input = Input();
  services.dataFolder = m_options.dataFolder;
  // A fixed-step run places notes the same way each time, so a recorded
  // session replays to the same board.
  if (FixedStep() > 0) services.seed = 1;
  m_dumpExtras.screenPoints = true;
  m_dumpExtras.members = [this](JsonWriter& j) {
    if (m_window != nullptr && *m_window != nullptr) j.Member("windowTitle", SDL_GetWindowTitle(*m_window));
    if (m_board == nullptr) return;
    j.Key("memo");
    m_board->WriteJson(j);
  };
  OvSetSceneDumpExtras(&m_dumpExtras);
  if (m_board->Start(services)) return true;
  // The window closes at once: the reason must not be in the trace only.
  std::fprintf(stderr, "kiwa-memo: the notes in '%s' cannot be used: %s\n", m_options.dataFolder.c_str(),
               m_board->Store().LastError().c_str());
  return false;
}

void MainApp::OnObjectAdded(OvLogObj* object) {
  if (m_board != nullptr) m_board->OnObjectAdded(object);
}

OvScene* MainApp::CreateScene() {
  if (m_sink == nullptr) m_sink = new ObjectAddedToApp(*this);
  return new _CStageScene(m_sink);
}

bool MainApp::Terminate() {
  if (m_board != nullptr) {
    m_board->Terminate();
    delete m_board;
    m_board = nullptr;
  }
  OvSetSceneDumpExtras(nullptr);
  return OrvoApp::Terminate();
}

bool MainApp::Frame() {
  if (m_board == nullptr || !m_board->Started()) return OrvoApp::Frame();
  if (!EngineStarted()) return false;
  // The board holds objects of this scene: it runs the scene itself and
  // ends only through its close button.
  const bool go = m_board->Frame(InputActivity(), [this] { RunSceneFrame(); });
  ShowSaveProblem();
  return go;
}

void MainApp::ShowSaveProblem() {
  SDL_Window* window = m_window ? *m_window : nullptr;
  if (window == nullptr || m_board->SaveProblem() == m_titleProblem) return;
  if (m_titleProblem.empty()) m_baseTitle = SDL_GetWindowTitle(window);
  m_titleProblem = m_board->SaveProblem();
  // The user sees it until a save works again.
  const std::string title =
      m_titleProblem.empty() ? m_baseTitle : m_baseTitle + " - notes are not being saved: " + m_titleProblem;
  SDL_SetWindowTitle(window, title.c_str());
}

OvRendererGL* MainApp::CreateRenderer() { return new OvRendererGL(); }

bool MainApp::PointerOwned() const { return m_board != nullptr && m_board->Started() && m_board->PointerOwned(); }

void MainApp::DestroyRenderer(OvRendererGL* renderer) { delete renderer; }

bool MainApp::ChooseContentFile(std::string& chosen, unsigned long* errorCode) {
  if (!m_options.allowDialog) {
    if (errorCode) *errorCode = kDialogFailed;
    return false;
  }
  return OrvoApp::ChooseContentFile(chosen, errorCode);
}
