// The renderer's device-state model: render states, texture-stage states,
// sampler states and their values. Content and the drawing code speak in these
// terms; the GL backend turns them into GL state and generated programs.
//
// Float-valued states (fog start, end, density) hold the float's bit pattern;
// use OvFloatState / OvStateFloat.
#pragma once

#include <bit>
#include <cstdint>

// A cache entry holding this value is not yet known: the next set always
// reaches the device and a read fetches the device's value first.
inline constexpr uint32_t OV_STATE_UNKNOWN = 0xCDEFCDEFu;

inline constexpr int OV_RENDER_STATE_COUNT = 256;
inline constexpr int OV_MAX_STAGES = 8;
inline constexpr int OV_STAGE_STATE_COUNT = 32;
inline constexpr int OV_SAMPLER_STATE_COUNT = 16;
inline constexpr int OV_MAX_LIGHTS = 8;
// Capacity of the saved-state stack (PushRenderStates / PopRenderStates).
inline constexpr int OV_SAVED_STATE_CAPACITY = 512;

inline uint32_t OvFloatState(float f) { return std::bit_cast<uint32_t>(f); }
inline float OvStateFloat(uint32_t v) { return std::bit_cast<float>(v); }

// Render states (indices into the 256-entry cache).
enum OvRenderState : uint32_t {
  RS_ZENABLE = 1,
  RS_FILLMODE,
  RS_SHADEMODE,
  RS_ZWRITEENABLE,
  RS_ALPHATESTENABLE,
  RS_SRCBLEND,
  RS_DESTBLEND,
  RS_CULLMODE,
  RS_ZFUNC,
  RS_ALPHAREF,
  RS_ALPHAFUNC,
  RS_DITHERENABLE,
  RS_ALPHABLENDENABLE,
  RS_FOGENABLE,
  RS_SPECULARENABLE,
  RS_FOGCOLOR,
  RS_FOGTABLEMODE,
  RS_FOGSTART,
  RS_FOGEND,
  RS_FOGDENSITY,
  RS_RANGEFOGENABLE,
  RS_STENCILENABLE,
  RS_STENCILFAIL,
  RS_STENCILZFAIL,
  RS_STENCILPASS,
  RS_STENCILFUNC,
  RS_STENCILREF,
  RS_STENCILMASK,
  RS_STENCILWRITEMASK,
  RS_TEXTUREFACTOR,
  RS_WRAP0,
  RS_WRAP1,
  RS_WRAP2,
  RS_WRAP3,
  RS_WRAP4,
  RS_WRAP5,
  RS_WRAP6,
  RS_WRAP7,
  RS_CLIPPING,
  RS_LIGHTING,
  RS_AMBIENT,
  RS_FOGVERTEXMODE,
  RS_COLORVERTEX,
  RS_LOCALVIEWER,
  RS_NORMALIZENORMALS,
  RS_DIFFUSEMATERIALSOURCE,
  RS_SPECULARMATERIALSOURCE,
  RS_AMBIENTMATERIALSOURCE,
  RS_EMISSIVEMATERIALSOURCE,
  RS_COLORWRITEENABLE,
  RS_BLENDOP,
  RS_DEPTHBIAS,
  RS_SLOPESCALEDEPTHBIAS,
  RS_LASTPIXEL,
  // Alpha blended apart from colour (used while SEPARATEALPHABLENDENABLE is on).
  RS_SEPARATEALPHABLENDENABLE,
  RS_SRCBLENDALPHA,
  RS_DESTBLENDALPHA,
  RS_BLENDOPALPHA,
  RS_STATE_END  // first unused index
};
static_assert(RS_STATE_END <= 256);

// Texture-stage states (per stage, indices into the 32-entry stage cache).
enum OvStageState : uint32_t {
  TSS_COLOROP = 1,
  TSS_COLORARG1,
  TSS_COLORARG2,
  TSS_ALPHAOP,
  TSS_ALPHAARG1,
  TSS_ALPHAARG2,
  TSS_TEXCOORDINDEX,
  TSS_TEXTURETRANSFORMFLAGS,
  TSS_COLORARG0,
  TSS_ALPHAARG0,
  TSS_RESULTARG,
  TSS_STATE_END
};
static_assert(TSS_STATE_END <= 32);

// Sampler states (per sampler, indices into the 16-entry sampler cache).
enum OvSamplerState : uint32_t {
  SAMP_ADDRESSU = 1,
  SAMP_ADDRESSV,
  SAMP_ADDRESSW,
  SAMP_BORDERCOLOR,
  SAMP_MAGFILTER,
  SAMP_MINFILTER,
  SAMP_MIPFILTER,
  SAMP_MIPMAPLODBIAS,  // float bits
  SAMP_MAXMIPLEVEL,
  SAMP_MAXANISOTROPY,
  SAMP_STATE_END
};
static_assert(SAMP_STATE_END <= 16);

// Values.

enum OvCull : uint32_t { CULL_NONE = 1, CULL_CW = 2, CULL_CCW = 3 };
enum OvFill : uint32_t { FILL_POINT = 1, FILL_WIREFRAME = 2, FILL_SOLID = 3 };
enum OvShade : uint32_t { SHADE_FLAT = 1, SHADE_GOURAUD = 2 };

