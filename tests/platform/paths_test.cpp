#include <gtest/gtest.h>
#include <unistd.h>

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

TEST_F(PathsTest, GrowingTailsInOrderThenTheNameItself) {
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

  // Nothing under the folder: the name itself.
  fs::path elsewhere = root / "elsewhere.orv";
  Touch(elsewhere);
  ASSERT_TRUE(ResolveDataPath(out, elsewhere.c_str(), (root / "game").c_str()));
  EXPECT_EQ(out, elsewhere.string());
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

TEST_F(PathsTest, ProgramFolderHoldsTheTestBinary) {
  std::string folder = OvProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
