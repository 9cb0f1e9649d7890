#include "orvc_compiler.h"

// The C++ build of Lua: errors unwind as C++ exceptions, so destructors of
// the builders' locals run when a builder reports an error.
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <sstream>

#include "orvc_stage.h"
#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_math.h"
#include "ov_node_params.h"
#include "ov_opaque_node.h"
#include "ov_stream.h"
#include "ov_wave_file.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHandleMeta = "orvc.handle";
constexpr const char* kEntryMeta = "orvc.entry";
constexpr int kHookStep = 1000;
constexpr int kMaxIncludeDepth = 16;
constexpr size_t kMaxText = 0xFFFF;  // the content file's longest text

struct Entry {
  OrvcEntry entry;
  int set = -1;  // the animation set that took it
};

}  // namespace

struct OrvcCompiler::Impl {
  OrvcOptions options;
  std::string error;
  std::unique_ptr<OrvcStage> stage;
  std::vector<std::string> deps;
  fs::path root;      // folder of the main file
  std::string realRoot;  // the same without symbolic links: files must resolve inside it
  lua_State* L = nullptr;

  // Sandbox accounting.
  size_t memoryUsed = 0;     // Lua's allocations
  size_t builderMemory = 0;  // what the builders hold (records, images being made)
  uint64_t instructions = 0;
  std::chrono::steady_clock::time_point deadline;
  std::string stopped;  // the limit's message once one was reached: final
  const char* building = nullptr;  // the builder running now (builders do not nest)
  std::string buildingName;
  int includeDepth = 0;

  std::vector<Entry> entries;
  std::vector<int> objectOf;  // per clump: the object it is a root of, or -1
  std::vector<std::string> meshNames;
  std::vector<std::string> textureNames;
};

namespace {

using Impl = OrvcCompiler::Impl;

Impl& Ctx(lua_State* L) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  return *static_cast<Impl*>(ud);
}

// ---------------------------------------------------------------------------
// The sandbox's allocator and instruction counter.

void* LimitedAlloc(void* ud, void* ptr, size_t osize, size_t nsize) {
  Impl& c = *static_cast<Impl*>(ud);
  const size_t old = ptr ? osize : 0;
  if (nsize == 0) {
    std::free(ptr);
    c.memoryUsed -= old;
    return nullptr;
  }
  if (nsize > old && c.memoryUsed + c.builderMemory + (nsize - old) > c.options.maxMemory) return nullptr;
  void* p = std::realloc(ptr, nsize);
  if (!p) return nullptr;
  c.memoryUsed = c.memoryUsed - old + nsize;
  return p;
}

