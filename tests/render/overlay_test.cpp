// Overlay text: glyph placement of the screen-text writer, the clump-state
// lines and the stored blocks of the two overlay node types.
#include <bit>
#include <vector>

#include "device_fixture.h"
#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_overlay.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace device_test {
namespace {

using OverlayTest = DeviceTest;

TEST_F(OverlayTest, GlyphsLandInTheirCells) {
  struct Case {
    const char* text;
    float x, y;     // screen units
    int left, top;  // first cell's pixel corner
    int cells;
  };
  // 64 x 48 frame: half width 32 pixels; cells of 0.25 x 0.5 = 8 x 16 px.
  const Case cases[] = {
      {"M", 0.0f, 0.0f, 32, 24, 1},
      {"MM", -1.0f, 0.75f, 0, 0, 2},
      {"#", 0.5f, -0.25f, 48, 32, 1},
  };
  Open();
  for (const Case& c : cases) {
    Clear(0xFF000000u);
    PlainStates();
    OvScreenTextWriter w;
    w.renderer = r;
    w.charWidth = 0.25f;
    w.charHeight = 0.5f;
    ASSERT_TRUE(w.DrawText(c.text, c.x, c.y)) << c.text;
    int inside = 0, outside = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const bool lit = Pixel(x, y).r > 40;
        const bool in = x >= c.left && x < c.left + 8 * c.cells && y >= c.top && y < c.top + 16;
        (in ? inside : outside) += lit;
      }
    EXPECT_GT(inside, 4 * c.cells) << c.text;
    EXPECT_EQ(outside, 0) << c.text;
  }
}

TEST_F(OverlayTest, ClumpTextFollowsTheClumpOrItsConfiguredPlace) {
  struct Case {
    const char* name;
    float z;  // the clump's depth; the camera looks along -z
    int32_t anyway;
    bool atCorner, atCentre;
  };
  const Case cases[] = {
      {"in view: at the clump", -10.0f, 0, false, true},
      {"behind, anyway: at the configured place", 50.0f, 1, true, false},
      {"behind, not anyway: nothing", 50.0f, 0, false, false},
  };
  Open();
  for (const Case& c : cases) {
    OvScene scene;
    scene.SetRenderer(r);
    scene.SetBackgroundColour(0xFF000000u);
    scene.SetPresentAfterFrame(false);
    OvLogObj* eye = OvLogObj::Create();
    OvClump* camera = OvClump::Create();
    camera->SetExtension(new OvCamera(1.5707964f, 1.0f, 1000.0f));
    eye->AppendClumps(camera);
    scene.AddLogObjs(eye);
    camera->CalcToWorldMatrix();
    ASSERT_TRUE(scene.UseCamera(camera));
    OvLogObj* o = OvLogObj::Create();
    OvClump* lamp = OvClump::Create();
    lamp->SetName("MMMM");
    lamp->SetPos({0, 0, c.z});
    o->AppendClumps(lamp);
    scene.AddLogObjs(o);
    OvClumpStateNode node;
    node.anyway = c.anyway;
    node.x = -1.0f, node.y = 0.75f, node.charWidth = 0.125f, node.charHeight = 0.5f;  // 4 x 16 px from the top left
    node.colour = 0xFFFF0000u;
    OvInstallOverlayControllers();
    OvAniCtrl* ctrl = OvNodeController(&node, lamp);
    ASSERT_NE(ctrl, nullptr);
    ASSERT_TRUE(lamp->AddAniCtrl(ctrl));
    scene.FrameStep();
    scene.ForceStep(1);
    scene.AdvanceTime();
    auto red = [&](int x0, int y0) {
      int n = 0;
      for (int y = y0; y < y0 + 16; ++y)
        for (int x = x0; x < x0 + 16; ++x) {
          const Rgba p = Pixel(x, y);
          n += p.r > 100 && p.g < 60;
        }
      return n;
    };
    EXPECT_EQ(red(0, 0) > 0, c.atCorner) << c.name;
    EXPECT_EQ(red(32, 24) > 0, c.atCentre) << c.name;
  }
}

