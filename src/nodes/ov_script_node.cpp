#include "ov_script_node.h"

#include "ov_anictrl.h"
#include "ov_stream.h"

namespace {

OvScriptCtrlFactory g_factory = nullptr;

const OvNodeParamDesc kScriptParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),  // mask, value
    OvParamI(1, "", OV_PK_NONE),                 // kept, not used
    OvParamI(2, "Script", OV_PK_TEXT),           // name of the global script table
    OvParamI(3, "Init Value", OV_PK_TEXT),       // body of the instance table's constructor
    OvParamI(4, "", OV_PK_SPACER),
};

char* EmptyAsNull(char* text) { return text && *text ? text : nullptr; }

}  // namespace

void OvSetScriptCtrlFactory(OvScriptCtrlFactory factory) { g_factory = factory; }

bool OvScriptNode::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t format = 0;
  if (!stream.ReadLayout("iiii", &format, &checkMask, &checkValue, &reserved)) return false;
  char* name = nullptr;
  if (!stream.ReadString(name, &arena) || !stream.ReadString(initValue, &arena)) return false;
  scriptName = EmptyAsNull(name);
  return true;
}

bool OvScriptNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiii", kFormat, checkMask, checkValue, reserved) && stream.WriteString(scriptName) &&
         stream.WriteString(initValue);
}

bool OvScriptNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  reserved = v.Int(1);
  scriptName = EmptyAsNull(v.Text(2));
  initValue = EmptyAsNull(v.Text(3));
  return true;
}

void* OvScriptNode::GetController(void*) { return g_factory ? g_factory(*this) : nullptr; }

OvNodeType* OvScriptNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (!(pair == OV_NODE_SCRIPT)) return nullptr;
  return new OvNodeTypeOf<OvScriptNode>(pair, name, kScriptParams,
                                        int(sizeof(kScriptParams) / sizeof(kScriptParams[0])));
}
