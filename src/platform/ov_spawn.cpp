#include "ov_spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ov_paths.h"
#include "ov_trace.h"

extern char** environ;

namespace {

// Children started and not yet seen to end; grows as needed so none is left
// a zombie.
std::vector<pid_t>& Children() {
  static std::vector<pid_t> children;
  return children;
}

void Forget(pid_t pid) {
  auto& c = Children();
  c.erase(std::remove(c.begin(), c.end(), pid), c.end());
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string Joined(const char* folder, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  std::string out = folder && *folder ? folder : "./";
  if (out.back() != '/') out.push_back('/');
  return out + name;
}

// Content names may use "\\"; on disk "/" is the separator.
std::string OnDisk(const char* name) {
  std::string out = name;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// A name from content stays under its folder: relative, no ".." part, and,
// where it exists, no link inside the folder leads out of it.
bool InsideFolder(const char* folder, const std::string& name) {
  if (!OvContentNameAllowed(name.c_str())) return false;
  char* real = realpath(Joined(folder, name).c_str(), nullptr);
  if (real == nullptr) return true;  // nothing there to lead anywhere
  char* base = realpath(folder && *folder ? folder : ".", nullptr);
  std::string prefix = base != nullptr ? base : "";
  if (prefix.empty() || prefix.back() != '/') prefix.push_back('/');
  // The folder itself ("." as a working directory) counts as inside.
  const bool inside =
      base != nullptr && (std::strncmp(real, prefix.c_str(), prefix.size()) == 0 || std::strcmp(real, base) == 0);
  std::free(real);
  std::free(base);
  return inside;
}

// "scheme://...": an address for the desktop's opener. "file://" names a
// file and is held to the folder rule like any other name.
bool IsAddress(const std::string& name) {
  const size_t colon = name.find("://");
  if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  for (size_t i = 0; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return strncasecmp(name.c_str(), "file://", 7) != 0;
}

pid_t OpenDocument(const std::string& target, const char* directory) {
  const std::string opener = OvFindOnPath("xdg-open");
  if (opener.empty()) return -1;
  // A leading dash would read as an option.
  const std::string arg = !target.empty() && target[0] == '-' ? "./" + target : target;
  OvSpawnOptions options;
  options.directory = directory;
  return OvSpawn(opener, {"xdg-open", arg}, options);
}

}  // namespace

std::string OvFindOnPath(const char* name) {
  if (name == nullptr || *name == 0 || std::strchr(name, '/') != nullptr) return {};
  const char* env = std::getenv("PATH");
  const std::string path = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find(':', begin);
    if (end == std::string::npos) end = path.size();
    const std::string entry = path.substr(begin, end - begin);
    // Empty and relative entries would mean the current directory.
    if (!entry.empty() && entry[0] == '/') {
      std::string candidate = entry;
      if (candidate.back() != '/') candidate.push_back('/');
      candidate += name;
      if (IsExecutableFile(candidate)) return candidate;
    }
    begin = end + 1;
  }
  return {};
}

pid_t OvSpawn(const std::string& path, const std::vector<std::string>& args, const OvSpawnOptions& options) {
  OvReapChildren();
  if (path.empty() || args.empty()) return -1;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  bool ok = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0;
  if (ok && options.stdoutFd >= 0)
    ok = posix_spawn_file_actions_adddup2(&actions, options.stdoutFd, STDOUT_FILENO) == 0;
  // Lock file, instance socket, pipes, content files: none is the child's.
  if (ok) ok = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0;
  if (ok && options.directory != nullptr) ok = posix_spawn_file_actions_addchdir_np(&actions, options.directory) == 0;

  // The child starts with no blocked signals and the default SIGPIPE and
  // SIGXFSZ (the board ignores both; an ignored signal outlives exec).
  posix_spawnattr_t attr;
  bool haveAttr = ok && posix_spawnattr_init(&attr) == 0;
  if (haveAttr) {
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    ok = posix_spawnattr_setsigmask(&attr, &none) == 0 && posix_spawnattr_setsigdefault(&attr, &defaults) == 0 &&
         posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
  }
  pid_t pid = -1;
  const int rc = ok ? posix_spawn(&pid, path.c_str(), &actions, haveAttr ? &attr : nullptr, argv.data(), environ) : -1;
  if (haveAttr) posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  Children().push_back(pid);
  return pid;
}

bool OvSpawnWait(pid_t pid, int* status) {
  auto& c = Children();
  if (std::find(c.begin(), c.end(), pid) == c.end()) return false;
  int st = 0;
  pid_t r;
  do {
    r = waitpid(pid, &st, 0);
  } while (r < 0 && errno == EINTR);
  Forget(pid);
  if (r != pid) return false;
  if (status != nullptr) *status = st;
  return true;
}

size_t OvReapChildren() {
  auto& c = Children();
  size_t kept = 0;
  for (pid_t pid : c) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == 0) c[kept++] = pid;  // still running; anything else is gone
  }
  c.resize(kept);
  return kept;
}

std::vector<std::string> OvSplitArguments(const char* text) {
  std::vector<std::string> out;
  if (!text) return out;
  std::string current;
  bool inArg = false, quoted = false;
  for (const char* p = text; *p; ++p) {
    const char c = *p;
    if (c == '\\' && p[1] == '"') {
      current += '"';
      inArg = true;
      ++p;
    } else if (c == '"') {
      quoted = !quoted;
      inArg = true;  // "" is an empty argument
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (inArg) out.push_back(current);
      current.clear();
      inArg = false;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg) out.push_back(current);
  return out;
}

pid_t OvStartProgram(const OvProgramRequest& request) {
  if (!request.file || !*request.file) return -1;
  const std::string file = OnDisk(request.file);
  std::string directoryText;
  const char* directory = nullptr;
  if (request.directory && *request.directory) {
    const std::string name = OnDisk(request.directory);
    if (!InsideFolder(request.baseFolder, name)) {
      _TraceFormat("!!! Working directory '%s' refused: it must stay inside the content's folder.\n",
                   request.directory);
      return -1;
    }
    directoryText = Joined(request.baseFolder, name);
    directory = directoryText.c_str();
  }
  auto arguments = [&] {
    std::vector<std::string> args = OvSplitArguments(request.parameters);
    args.insert(args.begin(), file);
    return args;
  };
  OvSpawnOptions options;
  options.directory = directory;

  if (file.find('/') == std::string::npos) {
    const std::string program = OvFindOnPath(file.c_str());
    if (!program.empty()) return OvSpawn(program, arguments(), options);
    // No program of that name: a document beside the content (never run),
    // or an address.
    const std::string local = Joined(request.baseFolder, file);
    struct stat st {};
    if (stat(local.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(local.c_str(), X_OK) != 0)
      return OpenDocument(local, directory);
    return file.find(':') != std::string::npos ? OpenDocument(file, directory) : -1;
  }

  // Addresses ("https://...") are no file names; every other name with a
  // slash must stay inside the content's folder.
  const bool address = IsAddress(file);
  if (!address && !InsideFolder(request.baseFolder, file)) {
    _TraceFormat("!!! '%s' refused: a program or document named with a slash must stay inside the content's folder.\n",
                 request.file);
    return -1;
  }
  const std::string path = Joined(request.baseFolder, file);
  struct stat st {};
  if (!address && stat(path.c_str(), &st) == 0) {
    if (IsExecutableFile(path)) return OvSpawn(path, arguments(), options);
    return OpenDocument(path, directory);
  }
  // A missing path: only addresses are worth handing on.
  return address ? OpenDocument(file, directory) : -1;
}
