// 10,000 live particles of each node type, updated and drawn in a real scene
// frame (animation, culling, the set's dynamic vertex buffer), against the
// same number of static quads of the same places and sizes drawn from one
// buffer made once, with the same states. Both frames clear, draw and end
// with glFinish. The ratio per type is printed at the end.
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <epoxy/gl.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "bench_renderer.h"
#include "ov_camera.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_particle_draw.h"
#include "ov_particle_nodes.h"
#include "ov_renderer_gl.h"
#include "ov_scene.h"

namespace {

constexpr int kParticles = 10000;

struct Vertex {
  float x, y, z;
  uint32_t colour;
  float u, v;
};

struct Effect {
  OvScene* scene = nullptr;
  OvParticleSet* set = nullptr;
  OvClump* clump = nullptr;                   // the effect's
  OvGLBuffer quads;                           // the static comparison
  double particleNs = 0, staticNs = 0;        // wall time per frame
  double particleCpuNs = 0, staticCpuNs = 0;  // calling thread's CPU time per frame
};

struct World {
  SDL_Window* window = nullptr;
  OvRendererGL* renderer = nullptr;
  OvDatabase* db = nullptr;
  Effect effects[3];
  OvMatrix view, projection;
  bool ok = false;
};

World* g_world = nullptr;
const char* const kNames[3] = {"Simple (squares)", "Attraction (beams)", "Smoke (squares)"};

OvParticleNode* MakeNode(OvDatabase& db, int kind) {
  OvParticleNode* n = nullptr;
  if (kind == 0) n = OvArenaNew<OvParticleSimpleNode>(db.Arena());
  if (kind == 1) n = OvArenaNew<OvParticleAttractionNode>(db.Arena());
  if (kind == 2) n = OvArenaNew<OvParticleSmokeNode>(db.Arena());
  if (!n) return nullptr;
  n->p.typeCode = kind == 1 ? OV_PARTICLE_BEAM : OV_PARTICLE_SQUARE;
  n->p.texture = uint32_t(-1);
  n->p.transparency = OV_PARTICLE_ADDITIVE;
  n->p.colour[0] = 0x80FFC040u;
  n->p.colour[1] = 0x204080FFu;
  n->p.sizeMin = n->p.sizeMax = 3.0f;
  n->p.lengthMin = n->p.lengthMax = kind == 2 ? 4.0f : 0.5f;
  n->p.lifeTime = 1.0e6f;  // nobody dies while measured
  n->p.timeA = n->p.timeB = 0.0f;
  n->p.speedMin = 1.0f, n->p.speedMax = 4.0f;
  n->p.strength = kind == 0 ? -1.0f : 0.5f;  // gravity, or a weak pull to the source
  n->p.target.objectKey = -1;
  n->p.total = kParticles;
  n->p.emitRate = 1.0e7f;  // a full set in the first frame
  n->p.shape = OV_EMIT_BOX;
  n->p.shapeSize = {600.0f, 400.0f, 50.0f};
  n->Bind(&db);
  return n;
}

bool MakeEffect(World& w, int kind, Effect& e) {
  e.scene = new OvScene();
  e.scene->SetRenderer(w.renderer);
  OvLogObj* viewer = OvLogObj::Create();
  OvClump* camera = OvClump::Create();
  camera->SetExtension(new OvCamera(1.2f, 1.0f, 5000.0f));
  viewer->AppendClumps(camera);
  e.scene->AddLogObjs(viewer);
  camera->CalcToWorldMatrix();
  e.scene->UseCamera(camera);
  OvLogObj* object = OvLogObj::Create();
  OvClump* source = OvClump::Create();
  source->SetPos({0.0f, 0.0f, -500.0f});
  object->AppendClumps(source);
  e.scene->AddLogObjs(object);
  OvParticleNode* node = MakeNode(*w.db, kind);
  if (!node || !source->AddAniCtrl(OvNodeController(node, source))) return false;
  for (int i = 0; i < 3; ++i) {
    e.scene->FrameStep();
    e.scene->ForceStep(1);
    e.scene->AdvanceTime();
  }
  for (OvLogObj* o = e.scene->GetLogObjs(); o; o = o->LoGetNextBrother()) {
    if (OvParticleSet* s = OvParticleSetOf(o->GetClumps())) e.set = s, e.clump = o->GetClumps();
  }
  if (!e.set || e.set->LiveCount() != kParticles) return false;
  // The same places and sizes as squares, once, in one static buffer.
  std::vector<Vertex> v;
  for (int32_t i = 0; i < e.set->UsedCount(); ++i) {
    const OvParticle& p = e.set->Records()[i];
    if (OvParticleSet::IsFree(p)) continue;
    const float h = p.size * 0.5f;
    const Vertex a{p.pos.x - h, p.pos.y - h, p.pos.z, p.colourA, 0, 1},
        b{p.pos.x + h, p.pos.y - h, p.pos.z, p.colourA, 1, 1};
    const Vertex c{p.pos.x + h, p.pos.y + h, p.pos.z, p.colourA, 1, 0},
        d{p.pos.x - h, p.pos.y + h, p.pos.z, p.colourA, 0, 0};
    v.insert(v.end(), {a, b, c, a, c, d});
  }
  return w.renderer->CreateVertexBuffer(e.quads, uint32_t(v.size() * sizeof(Vertex)), false, v.data());
}

bool Setup() {
  World& w = *(g_world = new World);
  w.renderer = OpenBenchRenderer(w.window);
  if (!w.renderer) return false;
  w.db = OvDatabase::Create();
  for (int k = 0; k < 3; ++k) {
    if (!w.db || !MakeEffect(w, k, w.effects[k])) return false;
  }
  w.ok = true;
  return true;
}

void Teardown() {
  if (!g_world) return;
  World& w = *g_world;
  for (Effect& e : w.effects) {
    if (w.renderer && w.renderer->IsInitialised()) w.renderer->DestroyBuffer(e.quads);
    if (e.scene) {
      while (OvLogObj* o = e.scene->GetLogObjs()) e.scene->DelLogObj(o);
      delete e.scene;
    }
  }
  if (w.db) w.db->Destroy();
  delete w.renderer;
  if (w.window) SDL_DestroyWindow(w.window);
  delete g_world;
  g_world = nullptr;
  SDL_Quit();
}

void ParticleFrame(Effect& e) {
  e.scene->FrameStep();
  e.scene->ForceStep(1);
  e.scene->AdvanceTime();
  glFinish();
}

void StaticFrame(World& w, Effect& e) {
  OvRendererGL& r = *w.renderer;
  const OvScene& s = *e.scene;
  r.SetBackgroundColour(s.BackgroundColour());
  r.ClearBackBuffer();
  r.BeginScene();
  r.SetViewMatrix(s.View().view);
  r.SetProjectionMatrix(s.View().projection);
  r.SetDefaultStates(false);
  r.SetWorldMatrix(nullptr);
  const OvStatePair states[] = {{RS_LIGHTING, 0},         {RS_CULLMODE, CULL_NONE}, {RS_ALPHATESTENABLE, 0},
                                {RS_ZWRITEENABLE, 0},     {RS_ALPHABLENDENABLE, 1}, {RS_SRCBLEND, BLEND_SRCALPHA},
                                {RS_DESTBLEND, BLEND_ONE}};
  for (const OvStatePair& p : states) r.SetRenderState(p.state, p.value);
  r.SetStageTextureTimesDiffuse(0);
  r.SetTextureStageState(1, TSS_COLOROP, TOP_DISABLE);
  r.SetTexture(0, nullptr);
  r.Draw(OvMakeVertexFormat(VF_XYZ | VF_DIFFUSE, 1), e.quads, nullptr, PRIM_TRIANGLELIST, 0, kParticles * 2);
  r.EndScene();
  r.ShowBackBuffer();
  glFinish();
}

double ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Time per frame since `start` (the last run of a benchmark wins).
double MeanNs(std::chrono::steady_clock::time_point start, benchmark::IterationCount n) {
  const double ns =
      double(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
  return n > 0 ? ns / double(n) : 0.0;
}
double MeanCpuNs(double start, benchmark::IterationCount n) {
  return n > 0 ? (ThreadCpuNs() - start) / double(n) : 0.0;
}

void BM_Particles(benchmark::State& state) {
  if (!g_world || !g_world->ok) {
    state.SkipWithError("no GL device");
    return;
  }
  Effect& e = g_world->effects[state.range(0)];
  const auto start = std::chrono::steady_clock::now();
  const double cpu = ThreadCpuNs();
  for (auto _ : state) ParticleFrame(e);
  e.particleNs = MeanNs(start, state.iterations());
  e.particleCpuNs = MeanCpuNs(cpu, state.iterations());
  state.SetLabel(kNames[state.range(0)]);
  state.counters["live"] = double(e.set->LiveCount());
  state.counters["drawn"] = e.clump->IsCulled() ? 0.0 : 1.0;
}

void BM_StaticQuads(benchmark::State& state) {
  if (!g_world || !g_world->ok) {
    state.SkipWithError("no GL device");
    return;
  }
  Effect& e = g_world->effects[state.range(0)];
  const auto start = std::chrono::steady_clock::now();
  const double cpu = ThreadCpuNs();
  for (auto _ : state) StaticFrame(*g_world, e);
  e.staticNs = MeanNs(start, state.iterations());
  e.staticCpuNs = MeanCpuNs(cpu, state.iterations());
  state.SetLabel(kNames[state.range(0)]);
}

BENCHMARK(BM_Particles)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_StaticQuads)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!Setup()) std::fprintf(stderr, "GL device or particle scenes could not be set up\n");
  benchmark::RunSpecifiedBenchmarks();
  if (g_world && g_world->ok) {
    for (int k = 0; k < 3; ++k) {
      const Effect& e = g_world->effects[k];
      if (e.particleNs > 0 && e.staticNs > 0) {
        std::printf("%s: %d particles updated and drawn / static quads: %.2f (calling-thread CPU time: %.2f)\n",
                    kNames[k], kParticles, e.particleNs / e.staticNs, e.particleCpuNs / e.staticCpuNs);
      }
    }
  }
  Teardown();
  benchmark::Shutdown();
  return 0;
}
