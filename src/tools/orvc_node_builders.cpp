// The node{} builder: behaviour nodes by type name or pair, with their
// parameters given by label and read by each parameter's kind, or as a
// stored block.

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "orvc_builders.h"
#include "ov_database.h"
#include "ov_node_params.h"
#include "ov_opaque_node.h"

namespace orvc {

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

// Parameter values by kind: each reader takes the value at stack index `i`
// into the entry's slot for that parameter.
struct ParamTarget {
  const OvNodeParamDesc& desc;
  int slot;
  OrvcEntry& entry;
  const std::string& what;
  OvParamValue& Value() const { return entry.values[size_t(slot)]; }
};

void RealValue(lua_State* L, int i, const ParamTarget& t) {
  t.Value().w[0] = std::bit_cast<uint32_t>(float(Number(L, i, t.what)));
}

void CheckValue(lua_State* L, int i, const ParamTarget& t) { t.Value().w[0] = Boolean(L, i, t.what) ? 1 : 0; }

void ColourValue(lua_State* L, int i, const ParamTarget& t) { t.Value().w[0] = Colour(L, i, t.what); }

void WordValue(lua_State* L, int i, const ParamTarget& t) { t.Value().w[0] = Word(L, i, t.what); }

// A number stands for mask and value alike; else {mask, value} or
// {mask = , value = }.
void FlagPairValue(lua_State* L, int i, const ParamTarget& t) {
  OvParamValue& v = t.Value();
  if (lua_type(L, i) == LUA_TNUMBER) {
    v.w[0] = v.w[1] = Word(L, i, t.what);
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
      v.w[0] = Word(L, -2, t.what + " mask");
      v.w[1] = Word(L, -1, t.what + " value");
      lua_pop(L, 2);
      return;
    }
    lua_pop(L, 2);
  }
  Fail(L, t.what, "expected a flag pair {mask, value}, got " + TypeText(L, i));
}

// A handle is resolved when the records are laid out; false means none.
void RefValue(lua_State* L, int i, const ParamTarget& t) {
  OvParamValue& v = t.Value();
  if (lua_isboolean(L, i) && !lua_toboolean(L, i)) return;  // false: none (all -1)
  if (const OrvcHandle* h = TestHandle(L, i)) {
    t.entry.refs.push_back({t.slot, *h});
    return;
  }
  if (lua_type(L, i) == LUA_TNUMBER) {
    v.w[0] = Word(L, i, t.what);
    return;
  }
  if (lua_istable(L, i) && luaL_len(L, i) >= 1 && luaL_len(L, i) <= 4) {
    for (int k = 0; k < luaL_len(L, i); ++k) {
      lua_rawgeti(L, i, k + 1);
      v.w[k] = Word(L, -1, t.what);
      lua_pop(L, 1);
    }
    return;
  }
  Fail(L, t.what, "expected a clump, object or other item, a number, or {words...}, got " + TypeText(L, i));
}

void AxisValue(lua_State* L, int i, const ParamTarget& t) {
  if (lua_type(L, i) == LUA_TSTRING) {
    const std::string s = lua_tostring(L, i);
    if (s == "x" || s == "y" || s == "z") {
      t.Value().w[0] = uint32_t(s[0] - 'x');
      return;
    }
    Fail(L, t.what, "expected \"x\", \"y\", \"z\" or a number, got " + TypeText(L, i));
  }
  t.Value().w[0] = Word(L, i, t.what);
}

// A choice by its text or its number.
void ChoiceValue(lua_State* L, int i, const ParamTarget& t) {
  const int count = OvParamChoiceCount(t.desc);
  if (lua_type(L, i) == LUA_TSTRING) {
    const std::string s = lua_tostring(L, i);
    std::string list;
    for (int k = 0; k < count; ++k) {
      if (s == OvParamChoice(t.desc, k)) {
        t.Value().w[0] = uint32_t(k);
        return;
      }
      list += (list.empty() ? "" : ", ") + Quote(OvParamChoice(t.desc, k));
    }
    Fail(L, t.what, "'" + s + "' is not one of " + list);
  }
  const int64_t k = Integer(L, i, t.what);
  if (count > 0 && (k < 0 || k >= count)) {
    Fail(L, t.what, "choice " + std::to_string(k) + " is beyond the " + std::to_string(count) + " choices");
  }
  t.Value().w[0] = uint32_t(k);
}

