#!/usr/bin/env bash
# Installs the Debian packages that are missing. Usage: scripts/deps.sh run|test|ci
#   run   what the Release build of the viewer and the tools needs (build/)
#   test  run, plus the test tree, the sanitizer build, benchmarks and the end-to-end tools,
#         and the Khronos glTF Validator (npm, into .tools/ of this checkout)
#   ci    test, plus what the fresh-machine check needs on the host
# As root it installs them; otherwise it prints the one apt-get line to run and fails.
set -euo pipefail

run_packages=(cmake make g++ pkg-config freeglut3-dev libglu1-mesa-dev libgl1-mesa-dev
              libjpeg62-turbo-dev libstb-dev libnanoflann-dev libosmesa6-dev
              libassimp-dev libmeshoptimizer-dev libeigen3-dev nlohmann-json3-dev
              libpugixml-dev libminizip-dev zlib1g-dev)
test_packages=(googletest libgtest-dev libbenchmark-dev clang clang-format libclang-rt-14-dev
               xvfb xauth xdotool imagemagick x11-utils assimp-testmodels assimp-utils
               blender python3-numpy nodejs)
ci_packages=(debootstrap git ca-certificates)

wanted=("${run_packages[@]}")
case "${1:-run}" in
    run) ;;
    test) wanted+=("${test_packages[@]}") ;;
    ci) wanted+=("${test_packages[@]}" "${ci_packages[@]}") ;;
    *) echo "usage: scripts/deps.sh run|test|ci" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
# npm: Debian's package, unless the installed nodejs brings its own.
if [ "${1:-run}" != run ] && ! command -v npm >/dev/null; then
    missing+=(npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages; run: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Khronos glTF Validator, which the tests run on every glTF file the tools write.
validator=2.0.0-dev.3.10
tools="$(cd "$(dirname "$0")/.." && pwd)/.tools"
if [ "${1:-run}" != run ] &&
   ! grep -qs "\"version\": \"$validator\"" "$tools/node_modules/gltf-validator/package.json"; then
    echo "installing: gltf-validator $validator (npm, into .tools/)"
    npm install --no-save --no-audit --no-fund --loglevel=error --prefix "$tools" \
        "gltf-validator@$validator" >/dev/null
fi
