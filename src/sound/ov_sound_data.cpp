#include "ov_sound_data.h"

#include <cstring>

#include "ov_paths.h"
#include "ov_sound_db.h"
#include "ov_sound_system.h"
#include "ov_stream.h"
#include "ov_trace.h"
#include "ov_wave_file.h"

namespace {

// Sound files bigger than this are not read into memory when embedding.
constexpr uint64_t kMaxEmbeddedBytes = 0x7FFFFFFFu;

}  // namespace

bool ResolveSoundPath(std::string& out, const char* name, const char* folder) {
  return ResolveDataPathBackslash(out, name, folder);
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

OvSoundInstance* LoadSample(OvSoundSystem* owner, const OvSoundItem& item, const char* contentFolder) {
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
    const char* soundFolder = owner ? owner->SoundFolder() : "sounds";
    // Beside the content, names may use either separator, as when they were
    // added.
    const bool found = ResolveSoundPath(path, name, soundFolder) ||
                       (contentFolder && *contentFolder && ResolveDataPath(path, name, contentFolder));
    if (found)
      ok = ParseWave(path.c_str(), *instance);
    else if (contentFolder && *contentFolder)
      _TraceFormat("### %s: sound file not found in '%s' or '%s'\n", name, soundFolder, contentFolder);
    else
      _TraceFormat("### %s: sound file not found\n", name);
  }
  if (!ok) {
    delete instance;
    return nullptr;
  }
  return instance;
}
