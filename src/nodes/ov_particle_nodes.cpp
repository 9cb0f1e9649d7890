#include "ov_particle_nodes.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr int kMaxForces = 16;

// Seconds to whole time units; values past the i32 range (or NaN from
// content) clamp instead of overflowing.
int32_t Units(float seconds, int32_t perSecond) {
  const double x = double(seconds) * double(perSecond);
  if (!(x == x)) return 0;
  if (x >= 2147483647.0) return 2147483647;
  if (x <= -2147483648.0) return int32_t(-2147483647 - 1);
  return int32_t(x);
}

// Bytewise step of each channel of a towards b by x (0..1).
uint32_t BlendBytes(uint32_t a, uint32_t b, float x) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int ca = int((a >> shift) & 0xFF), cb = int((b >> shift) & 0xFF);
    int c = ca + int(x * float(cb - ca));
    c = std::clamp(c, 0, 255);
    out |= uint32_t(c) << shift;
  }
  return out;
}

struct Force {
  OvVector point;
  OvVector axis;
};

enum class Rule { Simple, Attraction, Smoke };

// ---------------------------------------------------------------------------
// The emitter: lives on the effect's clump.

class AcParticleEmitter final : public OvAniCtrl {
 public:
  AcParticleEmitter(const OvParticleNode& node, OvDatabase& db, Rule rule)
      : m_p(node.p), m_db(db), m_rule(rule), m_target(node.p.target), m_colourFadeIn(node.colourFadeIn),
        m_sizeFadeIn(node.sizeFadeIn), m_sourceIsTarget(rule == Rule::Attraction && node.p.target.objectKey == -1) {
    m_total = std::min<uint32_t>(m_p.total, uint32_t(OV_PARTICLE_CAP));
  }

  int32_t GetCtrlId() const override { return OV_ACID_PARTICLE_EMITTER; }
  bool RefersTo(const void* object) const override { return object == m_source; }

  void SetSource(OvClump* clump) {
    if (clump) clump->AddRef();
    if (m_source) m_source->Release();
    m_source = clump;
  }
  OvClump* Source() const { return m_source; }

