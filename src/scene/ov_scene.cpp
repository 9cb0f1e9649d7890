#include "ov_scene.h"

#include <cmath>
#include <cstring>

#include "ov_assert.h"
#include "ov_clock.h"
#include "ov_collision.h"
#include "ov_database.h"
#include "ov_input.h"
#include "ov_node_type.h"
#include "ov_trace.h"

namespace {

template <class T>
T* FrameNew(OvChunkArena* arena) {
  if (!arena) return nullptr;
  return static_cast<T*>(OvArenaAllocAligned(*arena, sizeof(T), alignof(T)));
}

OvClump* SearchClumpInObjects(OvLogObj* first, const char* name) {
  for (OvLogObj* o = first; o; o = o->LoGetNextBrother()) {
    if (OvClump* c = o->LoSearchClump(name)) return c;
    if (OvClump* c = SearchClumpInObjects(o->LoGetChild(), name)) return c;
  }
  return nullptr;
}

OvClump* SearchClumpIdInObjects(OvLogObj* first, int32_t id, int32_t serial) {
  for (OvLogObj* o = first; o; o = o->LoGetNextBrother()) {
    if (OvClump* c = o->LoSearchClump_ID(id, serial)) return c;
    if (OvClump* c = SearchClumpIdInObjects(o->LoGetChild(), id, serial)) return c;
  }
  return nullptr;
}

}  // namespace

namespace {
int g_destructionWatchers = 0;

// Tells every watching controller in the clump trees from `first` on; a
// watcher may sit on any clump.
void NotifyClumps(OvClump* first, OvClump* root, int depth) {
  for (OvClump* c = first; c != nullptr; c = c->GetNextBrother()) {
    c->BroadcastMessage(OV_CTRL_ID_CHECK_DESTROYED, -1, reinterpret_cast<intptr_t>(root), 0);
    if (depth < 512) NotifyClumps(c->GetChild(), root, depth + 1);
  }
}

void NotifyDestroyed(OvLogObj* first, OvClump* root, int depth) {
  for (OvLogObj* o = first; o != nullptr; o = o->LoGetNextBrother()) {
    NotifyClumps(o->GetClumps(), root, 0);
    if (depth < 512) NotifyDestroyed(o->LoGetChild(), root, depth + 1);
  }
}

// `clump` and its subtree (with its following brothers when asked) are about
// to leave the scene.
void NotifyLeaving(OvClump* clump, bool brothers, int depth) {
  for (OvClump* c = clump; c != nullptr; c = brothers ? c->GetNextBrother() : nullptr) {
    c->BroadcastMessage(OV_CTRL_ID_GENERATE_AFTER_DESTROYED, OV_CTRL_MSG_LEAVING_SCENE, reinterpret_cast<intptr_t>(c),
                        0);
    if (depth < 512) NotifyLeaving(c->GetChild(), true, depth + 1);
  }
}
}  // namespace

void OvDestructionWatchers(int delta) { g_destructionWatchers += delta; }

void OvRegisterSceneExtensionTypes() {
  OvRegisterCameraExtensionType();
  OvRegisterLightExtensionType();
}

// ---------------------------------------------------------------------------
// Life.

OvScene::OvScene() {
  m_frameArena = new OvChunkArena(OV_FRAME_ARENA_BLOCK);
  for (int i = 0; i < 8; ++i) m_passTail[i] = &m_pass[i];
}

OvScene::~OvScene() {
  OvNotifyObjectFreed(this);
  m_shuttingDown = true;
  ClearFrameLists();
  m_camera = nullptr;
  for (OvLogObj*& slot : m_leading) slot = nullptr;
  while (OvLogObj* o = m_firstLogObj) {
    OvLogObjChainRemove(m_firstLogObj, o);
    if (o->RefCount() > 1) o->SetSceneTree(nullptr);
    o->Release();
  }
  // Whatever was still waiting for deletion has left the scene by now.
  while (m_pendingObjects || m_pendingClumps) ProcessPendingDeletions();
  delete m_frameArena;
  m_frameArena = nullptr;
  ReleaseHooks();
  if (m_sound) m_sound->Stop();
}

void OvScene::AddLogObjs(OvLogObj* chain) {
  if (!chain) return;
  int n = 0;
  for (OvLogObj* o = chain; o && n < OV_CHAIN_WALK_LIMIT; o = o->m_next, ++n) {
    o->m_parent = nullptr;
    o->m_linkedClump = nullptr;
    o->SetSceneTree(this);
  }
  OvLogObjChainAppend(m_firstLogObj, chain);
}

