#include "ov_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

#include "ov_trace.h"

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

struct Part {
  size_t begin, end;  // [begin, end) inside the source text
};

// Non-empty parts between separators.
template <class IsSepFn>
std::vector<Part> SplitParts(std::string_view s, IsSepFn isSep) {
  std::vector<Part> parts;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && isSep(s[i])) ++i;
    size_t b = i;
    while (i < s.size() && !isSep(s[i])) ++i;
    if (i > b) parts.push_back({b, i});
  }
  return parts;
}

bool IsBackslash(char c) { return c == '\\'; }

// Content names may use "\\"; on disk "/" is the separator.
std::string OnDisk(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c == '\\') c = '/';
  return r;
}

// The lookup shared by both name conventions; the folder is always a disk
// path, where both characters separate. Names stay inside the folder.
template <class IsNameSepFn>
bool Resolve(std::string& out, const char* nameText, const char* folderText, IsNameSepFn isNameSep) {
  out.clear();
  std::string_view name = nameText ? nameText : "";
  std::string_view folder = folderText ? folderText : "";
  if (name.empty()) return false;
  if (!OvContentNameAllowed(nameText)) {
    _TraceFormat("!!! '%s': a name in content may not be absolute or leave its folder.\n", nameText);
    return false;
  }

  if (!folder.empty()) {
    std::vector<Part> folderParts = SplitParts(folder, IsSep);
    std::vector<Part> nameParts = SplitParts(name, isNameSep);

    // The folder's last part appearing in the name: the name repeats the
    // tail of the folder ("stages/" + "stages/b.orv").
    if (!folderParts.empty()) {
      const Part& last = folderParts.back();
      std::string_view lastText = folder.substr(last.begin, last.end - last.begin);
      for (const Part& np : nameParts) {
        if (EqualNoCase(name.substr(np.begin, np.end - np.begin), lastText)) {
          std::string candidate(folder.substr(0, last.begin));
          candidate.append(OnDisk(name.substr(np.begin)));
          if (FileExists(candidate.c_str())) {
            out = candidate;
            return true;
          }
          break;
        }
      }
    }

    // Growing tails of the name under the folder.
    std::string base(folder);
    if (!IsSep(base.back())) base.push_back('/');
    for (size_t k = nameParts.size(); k > 0; --k) {
      std::string candidate = base;
      candidate.append(OnDisk(name.substr(nameParts[k - 1].begin)));
      if (FileExists(candidate.c_str())) {
        out = candidate;
        return true;
      }
    }
  }

  return false;
}

}  // namespace

bool OvContentNameAllowed(const char* name) {
  std::string_view n = name ? name : "";
  if (n.empty() || IsSep(n[0])) return false;
  // A drive letter is absolute too.
  if (n.size() >= 2 && n[1] == ':' && ((n[0] >= 'A' && n[0] <= 'Z') || (n[0] >= 'a' && n[0] <= 'z'))) return false;
  for (const Part& p : SplitParts(n, IsSep)) {
    if (n.substr(p.begin, p.end - p.begin) == "..") return false;
  }
  return true;
}

int OvOpenRegularFile(const char* path, int* error) {
  int e = EINVAL;
  int fd = -1;
  if (path != nullptr && *path != 0) {
    // Non-blocking: opening a FIFO for reading would wait for a writer.
    fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    e = errno;
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      ::close(fd);
      fd = -1;
    }
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  if (error != nullptr) *error = fd >= 0 ? 0 : e;
  return fd;
}

bool FileExists(const char* path) {
  const int fd = OvOpenRegularFile(path, nullptr);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void FolderOf(std::string& out, const char* path) {
  std::string_view p = path ? path : "";
  size_t cut = std::string_view::npos;
  for (size_t i = p.size(); i > 0; --i) {
    if (IsSep(p[i - 1])) {
      cut = i;
      break;
    }
  }
  if (cut == std::string_view::npos)
    out = "./";
  else
    out.assign(p.substr(0, cut));
}

bool ResolveDataPath(std::string& out, const char* name, const char* folder) {
  return Resolve(out, name, folder, IsSep);
}

bool ResolveDataPathBackslash(std::string& out, const char* name, const char* folder) {
  return Resolve(out, name, folder, IsBackslash);
}

std::string OvProgramFolder() {
  // The link is as long as the path: grow until it fits.
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return ".";
    if (size_t(n) < path.size()) {
      path.resize(size_t(n));
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  if (cut == 0) return "/";
  return path.substr(0, cut);
}
