#include "ov_overlay.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "ov_anictrl.h"
#include "ov_clump.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_nodes.h"
#include "ov_renderer_gl.h"
#include "ov_scene.h"

// ---------------------------------------------------------------------------
// Writer.

bool OvScreenTextWriter::DrawText(const char* text, float x, float y) const {
  OvRendererGL* r = renderer;
  if (!r || !text) return false;
  OvGLTexture* font = texture ? texture : r->FontTexture();
  r->SetTexture(0, font);
  r->SetTextureStageState(0, TSS_COLOROP, TOP_MODULATE);
  r->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
  r->SetTextureStageState(0, TSS_COLORARG2, TA_CURRENT);
  r->SetTextureStageState(0, TSS_ALPHAOP, TOP_MODULATE);
  r->SetTextureStageState(0, TSS_ALPHAARG1, TA_TEXTURE);
  r->SetTextureStageState(0, TSS_ALPHAARG2, TA_CURRENT);
  r->SetTextureStageState(0, TSS_TEXCOORDINDEX, 0);
  r->SetTextureStageState(1, TSS_COLOROP, TOP_DISABLE);
  r->SetRenderState(RS_ALPHABLENDENABLE, 1);
  r->SetRenderState(RS_ALPHATESTENABLE, 0);
  r->SetRenderState(RS_DESTBLEND, BLEND_INVSRCALPHA);
  r->SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
  // Screen quads face either way depending on the frame's cull mode.
  r->SetRenderState(RS_CULLMODE, CULL_NONE);
  // Glyphs wrap like texture addressing for bytes outside the grid.
  r->SetSamplerState(0, SAMP_ADDRESSU, TADDRESS_WRAP);
  r->SetSamplerState(0, SAMP_ADDRESSV, TADDRESS_WRAP);
  const float half = float(r->GetFrameWidth()) * 0.5f;
  const float midY = float(r->GetFrameHeight()) * 0.5f;
  struct Vertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
  };
  const OvVertexFormat fmt = OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE, 1);
  bool ok = true;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    const int k = int(*p) - 32;
    const int column = k % 16, row = k / 16;  // toward zero, as the byte says
    const float u = 0.0625f * float(column), v = 0.125f * float(row);
    const float x0 = half + half * x, x1 = half + half * (x + charWidth);
    const float y0 = midY - half * y, y1 = midY - half * (y - charHeight);
    const Vertex quad[4] = {{x0, y0, 0.001f, 1.0f, colour, u, v},
                            {x1, y0, 0.001f, 1.0f, colour, u + 0.0625f, v},
                            {x0, y1, 0.001f, 1.0f, colour, u, v + 0.125f},
                            {x1, y1, 0.001f, 1.0f, colour, u + 0.0625f, v + 0.125f}};
    ok = r->DrawUser(fmt, quad, PRIM_TRIANGLESTRIP, 2) && ok;
    x += charWidth;
  }
  return ok;
}

namespace {

OvRendererGL* RendererOf(const OvClump* clump) {
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  return scene ? dynamic_cast<OvRendererGL*>(scene->GetRenderer()) : nullptr;
}

int ControllerCount(const OvClump& c) { return c.GetAniCtrlList() ? c.GetAniCtrlList()->Count() : 0; }

// ---------------------------------------------------------------------------
// Scene state.

class AcSceneState final : public OvAniCtrl {
 public:
  explicit AcSceneState(const OvSceneStateNode& node) : m_node(node) {}
  void Animate(OvClump* clump, int32_t time) override {
    if (clump) OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_RENDER);
  }
  void PassDefault(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    ++m_frames;
    const float t = scene->GetTime_Sec();
    if (std::fabs(t - m_lastTime) >= 2.0f) {
      m_rate = float(m_frames) / (t - m_lastTime);
      m_frames = 0;
      m_lastTime = t;
    }
    int objects = 0, shownObjects = 0, clumps = 0, shownClumps = 0, controllers = 0;
    auto walkClumps = [&](auto& self, const OvClump* c, bool& shown) -> void {
      for (; c; c = c->GetNextBrother()) {
        ++clumps;
        if (!c->IsCulled()) ++shownClumps, shown = true;
        controllers += ControllerCount(*c);
        self(self, c->GetChild(), shown);
      }
    };
    auto walkObjects = [&](auto& self, const OvLogObj* o) -> void {
      for (; o; o = o->LoGetNextBrother()) {
        ++objects;
        bool shown = false;
        walkClumps(walkClumps, o->GetClumps(), shown);
        if (shown) ++shownObjects;
        self(self, o->LoGetChild());
      }
    };
    walkObjects(walkObjects, scene->GetLogObjs());
    OvRendererGL* r = RendererOf(clump);
    if (!r) return;
    r->SetBlendMode(1);
    OvScreenTextWriter w;
    w.renderer = r;
    w.charWidth = m_node.charWidth;
    w.charHeight = m_node.charHeight;
    char line[128];
    std::snprintf(line, sizeof(line), "FPS: %2.2f", double(m_rate));
    w.DrawText(line, m_node.x, m_node.y);
    std::snprintf(line, sizeof(line), "LogObj num: %d/%d, Clump num: %d/%d, Ani num: %d", shownObjects, objects,
                  shownClumps, clumps, controllers);
    w.DrawText(line, m_node.x, m_node.y - m_node.charHeight);
  }
  float Rate() const { return m_rate; }

