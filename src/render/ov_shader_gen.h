// Programs built at run time from GLSL source text: a content record's text,
// a file it names, or one of the engine's built-in programs. Vertex sources
// are specialised for the lights and texture sets through generated
// preprocessor definitions; compiled shaders are cached by their key and a
// source that fails is remembered as failed. The constants reach the
// programs as one uniform array, and lit drawing takes as many additive
// passes as the lights need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ov_clump.h"
#include "ov_memory.h"
#include "ov_volatile.h"

class OvRendererGL;

// How a source text is to be built.
enum class OvShaderSourceKind : uint8_t {
  AssemblyText,   // starts with ';'
  HighLevelText,  // starts with "//"
  AssemblyFile,   // a file name with an extension other than ".cg"
  HighLevelFile,  // a file name ending in ".cg" or without extension
};
OvShaderSourceKind OvClassifyShaderSource(const char* source);

// The profile named by a "// target:" marker at the start of `line` (looking
// at no more than `limit` characters): the text after the colon up to the
// first blank or line end, at most 9 characters. False without the marker.
bool OvShaderTarget(const char* line, size_t limit, char out[10]);

// A name/value pair of an extra macro list; a null name ends the list.
struct OvShaderMacro {
  const char* name;
  const char* value;
};
inline constexpr int OV_MAX_SHADER_MACROS = 127;

// Orders the lights directional, point, spot (each group in the given
// order) into `out` and returns the packed code: 2 bits a light, light 0 in
// the lowest bits, 1 point, 2 spot, 3 directional. Counts above 16 are cut.
uint32_t OvSortLights(const OvLightData* const* lights, int count, const OvLightData** out);
// Lights in a packed code (up to the first 0 pair).
int OvLightCodeCount(uint32_t code);

// The "#define" lines of a vertex source: LIGHTING, LIGHT_PARAMS, TEX_DECL,
// TEX_ASSIGN, LIGHT_TYPES, LIGHT_NUM, TEX_COORD_NUM, then the extra list.
// False when there are more than OV_MAX_SHADER_MACROS definitions.
bool OvVertexShaderDefines(uint32_t lightCode, int lightCount, int texCount, const OvShaderMacro* extra,
                           std::string& out);

// The built-in programs.
extern const char* const kOvLitVertexProgram;
extern const char* const kOvUnlitVertexProgram;
extern const char* const kOvToonVertexProgram;
extern const char* const kOvToonPixelProgram;
// Bump mapping: tangent basis rows T, B, N in attributes 9 ... 11; the eye
// (c8) and the light (c19, w = 0 for a directional light lit along c20) in
// object space.
extern const char* const kOvBumpVertexProgram;
extern const char* const kOvBumpPixelProgram;

// Compiled shaders of one renderer, cached by key; their GL objects go with
// the device and are made again on demand.
class OvShaderCache : public OvAllocated, public OvVolatileRes {
 public:
  explicit OvShaderCache(OvRendererGL* renderer);
  ~OvShaderCache() override;

  // Vertex shader for the key (macro list, light code, texture sets, source
  // pointer); 0 when it failed now or before. `owner` names the content
  // record in trace lines (may be null).
  unsigned GetVertexShader(uint32_t lightCode, int lightCount, int texCount, const char* source,
                           const OvShaderMacro* extra, const char* owner);
  // Pixel shader for (source, macros); 0 when it failed now or before.
  unsigned GetPixelShader(const char* source, const OvShaderMacro* macros, const char* owner);
  // The linked program of a vertex shader and a pixel shader (0: the
  // built-in one that modulates texture 0 by the colours); 0 on failure.
  unsigned Program(unsigned vertexShader, unsigned pixelShader);

  // Folder that shader file names are resolved in.
  void SetFolder(const char* folder) { m_folder = folder ? folder : ""; }
  int Compiles() const { return m_compiles; }
  int Links() const { return m_links; }

  void OnDeviceLost() override { Clear(); }
  void OnDeviceReset() override {}
  void Clear();

  // Uniform locations of a linked program.
  struct Linked {
    unsigned vs = 0, ps = 0, name = 0;
    int constants = -1, pixelConstants = -1, clipFlip = -1, texOn = -1;
  };
  const Linked* Find(unsigned program) const;

 private:
  struct VsEntry {
    uintptr_t macros, source;
    uint32_t code, texCount;
    unsigned shader;
  };
  struct PsEntry {
    uintptr_t macros, source;
    unsigned shader;
  };
  // Builds (or fails) one shader from a source with the given definitions.
  unsigned Build(bool vertex, const char* source, const std::string& defines, const char* owner);
  unsigned BuildOnce(bool vertex, const char* source, const std::string& defines, const char* owner,
                     bool& textCompiled);
  unsigned CompileText(bool vertex, const char* text, size_t size, const char* profile, const std::string& defines,
                       const char* message, const char* owner);

  VsEntry* m_vs = nullptr;
  int m_vsCount = 0, m_vsCap = 0;
  PsEntry* m_ps = nullptr;
  int m_psCount = 0, m_psCap = 0;
  Linked* m_linked = nullptr;
  int m_linkedCount = 0, m_linkedCap = 0;
  // Sources that fail whatever the definitions (assembly, missing files):
  // every further key of theirs fails without a build or a trace line.
  bool IsDead(uintptr_t source) const;
  uintptr_t* m_dead = nullptr;
  int m_deadCount = 0, m_deadCap = 0;
  unsigned m_defaultPixel = 0;
  std::string m_folder;
  int m_compiles = 0;
  int m_links = 0;
};

// Uploads matrices, camera, material, ambient (when withAmbient) and the
// lights (one zeroed light when there are none) to the bound program.
void OvSetVertexShaderConstants(OvRendererGL& renderer, bool withAmbient, const OvLightData* const* lights, int count);
// Uploads vertex constants c[start ...] to the bound program (after the
// common upload, for programs that want some registers in another space).
void OvSetVertexShaderConstantsAt(OvRendererGL& renderer, int start, const float* values, int count);
// Uploads pixel constants pc[start ...] to the bound program.
void OvSetPixelShaderConstants(OvRendererGL& renderer, int start, const float* values, int count);

// What a lit shader draw needs besides the lights.
struct OvShaderDraw {
  const char* vertexSource = nullptr;  // null: the built-in lit program
  const OvShaderMacro* macros = nullptr;
  unsigned pixelShader = 0;
  int texCount = 0;
  bool alphaTest = false;
  const char* owner = nullptr;
  // Draws the geometry once with the bound program.
  bool (*draw)(void* context) = nullptr;
  void* context = nullptr;
};

// Draws in passes: the first with ambient (when asked), the rest added on
// top. passLimit > 0 caps the passes, < 0 takes one light a pass. A shader
// that fails for n lights is retried with fewer; false when even one light
// fails (nothing drawn for the rest). States are as before afterwards.
bool OvDrawLitWithShaders(OvRendererGL& renderer, const OvShaderDraw& draw, bool withAmbient,
                          const OvLightData* const* lights, int count, int passLimit, int* passesDrawn = nullptr);
