// Clumps: transforms and their change flags, switches, reaction variables,
// culling with lights, private meshes, and record trees from content.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

#include "scene_fixture.h"

namespace {

OvVector WorldPos(const OvClump* c) {
  OvVector p{};
  c->GetWorldPos(p);
  return p;
}

bool Rendered(const RecordingRenderer& r, const OvClump* c) {
  return std::find(r.rendered.begin(), r.rendered.end(), c) != r.rendered.end();
}

TEST(Clump, DefaultsAndReferenceCount) {
  const int32_t clumpsBefore = OvMemoryKindCount(OV_MEM_KIND_CLUMP);
  OvClump* c = OvClump::Create();
  EXPECT_EQ(OvMemoryKindCount(OV_MEM_KIND_CLUMP), clumpsBefore + 1);
  EXPECT_EQ(AllocMemKind(OV_MEM_KIND_COUNT, 16), nullptr);  // unknown kind: no memory
  EXPECT_EQ(c->RefCount(), 1);
  EXPECT_EQ(std::bit_cast<uint32_t>(c->GetPrevWorldPos().x), OV_INVALID_POS_BITS);
  EXPECT_FLOAT_EQ(c->CpGetReactionVar(0), -3.4028235e38f);
  EXPECT_EQ(c->GetRecordWord(0), -1);
  EXPECT_EQ(c->GetRecordWord(1), 0);
  EXPECT_EQ(c->GetSerial(), -1);
  c->CpSetReactionVar(4, 1.0f);
  c->CpSetReactionVar(-1, 1.0f);
  EXPECT_EQ(c->CpGetReactionVar(4), 0.0f);
  c->CpSetReactionVar(3, 2.5f);
  EXPECT_EQ(c->CpGetReactionVar(3), 2.5f);
  c->AddRef();
  c->Release();
  EXPECT_EQ(c->RefCount(), 1);
  c->Release();
}

TEST(Clump, SwitchMaskNeverReachesInvisibleBit) {
  OvClump* c = OvClump::Create();
  c->SetSwitch(0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_EQ(c->GetSwitch(), 0xFFFFu);
  c->SetInvisible();
  c->SetSwitch(0x10000, 0);
  EXPECT_TRUE(c->IsInvisible());
  EXPECT_TRUE(c->CheckSwitch(0x0101, 0x0101));
  EXPECT_FALSE(c->CheckSwitch(0x0101, 0x0100 | 0x10000));
  c->SetSwitch(0x0001, 0);
  EXPECT_TRUE(c->CheckSwitch(0x0101, 0x0100));
  c->SetVisible();
  EXPECT_FALSE(c->IsInvisible());
  c->Release();
}

TEST(Clump, HierarchyVelocityAndWrittenWorldMatrix) {
  OvScene scene;
  AddCamera(scene);
  OvClump* root = nullptr;
  AddObject(scene, "root", &root, {10, 0, 0});
  root->SetUniScale(2.0f);
  OvClump* child = OvClump::Create();
  child->SetPos({1, 0, 0});
  root->AttachChild(child);
  EXPECT_TRUE(child->IsDescendFrom(root));

  OvVector v;
  EXPECT_FALSE(child->GetVelocity(v));
  StepFrame(scene);
  EXPECT_TRUE(Near(WorldPos(child), {12, 0, 0}));
  EXPECT_FLOAT_EQ(child->GetUniScale(), 2.0f);
  EXPECT_FALSE(child->GetVelocity(v));  // animated once only
  root->SetPos({13, 0, 0});
  StepFrame(scene);
  ASSERT_TRUE(child->GetVelocity(v));
  EXPECT_TRUE(Near(v, {3.0f * 60.0f, 0, 0}, 0.05f));

  // A controller that writes the world matrix keeps it for the frame.
  ScriptedCtrl* pin = ScriptedCtrl::Make();
  pin->onAnimate = [](ScriptedCtrl&, OvClump* clump, int32_t) {
    OvMatrix m;
    OvMatrixIdentity(m);
    OvMatrixSetPos(m, {-5, -5, -5});
    clump->SetToWorldMatrix(m);
    clump->MarkChanged(ACF_WORLD_MAT);
  };
  ASSERT_TRUE(child->AddAniCtrl(pin));
  StepFrame(scene);
  EXPECT_TRUE(Near(WorldPos(child), {-5, -5, -5}));
  EXPECT_TRUE(child->GetChangeFlags() & ACF_WORLD_MAT);
}

TEST(Clump, AdjustAndDecomposeKeepTheWorldPlacement) {
  OvClump* parent = OvClump::Create();
  parent->SetPos({3, 0, 0});
  parent->SetScale({1, 2, 3});
  OvQuat q;
  MakeQuat(q, {0, 0, 1}, 0.7f);
  parent->SetQuat(q);
  OvClump* child = OvClump::Create();
  child->SetPos({1, 1, 1});
  parent->AttachChild(child);
  OvMatrix target;
  OvMatrixIdentity(target);
  OvMatrixSetPos(target, {7, 8, 9});
  ASSERT_TRUE(child->SetToWorldMatrix(target));
  ASSERT_TRUE(child->AdjustVPMatrix());
  ASSERT_TRUE(child->CalcToWorldMatrix());
  EXPECT_TRUE(Near(WorldPos(child), {7, 8, 9}));

  ASSERT_TRUE(child->SetVPMatrix(nullptr));
  OvMatrix world = target;
  OvMatrixSetPos(world, {0, 5, 0});
  child->SetToWorldMatrix(world);
  ASSERT_TRUE(child->DecomposeWorldToPRS());
  child->CalcToWorldMatrix();
  EXPECT_TRUE(Near(WorldPos(child), {0, 5, 0}));
  parent->Release();
}

TEST(Clump, CullingUsesSpheresVisibilityAndLights) {
  CallLog log;
  RecordingRenderer renderer(&log);
  renderer.quiet = true;
  OvDatabase* db = OvDatabase::Create();
  {
    OvScene scene;
    scene.SetRenderer(&renderer);
    AddCamera(scene);  // at the origin, looking down -z
    OvClump *ahead, *behind, *hidden, *bare, *noSphere, *farAway;
    AddObject(scene, "ahead", &ahead, {0, 0, -50});
    AddObject(scene, "behind", &behind, {0, 0, 50});
    AddObject(scene, "hidden", &hidden, {0, 0, -50});
    AddObject(scene, "bare", &bare, {0, 0, -50});
    AddObject(scene, "noSphere", &noSphere, {0, 0, 5000});
    AddObject(scene, "far", &farAway, {0, 0, -5000});
    OvMesh* quad = MakeQuadMesh(*db, 1.0f);
    for (OvClump* c : {ahead, behind, hidden, farAway}) c->SetMesh(quad);
    noSphere->SetMesh(MakeQuadMesh(*db, 1.0f, false));
    hidden->SetInvisible();

    OvClump *sun, *lamp, *offLamp;
    AddObject(scene, "sun", &sun);
    AddObject(scene, "lamp", &lamp, {0, 0, -30});
    AddObject(scene, "offLamp", &offLamp, {0, 0, 500});
    OvLightData d;
    d.type = OV_LIGHT_DIRECTIONAL;
    sun->SetExtension(new OvLight(d));
    d.type = OV_LIGHT_POINT;
    d.range = 10.0f;
    lamp->SetExtension(new OvLight(d));
    offLamp->SetExtension(new OvLight(d));

    scene.FrameStep();
    EXPECT_TRUE(Rendered(renderer, ahead));
    EXPECT_TRUE(Rendered(renderer, noSphere));  // never culled by the frustum
    EXPECT_FALSE(Rendered(renderer, behind));
    EXPECT_FALSE(Rendered(renderer, hidden));
    EXPECT_FALSE(Rendered(renderer, bare));
    EXPECT_FALSE(Rendered(renderer, farAway));  // beyond the far plane
    EXPECT_FALSE(ahead->IsCulled());
    EXPECT_TRUE(behind->IsCulled());
    EXPECT_TRUE(hidden->IsCulled());
    EXPECT_EQ(renderer.lightCount, 2);  // the sun and the lamp in view
    EXPECT_TRUE(sun->IsCulled());
    EXPECT_FALSE(Rendered(renderer, lamp));
  }
  db->Destroy();
}

TEST(Clump, AnimatedMeshChannelsBecomePrivate) {
  OvDatabase* db = OvDatabase::Create();
  OvMesh* shared = MakeQuadMesh(*db, 1.0f);
  OvClump* plain = OvClump::Create();
  OvClump* animated = OvClump::Create();
  plain->SetMesh(shared);
  animated->SetMesh(shared);
  EXPECT_EQ(shared->refCount, 3);

  ScriptedCtrl* mover = ScriptedCtrl::Make();
  mover->channels = ACF_POS;
  ASSERT_TRUE(plain->AddAniCtrl(mover));
  EXPECT_EQ(plain->GetMesh(), shared);  // no mesh channel: still shared

  ScriptedCtrl* morph = ScriptedCtrl::Make();
  morph->channels = ACF_VERTS;
  ASSERT_TRUE(animated->AddAniCtrl(morph));
  OvMesh* own = animated->GetMesh();
  ASSERT_NE(own, shared);
  EXPECT_EQ(own->sharedMesh, shared);
  EXPECT_NE(own->positions, shared->positions);
  EXPECT_EQ(own->indices, shared->indices);
  own->positions[0] = 42.0f;
  EXPECT_NE(shared->positions[0], 42.0f);
  animated->MarkChanged(ACF_VERTS | ACF_POS);
  EXPECT_EQ(own->changeFlags & ACF_MESH_FORWARD, ACF_VERTS);

  animated->Release();
  EXPECT_EQ(shared->refCount, 2);
  plain->Release();
  EXPECT_EQ(shared->refCount, 1);
  db->Destroy();
}

TEST(Clump, RecordTreesFromContentAlwaysEnd) {
  OvDatabase* db = OvDatabase::Create();
  OvClumpRecord* a = db->AddClumpRecord("a");
  OvClumpRecord* b = db->AddClumpRecord("b");
  OvClumpRecord* c = db->AddClumpRecord("c");
  a->firstChild = 1;
  b->nextBrother = 2;
  c->nextBrother = 1;  // brothers in a ring
  c->firstChild = 0;   // and a child that is the root again
  b->firstChild = 99;  // out of range
  b->meshIndex = 5;    // no such mesh
  b->aniSetIndex = 7;  // no such set
  OvClump* tree = OvClump::InstantiateTree(*db, 0);
  ASSERT_NE(tree, nullptr);
  OvClump* first = tree->GetChild();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->GetName(), "b");
  ASSERT_NE(first->GetNextBrother(), nullptr);
  EXPECT_STREQ(first->GetNextBrother()->GetName(), "c");
  EXPECT_EQ(first->GetNextBrother()->GetNextBrother(), nullptr);
  EXPECT_EQ(first->GetNextBrother()->GetChild(), nullptr);
  EXPECT_EQ(first->GetMesh(), nullptr);
  EXPECT_EQ(tree->FindChild("c"), first->GetNextBrother());
  EXPECT_EQ(OvClump::InstantiateTree(*db, -1), nullptr);
  EXPECT_EQ(OvClump::InstantiateTree(*db, 3), nullptr);
  tree->Release();
  db->Destroy();
}

}  // namespace
