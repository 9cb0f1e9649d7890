// Command line of the memo board: "[WIDTH HEIGHT] [--options]".
#pragma once

#include <cstdint>
#include <string>

// The largest --fixed-step: far beyond any real frame (0.25 s at most), and
// small enough that every interval the scene computes stays positive.
constexpr int32_t OV_MAX_FIXED_STEP = 1000000;

struct CommandLine {
  // Window mode from the positional text: none or one character means full
  // screen with a hidden cursor; otherwise "%d %d" gives a framed window.
  bool fullScreen = true;
  bool hideCursor = true;
  int32_t width = 0;
  int32_t height = 0;

  std::string content;     // --content FILE
  std::string dataDir;     // --data DIR
  std::string traceFile;   // --trace FILE
  bool headless = false;   // --headless
  int64_t frames = 0;      // --frames N; 0 runs until the user quits
  int32_t fixedStep = 0;   // --fixed-step UNITS; 0 measures the wall clock
  std::string screenshot;  // --screenshot FILE: PNG of the last frame
  std::string dumpScene;   // --dump-scene FILE (orvplay)
  bool allowExec = false;  // --allow-exec: any content may start programs
  std::string exportDir;   // --export DIR: every note as PNG, then exit
  std::string replay;      // --replay FILE: recorded input instead of the real one
  std::string record;      // --record FILE: write the real input in that form
  bool help = false;       // --help

  std::string error;  // set when the command line is unusable
};

// What a program accepts beyond the common options.
struct CommandLineRules {
  bool contentArgument = false;  // a positional file name is the content (orvplay)
  bool dumpScene = false;        // --dump-scene FILE
  bool exportNotes = true;       // --export DIR (the memo board)
};

// Parses argv (argv[0] is the program). Returns false with out.error set on a
// bad option or value.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out, const CommandLineRules& rules = {});

// Applies the window-mode rule to the positional text alone.
void ApplyWindowText(const std::string& text, CommandLine& out);

// The --help text of kiwa-memo, and of orvplay.
std::string UsageText(const char* program);
std::string PlayerUsageText(const char* program);
