#include "orvc_records.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_stream.h"
#include "ov_typed_record.h"

// ---------------------------------------------------------------------------
// Standard material.

OrvcStdMaterialRecord* OrvcStdMaterialRecord::Create(OvChunkArena& arena, const OrvcMaterialSpec& desc) {
  auto* r = OvArenaNew<OrvcStdMaterialRecord>(arena);
  if (!r) return nullptr;
  const size_t n = desc.layers.size();
  r->m_layerCount = int32_t(n);
  r->m_blend = desc.blend;
  r->m_options = desc.options;
  r->m_textureCount = int32_t(desc.textures.size());
  r->m_name = desc.name.empty() ? nullptr : OvArenaCopyString(arena, desc.name.c_str());
  if (n) {
    r->m_kinds = OvArenaNewArray<uint32_t>(arena, n);
    r->m_bytes = OvArenaNewArray<uint8_t>(arena, n * 5);
    if (!r->m_kinds || !r->m_bytes) return nullptr;
    for (size_t i = 0; i < n; ++i) {
      const OrvcMaterialLayer& l = desc.layers[i];
      r->m_kinds[i] = l.kind;
      r->m_bytes[i] = l.slot;
      r->m_bytes[n + i] = l.set;
      for (int a = 0; a < 3; ++a) r->m_bytes[(2 + a) * n + i] = l.address[a];
    }
  }
  if (!desc.textures.empty()) {
    r->m_textures = OvArenaNewArray<int32_t>(arena, desc.textures.size());
    if (!r->m_textures) return nullptr;
    std::memcpy(r->m_textures, desc.textures.data(), desc.textures.size() * sizeof(int32_t));
  }
  if (!desc.name.empty() && !r->m_name) return nullptr;
  return r;
}

bool OrvcStdMaterialRecord::Read(OvStream& stream, OvChunkArena& arena) {
  uint32_t format = 0, n = 0;
  if (!stream.ReadU32(format)) return false;
  if (format > 100 && !stream.ReadString(m_name, &arena)) return false;
  if (!stream.ReadU32(n)) return false;
  if (n > 0) {
    if (!OvStreamCanHold(stream, n, 4)) return stream.MarkFailed();
    m_kinds = OvArenaNewArray<uint32_t>(arena, n);
    m_bytes = OvArenaNewArray<uint8_t>(arena, uint64_t(n) * 5);
    if (!m_kinds || !m_bytes || !stream.ReadU32(m_mask)) return false;
    for (uint32_t i = 0; i < n; ++i) {
      if (!stream.ReadU32(m_kinds[i])) return false;
    }
    std::memset(m_bytes + 2 * n, ORVC_ADDRESS_WRAP, 3 * size_t(n));  // missing address arrays wrap
    static const uint32_t kBits[5] = {0x10, 0x08, 0x04, 0x02, 0x01};
    for (int a = 0; a < 5; ++a) {
      if ((m_mask & kBits[a]) && !stream.ReadBytes(m_bytes + size_t(a) * n, n)) return false;
    }
  }
  m_layerCount = int32_t(n);
  uint32_t textures = 0;
  if (!stream.ReadU32(m_blend) || !stream.ReadU32(m_options) || !stream.ReadU32(textures)) return false;
  if (textures > 0) {
    if (!OvStreamCanHold(stream, textures, 4)) return stream.MarkFailed();
    m_textures = OvArenaNewArray<int32_t>(arena, textures);
    if (!m_textures) return false;
    for (uint32_t i = 0; i < textures; ++i) {
      if (!stream.ReadI32(m_textures[i])) return false;
    }
  }
  m_textureCount = int32_t(textures);
  return true;
}

