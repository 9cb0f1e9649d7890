#include "ov_flare_node.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ov_anictrl.h"
#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_pick.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

const char* const kDefaultRatios = "-0.43,-0.31,-0.19,0.37,0.5,0.7,0.92,1.26,1.45,1.6,1.7,1.8";
constexpr uint32_t kMeshNeverHides = 0x20000 | 0x40000;

// The static marker: a clump carrying it never hides a light.
class AcNoObstruct final : public OvAniCtrl {
 public:
  static const void* ClassTag() {
    static const char tag = 0;
    return &tag;
  }
  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  void Animate(OvClump*, int32_t) override {}
};
AcNoObstruct g_noObstruct;

// Gives its clump private materials; does nothing else.
class AcPrivateMaterials final : public OvHrchyAniCtrl {
 public:
  AcPrivateMaterials() { m_flags |= kOwned; }
  uint32_t GetChannelMask() const override { return ACF_MATERIALS; }
  void Animate(OvClump*, int32_t) override {}
  void Hierarchy(OvClump*, int32_t) override {}
};

// A row whose squared length is within 256 units in the last place of 1
// counts as length 1.
float RowLength(const OvMatrix& m, int i) {
  const float sq = m.m[i][0] * m.m[i][0] + m.m[i][1] * m.m[i][1] + m.m[i][2] * m.m[i][2];
  if (std::fabs(sq - 1.0f) <= 256.0f * 1.1920929e-7f) return 1.0f;
  return std::sqrt(sq);
}

// World matrix at `pos` with the camera's rows scaled by the clump's own
// row lengths.
void Place(OvClump& clump, const OvMatrix& camera, const OvVector& pos, float degrees) {
  const OvMatrix* own = clump.GetToWorldMatrix();
  OvMatrix m;
  OvMatrixIdentity(m);
  for (int i = 0; i < 3; ++i) {
    const float s = own ? RowLength(*own, i) : 1.0f;
    for (int j = 0; j < 3; ++j) m.m[i][j] = camera.m[i][j] * s;
  }
  if (degrees != 0.0f) {
    const float a = degrees * (C_PI / 180.0f), c = std::cos(a), s = std::sin(a);
    for (int j = 0; j < 3; ++j) {
      const float x = m.m[0][j], y = m.m[1][j];
      m.m[0][j] = c * x + s * y;
      m.m[1][j] = -s * x + c * y;
    }
  }
  m.m[3][0] = pos.x, m.m[3][1] = pos.y, m.m[3][2] = pos.z;
  clump.SetToWorldMatrix(m);
  clump.MarkChanged(ACF_WORLD_MAT);
}

// True when the segment a-b crosses a triangle of the clump's mesh.
bool SegmentHits(const OvClump& clump, const OvVector& a, const OvVector& b) {
  const OvMesh* mesh = clump.GetMesh();
  const OvMatrix* world = clump.GetToWorldMatrix();
  if (!mesh || !world) return false;
  const float len = OvLength(OvSub(b, a));
  if (mesh->bounds) {
    // Bounding sphere first: the segment's nearest point to the centre.
    OvVector centre{mesh->bounds[0], mesh->bounds[1], mesh->bounds[2]};
    const OvVector wc{
        centre.x * world->m[0][0] + centre.y * world->m[1][0] + centre.z * world->m[2][0] + world->m[3][0],
        centre.x * world->m[0][1] + centre.y * world->m[1][1] + centre.z * world->m[2][1] + world->m[3][1],
        centre.x * world->m[0][2] + centre.y * world->m[1][2] + centre.z * world->m[2][2] + world->m[3][2]};
    const float scale = std::fmax(RowLength(*world, 0), std::fmax(RowLength(*world, 1), RowLength(*world, 2)));
    const float r = mesh->bounds[3] * scale;
    const OvVector ab = OvSub(b, a);
    float t = len > 0 ? OvVectorDotProd(OvSub(wc, a), ab) / (len * len) : 0.0f;
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    if (OvLength(OvSub(wc, OvAdd(a, OvScaled(ab, t)))) > r) return false;
  }
  int32_t triangle = 0;
  OvVector hit;
  int n = 1;
  if (!OvRayMeshTest(a, b, OV_RAY_NEAREST, *mesh, world, &triangle, &hit, n)) return false;
  return OvLength(OvSub(hit, a)) <= len;
}

bool Obstructed(OvScene& scene, const OvClump& light, const OvVector& from, const OvVector& to) {
  bool hit = false;
  auto visitClumps = [&](auto& self, OvClump* c) -> void {
    for (; c && !hit; c = c->GetNextBrother()) {
      if (c != &light && !c->IsCulled() && !OvHasNoObstructMarker(*c) && c->GetMesh() &&
          !(c->GetMesh()->flags & kMeshNeverHides))
        hit = SegmentHits(*c, from, to);
      if (!hit) self(self, c->GetChild());
    }
  };
  auto visitObjects = [&](auto& self, OvLogObj* o) -> void {
    for (; o && !hit; o = o->LoGetNextBrother()) {
      visitClumps(visitClumps, o->GetClumps());
      if (!hit) self(self, o->LoGetChild());
    }
  };
  visitObjects(visitObjects, scene.GetLogObjs());
  return hit;
}

