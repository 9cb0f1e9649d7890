// The drawing paper on a headless GL device: each pen's and the rubber's
// blend, where a stamp lands, the line rule, a fast stroke, the opening
// click, Save's halving and note file, Begin with good and bad files, and
// the controller that owns a note texture.
#include <epoxy/gl.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "ov_ac_del_tex.h"
#include "ov_clump.h"
#include "ov_database.h"
#include "ov_drawing_paper.h"
#include "ov_mesh.h"
#include "ov_note_files.h"
#include "ov_render_list.h"
#include "ov_std_material.h"

namespace {

constexpr int kSize = OvDrawingPaper::kFilmSize;

class PaperTest : public device_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    Open();
    paper = new OvDrawingPaper(r);
    ASSERT_TRUE(paper->Init());
    target = OvClump::Create();
  }
  void TearDown() override {
    delete paper;
    target->Release();
    for (OvGLTexture& b : brushes) r->DestroyTexture(b);
    DeviceTest::TearDown();
  }
  // A uniform 4 x 4 brush of one ARGB colour.
  OvGLTexture* Brush(uint32_t argb) {
    OvGLTexture& b = brushes[used++];
    EXPECT_TRUE(r->CreateTexture(b, OvTexFormat::A8R8G8B8, 4, 4, 1));
    const std::vector<uint32_t> px(16, argb);
    EXPECT_TRUE(r->UploadTextureLevel(b, 0, px.data()));
    return &b;
  }
  std::vector<uint8_t> Film() {
    std::vector<uint8_t> out(size_t(kSize) * kSize * 4);
    EXPECT_TRUE(paper->Film().Download(out.data()));
    return out;
  }
  static uint32_t At(const std::vector<uint8_t>& img, int x, int y, int size = kSize) {
    const uint8_t* p = img.data() + (size_t(y) * size + size_t(x)) * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }

  OvDrawingPaper* paper = nullptr;
  OvClump* target = nullptr;
  OvGLTexture brushes[4];
  int used = 0;
};

::testing::AssertionResult NearArgb(uint32_t got, uint32_t want, int tolerance = 2) {
  for (int shift = 0; shift < 32; shift += 8) {
    if (std::abs(int((got >> shift) & 255) - int((want >> shift) & 255)) > tolerance)
      return ::testing::AssertionFailure() << std::hex << got << " expected " << want;
  }
  return ::testing::AssertionSuccess();
}

TEST_F(PaperTest, PenAndRubberBlendRules) {
  // A pen paints by the brush's alpha and raises the film's alpha to it; the
  // rubber keeps the colour and lowers the alpha to the brush's.
  const struct {
    bool pen;
    uint32_t brush, film, result;
  } cases[] = {
      {true, 0xFF0000FFu, 0x007F7F7Fu, 0xFF0000FFu},  {true, 0x80FF0000u, 0x00000000u, 0x80800000u},
      {true, 0x40000000u, 0xC0FFFFFFu, 0xC0BFBFBFu},  {false, 0x00000000u, 0xFF123456u, 0x00123456u},
      {false, 0x80FFFFFFu, 0x40102030u, 0x40102030u}, {false, 0x80FFFFFFu, 0xFF102030u, 0x80102030u},
  };
  for (const auto& c : cases) {
    used = 0;
    for (OvGLTexture& b : brushes) r->DestroyTexture(b);
    ASSERT_TRUE(paper->Film().Clear(c.film));
    paper->SetBrush(Brush(c.brush), c.pen, c.pen ? OvDrawingPaper::kPenWidth : OvDrawingPaper::kRubberWidth);
    paper->StampDot(0.5f, 0.5f);
    const std::vector<uint8_t> img = Film();
    EXPECT_TRUE(NearArgb(At(img, kSize / 2, kSize / 2), c.result)) << std::hex << c.brush << " on " << c.film;
    EXPECT_EQ(At(img, kSize / 2 + 20, kSize / 2), c.film);
    EXPECT_EQ(r->DeviceRenderState(RS_SEPARATEALPHABLENDENABLE), 0u);
    EXPECT_EQ(r->RenderTarget(), nullptr);
  }
}

TEST_F(PaperTest, StampLandsAtItsFilmCoordinatesTopFirst) {
  const struct { float u, v; } cases[] = {{0.25f, 0.125f}, {0.75f, 0.875f}, {0.0f, 0.25f}};
  paper->SetBrush(Brush(0xFF000000u), true, OvDrawingPaper::kPenWidth);
  for (const auto& c : cases) {
    ASSERT_TRUE(paper->Film().Clear(0));
    paper->StampDot(c.u, c.v);
    const std::vector<uint8_t> img = Film();
    const int x = int(c.u * kSize), y = int(c.v * kSize);
    EXPECT_EQ(At(img, x, y) >> 24, 0xFFu) << c.u << ", " << c.v;
    EXPECT_EQ(At(img, x, kSize - 1 - y) >> 24, 0u) << c.u << ", " << c.v;
  }
}

