// Mesh records: the stored form, shared references that must be refused, and
// private copies.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "database_fakes.h"
#include "trace_capture.h"

namespace {

using namespace content_test;

// One mesh written field by field: a full inline mesh with four vertices,
// colours (flag 0x1), one set, two subsets and bounds (flag 0x10).
void PutFullMesh(ContentWriter& w) {
  w.I32(-1).I32(0x11).I32(4).I32(-1);
  for (int i = 0; i < 12; ++i) w.F32(float(i));
  w.I32(-1).U32(1).U32(2).U32(3).U32(4);
  w.I32(2).I32(6).I32(-1);
  for (uint32_t i : {0u, 1u, 2u, 0u, 2u, 3u}) w.U32(i);
  w.I32(1).I32(-1).U32(0x55).I32(4).I32(-1);  // set: word, 4 coordinates inline
  for (int i = 0; i < 8; ++i) w.F32(float(i) / 8);
  w.I32(0);                                 // no own index list
  w.I32(10).I32(-1).U32(0).I32(2).I32(-1);  // words A, C, flags, 2 subsets
  for (int i = 0; i < 34; ++i) w.F32(float(i));
  w.I32(-1).I32(0).I32(-1);               // shader indices
  w.I32(-1).U32(0).U32(3).U32(3).U32(3);  // range pairs
  w.I32(-1);
  for (int i = 0; i < 10; ++i) w.F32(float(i));
}

Bytes MeshFile(uint32_t count, const std::function<void(ContentWriter&)>& meshes) {
  ContentWriter w;
  w.FileHeader().Begin(OV_CHUNK_DATABASE).Begin(OV_CHUNK_MESHES).U32(count);
  meshes(w);
  w.End().End();
  return w.Image();
}

class Meshes : public ::testing::Test {
 protected:
  void SetUp() override {
    db = MakeDatabase();
    ASSERT_TRUE(db);
  }
  DatabasePtr db;
};

TEST_F(Meshes, TheStoredFormLoads) {
  const Bytes file = MeshFile(2, [](ContentWriter& w) {
    PutFullMesh(w);
    // No vertices; the index list, a set, the words and one subset (so no
    // range pairs) still follow.
    w.I32(-1).I32(0x5).I32(0);
    w.I32(1).I32(3).I32(-1).U32(2).U32(1).U32(0);
    w.I32(1).I32(-1).U32(7).I32(0).I32(0);
    w.I32(1).I32(2).U32(0x100).I32(1).I32(-1);
    for (int i = 0; i < 17; ++i) w.F32(0.5f);
    w.I32(-1).I32(3);
  });
  TraceCapture trace;
  ASSERT_TRUE(LoadBytes(*db, file)) << trace.Text();
  const OvMesh& m = *db->Mesh(0);
  EXPECT_EQ(m.colors[3], 4u);
  EXPECT_EQ(m.normals, nullptr);
  EXPECT_EQ(m.indices[5], 3u);
  EXPECT_EQ(m.sets[0].coords[7], 7.0f / 8);
  EXPECT_EQ(m.wordC, -1);
  EXPECT_EQ(m.materials[1].power, 33.0f);
  EXPECT_EQ(m.ranges[3], 3u);
  EXPECT_EQ(m.bounds[9], 9.0f);

  const OvMesh& empty = *db->Mesh(1);
  EXPECT_EQ(empty.colors, nullptr);
  EXPECT_EQ(empty.indices[0], 2u);
  EXPECT_EQ(empty.sets[0].word, 7u);
  EXPECT_EQ(empty.shaderIndices[0], 3);  // right after the one material
  EXPECT_EQ(empty.ranges, nullptr);
}

TEST_F(Meshes, ReferencesMustNameAUsableEarlierArray) {
  struct Case {
    const char* what;
    std::function<void(ContentWriter&)> second;
  };
  const Case cases[] = {
      {"identity of itself", [](ContentWriter& w) { w.I32(1); }},
      {"identity of a later slot", [](ContentWriter& w) { w.I32(5); }},
      {"identity below -1", [](ContentWriter& w) { w.I32(-7); }},
      {"positions of itself", [](ContentWriter& w) { w.I32(-1).I32(0).I32(4).I32(1); }},
      {"positions with another count", [](ContentWriter& w) { w.I32(-1).I32(0).I32(3).I32(0); }},
      {"absent normals", [](ContentWriter& w) { w.I32(-1).I32(0x4).I32(4).I32(0).I32(0); }},
      {"indices of another length", [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(1).I32(3).I32(0); }},
      {"missing set of a packed reference",
       [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(0).I32(1).I32(-1).U32(0).I32(4).I32(3 << 24); }},
      {"packed reference to a later mesh",
       [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(0).I32(1).I32(-1).U32(0).I32(4).I32(7); }},
      {"set index list that is absent",
       [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(0).I32(1).I32(-1).U32(0).I32(0).I32(6).I32(0); }},
      {"set array of another count", [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(0).I32(2).I32(0); }},
      {"materials of another count",
       [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).U32(0).I32(3).I32(0); }},
      {"bounds of itself",
       [](ContentWriter& w) { w.I32(-1).I32(0x10).I32(0).I32(0).I32(0).I32(0).I32(0).U32(0).I32(0).I32(1); }},
      {"negative vertex count", [](ContentWriter& w) { w.I32(-1).I32(0).I32(-4); }},
      {"negative index count", [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(1).I32(-3); }},
      {"negative set count", [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(0).I32(-1); }},
      {"negative coordinate count",
       [](ContentWriter& w) { w.I32(-1).I32(0).I32(0).I32(0).I32(1).I32(-1).U32(0).I32(-2); }},
  };
  for (const Case& c : cases) {
    const Bytes file = MeshFile(2, [&](ContentWriter& w) {
      PutFullMesh(w);
      c.second(w);
      for (int i = 0; i < 64; ++i) w.I32(0);  // whatever a reader might still want
    });
    TraceCapture trace;
    EXPECT_FALSE(LoadBytes(*db, file)) << c.what;
    EXPECT_TRUE(trace.Contains("Load database error.\n")) << c.what;
    if (std::strncmp(c.what, "negative", 8) != 0) {
      // A bad reference fails the section like a missing array.
      EXPECT_TRUE(trace.Contains("Loading mesh ...Not enough memory when loading meshes.\n")) << c.what;
    }
    EXPECT_EQ(db->MeshCount(), 1u) << c.what;  // the good mesh stays
  }
  // The same kinds of reference, pointing where they may, load.
  const Bytes good = MeshFile(3, [](ContentWriter& w) {
    PutFullMesh(w);
    w.I32(0);
    w.I32(-1).I32(0x1).I32(4).I32(0).I32(0).I32(2).I32(6).I32(0).I32(1).I32(-1).U32(0).I32(4).I32(0 << 24).I32(0);
    w.I32(0).I32(0).U32(0).I32(2).I32(0).I32(0).I32(0);
  });
  TraceCapture trace;
  ASSERT_TRUE(LoadBytes(*db, good)) << trace.Text();
  EXPECT_EQ(db->Mesh(1), db->Mesh(0));
  EXPECT_EQ(db->Mesh(2)->sets[0].coords, db->Mesh(0)->sets[0].coords);
  EXPECT_EQ(db->Mesh(2)->resources, db->Mesh(0)->resources);
  EXPECT_EQ(WriteDatabase(*db).size() > 0, true);
}

