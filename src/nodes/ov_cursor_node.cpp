#include "ov_cursor_node.h"

#include <cmath>
#include <cstring>

#include "ov_camera.h"
#include "ov_database.h"
#include "ov_input.h"
#include "ov_logobj.h"
#include "ov_pick.h"
#include "ov_scene.h"
#include "ov_stream.h"

namespace {

void Hold(OvClump*& slot, OvClump* clump) {
  if (slot == clump) return;
  if (clump) clump->AddRef();
  if (slot) slot->Release();
  slot = clump;
}

OvVector UnitRow(const OvMatrix& m, int row) {
  OvVector v;
  OvMatrixGetRow(m, row, v);
  const float length = OvLength(v);
  if (length > 0.0f) OvVectorScale(v, 1.0f / length);
  return v;
}

class AcMouseCursor final : public OvAniCtrl {
 public:
  AcMouseCursor(const OvMouseCursorNode& node, OvDatabase& db) : m_node(node), m_db(db), m_options(node.Options()) {}

  uint32_t GetChannelMask() const override { return ACF_CLUMP_LINK | ACF_POS; }
  int32_t GetCtrlId() const override { return OV_ACID_MOUSE_CURSOR; }
  bool RefersTo(const void* object) const override { return object == m_picked || object == m_dragged; }

  void Animate(OvClump* clump, int32_t time) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    m_pickedThisFrame = false;
    m_dragStart = false;
    const bool pass = OvFlagTest(*clump, m_node.checkMask, m_node.checkValue);
    OvClump* camera = scene->GetCrntCamera();
    const OvMatrix* cameraWorld = camera ? camera->GetToWorldMatrix() : nullptr;
    OvInputDevice* input = OvGetInputDevice();
    if (!m_skipFirst && camera && clump->WorldParent() == camera && cameraWorld && input) {
      int x = 0, y = 0;
      input->GetPos(x, y);
      const OvVector d = scene->FilmCoordToWorldVector(float(x), float(y));
      const float dz = OvVectorDotProd(d, UnitRow(*cameraWorld, 2));
      if (dz != 0.0f) {
        const float f = -m_node.front / dz;
        const float dx = OvVectorDotProd(d, UnitRow(*cameraWorld, 0));
        const float dy = OvVectorDotProd(d, UnitRow(*cameraWorld, 1));
        clump->SetPos({dx * f, dy * f, -m_node.front});
        clump->MarkChanged(ACF_POS);
      }
      if ((m_options & OV_CURSOR_PICK) && pass) {
        m_pixel[0] = float(x), m_pixel[1] = float(y);
        m_pickedThisFrame = true;
      }
      if ((m_options & OV_CURSOR_DRAG) && pass && !m_lastPass) m_dragStart = true;
    }
    m_lastPass = pass;
    OvAniCtrlRegisterHrchy(clump, this, time);
    m_skipFirst = false;
  }

  void Hierarchy(OvClump* clump, int32_t) override {
    OvScene* scene = clump ? clump->GetScene() : nullptr;
    if (!scene) return;
    // The flags on itself and on the picked clump last one frame.
    OvFlagChangeInverse(*clump, m_node.selfMask, m_node.selfValue);
    if (m_picked) {
      OvFlagChangeInverse(*m_picked, m_node.pickedMask, m_node.pickedValue);
      Hold(m_picked, nullptr);
    }
    if (m_pickedThisFrame) Pick(*clump, *scene);
    DragUpdate(*clump, *scene);
    if (!clump->GetParent()) FollowCamera(*clump, *scene);
  }

 protected:
  ~AcMouseCursor() override {
    Hold(m_picked, nullptr);
    Hold(m_dragged, nullptr);
  }

 private:
  void Pick(OvClump& self, OvScene& scene) {
    OvVector hit{};
    OvClump* picked = OvPickFilmCoord(m_pixel[0], m_pixel[1], scene, m_node.include, m_node.exclude, &hit, nullptr);
    if (!picked) return;
    OvFlagChange(self, m_node.selfMask, m_node.selfValue);
    const OvVector ray = scene.FilmCoordToWorldVector(m_pixel[0], m_pixel[1]);
    if (m_node.clumpRecord != -1) Emit(scene, *picked, hit, ray);
    if (m_node.pickedMask) {
      OvFlagChange(*picked, m_node.pickedMask, m_node.pickedValue);
      Hold(m_picked, picked);
    }
    if (m_dragStart && !m_dragged) StartDrag(scene, *picked, hit);
  }

