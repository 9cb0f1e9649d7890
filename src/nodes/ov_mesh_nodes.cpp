#include "ov_mesh_nodes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ov_clump.h"
#include "ov_mesh.h"
#include "ov_scene.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

constexpr uint32_t kSeedMul = 214013u;
constexpr uint32_t kSeedAdd = 2531011u;
constexpr double kTwoPi = 6.283185307179586;

uint32_t NextRandom(uint32_t& state) {
  state = state * kSeedMul + kSeedAdd;
  return state;
}

OvVector TransformPoint(const OvVector& p, const OvMatrix& m) {
  return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
          p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
          p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
}

// The eight wave values at eighth-cycle steps: the second half mirrors the
// first, so only four sines are needed.
void WaveTable(float out[8], float amplitude, float frequency, float phase, float seconds) {
  for (int k = 0; k < 4; ++k) {
    const double w = double(amplitude) * std::sin(kTwoPi * (k * 0.125 + double(frequency) * seconds + double(phase)));
    out[k] = float(w);
    out[k + 4] = float(-w);
  }
}

float SecondsOf(const OvClump* clump, int32_t time) {
  const OvScene* scene = clump ? clump->GetScene() : nullptr;
  return float(time) * (scene ? scene->SecondsPerUnit() : 1.0f / 60.0f);
}

// A set's bit in the secondary mask; 0 for an index no mask can hold.
uint32_t SetCoordsBit(int32_t set) { return set >= 0 && set < 16 ? 0x10000u << set : 0u; }

// The phase table: u32 count, then one byte per entry. The count is content:
// it must fit in what is left of the block, and a table the arena cannot hold
// is skipped, leaving none.
bool ReadTable(OvStream& stream, OvChunkArena& arena, uint32_t& count, uint8_t*& table) {
  count = 0;
  table = nullptr;
  uint32_t n = 0;
  if (!stream.ReadU32(n)) return false;
  if (n == 0) return true;
  if (uint64_t(n) > stream.Remaining()) return false;
  uint8_t* bytes = n <= 0x7FFF0000u ? static_cast<uint8_t*>(arena.Allocate(int32_t(n))) : nullptr;
  if (!bytes) return stream.SeekRelative(int64_t(n));
  if (!stream.ReadBytes(bytes, n)) return false;
  count = n;
  table = bytes;
  return true;
}

bool WriteTable(OvStream& stream, uint32_t count, const uint8_t* table) {
  if (!table) count = 0;
  if (!stream.WriteU32(count)) return false;
  return count == 0 || stream.WriteBytes(table, count);
}

// ---------------------------------------------------------------------------

class AcFlowUvByMove final : public OvAniCtrl {
 public:
  explicit AcFlowUvByMove(const OvFlowUvByMoveNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_FLOW_UV_BY_MOVE; }
  uint32_t GetSecondaryMask() const override { return SetCoordsBit(m_node.channel); }

  void Animate(OvClump* clump, int32_t) override {
    const OvMatrix* world = clump ? clump->GetToWorldMatrix() : nullptr;
    if (!world) return;
    OvVector p = clump->GetPos();
    if (const OvClump* parent = clump->GetParent()) {
      if (const OvMatrix* pw = parent->GetToWorldMatrix()) p = TransformPoint(p, *pw);
    }
    const OvVector move{p.x - m_prev.x, p.y - m_prev.y, p.z - m_prev.z};
    m_prev = p;
    OvVector axis;
    OvMatrixGetRow(*world, m_node.direction % 3, axis);
    float s = OvVectorDotProd(move, axis);
    if (m_node.direction >= 3) s = -s;
    m_u = Advance(m_u, m_node.uPerUnit * s);
    m_v = Advance(m_v, m_node.vPerUnit * s);

    OvMesh* mesh = clump->GetMesh();
    const int32_t set = m_node.channel;
    const OvMesh* db = mesh ? mesh->sharedMesh : nullptr;
    if (!db || set >= db->setCount || set >= mesh->setCount || !db->sets || !mesh->sets) return;
    if (!(mesh->setOwnership & SetCoordsBit(set))) return;
    const OvTexCoordSet& from = db->sets[set];
    OvTexCoordSet& to = mesh->sets[set];
    if (!from.coords || !to.coords) return;
    const int32_t n = std::min(from.coordCount, to.coordCount);
    for (int32_t i = 0; i < n; ++i) {
      to.coords[2 * i] = from.coords[2 * i] + m_u;
      to.coords[2 * i + 1] = from.coords[2 * i + 1] + m_v;
    }
    clump->MarkSetCoordsChanged(set);
    clump->MarkChanged(ACF_TEX);
  }

