#include "orvc_geometry.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "ov_math.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

using V3 = OvVector;

// Cosine and sine of an angle in degrees, exact at multiples of 90 so that
// poles and quadrant edges of generated shapes coincide exactly.
void CosSinDeg(double degrees, float& c, float& s) {
  const double quarter = degrees / 90.0;
  if (quarter == std::floor(quarter)) {
    static const float kCos[4] = {1, 0, -1, 0};
    static const float kSin[4] = {0, 1, 0, -1};
    const int q = int(((long long)(quarter) % 4 + 4) % 4);
    c = kCos[q];
    s = kSin[q];
    return;
  }
  const double r = degrees * kPi / 180.0;
  c = float(std::cos(r));
  s = float(std::sin(r));
}

class Builder {
 public:
  explicit Builder(OrvcMeshData& mesh) : m(mesh) {
    if (m.sets.empty()) m.sets.emplace_back();
  }
  uint32_t Vertex(V3 p, V3 n, float u, float v) {
    m.positions.insert(m.positions.end(), {p.x, p.y, p.z});
    m.normals.insert(m.normals.end(), {n.x, n.y, n.z});
    m.sets[0].coords.insert(m.sets[0].coords.end(), {u, v});
    return uint32_t(m.positions.size() / 3 - 1);
  }
  void Triangle(uint32_t a, uint32_t b, uint32_t c) {
    m.indices.insert(m.indices.end(), {a, b, c});
    m.sets[0].indices.insert(m.sets[0].indices.end(), {a, b, c});
  }
  // Corners in counter-clockwise order seen from the front.
  void Quad(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    Triangle(a, b, c);
    Triangle(a, c, d);
  }
  // Skips triangles whose corners coincide (poles, collapsed edges).
  void TriangleIfArea(uint32_t a, uint32_t b, uint32_t c) {
    const V3 pa = P(a), pb = P(b), pc = P(c);
    const V3 n = OvCross(OvSub(pb, pa), OvSub(pc, pa));
    if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f) return;
    Triangle(a, b, c);
  }
  V3 P(uint32_t i) const { return {m.positions[3 * i], m.positions[3 * i + 1], m.positions[3 * i + 2]}; }

 private:
  OrvcMeshData& m;
};

// A flat disc facing +Z (or -Z) at height z.
void AddDisc(Builder& b, float radius, int segments, float z, bool up) {
  const V3 n{0, 0, up ? 1.0f : -1.0f};
  const uint32_t centre = b.Vertex({0, 0, z}, n, 0.5f, 0.5f);
  const uint32_t first = centre + 1;
  for (int i = 0; i < segments; ++i) {
    float c, s;
    CosSinDeg(360.0 * i / segments, c, s);
    // Seen from below the image is mirrored in x so that it reads correctly.
    b.Vertex({radius * c, radius * s, z}, n, 0.5f + 0.5f * (up ? c : -c), 0.5f - 0.5f * s);
  }
  for (int i = 0; i < segments; ++i) {
    const uint32_t p = first + uint32_t(i), q = first + uint32_t((i + 1) % segments);
    if (up) {
      b.Triangle(centre, p, q);
    } else {
      b.Triangle(centre, q, p);
    }
  }
}

}  // namespace

OrvcMeshData OrvcMakeBox(float sx, float sy, float sz) {
  OrvcMeshData mesh;
  Builder b(mesh);
  const float h[3] = {sx * 0.5f, sy * 0.5f, sz * 0.5f};
  // Per face: normal axis and sign, then the axes that run right and up in
  // the face's image (right x up = normal).
  struct Face {
    V3 n, u, v;
  };
  const Face faces[6] = {
      {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},    // top
      {{0, 0, -1}, {1, 0, 0}, {0, -1, 0}},  // bottom
      {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},    // +x
      {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}},  // -x
      {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}},   // +y
      {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},   // -y
  };
  auto scaled = [&](V3 a) { return V3{a.x * h[0], a.y * h[1], a.z * h[2]}; };
  for (const Face& f : faces) {
    const V3 c = scaled(f.n), u = scaled(f.u), v = scaled(f.v);
    auto corner = [&](float su, float sv) {
      return V3{c.x + su * u.x + sv * v.x, c.y + su * u.y + sv * v.y, c.z + su * u.z + sv * v.z};
    };
    const uint32_t p0 = b.Vertex(corner(-1, -1), f.n, 0, 1);
    const uint32_t p1 = b.Vertex(corner(1, -1), f.n, 1, 1);
    const uint32_t p2 = b.Vertex(corner(1, 1), f.n, 1, 0);
    const uint32_t p3 = b.Vertex(corner(-1, 1), f.n, 0, 0);
    b.Quad(p0, p1, p2, p3);
  }
  return mesh;
}