TEST_F(PaperTest, OneStampPerFilmPixelAlongALine) {
  const struct {
    float au, av, bu, bv;
    uint64_t stamps;
  } cases[] = {{0.5f, 0.5f, 0.5f, 0.5f, 1},
               {0.0f, 0.0f, 3.0f / kSize, 0.0f, 4},
               {0.1f, 0.5f, 0.9f, 0.5f, 410},
               {0.5f, 0.5f, 1e30f, 0.5f, 2 * kSize + 1}};  // a wild point stays bounded
  paper->SetBrush(Brush(0xFF000000u), true, OvDrawingPaper::kPenWidth);
  for (const auto& c : cases) {
    const uint64_t before = paper->StampCount();
    paper->DrawLine(c.au, c.av, c.bu, c.bv);
    EXPECT_EQ(paper->StampCount() - before, c.stamps) << c.bu;
  }
}

TEST_F(PaperTest, FastStrokeIsContinuousAndTheOpeningClickLeavesNoInk) {
  paper->SetBrush(Brush(0xFF000000u), true, OvDrawingPaper::kPenWidth);
  paper->Begin(target, nullptr);
  paper->StrokeStep(true, true, 0.5f, 0.2f);  // still the click that opened the editor
  EXPECT_EQ(paper->StampCount(), 0u);
  paper->StrokeStep(false, false, 0, 0);
  paper->StrokeStep(true, true, 0.1f, 0.5f);
  paper->StrokeStep(true, true, 0.9f, 0.5f);  // far away one frame later
  const std::vector<uint8_t> img = Film();
  int gaps = 0;
  for (int x = int(0.1f * kSize); x <= int(0.9f * kSize); ++x) gaps += At(img, x, kSize / 2) >> 24 != 0xFF;
  EXPECT_EQ(gaps, 0);
  EXPECT_EQ(At(img, kSize / 2, int(0.2f * kSize)), OvDrawingPaper::kBlank);
  EXPECT_EQ(At(img, kSize / 2, kSize / 2 + 10), OvDrawingPaper::kBlank);
  // Off the paper the stroke ends: the next point starts a new one.
  paper->StrokeStep(true, false, 0, 0);
  EXPECT_FALSE(paper->StrokeActive());
}

// 4 x 4 blocks: blue alternates 0 / 200 by column, green and red number the
// block, alpha is opaque on even block rows.
std::vector<uint8_t> BlockImage() {
  std::vector<uint8_t> img(size_t(kSize) * kSize * 4);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      uint8_t* p = img.data() + (size_t(y) * kSize + size_t(x)) * 4;
      p[0] = x % 2 ? 200 : 0;
      p[1] = uint8_t(x / 4);
      p[2] = uint8_t(y / 4);
      p[3] = (y / 4) % 2 ? 0 : 255;
    }
  return img;
}

TEST_F(PaperTest, SaveHalvesToANoteTextureAndWritesTheFile) {
  char folder[] = "/tmp/paper_testXXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/0000000000000001";
  const std::vector<uint8_t> img = BlockImage();
  ASSERT_TRUE(paper->Film().Upload(img.data()));
  OvGLTexture* tex = paper->Save(path.c_str());
  ASSERT_NE(tex, nullptr);
  ASSERT_EQ(tex->width, OvDrawingPaper::kNoteTextureSize);
  ASSERT_EQ(tex->height, OvDrawingPaper::kNoteTextureSize);
  std::vector<uint8_t> small(128 * 128 * 4);
  glBindTexture(GL_TEXTURE_2D, tex->name);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, small.data());
  const struct {
    int x, y;
    uint32_t argb;
  } samples[] = {{0, 0, 0xFF000064u}, {1, 0, 0xFF000164u}, {0, 1, 0x00010064u}, {127, 126, 0xFF7E7F64u}};
  for (const auto& s : samples) EXPECT_EQ(At(small, s.x, s.y, 128), s.argb) << s.x << ", " << s.y;
  std::vector<uint8_t> file;
  std::string reason;
  ASSERT_TRUE(OvReadNoteImage(path, file, reason)) << reason;
  EXPECT_EQ(file, img);

  // Begin puts a saved note back on the film; a missing or broken file
  // starts blank.
  const std::string broken = std::string(folder) + "/broken";
  FILE* f = std::fopen(broken.c_str(), "wb");
  const int32_t wrongSize = 4;
  std::fwrite(&wrongSize, 4, 1, f);
  std::fclose(f);
  const struct {
    std::string file;
    bool restored;
  } begins[] = {{path, true}, {std::string(folder) + "/missing", false}, {broken, false}};
  for (const auto& b : begins) {
    ASSERT_TRUE(paper->Film().Clear(0xFFFFFFFFu));
    paper->Begin(target, b.file.c_str());
    const std::vector<uint8_t> now = Film();
    EXPECT_EQ(now == img, b.restored) << b.file;
    EXPECT_EQ(At(now, 5, 5) == OvDrawingPaper::kBlank, !b.restored) << b.file;
  }
  OvReleaseTexture(*r, tex);
  std::remove(path.c_str());
  std::remove(broken.c_str());
  rmdir(folder);
}

