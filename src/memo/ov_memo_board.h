// The memo board's program side: the named objects of the board content,
// the notes on the board (a stack, front first), the one-frame switch pulses,
// what the cursor may pick in each mode and what a pick does, dragging,
// editing and finishing notes, and the notes on disk through OvNoteStore.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ov_ac_memo.h"
#include "ov_math.h"
#include "ov_memory.h"
#include "ov_note_store.h"
#include "ov_scene.h"
#include "ov_trash_markers.h"

class JsonWriter;
class OvClump;
class OvDatabase;
class OvDrawingPaper;
class OvGLTexture;
class OvInputDevice;
class OvLogObj;
class OvRendererGL;
class OvMemoBoard;

// Receives every object added to the scene at run time.
class OvObjectAddedSink {
 public:
  virtual ~OvObjectAddedSink() = default;
  virtual void OnObjectAdded(OvLogObj* object) = 0;
};

// The scene of the board: objects made by behaviour nodes are reported.
class _CStageScene : public OvScene {
 public:
  explicit _CStageScene(OvObjectAddedSink* sink) : m_sink(sink) {}
  void AddLogObjs(OvLogObj* chain) override;
  void SetSink(OvObjectAddedSink* sink) { m_sink = sink; }

 private:
  OvObjectAddedSink* m_sink;
};

// Names the board looks up after the content is loaded.
struct OvBoardNames {
  static constexpr const char* kRequiredObjects[] = {
      "_exp_pick2_rubber", "_exp_pick2_pen00", "_exp_pick2_pen01", "_exp_pick2_pen02", "_exp_pick2_pen03",
      "_editPaper00",      "_editPaper01",     "_editPaper02",     "_editPaper03",     "_cursor",
      "_editUIRoot",       "_BkBoard",         "_0XBkBoard",       "_1XBkBoard",       "_pick1_pick3_CancelBtn",
      "D_CamRote",         "_pick1_CloseBtn",  "_InvisiblePlace"};
  static constexpr const char* kRequiredTemplates[] = {"_noteRoot00",  "_noteRoot01",  "_noteRoot02",  "_noteRoot03",
                                                       "_00noteXRoot", "_01noteXRoot", "_02noteXRoot", "_03noteXRoot"};
};

// One depth step between neighbouring notes of the stack.
inline constexpr float OV_NOTE_DEPTH_STEP = 0.004f;
// Depth of the front note.
inline constexpr float OV_NOTE_FRONT_DEPTH = 256.0f;
// Random board points drawn before giving up on finding an allowed one.
inline constexpr int OV_BOARD_POSITION_DRAWS = 1000;

// After a note is dropped (or the trash can clicked), frames in which the
// content's "del_" object may recycle the front note: one note per gesture.
inline constexpr uint32_t OV_RECYCLE_GESTURE_FRAMES = 10;

// An open sheet that changed is written to the recovery file at most this
// often, so a crash loses no more ink than this.
inline constexpr uint32_t OV_RECOVERY_PERIOD_MS = 2000;
// The recovery file in the data folder.
inline constexpr const char* OV_RECOVERY_FILE = "sheet.recovery";

// The camera animation rests at this local time.
inline constexpr int32_t OV_CAMERA_REST_TIME = 2400;

// Idle sleeps: how long one skipped frame sleeps after `idleMs` without
// input, or -1 when the frame runs (0: runs without sleeping first).
// `atRest`: the camera rests; k: seconds per unit x forced step (-1 none).
int32_t OvIdleSleepMs(uint32_t idleMs, bool atRest, int32_t k, bool* skipFrame);

class OvMemoBoard : public OvAllocated, public OvFlightHost, public OvObjectAddedSink {
 public:
  struct Services {
    OvScene* scene = nullptr;
    OvDatabase* database = nullptr;
    OvDatabase* localised = nullptr;
    OvRendererGL* renderer = nullptr;
    OvInputDevice* input = nullptr;
    std::string dataFolder;
    // Seed of the board's random places; 0 takes the clock.
    unsigned seed = 0;
  };

  OvMemoBoard();
  ~OvMemoBoard() override;

  // Whether the content is a board at all: it has the memo cursor.
  static bool IsBoardContent(const OvScene& scene);
  // The required names the content lacks, in lookup order.
  static std::vector<std::string> MissingNames(const OvScene& scene, const OvDatabase& database);

