#include "ov_wave_out.h"

#include <SDL.h>

#include <cstring>
#include <string>

#include "ov_trace.h"

// ---------------------------------------------------------------------------
// Queue

bool OvWaveQueue::Allocate() {
  if (Allocated()) return true;
  for (int32_t i = 0; i < OV_WAVE_BUFFER_COUNT; ++i) {
    m_buffers[i] = static_cast<int16_t*>(AllocMem(OV_WAVE_BUFFER_BYTES));
    if (m_buffers[i] == nullptr) {
      Free();
      return false;
    }
    std::memset(m_buffers[i], 0, OV_WAVE_BUFFER_BYTES);
  }
  m_next = 0;
  m_play = 0;
  m_playOffset = 0;
  m_queued.store(0, std::memory_order_release);
  return true;
}

void OvWaveQueue::Free() {
  for (int16_t*& buffer : m_buffers) {
    OvMFree(buffer);
    buffer = nullptr;
  }
  m_next = 0;
  m_play = 0;
  m_playOffset = 0;
  m_queued.store(0, std::memory_order_release);
}

const int16_t* OvWaveQueue::Buffer(int32_t index) const {
  return index >= 0 && index < OV_WAVE_BUFFER_COUNT ? m_buffers[index] : nullptr;
}

int32_t OvWaveQueue::Refill(OvWaveMixer& mixer) {
  if (!Allocated()) return 0;
  int32_t written = 0;
  // The buffer at m_next is never among the queued ones while fewer than
  // four are queued, so the audio thread is not reading it.
  while (Queued() < OV_WAVE_BUFFER_COUNT) {
    int16_t* buffer = m_buffers[m_next];
    const uint32_t mixed = mixer.Mix(buffer, OV_WAVE_BUFFER_SAMPLES);
    if (mixed == 0) break;
    if (mixed < OV_WAVE_BUFFER_SAMPLES)
      std::memset(buffer + mixed, 0, (OV_WAVE_BUFFER_SAMPLES - mixed) * sizeof(int16_t));
    m_next = (m_next + 1) % OV_WAVE_BUFFER_COUNT;
    // Release: the samples are written before the audio thread can see the
    // buffer counted.
    m_queued.fetch_add(1, std::memory_order_release);
    ++written;
  }
  return written;
}

void OvWaveQueue::Consume(uint8_t* stream, int32_t length) {
  if (stream == nullptr || length <= 0) return;
  uint32_t left = static_cast<uint32_t>(length);
  while (left > 0) {
    if (m_queued.load(std::memory_order_acquire) <= 0 || !Allocated()) {
      std::memset(stream, 0, left);
      return;
    }
    const uint8_t* source = reinterpret_cast<const uint8_t*>(m_buffers[m_play]) + m_playOffset;
    uint32_t n = OV_WAVE_BUFFER_BYTES - m_playOffset;
    if (n > left) n = left;
    std::memcpy(stream, source, n);
    stream += n;
    left -= n;
    m_playOffset += n;
    if (m_playOffset == OV_WAVE_BUFFER_BYTES) {
      m_playOffset = 0;
      m_play = (m_play + 1) % OV_WAVE_BUFFER_COUNT;
      // The buffer is given back only after it was read in full.
      m_queued.fetch_sub(1, std::memory_order_acq_rel);
    }
  }
}

// ---------------------------------------------------------------------------
// Device

void OvWaveOut::AudioCallback(void* self, uint8_t* stream, int length) {
  static_cast<OvWaveOut*>(self)->m_queue.Consume(stream, length);
}

bool OvWaveOut::OpenWithCurrentDriver() {
  if (!m_audioInit) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    m_audioInit = true;
  }
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = static_cast<int>(OV_WAVE_RATE);
  want.format = AUDIO_S16SYS;
  want.channels = 1;
  want.samples = static_cast<Uint16>(OV_WAVE_BUFFER_SAMPLES);
  want.callback = &OvWaveOut::AudioCallback;
  want.userdata = this;
  SDL_AudioSpec have;
  SDL_zero(have);
  // No changes allowed: SDL converts to whatever the hardware wants, so the
  // callback always sees this exact format.
  m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (m_device == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    m_audioInit = false;
    return false;
  }
  SDL_PauseAudioDevice(m_device, 0);
  return true;
}

bool OvWaveOut::OpenDevice() {
  if (m_open) return true;
  if (!m_queue.Allocate()) {
    Trace("!!! Wave output: no memory for the sound buffers\n");
    return false;
  }
  if (OpenWithCurrentDriver()) {
    m_open = true;
    return true;
  }
  const std::string reason = SDL_GetError();
  // Without a usable device the program runs on the silent driver, so the
  // rest of the engine sees an open device either way.
  SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
  const bool silent = OpenWithCurrentDriver();
  SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  if (silent) {
    _TraceFormat("### Wave output: no audio device (%s), playing silently\n", reason.c_str());
    m_open = true;
    return true;
  }
  _TraceFormat("!!! Wave output: cannot open an audio device (%s)\n", SDL_GetError());
  m_queue.Free();
  return false;
}

void OvWaveOut::CloseDevice() {
  if (m_device != 0) {
    // Joins the audio thread: nothing reads the buffers after this.
    SDL_CloseAudioDevice(m_device);
    m_device = 0;
  }
  if (m_audioInit) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    m_audioInit = false;
  }
  m_queue.Free();
  m_open = false;
}

void OvWaveOut::Refill(OvWaveMixer& mixer) {
  if (!m_open) return;
  m_queue.Refill(mixer);
}

const char* OvWaveOut::DriverName() const {
  if (!m_open) return "";
  const char* name = SDL_GetCurrentAudioDriver();
  return name ? name : "";
}