std::string Decimal(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

void CountHook(lua_State* L, lua_Debug*) {
  Impl& c = Ctx(L);
  if (c.stopped.empty()) {
    c.instructions += kHookStep;
    std::string reason;
    if (c.instructions > c.options.maxInstructions) {
      reason = "the stage ran more than " + std::to_string(c.options.maxInstructions) +
               " Lua instructions (an endless loop?)";
    } else if (std::chrono::steady_clock::now() > c.deadline) {
      reason = "the stage ran longer than " + Decimal(c.options.maxSeconds) +
               (c.options.maxSeconds == 1 ? " second" : " seconds") + " (--max-seconds)";
    }
    if (reason.empty()) return;
    // In a hook the running function is level 0: the line it stands at.
    lua_Debug ar;
    if (lua_getstack(L, 0, &ar) && lua_getinfo(L, "Sl", &ar) && ar.currentline > 0) {
      reason = std::string(ar.short_src) + ":" + std::to_string(ar.currentline) + ": " + reason;
    }
    c.stopped = reason;
    // From now on every instruction raises again, so a pcall that caught
    // this error cannot carry on.
    lua_sethook(L, CountHook, LUA_MASKCOUNT, 1);
  }
  lua_pushlstring(L, c.stopped.data(), c.stopped.size());
  lua_error(L);
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

// What the builders hold counts against the memory limit together with
// Lua's own memory. A charge stays for the whole compile (records the stage
// keeps); a Transient one is given back when the builder is done.
void Charge(lua_State* L, const std::string& what, uint64_t bytes) {
  Impl& c = Ctx(L);
  if (uint64_t(c.memoryUsed) + c.builderMemory + bytes > c.options.maxMemory) {
    Fail(L, what, "the stage would use more than " + Decimal(double(c.options.maxMemory) / 1048576.0) +
                      " MB of memory (--max-memory; the builders' data counts too)");
  }
  c.builderMemory += size_t(bytes);
}

class Transient {
 public:
  Transient(lua_State* L, const std::string& what, uint64_t bytes) : m_c(Ctx(L)) {
    Charge(L, what, bytes);
    m_bytes = size_t(bytes);
  }
  ~Transient() { m_c.builderMemory -= m_bytes; }
  Transient(const Transient&) = delete;
  Transient& operator=(const Transient&) = delete;

 private:
  Impl& m_c;
  size_t m_bytes = 0;
};

// ---------------------------------------------------------------------------
// Values.

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
      return uint32_t(Byte01(c[3])) << 24 | uint32_t(Byte01(c[0])) << 16 | uint32_t(Byte01(c[1])) << 8 |
             Byte01(c[2]);
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
void Vector3(lua_State* L, int i, const std::string& what, float out[3], bool uniform = false) {
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
void Flatten(lua_State* L, int i, const std::string& what, std::vector<double>& out, int depth = 0) {
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

// ---------------------------------------------------------------------------
// A builder's argument table: fields are read by name, and any field left
// unread is an error, so a misspelt field never goes unnoticed.

class Args {
 public:
  Args(lua_State* L, const char* builder, int index = 1) : m_L(L), m_index(index), m_what(builder) {
    if (lua_type(L, index) != LUA_TTABLE) {
      Fail(L, builder, std::string("expected a table of fields, as in ") + builder + "{ ... }, got " +
                           TypeText(L, index));
    }
  }
  // Messages name the item once its name is known: "clump 'lid'".
  void Name(const std::string& name) {
    if (!name.empty()) m_what += " '" + name + "'";
  }
  const std::string& What() const { return m_what; }
  std::string Field(const char* key) const { return m_what + ": field '" + key + "'"; }

  // Pushes the field and answers whether it is present (non-nil); absent
  // fields leave nothing on the stack.
  bool Get(const char* key) {
    m_used.insert(key);
    lua_getfield(m_L, m_index, key);
    if (lua_isnil(m_L, -1)) {
      lua_pop(m_L, 1);
      return false;
    }
    return true;
  }
  bool Has(const char* key) {
    m_used.insert(key);
    lua_getfield(m_L, m_index, key);
    const bool present = !lua_isnil(m_L, -1);
    lua_pop(m_L, 1);
    return present;
  }
  double Number(const char* key, double def) { return Read(key, def, [&] { return ::Number(m_L, -1, Field(key)); }); }
  int32_t Int(const char* key, int32_t def) { return Read(key, def, [&] { return Int32(m_L, -1, Field(key)); }); }
  uint32_t Word(const char* key, uint32_t def) { return Read(key, def, [&] { return ::Word(m_L, -1, Field(key)); }); }
  bool Bool(const char* key, bool def) { return Read(key, def, [&] { return Boolean(m_L, -1, Field(key)); }); }
  std::string Str(const char* key, const std::string& def) {
    return Read(key, def, [&] { return String(m_L, -1, Field(key)); });
  }
  uint32_t Colour(const char* key, uint32_t def) {
    return Read(key, def, [&] { return ::Colour(m_L, -1, Field(key)); });
  }
  void Floats(const char* key, float out[4]) {
    if (Get(key)) {
      ColourFloats(m_L, -1, Field(key), out);
      lua_pop(m_L, 1);
    }
  }
  void Vector(const char* key, float out[3], bool uniform = false) {
    if (Get(key)) {
      Vector3(m_L, -1, Field(key), out, uniform);
      lua_pop(m_L, 1);
    }
  }
  int Handle(const char* key, OrvcKind kind, int def) {
    return Read(key, def, [&] { return HandleOf(m_L, -1, kind, Field(key)); });
  }
  // One of the names, as its position in `names`.
  int Choice(const char* key, const std::vector<const char*>& names, int def) {
    return Read(key, def, [&] {
      const std::string s = String(m_L, -1, Field(key));
      for (size_t k = 0; k < names.size(); ++k) {
        if (s == names[k]) return int(k);
      }
      std::string list;
      for (const char* n : names) list += (list.empty() ? "" : ", ") + std::string("'") + n + "'";
      Fail(m_L, Field(key), "'" + s + "' is not one of " + list);
    });
  }

  // Rejects fields nobody read (and, unless allowed, positional values).
  void Done(bool positional = false) {
    std::set<std::string> unknown;
    lua_pushnil(m_L);
    while (lua_next(m_L, m_index)) {
      lua_pop(m_L, 1);
      if (lua_type(m_L, -1) == LUA_TSTRING) {
        const std::string k = lua_tostring(m_L, -1);
        if (!m_used.count(k)) unknown.insert("'" + k + "'");
      } else if (!positional || !lua_isinteger(m_L, -1)) {
        lua_pushvalue(m_L, -1);
        unknown.insert("[" + std::string(luaL_tolstring(m_L, -1, nullptr)) + "]");
        lua_pop(m_L, 2);
      }
    }
    if (!unknown.empty()) {
      std::string fields, list;
      for (const std::string& u : unknown) fields += (fields.empty() ? "" : ", ") + u;
      for (const std::string& k : m_used) list += (list.empty() ? "" : ", ") + k;
      Fail(m_L, m_what, "unknown field " + fields + " (known fields: " + list + ")");
    }
  }

 private:
  template <class T, class F>
  T Read(const char* key, T def, F convert) {
    if (!Get(key)) return def;
    T v = convert();
    lua_pop(m_L, 1);
    return v;
  }

  lua_State* m_L;
  int m_index;
  std::string m_what;
  std::set<std::string> m_used;
};

// ---------------------------------------------------------------------------
// Files named by the stage.

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

// ---------------------------------------------------------------------------
// Header.

int B_stage(lua_State* L) {
  Impl& c = Ctx(L);
  Args a(L, "stage");
  OvDatabase& db = c.stage->Db();
  OvDbHeader& h = db.Header();
  // Each call sets the fields it gives, so the camera may be named after
  // its clump is made.
  if (a.Has("name") && !db.SetName(a.Str("name", "").c_str())) Fail(L, "stage", "out of memory");
  const int32_t rate = a.Int("frame_rate", int32_t(h.frameRate));
  if (rate <= 0) Fail(L, a.Field("frame_rate"), "expected frames per second above 0");
  h.frameRate = uint32_t(rate);
  h.timeUnitsPerFrame = a.Int("units_per_frame", h.timeUnitsPerFrame);
  if (h.timeUnitsPerFrame <= 0) Fail(L, a.Field("units_per_frame"), "expected time units per frame above 0");
  h.background = a.Colour("background", h.background);
  h.ambient = a.Colour("ambient", h.ambient);
  if (a.Has("fog") && !db.SetFogColor(a.Colour("fog", 0))) Fail(L, "stage", "out of memory");
  if (a.Get("camera")) {
    const int clump = HandleOf(L, -1, OrvcKind::Clump, a.Field("camera"));
    lua_pop(L, 1);
    if (c.stage->Clump(clump).ext != OrvcClump::Ext::Camera) {
      Fail(L, a.Field("camera"), c.stage->Describe({OrvcKind::Clump, clump}) + " has no camera = {...}");
    }
    c.stage->SetCamera(clump, Where(L));
  }
  a.Done();
  return 0;
}

// ---------------------------------------------------------------------------
// Textures.

void Generate(lua_State* L, Args& a, OrvcImage& img) {
  const std::string what = a.What();
  int sources = 0;
  for (const char* k : {"solid", "gradient", "checker", "pixels"}) sources += a.Has(k) ? 1 : 0;
  if (sources != 1) Fail(L, what, "give exactly one of file, solid, gradient, checker or pixels");
  const size_t n = size_t(img.width) * size_t(img.height);
  img.argb.assign(n, 0);
  if (a.Has("solid")) {
    std::fill(img.argb.begin(), img.argb.end(), a.Colour("solid", 0));
    return;
  }
  auto lerp = [](uint32_t x, uint32_t y, double t) {
    uint32_t out = 0;
    for (int s = 0; s < 32; s += 8) {
      const double cx = (x >> s) & 0xFF, cy = (y >> s) & 0xFF;
      out |= uint32_t(std::lround(cx + (cy - cx) * t)) << s;
    }
    return out;
  };
  if (a.Get("gradient")) {
    Args g(L, "gradient", lua_gettop(L));
    const uint32_t from = g.Colour("from", 0xFF000000u), to = g.Colour("to", 0xFFFFFFFFu);
    const int dir = g.Choice("direction", {"horizontal", "vertical", "diagonal", "radial"}, 0);
    g.Done();
    lua_pop(L, 1);
    for (int y = 0; y < img.height; ++y) {
      for (int x = 0; x < img.width; ++x) {
        const double u = img.width > 1 ? double(x) / (img.width - 1) : 0.0;
        const double v = img.height > 1 ? double(y) / (img.height - 1) : 0.0;
        double t = u;
        if (dir == 1) t = v;
        if (dir == 2) t = (u + v) * 0.5;
        if (dir == 3) t = std::min(1.0, std::hypot(u - 0.5, v - 0.5) * 2.0);
        img.argb[size_t(y) * img.width + x] = lerp(from, to, t);
      }
    }
    return;
  }
  if (a.Get("checker")) {
    Args g(L, "checker", lua_gettop(L));
    const uint32_t c1 = g.Colour("a", 0xFFFFFFFFu), c2 = g.Colour("b", 0xFF000000u);
    const int size = g.Int("size", 8);
    g.Done();
    lua_pop(L, 1);
    if (size <= 0) Fail(L, what + ": checker", "size must be above 0");
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x) img.argb[size_t(y) * img.width + x] = ((x / size + y / size) % 2) ? c2 : c1;
    return;
  }
  a.Get("pixels");
  if (!lua_isfunction(L, -1)) Fail(L, a.Field("pixels"), "expected a function(x, y, u, v), got " + TypeText(L, -1));
  const int fn = lua_gettop(L);
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      lua_pushvalue(L, fn);
      lua_pushinteger(L, x);
      lua_pushinteger(L, y);
      lua_pushnumber(L, (x + 0.5) / img.width);
      lua_pushnumber(L, (y + 0.5) / img.height);
      lua_call(L, 4, 1);
      img.argb[size_t(y) * img.width + x] =
          ::Colour(L, -1, what + ": pixels(" + std::to_string(x) + ", " + std::to_string(y) + ")");
      lua_pop(L, 1);
    }
  }
  lua_pop(L, 1);
}

int B_texture(lua_State* L) {
  Impl& c = Ctx(L);
  Args a(L, "texture");
  a.Name(a.Str("name", ""));
  OrvcImage img;
  std::optional<Transient> image;  // the picture while it is made
  if (a.Has("file")) {
    const std::string file = a.Str("file", "");
    if (a.Has("width") || a.Has("height")) Fail(L, a.What(), "a texture from a file takes its size from the file");
    std::string why;
    const std::vector<uint8_t> bytes = ReadFile(L, a.What(), file);
    int w = 0, h = 0;
    if (OrvcImageSize(bytes, w, h) && w <= ORVC_MAX_TEXTURE_SIDE && h <= ORVC_MAX_TEXTURE_SIDE) image.emplace(L, a.What(), uint64_t(w) * uint64_t(h) * 4);
    if (!OrvcDecodeImage(bytes, img, why)) Fail(L, a.What(), "'" + file + "': " + why);
    for (const char* k : {"solid", "gradient", "checker", "pixels"})
      if (a.Has(k)) Fail(L, a.What(), std::string("give either file or ") + k + ", not both");
  } else {
    img.width = a.Int("width", 0);
    img.height = a.Int("height", 0);
    if (img.width < 1 || img.height < 1 || img.width > ORVC_MAX_TEXTURE_SIDE || img.height > ORVC_MAX_TEXTURE_SIDE) {
      Fail(L, a.What(), "width and height must be 1 to " + std::to_string(ORVC_MAX_TEXTURE_SIDE));
    }
    image.emplace(L, a.What(), uint64_t(img.width) * uint64_t(img.height) * 4);
    Generate(L, a, img);
  }
  const std::string formatName = a.Str("format", "argb8888");
  const OrvcTextureFormat* format = OrvcFindTextureFormat(formatName);
  if (!format) Fail(L, a.Field("format"), "'" + formatName + "' is not one of " + OrvcTextureFormatNames());
  const bool compress = a.Bool("compress", false);
  a.Done();
  // The record keeps at most four bytes a pixel.
  Charge(L, a.What(), uint64_t(img.width) * uint64_t(img.height) * 4);
  std::string why;
  const int index = c.stage->AddTexture(img, *format, compress, why);
  if (index < 0) Fail(L, a.What(), why);
  PushHandle(L, OrvcKind::Texture, index);
  return 1;
}

// ---------------------------------------------------------------------------
// Materials.

const std::vector<const char*> kLayerKinds = {"texture", "blend_alpha", "add",        "modulate",
                                              "modulate2x", "reflection", "bump", "bump2"};
const uint32_t kLayerKindValues[] = {ORVC_LAYER_TEXTURE,    ORVC_LAYER_BLEND_ALPHA, ORVC_LAYER_ADD,
                                     ORVC_LAYER_MODULATE,   ORVC_LAYER_MODULATE2X,  ORVC_LAYER_REFLECTION,
                                     ORVC_LAYER_BUMP,       ORVC_LAYER_BUMP2};
const std::vector<const char*> kBlends = {"opaque", "alpha", "add", "multiply", "multiply2x"};

uint8_t AddressMode(lua_State* L, int i, const std::string& what) {
  if (lua_type(L, i) == LUA_TNUMBER) {
    const int64_t v = Integer(L, i, what);
    if (v < 0 || v > 255) Fail(L, what, "expected an address mode 0 to 255");
    return uint8_t(v);
  }
  const std::string s = String(L, i, what);
  if (s == "wrap") return ORVC_ADDRESS_WRAP;
  if (s == "clamp") return ORVC_ADDRESS_CLAMP;
  Fail(L, what, "'" + s + "' is not 'wrap' or 'clamp'");
}

int B_material(lua_State* L) {
  Impl& c = Ctx(L);
  Args a(L, "material");
  OrvcMaterialSpec desc;
  desc.name = a.Str("name", "");
  a.Name(desc.name);
  OrvcMaterialColours colours;
  a.Floats("diffuse", colours.diffuse);
  std::copy(colours.diffuse, colours.diffuse + 4, colours.ambient);
  a.Floats("ambient", colours.ambient);
  a.Floats("specular", colours.specular);
  a.Floats("emissive", colours.emissive);
  colours.power = float(a.Number("power", 0.0));

  // Texture slots: distinct textures in the order the layers first use them.
  auto slotOf = [&](int texture) {
    for (size_t k = 0; k < desc.textures.size(); ++k)
      if (desc.textures[k] == texture) return uint8_t(k);
    desc.textures.push_back(texture);
    return uint8_t(desc.textures.size() - 1);
  };
  if (a.Has("texture") && a.Has("layers")) Fail(L, a.What(), "give either texture or layers, not both");
  if (a.Has("texture")) {
    // The usual lit texture: the image modulated with the lit colour.
    OrvcMaterialLayer layer;
    layer.kind = ORVC_LAYER_MODULATE;
    layer.slot = slotOf(a.Handle("texture", OrvcKind::Texture, -1));
    desc.layers.push_back(layer);
  }
  if (a.Get("layers")) {
    const int t = lua_gettop(L);
    if (!lua_istable(L, t)) Fail(L, a.Field("layers"), "expected a list of layer tables, got " + TypeText(L, t));
    const lua_Integer n = luaL_len(L, t);
    if (n > 8) Fail(L, a.Field("layers"), "at most 8 layers");
    for (lua_Integer k = 1; k <= n; ++k) {
      lua_rawgeti(L, t, k);
      Args l(L, ("layer " + std::to_string(k) + " of " + a.What()).c_str(), lua_gettop(L));
      OrvcMaterialLayer layer;
      if (l.Get("kind")) {
        if (lua_type(L, -1) == LUA_TNUMBER) {
          layer.kind = ::Word(L, -1, l.Field("kind"));
          lua_pop(L, 1);
        } else {
          lua_pop(L, 1);
          layer.kind = kLayerKindValues[l.Choice("kind", kLayerKinds, 0)];
        }
      }
      if (l.Has("texture")) layer.slot = slotOf(l.Handle("texture", OrvcKind::Texture, -1));
      const int32_t set = l.Int("set", 0);
      if (set < 0 || set > 255) Fail(L, l.Field("set"), "expected a coordinate set 0 to 255");
      layer.set = uint8_t(set);
      if (l.Get("address")) {
        layer.address[0] = layer.address[1] = layer.address[2] = AddressMode(L, -1, l.Field("address"));
        lua_pop(L, 1);
      }
      const char* axes[3] = {"address_u", "address_v", "address_w"};
      for (int ax = 0; ax < 3; ++ax) {
        if (l.Get(axes[ax])) {
          layer.address[ax] = AddressMode(L, -1, l.Field(axes[ax]));
          lua_pop(L, 1);
        }
      }
      l.Done();
      lua_pop(L, 1);
      desc.layers.push_back(layer);
    }
    lua_pop(L, 1);
  }
  if (a.Get("blend")) {
    if (lua_type(L, -1) == LUA_TNUMBER) {
      desc.blend = ::Word(L, -1, a.Field("blend"));
      lua_pop(L, 1);
    } else {
      lua_pop(L, 1);
      desc.blend = uint32_t(a.Choice("blend", kBlends, 0) + 1);
    }
  }
  desc.options = a.Word("options", 0);
  if (a.Bool("alpha_test", false)) desc.options |= ORVC_MATERIAL_ALPHA_TEST;
  a.Done();
  std::string why;
  const int index = c.stage->AddMaterial(desc, colours, why);
  if (index < 0) Fail(L, a.What(), why);
  PushHandle(L, OrvcKind::Material, index);
  return 1;
}

// ---------------------------------------------------------------------------
// Meshes.

// What a mesh's arrays take, kept once more by its record.
uint64_t MeshBytes(const OrvcMeshData& d) {
  uint64_t n = (d.positions.size() + d.normals.size() + d.colors.size() + d.indices.size()) * 4;
  for (const OrvcCoordSet& s : d.sets) n += (s.coords.size() + s.indices.size()) * 4;
  return n;
}

// Fields every mesh builder takes after its geometry.
int FinishMesh(lua_State* L, Args& a, OrvcMeshData& data) {
  Impl& c = Ctx(L);
  std::vector<OrvcSubset> subsets;
  if (a.Has("material") && a.Has("subsets")) Fail(L, a.What(), "give either material or subsets, not both");
  if (a.Has("material")) subsets.push_back({a.Handle("material", OrvcKind::Material, -1), 0, data.TriangleCount()});
  if (a.Get("subsets")) {
    const int t = lua_gettop(L);
    if (!lua_istable(L, t)) Fail(L, a.Field("subsets"), "expected a list of {material=, first=, count=}");
    const lua_Integer n = luaL_len(L, t);
    for (lua_Integer k = 1; k <= n; ++k) {
      lua_rawgeti(L, t, k);
      Args s(L, ("subset " + std::to_string(k) + " of " + a.What()).c_str(), lua_gettop(L));
      OrvcSubset sub;
      sub.material = s.Handle("material", OrvcKind::Material, -1);
      sub.firstTriangle = s.Int("first", 0);
      sub.triangleCount = s.Int("count", data.TriangleCount() - sub.firstTriangle);
      s.Done();
      lua_pop(L, 1);
      subsets.push_back(sub);
    }
    lua_pop(L, 1);
  }
  if (a.Has("color")) data.colors.assign(size_t(data.VertexCount()), a.Colour("color", 0));
  if (a.Get("uv_scale")) {
    float s[3] = {1, 1, 1};
    if (lua_type(L, -1) == LUA_TNUMBER) {
      s[0] = s[1] = float(Number(L, -1, a.Field("uv_scale")));
    } else if (lua_istable(L, -1) && luaL_len(L, -1) == 2) {
      for (int k = 0; k < 2; ++k) {
        lua_rawgeti(L, -1, k + 1);
        s[k] = float(Number(L, -1, a.Field("uv_scale")));
        lua_pop(L, 1);
      }
    } else {
      Fail(L, a.Field("uv_scale"), "expected a number or {u, v}, got " + TypeText(L, -1));
    }
    lua_pop(L, 1);
    for (OrvcCoordSet& set : data.sets)
      for (size_t k = 0; k < set.coords.size(); ++k) set.coords[k] *= s[k % 2];
  }
  uint32_t flags = a.Word("flags", 0);
  if (a.Bool("two_sided", false)) flags |= OV_MESH_TWO_SIDED;
  const std::string name = a.Str("name", "");
  a.Done();
  Charge(L, a.What(), MeshBytes(data));
  std::string why;
  const int index = c.stage->AddMesh(data, subsets, flags, why);
  if (index < 0) Fail(L, a.What(), why);
  c.meshNames.push_back(name);
  PushHandle(L, OrvcKind::Mesh, index);
  return 1;
}

float Positive(lua_State* L, Args& a, const char* key, float def) {
  const double v = a.Number(key, def);
  if (!(v > 0)) Fail(L, a.Field(key), "expected a size above 0, got " + std::to_string(v));
  return float(v);
}

int Count(lua_State* L, Args& a, const char* key, int def, int lo, int hi) {
  const int v = a.Int(key, def);
  if (v < lo || v > hi) Fail(L, a.Field(key), "expected " + std::to_string(lo) + " to " + std::to_string(hi));
  return v;
}

int B_box(lua_State* L) {
  Args a(L, "box");
  float s[3] = {1, 1, 1};
  a.Vector("size", s, true);
  if (!(s[0] > 0 && s[1] > 0 && s[2] > 0)) Fail(L, a.Field("size"), "sizes must be above 0");
  OrvcMeshData d = OrvcMakeBox(s[0], s[1], s[2]);
  return FinishMesh(L, a, d);
}

int B_rounded_box(lua_State* L) {
  Args a(L, "rounded_box");
  float s[3] = {1, 1, 1};
  a.Vector("size", s, true);
  if (!(s[0] > 0 && s[1] > 0 && s[2] > 0)) Fail(L, a.Field("size"), "sizes must be above 0");
  const float r = float(a.Number("radius", std::min({s[0], s[1], s[2]}) * 0.1));
  if (!(r >= 0)) Fail(L, a.Field("radius"), "expected a radius of 0 or more");
  const float half = std::min({s[0], s[1], s[2]}) * 0.5f;
  if (r > half) {
    Fail(L, a.Field("radius"),
         "a radius of " + Decimal(r) + " is more than half the smallest side (" + Decimal(half) + ")");
  }
  OrvcMeshData d = OrvcMakeRoundedBox(s[0], s[1], s[2], r, Count(L, a, "segments", 4, 1, 64));
  return FinishMesh(L, a, d);
}

int B_plane(lua_State* L) {
  Args a(L, "plane");
  float s[2] = {1, 1};
  if (a.Get("size")) {
    if (lua_type(L, -1) == LUA_TNUMBER) {
      s[0] = s[1] = float(Number(L, -1, a.Field("size")));
    } else if (lua_istable(L, -1) && luaL_len(L, -1) == 2) {
      for (int k = 0; k < 2; ++k) {
        lua_rawgeti(L, -1, k + 1);
        s[k] = float(Number(L, -1, a.Field("size")));
        lua_pop(L, 1);
      }
    } else {
      Fail(L, a.Field("size"), "expected a number or {x, y}, got " + TypeText(L, -1));
    }
    lua_pop(L, 1);
  }
  if (!(s[0] > 0 && s[1] > 0)) Fail(L, a.Field("size"), "sizes must be above 0");
  OrvcMeshData d = OrvcMakePlane(s[0], s[1]);
  return FinishMesh(L, a, d);
}

int B_disc(lua_State* L) {
  Args a(L, "disc");
  OrvcMeshData d = OrvcMakeDisc(Positive(L, a, "radius", 0.5f), Count(L, a, "segments", 32, 3, 4096));
  return FinishMesh(L, a, d);
}

int B_cylinder(lua_State* L) {
  Args a(L, "cylinder");
  const float r = Positive(L, a, "radius", 0.5f), h = Positive(L, a, "height", 1.0f);
  const int seg = Count(L, a, "segments", 32, 3, 4096);
  const bool caps = a.Bool("caps", true);
  const bool top = a.Bool("top", caps), bottom = a.Bool("bottom", caps);
  OrvcMeshData d = OrvcMakeCylinder(r, h, seg, top, bottom);
  return FinishMesh(L, a, d);
}

int B_cone(lua_State* L) {
  Args a(L, "cone");
  const float r = Positive(L, a, "radius", 0.5f), h = Positive(L, a, "height", 1.0f);
  const int seg = Count(L, a, "segments", 32, 3, 4096);
  OrvcMeshData d = OrvcMakeCone(r, h, seg, a.Bool("bottom", true));
  return FinishMesh(L, a, d);
}

int B_sphere(lua_State* L) {
  Args a(L, "sphere");
  const float r = Positive(L, a, "radius", 0.5f);
  const int seg = Count(L, a, "segments", 32, 3, 4096), rings = Count(L, a, "rings", 16, 2, 4096);
  if (seg * rings > (1 << 20)) Fail(L, a.What(), "segments x rings above 1048576 vertices");
  // Positions, normals, coordinates and indices while the shape is made.
  Transient shape(L, a.What(), uint64_t(seg + 1) * uint64_t(rings + 1) * 48);
  OrvcMeshData d = OrvcMakeSphere(r, seg, rings);
  return FinishMesh(L, a, d);
}

template <class T>
std::vector<T> Numbers(lua_State* L, Args& a, const char* key, bool integers) {
  std::vector<T> out;
  if (!a.Get(key)) return out;
  std::vector<double> raw;
  Flatten(L, lua_gettop(L), a.Field(key), raw);
  lua_pop(L, 1);
  for (size_t k = 0; k < raw.size(); ++k) {
    if (integers && (raw[k] != std::floor(raw[k]) || raw[k] < 0 || raw[k] > double(UINT32_MAX))) {
      Fail(L, a.Field(key), "entry " + std::to_string(k + 1) + " is not an index (a whole number of 0 or more)");
    }
    out.push_back(T(raw[k]));
  }
  return out;
}

int B_mesh(lua_State* L) {
  Args a(L, "mesh");
  a.Name(a.Str("name", ""));
  OrvcMeshData d;
  d.positions = Numbers<float>(L, a, "positions", false);
  if (d.positions.size() % 3) Fail(L, a.Field("positions"), "expected x, y, z per vertex");
  d.indices = Numbers<uint32_t>(L, a, "indices", true);
  if (a.Get("colors")) {
    const int t = lua_gettop(L);
    if (!lua_istable(L, t)) Fail(L, a.Field("colors"), "expected a list of colours, one per vertex");
    const lua_Integer n = luaL_len(L, t);
    for (lua_Integer k = 1; k <= n; ++k) {
      lua_rawgeti(L, t, k);
      d.colors.push_back(::Colour(L, -1, a.Field("colors") + " entry " + std::to_string(k)));
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
  bool smooth = false;
  if (a.Get("normals")) {
    if (lua_type(L, -1) == LUA_TSTRING) {
      if (std::string(lua_tostring(L, -1)) != "smooth") Fail(L, a.Field("normals"), "expected a list or \"smooth\"");
      smooth = true;
      lua_pop(L, 1);
    } else {
      lua_pop(L, 1);
      d.normals = Numbers<float>(L, a, "normals", false);
    }
  }
  if (a.Has("uv") && a.Has("sets")) Fail(L, a.What(), "give either uv or sets, not both");
  if (a.Has("uv")) {
    OrvcCoordSet set;
    set.coords = Numbers<float>(L, a, "uv", false);
    set.indices = d.indices;
    d.sets.push_back(std::move(set));
  }
  if (a.Get("sets")) {
    const int t = lua_gettop(L);
    if (!lua_istable(L, t)) Fail(L, a.Field("sets"), "expected a list of {coords=, indices=}");
    const lua_Integer n = luaL_len(L, t);
    for (lua_Integer k = 1; k <= n; ++k) {
      lua_rawgeti(L, t, k);
      Args s(L, ("set " + std::to_string(k) + " of " + a.What()).c_str(), lua_gettop(L));
      OrvcCoordSet set;
      set.word = s.Word("word", 0);
      set.coords = Numbers<float>(L, s, "coords", false);
      set.indices = s.Has("indices") ? Numbers<uint32_t>(L, s, "indices", true) : d.indices;
      s.Done();
      lua_pop(L, 1);
      d.sets.push_back(std::move(set));
    }
    lua_pop(L, 1);
  }
  const std::string problem = OrvcCheckMesh(d);
  if (!problem.empty()) Fail(L, a.What(), problem);
  if (smooth) OrvcSmoothNormals(d);
  return FinishMesh(L, a, d);
}

// ---------------------------------------------------------------------------
// Rotations (quaternions, scalar first).

void PushQuat(lua_State* L, const OvQuat& q) {
  lua_createtable(L, 4, 0);
  const float v[4] = {q.s, q.v.x, q.v.y, q.v.z};
  for (int k = 0; k < 4; ++k) {
    lua_pushnumber(L, v[k]);
    lua_rawseti(L, -2, k + 1);
  }
}

OvVector Axis(lua_State* L, int i, const std::string& what) {
  if (lua_type(L, i) == LUA_TSTRING) {
    const std::string s = lua_tostring(L, i);
    if (s == "x") return {1, 0, 0};
    if (s == "y") return {0, 1, 0};
    if (s == "z") return {0, 0, 1};
  }
  float v[3];
  if (lua_type(L, i) != LUA_TTABLE) Fail(L, what, "expected \"x\", \"y\", \"z\" or {x, y, z}, got " + TypeText(L, i));
  Vector3(L, i, what, v);
  OvVector a{v[0], v[1], v[2]};
  if (OvLength(a) == 0) Fail(L, what, "the axis has no length");
  OvNormalize(a);
  return a;
}

// rotation(axis, degrees)
int H_rotation(lua_State* L) {
  const OvVector axis = Axis(L, 1, "rotation: axis");
  OvQuat q;
  MakeQuat(q, axis, float(Number(L, 2, "rotation: degrees") * C_PI / 180.0));
  PushQuat(L, q);
  return 1;
}

// euler(x, y, z): degrees about X, then Y, then Z (parent axes).
int H_euler(lua_State* L) {
  OvQuat q{1, {0, 0, 0}};
  const OvVector axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int k = 0; k < 3; ++k) {
    OvQuat r;
    MakeQuat(r, axes[k], float(Number(L, k + 1, "euler: angle") * C_PI / 180.0));
    OvQuatCombine(q, r);  // parent axes: each turn applies after the ones before
  }
  PushQuat(L, q);
  return 1;
}

OvQuat LookAt(lua_State* L, const float eye[3], const float target[3], const float upIn[3], const std::string& what) {
  // A camera looks along its negative local z axis with local y up.
  OvVector f{target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]};
  if (OvLength(f) == 0) Fail(L, what, "the eye and the target are the same point");
  OvNormalize(f);
  OvVector up{upIn[0], upIn[1], upIn[2]};
  OvVector x;
  OvVectorCrossProd(x, f, up);
  if (OvLength(x) < 1e-6f) Fail(L, what, "the view direction is parallel to the up direction");
  OvNormalize(x);
  const OvVector z = OvNeg(f);
  OvVector y;
  OvVectorCrossProd(y, z, x);
  OvMatrix m;
  OvMatrixIdentity(m);
  OvMatrixSet3Row(m, x, y, z);
  OvQuat q;
  OvQuatFromMatrix(q, m);
  return q;
}

// look_at(eye, target [, up]): the rotation that points a camera at eye
// towards the target.
int H_look_at(lua_State* L) {
  float eye[3], target[3], up[3] = {0, 0, 1};
  Vector3(L, 1, "look_at: eye", eye);
  Vector3(L, 2, "look_at: target", target);
  if (!lua_isnoneornil(L, 3)) Vector3(L, 3, "look_at: up", up);
  PushQuat(L, LookAt(L, eye, target, up, "look_at"));
  return 1;
}

int H_rgb(lua_State* L) {
  const double a = lua_isnoneornil(L, 4) ? 1.0 : Number(L, 4, "rgb: alpha");
  const uint32_t c = uint32_t(Byte01(a)) << 24 | uint32_t(Byte01(Number(L, 1, "rgb: red"))) << 16 |
                     uint32_t(Byte01(Number(L, 2, "rgb: green"))) << 8 | Byte01(Number(L, 3, "rgb: blue"));
  lua_pushinteger(L, lua_Integer(c));
  return 1;
}

int H_bits(lua_State* L) {
  uint32_t mask = 0;
  for (int i = 1; i <= lua_gettop(L); ++i) {
    const int64_t b = Integer(L, i, "bits: bit number");
    if (b < 0 || b > 31) Fail(L, "bits", "bit numbers are 0 to 31, got " + std::to_string(b));
    mask |= 1u << b;
  }
  lua_pushinteger(L, lua_Integer(mask));
  return 1;
}

int H_seconds(lua_State* L) {
  const OvDbHeader& h = Ctx(L).stage->Db().Header();
  const double units = Number(L, 1, "seconds") * double(h.frameRate) * double(h.timeUnitsPerFrame);
  if (std::abs(units) > 2147483647.0) Fail(L, "seconds", "the time does not fit the time units");
  lua_pushinteger(L, lua_Integer(std::llround(units)));
  return 1;
}

int H_print(lua_State* L) {
  Impl& c = Ctx(L);
  std::string line;
  for (int i = 1; i <= lua_gettop(L); ++i) {
    if (i > 1) line += "\t";
    line += luaL_tolstring(L, i, nullptr);
    lua_pop(L, 1);
  }
  if (c.options.print) {
    c.options.print(line);
  } else {
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Clumps and logical objects.

void ReadQuat(lua_State* L, int i, const std::string& what, float out[4]) {
  if (lua_type(L, i) != LUA_TTABLE || luaL_len(L, i) != 4) {
    Fail(L, what, "expected a quaternion {s, x, y, z} (see rotation, euler, look_at), got " + TypeText(L, i));
  }
  double q[4], len = 0;
  for (int k = 0; k < 4; ++k) {
    lua_rawgeti(L, i, k + 1);
    q[k] = Number(L, -1, what);
    lua_pop(L, 1);
    len += q[k] * q[k];
  }
  if (len < 1e-12) Fail(L, what, "the quaternion has no length");
  len = std::sqrt(len);
  for (int k = 0; k < 4; ++k) out[k] = float(q[k] / len);
}

void ReadLight(lua_State* L, Args& owner, OvLightData& d) {
  Args a(L, (owner.What() + ": light").c_str(), lua_gettop(L));
  d.type = a.Choice("type", {"", "point", "spot", "directional"}, OV_LIGHT_POINT);
  if (d.type == 0) Fail(L, a.Field("type"), "expected 'point', 'spot' or 'directional'");
  a.Floats("diffuse", d.diffuse);
  a.Floats("specular", d.specular);
  a.Floats("ambient", d.ambient);
  float v[3] = {d.position.x, d.position.y, d.position.z};
  a.Vector("position", v);
  d.position = {v[0], v[1], v[2]};
  float dir[3] = {d.direction.x, d.direction.y, d.direction.z};
  a.Vector("direction", dir);
  d.direction = {dir[0], dir[1], dir[2]};
  d.range = float(a.Number("range", d.range));
  d.falloff = float(a.Number("falloff", d.falloff));
  if (a.Get("attenuation")) {
    Vector3(L, -1, a.Field("attenuation"), d.attenuation);
    lua_pop(L, 1);
  }
  // Cone angles are authored in degrees and stored in radians.
  d.theta = float(a.Number("inner_angle", 0.0) * C_PI / 180.0);
  d.phi = float(a.Number("outer_angle", 0.0) * C_PI / 180.0);
  a.Done();
}

void ReadCamera(lua_State* L, Args& owner, OrvcCameraSpec& cam) {
  Args a(L, (owner.What() + ": camera").c_str(), lua_gettop(L));
  cam.perspective = !a.Bool("orthographic", false);
  if (cam.perspective) {
    cam.fov = float(a.Number("fov", 45.0) * C_PI / 180.0);
    if (!(cam.fov > 0 && cam.fov < C_PI)) Fail(L, a.Field("fov"), "expected degrees between 0 and 180");
    if (a.Has("size")) Fail(L, a.Field("size"), "only an orthographic camera has a size");
  } else {
    cam.fov = float(a.Number("size", 100.0));
    if (a.Has("fov")) Fail(L, a.Field("fov"), "an orthographic camera has a size, not a field of view");
  }
  cam.nearClip = float(a.Number("near", cam.nearClip));
  cam.farClip = float(a.Number("far", cam.farClip));
  if (!(cam.farClip > cam.nearClip)) Fail(L, a.What(), "far must be beyond near");
  cam.fogNear = float(a.Number("fog_near", cam.fogNear));
  cam.fogFar = float(a.Number("fog_far", cam.fogFar));
  a.Done();
}

int TakeEntry(lua_State* L, int i, int set, const std::string& what);
int AnimationFromList(lua_State* L, int list, const std::string& what);

int B_clump(lua_State* L) {
  Impl& c = Ctx(L);
  Args a(L, "clump");
  OrvcClump k;
  k.where = Where(L);
  k.name = a.Str("name", "");
  a.Name(k.name);
  if (a.Has("id")) {
    k.hasId = true;
    k.id = a.Int("id", 0);
  }
  k.mesh = a.Handle("mesh", OrvcKind::Mesh, -1);
  a.Vector("position", k.position);
  if (a.Has("rotation") && a.Has("look_at")) Fail(L, a.What(), "give either rotation or look_at, not both");
  if (a.Get("rotation")) {
    ReadQuat(L, -1, a.Field("rotation"), k.rotation);
    lua_pop(L, 1);
  }
  if (a.Has("look_at")) {
    float target[3];
    a.Vector("look_at", target);
    const float up[3] = {0, 0, 1};
    const OvQuat q = LookAt(L, k.position, target, up, a.Field("look_at"));
    k.rotation[0] = q.s, k.rotation[1] = q.v.x, k.rotation[2] = q.v.y, k.rotation[3] = q.v.z;
  }
  a.Vector("scale", k.scale, true);
  k.flags = a.Word("flags", 0);
  k.switchWord = a.Word("switch", 0);
  if (a.Bool("invisible", false)) k.switchWord |= 0x10000u;
  if (a.Has("light") && a.Has("camera")) Fail(L, a.What(), "a clump carries a light or a camera, not both");
  if (a.Get("light")) {
    k.ext = OrvcClump::Ext::Light;
    ReadLight(L, a, k.light);
    lua_pop(L, 1);
  }
  if (a.Get("camera")) {
    k.ext = OrvcClump::Ext::Camera;
    ReadCamera(L, a, k.camera);
    lua_pop(L, 1);
  }
  if (a.Get("animation")) {
    if (TestHandle(L, -1)) {
      k.aniSet = HandleOf(L, -1, OrvcKind::Animation, a.Field("animation"));
    } else if (lua_istable(L, -1)) {
      k.aniSet = AnimationFromList(L, lua_gettop(L), a.Field("animation"));
    } else {
      Fail(L, a.Field("animation"), "expected an animation or a list of tracks and nodes, got " + TypeText(L, -1));
    }
    lua_pop(L, 1);
  }
  k.emitObject = a.Handle("emit_object", OrvcKind::Object, -1);
  k.placement = a.Int("placement", -1);
  std::vector<int> children;
  if (a.Get("children")) {
    const int t = lua_gettop(L);
    if (!lua_istable(L, t)) Fail(L, a.Field("children"), "expected a list of clumps, got " + TypeText(L, t));
    const lua_Integer n = luaL_len(L, t);
    for (lua_Integer i = 1; i <= n; ++i) {
      lua_rawgeti(L, t, i);
      const std::string what = a.Field("children") + " entry " + std::to_string(i);
      const int child = HandleOf(L, -1, OrvcKind::Clump, what);
      lua_pop(L, 1);
      OrvcClump& ch = c.stage->Clump(child);
      if (ch.parent >= 0 || c.objectOf[size_t(child)] >= 0 ||
          std::find(children.begin(), children.end(), child) != children.end()) {
        Fail(L, what, c.stage->Describe({OrvcKind::Clump, child}) + " already has a place in a tree");
      }
      children.push_back(child);
    }
    lua_pop(L, 1);
  }
  a.Done();
  k.children = children;
  const int index = c.stage->AddClump(std::move(k));
  for (int ch : children) c.stage->Clump(ch).parent = index;
  c.objectOf.push_back(-1);
  PushHandle(L, OrvcKind::Clump, index);
  return 1;
}

const std::vector<std::pair<const char*, int32_t>> kObjectFlags = {
    {"collidable", 0x1}, {"start_frozen", 0x10000}, {"dies_with_parent", 0x20000}, {"immune", 0x40000}};

int B_object(lua_State* L) {
  Impl& c = Ctx(L);
  Args a(L, "object");
  OrvcObject o;
  o.where = Where(L);
  o.name = a.Str("name", "");
  a.Name(o.name);
  if (a.Has("id")) {
    o.hasId = true;
    o.id = a.Int("id", 0);
  }
  if (a.Get("flags")) {
    if (lua_type(L, -1) == LUA_TNUMBER) {
      o.flags = int32_t(::Word(L, -1, a.Field("flags")));
    } else if (lua_istable(L, -1)) {
      const lua_Integer n = luaL_len(L, -1);
      for (lua_Integer i = 1; i <= n; ++i) {
        lua_rawgeti(L, -1, i);
        const std::string f = String(L, -1, a.Field("flags"));
        lua_pop(L, 1);
        auto it = std::find_if(kObjectFlags.begin(), kObjectFlags.end(), [&](auto& p) { return f == p.first; });
        if (it == kObjectFlags.end()) {
          Fail(L, a.Field("flags"), "'" + f + "' is not one of collidable, start_frozen, dies_with_parent, immune");
        }
        o.flags |= it->second;
      }
    } else {
      Fail(L, a.Field("flags"), "expected a number or a list of flag names, got " + TypeText(L, -1));
    }
    lua_pop(L, 1);
  }
  const int32_t category = a.Int("category", 0);
  // The category is the flag byte itself with bit 0 (collidable) left out: 2, 4, 24, 26, ...
  if (category < 0 || category > 254 || (category & 1) != 0) {
    Fail(L, a.Field("category"), "expected an even collision category 0 to 254, got " + std::to_string(category));
  }
  o.flags |= category;
  o.health = a.Int("health", 0);
  o.fullHealth = a.Int("full_health", o.health);
  o.dPower = a.Int("power", 0);
  o.parentHurtRate = a.Int("parent_hurt_rate", 0);
  o.creationFlags = a.Int("creation_flags", 0);
  if (a.Bool("template", false)) o.creationFlags |= 1;
  const int self = c.stage->ObjectCount();
  auto take = [&](int clump, const std::string& what) {
    OrvcClump& k = c.stage->Clump(clump);
    if (k.parent >= 0 || c.objectOf[size_t(clump)] >= 0) {
      Fail(L, what, c.stage->Describe({OrvcKind::Clump, clump}) + " already has a place in a tree");
    }
    c.objectOf[size_t(clump)] = self;
    o.clumps.push_back(clump);
  };
  if (a.Has("clump") && a.Has("clumps")) Fail(L, a.What(), "give either clump or clumps, not both");
  if (a.Has("clump")) take(a.Handle("clump", OrvcKind::Clump, -1), a.Field("clump"));
  if (a.Get("clumps")) {
    const int t = lua_gettop(L);
    if (!lua_istable(L, t)) Fail(L, a.Field("clumps"), "expected a list of clumps, got " + TypeText(L, t));
    const lua_Integer n = luaL_len(L, t);
    for (lua_Integer i = 1; i <= n; ++i) {
      lua_rawgeti(L, t, i);
      const std::string what = a.Field("clumps") + " entry " + std::to_string(i);
      const int clump = HandleOf(L, -1, OrvcKind::Clump, what);
      lua_pop(L, 1);
      take(clump, what);
    }
    lua_pop(L, 1);
  }
  a.Done();
  c.stage->AddObject(std::move(o));
  PushHandle(L, OrvcKind::Object, self);
  return 1;
}

// ---------------------------------------------------------------------------
// Animation sets, tracks and nodes.

int PushEntry(lua_State* L, OrvcEntry entry) {
  Impl& c = Ctx(L);
  c.entries.push_back({std::move(entry), -1});
  auto* index = static_cast<int*>(lua_newuserdatauv(L, sizeof(int), 0));
  *index = int(c.entries.size()) - 1;
  luaL_setmetatable(L, kEntryMeta);
  return 1;
}

int TakeEntry(lua_State* L, int i, int set, const std::string& what) {
  Impl& c = Ctx(L);
  const int* index = static_cast<const int*>(luaL_testudata(L, i, kEntryMeta));
  if (!index) Fail(L, what, "expected a track{} or node{}, got " + TypeText(L, i));
  Entry& e = c.entries[size_t(*index)];
  if (e.set >= 0) Fail(L, what, "this entry already belongs to animation " + std::to_string(e.set));
  e.set = set;
  c.stage->AddEntry(set, std::move(e.entry));
  return *index;
}

int AnimationFromList(lua_State* L, int list, const std::string& what) {
  Impl& c = Ctx(L);
  std::string why;
  const int set = c.stage->AddAniSet(why);
  if (set < 0) Fail(L, what, why);
  const lua_Integer n = luaL_len(L, list);
  for (lua_Integer i = 1; i <= n; ++i) {
    lua_rawgeti(L, list, i);
    TakeEntry(L, lua_gettop(L), set, what + " entry " + std::to_string(i));
    lua_pop(L, 1);
  }
  return set;
}

int B_animation(lua_State* L) {
  if (lua_type(L, 1) != LUA_TTABLE) Fail(L, "animation", "expected animation{ track{...}, node{...}, ... }");
  // Only the list part: an animation set has no fields of its own.
  lua_pushnil(L);
  while (lua_next(L, 1)) {
    lua_pop(L, 1);
    if (!lua_isinteger(L, -1)) {
      Fail(L, "animation", "expected only a list of entries, got the field " + std::string(luaL_tolstring(L, -1, nullptr)));
    }
  }
  PushHandle(L, OrvcKind::Animation, AnimationFromList(L, 1, "animation"));
  return 1;
}

struct TrackKind {
  const char* name;
  uint32_t id;
  int values;  // per key; -1: from the keys
  bool cubic;  // always stores cubic coefficients
};
const TrackKind kTracks[] = {
    {"position", OV_TRACK_POSITION, 3, false},       {"position_cubic", OV_TRACK_POSITION_CUBIC, 3, true},
    {"rotation", OV_TRACK_ROTATION, 4, false},       {"scale", OV_TRACK_SCALE, 1, false},
    {"vertices", OV_TRACK_VERTICES, -1, false},      {"vertices_cubic", OV_TRACK_VERTICES_CUBIC, -1, true},
    {"uv", OV_TRACK_UV, -1, false},                  {"uv_cubic", OV_TRACK_UV_CUBIC, -1, true},
    {"uv_step", OV_TRACK_UV_STEP, -1, false},        {"visibility", OV_TRACK_VISIBILITY, 0, false},
    {"background", OV_TRACK_BACKGROUND, 3, false},
};
const std::vector<const char*> kKeyModes = {"clamp", "repeat", "pingpong", "cycle"};

void Span(lua_State* L, Args& a, const char* key, int32_t& first, int32_t& last) {
  if (!a.Get(key)) return;
  if (!lua_istable(L, -1) || luaL_len(L, -1) != 2) Fail(L, a.Field(key), "expected {start, end} in time units");
  lua_rawgeti(L, -1, 1);
  first = Int32(L, -1, a.Field(key));
  lua_rawgeti(L, -2, 2);
  last = Int32(L, -1, a.Field(key));
  lua_pop(L, 3);
}

int B_track(lua_State* L) {
  Args a(L, "track");
  OrvcEntry entry;
  entry.where = Where(L);
  const std::string kindName = a.Str("kind", "");
  const TrackKind* kind = nullptr;
  for (const TrackKind& t : kTracks)
    if (kindName == t.name) kind = &t;
  if (!kind) {
    std::string list;
    for (const TrackKind& t : kTracks) list += (list.empty() ? "" : ", ") + std::string(t.name);
    Fail(L, a.Field("kind"), (kindName.empty() ? std::string("missing") : "'" + kindName + "' is not a track kind") +
                                 " (expected one of " + list + ")");
  }
  a.Name(kindName);
  const bool givenCubic = a.Choice("interpolation", {"linear", "cubic"}, kind->cubic ? 1 : 0) == 1;
  if (kind->cubic && !givenCubic) Fail(L, a.Field("interpolation"), "a " + kindName + " track is always cubic");
  if (givenCubic && (kind->id == OV_TRACK_ROTATION || kind->id == OV_TRACK_VISIBILITY || kind->id == OV_TRACK_UV_STEP ||
                     kind->id == OV_TRACK_SCALE)) {
    Fail(L, a.Field("interpolation"), "a " + kindName + " track has no cubic form");
  }
  const bool coefficients = a.Bool("coefficients", false);
  if (coefficients && !givenCubic) Fail(L, a.Field("coefficients"), "only cubic tracks take coefficients");

  OrvcKeyTable table;
  if (!a.Get("keys")) Fail(L, a.What(), "missing field 'keys'");
  const int keys = lua_gettop(L);
  if (!lua_istable(L, keys) || luaL_len(L, keys) < 1) Fail(L, a.Field("keys"), "expected a list of at least one key");
  const lua_Integer n = luaL_len(L, keys);
  std::vector<float> values;
  int perKey = kind->values;
  if (perKey >= 0 && coefficients) perKey *= 4;
  for (lua_Integer k = 1; k <= n; ++k) {
    lua_rawgeti(L, keys, k);
    const std::string what = a.Field("keys") + " key " + std::to_string(k);
    std::vector<double> flat;
    Flatten(L, lua_gettop(L), what, flat);
    lua_pop(L, 1);
    if (flat.empty()) Fail(L, what, "expected {time, values...}");
    if (flat[0] != std::floor(flat[0]) || std::abs(flat[0]) > 2147483647.0) {
      Fail(L, what, "the time must be a whole number of time units");
    }
    const int32_t t = int32_t(flat[0]);
    if (!table.times.empty() && t <= table.times.back()) {
      Fail(L, what, "time " + std::to_string(t) + " is not after the previous key's " +
                        std::to_string(table.times.back()));
    }
    const int got = int(flat.size()) - 1;
    if (perKey < 0) perKey = got;
    if (perKey < 0 || got != perKey) {
      Fail(L, what, "expected " + std::to_string(perKey) + " values after the time, got " + std::to_string(got));
    }
    table.times.push_back(t);
    for (size_t v = 1; v < flat.size(); ++v) values.push_back(float(flat[v]));
  }
  lua_pop(L, 1);
  if (kind->id == OV_TRACK_ROTATION) {
    // Spherical interpolation needs unit quaternions.
    for (size_t k = 0; k < table.times.size(); ++k) {
      float* q = &values[4 * k];
      const double len = std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2] + double(q[3]) * q[3]);
      if (len < 1e-12) Fail(L, a.Field("keys") + " key " + std::to_string(k + 1), "the quaternion has no length");
      for (int v = 0; v < 4; ++v) q[v] = float(q[v] / len);
    }
  }
  table.valuesPerKey = perKey;
  table.values = values;
  if (givenCubic && !coefficients) {
    table.values = OrvcCubicCoefficients(table.times, values, perKey);
    table.valuesPerKey = perKey * 4;
  }
  table.interpolation = givenCubic ? OV_KEY_CUBIC : OV_KEY_LINEAR;
  table.before = uint8_t(a.Choice("before", kKeyModes, OV_KEY_CLAMP));
  table.after = uint8_t(a.Choice("after", kKeyModes, OV_KEY_CLAMP));
  table.rangeStart = table.times.front();
  table.rangeEnd = table.times.back();
  Span(L, a, "range", table.rangeStart, table.rangeEnd);
  table.loopStart = table.rangeStart;
  table.loopEnd = table.rangeEnd;
  Span(L, a, "loop", table.loopStart, table.loopEnd);
  const uint32_t flags = a.Word("flags", 0);
  a.Done();
  std::string why;
  entry.node = OrvcNodeFromBlock(OvNodeClasses(), Ctx(L).stage->Db().Arena(), {0, kind->id},
                                 OrvcTrackBlock(flags, table), why);
  if (!entry.node) Fail(L, a.What(), why);
  entry.typeName = "track " + kindName;
  return PushEntry(L, std::move(entry));
}

// Labels compare without leading tabs and spaces and without trailing colons
// and spaces: "Timing(sec)" finds "Timing(sec):", "Var From" finds "\tVar From:".
std::string NormalLabel(const char* label) {
  std::string s = label ? label : "";
  const size_t start = s.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  s = s.substr(start);
  while (!s.empty() && (s.back() == ':' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

std::string Quote(const char* label) {
  std::string s;
  for (const char* p = label; p && *p; ++p) s += *p == '\t' ? std::string("\\t") : std::string(1, *p);
  return "'" + s + "'";
}

const OvNodeType* FindNodeType(lua_State* L, const std::string& name, const std::string& what) {
  std::vector<std::string> similar;
  std::string lowered = name;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), ::tolower);
  for (OvNodeType* t = OvNodeClasses().First(); t; t = t->m_next) {
    const char* n = t->GetName();
    if (!n) continue;
    if (name == n) return t;
    std::string l = n;
    std::transform(l.begin(), l.end(), l.begin(), ::tolower);
    if (l.find(lowered) != std::string::npos || lowered.find(l) != std::string::npos) similar.push_back(n);
  }
  std::string hint;
  for (const std::string& s : similar) hint += (hint.empty() ? " (did you mean " : " or ") + ("'" + s + "'");
  if (!hint.empty()) hint += "?)";
  Fail(L, what, "no node type is named '" + name + "'" + hint);
}

void BlockFromTable(lua_State* L, int t, const std::string& what, std::vector<uint8_t>& out) {
  if (!lua_istable(L, t) || luaL_len(L, t) < 1) Fail(L, what, "expected {\"layout\", values...}");
  lua_rawgeti(L, t, 1);
  const std::string layout = String(L, -1, what + " layout");
  lua_pop(L, 1);
  OrvcBlockWriter w;
  lua_Integer next = 2;
  const lua_Integer n = luaL_len(L, t);
  for (char letter : layout) {
    if (letter == ' ') continue;
    if (next > n) Fail(L, what, "the layout '" + layout + "' has more letters than there are values");
    lua_rawgeti(L, t, next);
    const std::string item = what + " value " + std::to_string(next - 1) + " ('" + std::string(1, letter) + "')";
    std::string why;
    bool ok = false;
    if (lua_type(L, -1) == LUA_TSTRING) {
      ok = w.Text(letter, String(L, -1, item).c_str(), why);
    } else if (lua_isinteger(L, -1)) {
      ok = w.Integer(letter, lua_tointeger(L, -1), why);
    } else if (lua_type(L, -1) == LUA_TNUMBER) {
      ok = w.Real(letter, lua_tonumber(L, -1), why);
    } else if (lua_isboolean(L, -1)) {
      ok = w.Integer(letter, lua_toboolean(L, -1) ? 1 : 0, why);
    } else {
      why = "expected a number or a string, got " + TypeText(L, -1);
    }
    if (!ok) Fail(L, item, why);
    lua_pop(L, 1);
    ++next;
  }
  if (next <= n) Fail(L, what, "more values than the layout '" + layout + "' has letters");
  out = w.Bytes();
}

// One parameter value into its slot, by the parameter's kind.
void ParamValue(lua_State* L, int i, const OvNodeParamDesc& d, int slot, OrvcEntry& e, const std::string& what) {
  Impl& c = Ctx(L);
  OvParamValue& v = e.values[size_t(slot)];
  const int32_t kind = OvParamBaseKind(d.kind);
  switch (kind) {
    case OV_PK_REAL:
      v.w[0] = std::bit_cast<uint32_t>(float(Number(L, i, what)));
      return;
    case OV_PK_CHECK:
      v.w[0] = Boolean(L, i, what) ? 1 : 0;
      return;
    case OV_PK_COLOUR:
      v.w[0] = Colour(L, i, what);
      return;
    case OV_PK_FLAG_PAIR: {
      if (lua_type(L, i) == LUA_TNUMBER) {
        v.w[0] = v.w[1] = Word(L, i, what);
        return;
      }
      if (lua_istable(L, i)) {
        lua_getfield(L, i, "mask");
        lua_getfield(L, i, "value");
        if (lua_isnil(L, -1) && lua_isnil(L, -2)) {
          lua_pop(L, 2);
          lua_rawgeti(L, i, 1);
          lua_rawgeti(L, i, 2);
        }
        if (!lua_isnil(L, -2) && !lua_isnil(L, -1)) {
          v.w[0] = Word(L, -2, what + " mask");
          v.w[1] = Word(L, -1, what + " value");
          lua_pop(L, 2);
          return;
        }
        lua_pop(L, 2);
      }
      Fail(L, what, "expected a flag pair {mask, value}, got " + TypeText(L, i));
    }
    case OV_PK_REF: {
      if (lua_isboolean(L, i) && !lua_toboolean(L, i)) return;  // false: none (all -1)
      if (const OrvcHandle* h = TestHandle(L, i)) {
        e.refs.push_back({slot, *h});
        return;
      }
      if (lua_type(L, i) == LUA_TNUMBER) {
        v.w[0] = Word(L, i, what);
        return;
      }
      if (lua_istable(L, i) && luaL_len(L, i) >= 1 && luaL_len(L, i) <= 4) {
        for (int k = 0; k < luaL_len(L, i); ++k) {
          lua_rawgeti(L, i, k + 1);
          v.w[k] = Word(L, -1, what);
          lua_pop(L, 1);
        }
        return;
      }
      Fail(L, what, "expected a clump, object or other item, a number, or {words...}, got " + TypeText(L, i));
    }
    case OV_PK_SPIN_AXIS:
    case OV_PK_AXIS:
      if (lua_type(L, i) == LUA_TSTRING) {
        const std::string s = lua_tostring(L, i);
        if (s == "x" || s == "y" || s == "z") {
          v.w[0] = uint32_t(s[0] - 'x');
          return;
        }
        Fail(L, what, "expected \"x\", \"y\", \"z\" or a number, got " + TypeText(L, i));
      }
      v.w[0] = Word(L, i, what);
      return;
    case OV_PK_CHOICE: {
      const int count = OvParamChoiceCount(d);
      if (lua_type(L, i) == LUA_TSTRING) {
        const std::string s = lua_tostring(L, i);
        std::string list;
        for (int k = 0; k < count; ++k) {
          if (s == OvParamChoice(d, k)) {
            v.w[0] = uint32_t(k);
            return;
          }
          list += (list.empty() ? "" : ", ") + Quote(OvParamChoice(d, k));
        }
        Fail(L, what, "'" + s + "' is not one of " + list);
      }
      const int64_t k = Integer(L, i, what);
      if (count > 0 && (k < 0 || k >= count)) {
        Fail(L, what, "choice " + std::to_string(k) + " is beyond the " + std::to_string(count) + " choices");
      }
      v.w[0] = uint32_t(k);
      return;
    }
    case OV_PK_SOUND_FILE: {
      // The node stores an index into the sound list: a sound handle, a
      // number, or a file name found (or added, to be found at run time) by
      // name.
      if (TestHandle(L, i)) {
        v.w[0] = uint32_t(HandleOf(L, i, OrvcKind::Sound, what));
        return;
      }
      if (lua_type(L, i) == LUA_TNUMBER) {
        v.w[0] = Word(L, i, what);
        return;
      }
      const std::string name = String(L, i, what);
      if (name.empty()) Fail(L, what, "expected a sound or a sound file name, got an empty text");
      const OvSoundDatabase* sounds = c.stage->Db().SoundDatabase();
      for (uint32_t k = 0; sounds && k < sounds->Count(); ++k) {
        const OvSoundItem* item = sounds->Item(k);
        if (item && item->name && name == item->name) {
          v.w[0] = k;
          return;
        }
      }
      std::string why;
      const int index = c.stage->AddSound(name, nullptr, why);
      if (index < 0) Fail(L, what, why);
      v.w[0] = uint32_t(index);
      return;
    }
    case OV_PK_TEXT:
    case OV_PK_FILE:
      e.texts.push_back({slot, String(L, i, what)});
      return;
    case OV_PK_TEXTURE:
      if (TestHandle(L, i)) {
        v.w[0] = uint32_t(HandleOf(L, i, OrvcKind::Texture, what));
        return;
      }
      v.w[0] = Word(L, i, what);
      return;
    case OV_PK_INT:
    case OV_PK_TIME:
    case OV_PK_FLAG_MASK:
    case OV_PK_NODE_REF:
    case OV_PK_SUB_MATERIAL:
      v.w[0] = Word(L, i, what);
      return;
    case OV_PK_SPACER:
    default:
      // Plain values: whole numbers as integers, others as reals.
      if (lua_isinteger(L, i)) {
        v.w[0] = Word(L, i, what);
      } else {
        v.w[0] = std::bit_cast<uint32_t>(float(Number(L, i, what)));
      }
      return;
  }
}

int B_node(lua_State* L) {
  Args a(L, "node");
  OrvcEntry entry;
  entry.where = Where(L);
  const bool byPair = a.Has("pair");
  lua_rawgeti(L, 1, 1);
  const bool byName = !lua_isnil(L, -1);
  if (byName == byPair) {
    Fail(L, "node", "name the type first, as in node{ \"<ss> Flag Trigger\", ... }, or give pair = {group, id}");
  }
  const OvNodeType* type = nullptr;
  OvTypeId pair{};
  if (byName) {
    entry.typeName = String(L, -1, "node: type name");
    type = FindNodeType(L, entry.typeName, "node");
    type->GetTypeId(pair);
  } else {
    if (!a.Get("pair") || !lua_istable(L, -1) || luaL_len(L, -1) != 2) Fail(L, a.Field("pair"), "expected {group, id}");
    lua_rawgeti(L, -1, 1);
    pair.group = Word(L, -1, a.Field("pair"));
    lua_rawgeti(L, -2, 2);
    pair.id = Word(L, -1, a.Field("pair"));
    lua_pop(L, 3);
    type = OvNodeClasses().FindType(pair);
    if (!type) {
      Fail(L, a.Field("pair"),
           "no node type (" + std::to_string(pair.group) + ", " + std::to_string(pair.id) + ") is registered");
    }
    entry.typeName = type->GetName() ? type->GetName()
                                     : "(" + std::to_string(pair.group) + ", " + std::to_string(pair.id) + ")";
  }
  lua_pop(L, 1);
  const std::string what = "node '" + entry.typeName + "'";
  if (lua_rawlen(L, 1) > 1) Fail(L, what, "only the type name may stand without a label");
  if (const auto* opaque = dynamic_cast<const OvOpaqueNodeType*>(type); opaque && opaque->IsEditorOnly()) {
    Fail(L, what, "an editor-only type: the engine makes nothing of its records");
  }

  if (a.Get("block")) {
    std::vector<uint8_t> block;
    BlockFromTable(L, lua_gettop(L), what + ": block", block);
    lua_pop(L, 1);
    // Every other field would be a parameter; with a block there are none.
    a.Done(true);
    std::string why;
    entry.node = OrvcNodeFromBlock(OvNodeClasses(), Ctx(L).stage->Db().Arena(), pair, block, why);
    if (!entry.node) Fail(L, what, why);
    return PushEntry(L, std::move(entry));
  }

  int count = 0;
  const OvNodeParamDesc* params = type->GetParamTable(count);
  if (!params || count <= 0) {
    Fail(L, what, "this type has no parameter table; give its stored block as block = {\"layout\", values...}");
  }
  entry.type = type;
  entry.values.assign(size_t(count), OvParamValue{});
  for (int p = 0; p < count; ++p) {
    const OvNodeParamDesc& d = params[p];
    OvParamValue& v = entry.values[size_t(p)];
    switch (OvParamBaseKind(d.kind)) {
      case OV_PK_REAL:
        v.w[0] = std::bit_cast<uint32_t>(d.def.f);
        break;
      case OV_PK_REF:
        v = OvParamValue{{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}};
        break;
      case OV_PK_FLAG_PAIR:
        v.w[0] = v.w[1] = uint32_t(d.def.i);
        break;
      case OV_PK_TEXT:
      case OV_PK_FILE:
        break;  // no text
      default:
        v.w[0] = uint32_t(d.def.i);
        break;
    }
  }

  // Labels given, matched to the table: exactly, else without the leading
  // tab and trailing colon; "Label#2" takes the second parameter of that label.
  std::map<std::string, int> given;  // label as written -> stack index of the value (sorted: stable messages)
  std::vector<std::string> labels;
  lua_pushnil(L);
  while (lua_next(L, 1)) {
    if (lua_type(L, -2) == LUA_TSTRING) {
      const std::string key = lua_tostring(L, -2);
      if (key != "pair") labels.push_back(key);
    } else if (!lua_isinteger(L, -2) || lua_tointeger(L, -2) != 1) {
      Fail(L, what, "parameters are given by label, as in [\"Check Flag\"] = {1, 1}");
    }
    lua_pop(L, 1);
  }
  std::sort(labels.begin(), labels.end());
  std::vector<bool> set(size_t(count), false);
  for (const std::string& key : labels) {
    std::string label = key;
    int nth = 1;
    const size_t hash = key.rfind('#');
    if (hash != std::string::npos && hash + 1 < key.size() &&
        key.find_first_not_of("0123456789", hash + 1) == std::string::npos) {
      label = key.substr(0, hash);
      nth = std::atoi(key.c_str() + hash + 1);
    }
    int found = -1;
    for (int pass = 0; pass < 2 && found < 0; ++pass) {
      int seen = 0;
      for (int p = 0; p < count; ++p) {
        const char* l = params[p].label;
        if (!l || !*l) continue;
        const bool match = pass == 0 ? label == l : NormalLabel(label.c_str()) == NormalLabel(l);
        if (match && ++seen == nth) {
          found = p;
          break;
        }
      }
    }
    if (found < 0) {
      std::string list;
      for (int p = 0; p < count; ++p) {
        if (params[p].label && *params[p].label) list += (list.empty() ? "" : ", ") + Quote(params[p].label);
      }
      Fail(L, what, "no parameter labelled '" + key + "' (its parameters: " + list + ")");
    }
    if (set[size_t(found)]) Fail(L, what, "parameter " + Quote(params[found].label) + " given twice");
    set[size_t(found)] = true;
    lua_getfield(L, 1, key.c_str());
    ParamValue(L, lua_gettop(L), params[found], found, entry, what + ": " + Quote(params[found].label));
    lua_pop(L, 1);
  }
  return PushEntry(L, std::move(entry));
}

// ---------------------------------------------------------------------------
// Scripts, sounds, includes.

int B_script(lua_State* L) {
  Impl& c = Ctx(L);
  Args a(L, "script");
  std::vector<uint8_t> bytes;
  std::string name = "script";
  if (a.Has("file") == a.Has("source")) Fail(L, "script", "give either file or source");
  if (a.Has("file")) {
    name = a.Str("file", "");
    bytes = ReadFile(L, "script", name);
  } else {
    // A script's source is no file text: any length, any bytes.
    a.Get("source");
    if (lua_type(L, -1) != LUA_TSTRING) Fail(L, a.Field("source"), "expected a string, got " + TypeText(L, -1));
    size_t n = 0;
    const char* s = lua_tolstring(L, -1, &n);
    Charge(L, "script", n);
    bytes.assign(s, s + n);
    lua_pop(L, 1);
  }
  const int32_t kind = a.Int("kind", 0);
  a.Done();
  // Content carries scripts as text only: untrusted precompiled chunks
  // (they start with ESC) can crash the interpreter that runs them.
  if (!bytes.empty() && bytes[0] == 0x1B) {
    Fail(L, "script '" + name + "'", "a precompiled chunk; scripts are stored as Lua source text");
  }
  // Compiled (never run) so that syntax errors show now.
  const std::string chunk = "=" + name;
  if (luaL_loadbufferx(L, reinterpret_cast<const char*>(bytes.data()), bytes.size(), chunk.c_str(), "t") != LUA_OK) {
    Fail(L, "script '" + name + "'", lua_tostring(L, -1));
  }
  lua_pop(L, 1);
  std::string why;
  const int index = c.stage->AddScript(kind, bytes, why);
  if (index < 0) Fail(L, "script '" + name + "'", why);
  PushHandle(L, OrvcKind::Script, index);
  return 1;
}

// What the sound system needs of a WAV file, with a reason when it is not.
std::string WaveProblem(const std::vector<uint8_t>& b) {
  auto u32 = [&](size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24; };
  auto u16 = [&](size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; };
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
    return "not a RIFF/WAVE file";
  }
  bool format = false, data = false;
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = u32(at + 4);
    if (std::memcmp(b.data() + at, "fmt ", 4) == 0) {
      if (size < 16 || at + 8 + 16 > b.size()) return "its format chunk is cut short";
      // The extensible form names its real format in the first two bytes of
      // its sub-format.
      const bool extensiblePcm =
          u16(at + 8) == 0xFFFE && size >= 26 && at + 8 + 26 <= b.size() && u16(at + 24) >= 22 && u16(at + 32) == 1;
      if (u16(at + 8) != 1 && !extensiblePcm) return "not PCM data (format " + std::to_string(u16(at + 8)) + ")";
      if (u16(at + 10) != 1) return std::to_string(u16(at + 10)) + " channels; sounds are mono";
      if (u16(at + 22) != 8 && u16(at + 22) != 16) return std::to_string(u16(at + 22)) + "-bit samples; 8 or 16 bits";
      format = true;
    } else if (std::memcmp(b.data() + at, "data", 4) == 0) {
      data = true;
    }
    at += 8 + size + (size & 1);
  }
  if (!format) return "no format chunk";
  if (!data) return "no data chunk";
  return {};
}

