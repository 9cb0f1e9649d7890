#include "orvc_stage.h"

#include <algorithm>
#include <cstring>

#include "ov_camera.h"
#include "ov_database.h"
#include "ov_node_params.h"
#include "ov_stream.h"
#include "ov_texture.h"
#include "ov_typed_record.h"

std::string OrvcWhere::Prefix() const {
  if (file.empty()) return {};
  return file + ":" + std::to_string(line) + ": ";
}

const char* OrvcKindName(OrvcKind kind) {
  switch (kind) {
    case OrvcKind::Texture: return "texture";
    case OrvcKind::Material: return "material";
    case OrvcKind::Mesh: return "mesh";
    case OrvcKind::Clump: return "clump";
    case OrvcKind::Object: return "object";
    case OrvcKind::Animation: return "animation";
    case OrvcKind::Sound: return "sound";
    case OrvcKind::Script: return "script";
  }
  return "item";
}

OrvcStage::OrvcStage() : m_db(OvDatabase::Create()) {}

OrvcStage::~OrvcStage() {
  if (m_db) m_db->Destroy();
}

int OrvcStage::Count(OrvcKind kind) const {
  switch (kind) {
    case OrvcKind::Texture: return int(m_db->TextureCount());
    case OrvcKind::Material: return int(m_materials.size());
    case OrvcKind::Mesh: return int(m_db->MeshCount());
    case OrvcKind::Clump: return int(m_clumps.size());
    case OrvcKind::Object: return int(m_objects.size());
    case OrvcKind::Animation: return int(m_sets.size());
    case OrvcKind::Sound: return m_db->SoundDatabase() ? int(m_db->SoundDatabase()->Count()) : 0;
    case OrvcKind::Script: return int(m_db->ScriptCount());
  }
  return 0;
}

std::string OrvcStage::Describe(const OrvcHandle& h) const {
  std::string name;
  if (h.kind == OrvcKind::Clump && h.index < int(m_clumps.size())) name = m_clumps[size_t(h.index)].name;
  if (h.kind == OrvcKind::Object && h.index < int(m_objects.size())) name = m_objects[size_t(h.index)].name;
  if (h.kind == OrvcKind::Material && h.index < int(m_materials.size())) name = m_materials[size_t(h.index)].name;
  std::string text = OrvcKindName(h.kind);
  return name.empty() ? text + " " + std::to_string(h.index) : text + " '" + name + "'";
}

int OrvcStage::AddTexture(const OrvcImage& image, const OrvcTextureFormat& format, bool compress, std::string& error) {
  OvTextureRecord shape;
  shape.width = image.width;
  shape.height = image.height;
  shape.paletteBits = format.paletteBits;
  shape.alphaBits = format.alphaBits;
  shape.redBits = format.redBits;
  shape.greenBits = format.greenBits;
  shape.blueBits = format.blueBits;
  shape.compressed = compress;
  OvTextureEntry* entry = m_db->AddTexture(shape);
  if (!entry) {
    error = "out of memory for the texture";
    return -1;
  }
  if (!OrvcFillTexturePixels(*entry->record, image, error)) return -1;
  return int(m_db->TextureCount()) - 1;
}

int OrvcStage::AddMaterial(const OrvcMaterialSpec& desc, const OrvcMaterialColours& colours, std::string& error) {
  for (int32_t t : desc.textures) {
    if (t < 0 || uint32_t(t) >= m_db->TextureCount()) {
      error = "texture " + std::to_string(t) + " does not exist";
      return -1;
    }
  }
  OrvcStdMaterialRecord* record = OrvcStdMaterialRecord::Create(m_db->Arena(), desc);
  if (!record || !m_db->AddShader(record)) {
    error = "out of memory for the material";
    return -1;
  }
  m_materials.push_back({int32_t(m_db->ShaderCount()) - 1, colours, desc.name});
  return int(m_materials.size()) - 1;
}

int OrvcStage::AddShaderRecord(OvDbNode* record, const OrvcMaterialColours& colours, const std::string& name,
                               std::string& error) {
  if (!record || !m_db->AddShader(record)) {
    error = "out of memory for the material";
    return -1;
  }
  m_materials.push_back({int32_t(m_db->ShaderCount()) - 1, colours, name});
  return int(m_materials.size()) - 1;
}

