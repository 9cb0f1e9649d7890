// Node types that create and delete logical objects: generators emitting
// copies of a template object at their clump, one emitting when its clump
// goes away, and the two self-deleting nodes.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_flags.h"
#include "ov_node_params.h"
#include "ov_node_type.h"
#include "ov_scene.h"

class OvLogObj;

inline constexpr OvTypeId OV_NODE_GENERATOR{0, 1245};
inline constexpr OvTypeId OV_NODE_GENERATE_AFTER_DESTROYED{0, 1255};
inline constexpr OvTypeId OV_NODE_DEL_CLUMP_TREE{0, 6085};
inline constexpr OvTypeId OV_NODE_DEL_OBJECT_TREE{0, 6080};

// Controller IDs.
inline constexpr int32_t OV_ACID_GENERATOR = 209;
inline constexpr int32_t OV_ACID_GENERATE_AFTER_DESTROYED = OV_CTRL_ID_GENERATE_AFTER_DESTROYED;
inline constexpr int32_t OV_ACID_DEL_CLUMP_TREE = 705;
inline constexpr int32_t OV_ACID_DEL_OBJECT_TREE = 700;
// The spin controller whose angle "Rot / Generate" would advance.
inline constexpr int32_t OV_ACID_SPIN = 171;

// Options shared by the two generators.
inline constexpr uint32_t OV_GEN_CHECK_IN_CAMERA = 0x1;
inline constexpr uint32_t OV_GEN_ALIGN_ORIENTATION = 0x2;
inline constexpr uint32_t OV_GEN_ALIGN_SCALE = 0x4;
// ID modes.
inline constexpr uint32_t OV_GEN_SET_ID = 0x1;
inline constexpr uint32_t OV_GEN_INHERIT_ID = 0x2;

// "Generator": while its flag test passes, at most once per frame, a new
// object from a template clump record at the clump's placement, within an
// in-scene and a total limit.
class OvGeneratorNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_GENERATOR; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override { m_database = database; }
  bool FromValues(const OvParamValues& v);
  OvDatabase* Database() const { return m_database; }

  uint32_t options = OV_GEN_CHECK_IN_CAMERA | OV_GEN_ALIGN_ORIENTATION;
  int32_t clumpRecord = -1;
  int32_t type = 0;           // kept, not used at run time
  int32_t lifeTime = 4800;    // units; < 0 lives for ever
  int32_t unlinkTime = 0;     // units; 0 independent, < 0 linked for good
  uint32_t inSceneLimit = 0;  // 0: none
  uint32_t idMode = 0;
  int32_t firstId = 0;
  int32_t idStep = 0;
  uint32_t checkMask = 0, checkValue = 0;
  int32_t totalLimit = 0;  // <= 0: none
  float rotation = 0.0f;   // radians per emission

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;

 private:
  OvDatabase* m_database = nullptr;
};

// "Generate After Destroyed": one object when its clump lets go of the
// controller (the clump is freed or the controller removed).
class OvGenerateAfterDestroyedNode : public OvPerClumpNode {
 public:
  static constexpr int32_t kFormat = 100;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_GENERATE_AFTER_DESTROYED; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override { m_database = database; }
  bool FromValues(const OvParamValues& v);
  OvDatabase* Database() const { return m_database; }

  uint32_t options = OV_GEN_ALIGN_ORIENTATION;  // bit 0 kept, not used
  int32_t clumpRecord = -1;
  uint32_t checkMask = 0, checkValue = 0;
  int32_t lifeTime = 4800;
  uint32_t idMode = 0;
  int32_t id = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;

 private:
  OvDatabase* m_database = nullptr;
};

// "Del Clump-tree": deletes the ticking clump with its subtree once the
// test passes. Shared by every clump. Two raw words.
class OvDelClumpTreeNode : public OvSharedCtrlNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_DEL_CLUMP_TREE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t GetChannelMask() const override { return ACF_CLUMP_LINK; }
  int32_t GetCtrlId() const override { return OV_ACID_DEL_CLUMP_TREE; }
  void Animate(OvClump* clump, int32_t time) override;
  void Hierarchy(OvClump* clump, int32_t value) override;

  uint32_t checkMask = 0, checkValue = 0;
};

// "Del Object-tree": deletes the clump's logical object once the test
// passes. Two raw words.
class OvDelObjectTreeNode : public OvPerClumpNode {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_DEL_OBJECT_TREE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  uint32_t checkMask = 0, checkValue = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;
};

// Emits the object of clump record `clumpRecord` at `clump`'s to-world
// matrix with a life time in units (< 0: for ever) and the alignment
// options; null when the scene refuses, the clump has no matrix or the
// record is no template.
OvLogObj* OvGenEmit(OvClump& clump, OvDatabase& db, int32_t clumpRecord, int32_t lifeTime, uint32_t options);

// The descriptor of one of the types above (named `name`), or null for any
// other pair.
OvNodeType* OvGenNodeTypeCreate(const OvTypeId& pair, const char* name);
