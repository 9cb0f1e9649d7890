#include "ov_trail_nodes.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ov_anictrl.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_memory.h"
#include "ov_mesh.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

// Units per second without a scene: the scene's own default clock.
constexpr int32_t kDefaultTimePerSec = 60;
constexpr size_t kMaxListText = 511;

OvVector Transform(const float* p, const OvMatrix& m) {
  return {p[0] * m.m[0][0] + p[1] * m.m[1][0] + p[2] * m.m[2][0] + m.m[3][0],
          p[0] * m.m[0][1] + p[1] * m.m[1][1] + p[2] * m.m[2][1] + m.m[3][1],
          p[0] * m.m[0][2] + p[1] * m.m[1][2] + p[2] * m.m[2][2] + m.m[3][2]};
}

class AcDragShine final : public OvAniCtrl {
 public:
  explicit AcDragShine(const OvDragShineNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_DRAG_SHINE; }
  uint32_t GetChannelMask() const override { return OV_DRAG_SHINE_CHANNELS; }

  void Animate(OvClump* clump, int32_t time) override {
    if (!clump || m_dead) return;
    clump->MarkChanged(ACF_WORLD_MAT);
    OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_ANIM);
  }

  void PassDefault(OvClump* clump, int32_t value) override {
    if (!clump || m_dead) return;
    const OvScene* scene = clump->GetScene();
    const int32_t now = scene ? scene->GetTime() : value;
    if (m_needsSetup) {
      Setup(clump, now);
      return;
    }
    OvClump* parent = clump->GetParent();
    const OvMatrix* parentWorld = parent ? parent->GetToWorldMatrix() : nullptr;
    OvMesh* mesh = clump->GetMesh();
    if (!parentWorld || !mesh) return;
    const int32_t interval = m_node.interval;
    if (OvTimeDelta(now, m_lastShift) > interval) {
      m_lastShift = now;
      std::memmove(m_times, m_times + 1, sizeof(int32_t) * size_t(m_rows));
      std::memmove(m_history, m_history + Entry(1), sizeof(float) * size_t(Entry(m_rows)));
    }
    m_times[m_rows] = now;
    Sample(*parent, *parentWorld, m_history + Entry(m_rows));
    const float* newest = m_history + Entry(m_rows);
    const OvVector c{newest[0], newest[1], newest[2]};
    OvMatrix world;
    OvMatrixIdentity(world);
    world.m[3][0] = c.x, world.m[3][1] = c.y, world.m[3][2] = c.z;
    clump->SetToWorldMatrix(world);
    // Only a private copy of the positions may be rewritten.
    if (!(mesh->ownership & OV_MESH_POSITIONS) || !mesh->positions || mesh->vertexCount < m_rows * m_len) return;
    WriteRow(mesh->positions, newest, c);
    const int64_t elapsed = OvTimeDelta(now, m_start);
    int64_t step = interval;
    // The trail grows out of the vertices instead of appearing at full length.
    if (elapsed < int64_t(m_rows - 1) * interval) step = elapsed / (m_rows - 1);
    float* row = m_scratch;
    for (int32_t k = 1; k < m_rows; ++k) {
      At(int32_t(int64_t(now) - int64_t(k) * step), row);
      WriteRow(mesh->positions + size_t(k) * size_t(m_len) * 3, row, c);
    }
    clump->MarkChanged(OV_DRAG_SHINE_CHANNELS);
  }

 protected:
  ~AcDragShine() override {
    OvMFree(m_times);
    OvMFree(m_history);
    OvMFree(m_scratch);
    OvMFree(m_sources);
  }

 private:
  size_t Entry(int32_t i) const { return size_t(i) * size_t(m_len) * 3; }

  void Setup(OvClump* clump, int32_t now) {
    OvClump* parent = clump->GetParent();
    const OvMatrix* parentWorld = parent ? parent->GetToWorldMatrix() : nullptr;
    if (!parent || !parentWorld) return;  // again next frame
    const OvMesh* mesh = clump->GetMesh();
    m_len = mesh ? OvTrailRowLength(*mesh, m_node.count) : 0;
    const int32_t m = m_node.count < m_len ? m_node.count : m_len;
    if (m_len == 0 || m <= 0 || !m_node.vertices) {
      m_dead = true;  // no grid or no vertices: nothing to trail
      return;
    }
    m_rows = mesh->vertexCount / m_len;
    m_used = m;
    m_times = static_cast<int32_t*>(AllocMem(sizeof(int32_t) * size_t(m_rows + 1)));
    m_history = static_cast<float*>(AllocMem(sizeof(float) * Entry(m_rows + 1)));
    m_scratch = static_cast<float*>(AllocMem(sizeof(float) * Entry(1)));
    m_sources = static_cast<int32_t*>(AllocMem(sizeof(int32_t) * size_t(m)));
    if (!m_times || !m_history || !m_scratch || !m_sources) {
      m_dead = true;
      return;
    }
    const OvMesh* pm = parent->GetMesh();
    const int32_t parentCount = pm && pm->positions ? pm->vertexCount : 0;
    for (int32_t i = 0; i < m; ++i) {
      const int32_t v = m_node.vertices[i];
      m_sources[i] = v >= 0 && v < parentCount ? v : 0;
    }
    m_lastShift = m_start = now;
    m_times[0] = now;
    Sample(*parent, *parentWorld, m_history);
    for (int32_t e = 1; e <= m_rows; ++e) {
      m_times[e] = now;
      std::memcpy(m_history + Entry(e), m_history, sizeof(float) * Entry(1));
    }
    m_needsSetup = false;
  }

  // The listed parent vertices in world space; vertices of a row past the
  // list repeat the last listed one.
  void Sample(const OvClump& parent, const OvMatrix& world, float* out) const {
    const OvMesh* pm = parent.GetMesh();
    static const float kOrigin[3] = {0, 0, 0};
    for (int32_t i = 0; i < m_len; ++i) {
      const int32_t source = m_sources[i < m_used ? i : m_used - 1];
      const float* p = pm && pm->positions && source < pm->vertexCount ? pm->positions + size_t(source) * 3 : kOrigin;
      const OvVector w = Transform(p, world);
      out[3 * i] = w.x, out[3 * i + 1] = w.y, out[3 * i + 2] = w.z;
    }
  }

  // The history at time h: linear between the two entries around it, held
  // at the ends.
  void At(int32_t h, float* out) const {
    int32_t a = 0, b = 0;
    float f = 0.0f;
    if (OvTimeDelta(h, m_times[m_rows]) >= 0) {
      a = b = m_rows;
    } else if (OvTimeDelta(h, m_times[0]) > 0) {
      while (b < m_rows && OvTimeDelta(m_times[b], h) <= 0) ++b;
      a = b - 1;
      const int32_t span = OvTimeDelta(m_times[b], m_times[a]);
      f = span > 0 ? float(OvTimeDelta(h, m_times[a])) / float(span) : 1.0f;
    }
    const float* pa = m_history + Entry(a);
    const float* pb = m_history + Entry(b);
    for (size_t i = 0; i < Entry(1); ++i) out[i] = pa[i] + (pb[i] - pa[i]) * f;
  }

  void WriteRow(float* dst, const float* src, const OvVector& c) const {
    for (int32_t i = 0; i < m_len; ++i) {
      dst[3 * i] = src[3 * i] - c.x;
      dst[3 * i + 1] = src[3 * i + 1] - c.y;
      dst[3 * i + 2] = src[3 * i + 2] - c.z;
    }
  }

  const OvDragShineNode& m_node;
  bool m_needsSetup = true;
  bool m_dead = false;
  int32_t m_rows = 0, m_len = 0, m_used = 0;
  int32_t m_lastShift = 0, m_start = 0;
  int32_t* m_times = nullptr;  // R + 1 entries, oldest first
  float* m_history = nullptr;  // R + 1 entries of L positions
  float* m_scratch = nullptr;
  int32_t* m_sources = nullptr;
};

