#include "ov_mesh_draw.h"

#include <cmath>
#include <cstring>

#include "ov_clump.h"
#include "ov_mesh.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_trace.h"

namespace {

constexpr uint32_t kVertexChannels = OV_MESH_POSITIONS | OV_MESH_INDICES | OV_MESH_COLORS | OV_MESH_NORMALS;

uint32_t TrianglesOf(const OvMesh& m) {
  if (m.triangleCount <= 0 || m.indexCount <= 0 || !m.indices) return 0;
  const uint32_t byIndices = uint32_t(m.indexCount) / 3;
  return uint32_t(m.triangleCount) < byIndices ? uint32_t(m.triangleCount) : byIndices;
}

int SetsOf(const OvMesh& m) {
  if (m.setCount <= 0 || !m.sets) return 0;
  return m.setCount < OV_MAX_TEXCOORD_SETS ? m.setCount : OV_MAX_TEXCOORD_SETS;
}

// Position index of corner c (3 per triangle), or -1 when out of range.
int64_t CornerVertex(const OvMesh& m, uint32_t c) {
  const uint32_t i = m.indices[c];
  return i < uint32_t(m.vertexCount) ? int64_t(i) : -1;
}

// Coordinate index of corner c in set s, or -1.
int64_t CornerCoord(const OvMesh& m, int s, uint32_t c) {
  const OvTexCoordSet& set = m.sets[s];
  uint32_t i;
  if (set.indices && set.indexCount > 0) {
    if (c >= uint32_t(set.indexCount)) return -1;
    i = set.indices[c];
  } else {
    i = m.indices[c];
  }
  return set.coords && i < uint32_t(set.coordCount) ? int64_t(i) : -1;
}

// Mesh vertex behind buffer vertex v.
int64_t SourceVertex(const OvMesh& m, const OvMeshLayout& l, uint32_t v) {
  return l.indexed ? int64_t(v) : CornerVertex(m, v);
}

void Put3(uint8_t* dst, const float* src) {
  if (src) {
    std::memcpy(dst, src, 12);
  } else {
    std::memset(dst, 0, 12);
  }
}

bool IsSharedBuffer(const OvMesh& mesh) {
  return mesh.sharedMesh && mesh.deviceBuffers && mesh.deviceBuffers == mesh.sharedMesh->deviceBuffers;
}

bool Animated(const OvMesh& mesh) {
  return mesh.sharedMesh && ((mesh.ownership & kVertexChannels) != 0 || mesh.setOwnership != 0);
}

void DropBuffers(OvMesh& mesh) {
  OvMeshBuffers* b = static_cast<OvMeshBuffers*>(mesh.deviceBuffers);
  mesh.deviceBuffers = nullptr;
  if (b && --b->refCount <= 0) delete b;
}

// Writes the dirty attribute groups into the buffer's memory copy.
void WriteVertices(const OvMesh& m, OvMeshBuffers& b, uint32_t dirty) {
  const OvMeshLayout& l = b.layout;
  const OvVertexFormat& f = b.format;
  for (uint32_t v = 0; v < l.vertexCount; ++v) {
    uint8_t* out = b.vertices + size_t(v) * l.stride;
    const int64_t src = SourceVertex(m, l, v);
    if (dirty & OV_DIRTY_POSITIONS)
      Put3(out + f.offPosition, src >= 0 && m.positions ? m.positions + 3 * src : nullptr);
    if (dirty & OV_DIRTY_NORMALS) Put3(out + f.offNormal, src >= 0 && m.normals ? m.normals + 3 * src : nullptr);
    if ((dirty & OV_DIRTY_COLORS) && f.offDiffuse >= 0 && !l.softwareBump) {
      const uint32_t c = src >= 0 && m.colors ? m.colors[src] : 0xFFFFFFFFu;
      std::memcpy(out + f.offDiffuse, &c, 4);
    }
    for (int s = 0; s < l.texSets; ++s) {
      if (!(dirty & (OV_DIRTY_SET0 << s))) continue;
      const OvTexCoordSet& set = m.sets[s];
      int64_t ci = -1;
      if (l.indexed) {
        ci = set.coords && v < uint32_t(set.coordCount) ? int64_t(v) : -1;
      } else {
        ci = CornerCoord(m, s, v);
      }
      float uv[2] = {0.0f, 0.0f};
      if (ci >= 0) std::memcpy(uv, set.coords + 2 * ci, 8);
      std::memcpy(out + f.offTex[s], uv, 8);
    }
  }
}

bool WriteIndices(OvRendererGL& r, const OvMesh& m, OvMeshBuffers& b) {
  const uint32_t count = b.layout.triangles * 3;
  const size_t bytes = size_t(count) * size_t(b.layout.indexSize);
  void* data = AllocMem(bytes ? bytes : 1);
  if (!data) return false;
  for (uint32_t i = 0; i < count; ++i) {
    // An index past the vertices would read outside the buffer.
    const uint32_t v = m.indices[i] < uint32_t(m.vertexCount) ? m.indices[i] : 0;
    if (b.layout.indexSize == 2) {
      static_cast<uint16_t*>(data)[i] = uint16_t(v);
    } else {
      static_cast<uint32_t*>(data)[i] = v;
    }
  }
  const bool ok = r.UpdateBuffer(b.ibo, 0, uint32_t(bytes), data);
  OvMFree(data);
  return ok;
}

// The basis of every buffer vertex: per mesh vertex, then per corner.
bool MakeBasis(const OvMesh& m, OvMeshBuffers& b) {
  if (b.basis) return true;
  float* perVertex = static_cast<float*>(AllocMem(sizeof(float) * 9 * size_t(m.vertexCount)));
  float* basis =
      static_cast<float*>(AllocMem(sizeof(float) * 9 * size_t(b.layout.vertexCount ? b.layout.vertexCount : 1)));
  if (!perVertex || !basis || !OvComputeTangentBasis(m, b.bumpSet, perVertex)) {
    OvMFree(perVertex);
    OvMFree(basis);
    return false;
  }
  for (uint32_t v = 0; v < b.layout.vertexCount; ++v) {
    const int64_t src = SourceVertex(m, b.layout, v);
    if (src >= 0) {
      std::memcpy(basis + 9 * size_t(v), perVertex + 9 * src, 36);
    } else {
      static constexpr float kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
      std::memcpy(basis + 9 * size_t(v), kIdentity, 36);
    }
  }
  OvMFree(perVertex);
  b.basis = basis;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Layout rules.

bool OvMeshSetUsesPositionIndices(const OvMesh& mesh, int set) {
  if (set < 0 || set >= mesh.setCount || !mesh.sets) return false;
  const OvTexCoordSet& s = mesh.sets[set];
  if (s.coordCount < mesh.vertexCount) return false;
  if (!s.indices || s.indexCount == 0 || s.indices == mesh.indices) return true;
  // A list of its own with the very same entries indexes the same way.
  return s.indexCount == mesh.indexCount && mesh.indices &&
         std::memcmp(s.indices, mesh.indices, sizeof(uint32_t) * size_t(mesh.indexCount)) == 0;
}

OvMeshLayout OvComputeMeshLayout(const OvMesh& mesh, int bumpSet, bool tangentStream) {
  OvMeshLayout l;
  l.triangles = mesh.vertexCount > 0 && mesh.positions ? TrianglesOf(mesh) : 0;
  l.texSets = SetsOf(mesh);
  if (bumpSet >= mesh.setCount) bumpSet = -1;
  l.tangentStream = tangentStream && bumpSet >= 0;
  l.softwareBump = bumpSet >= 0 && !tangentStream;
  l.flags = VF_XYZ | VF_NORMAL;
  if (l.softwareBump) {
    l.flags |= VF_DIFFUSE | VF_SPECULAR;
  } else if (mesh.colors && bumpSet < 0) {
    l.flags |= VF_DIFFUSE;
  }
  l.stride = OvVertexStride(l.flags, l.texSets);
  bool indexed = l.triangles > 2;
  for (int s = 0; indexed && s < mesh.setCount; ++s) indexed = OvMeshSetUsesPositionIndices(mesh, s);
  l.indexed = indexed;
  l.vertexCount = l.triangles == 0 ? 0 : indexed ? uint32_t(mesh.vertexCount) : l.triangles * 3;
  // 16-bit indices would wrap past 65536 vertices.
  l.indexSize = indexed && l.vertexCount > 65536 ? 4 : 2;
  return l;
}

bool OvComputeTangentBasis(const OvMesh& mesh, int set, float* out) {
  if (!out || mesh.vertexCount <= 0 || !mesh.positions || set < 0 || set >= mesh.setCount || !mesh.sets) return false;
  const uint32_t n = uint32_t(mesh.vertexCount);
  std::memset(out, 0, sizeof(float) * 9 * n);
  const uint32_t tris = TrianglesOf(mesh);
  for (uint32_t t = 0; t < tris; ++t) {
    int64_t p[3], c[3];
    bool ok = true;
    for (int k = 0; k < 3; ++k) {
      p[k] = CornerVertex(mesh, 3 * t + k);
      c[k] = CornerCoord(mesh, set, 3 * t + k);
      ok = ok && p[k] >= 0 && c[k] >= 0;
    }
    if (!ok) continue;
    const float* uv0 = mesh.sets[set].coords + 2 * c[0];
    const float* uv1 = mesh.sets[set].coords + 2 * c[1];
    const float* uv2 = mesh.sets[set].coords + 2 * c[2];
    float tv[3], bv[3];
    for (int axis = 0; axis < 3; ++axis) {
      const float e1[3] = {mesh.positions[3 * p[1] + axis] - mesh.positions[3 * p[0] + axis], uv1[0] - uv0[0],
                           uv1[1] - uv0[1]};
      const float e2[3] = {mesh.positions[3 * p[2] + axis] - mesh.positions[3 * p[0] + axis], uv2[0] - uv0[0],
                           uv2[1] - uv0[1]};
      float nx = e1[1] * e2[2] - e1[2] * e2[1];
      const float ny = e1[2] * e2[0] - e1[0] * e2[2];
      const float nz = e1[0] * e2[1] - e1[1] * e2[0];
      if (std::fabs(nx) < 1e-12f) nx = 1e-12f;
      tv[axis] = -ny / nx;
      bv[axis] = -nz / nx;
    }
    for (int k = 0; k < 3; ++k) {
      float* row = out + 9 * p[k];
      for (int axis = 0; axis < 3; ++axis) {
        row[axis] += tv[axis];
        row[3 + axis] += bv[axis];
      }
    }
  }
  for (uint32_t v = 0; v < n; ++v) {
    float* row = out + 9 * size_t(v);
    OvVector T{row[0], row[1], row[2]}, B{row[3], row[4], row[5]};
    if (OvSquareLength(T) > 0.0f) OvNormalize(T);
    if (OvSquareLength(B) > 0.0f) OvNormalize(B);
    OvVector N;
    OvVectorCrossProd(N, T, B);
    if (mesh.normals) {
      const OvVector vn{mesh.normals[3 * v], mesh.normals[3 * v + 1], mesh.normals[3 * v + 2]};
      if (OvVectorDotProd(N, vn) < 0.0f) N = {-N.x, -N.y, -N.z};
    }
    const float rows[9] = {T.x, T.y, T.z, B.x, B.y, B.z, N.x, N.y, N.z};
    std::memcpy(row, rows, sizeof(rows));
  }
  return true;
}

uint32_t OvPackTangentVector(const OvVector& l) {
  auto pack = [](float c) {
    const float v = (c + 1.0f) * 127.5f;
    return uint32_t(v < 0.0f ? 0.0f : v > 255.0f ? 255.0f : v);
  };
  return 0xFF000000u | pack(l.x) << 16 | pack(l.y) << 8 | pack(l.z);
}

// ---------------------------------------------------------------------------
// Buffers.

OvMeshBuffers::~OvMeshBuffers() {
  if (renderer) {
    renderer->DestroyBuffer(vbo);
    renderer->DestroyBuffer(tangentVbo);
    renderer->DestroyBuffer(ibo);
  }
  OvMFree(vertices);
  OvMFree(basis);
}

void OvReleaseMeshBuffers(OvMesh& mesh) { DropBuffers(mesh); }

bool OvUpdateMeshBuffers(OvRendererGL& renderer, OvMesh& mesh, const OvShaderResource* first) {
  const int bumpSet = first ? first->BumpSet() : -1;
  const bool tangents = first && first->NeedsTangentStream();
  OvMeshBuffers* b = static_cast<OvMeshBuffers*>(mesh.deviceBuffers);
  const uint32_t changes = mesh.changeFlags;

  // An instance that animates its own vertex data may no longer share.
  if (b && IsSharedBuffer(mesh) && Animated(mesh)) {
    DropBuffers(mesh);
    b = nullptr;
  }
  if (b && IsSharedBuffer(mesh)) {
    mesh.changeFlags = 0;
    return OvUpdateMeshBuffers(renderer, *mesh.sharedMesh, first);
  }

  OvMeshLayout layout;
  const bool relayout = !b || (changes & (OV_DIRTY_INDICES | 0xFF000000u)) ||
                        b->bumpSet != (bumpSet < mesh.setCount ? bumpSet : -1) ||
                        b->layout.tangentStream != (tangents && bumpSet >= 0 && bumpSet < mesh.setCount);
  if (relayout) {
    layout = OvComputeMeshLayout(mesh, bumpSet, tangents);
    if (b && (layout.stride != b->layout.stride || layout.flags != b->layout.flags ||
              layout.indexed != b->layout.indexed || layout.vertexCount * uint32_t(layout.stride) > b->vbo.size ||
              layout.triangles * 3 * uint32_t(layout.indexSize) > b->ibo.size ||
              layout.tangentStream != b->layout.tangentStream)) {
      DropBuffers(mesh);
      b = nullptr;
    }
  }

  if (!b) {
    if (mesh.sharedMesh && !Animated(mesh) && bumpSet < 0 && !tangents &&
        (changes & (kVertexChannels | 0xFFFF0000u)) == 0) {
      if (!OvUpdateMeshBuffers(renderer, *mesh.sharedMesh, first)) return false;
      OvMeshBuffers* source = static_cast<OvMeshBuffers*>(mesh.sharedMesh->deviceBuffers);
      if (!source) return false;
      ++source->refCount;
      mesh.deviceBuffers = source;
      mesh.changeFlags = 0;
      return true;
    }
    if (!relayout) layout = OvComputeMeshLayout(mesh, bumpSet, tangents);
    b = new OvMeshBuffers;
    if (!b) {
      Trace("!!!CreateVertexBuffer failed!\n");
      return false;
    }
    b->renderer = &renderer;
    b->layout = layout;
    b->format = OvMakeVertexFormat(layout.flags, layout.texSets);
    b->bumpSet = layout.softwareBump || layout.tangentStream ? bumpSet : -1;
    b->dynamic = Animated(mesh);
    const uint32_t vbytes = layout.vertexCount * uint32_t(layout.stride);
    if (vbytes > 0) {
      b->vertices = static_cast<uint8_t*>(AllocMem(vbytes));
      if (!b->vertices || !renderer.CreateVertexBuffer(b->vbo, vbytes, b->dynamic || layout.softwareBump)) {
        Trace("!!!CreateVertexBuffer failed!\n");
        delete b;
        return false;
      }
      std::memset(b->vertices, 0, vbytes);
      if (layout.tangentStream && !renderer.CreateVertexBuffer(b->tangentVbo, layout.vertexCount * 36, false)) {
        Trace("!!!CreateVertexBuffer for tangent space basis failed!\n");
        delete b;
        return false;
      }
      if (layout.indexed && !renderer.CreateIndexBuffer(b->ibo, layout.triangles * 3 * uint32_t(layout.indexSize),
                                                        layout.indexSize, false)) {
        Trace("!!!CreateIndexBuffer failed!\n");
        delete b;
        return false;
      }
    }
    mesh.deviceBuffers = b;
    b->dirty = OV_DIRTY_ALL;
  }

  // The mesh's change word names the groups to rewrite.
  uint32_t dirty = b->dirty | (changes & (OV_DIRTY_POSITIONS | OV_DIRTY_INDICES | OV_DIRTY_COLORS | OV_DIRTY_NORMALS |
                                          OV_DIRTY_TANGENTS | 0x00FF0000u));
  for (int s = 0; s < 8; ++s) {
    if (changes & (0x01000000u << s)) dirty |= OV_DIRTY_SET0 << s;
  }
  // Expanded buffers gather every group through the index lists.
  if (!b->layout.indexed && (dirty & OV_DIRTY_INDICES)) dirty = OV_DIRTY_ALL;
  mesh.changeFlags = 0;
  if (b->layout.vertexCount == 0) {
    b->dirty = 0;
    return true;
  }

  const uint32_t groups = dirty & ~(OV_DIRTY_INDICES | OV_DIRTY_TANGENTS);
  if (groups) {
    WriteVertices(mesh, *b, groups);
    if (!renderer.UpdateBuffer(b->vbo, 0, b->layout.vertexCount * uint32_t(b->layout.stride), b->vertices)) {
      Trace("!!!Lock vertex buffer failed!\n");
      b->dirty = dirty;
      return false;
    }
  }
  if (b->layout.indexed && (dirty & OV_DIRTY_INDICES) && !WriteIndices(renderer, mesh, *b)) {
    Trace("!!!Lock vertex buffer failed!\n");
    b->dirty = dirty;
    return false;
  }
  if (b->bumpSet >= 0 && (dirty & OV_DIRTY_TANGENTS)) {
    OvMFree(b->basis);
    b->basis = nullptr;
    if (MakeBasis(mesh, *b) && b->layout.tangentStream &&
        !renderer.UpdateBuffer(b->tangentVbo, 0, b->layout.vertexCount * 36, b->basis)) {
      Trace("!!!Lock vertex buffer (bump mapping) failed!\n");
      b->dirty = dirty & OV_DIRTY_TANGENTS;
      return false;
    }
  }
  b->dirty = 0;
  return true;
}

// ---------------------------------------------------------------------------
// Drawing.

bool OvMeshDrawer::DrawGeometry(int subset) {
  const OvMeshLayout& l = m_buffers.layout;
  uint32_t first = 0, count = l.triangles;
  if (m_mesh.subsetCount > 1 && m_mesh.ranges) {
    // Range pair: first triangle and triangle count of the subset.
    first = m_mesh.ranges[2 * subset];
    count = m_mesh.ranges[2 * subset + 1];
    if (first >= l.triangles) return true;
    if (count > l.triangles - first) count = l.triangles - first;
  }
  if (count == 0) return true;
  if (l.tangentStream)
    return m_renderer.DrawWithBasis(m_buffers.format, m_buffers.vbo, m_buffers.tangentVbo,
                                    l.indexed ? &m_buffers.ibo : nullptr, PRIM_TRIANGLELIST, first * 3, count);
  return m_renderer.Draw(m_buffers.format, m_buffers.vbo, l.indexed ? &m_buffers.ibo : nullptr, PRIM_TRIANGLELIST,
                         first * 3, count);
}

bool OvMeshDrawer::WriteBumpColours(bool specular) {
  OvMeshBuffers& b = m_buffers;
  const OvMeshLayout& l = b.layout;
  if (!l.softwareBump || !b.vertices || b.format.offDiffuse < 0 || b.format.offSpecular < 0) return false;
  if (!b.basis && !MakeBasis(m_mesh, b)) return false;
  const OvLightData* light = m_renderer.GetActiveLight();
  const OvMaterial& mat = m_renderer.Material();
  const float* lc = light ? (specular ? light->specular : light->diffuse) : nullptr;
  const float* mc = specular ? mat.specular : mat.diffuse;
  const bool black = !lc || (lc[0] <= 0.0f && lc[1] <= 0.0f && lc[2] <= 0.0f);
  auto byte = [](float v) {
    v *= 255.0f;
    return uint32_t(v < 0.0f ? 0.0f : v > 255.0f ? 255.0f : v);
  };
  const uint32_t alpha = byte(mat.diffuse[3]) << 24;
  if (black) {
    // No light reaches the surface: a flat normal and no colour.
    const uint32_t flat = OvPackTangentVector({0.0f, 0.0f, 1.0f});
    for (uint32_t v = 0; v < l.vertexCount; ++v) {
      uint8_t* out = b.vertices + size_t(v) * l.stride;
      std::memcpy(out + b.format.offDiffuse, &flat, 4);
      std::memcpy(out + b.format.offSpecular, &alpha, 4);
    }
  } else {
    const uint32_t colour = alpha | byte(mc[0] * lc[0]) << 16 | byte(mc[1] * lc[1]) << 8 | byte(mc[2] * lc[2]);
    OvMatrix inv;
    OvMatInverseAffine(inv, m_renderer.WorldMatrix());
    OvVector P, E, dir;
    OvXformPoint(P, light->position, inv);
    OvXformPoint(E, m_renderer.CameraPosition(), inv);
    OvRotateVector(dir, light->direction, inv);
    const bool directional = light->type == OV_DEVLIGHT_DIRECTIONAL;
    for (uint32_t v = 0; v < l.vertexCount; ++v) {
      uint8_t* out = b.vertices + size_t(v) * l.stride;
      OvVector pos;
      std::memcpy(&pos, out + b.format.offPosition, 12);
      OvVector L = directional ? OvNeg(dir) : OvSub(P, pos);
      if (specular) {
        const OvVector toEye = OvSub(E, pos);
        const float ll = OvSquareLength(L);
        const float scale = ll > 0.0f ? std::sqrt(OvSquareLength(toEye) / ll) : 0.0f;
        L = OvAdd(OvScaled(L, scale), toEye);
      }
      const float* basis = b.basis + 9 * size_t(v);
      OvVector t{L.x * basis[0] + L.y * basis[1] + L.z * basis[2], L.x * basis[3] + L.y * basis[4] + L.z * basis[5],
                 L.x * basis[6] + L.y * basis[7] + L.z * basis[8]};
      if (OvSquareLength(t) > 0.0f) OvNormalize(t);
      const uint32_t packed = OvPackTangentVector(t);
      std::memcpy(out + b.format.offDiffuse, &packed, 4);
      std::memcpy(out + b.format.offSpecular, &colour, 4);
    }
  }
  if (!m_renderer.UpdateBuffer(b.vbo, 0, l.vertexCount * uint32_t(l.stride), b.vertices)) {
    Trace("!!!Lock vertex buffer (bump mapping) failed!\n");
    return false;
  }
  return true;
}

namespace {
// Few at a time (one per environment map), so a list does.
OvTextureOverride* g_overrides = nullptr;
}  // namespace

void OvAddTextureOverride(OvTextureOverride* entry) {
  if (!entry) return;
  OvRemoveTextureOverride(entry);
  entry->next = g_overrides;
  g_overrides = entry;
}

void OvRemoveTextureOverride(OvTextureOverride* entry) {
  for (OvTextureOverride** p = &g_overrides; *p; p = &(*p)->next) {
    if (*p != entry) continue;
    *p = entry->next;
    entry->next = nullptr;
    return;
  }
}

OvGLTexture* OvMeshDrawer::SlotTexture(int subset, int slot, OvGLTexture* own) const {
  if (!m_clump) return own;
  for (const OvTextureOverride* o = g_overrides; o; o = o->next)
    if (o->clump == m_clump && o->subset == subset && o->slot == slot && o->texture) return o->texture;
  return own;
}

void OvDrawMesh(OvRendererGL& renderer, OvMesh& mesh, const OvClump* clump) {
  if (renderer.IsDeviceLost()) return;
  renderer.SetWorldMode(1);
  OvShaderResource* const* resources = reinterpret_cast<OvShaderResource* const*>(mesh.resources);
  const OvShaderResource* first = mesh.subsetCount > 0 && resources ? resources[0] : nullptr;
  // A bump program on any subset needs the basis stream in the buffers.
  for (int i = 1; first && !first->NeedsTangentStream() && i < mesh.subsetCount; ++i)
    if (resources[i] && resources[i]->NeedsTangentStream()) first = resources[i];
  if (!OvUpdateMeshBuffers(renderer, mesh, first)) return;
  OvMeshBuffers* b = static_cast<OvMeshBuffers*>(mesh.deviceBuffers);
  if (!b || b->layout.vertexCount == 0) return;

  renderer.SetRenderState(RS_CULLMODE, (mesh.flags & OV_MESH_TWO_SIDED) ? CULL_NONE : renderer.DefaultCullMode());
  const bool colours = (b->layout.flags & VF_DIFFUSE) && !b->layout.softwareBump;
  renderer.SetRenderState(RS_DIFFUSEMATERIALSOURCE, colours ? MCS_COLOR1 : MCS_MATERIAL);
  renderer.SetRenderState(RS_COLORVERTEX, colours ? 1 : 0);

  OvMeshDrawer drawer(renderer, mesh, *b, g_overrides ? clump : nullptr);
  const int subsets = mesh.subsetCount > 1 ? mesh.subsetCount : 1;
  for (int i = 0; i < subsets; ++i) {
    if (mesh.materials && i < mesh.subsetCount) renderer.SetMaterial(mesh.materials[i]);
    OvShaderResource* shader = resources && i < mesh.subsetCount ? resources[i] : nullptr;
    if (!shader) {
      // Once per buffer: the trace would otherwise repeat every frame.
      if (!b->warnedNoShader) Trace("!!! No shader in the mesh, why ?\n");
      b->warnedNoShader = true;
      continue;
    }
    shader->DrawSubset(drawer, i);
  }
}

// ---------------------------------------------------------------------------
// Shadow volumes.

namespace {
uint32_t g_shadowLimit = OV_SHADOW_MAX_TRIANGLES;
}  // namespace

uint32_t OvShadowRingTriangles(uint32_t configuredLimit) {
  const uint32_t limit = configuredLimit < OV_SHADOW_MAX_TRIANGLES ? configuredLimit : OV_SHADOW_MAX_TRIANGLES;
  // The buffer holds limit x 36 bytes; a ring slot is a 72-byte triangle.
  return limit * 36 / 72;
}

void OvSetShadowTriangleLimit(uint32_t limit) { g_shadowLimit = limit; }

void OvDrawShadowVolumes(OvRendererGL& r, const OvShadowVolume* volumes, int count) {
  if (r.IsDeviceLost() || !volumes || count <= 0) return;
  const uint32_t ring = OvShadowRingTriangles(g_shadowLimit);
  if (ring == 0) return;
  // Z writes and the blend factors are changed too, and must come back for
  // whatever is drawn after the shadows.
  OvStatePair saved[] = {{RS_ZENABLE, 0},  {RS_STENCILENABLE, 0}, {RS_FOGENABLE, 0}, {RS_ALPHABLENDENABLE, 0},
                         {RS_LIGHTING, 0}, {RS_SHADEMODE, 0},     {RS_CULLMODE, 0},  {RS_ZWRITEENABLE, 0},
                         {RS_SRCBLEND, 0}, {RS_DESTBLEND, 0}};
  const int savedCount = int(sizeof(saved) / sizeof(saved[0]));
  r.GetRenderStates(saved, savedCount);

  r.SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG2);
  r.SetTextureStageState(0, TSS_COLORARG2, TA_DIFFUSE);
  r.SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG2);
  r.SetTextureStageState(0, TSS_ALPHAARG2, TA_DIFFUSE);
  r.SetTextureStageState(0, TSS_TEXCOORDINDEX, 0);
  r.DisableStage(0);
  r.SetTexture(0, nullptr);
  r.EnableLighting(true);
  r.EnableLight(0, true);
  r.SetRenderState(RS_ZWRITEENABLE, 0);
  r.SetRenderState(RS_STENCILENABLE, 1);
  r.SetRenderState(RS_SHADEMODE, SHADE_FLAT);
  r.SetRenderState(RS_STENCILFUNC, CMP_ALWAYS);
  r.SetRenderState(RS_STENCILFAIL, STENCILOP_KEEP);
  r.SetRenderState(RS_STENCILZFAIL, STENCILOP_KEEP);
  r.SetRenderState(RS_STENCILREF, 1);
  r.SetRenderState(RS_STENCILMASK, 0xFFFFFFFFu);
  r.SetRenderState(RS_STENCILWRITEMASK, 0xFFFFFFFFu);
  r.SetRenderState(RS_ALPHABLENDENABLE, 1);
  r.SetRenderState(RS_SRCBLEND, BLEND_ZERO);
  r.SetRenderState(RS_DESTBLEND, BLEND_ONE);