int B_sound(lua_State* L) {
  Impl& c = Ctx(L);
  Args a(L, "sound");
  std::string name = a.Str("name", "");
  const bool embedded = a.Has("file");
  std::vector<uint8_t> bytes;
  if (embedded) {
    const std::string file = a.Str("file", "");
    if (name.empty()) name = fs::path(file).filename().string();
    bytes = ReadFile(L, "sound '" + name + "'", file);
    // Refuse what the sound system would refuse when it plays.
    std::string why = WaveProblem(bytes);
    OvSoundSample sample;
    if (why.empty() && !ParseWaveMemory(bytes.data(), bytes.size(), file.c_str(), sample)) {
      why = "the sound system does not accept it";
    }
    // The samples as the player would hold them, made here only to check.
    Transient check(L, "sound '" + name + "'", uint64_t(sample.sampleCount) * 2);
    if (!why.empty()) Fail(L, "sound '" + name + "'", "'" + file + "' is not a playable WAV file: " + why);
  }
  if (name.empty()) Fail(L, "sound", "give a name, a file, or both");
  a.Done();
  std::string why;
  const int index = c.stage->AddSound(name, embedded ? &bytes : nullptr, why);
  if (index < 0) Fail(L, "sound '" + name + "'", why);
  PushHandle(L, OrvcKind::Sound, index);
  return 1;
}