bool OrvcStdMaterialRecord::Write(OvStream& stream) const {
  const uint32_t n = uint32_t(m_layerCount);
  bool ok = stream.WriteU32(ORVC_STD_MATERIAL_FORMAT) && stream.WriteString(m_name) && stream.WriteU32(n);
  if (ok && n > 0) {
    ok = stream.WriteU32(m_mask);
    for (uint32_t i = 0; ok && i < n; ++i) ok = stream.WriteU32(m_kinds[i]);
    static const uint32_t kBits[5] = {0x10, 0x08, 0x04, 0x02, 0x01};
    for (int a = 0; ok && a < 5; ++a) {
      if (m_mask & kBits[a]) ok = stream.WriteBytes(m_bytes + size_t(a) * n, n);
    }
  }
  ok = ok && stream.WriteU32(m_blend) && stream.WriteU32(m_options) && stream.WriteU32(uint32_t(m_textureCount));
  for (int32_t i = 0; ok && i < m_textureCount; ++i) ok = stream.WriteI32(m_textures[i]);
  return ok;
}

// ---------------------------------------------------------------------------
// Key tables.

std::vector<float> OrvcCubicCoefficients(const std::vector<int32_t>& times, const std::vector<float>& values,
                                         int valuesPerKey) {
  const size_t count = times.size();
  const size_t vpk = size_t(valuesPerKey);
  std::vector<float> out(count * vpk * 4, 0.0f);
  auto value = [&](size_t k, size_t v) { return double(values[k * vpk + v]); };
  // Slope per time unit at each key.
  auto slope = [&](size_t k, size_t v) -> double {
    if (count < 2) return 0.0;
    const size_t a = k == 0 ? 0 : k - 1;
    const size_t b = k + 1 < count ? k + 1 : count - 1;
    const double dt = double(times[b]) - double(times[a]);
    return dt > 0 ? (value(b, v) - value(a, v)) / dt : 0.0;
  };
  for (size_t k = 0; k < count; ++k) {
    for (size_t v = 0; v < vpk; ++v) {
      float* c = &out[(k * vpk + v) * 4];
      const double p0 = value(k, v);
      if (k + 1 == count) {
        c[3] = float(p0);
        continue;
      }
      // Tangents in value per unit of the segment's fraction.
      const double dt = double(times[k + 1]) - double(times[k]);
      const double p1 = value(k + 1, v), m0 = slope(k, v) * dt, m1 = slope(k + 1, v) * dt;
      c[0] = float(2 * p0 - 2 * p1 + m0 + m1);
      c[1] = float(-3 * p0 + 3 * p1 - 2 * m0 - m1);
      c[2] = float(m0);
      c[3] = float(p0);
    }
  }
  return out;
}

std::vector<uint8_t> OrvcTrackBlock(uint32_t flags, const OrvcKeyTable& table) {
  OvStream s;
  s.OpenMemoryWrite();
  const uint32_t count = uint32_t(table.times.size());
  const uint32_t stride = 4 + 4 * uint32_t(table.valuesPerKey);
  const uint32_t mode = uint32_t(table.before) | uint32_t(table.after) << 8 | uint32_t(table.interpolation) << 16;
  s.WriteU32(flags);
  s.WriteU32(OV_KEY_HEADER_BYTES + count * stride);
  s.WriteLayout("uuuttttu", count, stride, 0u, table.rangeStart, table.rangeEnd, table.loopEnd, table.loopStart, mode);
  for (uint32_t k = 0; k < count; ++k) {
    s.WriteI32(table.times[k]);
    for (int v = 0; v < table.valuesPerKey; ++v) s.WriteF32(table.values[size_t(k) * size_t(table.valuesPerKey) + v]);
  }
  std::vector<uint8_t> bytes(s.Image(), s.Image() + s.ImageSize());
  s.Close();
  return bytes;
}

// ---------------------------------------------------------------------------
// Blocks.

