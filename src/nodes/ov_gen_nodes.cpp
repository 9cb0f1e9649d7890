#include "ov_gen_nodes.h"

#include <cstring>

#include "ov_database.h"
#include "ov_logobj.h"
#include "ov_memory.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

// IDs wrap rather than overflow.
int32_t AddWrapping(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }

int32_t ObjectNodeId(const OvClump& clump) {
  const OvLogObj* object = clump.GetLogObj();
  return object ? object->LoGetNodeID() : 0;
}

// ---------------------------------------------------------------------------
// Controllers. Each keeps a reference to its node, which the database keeps
// alive longer than any clump.

class AcGenerator final : public OvAniCtrl {
 public:
  AcGenerator(const OvGeneratorNode& node, OvDatabase& db)
      : m_node(node), m_db(db), m_life(node.lifeTime == 0 ? 1 : node.lifeTime), m_nextId(node.firstId) {}

  uint32_t GetChannelMask() const override { return ACF_CLUMP_LINK; }
  int32_t GetCtrlId() const override { return OV_ACID_GENERATOR; }

  void Animate(OvClump* clump, int32_t time) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene || LimitReached()) return;
    if (m_node.checkMask && !OvFlagTest(*clump, m_node.checkMask, m_node.checkValue)) return;
    if (m_node.options & OV_GEN_CHECK_IN_CAMERA) {
      OvVector p;
      if (!clump->GetWorldPos(p) || !scene->InViewFrustum(p)) return;
    }
    if (!Room()) return;
    OvAniCtrlRegisterHrchy(clump, this, time);
  }

  void Hierarchy(OvClump* clump, int32_t) override {
    if (!clump || !Room()) return;
    OvLogObj* object = OvGenEmit(*clump, m_db, m_node.clumpRecord, m_life, m_node.options);
    if (!object) return;
    if (m_node.unlinkTime != 0) OvLinkForUnits(*object, clump, m_node.unlinkTime);
    if (m_node.idMode & OV_GEN_SET_ID) {
      const int32_t base = (m_node.idMode & OV_GEN_INHERIT_ID) ? ObjectNodeId(*clump) : 0;
      object->LoSetNodeID(AddWrapping(m_nextId, base));
      m_nextId = AddWrapping(m_nextId, m_node.idStep);
    }
    if (m_node.inSceneLimit && Reserve()) {
      object->AddRef();
      m_live[m_liveCount++] = object;
    }
    ++m_emitted;
    if (LimitReached()) {
      // Done for good: this call is its last.
      clump->DelAniCtrl(this);
      return;
    }
    // "Rot / Generate" turns the spin controller of the new object; without
    // such a controller type there is nothing to turn.
  }

  int32_t LiveCount() const { return m_liveCount; }

 protected:
  ~AcGenerator() override {
    for (int32_t i = 0; i < m_liveCount; ++i) m_live[i]->Release();
    OvMFree(m_live);
  }

 private:
  bool LimitReached() const { return m_node.totalLimit > 0 && m_emitted >= m_node.totalLimit; }

  // Forgets objects that have left the scene; true when one more may live.
  bool Room() {
    int32_t kept = 0;
    for (int32_t i = 0; i < m_liveCount; ++i) {
      if (m_live[i]->LoGetScene()) {
        m_live[kept++] = m_live[i];
      } else {
        m_live[i]->Release();
      }
    }
    m_liveCount = kept;
    return m_node.inSceneLimit == 0 || uint32_t(m_liveCount) < m_node.inSceneLimit;
  }

  // The list grows with use, never past the limit, so a large stored limit
  // costs nothing up front.
  bool Reserve() {
    if (m_liveCount < m_capacity) return true;
    uint64_t capacity = m_capacity ? uint64_t(m_capacity) * 2 : 4;
    if (capacity > m_node.inSceneLimit) capacity = m_node.inSceneLimit;
    if (capacity > 0x1000000) capacity = 0x1000000;
    if (capacity <= uint64_t(m_capacity)) return false;
    auto* grown = static_cast<OvLogObj**>(AllocMem(size_t(capacity) * sizeof(OvLogObj*)));
    if (!grown) return false;
    if (m_liveCount) std::memcpy(grown, m_live, size_t(m_liveCount) * sizeof(OvLogObj*));
    OvMFree(m_live);
    m_live = grown;
    m_capacity = int32_t(capacity);
    return true;
  }

  const OvGeneratorNode& m_node;
  OvDatabase& m_db;
  int32_t m_life;
  int32_t m_nextId;
  int32_t m_emitted = 0;
  OvLogObj** m_live = nullptr;
  int32_t m_liveCount = 0;
  int32_t m_capacity = 0;
};

