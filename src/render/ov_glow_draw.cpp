#include "ov_glow_draw.h"

#include "ov_anictrl.h"
#include "ov_clump.h"
#include "ov_mesh.h"
#include "ov_mesh_draw.h"
#include "ov_renderer_gl.h"
#include "ov_scene.h"
#include "ov_trace.h"

namespace {

// Render states any of the glow's steps changes; the whole effect gives
// them back.
constexpr OvStatePair kTouched[] = {
    {RS_ZENABLE, 0},
    {RS_ZWRITEENABLE, 0},
    {RS_ZFUNC, 0},
    {RS_CULLMODE, 0},
    {RS_ALPHATESTENABLE, 0},
    {RS_ALPHABLENDENABLE, 0},
    {RS_SRCBLEND, 0},
    {RS_DESTBLEND, 0},
    {RS_LIGHTING, 0},
    {RS_COLORVERTEX, 0},
    {RS_DIFFUSEMATERIALSOURCE, 0},
    {RS_AMBIENTMATERIALSOURCE, 0},
    {RS_SPECULARMATERIALSOURCE, 0},
    {RS_EMISSIVEMATERIALSOURCE, 0},
    {RS_FOGENABLE, 0},
    {RS_FOGCOLOR, 0},
    {RS_STENCILENABLE, 0},
    {RS_COLORWRITEENABLE, 0},
    {RS_TEXTUREFACTOR, 0},
    {RS_DITHERENABLE, 0},
    {RS_SPECULARENABLE, 0},
};
constexpr int kTouchedCount = int(sizeof(kTouched) / sizeof(kTouched[0]));

struct Saved {
  OvStatePair states[kTouchedCount];
  uint32_t address[4][2];
};

void Save(OvRendererGL& r, Saved& s) {
  for (int i = 0; i < kTouchedCount; ++i) s.states[i] = kTouched[i];
  r.GetRenderStates(s.states, kTouchedCount);
  for (int t = 0; t < 4; ++t) {
    s.address[t][0] = r.GetSamplerState(t, SAMP_ADDRESSU);
    s.address[t][1] = r.GetSamplerState(t, SAMP_ADDRESSV);
  }
}

void Restore(OvRendererGL& r, const Saved& s) {
  r.SetRenderStates(s.states, kTouchedCount);
  for (int i = 0; i < kTouchedCount; ++i) {
    if (s.states[i].state == RS_LIGHTING) r.EnableLighting(s.states[i].value != 0);
  }
  for (int t = 0; t < 4; ++t) {
    r.SetTexture(t, nullptr);
    r.SetSamplerState(t, SAMP_ADDRESSU, s.address[t][0]);
    r.SetSamplerState(t, SAMP_ADDRESSV, s.address[t][1]);
  }
}

// Screen quads: no program of the content, nothing culled, no depth.
void ScreenQuadStates(OvRendererGL& r) {
  if (r.ShaderProgram()) r.UseShaderProgram(0);
  r.SetRenderState(RS_CULLMODE, CULL_NONE);
  r.SetRenderState(RS_ZENABLE, 0);
  r.SetRenderState(RS_ZWRITEENABLE, 0);
  r.SetRenderState(RS_ALPHATESTENABLE, 0);
  r.SetRenderState(RS_FOGENABLE, 0);
  r.SetRenderState(RS_STENCILENABLE, 0);
  r.EnableLighting(false);
}

void Stage(OvRendererGL& r, int stage, uint32_t op, uint32_t arg1, uint32_t arg2) {
  r.SetTextureStageState(stage, TSS_COLOROP, op);
  r.SetTextureStageState(stage, TSS_COLORARG1, arg1);
  r.SetTextureStageState(stage, TSS_COLORARG2, arg2);
  r.SetTextureStageState(stage, TSS_ALPHAOP, op);
  r.SetTextureStageState(stage, TSS_ALPHAARG1, arg1);
  r.SetTextureStageState(stage, TSS_ALPHAARG2, arg2);
  r.SetTextureStageState(stage, TSS_TEXCOORDINDEX, uint32_t(stage));
  r.SetTextureStageState(stage, TSS_TEXTURETRANSFORMFLAGS, TTFF_DISABLE);
}

// Black at full alpha: the frame gets the blurred colour added as it is.
void ClearTarget(OvRendererGL& r, const OvGLTexture* target) {
  const uint32_t background = r.BackgroundColour();
  r.SetRenderTarget(target);
  r.SetBackgroundColour(0xFF000000u);
  r.ClearBackBuffer();
  r.SetBackgroundColour(background);
}

bool IsGlowing(const OvClump* clump, const OvGlowItem* items, int count) {
  for (int i = 0; i < count; ++i)
    if (items[i].clump == clump) return true;
  return false;
}

// The mesh's buffers, made through its first shader object as mesh drawing
// makes them; null when there is nothing to draw.
OvMeshBuffers* Buffers(OvRendererGL& r, OvMesh& mesh) {
  OvShaderResource* const* resources = reinterpret_cast<OvShaderResource* const*>(mesh.resources);
  const OvShaderResource* first = mesh.subsetCount > 0 && resources ? resources[0] : nullptr;
  if (!OvUpdateMeshBuffers(r, mesh, first)) return nullptr;
  OvMeshBuffers* b = static_cast<OvMeshBuffers*>(mesh.deviceBuffers);
  return b && b->layout.vertexCount > 0 ? b : nullptr;
}

// Draws subset `only` of the clump's mesh, or all of it (-1).
bool DrawShape(OvRendererGL& r, OvClump& clump, int32_t only) {
  OvMesh* mesh = clump.GetMesh();
  const OvMatrix* world = clump.GetToWorldMatrix();
  if (!mesh || !world) return false;
  const int subsets = mesh->subsetCount > 1 ? mesh->subsetCount : 1;
  if (only >= subsets) return false;
  OvMeshBuffers* b = Buffers(r, *mesh);
  if (!b) return false;
  r.SetWorldMatrix(world);
  r.SetRenderState(RS_CULLMODE, (mesh->flags & OV_MESH_TWO_SIDED) ? CULL_NONE : r.DefaultCullMode());
  OvMeshDrawer drawer(r, *mesh, *b);
  bool ok = true;
  for (int i = only < 0 ? 0 : only; i < (only < 0 ? subsets : only + 1); ++i) ok = drawer.DrawGeometry(i) && ok;
  return ok;
}

// ---------------------------------------------------------------------------
// The controller: after culling a clump in view puts itself on the frame's
// list; after drawing the first controller called draws the whole list.

constexpr int kMaxItems = 256;

struct GlowFrame {
  const OvScene* scene = nullptr;
  uint32_t frame = 0;
  OvGlowItem items[kMaxItems];
  int count = 0;
  bool warned = false;