int OrvcStage::DefaultMaterial(std::string& error) {
  if (m_defaultMaterial < 0) {
    OrvcMaterialSpec desc;
    desc.name = "default";
    m_defaultMaterial = AddMaterial(desc, OrvcMaterialColours{}, error);
  }
  return m_defaultMaterial;
}

namespace {

template <class T>
T* ArenaCopy(OvChunkArena& arena, const std::vector<T>& v) {
  if (v.empty()) return nullptr;
  T* out = OvArenaNewArray<T>(arena, v.size());
  if (out) std::memcpy(out, v.data(), v.size() * sizeof(T));
  return out;
}

void Copy4(float dst[4], const float src[4]) { std::memcpy(dst, src, 4 * sizeof(float)); }

}  // namespace

int OrvcStage::AddMesh(const OrvcMeshData& data, const std::vector<OrvcSubset>& subsetsIn, uint32_t meshFlags,
                       std::string& error) {
  error = OrvcCheckMesh(data);
  if (!error.empty()) return -1;
  std::vector<OrvcSubset> subsets = subsetsIn;
  if (subsets.empty()) subsets.push_back({-1, 0, data.TriangleCount()});
  // A lone subset draws the whole mesh, but a range it names must still fit.
  for (size_t i = 0; i < subsets.size(); ++i) {
    const OrvcSubset& s = subsets[i];
    if (s.firstTriangle < 0 || s.triangleCount < 0 ||
        int64_t(s.firstTriangle) + s.triangleCount > int64_t(data.TriangleCount())) {
      error = "subset " + std::to_string(i + 1) + " covers triangles " + std::to_string(s.firstTriangle) + " to " +
              std::to_string(int64_t(s.firstTriangle) + s.triangleCount - 1) + " of " +
              std::to_string(data.TriangleCount());
      return -1;
    }
  }
  std::vector<int32_t> shaders;
  std::vector<OvMaterial> materials;
  for (const OrvcSubset& s : subsets) {
    const int m = s.material >= 0 ? s.material : DefaultMaterial(error);
    if (m < 0) return -1;
    const Material& mat = m_materials[size_t(m)];
    OvMaterial om{};
    Copy4(om.diffuse, mat.colours.diffuse);
    Copy4(om.ambient, mat.colours.ambient);
    Copy4(om.specular, mat.colours.specular);
    Copy4(om.emissive, mat.colours.emissive);
    om.power = mat.colours.power;
    materials.push_back(om);
    shaders.push_back(mat.shader);
  }

  OvChunkArena& arena = m_db->Arena();
  OvMesh* mesh = m_db->AddMesh();
  if (!mesh) {
    error = "out of memory for the mesh";
    return -1;
  }
  bool ok = true;
  auto need = [&](const void* p, bool wanted) { ok = ok && (p != nullptr || !wanted); };
  mesh->vertexCount = data.VertexCount();
  mesh->positions = ArenaCopy(arena, data.positions);
  need(mesh->positions, !data.positions.empty());
  mesh->normals = ArenaCopy(arena, data.normals);
  need(mesh->normals, !data.normals.empty());
  mesh->colors = ArenaCopy(arena, data.colors);
  need(mesh->colors, !data.colors.empty());
  mesh->triangleCount = data.TriangleCount();
  mesh->indexCount = int32_t(data.indices.size());
  mesh->indices = ArenaCopy(arena, data.indices);
  need(mesh->indices, !data.indices.empty());
  mesh->fileFlags = OV_MESH_FILE_BOUNDS | (data.colors.empty() ? 0 : OV_MESH_FILE_COLORS) |
                    (data.normals.empty() ? 0 : OV_MESH_FILE_NORMALS);
  if (!data.sets.empty()) {
    mesh->setCount = int32_t(data.sets.size());
    mesh->sets = OvArenaNewArray<OvTexCoordSet>(arena, data.sets.size());
    need(mesh->sets, true);
    for (size_t i = 0; ok && i < data.sets.size(); ++i) {
      OvTexCoordSet& s = mesh->sets[i];
      s.word = data.sets[i].word;
      s.coordCount = int32_t(data.sets[i].coords.size() / 2);
      s.coords = ArenaCopy(arena, data.sets[i].coords);
      need(s.coords, s.coordCount != 0);
      s.indexCount = int32_t(data.sets[i].indices.size());
      s.indices = ArenaCopy(arena, data.sets[i].indices);
      need(s.indices, s.indexCount != 0);
    }
  }
  mesh->subsetCount = int32_t(subsets.size());
  mesh->materials = ArenaCopy(arena, materials);
  mesh->shaderIndices = ArenaCopy(arena, shaders);
  mesh->resources = OvArenaNewArray<void*>(arena, subsets.size());
  need(mesh->materials, true);
  need(mesh->shaderIndices, true);
  need(mesh->resources, true);
  if (subsets.size() > 1) {
    std::vector<uint32_t> ranges;
    for (const OrvcSubset& s : subsets) {
      ranges.push_back(uint32_t(s.firstTriangle));
      ranges.push_back(uint32_t(s.triangleCount));
    }
    mesh->ranges = ArenaCopy(arena, ranges);
    need(mesh->ranges, true);
  }
  mesh->flags = meshFlags;
  mesh->bounds = OvArenaNewArray<float>(arena, OV_MESH_BOUNDS_FLOATS);
  need(mesh->bounds, true);
  if (mesh->bounds) OrvcComputeBounds(data.positions, mesh->bounds);
  if (!ok) {
    error = "out of memory for the mesh";
    return -1;
  }
  return int(m_db->MeshCount()) - 1;
}