class AcGenerateAfterDestroyed final : public OvAniCtrl {
 public:
  AcGenerateAfterDestroyed(const OvGenerateAfterDestroyedNode& node, OvDatabase& db) : m_node(node), m_db(db) {}

  int32_t GetCtrlId() const override { return OV_ACID_GENERATE_AFTER_DESTROYED; }
  void Attached(OvClump* clump) override { m_clump = clump; }

  // Deleted from the scene: emit now, at its last place, since it may be
  // released only after it has left the scene.
  void Message(intptr_t a, intptr_t b, intptr_t) override {
    if (a == OV_CTRL_MSG_LEAVING_SCENE && b == reinterpret_cast<intptr_t>(m_clump)) Emit();
  }

  void Release() override {
    Emit();
    OvAniCtrl::Release();
  }

 private:
  // Once: the clump is forgotten. On release the clump is still whole: its
  // list goes first when it is freed.
  void Emit() {
    OvClump* clump = m_clump;
    m_clump = nullptr;
    if (clump && OvFlagTest(*clump, m_node.checkMask, m_node.checkValue)) {
      OvLogObj* object = OvGenEmit(*clump, m_db, m_node.clumpRecord, m_node.lifeTime, m_node.options);
      if (object && (m_node.idMode & OV_GEN_SET_ID)) {
        const int32_t base = (m_node.idMode & OV_GEN_INHERIT_ID) ? ObjectNodeId(*clump) : 0;
        object->LoSetNodeID(AddWrapping(m_node.id, base));
      }
    }
  }

  const OvGenerateAfterDestroyedNode& m_node;
  OvDatabase& m_db;
  OvClump* m_clump = nullptr;
};

class AcDelObjectTree final : public OvAniCtrl {
 public:
  explicit AcDelObjectTree(const OvDelObjectTreeNode& node) : m_node(node) {}
  uint32_t GetChannelMask() const override { return ACF_CLUMP_LINK; }
  int32_t GetCtrlId() const override { return OV_ACID_DEL_OBJECT_TREE; }
  void Animate(OvClump* clump, int32_t time) override {
    if (clump && OvFlagTest(*clump, m_node.checkMask, m_node.checkValue)) OvAniCtrlRegisterHrchy(clump, this, time);
  }
  void Hierarchy(OvClump* clump, int32_t) override {
    OvLogObj* object = clump ? clump->GetLogObj() : nullptr;
    OvScene* scene = object ? object->LoGetScene() : nullptr;
    if (scene) scene->DelLogObj(object);
  }

 private:
  const OvDelObjectTreeNode& m_node;
};

// ---------------------------------------------------------------------------
// Parameter tables.

const OvNodeParamDesc kGeneratorParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(2, "", OV_PK_SPACER),
    OvParamI(3, "Check in Camera", OV_PK_CHECK, 1),
    OvParamI(4, "Generated Object", OV_PK_REF, -1),
    OvParamI(5, "Type", OV_PK_SPACER),
    OvParamI(6, "Life Time:", OV_PK_TIME, 4800),
    OvParamI(7, "Unlink Time:", OV_PK_TIME, 0),
    OvParamI(8, "Total #:", OV_PK_INT, 0),
    OvParamI(9, "In Scene #:", OV_PK_INT, 0),
    OvParamI(10, "Align Orientation", OV_PK_CHECK, 1),
    OvParamI(11, "Align Scale", OV_PK_CHECK, 0),
    OvParamF(12, "Rot / Generate", OV_PK_REAL, 0.0f),
    OvParamI(13, "Set Generated Obj's ID", OV_PK_CHECK, 0),
    OvParamI(14, "\tInherit ID", OV_PK_CHECK, 0),
    OvParamI(15, "ID:", OV_PK_INT, 0),
    OvParamI(16, "ID + ", OV_PK_INT, 0),
};

