#include "scene_dump.h"

#include <cstdio>

#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_json_writer.h"
#include "ov_logobj.h"
#include "ov_scene.h"
#include "ov_screen_point.h"
#include "ov_trace.h"

namespace {

const OvSceneDumpExtras* g_extras = nullptr;

// Content trees can be deep; the walk refuses to recurse beyond this.
constexpr int kMaxDepth = 512;

void Vec(JsonWriter& j, const char* key, const OvVector& v) {
  float f[3] = {v.x, v.y, v.z};
  j.MemberReals(key, f, 3);
}

void ClumpChain(JsonWriter& j, const OvScene& scene, const OvClump* first, int depth) {
  for (const OvClump* c = first; c != nullptr; c = c->GetNextBrother()) {
    j.BeginObject();
    j.Member("id", c->GetID());
    j.Member("name", c->GetName() ? c->GetName() : "");
    Vec(j, "position", c->GetPos());
    const OvQuat& q = c->GetQuat();
    float rot[4] = {q.s, q.v.x, q.v.y, q.v.z};
    j.MemberReals("rotation", rot, 4);
    Vec(j, "scale", c->GetScale());
    if (const OvMatrix* w = c->GetToWorldMatrix()) {
      float pos[3] = {w->m[3][0], w->m[3][1], w->m[3][2]};
      j.MemberReals("worldPosition", pos, 3);
    } else {
      j.Key("worldPosition");
      j.Null();
    }
    j.MemberU("switchWord", c->GetSwitch());
    j.MemberBool("culled", c->IsCulled());
    j.Key("controllers");
    j.BeginArray();
    if (const OvAniCtrlList* list = c->GetAniCtrlList())
      for (int i = 0; i < list->Count(); ++i)
        if (const OvAniCtrl* a = list->At(i)) j.Int(a->GetCtrlId());
    j.EndArray();
    j.Key("children");
    j.BeginArray();
    if (depth < kMaxDepth) ClumpChain(j, scene, c->GetChild(), depth + 1);
    j.EndArray();
    if (g_extras != nullptr && g_extras->screenPoints) {
      // The pixel "move @NAME" points at; null when it has none.
      float xy[2] = {0, 0};
      j.Key("screen");
      if (OvClumpScreenPoint(scene, *c, xy[0], xy[1]) == OvScreenPointResult::Ok) {
        j.BeginArray();
        j.Real(xy[0]);
        j.Real(xy[1]);
        j.EndArray();
      } else {
        j.Null();
      }
    }
    j.EndObject();
  }
}

void ObjectChain(JsonWriter& j, const OvScene& scene, const OvLogObj* first, int depth) {
  for (const OvLogObj* o = first; o != nullptr; o = o->LoGetNextBrother()) {
    j.BeginObject();
    j.Member("id", o->LoGetID());
    j.Member("name", o->LoGetName());
    j.Member("localTime", o->LocalTime());
    j.MemberU("flags", o->GetObjFlags());
    j.MemberU("stateFlags", o->GetStateFlags());
    j.Key("clumps");
    j.BeginArray();
    ClumpChain(j, scene, o->GetClumps(), 0);
    j.EndArray();
    j.Key("children");
    j.BeginArray();
    if (depth < kMaxDepth) ObjectChain(j, scene, o->LoGetChild(), depth + 1);
    j.EndArray();
    j.EndObject();
  }
}

}  // namespace

void OvSetSceneDumpExtras(const OvSceneDumpExtras* extras) { g_extras = extras; }

std::string OvSceneToJson(const OvScene& scene) {
  std::string out;
  JsonWriter j(out);
  j.BeginObject();
  j.Member("time", scene.GetTime());
  j.Member("timePerSecond", scene.TimePerSec());
  j.MemberU("frames", scene.FrameCount());
  j.Key("camera");
  if (const OvClump* cam = scene.GetCrntCamera()) {
    j.BeginObject();
    j.Member("id", cam->GetID());
    j.Member("name", cam->GetName() ? cam->GetName() : "");
    if (const OvMatrix* w = cam->GetToWorldMatrix()) {
      float pos[3] = {w->m[3][0], w->m[3][1], w->m[3][2]};
      j.MemberReals("worldPosition", pos, 3);
    }
    if (const OvCamera* c = dynamic_cast<const OvCamera*>(cam->GetExtension())) {
      float n = 0, f = 0;
      c->GetClipPlane(n, f);
      j.MemberBool("perspective", c->IsPerspective());
      j.MemberReal("fov", c->GetFov());
      j.MemberReal("near", n);
      j.MemberReal("far", f);
    }
    j.EndObject();
  } else {
    j.Null();
  }
  j.Key("objects");
  j.BeginArray();
  ObjectChain(j, scene, scene.GetLogObjs(), 0);
  j.EndArray();
  if (g_extras != nullptr && g_extras->members) g_extras->members(j);
  j.EndObject();
  out += "\n";
  return out;
}

bool OvDumpSceneJson(const OvScene& scene, const char* path) {
  std::string text = OvSceneToJson(scene);
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) {
    _TraceFormat("!!! Can not write the scene dump '%s'.\n", path);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) _TraceFormat("!!! Can not write the scene dump '%s'.\n", path);
  return ok;
}
