#include "ov_script_host.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

#include "ov_clock.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_paths.h"
#include "ov_scene.h"
#include "ov_script_internal.h"
#include "ov_script_node.h"
#include "ov_trace.h"

namespace {

// ---------------------------------------------------------------------------
// Host state.

lua_State* g_L = nullptr;
bool g_started = false;
uint32_t g_generation = 0;  // bumped at every start: controllers of an older state keep off

// Memory: Lua's allocator counts and caps.
size_t g_luaBytes = 0;

// Bytes made inside a budgeted call count toward its budget: copying
// library calls and concatenation do much work in one instruction.
void ChargeBytes(size_t bytes);

void* CappedAlloc(void*, void* ptr, size_t osize, size_t nsize) {
  const size_t old = ptr ? osize : 0;
  if (nsize == 0) {
    std::free(ptr);
    g_luaBytes -= old;
    return nullptr;
  }
  if (nsize > old && nsize - old > OV_SCRIPT_MEMORY_CAP - std::min(g_luaBytes, OV_SCRIPT_MEMORY_CAP)) return nullptr;
  void* p = std::realloc(ptr, nsize);
  if (!p) return nullptr;
  g_luaBytes = g_luaBytes - old + nsize;
  if (nsize > old) ChargeBytes(nsize - old);
  return p;
}

// Instruction budget: a count hook every kHookStep instructions. One call
// from the engine may run kCallSteps hook steps; the ticks of one frame
// together kFrameSteps. Counting instructions, not time, keeps runs
// repeatable.
constexpr int kHookStep = 1000;
constexpr int64_t kCallSteps = OV_SCRIPT_INSTRUCTION_BUDGET / kHookStep;
constexpr int64_t kFrameSteps = OV_SCRIPT_FRAME_BUDGET / kHookStep;
// A tick's limit below a call's marks a tick cut short by its frame.
static_assert(kFrameSteps < kCallSteps, "a frame's ticks may run less than one call");
enum class Spent { kNo, kCall, kFrame };
int64_t g_steps = 0;  // of the outermost running call
int64_t g_limit = kCallSteps;
Spent g_spent = Spent::kNo;
int g_depth = 0;

void BudgetHook(lua_State* L, lua_Debug*);

[[noreturn]] void BudgetSpent(lua_State* L, const char* what) {
  if (g_spent == Spent::kNo) {
    g_spent = g_limit < kCallSteps ? Spent::kFrame : Spent::kCall;
    // From now on every instruction fails, so a script cannot catch the
    // error with pcall and carry on.
    lua_sethook(L, BudgetHook, LUA_MASKCOUNT, 1);
  }
  luaL_error(L, "%s", what);
  std::abort();  // luaL_error does not return
}

void BudgetHook(lua_State* L, lua_Debug*) {
  if (++g_steps < g_limit) return;
  BudgetSpent(L, "instruction budget exceeded");
}

// Bytes of library work worth one hook step (a copy of this size takes about
// as long as a thousand instructions).
constexpr size_t kBytesPerStep = size_t(64) << 10;
size_t g_byteCarry = 0;

void ChargeBytes(size_t bytes) {
  if (g_depth == 0 || !g_L) return;
  g_byteCarry += bytes;
  if (g_byteCarry < kBytesPerStep) return;
  g_steps += int64_t(g_byteCarry / kBytesPerStep);
  g_byteCarry %= kBytesPerStep;
  // Not a place to raise an error: the next instruction fails instead.
  if (g_steps >= g_limit && g_spent == Spent::kNo) lua_sethook(g_L, BudgetHook, LUA_MASKCOUNT, 1);
}

// The frame the tick steps are counted for: a scene and its frame number.
const OvScene* g_frameScene = nullptr;
uint32_t g_frameNumber = 0;
int64_t g_frameSteps = 0;
bool g_frameSkipTraced = false;

void NoteFrameSpent() {
  if (g_frameSkipTraced) return;
  g_frameSkipTraced = true;
  _TraceFormat(
      "lua error: the scripts of one frame ran past %lld instructions together: the rest of that frame's script "
      "calls are skipped (traced once)\n",
      static_cast<long long>(OV_SCRIPT_FRAME_BUDGET));
}

// Error texts: each distinct one is traced once, cut to a line's length; the
// texts kept to know them again are bounded in number and in bytes.
constexpr size_t kMaxDistinctErrors = 1024;
constexpr size_t kMaxErrorText = 400;
constexpr size_t kMaxKeptErrorBytes = size_t(256) << 10;
std::unordered_set<std::string>* g_seenErrors = nullptr;
size_t g_seenBytes = 0;
bool g_seenFull = false;

void ReportMessage(const char* msg, size_t length) {
  if (g_seenFull) return;
  if (!g_seenErrors) g_seenErrors = new std::unordered_set<std::string>;
  std::string text(msg, std::min(length, kMaxErrorText));
  if (length > kMaxErrorText) text += "... (cut)";
  if (g_seenErrors->count(text)) return;
  if (g_seenErrors->size() >= kMaxDistinctErrors || g_seenBytes + text.size() > kMaxKeptErrorBytes) {
    g_seenFull = true;
    Trace("lua error: further distinct errors are not traced\n");
    return;
  }
  g_seenBytes += text.size();
  _TraceFormat("lua error: %s\n", text.c_str());
  g_seenErrors->insert(std::move(text));
}

void ReportError(lua_State* L, int index) {
  char buf[96];
  const char* msg = buf;
  size_t length = 0;
  switch (lua_type(L, index)) {
    case LUA_TSTRING: msg = lua_tolstring(L, index, &length); break;
    case LUA_TNUMBER: std::snprintf(buf, sizeof(buf), "%.14g", double(lua_tonumber(L, index))); break;
    default: std::snprintf(buf, sizeof(buf), "(error object is a %s value)", luaL_typename(L, index));
  }
  ReportMessage(msg, msg == buf ? std::strlen(buf) : length);
}

enum class CallResult { kOk, kError, kBudget, kFrameCut };

// Runs fn(ud) protected and under the budget; errors are reported. Nested
// calls (a script making an object whose controller runs OnCreate) share the
// budget of the outermost call, which may take `limit` hook steps. Every
// outermost call counts toward the frame.
CallResult Protected(lua_CFunction fn, void* ud, int64_t limit = kCallSteps) {
  lua_State* L = g_L;
  const int top = lua_gettop(L);
  const bool outermost = g_depth++ == 0;
  if (outermost) {
    g_steps = 0;
    g_byteCarry = 0;
    g_limit = limit;
    g_spent = Spent::kNo;
    lua_sethook(L, BudgetHook, LUA_MASKCOUNT, kHookStep);
  }
  lua_pushcfunction(L, fn);
  lua_pushlightuserdata(L, ud);
  const int status = lua_pcall(L, 1, 0, 0);
  if (status != LUA_OK) ReportError(L, -1);
  if (outermost && g_spent == Spent::kFrame) NoteFrameSpent();
  lua_settop(L, top);
  --g_depth;
  // The part of a hook step the hook did not see counts as one step.
  if (outermost) g_frameSteps += g_steps + 1;
  if (g_spent == Spent::kCall) return CallResult::kBudget;
  if (g_spent == Spent::kFrame) return CallResult::kFrameCut;
  return status == LUA_OK ? CallResult::kOk : CallResult::kError;
}

// Hook steps a tick may take now; 0 when the frame's budget is spent.
int64_t TickLimit(const OvScene* scene) {
  if (g_depth > 0 || !scene) return kCallSteps;  // nested: the outer call's budget
  if (scene != g_frameScene || scene->FrameCount() != g_frameNumber) {
    g_frameScene = scene;
    g_frameNumber = scene->FrameCount();
    g_frameSteps = 0;
  }
  return std::min(kCallSteps, kFrameSteps - g_frameSteps);
}

// The Script node whose code is running (OnCreate or a tick).
const OvScriptNode* g_runningNode = nullptr;

ovs::TickContext g_context;

// ---------------------------------------------------------------------------
// The script controller.

class OvScriptCtrl final : public OvAniCtrl {
 public:
  static constexpr int kModeTick = 0;
  static constexpr int kModeTwoPass = 2;
  static constexpr int kModeHrchy = 4096;

