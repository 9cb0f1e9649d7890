// The builders, through whole stage sources: what each puts into the content
// file, read back by the engine's loader.
#include <gtest/gtest.h>

#include <stb_image_write.h>

#include <cmath>

#include "orvc_records.h"
#include "orvc_test_util.h"
#include "ov_camera.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_typed_record.h"

using namespace orvc_test;

namespace {

DatabasePtr CompileAndLoad(const std::string& text, const std::string& folder = ".") {
  Compiled c = Compile(text, folder);
  EXPECT_TRUE(c.ok) << c.error;
  if (!c.ok) return nullptr;
  DatabasePtr db = Load(c.image);
  EXPECT_NE(db, nullptr);
  return db;
}

// The raw payload of a typed record the loader kept as bytes.
Bytes Payload(const OvDbNode* node) {
  const auto* raw = dynamic_cast<const OvMissingNode*>(node);
  if (!raw) return NodeBytes(*node);
  return Bytes(raw->Payload(), raw->Payload() + raw->PayloadSize());
}

TEST(OrvcCompile, HeaderFields) {
  DatabasePtr db = CompileAndLoad(R"(
    local cam = clump{ name = "cam", id = 7, camera = {} }
    object{ name = "o", clump = cam }
    stage{ name = "hall", frame_rate = 30, units_per_frame = 4, background = "#102030",
           ambient = { 1, 0.5, 0, 0.5 }, fog = 0x80FFFFFF }
    stage{ camera = cam }
  )");
  ASSERT_NE(db, nullptr);
  EXPECT_STREQ(db->Name(), "hall");
  const OvDbHeader& h = db->Header();
  EXPECT_EQ(h.frameRate, 30u);
  EXPECT_EQ(h.timeUnitsPerFrame, 4);
  EXPECT_EQ(h.background, 0xFF102030u);
  EXPECT_EQ(h.ambient, 0x80FF8000u);
  ASSERT_NE(h.fogColor, nullptr);
  EXPECT_EQ(*h.fogColor, 0x80FFFFFFu);
  EXPECT_EQ(h.cameraId, 7);
}

TEST(OrvcCompile, CameraWithoutIdGetsOneAboveTheOthers) {
  DatabasePtr db = CompileAndLoad(R"(
    local a = clump{ name = "a", id = 40 }
    local cam = clump{ name = "cam", camera = { fov = 90, near = 2, far = 500, fog_near = 100, fog_far = 400 } }
    object{ name = "o", clumps = { a, cam } }
    stage{ camera = cam }
  )");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->Header().cameraId, 41);
  const OvClumpRecord* cam = db->ClumpRecord(1);
  EXPECT_EQ(cam->id, 41);
  ASSERT_EQ(cam->extensionFlags, OV_CLUMP_EXTENSION);
  const auto* ext = dynamic_cast<const OvDbCameraExt*>(cam->extension);
  ASSERT_NE(ext, nullptr);
  EXPECT_EQ(ext->m_flags, OV_CAMERA_FLAG_PERSPECTIVE);
  EXPECT_NEAR(ext->m_fov, C_PI / 2, 1e-6);  // degrees in, radians stored
  EXPECT_FLOAT_EQ(ext->m_near, 2);
  EXPECT_FLOAT_EQ(ext->m_far, 500);
  EXPECT_FLOAT_EQ(ext->m_fogNear, 100);
  EXPECT_FLOAT_EQ(ext->m_fogFar, 400);
}

TEST(OrvcCompile, TexturePixelsInEachStoredForm) {
  DatabasePtr db = CompileAndLoad(R"(
    texture{ width = 2, height = 1, format = "rgb565", pixels = function(x) return x == 0 and "#FF0000" or "#0000FF" end }
    texture{ width = 1, height = 1, format = "argb4444", solid = 0x12345678 }
    texture{ width = 1, height = 1, format = "xrgb8888", solid = 0x00336699 }
    texture{ width = 3, height = 1, format = "p8", compress = true,
             pixels = function(x) return x == 1 and "#00FF00" or "#FFFFFF" end }
    texture{ width = 3, height = 1, gradient = { from = "#000000", to = "#FFFFFF" } }
    texture{ width = 4, height = 4, checker = { a = "#FFFFFF", b = "#000000", size = 2 }, format = "rgb332" }
  )");
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->TextureCount(), 6u);
  const OvTextureRecord* t565 = db->Texture(0)->record;
  ASSERT_NE(t565->pixels16, nullptr);
  EXPECT_EQ(t565->redBits, 5);
  EXPECT_EQ(t565->greenBits, 6);
  EXPECT_EQ(t565->pixels16[0], 0xF800);
  EXPECT_EQ(t565->pixels16[1], 0x001F);
  EXPECT_EQ(db->Texture(1)->record->pixels16[0], 0x1357);
  EXPECT_EQ(db->Texture(2)->record->alphaBits, 255);
  EXPECT_EQ(db->Texture(2)->record->pixels32[0], 0xFF336699u);  // no alpha: opaque byte
  const OvTextureRecord* p8 = db->Texture(3)->record;
  EXPECT_TRUE(p8->compressed);
  EXPECT_EQ(p8->paletteBits, 8);
  EXPECT_EQ(p8->pixels16, nullptr);
  EXPECT_EQ(p8->pixels32, nullptr);
  EXPECT_EQ(p8->PaletteColors()[0], 0xFFFFFFFFu);  // in order of first use
  EXPECT_EQ(p8->PaletteColors()[1], 0xFF00FF00u);
  EXPECT_EQ(p8->PaletteIndices()[0], 0);
  EXPECT_EQ(p8->PaletteIndices()[1], 1);
  EXPECT_EQ(p8->PaletteIndices()[2], 0);
  const OvTextureRecord* g = db->Texture(4)->record;
  EXPECT_EQ(g->pixels32[0], 0xFF000000u);
  EXPECT_EQ(g->pixels32[1], 0xFF808080u);
  EXPECT_EQ(g->pixels32[2], 0xFFFFFFFFu);
  const OvTextureRecord* chk = db->Texture(5)->record;
  EXPECT_EQ(chk->pixels16[0], 0xFF);
  EXPECT_EQ(chk->pixels16[2], 0x00);
  EXPECT_EQ(chk->pixels16[10], 0xFF);
}

