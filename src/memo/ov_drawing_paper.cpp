#include "ov_drawing_paper.h"

#include <cmath>
#include <cstring>

#include "ov_clump.h"
#include "ov_input.h"
#include "ov_mesh.h"
#include "ov_note_files.h"
#include "ov_pick.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_scene.h"
#include "ov_std_material.h"
#include "ov_texture_builder.h"
#include "ov_trace.h"

namespace {

// A clump's own texture over a shared plan: content merges equal materials,
// so clumps of one template (and papers alike) share one material, and each
// note must still show its own handwriting. Slot 0 is lent for the draw.
class OwnTextureShader final : public OvShaderResource {
 public:
  OwnTextureShader(OvPassPlan& plan, OvGLTexture* texture) : m_plan(plan), m_texture(texture) { plan.AddRef(); }

  OvPassPlan& Plan() const { return m_plan; }
  OvGLTexture* Texture() const { return m_texture; }
  void SetTexture(OvGLTexture* texture) { m_texture = texture; }

  int BumpSet() const override { return m_plan.BumpSet(); }
  bool NeedsTangentStream() const override { return m_plan.NeedsTangentStream(); }
  void DrawSubset(OvMeshDrawer& drawer, int subset) override {
    auto& material = const_cast<OvStdMaterial&>(m_plan.Material());
    OvGLTexture* shared = material.Texture(0);
    material.SetTexture(0, m_texture);
    m_plan.DrawSubset(drawer, subset);
    material.SetTexture(0, shared);
  }

 private:
  ~OwnTextureShader() override { m_plan.Release(); }

  OvPassPlan& m_plan;
  OvGLTexture* m_texture;
};

OvShaderResource* FirstResource(OvClump* clump) {
  OvMesh* mesh = clump ? clump->GetMesh() : nullptr;
  if (!mesh || mesh->subsetCount < 1 || !mesh->resources) return nullptr;
  return static_cast<OvShaderResource*>(mesh->resources[0]);
}

OvGLTexture* FirstTexture(OvClump* clump) {
  OvShaderResource* resource = FirstResource(clump);
  if (auto* own = dynamic_cast<OwnTextureShader*>(resource)) return own->Texture();
  auto* plan = dynamic_cast<OvPassPlan*>(resource);
  return plan ? plan->Material().Texture(0) : nullptr;
}

OvGLTexture* ShownTexture(OvClump* clump, int depth) {
  for (OvClump* c = clump; c && depth < 64; c = c->GetNextBrother()) {
    if (OvGLTexture* t = FirstTexture(c)) return t;
    if (OvGLTexture* t = ShownTexture(c->GetChild(), depth + 1)) return t;
  }
  return nullptr;
}

struct ScreenTexVertex {
  float x, y, z, rhw;
  uint32_t diffuse;
  float u, v;
};

}  // namespace

OvGLTexture* OvClumpShownTexture(OvClump* clump) {
  if (!clump) return nullptr;
  if (OvGLTexture* t = FirstTexture(clump)) return t;
  return ShownTexture(clump->GetChild(), 0);
}

bool OvSetClumpTexture(OvClump* clump, OvGLTexture* texture, OvGLTexture** previous) {
  OvShaderResource* resource = FirstResource(clump);
  if (auto* own = dynamic_cast<OwnTextureShader*>(resource)) {
    if (previous) *previous = own->Texture();
    own->SetTexture(texture);
    return true;
  }
  auto* plan = dynamic_cast<OvPassPlan*>(resource);
  if (!plan || plan->Material().TextureCount() < 1) return false;
  // The clump's own mesh copy carries its own subset table; the copy drops
  // the shader with the clump.
  OvMeshSetResourceRelease([](void* r) { static_cast<OvShaderResource*>(r)->Release(); });
  if (!clump->MakeMeshChannelsPrivate(0, 0) || !OvMeshOwnResourceTable(*clump->GetMesh())) return false;
  auto* own = new OwnTextureShader(*plan, texture);
  if (!own) return false;
  if (previous) *previous = plan->Material().Texture(0);
  clump->GetMesh()->resources[0] = own;
  return true;
}

