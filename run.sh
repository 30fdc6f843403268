#!/usr/bin/env bash
# Builds the viewer (Release, in build/) and starts it from the repository root,
# so that the relative data/ paths resolve. Arguments go to GLUT.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh run
# Configured without the test tree, which needs packages that ./test.sh installs; only the
# viewer is built.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" --target face-viewer
if [ -z "${DISPLAY:-}" ]; then
    echo "face-viewer needs a display: DISPLAY is not set; without one, run (with the xvfb and xauth packages): xvfb-run -s '-screen 0 1024x768x24' ./run.sh" >&2
    exit 1
fi
exec build/face-viewer "$@"
