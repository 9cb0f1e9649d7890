// A controller that owns a note's texture, so the texture goes when the
// note's clump goes. The board finds it by its ID to swap the texture when
// a note is written again.
#pragma once

#include "ov_anictrl.h"

class OvGLTexture;
class OvRendererGL;

class OvAcDelTexWithClump final : public OvAniCtrl {
 public:
  static constexpr int32_t kCtrlId = 20100;
  static const void* ClassTag();

  // An owned controller holding `texture` (made by `renderer`); null when
  // memory runs out (the texture is then still the caller's).
  static OvAcDelTexWithClump* Create(OvRendererGL* renderer, OvGLTexture* texture);
  // The controller of this ID on the clump, or null.
  static OvAcDelTexWithClump* FindOn(OvClump* clump);

  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  int32_t GetCtrlId() const override { return kCtrlId; }
  // Nothing to do per frame, and no pass to ask for.
  void Animate(OvClump* clump, int32_t time) override { (void)clump, (void)time; }
  void Attached(OvClump* clump) override { m_clump = clump; }

  OvGLTexture* Texture() const { return m_texture; }
  // Destroys the texture held so far and keeps `texture` instead.
  void ReplaceTexture(OvGLTexture* texture);

 private:
  OvAcDelTexWithClump(OvRendererGL* renderer, OvGLTexture* texture) : m_renderer(renderer), m_texture(texture) {
    SetOwned(true);
  }
  ~OvAcDelTexWithClump() override;

  OvRendererGL* m_renderer;
  OvGLTexture* m_texture;
  // The clump whose list holds this controller: its material must not keep
  // showing the texture once the holder goes (content may remove it alone).
  OvClump* m_clump = nullptr;
};
