// The running scene as JSON, for checking content runs from outside: logical
// objects as a tree with their clump trees, and the camera.
#pragma once

#include <string>

class OvScene;

std::string OvSceneToJson(const OvScene& scene);
// Writes the JSON to a file; false (with a trace line) when it cannot.
bool OvDumpSceneJson(const OvScene& scene, const char* path);
