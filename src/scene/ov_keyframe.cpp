#include "ov_keyframe.h"

#include <algorithm>
#include <cstring>

#include "ov_clump.h"
#include "ov_database.h"
#include "ov_mesh.h"
#include "ov_scene.h"
#include "ov_stream.h"
#include "ov_trace.h"

// ---------------------------------------------------------------------------
// Key table

namespace {}  // namespace

bool OvKeyTable::Read(OvStream& stream, OvChunkArena& arena, OvKeyTable*& out) {
  out = nullptr;
  uint32_t size = 0;
  if (!stream.ReadU32(size)) return false;
  if (size == 0) return true;
  if (size < OV_KEY_HEADER_BYTES || size > stream.Remaining()) {
    _TraceFormat("!!! Key table of %u bytes does not fit its record.\n", size);
    return stream.MarkFailed();
  }
  OvKeyTableHeader h;
  if (!stream.ReadLayout("uuuttttu", &h.count, &h.stride, &h.reserved, &h.rangeStart, &h.rangeEnd, &h.loopEnd,
                         &h.loopStart, &h.mode)) {
    return false;
  }
  const uint64_t body = uint64_t(size) - OV_KEY_HEADER_BYTES;
  const bool shapeOk = h.stride >= 4 && (h.stride % 4) == 0 && uint64_t(h.count) * h.stride <= body;
  if (!shapeOk) {
    _TraceFormat("!!! Key table: %u keys of %u bytes do not fit in %u bytes.\n", h.count, h.stride, size);
    return stream.MarkFailed();
  }
  OvKeyTable* table = OvArenaNew<OvKeyTable>(arena);
  uint8_t* data = body ? static_cast<uint8_t*>(OvArenaAllocAligned(arena, size_t(body), 4)) : nullptr;
  if (!table || (body && !data)) {
    // No memory: step over the keys so the caller can go on, but report it.
    stream.SeekRelative(int64_t(body));
    _TraceFormat("!!! Not enough memory for a key table of %u bytes.\n", size);
    return false;
  }
  if (body && !stream.ReadBytes(data, size_t(body))) return false;
  table->m_header = h;
  table->m_size = size;
  table->m_data = data;
  table->Prepare();
  out = table;
  return true;
}

bool OvKeyTable::Write(OvStream& stream, const OvKeyTable* table) {
  if (!table) return stream.WriteU32(0);
  const OvKeyTableHeader& h = table->m_header;
  return stream.WriteU32(table->m_size) &&
         stream.WriteLayout("uuuttttu", h.count, h.stride, h.reserved, h.rangeStart, h.rangeEnd, h.loopEnd, h.loopStart,
                            h.mode) &&
         stream.WriteBytes(table->m_data, table->m_size - OV_KEY_HEADER_BYTES);
}

OvKeyTable* OvKeyTable::Create(OvChunkArena& arena, int count, int values, const int32_t* times, const float* data,
                               int beforeMode, int afterMode, int interpolation) {
  if (count < 1 || values < 0 || values > (1 << 20) || count > (1 << 20) || !times || (values && !data)) {
    return nullptr;
  }
  const uint64_t stride = 4 + 4 * uint64_t(values);
  const uint64_t body = stride * uint64_t(count);
  if (body + OV_KEY_HEADER_BYTES > 0x7FFF0000u) return nullptr;
  OvKeyTable* table = OvArenaNew<OvKeyTable>(arena);
  auto* bytes = static_cast<uint8_t*>(OvArenaAllocAligned(arena, size_t(body), 4));
  if (!table || !bytes) return nullptr;
  for (int k = 0; k < count; ++k) {
    uint8_t* key = bytes + uint64_t(k) * stride;
    std::memcpy(key, &times[k], 4);
    if (values) std::memcpy(key + 4, data + uint64_t(k) * uint64_t(values), 4 * size_t(values));
  }
  OvKeyTableHeader& h = table->m_header;
  h.count = uint32_t(count);
  h.stride = uint32_t(stride);
  h.rangeStart = h.loopStart = times[0];
  h.rangeEnd = h.loopEnd = times[count - 1];
  table->m_size = uint32_t(body + OV_KEY_HEADER_BYTES);
  table->m_data = bytes;
  table->SetModes(beforeMode, afterMode, interpolation);
  table->Prepare();
  return table;
}