OrvcMeshData OrvcMakePlane(float sx, float sy) {
  OrvcMeshData mesh;
  Builder b(mesh);
  const V3 n{0, 0, 1};
  const float x = sx * 0.5f, y = sy * 0.5f;
  const uint32_t p0 = b.Vertex({-x, -y, 0}, n, 0, 1);
  const uint32_t p1 = b.Vertex({x, -y, 0}, n, 1, 1);
  const uint32_t p2 = b.Vertex({x, y, 0}, n, 1, 0);
  const uint32_t p3 = b.Vertex({-x, y, 0}, n, 0, 0);
  b.Quad(p0, p1, p2, p3);
  return mesh;
}

OrvcMeshData OrvcMakeDisc(float radius, int segments) {
  OrvcMeshData mesh;
  Builder b(mesh);
  AddDisc(b, radius, std::max(segments, 3), 0.0f, true);
  return mesh;
}

OrvcMeshData OrvcMakeCylinder(float radius, float height, int segments, bool top, bool bottom) {
  segments = std::max(segments, 3);
  OrvcMeshData mesh;
  Builder b(mesh);
  const float z0 = -height * 0.5f, z1 = height * 0.5f;
  // One column more than segments: the seam carries u = 0 and u = 1.
  const uint32_t first = uint32_t(mesh.positions.size() / 3);
  for (int i = 0; i <= segments; ++i) {
    float c, s;
    CosSinDeg(360.0 * i / segments, c, s);
    const float u = float(i) / float(segments);
    b.Vertex({radius * c, radius * s, z0}, {c, s, 0}, u, 1);
    b.Vertex({radius * c, radius * s, z1}, {c, s, 0}, u, 0);
  }
  for (int i = 0; i < segments; ++i) {
    const uint32_t lo = first + 2 * uint32_t(i), hi = lo + 1, lo2 = lo + 2, hi2 = lo + 3;
    b.Quad(lo, lo2, hi2, hi);
  }
  if (top) AddDisc(b, radius, segments, z1, true);
  if (bottom) AddDisc(b, radius, segments, z0, false);
  return mesh;
}

OrvcMeshData OrvcMakeCone(float radius, float height, int segments, bool bottom) {
  segments = std::max(segments, 3);
  OrvcMeshData mesh;
  Builder b(mesh);
  const float z0 = -height * 0.5f, z1 = height * 0.5f;
  const float len = std::sqrt(height * height + radius * radius);
  const float nz = len > 0 ? radius / len : 1.0f, nr = len > 0 ? height / len : 0.0f;
  const uint32_t base = uint32_t(mesh.positions.size() / 3);
  for (int i = 0; i <= segments; ++i) {
    float c, s;
    CosSinDeg(360.0 * i / segments, c, s);
    b.Vertex({radius * c, radius * s, z0}, {nr * c, nr * s, nz}, float(i) / float(segments), 1);
  }
  // One apex per segment, with the normal of the segment's middle, so the
  // side shades smoothly up to the tip.
  for (int i = 0; i < segments; ++i) {
    float c, s;
    CosSinDeg(360.0 * (i + 0.5) / segments, c, s);
    const uint32_t apex = b.Vertex({0, 0, z1}, {nr * c, nr * s, nz}, (i + 0.5f) / float(segments), 0);
    b.Triangle(base + uint32_t(i), base + uint32_t(i) + 1, apex);
  }
  if (bottom) AddDisc(b, radius, segments, z0, false);
  return mesh;
}

