// Clumps: the scene-graph nodes. A clump carries a local transform, an
// optional mesh, an optional extension object (camera, light, ...), an ordered
// controller list, 16 switch bits with an invisible bit, and four reaction
// variables. Clumps form trees under a logical object; each frame they are
// animated, get their to-world matrix and are culled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ov_anictrl.h"
#include "ov_chain.h"
#include "ov_math.h"
#include "ov_memory.h"
#include "ov_node_type.h"

class OvDatabase;
class OvLogObj;
class OvScene;
struct OvMesh;

// Allocator kinds of the scene's engine objects.
inline constexpr int OV_MEM_KIND_CLUMP = 3;
inline constexpr int OV_MEM_KIND_LIGHT = 5;
inline constexpr int OV_MEM_KIND_LOGOBJ = 6;

// Change bits forwarded to the mesh's own change word, for the renderer.
inline constexpr uint32_t ACF_MESH_FORWARD = 0x117;

// Switch word: bits 0-15 are the flags behaviour nodes set and test.
inline constexpr uint32_t OV_SWITCH_FLAGS = 0xFFFF;
inline constexpr uint32_t OV_SWITCH_INVISIBLE = 0x10000;

// "No previous position yet": a float with the bits 0x0569F1B2.
inline constexpr uint32_t OV_INVALID_POS_BITS = 0x0569F1B2u;
float OvInvalidPos();

// Reaction variables start at the most negative float.
inline constexpr float OV_REACTION_VAR_UNSET = -3.4028235e38f;
inline constexpr int OV_REACTION_VAR_COUNT = 4;

// Extension kinds (what the run-time extension object is).
inline constexpr int OV_EXT_CAMERA = 1;
inline constexpr int OV_EXT_LIGHT = 2;
inline constexpr int OV_EXT_OTHER = 3;

// Run-time object of a clump extension. The extension record's
// GetController(clump) makes one; the clump owns it and deletes it.
class OvClumpExt {
 public:
  virtual ~OvClumpExt() = default;
  virtual int Kind() const = 0;
  // Extensions that are drawn by themselves carry their own sphere (model
  // space); culling then tests it instead of the mesh's.
  virtual bool GetBoundingSphere(OvVector& centre, float& radius) const {
    (void)centre, (void)radius;
    return false;
  }
};

// General inverse of an affine matrix (rows 0-2 any non-singular 3x3, row 3
// the translation). False, with identity out, when it is singular.
bool OvMatInverseAffine(OvMatrix& out, const OvMatrix& m);

class OvClump {
 public:
  static void* operator new(size_t size) noexcept { return AllocMemKind(OV_MEM_KIND_CLUMP, size); }
  static void operator delete(void* p) noexcept { OvMFree(p); }

  // A clump at its defaults (count 1); null when memory runs out.
  static OvClump* Create();
  // The clump of record `index` alone: ID, name, serial, transform, record
  // words, mesh (with its shader resources), extension and the controllers of
  // its animation set. Null for an index out of range or no memory.
  static OvClump* CreateFromRecord(OvDatabase& db, int32_t index);
  // The record's clump with its whole tree of child records. Records are
  // content: a record met twice (a loop) is left out and the depth is
  // bounded, so a tree always ends. `seen` (one byte per clump record, zeroed
  // by the caller) lets several trees share the check; null uses its own.
  static OvClump* InstantiateTree(OvDatabase& db, int32_t index, uint8_t* seen = nullptr);

  void AddRef() { ++m_refCount; }
  // Count - 1; at zero frees the controllers, the mesh reference, the
  // extension, the matrices and the children. A clump is taken out of its
  // tree by its owner before the owner's reference goes.
  void Release();
  int32_t RefCount() const { return m_refCount; }

  // -------------------------------------------------------------------------
  // Tree.
  OvClump* GetParent() const { return m_parent; }
  OvClump* GetChild() const { return m_firstChild; }
  OvClump* GetNextBrother() const { return m_next; }
  OvClump* GetPrevBrother() const { return m_prev; }
  OvLogObj* GetLogObj() const { return m_logObj; }
  // The scene of the owning logical object (null when none).
  OvScene* GetScene() const;