void OvScene::SetWallClock(OvWallClockFn fn, void* context) {
  m_clockFn = fn;
  m_clockContext = context;
}

uint32_t OvScene::WallClock() const { return m_clockFn ? m_clockFn(m_clockContext) : OvTickCount(); }

// ---------------------------------------------------------------------------
// Hooks.

bool OvScene::RegisterHook(OvSceneHook* hook, int kind) {
  OV_ASSERT(kind >= 1 && kind <= OV_HOOK_KINDS);
  if (!hook || kind < 1 || kind > OV_HOOK_KINDS) return false;
  auto* node = static_cast<HookNode*>(AllocMem(sizeof(HookNode)));
  if (!node) return false;
  node->hook = hook;
  node->next = nullptr;
  HookNode** link = &m_hooks[kind - 1];
  while (*link) link = &(*link)->next;
  *link = node;
  return true;
}

void OvScene::RunHooks(int kind) {
  HookNode** link = &m_hooks[kind - 1];
  while (*link) {
    HookNode* node = *link;
    if (node->hook->Run(*this)) {
      link = &node->next;
      continue;
    }
    *link = node->next;
    node->hook->ReleaseHook();
    OvMFree(node);
  }
}

void OvScene::ReleaseHooks() {
  for (HookNode*& head : m_hooks) {
    HookNode* node = head;
    head = nullptr;
    while (node) {
      HookNode* next = node->next;
      node->hook->ReleaseHook();
      OvMFree(node);
      node = next;
    }
  }
}

// ---------------------------------------------------------------------------
// Frame registrations. A registration holds its clump, so a clump deleted
// during the frame stays valid for every call still listed for it.

bool OvScene::RegisterPass(OvAniCtrl* ctrl, OvClump* clump, int32_t value, int point) {
  if (!ctrl || point < T2PA_AFTER_ANIM || point > T2PA_AFTER_RENDER) return false;
  auto* node = FrameNew<OvPassNode>(m_frameArena);
  if (!node) return false;
  *node = {ctrl, clump, value, nullptr};
  if (clump) clump->AddRef();
  const int i = point - T2PA_AFTER_ANIM;
  *m_passTail[i] = node;
  m_passTail[i] = &node->next;
  return true;
}

bool OvScene::RegisterHrchy(OvAniCtrl* ctrl, OvClump* clump, int32_t value) {
  if (!ctrl) return false;
  auto* node = FrameNew<OvPassNode>(m_frameArena);
  if (!node) return false;
  *node = {ctrl, clump, value, nullptr};
  if (clump) clump->AddRef();
  *m_hrchyTail = node;
  m_hrchyTail = &node->next;
  return true;
}

void OvScene::DropRegistrations(OvAniCtrl* ctrl, OvClump* clump) {
  if (!ctrl) return;
  const bool all = ctrl->IsOwned();
  auto drop = [&](OvPassNode* node) {
    for (; node; node = node->next) {
      if (node->ctrl == ctrl && (all || node->clump == clump)) node->ctrl = nullptr;
    }
  };
  for (OvPassNode* head : m_pass) drop(head);
  drop(m_hrchy);
}

void OvScene::CallPassList(int point) {
  // Nodes appended during the walk are called in the same walk.
  for (OvPassNode* node = m_pass[point - T2PA_AFTER_ANIM]; node; node = node->next) {
    if (node->ctrl) node->ctrl->TwoPass(node->clump, node->value, point);
  }
}

void OvScene::CallHrchyList() {
  for (OvPassNode* node = m_hrchy; node; node = node->next) {
    if (node->ctrl) node->ctrl->Hierarchy(node->clump, node->value);
  }
}

void OvScene::ClearFrameLists() {
  auto releaseAll = [](OvPassNode* node) {
    for (; node; node = node->next) {
      OvClump* clump = node->clump;
      node->clump = nullptr;
      node->ctrl = nullptr;
      if (clump) clump->Release();
    }
  };
  // Detach first: a release may free a controller that drops its
  // registrations, and those lists must already be consistent.
  for (int i = 0; i < 8; ++i) {
    OvPassNode* head = m_pass[i];
    m_pass[i] = nullptr;
    m_passTail[i] = &m_pass[i];
    releaseAll(head);
  }
  OvPassNode* hrchy = m_hrchy;
  m_hrchy = nullptr;
  m_hrchyTail = &m_hrchy;
  releaseAll(hrchy);
  m_visible = nullptr;
  m_visibleTail = &m_visible;
  m_renderList = nullptr;
  m_renderTail = &m_renderList;
  m_lightList = nullptr;
  m_lightTail = &m_lightList;
}