OrvcMeshData OrvcMakeSphere(float radius, int segments, int rings) {
  segments = std::max(segments, 3);
  rings = std::max(rings, 2);
  OrvcMeshData mesh;
  Builder b(mesh);
  const int columns = segments + 1;
  for (int j = 0; j <= rings; ++j) {
    float cp, sp;
    CosSinDeg(90.0 - 180.0 * j / rings, cp, sp);
    for (int i = 0; i <= segments; ++i) {
      float c, s;
      CosSinDeg(360.0 * i / segments, c, s);
      const V3 n{cp * c, cp * s, sp};
      b.Vertex({radius * n.x, radius * n.y, radius * n.z}, n, float(i) / float(segments), float(j) / float(rings));
    }
  }
  for (int j = 0; j < rings; ++j) {
    for (int i = 0; i < segments; ++i) {
      const uint32_t up = uint32_t(j * columns + i), up2 = up + 1;
      const uint32_t lo = up + uint32_t(columns), lo2 = lo + 1;
      if (j + 1 < rings) b.Triangle(lo, lo2, up2);  // the bottom pole row collapses
      if (j > 0) b.Triangle(lo, up2, up);           // the top pole row collapses
    }
  }
  return mesh;
}

OrvcMeshData OrvcMakeRoundedBox(float sx, float sy, float sz, float radius, int segments) {
  segments = std::max(segments, 1);
  const float hx = sx * 0.5f, hy = sy * 0.5f, hz = sz * 0.5f;
  radius = std::clamp(radius, 0.0f, std::min({hx, hy, hz}));
  OrvcMeshData mesh;
  Builder b(mesh);
  // A sphere cut into octants and pushed apart: each quarter of longitude and
  // each half of latitude is offset towards its corner of the inner box, and
  // the duplicated rows and columns at the cuts stretch into the flat faces.
  const int perQuarter = segments + 1;
  const int columns = 4 * perQuarter;
  const int rows = 2 * perQuarter;
  for (int r = 0; r < rows; ++r) {
    const bool upper = r < perQuarter;
    const int k = upper ? r : r - perQuarter;
    const double phi = upper ? 90.0 - 90.0 * k / segments : -90.0 * k / segments;
    float cp, sp;
    CosSinDeg(phi, cp, sp);
    const float oz = (upper ? 1.0f : -1.0f) * (hz - radius);
    for (int col = 0; col < columns; ++col) {
      const int q = col / perQuarter, kk = col % perQuarter;
      float c, s;
      CosSinDeg(90.0 * q + 90.0 * kk / segments, c, s);
      const float ox = (q == 0 || q == 3 ? 1.0f : -1.0f) * (hx - radius);
      const float oy = (q < 2 ? 1.0f : -1.0f) * (hy - radius);
      const V3 n{cp * c, cp * s, sp};
      const V3 p{ox + radius * n.x, oy + radius * n.y, oz + radius * n.z};
      b.Vertex(p, n, float(col) / float(columns - 1), float(r) / float(rows - 1));
    }
  }
  for (int r = 0; r + 1 < rows; ++r) {
    for (int col = 0; col < columns; ++col) {
      const int next = (col + 1) % columns;
      const uint32_t up = uint32_t(r * columns + col), up2 = uint32_t(r * columns + next);
      const uint32_t lo = up + uint32_t(columns), lo2 = up2 + uint32_t(columns);
      b.TriangleIfArea(lo, lo2, up2);
      b.TriangleIfArea(lo, up2, up);
    }
  }
  // The flat top and bottom between the four pole corners.
  const uint32_t last = uint32_t((rows - 1) * columns);
  uint32_t top[4], bottom[4];
  for (int q = 0; q < 4; ++q) {
    top[q] = uint32_t(q * perQuarter);
    bottom[q] = last + uint32_t(q * perQuarter);
  }
  b.TriangleIfArea(top[0], top[1], top[2]);
  b.TriangleIfArea(top[0], top[2], top[3]);
  b.TriangleIfArea(bottom[0], bottom[2], bottom[1]);
  b.TriangleIfArea(bottom[0], bottom[3], bottom[2]);
  return mesh;
}

