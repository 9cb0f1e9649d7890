// Authoring metadata of behaviour-node types: parameter kinds, choice texts,
// value slots for CreateFromValues, and a descriptor template that ties a
// node class to its pair, display name and parameter table.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "ov_math.h"
#include "ov_node_type.h"

// Editing kinds of a parameter (OvNodeParamDesc::kind).
inline constexpr int32_t OV_PK_NONE = 0;
inline constexpr int32_t OV_PK_INT = 1;
inline constexpr int32_t OV_PK_CHECK = 2;
inline constexpr int32_t OV_PK_REAL = 3;
inline constexpr int32_t OV_PK_REF = 4;
inline constexpr int32_t OV_PK_SPIN_AXIS = 7;
inline constexpr int32_t OV_PK_AXIS = 8;
inline constexpr int32_t OV_PK_TIME = 9;
inline constexpr int32_t OV_PK_TEXT = 10;
inline constexpr int32_t OV_PK_NODE_REF = 11;
inline constexpr int32_t OV_PK_FLAG_MASK = 12;
inline constexpr int32_t OV_PK_CAPTION = 13;
inline constexpr int32_t OV_PK_COLOUR = 14;
inline constexpr int32_t OV_PK_SPACER = 15;
inline constexpr int32_t OV_PK_SUB_MATERIAL = 16;
inline constexpr int32_t OV_PK_CHOICE = 20;
inline constexpr int32_t OV_PK_FLAG_PAIR = 30;
inline constexpr int32_t OV_PK_INTERNAL = 50;
inline constexpr int32_t OV_PK_FILE = 60;
inline constexpr int32_t OV_PK_SOUND_FILE = 61;
inline constexpr int32_t OV_PK_TEXTURE = 70;
inline constexpr int32_t OV_PK_INTERNAL_FIRST = 100;
inline constexpr int32_t OV_PK_INTERNAL_LAST = 105;
// May sit on top of a kind (values the block does not keep).
inline constexpr int32_t OV_PK_NOT_KEPT = int32_t(0x80000000u);

inline int32_t OvParamBaseKind(int32_t kind) { return kind & 0x7FFFFFFF; }
inline bool OvParamIsReal(int32_t kind) { return OvParamBaseKind(kind) == OV_PK_REAL; }

// Parameter descriptors with a real default or an integer one.
constexpr OvNodeParamDesc OvParamI(int32_t number, const char* label, int32_t kind, int32_t def = 0) {
  OvNodeParamDesc d{number, label, kind, {}};
  d.def.i = def;
  return d;
}
constexpr OvNodeParamDesc OvParamF(int32_t number, const char* label, int32_t kind, float def) {
  OvNodeParamDesc d{number, label, kind, {}};
  d.def.f = def;
  return d;
}

// Choice lists (kind 20): the texts follow the label as further NUL-terminated
// strings, ended by an empty string ("Operation:\0Or\0And\0"); other kinds
// have none. Counting stops at `limit` strings.
int OvParamChoiceCount(const OvNodeParamDesc& desc, int limit = 256);
// The i-th choice text, or null.
const char* OvParamChoice(const OvNodeParamDesc& desc, int i, int limit = 256);

// Degrees (authoring units) to radians.
inline constexpr float OV_PARAM_DEG_TO_RAD = C_PI / 180.0f;

// Read access to the value slots of CreateFromValues: one slot of four words
// per parameter, in parameter-table order. A single value is word 0; a flag
// pair is (mask, value) in words 0 and 1; a reference is (logical-object key,
// clump key) in words 0 and 1 and the record index in word 2 (-1: none), since
// keys are content's IDs and need not be record indices. Slots past the count
// read as zero.
class OvParamValues {
 public:
  OvParamValues(const OvParamValue* values, int count, OvChunkArena* arena = nullptr)
      : m_values(values), m_count(values ? count : 0), m_arena(arena) {}

  int Count() const { return m_count; }
  uint32_t Word(int slot, int word) const {
    return slot >= 0 && slot < m_count && word >= 0 && word < 4 ? m_values[slot].w[word] : 0;
  }
  int32_t Int(int slot) const { return int32_t(Word(slot, 0)); }
  bool Check(int slot) const { return Word(slot, 0) != 0; }
  float Real(int slot) const { return std::bit_cast<float>(Word(slot, 0)); }
  // A real given in degrees, as radians.
  float Radians(int slot) const { return Real(slot) * OV_PARAM_DEG_TO_RAD; }
  // Flag masks reach only the 16 switches.
  uint32_t FlagMask(int slot) const { return Word(slot, 0) & 0xFFFF; }
  void FlagPair(int slot, uint32_t& mask, uint32_t& value) const {
    mask = Word(slot, 0) & 0xFFFF;
    value = Word(slot, 1) & 0xFFFF;
  }
  void Ref(int slot, int32_t& objectKey, int32_t& clumpKey) const {
    objectKey = int32_t(Word(slot, 0));
    clumpKey = int32_t(Word(slot, 1));
  }
  // The record a reference names, for parameters stored as a record index.
  int32_t RefRecord(int slot) const { return slot >= 0 && slot < m_count ? int32_t(m_values[slot].w[2]) : -1; }
  // A text parameter: words 0 and 1 hold the address of a NUL-terminated
  // text (low half first), valid during the call. The node keeps a copy in
  // the arena; null when the slot holds none or the arena cannot serve it.
  char* Text(int slot) const {
    const uintptr_t address = uintptr_t(Word(slot, 0)) | (uintptr_t(Word(slot, 1)) << 32);
    const char* text = reinterpret_cast<const char*>(address);
    if (text == nullptr || m_arena == nullptr) return nullptr;
    const size_t n = std::strlen(text);
    if (n >= 0x7FFFFFF0u) return nullptr;
    char* copy = static_cast<char*>(m_arena->Allocate(int32_t(n + 1)));
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
  }

 private:
  const OvParamValue* m_values;
  int m_count;
  OvChunkArena* m_arena;
};

// Descriptor of a node class. Node must be default-constructible in an arena
// and, for CreateFromValues, provide bool FromValues(const OvParamValues&), or
// FromValues(const OvParamValues&, OvChunkArena&) when it keeps tables of its own.
// The parameter table is static data of the node's family.
template <class Node>
class OvNodeTypeOf : public OvNodeType {
 public:
  OvNodeTypeOf(OvTypeId pair, const char* name, const OvNodeParamDesc* params = nullptr, int paramCount = 0)
      : m_pair(pair), m_name(name), m_params(params), m_paramCount(params ? paramCount : 0) {}

  void GetTypeId(OvTypeId& out) const override { out = m_pair; }
  const char* GetName() const override { return m_name; }
  const OvNodeParamDesc* GetParamTable(int& count) const override {
    count = m_paramCount;
    return m_paramCount ? m_params : nullptr;
  }
  OvDbNode* Create(OvChunkArena& arena) const override { return OvArenaNew<Node>(arena); }
  OvDbNode* CreateFromValues(OvChunkArena& arena, const OvParamValue* values, int count) const override {
    if (!m_paramCount || !values || count < m_paramCount) return nullptr;
    Node* node = OvArenaNew<Node>(arena);
    if (!node) return nullptr;
    const OvParamValues v(values, count, &arena);
    bool ok;
    if constexpr (requires(Node & n) { n.FromValues(v, arena); })
      ok = node->FromValues(v, arena);
    else
      ok = node->FromValues(v);
    if (!ok) {
      node->~Node();
      return nullptr;
    }
    return node;
  }

 private:
  OvTypeId m_pair;
  const char* m_name;
  const OvNodeParamDesc* m_params;
  int m_paramCount;
};
