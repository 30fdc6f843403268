#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds on a copy of its seed corpus.
#   tests/fuzz/run.sh BUILD_DIR TARGET SECONDS [libFuzzer options...]
# BUILD_DIR is the clang tree built with FACE_FUZZ=ON (build/sanitize). The working corpus,
# new inputs and any crash files go to BUILD_DIR/tests/fuzz/work/TARGET/; the repository's
# corpus is only read.
set -euo pipefail
build=$1 target=$2 seconds=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
work=$build/tests/fuzz/work/$target
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$here/corpus/$target"/* "$work/corpus/"
exec "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$@" "$work/corpus"
