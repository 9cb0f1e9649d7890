// Camera change, content switch and outside programs driven by flags on
// real clumps in a ticking scene; stored blocks of this and the generation
// family.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <fstream>
#include <sstream>

#include "../scene/scene_fixture.h"
#include "ov_content_switch.h"
#include "ov_gen_nodes.h"
#include "ov_nodes.h"
#include "ov_scene_nodes.h"
#include "ov_stream.h"
#include "trace_capture.h"

namespace {

struct ExecLog {
  std::vector<std::string> runs, messages;
  static bool Execute(void* self, const OvExecRequest& r) {
    static_cast<ExecLog*>(self)->runs.push_back(std::string(r.file) + "|" + r.parameters + "|" +
                                                (r.directory ? r.directory : "-") + "|" + r.baseFolder);
    return std::string(r.file) != "missing";
  }
  static void Message(void* self, const char* text, const char*) {
    static_cast<ExecLog*>(self)->messages.push_back(text);
  }
};

class SceneNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer.quiet = true;
    scene.SetRenderer(&renderer);
    firstCamera = AddCamera(scene);
    OvSetExecHandlers(ExecLog::Execute, ExecLog::Message, &exec);
    OvSetExecPolicy(true, "/content/");
    OvClearContentChange();
  }
  void TearDown() override {
    OvSetExecHandlers(nullptr, nullptr, nullptr);
    OvSetExecPolicy(false, nullptr);
    OvClearContentChange();
    OvClearNextContentName();
  }
  template <class Node>
  Node* Make() {
    return OvArenaNew<Node>(arena);
  }
  OvClump* Object(const char* name, bool camera = false, int32_t id = 0, int32_t serial = -1) {
    OvClump* c = nullptr;
    AddObject(scene, name, &c);
    c->SetID(id), c->SetSerial(serial);
    if (camera) c->SetExtension(new OvCamera(1.0f, 1.0f, 100.0f));
    return c;
  }
  void Attach(OvDbNode* node, OvClump* clump) {
    OvAniCtrl* ctrl = OvNodeController(node, clump);
    ASSERT_TRUE(ctrl && !ctrl->IsOwned() && clump->AddAniCtrl(ctrl));
  }
  void Step(int n = 1) {
    for (int i = 0; i < n; ++i) StepFrame(scene);
  }

  OvChunkArena arena;
  RecordingRenderer renderer{nullptr};
  OvScene scene;
  OvClump* firstCamera = nullptr;
  ExecLog exec;
};

TEST_F(SceneNodes, ChangeCameraPicksThisClumpOrTheIdWithinItsDatabase) {
  OvClump* self = Object("self", true);
  OvClump* plain = Object("plain");  // no camera extension
  OvClump* other = Object("other", true, 7, 1);
  OvClump* mine = Object("mine", true, 7, 2);
  auto* toSelf = Make<OvChangeCameraNode>();
  toSelf->checkMask = toSelf->checkValue = 0x1;
  Attach(toSelf, self);
  Step();
  EXPECT_EQ(scene.GetCrntCamera(), firstCamera);
  self->SetSwitch(0x1, 0x1);
  Step();
  EXPECT_EQ(scene.GetCrntCamera(), self);

  // ID 7 exists in two databases; the node's own one is meant.
  auto* byId = Make<OvChangeCameraNode>();
  byId->cameraId = 7, byId->serial = 2;
  Attach(byId, plain);
  ASSERT_TRUE(scene.UseCamera(other));
  Step();
  EXPECT_EQ(scene.GetCrntCamera(), mine);
}

TEST_F(SceneNodes, ChangeSceneRequestsTheSwitchAndNoNameAsksToEnd) {
  OvClump* c = Object("switch");
  Attach(Make<OvChangeSceneNode>(), c);  // no name: a request to end
  Step();
  EXPECT_TRUE(OvContentChangeRequested());
  EXPECT_STREQ(OvNextContentName(), "");
  OvClearContentChange();
  auto* next = Make<OvChangeSceneNode>();
  char name[] = "levels/next.orv";
  next->fileName = name;
  next->checkMask = next->checkValue = 0x2;
  Attach(next, c);
  c->SetSwitch(0x2, 0x2);
  Step();
  EXPECT_TRUE(OvContentChangeRequested());
  EXPECT_STREQ(OvNextContentName(), "levels/next.orv");
}

