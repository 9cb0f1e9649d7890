// Builders of the content's assets: the header, textures, materials, meshes,
// scripts and sounds.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "orvc_builders.h"
#include "ov_database.h"
#include "ov_wave_file.h"

namespace orvc {

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
          orvc::Colour(L, -1, what + ": pixels(" + std::to_string(x) + ", " + std::to_string(y) + ")");
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
    if (OrvcImageSize(bytes, w, h) && w <= ORVC_MAX_TEXTURE_SIDE && h <= ORVC_MAX_TEXTURE_SIDE)
      image.emplace(L, a.What(), uint64_t(w) * uint64_t(h) * 4);
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

const std::vector<const char*> kLayerKinds = {"texture",    "blend_alpha", "add",  "modulate",
                                              "modulate2x", "reflection",  "bump", "bump2"};
const uint32_t kLayerKindValues[] = {ORVC_LAYER_TEXTURE,  ORVC_LAYER_BLEND_ALPHA, ORVC_LAYER_ADD,
                                     ORVC_LAYER_MODULATE, ORVC_LAYER_MODULATE2X,  ORVC_LAYER_REFLECTION,
                                     ORVC_LAYER_BUMP,     ORVC_LAYER_BUMP2};
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

OrvcMaterialColours MaterialColours(Args& a) {
  OrvcMaterialColours colours;
  a.Floats("diffuse", colours.diffuse);
  std::copy(colours.diffuse, colours.diffuse + 4, colours.ambient);
  a.Floats("ambient", colours.ambient);
  a.Floats("specular", colours.specular);
  a.Floats("emissive", colours.emissive);
  colours.power = float(a.Number("power", 0.0));
  return colours;
}

int B_material(lua_State* L) {
  Impl& c = Ctx(L);
  Args a(L, "material");
  OrvcMaterialSpec desc;
  desc.name = a.Str("name", "");
  a.Name(desc.name);
  const OrvcMaterialColours colours = MaterialColours(a);

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
          layer.kind = orvc::Word(L, -1, l.Field("kind"));
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
      desc.blend = orvc::Word(L, -1, a.Field("blend"));
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
      // A hostile "first" must not overflow the default; the range check
      // on the whole subset list reports it.
      const int64_t rest = int64_t(data.TriangleCount()) - sub.firstTriangle;
      sub.triangleCount = s.Int("count", int(std::clamp<int64_t>(rest, INT32_MIN, INT32_MAX)));
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
      d.colors.push_back(orvc::Colour(L, -1, a.Field("colors") + " entry " + std::to_string(k)));
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
// Scripts and sounds.

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
  auto u32 = [&](size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
  };
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

}  // namespace orvc
