// The wave output: the buffer queue shared with the audio thread (driven here
// without a device) and opening the SDL device with its silent fall-back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ov_wave_out.h"
#include "trace_capture.h"

namespace {

// Fills buffer n (counting from 1) with the value n while it has calls left.
class CountingMixer : public OvWaveMixer {
 public:
  explicit CountingMixer(int calls) : m_left(calls) {}
  uint32_t Mix(int16_t* buffer, uint32_t samples) override {
    ++calls;
    if (m_left-- <= 0) return 0;
    ++m_value;
    for (uint32_t i = 0; i < samples; ++i) buffer[i] = m_value;
    return samples;
  }
  int calls = 0;

 private:
  int m_left;
  int16_t m_value = 0;
};

std::vector<int16_t> Pull(OvWaveQueue& queue, uint32_t samples) {
  std::vector<int16_t> out(samples, int16_t(0x5A5A));
  queue.Consume(reinterpret_cast<uint8_t*>(out.data()), int32_t(samples * 2));
  return out;
}

TEST(WaveQueueTest, QueuesAtMostFourPlaysThemInOrderThenSilence) {
  OvWaveQueue queue;
  ASSERT_TRUE(queue.Allocate());
  CountingMixer idle(0);
  EXPECT_EQ(queue.Refill(idle), 0);  // nothing plays: nothing queued
  EXPECT_EQ(Pull(queue, 10), std::vector<int16_t>(10, 0));

  CountingMixer mixer(100);
  EXPECT_EQ(queue.Refill(mixer), 4);
  EXPECT_EQ(queue.Refill(mixer), 0);  // full: the mixer is not even asked
  EXPECT_EQ(mixer.calls, 4);
  // A buffer is given back only once all of it has been played.
  EXPECT_EQ(Pull(queue, 1322), std::vector<int16_t>(1322, 1));
  EXPECT_EQ(queue.Queued(), 4);
  EXPECT_EQ(Pull(queue, 2), (std::vector<int16_t>{1, 2}));
  EXPECT_EQ(queue.Queued(), 3);
  EXPECT_EQ(queue.Refill(mixer), 1);
  // After a long frame all four came back: four go at once, in order.
  std::vector<int16_t> all = Pull(queue, 5 * 1323);
  EXPECT_EQ(all[1320], 2);
  EXPECT_EQ(all[1321 + 3 * 1323], 5);
  EXPECT_EQ(all.back(), 0);
  EXPECT_EQ(queue.Queued(), 0);
  EXPECT_EQ(queue.Refill(mixer), 4);
}

TEST(WaveQueueTest, AudioThreadHearsEveryBufferOnceAndInOrder) {
  OvWaveQueue queue;
  ASSERT_TRUE(queue.Allocate());
  constexpr size_t kBuffers = 400;
  CountingMixer mixer{int(kBuffers)};
  std::vector<int16_t> heard;
  std::atomic<bool> done{false};
  std::thread audio([&] {
    std::vector<int16_t> chunk(517);  // not a divisor of the buffer size
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (heard.size() < kBuffers * 1323 && std::chrono::steady_clock::now() < giveUp) {
      queue.Consume(reinterpret_cast<uint8_t*>(chunk.data()), int32_t(chunk.size() * 2));
      for (int16_t s : chunk)
        if (s != 0) heard.push_back(s);
    }
    done = true;
  });
  while (!done) queue.Refill(mixer);
  audio.join();
  ASSERT_EQ(heard.size(), kBuffers * 1323);
  for (size_t i = 0; i < heard.size(); ++i) ASSERT_EQ(heard[i], int16_t(i / 1323 + 1)) << i;
}

TEST(WaveOutTest, OpenRefillCloseAndCloseWithoutOpen) {
  OvWaveOut device;
  device.CloseDevice();
  EXPECT_EQ(device.Queue().Buffer(0), nullptr);
  CountingMixer mixer(10);
  device.Refill(mixer);  // closed: never mixes
  EXPECT_EQ(mixer.calls, 0);

  setenv("SDL_AUDIODRIVER", "dummy", 1);
  TraceCapture trace;
  ASSERT_TRUE(device.OpenDevice());
  EXPECT_STREQ(device.DriverName(), "dummy");
  device.Refill(mixer);
  EXPECT_GT(mixer.calls, 0);
  device.CloseDevice();
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.QueuedCount(), 0);
  EXPECT_EQ(device.Queue().Buffer(0), nullptr);
  EXPECT_EQ(trace.Text(), "");
}

TEST(WaveOutTest, UnusableDriverFallsBackToSilence) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  TraceCapture trace;
  OvWaveOut device;
  const bool opened = device.OpenDevice();
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_TRUE(opened);
  EXPECT_STREQ(device.DriverName(), "dummy");
  EXPECT_TRUE(trace.Contains("### Wave output: no audio device")) << trace.Text();
}

}  // namespace
