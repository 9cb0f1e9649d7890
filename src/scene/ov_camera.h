// Cameras: a clump with a camera extension. Once per frame the scene derives
// the view, projection, view-projection, frustum planes and fog depths from
// the camera clump; the same data answers view tests and maps viewport
// pixels to world directions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ov_clump.h"
#include "ov_math.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_CAMERA_EXT_TYPE{0, 11010};
inline constexpr int32_t OV_CAMERA_FLAG_PERSPECTIVE = 0x1;

class OvCamera : public OvClumpExt, public OvAllocated {
 public:
  // A perspective camera with fog switched off by an inverted range.
  OvCamera(float fov, float nearClip, float farClip);
  int Kind() const override { return OV_EXT_CAMERA; }

  bool IsPerspective() const { return m_perspective; }
  void SetPerspective(bool on) { m_perspective = on; }
  // Field of view (radians) of a perspective camera, half size of the view
  // of an orthographic one.
  float GetFov() const { return m_fov; }
  // Also makes the camera perspective.
  void SetFov(float angle) {
    m_fov = angle;
    m_perspective = true;
  }
  void SetSize(float halfSize) { m_fov = halfSize; }
  // near >= far moves far to near + 0.0001; a far of exactly 0 is 0.0001.
  void SetClipPlane(float nearClip, float farClip);
  void GetClipPlane(float& nearClip, float& farClip) const {
    nearClip = m_near;
    farClip = m_far;
  }
  void SetFogRange(float fogNear, float fogFar) {
    m_fogNear = fogNear;
    m_fogFar = fogFar;
  }
  void GetFogRange(float& fogNear, float& fogFar) const {
    fogNear = m_fogNear;
    fogFar = m_fogFar;
  }

 private:
  bool m_perspective = true;
  float m_fov;
  float m_near;
  float m_far;
  float m_fogNear = 10001.0f;
  float m_fogFar = 10000.0f;
};

// The stored extension record; GetController(clump) makes the OvCamera.
class OvDbCameraExt : public OvDbNode {
 public:
  static constexpr int32_t kVersion = 100;

  void GetTypeId(OvTypeId& out) const override { out = OV_CAMERA_EXT_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void* GetController(void* clump) override;

  int32_t m_version = kVersion;
  int32_t m_flags = OV_CAMERA_FLAG_PERSPECTIVE;
  float m_fov = 0.7853982f;
  float m_near = 50.0f;
  float m_far = 30000.0f;
  float m_fogNear = 10001.0f;
  float m_fogFar = 10000.0f;
};

void OvRegisterCameraExtensionType();

// What the scene derives from its camera each frame.
struct OvCameraView {
  bool valid = false;  // set up from a camera this frame: planes usable
  bool perspective = true;
  float fov = 0.7853982f;
  OvVector position{0.0f, 0.0f, 0.0f};
  float nearClip = 50.0f;
  float farClip = 30000.0f;
  float fogNear = 10001.0f;
  float fogFar = 10000.0f;
  OvMatrix view{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  OvMatrix projection{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  OvMatrix viewProj{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  // Outward planes: a point p is inside when n . p + d <= 0 for all six
  // (near, far, left, right, top, bottom).
  OvPlane planes[6] = {};
  // Vertex fog: projected depths of the fog range and 256 / (z1 - z2).
  float fogZ1 = 0.0f;
  float fogZ2 = 0.0f;
  float fogFactor = 0.0f;
};

// Derives the view from the camera clump's world matrix and camera
// extension for a viewport of width x height. False (view untouched) when
// the clump has neither.
bool OvCameraSetupView(OvCameraView& view, const OvClump& camera, float width, float height, bool vertexFog);
// (x, y, z, w) = p x view-projection; inside when -w <= x <= w,
// 0 <= z <= w and -w <= y <= w: the part of the viewport that is drawn (the
// projection already scales y by the viewport's width over height).
bool OvInViewFrustum(const OvCameraView& view, const OvVector& p);
// No depth test; x within a·w and y within b·w.
bool OvInViewFrustumXY(const OvCameraView& view, const OvVector& p, float a, float b);
// Direction through pixel (x, y) of a width x height viewport, in world
// space, from the camera's orientation. Zero without a world matrix.
OvVector OvFilmCoordToWorldVector(const OvCameraView& view, const OvMatrix* cameraWorld, float x, float y, float width,
                                  float height);
