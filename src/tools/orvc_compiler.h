// The content compiler: runs a stage source (Lua 5.4, sandboxed) whose builder
// calls describe a content file, and builds the content database from them.
// The record types come from the registries: whoever runs the compiler
// registers the engine's node and extension types first.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class OvDatabase;

struct OrvcOptions {
  // The stage's main file. Files it names (includes, images, sounds, scripts)
  // are found relative to its folder and may not leave it.
  std::string source;
  // Source text to compile instead of reading `source` (which still names it
  // in messages and anchors relative file names).
  const std::string* text = nullptr;
  // Sandbox limits: Lua instructions, bytes of memory (Lua's own and what
  // the builders hold) and seconds of wall-clock time. Once a limit is
  // reached every further Lua instruction fails, so no pcall can go on.
  uint64_t maxInstructions = 4000000000ull;
  size_t maxMemory = size_t(1) << 30;
  double maxSeconds = 60;
  // Where the stage's print() goes; standard output when empty.
  std::function<void(const std::string&)> print;
};

class OrvcCompiler {
 public:
  explicit OrvcCompiler(OrvcOptions options);
  ~OrvcCompiler();
  OrvcCompiler(const OrvcCompiler&) = delete;
  OrvcCompiler& operator=(const OrvcCompiler&) = delete;

  // Runs the source and lays out the records. False with Error() set to
  // "file:line: message".
  bool Compile();
  const std::string& Error() const;

  // The database built by Compile (null before, or after a failure when it
  // could not be made).
  OvDatabase* Database();

  // Every file the stage read, the source first, without repeats.
  const std::vector<std::string>& Dependencies() const;

  // Writes the content file through a temporary file in the same folder, so
  // a failure never leaves a half-written file under `path`.
  bool Save(const std::string& path);
  // The content file as bytes.
  bool Image(std::vector<uint8_t>& out);
  // A make-style dependency file: "target: source files...".
  bool WriteDepfile(const std::string& path, const std::string& target);

  struct Impl;  // the builders reach it through the Lua state

 private:
  std::unique_ptr<Impl> m;
};
