// Record classes and a renderer for the database tests, and a sample database
// that uses every kind of record.
#pragma once

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "content_builder.h"
#include "ov_node_type.h"

namespace content_test {

// Pairs no engine type uses.
constexpr OvTypeId kFakeNodeType{77, 1};
constexpr OvTypeId kFakeShaderType{77, 2};
constexpr OvTypeId kFakeExtensionType{77, 3};
constexpr OvTypeId kShortNodeType{77, 4};  // reads only the first word of its payload

// Payload: i32 value, string text.
class FakeNode : public OvDbNode {
 public:
  FakeNode(OvTypeId type, bool shortReader) : m_type(type), m_short(shortReader) { ++live; }
  ~FakeNode() override { --live; }

  void GetTypeId(OvTypeId& out) const override { out = m_type; }
  bool Read(OvStream& s, OvChunkArena& arena) override {
    if (m_short) return s.ReadI32(value);
    return s.ReadI32(value) && s.ReadString(text, &arena);
  }
  bool Write(OvStream& s) const override { return s.WriteI32(value) && (m_short || s.WriteString(text)); }
  void Bind(OvDatabase* database) override { bound = database; }
  void* GetController(void* context) override { return context ? &resource : nullptr; }

  int32_t value = 0;
  char* text = nullptr;
  OvDatabase* bound = nullptr;
  int resource = 0;
  static inline int live = 0;

 private:
  OvTypeId m_type;
  bool m_short;
};

// Held in the process-wide registries for the whole run. They bypass the
// engine allocator so that tests balancing its counts (which shut the
// registries down) are not disturbed by them.
class FakeType : public OvNodeType {
 public:
  FakeType(OvTypeId type, bool shortReader) : m_type(type), m_short(shortReader) {}
  static void* operator new(size_t n) noexcept { return std::malloc(n); }
  static void operator delete(void* p) noexcept { std::free(p); }
  void GetTypeId(OvTypeId& out) const override { out = m_type; }
  OvDbNode* Create(OvChunkArena& arena) const override { return OvArenaNew<FakeNode>(arena, m_type, m_short); }

 private:
  OvTypeId m_type;
  bool m_short;
};

// Registers the fake classes in the global registries once per process.
inline void RegisterFakeTypes() {
  static bool done = false;
  if (done) return;
  done = true;
  OvNodeClasses().Register(new FakeType(kFakeNodeType, false));
  OvNodeClasses().Register(new FakeType(kShortNodeType, true));
  OvShaderClasses().Register(new FakeType(kFakeShaderType, false));
  OvExtensionClasses().Register(new FakeType(kFakeExtensionType, false));
}

inline FakeNode* MakeFakeNode(OvDatabase& db, OvTypeId type, int32_t value, const char* text) {
  FakeNode* node = OvArenaNew<FakeNode>(db.Arena(), type, false);
  if (node) {
    node->value = value;
    node->text = db.CopyString(text);
  }
  return node;
}

// Records every call.
class RecordingRenderer : public OvDbRenderer {
 public:
  void* CreateTexture(const OvTextureRecord& record) override {
    created.push_back(&record);
    sawPixels.push_back(record.palette || record.pixels16 || record.pixels32);
    return &handles[created.size() % 16];
  }
  void EndTextureBuilding() override { ++endCalls; }
  void ReleaseTexture(void* texture) override { releasedTextures.push_back(texture); }
  void ReleaseMeshBuffers(OvMesh& mesh) override {
    releasedMeshes.push_back(&mesh);
    mesh.deviceBuffers = nullptr;
  }
  void ReleaseShaderResource(void* resource) override { releasedResources.push_back(resource); }