  void Animate(OvClump* clump, int32_t t) override {
    OvParticleSet* set = OvParticleSetOf(clump);
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!set || !scene) return;
    if (m_source && !m_source->GetLogObj()) SetSource(nullptr);
    if (m_source) Emit(*scene, *set, t);
    Update(*scene, *clump, *set, t);
    set->RecomputeBounds();
    if (!m_source && set->LiveCount() == 0) scene->DelLogObj(clump->GetLogObj());
  }

 protected:
  ~AcParticleEmitter() override { SetSource(nullptr); }

 private:
  float Random() {
    m_random = m_random * 214013u + 2531011u;
    return float((m_random >> 16) & 0x7FFF) / 32767.0f;
  }

  OvVector ShapePoint() {
    const OvVector& s = m_p.shapeSize;
    switch (m_p.shape) {
      case OV_EMIT_RECT: {
        const float x = Random() - 0.5f;
        return {x * s.x, (Random() - 0.5f) * s.y, 0.0f};
      }
      case OV_EMIT_BOX: {
        const float x = Random() - 0.5f;
        const float y = Random() - 0.5f;
        return {x * s.x, y * s.y, (Random() - 0.5f) * s.z};
      }
      case OV_EMIT_ELLIPSE_HOLLOW:
      case OV_EMIT_ELLIPSE:
      case OV_EMIT_SPHERE_HOLLOW:
      case OV_EMIT_SPHERE: {
        const float a = Random() * kTwoPi;
        OvVector v{0.5f * std::cos(a), 0.5f * std::sin(a), 0.0f};
        if (m_p.shape == OV_EMIT_SPHERE_HOLLOW || m_p.shape == OV_EMIT_SPHERE) {
          const float b = Random() * kTwoPi;
          v = {v.x, v.y * std::cos(b), v.y * std::sin(b)};
        }
        v = {v.x * s.x, v.y * s.y, v.z * s.z};
        if (m_p.shape == OV_EMIT_ELLIPSE || m_p.shape == OV_EMIT_SPHERE) OvVectorScale(v, Random());
        return v;
      }
      default: return {0.0f, 0.0f, 0.0f};
    }
  }

  void Emit(OvScene& scene, OvParticleSet& set, int32_t t) {
    const OvMatrix* world = m_source->GetToWorldMatrix();
    if (!world) return;
    OvVector carried{0.0f, 0.0f, 0.0f};
    if (m_p.inertia != 0.0f) {
      m_source->GetVelocity(carried);
      OvVectorScale(carried, m_p.inertia);
    }
    float n = scene.SecToPreFrame() * m_p.emitRate;
    if (!(n > 0.0f)) return;
    n += m_carry;
    // One frame never adds more than a full set; this also keeps an
    // infinite rate from content out of the integer conversion.
    if (!(n <= float(OV_PARTICLE_CAP))) n = float(OV_PARTICLE_CAP);
    int32_t count = int32_t(n);
    m_carry = n - float(count);
    if (!m_initialised) {
      m_random = uint32_t(scene.GetTime());
      Random();
      OvMatrixGetPos(*world, m_previous);
      m_initialised = true;
    }
    count = int32_t(std::min<int64_t>(count, int64_t(m_total) - set.LiveCount()));
    if (count <= 0) return;
    OvVector here;
    OvMatrixGetPos(*world, here);
    const OvVector step = OvScaled(OvSub(m_previous, here), 1.0f / float(count));
    m_previous = here;
    for (int32_t k = count - 1; k >= 0; --k) {
      OvVector shape = ShapePoint(), at;
      OvXformPoint(at, shape, *world);
      const OvVector pos = OvAdd(OvScaled(step, float(k)), at);
      const float size = m_p.sizeMin + Random() * (m_p.sizeMax - m_p.sizeMin);
      OvVector dir;
      if (m_p.angle1 != 0.0f || m_p.angle2 != 0.0f) {
        const float j = m_p.angle1 + Random() * (m_p.angle2 - m_p.angle1);
        const float kk = Random() * kTwoPi;
        const OvVector local{-std::sin(j) * std::sin(kk), std::sin(j) * std::cos(kk), -std::cos(j)};
        OvRotateVector(dir, local, *world);
      } else {
        const float x = Random() - 0.5f;
        const float y = Random() - 0.5f;
        dir = {x, y, Random() - 0.5f};
      }
      const float speed = m_p.speedMin + Random() * (m_p.speedMax - m_p.speedMin);
      const float length = OvLength(dir);
      OvVector velocity = length > 0.0f ? OvScaled(dir, speed / length) : OvVector{0.0f, 0.0f, 0.0f};
      if (m_p.inertia != 0.0f) OvVectorAdd(velocity, carried);
      OvVector second = pos;
      if (m_rule == Rule::Smoke) {
        second.x = size;
        second.y = m_p.lengthMin + Random() * (m_p.lengthMax - m_p.lengthMin);
      }
      OvParticle* p = set.Add();
      if (!p) break;  // full or out of memory: refused
      *p = {pos, m_p.colour[0], m_p.colour[1], size, second, velocity, t};
    }
  }

  int BuildForces(OvClump& effect, float s, Force (&forces)[kMaxForces]) {
    if (s == 0.0f || !(s == s)) return 0;
    OvClump* target = m_sourceIsTarget ? m_source : m_target.Resolve(m_source ? m_source : &effect);
    if (!target) return 0;
    int count = 0;
    // Depth-first from the target, children only when asked for.
    OvClump* c = target;
    while (c && count < kMaxForces) {
      if (const OvMatrix* m = c->GetToWorldMatrix()) {
        Force& f = forces[count++];
        OvMatrixGetPos(*m, f.point);
        OvMatrixGetRow(*m, 2, f.axis);
        if (OvSquareLength(f.axis) > 0.0f) OvNormalize(f.axis);
      }
      if (!m_p.includeChildren) break;
      if (c->GetChild()) {
        c = c->GetChild();
        continue;
      }
      while (c && c != target && !c->GetNextBrother()) c = c->GetParent();
      if (!c || c == target) break;
      c = c->GetNextBrother();
    }
    return count;
  }

  void ApplyForces(OvParticle& q, const Force* forces, int count, float s) const {
    for (int i = 0; i < count; ++i) {
      const Force& f = forces[i];
      switch (m_p.attractionType) {
        case OV_ATTRACT_POINT: {
          const OvVector d = OvSub(f.point, q.pos);
          const float len = OvLength(d);
          if (len >= 0.01f) OvVectorAdd(q.velocity, OvScaled(d, s / len));
          break;
        }
        case OV_ATTRACT_LINE: {
          const OvVector nearest = OvAdd(f.point, OvScaled(f.axis, OvVectorDotProd(OvSub(q.pos, f.point), f.axis)));
          const OvVector d = OvSub(nearest, q.pos);
          const float len = OvLength(d);
          if (len > 0.0f) OvVectorAdd(q.velocity, OvScaled(d, s / len));
          break;
        }
        case OV_ATTRACT_PLANE:
          if (OvVectorDotProd(f.axis, OvSub(q.pos, f.point)) > 0.0f) {
            OvVectorSub(q.velocity, OvScaled(f.axis, s));
          } else {
            OvVectorAdd(q.velocity, OvScaled(f.axis, s));
          }
          break;
        case OV_ATTRACT_PLANE_NEG_Z: OvVectorSub(q.velocity, OvScaled(f.axis, s)); break;
        default: break;
      }
    }
  }

  void Transition(OvScene& scene, const OvParticle& q) {
    if (m_p.transition == -1) return;
    OvMatrix m;
    const bool moving = OvSquareLength(q.velocity) > 0.0f;
    if (moving) {
      OvMatrixLookAt(m, q.pos, OvAdd(q.pos, q.velocity));
    } else {
      OvMatrixIdentity(m);
      OvMatrixSetRow(m, 3, q.pos);
    }
    OvEmitObjectCore(scene, &m, m_db, m_p.transition, Units(m_p.transitionLife, scene.TimePerSec()), moving, false);
  }

  void Update(OvScene& scene, OvClump& effect, OvParticleSet& set, int32_t t) {
    const int32_t u = scene.TimePerSec();
    const float dt = scene.SecToPreFrame();
    const int32_t life = Units(m_p.lifeTime, u);
    Force forces[kMaxForces];
    const float s = m_p.strength * dt;
    const int forceCount = m_rule == Rule::Simple ? 0 : BuildForces(effect, s, forces);
    const float keep = 1.0f - m_p.resistance * dt;
    // Attraction: full colour until seven eighths of the life, then a fade
    // to zero over the rest.
    const int32_t f0 = int32_t(int64_t(life) * 7 / 8);
    const int32_t fade = life - f0;
    const int32_t c0 = Units(m_p.timeA, u), s0 = Units(m_p.timeB, u);
    const int32_t fc = Units(m_colourFadeIn, u), fs = Units(m_sizeFadeIn, u);
    OvParticle* records = set.Records();
    for (int32_t i = 0; i < set.UsedCount(); ++i) {
      OvParticle& q = records[i];
      if (OvParticleSet::IsFree(q)) continue;
      const int32_t age = OvTimeDelta(t, q.birth);
      if (age > life) {
        if (m_rule != Rule::Simple) Transition(scene, q);
        set.Remove(&q);
        continue;
      }
      switch (m_rule) {
        case Rule::Simple:
          q.second = q.pos;
          OvVectorAdd(q.pos, OvScaled(q.velocity, dt));
          q.pos.z += 0.5f * m_p.strength * dt * dt;
          q.velocity.z += m_p.strength * dt;
          continue;
        case Rule::Attraction: {
          // A life shorter than eight units has no fade span: it ends dark.
          const float x = age - f0 > 0 ? (fade > 0 ? float(age - f0) / float(fade) : 1.0f) : 0.0f;
          q.colourA = BlendBytes(m_p.colour[0], 0, x);
          if (set.TypeCode() != OV_PARTICLE_SQUARE) {
            q.second = m_p.lengthMin != 0.0f ? OvSub(q.pos, OvScaled(q.velocity, m_p.lengthMin)) : q.pos;
            q.colourB = BlendBytes(m_p.colour[1], 0, x);
          }
          break;
        }
        case Rule::Smoke: {
          q.colourA = m_p.colour[0];
          if (age - c0 >= 1) q.colourA = BlendBytes(m_p.colour[0], m_p.colour[1], float(age - c0) / float(life - c0));
          if (age < fc) {
            const uint32_t alpha = uint32_t(float(age) * float(q.colourA >> 24) / float(fc));
            q.colourA = (q.colourA & 0x00FFFFFFu) | (std::min(alpha, 255u) << 24);
          }
          q.size = q.second.x;
          if (age - s0 >= 1) q.size = q.second.x + (q.second.y - q.second.x) * float(age - s0) / float(life - s0);
          if (age < fs) q.size *= float(age) / float(fs);
          break;
        }
      }
      OvVectorAdd(q.pos, OvScaled(q.velocity, dt));
      ApplyForces(q, forces, forceCount, s);
      if (m_p.resistance != 0.0f) OvVectorScale(q.velocity, keep);
    }
  }

  const OvParticleParams m_p;
  OvDatabase& m_db;
  Rule m_rule;
  OvTargetRef m_target;
  float m_colourFadeIn, m_sizeFadeIn;
  bool m_sourceIsTarget;
  uint32_t m_total;
  OvClump* m_source = nullptr;
  uint32_t m_random = 0;
  float m_carry = 0.0f;
  OvVector m_previous{0.0f, 0.0f, 0.0f};
  bool m_initialised = false;
};

