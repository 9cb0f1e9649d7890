// Where a clump appears on screen: the pixel that recorded input points at
// with "move @NAME" and that scene dumps report.
#pragma once

#include <cstdint>

class OvScene;
class OvClump;

// The first clump (depth first, as the name searches go) whose name is
// `name`, else the first whose name contains it; null when none does.
OvClump* OvFindClumpForPointer(const OvScene& scene, const char* name);

enum class OvScreenPointResult { Ok, NoView, NoPlacement, BehindCamera };

// Viewport pixel (origin top left) of the centre of the clump's bounds (its
// origin when it has none), through the camera view of the last frame.
OvScreenPointResult OvClumpScreenPoint(const OvScene& scene, const OvClump& clump, float& x, float& y);
