// The running board's raise socket never holds up a frame.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
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

}  // namespace
