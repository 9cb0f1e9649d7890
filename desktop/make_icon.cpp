// Rasterises the board's icon at one size: ov_make_icon ICON.svg SIZE OUT.png.
// Reads the small part of SVG the icon is written in (rect with rx, circle,
// polygon; fill as #rrggbb, fill-opacity) so the PNG sizes follow the one
// drawing without an outside rasteriser.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

namespace {

struct Shape {
  enum class Kind { Rect, Circle, Polygon } kind = Kind::Rect;
  double x = 0, y = 0, w = 0, h = 0, r = 0;  // rect (r: corner radius) or circle (x, y, r)
  std::vector<double> points;                // polygon: x0 y0 x1 y1 ...
  float rgb[3] = {0, 0, 0};
  float opacity = 1;
};

using Attributes = std::map<std::string, std::string>;

bool Number(const Attributes& a, const char* name, double& out) {
  auto it = a.find(name);
  if (it == a.end()) return false;
  char* end = nullptr;
  out = std::strtod(it->second.c_str(), &end);
  return end != it->second.c_str() && std::isfinite(out);
}

bool Colour(const Attributes& a, Shape& s) {
  auto it = a.find("fill");
  if (it == a.end() || it->second.size() != 7 || it->second[0] != '#') return false;
  char* end = nullptr;
  const unsigned long v = std::strtoul(it->second.c_str() + 1, &end, 16);
  if (*end != 0) return false;
  s.rgb[0] = float((v >> 16) & 255) / 255.f;
  s.rgb[1] = float((v >> 8) & 255) / 255.f;
  s.rgb[2] = float(v & 255) / 255.f;
  double opacity = 1;
  if (a.count("fill-opacity") && !Number(a, "fill-opacity", opacity)) return false;
  s.opacity = float(std::clamp(opacity, 0.0, 1.0));
  return true;
}

// Splits "<name a="1" b="2"/>" tags; comments are skipped.
bool Parse(const std::string& text, std::vector<Shape>& shapes, double& viewWidth, std::string& error) {
  size_t at = 0;
  while ((at = text.find('<', at)) != std::string::npos) {
    if (text.compare(at, 4, "<!--") == 0) {
      at = text.find("-->", at);
      if (at == std::string::npos) return error = "unterminated comment", false;
      continue;
    }
    const size_t close = text.find('>', at);
    if (close == std::string::npos) return error = "unterminated tag", false;
    std::string tag = text.substr(at + 1, close - at - 1);
    at = close + 1;
    std::istringstream in(tag);
    std::string name;
    in >> name;
    Attributes attributes;
    for (size_t eq = tag.find('='); eq != std::string::npos; eq = tag.find('=', eq + 1)) {
      size_t key = eq;
      while (key > 0 && !std::isspace(static_cast<unsigned char>(tag[key - 1]))) --key;
      if (eq + 1 >= tag.size() || tag[eq + 1] != '"') return error = "unquoted value in <" + name + ">", false;
      const size_t end = tag.find('"', eq + 2);
      if (end == std::string::npos) return error = "unterminated value in <" + name + ">", false;
      attributes[tag.substr(key, eq - key)] = tag.substr(eq + 2, end - eq - 2);
      eq = end;
    }
    Shape s;
    if (name == "svg") {
      if (auto it = attributes.find("viewBox"); it != attributes.end()) {
        double x = 0, y = 0, w = 0, h = 0;
        if (std::sscanf(it->second.c_str(), "%lf %lf %lf %lf", &x, &y, &w, &h) != 4 || !(w > 0))
          return error = "bad viewBox", false;
        viewWidth = w;
      }
      continue;
    } else if (name == "rect") {
      s.kind = Shape::Kind::Rect;
      if (!Number(attributes, "x", s.x) || !Number(attributes, "y", s.y) || !Number(attributes, "width", s.w) ||
          !Number(attributes, "height", s.h))
        return error = "<rect> needs x, y, width and height", false;
      if (!(s.w >= 0) || !(s.h >= 0)) return error = "<rect> with a negative size", false;
      Number(attributes, "rx", s.r);
      s.r = std::clamp(s.r, 0.0, std::min(s.w, s.h) / 2);
    } else if (name == "circle") {
      s.kind = Shape::Kind::Circle;
      if (!Number(attributes, "cx", s.x) || !Number(attributes, "cy", s.y) || !Number(attributes, "r", s.r))
        return error = "<circle> needs cx, cy and r", false;
      if (!(s.r >= 0)) return error = "<circle> with a negative radius", false;
    } else if (name == "polygon") {
      s.kind = Shape::Kind::Polygon;
      std::string list = attributes["points"];
      std::replace(list.begin(), list.end(), ',', ' ');
      std::istringstream points(list);
      for (double v; points >> v;) s.points.push_back(v);
      if (s.points.size() < 6 || s.points.size() % 2 != 0) return error = "<polygon> needs three points or more", false;
    } else {
      continue;  // </svg>, <?xml ...> and the like draw nothing
    }
    if (!Colour(attributes, s)) return error = "<" + name + "> needs fill=\"#rrggbb\"", false;
    shapes.push_back(std::move(s));
  }
  if (shapes.empty()) return error = "no shapes", false;
  return true;
}

bool Inside(const Shape& s, double x, double y) {
  switch (s.kind) {
    case Shape::Kind::Circle: return (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y) <= s.r * s.r;
    case Shape::Kind::Rect: {
      if (x < s.x || y < s.y || x > s.x + s.w || y > s.y + s.h) return false;
      // Distance to the nearest corner centre decides only inside the corner squares.
      const double cx = std::clamp(x, s.x + s.r, s.x + s.w - s.r);
      const double cy = std::clamp(y, s.y + s.r, s.y + s.h - s.r);
      return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= s.r * s.r;
    }
    case Shape::Kind::Polygon: {
      bool in = false;
      const size_t n = s.points.size() / 2;
      for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const double xi = s.points[2 * i], yi = s.points[2 * i + 1];
        const double xj = s.points[2 * j], yj = s.points[2 * j + 1];
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
      }
      return in;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: ov_make_icon ICON.svg SIZE OUT.png\n");
    return 2;
  }
  const int size = std::atoi(argv[2]);
  if (size < 8 || size > 1024) {
    std::fprintf(stderr, "ov_make_icon: the size '%s' is not 8 to 1024\n", argv[2]);
    return 2;
  }
  // An icon is a few kilobytes: anything else is refused before reading.
  std::error_code ec;
  const bool regular = std::filesystem::is_regular_file(argv[1], ec);
  const uintmax_t bytes = regular ? std::filesystem::file_size(argv[1], ec) : 0;
  if (!regular || ec || bytes > (1u << 20)) {
    std::fprintf(stderr, "ov_make_icon: cannot read '%s': %s\n", argv[1],
                 !regular ? "not a regular file"
                 : ec     ? ec.message().c_str()
                          : "larger than 1 MB");
    return 1;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  if (!file) {
    std::fprintf(stderr, "ov_make_icon: cannot read '%s'\n", argv[1]);
    return 1;
  }
  std::vector<Shape> shapes;
  double viewWidth = size;
  std::string error;
  if (!Parse(text.str(), shapes, viewWidth, error)) {
    std::fprintf(stderr, "ov_make_icon: '%s': %s\n", argv[1], error.c_str());
    return 1;
  }

  // 4x4 samples a pixel, each painted back to front with premultiplied "over".
  constexpr int kGrid = 4;
  const double scale = viewWidth / size;
  std::vector<unsigned char> pixels(size_t(size) * size * 4);
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      float sum[4] = {0, 0, 0, 0};
      for (int sy = 0; sy < kGrid; ++sy) {
        for (int sx = 0; sx < kGrid; ++sx) {
          const double x = (px + (sx + 0.5) / kGrid) * scale, y = (py + (sy + 0.5) / kGrid) * scale;
          float c[4] = {0, 0, 0, 0};
          for (const Shape& s : shapes) {
            if (!Inside(s, x, y)) continue;
            for (int k = 0; k < 3; ++k) c[k] = s.rgb[k] * s.opacity + c[k] * (1 - s.opacity);
            c[3] = s.opacity + c[3] * (1 - s.opacity);
          }
          for (int k = 0; k < 4; ++k) sum[k] += c[k];
        }
      }
      unsigned char* out = &pixels[(size_t(py) * size + px) * 4];
      const float alpha = sum[3] / (kGrid * kGrid);
      for (int k = 0; k < 3; ++k)
        out[k] = alpha > 0 ? (unsigned char)std::lround(255 * std::min(1.f, sum[k] / sum[3])) : 0;
      out[3] = (unsigned char)std::lround(255 * alpha);
    }
  }
  if (!stbi_write_png(argv[3], size, size, 4, pixels.data(), size * 4)) {
    std::fprintf(stderr, "ov_make_icon: cannot write '%s'\n", argv[3]);
    return 1;
  }
  return 0;
}
