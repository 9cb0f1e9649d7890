#include "ov_mesh.h"

#include <bit>
#include <cstring>
#include <new>

#include "ov_database.h"
#include "ov_node_type.h"
#include "ov_stream.h"
#include "ov_trace.h"

// Arrays are read and written as raw bytes of f32/u32 elements.
static_assert(std::endian::native == std::endian::little, "mesh arrays are stored little-endian");

namespace {

constexpr const char* kMeshMemoryText = "Not enough memory when loading meshes.\n";

// The shareable arrays of a mesh.
enum class Channel {
  Positions,
  Colors,
  Normals,
  Indices,
  SetCoords,
  SetIndices,
  Materials,
  ShaderIndices,
  Ranges,
  Bounds
};

struct ArrayRef {
  const void* data;
  uint64_t count;  // elements
};

uint64_t Count(int32_t n) { return n > 0 ? uint64_t(n) : 0; }

uint64_t ElementBytes(Channel c) {
  switch (c) {
    case Channel::Positions:
    case Channel::Normals: return 12;
    case Channel::Colors:
    case Channel::Indices:
    case Channel::SetIndices:
    case Channel::ShaderIndices: return 4;
    case Channel::SetCoords:
    case Channel::Ranges: return 8;
    case Channel::Materials: return sizeof(OvMaterial);
    case Channel::Bounds: return OV_MESH_BOUNDS_FLOATS * sizeof(float);
  }
  return 0;
}

bool IsSetChannel(Channel c) { return c == Channel::SetCoords || c == Channel::SetIndices; }

// The array of channel `c` in `m` (set `set` for the set channels).
ArrayRef ArrayOf(const OvMesh& m, Channel c, uint32_t set) {
  switch (c) {
    case Channel::Positions: return {m.positions, Count(m.vertexCount)};
    case Channel::Colors: return {m.colors, Count(m.vertexCount)};
    case Channel::Normals: return {m.normals, Count(m.vertexCount)};
    case Channel::Indices: return {m.indices, Count(m.indexCount)};
    case Channel::SetCoords:
      if (!m.sets || set >= Count(m.setCount)) return {nullptr, 0};
      return {m.sets[set].coords, Count(m.sets[set].coordCount)};
    case Channel::SetIndices:
      if (!m.sets || set >= Count(m.setCount)) return {nullptr, 0};
      return {m.sets[set].indices, Count(m.sets[set].indexCount)};
    case Channel::Materials: return {m.materials, Count(m.subsetCount)};
    case Channel::ShaderIndices: return {m.shaderIndices, Count(m.subsetCount)};
    case Channel::Ranges: return {m.ranges, Count(m.subsetCount)};
    case Channel::Bounds: return {m.bounds, m.bounds ? 1u : 0u};
  }
  return {nullptr, 0};
}

// The earlier mesh a shared reference names, or null when the reference is
// not usable: it must name an earlier slot whose array exists with the same
// element count.
const OvMesh* ResolveShared(OvMesh* const* meshes, uint32_t current, Channel c, int32_t ref, uint64_t count,
                            const void** data) {
  uint32_t meshIndex;
  uint32_t set = 0;
  if (IsSetChannel(c)) {
    meshIndex = uint32_t(ref) & 0xFFFFFFu;
    set = uint32_t(ref) >> 24;
  } else {
    if (ref < 0) return nullptr;
    meshIndex = uint32_t(ref);
  }
  if (meshIndex >= current || !meshes[meshIndex]) return nullptr;
  const OvMesh* source = meshes[meshIndex];
  ArrayRef a = ArrayOf(*source, c, set);
  if (!a.data || a.count != count) return nullptr;
  *data = a.data;
  return source;
}

class MeshReader {
 public:
  MeshReader(OvStream& stream, OvChunkArena& arena, OvMesh** meshes)
      : m_stream(stream), m_arena(arena), m_meshes(meshes) {}

  bool ReadMesh(uint32_t index, OvMesh*& out, int32_t& identity);

 private:
  // i32 reference, then the bytes when it is inline. `data` is set to the
  // array read or shared; `source` (optional) to the mesh shared from.
  template <class T>
  bool ReadShared(Channel c, uint64_t count, int32_t& ref, T*& data, const OvMesh** source = nullptr);
  bool ReadSets(OvMesh& mesh);
  bool ReadSubsets(OvMesh& mesh);
  bool OutOfMemory() {
    Trace(kMeshMemoryText);
    return false;
  }

