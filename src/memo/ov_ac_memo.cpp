#include "ov_ac_memo.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "ov_clump.h"
#include "ov_input.h"
#include "ov_logobj.h"
#include "ov_pick.h"
#include "ov_scene.h"

namespace {

void SetTreeInvisible(OvClump* clump, bool invisible, int depth = 0) {
  for (OvClump* c = clump; c && depth < 64; c = c->GetNextBrother()) {
    invisible ? c->SetInvisible() : c->SetVisible();
    SetTreeInvisible(c->GetChild(), invisible, depth + 1);
  }
}

void SetRef(OvClump*& slot, OvClump* clump) {
  if (slot == clump) return;
  if (clump) clump->AddRef();
  if (slot) slot->Release();
  slot = clump;
}

// The camera's world position and unit viewing direction (it looks along
// its local -z).
bool CameraFrame(const OvClump* camera, OvVector& position, OvVector& axis) {
  const OvMatrix* world = camera ? camera->GetToWorldMatrix() : nullptr;
  if (!world) return false;
  OvMatrixGetPos(*world, position);
  OvVector back;
  OvMatrixGetRow(*world, 2, back);
  const float length = OvLength(back);
  if (!(length > 0.0f)) return false;
  axis = {-back.x / length, -back.y / length, -back.z / length};
  return true;
}

}  // namespace

OvVector OvFlightHost::ParkingPlace() const { return {OV_PARKING_COORD, OV_PARKING_COORD, OV_PARKING_COORD}; }

// ---------------------------------------------------------------------------
// Flight.

const void* OvAcMoveTo::ClassTag() {
  static const char tag = 0;
  return &tag;
}

OvAcMoveTo::OvAcMoveTo(float duration, OvFlightHost* host) : m_host(host), m_duration(duration > 0 ? duration : 0) {}

OvAcMoveTo::~OvAcMoveTo() {
  // Still in a list: leave it, so the list never calls a dead controller.
  if (OvClump* clump = m_clump) {
    SetOwned(false);  // being destroyed already
    clump->DelAniCtrl(this);
  }
  if (m_carried) m_carried->Release();
}

void OvAcMoveTo::Release() {
  m_clump = nullptr;
  OvHrchyAniCtrl::Release();
}

OvAcMoveTo* OvAcMoveTo::Create(float duration, OvFlightHost* host) {
  OvAcMoveTo* flight = new OvAcMoveTo(duration, host);
  if (flight) flight->SetOwned(true);
  return flight;
}

void OvAcMoveTo::Hide(OvLogObj* object) {
  if (m_host) {
    m_host->HideObject(object);
  } else {
    SetTreeInvisible(object->GetClumps(), true);
  }
}

void OvAcMoveTo::Show(OvLogObj* object) {
  if (m_host) {
    m_host->ShowObject(object);
  } else {
    SetTreeInvisible(object->GetClumps(), false);
  }
}

void OvAcMoveTo::FlyTo(const OvVector& target, OvLogObj* carried, bool deleteAtEnd) {
  m_starting = true;
  m_arrived = false;
  m_target = target;
  m_deleteAtEnd = deleteAtEnd;
  if (carried == m_carried) return;
  // A flight cut short still gives back what it carried.
  if (OvLogObj* previous = m_carried) {
    m_carried = nullptr;
    Show(previous);
    previous->Release();
  }
  if (carried) {
    carried->AddRef();
    m_carried = carried;
    Hide(carried);
  }
}

void OvAcMoveTo::FlyToObject(OvLogObj* object, bool deleteAtEnd) {
  OvClump* root = object ? object->GetClumps() : nullptr;
  if (!root) return;
  FlyTo(root->GetPos(), object, deleteAtEnd);
}

