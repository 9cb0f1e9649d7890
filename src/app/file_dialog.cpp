#include "file_dialog.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "ov_spawn.h"

namespace {

// "*.*" means every file; the dialog helper spells that "*".
std::string Pattern(const char* p) { return std::strcmp(p, "*.*") == 0 ? std::string("*") : std::string(p); }

}  // namespace

bool OvChooseFile(std::string& result, const char* title, const char* const* filter, unsigned long* errorCode) {
  auto fail = [&](unsigned long code) {
    if (errorCode) *errorCode = code;
    return false;
  };
  std::vector<std::string> args = {"zenity", "--file-selection", std::string("--title=") + (title ? title : "")};
  for (int i = 0; filter && filter[i] && filter[i + 1]; i += 2)
    args.push_back(std::string("--file-filter=") + filter[i] + " | " + Pattern(filter[i + 1]));

  const std::string helper = OvFindOnPath("zenity");
  if (helper.empty()) return fail(kDialogFailed);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return fail(kDialogFailed);
  OvSpawnOptions options;
  options.stdoutFd = out[1];
  const pid_t pid = OvSpawn(helper, args, options);
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return fail(kDialogFailed);
  }
  std::string chosen;
  char chunk[512];
  ssize_t n;
  while ((n = read(out[0], chunk, sizeof(chunk))) > 0) chosen.append(chunk, size_t(n));
  close(out[0]);
  int status = 0;
  if (!OvSpawnWait(pid, &status)) return fail(kDialogFailed);
  while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r')) chosen.pop_back();
  if (!WIFEXITED(status)) return fail(kDialogFailed);
  // The helper exits 1 on cancel and 127 when it could not start.
  if (WEXITSTATUS(status) == 1) return fail(kDialogCancelled);
  if (WEXITSTATUS(status) != 0 || chosen.empty()) return fail(kDialogFailed);
  result = chosen;
  if (errorCode) *errorCode = 0;
  return true;
}
