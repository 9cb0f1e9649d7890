// The behaviour-node registry: every node type of the engine registers its
// descriptor (family 10) at start-up; the content loader finds types by pair.
#pragma once

#include <cstdint>

#include "ov_node_type.h"

// Registers one descriptor per type of the engine's node table, in table
// order (enumeration runs the other way); the renderer registers its own
// effect types later. Pairs already registered are left as they are, so a
// second call adds nothing. A descriptor that cannot be allocated is left
// out: its records then load as unknown-type records.
void OvRegisterNodeTypes();
// The types a renderer brings (overlay and effect nodes): the renderer
// registers them when it is made and installs their controllers; the
// compiler and the dump register them to author and show their blocks.
void OvRegisterRendererNodeTypes();

// Registry operations (the process-wide node registry; freed by the memory
// system's stop hook, or by OvFreeAllNodeTypes).
void OvRegisterNodeType(OvNodeType* type);
int OvNodeTypeCount();
OvNodeType* OvFirstNodeType();
OvNodeType* OvFindNodeType(uint32_t group, uint32_t id);
void OvFreeAllNodeTypes();

// The table the start-up registration works from, for tools and tests.
struct OvNodeTableEntry {
  OvTypeId pair;
  const char* name;  // null: hidden type
  bool editorOnly;   // Create yields nothing
};
int OvNodeTableSize();
const OvNodeTableEntry& OvNodeTableAt(int index);
