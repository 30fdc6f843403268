# Imports glTF files with Blender's own importer and writes, beside each, what its animation
# plays: FILE.animation.json, {"fps": F, "keys": {NAME: [[frame, value], ...]}, "turn":
# [[frame, w, x, y, z], ...]}, each shape key's value and the turning object's rotation at
# every frame of its keys, evaluated as Blender plays them (not read from the file).
#   blender -b --factory-startup --python read_animation.py -- FILE...
import json
import sys

import numpy

numpy.bool = bool  # Blender 3.4's glTF importer still uses it; numpy 1.24 removed it
import bpy  # noqa: E402

for file in sys.argv[sys.argv.index("--") + 1:]:
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.ops.import_scene.gltf(filepath=file)
    scene = bpy.context.scene
    keys, turn, frames = {}, [], set()
    for o in scene.objects:
        shapes = o.data.shape_keys if o.type == "MESH" else None
        if shapes and shapes.animation_data and shapes.animation_data.action:
            for curve in shapes.animation_data.action.fcurves:
                frames.update(p.co[0] for p in curve.keyframe_points)
        if o.animation_data and o.animation_data.action:
            for curve in o.animation_data.action.fcurves:
                frames.update(p.co[0] for p in curve.keyframe_points)
    for frame in sorted(frames):
        whole = int(frame // 1)
        scene.frame_set(whole, subframe=frame - whole)
        for o in scene.objects:
            shapes = o.data.shape_keys if o.type == "MESH" else None
            if shapes and shapes.animation_data:
                for block in shapes.key_blocks[1:]:
                    keys.setdefault(o.name + "/" + block.name, []).append([frame, block.value])
            if o.animation_data and o.animation_data.action and o.rotation_mode == "QUATERNION":
                q = o.rotation_quaternion
                turn.append([frame, q.w, q.x, q.y, q.z])
    with open(file + ".animation.json", "w") as out:
        json.dump({"fps": scene.render.fps / scene.render.fps_base, "keys": keys, "turn": turn},
                  out)