TEST_F(SceneNodes, ExternalExecutionRunsEveryFrameTheTestPasses) {
  OvClump* c = Object("exec");
  auto* run = Make<OvExternalExecutionNode>();
  char file[] = "tool", params[] = "-x \"a b\"", dir[] = "";
  run->file = file, run->parameters = params, run->directory = dir;
  run->options = 0;
  run->checkMask = run->checkValue = 0x1;
  Attach(run, c);
  Step();
  EXPECT_TRUE(exec.runs.empty());
  c->SetSwitch(0x1, 0x1);
  Step(3);
  // Empty directory: none; names are relative to the content's folder.
  EXPECT_EQ(exec.runs, std::vector<std::string>(3, "tool|-x \"a b\"|-|/content/"));
  // No file: silent without the error dialog, a message with it.
  auto* empty = Make<OvExternalExecutionNode>();
  empty->options = 0;
  Attach(empty, c);
  run->checkMask = run->checkValue = 0x2;
  Step(2);
  EXPECT_TRUE(exec.runs.size() == 3 && exec.messages.empty());
  empty->options = OvExternalExecutionNode::kErrorDialog;
  Step(2);
  EXPECT_EQ(exec.messages, std::vector<std::string>(1, "No executable file or object."));
}

// A box blocks the frame: each failing node shows it once, however long its flag stays set.
TEST_F(SceneNodes, ExternalExecutionFailureShowsItsBoxOncePerNode) {
  OvClump* c = Object("exec");
  char missing[] = "missing", tool[] = "tool", none[] = "";
  for (char* file : {missing, missing, tool}) {
    auto* node = Make<OvExternalExecutionNode>();
    node->file = file;
    node->parameters = none;
    Attach(node, c);
  }
  Step(3);
  EXPECT_EQ(exec.runs.size(), 9u);
  EXPECT_EQ(exec.messages, std::vector<std::string>(2, "The file or object could not be opened."));
}

TEST_F(SceneNodes, ExternalExecutionOfUntrustedContentIsRefusedWithOneTraceLine) {
  OvSetExecPolicy(false, "/content/");
  TraceCapture trace;
  OvClump* c = Object("exec");
  auto* run = Make<OvExternalExecutionNode>();
  char file[] = "tool";
  run->file = file;
  Attach(run, c);
  Step(3);
  EXPECT_TRUE(exec.runs.empty());
  const std::string& text = trace.Text();
  const std::string line = "External Execution of 'tool' refused";
  const size_t first = text.find(line);
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find(line, first + 1), std::string::npos) << text;
}

// ---------------------------------------------------------------------------

std::vector<uint8_t> Bytes(std::initializer_list<uint32_t> words, std::initializer_list<const char*> strings = {}) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) {
    for (int b = 0; b < 4; ++b) out.push_back(uint8_t(w >> (8 * b)));
  }
  for (const char* s : strings) {
    const size_t n = std::strlen(s);
    out.push_back(uint8_t(n)), out.push_back(uint8_t(n >> 8));
    out.insert(out.end(), s, s + n);
  }
  return out;
}

OvParamValue Slot(uint32_t w0, uint32_t w1 = 0, uint32_t w2 = 0) { return OvParamValue{{w0, w1, w2, 0}}; }
OvParamValue TextSlot(const char* text) {
  const uint64_t a = reinterpret_cast<uintptr_t>(text);
  return Slot(uint32_t(a), uint32_t(a >> 32));
}

class SceneNodeTypes : public ::testing::Test {
 protected:
  void SetUp() override { OvFreeAllNodeTypes(), OvRegisterNodeTypes(); }
  void TearDown() override { OvFreeAllNodeTypes(); }
  OvChunkArena arena;
};

