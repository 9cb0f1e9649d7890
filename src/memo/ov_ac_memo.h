// The memo board's motion controllers: a straight flight to a target in a
// fixed time (notes flying onto the board, edit papers flying in and out),
// and the 3D mouse cursor that picks, clicks, double-clicks and drags.
#pragma once

#include <cstdint>

#include "ov_anictrl.h"
#include "ov_math.h"

class OvClump;
class OvInputDevice;
class OvLogObj;
class OvScene;

// What a flight asks of the board: hiding the object it carries until it
// arrives, and where a parked clump goes.
class OvFlightHost {
 public:
  virtual ~OvFlightHost() = default;
  virtual void HideObject(OvLogObj* object) = 0;
  virtual void ShowObject(OvLogObj* object) = 0;
  // Far away on every axis: nothing there is ever seen.
  virtual OvVector ParkingPlace() const;
};

// Half the largest finite float: the parking place's coordinate.
inline constexpr float OV_PARKING_COORD = 1.7014117e38f;

class OvAcMoveTo : public OvHrchyAniCtrl {
 public:
  static constexpr float kBoardDuration = 0.5f;
  static constexpr float kReturnDuration = 0.22f;
  static const void* ClassTag();

  // An embedded flight (not owned: the clump's list leaves it alone). Without
  // a host, a carried object is hidden by making its clumps invisible.
  explicit OvAcMoveTo(float duration, OvFlightHost* host = nullptr);
  ~OvAcMoveTo() override;
  // An owned one, freed with its clump; null without memory.
  static OvAcMoveTo* Create(float duration, OvFlightHost* host = nullptr);

  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvHrchyAniCtrl::IsKindOf(tag); }
  uint32_t GetChannelMask() const override { return ACF_LOG_OBJ_LINK | ACF_POS; }
  void Hierarchy(OvClump* clump, int32_t value) override;
  bool RefersTo(const void* object) const override { return object && object == m_carried; }
  // An embedded flight leaves its clump when it ends before the clump.
  void Attached(OvClump* clump) override { m_clump = clump; }
  void Release() override;

  // A new flight from wherever the clump is at its next tick. A carried
  // object is hidden now and shown on arrival; with deleteAtEnd the flying
  // clump's object is removed on arrival.
  void FlyTo(const OvVector& target, OvLogObj* carried, bool deleteAtEnd);
  // To the object's first root clump position, carrying it.
  void FlyToObject(OvLogObj* object, bool deleteAtEnd);

  void SetHost(OvFlightHost* host) { m_host = host; }
  float Duration() const { return m_duration; }
  void SetDuration(float seconds) { m_duration = seconds > 0.0f ? seconds : 0.0f; }
  const OvVector& Target() const { return m_target; }
  const OvVector& Delta() const { return m_delta; }
  float EndTime() const { return m_endTime; }
  bool Starting() const { return m_starting; }
  OvLogObj* Carried() const { return m_carried; }

 private:
  void Hide(OvLogObj* object);
  void Show(OvLogObj* object);

  OvFlightHost* m_host;
  OvVector m_target{0, 0, 0};
  OvVector m_delta{0, 0, 0};
  float m_duration;
  float m_endTime = 0.0f;
  bool m_starting = false;
  bool m_deleteAtEnd = false;
  bool m_arrived = false;         // the object is on its way out: nothing more to do
  OvLogObj* m_carried = nullptr;  // referenced
  OvClump* m_clump = nullptr;     // the clump whose list holds this flight
};

class OvAcNoteMCursor : public OvAniCtrl {
 public:
  static constexpr float kDepth = 150.0f;
  static constexpr float kDoubleClickSeconds = 0.5f;
  static const void* ClassTag();

  // Reads `input`, or the process-wide device when null. Embedded: the board
  // hands it to its clump (SetOwned) when it ends.
  explicit OvAcNoteMCursor(OvInputDevice* input = nullptr);
  ~OvAcNoteMCursor() override;

  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  uint32_t GetChannelMask() const override { return ACF_CLUMP_LINK | ACF_POS; }
  void Animate(OvClump* clump, int32_t time) override;
  void Hierarchy(OvClump* clump, int32_t value) override;
  bool RefersTo(const void* object) const override;
  void Attached(OvClump* clump) override { m_clump = clump; }
  void Release() override;

  // Inputs.
  void SetIncludeFilter(const char* filter);
  const char* IncludeFilter() const { return m_include; }
  void SetSuspended(bool on) { m_suspended = on; }
  bool Suspended() const { return m_suspended; }
  void RefuseDrag() { m_dragRefused = true; }
  void SetTrackMouse(bool on) { m_trackMouse = on; }

  // Results of the current tick.
  OvClump* Clicked() const { return m_clicked; }
  bool Click() const { return m_click; }
  bool DoubleClick() const { return m_doubleClick; }
  OvClump* Dragged() const { return m_dragged; }
  OvClump* Held() const { return m_held; }
  bool Draggable() const { return m_draggable; }
  bool ButtonHeld() const { return m_buttonHeld; }

 private:
  OvInputDevice* Input() const;
  void Hold(OvClump* clump);
  void StopDragging();
  void StartDrag(OvClump* clump, const OvVector& hit, OvScene& scene);

  static constexpr int kFilterChars = 64;
  OvInputDevice* m_input;
  char m_include[kFilterChars] = "pick1";
  const char* m_exclude = "_expick_";
  const char* m_dragFilter = "drag";
  bool m_suspended = true;
  bool m_draggable = false;
  bool m_buttonHeld = false;
  bool m_skipFollow = true;
  bool m_trackMouse = true;
  bool m_pickPending = false;
  int32_t m_mouse[2] = {0, 0};
  OvClump* m_held = nullptr;     // referenced
  OvClump* m_clicked = nullptr;  // this tick only
  bool m_click = false;
  bool m_doubleClick = false;
  float m_lastClickTime = -1e8f;
  double m_lastClickEventTime = -1.0;  // the press event's time; negative without one
  OvClump* m_lastClicked = nullptr;    // referenced
  OvClump* m_dragged = nullptr;        // referenced
  float m_dragDistance = 0.0f;
  OvVector m_grabOffset{0, 0, 0};
  bool m_dragRefused = false;
  bool m_firstClick = false;
  OvClump* m_clump = nullptr;  // the clump whose list holds this cursor
};