int B_include(lua_State* L) {
  Impl& c = Ctx(L);
  const std::string name = String(L, 1, "include: file name");
  if (c.building) Fail(L, "include", std::string("called while ") + c.building + "{} was reading its fields");
  if (c.includeDepth >= kMaxIncludeDepth) Fail(L, "include", "includes nest deeper than 16 (an include loop?)");
  const std::vector<uint8_t> bytes = ReadFile(L, "include", name);
  const std::string chunk = "@" + (c.root / name).lexically_normal().string();
  if (luaL_loadbufferx(L, reinterpret_cast<const char*>(bytes.data()), bytes.size(), chunk.c_str(), "t") != LUA_OK) {
    return lua_error(L);
  }
  ++c.includeDepth;
  const int base = lua_gettop(L) - 1;
  lua_call(L, 0, LUA_MULTRET);
  --c.includeDepth;
  return lua_gettop(L) - base;
}

// ---------------------------------------------------------------------------
// The sandbox.

template <lua_CFunction F>
int Guarded(lua_State* L) {
  try {
    return F(L);
  } catch (const std::bad_alloc&) {
    return luaL_error(L, "out of memory");
  } catch (const std::exception& e) {
    // Lua's own errors are not std::exceptions and pass through untouched.
    return luaL_error(L, "%s", e.what());
  }
}

