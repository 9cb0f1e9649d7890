// The lost-device protocol, volatile resources and the effect render-target
// pair.
#include <string>

#include "device_fixture.h"

namespace device_test {
namespace {

// Records its calls into a shared log.
class Recorder : public OvVolatileRes {
 public:
  Recorder(OvRendererGL* r, std::string* log, char tag) : OvVolatileRes(r), m_log(log), m_tag(tag) {}
  ~Recorder() override = default;
  void OnDeviceReset() override { *m_log += std::string("R") + m_tag; }
  void OnDeviceLost() override { *m_log += std::string("L") + m_tag; }

 private:
  std::string* m_log;
  char m_tag;
};

using LostTest = DeviceTest;

TEST_F(LostTest, LostAndResetStepsTellResourcesNewestFirst) {
  Open();
  std::string log;
  Recorder a(r, &log, 'a');
  Recorder b(r, &log, 'b');
  {
    Recorder gone(r, &log, 'x');  // unregisters when destroyed
  }
  TraceCapture trace;
  r->SimulateDeviceLost();
  EXPECT_TRUE(r->IsDeviceLost());
  EXPECT_EQ(log, "LbLa");
  EXPECT_TRUE(trace.Contains("m_OnDeviceLost()\n"));
  // A lost device is told only once.
  r->SimulateDeviceLost();
  EXPECT_EQ(log, "LbLa");

  // Presenting a lost device resets it instead.
  EXPECT_FALSE(r->ShowBackBuffer());
  EXPECT_FALSE(r->IsDeviceLost());
  EXPECT_EQ(log, "LbLaRbRa");
  EXPECT_TRUE(trace.Contains("Reset() successful"));
  EXPECT_TRUE(r->ShowBackBuffer());
}

TEST_F(LostTest, NothingIsDrawnWhileLost) {
  Open();
  Camera();
  r->SimulateDeviceLost();
  EXPECT_FALSE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  ASSERT_TRUE(r->SimulateDeviceReset());
  EXPECT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
}

TEST_F(LostTest, ResetReturnsTheDeviceToItsDefaultsAndReappliesTheFixedList) {
  Open();
  r->SetRenderState(RS_LIGHTING, 0);
  r->SetRenderState(RS_COLORVERTEX, 1);
  r->SetRenderState(RS_ALPHABLENDENABLE, 1);
  r->SetAmbient(0xFF404040u);
  OvGLTexture t;
  ASSERT_TRUE(r->CreateTexture(t, OvTexFormat::A8R8G8B8, 2, 2, 1));
  r->SetTexture(1, &t);
  r->SimulateDeviceLost();
  ASSERT_TRUE(r->SimulateDeviceReset());
  EXPECT_EQ(r->DeviceRenderState(RS_LIGHTING), 1u);
  EXPECT_EQ(r->DeviceRenderState(RS_AMBIENT), 0u);
  EXPECT_EQ(r->DeviceRenderState(RS_COLORVERTEX), 0u);
  EXPECT_EQ(r->DeviceRenderState(RS_DIFFUSEMATERIALSOURCE), uint32_t(MCS_MATERIAL));
  EXPECT_EQ(r->DeviceRenderState(RS_ALPHABLENDENABLE), 0u);
  EXPECT_EQ(r->CachedRenderState(RS_ALPHABLENDENABLE), OV_STATE_UNKNOWN);
  EXPECT_EQ(r->Texture(1), nullptr);
  r->DestroyTexture(t);
}

TEST_F(LostTest, ResourcesOutlivingTheRendererAreLeftAlone) {
  Open();
  std::string log;
  Recorder* late = new Recorder(r, &log, 'z');
  Close();
  EXPECT_EQ(late->Renderer(), nullptr);
  delete late;
  EXPECT_EQ(log, "");
}

TEST_F(LostTest, EffectTargetsAreTheLargestPowersOfTwoBelowTheFrame) {
  Open(320, 240);
  OvGLTexture *a = nullptr, *b = nullptr;
  ASSERT_TRUE(r->GetEffectTargets(&a, &b));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->width, 256);
  EXPECT_EQ(a->height, 128);
  EXPECT_EQ(b->width, 256);
  EXPECT_EQ(b->height, 128);
  // A frame side that is a power of two itself gives half of it.
  Open(256, 129);
  ASSERT_TRUE(r->GetEffectTargets(&a, &b));
  EXPECT_EQ(a->width, 128);
  EXPECT_EQ(a->height, 128);
}

TEST_F(LostTest, SquareOnlyTargetsTakeTheSmallerSide) {
  Open(320, 240);
  OvRenderCaps caps = r->Caps();
  caps.textureSquareOnly = true;
  r->SetCaps(caps);
  OvGLTexture *a = nullptr, *b = nullptr;
  ASSERT_TRUE(r->GetEffectTargets(&a, &b));
  EXPECT_EQ(a->width, 128);
  EXPECT_EQ(a->height, 128);
  EXPECT_EQ(b->width, 128);
}

TEST_F(LostTest, FailedTargetsAreDroppedTogetherAndNotRetried) {
  Open(320, 240);
  const OvRenderCaps full = r->Caps();
  OvRenderCaps caps = full;
  for (bool& f : caps.renderTargetFormat) f = false;
  r->SetCaps(caps);
  OvGLTexture *a = nullptr, *b = nullptr;
  EXPECT_FALSE(r->GetEffectTargets(&a, &b));
  r->SetCaps(full);
  EXPECT_FALSE(r->GetEffectTargets(&a, &b));
  EXPECT_EQ(a, nullptr);
}

TEST_F(LostTest, TargetsGoWithALostDeviceAndComeBackOnRequest) {
  Open(320, 240);
  OvGLTexture *a = nullptr, *b = nullptr;
  ASSERT_TRUE(r->GetEffectTargets(&a, &b));
  EXPECT_NE(a->name, 0u);
  r->SimulateDeviceLost();
  EXPECT_EQ(a->name, 0u);
  EXPECT_FALSE(r->GetEffectTargets(&a, &b));
  ASSERT_TRUE(r->SimulateDeviceReset());
  ASSERT_TRUE(r->GetEffectTargets(&a, &b));
  EXPECT_NE(a->name, 0u);
  EXPECT_EQ(a->width, 256);
}

TEST_F(LostTest, RenderTargetRowsRunTopFirstLikeOtherTextures) {
  Open(320, 240);
  OvGLTexture *a = nullptr, *b = nullptr;
  ASSERT_TRUE(r->GetEffectTargets(&a, &b));
  ASSERT_TRUE(r->SetRenderTarget(a));
  PlainStates();
  r->SetRenderState(RS_LIGHTING, 0);
  r->SetTexture(0, nullptr);
  Clear(0xFF000000u);
  // A red band over the top eighth of the target in screen coordinates.
  const float w = float(a->width);
  const ScreenVertex q[4] = {{0, 0, 0.5f, 1, 0xFFFF0000u},
                             {w, 0, 0.5f, 1, 0xFFFF0000u},
                             {0, 16, 0.5f, 1, 0xFFFF0000u},
                             {w, 16, 0.5f, 1, 0xFFFF0000u}};
  ASSERT_TRUE(r->DrawUser(OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE, 0), q, PRIM_TRIANGLESTRIP, 2));
  ASSERT_TRUE(r->SetRenderTarget(nullptr));

  // Draw the target onto the frame, texture row 0 at the top.
  Clear(0xFF000000u);
  r->SetTexture(0, a);
  r->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
  r->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
  r->SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG1);
  r->SetTextureStageState(0, TSS_ALPHAARG1, TA_TEXTURE);
  r->SetSamplerState(0, SAMP_MINFILTER, TEXF_POINT);
  r->SetSamplerState(0, SAMP_MAGFILTER, TEXF_POINT);
  r->DrawScreenRect(0, 240 - a->height, 0, 0, a->width, a->height);
  EXPECT_TRUE(Near(Pixel(10, 2), 255, 0, 0));
  EXPECT_TRUE(Near(Pixel(10, 100), 0, 0, 0));
}

}  // namespace
}  // namespace device_test
