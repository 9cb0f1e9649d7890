// Fuzz target: any byte string handed to the content loader must give trace
// lines and a partly loaded or empty database, never a crash or a hang. Every
// record type is registered, so node records reach their own readers. What
// loaded is written back to memory, built into a scene and run for a few
// frames on a renderer that only records, so scene construction, the
// controllers and the per-frame code see the hostile records too.
#include <cstddef>
#include <cstdint>

#include "ov_database.h"
#include "ov_nodes.h"
#include "ov_renderer.h"
#include "ov_scene.h"
#include "ov_scene_nodes.h"
#include "ov_std_material.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

class CountingRenderer : public OvRenderer {
 public:
  void SetBackgroundColour(uint32_t) override { ++calls; }
  bool ClearBackBuffer() override { return ++calls > 0; }
  bool BeginScene() override { return ++calls > 0; }
  bool EndScene() override { return ++calls > 0; }
  bool ShowBackBuffer() override { return ++calls > 0; }
  void SetAmbient(uint32_t) override { ++calls; }
  void SetDefaultStates(bool) override { ++calls; }
  void EnableFog(bool) override { ++calls; }
  void SetFogColour(uint32_t) override { ++calls; }
  void SetFogRange(float, float, const OvMatrix&) override { ++calls; }
  void EnableZWrite(bool) override { ++calls; }
  void SetTexture(int, void*) override { ++calls; }
  int GetFrameWidth() const override { return 320; }
  int GetFrameHeight() const override { return 240; }
  void SetViewMatrix(const OvMatrix&) override { ++calls; }
  void SetProjectionMatrix(const OvMatrix&) override { ++calls; }
  bool UsesVertexFog() const override { return false; }
  void RenderList(OvScene&, const OvRenderItem* items, const OvLightItem* lights) override {
    // Walk what culling produced, as a device would.
    for (; items; items = items->next) calls += items->clump != nullptr;
    for (; lights; lights = lights->next) calls += lights->light != nullptr;
  }
  uint64_t calls = 0;
};

// Content under test never starts programs or opens dialogs.
bool NoProgram(void*, const OvExecRequest&) { return true; }
void NoMessage(void*, const char*, const char*) {}

uint32_t StillClock(void*) { return 1000; }

bool Setup() {
  OvTraceSetQuiet(true);
  OvRegisterNodeTypes();
  OvRegisterRendererNodeTypes();
  OvRegisterSceneExtensionTypes();
  OvRegisterStdMaterialType();
  OvSetExecHandlers(NoProgram, NoMessage, nullptr);
  OvSetExecPolicy(false, "");
  return true;
}

constexpr int kFrames = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Setup();
  (void)ready;
  OvDatabase* db = OvDatabase::Create();
  if (db == nullptr) return 0;
  db->LoadMemory(data, size, "fuzz");
  OvStream out;
  if (out.OpenMemoryWrite()) db->Write(out);
  out.Close();
  {
    CountingRenderer renderer;
    OvScene scene;
    scene.SetRenderer(&renderer);
    scene.SetWallClock(StillClock, nullptr);
    scene.InstantiateDatabase(*db);
    scene.ResetClock();
    for (int frame = 0; frame < kFrames; ++frame) {
      // Uneven steps reach both the ordinary and the catching-up paths.
      scene.ForceStep(frame == 2 ? 7 : 1);
      scene.Frame();
    }
  }
  db->Destroy();
  return 0;
}