 private:
  const OvSceneStateNode& m_node;
  int m_frames = 0;
  float m_lastTime = 0.0f;
  float m_rate = 0.0f;
};

// ---------------------------------------------------------------------------
// Clump state.

class AcClumpState final : public OvHrchyAniCtrl {
 public:
  explicit AcClumpState(const OvClumpStateNode& node) : m_node(node) {}
  void Hierarchy(OvClump* clump, int32_t) override {
    OvRendererGL* r = RendererOf(clump);
    if (!r) return;
    float x = m_node.x, y = m_node.y;
    bool placed = false;
    const OvMatrix* world = clump->GetToWorldMatrix();
    if (m_node.withClump && world) {
      const OvMatrix& vp = r->ViewProjMatrix();
      const float p[4] = {world->m[3][0], world->m[3][1], world->m[3][2], 1.0f};
      float h[4];
      for (int j = 0; j < 4; ++j) h[j] = p[0] * vp.m[0][j] + p[1] * vp.m[1][j] + p[2] * vp.m[2][j] + p[3] * vp.m[3][j];
      if (h[3] > 0 && std::fabs(h[0]) <= h[3] && std::fabs(h[1]) <= h[3] && h[2] >= 0 && h[2] <= h[3]) {
        const float aspect = r->GetFrameWidth() > 0 ? float(r->GetFrameHeight()) / float(r->GetFrameWidth()) : 1.0f;
        x = h[0] / h[3];
        y = h[1] / h[3] * aspect;
        placed = true;
      }
    }
    if (!placed && !m_node.anyway) return;
    char text[512];
    OvClumpStateLines(*clump, text, sizeof(text));
    OvScreenTextWriter w;
    w.renderer = r;
    w.charWidth = m_node.charWidth;
    w.charHeight = m_node.charHeight;
    w.colour = m_node.colour;
    r->SetBlendMode(1);
    // One line a row; the line feed after the controller count stays.
    for (char* line = text; *line;) {
      char* end = std::strchr(line, '\n');
      const bool keep = end && end > line && std::strncmp(line, "Anim[", 5) == 0;
      char saved = 0;
      if (end) {
        if (keep) ++end;
        saved = *end;
        *end = 0;
      }
      w.DrawText(line, x, y);
      y -= m_node.charHeight;
      if (!end) break;
      *end = saved;
      line = keep ? end : end + 1;
      if (keep && *line == '\n') ++line;
    }
  }

 private:
  const OvClumpStateNode& m_node;
};

}  // namespace

int OvClumpStateLines(const OvClump& clump, char* out, int size) {
  const OvLogObj* o = clump.GetLogObj();
  const OvScene* scene = clump.GetScene();
  const int64_t units = o ? o->LocalTime() : 0;
  const double seconds = scene ? double(units) * double(scene->SecondsPerUnit()) : 0.0;
  const int64_t ms = int64_t(std::floor(seconds * 1000.0 + 0.5));
  char bits[2][9];
  for (int i = 0; i < 16; ++i) bits[i / 8][i % 8] = (clump.GetSwitch() >> i) & 1 ? 'O' : '.';
  bits[0][8] = bits[1][8] = 0;
  int n = std::snprintf(out, size_t(size), "%s\n%lld.%03lld\n%s\n%s\nAnim[%d]\n\nH:%d\nID:%d",
                        clump.GetName() ? clump.GetName() : "", static_cast<long long>(ms / 1000),
                        static_cast<long long>(ms % 1000), bits[0], bits[1], ControllerCount(clump),
                        o ? o->GetHealth() : 0, o ? o->LoGetID() : 0);
  if (clump.GetMesh() && n >= 0 && n < size)
    n += std::snprintf(out + n, size_t(size - n), "\nf:%d", clump.GetMesh()->triangleCount);
  return n;
}

void OvInstallOverlayControllers() {
  OvRegisterRendererNodeTypes();
  OvSetOverlayCtrlFactories([](const OvSceneStateNode& n) -> OvAniCtrl* { return new AcSceneState(n); },
                            [](const OvClumpStateNode& n) -> OvAniCtrl* { return new AcClumpState(n); });
}