  const OvVertexFormat fmt = OvMakeVertexFormat(VF_XYZ | VF_NORMAL, 0);
  float* slot = static_cast<float*>(AllocMem(size_t(ring) * 72));
  if (slot) {
    for (int e = 0; e < count; ++e) {
      const OvShadowVolume& v = volumes[e];
      const OvMatrix* world = v.clump ? v.clump->GetToWorldMatrix() : nullptr;
      if (!v.positions || v.vertexCount < 3 || !world) continue;
      r.SetWorldMatrix(world);
      const uint32_t tris = v.vertexCount / 3;
      for (uint32_t done = 0; done < tris;) {
        const uint32_t n = tris - done < ring ? tris - done : ring;
        for (uint32_t i = 0; i < n * 3; ++i) {
          const float* p = v.positions + 3 * (size_t(done) * 3 + i);
          float* out = slot + 6 * size_t(i);
          out[0] = p[0], out[1] = p[1], out[2] = p[2];
          out[3] = 1.0f, out[4] = 0.0f, out[5] = 0.0f;
        }
        // Depth-fail counting: back faces count up, front faces down.
        r.SetRenderState(RS_CULLMODE, CULL_CW);
        r.SetRenderState(RS_STENCILPASS, STENCILOP_KEEP);
        r.SetRenderState(RS_STENCILZFAIL, STENCILOP_INCR);
        r.DrawUser(fmt, slot, PRIM_TRIANGLELIST, n);
        r.SetRenderState(RS_CULLMODE, CULL_CCW);
        r.SetRenderState(RS_STENCILZFAIL, STENCILOP_DECR);
        r.DrawUser(fmt, slot, PRIM_TRIANGLELIST, n);
        done += n;
      }
    }
    OvMFree(slot);
  } else {
    Trace("!!! Create vertex buffer for shadow failed!\n");
  }

