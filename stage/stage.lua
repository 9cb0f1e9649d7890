-- The default content of the memo board: a room with the cork board, the
-- paper pad, the trash can, the clock, a camera and the lights.
--
-- Units are centimetres, +Z is up, the board stands in the XZ plane at y = 0
-- and the camera looks at it from -Y.

stage{
  name = "memo",
  frame_rate = 60,
  units_per_frame = 1,
  background = "#30343A",
  ambient = "#505050",
}

-- Textures -------------------------------------------------------------------

-- Cork: warm brown with a fine speckle (math.random is seeded the same way in
-- every build, so the image never changes between builds).
local cork = texture{
  name = "cork", width = 128, height = 128, format = "rgb565", compress = true,
  pixels = function(x, y)
    local n = math.random()
    local k = 0.80 + 0.35 * n * n
    return rgb(0.62 * k, 0.45 * k, 0.28 * k)
  end,
}

local wood = texture{
  name = "wood", width = 64, height = 256, format = "rgb565", compress = true,
  pixels = function(x, y, u, v)
    local grain = 0.5 + 0.5 * math.sin(v * 60 + math.sin(u * 9) * 2.5)
    return rgb(0.42 + 0.10 * grain, 0.28 + 0.06 * grain, 0.16 + 0.04 * grain)
  end,
}

local paper = texture{ name = "paper", width = 4, height = 4, solid = "#F4F1E6", format = "rgb565" }

local metal = texture{
  name = "metal", width = 4, height = 64, format = "rgb565",
  gradient = { from = "#9AA3AA", to = "#5C6368", direction = "vertical" },
}

-- The clock face: a white dial with twelve hour marks and sixty minute dots.
local dial = texture{
  name = "dial", width = 128, height = 128, format = "argb4444", compress = true,
  pixels = function(x, y, u, v)
    local dx, dy = u - 0.5, v - 0.5
    local r = math.sqrt(dx * dx + dy * dy)
    if r > 0.5 then return 0x00000000 end
    if r > 0.47 then return "#FF2A2A2A" end
    local a = math.deg(math.atan(dy, dx)) % 30
    if r > 0.36 and r < 0.44 and (a < 2.5 or a > 27.5) then return "#FF2A2A2A" end
    a = math.deg(math.atan(dy, dx)) % 6
    if r > 0.41 and r < 0.44 and (a < 1.2 or a > 4.8) then return "#FF6A6A6A" end
    return "#FFF8F8F4"
  end,
}

-- Materials ------------------------------------------------------------------

local corkMat = material{ name = "cork", texture = cork }
local woodMat = material{ name = "wood", texture = wood, specular = { 0.2, 0.2, 0.2 }, power = 20 }
local paperMat = material{ name = "paper", texture = paper }
local metalMat = material{ name = "metal", texture = metal, specular = { 0.8, 0.8, 0.8 }, power = 40 }
local dialMat = material{ name = "dial", texture = dial, alpha_test = true }
local handMat = material{ name = "hand", diffuse = "#202020" }
local redMat = material{ name = "second hand", diffuse = "#C02020" }
local wallMat = material{ name = "wall", diffuse = "#D8D2C4" }

-- The room -------------------------------------------------------------------

local floor = clump{
  name = "floor", position = { 0, -150, -80 },
  mesh = plane{ size = { 800, 500 }, material = woodMat, uv_scale = { 4, 2 } },
}
local wall = clump{
  name = "wall", position = { 0, 20, 60 }, rotation = euler(90, 0, 0),
  mesh = plane{ size = { 800, 300 }, material = wallMat },
}
object{ name = "room", clumps = { floor, wall } }

-- The board: a cork panel in a wooden frame.
local frame = rounded_box{ size = { 212, 6, 132 }, radius = 2, segments = 2, material = woodMat }
local panel = box{ size = { 200, 2, 120 }, material = corkMat }
object{
  name = "_BkBoard",
  clump = clump{
    name = "_BkBoard", position = { 0, 4, 40 }, mesh = frame,
    children = { clump{ name = "_BkBoardCork", position = { 0, -3.2, 0 }, mesh = panel } },
  },
}

-- The paper pad on the floor in front of the board, left.
local sheets = rounded_box{ size = { 30, 22, 6 }, radius = 0.8, segments = 2, material = paperMat }
object{
  name = "_pick1_noteBox",
  clump = clump{ name = "_pick1_noteBox", position = { -85, -60, -77 }, rotation = euler(0, 0, 8), mesh = sheets },
}

-- The trash can on the right: a metal cylinder open at the top.
local can = cylinder{ radius = 16, height = 34, segments = 40, top = false, material = metalMat, two_sided = true }
object{
  name = "TrashCan",
  clump = clump{ name = "TrashCan", position = { 95, -55, -63 }, mesh = can },
}

-- The clock hangs on the wall above the board. Its hands turn about the
-- dial's axis (local z after the dial is stood up); the second hand makes a
-- turn a minute on its own until the memo's clock controller drives them.
include("clock.lua")

-- Camera and lights ----------------------------------------------------------

local camera = clump{
  name = "camera", position = { 0, -420, 70 }, look_at = { 0, 0, 30 },
  camera = { fov = 40, near = 10, far = 3000 },
}
local sun = clump{
  name = "sun",
  light = { type = "directional", diffuse = { 0.9, 0.88, 0.82 }, direction = { 0.3, 0.8, -0.6 } },
}
local lamp = clump{
  name = "lamp", position = { -150, -200, 180 },
  light = { type = "point", diffuse = { 0.35, 0.33, 0.30 }, range = 1500, attenuation = { 1, 0, 0 } },
}
object{ name = "viewer", clumps = { camera, sun, lamp } }

stage{ camera = camera }
