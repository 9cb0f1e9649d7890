-- Effects demo: a trail streaming behind a moving box, a lens flare on a
-- light clump with one element, a clump hidden by the Invisible node, the
-- shader materials, the render-effect nodes, glow, a shadow and the debug
-- overlay.
-- At 60 time units per second the box stands at (t, 0, 0) at local time t
-- (up to t = 60), and the trail's origin sits on the box's vertex 0.

stage{ name = "effects demo", frame_rate = 60, units_per_frame = 1, background = "#101018", ambient = "#404040" }

local white = material{ name = "white", diffuse = "#FFFFFF" }
local glow = material{ name = "glow", diffuse = "#FFE080", emissive = { 1, 0.9, 0.5 } }

-- The trail: a plane's four vertices are two rows of two; the listed
-- vertices of the parent make row 0.
local blade = clump{
  name = "blade", id = 10, mesh = box{ size = 10, material = white },
  animation = {
    track{ kind = "position", keys = { { 0, 0, 0, 0 }, { 60, 60, 0, 0 } } },
    node{ "{i}Display Clump State", ["X (0 - 640):"] = 4, ["Y (0 - 480):"] = 40, ["Color:"] = "#FFFF80" },
  },
  children = {
    clump{ name = "trail", id = 11, mesh = plane{ size = 10, material = glow, two_sided = true },
           animation = { node{ "Drag Shine", ["Vertices list of it's parent:"] = "0, 2" } } },
  },
}

-- The flare: the light clump and its element are placed just in front of
-- the camera, on the line through the centre of the view.
local flare = clump{
  name = "flare", id = 20, position = { 0, 300, 50 }, mesh = plane{ size = 0.02, material = glow },
  animation = { node{ "Lens Flare", ["Multiple (child nodes)"] = true, ["Distance Ratio List"] = "0.5" } },
  children = { clump{ name = "ring", id = 21, mesh = plane{ size = 0.01, material = glow } } },
}

-- Hidden while switch 0 is clear.
local hidden = clump{
  name = "hidden", id = 30, position = { -60, 0, 0 }, mesh = sphere{ radius = 8, material = white },
  animation = { node{ "Invisible", ["Check Flag"] = { 0x1, 0x0 } } },
}

-- The shader materials in a row behind the others, one object each: gloss
-- (highlight on the striped half only), transparency (fading to clear at the
-- bottom), a given program (colours from the normals), cartoon bands and a
-- bump-mapped box (normal map in stripes tilted left and right).
local plain = texture{ name = "plain", width = 4, height = 4, solid = "#FFFFFF" }
local half = texture{ name = "half gloss", width = 16, height = 16,
                      pixels = function(x, y) return x < 8 and "#FFFFFF" or "#000000" end }
local fading = texture{ name = "fading", width = 4, height = 32, format = "argb4444",
                        gradient = { from = "#FFE04040", to = "#00E04040", direction = "vertical" } }