  // After the content is loaded: named objects, paper, cursor, clock, notes.
  // False when the notes cannot be loaded (the trace says why).
  bool Start(const Services& services);
  // One frame; runScene runs the scene step. False ends the program.
  template <class RunScene>
  bool Frame(int inputActivity, RunScene&& runScene) {
    if (!BeforeScene(inputActivity)) return true;
    runScene();
    return AfterScene();
  }
  void OnObjectAdded(OvLogObj* object) override;
  // Saves an open sheet and the index, and lets go of every scene object held.
  void Terminate();
  bool Started() const { return m_started; }

  // The "memo" member of a scene dump.
  void WriteJson(JsonWriter& j) const;

  // Note stack (front first) and the depth rule.
  void BringToFront(OvLogObj* note);
  void RemoveFromStack(OvLogObj* note);
  const std::vector<OvLogObj*>& Notes() const { return m_noteStack; }
  // Hidden notes hang under the parking object until shown again.
  void Hide(OvLogObj* note);
  void Show(OvLogObj* note);
  void ShowAll();
  bool IsHidden(OvLogObj* note) const { return m_hidden.count(note) != 0; }
  bool IsAllowedPosition(const OvVector& p) const;
  OvVector RandomBoardPosition();

  // OvFlightHost.
  void HideObject(OvLogObj* object) override { Hide(object); }
  void ShowObject(OvLogObj* object) override { Show(object); }

  // Sets switch bits of `clump` for this frame only.
  void Pulse(OvClump* clump, uint32_t mask, uint32_t value);
  const char* PickFilter() const;
  bool IdleView() const { return m_idleView; }
  // The pointer is the board's: a sheet is open or on its way, the recycle
  // view is up, or the cursor holds or drags an object.
  bool PointerOwned() const;
  OvLogObj* EditNote() const { return m_editNote; }
  const OvNoteStore& Store() const { return m_store; }
  // Why notes are not being saved now; empty while saving works.
  const std::string& SaveProblem() const { return m_shownProblem; }

 private:
  struct PulseEntry {
    OvClump* clump;
    uint32_t mask;
    uint32_t restore;
  };
  struct HiddenEntry {
    OvClump* parent;  // referenced; null when the note hung at the top
    bool reparented;
  };
  // A named object held by reference, and what stops when content removes it.
  struct NamedSlot {
    OvClump** slot;
    const char* use;
  };

  std::vector<NamedSlot> NamedSlots();
  // Lets go of named objects the content removed from the scene, with one
  // trace line each; what they served stops.
  void DropLostObjects();
  void LostEditPaper();
  // A user's gesture that may throw a note away (a drop, the trash can).
  void NoteRecycleGestures(bool leftDown, bool leftClick);
  bool BeforeScene(int inputActivity);
  bool AfterScene();
  void FlushPulses();
  void PickDispatch();
  void Dispatch(OvClump* clicked);
  void HandleDrag();
  void SelectPen(int pen);
  void SelectRubber();
  void SetExpHighlight(OvClump* clump);
  void SetCamRote(bool on);
  bool CamRoteBit() const;
  int32_t CamLocalTime() const;
  void OpenNote(OvClump* clicked);
  void NewPaper(OvLogObj* object);
  void FinishEdit();
  // Writes the open sheet as its note: an opened note gets the new picture,
  // a new sheet becomes a note at the front of the board. Null when no note
  // could be made (the trace says so).
  OvLogObj* CommitSheet();
  // On the way out: a sheet with ink is kept as ok would keep it.
  void SaveOpenSheet();
  // Leaves the open sheet unsaved: an opened note keeps its picture, a new
  // sheet goes; the paper flies back as after ok.
  void CancelEdit();
  // A paper dropped by a cancel has landed: back to the board.
  void EndDropFlight();
  // While the open sheet changes: its picture to the recovery file, written
  // off the frame by a worker, at most every OV_RECOVERY_PERIOD_MS.
  void KeepRecovery();
  // The sheet was kept or put away: no recovery file.
  void DropRecovery();
  // Waits for the worker and reports what it could not write.
  void JoinRecoveryWriter();
  // At start: a recovery file becomes the note it was.
  void RestoreRecovery();
  // Enter, Esc, the pen and rubber keys; false on Ctrl+Q (end the program).
  bool HandleKeys();
  // What a click on the control does: its press pulse and its action.
  void ClickControl(OvClump* clump);
  void Fly(OvClump* clump, const OvVector& target, OvLogObj* carried);
  // The note put back from the tray: the tray's note flies to it in 0.22 s.
  bool FlyBack(OvLogObj* shown, OvLogObj* note);
  OvLogObj* MakeNote(int kind, const OvVector& pos);
  void SetNoteTexture(OvLogObj* note, OvGLTexture* texture);
  // Each note clump shows its own texture; it goes with the clump.
  bool ShowTexture(OvClump* clump, OvGLTexture* texture);
  void DeleteObject(OvLogObj* object);
  OvGLTexture* TextureFromImage(const std::vector<uint8_t>& bgra);
  void LoadNotes();
  void SaveIndex();
  void RecycleFront();
  void OpenRecycleView(OvLogObj* bin);
  void CloseRecycleView();
  // Reacts to an object the content made, by its name.
  void HandleAdded(OvLogObj* object);
  // Removes the notes laid out on the tray; the tray stays.
  void ClearRecycleLayout();
  void ApplyFrontDepth();
  int NoteKind(OvLogObj* note) const;
  OvClump* NoteClump(OvLogObj* note) const;
  void ShowSaveProblem();
  static void Hold(OvClump*& slot, OvClump* clump);