TEST_F(SceneNodeTypes, BlocksOfBothFamiliesReadAndWriteByteForByte) {
  const std::pair<OvTypeId, std::vector<uint8_t>> blocks[] = {
      {OV_NODE_CHANGE_CAMERA, Bytes({100, 0x3, 0x1, uint32_t(-1)})},
      {OV_NODE_CHANGE_SCENE, Bytes({100, 0x1, 0x1}, {"next.orv"})},
      {OV_NODE_CHANGE_SCENE, Bytes({100, 0, 0}, {""})},
      {OV_NODE_EXTERNAL_EXECUTION, Bytes({100, 1, 0x4, 0x4}, {"viewer", "-f \"x y\"", ""})},
      {OV_NODE_GENERATOR,
       Bytes({100, 7, 3, 2, 4800, uint32_t(-1), 0xFFFFFFFFu, 3, 10, 2, 1, 1, 5, std::bit_cast<uint32_t>(0.5f)})},
      {OV_NODE_GENERATE_AFTER_DESTROYED, Bytes({100, 6, 2, 0x3, 0x1, uint32_t(-1), 1, 42})},
      {OV_NODE_DEL_CLUMP_TREE, Bytes({0x8, 0x8})},
      {OV_NODE_DEL_OBJECT_TREE, Bytes({0x10, 0x0})},
  };
  for (const auto& [pair, bytes] : blocks) {
    const OvNodeType* type = OvFindNodeType(pair.group, pair.id);
    OvDbNode* node = type ? type->Create(arena) : nullptr;
    ASSERT_NE(node, nullptr) << pair.id;
    OvStream in, out, cut;
    ASSERT_TRUE(in.OpenMemory(bytes.data(), bytes.size()) && out.OpenMemoryWrite());
    EXPECT_TRUE(node->Read(in, arena) && in.Remaining() == 0) << pair.id;
    EXPECT_TRUE(node->Write(out));
    EXPECT_EQ(std::vector<uint8_t>(out.Image(), out.Image() + out.ImageSize()), bytes) << pair.id;
    // Cut short: fails without reading past the data.
    ASSERT_TRUE(cut.OpenMemory(bytes.data(), bytes.size() - 1));
    EXPECT_FALSE(type->Create(arena)->Read(cut, arena)) << pair.id;
  }
}

TEST_F(SceneNodeTypes, CreateFromValues) {
  int count = 0;
  EXPECT_EQ(OvFindNodeType(0, 30000)->GetParamTable(count)[4].def.i, 1);
  EXPECT_EQ(OvFindNodeType(0, 1245)->GetParamTable(count)[6].def.i, 4800);
  std::string file = "run.sh";
  const OvParamValue ex[] = {Slot(0x2, 0x2), TextSlot(file.c_str()), TextSlot("a b"), TextSlot(""), Slot(0)};
  auto* run = static_cast<OvExternalExecutionNode*>(OvFindNodeType(0, 30000)->CreateFromValues(arena, ex, 5));
  ASSERT_NE(run, nullptr);
  file[0] = 'X';  // the node keeps its own copy
  EXPECT_STREQ(run->file, "run.sh");
  EXPECT_STREQ(run->parameters, "a b");
  EXPECT_TRUE(run->directory == nullptr && run->options == 0);

  // A generator made in a tool turns the object record its chosen clump
  // record emits into a template; the reference's keys are IDs, not indices.
  OvDatabase* db = OvDatabase::Create();
  db->AddLogObjRecord("Shot"), db->AddLogObjRecord("Spark");
  for (int i = 0; i < 5; ++i) db->AddClumpRecord("part");
  db->ClumpRecord(4)->logObjIndex = 1;
  const OvParamValue g[] = {Slot(0),
                            Slot(1, 1),
                            Slot(0),
                            Slot(0),
                            Slot(0, 40, 4),
                            Slot(9),
                            Slot(600),
                            Slot(30),
                            Slot(5),
                            Slot(2),
                            Slot(1),
                            Slot(1),
                            Slot(std::bit_cast<uint32_t>(90.0f)),
                            Slot(1),
                            Slot(1),
                            Slot(10),
                            Slot(2)};
  EXPECT_EQ(OvFindNodeType(0, 1245)->CreateFromValues(db->Arena(), g, 16), nullptr);
  auto* gen = static_cast<OvGeneratorNode*>(OvFindNodeType(0, 1245)->CreateFromValues(db->Arena(), g, 17));
  ASSERT_NE(gen, nullptr);
  EXPECT_TRUE(gen->clumpRecord == 4 && gen->lifeTime == 600 && gen->unlinkTime == 30 && gen->totalLimit == 5 &&
              gen->inSceneLimit == 2 && gen->Database() == db && gen->firstId == 10 && gen->idStep == 2);
  EXPECT_TRUE(gen->options == (OV_GEN_ALIGN_ORIENTATION | OV_GEN_ALIGN_SCALE) &&
              gen->idMode == (OV_GEN_SET_ID | OV_GEN_INHERIT_ID));
  EXPECT_NEAR(gen->rotation, 1.5707964f, 1e-6f);
  EXPECT_TRUE(db->LogObjRecord(1)->creationFlags == 1 && db->LogObjRecord(0)->creationFlags == 0);
  db->Destroy();
}

}  // namespace
