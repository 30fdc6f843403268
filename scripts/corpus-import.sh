#!/usr/bin/env bash
# corpus-import.sh BUILD OUT [OPTION...]: every file of Debian's assimp-testmodels through
# face-import with its defaults and the options given (such as --expressions), one line per
# file in OUT:
#   FILE<TAB>imported<TAB>POINTS<TAB>ATTACHED %<TAB>AMPLIFICATION 0.1<TAB>AMPLIFICATION 1<TAB>WARNED<TAB>SECONDS
#   FILE<TAB>refused<TAB>the one line
#   FILE<TAB>FAULT<TAB>what went wrong (a crash, a hang, a refusal of more than one line, a
#   non-finite sub-patch, or figures beyond the aims with no warning saying so)
# then the counts. WARNED is "warned" where face-import named parts thrown beyond the aims.
set -uo pipefail
build=$1 out=$2
shift 2
options=("$@")
models=/usr/share/assimp/models
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: > "$out"
find "$models" -type f | sort | while IFS= read -r f; do
    name=${f#"$models"/}
    start=$(date +%s.%N)
    prlimit --as=4294967296 timeout 120 "$build/tools/face-import" "$f" "${options[@]}" --out "$tmp/o" \
        > "$tmp/out" 2> "$tmp/err"
    status=$?
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    if [ $status -eq 1 ] && [ "$(grep -c . "$tmp/err")" -eq 1 ]; then
        printf '%s\trefused\t%s\n' "$name" "$(head -c 200 "$tmp/err" | head -1)" >> "$out"
    elif [ $status -ne 0 ]; then
        printf '%s\tFAULT\tstatus %d: %s\n' "$name" $status "$(head -c 200 "$tmp/err" | head -1)" >> "$out"
    elif ! grep -q '^non-finite sub-patches: 0$' "$tmp/out"; then
        printf '%s\tFAULT\tnon-finite sub-patches\n' "$name" >> "$out"
    else
        points=$(sed -n 's/^control points (K): //p' "$tmp/out")
        attached=$(sed -n 's/^attached: [0-9]* (\(.*\)%)$/\1/p' "$tmp/out")
        small=$(sed -n 's/^amplification (moves of 0.1): largest \([^ ]*\) .*/\1/p' "$tmp/out")
        unit=$(sed -n 's/^amplification (moves of 1): largest \([^ ]*\) .*/\1/p' "$tmp/out")
        warned=$(grep -q 'thrown beyond the aims' "$tmp/err" && echo warned || echo -)
        beyond=$(echo "${small:-0} > 1.5 || ${unit:-0} > 2" | bc)
        if [ "$beyond" = 1 ] && [ "$warned" = - ]; then
            printf '%s\tFAULT\tbeyond the aims (%s, %s) with no warning\n' "$name" "$small" "$unit" >> "$out"
        else
            printf '%s\timported\t%s\t%s\t%s\t%s\t%s\t%.1f\n' "$name" "$points" "$attached" \
                "$small" "$unit" "$warned" "$seconds" >> "$out"
        fi
    fi
    rm -rf "$tmp/o"
done
cut -f2 "$out" | sort | uniq -c
awk -F'\t' '$2 == "imported" { n++; if ($5 <= 1.5) s++; if ($6 <= 2) u++; if ($5 <= 1.5 && $6 <= 2) both++;
  if ($4 >= 98) a++; t = $8 > t ? $8 : t }
  END { printf "imported %d: within 1.5 for moves of 0.1 %d, within 2 for moves of 1 %d, both %d; attached 98%% or more %d; slowest %.1f s\n", n, s, u, both, a, t }' "$out"
