// Mesh records of the content database. Database meshes and their arrays live
// in the database arena; a mesh may reuse arrays of an earlier mesh of the same
// file, or be the very same object. Private copies made for animated clumps
// start out sharing every array and own only the arrays they duplicate.
#pragma once

#include <cstdint>

class OvChunkArena;
class OvStream;

// Laid out like the renderer's material: diffuse, ambient, specular, emissive
// as RGBA, then the specular power.
struct OvMaterial {
  float diffuse[4];
  float ambient[4];
  float specular[4];
  float emissive[4];
  float power;
};
static_assert(sizeof(OvMaterial) == 68, "a material is 17 f32");

// File reference of a shared array: -1 stores the bytes inline, anything else
// names an earlier mesh whose array is used instead.
constexpr int32_t OV_MESH_INLINE = -1;

struct OvTexCoordSet {
  uint32_t word = 0;
  int32_t coordCount = 0;
  float* coords = nullptr;  // coordCount (u, v) pairs
  int32_t indexCount = 0;
  uint32_t* indices = nullptr;
  // As read: packed (bits 0-23 mesh, 24-31 set) or OV_MESH_INLINE.
  int32_t coordRef = OV_MESH_INLINE;
  int32_t indexRef = OV_MESH_INLINE;
};

// Channel bits: both the ownership bits of a mesh and the channel mask of
// OvMeshMakeChannelsPrivate.
constexpr uint32_t OV_MESH_POSITIONS = 0x1;
constexpr uint32_t OV_MESH_INDICES = 0x2;
constexpr uint32_t OV_MESH_COLORS = 0x4;
constexpr uint32_t OV_MESH_BOUNDS = 0x8;
constexpr uint32_t OV_MESH_NORMALS = 0x10;
constexpr uint32_t OV_MESH_MATERIALS = 0x20;
// The private copy's own table of set descriptors (not a file channel).
constexpr uint32_t OV_MESH_SET_TABLE = 0x80000000u;
// The private copy's own table of subset render resources (not a file
// channel). Entries that differ from the database mesh's are references the
// copy holds and drops when it is released.
constexpr uint32_t OV_MESH_RESOURCE_TABLE = 0x40000000u;

// Flags stored with each mesh record in the file.
constexpr int32_t OV_MESH_FILE_COLORS = 0x1;
constexpr int32_t OV_MESH_FILE_NORMALS = 0x4;
constexpr int32_t OV_MESH_FILE_BOUNDS = 0x10;

constexpr uint32_t OV_MESH_TWO_SIDED = 0x100;
constexpr int OV_MESH_BOUNDS_FLOATS = 10;  // sphere x, y, z, radius + six more
constexpr int OV_MESH_MAX_PRIVATE_SETS = 16;

// Reference numbers as read, so the writer stores the same sharing.
struct OvMeshRefs {
  int32_t positions = OV_MESH_INLINE;
  int32_t colors = OV_MESH_INLINE;
  int32_t normals = OV_MESH_INLINE;
  int32_t indices = OV_MESH_INLINE;
  int32_t sets = OV_MESH_INLINE;
  int32_t materials = OV_MESH_INLINE;
  int32_t shaderIndices = OV_MESH_INLINE;
  int32_t ranges = OV_MESH_INLINE;
  int32_t bounds = OV_MESH_INLINE;
};

