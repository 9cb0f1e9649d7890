#include "ov_node_type.h"

const void* OvDbNode::ClassKey() {
  static const char key = 0;
  return &key;
}

void OvTypeRegistry::Register(OvNodeType* type) {
  if (!type) return;
  for (OvNodeType* t = m_head; t; t = t->m_next) {
    if (t == type) return;
  }
  type->m_next = m_head;
  m_head = type;
  ++m_count;
}

OvNodeType* OvTypeRegistry::FindType(const OvTypeId& id) const {
  for (OvNodeType* t = m_head; t; t = t->m_next) {
    OvTypeId own;
    t->GetTypeId(own);
    if (own == id) return t;
  }
  return nullptr;
}

void OvTypeRegistry::Shutdown() {
  // Detach first: a descriptor's destructor must not find a half-freed list.
  OvNodeType* t = m_head;
  m_head = nullptr;
  m_count = 0;
  while (t) {
    OvNodeType* next = t->m_next;
    t->m_next = nullptr;
    delete t;
    t = next;
  }
}

namespace {

// Plain objects with no destructor: usable during static initialisation
// (types register themselves at program start) and still valid at exit.
OvTypeRegistry g_nodeClasses;
OvTypeRegistry g_shaderClasses;
OvTypeRegistry g_extensionClasses;
bool g_hookInstalled = false;

}  // namespace

void OvRegistriesShutdown() {
  g_nodeClasses.Shutdown();
  g_shaderClasses.Shutdown();
  g_extensionClasses.Shutdown();
}

void OvRegistriesInstallStopHook() {
  g_hookInstalled = true;
  OvMemorySetStopHook(&OvRegistriesShutdown);
}

OvTypeRegistry& OvNodeClasses() {
  if (!g_hookInstalled) OvRegistriesInstallStopHook();
  return g_nodeClasses;
}

OvTypeRegistry& OvShaderClasses() {
  if (!g_hookInstalled) OvRegistriesInstallStopHook();
  return g_shaderClasses;
}

OvTypeRegistry& OvExtensionClasses() {
  if (!g_hookInstalled) OvRegistriesInstallStopHook();
  return g_extensionClasses;
}
