// Loading: the stored form of every section written by hand, and every way a
// file can fail.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "database_fakes.h"
#include "ov_typed_record.h"
#include "trace_capture.h"

namespace {

using namespace content_test;

int g_scriptCalls = 0;
bool CountScript(const void*, uint32_t, int) {
  ++g_scriptCalls;
  return true;
}

// A file whose database chunk holds the sections the callback writes.
template <class F>
Bytes FileWith(F sections, uint32_t version = OV_DB_VERSION) {
  ContentWriter w;
  w.FileHeader(version).Begin(OV_CHUNK_DATABASE);
  sections(w);
  w.End();
  return w.Image();
}

class Loading : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterFakeTypes();
    db = MakeDatabase();
    ASSERT_TRUE(db);
    g_scriptCalls = 0;
  }
  void TearDown() override {
    OvMemoryFailNext(0);
    OvSetScriptLoadHook(nullptr);
  }
  // Whole sample file.
  Bytes Sample() {
    auto source = MakeDatabase();
    EXPECT_TRUE(BuildSample(*source));
    return WriteDatabase(*source);
  }
  bool IsEmpty() const {
    return db->TextureCount() == 0 && db->ShaderCount() == 0 && db->MeshCount() == 0 && db->ClumpRecordCount() == 0 &&
           db->LogObjRecordCount() == 0 && db->AniSetCount() == 0 && db->ScriptCount() == 0 &&
           db->SoundDatabase()->Count() == 0 && std::strcmp(db->Name(), "") == 0;
  }

  RecordingRenderer renderer;  // outlives db, which may still release into it
  DatabasePtr db;
};

// ---------------------------------------------------------------------------
// The stored form, written by hand.

TEST_F(Loading, HeaderLayout) {
  const Bytes file = FileWith([](ContentWriter& w) {
    w.Begin(OV_CHUNK_HEADER).U32(1).Str("level").F32(0.25f).I32(4).U32(25).I32(7).I32(-9);
    w.U32(0x11223344).U32(0x55667788).I32(1).U32(0xFFABCDEF).End();
  });
  TraceCapture trace;
  ASSERT_TRUE(LoadBytes(*db, file));
  EXPECT_EQ(trace.Text(), "Loading database: test.orv\n");  // no size line for the header
  const OvDbHeader& h = db->Header();
  EXPECT_STREQ(db->Name(), "level");
  EXPECT_EQ(h.real, 0.25f);
  EXPECT_EQ(h.frameRate, 25u);
  EXPECT_EQ(h.headerInt, -9);
  EXPECT_EQ(h.ambient, 0x55667788u);
  ASSERT_NE(h.fogColor, nullptr);
  EXPECT_EQ(*h.fogColor, 0xFFABCDEFu);

  // Without fog no colour follows; an empty name reads as none.
  const Bytes noFog = FileWith([](ContentWriter& w) {
    w.Begin(OV_CHUNK_HEADER).U32(0).Str(nullptr).F32(1).I32(1).U32(60).I32(-1).I32(0).U32(0).U32(0).I32(0).End();
  });
  ASSERT_TRUE(LoadBytes(*db, noFog));
  EXPECT_EQ(db->Header().fogColor, nullptr);
  EXPECT_STREQ(db->Name(), "");
}

