// The device-state model: caches, saved states, defaults, blend modes, fog
// range, lights and transforms.
#include "device_fixture.h"

namespace device_test {
namespace {

using StateTest = DeviceTest;

TEST_F(StateTest, RepeatedRenderStateReachesGLOnceAndAgainAfterReset) {
  Open();
  const uint64_t calls = r->DeviceStateCalls(), gl = r->GLStateCalls();
  r->SetRenderState(RS_ALPHABLENDENABLE, 1);
  r->SetRenderState(RS_ALPHABLENDENABLE, 1);
  EXPECT_EQ(r->DeviceStateCalls(), calls + 1);
  EXPECT_EQ(r->GLStateCalls(), gl + 1);
  EXPECT_EQ(r->DeviceRenderState(RS_ALPHABLENDENABLE), 1u);

  r->SimulateDeviceLost();
  ASSERT_TRUE(r->SimulateDeviceReset());
  EXPECT_EQ(r->CachedRenderState(RS_ALPHABLENDENABLE), OV_STATE_UNKNOWN);
  const uint64_t calls2 = r->DeviceStateCalls(), gl2 = r->GLStateCalls();
  r->SetRenderState(RS_ALPHABLENDENABLE, 1);
  r->SetRenderState(RS_ALPHABLENDENABLE, 1);
  EXPECT_EQ(r->DeviceStateCalls(), calls2 + 1);
  EXPECT_EQ(r->GLStateCalls(), gl2 + 1);
}

TEST_F(StateTest, StageAndSamplerCachesFilterRepeats) {
  Open();
  uint64_t calls = r->DeviceStateCalls();
  r->SetTextureStageState(2, TSS_COLOROP, TOP_ADD);
  r->SetTextureStageState(2, TSS_COLOROP, TOP_ADD);
  EXPECT_EQ(r->DeviceStateCalls(), calls + 1);
  EXPECT_EQ(r->DeviceStageState(2, TSS_COLOROP), uint32_t(TOP_ADD));

  calls = r->DeviceStateCalls();
  const uint64_t gl = r->GLStateCalls();
  r->SetSamplerState(3, SAMP_ADDRESSU, TADDRESS_CLAMP);
  r->SetSamplerState(3, SAMP_ADDRESSU, TADDRESS_CLAMP);
  EXPECT_EQ(r->DeviceStateCalls(), calls + 1);
  EXPECT_GT(r->GLStateCalls(), gl);
  const uint64_t gl2 = r->GLStateCalls();
  r->SetSamplerState(3, SAMP_ADDRESSU, TADDRESS_CLAMP);
  EXPECT_EQ(r->GLStateCalls(), gl2);

  // Out-of-range stages and samplers are ignored.
  calls = r->DeviceStateCalls();
  r->SetTextureStageState(8, TSS_COLOROP, TOP_ADD);
  r->SetSamplerState(-1, SAMP_ADDRESSU, TADDRESS_CLAMP);
  EXPECT_EQ(r->DeviceStateCalls(), calls);
}

TEST_F(StateTest, UnknownEntriesAreReadFromTheDevice) {
  Open();
  r->SimulateDeviceLost();
  ASSERT_TRUE(r->SimulateDeviceReset());
  // Z is on at the device's defaults; reading fills the cache.
  EXPECT_EQ(r->CachedRenderState(RS_ZENABLE), OV_STATE_UNKNOWN);
  EXPECT_EQ(r->GetRenderState(RS_ZENABLE), 1u);
  EXPECT_EQ(r->CachedRenderState(RS_ZENABLE), 1u);
  OvStatePair list[2] = {{RS_ZFUNC, 0}, {RS_FOGEND, 0}};
  r->GetRenderStates(list, 2);
  EXPECT_EQ(list[0].value, uint32_t(CMP_LESSEQUAL));
  EXPECT_EQ(OvStateFloat(list[1].value), 1.0f);
  EXPECT_EQ(r->GetTextureStageState(0, TSS_COLOROP), uint32_t(TOP_MODULATE));
  EXPECT_EQ(r->GetTextureStageState(1, TSS_COLOROP), uint32_t(TOP_DISABLE));
  EXPECT_EQ(r->GetSamplerState(0, SAMP_MIPFILTER), uint32_t(TEXF_NONE));
  // The value UNKNOWN itself always reaches the device.
  const uint64_t calls = r->DeviceStateCalls();
  r->SetRenderState(RS_STENCILREF, OV_STATE_UNKNOWN);
  r->SetRenderState(RS_STENCILREF, OV_STATE_UNKNOWN);
  EXPECT_EQ(r->DeviceStateCalls(), calls + 2);
}

TEST_F(StateTest, ListFormsApplyPairsInOrder) {
  Open();
  const OvStatePair list[3] = {{RS_SRCBLEND, BLEND_ONE}, {RS_DESTBLEND, BLEND_ONE}, {RS_SRCBLEND, BLEND_ZERO}};
  r->SetRenderStates(list, 3);
  EXPECT_EQ(r->DeviceRenderState(RS_SRCBLEND), uint32_t(BLEND_ZERO));
  EXPECT_EQ(r->DeviceRenderState(RS_DESTBLEND), uint32_t(BLEND_ONE));
  const OvStatePair stage[2] = {{TSS_COLOROP, TOP_SELECTARG2}, {TSS_COLORARG2, TA_TFACTOR}};
  r->SetTextureStageStates(1, stage, 2);
  EXPECT_EQ(r->GetTextureStageState(1, TSS_COLORARG2), uint32_t(TA_TFACTOR));
  const OvStatePair sampler[1] = {{SAMP_MAGFILTER, TEXF_LINEAR}};
  r->SetSamplerStates(4, sampler, 1);
  EXPECT_EQ(r->DeviceSamplerState(4, SAMP_MAGFILTER), uint32_t(TEXF_LINEAR));
}

TEST_F(StateTest, PushSetsAndPopRestoresNewestFirst) {
  Open();
  r->SetRenderState(RS_FOGCOLOR, 0xFF112233u);
  r->SetRenderState(RS_ZENABLE, 1);
  const OvStatePair first[2] = {{RS_FOGCOLOR, 0}, {RS_ZENABLE, 0}};
  r->PushRenderStates(first, 2);
  EXPECT_EQ(r->SavedStateCount(), 2);
  EXPECT_EQ(r->GetRenderState(RS_FOGCOLOR), 0u);
  EXPECT_EQ(r->GetRenderState(RS_ZENABLE), 0u);
  // The same state saved again: popping must end at the oldest value.
  const OvStatePair second[1] = {{RS_FOGCOLOR, 0xFF0000FFu}};
  r->PushRenderStates(second, 1);
  EXPECT_EQ(r->DeviceRenderState(RS_FOGCOLOR), 0xFF0000FFu);
  r->PopRenderStates();
  EXPECT_EQ(r->SavedStateCount(), 0);
  EXPECT_EQ(r->DeviceRenderState(RS_FOGCOLOR), 0xFF112233u);
  EXPECT_EQ(r->DeviceRenderState(RS_ZENABLE), 1u);
}

TEST_F(StateTest, SavedStackHoldsAtMost512Entries) {
  Open();
  r->SetRenderState(RS_STENCILREF, 7);
  std::vector<OvStatePair> list(600, OvStatePair{RS_STENCILREF, 1});
  r->PushRenderStates(list.data(), int(list.size()));
  EXPECT_EQ(r->SavedStateCount(), OV_SAVED_STATE_CAPACITY);
  EXPECT_EQ(r->GetRenderState(RS_STENCILREF), 1u);
  r->PopRenderStates();
  EXPECT_EQ(r->GetRenderState(RS_STENCILREF), 7u);
}

TEST_F(StateTest, InitAppliesLightingAmbientAndTheFixedDefaultList) {
  TraceCapture trace;
  Open();
  EXPECT_EQ(r->GetRenderState(RS_LIGHTING), 1u);
  EXPECT_EQ(r->GetRenderState(RS_AMBIENT), 0u);
  EXPECT_EQ(r->GetRenderState(RS_COLORVERTEX), 0u);
  EXPECT_EQ(r->GetRenderState(RS_DIFFUSEMATERIALSOURCE), uint32_t(MCS_MATERIAL));
  EXPECT_EQ(r->GetRenderState(RS_SPECULARMATERIALSOURCE), uint32_t(MCS_MATERIAL));
  EXPECT_EQ(r->GetRenderState(RS_AMBIENTMATERIALSOURCE), uint32_t(MCS_MATERIAL));
  EXPECT_EQ(r->GetRenderState(RS_EMISSIVEMATERIALSOURCE), uint32_t(MCS_MATERIAL));
  EXPECT_EQ(r->VertexShaderVersion(), r->Caps().vertexShaderVersion);
  EXPECT_TRUE(trace.Contains("Use table fog.\n"));
  EXPECT_TRUE(trace.Contains("Create font texture ...\n"));
  EXPECT_LT(trace.Text().find("Device capabilities:\n"), trace.Text().find("Create font texture ...\n"));
}

TEST_F(StateTest, DefaultStatesAreExactlyTheList) {
  Open();
  r->SetRenderState(RS_LIGHTING, 0);
  r->SetDefaultStates(true);
  EXPECT_EQ(r->GetRenderState(RS_LIGHTING), 1u);
  EXPECT_EQ(r->GetRenderState(RS_SPECULARENABLE), 1u);
  EXPECT_EQ(r->GetRenderState(RS_CULLMODE), uint32_t(CULL_CW));
  EXPECT_EQ(r->GetRenderState(RS_SHADEMODE), uint32_t(SHADE_GOURAUD));
  EXPECT_EQ(r->GetTextureStageState(0, TSS_COLOROP), uint32_t(TOP_MODULATE));
  EXPECT_EQ(r->GetTextureStageState(0, TSS_COLORARG1), uint32_t(TA_TEXTURE));
  EXPECT_EQ(r->GetTextureStageState(0, TSS_COLORARG2), uint32_t(TA_DIFFUSE));
  EXPECT_EQ(r->GetTextureStageState(0, TSS_ALPHAOP), uint32_t(TOP_MODULATE));
  EXPECT_EQ(r->GetTextureStageState(0, TSS_ALPHAARG1), uint32_t(TA_TEXTURE));
  EXPECT_EQ(r->GetTextureStageState(0, TSS_ALPHAARG2), uint32_t(TA_DIFFUSE));
  EXPECT_EQ(r->GetTextureStageState(1, TSS_COLOROP), uint32_t(TOP_DISABLE));
  for (int s = 0; s < OV_MAX_STAGES; ++s) {
    EXPECT_EQ(r->GetSamplerState(s, SAMP_MAGFILTER), uint32_t(TEXF_LINEAR));
    EXPECT_EQ(r->GetSamplerState(s, SAMP_MINFILTER), uint32_t(TEXF_LINEAR));
    EXPECT_EQ(r->GetSamplerState(s, SAMP_MIPFILTER), uint32_t(TEXF_LINEAR));
    EXPECT_EQ(r->GetSamplerState(s, SAMP_MIPMAPLODBIAS), OvFloatState(0.0f));
  }
  EXPECT_EQ(r->GetRenderState(RS_WRAP0), 0u);
  EXPECT_EQ(r->GetSamplerState(0, SAMP_ADDRESSU), uint32_t(TADDRESS_WRAP));
  EXPECT_EQ(r->GetSamplerState(0, SAMP_ADDRESSV), uint32_t(TADDRESS_WRAP));
  EXPECT_EQ(r->GetRenderState(RS_DITHERENABLE), 1u);
  EXPECT_EQ(r->GetRenderState(RS_ZENABLE), 1u);
  EXPECT_EQ(r->GetRenderState(RS_ZFUNC), uint32_t(CMP_LESSEQUAL));
  EXPECT_EQ(r->GetRenderState(RS_ALPHATESTENABLE), 1u);
  EXPECT_EQ(r->GetRenderState(RS_ALPHAREF), 128u);
  EXPECT_EQ(r->GetRenderState(RS_ALPHAFUNC), uint32_t(CMP_GREATER));
  EXPECT_EQ(r->GetRenderState(RS_FILLMODE), uint32_t(FILL_SOLID));

  // Without specular, lighting is left as it was.
  r->SetRenderState(RS_LIGHTING, 0);
  r->SetDefaultStates(false);
  EXPECT_EQ(r->GetRenderState(RS_LIGHTING), 0u);
  EXPECT_EQ(r->GetRenderState(RS_SPECULARENABLE), 0u);
}

TEST_F(StateTest, DefaultStatesWithoutLinearFilteringAndInWireframe) {
  Open(kWidth, kHeight, true);
  OvRenderCaps caps = r->Caps();
  caps.linearFilter = false;
  r->SetCaps(caps);
  r->SetDefaultStates(false);
  for (int s = 0; s < OV_MAX_STAGES; ++s) {
    EXPECT_EQ(r->GetSamplerState(s, SAMP_MAGFILTER), uint32_t(TEXF_POINT));
    EXPECT_EQ(r->GetSamplerState(s, SAMP_MINFILTER), uint32_t(TEXF_POINT));
    EXPECT_EQ(r->GetSamplerState(s, SAMP_MIPFILTER), uint32_t(TEXF_NONE));
  }
  EXPECT_EQ(r->GetRenderState(RS_FILLMODE), uint32_t(FILL_WIREFRAME));
}

TEST_F(StateTest, BlendModes) {
  Open();
  r->SetBlendMode(1);
  EXPECT_EQ(r->GetRenderState(RS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(r->GetRenderState(RS_SRCBLEND), uint32_t(BLEND_SRCALPHA));
  EXPECT_EQ(r->GetRenderState(RS_DESTBLEND), uint32_t(BLEND_INVSRCALPHA));
  r->SetBlendMode(0);
  EXPECT_EQ(r->GetRenderState(RS_ALPHABLENDENABLE), 0u);

  // Additive without fog: nothing saved.
  r->EnableFog(false);
  r->SetBlendMode(2);
  EXPECT_EQ(r->GetRenderState(RS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(r->GetRenderState(RS_SRCBLEND), uint32_t(BLEND_SRCALPHA));
  EXPECT_EQ(r->GetRenderState(RS_DESTBLEND), uint32_t(BLEND_ONE));
  EXPECT_EQ(r->SavedStateCount(), 0);
}

TEST_F(StateTest, AdditiveBlendWithFogPushesBlackFogColour) {
  Open();
  r->EnableFog(true);
  r->SetFogColour(0xFF8090A0u);
  r->SetBlendMode(2);
  EXPECT_EQ(r->SavedStateCount(), 1);
  EXPECT_EQ(r->FogColour(), 0u);
  r->PopRenderStates();
  EXPECT_EQ(r->FogColour(), 0xFF8090A0u);
}

TEST_F(StateTest, FogRangeUnchangedForPerspectiveWithEyeDepthFog) {
  Open();
  Camera();
  ASSERT_FALSE(r->UsesVertexFog());
  r->SetFogRange(10.0f, 50.0f, r->ProjectionMatrix());
  EXPECT_EQ(r->GetRenderState(RS_FOGTABLEMODE), uint32_t(FOG_LINEAR));
  EXPECT_EQ(OvStateFloat(r->GetRenderState(RS_FOGSTART)), 10.0f);
  EXPECT_EQ(OvStateFloat(r->GetRenderState(RS_FOGEND)), 50.0f);
}

TEST_F(StateTest, FogRangeProjectedForOtherProjections) {
  Open();
  // An orthographic projection as the camera makes it (m33 = h).
  OvMatrix p;
  OvMatrixIdentity(p);
  const float h = 2.0f, n = 1.0f, f = 101.0f;
  p.m[2][2] = h / (f - n);
  p.m[3][2] = -h * n / (f - n);
  p.m[3][3] = h;
  r->SetFogRange(11.0f, 51.0f, p);
  EXPECT_EQ(r->GetRenderState(RS_FOGTABLEMODE), uint32_t(FOG_LINEAR));
  EXPECT_FLOAT_EQ(OvStateFloat(r->GetRenderState(RS_FOGSTART)), (11.0f * p.m[2][2] + p.m[3][2]) / h);
  EXPECT_FLOAT_EQ(OvStateFloat(r->GetRenderState(RS_FOGEND)), (51.0f * p.m[2][2] + p.m[3][2]) / h);

  // No eye-depth fog: a perspective range is projected as well.
  OvRenderCaps caps = r->Caps();
  caps.fogW = false;
  caps.fogVertex = false;
  r->SetCaps(caps);
  ASSERT_FALSE(r->UsesVertexFog());
  Camera();
  const OvMatrix& q = r->ProjectionMatrix();
  r->SetFogRange(10.0f, 50.0f, q);
  EXPECT_FLOAT_EQ(OvStateFloat(r->GetRenderState(RS_FOGSTART)), (10.0f * q.m[2][2] + q.m[3][2]) / 10.0f);
  EXPECT_FLOAT_EQ(OvStateFloat(r->GetRenderState(RS_FOGEND)), (50.0f * q.m[2][2] + q.m[3][2]) / 50.0f);
}

TEST_F(StateTest, VertexFogWhenTheCapsLackEyeDepthTableFog) {
  Open();
  OvRenderCaps caps = r->Caps();
  caps.fogW = false;
  r->SetCaps(caps);
  ASSERT_TRUE(r->UsesVertexFog());
  Camera();
  r->SetFogRange(10.0f, 50.0f, r->ProjectionMatrix());
  EXPECT_EQ(r->GetRenderState(RS_FOGTABLEMODE), uint32_t(FOG_NONE));
  EXPECT_EQ(r->GetRenderState(RS_FOGVERTEXMODE), uint32_t(FOG_LINEAR));
  EXPECT_EQ(OvStateFloat(r->GetRenderState(RS_FOGSTART)), 10.0f);
  EXPECT_EQ(OvStateFloat(r->GetRenderState(RS_FOGEND)), 50.0f);
}

TEST_F(StateTest, LightTypesAndLightingSwitch) {
  Open();
  OvLightData light;
  light.type = 7;
  ASSERT_TRUE(r->SetLight(2, light));
  EXPECT_EQ(r->Light(2).type, OV_DEVLIGHT_POINT);
  light.type = OV_DEVLIGHT_SPOT;
  ASSERT_TRUE(r->SetLight(3, light));
  EXPECT_EQ(r->Light(3).type, OV_DEVLIGHT_SPOT);
  EXPECT_FALSE(r->SetLight(8, light));
  r->EnableLight(3, true);
  EXPECT_TRUE(r->LightEnabled(3));
  EXPECT_FALSE(r->LightEnabled(2));

  r->EnableLighting(false);
  EXPECT_EQ(r->GetRenderState(RS_LIGHTING), 0u);
  EXPECT_EQ(r->GetRenderState(RS_NORMALIZENORMALS), 0u);
  r->EnableLighting(true);
  EXPECT_EQ(r->GetRenderState(RS_LIGHTING), 1u);
  EXPECT_EQ(r->GetRenderState(RS_NORMALIZENORMALS), 1u);

  r->SetActiveLight(&light, 4, 5);
  ASSERT_NE(r->GetActiveLight(), nullptr);
  EXPECT_EQ(r->GetActiveLight()->type, OV_DEVLIGHT_SPOT);
  EXPECT_EQ(r->GetValue0(), 4);
  EXPECT_EQ(r->GetValue1(), 5);
  r->SetActiveLight(nullptr, 0, 0);
  EXPECT_EQ(r->GetActiveLight(), nullptr);
}

TEST_F(StateTest, ViewMatrixGivesCameraPositionAndProducts) {
  Open();
  // A camera at (3, 4, 5) looking along +z: the view is a translation.
  OvMatrix view;
  OvMatrixIdentity(view);
  view.m[3][0] = -3, view.m[3][1] = -4, view.m[3][2] = -5;
  Camera();
  r->SetViewMatrix(view);
  EXPECT_FLOAT_EQ(r->CameraPosition().x, 3.0f);
  EXPECT_FLOAT_EQ(r->CameraPosition().y, 4.0f);
  EXPECT_FLOAT_EQ(r->CameraPosition().z, 5.0f);
  const OvMatrix& p = r->ProjectionMatrix();
  const OvMatrix& vp = r->ViewProjMatrix();
  // Row 3 of view * projection is the translation pushed through p.
  EXPECT_FLOAT_EQ(vp.m[3][0], -3.0f * p.m[0][0]);
  EXPECT_FLOAT_EQ(vp.m[3][2], -5.0f * p.m[2][2] + p.m[3][2]);
  EXPECT_FLOAT_EQ(vp.m[3][3], -5.0f);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(r->ViewProjTransposed().m[i][j], vp.m[j][i]);
}

TEST_F(StateTest, WorldMatrixKeepsThePointer) {
  Open();
  OvMatrix world;
  OvMatrixIdentity(world);
  world.m[3][0] = 2;
  r->SetWorldMatrix(&world);
  EXPECT_EQ(r->WorldMatrixPointer(), &world);
  EXPECT_EQ(r->WorldMatrix().m[3][0], 2.0f);
  r->SetWorldMatrix(nullptr);
  EXPECT_EQ(r->WorldMatrix().m[3][0], 0.0f);
  r->SetWorldMode(1);
  r->ResetWorldMode();
  EXPECT_EQ(r->WorldMode(), 0);
}

TEST_F(StateTest, TextureCacheAndForgettingADestroyedTexture) {
  Open();
  OvGLTexture a, b;
  ASSERT_TRUE(r->CreateTexture(a, OvTexFormat::A8R8G8B8, 4, 4, 1));
  ASSERT_TRUE(r->CreateTexture(b, OvTexFormat::A8R8G8B8, 4, 4, 1));
  uint64_t calls = r->DeviceStateCalls();
  r->SetTexture(0, &a);
  r->SetTexture(0, &a);
  r->SetTexture(3, &a);
  EXPECT_EQ(r->DeviceStateCalls(), calls + 2);
  EXPECT_EQ(r->Texture(3), &a);

  r->DestroyTexture(a);
  EXPECT_EQ(a.name, 0u);
  EXPECT_EQ(r->Texture(0), nullptr);
  EXPECT_EQ(r->Texture(3), nullptr);
  // The stage is not yet known: even a null texture reaches the device.
  calls = r->DeviceStateCalls();
  r->SetTexture(0, nullptr);
  EXPECT_EQ(r->DeviceStateCalls(), calls + 1);
  r->SetTexture(0, &b);
  EXPECT_EQ(r->Texture(0), &b);
  r->DestroyTexture(b);
}

TEST_F(StateTest, DisableStageTurnsOffTheStageAfterTheLast) {
  Open();
  r->SetTextureStageState(2, TSS_COLOROP, TOP_MODULATE);
  r->DisableStage(1);
  EXPECT_EQ(r->GetTextureStageState(2, TSS_COLOROP), uint32_t(TOP_DISABLE));
  r->SetTextureStageState(7, TSS_COLOROP, TOP_MODULATE);
  r->DisableStage(7);  // no stage after the last one
  EXPECT_EQ(r->GetTextureStageState(7, TSS_COLOROP), uint32_t(TOP_MODULATE));
}

TEST_F(StateTest, TextureLimitAndCullDefault) {
  Open();
  EXPECT_EQ(r->GetMaxTextures(), r->Caps().maxTextureStages);
  r->SetTextureLimit(1);
  EXPECT_EQ(r->GetMaxTextures(), 1);
  r->SetTextureLimit(0);
  EXPECT_EQ(r->GetMaxTextures(), r->Caps().maxTextureStages);
  EXPECT_FALSE(r->IsCullCCW());
  r->SetCullCCW(true);
  EXPECT_TRUE(r->IsCullCCW());
  EXPECT_EQ(r->DefaultCullMode(), uint32_t(CULL_CCW));
}

TEST_F(StateTest, ChangeCountersRestartEachFrame) {
  Open();
  r->SetRenderState(RS_STENCILREF, 3);
  r->SetTextureStageState(0, TSS_COLOROP, TOP_ADD);
  EXPECT_GT(r->RenderStateChanges(), 0);
  EXPECT_GT(r->StageStateChanges(), 0);
  ASSERT_TRUE(r->EndScene());
  ASSERT_TRUE(r->BeginScene());
  EXPECT_EQ(r->RenderStateChanges(), 0);
  EXPECT_EQ(r->StageStateChanges(), 0);
  r->SetRenderState(RS_STENCILREF, 3);  // cached: no change
  EXPECT_EQ(r->RenderStateChanges(), 0);
}

TEST_F(StateTest, AmbientKeepsWordFloatsAndState) {
  Open();
  r->SetAmbient(0x80FF4000u);
  EXPECT_EQ(r->AmbientColour(), 0x80FF4000u);
  EXPECT_NEAR(r->AmbientFloats()[0], 128 * 0.003921569f, 1e-6);
  EXPECT_NEAR(r->AmbientFloats()[1], 1.0f, 1e-6);
  EXPECT_NEAR(r->AmbientFloats()[2], 64 * 0.003921569f, 1e-6);
  EXPECT_EQ(r->GetRenderState(RS_AMBIENT), 0x80FF4000u);
}

}  // namespace
}  // namespace device_test
