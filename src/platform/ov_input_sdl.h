// The SDL face of the input device: key state from SDL_GetKeyboardState
// through the virtual-key table, cursor and buttons from
// SDL_GetGlobalMouseState, SDL_WarpMouseGlobal, and the window's display
// bounds as the clip rectangle.
#pragma once

#include "ov_input.h"

struct SDL_Window;

class OvSdlInputSource final : public OvInputSource {
 public:
  // window may be null: client coordinates are then screen coordinates and
  // the clip rectangle is display 0.
  explicit OvSdlInputSource(SDL_Window* window = nullptr) : m_window(window) {}

  void SetWindow(SDL_Window* window) { m_window = window; }
  SDL_Window* Window() const { return m_window; }

  void ReadKeyState(uint8_t keys[256]) override;
  bool ReadCursor(int& x, int& y) override;
  void SetCursor(int x, int y) override;
  bool ReadClipRect(int& left, int& top, int& right, int& bottom) override;
  bool ScreenToClient(int& x, int& y) override;

 private:
  SDL_Window* m_window;
};

// Creates the engine's input device over SDL for the window (may be null).
// Allocated through the engine allocator; null when memory runs out. Not
// reset: the engine start resets it. Delete it with delete.
OvInputDevice* OvCreateSdlInputDevice(SDL_Window* window);
