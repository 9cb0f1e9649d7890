#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "language.h"
#include "ov_database.h"
#include "trace_capture.h"

namespace fs = std::filesystem;

namespace {

TEST(Language, CodesFromLocaleIdentifiers) {
  EXPECT_STREQ(OvLanguageCodeForLcid(0x0404), "zh-TW");  // Taiwan
  EXPECT_STREQ(OvLanguageCodeForLcid(0x0804), "zh-CN");  // PRC
  EXPECT_STREQ(OvLanguageCodeForLcid(0x0C04), "zh-TW");  // Hong Kong
  EXPECT_STREQ(OvLanguageCodeForLcid(0x1404), "zh-CN");  // Macau
  EXPECT_STREQ(OvLanguageCodeForLcid(0x0411), "ja");
  EXPECT_STREQ(OvLanguageCodeForLcid(0x0439), "hi");
  EXPECT_STREQ(OvLanguageCodeForLcid(0x0413), "en");  // Dutch has no content of its own

  EXPECT_EQ(OvLcidFromLocaleName("ja_JP.UTF-8"), 0x411u);
  EXPECT_EQ(OvLcidFromLocaleName("zh_TW"), 0x404u);
  EXPECT_EQ(OvLcidFromLocaleName("zh_HK.UTF-8"), 0xC04u);
  EXPECT_EQ(OvLcidFromLocaleName("fr_LU.UTF-8"), 0x40Cu);  // unknown country, known language
  EXPECT_EQ(OvLcidFromLocaleName("C.UTF-8"), 0x409u);
  EXPECT_EQ(OvLcidFromLocaleName(""), 0x409u);
  EXPECT_EQ(OvLcidFromLocaleName(nullptr), 0x409u);

  EXPECT_EQ(OvLanguageFileName("C:/app/stage.orv", "ja"), "C:/app/stage_ja.orv");
  EXPECT_EQ(OvLanguageFileName("a.b", "ja"), "");
}

class SelectLanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("ov_lang_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    env.programFolder = dir.string();
    content = (dir / "stage.orv").string();
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Read(const char* name) {
    std::ifstream in(dir / name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // A language file holding a clump record named `entry`.
  void WriteLanguageFile(const char* code, const char* entry) {
    OvDatabase* db = OvDatabase::Create();
    db->AddClumpRecord(entry);
    ASSERT_TRUE(db->Save((dir / (std::string("stage_") + code + ".orv")).c_str()));
    db->Destroy();
  }
  fs::path dir;
  LanguageEnvironment env;
  std::string content;
};

TEST_F(SelectLanguageTest, LocaleRecordAndLcidFallback) {
  env.userLcid = 0x411;
  env.systemLcid = 0x409;
  std::string code;
  EXPECT_EQ(SelectLanguage(content.c_str(), env, nullptr, &code), nullptr);  // no language file
  EXPECT_EQ(code, "ja");
  EXPECT_EQ(Read("locale.txt"), "411, 409\n");

  std::ofstream(dir / "language.cfg") << "\n";  // an empty line falls back too
  SelectLanguage(content.c_str(), env, nullptr, &code);
  EXPECT_EQ(code, "ja");
}

TEST_F(SelectLanguageTest, ConfigurationWinsAndIsCutToEightCharacters) {
  env.userLcid = 0x404;
  std::ofstream(dir / "language.cfg") << "fr\nignored\n";
  WriteLanguageFile("fr", "fr");
  std::string code;
  TraceCapture trace;
  OvDatabase* db = SelectLanguage(content.c_str(), env, nullptr, &code);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(code, "fr");
  EXPECT_FALSE(trace.Contains("may be not matched"));
  db->Destroy();

  std::ofstream(dir / "language.cfg", std::ios::trunc) << "abcdefghijkl\n";
  SelectLanguage(content.c_str(), env, nullptr, &code);
  EXPECT_EQ(code, "abcdefgh");
}

TEST_F(SelectLanguageTest, CodeThatWouldLeaveTheFolderIsRefused) {
  env.userLcid = 0x407;
  // "stage_/../x.orv" would name a file beside the content's folder.
  fs::create_directories(dir / "stage_");
  WriteLanguageFile("de", "de");
  for (const char* line : {"/../x\n", "..\n", "a b\n", "fr/\n"}) {
    std::ofstream(dir / "language.cfg", std::ios::trunc) << line;
    TraceCapture trace;
    std::string code;
    OvDatabase* db = SelectLanguage(content.c_str(), env, nullptr, &code);
    EXPECT_EQ(code, "de") << line;
    EXPECT_TRUE(trace.Contains("using the system language")) << line;
    if (db) db->Destroy();
  }
}

TEST_F(SelectLanguageTest, MismatchedLanguageFileIsKeptWithAWarning) {
  env.userLcid = 0x0C04;  // Hong Kong reads the Taiwan file
  WriteLanguageFile("zh-TW", "something-else");
  TraceCapture trace;
  OvDatabase* db = SelectLanguage(content.c_str(), env, nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(trace.Contains("The language file and content may be not matched! -- zh-TW\n"));
  EXPECT_NE(Read("locale.txt").find("may be not matched! -- zh-TW"), std::string::npos);
  db->Destroy();
}

TEST_F(SelectLanguageTest, UnwritableRecordDoesNotStopSelection) {
  env.programFolder = (dir / "missing" / "folder").string();
  WriteLanguageFile("en", "en");
  env.userLcid = 0x409;
  OvDatabase* db = SelectLanguage(content.c_str(), env, nullptr);
  ASSERT_NE(db, nullptr);
  db->Destroy();
}

}  // namespace