  bool Current(const OvScene* s) const { return s == scene && s->FrameCount() == frame; }
  void Add(OvScene* s, OvClump* clump, const OvGlowNode* node) {
    if (!Current(s)) {
      scene = s;
      frame = s->FrameCount();
      count = 0;
    }
    if (count < kMaxItems) {
      items[count++] = {clump, node};
    } else if (!warned) {
      warned = true;
      _TraceFormat("### More than %d glowing clumps in view: the rest do not glow.\n", kMaxItems);
    }
  }
  void Draw(OvScene* s) {
    if (count > 0 && Current(s)) {
      if (OvRendererGL* r = dynamic_cast<OvRendererGL*>(s->GetRenderer()))
        OvDrawGlow(*r, items, count, s->RenderList());
    }
    count = 0;
  }
};
GlowFrame g_frame;

class AcGlow final : public OvAniCtrl {
 public:
  explicit AcGlow(const OvGlowNode& node) : m_node(node) {}
  void Animate(OvClump* clump, int32_t time) override {
    if (!clump) return;
    OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_CULL1);
    OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_RENDER);
  }
  void TwoPass(OvClump* clump, int32_t, int point) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    if (point == T2PA_AFTER_CULL1) {
      if (!clump->IsCulled() && clump->GetMesh() && clump->GetToWorldMatrix()) g_frame.Add(scene, clump, &m_node);
    } else if (point == T2PA_AFTER_RENDER) {
      g_frame.Draw(scene);
    }
  }

 protected:
  // The list may name this controller's clump: it is rebuilt next frame.
  ~AcGlow() override { g_frame.count = 0; }

 private:
  const OvGlowNode& m_node;
};

}  // namespace

