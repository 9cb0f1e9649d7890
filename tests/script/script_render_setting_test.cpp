// An `__ov_` global set by a file of the script folder reaches the renderer.
#include <SDL.h>

#include "ov_render_list.h"
#include "ov_renderer_gl.h"
#include "ov_texture_builder.h"
#include "script_fixture.h"

namespace {

class HostSettings : public OvRenderSettings {
 public:
  int32_t GetInt(const char* name) override { return OvScriptGetSettingInt(name); }
  float GetFloat(const char* name) override { return OvScriptGetSettingFloat(name); }
};

using ScriptRenderSetting = ScriptTest;

TEST_F(ScriptRenderSetting, MipMapSettingFromTheScriptFolder) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
  OvRendererGL::SetWindowAttributes();
  SDL_Window* window = SDL_CreateWindow("settings", 0, 0, 64, 64, OvRendererGL::WindowFlags());
  ASSERT_NE(window, nullptr) << SDL_GetError();
  auto* renderer = new OvRendererGL();
  renderer->SetRequestedSize(64, 64);
  renderer->SetWindow(&window);
  ASSERT_TRUE(renderer->Init(true));
  HostSettings settings;
  OvSetRenderSettings(&settings);
  OvSurface* surface = OvSurface::Create(OvTexFormat::A8R8G8B8, 64, 32);
  ASSERT_NE(surface, nullptr);

  const struct {
    const char* file;
    int levels;
  } cases[] = {{"", 7}, {"__ov_boDontCreateMipMap = 1", 1}, {"__ov_boDontCreateMipMap = 'yes'", 7}};
  for (const auto& k : cases) {
    WriteScript("settings.lua", k.file);
    Start();
    OvGLTexture* t = MakeDeviceTexture(*renderer, *surface);
    ASSERT_NE(t, nullptr) << k.file;
    EXPECT_EQ(t->levels, k.levels) << k.file;
    OvReleaseTexture(*renderer, t);
    OvScriptShutdown();
  }
  OvSetRenderSettings(nullptr);
  delete surface;
  delete renderer;
  SDL_DestroyWindow(window);
  SDL_Quit();
}

}  // namespace
