#!/usr/bin/env bash
# corpus-axes.sh IMPORT OUT: the up and front axes face-import takes for every file of Debian's
# assimp-testmodels, one line per file ("FILE<TAB>axes: ..." or "FILE<TAB>refused: ..."),
# then the count of each reason. A mesh too small for an automatic control mesh is imported
# again with a stand-in control mesh (a sphere of 92 points), so that its axes are seen too.
set -uo pipefail
import=$1 out=$2
models=/usr/share/assimp/models
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The stand-in control mesh: a sphere of 9 rings of 10 points and the two poles.
awk 'BEGIN { pi = 3.14159265358979; print "v 0 1 0";
  for (r = 1; r <= 9; ++r) for (s = 0; s < 10; ++s)
    printf "v %.6f %.6f %.6f\n", sin(pi*r/10)*cos(2*pi*s/10), cos(pi*r/10), sin(pi*r/10)*sin(2*pi*s/10);
  print "v 0 -1 0";
  for (s = 0; s < 10; ++s) printf "f 1 %d %d\n", 2 + (s+1)%10, 2 + s;
  for (r = 0; r < 8; ++r) for (s = 0; s < 10; ++s) {
    a = 2 + 10*r + s; b = 2 + 10*r + (s+1)%10; c = a + 10; d = b + 10;
    printf "f %d %d %d\nf %d %d %d\n", a, b, d, a, d, c }
  for (s = 0; s < 10; ++s) printf "f 92 %d %d\n", 82 + s, 82 + (s+1)%10 }' > "$tmp/sphere.obj"
: > "$out"
find "$models" -type f | sort | while IFS= read -r f; do
    name=${f#"$models"/}
    prlimit --as=4294967296 timeout 120 "$import" "$f" --out "$tmp/o" > "$tmp/out" 2> "$tmp/err"
    if grep -q 'control points needed' "$tmp/err"; then
        prlimit --as=4294967296 timeout 120 "$import" "$f" --cage "$tmp/sphere.obj" \
            --out "$tmp/o" > "$tmp/out" 2> "$tmp/err"
    fi
    line=$(grep -m1 '^axes: ' "$tmp/out")
    if [ -n "$line" ]; then
        printf '%s\t%s\n' "$name" "$line" >> "$out"
    else
        printf '%s\trefused: %s\n' "$name" "$(head -c 160 "$tmp/err" | head -1)" >> "$out"
    fi
    rm -rf "$tmp/o"
done
# The count of each reason (the axes and the text after them; refusals counted as one).
cut -f2 "$out" | sed 's/^refused: .*/refused/' | sort | uniq -c | sort -rn
