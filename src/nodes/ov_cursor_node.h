// "Mouse Cursor": turns a logical object into a pointer in the 3-D scene.
// The object hangs below the current camera and its clump sits on the ray
// through the mouse at a fixed depth; while its flag test passes it picks
// the clump under the pointer, sets flags on itself and on the picked clump,
// emits an object at the pick and drags the picked object in a plane facing
// the camera.
#pragma once

#include <cstdint>

#include "ov_aniset.h"
#include "ov_node_flags.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_NODE_MOUSE_CURSOR{0, 13000};
inline constexpr int32_t OV_ACID_MOUSE_CURSOR = 13000;

// Option bits.
inline constexpr uint32_t OV_CURSOR_PICK = 0x1;
inline constexpr uint32_t OV_CURSOR_FIXED_CAMERA = 0x2;
inline constexpr uint32_t OV_CURSOR_ALIGN = 0x4;
inline constexpr uint32_t OV_CURSOR_GEN_AT_PICK_POINT = 0x8;
inline constexpr uint32_t OV_CURSOR_DRAG = 0x10;

class OvMouseCursorNode : public OvPerClumpNode {
 public:
  // Blocks from 101 on carry the "Set Flag of Dragged" pair.
  static constexpr int32_t kFormat = 101;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_MOUSE_CURSOR; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override { m_database = database; }
  bool FromValues(const OvParamValues& v);
  OvDatabase* Database() const { return m_database; }

  // The options the controller works with: older blocks always emit at the
  // pick point.
  uint32_t Options() const { return format > 100 ? options : options | OV_CURSOR_GEN_AT_PICK_POINT; }

  int32_t format = kFormat;
  uint32_t options = OV_CURSOR_GEN_AT_PICK_POINT;  // as stored
  float front = 100.0f;
  int32_t clumpRecord = -1;
  int32_t lifeTime = 4800;  // units
  int32_t unlinkTime = 0;   // units
  float above = 0.0f;
  uint32_t checkMask = 0, checkValue = 0;
  uint32_t selfMask = 0, selfValue = 0;
  uint32_t pickedMask = 0, pickedValue = 0;
  char* include = nullptr;  // null: no filter
  char* exclude = nullptr;
  uint32_t dragMask = 0, dragValue = 0;

 protected:
  OvAniCtrl* MakeController(OvClump* clump) override;

 private:
  OvDatabase* m_database = nullptr;
};

OvNodeType* OvCursorNodeTypeCreate(const OvTypeId& pair, const char* name);
