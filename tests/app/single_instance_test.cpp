// The running board's raise socket never holds up a frame.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "single_instance.h"

namespace fs = std::filesystem;

namespace {

// A local program that connects and never writes.
int IdleConnection(const fs::path& socketPath) {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof(addr.sun_path) - 1);
  ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  return s;
}

TEST(SingleInstanceSocket, IdleConnectionsNeitherStallPollsNorHideARaise) {
  const fs::path d = fs::temp_directory_path() / ("ov_idle_" + std::to_string(::getpid()));
  fs::create_directories(d);
  SingleInstance board;
  ASSERT_EQ(board.Acquire(d.string()), SingleInstance::Result::Acquired);
  std::vector<int> idle;
  double slowestMs = 0;
  for (int round = 0; round < 8; ++round) {
    for (int i = 0; i < 4; ++i) idle.push_back(IdleConnection(d / "kiwa-memo.sock"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(board.PollRaise());
    slowestMs = std::max(slowestMs,
                         std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  EXPECT_LT(slowestMs, 50.0);

  SingleInstance second;
  ASSERT_EQ(second.Acquire(d.string()), SingleInstance::Result::AlreadyRunning);
  EXPECT_TRUE(second.SendRaise());
  EXPECT_TRUE(board.PollRaise());

  // Past their budget the idle ones are dropped.
  std::this_thread::sleep_for(std::chrono::milliseconds(SingleInstance::kRequestBudgetMs + 50));
  EXPECT_FALSE(board.PollRaise());
  EXPECT_EQ(board.PendingRequests(), 0u);
  for (int s : idle) ::close(s);
  board.Release();
  fs::remove_all(d);
}

// What a board that died without cleaning up leaves behind: the next board
// takes the lock, and a second start still reaches it.
TEST(SingleInstanceSocket, ABoardStartsAndIsRaisedOverWhatACrashLeft) {
  const fs::path d = fs::temp_directory_path() / ("ov_stale_" + std::to_string(::getpid()));
  for (const char* left : {"crashed board", "plain file"}) {
    fs::remove_all(d);
    fs::create_directories(d);
    if (std::string(left) == "plain file") {
      std::ofstream(d / "kiwa-memo.sock") << "x";
    } else {
      const pid_t child = ::fork();
      if (child == 0) {
        SingleInstance crashed;
        ::_exit(crashed.Acquire(d.string()) == SingleInstance::Result::Acquired ? 0 : 1);
      }
      int status = -1;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_EQ(status, 0);
      ASSERT_TRUE(fs::is_socket(d / "kiwa-memo.sock"));
    }
    SingleInstance board;
    ASSERT_EQ(board.Acquire(d.string()), SingleInstance::Result::Acquired) << left << ": " << board.error();
    SingleInstance second;
    ASSERT_EQ(second.Acquire(d.string()), SingleInstance::Result::AlreadyRunning) << left;
    EXPECT_TRUE(second.SendRaise()) << left;
    EXPECT_TRUE(board.PollRaise()) << left;
  }
  fs::remove_all(d);
}

// Requests that arrive together are read in one poll: a raise among
// malformed ones still raises, malformed ones alone do not.
TEST(SingleInstanceSocket, ARaiseAmongMalformedRequestsInOnePoll) {
  const fs::path d = fs::temp_directory_path() / ("ov_mixed_" + std::to_string(::getpid()));
  fs::create_directories(d);
  SingleInstance board;
  ASSERT_EQ(board.Acquire(d.string()), SingleInstance::Result::Acquired);
  const std::vector<std::vector<std::string>> cases = {
      {"raise\n", "lower\n"}, {"lower\n", "raise\n"}, {"raise\n", "\x01\xff"}, {"lower\n", "RAISE\n"}, {"rais"}};
  for (const auto& requests : cases) {
    std::vector<int> sent;
    bool wanted = false;
    for (const std::string& r : requests) {
      sent.push_back(IdleConnection(d / "kiwa-memo.sock"));
      ASSERT_EQ(::write(sent.back(), r.data(), r.size()), ssize_t(r.size()));
      if (r.size() < 5) ::shutdown(sent.back(), SHUT_WR);
      wanted = wanted || r == "raise\n";
    }
    EXPECT_EQ(board.PollRaise(), wanted) << requests[0];
    EXPECT_FALSE(board.PollRaise()) << requests[0];  // once per request
    EXPECT_EQ(board.PendingRequests(), 0u) << requests[0];
    for (int s : sent) ::close(s);
  }
  board.Release();
  fs::remove_all(d);
}

}  // namespace
