#include "ov_note_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>

#include "ov_trace.h"

namespace {

// Far beyond any real board (six bytes per note would be 2^31 notes); only
// bounds what a damaged or hostile file makes us read.
constexpr size_t kMaxIndexFile = 64u << 20;
// Positions beyond this are no place on any board.
constexpr float kMaxCoordinate = 1.0e7f;

bool Finite(const float* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

bool OnBoard(const float* pos) {
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(pos[i]) || std::fabs(pos[i]) > kMaxCoordinate) return false;
  return true;
}

std::string WithSlash(const std::string& folder) {
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + "/";
}

void TraceLine(const std::string& text) { Trace((text + "\n").c_str()); }

std::string UtcStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm m{};
  gmtime_r(&now, &m);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &m);
  return text;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

void RemoveTemporaryFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const size_t prefix = std::strlen(OV_TEMP_PREFIX);
  while (dirent* e = ::readdir(dir)) {
    if (std::strncmp(e->d_name, OV_TEMP_PREFIX, prefix) != 0) continue;
    struct stat st {};
    if (::fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    // Never renamed into place, so never the only copy of anything.
    if (::unlinkat(dirfd(dir), e->d_name, 0) == 0)
      _TraceFormat("### Removed the unfinished file '%s%s'.\n", folder.c_str(), e->d_name);
  }
  ::closedir(dir);
}

}  // namespace

bool OvNoteStore::Fail(const std::string& why) {
  m_lastError = why;
  TraceLine("!!! " + why);
  return false;
}

bool OvNoteStore::CheckedName(const std::string& file, int* kind) {
  int k = 0;
  uint64_t t = 0;
  if (!OvParseNoteFileName(file, k, t)) return Fail("'" + file + "' is no note file name");
  if (kind) *kind = k;
  return true;
}

void OvNoteStore::NoteWrite(const std::string& target, bool ok) {
  if (ok)
    m_failedWrites.erase(target);
  else
    m_failedWrites[target] = m_lastError;
}

std::string OvNoteStore::SaveProblem() const {
  return m_failedWrites.empty() ? std::string() : m_failedWrites.begin()->second;
}

bool OvNoteStore::Open(const std::string& dataFolder) {
  m_data = WithSlash(dataFolder);
  m_recycle = m_data + "recycle/";
  m_recycleCount = 0;
  m_failedWrites.clear();
  std::error_code ec;
  std::filesystem::create_directories(m_recycle, ec);
  if (!BinIsFolder()) return false;
  if (ec) return Fail("cannot create the note folder '" + m_recycle + "': " + ec.message());
  RemoveTemporaryFiles(m_data);
  RemoveTemporaryFiles(m_recycle);
  CountRecycled();
  return true;
}

bool OvNoteStore::BinIsFolder() {
  // A link would move notes out of the data folder and let "empty the bin"
  // delete files in another one.
  const std::string bin = m_recycle.substr(0, m_recycle.size() - 1);
  struct stat st {};
  if (::lstat(bin.c_str(), &st) != 0)
    return Fail("cannot use the recycle folder '" + bin + "': " + std::strerror(errno));
  if (S_ISLNK(st.st_mode))
    return Fail("the recycle folder '" + bin +
                "' is a symbolic link; the board does not follow it there (make it a plain folder)");
  if (!S_ISDIR(st.st_mode)) return Fail("the recycle folder '" + bin + "' is not a folder");
  return true;
}

void OvNoteStore::CountRecycled() {
  std::vector<OvNoteFileEntry> bin;
  std::string reason;
  if (OvListNoteFiles(m_recycle, bin, reason))
    m_recycleCount = int(bin.size());
  else
    Fail(reason);
}

OvNoteStore::IndexState OvNoteStore::ReadIndex(const char* name, OvNoteIndex& index, std::string& reason) {
  std::vector<uint8_t> bytes;
  bool missing = false;
  if (!OvReadWholeFile(m_data + name, kMaxIndexFile, bytes, reason, &missing))
    return missing ? IndexState::Missing : IndexState::Bad;
  return OvDecodeNoteIndex(bytes.data(), bytes.size(), index, reason) ? IndexState::Good : IndexState::Bad;
}

