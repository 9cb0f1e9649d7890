#include "main_app.h"

#include <sys/stat.h>

#include <cstdlib>

#include "file_dialog.h"
#include "ov_clock.h"
#include "ov_renderer_gl.h"

MainApp::MainApp(const MainAppOptions& options) : m_options(options) {
  if (!m_options.dataFolder.empty() && m_options.dataFolder.back() != '/') m_options.dataFolder.push_back('/');
  m_recycleFolder = m_options.dataFolder + "recycle/";
}

MainApp::~MainApp() = default;

bool MainApp::Initialise(SDL_Window** window, bool flag, const char* contentName) {
  m_lastActivityMs = OvTickCount();
  // One level each; an existing folder is fine and a failure shows up later
  // when notes are written.
  ::mkdir(m_options.dataFolder.c_str(), 0755);
  ::mkdir(m_recycleFolder.c_str(), 0755);

  std::string content = m_options.contentOverride.empty()
                            ? m_options.programFolder + "/" + (contentName ? contentName : "")
                            : m_options.contentOverride;
  if (!OrvoApp::Initialise(window, flag, content.c_str())) return false;
  std::srand(OvTickCount());
  return true;
}

bool MainApp::Terminate() { return OrvoApp::Terminate(); }

bool MainApp::Frame() { return OrvoApp::Frame(); }

OvRendererGL* MainApp::CreateRenderer() { return new OvRendererGL(); }

void MainApp::DestroyRenderer(OvRendererGL* renderer) { delete renderer; }

bool MainApp::ChooseContentFile(std::string& chosen, unsigned long* errorCode) {
  if (!m_options.allowDialog) {
    if (errorCode) *errorCode = kDialogFailed;
    return false;
  }
  return OrvoApp::ChooseContentFile(chosen, errorCode);
}
