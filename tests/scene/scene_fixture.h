// Shared pieces of the scene tests: a renderer that records the calls made
// on it, a log shared by hooks and controllers, a controlled wall clock,
// scripted controllers and small builders for objects, cameras and meshes.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_renderer.h"
#include "ov_scene.h"

using CallLog = std::vector<std::string>;

class RecordingRenderer : public OvRenderer {
 public:
  explicit RecordingRenderer(CallLog* log) : m_log(log) {}
  void SetBackgroundColour(uint32_t) override { Log("SetBackgroundColour"); }
  bool ClearBackBuffer() override { return Log("ClearBackBuffer"); }
  bool BeginScene() override { return Log("BeginScene"); }
  bool EndScene() override { return Log("EndScene"); }
  bool ShowBackBuffer() override { return Log("ShowBackBuffer"); }
  void SetAmbient(uint32_t) override { Log("SetAmbient"); }
  void SetDefaultStates(bool lighting) override { Log(lighting ? "SetDefaultStates(1)" : "SetDefaultStates(0)"); }
  void EnableFog(bool on) override { Log(on ? "EnableFog(1)" : "EnableFog(0)"); }
  void SetFogColour(uint32_t) override { Log("SetFogColour"); }
  void SetFogRange(float, float, const OvMatrix&) override { Log("SetFogRange"); }
  void EnableZWrite(bool on) override { Log(on ? "EnableZWrite(1)" : "EnableZWrite(0)"); }
  void SetTexture(int stage, void* texture) override {
    Log("SetTexture(" + std::to_string(stage) + (texture ? ",tex)" : ",none)"));
  }
  int GetFrameWidth() const override { return width; }
  int GetFrameHeight() const override { return height; }
  void SetViewMatrix(const OvMatrix&) override { Log("SetViewMatrix"); }
  void SetProjectionMatrix(const OvMatrix&) override { Log("SetProjectionMatrix"); }
  bool UsesVertexFog() const override { return false; }
  void RenderList(OvScene&, const OvRenderItem* items, const OvLightItem* lights) override {
    rendered.clear();
    for (; items; items = items->next) rendered.push_back(items->clump);
    lightCount = 0;
    for (; lights; lights = lights->next) ++lightCount;
    Log("RenderList");
  }

  int width = 640;
  int height = 480;
  std::vector<OvClump*> rendered;
  int lightCount = 0;
  bool quiet = false;

 private:
  bool Log(const std::string& s) {
    if (m_log && !quiet) m_log->push_back(s);
    return true;
  }
  CallLog* m_log;
};

// A wall clock that moves by `step` ms every time it is read.
struct FakeClock {
  uint32_t now = 1000;
  uint32_t step = 1;
  int reads = 0;
  static uint32_t Read(void* self) {
    auto* c = static_cast<FakeClock*>(self);
    ++c->reads;
    const uint32_t t = c->now;
    c->now += c->step;
    return t;
  }
};

// A controller whose operations are test code. Owned: its clump frees it.
class ScriptedCtrl : public OvAniCtrl {
 public:
  std::function<void(ScriptedCtrl&, OvClump*, int32_t)> onAnimate;
  std::function<void(ScriptedCtrl&, OvClump*, int32_t, int)> onPass;
  std::function<void(ScriptedCtrl&, OvClump*, int32_t)> onHrchy;
  std::function<void()> onDestroy;
  uint32_t channels = 0;
  int32_t id = 0;

  static ScriptedCtrl* Make() {
    auto* c = new ScriptedCtrl();
    c->SetOwned(true);
    return c;
  }
  ~ScriptedCtrl() override {
    if (onDestroy) onDestroy();
  }
  uint32_t GetChannelMask() const override { return channels; }
  int32_t GetCtrlId() const override { return id; }
  void Animate(OvClump* clump, int32_t time) override {
    if (onAnimate) onAnimate(*this, clump, time);
  }
  void TwoPass(OvClump* clump, int32_t value, int point) override {
    if (onPass) onPass(*this, clump, value, point);
  }
  void Hierarchy(OvClump* clump, int32_t value) override {
    if (onHrchy) onHrchy(*this, clump, value);
  }
};

class LoggingHook : public OvSceneHook {
 public:
  LoggingHook(CallLog* log, std::string name, int runs = -1) : m_log(log), m_name(std::move(name)), m_runs(runs) {}
  bool Run(OvScene&) override {
    m_log->push_back(m_name);
    return m_runs < 0 || --m_runs > 0;
  }
  void ReleaseHook() override { released = true; }
  bool released = false;

 private:
  CallLog* m_log;
  std::string m_name;
  int m_runs;
};

// An object with one clump, added to the scene.
inline OvLogObj* AddObject(OvScene& scene, const char* name, OvClump** clumpOut = nullptr,
                           const OvVector& pos = {0, 0, 0}) {
  OvLogObj* o = OvLogObj::Create();
  OvClump* c = OvClump::Create();
  c->SetName(name);
  c->SetPos(pos);
  o->SetName(name);
  o->AppendClumps(c);
  scene.AddLogObjs(o);
  if (clumpOut) *clumpOut = c;
  return o;
}

// A perspective camera object at pos looking along -z, made the scene camera.
inline OvClump* AddCamera(OvScene& scene, float fov = 1.5707964f, const OvVector& pos = {0, 0, 0}) {
  OvClump* c = nullptr;
  AddObject(scene, "camera", &c, pos);
  c->SetExtension(new OvCamera(fov, 1.0f, 1000.0f));
  c->CalcToWorldMatrix();
  EXPECT_TRUE(scene.UseCamera(c));
  return c;
}

// A square of half size h in the z = 0 plane, two triangles, with a
// bounding sphere unless told otherwise.
inline OvMesh* MakeQuadMesh(OvDatabase& db, float h, bool withSphere = true) {
  OvMesh* mesh = db.AddMesh();
  OvChunkArena& arena = db.Arena();
  mesh->vertexCount = 4;
  mesh->positions = OvArenaNewArray<float>(arena, 12);
  const float p[12] = {-h, -h, 0, h, -h, 0, h, h, 0, -h, h, 0};
  for (int i = 0; i < 12; ++i) mesh->positions[i] = p[i];
  mesh->triangleCount = 2;
  mesh->indexCount = 6;
  mesh->indices = OvArenaNewArray<uint32_t>(arena, 6);
  const uint32_t idx[6] = {0, 1, 2, 0, 2, 3};
  for (int i = 0; i < 6; ++i) mesh->indices[i] = idx[i];
  if (withSphere) {
    mesh->bounds = OvArenaNewArray<float>(arena, OV_MESH_BOUNDS_FLOATS);
    mesh->bounds[3] = h * 1.4142136f;
  }
  return mesh;
}

// Runs one frame step with a forced step of `units`.
inline void StepFrame(OvScene& scene, int32_t units = 1) {
  scene.FrameStep();
  scene.ForceStep(units);
  scene.AdvanceTime();
}

inline bool Near(const OvVector& a, const OvVector& b, float eps = 1e-3f) {
  return std::fabs(a.x - b.x) < eps && std::fabs(a.y - b.y) < eps && std::fabs(a.z - b.z) < eps;
}

inline bool InScene(const OvScene& scene, const OvLogObj* object) {
  std::function<bool(const OvLogObj*)> walk = [&](const OvLogObj* o) {
    for (; o; o = o->LoGetNextBrother()) {
      if (o == object || walk(o->LoGetChild())) return true;
    }
    return false;
  };
  return walk(scene.GetLogObjs());
}