// ---------------------------------------------------------------------------
// The installer: lives on the node's clump for one frame.

class AcParticleInstaller final : public OvAniCtrl {
 public:
  AcParticleInstaller(AcParticleEmitter* emitter, uint32_t typeCode, void* texture, int32_t transparency)
      : m_emitter(emitter), m_type(typeCode), m_texture(texture), m_transparency(transparency) {}

  uint32_t GetChannelMask() const override { return ACF_CLUMP_LINK; }
  int32_t GetCtrlId() const override { return OV_ACID_PARTICLE_INSTALLER; }

  void Animate(OvClump* clump, int32_t time) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    if (m_emitter) Install(*scene, clump);
    OvAniCtrlRegisterHrchy(clump, this, time);
  }

  void Hierarchy(OvClump* clump, int32_t) override {
    if (clump) clump->DelAniCtrl(this);  // releases this
  }

 protected:
  ~AcParticleInstaller() override {
    if (m_emitter) m_emitter->Release();
  }

 private:
  void Install(OvScene& scene, OvClump* source) {
    auto* set = new OvParticleSet(m_type, m_texture, m_transparency);
    OvLogObj* object = set ? OvLogObj::Create() : nullptr;
    OvClump* clump = object ? OvClump::Create() : nullptr;
    if (!clump) {
      if (object) object->Release();
      delete set;
      return;  // the effect is left out
    }
    clump->SetExtension(set);
    object->AppendClumps(clump);
    m_emitter->SetSource(source);
    if (!clump->AddAniCtrl(m_emitter)) {
      object->Release();
      return;
    }
    m_emitter = nullptr;  // the effect's clump has it now
    object->GotoFrame(scene.GetTime());
    scene.AddLogObjs(object);
  }

  AcParticleEmitter* m_emitter;
  uint32_t m_type;
  void* m_texture;
  int32_t m_transparency;
};

