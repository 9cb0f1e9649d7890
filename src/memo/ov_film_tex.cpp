#include "ov_film_tex.h"

#include <epoxy/gl.h>

#include <cstring>

#include "ov_renderer_gl.h"
#include "ov_trace.h"

namespace {

constexpr GLenum kDepthFormats[3] = {GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT24};

void DrainErrors() {
  while (glGetError() != GL_NO_ERROR) {
  }
}

// Restores the bindings a GL call sequence changed behind the renderer's back.
struct BindingGuard {
  GLint texture = 0, framebuffer = 0, renderbuffer = 0, unit = 0;
  BindingGuard() {
    glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
    glActiveTexture(GL_TEXTURE0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &renderbuffer);
  }
  ~BindingGuard() {
    glBindTexture(GL_TEXTURE_2D, GLuint(texture));
    glActiveTexture(GLenum(unit));
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(framebuffer));
    glBindRenderbuffer(GL_RENDERBUFFER, GLuint(renderbuffer));
  }
};

// Stamps drawn into the film may still be queued when the board binds its
// own frame again; a copy to or from memory must not overtake them, or a
// saved note comes back without the ink it shows.
void WaitForFilmDrawing() { glFinish(); }

}  // namespace

const char* OvGLErrorText(unsigned error) {
  switch (error) {
    case GL_NO_ERROR: return "GL_NO_ERROR";
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
    case GL_FRAMEBUFFER_UNDEFINED: return "GL_FRAMEBUFFER_UNDEFINED";
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT: return "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT";
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT: return "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT";
    case GL_FRAMEBUFFER_UNSUPPORTED: return "GL_FRAMEBUFFER_UNSUPPORTED";
    case GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE: return "GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE";
    default: return "unknown GL error";
  }
}

OuFilmTexGLAdapter::OuFilmTexGLAdapter(OvRendererGL* renderer) : OvVolatileRes(renderer) {}

OuFilmTexGLAdapter::~OuFilmTexGLAdapter() {
  if (m_drawing) EndFilmDrawing();
  ReleaseObjects();
}

OvGLTexture* OuFilmTexGLAdapter::CreateFilm(int width, int height) {
  OvRendererGL* r = Renderer();
  if (!r || !r->IsInitialised() || width < 1 || height < 1) return nullptr;
  if (m_drawing) EndFilmDrawing();
  ReleaseObjects();
  m_width = width;
  m_height = height;
  m_film = &m_filmStore;
  if (r->IsDeviceLost()) return m_film;  // made at the reset
  return CreateObjects() ? m_film : nullptr;
}

bool OuFilmTexGLAdapter::CreateObjects() {
  OvRendererGL* r = Renderer();
  if (!r || !r->IsInitialised() || !m_film) return false;
  OvGLTexture film;
  film.width = m_width;
  film.height = m_height;
  film.levels = 1;
  film.format = OvTexFormat::A8R8G8B8;
  {
    BindingGuard guard;
    DrainErrors();
    glGenTextures(1, &film.name);
    glBindTexture(GL_TEXTURE_2D, film.name);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, m_width, m_height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    GLenum error = glGetError();
    if (error == GL_NO_ERROR) {
      glGenFramebuffers(1, &film.framebuffer);
      glBindFramebuffer(GL_FRAMEBUFFER, film.framebuffer);
      glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, film.name, 0);
      error = glGetError();
      if (error == GL_NO_ERROR) {
        const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        if (status != GL_FRAMEBUFFER_COMPLETE) error = status;
      }
    }
    if (error != GL_NO_ERROR) {
      _TraceFormat("%s -- %s\n", "CreateTexture failed in OuFilmTexGLAdapter::CreateFilm().", OvGLErrorText(error));
      if (film.framebuffer) glDeleteFramebuffers(1, &film.framebuffer);
      glDeleteTextures(1, &film.name);
      return false;
    }

    // Depth: the first size the framebuffer takes.
    GLenum depthError = GL_FRAMEBUFFER_UNSUPPORTED;
    m_depthBits = 0;
    glGenRenderbuffers(1, &film.depthBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, film.depthBuffer);
    for (int i = 0; i < 3 && m_depthBits == 0; ++i) {
      if (m_refusedDepth & (1u << i)) continue;
      DrainErrors();
      glRenderbufferStorage(GL_RENDERBUFFER, kDepthFormats[i], m_width, m_height);
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, film.depthBuffer);
      depthError = glGetError();
      if (depthError == GL_NO_ERROR) {
        const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        if (status == GL_FRAMEBUFFER_COMPLETE) {
          m_depthBits = kDepthBitChoices[i];
          break;
        }
        depthError = status;
      }
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, 0);
    }
    if (m_depthBits == 0) {
      // Drawing goes on without depth.
      _TraceFormat("%s -- %s\n", "CreateDepthStencilSurface failed in OuFilmTexGLAdapter::CreateFilm().",
                   OvGLErrorText(depthError));
      glDeleteRenderbuffers(1, &film.depthBuffer);
      film.depthBuffer = 0;
    }
    m_refusedDepth = 0;
  }
  *m_film = film;
  // GL leaves new texture memory undefined: a new film starts transparent black.
  return Clear(0);
}

