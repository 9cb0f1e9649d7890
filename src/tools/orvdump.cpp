// orvdump: prints the structure of a content file for authors, as text or as
// JSON. A file that does not load completely gives status 1 and the reason.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "ov_database.h"
#include "ov_json_writer.h"
#include "ov_memory.h"
#include "ov_node_type.h"
#include "ov_nodes.h"
#include "ov_scene.h"
#include "ov_shader_material.h"
#include "ov_std_material.h"
#include "ov_trace.h"
#include "ov_typed_record.h"

namespace {

const char* kUsage =
    "Usage: orvdump [--json] FILE\n"
    "\n"
    "Prints the structure of a content file: header values, textures, meshes,\n"
    "clumps as a tree, logical objects, animation sets with their entries,\n"
    "scripts and sounds. --json prints the same as one JSON object.\n"
    "Exit status: 0 when the file loads completely, 1 when it does not (the\n"
    "reason goes to standard error), 2 for a bad command line.\n";

struct Capture {
  std::string text;
  static void Sink(void* self, const char* t) { static_cast<Capture*>(self)->text += t; }
};

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%08X", v);
  return buf;
}

std::string TypeOf(const OvDbNode* node, const OvTypeRegistry& reg, uint32_t& group, uint32_t& id) {
  group = id = 0;
  if (!node) return "(empty)";
  OvTypeId t;
  node->GetTypeId(t);
  group = t.group;
  id = t.id;
  if (node->IsInert()) return OvMissingNode::kName;
  // A known type without a display name is hidden from authors, not missing.
  const OvNodeType* type = reg.FindType(t);
  return type && type->GetName() ? type->GetName() : "(hidden type)";
}

const char* TextureFormat(const OvTextureRecord& r) {
  static char buf[64];
  if (r.paletteBits != 0) {
    std::snprintf(buf, sizeof(buf), "palette %u-bit", unsigned(r.paletteBits));
  } else {
    std::snprintf(buf, sizeof(buf), "A%uR%uG%uB%u", unsigned(r.alphaBits == 255 ? 0 : r.alphaBits), unsigned(r.redBits),
                  unsigned(r.greenBits), unsigned(r.blueBits));
  }
  return buf;
}

// Clump records that no other record names as child or brother start trees.
std::vector<int32_t> ClumpRoots(const OvDatabase& db) {
  uint32_t n = db.ClumpRecordCount();
  std::vector<bool> referenced(n, false);
  for (uint32_t i = 0; i < n; ++i) {
    const OvClumpRecord* c = db.ClumpRecord(int32_t(i));
    if (c->firstChild >= 0 && uint32_t(c->firstChild) < n) referenced[c->firstChild] = true;
    if (c->nextBrother >= 0 && uint32_t(c->nextBrother) < n) referenced[c->nextBrother] = true;
  }
  std::vector<int32_t> roots;
  for (uint32_t i = 0; i < n; ++i)
    if (!referenced[i]) roots.push_back(int32_t(i));
  return roots;
}

class Dumper {
 public:
  explicit Dumper(const OvDatabase& db) : m_db(db), m_seen(db.ClumpRecordCount(), false) {}

