#include "ov_memo_board.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "ov_ac_del_tex.h"
#include "ov_clock.h"
#include "ov_clock_look.h"
#include "ov_clump.h"
#include "ov_content_switch.h"
#include "ov_database.h"
#include "ov_drawing_paper.h"
#include "ov_input.h"
#include "ov_json_writer.h"
#include "ov_logobj.h"
#include "ov_mesh.h"
#include "ov_note_files.h"
#include "ov_pick.h"
#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_script_host.h"
#include "ov_std_material.h"
#include "ov_texture_builder.h"
#include "ov_trace.h"
#include "ov_vkeys.h"

namespace {

// Recovery file: "KMRS", int32 kind, the opened note's file name (zero
// padded; empty for a new sheet), then the picture as a note file.
constexpr int kRecoveryHead = 28;

bool Contains(const char* name, const char* part) { return name != nullptr && std::strstr(name, part) != nullptr; }

const char* NameOf(const OvClump* clump) { return clump && clump->GetName() ? clump->GetName() : ""; }

// Local box of a clump's mesh: min and max.
bool LocalBox(const OvClump* clump, OvVector& lo, OvVector& hi) {
  const OvMesh* mesh = clump ? clump->GetMesh() : nullptr;
  if (!mesh || !mesh->bounds) return false;
  lo = {mesh->bounds[4], mesh->bounds[5], mesh->bounds[6]};
  hi = {mesh->bounds[7], mesh->bounds[8], mesh->bounds[9]};
  return true;
}

// Strictly inside the x and y extent of the clump's box, in its frame.
bool InsideArea(OvClump* clump, const OvVector& p) {
  OvVector lo, hi;
  if (!LocalBox(clump, lo, hi)) return false;
  const OvMatrix* world = clump->NeedToWorldMatrix();
  if (!world) return false;
  OvMatrix inverse;
  OvMatInversePRS(inverse, *world);
  OvVector local;
  OvXformPoint(local, p, inverse);
  return local.x > lo.x && local.x < hi.x && local.y > lo.y && local.y < hi.y;
}

void SetTreeVisible(OvClump* clump, bool visible, int depth = 0) {
  for (OvClump* c = clump; c && depth < 64; c = c->GetNextBrother()) {
    visible ? c->SetVisible() : c->SetInvisible();
    SetTreeVisible(c->GetChild(), visible, depth + 1);
  }
}

}  // namespace

void _CStageScene::AddLogObjs(OvLogObj* chain) {
  // The sink sees each new object once it is in the scene.
  std::vector<OvLogObj*> added;
  for (OvLogObj* o = chain; o; o = o->LoGetNextBrother()) added.push_back(o);
  OvScene::AddLogObjs(chain);
  if (m_sink)
    for (OvLogObj* o : added) m_sink->OnObjectAdded(o);
}

int32_t OvIdleSleepMs(uint32_t idleMs, bool atRest, int32_t k, bool* skipFrame) {
  if (skipFrame) *skipFrame = false;
  if (atRest && idleMs > 13000) {
    if (skipFrame) *skipFrame = true;
    return int32_t(std::min<uint32_t>(idleMs / 256, 200));
  }
  if (!atRest && idleMs > 120000 && k != 30) {
    // A forced step above 30 units asks for no wait at all.
    return k < 30 ? 30 - k : 0;
  }
  return 0;
}

OvMemoBoard::OvMemoBoard() = default;

OvMemoBoard::~OvMemoBoard() { Terminate(); }

bool OvMemoBoard::IsBoardContent(const OvScene& scene) { return scene.SearchClump("_cursor") != nullptr; }

std::vector<std::string> OvMemoBoard::MissingNames(const OvScene& scene, const OvDatabase& database) {
  std::vector<std::string> missing;
  for (const char* name : OvBoardNames::kRequiredObjects)
    if (!scene.SearchClump(name)) missing.push_back(name);
  for (const char* name : OvBoardNames::kRequiredTemplates)
    if (database.FindClumpRecordIndex(name) < 0) missing.push_back(name);
  return missing;
}

void OvMemoBoard::Hold(OvClump*& slot, OvClump* clump) {
  if (slot == clump) return;
  if (clump) clump->AddRef();
  if (slot) slot->Release();
  slot = clump;
}

bool OvMemoBoard::Start(const Services& services) {
  m_s = services;
  OvScene& scene = *m_s.scene;
  m_trashMarkers.SetScene(m_s.scene);
  std::srand(m_s.seed != 0 ? m_s.seed : OvTickCount());
  m_lastActivity = OvTickCount();

  m_rubber = scene.SearchClump("_exp_pick2_rubber");
  char name[32];
  for (int i = 0; i < 4; ++i) {
    std::snprintf(name, sizeof(name), "_exp_pick2_pen%02d", i);
    m_pens[i] = scene.SearchClump(name);
    std::snprintf(name, sizeof(name), "_noteRoot%02d", i);
    m_noteTemplates[i] = m_s.database->FindClumpRecordIndex(name);
    std::snprintf(name, sizeof(name), "_%02dnoteXRoot", i);
    m_recycleTemplates[i] = m_s.database->FindClumpRecordIndex(name);
    std::snprintf(name, sizeof(name), "_editPaper%02d", i);
    m_editPapers[i] = scene.SearchClump(name);
    if (m_editPapers[i]) m_editPapers[i]->SetInvisible();
  }
  m_cursorClump = scene.SearchClump("_cursor");
  m_editUIRoot = scene.SearchClump("_editUIRoot");
  m_board = scene.SearchClump("_BkBoard");
  m_noDrop[0] = scene.SearchClump("_0XBkBoard");
  m_noDrop[1] = scene.SearchClump("_1XBkBoard");
  m_cancelBtn = scene.SearchClump("_pick1_pick3_CancelBtn");
  m_camRote = scene.SearchClump("D_CamRote");
  m_closeBtn = scene.SearchClump("_pick1_CloseBtn");
  m_invisiblePlace = scene.SearchClump("_InvisiblePlace");
  if (m_invisiblePlace) {
    m_invisiblePlace->SetPos(ParkingPlace());
    m_invisiblePlace->MarkChanged(ACF_POS);
  }
  // Held: content may delete any of them (DropLostObjects).
  for (const NamedSlot& n : NamedSlots())
    if (*n.slot) (*n.slot)->AddRef();

  m_paper = new OvDrawingPaper(m_s.renderer);
  if (m_paper && !m_paper->Init()) Trace("!!! The drawing paper has no film: notes cannot be written.\n");
  SelectPen(0);

  m_cursor = new OvAcNoteMCursor(m_s.input);
  if (m_cursor) {
    m_cursor->SetIncludeFilter("_pick1_");
    if (!m_cursorClump || !m_cursorClump->AddAniCtrl(m_cursor)) {
      delete m_cursor;
      m_cursor = nullptr;
    }
  }

  // A language may give the weekday digit its own look.
  if (OvClump* clock = scene.SearchClump("_clock"))
    if (!OvStartClock(clock->GetLogObj(), m_s.localised)) Trace("!!! The clock could not be started.\n");

  m_started = true;
  if (!m_store.Open(m_s.dataFolder)) {
    _TraceFormat("!!! The notes cannot be opened in '%s': %s\n", m_s.dataFolder.c_str(), m_store.LastError().c_str());
    return false;
  }
  LoadNotes();
  RestoreRecovery();
  return true;
}

