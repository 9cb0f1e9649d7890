// Builders of the scene and its animation: the rotation and value helpers,
// clumps, logical objects, animation sets and tracks.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "orvc_builders.h"
#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_math.h"

namespace orvc {

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
      o.flags = int32_t(orvc::Word(L, -1, a.Field("flags")));
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
      Fail(L, "animation",
           "expected only a list of entries, got the field " + std::string(luaL_tolstring(L, -1, nullptr)));
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
    {"position", OV_TRACK_POSITION, 3, false},
    {"position_cubic", OV_TRACK_POSITION_CUBIC, 3, true},
    {"rotation", OV_TRACK_ROTATION, 4, false},
    {"scale", OV_TRACK_SCALE, 1, false},
    {"vertices", OV_TRACK_VERTICES, -1, false},
    {"vertices_cubic", OV_TRACK_VERTICES_CUBIC, -1, true},
    {"uv", OV_TRACK_UV, -1, false},
    {"uv_cubic", OV_TRACK_UV_CUBIC, -1, true},
    {"uv_step", OV_TRACK_UV_STEP, -1, false},
    {"visibility", OV_TRACK_VISIBILITY, 0, false},
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
    Fail(L, a.Field("kind"),
         (kindName.empty() ? std::string("missing") : "'" + kindName + "' is not a track kind") + " (expected one of " +
             list + ")");
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
      Fail(L, what,
           "time " + std::to_string(t) + " is not after the previous key's " + std::to_string(table.times.back()));
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
      const double len =
          std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2] + double(q[3]) * q[3]);
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
  entry.node =
      OrvcNodeFromBlock(OvNodeClasses(), Ctx(L).stage->Db().Arena(), {0, kind->id}, OrvcTrackBlock(flags, table), why);
  if (!entry.node) Fail(L, a.What(), why);
  entry.typeName = "track " + kindName;
  return PushEntry(L, std::move(entry));
}

}  // namespace orvc