bool OvScene::AppendRender(OvClump* clump) {
  auto* node = FrameNew<OvRenderItem>(m_frameArena);
  if (!node) return false;
  *node = {clump, nullptr};
  *m_renderTail = node;
  m_renderTail = &node->next;
  return true;
}

bool OvScene::AppendLight(OvClump* clump, const OvLight* light) {
  auto* node = FrameNew<OvLightItem>(m_frameArena);
  if (!node) return false;
  *node = {clump, light, nullptr};
  *m_lightTail = node;
  m_lightTail = &node->next;
  return true;
}

bool OvScene::SphereInFrustum(const OvVector& centre, float radius) const {
  if (!m_view.valid) return true;
  return OvSphereTouchesPlanes(m_view.planes, 6, centre, radius);
}

// The occluder pre-pass is conservative: nothing is ever hidden by it.
bool OvScene::Occluded(const OvVector& centre, float radius) const {
  (void)centre, (void)radius;
  return false;
}

bool OvScene::SphereVisible(const OvVector& centre, float radius) const {
  if (!SphereInFrustum(centre, radius)) return false;
  return !(m_occlusion && m_view.valid && Occluded(centre, radius));
}

// ---------------------------------------------------------------------------
// The frame step.

void OvScene::Frame() {
  FrameStep();
  AdvanceTime();
}

void OvScene::TickTree(OvLogObj* first) {
  for (OvLogObj* o = first; o; o = o->m_next) {
    o->Tick(m_delta);
    if (auto* node = FrameNew<OvLogObjNode>(m_frameArena)) {
      *node = {o, nullptr};
      *m_visibleTail = node;
      m_visibleTail = &node->next;
    }
    if (o->m_firstChild) TickTree(o->m_firstChild);
  }
}

void OvScene::FrameStep() {
  RunHooks(1);
  if (!m_camera) {
    m_noCamera = true;
    // The clock moves on, the objects do not: no catching up later.
    m_prevTime = m_time;
    return;
  }
  ++m_frameCount;
  m_delta = OvTimeDelta(m_time, m_prevTime);
  m_prevTime = m_time;

  if (m_renderer) {
    m_renderer->SetBackgroundColour(m_background);
    if (m_clearBeforeFrame) m_renderer->ClearBackBuffer();
    m_renderer->BeginScene();
    m_renderer->SetAmbient(m_ambient);
  }
  if (OvInputDevice* input = OvGetInputDevice()) input->Update();

  m_vpWidth = m_renderer ? float(m_renderer->GetFrameWidth()) : 0.0f;
  m_vpHeight = m_renderer ? float(m_renderer->GetFrameHeight()) : 0.0f;
  m_vpHalfWidth = m_vpWidth * 0.5f;
  m_vpHalfHeight = m_vpHeight * 0.5f;
  m_vpInvHalfWidth = m_vpHalfWidth > 0.0f ? 1.0f / m_vpHalfWidth : 0.0f;
  m_vpInvHalfHeight = m_vpHalfHeight > 0.0f ? 1.0f / m_vpHalfHeight : 0.0f;

  ClearFrameLists();

  RunHooks(2);
  ++m_busy;

  m_ticking = true;
  TickTree(m_firstLogObj);
  m_ticking = false;
  SetupCamera();
  CallPassList(T2PA_AFTER_ANIM);

  RunHooks(3);
  SetupCamera();

  if (m_renderer) {
    m_renderer->SetDefaultStates(m_lighting);
    m_renderer->EnableFog(m_fogOn);
    if (m_fogOn) {
      m_renderer->SetFogColour(m_fogColour);
      m_renderer->SetFogRange(m_view.fogNear, m_view.fogFar, m_view.projection);
    }
    m_renderer->EnableZWrite(true);
    m_renderer->SetBackgroundColour(m_background);
    m_renderer->SetTexture(0, nullptr);
  }

  CallPassList(T2PA_BEFORE_CULL);
  for (OvLogObjNode* node = m_visible; node; node = node->next) {
    if (OvClump* first = node->object->GetClumps()) first->CullChain(*this);
  }
  for (int point = T2PA_AFTER_CULL0; point <= T2PA_AFTER_CULL4; ++point) CallPassList(point);

  if (m_renderer) m_renderer->RenderList(*this, m_renderList, m_lightList);

  CallPassList(T2PA_AFTER_RENDER);

  LowerBusy();

  CallHrchyList();

  ClearFrameLists();
  if (m_frameArena) m_frameArena->Reset();

  if (m_sound) {
    if (m_camera) {
      OvVector at;
      if (m_camera->GetWorldPos(at)) m_sound->SetListenerPosition(at);
      OvVector velocity;
      if (m_camera->GetVelocity(velocity)) m_sound->SetListenerOrientation(velocity);
    }
    m_sound->Update();
  }

  if (m_renderer) m_renderer->EndScene();
  RunHooks(4);
  ProcessPendingDeletions();
  m_busy = 0;
  if (m_renderer && m_presentAfterFrame) m_renderer->ShowBackBuffer();
}