// ---------------------------------------------------------------------------
// Notes.

OvClump* OvMemoBoard::NoteClump(OvLogObj* note) const {
  if (!note) return nullptr;
  OvClump* c = note->LoSearchClump("_pick1_drag_paper");
  return c ? c : note->GetClumps();
}

int OvMemoBoard::NoteKind(OvLogObj* note) const {
  auto it = m_noteFiles.find(note);
  int kind = 0;
  uint64_t time = 0;
  if (it != m_noteFiles.end() && OvParseNoteFileName(it->second, kind, time)) return kind;
  return 0;
}

OvLogObj* OvMemoBoard::MakeNote(int kind, const OvVector& pos) {
  if (kind < 0 || kind > 3 || m_noteTemplates[kind] < 0) return nullptr;
  OvMatrix placement;
  OvMatrixIdentity(placement);
  OvMatrixSetPos(placement, pos);
  OvLogObj* note = OvEmitObjectCore(*m_s.scene, &placement, *m_s.database, m_noteTemplates[kind], -1, false, false);
  if (note) note->AddRef();
  return note;
}

OvGLTexture* OvMemoBoard::TextureFromImage(const std::vector<uint8_t>& bgra) {
  constexpr int kFilm = OvDrawingPaper::kFilmSize;
  if (bgra.size() != size_t(kFilm) * kFilm * 4 || !m_s.renderer) return nullptr;
  std::vector<uint32_t> full(size_t(kFilm) * kFilm), half(full.size() / 4), quarter(full.size() / 16);
  std::memcpy(full.data(), bgra.data(), bgra.size());
  HalveImage32(half.data(), full.data(), kFilm, kFilm);
  HalveImage32(quarter.data(), half.data(), kFilm / 2, kFilm / 2);
  OvImageDesc desc;
  desc.pixels32 = quarter.data();
  desc.width = desc.height = OvDrawingPaper::kNoteTextureSize;
  desc.alphaBits = desc.redBits = desc.greenBits = desc.blueBits = 8;
  OvTextureBuilder builder(m_s.renderer);
  OvGLTexture* texture = LoadTexture(desc, builder);
  builder.EndBuilding();
  return texture;
}

bool OvMemoBoard::ShowTexture(OvClump* clump, OvGLTexture* texture) {
  return OvSetClumpTexture(clump, texture, nullptr);
}

void OvMemoBoard::DeleteObject(OvLogObj* object) { m_s.scene->DelLogObj(object); }

void OvMemoBoard::SetNoteTexture(OvLogObj* note, OvGLTexture* texture) {
  OvClump* clump = NoteClump(note);
  if (!clump || !texture) {
    if (texture && m_s.renderer) OvReleaseTexture(*m_s.renderer, texture);
    return;
  }
  if (OvAcDelTexWithClump* holder = OvAcDelTexWithClump::FindOn(clump)) {
    ShowTexture(clump, texture);
    holder->ReplaceTexture(texture);
  } else {
    OvAcDelTexWithClump* ctrl = OvAcDelTexWithClump::Create(m_s.renderer, texture);
    if (!ctrl || !clump->AddAniCtrl(ctrl)) {
      if (ctrl)
        ctrl->Release();
      else
        OvReleaseTexture(*m_s.renderer, texture);
      return;
    }
  }
  ShowTexture(clump, texture);
}

void OvMemoBoard::BringToFront(OvLogObj* note) {
  if (!note) return;
  auto it = std::find(m_noteStack.begin(), m_noteStack.end(), note);
  if (it == m_noteStack.end())
    note->AddRef();
  else
    m_noteStack.erase(it);
  m_noteStack.insert(m_noteStack.begin(), note);
  ApplyFrontDepth();
}

void OvMemoBoard::ApplyFrontDepth() {
  if (m_noteStack.empty()) return;
  OvClump* root = m_noteStack.front()->GetClumps();
  if (!root) return;
  OvVector p = root->GetPos();
  p.y = OV_NOTE_FRONT_DEPTH - float(m_noteStack.size() - 1) * OV_NOTE_DEPTH_STEP;
  root->SetPos(p);
  root->MarkChanged(ACF_POS);
}

void OvMemoBoard::RemoveFromStack(OvLogObj* note) {
  auto it = std::find(m_noteStack.begin(), m_noteStack.end(), note);
  if (it == m_noteStack.end()) return;
  // Notes in front move back one step so the stack stays dense.
  for (auto f = m_noteStack.begin(); f != it; ++f) {
    if (OvClump* root = (*f)->GetClumps()) {
      OvVector p = root->GetPos();
      p.y += OV_NOTE_DEPTH_STEP;
      root->SetPos(p);
      root->MarkChanged(ACF_POS);
    }
  }
  m_noteStack.erase(it);
  note->Release();
}

void OvMemoBoard::Hide(OvLogObj* note) {
  if (!note || m_hidden.count(note)) return;
  note->AddRef();
  HiddenEntry entry{note->GetParentClump(), false};
  if (entry.parent) entry.parent->AddRef();
  // While the scene ticks the tree cannot be re-linked; the note is only
  // made invisible then.
  if (m_invisiblePlace && note->ChangeParentClump(m_invisiblePlace, false)) {
    entry.reparented = true;
    if (OvClump* root = note->GetClumps()) root->MarkChanged(ACF_LOG_OBJ_LINK);
  } else {
    SetTreeVisible(note->GetClumps(), false);
  }
  m_hidden[note] = entry;
}

void OvMemoBoard::Show(OvLogObj* note) {
  auto it = m_hidden.find(note);
  if (it == m_hidden.end()) return;
  HiddenEntry entry = it->second;
  if (entry.reparented) {
    if (!note->ChangeParentClump(entry.parent, false)) {
      m_showPending.push_back(note);  // retried after the frame
      return;
    }
    if (OvClump* root = note->GetClumps()) root->MarkChanged(ACF_LOG_OBJ_LINK);
  } else {
    SetTreeVisible(note->GetClumps(), true);
  }
  note->GotoFrame(0);
  m_hidden.erase(it);
  if (entry.parent) entry.parent->Release();
  note->Release();
}