const OvNodeParamDesc kDragShineParams[] = {
    OvParamI(0, "Input the vertices # of it's parent", OV_PK_SPACER),
    OvParamI(1, "Example: 3,5,8,12,1", OV_PK_SPACER),
    OvParamI(2, "Vertices list of it's parent:", OV_PK_TEXT),
    OvParamI(3, "", OV_PK_INTERNAL_FIRST + 3),
    OvParamI(4, "", OV_PK_INTERNAL_FIRST + 5),
    OvParamF(5, "", OV_PK_INTERNAL_FIRST, 0.5f),
};

}  // namespace

int32_t OvTrailRowLength(const OvMesh& mesh, int32_t listed) {
  auto fits = [&](int32_t l) {
    return l > 0 && mesh.positions && mesh.vertexCount >= 2 * l && mesh.vertexCount % l == 0;
  };
  if (fits(mesh.wordA)) return mesh.wordA;
  return fits(listed) ? listed : 0;
}

// Stored block: i interval, i n, n x i vertex numbers (no format number).
bool OvDragShineNode::Read(OvStream& stream, OvChunkArena& arena) {
  if (!stream.ReadI32(interval) || !stream.ReadI32(count)) return false;
  vertices = nullptr;
  if (count < 0 || !OvStreamCanHold(stream, uint32_t(count), 4)) return stream.MarkFailed();
  if (count == 0) return true;
  vertices = static_cast<int32_t*>(arena.Allocate(int32_t(sizeof(int32_t)) * count));
  if (!vertices) return false;
  for (int32_t i = 0; i < count; ++i)
    if (!stream.ReadI32(vertices[i])) return false;
  return true;
}

