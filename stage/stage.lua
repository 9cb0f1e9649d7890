-- The memo board: a cork board on the wall above a wooden desk.
--
-- Units are centimetres, +Z is up. The camera rests looking along +Y at the
-- board (cork face at y = 256.5, notes just in front of it at y = 256); when
-- "D_CamRote" bit 0 is set it turns down to the desk, where the edit paper,
-- the pens, the rubber, the ok button and the recycle tray lie.
-- docs/content.md lists the names and switch bits the memo program uses.

stage{
  name = "memo",
  frame_rate = 60,
  units_per_frame = 1,
  background = "#2E3238",
  ambient = "#6A6660",
}

-- Textures -------------------------------------------------------------------

-- Cork: warm brown with a fine speckle (math.random is seeded the same way in
-- every build, so the image never changes between builds).
local cork = texture{
  name = "cork", width = 128, height = 128, format = "rgb565", compress = true,
  pixels = function(x, y)
    local n = math.random()
    local k = 0.80 + 0.35 * n * n
    return rgb(0.66 * k, 0.48 * k, 0.30 * k)
  end,
}

local wood = texture{
  name = "wood", width = 64, height = 256, format = "rgb565", compress = true,
  pixels = function(x, y, u, v)
    local grain = 0.5 + 0.5 * math.sin(v * 60 + math.sin(u * 9) * 2.5)
    return rgb(0.45 + 0.10 * grain, 0.30 + 0.06 * grain, 0.17 + 0.04 * grain)
  end,
}

local white = texture{ name = "white", width = 4, height = 4, solid = "#FFFFFFFF" }
-- What a note shows before it has handwriting: nothing.
local blank = texture{ name = "blank", width = 8, height = 8, solid = "#007F7F7F" }

-- A brush is a round dot in the pen's colour with a soft rim. The pens show
-- their brush, so the colour reads on the pen as well.
local function brush(name, colour)
  return texture{
    name = name, width = 32, height = 32,
    pixels = function(x, y, u, v)
      local dx, dy = u - 0.5, v - 0.5
      local r = math.sqrt(dx * dx + dy * dy) * 2
      local a = r < 0.7 and 1 or (r < 1 and (1 - r) / 0.3 or 0)
      return rgb(colour[1], colour[2], colour[3], a)
    end,
  }
end
local inks = { { 0.08, 0.08, 0.10 }, { 0.80, 0.10, 0.12 }, { 0.10, 0.25, 0.75 }, { 0.10, 0.55, 0.20 } }
local brushes = {}
for k = 1, 4 do brushes[k] = brush("pen" .. (k - 1), inks[k]) end
-- The rubber lowers alpha to its own: clear inside the dot, opaque outside.
local rubberBrush = texture{
  name = "rubber", width = 32, height = 32,
  pixels = function(x, y, u, v)
    local dx, dy = u - 0.5, v - 0.5
    local r = math.sqrt(dx * dx + dy * dy) * 2
    local a = r < 0.75 and 0 or (r < 1 and (r - 0.75) / 0.25 or 1)
    return rgb(0.93, 0.55, 0.62, a)
  end,
}

