// The vertex/pixel program material: its stored block, drawing through the
// run-time programs, and the standard-material fall-back for programs that
// cannot be built here.
#include "image_harness.h"
#include "ov_shader_gen.h"
#include "ov_shader_material.h"
#include "ov_stream.h"
#include "trace_capture.h"

namespace image_test {
namespace {

const char* const kGreen =
    "// flat green\n"
    "void main() { gl_Position = ovClip(ovTransform(vec4(aPosition.xyz, 1.0)));"
    " vColor0 = vec4(0.0, 1.0, 0.0, 1.0); vColor1 = vec4(0.0); }\n";
const char* const kBluePixel = "// target:ps_2_0\nvoid main() { ovFragColor = vec4(0.0, 0.0, 1.0, 1.0); }\n";

TEST(ShaderMaterialBlockTest, StoredBlockRoundTripsByteForByte) {
  OvChunkArena arena;
  OvShaderMaterial m;
  const int32_t maps[4] = {2, -1, 7, 0x7FFFFFFF};
  ASSERT_TRUE(m.Set(arena, "Rock", maps, -1, 1, kGreen, "shaders/rock.psh"));
  OvStream out;
  ASSERT_TRUE(out.OpenMemoryWrite());
  ASSERT_TRUE(m.Write(out));
  const std::vector<uint8_t> first(out.Image(), out.Image() + out.ImageSize());

  // A cut block fails at every length short of the whole.
  for (size_t cut = 0; cut <= first.size(); ++cut) {
    OvStream in;
    ASSERT_TRUE(in.OpenMemory(first.data(), cut));
    OvShaderMaterial back;
    const bool read = back.Read(in, arena);
    EXPECT_EQ(read, cut == first.size()) << cut;
    if (!read) continue;
    EXPECT_STREQ(back.VertexSource(), kGreen);
    EXPECT_EQ(back.PassLimit(), -1);
    OvStream again;
    ASSERT_TRUE(again.OpenMemoryWrite());
    ASSERT_TRUE(back.Write(again));
    EXPECT_EQ(std::vector<uint8_t>(again.Image(), again.Image() + again.ImageSize()), first);
  }
}

using ShaderMaterialImage = ImageTest;

TEST_F(ShaderMaterialImage, ProgramsDrawOrTheStandardMaterialStandsIn) {
  struct Case {
    const char* name;
    const char* vertex;
    const char* pixel;
    int traceLines;
    int r, g, b;  // centre pixel; -1: as the standard material draws it
  };
  const Case cases[] = {
      {"program", kGreen, nullptr, 0, 0, 255, 0},
      {"program and pixel program", kGreen, kBluePixel, 0, 0, 0, 255},
      {"pixel program in assembly is dropped", kGreen, "; ps.1.1\n", 1, 0, 255, 0},
      {"assembly text", "; vs.1.1\nmov oPos, v0\n", nullptr, 1, -1, -1, -1},
      {"assembly file", "rock.vsh", nullptr, 1, -1, -1, -1},
      {"no vertex program", "", nullptr, 0, 32, 64, 96},  // the background
  };
  // The standard material's picture of the same mesh and lights.
  MeshData& plainWall = NewMesh();
  MakeGrid(plainWall, 8, -3.0f, -3.0f, 3.0f, 3.0f, 1.5f);
  plainWall.Finish(1);
  plainWall.resource = Plan({}, {}, 2);
  OvLightData light = Light(OV_LIGHT_DIRECTIONAL, {0, 0, 0}, {0, 0, 1}, 0.4f, 0.3f, 0.2f);
  auto frame = [&](MeshData& d) {
    BeginFrame(0xFF204060u);
    // Two lights: a failing program is also tried with one.
    for (int i = 0; i < 2; ++i) {
      R().SetLight(i, light);
      R().EnableLight(i, true);
    }
    Draw(d);
    const Picture p = EndFrame();
    R().ShowBackBuffer();
    return p;
  };
  const Picture plain = frame(plainWall);
  const uint8_t* ref = plain.At(plain.width / 2, plain.height / 2);
  ASSERT_GT(ref[0], 100);  // lit, not background

  OvChunkArena arena;
  const int32_t maps[4] = {-1, -1, -1, -1};
  for (const Case& c : cases) {
    OvShaderMaterial m;
    ASSERT_TRUE(m.Set(arena, "Rock Wall", maps, 0, 0, c.vertex, c.pixel));
    MeshData& wall = NewMesh();
    MakeGrid(wall, 8, -3.0f, -3.0f, 3.0f, 3.0f, 1.5f);
    wall.Finish(1);
    OvShaderResource* draw = OvMakeShaderMaterialDraw(m, R(), 2);
    ASSERT_NE(draw, nullptr);
    wall.resource = draw;
    TraceCapture trace;
    Picture p;
    for (int i = 0; i < 2; ++i) p = frame(wall);  // failures are not retried
    const uint8_t* px = p.At(p.width / 2, p.height / 2);
    const int want[3] = {c.r < 0 ? ref[0] : c.r, c.g < 0 ? ref[1] : c.g, c.b < 0 ? ref[2] : c.b};
    for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(px[ch], want[ch], 3) << c.name << " channel " << ch;
    int lines = 0;
    for (char ch : trace.Text()) lines += ch == '\n';
    EXPECT_EQ(lines, c.traceLines) << c.name << ": " << trace.Text();
    if (c.traceLines > 0) {
      EXPECT_TRUE(trace.Contains("Rock Wall")) << c.name;
    }
    OvReleaseMeshBuffers(wall.mesh);
    draw->Release();
  }
}

}  // namespace
}  // namespace image_test

