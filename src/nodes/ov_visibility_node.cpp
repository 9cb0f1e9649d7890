#include "ov_visibility_node.h"

#include "ov_anictrl.h"
#include "ov_clump.h"
#include "ov_stream.h"

namespace {

void SetInvisible(OvClump& clump, bool invisible, bool subtree) {
  invisible ? clump.SetInvisible() : clump.SetVisible();
  if (!subtree) return;
  for (OvClump* c = clump.GetChild(); c; c = c->GetNextBrother()) SetInvisible(*c, invisible, true);
}

class AcInvisible final : public OvAniCtrl {
 public:
  explicit AcInvisible(const OvInvisibleNode& node) : m_node(node) {}
  int32_t GetCtrlId() const override { return OV_ACID_INVISIBLE; }

  void Animate(OvClump* clump, int32_t time) override {
    if (!clump) return;
    const bool subtree = (m_node.options & OV_INVISIBLE_ALL_CHILDREN) != 0;
    if (m_node.options & OV_INVISIBLE_INIT_ONLY) {
      SetInvisible(*clump, true, subtree);
      // Acts once: the hierarchy step takes the controller off its clump.
      OvAniCtrlRegisterHrchy(clump, this, time);
      return;
    }
    const uint32_t mask = m_node.checkMask & 0xFFFF;
    SetInvisible(*clump, (mask & m_node.checkValue) == (mask & clump->GetSwitch()), subtree);
  }
  void Hierarchy(OvClump* clump, int32_t) override {
    if (clump) clump->DelAniCtrl(this);
  }

 private:
  const OvInvisibleNode& m_node;
};

const OvNodeParamDesc kInvisibleParams[] = {
    OvParamI(0, "For Init Only", OV_PK_CHECK, 0),
    OvParamI(1, "All Children", OV_PK_CHECK, 0),
    OvParamI(2, "Check Flag", OV_PK_FLAG_PAIR),
};

}  // namespace

// Stored block "iiii": format, option bits, check mask, check value.
bool OvInvisibleNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiii", &format, &options, &checkMask, &checkValue);
}

bool OvInvisibleNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiii", kFormat, options, checkMask, checkValue);
}

bool OvInvisibleNode::FromValues(const OvParamValues& v) {
  options = (v.Check(0) ? OV_INVISIBLE_INIT_ONLY : 0) | (v.Check(1) ? OV_INVISIBLE_ALL_CHILDREN : 0);
  v.FlagPair(2, checkMask, checkValue);
  return true;
}

OvAniCtrl* OvInvisibleNode::MakeController(OvClump*) { return new AcInvisible(*this); }

OvNodeType* OvVisibilityNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_INVISIBLE) return new OvNodeTypeOf<OvInvisibleNode>(pair, name, kInvisibleParams, 3);
  return nullptr;
}
