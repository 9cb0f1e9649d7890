// Fuzz target: the content compiler on hostile stage sources. An input that
// starts with 0xFF drives a generator of builder calls (every node type with
// values of its parameters' kinds, handles passed between builders, fields
// and values near their limits); any other input is compiled as Lua source,
// so the demo stages serve as seeds for mutation. A compile must end in
// content or in one "file:line: message" error, and what it wrote must load.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "orvc_compiler.h"
#include "ov_database.h"
#include "ov_node_params.h"
#include "ov_node_type.h"
#include "ov_nodes.h"
#include "ov_scene.h"
#include "ov_trace.h"

#ifndef ORVC_FUZZ_STAGE_DIR
#define ORVC_FUZZ_STAGE_DIR "."
#endif

namespace {

class Choices {
 public:
  Choices(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Empty() const { return m_at >= m_size; }
  uint32_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  uint32_t Below(uint32_t n) { return n ? Byte() % n : 0; }
  template <class T, size_t N>
  const T& Pick(const T (&list)[N]) {
    return list[Below(N)];
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char ch : s) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += char(ch);
    } else if (ch < 32 || ch > 126) {
      out += "\\" + std::to_string(ch);
    } else {
      out += char(ch);
    }
  }
  return out + "\"";
}

const char* const kNumbers[] = {"0",           "1",          "-1",   "0.5",   "2",     "3",
                                "16",          "255",        "256",  "65535", "65536", "2147483647",
                                "-2147483648", "4294967295", "1e9",  "-1e9",  "0/0",   "math.huge",
                                "-math.huge",  "1e-30",      "8192", "8193",  "4096",  "100"};
const char* const kTexts[] = {"\"\"",        "\"a\"",         "\"lid\"",   "\"x.wav\"",
                              "\"../up\"",   "\"/abs\"",      "\"a\\0b\"", "string.rep('a', 70000)",
                              "\"#FF00FF\"", "\"#80FF00FF\"", "\"clamp\"", "\"wrap\""};
const char* const kShapes[] = {"box", "sphere", "cylinder", "cone", "disc", "plane", "rounded_box"};
const char* const kShapeFields[] = {"size",   "radius",   "height", "segments",  "rings", "caps", "top",
                                    "bottom", "uv_scale", "color",  "two_sided", "flags", "name", "colour"};
const char* const kFormats[] = {"argb8888", "xrgb8888", "rgb888", "rgb565", "xrgb1555", "argb1555",
                                "argb4444", "xrgb4444", "rgb332", "p8",     "dxt1"};
const char* const kTrackKinds[] = {"position", "position_cubic", "rotation",   "scale",
                                   "vertices", "vertices_cubic", "uv",         "uv_cubic",
                                   "uv_step",  "visibility",     "background", "nothing"};

class Generator {
 public:
  explicit Generator(Choices& in) : m_in(in) {
    for (OvNodeType* t = OvNodeClasses().First(); t; t = t->m_next) {
      if (t->GetName()) m_types.push_back(t);
    }
  }

  std::string Program() {
    std::string out = "local h = {}\n";
    for (int n = 0; n < 48 && !m_in.Empty(); ++n) {
      // Each call in its own pcall: a refused builder must leave the stage
      // whole for the calls after it.
      out += "pcall(function() h[" + std::to_string(n + 1) + "] = " + Statement() + " end)\n";
    }
    return out;
  }

 private:
  std::string Number() { return m_in.Pick(kNumbers); }
  std::string Small() { return std::to_string(m_in.Below(40)); }
  std::string Handle() { return "h[" + std::to_string(1 + m_in.Below(48)) + "]"; }
  std::string Vector() { return "{" + Number() + ", " + Small() + ", " + Number() + "}"; }
  std::string Colour() {
    switch (m_in.Below(4)) {
      case 0: return Number();
      case 1: return m_in.Pick(kTexts);
      case 2: return "{" + Small() + ", 0.5, 1}";
      default: return "rgb(1, 0, 0.5)";
    }
  }
  std::string Any() {
    switch (m_in.Below(6)) {
      case 0: return Number();
      case 1: return m_in.Pick(kTexts);
      case 2: return Handle();
      case 3: return Vector();
      case 4: return m_in.Below(2) ? "true" : "false";
      default: return "{" + Number() + ", " + Number() + "}";
    }
  }

