#include "ov_note_export.h"

#include <stb/stb_image_write.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "ov_note_files.h"
#include "ov_trace.h"

const uint32_t OV_NOTE_PAPER_COLOURS[4] = {0xFFFFF4B8, 0xFFFFD6E0, 0xFFD4E8FF, 0xFFDAF2CC};

namespace {

void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size);
}

bool ExportFolder(const std::string& from, const std::string& to, OvExportResult& result) {
  std::vector<OvNoteFileEntry> notes;
  std::string reason;
  if (!OvListNoteFiles(from, notes, reason)) {
    result.skipped.push_back(from + ": " + reason);
    Trace(("!!! Export: " + reason + "\n").c_str());
    return false;
  }
  std::error_code ec;
  if (!notes.empty()) std::filesystem::create_directories(to, ec);
  bool ok = true;
  std::vector<uint8_t> image, rgba, png;
  for (const OvNoteFileEntry& e : notes) {
    const std::string path = from + e.name;
    auto skip = [&](const std::string& why) {
      result.skipped.push_back(path + ": " + why);
      Trace(("!!! Export: '" + path + "' skipped: " + why + "\n").c_str());
      ok = false;
    };
    if (ec) {
      skip("cannot create '" + to + "': " + ec.message());
      continue;
    }
    if (!OvReadNoteImage(path, image, reason)) {
      skip(reason);
      continue;
    }
    OvCompositeNote(image.data(), OV_NOTE_PAPER_COLOURS[e.kind], rgba);
    png.clear();
    if (!stbi_write_png_to_func(AppendBytes, &png, OV_NOTE_SIZE, OV_NOTE_SIZE, 4, rgba.data(), OV_NOTE_SIZE * 4)) {
      skip("cannot encode the picture");
      continue;
    }
    if (!OvWriteFileAtomic(to, OvExportFileName(e.name), png.data(), png.size(), reason)) {
      skip(reason);
      continue;
    }
    ++result.written;
  }
  return ok;
}

}  // namespace

std::string OvExportFileName(const std::string& noteFile) {
  int kind = 0;
  uint64_t ticks = 0;
  if (!OvParseNoteFileName(noteFile, kind, ticks)) return {};
  const std::time_t seconds = std::time_t(int64_t(ticks / 10000000) - 11644473600ll);
  std::tm m{};
  gmtime_r(&seconds, &m);
  char date[40];
  std::strftime(date, sizeof date, "%Y%m%dT%H%M%S", &m);
  char text[80];
  std::snprintf(text, sizeof text, "%s.%07uZ-kind%d.png", date, unsigned(ticks % 10000000), kind);
  return text;
}

void OvCompositeNote(const uint8_t* bgra, uint32_t paper, std::vector<uint8_t>& rgba) {
  const int pr = (paper >> 16) & 0xFF, pg = (paper >> 8) & 0xFF, pb = paper & 0xFF;
  rgba.resize(OV_NOTE_IMAGE_BYTES);
  for (size_t i = 0; i < OV_NOTE_IMAGE_BYTES; i += 4) {
    const int a = bgra[i + 3];
    rgba[i + 0] = uint8_t((bgra[i + 2] * a + pr * (255 - a) + 127) / 255);
    rgba[i + 1] = uint8_t((bgra[i + 1] * a + pg * (255 - a) + 127) / 255);
    rgba[i + 2] = uint8_t((bgra[i + 0] * a + pb * (255 - a) + 127) / 255);
    rgba[i + 3] = 255;
  }
}

bool OvExportNotes(const std::string& dataFolder, const std::string& outFolder, OvExportResult& result) {
  result = {};
  std::string data = dataFolder, out = outFolder;
  if (data.empty() || data.back() != '/') data += '/';
  if (out.empty() || out.back() != '/') out += '/';
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    result.skipped.push_back(out + ": " + ec.message());
    Trace(("!!! Export: cannot create '" + out + "': " + ec.message() + "\n").c_str());
    return false;
  }
  const bool board = ExportFolder(data, out, result);
  // A board that never had a bin has nothing more to export.
  const bool bin =
      !std::filesystem::exists(data + "recycle", ec) || ExportFolder(data + "recycle/", out + "recycle/", result);
  return board && bin;
}