int OrvcStage::AddSound(const std::string& name, const std::vector<uint8_t>* data, std::string& error) {
  OvSoundDatabase* sounds = m_db->SoundDatabase();
  if (!sounds) {
    error = "the database has no sound store";
    return -1;
  }
  if (data && data->size() > 0xFFFFFFFFu) {
    error = "the sound file is too large";
    return -1;
  }
  const int32_t index = sounds->AddItem(name.c_str(), data ? data->data() : nullptr, data ? uint32_t(data->size()) : 0);
  if (index < 0) error = "out of memory for the sound";
  return index;
}

int OrvcStage::AddScript(int32_t kind, const std::vector<uint8_t>& bytes, std::string& error) {
  if (bytes.size() > 0x7FFF0000u) {
    error = "the script is too large";
    return -1;
  }
  if (!m_db->AddScript(kind, bytes.data(), uint32_t(bytes.size()), true)) {
    error = "out of memory for the script";
    return -1;
  }
  return int(m_db->ScriptCount()) - 1;
}

int OrvcStage::AddAniSet(std::string& error) {
  if (!m_db->AddAniSet()) {
    error = "out of memory for the animation set";
    return -1;
  }
  m_sets.emplace_back();
  return int(m_sets.size()) - 1;
}

void OrvcStage::Place(int clump, int object, int& next, std::vector<int>& order) {
  // Depth first: a record, then its subtree, then the next brother.
  std::vector<int> stack{clump};
  while (!stack.empty()) {
    const int c = stack.back();
    stack.pop_back();
    OrvcClump& r = m_clumps[size_t(c)];
    r.record = next++;
    r.object = object;
    order.push_back(c);
    for (auto it = r.children.rbegin(); it != r.children.rend(); ++it) stack.push_back(*it);
  }
}

bool OrvcStage::ResolveRef(const OrvcHandle& h, OvParamValue& v, std::string& error) {
  v = OvParamValue{{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}};
  switch (h.kind) {
    case OrvcKind::Clump: {
      const OrvcClump& c = m_clumps[size_t(h.index)];
      v.w[0] = c.object >= 0 ? uint32_t(m_objects[size_t(c.object)].id) : 0xFFFFFFFFu;
      v.w[1] = uint32_t(c.id);
      v.w[2] = uint32_t(c.record);
      return true;
    }
    case OrvcKind::Object:
      v.w[0] = uint32_t(m_objects[size_t(h.index)].id);
      v.w[2] = uint32_t(h.index);
      return true;
    case OrvcKind::Material: v.w[0] = v.w[2] = uint32_t(m_materials[size_t(h.index)].shader); return true;
    case OrvcKind::Texture:
    case OrvcKind::Mesh:
    case OrvcKind::Animation:
    case OrvcKind::Sound:
    case OrvcKind::Script: v.w[0] = v.w[2] = uint32_t(h.index); return true;
  }
  error = "unknown reference";
  return false;
}