TEST_F(OverlayTest, FrameRateChangesOnlyEveryTwoSeconds) {
  Open();
  OvScene scene;  // 60 units a second, one unit a frame
  scene.SetRenderer(r);
  scene.SetBackgroundColour(0xFF000000u);
  scene.SetPresentAfterFrame(false);
  OvLogObj* o = OvLogObj::Create();
  OvClump* c = OvClump::Create();
  c->SetExtension(new OvCamera(1.5707964f, 1.0f, 1000.0f));
  o->AppendClumps(c);
  scene.AddLogObjs(o);
  c->CalcToWorldMatrix();
  ASSERT_TRUE(scene.UseCamera(c));
  OvSceneStateNode node;
  node.x = -1.0f, node.y = 0.75f, node.charWidth = 0.125f, node.charHeight = 0.5f;
  OvInstallOverlayControllers();
  ASSERT_TRUE(c->AddAniCtrl(OvNodeController(&node, c)));
  auto firstLine = [&] {
    std::vector<int> px;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < kWidth; ++x) px.push_back(Pixel(x, y).r);
    return px;
  };
  std::vector<std::vector<int>> seen;
  for (int frame = 1; frame <= 125; ++frame) {
    scene.FrameStep();
    scene.ForceStep(1);
    scene.AdvanceTime();
    if (frame == 2 || frame == 110 || frame == 125) seen.push_back(firstLine());
  }
  int lit = 0;
  for (int v : seen[0]) lit += v > 20;
  EXPECT_GT(lit, 0);            // "FPS: 0.00" is drawn
  EXPECT_EQ(seen[1], seen[0]);  // unchanged before two seconds
  EXPECT_NE(seen[2], seen[1]);  // the rate after two seconds
}

TEST(OverlayLines, ClumpStateText) {
  OvScene scene;  // 60 units a second
  OvLogObj* o = OvLogObj::Create();
  OvClump* c = OvClump::Create();
  c->SetName("Lamp");
  o->AppendClumps(c);
  scene.AddLogObjs(o);
  o->GotoFrame(63);  // 1.05 s
  o->SetHealth(7);
  o->LoSetID(42);
  c->SetSwitch(0x0201, 0x0201);
  c->SetInvisible();  // not a switch
  char text[256];
  OvClumpStateLines(*c, text, sizeof(text));
  EXPECT_STREQ(text, "Lamp\n1.050\nO.......\n.O......\nAnim[0]\n\nH:7\nID:42");
  OvMesh mesh;
  mesh.triangleCount = 12;
  c->SetMesh(&mesh);
  OvClumpStateLines(*c, text, sizeof(text));
  EXPECT_STREQ(text, "Lamp\n1.050\nO.......\n.O......\nAnim[0]\n\nH:7\nID:42\nf:12");
  c->SetMesh(nullptr);
}

TEST(OverlayBlocks, RoundTripByteForByte) {
  OvChunkArena arena;
  OvSceneStateNode scene;
  OvClumpStateNode clump;
  const OvParamValue sceneValues[4] = {{{std::bit_cast<uint32_t>(160.0f)}},
                                       {{std::bit_cast<uint32_t>(400.0f)}},
                                       {{std::bit_cast<uint32_t>(8.0f)}},
                                       {{std::bit_cast<uint32_t>(16.0f)}}};
  ASSERT_TRUE(scene.FromValues(OvParamValues(sceneValues, 4)));
  EXPECT_FLOAT_EQ(scene.x, -0.5f);
  EXPECT_FLOAT_EQ(scene.y, -0.5f);
  EXPECT_FLOAT_EQ(scene.charHeight, 0.05f);
  clump.colour = 0x80FF0000u;
  OvDbNode* nodes[2] = {&scene, &clump};
  const size_t sizes[2] = {20, 32};
  for (int i = 0; i < 2; ++i) {
    OvStream out;
    ASSERT_TRUE(out.OpenMemoryWrite());
    ASSERT_TRUE(nodes[i]->Write(out));
    const std::vector<uint8_t> block(out.Image(), out.Image() + out.ImageSize());
    ASSERT_EQ(block.size(), sizes[i]);
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(block.data(), block.size()));
    OvSceneStateNode s2;
    OvClumpStateNode c2;
    OvDbNode* back = i == 0 ? static_cast<OvDbNode*>(&s2) : &c2;
    ASSERT_TRUE(back->Read(in, arena));
    OvStream again;
    ASSERT_TRUE(again.OpenMemoryWrite());
    ASSERT_TRUE(back->Write(again));
    EXPECT_EQ(std::vector<uint8_t>(again.Image(), again.Image() + again.ImageSize()), block);
    OvStream cut;
    ASSERT_TRUE(cut.OpenMemory(block.data(), block.size() - 1));
    EXPECT_FALSE(back->Read(cut, arena));
  }
}

}  // namespace
}  // namespace device_test