class AcLensFlare final : public OvAniCtrl {
 public:
  explicit AcLensFlare(const OvLensFlareNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_LENS_FLARE; }
  uint32_t GetChannelMask() const override { return OV_LENS_FLARE_CHANNELS; }
  float Fade() const { return m_fade; }

  void Animate(OvClump* clump, int32_t time) override {
    if (clump) OvAniCtrlRegisterPass(clump, this, time, T2PA_BEFORE_CULL);
  }

  void PassDefault(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    if (m_firstFrame) {
      m_firstFrame = false;
      m_fadeSpan = m_node.fadeOutTime * float(scene->TimePerSec());
      for (OvClump* c = clump; c; c = c->GetChild()) {
        if (AcPrivateMaterials* p = new AcPrivateMaterials()) {
          if (!c->AddAniCtrl(p)) p->Release();
        }
        if (!OvHasNoObstructMarker(*c)) c->AddAniCtrl(&g_noObstruct);
      }
      return;
    }
    const OvMatrix* w = clump->GetToWorldMatrix();
    OvClump* cameraClump = scene->GetCrntCamera();
    const OvMatrix* k = cameraClump ? cameraClump->GetToWorldMatrix() : nullptr;
    if (!w || !k) return;
    OvVector l, c;
    OvMatrixGetPos(*w, l);
    OvMatrixGetPos(*k, c);
    bool hidden = false;
    if (clump->CheckSwitch(m_node.checkMask, m_node.checkValue)) {
      const float distance = OvLength(OvSub(c, l));
      if (m_node.visibleRange > 0 && distance > m_node.visibleRange) {
        hidden = true;
      } else if (clump->IsCulled() && !(clump->IsInvisible() && SphereInView(*scene, *clump, *w))) {
        // Culled while shown, or faded out and still outside the view: an
        // off-screen light is never tested, or it would blink.
        hidden = true;
      } else if (m_node.obstructionTest) {
        const OvVector toward = distance > 0 ? OvScaled(OvSub(c, l), 1.0f / distance) : OvVector{0, 0, 0};
        const OvVector from = OvAdd(l, OvScaled(toward, m_node.unobstructedRange));
        OvClump* parent = clump->GetParent();
        const bool mark = parent && !OvHasNoObstructMarker(*parent);
        if (mark) parent->AddAniCtrl(&g_noObstruct);
        hidden = Obstructed(*scene, *clump, c, from);
        if (mark) parent->DelAniCtrl(&g_noObstruct);
      }
    }
    const float step = m_fadeSpan > 0 ? float(scene->FrameDelta()) / m_fadeSpan : 1.0f;
    if (hidden) {
      if (m_fade <= 0) {
        ApplyFade(clump);
        return;
      }
      m_fade -= step;
    } else if (m_fade <= 1) {
      m_fade += step;
    }
    ApplyFade(clump);

    OvVector back;  // the camera's -Z axis
    OvMatrixGetRow(*k, 2, back);
    const float bl = OvLength(back);
    if (bl <= 0) return;
    back = OvScaled(back, -1.0f / bl);
    const float distance = OvLength(OvSub(l, c));
    if (distance <= 0) return;
    const OvVector d = OvScaled(OvSub(l, c), 1.0f / distance);
    const float e = OvVectorDotProd(d, back);
    if (e < 0.00001f) return;  // behind the camera
    float nearClip = 1.0f, farClip = 0.0f;
    if (cameraClump->IsCamera()) static_cast<OvCamera*>(cameraClump->GetExtension())->GetClipPlane(nearClip, farClip);
    const float g = nearClip + 0.03f;
    const OvVector f = OvAdd(c, OvScaled(d, g / e));
    const float turn = m_node.rotationRatio != 0 ? (m_node.rotationRatio * distance / e - 1.0f) * 400.0f : 0.0f;
    Place(*clump, *k, f, turn);
    if (m_node.count <= 0 || !m_node.ratios) return;
    const OvVector s = OvAdd(c, OvScaled(back, g - 0.01f));
    const OvVector a = OvSub(s, f);
    int32_t index = 0;
    for (OvClump* el = clump->GetChild(); el && el->GetToWorldMatrix(); el = el->GetChild(), ++index) {
      const float u = index < m_node.count ? m_node.ratios[index] : float(index) * 0.18333334f - 0.4f;
      Place(*el, *k, OvAdd(f, OvScaled(a, u)), 0.0f);
    }
  }

 private:
  static bool SphereInView(const OvScene& scene, OvClump& clump, const OvMatrix& w) {
    OvVector centre;
    float radius = 0.0f;
    if (!clump.GetBoundingSphere(centre, radius)) return false;
    OvVector world;
    OvXformPoint(world, centre, w);
    return scene.SphereInFrustum(world, radius * clump.GetUniScale());
  }

