# Writes Blender's monkey head, subdivided twice and smooth (its UV map kept), in every format that
# Blender writes and face-import reads: the sources of the per-format comparison.
#   blender -b --factory-startup --python make_monkey.py -- OUTDIR
import sys

import numpy

numpy.bool = bool  # Blender 3.4's glTF exporter still uses it; numpy 1.24 removed it
import bpy  # noqa: E402

out = sys.argv[sys.argv.index("--") + 1]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.mesh.primitive_monkey_add()
monkey = bpy.context.active_object
bpy.ops.object.shade_smooth()
modifier = monkey.modifiers.new("subdivide", "SUBSURF")
modifier.levels = 2
bpy.ops.object.modifier_apply(modifier=modifier.name)
bpy.ops.export_scene.gltf(filepath=out + "/monkey.gltf", export_format="GLTF_SEPARATE")
bpy.ops.export_scene.gltf(filepath=out + "/monkey.glb", export_format="GLB")
bpy.ops.wm.collada_export(filepath=out + "/monkey.dae")
bpy.ops.wm.obj_export(filepath=out + "/monkey.obj")
bpy.ops.export_mesh.ply(filepath=out + "/monkey.ply")
bpy.ops.export_mesh.stl(filepath=out + "/monkey.stl")
bpy.ops.export_scene.fbx(filepath=out + "/monkey.fbx")
