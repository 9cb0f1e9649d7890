// What the drawing code hands to the render device: vertex formats, primitive
// types, GPU buffers and texture objects. The operations on them are members
// of OvRendererGL (they need its context and binding caches):
//
//   Buffers (contents survive a device loss; no need to re-create them):
//     bool CreateVertexBuffer(OvGLBuffer& out, uint32_t bytes, bool dynamic, const void* data = nullptr);
//     bool CreateIndexBuffer(OvGLBuffer& out, uint32_t bytes, int indexSize /*2 or 4*/, bool dynamic,
//                            const void* data = nullptr);
//     bool UpdateBuffer(OvGLBuffer& buf, uint32_t offset, uint32_t bytes, const void* data);
//     void DestroyBuffer(OvGLBuffer& buf);   // leaves buf empty; empty buffers are ignored
//
//   Drawing with the current device state (render, stage and sampler states,
//   textures, transforms, lights, material, fog):
//     bool Draw(const OvVertexFormat& fmt, const OvGLBuffer& vbo, const OvGLBuffer* ibo,
//               OvPrimitive prim, uint32_t first, uint32_t primitiveCount, uint32_t baseVertex = 0);
//       Without ibo: first = first vertex. With ibo: first = first index and
//       baseVertex is added to every index. primitiveCount counts primitives
//       (triangles, lines, points), as OvPrimitiveVertexCount converts.
//     bool DrawUser(const OvVertexFormat& fmt, const void* vertices, OvPrimitive prim, uint32_t primitiveCount);
//     bool DrawUserIndexed(const OvVertexFormat& fmt, const void* vertices, uint32_t vertexCount,
//                          const uint16_t* indices, OvPrimitive prim, uint32_t primitiveCount);
//       Vertices (and indices) from memory, streamed through the device's own
//       buffers (screen quads, text, debug lines, the shadow ring).
//   Nothing is drawn (false) while the device is lost or outside Init/ReleaseAll.
//
//   Textures (OvRenderer::SetTexture's void* is an OvGLTexture*, or null):
//     bool CreateTexture(OvGLTexture& out, OvTexFormat fmt, int width, int height, int levels /*0 = full chain*/);
//     bool UploadTextureLevel(OvGLTexture& tex, int level, const void* pixels);  // rows top first, no gaps
//     void DestroyTexture(OvGLTexture& tex);  // also forgets it in the bound-texture cache
//     void SetTexture(int stage, void* texture);  // OvGLTexture* or null
//   A format is usable when Caps().textureFormat[int(fmt)] is true; tests
//   narrow the caps to reach fall-backs (OvTexFormat is in ov_tex_format.h).
//   Stages without a texture read TA_TEXTURE as white. The device keeps
//   OvGLTexture addresses in its bound-texture cache: keep the object in place
//   while it lives and call DestroyTexture before freeing it.
//
//   Coordinates follow the device model: row-vector matrices (p' = p * M),
//   a view space looking along +z, projected depth 0 ... 1, texture v = 0 at
//   the first (top) row; screen vertices in pixels from the top-left. Cull
//   modes name the winding seen on screen. Render-target textures hold their
//   rows top first like every other texture.
#pragma once

#include <cstdint>

#include "ov_tex_format.h"

// Vertex components, laid out in this order: position (3 floats, or 4 for
// pre-transformed screen vertices: x, y in pixels from the top-left, z depth
// 0..1, rhw), normal (3 floats), diffuse (u32 0xAARRGGBB), specular (u32
// 0xAARRGGBB), then texture-coordinate sets of 2 floats each.
enum OvVertexFlags : uint32_t {
  VF_XYZ = 0x1,
  VF_XYZRHW = 0x2,  // pre-transformed: no transforms, no lighting
  VF_NORMAL = 0x10,
  VF_DIFFUSE = 0x40,
  VF_SPECULAR = 0x80,
};

inline constexpr int OV_MAX_TEXCOORD_SETS = 8;

struct OvVertexFormat {
  uint32_t flags = 0;
  int texSets = 0;  // 0..8
  int stride = 0;   // bytes per vertex; at least the packed size
  // Byte offsets inside a vertex, -1 when absent (filled by OvMakeVertexFormat).
  int offPosition = 0;
  int offNormal = -1;
  int offDiffuse = -1;
  int offSpecular = -1;
  int offTex[OV_MAX_TEXCOORD_SETS] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

// Packed size of a vertex with these components (sets capped at 8).
int OvVertexStride(uint32_t flags, int texSets);
// Format with packed offsets; stride 0 means packed, a larger stride leaves
// room after the listed components.
OvVertexFormat OvMakeVertexFormat(uint32_t flags, int texSets, int stride = 0);

enum OvPrimitive : uint32_t {
  PRIM_POINTLIST = 1,
  PRIM_LINELIST,
  PRIM_LINESTRIP,
  PRIM_TRIANGLELIST,
  PRIM_TRIANGLESTRIP,
  PRIM_TRIANGLEFAN,
};
// Vertices (or indices) used by count primitives of this type.
uint32_t OvPrimitiveVertexCount(OvPrimitive prim, uint32_t count);

// A GL buffer object. Empty when name is 0.
struct OvGLBuffer {
  unsigned name = 0;
  uint32_t size = 0;     // bytes
  bool index = false;    // element buffer
  int indexSize = 2;     // bytes per index (element buffers)
  bool dynamic = false;  // expected to be rewritten often
};

// A GL texture object (2-D, or a cube of six square faces). Empty when name
// is 0.
class OvGLTexture {
 public:
  unsigned name = 0;
  int width = 0;
  int height = 0;
  int levels = 0;  // actual mip levels
  OvTexFormat format = OvTexFormat::A8R8G8B8;
  unsigned framebuffer = 0;  // render targets only
  unsigned depthBuffer = 0;  // render targets only
  // Bound as GL_TEXTURE_CUBE_MAP; stages sample it by a direction.
  bool cube = false;
};
