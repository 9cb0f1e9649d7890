// Device textures through the texture builder: mip chains and the two
// settings, fall-backs against the device caps, and content databases whose
// textures and materials are made on the device by the content uploader.
#include <map>
#include <string>

#include "image_harness.h"
#include "ov_database.h"
#include "ov_stream.h"
#include "trace_capture.h"

namespace image_test {
namespace {

class FakeSettings : public OvRenderSettings {
 public:
  int32_t GetInt(const char* name) override {
    auto it = values.find(name);
    return it == values.end() ? 0 : it->second;
  }
  std::map<std::string, int32_t> values;
};

struct SettingsScope {
  FakeSettings settings;
  SettingsScope() { OvSetRenderSettings(&settings); }
  ~SettingsScope() { OvSetRenderSettings(nullptr); }
};

using DeviceTexture = ImageTest;

TEST_F(DeviceTexture, FullChainUnlessMipMapsAreSwitchedOffExactly) {
  const std::vector<uint32_t> px(64 * 32, 0xFF336699u);
  SettingsScope scope;
  OvGLTexture* t = Texture32(px, 64, 32);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->levels, 7);
  EXPECT_EQ(t->width, 64);
  EXPECT_EQ(t->height, 32);
  EXPECT_EQ(t->format, OvTexFormat::A8R8G8B8);

  scope.settings.values["__ov_boDontCreateMipMap"] = 1;
  t = Texture32(px, 64, 32);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->levels, 1);

  scope.settings.values["__ov_boDontCreateMipMap"] = 2;
  scope.settings.values["__ov_iFilterCreateMipMap"] = 3;
  t = Texture32(px, 64, 32);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->levels, 7);
}

TEST_F(DeviceTexture, OnePixelHasOneLevel) {
  SettingsScope scope;
  OvGLTexture* t = Texture32({0xFFFFFFFFu}, 1, 1);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->levels, 1);
}

TEST_F(DeviceTexture, FallBacksFollowTheCaps) {
  OvRenderCaps caps = R().Caps();
  ASSERT_TRUE(caps.textureFormat[int(OvTexFormat::A8R8G8B8)]);
  caps.textureFormat[int(OvTexFormat::A8R8G8B8)] = false;
  caps.textureFormat[int(OvTexFormat::R5G6B5)] = false;
  R().SetCaps(caps);
  TraceCapture trace;
  OvGLTexture* t = Texture32(std::vector<uint32_t>(4, 0x80FF8040u), 2, 2);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->format, OvTexFormat::A4R4G4B4);
  EXPECT_TRUE(trace.Contains("!!! CheckDeviceFormat() failed! -- A8R8G8B8\n"));

  // A paletted image has nowhere to go without R5G6B5.
  uint32_t palette[256] = {};
  const uint8_t indices[4] = {0, 1, 2, 3};
  OvImageDesc d;
  d.palette = palette;
  d.indices = indices;
  d.width = d.height = 2;
  EXPECT_EQ(Texture(d), nullptr);
  EXPECT_TRUE(trace.Contains("!!! CheckDeviceFormat() failed! -- R5G6B5\n"));

  // X888 falls back to 565, and fails without it.
  caps.textureFormat[int(OvTexFormat::X8R8G8B8)] = false;
  R().SetCaps(caps);
  EXPECT_EQ(Texture32(std::vector<uint32_t>(4, 0xFF000000u), 2, 2, 255), nullptr);
  caps.textureFormat[int(OvTexFormat::R5G6B5)] = true;
  R().SetCaps(caps);
  t = Texture32(std::vector<uint32_t>(4, 0xFF000000u), 2, 2, 255);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->format, OvTexFormat::R5G6B5);
}

TEST_F(DeviceTexture, EveryTableFormatUploads) {
  const std::vector<uint16_t> words(16, 0x1234);
  const std::vector<uint32_t> longs(16, 0x80402010u);
  for (int f = 0; f < OV_TEX_FORMAT_COUNT; ++f) {
    const OvTexFormatEntry& e = OvTexFormatInfo(OvTexFormat(f));
    if (!R().Caps().textureFormat[f]) continue;
    OvImageDesc d;
    d.width = d.height = 4;
    d.alphaBits = e.alpha, d.redBits = e.red, d.greenBits = e.green, d.blueBits = e.blue;
    if (e.bytesPerPixel >= 3) {
      d.pixels32 = longs.data();
    } else {
      d.pixels16 = words.data();
    }
    OvGLTexture* t = Texture(d);
    ASSERT_NE(t, nullptr) << e.name;
    EXPECT_EQ(t->format, e.format) << e.name;
    EXPECT_EQ(t->levels, 3) << e.name;
  }
}

