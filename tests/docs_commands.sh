#!/usr/bin/env bash
# Runs the commands of README.md and docs/*.md as a new user types them: every line of a
# ```bash block, in a fresh clone of this repository, each text's lines in order in one
# shell of its own (so a `cd` holds for the lines after it), each required to end with
# status 0. ```sh blocks are not run: they need a window, or take minutes.
#
# Usage: tests/docs_commands.sh BUILD     (BUILD: a Release tree of this checkout, e.g. build)
# The clone's build/ is a link to BUILD, so nothing is built twice; the clone holds the
# committed files, as a new user's does.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: tests/docs_commands.sh BUILD}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

git clone -q "$source_dir" "$work/clone" || { echo "docs_commands: cannot clone $source_dir" >&2; exit 1; }
ln -s "$build" "$work/clone/build"
cd "$work/clone"

texts=(README.md docs/*.md)
failed=0
for text in "${texts[@]}"; do
    awk '/^```bash$/ {inside = 1; next} /^```/ {inside = 0} inside' "$text" > "$work/commands"
    [ -s "$work/commands" ] || continue
    # One shell per text, started in the clone's root; each line is logged and judged.
    (
        while IFS= read -r line; do
            [ -z "$line" ] && continue
            if ! eval "$line" </dev/null >"$work/log" 2>&1; then
                echo "docs_commands: $text: failed: $line" >&2
                tail -n 5 "$work/log" >&2
                exit 1
            fi
        done < "$work/commands"
        echo "$text: $(grep -c . "$work/commands") commands"
    ) || failed=$((failed + 1))
    cd "$work/clone"
done
if [ "$failed" -ne 0 ]; then
    echo "docs_commands: $failed of ${#texts[@]} texts have a command that fails" >&2
    exit 1
fi
echo "docs_commands: every command of ${#texts[@]} texts ran"