void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<Bytes*>(context);
  out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

TEST(OrvcCompile, TextureFromAPngFile) {
  TempDir dir;
  const uint8_t rgba[2 * 2 * 4] = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 10, 20, 30, 255};
  Bytes png;
  ASSERT_TRUE(stbi_write_png_to_func(&AppendBytes, &png, 2, 2, 4, rgba, 8));
  dir.Write("img/tile.png", png);
  DatabasePtr db = CompileAndLoad(R"(texture{ file = "img/tile.png", format = "argb8888" })", dir.Path());
  ASSERT_NE(db, nullptr);
  const OvTextureRecord* r = db->Texture(0)->record;
  EXPECT_EQ(r->width, 2);
  EXPECT_EQ(r->height, 2);
  EXPECT_EQ(r->pixels32[0], 0xFFFF0000u);
  EXPECT_EQ(r->pixels32[1], 0x8000FF00u);
  EXPECT_EQ(r->pixels32[2], 0x000000FFu);
  EXPECT_EQ(r->pixels32[3], 0xFF0A141Eu);
}

TEST(OrvcCompile, MaterialStoredFormByteForByte) {
  DatabasePtr db = CompileAndLoad(R"(
    local a = texture{ width = 1, height = 1, solid = 0 }
    local b = texture{ width = 1, height = 1, solid = 0 }
    material{ name = "mix", blend = "alpha", alpha_test = true, layers = {
      { kind = "modulate", texture = b },
      { kind = "add", texture = a, set = 1, address = "clamp", address_w = "wrap" },
      { kind = 0x10000, texture = b } } }
  )");
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->ShaderCount(), 1u);
  OvDbNode* shader = db->Shader(0);
  OvTypeId type;
  shader->GetTypeId(type);
  EXPECT_EQ(type, (OvTypeId{0, 1000000}));
  const Bytes expected = [] {
    OvStream s;
    s.OpenMemoryWrite();
    s.WriteU32(101);
    s.WriteString("mix");
    s.WriteU32(3);     // layers
    s.WriteU32(0x1F);  // every array present
    for (uint32_t k : {4u, 3u, 0x10000u}) s.WriteU32(k);
    const uint8_t slots[] = {0, 1, 0}, sets[] = {0, 1, 0}, u[] = {1, 3, 1}, v[] = {1, 3, 1}, w[] = {1, 1, 1};
    for (const uint8_t* a : {slots, sets, u, v, w}) s.WriteBytes(a, 3);
    s.WriteU32(2);  // blend: alpha
    s.WriteU32(2);  // alpha test is option bit 1
    s.WriteU32(2);  // textures in first-use order: b, a
    s.WriteI32(1);
    s.WriteI32(0);
    Bytes b(s.Image(), s.Image() + s.ImageSize());
    s.Close();
    return b;
  }();
  EXPECT_EQ(Payload(shader), expected);
}

