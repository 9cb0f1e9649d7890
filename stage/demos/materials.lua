-- Material showcase: one sample per row and column, each showing one kind
-- of standard material, texture format or mesh feature, lit by a spot and a
-- directional light and seen by a fixed camera.

stage{ name = "material showcase", background = "#101418", ambient = "#303030", fog = "#101418" }

-- Textures in several stored forms.
local checker = texture{ name = "checker", width = 64, height = 64, checker = { a = "#FFFFFF", b = "#404040", size = 8 } }
local stripes = texture{
  name = "stripes", width = 64, height = 64, format = "rgb565", compress = true,
  pixels = function(x, y) return (x // 8) % 2 == 0 and "#E04040" or "#F0E0C0" end,
}
local glow = texture{
  name = "glow", width = 64, height = 64, format = "xrgb8888",
  gradient = { from = "#FFFFA0", to = "#000000", direction = "radial" },
}
local holes = texture{   -- alpha 0 in a grid of holes, for the alpha test
  name = "holes", width = 64, height = 64, format = "argb1555",
  pixels = function(x, y) return ((x % 16) < 8 and (y % 16) < 8) and 0x00000000 or "#FF30A0F0" end,
}
local fade = texture{     -- alpha from opaque at the top to clear at the bottom
  name = "fade", width = 4, height = 64, format = "argb4444",
  gradient = { from = "#FF40E080", to = "#0040E080", direction = "vertical" },
}
local palette = texture{  -- eight colours: stored with a palette
  name = "palette", width = 32, height = 32, format = "p8",
  pixels = function(x, y) return rgb((x // 16), (y // 16), ((x + y) // 16) % 2) end,
}
local sky = texture{ name = "sky", width = 32, height = 32, format = "rgb332",
                     gradient = { from = "#80C0FF", to = "#203040", direction = "vertical" } }

-- Materials.
local mats = {
  material{ name = "plain", diffuse = "#C04040" },
  material{ name = "shiny", diffuse = "#4060C0", specular = { 1, 1, 1 }, power = 60 },
  material{ name = "glowing", diffuse = "#202020", emissive = { 0.8, 0.5, 0.1 } },
  material{ name = "modulate", texture = checker },
  material{ name = "modulate2x", layers = { { kind = "modulate2x", texture = stripes } } },
  material{ name = "texture only", layers = { { kind = "texture", texture = palette, address = "clamp" } } },
  material{ name = "base + add", layers = { { kind = "modulate", texture = checker }, { kind = "add", texture = glow } } },
  material{ name = "alpha blend", layers = { { kind = "modulate", texture = fade } }, blend = "alpha" },
  material{ name = "alpha test", layers = { { kind = "modulate", texture = holes } }, alpha_test = true },
  material{ name = "additive", layers = { { kind = "texture", texture = glow } }, blend = "add" },
  material{ name = "reflection", diffuse = "#808080",
            layers = { { kind = "modulate", texture = stripes }, { kind = "reflection", texture = sky } } },
  material{ name = "two stages, clamped v", layers = {
    { kind = "modulate", texture = checker, set = 0 },
    { kind = "blend_alpha", texture = holes, set = 0, address_u = "wrap", address_v = "clamp" } } },
}

local samples = {}
for i, m in ipairs(mats) do
  local col, row = (i - 1) % 4, (i - 1) // 4
  local shape = (row == 0) and sphere{ radius = 18, material = m }
             or (row == 1) and rounded_box{ size = 30, radius = 5, material = m }
             or box{ size = { 34, 4, 34 }, material = m }
  samples[#samples + 1] = clump{ name = "sample_" .. i, position = { -90 + 60 * col, 0, 70 - 60 * row }, mesh = shape }
end

-- Mesh features: vertex colours on a raw mesh, a two-sided plane, two
-- subsets with their own materials.
local rainbow = mesh{
  name = "rainbow",
  positions = { { -20, 0, -20 }, { 20, 0, -20 }, { 20, 0, 20 }, { -20, 0, 20 } },
  normals = "smooth",
  colors = { "#FF0000", "#00FF00", "#0000FF", "#FFFFFF" },
  uv = { { 0, 1 }, { 1, 1 }, { 1, 0 }, { 0, 0 } },
  indices = { 0, 1, 2, 0, 2, 3 },
}
local leaf = plane{ size = 40, material = mats[4], two_sided = true }
local split = mesh{
  name = "two subsets",
  positions = { -20, 0, -20, 0, 0, -20, 0, 0, 20, -20, 0, 20, 20, 0, -20, 20, 0, 20 },
  normals = "smooth",
  indices = { 0, 1, 2, 0, 2, 3, 1, 4, 5, 1, 5, 2 },
  subsets = { { material = mats[1], first = 0, count = 2 }, { material = mats[2], first = 2, count = 2 } },
}
samples[#samples + 1] = clump{ name = "vertex colours", position = { 150, 0, 70 }, mesh = rainbow }
samples[#samples + 1] = clump{ name = "two-sided", position = { 150, 0, 10 }, rotation = euler(60, 0, 30), mesh = leaf }
samples[#samples + 1] = clump{ name = "subsets", position = { 150, 0, -50 }, mesh = split }
object{ name = "samples", clumps = samples }

local camera = clump{
  name = "camera", position = { 30, -380, 40 }, look_at = { 30, 0, 10 },
  camera = { fov = 50, near = 10, far = 1000, fog_near = 420, fog_far = 700 },
}
local key = clump{
  name = "key light", position = { -200, -250, 250 },
  light = { type = "spot", diffuse = { 0.9, 0.9, 0.85 }, specular = { 1, 1, 1 }, direction = { 0.5, 0.6, -0.6 },
            range = 1200, inner_angle = 30, outer_angle = 60, attenuation = { 1, 0, 0 } },
}
local fill = clump{ name = "fill light", light = { type = "directional", diffuse = { 0.3, 0.3, 0.35 }, direction = { -0.4, 0.7, 0.2 } } }
object{ name = "viewer", clumps = { camera, key, fill } }

stage{ camera = camera }
