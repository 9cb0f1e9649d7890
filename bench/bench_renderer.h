// The off-screen 640×480 window and renderer the drawing benchmarks run on,
// without waiting for the display.
#pragma once

#include <SDL.h>

#include "ov_renderer_gl.h"

// `window` must outlive the renderer, which keeps its address. Null on
// failure.
inline OvRendererGL* OpenBenchRenderer(SDL_Window*& window) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return nullptr;
  OvRendererGL::SetWindowAttributes();
  window = SDL_CreateWindow("bench", 0, 0, 640, 480, OvRendererGL::WindowFlags());
  if (!window) return nullptr;
  auto* renderer = new OvRendererGL();
  renderer->SetRequestedSize(640, 480);
  renderer->SetWaitVRetrace(false);
  renderer->SetWindow(&window);
  if (!renderer->Init(true)) {
    delete renderer;
    return nullptr;
  }
  return renderer;
}
