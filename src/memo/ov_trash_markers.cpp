#include "ov_trash_markers.h"

#include <algorithm>
#include <cstring>

#include "ov_clump.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_scene.h"

bool OvTrashMarkers::IsMarker(const char* objectName) {
  return objectName && std::strstr(objectName, "delfly_") != nullptr;
}

bool OvTrashMarkers::Holds(const OvClump* clump) const {
  return std::find(m_clumps.begin(), m_clumps.end(), clump) != m_clumps.end();
}

void OvTrashMarkers::Keep(OvClump* clump) {
  if (!clump || Holds(clump)) return;
  while (Count() >= kMax) DropOldest();
  clump->AddRef();
  m_clumps.push_back(clump);
}

void OvTrashMarkers::DropOldest() {
  if (m_clumps.empty()) return;
  OvClump* oldest = m_clumps.front();
  m_clumps.erase(m_clumps.begin());
  // An object the content deleted already has let go of its clumps.
  if (OvLogObj* object = oldest->GetLogObj(); object && m_scene) m_scene->DelLogObj(object);
  oldest->Release();
}

void OvTrashMarkers::Offer(OvLogObj* object, int recycleCount) {
  OvClump* clump = object ? object->GetClumps() : nullptr;
  if (clump && Holds(clump)) return;
  if (clump && Count() < recycleCount)
    Keep(clump);
  else if (object && m_scene)
    m_scene->DelLogObj(object);
}

void OvTrashMarkers::Trim(int recycleCount) {
  while (Count() > std::max(recycleCount, 0)) DropOldest();
}

void OvTrashMarkers::Forget() {
  for (OvClump* c : m_clumps) c->Release();
  m_clumps.clear();
}

namespace {

bool MarkerTemplate(const OvDatabase& database, int32_t index) {
  const OvClumpRecord* clump = database.ClumpRecord(index);
  const OvLogObjRecord* object = clump ? database.LogObjRecord(clump->logObjIndex) : nullptr;
  return object && OvTrashMarkers::IsMarker(object->name);
}

float Radius(const OvClump* clump) {
  const OvMesh* mesh = clump ? clump->GetMesh() : nullptr;
  return mesh && mesh->bounds ? mesh->bounds[3] : 0.0f;
}

}  // namespace

void OvTrashMarkers::Restore(OvDatabase& database, const std::vector<OvMarkerRecord>& saved, int recycleCount,
                             std::vector<std::string>& problems) {
  if (!m_scene) return;
  const int limit = std::min(recycleCount, kMax);
  for (size_t i = 0; i < saved.size() && Count() < limit; ++i) {
    const OvMarkerRecord& r = saved[i];
    if (!MarkerTemplate(database, r.templateIndex)) {
      problems.push_back("Note index marker " + std::to_string(i) + ": record " + std::to_string(r.templateIndex) +
                         " is no trash marker; skipped");
      continue;
    }
    OvLogObj* object = OvEmitObjectCore(*m_scene, nullptr, database, r.templateIndex, -1, false, false);
    OvClump* root = object ? object->GetClumps() : nullptr;
    if (!root) continue;
    root->SetPos(OvVector{r.pos[0], r.pos[1], r.pos[2]});
    OvMatrix m;
    std::memcpy(m.m, r.matrix, sizeof(m.m));
    root->SetVPMatrix(&m);
    root->MarkChanged(ACF_POS);
    Keep(root);
  }
  if (Count() > 0 || recycleCount <= 0) return;
  const int32_t index = database.FindClumpRecordIndex(kFallbackTemplate);
  OvLogObj* object = index >= 0 ? OvEmitObjectCore(*m_scene, nullptr, database, index, -1, false, false) : nullptr;
  OvClump* root = object ? object->GetClumps() : nullptr;
  if (!root) {
    problems.push_back(std::string("No trash marker: the content has no '") + kFallbackTemplate + "' to make one from");
    return;
  }
  if (OvClump* can = m_scene->SearchClump(kTrashCan)) {
    OvVector p{0, 0, 0};
    if (!can->NeedToWorldMatrix() || !can->GetWorldPos(p)) p = can->GetPos();
    p.z += Radius(root);
    root->SetPos(p);
    root->MarkChanged(ACF_POS);
  }
  Keep(root);
}

std::vector<OvMarkerRecord> OvTrashMarkers::Records() const {
  std::vector<OvMarkerRecord> out;
  for (OvClump* c : m_clumps) {
    if (!c->GetLogObj()) continue;  // the content deleted it
    OvMarkerRecord r;
    const OvVector& p = c->GetPos();
    r.pos[0] = p.x, r.pos[1] = p.y, r.pos[2] = p.z;
    r.templateIndex = c->GetRecordIndex();
    OvMatrix m;
    if (const OvMatrix* vp = c->GetVPMatrix())
      m = *vp;
    else
      OvMatrixIdentity(m);
    std::memcpy(r.matrix, m.m, sizeof(r.matrix));
    out.push_back(r);
  }
  return out;
}