 private:
  // Offsets matter only modulo whole repeats; a non-finite step (content
  // reals) would poison them for good.
  static float Advance(float offset, float step) {
    offset += step;
    if (!std::isfinite(offset)) return 0.0f;
    if (offset > 4.0f) offset -= 4.0f;
    if (offset < 0.0f) offset += 3.0f;
    return offset;
  }

  const OvFlowUvByMoveNode& m_node;
  OvVector m_prev{0.0f, 0.0f, 0.0f};
  float m_u = 0.0f;
  float m_v = 0.0f;
};

class AcSphereEnv final : public OvAniCtrl {
 public:
  explicit AcSphereEnv(const OvSphereEnvNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_SPHERE_ENV; }
  uint32_t GetSecondaryMask() const override { return SetCoordsBit(m_node.set); }

  void Animate(OvClump* clump, int32_t) override {
    OvMesh* mesh = clump ? clump->GetMesh() : nullptr;
    if (m_state < 0 || !mesh) return;
    const int32_t set = m_node.set;
    if (m_state == 0 && !Prepare(*mesh)) {
      m_state = -1;
      return;
    }
    m_state = 1;
    if (set >= mesh->setCount || !mesh->sets || !(mesh->setOwnership & SetCoordsBit(set))) return;
    OvTexCoordSet& to = mesh->sets[set];
    const OvMesh* db = mesh->sharedMesh ? mesh->sharedMesh : mesh;
    int32_t n = std::min(to.coordCount, std::min(mesh->vertexCount, db->vertexCount));
    if (n <= 0 || !to.coords || !db->normals) return;

    OvScene* scene = clump->GetScene();
    const OvClump* camera = scene ? scene->GetCrntCamera() : nullptr;
    const OvMatrix* world = clump->GetToWorldMatrix();
    const OvMatrix* cameraWorld = camera ? camera->GetToWorldMatrix() : nullptr;
    if (!world || !cameraWorld) return;
    // World to camera from the camera's matrix of this frame; the flip of
    // the viewing axis leaves x and y alone.
    OvMatrix view;
    if (!OvMatInverseAffine(view, *cameraWorld)) return;
    float r[3][2];
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 2; ++j) {
        r[i][j] = world->m[i][0] * view.m[0][j] + world->m[i][1] * view.m[1][j] + world->m[i][2] * view.m[2][j];
      }
    }
    for (int32_t i = 0; i < n; ++i) {
      const float* m = db->normals + 3 * i;
      const float x = m[0] * r[0][0] + m[1] * r[1][0] + m[2] * r[2][0];
      const float y = m[0] * r[0][1] + m[1] * r[1][1] + m[2] * r[2][1];
      to.coords[2 * i] = (x + 1.0f) * 0.5f;
      to.coords[2 * i + 1] = (1.0f - y) * 0.5f;
    }
    clump->MarkSetCoordsChanged(set);
    clump->MarkChanged(ACF_TEX);
  }

 private:
  // Gives the set one coordinate pair per vertex and the mesh's own triangle
  // list, so coordinates follow vertices one to one. Only a private copy can
  // take arrays of its own.
  bool Prepare(OvMesh& mesh) const {
    const int32_t set = m_node.set;
    if (set < 0 || set >= mesh.setCount || !mesh.sets || !mesh.sharedMesh || mesh.vertexCount <= 0) return false;
    const uint64_t bytes = uint64_t(mesh.vertexCount) * 2 * sizeof(float);
    if (bytes > 0x7FFF0000u) return false;
    auto* coords = static_cast<float*>(AllocMem(size_t(bytes)));
    if (!coords) return false;
    std::memset(coords, 0, size_t(bytes));
    if (!OvMeshSetSetCoords(mesh, set, coords, true)) {
      OvMFree(coords);
      return false;
    }
    OvTexCoordSet& s = mesh.sets[set];
    s.coordCount = mesh.vertexCount;
    const int64_t indexCount = std::min<int64_t>(int64_t(mesh.triangleCount) * 3, mesh.indexCount);
    OvMeshSetSetIndices(mesh, set, mesh.indices, false);
    s.indexCount = mesh.indices && indexCount > 0 ? int32_t(indexCount) : 0;
    return true;
  }

  const OvSphereEnvNode& m_node;
  int32_t m_state = 0;  // 0 not prepared, 1 ready, -1 failed
};

