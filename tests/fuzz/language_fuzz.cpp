// Fuzz target: the language files. The input is split at its first newline
// (or after 8 bytes): the head becomes "language.cfg" in a scratch program
// folder, the rest the language content file the chosen code names; the
// whole input is also read as a locale name. Nothing may crash, and the
// language file is only ever loaded from beside the content.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "language.h"
#include "ov_database.h"
#include "ov_trace.h"

namespace fs = std::filesystem;

namespace {

fs::path g_scratch;

void RemoveScratch() {
  std::error_code ec;
  fs::remove_all(g_scratch, ec);
}

fs::path ScratchFolder() {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_scratch = fs::path(base) / ("language_fuzz_" + std::to_string(getpid()));
  fs::create_directories(g_scratch / "content");
  std::atexit(RemoveScratch);
  return g_scratch;
}

bool WriteFile(const fs::path& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (OvTraceSetQuiet(true), true);
  (void)quiet;
  static const fs::path folder = ScratchFolder();

  const std::string name(reinterpret_cast<const char*>(data), size);
  const uint32_t lcid = OvLcidFromLocaleName(name.c_str());
  if (OvLanguageCodeForLcid(lcid) == nullptr) __builtin_trap();

  size_t head = 0;
  while (head < size && head < 8 && data[head] != '\n') ++head;
  const size_t rest = head < size && data[head] == '\n' ? head + 1 : head;

  LanguageEnvironment env;
  env.programFolder = folder.string();
  env.userLcid = lcid;
  env.systemLcid = lcid;
  const std::string content = (folder / "content" / "stage.orv").string();
  if (!WriteFile(folder / "language.cfg", data, head)) return 0;
  std::string code;
  if (OvDatabase* none = SelectLanguage(content.c_str(), env, nullptr, &code)) none->Destroy();

  // The file the code names, when it names one inside the content folder.
  const std::string file = OvLanguageFileName(content, code);
  if (!file.empty() && code.find('/') == std::string::npos && code != "." && code != "..") {
    if (WriteFile(file, data + rest, size - rest)) {
      if (OvDatabase* localised = SelectLanguage(content.c_str(), env, nullptr)) localised->Destroy();
      std::remove(file.c_str());
    }
  }
  return 0;
}
