// Typed records the content compiler writes: the standard material, key-table
// blocks of keyframe tracks, and stored blocks given by a layout, all turned
// into instances of the registered classes through their own Read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ov_node_type.h"

class OvChunkArena;
class OvStream;

// ---------------------------------------------------------------------------
// Standard material (shader class (0, 1000000)).

inline constexpr OvTypeId ORVC_STD_MATERIAL_TYPE{0, 1000000};
inline constexpr uint32_t ORVC_STD_MATERIAL_FORMAT = 101;

// Layer kinds.
inline constexpr uint32_t ORVC_LAYER_TEXTURE = 1;
inline constexpr uint32_t ORVC_LAYER_BLEND_ALPHA = 2;
inline constexpr uint32_t ORVC_LAYER_ADD = 3;
inline constexpr uint32_t ORVC_LAYER_MODULATE = 4;
inline constexpr uint32_t ORVC_LAYER_MODULATE2X = 5;
inline constexpr uint32_t ORVC_LAYER_REFLECTION = 0x10000;
inline constexpr uint32_t ORVC_LAYER_BUMP = 0x20000;
inline constexpr uint32_t ORVC_LAYER_BUMP2 = 0x30000;

inline constexpr uint8_t ORVC_ADDRESS_WRAP = 1;
inline constexpr uint8_t ORVC_ADDRESS_CLAMP = 3;

inline constexpr uint32_t ORVC_MATERIAL_ALPHA_TEST = 0x2;  // option word bit 1

struct OrvcMaterialLayer {
  uint32_t kind = ORVC_LAYER_TEXTURE;
  uint8_t slot = 0;  // index into the material's texture list
  uint8_t set = 0;   // texture-coordinate set
  uint8_t address[3] = {ORVC_ADDRESS_WRAP, ORVC_ADDRESS_WRAP, ORVC_ADDRESS_WRAP};  // u, v, w
};

struct OrvcMaterialSpec {
  std::string name;
  std::vector<OrvcMaterialLayer> layers;
  uint32_t blend = 1;
  uint32_t options = 0;
  std::vector<int32_t> textures;  // database texture indices
};

// The record as stored: format 101 with its name; every per-layer array is
// written (mask 0x1F), so readers never fall back to defaults.
class OrvcStdMaterialRecord : public OvDbNode {
 public:
  // Copies the desc into the arena; null when memory runs out.
  static OrvcStdMaterialRecord* Create(OvChunkArena& arena, const OrvcMaterialSpec& desc);

  void GetTypeId(OvTypeId& out) const override { out = ORVC_STD_MATERIAL_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;

  const char* Name() const { return m_name; }
  int32_t LayerCount() const { return m_layerCount; }
  int32_t TextureCount() const { return m_textureCount; }

 private:
  char* m_name = nullptr;
  int32_t m_layerCount = 0;
  uint32_t* m_kinds = nullptr;
  uint8_t* m_bytes = nullptr;  // slots, sets, address u, v, w: m_layerCount each
  uint32_t m_mask = 0x1F;
  uint32_t m_blend = 1;
  uint32_t m_options = 0;
  int32_t m_textureCount = 0;
  int32_t* m_textures = nullptr;
};

// ---------------------------------------------------------------------------
// Key tables.

struct OrvcKeyTable {
  int valuesPerKey = 0;
  std::vector<int32_t> times;  // ascending
  std::vector<float> values;   // valuesPerKey per key
  int32_t rangeStart = 0, rangeEnd = 0;
  int32_t loopStart = 0, loopEnd = 0;
  uint8_t before = 0, after = 0, interpolation = 0;
};

// Hermite coefficients (c3, c2, c1, c0 per value, per key) through the key
// values, with tangents from the neighbouring keys (one-sided at the ends).
// The last key holds its value as c0 alone.
std::vector<float> OrvcCubicCoefficients(const std::vector<int32_t>& times, const std::vector<float>& values,
                                         int valuesPerKey);

// The stored block of a keyframe track: u32 flag word, u32 table size, the
// "uuuttttu" header and the keys.
std::vector<uint8_t> OrvcTrackBlock(uint32_t flags, const OrvcKeyTable& table);

// ---------------------------------------------------------------------------
// Stored blocks and typed records.

// Appends little-endian fields to a block by layout letters: "i" i32, "u"
// u32, "t" time (i32), "f" and "R" f32, "s" 16 bits, "b" one byte, "z" a text
// with its u16 length (as strings are stored), blank a separator.
class OrvcBlockWriter {
 public:
  // False (with the reason) when the letter is not known or does not fit the
  // value.
  bool Integer(char letter, int64_t value, std::string& error);
  bool Real(char letter, double value, std::string& error);
  bool Text(char letter, const std::string& text, std::string& error);
  const std::vector<uint8_t>& Bytes() const { return m_bytes; }

 private:
  void Put(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    m_bytes.insert(m_bytes.end(), b, b + n);
  }
  std::vector<uint8_t> m_bytes;
};

// Makes the instance of a registered type from its stored block, exactly as
// the content loader would (Create, then Read within the record's payload).
// Null with the reason when the type is not registered or refuses the block.
OvDbNode* OrvcNodeFromBlock(OvTypeRegistry& registry, OvChunkArena& arena, const OvTypeId& type,
                            const std::vector<uint8_t>& block, std::string& error);