  std::vector<const OvTextureRecord*> created;
  std::vector<bool> sawPixels;
  int endCalls = 0;
  std::vector<void*> releasedTextures;
  std::vector<OvMesh*> releasedMeshes;
  std::vector<void*> releasedResources;
  char handles[16] = {};
};

template <class T>
T* ArenaArray(OvDatabase& db, std::initializer_list<T> values) {
  T* out = OvArenaNewArray<T>(db.Arena(), values.size());
  size_t i = 0;
  for (const T& v : values) out[i++] = v;
  return out;
}

template <class T>
void FillPattern(T* data, uint64_t count, uint32_t seed) {
  for (uint64_t i = 0; i < count; ++i) data[i] = T(seed * 2654435761u + uint32_t(i) * 40503u);
}

inline OvTextureEntry* AddSampleTexture(OvDatabase& db, int32_t w, int32_t h, uint16_t paletteBits, uint16_t a,
                                        uint16_t r, uint16_t g, uint16_t b, bool compressed, uint32_t seed) {
  OvTextureRecord shape;
  shape.width = w;
  shape.height = h;
  shape.paletteBits = paletteBits;
  shape.alphaBits = a;
  shape.redBits = r;
  shape.greenBits = g;
  shape.blueBits = b;
  shape.word16 = uint16_t(seed);
  shape.word32 = int32_t(seed * 3);
  shape.entryWord = seed * 5;
  shape.compressed = compressed;
  OvTextureEntry* e = db.AddTexture(shape);
  if (!e) return nullptr;
  OvTextureRecord& t = *e->record;
  if (t.palette) FillPattern(t.palette, OvTexturePaletteBytes(t), seed);
  if (t.pixels16) FillPattern(t.pixels16, OvTexturePixelCount(t), seed + 1);
  if (t.pixels32) FillPattern(t.pixels32, OvTexturePixelCount(t), seed + 2);
  return e;
}

inline OvMaterial SampleMaterial(float base) {
  OvMaterial m{};
  for (int i = 0; i < 4; ++i) {
    m.diffuse[i] = base + i;
    m.ambient[i] = base + 10 + i;
    m.specular[i] = base + 20 + i;
    m.emissive[i] = base + 30 + i;
  }
  m.power = base * 2;
  return m;
}

// Six mesh slots: a full mesh; one sharing arrays of it (also a set array
// by packed reference); slot 2 the same object as mesh 0; a mesh without
// vertices; one sharing mesh 0's whole set array; slot 5 the same object as
// mesh 3.
inline bool AddSampleMeshes(OvDatabase& db) {
  OvMesh* m0 = db.AddMesh();
  if (!m0) return false;
  m0->fileFlags = OV_MESH_FILE_COLORS | OV_MESH_FILE_NORMALS | OV_MESH_FILE_BOUNDS;
  m0->vertexCount = 4;
  m0->positions = ArenaArray<float>(db, {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0});
  m0->colors = ArenaArray<uint32_t>(db, {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu});
  m0->normals = ArenaArray<float>(db, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});
  m0->triangleCount = 2;
  m0->indexCount = 6;
  m0->indices = ArenaArray<uint32_t>(db, {0, 1, 2, 0, 2, 3});
  m0->setCount = 2;
  m0->sets = OvArenaNewArray<OvTexCoordSet>(db.Arena(), 2);
  m0->sets[0].word = 5;
  m0->sets[0].coordCount = 4;
  m0->sets[0].coords = ArenaArray<float>(db, {0, 0, 1, 0, 1, 1, 0, 1});
  m0->sets[0].indexCount = 6;
  m0->sets[0].indices = ArenaArray<uint32_t>(db, {0, 1, 2, 0, 2, 3});
  m0->sets[1].word = 6;
  m0->sets[1].coordCount = 4;
  m0->sets[1].coords = ArenaArray<float>(db, {0.5f, 0, 1, 0.5f, 1, 1, 0, 1});
  m0->wordA = 3;
  m0->wordC = 7;
  m0->flags = OV_MESH_TWO_SIDED;
  m0->subsetCount = 3;
  m0->materials = ArenaArray<OvMaterial>(db, {SampleMaterial(1), SampleMaterial(2), SampleMaterial(3)});
  m0->shaderIndices = ArenaArray<int32_t>(db, {0, -1, 0});
  m0->resources = OvArenaNewArray<void*>(db.Arena(), 3);
  m0->ranges = ArenaArray<uint32_t>(db, {0, 1, 1, 1, 2, 0});
  m0->bounds = ArenaArray<float>(db, {0.5f, 0.5f, 0, 0.75f, 0, 0, 0, 1, 1, 0});