void OvMemoBoard::ShowAll() {
  std::vector<OvLogObj*> notes;
  for (auto& e : m_hidden) notes.push_back(e.first);
  for (OvLogObj* n : notes) Show(n);
}

bool OvMemoBoard::IsAllowedPosition(const OvVector& p) const {
  if (!m_board) return true;  // the content removed it: notes go anywhere
  if (!InsideArea(m_board, p)) return false;
  for (OvClump* area : m_noDrop)
    if (area && InsideArea(area, p)) return false;
  return true;
}

OvVector OvMemoBoard::RandomBoardPosition() {
  if (!m_board) return {0, 0, 0};  // removed by the content, which was said once
  OvVector lo, hi;
  const OvMatrix* world = m_board ? m_board->NeedToWorldMatrix() : nullptr;
  if (!world || !LocalBox(m_board, lo, hi)) {
    Trace("!!! No board to place a note on: the note goes to the origin.\n");
    return {0, 0, 0};
  }
  for (int i = 0; i < OV_BOARD_POSITION_DRAWS; ++i) {
    OvVector local{lo.x + float(std::rand() % 32768) / 32767.0f * (hi.x - lo.x),
                   lo.y + float(std::rand() % 32768) / 32767.0f * (hi.y - lo.y), lo.z};
    OvVector p;
    OvXformPoint(p, local, *world);
    if (IsAllowedPosition(p)) return p;
  }
  // The no-drop areas cover the board: its centre, allowed or not.
  OvVector centre{(lo.x + hi.x) * 0.5f, (lo.y + hi.y) * 0.5f, lo.z}, p;
  OvXformPoint(p, centre, *world);
  _TraceFormat("!!! No allowed board position in %d draws: the note goes to the board's centre.\n",
               OV_BOARD_POSITION_DRAWS);
  return p;
}

void OvMemoBoard::LoadNotes() {
  OvBoardLoad load;
  m_store.LoadNotes(load, [this](int, const std::string&, float pos[3]) {
    OvVector p = RandomBoardPosition();
    pos[0] = p.x, pos[1] = p.y, pos[2] = p.z;
  });
  for (const std::string& problem : load.problems) _TraceFormat("notes: %s\n", problem.c_str());
  // Back first, so the front note ends at the front.
  for (auto it = load.notes.rbegin(); it != load.notes.rend(); ++it) {
    OvLogObj* note = MakeNote(it->kind, OvVector{it->pos[0], it->pos[1], it->pos[2]});
    if (!note) {
      _TraceFormat("!!! The note %s has no template of kind %d.\n", it->file.c_str(), it->kind);
      continue;
    }
    m_noteFiles[note] = it->file;
    std::vector<uint8_t> image;
    if (m_store.ReadImage(it->file, false, image)) SetNoteTexture(note, TextureFromImage(image));
    BringToFront(note);
    note->Release();  // the stack holds it
  }
  std::vector<std::string> problems;
  m_trashMarkers.Restore(*m_s.database, load.markers, load.recycleCount, problems);
  for (const std::string& problem : problems) _TraceFormat("notes: %s\n", problem.c_str());
}

void OvMemoBoard::SaveIndex() {
  std::vector<OvBoardNote> notes;
  for (OvLogObj* note : m_noteStack) {
    auto it = m_noteFiles.find(note);
    if (it == m_noteFiles.end()) continue;
    OvBoardNote n;
    n.file = it->second;
    n.kind = NoteKind(note);
    if (OvClump* root = note->GetClumps()) {
      const OvVector& p = root->GetPos();
      n.pos[0] = p.x, n.pos[1] = p.y, n.pos[2] = p.z;
    }
    notes.push_back(n);
  }
  if (!m_store.SaveNotes(notes, m_trashMarkers.Records()))
    _TraceFormat("!!! The note index was not saved: %s\n", m_store.LastError().c_str());
  ShowSaveProblem();
}

void OvMemoBoard::ShowSaveProblem() {
  const std::string problem = m_store.SaveProblem();
  if (problem == m_shownProblem) return;
  m_shownProblem = problem;
  if (problem.empty())
    Trace("Notes are saved again.\n");
  else
    _TraceFormat("!!! Notes are not being saved: %s\n", problem.c_str());
}

void OvMemoBoard::RecycleFront() {
  if (m_noteStack.empty()) return;
  OvLogObj* note = m_noteStack.front();
  auto it = m_noteFiles.find(note);
  const std::string file = it != m_noteFiles.end() ? it->second : std::string();
  if (!file.empty() && !m_store.RecycleNote(file)) {
    // The file stays: so does the note.
    _TraceFormat("!!! The note %s stays on the board: %s\n", file.c_str(), m_store.LastError().c_str());
    return;
  }
  if (it != m_noteFiles.end()) m_noteFiles.erase(it);
  note->AddRef();
  RemoveFromStack(note);
  DeleteObject(note);
  note->Release();
  SaveIndex();
}

// ---------------------------------------------------------------------------
// Modes and picks.

const char* OvMemoBoard::PickFilter() const { return m_cursor ? m_cursor->IncludeFilter() : ""; }

bool OvMemoBoard::PointerOwned() const {
  return std::strstr(PickFilter(), "pick1") == nullptr || m_dragHeld != nullptr ||
         (m_cursor && (m_cursor->Held() != nullptr || m_cursor->Dragged() != nullptr));
}

void OvMemoBoard::Pulse(OvClump* clump, uint32_t mask, uint32_t value) {
  if (!clump) return;
  mask &= 0xFFFFu;
  clump->SetSwitch(mask, value);
  clump->AddRef();
  // The inverse, not the bits before: a second pulse of the same bit in one
  // frame would otherwise restore the first one's value for good.
  m_pulses.push_back({clump, mask, ~value & mask});
}

void OvMemoBoard::FlushPulses() {
  for (const PulseEntry& p : m_pulses) {
    p.clump->SetSwitch(p.mask, p.restore);
    p.clump->Release();
  }
  m_pulses.clear();
}

std::vector<OvMemoBoard::NamedSlot> OvMemoBoard::NamedSlots() {
  return {{&m_rubber, "the rubber"},
          {&m_pens[0], "pen 0"},
          {&m_pens[1], "pen 1"},
          {&m_pens[2], "pen 2"},
          {&m_pens[3], "pen 3"},
          {&m_editPapers[0], "editing notes of kind 0"},
          {&m_editPapers[1], "editing notes of kind 1"},
          {&m_editPapers[2], "editing notes of kind 2"},
          {&m_editPapers[3], "editing notes of kind 3"},
          {&m_cursorClump, "picking and dragging"},
          {&m_editUIRoot, "the edit paper's flight"},
          {&m_board, "keeping notes on the board"},
          {&m_noDrop[0], "its no-drop area"},
          {&m_noDrop[1], "its no-drop area"},
          {&m_cancelBtn, "the cancel pulse"},
          {&m_camRote, "the camera turn and the idle rest"},
          {&m_closeBtn, "the close button"},
          {&m_invisiblePlace, "parking hidden notes"}};
}

