#include "ov_sound_data.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "ov_paths.h"
#include "ov_sound_db.h"
#include "ov_sound_system.h"
#include "ov_stream.h"
#include "ov_trace.h"
#include "ov_wave_file.h"

namespace {

// Sound files bigger than this are not read into memory when embedding.
constexpr uint64_t kMaxEmbeddedBytes = 0x7FFFFFFFu;

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

struct Part {
  size_t begin, end;
};

// Non-empty parts of `s` between separators.
template <class IsSep>
std::vector<Part> SplitParts(std::string_view s, IsSep isSep) {
  std::vector<Part> parts;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && isSep(s[i])) ++i;
    const size_t b = i;
    while (i < s.size() && !isSep(s[i])) ++i;
    if (i > b) parts.push_back({b, i});
  }
  return parts;
}

bool IsBackslash(char c) { return c == '\\'; }
// The folder is a path on disk, where "/" separates as well.
bool IsDiskSep(char c) { return c == '/' || c == '\\'; }

std::string OnDisk(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c == '\\') c = '/';
  return r;
}

bool Readable(const std::string& path) {
  if (path.empty() || access(path.c_str(), R_OK) != 0) return false;
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool ResolveSoundPath(std::string& out, const char* nameText, const char* folderText) {
  out.clear();
  const std::string_view name = nameText ? nameText : "";
  const std::string_view folder = folderText ? folderText : "";
  if (name.empty()) return false;

  if (!folder.empty()) {
    const std::vector<Part> folderParts = SplitParts(folder, IsDiskSep);
    const std::vector<Part> nameParts = SplitParts(name, IsBackslash);

    // The name repeats the folder's last part ("sounds" + "sounds\\a.wav").
    if (!folderParts.empty()) {
      const Part& last = folderParts.back();
      const std::string_view lastText = folder.substr(last.begin, last.end - last.begin);
      for (const Part& np : nameParts) {
        if (EqualNoCase(name.substr(np.begin, np.end - np.begin), lastText)) {
          std::string candidate(folder.substr(0, last.begin));
          candidate.append(OnDisk(name.substr(np.begin)));
          if (Readable(candidate)) {
            out = candidate;
            return true;
          }
          break;
        }
      }
    }

    // Growing tails of the name under the folder.
    std::string base(folder);
    if (!IsDiskSep(base.back())) base.push_back('/');
    for (size_t k = nameParts.size(); k > 0; --k) {
      std::string candidate = base;
      candidate.append(OnDisk(name.substr(nameParts[k - 1].begin)));
      if (Readable(candidate)) {
        out = candidate;
        return true;
      }
    }
  }

  std::string plain = OnDisk(name);
  if (Readable(plain)) {
    out = plain;
    return true;
  }
  return false;
}

int32_t AddSound(OvSoundDatabase& database, const char* name) {
  if (name == nullptr || *name == 0) return -1;
  for (uint32_t i = 0; i < database.Count(); ++i) {
    const OvSoundItem* item = database.Item(i);
    if (item && item->name && std::strcmp(item->name, name) == 0) return int32_t(i);
  }

  std::string path;
  const bool found = ResolveDataPath(path, name, database.Folder());
  if (!database.Embed() || !found) return database.AddItem(name, nullptr, 0);

  OvStream stream;
  if (!stream.Open(path.c_str(), "rb")) {
    _TraceFormat("### %s: cannot read the sound file\n", path.c_str());
    return database.AddItem(name, nullptr, 0);
  }
  const uint64_t size = stream.Size();
  if (size == 0 || size > kMaxEmbeddedBytes) {
    if (size != 0) _TraceFormat("### %s: sound file too large to embed\n", path.c_str());
    return database.AddItem(name, nullptr, 0);
  }
  uint8_t* bytes = static_cast<uint8_t*>(AllocMem(size_t(size)));
  if (bytes == nullptr || !stream.ReadBytes(bytes, size_t(size))) {
    _TraceFormat("### %s: cannot read the sound file\n", path.c_str());
    OvMFree(bytes);
    return database.AddItem(name, nullptr, 0);
  }
  const int32_t index = database.AddItem(name, bytes, uint32_t(size));
  OvMFree(bytes);
  return index;
}

OvSoundInstance* LoadSample(OvSoundSystem* owner, const OvSoundItem& item) {
  const char* name = item.name ? item.name : "";
  OvSoundInstance* instance = new OvSoundInstance(owner);
  if (instance == nullptr) {
    _TraceFormat("### %s: sound rejected, out of memory\n", name);
    return nullptr;
  }
  bool ok = false;
  if (item.data != nullptr && item.size != 0) {
    // Embedded: read from the item's own bytes, whatever is on disk.
    ok = ParseWaveMemory(item.data, item.size, name, *instance);
  } else {
    std::string path;
    if (ResolveSoundPath(path, name, owner ? owner->SoundFolder() : "sounds"))
      ok = ParseWave(path.c_str(), *instance);
    else
      _TraceFormat("### %s: sound file not found\n", name);
  }
  if (!ok) {
    delete instance;
    return nullptr;
  }
  return instance;
}
