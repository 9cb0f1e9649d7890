// string.find, string.match, string.gmatch and string.gsub with the
// language's pattern rules, but a matcher that counts its steps into the
// running call's instruction budget: the interpreter's instruction hook does
// not reach inside one library call, and a backtracking pattern can run for
// hours. Plain searches use a linear substring search.
#include <cctype>
#include <cstddef>
#include <cstring>

#include "ov_script_internal.h"

namespace ovs {
namespace {

constexpr int kMaxCaptures = 32;
constexpr ptrdiff_t kCapUnfinished = -1;
constexpr ptrdiff_t kCapPosition = -2;
constexpr int kMaxDepth = 200;  // recursion of the matcher (C stack)
constexpr char kEsc = '%';
constexpr const char* kSpecials = "^$*+?.([%-";
// Matcher steps charged to the budget at a time.
constexpr int kChargeEvery = 1000;

struct Matcher {
  const char* srcInit;
  const char* srcEnd;
  const char* patEnd;
  lua_State* L;
  int level;
  int depth;
  int steps;  // since the last charge
  struct {
    const char* init;
    ptrdiff_t len;
  } capture[kMaxCaptures];
};

void Step(Matcher& m) {
  if (++m.steps < kChargeEvery) return;
  m.steps = 0;
  ChargePatternWork(m.L, kChargeEvery);
}

const char* Match(Matcher& m, const char* s, const char* p);

const char* ClassEnd(Matcher& m, const char* p) {
  const char c = *p++;
  if (c == kEsc) {
    if (p == m.patEnd) luaL_error(m.L, "malformed pattern (ends with '%%')");
    return p + 1;
  }
  if (c == '[') {
    if (*p == '^') ++p;
    // The first character is part of the set even when it is ']'.
    do {
      if (p == m.patEnd) luaL_error(m.L, "malformed pattern (missing ']')");
      if (*p++ == kEsc && p < m.patEnd) ++p;
    } while (*p != ']');
    return p + 1;
  }
  return p;
}

bool ClassMatches(int c, int cl) {
  bool r;
  switch (std::tolower(cl)) {
    case 'a': r = std::isalpha(c); break;
    case 'c': r = std::iscntrl(c); break;
    case 'd': r = std::isdigit(c); break;
    case 'g': r = std::isgraph(c); break;
    case 'l': r = std::islower(c); break;
    case 'p': r = std::ispunct(c); break;
    case 's': r = std::isspace(c); break;
    case 'u': r = std::isupper(c); break;
    case 'w': r = std::isalnum(c); break;
    case 'x': r = std::isxdigit(c); break;
    case 'z': r = c == 0; break;  // older spelling of "\0"
    default: return cl == c;
  }
  return std::isupper(cl) ? !r : r;
}

// `p` at '[', `ec` at the closing ']'.
bool SetMatches(int c, const char* p, const char* ec) {
  bool in = true;
  if (p[1] == '^') {
    in = false;
    ++p;
  }
  while (++p < ec) {
    if (*p == kEsc) {
      ++p;
      if (ClassMatches(c, static_cast<unsigned char>(*p))) return in;
    } else if (p[1] == '-' && p + 2 < ec) {
      p += 2;
      if (static_cast<unsigned char>(p[-2]) <= c && c <= static_cast<unsigned char>(*p)) return in;
    } else if (static_cast<unsigned char>(*p) == c) {
      return in;
    }
  }
  return !in;
}

bool SingleMatch(const Matcher& m, const char* s, const char* p, const char* ep) {
  if (s >= m.srcEnd) return false;
  const int c = static_cast<unsigned char>(*s);
  switch (*p) {
    case '.': return true;
    case kEsc: return ClassMatches(c, static_cast<unsigned char>(p[1]));
    case '[': return SetMatches(c, p, ep - 1);
    default: return static_cast<unsigned char>(*p) == c;
  }
}

const char* MatchBalance(Matcher& m, const char* s, const char* p) {
  if (p >= m.patEnd - 1) luaL_error(m.L, "malformed pattern (missing arguments to '%%b')");
  if (s >= m.srcEnd || *s != *p) return nullptr;
  const char open = p[0], close = p[1];
  int depth = 1;
  while (++s < m.srcEnd) {
    Step(m);
    if (*s == close) {
      if (--depth == 0) return s + 1;
    } else if (*s == open) {
      ++depth;
    }
  }
  return nullptr;
}

const char* MaxExpand(Matcher& m, const char* s, const char* p, const char* ep) {
  ptrdiff_t i = 0;
  while (SingleMatch(m, s + i, p, ep)) {
    Step(m);
    ++i;
  }
  for (; i >= 0; --i) {
    if (const char* r = Match(m, s + i, ep + 1)) return r;
  }
  return nullptr;
}

const char* MinExpand(Matcher& m, const char* s, const char* p, const char* ep) {
  for (;;) {
    if (const char* r = Match(m, s, ep + 1)) return r;
    if (!SingleMatch(m, s, p, ep)) return nullptr;
    ++s;
  }
}

const char* StartCapture(Matcher& m, const char* s, const char* p, ptrdiff_t what) {
  if (m.level >= kMaxCaptures) luaL_error(m.L, "too many captures");
  m.capture[m.level] = {s, what};
  ++m.level;
  const char* r = Match(m, s, p);
  if (!r) --m.level;
  return r;
}

const char* EndCapture(Matcher& m, const char* s, const char* p) {
  int open = m.level - 1;
  while (open >= 0 && m.capture[open].len != kCapUnfinished) --open;
  if (open < 0) luaL_error(m.L, "invalid pattern capture");
  m.capture[open].len = s - m.capture[open].init;
  const char* r = Match(m, s, p);
  if (!r) m.capture[open].len = kCapUnfinished;
  return r;
}

int CheckCapture(Matcher& m, int digit) {
  const int i = digit - '1';
  if (i < 0 || i >= m.level || m.capture[i].len == kCapUnfinished)
    return luaL_error(m.L, "invalid capture index %%%d", i + 1);
  return i;
}

const char* MatchCapture(Matcher& m, const char* s, int digit) {
  const int i = CheckCapture(m, digit);
  const size_t len = size_t(m.capture[i].len);
  if (size_t(m.srcEnd - s) >= len && std::memcmp(m.capture[i].init, s, len) == 0) return s + len;
  return nullptr;
}

const char* Match(Matcher& m, const char* s, const char* p) {
  if (m.depth-- == 0) luaL_error(m.L, "pattern too complex");
  for (;;) {
    Step(m);
    if (p == m.patEnd) break;
    if (*p == '(') {
      s = p[1] == ')' ? StartCapture(m, s, p + 2, kCapPosition) : StartCapture(m, s, p + 1, kCapUnfinished);
      break;
    }
    if (*p == ')') {
      s = EndCapture(m, s, p + 1);
      break;
    }
    if (*p == '$' && p + 1 == m.patEnd) {
      if (s != m.srcEnd) s = nullptr;
      break;
    }
    if (*p == kEsc && p[1] == 'b') {
      s = MatchBalance(m, s, p + 2);
      if (!s) break;
      p += 4;
      continue;
    }
    if (*p == kEsc && p[1] == 'f') {
      p += 2;
      if (*p != '[') luaL_error(m.L, "missing '[' after '%%f' in pattern");
      const char* ep = ClassEnd(m, p);
      const int before = s == m.srcInit ? 0 : static_cast<unsigned char>(s[-1]);
      const int here = s < m.srcEnd ? static_cast<unsigned char>(*s) : 0;
      if (!SetMatches(before, p, ep - 1) && SetMatches(here, p, ep - 1)) {
        p = ep;
        continue;
      }
      s = nullptr;
      break;
    }
    if (*p == kEsc && std::isdigit(static_cast<unsigned char>(p[1]))) {
      s = MatchCapture(m, s, static_cast<unsigned char>(p[1]));
      if (!s) break;
      p += 2;
      continue;
    }
    // A single-character class, perhaps with a repetition.
    const char* ep = ClassEnd(m, p);
    if (!SingleMatch(m, s, p, ep)) {
      if (*ep == '*' || *ep == '?' || *ep == '-') {
        p = ep + 1;
        continue;
      }
      s = nullptr;
      break;
    }
    if (*ep == '?') {
      if (const char* r = Match(m, s + 1, ep + 1)) {
        s = r;
        break;
      }
      p = ep + 1;
      continue;
    }
    if (*ep == '+') {
      s = MaxExpand(m, s + 1, p, ep);
      break;
    }
    if (*ep == '*') {
      s = MaxExpand(m, s, p, ep);
      break;
    }
    if (*ep == '-') {
      s = MinExpand(m, s, p, ep);
      break;
    }
    ++s;
    p = ep;
  }
  ++m.depth;
  return s;
}

void Prepare(Matcher& m, lua_State* L, const char* s, size_t ls, const char* p, size_t lp) {
  m.L = L;
  m.srcInit = s;
  m.srcEnd = s + ls;
  m.patEnd = p + lp;
  m.steps = 0;
}

void Restart(Matcher& m) {
  m.level = 0;
  m.depth = kMaxDepth;
}

// Capture i as a value: the whole match when there are no captures.
void PushCapture(Matcher& m, int i, const char* s, const char* e) {
  if (i >= m.level) {
    if (i != 0) luaL_error(m.L, "invalid capture index %%%d", i + 1);
    lua_pushlstring(m.L, s, size_t(e - s));
    return;
  }
  const ptrdiff_t len = m.capture[i].len;
  if (len == kCapUnfinished) luaL_error(m.L, "unfinished capture");
  if (len == kCapPosition) {
    lua_pushinteger(m.L, lua_Integer(m.capture[i].init - m.srcInit) + 1);
  } else {
    lua_pushlstring(m.L, m.capture[i].init, size_t(len));
  }
}

int PushCaptures(Matcher& m, const char* s, const char* e) {
  const int n = (m.level == 0 && s) ? 1 : m.level;
  luaL_checkstack(m.L, n, "too many captures");
  for (int i = 0; i < n; ++i) PushCapture(m, i, s, e);
  return n;
}

// A start position from a 1-based, possibly negative index.
size_t StartIndex(lua_Integer pos, size_t len) {
  if (pos > 0) return size_t(pos);
  if (pos == 0) return 1;
  if (pos < -lua_Integer(len)) return 1;
  return size_t(lua_Integer(len) + pos + 1);
}

bool NoSpecials(const char* p, size_t lp) {
  size_t upto = 0;
  do {
    if (std::strpbrk(p + upto, kSpecials)) return false;
    upto += std::strlen(p + upto) + 1;  // past an embedded zero
  } while (upto <= lp);
  return true;
}

int FindOrMatch(lua_State* L, bool find) {
  size_t ls, lp;
  const char* s = luaL_checklstring(L, 1, &ls);
  const char* p = luaL_checklstring(L, 2, &lp);
  const size_t init = StartIndex(luaL_optinteger(L, 3, 1), ls) - 1;
  if (init > ls) {
    luaL_pushfail(L);
    return 1;
  }
  if (find && (lua_toboolean(L, 4) || NoSpecials(p, lp))) {
    ChargeScan(ls - init);
    const void* at = memmem(s + init, ls - init, p, lp);
    if (at) {
      const size_t i = size_t(static_cast<const char*>(at) - s);
      lua_pushinteger(L, lua_Integer(i) + 1);
      lua_pushinteger(L, lua_Integer(i + lp));
      return 2;
    }
    luaL_pushfail(L);
    return 1;
  }
  const bool anchor = lp > 0 && *p == '^';
  if (anchor) ++p, --lp;
  Matcher m;
  Prepare(m, L, s, ls, p, lp);
  const char* s1 = s + init;
  do {
    Restart(m);
    if (const char* e = Match(m, s1, p)) {
      if (find) {
        lua_pushinteger(L, lua_Integer(s1 - s) + 1);
        lua_pushinteger(L, lua_Integer(e - s));
        return PushCaptures(m, nullptr, nullptr) + 2;
      }
      return PushCaptures(m, s1, e);
    }
  } while (s1++ < m.srcEnd && !anchor);
  luaL_pushfail(L);
  return 1;
}

int Find(lua_State* L) { return FindOrMatch(L, true); }
int MatchFn(lua_State* L) { return FindOrMatch(L, false); }

struct GMatchState {
  const char* src;
  const char* pattern;
  const char* lastMatch;
  Matcher m;
};

int GMatchNext(lua_State* L) {
  auto* g = static_cast<GMatchState*>(lua_touserdata(L, lua_upvalueindex(3)));
  g->m.L = L;
  for (const char* src = g->src; src <= g->m.srcEnd; ++src) {
    Restart(g->m);
    const char* e = Match(g->m, src, g->pattern);
    if (e && e != g->lastMatch) {
      g->src = g->lastMatch = e;
      return PushCaptures(g->m, src, e);
    }
  }
  return 0;
}

int GMatch(lua_State* L) {
  size_t ls, lp;
  const char* s = luaL_checklstring(L, 1, &ls);
  const char* p = luaL_checklstring(L, 2, &lp);
  size_t init = StartIndex(luaL_optinteger(L, 3, 1), ls) - 1;
  lua_settop(L, 2);  // the closure keeps both strings alive
  auto* g = static_cast<GMatchState*>(lua_newuserdatauv(L, sizeof(GMatchState), 0));
  if (init > ls) init = ls + 1;
  Prepare(g->m, L, s, ls, p, lp);
  g->src = s + init;
  g->pattern = p;
  g->lastMatch = nullptr;
  lua_pushcclosure(L, GMatchNext, 3);
  return 1;
}

void AddString(Matcher& m, luaL_Buffer& b, const char* s, const char* e) {
  lua_State* L = m.L;
  size_t l;
  const char* text = lua_tolstring(L, 3, &l);
  const char* p;
  while ((p = static_cast<const char*>(std::memchr(text, kEsc, l))) != nullptr) {
    luaL_addlstring(&b, text, size_t(p - text));
    ++p;
    if (*p == kEsc) {
      luaL_addchar(&b, *p);
    } else if (*p == '0') {
      luaL_addlstring(&b, s, size_t(e - s));
    } else if (std::isdigit(static_cast<unsigned char>(*p))) {
      PushCapture(m, *p - '1', s, e);
      luaL_tolstring(L, -1, nullptr);  // a position becomes its digits
      lua_remove(L, -2);
      luaL_addvalue(&b);
    } else {
      luaL_error(L, "invalid use of '%c' in replacement string", kEsc);
    }
    l -= size_t(p + 1 - text);
    text = p + 1;
  }
  luaL_addlstring(&b, text, l);
}

// The replacement of one match; false when the match is kept as it was.
bool AddValue(Matcher& m, luaL_Buffer& b, const char* s, const char* e, int kind) {
  lua_State* L = m.L;
  if (kind == LUA_TFUNCTION) {
    lua_pushvalue(L, 3);
    const int n = PushCaptures(m, s, e);
    lua_call(L, n, 1);
  } else if (kind == LUA_TTABLE) {
    PushCapture(m, 0, s, e);
    lua_gettable(L, 3);
  } else {
    AddString(m, b, s, e);
    return true;
  }
  if (!lua_toboolean(L, -1)) {
    lua_pop(L, 1);
    luaL_addlstring(&b, s, size_t(e - s));
    return false;
  }
  if (!lua_isstring(L, -1)) return luaL_error(L, "invalid replacement value (a %s)", luaL_typename(L, -1)) != 0;
  luaL_addvalue(&b);
  return true;
}

int GSub(lua_State* L) {
  size_t ls, lp;
  const char* src = luaL_checklstring(L, 1, &ls);
  const char* p = luaL_checklstring(L, 2, &lp);
  const int kind = lua_type(L, 3);
  const lua_Integer maxN = luaL_optinteger(L, 4, lua_Integer(ls) + 1);
  luaL_argexpected(L, kind == LUA_TNUMBER || kind == LUA_TSTRING || kind == LUA_TFUNCTION || kind == LUA_TTABLE, 3,
                   "string/function/table");
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  const bool anchor = lp > 0 && *p == '^';
  if (anchor) ++p, --lp;
  Matcher m;
  Prepare(m, L, src, ls, p, lp);
  const char* lastMatch = nullptr;
  lua_Integer n = 0;
  bool changed = false;
  while (n < maxN) {
    Restart(m);
    const char* e = Match(m, src, p);
    if (e && e != lastMatch) {
      ++n;
      changed = AddValue(m, b, src, e, kind) || changed;
      src = lastMatch = e;
    } else if (src < m.srcEnd) {
      luaL_addchar(&b, *src++);
    } else {
      break;
    }
    if (anchor) break;
  }
  if (!changed) {
    lua_pushvalue(L, 1);
  } else {
    luaL_addlstring(&b, src, size_t(m.srcEnd - src));
    luaL_pushresult(&b);
  }
  lua_pushinteger(L, n);
  return 2;
}

}  // namespace

void RegisterPatternFunctions(lua_State* L) {
  static const luaL_Reg kFunctions[] = {
      {"find", Find}, {"match", MatchFn}, {"gmatch", GMatch}, {"gsub", GSub}, {nullptr, nullptr}};
  lua_getglobal(L, "string");
  if (lua_istable(L, -1)) luaL_setfuncs(L, kFunctions, 0);
  lua_pop(L, 1);
}

}  // namespace ovs