bool OvGlowBlur(OvRendererGL& r, int width, int height, OvGLTexture* texture, float u0, float v0, float du, float dv) {
  if (!texture || width <= 0 || height <= 0) return false;
  OvStatePair saved[] = {{RS_CULLMODE, 0},        {RS_ZENABLE, 0},          {RS_DITHERENABLE, 0}, {RS_ZWRITEENABLE, 0},
                         {RS_ALPHATESTENABLE, 0}, {RS_ALPHABLENDENABLE, 0}, {RS_FOGENABLE, 0},    {RS_STENCILENABLE, 0},
                         {RS_TEXTUREFACTOR, 0},   {RS_LIGHTING, 0}};
  const int savedCount = int(sizeof(saved) / sizeof(saved[0]));
  r.GetRenderStates(saved, savedCount);
  ScreenQuadStates(r);
  r.SetRenderState(RS_DITHERENABLE, 0);
  r.SetRenderState(RS_ALPHABLENDENABLE, 0);
  // Taps: set 0 (+d), 1 (-d), 2 (+d/3), 3 (-d/3). Stage 1 and 2 mix half of
  // the tap in, stage 3 a third (the vertex alpha): 1/6, 1/6, 1/3, 1/3.
  r.SetRenderState(RS_TEXTUREFACTOR, 0x80000000u);
  Stage(r, 0, TOP_SELECTARG1, TA_TEXTURE, TA_CURRENT);
  Stage(r, 1, TOP_BLENDFACTORALPHA, TA_TEXTURE, TA_CURRENT);
  Stage(r, 2, TOP_BLENDFACTORALPHA, TA_TEXTURE, TA_CURRENT);
  Stage(r, 3, TOP_BLENDDIFFUSEALPHA, TA_TEXTURE, TA_CURRENT);
  r.DisableStage(3);
  for (int s = 0; s < 4; ++s) {
    r.SetTexture(s, texture);
    r.SetSamplerState(s, SAMP_ADDRESSU, TADDRESS_CLAMP);
    r.SetSamplerState(s, SAMP_ADDRESSV, TADDRESS_CLAMP);
  }
  struct Vertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float t[4][2];
  };
  const float offset[4][2] = {{du, dv}, {-du, -dv}, {0.33f * du, 0.33f * dv}, {-0.33f * du, -0.33f * dv}};
  const float w = float(width), h = float(height);
  const float corner[4][4] = {{0, 0, u0, v0}, {w, 0, u0 + 1, v0}, {0, h, u0, v0 + 1}, {w, h, u0 + 1, v0 + 1}};
  Vertex quad[4];
  for (int k = 0; k < 4; ++k) {
    quad[k] = {corner[k][0], corner[k][1], 0.0f, 1.0f, 0x55FFFFFFu, {}};
    for (int s = 0; s < 4; ++s) {
      quad[k].t[s][0] = corner[k][2] + offset[s][0];
      quad[k].t[s][1] = corner[k][3] + offset[s][1];
    }
  }
  const bool ok = r.DrawUser(OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE, 4), quad, PRIM_TRIANGLESTRIP, 2);
  if (!ok) {
    _TraceFormat("D3D error: %s\n", r.IsDeviceLost() ? "device lost" : "draw refused");
    Trace("DrawPrimitiveUP() failed in Blur()!\n");
  }
  r.SetRenderStates(saved, savedCount);
  r.EnableLighting(saved[savedCount - 1].value != 0);
  return ok;
}

bool OvGlowDrawTex(OvRendererGL& r, float x0, float y0, float x1, float y1, OvGLTexture* texture) {
  if (!texture) return false;
  OvStatePair saved[] = {{RS_CULLMODE, 0},         {RS_ZENABLE, 0},  {RS_ZWRITEENABLE, 0}, {RS_ALPHATESTENABLE, 0},
                         {RS_ALPHABLENDENABLE, 0}, {RS_SRCBLEND, 0}, {RS_DESTBLEND, 0},    {RS_FOGENABLE, 0},
                         {RS_STENCILENABLE, 0},    {RS_LIGHTING, 0}};
  const int savedCount = int(sizeof(saved) / sizeof(saved[0]));
  r.GetRenderStates(saved, savedCount);
  ScreenQuadStates(r);
  r.SetRenderState(RS_ALPHABLENDENABLE, 1);
  r.SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
  r.SetRenderState(RS_DESTBLEND, BLEND_ONE);
  Stage(r, 0, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE);
  r.DisableStage(0);
  r.SetTexture(0, texture);
  r.SetSamplerState(0, SAMP_ADDRESSU, TADDRESS_CLAMP);
  r.SetSamplerState(0, SAMP_ADDRESSV, TADDRESS_CLAMP);
  struct Vertex {
    float x, y, z, rhw, u, v;
  };
  const Vertex quad[4] = {{x0, y0, 0, 1, 0, 0}, {x1, y0, 0, 1, 1, 0}, {x0, y1, 0, 1, 0, 1}, {x1, y1, 0, 1, 1, 1}};
  const bool ok = r.DrawUser(OvMakeVertexFormat(VF_XYZRHW, 1), quad, PRIM_TRIANGLESTRIP, 2);
  if (!ok) {
    _TraceFormat("D3D error: %s\n", r.IsDeviceLost() ? "device lost" : "draw refused");
    Trace("DrawPrimitiveUP() failed in DrawTex()!\n");
  }
  r.SetRenderStates(saved, savedCount);
  r.EnableLighting(saved[savedCount - 1].value != 0);
  return ok;
}