// A builder reads its fields through Lua, which may run the stage's code
// (metamethods, pixel functions); that code may use the helpers but may not
// start another builder, whose result would mix with this one's.
template <lua_CFunction F>
int Builder(lua_State* L) {
  Impl& c = Ctx(L);
  lua_Debug ar;
  const char* name = lua_getstack(L, 0, &ar) && lua_getinfo(L, "n", &ar) && ar.name ? ar.name : "a builder";
  if (c.building) {
    return luaL_error(L, "%s: called while %s{} was reading its fields; builders do not nest", name, c.building);
  }
  struct Busy {
    Impl& c;
    ~Busy() { c.building = nullptr; }
  } busy{c};
  // Names from the debug info live only during the call; keep a copy.
  c.buildingName = name;
  c.building = c.buildingName.c_str();
  try {
    return F(L);
  } catch (const std::bad_alloc&) {
    return luaL_error(L, "out of memory");
  } catch (const std::exception& e) {
    // Lua's own errors are not std::exceptions and pass through untouched.
    return luaL_error(L, "%s", e.what());
  }
}

int HandleToString(lua_State* L) {
  const auto* h = static_cast<const OrvcHandle*>(luaL_checkudata(L, 1, kHandleMeta));
  const std::string s = Ctx(L).stage->Describe(*h);
  lua_pushlstring(L, s.data(), s.size());
  return 1;
}