  OvMesh* m1 = db.AddMesh();
  if (!m1) return false;
  m1->fileFlags = OV_MESH_FILE_COLORS;
  m1->vertexCount = 4;
  m1->positions = m0->positions;
  m1->refs.positions = 0;
  m1->colors = m0->colors;
  m1->refs.colors = 0;
  m1->triangleCount = 2;
  m1->indexCount = 6;
  m1->indices = m0->indices;
  m1->refs.indices = 0;
  m1->setCount = 1;
  m1->sets = OvArenaNewArray<OvTexCoordSet>(db.Arena(), 1);
  m1->sets[0].word = 9;
  m1->sets[0].coordCount = 4;
  m1->sets[0].coords = m0->sets[1].coords;
  m1->sets[0].coordRef = (1 << 24) | 0;  // mesh 0, set 1
  m1->sets[0].indexCount = 6;
  m1->sets[0].indices = m0->sets[0].indices;
  m1->sets[0].indexRef = 0;  // mesh 0, set 0
  m1->subsetCount = 3;
  m1->materials = m0->materials;
  m1->refs.materials = 0;
  m1->shaderIndices = m0->shaderIndices;
  m1->refs.shaderIndices = 0;
  m1->resources = m0->resources;
  m1->ranges = m0->ranges;
  m1->refs.ranges = 0;

  if (!db.AddMeshIdentity(0)) return false;

  OvMesh* m3 = db.AddMesh();
  if (!m3) return false;
  m3->fileFlags = OV_MESH_FILE_COLORS;  // no vertices: nothing is stored for it
  m3->triangleCount = 1;
  m3->indexCount = 3;
  m3->indices = ArenaArray<uint32_t>(db, {2, 1, 0});
  m3->setCount = 1;
  m3->sets = OvArenaNewArray<OvTexCoordSet>(db.Arena(), 1);
  m3->sets[0].coordCount = 2;
  m3->sets[0].coords = ArenaArray<float>(db, {0.25f, 0.5f, 0.75f, 1});
  m3->wordC = -1;
  m3->subsetCount = 1;
  m3->materials = ArenaArray<OvMaterial>(db, {SampleMaterial(4)});
  m3->shaderIndices = ArenaArray<int32_t>(db, {0});
  m3->resources = OvArenaNewArray<void*>(db.Arena(), 1);