TEST_F(Loading, TextureLayoutAndTheWidthZeroRule) {
  const uint16_t raw565[6] = {1, 2, 3, 4, 5, 6};
  uint8_t palette[1024 + 4];
  for (size_t i = 0; i < sizeof palette; ++i) palette[i] = uint8_t(i * 7);
  const Bytes file = FileWith([&](ContentWriter& w) {
    w.Begin(OV_CHUNK_TEXTURES).U32(2);
    // Raw: word, width, "issssssi", 16-bit pixels (5+6+5 < 17).
    w.BeginUntagged().U32(0xAA).I32(3).I32(2).U16(0).U16(0).U16(5).U16(6).U16(5).U16(0x33).I32(0x44);
    w.Raw(raw565, sizeof raw565).End();
    // Width 0: the width follows and the blocks are compressed.
    w.BeginUntagged().U32(0xBB).I32(0).I32(2).I32(2).U16(8).U16(0).U16(0).U16(0).U16(0).U16(0).I32(0);
    w.Compressed(palette, sizeof palette).End();
    w.End();
  });
  TraceCapture trace;
  ASSERT_TRUE(LoadBytes(*db, file)) << trace.Text();
  ASSERT_EQ(db->TextureCount(), 2u);
  const OvTextureRecord& a = *db->Texture(0)->record;
  EXPECT_EQ(a.width, 3);
  EXPECT_FALSE(a.compressed);
  EXPECT_EQ(a.word32, 0x44);
  ASSERT_NE(a.pixels16, nullptr);
  EXPECT_EQ(std::memcmp(a.pixels16, raw565, sizeof raw565), 0);
  const OvTextureRecord& b = *db->Texture(1)->record;
  EXPECT_EQ(b.width, 2);
  EXPECT_TRUE(b.compressed);
  ASSERT_NE(b.palette, nullptr);
  EXPECT_EQ(b.PaletteIndices()[3], palette[1027]);
}

TEST_F(Loading, RecordLayouts) {
  OvSetScriptLoadHook(&CountScript);
  const char script[] = "x = 1";
  const Bytes file = FileWith([&](ContentWriter& w) {
    w.Begin(OV_CHUNK_SHADERS).U32(1).U32(0).TypedRecord(77, 2, Words({5, 0})).End();
    w.Begin(OV_CHUNK_CLUMPS).U32(1).I32(42).Str("body").I32(0).I32(1).I32(2).I32(3).I32(4).I32(5);
    for (int i = 0; i < 10; ++i) w.F32(float(i));
    w.U32(0x10).U32(0x20).I32(1).TypedRecord(77, 3, Words({6, 0})).End();
    w.Begin(OV_CHUNK_LOGOBJS).U32(1).I32(0).I32(12).Str(nullptr);
    for (int i = 0; i < 7; ++i) w.I32(i + 20);
    w.End();
    w.Begin(OV_CHUNK_ANISETS).U32(1).U32(0x10002).U32(0).TypedRecord(77, 1, Words({7, 0}));
    w.TypedRecord(5, 5, {1, 2}).End();
    w.Begin(OV_CHUNK_SCRIPTS).U32(1).BeginUntagged().I32(1).I32(6).U32(5).Compressed(script, 5).End().End();
    w.Begin(OV_CHUNK_SOUNDS).Begin(OV_CHUNK_SOUND_DATABASE).U32(2);
    w.Begin(OV_CHUNK_SOUND_ITEM).Str("a.wav").U32(4).Raw(Words({0x01020304})).U32(0x01020304).I32(1).End();
    w.Begin(0x7777).U32(99).End();  // another type leaves the slot empty
    w.End().End();
  });
  TraceCapture trace;
  ASSERT_TRUE(LoadBytes(*db, file)) << trace.Text();
  EXPECT_EQ(static_cast<FakeNode*>(db->Shader(0))->value, 5);

  const OvClumpRecord& c = *db->ClumpRecord(0);
  EXPECT_STREQ(c.name, "body");
  EXPECT_EQ(c.nextBrother, 3);
  EXPECT_EQ(c.aniSetIndex, 5);
  EXPECT_EQ(c.rotation[3], 9.0f);
  EXPECT_EQ(c.switchWord, 0x20u);
  EXPECT_EQ(static_cast<FakeNode*>(c.extension)->value, 6);
  EXPECT_EQ(static_cast<FakeNode*>(c.extension)->bound, nullptr);  // extensions are not bound

  const OvLogObjRecord& o = *db->LogObjRecord(0);
  EXPECT_EQ(o.id, 12);
  ASSERT_NE(o.name, nullptr);  // no name: an empty one
  EXPECT_STREQ(o.name, "");
  EXPECT_EQ(o.creationFlags, 26);

  const OvDbAniSet& set = *db->AniSet(0);
  EXPECT_EQ(set.count, 2);  // only the low half of the count
  EXPECT_EQ(set.countHigh, 1);
  EXPECT_STREQ(OvTypedRecordName(*set.nodes[1], OvNodeClasses()), "Missing");

  EXPECT_EQ(g_scriptCalls, 1);
  EXPECT_EQ(std::memcmp(db->Script(0)->bytes, script, 5), 0);
  EXPECT_EQ(db->Script(0)->kind, 6);

  OvSoundDatabase& sounds = *db->SoundDatabase();
  ASSERT_EQ(sounds.Count(), 2u);
  EXPECT_STREQ(sounds.Item(0)->name, "a.wav");
  EXPECT_EQ(sounds.Item(0)->checksum, 0x01020304u);
  EXPECT_EQ(sounds.Item(1), nullptr);
}