TEST(OrvcCompile, MeshSubsetsMaterialsAndFlags) {
  DatabasePtr db = CompileAndLoad(R"(
    local red = material{ name = "red", diffuse = { 1, 0, 0 }, specular = "#808080", power = 12 }
    local blue = material{ name = "blue", diffuse = "#0000FF", emissive = { 0, 0, 0.5 } }
    mesh{ positions = { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 }, { 0, 1, 0 } },
          colors = { "#FF0000", "#00FF00", "#0000FF", 0x80FFFFFF },
          normals = "smooth", uv = { 0, 0, 1, 0, 1, 1, 0, 1 },
          indices = { 0, 1, 2, 0, 2, 3 },
          subsets = { { material = red, first = 0, count = 1 }, { material = blue, first = 1 } },
          two_sided = true }
    box{ size = { 2, 4, 6 } }
    box{ size = 1 }
  )");
  ASSERT_NE(db, nullptr);
  // Two materials, then the default one the two boxes share.
  ASSERT_EQ(db->ShaderCount(), 3u);
  const OvMesh* m = db->Mesh(0);
  EXPECT_EQ(m->vertexCount, 4);
  EXPECT_EQ(m->triangleCount, 2);
  EXPECT_EQ(m->indexCount, 6);
  EXPECT_EQ(m->flags, OV_MESH_TWO_SIDED);
  ASSERT_NE(m->colors, nullptr);
  EXPECT_EQ(m->colors[3], 0x80FFFFFFu);
  ASSERT_NE(m->normals, nullptr);
  EXPECT_FLOAT_EQ(m->normals[2], 1.0f);
  ASSERT_EQ(m->setCount, 1);
  EXPECT_EQ(m->sets[0].coordCount, 4);
  EXPECT_EQ(m->sets[0].indexCount, 6);
  ASSERT_EQ(m->subsetCount, 2);
  EXPECT_EQ(m->shaderIndices[0], 0);
  EXPECT_EQ(m->shaderIndices[1], 1);
  ASSERT_NE(m->ranges, nullptr);  // first triangle, triangle count
  EXPECT_EQ(m->ranges[0], 0u);
  EXPECT_EQ(m->ranges[1], 1u);
  EXPECT_EQ(m->ranges[2], 1u);
  EXPECT_EQ(m->ranges[3], 1u);
  EXPECT_FLOAT_EQ(m->materials[0].diffuse[0], 1);
  EXPECT_FLOAT_EQ(m->materials[0].ambient[0], 1);  // ambient follows diffuse
  EXPECT_NEAR(m->materials[0].specular[1], 128 / 255.0, 1e-6);
  EXPECT_FLOAT_EQ(m->materials[0].power, 12);
  EXPECT_FLOAT_EQ(m->materials[1].emissive[2], 0.5f);  // reals are kept as given

  const OvMesh* box = db->Mesh(1);
  EXPECT_EQ(box->subsetCount, 1);
  EXPECT_EQ(box->ranges, nullptr);  // one subset stores no ranges
  EXPECT_EQ(box->shaderIndices[0], 2);
  EXPECT_EQ(db->Mesh(2)->shaderIndices[0], 2);
  ASSERT_NE(box->bounds, nullptr);
  EXPECT_FLOAT_EQ(box->bounds[0], 0);
  EXPECT_NEAR(box->bounds[3], std::sqrt(1.0 + 4.0 + 9.0), 1e-5);
  EXPECT_FLOAT_EQ(box->bounds[4], -1);
  EXPECT_FLOAT_EQ(box->bounds[9], 3);
}

