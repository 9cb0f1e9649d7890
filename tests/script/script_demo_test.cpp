// The compiled scripted demo in process: C++ reads and writes a script's
// instance numbers through FindScriptCtrl.
#include "ov_nodes.h"
#include "script_fixture.h"

namespace {

using ScriptDemo = ScriptTest;

TEST_F(ScriptDemo, InstanceNumbersFromCpp) {
  OvRegisterNodeTypes();
  OvRegisterSceneExtensionTypes();
  Start();
  OvDatabase* db = OvDatabase::Create();
  ASSERT_NE(db, nullptr);
  {
    OvScene demo;
    demo.SetRenderer(&renderer);
    ASSERT_TRUE(db->Load(OV_DEMO_DIR "/scripted.orv"));
    ASSERT_TRUE(demo.InstantiateDatabase(*db));
    OvClump* counter = demo.SearchClump("counter");
    ASSERT_NE(counter, nullptr);
    OvAniCtrl* ctrl = OvFindScriptCtrl(counter, "Counter");
    ASSERT_NE(ctrl, nullptr);
    EXPECT_EQ(OvFindScriptCtrl(counter, "Slider"), nullptr);
    for (int i = 0; i < 3; ++i) StepFrame(demo);
    EXPECT_EQ(OvGetInstanceNumber(ctrl, "count"), 3.0f);
    ASSERT_TRUE(OvSetInstanceNumber(ctrl, "count", 100.0f));
    StepFrame(demo);
    EXPECT_EQ(counter->GetPos().y, 101.0f);
  }
  db->Destroy();
}

}  // namespace
