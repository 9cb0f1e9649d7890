// Typed records: classes chosen at load time by a (group, id) pair. Type
// descriptors register in one of three registries (behaviour nodes, shader
// classes, clump extensions); the loader asks the registry for the type of
// each record, lets it create an instance in the database arena and lets the
// instance read its own payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "ov_memory.h"

class OvStream;
class OvChunkArena;
class OvDatabase;

struct OvTypeId {
  uint32_t group = 0;
  uint32_t id = 0;
  bool operator==(const OvTypeId&) const = default;
};

// Registry families as descriptors report them.
constexpr int OV_FAMILY_MISSING = 1;
constexpr int OV_FAMILY_NODE = 10;
constexpr int OV_FAMILY_EXTENSION = 14;
constexpr int OV_FAMILY_SHADER = 20;

// One parameter of a node type, in display order (authoring metadata).
struct OvNodeParamDesc {
  int32_t number;
  const char* label;  // choice kinds: choices follow as further strings, "" ends
  int32_t kind;
  union {
    float f;
    int32_t i;
  } def;
};

// One value slot for CreateFromValues: four 32-bit words per parameter.
struct OvParamValue {
  uint32_t w[4];
};

// A record instance: allocated from the database arena, lives until unload.
class OvDbNode {
 public:
  virtual ~OvDbNode() = default;
  static const void* ClassKey();
  virtual const void* GetClassKey() const { return ClassKey(); }
  virtual bool IsClass(const void* key) const { return key == ClassKey(); }
  virtual void GetTypeId(OvTypeId& out) const = 0;
  virtual bool Read(OvStream& stream, OvChunkArena& arena) = 0;
  virtual bool Write(OvStream& stream) const = 0;
  // True only for records kept as raw bytes (unknown types).
  virtual bool IsInert() const { return false; }
  // The run-time object: an animation controller for behaviour nodes, a
  // render resource for shaders (context: the renderer), the extension's
  // object for clump extensions. Null when there is none.
  virtual void* GetController(void* context) {
    (void)context;
    return nullptr;
  }
  virtual void Bind(OvDatabase* database) { (void)database; }
};

// Type descriptor: one static object per class.
class OvNodeType : public OvAllocated {
 public:
  virtual ~OvNodeType() = default;
  virtual void GetTypeId(OvTypeId& out) const = 0;
  virtual int GetFamily() const { return OV_FAMILY_NODE; }
  // Display name; null for a hidden type.
  virtual const char* GetName() const { return nullptr; }
  virtual const OvNodeParamDesc* GetParamTable(int& count) const {
    count = 0;
    return nullptr;
  }
  // A default instance from the arena, or null (editor-only types).
  virtual OvDbNode* Create(OvChunkArena& arena) const {
    (void)arena;
    return nullptr;
  }
  // An instance from one value slot per parameter in table order; null when
  // count is smaller than the type needs.
  virtual OvDbNode* CreateFromValues(OvChunkArena& arena, const OvParamValue* values, int count) const {
    (void)arena, (void)values, (void)count;
    return nullptr;
  }

  OvNodeType* m_next = nullptr;
};

// Arena memory for an object with a virtual table: the arena hands out only
// 4-byte aligned blocks, so over-allocate and align up. Null when the arena
// cannot serve the request.
inline void* OvArenaAllocAligned(OvChunkArena& arena, size_t bytes, size_t align) {
  if (align < 4) align = 4;
  const size_t padded = bytes + (align - 4);
  if (bytes > 0x7FFF0000u || padded > 0x7FFF0000u) return nullptr;
  void* raw = arena.Allocate(int32_t(padded));
  if (!raw) return nullptr;
  const uintptr_t at = (reinterpret_cast<uintptr_t>(raw) + (align - 1)) & ~uintptr_t(align - 1);
  return reinterpret_cast<void*>(at);
}

// Constructs T in the arena. The arena never runs destructors: whoever owns
// the arena calls them before resetting it.
template <class T, class... A>
T* OvArenaNew(OvChunkArena& arena, A&&... args) {
  void* p = OvArenaAllocAligned(arena, sizeof(T), alignof(T));
  return p ? ::new (p) T(std::forward<A>(args)...) : nullptr;
}

// Singly linked list of descriptors; enumeration is the reverse of
// registration order.
class OvTypeRegistry {
 public:
  // Links the descriptor in front; null or an already registered descriptor
  // is ignored (registering twice would make the list a loop).
  void Register(OvNodeType* type);
  int Count() const { return m_count; }
  OvNodeType* First() const { return m_head; }
  OvNodeType* FindType(const OvTypeId& id) const;
  // Detaches the list, then frees every descriptor.
  void Shutdown();

 private:
  OvNodeType* m_head = nullptr;
  int m_count = 0;
};

// The three registries. Their first use installs the memory system's stop
// hook, which shuts all three down so their descriptors are freed while the
// allocator still counts.
OvTypeRegistry& OvNodeClasses();
OvTypeRegistry& OvShaderClasses();
OvTypeRegistry& OvExtensionClasses();
void OvRegistriesInstallStopHook();
// Shuts the three registries down (what the stop hook does).
void OvRegistriesShutdown();
