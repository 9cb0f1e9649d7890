// Sound data: adding sounds to a content's sound database by name, finding
// sound files, and loading an item into a sound instance for the mixer.
#pragma once

#include <cstdint>
#include <string>

class OvSoundDatabase;
class OvSoundInstance;
class OvSoundSystem;
struct OvSoundItem;

// Index of the item named `name`, appending one when there is none. The
// file is looked for with ResolveDataPath against the database's folder;
// with embedding on, a found file is read into the item. -1 for an empty
// name or when memory runs out.
int32_t AddSound(OvSoundDatabase& database, const char* name);

// The data-file rule of ResolveDataPath with "\\" as the only separator:
// the folder/name overlap, growing tails of the name under the folder, then
// the name itself. On disk "\\" becomes "/". False (out cleared) when no
// readable regular file is found.
bool ResolveSoundPath(std::string& out, const char* name, const char* folder);

// A new instance owned by `owner` holding the item's sound: embedded data is
// parsed from memory, otherwise the named file is found under the owner's
// sound folder or, failing that, under `contentFolder` (may be null). Null
// when it cannot be loaded (one trace line says why).
OvSoundInstance* LoadSample(OvSoundSystem* owner, const OvSoundItem& item, const char* contentFolder);
