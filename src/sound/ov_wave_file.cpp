#include "ov_wave_file.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "ov_math.h"
#include "ov_stream.h"
#include "ov_trace.h"
#include "ov_wave_out.h"

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// Raw data longer than this is refused before it is read, whatever its rate.
constexpr uint64_t kMaxRawSamples = uint64_t(OV_SOUND_MAX_SAMPLES) * 4;

bool TagIs(const char tag[4], const char* want) { return std::memcmp(tag, want, 4) == 0; }

int16_t Clamp16(int64_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

class WaveReader {
 public:
  WaveReader(OvStream& stream, const char* name, OvSoundSample& sample)
      : m_stream(stream), m_name(name && *name ? name : "(unnamed sound)"), m_sample(sample) {}

  bool Parse();

 private:
  bool Reject(const char* reason) {
    m_sample.FreeSamples();
    _TraceFormat("### %s: sound rejected, %s\n", m_name, reason);
    return false;
  }
  bool ReadFormat(uint32_t size);
  bool Skip(uint64_t bytes);
  bool ReadData(uint32_t size);

  OvStream& m_stream;
  const char* m_name;
  OvSoundSample& m_sample;
  char m_reason[128] = {};

  uint16_t m_formatTag = 0;
  uint16_t m_channels = 0;
  uint32_t m_rate = 0;
  uint16_t m_blockAlign = 0;
  uint16_t m_bits = 0;  // 0 when the chunk does not carry it
  bool m_subFormatPcm = false;
};

bool WaveReader::Skip(uint64_t bytes) {
  if (bytes > m_stream.Remaining()) return false;
  return m_stream.Seek(m_stream.Position() + bytes);
}

bool WaveReader::ReadFormat(uint32_t size) {
  // Tag, channels, rate, bytes per second and block align are the least a
  // format chunk holds; bits per sample and an extension may follow.
  if (size < 14) return Reject("format chunk too short");
  if (size > m_stream.Remaining()) return Reject("format chunk truncated");
  uint32_t bytesPerSecond = 0;
  m_stream.ReadU16(m_formatTag);
  m_stream.ReadU16(m_channels);
  m_stream.ReadU32(m_rate);
  m_stream.ReadU32(bytesPerSecond);
  m_stream.ReadU16(m_blockAlign);
  uint32_t used = 14;
  if (size >= 16) {
    m_stream.ReadU16(m_bits);
    used = 16;
  }
  // WAVE_FORMAT_EXTENSIBLE: extension size, valid bits, channel mask, then a
  // GUID whose first two bytes are the real format tag.
  if (m_formatTag == kFormatExtensible && size >= 26) {
    uint16_t extensionSize = 0, validBits = 0, subFormat = 0;
    uint32_t channelMask = 0;
    m_stream.ReadU16(extensionSize);
    m_stream.ReadU16(validBits);
    m_stream.ReadU32(channelMask);
    m_stream.ReadU16(subFormat);
    used = 26;
    m_subFormatPcm = extensionSize >= 22 && subFormat == kFormatPcm;
  }
  // Chunks are padded to an even length.
  const uint64_t rest = uint64_t(size - used) + (size & 1u);
  if (m_stream.Failed() || !Skip(rest)) return Reject("format chunk truncated");
  return true;
}

bool WaveReader::ReadData(uint32_t size) {
  if (m_formatTag != kFormatPcm && !(m_formatTag == kFormatExtensible && m_subFormatPcm)) {
    std::snprintf(m_reason, sizeof(m_reason), "format %u is not PCM", unsigned(m_formatTag));
    return Reject(m_reason);
  }
  if (m_channels != 1) {
    std::snprintf(m_reason, sizeof(m_reason), "%u channels, only mono plays", unsigned(m_channels));
    return Reject(m_reason);
  }
  const bool bitsAgree =
      m_bits == 0 || (m_blockAlign == 1 && m_bits == 8) || (m_blockAlign == 2 && m_bits > 8 && m_bits <= 16);
  if ((m_blockAlign != 1 && m_blockAlign != 2) || !bitsAgree) {
    std::snprintf(m_reason, sizeof(m_reason), "%u bits in %u-byte blocks, only 8 or 16 bits play", unsigned(m_bits),
                  unsigned(m_blockAlign));
    return Reject(m_reason);
  }
  if (m_rate == 0) return Reject("sample rate 0");
  if (size > m_stream.Remaining()) return Reject("data size larger than the file");

  const uint64_t count = uint64_t(size) / m_blockAlign;
  if (count == 0) return Reject("no sample data");
  if (count > kMaxRawSamples || OvResampleLinear(nullptr, uint32_t(count), m_rate, OV_WAVE_RATE, nullptr) == 0)
    return Reject("sound too long");

  if (!m_sample.AllocateSamples(uint32_t(count))) return Reject("out of memory");
  int16_t* out = m_sample.samples;
  if (m_blockAlign == 1) {
    // Unsigned 8-bit: read into the upper half of the 16-bit array and widen
    // upwards in place; output i never reaches input bytes not yet read.
    uint8_t* bytes = reinterpret_cast<uint8_t*>(out) + count;
    if (!m_stream.ReadBytes(bytes, size_t(count))) return Reject("data truncated");
    for (uint64_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>((int32_t(bytes[i]) - 128) * 256);
  } else {
    if (!m_stream.ReadBytes(out, size_t(count) * 2)) return Reject("data truncated");
    if constexpr (std::endian::native == std::endian::big) {
      for (uint64_t i = 0; i < count; ++i) {
        const uint16_t v = uint16_t(out[i]);
        out[i] = static_cast<int16_t>(uint16_t((v >> 8) | (v << 8)));
      }
    }
  }
  m_sample.fileRate = m_rate;
  m_sample.sampleRate = m_rate;

  if (m_rate != OV_WAVE_RATE) {
    // The output runs at one rate; converting here keeps pitch and speed.
    const uint32_t converted = OvResampleLinear(out, uint32_t(count), m_rate, OV_WAVE_RATE, nullptr);
    int16_t* resampled = static_cast<int16_t*>(AllocMem(size_t(converted) * sizeof(int16_t)));
    if (resampled == nullptr) return Reject("out of memory");
    OvResampleLinear(out, uint32_t(count), m_rate, OV_WAVE_RATE, resampled);
    m_sample.FreeSamples();
    m_sample.samples = resampled;
    m_sample.sampleCount = converted;
    m_sample.fileRate = m_rate;
    m_sample.sampleRate = OV_WAVE_RATE;
  }
  m_sample.bits = 16;
  return true;
}

bool WaveReader::Parse() {
  m_sample.FreeSamples();
  char tag[4] = {};
  uint32_t riffSize = 0;
  if (!m_stream.ReadBytes(tag, 4) || !TagIs(tag, "RIFF")) return Reject("not a RIFF file");
  if (!m_stream.ReadU32(riffSize) || !m_stream.ReadBytes(tag, 4) || !TagIs(tag, "WAVE"))
    return Reject("not a WAVE file");

  // Chunks other than the format and the data ("LIST", "fact", "JUNK", ...)
  // carry nothing needed for playing and are skipped.
  bool haveFormat = false;
  for (;;) {
    uint32_t size = 0;
    if (!m_stream.ReadBytes(tag, 4) || !m_stream.ReadU32(size))
      return Reject(haveFormat ? "no data chunk" : "no format chunk");
    if (TagIs(tag, "fmt ")) {
      if (haveFormat) return Reject("two format chunks");
      if (!ReadFormat(size)) return false;
      haveFormat = true;
    } else if (TagIs(tag, "data")) {
      if (!haveFormat) return Reject("data chunk before the format chunk");
      return ReadData(size);
    } else if (!Skip(uint64_t(size) + (size & 1u))) {
      return Reject("chunk truncated");
    }
  }
}

}  // namespace

bool OvSoundSample::AllocateSamples(uint32_t count) {
  FreeSamples();
  if (count == 0) return true;
  samples = static_cast<int16_t*>(AllocMem(size_t(count) * sizeof(int16_t)));
  if (samples == nullptr) return false;
  std::memset(samples, 0, size_t(count) * sizeof(int16_t));
  sampleCount = count;
  return true;
}

void OvSoundSample::FreeSamples() {
  OvMFree(samples);
  samples = nullptr;
  sampleCount = 0;
}

uint32_t OvResampleLinear(const int16_t* in, uint32_t count, uint32_t fromRate, uint32_t toRate, int16_t* out) {
  if (count == 0 || fromRate == 0 || toRate == 0) return 0;
  // The same length in time: ceil(count x to / from) outputs.
  const uint64_t total = (uint64_t(count) * toRate + fromRate - 1) / fromRate;
  if (total == 0 || total > OV_SOUND_MAX_SAMPLES) return 0;
  if (out == nullptr || in == nullptr) return uint32_t(total);
  const int64_t to = toRate;
  for (uint64_t k = 0; k < total; ++k) {
    const uint64_t position = k * fromRate;  // in units of 1/toRate input samples
    const uint64_t i = position / toRate;
    const int64_t frac = int64_t(position % toRate);
    const int64_t a = in[i < count ? i : count - 1];
    // Past the last input sample the last value holds.
    const int64_t b = i + 1 < count ? in[i + 1] : a;
    const int64_t scaled = a * to + (b - a) * frac;
    out[k] = Clamp16(OvFloorDiv(2 * scaled + to, 2 * to));
  }
  return uint32_t(total);
}

bool ParseWaveStream(OvStream& stream, const char* name, OvSoundSample& sample) {
  WaveReader reader(stream, name, sample);
  return reader.Parse();
}

bool ParseWave(const char* fileName, OvSoundSample& sample) {
  sample.FreeSamples();
  OvStream stream;
  if (fileName == nullptr || !stream.Open(fileName, "rb")) {
    _TraceFormat("### %s: sound rejected, cannot open the file\n", fileName ? fileName : "(null)");
    return false;
  }
  return ParseWaveStream(stream, fileName, sample);
}

bool ParseWaveMemory(const void* data, size_t size, const char* name, OvSoundSample& sample) {
  sample.FreeSamples();
  OvStream stream;
  if (data == nullptr || !stream.OpenMemory(data, size)) {
    _TraceFormat("### %s: sound rejected, no data\n", name ? name : "(unnamed sound)");
    return false;
  }
  return ParseWaveStream(stream, name, sample);
}
