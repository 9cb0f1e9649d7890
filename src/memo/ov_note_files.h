// The memo board's files: note image files, the note index ("inf.bin" and
// its backup "inf.bak"), note file names, and writing a file so that a crash
// or a full disk never leaves a half-written file in place of a good one.
//
// A note image file: i32 1048576 (512 x 512 x 4), then a compressed block
// (u32 1, u32 packed length, zlib stream) of the image, B G R A per pixel,
// rows top to bottom.
//
// The index: i16 version 3, i32 note count, 22-byte note records front
// first ("RRRsuu": x y z, kind, FILETIME high, low), i16 marker count,
// 80-byte marker records ("RRRi": x y z, template index, then the 64-byte
// matrix as stored in memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t OV_NOTE_SIZE = 512;
constexpr size_t OV_NOTE_IMAGE_BYTES = size_t(OV_NOTE_SIZE) * OV_NOTE_SIZE * 4;
constexpr int16_t OV_NOTE_INDEX_VERSION = 3;
constexpr size_t OV_NOTE_RECORD_BYTES = 22;
constexpr size_t OV_MARKER_RECORD_BYTES = 80;
constexpr int OV_NOTE_KINDS = 4;
constexpr size_t OV_NOTE_NAME_LENGTH = 17;

// 100-ns ticks since 1601-01-01 UTC, from the system clock.
uint64_t OvFileTimeNow();

// "%1X%016llX": the kind digit then the FILETIME in 16 upper-case digits.
std::string OvNoteFileName(int kind, uint64_t fileTime);
// Accepts exactly that form with a kind of 0-3; anything else (temporary
// files, the index, a name from elsewhere) is no note.
bool OvParseNoteFileName(const std::string& name, int& kind, uint64_t& fileTime);

// --- note image files -------------------------------------------------------

// Encodes a 512x512 BGRA image (OV_NOTE_IMAGE_BYTES) as a note file.
bool OvEncodeNoteImage(const uint8_t* bgra, std::vector<uint8_t>& file);
// Decodes a note file into exactly OV_NOTE_IMAGE_BYTES. On failure `reason`
// says what is wrong and the image is left empty.
bool OvDecodeNoteImage(const uint8_t* data, size_t size, std::vector<uint8_t>& bgra, std::string& reason);
// Reads and decodes the file at `path` (regular files only, size bounded).
bool OvReadNoteImage(const std::string& path, std::vector<uint8_t>& bgra, std::string& reason);

// --- the index ---------------------------------------------------------------

struct OvNoteIndexRecord {
  float pos[3] = {0, 0, 0};
  int16_t kind = 0;
  uint32_t timeHigh = 0;
  uint32_t timeLow = 0;
};

struct OvMarkerRecord {
  float pos[3] = {0, 0, 0};
  int32_t templateIndex = -1;
  float matrix[16] = {};  // stored as its 64 raw bytes
};

struct OvNoteIndex {
  std::vector<OvNoteIndexRecord> notes;  // front first
  std::vector<OvMarkerRecord> markers;   // oldest first
};

// Fails when a count does not fit its field (more than 2^31 - 1 notes or
// 32767 markers).
bool OvEncodeNoteIndex(const OvNoteIndex& index, std::vector<uint8_t>& file);
// Strict: version 3, counts that fit the data exactly, nothing after the last
// record. Record contents are not judged here (see the store).
bool OvDecodeNoteIndex(const uint8_t* data, size_t size, OvNoteIndex& index, std::string& reason);

// --- files -------------------------------------------------------------------

// Reads a whole regular file of at most maxSize bytes. `missing` is set when
// the file does not exist.
bool OvReadWholeFile(const std::string& path, size_t maxSize, std::vector<uint8_t>& out, std::string& reason,
                     bool* missing = nullptr);

// Writes `folder` + `name` through a temporary file in the same folder:
// write, fsync, rename over the old file, fsync of the folder. On failure the
// old file (if any) is untouched, the temporary file is removed and `reason`
// says why. `folder` ends with "/".
bool OvWriteFileAtomic(const std::string& folder, const std::string& name, const void* data, size_t size,
                       std::string& reason);

// Temporary files begin with this; they never parse as note names.
extern const char* const OV_TEMP_PREFIX;

// fsync of a folder; false with the reason when it cannot be done.
bool OvSyncFolder(const std::string& folder, std::string& reason);

// Note files of a folder (regular files whose names parse), in the order the
// system lists them. False with the reason when the folder cannot be listed.
struct OvNoteFileEntry {
  std::string name;
  int kind = 0;
  uint64_t fileTime = 0;
  int64_t modifiedNs = 0;  // modification time, nanoseconds since 1970
};
bool OvListNoteFiles(const std::string& folder, std::vector<OvNoteFileEntry>& out, std::string& reason);