  explicit OvScriptCtrl(OvScriptNode& node) : m_node(node), m_generation(g_generation) {}

  static const void* ClassTag() {
    static const char tag = 0;
    return &tag;
  }
  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  void Destroy(uint32_t flags) override;
  uint32_t GetChannelMask() const override { return m_affect; }
  int32_t GetCtrlId() const override { return OV_ACID_SCRIPT; }
  void Animate(OvClump* clump, int32_t time) override;
  void TwoPass(OvClump* clump, int32_t value, int point) override;
  void Hierarchy(OvClump* clump, int32_t value) override;
  void Attached(OvClump* clump) override;

  bool Live() const { return g_started && m_generation == g_generation; }
  // One call into Lua; false when this controller is gone afterwards.
  bool Run(lua_CFunction fn, void* args, int64_t limit = kCallSteps);
  // A tick: skipped when the frame's script budget is spent.
  void Tick(OvClump* clump, int32_t time, int pass, const char* fetch);
  void Stop();

  OvScriptNode& m_node;
  uint32_t m_generation;
  int m_scriptRef = LUA_NOREF;
  int m_instanceRef = LUA_NOREF;
  int m_tickRef = LUA_NOREF;
  int m_mode = kModeTick;
  uint32_t m_affect = 0;
  bool m_stopped = false;
  int m_calls = 0;
  // Hook steps of the ticks in a row that the frame's budget cut short: a
  // tick that never ends would otherwise cost every frame's rest for good.
  int64_t m_cutSteps = 0;
  bool m_destroyPending = false;
  uint32_t m_destroyFlags = 0;

