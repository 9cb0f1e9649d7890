// The note store: loading what was saved, damaged indexes, the bin, new
// names and writes that fail.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cmath>

#include "note_fixture.h"
#include "trace_capture.h"

namespace {

using namespace note_test;

void PlaceAt99(int, const std::string&, float pos[3]) { pos[0] = pos[1] = pos[2] = 99.0f; }

std::vector<std::string> Files(const OvBoardLoad& load) {
  std::vector<std::string> names;
  for (const OvBoardNote& n : load.notes) names.push_back(n.file);
  return names;
}

OvNoteIndexRecord WithKind(OvNoteIndexRecord r, int16_t kind) {
  r.kind = kind;
  return r;
}

uint64_t g_fixedTime = 0;
uint64_t FixedClock() { return g_fixedTime; }

TEST_F(NoteFolder, ThreeNotesReloadInOrderAtTheirPlaces) {
  std::vector<OvBoardNote> board;
  for (int i = 0; i < 3; ++i) board.push_back({AddNote(i, uint8_t(i)), i, {10.0f * i, 256 - 0.004f * i, -5.0f}});
  ASSERT_TRUE(store.RecycleNote(AddNote(0, 9)));
  OvMarkerRecord first, second;
  first.templateIndex = 5;
  first.matrix[12] = 7.5f;
  second.templateIndex = 6;
  ASSERT_TRUE(store.SaveNotes(board, {first, second}));
  OvNoteStore fresh;
  ASSERT_TRUE(fresh.Open(dir));
  OvBoardLoad load;
  ASSERT_TRUE(fresh.LoadNotes(load, PlaceAt99));
  EXPECT_EQ(load.indexUsed, "inf.bin");
  ASSERT_EQ(load.notes.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(load.notes[i].file, board[i].file);
    EXPECT_EQ(load.notes[i].kind, i);
    EXPECT_EQ(load.notes[i].pos[1], board[i].pos[1]);
    EXPECT_FALSE(load.notes[i].placed);
  }
  // One note in the bin: one marker, the oldest.
  ASSERT_EQ(load.markers.size(), 1u);
  EXPECT_EQ(load.markers[0].templateIndex, 5);
  EXPECT_EQ(load.markers[0].matrix[12], 7.5f);
}

TEST_F(NoteFolder, UnusableIndexRecordsAreSkippedAndTheirFilesPutBack) {
  const std::string a = AddNote(1, 1), b = AddNote(2, 2);
  auto record = [](const std::string& name, float x) {
    int kind = 0;
    uint64_t t = 0;
    OvParseNoteFileName(name, kind, t);
    return OvNoteIndexRecord{{x, 256, 0}, int16_t(kind), uint32_t(t >> 32), uint32_t(t)};
  };
  struct Case {
    const char* what;
    OvNoteIndexRecord bad;
  } cases[] = {
      {"kind 7", WithKind(record(b, 1), 7)},
      {"kind -1", WithKind(record(b, 1), -1)},
      {"position not a number", record(b, NAN)},
      {"missing file", record("20000000000000001", 1)},
      {"listed twice", record(a, 2)},
  };
  for (const Case& c : cases) {
    OvNoteIndex index;
    index.notes = {record(a, 1), c.bad};
    Bytes bytes;
    ASSERT_TRUE(OvEncodeNoteIndex(index, bytes));
    WriteFile(dir + "inf.bin", bytes);
    TraceCapture trace;
    OvBoardLoad load;
    ASSERT_TRUE(store.LoadNotes(load, PlaceAt99)) << c.what;
    EXPECT_EQ(Files(load), (std::vector<std::string>{b, a})) << c.what;  // the unlisted note in front
    EXPECT_EQ(load.notes[1].pos[0], 1.0f) << c.what;
    EXPECT_FALSE(load.problems.empty()) << c.what;
    EXPECT_TRUE(trace.Contains("Note index record 1")) << c.what;
  }
}

TEST_F(NoteFolder, DamagedIndexIsSetAsideThenBackupThenFiles) {
  std::vector<OvBoardNote> board;
  for (int i = 0; i < 3; ++i) board.push_back({AddNote(i, uint8_t(i)), i, {float(i), 256, 0}});
  ASSERT_TRUE(store.SaveNotes(board, {}));
  const Bytes good = ReadFile(dir + "inf.bin");
  Bytes version2 = good, hugeCount = good;
  version2[0] = 2;
  hugeCount[5] = 0x7F;
  struct Case {
    const char* what;
    Bytes bin;  // empty: no inf.bin
    Bytes bak;  // empty: no inf.bak
    const char* used;
  } cases[] = {
      {"version 2, good backup", version2, good, "inf.bak"},
      {"huge count, no backup", hugeCount, {}, ""},
      {"truncated, damaged backup", Bytes(good.begin(), good.begin() + 9), version2, ""},
      {"missing, good backup", {}, good, "inf.bak"},
  };
  for (const Case& c : cases) {
    for (const std::string& f : FilesIn(dir))
      if (f.rfind("inf.", 0) == 0) fs::remove(dir + f);
    if (!c.bin.empty()) WriteFile(dir + "inf.bin", c.bin);
    if (!c.bak.empty()) WriteFile(dir + "inf.bak", c.bak);
    OvBoardLoad load;
    ASSERT_TRUE(store.LoadNotes(load, PlaceAt99)) << c.what;
    EXPECT_EQ(load.indexUsed, c.used) << c.what;
    // Rebuilt boards keep every note, oldest at the back.
    const std::vector<std::string> saved = {board[0].file, board[1].file, board[2].file};
    const std::vector<std::string> rebuilt = {board[2].file, board[1].file, board[0].file};
    EXPECT_EQ(Files(load), *c.used ? saved : rebuilt) << c.what;
    int setAside = 0;
    for (const std::string& f : FilesIn(dir))
      if (f.find(".bad-") != std::string::npos) {
        ++setAside;
        const Bytes kept = ReadFile(dir + f);
        EXPECT_TRUE(kept == c.bin || kept == c.bak) << c.what << ": " << f;
      }
    EXPECT_EQ(setAside, int(!c.bin.empty()) + int(c.bak == version2)) << c.what;
    for (const std::string& f : FilesIn(dir))
      if (f.find(".bad-") != std::string::npos) fs::remove(dir + f);
  }
}

TEST_F(NoteFolder, NoSingleByteFlipOfTheIndexLosesANote) {
  std::vector<OvBoardNote> board;
  for (int i = 0; i < 3; ++i) board.push_back({AddNote(i, uint8_t(i)), i, {float(i), 256, 0}});
  OvMarkerRecord marker;
  ASSERT_TRUE(store.SaveNotes(board, {marker}));
  const Bytes good = ReadFile(dir + "inf.bin");
  std::vector<std::string> all = {board[0].file, board[1].file, board[2].file};
  std::sort(all.begin(), all.end());
  TraceCapture quiet;
  for (size_t i = 0; i < good.size(); ++i) {
    Bytes flipped = good;
    flipped[i] ^= 0xA5;
    WriteFile(dir + "inf.bin", flipped);
    OvBoardLoad load;
    ASSERT_TRUE(store.LoadNotes(load, PlaceAt99)) << i;
    std::vector<std::string> found = Files(load);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, all) << "byte " << i;
    for (const OvBoardNote& n : load.notes) EXPECT_TRUE(std::isfinite(n.pos[0])) << "byte " << i;
  }
}