void OvNoteStore::SetAside(const char* name, OvBoardLoad* out) {
  const std::string from = m_data + name;
  std::string to = from + ".bad-" + UtcStamp();
  for (int i = 2; Exists(to) && i < 1000; ++i) to = from + ".bad-" + UtcStamp() + "-" + std::to_string(i);
  if (Move(from, to)) {
    std::string reason;
    OvSyncFolder(m_data, reason);
    if (out) out->problems.push_back("'" + from + "' renamed to '" + to + "'");
    TraceLine("### Note index '" + from + "' kept as '" + to + "'.");
  }
}

bool OvNoteStore::Move(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  int error = errno;
  if (error == EINVAL || error == ENOSYS) {
    // This file system cannot refuse to replace: check, then rename.
    if (Exists(to))
      error = EEXIST;
    else if (::rename(from.c_str(), to.c_str()) == 0)
      return true;
    else
      error = errno;
  }
  return Fail("cannot move '" + from + "' to '" + to + "': " + std::strerror(error));
}

bool OvNoteStore::LoadNotes(OvBoardLoad& out, const OvNotePlaceFn& place) {
  out = {};
  std::vector<OvNoteFileEntry> bin, data;
  std::string reason;
  if (!OvListNoteFiles(m_recycle, bin, reason)) return Fail(reason);
  m_recycleCount = out.recycleCount = int(bin.size());
  if (!OvListNoteFiles(m_data, data, reason)) return Fail(reason);

  auto problem = [&](const std::string& text) {
    out.problems.push_back(text);
    TraceLine("### " + text);
  };

  OvNoteIndex index;
  bool have = false;
  for (const char* name : {"inf.bin", "inf.bak"}) {
    const IndexState state = ReadIndex(name, index, reason);
    if (state == IndexState::Good) {
      have = true;
      out.indexUsed = name;
      break;
    }
    if (state == IndexState::Bad) {
      problem("Note index '" + m_data + name + "' is damaged: " + reason);
      SetAside(name, &out);
    }
  }

  std::set<std::string> inData, inBin, listed;
  for (const OvNoteFileEntry& e : data) inData.insert(e.name);
  for (const OvNoteFileEntry& e : bin) inBin.insert(e.name);

  if (have) {
    for (size_t i = 0; i < index.notes.size(); ++i) {
      const OvNoteIndexRecord& r = index.notes[i];
      const std::string where = "Note index record " + std::to_string(i) + ": ";
      if (r.kind < 0 || r.kind >= OV_NOTE_KINDS) {
        problem(where + "kind " + std::to_string(r.kind) + " is not 0-3; skipped");
        continue;
      }
      if (!OnBoard(r.pos)) {
        problem(where + "position is out of range; placed anew");
        continue;
      }
      const std::string name = OvNoteFileName(r.kind, (uint64_t(r.timeHigh) << 32) | r.timeLow);
      if (listed.count(name)) {
        problem(where + "'" + name + "' is listed twice; skipped");
        continue;
      }
      if (!inData.count(name)) {
        problem(where + "'" + name + (inBin.count(name) ? "' is in the bin; skipped" : "' is missing; skipped"));
        continue;
      }
      listed.insert(name);
      OvBoardNote note;
      note.file = name;
      note.kind = r.kind;
      std::copy(r.pos, r.pos + 3, note.pos);
      out.notes.push_back(std::move(note));
    }
    // No more markers than notes in the bin.
    for (size_t i = 0; i < index.markers.size() && out.markers.size() < size_t(out.recycleCount); ++i) {
      const OvMarkerRecord& m = index.markers[i];
      if (!OnBoard(m.pos) || !Finite(m.matrix, 16)) {
        problem("Note index marker " + std::to_string(i) + " has no usable position or matrix; skipped");
        continue;
      }
      out.markers.push_back(m);
    }
  } else if (!data.empty()) {
    problem("No usable note index in '" + m_data + "'; the board is rebuilt from the note files");
  }

  // Files no index lists: a crash between writing a note and writing the
  // index, or no index at all. Newest in front.
  std::vector<OvNoteFileEntry> unlisted;
  for (const OvNoteFileEntry& e : data)
    if (!listed.count(e.name)) unlisted.push_back(e);
  std::sort(unlisted.begin(), unlisted.end(), [](const OvNoteFileEntry& a, const OvNoteFileEntry& b) {
    return a.fileTime != b.fileTime ? a.fileTime > b.fileTime : a.name > b.name;
  });
  std::vector<OvBoardNote> front;
  for (const OvNoteFileEntry& e : unlisted) {
    OvBoardNote note;
    note.file = e.name;
    note.kind = e.kind;
    note.placed = true;
    if (place) place(e.kind, e.name, note.pos);
    if (have) problem("Note '" + e.name + "' was not in the index; put back on the board");
    front.push_back(std::move(note));
  }
  out.notes.insert(out.notes.begin(), front.begin(), front.end());
  return true;
}

