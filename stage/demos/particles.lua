-- Particle demo: sparks under gravity, beams pulled towards a core, and a
-- column of smoke, each effect made by one node on its own clump. The
-- sparks' clump swings from side to side, so its particles trail along its
-- path.
--
-- A 3-D mouse pointer hangs 100 units in front of the camera. While the left
-- button is down it picks the clump under it (only names holding "_inpick"),
-- pulses flag 16 on itself and flag 2 on what it picked (the box latches it as flag 8), leaves a
-- marker where the ray hit, and drags the picked box in a plane facing the
-- camera, with flag 4 set on it while it is dragged.

stage{ name = "particles demo", frame_rate = 60, units_per_frame = 1, background = "#101820", ambient = "#606060" }

local spot = texture{ name = "spot", width = 32, height = 32,
                      gradient = { from = 0xFFFFFFFF, to = 0x00FFFFFF, direction = "radial" } }
local puff = texture{ name = "puff", width = 32, height = 32,
                      gradient = { from = 0xC0FFFFFF, to = 0x00FFFFFF, direction = "radial" } }
local grey = material{ name = "grey", diffuse = "#707880" }
local gold = material{ name = "gold", diffuse = "#E0B030", emissive = { 0.3, 0.2, 0 } }

-- Sparks: 120 a second from a swinging nozzle that points up.
object{
  name = "sparks", id = 1,
  clump = clump{
    name = "sparks", id = 10, position = { -150, 0, 0 }, rotation = rotation("x", 180),
    mesh = cone{ radius = 8, height = 16, material = grey },
    animation = {
      track{ kind = "position", after = "pingpong", keys = { { 0, -180, 0, 0 }, { 120, -120, 0, 0 } } },
      node{ "Particle: Simple", ["Particle Type"] = "Square", ["Texture (pick node)"] = spot,
            Transparency = "Additive", ["Color 1"] = "#FFFFC040", ["Size Min"] = 6, ["Size Max"] = 10,
            ["Life Time (sec)"] = 1.5, ["Init Speed Min"] = 150, ["Init Speed Max"] = 250,
            Gravity = -300, ["Total Particle #"] = 400, ["Emit Rate"] = 120,
            ["Emit Angle 1"] = 0, ["Emit Angle 2"] = 25 },
    },
  },
}

-- Beams: drawn towards the core at the centre, fading at the end of life.
local core = clump{ name = "core", id = 20, position = { 0, 0, 40 }, mesh = sphere{ radius = 10, material = gold } }
object{ name = "core", id = 2, clump = core }
object{
  name = "swarm", id = 3,
  clump = clump{
    name = "swarm", id = 30, position = { 0, 0, 100 },
    animation = {
      node{ "Particle: Attraction", ["Particle Type"] = "Beam", ["Texture (pick node)"] = spot,
            Transparency = "Additive", ["Head-Color"] = "#FF60C0FF", ["Tail-Color"] = "#004060FF",
            ["Size Min"] = 3, ["Size Max"] = 5, Length = 0.08, ["Life Time (sec)"] = 2,
            ["Init Speed Min"] = 80, ["Init Speed Max"] = 160, Attraction = 300,
            ["Attraction Target"] = core, Resistance = 0.5, ["Total Particle #"] = 200 },
    },
  },
}

-- Smoke: grey puffs rising and spreading, fading out as they grow.
object{
  name = "smoke", id = 4,
  clump = clump{
    name = "smoke", id = 40, position = { 150, 0, -20 }, rotation = rotation("x", 180),
    mesh = cylinder{ radius = 10, height = 10, material = grey },
    animation = {
      node{ "Particle: Smoke", ["Texture (pick node)"] = puff, Transparency = "Transparency",
            Color = "#C0A0A0A0", ["Final Color"] = "#00606060", ["Size Min"] = 15, ["Size Max"] = 20,
            ["Final Size Min"] = 60, ["Final Size Max"] = 90, ["Life Time (sec)"] = 3,
            ["Clr Fade-in (sec)"] = 0.3, ["Init Speed Min"] = 30, ["Init Speed Max"] = 50,
            ["Emit Angle Min"] = 0, ["Emit Angle Max"] = 15, ["Total Particle #"] = 60 },
    },
  },
}

-- The pickable box and what a pick leaves behind.
object{
  name = "crate", id = 5,
  clump = clump{
    name = "crate_inpick", id = 50, position = { 0, -200, 20 }, mesh = box{ size = 40, material = gold },
    animation = { node{ "<ss> Flag Trigger", ["Check Flag"] = { 2, 2 }, ["Set Flag"] = { 8, 8 } } },
  },
}
local marker = clump{ name = "marker", mesh = sphere{ radius = 3, material = grey },
                      emit_object = object{ name = "marker", id = 6, template = true } }

-- The pointer: flag 1 follows the left button; the cursor node picks,
-- marks and drags while it is set.
object{
  name = "pointer", id = 7,
  clump = clump{
    name = "pointer", id = 70, mesh = cone{ radius = 1.5, height = 4, material = gold },
    animation = {
      -- Its key choice list has no label: the block gives the left button (256), held.
      node{ "<s> Keyboard", block = { "iiiii", 100, 1, 1, 256, 0 } },
      node{ "Mouse Cursor", ["Front Camera"] = 100, ["Pick Enable"] = true, ["Check Flag to Pick"] = { 1, 1 },
            ["Include(sub-name)"] = "_inpick", ["Set Flag of Self"] = { 16, 16 }, ["Set Flag of Picked"] = { 2, 2 },
            ["Gen Obj at Pick"] = marker, ["Life Time"] = -1, ["Drag Enable (Obj)"] = true,
            ["Set Flag of Dragged"] = { 4, 4 } },
    },
  },
}

local ground = clump{ name = "ground", position = { 0, 0, -30 }, mesh = plane{ size = 600, material = grey } }
local camera = clump{
  name = "camera", id = 100, position = { 0, -450, 120 }, look_at = { 0, 0, 40 },
  camera = { fov = 45, near = 1, far = 3000 },
}
local sun = clump{ name = "sun", light = { type = "directional", direction = { -0.3, 0.6, -0.7 } } }
object{ name = "world", id = 9, clumps = { ground, camera, sun } }

stage{ camera = camera }
