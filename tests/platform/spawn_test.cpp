// Starting programs named by content: where they are found, what they
// inherit, and that none is left unreaped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ov_spawn.h"

namespace fs = std::filesystem;

namespace {

class SpawnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("ov_spawn_" + std::to_string(::getpid()));
    fs::remove_all(root);
    // The same name in the current directory, on PATH and beside the content.
    Script(root / "cwd" / "probe", "cwd");
    Script(root / "path" / "probe", "path");
    Script(root / "content" / "probe", "content");
    Script(root / "content" / "bin" / "tool", "tool");
    oldCwd = fs::current_path();
    fs::current_path(root / "cwd");
    const char* path = std::getenv("PATH");
    oldPath = path ? path : "";
    setenv("PATH", ("::.:" + (root / "path").string() + ":" + oldPath).c_str(), 1);
    setenv("OV_SPAWN_OUT", (root / "out.txt").c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", oldPath.c_str(), 1);
    fs::current_path(oldCwd);
    fs::remove_all(root);
  }
  // Writes its tag, working directory and arguments to $OV_SPAWN_OUT.
  static void Script(const fs::path& p, const char* tag) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "#!/bin/sh\n{ echo \"" << tag << " $(pwd)\"; for a in \"$@\"; do echo \"[$a]\"; done; } "
                     << "> \"$OV_SPAWN_OUT\"\n";
    fs::permissions(p, fs::perms::owner_all);
  }
  std::string Output() const {
    std::stringstream text;
    text << std::ifstream(root / "out.txt").rdbuf();
    return text.str();
  }

  fs::path root, oldCwd;
  std::string oldPath;
};

TEST_F(SpawnTest, ProgramsAreFoundOnPathOrBesideTheContent) {
  const std::string content = (root / "content").string() + "/";
  struct Case {
    const char* file;
    const char* parameters;
    const char* directory;
    std::string expected;
  } cases[] = {
      // Never the current directory or a relative PATH entry, nor the
      // content's folder for a bare name.
      {"probe", nullptr, nullptr, "path " + (root / "cwd").string() + "\n"},
      // A name with a slash is under the content's folder; ";" stays an argument.
      {"bin/tool", "one \"two three\" ;rm", nullptr,
       "tool " + (root / "cwd").string() + "\n[one]\n[two three]\n[;rm]\n"},
      // A relative working directory is under the content's folder too.
      {"./probe", nullptr, "bin", "content " + (root / "content" / "bin").string() + "\n"},
  };
  for (const Case& c : cases) {
    fs::remove(root / "out.txt");
    OvProgramRequest request;
    request.file = c.file;
    request.parameters = c.parameters;
    request.directory = c.directory;
    request.baseFolder = content.c_str();
    const pid_t pid = OvStartProgram(request);
    ASSERT_GT(pid, 0) << c.file;
    int status = 0;
    ASSERT_TRUE(OvSpawnWait(pid, &status));
    EXPECT_EQ(Output(), c.expected) << c.file;
  }
  OvProgramRequest missing;
  missing.file = "ov-no-such-program";
  missing.baseFolder = content.c_str();
  EXPECT_EQ(OvStartProgram(missing), -1);
  EXPECT_EQ(OvSplitArguments("  a \"b c\"  d\\e \"\" \\\"q\\\" x\"y\"z "),
            (std::vector<std::string>{"a", "b c", "d\\e", "", "\"q\"", "xyz"}));
}

// Names with a slash, and the working directory, stay under the content's
// folder, however they are written.
TEST_F(SpawnTest, NamesLeavingTheContentFolderAreRefused) {
  const std::string content = (root / "content").string() + "/";
  fs::create_directory_symlink(root / "path", root / "content" / "out");
  const std::string absolute = (root / "path" / "probe").string();
  struct Case {
    const char* file;
    const char* directory;
  } cases[] = {
      {"../path/probe", nullptr},
      {"../../../../../../../../../../../bin/true", nullptr},
      {"bin/../../path/probe", nullptr},
      {"..\\path\\probe", nullptr},
      {absolute.c_str(), nullptr},
      {"out/probe", nullptr},  // a link inside that leads out
      {"file:///bin/true", nullptr},
      {"./probe", "../cwd"},
      {"./probe", "out"},
  };
  for (const Case& c : cases) {
    fs::remove(root / "out.txt");
    OvProgramRequest request;
    request.file = c.file;
    request.directory = c.directory;
    request.baseFolder = content.c_str();
    const pid_t pid = OvStartProgram(request);
    if (pid > 0) OvSpawnWait(pid, nullptr);
    EXPECT_EQ(pid, -1) << c.file << " in " << (c.directory ? c.directory : "-");
    EXPECT_FALSE(fs::exists(root / "out.txt")) << c.file;
  }
}

TEST(Spawn, ChildInheritsOnlyTheStandardDescriptors) {
  const int leaked = ::dup(STDERR_FILENO);  // no close-on-exec
  ASSERT_GE(leaked, 3);
  const std::string probe = "test ! -e /proc/self/fd/" + std::to_string(leaked);
  const pid_t pid = OvSpawn("/bin/sh", {"sh", "-c", probe});
  ::close(leaked);
  ASSERT_GT(pid, 0);
  int status = -1;
  ASSERT_TRUE(OvSpawnWait(pid, &status));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Spawn, EveryChildIsReaped) {
  for (int i = 0; i < 100; ++i) ASSERT_GT(OvSpawn("/bin/true", {"true"}), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (OvReapChildren() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child left, not even a zombie
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