// ---------------------------------------------------------------------------
// Parameter tables.

#define OV_PT_TYPES "Particle Type:\0Square\0Line\0Beam\0Beam (Triangle)\0"
#define OV_PT_TRANSPARENCY "Transparency:\0None\0Transparency\0Additive\0"
#define OV_PT_ATTRACTION "Attraction Type:\0Point\0Line(z-axis)\0Plane\0Plane(-z)\0"
#define OV_PT_SHAPE "Emit Shape:\0Point\0Ellipse (hollow)\0Ellipse\0Rect\0Sphere (hollow)\0Sphere\0Box\0"

constexpr int32_t kNotKeptReal = OV_PK_NOT_KEPT | OV_PK_REAL;
constexpr int32_t kWhite = int32_t(0xFFFFFFFFu);

const OvNodeParamDesc kSimpleParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL_FIRST),
    OvParamI(1, OV_PT_TYPES, OV_PK_CHOICE, 0),
    OvParamI(2, "Texture (pick node)", OV_PK_REF, 0),
    OvParamF(3, "U Offset:", kNotKeptReal, 0.0f),
    OvParamF(4, "U Tiling:", kNotKeptReal, 1.0f),
    OvParamF(5, "V Offset:", kNotKeptReal, 0.0f),
    OvParamF(6, "V Tiling:", kNotKeptReal, 1.0f),
    OvParamI(7, OV_PT_TRANSPARENCY, OV_PK_CHOICE, 2),
    OvParamI(8, "Color 1:", OV_PK_COLOUR, kWhite),
    OvParamI(9, "Color 2:", OV_PK_COLOUR, kWhite),
    OvParamI(10, "Color 3:", OV_PK_COLOUR, kWhite),
    OvParamI(11, "Color 4:", OV_PK_COLOUR, kWhite),
    OvParamF(12, "Size Min:", OV_PK_REAL, 10.0f),
    OvParamF(13, "Size Max:", OV_PK_REAL, 10.0f),
    OvParamF(14, "Length Min:", OV_PK_REAL, 0.05f),
    OvParamF(15, "Length Max:", OV_PK_REAL, 0.2f),
    OvParamF(16, "Life Time (sec):", OV_PK_REAL, 3.0f),
    OvParamF(17, "Decay Time 1 (sec):", OV_PK_REAL, 3.0f),
    OvParamF(18, "Decay Time 1 (sec):", OV_PK_REAL, 3.0f),
    OvParamF(19, "Init Speed Min:", OV_PK_REAL, 0.0f),
    OvParamF(20, "Init Speed Max:", OV_PK_REAL, 1000.0f),
    OvParamF(21, "Inertia:", OV_PK_REAL, 0.0f),
    OvParamF(22, "Gravity:", OV_PK_REAL, -980.0f),
    OvParamI(23, "Gravity Target", OV_PK_REF, -1),
    OvParamI(24, "\tInclude Children", OV_PK_CHECK, 0),
    OvParamI(25, OV_PT_ATTRACTION, OV_PK_CHOICE, 0),
    OvParamF(26, "Resistance:", OV_PK_REAL, 0.0f),
    OvParamI(27, "Total Particle #:", OV_PK_INT, 300),
    OvParamF(28, "Emit Rate:", OV_PK_REAL, 0.0f),
    OvParamF(29, "Emit Angle 1:", OV_PK_REAL, 0.0f),
    OvParamF(30, "Emit Angle 2:", OV_PK_REAL, 0.0f),
    OvParamI(31, OV_PT_SHAPE, OV_PK_CHOICE, 0),
    OvParamI(32, "", OV_PK_INTERNAL, 0),
    OvParamI(33, "Transition", OV_PK_REF, -1),
    OvParamF(34, "Transition Life (sec):", OV_PK_REAL, 1.0f),
};