// ---------------------------------------------------------------------------
// Private copies.

class PrivateCopies : public ::testing::Test {
 protected:
  void SetUp() override {
    db = MakeDatabase();
    ASSERT_TRUE(db);
    ASSERT_TRUE(AddSampleMeshes(*db));
    shared = db->Mesh(0);
  }
  DatabasePtr db;
  OvMesh* shared = nullptr;
};

TEST_F(PrivateCopies, ACopySharesEveryArrayUntilAChannelIsMadePrivate) {
  OvMesh* copy = OvMeshMakePrivateCopy(*shared);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(shared->refCount, 2);
  EXPECT_EQ(copy->sharedMesh, shared);
  EXPECT_EQ(copy->positions, shared->positions);
  EXPECT_EQ(copy->materials, shared->materials);
  EXPECT_NE(copy->sets, shared->sets);  // own descriptors, same arrays
  EXPECT_EQ(copy->sets[1].coords, shared->sets[1].coords);
  EXPECT_EQ(copy->ownership, OV_MESH_SET_TABLE);

  ASSERT_TRUE(OvMeshMakeChannelsPrivate(*copy, OV_MESH_POSITIONS | OV_MESH_MATERIALS | OV_MESH_BOUNDS,
                                        0x10000u << 1 | 1u << 0));
  EXPECT_NE(copy->positions, shared->positions);
  EXPECT_EQ(std::memcmp(copy->positions, shared->positions, 48), 0);
  EXPECT_NE(copy->materials, shared->materials);
  EXPECT_NE(copy->sets[1].coords, shared->sets[1].coords);
  EXPECT_NE(copy->sets[0].indices, shared->sets[0].indices);
  EXPECT_EQ(copy->sets[0].coords, shared->sets[0].coords);  // not asked for
  EXPECT_EQ(copy->colors, shared->colors);
  EXPECT_EQ(copy->ownership, OV_MESH_SET_TABLE | OV_MESH_POSITIONS | OV_MESH_MATERIALS | OV_MESH_BOUNDS);
  EXPECT_EQ(copy->setOwnership, (0x10000u << 1) | 1u);

  copy->positions[0] = 99;
  EXPECT_EQ(shared->positions[0], 0.0f);                                // the database mesh is untouched
  EXPECT_TRUE(OvMeshMakeChannelsPrivate(*copy, OV_MESH_POSITIONS, 0));  // already private: kept
  EXPECT_EQ(copy->positions[0], 99.0f);

  OvMeshReleasePrivateCopy(copy);
  EXPECT_EQ(shared->refCount, 1);
}