int EntryToString(lua_State* L) {
  const int index = *static_cast<const int*>(luaL_checkudata(L, 1, kEntryMeta));
  const Entry& e = Ctx(L).entries[size_t(index)];
  const std::string& t = e.entry.typeName;
  const std::string s = e.set >= 0                  ? "entry of animation " + std::to_string(e.set)
                        : t.rfind("track ", 0) == 0 ? t
                                                    : "node '" + t + "'";
  lua_pushlstring(L, s.data(), s.size());
  return 1;
}

void OpenSandbox(lua_State* L) {
  // The libraries content may use; nothing that reaches files, programs or
  // the loader.
  const luaL_Reg libs[] = {{LUA_GNAME, luaopen_base},       {LUA_STRLIBNAME, luaopen_string},
                           {LUA_MATHLIBNAME, luaopen_math}, {LUA_TABLIBNAME, luaopen_table},
                           {LUA_UTF8LIBNAME, luaopen_utf8}};
  for (const luaL_Reg& lib : libs) {
    luaL_requiref(L, lib.name, lib.func, 1);
    lua_pop(L, 1);
  }
  for (const char* name : {"dofile", "loadfile", "load", "require", "collectgarbage"}) {
    lua_pushnil(L);
    lua_setglobal(L, name);
  }
  // Bytecode made here could only serve to build a precompiled chunk.
  lua_getglobal(L, "string");
  lua_pushnil(L);
  lua_setfield(L, -2, "dump");
  lua_pop(L, 1);
  // The same random numbers in every build: compiled content is reproducible.
  lua_getglobal(L, "math");
  lua_getfield(L, -1, "randomseed");
  lua_pushinteger(L, 1);
  lua_call(L, 1, 0);
  lua_pop(L, 1);

  luaL_newmetatable(L, kHandleMeta);
  lua_pushcfunction(L, HandleToString);
  lua_setfield(L, -2, "__tostring");
  lua_pushliteral(L, "locked");
  lua_setfield(L, -2, "__metatable");
  lua_pop(L, 1);
  luaL_newmetatable(L, kEntryMeta);
  lua_pushcfunction(L, EntryToString);
  lua_setfield(L, -2, "__tostring");
  lua_pushliteral(L, "locked");
  lua_setfield(L, -2, "__metatable");
  lua_pop(L, 1);

  const luaL_Reg builders[] = {
      {"stage", Builder<B_stage>},         {"texture", Builder<B_texture>},   {"material", Builder<B_material>},
      {"mesh", Builder<B_mesh>},           {"box", Builder<B_box>},           {"plane", Builder<B_plane>},
      {"disc", Builder<B_disc>},           {"cylinder", Builder<B_cylinder>}, {"cone", Builder<B_cone>},
      {"sphere", Builder<B_sphere>},       {"rounded_box", Builder<B_rounded_box>},
      {"clump", Builder<B_clump>},         {"object", Builder<B_object>},     {"animation", Builder<B_animation>},
      {"track", Builder<B_track>},         {"node", Builder<B_node>},         {"script", Builder<B_script>},
      {"sound", Builder<B_sound>},         {"include", Guarded<B_include>},   {"rotation", Guarded<H_rotation>},
      {"euler", Guarded<H_euler>},         {"look_at", Guarded<H_look_at>},   {"rgb", Guarded<H_rgb>},
      {"bits", Guarded<H_bits>},           {"seconds", Guarded<H_seconds>},   {"print", Guarded<H_print>},
  };
  for (const luaL_Reg& b : builders) {
    lua_pushcfunction(L, b.func);
    lua_setglobal(L, b.name);
  }
}

}  // namespace

