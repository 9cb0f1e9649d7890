// The running world: the tree of logical objects, the scene clock, the frame
// step with its pass points and hooks, deferred deletion, and the scene-wide
// render settings and camera.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ov_anictrl.h"
#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_logobj.h"
#include "ov_math.h"
#include "ov_memory.h"
#include "ov_renderer.h"

class OvDatabase;
class OvScene;

inline constexpr int OV_HOOK_KINDS = 4;  // kinds 1 to 4
inline constexpr int OV_LEADING_SLOTS = 8;
inline constexpr int32_t OV_FRAME_ARENA_BLOCK = 64000;
inline constexpr float OV_MAX_FRAME_STEP_SEC = 0.25f;

// Work run at fixed points of the frame step (kind 1: first, 2: before the
// tick, 3: after the tick and pass 2, 4: after the end of the scene).
class OvSceneHook {
 public:
  virtual ~OvSceneHook() = default;
  // False drops the hook: it is unlinked and released.
  virtual bool Run(OvScene& scene) = 0;
  virtual void ReleaseHook() = 0;
};

// The sound system as the scene drives it once per frame.
class OvSceneSoundSink {
 public:
  virtual ~OvSceneSoundSink() = default;
  virtual void SetListenerPosition(const OvVector& position) = 0;
  virtual void SetListenerOrientation(const OvVector& velocity) = 0;
  virtual void Update() = 0;
  // The scene is going away.
  virtual void Stop() = 0;
};

// Milliseconds of the wall clock (wrapping at 2^32).
using OvWallClockFn = uint32_t (*)(void* context);
// Waits about `ms` milliseconds of that wall clock.
using OvWallSleepFn = void (*)(void* context, uint32_t ms);

// One frame registration: {controller, clump, value}.
struct OvPassNode {
  OvAniCtrl* ctrl;
  OvClump* clump;
  int32_t value;
  OvPassNode* next;
};

struct OvLogObjNode {
  OvLogObj* object;
  OvLogObjNode* next;
};

class OvScene : public OvAllocated {
 public:
  OvScene();
  OvScene(const OvScene&) = delete;
  OvScene& operator=(const OvScene&) = delete;

  // Sets the shutting-down flag, releases every object, the frame
  // arena and the hooks, and tells the sound system to stop.
  virtual ~OvScene();
  // Links an object (with all its brothers) to the end of the top
  // level and sets the scene on the whole subtree.
  virtual void AddLogObjs(OvLogObj* chain);

  // -------------------------------------------------------------------------
  // Services.
  void SetRenderer(OvRenderer* renderer) { m_renderer = renderer; }
  OvRenderer* GetRenderer() const { return m_renderer; }
  void SetSoundSink(OvSceneSoundSink* sink) { m_sound = sink; }
  OvSceneSoundSink* GetSoundSink() const { return m_sound; }
  // Replaces the millisecond wall clock (null restores the tick counter).
  void SetWallClock(OvWallClockFn fn, void* context);
  // How the time advance waits for its step: the thread sleeps by default;
  // with a replaced clock and no sleeper it only reads the clock again.
  void SetWallSleep(OvWallSleepFn fn, void* context) {
    m_sleepFn = fn;
    m_sleepContext = context;
  }

  // -------------------------------------------------------------------------
  // Per frame.
  // The frame step, then the time advance.
  void Frame();
  void FrameStep();
  void AdvanceTime();

  // Hooks of kind 1 to 4; another kind is refused.
  bool RegisterHook(OvSceneHook* hook, int kind);
  // This frame only. The point must be 2 to 9.
  bool RegisterPass(OvAniCtrl* ctrl, OvClump* clump, int32_t value, int point);
  bool RegisterHrchy(OvAniCtrl* ctrl, OvClump* clump, int32_t value);
  // Forgets registrations of ctrl: those made for `clump`, or every one of
  // them when the controller is owned (it is about to be freed).
  void DropRegistrations(OvAniCtrl* ctrl, OvClump* clump);

  // Deletion: deferred while the busy counter is raised.
  void DelLogObj(OvLogObj* object);
  void DelClump(OvClump* clump);
  void RaiseBusy() { ++m_busy; }
  // Lowers the counter; at zero the pending deletions are done.
  void LowerBusy();
  int32_t BusyCount() const { return m_busy; }
  void ProcessPendingDeletions();

  // -------------------------------------------------------------------------
  // Objects and searches (depth-first; exact names; serial -1 = any).
  OvLogObj* GetLogObjs() const { return m_firstLogObj; }
  OvLogObj* SearchLogObj(const char* name) const;
  OvLogObj* SearchLogObj_ID(int32_t id, int32_t serial = -1) const;
  OvClump* SearchClump(const char* name) const;
  OvClump* SearchClump_ID(int32_t id, int32_t serial = -1) const;
  OvClump* SearchLogObjClump(const char* objectName, const char* clumpName) const;
  OvLogObj* GetLeadingLogObj(int index) const;
  bool SetLeadingLogObj(int index, OvLogObj* object);

