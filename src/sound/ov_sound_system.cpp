#include "ov_sound_system.h"

#include <cstring>

#include "ov_clock.h"
#include "ov_sound_data.h"
#include "ov_trace.h"

namespace {

OvSoundSystem* g_soundSystem = nullptr;

// Voices are summed into 32-bit sums this many samples at a time.
constexpr uint32_t kMixBlock = 1024;

}  // namespace

// The two intrusive lists of an instance: its state list and the voice list.
struct OvSoundListOps {
  static void Append(OvSoundList& list, OvSoundInstance* n) {
    n->m_list = &list;
    n->m_prev = list.tail;
    n->m_next = nullptr;
    if (list.tail)
      list.tail->m_next = n;
    else
      list.head = n;
    list.tail = n;
    ++list.count;
  }
  static void Remove(OvSoundInstance* n) {
    OvSoundList* list = n->m_list;
    if (!list) return;
    if (n->m_prev)
      n->m_prev->m_next = n->m_next;
    else
      list->head = n->m_next;
    if (n->m_next)
      n->m_next->m_prev = n->m_prev;
    else
      list->tail = n->m_prev;
    --list->count;
    n->m_list = nullptr;
    n->m_prev = n->m_next = nullptr;
  }
  static void AppendVoice(OvSoundList& list, OvSoundInstance* n) {
    n->m_voiceList = &list;
    n->m_voicePrev = list.tail;
    n->m_voiceNext = nullptr;
    if (list.tail)
      list.tail->m_voiceNext = n;
    else
      list.head = n;
    list.tail = n;
    ++list.count;
  }
  static void RemoveVoice(OvSoundInstance* n) {
    OvSoundList* list = n->m_voiceList;
    if (!list) return;
    if (n->m_voicePrev)
      n->m_voicePrev->m_voiceNext = n->m_voiceNext;
    else
      list->head = n->m_voiceNext;
    if (n->m_voiceNext)
      n->m_voiceNext->m_voicePrev = n->m_voicePrev;
    else
      list->tail = n->m_voicePrev;
    --list->count;
    n->m_voiceList = nullptr;
    n->m_voicePrev = n->m_voiceNext = nullptr;
  }
};

// ---------------------------------------------------------------------------
// Instance

bool OvSoundInstance::Play() {
  if (m_owner) m_owner->InstancePlay(this);
  return IsActive();
}

void OvSoundInstance::Pause() {
  if (m_owner) m_owner->InstancePause(this);
}

// ---------------------------------------------------------------------------
// System

OvSoundSystem::OvSoundSystem() {
  if (g_soundSystem == nullptr) g_soundSystem = this;
}

OvSoundSystem::~OvSoundSystem() {
  ReleaseList(m_dying);
  StopAll();
  if (m_hookInstalled) {
    OvSetSoundReleaseHook(nullptr, nullptr);
    m_hookInstalled = false;
  }
  // The base device is closed directly: a derived device is gone by now.
  m_waveOut.CloseDevice();
  OvMFree(m_mixScratch);
  if (g_soundSystem == this) g_soundSystem = nullptr;
}

OvSoundSystem* OvGetSoundSystem() { return g_soundSystem; }

void OvSoundFrame(const OvVector* listenerPosition) {
  OvSoundSystem* system = g_soundSystem;
  if (system == nullptr) return;
  if (listenerPosition != nullptr) system->SetListenerPosition(*listenerPosition);
  const OvVector front = {0.0f, 1.0f, 0.0f};
  const OvVector up = {0.0f, 0.0f, 1.0f};
  system->SetListenerOrientation(front, up);
  system->Update();
}

void OvSoundSystem::ReleaseHook(void* self) { static_cast<OvSoundSystem*>(self)->ReleaseDying(); }

bool OvSoundSystem::Start() {
  m_now = 0;
  m_listener = {0.0f, 0.0f, 0.0f};
  m_graceTime = 500;
  m_enabled = true;
  // Item data must not go while dying instances may still refer to it.
  OvSetSoundReleaseHook(&OvSoundSystem::ReleaseHook, this);
  m_hookInstalled = true;
  return OpenDevice();
}

