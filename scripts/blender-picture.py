# A picture of a glTF export as Blender shows it: the file imported, the named shape keys set
# to 1, rendered from the front (Blender's workbench, the pictures as textures) into OUT.png.
#   blender -b --factory-startup --python scripts/blender-picture.py -- FILE.glb OUT.png [KEY...]
# For docs/expressions-blender.png: the default face's export at rest, then with jawOpen,
# eyeLookUpLeft, eyeBlinkRight and mouthSmileLeft (two runs, put side by side).
import math
import sys

import numpy

numpy.bool = bool  # Blender 3.4's glTF importer still uses it; numpy 1.24 removed it
import bpy  # noqa: E402

args = sys.argv[sys.argv.index("--") + 1:]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.import_scene.gltf(filepath=args[0])
face = [o for o in bpy.data.objects if o.type == "MESH"][0]
for name in args[2:]:
    face.data.shape_keys.key_blocks[name].value = 1.0

scene = bpy.context.scene
camera = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
camera.location = (0.0, -40.0, 0.0)  # in front of the face, which faces glTF's +z: Blender's -y
camera.rotation_euler = (math.pi / 2, 0.0, 0.0)
scene.collection.objects.link(camera)
scene.camera = camera
sun = bpy.data.objects.new("sun", bpy.data.lights.new("sun", "SUN"))
sun.rotation_euler = (math.pi / 2.5, 0.0, 0.3)
scene.collection.objects.link(sun)
scene.render.engine = "BLENDER_WORKBENCH"
scene.display.shading.color_type = "TEXTURE"
scene.render.resolution_x = scene.render.resolution_y = 400
scene.render.filepath = args[1]
bpy.ops.render.render(write_still=True)
