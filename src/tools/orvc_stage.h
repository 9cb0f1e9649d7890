// The stage being compiled: what the builder calls described, turned into the
// records of a content database. Textures, materials, meshes, sounds and
// scripts become records at once; clump trees, logical objects and the
// entries of animation sets wait for the end, when every tree is known and
// record indices, IDs and references can be laid out.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "orvc_geometry.h"
#include "orvc_image.h"
#include "orvc_records.h"
#include "ov_clump.h"
#include "ov_mesh.h"
#include "ov_node_type.h"

class OvDatabase;

// Where a builder call stood in the source, for messages made later.
struct OrvcWhere {
  std::string file;
  int line = 0;
  // "file:line: " (empty when unknown).
  std::string Prefix() const;
};

enum class OrvcKind { Texture, Material, Mesh, Clump, Object, Animation, Sound, Script };
const char* OrvcKindName(OrvcKind kind);

struct OrvcHandle {
  OrvcKind kind;
  int index;
};

struct OrvcCameraSpec {
  bool perspective = true;
  float fov = 0.7853982f;  // radians; half size of the view when orthographic
  float nearClip = 50.0f;
  float farClip = 30000.0f;
  float fogNear = 10001.0f;
  float fogFar = 10000.0f;
};

struct OrvcClump {
  std::string name;
  bool hasId = false;
  int32_t id = 0;
  int32_t mesh = -1;
  float position[3] = {0, 0, 0};
  float rotation[4] = {1, 0, 0, 0};  // scalar first
  float scale[3] = {1, 1, 1};
  uint32_t flags = 0;
  uint32_t switchWord = 0;
  enum class Ext { None, Light, Camera } ext = Ext::None;
  OvLightData light;
  OrvcCameraSpec camera;
  int32_t aniSet = -1;
  int32_t emitObject = -1;  // logical object generated with this clump when emitted
  int32_t placement = -1;
  std::vector<int> children;
  OrvcWhere where;

  // Filled while laying out.
  int parent = -1;
  int object = -1;  // the logical object whose tree holds it
  bool needsId = false;
  int record = -1;
};

struct OrvcObject {
  std::string name;
  bool hasId = false;
  int32_t id = 0;
  int32_t flags = 0;
  int32_t dPower = 0;
  int32_t health = 0;
  int32_t fullHealth = 0;
  int32_t parentHurtRate = 0;
  int32_t creationFlags = 0;
  std::vector<int> clumps;  // root clumps, in order (a brother chain)
  OrvcWhere where;
  bool needsId = false;
};

// One entry of an animation set: a node built already (tracks, stored
// blocks), or a node type with its value slots, built at the end because its
// references name clumps whose IDs are laid out only then.
struct OrvcEntry {
  OvDbNode* node = nullptr;
  const OvNodeType* type = nullptr;
  std::string typeName;
  std::vector<OvParamValue> values;
  struct Ref {
    int slot;
    OrvcHandle handle;
  };
  std::vector<Ref> refs;
  struct Text {
    int slot;
    std::string text;
  };
  std::deque<Text> texts;
  OrvcWhere where;
};

struct OrvcSubset {
  int material = -1;  // -1: the default material
  int32_t firstTriangle = 0;
  int32_t triangleCount = 0;
};

// Colours of a subset material: diffuse, ambient, specular, emissive (RGBA)
// and the specular power.
struct OrvcMaterialColours {
  float diffuse[4] = {1, 1, 1, 1};
  float ambient[4] = {1, 1, 1, 1};
  float specular[4] = {0, 0, 0, 0};
  float emissive[4] = {0, 0, 0, 0};
  float power = 0;
};

class OrvcStage {
 public:
  OrvcStage();
  ~OrvcStage();
  OrvcStage(const OrvcStage&) = delete;
  OrvcStage& operator=(const OrvcStage&) = delete;

  // False when the database could not be made (out of memory).
  bool Ok() const { return m_db != nullptr; }
  OvDatabase& Db() { return *m_db; }

  // Immediate records; each returns its index, or -1 with the reason.
  int AddTexture(const OrvcImage& image, const OrvcTextureFormat& format, bool compress, std::string& error);
  int AddMaterial(const OrvcMaterialSpec& desc, const OrvcMaterialColours& colours, std::string& error);
  // A shader record already made (a shader material built by its labels).
  int AddShaderRecord(OvDbNode* record, const OrvcMaterialColours& colours, const std::string& name,
                      std::string& error);
  // Subsets: empty means one subset of the default material. Ranges (first
  // triangle, triangle count) are stored only with more than one subset.
  int AddMesh(const OrvcMeshData& data, const std::vector<OrvcSubset>& subsets, uint32_t meshFlags, std::string& error);
  int AddSound(const std::string& name, const std::vector<uint8_t>* data, std::string& error);
  int AddScript(int32_t kind, const std::vector<uint8_t>& bytes, std::string& error);

  // Deferred records.
  int AddClump(OrvcClump clump) {
    m_clumps.push_back(std::move(clump));
    return int(m_clumps.size() - 1);
  }
  int AddObject(OrvcObject object) {
    m_objects.push_back(std::move(object));
    return int(m_objects.size() - 1);
  }
  int AddAniSet(std::string& error);
  void AddEntry(int set, OrvcEntry entry) { m_sets[size_t(set)].push_back(std::move(entry)); }

  OrvcClump& Clump(int i) { return m_clumps[size_t(i)]; }
  OrvcObject& Object(int i) { return m_objects[size_t(i)]; }
  int ClumpCount() const { return int(m_clumps.size()); }
  int ObjectCount() const { return int(m_objects.size()); }
  int Count(OrvcKind kind) const;
  // "clump 'lid'", "texture 3" and the like.
  std::string Describe(const OrvcHandle& handle) const;

  // The stage's first camera, set by the header.
  void SetCamera(int clump, const OrvcWhere& where) {
    m_camera = clump;
    m_cameraWhere = where;
  }

  // Lays out and emits the deferred records. False with "file:line: message".
  bool Finish(std::string& error);
  // After the database failed to be written: "file:line: item: reason" for
  // the first record that cannot be written, or empty when none is found.
  std::string WriteProblem() const;

 private:
  int DefaultMaterial(std::string& error);
  void Place(int clump, int object, int& next, std::vector<int>& order);
  int32_t RecordIndex(int clump) const { return clump >= 0 ? m_clumps[size_t(clump)].record : -1; }
  bool ResolveRef(const OrvcHandle& h, OvParamValue& v, std::string& error);

  OvDatabase* m_db = nullptr;
  struct Material {
    int32_t shader;
    OrvcMaterialColours colours;
    std::string name;
  };
  std::vector<Material> m_materials;
  int m_defaultMaterial = -1;
  std::vector<OrvcClump> m_clumps;
  std::vector<OrvcObject> m_objects;
  std::vector<std::vector<OrvcEntry>> m_sets;
  int m_camera = -1;
  OrvcWhere m_cameraWhere;
};
