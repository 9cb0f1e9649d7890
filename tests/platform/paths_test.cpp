#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <string>

#include "ov_paths.h"

namespace fs = std::filesystem;

namespace {

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("ov_paths_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "game" / "stages");
  }
  void TearDown() override { fs::remove_all(root); }
  void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  std::string Folder() const { return (root / "game" / "stages").string() + "/"; }
  fs::path root;
};

TEST_F(PathsTest, FolderOf) {
  std::string out;
  FolderOf(out, "stage.orv");
  EXPECT_EQ(out, "./");
  FolderOf(out, "/a/b/stage.orv");
  EXPECT_EQ(out, "/a/b/");
  FolderOf(out, "C:\\game\\x.orv");
  EXPECT_EQ(out, "C:\\game\\");
  FolderOf(out, "dir/");
  EXPECT_EQ(out, "dir/");
}

TEST_F(PathsTest, OverlapOfFolderAndName) {
  Touch(root / "game" / "stages" / "b.orv");
  std::string out;
  ASSERT_TRUE(ResolveDataPath(out, "stages/b.orv", Folder().c_str()));
  EXPECT_EQ(out, (root / "game" / "stages" / "b.orv").string());
  // Case-insensitive part match and backslashes from content.
  ASSERT_TRUE(ResolveDataPath(out, "STAGES\\b.orv", Folder().c_str()));
  EXPECT_EQ(out, (root / "game" / "stages" / "b.orv").string());
}

TEST_F(PathsTest, GrowingTailsInOrder) {
  std::string out;
  // Only the longest tail exists: found on the last folder try.
  Touch(root / "game" / "stages" / "x" / "y" / "b.orv");
  ASSERT_TRUE(ResolveDataPath(out, "x/y/b.orv", Folder().c_str()));
  EXPECT_EQ(out, (root / "game" / "stages" / "x" / "y" / "b.orv").string());
  // A shorter tail wins over a longer one.
  Touch(root / "game" / "stages" / "y" / "b.orv");
  ASSERT_TRUE(ResolveDataPath(out, "x/y/b.orv", Folder().c_str()));
  EXPECT_EQ(out, (root / "game" / "stages" / "y" / "b.orv").string());
  Touch(root / "game" / "stages" / "b.orv");
  ASSERT_TRUE(ResolveDataPath(out, "x/y/b.orv", Folder().c_str()));
  EXPECT_EQ(out, (root / "game" / "stages" / "b.orv").string());

  // Folder without a trailing separator.
  ASSERT_TRUE(ResolveDataPath(out, "b.orv", (root / "game" / "stages").c_str()));
  EXPECT_EQ(out, (root / "game" / "stages" / "b.orv").string());
}

TEST_F(PathsTest, FailuresLeaveNothing) {
  std::string out = "stale";
  EXPECT_FALSE(ResolveDataPath(out, "", Folder().c_str()));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(ResolveDataPath(out, "missing.orv", Folder().c_str()));
  EXPECT_FALSE(ResolveDataPath(out, "missing.orv", ""));
  EXPECT_FALSE(ResolveDataPath(out, "////", Folder().c_str()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(nullptr));
  EXPECT_FALSE(FileExists((root / "nope").c_str()));
}

TEST_F(PathsTest, NamesStayInsideTheContentFolder) {
  // Files that exist, but outside the folder or only under the working one.
  Touch(root / "game" / "outside.orv");
  Touch(root / "game" / "stages" / "sub" / "in.orv");
  const fs::path cwd = fs::current_path();
  fs::current_path(root / "game");
  const std::string absolute = (root / "game" / "stages" / "sub" / "in.orv").string();
  struct Case {
    std::string name;
    bool allowed;
  } cases[] = {
      {absolute, false},
      {"\\server\\x.orv", false},
      {"C:\\x.orv", false},
      {"../outside.orv", false},
      {"sub/../../outside.orv", false},
      {"sub\\..\\..\\outside.orv", false},
      {"outside.orv", true},
      {"sub/in.orv", true},
      {"..x/in.orv", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OvContentNameAllowed(c.name.c_str()), c.allowed) << c.name;
    std::string out = "stale";
    // Only the name that stays inside and exists there is found.
    EXPECT_EQ(ResolveDataPath(out, c.name.c_str(), Folder().c_str()), c.name == "sub/in.orv") << c.name;
  }
  fs::current_path(cwd);
}

TEST_F(PathsTest, OnlyRegularFilesOpenAndNothingWaits) {
  const fs::path fifo = root / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Touch(root / "file");
  struct Case {
    std::string path;
    int error;
  } cases[] = {{(root / "file").string(), 0},
               {fifo.string(), EINVAL},
               {"/dev/zero", EINVAL},
               {root.string(), EISDIR},
               {(root / "nope").string(), ENOENT}};
  for (const Case& c : cases) {
    int error = -1;
    const int fd = OvOpenRegularFile(c.path.c_str(), &error);
    EXPECT_EQ(error, c.error) << c.path;
    EXPECT_EQ(fd >= 0, c.error == 0) << c.path;
    EXPECT_EQ(FileExists(c.path.c_str()), c.error == 0) << c.path;
    if (fd >= 0) ::close(fd);
  }
}

TEST_F(PathsTest, ProgramFolderHoldsTheTestBinary) {
  std::string folder = OvProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
