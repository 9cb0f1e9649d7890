// Limits on what scripts may cost: the budgeted pattern functions give the
// standard library's results, error texts are cut and their store bounded,
// and a script that never ends is stopped even when it runs late in frames.
#include <sstream>
#include <string>

#include "script_fixture.h"

namespace {

using ScriptLimits = ScriptTest;

// Every call's results (or its error) as one line per call.
const char kPatternCalls[] = R"lua(
local calls = {
  {string.find, "hello world", "o w"}, {string.find, "hello", "l+"}, {string.find, "hello", "^h(.)"},
  {string.find, "abc", "", 10}, {string.find, "abc", "", 4}, {string.find, "abc", "b", -1}, {string.find, "abc", "b", -9},
  {string.find, "a.b", ".", 1, true}, {string.find, "a+b", "+b"}, {string.find, "x=1, y=22", "(%w+)=(%d+)", 4},
  {string.find, "f(a(b)c)", "%b()"}, {string.find, "THE (quick) fox", "%f[%a]%a+", 5}, {string.find, "hello", "()ll()"},
  {string.find, "aaa", "a-b"}, {string.find, "  ", "^%s*$"}, {string.find, "a]b", "[]]"}, {string.find, "a-b", "[a-]", 2},
  {string.find, "x^y", "[%^]"}, {string.find, "ca1", "[^%a]"}, {string.find, "hello", "l*", 3}, {string.find, "abab", "(ab)%1"},
  {string.find, "a\0b", "%z"}, {string.find, "a\0b", "\0"}, {string.find, "ab", "b$"}, {string.find, "a$b", "$b"},
  {string.find, "x", "x?x?x"}, {string.find, "AbC", "%u%l%U"}, {string.find, "3.5e", "%d%.%d%a"}, {string.find, "abc", "[b-]"},
  {string.match, "key = value", "(%w+)%s*=%s*(%w+)"}, {string.match, "2024-01-05", "(%d+)-(%d+)-(%d+)"},
  {string.match, "abc", "^(b)"}, {string.match, "abc", ".-$"}, {string.match, "abc", "x?abc"}, {string.match, "[[x]]", "%[(%b[])%]"},
  {string.match, "  trim  ", "^%s*(.-)%s*$"}, {string.match, "THE END", "%f[%w]%w+$"}, {string.match, "a,b", "[%w_]+", 2},
  {string.gsub, "hello world", "o", "0"}, {string.gsub, "hello", "", "-"}, {string.gsub, "abc", "%w", "%0%0"},
  {string.gsub, "hello world", "(%w+)", "<%1>"}, {string.gsub, "abc", "b", "%%"}, {string.gsub, "$n is $a", "%$(%w+)", {n = "bob", a = 3}},
  {string.gsub, "abc", "%w", function(c) return c:upper() .. "." end}, {string.gsub, "abc", "^a", "x"}, {string.gsub, "aaa", "a", "b", 2},
  {string.gsub, "hello", "l", function() return false end}, {string.gsub, "xy", "()", "%1"}, {string.gsub, "abc", "b*", "-"},
  {string.gsub, "a b", "%s", 7}, {string.gsub, "abc", "(a)(b)", "%2%1"}, {string.gsub, "", "x*", "y"},
  {string.find, "abc", "[a"}, {string.find, "abc", "%"}, {string.find, "abc", "(()"}, {string.find, "abc", "%1"},
  {string.find, "abc", "%b"}, {string.find, "abc", "%fx"}, {string.find, "abc", "a)"}, {string.gsub, "abc", "b", "%2"},
  {string.gsub, "abc", "b", "%x"}, {string.gsub, "abc", "b", {b = {}}}, {string.find, "a", string.rep("()", 33)},
  {string.find, string.rep("a", 300), string.rep("a?", 300)},
}
local out = {}
for i, c in ipairs(calls) do
  local r = table.pack(pcall(c[1], table.unpack(c, 2)))
  for j = 1, r.n do r[j] = tostring(r[j]) end
  out[i] = table.concat(r, ",", 1, r.n)
end
local words = {}
for w in string.gmatch("one two  three", "%a+") do words[#words + 1] = w end
for k, v in string.gmatch("k1=v1;k2=v2", "(%w+)=(%w+)") do words[#words + 1] = k .. ":" .. v end
for f in string.gmatch("a,b,,c", "([^,]*)") do words[#words + 1] = "[" .. f .. "]" end
for e in string.gmatch("abc", "") do words[#words + 1] = "." end
for w in string.gmatch("hello world", "%a+", 3) do words[#words + 1] = w end
for w in ("^a^b"):gmatch("^%a") do words[#words + 1] = w end
out[#out + 1] = table.concat(words, " ") .. " " .. tostring(("abc"):find("b"))
-- Short random patterns over short random subjects.
math.randomseed(21)
local atoms = {"a", "b", ".", "%a", "%d", "[ab]", "[^a]", "%b()", "%f[%a]", "(", ")", "()", "%1", "^", "$", "%"}
local reps = {"", "", "*", "+", "-", "?"}
local chars = {"a", "b", "1", "(", ")", " "}
for i = 1, 3000 do
  local p, s = {}, {}
  for j = 1, math.random(1, 6) do p[j] = atoms[math.random(#atoms)] .. reps[math.random(#reps)] end
  for j = 1, math.random(0, 10) do s[j] = chars[math.random(#chars)] end
  p, s = table.concat(p), table.concat(s)
  local r = table.pack(pcall(string.find, s, p))
  local g = table.pack(pcall(string.gsub, s, p, "<%0>"))
  out[#out + 1] = s .. "|" .. p .. "|" .. table.concat({tostring(r[2]), tostring(r[3]), tostring(r[4]), tostring(g[2]), tostring(g[3])}, ",")
end
R = table.concat(out, "\n")
)lua";

TEST_F(ScriptLimits, PatternFunctionsGiveTheStandardResults) {
  lua_State* plain = luaL_newstate();
  luaL_openlibs(plain);
  ASSERT_EQ(luaL_dostring(plain, kPatternCalls), LUA_OK) << lua_tostring(plain, -1);
  lua_getglobal(plain, "R");
  const std::string expected = lua_tostring(plain, -1);
  lua_close(plain);
  Start();
  ASSERT_TRUE(Run(kPatternCalls));
  std::istringstream want(expected), got(Str("R"));
  std::string w, g;
  for (int line = 1; std::getline(want, w); ++line) {
    ASSERT_TRUE(std::getline(got, g)) << "line " << line;
    EXPECT_EQ(g, w) << "call " << line;
  }
}

TEST_F(ScriptLimits, ErrorTextsAreCutAndTheirStoreBounded) {
  Start();
  TraceCapture trace;
  // Distinct 16 KiB errors, more than the store keeps.
  for (int i = 0; i < 1000; ++i) {
    EXPECT_FALSE(Run("error(" + std::to_string(i) + " .. string.rep('x', 1 << 14), 0)"));
  }
  std::istringstream lines(trace.Text());
  size_t traced = 0, longest = 0;
  for (std::string line; std::getline(lines, line);) {
    traced += line.rfind("lua error: ", 0) == 0;
    longest = std::max(longest, line.size());
  }
  EXPECT_LT(longest, 512u);
  EXPECT_GT(traced, 100u);
  EXPECT_LT(traced, 1000u);
  EXPECT_EQ(Count(trace.Text(), "further distinct errors are not traced"), 1u);
}

// The first script of each frame takes most of the frame's budget; the one
// after it never ends and is cut short every frame until its cut calls add
// up to one frame's budget.
TEST_F(ScriptLimits, ScriptThatNeverEndsLateInTheFrameIsStopped) {
  Start();
  ASSERT_TRUE(
      Run("A, B = 0, 0"
          " First = { OnTick = function() for i = 1, 3750000 do end A = A + 1 end }"
          " Late = { OnTick = function() B = B + 1 while true do end end }"));
  ASSERT_NE(Attach(Node("First"), nullptr, "first"), nullptr);
  OvAniCtrl* late = Attach(Node("Late"), nullptr, "late");
  ASSERT_NE(late, nullptr);
  TraceCapture trace;
  for (int i = 0; i < 7; ++i) StepFrame(scene);
  EXPECT_EQ(Num("A"), 7.0);
  EXPECT_TRUE(OvScriptCtrlStopped(late));
  EXPECT_LT(Num("B"), 7.0);
  EXPECT_EQ(Count(trace.Text(), "rest of that frame's script calls are skipped"), 1u);
  EXPECT_EQ(Count(trace.Text(), "'Late' ran past its instruction budget"), 1u);
}

}  // namespace
