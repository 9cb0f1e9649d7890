// Writing a database, loading it back and writing it again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "database_fakes.h"
#include "ov_typed_record.h"
#include "trace_capture.h"

namespace {

using namespace content_test;

struct ScriptCall {
  std::string bytes;
  int flags;
};
std::vector<ScriptCall> g_scripts;

bool RecordScript(const void* bytes, uint32_t length, int flags) {
  g_scripts.push_back({std::string(static_cast<const char*>(bytes), length), flags});
  return true;
}

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    g_scripts.clear();
    source = MakeDatabase();
    loaded = MakeDatabase();
    ASSERT_TRUE(source && loaded);
    ASSERT_TRUE(BuildSample(*source));
    image = WriteDatabase(*source);
    ASSERT_FALSE(image.empty());
  }
  void TearDown() override { OvSetScriptLoadHook(nullptr); }

  DatabasePtr source;
  DatabasePtr loaded;
  Bytes image;
};

TEST_F(RoundTrip, LoadThenWriteReproducesTheFile) {
  TraceCapture trace;
  ASSERT_TRUE(LoadBytes(*loaded, image));
  EXPECT_FALSE(trace.Contains("Load database error.")) << trace.Text();
  EXPECT_FALSE(trace.Contains("could not be read")) << trace.Text();
  EXPECT_EQ(WriteDatabase(*loaded), image);

  // And once more through a file on disk.
  TempFile file("roundtrip.orv");
  ASSERT_TRUE(loaded->Save(file.Path()));
  EXPECT_EQ(file.Read(), image);
  auto again = MakeDatabase();
  ASSERT_TRUE(again->Load(file.Path()));
  EXPECT_EQ(WriteDatabase(*again), image);
  EXPECT_STREQ(again->SoundDatabase()->Folder(), (std::string(P_tmpdir) + "/").c_str());
}

TEST_F(RoundTrip, TypedRecordsAreBoundUnlessInert) {
  ASSERT_TRUE(LoadBytes(*loaded, image));
  ASSERT_EQ(loaded->ShaderCount(), 3u);
  auto* shader = static_cast<FakeNode*>(loaded->Shader(0));
  EXPECT_EQ(shader->bound, loaded.get());
  EXPECT_STREQ(shader->text, "gloss");
  EXPECT_TRUE(loaded->Shader(1)->IsInert());
  EXPECT_TRUE(loaded->Shader(2)->IsInert());

  const OvDbAniSet* set = loaded->AniSet(0);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->count, 3);
  EXPECT_EQ(static_cast<FakeNode*>(set->nodes[0])->bound, loaded.get());
  EXPECT_TRUE(set->nodes[1]->IsInert());
  // Extensions are not bound.
  EXPECT_EQ(static_cast<FakeNode*>(loaded->ClumpRecord(0)->extension)->bound, nullptr);
}

TEST_F(RoundTrip, MeshSharingSurvivesLoading) {
  ASSERT_TRUE(LoadBytes(*loaded, image));
  ASSERT_EQ(loaded->MeshCount(), 6u);
  OvMesh* m0 = loaded->Mesh(0);
  OvMesh* m1 = loaded->Mesh(1);
  OvMesh* m3 = loaded->Mesh(3);
  OvMesh* m4 = loaded->Mesh(4);
  EXPECT_EQ(loaded->Mesh(2), m0);
  EXPECT_EQ(loaded->Mesh(5), m3);
  EXPECT_EQ(loaded->MeshIdentity(2), 0);
  EXPECT_EQ(loaded->MeshIdentity(1), OV_MESH_INLINE);
  EXPECT_EQ(m1->positions, m0->positions);
  EXPECT_EQ(m1->colors, m0->colors);
  EXPECT_EQ(m1->normals, nullptr);
  EXPECT_EQ(m1->indices, m0->indices);
  EXPECT_EQ(m1->sets[0].coords, m0->sets[1].coords);
  EXPECT_EQ(m1->sets[0].indices, m0->sets[0].indices);
  EXPECT_EQ(m1->materials, m0->materials);
  EXPECT_EQ(m1->shaderIndices, m0->shaderIndices);
  EXPECT_EQ(m1->resources, m0->resources);
  EXPECT_EQ(m1->ranges, m0->ranges);
  EXPECT_EQ(m4->sets, m0->sets);
  EXPECT_EQ(m0->ownership, 0u);    // arena arrays
  EXPECT_EQ(m3->colors, nullptr);  // flagged, but there are no vertices
}

TEST_F(RoundTrip, ScriptsGoToTheHook) {
  OvSetScriptLoadHook(&RecordScript);
  ASSERT_TRUE(LoadBytes(*loaded, image));
  ASSERT_EQ(g_scripts.size(), 3u);
  EXPECT_EQ(g_scripts[0].bytes, "function OnTick() end");
  EXPECT_EQ(g_scripts[0].flags, 0);
  EXPECT_EQ(g_scripts[1].bytes, std::string("\1\2\3"));  // stored raw
  EXPECT_EQ(g_scripts[2].bytes, "");

  // Without a hook the entries are still kept for writing.
  OvSetScriptLoadHook(nullptr);
  g_scripts.clear();
  ASSERT_TRUE(LoadBytes(*loaded, image));
  EXPECT_TRUE(g_scripts.empty());
  EXPECT_EQ(loaded->ScriptCount(), 3u);
}

TEST_F(RoundTrip, AFreshDatabaseWritesAnEmptyFileThatLoads) {
  auto empty = MakeDatabase();
  const Bytes bytes = WriteDatabase(*empty);
  ASSERT_GE(bytes.size(), 12u);
  EXPECT_EQ(std::memcmp(bytes.data(), "ORVO", 4), 0);
  EXPECT_EQ(bytes[4] | bytes[5] << 8, 301);
  ASSERT_TRUE(LoadBytes(*loaded, bytes));
  EXPECT_EQ(loaded->Header().fogColor, nullptr);
  EXPECT_EQ(WriteDatabase(*loaded), bytes);
}

TEST_F(RoundTrip, WriterRefusesWhatCouldNotBeReadBack) {
  // A shared array whose reference names a later mesh.
  OvMesh* m0 = source->Mesh(0);
  m0->refs.positions = 1;
  TraceCapture trace;
  EXPECT_TRUE(WriteDatabase(*source).empty());
  EXPECT_TRUE(trace.Contains("!!! Can not write database section 0x5000.\n")) << trace.Text();
  m0->refs.positions = OV_MESH_INLINE;

  // A reference naming the right mesh but not the array the mesh holds.
  OvMesh* m1 = source->Mesh(1);
  m1->positions = m0->normals;
  EXPECT_TRUE(WriteDatabase(*source).empty());
  m1->positions = m0->positions;

  // Texture pixels freed after upload cannot be written.
  OvTextureFreePixels(*source->Texture(0)->record);
  EXPECT_TRUE(WriteDatabase(*source).empty());
}

}  // namespace
