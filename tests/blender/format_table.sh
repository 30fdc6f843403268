#!/usr/bin/env bash
# The per-format comparison: Blender's monkey head written by Blender in each format,
# imported by face-import, exported at rest and with two named poses by face-inspect, and
# every file opened in Blender: its vertex count, the largest rest difference against the
# source, the shape keys.
#   tests/blender/format_table.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
blender -b --factory-startup --python "$here/make_monkey.py" -- "$work" >/dev/null 2>&1
files=()
for ext in gltf glb dae obj ply stl fbx; do
    folder=$work/$ext
    rm -rf "$folder"
    "$build/tools/face-import" "$work/monkey.$ext" --out "$folder" >/dev/null
    mkdir -p "$folder/poses"
    echo "120 0 -1.5 0.25" >"$folder/poses/smile.txt"
    printf '80 0.5 1 0\n48 0 0.75 -0.5\n' >"$folder/poses/brow-up.txt"
    rest=$ext shapes=$ext
    case $ext in fbx) rest=glb shapes=glb ;; obj | ply | stl) shapes=glb ;; esac
    "$build/tools/face-inspect" --export-scene "$folder/rest.$rest" "$folder/data/retarget.model"
    "$build/tools/face-inspect" --export-scene "$folder/shapes.$shapes" \
        --shapes "$folder/poses/smile.txt" "$folder/poses/brow-up.txt" "$folder/data/retarget.model"
    files+=("$work/monkey.$ext" "$folder/rest.$rest" "$folder/shapes.$shapes")
done
blender -b --factory-startup --python "$here/read_scenes.py" -- "${files[@]}" >/dev/null 2>&1
python3 "$here/format_table.py" "${files[@]}"