  // Darken every pixel with a count of at least 1.
  r.EnableLighting(false);
  r.SetRenderState(RS_ZENABLE, 0);
  r.SetRenderState(RS_STENCILENABLE, 1);
  r.SetRenderState(RS_FOGENABLE, 0);
  r.SetRenderState(RS_ALPHABLENDENABLE, 1);
  r.SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
  r.SetRenderState(RS_DESTBLEND, BLEND_INVSRCALPHA);
  r.SetStageTextureTimesDiffuse(0);
  r.SetRenderState(RS_STENCILREF, 1);
  r.SetRenderState(RS_STENCILFUNC, CMP_LESSEQUAL);
  r.SetRenderState(RS_STENCILPASS, STENCILOP_KEEP);
  r.SetRenderState(RS_CULLMODE, CULL_CCW);
  struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
  };
  const float w = float(r.GetFrameWidth()), h = float(r.GetFrameHeight());
  const ScreenVertex quad[6] = {{0, 0, 0, 1, 0x60000000u}, {w, 0, 0, 1, 0x60000000u}, {0, h, 0, 1, 0x60000000u},
                                {w, 0, 0, 1, 0x60000000u}, {w, h, 0, 1, 0x60000000u}, {0, h, 0, 1, 0x60000000u}};
  r.DrawUser(OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE, 0), quad, PRIM_TRIANGLELIST, 2);

  r.SetRenderStates(saved, savedCount);
  r.EnableLighting(saved[4].value != 0);
}

// ---------------------------------------------------------------------------
// Volume fog.

bool OvVolumeFogProjection(OvMatrix& p, float bias) {
  if (p.m[3][3] != 0.0f || bias == 0.0f || p.m[2][2] == 0.0f) return false;
  const float nearZ = -p.m[3][2] / p.m[2][2];
  const float denom = 1.0f - 1.0f / p.m[2][2];
  if (denom == 0.0f) return false;
  const float farZ = nearZ / denom;
  const float moved = nearZ + bias;
  // A near plane at or past the far plane has no projection.
  if (!(moved < farZ) || moved <= 0.0f) return false;
  p.m[2][2] = 1.0f / (1.0f - moved / farZ);
  p.m[3][2] = -moved * p.m[2][2];
  return true;
}

void OvApplyVolumeFogProjection(OvRendererGL& renderer) {
  OvMatrix p = renderer.ProjectionMatrix();
  if (OvVolumeFogProjection(p, OvRenderSettingFloat("__ov_VolumeFogNearBias"))) renderer.SetProjectionMatrix(p);
}