// ---------------------------------------------------------------------------

OrvcCompiler::OrvcCompiler(OrvcOptions options) : m(std::make_unique<Impl>()) { m->options = std::move(options); }

OrvcCompiler::~OrvcCompiler() {
  if (m->L) lua_close(m->L);
}

const std::string& OrvcCompiler::Error() const { return m->error; }

OvDatabase* OrvcCompiler::Database() { return m->stage && m->stage->Ok() ? &m->stage->Db() : nullptr; }

const std::vector<std::string>& OrvcCompiler::Dependencies() const { return m->deps; }

bool OrvcCompiler::Compile() {
  Impl& c = *m;
  c.error.clear();
  c.stage = std::make_unique<OrvcStage>();
  if (!c.stage->Ok()) {
    c.error = c.options.source + ": out of memory";
    return false;
  }
  const fs::path source(c.options.source);
  c.root = source.has_parent_path() ? source.parent_path() : fs::path(".");
  std::error_code ec;
  c.realRoot = fs::canonical(c.root, ec).string();
  if (ec) c.realRoot = fs::absolute(c.root, ec).lexically_normal().string();
  c.deadline = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   std::chrono::duration<double>(std::min(c.options.maxSeconds, 1e9)));

  std::string text;
  if (c.options.text) {
    text = *c.options.text;
  } else {
    std::vector<uint8_t> bytes;
    const std::string why = ReadRegularFile(source, "", c.options.maxMemory, bytes);
    if (!why.empty()) {
      c.error = c.options.source + ": cannot read the stage source (" + why + ")";
      return false;
    }
    text.assign(bytes.begin(), bytes.end());
  }
  c.deps.push_back(source.lexically_normal().string());

  c.L = lua_newstate(LimitedAlloc, &c);
  if (!c.L) {
    c.error = c.options.source + ": the Lua state could not be made";
    return false;
  }
  lua_State* L = c.L;
  int status = LUA_OK;
  try {
    lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookStep);
    lua_pushcfunction(L, [](lua_State* S) -> int {
      OpenSandbox(S);
      return 0;
    });
    status = lua_pcall(L, 0, 0, 0);
    if (status == LUA_OK) {
      const std::string chunk = "@" + c.options.source;
      status = luaL_loadbufferx(L, text.data(), text.size(), chunk.c_str(), "t");
      if (status == LUA_OK) status = lua_pcall(L, 0, 0, 0);
    }
  } catch (const std::bad_alloc&) {
    c.error = c.options.source + ": out of memory";
    return false;
  }
  // A limit that was reached fails the compile even when the stage caught
  // its error and ended normally.
  if (!c.stopped.empty()) {
    c.error = c.stopped;
    return false;
  }
  if (status != LUA_OK) {
    const char* msg = lua_tostring(L, -1);
    c.error = msg ? msg : c.options.source + ": the stage raised an error that is not a message";
    if (status == LUA_ERRMEM) c.error = c.options.source + ": the stage ran out of memory (the Lua memory limit)";
    return false;
  }
  if (!c.stage->Finish(c.error)) return false;
  return true;
}

