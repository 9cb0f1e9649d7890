#include "ov_effect_nodes.h"

#include "ov_clump.h"
#include "ov_mesh.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

OvMirrorCtrlFactory g_mirrorFactory = nullptr;
OvMagicLensCtrlFactory g_lensFactory = nullptr;
OvEnvMapCtrlFactory g_envMapFactory = nullptr;

const OvNodeParamDesc kMirrorParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "", OV_PK_NONE),
    OvParamI(2, "Mirror", OV_PK_CHECK, 1),
    OvParamI(3, "2 Side", OV_PK_CHECK, 0),
    OvParamI(4, "Background", OV_PK_COLOUR, 0),
    OvParamI(5, "Background Obj", OV_PK_REF, -1),
    OvParamI(6, "Don't Render Self Obj", OV_PK_CHECK, 0),
    OvParamF(7, "Clip: Near", OV_PK_REAL, 10.0f),
    OvParamF(8, "Clip: Far", OV_PK_REAL, 5000.0f),
    OvParamF(9, "Minimum Mesh Size (pixel):", OV_PK_REAL, 20.0f),
};

const OvNodeParamDesc kLensParams[] = {
    OvParamI(0, "Sub Material #", OV_PK_INT, 1),
    OvParamI(1, "Map #", OV_PK_INT, 1),
    OvParamI(2, "Map Channel#", OV_PK_INT, 1),
    OvParamI(3, "Mirror", OV_PK_CHECK, 1),
    OvParamI(4, "2 Side", OV_PK_CHECK, 0),
    OvParamI(5, "Background", OV_PK_COLOUR, 0),
    OvParamI(6, "Background Obj", OV_PK_REF, -1),
    OvParamI(7, "Don't Render Self Obj", OV_PK_CHECK, 0),
    OvParamF(8, "Clip: Near", OV_PK_REAL, 10.0f),
    OvParamF(9, "Clip: Far", OV_PK_REAL, 5000.0f),
    OvParamF(10, "Minimum Mesh Size (pixel)", OV_PK_REAL, 20.0f),
};

const OvNodeParamDesc kEnvMapParams[] = {
    OvParamI(0, "Sub Material #:", OV_PK_INT, 1),         OvParamI(1, "Map #:", OV_PK_INT, 1),
    OvParamI(2, "Background:", OV_PK_COLOUR, 0),          OvParamI(3, "Background Obj", OV_PK_REF, -1),
    OvParamI(4, "Don't Render Self Obj", OV_PK_CHECK, 0), OvParamF(5, "Clip: Near:", OV_PK_REAL, 10.0f),
    OvParamF(6, "Clip: Far:", OV_PK_REAL, 5000.0f),       OvParamF(7, "Minimum Mesh Size (pixel):", OV_PK_REAL, 20.0f),
};

uint32_t Bit(bool on, uint32_t bit) { return on ? bit : 0u; }

}  // namespace

void OvSetEffectCtrlFactories(OvMirrorCtrlFactory mirror, OvMagicLensCtrlFactory lens, OvEnvMapCtrlFactory envMap) {
  g_mirrorFactory = mirror;
  g_lensFactory = lens;
  g_envMapFactory = envMap;
}

// ---------------------------------------------------------------------------
// Mirror.

bool OvMirrorNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiiiuifff", &format, &checkMask, &checkValue, &unlabelled, &options, &background,
                           &backgroundObj, &nearClip, &farClip, &minSize);
}
bool OvMirrorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiiiuifff", int32_t(100), checkMask, checkValue, unlabelled, options, background,
                            backgroundObj, nearClip, farClip, minSize);
}
bool OvMirrorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  unlabelled = v.Int(1);
  options =
      Bit(v.Check(2), OV_EFFECT_MIRROR) | Bit(v.Check(3), OV_EFFECT_TWO_SIDE) | Bit(v.Check(6), OV_EFFECT_SKIP_SELF);
  background = v.Word(4, 0);
  backgroundObj = v.RefRecord(5);
  nearClip = v.Real(7), farClip = v.Real(8), minSize = v.Real(9);
  return true;
}
OvAniCtrl* OvMirrorNode::MakeController(OvClump* clump) {
  OvMesh* mesh = clump ? clump->GetMesh() : nullptr;
  if (!mesh) {
    Trace("!!! Mirror must be added to a mesh.\n");
    return nullptr;
  }
  mesh->flags |= OV_MESH_MIRROR;
  return g_mirrorFactory ? g_mirrorFactory(*this, clump) : nullptr;
}

// ---------------------------------------------------------------------------
// Magic lens.

bool OvMagicLensNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("ii iiiufff", &format, &options, &subMaterial, &map, &mapChannel, &background,
                           &magnification, &farClip, &minSize);
}
bool OvMagicLensNode::Write(OvStream& stream) const {
  return stream.WriteLayout("ii iiiufff", int32_t(100), options, subMaterial, map, mapChannel, background,
                            magnification, farClip, minSize);
}
bool OvMagicLensNode::FromValues(const OvParamValues& v) {
  subMaterial = v.Int(0), map = v.Int(1), mapChannel = v.Int(2);
  options =
      Bit(v.Check(3), OV_EFFECT_MIRROR) | Bit(v.Check(4), OV_EFFECT_TWO_SIDE) | Bit(v.Check(7), OV_EFFECT_SKIP_SELF);
  background = v.Word(5, 0);
  magnification = v.Real(8), farClip = v.Real(9), minSize = v.Real(10);
  return true;
}
OvAniCtrl* OvMagicLensNode::MakeController(OvClump* clump) {
  return g_lensFactory && clump ? g_lensFactory(*this, clump) : nullptr;
}

// ---------------------------------------------------------------------------
// Dynamic environment map.

bool OvDynamicEnvMapNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiiufff", &format, &subMaterial, &map, &options, &background, &nearClip, &farClip,
                           &minSize);
}
bool OvDynamicEnvMapNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiiufff", int32_t(100), subMaterial, map, options, background, nearClip, farClip,
                            minSize);
}
bool OvDynamicEnvMapNode::FromValues(const OvParamValues& v) {
  subMaterial = v.Int(0), map = v.Int(1);
  background = v.Word(2, 0);
  options = Bit(v.Check(4), OV_EFFECT_SKIP_SELF);
  nearClip = v.Real(5), farClip = v.Real(6), minSize = v.Real(7);
  return true;
}
OvAniCtrl* OvDynamicEnvMapNode::MakeController(OvClump* clump) {
  return g_envMapFactory && clump ? g_envMapFactory(*this, clump) : nullptr;
}

OvNodeType* OvEffectNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_MIRROR) return new OvNodeTypeOf<OvMirrorNode>(pair, name, kMirrorParams, 10);
  if (pair == OV_NODE_MAGIC_LENS) return new OvNodeTypeOf<OvMagicLensNode>(pair, name, kLensParams, 11);
  if (pair == OV_NODE_DYNAMIC_ENV_MAP) return new OvNodeTypeOf<OvDynamicEnvMapNode>(pair, name, kEnvMapParams, 8);
  return nullptr;
}