// ---------------------------------------------------------------------------
// Time.

void OvScene::AdvanceTime() {
  if (m_forcedStep >= 0) {
    m_time = OvTimeAdd(m_time, m_forcedStep);
    m_forcedStep = -1;
    return;
  }
  const float minFrame = 1.0f / float(m_maxFrameRate);
  uint32_t now;
  float elapsed;
  const float due = minFrame > m_secPerUnit ? minFrame : m_secPerUnit;
  for (;;) {
    now = WallClock();
    elapsed = float(uint32_t(now - m_clockRef)) * 0.001f + m_carry;
    if (elapsed >= minFrame && elapsed >= m_secPerUnit) break;
    // Sleep until the step is due rather than spinning on the clock.
    const float ms = std::ceil((due - elapsed) * 1000.0f);
    const uint32_t wait = ms < 1.0f ? 1u : ms > 1000.0f ? 1000u : uint32_t(ms);
    if (m_sleepFn != nullptr)
      m_sleepFn(m_sleepContext, wait);
    else if (m_clockFn == nullptr)
      OvSleep(wait);
  }
  m_clockRef = now;
  if (elapsed > OV_MAX_FRAME_STEP_SEC) elapsed = OV_MAX_FRAME_STEP_SEC;
  const float unitsPerSec = float(TimePerSec());
  const int32_t d = int32_t(elapsed * unitsPerSec);
  m_time = OvTimeAdd(m_time, d);
  m_carry = elapsed - float(d) / unitsPerSec;
  if (m_carry < 0.0f) m_carry = 0.0f;
}

void OvScene::SetTimeBase(int32_t unitsPerSecond) {
  if (unitsPerSecond <= 0 || m_frameRate <= 0) return;
  int32_t q = unitsPerSecond / m_frameRate;
  if (q < 1) q = 1;  // fewer units than frames: one unit per frame
  m_unitsPerFrame = q;
  m_framesPerUnit = 1.0f / float(q);
  m_secPerUnit = 1.0f / float(unitsPerSecond);
}

void OvScene::SetFrameRate(int32_t framesPerSecond) {
  if (framesPerSecond <= 0) return;
  m_frameRate = framesPerSecond;
  m_framesPerUnit = m_secPerUnit * float(framesPerSecond);
  const long q = std::lround(1.0 / double(m_framesPerUnit));
  m_unitsPerFrame = q < 1 ? 1 : q > 1000000 ? 1000000 : int32_t(q);
}

void OvScene::ResetClock() {
  m_clockRef = WallClock();
  m_carry = 0.0f;
  m_noCamera = false;
}

// ---------------------------------------------------------------------------
// Deletion.

void OvScene::LowerBusy() {
  if (m_busy > 0) --m_busy;
  if (m_busy == 0) ProcessPendingDeletions();
}

void OvScene::DelLogObj(OvLogObj* object) {
  // Ignored while the scene tears itself down, and for an object that is
  // already being freed (a controller released with it may ask).
  if (!object || object->m_scene != this || m_shuttingDown || object->RefCount() <= 0) return;
  if (m_busy > 0) {
    auto* node = static_cast<PendingObject*>(AllocMem(sizeof(PendingObject)));
    if (!node) return;  // not deleted rather than deleted under a running walk
    object->AddRef();
    *node = {object, nullptr};
    *m_pendingObjectsTail = node;
    m_pendingObjectsTail = &node->next;
    return;
  }
  DeleteLogObjNow(object);
}

void OvScene::DelClump(OvClump* clump) {
  if (!clump || clump->GetScene() != this || m_shuttingDown || clump->RefCount() <= 0) return;
  if (m_busy > 0) {
    auto* node = static_cast<PendingClump*>(AllocMem(sizeof(PendingClump)));
    if (!node) return;
    clump->AddRef();
    *node = {clump, nullptr};
    *m_pendingClumpsTail = node;
    m_pendingClumpsTail = &node->next;
    return;
  }
  DeleteClumpNow(clump);
}

