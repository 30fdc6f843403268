#!/usr/bin/env bash
# Builds everything and runs every test. Installs missing Debian packages first.
#   the code's shape: clang-format --dry-run over every C++ file
#   build/          Release: viewer, tools, benchmarks (built, not run), and the unit tests
#                   once more as users' builds compile them (optimised, no sanitizer; the
#                   address-space tests run only here); then the commands of README.md and
#                   docs/ in a fresh clone
#   build/tsan      clang with ThreadSanitizer, asserts on: the tests of the workers
#   build/sanitize  clang with AddressSanitizer and UndefinedBehaviorSanitizer, asserts on:
#                   unit tests, end-to-end tests under Xvfb, fuzz targets
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
jobs=$(nproc)

# Every C++ file of ours in .clang-format's shape.
echo "the code's shape (clang-format)"
find app draw face geometry io tools tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run --Werror

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DFACE_BENCH=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build -j"$jobs"

cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DFACE_SANITIZE=ON -DFACE_FUZZ=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build/sanitize -j"$jobs"

# Release: the unit tests (the programs' end-to-end runs are the sanitizer tree's).
echo "unit tests in the Release build"
build/tests/face-tests --gtest_brief=1 --gtest_filter='-EndToEnd*'

# The commands of README.md and docs/, as a new user types them, in a fresh clone.
echo "the commands of README.md and docs/"
tests/docs_commands.sh build

# ThreadSanitizer: the tests of the workers and of what runs on them (face-thread-tests).
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DFACE_TSAN=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build/tsan -j"$jobs" --target face-thread-tests
echo "the workers' tests under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/face-thread-tests --gtest_brief=1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build/sanitize
ctest --output-on-failure -j"$jobs" "$@"