// Texts reach the type when the records are laid out.
void TextValue(lua_State* L, int i, const ParamTarget& t) { t.entry.texts.push_back({t.slot, String(L, i, t.what)}); }

// The node stores an index into the sound list: a sound handle, a number, or
// a file name found (or added, to be found at run time) by name.
void SoundFileValue(lua_State* L, int i, const ParamTarget& t) {
  OvParamValue& v = t.Value();
  if (TestHandle(L, i)) {
    v.w[0] = uint32_t(HandleOf(L, i, OrvcKind::Sound, t.what));
    return;
  }
  if (lua_type(L, i) == LUA_TNUMBER) {
    v.w[0] = Word(L, i, t.what);
    return;
  }
  const std::string name = String(L, i, t.what);
  if (name.empty()) Fail(L, t.what, "expected a sound or a sound file name, got an empty text");
  Impl& c = Ctx(L);
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
  if (index < 0) Fail(L, t.what, why);
  v.w[0] = uint32_t(index);
}

void TextureValue(lua_State* L, int i, const ParamTarget& t) {
  t.Value().w[0] = TestHandle(L, i) ? uint32_t(HandleOf(L, i, OrvcKind::Texture, t.what)) : Word(L, i, t.what);
}

// Plain values: whole numbers as integers, others as reals; a list of up to
// four fills the slot's words in order (a size as {x, y, z}).
void PlainValue(lua_State* L, int i, const ParamTarget& t) {
  if (!lua_istable(L, i)) {
    lua_isinteger(L, i) ? WordValue(L, i, t) : RealValue(L, i, t);
    return;
  }
  const lua_Integer n = luaL_len(L, i);
  if (n < 1 || n > 4) Fail(L, t.what, "expected a number or a list of 1 to 4 numbers");
  for (int k = 0; k < int(n); ++k) {
    lua_rawgeti(L, i, k + 1);
    t.Value().w[k] = lua_isinteger(L, -1) ? Word(L, -1, t.what) : std::bit_cast<uint32_t>(float(Number(L, -1, t.what)));
    lua_pop(L, 1);
  }
}

// One parameter value into its slot, by the parameter's kind.
void ParamValue(lua_State* L, int i, const OvNodeParamDesc& d, int slot, OrvcEntry& e, const std::string& what) {
  const ParamTarget t{d, slot, e, what};
  switch (OvParamBaseKind(d.kind)) {
    case OV_PK_REAL: return RealValue(L, i, t);
    case OV_PK_CHECK: return CheckValue(L, i, t);
    case OV_PK_COLOUR: return ColourValue(L, i, t);
    case OV_PK_FLAG_PAIR: return FlagPairValue(L, i, t);
    case OV_PK_REF: return RefValue(L, i, t);
    case OV_PK_SPIN_AXIS:
    case OV_PK_AXIS: return AxisValue(L, i, t);
    case OV_PK_CHOICE: return ChoiceValue(L, i, t);
    case OV_PK_SOUND_FILE: return SoundFileValue(L, i, t);
    case OV_PK_TEXT:
    case OV_PK_FILE: return TextValue(L, i, t);
    case OV_PK_TEXTURE: return TextureValue(L, i, t);
    case OV_PK_INT:
    case OV_PK_TIME:
    case OV_PK_FLAG_MASK:
    case OV_PK_NODE_REF:
    case OV_PK_SUB_MATERIAL: return WordValue(L, i, t);
    default: return PlainValue(L, i, t);
  }
}

// The node's type, named first in the table or given as pair = {group, id}.
const OvNodeType* NodeType(lua_State* L, Args& a, OrvcEntry& entry, OvTypeId& pair) {
  const bool byPair = a.Has("pair");
  lua_rawgeti(L, 1, 1);
  const bool byName = !lua_isnil(L, -1);
  if (byName == byPair) {
    Fail(L, "node", "name the type first, as in node{ \"<ss> Flag Trigger\", ... }, or give pair = {group, id}");
  }
  const OvNodeType* type = nullptr;
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
    entry.typeName =
        type->GetName() ? type->GetName() : "(" + std::to_string(pair.group) + ", " + std::to_string(pair.id) + ")";
  }
  lua_pop(L, 1);
  return type;
}

