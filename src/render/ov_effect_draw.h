// The render-effect controllers: mirrors (the scene reflected across the
// mirror clump's plane, drawn into the frame before the scene itself), magic
// lenses (the scene, magnified and optionally reflected, drawn into a texture
// slot of the lens clump's mesh) and dynamic environment maps (the six
// directions around a clump drawn into the faces of a cube texture). Each
// second view culls the scene's clumps by its own frustum, an optional clip
// plane and a minimum projected size.
#pragma once

#include <cstdint>

#include "ov_effect_nodes.h"
#include "ov_gl_draw.h"
#include "ov_math.h"
#include "ov_volatile.h"

class OvClump;
class OvLogObj;
class OvRendererGL;
class OvScene;
struct OvRenderItem;

// A texture wrapped as a render target: a framebuffer with an optional depth
// buffer around a 2-D texture or around the faces of a cube texture. The
// texture belongs to its owner; only the framebuffer and the depth buffer are
// device objects of this target, dropped on a lost device and made again on
// the next use after the reset.
class OvEffectTarget : public OvVolatileRes, public OvAllocated {
 public:
  OvEffectTarget(OvRendererGL& renderer, const OvGLTexture& texture, bool cube, bool depth);
  ~OvEffectTarget() override;

  const OvGLTexture& Texture() const { return m_texture; }
  // Makes the framebuffer when missing; false when the texture cannot be
  // drawn into (a trace line says why, once).
  bool Ready();
  // Draws into level 0 (face `face` of a cube) from now on.
  bool Bind(int face = 0);
  // Rebuilds the smaller levels from level 0 after drawing.
  void UpdateLevels();
  // RGBA of level 0 (face `face`), top row first; width * height * 4 bytes.
  bool Read(int face, uint8_t* out);
  bool Failed() const { return m_failed; }

  void OnDeviceLost() override;
  void OnDeviceReset() override {}

 private:
  void Drop();

  const OvGLTexture& m_texture;
  OvGLTexture m_proxy;  // the texture's name and size with this framebuffer
  bool m_cube;
  bool m_depth;
  bool m_failed = false;
};

// Cube textures (level 0 only, A8R8G8B8): the faces a dynamic environment
// map draws into. The texture is released with OvDestroyCubeTexture.
// Content textures are 2-D: for a slot holding one, the map makes a cube of
// its own and draws its clump with it in that slot's place.
OvGLTexture* OvCreateCubeTexture(OvRendererGL& renderer, int size);
void OvDestroyCubeTexture(OvRendererGL& renderer, OvGLTexture* texture);
bool OvIsCubeTexture(const OvGLTexture* texture);

// Face size of the cube a dynamic environment map makes for a 2-D texture
// `width` pixels wide.
int OvEnvMapFaceSize(int width);

// Face order of a cube texture: +x, -x, +y, -y, +z, -z of the view space of
// the camera in use (x right, y up, z ahead).
inline constexpr int OV_CUBE_FACES = 6;

// A second view of the scene.
struct OvEffectView {
  OvMatrix view;
  OvMatrix projection;
  bool clip = false;                     // keep only what lies on the positive side:
  OvPlane plane{};                       // n . p + d >= 0 (world space)
  float minPixels = 0.0f;                // smaller projected clumps are skipped
  float halfWidth = 0.0f;                // half the width of the picture, in pixels
  const OvClump* skip = nullptr;         // with its subtree
  const OvLogObj* skipObject = nullptr;  // every clump of this object
};

// Reflection across the plane through `point` with unit normal `n`.
void OvReflectionMatrix(OvMatrix& out, const OvVector& point, const OvVector& n);
// The projection with its near plane replaced by `viewPlane` (a view-space
// plane, kept side positive, the eye on the other side); false and
// unchanged when the eye is not behind the plane.
bool OvObliqueNearPlane(OvMatrix& projection, const float viewPlane[4]);
// The scene's clumps this view sees, as a list from the scene's frame arena.
OvRenderItem* OvCollectEffectView(OvScene& scene, const OvEffectView& view);
// The texture in slot `map` (from 1) of subset `subset` (from 1) of the
// clump's mesh; null when there is none.
OvGLTexture* OvSubsetTexture(const OvClump& clump, int32_t subset, int32_t map);

// Registers the three effect node types (once) and installs their
// controllers.
void OvInstallEffectControllers();