  void Emit(OvScene& scene, OvClump& picked, const OvVector& hit, const OvVector& ray) {
    OvVector at = hit;
    if (!(m_options & OV_CURSOR_GEN_AT_PICK_POINT) && !picked.GetWorldPos(at)) return;
    OvVector dir = ray;
    if (OvSquareLength(dir) > 0.0f) OvNormalize(dir);
    if (m_node.above != 0.0f)
      at = {at.x - dir.x * m_node.above, at.y - dir.y * m_node.above, at.z - dir.z * m_node.above};
    OvMatrix m;
    const bool align = (m_options & OV_CURSOR_ALIGN) != 0;
    if (align) {
      OvMatrixLookAt(m, at, {at.x + dir.x, at.y + dir.y, at.z + dir.z});
    } else {
      OvMatrixIdentity(m);
      OvMatrixSetPos(m, at);
    }
    OvLogObj* object = OvEmitObjectCore(scene, &m, m_db, m_node.clumpRecord, m_node.lifeTime, align, align);
    if (object && m_node.unlinkTime != 0) OvLinkForUnits(*object, &picked, m_node.unlinkTime);
  }

  bool CameraFrame(OvScene& scene, OvVector& position, OvVector& axis) const {
    OvClump* camera = scene.GetCrntCamera();
    const OvMatrix* world = camera ? camera->GetToWorldMatrix() : nullptr;
    if (!world) return false;
    OvMatrixGetPos(*world, position);
    axis = UnitRow(*world, 2);
    return true;
  }

  void StartDrag(OvScene& scene, OvClump& picked, const OvVector& hit) {
    OvLogObj* object = picked.GetLogObj();
    OvClump* root = object ? object->GetClumps() : nullptr;
    OvVector camPos, axis, rootPos;
    if (!root || !CameraFrame(scene, camPos, axis) || !root->GetWorldPos(rootPos)) return;
    // At the top level the drag moves it in world space; it stays where it is.
    if (!object->ChangeParentClump(nullptr, true)) return;
    Hold(m_dragged, &picked);
    OvFlagChange(picked, m_node.dragMask, m_node.dragValue);
    m_offset = {rootPos.x - hit.x, rootPos.y - hit.y, rootPos.z - hit.z};
    m_depth = OvVectorDotProd(OvSub(hit, camPos), axis);
    root->SetVPMatrix(nullptr);
    root->DecomposeWorldToPRS();
    root->CalcToWorldMatrix();
  }

  void DragUpdate(OvClump& self, OvScene& scene) {
    if (!m_dragged) return;
    OvLogObj* object = m_dragged->GetLogObj();
    OvClump* root = object ? object->GetClumps() : nullptr;
    OvVector camPos, axis;
    if (root && OvFlagTest(self, m_node.checkMask, m_node.checkValue) && CameraFrame(scene, camPos, axis)) {
      const OvVector d = scene.FilmCoordToWorldVector(m_pixel[0], m_pixel[1]);
      const float along = OvVectorDotProd(d, axis);
      if (along != 0.0f) {
        const float s = m_depth / along;
        root->SetPos(
            {camPos.x + d.x * s + m_offset.x, camPos.y + d.y * s + m_offset.y, camPos.z + d.z * s + m_offset.z});
        root->MarkChanged(ACF_POS);
      }
      return;
    }
    OvFlagChangeInverse(*m_dragged, m_node.dragMask, m_node.dragValue);
    Hold(m_dragged, nullptr);
  }

  void FollowCamera(OvClump& self, OvScene& scene) {
    OvClump* camera = scene.GetCrntCamera();
    OvLogObj* object = self.GetLogObj();
    if (!camera || !object) return;
    OvClump* parent = self.WorldParent();
    if (m_options & OV_CURSOR_FIXED_CAMERA) {
      const OvClumpExt* ext = parent ? parent->GetExtension() : nullptr;
      if (ext && ext->Kind() == OV_EXT_CAMERA) return;
    } else if (parent == camera) {
      return;
    }
    object->ChangeParentClump(camera, false);
  }

  const OvMouseCursorNode& m_node;
  OvDatabase& m_db;
  uint32_t m_options;
  bool m_skipFirst = true;
  bool m_pickedThisFrame = false;
  bool m_lastPass = false;
  bool m_dragStart = false;
  float m_pixel[2] = {0.0f, 0.0f};
  OvClump* m_picked = nullptr;
  OvClump* m_dragged = nullptr;
  float m_depth = 0.0f;
  OvVector m_offset{0.0f, 0.0f, 0.0f};
};

const OvNodeParamDesc kCursorParams[] = {
    OvParamI(0, "", OV_PK_INTERNAL_FIRST, 100),
    OvParamI(1, "Fixed Camera", OV_PK_CHECK, 0),
    OvParamF(2, "Front Camera", OV_PK_REAL, 100.0f),
    OvParamI(3, "Pick Enable", OV_PK_CHECK, 0),
    OvParamI(4, "Check Flag to Pick", OV_PK_FLAG_PAIR),
    OvParamI(5, "Include(sub-name)", OV_PK_TEXT),
    OvParamI(6, "Exclude(sub-name)", OV_PK_TEXT),
    OvParamI(7, "When Picked", OV_PK_CAPTION),
    OvParamI(8, "\tSet Flag of Self", OV_PK_FLAG_PAIR),
    OvParamI(9, "\tGen Obj at Pick", OV_PK_REF, -1),
    OvParamI(10, "\tLife Time:", OV_PK_TIME, 4800),
    OvParamI(11, "\tUnlink Time", OV_PK_TIME, 0),
    OvParamF(12, "\tAbove", OV_PK_REAL, 0.0f),
    OvParamI(15, "\tGen At Pick Point", OV_PK_CHECK, 1),
    OvParamI(13, "\tAlign Direction", OV_PK_CHECK, 0),
    OvParamI(14, "\tSet Flag of Picked", OV_PK_FLAG_PAIR),
    OvParamI(16, "Drag Enable (Obj)", OV_PK_CHECK, 0),
    OvParamI(17, "When Dragging", OV_PK_CAPTION),
    OvParamI(18, "\tSet Flag of Dragged", OV_PK_FLAG_PAIR),
};
constexpr int kCursorParamCount = int(sizeof(kCursorParams) / sizeof(kCursorParams[0]));

