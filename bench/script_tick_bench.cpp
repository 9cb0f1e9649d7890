// 1,000 clumps moved each frame by a Script node's OnTick (read the position,
// add a vector, write it back) against the same clumps moved by a position
// keyframe track. Both scenes step in the same run; the counters give the
// frame times in thread CPU time, their ratio and the cost of one OnTick call.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstring>

#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_logobj.h"
#include "ov_nodes.h"
#include "ov_renderer.h"
#include "ov_scene.h"
#include "ov_script_host.h"
#include "ov_script_node.h"
#include "ov_trace.h"

namespace {

constexpr int kClumps = 1000;

class NullRenderer : public OvRenderer {
 public:
  void SetBackgroundColour(uint32_t) override {}
  bool ClearBackBuffer() override { return true; }
  bool BeginScene() override { return true; }
  bool EndScene() override { return true; }
  bool ShowBackBuffer() override { return true; }
  void SetAmbient(uint32_t) override {}
  void SetDefaultStates(bool) override {}
  void EnableFog(bool) override {}
  void SetFogColour(uint32_t) override {}
  void SetFogRange(float, float, const OvMatrix&) override {}
  void EnableZWrite(bool) override {}
  void SetTexture(int, void*) override {}
  int GetFrameWidth() const override { return 640; }
  int GetFrameHeight() const override { return 480; }
  void SetViewMatrix(const OvMatrix&) override {}
  void SetProjectionMatrix(const OvMatrix&) override {}
  bool UsesVertexFog() const override { return false; }
  void RenderList(OvScene&, const OvRenderItem*, const OvLightItem*) override {}
};

// kClumps one-clump objects whose animation set holds `node`.
OvDatabase* BuildWorld(bool scripted) {
  OvDatabase* db = OvDatabase::Create();
  OvChunkArena& arena = db->Arena();
  OvDbAniSet* set = db->AddAniSet();
  if (scripted) {
    auto* node = OvArenaNew<OvScriptNode>(arena);
    static char name[] = "Mover";
    node->scriptName = name;
    db->AddAniSetEntry(*set, node);
  } else {
    OvKeyTrackNode* track = OvArenaNew<OvKeyTrackNode>(arena, OV_TRACK_POSITION);
    const int32_t times[2] = {0, 1000000};
    const float keys[6] = {0, 0, 0, 1000000, 0, 0};
    track->SetTable(OvKeyTable::Create(arena, 2, 3, times, keys, OV_KEY_REPEAT, OV_KEY_REPEAT));
    db->AddAniSetEntry(*set, track);
  }
  for (int i = 0; i < kClumps; ++i) {
    const int32_t index = int32_t(db->ClumpRecordCount());
    OvClumpRecord* c = db->AddClumpRecord("mover");
    c->id = i;
    c->aniSetIndex = 0;
    OvLogObjRecord* o = db->AddLogObjRecord("mover");
    o->id = i;
    o->firstClump = index;
  }
  return db;
}

OvScene* MakeScene(OvDatabase& db, OvRenderer& renderer) {
  auto* scene = new OvScene();
  scene->SetRenderer(&renderer);
  scene->InstantiateDatabase(db);
  OvLogObj* viewer = OvLogObj::Create();
  OvClump* cam = OvClump::Create();
  cam->SetExtension(new OvCamera(1.2f, 1.0f, 5000.0f));
  viewer->AppendClumps(cam);
  scene->AddLogObjs(viewer);
  scene->UseCamera(cam);
  scene->ResetClock();
  return scene;
}

// Thread CPU time: other work on a shared machine does not count.
double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double StepSeconds(OvScene& scene) {
  const double t0 = CpuSeconds();
  scene.FrameStep();
  scene.ForceStep(1);
  scene.AdvanceTime();
  return CpuSeconds() - t0;
}

void BM_ScriptOnTickAgainstKeyframes(benchmark::State& state) {
  OvTraceSetQuiet(true);
  OvRegisterNodeTypes();
  if (!OvScriptStart("/nonexistent")) {
    state.SkipWithError("no script host");
    return;
  }
  OvScriptRunString(
      "STEP = Vec(1, 0, 0)\n"
      "Mover = { AffectFlag = ACF_POS, OnTick = function(self, t)\n"
      "  local c = self._Clump\n"
      "  CpSetPos(c, CpGetPos(c) + STEP)\n"
      "  return ACF_POS\n"
      "end }\n");
  NullRenderer renderer;
  OvDatabase* scriptDb = BuildWorld(true);
  OvDatabase* keyDb = BuildWorld(false);
  OvScene* scripted = MakeScene(*scriptDb, renderer);
  OvScene* keyed = MakeScene(*keyDb, renderer);
  double scriptTime = 0.0, keyTime = 0.0;
  for (auto _ : state) {
    scriptTime += StepSeconds(*scripted);
    keyTime += StepSeconds(*keyed);
  }
  const double n = double(state.iterations());
  state.counters["script_frame_us"] = scriptTime / n * 1e6;
  state.counters["keyframe_frame_us"] = keyTime / n * 1e6;
  state.counters["ratio"] = keyTime > 0.0 ? scriptTime / keyTime : 0.0;
  state.counters["ns_per_OnTick"] = (scriptTime - keyTime) / n / kClumps * 1e9;
  OvClump* first = scripted->SearchClump("mover");
  if (!first || first->GetPos().x < 1.0f) state.SkipWithError("the scripts did not move the clumps");
  delete scripted;
  delete keyed;
  scriptDb->Destroy();
  keyDb->Destroy();
  OvScriptShutdown();
}

BENCHMARK(BM_ScriptOnTickAgainstKeyframes)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