struct OvMesh {
  int32_t vertexCount = 0;
  float* positions = nullptr;  // vertexCount x 3
  uint32_t* colors = nullptr;  // vertexCount
  float* normals = nullptr;    // vertexCount x 3
  int32_t triangleCount = 0;
  uint32_t* indices = nullptr;  // indexCount
  int32_t setCount = 0;
  OvTexCoordSet* sets = nullptr;
  int32_t wordA = 0;
  int32_t subsetCount = 0;
  void** resources = nullptr;        // resolved render resource per subset
  uint32_t* ranges = nullptr;        // two words per subset, only with > 1 subset
  OvMaterial* materials = nullptr;   // one per subset
  int32_t* shaderIndices = nullptr;  // one per subset, -1 none
  uint32_t flags = 0;
  float* bounds = nullptr;        // OV_MESH_BOUNDS_FLOATS
  uint32_t ownership = 0;         // OV_MESH_* bits of arrays this mesh frees
  uint32_t setOwnership = 0;      // bit 16+i coordinates of set i, bit i its indices
  OvMesh* sharedMesh = nullptr;   // the database mesh behind a private copy
  void* deviceBuffers = nullptr;  // the renderer's buffers and dirty bits
  int32_t indexCount = 0;
  int32_t wordC = -1;
  uint32_t changeFlags = 0;
  int32_t refCount = 1;  // clumps sharing this mesh
  // A private copy whose first material is fading: an opaque first pass is
  // drawn alpha-blended so that the faded alpha shows.
  bool fadeBlend = false;

  // File form, kept for writing.
  int32_t fileFlags = 0;
  OvMeshRefs refs;
};

// An empty mesh from the arena (zeroed arrays, references inline), or null.
OvMesh* OvMeshCreate(OvChunkArena& arena);

// A private copy of a database mesh that shares every array and holds a
// reference to it; null when memory runs out. The copy has its own table of
// set descriptors so that single sets can be made private later.
OvMesh* OvMeshMakePrivateCopy(OvMesh& shared);
// Frees exactly the owned arrays and the copy itself, and drops the reference
// to the database mesh. The renderer releases the copy's buffers first.
void OvMeshReleasePrivateCopy(OvMesh* mesh);
// Gives a private copy its own table of subset resources (a copy of the
// shared one), so one clump can draw a subset differently; false for a
// database mesh or no memory.
bool OvMeshOwnResourceTable(OvMesh& mesh);
// How a held subset resource is dropped (the resources' maker sets it).
using OvMeshResourceReleaseFn = void (*)(void* resource);
void OvMeshSetResourceRelease(OvMeshResourceReleaseFn fn);

// Replaces one channel array (a single OV_MESH_* bit). The previous array is
// freed only when this mesh owned it; `owned` says whether the mesh frees the
// new one (it then came from AllocMem). False for an unknown channel.
bool OvMeshSetArray(OvMesh& mesh, uint32_t channel, void* data, bool owned);
// The same for one texture-coordinate set; only on a mesh with its own set
// descriptors (a private copy), and owning only for the first 16 sets.
bool OvMeshSetSetCoords(OvMesh& mesh, int32_t set, float* coords, bool owned);
bool OvMeshSetSetIndices(OvMesh& mesh, int32_t set, uint32_t* indices, bool owned);

// Duplicates the requested channels (OV_MESH_* bits) and texture-coordinate
// set arrays (bit 16+i coordinates, bit i indices of set i) so that this mesh
// owns them. Only private copies can do this. True when every requested
// channel that exists is now owned.
bool OvMeshMakeChannelsPrivate(OvMesh& mesh, uint32_t channels, uint32_t setChannels);

// Byte size of a channel array of this mesh (0 when it has none).
uint64_t OvMeshChannelBytes(const OvMesh& mesh, uint32_t channel);

// The mesh section body: u32 count, then one record per slot. `meshes` and
// `identity` (per slot: -1, or the earlier mesh the slot is the same object
// as) come from the arena. On failure the slots read so far stay and `count`
// says how many.
bool OvReadMeshSection(OvStream& stream, OvChunkArena& arena, OvMesh**& meshes, int32_t*& identity, uint32_t& count);
// Writes the same form. False when a reference could not be read back (not an
// earlier mesh, or its array differs) or an inline array is missing.
bool OvWriteMeshSection(OvStream& stream, OvMesh* const* meshes, const int32_t* identity, uint32_t count);