void OvSoundSystem::Shutdown() {
  ReleaseDying();
  for (OvSoundList(&kindLists)[kListCount] : m_lists) ReleaseList(kindLists[kPlaying]);
  m_enabled = false;
  if (m_hookInstalled) {
    OvSetSoundReleaseHook(nullptr, nullptr);
    m_hookInstalled = false;
  }
  CloseDevice();
}

void OvSoundSystem::ReleaseList(OvSoundList& list) {
  while (list.head) ReleaseInstance(list.head);
}

void OvSoundSystem::ReleaseDying() { ReleaseList(m_dying); }

void OvSoundSystem::StopAll() {
  for (OvSoundList(&kindLists)[kListCount] : m_lists)
    for (OvSoundList& list : kindLists) ReleaseList(list);
}

void OvSoundSystem::SetVoiceLimit3D(int32_t limit) {
  m_voiceLimit[1] = limit < 0 ? 0 : (limit > OV_SND_MAX_VOICES ? OV_SND_MAX_VOICES : limit);
}

void OvSoundSystem::SetVoiceLimit2D(int32_t limit) {
  m_voiceLimit[0] = limit < 0 ? 0 : (limit > OV_SND_MAX_VOICES ? OV_SND_MAX_VOICES : limit);
}

void OvSoundSystem::SetSoundFolder(const char* folder) { m_soundFolder = folder ? folder : ""; }

bool OvSoundSystem::OpenDevice() { return m_waveOut.OpenDevice(); }

void OvSoundSystem::CloseDevice() { m_waveOut.CloseDevice(); }

void OvSoundSystem::Refill() { m_waveOut.Refill(*this); }

uint32_t OvSoundSystem::Now() { return OvTickCount(); }

OvSoundInstance* OvSoundSystem::LoadSample(const OvSoundItem& item, const char* contentFolder) {
  return ::LoadSample(this, item, contentFolder);
}

// ---------------------------------------------------------------------------
// Lists and voices

void OvSoundSystem::MoveTo(OvSoundInstance* instance, OvSoundList& list, int32_t state) {
  OvSoundListOps::Remove(instance);
  OvSoundListOps::Append(list, instance);
  instance->m_state = state;
}

void OvSoundSystem::ReleaseInstance(OvSoundInstance* instance) {
  OvSoundListOps::RemoveVoice(instance);
  OvSoundListOps::Remove(instance);
  delete instance;
}

void OvSoundSystem::AddVoice(OvSoundInstance* instance) {
  if (instance->m_voiceList == nullptr) OvSoundListOps::AppendVoice(m_voices, instance);
  instance->m_playPosition = 0;
}

void OvSoundSystem::RemoveVoice(OvSoundInstance* instance) { OvSoundListOps::RemoveVoice(instance); }

bool OvSoundSystem::Expired(const OvSoundInstance* instance) const {
  // Unsigned difference: right across the wrap of the millisecond timer.
  return uint32_t(m_now - instance->m_stopTime) > DropDelay();
}

// Every start begins at the first sample, the resumption of an interrupted
// sound included.
void OvSoundSystem::StartInstance(OvSoundInstance* instance) {
  if (!instance->Looping()) RemoveVoice(instance);
  AddVoice(instance);
  MoveTo(instance, m_lists[KindIndex(instance->m_kind)][kPlaying], OV_SND_PLAYING);
}

void OvSoundSystem::Interrupt(OvSoundInstance* instance) {
  if (instance->m_state == OV_SND_PLAYING_RELEASE)
    MoveTo(instance, m_dying, OV_SND_DYING);
  else
    MoveTo(instance, m_lists[KindIndex(instance->m_kind)][kReady], OV_SND_INTERRUPTED);
  RemoveVoice(instance);
  instance->m_stopTime = m_now;
}

void OvSoundSystem::EndOnceOnly(OvSoundInstance* instance) {
  if (instance->m_state == OV_SND_PLAYING_RELEASE) {
    ReleaseInstance(instance);
    return;
  }
  RemoveVoice(instance);
  MoveTo(instance, m_lists[KindIndex(instance->m_kind)][kIdle], OV_SND_IDLE);
}

