// Compiling stage sources in process for the content compiler's tests, and
// reading the results back through the content loader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "content_builder.h"
#include "orvc_compiler.h"
#include "ov_database.h"
#include "ov_node_type.h"
#include "ov_nodes.h"
#include "ov_scene.h"
#include "trace_capture.h"

namespace orvc_test {

using content_test::Bytes;
using content_test::DatabasePtr;

// The engine's record types, registered once per test binary.
inline void RegisterEngineTypes() {
  OvRegisterNodeTypes();
  OvRegisterRendererNodeTypes();
  OvRegisterSceneExtensionTypes();
}

struct Compiled {
  bool ok = false;
  std::string error;
  Bytes image;
};

// Compiles `text` as if it were the file `name` in `folder`.
inline Compiled Compile(const std::string& text, const std::string& folder = ".", const std::string& name = "stage.lua",
                        uint64_t maxInstructions = 4000000000ull, size_t maxMemory = size_t(1) << 30) {
  RegisterEngineTypes();
  OrvcOptions options;
  options.source = (std::filesystem::path(folder) / name).string();
  options.text = &text;
  options.maxInstructions = maxInstructions;
  options.maxMemory = maxMemory;
  options.print = [](const std::string&) {};
  OrvcCompiler compiler(options);
  Compiled out;
  out.ok = compiler.Compile() && compiler.Image(out.image);
  out.error = compiler.Error();
  return out;
}

// The compiled file loaded by the engine's own reader.
inline DatabasePtr Load(const Bytes& image) {
  TraceCapture quiet;  // progress lines
  DatabasePtr db = content_test::MakeDatabase();
  if (!db || !content_test::LoadBytes(*db, image)) return nullptr;
  return db;
}

// Entry `entry` of the first animation set as a T, or null.
template <class T>
const T* NodeAt(const OvDatabase& db, int entry) {
  const OvDbAniSet* s = db.AniSet(0);
  return s && entry < s->count ? dynamic_cast<const T*>(s->nodes[entry]) : nullptr;
}

inline uint32_t U32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline float F32(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}

// The payload a node writes.
inline Bytes NodeBytes(const OvDbNode& node) {
  OvStream s;
  s.OpenMemoryWrite();
  node.Write(s);
  Bytes b(s.Image(), s.Image() + s.ImageSize());
  s.Close();
  return b;
}

// A scratch folder for files a stage reads, removed with the object.
class TempDir {
 public:
  TempDir() {
    m_path = std::filesystem::temp_directory_path() /
             ("orvc_test_" + std::to_string(::getpid()) + "_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  std::string Path() const { return m_path.string(); }
  void Write(const std::string& name, const Bytes& bytes) const {
    std::filesystem::create_directories((m_path / name).parent_path());
    std::ofstream(m_path / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  void Write(const std::string& name, const std::string& text) const { Write(name, Bytes(text.begin(), text.end())); }

 private:
  std::filesystem::path m_path;
};

}  // namespace orvc_test