  void Text(std::string& o, const char* path) {
    char buf[512];
    const OvDbHeader& h = m_db.Header();
    o += std::string("file: ") + path + "\n";
    std::snprintf(buf, sizeof(buf), "version: %u\n", m_db.Version());
    o += buf;
    o += std::string("name: \"") + m_db.Name() + "\"\n";
    std::snprintf(buf, sizeof(buf),
                  "header: frame rate %u, units per frame %d, camera %d, background %s, ambient %s, fog %s, "
                  "lighting %s, header real %g, header integer %d\n",
                  h.frameRate, h.timeUnitsPerFrame, h.cameraId, Hex(h.background).c_str(), Hex(h.ambient).c_str(),
                  h.fogColor ? Hex(*h.fogColor).c_str() : "off", h.lighting ? "on" : "off", double(h.real),
                  h.headerInt);
    o += buf;

    std::snprintf(buf, sizeof(buf), "textures (%u):\n", m_db.TextureCount());
    o += buf;
    for (uint32_t i = 0; i < m_db.TextureCount(); ++i) {
      const OvTextureRecord* r = m_db.Texture(int32_t(i))->record;
      if (!r) continue;
      std::snprintf(buf, sizeof(buf), "  [%u] %d x %d, %s%s\n", i, r->width, r->height, TextureFormat(*r),
                    r->compressed ? ", compressed" : "");
      o += buf;
    }

    std::snprintf(buf, sizeof(buf), "shaders (%u):\n", m_db.ShaderCount());
    o += buf;
    for (uint32_t i = 0; i < m_db.ShaderCount(); ++i) {
      uint32_t g, id;
      std::string name = TypeOf(m_db.Shader(int32_t(i)), OvShaderClasses(), g, id);
      std::snprintf(buf, sizeof(buf), "  [%u] (%u, %u) %s\n", i, g, id, name.c_str());
      o += buf;
    }

    std::snprintf(buf, sizeof(buf), "meshes (%u):\n", m_db.MeshCount());
    o += buf;
    for (uint32_t i = 0; i < m_db.MeshCount(); ++i) {
      int32_t same = m_db.MeshIdentity(int32_t(i));
      if (same >= 0) {
        std::snprintf(buf, sizeof(buf), "  [%u] same object as mesh %d\n", i, same);
        o += buf;
        continue;
      }
      const OvMesh* m = m_db.Mesh(int32_t(i));
      if (!m) continue;
      std::snprintf(buf, sizeof(buf),
                    "  [%u] %d vertices, %d triangles, %d indices, %d coordinate sets, %d subsets, flags %s%s%s%s%s\n",
                    i, m->vertexCount, m->triangleCount, m->indexCount, m->setCount, m->subsetCount,
                    Hex(m->flags).c_str(), m->colors ? ", colours" : "", m->normals ? ", normals" : "",
                    m->bounds ? ", bounds" : "", (m->flags & OV_MESH_TWO_SIDED) ? ", two-sided" : "");
      o += buf;
      std::string shares = Shares(*m);
      if (!shares.empty()) o += "       shares " + shares + "\n";
    }

    std::snprintf(buf, sizeof(buf), "clumps (%u):\n", m_db.ClumpRecordCount());
    o += buf;
    for (int32_t root : ClumpRoots(m_db)) ClumpText(o, root, 1);

    std::snprintf(buf, sizeof(buf), "logical objects (%u):\n", m_db.LogObjRecordCount());
    o += buf;
    for (uint32_t i = 0; i < m_db.LogObjRecordCount(); ++i) {
      const OvLogObjRecord* r = m_db.LogObjRecord(int32_t(i));
      std::snprintf(buf, sizeof(buf),
                    "  [%u] id %d \"%s\", first clump %d, flags %s, creation %s%s, health %d/%d, power %d, "
                    "parent hurt rate %d\n",
                    i, r->id, r->name ? r->name : "", r->firstClump, Hex(uint32_t(r->objectFlags)).c_str(),
                    Hex(uint32_t(r->creationFlags)).c_str(), (r->creationFlags & 3) ? " (template)" : "", r->health,
                    r->fullHealth, r->dPower, r->parentHurtRate);
      o += buf;
    }

    std::snprintf(buf, sizeof(buf), "animation sets (%u):\n", m_db.AniSetCount());
    o += buf;
    for (uint32_t i = 0; i < m_db.AniSetCount(); ++i) {
      const OvDbAniSet* s = m_db.AniSet(int32_t(i));
      std::snprintf(buf, sizeof(buf), "  [%u] %u entries\n", i, unsigned(s->count));
      o += buf;
      for (uint32_t e = 0; e < s->count; ++e) {
        uint32_t g, id;
        std::string name = TypeOf(s->nodes[e], OvNodeClasses(), g, id);
        std::snprintf(buf, sizeof(buf), "      (%u, %u) %s\n", g, id, name.c_str());
        o += buf;
      }
    }

    std::snprintf(buf, sizeof(buf), "scripts (%u):\n", m_db.ScriptCount());
    o += buf;
    for (uint32_t i = 0; i < m_db.ScriptCount(); ++i) {
      const OvScriptEntry* s = m_db.Script(int32_t(i));
      std::snprintf(buf, sizeof(buf), "  [%u] kind %d, %u bytes%s\n", i, s->kind, s->length,
                    s->compressed ? ", compressed" : "");
      o += buf;
    }

    const OvSoundDatabase* sounds = m_db.SoundDatabase();
    uint32_t ns = sounds ? sounds->Count() : 0;
    std::snprintf(buf, sizeof(buf), "sounds (%u):\n", ns);
    o += buf;
    for (uint32_t i = 0; i < ns; ++i) {
      const OvSoundItem* s = sounds->Item(i);
      if (!s) {
        std::snprintf(buf, sizeof(buf), "  [%u] (empty slot)\n", i);
      } else {
        std::snprintf(buf, sizeof(buf), "  [%u] \"%s\" %s, %u bytes, checksum %s\n", i, s->name ? s->name : "",
                      s->embedded ? "embedded" : "by name", s->size, Hex(s->checksum).c_str());
      }
      o += buf;
    }
  }