enum OvCompare : uint32_t {
  CMP_NEVER = 1,
  CMP_LESS,
  CMP_EQUAL,
  CMP_LESSEQUAL,
  CMP_GREATER,
  CMP_NOTEQUAL,
  CMP_GREATEREQUAL,
  CMP_ALWAYS
};

enum OvBlend : uint32_t {
  BLEND_ZERO = 1,
  BLEND_ONE,
  BLEND_SRCCOLOR,
  BLEND_INVSRCCOLOR,
  BLEND_SRCALPHA,
  BLEND_INVSRCALPHA,
  BLEND_DESTALPHA,
  BLEND_INVDESTALPHA,
  BLEND_DESTCOLOR,
  BLEND_INVDESTCOLOR,
  BLEND_SRCALPHASAT
};

enum OvBlendOp : uint32_t { BLENDOP_ADD = 1, BLENDOP_SUBTRACT, BLENDOP_REVSUBTRACT, BLENDOP_MIN, BLENDOP_MAX };

enum OvStencilOp : uint32_t {
  STENCILOP_KEEP = 1,
  STENCILOP_ZERO,
  STENCILOP_REPLACE,
  STENCILOP_INCRSAT,
  STENCILOP_DECRSAT,
  STENCILOP_INVERT,
  STENCILOP_INCR,  // wraps
  STENCILOP_DECR   // wraps
};

enum OvFogMode : uint32_t { FOG_NONE = 0, FOG_EXP = 1, FOG_EXP2 = 2, FOG_LINEAR = 3 };

// Where a lighting colour comes from.
enum OvMaterialSource : uint32_t { MCS_MATERIAL = 0, MCS_COLOR1 = 1, MCS_COLOR2 = 2 };

// Texture-stage combine operations.
enum OvTextureOp : uint32_t {
  TOP_DISABLE = 1,
  TOP_SELECTARG1,
  TOP_SELECTARG2,
  TOP_MODULATE,
  TOP_MODULATE2X,
  TOP_MODULATE4X,
  TOP_ADD,
  TOP_ADDSIGNED,
  TOP_ADDSIGNED2X,
  TOP_SUBTRACT,
  TOP_ADDSMOOTH,
  TOP_BLENDDIFFUSEALPHA,
  TOP_BLENDTEXTUREALPHA,
  TOP_BLENDFACTORALPHA,
  TOP_BLENDCURRENTALPHA,
  TOP_DOTPRODUCT3,
  TOP_OP_END
};

// Texture-stage arguments: a source in the low bits, modifiers above.
enum OvStageArg : uint32_t {
  TA_DIFFUSE = 0,
  TA_CURRENT = 1,
  TA_TEXTURE = 2,
  TA_TFACTOR = 3,
  TA_SPECULAR = 4,
  TA_TEMP = 5,  // no temporary register here: reads as current
  TA_SELECTMASK = 0x0F,
  TA_COMPLEMENT = 0x10,      // 1 - x
  TA_ALPHAREPLICATE = 0x20,  // x.aaaa
};

// TSS_TEXCOORDINDEX: the coordinate set in the low 16 bits, a generation mode
// in the high bits (the set is then unused).
enum OvTexCoordGen : uint32_t {
  TCI_PASSTHRU = 0,
  TCI_CAMERASPACENORMAL = 0x10000,
  TCI_CAMERASPACEPOSITION = 0x20000,
  TCI_CAMERASPACEREFLECTIONVECTOR = 0x30000,
  TCI_SPHEREMAP = 0x40000,
};

// TSS_TEXTURETRANSFORMFLAGS: how many components the stage's texture matrix
// produces (0 = no transform), optionally divided by the last one.
enum OvTexTransformFlags : uint32_t {
  TTFF_DISABLE = 0,
  TTFF_COUNT1 = 1,
  TTFF_COUNT2 = 2,
  TTFF_COUNT3 = 3,
  TTFF_COUNT4 = 4,
  TTFF_PROJECTED = 0x100,
};

enum OvTexAddress : uint32_t {
  TADDRESS_WRAP = 1,
  TADDRESS_MIRROR = 2,
  TADDRESS_CLAMP = 3,
  TADDRESS_BORDER = 4,
  TADDRESS_MIRRORONCE = 5
};

enum OvTexFilter : uint32_t { TEXF_NONE = 0, TEXF_POINT = 1, TEXF_LINEAR = 2, TEXF_ANISOTROPIC = 3 };

// RS_COLORWRITEENABLE bits.
enum OvColorWrite : uint32_t {
  COLORWRITE_RED = 1,
  COLORWRITE_GREEN = 2,
  COLORWRITE_BLUE = 4,
  COLORWRITE_ALPHA = 8,
};

// Light types (others are drawn as point lights).
inline constexpr int32_t OV_DEVLIGHT_POINT = 1;
inline constexpr int32_t OV_DEVLIGHT_SPOT = 2;
inline constexpr int32_t OV_DEVLIGHT_DIRECTIONAL = 3;

// One (state, value) pair of the list forms and the saved-state stack.
struct OvStatePair {
  uint32_t state;
  uint32_t value;
};