void OvAcMoveTo::Hierarchy(OvClump* clump, int32_t value) {
  (void)value;
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  if (!scene || m_arrived) return;
  const float now = scene->GetTime_Sec();
  if (m_starting) {
    m_starting = false;
    m_endTime = now + m_duration;
    m_delta = OvSub(clump->GetPos(), m_target);
    return;
  }
  // A zero duration arrives on the tick after the start.
  const float s = m_duration > 0.0f ? (m_endTime - now) / m_duration : 0.0f;
  if (s > 0.0f) {
    clump->SetPos({m_target.x + s * m_delta.x, m_target.y + s * m_delta.y, m_target.z + s * m_delta.z});
    clump->MarkChanged(ACF_POS);
    return;
  }

  const bool carried = m_carried != nullptr;
  if (OvLogObj* object = m_carried) {
    m_carried = nullptr;
    Show(object);
    object->Release();
  }
  if (m_deleteAtEnd) {
    // The controller goes with the object (possibly later, when the scene
    // is busy): nothing more to do until then.
    m_arrived = true;
    if (OvLogObj* own = clump->GetLogObj()) scene->DelLogObj(own);
    return;
  }
  if (carried) {
    clump->SetPos(m_host ? m_host->ParkingPlace() : OvVector{OV_PARKING_COORD, OV_PARKING_COORD, OV_PARKING_COORD});
    // This clump and its descendants, not its brothers.
    clump->SetInvisible();
    SetTreeInvisible(clump->GetChild(), true);
  } else {
    clump->SetPos(m_target);
  }
  clump->MarkChanged(ACF_POS);
  // Last: an owned flight is freed here.
  clump->DelAniCtrl(this);
}

// ---------------------------------------------------------------------------
// Cursor.

const void* OvAcNoteMCursor::ClassTag() {
  static const char tag = 0;
  return &tag;
}

OvAcNoteMCursor::OvAcNoteMCursor(OvInputDevice* input) : m_input(input) {}

void OvAcNoteMCursor::Release() {
  m_clump = nullptr;
  OvAniCtrl::Release();
}

OvAcNoteMCursor::~OvAcNoteMCursor() {
  if (OvClump* clump = m_clump) {
    SetOwned(false);  // being destroyed already
    clump->DelAniCtrl(this);
  }
  SetRef(m_held, nullptr);
  SetRef(m_lastClicked, nullptr);
  SetRef(m_dragged, nullptr);
}

OvInputDevice* OvAcNoteMCursor::Input() const { return m_input ? m_input : OvGetInputDevice(); }

bool OvAcNoteMCursor::RefersTo(const void* object) const {
  return object && (object == m_held || object == m_lastClicked || object == m_dragged);
}

void OvAcNoteMCursor::SetIncludeFilter(const char* filter) {
  std::snprintf(m_include, sizeof(m_include), "%s", filter ? filter : "");
}

void OvAcNoteMCursor::Hold(OvClump* clump) { SetRef(m_held, clump); }

void OvAcNoteMCursor::StopDragging() { SetRef(m_dragged, nullptr); }

void OvAcNoteMCursor::Animate(OvClump* clump, int32_t time) {
  OvInputDevice* input = Input();
  m_buttonHeld = input && input->IsDown(OV_INPUT_MOUSE_LEFT) && !m_dragRefused;
  m_dragRefused = false;
  m_clicked = nullptr;
  m_click = false;
  m_doubleClick = false;
  if (m_suspended || !clump) return;
  if (!m_buttonHeld && m_held) Hold(nullptr);
  m_pickPending = false;
  m_firstClick = false;

  OvScene* scene = clump->GetScene();
  OvClump* camera = scene ? scene->GetCrntCamera() : nullptr;
  if (!m_skipFollow && camera && clump->WorldParent() == camera && input) {
    int x = 0, y = 0;
    input->GetPos(x, y);
    const float w = scene->ViewportWidth(), h = scene->ViewportHeight();
    const float p00 = scene->View().projection.m[0][0], p23 = scene->View().projection.m[2][3];
    if (w > 0.0f && h > 0.0f && p00 != 0.0f) {
      // The view ray in camera space (looking along -z), scaled to z = -depth.
      const float s = 1.0f / (p00 * w * 0.5f);
      const float forward = p23 != 0.0f ? 1.0f / p23 : 1.0f;
      const float k = kDepth / forward;
      clump->SetPos({(float(x) - w * 0.5f) * s * k, (h * 0.5f - float(y)) * s * k, -kDepth});
      clump->MarkChanged(ACF_POS);
    }
    if (m_trackMouse && m_buttonHeld) {
      m_mouse[0] = x;
      m_mouse[1] = y;
      m_pickPending = true;
    }
    if (m_buttonHeld) m_firstClick = true;
  }
  m_skipFollow = false;
  OvAniCtrlRegisterHrchy(clump, this, time);
}

