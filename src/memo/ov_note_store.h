// The notes on disk: the data folder with one image file per note and the
// index, the recycle folder (the bin, at most 90 notes). The board hands in
// and gets back plain records; it owns the scene objects.
//
// What the board calls (every call traces why it failed and returns false):
// - Open(dataFolder) at start-up; then LoadNotes(place) and build one note
//   per OvBoardNote (image from ReadImage(file, false)), markers from
//   OvMarkerRecord (keep at most RecycleCount() of them).
// - NewNoteFileName(kind) when a note is first saved, WriteImage(file, bgra)
//   after every edit, SaveNotes(...) after an edit, a recycle or return, when
//   a drag ends (at most about once a second) and at shutdown.
// - RecycleNote(file) when a note is thrown away, ReturnNote(file) when a
//   recycled note is put back, DeleteRecycled(file), EmptyRecycleBin();
//   ListRecycled() to lay out the recycle view, ReadImage(file, true) for its
//   pictures. When a move or deletion fails the note stays where it was.
// - SaveProblem(): non-empty while the last write of some file failed; show
//   it until it clears.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ov_note_files.h"

constexpr int OV_RECYCLE_LIMIT = 90;

// A note on the board as the index holds it.
struct OvBoardNote {
  std::string file;  // 17-character note file name
  int kind = 0;
  float pos[3] = {0, 0, 0};
  bool placed = false;  // true: position chosen by the board's callback (not in an index)
};

struct OvBoardLoad {
  std::vector<OvBoardNote> notes;       // front first
  std::vector<OvMarkerRecord> markers;  // oldest first, no more than recycleCount
  int recycleCount = 0;
  std::string indexUsed;              // "inf.bin", "inf.bak" or empty (rebuilt from the files)
  std::vector<std::string> problems;  // one line per thing skipped or set aside
};

// A recycled note; deletedNs is when it was thrown away.
struct OvRecycledNote {
  std::string file;
  int kind = 0;
  int64_t deletedNs = 0;
};

// The recycle view: the k-th note placed (the most recently thrown away
// first) sits in row k / 3, column k % 3, at this local position under the
// recycle-bin object.
void OvRecycleSlot(int k, float pos[3]);
// The scroll range of a view listing `count` notes: the new "SecEnd" of the
// view's "TouchControlObjTime" script controller from its "SecStart" and
// "SecEnd" (never below 0).
double OvRecycleScrollEnd(int count, double secStart, double secEnd);

// Saving after drags: Request() when a drag ends; Due() is true once per
// request, no sooner than `intervalMs` after the last save it allowed.
class OvSaveThrottle {
 public:
  explicit OvSaveThrottle(uint32_t intervalMs = 1000) : m_interval(intervalMs) {}
  void Request() { m_pending = true; }
  // nowMs: the 32-bit millisecond counter (wrapping).
  bool Due(uint32_t nowMs);
  bool Pending() const { return m_pending; }

 private:
  uint32_t m_interval;
  uint32_t m_last = 0;
  bool m_saved = false;
  bool m_pending = false;
};

// Chooses a board position for a note no index placed (kind, file name).
using OvNotePlaceFn = std::function<void(int kind, const std::string& file, float pos[3])>;

class OvNoteStore {
 public:
  // dataFolder with or without the final "/". Creates it and its "recycle/"
  // folder when missing and removes temporary files a crash left behind.
  // Fails when "recycle" is a symbolic link or no folder (and every bin
  // operation fails the same way should it become one later).
  bool Open(const std::string& dataFolder);

  const std::string& DataFolder() const { return m_data; }
  const std::string& RecycleFolder() const { return m_recycle; }

  // The board to show: notes from the first good index ("inf.bin", else
  // "inf.bak"; a damaged one is renamed aside to NAME.bad-TIME, never
  // deleted), then every note file no index lists put in front, newest
  // first, at positions from `place`. Without a usable index every note
  // file is placed that way (oldest at the back). Returns false only when a
  // folder cannot be listed.
  bool LoadNotes(OvBoardLoad& out, const OvNotePlaceFn& place);

  // Writes the index: the current "inf.bin", when good, becomes "inf.bak";
  // both are replaced atomically. Kind and time come from each file name; a
  // name that does not parse is left out with a trace line. Marker matrices
  // are the markers' override matrices (the world matrix when none is set).
  bool SaveNotes(const std::vector<OvBoardNote>& notes, const std::vector<OvMarkerRecord>& markers);

  // A name for a new note of kind 0-3 (empty for another kind): the current
  // FILETIME, or the next free value when that name exists in either folder
  // or was handed out already.
  std::string NewNoteFileName(int kind);
  // The FILETIME source of new names (OvFileTimeNow unless replaced).
  void SetClock(uint64_t (*now)()) { m_clock = now ? now : OvFileTimeNow; }

  bool WriteImage(const std::string& file, const uint8_t* bgra);
  bool ReadImage(const std::string& file, bool recycled, std::vector<uint8_t>& bgra);

  // Moves the note file into the bin and stamps its deletion time (the
  // file's modification time; reads never change it). Over 90 recycled
  // notes, the one thrown away earliest is deleted.
  bool RecycleNote(const std::string& file);
  bool ReturnNote(const std::string& file);
  bool DeleteRecycled(const std::string& file);
  // Deletes every recycled note; false when one stayed.
  bool EmptyRecycleBin();
  // Thrown away earliest first.
  bool ListRecycled(std::vector<OvRecycledNote>& out);
  // Counted in the folder after every change.
  int RecycleCount() const { return m_recycleCount; }

  // Why the last write of some file failed; empty once every failed file
  // has been written again.
  std::string SaveProblem() const;
  const std::string& LastError() const { return m_lastError; }

 private:
  enum class IndexState { Good, Missing, Bad };
  IndexState ReadIndex(const char* name, OvNoteIndex& index, std::string& reason);
  void SetAside(const char* name, OvBoardLoad* out);
  bool Fail(const std::string& why);
  bool CheckedName(const std::string& file, int* kind = nullptr);
  // The bin is a real folder, never a symbolic link.
  bool BinIsFolder();
  bool Move(const std::string& from, const std::string& to);
  void CountRecycled();
  void NoteWrite(const std::string& target, bool ok);

  std::string m_data;
  std::string m_recycle;
  int m_recycleCount = 0;
  uint64_t m_lastTime = 0;
  uint64_t (*m_clock)() = OvFileTimeNow;
  std::string m_lastError;
  std::map<std::string, std::string> m_failedWrites;  // file -> reason
};