  OvMesh* m4 = db.AddMesh();
  if (!m4) return false;
  m4->vertexCount = 4;
  m4->positions = ArenaArray<float>(db, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  m4->setCount = 2;
  m4->sets = m0->sets;
  m4->refs.sets = 0;

  return db.AddMeshIdentity(3);
}

// A database that uses every kind of record, including records of unknown
// classes; what it writes loads back and writes again byte for byte.
inline bool BuildSample(OvDatabase& db) {
  RegisterFakeTypes();
  db.SetVersion(OV_DB_VERSION);
  db.SetFileReserved(0x55);
  if (!db.SetName("stage")) return false;
  OvDbHeader& h = db.Header();
  h.reserved = 0x77;
  h.real = 0.5f;
  h.timeUnitsPerFrame = 2;
  h.frameRate = 30;
  h.cameraId = 5;
  h.headerInt = 9;
  h.background = 0xFF102030u;
  h.ambient = 0x00404040u;
  if (!db.SetFogColor(0xFF808080u)) return false;

  const uint8_t wave[10] = {'R', 'I', 'F', 'F', 1, 2, 3, 4, 5, 6};
  if (db.SoundDatabase()->AddItem("sounds\\boom.wav", wave, sizeof wave) != 0) return false;
  if (db.SoundDatabase()->AddItem("far.wav", nullptr, 0) != 1) return false;

  if (!AddSampleTexture(db, 2, 2, 0, 8, 8, 8, 8, false, 1)) return false;   // A8R8G8B8
  if (!AddSampleTexture(db, 3, 2, 0, 0, 5, 6, 5, true, 2)) return false;    // R5G6B5, compressed
  if (!AddSampleTexture(db, 4, 4, 8, 0, 0, 0, 0, false, 3)) return false;   // paletted
  if (!AddSampleTexture(db, 2, 2, 8, 255, 8, 8, 8, true, 4)) return false;  // both blocks
  if (!AddSampleTexture(db, 0, 5, 0, 0, 5, 6, 5, false, 5)) return false;   // empty

  if (!db.AddShader(MakeFakeNode(db, kFakeShaderType, 11, "gloss"))) return false;
  if (!db.AddShader(MakeUnknownRecord(db, 9, 9, {1, 2, 3, 4, 5}))) return false;
  if (!db.AddShader(MakeUnknownRecord(db, 9, 10, {}))) return false;

  if (!AddSampleMeshes(db)) return false;

  OvClumpRecord* root = db.AddClumpRecord("root");
  OvClumpRecord* arm1 = db.AddClumpRecord("arm1");
  OvClumpRecord* arm2 = db.AddClumpRecord("arm2");
  OvClumpRecord* nameless = db.AddClumpRecord(nullptr);
  if (!root || !arm1 || !arm2 || !nameless) return false;
  root->id = 100;
  root->meshIndex = 0;
  root->logObjIndex = 0;
  root->placement = 1;
  root->firstChild = 1;
  root->aniSetIndex = 0;
  root->scale[1] = 2;
  root->position[2] = -3;
  root->rotation[0] = 0.5f;
  root->flags = 0x80000001u;
  root->switchWord = 0x10003;
  root->extensionFlags = OV_CLUMP_EXTENSION;
  root->extension = MakeFakeNode(db, kFakeExtensionType, 21, "camera");
  arm1->id = 101;
  arm1->nextBrother = 2;
  arm2->id = 102;
  arm2->meshIndex = 2;
  arm2->extensionFlags = OV_CLUMP_EXTENSION | 2;
  arm2->extension = MakeUnknownRecord(db, 0, 11020, Words({100, 1}));
  nameless->id = 103;
  nameless->extensionFlags = 4;  // no extension record

  OvLogObjRecord* hero = db.AddLogObjRecord("hero");
  OvLogObjRecord* tmpl = db.AddLogObjRecord(nullptr);
  if (!hero || !tmpl) return false;
  hero->reserved = 8;
  hero->id = 1;
  hero->firstClump = 0;
  hero->objectFlags = 0x10001;
  hero->dPower = 2;
  hero->health = 3;
  hero->fullHealth = 4;
  hero->parentHurtRate = 50;
  tmpl->id = 2;
  tmpl->creationFlags = 1;

  OvDbAniSet* a0 = db.AddAniSet();
  OvDbAniSet* a1 = db.AddAniSet();
  if (!a0 || !a1) return false;
  a0->countHigh = 0x12;
  a0->entryWord = 0xABCD;
  if (!db.AddAniSetEntry(*a0, MakeFakeNode(db, kFakeNodeType, 31, "spin")) ||
      !db.AddAniSetEntry(*a0, MakeUnknownRecord(db, 0, 424242, {9, 8, 7})) ||
      !db.AddAniSetEntry(*a0, MakeFakeNode(db, kFakeNodeType, 32, nullptr))) {
    return false;
  }

  const char script[] = "function OnTick() end";
  const uint8_t raw[] = {1, 2, 3};
  if (!db.AddScript(1, script, sizeof script - 1) || !db.AddScript(2, raw, sizeof raw, false) ||
      !db.AddScript(3, nullptr, 0)) {
    return false;
  }
  return true;
}

}  // namespace content_test
