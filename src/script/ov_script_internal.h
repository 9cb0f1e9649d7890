// Shared by the host and the script function tables: the userdata layouts,
// the handle table that lets engine objects go stale safely, and the
// argument helpers with the error conventions of the script API.
#pragma once

#include <lua.hpp>

#include <cstdint>

#include "ov_math.h"

class OvAniCtrl;
class OvCamera;
class OvClump;
class OvDatabase;
class OvLogObj;
class OvScene;

namespace ovs {

// Userdata tags. Every full userdata in the interpreter is made here and
// starts with its tag, so a tag check is a type check.
enum Tag : uint32_t {
  kTagVector = 0x0F5C0001,
  kTagQuat,
  kTagMatrix,
  kTagScene,
  kTagLogObj,
  kTagClump,
  kTagAniCtrl,
  kTagCamera,
  kTagDatabase,
  kTagCount_  // one past the last
};
inline constexpr int kTagFirst = int(kTagVector);
inline constexpr int kTagNum = int(kTagCount_) - kTagFirst;

// A Vector owns its value, or aliases a quaternion's vector part (the
// quaternion userdata is then kept alive as the Vector's user value).
struct VecUd {
  uint32_t tag;
  OvVector* p;
  OvVector v;
};
struct QuatUd {
  uint32_t tag;
  OvQuat q;
};
// Matrices: an own value, or a live view of an engine matrix found afresh
// through a handle on every use.
enum MatSource : uint32_t {
  kMatOwn = 0,
  kMatClumpWorld,
  kMatClumpVP,
  kMatSceneViewProj,
  kMatSceneCameraWorld,
};
struct MatUd {
  uint32_t tag;
  uint32_t source;
  uint32_t slot, gen;
  OvMatrix m;
};
// Engine objects by handle (slot, generation); cameras through their clump,
// controllers as (owner slot, controller), databases by serial.
struct RefUd {
  uint32_t tag;
  uint32_t slot, gen;
  int32_t serial;
  void* extra;
};

// --- handle table -----------------------------------------------------------
enum SlotKind : uint8_t { kSlotFree = 0, kSlotClump, kSlotLogObj, kSlotScene, kSlotScriptCtrl };
// A slot for the object (the same one while it lives); false without memory.
bool HandleAcquire(void* object, SlotKind kind, uint32_t& slot, uint32_t& gen);
// The live object of a slot, or null when it was freed since.
void* HandleResolve(uint32_t slot, uint32_t gen, SlotKind kind);
SlotKind HandleKind(uint32_t slot, uint32_t gen);
// The object is being freed: its handles go stale.
void HandleForget(const void* object);
void HandleClearAll();
size_t HandleLiveCount();

// --- metatables ----------------------------------------------------------------
void SetTagMetatable(lua_State* L, Tag tag);  // on the value at the top
void PushMetatable(lua_State* L, Tag tag);
void RegisterMetatables(lua_State* L);  // once per state

// --- pushing -------------------------------------------------------------------
OvVector* PushVector(lua_State* L, const OvVector& v);
OvQuat* PushQuat(lua_State* L, const OvQuat& q);
OvMatrix* PushMatrix(lua_State* L, const OvMatrix& m);
void PushLiveMatrix(lua_State* L, MatSource source, void* owner);  // nil for null
void PushClump(lua_State* L, OvClump* clump);                      // nil for null
void PushLogObj(lua_State* L, OvLogObj* object);                   // nil for null
void PushScene(lua_State* L, OvScene* scene);                      // nil for null
void PushCamera(lua_State* L, OvClump* clump);                     // nil unless a camera clump
void PushAniCtrl(lua_State* L, OvAniCtrl* ctrl, OvClump* owner);   // nil for null
void PushDatabase(lua_State* L, OvDatabase* db);                   // nil for null

// --- arguments: null/0 when missing, wrong tag or stale --------------------------
OvVector* ArgVector(lua_State* L, int i);
OvQuat* ArgQuat(lua_State* L, int i);
OvMatrix* ArgMatrix(lua_State* L, int i);
OvClump* ArgClump(lua_State* L, int i);
OvLogObj* ArgLogObj(lua_State* L, int i);
OvScene* ArgScene(lua_State* L, int i);
OvCamera* ArgCamera(lua_State* L, int i);
OvAniCtrl* ArgAniCtrl(lua_State* L, int i);
OvDatabase* ArgDatabase(lua_State* L, int i);
double ArgNum(lua_State* L, int i);
inline float ArgF(lua_State* L, int i) { return float(ArgNum(L, i)); }
inline int32_t ArgI(lua_State* L, int i) { return OvTruncToI32(ArgNum(L, i)); }
const char* ArgStr(lua_State* L, int i);  // null when not a string or number

// Raises "Invalid parameter when calling Orvo function, <report>".
[[noreturn]] void Invalid(lua_State* L, const char* report);
// Raises `text` as it is.
[[noreturn]] void Raise(lua_State* L, const char* text);

// --- registration ----------------------------------------------------------------
struct FnEntry {
  const char* name;
  lua_CFunction fn;
};
// The tables, in registration order.
const FnEntry* ObjectFunctions(int& count);
const FnEntry* MathFunctions(int& count);
const FnEntry* InputFunctions(int& count);
void RegisterConstants(lua_State* L);
void RegisterMathConstants(lua_State* L);
void RegisterOperators(lua_State* L);

// The script context of the running OnTick (NeedTick2Pass / NeedTickHrchy).
struct TickContext {
  OvAniCtrl* ctrl = nullptr;
  OvClump* clump = nullptr;
  int32_t time = 0;
  int requests = 0;  // pass and hierarchy requests made in this call
};
// Requests one OnTick may make: each is a call later in the frame, and a
// loop of them would fill the frame's memory.
inline constexpr int kMaxTickRequests = 16;
TickContext& CurrentContext();

}  // namespace ovs

class OvScriptNode;

namespace ovs {
bool IsScriptCtrl(const OvAniCtrl* ctrl);
// The Script node whose code runs now (its OnCreate or a tick), or null.
const OvScriptNode* RunningScriptNode();
// Charges `steps` steps of library work to the running call's instruction
// budget; raises a script error when the budget is spent.
void ChargePatternWork(lua_State* L, int steps);
// Charges a search through `bytes` bytes; the budget fails the next
// instruction when it is spent.
void ChargeScan(size_t bytes);
// string.find, match, gmatch and gsub with a budgeted matcher.
void RegisterPatternFunctions(lua_State* L);
}  // namespace ovs
