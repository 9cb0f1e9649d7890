#include "ov_effect_draw.h"

#include <epoxy/gl.h>

#include <cmath>
#include <cstdio>

#include "ov_anictrl.h"
#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_node_flags.h"
#include "ov_nodes.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_scene.h"
#include "ov_std_material.h"
#include "ov_trace.h"

// ---------------------------------------------------------------------------
// Matrices.

namespace {

void Mul4(OvMatrix& out, const OvMatrix& a, const OvMatrix& b) {
  OvMatrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
  out = r;
}

// General inverse by Gauss-Jordan elimination; false when singular.
bool Invert4(OvMatrix& out, const OvMatrix& m) {
  double a[4][8];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a[i][j] = m.m[i][j], a[i][j + 4] = i == j ? 1.0 : 0.0;
  for (int c = 0; c < 4; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    if (std::fabs(a[pivot][c]) < 1e-12) return false;
    if (pivot != c)
      for (int j = 0; j < 8; ++j) std::swap(a[c][j], a[pivot][j]);
    const double inv = 1.0 / a[c][c];
    for (int j = 0; j < 8; ++j) a[c][j] *= inv;
    for (int r = 0; r < 4; ++r) {
      if (r == c || a[r][c] == 0.0) continue;
      const double f = a[r][c];
      for (int j = 0; j < 8; ++j) a[r][j] -= f * a[c][j];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out.m[i][j] = float(a[i][j + 4]);
  return true;
}

float Sign(float v) { return v > 0.0f ? 1.0f : (v < 0.0f ? -1.0f : 0.0f); }

OvRendererGL* RendererOf(const OvClump* clump) {
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  return scene ? dynamic_cast<OvRendererGL*>(scene->GetRenderer()) : nullptr;
}

}  // namespace

void OvReflectionMatrix(OvMatrix& out, const OvVector& point, const OvVector& n) {
  const float d = -OvVectorDotProd(point, n);
  const float v[3] = {n.x, n.y, n.z};
  OvMatrixIdentity(out);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out.m[i][j] -= 2.0f * v[i] * v[j];
    out.m[3][i] = -2.0f * d * v[i];
  }
}

bool OvObliqueNearPlane(OvMatrix& projection, const float c[4]) {
  // The eye (view origin) must lie on the dropped side.
  if (!(c[3] < 0.0f)) return false;
  OvMatrix inv;
  if (!Invert4(inv, projection)) return false;
  // The far corner of the frustum on the plane's side, in view space.
  const float s[4] = {Sign(c[0]), Sign(c[1]), 1.0f, 1.0f};
  float q[4];
  for (int j = 0; j < 4; ++j) q[j] = s[0] * inv.m[0][j] + s[1] * inv.m[1][j] + s[2] * inv.m[2][j] + s[3] * inv.m[3][j];
  const float cq = c[0] * q[0] + c[1] * q[1] + c[2] * q[2] + c[3] * q[3];
  float wq = 0.0f;
  for (int i = 0; i < 4; ++i) wq += projection.m[i][3] * q[i];
  if (cq == 0.0f || !std::isfinite(wq / cq)) return false;
  // Depth = a (p . c): 0 on the plane, w at the far corner.
  const float a = wq / cq;
  for (int i = 0; i < 4; ++i) projection.m[i][2] = a * c[i];
  return true;
}

// ---------------------------------------------------------------------------
// Culling for a second view.

namespace {

bool SkipsClump(const OvClump* c, const OvClump* skip) {
  for (; skip && c; c = c->GetParent())
    if (c == skip) return true;
  return false;
}

struct ViewTest {
  const OvEffectView& view;
  float planes[6][4];
  OvMatrix viewProj;

  explicit ViewTest(const OvEffectView& v) : view(v) {
    Mul4(viewProj, v.view, v.projection);
    const OvMatrix& m = viewProj;
    // Columns of the view-projection: x, y, z, w of the clip position.
    for (int i = 0; i < 4; ++i) {
      const float x = m.m[i][0], y = m.m[i][1], z = m.m[i][2], w = m.m[i][3];
      planes[0][i] = w + x, planes[1][i] = w - x, planes[2][i] = w + y;
      planes[3][i] = w - y, planes[4][i] = z, planes[5][i] = w - z;
    }
  }