  // -------------------------------------------------------------------------
  // Camera.
  bool UseCamera(OvClump* clump);
  bool UseCamera_ID(int32_t id);
  OvClump* GetCrntCamera() const { return m_camera; }
  void LockCamera(bool locked) { m_cameraLocked = locked; }
  bool CameraLocked() const { return m_cameraLocked; }
  bool NoCamera() const { return m_noCamera; }
  // Derives the view data from the camera clump (done twice per frame).
  void SetupCamera();
  const OvCameraView& View() const { return m_view; }
  const OvMatrix* GetCameraToWorldMatrix() const;
  const OvMatrix& GetViewProjMatrix() const { return m_view.viewProj; }
  bool InViewFrustum(const OvVector& p) const { return OvInViewFrustum(m_view, p); }
  bool InViewFrustum(const OvVector& p, float a, float b) const { return OvInViewFrustumXY(m_view, p, a, b); }
  // World direction through viewport pixel (x, y); zero without a camera.
  OvVector FilmCoordToWorldVector(float x, float y) const;
  OvVector ScreenToWorld(float x, float y) const { return FilmCoordToWorldVector(x, y); }

  // -------------------------------------------------------------------------
  // Settings.
  void SetBkgdColor(int r, int g, int b) { m_background = SetRGB(m_background, r, g, b); }
  void GetBkgdColor(int& r, int& g, int& b) const { GetRGB(m_background, r, g, b); }
  uint32_t BackgroundColour() const { return m_background; }
  void SetBackgroundColour(uint32_t argb) { m_background = argb; }
  uint32_t AmbientColour() const { return m_ambient; }
  void SetAmbientColour(uint32_t argb) { m_ambient = argb; }
  void EnableFog(bool on) { m_fogOn = on; }
  bool FogEnabled() const { return m_fogOn; }
  void SetFogColor(int r, int g, int b) { m_fogColour = SetRGB(m_fogColour, r, g, b); }
  void GetFogColor(int& r, int& g, int& b) const { GetRGB(m_fogColour, r, g, b); }
  uint32_t FogColour() const { return m_fogColour; }
  void SetFogColour(uint32_t argb) { m_fogColour = argb; }
  bool LightingOn() const { return m_lighting; }
  void SetLighting(bool on) { m_lighting = on; }
  bool OcclusionOn() const { return m_occlusion; }
  void SetOcclusion(bool on) { m_occlusion = on; }
  void SetClearBeforeFrame(bool on) { m_clearBeforeFrame = on; }
  void SetPresentAfterFrame(bool on) { m_presentAfterFrame = on; }

  // -------------------------------------------------------------------------
  // Clock.
  int32_t GetTime() const { return m_time; }
  float GetTime_Sec() const { return float(m_time) * m_secPerUnit; }
  int32_t TimePerSec() const {
    const int64_t units = int64_t(m_frameRate) * m_unitsPerFrame;
    return units > INT32_MAX ? INT32_MAX : int32_t(units);
  }
  float SecToPreFrame() const { return float(m_delta) * m_secPerUnit; }
  int32_t FrameDelta() const { return m_delta; }
  float SecondsPerUnit() const { return m_secPerUnit; }
  float FramesPerUnit() const { return m_framesPerUnit; }
  int32_t FrameRate() const { return m_frameRate; }
  int32_t UnitsPerFrame() const { return m_unitsPerFrame; }
  void SetTimeBase(int32_t unitsPerSecond);
  void SetFrameRate(int32_t framesPerSecond);
  void SetMaxFrameRate(int32_t fps) { m_maxFrameRate = fps > 0 ? fps : 1; }
  int32_t MaxFrameRate() const { return m_maxFrameRate; }
  void ForceStep(int32_t units) { m_forcedStep = units; }
  int32_t PendingForcedStep() const { return m_forcedStep; }
  void ResetClock();
  void SetTime(int32_t t) { m_time = t; }
  uint32_t FrameCount() const { return m_frameCount; }

  // -------------------------------------------------------------------------
  // Frame state.
  bool Ticking() const { return m_ticking; }
  bool ShuttingDown() const { return m_shuttingDown; }
  float ViewportWidth() const { return m_vpWidth; }
  float ViewportHeight() const { return m_vpHeight; }
  const OvLogObjNode* VisibleObjects() const { return m_visible; }
  const OvRenderItem* RenderList() const { return m_renderList; }
  const OvLightItem* LightList() const { return m_lightList; }
  // Culling appends here; false when the frame arena is exhausted.
  bool AppendRender(OvClump* clump);
  bool AppendLight(OvClump* clump, const OvLight* light);
  // Whether a world sphere can be seen (frustum, then occluders).
  bool SphereVisible(const OvVector& centre, float radius) const;
  bool SphereInFrustum(const OvVector& centre, float radius) const;
  OvChunkArena& FrameArena() { return *m_frameArena; }

  // -------------------------------------------------------------------------
  // Content.
  // Builds the start-up objects of a loaded database into this scene and
  // takes its colours, fog, lighting, camera and time base.
  bool InstantiateDatabase(OvDatabase& db);

