// One board per data folder: a lock file held for the life of the process and
// a Unix socket beside it through which a second start asks for a raise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SingleInstance {
 public:
  enum class Result { Acquired, AlreadyRunning, Failed };

  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the lock in dataFolder. AlreadyRunning means another process holds
  // it; Failed means the folder cannot hold a lock (error() says why).
  Result Acquire(const std::string& dataFolder);

  // From a second instance: asks the running one to raise its window.
  bool SendRaise();

  // From the running instance: true once per received raise request. Never
  // waits: connections are read as their bytes arrive, and one that has not
  // sent a whole request within its budget is dropped.
  bool PollRaise();
  // Connections accepted and still waiting for their request.
  size_t PendingRequests() const { return m_pending.size(); }

  static constexpr uint32_t kRequestBudgetMs = 200;
  static constexpr size_t kMaxPending = 16;

  void Release();
  const std::string& error() const { return m_error; }

 private:
  std::string m_lockPath;
  std::string m_socketPath;
  int m_lockFd = -1;
  int m_listenFd = -1;
  struct Pending {
    int fd;
    uint64_t deadlineMs;
    std::string bytes;
  };
  std::vector<Pending> m_pending;
  std::string m_error;
};