void OvMemoBoard::DropLostObjects() {
  for (const NamedSlot& n : NamedSlots()) {
    OvClump* c = *n.slot;
    if (!c || c->GetScene() == m_s.scene) continue;
    _TraceFormat("### The content removed '%s': %s stops.\n", NameOf(c), n.use);
    if (c == m_editPaper) LostEditPaper();
    if (c == m_cursorClump && m_cursor) c->DelAniCtrl(m_cursor);  // the board keeps it, unattached
    *n.slot = nullptr;
    c->Release();
  }
}

void OvMemoBoard::LostEditPaper() {
  // The edit cannot go on: its note comes back as it was.
  if (m_paper) m_paper->Destroy();
  m_editPaper = nullptr;
  m_sheetOpen = false;
  m_dropFlight = false;
  if (m_editNote) {
    Show(m_editNote);
  } else {
    if (m_cursor) m_cursor->SetIncludeFilter("_pick1_");
    SetCamRote(false);
  }
}

void OvMemoBoard::NoteRecycleGestures(bool leftDown, bool leftClick) {
  ++m_frame;
  // A note let go: the press that ends now dragged one (a refused place may
  // have ended the drag itself earlier).
  const bool leftUp = m_s.input && m_s.input->IsClickUp(OV_INPUT_MOUSE_LEFT);
  bool gesture = (m_dragHeld && !leftDown) || (leftUp && m_pressDragged);
  if (leftClick || leftUp) m_pressDragged = false;
  if (leftClick && m_cursor && m_cursor->Click() && m_cursor->Clicked()) {
    OvLogObj* owner = m_cursor->Clicked()->GetLogObj();
    gesture = gesture || (owner && Contains(owner->LoGetName(), "TrashCan"));
  }
  if (gesture) {
    m_recycleCredit = 1;
    m_gestureFrame = m_frame;
  }
}

void OvMemoBoard::SetCamRote(bool on) {
  if (m_camRote) m_camRote->SetSwitch(1, on ? 1 : 0);
}

bool OvMemoBoard::CamRoteBit() const { return m_camRote && (m_camRote->GetSwitch() & 1) != 0; }

int32_t OvMemoBoard::CamLocalTime() const {
  OvLogObj* o = m_camRote ? m_camRote->GetLogObj() : nullptr;
  return o ? o->GetCrntFrame() : OV_CAMERA_REST_TIME;
}

void OvMemoBoard::SelectPen(int pen) {
  if (!m_paper || pen < 0 || pen > 3) return;
  m_paper->SetBrush(OvClumpShownTexture(m_pens[pen]), true, OvDrawingPaper::kPenWidth);
}

void OvMemoBoard::SelectRubber() {
  if (m_paper) m_paper->SetBrush(OvClumpShownTexture(m_rubber), false, OvDrawingPaper::kRubberWidth);
}

void OvMemoBoard::SetExpHighlight(OvClump* clump) {
  if (m_expHighlight && m_expHighlight != clump) Pulse(m_expHighlight, 2, 2);
  Hold(m_expHighlight, clump);
}

bool OvMemoBoard::BeforeScene(int inputActivity) {
  DropLostObjects();
  const uint32_t now = OvTickCount();
  const uint32_t idle = now - m_lastActivity;
  if (inputActivity) {
    m_lastActivity = now;
  } else {
    const float spu = m_s.scene->SecondsPerUnit();
    const int32_t step = m_s.scene->PendingForcedStep() > 0 ? m_s.scene->PendingForcedStep() : -1;
    bool skip = false;
    const int32_t sleep = OvIdleSleepMs(idle, m_idleView, int32_t(spu) * step, &skip);
    if (sleep > 0) OvSleep(uint32_t(sleep));
    if (skip) return false;
  }
  m_idleView = CamLocalTime() == OV_CAMERA_REST_TIME;
  return true;
}

bool OvMemoBoard::AfterScene() {
  DropLostObjects();
  FlushPulses();
  OvInputDevice* input = m_s.input;
  const bool leftDown = input && input->IsDown(OV_INPUT_MOUSE_LEFT);
  const bool leftClick = input && input->IsClickDown(OV_INPUT_MOUSE_LEFT);
  int mx = 0, my = 0;
  if (input) input->GetPos(mx, my);
  if (CamLocalTime() != OV_CAMERA_REST_TIME) {
    m_idleView = false;
    if (leftClick) {
      if (OvClump* hit =
              OvPickFilmCoord(float(mx), float(my), *m_s.scene, "_pick1_CloseBtn", "_expick_", nullptr, nullptr))
        Pulse(hit, 1, 1);
    }
  }
  if (m_closeBtn && (m_closeBtn->GetSwitch() & 2) != 0) {
    OvRequestContentChange("");
    return false;
  }
  // Notes whose re-linking had to wait for the scene to stop ticking.
  std::vector<OvLogObj*> waiting;
  waiting.swap(m_showPending);
  for (OvLogObj* note : waiting) Show(note);

  NoteRecycleGestures(leftDown, leftClick);
  std::vector<OvLogObj*> added;
  added.swap(m_addedPending);
  // A "del_" object recycles its note before any marker of the same frame
  // is weighed against the bin's count, whichever the content made first.
  std::stable_partition(added.begin(), added.end(), [](OvLogObj* o) {
    const char* name = o->LoGetName();
    return name && std::strncmp(name, "del_", 4) == 0;
  });
  for (OvLogObj* object : added) {
    HandleAdded(object);
    object->Release();
  }

  if (m_cursor) m_cursor->SetSuspended(!m_idleView);
  if (leftClick && std::strchr(PickFilter(), '1')) {
    OvClump* clicked = m_cursor && m_cursor->Click() ? m_cursor->Clicked() : nullptr;
    OvLogObj* owner = clicked ? clicked->GetLogObj() : nullptr;
    if (!clicked ||
        (m_cancelBtn && !m_cancelBtn->IsInvisible() && !(owner && Contains(owner->LoGetName(), "TrashCan"))))
      Pulse(m_cancelBtn, 1, 1);
  }
  PickDispatch();
  HandleDrag();
  if (m_paper) m_paper->DrawFrame(*m_s.scene, float(mx), float(my), leftDown);
  if (!HandleKeys()) return false;
  KeepRecovery();
  if (m_dropFlight && !(m_editPaper && m_editPaper->FindAniCtrlByTag(OvAcMoveTo::ClassTag()))) EndDropFlight();

  if (m_editNote && !IsHidden(m_editNote)) {
    if (m_cursor) m_cursor->SetIncludeFilter("pick1");
    SetCamRote(false);
    BringToFront(m_editNote);
    m_editNote = nullptr;
    SaveIndex();
  }
  if (m_dragSave.Due(OvTickCount())) SaveIndex();
  return true;
}