  void Json(std::string& o, const char* path) {
    JsonWriter j(o);
    j.BeginObject();
    j.Member("file", path);
    j.Member("version", int64_t(m_db.Version()));
    j.Member("name", m_db.Name());
    const OvDbHeader& h = m_db.Header();
    j.Key("header");
    j.BeginObject();
    j.MemberU("frameRate", h.frameRate);
    j.Member("timeUnitsPerFrame", h.timeUnitsPerFrame);
    j.Member("cameraId", h.cameraId);
    j.Member("background", Hex(h.background).c_str());
    j.Member("ambient", Hex(h.ambient).c_str());
    j.Key("fog");
    if (h.fogColor)
      j.String(Hex(*h.fogColor).c_str());
    else
      j.Null();
    j.MemberBool("lighting", h.lighting);
    j.MemberReal("headerReal", h.real);
    j.Member("headerInteger", h.headerInt);
    j.EndObject();

    j.Key("textures");
    j.BeginArray();
    for (uint32_t i = 0; i < m_db.TextureCount(); ++i) {
      const OvTextureRecord* r = m_db.Texture(int32_t(i))->record;
      j.BeginObject();
      j.Member("index", int64_t(i));
      if (r) {
        j.Member("width", r->width);
        j.Member("height", r->height);
        j.Member("format", TextureFormat(*r));
        j.Member("paletteBits", int64_t(r->paletteBits));
        j.Member("alphaBits", int64_t(r->alphaBits));
        j.Member("redBits", int64_t(r->redBits));
        j.Member("greenBits", int64_t(r->greenBits));
        j.Member("blueBits", int64_t(r->blueBits));
        j.MemberBool("compressed", r->compressed);
      }
      j.EndObject();
    }
    j.EndArray();

    j.Key("shaders");
    j.BeginArray();
    for (uint32_t i = 0; i < m_db.ShaderCount(); ++i) TypedJson(j, m_db.Shader(int32_t(i)), OvShaderClasses(), i);
    j.EndArray();

    j.Key("meshes");
    j.BeginArray();
    for (uint32_t i = 0; i < m_db.MeshCount(); ++i) {
      j.BeginObject();
      j.Member("index", int64_t(i));
      int32_t same = m_db.MeshIdentity(int32_t(i));
      if (same >= 0) {
        j.Member("sameAs", same);
        j.EndObject();
        continue;
      }
      if (const OvMesh* m = m_db.Mesh(int32_t(i))) {
        j.Member("vertices", m->vertexCount);
        j.Member("triangles", m->triangleCount);
        j.Member("indices", m->indexCount);
        j.Member("coordinateSets", m->setCount);
        j.Member("subsets", m->subsetCount);
        j.MemberU("flags", m->flags);
        j.MemberBool("colours", m->colors != nullptr);
        j.MemberBool("normals", m->normals != nullptr);
        j.MemberBool("twoSided", (m->flags & OV_MESH_TWO_SIDED) != 0);
        if (m->bounds) j.MemberReals("bounds", m->bounds, OV_MESH_BOUNDS_FLOATS);
        j.Key("shares");
        j.BeginObject();
        SharesJson(j, *m);
        j.EndObject();
      }
      j.EndObject();
    }
    j.EndArray();

    j.Key("clumps");
    j.BeginArray();
    std::fill(m_seen.begin(), m_seen.end(), false);
    for (int32_t root : ClumpRoots(m_db)) ClumpJson(j, root);
    j.EndArray();

    j.Key("logicalObjects");
    j.BeginArray();
    for (uint32_t i = 0; i < m_db.LogObjRecordCount(); ++i) {
      const OvLogObjRecord* r = m_db.LogObjRecord(int32_t(i));
      j.BeginObject();
      j.Member("index", int64_t(i));
      j.Member("id", r->id);
      j.Member("name", r->name ? r->name : "");
      j.Member("firstClump", r->firstClump);
      j.Member("flags", r->objectFlags);
      j.Member("creationFlags", r->creationFlags);
      j.MemberBool("template", (r->creationFlags & 3) != 0);
      j.Member("destructivePower", r->dPower);
      j.Member("health", r->health);
      j.Member("fullHealth", r->fullHealth);
      j.Member("parentHurtRate", r->parentHurtRate);
      j.EndObject();
    }
    j.EndArray();

    j.Key("animationSets");
    j.BeginArray();
    for (uint32_t i = 0; i < m_db.AniSetCount(); ++i) {
      const OvDbAniSet* s = m_db.AniSet(int32_t(i));
      j.BeginObject();
      j.Member("index", int64_t(i));
      j.Key("entries");
      j.BeginArray();
      for (uint32_t e = 0; e < s->count; ++e) TypedJson(j, s->nodes[e], OvNodeClasses(), e);
      j.EndArray();
      j.EndObject();
    }
    j.EndArray();

    j.Key("scripts");
    j.BeginArray();
    for (uint32_t i = 0; i < m_db.ScriptCount(); ++i) {
      const OvScriptEntry* s = m_db.Script(int32_t(i));
      j.BeginObject();
      j.Member("index", int64_t(i));
      j.Member("kind", s->kind);
      j.MemberU("length", s->length);
      j.MemberBool("compressed", s->compressed != 0);
      j.EndObject();
    }
    j.EndArray();

    j.Key("sounds");
    j.BeginArray();
    const OvSoundDatabase* sounds = m_db.SoundDatabase();
    for (uint32_t i = 0; sounds && i < sounds->Count(); ++i) {
      const OvSoundItem* s = sounds->Item(i);
      if (!s) {
        j.Null();
        continue;
      }
      j.BeginObject();
      j.Member("index", int64_t(i));
      j.Member("name", s->name ? s->name : "");
      j.MemberBool("embedded", s->embedded != 0);
      j.MemberU("size", s->size);
      j.Member("checksum", Hex(s->checksum).c_str());
      j.EndObject();
    }
    j.EndArray();
    j.EndObject();
    o += "\n";
  }