// ---------------------------------------------------------------------------
// Requests

OvSoundInstance* OvSoundSystem::CreateInstance(const OvPlayRequest& request) {
  if (!m_enabled || request.item == nullptr) return nullptr;
  OvSoundInstance* instance = LoadSample(*request.item, request.folder);
  if (instance == nullptr) return nullptr;
  if (instance->sampleCount == 0 || instance->samples == nullptr) {
    // Nothing to mix; a looping voice of no samples would never advance.
    delete instance;
    return nullptr;
  }
  instance->m_owner = this;
  instance->m_kind = request.kind == OV_SND_PLAIN ? OV_SND_PLAIN : OV_SND_POSITIONED;
  instance->m_loop = request.loop;
  instance->m_priority = request.priority < 0 ? 0 : request.priority;
  instance->m_referenceDistance = request.referenceDistance;
  instance->m_radius = request.radius;
  instance->m_stopTime = 0;
  instance->m_position = {0.0f, 0.0f, 0.0f};
  instance->m_playPosition = 0;
  OvSoundListOps::Append(m_lists[KindIndex(instance->m_kind)][kIdle], instance);
  instance->m_state = OV_SND_IDLE;
  return instance;
}

void OvSoundSystem::InstancePlay(OvSoundInstance* instance) {
  // A stopped instance sits in the dying list and stays there: its owner
  // gave it up.
  const int32_t state = instance->m_state;
  if (state != OV_SND_IDLE && state != OV_SND_SUSPENDED) return;
  MoveTo(instance, m_lists[KindIndex(instance->m_kind)][kReady],
         state == OV_SND_IDLE ? OV_SND_READY : OV_SND_INTERRUPTED);
}

void OvSoundSystem::InstancePause(OvSoundInstance* instance) {
  OvSoundList* lists = m_lists[KindIndex(instance->m_kind)];
  switch (instance->m_state) {
    case OV_SND_PLAYING:
      RemoveVoice(instance);
      instance->m_stopTime = m_now;
      MoveTo(instance, lists[kSuspended], OV_SND_SUSPENDED);
      break;
    case OV_SND_PLAYING_RELEASE:
      // Already given up by its owner and now cut short: it cannot end by
      // playing out any more, so it goes the way of a stopped instance.
      RemoveVoice(instance);
      instance->m_stopTime = m_now;
      MoveTo(instance, m_dying, OV_SND_DYING);
      break;
    case OV_SND_INTERRUPTED: MoveTo(instance, lists[kSuspended], OV_SND_SUSPENDED); break;
    case OV_SND_READY: MoveTo(instance, lists[kIdle], OV_SND_IDLE); break;
    default:  // inactive
      break;
  }
}

void OvSoundSystem::StopInstance(OvSoundInstance* instance, int32_t mode) {
  if (instance == nullptr || instance->m_owner != this) return;
  if (mode == OV_SND_STOP_NOW || (instance->m_state & OV_SND_RELEASE_NOW_BIT) != 0) {
    ReleaseInstance(instance);
    return;
  }
  if (mode == OV_SND_STOP_AFTER_END) {
    // An interrupted sound gets one more chance at a voice first.
    if (instance->m_kind == OV_SND_PLAIN)
      SchedulePlain();
    else
      SchedulePositioned();
    if (!instance->Looping()) {
      if (instance->m_state == OV_SND_PLAYING) {
        instance->m_state = OV_SND_PLAYING_RELEASE;
        return;
      }
      if (instance->m_state == OV_SND_PLAYING_RELEASE) return;
    }
  }
  if ((instance->m_state & OV_SND_KEEP_VOICE_BIT) == 0) RemoveVoice(instance);
  instance->m_stopTime = m_now;
  MoveTo(instance, m_dying, OV_SND_DYING);
}

// ---------------------------------------------------------------------------
// Schedulers