void OvMemoBoard::PickDispatch() {
  if (!m_cursor || m_cursor->Dragged()) return;
  OvClump* clicked = m_cursor->Click() ? m_cursor->Clicked() : nullptr;
  if (!clicked) {
    Hold(m_highlighted, nullptr);
    return;
  }
  if (clicked == m_highlighted) return;
  if (clicked != m_expHighlight) SetExpHighlight(Contains(NameOf(clicked), "_exp_") ? clicked : nullptr);
  Hold(m_highlighted, clicked);
  Pulse(clicked, 1, 1);
  Dispatch(clicked);
}

void OvMemoBoard::Dispatch(OvClump* clicked) {
  const char* name = NameOf(clicked);
  if (Contains(name, "pick3_") && m_recycleBin)
    if (OvClump* bin = m_recycleBin->GetClumps()) bin->SetSwitch(4, 0);
  if (Contains(name, "pick1_")) {
    if (Contains(name, "noteBox")) {
      m_cursor->SetIncludeFilter("_pick2_");
      SetCamRote(true);
      Pulse(m_pens[0], 1, 1);
      SetExpHighlight(m_pens[0]);
      return;
    }
    if (Contains(name, "ReturnBtn")) {
      m_cursor->SetIncludeFilter("_pick3_");
      SetCamRote(true);
      return;
    }
    if (Contains(name, "CancelBtn")) {
      m_cursor->SetIncludeFilter("_pick1_");
      SetCamRote(false);
      CloseRecycleView();
      return;
    }
    if (Contains(name, "ClearBtn")) {
      if (!m_store.EmptyRecycleBin()) _TraceFormat("!!! The bin was not emptied: %s\n", m_store.LastError().c_str());
      if (m_store.RecycleCount() == 0) m_trashMarkers.Forget();
      m_trashMarkers.Trim(m_store.RecycleCount());
      ClearRecycleLayout();
      if (m_recycleBin) OpenRecycleView(m_recycleBin);
      return;
    }
  }
  if (Contains(name, "_pick2_")) {
    if (Contains(name, "pen0")) {
      const size_t n = std::strlen(name);
      SelectPen(name[n - 1] - '0');
    } else if (Contains(name, "rubber")) {
      SelectRubber();
    } else if (Contains(name, "ok")) {
      FinishEdit();
    }
    return;
  }
  if (Contains(name, "pick3_")) {
    OvLogObj* owner = clicked->GetLogObj();
    auto it = m_recycled.end();
    for (OvLogObj* o = owner; o && it == m_recycled.end(); o = o->LoGetParent()) it = m_recycled.find(o);
    if (Contains(name, "delnote") && it != m_recycled.end()) {
      if (m_store.DeleteRecycled(it->second)) {
        DeleteObject(it->first);
        it->first->Release();
        m_recycled.erase(it);
        m_trashMarkers.Trim(m_store.RecycleCount());
        SaveIndex();
      }
    } else if (Contains(name, "RreturnNote") && it != m_recycled.end()) {
      const std::string file = it->second;
      if (m_store.ReturnNote(file)) {
        int kind = 0;
        uint64_t time = 0;
        OvParseNoteFileName(file, kind, time);
        OvLogObj* note = MakeNote(kind, RandomBoardPosition());
        if (note) {
          m_noteFiles[note] = file;
          std::vector<uint8_t> image;
          if (m_store.ReadImage(file, false, image)) SetNoteTexture(note, TextureFromImage(image));
          BringToFront(note);
        }
        if (!FlyBack(it->first, note)) DeleteObject(it->first);
        if (note) note->Release();  // the stack holds it
        it->first->Release();
        m_recycled.erase(it);
        m_trashMarkers.Trim(m_store.RecycleCount());
        SaveIndex();
      }
    } else if (Contains(name, "RecycleBinBk") && m_recycleBin) {
      if (OvClump* bin = m_recycleBin->GetClumps()) bin->SetSwitch(4, 4);
    }
  }
}

void OvMemoBoard::HandleDrag() {
  if (!m_cursor) return;
  OvClump* dragged = m_cursor->Dragged();
  if (dragged) {
    OvLogObj* note = dragged->GetLogObj();
    OvClump* root = note ? note->GetClumps() : nullptr;
    if (root) {
      // The cursor moved the note after the world matrices were made.
      root->CalcToWorldMatrix();
      OvVector p;
      if (!root->GetWorldPos(p)) p = root->GetPos();
      if (IsAllowedPosition(p)) {
        m_lastValid = root->GetPos();
      } else {
        root->SetPos(m_lastValid);
        root->MarkChanged(ACF_POS);
        m_cursor->RefuseDrag();
      }
    }
    m_pressDragged = true;
    if (m_cursor->DoubleClick()) {
      OpenNote(dragged);
    } else if (dragged != m_dragHeld) {
      SetCamRote(true);
      Hold(m_dragHeld, dragged);
      if (note && std::find(m_noteStack.begin(), m_noteStack.end(), note) != m_noteStack.end()) {
        note->AddRef();
        RemoveFromStack(note);
        BringToFront(note);
        note->Release();
      }
      dragged->SetSwitch(1, 1);
    }
    return;
  }
  const bool leftDown = m_s.input && m_s.input->IsDown(OV_INPUT_MOUSE_LEFT);
  if (!leftDown && CamRoteBit() && std::strchr(PickFilter(), '1')) SetCamRote(false);
  if (m_dragHeld) {
    m_dragHeld->SetSwitch(1, 0);
    Hold(m_dragHeld, nullptr);
    ApplyFrontDepth();
    m_dragSave.Request();
  }
}

// ---------------------------------------------------------------------------
// Editing.

void OvMemoBoard::Fly(OvClump* clump, const OvVector& target, OvLogObj* carried) {
  if (!clump) return;
  // One flight per clump: a new one replaces the last.
  if (OvAniCtrl* old = clump->FindAniCtrlByTag(OvAcMoveTo::ClassTag())) clump->DelAniCtrl(old);
  OvAcMoveTo* flyer = OvAcMoveTo::Create(OvAcMoveTo::kBoardDuration, this);
  if (!flyer) return;
  if (!clump->AddAniCtrl(flyer)) {
    flyer->Release();
    return;
  }
  flyer->FlyTo(target, carried, false);
  if (OvLogObj* o = clump->GetLogObj()) o->GotoFrame(0);
}

