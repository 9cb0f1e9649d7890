// A started script host over an empty script folder and a ticking scene.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ov_script_host.h"
#include "ov_script_node.h"
#include "scene_fixture.h"
#include "trace_capture.h"

#include <lua.hpp>

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ov_script_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    scene.SetRenderer(&renderer);
    AddCamera(scene);  // a scene without a camera does not tick
  }
  void TearDown() override {
    OvScriptShutdown();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  void Start() { ASSERT_TRUE(OvScriptStart(folder.c_str())); }
  void WriteScript(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(folder + "/" + name).parent_path());
    FILE* f = std::fopen((folder + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  bool Run(const std::string& text) { return OvScriptRunString(text.c_str()); }
  // The global as a number (0 when it is none).
  double Num(const char* name) {
    lua_State* L = OvScriptState();
    lua_getglobal(L, name);
    const double v = lua_tonumber(L, -1);
    lua_pop(L, 1);
    return v;
  }
  std::string Str(const char* name) {
    lua_State* L = OvScriptState();
    lua_getglobal(L, name);
    const char* s = lua_tostring(L, -1);
    std::string out = s ? s : "<nil>";
    lua_pop(L, 1);
    return out;
  }
  // A Script node in the test arena naming `table`.
  OvScriptNode* Node(const char* table, const char* init = nullptr, uint32_t mask = 0, uint32_t value = 0) {
    auto* n = OvArenaNew<OvScriptNode>(arena);
    n->scriptName = Copy(table);
    n->initValue = Copy(init);
    n->checkMask = mask;
    n->checkValue = value;
    return n;
  }
  // The node's controller on a new object's clump; null when none.
  OvAniCtrl* Attach(OvScriptNode* node, OvClump** clumpOut = nullptr, const char* name = "obj") {
    OvClump* c = nullptr;
    AddObject(scene, name, &c);
    if (clumpOut) *clumpOut = c;
    auto* ctrl = static_cast<OvAniCtrl*>(node->GetController(c));
    if (ctrl) {
      EXPECT_TRUE(c->AddAniCtrl(ctrl));
    }
    return ctrl;
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  std::string folder;
  OvChunkArena arena;
  RecordingRenderer renderer{nullptr};
  OvScene scene;

 private:
  char* Copy(const char* s) {
    if (!s) return nullptr;
    char* c = static_cast<char*>(arena.Allocate(int32_t(std::strlen(s) + 1)));
    std::strcpy(c, s);
    return c;
  }
};
