#include "ov_note_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ov_paths.h"
#include "ov_stream.h"

const char* const OV_TEMP_PREFIX = ".tmp-";

namespace {

// Seconds between 1601-01-01 and 1970-01-01, in FILETIME ticks.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;
// A note file is the size word, the block header and at most a little more
// than the image itself (zlib never grows data by much).
constexpr size_t kMaxNoteFile = 12 + OV_NOTE_IMAGE_BYTES + OV_NOTE_IMAGE_BYTES / 100 + 1024;

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

std::string Errno(int e) { return std::strerror(e); }

}  // namespace

uint64_t OvFileTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  if (ts.tv_sec < 0) return kUnixEpochTicks;
  return kUnixEpochTicks + uint64_t(ts.tv_sec) * 10000000ull + uint64_t(ts.tv_nsec) / 100;
}

std::string OvNoteFileName(int kind, uint64_t fileTime) {
  char text[32];
  std::snprintf(text, sizeof text, "%1X%016llX", unsigned(kind) & 0xF, static_cast<unsigned long long>(fileTime));
  return text;
}

bool OvParseNoteFileName(const std::string& name, int& kind, uint64_t& fileTime) {
  if (name.size() != OV_NOTE_NAME_LENGTH) return false;
  for (char c : name)
    if (!IsUpperHex(c)) return false;
  if (name[0] < '0' || name[0] > '3') return false;
  kind = name[0] - '0';
  fileTime = std::strtoull(name.c_str() + 1, nullptr, 16);
  return true;
}

// --- note image files -------------------------------------------------------

bool OvEncodeNoteImage(const uint8_t* bgra, std::vector<uint8_t>& file) {
  file.clear();
  if (!bgra) return false;
  OvStream s;
  if (!s.OpenMemoryWrite()) return false;
  if (!s.WriteI32(int32_t(OV_NOTE_IMAGE_BYTES)) || !s.WriteCompressed(bgra, OV_NOTE_IMAGE_BYTES)) return false;
  file.assign(s.Image(), s.Image() + s.ImageSize());
  return true;
}

bool OvDecodeNoteImage(const uint8_t* data, size_t size, std::vector<uint8_t>& bgra, std::string& reason) {
  bgra.clear();
  OvStream s;
  if (!s.OpenMemory(data, size)) {
    reason = "cannot be read";
    return false;
  }
  int32_t raw = 0, flag = 0;
  uint32_t packed = 0;
  if (!s.ReadI32(raw) || !s.ReadI32(flag) || !s.ReadU32(packed)) {
    reason = "too short (" + std::to_string(size) + " bytes)";
    return false;
  }
  if (raw != int32_t(OV_NOTE_IMAGE_BYTES)) {
    reason = "size word is " + std::to_string(raw) + ", " + std::to_string(OV_NOTE_IMAGE_BYTES) + " expected";
    return false;
  }
  if (flag != 1) {
    reason = "block flag is " + std::to_string(flag) + ", 1 expected";
    return false;
  }
  if (packed > s.Remaining()) {
    reason =
        "truncated: the block needs " + std::to_string(packed) + " bytes, " + std::to_string(s.Remaining()) + " remain";
    return false;
  }
  s.Seek(4);
  std::vector<uint8_t> image(OV_NOTE_IMAGE_BYTES);
  if (!s.ReadCompressed(image.data(), image.size())) {
    reason = "the compressed image is damaged";
    return false;
  }
  bgra.swap(image);
  return true;
}

bool OvReadNoteImage(const std::string& path, std::vector<uint8_t>& bgra, std::string& reason) {
  std::vector<uint8_t> file;
  if (!OvReadWholeFile(path, kMaxNoteFile, file, reason)) {
    bgra.clear();
    return false;
  }
  return OvDecodeNoteImage(file.data(), file.size(), bgra, reason);
}

// --- the index ---------------------------------------------------------------

bool OvEncodeNoteIndex(const OvNoteIndex& index, std::vector<uint8_t>& file) {
  file.clear();
  if (index.notes.size() > size_t(INT32_MAX) || index.markers.size() > size_t(INT16_MAX)) return false;
  OvStream s;
  if (!s.OpenMemoryWrite()) return false;
  bool ok = s.WriteU16(uint16_t(OV_NOTE_INDEX_VERSION)) && s.WriteI32(int32_t(index.notes.size()));
  for (const OvNoteIndexRecord& n : index.notes) {
    if (!ok) break;
    ok = s.WriteLayout("RRRsuu", n.pos[0], n.pos[1], n.pos[2], n.kind, n.timeHigh, n.timeLow);
  }
  ok = ok && s.WriteU16(uint16_t(index.markers.size()));
  for (const OvMarkerRecord& m : index.markers) {
    if (!ok) break;
    ok = s.WriteLayout("RRRi", m.pos[0], m.pos[1], m.pos[2], m.templateIndex) && s.WriteBytes(m.matrix, 64);
  }
  if (!ok) return false;
  file.assign(s.Image(), s.Image() + s.ImageSize());
  return true;
}

