// The SDL input source and the factory of the engine's input device.
#include "ov_input_sdl.h"

#include <SDL.h>

#include "ov_vkeys.h"

void OvSdlInputSource::ReadKeyState(uint8_t keys[256]) {
  // The keyboard state is the one of the last event pump (the application's
  // message loop pumps every frame), as GetKeyboardState reflects the
  // messages the thread has taken.
  int numKeys = 0;
  const Uint8* sdlKeys = SDL_GetKeyboardState(&numKeys);
  OvMapKeyboardState(sdlKeys, numKeys, static_cast<uint32_t>(SDL_GetModState()), keys);
  OvMapMouseButtons(SDL_GetGlobalMouseState(nullptr, nullptr), keys);
}

bool OvSdlInputSource::ReadCursor(int& x, int& y) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  // While the pointer is over our window, SDL's window mouse state (from the
  // pointer events of the last pump) plus the client origin is the screen
  // position. SDL 2.26 on X11 re-reads the global position only after raw
  // input events; a pointer warped by another client (xdotool mousemove,
  // another program's warp) produces none, so the global state alone can be
  // stale. Elsewhere the global state is the only source.
  if (m_window != nullptr && SDL_GetMouseFocus() == m_window) {
    int lx = 0;
    int ly = 0;
    int wx = 0;
    int wy = 0;
    SDL_GetMouseState(&lx, &ly);
    SDL_GetWindowPosition(m_window, &wx, &wy);
    x = wx + lx;
    y = wy + ly;
    return true;
  }
  int gx = 0;
  int gy = 0;
  SDL_GetGlobalMouseState(&gx, &gy);
  x = gx;
  y = gy;
  return true;
}

void OvSdlInputSource::SetCursor(int x, int y) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return;
  // Drivers without a global warp (offscreen, dummy) refuse; SetCursorPos's
  // result is not used either.
  (void)SDL_WarpMouseGlobal(x, y);
}

bool OvSdlInputSource::ReadClipRect(int& left, int& top, int& right, int& bottom) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  const int display = m_window != nullptr ? SDL_GetWindowDisplayIndex(m_window) : 0;
  if (display < 0) return false;
  SDL_Rect r;
  if (SDL_GetDisplayBounds(display, &r) != 0) return false;
  left = r.x;
  top = r.y;
  right = r.x + r.w;
  bottom = r.y + r.h;
  return true;
}

bool OvSdlInputSource::ScreenToClient(int& x, int& y) {
  if (m_window == nullptr) return false;
  int wx = 0;
  int wy = 0;
  SDL_GetWindowPosition(m_window, &wx, &wy);  // origin of the client area
  x -= wx;
  y -= wy;
  return true;
}

namespace {

// The source is a base constructed before the device, so the device's
// reference to it is valid for the device's whole life.
struct OvSdlSourceHolder {
  explicit OvSdlSourceHolder(SDL_Window* window) : m_sdlSource(window) {}
  OvSdlInputSource m_sdlSource;
};

class OvSdlInputDevice final : private OvSdlSourceHolder, public OvPolledInputDevice {
 public:
  explicit OvSdlInputDevice(SDL_Window* window) : OvSdlSourceHolder(window), OvPolledInputDevice(m_sdlSource) {}
};

}  // namespace

OvInputDevice* OvCreateSdlInputDevice(SDL_Window* window) { return new OvSdlInputDevice(window); }
