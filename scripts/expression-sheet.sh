#!/usr/bin/env bash
# A contact sheet of the default face's expression library (poses/*.txt, the ARKit
# expressions; poses/vrm/ is left out), each at weight 1 with the eyes on, as face-poser's own
# "p" shots, cropped to the face, scaled down and labelled with the pose's name; the face at
# rest comes first, labelled "rest". For docs/expressions.png:
#
# Usage: scripts/expression-sheet.sh [BUILD [OUTPUT]]     (default: build docs/expressions.png)
# Environment: SHEET_COLUMNS  tiles a row (default 8)
#              SHEET_WIDTH    a tile's width in pixels (default 200)
#              SHEET_SHOTS    a folder to keep the whole shots in, as NAME.png (default: none)
#
# Each shot is taken by a face-poser of its own, on a display of our own:
#   face-poser FOLDER --pose FOLDER/poses/NAME.txt, "e" (eyes on), "p" (FOLDER/shot-001.png),
#   "q".
# FOLDER is a scratch folder whose data/ and poses/ link to this checkout's, so the pose is the
# library's own (loaded as its mix at weight 1, as "]" loads it) and the shots are written
# there, never into the checkout. mouthClose, which closes the lips that jawOpen parts, is shown
# alone and once more mixed with jawOpen at 1. Needs Xvfb, xdotool and ImageMagick (convert,
# montage). Xvfb and face-poser are stopped (by process id) and the scratch folder removed
# however the script ends.
set -euo pipefail
export LC_ALL=C # the poses in the same order everywhere
build=$(realpath -m "${1:-build}")
out=$(realpath -m "${2:-docs/expressions.png}")
keep=${SHEET_SHOTS:+$(realpath -m "$SHEET_SHOTS")}
cd "$(dirname "$0")/.."
repo=$PWD
poser=$build/tools/face-poser
columns=${SHEET_COLUMNS:-8}
width=${SHEET_WIDTH:-200}
# The window is 640 × 640 and the default view shows the face in its middle: this box holds
# it from the hair to below the chin (jawOpen's chin included) and from cheek to cheek.
crop=300x400+170+128

for tool in Xvfb xdotool convert montage; do
    command -v "$tool" >/dev/null || { echo "expression-sheet.sh: $tool is missing" >&2; exit 1; }
done
if [ ! -x "$poser" ]; then
    cmake --build "$build" -j2 --target face-poser >/dev/null
fi
names=(rest)
for file in poses/*.txt; do
    name=${file#poses/}
    names+=("${name%.txt}")
    [ "$name" = mouthClose.txt ] && names+=(jawOpen+mouthClose)
done
[ "${#names[@]}" -gt 1 ] || { echo "expression-sheet.sh: no poses in $repo/poses" >&2; exit 1; }
mkdir -p "$(dirname "$out")"

scratch=$(mktemp -d)
xvfb_pid=""
poser_pid=""
stop() {
    local status=$?
    set +e
    if [ -n "$poser_pid" ]; then kill "$poser_pid" 2>/dev/null; wait "$poser_pid" 2>/dev/null; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
    rm -rf "$scratch"
    exit "$status"
}
trap 'stop' EXIT
trap 'exit 130' INT TERM

folder=$scratch/face
mkdir -p "$folder" "$scratch/shots" "$scratch/tiles"
ln -s "$repo/data" "$folder/data"
ln -s "$repo/poses" "$folder/poses"

# A display of our own: Xvfb picks a free number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp -noreset 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { echo "expression-sheet.sh: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$scratch/display")"
export DISPLAY

fail() { # message: says it with face-poser's output, and ends
    echo "expression-sheet.sh: $1; face-poser said:" >&2
    cat "$scratch/poser.log" >&2
    exit 1
}

# The keys that raise a library pose's weight in the mix to 1 and hide the mix's panel: "}"
# from the first pose to it, "0" ten times, "b".
mixKeys() {
    local index=0 file
    for file in poses/*.txt; do
        [ "$file" = "poses/$1.txt" ] && break
        index=$((index + 1))
    done
    printf 'braceright %.0s' $(seq "$index"); printf '0 %.0s' $(seq 10); printf 'b'
}

shoot() { # name → $scratch/shots/NAME.png
    local name=$1 pose=() keys=() window="" shot=""
    case $name in
        rest) ;;
        jawOpen+mouthClose) pose=(--pose "$folder/poses/jawOpen.txt"); read -ra keys <<<"$(mixKeys mouthClose)" ;;
        *) pose=(--pose "$folder/poses/$name.txt") ;;
    esac
    "$poser" "$folder" "${pose[@]}" >"$scratch/poser.log" 2>&1 &
    poser_pid=$!
    # The window appears once the face is loaded and bound.
    for _ in $(seq 600); do
        kill -0 "$poser_pid" 2>/dev/null || fail "face-poser ended before showing its window ($name)"
        window=$(xdotool search --onlyvisible --name '^face-poser' 2>/dev/null | head -n 1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "face-poser's window did not appear ($name)"
    sleep 0.5
    xdotool windowfocus --sync "$window"
    [ "${#keys[@]}" -eq 0 ] || xdotool key --delay 60 "${keys[@]}"
    xdotool key --delay 100 e p
    # "p" saves the next frame drawn and says where.
    for _ in $(seq 200); do
        shot=$(sed -n 's/^saved the window to //p' "$scratch/poser.log")
        [ -n "$shot" ] && break
        kill -0 "$poser_pid" 2>/dev/null || fail "face-poser ended before its shot ($name)"
        sleep 0.1
    done
    [ -n "$shot" ] || fail "face-poser saved no shot ($name)"
    xdotool key q
    for _ in $(seq 100); do kill -0 "$poser_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$poser_pid" 2>/dev/null && fail "face-poser did not quit on \"q\" ($name)"
    wait "$poser_pid" || fail "face-poser quit with status $? ($name)"
    poser_pid=""
    mv "$shot" "$scratch/shots/$name.png"
}

tiles=()
for name in "${names[@]}"; do
    shoot "$name"
    convert "$scratch/shots/$name.png" -crop "$crop" +repage -resize "${width}x" \
        "$scratch/tiles/$name.png"
    tiles+=(-label "$name" "$scratch/tiles/$name.png")
    echo "shot $name"
done

font=()
if convert -list font 2>/dev/null | grep 'Font: DejaVu-Sans$' >/dev/null; then font=(-font DejaVu-Sans); fi
# 8 bits a channel, as the shots have (the scaling works in 16), and no metadata.
montage "${tiles[@]}" -tile "${columns}x" -geometry +3+3 -background '#1e1e1e' -fill '#e0e0e0' \
    "${font[@]}" -pointsize 13 -depth 8 -strip "$out"
if [ -n "$keep" ]; then mkdir -p "$keep" && cp "$scratch"/shots/*.png "$keep"/; fi
echo "wrote $out ($(stat -c %s "$out") bytes, ${#names[@]} faces)"