TEST_F(PaperTest, WithoutAFilmAnEditSavesTheNotesOwnPicture) {
  // The last edit left another note's ink in the paper's image; then the
  // film is lost. Each edit saves what it started from, not that ink.
  char folder[] = "/tmp/paper_testXXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string own = std::string(folder) + "/own";
  const std::vector<uint8_t> block = BlockImage(), ink(size_t(kSize) * kSize * 4, 0xFF);
  std::vector<uint8_t> blank(ink.size());
  for (size_t i = 0; i < blank.size(); i += 4) std::memcpy(&blank[i], &OvDrawingPaper::kBlank, 4);
  ASSERT_TRUE(paper->Film().Upload(block.data()));
  OvReleaseTexture(*r, paper->Save(own.c_str()));
  ASSERT_TRUE(paper->Film().Upload(ink.data()));
  OvReleaseTexture(*r, paper->Save(nullptr));
  r->SimulateDeviceLost();
  const struct {
    const char* file;
    const std::vector<uint8_t>& saved;
  } edits[] = {{own.c_str(), block}, {nullptr, blank}};
  for (const auto& e : edits) {
    paper->Begin(target, e.file);
    if (OvGLTexture* tex = paper->Save(nullptr)) OvReleaseTexture(*r, tex);
    EXPECT_TRUE(paper->Image() == e.saved) << (e.file ? e.file : "a new note");
  }
  ASSERT_TRUE(r->SimulateDeviceReset());
  std::remove(own.c_str());
  rmdir(folder);
}