TEST_F(Loading, ATypedRecordReadingLessThanItsPayloadLeavesTheStreamAtTheNext) {
  const Bytes file = FileWith([](ContentWriter& w) {
    w.Begin(OV_CHUNK_ANISETS).U32(1).U32(3).U32(0);
    w.TypedRecord(77, 4, Words({1, 2, 3, 4}));  // reads one word of four
    w.TypedRecord(77, 1, Words({9, 0}));
    w.TypedRecord(77, 4, Words({5}));
    w.End();
  });
  ASSERT_TRUE(LoadBytes(*db, file));
  const OvDbAniSet& set = *db->AniSet(0);
  ASSERT_EQ(set.count, 3);
  EXPECT_EQ(static_cast<FakeNode*>(set.nodes[0])->value, 1);
  EXPECT_EQ(static_cast<FakeNode*>(set.nodes[1])->value, 9);
  EXPECT_EQ(static_cast<FakeNode*>(set.nodes[2])->value, 5);
}

// ---------------------------------------------------------------------------
// Refusals at the file level.

TEST_F(Loading, MissingFileWrongSignatureWrongVersion) {
  ASSERT_TRUE(LoadBytes(*db, Sample()));
  {
    TraceCapture trace;
    EXPECT_FALSE(db->Load("/nonexistent/stage.orv"));
    EXPECT_EQ(trace.Text(), "Can not open file -- '/nonexistent/stage.orv'.\n");
    EXPECT_TRUE(IsEmpty());
  }
  {
    ASSERT_TRUE(LoadBytes(*db, Sample()));
    TraceCapture trace;
    EXPECT_FALSE(db->Load(nullptr));  // nothing at all happens
    EXPECT_EQ(trace.Text(), "");
    EXPECT_EQ(db->MeshCount(), 6u);
  }
  {
    Bytes file = Sample();
    file[3] = 'X';
    TraceCapture trace;
    EXPECT_FALSE(LoadBytes(*db, file, "bad.orv"));
    EXPECT_EQ(trace.Text(), "Loading database: bad.orv\n!!! 'bad.orv' is not a Orvo file.\n");
    EXPECT_TRUE(IsEmpty());
  }
  {
    TraceCapture trace;
    EXPECT_FALSE(LoadBytes(*db, FileWith([](ContentWriter&) {}, 302)));
    EXPECT_TRUE(trace.Contains("!!! Wrong file version : 302 ( Loader version : 301 )\n")) << trace.Text();
  }
}

TEST_F(Loading, Version300LoadsLike301) {
  auto source = MakeDatabase();
  ASSERT_TRUE(BuildSample(*source));
  source->SetVersion(OV_DB_VERSION_OLD);
  const Bytes file = WriteDatabase(*source);
  TraceCapture trace;
  ASSERT_TRUE(LoadBytes(*db, file));
  EXPECT_EQ(db->Version(), OV_DB_VERSION_OLD);
  EXPECT_EQ(db->MeshCount(), 6u);
  EXPECT_EQ(WriteDatabase(*db), file);
}

TEST_F(Loading, UnknownSubChunksAreSkippedWithOneLineEach) {
  const Bytes file = FileWith([](ContentWriter& w) {
    w.Begin(0x1234).U32(1).U32(2).End();
    w.Begin(0x5001).End();
    // Nested chunks inside an unknown one are skipped with it.
    for (int i = 0; i < 40; ++i) w.Begin(0x7001);
    for (int i = 0; i < 40; ++i) w.End();
  });
  TraceCapture trace;
  EXPECT_TRUE(LoadBytes(*db, file));
  EXPECT_EQ(trace.Text(),
            "Loading database: test.orv\n!!! Unknow chunk: 4660\n!!! Unknow chunk: 20481\n!!! Unknow chunk: 28673\n");
  EXPECT_TRUE(IsEmpty());
}

