#include "ov_node_params.h"

#include <cstring>

// Only choice lists carry texts after the label; reading past any other
// label would leave its string. An unlabelled choice (a list the editor
// fills, such as the keys) carries none.
static bool HasChoices(const OvNodeParamDesc& desc) {
  return desc.label && *desc.label && OvParamBaseKind(desc.kind) == OV_PK_CHOICE;
}

int OvParamChoiceCount(const OvNodeParamDesc& desc, int limit) {
  if (!HasChoices(desc)) return 0;
  const char* at = desc.label + std::strlen(desc.label) + 1;
  int count = 0;
  while (count < limit && *at) {
    at += std::strlen(at) + 1;
    ++count;
  }
  return count;
}

const char* OvParamChoice(const OvNodeParamDesc& desc, int i, int limit) {
  if (!HasChoices(desc) || i < 0 || i >= limit) return nullptr;
  const char* at = desc.label + std::strlen(desc.label) + 1;
  for (int k = 0; k < i; ++k) {
    if (!*at) return nullptr;
    at += std::strlen(at) + 1;
  }
  return *at ? at : nullptr;
}