namespace image_test {
namespace {

TEST_F(ShaderMaterialImage, CartoonBandsByLightAngle) {
  struct Case {
    const char* name;
    OvVector lightAt;
    int r, g, b;  // band colour times the light's diffuse 0.5
  };
  const Case cases[] = {
      {"facing the light: bright", {0, 0, -4}, 128, 128, 128},
      {"away from the light: dark", {0, 0, 10}, 64, 0, 0},
  };
  OvChunkArena arena;
  OvCartoonMaterial m;
  ASSERT_TRUE(m.SetCartoon(arena, -1, 0xFF800000u, 0xFF008000u, 0.2f, 0.0f));
  for (const Case& c : cases) {
    MeshData& wall = NewMesh();
    MakeGrid(wall, 8, -3.0f, -3.0f, 3.0f, 3.0f, 1.5f);
    wall.Finish(1);
    OvShaderResource* draw = OvMakeShaderMaterialDraw(m, R(), 2);
    ASSERT_NE(draw, nullptr);
    wall.resource = draw;
    BeginFrame(0xFF000000u);
    R().SetLight(0, Light(OV_LIGHT_POINT, c.lightAt, {0, 0, 1}, 0.5f, 0.5f, 0.5f));
    R().EnableLight(0, true);
    Draw(wall);
    const Picture p = EndFrame();
    const uint8_t* px = p.At(p.width / 2, p.height / 2);
    EXPECT_NEAR(px[0], c.r, 3) << c.name;
    EXPECT_NEAR(px[1], c.g, 3) << c.name;
    EXPECT_NEAR(px[2], c.b, 3) << c.name;
    OvReleaseMeshBuffers(wall.mesh);
    draw->Release();
  }
  OvStream out;
  ASSERT_TRUE(out.OpenMemoryWrite());
  ASSERT_TRUE(m.Write(out));
  const std::vector<uint8_t> block(out.Image(), out.Image() + out.ImageSize());
  ASSERT_EQ(block.size(), 24u);
  OvStream in;
  ASSERT_TRUE(in.OpenMemory(block.data(), block.size()));
  OvCartoonMaterial back;
  ASSERT_TRUE(back.Read(in, arena));
  OvStream again;
  ASSERT_TRUE(again.OpenMemoryWrite());
  ASSERT_TRUE(back.Write(again));
  EXPECT_EQ(std::vector<uint8_t>(again.Image(), again.Image() + again.ImageSize()), block);
}

}  // namespace
}  // namespace image_test
