# Opens each scene file in Blender, as a user would, and writes what Blender read from it as
# JSON beside it (FILE.blender.json): per mesh object, its name, its vertices' positions in
# the object's space, and its shape keys with their names and positions.
#   blender -b --factory-startup --python read_scenes.py -- FILE...
import json
import sys

import numpy

numpy.bool = bool  # Blender 3.4's glTF importer still uses it; numpy 1.24 removed it
import bpy  # noqa: E402

IMPORTERS = {
    ".glb": lambda f: bpy.ops.import_scene.gltf(filepath=f),
    ".gltf": lambda f: bpy.ops.import_scene.gltf(filepath=f),
    ".dae": lambda f: bpy.ops.wm.collada_import(filepath=f),
    ".obj": lambda f: bpy.ops.wm.obj_import(filepath=f),
    ".ply": lambda f: bpy.ops.import_mesh.ply(filepath=f),
    ".stl": lambda f: bpy.ops.import_mesh.stl(filepath=f),
    ".fbx": lambda f: bpy.ops.import_scene.fbx(filepath=f),
}


def flat(points):
    out = []
    for p in points:
        out.extend((p.co.x, p.co.y, p.co.z))
    return out


for file in sys.argv[sys.argv.index("--") + 1:]:
    bpy.ops.wm.read_factory_settings(use_empty=True)
    result = {"file": file, "objects": [], "error": ""}
    try:
        extension = file[file.rfind("."):].lower()
        IMPORTERS[extension](file)
    except Exception as e:  # what Blender refuses goes to the test as it is
        result["error"] = str(e).replace("\n", " ")
    for ob in sorted(bpy.data.objects, key=lambda o: o.name):
        if ob.type != "MESH":
            continue
        mesh = ob.data
        keys = []
        if mesh.shape_keys:
            for block in mesh.shape_keys.key_blocks[1:]:
                keys.append({"name": block.name, "positions": flat(block.data)})
        result["objects"].append({"name": ob.name, "positions": flat(mesh.vertices),
                                  "keys": keys})
    with open(file + ".blender.json", "w") as out:
        json.dump(result, out)