bool OvSoundSystem::SchedulePlain() {
  OvSoundList* lists = m_lists[0];
  OvSoundInstance* candidate = nullptr;
  for (OvSoundInstance* n = lists[kReady].head; n; n = n->m_next)
    if (candidate == nullptr || n->m_priority > candidate->m_priority) candidate = n;
  if (candidate == nullptr) return false;

  if (lists[kPlaying].count < m_voiceLimit[0]) {
    StartInstance(candidate);
    return true;
  }
  OvSoundInstance* victim = nullptr;
  for (OvSoundInstance* n = lists[kPlaying].head; n; n = n->m_next)
    if (victim == nullptr || n->m_priority < victim->m_priority) victim = n;
  if (victim == nullptr || victim->m_priority >= candidate->m_priority) return false;
  Interrupt(victim);
  StartInstance(candidate);
  return true;
}

namespace {

// Squared listener distance and squared "near" distance of an instance.
struct Reach {
  double d2;
  double n;
  double r2;
  bool Inside() const { return d2 < r2; }
  bool Near() const { return d2 < n; }
};

Reach ReachOf(const OvSoundInstance* s, const OvVector& listener) {
  const double dx = double(s->Position().x) - listener.x;
  const double dy = double(s->Position().y) - listener.y;
  const double dz = double(s->Position().z) - listener.z;
  const double near = 10.0 * double(s->ReferenceDistance());
  const double r = double(s->Radius());
  return {dx * dx + dy * dy + dz * dz, near * near, r * r};
}

// a is relatively nearer than b: n_a / d2_a > n_b / d2_b, cross-multiplied
// so that a distance of zero needs no division.
bool RelativelyNearer(const Reach& a, const Reach& b) { return a.n * b.d2 > b.n * a.d2; }

}  // namespace

bool OvSoundSystem::SchedulePositioned() {
  OvSoundList* lists = m_lists[1];
  // Candidate: inside its radius; near ones before all others; then the
  // highest priority; then relatively nearest; then list order.
  OvSoundInstance* candidate = nullptr;
  Reach cr = {0, 0, 0};
  for (OvSoundInstance* n = lists[kReady].head; n; n = n->m_next) {
    const Reach r = ReachOf(n, m_listener);
    if (!r.Inside()) continue;
    bool better = candidate == nullptr;
    if (!better) {
      if (r.Near() != cr.Near())
        better = r.Near();
      else if (n->m_priority != candidate->m_priority)
        better = n->m_priority > candidate->m_priority;
      else
        better = RelativelyNearer(r, cr);
    }
    if (better) {
      candidate = n;
      cr = r;
    }
  }
  if (candidate == nullptr) return false;
  const bool candidateFar = !cr.Near();

  if (lists[kPlaying].count < m_voiceLimit[1]) {
    StartInstance(candidate);
    return true;
  }

  OvSoundInstance* victim = nullptr;
  // a. A playing sound that has left its radius.
  for (OvSoundInstance* n = lists[kPlaying].head; n && !victim; n = n->m_next)
    if (!ReachOf(n, m_listener).Inside()) victim = n;

  // b. The least important far sound (relatively farthest on ties).
  if (victim == nullptr) {
    Reach vr = {0, 0, 0};
    for (OvSoundInstance* n = lists[kPlaying].head; n; n = n->m_next) {
      const Reach r = ReachOf(n, m_listener);
      if (r.Near()) continue;
      if (victim == nullptr || n->m_priority < victim->m_priority ||
          (n->m_priority == victim->m_priority && RelativelyNearer(vr, r))) {
        victim = n;
        vr = r;
      }
    }
    if (victim != nullptr && candidateFar && victim->m_priority >= candidate->m_priority) return false;
  }

  // c. Every playing sound is near: only a near candidate may take a voice,
  //    from a less important one or an equal one it is relatively nearer than.
  if (victim == nullptr) {
    if (candidateFar) return false;
    Reach vr = {0, 0, 0};
    for (OvSoundInstance* n = lists[kPlaying].head; n; n = n->m_next) {
      const Reach r = ReachOf(n, m_listener);
      if (!r.Inside()) continue;
      if (victim == nullptr || n->m_priority < victim->m_priority ||
          (n->m_priority == victim->m_priority && RelativelyNearer(vr, r))) {
        victim = n;
        vr = r;
      }
    }
    if (victim == nullptr) return false;
    if (victim->m_priority > candidate->m_priority) return false;
    if (victim->m_priority == candidate->m_priority && !RelativelyNearer(cr, vr)) return false;
  }

  Interrupt(victim);
  StartInstance(candidate);
  return true;
}

