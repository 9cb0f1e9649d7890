// Build and run (Release, headless software GL), medians of 5 repetitions:
//   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_BUILD_BENCH=ON
//   cmake --build build/rel --target render_bench
//   SDL_VIDEODRIVER=offscreen build/rel/bin/render_bench --benchmark_repetitions=5
// Instruction counts of the calling thread (not disturbed by other load):
//   SDL_VIDEODRIVER=offscreen valgrind --tool=callgrind --separate-threads=yes
//     --toggle-collect='CountedEngineFrames*' build/rel/bin/render_bench --count-frames=4
//   (likewise 'CountedMinimalFrames*', 'CountedCartoonFrames*'); the "totals" line of the
//   calling thread's file (callgrind.out.PID-01) divided by 4 is one frame.
//
// One frame of 500 meshes (200 triangles each, 100k in all) drawn through the
// engine (standard material with one modulated texture, one directional
// light, per-mesh world matrices, state caches, generated programs) against a
// minimal GL loop drawing the very same buffers with one hand-written program.
// Both end with glFinish, so the time is the whole frame on the rasteriser.
// The ratios of the two (wall time, and CPU time of the calling thread) are
// printed at the end, and those of the same scene drawn with the cartoon
// shader material against the standard material.
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <epoxy/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_renderer.h"
#include "ov_mesh.h"
#include "ov_mesh_draw.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_shader_material.h"
#include "ov_std_material.h"
#include "ov_texture_builder.h"