const OvNodeParamDesc kAttractionParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL_FIRST),
    OvParamI(1, OV_PT_TYPES, OV_PK_CHOICE, 0),
    OvParamI(2, "Texture (pick node)", OV_PK_REF, 0),
    OvParamI(7, OV_PT_TRANSPARENCY, OV_PK_CHOICE, 2),
    OvParamI(8, "Head-Color:", OV_PK_COLOUR, kWhite),
    OvParamI(9, "Tail-Color:", OV_PK_COLOUR, kWhite),
    OvParamF(12, "Size Min:", OV_PK_REAL, 10.0f),
    OvParamF(13, "Size Max:", OV_PK_REAL, 30.0f),
    OvParamF(14, "Length:", OV_PK_REAL, 0.05f),
    OvParamF(16, "Life Time (sec):", OV_PK_REAL, 3.0f),
    OvParamF(19, "Init Speed Min:", OV_PK_REAL, 0.0f),
    OvParamF(20, "Init Speed Max:", OV_PK_REAL, 1000.0f),
    OvParamF(21, "Inertia:", OV_PK_REAL, 0.0f),
    OvParamF(22, "Attraction:", OV_PK_REAL, 1000.0f),
    OvParamI(23, "Attraction Target", OV_PK_REF, -1),
    OvParamI(24, "\tInclude Children", OV_PK_CHECK, 0),
    OvParamI(25, OV_PT_ATTRACTION, OV_PK_CHOICE, 0),
    OvParamF(26, "Resistance:", OV_PK_REAL, 0.0f),
    OvParamI(27, "Total Particle #:", OV_PK_INT, 300),
    OvParamF(28, "Emit Rate:", OV_PK_REAL, 0.0f),
    OvParamF(29, "Emit Angle Min:", OV_PK_REAL, 0.0f),
    OvParamF(30, "Emit Angle Max:", OV_PK_REAL, 0.0f),
    OvParamI(31, OV_PT_SHAPE, OV_PK_CHOICE, 0),
    OvParamI(32, "", OV_PK_INTERNAL, 0),
    OvParamI(33, "Transition", OV_PK_REF, -1),
    OvParamF(34, "Transition Life (sec):", OV_PK_REAL, 1.0f),
};

