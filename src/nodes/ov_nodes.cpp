#include "ov_nodes.h"

#include "ov_anim_nodes.h"
#include "ov_collision_nodes.h"
#include "ov_condition_nodes.h"
#include "ov_cursor_node.h"
#include "ov_effect_nodes.h"
#include "ov_flag_nodes.h"
#include "ov_flare_node.h"
#include "ov_flight_nodes.h"
#include "ov_gen_nodes.h"
#include "ov_glow_node.h"
#include "ov_keyframe.h"
#include "ov_mesh_nodes.h"
#include "ov_misc_nodes.h"
#include "ov_opaque_node.h"
#include "ov_overlay_nodes.h"
#include "ov_particle_nodes.h"
#include "ov_scene_nodes.h"
#include "ov_script_node.h"
#include "ov_shadow_node.h"
#include "ov_trail_nodes.h"
#include "ov_visibility_node.h"

namespace {

// Registration order. Named types first, as authoring lists show them; then
// the hidden types, which only content refers to. The renderer's five effect
// types are not here.
const OvNodeTableEntry kTable[] = {
    {{0, 6900}, "<ss> Flag Trigger", false},
    {{0, 6910}, "<ss> Count Flag Trigger", false},
    {{0, 6060}, "<ss> And/Or Flag", false},
    {{0, 6110}, "<ss> Timing Flag", false},
    {{0, 6050}, "<s> Random Flag", false},
    {{0, 6090}, "<s> Ref Other's Flag", false},
    {{0, 14000}, "<rv> Distance", false},
    {{0, 14100}, "<rv> Reaction Var", false},
    {{0, 15000}, "<r> Frame", false},
    {{0, 6150}, "<s> Keyboard", false},
    {{0, 6072}, "<s> Time Range", false},
    {{0, 6100}, "<s> Time Period", false},
    {{0, 6140}, "<s> Obj ID", false},
    {{0, 6130}, "<s> Health", false},
    {{0, 6030}, "<s> Distance", false},
    {{0, 6010}, "<s> Angle Between", false},
    {{0, 6020}, "<s> Angle in World", false},
    {{0, 6035}, "<s> In Camera View", false},
    {{0, 5000}, "<s> Check In/Out Area", false},
    {{0, 5010}, "<s> Check Destroyed", false},
    {{0, 1300}, "Aim: 1 Axis Freedom", false},
    {{0, 1310}, "Face Camera: 1 Axis Freedom", false},
    {{0, 1320}, "Homing", false},
    {{0, 1115}, "Align", false},
    {{0, 1165}, "Spin by Other's Spin", false},
    {{0, 1335}, "Parabolic Flight", false},
    {{0, 7100}, "Link Obj to Active Camera", false},
    {{1, 2000}, "~~~~~~~~~~~~~~~~~~~~~~~~~{c}Advance if No Block", false},
    {{1110, 1}, "{c}Obj on Surface", false},
    {{1, 2100}, "{c}World Interaction", false},
    {{0, 1245}, "Generator", false},
    {{0, 1255}, "Generate After Destroyed", false},
    {{0, 7000}, "Explode: Solid Slice", false},
    {{0, 6085}, "Del Clump-tree", false},
    {{0, 6080}, "Del Object-tree", false},
    {{0, 4000}, "Particle: Simple", false},
    {{0, 4110}, "Particle: Attraction", false},
    {{0, 4120}, "Particle: Smoke", false},
    {{1, 2200}, "{c}Physics Effect", false},
    {{1100, 1}, "{c}Rigid Shadow", false},
    {{0, 1285}, "Set Sub-Object", false},
    {{0, 1280}, "Set Object Attribute", true},
    {{0, 1291}, "~~~~~~Set Object Attribute (obsolete)", true},
    {{0, 1290}, "~~~~~~Set Sub-Object (obsolete)", true},
    {{0, 9900}, "<oc:Die>Common", false},
    {{0, 9910}, "<oc:Hit>Terrain:Common", false},
    {{0, 9920}, "<oc:Hit>Obj:Common", false},
    {{0, 9930}, "<oc:Touch>Obj:Common", false},
    {{0, 6007}, "Apply Animation", false},
    {{0, 5500}, "Apply Motion", false},
    {{0, 6002}, "Go to Frame", false},
    {{0, 6005}, "Anim/Pause Obj", false},
    {{0, 1520}, "Play Sound", false},
    {{0, 1375}, "Meter", false},
    {{0, 8070}, "Lens Flare", false},
    {{0, 8200}, "LOD (clump tree)", false},
    {{0, 1170}, "Flow UV by Move", false},
    {{0, 1150}, "Swing Vertex", false},
    {{0, 1154}, "Swing Vertex Normal", false},
    {{0, 1140}, "Swing UVW Mapping", false},
    {{0, 1420}, "Sphere Env Mapping", false},
    {{0, 1380}, "Drag Shine", false},
    {{0, 1365}, "Invisible", false},
    {{0, 13000}, "Mouse Cursor", false},
    {{0, 9100}, "Change Camera", false},
    {{0, 7030}, "Change Scene", false},
    {{0, 30000}, "External Execution", false},
    {{0, 1112}, "2D Sprite", true},
    {{0, 1297}, "Match Light", true},
    {{0, 1295}, "Set Clump Attribute", true},
    {{0, 3800}, "Set Volume Attribute", true},
    {{0, 3900}, "Set Volume Fog", true},
    {{0, 2050}, "Script", false},
    {{0, 4600}, "~~Glow", false},
    // Hidden types; the keyframe tracks among them play authored animation.
    {{0, 100}, nullptr, false},
    {{0, 110}, nullptr, false},
    {{0, 140}, nullptr, false},
    {{0, 150}, nullptr, false},
    {{0, 160}, nullptr, false},
    {{0, 170}, nullptr, false},
    {{0, 180}, nullptr, false},
    {{0, 190}, nullptr, false},
    {{0, 1100}, nullptr, false},
    {{0, 1110}, nullptr, false},
    {{0, 1120}, nullptr, false},
    {{0, 1130}, nullptr, false},
    {{0, 1160}, nullptr, false},
    {{0, 1210}, nullptr, false},
    {{0, 1220}, nullptr, false},
    {{0, 1270}, nullptr, false},
    {{0, 1350}, nullptr, false},
    {{0, 1700}, nullptr, false},
    {{0, 1750}, nullptr, false},
    {{0, 1800}, nullptr, false},
    {{0, 1900}, nullptr, false},
    {{0, 1910}, nullptr, false},
    {{0, 4100}, nullptr, false},
    {{0, 4900}, nullptr, false},
    {{0, 5020}, nullptr, false},
    {{0, 6120}, nullptr, false},
    {{0, 8300}, nullptr, false},
    {{0, 9000}, nullptr, false},
};

constexpr int kTableSize = int(sizeof(kTable) / sizeof(kTable[0]));

OvNodeType* MakeDescriptor(const OvNodeTableEntry& entry) {
  if (entry.pair.group == 0 && OvKeyTrackNode::IsTrackId(entry.pair.id)) return OvKeyTrackTypeCreate(entry.pair.id);
  if (OvNodeType* type = OvFlagNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvCollisionNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvMeshNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvMiscNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvFlightNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvSceneNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvGenNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvParticleNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvCursorNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvConditionNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvAnimNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvScriptNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvTrailNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvFlareNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvVisibilityNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvGlowNodeTypeCreate(entry.pair, entry.name)) return type;
  if (OvNodeType* type = OvShadowNodeTypeCreate(entry.pair, entry.name)) return type;
  return new OvOpaqueNodeType(entry.pair, entry.name, entry.editorOnly);
}

}  // namespace

