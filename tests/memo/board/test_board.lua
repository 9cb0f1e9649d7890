-- A small memo board for tests: every object the board program looks up,
-- in one view. The camera looks along +Y; the board stands at y = 256.5,
-- the edit things float at y = 50.
stage{ name = "test board", frame_rate = 60, units_per_frame = 1, background = "#202020", ambient = "#FFFFFF" }

script{ source = [[
-- The camera of this board never turns: it rests at local time 2400.
CamRest = { OnTick = function(self, t) LoGotoFrame(CpGetOwner(self._Clump), 2400) end }
-- A pressed close button says so with bit 1.
Closer = { OnTick = function(self, t)
  local on = CpCheckSwitch(self._Clump, 1, 1)
  if on == 1 or on == true then CpSetSwitch(self._Clump, 2, 2) end
end }
]] }

local white = texture{ name = "white", width = 4, height = 4, solid = "#FFFFFFFF", format = "argb4444" }
local ink = texture{ name = "ink", width = 8, height = 8, solid = "#FF000000", format = "argb4444" }
local clear = texture{ name = "clear", width = 8, height = 8, solid = "#00000000", format = "argb4444" }
-- Notes, recycled notes and edit papers each have their own material (the
-- program sets the texture a material shows); equal materials are stored
-- once, so their colours differ.
local paperMat = material{ name = "paper", texture = white }
local editMat = material{ name = "edit paper", texture = white, diffuse = "#FEFEFE" }
local binMat = material{ name = "recycled paper", texture = white, diffuse = "#FDFDFD" }
local inkMat = material{ name = "ink", texture = ink }
local clearMat = material{ name = "clear", texture = clear }
local grey = material{ name = "grey", diffuse = "#808080" }
local board = material{ name = "board", diffuse = "#A07040" }

local face = euler(90, 0, 0)
local function panel(name, pos, size, mat, extra)
  local c = { name = name, position = pos, rotation = face, mesh = plane{ size = size, material = mat or grey } }
  for k, v in pairs(extra or {}) do c[k] = v end
  return clump(c)
end

object{ name = "_BkBoard", clump = panel("_BkBoard", { 0, 256.5, 0 }, { 240, 160 }, board) }
object{ name = "_0XBkBoard", clump = panel("_0XBkBoard", { 90, 256.4, -60 }, { 40, 30 }, grey) }
object{ name = "_1XBkBoard", clump = panel("_1XBkBoard", { -90, 256.4, -60 }, { 40, 30 }, grey) }

-- Kind 0 to 3: the board note and the recycle-view note.
for k = 0, 3 do
  local note = object{ name = "note" .. k, template = true }
  clump{ name = string.format("_noteRoot%02d", k), emit_object = note, children = {
    panel("_pick1_drag_paper", { 0, 0, 0 }, { 30, 30 }, paperMat, { children = { clump{ name = "kind" .. k } } }) } }
  local shown = object{ name = "recycled" .. k, template = true }
  clump{ name = string.format("_%02dnoteXRoot", k), emit_object = shown, children = {
    panel("_pick3_RreturnNote", { 40, 0, -30 }, { 10, 10 }, binMat) } }
  object{ name = "_editPaper" .. k, clump = panel(string.format("_editPaper%02d", k), { 0, 50, 0 }, { 40, 40 }, editMat) }
end

-- The pad makes a new paper of kind 0 when it is clicked.
local newPaper = object{ name = "_0newPaper", template = true }
local newPaperRoot = clump{ name = "newPaperRoot", emit_object = newPaper }
object{ name = "_pick1_noteBox", clump = panel("_pick1_noteBox", { 45, 50, 24 }, { 6, 6 }, grey, { animation = {
  node{ "Generator", ["Check Flag"] = { 1, 1 }, ["Check in Camera"] = false, ["Generated Object"] = newPaperRoot,
        ["Total #"] = 1000, ["Life Time:"] = 1, ["Align Orientation"] = false } } }) }

for k = 0, 3 do
  object{ name = "pen" .. k, clump = panel(string.format("_exp_pick2_pen%02d", k), { -45, 50, 24 - 12 * k }, { 6, 6 }, inkMat) }
end
object{ name = "rubber", clump = panel("_exp_pick2_rubber", { -45, 50, -24 }, { 6, 6 }, clearMat) }
object{ name = "ok", clump = panel("_pick2_ok", { 45, 50, -24 }, { 6, 6 }, grey) }
object{ name = "cancel", clump = panel("_pick1_pick3_CancelBtn", { 45, 50, 12 }, { 6, 6 }, grey) }
object{ name = "close", clump = panel("_pick1_CloseBtn", { 45, 50, 0 }, { 6, 6 }, grey, { animation = {
  node{ "Script", ["Check Flag"] = { 0, 0 }, Script = "Closer" } } }) }
-- The trash can throws the front note away when clicked; the recycle
-- button opens the recycle view.
local del = object{ name = "del_note", template = true }
local delRoot = clump{ name = "delRoot", emit_object = del }
-- Its marker is made in the same frame, before the "del_" object.
local fly = object{ name = "delfly_ball", template = true }
local flyRoot = clump{ name = "delflyRoot", emit_object = fly }
object{ name = "TrashCan", clump = panel("_pick1_TrashCan", { 45, 50, -12 }, { 6, 6 }, grey, { animation = {
  node{ "Generator", ["Check Flag"] = { 1, 1 }, ["Check in Camera"] = false, ["Generated Object"] = flyRoot,
        ["Total #"] = 1000, ["Life Time:"] = -1, ["Align Orientation"] = false },
  node{ "Generator", ["Check Flag"] = { 1, 1 }, ["Check in Camera"] = false, ["Generated Object"] = delRoot,
        ["Total #"] = 1000, ["Life Time:"] = 1, ["Align Orientation"] = false } } }) }
local bin = object{ name = "_pick3_recycleBk", template = true }
local binRoot = clump{ name = "_pick3_RecycleBinBk", emit_object = bin }
object{ name = "recycle", clump = panel("_pick1_ReturnBtn", { -45, 50, 30 }, { 6, 6 }, grey, { animation = {
  node{ "Generator", ["Check Flag"] = { 1, 1 }, ["Check in Camera"] = false, ["Generated Object"] = binRoot,
        ["Total #"] = 1000, ["Align Orientation"] = false } } }) }
object{ name = "_editUIRoot", clump = clump{ name = "_editUIRoot", position = { 0, 50, 0 } } }
object{ name = "clock", clump = clump{ name = "_clock", position = { 0, 250, 70 }, children = {
  clump{ name = "second_digit", mesh = box{ size = 2, material = grey } } } } }
object{ name = "_InvisiblePlace", clump = clump{ name = "_InvisiblePlace" } }
object{ name = "D_CamRote", clump = clump{ name = "D_CamRote", animation = {
  node{ "Script", ["Check Flag"] = { 0, 0 }, Script = "CamRest" } } } }

local camera = clump{ name = "camera", position = { 0, -100, 0 }, look_at = { 0, 256, 0 },
                      camera = { fov = 45, near = 1, far = 3000 } }
object{ name = "viewer", clump = camera }
object{ name = "_cursor", clump = clump{ name = "_cursor" } }
stage{ camera = camera }
