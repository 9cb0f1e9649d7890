#include "ov_content_switch.h"

#include <cstring>

namespace {
char g_nextContent[OV_NEXT_CONTENT_SIZE];
bool g_changeRequested = false;
}  // namespace

void OvRequestContentChange(const char* name) {
  std::strncpy(g_nextContent, name ? name : "", OV_NEXT_CONTENT_SIZE - 1);
  g_nextContent[OV_NEXT_CONTENT_SIZE - 1] = 0;
  g_changeRequested = true;
}

bool OvContentChangeRequested() { return g_changeRequested; }
void OvClearContentChange() { g_changeRequested = false; }
const char* OvNextContentName() { return g_nextContent; }
void OvClearNextContentName() { g_nextContent[0] = 0; }
