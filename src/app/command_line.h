// Command line of the memo board: "[WIDTH HEIGHT] [--options]".
#pragma once

#include <cstdint>
#include <string>

struct CommandLine {
  // Window mode from the positional text: none or one character means full
  // screen with a hidden cursor; otherwise "%d %d" gives a framed window.
  bool fullScreen = true;
  bool hideCursor = true;
  int32_t width = 0;
  int32_t height = 0;

  std::string content;   // --content FILE
  std::string dataDir;   // --data DIR
  std::string traceFile; // --trace FILE
  bool headless = false; // --headless
  int64_t frames = 0;    // --frames N; 0 runs until the user quits
  bool help = false;     // --help

  std::string error;     // set when the command line is unusable
};

// Parses argv (argv[0] is the program). Returns false with out.error set on a
// bad option or value.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out);

// Applies the window-mode rule to the positional text alone.
void ApplyWindowText(const std::string& text, CommandLine& out);

// The --help text.
std::string UsageText(const char* program);
