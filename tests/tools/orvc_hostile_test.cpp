// Hostile stage sources: the sandbox's limits hold whatever the stage does,
// files resolve inside the stage's folder, and every refusal names the file,
// the line and the item.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "orvc_test_util.h"

using namespace orvc_test;
namespace fs = std::filesystem;

namespace {

struct Case {
  const char* source;
  const char* error;  // empty: the stage compiles
};

Compiled CompileWith(const std::string& text, const std::string& folder, uint64_t maxInstructions, size_t maxMemory,
                     double maxSeconds) {
  RegisterEngineTypes();
  OrvcOptions options;
  options.source = (fs::path(folder) / "stage.lua").string();
  options.text = &text;
  options.maxInstructions = maxInstructions;
  options.maxMemory = maxMemory;
  options.maxSeconds = maxSeconds;
  options.print = [](const std::string&) {};
  OrvcCompiler compiler(options);
  Compiled out;
  out.ok = compiler.Compile() && compiler.Image(out.image);
  out.error = compiler.Error();
  return out;
}

void Expect(const Case& c, const Compiled& got) {
  if (*c.error == '\0') {
    EXPECT_TRUE(got.ok) << c.source << "\n" << got.error;
  } else {
    EXPECT_FALSE(got.ok) << c.source;
    EXPECT_NE(got.error.find(c.error), std::string::npos) << c.source << "\n" << got.error;
  }
}

TEST(OrvcHostile, ALimitOnceReachedCannotBeCaught) {
  struct Limited {
    Case c;
    uint64_t instructions;
    double seconds;
  };
  const Limited cases[] = {
      {{"pcall(function() while true do end end)", "stage.lua:1: the stage ran more than 1000000 Lua instructions"},
       1000000,
       60},
      {{"while true do pcall(function() while true do end end) end", "more than 1000000 Lua instructions"},
       1000000,
       60},
      {{"while true do pcall(function() while true do end end) end",
        "stage.lua:1: the stage ran longer than 0.2 seconds"},
       4000000000ull,
       0.2},
  };
  for (const Limited& l : cases) Expect(l.c, CompileWith(l.c.source, ".", l.instructions, size_t(1) << 30, l.seconds));
}

TEST(OrvcHostile, BuildersMemoryCountsAgainstTheLimit) {
  const Case cases[] = {
      {"texture{ width = 1024, height = 1024, solid = 0 }", ""},
      {"box{}\ntexture{ width = 4096, height = 4096, solid = 0 }",
       "stage.lua:2: texture: the stage would use more than 32 MB of memory"},
      {"for i = 1, 12 do texture{ width = 1024, height = 1024, solid = 0 } end", "stage.lua:1: texture: the stage"},
      {"sphere{ segments = 1024, rings = 1024 }", "sphere: the stage would use more than 32 MB"},
  };
  for (const Case& c : cases) Expect(c, CompileWith(c.source, ".", 4000000000ull, size_t(32) << 20, 60));
}

TEST(OrvcHostile, NoBytecodeGoesInOrComesOut) {
  TempDir dir;
  dir.Write("door.out", std::string("\x1bLuaT"));
  const Case cases[] = {
      {"string.dump(function() end)", "attempt to call a nil value (field 'dump')"},
      {"('').dump(print)", "attempt to call a nil value"},
      {"script{ file = 'door.out' }", "script 'door.out': a precompiled chunk"},
  };
  for (const Case& c : cases) Expect(c, CompileWith(c.source, dir.Path(), 4000000000ull, size_t(1) << 30, 60));
}

TEST(OrvcHostile, FilesResolveInsideTheStageFolder) {
  TempDir dir;
  const fs::path root(dir.Path());
  dir.Write("outside/secret.lua", std::string("return 1"));
  dir.Write("stage/lib/real.lua", std::string("return 2"));
  fs::create_directory_symlink("/", root / "stage/root");
  fs::create_directory_symlink("..", root / "stage/up");
  fs::create_symlink("../outside/secret.lua", root / "stage/secret.lua");
  fs::create_symlink("lib/real.lua", root / "stage/inner.lua");
  fs::create_directory_symlink("stage", root / "via_link");
  ASSERT_EQ(mkfifo((root / "stage/fifo").c_str(), 0600), 0);
  const Case cases[] = {
      {"texture{ file = 'root/etc/passwd' }",
       "stage.lua:1: texture: 'root/etc/passwd': it leads outside the stage's folder"},
      {"include('up/outside/secret.lua')", "include: 'up/outside/secret.lua': it leads outside"},
      {"include('secret.lua')", "include: 'secret.lua': it leads outside"},
      {"script{ file = 'secret.lua' }", "script: 'secret.lua': it leads outside"},
      {"sound{ file = 'secret.lua' }", "sound 'secret.lua': 'secret.lua': it leads outside"},
      {"include('fifo')", "include: 'fifo': not a regular file"},
      {"include('lib')", "include: 'lib': not a regular file"},
      {"assert(include('inner.lua') == 2)", ""},
  };
  for (const char* folder : {"stage", "via_link"}) {
    for (const Case& c : cases)
      Expect(c, CompileWith(c.source, (root / folder).string(), 4000000000ull, size_t(1) << 30, 60));
  }
}

TEST(OrvcHostile, BadValuesAndNestedBuildersAreRefused) {
  const Case cases[] = {
      {"clump{ name = 'a\\0b' }", "stage.lua:1: clump: field 'name': the text holds a NUL byte"},
      {"node{ 'Change Scene', ['Orvo File'] = 'x\\0y' }", "'Orvo File': the text holds a NUL byte"},
      {"clump{ name = string.rep('a', 65535) }", ""},
      {"clump{ name = string.rep('a', 65536) }",
       "clump: field 'name': a text of 65536 bytes; texts hold at most 65535"},
      {"node{ 'Change Scene', ['Orvo File'] = string.rep('a', 100000) }",
       "stage.lua:1: node 'Change Scene': 'Orvo File': a text of 100000 bytes"},
      {"rounded_box{ size = { 2, 4, 6 }, radius = 1 }", ""},
      {"rounded_box{ size = { 2, 4, 6 }, radius = 1.01 }",
       "radius': a radius of 1.01 is more than half the smallest side (1)"},
      {"box(setmetatable({}, { __index = function(t, k) if k == 'name' then texture{ width = 1, height = 1, solid = 0 "
       "} end end }))",
       "stage.lua:1: texture: called while box{} was reading its fields"},
      {"texture{ width = 1, height = 1, pixels = function() clump{} return 0 end }", "clump: called while texture{}"},
      {"texture{ width = 1, height = 1, pixels = function() return rgb(1, 0, 0) end }", ""},
  };
  for (const Case& c : cases) Expect(c, CompileWith(c.source, ".", 4000000000ull, size_t(1) << 30, 60));
}

TEST(OrvcHostile, WriteFailuresNameTheFileAndTheReason) {
  TempDir dir;
  RegisterEngineTypes();
  const std::string text = "box{}";
  OrvcOptions options;
  options.source = dir.Path() + "/stage.lua";
  options.text = &text;
  OrvcCompiler compiler(options);
  ASSERT_TRUE(compiler.Compile()) << compiler.Error();
  const std::string missing = dir.Path() + "/no/such/folder/out";
  EXPECT_FALSE(compiler.Save(missing + ".orv"));
  EXPECT_EQ(compiler.Error(), missing + ".orv: cannot write the content file (No such file or directory)");
  EXPECT_FALSE(compiler.WriteDepfile(missing + ".d", "out.orv"));
  EXPECT_EQ(compiler.Error(), missing + ".d: cannot write the dependency file (No such file or directory)");
}

}  // namespace