// ---------------------------------------------------------------------------
// Parameter tables.

constexpr int32_t kPkOwner = 103;
constexpr int32_t kPkOwnerExtra = 105;

const OvNodeParamDesc kFlowUvParams[] = {
    OvParamI(0, "Map Channel:", OV_PK_INT, 0),
    OvParamI(1, "Move Direction:", OV_PK_AXIS, 5),
    OvParamF(2, "Move => U:", OV_PK_REAL, 100.0f),
    OvParamF(3, "Move => V:", OV_PK_REAL, 100.0f),
};

const OvNodeParamDesc kSwingVertexParams[] = {
    OvParamI(0, "", kPkOwner),
    OvParamI(1, "", kPkOwnerExtra),
    OvParamF(2, "Amplitude X:", OV_PK_REAL, 20.0f),
    OvParamF(3, "Amplitude Y:", OV_PK_REAL, 20.0f),
    OvParamF(4, "Amplitude Z:", OV_PK_REAL, 20.0f),
    OvParamF(5, "Freqency X:", OV_PK_REAL, 0.5f),
    OvParamF(6, "Freqency Y:", OV_PK_REAL, 0.5f),
    OvParamF(7, "Freqency Z:", OV_PK_REAL, 0.5f),
    OvParamF(8, "Phase Shift X:", OV_PK_REAL, 0.0f),
    OvParamF(9, "Phase Shift Y:", OV_PK_REAL, 0.0f),
    OvParamF(10, "Phase Shift Z:", OV_PK_REAL, 0.0f),
    OvParamI(11, "", OV_PK_CAPTION),
    OvParamI(12, "Random Seed:", OV_PK_INT, 1),
    OvParamI(13, "Sync Position", OV_PK_CHECK, 0),
};

const OvNodeParamDesc kSwingUvwParams[] = {
    OvParamI(0, "", kPkOwner),
    OvParamI(1, "", kPkOwnerExtra),
    OvParamI(2, "Map Channel:", OV_PK_INT, 1),
    OvParamF(3, "Amplitude U:", OV_PK_REAL, 0.1f),
    OvParamF(4, "Amplitude V:", OV_PK_REAL, 0.1f),
    OvParamF(5, "Freqency U:", OV_PK_REAL, 0.5f),
    OvParamF(6, "Freqency V:", OV_PK_REAL, 0.5f),
    OvParamF(7, "Phase Shift U:", OV_PK_REAL, 0.0f),
    OvParamF(8, "Phase Shift V:", OV_PK_REAL, 0.0f),
    OvParamF(9, "Flow Speed U:", OV_PK_REAL, 0.0f),
    OvParamF(10, "Flow Speed V:", OV_PK_REAL, 0.0f),
    OvParamI(11, "", OV_PK_CAPTION),
    OvParamI(12, "Random Seed:", OV_PK_INT, 1),
    OvParamI(13, "Sync Position", OV_PK_CHECK, 0),
};

const OvNodeParamDesc kSphereEnvParams[] = {
    OvParamI(0, "Map Channel:", OV_PK_INT, 1),
};

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

// "Map Channel:" as authored: 1 to 16, anything else 1; kept minus one.
int32_t SetFromChannel(int32_t channel) { return channel >= 1 && channel <= 16 ? channel - 1 : 0; }

}  // namespace

// ---------------------------------------------------------------------------

OvClump* OvParamOwningClump(const OvParamValues& v, int slot) {
  const uintptr_t address = uintptr_t(v.Word(slot, 0)) | (uintptr_t(v.Word(slot, 1)) << 32);
  return reinterpret_cast<OvClump*>(address);
}

