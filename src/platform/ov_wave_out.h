// Wave output: plays the engine's mixed sound on an SDL audio device at
// 22050 Hz, mono, 16 bits, through four 60 ms buffers. Nothing is queued
// while nothing plays, so silence costs no buffers.
#pragma once

#include <atomic>
#include <cstdint>

#include "ov_memory.h"

constexpr uint32_t OV_WAVE_RATE = 22050;
constexpr uint32_t OV_WAVE_BLOCK_ALIGN = 2;
// 60 ms per buffer: block align x rate x 60 / 1000 bytes.
constexpr uint32_t OV_WAVE_BUFFER_BYTES = OV_WAVE_BLOCK_ALIGN * OV_WAVE_RATE * 60 / 1000;
constexpr uint32_t OV_WAVE_BUFFER_SAMPLES = OV_WAVE_BUFFER_BYTES / OV_WAVE_BLOCK_ALIGN;
constexpr int32_t OV_WAVE_BUFFER_COUNT = 4;

// What the output asks for sound: mixes `samples` samples into `buffer` and
// returns how many it wrote, 0 when nothing plays (the buffer is then left
// alone and not queued).
class OvWaveMixer {
 public:
  virtual uint32_t Mix(int16_t* buffer, uint32_t samples) = 0;

 protected:
  ~OvWaveMixer() = default;
};

// The four buffers and the queued count shared with the audio thread. The
// main thread fills and queues buffers (Refill); the audio thread plays them
// in order (Consume) and gives each back by decrementing the count once it
// has taken all of it. Usable without any device.
class OvWaveQueue {
 public:
  OvWaveQueue() = default;
  ~OvWaveQueue() { Free(); }
  OvWaveQueue(const OvWaveQueue&) = delete;
  OvWaveQueue& operator=(const OvWaveQueue&) = delete;

  // Four buffers of OV_WAVE_BUFFER_SAMPLES; false (nothing kept) when memory
  // runs out.
  bool Allocate();
  // Frees the buffers and forgets everything queued. The audio thread must
  // be stopped.
  void Free();
  bool Allocated() const { return m_buffers[0] != nullptr; }
  const int16_t* Buffer(int32_t index) const;

  // Mixes into free buffers until all four are queued or the mixer has
  // nothing to play. Returns how many buffers it queued.
  int32_t Refill(OvWaveMixer& mixer);
  // Audio thread: copies queued buffers into `stream` in order, silence
  // where none is queued.
  void Consume(uint8_t* stream, int32_t length);

  int32_t Queued() const { return m_queued.load(std::memory_order_acquire); }
  int32_t NextBuffer() const { return m_next; }

 private:
  int16_t* m_buffers[OV_WAVE_BUFFER_COUNT] = {};
  int32_t m_next = 0;         // main thread: the buffer to fill next
  int32_t m_play = 0;         // audio thread: the buffer being played
  uint32_t m_playOffset = 0;  // audio thread: bytes of it already played
  std::atomic<int32_t> m_queued{0};
};

// The device. Opening falls back to SDL's silent "dummy" driver when there
// is no usable audio device; only when even that fails does it stay closed.
class OvWaveOut : public OvAllocated {
 public:
  OvWaveOut() = default;
  ~OvWaveOut() { CloseDevice(); }
  OvWaveOut(const OvWaveOut&) = delete;
  OvWaveOut& operator=(const OvWaveOut&) = delete;

  bool OpenDevice();
  // Stops the audio thread, drops whatever is queued and frees the buffers.
  // Harmless on a device that never opened.
  void CloseDevice();
  // Once per frame: tops the queue up with mixed sound.
  void Refill(OvWaveMixer& mixer);

  bool IsOpen() const { return m_open; }
  int32_t QueuedCount() const { return m_queue.Queued(); }
  const OvWaveQueue& Queue() const { return m_queue; }
  // The SDL audio driver in use ("" while closed).
  const char* DriverName() const;

 private:
  static void AudioCallback(void* self, uint8_t* stream, int length);
  bool OpenWithCurrentDriver();

  OvWaveQueue m_queue;
  uint32_t m_device = 0;  // SDL_AudioDeviceID
  bool m_open = false;
  bool m_audioInit = false;  // this device holds a reference on SDL's audio subsystem
};
