// Input devices: the polled sampling device and the global pointer.
#include "ov_input.h"

#include <cstring>

#include "ov_trace.h"
#include "ov_vkeys.h"

OvPolledInputDevice::OvPolledInputDevice(OvInputSource& source) : m_source(&source) {}

void OvPolledInputDevice::Reset() {
  std::memset(m_current, 0, sizeof(m_current));
  std::memset(m_previous, 0, sizeof(m_previous));
  m_cursorX = m_cursorY = 0;
  m_prevCursorX = m_prevCursorY = 0;
  m_moveX = m_moveY = 0;
  m_relative = false;
  m_pendingWheel = m_wheel = 0;
}

void OvPolledInputDevice::Update() {
  // 1. The current state becomes the previous one.
  std::memcpy(m_previous, m_current, sizeof(m_current));
  m_prevCursorX = m_cursorX;
  m_prevCursorY = m_cursorY;
  m_wheel = m_pendingWheel;
  m_pendingWheel = 0;

  // 2. Keyboard state, then the mouse-button copies.
  m_source->ReadKeyState(m_current);
  m_current[OV_INPUT_MOUSE_LEFT] = m_current[VK_LBUTTON];
  m_current[OV_INPUT_MOUSE_MIDDLE] = m_current[VK_MBUTTON];
  m_current[OV_INPUT_MOUSE_RIGHT] = m_current[VK_RBUTTON];

  // 3. Cursor; on failure the old one stays.
  int x = 0;
  int y = 0;
  if (m_source->ReadCursor(x, y)) {
    m_cursorX = x;
    m_cursorY = y;
  } else {
    Trace("Get mouse position failed.\n");
  }

  // 4. Movement and wrapping only in relative mode.
  if (!m_relative) return;

  // 5.
  m_moveX = m_cursorX - m_prevCursorX;
  m_moveY = m_cursorY - m_prevCursorY;

  // 6.
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  if (!m_source->ReadClipRect(left, top, right, bottom)) {
    Trace("GetClipCursor() failed.\n");
    return;
  }

  // 7. Edge wrapping (right and bottom exclusive), tested on the sampled
  // position.
  const int32_t cx = m_cursorX;
  const int32_t cy = m_cursorY;
  int32_t nx = cx;
  int32_t ny = cy;
  bool wrapped = false;
  if (cx >= right - 1) {
    nx = left + 1;
    wrapped = true;
  } else if (cx <= left) {
    nx = right - 2;
    wrapped = true;
  }
  if (cy <= top) {
    ny = bottom - 2;
    wrapped = true;
  } else if (cy >= bottom - 1) {
    ny = top + 1;
    wrapped = true;
  }
  if (wrapped) {
    m_cursorX = nx;
    m_cursorY = ny;
    m_source->SetCursor(nx, ny);
  }
}

bool OvPolledInputDevice::IsClickDown(int index) {
  if (!ValidIndex(index)) return false;
  return (m_current[index] & 0x80) != 0 && (m_previous[index] & 0x80) == 0;
}

bool OvPolledInputDevice::IsClickUp(int index) {
  if (!ValidIndex(index)) return false;
  return (m_current[index] & 0x80) == 0 && (m_previous[index] & 0x80) != 0;
}

bool OvPolledInputDevice::IsDown(int index) {
  if (!ValidIndex(index)) return false;
  return (m_current[index] & 0x80) != 0;
}

void OvPolledInputDevice::GetPos(int& x, int& y) {
  int cx = m_cursorX;
  int cy = m_cursorY;
  if (m_source->ScreenToClient(cx, cy)) {
    x = cx;
    y = cy;
  } else {
    x = m_cursorX;
    y = m_cursorY;
  }
}

void OvPolledInputDevice::GetMove(int& dx, int& dy) {
  m_relative = true;
  dx = m_moveX;
  dy = m_moveY;
}

namespace {
OvInputDevice* g_inputDevice = nullptr;
}

OvInputDevice* OvGetInputDevice() { return g_inputDevice; }

void OvSetInputDevice(OvInputDevice* device) { g_inputDevice = device; }