TEST_F(NoteFolder, SavingKeepsThePreviousGoodIndexAsBackup) {
  const std::string a = AddNote(0, 1);
  ASSERT_TRUE(store.SaveNotes({{a, 0, {1, 256, 0}}}, {}));
  const Bytes first = ReadFile(dir + "inf.bin");
  ASSERT_TRUE(store.SaveNotes({{a, 0, {2, 256, 0}}}, {}));
  EXPECT_EQ(ReadFile(dir + "inf.bak"), first);
  EXPECT_NE(ReadFile(dir + "inf.bin"), first);
  // A damaged inf.bin never becomes the backup.
  WriteFile(dir + "inf.bin", {1, 2, 3});
  ASSERT_TRUE(store.SaveNotes({{a, 0, {3, 256, 0}}}, {}));
  EXPECT_EQ(ReadFile(dir + "inf.bak"), first);
}

TEST_F(NoteFolder, NinetyOneDeletionsKeepNinetyAndDropTheEarliest) {
  std::vector<std::string> notes;
  for (int i = 0; i < 91; ++i) notes.push_back(AddNote(i % 4, uint8_t(i)));
  // Thrown away newest first, so name order and deletion order differ.
  for (int i = 90; i >= 0; --i) ASSERT_TRUE(store.RecycleNote(notes[size_t(i)])) << i;
  EXPECT_EQ(store.RecycleCount(), 90);
  EXPECT_FALSE(fs::exists(dir + "recycle/" + notes[90]));
  EXPECT_TRUE(fs::exists(dir + "recycle/" + notes[0]));
  std::vector<OvRecycledNote> bin;
  ASSERT_TRUE(store.ListRecycled(bin));
  ASSERT_EQ(bin.size(), 90u);
  EXPECT_EQ(bin.front().file, notes[89]);
  EXPECT_EQ(bin.back().file, notes[0]);
}

