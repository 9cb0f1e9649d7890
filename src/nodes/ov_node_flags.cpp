#include "ov_node_flags.h"

#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

// An object's clumps, then its child objects (and theirs), depth-first.
OvClump* FindInObjectTree(const OvLogObj* object, int32_t clumpKey, int32_t serial) {
  if (OvClump* c = object->LoSearchClump_ID(clumpKey, serial)) return c;
  for (const OvLogObj* child = object->LoGetChild(); child; child = child->LoGetNextBrother()) {
    if (OvClump* c = FindInObjectTree(child, clumpKey, serial)) return c;
  }
  return nullptr;
}

bool SameDatabase(int32_t serial, int32_t wanted) { return wanted == -1 || serial == wanted; }

}  // namespace

OvClump* OvTargetRef::Lookup(OvClump* asker) const {
  OvScene* scene = asker->GetScene();
  if (!scene) return nullptr;
  const OvLogObj* own = asker->GetLogObj();
  if (own && own->LoGetID() == m_keys.objectKey && SameDatabase(own->GetSerial(), m_keys.serial)) {
    return own->LoSearchClump_ID(m_keys.clumpKey, m_keys.serial);
  }
  const OvLogObj* object = scene->SearchLogObj_ID(m_keys.objectKey, m_keys.serial);
  return object ? FindInObjectTree(object, m_keys.clumpKey, m_keys.serial) : nullptr;
}

OvClump* OvTargetRef::Resolve(OvClump* asker) {
  if (!asker) return nullptr;
  if (m_held) {
    if (!m_counted && !asker->IsDescendFrom(m_held)) {
      // No longer an owner of the asker: nothing says it is still alive.
      m_held = nullptr;
    } else if (m_held->GetLogObj()) {
      return m_held;
    } else {
      Release();
      m_keys.clumpKey = -1;
      return nullptr;
    }
  }
  if (m_keys.clumpKey == -1) return nullptr;
  OvScene* scene = asker->GetScene();
  if (!scene) return nullptr;
  const int32_t now = scene->GetTime();
  if (m_tried) {
    const int64_t since = OvTimeDelta(now, m_lastTry);
    if (since >= 0 && since < OV_TARGET_RETRY_UNITS) return nullptr;
  }
  m_tried = true;
  m_lastTry = now;
  OvClump* found = Lookup(asker);
  if (!found) return nullptr;
  m_held = found;
  m_counted = !asker->IsDescendFrom(found);
  if (m_counted) found->AddRef();
  return found;
}

void OvTargetRef::Release() {
  OvClump* held = m_held;
  m_held = nullptr;
  if (held && m_counted) held->Release();
  m_counted = false;
}

OvClump* OvDefaultTargetClump(const OvClump* asker) {
  const OvScene* scene = asker ? asker->GetScene() : nullptr;
  if (!scene) return nullptr;
  // Content never fills the leading slots itself: without one set by the
  // application, object 0 is the scene's first object.
  const OvLogObj* first = scene->GetLeadingLogObj(0);
  if (!first) first = scene->GetLogObjs();
  return first ? first->GetClumps() : nullptr;
}

// ---------------------------------------------------------------------------

bool OvVarMap::Read(OvStream& stream) {
  int32_t format = 0;
  return stream.ReadLayout("i iiRRRR", &format, &options, &var, &outFrom, &outTo, &inFrom, &inTo);
}

bool OvVarMap::Write(OvStream& stream) const {
  return stream.WriteLayout("i iiRRRR", int32_t(100), options, var, outFrom, outTo, inFrom, inTo);
}

float OvVarMap::Map(float x) const {
  if (Clamp()) {
    if (inTo > inFrom) {
      if (x <= inFrom) return outFrom;
      if (x >= inTo) return outTo;
    } else {
      if (x >= inFrom) return outFrom;
      if (x <= inTo) return outTo;
    }
  }
  return (x - inFrom) * Slope() + outFrom;
}