namespace {

constexpr int kMeshes = 500;
constexpr int kRings = 10, kSegments = 10;  // 200 triangles

struct World {
  SDL_Window* window = nullptr;
  OvRendererGL* renderer = nullptr;
  OvContentUploader* uploader = nullptr;
  OvChunkArena arena;
  OvGLTexture* texture = nullptr;
  OvPassPlan* plan = nullptr;
  OvStdMaterial* material = nullptr;
  std::vector<float> positions, normals, coords;
  std::vector<uint32_t> indices;
  OvTexCoordSet set;
  OvMaterial meshMaterial{{1, 1, 1, 1}, {0.2f, 0.2f, 0.2f, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
  void* resource = nullptr;
  int32_t shaderIndex = 0;
  std::vector<OvMesh> meshes;
  // The same spheres with the cartoon material, in buffers of their own.
  OvCartoonMaterial* cartoon = nullptr;
  OvShaderResource* cartoonDraw = nullptr;
  void* cartoonResource = nullptr;
  std::vector<OvMesh> cartoonMeshes;
  std::vector<OvMatrix> worlds;
  OvMatrix view, projection;
  // The minimal loop.
  unsigned program = 0, vao = 0;
  int mvpLocation = -1, worldLocation = -1;
  bool ok = false;
};

World* g_world = nullptr;
double g_engineNs = 0, g_minimalNs = 0;
double g_engineCpuNs = 0, g_minimalCpuNs = 0;
double g_cartoonNs = 0, g_cartoonCpuNs = 0;

void BuildSphere(World& w) {
  for (int r = 0; r <= kRings; ++r) {
    const float theta = C_PI * float(r) / kRings;
    for (int s = 0; s <= kSegments; ++s) {
      const float phi = C_2PI * float(s) / kSegments;
      const float n[3] = {std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)};
      w.positions.insert(w.positions.end(), {0.4f * n[0], 0.4f * n[1], 0.4f * n[2]});
      w.normals.insert(w.normals.end(), {n[0], n[1], n[2]});
      w.coords.insert(w.coords.end(), {float(s) / kSegments, float(r) / kRings});
    }
  }
  for (int r = 0; r < kRings; ++r) {
    for (int s = 0; s < kSegments; ++s) {
      const uint32_t a = uint32_t(r * (kSegments + 1) + s), b = a + 1, c = a + kSegments + 1, e = c + 1;
      w.indices.insert(w.indices.end(), {a, c, b, b, c, e});
    }
  }
}

unsigned Compile(GLenum kind, const char* text) {
  const unsigned s = glCreateShader(kind);
  glShaderSource(s, 1, &text, nullptr);
  glCompileShader(s);
  return s;
}

bool MakeMinimalProgram(World& w) {
  const char* vs =
      "#version 330 core\n"
      "layout(location=0) in vec3 pos; layout(location=1) in vec3 nrm; layout(location=2) in vec2 uv;\n"
      "uniform mat4 mvp; uniform mat4 world; out vec4 colour; out vec2 tex;\n"
      "void main() { vec3 n = normalize((vec4(nrm, 0.0) * world).xyz);\n"
      "  float d = max(dot(n, -normalize(vec3(0.3, -0.4, 1.0))), 0.0);\n"
      "  colour = vec4(vec3(0.2) + vec3(d), 1.0); tex = uv; gl_Position = vec4(pos, 1.0) * mvp; }\n";
  const char* fs =
      "#version 330 core\n"
      "in vec4 colour; in vec2 tex; uniform sampler2D map; out vec4 result;\n"
      "void main() { result = colour * texture(map, tex); }\n";
  w.program = glCreateProgram();
  const unsigned v = Compile(GL_VERTEX_SHADER, vs), f = Compile(GL_FRAGMENT_SHADER, fs);
  glAttachShader(w.program, v);
  glAttachShader(w.program, f);
  glLinkProgram(w.program);
  glDeleteShader(v);
  glDeleteShader(f);
  GLint linked = 0;
  glGetProgramiv(w.program, GL_LINK_STATUS, &linked);
  w.mvpLocation = glGetUniformLocation(w.program, "mvp");
  w.worldLocation = glGetUniformLocation(w.program, "world");
  glGenVertexArrays(1, &w.vao);
  return linked != 0;
}

bool Setup() {
  World& w = *(g_world = new World);
  w.renderer = OpenBenchRenderer(w.window);
  if (!w.renderer) return false;
  w.uploader = new OvContentUploader(*w.renderer);

  std::vector<uint32_t> checker(64 * 64);
  for (int i = 0; i < 64 * 64; ++i) checker[size_t(i)] = ((i % 64) / 8 + i / 512) & 1 ? 0xFFFFFFFFu : 0xFF8080C0u;
  OvImageDesc image;
  image.pixels32 = checker.data();
  image.width = image.height = 64;
  image.alphaBits = image.redBits = image.greenBits = image.blueBits = 8;
  w.texture = LoadTexture(image, *w.uploader->Builder());
  w.material = OvArenaNew<OvStdMaterial>(w.arena);
  OvStdLayer layer;
  layer.kind = OV_LAYER_MODULATE;
  const int32_t index = -1;
  w.material->SetLayers(w.arena, &layer, 1);
  w.material->SetTextureIndices(w.arena, &index, 1);
  w.material->SetTexture(0, w.texture);
  w.plan = OvPassPlan::Build(*w.material, w.renderer->GetMaxTextures());
  w.resource = w.plan;

  BuildSphere(w);
  w.set.coordCount = int32_t(w.coords.size() / 2);
  w.set.coords = w.coords.data();
  OvMesh source;
  source.vertexCount = int32_t(w.positions.size() / 3);
  source.positions = w.positions.data();
  source.normals = w.normals.data();
  source.triangleCount = int32_t(w.indices.size() / 3);
  source.indexCount = int32_t(w.indices.size());
  source.indices = w.indices.data();
  source.setCount = 1;
  source.sets = &w.set;
  source.subsetCount = 1;
  source.materials = &w.meshMaterial;
  source.resources = &w.resource;
  source.shaderIndices = &w.shaderIndex;
  // Separate meshes with separate buffers, as separate content meshes are.
  w.meshes.assign(kMeshes, source);
  w.worlds.resize(kMeshes);
  for (int i = 0; i < kMeshes; ++i) {
    OvMatrixIdentity(w.worlds[size_t(i)]);
    OvMatrixSetPos(w.worlds[size_t(i)], {float(i % 25) * 0.8f - 9.6f, float(i / 25) * 0.6f - 5.7f, 12.0f});
    if (!OvUpdateMeshBuffers(*w.renderer, w.meshes[size_t(i)], w.plan)) return false;
  }
  w.cartoon = OvArenaNew<OvCartoonMaterial>(w.arena);
  if (!w.cartoon || !w.cartoon->SetCartoon(w.arena, -1, 0xFF404040u, 0xFF808080u, 0.2f, 0.0f)) return false;
  w.cartoon->SetTexture(0, w.texture);
  w.cartoonDraw = OvMakeShaderMaterialDraw(*w.cartoon, *w.renderer, w.renderer->GetMaxTextures());
  if (!w.cartoonDraw) return false;
  w.cartoonResource = w.cartoonDraw;
  source.resources = &w.cartoonResource;
  w.cartoonMeshes.assign(kMeshes, source);
  for (OvMesh& m : w.cartoonMeshes)
    if (!OvUpdateMeshBuffers(*w.renderer, m, w.cartoonDraw)) return false;
  OvMatrixIdentity(w.view);
  w.view.m[3][2] = 2.0f;
  OvMatPerspective(w.projection, 1.2f, 0.5f, 100.0f);
  w.projection.m[0][0] *= 0.75f;
  w.ok = w.texture && w.plan && MakeMinimalProgram(w);
  return w.ok;
}

void Teardown() {
  if (!g_world) return;
  World& w = *g_world;
  if (w.renderer && w.renderer->IsInitialised()) {
    for (OvMesh& m : w.meshes) OvReleaseMeshBuffers(m);
    for (OvMesh& m : w.cartoonMeshes) OvReleaseMeshBuffers(m);
    if (w.cartoonDraw) w.cartoonDraw->Release();
    if (w.program) glDeleteProgram(w.program);
    if (w.vao) glDeleteVertexArrays(1, &w.vao);
    if (w.plan) w.plan->Release();
    OvReleaseTexture(*w.renderer, w.texture);
  }
  delete w.uploader;
  delete w.renderer;
  if (w.window) SDL_DestroyWindow(w.window);
  delete g_world;
  g_world = nullptr;
  SDL_Quit();
}

void DrawScene(World& w, std::vector<OvMesh>& meshes) {
  OvRendererGL& r = *w.renderer;
  r.SetBackgroundColour(0xFF000000u);
  r.ClearBackBuffer();
  r.BeginScene();
  r.SetAmbient(0xFF333333u);
  r.SetViewMatrix(w.view);
  r.SetProjectionMatrix(w.projection);
  r.SetDefaultStates(true);
  OvLightData light;
  light.type = OV_LIGHT_DIRECTIONAL;
  light.direction = {0.3f, -0.4f, 1.0f};
  r.SetLight(0, light);
  r.EnableLight(0, true);
  for (int i = 0; i < kMeshes; ++i) {
    r.SetWorldMatrix(&w.worlds[size_t(i)]);
    OvDrawMesh(r, meshes[size_t(i)]);
  }
  r.EndScene();
  glFinish();
}

void EngineFrame(World& w) { DrawScene(w, w.meshes); }
void CartoonFrame(World& w) { DrawScene(w, w.cartoonMeshes); }

void MinimalFrame(World& w) {
  // The engine culls the triangles that run clockwise in GL's window space
  // (its default cull mode) and tests depth; so does this loop.
  glEnable(GL_CULL_FACE);
  glFrontFace(GL_CCW);
  glCullFace(GL_BACK);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glDepthMask(GL_TRUE);
  glDisable(GL_BLEND);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glUseProgram(w.program);
  glBindVertexArray(w.vao);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, w.texture->name);
  OvMatrix viewProj;
  OvMatMul4x4(viewProj, w.view, w.projection);
  for (int i = 0; i < kMeshes; ++i) {
    const OvMeshBuffers& b = *static_cast<const OvMeshBuffers*>(w.meshes[size_t(i)].deviceBuffers);
    OvMatrix mvp;
    OvMatMul4x4(mvp, w.worlds[size_t(i)], viewProj);
    // Row vectors: the shader multiplies vec * M, so upload as is.
    glUniformMatrix4fv(w.mvpLocation, 1, GL_TRUE, &mvp.m[0][0]);
    glUniformMatrix4fv(w.worldLocation, 1, GL_TRUE, &w.worlds[size_t(i)].m[0][0]);
    glBindBuffer(GL_ARRAY_BUFFER, b.vbo.name);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.ibo.name);
    const GLsizei stride = b.layout.stride;
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(uintptr_t(b.format.offPosition)));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(uintptr_t(b.format.offNormal)));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(uintptr_t(b.format.offTex[0])));
    glDrawElements(GL_TRIANGLES, GLsizei(b.layout.triangles * 3), GL_UNSIGNED_SHORT, nullptr);
  }
  glFinish();
}