  std::string Texture() {
    std::string f = "texture{ width = " + (m_in.Below(4) ? Small() : Number()) +
                    ", height = " + (m_in.Below(4) ? Small() : Number());
    switch (m_in.Below(5)) {
      case 0: f += ", solid = " + Colour(); break;
      case 1: f += ", gradient = { from = " + Colour() + ", direction = \"radial\" }"; break;
      case 2: f += ", checker = { size = " + Number() + " }"; break;
      case 3: f += ", pixels = function(x, y) return x * 7 + y end"; break;
      default: f += ", file = " + std::string(m_in.Pick(kTexts)); break;
    }
    if (m_in.Below(2)) f += std::string(", format = \"") + m_in.Pick(kFormats) + "\"";
    if (m_in.Below(3) == 0) f += ", compress = true";
    return f + " }";
  }

  std::string Material() {
    std::string f = "material{ diffuse = " + Colour();
    if (m_in.Below(2)) f += ", texture = " + Handle();
    if (m_in.Below(3) == 0) {
      f += ", layers = {";
      for (uint32_t k = m_in.Below(10); k > 0; --k) {
        f += " { kind = " + std::string(m_in.Below(2) ? "\"add\"" : Number()) + ", texture = " + Handle() +
             ", set = " + Number() + ", address = " + m_in.Pick(kTexts) + " },";
      }
      f += " }";
    }
    if (m_in.Below(2)) f += ", blend = " + std::string(m_in.Below(2) ? "\"alpha\"" : Number());
    return f + " }";
  }

  std::string Shape() {
    std::string f = std::string(m_in.Pick(kShapes)) + "{ ";
    for (uint32_t k = m_in.Below(4); k > 0; --k) f += std::string(m_in.Pick(kShapeFields)) + " = " + Any() + ", ";
    if (m_in.Below(2)) f += "material = " + Handle() + ", ";
    return f + "}";
  }

  std::string Mesh() {
    std::string p = "{", i = "{";
    const uint32_t vertices = m_in.Below(9), indices = m_in.Below(12);
    for (uint32_t k = 0; k < vertices * 3; ++k) p += Small() + ",";
    for (uint32_t k = 0; k < indices; ++k) i += std::to_string(m_in.Below(vertices + 2)) + ",";
    std::string f = "mesh{ positions = " + p + "}, indices = " + i + "}";
    if (m_in.Below(2)) f += ", normals = \"smooth\"";
    if (m_in.Below(3) == 0) f += ", uv = {" + Small() + ", " + Small() + "}";
    if (m_in.Below(3) == 0) f += ", subsets = { { material = " + Handle() + ", first = " + Number() + " } }";
    return f + " }";
  }

  std::string Track() {
    std::string f = "track{ kind = \"" + std::string(m_in.Pick(kTrackKinds)) + "\", keys = {";
    const uint32_t values = m_in.Below(6);
    int32_t time = int32_t(m_in.Below(3)) - 1;
    for (uint32_t k = 1 + m_in.Below(5); k > 0; --k) {
      f += " {" + std::to_string(time);
      for (uint32_t v = 0; v < values; ++v) f += ", " + Small();
      f += "},";
      time += int32_t(m_in.Below(30));
    }
    f += " }";
    if (m_in.Below(2)) f += std::string(", after = \"") + (m_in.Below(2) ? "repeat" : "pingpong") + "\"";
    if (m_in.Below(3) == 0) f += ", interpolation = \"cubic\"";
    if (m_in.Below(3) == 0) f += ", loop = {" + Number() + ", " + Number() + "}";
    return f + " }";
  }

  std::string Value(int32_t kind) {
    switch (OvParamBaseKind(kind)) {
      case OV_PK_REF: return m_in.Below(4) ? Handle() : Number();
      case OV_PK_FLAG_PAIR: return "{" + Number() + ", " + Number() + "}";
      case OV_PK_TEXT:
      case OV_PK_FILE:
      case OV_PK_SOUND_FILE: return m_in.Below(3) ? std::string(m_in.Pick(kTexts)) : Handle();
      case OV_PK_CHECK: return m_in.Below(2) ? "true" : "false";
      case OV_PK_COLOUR: return Colour();
      case OV_PK_AXIS:
      case OV_PK_SPIN_AXIS: return m_in.Below(2) ? "\"z\"" : Number();
      case OV_PK_CHOICE: return m_in.Below(2) ? Small() : Number();
      default: return m_in.Below(4) ? Small() : Number();
    }
  }