bool OvForgetClumpTexture(OvClump* clump, const OvGLTexture* texture) {
  auto* own = dynamic_cast<OwnTextureShader*>(FirstResource(clump));
  if (!own || !texture || own->Texture() != texture) return false;
  own->SetTexture(own->Plan().Material().Texture(0));
  return true;
}

bool OvFilmCoordOfHit(const OvClump& clump, const OvVector& worldHit, int32_t triangle, float& u, float& v) {
  const OvMesh* mesh = clump.GetMesh();
  if (!mesh || !mesh->positions || !mesh->indices || mesh->setCount < 1 || !mesh->sets) return false;
  const OvTexCoordSet& set = mesh->sets[0];
  if (!set.coords || triangle < 0 || triangle >= mesh->triangleCount) return false;
  const int64_t first = int64_t(triangle) * 3;
  if (first + 3 > mesh->indexCount) return false;
  const uint32_t* uvIndices = set.indices ? set.indices : mesh->indices;
  const int64_t uvIndexCount = set.indices ? set.indexCount : mesh->indexCount;
  if (first + 3 > uvIndexCount) return false;

  OvVector p[3];
  float t[3][2];
  for (int k = 0; k < 3; ++k) {
    const uint32_t pi = mesh->indices[first + k], ti = uvIndices[first + k];
    if (int64_t(pi) >= mesh->vertexCount || int64_t(ti) >= set.coordCount) return false;
    p[k] = {mesh->positions[pi * 3], mesh->positions[pi * 3 + 1], mesh->positions[pi * 3 + 2]};
    t[k][0] = set.coords[ti * 2];
    t[k][1] = set.coords[ti * 2 + 1];
  }

  OvVector local = worldHit;
  if (const OvMatrix* world = clump.GetToWorldMatrix()) {
    OvMatrix inverse;
    if (!OvMatInverseAffine(inverse, *world)) return false;
    OvXformPoint(local, worldHit, inverse);
  }

  // Barycentric weights in the coordinate plane the triangle is least
  // foreshortened in.
  const OvVector e1 = OvSub(p[1], p[0]), e2 = OvSub(p[2], p[0]), q = OvSub(local, p[0]);
  const OvVector n = {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
  const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
  int a = 0, b = 1;  // kept axes
  if (ax >= ay && ax >= az)
    a = 1, b = 2;
  else if (ay >= az)
    a = 0, b = 2;
  auto c = [](const OvVector& w, int i) { return i == 0 ? w.x : i == 1 ? w.y : w.z; };
  const float d = c(e1, a) * c(e2, b) - c(e1, b) * c(e2, a);
  if (d == 0.0f || !std::isfinite(d)) return false;
  const float s = (c(q, a) * c(e2, b) - c(q, b) * c(e2, a)) / d;
  const float w = (c(e1, a) * c(q, b) - c(e1, b) * c(q, a)) / d;
  u = t[0][0] + (t[1][0] - t[0][0]) * s + (t[2][0] - t[0][0]) * w;
  v = t[0][1] + (t[1][1] - t[0][1]) * s + (t[2][1] - t[0][1]) * w;
  return std::isfinite(u) && std::isfinite(v);
}

OvDrawingPaper::OvDrawingPaper(OvRendererGL* renderer) : m_renderer(renderer), m_film(renderer) {}

OvDrawingPaper::~OvDrawingPaper() { Destroy(); }

bool OvDrawingPaper::Init() {
  m_image.assign(size_t(kFilmSize) * kFilmSize * 4, 0);
  return m_film.CreateFilm(kFilmSize, kFilmSize) != nullptr;
}

void OvDrawingPaper::SetBrush(OvGLTexture* brush, bool drawing, float width) {
  m_brush = brush;
  m_drawing = drawing;
  m_width = width;
}

void OvDrawingPaper::ReleaseTarget() {
  if (!m_target) return;
  OvSetClumpTexture(m_target, m_targetTexture, nullptr);
  m_target->Release();
  m_target = nullptr;
  m_targetTexture = nullptr;
}

void OvDrawingPaper::Begin(OvClump* target, const char* notePath) {
  // The image always holds what this edit starts from, so that a film that
  // cannot be read back saves this note's own picture, not an older edit's.
  bool read = false;
  if (notePath) {
    std::vector<uint8_t> image;
    std::string reason;
    if (OvReadNoteImage(notePath, image, reason) && image.size() == size_t(kFilmSize) * kFilmSize * 4) {
      m_image.swap(image);
      read = true;
      if (!m_film.Upload(m_image.data())) m_film.Clear(kBlank);
    } else {
      _TraceFormat("note file %s: %s\n", notePath, reason.c_str());
    }
  }
  if (!read) {
    m_image.resize(size_t(kFilmSize) * kFilmSize * 4);
    for (size_t i = 0; i < m_image.size(); i += 4) std::memcpy(&m_image[i], &kBlank, 4);
    m_film.Clear(kBlank);
  }
  m_startGuard = true;
  m_stroke = false;
  m_inked = false;
  if (target != m_target) {
    ReleaseTarget();
    if (target) {
      target->AddRef();
      m_target = target;
      OvSetClumpTexture(target, m_film.FilmTexture(), &m_targetTexture);
    }
  }
}

bool OvDrawingPaper::DrawFrame(OvScene& scene, float cursorX, float cursorY, bool leftDown) {
  auto sample = [&](float x, float y, bool down) {
    bool hit = false;
    float u = 0, v = 0;
    if (m_target && down && !m_startGuard) {
      OvVector point{};
      int32_t triangle = -1;
      OvClump* picked = OvPickFilmCoord(x, y, scene, m_target->GetName(), "_expick", &point, &triangle);
      hit = picked == m_target && OvFilmCoordOfHit(*picked, point, triangle, u, v);
    }
    StrokeStep(down, hit, u, v);
  };
  // Every pointer sample since the last frame adds its segment, so a fast
  // stroke keeps its corners and starts where the press was.
  bool atCursor = false;
  if (OvInputDevice* input = OvGetInputDevice(); input && m_target) {
    constexpr int kLeft = OV_INPUT_MOUSE_LEFT;
    bool down = input->IsDown(kLeft) ? !input->IsClickDown(kLeft) : input->IsClickUp(kLeft);
    for (const OvPointerEvent& e : input->FrameEvents()) {
      if (e.kind == OvPointerEvent::Kind::Button) {
        if (e.index != kLeft) continue;
        sample(float(e.x), float(e.y), down);  // a release ends at its own point
        down = e.down;
      }
      sample(float(e.x), float(e.y), down);
      atCursor = down && float(e.x) == cursorX && float(e.y) == cursorY;
    }
  }
  // The cursor is the last sample; stamping it twice would darken the dot.
  if (!(atCursor && leftDown)) sample(cursorX, cursorY, leftDown);
  return true;
}

void OvDrawingPaper::StrokeStep(bool leftDown, bool hit, float u, float v) {
  if (!m_target || (m_startGuard && leftDown)) return;
  m_startGuard = false;
  if (!leftDown || !hit) {
    m_stroke = false;
    return;
  }
  if (!m_film.BeginFilmDrawing()) return;
  if (m_stroke) {
    DrawLine(m_last[0], m_last[1], u, v);
  } else {
    StampDot(u, v);
  }
  m_film.EndFilmDrawing();
  m_last[0] = u;
  m_last[1] = v;
  m_stroke = true;
  m_inked = true;
}

namespace {

// The states of one run of stamps, set once and given back afterwards: the
// blend of the mode, no depth, no culling, brush x vertex colour.
class StampStates {
 public:
  StampStates(OvRendererGL& r, OvGLTexture* brush, bool pen) : m_r(r) {
    const OvStatePair states[kStates] = {
        {RS_ALPHABLENDENABLE, 1},
        {RS_ALPHATESTENABLE, 0},
        {RS_SRCBLEND, pen ? BLEND_SRCALPHA : BLEND_ZERO},
        {RS_DESTBLEND, pen ? BLEND_INVSRCALPHA : BLEND_ONE},
        {RS_SEPARATEALPHABLENDENABLE, 1},
        {RS_SRCBLENDALPHA, BLEND_ONE},
        {RS_DESTBLENDALPHA, BLEND_ONE},
        {RS_BLENDOPALPHA, pen ? BLENDOP_MAX : BLENDOP_MIN},
        {RS_BLENDOP, BLENDOP_ADD},
        {RS_ZENABLE, 0},
        {RS_ZWRITEENABLE, 0},
        {RS_CULLMODE, CULL_NONE},
        {RS_FOGENABLE, 0},
        {RS_STENCILENABLE, 0},
        {RS_COLORWRITEENABLE, 0xF},
    };
    std::memcpy(m_saved, states, sizeof(states));
    r.GetRenderStates(m_saved, kStates);
    for (int i = 0; i < kStage; ++i) m_savedStage[i] = r.GetTextureStageState(0, kStageStates[i][0]);
    m_savedStage1 = r.GetTextureStageState(1, TSS_COLOROP);
    for (int i = 0; i < kSampler; ++i) m_savedSampler[i] = r.GetSamplerState(0, kSamplerStates[i][0]);
    m_savedTexture = r.Texture(0);

    r.SetRenderStates(states, kStates);
    for (const auto& st : kStageStates) r.SetTextureStageState(0, st[0], st[1]);
    r.SetTextureStageState(1, TSS_COLOROP, TOP_DISABLE);
    for (const auto& st : kSamplerStates) r.SetSamplerState(0, st[0], st[1]);
    r.SetTexture(0, brush);
  }
  ~StampStates() {
    m_r.SetTexture(0, m_savedTexture);
    for (int i = 0; i < kSampler; ++i) m_r.SetSamplerState(0, kSamplerStates[i][0], m_savedSampler[i]);
    m_r.SetTextureStageState(1, TSS_COLOROP, m_savedStage1);
    for (int i = 0; i < kStage; ++i) m_r.SetTextureStageState(0, kStageStates[i][0], m_savedStage[i]);
    // Separate alpha blending ends with the run.
    m_r.SetRenderStates(m_saved, kStates);
  }
  StampStates(const StampStates&) = delete;
  StampStates& operator=(const StampStates&) = delete;

 private:
  static constexpr int kStates = 15;
  static constexpr int kStage = 8;
  static constexpr int kSampler = 5;
  static constexpr uint32_t kStageStates[kStage][2] = {
      {TSS_COLOROP, TOP_MODULATE}, {TSS_COLORARG1, TA_TEXTURE},
      {TSS_COLORARG2, TA_DIFFUSE}, {TSS_ALPHAOP, TOP_MODULATE},
      {TSS_ALPHAARG1, TA_TEXTURE}, {TSS_ALPHAARG2, TA_DIFFUSE},
      {TSS_TEXCOORDINDEX, 0},      {TSS_TEXTURETRANSFORMFLAGS, TTFF_DISABLE}};
  static constexpr uint32_t kSamplerStates[kSampler][2] = {{SAMP_MINFILTER, TEXF_LINEAR},
                                                           {SAMP_MAGFILTER, TEXF_LINEAR},
                                                           {SAMP_MIPFILTER, TEXF_LINEAR},
                                                           {SAMP_ADDRESSU, TADDRESS_CLAMP},
                                                           {SAMP_ADDRESSV, TADDRESS_CLAMP}};
  OvRendererGL& m_r;
  OvStatePair m_saved[kStates];
  uint32_t m_savedStage[kStage];
  uint32_t m_savedStage1;
  uint32_t m_savedSampler[kSampler];
  void* m_savedTexture;
};

}  // namespace

void OvDrawingPaper::StampDot(float u, float v) {
  const bool bracket = !m_film.IsDrawing();
  if (bracket && !m_film.BeginFilmDrawing()) return;
  {
    StampStates states(*m_renderer, m_brush, m_drawing);
    Stamp(u, v);
  }
  if (bracket) m_film.EndFilmDrawing();
}

void OvDrawingPaper::DrawLine(float au, float av, float bu, float bv) {
  const bool bracket = !m_film.IsDrawing();
  if (bracket && !m_film.BeginFilmDrawing()) return;
  const float du = bu - au, dv = bv - av;
  const float d = std::sqrt(du * du + dv * dv);
  {
    StampStates states(*m_renderer, m_brush, m_drawing);
    if (!(d > 0.0f)) {
      Stamp(au, av);
    } else {
      // One stamp per film pixel; b itself is stamped by the next segment.
      // A wild point (far off the film) is bounded to twice the film's side.
      const float size = float(m_film.Width() > m_film.Height() ? m_film.Width() : m_film.Height());
      const float pixels = std::fmin(d * size, 2.0f * size);
      const int count = int(std::floor(pixels)) + 1;
      const float step = 1.0f / size;
      for (int i = 0; i < count; ++i) Stamp(au + du / d * step * float(i), av + dv / d * step * float(i));
    }
  }
  if (bracket) m_film.EndFilmDrawing();
}

void OvDrawingPaper::Stamp(float u, float v) {
  const float w = m_width;
  const float x = float(m_film.Width()) * u - w / 2, y = float(m_film.Height()) * v - w / 2;
  const ScreenTexVertex quad[4] = {{x, y, 0, 1, 0xFFFFFFFFu, 0, 0},
                                   {x + w, y, 0, 1, 0xFFFFFFFFu, 1, 0},
                                   {x, y + w, 0, 1, 0xFFFFFFFFu, 0, 1},
                                   {x + w, y + w, 0, 1, 0xFFFFFFFFu, 1, 1}};
  if (m_renderer->DrawUser(OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE, 1), quad, PRIM_TRIANGLESTRIP, 2)) ++m_stamps;
}

