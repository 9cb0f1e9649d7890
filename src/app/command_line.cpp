#include "command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseCount(const char* text, int64_t& out) {
  if (text == nullptr || *text == 0) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || v <= 0) return false;
  out = v;
  return true;
}

}  // namespace

void ApplyWindowText(const std::string& text, CommandLine& out) {
  if (text.size() > 1) {
    out.fullScreen = false;
    out.hideCursor = false;
    int w = 0, h = 0;
    std::sscanf(text.c_str(), "%d %d", &w, &h);
    out.width = w < 0 ? 0 : w;
    out.height = h < 0 ? 0 : h;
  } else {
    out.fullScreen = true;
    out.hideCursor = true;
    out.width = out.height = 0;
  }
}

bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out) {
  std::string windowText;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strncmp(a, "--", 2) != 0) {
      if (!windowText.empty()) windowText += ' ';
      windowText += a;
      continue;
    }
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        out.error = std::string("option ") + name + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    if (std::strcmp(a, "--help") == 0) {
      out.help = true;
    } else if (std::strcmp(a, "--headless") == 0) {
      out.headless = true;
    } else if (std::strcmp(a, "--content") == 0) {
      const char* v = value(a);
      if (!v) return false;
      out.content = v;
    } else if (std::strcmp(a, "--data") == 0) {
      const char* v = value(a);
      if (!v) return false;
      out.dataDir = v;
    } else if (std::strcmp(a, "--trace") == 0) {
      const char* v = value(a);
      if (!v) return false;
      out.traceFile = v;
    } else if (std::strcmp(a, "--frames") == 0) {
      const char* v = value(a);
      if (!v) return false;
      if (!ParseCount(v, out.frames)) {
        out.error = std::string("--frames needs a positive whole number, not '") + v + "'";
        return false;
      }
    } else {
      out.error = std::string("unknown option '") + a + "'";
      return false;
    }
  }
  ApplyWindowText(windowText, out);
  return true;
}

std::string UsageText(const char* program) {
  std::string p = program ? program : "kiwa-memo";
  return "Usage: " + p + " [WIDTH HEIGHT] [options]\n"
         "\n"
         "A 3D memo board. With WIDTH and HEIGHT it opens a framed window of that\n"
         "size (a zero or missing value uses the desktop size); without them it runs\n"
         "full screen with the system cursor hidden.\n"
         "\n"
         "Options:\n"
         "  --content FILE  content file to run (default: stage.orv next to the program)\n"
         "  --data DIR      folder for notes and the instance lock (default: data/ next to\n"
         "                  the program, or $XDG_DATA_HOME/kiwa-memo/data/ when that is not\n"
         "                  writable)\n"
         "  --headless      render off screen, without a display\n"
         "  --frames N      stop after N frames\n"
         "  --trace FILE    append the diagnostic trace to FILE as well as standard error\n"
         "  --help          show this text and exit\n"
         "\n"
         "Only one board runs per data folder; starting another brings the running\n"
         "window to the front. Drawing a cross with two diagonal drags (top-right to\n"
         "bottom-left, then top-left to bottom-right) ends the program.\n";
}
