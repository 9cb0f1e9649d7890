// What the builder functions of the content compiler share: the compile's
// state behind the Lua state, the readers of argument values and tables, the
// files a stage names, and the builders each file of the compiler provides
// for the sandbox to register. Internal to the compiler.
#pragma once

// The C++ build of Lua: errors unwind as C++ exceptions, so destructors of
// the builders' locals run when a builder reports an error.
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "orvc_compiler.h"
#include "orvc_stage.h"

namespace orvc {

namespace fs = std::filesystem;

inline constexpr const char* kHandleMeta = "orvc.handle";
inline constexpr const char* kEntryMeta = "orvc.entry";
inline constexpr size_t kMaxText = 0xFFFF;  // the content file's longest text

struct Entry {
  OrvcEntry entry;
  int set = -1;  // the animation set that took it
};

}  // namespace orvc

struct OrvcCompiler::Impl {
  OrvcOptions options;
  std::string error;
  std::unique_ptr<OrvcStage> stage;
  std::vector<std::string> deps;
  std::filesystem::path root;  // folder of the main file
  std::string realRoot;        // the same without symbolic links: files must resolve inside it
  lua_State* L = nullptr;

  // Sandbox accounting.
  size_t memoryUsed = 0;     // Lua's allocations
  size_t builderMemory = 0;  // what the builders hold (records, images being made)
  uint64_t instructions = 0;
  std::chrono::steady_clock::time_point deadline;
  std::string stopped;             // the limit's message once one was reached: final
  const char* building = nullptr;  // the builder running now (builders do not nest)
  std::string buildingName;
  int includeDepth = 0;

  std::vector<orvc::Entry> entries;
  std::vector<int> objectOf;  // per clump: the object it is a root of, or -1
  std::vector<std::string> meshNames;
  std::vector<std::string> textureNames;
};

