#!/usr/bin/env bash
# Builds everything and runs every test. Installs missing Debian packages first.
#   build/          Release: viewer, tools, benchmarks (benchmarks are built, not run)
#   build/sanitize  clang with AddressSanitizer and UndefinedBehaviorSanitizer:
#                   unit tests, end-to-end tests under Xvfb, fuzz targets
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DFACE_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$jobs"

cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DFACE_SANITIZE=ON -DFACE_FUZZ=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build/sanitize -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build/sanitize
ctest --output-on-failure -j"$jobs" "$@"