bool OvNoteStore::SaveNotes(const std::vector<OvBoardNote>& notes, const std::vector<OvMarkerRecord>& markers) {
  OvNoteIndex index;
  for (const OvBoardNote& n : notes) {
    OvNoteIndexRecord r;
    int kind = 0;
    uint64_t time = 0;
    if (!OvParseNoteFileName(n.file, kind, time)) {
      TraceLine("!!! Note '" + n.file + "' has no note file name; left out of the index.");
      continue;
    }
    std::copy(n.pos, n.pos + 3, r.pos);
    r.kind = int16_t(kind);
    r.timeHigh = uint32_t(time >> 32);
    r.timeLow = uint32_t(time);
    index.notes.push_back(r);
  }
  index.markers = markers;
  if (index.markers.size() > size_t(INT16_MAX)) index.markers.resize(size_t(INT16_MAX));
  std::vector<uint8_t> bytes;
  if (!OvEncodeNoteIndex(index, bytes)) return Fail("cannot encode the note index");

  // The index on disk, when good, becomes the backup.
  std::vector<uint8_t> old;
  OvNoteIndex previous;
  std::string reason;
  bool ok = true;
  if (OvReadWholeFile(m_data + "inf.bin", kMaxIndexFile, old, reason) &&
      OvDecodeNoteIndex(old.data(), old.size(), previous, reason)) {
    const bool bak = OvWriteFileAtomic(m_data, "inf.bak", old.data(), old.size(), reason);
    if (!bak) Fail(reason);
    NoteWrite("inf.bak", bak);
    ok = bak;
  }
  const bool bin = OvWriteFileAtomic(m_data, "inf.bin", bytes.data(), bytes.size(), reason);
  if (!bin) Fail(reason);
  NoteWrite("inf.bin", bin);
  return ok && bin;
}

std::string OvNoteStore::NewNoteFileName(int kind) {
  if (kind < 0 || kind >= OV_NOTE_KINDS) {
    Fail("no note file name for kind " + std::to_string(kind));
    return {};
  }
  uint64_t t = std::max(m_clock(), m_lastTime + 1);
  std::string name = OvNoteFileName(kind, t);
  // Two notes in one clock tick, or a clock set back: the next free value.
  while (Exists(m_data + name) || Exists(m_recycle + name)) name = OvNoteFileName(kind, ++t);
  m_lastTime = t;
  return name;
}

bool OvNoteStore::WriteImage(const std::string& file, const uint8_t* bgra) {
  if (!CheckedName(file)) return false;
  std::vector<uint8_t> bytes;
  std::string reason;
  bool ok = OvEncodeNoteImage(bgra, bytes);
  if (!ok) Fail("cannot encode the note '" + file + "'");
  ok = ok && (OvWriteFileAtomic(m_data, file, bytes.data(), bytes.size(), reason) || Fail(reason));
  NoteWrite(file, ok);
  return ok;
}

bool OvNoteStore::ReadImage(const std::string& file, bool recycled, std::vector<uint8_t>& bgra) {
  bgra.clear();
  if (!CheckedName(file)) return false;
  const std::string path = (recycled ? m_recycle : m_data) + file;
  std::string reason;
  if (OvReadNoteImage(path, bgra, reason)) return true;
  return Fail("note file '" + path + "' skipped: " + reason);
}