const OvNodeParamDesc kGenerateAfterDestroyedParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL),
    OvParamI(1, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(2, "", OV_PK_SPACER),
    OvParamI(3, "Check in Camera", OV_PK_SPACER),
    OvParamI(4, "Generated Object", OV_PK_REF, -1),
    OvParamI(5, "Life Time:", OV_PK_TIME, 4800),
    OvParamI(6, "Align Orientation", OV_PK_CHECK, 1),
    OvParamI(7, "Align Scale", OV_PK_CHECK, 0),
    OvParamI(8, "Set Generated Obj's ID", OV_PK_CHECK, 0),
    OvParamI(9, "\tInherit", OV_PK_CHECK, 0),
    OvParamI(10, "ID:", OV_PK_INT, 0),
};

const OvNodeParamDesc kDelTreeParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "", OV_PK_SPACER),
};

uint32_t IdMode(const OvParamValues& v, int setSlot, int inheritSlot) {
  if (!v.Check(setSlot)) return 0;
  return v.Check(inheritSlot) ? OV_GEN_SET_ID | OV_GEN_INHERIT_ID : OV_GEN_SET_ID;
}

// The database whose arena an authoring tool builds in, if any.
OvDatabase* DatabaseOfArena(const OvChunkArena& arena) {
  for (OvDatabase* db = OvDatabase::First(); db; db = db->Next()) {
    if (&db->Arena() == &arena) return db;
  }
  return nullptr;
}

// A generator chosen in a tool makes its object record a template, so that
// it is emitted rather than built at start-up.
class GeneratorType final : public OvNodeTypeOf<OvGeneratorNode> {
 public:
  using OvNodeTypeOf<OvGeneratorNode>::OvNodeTypeOf;
  OvDbNode* CreateFromValues(OvChunkArena& arena, const OvParamValue* values, int count) const override {
    auto* node = static_cast<OvGeneratorNode*>(OvNodeTypeOf::CreateFromValues(arena, values, count));
    OvDatabase* db = node ? DatabaseOfArena(arena) : nullptr;
    if (!db) return node;
    node->Bind(db);
    // The object emitted is the one the chosen clump record names.
    const OvClumpRecord* clump = db->ClumpRecord(node->clumpRecord);
    if (OvLogObjRecord* record = clump ? db->LogObjRecord(clump->logObjIndex) : nullptr) record->creationFlags |= 1;
    return node;
  }
};

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

}  // namespace

OvLogObj* OvGenEmit(OvClump& clump, OvDatabase& db, int32_t clumpRecord, int32_t lifeTime, uint32_t options) {
  OvScene* scene = clump.GetScene();
  const OvMatrix* world = clump.GetToWorldMatrix();
  if (!scene || !world) return nullptr;
  // A copy: emission may move things the matrix belongs to.
  const OvMatrix at = *world;
  return OvEmitObjectCore(*scene, &at, db, clumpRecord, lifeTime, (options & OV_GEN_ALIGN_ORIENTATION) != 0,
                          (options & OV_GEN_ALIGN_SCALE) != 0);
}

// ---------------------------------------------------------------------------
// "Generator": "iiiittuiiiiiiR".

bool OvGeneratorNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiittuiiiiiiR", &format, &options, &clumpRecord, &type, &lifeTime, &unlinkTime,
                           &inSceneLimit, &idMode, &firstId, &idStep, &checkMask, &checkValue, &totalLimit, &rotation);
}

bool OvGeneratorNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiittuiiiiiiR", kFormat, options, clumpRecord, type, lifeTime, unlinkTime, inSceneLimit,
                            idMode, firstId, idStep, checkMask, checkValue, totalLimit, rotation);
}

