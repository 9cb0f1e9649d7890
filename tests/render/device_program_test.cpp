// Generated programs: one compile per state combination, every combine and
// generation mode compiles, uniform-only changes never recompile.
#include <string>

#include "device_fixture.h"
#include "ov_gl_program.h"

namespace device_test {
namespace {

using ProgramTest = DeviceTest;

TEST_F(ProgramTest, SameStateCompilesOnceDifferentStatesDiffer) {
  Open();
  Camera();
  PlainStates();
  r->EnableLighting(false);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  const int compiles = r->ProgramCompiles();
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFF00FF00u));
  EXPECT_EQ(r->ProgramCompiles(), compiles);

  // Uniform-only changes keep the program.
  r->SetFogColour(0xFF123456u);
  r->SetRenderState(RS_TEXTUREFACTOR, 0x80808080u);
  r->SetRenderState(RS_ALPHAREF, 3);
  r->SetAmbient(0xFF202020u);
  OvMatrix world;
  OvMatrixIdentity(world);
  world.m[3][0] = 1;
  r->SetWorldMatrix(&world);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  EXPECT_EQ(r->ProgramCompiles(), compiles);

  // A different combination compiles once, and going back costs nothing.
  r->SetRenderState(RS_ALPHATESTENABLE, 1);
  r->SetRenderState(RS_ALPHAFUNC, CMP_LESS);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  EXPECT_EQ(r->ProgramCompiles(), compiles + 1);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  r->SetRenderState(RS_ALPHATESTENABLE, 0);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  r->SetRenderState(RS_ALPHATESTENABLE, 1);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  EXPECT_EQ(r->ProgramCompiles(), compiles + 1);

  // Another vertex layout is another program.
  ASSERT_TRUE(DrawLitQuad(5.0f));
  EXPECT_EQ(r->ProgramCompiles(), compiles + 2);
  EXPECT_EQ(r->ProgramCount(), r->ProgramCompiles());
}

// Lit programs are built for the enabled lights and their types: a change
// of either picks another program (compiled once), frame after frame.
TEST_F(ProgramTest, LitProgramsFollowTheEnabledLightsAndTheirTypes) {
  Open();
  Camera();
  PlainStates();
  r->SetAmbient(0);
  r->SetMaterial({{1, 1, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}, 0});
  r->EnableLighting(true);
  OvLightData directional;
  directional.type = OV_DEVLIGHT_DIRECTIONAL;
  directional.direction = {0, 0, 1};
  directional.diffuse[0] = directional.diffuse[1] = directional.diffuse[2] = 0.5f;
  OvLightData shortPoint = directional;  // the quad lies past its range
  shortPoint.type = OV_DEVLIGHT_POINT;
  shortPoint.range = 1.0f;
  struct Step {
    const OvLightData* light0;
    bool second;  // light 1, directional, on as well
    int grey;
    int newCompiles;
  };
  const Step steps[] = {{&directional, false, 128, 1},
                        {&shortPoint, false, 0, 1},
                        {&directional, false, 128, 0},
                        {&directional, true, 255, 1},
                        {&directional, false, 128, 0}};
  ASSERT_TRUE(r->SetLight(1, directional));
  r->EnableLight(0, true);
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "light 0 type " << s.light0->type << ", second " << s.second);
    const int compiles = r->ProgramCompiles();
    ASSERT_TRUE(r->SetLight(0, *s.light0));
    r->EnableLight(1, s.second);
    Clear(0xFF000000u);
    ASSERT_TRUE(DrawLitQuad(5.0f));
    EXPECT_TRUE(Near(Centre(), s.grey, s.grey, s.grey));
    EXPECT_EQ(r->ProgramCompiles(), compiles + s.newCompiles);
  }
}

TEST_F(ProgramTest, StatesThatDoNotReachTheProgramShareIt) {
  Open();
  Camera();
  PlainStates();
  r->EnableLighting(false);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  const int compiles = r->ProgramCompiles();
  // Stage 1 is off, so its arguments do not matter; nor does blending.
  r->SetTextureStageState(1, TSS_COLORARG1, TA_SPECULAR);
  r->SetTextureStageState(2, TSS_COLOROP, TOP_ADD);
  r->SetBlendMode(1);
  r->SetRenderState(RS_ZENABLE, 1);
  // Lighting off: its colour sources are not used.
  r->SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_COLOR2);
  ASSERT_TRUE(DrawColourQuad(5.0f, 0xFFFFFFFFu));
  EXPECT_EQ(r->ProgramCompiles(), compiles);
}

