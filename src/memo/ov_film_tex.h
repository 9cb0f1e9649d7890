// The film: a texture the memo board renders into (brush stamps) and copies
// to and from memory (note images). A framebuffer with an RGBA8 colour
// texture and a depth renderbuffer; the GL objects go with a lost device and
// come back cleared on reset, while the texture object that materials point
// at stays in place.
//
// Memory images are width x height pixels of 4 bytes in B, G, R, A order,
// rows top to bottom without gaps.
#pragma once

#include <cstdint>

#include "ov_gl_draw.h"
#include "ov_math.h"
#include "ov_memory.h"
#include "ov_volatile.h"

class OuFilmTexGLAdapter : public OvAllocated, public OvVolatileRes {
 public:
  // Depth formats tried in this order; the first the framebuffer accepts wins.
  static constexpr int kDepthBitChoices[3] = {16, 32, 24};

  explicit OuFilmTexGLAdapter(OvRendererGL* renderer);
  ~OuFilmTexGLAdapter() override;

  // Sets the size and makes the GL objects, cleared to zero bytes. The
  // texture object (what materials reference) or null when the size is
  // unusable, the device has no context or the colour texture cannot be made.
  OvGLTexture* CreateFilm(int width, int height);

  // Copy Width() * Height() * 4 bytes in or out. False (nothing copied) while
  // there is no texture or its format is not 8-bit ARGB/XRGB.
  bool Upload(const uint8_t* pixels);
  bool Download(uint8_t* pixels);

  // Fills the film with one colour (0xAARRGGBB) and the depth with 1.0.
  bool Clear(uint32_t argb);

  // Rendering into the film: the renderer's target, matrices and scene are
  // set aside and given back by EndFilmDrawing. Both do nothing while the
  // device is lost; End without a matching Begin does nothing.
  bool BeginFilmDrawing();
  void EndFilmDrawing();
  bool IsDrawing() const { return m_drawing; }

  void OnDeviceReset() override;
  void OnDeviceLost() override;

  OvGLTexture* FilmTexture() const { return m_film; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  // Bits of the depth buffer in use, 0 when the film has none.
  int DepthBits() const { return m_depthBits; }
  // Test hook: the next creation treats this depth size as refused.
  void RefuseDepthBits(int bits) {
    for (int i = 0; i < 3; ++i) m_refusedDepth |= kDepthBitChoices[i] == bits ? 1u << i : 0u;
  }

 private:
  bool CreateObjects();
  void ReleaseObjects();
  bool FormatUsable() const;

  OvGLTexture m_filmStore;        // stays in place: materials point at it
  OvGLTexture* m_film = nullptr;  // set once a film was asked for
  int m_width = 16;
  int m_height = 16;
  int m_depthBits = 0;
  uint32_t m_refusedDepth = 0;

  // Drawing bracket.
  bool m_drawing = false;
  bool m_sceneWasActive = false;
  const OvGLTexture* m_savedTarget = nullptr;
  OvMatrix m_savedView{};
  OvMatrix m_savedProjection{};
};

// Readable name of a GL error or framebuffer status value.
const char* OvGLErrorText(unsigned error);