// ---------------------------------------------------------------------------
// Frame update

void OvSoundSystem::Update() {
  m_now = Now();
  Refill();

  for (int32_t i = 0; i < m_voiceLimit[0]; ++i)
    if (!SchedulePlain()) break;
  for (int32_t i = 0; i < m_voiceLimit[1]; ++i)
    if (!SchedulePositioned()) break;

  for (OvSoundList(&lists)[kListCount] : m_lists) {
    OvSoundInstance* next = nullptr;
    for (OvSoundInstance* n = lists[kReady].head; n; n = next) {
      next = n->m_next;
      if (n->m_state == OV_SND_INTERRUPTED && Expired(n)) {
        RemoveVoice(n);
        n->m_state = OV_SND_READY;
      }
      // Once-only sounds are not queued: what got no voice now falls back.
      if (!n->Looping()) {
        if (n->m_state == OV_SND_READY)
          MoveTo(n, lists[kIdle], OV_SND_IDLE);
        else if (n->m_state == OV_SND_INTERRUPTED)
          MoveTo(n, lists[kSuspended], OV_SND_SUSPENDED);
      }
    }
    for (OvSoundInstance* n = lists[kSuspended].head; n; n = next) {
      next = n->m_next;
      if (Expired(n)) {
        RemoveVoice(n);
        MoveTo(n, lists[kIdle], OV_SND_IDLE);
      }
    }
  }

  OvSoundInstance* next = nullptr;
  for (OvSoundInstance* n = m_dying.head; n; n = next) {
    next = n->m_next;
    if (Expired(n)) ReleaseInstance(n);
  }
}

// ---------------------------------------------------------------------------
// Mixing

uint32_t OvSoundSystem::Mix(int16_t* buffer, uint32_t samples) {
  if (m_voices.head == nullptr || buffer == nullptr || samples == 0) return 0;
  if (m_mixScratch == nullptr) {
    m_mixScratch = static_cast<int32_t*>(AllocMem(kMixBlock * sizeof(int32_t)));
    if (m_mixScratch == nullptr) return 0;
  }
  int32_t* sum = m_mixScratch;
  for (uint32_t done = 0; done < samples;) {
    const uint32_t block = samples - done < kMixBlock ? samples - done : kMixBlock;
    std::memset(sum, 0, block * sizeof(int32_t));
    OvSoundInstance* next = nullptr;
    for (OvSoundInstance* v = m_voices.head; v; v = next) {
      next = v->m_voiceNext;
      const int16_t* src = v->samples;
      const uint32_t count = v->sampleCount;
      uint32_t pos = v->m_playPosition < count ? v->m_playPosition : count;
      uint32_t i = 0;
      bool ended = false;
      while (i < block) {
        if (pos >= count) {
          // A voice of no samples ends as a once-only sound would.
          if (v->Looping() && count > 0) {
            pos = 0;
          } else {
            ended = true;
            break;
          }
        }
        uint32_t n = count - pos;
        if (n > block - i) n = block - i;
        const int16_t* s = src + pos;
        int32_t* d = sum + i;
        for (uint32_t k = 0; k < n; ++k) d[k] += s[k];
        i += n;
        pos += n;
      }
      if (!ended && pos >= count && !v->Looping()) ended = true;
      v->m_playPosition = pos;
      if (ended) EndOnceOnly(v);
    }
    // Saturate once, after every voice: a wrapped sum would be loud noise,
    // and clamping only the total keeps the result independent of voice
    // order.
    int16_t* out = buffer + done;
    for (uint32_t k = 0; k < block; ++k) {
      const int32_t v = sum[k];
      out[k] = static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
    done += block;
  }
  return samples;
}
