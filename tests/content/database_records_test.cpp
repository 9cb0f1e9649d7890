// Lookups, accessors, the global list of databases and the sound database.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "database_fakes.h"
#include "trace_capture.h"

namespace {

using namespace content_test;

TEST(NameMatch, OneRunOfDigitsIsIgnored) {
  struct Case {
    const char* a;
    const char* b;
    bool match;
  };
  const Case cases[] = {
      {"arm12", "arm3", true}, {"arm12", "arm", true}, {"arm_1", "arm_2", true},   {"wheel01_L", "wheel_L", true},
      {"arm", "arm", true},    {"7", "", true},        {"a1b2", "a3b4", false},    {"arm1x", "arm2y", false},
      {"leg1", "arm1", false}, {"x", "", false},       {"arm12", "arm12b", false}, {"Arm1", "arm1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OvNameMatchIgnoringDigits(c.a, c.b), c.match) << c.a << " / " << c.b;
    EXPECT_EQ(OvNameMatchIgnoringDigits(c.b, c.a), c.match) << c.b << " / " << c.a;
  }
  EXPECT_FALSE(OvNameMatchIgnoringDigits(nullptr, "a"));
  EXPECT_FALSE(OvNameMatchIgnoringDigits("a", nullptr));
}

class Records : public ::testing::Test {
 protected:
  void SetUp() override {
    db = MakeDatabase();
    ASSERT_TRUE(db);
    // 0 body -> child chain 1 arm12, 2 arm3, 3 leg; 4 arm12 again.
    const char* names[] = {"body", "arm12", "arm3", "leg", "arm12"};
    for (const char* n : names) ASSERT_NE(db->AddClumpRecord(n), nullptr);
    db->ClumpRecord(0)->firstChild = 1;
    db->ClumpRecord(1)->nextBrother = 2;
    db->ClumpRecord(2)->nextBrother = 3;
  }
  DatabasePtr db;
};

TEST_F(Records, ChainLookupPrefersExactNames) {
  EXPECT_EQ(db->FindClumpRecordInChain(1, "arm3"), db->ClumpRecord(2));  // exact beats arm12
  EXPECT_EQ(db->FindClumpRecordInChain(1, "arm7"), db->ClumpRecord(1));  // first digit match
  EXPECT_EQ(db->FindClumpRecordInChain(1, "leg"), db->ClumpRecord(3));
  EXPECT_EQ(db->FindClumpRecordInChain(2, "arm12"), db->ClumpRecord(2));  // chain from 2 only
  EXPECT_EQ(db->FindClumpRecordInChain(1, "tail"), nullptr);
  EXPECT_EQ(db->FindClumpRecordInChain(1, "body"), nullptr);  // not a brother
  EXPECT_EQ(db->FindClumpRecordInChain(-1, "leg"), nullptr);
  EXPECT_EQ(db->FindClumpRecordInChain(1, nullptr), nullptr);
}

TEST_F(Records, ChainLookupSurvivesBrokenChains) {
  db->ClumpRecord(3)->nextBrother = 1;  // a loop
  EXPECT_EQ(db->FindClumpRecordInChain(1, "tail"), nullptr);
  EXPECT_EQ(db->FindClumpRecordInChain(3, "arm3"), db->ClumpRecord(2));
  db->ClumpRecord(3)->nextBrother = 3;  // onto itself
  EXPECT_EQ(db->FindClumpRecordInChain(1, "tail"), nullptr);
  db->ClumpRecord(3)->nextBrother = 99;  // out of range
  EXPECT_EQ(db->FindClumpRecordInChain(1, "tail"), nullptr);
  db->ClumpRecord(2)->nextBrother = INT_MIN;
  EXPECT_EQ(db->FindClumpRecordInChain(1, "leg"), nullptr);
}

TEST_F(Records, IndexLookupTriesTheHintFirst) {
  EXPECT_EQ(db->FindClumpRecordIndex("arm12"), 1);
  EXPECT_EQ(db->FindClumpRecordIndex("arm12", 4), 4);
  EXPECT_EQ(db->FindClumpRecordIndex("arm12", 2), 1);  // hint names another record
  EXPECT_EQ(db->FindClumpRecordIndex("arm12", 99), 1);
  EXPECT_EQ(db->FindClumpRecordIndex("arm12", -5), 1);
  EXPECT_EQ(db->FindClumpRecordIndex("arm1"), -1);  // exact only
  EXPECT_EQ(db->FindClumpRecordIndex(nullptr), -1);
}

TEST_F(Records, AccessorsAreNullOutOfRange) {
  ASSERT_TRUE(BuildSample(*db));
  for (int32_t i : {-1, INT_MIN, INT_MAX, 1000}) {
    EXPECT_EQ(db->ClumpRecord(i), nullptr);
    EXPECT_EQ(db->LogObjRecord(i), nullptr);
    EXPECT_EQ(db->Mesh(i), nullptr);
    EXPECT_EQ(db->Shader(i), nullptr);
    EXPECT_EQ(db->ShaderEntry(i), nullptr);
    EXPECT_EQ(db->ShaderResource(i), nullptr);
    EXPECT_EQ(db->AniSet(i), nullptr);
    EXPECT_EQ(db->Texture(i), nullptr);
    EXPECT_EQ(db->Script(i), nullptr);
    EXPECT_EQ(db->MeshIdentity(i), OV_MESH_INLINE);
    EXPECT_EQ(db->SoundDatabase()->Item(uint32_t(i)), nullptr);
  }
  EXPECT_NE(db->Script(int32_t(db->ScriptCount()) - 1), nullptr);
  EXPECT_EQ(db->Script(int32_t(db->ScriptCount())), nullptr);
}

TEST(DatabaseList, FoundBySerialAndNameUntilDestroyed) {
  DatabasePtr a = MakeDatabase();
  DatabasePtr b = MakeDatabase();
  DatabasePtr c = MakeDatabase();
  ASSERT_TRUE(a && b && c);
  EXPECT_LT(a->Serial(), b->Serial());
  EXPECT_LT(b->Serial(), c->Serial());
  ASSERT_TRUE(b->SetName("menu"));
  ASSERT_TRUE(c->SetName("stage"));
  EXPECT_EQ(OvDatabase::FindBySerial(a->Serial()), a.get());
  EXPECT_EQ(OvDatabase::FindByName("stage"), c.get());
  EXPECT_EQ(OvDatabase::FindByName("menu"), b.get());
  EXPECT_EQ(OvDatabase::FindByName("Menu"), nullptr);
  EXPECT_EQ(OvDatabase::FindByName(nullptr), nullptr);

  const int32_t middle = b->Serial();
  b.reset();
  EXPECT_EQ(OvDatabase::FindBySerial(middle), nullptr);
  EXPECT_EQ(OvDatabase::FindByName("menu"), nullptr);
  int seen = 0;
  for (OvDatabase* d = OvDatabase::First(); d; d = d->Next()) seen += (d == a.get()) + (d == c.get());
  EXPECT_EQ(seen, 2);

  // Removing the last one keeps appending working.
  const int32_t last = c->Serial();
  c.reset();
  DatabasePtr d = MakeDatabase();
  EXPECT_EQ(OvDatabase::FindBySerial(last), nullptr);
  EXPECT_EQ(OvDatabase::FindBySerial(d->Serial()), d.get());
  EXPECT_EQ(OvDatabase::FindBySerial(a->Serial()), a.get());
}

// ---------------------------------------------------------------------------
// Sound database.

int g_releases = 0;
void CountRelease(void* context) { g_releases += *static_cast<int*>(context); }

TEST(SoundDatabase, ChecksumSumsWholeLittleEndianWords) {
  const uint8_t bytes[] = {1, 0, 0, 0, 2, 0, 0, 0, 0xFF};
  EXPECT_EQ(OvSoundChecksum(bytes, sizeof bytes), 3u);  // the odd byte is left out
  const uint8_t wrap[] = {0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0};
  EXPECT_EQ(OvSoundChecksum(wrap, sizeof wrap), 1u);
  EXPECT_EQ(OvSoundChecksum(bytes, 3), 0u);
  EXPECT_EQ(OvSoundChecksum(nullptr, 8), 0u);
}

TEST(SoundDatabase, ClearingLetsTheSoundSystemReleaseFirst) {
  DatabasePtr db = MakeDatabase();
  OvSoundDatabase& sounds = *db->SoundDatabase();
  EXPECT_STREQ(sounds.Name(), "sounds");
  int weight = 1;
  OvSetSoundReleaseHook(&CountRelease, &weight);
  g_releases = 0;

  ASSERT_EQ(sounds.AddItem("named.wav", nullptr, 0), 0);
  sounds.ClearSoundDatabase();
  EXPECT_EQ(g_releases, 0);  // nothing held data

  const uint8_t data[4] = {1, 2, 3, 4};
  ASSERT_EQ(sounds.AddItem("a.wav", data, 4), 0);
  ASSERT_EQ(sounds.AddItem("b.wav", data, 4), 1);
  EXPECT_EQ(sounds.Item(1)->checksum, 0x04030201u);
  db->Unload();
  EXPECT_EQ(g_releases, 1);
  EXPECT_EQ(sounds.Count(), 0u);
  OvSetSoundReleaseHook(nullptr, nullptr);
}

TEST(SoundDatabase, AChunkOfAnotherTypeReadsNothing) {
  DatabasePtr db = MakeDatabase();
  OvSoundDatabase& sounds = *db->SoundDatabase();
  ASSERT_EQ(sounds.AddItem("old.wav", nullptr, 0), 0);
  ContentWriter w;
  w.Begin(0x2011).U32(3).End().U32(0xDEAD);
  const Bytes image = w.Image();
  OvStream r;
  ASSERT_TRUE(r.OpenMemory(image.data(), image.size()));
  EXPECT_TRUE(sounds.ReadSoundDatabase(r));
  EXPECT_EQ(sounds.Count(), 0u);
  uint32_t after = 0;
  EXPECT_TRUE(r.ReadU32(after));  // the stream stands after the chunk
  EXPECT_EQ(after, 0xDEADu);
}

}  // namespace
