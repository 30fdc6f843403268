#!/usr/bin/env bash
# import-heads.sh BUILD: face-import's figures on the heads of docs/face-import.md, one table row
# each: control points, attached share, distance to the surface (median, 99th percentile,
# largest), tangent coordinates (99th percentile, largest), the largest amplification for
# moves of 0.1 and of 1 (over every render vertex and control point, as the summary gives
# them), and the parts warned of as thrown beyond the aims. With Blender installed, the
# monkey head of tests/blender/make_monkey.py in four of its exports too.
set -uo pipefail
build=$1
models=/usr/share/assimp/models
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
heads=(
    "IQM/mrfixit.iqm --mesh 1 --front x"
    "BLEND/Suzanne_248.blend"
    "BLEND/SuzanneSubdiv_252.blend"
    "OBJ/WusonOBJ.obj"
    "PLY/Wuson.ply"
    "X/Testwuson.X"
    "B3D/WusonBlitz.b3d"
    "Collada/duck.dae"
    "Collada/human.zae"
    "MD2/sydney.md2"
    "MD2/faerie.md2"
    "COB/dwarf.cob"
    "Ogre/TheThing/Mesh.mesh.xml"
    "OBJ/spider.obj --mesh all"
)
if command -v blender > /dev/null; then
    blender -b --factory-startup --python "$(dirname "$0")/../tests/blender/make_monkey.py" -- \
        "$tmp" > /dev/null 2>&1
    for format in glb fbx dae obj; do heads+=("$tmp/monkey.$format"); done
fi
echo "| mesh | points | attached | distance | tangent | 0.1 | 1 | parts thrown |"
echo "|---|---|---|---|---|---|---|---|"
for head in "${heads[@]}"; do
    read -r file options <<< "$head"
    case "$file" in /*) path=$file; name=${file#"$tmp"/} ;; *) path=$models/$file; name=$file ;; esac
    # shellcheck disable=SC2086
    "$build/tools/face-import" "$path" $options --out "$tmp/o" > "$tmp/out" 2> "$tmp/err"
    s=$tmp/out
    points=$(sed -n 's/^control points (K): //p' "$s")
    attached=$(sed -n 's/^attached: [0-9]* (\(.*\))$/\1/p' "$s" | sed 's/%/ %/')
    distance=$(sed -n 's/^distance to the surface: median \(.*\), 99th percentile \(.*\), largest \(.*\)$/\1, \2, \3/p' "$s")
    tangent=$(sed -n 's/^tangent coordinates: 99th percentile \(.*\), largest \(.*\)$/\1, \2/p' "$s")
    small=$(sed -n 's/^amplification (moves of 0.1): largest \([^ ]*\) .*/\1/p' "$s")
    unit=$(sed -n 's/^amplification (moves of 1): largest \([^ ]*\) .*/\1/p' "$s")
    thrown=$(grep -c 'thrown beyond the aims' "$tmp/err")
    echo "| \`$name${options:+ $options}\` | $points | $attached | $distance | $tangent | $small | $unit | $thrown |"
    rm -rf "$tmp/o"
done