bool OvMemoBoard::FlyBack(OvLogObj* shown, OvLogObj* note) {
  OvClump* root = shown->GetClumps();
  OvClump* target = note ? note->GetClumps() : nullptr;
  if (!root || !target || !shown->ChangeParentClump(nullptr, true)) return false;
  // Off the tray, its world place becomes its own transform, so that the
  // flight moves it in the world.
  root->SetVPMatrix(nullptr);
  root->DecomposeWorldToPRS();
  root->MarkChanged(ACF_POS);
  OvAcMoveTo* flyer = OvAcMoveTo::Create(OvAcMoveTo::kReturnDuration, this);
  if (!flyer) return false;
  if (!root->AddAniCtrl(flyer)) {
    flyer->Release();
    return false;
  }
  // The note shows when the tray's note lands, which then goes.
  flyer->FlyTo(target->GetPos(), note, true);
  return true;
}

static OvVector WorldPos(OvClump* clump) {
  OvVector p{0, 0, 0};
  if (clump && !clump->GetWorldPos(p)) p = clump->GetPos();
  return p;
}

void OvMemoBoard::OpenNote(OvClump* clicked) {
  OvLogObj* note = clicked ? clicked->GetLogObj() : nullptr;
  if (!note || !m_paper) return;
  const char* childName = NameOf(clicked->GetChild());
  const size_t n = std::strlen(childName);
  int kind = n ? childName[n - 1] - '0' : 0;
  if (kind < 0 || kind > 3) kind = NoteKind(note);
  if (!m_editPapers[kind]) return;  // removed by the content: no editing
  Pulse(m_editUIRoot, 1, 1);
  m_cursor->SetIncludeFilter("_pick2_");
  SetCamRote(true);
  m_editKind = kind;
  m_editPaper = m_editPapers[kind];
  m_editPaper->SetPos(WorldPos(clicked));
  m_editPaper->MarkChanged(ACF_POS);
  m_editPaper->SetVisible();
  m_editNote = note;
  auto it = m_noteFiles.find(note);
  const std::string path = it != m_noteFiles.end() ? m_s.dataFolder + it->second : std::string();
  m_paper->Begin(m_editPaper, path.empty() ? nullptr : path.c_str());
  SelectPen(0);
  Pulse(m_pens[0], 1, 1);
  SetExpHighlight(m_pens[0]);
  if (m_editUIRoot) Fly(m_editPaper, WorldPos(m_editUIRoot), nullptr);
  Hide(m_editNote);
  m_sheetOpen = true;
  m_recoveryStamps = m_paper->StampCount();
  m_recoveryAt = OvTickCount() - OV_RECOVERY_PERIOD_MS;
  // The drag that carried the double click is over.
  Hold(m_dragHeld, nullptr);
}

void OvMemoBoard::NewPaper(OvLogObj* object) {
  const char* name = object->LoGetName();
  int kind = std::strlen(name) > 1 ? name[1] - '0' : 0;
  if (kind < 0 || kind > 3) kind = 0;
  m_editKind = kind;
  m_editPaper = m_editPapers[kind];
  if (!m_editPaper || !m_paper) {
    // Back to the board: the pad's click asked for an edit that cannot be.
    if (m_cursor) m_cursor->SetIncludeFilter("_pick1_");
    SetCamRote(false);
    return;
  }
  m_editPaper->SetPos(WorldPos(object->GetClumps()));
  m_editPaper->MarkChanged(ACF_POS);
  m_editPaper->SetVisible();
  m_paper->Begin(m_editPaper, nullptr);
  m_sheetOpen = true;
  m_recoveryStamps = m_paper->StampCount();
  m_recoveryAt = OvTickCount() - OV_RECOVERY_PERIOD_MS;
  m_sheetFrom = WorldPos(object->GetClumps());
  SelectPen(0);
  if (m_cursor) m_cursor->SetIncludeFilter("_pick2_");
  SetCamRote(true);
  if (m_editUIRoot) Fly(m_editPaper, WorldPos(m_editUIRoot), nullptr);
}

void OvMemoBoard::FinishEdit() {
  if (!m_sheetOpen || !m_editPaper || !m_paper) return;
  // A new sheet nobody wrote on leaves no blank note behind.
  if (!m_editNote && !m_paper->Inked()) {
    CancelEdit();
    return;
  }
  if (m_cursor) m_cursor->SetIncludeFilter("pick99");
  if (!CommitSheet()) {
    if (m_cursor) m_cursor->SetIncludeFilter("_pick1_");
    SetCamRote(false);
    return;
  }
  Fly(m_editPaper, WorldPos(m_editNote->GetClumps()), m_editNote);
}

OvLogObj* OvMemoBoard::CommitSheet() {
  m_sheetOpen = false;
  const char* paperName = NameOf(m_editPaper);
  const size_t n = std::strlen(paperName);
  const int kind = n ? std::clamp(paperName[n - 1] - '0', 0, 3) : m_editKind;
  if (m_editNote)
    Show(m_editNote);
  else
    m_editNote = MakeNote(kind, RandomBoardPosition());
  if (!m_editNote) {
    Trace("!!! No note could be made for the edit.\n");
    return nullptr;
  }
  const bool fresh = m_noteFiles.find(m_editNote) == m_noteFiles.end();
  if (fresh) m_noteFiles[m_editNote] = m_store.NewNoteFileName(kind);
  OvGLTexture* texture = m_paper->Save(nullptr);
  if (!m_store.WriteImage(m_noteFiles[m_editNote], m_paper->Image().data()))
    _TraceFormat("!!! The note %s was not written: %s\n", m_noteFiles[m_editNote].c_str(), m_store.LastError().c_str());
  else
    DropRecovery();
  ShowSaveProblem();
  SetNoteTexture(m_editNote, texture);
  if (fresh && std::find(m_noteStack.begin(), m_noteStack.end(), m_editNote) == m_noteStack.end()) {
    BringToFront(m_editNote);
    m_editNote->Release();  // the stack holds the new note
  }
  return m_editNote;
}

void OvMemoBoard::SaveOpenSheet() {
  if (!m_sheetOpen) return;
  // Without ink there is nothing to keep: a new sheet goes, an opened note's
  // file already holds this picture.
  if (!m_editPaper || !m_paper || !m_paper->Inked()) {
    m_sheetOpen = false;
    DropRecovery();
    return;
  }
  if (OvLogObj* note = CommitSheet())
    _TraceFormat("The open sheet was saved as the note %s on the way out.\n", m_noteFiles[note].c_str());
}

void OvMemoBoard::CancelEdit() {
  if (!m_sheetOpen || !m_editPaper) return;
  m_sheetOpen = false;
  DropRecovery();
  if (m_cursor) m_cursor->SetIncludeFilter("pick99");
  if (m_editNote) {
    // Nothing is written: the note shows the picture it had when it lands.
    Show(m_editNote);
    Fly(m_editPaper, WorldPos(m_editNote->GetClumps()), m_editNote);
  } else {
    m_dropFlight = true;
    Fly(m_editPaper, m_sheetFrom, nullptr);
  }
}

