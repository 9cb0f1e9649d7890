// Stage sources are untrusted: mistakes and hostile sources end in one
// message with the file, the line and the offending item, never a crash.
#include <gtest/gtest.h>

#include "orvc_test_util.h"

using namespace orvc_test;

namespace {

void ExpectError(const std::string& source, const std::string& where, const std::string& what) {
  Compiled c = Compile(source);
  EXPECT_FALSE(c.ok) << source;
  EXPECT_NE(c.error.find(where), std::string::npos) << source << "\n" << c.error;
  EXPECT_NE(c.error.find(what), std::string::npos) << source << "\n" << c.error;
}

TEST(OrvcErrors, BuilderMistakesNameFileLineAndItem) {
  ExpectError("\nbox{ size = 2, colour = 1 }", "stage.lua:2:", "box: unknown field 'colour'");
  ExpectError("box{ size = 2, colour = 1 }", "", "known fields: color");
  ExpectError("box{ size = { 1, 2 } }", "stage.lua:1:", "field 'size': expected {x, y, z} or a number");
  ExpectError("box(3)", "stage.lua:1:", "box: expected a table of fields");
  ExpectError("sphere{ radius = 0 }", "", "field 'radius': expected a size above 0");
  ExpectError("clump{ name = 'lid', mesh = texture{ width = 1, height = 1, solid = 0 } }", "",
              "clump 'lid': field 'mesh': expected a mesh, got texture 0");
  ExpectError("texture{ width = 2, height = 2 }", "", "give exactly one of file, solid");
  ExpectError("texture{ width = 2, height = 2, solid = 'red' }", "", "expected a colour");
  ExpectError("texture{ width = 2, height = 2, solid = 0, format = 'dxt1' }", "", "'dxt1' is not one of argb8888");
  ExpectError("texture{ width = 20, height = 20, format = 'p8', pixels = function(x, y) return x * 20 + y end }", "",
              "400 distinct colours");
  ExpectError("texture{ width = 2, height = 2, pixels = function(x, y) return nil end }", "",
              "pixels(0, 0): expected a colour");
  ExpectError("material{ layers = { { kind = 'glow' } } }", "",
              "layer 1 of material: field 'kind': 'glow' is not one of");
  ExpectError("mesh{ positions = { 0, 0, 0 }, indices = { 0, 0, 1 } }", "",
              "index 1 (entry 3) is beyond the 1 vertices");
  ExpectError("mesh{ positions = { 0, 0, 0, 1 } }", "", "expected x, y, z per vertex");
  ExpectError(
      "local m = material{} mesh{ positions = { 0,0,0, 1,0,0, 0,1,0 }, indices = { 0, 1, 2 },\n"
      " subsets = { { material = m, first = 0, count = 1 }, { material = m, first = 1, count = 1 } } }",
      "stage.lua:1:", "subset 2 covers triangles 1 to 1 of 1");
  ExpectError(
      "local m = material{} mesh{ positions = { 0,0,0, 1,0,0, 0,1,0 }, indices = { 0, 1, 2 },\n"
      " subsets = { { material = m, first = -2147483648 } } }",
      "stage.lua:1:", "subset 1 covers triangles -2147483648");
  ExpectError("clump{ light = { type = 'laser' } }", "", "'laser' is not one of");
  ExpectError("clump{ camera = { near = 10, far = 5 } }", "", "far must be beyond near");
  ExpectError("clump{ rotation = { 1, 0, 0 } }", "", "expected a quaternion {s, x, y, z}");
  ExpectError("clump{ position = { 0, 0, 0 }, look_at = { 0, 0, 0 } }", "",
              "the eye and the target are the same point");
  ExpectError("object{ flags = { 'flying' } }", "", "'flying' is not one of collidable");
  ExpectError("object{ category = 27 }", "", "expected an even collision category 0 to 254, got 27");
  ExpectError("object{ category = 256 }", "", "expected an even collision category 0 to 254, got 256");
  ExpectError("object{ category = -2 }", "", "expected an even collision category 0 to 254, got -2");
  ExpectError("stage{ camera = clump{ name = 'c' } }", "", "clump 'c' has no camera = {...}");
  ExpectError("stage{ frame_rate = 0 }", "", "frames per second above 0");
  ExpectError("animation{ 1 }", "", "expected a track{} or node{}");
  ExpectError("animation{ name = 'x' }", "", "expected only a list of entries");
}

TEST(OrvcErrors, ATreeHasOneParentPerClump) {
  ExpectError("local c = clump{}\nclump{ children = { c } }\nclump{ children = { c } }",
              "stage.lua:3:", "already has a place in a tree");
  ExpectError("local c = clump{}\nobject{ clump = c }\nclump{ children = { c } }",
              "stage.lua:3:", "already has a place in a tree");
  ExpectError("local c = clump{}\nclump{ children = { c, c } }", "stage.lua:2:", "already has a place in a tree");
}

TEST(OrvcErrors, LuaErrorsKeepTheirLocation) {
  ExpectError("local a = 1\nlocal b = = 2", "stage.lua:2:", "unexpected symbol");
  ExpectError("\n\nerror('broken on purpose')", "stage.lua:3:", "broken on purpose");
  ExpectError("local t = nil\nlocal x = t.y", "stage.lua:2:", "attempt to index");
  ExpectError("script{ source = 'function f( end' }", "", "script 'script'");
  ExpectError("error({})", "stage.lua", "not a message");
}

TEST(OrvcErrors, TheSandboxHasNoWayOut) {
  Compiled c = Compile(R"(
    assert(io == nil and os == nil and package == nil and debug == nil)
    assert(load == nil and loadfile == nil and dofile == nil and require == nil)
    assert(string.format("%d", 3) == "3" and math.floor(2.5) == 2 and table.concat({ "a" }) == "a")
  )");
  EXPECT_TRUE(c.ok) << c.error;
  ExpectError("include('/etc/passwd')", "stage.lua:1:", "relative to the stage's folder");
  ExpectError("texture{ file = '../../etc/hosts' }", "stage.lua:1:", "may not leave the stage's folder");
  ExpectError("texture{ file = 'missing.png' }", "stage.lua:1:", "'missing.png': no such file");
  // Content scripts are text only: a crafted precompiled chunk could crash
  // the interpreter that runs it.
  ExpectError("script{ source = '\\27Lua' }", "stage.lua:1:", "script 'script': a precompiled chunk");
}

TEST(OrvcErrors, LimitsStopRunawayStages) {
  Compiled loop = Compile("local n = 0\nwhile true do n = n + 1 end", ".", "stage.lua", 1000000);
  EXPECT_FALSE(loop.ok);
  EXPECT_NE(loop.error.find("stage.lua:2:"), std::string::npos) << loop.error;
  EXPECT_NE(loop.error.find("more than 1000000 Lua instructions"), std::string::npos) << loop.error;

  Compiled hog = Compile("local t = {}\nfor i = 1, 1e9 do t[i] = ('x'):rep(100) .. i end", ".", "stage.lua",
                         4000000000ull, size_t(8) << 20);
  EXPECT_FALSE(hog.ok);
  EXPECT_NE(hog.error.find("out of memory"), std::string::npos) << hog.error;

  Compiled deep = Compile("local function f() return f() + 1 end\nf()");
  EXPECT_FALSE(deep.ok);
  EXPECT_NE(deep.error.find("stack overflow"), std::string::npos) << deep.error;

  TempDir dir;
  dir.Write("loop.lua", std::string("include('loop.lua')\n"));
  Compiled includes = Compile("include('loop.lua')", dir.Path());
  EXPECT_FALSE(includes.ok);
  EXPECT_NE(includes.error.find("nest deeper than 16"), std::string::npos) << includes.error;
}

}  // namespace
