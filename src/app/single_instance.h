// One board per data folder: a lock file held for the life of the process and
// a Unix socket beside it through which a second start asks for a raise.
#pragma once

#include <string>

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

  // From the running instance: true once per received raise request.
  bool PollRaise();

  void Release();
  const std::string& error() const { return m_error; }

 private:
  std::string m_lockPath;
  std::string m_socketPath;
  int m_lockFd = -1;
  int m_listenFd = -1;
  std::string m_error;
};
