// A fresh data folder per test and small helpers for note files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ov_note_files.h"
#include "ov_note_store.h"

namespace note_test {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline std::string MakeTempFolder() {
  char pattern[] = "/tmp/kiwa-notes-XXXXXX";
  const char* made = mkdtemp(pattern);
  return made ? std::string(made) + "/" : std::string();
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A 512x512 BGRA image whose first pixel carries `tag`; the rest is a stroke.
inline Bytes MakeImage(uint8_t tag) {
  Bytes image(OV_NOTE_IMAGE_BYTES, 0);
  image[0] = tag;
  for (size_t x = 0; x < 512; ++x) {
    uint8_t* p = &image[(256 * 512 + x) * 4];
    p[0] = 20, p[1] = 30, p[2] = 200, p[3] = 255;
  }
  return image;
}

template <class T>
T At(const Bytes& b, size_t offset) {
  T v{};
  if (offset + sizeof v <= b.size()) std::memcpy(&v, b.data() + offset, sizeof v);
  return v;
}

struct NoteFolder : ::testing::Test {
  std::string dir;
  OvNoteStore store;
  void SetUp() override {
    dir = MakeTempFolder();
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(store.Open(dir));
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // A note written to disk, as the board does after an edit.
  std::string AddNote(int kind, uint8_t tag) {
    const std::string name = store.NewNoteFileName(kind);
    EXPECT_TRUE(store.WriteImage(name, MakeImage(tag).data()));
    return name;
  }
  std::vector<std::string> FilesIn(const std::string& folder) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

}  // namespace note_test
