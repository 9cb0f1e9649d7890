-- Animated demo: keyframe tracks of every common kind and a fixed camera.
-- The keys are chosen so that positions are easy to predict: at 60 time
-- units per second, local time t (units) gives
--   mover:   (t, 0, 0) up to t = 60, then (60, t - 60, 0) up to t = 120,
--            then stays at (60, 60, 0);
--   spinner: turned about z by 1.5 * t degrees, repeating every 120 units;
--   pulser:  uniform scale 1 + t / 30 up to t = 60, then back down to 1 at
--            t = 120 and up again (ping-pong);
--   blinker: visible before t = 30, hidden from 30, visible again from 90;
--   floater: passes through (0, 0, 40) at t = 0, (0, 0, 80) at 60 and
--            (0, 0, 40) at 120 on a smooth (cubic) curve, then stays.

stage{ name = "animated demo", frame_rate = 60, units_per_frame = 1, background = "#202830", ambient = "#404040" }

local red = material{ name = "red", diffuse = "#D03030", specular = { 0.5, 0.5, 0.5 }, power = 30 }
local green = material{ name = "green", diffuse = "#30B040" }
local blue = material{ name = "blue", diffuse = "#3050D0" }
local gold = material{ name = "gold", diffuse = "#E0B030", emissive = { 0.1, 0.08, 0 } }
local grey = material{ name = "ground", diffuse = "#808080" }

local cube = box{ size = 20, material = red }

object{
  name = "mover", id = 1,
  clump = clump{
    name = "mover", id = 10, mesh = cube,
    animation = { track{ kind = "position", keys = { { 0, 0, 0, 0 }, { 60, 60, 0, 0 }, { 120, 60, 60, 0 } } } },
  },
}

object{
  name = "spinner", id = 2,
  clump = clump{
    name = "spinner", id = 20, position = { -100, 0, 0 }, mesh = box{ size = { 40, 10, 10 }, material = green },
    animation = {
      track{ kind = "rotation", after = "repeat",
             keys = { { 0, rotation("z", 0) }, { 60, rotation("z", 90) }, { 120, rotation("z", 180) } } },
    },
  },
}

object{
  name = "pulser", id = 3,
  clump = clump{
    name = "pulser", id = 30, position = { 100, 0, 0 }, mesh = sphere{ radius = 8, material = blue },
    animation = { track{ kind = "scale", after = "pingpong", keys = { { 0, 1 }, { 60, 3 } } } },
  },
}

object{
  name = "blinker", id = 4,
  clump = clump{
    name = "blinker", id = 40, position = { 0, 100, 0 }, mesh = cone{ radius = 10, height = 20, material = gold },
    animation = { track{ kind = "visibility", keys = { 30, 90 } } },
  },
}

object{
  name = "floater", id = 5,
  clump = clump{
    name = "floater", id = 50, mesh = rounded_box{ size = 12, radius = 3, material = gold },
    animation = {
      track{ kind = "position", interpolation = "cubic",
             keys = { { 0, 0, 0, 40 }, { 60, 0, 0, 80 }, { 120, 0, 0, 40 } } },
    },
  },
}

-- The sky darkens and comes back: a background-colour track on the ground.
local ground = clump{
  name = "ground", position = { 0, 0, -20 }, mesh = plane{ size = 400, material = grey },
  animation = {
    track{ kind = "background", after = "pingpong",
           keys = { { 0, 0.125, 0.157, 0.188 }, { 240, 0.02, 0.02, 0.05 } } },
  },
}

local camera = clump{
  name = "camera", id = 100, position = { 0, -400, 150 }, look_at = { 0, 0, 0 },
  camera = { fov = 45, near = 1, far = 2000 },
}
local sun = clump{ name = "sun", light = { type = "directional", direction = { -0.3, 0.6, -0.7 } } }
object{ name = "world", id = 9, clumps = { ground, camera, sun } }

stage{ camera = camera }