bool OvNoteStore::RecycleNote(const std::string& file) {
  if (!BinIsFolder()) return false;
  if (!CheckedName(file)) {
    CountRecycled();
    return false;
  }
  const std::string from = m_data + file;
  // Stamped before the move, so a moved file always carries its deletion
  // time; a recycled file is never written again. The precise clock keeps
  // quick successive deletions in order (file systems stamp coarsely).
  timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
  clock_gettime(CLOCK_REALTIME, &times[1]);
  if (::utimensat(AT_FDCWD, from.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail("cannot recycle '" + from + "': " + std::strerror(errno));
    CountRecycled();
    return false;
  }
  if (!Move(from, m_recycle + file)) {
    CountRecycled();
    return false;
  }
  std::string reason;
  if (!OvSyncFolder(m_recycle, reason) || !OvSyncFolder(m_data, reason)) Fail(reason);

  std::vector<OvRecycledNote> bin;
  bool ok = ListRecycled(bin);
  for (size_t i = 0; ok && bin.size() - i > size_t(OV_RECYCLE_LIMIT); ++i) {
    const std::string oldest = m_recycle + bin[i].file;
    if (::unlink(oldest.c_str()) != 0) ok = Fail("cannot delete '" + oldest + "': " + std::strerror(errno));
  }
  if (!OvSyncFolder(m_recycle, reason)) Fail(reason);
  CountRecycled();
  return true;
}

bool OvNoteStore::ReturnNote(const std::string& file) {
  if (!BinIsFolder()) return false;
  if (!CheckedName(file)) {
    CountRecycled();
    return false;
  }
  const bool ok = Move(m_recycle + file, m_data + file);
  std::string reason;
  if (ok && (!OvSyncFolder(m_data, reason) || !OvSyncFolder(m_recycle, reason))) Fail(reason);
  CountRecycled();
  return ok;
}

bool OvNoteStore::DeleteRecycled(const std::string& file) {
  if (!BinIsFolder()) return false;
  if (!CheckedName(file)) {
    CountRecycled();
    return false;
  }
  const std::string path = m_recycle + file;
  bool ok = ::unlink(path.c_str()) == 0 || Fail("cannot delete '" + path + "': " + std::strerror(errno));
  std::string reason;
  if (ok && !OvSyncFolder(m_recycle, reason)) Fail(reason);
  CountRecycled();
  return ok;
}

bool OvNoteStore::EmptyRecycleBin() {
  if (!BinIsFolder()) return false;
  std::vector<OvNoteFileEntry> bin;
  std::string reason;
  bool ok = OvListNoteFiles(m_recycle, bin, reason) || Fail(reason);
  for (const OvNoteFileEntry& e : bin) {
    const std::string path = m_recycle + e.name;
    if (::unlink(path.c_str()) != 0) ok = Fail("cannot delete '" + path + "': " + std::strerror(errno));
  }
  if (!OvSyncFolder(m_recycle, reason)) Fail(reason);
  CountRecycled();
  return ok;
}

bool OvNoteStore::ListRecycled(std::vector<OvRecycledNote>& out) {
  out.clear();
  std::vector<OvNoteFileEntry> bin;
  std::string reason;
  if (!OvListNoteFiles(m_recycle, bin, reason)) return Fail(reason);
  std::sort(bin.begin(), bin.end(), [](const OvNoteFileEntry& a, const OvNoteFileEntry& b) {
    return a.modifiedNs != b.modifiedNs ? a.modifiedNs < b.modifiedNs : a.name < b.name;
  });
  for (const OvNoteFileEntry& e : bin) out.push_back({e.name, e.kind, e.modifiedNs});
  return true;
}

void OvRecycleSlot(int k, float pos[3]) {
  const int row = k / 3, column = k % 3;
  pos[0] = 90.0f * float(row);
  pos[1] = -95.0f * float(column);
  pos[2] = 4.0f;
}

double OvRecycleScrollEnd(int count, double secStart, double secEnd) {
  const double width = 90.0 * double((std::max(count, 0) + 2) / 3);
  return std::max(0.0, secStart + (width - 480.0) * (secEnd - secStart) / 2220.0);
}

bool OvSaveThrottle::Due(uint32_t nowMs) {
  if (!m_pending || (m_saved && nowMs - m_last < m_interval)) return false;
  m_pending = false;
  m_saved = true;
  m_last = nowMs;
  return true;
}