void OvAcNoteMCursor::StartDrag(OvClump* clump, const OvVector& hit, OvScene& scene) {
  if (m_dragged || !m_firstClick || !m_draggable || !clump) return;
  OvLogObj* object = clump->GetLogObj();
  OvClump* root = object ? object->GetClumps() : nullptr;
  OvVector camPos, axis, rootPos;
  if (!root || !CameraFrame(scene.GetCrntCamera(), camPos, axis) || !root->NeedToWorldMatrix()) return;
  if (!root->GetWorldPos(rootPos)) return;
  // Hung at the top level so the drag moves it in world space; it keeps its
  // place, turn and size.
  if (!object->ChangeParentClump(nullptr, true)) return;
  SetRef(m_dragged, clump);
  m_grabOffset = OvSub(rootPos, hit);
  m_dragDistance = OvVectorDotProd(OvSub(hit, camPos), axis);
  root->SetVPMatrix(nullptr);
  root->DecomposeWorldToPRS();
  root->CalcToWorldMatrix();
}

void OvAcNoteMCursor::Hierarchy(OvClump* clump, int32_t value) {
  (void)value;
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  if (!scene) return;
  OvInputDevice* input = Input();
  const bool wentDown = input && input->IsClickDown(OV_INPUT_MOUSE_LEFT);

  if (m_pickPending) {
    OvVector point{};
    OvClump* hit = OvPickFilmCoord(float(m_mouse[0]), float(m_mouse[1]), *scene, m_include, m_exclude, &point, nullptr);
    // While the button stays down the clump it went down on stays held.
    if (hit && (wentDown || !m_held)) {
      Hold(hit);
      m_clicked = hit;
      if (wentDown && !m_dragRefused) {
        const float now = scene->GetTime_Sec();
        // Two presses with event times are judged by them: frames that come
        // late must not turn a slow double click into a fast one, or back.
        const double at = input->ClickTime(OV_INPUT_MOUSE_LEFT);
        const bool byEvents = at >= 0.0 && m_lastClickEventTime >= 0.0;
        const bool quick =
            byEvents ? at - m_lastClickEventTime < kDoubleClickSeconds : now - m_lastClickTime < kDoubleClickSeconds;
        m_doubleClick = quick && m_lastClicked == hit;
        m_lastClickTime = now;
        m_lastClickEventTime = at;
        m_click = true;
        SetRef(m_lastClicked, hit);
      } else {
        m_click = false;
        m_doubleClick = false;
      }
      const char* name = m_held->GetName();
      m_draggable = name && std::strstr(name, m_dragFilter) != nullptr;
      if (wentDown) StartDrag(hit, point, *scene);
    }
  }

  if (m_dragged) {
    OvLogObj* object = m_dragged->GetLogObj();
    OvClump* root = object ? object->GetClumps() : nullptr;
    OvVector camPos, axis;
    bool moved = false;
    if (root && m_buttonHeld && CameraFrame(scene->GetCrntCamera(), camPos, axis)) {
      const OvVector ray = scene->FilmCoordToWorldVector(float(m_mouse[0]), float(m_mouse[1]));
      const float along = OvVectorDotProd(ray, axis);
      if (along > 0.0f) {
        const float k = m_dragDistance / along;
        root->SetPos({camPos.x + ray.x * k + m_grabOffset.x, camPos.y + ray.y * k + m_grabOffset.y,
                      camPos.z + ray.z * k + m_grabOffset.z});
        root->MarkChanged(ACF_POS);
        moved = true;
      }
    }
    if (!moved && !(root && m_buttonHeld)) StopDragging();
  }

  OvClump* camera = scene->GetCrntCamera();
  if (!clump->GetChild() && camera && clump->WorldParent() != camera) {
    if (OvLogObj* own = clump->GetLogObj()) own->ChangeParentClump(camera, false);
  }
}
