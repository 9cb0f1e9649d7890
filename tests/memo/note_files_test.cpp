// Note image files, the index and note names, byte for byte.
#include <zlib.h>

#include "note_fixture.h"

namespace {

using namespace note_test;

TEST_F(NoteFolder, ImageFileIsSizeWordThenZlibBlockOfTheImage) {
  const Bytes image = MakeImage(7);
  const std::string name = AddNote(2, 7);
  const Bytes file = ReadFile(dir + name);
  ASSERT_GE(file.size(), 12u);
  EXPECT_EQ(At<int32_t>(file, 0), 1048576);
  EXPECT_EQ(At<int32_t>(file, 4), 1);
  EXPECT_EQ(uint64_t(At<int32_t>(file, 8)), file.size() - 12);
  Bytes inflated(OV_NOTE_IMAGE_BYTES + 1);
  uLongf size = uLongf(inflated.size());
  ASSERT_EQ(uncompress(inflated.data(), &size, file.data() + 12, uLong(file.size() - 12)), Z_OK);
  EXPECT_EQ(size, 1048576u);
  inflated.resize(size);
  EXPECT_EQ(inflated, image);
}

TEST_F(NoteFolder, IndexFieldsInOrder) {
  OvMarkerRecord marker;
  marker.pos[0] = 4.5f, marker.pos[1] = -1.0f, marker.pos[2] = 9.0f;
  marker.templateIndex = 37;
  for (int i = 0; i < 16; ++i) marker.matrix[i] = float(i) + 0.5f;
  const std::vector<OvBoardNote> notes = {{"201C937A1B2C3D4E5", 2, {1.5f, 256.0f, -3.25f}},
                                          {"3000000000000002A", 3, {0, 255.996f, 0}}};
  ASSERT_TRUE(store.SaveNotes(notes, {marker}));
  const Bytes b = ReadFile(dir + "inf.bin");
  ASSERT_EQ(b.size(), 2u + 4 + 2 * 22 + 2 + 80);
  EXPECT_EQ(At<int16_t>(b, 0), 3);
  EXPECT_EQ(At<int32_t>(b, 2), 2);
  EXPECT_EQ(At<float>(b, 6), 1.5f);
  EXPECT_EQ(At<float>(b, 10), 256.0f);
  EXPECT_EQ(At<float>(b, 14), -3.25f);
  EXPECT_EQ(At<int16_t>(b, 18), 2);
  EXPECT_EQ(At<uint32_t>(b, 20), 0x01C937A1u);
  EXPECT_EQ(At<uint32_t>(b, 24), 0xB2C3D4E5u);
  EXPECT_EQ(At<int16_t>(b, 28 + 12), 3);
  EXPECT_EQ(At<uint32_t>(b, 28 + 18), 0x2Au);
  const size_t m = 6 + 44;
  EXPECT_EQ(At<int16_t>(b, m), 1);
  EXPECT_EQ(At<float>(b, m + 2), 4.5f);
  EXPECT_EQ(At<float>(b, m + 10), 9.0f);
  EXPECT_EQ(At<int32_t>(b, m + 14), 37);
  EXPECT_EQ(std::memcmp(b.data() + m + 18, marker.matrix, 64), 0);
}

TEST(NoteNames, FormAndParse) {
  EXPECT_EQ(OvNoteFileName(2, 0x01C937A1B2C3D4E5ull), "201C937A1B2C3D4E5");
  struct Case {
    const char* name;
    bool note;
  } cases[] = {
      {"201C937A1B2C3D4E5", true},           {"001C937A1B2C3D4E5", true}, {"401C937A1B2C3D4E5", false},
      {"201c937a1b2c3d4e5", false},          {"201C937A1B2C3D4E", false}, {"201C937A1B2C3D4E5.png", false},
      {".tmp-201C937A1B2C3D4E5-1-0", false}, {"inf.bin", false},          {"201C937A1B2C3D4E5 ", false},
  };
  for (const Case& c : cases) {
    int kind = -1;
    uint64_t t = 0;
    EXPECT_EQ(OvParseNoteFileName(c.name, kind, t), c.note) << c.name;
  }
  // The clock's FILETIME is after 2020.
  EXPECT_GT(OvFileTimeNow(), 132223104000000000ull);
}

TEST(NoteImages, DamagedFilesAreRefusedWithAReason) {
  Bytes good;
  ASSERT_TRUE(OvEncodeNoteImage(MakeImage(1).data(), good));
  auto with = [&](size_t offset, uint8_t value) {
    Bytes b = good;
    b[offset] = value;
    return b;
  };
  struct Case {
    const char* what;
    Bytes file;
    const char* reason;
  } cases[] = {
      {"empty", {}, "too short"},
      {"truncated", Bytes(good.begin(), good.begin() + good.size() / 2), "truncated"},
      {"wrong size word", with(2, 0x11), "size word"},
      {"block flag", with(4, 0), "block flag"},
      {"bad zlib stream", with(good.size() / 2, uint8_t(good[good.size() / 2] ^ 0xFF)), "damaged"},
      {"bad zlib header", with(12, 0x00), "damaged"},
  };
  for (const Case& c : cases) {
    Bytes image;
    std::string reason;
    EXPECT_FALSE(OvDecodeNoteImage(c.file.data(), c.file.size(), image, reason)) << c.what;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
    EXPECT_TRUE(image.empty()) << c.what;
  }
}

TEST(NoteIndex, MalformedIndexesAreRefused) {
  OvNoteIndex index;
  index.notes.resize(2);
  index.notes[1].kind = 1;
  index.markers.resize(1);
  Bytes good;
  ASSERT_TRUE(OvEncodeNoteIndex(index, good));
  auto patched = [&](size_t offset, Bytes bytes) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + long(offset));
    return b;
  };
  Bytes longer = good;
  longer.push_back(0);
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"version 2", patched(0, {2, 0})},
      {"huge count", patched(2, {0xFF, 0xFF, 0xFF, 0x7F})},
      {"negative count", patched(2, {0xFF, 0xFF, 0xFF, 0xFF})},
      {"huge marker count", patched(50, {0xFF, 0x7F})},
      {"truncated", Bytes(good.begin(), good.end() - 1)},
      {"trailing byte", longer},
      {"empty", {}},
  };
  OvNoteIndex out;
  std::string reason;
  ASSERT_TRUE(OvDecodeNoteIndex(good.data(), good.size(), out, reason));
  for (const Case& c : cases) EXPECT_FALSE(OvDecodeNoteIndex(c.file.data(), c.file.size(), out, reason)) << c.what;
}

}  // namespace