TEST(OrvcCompile, ClumpTreesAndObjectsAreLaidOutDepthFirst) {
  DatabasePtr db = CompileAndLoad(R"(
    local leaf1 = clump{ name = "leaf1" }
    local leaf2 = clump{ name = "leaf2", switch = 0x5, invisible = true }
    local arm = clump{ name = "arm", children = { leaf1, leaf2 }, position = { 1, 2, 3 }, scale = 2,
                       rotation = rotation("z", 90), flags = 0x40 }
    local body = clump{ name = "body", id = 5, children = { arm } }
    local tail = clump{ name = "tail" }
    local spare = clump{ name = "spare" }
    local tmpl = object{ name = "bullet", id = 9, template = true, clump = spare }
    object{ name = "robot", id = 3, clumps = { body, tail }, flags = { "collidable", "immune" }, category = 2,
            health = 50, power = 4, parent_hurt_rate = 25 }
    clump{ name = "loose", emit_object = tmpl, placement = 0 }
  )");
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->ClumpRecordCount(), 7u);
  // Objects' trees in object order, then clumps no object holds.
  const char* names[] = {"spare", "body", "arm", "leaf1", "leaf2", "tail", "loose"};
  for (int i = 0; i < 7; ++i) EXPECT_STREQ(db->ClumpRecord(i)->name, names[i]) << i;
  EXPECT_EQ(db->ClumpRecord(1)->firstChild, 2);
  EXPECT_EQ(db->ClumpRecord(1)->nextBrother, 5);  // body -> tail, the object's roots
  EXPECT_EQ(db->ClumpRecord(2)->firstChild, 3);
  EXPECT_EQ(db->ClumpRecord(3)->nextBrother, 4);
  EXPECT_EQ(db->ClumpRecord(4)->nextBrother, -1);
  EXPECT_EQ(db->ClumpRecord(5)->nextBrother, -1);
  EXPECT_EQ(db->ClumpRecord(1)->id, 5);
  EXPECT_EQ(db->ClumpRecord(4)->switchWord, 0x10005u);
  const OvClumpRecord* arm = db->ClumpRecord(2);
  EXPECT_FLOAT_EQ(arm->position[2], 3);
  EXPECT_FLOAT_EQ(arm->scale[1], 2);
  EXPECT_NEAR(arm->rotation[0], std::sqrt(0.5), 1e-6);
  EXPECT_NEAR(arm->rotation[3], std::sqrt(0.5), 1e-6);
  EXPECT_EQ(arm->flags, 0x40u);
  EXPECT_EQ(db->ClumpRecord(6)->logObjIndex, 0);
  EXPECT_EQ(db->ClumpRecord(6)->placement, 0);

  ASSERT_EQ(db->LogObjRecordCount(), 2u);
  const OvLogObjRecord* bullet = db->LogObjRecord(0);
  EXPECT_EQ(bullet->creationFlags, 1);
  EXPECT_EQ(bullet->firstClump, 0);
  const OvLogObjRecord* robot = db->LogObjRecord(1);
  EXPECT_STREQ(robot->name, "robot");
  EXPECT_EQ(robot->id, 3);
  EXPECT_EQ(robot->firstClump, 1);
  EXPECT_EQ(robot->objectFlags, 0x1 | 0x40000 | 2);
  EXPECT_EQ(robot->health, 50);
  EXPECT_EQ(robot->fullHealth, 50);
  EXPECT_EQ(robot->dPower, 4);
  EXPECT_EQ(robot->parentHurtRate, 25);
}