void OvKeyTable::Prepare() {
  m_rangeStart = m_header.rangeStart;
  m_rangeEnd = m_header.rangeEnd;
  m_loopStart = m_header.loopStart;
  m_loopEnd = m_header.loopEnd;
  if (m_header.count > 0 && m_rangeStart >= m_rangeEnd && m_rangeEnd < 0) {
    m_rangeStart = m_loopStart = KeyTime(0);
    m_rangeEnd = m_loopEnd = KeyTime(Count() - 1);
  }
  SetRange(m_rangeStart, m_rangeEnd, m_loopStart, m_loopEnd);
}

void OvKeyTable::SetRange(int32_t rangeStart, int32_t rangeEnd, int32_t loopStart, int32_t loopEnd) {
  // An inverted range would make the spans below empty or negative.
  if (rangeEnd < rangeStart) rangeEnd = rangeStart;
  m_rangeStart = rangeStart;
  m_rangeEnd = rangeEnd;
  m_loopEnd = OvSaturateI32(std::max<int64_t>(loopEnd, int64_t(rangeStart) + 1));
  m_loopStart = OvSaturateI32(std::min<int64_t>(loopStart, int64_t(rangeEnd) - 1));
}

void OvKeyTable::SetModes(int beforeMode, int afterMode, int interpolation) {
  m_header.mode = (m_header.mode & 0xFF000000u) | uint32_t(beforeMode & 0xFF) | (uint32_t(afterMode & 0xFF) << 8) |
                  (uint32_t(interpolation & 0xFF) << 16);
}

int32_t OvKeyTable::KeyTime(int key) const {
  int32_t t;
  std::memcpy(&t, m_data + uint64_t(key) * m_header.stride, 4);
  return t;
}

float OvKeyTable::KeyValue(int key, int value) const {
  float v;
  std::memcpy(&v, m_data + uint64_t(key) * m_header.stride + 4 + 4 * uint64_t(value), 4);
  return v;
}

int32_t OvKeyTable::MapTime(int32_t t, int32_t& cycles) const {
  cycles = 0;
  const int64_t rs = m_rangeStart, re = m_rangeEnd, ls = m_loopStart, le = m_loopEnd;
  const int64_t T = t;
  if (T < rs) {
    const int64_t len = le - rs;  // span [range start, loop end)
    const int64_t m = OvFloorDiv(T - rs, len);
    const int64_t p = (T - rs) - m * len;
    switch (BeforeMode()) {
      case OV_KEY_REPEAT: return OvSaturateI32(rs + p);
      case OV_KEY_CYCLE: cycles = OvSaturateI32(m); return OvSaturateI32(rs + p);
      case OV_KEY_PINGPONG: return OvSaturateI32((m % 2 == 0) ? rs + p : le - p);
      default: return m_rangeStart;
    }
  }
  if (T > re) {
    const int64_t len = re - ls;  // span (loop start, range end]
    const int64_t d = T - re;
    const int64_t q = (d - 1) / len;
    const int64_t r = (d - 1) % len + 1;
    switch (AfterMode()) {
      case OV_KEY_REPEAT: return OvSaturateI32(ls + r);
      case OV_KEY_CYCLE: cycles = OvSaturateI32(q + 1); return OvSaturateI32(ls + r);
      case OV_KEY_PINGPONG: return OvSaturateI32((q % 2 == 0) ? re - r : ls + r);
      default: return m_rangeEnd;
    }
  }
  return t;
}

int OvKeyTable::FindSegment(int32_t t) const {
  const int count = Count();
  if (count < 2) return 0;
  // Last key whose time <= t, limited to 0 ... count - 2.
  int lo = 0, hi = count - 2;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (KeyTime(mid) <= t) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return lo;
}

int OvKeyTable::FindKeyAtOrBefore(int32_t t) const {
  const int count = Count();
  if (count < 1 || t < KeyTime(0)) return -1;
  int lo = 0, hi = count - 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (KeyTime(mid) <= t) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return lo;
}