  std::string Node() {
    if (m_types.empty()) return "nil";
    const OvNodeType* type = m_types[m_in.Below(uint32_t(m_types.size()))];
    std::string f = "node{ " + Quote(type->GetName());
    int count = 0;
    const OvNodeParamDesc* params = type->GetParamTable(count);
    for (int p = 0; params && p < count; ++p) {
      if (!params[p].label || !*params[p].label || m_in.Below(4) == 0) continue;
      f += ", [" + Quote(params[p].label) + "] = " + Value(params[p].kind);
    }
    return f + " }";
  }

  std::string Clump() {
    std::string f = "clump{ name = " + std::string(m_in.Pick(kTexts));
    if (m_in.Below(2)) f += ", mesh = " + Handle();
    if (m_in.Below(2)) f += ", position = " + Vector();
    if (m_in.Below(3) == 0) f += ", rotation = rotation(\"z\", " + Number() + ")";
    if (m_in.Below(4) == 0)
      f += ", light = { type = \"spot\", range = " + Number() + " }";
    else if (m_in.Below(4) == 0)
      f += ", camera = { fov = " + Number() + ", near = 1, far = " + Number() + " }";
    if (m_in.Below(3) == 0) f += ", children = { " + Handle() + ", " + Handle() + " }";
    if (m_in.Below(2)) {
      f += ", animation = {";
      for (uint32_t k = 1 + m_in.Below(4); k > 0; --k) f += " " + (m_in.Below(3) ? Node() : Track()) + ",";
      f += " }";
    }
    if (m_in.Below(4) == 0) f += ", emit_object = " + Handle();
    return f + " }";
  }

  std::string Object() {
    std::string f = "object{ name = " + std::string(m_in.Pick(kTexts)) + ", clump = " + Handle();
    if (m_in.Below(2)) f += ", flags = { \"collidable\" }, category = " + Number();
    if (m_in.Below(3) == 0) f += ", template = true";
    if (m_in.Below(2)) f += ", health = " + Number();
    return f + " }";
  }

  std::string Statement() {
    switch (m_in.Below(12)) {
      case 0: return Texture();
      case 1: return Material();
      case 2:
      case 3: return Shape();
      case 4: return Mesh();
      case 5:
      case 6: return Clump();
      case 7: return Object();
      case 8: return "animation{ " + Track() + ", " + Node() + " }";
      case 9: return "stage{ camera = " + Handle() + ", frame_rate = " + Number() + ", background = " + Colour() + " }";
      case 10: return "sound{ name = " + std::string(m_in.Pick(kTexts)) + " }";
      default: return "script{ source = " + std::string(m_in.Below(2) ? "\"return 1\"" : "\"x = = 1\"") + " }";
    }
  }

  Choices& m_in;
  std::vector<const OvNodeType*> m_types;
};

bool Setup() {
  OvTraceSetQuiet(true);
  OvRegisterNodeTypes();
  OvRegisterRendererNodeTypes();
  OvRegisterSceneExtensionTypes();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Setup();
  (void)ready;
  std::string text;
  if (size > 0 && data[0] == 0xFF) {
    Choices choices(data + 1, size - 1);
    text = Generator(choices).Program();
  } else {
    text.assign(reinterpret_cast<const char*>(data), size);
  }
  OrvcOptions options;
  options.source = std::string(ORVC_FUZZ_STAGE_DIR) + "/fuzz.lua";
  options.text = &text;
  options.maxInstructions = 2000000;
  options.maxMemory = size_t(96) << 20;
  options.maxSeconds = 5;
  options.print = [](const std::string&) {};
  OrvcCompiler compiler(options);
  std::vector<uint8_t> image;
  if (compiler.Compile() && compiler.Image(image)) {
    OvDatabase* db = OvDatabase::Create();
    if (db == nullptr) return 0;
    const bool loaded = db->LoadMemory(image.data(), image.size(), "fuzz.orv");
    db->Destroy();
    if (!loaded) __builtin_trap();  // the compiler wrote what the loader refuses
  } else if (compiler.Error().empty()) {
    __builtin_trap();  // a failure must say why
  }
  return 0;
}