TEST_F(PrivateCopies, SettingAnArrayFreesOnlyWhatTheMeshOwned) {
  OvMesh* copy = OvMeshMakePrivateCopy(*shared);
  ASSERT_NE(copy, nullptr);
  float* mine = static_cast<float*>(AllocMem(48));
  ASSERT_TRUE(OvMeshSetArray(*copy, OV_MESH_NORMALS, mine, true));
  EXPECT_EQ(shared->normals[2], 1.0f);  // a shared array is left alone
  EXPECT_EQ(copy->ownership & OV_MESH_NORMALS, OV_MESH_NORMALS);
  ASSERT_TRUE(OvMeshSetArray(*copy, OV_MESH_NORMALS, shared->normals, false));
  EXPECT_EQ(copy->ownership & OV_MESH_NORMALS, 0u);
  EXPECT_FALSE(OvMeshSetArray(*copy, 0x40, nullptr, false));  // not a channel

  // Sets: only on a table of its own.
  EXPECT_FALSE(OvMeshSetSetCoords(*shared, 0, nullptr, false));
  EXPECT_FALSE(OvMeshSetSetCoords(*copy, 2, nullptr, false));
  float* coords = static_cast<float*>(AllocMem(32));
  ASSERT_TRUE(OvMeshSetSetCoords(*copy, 0, coords, true));
  EXPECT_EQ(shared->sets[0].coords[2], 1.0f);
  OvMeshReleasePrivateCopy(copy);
}

TEST_F(PrivateCopies, ReleaseFreesExactlyWhatWasOwned) {
  // Counted in a child process: the allocator's counters are process-wide.
  EXPECT_EXIT(
      {
        OvMemoryStart(0);
        const OvMemoryCounters start = OvMemoryGetCounters();
        OvMesh* copy = OvMeshMakePrivateCopy(*shared);
        bool ok = copy && OvMeshMakeChannelsPrivate(*copy, 0x3F, 0x00030003u);
        // Owned replaced by shared (frees), shared replaced by owned (frees nothing).
        ok = ok && OvMeshSetArray(*copy, OV_MESH_POSITIONS, shared->positions, false);
        ok = ok && OvMeshSetSetIndices(*copy, 1, static_cast<uint32_t*>(AllocMem(4)), true);
        const OvMemoryCounters mid = OvMemoryGetCounters();
        OvMeshReleasePrivateCopy(copy);
        const OvMemoryCounters end = OvMemoryGetCounters();
        ok = ok && end.allocCount - start.allocCount == end.freeCount - start.freeCount;
        ok = ok && mid.freeCount - start.freeCount == 1;
        std::exit(ok && shared->refCount == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(PrivateCopies, OnlyCopiesDuplicate) {
  EXPECT_FALSE(OvMeshMakeChannelsPrivate(*shared, OV_MESH_POSITIONS, 0));
  EXPECT_EQ(shared->ownership, 0u);
  // A channel the mesh lacks needs no copy.
  OvMesh* copy = OvMeshMakePrivateCopy(*db->Mesh(3));
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(OvMeshMakeChannelsPrivate(*copy, OV_MESH_POSITIONS | OV_MESH_NORMALS, 0));
  EXPECT_EQ(copy->ownership & (OV_MESH_POSITIONS | OV_MESH_NORMALS), 0u);
  EXPECT_FALSE(OvMeshMakeChannelsPrivate(*copy, 0, 0x10000u << 5));  // no set 5
  OvMeshReleasePrivateCopy(copy);
}

}  // namespace
