// Input devices: one object samples keyboard and mouse once per
// frame and answers key, click, cursor-position and movement queries.
#pragma once

#include <cstdint>

#include "ov_memory.h"

// Input index space of every query: 0-255 virtual-key codes (ov_vkeys.h),
// 256/257/258 the left/middle/right mouse button.
constexpr int OV_INPUT_MOUSE_LEFT = 256;
constexpr int OV_INPUT_MOUSE_MIDDLE = 257;
constexpr int OV_INPUT_MOUSE_RIGHT = 258;
constexpr int OV_INPUT_COUNT = 259;

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

  // Introspection for tests and diagnostics.
  bool RelativeMode() const { return m_relative; }
  void GetScreenPos(int& x, int& y) const {
    x = m_cursorX;
    y = m_cursorY;
  }

 private:
  static bool ValidIndex(int index) { return index >= 0 && index < OV_INPUT_COUNT; }

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
};

// The process-wide input device (the application creates, owns
// and deletes it; this is only the global pointer). Null when none exists.
OvInputDevice* OvGetInputDevice();
void OvSetInputDevice(OvInputDevice* device);