void OvScene::ProcessPendingDeletions() {
  while (m_pendingObjects || m_pendingClumps) {
    PendingObject* objects = m_pendingObjects;
    m_pendingObjects = nullptr;
    m_pendingObjectsTail = &m_pendingObjects;
    while (objects) {
      PendingObject* next = objects->next;
      OvLogObj* o = objects->object;
      if (o->m_scene == this) DeleteLogObjNow(o);
      o->Release();
      OvMFree(objects);
      objects = next;
    }
    PendingClump* clumps = m_pendingClumps;
    m_pendingClumps = nullptr;
    m_pendingClumpsTail = &m_pendingClumps;
    while (clumps) {
      PendingClump* next = clumps->next;
      OvClump* c = clumps->clump;
      if (c->GetLogObj() && c->GetScene() == this) DeleteClumpNow(c);
      c->Release();
      OvMFree(clumps);
      clumps = next;
    }
  }
}

void OvScene::ForgetObject(OvLogObj* object) {
  for (OvLogObj*& slot : m_leading) {
    if (slot == object) slot = nullptr;
  }
  if (m_camera && m_camera->GetLogObj() == object) m_camera = nullptr;
}

// Moves an object to the top level without moving it in the world.
static void ToTopLevelKeepingWorld(OvScene& scene, OvLogObj* object) {
  for (OvClump* c = object->GetClumps(); c; c = c->GetNextBrother()) c->NeedToWorldMatrix();
  object->Unlink();
  scene.OvScene::AddLogObjs(object);
  for (OvClump* c = object->GetClumps(); c; c = c->GetNextBrother()) c->AdjustVPMatrix();
}

void OvScene::DeleteLogObjNow(OvLogObj* object) {
  if (!object || object->m_scene != this || object->RefCount() <= 0) return;
  object->AddRef();  // kept while its children are handled
  // Watchers hear of it while the object is still whole.
  if (g_destructionWatchers > 0 && object->GetClumps() != nullptr && !m_shuttingDown)
    NotifyDestroyed(m_firstLogObj, object->GetClumps(), 0);
  if (!m_shuttingDown) NotifyLeaving(object->GetClumps(), true, 0);
  // Children that do not die with it become top-level objects.
  for (OvLogObj* child = object->m_firstChild; child;) {
    OvLogObj* next = child->m_next;
    if (!(child->m_objFlags & OV_LO_DIES_WITH_PARENT)) ToTopLevelKeepingWorld(*this, child);
    child = next;
  }
  while (OvLogObj* child = object->m_firstChild) {
    if (child->m_scene == this) {
      DeleteLogObjNow(child);
    } else {
      OvLogObjChainRemove(object->m_firstChild, child);  // never stall
      child->m_parent = nullptr;
      child->Release();
    }
  }
  ForgetObject(object);
  object->Unlink();
  // Freed now: its scene stays readable while it goes. Held elsewhere: it
  // has left the scene.
  if (object->RefCount() > 2) object->SetSceneTree(nullptr);
  object->Release();  // the tree's reference
  object->Release();
}

void OvScene::DetachObjectsLinkedTo(OvClump* subtree, bool deleteDying) {
  OvLogObj* owner = subtree->GetLogObj();
  if (!owner) return;
  for (OvLogObj* child = owner->m_firstChild; child;) {
    OvLogObj* next = child->m_next;
    if (child->m_linkedClump && child->m_linkedClump->IsDescendFrom(subtree)) {
      if (deleteDying && (child->m_objFlags & OV_LO_DIES_WITH_PARENT)) {
        DeleteLogObjNow(child);
      } else {
        ToTopLevelKeepingWorld(*this, child);
      }
    }
    child = next;
  }
}

void OvScene::DeleteClumpNow(OvClump* clump) {
  if (!clump || clump->GetScene() != this || clump->RefCount() <= 0) return;
  if (m_camera && m_camera->IsDescendFrom(clump)) m_camera = nullptr;
  clump->AddRef();
  if (!m_shuttingDown) NotifyLeaving(clump, false, 0);
  DetachObjectsLinkedTo(clump, true);
  clump->Unlink();
  // Freed now: its object stays readable while it goes. Held elsewhere: it
  // has left its object.
  if (clump->RefCount() > 2) clump->SetLogObjTree(nullptr);
  clump->Release();  // the tree's reference
  clump->Release();
}