  bool Sees(const OvVector& c, float r) const {
    for (const auto& p : planes) {
      const float len = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
      if (len <= 0.0f) continue;
      if ((p[0] * c.x + p[1] * c.y + p[2] * c.z + p[3]) / len < -r) return false;
    }
    if (view.clip && OvVectorDotProd(view.plane.n, c) + view.plane.d < -r) return false;
    if (view.minPixels > 0.0f) {
      const OvMatrix& v = view.view;
      const float depth = c.x * v.m[0][2] + c.y * v.m[1][2] + c.z * v.m[2][2] + v.m[3][2];
      // A clump around the eye is never too small.
      if (depth > r) {
        const float pixels = r * view.projection.m[0][0] * view.halfWidth / depth;
        if (pixels < view.minPixels) return false;
      }
    }
    return true;
  }
};

void CollectClumps(OvScene& scene, const ViewTest& test, OvClump* first, OvRenderItem**& tail) {
  for (OvClump* c = first; c; c = c->GetNextBrother()) {
    if (SkipsClump(c, test.view.skip) || (test.view.skipObject && c->GetLogObj() == test.view.skipObject)) continue;
    CollectClumps(scene, test, c->GetChild(), tail);
    if (c->IsInvisible() || !c->GetMesh() || !c->GetToWorldMatrix()) continue;
    OvVector centre;
    float radius = 0.0f;
    bool take = true;
    if (c->GetBoundingSphere(centre, radius)) {
      OvVector world;
      OvXformPoint(world, centre, *c->GetToWorldMatrix());
      take = test.Sees(world, radius * c->GetUniScale());
    }
    if (!take) continue;
    auto* item = OvArenaNew<OvRenderItem>(scene.FrameArena(), OvRenderItem{c, nullptr});
    if (!item) return;
    *tail = item;
    tail = &item->next;
  }
}

void CollectObjects(OvScene& scene, const ViewTest& test, OvLogObj* first, OvRenderItem**& tail) {
  for (OvLogObj* o = first; o; o = o->LoGetNextBrother()) {
    CollectClumps(scene, test, o->GetClumps(), tail);
    CollectObjects(scene, test, o->LoGetChild(), tail);
  }
}

}  // namespace

OvRenderItem* OvCollectEffectView(OvScene& scene, const OvEffectView& view) {
  const ViewTest test(view);
  OvRenderItem* first = nullptr;
  OvRenderItem** tail = &first;
  CollectObjects(scene, test, scene.GetLogObjs(), tail);
  return first;
}

OvGLTexture* OvSubsetTexture(const OvClump& clump, int32_t subset, int32_t map) {
  const OvMesh* mesh = clump.GetMesh();
  if (!mesh || !mesh->resources) return nullptr;
  const int32_t subsets = mesh->subsetCount > 0 ? mesh->subsetCount : 1;
  if (subset < 1 || subset > subsets) return nullptr;
  const auto* plan = dynamic_cast<const OvPassPlan*>(static_cast<OvShaderResource*>(mesh->resources[subset - 1]));
  return plan ? plan->Material().Texture(map - 1) : nullptr;
}

// ---------------------------------------------------------------------------
// Render targets.

OvGLTexture* OvCreateCubeTexture(OvRendererGL& renderer, int size) {
  if (size <= 0 || size > renderer.Caps().maxTextureSize || renderer.IsDeviceLost()) return nullptr;
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint name = 0;
  glGenTextures(1, &name);
  if (name == 0) return nullptr;
  // A unit the device's stages never use, so its texture cache stays true.
  glActiveTexture(GL_TEXTURE0 + OV_MAX_STAGES);
  glBindTexture(GL_TEXTURE_CUBE_MAP, name);
  for (int f = 0; f < OV_CUBE_FACES; ++f)
    glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f, 0, GL_RGBA8, size, size, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAX_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glBindTexture(GL_TEXTURE_CUBE_MAP, 0);
  glActiveTexture(GL_TEXTURE0);
  auto* tex = static_cast<OvGLTexture*>(AllocMem(sizeof(OvGLTexture)));
  if (glGetError() != GL_NO_ERROR || !tex) {
    glDeleteTextures(1, &name);
    OvMFree(tex);
    return nullptr;
  }
  new (tex) OvGLTexture();
  tex->name = name, tex->width = tex->height = size, tex->levels = 1, tex->cube = true;
  return tex;
}

void OvDestroyCubeTexture(OvRendererGL& renderer, OvGLTexture* texture) {
  if (!texture) return;
  renderer.DestroyTexture(*texture);
  texture->~OvGLTexture();
  OvMFree(texture);
}

bool OvIsCubeTexture(const OvGLTexture* texture) { return texture && texture->cube; }

int OvEnvMapFaceSize(int width) { return width < 16 ? 16 : (width > 1024 ? 1024 : width); }

OvEffectTarget::OvEffectTarget(OvRendererGL& renderer, const OvGLTexture& texture, bool cube, bool depth)
    : OvVolatileRes(&renderer), m_texture(texture), m_cube(cube), m_depth(depth) {}

OvEffectTarget::~OvEffectTarget() { Drop(); }

void OvEffectTarget::Drop() {
  OvRendererGL* r = Renderer();
  if (r && r->RenderTarget() == &m_proxy) r->SetRenderTarget(nullptr);
  if (r && r->IsInitialised()) {
    if (m_proxy.framebuffer) glDeleteFramebuffers(1, &m_proxy.framebuffer);
    if (m_proxy.depthBuffer) glDeleteRenderbuffers(1, &m_proxy.depthBuffer);
  }
  m_proxy = OvGLTexture();
}

void OvEffectTarget::OnDeviceLost() { Drop(); }

bool OvEffectTarget::Ready() {
  OvRendererGL* r = Renderer();
  if (!r || !r->IsInitialised() || r->IsDeviceLost() || m_failed) return false;
  if (m_proxy.framebuffer) return true;
  const char* why = nullptr;
  if (m_texture.name == 0 || m_texture.width <= 0 || m_texture.height <= 0) {
    why = "no texture";
  } else if (!m_cube && !r->Caps().renderTargetFormat[int(m_texture.format)]) {
    why = "format cannot be drawn into";
  }
  if (!why) {
    while (glGetError() != GL_NO_ERROR) {
    }
    m_proxy.name = m_texture.name, m_proxy.width = m_texture.width, m_proxy.height = m_texture.height;
    m_proxy.levels = 1, m_proxy.format = m_texture.format;
    glGenFramebuffers(1, &m_proxy.framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_proxy.framebuffer);
    if (m_cube)
      glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_CUBE_MAP_POSITIVE_X, m_texture.name, 0);
    else
      glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture.name, 0);
    if (m_depth) {
      glGenRenderbuffers(1, &m_proxy.depthBuffer);
      glBindRenderbuffer(GL_RENDERBUFFER, m_proxy.depthBuffer);
      glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, m_texture.width, m_texture.height);
      glBindRenderbuffer(GL_RENDERBUFFER, 0);
      if (glGetError() != GL_NO_ERROR) {
        if (m_cube) Trace("!!! CreateDepthStencilSurface() for rendering Cube-Map failed!\n");
        why = "no depth buffer";
      } else {
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, m_proxy.depthBuffer);
      }
    }
    if (!why && glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) why = "framebuffer incomplete";
    const OvGLTexture* current = r->RenderTarget();
    glBindFramebuffer(GL_FRAMEBUFFER, current ? current->framebuffer : 0);
  }
  if (why) {
    _TraceFormat("!!! Effect render target unusable: %s.\n", why);
    Drop();
    m_failed = true;
    return false;
  }
  return true;
}