// ---------------------------------------------------------------------------
// Samplers

namespace {

// The two keys around one time and the fraction between them.
struct Segment {
  int k0 = 0;
  int k1 = 0;
  float f = 0.0f;
};

Segment SegmentAt(const OvKeyTable& table, int32_t t) {
  Segment s;
  if (table.Count() < 2) return s;
  s.k0 = table.FindSegment(t);
  s.k1 = s.k0 + 1;
  const int32_t t0 = table.KeyTime(s.k0), t1 = table.KeyTime(s.k1);
  if (t1 > t0) {
    // Only the first and last segment can see t outside [t0, t1].
    if (t <= t0) {
      s.f = 0.0f;
    } else if (t >= t1) {
      s.f = 1.0f;
    } else {
      s.f = float(double(int64_t(t) - t0) / double(int64_t(t1) - t0));
    }
  } else {
    s.f = t >= t1 ? 1.0f : 0.0f;
  }
  return s;
}

float Eval(const OvKeyTable& table, const Segment& s, int value, bool cubic) {
  if (cubic) {
    const int base = value * 4;
    const float c3 = table.KeyValue(s.k0, base), c2 = table.KeyValue(s.k0, base + 1);
    const float c1 = table.KeyValue(s.k0, base + 2), c0 = table.KeyValue(s.k0, base + 3);
    if (table.Count() < 2) return c0;
    return ((c3 * s.f + c2) * s.f + c1) * s.f + c0;
  }
  const float a = table.KeyValue(s.k0, value);
  if (table.Count() < 2) return a;
  const float b = table.KeyValue(s.k1, value);
  return a + (b - a) * s.f;
}

int Sample(const OvKeyTable& table, int32_t t, float* out, int first, int n, bool add, bool cubic) {
  if (!out || table.Count() < 1 || first < 0 || n <= 0) return 0;
  const int held = cubic ? table.ValuesPerKey() / 4 : table.ValuesPerKey();
  if (first >= held) return 0;
  n = std::min(n, held - first);
  int32_t cycles = 0;
  const int32_t mapped = table.Count() < 2 ? t : table.MapTime(t, cycles);
  const Segment at = SegmentAt(table, mapped);
  Segment spanFrom, spanTo;
  if (cycles < 0) {
    spanFrom = SegmentAt(table, table.RangeStart());
    spanTo = SegmentAt(table, table.LoopEnd());
  } else if (cycles > 0) {
    spanFrom = SegmentAt(table, table.LoopStart());
    spanTo = SegmentAt(table, table.RangeEnd());
  }
  for (int i = 0; i < n; ++i) {
    const int value = first + i;
    float v = Eval(table, at, value, cubic);
    if (cycles != 0) {
      v += float(cycles) * (Eval(table, spanTo, value, cubic) - Eval(table, spanFrom, value, cubic));
    }
    out[i] = add ? out[i] + v : v;
  }
  return n;
}

}  // namespace

int OvKeySample(const OvKeyTable& table, int32_t t, float* out, int first, int n, bool add) {
  return Sample(table, t, out, first, n, add, table.Interpolation() == OV_KEY_CUBIC);
}

int OvKeySampleCubic(const OvKeyTable& table, int32_t t, float* out, int first, int n, bool add) {
  return Sample(table, t, out, first, n, add, true);
}

int OvKeySampleStep(const OvKeyTable& table, int32_t t, float* out, int first, int n, bool add) {
  if (!out || table.Count() < 1 || first < 0 || n <= 0) return 0;
  const int held = table.ValuesPerKey();
  if (first >= held) return 0;
  n = std::min(n, held - first);
  int32_t cycles = 0;
  const int32_t mapped = table.MapTime(t, cycles);
  int key = table.FindKeyAtOrBefore(mapped);
  if (key < 0) key = 0;
  for (int i = 0; i < n; ++i) {
    const float v = table.KeyValue(key, first + i);
    out[i] = add ? out[i] + v : v;
  }
  return n;
}

