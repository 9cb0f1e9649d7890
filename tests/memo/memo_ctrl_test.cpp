// The board's flight and cursor controllers on a ticking scene: flight
// positions after fixed steps, arrival rules, click and double-click timing,
// the held clump, dragging on the camera-facing plane.
#include <gtest/gtest.h>

#include "../scene/scene_fixture.h"
#include "ov_ac_memo.h"
#include "ov_input.h"

namespace {

// 100 time units per second; one step is 0.05 s.
constexpr int32_t kStep = 5;

struct FlightScene {
  OvScene scene;
  OvClump* paper = nullptr;
  OvClump* note = nullptr;
  OvLogObj* paperObject = nullptr;
  OvLogObj* noteObject = nullptr;
  FlightScene() {
    scene.SetTimeBase(100);
    AddCamera(scene);
    paperObject = AddObject(scene, "paper", &paper, {10, 0, 0});
    OvClump* child = OvClump::Create();
    paper->AttachChild(child);
    noteObject = AddObject(scene, "note", &note, {3, 3, 3});
    scene.SetTime(1000);  // 10 s
  }
};

TEST(MoveTo, PositionsAfterFixedStepsThenArrival) {
  // Steps taken (the first only starts the flight) and x of the paper then.
  const struct {
    int steps;
    float x;
    bool attached;
  } cases[] = {{1, 10, true}, {2, 9, true}, {6, 5, true}, {10, 1, true}, {11, 0, false}, {14, 0, false}};
  for (const auto& c : cases) {
    FlightScene s;
    OvAcMoveTo flyer(OvAcMoveTo::kBoardDuration);
    ASSERT_TRUE(s.paper->AddAniCtrl(&flyer));
    flyer.FlyTo({0, 0, 0}, nullptr, false);
    for (int i = 0; i < c.steps; ++i) StepFrame(s.scene, kStep);
    EXPECT_NEAR(s.paper->GetPos().x, c.x, 1e-3f) << c.steps;
    EXPECT_EQ(s.paper->GetAniCtrlCount() == 1, c.attached) << c.steps;
    EXPECT_FALSE(s.paper->IsInvisible());
    if (c.steps == 1) {
      EXPECT_NEAR(flyer.EndTime(), 10.5f, 1e-4f);
    }
  }
}

TEST(MoveTo, ArrivalWithCarriedObject) {
  const struct { bool deleteAtEnd; } cases[] = {{false}, {true}};
  for (const auto& c : cases) {
    FlightScene s;
    OvAcMoveTo* flyer = OvAcMoveTo::Create(OvAcMoveTo::kReturnDuration);
    ASSERT_TRUE(s.paper->AddAniCtrl(flyer));
    flyer->FlyToObject(s.noteObject, c.deleteAtEnd);
    EXPECT_TRUE(s.note->IsInvisible());  // hidden while the paper flies
    EXPECT_TRUE(Near(flyer->Target(), {3, 3, 3}));
    EXPECT_EQ(s.noteObject->RefCount(), 2);
    for (int i = 0; i < 6; ++i) StepFrame(s.scene, kStep);
    EXPECT_FALSE(s.note->IsInvisible()) << c.deleteAtEnd;
    EXPECT_EQ(s.noteObject->RefCount(), 1);
    EXPECT_EQ(InScene(s.scene, s.paperObject), !c.deleteAtEnd);
    if (!c.deleteAtEnd) {
      // Parked far away, with its children, and the flight let go.
      EXPECT_EQ(s.paper->GetPos().x, OV_PARKING_COORD);
      EXPECT_TRUE(s.paper->IsInvisible());
      EXPECT_TRUE(s.paper->GetChild()->IsInvisible());
      EXPECT_EQ(s.paper->GetAniCtrlCount(), 0);
    }
  }
}

TEST(MoveTo, ACutShortFlightGivesBackWhatItCarried) {
  FlightScene s;
  OvAcMoveTo flyer(OvAcMoveTo::kBoardDuration);
  ASSERT_TRUE(s.paper->AddAniCtrl(&flyer));
  flyer.FlyToObject(s.noteObject, false);
  StepFrame(s.scene, kStep);
  flyer.FlyTo({0, 0, 0}, nullptr, false);
  EXPECT_FALSE(s.note->IsInvisible());
  EXPECT_EQ(s.noteObject->RefCount(), 1);
  for (int i = 0; i < 12; ++i) StepFrame(s.scene, kStep);
  EXPECT_TRUE(Near(s.paper->GetPos(), {0, 0, 0}));
  EXPECT_FALSE(s.paper->IsInvisible());
  {
    OvAcMoveTo gone(OvAcMoveTo::kBoardDuration);  // ends while still attached
    ASSERT_TRUE(s.paper->AddAniCtrl(&gone));
    gone.FlyTo({1, 1, 1}, nullptr, false);
  }
  EXPECT_EQ(s.paper->GetAniCtrlCount(), 0);
  StepFrame(s.scene, kStep);
}

struct FakeInput : OvInputDevice {
  bool down = false;
  bool pressed = false;  // went down since the last frame
  int x = 0, y = 0;
  double pressTime = -1.0;  // the press event's time; negative: none
  void Reset() override {}
  void Update() override {}
  bool IsClickDown(int i) override { return i == OV_INPUT_MOUSE_LEFT && pressed; }
  double ClickTime(int i) const override { return i == OV_INPUT_MOUSE_LEFT && pressed ? pressTime : -1.0; }
  bool IsClickUp(int) override { return false; }
  bool IsDown(int i) override { return i == OV_INPUT_MOUSE_LEFT && down; }
  void GetPos(int& px, int& py) override { px = x, py = y; }
  void GetMove(int& dx, int& dy) override { dx = dy = 0; }
};

// Camera at the origin looking along -z on a 640 x 480 view: at depth 10
// one pixel is 1/32 of a unit.
struct DbHolder {
  OvDatabase* db = OvDatabase::Create();
  ~DbHolder() { db->Destroy(); }
};

struct CursorScene {
  DbHolder holder;  // goes last: the cursor's clumps use its meshes
  OvDatabase* db = holder.db;
  CallLog log;
  RecordingRenderer renderer{&log};
  OvScene* scene = new OvScene();
  FakeInput input;
  OvAcNoteMCursor cursor{&input};
  OvClump *camera = nullptr, *pointer = nullptr, *note = nullptr, *other = nullptr;
  OvLogObj* noteObject = nullptr;