 private:
  ~OvScriptCtrl() override = default;
};

struct CallArgs {
  OvScriptCtrl* ctrl;
  OvClump* clump;
  int32_t time;
  int pass;           // < 0: no pass argument
  const char* fetch;  // null: the OnTick reference; else fetched from the script table
};

int DoCall(lua_State* L) {
  auto* a = static_cast<CallArgs*>(lua_touserdata(L, 1));
  OvScriptCtrl* c = a->ctrl;
  if (a->fetch) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, c->m_scriptRef);
    if (!lua_istable(L, -1)) return 0;
    lua_getfield(L, -1, a->fetch);
  } else {
    lua_rawgeti(L, LUA_REGISTRYINDEX, c->m_tickRef);
  }
  if (!lua_isfunction(L, -1)) return 0;
  lua_rawgeti(L, LUA_REGISTRYINDEX, c->m_instanceRef);
  OvScene* scene = a->clump ? a->clump->GetScene() : nullptr;
  const float secPerUnit = scene ? scene->SecondsPerUnit() : 1.0f / 60.0f;
  lua_pushnumber(L, lua_Number(float(a->time) * secPerUnit));
  int n = 2;
  if (a->pass >= 0) {
    lua_pushinteger(L, a->pass);
    ++n;
  }
  lua_call(L, n, 1);
  int isNum = 0;
  const lua_Number flags = lua_tonumberx(L, -1, &isNum);
  if (isNum && a->clump) a->clump->MarkChanged(uint32_t(OvTruncToI64(double(flags))));
  return 0;
}

bool OvScriptCtrl::Run(lua_CFunction fn, void* args, int64_t limit) {
  ++m_calls;
  const OvScriptNode* running = g_runningNode;
  g_runningNode = &m_node;
  const CallResult r = Protected(fn, args, limit);
  g_runningNode = running;
  --m_calls;
  if (r == CallResult::kBudget) Stop();
  if (r == CallResult::kFrameCut && g_depth == 0) {
    m_cutSteps += g_steps;
    if (m_cutSteps >= kFrameSteps) Stop();
  } else if (r != CallResult::kFrameCut) {
    m_cutSteps = 0;
  }
  if (m_destroyPending && m_calls == 0) {
    m_destroyPending = false;
    Destroy(m_destroyFlags);
    return false;
  }
  return true;
}

void OvScriptCtrl::Tick(OvClump* clump, int32_t time, int pass, const char* fetch) {
  const int64_t limit = TickLimit(clump ? clump->GetScene() : nullptr);
  if (limit <= 0) {
    NoteFrameSpent();
    return;
  }
  CallArgs a{this, clump, time, pass, fetch};
  Run(DoCall, &a, limit);
}