uint8_t* OvSwingSyncTable(OvChunkArena& arena, const OvClump& clump, const OvMesh& mesh, int32_t seed,
                          uint32_t& count) {
  count = 0;
  if (mesh.vertexCount <= 0 || !mesh.positions || mesh.vertexCount > 0x7FFF0000) return nullptr;
  auto* table = static_cast<uint8_t*>(arena.Allocate(mesh.vertexCount));
  if (!table) return nullptr;
  uint32_t values[1024];
  uint32_t state = uint32_t(seed);
  for (uint32_t& value : values) value = NextRandom(state);
  OvMatrix m;
  if (const OvMatrix* world = clump.GetToWorldMatrix()) {
    m = *world;
  } else {
    OvPRSToMatrix(m, clump.GetPos(), clump.GetQuat(), clump.GetScale());
  }
  for (int32_t i = 0; i < mesh.vertexCount; ++i) {
    const float* p = mesh.positions + 3 * i;
    const double length = OvLength(TransformPoint({p[0], p[1], p[2]}, m));
    // Lengths are never negative; anything not finite or huge lands on 0.
    const uint64_t whole = std::isfinite(length) && length < 1.0e18 ? uint64_t(length) : 0;
    table[i] = uint8_t(values[whole % 1024] >> 16);
  }
  count = uint32_t(mesh.vertexCount);
  return table;
}

// ---------------------------------------------------------------------------
// "Flow UV by Move": "i iiRR".

bool OvFlowUvByMoveNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("i iiRR", &format, &channel, &direction, &uPerUnit, &vPerUnit);
}

bool OvFlowUvByMoveNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i iiRR", kFormat, channel, direction, uPerUnit, vPerUnit);
}

bool OvFlowUvByMoveNode::FromValues(const OvParamValues& v, OvChunkArena&) {
  channel = v.Int(0);
  direction = v.Int(1);
  uPerUnit = v.Real(2);
  vPerUnit = v.Real(3);
  return true;
}

OvAniCtrl* OvFlowUvByMoveNode::MakeController(OvClump*) {
  // Content values: a set no mask can name or an unknown axis does nothing.
  if (channel < 0 || channel >= 16 || direction < 0 || direction > 5) return nullptr;
  return new AcFlowUvByMove(*this);
}

// ---------------------------------------------------------------------------
// Vertex swings: nine raw reals, u32 n, n bytes.

bool OvSwingVertexBase::Read(OvStream& stream, OvChunkArena& arena) {
  seed = OV_SWING_DEFAULT_SEED;  // the block keeps none
  return stream.ReadLayout("RRRRRRRRR", &amplitude[0], &amplitude[1], &amplitude[2], &frequency[0], &frequency[1],
                           &frequency[2], &phase[0], &phase[1], &phase[2]) &&
         ReadTable(stream, arena, tableCount, table);
}

bool OvSwingVertexBase::Write(OvStream& stream) const {
  return stream.WriteLayout("fffffffff", amplitude[0], amplitude[1], amplitude[2], frequency[0], frequency[1],
                            frequency[2], phase[0], phase[1], phase[2]) &&
         WriteTable(stream, tableCount, table);
}

bool OvSwingVertexBase::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  const OvClump* owner = OvParamOwningClump(v, 0);
  const OvMesh* mesh = owner ? owner->GetMesh() : nullptr;
  if (!mesh) {
    if (const char* message = NoMeshMessage()) Trace(message);
    return false;
  }
  for (int c = 0; c < 3; ++c) {
    amplitude[c] = v.Real(2 + c);
    frequency[c] = v.Real(5 + c);
    phase[c] = v.Real(8 + c);
  }
  seed = v.Int(12);
  table = nullptr;
  tableCount = 0;
  if (v.Check(13)) table = OvSwingSyncTable(arena, *owner, *mesh, seed, tableCount);
  return true;
}

