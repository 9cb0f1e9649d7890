// Input devices: one object samples keyboard and mouse once per
// frame and answers key, click, cursor-position and movement queries.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "ov_memory.h"

// Input index space of every query: 0-255 virtual-key codes (ov_vkeys.h),
// 256/257/258 the left/middle/right mouse button.
constexpr int OV_INPUT_MOUSE_LEFT = 256;
constexpr int OV_INPUT_MOUSE_MIDDLE = 257;
constexpr int OV_INPUT_MOUSE_RIGHT = 258;
constexpr int OV_INPUT_COUNT = 259;

// A pointer event from the window's queue, in the order it came.
struct OvPointerEvent {
  enum class Kind { Motion, Button };
  Kind kind = Kind::Motion;
  int32_t x = 0, y = 0;  // window client pixels
  int index = 0;         // Button: 256-258
  bool down = false;     // Button
  double time = 0.0;     // seconds, on the window system's event clock
};

// The abstract device; the frame calls Update once, then the queries read.
class OvInputDevice : public OvAllocated {
 public:
  virtual ~OvInputDevice() = default;

  virtual void Reset() = 0;
  virtual void Update() = 0;
  // Indices outside 0..258 answer false (they may come from scripts).
  virtual bool IsClickDown(int index) = 0;
  virtual bool IsClickUp(int index) = 0;
  virtual bool IsDown(int index) = 0;
  virtual void GetPos(int& x, int& y) = 0;
  virtual void GetMove(int& dx, int& dy) = 0;
  // Wheel turned before the last update, 120 per notch (positive away from
  // the user); 0 for devices without a wheel.
  virtual int GetWheel() { return 0; }
  // Wheel events arrive as window events, not as polled state.
  virtual void FeedWheel(int delta) { (void)delta; }
  // Button changes and motion samples from the window, fed as they arrive;
  // Update takes them so no press or release between two frames is lost.
  virtual void FeedPointer(const OvPointerEvent& e) { (void)e; }
  // The pointer events the last update took, oldest first.
  virtual const std::vector<OvPointerEvent>& FrameEvents() const;
  // Event time of the press behind this update's click down on `index`;
  // negative when the click has no event (polled or replayed).
  virtual double ClickTime(int index) const {
    (void)index;
    return -1.0;
  }
};

// The system services the polled device samples (GetKeyboardState,
// GetCursorPos, SetCursorPos, GetClipCursor, ScreenToClient). A fake source
// drives the device in tests.
class OvInputSource {
 public:
  virtual ~OvInputSource() = default;

  // The 256-byte key-state array indexed by virtual-key code, bit 7 = down
  // (including VK_LBUTTON, VK_RBUTTON and VK_MBUTTON).
  virtual void ReadKeyState(uint8_t keys[256]) = 0;
  // Cursor in screen coordinates; false when it cannot be read.
  virtual bool ReadCursor(int& x, int& y) = 0;
  // Moves the system cursor (screen coordinates).
  virtual void SetCursor(int x, int y) = 0;
  // The clip rectangle (the whole screen without clipping); right and bottom
  // exclusive. False when it cannot be read.
  virtual bool ReadClipRect(int& left, int& top, int& right, int& bottom) = 0;
  // Converts screen to window client coordinates in place; false when there
  // is no window or the conversion fails (x, y then unspecified).
  virtual bool ScreenToClient(int& x, int& y) = 0;
};

// The sampling device over a source it does not own (the source
// must outlive the device).
class OvPolledInputDevice : public OvInputDevice {
 public:
  explicit OvPolledInputDevice(OvInputSource& source);
  ~OvPolledInputDevice() override = default;
  OvPolledInputDevice(const OvPolledInputDevice&) = delete;
  OvPolledInputDevice& operator=(const OvPolledInputDevice&) = delete;

  void Reset() override;
  void Update() override;
  bool IsClickDown(int index) override;
  bool IsClickUp(int index) override;
  bool IsDown(int index) override;
  void GetPos(int& x, int& y) override;
  void GetMove(int& dx, int& dy) override;
  int GetWheel() override { return m_wheel; }
  void FeedWheel(int delta) override { m_pendingWheel += delta; }
  void FeedPointer(const OvPointerEvent& e) override;
  const std::vector<OvPointerEvent>& FrameEvents() const override { return m_frameEvents; }
  double ClickTime(int index) const override;

  // Beyond this many waiting events the oldest go (a window that runs no
  // frames must not grow the queue without end).
  static constexpr size_t kMaxPendingEvents = 4096;

  // Introspection for tests and diagnostics.
  bool RelativeMode() const { return m_relative; }
  void GetScreenPos(int& x, int& y) const {
    x = m_cursorX;
    y = m_cursorY;
  }

 private:
  static bool ValidIndex(int index) { return index >= 0 && index < OV_INPUT_COUNT; }
  // Takes the queued events this update may see; true when a press moved
  // the cursor to its own position (*x, *y client pixels).
  void TakeEvents(bool* placed, int32_t* x, int32_t* y);

  OvInputSource* m_source;
  uint8_t m_current[OV_INPUT_COUNT] = {};
  uint8_t m_previous[OV_INPUT_COUNT] = {};
  int32_t m_cursorX = 0;
  int32_t m_cursorY = 0;
  int32_t m_prevCursorX = 0;
  int32_t m_prevCursorY = 0;
  int32_t m_moveX = 0;
  int32_t m_moveY = 0;
  bool m_relative = false;
  int32_t m_pendingWheel = 0;
  int32_t m_wheel = 0;
  std::deque<OvPointerEvent> m_pending;
  std::vector<OvPointerEvent> m_frameEvents;
  double m_clickTime[3] = {-1.0, -1.0, -1.0};
  bool m_droppedTold = false;
};

// The process-wide input device (the application creates, owns
// and deletes it; this is only the global pointer). Null when none exists.
OvInputDevice* OvGetInputDevice();
void OvSetInputDevice(OvInputDevice* device);