void OrvcSmoothNormals(OrvcMeshData& mesh) {
  const size_t n = mesh.positions.size() / 3;
  std::vector<double> acc(n * 3, 0.0);
  for (size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
    const uint32_t i[3] = {mesh.indices[t], mesh.indices[t + 1], mesh.indices[t + 2]};
    if (i[0] >= n || i[1] >= n || i[2] >= n) continue;
    auto p = [&](uint32_t k) {
      return V3{mesh.positions[3 * k], mesh.positions[3 * k + 1], mesh.positions[3 * k + 2]};
    };
    const V3 c = OvCross(OvSub(p(i[1]), p(i[0])), OvSub(p(i[2]), p(i[0])));  // length = twice the area
    for (uint32_t k : i) {
      acc[3 * k] += c.x;
      acc[3 * k + 1] += c.y;
      acc[3 * k + 2] += c.z;
    }
  }
  mesh.normals.assign(n * 3, 0.0f);
  for (size_t k = 0; k < n; ++k) {
    const double x = acc[3 * k], y = acc[3 * k + 1], z = acc[3 * k + 2];
    const double len = std::sqrt(x * x + y * y + z * z);
    if (len > 0) {
      mesh.normals[3 * k] = float(x / len);
      mesh.normals[3 * k + 1] = float(y / len);
      mesh.normals[3 * k + 2] = float(z / len);
    } else {
      mesh.normals[3 * k + 2] = 1.0f;
    }
  }
}

void OrvcComputeBounds(const std::vector<float>& positions, float out[10]) {
  std::fill(out, out + 10, 0.0f);
  const size_t n = positions.size() / 3;
  if (n == 0) return;
  float lo[3] = {positions[0], positions[1], positions[2]};
  float hi[3] = {lo[0], lo[1], lo[2]};
  for (size_t k = 1; k < n; ++k) {
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], positions[3 * k + a]);
      hi[a] = std::max(hi[a], positions[3 * k + a]);
    }
  }
  double centre[3];
  for (int a = 0; a < 3; ++a) centre[a] = (double(lo[a]) + double(hi[a])) * 0.5;
  double r2 = 0.0;
  for (size_t k = 0; k < n; ++k) {
    double d2 = 0.0;
    for (int a = 0; a < 3; ++a) {
      const double d = positions[3 * k + a] - centre[a];
      d2 += d * d;
    }
    r2 = std::max(r2, d2);
  }
  for (int a = 0; a < 3; ++a) {
    out[a] = float(centre[a]);
    out[4 + a] = lo[a];
    out[7 + a] = hi[a];
  }
  // Rounded up so that float rounding never leaves a vertex outside.
  out[3] = std::nextafter(float(std::sqrt(r2)), 3.0e38f);
}

std::string OrvcCheckMesh(const OrvcMeshData& mesh) {
  if (mesh.positions.size() % 3 != 0) return "positions must come in threes (x, y, z)";
  const size_t n = mesh.positions.size() / 3;
  if (!mesh.normals.empty() && mesh.normals.size() != n * 3) {
    return "normals: " + std::to_string(mesh.normals.size() / 3) + " given for " + std::to_string(n) + " vertices";
  }
  if (!mesh.colors.empty() && mesh.colors.size() != n) {
    return "colors: " + std::to_string(mesh.colors.size()) + " given for " + std::to_string(n) + " vertices";
  }
  if (mesh.indices.size() % 3 != 0) return "indices must come in threes (one triangle each)";
  for (size_t i = 0; i < mesh.indices.size(); ++i) {
    if (mesh.indices[i] >= n) {
      return "index " + std::to_string(mesh.indices[i]) + " (entry " + std::to_string(i + 1) + ") is beyond the " +
             std::to_string(n) + " vertices";
    }
  }
  for (size_t s = 0; s < mesh.sets.size(); ++s) {
    const OrvcCoordSet& set = mesh.sets[s];
    const std::string which = "coordinate set " + std::to_string(s);
    if (set.coords.size() % 2 != 0) return which + ": coordinates must come in pairs (u, v)";
    if (set.indices.size() != mesh.indices.size()) {
      return which + ": " + std::to_string(set.indices.size()) + " indices for " + std::to_string(mesh.indices.size()) +
             " triangle corners";
    }
    const size_t count = set.coords.size() / 2;
    for (size_t i = 0; i < set.indices.size(); ++i) {
      if (set.indices[i] >= count) {
        return which + ": index " + std::to_string(set.indices[i]) + " is beyond its " + std::to_string(count) +
               " coordinates";
      }
    }
  }
  return {};
}