void OvSwingVertexBase::Deform(float* dst, const float* src, int32_t n, float seconds) const {
  float offsets[3][8];
  for (int c = 0; c < 3; ++c) WaveTable(offsets[c], amplitude[c], frequency[c], phase[c], seconds);
  if (table && n > int64_t(tableCount)) n = int32_t(tableCount);
  uint32_t state = uint32_t(seed);
  for (int32_t i = 0; i < n; ++i) {
    int ix, iy, iz;
    if (table) {
      const uint32_t b = table[i];
      ix = int(b & 7);
      iy = int((b >> 3) & 7);
      iz = int(b >> 5);
    } else {
      const uint32_t r = NextRandom(state);
      ix = int((r >> 16) & 7);
      iy = int((r >> 19) & 7);
      iz = int((r >> 22) & 7);
    }
    dst[3 * i] = src[3 * i] + offsets[0][ix];
    dst[3 * i + 1] = src[3 * i + 1] + offsets[1][iy];
    dst[3 * i + 2] = src[3 * i + 2] + offsets[2][iz];
  }
}

void OvSwingVertexBase::DeformClump(OvClump* clump, int32_t time) const {
  OvMesh* mesh = clump ? clump->GetMesh() : nullptr;
  const OvMesh* db = mesh ? mesh->sharedMesh : nullptr;
  const uint32_t channel = Channel();
  if (!db || !(mesh->ownership & channel)) return;
  const bool normals = channel == OV_MESH_NORMALS;
  float* dst = normals ? mesh->normals : mesh->positions;
  const float* src = normals ? db->normals : db->positions;
  if (!dst || !src) return;
  Deform(dst, src, std::min(mesh->vertexCount, db->vertexCount), SecondsOf(clump, time));
  clump->MarkChanged(normals ? ACF_NORMALS : ACF_VERTS);
}

uint32_t OvSwingVertexNode::GetChannelMask() const { return ACF_VERTS; }
uint32_t OvSwingVertexNode::Channel() const { return OV_MESH_POSITIONS; }

void OvSwingVertexNode::Animate(OvClump* clump, int32_t time) {
  OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_CULL1);
}

void OvSwingVertexNode::TwoPass(OvClump* clump, int32_t value, int) {
  // A culled clump keeps its last shape.
  if (clump && !clump->IsCulled()) DeformClump(clump, value);
}

uint32_t OvSwingVertexNormalNode::GetChannelMask() const { return ACF_NORMALS; }
uint32_t OvSwingVertexNormalNode::Channel() const { return OV_MESH_NORMALS; }

void OvSwingVertexNormalNode::Animate(OvClump* clump, int32_t time) { DeformClump(clump, time); }

// ---------------------------------------------------------------------------
// "Swing UVW Mapping": "i RRRRRRRR iu", then n bytes.

bool OvSwingUvwNode::Read(OvStream& stream, OvChunkArena& arena) {
  return stream.ReadLayout("i RRRRRRRR i", &set, &amplitude[0], &amplitude[1], &frequency[0], &frequency[1], &phase[0],
                           &phase[1], &flow[0], &flow[1], &seed) &&
         ReadTable(stream, arena, tableCount, table);
}

bool OvSwingUvwNode::Write(OvStream& stream) const {
  return stream.WriteLayout("i RRRRRRRR i", set, amplitude[0], amplitude[1], frequency[0], frequency[1], phase[0],
                            phase[1], flow[0], flow[1], seed) &&
         WriteTable(stream, tableCount, table);
}

bool OvSwingUvwNode::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  const OvClump* owner = OvParamOwningClump(v, 0);
  const OvMesh* mesh = owner ? owner->GetMesh() : nullptr;
  if (!mesh) {
    Trace("!!! Swing UV Mapping must be added to a mesh.\n");
    return false;
  }
  set = SetFromChannel(v.Int(2));
  for (int c = 0; c < 2; ++c) {
    amplitude[c] = v.Real(3 + c);
    frequency[c] = v.Real(5 + c);
    phase[c] = v.Real(7 + c);
    flow[c] = v.Real(9 + c);
  }
  seed = v.Int(12);
  table = nullptr;
  tableCount = 0;
  if (!v.Check(13) || set >= mesh->setCount || !mesh->sets) return true;
  const OvTexCoordSet& s = mesh->sets[set];
  if (s.coordCount <= 0) return true;
  uint32_t vertexCount = 0;
  const uint8_t* vertexTable = OvSwingSyncTable(arena, *owner, *mesh, seed, vertexCount);
  auto* coords = static_cast<uint8_t*>(arena.Allocate(s.coordCount));
  if (!vertexTable || !coords) return true;
  std::memset(coords, 0, size_t(s.coordCount));
  if (s.indices) {
    // Corner j of the mesh's triangle list and of the set's list are the
    // same corner: the vertex's phase goes to the coordinate.
    const int32_t corners = std::min(s.indexCount, mesh->indexCount);
    for (int32_t j = 0; j < corners && mesh->indices; ++j) {
      const uint32_t c = s.indices[j], vtx = mesh->indices[j];
      if (c < uint32_t(s.coordCount) && vtx < vertexCount) coords[c] = vertexTable[vtx];
    }
  } else {
    // Without an index list coordinates follow the vertices one to one.
    const uint32_t n = std::min(uint32_t(s.coordCount), vertexCount);
    std::memcpy(coords, vertexTable, n);
  }
  table = coords;
  tableCount = uint32_t(s.coordCount);
  return true;
}