bool OrvcCompiler::Image(std::vector<uint8_t>& out) {
  OvDatabase* db = Database();
  if (!db) return false;
  OvStream s;
  s.OpenMemoryWrite();
  const bool ok = db->Write(s);
  if (ok) out.assign(s.Image(), s.Image() + s.ImageSize());
  s.Close();
  if (!ok) {
    m->error = m->stage->WriteProblem();
    if (m->error.empty()) m->error = m->options.source + ": the content file could not be made (out of memory?)";
  }
  return ok;
}

namespace {

// Writes a whole file; 0, or the error number of what failed.
int WriteWhole(const std::string& path, const void* data, size_t size) {
  errno = 0;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return errno ? errno : EIO;
  int failure = 0;
  if (std::fwrite(data, 1, size, out) != size) failure = errno ? errno : EIO;
  if (std::fclose(out) != 0 && !failure) failure = errno ? errno : EIO;
  return failure;
}

}  // namespace

bool OrvcCompiler::Save(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!Image(bytes)) return false;
  const std::string temp = path + ".tmp";
  if (const int failure = WriteWhole(temp, bytes.data(), bytes.size())) {
    std::remove(temp.c_str());
    m->error = path + ": cannot write the content file (" + std::strerror(failure) + ")";
    return false;
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    std::remove(temp.c_str());
    m->error = path + ": cannot write the content file (" + ec.message() + ")";
    return false;
  }
  return true;
}

bool OrvcCompiler::WriteDepfile(const std::string& path, const std::string& target) {
  auto escape = [](const std::string& s) {
    std::string out;
    for (char ch : s) {
      if (ch == ' ' || ch == '#' || ch == '\\') out += '\\';
      if (ch == '$') out += '$';
      out += ch;
    }
    return out;
  };
  std::string text = escape(target) + ":";
  for (const std::string& d : m->deps) text += " \\\n  " + escape(d);
  text += "\n";
  if (const int failure = WriteWhole(path, text.data(), text.size())) {
    m->error = path + ": cannot write the dependency file (" + std::strerror(failure) + ")";
    return false;
  }
  return true;
}