void BM_EngineFrame(benchmark::State& state) {
  if (!g_world || !g_world->ok) {
    state.SkipWithError("no GL device");
    return;
  }
  for (auto _ : state) EngineFrame(*g_world);
  state.counters["triangles"] = double(kMeshes) * kRings * kSegments * 2;
}

void BM_CartoonMaterialFrame(benchmark::State& state) {
  if (!g_world || !g_world->ok) {
    state.SkipWithError("no GL device");
    return;
  }
  for (auto _ : state) CartoonFrame(*g_world);
}

void BM_MinimalGLFrame(benchmark::State& state) {
  if (!g_world || !g_world->ok) {
    state.SkipWithError("no GL device");
    return;
  }
  for (auto _ : state) MinimalFrame(*g_world);
}

// The engine runs first: the minimal loop leaves GL state behind that the
// engine's caches do not know about.
BENCHMARK(BM_EngineFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CartoonMaterialFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_MinimalGLFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // With repetitions only the median counts: a build on the other core
      // shows up as an outlier, which the median leaves out.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      const double unit = run.time_unit == benchmark::kMillisecond ? 1e6 : 1.0;
      const double ns = run.GetAdjustedRealTime() * unit, cpu = run.GetAdjustedCPUTime() * unit;
      if (run.benchmark_name().find("BM_EngineFrame") == 0) g_engineNs = ns, g_engineCpuNs = cpu;
      if (run.benchmark_name().find("BM_MinimalGLFrame") == 0) g_minimalNs = ns, g_minimalCpuNs = cpu;
      if (run.benchmark_name().find("BM_CartoonMaterialFrame") == 0) g_cartoonNs = ns, g_cartoonCpuNs = cpu;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

// Lit pixels of the back buffer and their mean brightness: both loops must
// draw the same faces over the same area.
long Coverage(World& w, double* brightness = nullptr) {
  std::vector<uint8_t> px(size_t(w.renderer->GetFrameWidth()) * size_t(w.renderer->GetFrameHeight()) * 4);
  w.renderer->ReadPixels(px.data(), w.renderer->GetFrameWidth(), w.renderer->GetFrameHeight());
  long lit = 0;
  double sum = 0;
  for (size_t i = 0; i < px.size(); i += 4) {
    lit += (px[i] | px[i + 1] | px[i + 2]) != 0;
    sum += px[i] + px[i + 1] + px[i + 2];
  }
  if (brightness) *brightness = lit > 0 ? sum / (3.0 * double(lit)) : 0.0;
  return lit;
}

// Instruction counting (callgrind --toggle-collect='*Counted*'): frames
// drawn after a warm-up, so program builds and first-use work stay outside.
__attribute__((noinline)) void CountedEngineFrames(int frames) {
  for (int i = 0; i < frames; ++i) EngineFrame(*g_world);
}
__attribute__((noinline)) void CountedMinimalFrames(int frames) {
  for (int i = 0; i < frames; ++i) MinimalFrame(*g_world);
}
__attribute__((noinline)) void CountedCartoonFrames(int frames) {
  for (int i = 0; i < frames; ++i) CartoonFrame(*g_world);
}

int main(int argc, char** argv) {
  int countFrames = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--count-frames=", 15) == 0) countFrames = std::atoi(argv[i] + 15);
  }
  if (countFrames > 0) {
    const bool ok = Setup();
    if (ok) {
      // The minimal loop last: it leaves GL state the engine's caches do not
      // know about.
      for (int i = 0; i < 2; ++i) EngineFrame(*g_world), CartoonFrame(*g_world);
      CountedEngineFrames(countFrames);
      CountedCartoonFrames(countFrames);
      for (int i = 0; i < 2; ++i) MinimalFrame(*g_world);
      CountedMinimalFrames(countFrames);
    }
    Teardown();
    return ok ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (!Setup()) std::fprintf(stderr, "GL device could not be set up\n");
  long engineCover = -1;
  double engineLight = 0, minimalLight = 0;
  if (g_world && g_world->ok) {
    EngineFrame(*g_world);
    engineCover = Coverage(*g_world, &engineLight);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (engineCover >= 0) {
    MinimalFrame(*g_world);
    const long minimalCover = Coverage(*g_world, &minimalLight);
    std::printf("covered pixels: engine %ld, minimal GL %ld; mean brightness %.1f, %.1f\n", engineCover, minimalCover,
                engineLight, minimalLight);
  }
  if (g_engineNs > 0 && g_minimalNs > 0) {
    // Wall time includes the rasteriser's own threads; CPU time is the
    // calling thread, where the engine's overhead lives.
    std::printf("engine / minimal GL frame time: %.2f (calling-thread CPU time: %.2f)\n", g_engineNs / g_minimalNs,
                g_minimalCpuNs > 0 ? g_engineCpuNs / g_minimalCpuNs : 0.0);
  }
  if (g_engineNs > 0 && g_cartoonNs > 0) {
    std::printf("cartoon / standard material frame time: %.2f (calling-thread CPU time: %.2f)\n",
                g_cartoonNs / g_engineNs, g_engineCpuNs > 0 ? g_cartoonCpuNs / g_engineCpuNs : 0.0);
  }
  Teardown();
  benchmark::Shutdown();
  return 0;
}
