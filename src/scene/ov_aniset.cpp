#include "ov_aniset.h"

#include <cstring>

#include "ov_clump.h"
#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_scene.h"

// ---------------------------------------------------------------------------
// Node shapes

void* OvSharedCtrlNode::GetController(void* context) {
  (void)context;
  // Lives in the database arena: a list must never free it.
  SetOwned(false);
  return static_cast<OvAniCtrl*>(this);
}

void* OvPerClumpNode::GetController(void* context) {
  OvAniCtrl* ctrl = MakeController(static_cast<OvClump*>(context));
  if (ctrl) ctrl->SetOwned(true);
  return ctrl;
}

OvAniCtrl* OvNodeController(OvDbNode* node, OvClump* clump) {
  if (!node || node->IsInert()) return nullptr;
  return static_cast<OvAniCtrl*>(node->GetController(clump));
}

// ---------------------------------------------------------------------------
// Keyframe playback

namespace {

int32_t SceneTime(OvClump* clump) {
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  return scene ? scene->GetTime() : 0;
}

}  // namespace

const void* OvAcKeyPlayback::ClassTag() {
  static const char tag = 0;
  return &tag;
}

OvAcKeyPlayback::OvAcKeyPlayback(OvAniCtrl* entry, int32_t start, int32_t end, int32_t mode)
    : m_entry(entry), m_mode(mode), m_start(start), m_end(end) {}

OvAcKeyPlayback::~OvAcKeyPlayback() {
  OvAniCtrl* entry = m_entry;
  m_entry = nullptr;
  if (entry) entry->Release();
}

void OvAcKeyPlayback::SetBlend(int32_t start, int32_t length) {
  m_blendStart = start;
  m_blendLength = length > 0 ? length : 0;
}

void OvAcKeyPlayback::Animate(OvClump* clump, int32_t time) {
  const int mode = m_mode & 3;
  const int32_t now = mode == OV_PLAY_SCENE ? SceneTime(clump) : time;
  switch (mode) {
    case OV_PLAY_LOCAL:
    case OV_PLAY_SCENE:
      // Clock arithmetic: the interval stays right when the clock wraps.
      m_elapsed = OvTimeDelta(now, m_start);
      break;
    case OV_PLAY_HOLD: m_start = OvTimeDelta(now, m_elapsed); break;
    default: break;
  }
  if (m_elapsed >= m_end || !m_entry) OvAniCtrlRegisterHrchy(clump, this, time);
  if (!m_entry || !clump) return;

  // The blend runs on the playback's own clock, the one `start` belongs to.
  bool blending = false;
  float w = 1.0f;
  const uint32_t channels = m_entry->GetChannelMask();
  OvVector oldPos{}, oldScale{};
  OvQuat oldRot{};
  if (m_blendLength > 0) {
    const int64_t u = OvTimeDelta(now, m_blendStart);
    if (u < 0 || u >= m_blendLength) {
      m_blendLength = 0;
    } else {
      blending = true;
      w = float(double(u) / double(m_blendLength));
      oldPos = clump->GetPos();
      oldRot = clump->GetQuat();
      oldScale = clump->GetScale();
    }
  }

  m_entry->Animate(clump, m_elapsed);

  if (!blending) return;
  auto mix = [w](const OvVector& a, const OvVector& b) {
    return OvVector{a.x * (1.0f - w) + b.x * w, a.y * (1.0f - w) + b.y * w, a.z * (1.0f - w) + b.z * w};
  };
  if (channels & ACF_POS) clump->SetPos(mix(oldPos, clump->GetPos()));
  if (channels & ACF_SCALE) clump->SetScale(mix(oldScale, clump->GetScale()));
  if (channels & ACF_ROT) {
    OvQuat q;
    OvQuatSlerp(q, oldRot, clump->GetQuat(), w);
    clump->SetQuat(q);
  }
}

void OvAcKeyPlayback::Hierarchy(OvClump* clump, int32_t value) {
  (void)value;
  // Ends this controller: nothing of it may be touched afterwards.
  if (clump) clump->DelAniCtrl(this);
}

void OvAcKeyPlayback::Attached(OvClump* clump) {
  if (m_entry) m_entry->Attached(clump);
}

bool OvAcKeyPlayback::CtrlRemoved(OvAniCtrl* removed) {
  if (!removed || removed != m_entry) return false;
  m_entry = nullptr;
  return true;
}

// ---------------------------------------------------------------------------
// ApplyAnimation