// A filter text from a tool: none given is the default substring, an empty
// one is no filter.
char* FilterText(const OvParamValues& v, int slot, const char* fallback, OvChunkArena& arena) {
  if (v.Word(slot, 0) == 0 && v.Word(slot, 1) == 0) {
    const size_t n = std::strlen(fallback);
    char* copy = static_cast<char*>(arena.Allocate(int32_t(n + 1)));
    if (copy) std::memcpy(copy, fallback, n + 1);
    return copy;
  }
  char* text = v.Text(slot);
  return text && *text ? text : nullptr;
}

OvDatabase* DatabaseOfArena(const OvChunkArena& arena) {
  for (OvDatabase* db = OvDatabase::First(); db; db = db->Next()) {
    if (&db->Arena() == &arena) return db;
  }
  return nullptr;
}

class CursorType final : public OvNodeTypeOf<OvMouseCursorNode> {
 public:
  using OvNodeTypeOf<OvMouseCursorNode>::OvNodeTypeOf;
  OvDbNode* CreateFromValues(OvChunkArena& arena, const OvParamValue* values, int count) const override {
    if (!values || count < kCursorParamCount) return nullptr;
    auto* node = OvArenaNew<OvMouseCursorNode>(arena);
    if (!node) return nullptr;
    const OvParamValues v(values, count, &arena);
    node->FromValues(v);
    node->include = FilterText(v, 5, "_inpick", arena);
    node->exclude = FilterText(v, 6, "_expick", arena);
    // The object emitted at a pick is made only by emission.
    OvDatabase* db = DatabaseOfArena(arena);
    const OvClumpRecord* clump = db ? db->ClumpRecord(node->clumpRecord) : nullptr;
    if (OvLogObjRecord* record = clump ? db->LogObjRecord(clump->logObjIndex) : nullptr) record->creationFlags |= 1;
    return node;
  }
};

}  // namespace

bool OvMouseCursorNode::Read(OvStream& stream, OvChunkArena& arena) {
  if (!stream.ReadLayout("i iRittR iiiiii", &format, &options, &front, &clumpRecord, &lifeTime, &unlinkTime, &above,
                         &checkMask, &checkValue, &selfMask, &selfValue, &pickedMask, &pickedValue))
    return false;
  if (!stream.ReadString(include, &arena) || !stream.ReadString(exclude, &arena)) return false;
  if (format <= 100) {
    dragMask = dragValue = 0;
    return true;
  }
  return stream.ReadLayout("ii", &dragMask, &dragValue);
}

bool OvMouseCursorNode::Write(OvStream& stream) const {
  if (!stream.WriteLayout("i iRittR iiiiii", format, options, front, clumpRecord, lifeTime, unlinkTime, above,
                          checkMask, checkValue, selfMask, selfValue, pickedMask, pickedValue))
    return false;
  if (!stream.WriteString(include) || !stream.WriteString(exclude)) return false;
  return format <= 100 || stream.WriteLayout("ii", dragMask, dragValue);
}

bool OvMouseCursorNode::FromValues(const OvParamValues& v) {
  format = kFormat;
  options = 0;
  if (v.Check(1)) options |= OV_CURSOR_FIXED_CAMERA;
  front = v.Real(2);
  if (v.Check(3)) options |= OV_CURSOR_PICK;
  v.FlagPair(4, checkMask, checkValue);
  v.FlagPair(8, selfMask, selfValue);
  clumpRecord = v.RefRecord(9);
  lifeTime = v.Int(10);
  unlinkTime = v.Int(11);
  above = v.Real(12);
  if (v.Check(13)) options |= OV_CURSOR_GEN_AT_PICK_POINT;
  if (v.Check(14)) options |= OV_CURSOR_ALIGN;
  v.FlagPair(15, pickedMask, pickedValue);
  if (v.Check(16)) options |= OV_CURSOR_DRAG;
  v.FlagPair(18, dragMask, dragValue);
  return true;
}

OvAniCtrl* OvMouseCursorNode::MakeController(OvClump*) {
  if (!m_database) return nullptr;
  return new AcMouseCursor(*this, *m_database);
}

OvNodeType* OvCursorNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_MOUSE_CURSOR) return new CursorType(pair, name, kCursorParams, kCursorParamCount);
  return nullptr;
}