TEST(OrvcCompile, LightPayloadLayout) {
  DatabasePtr db = CompileAndLoad(R"(
    clump{ name = "spot", light = { type = "spot", diffuse = { 1, 0.5, 0.25 }, position = { 1, 2, 3 },
                                   direction = { 0, 0, -1 }, range = 300, falloff = 2,
                                   attenuation = { 1, 0.1, 0.01 }, inner_angle = 30, outer_angle = 60 } }
  )");
  ASSERT_NE(db, nullptr);
  const OvDbNode* ext = db->ClumpRecord(0)->extension;
  ASSERT_NE(ext, nullptr);
  const Bytes b = NodeBytes(*ext);
  ASSERT_EQ(b.size(), 2 * 4 + 25 * 4u);  // format, type, 25 reals
  EXPECT_EQ(U32(&b[0]), 100u);
  EXPECT_EQ(U32(&b[4]), uint32_t(OV_LIGHT_SPOT));
  EXPECT_FLOAT_EQ(F32(&b[8]), 1.0f);         // diffuse r
  EXPECT_FLOAT_EQ(F32(&b[12]), 0.5f);        // diffuse g, kept as given
  EXPECT_FLOAT_EQ(F32(&b[8 + 12 * 4]), 1);   // position x after three colours
  EXPECT_FLOAT_EQ(F32(&b[8 + 17 * 4]), -1);  // direction z
  EXPECT_FLOAT_EQ(F32(&b[8 + 18 * 4]), 300);
  EXPECT_FLOAT_EQ(F32(&b[8 + 19 * 4]), 2);
  EXPECT_FLOAT_EQ(F32(&b[8 + 21 * 4]), 0.1f);
  EXPECT_NEAR(F32(&b[8 + 23 * 4]), C_PI / 6, 1e-6);  // theta in radians
  EXPECT_NEAR(F32(&b[8 + 24 * 4]), C_PI / 3, 1e-6);
}

TEST(OrvcCompile, LookAtPointsTheCameraAtItsTarget) {
  DatabasePtr db = CompileAndLoad(R"(clump{ name = "c", position = { 0, -10, 10 }, look_at = { 0, 0, 0 } })");
  ASSERT_NE(db, nullptr);
  const float* r = db->ClumpRecord(0)->rotation;
  OvMatrix m;
  OvQuatToMatrix(m, OvQuat{r[0], {r[1], r[2], r[3]}});
  // The camera looks along its local -z: row 2 is the way back to the eye.
  const float k = std::sqrt(0.5f);
  EXPECT_NEAR(m.m[2][0], 0, 1e-5);
  EXPECT_NEAR(m.m[2][1], -k, 1e-5);
  EXPECT_NEAR(m.m[2][2], k, 1e-5);
  EXPECT_NEAR(m.m[0][0], 1, 1e-5);  // right stays +x
}

TEST(OrvcCompile, RotationHelpersAgreeWithTheEngine) {
  Compiled c = Compile(R"(
    local q = euler(90, 0, 90)
    clump{ name = "e", rotation = q }
  )");
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  const float* r = db->ClumpRecord(0)->rotation;
  OvMatrix m;
  OvQuatToMatrix(m, OvQuat{r[0], {r[1], r[2], r[3]}});
  // X first: local y goes to +z; then Z: local x goes to +y.
  EXPECT_NEAR(m.m[1][2], 1, 1e-5);
  EXPECT_NEAR(m.m[0][1], 1, 1e-5);
}