bool OvGeneratorNode::FromValues(const OvParamValues& v) {
  v.FlagPair(1, checkMask, checkValue);
  clumpRecord = v.RefRecord(4);
  type = v.Int(5);
  lifeTime = v.Int(6);
  unlinkTime = v.Int(7);
  totalLimit = v.Int(8);
  inSceneLimit = uint32_t(v.Int(9));
  options = (v.Check(3) ? OV_GEN_CHECK_IN_CAMERA : 0) | (v.Check(10) ? OV_GEN_ALIGN_ORIENTATION : 0) |
            (v.Check(11) ? OV_GEN_ALIGN_SCALE : 0);
  rotation = v.Radians(12);
  idMode = IdMode(v, 13, 14);
  firstId = v.Int(15);
  idStep = v.Int(16);
  return true;
}

OvAniCtrl* OvGeneratorNode::MakeController(OvClump*) {
  return m_database ? new AcGenerator(*this, *m_database) : nullptr;
}

// ---------------------------------------------------------------------------
// "Generate After Destroyed": "iiiiitii".

bool OvGenerateAfterDestroyedNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiiiitii", &format, &options, &clumpRecord, &checkMask, &checkValue, &lifeTime, &idMode,
                           &id);
}

bool OvGenerateAfterDestroyedNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiiiitii", kFormat, options, clumpRecord, checkMask, checkValue, lifeTime, idMode, id);
}

bool OvGenerateAfterDestroyedNode::FromValues(const OvParamValues& v) {
  v.FlagPair(1, checkMask, checkValue);
  clumpRecord = v.RefRecord(4);
  lifeTime = v.Int(5);
  options = (v.Check(3) ? OV_GEN_CHECK_IN_CAMERA : 0) | (v.Check(6) ? OV_GEN_ALIGN_ORIENTATION : 0) |
            (v.Check(7) ? OV_GEN_ALIGN_SCALE : 0);
  idMode = IdMode(v, 8, 9);
  id = v.Int(10);
  return true;
}

OvAniCtrl* OvGenerateAfterDestroyedNode::MakeController(OvClump*) {
  return m_database ? new AcGenerateAfterDestroyed(*this, *m_database) : nullptr;
}

// ---------------------------------------------------------------------------
// "Del Clump-tree" and "Del Object-tree": two raw words.

bool OvDelClumpTreeNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("ii", &checkMask, &checkValue);
}

bool OvDelClumpTreeNode::Write(OvStream& stream) const { return stream.WriteLayout("ii", checkMask, checkValue); }

bool OvDelClumpTreeNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  return true;
}

void OvDelClumpTreeNode::Animate(OvClump* clump, int32_t time) {
  if (clump && OvFlagTest(*clump, checkMask, checkValue)) OvAniCtrlRegisterHrchy(clump, this, time);
}

void OvDelClumpTreeNode::Hierarchy(OvClump* clump, int32_t) {
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  if (scene) scene->DelClump(clump);
}

bool OvDelObjectTreeNode::Read(OvStream& stream, OvChunkArena&) {
  return stream.ReadLayout("ii", &checkMask, &checkValue);
}

bool OvDelObjectTreeNode::Write(OvStream& stream) const { return stream.WriteLayout("ii", checkMask, checkValue); }

bool OvDelObjectTreeNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  return true;
}

OvAniCtrl* OvDelObjectTreeNode::MakeController(OvClump*) { return new AcDelObjectTree(*this); }

// ---------------------------------------------------------------------------

OvNodeType* OvGenNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_GENERATOR) {
    return new GeneratorType(pair, name, kGeneratorParams, int(sizeof(kGeneratorParams) / sizeof(kGeneratorParams[0])));
  }
  if (pair == OV_NODE_GENERATE_AFTER_DESTROYED) {
    return MakeType<OvGenerateAfterDestroyedNode>(pair, name, kGenerateAfterDestroyedParams);
  }
  if (pair == OV_NODE_DEL_CLUMP_TREE) return MakeType<OvDelClumpTreeNode>(pair, name, kDelTreeParams);
  if (pair == OV_NODE_DEL_OBJECT_TREE) return MakeType<OvDelObjectTreeNode>(pair, name, kDelTreeParams);
  return nullptr;
}