bool OvEffectTarget::Bind(int face) {
  if (!Ready()) return false;
  OvRendererGL* r = Renderer();
  if (m_cube) {
    if (face < 0 || face >= OV_CUBE_FACES) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, m_proxy.framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, m_texture.name,
                           0);
  }
  return r->SetRenderTarget(&m_proxy);
}

void OvEffectTarget::UpdateLevels() {
  if (m_cube || m_texture.levels <= 1 || !m_proxy.framebuffer) return;
  glActiveTexture(GL_TEXTURE0 + OV_MAX_STAGES);
  glBindTexture(GL_TEXTURE_2D, m_texture.name);
  glGenerateMipmap(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  glActiveTexture(GL_TEXTURE0);
}

bool OvEffectTarget::Read(int face, uint8_t* out) {
  OvRendererGL* r = Renderer();
  if (!out || !r) return false;
  const OvGLTexture* saved = r->RenderTarget();
  if (!Bind(face)) return false;
  const bool ok = r->ReadPixels(out, m_texture.width, m_texture.height);
  r->SetRenderTarget(saved);
  return ok;
}

// ---------------------------------------------------------------------------
// Shared steps of the three effects.

namespace {

// The clump's world position and unit Z axis; false without a world matrix
// or with a degenerate axis.
bool ClumpPlane(const OvClump& clump, OvVector& pos, OvVector& n) {
  const OvMatrix* w = clump.GetToWorldMatrix();
  if (!w) return false;
  OvMatrixGetPos(*w, pos);
  OvMatrixGetRow(*w, 2, n);
  if (OvSquareLength(n) <= 0.0f) return false;
  OvNormalize(n);
  return true;
}

// The current camera's world position, or false.
bool CameraPosition(OvScene& scene, OvVector& out) {
  const OvClump* camera = scene.GetCrntCamera();
  if (!camera || !camera->GetToWorldMatrix() || !camera->IsCamera()) return false;
  OvMatrixGetPos(*camera->GetToWorldMatrix(), out);
  return true;
}

// Reflection and clip plane of a mirroring view: the plane keeps the
// camera's side; the projection gets it as its near plane.
void Reflect(OvEffectView& v, const OvVector& pos, OvVector n, const OvVector& eye) {
  OvMatrix reflect;
  OvReflectionMatrix(reflect, pos, n);
  Mul4(v.view, reflect, v.view);
  if (OvVectorDotProd(n, OvSub(eye, pos)) < 0.0f) n = OvScaled(n, -1.0f);
  v.clip = true;
  OvPlaneFromPointNormal(v.plane, pos, n);
  OvMatrix inv;
  if (!Invert4(inv, v.view)) return;
  const float lw[4] = {v.plane.n.x, v.plane.n.y, v.plane.n.z, v.plane.d};
  float c[4];
  for (int i = 0; i < 4; ++i)
    c[i] = inv.m[i][0] * lw[0] + inv.m[i][1] * lw[1] + inv.m[i][2] * lw[2] + inv.m[i][3] * lw[3];
  OvObliqueNearPlane(v.projection, c);
}

// Draws the collected clumps with the view's matrices, then restores the
// device's view and projection; `flip` draws with the other winding culled.
void DrawView(OvRendererGL& r, OvScene& scene, const OvEffectView& v, const OvRenderItem* items, bool flip) {
  const OvMatrix savedView = r.ViewMatrix(), savedProj = r.ProjectionMatrix();
  const bool ccw = r.IsCullCCW();
  r.SetViewMatrix(v.view);
  r.SetProjectionMatrix(v.projection);
  if (flip) r.SetCullCCW(!ccw);
  OvDrawRenderList(r, items, scene.LightList());
  if (flip) r.SetCullCCW(ccw);
  r.SetViewMatrix(savedView);
  r.SetProjectionMatrix(savedProj);
}

// Clears the bound target to `argb` and depth 1.
void ClearTarget(OvRendererGL& r, uint32_t argb) {
  const uint32_t saved = r.BackgroundColour();
  r.SetBackgroundColour(argb);
  r.ClearBackBuffer();
  r.SetBackgroundColour(saved);
}

float Magnification(float k) { return std::isfinite(k) && k > 0.0f ? k : 1.0f; }

// ---------------------------------------------------------------------------
// Mirror: registers at T2PA_AFTER_CULL3 when seen, draws at T2PA_AFTER_CULL4.

class AcMirror final : public OvAniCtrl {
 public:
  explicit AcMirror(const OvMirrorNode& node) : m_node(node) {}
  void Animate(OvClump* clump, int32_t time) override {
    if (clump) OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_CULL3);
  }
  void TwoPass(OvClump* clump, int32_t value, int point) override {
    if (!clump) return;
    if (point == T2PA_AFTER_CULL3) {
      if (Wanted(*clump)) OvAniCtrlRegisterPass(clump, this, value, T2PA_AFTER_CULL4);
    } else if (point == T2PA_AFTER_CULL4) {
      Render(*clump);
    }
  }

 private:
  bool Wanted(const OvClump& clump) const {
    if (clump.IsCulled() || !OvFlagTest(clump.GetSwitch() & 0xFFFF, m_node.checkMask, m_node.checkValue)) return false;
    if (m_node.options & OV_EFFECT_TWO_SIDE) return true;
    OvScene* scene = clump.GetScene();
    OvVector pos, n, eye;
    if (!scene || !ClumpPlane(clump, pos, n) || !CameraPosition(*scene, eye)) return false;
    return OvVectorDotProd(n, OvSub(pos, eye)) > 0.0f;
  }

  void Render(OvClump& clump) {
    OvScene* scene = clump.GetScene();
    OvRendererGL* r = RendererOf(&clump);
    OvVector pos, n, eye;
    if (!scene || !r || r->IsDeviceLost() || !ClumpPlane(clump, pos, n) || !CameraPosition(*scene, eye)) return;
    const bool began = !r->IsInScene();
    if (began) r->BeginScene();
    OvEffectView v;
    v.view = r->ViewMatrix();
    v.projection = r->ProjectionMatrix();
    if (m_node.options & OV_EFFECT_MIRROR) Reflect(v, pos, n, eye);
    v.minPixels = m_node.minSize;
    v.halfWidth = float(r->GetFrameWidth()) * 0.5f;
    // The mirror lies in its own clip plane: it never shows in itself.
    v.skip = &clump;
    if (m_node.options & OV_EFFECT_SKIP_SELF) v.skipObject = clump.GetLogObj();
    const OvRenderItem* items = OvCollectEffectView(*scene, v);
    DrawView(*r, *scene, v, items, (m_node.options & OV_EFFECT_MIRROR) != 0);
    r->ClearZBuffer();
    if (began) r->EndScene();
  }

  const OvMirrorNode& m_node;
};

// ---------------------------------------------------------------------------
// Magic lens: draws after culling, so its texture shows this frame's scene.

class AcMagicLens final : public OvAniCtrl {
 public:
  explicit AcMagicLens(const OvMagicLensNode& node) : m_node(node) {}
  ~AcMagicLens() override { delete m_target; }
  void Animate(OvClump* clump, int32_t time) override {
    if (clump) OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_CULL4);
  }
  void TwoPass(OvClump* clump, int32_t, int point) override {
    if (clump && point == T2PA_AFTER_CULL4) Render(*clump);
  }

 private:
  void Render(OvClump& clump) {
    OvScene* scene = clump.GetScene();
    OvRendererGL* r = RendererOf(&clump);
    OvVector pos, n, eye;
    if (!scene || !r || r->IsDeviceLost() || !ClumpPlane(clump, pos, n) || !CameraPosition(*scene, eye)) return;
    OvGLTexture* texture = OvSubsetTexture(clump, m_node.subMaterial, m_node.map);
    if (!texture) return;
    if (!m_target || &m_target->Texture() != texture) {
      delete m_target;
      m_target = new OvEffectTarget(*r, *texture, false, true);
    }
    if (!m_target || !m_target->Ready()) return;
    OvEffectView v;
    v.view = r->ViewMatrix();
    v.projection = r->ProjectionMatrix();
    const float k = Magnification(m_node.magnification) * v.projection.m[0][0];
    v.projection.m[0][0] = v.projection.m[1][1] = k;
    if (m_node.options & OV_EFFECT_MIRROR) Reflect(v, pos, n, eye);
    v.minPixels = m_node.minSize;
    v.halfWidth = float(texture->width) * 0.5f;
    // Drawing the lens into its own texture would read what it writes.
    v.skip = &clump;
    if (m_node.options & OV_EFFECT_SKIP_SELF) v.skipObject = clump.GetLogObj();
    const OvRenderItem* items = OvCollectEffectView(*scene, v);
    const OvGLTexture* saved = r->RenderTarget();
    if (!m_target->Bind()) return;
    ClearTarget(*r, scene->BackgroundColour());
    DrawView(*r, *scene, v, items, (m_node.options & OV_EFFECT_MIRROR) != 0);
    r->SetRenderTarget(saved);
    m_target->UpdateLevels();
  }

  const OvMagicLensNode& m_node;
  OvEffectTarget* m_target = nullptr;
};