int OvNodeTableSize() { return kTableSize; }

const OvNodeTableEntry& OvNodeTableAt(int index) {
  if (index < 0 || index >= kTableSize) index = 0;
  return kTable[index];
}

void OvRegisterNodeTypes() {
  OvTypeRegistry& registry = OvNodeClasses();
  for (const OvNodeTableEntry& entry : kTable) {
    if (registry.FindType(entry.pair)) continue;
    if (OvNodeType* type = MakeDescriptor(entry)) registry.Register(type);
  }
}

void OvRegisterRendererNodeTypes() {
  OvTypeRegistry& registry = OvNodeClasses();
  if (!registry.FindType(OV_NODE_SCENE_STATE))
    registry.Register(OvOverlayNodeTypeCreate(OV_NODE_SCENE_STATE, "{i}Display Scene State"));
  if (!registry.FindType(OV_NODE_CLUMP_STATE))
    registry.Register(OvOverlayNodeTypeCreate(OV_NODE_CLUMP_STATE, "{i}Display Clump State"));
  if (!registry.FindType(OV_NODE_MAGIC_LENS))
    registry.Register(OvEffectNodeTypeCreate(OV_NODE_MAGIC_LENS, "~~Magic Lens"));
  if (!registry.FindType(OV_NODE_DYNAMIC_ENV_MAP))
    registry.Register(OvEffectNodeTypeCreate(OV_NODE_DYNAMIC_ENV_MAP, "Dynamic Env Map"));
  if (!registry.FindType(OV_NODE_MIRROR)) registry.Register(OvEffectNodeTypeCreate(OV_NODE_MIRROR, "Mirror"));
}

void OvRegisterNodeType(OvNodeType* type) { OvNodeClasses().Register(type); }

int OvNodeTypeCount() { return OvNodeClasses().Count(); }

OvNodeType* OvFirstNodeType() { return OvNodeClasses().First(); }

OvNodeType* OvFindNodeType(uint32_t group, uint32_t id) { return OvNodeClasses().FindType({group, id}); }

void OvFreeAllNodeTypes() { OvNodeClasses().Shutdown(); }
