// Export of every note as a picture, and the seed files of the note fuzz
// target.
#include <stb/stb_image.h>

#include "note_fixture.h"
#include "ov_note_export.h"
#include "trace_capture.h"

#ifndef OV_NOTE_FUZZ_SEED_DIR
#define OV_NOTE_FUZZ_SEED_DIR "note-fuzz-seeds"
#endif

namespace {

using namespace note_test;

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

Rgb PixelOf(const std::string& png, int x, int y) {
  int w = 0, h = 0, n = 0;
  unsigned char* p = stbi_load(png.c_str(), &w, &h, &n, 4);
  Rgb out{-1, -1, -1};
  if (p && w == 512 && h == 512) {
    const unsigned char* q = p + (size_t(y) * 512 + size_t(x)) * 4;
    out = {q[0], q[1], q[2]};
  }
  stbi_image_free(p);
  return out;
}

Rgb Paper(int kind) {
  const uint32_t c = OV_NOTE_PAPER_COLOURS[kind];
  return {int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF)};
}

TEST_F(NoteFolder, ExportWritesBoardAndBinNotesAndSkipsDamagedOnes) {
  const std::string a = AddNote(0, 1), b = AddNote(3, 2), c = AddNote(1, 3);
  ASSERT_TRUE(store.RecycleNote(c));
  const std::string damaged = store.NewNoteFileName(2);
  WriteFile(dir + damaged, {0, 0, 16, 0, 1, 0, 0, 0, 9, 9, 9, 9});
  const std::string out = dir + "export/";
  OvExportResult result;
  TraceCapture trace;
  EXPECT_FALSE(OvExportNotes(dir, out, result));
  EXPECT_EQ(result.written, 3);
  ASSERT_EQ(result.skipped.size(), 1u);
  EXPECT_NE(result.skipped[0].find(damaged), std::string::npos);
  EXPECT_TRUE(trace.Contains(damaged));
  struct Case {
    std::string png;
    int kind;
  } cases[] = {
      {out + OvExportFileName(a), 0}, {out + OvExportFileName(b), 3}, {out + "recycle/" + OvExportFileName(c), 1}};
  for (const Case& k : cases) {
    EXPECT_EQ(PixelOf(k.png, 0, 0), Paper(k.kind)) << k.png;           // no ink: the paper
    EXPECT_EQ(PixelOf(k.png, 100, 256), (Rgb{200, 30, 20})) << k.png;  // opaque ink over it
  }
  EXPECT_EQ(FilesIn(out).size(), 2u);
  EXPECT_EQ(FilesIn(dir).size(), 3u);  // the data folder is left as it was
}

TEST(NoteFuzzSeeds, NoteFilesAndIndexesAreSaved) {
  const std::string dir = OV_NOTE_FUZZ_SEED_DIR "/";
  fs::create_directories(dir);
  Bytes image, index;
  ASSERT_TRUE(OvEncodeNoteImage(MakeImage(5).data(), image));
  OvNoteIndex notes;
  notes.notes.resize(3);
  notes.markers.resize(2);
  ASSERT_TRUE(OvEncodeNoteIndex(notes, index));
  WriteFile(dir + "note.bin", image);
  WriteFile(dir + "inf.bin", index);
  EXPECT_EQ(ReadFile(dir + "inf.bin"), index);
}

}  // namespace