const OvNodeParamDesc kSmokeParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL_FIRST),
    OvParamI(2, "Texture (pick node)", OV_PK_REF, 0),
    OvParamI(7, OV_PT_TRANSPARENCY, OV_PK_CHOICE, 1),
    OvParamI(8, "Color:", OV_PK_COLOUR, kWhite),
    OvParamI(9, "Final Color:", OV_PK_COLOUR, kWhite),
    OvParamF(12, "Size Min:", OV_PK_REAL, 10.0f),
    OvParamF(13, "Size Max:", OV_PK_REAL, 20.0f),
    OvParamF(14, "Final Size Min:", OV_PK_REAL, 50.0f),
    OvParamF(15, "Final Size Max:", OV_PK_REAL, 100.0f),
    OvParamF(16, "Life Time (sec):", OV_PK_REAL, 5.0f),
    OvParamF(100, "Clr Fade-in (sec):", OV_PK_REAL, 0.0f),
    OvParamF(101, "Sz Fade-in (sec):", OV_PK_REAL, 0.0f),
    OvParamF(17, "Color~ from (sec):", OV_PK_REAL, 0.0f),
    OvParamF(18, "Size~ from (sec):", OV_PK_REAL, 0.0f),
    OvParamF(19, "Init Speed Min:", OV_PK_REAL, 30.0f),
    OvParamF(20, "Init Speed Max:", OV_PK_REAL, 50.0f),
    OvParamF(21, "Inertia:", OV_PK_REAL, 0.0f),
    OvParamF(22, "Attraction:", OV_PK_REAL, 0.0f),
    OvParamI(23, "Attraction Target", OV_PK_REF, -1),
    OvParamI(24, "\tInclude Children", OV_PK_CHECK, 0),
    OvParamI(25, OV_PT_ATTRACTION, OV_PK_CHOICE, 0),
    OvParamF(26, "Resistance:", OV_PK_REAL, 0.0f),
    OvParamI(27, "Total Particle #:", OV_PK_INT, 100),
    OvParamF(28, "Emit Rate:", OV_PK_REAL, 0.0f),
    OvParamF(29, "Emit Angle Min:", OV_PK_REAL, 0.0f),
    OvParamF(30, "Emit Angle Max:", OV_PK_REAL, 10.0f),
    OvParamI(31, OV_PT_SHAPE, OV_PK_CHOICE, 0),
    OvParamI(32, "", OV_PK_INTERNAL, 0),
    OvParamI(33, "Transition", OV_PK_REF, -1),
    OvParamF(34, "Transition Life (sec):", OV_PK_REAL, 1.0f),
};

// Particle type codes in choice order.
constexpr uint32_t kTypeCodes[] = {OV_PARTICLE_SQUARE, OV_PARTICLE_LINE, OV_PARTICLE_BEAM, OV_PARTICLE_BEAM_TRIANGLE};