void OuFilmTexGLAdapter::ReleaseObjects() {
  OvRendererGL* r = Renderer();
  if (!m_film) return;
  // Also drops it from the renderer's bound-texture cache and render target.
  if (r) r->DestroyTexture(*m_film);
  *m_film = OvGLTexture();
  m_depthBits = 0;
}

void OuFilmTexGLAdapter::OnDeviceLost() {
  if (m_drawing) EndFilmDrawing();
  ReleaseObjects();
}

void OuFilmTexGLAdapter::OnDeviceReset() {
  if (m_film) CreateObjects();
}

bool OuFilmTexGLAdapter::FormatUsable() const {
  return m_film && m_film->name != 0 &&
         (m_film->format == OvTexFormat::A8R8G8B8 || m_film->format == OvTexFormat::X8R8G8B8);
}

bool OuFilmTexGLAdapter::Upload(const uint8_t* pixels) {
  if (!pixels || !FormatUsable()) return false;
  BindingGuard guard;
  WaitForFilmDrawing();
  DrainErrors();
  glBindTexture(GL_TEXTURE_2D, m_film->name);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, m_width, m_height, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    _TraceFormat("%s -- %s\n", "UpdateSurface failed.", OvGLErrorText(error));
    return false;
  }
  return true;
}

bool OuFilmTexGLAdapter::Download(uint8_t* pixels) {
  if (!pixels || !FormatUsable()) return false;
  BindingGuard guard;
  WaitForFilmDrawing();
  DrainErrors();
  glBindTexture(GL_TEXTURE_2D, m_film->name);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    // Whatever came back is not the film: hand back zeros, not stale memory.
    _TraceFormat("%s -- %s\n", "GetRenderTargetData failed.", OvGLErrorText(error));
    std::memset(pixels, 0, size_t(m_width) * size_t(m_height) * 4);
    return false;
  }
  return true;
}

bool OuFilmTexGLAdapter::Clear(uint32_t argb) {
  OvRendererGL* r = Renderer();
  if (!r || r->IsDeviceLost() || !m_film || m_film->framebuffer == 0) return false;
  const OvGLTexture* target = r->RenderTarget();
  const uint32_t background = r->BackgroundColour();
  r->SetBackgroundColour(argb);
  bool ok = r->SetRenderTarget(m_film) && r->ClearBackBuffer();
  r->SetBackgroundColour(background);
  ok = r->SetRenderTarget(target) && ok;
  return ok;
}

bool OuFilmTexGLAdapter::BeginFilmDrawing() {
  OvRendererGL* r = Renderer();
  if (!r || r->IsDeviceLost() || m_drawing || !m_film || m_film->framebuffer == 0) return false;
  m_savedView = r->ViewMatrix();
  m_savedProjection = r->ProjectionMatrix();
  m_sceneWasActive = r->IsInScene();
  if (m_sceneWasActive) r->EndScene();
  m_savedTarget = r->RenderTarget();
  if (!r->SetRenderTarget(m_film)) {
    if (m_sceneWasActive) r->BeginScene();
    return false;
  }
  r->BeginScene();
  m_drawing = true;
  return true;
}

void OuFilmTexGLAdapter::EndFilmDrawing() {
  OvRendererGL* r = Renderer();
  if (!r || !m_drawing) return;
  m_drawing = false;
  r->EndScene();
  r->SetRenderTarget(m_savedTarget);
  m_savedTarget = nullptr;
  r->SetViewMatrix(m_savedView);
  r->SetProjectionMatrix(m_savedProjection);
  if (m_sceneWasActive) r->BeginScene();
  m_sceneWasActive = false;
}
