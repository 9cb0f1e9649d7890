-- The wall clock above the board: a dial with three hands, the weekday on
-- its left and the date (month, day) on its right. The memo program's clock
-- controller sets the time of each hand's object to the value shown (hours
-- 0-24, minutes, seconds) and pulses bit d of a digit's switch when that
-- digit becomes d. Hands and digits are objects of their own hung below
-- "_clock", made by its generators when the board starts.

local clockAt = { 0, 250, 141 }
local face = euler(90, 0, 0)

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
local dialMat = material{ name = "dial", texture = dial, alpha_test = true }
local rimMat = material{ name = "clock rim", diffuse = "#4A3524", specular = { 0.3, 0.3, 0.3 }, power = 20 }
local handMat = material{ name = "hand", diffuse = "#202020" }
local redMat = material{ name = "second hand", diffuse = "#C02020" }

-- Every hand and digit is placed with the clock's whole matrix, so its
-- clumps are in the dial's frame: the face looks along +z, twelve is +y.
local function part(record, build)
  local o = object{ name = record, template = true }
  local root = build()
  return clump{ name = record .. "Part", emit_object = o, children = { root } }
end

-- A hand turns about z, clockwise seen from the front; its object's time in
-- seconds is the value shown (up to `span`), one turn per `turn` seconds.
local function hand(name, length, width, depth, mat, turn, span)
  local keys = {}
  for q = 0, 4 * span // turn do keys[#keys + 1] = { seconds(turn * q / 4), rotation("z", -90 * (q % 4)) } end
  return part(name, function()
    return clump{
      name = name, position = { 0, 0, depth },
      animation = { track{ kind = "rotation", keys = keys } },
      children = { clump{ name = name .. "_blade", position = { 0, length * 0.4, 0 },
                          mesh = box{ size = { width, length, 0.4 }, material = mat } } },
    }
  end)
end

-- A digit is a quad over a strip of its faces (the ten digits, or the seven
-- weekdays from Sunday); its time picks the face (10 units each) and bit d
-- of its switch sends it to face d.
local function strip(name, faces, cellWidth)
  local n, w = #faces, cellWidth * 6 + 4
  return material{ name = name, texture = texture{
    name = name, width = w, height = 16 * n, format = "argb4444",
    pixels = function(x, y, u, v)
      local d = math.min(n - 1, math.floor(v * n))
      local gy = math.floor((v * n - d) * 11) - 2
      local face = faces[d + 1]
      local ch = math.floor((x - 2) / 6) + 1
      local gx = (x - 2) % 6
      local g = GLYPHS[face:sub(ch, ch)]
      if x >= 2 and ch <= #face and gx < 5 and gy >= 0 and gy < 7 and g and g[gy + 1]:sub(gx + 1, gx + 1) == "1" then
        return "#FF202020"
      end
      return "#FFF2EEE2"
    end,
  } }
end
local digitMat = strip("digits", { "0", "1", "2", "3", "4", "5", "6", "7", "8", "9" }, 1)
local dayMat = strip("weekdays", { "SU", "MO", "TU", "WE", "TH", "FR", "SA" }, 2)

local function digit(name, x, mat, count, halfWidth)
  local keys = {}
  for d = 0, count - 1 do
    local v0, v1 = d / count, (d + 1) / count
    keys[#keys + 1] = { d * 10, 0, v1, 1, v1, 1, v0, 0, v0 }
  end
  local flips = { track{ kind = "uv_step", keys = keys } }
  for d = 0, count - 1 do
    flips[#flips + 1] = node{ "Go to Frame", ["Check Flag"] = { 1 << d, 1 << d }, ["Check Valid Time"] = false,
                              ["Absolute Go to"] = true, ["Go to:"] = d * 10 }
  end
  local h = halfWidth
  return part(name, function()
    return clump{
      name = name, position = { x, 0, 1.0 },
      mesh = mesh{ positions = { -h, -3.5, 0, h, -3.5, 0, h, 3.5, 0, -h, 3.5, 0 },
                   indices = { 0, 1, 2, 0, 2, 3 }, normals = "smooth",
                   uv = { 0, 1 / count, 1, 1 / count, 1, 0, 0, 0 }, material = mat },
      animation = flips,
    }
  end)
end

local parts = {
  hand("hour_hand", 12, 1.6, 0.5, handMat, 12, 24),
  hand("minute_hand", 18, 1.1, 0.8, handMat, 60, 60),
  hand("second_hand", 19, 0.5, 1.1, redMat, 60, 60),
  digit("month_digit1", 27, digitMat, 10, 2.2),
  digit("month_digit", 32, digitMat, 10, 2.2),
  digit("mday_digit1", 42, digitMat, 10, 2.2),
  digit("mday_digit", 47, digitMat, 10, 2.2),
  digit("wday_digit", -34, dayMat, 7, 4.2),
}
local makers = {}
for _, p in ipairs(parts) do
  makers[#makers + 1] = node{ "Generator", ["Check Flag"] = { 0, 0 }, ["Check in Camera"] = false,
    ["Generated Object"] = p, ["Life Time:"] = -1, ["Unlink Time:"] = -1, ["Total #:"] = 1,
    ["Align Orientation"] = true }
end

object{
  name = "_clock",
  clump = clump{
    name = "_clock", position = clockAt, rotation = face,
    animation = makers,
    children = {
      clump{ name = "_clockRim", position = { 0, 0, -1.4 },
             mesh = cylinder{ radius = 19, height = 3, segments = 36, bottom = false, material = rimMat } },
      clump{ name = "_clockFace", position = { 0, 0, 0.2 }, mesh = disc{ radius = 18, segments = 36, material = dialMat } },
      clump{ name = "_clockDay", position = { -34, 0, -0.2 },
             mesh = rounded_box{ size = { 13, 10, 2 }, radius = 0.8, segments = 1, material = rimMat } },
      clump{ name = "_clockDate", position = { 37, 0, -0.2 },
             mesh = rounded_box{ size = { 28, 10, 2 }, radius = 0.8, segments = 1, material = rimMat } },
    },
  },
}