void OvMemoBoard::KeepRecovery() {
  if (!m_sheetOpen || !m_paper || m_paper->StampCount() == m_recoveryStamps) return;
  const uint32_t now = OvTickCount();
  if (now - m_recoveryAt < OV_RECOVERY_PERIOD_MS || m_recoveryBusy.load()) return;
  JoinRecoveryWriter();
  // The frame reads the film back and packs it (the engine's allocator
  // belongs to this thread); the synced write runs on the worker.
  std::vector<uint8_t> image, packed;
  if (!m_paper->ReadBack(image) || !OvEncodeNoteImage(image.data(), packed)) return;
  m_recoveryStamps = m_paper->StampCount();
  m_recoveryAt = now;
  char head[kRecoveryHead] = {'K', 'M', 'R', 'S'};
  const int32_t kind = m_editKind;
  std::memcpy(head + 4, &kind, 4);
  if (m_editNote) {
    auto it = m_noteFiles.find(m_editNote);
    if (it != m_noteFiles.end()) std::strncpy(head + 8, it->second.c_str(), kRecoveryHead - 8 - 1);
  }
  std::vector<uint8_t> file(head, head + kRecoveryHead);
  file.insert(file.end(), packed.begin(), packed.end());
  m_recoveryBusy = true;
  m_recoveryWriter = std::thread([this, file = std::move(file)]() {
    std::string reason;
    OvWriteFileAtomic(m_s.dataFolder, OV_RECOVERY_FILE, file.data(), file.size(), reason);
    m_recoveryError = reason;
    m_recoveryBusy = false;
  });
}

void OvMemoBoard::JoinRecoveryWriter() {
  if (!m_recoveryWriter.joinable()) return;
  m_recoveryWriter.join();
  if (!m_recoveryError.empty())
    _TraceFormat("!!! The open sheet's recovery file was not written: %s\n", m_recoveryError.c_str());
  m_recoveryError.clear();
}

void OvMemoBoard::DropRecovery() {
  JoinRecoveryWriter();
  ::unlink((m_s.dataFolder + OV_RECOVERY_FILE).c_str());
}

void OvMemoBoard::RestoreRecovery() {
  const std::string path = m_s.dataFolder + OV_RECOVERY_FILE;
  std::vector<uint8_t> data, image;
  std::string reason;
  bool missing = false;
  if (!OvReadWholeFile(path, size_t(64) << 20, data, reason, &missing)) {
    if (!missing) _TraceFormat("!!! The recovery file %s cannot be read: %s\n", path.c_str(), reason.c_str());
    return;
  }
  int32_t kind = -1;
  std::string name;
  if (data.size() >= size_t(kRecoveryHead) && std::memcmp(data.data(), "KMRS", 4) == 0) {
    std::memcpy(&kind, data.data() + 4, 4);
    const char* text = reinterpret_cast<const char*>(data.data()) + 8;
    name.assign(text, strnlen(text, kRecoveryHead - 8));
  }
  if (kind < 0 || kind > 3) reason = "no recovery file";
  if (reason.empty()) OvDecodeNoteImage(data.data() + kRecoveryHead, data.size() - kRecoveryHead, image, reason);
  if (!reason.empty()) {
    const std::string bad = path + ".bad";
    _TraceFormat("!!! The recovery file %s is damaged (%s): it is kept as %s.\n", path.c_str(), reason.c_str(),
                 bad.c_str());
    ::rename(path.c_str(), bad.c_str());
    return;
  }
  // The opened note it was, while it is on the board; otherwise a new note.
  OvLogObj* note = nullptr;
  for (const auto& e : m_noteFiles)
    if (!name.empty() && e.second == name) note = e.first;
  if (!note) name = m_store.NewNoteFileName(kind);
  if (!m_store.WriteImage(name, image.data())) {
    _TraceFormat("!!! The recovered sheet was not written (the recovery file stays): %s\n",
                 m_store.LastError().c_str());
    return;
  }
  if (!note && (note = MakeNote(kind, RandomBoardPosition())) != nullptr) {
    m_noteFiles[note] = name;
    BringToFront(note);
    note->Release();  // the stack holds it
  }
  if (note) SetNoteTexture(note, TextureFromImage(image));
  SaveIndex();
  _TraceFormat("The sheet open when the board last stopped was recovered as the note %s.\n", name.c_str());
  ::unlink(path.c_str());
}

void OvMemoBoard::EndDropFlight() {
  m_dropFlight = false;
  if (m_editPaper) {
    m_editPaper->SetInvisible();
    SetTreeVisible(m_editPaper->GetChild(), false);
    m_editPaper->SetPos(ParkingPlace());
    m_editPaper->MarkChanged(ACF_POS);
  }
  if (m_cursor) m_cursor->SetIncludeFilter("_pick1_");
  SetCamRote(false);
}

void OvMemoBoard::ClickControl(OvClump* clump) {
  if (!clump) return;
  if (clump != m_expHighlight) SetExpHighlight(Contains(NameOf(clump), "_exp_") ? clump : nullptr);
  Pulse(clump, 1, 1);
  Dispatch(clump);
}