bool OvDragShineNode::Write(OvStream& stream) const {
  const int32_t n = vertices ? count : 0;
  bool ok = stream.WriteI32(interval) && stream.WriteI32(n);
  for (int32_t i = 0; ok && i < n; ++i) ok = stream.WriteI32(vertices[i]);
  return ok;
}

bool OvDragShineNode::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  const char* text = v.Text(OV_DRAG_SHINE_SLOT_LIST);
  char buf[kMaxListText + 1] = {};
  if (text) std::strncpy(buf, text, kMaxListText);
  int32_t parsed[kMaxVertices];
  int32_t n = 0;
  char* rest = nullptr;
  for (char* piece = strtok_r(buf, " ,\t\n", &rest); piece && n < kMaxVertices;
       piece = strtok_r(nullptr, " ,\t\n", &rest))
    parsed[n++] = int32_t(std::strtol(piece, nullptr, 10));
  count = n;
  vertices = nullptr;
  if (n > 0) {
    vertices = static_cast<int32_t*>(arena.Allocate(int32_t(sizeof(int32_t)) * n));
    if (!vertices) return false;
    std::memcpy(vertices, parsed, sizeof(int32_t) * size_t(n));
  }
  const uintptr_t address =
      uintptr_t(v.Word(OV_DRAG_SHINE_SLOT_OWNER, 0)) | (uintptr_t(v.Word(OV_DRAG_SHINE_SLOT_OWNER, 1)) << 32);
  const OvClump* owner = reinterpret_cast<const OvClump*>(address);
  const OvScene* scene = owner ? owner->GetScene() : nullptr;
  const double perSec = scene ? double(scene->TimePerSec()) : double(kDefaultTimePerSec);
  const double units = double(v.Real(OV_DRAG_SHINE_SLOT_DURATION)) * perSec;
  int64_t duration = std::isfinite(units) && units > 0 ? int64_t(units < 2e9 ? units : 2e9) : 0;
  const OvMesh* mesh = owner ? owner->GetMesh() : nullptr;
  const int32_t len = mesh ? OvTrailRowLength(*mesh, count) : 0;
  if (len > 0) duration /= mesh->vertexCount / len - 1;
  interval = int32_t(duration);
  return true;
}

OvAniCtrl* OvDragShineNode::MakeController(OvClump*) { return new AcDragShine(*this); }

OvNodeType* OvTrailNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_DRAG_SHINE) {
    return new OvNodeTypeOf<OvDragShineNode>(pair, name, kDragShineParams,
                                             int(sizeof(kDragShineParams) / sizeof(kDragShineParams[0])));
  }
  return nullptr;
}