// Every slot at its parameter's default.
void DefaultValues(const OvNodeParamDesc* params, int count, std::vector<OvParamValue>& values) {
  values.assign(size_t(count), OvParamValue{});
  for (int p = 0; p < count; ++p) {
    const OvNodeParamDesc& d = params[p];
    OvParamValue& v = values[size_t(p)];
    switch (OvParamBaseKind(d.kind)) {
      case OV_PK_REAL: v.w[0] = std::bit_cast<uint32_t>(d.def.f); break;
      case OV_PK_REF: v = OvParamValue{{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}}; break;
      case OV_PK_FLAG_PAIR: v.w[0] = v.w[1] = uint32_t(d.def.i); break;
      case OV_PK_TEXT:
      case OV_PK_FILE: break;  // no text
      default: v.w[0] = uint32_t(d.def.i); break;
    }
  }
}

// The labels the table gives, sorted so that messages are stable.
std::vector<std::string> GivenLabels(lua_State* L, const std::string& what) {
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
  return labels;
}

// The parameter a label names: exactly, else without the leading tab and
// trailing colon; "Label#2" takes the second parameter of that label, and
// "#2" the second one without a label.
int FindParam(lua_State* L, const OvNodeParamDesc* params, int count, const std::string& key, const std::string& what) {
  std::string label = key;
  int nth = 1;
  const size_t hash = key.rfind('#');
  if (hash != std::string::npos && hash + 1 < key.size() &&
      key.find_first_not_of("0123456789", hash + 1) == std::string::npos) {
    label = key.substr(0, hash);
    nth = std::atoi(key.c_str() + hash + 1);
  }
  if (label.empty() && hash == 0) {
    // "#N": the N-th value the table leaves unlabelled (spacers, captions
    // and markers hold none).
    int seen = 0;
    for (int p = 0; p < count; ++p) {
      const int32_t kind = OvParamBaseKind(params[p].kind);
      const bool holdsValue = kind != OV_PK_NONE && kind != OV_PK_SPACER && kind != OV_PK_CAPTION &&
                              !(kind >= OV_PK_INTERNAL_FIRST && kind <= OV_PK_INTERNAL_LAST);
      if (holdsValue && (!params[p].label || !*params[p].label) && ++seen == nth) return p;
    }
    Fail(L, what, "no unlabelled parameter " + key + " (this type has " + std::to_string(seen) + ")");
  }
  for (int pass = 0; pass < 2; ++pass) {
    int seen = 0;
    for (int p = 0; p < count; ++p) {
      const char* l = params[p].label;
      if (!l || !*l) continue;
      const bool match = pass == 0 ? label == l : NormalLabel(label.c_str()) == NormalLabel(l);
      if (match && ++seen == nth) return p;
    }
  }
  std::string list;
  for (int p = 0; p < count; ++p) {
    if (params[p].label && *params[p].label) list += (list.empty() ? "" : ", ") + Quote(params[p].label);
  }
  Fail(L, what, "no parameter labelled '" + key + "' (its parameters: " + list + ")");
}

int B_node(lua_State* L) {
  Args a(L, "node");
  OrvcEntry entry;
  entry.where = Where(L);
  OvTypeId pair{};
  const OvNodeType* type = NodeType(L, a, entry, pair);
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
  DefaultValues(params, count, entry.values);
  std::vector<bool> set(size_t(count), false);
  for (const std::string& key : GivenLabels(L, what)) {
    const int found = FindParam(L, params, count, key, what);
    const char* l = params[found].label;
    const std::string name = l && *l ? Quote(l) : "'" + key + "'";
    if (set[size_t(found)]) Fail(L, what, "parameter " + name + " given twice");
    set[size_t(found)] = true;
    lua_getfield(L, 1, key.c_str());
    ParamValue(L, lua_gettop(L), params[found], found, entry, what + ": " + name);
    lua_pop(L, 1);
  }
  return PushEntry(L, std::move(entry));
}

}  // namespace orvc