bool OvDrawGlow(OvRendererGL& r, const OvGlowItem* items, int count, const OvRenderItem* occluders) {
  if (r.IsDeviceLost() || !items || count <= 0) return false;
  OvGLTexture *a = nullptr, *b = nullptr;
  if (!r.GetEffectTargets(&a, &b)) return false;
  const OvGLTexture* frameTarget = r.RenderTarget();
  Saved saved;
  Save(r, saved);
  const OvMaterial material = r.Material();
  const OvMatrix* world = r.WorldMatrixPointer();
  const int worldMode = r.WorldMode();
  if (r.ShaderProgram()) r.UseShaderProgram(0);

  // 1. The glowing shapes into a, behind the depth of everything else drawn.
  ClearTarget(r, a);
  r.SetWorldMode(1);
  r.SetRenderState(RS_ZENABLE, 1);
  r.SetRenderState(RS_ZWRITEENABLE, 1);
  r.SetRenderState(RS_ZFUNC, CMP_LESSEQUAL);
  r.SetRenderState(RS_ALPHATESTENABLE, 0);
  r.SetRenderState(RS_STENCILENABLE, 0);
  r.SetRenderState(RS_ALPHABLENDENABLE, 0);
  r.SetRenderState(RS_COLORWRITEENABLE, 0);
  for (const OvRenderItem* it = occluders; it; it = it->next) {
    if (it->clump && !IsGlowing(it->clump, items, count)) DrawShape(r, *it->clump, -1);
  }
  r.SetRenderState(RS_COLORWRITEENABLE, 0xF);
  r.EnableLighting(true);
  r.SetRenderState(RS_SPECULARENABLE, 0);
  r.SetRenderState(RS_COLORVERTEX, 0);
  r.SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_MATERIAL);
  r.SetRenderState(RS_AMBIENTMATERIALSOURCE, MCS_MATERIAL);
  r.SetRenderState(RS_SPECULARMATERIALSOURCE, MCS_MATERIAL);
  r.SetRenderState(RS_EMISSIVEMATERIALSOURCE, MCS_MATERIAL);
  r.SetRenderState(RS_ALPHABLENDENABLE, 1);
  r.SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
  r.SetRenderState(RS_DESTBLEND, BLEND_ONE);
  r.SetRenderState(RS_FOGCOLOR, 0);  // fog fades the glow, adds nothing
  float spread = 0.0f;
  int drawn = 0;
  for (int i = 0; i < count; ++i) {
    if (!items[i].clump || !items[i].node) continue;
    const OvGlowNode& node = *items[i].node;
    const uint32_t c = node.GlowColour();
    // Emissive is the glow colour; the diffuse alpha carries its alpha.
    OvMaterial m{{0, 0, 0, float(c >> 24) / 255.0f},
                 {0, 0, 0, 0},
                 {0, 0, 0, 0},
                 {float((c >> 16) & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f, float(c & 0xFF) / 255.0f, 0},
                 1.0f};
    r.SetMaterial(m);
    void* texture = node.Texture();
    if (texture)
      Stage(r, 0, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE);
    else
      Stage(r, 0, TOP_SELECTARG2, TA_TEXTURE, TA_DIFFUSE);
    r.DisableStage(0);
    r.SetTexture(0, texture);
    if (DrawShape(r, *items[i].clump, node.subset)) {
      ++drawn;
      if (OvGlowSpread(node.range) > spread) spread = OvGlowSpread(node.range);
    }
  }

  // 2. Blurred across the pair and back, across and then down; 3. added
  // over the frame.
  bool ok = drawn > 0;
  if (ok) {
    // The targets span the frame: a fraction of the frame width is one of the
    // texture width; v is scaled so the spread is round in frame pixels.
    const float du = spread;
    const float aspect = r.GetFrameHeight() > 0 ? float(r.GetFrameWidth()) / float(r.GetFrameHeight()) : 1.0f;
    const float dv = spread * aspect;
    ClearTarget(r, b);
    ok = OvGlowBlur(r, b->width, b->height, a, 0, 0, du, 0);
    ClearTarget(r, a);
    ok = ok && OvGlowBlur(r, a->width, a->height, b, 0, 0, 0, dv);
    r.SetRenderTarget(frameTarget);
    ok = ok && OvGlowDrawTex(r, 0, 0, float(r.GetFrameWidth()), float(r.GetFrameHeight()), a);
  }
  r.SetRenderTarget(frameTarget);
  r.SetMaterial(material);
  Restore(r, saved);
  r.DisableStage(0);
  r.SetWorldMatrix(world);
  r.SetWorldMode(worldMode);
  return ok;
}

void OvInstallGlowController() {
  OvSetGlowCtrlFactory([](const OvGlowNode& n) -> OvAniCtrl* { return new AcGlow(n); });
}
