// Loading a large content file against inflating its compressed blocks alone:
// the container's own cost is what loading adds on top of the inflate work.
// Loading is measured with both inflate paths the stream offers.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ov_database.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

constexpr int kTextures = 24;
constexpr int kSide = 512;
constexpr int kMeshes = 8;
constexpr int kVertices = 40000;

struct Block {
  std::vector<uint8_t> packed;
  size_t unpacked;
};

struct Fixture {
  std::vector<uint8_t> file;
  std::vector<Block> blocks;
};

// Image-like pixels: smooth shading with some grain, so blocks compress the
// way real textures do rather than to nothing.
void FillTexture(uint32_t* px, int side, uint32_t seed) {
  uint32_t rng = seed * 2654435761u + 1;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      rng = rng * 1664525u + 1013904223u;
      uint32_t grain = (rng >> 28) & 7;
      uint32_t r = uint32_t(128 + 100 * std::sin((x + seed) * 0.02)) + grain;
      uint32_t g = uint32_t(128 + 100 * std::cos((y + seed) * 0.03)) + grain;
      uint32_t b = uint32_t((x ^ y) & 0xFF);
      px[size_t(y) * side + x] = 0xFF000000u | (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | b;
    }
}

const Fixture& GetFixture() {
  static Fixture f = [] {
    Fixture fx;
    OvTraceSetQuiet(true);
    OvDatabase* db = OvDatabase::Create();
    db->SetName("bench");
    for (int t = 0; t < kTextures; ++t) {
      OvTextureRecord shape;
      shape.width = kSide;
      shape.height = kSide;
      shape.alphaBits = shape.redBits = shape.greenBits = shape.blueBits = 8;
      shape.compressed = true;
      OvTextureEntry* e = db->AddTexture(shape);
      FillTexture(e->record->pixels32, kSide, uint32_t(t));
      Block b;
      b.unpacked = size_t(kSide) * kSide * 4;
      uLongf len = compressBound(uLong(b.unpacked));
      b.packed.resize(len);
      compress2(b.packed.data(), &len, reinterpret_cast<const Bytef*>(e->record->pixels32), uLong(b.unpacked),
                Z_DEFAULT_COMPRESSION);
      b.packed.resize(len);
      fx.blocks.push_back(std::move(b));
    }
    for (int m = 0; m < kMeshes; ++m) {
      OvMesh* mesh = db->AddMesh();
      mesh->fileFlags = OV_MESH_FILE_NORMALS;
      mesh->vertexCount = kVertices;
      mesh->positions = OvArenaNewArray<float>(db->Arena(), uint64_t(kVertices) * 3);
      mesh->normals = OvArenaNewArray<float>(db->Arena(), uint64_t(kVertices) * 3);
      for (int i = 0; i < kVertices * 3; ++i) {
        mesh->positions[i] = float(i % 977) * 0.01f;
        mesh->normals[i] = (i % 3 == 2) ? 1.0f : 0.0f;
      }
      mesh->triangleCount = kVertices / 3;
      mesh->indexCount = mesh->triangleCount * 3;
      mesh->indices = OvArenaNewArray<uint32_t>(db->Arena(), uint64_t(mesh->indexCount));
      for (int i = 0; i < mesh->indexCount; ++i) mesh->indices[i] = uint32_t(i);
    }
    OvStream out;
    out.OpenMemoryWrite();
    if (!db->Write(out)) std::abort();
    fx.file.assign(out.Image(), out.Image() + out.ImageSize());
    db->Destroy();
    return fx;
  }();
  return f;
}

void Load(benchmark::State& state, bool libdeflate) {
  const Fixture& f = GetFixture();
  OvStreamUseLibdeflate(libdeflate);
  OvDatabase* db = OvDatabase::Create();
  for (auto _ : state) {
    bool ok = db->LoadMemory(f.file.data(), f.file.size(), "bench");
    if (!ok) state.SkipWithError("load failed");
    db->Unload();
  }
  db->Destroy();
  OvStreamUseLibdeflate(true);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.file.size()));
}

void BM_LoadLibdeflate(benchmark::State& state) { Load(state, true); }
void BM_LoadZlib(benchmark::State& state) { Load(state, false); }

void BM_InflateZlib(benchmark::State& state) {
  const Fixture& f = GetFixture();
  std::vector<uint8_t> dst(size_t(kSide) * kSide * 4);
  for (auto _ : state) {
    for (const Block& b : f.blocks) {
      uLongf len = uLongf(b.unpacked);
      uncompress(dst.data(), &len, b.packed.data(), uLong(b.packed.size()));
      benchmark::DoNotOptimize(dst.data());
    }
  }
}

void BM_InflateLibdeflate(benchmark::State& state) {
  const Fixture& f = GetFixture();
  std::vector<uint8_t> dst(size_t(kSide) * kSide * 4);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  for (auto _ : state) {
    for (const Block& b : f.blocks) {
      size_t got = 0;
      libdeflate_zlib_decompress(d, b.packed.data(), b.packed.size(), dst.data(), b.unpacked, &got);
      benchmark::DoNotOptimize(dst.data());
    }
  }
  libdeflate_free_decompressor(d);
}

// Inflating into fresh destinations, as any loader must, freed together at
// the end like a database's blocks.
double InflateFresh(const Fixture& f, libdeflate_decompressor* d) {
  auto start = std::chrono::steady_clock::now();
  std::vector<void*> blocks;
  for (const Block& b : f.blocks) {
    void* dst = std::malloc(b.unpacked);
    size_t got = 0;
    libdeflate_zlib_decompress(d, b.packed.data(), b.packed.size(), dst, b.unpacked, &got);
    benchmark::DoNotOptimize(dst);
    blocks.push_back(dst);
  }
  for (void* p : blocks) std::free(p);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Both in the same loop: the counter "load_per_inflate" is load time over
// inflate time, so 1.10 means the container adds 10 %.
void BM_LoadOverLibdeflateInflate(benchmark::State& state) {
  const Fixture& f = GetFixture();
  OvStreamUseLibdeflate(true);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  OvDatabase* db = OvDatabase::Create();
  double inflate = 0, load = 0;
  for (auto _ : state) {
    inflate += InflateFresh(f, d);
    auto start = std::chrono::steady_clock::now();
    if (!db->LoadMemory(f.file.data(), f.file.size(), "bench")) state.SkipWithError("load failed");
    db->Unload();
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    load += t;
    state.SetIterationTime(t);
  }
  db->Destroy();
  libdeflate_free_decompressor(d);
  state.counters["inflate_ms"] = inflate * 1000 / double(state.iterations());
  state.counters["load_per_inflate"] = inflate > 0 ? load / inflate : 0;
}

BENCHMARK(BM_InflateZlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadZlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateLibdeflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLibdeflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadOverLibdeflateInflate)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