  void ApplyFade(OvClump* light) {
    const bool chain = m_node.count > 0 && m_node.ratios;
    for (OvClump* c = light; c; c = chain ? c->GetChild() : nullptr) {
      if (m_fade <= 0) {
        c->SetInvisible();
        c->MarkChanged(ACF_MATERIALS);
        continue;
      }
      OvMesh* mesh = c->GetMesh();
      const OvMesh* db = mesh ? mesh->sharedMesh : nullptr;
      // Only private materials are ever changed.
      if (mesh && db && mesh->materials && db->materials && mesh->materials != db->materials && mesh->subsetCount > 0) {
        OvMaterial& m = mesh->materials[0];
        if (m_fade >= 1) {
          std::memcpy(m.diffuse, db->materials[0].diffuse, sizeof(m.diffuse));
          mesh->fadeBlend = false;
        } else {
          // An opaque material would ignore the alpha: the flare would pop.
          m.diffuse[3] = m_fade * db->materials[0].diffuse[3];
          mesh->fadeBlend = true;
        }
      }
      c->SetVisible();
      c->MarkChanged(ACF_MATERIALS);
    }
  }

  const OvLensFlareNode& m_node;
  bool m_firstFrame = true;
  float m_fade = 0.0f;
  float m_fadeSpan = 0.0f;
};

const OvNodeParamDesc kLensFlareParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "", OV_PK_SPACER),
    OvParamI(2, "Obstruction Test", OV_PK_CHECK, 1),
    OvParamF(9, "Unobstructed Range:", OV_PK_REAL, 30.0f),
    OvParamF(10, "Visible Range:", OV_PK_REAL, 0.0f),
    OvParamF(4, "Fade-out Time(sec):", OV_PK_REAL, 0.5f),
    OvParamF(3, "Rotation Ratio:", OV_PK_REAL, 1.0f),
    OvParamI(5, "", OV_PK_CAPTION),
    OvParamI(6, "Multiple (child nodes)", OV_PK_CHECK, 0),
    OvParamI(7, "Distance Ratio List", OV_PK_TEXT),
    OvParamI(8, "", OV_PK_CAPTION),
};

}  // namespace

bool OvHasNoObstructMarker(const OvClump& clump) { return clump.FindAniCtrlByTag(AcNoObstruct::ClassTag()) != nullptr; }

// Stored block: "iiiiRRRRi", then n x f32.
bool OvLensFlareNode::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t format = 0, mask = 0, value = 0;
  if (!stream.ReadLayout("iiiiRRRRi", &format, &mask, &value, &obstructionTest, &unobstructedRange, &visibleRange,
                         &fadeOutTime, &rotationRatio, &count))
    return false;
  checkMask = uint32_t(mask), checkValue = uint32_t(value);
  ratios = nullptr;
  if (count < 0 || !OvStreamCanHold(stream, uint32_t(count), 4)) return stream.MarkFailed();
  if (count == 0) return true;
  ratios = static_cast<float*>(arena.Allocate(int32_t(sizeof(float)) * count));
  if (!ratios) return false;
  for (int32_t i = 0; i < count; ++i)
    if (!stream.ReadF32(ratios[i])) return false;
  return true;
}

bool OvLensFlareNode::Write(OvStream& stream) const {
  const int32_t n = ratios ? count : 0;
  bool ok = stream.WriteLayout("iiiiRRRRi", kFormat, int32_t(checkMask), int32_t(checkValue), obstructionTest,
                               unobstructedRange, visibleRange, fadeOutTime, rotationRatio, n);
  for (int32_t i = 0; ok && i < n; ++i) ok = stream.WriteF32(ratios[i]);
  return ok;
}

bool OvLensFlareNode::FromValues(const OvParamValues& v, OvChunkArena& arena) {
  v.FlagPair(0, checkMask, checkValue);
  obstructionTest = v.Check(2) ? 1 : 0;
  unobstructedRange = v.Real(3);
  visibleRange = v.Real(4);
  fadeOutTime = v.Real(5);
  rotationRatio = v.Real(6);
  count = 0;
  ratios = nullptr;
  if (!v.Check(8)) return true;
  const char* text = v.Text(9);
  char buf[1024] = {};
  std::strncpy(buf, text ? text : kDefaultRatios, sizeof(buf) - 1);
  float parsed[OV_LENS_FLARE_MAX_RATIOS];
  char* rest = nullptr;
  for (char* piece = strtok_r(buf, ",; \t\r\n", &rest); piece && count < OV_LENS_FLARE_MAX_RATIOS;
       piece = strtok_r(nullptr, ",; \t\r\n", &rest))
    parsed[count++] = std::strtof(piece, nullptr);
  if (count == 0) return true;
  ratios = static_cast<float*>(arena.Allocate(int32_t(sizeof(float)) * count));
  if (!ratios) return false;
  std::memcpy(ratios, parsed, sizeof(float) * size_t(count));
  return true;
}

OvAniCtrl* OvLensFlareNode::MakeController(OvClump*) { return new AcLensFlare(*this); }

OvNodeType* OvFlareNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_LENS_FLARE) {
    return new OvNodeTypeOf<OvLensFlareNode>(pair, name, kLensFlareParams,
                                             int(sizeof(kLensFlareParams) / sizeof(kLensFlareParams[0])));
  }
  return nullptr;
}