TEST_F(Loading, AnotherOuterChunkEndsTheLoadQuietly) {
  ContentWriter w;
  w.FileHeader().Begin(OV_CHUNK_TEXTURES).U32(0).End();
  TraceCapture trace;
  EXPECT_FALSE(LoadBytes(*db, w.Image()));
  EXPECT_EQ(trace.Text(), "Loading database: test.orv\n");
}

TEST_F(Loading, SectionsInAnyOrderAndEmptySections) {
  const Bytes file = FileWith([](ContentWriter& w) {
    w.Begin(OV_CHUNK_SCRIPTS).U32(0).End();
    w.Begin(OV_CHUNK_MESHES).U32(0).End();
    w.Begin(OV_CHUNK_SHADERS).U32(0).End();
    w.Begin(OV_CHUNK_HEADER).U32(0).Str("late").F32(1).I32(1).U32(60).I32(-1).I32(0).U32(0).U32(0).I32(0).End();
  });
  TraceCapture trace;
  ASSERT_TRUE(LoadBytes(*db, file));
  EXPECT_EQ(trace.Text(),
            "Loading database: test.orv\nLoading script ...  0\nLoading mesh ...  0\nLoading shader ...  0\n");
  EXPECT_STREQ(db->Name(), "late");
}

// ---------------------------------------------------------------------------
// Broken data.

TEST_F(Loading, ACutFileNeverCrashesAndAlwaysSaysSo) {
  const Bytes file = Sample();
  OvSetScriptLoadHook(&CountScript);
  for (size_t cut = 0; cut < file.size(); ++cut) {
    TraceCapture trace;
    EXPECT_FALSE(db->LoadMemory(file.data(), cut, "cut.orv")) << cut;
    if (cut > 12) {
      EXPECT_TRUE(trace.Contains("Load database error.\n")) << cut << "\n" << trace.Text();
    }
  }
  // Sections before the cut are complete: cut inside the scripts.
  const size_t inScripts = file.size() - 10;
  TraceCapture trace;
  EXPECT_FALSE(db->LoadMemory(file.data(), inScripts, "cut.orv"));
  EXPECT_EQ(db->MeshCount(), 6u);
  EXPECT_EQ(db->AniSetCount(), 2u);
}

// Sections of the smallest records that end exactly with their last record
// load in full; one record more in the count than the section holds fails
// the load without reading past it.
TEST_F(Loading, ASectionEndingExactlyAtARecordBoundary) {
  using Writer = void (*)(ContentWriter&);
  const struct {
    uint32_t chunk;
    Writer record;
    uint32_t (OvDatabase::*count)() const;
  } sections[] = {
      {OV_CHUNK_CLUMPS,
       [](ContentWriter& w) {
         w.I32(1).Str(nullptr);
         for (int i = 0; i < 6; ++i) w.I32(-1);
         for (int i = 0; i < 10; ++i) w.F32(1.0f);
         w.U32(0).U32(0).I32(0);
       },
       &OvDatabase::ClumpRecordCount},
      {OV_CHUNK_LOGOBJS,
       [](ContentWriter& w) {
         w.I32(0).I32(3).Str(nullptr);
         for (int i = 0; i < 7; ++i) w.I32(0);
       },
       &OvDatabase::LogObjRecordCount},
      {OV_CHUNK_ANISETS, [](ContentWriter& w) { w.U32(0).U32(0); }, &OvDatabase::AniSetCount},
      {OV_CHUNK_SCRIPTS, [](ContentWriter& w) { w.BeginUntagged().I32(0).I32(0).U32(1).Raw("x", 1).End(); },
       &OvDatabase::ScriptCount},
  };
  for (const auto& s : sections) {
    for (uint32_t claimed : {2u, 3u}) {
      const Bytes file = FileWith([&](ContentWriter& w) {
        w.Begin(s.chunk).U32(claimed);
        s.record(w), s.record(w);
        w.End();
      });
      auto loaded = MakeDatabase();
      TraceCapture trace;
      EXPECT_EQ(LoadBytes(*loaded, file), claimed == 2) << std::hex << s.chunk << " " << trace.Text();
      EXPECT_EQ(trace.Contains("Load database error.\n"), claimed != 2) << std::hex << s.chunk;
      if (claimed == 2) {
        EXPECT_EQ(((*loaded).*s.count)(), 2u) << std::hex << s.chunk;
      }
    }
  }
}