local ridges = texture{ name = "ridges", width = 16, height = 16,
                        pixels = function(x, y) return (x // 4) % 2 == 0 and "#D980D9" or "#2680D9" end }
local shaded = {
  shader_material{ "Gloss Mapping", ["Diffuse Map"] = plain, ["Gloss Map"] = half, diffuse = "#4060C0",
                   specular = { 1, 1, 1 }, power = 20 },
  shader_material{ "~~~~ Transparency", ["Diffuse Map"] = fading },
  shader_material{ "~~~~Test Vertex/Pixel Shader", ["Vertex Shader File"] =
    "// normals as colours\nvoid main() { gl_Position = ovClip(ovTransform(vec4(aPosition.xyz, 1.0)));" ..
    " vColor0 = vec4(normalize(ovWorldDir(aNormal)) * 0.5 + 0.5, 1.0); vColor1 = vec4(0.0); }\n" },
  shader_material{ "~~~~Test Cartoon Shader (vertex/pixel shader)", ["Diffuse Map"] = plain,
                   ["Dark Color"] = "#204080", ["Average Color"] = "#6090E0" },
  shader_material{ "Bump Mapping", ["Diffuse Map:"] = plain, ["Normal (bump) Map:"] = ridges, ["Light #"] = "All Lights" },
}
for i, m in ipairs(shaded) do
  local shape = i == 5 and box{ size = 30, material = m } or sphere{ radius = 16, material = m }
  object{ name = "shaded " .. i, clumps = { clump{ name = "shaded " .. i, position = { -150 + 50 * i, 120, 0 }, mesh = shape } } }
end

-- Render effects. A half-clear mirror stands behind the left half facing
-- the camera (its Z axis points away from the camera; it leaves the line to
-- the flare's light clear) and shows the red marker ball in front of it. A
-- lens at the lower right shows the middle of the view three times
-- magnified in its texture (drawn unlit, so the texture shows as it is).
-- The probe at the lower left is a mirror ball: a "Dynamic Env Map" draws
-- its surroundings into a cube of its own (64 pixels a face, the width of
-- its flat map) that stands in for that map on the probe, which the
-- material's reflection layer shows. A green panel stands to its right and a
-- blue one to its left.
local glass = material{ name = "glass", diffuse = "#80405060", blend = "alpha" }
local marker = material{ name = "marker", diffuse = "#000000", emissive = { 1, 0, 0 } }
local screen = texture{ name = "lens screen", width = 64, height = 64, solid = "#FF00FF" }
local probe_map = texture{ name = "probe map", width = 64, height = 64, solid = "#000000" }
local probe_face = material{ name = "probe face", diffuse = "#000000",
                             layers = { { kind = "reflection", texture = probe_map } } }
local leaf = material{ name = "leaf", diffuse = "#000000", emissive = { 0.1, 0.9, 0.2 } }
local sky = material{ name = "sky", diffuse = "#000000", emissive = { 0.2, 0.3, 1 } }
local lens_face = material{ name = "lens face", diffuse = "#000000", emissive = { 1, 1, 1 }, texture = screen }
object{ name = "effects", id = 40, clumps = {
  clump{ name = "mirror", id = 41, position = { -110, 220, 60 }, look_at = { -110, 0, 60 },
         mesh = plane{ size = { 180, 200 }, material = glass, two_sided = true },
         animation = { node{ "Mirror", ["Minimum Mesh Size (pixel):"] = 1 } } },
  clump{ name = "marker", id = 42, position = { -120, 20, 30 }, mesh = sphere{ radius = 12, material = marker } },
  clump{ name = "lens", id = 43, position = { 70, -200, 50 }, look_at = { 140, 0, -50 },
         mesh = plane{ size = 30, material = lens_face },
         animation = { node{ "~~Magic Lens", ["Mirror"] = false, ["Clip: Near"] = 3,
                             ["Minimum Mesh Size (pixel)"] = 1 } } },
  clump{ name = "probe", id = 44, position = { -70, -200, 50 }, mesh = sphere{ radius = 10, material = probe_face },
         animation = { node{ "Dynamic Env Map", ["Minimum Mesh Size (pixel):"] = 1 } } },
  clump{ name = "probe right", id = 45, position = { -50, -200, 50 }, mesh = box{ size = { 2, 30, 30 }, material = leaf } },
  clump{ name = "probe left", id = 46, position = { -90, -200, 50 }, mesh = box{ size = { 2, 30, 30 }, material = sky } },
} }

-- A glowing ember at the front right shines beyond its outline ("~~Glow":
-- its colour at full strength is the colour times 16 / 16); a crate over a
-- slab at the front left casts a shadow from the sun onto the slab
-- ("{c}Rigid Shadow"; the crate hangs above the slab, so the shadow falls
-- clear of it, behind and to the left).
local ember = material{ name = "ember", diffuse = "#000000", emissive = { 1, 0.4, 0.1 } }
local stone = material{ name = "stone", diffuse = "#A0A0A0" }
object{ name = "glow and shadow", id = 50, clumps = {
  clump{ name = "ember", id = 51, position = { 120, -80, 20 }, mesh = sphere{ radius = 12, material = ember },
         animation = { node{ "~~Glow", ["Range:"] = 2, ["Color:"] = "#FF8040", ["Multiplier:"] = 16 } } },
  clump{ name = "slab", id = 52, position = { -130, -60, -1 }, mesh = box{ size = { 80, 80, 2 }, material = stone } },
  clump{ name = "crate", id = 53, position = { -110, -95, 60 }, mesh = box{ size = 16, material = white },
         animation = { node{ "{c}Rigid Shadow" } } },
} }

-- The debug overlay: the scene's counters along the top; the moving box
-- shows its name, time and switches under them.
local camera = clump{
  name = "camera", id = 100, position = { 0, -400, 150 }, look_at = { 0, 0, 0 },
  camera = { fov = 45, near = 1, far = 2000 },
  animation = { node{ "{i}Display Scene State", ["X (0 - 640):"] = 4, ["Y (0 - 480):"] = 12 } },
}
local sun = clump{ name = "sun", light = { type = "directional", direction = { -0.3, 0.6, -0.7 } } }
object{ name = "world", id = 9, clumps = { blade, flare, hidden, camera, sun } }

stage{ camera = camera }
