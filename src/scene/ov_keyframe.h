// Key tables, their samplers, and the keyframe track node types that play
// authored animation on clumps (position, rotation, scale, mesh vertices,
// texture coordinates, visibility, the scene's background colour).
#pragma once

#include <cstdint>

#include "ov_anictrl.h"
#include "ov_aniset.h"
#include "ov_math.h"
#include "ov_node_type.h"

class OvStream;
class OvChunkArena;
class OvTypeRegistry;

// Before/after-range modes (bytes 0 and 1 of the mode word).
inline constexpr int OV_KEY_CLAMP = 0;
inline constexpr int OV_KEY_REPEAT = 1;
inline constexpr int OV_KEY_PINGPONG = 2;
inline constexpr int OV_KEY_CYCLE = 3;  // repeat and carry the span's change over
// Interpolation kinds (byte 2 of the mode word).
inline constexpr int OV_KEY_LINEAR = 0;
inline constexpr int OV_KEY_CUBIC = 1;  // per value four floats c3, c2, c1, c0

inline constexpr uint32_t OV_KEY_HEADER_BYTES = 32;

// Header as stored: layout "uuuttttu".
struct OvKeyTableHeader {
  uint32_t count = 0;
  uint32_t stride = 0;  // bytes per key: i32 time + (stride - 4) / 4 f32
  uint32_t reserved = 0;
  int32_t rangeStart = 0;
  int32_t rangeEnd = 0;
  int32_t loopEnd = 0;
  int32_t loopStart = 0;
  uint32_t mode = 0;
};

// A key table in memory: the stored header (written back unchanged), the
// prepared range used for sampling, and the key bytes. Lives in an arena.
class OvKeyTable {
 public:
  // Reads "u32 size, header, keys". A size of 0 yields out = null and true.
  // The sizes are checked against the stream before anything is allocated:
  // the table must hold at least one key, keys of a whole number of words
  // with a time, and all of them within the stored size.
  static bool Read(OvStream& stream, OvChunkArena& arena, OvKeyTable*& out);
  // Writes the same form; null writes size 0.
  static bool Write(OvStream& stream, const OvKeyTable* table);

  // A table built in code: count keys of `values` floats each (times
  // ascending, values key after key). The range is taken from the keys.
  // Null when the arena cannot serve it or the shape is not valid.
  static OvKeyTable* Create(OvChunkArena& arena, int count, int values, const int32_t* times, const float* data,
                            int beforeMode = OV_KEY_CLAMP, int afterMode = OV_KEY_CLAMP,
                            int interpolation = OV_KEY_LINEAR);

  int Count() const { return int(m_header.count); }
  int ValuesPerKey() const { return int((m_header.stride - 4) / 4); }
  int BeforeMode() const { return int(m_header.mode & 0xFF); }
  int AfterMode() const { return int((m_header.mode >> 8) & 0xFF); }
  int Interpolation() const { return int((m_header.mode >> 16) & 0xFF); }
  const OvKeyTableHeader& Stored() const { return m_header; }
  uint32_t StoredSize() const { return m_size; }

  // The range sampling works with.
  int32_t RangeStart() const { return m_rangeStart; }
  int32_t RangeEnd() const { return m_rangeEnd; }
  int32_t LoopStart() const { return m_loopStart; }
  int32_t LoopEnd() const { return m_loopEnd; }
  // Sets the range explicitly (tables built in code); loop end is kept
  // above range start and loop start below range end.
  void SetRange(int32_t rangeStart, int32_t rangeEnd, int32_t loopStart, int32_t loopEnd);
  void SetModes(int beforeMode, int afterMode, int interpolation);

  int32_t KeyTime(int key) const;
  float KeyValue(int key, int value) const;

  // Maps t into the range by the before/after modes; `cycles` is the number
  // of whole spans skipped in counting mode (negative before the range), 0
  // otherwise. Exposed for tests and tools.
  int32_t MapTime(int32_t t, int32_t& cycles) const;
  // Index of the segment start: the last key at or before t, limited to
  // 0 ... count - 2 (0 for a single key).
  int FindSegment(int32_t t) const;
  // The key at or before t, -1 before the first key.
  int FindKeyAtOrBefore(int32_t t) const;