namespace orvc {

using Impl = OrvcCompiler::Impl;

// The compile behind a Lua state (its allocator's user data).
Impl& Ctx(lua_State* L);
// Where the running builder was called from.
OrvcWhere Where(lua_State* L);
// Raises "what: message" at the caller's line; never returns.
[[noreturn]] void Fail(lua_State* L, const std::string& what, const std::string& message);
// A number as the messages show it ("0.5", "64").
std::string Decimal(double v);

// What the builders hold counts against the memory limit together with
// Lua's own memory. A charge stays for the whole compile (records the stage
// keeps); a Transient one is given back when the builder is done.
void Charge(lua_State* L, const std::string& what, uint64_t bytes);
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

// Values on the Lua stack, checked; a mistake fails with `what` named.
std::string TypeText(lua_State* L, int i);
double Number(lua_State* L, int i, const std::string& what);
int64_t Integer(lua_State* L, int i, const std::string& what);
int32_t Int32(lua_State* L, int i, const std::string& what);
// A 32-bit word given signed or unsigned (-1 and 0xFFFFFFFF are the same).
uint32_t Word(lua_State* L, int i, const std::string& what);
bool Boolean(lua_State* L, int i, const std::string& what);
// A text for the file: no NUL byte, at most kMaxText bytes.
std::string String(lua_State* L, int i, const std::string& what);
uint8_t Byte01(double v);
// Colours: 0xAARRGGBB, "#RRGGBB" / "#AARRGGBB", or {r, g, b [, a]} in 0..1.
uint32_t Colour(lua_State* L, int i, const std::string& what);
// Colours as four reals: a table keeps its numbers, a packed colour gives
// its bytes / 255.
void ColourFloats(lua_State* L, int i, const std::string& what, float out[4]);
// {x, y, z}; with `uniform`, a single number stands for all three.
void Vector3(lua_State* L, int i, const std::string& what, float out[3], bool uniform = false);
// Every number of a table, nested tables flattened in order.
void Flatten(lua_State* L, int i, const std::string& what, std::vector<double>& out, int depth = 0);

// Handles: what a builder returns and other builders take.
OrvcHandle* TestHandle(lua_State* L, int i);
int HandleOf(lua_State* L, int i, OrvcKind kind, const std::string& what);
void PushHandle(lua_State* L, OrvcKind kind, int index);

// ---------------------------------------------------------------------------
// A builder's argument table: fields are read by name, and any field left
// unread is an error, so a misspelt field never goes unnoticed.

class Args {
 public:
  Args(lua_State* L, const char* builder, int index = 1) : m_L(L), m_index(index), m_what(builder) {
    if (lua_type(L, index) != LUA_TTABLE) {
      Fail(L, builder,
           std::string("expected a table of fields, as in ") + builder + "{ ... }, got " + TypeText(L, index));
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
  double Number(const char* key, double def) {
    return Read(key, def, [&] { return orvc::Number(m_L, -1, Field(key)); });
  }
  int32_t Int(const char* key, int32_t def) {
    return Read(key, def, [&] { return Int32(m_L, -1, Field(key)); });
  }
  uint32_t Word(const char* key, uint32_t def) {
    return Read(key, def, [&] { return orvc::Word(m_L, -1, Field(key)); });
  }
  bool Bool(const char* key, bool def) {
    return Read(key, def, [&] { return Boolean(m_L, -1, Field(key)); });
  }
  std::string Str(const char* key, const std::string& def) {
    return Read(key, def, [&] { return String(m_L, -1, Field(key)); });
  }
  uint32_t Colour(const char* key, uint32_t def) {
    return Read(key, def, [&] { return orvc::Colour(m_L, -1, Field(key)); });
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

// Files named by the stage: relative to its folder, never leaving it.
fs::path Resolve(lua_State* L, const std::string& what, const std::string& name);
// Reads a regular file whole; `inside`: its real path must lie in that
// folder. Empty reason on success.
std::string ReadRegularFile(const fs::path& path, const std::string& inside, uint64_t maxBytes,
                            std::vector<uint8_t>& out);
// A file of the stage, charged to the memory limit and listed as a
// dependency; fails the builder when it cannot be read.
std::vector<uint8_t> ReadFile(lua_State* L, const std::string& what, const std::string& name);

// Builders and helpers, registered by the sandbox.
// Assets (orvc_asset_builders.cpp).
int B_stage(lua_State* L);
int B_texture(lua_State* L);
int B_material(lua_State* L);
// The colour fields every material builder takes: diffuse (ambient follows
// it unless given), specular, emissive and power.
OrvcMaterialColours MaterialColours(Args& a);
int B_mesh(lua_State* L);
int B_box(lua_State* L);
int B_rounded_box(lua_State* L);
int B_plane(lua_State* L);
int B_disc(lua_State* L);
int B_cylinder(lua_State* L);
int B_cone(lua_State* L);
int B_sphere(lua_State* L);
int B_script(lua_State* L);
int B_sound(lua_State* L);
// Scene and animation (orvc_scene_builders.cpp).
int H_rotation(lua_State* L);
int H_euler(lua_State* L);
int H_look_at(lua_State* L);
int H_rgb(lua_State* L);
int H_bits(lua_State* L);
int H_seconds(lua_State* L);
int H_print(lua_State* L);
int B_clump(lua_State* L);
int B_object(lua_State* L);
int B_animation(lua_State* L);
int B_track(lua_State* L);
// Pushes an animation entry made by track{} or node{}.
int PushEntry(lua_State* L, OrvcEntry entry);
// Nodes (orvc_node_builders.cpp).
int B_node(lua_State* L);
// Parameters by label, shared with the shader materials: every slot at its
// default, the parameter a label names, one value into its slot by kind.
std::string Quote(const char* label);
void DefaultValues(const OvNodeParamDesc* params, int count, std::vector<OvParamValue>& values);
int FindParam(lua_State* L, const OvNodeParamDesc* params, int count, const std::string& key, const std::string& what);
void ParamValue(lua_State* L, int i, const OvNodeParamDesc& d, int slot, OrvcEntry& e, const std::string& what);
// Shader materials by type name and labels (orvc_shader_builders.cpp).
int B_shader_material(lua_State* L);

}  // namespace orvc