bool OrvcStage::Finish(std::string& error) {
  // Trees: the roots of each logical object in order, then clumps no object
  // holds (templates for emission), each followed by its subtree.
  std::vector<int> order;
  int next = 0;
  for (size_t o = 0; o < m_objects.size(); ++o) {
    for (int root : m_objects[o].clumps) Place(root, int(o), next, order);
  }
  for (size_t c = 0; c < m_clumps.size(); ++c) {
    if (m_clumps[c].record < 0 && m_clumps[c].parent < 0) Place(int(c), -1, next, order);
  }

  // Clumps and objects that something finds by ID get one when the source
  // gave none: the next numbers above the highest given.
  if (m_camera >= 0) m_clumps[size_t(m_camera)].needsId = true;
  for (auto& set : m_sets) {
    for (const OrvcEntry& e : set) {
      for (const OrvcEntry::Ref& r : e.refs) {
        if (r.handle.kind == OrvcKind::Clump) {
          OrvcClump& c = m_clumps[size_t(r.handle.index)];
          c.needsId = true;
          if (c.object >= 0) m_objects[size_t(c.object)].needsId = true;
        } else if (r.handle.kind == OrvcKind::Object) {
          m_objects[size_t(r.handle.index)].needsId = true;
        }
      }
    }
  }
  int32_t top = 0;
  for (const OrvcClump& c : m_clumps)
    if (c.hasId) top = std::max(top, c.id);
  for (int c : order) {
    OrvcClump& r = m_clumps[size_t(c)];
    if (r.needsId && !r.hasId) r.id = ++top;
  }
  top = 0;
  for (const OrvcObject& o : m_objects)
    if (o.hasId) top = std::max(top, o.id);
  for (OrvcObject& o : m_objects) {
    if (o.needsId && !o.hasId) o.id = ++top;
  }

  // Clump records in record order.
  OvChunkArena& arena = m_db->Arena();
  for (int c : order) {
    const OrvcClump& src = m_clumps[size_t(c)];
    OvClumpRecord* r = m_db->AddClumpRecord(src.name.c_str());
    if (!r) {
      error = src.where.Prefix() + "out of memory for clump '" + src.name + "'";
      return false;
    }
    r->id = src.id;
    r->meshIndex = src.mesh;
    r->logObjIndex = src.emitObject;
    r->placement = src.placement;
    r->aniSetIndex = src.aniSet;
    r->firstChild = src.children.empty() ? -1 : RecordIndex(src.children.front());
    std::memcpy(r->scale, src.scale, sizeof r->scale);
    std::memcpy(r->position, src.position, sizeof r->position);
    std::memcpy(r->rotation, src.rotation, sizeof r->rotation);
    r->flags = src.flags;
    r->switchWord = src.switchWord;
    if (src.ext == OrvcClump::Ext::Light) {
      auto* ext = OvArenaNew<OvDbLightExt>(arena);
      if (ext) ext->m_data = src.light;
      r->extension = ext;
    } else if (src.ext == OrvcClump::Ext::Camera) {
      auto* ext = OvArenaNew<OvDbCameraExt>(arena);
      if (ext) {
        ext->m_flags = src.camera.perspective ? OV_CAMERA_FLAG_PERSPECTIVE : 0;
        ext->m_fov = src.camera.fov;
        ext->m_near = src.camera.nearClip;
        ext->m_far = src.camera.farClip;
        ext->m_fogNear = src.camera.fogNear;
        ext->m_fogFar = src.camera.fogFar;
      }
      r->extension = ext;
    }
    if (src.ext != OrvcClump::Ext::None) {
      if (!r->extension) {
        error = src.where.Prefix() + "out of memory for clump '" + src.name + "'";
        return false;
      }
      r->extensionFlags = OV_CLUMP_EXTENSION;
    }
  }
  // Brother links: children of one clump, and the roots of one object.
  auto chain = [&](const std::vector<int>& list) {
    for (size_t i = 0; i + 1 < list.size(); ++i) {
      m_db->ClumpRecord(RecordIndex(list[i]))->nextBrother = RecordIndex(list[i + 1]);
    }
  };
  for (const OrvcClump& c : m_clumps) chain(c.children);
  for (const OrvcObject& o : m_objects) chain(o.clumps);

  for (const OrvcObject& o : m_objects) {
    OvLogObjRecord* r = m_db->AddLogObjRecord(o.name.c_str());
    if (!r) {
      error = o.where.Prefix() + "out of memory for object '" + o.name + "'";
      return false;
    }
    r->id = o.id;
    r->firstClump = o.clumps.empty() ? -1 : RecordIndex(o.clumps.front());
    r->objectFlags = o.flags;
    r->dPower = o.dPower;
    r->health = o.health;
    r->fullHealth = o.fullHealth;
    r->parentHurtRate = o.parentHurtRate;
    r->creationFlags = o.creationFlags;
  }

  for (size_t s = 0; s < m_sets.size(); ++s) {
    OvDbAniSet* set = m_db->AniSet(int32_t(s));
    // The clump that owns the set (the first that uses it) names its nodes in
    // their authoring messages.
    const std::string* owner = nullptr;
    for (const OrvcClump& c : m_clumps) {
      if (c.aniSet == int32_t(s)) {
        owner = &c.name;
        break;
      }
    }
    for (OrvcEntry& e : m_sets[s]) {
      OvDbNode* node = e.node;
      if (!node) {
        for (const OrvcEntry::Ref& ref : e.refs) {
          if (!ResolveRef(ref.handle, e.values[size_t(ref.slot)], error)) {
            error = e.where.Prefix() + error;
            return false;
          }
        }
        // Texts reach the type as the address of a NUL-terminated string in
        // words 0 and 1 (low half first); they live until the call returns.
        for (const OrvcEntry::Text& t : e.texts) {
          const auto address = uint64_t(reinterpret_cast<uintptr_t>(t.text.c_str()));
          e.values[size_t(t.slot)].w[0] = uint32_t(address);
          e.values[size_t(t.slot)].w[1] = uint32_t(address >> 32);
        }
        // A leading internal item receives the owner's name the same way.
        int paramCount = 0;
        const OvNodeParamDesc* params = e.type->GetParamTable(paramCount);
        if (owner && params && paramCount > 0 && params[0].kind == OV_PK_INTERNAL && !e.values.empty()) {
          const auto address = uint64_t(reinterpret_cast<uintptr_t>(owner->c_str()));
          e.values[0].w[0] = uint32_t(address);
          e.values[0].w[1] = uint32_t(address >> 32);
        }
        node = e.type->CreateFromValues(arena, e.values.data(), int(e.values.size()));
        if (!node) {
          error = e.where.Prefix() + "node '" + e.typeName + "': the type made no node from these parameter values";
          return false;
        }
        e.node = node;
      }
      if (!m_db->AddAniSetEntry(*set, node)) {
        error = e.where.Prefix() + "animation set " + std::to_string(s) + " is full (65535 entries)";
        return false;
      }
    }
  }

  if (m_camera >= 0) {
    const OrvcClump& cam = m_clumps[size_t(m_camera)];
    m_db->Header().cameraId = cam.id;
  }
  return true;
}

std::string OrvcStage::WriteProblem() const {
  constexpr size_t kMaxText = 0xFFFF;
  const std::string tooLong = "its name is longer than " + std::to_string(kMaxText) + " bytes";
  for (const OrvcClump& c : m_clumps) {
    if (c.name.size() > kMaxText) return c.where.Prefix() + "clump: " + tooLong;
  }
  for (const OrvcObject& o : m_objects) {
    if (o.name.size() > kMaxText) return o.where.Prefix() + "object: " + tooLong;
  }
  for (const auto& set : m_sets) {
    for (const OrvcEntry& e : set) {
      if (!e.node) continue;
      OvStream s;
      if (!s.OpenMemoryWrite()) return {};
      const bool ok = OvWriteTypedRecord(s, *e.node);
      s.Close();
      if (!ok) {
        return e.where.Prefix() + "node '" + e.typeName +
               "': its record cannot be written (a text over 65535 bytes or a value its form cannot hold)";
      }
    }
  }
  return {};
}