TEST_F(ProgramTest, EveryCombineAndGenerationModeCompiles) {
  TraceCapture trace;
  Open();
  Camera();
  PlainStates();
  OvGLTexture t;
  const uint32_t px[4] = {0xFFFFFFFFu, 0xFF000000u, 0xFF808080u, 0x80FF0000u};
  ASSERT_TRUE(r->CreateTexture(t, OvTexFormat::A8R8G8B8, 2, 2, 1));
  ASSERT_TRUE(r->UploadTextureLevel(t, 0, px));
  r->SetTexture(0, &t);
  r->SetTexture(1, &t);
  const uint32_t args[] = {TA_DIFFUSE,
                           TA_CURRENT,
                           TA_TEXTURE,
                           TA_TFACTOR,
                           TA_SPECULAR,
                           TA_TEMP,
                           TA_TEXTURE | TA_COMPLEMENT,
                           TA_DIFFUSE | TA_ALPHAREPLICATE};
  int drawn = 0;
  for (uint32_t op = TOP_SELECTARG1; op < TOP_OP_END; ++op) {
    r->SetTextureStageState(0, TSS_COLOROP, op);
    r->SetTextureStageState(0, TSS_COLORARG1, args[op % 8]);
    r->SetTextureStageState(0, TSS_COLORARG2, args[(op + 3) % 8]);
    r->SetTextureStageState(0, TSS_ALPHAOP, op);
    r->SetTextureStageState(0, TSS_ALPHAARG1, args[(op + 1) % 8]);
    r->SetTextureStageState(0, TSS_ALPHAARG2, TA_TEXTURE);
    r->SetTextureStageState(1, TSS_COLOROP, op);
    r->SetTextureStageState(1, TSS_TEXCOORDINDEX, (op % 5) << 16);
    r->SetTextureStageState(1, TSS_TEXTURETRANSFORMFLAGS, (op % 5) | (op % 2 ? uint32_t(TTFF_PROJECTED) : 0u));
    r->SetRenderState(RS_SHADEMODE, op % 2 ? SHADE_FLAT : SHADE_GOURAUD);
    r->SetRenderState(RS_SPECULARENABLE, op % 3 == 0);
    r->SetRenderState(RS_ALPHATESTENABLE, 1);
    r->SetRenderState(RS_ALPHAFUNC, CMP_NEVER + op % 8);
    r->SetRenderState(RS_FOGENABLE, 1);
    r->SetRenderState(RS_FOGTABLEMODE, op % 4);
    r->SetRenderState(RS_FOGVERTEXMODE, (op + 1) % 4);
    r->SetRenderState(RS_RANGEFOGENABLE, op % 2);
    r->EnableLighting(op % 2 == 0);
    r->SetRenderState(RS_COLORVERTEX, 1);
    r->SetRenderState(RS_DIFFUSEMATERIALSOURCE, op % 3);
    r->SetRenderState(RS_AMBIENTMATERIALSOURCE, (op + 1) % 3);
    r->SetRenderState(RS_SPECULARMATERIALSOURCE, (op + 2) % 3);
    r->SetRenderState(RS_LOCALVIEWER, op % 2);
    struct V {
      float x, y, z, nx, ny, nz;
      uint32_t d, s;
      float u0, v0, u1, v1;
    };
    const V v[3] = {{-1, -1, 5, 0, 0, -1, 0xFFFFFFFFu, 0xFF202020u, 0, 0, 0, 0},
                    {1, -1, 5, 0, 0, -1, 0xFFFFFFFFu, 0xFF202020u, 1, 0, 1, 0},
                    {-1, 1, 5, 0, 0, -1, 0xFFFFFFFFu, 0xFF202020u, 0, 1, 0, 1}};
    const OvVertexFormat f = OvMakeVertexFormat(VF_XYZ | VF_NORMAL | VF_DIFFUSE | VF_SPECULAR, 2);
    ASSERT_EQ(f.stride, int(sizeof(V)));
    EXPECT_TRUE(r->DrawUser(f, v, PRIM_TRIANGLELIST, 1)) << "op " << op;
    // The same states on screen vertices.
    const ScreenVertex q[3] = {
        {0, 0, 0.5f, 1, 0xFFFFFFFFu}, {10, 0, 0.5f, 1, 0xFFFFFFFFu}, {0, 10, 0.5f, 1, 0xFFFFFFFFu}};
    EXPECT_TRUE(r->DrawUser(OvMakeVertexFormat(VF_XYZRHW | VF_DIFFUSE, 0), q, PRIM_TRIANGLELIST, 1)) << "op " << op;
    drawn += 2;
  }
  EXPECT_FALSE(trace.Contains("GL program failed")) << trace.Text();
  EXPECT_GE(r->ProgramCompiles(), drawn / 2);
  r->DestroyTexture(t);
}

TEST(ProgramText, KeyChoosesTheGeneratedPieces) {
  OvProgramKey k{};
  k.hasDiffuse = 1;
  k.texSets = 1;
  k.alphaFunc = CMP_GREATER;
  k.fogKind = FOGK_TABLE_EYE;
  k.fogFunc = FOG_LINEAR;
  k.flatShade = 1;
  k.stageCount = 1;
  k.stages[0] = {TOP_MODULATE2X, TA_TEXTURE, TA_DIFFUSE, TOP_SELECTARG1, TA_TEXTURE, TA_CURRENT, 0, 0, 0, 1};
  char vs[16384], fs[16384];
  ASSERT_LT(OvGenerateVertexShader(k, vs, sizeof(vs)), int(sizeof(vs)));
  ASSERT_LT(OvGenerateFragmentShader(k, fs, sizeof(fs)), int(sizeof(fs)));
  const std::string v(vs), f(fs);
  EXPECT_NE(v.find("flat out vec4 vDiffuse"), std::string::npos);
  EXPECT_NE(v.find("vEyeDepth = clip.w"), std::string::npos);
  EXPECT_EQ(v.find("uLights"), std::string::npos);  // unlit
  EXPECT_NE(f.find("2.0 * tex.rgb * vDiffuse.rgb"), std::string::npos);
  EXPECT_NE(f.find("if (!(ia > uAlphaRef)) discard;"), std::string::npos);
  EXPECT_NE(f.find("mix(uFogColour.rgb, cur.rgb, f)"), std::string::npos);

  // A too-small buffer reports the length it needed and stays terminated.
  char small[8];
  const int need = OvGenerateFragmentShader(k, small, sizeof(small));
  EXPECT_EQ(need, int(f.size()));
  EXPECT_EQ(small[7], '\0');

  OvProgramKey other = k;
  other.stages[0].colorOp = TOP_ADD;
  EXPECT_FALSE(other == k);
  EXPECT_NE(OvHashProgramKey(other), OvHashProgramKey(k));
}

}  // namespace
}  // namespace device_test
