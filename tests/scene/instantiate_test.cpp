// A database written with the content writer, loaded back and built into a
// scene: objects, trees, extensions, header settings, camera and clock.
#include <gtest/gtest.h>

#include "ov_stream.h"
#include "scene_fixture.h"

namespace {

// Writes `src` to memory and loads it into a fresh database.
OvDatabase* RoundTrip(const OvDatabase& src) {
  OvStream out;
  EXPECT_TRUE(out.OpenMemoryWrite());
  EXPECT_TRUE(src.Write(out));
  OvDatabase* db = OvDatabase::Create();
  EXPECT_TRUE(db->LoadMemory(out.Image(), out.ImageSize(), "stage"));
  return db;
}

OvDatabase* BuildStage() {
  OvDatabase* db = OvDatabase::Create();
  OvDbHeader& h = db->Header();
  h.background = 0xFF102030u;
  h.ambient = 0xFF050505u;
  h.frameRate = 30;
  h.timeUnitsPerFrame = 2;
  h.cameraId = 500;
  db->SetFogColor(0xFF808080u);

  OvMesh* mesh = MakeQuadMesh(*db, 1.0f);
  mesh->fileFlags = OV_MESH_FILE_BOUNDS;

  OvClumpRecord* cam = db->AddClumpRecord("cam");  // 0
  cam->id = 500;
  cam->extensionFlags = OV_CLUMP_EXTENSION;
  auto* camExt = OvArenaNew<OvDbCameraExt>(db->Arena());
  camExt->m_fov = 1.2f;
  cam->extension = camExt;
  OvClumpRecord* body = db->AddClumpRecord("body");  // 1
  body->id = 10;
  body->position[0] = 1.0f;
  body->position[1] = 2.0f;
  body->position[2] = 3.0f;
  body->meshIndex = 0;
  body->firstChild = 2;
  body->flags = 0x55;
  OvClumpRecord* arm = db->AddClumpRecord("arm");  // 2
  arm->id = 11;
  arm->position[0] = 1.0f;
  OvClumpRecord* lamp = db->AddClumpRecord("lamp");  // 3
  lamp->id = 12;
  lamp->extensionFlags = OV_CLUMP_EXTENSION;
  auto* lampExt = OvArenaNew<OvDbLightExt>(db->Arena());
  lampExt->m_data.type = OV_LIGHT_SPOT;
  lampExt->m_data.range = 77.0f;
  lamp->extension = lampExt;
  OvClumpRecord* tpl = db->AddClumpRecord("O_tpl");  // 4
  tpl->logObjIndex = 3;

  OvLogObjRecord* camObj = db->AddLogObjRecord("Camera");
  camObj->firstClump = 0;
  OvLogObjRecord* robot = db->AddLogObjRecord("Robot");
  robot->id = 3;
  robot->firstClump = 1;
  robot->objectFlags = int32_t(OV_LO_START_FROZEN);
  robot->health = 40;
  robot->fullHealth = 50;
  robot->dPower = 7;
  robot->parentHurtRate = 25;
  OvLogObjRecord* lampObj = db->AddLogObjRecord("Lamp");
  lampObj->firstClump = 3;
  OvLogObjRecord* templ = db->AddLogObjRecord("Tpl");
  templ->firstClump = 4;
  templ->creationFlags = 2;
  return db;
}

TEST(Instantiate, DatabaseBuildsItsStartUpObjects) {
  OvRegisterSceneExtensionTypes();
  OvDatabase* built = BuildStage();
  OvDatabase* db = RoundTrip(*built);
  built->Destroy();
  ASSERT_EQ(db->ClumpRecordCount(), 5u);
  db->Header().lighting = false;  // not stored in the file; set by the application
  {
    OvScene scene;
    scene.SetTime(50);
    ASSERT_TRUE(scene.InstantiateDatabase(*db));
    EXPECT_FALSE(db->Instantiating());

    EXPECT_EQ(scene.BackgroundColour(), 0xFF102030u);
    EXPECT_EQ(scene.AmbientColour(), 0xFF050505u);
    EXPECT_TRUE(scene.FogEnabled());
    EXPECT_EQ(scene.FogColour(), 0xFF808080u);
    EXPECT_FALSE(scene.LightingOn());
    EXPECT_EQ(scene.FrameRate(), 30);
    EXPECT_EQ(scene.UnitsPerFrame(), 2);
    EXPECT_EQ(scene.TimePerSec(), 60);

    EXPECT_EQ(scene.SearchLogObj("Tpl"), nullptr);
    OvLogObj* robot = scene.SearchLogObj("Robot");
    ASSERT_NE(robot, nullptr);
    EXPECT_EQ(robot, scene.SearchLogObj_ID(3, db->Serial()));
    EXPECT_EQ(scene.SearchLogObj_ID(3, db->Serial() + 1000), nullptr);
    EXPECT_TRUE(robot->IsTimeFreeze());
    EXPECT_EQ(robot->GetCrntFrame(), 50);
    EXPECT_EQ(robot->GetHealth(), 40);
    EXPECT_EQ(robot->GetFullHealth(), 50);
    EXPECT_EQ(robot->GetDPower(), 7);
    EXPECT_EQ(robot->GetParentHurtRate(), 25);

    OvClump* body = robot->GetClumps();
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->GetID(), 10);
    EXPECT_EQ(body->GetSerial(), db->Serial());
    EXPECT_EQ(body->GetRecordWord(0), 0x55);
    EXPECT_TRUE(Near(body->GetPos(), {1, 2, 3}));
    EXPECT_EQ(body->GetMesh(), db->Mesh(0));
    OvClump* arm = scene.SearchLogObjClump("Robot", "arm");
    ASSERT_NE(arm, nullptr);
    EXPECT_EQ(arm->GetParent(), body);
    EXPECT_EQ(scene.SearchClump_ID(11), arm);
    EXPECT_EQ(scene.SearchClump("arm"), arm);

    OvClump* cam = scene.GetCrntCamera();
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(cam->GetID(), 500);
    ASSERT_TRUE(cam->IsCamera());
    EXPECT_FLOAT_EQ(static_cast<OvCamera*>(cam->GetExtension())->GetFov(), 1.2f);

    OvClump* lamp = scene.SearchClump("lamp");
    ASSERT_NE(lamp, nullptr);
    ASSERT_NE(lamp->GetExtension(), nullptr);
    ASSERT_EQ(lamp->GetExtension()->Kind(), OV_EXT_LIGHT);
    EXPECT_EQ(static_cast<OvLight*>(lamp->GetExtension())->Data().type, OV_LIGHT_SPOT);
    EXPECT_FLOAT_EQ(static_cast<OvLight*>(lamp->GetExtension())->Data().range, 77.0f);

    StepFrame(scene);
    OvVector armAt{};
    EXPECT_TRUE(arm->GetWorldPos(armAt));
    EXPECT_TRUE(Near(armAt, {2, 2, 3}));
    EXPECT_EQ(robot->GetCrntFrame(), 50);  // frozen
  }
  db->Destroy();
}

TEST(Instantiate, MissingCameraOrClockIsReported) {
  OvDatabase* db = BuildStage();
  {
    db->Header().cameraId = 9999;
    OvScene scene;
    EXPECT_FALSE(scene.InstantiateDatabase(*db));
    EXPECT_EQ(scene.GetCrntCamera(), nullptr);
    EXPECT_NE(scene.SearchLogObj("Robot"), nullptr);

    OvScene second;
    db->Header().cameraId = -1;
    db->Header().frameRate = 0;
    EXPECT_FALSE(second.InstantiateDatabase(*db));
    EXPECT_EQ(second.TimePerSec(), 60);
  }
  db->Destroy();  // after the scenes built from it
}

}  // namespace