  OvStream& m_stream;
  OvChunkArena& m_arena;
  OvMesh** m_meshes;
  uint32_t m_current = 0;
};

template <class T>
bool MeshReader::ReadShared(Channel c, uint64_t count, int32_t& ref, T*& data, const OvMesh** source) {
  if (!m_stream.ReadI32(ref)) return false;
  const uint64_t elementBytes = ElementBytes(c);
  if (ref == OV_MESH_INLINE) {
    if (!OvStreamCanHold(m_stream, count, elementBytes)) return m_stream.MarkFailed();
    void* bytes = OvArenaAllocZeroed(m_arena, count * elementBytes);
    if (!bytes) return OutOfMemory();
    if (!m_stream.ReadBytes(bytes, size_t(count * elementBytes))) return false;
    data = static_cast<T*>(bytes);
    return true;
  }
  const void* shared = nullptr;
  const OvMesh* from = ResolveShared(m_meshes, m_current, c, ref, count, &shared);
  // A reference that does not name a usable earlier array fails the section
  // like a missing array.
  if (!from) return OutOfMemory();
  data = static_cast<T*>(const_cast<void*>(shared));
  if (source) *source = from;
  return true;
}

bool MeshReader::ReadSets(OvMesh& mesh) {
  int32_t g;
  if (!m_stream.ReadI32(g)) return false;
  mesh.setCount = g;
  if (g == 0) return true;
  if (g < 0) return m_stream.MarkFailed();
  if (!m_stream.ReadI32(mesh.refs.sets)) return false;
  if (mesh.refs.sets != OV_MESH_INLINE) {
    const int32_t ref = mesh.refs.sets;
    if (ref < 0 || uint32_t(ref) >= m_current || !m_meshes[ref]) return OutOfMemory();
    const OvMesh& source = *m_meshes[ref];
    if (!source.sets || source.setCount != g) return OutOfMemory();
    mesh.sets = source.sets;
    return true;
  }
  // Every set holds at least its two layout words and the index count.
  if (!OvStreamCanHold(m_stream, uint64_t(g), 12)) return m_stream.MarkFailed();
  mesh.sets = OvArenaNewArray<OvTexCoordSet>(m_arena, uint64_t(g));
  if (!mesh.sets) return OutOfMemory();
  for (int32_t s = 0; s < g; ++s) {
    OvTexCoordSet& set = mesh.sets[s];
    if (!m_stream.ReadLayout("ui", &set.word, &set.coordCount)) return false;
    if (set.coordCount < 0) return m_stream.MarkFailed();
    if (set.coordCount != 0 && !ReadShared(Channel::SetCoords, uint64_t(set.coordCount), set.coordRef, set.coords)) {
      return false;
    }
    if (!m_stream.ReadLayout("i", &set.indexCount)) return false;
    if (set.indexCount < 0) return m_stream.MarkFailed();
    if (set.indexCount != 0 && !ReadShared(Channel::SetIndices, uint64_t(set.indexCount), set.indexRef, set.indices)) {
      return false;
    }
  }
  return true;
}

bool MeshReader::ReadSubsets(OvMesh& mesh) {
  const int32_t r = mesh.subsetCount;
  if (r <= 0) return true;
  const uint64_t n = uint64_t(r);
  if (!ReadShared(Channel::Materials, n, mesh.refs.materials, mesh.materials)) return false;
  const OvMesh* source = nullptr;
  if (!ReadShared(Channel::ShaderIndices, n, mesh.refs.shaderIndices, mesh.shaderIndices, &source)) return false;
  if (source) {
    // Shared shader indices share the resolved resources as well.
    mesh.resources = source->resources;
  } else {
    mesh.resources = static_cast<void**>(OvArenaAllocZeroed(m_arena, n * sizeof(void*)));
    if (!mesh.resources) return OutOfMemory();
  }
  if (r > 1 && !ReadShared(Channel::Ranges, n, mesh.refs.ranges, mesh.ranges)) return false;
  return true;
}

bool MeshReader::ReadMesh(uint32_t index, OvMesh*& out, int32_t& identity) {
  m_current = index;
  out = nullptr;
  if (!m_stream.ReadI32(identity)) return false;
  if (identity != OV_MESH_INLINE) {
    if (identity < 0 || uint32_t(identity) >= index || !m_meshes[identity]) return OutOfMemory();
    out = m_meshes[identity];
    return true;
  }
  OvMesh* mesh = OvMeshCreate(m_arena);
  if (!mesh) return OutOfMemory();
  if (!m_stream.ReadI32(mesh->fileFlags) || !m_stream.ReadI32(mesh->vertexCount)) return false;
  if (mesh->vertexCount < 0) return m_stream.MarkFailed();
  const uint64_t vertices = uint64_t(mesh->vertexCount);
  if (vertices != 0) {
    if (!ReadShared(Channel::Positions, vertices, mesh->refs.positions, mesh->positions)) return false;
    if ((mesh->fileFlags & OV_MESH_FILE_COLORS) &&
        !ReadShared(Channel::Colors, vertices, mesh->refs.colors, mesh->colors)) {
      return false;
    }
    if ((mesh->fileFlags & OV_MESH_FILE_NORMALS) &&
        !ReadShared(Channel::Normals, vertices, mesh->refs.normals, mesh->normals)) {
      return false;
    }
  }
  if (!m_stream.ReadI32(mesh->triangleCount)) return false;
  if (mesh->triangleCount != 0) {
    if (!m_stream.ReadI32(mesh->indexCount)) return false;
    if (mesh->indexCount < 0) return m_stream.MarkFailed();
    if (!ReadShared(Channel::Indices, uint64_t(mesh->indexCount), mesh->refs.indices, mesh->indices)) return false;
  }
  if (!ReadSets(*mesh)) return false;
  if (!m_stream.ReadI32(mesh->wordA) || !m_stream.ReadI32(mesh->wordC) || !m_stream.ReadU32(mesh->flags) ||
      !m_stream.ReadI32(mesh->subsetCount)) {
    return false;
  }
  if (!ReadSubsets(*mesh)) return false;
  if ((mesh->fileFlags & OV_MESH_FILE_BOUNDS) && !ReadShared(Channel::Bounds, 1, mesh->refs.bounds, mesh->bounds)) {
    return false;
  }
  out = mesh;
  return true;
}

// ---------------------------------------------------------------------------
// Writing.

class MeshWriter {
 public:
  MeshWriter(OvStream& stream, OvMesh* const* meshes) : m_stream(stream), m_meshes(meshes) {}
  bool WriteMesh(uint32_t index, const OvMesh& mesh);