bool OvKeySampleQuat(const OvKeyTable& table, int32_t t, OvQuat& out) {
  if (table.Count() < 1 || table.ValuesPerKey() < 4) return false;
  auto keyQuat = [&table](int k) {
    return OvQuat{table.KeyValue(k, 0), {table.KeyValue(k, 1), table.KeyValue(k, 2), table.KeyValue(k, 3)}};
  };
  if (table.Count() < 2) {
    out = keyQuat(0);
    return true;
  }
  int32_t cycles = 0;  // turns do not accumulate: counting mode repeats
  const Segment s = SegmentAt(table, table.MapTime(t, cycles));
  OvQuatSlerp(out, keyQuat(s.k0), keyQuat(s.k1), s.f);
  return true;
}

// ---------------------------------------------------------------------------
// Track nodes

namespace {

struct TrackShape {
  uint32_t id;
  int32_t ctrlId;
  uint32_t channels;
  uint32_t sets;  // secondary mask
};

constexpr uint32_t kSet0Coords = 0x10000;  // bit 16 + set 0

constexpr TrackShape kTracks[] = {
    {OV_TRACK_POSITION, 111, ACF_POS, 0},    {OV_TRACK_POSITION_CUBIC, 112, ACF_POS, 0},
    {OV_TRACK_ROTATION, 121, ACF_ROT, 0},    {OV_TRACK_SCALE, 131, ACF_SCALE, 0},
    {OV_TRACK_VERTICES, 174, ACF_VERTS, 0},  {OV_TRACK_VERTICES_CUBIC, 175, ACF_VERTS, 0},
    {OV_TRACK_UV, 176, 0, kSet0Coords},      {OV_TRACK_UV_CUBIC, 177, 0, kSet0Coords},
    {OV_TRACK_UV_STEP, 178, 0, kSet0Coords}, {OV_TRACK_VISIBILITY, 150, 0, 0},
    {OV_TRACK_BACKGROUND, 1000, 0, 0},
};

const TrackShape* ShapeOf(uint32_t id) {
  for (const TrackShape& s : kTracks) {
    if (s.id == id) return &s;
  }
  return nullptr;
}

uint8_t ColourByte(float v) {
  // value x 255 truncated; out-of-range values saturate instead of wrapping.
  const float c = v * 255.0f;
  if (!(c > 0.0f)) return 0;
  if (c >= 255.0f) return 255;
  return uint8_t(c);
}

}  // namespace

const void* OvKeyTrackNode::TrackTag() {
  static const char tag = 0;
  return &tag;
}

bool OvKeyTrackNode::IsTrackId(uint32_t id) { return ShapeOf(id) != nullptr; }

uint32_t OvKeyTrackNode::GetChannelMask() const {
  const TrackShape* s = ShapeOf(m_id);
  return s ? s->channels : 0;
}

uint32_t OvKeyTrackNode::GetSecondaryMask() const {
  const TrackShape* s = ShapeOf(m_id);
  return s ? s->sets : 0;
}

int32_t OvKeyTrackNode::GetCtrlId() const {
  const TrackShape* s = ShapeOf(m_id);
  return s ? s->ctrlId : 0;
}

bool OvKeyTrackNode::Read(OvStream& stream, OvChunkArena& arena) {
  uint32_t flags = 0;
  if (!stream.ReadU32(flags)) return false;
  m_storedFlags = flags;
  // The node lives in the database arena: whatever the file says, no list
  // may ever free it.
  m_flags = flags & ~kOwned;
  return OvKeyTable::Read(stream, arena, m_table);
}

bool OvKeyTrackNode::Write(OvStream& stream) const {
  return stream.WriteU32(m_storedFlags) && OvKeyTable::Write(stream, m_table);
}