  Services m_s;
  bool m_started = false;
  OvNoteStore m_store;
  OvSaveThrottle m_dragSave;
  std::string m_shownProblem;

  // Named objects, referenced (null once the content removed one).
  OvClump* m_rubber = nullptr;
  OvClump* m_pens[4] = {};
  int32_t m_noteTemplates[4] = {-1, -1, -1, -1};
  int32_t m_recycleTemplates[4] = {-1, -1, -1, -1};
  OvClump* m_editPapers[4] = {};
  OvClump* m_cursorClump = nullptr;
  OvClump* m_editUIRoot = nullptr;
  OvClump* m_board = nullptr;
  OvClump* m_noDrop[2] = {};
  OvClump* m_cancelBtn = nullptr;
  OvClump* m_camRote = nullptr;
  OvClump* m_closeBtn = nullptr;
  OvClump* m_invisiblePlace = nullptr;

  OvDrawingPaper* m_paper = nullptr;
  OvAcNoteMCursor* m_cursor = nullptr;
  std::vector<OvLogObj*> m_noteStack;            // front first, referenced
  std::map<OvLogObj*, std::string> m_noteFiles;  // note -> file name
  std::map<OvLogObj*, HiddenEntry> m_hidden;     // referenced notes
  std::map<OvLogObj*, std::string> m_recycled;   // recycle-view objects -> file
  OvTrashMarkers m_trashMarkers;
  OvLogObj* m_recycleBin = nullptr;  // referenced
  std::vector<PulseEntry> m_pulses;
  std::vector<OvLogObj*> m_addedPending;  // referenced, made while the scene ticked
  std::vector<OvLogObj*> m_showPending;   // hidden notes to show once the tick is over
  bool m_idleView = false;
  uint32_t m_lastActivity = 0;
  OvClump* m_highlighted = nullptr;   // referenced
  OvClump* m_expHighlight = nullptr;  // referenced
  OvClump* m_dragHeld = nullptr;      // referenced
  OvVector m_lastValid{0, 0, 0};
  OvLogObj* m_editNote = nullptr;
  OvClump* m_editPaper = nullptr;
  int m_editKind = 0;
  bool m_sheetOpen = false;   // from opening a sheet until ok or cancel
  bool m_dropFlight = false;  // a cancelled new sheet flies back to its pad
  OvVector m_sheetFrom{0, 0, 0};
  std::thread m_recoveryWriter;
  std::atomic<bool> m_recoveryBusy{false};
  std::string m_recoveryError;  // the worker's; read after it is joined
  uint64_t m_recoveryStamps = 0;
  uint32_t m_recoveryAt = 0;
  bool m_closing = false;
  uint32_t m_frame = 0;
  uint32_t m_gestureFrame = 0;
  int m_recycleCredit = 0;
  bool m_pressDragged = false;  // the left button's press dragged a note
  uint64_t m_ignoredDel = 0;
  bool m_skipFrame = false;
  char m_flyingFilter[16] = "";
};