class ParticleType final : public OvNodeType {
 public:
  ParticleType(OvTypeId pair, const char* name, const OvNodeParamDesc* params, int count)
      : m_pair(pair), m_name(name), m_params(params), m_count(count) {}
  void GetTypeId(OvTypeId& out) const override { out = m_pair; }
  const char* GetName() const override { return m_name; }
  const OvNodeParamDesc* GetParamTable(int& count) const override {
    count = m_count;
    return m_params;
  }
  OvDbNode* Create(OvChunkArena& arena) const override {
    if (m_pair == OV_NODE_PARTICLE_SIMPLE) return OvArenaNew<OvParticleSimpleNode>(arena);
    if (m_pair == OV_NODE_PARTICLE_ATTRACTION) return OvArenaNew<OvParticleAttractionNode>(arena);
    return OvArenaNew<OvParticleSmokeNode>(arena);
  }
  OvDbNode* CreateFromValues(OvChunkArena& arena, const OvParamValue* values, int count) const override {
    if (!values || count < m_count) return nullptr;
    auto* node = static_cast<OvParticleNode*>(Create(arena));
    if (!node) return nullptr;
    const OvParamValues v(values, count, &arena);
    for (int slot = 0; slot < m_count; ++slot) Apply(*node, m_params[slot].number, v, slot);
    if (m_pair == OV_NODE_PARTICLE_SMOKE) node->p.typeCode = OV_PARTICLE_SQUARE;
    if (node->p.emitRate == 0.0f) node->p.emitRate = float(node->p.total) / node->p.lifeTime;
    return node;
  }

 private:
  static void Apply(OvParticleNode& node, int32_t number, const OvParamValues& v, int slot) {
    OvParticleParams& p = node.p;
    switch (number) {
      case 1: {
        const uint32_t choice = v.Word(slot, 0);
        p.typeCode = choice < 4 ? kTypeCodes[choice] : OV_PARTICLE_SQUARE;
        break;
      }
      case 2: p.texture = uint32_t(v.RefRecord(slot)); break;
      case 7: p.transparency = v.Int(slot); break;
      case 8:
      case 9:
      case 10:
      case 11: p.colour[number - 8] = v.Word(slot, 0); break;
      case 12: p.sizeMin = v.Real(slot); break;
      case 13: p.sizeMax = v.Real(slot); break;
      case 14: p.lengthMin = v.Real(slot); break;
      case 15: p.lengthMax = v.Real(slot); break;
      case 16: p.lifeTime = v.Real(slot); break;
      case 17: p.timeA = v.Real(slot); break;
      case 18: p.timeB = v.Real(slot); break;
      case 19: p.speedMin = v.Real(slot); break;
      case 20: p.speedMax = v.Real(slot); break;
      case 21: p.inertia = v.Real(slot); break;
      case 22: p.strength = v.Real(slot); break;
      case 23: v.Ref(slot, p.target.objectKey, p.target.clumpKey); break;
      case 24: p.includeChildren = v.Check(slot) ? 1 : 0; break;
      case 25: p.attractionType = v.Int(slot); break;
      case 26: p.resistance = v.Real(slot); break;
      case 27: p.total = v.Word(slot, 0); break;
      case 28: p.emitRate = v.Real(slot); break;
      case 29: p.angle1 = v.Radians(slot); break;
      case 30: p.angle2 = v.Radians(slot); break;
      case 31: p.shape = v.Int(slot); break;
      case 32:
        p.shapeSize = {v.Real(slot), std::bit_cast<float>(v.Word(slot, 1)), std::bit_cast<float>(v.Word(slot, 2))};
        break;
      case 33:
        p.transitionObject = int32_t(v.Word(slot, 0));
        p.transition = v.RefRecord(slot);
        break;
      case 34: p.transitionLife = v.Real(slot); break;
      case 100: node.colourFadeIn = v.Real(slot); break;
      case 101: node.sizeFadeIn = v.Real(slot); break;
      default: break;
    }
  }

  OvTypeId m_pair;
  const char* m_name;
  const OvNodeParamDesc* m_params;
  int m_count;
};

}  // namespace

// ---------------------------------------------------------------------------
// Stored blocks.