TEST_F(Loading, ALaterSectionStillPrintsItsLineAfterAFailure) {
  // The texture section fails (a read past its end); the clump section's
  // reader is not called, its line still printed.
  const Bytes file = FileWith([](ContentWriter& w) {
    w.Begin(OV_CHUNK_TEXTURES).U32(1).BeginUntagged().U32(0).I32(4).End().End();
    w.Begin(OV_CHUNK_CLUMPS).U32(0).End();
  });
  TraceCapture trace;
  EXPECT_FALSE(LoadBytes(*db, file));
  EXPECT_EQ(trace.Text(),
            "Loading database: test.orv\nLoading texture ...  0\nLoading clump ...  0\nLoad database error.\n");
}

TEST_F(Loading, BrokenCompressedBlocksFailTheSection) {
  auto texture = [](const void* packedFrom, size_t size) {
    return FileWith([&](ContentWriter& w) {
      // 2 x 2, 16-bit: 8 bytes promised.
      w.Begin(OV_CHUNK_TEXTURES).U32(1).BeginUntagged().U32(0).I32(0).I32(2).I32(2);
      w.U16(0).U16(0).U16(5).U16(6).U16(5).U16(0).I32(0).Compressed(packedFrom, size).End().End();
    });
  };
  const uint8_t pixels[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_TRUE(LoadBytes(*db, texture(pixels, 8)));
  for (size_t size : {size_t(6), size_t(10)}) {  // too short, too long
    TraceCapture trace;
    EXPECT_FALSE(LoadBytes(*db, texture(pixels, size))) << size;
    EXPECT_EQ(db->TextureCount(), 0u);
    EXPECT_TRUE(trace.Contains("Load database error.\n"));
  }
  Bytes corrupt = texture(pixels, 8);
  corrupt[corrupt.size() - 6] ^= 0xFF;  // inside the deflate data or its check sum
  EXPECT_FALSE(LoadBytes(*db, corrupt));
  // File header 12, two chunk headers 16, count, entry size, word, the 0 and
  // the width 16, "issssssi" 20: the block's marker is at 68.
  Bytes badMarker = texture(pixels, 8);
  ASSERT_EQ(badMarker[68], 1);
  badMarker[68] = 2;
  EXPECT_FALSE(LoadBytes(*db, badMarker));
}

TEST_F(Loading, HostileCountsAllocateNothingBig) {
  const std::vector<Bytes> files = {
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_TEXTURES).U32(0xFFFFFFFF).End(); }),
      FileWith([](ContentWriter& w) {  // raw pixels beyond the file
        w.Begin(OV_CHUNK_TEXTURES).U32(1).BeginUntagged().U32(0).I32(0x7FFFFFFF).I32(0x7FFFFFFF);
        w.U16(0).U16(8).U16(8).U16(8).U16(8).U16(0).I32(0).End().End();
      }),
      FileWith([](ContentWriter& w) {  // a 1 GiB promise in a tiny compressed block
        const uint8_t zero[64] = {};
        w.Begin(OV_CHUNK_TEXTURES).U32(1).BeginUntagged().U32(0).I32(0).I32(16384).I32(16384);
        w.U16(0).U16(8).U16(8).U16(8).U16(8).U16(0).I32(0).Compressed(zero, sizeof zero).End().End();
      }),
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_SHADERS).U32(0x40000000).End(); }),
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_MESHES).U32(0x10000000).End(); }),
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_MESHES).U32(1).I32(-1).I32(0).I32(0x7FFFFFFF).I32(-1).End(); }),
      FileWith([](ContentWriter& w) {  // 0x7FFFFFFF subsets
        w.Begin(OV_CHUNK_MESHES).U32(1).I32(-1).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).U32(0);
        w.I32(0x7FFFFFFF).I32(-1).End();
      }),
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_CLUMPS).U32(0xFFFFFFFF).End(); }),
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_LOGOBJS).U32(0xFFFFFFFF).End(); }),
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_ANISETS).U32(0xFFFFFFFF).End(); }),
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_ANISETS).U32(1).U32(0xFFFF).U32(0).End(); }),
      FileWith([](ContentWriter& w) { w.Begin(OV_CHUNK_SCRIPTS).U32(0xFFFFFFFF).End(); }),
      FileWith([](ContentWriter& w) {
        const uint8_t zero[16] = {};
        w.Begin(OV_CHUNK_SCRIPTS).U32(1).BeginUntagged().I32(1).I32(0).U32(0xFFFFFFF0).Compressed(zero, 16).End().End();
      }),
      FileWith([](ContentWriter& w) {
        w.Begin(OV_CHUNK_SOUNDS).Begin(OV_CHUNK_SOUND_DATABASE).U32(0xFFFFFFFF).End().End();
      }),
      FileWith([](ContentWriter& w) {
        w.Begin(OV_CHUNK_SOUNDS).Begin(OV_CHUNK_SOUND_DATABASE).U32(1);
        w.Begin(OV_CHUNK_SOUND_ITEM).Str("x").U32(0xFFFFFFFF).End().End().End();
      }),
  };
  for (size_t i = 0; i < files.size(); ++i) {
    TraceCapture trace;
    EXPECT_FALSE(LoadBytes(*db, files[i])) << i;
    EXPECT_TRUE(trace.Contains("Load database error.\n")) << i << "\n" << trace.Text();
    EXPECT_FALSE(trace.Contains("AllocMem")) << i;
    EXPECT_LT(OvArenaUsedBytes(db->Arena()), 4096u) << i;
  }
}

