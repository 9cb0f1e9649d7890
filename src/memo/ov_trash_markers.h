// The trash markers: objects the content makes when a note is thrown away
// (names holding "delfly_"), kept on the board while the bin holds notes and
// saved with the note index.
//
// At most kMax are kept, never more than the bin holds: a new one beyond
// kMax replaces the oldest, and whenever the bin holds fewer notes than
// markers the oldest go. Emptying the bin forgets them all.
#pragma once

#include <string>
#include <vector>

#include "ov_note_files.h"

class OvClump;
class OvDatabase;
class OvLogObj;
class OvScene;

class OvTrashMarkers {
 public:
  static constexpr int kMax = 6;
  // Template the first marker of a bin without markers is made from.
  static constexpr const char* kFallbackTemplate = "delfly_red";
  // Clump it is put on, raised by its radius.
  static constexpr const char* kTrashCan = "D_TrashCanRot";

  OvTrashMarkers() = default;
  ~OvTrashMarkers() { Forget(); }
  OvTrashMarkers(const OvTrashMarkers&) = delete;
  OvTrashMarkers& operator=(const OvTrashMarkers&) = delete;

  void SetScene(OvScene* scene) { m_scene = scene; }

  // Whether an object's name makes it a marker.
  static bool IsMarker(const char* objectName);

  // A marker the content made: kept as the newest while fewer markers than
  // recycled notes are held, else removed from the scene. One held already
  // stays as it is.
  void Offer(OvLogObj* object, int recycleCount);
  // Drops the oldest while more markers than recycled notes are held.
  void Trim(int recycleCount);
  // Forgets every marker; their objects stay in the scene.
  void Forget();

  // Makes the saved markers again (at most recycleCount and kMax); records
  // of templates that are no markers are skipped. Without any marker while
  // the bin holds notes: one from kFallbackTemplate at kTrashCan. Each
  // problem adds a line.
  void Restore(OvDatabase& database, const std::vector<OvMarkerRecord>& saved, int recycleCount,
               std::vector<std::string>& problems);

  // For the index, oldest first: the root clump's position, its template
  // and its extra parent matrix (identity when it has none), which is what
  // Restore puts back.
  std::vector<OvMarkerRecord> Records() const;
  int Count() const { return int(m_clumps.size()); }

 private:
  bool Holds(const OvClump* clump) const;
  void DropOldest();
  void Keep(OvClump* clump);

  OvScene* m_scene = nullptr;
  std::vector<OvClump*> m_clumps;  // referenced, oldest first
};
