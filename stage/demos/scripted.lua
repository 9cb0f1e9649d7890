-- Scripted demo: clumps moved by Script nodes. At 60 time units per second
-- the object's local time t (seconds) = units / 60, and after N frames of
-- one unit the last tick saw t = (N - 1) / 60:
--   slider:   plain OnTick, at (speed * t, 0, 0) with speed = 60 from its
--             Init Value, so x = N - 1;
--   lifter:   OnTick asks for a second pass at T2PA_BEFORE_CULL (3); the
--             pass puts it at (0, 50, 100 * pass + 60 * t), so z = 300 + N - 1;
--   follower: OnTickHrchy only; it stands 40 above the slider once the
--             whole scene has moved, so (N - 1, 0, 40);
--   counter:  OnTick counts its calls in the instance field `count` (which
--             C++ reads and writes through FindScriptCtrl) and stands at
--             (-50, count, 0), so y = N.

stage{ name = "scripted demo", frame_rate = 60, units_per_frame = 1, background = "#182028", ambient = "#404040" }

script{ source = [[
Slider = { AffectFlag = ACF_POS,
  OnTick = function(self, t)
    CpSetPos(self._Clump, Vec(self.speed * t, 0, 0))
    return ACF_POS
  end }

Lifter = { AffectFlag = ACF_POS,
  OnTick = function(self, t) NeedTick2Pass(T2PA_BEFORE_CULL) end,
  OnTick2Pass = function(self, t, pass)
    CpSetPos(self._Clump, Vec(0, 50, 100 * pass + 60 * t))
    return ACF_POS
  end }

Follower = { AffectFlag = ACF_POS,
  OnTickHrchy = function(self, t)
    local slider = SnSearchClump(CpGetScene(self._Clump), "slider")
    if slider then
      CpSetPos(self._Clump, CpGetPos(slider) + VecZ(40))
      return ACF_POS
    end
  end }

Counter = { AffectFlag = ACF_POS,
  OnCreate = function(self) self.count = 0 end,
  OnTick = function(self, t)
    self.count = self.count + 1
    CpSetPos(self._Clump, Vec(-50, self.count, 0))
    return ACF_POS
  end }
]] }

local function scripted(name, id, table, init, mesh)
  object{
    name = name, id = id,
    clump = clump{
      name = name, id = id * 10, mesh = mesh,
      animation = { node{ "Script", ["Check Flag"] = { 0, 0 }, Script = table, ["Init Value"] = init } },
    },
  }
end

local red = material{ name = "red", diffuse = "#D03030" }
local green = material{ name = "green", diffuse = "#30B040" }
local blue = material{ name = "blue", diffuse = "#3050D0" }
local gold = material{ name = "gold", diffuse = "#E0B030" }

scripted("slider", 1, "Slider", "speed = 60", box{ size = 10, material = red })
scripted("lifter", 2, "Lifter", "", sphere{ radius = 6, material = green })
scripted("follower", 3, "Follower", "", cone{ radius = 5, height = 10, material = blue })
scripted("counter", 4, "Counter", "", box{ size = 6, material = gold })

local camera = clump{
  name = "camera", id = 100, position = { 0, -600, 200 }, look_at = { 60, 0, 100 },
  camera = { fov = 45, near = 1, far = 3000 },
}
local sun = clump{ name = "sun", light = { type = "directional", direction = { -0.3, 0.6, -0.7 } } }
object{ name = "world", id = 9, clumps = { camera, sun } }

stage{ camera = camera }