TEST_F(Loading, ASectionLongerThanTheDatabaseChunkIsCut) {
  ContentWriter w;
  w.FileHeader().Begin(OV_CHUNK_DATABASE);
  w.Begin(OV_CHUNK_LOGOBJS).U32(2).I32(0).I32(1).Str("one");
  for (int i = 0; i < 7; ++i) w.I32(i);
  w.I32(0).I32(2).Str("two");
  for (int i = 0; i < 6; ++i) w.I32(i);  // one field short
  w.End().End();
  Bytes file = w.Image();
  // Let the section claim far more than the file holds.
  file[12 + 8 + 4] = 0xFF;
  file[12 + 8 + 5] = 0xFF;
  TraceCapture trace;
  EXPECT_FALSE(LoadBytes(*db, file));
  EXPECT_TRUE(trace.Contains("Load database error.\n"));
  EXPECT_EQ(db->LogObjRecordCount(), 1u);  // the complete record stays
  EXPECT_STREQ(db->LogObjRecord(0)->name, "one");
}

// ---------------------------------------------------------------------------
// Out of memory.

TEST_F(Loading, EveryAllocationFailureIsReportedAndNothingIsLost) {
  const Bytes file = Sample();
  std::set<std::string> seen;
  const char* messages[] = {
      "!!! Not enough memory while loading texture to database.\n",
      "!!! Not enough memory while loading paletted texture to database.\n",
      "!!! Not enough memory while loading ARGB texture to database.\n",
      "Not enough memory when loading meshes.\n",
      "Not enough memory when loading OvDbAniSet.\n",
  };
  bool finished = false;
  int runs = 0;
  for (int skip = 0; skip < 5000 && !finished; ++skip, ++runs) {
    TraceCapture trace;
    OvMemoryFailAfter(skip, 1);
    // Small arena blocks: nearly every record needs fresh memory.
    const bool ok = db->LoadMemory(file.data(), file.size(), "oom.orv", 64);
    OvMemoryFailNext(0);
    const bool injected = trace.Contains("!!! Not enough memory when AllocMem()!\n");
    if (!injected) {
      finished = true;
      EXPECT_TRUE(ok);
    } else if (ok) {
      // The failure hit something that could be done without.
      EXPECT_EQ(WriteDatabase(*db), file) << skip;
    } else {
      EXPECT_TRUE(trace.Contains("Load database error.\n")) << skip << "\n" << trace.Text();
    }
    for (const char* m : messages) {
      if (trace.Contains(m)) seen.insert(m);
    }
  }
  EXPECT_TRUE(finished);
  EXPECT_GT(runs, 10);  // the sweep reached well into the file
  for (const char* m : messages) EXPECT_TRUE(seen.count(m)) << m;
}

