// Reading builder arguments: the compile behind the Lua state, checked
// values of every kind, handles, the memory charged to the limit, and the
// files a stage names.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "orvc_builders.h"

namespace orvc {

Impl& Ctx(lua_State* L) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  return *static_cast<Impl*>(ud);
}

std::string Decimal(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

OrvcWhere Where(lua_State* L) {
  OrvcWhere w;
  lua_Debug ar;
  if (lua_getstack(L, 1, &ar) && lua_getinfo(L, "Sl", &ar) && ar.currentline > 0) {
    w.file = ar.short_src;
    w.line = ar.currentline;
  }
  return w;
}

[[noreturn]] void Fail(lua_State* L, const std::string& what, const std::string& message) {
  luaL_error(L, "%s: %s", what.c_str(), message.c_str());
  std::abort();  // luaL_error does not return
}

void Charge(lua_State* L, const std::string& what, uint64_t bytes) {
  Impl& c = Ctx(L);
  if (uint64_t(c.memoryUsed) + c.builderMemory + bytes > c.options.maxMemory) {
    Fail(L, what,
         "the stage would use more than " + Decimal(double(c.options.maxMemory) / 1048576.0) +
             " MB of memory (--max-memory; the builders' data counts too)");
  }
  c.builderMemory += size_t(bytes);
}

std::string TypeText(lua_State* L, int i) {
  if (luaL_testudata(L, i, kHandleMeta)) {
    const auto* h = static_cast<const OrvcHandle*>(lua_touserdata(L, i));
    return Ctx(L).stage->Describe(*h);
  }
  if (luaL_testudata(L, i, kEntryMeta)) return "an animation entry";
  const int t = lua_type(L, i);
  if (t == LUA_TSTRING) {
    // Messages stay one readable line whatever the string holds.
    size_t n = 0;
    const char* s = lua_tolstring(L, i, &n);
    const std::string text(s, std::min(n, std::min<size_t>(std::strlen(s), 60)));
    return "string '" + text + (text.size() < n ? "...'" : "'");
  }
  if (t == LUA_TNUMBER) {
    lua_pushvalue(L, i);
    std::string s = lua_tostring(L, -1);
    lua_pop(L, 1);
    return "number " + s;
  }
  return luaL_typename(L, i);
}

double Number(lua_State* L, int i, const std::string& what) {
  if (lua_type(L, i) != LUA_TNUMBER) Fail(L, what, "expected a number, got " + TypeText(L, i));
  const double v = lua_tonumber(L, i);
  if (!std::isfinite(v)) Fail(L, what, "expected a finite number, got " + TypeText(L, i));
  return v;
}

int64_t Integer(lua_State* L, int i, const std::string& what) {
  if (lua_type(L, i) != LUA_TNUMBER) Fail(L, what, "expected a whole number, got " + TypeText(L, i));
  int ok = 0;
  const lua_Integer v = lua_tointegerx(L, i, &ok);
  if (!ok) Fail(L, what, "expected a whole number, got " + TypeText(L, i));
  return v;
}

int32_t Int32(lua_State* L, int i, const std::string& what) {
  const int64_t v = Integer(L, i, what);
  if (v < INT32_MIN || v > INT32_MAX) Fail(L, what, "expected a 32-bit number, got " + TypeText(L, i));
  return int32_t(v);
}

// A 32-bit word given signed or unsigned (-1 and 0xFFFFFFFF are the same).
uint32_t Word(lua_State* L, int i, const std::string& what) {
  const int64_t v = Integer(L, i, what);
  if (v < INT32_MIN || v > int64_t(UINT32_MAX)) Fail(L, what, "expected a 32-bit value, got " + TypeText(L, i));
  return uint32_t(v);
}

bool Boolean(lua_State* L, int i, const std::string& what) {
  if (lua_isboolean(L, i)) return lua_toboolean(L, i);
  if (lua_type(L, i) == LUA_TNUMBER) {
    const int64_t v = Integer(L, i, what);
    if (v == 0 || v == 1) return v == 1;
  }
  Fail(L, what, "expected true or false, got " + TypeText(L, i));
}

// Strings become NUL-terminated texts of at most 65535 bytes in the file, so
// a NUL inside or a longer text is refused here, where the line is known.
std::string String(lua_State* L, int i, const std::string& what) {
  if (lua_type(L, i) != LUA_TSTRING) Fail(L, what, "expected a string, got " + TypeText(L, i));
  size_t n = 0;
  const char* s = lua_tolstring(L, i, &n);
  if (std::memchr(s, 0, n)) Fail(L, what, "the text holds a NUL byte");
  if (n > kMaxText) {
    Fail(L, what, "a text of " + std::to_string(n) + " bytes; texts hold at most " + std::to_string(kMaxText));
  }
  return std::string(s, n);
}

uint8_t Byte01(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

// Colours: 0xAARRGGBB, "#RRGGBB" / "#AARRGGBB", or {r, g, b [, a]} in 0..1.
uint32_t Colour(lua_State* L, int i, const std::string& what) {
  const int t = lua_type(L, i);
  if (t == LUA_TNUMBER) return Word(L, i, what);
  if (t == LUA_TSTRING) {
    const std::string s = lua_tostring(L, i);
    if ((s.size() == 7 || s.size() == 9) && s[0] == '#' &&
        s.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos) {
      const uint32_t v = uint32_t(std::strtoul(s.c_str() + 1, nullptr, 16));
      return s.size() == 7 ? 0xFF000000u | v : v;
    }
  } else if (t == LUA_TTABLE) {
    const lua_Integer n = luaL_len(L, i);
    if (n == 3 || n == 4) {
      double c[4] = {0, 0, 0, 1};
      for (int k = 0; k < n; ++k) {
        lua_rawgeti(L, i, k + 1);
        c[k] = Number(L, -1, what);
        lua_pop(L, 1);
      }
      return uint32_t(Byte01(c[3])) << 24 | uint32_t(Byte01(c[0])) << 16 | uint32_t(Byte01(c[1])) << 8 | Byte01(c[2]);
    }
  }
  Fail(L, what, "expected a colour (0xAARRGGBB, \"#RRGGBB\" or {r, g, b [, a]}), got " + TypeText(L, i));
}

// Colours as four reals (materials, lights): a table keeps its numbers as
// given; a packed colour gives its bytes / 255.
void ColourFloats(lua_State* L, int i, const std::string& what, float out[4]) {
  if (lua_type(L, i) == LUA_TTABLE && (luaL_len(L, i) == 3 || luaL_len(L, i) == 4)) {
    out[3] = 1.0f;
    for (int k = 0; k < luaL_len(L, i); ++k) {
      lua_rawgeti(L, i, k + 1);
      out[k] = float(Number(L, -1, what));
      lua_pop(L, 1);
    }
    return;
  }
  const uint32_t c = Colour(L, i, what);
  out[0] = float((c >> 16) & 0xFF) / 255.0f;
  out[1] = float((c >> 8) & 0xFF) / 255.0f;
  out[2] = float(c & 0xFF) / 255.0f;
  out[3] = float(c >> 24) / 255.0f;
}

// {x, y, z}; with `uniform`, a single number stands for all three.
void Vector3(lua_State* L, int i, const std::string& what, float out[3], bool uniform) {
  if (uniform && lua_type(L, i) == LUA_TNUMBER) {
    out[0] = out[1] = out[2] = float(Number(L, i, what));
    return;
  }
  if (lua_type(L, i) != LUA_TTABLE || luaL_len(L, i) != 3) {
    Fail(L, what, std::string("expected {x, y, z}") + (uniform ? " or a number" : "") + ", got " + TypeText(L, i));
  }
  for (int k = 0; k < 3; ++k) {
    lua_rawgeti(L, i, k + 1);
    out[k] = float(Number(L, -1, what));
    lua_pop(L, 1);
  }
}

// Every number of a table, nested tables flattened in order.
void Flatten(lua_State* L, int i, const std::string& what, std::vector<double>& out, int depth) {
  if (lua_type(L, i) == LUA_TNUMBER) {
    out.push_back(Number(L, i, what));
    return;
  }
  if (lua_type(L, i) != LUA_TTABLE || depth > 8) Fail(L, what, "expected numbers, got " + TypeText(L, i));
  const lua_Integer n = luaL_len(L, i);
  for (lua_Integer k = 1; k <= n; ++k) {
    lua_rawgeti(L, i, k);
    Flatten(L, lua_gettop(L), what, out, depth + 1);
    lua_pop(L, 1);
  }
}

OrvcHandle* TestHandle(lua_State* L, int i) { return static_cast<OrvcHandle*>(luaL_testudata(L, i, kHandleMeta)); }

int HandleOf(lua_State* L, int i, OrvcKind kind, const std::string& what) {
  const OrvcHandle* h = TestHandle(L, i);
  if (!h || h->kind != kind) {
    Fail(L, what, std::string("expected a ") + OrvcKindName(kind) + ", got " + TypeText(L, i));
  }
  return h->index;
}

void PushHandle(lua_State* L, OrvcKind kind, int index) {
  auto* h = static_cast<OrvcHandle*>(lua_newuserdatauv(L, sizeof(OrvcHandle), 0));
  *h = {kind, index};
  luaL_setmetatable(L, kHandleMeta);
}

fs::path Resolve(lua_State* L, const std::string& what, const std::string& name) {
  const fs::path p(name);
  if (name.empty() || p.is_absolute()) Fail(L, what, "'" + name + "': file names are relative to the stage's folder");
  for (const fs::path& part : p) {
    if (part == "..") Fail(L, what, "'" + name + "': file names may not leave the stage's folder (no '..')");
  }
  return Ctx(L).root / p;
}

// Reads a regular file whole. The file is opened first and then asked where
// it really is (the descriptor's path has every symbolic link resolved), so
// what is checked is what is read. `inside`: the real path must lie in that
// folder. Empty reason on success.
std::string ReadRegularFile(const fs::path& path, const std::string& inside, uint64_t maxBytes,
                            std::vector<uint8_t>& out) {
  // Non-blocking: a FIFO must not hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENOENT ? "no such file" : std::strerror(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (!inside.empty()) {
    std::error_code ec;
    std::string real = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
    if (ec) real = fs::canonical(path, ec).string();
    if (ec) return "its real path cannot be found (" + ec.message() + ")";
    const std::string folder = inside.back() == '/' ? inside : inside + "/";
    if (real.compare(0, folder.size(), folder) != 0) return "it leads outside the stage's folder (to " + real + ")";
  }
  if (uint64_t(st.st_size) > maxBytes) return "the file is too large (" + std::to_string(st.st_size) + " bytes)";
  out.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::strerror(errno);
    if (n == 0) return "the file became shorter while it was read";
    got += size_t(n);
  }
  return {};
}

std::vector<uint8_t> ReadFile(lua_State* L, const std::string& what, const std::string& name) {
  Impl& c = Ctx(L);
  const fs::path path = Resolve(L, what, name);
  std::error_code ec;
  const uint64_t size = fs::file_size(path, ec);
  // Whatever the file holds stays with the stage (records) or briefly in Lua.
  if (!ec) Charge(L, what + ": '" + name + "'", size);
  std::vector<uint8_t> bytes;
  const std::string why = ReadRegularFile(path, c.realRoot, ec ? 0 : size, bytes);
  if (why == "no such file") Fail(L, what, "'" + name + "': no such file in the stage's folder");
  if (!why.empty()) Fail(L, what, "'" + name + "': " + why);
  const std::string dep = path.lexically_normal().string();
  if (std::find(c.deps.begin(), c.deps.end(), dep) == c.deps.end()) c.deps.push_back(dep);
  return bytes;
}

}  // namespace orvc