bool OvMemoBoard::HandleKeys() {
  OvInputDevice* in = m_s.input;
  if (!in) return true;
  auto pressed = [in](int key, int pad) { return in->IsClickDown(key) || (pad >= 0 && in->IsClickDown(pad)); };
  // Ctrl+Q ends the program: the shutdown keeps an open sheet. Other Ctrl
  // chords are not these keys.
  if (in->IsDown(VK_CONTROL)) return !pressed('Q', -1);
  if (m_sheetOpen) {
    if (pressed(VK_RETURN, -1)) {
      if (OvClump* ok = m_s.scene->SearchClump("_pick2_ok")) Pulse(ok, 1, 1);
      FinishEdit();
    } else if (pressed(VK_ESCAPE, -1)) {
      CancelEdit();
    } else if (pressed('0', VK_NUMPAD0) || pressed('E', -1)) {
      ClickControl(m_rubber);
    } else {
      for (int k = 0; k < 4; ++k)
        if (pressed('1' + k, VK_NUMPAD0 + 1 + k)) ClickControl(m_pens[k]);
    }
  } else if (std::strstr(PickFilter(), "pick3") && pressed(VK_ESCAPE, -1)) {
    ClickControl(m_cancelBtn);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Objects made by the content.

void OvMemoBoard::OnObjectAdded(OvLogObj* object) {
  if (!m_started || !object) return;
  // Objects made while the scene ticks are handled once it is done: only
  // then can trees be re-linked and textures made. A trash marker always
  // waits for that point, so the "del_" object of its frame counts first;
  // a "del_" object waits too, for the user's gesture of its frame.
  const char* name = object->LoGetName();
  if (m_s.scene->Ticking() || (name && (Contains(name, "delfly_") || std::strncmp(name, "del_", 4) == 0))) {
    object->AddRef();
    m_addedPending.push_back(object);
    return;
  }
  HandleAdded(object);
}

void OvMemoBoard::HandleAdded(OvLogObj* object) {
  const char* name = object->LoGetName();
  if (!name || !*name) return;
  if (std::strncmp(name, "del_", 4) == 0) {
    if (m_recycleCredit > 0 && m_frame - m_gestureFrame <= OV_RECYCLE_GESTURE_FRAMES) {
      --m_recycleCredit;
      RecycleFront();
    } else if (m_ignoredDel++ == 0) {
      Trace("### A \"del_\" object came without a note thrown away: ignored, and any more like it.\n");
    }
    return;
  }
  if (OvTrashMarkers::IsMarker(name)) {
    m_trashMarkers.Offer(object, m_store.RecycleCount());
    return;
  }
  if (name[0] != '_') return;
  if (Contains(name, "newPaper")) {
    NewPaper(object);
  } else if (Contains(name, "_pick3_recycleBk")) {
    OpenRecycleView(object);
  }
}

void OvMemoBoard::OpenRecycleView(OvLogObj* bin) {
  if (m_recycleBin != bin) {
    if (bin) bin->AddRef();
    if (m_recycleBin) m_recycleBin->Release();
    m_recycleBin = bin;
  }
  if (!bin) return;
  OvClump* binClump = bin->GetClumps();
  std::vector<OvRecycledNote> list;
  if (!m_store.ListRecycled(list)) _TraceFormat("!!! The bin cannot be listed: %s\n", m_store.LastError().c_str());
  // The most recently thrown away first.
  int k = 0;
  for (auto it = list.rbegin(); it != list.rend(); ++it, ++k) {
    if (it->kind < 0 || it->kind > 3 || m_recycleTemplates[it->kind] < 0) continue;
    float pos[3];
    OvRecycleSlot(k, pos);
    OvLogObj* shown =
        OvEmitObjectCore(*m_s.scene, nullptr, *m_s.database, m_recycleTemplates[it->kind], -1, false, false);
    if (!shown) continue;
    if (OvClump* root = shown->GetClumps()) {
      root->SetPos(OvVector{pos[0], pos[1], pos[2]});
      root->MarkChanged(ACF_POS);
    }
    if (binClump) shown->ChangeParentClump(binClump, false);
    shown->AddRef();
    m_recycled[shown] = it->file;
    std::vector<uint8_t> image;
    if (m_store.ReadImage(it->file, true, image)) {
      OvGLTexture* texture = TextureFromImage(image);
      OvClump* paper = shown->LoSearchClump("_pick1_drag_paper");
      if (!paper) paper = shown->GetClumps();
      if (texture) {
        if (OvAcDelTexWithClump* ctrl = OvAcDelTexWithClump::Create(m_s.renderer, texture)) {
          if (paper && paper->AddAniCtrl(ctrl))
            ShowTexture(paper, texture);
          else
            ctrl->Release();
        } else {
          OvReleaseTexture(*m_s.renderer, texture);
        }
      }
    }
  }
  if (binClump)
    if (OvAniCtrl* scroll = OvFindScriptCtrl(binClump, "TouchControlObjTime")) {
      const double start = OvGetInstanceNumber(scroll, "SecStart");
      const double end = OvGetInstanceNumber(scroll, "SecEnd");
      OvSetInstanceNumber(scroll, "SecEnd", float(OvRecycleScrollEnd(int(list.size()), start, end)));
    }
}

void OvMemoBoard::ClearRecycleLayout() {
  for (auto& e : m_recycled) {
    DeleteObject(e.first);
    e.first->Release();
  }
  m_recycled.clear();
}

void OvMemoBoard::CloseRecycleView() {
  ClearRecycleLayout();
  // The tray goes too, so the next visit makes and lays out a new one. One
  // the content removed already has left the scene, and deleting it again
  // does nothing.
  if (m_recycleBin) {
    DeleteObject(m_recycleBin);
    m_recycleBin->Release();
    m_recycleBin = nullptr;
  }
}

// ---------------------------------------------------------------------------

void OvMemoBoard::Terminate() {
  JoinRecoveryWriter();
  if (!m_started) return;
  SaveOpenSheet();
  SaveIndex();
  FlushPulses();
  ShowAll();
  // The scene frees the note textures, each with its clump, after this.
  m_showPending.clear();
  for (OvLogObj* object : m_addedPending) object->Release();
  m_addedPending.clear();
  for (OvLogObj* note : m_noteStack) note->Release();
  m_noteStack.clear();
  m_noteFiles.clear();
  m_trashMarkers.Forget();
  for (auto& e : m_recycled) e.first->Release();
  m_recycled.clear();
  if (m_recycleBin) m_recycleBin->Release();
  m_recycleBin = nullptr;
  delete m_paper;
  m_paper = nullptr;
  Hold(m_highlighted, nullptr);
  Hold(m_expHighlight, nullptr);
  Hold(m_dragHeld, nullptr);
  // The scene deletes the cursor with its clump; one whose clump the content
  // removed is the board's own.
  if (m_cursor && m_cursorClump)
    m_cursor->SetOwned(true);
  else
    delete m_cursor;
  m_cursor = nullptr;
  for (const NamedSlot& n : NamedSlots()) {
    if (*n.slot) (*n.slot)->Release();
    *n.slot = nullptr;
  }
  m_editPaper = nullptr;
  m_editNote = nullptr;
  m_started = false;
}

void OvMemoBoard::WriteJson(JsonWriter& j) const {
  j.BeginObject();
  j.Key("notes");
  j.BeginArray();
  for (OvLogObj* note : m_noteStack) {
    j.BeginObject();
    j.Member("id", note->LoGetID());
    j.Member("kind", int64_t(NoteKind(note)));
    auto it = m_noteFiles.find(note);
    j.Member("file", it != m_noteFiles.end() ? it->second.c_str() : "");
    OvVector p{0, 0, 0};
    if (OvClump* root = note->GetClumps()) p = root->GetPos();
    float pos[3] = {p.x, p.y, p.z};
    j.MemberReals("position", pos, 3);
    j.EndObject();
  }
  j.EndArray();
  j.Member("pickFilter", PickFilter());
  j.MemberBool("camRote", CamRoteBit());
  j.MemberBool("idleView", m_idleView);
  j.Key("editNote");
  if (m_editNote)
    j.Int(m_editNote->LoGetID());
  else
    j.Null();
  j.Member("recycleCount", int64_t(m_store.RecycleCount()));
  j.Member("trashMarkers", int64_t(m_trashMarkers.Count()));
  j.Member("saveProblem", m_store.SaveProblem().c_str());
  j.EndObject();
}
