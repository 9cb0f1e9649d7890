#include "ov_overlay_nodes.h"

#include "ov_stream.h"

namespace {

OvSceneStateCtrlFactory g_sceneFactory = nullptr;
OvClumpStateCtrlFactory g_clumpFactory = nullptr;

const OvNodeParamDesc kSceneStateParams[] = {
    OvParamF(0, "X (0 - 640):", OV_PK_REAL, 0.0f),
    OvParamF(1, "Y (0 - 480):", OV_PK_REAL, 448.0f),
    OvParamF(2, "Char Width:", OV_PK_REAL, 8.0f),
    OvParamF(3, "Char Height:", OV_PK_REAL, 16.0f),
};
const OvNodeParamDesc kClumpStateParams[] = {
    OvParamI(0, "Display with Clump", OV_PK_CHECK, 1), OvParamI(1, "Display Anyway", OV_PK_CHECK, 1),
    OvParamF(2, "X (0 - 640):", OV_PK_REAL, 0.0f),     OvParamF(3, "Y (0 - 480):", OV_PK_REAL, 448.0f),
    OvParamF(4, "Char Width:", OV_PK_REAL, 8.0f),      OvParamF(5, "Char Height:", OV_PK_REAL, 16.0f),
    OvParamI(6, "Color:", OV_PK_COLOUR, -1),
};

}  // namespace

void OvSetOverlayCtrlFactories(OvSceneStateCtrlFactory scene, OvClumpStateCtrlFactory clump) {
  g_sceneFactory = scene;
  g_clumpFactory = clump;
}

// Stored blocks: "iRRRR" and "iiiRRRRi", positions and sizes in screen units.
bool OvSceneStateNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iRRRR", &format, &x, &y, &charWidth, &charHeight);
}
bool OvSceneStateNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iRRRR", int32_t(100), x, y, charWidth, charHeight);
}
bool OvSceneStateNode::FromValues(const OvParamValues& v) {
  x = OvDesignX(v.Real(0)), y = OvDesignY(v.Real(1));
  charWidth = OvDesignSize(v.Real(2)), charHeight = OvDesignSize(v.Real(3));
  return true;
}
OvAniCtrl* OvSceneStateNode::MakeController(OvClump*) { return g_sceneFactory ? g_sceneFactory(*this) : nullptr; }

bool OvClumpStateNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0, c = 0;
  if (!stream.ReadLayout("iiiRRRRi", &format, &withClump, &anyway, &x, &y, &charWidth, &charHeight, &c)) return false;
  colour = uint32_t(c);
  return true;
}
bool OvClumpStateNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiRRRRi", int32_t(100), withClump, anyway, x, y, charWidth, charHeight, int32_t(colour));
}
bool OvClumpStateNode::FromValues(const OvParamValues& v) {
  withClump = v.Check(0) ? 1 : 0, anyway = v.Check(1) ? 1 : 0;
  x = OvDesignX(v.Real(2)), y = OvDesignY(v.Real(3));
  charWidth = OvDesignSize(v.Real(4)), charHeight = OvDesignSize(v.Real(5));
  colour = v.Word(6, 0);
  return true;
}
OvAniCtrl* OvClumpStateNode::MakeController(OvClump*) { return g_clumpFactory ? g_clumpFactory(*this) : nullptr; }

OvNodeType* OvOverlayNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_SCENE_STATE) return new OvNodeTypeOf<OvSceneStateNode>(pair, name, kSceneStateParams, 4);
  if (pair == OV_NODE_CLUMP_STATE) return new OvNodeTypeOf<OvClumpStateNode>(pair, name, kClumpStateParams, 7);
  return nullptr;
}
