// Input devices: the polled sampling device and the global pointer.
#include "ov_input.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "ov_trace.h"
#include "ov_vkeys.h"

const std::vector<OvPointerEvent>& OvInputDevice::FrameEvents() const {
  static const std::vector<OvPointerEvent> kNone;
  return kNone;
}

OvPolledInputDevice::OvPolledInputDevice(OvInputSource& source) : m_source(&source) {}

void OvPolledInputDevice::Reset() {
  std::memset(m_current, 0, sizeof(m_current));
  std::memset(m_previous, 0, sizeof(m_previous));
  m_cursorX = m_cursorY = 0;
  m_prevCursorX = m_prevCursorY = 0;
  m_moveX = m_moveY = 0;
  m_relative = false;
  m_pendingWheel = m_wheel = 0;
  m_pending.clear();
  m_frameEvents.clear();
  for (double& t : m_clickTime) t = -1.0;
}

void OvPolledInputDevice::FeedPointer(const OvPointerEvent& e) {
  if (e.kind == OvPointerEvent::Kind::Button && (e.index < OV_INPUT_MOUSE_LEFT || e.index > OV_INPUT_MOUSE_RIGHT))
    return;
  if (m_pending.size() >= kMaxPendingEvents) {
    if (!m_droppedTold) Trace("### Pointer events wait for a frame that does not come: the oldest are dropped.\n");
    m_droppedTold = true;
    m_pending.pop_front();
  }
  m_pending.push_back(e);
}

void OvPolledInputDevice::TakeEvents(bool* placed, int32_t* x, int32_t* y) {
  m_frameEvents.clear();
  for (double& t : m_clickTime) t = -1.0;
  *placed = false;
  bool state[3];
  bool changed[3] = {};
  bool decided[3] = {};
  for (int b = 0; b < 3; ++b) state[b] = (m_previous[OV_INPUT_MOUSE_LEFT + b] & 0x80) != 0;
  // Each button changes at most once per update, and a press is the last
  // event an update takes: a tap between two frames is a press in one and a
  // release in the next, and the press is seen where it happened.
  size_t taken = 0;
  for (; taken < m_pending.size(); ++taken) {
    const OvPointerEvent& e = m_pending[taken];
    bool press = false;
    if (e.kind == OvPointerEvent::Kind::Button) {
      const int b = e.index - OV_INPUT_MOUSE_LEFT;
      if (e.down != state[b]) {
        if (changed[b]) break;
        state[b] = e.down;
        changed[b] = true;
        if (e.down) {
          m_clickTime[b] = e.time;
          press = true;
        }
      }
      decided[b] = true;
    }
    m_frameEvents.push_back(e);
    if (press) {
      *placed = true;
      *x = e.x;
      *y = e.y;
      ++taken;
      break;
    }
  }
  for (size_t i = taken; i < m_pending.size(); ++i)
    if (m_pending[i].kind == OvPointerEvent::Kind::Button) decided[m_pending[i].index - OV_INPUT_MOUSE_LEFT] = true;
  m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(taken));
  // Buttons no event speaks for keep the polled state (pressed outside the
  // window, or an event still on its way).
  for (int b = 0; b < 3; ++b)
    if (decided[b]) m_current[OV_INPUT_MOUSE_LEFT + b] = state[b] ? 0x80 : 0;
}

double OvPolledInputDevice::ClickTime(int index) const {
  if (index < OV_INPUT_MOUSE_LEFT || index > OV_INPUT_MOUSE_RIGHT) return -1.0;
  const bool clickDown = (m_current[index] & 0x80) != 0 && (m_previous[index] & 0x80) == 0;
  return clickDown ? m_clickTime[index - OV_INPUT_MOUSE_LEFT] : -1.0;
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
  bool placed = false;
  int32_t px = 0;
  int32_t py = 0;
  TakeEvents(&placed, &px, &py);
  m_current[VK_LBUTTON] = m_current[OV_INPUT_MOUSE_LEFT];
  m_current[VK_MBUTTON] = m_current[OV_INPUT_MOUSE_MIDDLE];
  m_current[VK_RBUTTON] = m_current[OV_INPUT_MOUSE_RIGHT];

  // 3. Cursor; on failure the old one stays. A press taken this update puts
  // it where the press was.
  int x = 0;
  int y = 0;
  if (placed) {
    int ox = 0;
    int oy = 0;
    if (!m_source->ScreenToClient(ox, oy)) ox = oy = 0;
    m_cursorX = static_cast<int32_t>(std::clamp<int64_t>(int64_t(px) - ox, INT32_MIN, INT32_MAX));
    m_cursorY = static_cast<int32_t>(std::clamp<int64_t>(int64_t(py) - oy, INT32_MIN, INT32_MAX));
  } else if (m_source->ReadCursor(x, y)) {
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