// ---------------------------------------------------------------------------
// Content databases.

TEST_F(DeviceTexture, ContentTexturesAndMaterialsAreMadeOnTheDevice) {
  // Written without a renderer, loaded with one.
  OvDatabase* source = OvDatabase::Create();
  ASSERT_NE(source, nullptr);
  OvTextureRecord shape;
  shape.width = shape.height = 4;
  shape.alphaBits = shape.redBits = shape.greenBits = shape.blueBits = 8;
  OvTextureEntry* tex = source->AddTexture(shape);
  ASSERT_NE(tex, nullptr);
  for (int i = 0; i < 16; ++i) tex->record->pixels32[i] = 0xFF00FF00u;
  OvRegisterStdMaterialType();
  OvStdMaterial* m = OvArenaNew<OvStdMaterial>(source->Arena());
  OvStdLayer layers[2];
  layers[0].kind = OV_LAYER_MODULATE;
  layers[1].kind = 6;  // unknown: no render resource
  ASSERT_TRUE(m->SetLayers(source->Arena(), layers, 1));
  const int32_t index = 0;
  ASSERT_TRUE(m->SetTextureIndices(source->Arena(), &index, 1));
  ASSERT_NE(source->AddShader(m), nullptr);
  OvStdMaterial* bad = OvArenaNew<OvStdMaterial>(source->Arena());
  ASSERT_TRUE(bad->SetLayers(source->Arena(), layers, 2));
  ASSERT_NE(source->AddShader(bad), nullptr);
  OvStream out;
  ASSERT_TRUE(out.OpenMemoryWrite());
  ASSERT_TRUE(source->Write(out));
  const std::vector<uint8_t> image(out.Image(), out.Image() + out.ImageSize());
  source->Destroy();

  OvDatabase* db = OvDatabase::Create();
  db->SetRenderer(m_uploader);
  ASSERT_TRUE(db->LoadMemory(image.data(), image.size(), "device.orv"));
  ASSERT_EQ(db->TextureCount(), 1u);
  OvGLTexture* handle = static_cast<OvGLTexture*>(db->Texture(0)->handle);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->width, 4);
  EXPECT_EQ(handle->levels, 3);
  // Pixels are dropped after upload unless kept.
  EXPECT_EQ(db->Texture(0)->record->pixels32, nullptr);

  ASSERT_EQ(db->ShaderCount(), 2u);
  OvStdMaterial* loaded = static_cast<OvStdMaterial*>(db->Shader(0));
  EXPECT_EQ(loaded->Texture(0), handle);
  OvPassPlan* plan = static_cast<OvPassPlan*>(static_cast<OvShaderResource*>(db->ShaderResource(0)));
  ASSERT_NE(plan, nullptr);
  EXPECT_EQ(plan->PassCount(), 1);
  EXPECT_EQ(db->ShaderResource(0), plan);  // made once
  EXPECT_EQ(db->ShaderResource(1), nullptr);
  db->Destroy();
}

TEST_F(DeviceTexture, TheFactoryAnswersForTheUploaderOnly) {
  OvStdMaterial* m = OvArenaNew<OvStdMaterial>(*m_arena);
  m_materials.push_back(m);
  class OtherRenderer : public OvDbRenderer {
   public:
    void* CreateTexture(const OvTextureRecord&) override { return nullptr; }
    void EndTextureBuilding() override {}
    void ReleaseTexture(void*) override {}
    void ReleaseMeshBuffers(OvMesh&) override {}
    void ReleaseShaderResource(void*) override {}
  } other;
  EXPECT_EQ(m->GetController(static_cast<OvDbRenderer*>(&other)), nullptr);
  void* resource = m->GetController(static_cast<OvDbRenderer*>(m_uploader));
  ASSERT_NE(resource, nullptr);
  // The stage limit comes from the renderer.
  EXPECT_EQ(static_cast<OvPassPlan*>(static_cast<OvShaderResource*>(resource))->Pass(0).stageCount, 1);
  m_uploader->ReleaseShaderResource(resource);
}

}  // namespace
}  // namespace image_test