 private:
  bool WriteShared(Channel c, uint64_t count, int32_t ref, const void* data);
  bool WriteSets(const OvMesh& mesh);

  OvStream& m_stream;
  OvMesh* const* m_meshes;
  uint32_t m_current = 0;
};

bool MeshWriter::WriteShared(Channel c, uint64_t count, int32_t ref, const void* data) {
  if (ref == OV_MESH_INLINE) {
    const uint64_t bytes = count * ElementBytes(c);
    if (bytes != 0 && !data) return false;
    return m_stream.WriteI32(ref) && m_stream.WriteBytes(data, size_t(bytes));
  }
  // Only what the reader accepts, and only when it yields this very array.
  const void* shared = nullptr;
  if (!ResolveShared(m_meshes, m_current, c, ref, count, &shared) || shared != data) return false;
  return m_stream.WriteI32(ref);
}

bool MeshWriter::WriteSets(const OvMesh& mesh) {
  if (!m_stream.WriteI32(mesh.setCount)) return false;
  if (mesh.setCount == 0) return true;
  if (mesh.setCount < 0 || !mesh.sets) return false;
  if (!m_stream.WriteI32(mesh.refs.sets)) return false;
  if (mesh.refs.sets != OV_MESH_INLINE) {
    const int32_t ref = mesh.refs.sets;
    return ref >= 0 && uint32_t(ref) < m_current && m_meshes[ref] && m_meshes[ref]->sets == mesh.sets &&
           m_meshes[ref]->setCount == mesh.setCount;
  }
  for (int32_t s = 0; s < mesh.setCount; ++s) {
    const OvTexCoordSet& set = mesh.sets[s];
    if (set.coordCount < 0 || set.indexCount < 0) return false;
    if (!m_stream.WriteLayout("ui", set.word, set.coordCount)) return false;
    if (set.coordCount != 0 && !WriteShared(Channel::SetCoords, uint64_t(set.coordCount), set.coordRef, set.coords)) {
      return false;
    }
    if (!m_stream.WriteLayout("i", set.indexCount)) return false;
    if (set.indexCount != 0 && !WriteShared(Channel::SetIndices, uint64_t(set.indexCount), set.indexRef, set.indices)) {
      return false;
    }
  }
  return true;
}

bool MeshWriter::WriteMesh(uint32_t index, const OvMesh& mesh) {
  m_current = index;
  if (mesh.vertexCount < 0 || mesh.indexCount < 0) return false;
  if (!m_stream.WriteI32(OV_MESH_INLINE) || !m_stream.WriteI32(mesh.fileFlags) ||
      !m_stream.WriteI32(mesh.vertexCount)) {
    return false;
  }
  const uint64_t vertices = uint64_t(mesh.vertexCount);
  if (vertices != 0) {
    if (!WriteShared(Channel::Positions, vertices, mesh.refs.positions, mesh.positions)) return false;
    if ((mesh.fileFlags & OV_MESH_FILE_COLORS) &&
        !WriteShared(Channel::Colors, vertices, mesh.refs.colors, mesh.colors)) {
      return false;
    }
    if ((mesh.fileFlags & OV_MESH_FILE_NORMALS) &&
        !WriteShared(Channel::Normals, vertices, mesh.refs.normals, mesh.normals)) {
      return false;
    }
  }
  if (!m_stream.WriteI32(mesh.triangleCount)) return false;
  if (mesh.triangleCount != 0) {
    if (!m_stream.WriteI32(mesh.indexCount)) return false;
    if (!WriteShared(Channel::Indices, uint64_t(mesh.indexCount), mesh.refs.indices, mesh.indices)) return false;
  }
  if (!WriteSets(mesh)) return false;
  if (!m_stream.WriteI32(mesh.wordA) || !m_stream.WriteI32(mesh.wordC) || !m_stream.WriteU32(mesh.flags) ||
      !m_stream.WriteI32(mesh.subsetCount)) {
    return false;
  }
  if (mesh.subsetCount > 0) {
    const uint64_t n = uint64_t(mesh.subsetCount);
    if (!WriteShared(Channel::Materials, n, mesh.refs.materials, mesh.materials)) return false;
    if (!WriteShared(Channel::ShaderIndices, n, mesh.refs.shaderIndices, mesh.shaderIndices)) return false;
    if (n > 1 && !WriteShared(Channel::Ranges, n, mesh.refs.ranges, mesh.ranges)) return false;
  }
  if ((mesh.fileFlags & OV_MESH_FILE_BOUNDS) && !WriteShared(Channel::Bounds, 1, mesh.refs.bounds, mesh.bounds)) {
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Private copies.

void** ChannelSlot(OvMesh& mesh, uint32_t channel) {
  switch (channel) {
    case OV_MESH_POSITIONS: return reinterpret_cast<void**>(&mesh.positions);
    case OV_MESH_INDICES: return reinterpret_cast<void**>(&mesh.indices);
    case OV_MESH_COLORS: return reinterpret_cast<void**>(&mesh.colors);
    case OV_MESH_BOUNDS: return reinterpret_cast<void**>(&mesh.bounds);
    case OV_MESH_NORMALS: return reinterpret_cast<void**>(&mesh.normals);
    case OV_MESH_MATERIALS: return reinterpret_cast<void**>(&mesh.materials);
    default: return nullptr;
  }
}

constexpr uint32_t kChannels[] = {OV_MESH_POSITIONS, OV_MESH_INDICES, OV_MESH_COLORS,
                                  OV_MESH_BOUNDS,    OV_MESH_NORMALS, OV_MESH_MATERIALS};

void* Duplicate(const void* data, uint64_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX) return nullptr;
  void* copy = AllocMem(size_t(bytes));
  if (copy) std::memcpy(copy, data, size_t(bytes));
  return copy;
}

bool SetIndexValid(const OvMesh& mesh, int32_t set) {
  return mesh.sets && set >= 0 && set < mesh.setCount && (mesh.ownership & OV_MESH_SET_TABLE);
}

}  // namespace

OvMesh* OvMeshCreate(OvChunkArena& arena) { return OvArenaNew<OvMesh>(arena); }

uint64_t OvMeshChannelBytes(const OvMesh& mesh, uint32_t channel) {
  switch (channel) {
    case OV_MESH_POSITIONS: return mesh.positions ? Count(mesh.vertexCount) * 12 : 0;
    case OV_MESH_INDICES: return mesh.indices ? Count(mesh.indexCount) * 4 : 0;
    case OV_MESH_COLORS: return mesh.colors ? Count(mesh.vertexCount) * 4 : 0;
    case OV_MESH_BOUNDS: return mesh.bounds ? OV_MESH_BOUNDS_FLOATS * sizeof(float) : 0;
    case OV_MESH_NORMALS: return mesh.normals ? Count(mesh.vertexCount) * 12 : 0;
    case OV_MESH_MATERIALS: return mesh.materials ? Count(mesh.subsetCount) * sizeof(OvMaterial) : 0;
    default: return 0;
  }
}

OvMesh* OvMeshMakePrivateCopy(OvMesh& shared) {
  void* memory = AllocMem(sizeof(OvMesh));
  if (!memory) return nullptr;
  OvMesh* copy = ::new (memory) OvMesh(shared);
  copy->ownership = 0;
  copy->setOwnership = 0;
  copy->sharedMesh = &shared;
  copy->deviceBuffers = nullptr;
  copy->changeFlags = 0;
  copy->refCount = 1;
  if (shared.sets && shared.setCount > 0) {
    // Own descriptors, so that making one set private leaves the database
    // mesh untouched.
    copy->sets = static_cast<OvTexCoordSet*>(Duplicate(shared.sets, uint64_t(shared.setCount) * sizeof(OvTexCoordSet)));
    if (!copy->sets) {
      copy->~OvMesh();
      OvMFree(memory);
      return nullptr;
    }
    copy->ownership |= OV_MESH_SET_TABLE;
  }
  ++shared.refCount;
  return copy;
}

namespace {
OvMeshResourceReleaseFn g_resourceRelease = nullptr;
}  // namespace

void OvMeshSetResourceRelease(OvMeshResourceReleaseFn fn) { g_resourceRelease = fn; }

void OvMeshReleasePrivateCopy(OvMesh* mesh) {
  if (!mesh) return;
  for (uint32_t channel : kChannels) {
    if (mesh->ownership & channel) OvMFree(*ChannelSlot(*mesh, channel));
  }
  if (mesh->sets) {
    const int32_t sets = mesh->setCount < OV_MESH_MAX_PRIVATE_SETS ? mesh->setCount : OV_MESH_MAX_PRIVATE_SETS;
    for (int32_t i = 0; i < sets; ++i) {
      if (mesh->setOwnership & (0x10000u << i)) OvMFree(mesh->sets[i].coords);
      if (mesh->setOwnership & (1u << i)) OvMFree(mesh->sets[i].indices);
    }
    if (mesh->ownership & OV_MESH_SET_TABLE) OvMFree(mesh->sets);
  }
  if (mesh->ownership & OV_MESH_RESOURCE_TABLE) {
    void* const* shared = mesh->sharedMesh ? mesh->sharedMesh->resources : nullptr;
    for (int32_t i = 0; i < mesh->subsetCount && g_resourceRelease; ++i)
      if (mesh->resources[i] && (!shared || mesh->resources[i] != shared[i])) g_resourceRelease(mesh->resources[i]);
    OvMFree(mesh->resources);
  }
  if (mesh->sharedMesh) --mesh->sharedMesh->refCount;
  mesh->~OvMesh();
  OvMFree(mesh);
}

bool OvMeshOwnResourceTable(OvMesh& mesh) {
  if (mesh.ownership & OV_MESH_RESOURCE_TABLE) return true;
  if (!mesh.sharedMesh || mesh.subsetCount < 1 || !mesh.resources) return false;
  void* table = Duplicate(mesh.resources, uint64_t(mesh.subsetCount) * sizeof(void*));
  if (!table) return false;
  mesh.resources = static_cast<void**>(table);
  mesh.ownership |= OV_MESH_RESOURCE_TABLE;
  return true;
}

bool OvMeshSetArray(OvMesh& mesh, uint32_t channel, void* data, bool owned) {
  void** slot = ChannelSlot(mesh, channel);
  if (!slot) return false;
  if ((mesh.ownership & channel) && *slot != data) OvMFree(*slot);
  *slot = data;
  if (owned) {
    mesh.ownership |= channel;
  } else {
    mesh.ownership &= ~channel;
  }
  return true;
}

bool OvMeshSetSetCoords(OvMesh& mesh, int32_t set, float* coords, bool owned) {
  if (!SetIndexValid(mesh, set) || (owned && set >= OV_MESH_MAX_PRIVATE_SETS)) return false;
  const uint32_t bit = set < OV_MESH_MAX_PRIVATE_SETS ? 0x10000u << set : 0;
  OvTexCoordSet& s = mesh.sets[set];
  if ((mesh.setOwnership & bit) && s.coords != coords) OvMFree(s.coords);
  s.coords = coords;
  mesh.setOwnership = owned ? (mesh.setOwnership | bit) : (mesh.setOwnership & ~bit);
  return true;
}

bool OvMeshSetSetIndices(OvMesh& mesh, int32_t set, uint32_t* indices, bool owned) {
  if (!SetIndexValid(mesh, set) || (owned && set >= OV_MESH_MAX_PRIVATE_SETS)) return false;
  const uint32_t bit = set < OV_MESH_MAX_PRIVATE_SETS ? 1u << set : 0;
  OvTexCoordSet& s = mesh.sets[set];
  if ((mesh.setOwnership & bit) && s.indices != indices) OvMFree(s.indices);
  s.indices = indices;
  mesh.setOwnership = owned ? (mesh.setOwnership | bit) : (mesh.setOwnership & ~bit);
  return true;
}

bool OvMeshMakeChannelsPrivate(OvMesh& mesh, uint32_t channels, uint32_t setChannels) {
  // A database mesh's arrays belong to the arena: only copies duplicate.
  if (!mesh.sharedMesh) return false;
  bool all = true;
  for (uint32_t channel : kChannels) {
    if (!(channels & channel) || (mesh.ownership & channel)) continue;
    const uint64_t bytes = OvMeshChannelBytes(mesh, channel);
    if (bytes == 0) continue;  // nothing to animate
    void* copy = Duplicate(*ChannelSlot(mesh, channel), bytes);
    if (!copy) {
      all = false;
      continue;
    }
    OvMeshSetArray(mesh, channel, copy, true);
  }
  if (setChannels == 0) return all;
  for (int32_t i = 0; i < OV_MESH_MAX_PRIVATE_SETS; ++i) {
    const uint32_t coordBit = 0x10000u << i;
    const uint32_t indexBit = 1u << i;
    if (!(setChannels & (coordBit | indexBit))) continue;
    if (!SetIndexValid(mesh, i)) {
      all = false;
      continue;
    }
    OvTexCoordSet& s = mesh.sets[i];
    if ((setChannels & coordBit) && !(mesh.setOwnership & coordBit) && s.coords && s.coordCount > 0) {
      float* copy = static_cast<float*>(Duplicate(s.coords, uint64_t(s.coordCount) * 8));
      if (copy) {
        OvMeshSetSetCoords(mesh, i, copy, true);
      } else {
        all = false;
      }
    }
    if ((setChannels & indexBit) && !(mesh.setOwnership & indexBit) && s.indices && s.indexCount > 0) {
      uint32_t* copy = static_cast<uint32_t*>(Duplicate(s.indices, uint64_t(s.indexCount) * 4));
      if (copy) {
        OvMeshSetSetIndices(mesh, i, copy, true);
      } else {
        all = false;
      }
    }
  }
  return all;
}

// ---------------------------------------------------------------------------
// The section.

bool OvReadMeshSection(OvStream& stream, OvChunkArena& arena, OvMesh**& meshes, int32_t*& identity, uint32_t& count) {
  meshes = nullptr;
  identity = nullptr;
  count = 0;
  uint32_t total;
  if (!stream.ReadU32(total)) return false;
  if (total == 0) return true;
  // Every slot holds at least its identity reference.
  if (!OvStreamCanHold(stream, total, 4)) return stream.MarkFailed();
  meshes = OvArenaNewArray<OvMesh*>(arena, total);
  identity = OvArenaNewArray<int32_t>(arena, total);
  if (!meshes || !identity) {
    meshes = nullptr;
    identity = nullptr;
    Trace(kMeshMemoryText);
    return false;
  }
  MeshReader reader(stream, arena, meshes);
  for (uint32_t i = 0; i < total; ++i) {
    OvMesh* mesh = nullptr;
    int32_t same = OV_MESH_INLINE;
    if (!reader.ReadMesh(i, mesh, same)) return false;
    meshes[i] = mesh;
    identity[i] = same;
    count = i + 1;
  }
  return true;
}

bool OvWriteMeshSection(OvStream& stream, OvMesh* const* meshes, const int32_t* identity, uint32_t count) {
  if (!stream.WriteU32(count)) return false;
  MeshWriter writer(stream, meshes);
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t same = identity ? identity[i] : OV_MESH_INLINE;
    if (same != OV_MESH_INLINE) {
      if (same < 0 || uint32_t(same) >= i || meshes[same] != meshes[i]) return false;
      if (!stream.WriteI32(same)) return false;
      continue;
    }
    if (!meshes[i] || !writer.WriteMesh(i, *meshes[i])) return false;
  }
  return true;
}