void OvScriptCtrl::Stop() {
  if (m_stopped) return;
  m_stopped = true;
  _TraceFormat("lua error: script '%s' ran past its instruction budget and is stopped\n",
               m_node.scriptName ? m_node.scriptName : "");
}

void OvScriptCtrl::Destroy(uint32_t flags) {
  // Freed from inside its own call (the script removed it): finish first.
  if (m_calls > 0) {
    m_destroyPending = true;
    m_destroyFlags = flags;
    return;
  }
  ovs::HandleForget(this);
  if (g_context.ctrl == this) g_context = {};
  if (Live() && g_L) {
    luaL_unref(g_L, LUA_REGISTRYINDEX, m_tickRef);
    luaL_unref(g_L, LUA_REGISTRYINDEX, m_instanceRef);
    luaL_unref(g_L, LUA_REGISTRYINDEX, m_scriptRef);
  }
  OvAniCtrl::Destroy(flags);
}

void OvScriptCtrl::Animate(OvClump* clump, int32_t time) {
  if (!clump || m_stopped || !Live()) return;
  const uint32_t mask = m_node.checkMask;
  if ((mask & m_node.checkValue) != (mask & clump->GetSwitch() & OV_SWITCH_FLAGS)) return;
  if (m_mode == kModeTwoPass) {
    OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_ANIM);
    return;
  }
  if (m_mode == kModeHrchy) {
    OvAniCtrlRegisterHrchy(clump, this, time);
    return;
  }
  if (m_tickRef == LUA_NOREF || m_tickRef == LUA_REFNIL) return;
  const ovs::TickContext saved = g_context;
  g_context = {this, clump, time, 0};
  Tick(clump, time, -1, nullptr);
  // The context is good for this call only: it names a clump that may not
  // outlive the frame.
  g_context = saved;
}

void OvScriptCtrl::TwoPass(OvClump* clump, int32_t value, int point) {
  if (m_stopped || !Live()) return;
  const ovs::TickContext saved = g_context;
  g_context = {};
  Tick(clump, value, point, "OnTick2Pass");
  g_context = saved;
}

void OvScriptCtrl::Hierarchy(OvClump* clump, int32_t value) {
  if (m_stopped || !Live()) return;
  const ovs::TickContext saved = g_context;
  g_context = {};
  Tick(clump, value, -1, "OnTickHrchy");
  g_context = saved;
}

struct AttachArgs {
  OvScriptCtrl* ctrl;
  OvClump* clump;
};

int DoAttach(lua_State* L) {
  auto* a = static_cast<AttachArgs*>(lua_touserdata(L, 1));
  lua_rawgeti(L, LUA_REGISTRYINDEX, a->ctrl->m_instanceRef);
  if (!lua_istable(L, -1)) return 0;
  ovs::PushClump(L, a->clump);
  lua_setfield(L, -2, "_Clump");
  return 0;
}

void OvScriptCtrl::Attached(OvClump* clump) {
  if (!Live() || m_instanceRef == LUA_NOREF || m_instanceRef == LUA_REFNIL) return;
  AttachArgs a{this, clump};
  Run(DoAttach, &a);
}

// Creating the controller of a Script node.
struct CreateArgs {
  OvScriptCtrl* ctrl;
  bool haveInstance = false;
};