TEST(OrvcCompile, ScriptsAreStoredCompressed) {
  TempDir dir;
  dir.Write("scripts/init.lua", std::string("Speed = 3\n"));
  DatabasePtr db = CompileAndLoad(R"(
    script{ file = "scripts/init.lua" }
    script{ source = "function OnTick() end", kind = 2 }
  )",
                                  dir.Path());
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->ScriptCount(), 2u);
  const OvScriptEntry* s = db->Script(0);
  EXPECT_EQ(s->compressed, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(s->bytes), s->length), "Speed = 3\n");
  EXPECT_EQ(db->Script(1)->kind, 2);
}

Bytes Wave(uint16_t channels, uint16_t bits) {
  Bytes b;
  auto str = [&](const char* s) { b.insert(b.end(), s, s + 4); };
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  auto u16 = [&](uint16_t v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); };
  str("RIFF");
  u32(36 + 8);
  str("WAVE");
  str("fmt ");
  u32(16);
  u16(1);
  u16(channels);
  u32(22050);
  u32(22050 * channels * bits / 8);
  u16(uint16_t(channels * bits / 8));
  u16(bits);
  str("data");
  u32(8);
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(i * 16));
  return b;
}

TEST(OrvcCompile, SoundsEmbeddedOrByName) {
  TempDir dir;
  dir.Write("snd/bell.wav", Wave(1, 8));
  dir.Write("snd/stereo.wav", Wave(2, 16));
  DatabasePtr db = CompileAndLoad(R"(
    sound{ file = "snd/bell.wav" }
    sound{ name = "far.wav" }
  )",
                                  dir.Path());
  ASSERT_NE(db, nullptr);
  const OvSoundDatabase* sounds = db->SoundDatabase();
  ASSERT_EQ(sounds->Count(), 2u);
  EXPECT_STREQ(sounds->Item(0)->name, "bell.wav");
  EXPECT_EQ(sounds->Item(0)->embedded, 1);
  EXPECT_EQ(sounds->Item(0)->size, Wave(1, 8).size());
  EXPECT_EQ(sounds->Item(0)->checksum, OvSoundChecksum(sounds->Item(0)->data, sounds->Item(0)->size));
  EXPECT_STREQ(sounds->Item(1)->name, "far.wav");
  EXPECT_EQ(sounds->Item(1)->embedded, 0);

  Compiled bad = Compile("\nsound{ file = \"snd/stereo.wav\" }", dir.Path());
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("stage.lua:2:"), std::string::npos) << bad.error;
  EXPECT_NE(bad.error.find("2 channels"), std::string::npos) << bad.error;
}

TEST(OrvcCompile, IncludeRunsAnotherFileOfTheStage) {
  TempDir dir;
  dir.Write("parts/lib.lua", std::string("return box{ size = 3 }, 42\n"));
  Compiled c = Compile(R"(
    local mesh, n = include("parts/lib.lua")
    clump{ name = "c" .. n, mesh = mesh }
  )",
                       dir.Path());
  ASSERT_TRUE(c.ok) << c.error;
  DatabasePtr db = Load(c.image);
  EXPECT_STREQ(db->ClumpRecord(0)->name, "c42");
  EXPECT_EQ(db->ClumpRecord(0)->meshIndex, 0);

  // Errors inside an included file name that file.
  dir.Write("parts/bad.lua", std::string("\n\nbox{ size = -1 }\n"));
  Compiled bad = Compile("include(\"parts/bad.lua\")", dir.Path());
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("bad.lua:3:"), std::string::npos) << bad.error;
}

TEST(OrvcCompile, BuildsAreReproducible) {
  const std::string src = R"(
    texture{ width = 8, height = 8, pixels = function() return rgb(math.random(), math.random(), 0) end }
    clump{ name = "a", mesh = sphere{} }
  )";
  Compiled a = Compile(src), b = Compile(src);
  ASSERT_TRUE(a.ok && b.ok);
  EXPECT_EQ(a.image, b.image);
}

}  // namespace