 private:
  // The arrays a mesh takes from an earlier one: text label, JSON key, the
  // reference as stored.
  struct SharedArray {
    const char* label;
    const char* key;
    int32_t ref;
  };
  static std::vector<SharedArray> SharedArrays(const OvMesh& m) {
    const SharedArray all[] = {{"positions", "positions", m.refs.positions},
                               {"colours", "colours", m.refs.colors},
                               {"normals", "normals", m.refs.normals},
                               {"indices", "indices", m.refs.indices},
                               {"coordinate sets", "coordinateSets", m.refs.sets},
                               {"materials", "materials", m.refs.materials},
                               {"shader indices", "shaderIndices", m.refs.shaderIndices},
                               {"ranges", "ranges", m.refs.ranges},
                               {"bounds", "bounds", m.refs.bounds}};
    std::vector<SharedArray> out;
    for (const SharedArray& a : all)
      if (a.ref != OV_MESH_INLINE) out.push_back(a);
    return out;
  }
  static std::string Shares(const OvMesh& m) {
    std::string s;
    for (const SharedArray& a : SharedArrays(m)) {
      if (!s.empty()) s += ", ";
      s += std::string(a.label) + " of mesh " + std::to_string(a.ref);
    }
    return s;
  }
  static void SharesJson(JsonWriter& j, const OvMesh& m) {
    for (const SharedArray& a : SharedArrays(m)) j.Member(a.key, a.ref);
  }

