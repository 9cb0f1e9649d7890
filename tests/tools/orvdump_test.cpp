#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "content_builder.h"
#include "database_fakes.h"

using namespace content_test;

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun Orvdump(const std::string& args) {
  ToolRun r;
  std::string cmd = std::string(ORVDUMP_PATH) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Structural check: strings closed, brackets balanced and properly nested,
// no empty list items.
bool LooksLikeJson(const std::string& s) {
  std::string stack;
  bool inString = false;
  char lastToken = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (!inString && c != ' ' && c != '\n') {
      if (c == ',' && (lastToken == '{' || lastToken == '[' || lastToken == ',' || lastToken == ':')) return false;
      lastToken = c;
    }
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
      else if (static_cast<unsigned char>(c) < 0x20)
        return false;
      continue;
    }
    if (c == '"')
      inString = true;
    else if (c == '{' || c == '[')
      stack.push_back(c);
    else if (c == '}' || c == ']') {
      if (stack.empty() || stack.back() != (c == '}' ? '{' : '[')) return false;
      stack.pop_back();
    }
  }
  return !inString && stack.empty();
}

class OrvdumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DatabasePtr db = MakeDatabase();
    ASSERT_TRUE(BuildSample(*db));
    Bytes bytes = WriteDatabase(*db);
    ASSERT_FALSE(bytes.empty());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    full = bytes;
  }
  void TearDown() override { std::remove(path.c_str()); }
  std::string path = "orvdump_test_" + std::to_string(::getpid()) + ".orv";
  Bytes full;
};

TEST_F(OrvdumpTest, JsonListsEverySection) {
  ToolRun r = Orvdump("--json " + path);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(LooksLikeJson(r.out)) << r.out;
  for (const char* key : {"\"header\"", "\"textures\"", "\"shaders\"", "\"meshes\"", "\"clumps\"", "\"logicalObjects\"",
                          "\"animationSets\"", "\"scripts\"", "\"sounds\""})
    EXPECT_NE(r.out.find(key), std::string::npos) << key;
  // Unknown records are named as such, shared meshes say what they share.
  EXPECT_NE(r.out.find("\"Missing\""), std::string::npos);
  EXPECT_NE(r.out.find("\"sameAs\": 0"), std::string::npos);
  EXPECT_NE(r.out.find("\"name\": \"root\""), std::string::npos);
  EXPECT_NE(r.out.find("sounds\\\\boom.wav"), std::string::npos);
}

TEST_F(OrvdumpTest, TextShowsTheClumpTree) {
  ToolRun r = Orvdump(path);
  ASSERT_EQ(r.status, 0) << r.out;
  size_t root = r.out.find("\"root\"");
  size_t arm = r.out.find("\"arm1\"");
  ASSERT_NE(root, std::string::npos) << r.out;
  ASSERT_NE(arm, std::string::npos);
  EXPECT_LT(root, arm);
  // Children are indented one step deeper than their parent.
  size_t rootLine = r.out.rfind('\n', root) + 1;
  size_t armLine = r.out.rfind('\n', arm) + 1;
  EXPECT_EQ(r.out.find('[', armLine) - armLine, r.out.find('[', rootLine) - rootLine + 2);
}

// A 20,000-deep chain of children (a valid file the loader takes) and a mesh
// index far outside its section: printed without running out of stack, the
// index named in a warning.
TEST(Orvdump, DeepTreesPrintAndStrayIndicesAreWarned) {
  constexpr int kDepth = 20000;
  DatabasePtr db = MakeDatabase();
  std::vector<OvClumpRecord*> chain;
  for (int i = 0; i < kDepth; ++i) chain.push_back(db->AddClumpRecord("link"));
  for (int i = 0; i + 1 < kDepth; ++i) chain[i]->firstChild = i + 1;
  chain.back()->meshIndex = 0x7FFFFFF0;
  const Bytes bytes = WriteDatabase(*db);
  const std::string path = "orvdump_deep_" + std::to_string(::getpid()) + ".orv";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  struct Case {
    const char* options;
    std::string deepest;
  } cases[] = {{"", "(depth 20000) [19999]"}, {"--json ", "\"index\": 19999"}};
  for (const Case& c : cases) {
    ToolRun r = Orvdump(c.options + path);
    EXPECT_EQ(r.status, 0) << c.options;
    EXPECT_NE(r.out.find(c.deepest), std::string::npos) << c.options;
    EXPECT_NE(r.out.find("clump [19999]: mesh 2147483632 is outside the meshes (0)"), std::string::npos) << c.options;
  }
  std::remove(path.c_str());
}

TEST_F(OrvdumpTest, BadFilesFailWithTheReason) {
  ToolRun missing = Orvdump("/nonexistent/x.orv");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("Can not open file -- '/nonexistent/x.orv'"), std::string::npos) << missing.out;

  std::ofstream(path, std::ios::binary) << "NOTORVO-file";
  ToolRun wrong = Orvdump(path);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.out.find("is not a Orvo file"), std::string::npos) << wrong.out;

  // Cut in the middle: what loaded is printed, the status says it failed.
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(full.data()), std::streamsize(full.size() / 2));
  ToolRun cut = Orvdump("--json " + path);
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.out.find("did not load completely"), std::string::npos) << cut.out;

  EXPECT_EQ(Orvdump("").status, 2);
  EXPECT_EQ(Orvdump("--bogus " + path).status, 2);
  ToolRun help = Orvdump("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--json"), std::string::npos);
}

}  // namespace
