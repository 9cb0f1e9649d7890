// The shader_material{} builder: the shader-material types by their display
// names, their parameters given by label as node{} takes them, and the
// subset colours as material{} takes them.

#include <algorithm>
#include <cstring>

#include "orvc_builders.h"
#include "ov_database.h"
#include "ov_node_params.h"
#include "ov_shader_material.h"

namespace orvc {

namespace {

// Fields of the builder itself; every other text key is a parameter label.
constexpr const char* kFields[] = {"name", "diffuse", "ambient", "specular", "emissive", "power"};

bool IsField(const std::string& key) {
  return std::any_of(std::begin(kFields), std::end(kFields), [&](const char* f) { return key == f; });
}

const OvNodeType* FindMaterialType(lua_State* L, const std::string& name) {
  std::string list;
  for (OvNodeType* t = OvShaderClasses().First(); t; t = t->m_next) {
    int count = 0;
    const char* n = t->GetName();
    if (!n || !t->GetParamTable(count)) continue;
    if (name == n) return t;
    list += (list.empty() ? "" : ", ") + Quote(n);
  }
  Fail(L, "shader_material", "no shader material is named '" + name + "' (the types: " + list + ")");
}

// The labels the table gives, sorted so that messages are stable.
std::vector<std::string> Labels(lua_State* L, const std::string& what) {
  std::vector<std::string> labels;
  lua_pushnil(L);
  while (lua_next(L, 1)) {
    if (lua_type(L, -2) == LUA_TSTRING) {
      const std::string key = lua_tostring(L, -2);
      if (!IsField(key)) labels.push_back(key);
    } else if (!lua_isinteger(L, -2) || lua_tointeger(L, -2) != 1) {
      Fail(L, what, "parameters are given by label, as in [\"Diffuse Map:\"] = texture");
    }
    lua_pop(L, 1);
  }
  std::sort(labels.begin(), labels.end());
  return labels;
}

}  // namespace

int B_shader_material(lua_State* L) {
  // Registering touches no device: the types only describe their records.
  OvRegisterShaderMaterialTypes();
  Impl& c = Ctx(L);
  Args a(L, "shader_material");
  lua_rawgeti(L, 1, 1);
  if (lua_type(L, -1) != LUA_TSTRING) {
    Fail(L, "shader_material", "name the type first, as in shader_material{ \"Bump Mapping\", ... }");
  }
  const std::string typeName = lua_tostring(L, -1);
  lua_pop(L, 1);
  const OvNodeType* type = FindMaterialType(L, typeName);
  const std::string name = a.Str("name", "");
  a.Name(name.empty() ? typeName : name);
  const std::string what = a.What();
  const OrvcMaterialColours colours = MaterialColours(a);

  int count = 0;
  const OvNodeParamDesc* params = type->GetParamTable(count);
  OrvcEntry entry;
  DefaultValues(params, count, entry.values);
  std::vector<bool> given(size_t(count), false);
  for (const std::string& key : Labels(L, what)) {
    const int found = FindParam(L, params, count, key, what);
    if (given[size_t(found)]) Fail(L, what, "parameter " + Quote(params[found].label) + " given twice");
    given[size_t(found)] = true;
    lua_getfield(L, 1, key.c_str());
    ParamValue(L, lua_gettop(L), params[found], found, entry, what + ": " + Quote(params[found].label));
    lua_pop(L, 1);
  }
  // Texts reach the type as addresses, as node{} hands them over.
  for (const OrvcEntry::Text& t : entry.texts) {
    const auto address = uint64_t(reinterpret_cast<uintptr_t>(t.text.c_str()));
    entry.values[size_t(t.slot)].w[0] = uint32_t(address);
    entry.values[size_t(t.slot)].w[1] = uint32_t(address >> 32);
  }
  // A texture given by number must exist (-1: none).
  for (int p = 0; p < count; ++p) {
    if (OvParamBaseKind(params[p].kind) != OV_PK_TEXTURE) continue;
    const int32_t index = int32_t(entry.values[size_t(p)].w[0]);
    if (index != -1 && (index < 0 || uint32_t(index) >= c.stage->Db().TextureCount())) {
      Fail(L, what + ": " + Quote(params[p].label), "texture " + std::to_string(index) + " does not exist");
    }
  }
  OvDbNode* record = type->CreateFromValues(c.stage->Db().Arena(), entry.values.data(), count);
  if (!record) Fail(L, what, "the type made no record from these parameter values");
  std::string why;
  const int index = c.stage->AddShaderRecord(record, colours, name, why);
  if (index < 0) Fail(L, what, why);
  PushHandle(L, OrvcKind::Material, index);
  return 1;
}

}  // namespace orvc
