#include "ov_ac_del_tex.h"

#include "ov_clump.h"
#include "ov_drawing_paper.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"

const void* OvAcDelTexWithClump::ClassTag() {
  static const char tag = 0;
  return &tag;
}

OvAcDelTexWithClump* OvAcDelTexWithClump::Create(OvRendererGL* renderer, OvGLTexture* texture) {
  return new OvAcDelTexWithClump(renderer, texture);
}

OvAcDelTexWithClump* OvAcDelTexWithClump::FindOn(OvClump* clump) {
  if (!clump) return nullptr;
  EnumFindAcCb find(kCtrlId);
  clump->EnumAniCtrl(find);
  // Another kind of controller could answer to the same number.
  return find.m_found && find.m_found->IsKindOf(ClassTag()) ? static_cast<OvAcDelTexWithClump*>(find.m_found) : nullptr;
}

void OvAcDelTexWithClump::ReplaceTexture(OvGLTexture* texture) {
  if (texture == m_texture) return;
  if (m_texture && m_renderer) OvReleaseTexture(*m_renderer, m_texture);
  m_texture = texture;
}

OvAcDelTexWithClump::~OvAcDelTexWithClump() {
  if (m_clump && m_texture) OvForgetClumpTexture(m_clump, m_texture);
  if (m_texture && m_renderer) OvReleaseTexture(*m_renderer, m_texture);
}