TEST_F(PaperTest, NoteTextureGoesWithItsClump) {
  OvGLTexture* first = paper->Save(nullptr);
  OvGLTexture* second = paper->Save(nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const unsigned firstName = first->name, secondName = second->name;
  OvClump* note = OvClump::Create();
  OvAcDelTexWithClump* owner = OvAcDelTexWithClump::Create(r, first);
  ASSERT_TRUE(note->AddAniCtrl(owner));
  EXPECT_EQ(OvAcDelTexWithClump::FindOn(note), owner);
  owner->ReplaceTexture(second);  // written again
  EXPECT_FALSE(glIsTexture(firstName));
  EXPECT_TRUE(glIsTexture(secondName));
  note->Release();
  EXPECT_FALSE(glIsTexture(secondName));
}

TEST_F(PaperTest, TheEditPaperShowsTheFilmUntilTheEditEnds) {
  OvGLTexture* own = Brush(0xFF00FF00u);
  OvDatabase* db = OvDatabase::Create();
  OvTextureEntry* entry = db->AddTexture(OvTextureRecord());
  entry->handle = own;
  OvStdMaterial* material = OvArenaNew<OvStdMaterial>(db->Arena());
  const OvStdLayer layer;
  const int32_t slot = 0;
  ASSERT_TRUE(material->SetLayers(db->Arena(), &layer, 1));
  ASSERT_TRUE(material->SetTextureIndices(db->Arena(), &slot, 1));
  material->Bind(db);
  OvPassPlan* plan = OvPassPlan::Build(*material, 2);
  ASSERT_NE(plan, nullptr);
  void* resources[1] = {plan};
  OvMesh* mesh = db->AddMesh();
  mesh->subsetCount = 1;
  mesh->resources = resources;
  OvClump* sheet = OvClump::Create();
  sheet->SetMesh(mesh);
  OvClump* holder = OvClump::Create();  // the pen object's root shows nothing itself
  holder->AttachChild(sheet);

  EXPECT_EQ(OvClumpShownTexture(holder), own);
  paper->Begin(sheet, nullptr);
  EXPECT_EQ(OvClumpShownTexture(sheet), paper->Film().FilmTexture());
  EXPECT_EQ(material->Texture(0), own);  // others drawn with it keep theirs
  EXPECT_EQ(sheet->RefCount(), 2);
  paper->Begin(target, nullptr);  // another sheet: this one gets its own back
  EXPECT_EQ(OvClumpShownTexture(sheet), own);
  paper->Begin(sheet, nullptr);
  paper->Destroy();
  EXPECT_EQ(OvClumpShownTexture(sheet), own);
  EXPECT_EQ(sheet->RefCount(), 1);

  sheet->SetMesh(nullptr);
  holder->Release();
  plan->Release();
  material->~OvStdMaterial();
  entry->handle = nullptr;
  db->Destroy();
}

// Notes made from one template share a mesh and its material: each must
// show its own texture, and give its hold on the shared plan back when it goes.
TEST_F(PaperTest, ClumpsSharingAMaterialEachShowTheirOwnTexture) {
  OvGLTexture* own = Brush(0xFF00FF00u);
  OvGLTexture* red = Brush(0xFFFF0000u);
  OvGLTexture* blue = Brush(0xFF0000FFu);
  OvDatabase* db = OvDatabase::Create();
  OvTextureEntry* entry = db->AddTexture(OvTextureRecord());
  entry->handle = own;
  OvStdMaterial* material = OvArenaNew<OvStdMaterial>(db->Arena());
  const OvStdLayer layer;
  const int32_t slot = 0;
  ASSERT_TRUE(material->SetLayers(db->Arena(), &layer, 1));
  ASSERT_TRUE(material->SetTextureIndices(db->Arena(), &slot, 1));
  material->Bind(db);
  OvPassPlan* plan = OvPassPlan::Build(*material, 2);
  ASSERT_NE(plan, nullptr);
  void* resources[1] = {plan};
  OvMesh* mesh = db->AddMesh();
  mesh->subsetCount = 1;
  mesh->resources = resources;

  struct Case {
    OvGLTexture* set;  // null: left alone
    OvGLTexture* shown;
  } const cases[] = {{red, red}, {blue, blue}, {nullptr, own}};
  OvClump* notes[3];
  for (int i = 0; i < 3; ++i) {
    notes[i] = OvClump::Create();
    notes[i]->SetMesh(mesh);
    if (cases[i].set) {
      EXPECT_TRUE(OvSetClumpTexture(notes[i], cases[i].set, nullptr)) << i;
    }
  }
  EXPECT_TRUE(OvSetClumpTexture(notes[0], red, nullptr));  // written again: still one holder
  for (int i = 0; i < 3; ++i) EXPECT_EQ(OvClumpShownTexture(notes[i]), cases[i].shown) << i;
  EXPECT_EQ(material->Texture(0), own);
  for (OvClump* note : notes) note->Release();
  EXPECT_EQ(plan->RefCount(), 1);

  plan->Release();
  material->~OvStdMaterial();
  entry->handle = nullptr;
  db->Destroy();
}

TEST(FilmCoord, HitOnAQuadMapsToItsTextureCoordinates) {
  OvDatabase* db = OvDatabase::Create();
  OvMesh* mesh = db->AddMesh();
  float positions[12] = {-2, -1, 0, 2, -1, 0, 2, 1, 0, -2, 1, 0};
  uint32_t indices[6] = {0, 1, 2, 0, 2, 3};
  float uv[8] = {0, 1, 1, 1, 1, 0, 0, 0};  // v runs down the quad
  OvTexCoordSet set;
  set.coordCount = 4;
  set.coords = uv;
  mesh->vertexCount = 4;
  mesh->positions = positions;
  mesh->triangleCount = 2;
  mesh->indexCount = 6;
  mesh->indices = indices;
  mesh->setCount = 1;
  mesh->sets = &set;
  OvClump* clump = OvClump::Create();
  clump->SetMesh(mesh);
  clump->SetPos({10, 0, 0});
  clump->CalcToWorldMatrix();
  const struct {
    OvVector hit;
    int32_t triangle;
    bool ok;
    float u, v;
  } cases[] = {{{10, 0, 0}, 0, true, 0.5f, 0.5f},     {{11, 0.5f, 0}, 0, true, 0.75f, 0.25f},
               {{9, 0.5f, 0}, 1, true, 0.25f, 0.25f}, {{8, -1, 0}, 1, true, 0, 1},
               {{10, 0, 0}, 2, false, 0, 0},          {{10, 0, 0}, -1, false, 0, 0}};
  for (const auto& c : cases) {
    float u = -1, v = -1;
    EXPECT_EQ(OvFilmCoordOfHit(*clump, c.hit, c.triangle, u, v), c.ok) << c.hit.x << ", " << c.hit.y;
    if (!c.ok) continue;
    EXPECT_NEAR(u, c.u, 1e-5f);
    EXPECT_NEAR(v, c.v, 1e-5f);
  }
  indices[4] = 99;  // a corner past the vertices
  float u = 0, v = 0;
  EXPECT_FALSE(OvFilmCoordOfHit(*clump, {10, 0, 0}, 1, u, v));
  clump->SetMesh(nullptr);
  clump->Release();
  db->Destroy();
}

}  // namespace
