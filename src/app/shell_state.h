// The shell's small state machines, kept free of any window so they can be
// driven by plain events.
#pragma once

#include <cstdint>

// Ends the program when the user draws a cross with two diagonal drags:
// press top-right, release bottom-left, press top-left, release bottom-right.
class ExitGesture {
 public:
  enum class Button { Press, Release, DoubleClick };

  // width/height are the window's right and bottom edges; x, y the pointer in
  // client coordinates. Returns true once the gesture is complete (sticky).
  bool Feed(Button kind, int x, int y, int width, int height);
  // A press the content took (it picked an object, or an edit or drag runs):
  // the cross starts over.
  void Restart() { m_step = 0; }
  int Step() const { return m_step; }
  bool Done() const { return m_done; }

 private:
  int m_step = 0;
  bool m_done = false;
};

// Decides once per loop pass whether user input is waiting.
class ActivityProbe {
 public:
  enum class Kind { None, MouseMove, OtherInput };

  // Returns the new activity flag (0 or 1).
  int Feed(Kind kind, int x = 0, int y = 0);
  int Activity() const { return m_activity; }

 private:
  int m_activity = 0;
  uint32_t m_lastMoveParam = 0;
};

// Whether a loop pass runs a frame, and the bookkeeping after it.
struct LoopState {
  bool quitRequested = false;
  bool inactive = false;
  bool repaintRequested = false;

  bool ShouldRunFrame() const { return !inactive || repaintRequested; }
};

// The frame-rate readout in a title is dropped after each frame.
bool TitleNeedsReset(const char* title);
