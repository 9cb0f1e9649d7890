#include "ov_glow_node.h"

#include "ov_database.h"
#include "ov_stream.h"

namespace {

OvGlowCtrlFactory g_factory = nullptr;

// Reach of the blur's outer taps in frame widths; the glow spreads up to
// this far beyond the silhouette (range 1: 1 % of the frame width).
constexpr float kSpread[OV_GLOW_RANGE_COUNT] = {0.005f, 0.01f, 0.02f, 0.03f, 0.04f};

// "Other Texture" and "Partial Mesh" switch the value under them on; the
// block keeps one word for each pair (-1 when switched off).
const OvNodeParamDesc kGlowParams[] = {
    OvParamI(0, "Range:", OV_PK_INT, 1),
    OvParamI(1, "Color:", OV_PK_COLOUR, -1),
    OvParamF(2, "Multiplier:", OV_PK_REAL, 1.0f),
    OvParamI(3, "Other Texture", OV_PK_CHECK, 0),
    OvParamI(4, "\tTexture (pick node)", OV_PK_TEXTURE, -1),
    OvParamI(5, "Partial Mesh", OV_PK_CHECK, 0),
    OvParamI(6, "\tSub Material ID", OV_PK_SUB_MATERIAL, 0),
};

}  // namespace

float OvGlowSpread(int32_t range) {
  if (range < 0) range = 0;
  if (range >= OV_GLOW_RANGE_COUNT) range = OV_GLOW_RANGE_COUNT - 1;
  return kSpread[range];
}

uint32_t OvGlowColour(uint32_t colour, float multiplier) {
  if (!(multiplier >= 0.0f)) return colour;
  const float k = multiplier / 16.0f;
  uint32_t out = colour & 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const float c = float((colour >> shift) & 0xFF) * k;
    out |= uint32_t(c >= 255.0f ? 255.0f : c) << shift;
  }
  return out;
}

void OvSetGlowCtrlFactory(OvGlowCtrlFactory factory) { g_factory = factory; }

bool OvGlowNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  if (!stream.ReadLayout("iiR ui i", &format, &range, &multiplier, &colour, &texture, &subset)) return false;
  return true;
}

bool OvGlowNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiR ui i", kFormat, range, multiplier, colour, texture, subset);
}

bool OvGlowNode::FromValues(const OvParamValues& v) {
  range = v.Int(0);
  colour = v.Word(1, 0);
  multiplier = v.Real(2);
  texture = v.Check(3) ? v.Int(4) : -1;
  subset = v.Check(5) ? v.Int(6) : -1;
  return true;
}

void* OvGlowNode::Texture() const {
  if (texture < 0 || !m_database || uint32_t(texture) >= m_database->TextureCount()) return nullptr;
  const OvTextureEntry* entry = m_database->Texture(texture);
  return entry ? entry->handle : nullptr;
}

OvAniCtrl* OvGlowNode::MakeController(OvClump*) { return g_factory ? g_factory(*this) : nullptr; }

OvNodeType* OvGlowNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair != OV_NODE_GLOW) return nullptr;
  return new OvNodeTypeOf<OvGlowNode>(pair, name, kGlowParams, int(sizeof(kGlowParams) / sizeof(kGlowParams[0])));
}