namespace {

// Nesting bound for descending through clump trees and hanging objects:
// content can link objects in loops.
constexpr int kMaxDepth = 256;

int ApplySet(OvClump* clump, const OvDbAniSet* set, const OvApplyOptions& o) {
  if (!clump || !set || !set->nodes) return 0;
  const int32_t start = OvSaturateI32(int64_t(o.time) - o.offset);
  const int32_t end = o.end < o.offset ? MAX_TIME : o.end;
  const int32_t mode = o.sceneClock ? OV_PLAY_SCENE : OV_PLAY_LOCAL;
  uint32_t cleared = 0;
  int added = 0;
  for (int i = 0; i < set->count; ++i) {
    OvAniCtrl* entry = OvNodeController(set->nodes[i], clump);
    if (!entry) continue;
    const uint32_t claim = entry->GetChannelMask() & ACF_PRS & ~cleared;
    if (claim) {
      // Older animation of these channels goes, even where it also wrote
      // other channels.
      int guard = 0;
      while (OvAniCtrl* old = clump->FindAniCtrlByMasks(claim, 0)) {
        if (!clump->DelAniCtrl(old) || ++guard > 100000) break;
      }
      cleared |= claim;
    }
    auto* playback = new OvAcKeyPlayback(entry, start, end, mode);
    if (!playback) {
      entry->Release();
      continue;
    }
    playback->SetOwned(true);
    if (o.blendLength > 0) playback->SetBlend(o.time, o.blendLength);
    if (!clump->AddAniCtrl(playback)) {
      playback->Release();
      continue;
    }
    ++added;
  }
  return added;
}

OvDatabase* DatabaseOf(const OvClump* clump) {
  return clump && clump->GetSerial() >= 0 ? OvDatabase::FindBySerial(clump->GetSerial()) : nullptr;
}

int ApplyRecordTree(OvClump* clump, OvDatabase& db, const OvClumpRecord* record, const OvApplyOptions& o, int depth);

// One child clump: the child record matching its name under `parent`.
int ApplyToChild(OvClump* child, OvDatabase& db, const OvClumpRecord* parent, const OvApplyOptions& o, int depth) {
  if (!child || !parent || parent->firstChild < 0) return 0;
  const OvClumpRecord* record = db.FindClumpRecordInChain(parent->firstChild, child->GetName());
  if (!record) return 0;
  return ApplyRecordTree(child, db, record, o, depth + 1);
}

// The children of `clump`, then the root clumps of the objects hanging from it.
int ApplyBelow(OvClump* clump, OvDatabase& db, const OvClumpRecord* record, const OvApplyOptions& o, int depth) {
  if (depth > kMaxDepth) return 0;
  int added = 0;
  int walked = 0;
  for (OvClump* c = clump->GetChild(); c && walked < OV_CHAIN_WALK_LIMIT; c = c->GetNextBrother(), ++walked) {
    added += ApplyToChild(c, db, record, o, depth);
  }
  // Objects hanging from this clump are children of its object linked to it.
  if (OvLogObj* owner = clump->GetLogObj()) {
    walked = 0;
    for (OvLogObj* obj = owner->LoGetChild(); obj && walked < OV_CHAIN_WALK_LIMIT;
         obj = obj->LoGetNextBrother(), ++walked) {
      if (obj->GetParentClump() != clump) continue;
      int roots = 0;
      for (OvClump* c = obj->GetClumps(); c && roots < OV_CHAIN_WALK_LIMIT; c = c->GetNextBrother(), ++roots) {
        added += ApplyToChild(c, db, record, o, depth);
      }
    }
  }
  return added;
}

int ApplyRecordTree(OvClump* clump, OvDatabase& db, const OvClumpRecord* record, const OvApplyOptions& o, int depth) {
  int added = 0;
  if (record->aniSetIndex >= 0) added += ApplySet(clump, db.AniSet(record->aniSetIndex), o);
  if (o.descend) added += ApplyBelow(clump, db, record, o, depth);
  return added;
}

}  // namespace

int OvApplyAnimation(OvClump* clump, const OvDbAniSet* set, const OvApplyOptions& options) {
  if (!clump) return 0;
  int added = ApplySet(clump, set, options);
  if (!options.descend) return added;
  OvDatabase* db = DatabaseOf(clump);
  if (!db) return added;
  const int32_t index = db->FindClumpRecordIndex(clump->GetName(), clump->GetRecordIndex());
  const OvClumpRecord* record = db->ClumpRecord(index);
  if (record) added += ApplyBelow(clump, *db, record, options, 0);
  return added;
}

int OvApplyAnimationByRecord(OvClump* clump, OvDatabase* database, int32_t recordIndex, const OvApplyOptions& options) {
  if (!clump || !database) return 0;
  const OvClumpRecord* record = database->ClumpRecord(recordIndex);
  if (!record) return 0;
  return ApplyRecordTree(clump, *database, record, options, 0);
}

bool OvRecordTreeHoldsNode(const OvDatabase& database, int32_t recordIndex, bool descend, const OvDbNode* node) {
  if (!node) return false;
  // Depth first over first-child / next-brother links; content can link
  // records in loops, so no more visits than there are records.
  int32_t pending[kMaxDepth + 1];
  int top = 0;
  pending[top++] = recordIndex;
  for (uint32_t visits = 0; top > 0 && visits <= database.ClumpRecordCount(); ++visits) {
    const OvClumpRecord* r = database.ClumpRecord(pending[--top]);
    if (!r) continue;
    if (const OvDbAniSet* set = database.AniSet(r->aniSetIndex); set && set->nodes) {
      for (int i = 0; i < set->count; ++i) {
        if (set->nodes[i] == node) return true;
      }
    }
    if (!descend) break;
    // The brother first, so the child is visited next.
    if (visits > 0 && r->nextBrother >= 0 && top <= kMaxDepth) pending[top++] = r->nextBrother;
    if (r->firstChild >= 0 && top <= kMaxDepth) pending[top++] = r->firstChild;
  }
  return false;
}
