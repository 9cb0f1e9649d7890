#include "ov_anictrl.h"

#include <cstring>

#include "ov_clump.h"
#include "ov_scene.h"

// ---------------------------------------------------------------------------
// OvAniCtrl

void* OvAniCtrl::operator new(size_t size) noexcept { return AllocMemKind(OV_MEM_KIND_ANICTRL, size); }

void OvAniCtrl::operator delete(void* p) noexcept { OvMFree(p); }

const void* OvAniCtrl::ClassTag() {
  static const char tag = 0;
  return &tag;
}

void OvAniCtrl::Destroy(uint32_t flags) {
  if (flags & kFreeMemory) {
    delete this;
  } else {
    this->~OvAniCtrl();
  }
}

void OvAniCtrl::Animate(OvClump* clump, int32_t time) { OvAniCtrlRegisterPass(clump, this, time, T2PA_AFTER_ANIM); }

void OvAniCtrl::Release() {
  if (IsOwned()) Destroy(kFreeMemory);
}

const void* OvHrchyAniCtrl::ClassTag() {
  static const char tag = 0;
  return &tag;
}

void OvHrchyAniCtrl::Animate(OvClump* clump, int32_t time) { OvAniCtrlRegisterHrchy(clump, this, time); }

int32_t EnumFindAcCb::Visit(OvAniCtrl* ctrl) {
  if (!ctrl || ctrl->GetCtrlId() != m_wantedId) return 0;
  m_found = ctrl;
  return 1;
}

// ---------------------------------------------------------------------------
// OvAniCtrlList

const void* OvAniCtrlList::ClassTag() {
  static const char tag = 0;
  return &tag;
}

OvAniCtrlList* OvAniCtrlList::Create() { return new OvAniCtrlList(); }

OvAniCtrlList::~OvAniCtrlList() {
  // Members first, in list order; a member's release must not see a
  // half-emptied array, so the array is detached before the walk.
  OvAniCtrl** items = m_items;
  const int count = m_count;
  m_items = nullptr;
  m_count = m_capacity = 0;
  m_channelMask = m_secondaryMask = 0;
  for (int i = 0; i < count; ++i) {
    if (items[i]) items[i]->Release();
  }
  OvMFree(items);
  for (int i = 0; i < m_pendingCount; ++i) m_pending[i]->Release();
  OvMFree(m_pending);
  m_pending = nullptr;
  m_pendingCount = m_pendingCapacity = 0;
}

void OvAniCtrlList::Destroy(uint32_t flags) {
  if (flags & kFreeMemory) {
    delete this;
  } else {
    this->~OvAniCtrlList();
  }
}

bool OvAniCtrlList::Grow() {
  if (m_capacity > (1 << 28)) return false;
  const int capacity = m_capacity + kGrowBy;
  auto** items = static_cast<OvAniCtrl**>(AllocMem(sizeof(OvAniCtrl*) * size_t(capacity)));
  if (!items) return false;
  for (int i = 0; i < capacity; ++i) items[i] = i < m_count ? m_items[i] : nullptr;
  OvMFree(m_items);
  m_items = items;
  m_capacity = capacity;
  return true;
}

bool OvAniCtrlList::Contains(const OvAniCtrl* ctrl) const {
  for (int i = 0; i < m_count; ++i) {
    if (m_items[i] == ctrl) return true;
  }
  return false;
}

bool OvAniCtrlList::Append(OvAniCtrl* ctrl) { return Insert(m_count, ctrl); }

bool OvAniCtrlList::Insert(int index, OvAniCtrl* ctrl) {
  if (!ctrl || ctrl == this || Contains(ctrl)) return false;
  if (m_count == m_capacity && !Grow()) return false;
  if (index < 0) index = 0;
  if (index > m_count) index = m_count;
  for (int i = m_count; i > index; --i) m_items[i] = m_items[i - 1];
  m_items[index] = ctrl;
  ++m_count;
  // Inserted behind a walk's position: not visited by that walk.
  for (Walk* w = m_walks; w; w = w->outer) {
    if (index < w->next) ++w->next;
  }
  // Taken out and put back within one walk: it is a member again, not
  // something to release when the walk ends.
  for (int i = 0; i < m_pendingCount; ++i) {
    if (m_pending[i] == ctrl) m_pending[i--] = m_pending[--m_pendingCount];
  }
  m_channelMask |= ctrl->GetChannelMask();
  m_secondaryMask |= ctrl->GetSecondaryMask();
  return true;
}

bool OvAniCtrlList::Take(OvAniCtrl* ctrl) {
  int at = -1;
  for (int i = 0; i < m_count; ++i) {
    if (m_items[i] == ctrl) {
      at = i;
      break;
    }
  }
  if (at < 0) return false;
  for (int i = at; i + 1 < m_count; ++i) m_items[i] = m_items[i + 1];
  m_items[--m_count] = nullptr;
  // The members behind it moved down one entry; a walk past it follows them.
  for (Walk* w = m_walks; w; w = w->outer) {
    if (at < w->next) --w->next;
  }
  return true;
}