// ---------------------------------------------------------------------------
// Dynamic environment map.

// Face directions in the camera's view space: ahead and up (right = up x
// ahead), so each face reads like a cube texture's face.
const OvVector kFaceAhead[OV_CUBE_FACES] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
const OvVector kFaceUp[OV_CUBE_FACES] = {{0, 1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}, {0, 1, 0}, {0, 1, 0}};

// The cube an environment map draws into when its slot holds a 2-D texture:
// a volatile device texture, gone with a lost device (the override then
// stands in for nothing) and made again on the next use.
class EnvCube final : public OvVolatileRes, public OvAllocated {
 public:
  EnvCube(OvRendererGL& renderer, OvTextureOverride& entry) : OvVolatileRes(&renderer), m_entry(entry) {}
  ~EnvCube() override { Drop(); }
  // The cube of `size` pixels a face, made when missing or of another size
  // (`made` tells).
  OvGLTexture* Get(int size, bool& made) {
    made = false;
    if (m_texture && m_texture->width == size) return m_texture;
    made = true;
    Drop();
    if (Renderer()) m_texture = OvCreateCubeTexture(*Renderer(), size);
    m_entry.texture = m_texture;
    return m_texture;
  }
  void OnDeviceLost() override { Drop(); }
  void OnDeviceReset() override {}