TEST_F(Loading, AFailedSectionStopsTheLaterReadersButNotTheirLines) {
  OvSetScriptLoadHook(&CountScript);
  const Bytes file = Sample();
  bool found = false;
  for (int skip = 0; skip < 5000 && !found; ++skip) {
    TraceCapture trace;
    g_scriptCalls = 0;
    OvMemoryFailAfter(skip, 1);
    db->LoadMemory(file.data(), file.size(), "oom.orv", 64);
    OvMemoryFailNext(0);
    if (!trace.Contains("Not enough memory when loading meshes.\n")) continue;
    found = true;
    const std::string& t = trace.Text();
    EXPECT_NE(t.find("Loading clump ...  0\nLoading logical object ...  0\nLoading animation set ...  0\n"
                     "Loading script ...  0\nLoad database error.\n"),
              std::string::npos)
        << t;
    EXPECT_EQ(db->ClumpRecordCount(), 0u);
    EXPECT_EQ(db->ScriptCount(), 0u);
    EXPECT_EQ(g_scriptCalls, 0);
    EXPECT_EQ(db->TextureCount(), 5u);  // loaded before the failure
  }
  EXPECT_TRUE(found);
}

// ---------------------------------------------------------------------------
// The renderer and unloading.

TEST_F(Loading, TexturesGoToTheRendererAndPixelsAreFreedUnlessKept) {
  const Bytes file = Sample();
  db->SetRenderer(&renderer);
  ASSERT_TRUE(LoadBytes(*db, file));
  ASSERT_EQ(renderer.created.size(), 5u);
  EXPECT_EQ(renderer.endCalls, 1);
  EXPECT_TRUE(renderer.sawPixels[0]);
  EXPECT_NE(db->Texture(0)->handle, nullptr);
  EXPECT_EQ(db->Texture(0)->record->pixels32, nullptr);  // freed after the upload

  db->SetKeepTexturePixels(true);
  ASSERT_TRUE(LoadBytes(*db, file));
  EXPECT_EQ(renderer.releasedTextures.size(), 5u);  // the first load's, at unload
  EXPECT_NE(db->Texture(0)->record->pixels32, nullptr);
  EXPECT_EQ(WriteDatabase(*db), file);
  db->Unload();
  EXPECT_EQ(renderer.releasedTextures.size(), 10u);
  EXPECT_EQ(renderer.endCalls, 2);
}

TEST_F(Loading, UnloadReleasesDeviceObjectsAndDestroysRecords) {
  const int before = FakeNode::live;
  db->SetRenderer(&renderer);
  ASSERT_TRUE(LoadBytes(*db, Sample()));
  EXPECT_EQ(FakeNode::live, before + 4);  // shader, extension, two animation nodes
  void* resource = db->ShaderResource(0);
  EXPECT_NE(resource, nullptr);
  EXPECT_EQ(db->ShaderResource(0), resource);  // made once
  EXPECT_EQ(db->ShaderResource(1), nullptr);   // unknown class
  int buffers = 0;
  db->Mesh(0)->deviceBuffers = &buffers;
  db->Mesh(3)->deviceBuffers = &buffers;

  db->Unload();
  EXPECT_EQ(FakeNode::live, before);
  ASSERT_EQ(renderer.releasedResources.size(), 1u);
  EXPECT_EQ(renderer.releasedResources[0], resource);
  EXPECT_EQ(renderer.releasedMeshes.size(), 2u);  // slots 2 and 5 are the same objects
  EXPECT_TRUE(IsEmpty());
  EXPECT_EQ(OvArenaUsedBytes(db->Arena()), 0u);
  EXPECT_EQ(db->Header().cameraId, -1);
  EXPECT_EQ(db->Version(), OV_DB_VERSION);

  // Loading over loaded content releases the old records first.
  ASSERT_TRUE(LoadBytes(*db, Sample()));
  ASSERT_TRUE(LoadBytes(*db, Sample()));
  EXPECT_EQ(FakeNode::live, before + 4);
}

}  // namespace