int DoCreate(lua_State* L) {
  auto* a = static_cast<CreateArgs*>(lua_touserdata(L, 1));
  OvScriptCtrl* c = a->ctrl;
  OvScriptNode& node = c->m_node;
  lua_getglobal(L, node.scriptName);  // 2: the script table (any value)
  std::string init = "return {";
  if (node.initValue) init += node.initValue;
  init += "}";
  if (luaL_loadbufferx(L, init.data(), init.size(), "=Init Value", "t") != LUA_OK) return lua_error(L);
  lua_call(L, 0, 1);  // 3: the instance table
  if (!lua_istable(L, 3)) return 0;
  lua_pushvalue(L, 2);
  c->m_scriptRef = luaL_ref(L, LUA_REGISTRYINDEX);
  lua_pushvalue(L, 3);
  c->m_instanceRef = luaL_ref(L, LUA_REGISTRYINDEX);
  a->haveInstance = true;
  ovs::PushAniCtrl(L, c, nullptr);
  lua_setfield(L, 3, "_AniCtrl");
  ovs::PushDatabase(L, node.database());
  lua_setfield(L, 3, "_Database");
  if (c->m_scriptRef == LUA_REFNIL) {
    c->m_tickRef = LUA_REFNIL;
    return 0;
  }
  const bool isTable = lua_istable(L, 2);
  lua_getfield(L, 2, "OnCreate");
  if (lua_isfunction(L, -1)) {
    lua_pushvalue(L, 3);
    // A failing OnCreate is reported; the controller still ticks.
    if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
      ReportError(L, -1);
      if (g_spent != Spent::kNo) return 0;
    }
  }
  lua_settop(L, 3);
  lua_getfield(L, 2, "OnTick");
  const bool tickIsFunction = lua_isfunction(L, -1);
  c->m_tickRef = luaL_ref(L, LUA_REGISTRYINDEX);
  c->m_mode = OvScriptCtrl::kModeTick;
  if (isTable && !tickIsFunction) {
    lua_getfield(L, 2, "OnTick2Pass");
    const bool twoPass = lua_isfunction(L, -1);
    lua_getfield(L, 2, "OnTickHrchy");
    const bool hrchy = lua_isfunction(L, -1);
    if (twoPass) {
      c->m_mode = OvScriptCtrl::kModeTwoPass;
    } else if (hrchy) {
      c->m_mode = OvScriptCtrl::kModeHrchy;
    }
    lua_settop(L, 3);
  }
  lua_getfield(L, 2, "AffectFlag");
  int isNum = 0;
  const lua_Number affect = lua_tonumberx(L, -1, &isNum);
  c->m_affect = isNum ? uint32_t(OvTruncToI64(double(affect))) : 0;
  return 0;
}

OvAniCtrl* CreateScriptCtrl(OvScriptNode& node) {
  if (!g_started || !node.scriptName) return nullptr;
  auto* ctrl = new OvScriptCtrl(node);
  if (!ctrl) return nullptr;
  CreateArgs a{ctrl};
  ++ctrl->m_calls;
  const OvScriptNode* running = g_runningNode;
  g_runningNode = &node;
  const CallResult r = Protected(DoCreate, &a);
  g_runningNode = running;
  --ctrl->m_calls;
  if (!a.haveInstance) {
    ctrl->Destroy(OvAniCtrl::kFreeMemory);
    return nullptr;
  }
  if (r == CallResult::kBudget) ctrl->Stop();
  ctrl->SetOwned(true);
  return ctrl;
}

// ---------------------------------------------------------------------------
// Chunks and files.

struct ChunkArgs {
  const char* bytes;
  size_t length;
  const char* name;
  const char* mode;
};

int DoChunk(lua_State* L) {
  auto* a = static_cast<ChunkArgs*>(lua_touserdata(L, 1));
  if (luaL_loadbufferx(L, a->bytes, a->length, a->name, a->mode) != LUA_OK) return lua_error(L);
  lua_call(L, 0, 0);
  return 0;
}

bool RunChunk(const char* bytes, size_t length, const char* name, const char* mode) {
  if (!g_started) return false;
  ChunkArgs a{bytes, length, name, mode};
  return Protected(DoChunk, &a) == CallResult::kOk;
}

bool ContentHook(const void* bytes, uint32_t length, int) { return OvScriptRunContentChunk(bytes, length); }

constexpr uintmax_t kMaxScriptFile = uintmax_t(64) << 20;
constexpr int kMaxFolderDepth = 32;

void CollectFiles(const std::filesystem::path& folder, const char* extension, int depth,
                  std::vector<std::filesystem::path>& out) {
  namespace fs = std::filesystem;
  if (depth > kMaxFolderDepth) return;
  std::error_code ec;
  std::vector<fs::path> files, folders;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string name = p.filename().string();
    std::error_code ec2;
    if (it->is_directory(ec2)) {
      // Links could make the walk a loop.
      if (!name.empty() && name[0] != '.' && !it->is_symlink(ec2)) folders.push_back(p);
    } else if (it->is_regular_file(ec2) && strcasecmp(p.extension().c_str(), extension) == 0) {
      files.push_back(p);
    }
  }
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  out.insert(out.end(), files.begin(), files.end());
  for (const fs::path& f : folders) CollectFiles(f, extension, depth + 1, out);
}

