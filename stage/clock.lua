-- The wall clock: a dial with three hands. In the dial's own frame the face
-- looks along +z and twelve o'clock is +y; the hands turn about z, clockwise
-- as seen from the front, so their angles are negative.

local face = disc{ radius = 22, segments = 48, material = dialMat }
local rim = cylinder{ radius = 23, height = 3, segments = 48, bottom = false, material = woodMat }

-- A hand is a pivot at the centre with the blade offset towards twelve.
local function hand(name, length, width, depth, mat, angle, animation)
  local blade = box{ size = { width, length, 0.4 }, material = mat }
  return clump{
    name = name, position = { 0, 0, depth }, rotation = rotation("z", angle),
    animation = animation,
    children = { clump{ name = name .. "_blade", position = { 0, length * 0.4, 0 }, mesh = blade } },
  }
end

-- A quarter turn every 15 seconds, repeating: one turn a minute.
local tick = {}
for k = 0, 4 do
  tick[#tick + 1] = { seconds(15 * k), rotation("z", -90 * k) }
end

object{
  name = "_clock",
  clump = clump{
    name = "_clock", position = { 0, 14, 150 }, rotation = euler(90, 0, 0),
    children = {
      clump{ name = "_clockRim", position = { 0, 0, -1.4 }, mesh = rim },
      clump{ name = "_clockFace", position = { 0, 0, 0.2 }, mesh = face },
      hand("hour_hand", 12, 1.6, 0.5, handMat, 60),
      hand("minute_hand", 18, 1.1, 0.8, handMat, -60),
      hand("second_hand", 19, 0.5, 1.1, redMat, 0, { track{ kind = "rotation", keys = tick, after = "repeat" } }),
    },
  },
}
