// The sound system: turns play requests into sound instances, gives a limited
// number of them a voice, mixes the voices into the wave output and takes
// voices from less important sounds when more important ones want to play.
// Plain (2D) and positioned (3D) sounds have their own voice limits; the
// listener distance of a positioned sound only decides who gets a voice, every
// voice is mixed at full level. Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "ov_math.h"
#include "ov_memory.h"
#include "ov_sound_db.h"
#include "ov_wave_file.h"
#include "ov_wave_out.h"

class OvSoundSystem;
class OvSoundInstance;

// State codes. Bit 18 marks the inactive states, bit 19 the waiting ones,
// bit 17 an instance StopInstance releases at once, bit 16 one whose voice is
// left alone when it is stopped (it has none).
constexpr int32_t OV_SND_IDLE = 0x60004;
constexpr int32_t OV_SND_READY = 0xA0003;
constexpr int32_t OV_SND_INTERRUPTED = 0x90002;
constexpr int32_t OV_SND_PLAYING = 1;
constexpr int32_t OV_SND_PLAYING_RELEASE = 7;
constexpr int32_t OV_SND_SUSPENDED = 0x50005;
constexpr int32_t OV_SND_DYING = 0x50006;

constexpr int32_t OV_SND_KEEP_VOICE_BIT = 0x10000;
constexpr int32_t OV_SND_RELEASE_NOW_BIT = 0x20000;
constexpr int32_t OV_SND_INACTIVE_BIT = 0x40000;
constexpr int32_t OV_SND_WAITING_BIT = 0x80000;

constexpr uint8_t OV_SND_PLAIN = 0;
constexpr uint8_t OV_SND_POSITIONED = 1;

// StopInstance modes: 1 releases at once; 3 lets a playing once-only sound
// finish first; 0 and 2 stop now and release after the grace period.
constexpr int32_t OV_SND_STOP_LATER = 0;
constexpr int32_t OV_SND_STOP_NOW = 1;
constexpr int32_t OV_SND_STOP = 2;
constexpr int32_t OV_SND_STOP_AFTER_END = 3;

constexpr int32_t OV_SND_DEFAULT_VOICES = 16;
// Voices are summed in 32 bits; this many full-scale voices still fit.
constexpr int32_t OV_SND_MAX_VOICES = 4096;

// What a Play Sound node asks for.
struct OvPlayRequest {
  const OvSoundItem* item = nullptr;
  int32_t loop = 0;      // negative: loops forever; otherwise plays once
  int32_t priority = 0;  // larger is more important; negative counts as 0
  uint8_t kind = OV_SND_PLAIN;
  float referenceDistance = 0.0f;  // positioned: "near" is within 10 x this
  float radius = 0.0f;             // positioned: audible only inside this
  // Folder of the content that names the sound: a named sound file missing
  // from the sound folder is looked for there. May be null.
  const char* folder = nullptr;
};

// One intrusive list (state lists and the voice list).
struct OvSoundList {
  OvSoundInstance* head = nullptr;
  OvSoundInstance* tail = nullptr;
  int32_t count = 0;
};

// A loaded sound plus its play state. Made by CreateInstance; released only by
// the sound system (StopInstance, the end of a play-then-release sound,
// StopAll, Shutdown).
class OvSoundInstance : public OvSoundSample, public OvAllocated {
 public:
  explicit OvSoundInstance(OvSoundSystem* owner) : m_owner(owner) {}

  // Requests playing: Idle becomes Ready, Suspended becomes Interrupted.
  // True when the instance is active afterwards. A stopped (Dying) instance
  // refuses.
  bool Play();
  // Playing loses its voice and waits Suspended; Interrupted becomes
  // Suspended, Ready becomes Idle. Inactive instances are left alone.
  void Pause();
  bool IsActive() const { return (m_state & OV_SND_INACTIVE_BIT) == 0; }
  bool IsWaiting() const { return (m_state & OV_SND_WAITING_BIT) != 0; }
  // World position used by the positioned scheduler.
  void SetPosition(const OvVector& position) { m_position = position; }
  // Device hook for the source velocity; mixing has no use for it.
  void SetVelocity(const OvVector& velocity) { (void)velocity; }

  OvSoundSystem* Owner() const { return m_owner; }
  int32_t State() const { return m_state; }
  uint8_t Kind() const { return m_kind; }
  int32_t Loop() const { return m_loop; }
  bool Looping() const { return m_loop < 0; }
  int32_t Priority() const { return m_priority; }
  float ReferenceDistance() const { return m_referenceDistance; }
  float Radius() const { return m_radius; }
  const OvVector& Position() const { return m_position; }
  uint32_t StopTime() const { return m_stopTime; }
  uint32_t PlayPosition() const { return m_playPosition; }
  bool HasVoice() const { return m_voiceList != nullptr; }

 private:
  friend class OvSoundSystem;
  friend struct OvSoundListOps;
  friend OvSoundInstance* LoadSample(OvSoundSystem* owner, const OvSoundItem& item, const char* contentFolder);
  ~OvSoundInstance() = default;

  OvSoundSystem* m_owner;
  uint8_t m_kind = OV_SND_PLAIN;
  int32_t m_loop = 0;
  int32_t m_priority = 0;
  float m_referenceDistance = 0.0f;
  float m_radius = 0.0f;
  int32_t m_state = OV_SND_IDLE;
  uint32_t m_stopTime = 0;
  OvVector m_position = {0.0f, 0.0f, 0.0f};
  uint32_t m_playPosition = 0;

