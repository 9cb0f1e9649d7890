// Recorded input: the text form of input events, a device that plays them
// back in place of the real one, and a device that writes what the real one
// saw in the same form.
//
// The form: UTF-8 text, one event per line, '#' starts a comment, blank lines
// are ignored. Each line is "FRAME EVENT ARGS"; FRAME counts sampled frames
// from 0 and never decreases. The events of a frame apply, in file order,
// before that frame samples its input:
//   move X Y               pointer to window pixel X, Y (origin top left)
//   move @NAME [DX DY]     pointer onto the projected centre of a clump
//   down|up left|right|middle
//   key VK down|up         virtual-key code 0-255
//   wheel DELTA            120 per notch, positive away from the user
//   quit                   the run ends before this frame
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ov_input.h"

struct OvInputEvent {
  enum class Kind { Move, MoveToName, Button, Key, Wheel, Quit };
  int64_t frame = 0;
  int line = 0;  // 1-based line in the file
  Kind kind = Kind::Move;
  int32_t x = 0, y = 0;  // Move: the pixel; MoveToName: the offset
  std::string name;      // MoveToName
  int index = 0;         // Button: 256-258; Key: 0-255
  bool down = false;     // Button, Key
  int32_t delta = 0;     // Wheel
};

// Parses the whole text. False with error "line N: what is wrong" on the
// first malformed line.
bool OvParseInputEvents(const std::string& text, std::vector<OvInputEvent>& out, std::string& error);
// Reads and parses a file; errors read "FILE:N: what is wrong".
bool OvLoadInputEvents(const char* path, std::vector<OvInputEvent>& out, std::string& error);

// Finds the window pixel of a named clump for "move @NAME" (knows the scene).
class OvPointerLocator {
 public:
  virtual ~OvPointerLocator() = default;
  // False with `why` set when no clump answers to the name.
  virtual bool Locate(const std::string& name, int32_t& x, int32_t& y, std::string& why) = 0;
};

// Plays events instead of reading the system. The pointer is in window
// pixels, so GetPos answers exactly what the file says.
class OvReplayInputDevice final : public OvInputDevice {
 public:
  // `source` names the file in messages; the locator may be null (then a
  // "move @NAME" fails) and must outlive the device.
  OvReplayInputDevice(std::vector<OvInputEvent> events, std::string source, OvPointerLocator* locator);

  void Reset() override;
  void Update() override;
  bool IsClickDown(int index) override;
  bool IsClickUp(int index) override;
  bool IsDown(int index) override;
  void GetPos(int& x, int& y) override;
  void GetMove(int& dx, int& dy) override;
  int GetWheel() override { return m_wheel; }

  // The next frame to sample has a quit event (the run should end first).
  bool QuitDue() const;
  // The next frame to sample has events: the user is active.
  bool EventsDue() const;
  // An event could not be played; Error() names the line.
  bool Failed() const { return !m_error.empty(); }
  const std::string& Error() const { return m_error; }
  int64_t FramesSampled() const { return m_frame; }

 private:
  void Apply(const OvInputEvent& e);

  std::vector<OvInputEvent> m_events;
  std::string m_source;
  OvPointerLocator* m_locator;
  size_t m_next = 0;
  int64_t m_frame = 0;
  uint8_t m_keys[256] = {};  // the state the events built so far
  uint8_t m_current[OV_INPUT_COUNT] = {};
  uint8_t m_previous[OV_INPUT_COUNT] = {};
  int32_t m_x = 0, m_y = 0, m_prevX = 0, m_prevY = 0;
  int32_t m_moveX = 0, m_moveY = 0;
  int32_t m_pendingWheel = 0;
  int32_t m_wheel = 0;
  bool m_relative = false;
  std::string m_error;
};

// Wraps the real device (owned) and writes each sampled change to `out` (not
// owned; flushed at every frame so a killed run keeps what it saw).
class OvRecordingInputDevice final : public OvInputDevice {
 public:
  OvRecordingInputDevice(OvInputDevice* inner, FILE* out);
  ~OvRecordingInputDevice() override;
  OvRecordingInputDevice(const OvRecordingInputDevice&) = delete;
  OvRecordingInputDevice& operator=(const OvRecordingInputDevice&) = delete;

  void Reset() override;
  void Update() override;
  bool IsClickDown(int index) override { return m_inner->IsClickDown(index); }
  bool IsClickUp(int index) override { return m_inner->IsClickUp(index); }
  bool IsDown(int index) override { return m_inner->IsDown(index); }
  void GetPos(int& x, int& y) override { m_inner->GetPos(x, y); }
  void GetMove(int& dx, int& dy) override { m_inner->GetMove(dx, dy); }
  int GetWheel() override { return m_inner->GetWheel(); }
  void FeedWheel(int delta) override { m_inner->FeedWheel(delta); }
  void FeedPointer(const OvPointerEvent& e) override { m_inner->FeedPointer(e); }
  const std::vector<OvPointerEvent>& FrameEvents() const override { return m_inner->FrameEvents(); }
  double ClickTime(int index) const override { return m_inner->ClickTime(index); }

  // The run ends before the next frame samples: written as "quit".
  void RecordQuit();
  // False once a write failed.
  bool Ok() const { return m_ok; }

 private:
  OvInputDevice* m_inner;
  FILE* m_out;
  int64_t m_frame = 0;
  bool m_haveState = false;
  bool m_down[OV_INPUT_COUNT] = {};
  int m_x = 0, m_y = 0;
  bool m_ok = true;
};
