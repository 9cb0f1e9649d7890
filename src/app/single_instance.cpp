#include "single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr const char* kLockName = "kiwa-memo.lock";
constexpr const char* kSocketName = "kiwa-memo.sock";
constexpr const char* kRequest = "raise";
constexpr size_t kRequestSize = 5;

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

std::string Join(const std::string& folder, const char* name) {
  std::string p = folder;
  if (!p.empty() && p.back() != '/') p.push_back('/');
  return p + name;
}

// Long data folders do not fit a socket path; an abstract name derived from
// the lock path stands in for them.
bool MakeAddress(const std::string& path, sockaddr_un& addr, socklen_t& len) {
  std::memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  if (path.size() < sizeof(addr.sun_path)) {
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    len = socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
  }
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : path) h = (h ^ c) * 1099511628211ull;
  char name[64];
  int n = std::snprintf(name, sizeof(name), "kiwa-memo-%016llx", static_cast<unsigned long long>(h));
  addr.sun_path[0] = 0;
  std::memcpy(addr.sun_path + 1, name, size_t(n));
  len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(n));
  return true;
}

}  // namespace

SingleInstance::~SingleInstance() { Release(); }

SingleInstance::Result SingleInstance::Acquire(const std::string& dataFolder) {
  m_lockPath = Join(dataFolder, kLockName);
  m_socketPath = Join(dataFolder, kSocketName);
  // A link here would make the board create or lock a file elsewhere.
  int fd = ::open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  struct stat st {};
  if (fd < 0 && errno == ELOOP) {
    m_error = "the lock file '" + m_lockPath + "' is a symbolic link; remove it (the board never follows one there)";
    return Result::Failed;
  }
  if (fd < 0) {
    m_error = "cannot open the lock file '" + m_lockPath + "': " + std::strerror(errno);
    return Result::Failed;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    m_error = "the lock file '" + m_lockPath + "' is not a regular file; remove it";
    return Result::Failed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) return Result::AlreadyRunning;
    m_error = "cannot lock '" + m_lockPath + "': " + std::strerror(e);
    return Result::Failed;
  }
  m_lockFd = fd;

  // We own the lock, so any socket file left behind is stale.
  sockaddr_un addr;
  socklen_t len;
  MakeAddress(m_socketPath, addr, len);
  if (addr.sun_path[0] != 0) ::unlink(m_socketPath.c_str());
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(s, 4) == 0) {
    m_listenFd = s;
  } else if (s >= 0) {
    // Without the socket a second start cannot raise us; the lock still holds.
    ::close(s);
  }
  return Result::Acquired;
}

bool SingleInstance::SendRaise() {
  sockaddr_un addr;
  socklen_t len;
  MakeAddress(m_socketPath, addr, len);
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::write(s, "raise\n", 6) == 6;
  ::close(s);
  return ok;
}

bool SingleInstance::PollRaise() {
  if (m_listenFd < 0) return false;
  const uint64_t now = NowMs();
  for (;;) {
    const int c = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c < 0) break;
    // A flood of idle connections costs descriptors, not frames.
    if (m_pending.size() >= kMaxPending) {
      ::close(m_pending.front().fd);
      m_pending.erase(m_pending.begin());
    }
    m_pending.push_back({c, now + kRequestBudgetMs, {}});
  }
  bool raise = false;
  size_t kept = 0;
  for (Pending& p : m_pending) {
    bool done = false;
    char buf[16];
    const ssize_t n = ::read(p.fd, buf, sizeof(buf));
    if (n > 0) {
      p.bytes.append(buf, size_t(n));
      if (p.bytes.size() >= kRequestSize) {
        raise = raise || p.bytes.compare(0, kRequestSize, kRequest) == 0;
        done = true;
      }
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      done = true;  // closed before a whole request
    }
    if (!done && now >= p.deadlineMs) done = true;
    if (done)
      ::close(p.fd);
    else
      m_pending[kept++] = std::move(p);
  }
  m_pending.resize(kept);
  return raise;
}

void SingleInstance::Release() {
  for (Pending& p : m_pending) ::close(p.fd);
  m_pending.clear();
  if (m_listenFd >= 0) {
    ::close(m_listenFd);
    m_listenFd = -1;
    if (!m_socketPath.empty() && m_socketPath.size() < sizeof(sockaddr_un{}.sun_path)) ::unlink(m_socketPath.c_str());
  }
  if (m_lockFd >= 0) {
    ::close(m_lockFd);
    m_lockFd = -1;
  }
}
