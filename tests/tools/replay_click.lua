-- Two boxes; a left click picks the clump under the pointer and sets its
-- switch bit 1. The camera looks straight at "right_box".
stage{ name = "replay click", frame_rate = 60, units_per_frame = 1, background = "#202020", ambient = "#808080" }

script{ source = [[
Clicker = {
  OnTick = function(self, t)
    if IsMouseKeyClickDown("L") == 1 then
      local x, y = GetMousePos()
      local hit = ItscFilmCoordScene(x, y, CpGetScene(self._Clump), nil, nil, -1, nil)
      if hit then CpSetSwitch(hit, 2, 2) end
    end
  end }
]] }

local grey = material{ name = "grey", diffuse = "#A0A0A0" }
object{ name = "boxes", id = 1, clumps = {
  clump{ name = "left_box", id = 10, position = { -60, 0, 0 }, mesh = box{ size = 30, material = grey } },
  clump{ name = "right_box", id = 11, position = { 60, 0, 0 }, mesh = box{ size = 30, material = grey } },
} }
object{ name = "clicker", id = 2, clump = clump{
  name = "clicker", id = 20, position = { 0, 0, -500 }, mesh = box{ size = 1, material = grey },
  animation = { node{ "Script", ["Check Flag"] = { 0, 0 }, Script = "Clicker" } },
} }

local camera = clump{ name = "camera", id = 100, position = { 60, -400, 0 }, look_at = { 60, 0, 0 },
                      camera = { fov = 45, near = 1, far = 3000 } }
object{ name = "viewer", id = 9, clump = camera }
stage{ camera = camera }
