// The drawing paper: the film the user writes a note on. Brush images are
// stamped into the film along the cursor path, one stamp per film pixel so a
// fast stroke stays a continuous line; a pen paints by the brush's alpha and
// raises the film's alpha to it, the rubber keeps the colour and lowers the
// alpha to the brush's. Save reads the film back, writes the note file and
// makes the 128 x 128 note texture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ov_film_tex.h"
#include "ov_math.h"
#include "ov_memory.h"

class OvClump;
class OvScene;
class OvRendererGL;

// The texture the clump (or the first of its descendants with a textured
// standard material) shows: what a pen or rubber object offers as its brush.
OvGLTexture* OvClumpShownTexture(OvClump* clump);
// Shows `texture` in slot 0 of the clump's first standard material for this
// clump alone (other clumps sharing the material keep theirs); the old one,
// or false when the clump has no such material (nothing changed then).
bool OvSetClumpTexture(OvClump* clump, OvGLTexture* texture, OvGLTexture** previous);
// When the clump shows `texture` as its own, it shows its material's texture
// again; true when it did. Nothing is allocated (safe while the clump goes).
bool OvForgetClumpTexture(OvClump* clump, const OvGLTexture* texture);

// Film coordinates (0-1, v down) of a world point on triangle `triangle` of
// the clump's mesh, from texture-coordinate set 0. False when the clump has
// no mesh, no set 0, or the triangle or its indices are out of range.
bool OvFilmCoordOfHit(const OvClump& clump, const OvVector& worldHit, int32_t triangle, float& u, float& v);

class OvDrawingPaper : public OvAllocated {
 public:
  static constexpr int kFilmSize = 512;
  static constexpr int kNoteTextureSize = 128;
  static constexpr float kPenWidth = 7.0f;
  static constexpr float kRubberWidth = 30.0f;
  // A fresh paper: grey with alpha 0.
  static constexpr uint32_t kBlank = 0x007F7F7Fu;

  explicit OvDrawingPaper(OvRendererGL* renderer);
  ~OvDrawingPaper();

  // Makes the film; false when the device cannot.
  bool Init();
  OuFilmTexGLAdapter& Film() { return m_film; }

  // Pen (drawing) or rubber with its brush image and size in film pixels.
  void SetBrush(OvGLTexture* brush, bool drawing, float width);
  bool Drawing() const { return m_drawing; }
  float Width() const { return m_width; }

  // Starts an edit on `target`, which shows the film from now on. With a note
  // file the film gets its image; a missing or broken file starts blank.
  void Begin(OvClump* target, const char* notePath);
  // Every frame: stamps along the cursor while the left button is down. The
  // cursor is picked against the target clump only.
  bool DrawFrame(OvScene& scene, float cursorX, float cursorY, bool leftDown);
  // The same after the pick: `hit` with film coordinates (u, v).
  void StrokeStep(bool leftDown, bool hit, float u, float v);
  // Reads the film back, writes the note file when a path is given, and
  // returns a new 128 x 128 texture of the halved image (null on failure).
  // The caller owns the texture (OvReleaseTexture).
  OvGLTexture* Save(const char* notePath);
  // The film as it is now (B G R A rows, top first); false without a film.
  bool ReadBack(std::vector<uint8_t>& bgra);
  // Gives the target its own texture back and drops it.
  void Destroy();

  // Stamping in film coordinates (0-1); these bracket the film drawing themselves.
  void StampDot(float u, float v);
  void DrawLine(float au, float av, float bu, float bv);
  // Stamps made since the paper was made (for the line rule).
  uint64_t StampCount() const { return m_stamps; }

  OvClump* Target() const { return m_target; }
  bool StartGuard() const { return m_startGuard; }
  bool StrokeActive() const { return m_stroke; }
  // A stroke has stamped since Begin: the sheet differs from what it started as.
  bool Inked() const { return m_inked; }
  const std::vector<uint8_t>& Image() const { return m_image; }

 private:
  // One quad with the states of the current run (see StampStates).
  void Stamp(float u, float v);
  void ReleaseTarget();

  OvRendererGL* m_renderer;
  OuFilmTexGLAdapter m_film;
  std::vector<uint8_t> m_image;  // B G R A, rows top first
  OvGLTexture* m_brush = nullptr;
  float m_width = kPenWidth;
  bool m_drawing = true;
  OvClump* m_target = nullptr;
  OvGLTexture* m_targetTexture = nullptr;  // what the target showed before
  bool m_startGuard = false;
  bool m_stroke = false;
  bool m_inked = false;
  float m_last[2] = {0, 0};
  uint64_t m_stamps = 0;
};
