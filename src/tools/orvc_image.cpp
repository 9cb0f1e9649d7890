#include "orvc_image.h"

#include <stb_image.h>

#include <cstring>
#include <unordered_map>

#include "ov_texture.h"

namespace {

const OrvcTextureFormat kFormats[] = {
    {"argb8888", 0, 8, 8, 8, 8}, {"xrgb8888", 0, 255, 8, 8, 8}, {"rgb888", 0, 0, 8, 8, 8},
    {"rgb565", 0, 0, 5, 6, 5},   {"xrgb1555", 0, 0, 5, 5, 5},   {"argb1555", 0, 1, 5, 5, 5},
    {"argb4444", 0, 4, 4, 4, 4}, {"xrgb4444", 0, 0, 4, 4, 4},   {"rgb332", 0, 0, 3, 3, 2},
    {"p8", 8, 0, 0, 0, 0},
};

}  // namespace

const OrvcTextureFormat* OrvcFindTextureFormat(const std::string& name) {
  for (const OrvcTextureFormat& f : kFormats) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

std::string OrvcTextureFormatNames() {
  std::string names;
  for (const OrvcTextureFormat& f : kFormats) {
    if (!names.empty()) names += ", ";
    names += f.name;
  }
  return names;
}

bool OrvcImageSize(const std::vector<uint8_t>& bytes, int& width, int& height) {
  int n = 0;
  return !bytes.empty() && bytes.size() <= 0x7FFFFFFFu &&
         stbi_info_from_memory(bytes.data(), int(bytes.size()), &width, &height, &n) && width > 0 && height > 0;
}

bool OrvcDecodeImage(const std::vector<uint8_t>& bytes, OrvcImage& out, std::string& error) {
  if (bytes.empty() || bytes.size() > 0x7FFFFFFFu) {
    error = bytes.empty() ? "the file is empty" : "the file is too large";
    return false;
  }
  int w = 0, h = 0, n = 0;
  // Check the size before decoding, so a hostile header cannot ask for
  // gigabytes.
  if (!stbi_info_from_memory(bytes.data(), int(bytes.size()), &w, &h, &n)) {
    const char* why = stbi_failure_reason();
    error = std::string("not a readable image (") + (why ? why : "unknown format") + ")";
    return false;
  }
  if (w <= 0 || h <= 0 || w > ORVC_MAX_TEXTURE_SIDE || h > ORVC_MAX_TEXTURE_SIDE) {
    error = "image is " + std::to_string(w) + " x " + std::to_string(h) + "; sides must be 1 to " +
            std::to_string(ORVC_MAX_TEXTURE_SIDE);
    return false;
  }
  unsigned char* rgba = stbi_load_from_memory(bytes.data(), int(bytes.size()), &w, &h, &n, 4);
  if (!rgba) {
    const char* why = stbi_failure_reason();
    error = std::string("the image could not be decoded (") + (why ? why : "unknown reason") + ")";
    return false;
  }
  out.width = w;
  out.height = h;
  out.argb.resize(size_t(w) * size_t(h));
  for (size_t i = 0; i < out.argb.size(); ++i) {
    const unsigned char* p = rgba + 4 * i;
    out.argb[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
  stbi_image_free(rgba);
  return true;
}

uint16_t OrvcPack16(uint32_t argb, int alphaBits, int redBits, int greenBits, int blueBits) {
  auto top = [](uint32_t channel, int bits) -> uint32_t { return bits > 0 ? (channel & 0xFF) >> (8 - bits) : 0; };
  const uint32_t a = top(argb >> 24, alphaBits), r = top(argb >> 16, redBits);
  const uint32_t g = top(argb >> 8, greenBits), b = top(argb, blueBits);
  return uint16_t(a << (redBits + greenBits + blueBits) | r << (greenBits + blueBits) | g << blueBits | b);
}

bool OrvcFillTexturePixels(OvTextureRecord& record, const OrvcImage& image, std::string& error) {
  const size_t count = size_t(image.width) * size_t(image.height);
  if (record.width != image.width || record.height != image.height || image.argb.size() != count) {
    error = "the image does not match the texture's size";
    return false;
  }
  if (record.paletteBits != 0) {
    if (!record.palette) {
      error = "no palette block";
      return false;
    }
    std::unordered_map<uint32_t, uint8_t> index;
    uint32_t colours[256] = {};
    uint8_t* indices = record.palette + OV_PALETTE_BYTES;
    for (size_t i = 0; i < count; ++i) {
      auto it = index.find(image.argb[i]);
      if (it == index.end()) {
        if (index.size() == 256) {
          std::unordered_map<uint32_t, bool> all;
          for (uint32_t c : image.argb) all[c] = true;
          error = "the image has " + std::to_string(all.size()) +
                  " distinct colours; a palette holds 256 (choose a direct-colour format)";
          return false;
        }
        colours[index.size()] = image.argb[i];
        it = index.emplace(image.argb[i], uint8_t(index.size())).first;
      }
      indices[i] = it->second;
    }
    std::memcpy(record.palette, colours, OV_PALETTE_BYTES);
  }
  if (record.pixels16) {
    for (size_t i = 0; i < count; ++i) {
      const int alpha = record.alphaBits == 255 ? 0 : record.alphaBits;
      record.pixels16[i] = OrvcPack16(image.argb[i], alpha, record.redBits, record.greenBits, record.blueBits);
    }
  } else if (record.pixels32) {
    // Formats without alpha keep an opaque alpha byte.
    const uint32_t opaque = record.alphaBits == 8 ? 0 : 0xFF000000u;
    for (size_t i = 0; i < count; ++i) record.pixels32[i] = image.argb[i] | opaque;
  }
  return true;
}