-- A 5x7 pixel font for button labels and the clock's digits.
GLYPHS = {
  ["0"] = { "01110", "10001", "10011", "10101", "11001", "10001", "01110" },
  ["1"] = { "00100", "01100", "00100", "00100", "00100", "00100", "01110" },
  ["2"] = { "01110", "10001", "00001", "00010", "00100", "01000", "11111" },
  ["3"] = { "11111", "00010", "00100", "00010", "00001", "10001", "01110" },
  ["4"] = { "00010", "00110", "01010", "10010", "11111", "00010", "00010" },
  ["5"] = { "11111", "10000", "11110", "00001", "00001", "10001", "01110" },
  ["6"] = { "00110", "01000", "10000", "11110", "10001", "10001", "01110" },
  ["7"] = { "11111", "00001", "00010", "00100", "01000", "01000", "01000" },
  ["8"] = { "01110", "10001", "10001", "01110", "10001", "10001", "01110" },
  ["9"] = { "01110", "10001", "10001", "01111", "00001", "00010", "01100" },
  ["O"] = { "01110", "10001", "10001", "10001", "10001", "10001", "01110" },
  ["K"] = { "10001", "10010", "10100", "11000", "10100", "10010", "10001" },
  ["X"] = { "10001", "10001", "01010", "00100", "01010", "10001", "10001" },
  ["<"] = { "00010", "00100", "01000", "10000", "01000", "00100", "00010" },
  ["C"] = { "01110", "10001", "10000", "10000", "10000", "10001", "01110" },
  ["L"] = { "10000", "10000", "10000", "10000", "10000", "10000", "11111" },
  ["R"] = { "11110", "10001", "10001", "11110", "10100", "10010", "10001" },
  ["B"] = { "11110", "10001", "10001", "11110", "10001", "10001", "11110" },
  ["N"] = { "10001", "11001", "10101", "10011", "10001", "10001", "10001" },
  ["E"] = { "11111", "10000", "10000", "11110", "10000", "10000", "11111" },
  ["A"] = { "01110", "10001", "10001", "11111", "10001", "10001", "10001" },
  ["S"] = { "01111", "10000", "10000", "01110", "00001", "00001", "11110" },
  ["U"] = { "10001", "10001", "10001", "10001", "10001", "10001", "01110" },
  ["M"] = { "10001", "11011", "10101", "10101", "10001", "10001", "10001" },
  ["T"] = { "11111", "00100", "00100", "00100", "00100", "00100", "00100" },
  ["W"] = { "10001", "10001", "10001", "10101", "10101", "10101", "01010" },
  ["H"] = { "10001", "10001", "10001", "11111", "10001", "10001", "10001" },
  ["F"] = { "11111", "10000", "10000", "11110", "10000", "10000", "10000" },
  ["I"] = { "01110", "00100", "00100", "00100", "00100", "00100", "01110" },
  ["."] = { "00000", "00000", "00000", "00000", "00000", "01100", "01100" },
}
-- True when pixel (u, v) of a label box falls on a stroke of the text.
local function inText(text, u, v)
  local n = #text
  local cu = u * (n * 6 + 1)
  local col = math.floor(cu)
  local ch = math.floor(col / 6) + 1
  local gx = col % 6
  local gy = math.floor(v * 9) - 1
  if ch > n or gx >= 5 or gy < 0 or gy > 6 then return false end
  local g = GLYPHS[text:sub(ch, ch)]
  return g ~= nil and g[gy + 1]:sub(gx + 1, gx + 1) == "1"
end
local function label(name, text, ink, paper)
  return texture{
    name = name, width = 64, height = 32, format = "rgb565",
    pixels = function(x, y, u, v) return inText(text, u, v) and ink or paper end,
  }
end

-- Materials ------------------------------------------------------------------

local corkMat = material{ name = "cork", texture = cork }
local woodMat = material{ name = "wood", texture = wood, specular = { 0.2, 0.2, 0.2 }, power = 20 }
local wallMat = material{ name = "wall", diffuse = "#D9D2C3" }
local metalMat = material{ name = "metal", diffuse = "#9AA3AA", specular = { 0.7, 0.7, 0.7 }, power = 40 }
local pinMat = material{ name = "pin", diffuse = "#C8322C", specular = { 0.8, 0.8, 0.8 }, power = 30 }
local paperWhite = material{ name = "paper", diffuse = "#F6F3EA" }
local rubberMat = material{ name = "rubber", texture = rubberBrush }
local penMats = {}
for k = 1, 4 do penMats[k] = material{ name = "pen" .. (k - 1), texture = brushes[k], specular = { 0.5, 0.5, 0.5 }, power = 30 } end
local capMat = material{ name = "pen cap", diffuse = "#E8E8E8" }
local function labelMat(name, text, ink, paper)
  return material{ name = name, texture = label(name, text, ink, paper) }
