// Mesh rendering: the device buffers of a mesh (indexed or expanded to three
// vertices a triangle), kept current from the mesh's change flags, the
// tangent basis and the software bump colours, drawing subset by subset with
// materials and shader objects, the stencil shadow-volume pass and the
// volume-fog projection rule.
#pragma once

#include <cstdint>

#include "ov_gl_draw.h"
#include "ov_math.h"
#include "ov_memory.h"

class OvRendererGL;
class OvClump;
class OvMeshDrawer;
struct OvMesh;
struct OvMaterial;

// What must be rewritten in a mesh buffer.
inline constexpr uint32_t OV_DIRTY_POSITIONS = 0x1;
inline constexpr uint32_t OV_DIRTY_INDICES = 0x2;
inline constexpr uint32_t OV_DIRTY_COLORS = 0x4;
inline constexpr uint32_t OV_DIRTY_NORMALS = 0x10;
inline constexpr uint32_t OV_DIRTY_TANGENTS = 0x100;
inline constexpr uint32_t OV_DIRTY_SET0 = 0x10000;  // << set
inline constexpr uint32_t OV_DIRTY_ALL = 0x00FF0117;

// A subset's shader object: the render resource of a shader record. Counted;
// the content database holds one reference, mesh subsets borrow it.
class OvShaderResource : public OvAllocated {
 public:
  void AddRef() { ++m_refs; }
  void Release() {
    if (--m_refs == 0) delete this;
  }
  int RefCount() const { return m_refs; }

  // Texture set of the normal map for the software bump colours, -1 none.
  virtual int BumpSet() const { return -1; }
  // The tangent-basis stream for bump programs.
  virtual bool NeedsTangentStream() const { return false; }
  // Draws subset `subset` of the drawer's mesh (all of it for a mesh with one
  // subset) with the current material.
  virtual void DrawSubset(OvMeshDrawer& drawer, int subset) = 0;

 protected:
  virtual ~OvShaderResource() = default;

 private:
  int m_refs = 1;
};

// Buffer layout rules of a mesh.
struct OvMeshLayout {
  bool indexed = false;
  uint32_t flags = VF_XYZ | VF_NORMAL;
  int texSets = 0;
  int stride = 24;
  uint32_t vertexCount = 0;  // vertices in the buffer
  uint32_t triangles = 0;    // triangles drawn
  int indexSize = 2;
  bool softwareBump = false;
  bool tangentStream = false;
};

// True when texture set `set` is indexed like the positions: it has no index
// list of its own (or the very same list) and at least one coordinate per
// vertex.
bool OvMeshSetUsesPositionIndices(const OvMesh& mesh, int set);
// bumpSet: normal-map set for software bump colours (-1 none).
OvMeshLayout OvComputeMeshLayout(const OvMesh& mesh, int bumpSet, bool tangentStream);

// Tangent basis rows T, B, N (9 floats) for each mesh vertex from the
// positions, normals and the coordinates of `set`; false without data.
bool OvComputeTangentBasis(const OvMesh& mesh, int set, float* out);

// Light vector (or half vector) in tangent space packed into a colour.
uint32_t OvPackTangentVector(const OvVector& l);

// The device buffers of one mesh, shared by instances through the count.
class OvMeshBuffers : public OvAllocated {
 public:
  ~OvMeshBuffers();

  int refCount = 1;
  OvRendererGL* renderer = nullptr;
  OvMeshLayout layout;
  OvVertexFormat format;
  OvGLBuffer vbo;
  OvGLBuffer tangentVbo;
  OvGLBuffer ibo;
  uint8_t* vertices = nullptr;  // what the vertex buffer holds
  float* basis = nullptr;       // per buffer vertex, 9 floats, made once
  uint32_t dirty = OV_DIRTY_ALL;
  int bumpSet = -1;
  bool dynamic = false;
  bool warnedNoShader = false;
};

// Creates or refreshes the mesh's buffers through its first shader object.
// False when the mesh cannot be drawn this frame (trace lines given).
bool OvUpdateMeshBuffers(OvRendererGL& renderer, OvMesh& mesh, const OvShaderResource* first);
// Drops the mesh's reference to its buffers.
void OvReleaseMeshBuffers(OvMesh& mesh);

// A texture standing in for entry `slot` (from 0) of the texture list of
// subset `subset`'s material while one clump's mesh is drawn: a dynamic
// environment map puts its cube in place of the slot's 2-D texture there,
// while other users of the material keep seeing their own. The owner keeps
// the entry registered while it lives; a null texture stands in for nothing.
struct OvTextureOverride {
  const OvClump* clump = nullptr;
  int subset = 0;
  int slot = 0;
  OvGLTexture* texture = nullptr;
  OvTextureOverride* next = nullptr;
};
void OvAddTextureOverride(OvTextureOverride* entry);
void OvRemoveTextureOverride(OvTextureOverride* entry);

// Hands a shader object what it needs to draw one subset.
class OvMeshDrawer {
 public:
  OvMeshDrawer(OvRendererGL& renderer, OvMesh& mesh, OvMeshBuffers& buffers, const OvClump* clump = nullptr)
      : m_renderer(renderer), m_mesh(mesh), m_buffers(buffers), m_clump(clump) {}

  OvRendererGL& Renderer() const { return m_renderer; }
  OvMesh& Mesh() const { return m_mesh; }
  OvMeshBuffers& Buffers() const { return m_buffers; }
  // The texture to bind for list entry `slot` of the subset's material,
  // whose own texture is `own`: an override registered for the clump being
  // drawn, else `own`.
  OvGLTexture* SlotTexture(int subset, int slot, OvGLTexture* own) const;
  // Triangles of the subset (all with one subset), with the current states.
  bool DrawGeometry(int subset);
  // Software bump mapping: the active light's vector in tangent space into
  // the diffuse colours and the lit material colour into the specular ones;
  // `specular` writes the half vector with the light's specular colour.
  bool WriteBumpColours(bool specular);

 private:
  OvRendererGL& m_renderer;
  OvMesh& m_mesh;
  OvMeshBuffers& m_buffers;
  const OvClump* m_clump;
};

// Draws all subsets of the mesh with the world matrix already set; `clump`
// (when given) is the one the mesh is drawn for, whose texture overrides
// apply.
void OvDrawMesh(OvRendererGL& renderer, OvMesh& mesh, const OvClump* clump = nullptr);

// ---------------------------------------------------------------------------
// Stencil shadow volumes.

struct OvShadowVolume {
  uint32_t vertexCount = 0;          // triangle vertices
  const float* positions = nullptr;  // object space, 3 floats a vertex
  OvClump* clump = nullptr;          // its world matrix places them
};

inline constexpr uint32_t OV_SHADOW_MAX_TRIANGLES = 20000;
// Triangles the shadow ring holds for a configured limit.
uint32_t OvShadowRingTriangles(uint32_t configuredLimit);
void OvSetShadowTriangleLimit(uint32_t limit);
// The volumes counted into the stencil buffer, then every pixel inside one
// darkened by black at alpha 0x60. Device states are restored.
void OvDrawShadowVolumes(OvRendererGL& renderer, const OvShadowVolume* volumes, int count);

// ---------------------------------------------------------------------------
// Volume fog: a perspective projection (m33 = 0) with its near plane moved
// out by `bias`; false (projection untouched) otherwise.
bool OvVolumeFogProjection(OvMatrix& projection, float bias);
// Reads "__ov_VolumeFogNearBias" and sets the adjusted projection.
void OvApplyVolumeFogProjection(OvRendererGL& renderer);