void OvKeyTrackNode::Animate(OvClump* clump, int32_t time) {
  if (!m_table || !clump) return;
  const OvKeyTable& table = *m_table;
  switch (m_id) {
    case OV_TRACK_POSITION:
    case OV_TRACK_POSITION_CUBIC: {
      float v[3];
      const OvVector& p = clump->GetPos();
      v[0] = p.x, v[1] = p.y, v[2] = p.z;
      if (m_id == OV_TRACK_POSITION) {
        OvKeySample(table, time, v, 0, 3);
      } else {
        OvKeySampleCubic(table, time, v, 0, 3);
      }
      clump->SetPos({v[0], v[1], v[2]});
      clump->MarkChanged(ACF_POS);
      break;
    }
    case OV_TRACK_ROTATION: {
      OvQuat q;
      if (!OvKeySampleQuat(table, time, q)) return;
      clump->SetQuat(q);
      clump->MarkChanged(ACF_ROT);
      break;
    }
    case OV_TRACK_SCALE: {
      float s = 0.0001f;
      OvKeySample(table, time, &s, 0, 1);
      clump->SetUniScale(s);
      clump->MarkChanged(ACF_SCALE);
      break;
    }
    case OV_TRACK_VERTICES:
    case OV_TRACK_VERTICES_CUBIC: {
      OvMesh* mesh = clump->GetMesh();
      // Only the clump's own copy is written: the database mesh is shared by
      // every clump made from it.
      if (!mesh || !mesh->positions || mesh->vertexCount <= 0 || !(mesh->ownership & OV_MESH_POSITIONS)) return;
      const int n = mesh->vertexCount * 3;
      if (m_id == OV_TRACK_VERTICES) {
        OvKeySample(table, time, mesh->positions, 0, n);
      } else {
        OvKeySampleCubic(table, time, mesh->positions, 0, n);
      }
      clump->MarkChanged(ACF_VERTS);
      break;
    }
    case OV_TRACK_UV:
    case OV_TRACK_UV_CUBIC:
    case OV_TRACK_UV_STEP: {
      OvMesh* mesh = clump->GetMesh();
      if (!mesh || mesh->setCount <= m_texSet || !mesh->sets) return;
      OvTexCoordSet& set = mesh->sets[m_texSet];
      if (!set.coords || set.coordCount <= 0 || !(mesh->setOwnership & (kSet0Coords << m_texSet))) return;
      const int n = set.coordCount * 2;
      // A second track in the same frame adds to what the first wrote.
      const bool add = (clump->GetSetChangeBits() & (kSet0Coords << m_texSet)) != 0;
      if (m_id == OV_TRACK_UV) {
        OvKeySample(table, time, set.coords, 0, n, add);
      } else if (m_id == OV_TRACK_UV_CUBIC) {
        OvKeySampleCubic(table, time, set.coords, 0, n, add);
      } else {
        OvKeySampleStep(table, time, set.coords, 0, n, false);
      }
      clump->MarkSetCoordsChanged(m_texSet);
      break;
    }
    case OV_TRACK_VISIBILITY: {
      // Every key toggles: hidden from even keys, shown from odd ones.
      const int key = table.FindKeyAtOrBefore(time);
      if (key >= 0 && key % 2 == 0) {
        clump->SetInvisible();
      } else {
        clump->SetVisible();
      }
      break;
    }
    case OV_TRACK_BACKGROUND: {
      OvScene* scene = clump->GetScene();
      if (!scene) return;
      float rgb[3] = {0.0f, 0.0f, 0.0f};
      OvKeySample(table, time, rgb, 0, 3);
      const uint32_t colour = 0xFF000000u | (uint32_t(ColourByte(rgb[0])) << 16) | (uint32_t(ColourByte(rgb[1])) << 8) |
                              uint32_t(ColourByte(rgb[2]));
      scene->SetBackgroundColour(colour);
      break;
    }
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Track descriptors

namespace {

class KeyTrackType : public OvNodeType {
 public:
  explicit KeyTrackType(uint32_t id) : m_id(id) {}
  void GetTypeId(OvTypeId& out) const override { out = {0, m_id}; }
  OvDbNode* Create(OvChunkArena& arena) const override { return OvArenaNew<OvKeyTrackNode>(arena, m_id); }

 private:
  uint32_t m_id;
};

}  // namespace

OvNodeType* OvKeyTrackTypeCreate(uint32_t id) {
  if (!OvKeyTrackNode::IsTrackId(id)) return nullptr;
  return new KeyTrackType(id);
}

void OvRegisterKeyTrackTypes(OvTypeRegistry& registry) {
  for (const TrackShape& s : kTracks) {
    if (registry.FindType({0, s.id})) continue;
    if (OvNodeType* type = OvKeyTrackTypeCreate(s.id)) registry.Register(type);
  }
}
