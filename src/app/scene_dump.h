// The running scene as JSON, for checking content runs from outside: logical
// objects as a tree with their clump trees, and the camera.
#pragma once

#include <functional>
#include <string>

class JsonWriter;
class OvScene;

// What an application adds to its dumps: every clump's "screen" point, and
// members written after "objects".
struct OvSceneDumpExtras {
  bool screenPoints = false;
  std::function<void(JsonWriter&)> members;
};
// Used by every later dump; null for none.
void OvSetSceneDumpExtras(const OvSceneDumpExtras* extras);

std::string OvSceneToJson(const OvScene& scene);
// Writes the JSON to a file; false (with a trace line) when it cannot.
bool OvDumpSceneJson(const OvScene& scene, const char* path);