bool OvDecodeNoteIndex(const uint8_t* data, size_t size, OvNoteIndex& index, std::string& reason) {
  index = {};
  OvStream s;
  int16_t version = 0;
  int32_t count = 0;
  if (!s.OpenMemory(data, size) || !s.ReadI16(version)) {
    reason = "no version field";
    return false;
  }
  if (version != OV_NOTE_INDEX_VERSION) {
    reason = "version " + std::to_string(version) + ", 3 expected";
    return false;
  }
  if (!s.ReadI32(count) || count < 0 || uint64_t(count) * OV_NOTE_RECORD_BYTES > s.Remaining()) {
    reason = "note count " + std::to_string(count) + " does not fit the " + std::to_string(size) + "-byte file";
    return false;
  }
  index.notes.resize(size_t(count));
  for (OvNoteIndexRecord& n : index.notes)
    s.ReadLayout("RRRsuu", &n.pos[0], &n.pos[1], &n.pos[2], &n.kind, &n.timeHigh, &n.timeLow);
  int16_t markers = 0;
  if (!s.ReadI16(markers) || markers < 0 || uint64_t(markers) * OV_MARKER_RECORD_BYTES > s.Remaining()) {
    reason = "marker count " + std::to_string(markers) + " does not fit the file";
    index = {};
    return false;
  }
  index.markers.resize(size_t(markers));
  for (OvMarkerRecord& m : index.markers) {
    s.ReadLayout("RRRi", &m.pos[0], &m.pos[1], &m.pos[2], &m.templateIndex);
    s.ReadBytes(m.matrix, 64);
  }
  if (s.Failed() || s.Remaining() != 0) {
    reason = s.Failed() ? "a record cannot be read" : std::to_string(s.Remaining()) + " bytes after the last record";
    index = {};
    return false;
  }
  return true;
}

// --- files -------------------------------------------------------------------

bool OvReadWholeFile(const std::string& path, size_t maxSize, std::vector<uint8_t>& out, std::string& reason,
                     bool* missing) {
  out.clear();
  if (missing) *missing = false;
  int error = 0;
  const int fd = OvOpenRegularFile(path.c_str(), &error);
  if (fd < 0) {
    if (missing) *missing = error == ENOENT;
    reason = error == ENOENT ? "missing" : "cannot be opened: " + Errno(error);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < 0 || uint64_t(st.st_size) > maxSize) {
    reason = "too large (" + std::to_string(st.st_size) + " bytes)";
    ::close(fd);
    return false;
  }
  out.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason = n < 0 ? "cannot be read: " + Errno(errno) : "shrank while being read";
      ::close(fd);
      out.clear();
      return false;
    }
    got += size_t(n);
  }
  ::close(fd);
  return true;
}

bool OvSyncFolder(const std::string& folder, std::string& reason) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    reason = "cannot open the folder '" + folder + "': " + Errno(errno);
    return false;
  }
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync folders
  if (!ok) reason = "cannot sync the folder '" + folder + "': " + Errno(errno);
  ::close(fd);
  return ok;
}

bool OvWriteFileAtomic(const std::string& folder, const std::string& name, const void* data, size_t size,
                       std::string& reason) {
  static std::atomic<uint32_t> serial{0};
  const std::string target = folder + name;
  const std::string temp =
      folder + OV_TEMP_PREFIX + name + "-" + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1));
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    reason = "cannot create a file in '" + folder + "': " + Errno(errno);
    return false;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  int error = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += size_t(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    reason = "cannot write '" + target + "': " + Errno(error);
    return false;
  }
  return OvSyncFolder(folder, reason);
}

bool OvListNoteFiles(const std::string& folder, std::vector<OvNoteFileEntry>& out, std::string& reason) {
  out.clear();
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    reason = "cannot list '" + folder + "': " + Errno(errno);
    return false;
  }
  errno = 0;
  while (dirent* e = ::readdir(dir)) {
    OvNoteFileEntry entry;
    entry.name = e->d_name;
    if (!OvParseNoteFileName(entry.name, entry.kind, entry.fileTime)) continue;
    struct stat st {};
    if (::fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    entry.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out.push_back(std::move(entry));
    errno = 0;
  }
  const int error = errno;
  ::closedir(dir);
  if (error != 0) {
    reason = "cannot list '" + folder + "': " + Errno(error);
    out.clear();
    return false;
  }
  return true;
}
