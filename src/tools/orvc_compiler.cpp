// The content compiler's sandbox (the Lua state with its allocator, limits
// and registered builders, and include()) and the compile's entry points:
// compiling, the file image, saving and the dependency list.
#include "orvc_compiler.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "orvc_builders.h"
#include "ov_database.h"
#include "ov_stream.h"

using namespace orvc;

namespace {

constexpr int kHookStep = 1000;
constexpr int kMaxIncludeDepth = 16;

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
  const luaL_Reg libs[] = {{LUA_GNAME, luaopen_base},
                           {LUA_STRLIBNAME, luaopen_string},
                           {LUA_MATHLIBNAME, luaopen_math},
                           {LUA_TABLIBNAME, luaopen_table},
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
      {"stage", Builder<B_stage>},         {"texture", Builder<B_texture>},
      {"material", Builder<B_material>},   {"shader_material", Builder<B_shader_material>},
      {"mesh", Builder<B_mesh>},           {"box", Builder<B_box>},
      {"plane", Builder<B_plane>},         {"disc", Builder<B_disc>},
      {"cylinder", Builder<B_cylinder>},   {"cone", Builder<B_cone>},
      {"sphere", Builder<B_sphere>},       {"rounded_box", Builder<B_rounded_box>},
      {"clump", Builder<B_clump>},         {"object", Builder<B_object>},
      {"animation", Builder<B_animation>}, {"track", Builder<B_track>},
      {"node", Builder<B_node>},           {"script", Builder<B_script>},
      {"sound", Builder<B_sound>},         {"include", Guarded<B_include>},
      {"rotation", Guarded<H_rotation>},   {"euler", Guarded<H_euler>},
      {"look_at", Guarded<H_look_at>},     {"rgb", Guarded<H_rgb>},
      {"bits", Guarded<H_bits>},           {"seconds", Guarded<H_seconds>},
      {"print", Guarded<H_print>},
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
  c.deadline =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
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