// ---------------------------------------------------------------------------
// Searches.

OvLogObj* OvScene::SearchLogObj(const char* name) const {
  return m_firstLogObj ? m_firstLogObj->SearchLogObj(name) : nullptr;
}

OvLogObj* OvScene::SearchLogObj_ID(int32_t id, int32_t serial) const {
  return m_firstLogObj ? m_firstLogObj->SearchLogObj_ID(id, serial) : nullptr;
}

OvClump* OvScene::SearchClump(const char* name) const { return SearchClumpInObjects(m_firstLogObj, name); }

OvClump* OvScene::SearchClump_ID(int32_t id, int32_t serial) const {
  return SearchClumpIdInObjects(m_firstLogObj, id, serial);
}

OvClump* OvScene::SearchLogObjClump(const char* objectName, const char* clumpName) const {
  OvLogObj* o = SearchLogObj(objectName);
  return o ? o->LoSearchClump(clumpName) : nullptr;
}

OvLogObj* OvScene::GetLeadingLogObj(int index) const {
  return index >= 0 && index < OV_LEADING_SLOTS ? m_leading[index] : nullptr;
}

bool OvScene::SetLeadingLogObj(int index, OvLogObj* object) {
  if (index < 0 || index >= OV_LEADING_SLOTS) return false;
  if (object && object->m_scene != this) return false;
  m_leading[index] = object;
  return true;
}

// ---------------------------------------------------------------------------
// Camera.

bool OvScene::UseCamera(OvClump* clump) {
  // Only a camera of this scene: the scene forgets it when it is deleted.
  if (!clump || !clump->IsCamera() || m_cameraLocked || clump->GetScene() != this) return false;
  m_camera = clump;
  return true;
}

bool OvScene::UseCamera_ID(int32_t id) { return UseCamera(SearchClump_ID(id, -1)); }

void OvScene::SetupCamera() {
  const bool vertexFog = m_renderer && m_renderer->UsesVertexFog();
  if (!m_camera || !OvCameraSetupView(m_view, *m_camera, m_vpWidth, m_vpHeight, vertexFog)) {
    m_view.valid = false;
    return;
  }
  if (m_renderer) {
    m_renderer->SetViewMatrix(m_view.view);
    m_renderer->SetProjectionMatrix(m_view.projection);
  }
}

const OvMatrix* OvScene::GetCameraToWorldMatrix() const { return m_camera ? m_camera->GetToWorldMatrix() : nullptr; }

OvVector OvScene::FilmCoordToWorldVector(float x, float y) const {
  if (!m_camera || !m_renderer) return {0.0f, 0.0f, 0.0f};
  return OvFilmCoordToWorldVector(m_view, m_camera->GetToWorldMatrix(), x, y, m_vpWidth, m_vpHeight);
}

// ---------------------------------------------------------------------------
// Content.

bool OvScene::InstantiateDatabase(OvDatabase& db) {
  db.SetInstantiating(true);
  const OvDbHeader& header = db.Header();
  if (header.fogColor) {
    m_fogColour = *header.fogColor;
    m_fogOn = true;
  }
  m_background = header.background;
  m_ambient = header.ambient;
  m_lighting = header.lighting;

  bool ok = true;
  db.SetCreatingInitialObjects(true);
  for (uint32_t i = 0; i < db.LogObjRecordCount(); ++i) {
    const OvLogObjRecord* rec = db.LogObjRecord(int32_t(i));
    if (!rec || (rec->creationFlags & 0x3)) continue;  // templates live through emission only
    OvLogObj* o = OvLogObj::CreateFromRecord(db, int32_t(i));
    if (!o) {
      ok = false;
      continue;
    }
    AddLogObjs(o);
    o->GotoFrame(m_time);
  }
  db.SetCreatingInitialObjects(false);

  if (header.cameraId != -1) {
    OvClump* camera = SearchClump_ID(header.cameraId, db.Serial());
    if (!camera || !UseCamera(camera)) ok = false;
  }
  const int64_t rate = int64_t(header.frameRate);
  const int64_t units = rate * int64_t(header.timeUnitsPerFrame);
  if (rate > 0 && units > 0 && units <= 0x7FFFFFFF) {
    SetTimeBase(int32_t(units));
    SetFrameRate(int32_t(rate));
  } else {
    ok = false;  // a clock the content cannot mean; the default stays
  }
  db.SetInstantiating(false);
  OvCollisionInstall(*this, db);
  return ok;
}