TEST_F(NoteFolder, MovesAndDeletionsAreChecked) {
  const std::string a = AddNote(0, 1), b = AddNote(1, 2);
  ASSERT_TRUE(store.RecycleNote(a));
  // A file of the same name already in the bin must not be overwritten.
  WriteFile(dir + "recycle/" + b, {1});
  struct Case {
    const char* what;
    bool (OvNoteStore::*op)(const std::string&);
    std::string file;
  } cases[] = {
      {"recycle over a binned file", &OvNoteStore::RecycleNote, b},
      {"recycle a missing note", &OvNoteStore::RecycleNote, "30000000000000001"},
      {"return a note not in the bin", &OvNoteStore::ReturnNote, "30000000000000001"},
      {"delete a note not in the bin", &OvNoteStore::DeleteRecycled, "30000000000000001"},
      {"a path, not a name", &OvNoteStore::DeleteRecycled, "../inf.bin"},
  };
  for (const Case& c : cases) {
    TraceCapture trace;
    EXPECT_FALSE((store.*c.op)(c.file)) << c.what;
    EXPECT_TRUE(trace.Contains("!!! ")) << c.what;
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{b})) << c.what;
    EXPECT_EQ(ReadFile(dir + "recycle/" + b), Bytes{1}) << c.what;
    EXPECT_EQ(store.RecycleCount(), 2) << c.what;
  }
  ASSERT_TRUE(store.ReturnNote(a));
  EXPECT_TRUE(fs::exists(dir + a));
  EXPECT_EQ(store.RecycleCount(), 1);
  ASSERT_TRUE(store.EmptyRecycleBin());
  EXPECT_EQ(store.RecycleCount(), 0);
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{a, b}));
}

TEST_F(NoteFolder, NewNamesTakeTheNextFreeTime) {
  g_fixedTime = 0x01DB000000000010ull;
  store.SetClock(FixedClock);
  WriteFile(dir + OvNoteFileName(1, g_fixedTime), {1});
  WriteFile(dir + "recycle/" + OvNoteFileName(1, g_fixedTime + 1), {1});
  EXPECT_EQ(store.NewNoteFileName(1), OvNoteFileName(1, g_fixedTime + 2));
  EXPECT_EQ(store.NewNoteFileName(2), OvNoteFileName(2, g_fixedTime + 3));  // same tick
  g_fixedTime -= 100;                                                       // clock set back
  EXPECT_EQ(store.NewNoteFileName(0), OvNoteFileName(0, g_fixedTime + 104));
  EXPECT_EQ(store.NewNoteFileName(4), "");
}