bool OvParticleNode::ReadCommon(OvStream& stream) {
  uint32_t format = 0;
  float reserved[4];
  return stream.ReadLayout("u uu RRRR i uuuu RRRR RRR RR RR uui i R u R RR iRRR uuR", &format, &p.typeCode, &p.texture,
                           &reserved[0], &reserved[1], &reserved[2], &reserved[3], &p.transparency, &p.colour[0],
                           &p.colour[1], &p.colour[2], &p.colour[3], &p.sizeMin, &p.sizeMax, &p.lengthMin, &p.lengthMax,
                           &p.lifeTime, &p.timeA, &p.timeB, &p.speedMin, &p.speedMax, &p.inertia, &p.strength,
                           &p.target.objectKey, &p.target.clumpKey, &p.includeChildren, &p.attractionType,
                           &p.resistance, &p.total, &p.emitRate, &p.angle1, &p.angle2, &p.shape, &p.shapeSize.x,
                           &p.shapeSize.y, &p.shapeSize.z, &p.transitionObject, &p.transition, &p.transitionLife);
}

bool OvParticleNode::WriteCommon(OvStream& stream) const {
  return stream.WriteLayout(
      "u uu RRRR i uuuu RRRR RRR RR RR uui i R u R RR iRRR uuR", kFormat, p.typeCode, p.texture, 0.0f, 0.0f, 0.0f, 0.0f,
      p.transparency, p.colour[0], p.colour[1], p.colour[2], p.colour[3], p.sizeMin, p.sizeMax, p.lengthMin,
      p.lengthMax, p.lifeTime, p.timeA, p.timeB, p.speedMin, p.speedMax, p.inertia, p.strength, p.target.objectKey,
      p.target.clumpKey, p.includeChildren, p.attractionType, p.resistance, p.total, p.emitRate, p.angle1, p.angle2,
      p.shape, p.shapeSize.x, p.shapeSize.y, p.shapeSize.z, p.transitionObject, p.transition, p.transitionLife);
}

bool OvParticleNode::Read(OvStream& stream, OvChunkArena&) { return ReadCommon(stream); }
bool OvParticleNode::Write(OvStream& stream) const { return WriteCommon(stream); }

bool OvParticleAttractionNode::Read(OvStream& stream, OvChunkArena&) {
  uint32_t format = 0;
  return stream.ReadLayout("u", &format) && ReadCommon(stream);
}
bool OvParticleAttractionNode::Write(OvStream& stream) const {
  return stream.WriteLayout("u", kFormat) && WriteCommon(stream);
}

bool OvParticleSmokeNode::Read(OvStream& stream, OvChunkArena&) {
  uint32_t format = 0;
  return stream.ReadLayout("u RR", &format, &colourFadeIn, &sizeFadeIn) && ReadCommon(stream);
}
bool OvParticleSmokeNode::Write(OvStream& stream) const {
  return stream.WriteLayout("u RR", kFormat, colourFadeIn, sizeFadeIn) && WriteCommon(stream);
}

void OvParticleNode::Bind(OvDatabase* database) {
  m_database = database;
  p.target.serial = OvSerialOf(database);
}

OvAniCtrl* OvParticleNode::MakeController(OvClump*) {
  if (!m_database) return nullptr;
  OvTypeId pair{};
  GetTypeId(pair);
  const Rule rule = pair == OV_NODE_PARTICLE_SIMPLE       ? Rule::Simple
                    : pair == OV_NODE_PARTICLE_ATTRACTION ? Rule::Attraction
                                                          : Rule::Smoke;
  if (p.total > uint32_t(OV_PARTICLE_CAP) && !m_capTraced) {
    _TraceFormat("### Particle: %u particles asked for; an effect keeps at most %d.\n", p.total, OV_PARTICLE_CAP);
    m_capTraced = true;
  }
  auto* emitter = new AcParticleEmitter(*this, *m_database, rule);
  if (!emitter) return nullptr;
  emitter->SetOwned(true);
  const OvTextureEntry* texture = m_database->Texture(int32_t(p.texture));
  auto* installer = new AcParticleInstaller(emitter, p.typeCode, texture ? texture->handle : nullptr, p.transparency);
  if (!installer) emitter->Release();
  return installer;
}

OvNodeType* OvParticleNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_PARTICLE_SIMPLE) return new ParticleType(pair, name, kSimpleParams, 35);
  if (pair == OV_NODE_PARTICLE_ATTRACTION) return new ParticleType(pair, name, kAttractionParams, 26);
  if (pair == OV_NODE_PARTICLE_SMOKE) return new ParticleType(pair, name, kSmokeParams, 30);
  return nullptr;
}