  static void TypedJson(JsonWriter& j, const OvDbNode* node, const OvTypeRegistry& reg, uint32_t index) {
    uint32_t g, id;
    std::string name = TypeOf(node, reg, g, id);
    j.BeginObject();
    j.Member("index", int64_t(index));
    j.MemberU("group", g);
    j.MemberU("id", id);
    j.Member("name", name.c_str());
    j.MemberBool("known", node && !node->IsInert());
    j.EndObject();
  }

  static constexpr int kMaxIndentDepth = 40;

  bool Unseen(int32_t i) const { return i >= 0 && uint32_t(i) < m_seen.size() && !m_seen[i]; }

  // Trees as deep as the loader accepts: an explicit stack of brother chains,
  // never the call stack. Every record prints once.
  void ClumpText(std::string& o, int32_t index, int depth) {
    struct Chain {
      int32_t next;
      int depth;
    };
    std::vector<Chain> chains{{index, depth}};
    while (!chains.empty()) {
      const int32_t i = chains.back().next;
      const int d = chains.back().depth;
      if (!Unseen(i)) {
        chains.pop_back();
        continue;
      }
      m_seen[i] = true;
      const OvClumpRecord* c = m_db.ClumpRecord(i);
      char buf[512];
      // Deep chains keep a bounded indent and say their depth instead.
      if (d <= kMaxIndentDepth) {
        o.append(size_t(d) * 2, ' ');
      } else {
        o.append(size_t(kMaxIndentDepth) * 2, ' ');
        o += "(depth " + std::to_string(d) + ") ";
      }
      std::snprintf(buf, sizeof(buf),
                    "[%d] id %d \"%s\" mesh %d, animation set %d, object %d, position (%g, %g, %g), "
                    "rotation (%g, %g, %g, %g), scale (%g, %g, %g), switches %s, flags %s%s\n",
                    i, c->id, c->name ? c->name : "", c->meshIndex, c->aniSetIndex, c->logObjIndex,
                    double(c->position[0]), double(c->position[1]), double(c->position[2]), double(c->rotation[0]),
                    double(c->rotation[1]), double(c->rotation[2]), double(c->rotation[3]), double(c->scale[0]),
                    double(c->scale[1]), double(c->scale[2]), Hex(c->switchWord).c_str(), Hex(c->flags).c_str(),
                    c->extension ? (std::string(", extension ") + ExtensionName(c->extension)).c_str() : "");
      o += buf;
      // The brother comes after this clump's subtree.
      chains.back().next = c->nextBrother;
      chains.push_back({c->firstChild, d + 1});
    }
  }

  void ClumpJson(JsonWriter& j, int32_t index) {
    // A chain of children closes its parent's object when it ends.
    struct Chain {
      int32_t next;
      bool closesParent;
    };
    std::vector<Chain> chains{{index, false}};
    while (!chains.empty()) {
      const int32_t i = chains.back().next;
      if (!Unseen(i)) {
        const bool close = chains.back().closesParent;
        chains.pop_back();
        if (close) {
          j.EndArray();
          j.EndObject();
        }
        continue;
      }
      m_seen[i] = true;
      const OvClumpRecord* c = m_db.ClumpRecord(i);
      j.BeginObject();
      j.Member("index", i);
      j.Member("id", c->id);
      j.Member("name", c->name ? c->name : "");
      j.Member("mesh", c->meshIndex);
      j.Member("animationSet", c->aniSetIndex);
      j.Member("logicalObject", c->logObjIndex);
      j.Member("placement", c->placement);
      j.MemberReals("position", c->position, 3);
      j.MemberReals("rotation", c->rotation, 4);
      j.MemberReals("scale", c->scale, 3);
      j.MemberU("switchWord", c->switchWord);
      j.MemberU("flags", c->flags);
      if (c->extension) j.Member("extension", ExtensionName(c->extension).c_str());
      j.Key("children");
      j.BeginArray();
      chains.back().next = c->nextBrother;
      chains.push_back({c->firstChild, true});
    }
  }

  static std::string ExtensionName(const OvDbNode* ext) {
    uint32_t g, id;
    std::string name = TypeOf(ext, OvExtensionClasses(), g, id);
    return name + " (" + std::to_string(g) + ", " + std::to_string(id) + ")";
  }

