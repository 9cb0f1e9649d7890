#include "file_dialog.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

// "*.*" means every file; the dialog helper spells that "*".
std::string Pattern(const char* p) { return std::strcmp(p, "*.*") == 0 ? std::string("*") : std::string(p); }

}  // namespace

bool OvChooseFile(char* buffer, size_t size, const char* title, const char* const* filter,
                  unsigned long* errorCode) {
  auto fail = [&](unsigned long code) {
    if (errorCode) *errorCode = code;
    return false;
  };
  if (buffer == nullptr || size == 0) return fail(kDialogBufferTooSmall);

  std::vector<std::string> args = {"zenity", "--file-selection", std::string("--title=") + (title ? title : "")};
  for (int i = 0; filter && filter[i] && filter[i + 1]; i += 2)
    args.push_back(std::string("--file-filter=") + filter[i] + " | " + Pattern(filter[i + 1]));

  int out[2];
  if (pipe(out) != 0) return fail(kDialogFailed);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, "zenity", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return fail(kDialogFailed);
  }
  std::string chosen;
  char chunk[512];
  ssize_t n;
  while ((n = read(out[0], chunk, sizeof(chunk))) > 0) chosen.append(chunk, size_t(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r')) chosen.pop_back();
  if (!WIFEXITED(status)) return fail(kDialogFailed);
  // The helper exits 1 on cancel and 127 when it could not start.
  if (WEXITSTATUS(status) == 1) return fail(kDialogCancelled);
  if (WEXITSTATUS(status) != 0 || chosen.empty()) return fail(kDialogFailed);
  if (chosen.size() >= size) return fail(kDialogBufferTooSmall);
  std::memcpy(buffer, chosen.c_str(), chosen.size() + 1);
  if (errorCode) *errorCode = 0;
  return true;
}