  // Appends a chain of brothers at the end of the child list, setting parent
  // and owning object on all of them and their subtrees.
  void AttachChild(OvClump* chain);
  // Takes this clump out of its brother chain (its parent's child list or
  // its object's clump chain); it keeps its own subtree.
  void Unlink();
  // True when `other` is this clump or one of its ancestors.
  bool IsDescendFrom(const OvClump* other) const;
  // Depth-first over the children and their brothers, exact name.
  OvClump* FindChild(const char* name) const;
  // This clump, then depth-first below it; serial -1 matches any database.
  OvClump* FindById(int32_t id, int32_t serial);
  // Sets the owning object over this clump and its whole subtree.
  void SetLogObjTree(OvLogObj* object);

  // -------------------------------------------------------------------------
  // Identity.
  int32_t GetID() const { return m_id; }
  void SetID(int32_t id) { m_id = id; }
  const char* GetName() const { return m_name; }
  void SetName(const char* name) { m_name = name; }
  int32_t GetSerial() const { return m_serial; }
  void SetSerial(int32_t serial) { m_serial = serial; }
  // The clump record it was made from in the database of its serial; -1 for
  // a clump made otherwise. IDs are content's own numbers and need not be
  // record indices.
  int32_t GetRecordIndex() const { return m_recordIndex; }
  void SetRecordIndex(int32_t index) { m_recordIndex = index; }
  int32_t GetRecordWord(int i) const { return i == 0 ? m_recordWord0 : i == 1 ? m_recordWord1 : 0; }

  // -------------------------------------------------------------------------
  // Local transform.
  const OvVector& GetPos() const { return m_pos; }
  void SetPos(const OvVector& pos) { m_pos = pos; }
  const OvQuat& GetQuat() const { return m_rot; }
  void SetQuat(const OvQuat& q) { m_rot = q; }
  const OvVector& GetScale() const { return m_scale; }
  void SetScale(const OvVector& scale) { m_scale = scale; }
  void SetUniScale(float s) { m_scale = {s, s, s}; }

  // World transform.
  bool GetWorldPos(OvVector& out) const;
  // (world position - previous world position) / seconds since the previous
  // frame step; zero and false until the clump was animated twice.
  bool GetVelocity(OvVector& out) const;
  const OvVector& GetPrevWorldPos() const { return m_prevWorldPos; }
  OvMatrix* GetToWorldMatrix() const { return m_world; }
  // Copies the matrix in (allocating on first need); false without memory.
  bool SetToWorldMatrix(const OvMatrix& m);
  // Computes the to-world matrix now, parents first. Null without memory.
  OvMatrix* NeedToWorldMatrix();
  // Recomputes the to-world matrix from the local transform, the extra
  // parent matrix and the parent's world.
  bool CalcToWorldMatrix();
  OvMatrix* GetVPMatrix() const { return m_vp; }
  // Null removes the extra parent matrix.
  bool SetVPMatrix(const OvMatrix* m);
  // Sets the extra parent matrix so that the hierarchy reproduces the current
  // world matrix. False when there is no world matrix or no memory.
  bool AdjustVPMatrix();
  // Extra parent matrix x parent's world (either alone, or identity).
  void CalcXformParentMatrix(OvMatrix& out);
  // The world matrix expressed as position, rotation and scale relative to
  // the parent and extra matrix. False without a world matrix.
  bool DecomposeWorldToPRS();
  // The world matrix's first-row length, cached against its square.
  float GetUniScale();

  // The world-parent of a root clump is the clump its object hangs from.
  OvClump* WorldParent() const;

  // -------------------------------------------------------------------------
  // Mesh.
  OvMesh* GetMesh() const { return m_mesh; }
  // Drops the previous mesh (and the database mesh behind a private copy),
  // takes the new one, and makes the animated channels private again.
  void SetMesh(OvMesh* mesh);
  // Makes the clump's mesh a private copy (once) and duplicates the
  // requested channels (OV_MESH_* bits) and set arrays; true when all are
  // now private.
  bool MakeMeshChannelsPrivate(uint32_t channels, uint32_t sets);
  bool GetBoundingSphere(OvVector& centre, float& radius) const;