// Runs `body` in a child whose files may not grow past `limit` bytes (a full
// disk); returns its exit status.
int WithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &r);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(NoteFolder, FullDiskSaveFailsVisiblyAndLosesNothing) {
  const std::string a = AddNote(0, 1);
  ASSERT_TRUE(store.SaveNotes({{a, 0, {1, 256, 0}}}, {}));
  ASSERT_TRUE(store.SaveNotes({{a, 0, {1, 256, 0}}}, {}));
  Bytes noise(OV_NOTE_IMAGE_BYTES);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t((i * 2654435761u) >> 13);
  std::vector<OvBoardNote> many(20, OvBoardNote{a, 0, {1, 256, 0}});
  struct Case {
    const char* what;
    std::function<bool(OvNoteStore&)> save;
  } cases[] = {
      {"note image", [&](OvNoteStore& s) { return s.WriteImage(a, noise.data()); }},
      {"index", [&](OvNoteStore& s) { return s.SaveNotes(many, {}); }},
  };
  for (const Case& c : cases) {
    const Bytes note = ReadFile(dir + a), bin = ReadFile(dir + "inf.bin");
    const int status = WithFileSizeLimit(200, [&] {
      OvNoteStore s;
      TraceCapture quiet;
      if (!s.Open(dir)) return 1;
      if (c.save(s)) return 2;                 // must fail
      if (s.SaveProblem().empty()) return 3;   // and say so
      rlimit r{RLIM_INFINITY, RLIM_INFINITY};  // space again
      setrlimit(RLIMIT_FSIZE, &r);
      if (!c.save(s)) return 4;
      return s.SaveProblem().empty() ? 0 : 5;
    });
    EXPECT_EQ(status, 0) << c.what;
    if (std::string(c.what) == "index") {
      EXPECT_EQ(ReadFile(dir + "inf.bak"), bin) << c.what;
    } else {
      EXPECT_NE(ReadFile(dir + a), note) << c.what;
    }
    EXPECT_EQ(FilesIn(dir).size(), 3u) << c.what;  // no temporary file left
  }
  // The failed half alone: the good files stay as they were.
  const Bytes note = ReadFile(dir + a), bin = ReadFile(dir + "inf.bin");
  EXPECT_EQ(WithFileSizeLimit(200, [&] { return store.WriteImage(a, noise.data()) ? 1 : 0; }), 0);
  EXPECT_EQ(WithFileSizeLimit(200, [&] { return store.SaveNotes(many, {}) ? 1 : 0; }), 0);
  EXPECT_EQ(ReadFile(dir + a), note);
  EXPECT_EQ(ReadFile(dir + "inf.bin"), bin);
  EXPECT_EQ(FilesIn(dir).size(), 3u);
}

TEST(RecycleView, SevenNotesInRowsOfThreeAndTheScrollEnd) {
  struct Case {
    int k;
    float x, y;
  } cases[] = {{0, 0, 0}, {2, 0, -190}, {3, 90, 0}, {5, 90, -190}, {6, 180, 0}};
  for (const Case& c : cases) {
    float pos[3];
    OvRecycleSlot(c.k, pos);
    EXPECT_EQ(pos[0], c.x) << c.k;
    EXPECT_EQ(pos[1], c.y) << c.k;
    EXPECT_EQ(pos[2], 4.0f) << c.k;
  }
  // 7 notes: w = 270; the end moves back by (270 - 480) / 2220 of the range.
  EXPECT_DOUBLE_EQ(OvRecycleScrollEnd(7, 300, 2520), 90);
  EXPECT_DOUBLE_EQ(OvRecycleScrollEnd(7, 100, 2320), 0);  // never below 0
  EXPECT_DOUBLE_EQ(OvRecycleScrollEnd(30, 0, 2220), 900 - 480);
}

TEST(SaveThrottle, AtMostOncePerIntervalAndNoRequestLost) {
  OvSaveThrottle t(1000);
  struct Step {
    uint32_t now;
    bool request;
    bool due;
  } steps[] = {
      {0xFFFFFE00u, false, false},  // nothing asked
      {0xFFFFFF00u, true, true},    // first drag end saves at once
      {0xFFFFFF10u, true, false},   // too soon
      {0x00000200u, false, false},  // still too soon across the counter wrap
      {0x000002F0u, false, true},   // a second later: the pending save
      {0x00000300u, false, false},  // only once
  };
  for (const Step& s : steps) {
    if (s.request) t.Request();
    EXPECT_EQ(t.Due(s.now), s.due) << std::hex << s.now;
  }
}

}  // namespace
