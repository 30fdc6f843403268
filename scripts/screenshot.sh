#!/usr/bin/env bash
# Screenshots of the real viewer for README.md, taken on a virtual display of their own:
#   face-default.png     the default view, as the viewer starts
#   face-mouth-open.png  the eyes on ("e"), and the lower lip's middle control point
#                        (point 87) dragged down in deformation mode, so the mouth opens
#
# Usage: scripts/screenshot.sh [output folder]        (default: docs)
# Environment: FACE_VIEWER   viewer to run (default: build/face-viewer, built if missing)
#              FACE_OPEN     how far to pull the lower lip down, in model units (default 1.2)
# Runs from the repository root, so the viewer reads the data/ of this checkout. Needs Xvfb,
# xdotool and ImageMagick's import. Xvfb and the viewer are stopped (by process id) however
# the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
viewer=${FACE_VIEWER:-build/face-viewer}
pull=${FACE_OPEN:-1.2}
model=data/retarget.model
window=640 # the viewer's window is 640 × 640 at (0, 0)

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing" >&2; exit 1; }
done
if [ -z "${FACE_VIEWER:-}" ] && [ ! -x "$viewer" ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build -j2 --target face-viewer >/dev/null
fi
mkdir -p "$out"

scratch=$(mktemp -d)
xvfb_pid=""
viewer_pid=""
stop() {
    local status=$?
    set +e
    if [ -n "$viewer_pid" ]; then kill "$viewer_pid" 2>/dev/null; wait "$viewer_pid" 2>/dev/null; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
    rm -rf "$scratch"
    exit "$status"
}
trap 'stop' EXIT
trap 'exit 130' INT TERM

# A display of our own: Xvfb picks a free number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp -noreset 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$scratch/display")"

"$viewer" >"$scratch/viewer.log" 2>&1 &
viewer_pid=$!
# The window appears once the face is loaded and bound (within a minute).
for _ in $(seq 600); do
    if ! kill -0 "$viewer_pid" 2>/dev/null; then
        echo "screenshot.sh: the viewer ended before showing its window:" >&2
        cat "$scratch/viewer.log" >&2
        exit 1
    fi
    xdotool search --onlyvisible --name . >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool search --onlyvisible --name . >/dev/null 2>&1 ||
    { echo "screenshot.sh: the viewer's window did not appear" >&2; exit 1; }
sleep 1.5

shot() { # file
    sleep 0.8
    import -window root -crop "${window}x${window}+0+0" +repage "$1"
    echo "wrote $1"
}
key() { xdotool key --delay 100 "$1"; }

# Where a control point shows in the window: the default camera sits at (0, 0, 25) and
# looks down −z with a horizontal field of view of 70 degrees (the window is square).
# Control point i is line 2N + M + 4 + i of the model file (N, M: the render counts).
screen_position() { # index → "x y" in pixels
    awk -v index_="$1" -v half="$((window / 2))" '
        NR == 1 { n = $1 }
        NR == 2 * n + 2 { m = $1 }
        m != "" && NR == 2 * n + m + 4 + index_ {
            scale = half / (25 - $3) / 0.70020754 # tan(35°)
            printf "%d %d\n", half + $1 * scale, half - $2 * scale
            exit
        }' "$model"
}
pixels_per_unit() { # index → pixels per model unit at that point's depth
    awk -v index_="$1" -v half="$((window / 2))" '
        NR == 1 { n = $1 } NR == 2 * n + 2 { m = $1 }
        m != "" && NR == 2 * n + m + 4 + index_ { print half / (25 - $3) / 0.70020754; exit }' "$model"
}

shot "$out/face-default.png"

# Eyes on; deformation mode; a right-button drag from point 87 straight down; deformation
# mode off again, so that the control-point dots do not show.
key e
key space
read -r x y < <(screen_position 87)
drop=$(awk -v p="$pull" -v s="$(pixels_per_unit 87)" 'BEGIN { printf "%d", p * s + 0.5 }')
xdotool mousemove "$x" "$((y + 1))" mousedown 3
for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove "$x" "$((y + 1 + drop * step / 8))"
    sleep 0.1
done
xdotool mouseup 3
key space
shot "$out/face-mouth-open.png"
