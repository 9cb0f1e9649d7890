// Generated GLSL programs for the fixed-function state model: a compact key
// captures everything that changes the program text (vertex layout, lighting
// switches, colour sources, stage combines, coordinate generation, fog and
// alpha test); the cache compiles each key once.
#pragma once

#include <cstdint>

#include "ov_memory.h"

inline constexpr int OV_PROGRAM_STAGES = 8;
inline constexpr int OV_PROGRAM_LIGHTS = 8;

// Fog variants a program can compute.
enum OvFogKind : uint8_t {
  FOGK_NONE = 0,
  FOGK_VERTEX,       // per vertex from the eye-space depth (or range)
  FOGK_SPECULAR,     // the specular alpha of the vertex
  FOGK_TABLE_EYE,    // per pixel from the eye depth
  FOGK_TABLE_DEPTH,  // per pixel from the projected depth (0 ... 1)
};

struct OvStageKey {
  uint8_t colorOp;  // TOP_*; TOP_DISABLE ends the stages
  uint8_t colorArg1, colorArg2;
  uint8_t alphaOp;
  uint8_t alphaArg1, alphaArg2;
  uint8_t texSet;      // coordinate set (pass-through)
  uint8_t texGen;      // TCI_* >> 16
  uint8_t transform;   // TTFF count, 0x80 when projected
  uint8_t hasTexture;  // a texture is bound: 1 flat, 2 cube
};

struct OvProgramKey {
  // Vertex input.
  uint8_t pretransformed;
  uint8_t hasNormal;
  uint8_t hasDiffuse;
  uint8_t hasSpecular;
  uint8_t texSets;
  // Lighting.
  uint8_t lighting;
  uint8_t specularEnable;
  uint8_t localViewer;
  uint8_t normalize;
  uint8_t colorVertex;
  uint8_t diffuseSource;  // MCS_*
  uint8_t ambientSource;
  uint8_t specularSource;
  uint8_t emissiveSource;
  // Fog.
  uint8_t fogKind;  // OvFogKind
  uint8_t fogFunc;  // FOG_LINEAR, FOG_EXP, FOG_EXP2
  uint8_t rangeFog;
  // Pixel.
  uint8_t alphaFunc;  // CMP_*, 0 when alpha test is off
  uint8_t flatShade;
  uint8_t stageCount;
  // Lit programs are built for the enabled lights: how many, and each one's
  // type (1 point, 2 spot, 3 directional), 2 bits a light, the first lowest.
  uint8_t lightCount;
  uint8_t lightTypes[2];
  uint8_t pad;
  OvStageKey stages[OV_PROGRAM_STAGES];
};

bool operator==(const OvProgramKey& a, const OvProgramKey& b);
// True when the stage reads its texture (as an argument or a blend factor).
bool OvStageUsesTexture(const OvStageKey& stage);
uint64_t OvHashProgramKey(const OvProgramKey& key);

// Uniform locations of a linked program (-1 when unused).
struct OvProgram {
  OvProgramKey key;
  unsigned name = 0;  // 0: the key failed to compile
  int uWorldViewProj = -1;
  int uWorldView = -1;
  int uNormalMatrix = -1;
  int uScreen = -1;
  int uMaterial = -1;  // vec4[5]: diffuse, ambient, specular, emissive, (power)
  int uAmbient = -1;
  int uLightCount = -1;
  int uLights = -1;  // vec4[7 * 8]
  int uFog = -1;     // start, end, density, 1 / (end - start)
  int uFogColour = -1;
  int uTexMatrix = -1;  // mat4[8]
  int uTFactor = -1;
  int uAlphaRef = -1;
  int uClipFlip = -1;
  // Versions of the uniform groups last given to this program.
  uint32_t transformVersion = 0;
  uint32_t targetVersion = 0;
  uint32_t lightVersion = 0;
  uint32_t materialVersion = 0;
  uint32_t stateVersion = 0;
  OvProgram* next = nullptr;
};

// Lights in the uniform array: vec4 slots per light.
inline constexpr int OV_LIGHT_VEC4S = 7;

// The GLSL text of a key (for tests and diagnostics). Writes at most size
// bytes including the terminator; returns the full length.
int OvGenerateVertexShader(const OvProgramKey& key, char* out, int size);
int OvGenerateFragmentShader(const OvProgramKey& key, char* out, int size);

class OvProgramCache : public OvAllocated {
 public:
  OvProgramCache();
  ~OvProgramCache();
  OvProgramCache(const OvProgramCache&) = delete;
  OvProgramCache& operator=(const OvProgramCache&) = delete;

  // The program of the key, compiled on first use; null when it failed
  // (the failure is traced once and remembered).
  OvProgram* Get(const OvProgramKey& key);
  // Deletes every program (needs the GL context).
  void Clear();
  int Compiles() const { return m_compiles; }
  int Count() const { return m_count; }

 private:
  OvProgram* Compile(const OvProgramKey& key);
  void Grow();

  OvProgram** m_buckets = nullptr;
  int m_bucketCount = 0;
  int m_count = 0;
  int m_compiles = 0;
};