bool OvAniCtrlList::Detach(OvAniCtrl* ctrl) {
  if (!ctrl || !Take(ctrl)) return false;
  RecomputeMasks();
  return true;
}

bool OvAniCtrlList::Remove(OvAniCtrl* ctrl) {
  if (!ctrl || !Take(ctrl)) return false;
  // The others hear of it while the controller still exists, so they may
  // look at it before it goes.
  for (int i = 0; i < m_count; ++i) m_items[i]->CtrlRemoved(ctrl);
  RecomputeMasks();
  if (m_walks) {
    // Still possibly on the call stack of the walk: release it afterwards.
    if (m_pendingCount == m_pendingCapacity) {
      const int capacity = m_pendingCapacity + kGrowBy;
      auto** pending = static_cast<OvAniCtrl**>(AllocMem(sizeof(OvAniCtrl*) * size_t(capacity)));
      if (!pending) {
        // Better a controller that lives too long than one freed under its
        // own feet: it is simply not released.
        return true;
      }
      for (int i = 0; i < m_pendingCount; ++i) pending[i] = m_pending[i];
      OvMFree(m_pending);
      m_pending = pending;
      m_pendingCapacity = capacity;
    }
    m_pending[m_pendingCount++] = ctrl;
    return true;
  }
  ctrl->Release();
  return true;
}

void OvAniCtrlList::FlushPending() {
  while (m_pendingCount > 0) {
    OvAniCtrl* ctrl = m_pending[--m_pendingCount];
    ctrl->Release();
  }
}

void OvAniCtrlList::RecomputeMasks() {
  m_channelMask = m_secondaryMask = 0;
  for (int i = 0; i < m_count; ++i) {
    m_channelMask |= m_items[i]->GetChannelMask();
    m_secondaryMask |= m_items[i]->GetSecondaryMask();
  }
}

void OvAniCtrlList::BeginWalk(Walk& walk) {
  walk.next = 0;
  walk.outer = m_walks;
  m_walks = &walk;
}

void OvAniCtrlList::EndWalk(Walk& walk) {
  m_walks = walk.outer;
  if (!m_walks) FlushPending();
}

OvAniCtrl* OvAniCtrlList::Step(Walk& walk) {
  // Re-read the array every step: a member may add or remove controllers.
  if (walk.next >= m_count) return nullptr;
  return m_items[walk.next++];
}

void OvAniCtrlList::Animate(OvClump* clump, int32_t time) {
  Walk walk;
  BeginWalk(walk);
  while (OvAniCtrl* ctrl = Step(walk)) ctrl->Animate(clump, time);
  EndWalk(walk);
}

OvAniCtrl* OvAniCtrlList::FindById(int32_t id) const {
  for (int i = 0; i < m_count; ++i) {
    if (m_items[i]->GetCtrlId() == id) return m_items[i];
  }
  return nullptr;
}

OvAniCtrl* OvAniCtrlList::FindByTag(const void* tag) const {
  for (int i = 0; i < m_count; ++i) {
    if (m_items[i]->TypeTag() == tag) return m_items[i];
  }
  return nullptr;
}

OvAniCtrl* OvAniCtrlList::FindByMasks(uint32_t channels, uint32_t sets) const {
  for (int i = 0; i < m_count; ++i) {
    if ((m_items[i]->GetChannelMask() & channels) || (m_items[i]->GetSecondaryMask() & sets)) return m_items[i];
  }
  return nullptr;
}

OvAniCtrl* OvAniCtrlList::Enumerate(EnumAniCtrlCallback& callback) {
  OvAniCtrl* stoppedAt = nullptr;
  Walk walk;
  BeginWalk(walk);
  while (OvAniCtrl* ctrl = Step(walk)) {
    if (callback.Visit(ctrl) == 1) {
      stoppedAt = ctrl;
      break;
    }
  }
  EndWalk(walk);
  return stoppedAt;
}

int OvAniCtrlList::Broadcast(int32_t id, intptr_t a, intptr_t b, intptr_t c) {
  int called = 0;
  Walk walk;
  BeginWalk(walk);
  while (OvAniCtrl* ctrl = Step(walk)) {
    if (ctrl->GetCtrlId() != id) continue;
    ctrl->Message(a, b, c);
    ++called;
  }
  EndWalk(walk);
  return called;
}

// ---------------------------------------------------------------------------
// Frame registrations

bool OvAniCtrlRegisterPass(OvClump* clump, OvAniCtrl* ctrl, int32_t value, int point) {
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  return scene && ctrl && scene->RegisterPass(ctrl, clump, value, point);
}

bool OvAniCtrlRegisterHrchy(OvClump* clump, OvAniCtrl* ctrl, int32_t value) {
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  return scene && ctrl && scene->RegisterHrchy(ctrl, clump, value);
}