  CursorScene() {
    renderer.quiet = true;
    scene->SetRenderer(&renderer);
    scene->SetTimeBase(100);
    camera = AddCamera(*scene);
    AddObject(*scene, "_cursor", &pointer);
    noteObject = AddObject(*scene, "note_drag", &note, {0, 0, -10});
    AddObject(*scene, "note_fixed", &other, {4, 0, -10});
    note->SetMesh(MakeQuadMesh(*db, 1.0f));
    other->SetMesh(MakeQuadMesh(*db, 1.0f));
    cursor.SetSuspended(false);
    cursor.SetIncludeFilter("note");
    EXPECT_TRUE(pointer->AddAniCtrl(&cursor));
    Tick();  // the cursor hangs itself below the camera
  }
  ~CursorScene() {
    pointer->DelAniCtrl(&cursor);
    delete scene;
  }
  void Tick(int32_t units = 10) {
    StepFrame(*scene, units);
    input.pressed = false;
  }
  void Press(int px, int py) {
    input.x = px, input.y = py;
    input.down = input.pressed = true;
    Tick();
  }
  void Release() {
    input.down = false;
    Tick();
  }
};

TEST(NoteCursor, DoubleClickTiming) {
  // Seconds between the two presses on the same note; the presses' event
  // times, where they have them, judge instead of the frames.
  const struct {
    int gapTicks;  // of 0.1 s
    bool twoClicksOnSameNote;
    bool doubleClick;
    double eventGap;  // negative: presses without event times
  } cases[] = {{4, true, true, -1.0},
               {6, true, false, -1.0},
               {2, false, false, -1.0},
               {6, true, true, 0.3},
               {4, true, false, 0.6}};
  for (const auto& c : cases) {
    CursorScene s;
    s.input.pressTime = c.eventGap < 0 ? -1.0 : 100.0;
    s.Press(330, 240);
    EXPECT_EQ(s.cursor.Clicked(), s.note);
    EXPECT_TRUE(s.cursor.Click());
    EXPECT_FALSE(s.cursor.DoubleClick());
    s.Release();
    for (int i = 2; i < c.gapTicks; ++i) s.Tick();
    if (c.eventGap >= 0) s.input.pressTime = 100.0 + c.eventGap;
    s.Press(c.twoClicksOnSameNote ? 330 : 450, 240);
    EXPECT_TRUE(s.cursor.Click()) << c.gapTicks;
    EXPECT_EQ(s.cursor.DoubleClick(), c.doubleClick) << c.gapTicks;
    s.Tick();  // results last one tick
    EXPECT_FALSE(s.cursor.Click());
    EXPECT_FALSE(s.cursor.DoubleClick());
  }
}

TEST(NoteCursor, CursorFollowsAtDepthAndHeldClumpStaysUntilRelease) {
  CursorScene s;
  EXPECT_EQ(s.pointer->WorldParent(), s.camera);
  s.Press(450, 240);
  EXPECT_EQ(s.cursor.Held(), s.other);
  // 130 pixels right of the centre at depth 150.
  EXPECT_TRUE(Near(s.pointer->GetPos(), {130.0f / 320.0f * 150.0f, 0, -150.0f}));
  s.input.x = 330;  // onto the other note with the button still down
  s.Tick();
  EXPECT_EQ(s.cursor.Held(), s.other);
  EXPECT_EQ(s.cursor.Clicked(), nullptr);
  s.Release();
  EXPECT_EQ(s.cursor.Held(), nullptr);
  EXPECT_EQ(s.other->RefCount(), 2);  // still the last clicked, for double clicks
}

TEST(NoteCursor, DragMovesOnThePlaneUntilReleasedOrRefused) {
  CursorScene s;
  s.Press(330, 240);  // grabbed 10 pixels right of the note's centre
  ASSERT_EQ(s.cursor.Dragged(), s.note);
  EXPECT_TRUE(s.cursor.Draggable());
  s.input.x = 370;
  s.input.y = 208;
  s.Tick();
  EXPECT_TRUE(Near(s.note->GetPos(), {1.25f, 1.0f, -10.0f}));
  s.cursor.RefuseDrag();
  s.Tick();
  EXPECT_EQ(s.cursor.Dragged(), nullptr);
  EXPECT_EQ(s.note->RefCount(), 2);  // the held clump only

  CursorScene fixed;
  fixed.Press(450, 240);
  EXPECT_FALSE(fixed.cursor.Draggable());
  EXPECT_EQ(fixed.cursor.Dragged(), nullptr);
}

}  // namespace