void RunFile(const std::filesystem::path& path) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxScriptFile) {
    _TraceFormat("!!! Script file '%s' can not be read.\n", path.string().c_str());
    return;
  }
  std::FILE* f = std::fopen(path.string().c_str(), "rb");
  if (!f) return;
  std::string bytes(size_t(size), '\0');
  const size_t got = size ? std::fread(bytes.data(), 1, bytes.size(), f) : 0;
  std::fclose(f);
  bytes.resize(got);
  std::string name = path.filename().string();
  name.insert(name.begin(), '@');
  // As the language's own file loader: a UTF-8 byte order mark and a first
  // line starting with '#' are skipped (the line's end stays, so line
  // numbers hold).
  size_t from = 0;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) from = 3;
  if (from < bytes.size() && bytes[from] == '#') {
    const size_t eol = bytes.find('\n', from);
    from = eol == std::string::npos ? bytes.size() : eol;
  }
  // The installed folder may hold precompiled chunks.
  RunChunk(bytes.data() + from, bytes.size() - from, name.c_str(), "bt");
}

void RunScriptFolder(const std::string& folder) {
  for (const char* ext : {".lua", ".out"}) {
    std::vector<std::filesystem::path> files;
    CollectFiles(folder, ext, 0, files);
    for (const auto& f : files) RunFile(f);
  }
}

// ---------------------------------------------------------------------------
// Start-up pieces.

int PerfSec(lua_State* L) {
  lua_pushnumber(L, lua_Number(Seconds()));
  return 1;
}

void RegisterTable(lua_State* L, const ovs::FnEntry* table, int count) {
  for (int i = 0; i < count; ++i) {
    lua_pushcfunction(L, table[i].fn);
    lua_setglobal(L, table[i].name);
  }
}

// The math library's global form of the older language: angles in degrees,
// plus deg, rad, frexp, ldexp and mod. The `math` table keeps the standard
// library's radians.
int Frexp(lua_State* L) {
  int e = 0;
  lua_pushnumber(L, std::frexp(luaL_checknumber(L, 1), &e));
  lua_pushinteger(L, e);
  return 2;
}
int Ldexp(lua_State* L) {
  const lua_Number e = luaL_checknumber(L, 2);
  // Exponents past the double range give 0 or infinity either way.
  const int ie = e > 4096 ? 4096 : e < -4096 ? -4096 : int(e);
  lua_pushnumber(L, std::ldexp(luaL_checknumber(L, 1), ie));
  return 1;
}

const char kCompat[] = R"lua(
local m, s = math, string
local rad, deg = math.pi / 180, 180 / math.pi
local frexp, ldexp = ...
PI = m.pi
sin = function(a) return m.sin(a * rad) end
cos = function(a) return m.cos(a * rad) end
tan = function(a) return m.tan(a * rad) end
asin = function(x) return m.asin(x) * deg end
acos = function(x) return m.acos(x) * deg end
atan = function(x) return m.atan(x) * deg end
atan2 = function(y, x) return m.atan(y, x) * deg end
_G.deg = function(x) return x * deg end
_G.rad = function(x) return x * rad end
_G.frexp, _G.ldexp = frexp, ldexp
floor, ceil, abs, sqrt, exp = m.floor, m.ceil, m.abs, m.sqrt, m.exp
mod = m.fmod
min, max = m.min, m.max
log = function(x) return m.log(x) end
log10 = function(x) return m.log(x, 10) end
-- Bounds are truncated to integers, as the older library did.
random = function(a, b)
  if a == nil then return m.random() end
  a = m.tointeger(a) or (a < 0 and m.ceil(a) or m.floor(a))
  if b == nil then return m.random(a) end
  b = m.tointeger(b) or (b < 0 and m.ceil(b) or m.floor(b))
  return m.random(a, b)
end
randomseed = m.randomseed
strlen, strsub, strlower, strupper, strrep = s.len, s.sub, s.lower, s.upper, s.rep
strfind, strbyte, strchar, format, gsub = s.find, s.byte, s.char, s.format, s.gsub
)lua";