 private:
  struct HookNode {
    OvSceneHook* hook;
    HookNode* next;
  };
  struct PendingClump {
    OvClump* clump;
    PendingClump* next;
  };
  struct PendingObject {
    OvLogObj* object;
    PendingObject* next;
  };

  static uint32_t SetRGB(uint32_t colour, int r, int g, int b) {
    return (colour & 0xFF000000u) | (uint32_t(r & 0xFF) << 16) | (uint32_t(g & 0xFF) << 8) | uint32_t(b & 0xFF);
  }
  static void GetRGB(uint32_t colour, int& r, int& g, int& b) {
    r = int((colour >> 16) & 0xFF);
    g = int((colour >> 8) & 0xFF);
    b = int(colour & 0xFF);
  }

  void RunHooks(int kind);
  void ReleaseHooks();
  void ClearFrameLists();
  void CallPassList(int point);
  void CallHrchyList();
  void TickTree(OvLogObj* first);
  void DeleteLogObjNow(OvLogObj* object);
  void DeleteClumpNow(OvClump* clump);
  void ForgetObject(OvLogObj* object);
  void DetachObjectsLinkedTo(OvClump* subtree, bool deleteDying);
  bool Occluded(const OvVector& centre, float radius) const;
  uint32_t WallClock() const;

  OvRenderer* m_renderer = nullptr;
  OvSceneSoundSink* m_sound = nullptr;
  HookNode* m_hooks[OV_HOOK_KINDS] = {};
  OvChunkArena* m_frameArena = nullptr;

  float m_vpWidth = 0.0f, m_vpHeight = 0.0f;
  float m_vpHalfWidth = 0.0f, m_vpHalfHeight = 0.0f;
  float m_vpInvHalfWidth = 0.0f, m_vpInvHalfHeight = 0.0f;

  bool m_lighting = true;
  bool m_occlusion = true;
  bool m_clearBeforeFrame = true;
  bool m_presentAfterFrame = true;

  int32_t m_time = 0;
  int32_t m_frameRate = 60;
  int32_t m_unitsPerFrame = 1;
  float m_secPerUnit = 1.0f / 60.0f;
  float m_framesPerUnit = 1.0f;
  int32_t m_prevTime = 0;
  int32_t m_delta = 0;
  int32_t m_forcedStep = -1;
  uint32_t m_clockRef = 0;
  float m_carry = 0.0f;
  int32_t m_maxFrameRate = 1000;
  OvWallClockFn m_clockFn = nullptr;
  void* m_clockContext = nullptr;
  OvWallSleepFn m_sleepFn = nullptr;
  void* m_sleepContext = nullptr;

  OvLogObj* m_firstLogObj = nullptr;
  OvLogObj* m_leading[OV_LEADING_SLOTS] = {};

  OvClump* m_camera = nullptr;
  OvCameraView m_view;
  bool m_noCamera = false;
  bool m_cameraLocked = false;

  uint32_t m_background = 0xFFFFFFFFu;
  uint32_t m_ambient = 0;
  bool m_fogOn = false;
  uint32_t m_fogColour = 0xFFFFFFFFu;

  uint32_t m_frameCount = 0;
  int32_t m_busy = 0;
  bool m_ticking = false;
  bool m_shuttingDown = false;

  // Per-frame lists (frame arena).
  OvLogObjNode* m_visible = nullptr;
  OvLogObjNode** m_visibleTail = &m_visible;
  OvRenderItem* m_renderList = nullptr;
  OvRenderItem** m_renderTail = &m_renderList;
  OvLightItem* m_lightList = nullptr;
  OvLightItem** m_lightTail = &m_lightList;
  OvPassNode* m_pass[8] = {};  // points 2 to 9
  OvPassNode** m_passTail[8] = {};
  OvPassNode* m_hrchy = nullptr;
  OvPassNode** m_hrchyTail = &m_hrchy;

  // Pending deletions hold a reference each and outlive the frame arena.
  PendingObject* m_pendingObjects = nullptr;
  PendingObject** m_pendingObjectsTail = &m_pendingObjects;
  PendingClump* m_pendingClumps = nullptr;
  PendingClump** m_pendingClumpsTail = &m_pendingClumps;

  friend class OvLogObj;
};

// Registers the scene's clump-extension types (camera, light) once.
void OvRegisterSceneExtensionTypes();

// Controllers that watch for destroyed objects (message id, then the message
// (-1, the destroyed object's root clump, 0) before the object goes). They
// count themselves in and out so that deletions cost nothing while none
// watches.
inline constexpr int32_t OV_CTRL_ID_CHECK_DESTROYED = 505;
void OvDestructionWatchers(int delta);

// Controllers that act when their clump is deleted from the scene hear of it
// (message id, then (OV_CTRL_MSG_LEAVING_SCENE, the clump, 0)) while the clump
// still has its scene and world matrix: a clump held elsewhere leaves without
// either, and is released only later.
inline constexpr int32_t OV_CTRL_ID_GENERATE_AFTER_DESTROYED = 208;
inline constexpr intptr_t OV_CTRL_MSG_LEAVING_SCENE = -2;
