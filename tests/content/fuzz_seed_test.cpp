// Writes the seed corpus of the content-loader fuzz target: complete files
// from the writer, which the fuzzer then mutates.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "content_builder.h"
#include "database_fakes.h"

#ifndef OV_FUZZ_SEED_DIR
#define OV_FUZZ_SEED_DIR "fuzz-seeds"
#endif

namespace {

using namespace content_test;

void Save(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

TEST(FuzzSeeds, WriterOutputLoadsAndIsSaved) {
  std::filesystem::path dir = OV_FUZZ_SEED_DIR;
  std::filesystem::create_directories(dir);

  DatabasePtr sample = MakeDatabase();
  ASSERT_TRUE(BuildSample(*sample));
  Bytes full = WriteDatabase(*sample);
  ASSERT_FALSE(full.empty());
  DatabasePtr check = MakeDatabase();
  ASSERT_TRUE(LoadBytes(*check, full));
  Save(dir / "sample.orv", full);

  DatabasePtr empty = MakeDatabase();
  Bytes bare = WriteDatabase(*empty);
  ASSERT_FALSE(bare.empty());
  Save(dir / "empty.orv", bare);

  // A header-only prefix gives the fuzzer the framing without the bulk.
  Save(dir / "prefix.orv", Bytes(full.begin(), full.begin() + std::min<size_t>(full.size(), 64)));
}

}  // namespace