 private:
  void Drop() {
    m_entry.texture = nullptr;
    if (m_texture && Renderer()) {
      OvDestroyCubeTexture(*Renderer(), m_texture);
    } else if (m_texture) {
      // The renderer went first, and its context with the GL texture.
      m_texture->~OvGLTexture();
      OvMFree(m_texture);
    }
    m_texture = nullptr;
  }

  OvTextureOverride& m_entry;
  OvGLTexture* m_texture = nullptr;
};

class AcEnvMap final : public OvAniCtrl {
 public:
  AcEnvMap(const OvDynamicEnvMapNode& node, OvClump* clump) : m_node(node) {
    m_override.clump = clump;
    m_override.subset = node.subMaterial - 1;
    m_override.slot = node.map - 1;
  }
  ~AcEnvMap() override {
    DropOwn();
    delete m_target;
  }
  void Animate(OvClump* clump, int32_t time) override {
    if (clump) OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_CULL4);
  }
  void TwoPass(OvClump* clump, int32_t, int point) override {
    if (clump && point == T2PA_AFTER_CULL4) Render(*clump);
  }

 private:
  void Warn(const char* text) {
    if (!m_warned) Trace(text);
    m_warned = true;
  }

  // Stops standing in for the slot.
  void DropOwn() {
    if (!m_own) return;
    OvRemoveTextureOverride(&m_override);
    delete m_target;
    m_target = nullptr;
    delete m_own;
    m_own = nullptr;
  }

  // The cube to draw into: the slot's own when it is one, else the node's,
  // shown in the slot's place on this clump only.
  OvGLTexture* Cube(OvRendererGL& r, OvClump& clump) {
    OvGLTexture* texture = OvSubsetTexture(clump, m_node.subMaterial, m_node.map);
    if (!texture || texture->name == 0 || texture->width <= 0) {
      DropOwn();
      char line[160];
      std::snprintf(line, sizeof(line), "!!! Dynamic Env Map: map #%d of sub material #%d holds no texture.\n",
                    int(m_node.map), int(m_node.subMaterial));
      Warn(line);
      return nullptr;
    }
    if (texture->cube) {
      DropOwn();
      return texture;
    }
    m_override.subset = m_node.subMaterial - 1;
    m_override.slot = m_node.map - 1;
    if (!m_own || m_own->Renderer() != &r || m_override.clump != &clump) {
      DropOwn();
      m_override.clump = &clump;
      m_own = new EnvCube(r, m_override);
      OvAddTextureOverride(&m_override);
    }
    int size = OvEnvMapFaceSize(texture->width);
    if (size > r.Caps().maxTextureSize) size = r.Caps().maxTextureSize;
    bool made = false;
    OvGLTexture* cube = m_own ? m_own->Get(size, made) : nullptr;
    if (made) {
      // A new cube may sit where the old one was: its target starts afresh.
      delete m_target;
      m_target = nullptr;
    }
    if (!cube) Warn("!!! Dynamic Env Map: no cube texture could be made.\n");
    return cube;
  }

  void Render(OvClump& clump) {
    OvScene* scene = clump.GetScene();
    OvRendererGL* r = RendererOf(&clump);
    const OvClump* camera = scene ? scene->GetCrntCamera() : nullptr;
    if (!r || r->IsDeviceLost() || clump.IsCulled() || !clump.GetToWorldMatrix() || !camera ||
        !camera->GetToWorldMatrix())
      return;
    const float nearClip = m_node.nearClip, farClip = m_node.farClip;
    if (!(nearClip > 0.0f && farClip > nearClip && std::isfinite(farClip))) {
      Warn("!!! Dynamic Env Map: the clip distances need 0 < near < far.\n");
      return;
    }
    OvGLTexture* texture = Cube(*r, clump);
    if (!texture) return;
    if (!m_target || &m_target->Texture() != texture) {
      delete m_target;
      m_target = new OvEffectTarget(*r, *texture, true, true);
    }
    if (!m_target || !m_target->Ready()) return;

    OvVector pos;
    OvMatrixGetPos(*clump.GetToWorldMatrix(), pos);
    // The camera's view-space axes in world space (it looks along its -z).
    const OvMatrix& cw = *camera->GetToWorldMatrix();
    OvVector axes[3];
    for (int i = 0; i < 3; ++i) {
      OvMatrixGetRow(cw, i, axes[i]);
      if (OvSquareLength(axes[i]) > 0.0f) OvNormalize(axes[i]);
    }
    axes[2] = OvScaled(axes[2], -1.0f);
    auto toWorld = [&](const OvVector& d) {
      return OvAdd(OvAdd(OvScaled(axes[0], d.x), OvScaled(axes[1], d.y)), OvScaled(axes[2], d.z));
    };

    OvEffectView v;
    OvMatPerspective(v.projection, 1.5707964f, nearClip, farClip);
    v.minPixels = m_node.minSize;
    v.halfWidth = float(texture->width) * 0.5f;
    // Drawing the clump into its own texture would read what it writes.
    v.skip = &clump;
    if (m_node.options & OV_EFFECT_SKIP_SELF) v.skipObject = clump.GetLogObj();
    const OvGLTexture* saved = r->RenderTarget();
    for (int f = 0; f < OV_CUBE_FACES; ++f) {
      const OvVector ahead = toWorld(kFaceAhead[f]), up = toWorld(kFaceUp[f]);
      const OvVector right = toWorld(OvCross(kFaceUp[f], kFaceAhead[f]));
      OvMatrixIdentity(v.view);
      const OvVector cols[3] = {right, up, ahead};
      for (int j = 0; j < 3; ++j) {
        v.view.m[0][j] = cols[j].x, v.view.m[1][j] = cols[j].y, v.view.m[2][j] = cols[j].z;
        v.view.m[3][j] = -OvVectorDotProd(cols[j], pos);
      }
      const OvRenderItem* items = OvCollectEffectView(*scene, v);
      if (!m_target->Bind(f)) break;
      ClearTarget(*r, m_node.background);
      DrawView(*r, *scene, v, items, false);
    }
    r->SetRenderTarget(saved);
  }

  const OvDynamicEnvMapNode& m_node;
  OvEffectTarget* m_target = nullptr;
  EnvCube* m_own = nullptr;
  OvTextureOverride m_override;
  bool m_warned = false;
};

}  // namespace

void OvInstallEffectControllers() {
  OvRegisterRendererNodeTypes();
  OvSetEffectCtrlFactories([](const OvMirrorNode& n, OvClump*) -> OvAniCtrl* { return new AcMirror(n); },
                           [](const OvMagicLensNode& n, OvClump*) -> OvAniCtrl* { return new AcMagicLens(n); },
                           [](const OvDynamicEnvMapNode& n, OvClump* c) -> OvAniCtrl* { return new AcEnvMap(n, c); });
}