uint32_t OvSwingUvwNode::GetSecondaryMask() const { return SetCoordsBit(set); }

void OvSwingUvwNode::Animate(OvClump* clump, int32_t time) {
  OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_CULL1);
}

void OvSwingUvwNode::TwoPass(OvClump* clump, int32_t value, int) {
  if (!clump || clump->IsCulled()) return;
  OvMesh* mesh = clump->GetMesh();
  const OvMesh* db = mesh ? mesh->sharedMesh : nullptr;
  if (!db || !(mesh->setOwnership & SetCoordsBit(set))) return;
  if (set >= mesh->setCount || set >= db->setCount || !mesh->sets || !db->sets) return;
  OvTexCoordSet& to = mesh->sets[set];
  const OvTexCoordSet& from = db->sets[set];
  if (!to.coords || !from.coords) return;
  const float seconds = SecondsOf(clump, value);
  float u[8], w[8];
  WaveTable(u, amplitude[0], frequency[0], phase[0], seconds);
  WaveTable(w, amplitude[1], frequency[1], phase[1], seconds);
  const float fu = std::fmod(flow[0] * seconds, 1.0f);
  const float fv = std::fmod(flow[1] * seconds, 1.0f);
  int64_t n = std::min(to.coordCount, from.coordCount);
  if (table && n > int64_t(tableCount)) n = tableCount;
  uint32_t state = uint32_t(seed);
  for (int64_t i = 0; i < n; ++i) {
    int iu, iv;
    if (table) {
      iu = int(table[i] & 7);
      iv = int((table[i] >> 4) & 7);
    } else {
      const uint32_t r = NextRandom(state);
      iu = int((r >> 16) & 7);
      iv = int((r >> 19) & 7);
    }
    to.coords[2 * i] = from.coords[2 * i] + fu + u[iu];
    to.coords[2 * i + 1] = from.coords[2 * i + 1] + fv + w[iv];
  }
  clump->MarkSetCoordsChanged(set);
  clump->MarkChanged(ACF_TEX);
}

// ---------------------------------------------------------------------------
// "Sphere Env Mapping": "ii".

bool OvSphereEnvNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("ii", &format, &set);
}

bool OvSphereEnvNode::Write(OvStream& stream) const { return stream.WriteLayout("ii", kFormat, set); }

bool OvSphereEnvNode::FromValues(const OvParamValues& v, OvChunkArena&) {
  set = SetFromChannel(v.Int(0));
  return true;
}

OvAniCtrl* OvSphereEnvNode::MakeController(OvClump*) {
  // A set no mask can name never gets a private copy to write.
  if (set < 0 || set >= 16) return nullptr;
  return new AcSphereEnv(*this);
}

// ---------------------------------------------------------------------------

OvNodeType* OvMeshNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_FLOW_UV_BY_MOVE) return MakeType<OvFlowUvByMoveNode>(pair, name, kFlowUvParams);
  if (pair == OV_NODE_SWING_VERTEX) return MakeType<OvSwingVertexNode>(pair, name, kSwingVertexParams);
  if (pair == OV_NODE_SWING_VERTEX_NORMAL) {
    return MakeType<OvSwingVertexNormalNode>(pair, name, kSwingVertexParams);
  }
  if (pair == OV_NODE_SWING_UVW) return MakeType<OvSwingUvwNode>(pair, name, kSwingUvwParams);
  if (pair == OV_NODE_SPHERE_ENV) return MakeType<OvSphereEnvNode>(pair, name, kSphereEnvParams);
  return nullptr;
}