OvGLTexture* OvDrawingPaper::Save(const char* notePath) {
  if (m_image.size() != size_t(kFilmSize) * kFilmSize * 4) m_image.assign(size_t(kFilmSize) * kFilmSize * 4, 0);
  // Without a film the image is what the edit started from.
  if (!m_film.Download(m_image.data())) Trace("### The film cannot be read back: the note keeps its picture.\n");
  if (notePath) {
    std::vector<uint8_t> file;
    std::string path = notePath, reason;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!OvEncodeNoteImage(m_image.data(), file) ||
        !OvWriteFileAtomic(folder, name, file.data(), file.size(), reason)) {
      _TraceFormat("note file %s not saved: %s\n", notePath, reason.empty() ? "cannot encode" : reason.c_str());
    }
  }
  // 512 -> 256 -> 128 by 2 x 2 averages. BGRA bytes are ARGB words here.
  std::vector<uint32_t> full(size_t(kFilmSize) * kFilmSize), half(full.size() / 4), quarter(full.size() / 16);
  std::memcpy(full.data(), m_image.data(), m_image.size());
  HalveImage32(half.data(), full.data(), kFilmSize, kFilmSize);
  HalveImage32(quarter.data(), half.data(), kFilmSize / 2, kFilmSize / 2);

  OvImageDesc desc;
  desc.pixels32 = quarter.data();
  desc.width = kNoteTextureSize;
  desc.height = kNoteTextureSize;
  desc.alphaBits = desc.redBits = desc.greenBits = desc.blueBits = 8;
  OvTextureBuilder builder(m_renderer);
  OvGLTexture* texture = LoadTexture(desc, builder);
  builder.EndBuilding();
  return texture;
}

bool OvDrawingPaper::ReadBack(std::vector<uint8_t>& bgra) {
  bgra.resize(size_t(kFilmSize) * kFilmSize * 4);
  return m_film.Download(bgra.data());
}

void OvDrawingPaper::Destroy() {
  if (m_film.IsDrawing()) m_film.EndFilmDrawing();
  ReleaseTarget();
  m_stroke = false;
  m_startGuard = false;
}