  const OvDatabase& m_db;
  std::vector<bool> m_seen;
};

// The reason a load stopped: the error lines of the trace.
std::string Reasons(const std::string& trace) {
  std::string out;
  size_t at = 0;
  while (at < trace.size()) {
    size_t end = trace.find('\n', at);
    if (end == std::string::npos) end = trace.size();
    std::string line = trace.substr(at, end - at);
    if (line.rfind("!!!", 0) == 0 || line.rfind("Can not open", 0) == 0 || line.rfind("Not enough", 0) == 0 ||
        line.rfind("Load database error", 0) == 0 || line.rfind("###", 0) == 0)
      out += line + "\n";
    at = end + 1;
  }
  return out;
}

// Record indices that point outside their section: the loader keeps them and
// the scene ignores them, but an author wants to know.
std::string IndexWarnings(const OvDatabase& db) {
  std::string out;
  auto check = [&](const char* record, uint32_t index, const char* field, int32_t value, uint32_t count,
                   const char* section) {
    if (value == -1 || (value >= 0 && uint32_t(value) < count)) return;
    out += "### " + std::string(record) + " [" + std::to_string(index) + "]: " + field + " " + std::to_string(value) +
           " is outside the " + section + " (" + std::to_string(count) + ")\n";
  };
  const uint32_t clumps = db.ClumpRecordCount();
  for (uint32_t i = 0; i < clumps; ++i) {
    const OvClumpRecord* c = db.ClumpRecord(int32_t(i));
    if (!c) continue;
    check("clump", i, "mesh", c->meshIndex, db.MeshCount(), "meshes");
    check("clump", i, "animation set", c->aniSetIndex, db.AniSetCount(), "animation sets");
    check("clump", i, "object", c->logObjIndex, db.LogObjRecordCount(), "logical objects");
    check("clump", i, "first child", c->firstChild, clumps, "clumps");
    check("clump", i, "next brother", c->nextBrother, clumps, "clumps");
  }
  for (uint32_t i = 0; i < db.LogObjRecordCount(); ++i) {
    if (const OvLogObjRecord* r = db.LogObjRecord(int32_t(i)))
      check("logical object", i, "first clump", r->firstClump, clumps, "clumps");
  }
  return out;
}

// Registers every record class this program knows, so entries show their
// display names instead of "Missing".
void RegisterKnownTypes() {
  OvRegisterNodeTypes();
  OvRegisterRendererNodeTypes();
  OvRegisterSceneExtensionTypes();
  OvRegisterStdMaterialType();
  OvRegisterShaderMaterialTypes();
}

}  // namespace

static int DumpMain(int argc, char** argv) {
  bool json = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strncmp(argv[i], "--", 2) == 0 || path != nullptr) {
      std::fprintf(stderr, "orvdump: unexpected argument '%s'\n%s", argv[i], kUsage);
      return 2;
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  RegisterKnownTypes();
  Capture capture;
  OvTraceSetSink(&Capture::Sink, &capture);
  OvDatabase* db = OvDatabase::Create();
  bool ok = db != nullptr && db->Load(path);
  OvTraceSetSink(nullptr, nullptr);
  if (db == nullptr) {
    std::fprintf(stderr, "orvdump: out of memory\n");
    return 1;
  }

  std::string out;
  Dumper dumper(*db);
  if (json)
    dumper.Json(out, path);
  else
    dumper.Text(out, path);
  std::fputs(out.c_str(), stdout);

  const std::string indexWarnings = IndexWarnings(*db);
  int status = 0;
  if (!ok) {
    std::string reasons = Reasons(capture.text);
    if (reasons.empty()) reasons = "the file holds no complete database\n";
    std::fprintf(stderr, "orvdump: %s did not load completely:\n%s", path, reasons.c_str());
    status = 1;
  } else if (std::string reasons = Reasons(capture.text) + indexWarnings; !reasons.empty()) {
    std::fprintf(stderr, "orvdump: warnings for %s:\n%s", path, reasons.c_str());
  }
  db->Destroy();
  return status;
}

int main(int argc, char** argv) {
  // Nothing may end the program through an exception.
  try {
    return DumpMain(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvdump: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "orvdump: unexpected failure\n");
  }
  return 1;
}
