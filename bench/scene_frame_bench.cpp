// Cost of one scene frame step against the number of logical objects, each
// with a three-clump tree whose root plays a looping position track. The
// renderer does nothing, so this is the scene's own work: ticking,
// controllers, camera, culling and the per-frame lists.
#include <benchmark/benchmark.h>

#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_keyframe.h"
#include "ov_logobj.h"
#include "ov_renderer.h"
#include "ov_scene.h"
#include "ov_trace.h"

namespace {

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
  void RenderList(OvScene&, const OvRenderItem* items, const OvLightItem*) override {
    for (; items; items = items->next) benchmark::DoNotOptimize(items->clump);
  }
};

OvDatabase* BuildWorld(int objects) {
  OvDatabase* db = OvDatabase::Create();
  OvChunkArena& arena = db->Arena();

  OvMesh* mesh = db->AddMesh();
  mesh->vertexCount = 4;
  mesh->positions = OvArenaNewArray<float>(arena, 12);
  const float p[12] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
  for (int i = 0; i < 12; ++i) mesh->positions[i] = p[i];
  mesh->triangleCount = 2;
  mesh->indexCount = 6;
  mesh->indices = OvArenaNewArray<uint32_t>(arena, 6);
  const uint32_t idx[6] = {0, 1, 2, 0, 2, 3};
  for (int i = 0; i < 6; ++i) mesh->indices[i] = idx[i];
  mesh->bounds = OvArenaNewArray<float>(arena, OV_MESH_BOUNDS_FLOATS);
  mesh->bounds[3] = 1.5f;

  OvDbAniSet* set = db->AddAniSet();
  OvKeyTrackNode* track = OvArenaNew<OvKeyTrackNode>(arena, OV_TRACK_POSITION);
  const int32_t times[3] = {0, 60, 120};
  const float keys[9] = {0, 0, 0, 10, 0, 5, 0, 0, 0};
  track->SetTable(OvKeyTable::Create(arena, 3, 3, times, keys, OV_KEY_REPEAT, OV_KEY_REPEAT));
  db->AddAniSetEntry(*set, track);

  for (int i = 0; i < objects; ++i) {
    int32_t base = int32_t(db->ClumpRecordCount());
    OvClumpRecord* root = db->AddClumpRecord("root");
    OvClumpRecord* a = db->AddClumpRecord("arm");
    OvClumpRecord* b = db->AddClumpRecord("leg");
    root->id = i;
    root->meshIndex = 0;
    root->aniSetIndex = 0;
    root->firstChild = base + 1;
    root->position[0] = float(i % 100) * 3.0f;
    root->position[1] = float(i / 100) * 3.0f;
    a->meshIndex = 0;
    a->nextBrother = base + 2;
    a->position[2] = 1;
    b->meshIndex = 0;
    b->position[2] = -1;
    OvLogObjRecord* o = db->AddLogObjRecord("thing");
    o->id = i;
    o->firstClump = base;
  }
  return db;
}

void BM_SceneFrameStep(benchmark::State& state) {
  OvTraceSetQuiet(true);
  const int objects = int(state.range(0));
  OvDatabase* db = BuildWorld(objects);
  NullRenderer renderer;
  OvScene* scene = new OvScene();
  scene->SetRenderer(&renderer);
  if (!scene->InstantiateDatabase(*db)) state.SkipWithError("instantiate failed");

  OvLogObj* viewer = OvLogObj::Create();
  OvClump* cam = OvClump::Create();
  cam->SetPos({150, -200, 100});
  cam->SetExtension(new OvCamera(1.2f, 1.0f, 5000.0f));
  viewer->AppendClumps(cam);
  scene->AddLogObjs(viewer);
  scene->UseCamera(cam);
  scene->ResetClock();

  for (auto _ : state) {
    scene->FrameStep();
    scene->ForceStep(1);
    scene->AdvanceTime();
  }
  state.counters["ns_per_object"] = benchmark::Counter(double(state.iterations()) * objects,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  delete scene;
  db->Destroy();
}

BENCHMARK(BM_SceneFrameStep)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
