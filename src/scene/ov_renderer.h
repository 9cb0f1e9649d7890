// What the scene asks of a render device. The device sits above the scene
// (it draws clumps and reads their meshes), so the scene sees it only through
// this interface; the GL device implements it, tests record the calls.
#pragma once

#include <cstdint>

#include "ov_math.h"

class OvClump;
class OvScene;
class OvLight;

// One visible clump of this frame; nodes come from the scene's per-frame
// arena and are gone after the frame.
struct OvRenderItem {
  OvClump* clump;
  OvRenderItem* next;
};

// One light collected by culling: the light clump and its light object.
struct OvLightItem {
  OvClump* clump;
  const OvLight* light;
  OvLightItem* next;
};

class OvRenderer {
 public:
  virtual ~OvRenderer() = default;

  virtual void SetBackgroundColour(uint32_t argb) = 0;
  virtual bool ClearBackBuffer() = 0;
  virtual bool BeginScene() = 0;
  virtual bool EndScene() = 0;
  virtual bool ShowBackBuffer() = 0;
  virtual void SetAmbient(uint32_t argb) = 0;

  // Fixed states at the start of drawing; lighting also switches specular.
  virtual void SetDefaultStates(bool lighting) = 0;
  virtual void EnableFog(bool on) = 0;
  virtual void SetFogColour(uint32_t argb) = 0;
  // Fog distances along the view axis and the projection they are used with.
  virtual void SetFogRange(float fogNear, float fogFar, const OvMatrix& projection) = 0;
  virtual void EnableZWrite(bool on) = 0;
  // Null handle unbinds the stage.
  virtual void SetTexture(int stage, void* texture) = 0;

  virtual int GetFrameWidth() const = 0;
  virtual int GetFrameHeight() const = 0;

  virtual void SetViewMatrix(const OvMatrix& view) = 0;
  virtual void SetProjectionMatrix(const OvMatrix& projection) = 0;
  // Vertex fog needs the fog range as projected depths (see OvCameraView).
  virtual bool UsesVertexFog() const = 0;

  // Draws this frame's visible clumps lit by the collected lights.
  virtual void RenderList(OvScene& scene, const OvRenderItem* items, const OvLightItem* lights) = 0;
};