  OvSoundList* m_list = nullptr;  // the state list it is in
  OvSoundInstance* m_prev = nullptr;
  OvSoundInstance* m_next = nullptr;
  OvSoundList* m_voiceList = nullptr;  // set while it has a voice
  OvSoundInstance* m_voicePrev = nullptr;
  OvSoundInstance* m_voiceNext = nullptr;
};

class OvSoundSystem : public OvWaveMixer, public OvAllocated {
 public:
  enum ListId { kIdle = 0, kReady = 1, kPlaying = 2, kSuspended = 3, kListCount = 4 };

  OvSoundSystem();
  // Releases every instance and closes the device.
  virtual ~OvSoundSystem();
  OvSoundSystem(const OvSoundSystem&) = delete;
  OvSoundSystem& operator=(const OvSoundSystem&) = delete;

  const char* Name() const { return "sounds"; }

  // Resets times, counts and the listener, enables the system and opens the
  // device. True when the device opened (the system works either way).
  virtual bool Start();
  // Releases the dying and playing instances, disables, closes the device.
  virtual void Shutdown();
  // Releases every stopped instance waiting for release.
  virtual void ReleaseDying();
  // Releases every instance of every kind list.
  virtual void StopAll();
  virtual void SetVoiceLimit3D(int32_t limit);
  virtual void SetVoiceLimit2D(int32_t limit);
  // Null when disabled or when the sound cannot be loaded. The instance starts
  // Idle.
  virtual OvSoundInstance* CreateInstance(const OvPlayRequest& request);
  // Modes OV_SND_STOP_*; instances of another system are left alone.
  virtual void StopInstance(OvSoundInstance* instance, int32_t mode);
  // Once per frame: refills the output, gives out voices, then lets waiting
  // sounds fall back and releases expired ones.
  virtual void Update();
  virtual void SetVolume(float volume) { (void)volume; }
  virtual void SetListenerPosition(const OvVector& position) { m_listener = position; }
  virtual void SetListenerOrientation(const OvVector& front, const OvVector& up) {
    (void)front;
    (void)up;
  }

  // The device (wave output). Tests replace these with a device they drive.
  virtual bool OpenDevice();
  virtual void CloseDevice();
  virtual void Refill();
  // The millisecond timer.
  virtual uint32_t Now();
  // Makes an instance from a sound item (null when it cannot be loaded); a
  // named file is looked for in the sound folder, then in `contentFolder`.
  virtual OvSoundInstance* LoadSample(const OvSoundItem& item, const char* contentFolder);

  // Sums every voice into `buffer` with saturation to 16 bits. Returns
  // `samples`, or 0 without writing when no voice plays.
  uint32_t Mix(int16_t* buffer, uint32_t samples) override;

  // Where LoadSample looks for sound files: the application sets the
  // "sounds" folder beside the running content.
  void SetSoundFolder(const char* folder);
  const char* SoundFolder() const { return m_soundFolder.c_str(); }

  bool Enabled() const { return m_enabled; }
  uint32_t CurrentTime() const { return m_now; }
  const OvVector& Listener() const { return m_listener; }
  int32_t VoiceLimit(uint8_t kind) const { return m_voiceLimit[KindIndex(kind)]; }
  int32_t PlayingCount(uint8_t kind) const { return m_lists[KindIndex(kind)][kPlaying].count; }
  int32_t GraceTime() const { return m_graceTime; }
  // Milliseconds after which released or paused instances are dropped.
  uint32_t DropDelay() const { return uint32_t(m_graceTime) + 500u; }
  const OvSoundList& List(uint8_t kind, ListId id) const { return m_lists[KindIndex(kind)][id]; }
  const OvSoundList& DyingList() const { return m_dying; }
  const OvSoundList& VoiceList() const { return m_voices; }
  const OvWaveOut& WaveOut() const { return m_waveOut; }

 protected:
  // One scheduler run each: true when it started an instance.
  bool SchedulePlain();
  bool SchedulePositioned();

 private:
  friend class OvSoundInstance;
  static int KindIndex(uint8_t kind) { return kind == OV_SND_PLAIN ? 0 : 1; }

  void MoveTo(OvSoundInstance* instance, OvSoundList& list, int32_t state);
  void ReleaseInstance(OvSoundInstance* instance);
  void AddVoice(OvSoundInstance* instance);
  void RemoveVoice(OvSoundInstance* instance);
  void StartInstance(OvSoundInstance* instance);
  void Interrupt(OvSoundInstance* instance);
  void EndOnceOnly(OvSoundInstance* instance);
  void ReleaseList(OvSoundList& list);
  bool Expired(const OvSoundInstance* instance) const;

  void InstancePlay(OvSoundInstance* instance);
  void InstancePause(OvSoundInstance* instance);

  static void ReleaseHook(void* self);

  bool m_enabled = false;
  uint32_t m_now = 0;
  OvVector m_listener = {0.0f, 0.0f, 0.0f};
  int32_t m_voiceLimit[2] = {OV_SND_DEFAULT_VOICES, OV_SND_DEFAULT_VOICES};
  int32_t m_graceTime = 500;
  OvSoundList m_lists[2][kListCount];
  OvSoundList m_dying;
  OvSoundList m_voices;
  OvWaveOut m_waveOut;
  bool m_hookInstalled = false;
  std::string m_soundFolder = "sounds";
  int32_t* m_mixScratch = nullptr;  // AllocMem, kMixBlock sums
};

// The process's sound system (the first one made that still exists); null
// when there is none.
OvSoundSystem* OvGetSoundSystem();

// The scene's per-frame call, after drawing: the listener follows the current
// camera (null when there is none), then Update refills the output. Does
// nothing without a sound system.
void OvSoundFrame(const OvVector* listenerPosition);