end
-- A label plane `height` high, as wide as its text.
local function labelPlane(name, text, ink, paper, height)
  return plane{ size = { height * (#text * 6 + 1) / 9, height }, material = labelMat(name, text, ink, paper) }
end

-- The four kinds of note paper.
local kinds = { "#F7E27A", "#F4A9BA", "#A9D5F2", "#BCE3A2" }
local kindMats = {}
for k = 1, 4 do kindMats[k] = material{ name = "note paper " .. (k - 1), diffuse = kinds[k] } end

-- Sounds ---------------------------------------------------------------------

local padSound = sound{ file = "sounds/pad.wav" }
local penSound = sound{ file = "sounds/pen.wav" }
local okSound = sound{ file = "sounds/ok.wav" }
local trashSound = sound{ file = "sounds/trash.wav" }

-- A short sound each time the clump's switch bit 0 is pulsed.
local function click(s, once)
  return node{ "Play Sound", ["Check Flag"] = { 1, 1 }, ["Sound File:"] = s, ["3D Sound"] = false,
               ["Infinite Loop"] = false, ["Only Play Once"] = once or false, ["Play Entire Sound"] = true,
               ["Safe Period (sec)"] = 0.05 }
end

-- A button that sinks in for a moment when bit 0 is pulsed: its object's time
-- is held at 0 (up) and jumps to 1000 on the pulse (down, then up by 1020).
local function pressTrack(pos, depthAxis)
  local down = { pos[1] + depthAxis[1], pos[2] + depthAxis[2], pos[3] + depthAxis[3] }
  return {
    track{ kind = "position", keys = { { 0, pos }, { 1000, pos }, { 1006, down }, { 1020, pos } } },
    node{ "Go to Frame", ["Check Flag"] = { 1, 1 }, ["Check Valid Time"] = false, ["Absolute Go to"] = true,
          ["Go to:"] = 1000 },
  }
end
local function append(list, more)
  for _, e in ipairs(more) do list[#list + 1] = e end
  return list
end

-- The room -------------------------------------------------------------------

local face = euler(90, 0, 0) -- stands a +Z-facing shape up to face the camera (-Y)

object{ name = "room", clumps = {
  clump{ name = "wall", position = { 0, 262, 60 }, rotation = face,
         mesh = plane{ size = { 700, 420 }, material = wallMat } },
  clump{ name = "desk", position = { 0, 165, -44 },
         mesh = rounded_box{ size = { 340, 200, 8 }, radius = 1.5, segments = 1, material = woodMat } },
} }

-- The board: the cork face is "_BkBoard" (its box is where notes may lie),
-- with a wooden frame behind it.
object{
  name = "_BkBoard",
  clump = clump{
    name = "_BkBoard", position = { 0, 256.5, 50 }, rotation = face,
    mesh = plane{ size = { 220, 130 }, material = corkMat, uv_scale = { 2, 1.2 } },
    children = {
      clump{ name = "boardFrame", position = { 0, 0, -2.2 },
             mesh = rounded_box{ size = { 232, 142, 4 }, radius = 1.5, segments = 1, material = woodMat } },
    },
  },
}

-- Where notes may not be dropped: the pads (bottom left) and the buttons
-- (top right). Only their boxes count; they are not drawn.
local function noDrop(name, x, z, w, h)
  object{ name = name, clump = clump{ name = name, position = { x, 256.4, z }, rotation = face, invisible = true,
                                      mesh = plane{ size = { w, h } } } }
end
noDrop("_0XBkBoard", -66, -4, 88, 22)
noDrop("_1XBkBoard", 82, 104, 56, 22)

-- Notes ------------------------------------------------------------------------

-- Where the trash basket catches a dropped note (world x, z) and how close
-- the note's centre must come.
local trashAt = { 88, 242, 2 }
local trashReach = 17

script{ source = string.format([[
-- A note dropped on the trash basket: it moved while the left button was
-- down and its centre is over the basket when the button comes up. Then
-- bit 4 is set for one frame (the note's generator makes a "del_" object).
TrashDrop = { OnTick = function(self, t)
  local c = self._Clump
  local p = Vec0()
  if CpCheckSwitch(c, 16, 16) == 1 then CpSetSwitch(c, 16, 0) end
  if CpGetWorldPos(c, p) == 0 then return 0 end
  local x, z = GetVec_x(p), GetVec_z(p)
  local moved = self.px ~= nil and abs(x - self.px) + abs(z - self.pz) > 0.001
  self.px, self.pz = x, z
  local dx, dz = x - %g, z - %g
  local near = dx * dx + dz * dz < %g
  if IsMouseKeyDown("L") == 1 then
    if moved then self.armed = near end
  else
    if self.armed and near then CpSetSwitch(c, 16, 16) end
    self.armed = false
  end
  return 0
end }
]], trashAt[1], trashAt[3], trashReach * trashReach) }

-- Made when a note goes into the trash: "del_" tells the program to recycle
-- the front note; "delfly_" is the crumpled sheet that drops into the basket
-- and stays there as a marker.
local crumpled = sphere{ radius = 4.5, segments = 7, rings = 5, material = paperWhite }
local delfly = object{ name = "delfly_red", template = true }
local inBasket = { trashAt[1] + 2, trashAt[2] + 1, trashAt[3] - 5 }
local delflyRoot = clump{
  name = "delfly_red", emit_object = delfly, mesh = crumpled,
  animation = {
    track{ kind = "position", keys = { { 0, trashAt[1], trashAt[2], trashAt[3] + 26 }, { 14, inBasket } } },
  },
  children = { clump{ name = "delflyTrash", animation = { click(trashSound, true) }, switch = 1 } },
}
-- The marker comes from the "del_" object on its first frame, so the
-- program has recycled the note by the time the marker appears.
local delNote = object{ name = "del_note", template = true }
local delRoot = clump{
  name = "del_noteRoot", emit_object = delNote,
  animation = {
    node{ "Generator", ["Check Flag"] = { 0, 0 }, ["Check in Camera"] = false, ["Generated Object"] = delflyRoot,
          ["Life Time:"] = -1, ["Total #:"] = 1, ["Align Orientation"] = false },
  },
}

local function written(what, k)
  return material{ name = what .. " " .. (k - 1), diffuse = kinds[k],
                   layers = { { kind = "blend_alpha", texture = blank, address = "clamp" } } }
end
-- The recycle tray is drawn at a third of its size, which would brighten
-- its lit surfaces: its things glow with their own colour instead.
local function glowing(name, colour, layers)
  return material{ name = name, diffuse = "#000000", ambient = "#000000", emissive = colour, layers = layers }
end
local pin = sphere{ radius = 1.6, segments = 8, rings = 5, material = pinMat }

local newPapers = {}
for k = 0, 3 do
  -- A board note: the handwriting "_pick1_drag_paper" over its coloured
  -- sheet, whose name ends in the kind.
  local note = object{ name = string.format("note%d", k), template = true }
  clump{
    name = string.format("_noteRoot%02d", k), emit_object = note,
    children = {
      clump{
        name = "_pick1_drag_paper", rotation = face, mesh = plane{ size = { 26, 26 }, material = written("note", k + 1) },
        animation = {
          node{ "Script", ["Check Flag"] = { 0, 0 }, Script = "TrashDrop" },
          node{ "Generator", ["Check Flag"] = { 16, 16 }, ["Check in Camera"] = false, ["Generated Object"] = delRoot,
                ["Life Time:"] = 30, ["Align Orientation"] = false },
        },
        -- The first child's name ends in the kind.
        children = { clump{ name = "notePin" .. k, position = { 0, 10.5, 1.2 }, mesh = pin } },
      },
    },
  }

  -- The same note as the recycle tray shows it, at the tray's scale (a
  -- tray slot is 90 by 95): click the sheet to put it back, the cross to
  -- delete it for good.
  local shown = object{ name = string.format("recycled%d", k), template = true }
  clump{
    name = string.format("_%02dnoteXRoot", k), emit_object = shown,
    children = {
      clump{ name = "_pick1_drag_paper", position = { 0, 0, 0.6 },
             mesh = plane{ size = { 80, 80 }, material = glowing("recycled note " .. k, kinds[k + 1],
                                                                 { { kind = "blend_alpha", texture = blank, address = "clamp" } }) } },
      clump{ name = "_pick3_RreturnNote" .. k, mesh = plane{ size = { 84, 84 }, material = glowing("recycled sheet " .. k, "#606060") } },
      clump{ name = "_pick3_delnote" .. k, position = { 34, 34, 1.5 },
             mesh = plane{ size = { 16, 16 }, material = glowing("delete", "#FFFFFF", { { kind = "modulate", texture = label("delete", "X", "#FFFFFF", "#C03030") } }) } },
    },
  }

  -- What the pad of this kind makes when it is clicked.
  newPapers[k] = clump{ name = "newPaper" .. k, emit_object = object{ name = string.format("_%dnewPaper", k), template = true } }
end

-- The pads, one per kind, pinned at the bottom left of the board.
for k = 0, 3 do
  local pos = { -98 + k * 22, 253, -4 }
  object{
    name = "pad" .. k,
    clump = clump{
      name = "_pick1_noteBox" .. k, position = pos, rotation = face,
      mesh = rounded_box{ size = { 18, 14, 3 }, radius = 0.6, segments = 1, material = kindMats[k + 1] },
      animation = append({
        node{ "Generator", ["Check Flag"] = { 1, 1 }, ["Check in Camera"] = false,
              ["Generated Object"] = newPapers[k], ["Life Time:"] = 2, ["Align Orientation"] = false },
        click(padSound),
      }, pressTrack(pos, { 0, 1.5, 0 })),
    },
  }
end

-- The trash basket hangs on the board at the bottom right.
object{
  name = "TrashCan",
  clump = clump{
    name = "TrashCan", position = { trashAt[1], 243, trashAt[3] },
    mesh = cylinder{ radius = 13, height = 22, segments = 24, top = false, material = metalMat, two_sided = true },
    children = { clump{ name = "D_TrashCanRot", position = { 0, 0, 11 } } },
  },
}

-- A button's label is not pickable itself: clicks go to the button.
local function labelName(name) return (name:gsub("_pick%d_", "")) .. "Label" end

-- Board buttons, top right: the recycle tray and close.
local function roundButton(name, pos, text, colour, extra)
  return clump{
    name = name, position = pos, rotation = face,
    mesh = cylinder{ radius = 7, height = 3, segments = 20, material = material{ name = name, diffuse = colour } },
    children = { clump{ name = labelName(name), position = { 0, 0, 1.6 },
                        mesh = labelPlane(name .. " label", text, "#FFFFFF", colour, 5) } },
    animation = append(extra or {}, pressTrack(pos, { 0, 1.2, 0 })),
  }
end

-- The recycle tray is made on the desk while its view is open; the program
-- lays the recycled notes out on it and removes them when it closes. Rows of
-- notes run along +x, 90 apart; the tray shows 480 of them. Dragging the
-- tray (the program sets bit 2 of its root when its background is clicked)
-- scrolls the rows: the tray object's time in seconds, between SecStart and
-- SecEnd (which the program sets from the number of notes), is the scroll,
-- and the background and the clear button move back so they stay in place.
script{ source = [[
TouchControlObjTime = { OnTick = function(self, t)
  local c = self._Clump
  local o = CpGetOwner(c)
  local scene = CpGetScene(c)
  -- The view is over once "D_CamRote" bit 0 falls: the tray goes, so the
  -- next visit makes a new one.
  local view = SnSearchClump(scene, "D_CamRote")
  if view ~= nil and CpCheckSwitch(view, 1, 1) ~= 1 then
    SnDelLogObj(scene, o)
    return 0
  end
  if not self.frozen then LoFreezeTime(o) self.frozen = true end
  local s = self.at or self.SecStart
  if CpCheckSwitch(c, 4, 4) == 1 and IsMouseKeyDown("L") == 1 then
    local dx = GetMouseMove(0, 0)
    s = s - dx * self.PerPixel
  end
  s = max(self.SecStart, min(max(self.SecStart, self.SecEnd), s))
  self.at = s
  LoGotoFrame_Sec(o, s)
  return 0
end }
]] }
local grip = texture{
  name = "grip", width = 64, height = 8, format = "rgb565",
  pixels = function(x, y) return (x % 4 == 0 and y > 1 and y < 6) and "#9AA6AC" or "#35424A" end,
}
local tray = object{ name = "_pick3_recycleBk", template = true }
local trayAt = { -30, 214, -39.5 }
local trayScale = 0.3
local scrollSeconds, scrollWidth = 37, 2220
local function scrolled(p, sign)
  return { { 0, p }, { seconds(scrollSeconds), p[1] + sign * scrollWidth, p[2], p[3] } }
end
local trayRoot = clump{
  name = "_pick3_recycleBkRoot", emit_object = tray,
  animation = {
    track{ kind = "position", keys = scrolled(trayAt, -trayScale) },
    track{ kind = "scale", keys = { { 0, trayScale } } },
    node{ "Script", ["Check Flag"] = { 0, 0 }, Script = "TouchControlObjTime",
          ["Init Value"] = string.format("SecStart = 0, SecEnd = %d, PerPixel = 0.0085", scrollSeconds) },
  },
  children = {
    clump{ name = "_pick3_RecycleBinBk", position = { 210, -95, 0 },
           mesh = plane{ size = { 520, 300 }, material = glowing("tray", "#4A565C") },
           animation = { track{ kind = "position", keys = scrolled({ 210, -95, 0 }, 1) } } },
    -- The grip along the back edge: the one place to drag that no note covers.
    clump{ name = "_pick3_RecycleBinBkGrip", position = { 210, 75, 0.5 },
           mesh = plane{ size = { 520, 40 }, material = glowing("tray grip", "#FFFFFF",
             { { kind = "modulate", texture = grip } }) },
           animation = { track{ kind = "position", keys = scrolled({ 210, 75, 0.5 }, 1) } } },
    clump{ name = "_pick3_pick1_ClearBtn", position = { 120, -290, 2 },
           mesh = plane{ size = { 40 * 31 / 9, 40 }, material = glowing("clear", "#FFFFFF",
             { { kind = "modulate", texture = label("clear", "CLEAR", "#FFFFFF", "#A03030") } }) },
           animation = { track{ kind = "position", keys = scrolled({ 120, -290, 2 }, 1) } } },
  },
}

local returnBtn = roundButton("_pick1_ReturnBtn", { 72, 252, 104 }, "BIN", "#3C6E8C", {
  node{ "Generator", ["Check Flag"] = { 1, 1 }, ["Check in Camera"] = false, ["Generated Object"] = trayRoot,
        ["Life Time:"] = -1, ["Align Orientation"] = false, ["In Scene #:"] = 1 },
})
object{ name = "recycleButton", clump = returnBtn }

-- Close: after its press it sets bit 1, which ends the program.
object{ name = "closeButton", clump = roundButton("_pick1_CloseBtn", { 96, 252, 104 }, "X", "#A83232", {
  node{ "<ss> Timing Flag", ["Check Flag"] = 1, ["Timing(sec):"] = 0.3, ["Hold(sec):"] = 1, ["Set Flag"] = { 2, 2 } },
}) }

-- The desk: edit paper, pens, rubber, ok and back -------------------------------

object{ name = "_editUIRoot", clump = clump{ name = "_editUIRoot", position = { 0, 186, -39.6 } } }

-- The paper being written: "_editPaper0K" shows the film over the kind's
-- colour. It lies on the desk; the program flies it in.
for k = 0, 3 do
  object{
    name = "_editPaper" .. k,
    clump = clump{
      name = string.format("_editPaper%02d", k), position = { 0, 186, -39.6 }, invisible = true,
      mesh = plane{ size = { 64, 64 }, material = written("edit paper", k + 1) },
    },
  }
end

-- Pens and the rubber: a selected one lifts (bit 0 pulse latches bit 3, the
-- deselect pulse on bit 1 drops it).
local function tool(name, pos, mesh, children)
  return clump{
    name = name, position = pos, mesh = mesh, children = children,
    animation = {
      track{ kind = "position", keys = { { 0, pos }, { 1000, pos }, { 1008, pos[1], pos[2], pos[3] + 3 } } },
      node{ "<ss> Flag Trigger", ["Check Flag"] = { 1, 1 }, ["Set Flag"] = { 8, 8 } },
      node{ "<ss> Flag Trigger", ["Check Flag"] = { 2, 2 }, ["Set Flag"] = { 8, 0 } },
      node{ "Go to Frame", ["Check Flag"] = { 8, 0 }, ["Check Valid Time"] = false, ["Go to:"] = 0 },
      node{ "Go to Frame", ["Check Flag"] = { 8, 8 }, ["Valid Start:"] = 0, ["Valid End:"] = 999, ["Go to:"] = 1000 },
      click(penSound),
    },
  }
end
local pens = {}
for k = 0, 3 do
  pens[k] = tool(string.format("_exp_pick2_pen%02d", k), { -66, 212 - k * 12, -38 },
    box{ size = { 34, 3.2, 3.2 }, material = penMats[k + 1] },
    { clump{ name = "penCap" .. k, position = { 15, 0, 0 }, mesh = box{ size = { 6, 3.6, 3.6 }, material = capMat } } })
  object{ name = "pen" .. k, clump = pens[k] }
end
object{ name = "rubber", clump = tool("_exp_pick2_rubber", { -66, 158, -37.5 },
  rounded_box{ size = { 18, 9, 5 }, radius = 1, segments = 1, material = rubberMat }) }

local function deskButton(name, pos, text, colour, extra, labelExtra, after)
  return clump{
    name = name, position = pos,
    mesh = rounded_box{ size = { 26, 12, 3 }, radius = 1, segments = 1, material = material{ name = name, diffuse = colour } },
    children = { clump{ name = labelName(name), position = { 0, 0, 1.6 }, animation = labelExtra,
                        mesh = labelPlane(name .. " label", text, "#FFFFFF", colour, 7) } },
    animation = append(append(extra or {}, pressTrack(pos, { 0, 0, -1.2 })), after or {}),
  }
end
object{ name = "okButton", clump = deskButton("_pick2_ok", { -60, 137, -38.5 }, "OK", "#2F7D45", { click(okSound) }) }


-- Hidden notes are parked here, far away.
object{ name = "_InvisiblePlace", clump = clump{ name = "_InvisiblePlace" } }

-- The pointer in the scene (the program hangs it under the camera).
object{ name = "_cursor", clump = clump{ name = "_cursor" } }

-- The clock hangs on the wall above the board.
include("clock.lua")

-- Camera ----------------------------------------------------------------------

-- "D_CamRote" tells the view. Its bit 0 is set by the program for the edit
-- and recycle views and also while a note is dragged; the views are the ones
-- that pulse pen 0 or the recycle button, so those latch bit 3 ("away") and
-- bit 0 falling clears it. Its object's time is the camera's state: it is
-- held at 2400 while the camera rests and runs from 2360 for the 40 frames
-- the camera takes to move after bit 3 changes.
local function jump(check, from, to, target)
  return node{ "Go to Frame", ["Check Flag"] = check, ["Check Valid Time"] = from ~= nil,
               ["Valid Start:"] = from or 0, ["Valid End:"] = to or 0, ["Absolute Go to"] = true, ["Go to:"] = target }
end
local camRote = clump{
  name = "D_CamRote",
  animation = {
    node{ "<s> Ref Other's Flag", ["Ref Other's Flag"] = { 1, 1 }, ["Set Flag"] = { 0x10, 0x10 }, Ref = pens[0] },
    node{ "<s> Ref Other's Flag", ["Ref Other's Flag"] = { 1, 1 }, ["Set Flag"] = { 0x20, 0x20 }, Ref = returnBtn },
    node{ "<ss> Flag Trigger", ["Check Flag"] = { 0x11, 0x11 }, ["Set Flag"] = { 8, 8 } },
    node{ "<ss> Flag Trigger", ["Check Flag"] = { 0x21, 0x21 }, ["Set Flag"] = { 8, 8 } },
    node{ "<ss> Flag Trigger", ["Check Flag"] = { 8, 8 }, ["Set Flag"] = { 0x40, 0x40 }, ["Hold 1 Frame"] = true },
    node{ "<ss> Flag Trigger", ["Check Flag"] = { 9, 8 }, ["Set Flag"] = { 0x40, 0x40 }, ["Hold 1 Frame"] = true },
    node{ "<ss> Flag Trigger", ["Check Flag"] = { 1, 0 }, ["Set Flag"] = { 8, 0 } },
    jump({ 0, 0 }, 0, 2369, 2400),
    jump({ 0, 0 }, 2400, nil, 2400),
    jump({ 0x40, 0x40 }, nil, nil, 2360), -- last: a new move wins over the holds
  },
}
object{ name = "D_CamRote", clump = camRote }

-- Back shows only in the recycle view: the recycle button's pulse latches
-- bit 3, "D_CamRote" bit 0 falling clears it. Its object's time shows it:
-- hidden from 1 to 99 (held at 50), shown from 100 (held at 200, and while
-- the press plays from 1000 to 1020).
local function shownFrom100() return track{ kind = "visibility", keys = { 1, 100 } } end
object{ name = "backButton", clump = deskButton("_pick1_pick3_CancelBtn", { -58, 119, -38.5 }, "<", "#56606A", {
  shownFrom100(),
  node{ "<s> Ref Other's Flag", ["Ref Other's Flag"] = { 1, 1 }, ["Set Flag"] = { 0x10, 0x10 }, Ref = returnBtn },
  node{ "<s> Ref Other's Flag", ["Ref Other's Flag"] = { 1, 0 }, ["Set Flag"] = { 0x20, 0x20 }, Ref = camRote },
  node{ "<ss> Flag Trigger", ["Check Flag"] = { 0x10, 0x10 }, ["Set Flag"] = { 8, 8 } },
  node{ "<ss> Flag Trigger", ["Check Flag"] = { 0x20, 0x20 }, ["Set Flag"] = { 8, 0 } },
}, { shownFrom100() }, {
  -- After the press: a hidden button stays hidden.
  jump({ 8, 0 }, nil, nil, 50),
  jump({ 8, 8 }, 0, 999, 200),
}) }

-- The camera follows "D_CamRote" bit 3 with its own time: held at 2400 on
-- the board, 2410-2440 down to the desk, held at 2440, 3000-3030 back up.
-- A pose is taken after the time has stepped on and before a hold sets it
-- back, so every held pose is flat for a while after its key.
local restEye, restAt = { 0, -95, 62 }, { 0, 256, 62 }
local awayEye, awayAt = { 0, 64, 150 }, { 0, 176, -40 }
local rest, away = look_at(restEye, restAt), look_at(awayEye, awayAt)
local camera = clump{
  name = "camera", position = restEye, rotation = rest,
  camera = { fov = 44, near = 10, far = 3000 },
  animation = {
    node{ "<s> Ref Other's Flag", ["Ref Other's Flag"] = { 8, 8 }, ["Set Flag"] = { 1, 1 }, Ref = camRote },
    track{ kind = "position", keys = { { 2410, restEye }, { 2440, awayEye }, { 3000, awayEye }, { 3030, restEye } } },
    track{ kind = "rotation", keys = { { 2410, rest }, { 2440, away }, { 3000, away }, { 3030, rest } } },
    jump({ 1, 0 }, 0, 2420, 2400),
    jump({ 1, 0 }, 2421, 2999, 3000),
    jump({ 1, 0 }, 3030, 0, 2400),
    jump({ 1, 1 }, 0, 2399, 2400),
    jump({ 1, 1 }, 2440, 2999, 2440),
    jump({ 1, 1 }, 3000, 0, 2400),
  },
}
object{ name = "viewer", clump = camera }

local sun = clump{
  name = "sun",
  light = { type = "directional", diffuse = { 0.75, 0.73, 0.68 }, direction = { 0.3, 0.8, -0.6 } },
}
local lamp = clump{
  name = "lamp", position = { -120, 40, 200 },
  light = { type = "point", diffuse = { 0.35, 0.33, 0.30 }, range = 1500, attenuation = { 1, 0, 0 } },
}
object{ name = "lights", clumps = { sun, lamp } }

stage{ camera = camera }
