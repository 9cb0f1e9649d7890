// Userdata of the script API and the handle table behind engine objects.
//
// Engine objects are handed to scripts by handle: a slot in a table plus the
// slot's generation. When a clump, logical object, scene or script
// controller is freed, the engine's freed hook bumps the generation, so a
// handle a script kept resolves to null and the function reports a missing
// object instead of touching freed memory. Reference counts would keep
// deleted objects (and through their controllers the scripts' own tables)
// alive in cycles; a weak table would still hand out dangling pointers.
#include <cstring>
#include <unordered_map>
#include <vector>

#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_script_internal.h"

namespace ovs {
namespace {

struct Slot {
  void* object = nullptr;
  uint32_t gen = 1;
  SlotKind kind = kSlotFree;
};

std::vector<Slot> g_slots;
std::vector<uint32_t> g_free;
std::unordered_map<const void*, uint32_t> g_index;

int g_metatableRef[kTagNum] = {};

const char* const kTagNames[kTagNum] = {"Vector", "Quat",    "Matrix", "Scene",   "LogObj",
                                        "Clump",  "AniCtrl", "Camera", "Database"};

template <class T>
T* Ud(lua_State* L, int i, uint32_t tag) {
  if (lua_type(L, i) != LUA_TUSERDATA) return nullptr;
  if (lua_rawlen(L, i) < sizeof(T)) return nullptr;
  T* u = static_cast<T*>(lua_touserdata(L, i));
  return u->tag == tag ? u : nullptr;
}

template <class T>
T* NewUd(lua_State* L, Tag tag, int userValues = 0) {
  T* u = static_cast<T*>(lua_newuserdatauv(L, sizeof(T), userValues));
  std::memset(static_cast<void*>(u), 0, sizeof(T));
  u->tag = tag;
  SetTagMetatable(L, tag);
  return u;
}

// Handles of the same object compare equal, as the same reference would.
int RefEq(lua_State* L) {
  if (lua_type(L, 1) != LUA_TUSERDATA || lua_type(L, 2) != LUA_TUSERDATA) {
    lua_pushboolean(L, 0);
    return 1;
  }
  const size_t n1 = lua_rawlen(L, 1), n2 = lua_rawlen(L, 2);
  if (n1 != sizeof(RefUd) || n2 != sizeof(RefUd)) {
    lua_pushboolean(L, 0);
    return 1;
  }
  const auto* a = static_cast<const RefUd*>(lua_touserdata(L, 1));
  const auto* b = static_cast<const RefUd*>(lua_touserdata(L, 2));
  lua_pushboolean(
      L, a->tag == b->tag && a->slot == b->slot && a->gen == b->gen && a->serial == b->serial && a->extra == b->extra);
  return 1;
}

bool PushRef(lua_State* L, Tag tag, void* object, SlotKind kind, void* extra = nullptr) {
  uint32_t slot = 0, gen = 0;
  if (!object || !HandleAcquire(object, kind, slot, gen)) {
    lua_pushnil(L);
    return false;
  }
  RefUd* u = NewUd<RefUd>(L, tag);
  u->slot = slot;
  u->gen = gen;
  u->serial = -1;
  u->extra = extra;
  return true;
}

}  // namespace

// --- handle table ---------------------------------------------------------------

bool HandleAcquire(void* object, SlotKind kind, uint32_t& slot, uint32_t& gen) {
  auto it = g_index.find(object);
  if (it != g_index.end()) {
    const Slot& s = g_slots[it->second];
    // An address reused by another kind of object is another object.
    if (s.kind == kind) {
      slot = it->second;
      gen = s.gen;
      return true;
    }
    HandleForget(object);
  }
  uint32_t index;
  if (!g_free.empty()) {
    index = g_free.back();
    g_free.pop_back();
  } else {
    if (g_slots.size() >= 0x7FFFFFFFu) return false;
    g_slots.emplace_back();
    index = uint32_t(g_slots.size() - 1);
  }
  Slot& s = g_slots[index];
  s.object = object;
  s.kind = kind;
  g_index.emplace(object, index);
  slot = index;
  gen = s.gen;
  return true;
}

void* HandleResolve(uint32_t slot, uint32_t gen, SlotKind kind) {
  if (slot >= g_slots.size()) return nullptr;
  const Slot& s = g_slots[slot];
  return s.gen == gen && s.kind == kind ? s.object : nullptr;
}

SlotKind HandleKind(uint32_t slot, uint32_t gen) {
  if (slot >= g_slots.size() || g_slots[slot].gen != gen) return kSlotFree;
  return g_slots[slot].kind;
}

void HandleForget(const void* object) {
  if (g_index.empty()) return;
  auto it = g_index.find(object);
  if (it == g_index.end()) return;
  Slot& s = g_slots[it->second];
  s.object = nullptr;
  s.kind = kSlotFree;
  ++s.gen;
  if (s.gen == 0) s.gen = 1;
  g_free.push_back(it->second);
  g_index.erase(it);
}

void HandleClearAll() {
  // Generations survive so that no handle made before matches again.
  for (auto& [object, index] : g_index) {
    Slot& s = g_slots[index];
    s.object = nullptr;
    s.kind = kSlotFree;
    ++s.gen;
    g_free.push_back(index);
  }
  g_index.clear();
}

size_t HandleLiveCount() { return g_index.size(); }

// --- metatables -----------------------------------------------------------------

void SetTagMetatable(lua_State* L, Tag tag) {
  lua_rawgeti(L, LUA_REGISTRYINDEX, g_metatableRef[int(tag) - kTagFirst]);
  lua_setmetatable(L, -2);
}

void PushMetatable(lua_State* L, Tag tag) { lua_rawgeti(L, LUA_REGISTRYINDEX, g_metatableRef[int(tag) - kTagFirst]); }

void RegisterMetatables(lua_State* L) {
  for (int i = 0; i < kTagNum; ++i) {
    lua_createtable(L, 0, 4);
    lua_pushstring(L, kTagNames[i]);
    lua_setfield(L, -2, "__name");
    // Scripts cannot read or replace the engine's metatables.
    lua_pushboolean(L, 0);
    lua_setfield(L, -2, "__metatable");
    if (i + kTagFirst >= int(kTagScene)) {
      lua_pushcfunction(L, RefEq);
      lua_setfield(L, -2, "__eq");
    }
    g_metatableRef[i] = luaL_ref(L, LUA_REGISTRYINDEX);
  }
}

// --- pushing ----------------------------------------------------------------------

OvVector* PushVector(lua_State* L, const OvVector& v) {
  VecUd* u = NewUd<VecUd>(L, kTagVector);
  u->v = v;
  u->p = &u->v;
  return u->p;
}

OvQuat* PushQuat(lua_State* L, const OvQuat& q) {
  QuatUd* u = NewUd<QuatUd>(L, kTagQuat);
  u->q = q;
  return &u->q;
}

OvMatrix* PushMatrix(lua_State* L, const OvMatrix& m) {
  MatUd* u = NewUd<MatUd>(L, kTagMatrix);
  u->source = kMatOwn;
  u->m = m;
  return &u->m;
}

void PushLiveMatrix(lua_State* L, MatSource source, void* owner) {
  const SlotKind kind = source == kMatClumpWorld || source == kMatClumpVP ? kSlotClump : kSlotScene;
  uint32_t slot = 0, gen = 0;
  if (!owner || !HandleAcquire(owner, kind, slot, gen)) {
    lua_pushnil(L);
    return;
  }
  MatUd* u = NewUd<MatUd>(L, kTagMatrix);
  u->source = source;
  u->slot = slot;
  u->gen = gen;
}

void PushClump(lua_State* L, OvClump* clump) { PushRef(L, kTagClump, clump, kSlotClump); }
void PushLogObj(lua_State* L, OvLogObj* object) { PushRef(L, kTagLogObj, object, kSlotLogObj); }
void PushScene(lua_State* L, OvScene* scene) { PushRef(L, kTagScene, scene, kSlotScene); }

void PushCamera(lua_State* L, OvClump* clump) {
  if (!clump || !clump->IsCamera()) {
    lua_pushnil(L);
    return;
  }
  PushRef(L, kTagCamera, clump, kSlotClump);
}

void PushAniCtrl(lua_State* L, OvAniCtrl* ctrl, OvClump* owner) {
  if (!ctrl) {
    lua_pushnil(L);
  } else if (IsScriptCtrl(ctrl)) {
    PushRef(L, kTagAniCtrl, ctrl, kSlotScriptCtrl, ctrl);
  } else {
    PushRef(L, kTagAniCtrl, owner, kSlotClump, ctrl);
  }
}

void PushDatabase(lua_State* L, OvDatabase* db) {
  if (!db) {
    lua_pushnil(L);
    return;
  }
  RefUd* u = NewUd<RefUd>(L, kTagDatabase);
  u->serial = db->Serial();
}

// --- arguments ----------------------------------------------------------------------

OvVector* ArgVector(lua_State* L, int i) {
  VecUd* u = Ud<VecUd>(L, i, kTagVector);
  return u ? u->p : nullptr;
}

OvQuat* ArgQuat(lua_State* L, int i) {
  QuatUd* u = Ud<QuatUd>(L, i, kTagQuat);
  return u ? &u->q : nullptr;
}

OvMatrix* ArgMatrix(lua_State* L, int i) {
  MatUd* u = Ud<MatUd>(L, i, kTagMatrix);
  if (!u) return nullptr;
  switch (u->source) {
    case kMatOwn: return &u->m;
    case kMatClumpWorld:
    case kMatClumpVP: {
      auto* c = static_cast<OvClump*>(HandleResolve(u->slot, u->gen, kSlotClump));
      if (!c) return nullptr;
      return u->source == kMatClumpWorld ? c->GetToWorldMatrix() : c->GetVPMatrix();
    }
    case kMatSceneViewProj:
    case kMatSceneCameraWorld: {
      auto* s = static_cast<OvScene*>(HandleResolve(u->slot, u->gen, kSlotScene));
      if (!s) return nullptr;
      return const_cast<OvMatrix*>(u->source == kMatSceneViewProj ? &s->GetViewProjMatrix()
                                                                  : s->GetCameraToWorldMatrix());
    }
    default: return nullptr;
  }
}

OvClump* ArgClump(lua_State* L, int i) {
  RefUd* u = Ud<RefUd>(L, i, kTagClump);
  return u ? static_cast<OvClump*>(HandleResolve(u->slot, u->gen, kSlotClump)) : nullptr;
}

OvLogObj* ArgLogObj(lua_State* L, int i) {
  RefUd* u = Ud<RefUd>(L, i, kTagLogObj);
  return u ? static_cast<OvLogObj*>(HandleResolve(u->slot, u->gen, kSlotLogObj)) : nullptr;
}

OvScene* ArgScene(lua_State* L, int i) {
  RefUd* u = Ud<RefUd>(L, i, kTagScene);
  return u ? static_cast<OvScene*>(HandleResolve(u->slot, u->gen, kSlotScene)) : nullptr;
}

OvCamera* ArgCamera(lua_State* L, int i) {
  RefUd* u = Ud<RefUd>(L, i, kTagCamera);
  if (!u) return nullptr;
  auto* c = static_cast<OvClump*>(HandleResolve(u->slot, u->gen, kSlotClump));
  // The camera is the clump's extension for as long as the clump keeps it.
  return c && c->IsCamera() ? static_cast<OvCamera*>(c->GetExtension()) : nullptr;
}

OvAniCtrl* ArgAniCtrl(lua_State* L, int i) {
  RefUd* u = Ud<RefUd>(L, i, kTagAniCtrl);
  if (!u) return nullptr;
  switch (HandleKind(u->slot, u->gen)) {
    case kSlotScriptCtrl: return static_cast<OvAniCtrl*>(HandleResolve(u->slot, u->gen, kSlotScriptCtrl));
    case kSlotClump: {
      // Any other controller is valid while its clump still lists it.
      auto* c = static_cast<OvClump*>(HandleResolve(u->slot, u->gen, kSlotClump));
      auto* ctrl = static_cast<OvAniCtrl*>(u->extra);
      OvAniCtrlList* list = c ? c->GetAniCtrlList() : nullptr;
      return list && list->Contains(ctrl) ? ctrl : nullptr;
    }
    default: return nullptr;
  }
}

OvDatabase* ArgDatabase(lua_State* L, int i) {
  RefUd* u = Ud<RefUd>(L, i, kTagDatabase);
  return u ? OvDatabase::FindBySerial(u->serial) : nullptr;
}

double ArgNum(lua_State* L, int i) {
  int ok = 0;
  const lua_Number v = lua_tonumberx(L, i, &ok);
  return ok ? double(v) : 0.0;
}

const char* ArgStr(lua_State* L, int i) {
  const int t = lua_type(L, i);
  return t == LUA_TSTRING || t == LUA_TNUMBER ? lua_tostring(L, i) : nullptr;
}

void Invalid(lua_State* L, const char* report) {
  // The text as it is, without a position in front.
  lua_pushfstring(L, "Invalid parameter when calling Orvo function, %s", report);
  lua_error(L);
  __builtin_unreachable();
}

void Raise(lua_State* L, const char* text) {
  lua_pushstring(L, text);
  lua_error(L);
  __builtin_unreachable();
}

}  // namespace ovs