bool OrvcBlockWriter::Integer(char letter, int64_t value, std::string& error) {
  auto range = [&](int64_t lo, int64_t hi) {
    if (value >= lo && value <= hi) return true;
    error = "value " + std::to_string(value) + " does not fit letter '" + std::string(1, letter) + "'";
    return false;
  };
  switch (letter) {
    case 'i':
    case 't':
    case 'u': {
      // Either signedness fits a 32-bit field: -1 and 0xFFFFFFFF are the same bytes.
      if (!range(std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max())) return false;
      const uint32_t v = uint32_t(value);
      Put(&v, 4);
      return true;
    }
    case 's': {
      if (!range(std::numeric_limits<int16_t>::min(), std::numeric_limits<uint16_t>::max())) return false;
      const uint16_t v = uint16_t(value);
      Put(&v, 2);
      return true;
    }
    case 'b': {
      if (!range(std::numeric_limits<int8_t>::min(), std::numeric_limits<uint8_t>::max())) return false;
      const uint8_t v = uint8_t(value);
      Put(&v, 1);
      return true;
    }
    case 'f':
    case 'R': return Real(letter, double(value), error);
    default:
      error = "letter '" + std::string(1, letter) + "' does not take a number (use i, u, t, s, b, f or R)";
      return false;
  }
}

bool OrvcBlockWriter::Real(char letter, double value, std::string& error) {
  if (letter != 'f' && letter != 'R') {
    if (value == std::floor(value) && std::abs(value) < 9.3e18) return Integer(letter, int64_t(value), error);
    error = "letter '" + std::string(1, letter) + "' takes a whole number, got " + std::to_string(value);
    return false;
  }
  const float v = float(value);
  Put(&v, 4);
  return true;
}

bool OrvcBlockWriter::Text(char letter, const std::string& text, std::string& error) {
  if (letter != 'z') {
    error = "letter '" + std::string(1, letter) + "' does not take a text (use z)";
    return false;
  }
  if (text.size() > 65535) {
    error = "text longer than 65535 bytes";
    return false;
  }
  const uint16_t n = uint16_t(text.size());
  Put(&n, 2);
  Put(text.data(), text.size());
  return true;
}

OvDbNode* OrvcNodeFromBlock(OvTypeRegistry& registry, OvChunkArena& arena, const OvTypeId& type,
                            const std::vector<uint8_t>& block, std::string& error) {
  if (!registry.FindType(type)) {
    error = "no type (" + std::to_string(type.group) + ", " + std::to_string(type.id) + ") is registered";
    return nullptr;
  }
  // The typed record as a file holds it, read back through the registry.
  OvStream out;
  out.OpenMemoryWrite();
  out.WriteU32(type.group);
  out.WriteU32(type.id);
  out.WriteU32(uint32_t(block.size()));
  if (!block.empty()) out.WriteBytes(block.data(), block.size());
  std::vector<uint8_t> record(out.Image(), out.Image() + out.ImageSize());
  out.Close();

  OvStream in;
  in.OpenMemory(record.data(), record.size());
  OvDbNode* node = nullptr;
  const bool read = OvReadTypedRecord(in, registry, arena, node);
  in.Close();
  if (!read || !node) {
    error = "the block could not be stored (out of memory)";
    return nullptr;
  }
  if (node->IsInert()) {
    node->~OvDbNode();
    error = "the type did not accept the block";
    return nullptr;
  }
  // What the type keeps must be what the file will hold: a block with bytes
  // the type ignores, or missing fields it fills in, is a layout mistake.
  OvStream back;
  back.OpenMemoryWrite();
  const bool written = node->Write(back);
  const bool same = written && back.ImageSize() == block.size() &&
                    (block.empty() || std::memcmp(back.Image(), block.data(), block.size()) == 0);
  const size_t kept = back.ImageSize();
  back.Close();
  if (!same) {
    node->~OvDbNode();
    error = written ? "the type keeps " + std::to_string(kept) + " bytes of the " + std::to_string(block.size()) +
                          "-byte block differently (check the layout against the type's stored block)"
                    : "the type could not write the block back";
    return nullptr;
  }
  return node;
}