 private:
  void Prepare();

  OvKeyTableHeader m_header;
  uint32_t m_size = 0;  // stored table size in bytes, header included
  int32_t m_rangeStart = 0;
  int32_t m_rangeEnd = 0;
  int32_t m_loopStart = 0;
  int32_t m_loopEnd = 0;
  uint8_t* m_data = nullptr;  // m_size - 32 bytes: the keys, then any tail
};

// Samplers. Each writes values first ... first + n - 1 of a key into out
// (n cut to the values a key holds) and returns how many it wrote; with
// `add` the results are added to out instead. Before and after the range the
// table's modes apply; counting mode adds the span's change per cycle.
// General: the table's interpolation kind.
int OvKeySample(const OvKeyTable& table, int32_t t, float* out, int first, int n, bool add = false);
// Always cubic: four coefficients per value.
int OvKeySampleCubic(const OvKeyTable& table, int32_t t, float* out, int first, int n, bool add = false);
// Stepped: the values of the key at or before t (the first key before it).
int OvKeySampleStep(const OvKeyTable& table, int32_t t, float* out, int first, int n, bool add = false);
// Quaternion keys (s, x, y, z), interpolated spherically. False when keys
// hold fewer than four values.
bool OvKeySampleQuat(const OvKeyTable& table, int32_t t, OvQuat& out);

// ---------------------------------------------------------------------------
// Keyframe track node types (hidden: no name, no parameter table).

inline constexpr uint32_t OV_TRACK_POSITION = 100;
inline constexpr uint32_t OV_TRACK_POSITION_CUBIC = 110;
inline constexpr uint32_t OV_TRACK_ROTATION = 140;
inline constexpr uint32_t OV_TRACK_SCALE = 150;
inline constexpr uint32_t OV_TRACK_VERTICES = 160;
inline constexpr uint32_t OV_TRACK_VERTICES_CUBIC = 170;
inline constexpr uint32_t OV_TRACK_UV = 180;
inline constexpr uint32_t OV_TRACK_UV_CUBIC = 190;
inline constexpr uint32_t OV_TRACK_UV_STEP = 1100;
inline constexpr uint32_t OV_TRACK_VISIBILITY = 1350;
inline constexpr uint32_t OV_TRACK_BACKGROUND = 9000;

// A track node: shared-controller shape, the node itself is the controller
// of every clump it is applied to and keeps no per-clump state.
class OvKeyTrackNode : public OvSharedCtrlNode {
 public:
  static const void* TrackTag();
  // A track of type (0, id); only the ids above are tracks.
  explicit OvKeyTrackNode(uint32_t id) : m_id(id) {}
  ~OvKeyTrackNode() override = default;
  static bool IsTrackId(uint32_t id);

  // OvDbNode
  void GetTypeId(OvTypeId& out) const override { out = {0, m_id}; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;

  // OvAniCtrl
  const void* TypeTag() const override { return TrackTag(); }
  bool IsKindOf(const void* tag) const override { return tag == TrackTag() || OvAniCtrl::IsKindOf(tag); }
  uint32_t GetChannelMask() const override;
  uint32_t GetSecondaryMask() const override;
  int32_t GetCtrlId() const override;
  void Animate(OvClump* clump, int32_t time) override;

  uint32_t TrackId() const { return m_id; }
  OvKeyTable* Table() const { return m_table; }
  void SetTable(OvKeyTable* table) { m_table = table; }
  uint32_t StoredFlags() const { return m_storedFlags; }

 private:
  uint32_t m_id;
  uint32_t m_storedFlags = 0;
  OvKeyTable* m_table = nullptr;
  int32_t m_texSet = 0;
};

// Descriptor of one track type; null for an id that is not a track.
OvNodeType* OvKeyTrackTypeCreate(uint32_t id);
// Registers every track type not yet in the registry (in table order).
void OvRegisterKeyTrackTypes(OvTypeRegistry& registry);