  // Change flags: cleared at the start of each animation.
  uint32_t GetChangeFlags() const { return m_changeFlags; }
  void MarkChanged(uint32_t flags);
  uint32_t GetSetChangeBits() const { return m_setChangeBits; }
  void MarkSetCoordsChanged(int set);
  void MarkSetIndicesChanged(int set);

  // -------------------------------------------------------------------------
  // Extension.
  OvClumpExt* GetExtension() const { return m_ext; }
  // Takes ownership; the previous one is deleted.
  void SetExtension(OvClumpExt* ext);
  bool IsCamera() const { return m_ext && m_ext->Kind() == OV_EXT_CAMERA; }

  // -------------------------------------------------------------------------
  // Switches and reaction variables.
  uint32_t GetSwitch() const { return m_switch; }
  void SetSwitch(uint32_t mask, uint32_t value) {
    mask &= OV_SWITCH_FLAGS;
    m_switch = (m_switch & ~mask) | (value & mask);
  }
  bool CheckSwitch(uint32_t mask, uint32_t value) const {
    return (m_switch & mask & OV_SWITCH_FLAGS) == (value & mask);
  }
  void SetVisible() { m_switch &= ~OV_SWITCH_INVISIBLE; }
  void SetInvisible() { m_switch |= OV_SWITCH_INVISIBLE; }
  bool IsInvisible() const { return (m_switch & OV_SWITCH_INVISIBLE) != 0; }
  // Culled by the last culling pass, or not yet tested by one.
  bool IsCulled() const { return m_culled; }
  void SetCulled(bool culled) { m_culled = culled; }
  void CpSetReactionVar(int i, float v) {
    if (i >= 0 && i < OV_REACTION_VAR_COUNT) m_reaction[i] = v;
  }
  float CpGetReactionVar(int i) const { return i >= 0 && i < OV_REACTION_VAR_COUNT ? m_reaction[i] : 0.0f; }

  // -------------------------------------------------------------------------
  // Controllers.
  OvAniCtrlList* GetAniCtrlList() const { return m_ctrls; }
  // Adds at the end (creating the list on first use), makes the animated mesh
  // channels private and tells the controller (Attached). False when the
  // list cannot be made or grown; the controller is then not attached.
  bool AddAniCtrl(OvAniCtrl* ctrl);
  // Drops the scene's registrations of it, then the list releases it.
  bool DelAniCtrl(OvAniCtrl* ctrl);
  OvAniCtrl* FindAniCtrl(int32_t id) const { return m_ctrls ? m_ctrls->FindById(id) : nullptr; }
  OvAniCtrl* FindAniCtrlByTag(const void* tag) const { return m_ctrls ? m_ctrls->FindByTag(tag) : nullptr; }
  OvAniCtrl* FindAniCtrlByMasks(uint32_t channels, uint32_t sets) const {
    return m_ctrls ? m_ctrls->FindByMasks(channels, sets) : nullptr;
  }
  int GetAniCtrlCount() const { return m_ctrls ? m_ctrls->Count() : 0; }
  OvAniCtrl* EnumAniCtrl(EnumAniCtrlCallback& callback) { return m_ctrls ? m_ctrls->Enumerate(callback) : nullptr; }
  int BroadcastMessage(int32_t id, intptr_t a, intptr_t b, intptr_t c) {
    return m_ctrls ? m_ctrls->Broadcast(id, a, b, c) : 0;
  }
  // Adds the controllers of animation set `index` of db, in set order.
  void AddAniSetControllers(OvDatabase& db, int32_t aniSetIndex);

  // -------------------------------------------------------------------------
  // Per frame.
  // Animates this clump, its subtree and its following brothers at time t.
  void AnimateChain(int32_t t);
  // Culls this clump, its subtree and its following brothers into the
  // scene's render and light lists.
  void CullChain(OvScene& scene);

 private:
  OvClump() = default;
  ~OvClump();
  void AnimateOne(int32_t t);
  bool CullOne(OvScene& scene);
  bool EnsureWorld();
  OvMatrix* ComputeWorld(int depth);
  void ReleaseMesh();
  void ReevaluatePrivateMesh();
  static OvClump* InstantiateNode(OvDatabase& db, int32_t index, uint8_t* seen, int depth);

