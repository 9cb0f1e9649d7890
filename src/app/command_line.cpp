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

static bool IsNumber(const char* s) {
  if (*s == '-' || *s == '+') ++s;
  if (*s == 0) return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out, const CommandLineRules& rules) {
  std::string windowText;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strncmp(a, "--", 2) != 0) {
      if (rules.contentArgument && !IsNumber(a)) {
        if (!out.content.empty()) {
          out.error = std::string("only one content file, not also '") + a + "'";
          return false;
        }
        out.content = a;
        continue;
      }
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
    } else if (std::strcmp(a, "--allow-exec") == 0) {
      out.allowExec = true;
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
    } else if (std::strcmp(a, "--fixed-step") == 0) {
      const char* v = value(a);
      if (!v) return false;
      int64_t units = 0;
      if (!ParseCount(v, units) || units > OV_MAX_FIXED_STEP) {
        out.error = std::string("--fixed-step needs a whole number of time units from 1 to ") +
                    std::to_string(OV_MAX_FIXED_STEP) + ", not '" + v + "'";
        return false;
      }
      out.fixedStep = int32_t(units);
    } else if (std::strcmp(a, "--screenshot") == 0) {
      const char* v = value(a);
      if (!v) return false;
      out.screenshot = v;
    } else if (std::strcmp(a, "--replay") == 0 || std::strcmp(a, "--record") == 0) {
      const char* v = value(a);
      if (!v) return false;
      (std::strcmp(a, "--replay") == 0 ? out.replay : out.record) = v;
    } else if (rules.exportNotes && std::strcmp(a, "--export") == 0) {
      const char* v = value(a);
      if (!v) return false;
      out.exportDir = v;
    } else if (rules.dumpScene && std::strcmp(a, "--dump-scene") == 0) {
      const char* v = value(a);
      if (!v) return false;
      out.dumpScene = v;
    } else {
      out.error = std::string("unknown option '") + a + "'";
      return false;
    }
  }
  if (!out.replay.empty() && !out.record.empty()) {
    out.error = "--replay and --record cannot be used together";
    return false;
  }
  ApplyWindowText(windowText, out);
  return true;
}

std::string UsageText(const char* program) {
  std::string p = program ? program : "kiwa-memo";
  return "Usage: " + p +
         " [WIDTH HEIGHT] [options]\n"
         "\n"
         "A 3D memo board. With WIDTH and HEIGHT it opens a framed window of that\n"
         "size (a zero or missing value uses the desktop size); without them it runs\n"
         "full screen with the system cursor hidden.\n"
         "\n"
         "Options:\n"
         "  --content FILE  content file to run (default: stage.orv next to the program)\n"
         "  --data DIR      folder for notes and the instance lock (default: data/ next to\n"
         "                  the program, or $XDG_DATA_HOME/kiwa-memo/data/ when that is not\n"
         "                  writable or the program is installed)\n"
         "  --headless      render off screen, without a display\n"
         "  --frames N      stop after N frames\n"
         "  --fixed-step U  advance the clock by exactly U time units per frame\n"
         "  --screenshot F  write the last frame to F as PNG\n"
         "  --dump-scene F  write the scene and the board after the last frame to F\n"
         "                  as JSON\n"
         "  --replay FILE   play recorded input from FILE instead of the mouse and\n"
         "                  keyboard; without --frames the run ends 60 frames after\n"
         "                  the last event\n"
         "  --record FILE   write the mouse and keyboard input to FILE in that form\n"
         "  --allow-exec    let content from outside the program folder start programs\n"
         "  --trace FILE    append the diagnostic trace to FILE as well as standard error\n"
         "  --export DIR    write every note (board and bin) to DIR as PNG and exit\n"
         "  --help          show this text and exit\n"
         "\n"
         "Keys: Enter finishes the open sheet (ok); Esc puts it away unsaved, or leaves\n"
         "the recycle view; 1 to 4 choose the pens, 0 or E the rubber; Ctrl+Q ends the\n"
         "program.\n"
         "\n"
         "Only one board runs per data folder; starting another brings the running\n"
         "window to the front. Drawing a cross with two diagonal drags (top-right to\n"
         "bottom-left, then top-left to bottom-right) ends the program. However the\n"
         "program ends, a sheet open with ink on it is kept as ok keeps it.\n";
}

std::string PlayerUsageText(const char* program) {
  std::string p = program ? program : "orvplay";
  return "Usage: " + p +
         " [WIDTH HEIGHT] [options] FILE.orv\n"
         "\n"
         "Runs a content file on the engine. With WIDTH and HEIGHT it opens a framed\n"
         "window of that size; without them it runs full screen.\n"
         "\n"
         "Options:\n"
         "  --headless       render off screen, without a display\n"
         "  --frames N       stop after N frames\n"
         "  --fixed-step U   advance the clock by exactly U time units per frame\n"
         "  --screenshot F   write the last frame to F as PNG\n"
         "  --dump-scene F   write the scene after the last frame to F as JSON\n"
         "  --replay FILE    play recorded input from FILE instead of the mouse and\n"
         "                   keyboard; without --frames the run ends 60 frames after\n"
         "                   the last event\n"
         "  --record FILE    write the mouse and keyboard input to FILE in that form\n"
         "  --allow-exec     let the content start programs\n"
         "  --trace FILE     append the diagnostic trace to FILE as well as standard error\n"
         "  --help           show this text and exit\n"
         "\n"
         "Closing the window, or the content asking to end, stops the player.\n";
}
