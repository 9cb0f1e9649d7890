#include "shell_state.h"

#include <cstring>

bool ExitGesture::Feed(Button kind, int x, int y, int width, int height) {
  if (m_done) return true;
  if (kind == Button::DoubleClick) return false;
  // Thirds of the window, integer division as the gesture was designed.
  const int r = width, b = height;
  const bool press = kind == Button::Press;
  bool ok = false;
  switch (m_step) {
    case 0: ok = press && x > (2 * r) / 3 && y < b / 3; break;
    case 1: ok = !press && x < r / 3 && y > (2 * b) / 3; break;
    case 2: ok = press && x < r / 3 && y < b / 3; break;
    case 3: ok = !press && x > (2 * r) / 3 && y > (2 * b) / 3; break;
  }
  if (!ok) {
    m_step = 0;
    return false;
  }
  if (m_step == 3) {
    m_step = 0;
    m_done = true;
    return true;
  }
  ++m_step;
  return false;
}

int ActivityProbe::Feed(Kind kind, int x, int y) {
  switch (kind) {
    case Kind::None: m_activity = 0; break;
    case Kind::OtherInput: m_activity = 1; break;
    case Kind::MouseMove: {
      // Coordinates travel packed as two signed 16-bit halves.
      const uint32_t param = (uint32_t(uint16_t(int16_t(x)))) | (uint32_t(uint16_t(int16_t(y))) << 16);
      const int dx = int16_t(uint16_t(param & 0xFFFF) - uint16_t(m_lastMoveParam & 0xFFFF));
      const int dy = int16_t(uint16_t(param >> 16) - uint16_t(m_lastMoveParam >> 16));
      m_activity = (dx * dx + dy * dy >= 1) ? 1 : 0;
      m_lastMoveParam = param;
      break;
    }
  }
  return m_activity;
}

bool TitleNeedsReset(const char* title) { return title != nullptr && std::strstr(title, "fps") != nullptr; }