// setmetatable without finalizers: the interpreter runs __gc methods with
// its hooks off, where no budget reaches (at a collection inside any call,
// and at shutdown).
int GuardedSetmetatable(lua_State* L) {
  if (lua_type(L, 2) == LUA_TTABLE) {
    lua_pushliteral(L, "__gc");
    if (lua_rawget(L, 2) != LUA_TNIL)
      return luaL_error(L, "setmetatable: finalizers (__gc) are not allowed in scripts");
    lua_pop(L, 1);
  }
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  return lua_gettop(L);
}

int DoStart(lua_State* L) {
  luaL_requiref(L, "_G", luaopen_base, 1);
  luaL_requiref(L, LUA_STRLIBNAME, luaopen_string, 1);
  luaL_requiref(L, LUA_MATHLIBNAME, luaopen_math, 1);
  luaL_requiref(L, LUA_TABLIBNAME, luaopen_table, 1);
  lua_settop(L, 0);
  // Content cannot reach files or compile chunks of its own choosing.
  for (const char* name : {"dofile", "loadfile", "load", "require"}) {
    lua_pushnil(L);
    lua_setglobal(L, name);
  }
  lua_getglobal(L, "setmetatable");
  lua_pushcclosure(L, GuardedSetmetatable, 1);
  lua_setglobal(L, "setmetatable");
  ovs::RegisterPatternFunctions(L);
  ovs::RegisterMetatables(L);
  int count = 0;
  const ovs::FnEntry* objects = ovs::ObjectFunctions(count);
  RegisterTable(L, objects, count);
  ovs::RegisterConstants(L);
  const ovs::FnEntry* math = ovs::MathFunctions(count);
  RegisterTable(L, math, count);
  ovs::RegisterMathConstants(L);
  ovs::RegisterOperators(L);
  const ovs::FnEntry* input = ovs::InputFunctions(count);
  RegisterTable(L, input, count);
  lua_pushcfunction(L, PerfSec);
  lua_setglobal(L, "PerfSec");
  if (luaL_loadbufferx(L, kCompat, sizeof(kCompat) - 1, "=compat", "t") != LUA_OK) return lua_error(L);
  lua_pushcfunction(L, Frexp);
  lua_pushcfunction(L, Ldexp);
  lua_call(L, 2, 0);
  return 0;
}

void ObjectFreed(const void* object) {
  if (g_context.clump == object) g_context = {};
  ovs::HandleForget(object);
}

// Settings and instance fields.
struct FieldArgs {
  OvScriptCtrl* ctrl;  // null: a global
  const char* name;
  double value;
  bool write;
};

int DoField(lua_State* L) {
  auto* a = static_cast<FieldArgs*>(lua_touserdata(L, 1));
  if (a->ctrl) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, a->ctrl->m_instanceRef);
  } else {
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
  }
  if (!lua_istable(L, -1)) return 0;
  if (a->write) {
    lua_pushnumber(L, lua_Number(a->value));
    lua_setfield(L, -2, a->name);
    return 0;
  }
  lua_getfield(L, -1, a->name);
  int isNum = 0;
  const lua_Number v = lua_tonumberx(L, -1, &isNum);
  a->value = isNum ? double(v) : 0.0;
  return 0;
}

double ReadField(OvScriptCtrl* ctrl, const char* name) {
  if (!g_started || !name) return 0.0;
  FieldArgs a{ctrl, name, 0.0, false};
  return Protected(DoField, &a) == CallResult::kOk ? a.value : 0.0;
}

OvScriptCtrl* AsScriptCtrl(OvAniCtrl* ctrl) {
  return ctrl && ctrl->IsKindOf(OvScriptCtrl::ClassTag()) ? static_cast<OvScriptCtrl*>(ctrl) : nullptr;
}

}  // namespace

namespace ovs {
TickContext& CurrentContext() { return g_context; }
const OvScriptNode* RunningScriptNode() { return g_runningNode; }
void ChargeScan(size_t bytes) { ChargeBytes(bytes); }
void ChargePatternWork(lua_State* L, int steps) {
  if (g_depth == 0) return;  // no budgeted call runs (cannot happen from a script)
  g_steps += steps / kHookStep;
  if (g_steps >= g_limit) BudgetSpent(L, "string pattern too complex: matching ran past the instruction budget");
}
bool IsScriptCtrl(const OvAniCtrl* ctrl) { return ctrl && ctrl->IsKindOf(OvScriptCtrl::ClassTag()); }
}  // namespace ovs