  int32_t m_refCount = 1;
  int32_t m_reserved = 0;
  OvVector m_scale{1.0f, 1.0f, 1.0f};
  OvVector m_pos{0.0f, 0.0f, 0.0f};
  OvQuat m_rot{1.0f, {0.0f, 0.0f, 0.0f}};
  OvVector m_prevWorldPos;
  OvMatrix* m_world = nullptr;
  OvMatrix* m_vp = nullptr;
  float m_uniScale = 1.0f;
  float m_uniScaleSq = 1.0f;
  uint32_t m_changeFlags = 0;
  uint32_t m_setChangeBits = 0;
  OvMesh* m_mesh = nullptr;
  OvClumpExt* m_ext = nullptr;
  OvAniCtrlList* m_ctrls = nullptr;
  OvClump* m_parent = nullptr;
  OvClump* m_prev = nullptr;
  OvClump* m_next = nullptr;
  OvClump* m_firstChild = nullptr;
  OvLogObj* m_logObj = nullptr;
  uint32_t m_switch = 0;
  // Set until a culling pass finds the clump visible: one made after this
  // frame's cull was not drawn, so it can be neither picked nor seen.
  bool m_culled = true;
  float m_reaction[OV_REACTION_VAR_COUNT] = {OV_REACTION_VAR_UNSET, OV_REACTION_VAR_UNSET, OV_REACTION_VAR_UNSET,
                                             OV_REACTION_VAR_UNSET};
  int32_t m_recordWord0 = -1;
  int32_t m_recordWord1 = 0;
  int32_t m_id = 0;
  int32_t m_serial = -1;
  int32_t m_recordIndex = -1;
  const char* m_name = nullptr;

  friend class OvLogObj;
  template <class T>
  friend void OvChainAppend(T*& head, T* chain);
  template <class T>
  friend void OvChainRemove(T*& head, T* item);
};

inline void OvClumpChainAppend(OvClump*& head, OvClump* chain) { OvChainAppend(head, chain); }

// Scripts hold clumps, logical objects and scenes by handle; this hook tells
// them that one is being freed, so that a kept handle goes stale instead of
// dangling. Null removes it.
using OvObjectFreedFn = void (*)(const void* object);
void OvSetObjectFreedHook(OvObjectFreedFn fn);
void OvNotifyObjectFreed(const void* object);

// ---------------------------------------------------------------------------
// Lights: the clump extension (0, 11020) and its run-time object.

inline constexpr OvTypeId OV_LIGHT_EXT_TYPE{0, 11020};
inline constexpr int32_t OV_LIGHT_POINT = 1;
inline constexpr int32_t OV_LIGHT_SPOT = 2;
inline constexpr int32_t OV_LIGHT_DIRECTIONAL = 3;

// The 26 stored values after the format number.
struct OvLightData {
  int32_t type = OV_LIGHT_POINT;
  float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  float specular[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  float ambient[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  OvVector position{0.0f, 0.0f, 0.0f};  // in the clump's frame
  OvVector direction{0.0f, 0.0f, 1.0f};
  float range = 1000.0f;
  float falloff = 1.0f;
  float attenuation[3] = {1.0f, 0.0f, 0.0f};
  float theta = 0.0f;
  float phi = 0.0f;
};

class OvLight : public OvClumpExt {
 public:
  static void* operator new(size_t size) noexcept { return AllocMemKind(OV_MEM_KIND_LIGHT, size); }
  static void operator delete(void* p) noexcept { OvMFree(p); }

  explicit OvLight(const OvLightData& data) : m_data(data) {}
  int Kind() const override { return OV_EXT_LIGHT; }
  const OvLightData& Data() const { return m_data; }
  OvLightData& Data() { return m_data; }

 private:
  OvLightData m_data;
};

// The stored record; GetController(clump) makes the clump's OvLight.
class OvDbLightExt : public OvDbNode {
 public:
  static constexpr int32_t kFormat = 100;

  void GetTypeId(OvTypeId& out) const override { out = OV_LIGHT_EXT_TYPE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void* GetController(void* clump) override;

  OvLightData m_data;
  int32_t m_format = kFormat;
};

// Registers the light extension type in OvExtensionClasses() (once).
void OvRegisterLightExtensionType();