// ---------------------------------------------------------------------------

bool OvScriptStart(const char* scriptFolder) {
  if (g_started) return true;
  g_luaBytes = 0;
  lua_State* L = lua_newstate(CappedAlloc, nullptr);
  if (!L) {
    Trace("!!! Can not start the script interpreter.\n");
    return false;
  }
  g_L = L;
  ++g_generation;
  g_started = true;
  g_context = {};
  g_runningNode = nullptr;
  g_frameScene = nullptr;
  g_frameSteps = 0;
  g_frameSkipTraced = false;
  g_seenBytes = 0;
  g_seenFull = false;
  if (Protected(DoStart, nullptr) != CallResult::kOk) {
    Trace("!!! Can not start the script interpreter.\n");
    OvScriptShutdown();
    return false;
  }
  OvSetObjectFreedHook(ObjectFreed);
  const std::string folder = scriptFolder ? std::string(scriptFolder) : OvProgramFolder() + "/Script";
  RunScriptFolder(folder);
  OvSetScriptLoadHook(ContentHook);
  OvSetScriptCtrlFactory(CreateScriptCtrl);
  return true;
}

void OvScriptShutdown() {
  if (!g_started) return;
  OvSetScriptLoadHook(nullptr);
  OvSetScriptCtrlFactory(nullptr);
  OvSetObjectFreedHook(nullptr);
  g_started = false;
  g_context = {};
  lua_close(g_L);
  g_L = nullptr;
  ovs::HandleClearAll();
  delete g_seenErrors;
  g_seenErrors = nullptr;
}

bool OvScriptStarted() { return g_started; }

bool OvScriptRunContentChunk(const void* bytes, size_t length) {
  if (!g_started || (!bytes && length)) return false;
  const char* text = static_cast<const char*>(bytes);
  if (length > 0 && text[0] == 0x1B) {
    // Untrusted bytecode can crash the interpreter.
    Trace("lua error: precompiled script chunk in content refused\n");
    return false;
  }
  return RunChunk(text, length, "=content", "t");
}

bool OvScriptRunString(const char* text) {
  if (!text) return false;
  return RunChunk(text, std::strlen(text), "=string", "t");
}

int32_t OvScriptGetSettingInt(const char* name) { return OvTruncToI32(ReadField(nullptr, name)); }

float OvScriptGetSettingFloat(const char* name) { return float(ReadField(nullptr, name)); }

OvAniCtrl* OvFindScriptCtrl(OvClump* clump, const char* scriptName) {
  OvAniCtrlList* list = clump ? clump->GetAniCtrlList() : nullptr;
  if (!list || !scriptName) return nullptr;
  for (int i = 0; i < list->Count(); ++i) {
    OvScriptCtrl* c = AsScriptCtrl(list->At(i));
    if (c && c->m_node.scriptName && std::strcmp(c->m_node.scriptName, scriptName) == 0) return c;
  }
  return nullptr;
}

float OvGetInstanceNumber(OvAniCtrl* ctrl, const char* name) {
  OvScriptCtrl* c = AsScriptCtrl(ctrl);
  if (!c || !c->Live() || c->m_instanceRef == LUA_NOREF) return 0.0f;
  return float(ReadField(c, name));
}

bool OvSetInstanceNumber(OvAniCtrl* ctrl, const char* name, float value) {
  OvScriptCtrl* c = AsScriptCtrl(ctrl);
  if (!c || !name || !c->Live() || c->m_instanceRef == LUA_NOREF) return false;
  FieldArgs a{c, name, double(value), true};
  return Protected(DoField, &a) == CallResult::kOk;
}

bool OvScriptCtrlStopped(const OvAniCtrl* ctrl) {
  const auto* c = ctrl && ctrl->IsKindOf(OvScriptCtrl::ClassTag()) ? static_cast<const OvScriptCtrl*>(ctrl) : nullptr;
  return c && c->m_stopped;
}

lua_State* OvScriptState() { return g_L; }

size_t OvScriptMemoryInUse() { return g_luaBytes; }
