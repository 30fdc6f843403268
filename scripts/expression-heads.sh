#!/usr/bin/env bash
# expression-heads.sh BUILD: face-import --expressions on every head with hand-placed landmarks
# in tests/landmarks/, one markdown table. Each head is imported three times, each timed (wall
# time): plainly, with --expressions --landmarks (its hand-placed file), and with --expressions
# alone (the face found on the mesh). A row for each of the two --expressions runs gives, from
# face-import's report: where the landmarks came from (for found ones, the agreement and the
# worst distance of a found landmark from the hand-placed one, in % of the head's height:
# twice the hand-placed chin's distance from the eye corners' middle), the fit's median and 95th percentile distance and its worst landmark
# residual (% of the head's height), the share of the face region attached, the largest
# amplification for moves of 0.1 and of 1, the blinks' lid gaps, jawOpen's drop, mouthClose's
# lip gap, the smiles' other corner, the mirror's worst departure, the poses that keep every
# aim, and the times. "(missed)" marks a pose whose line says it misses an aim.
#
# The mesh of tests/landmarks/NAME.txt and its import options come from the file's first
# comment line: its first word that names a file (absolute, under assimp-testmodels'
# /usr/share/assimp/models, or under HEADS, default /work/shared/heads), and "mesh N" there
# for --mesh N.
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")/.." && pwd)
models=/usr/share/assimp/models
heads=${HEADS:-/work/shared/heads}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
TIMEFORMAT=%1R

# The mesh and options of a landmark file: prints "PATH OPTIONS..." or nothing.
meshOf() {
    local line word path=""
    line=$(grep -m1 '^#' "$1")
    for word in $line; do
        word=${word%%[:,;)]*}
        word=${word#(}
        case "$word" in *.*) ;; *) continue ;; esac
        for candidate in "$word" "$models/$word" "$heads/$word"; do
            case "$candidate" in /*) ;; *) continue ;; esac
            if [[ -f $candidate ]]; then path=$candidate; break 2; fi
        done
    done
    [[ -n $path ]] || return
    local options=""
    if [[ $line =~ [[:space:]]mesh[[:space:]]+([0-9,]+|all)([^0-9,]|$) ]]; then
        options="--mesh ${BASH_REMATCH[1]}"
    fi
    echo "$path $options"
}

# Runs face-import with the arguments, its output in $tmp/out and $tmp/err; prints
# "STATUS SECONDS" (wall time).
run() {
    local status
    { time "$build/tools/face-import" "$@" > "$tmp/out" 2> "$tmp/err"; } 2> "$tmp/time"
    status=$?
    echo "$status $(cat "$tmp/time")"
}

# The worst distance of the found landmarks (FOUND) from the hand-placed ones (HAND), in % of
# the head's height: twice the hand-placed chin's distance from the eye corners' middle.
offHand() {
    awk '
        /^#/ || NF != 4 { next }
        FNR == NR { hx[$1] = $2; hy[$1] = $3; hz[$1] = $4; next }
        { fx[$1] = $2; fy[$1] = $3; fz[$1] = $4 }
        END {
            n = split("eye_left_outer eye_left_inner eye_right_outer eye_right_inner", eyes, " ")
            for (i = 1; i <= n; ++i) { ex += hx[eyes[i]] / n; ey += hy[eyes[i]] / n; ez += hz[eyes[i]] / n }
            size = 2 * sqrt((hx["chin"] - ex)^2 + (hy["chin"] - ey)^2 + (hz["chin"] - ez)^2)
            for (k in fx) if (k in hx) {
                d = sqrt((fx[k] - hx[k])^2 + (fy[k] - hy[k])^2 + (fz[k] - hz[k])^2)
                if (d > worst) worst = d
            }
            printf "%.0f", 100 * worst / size
        }' "$1" "$2"
}

# A cell from the report line of a key pose: its figure and "(missed)" where the line says so.
missed() { grep -q "^  $1: .*, missed$" "$tmp/out" && echo " (missed)"; }

row() { # NAME-CELL LANDMARK-CELL PLAIN-SECONDS STATUS SECONDS
    local s=$tmp/out
    if [[ $4 -ne 0 ]]; then
        echo "| $1 | $2 | | | | | | | | | | | | $5 / $3 s |"
        return
    fi
    local fit worst region amplification blinkLeft blinkRight jaw close smiles mirror kept
    fit=$(sed -n 's/^fit: .* the face lies \([^ ]*\) % (median) and \([^ ]*\) % (95th percentile).*/\1 \/ \2/p' "$s")
    worst=$(sed -n 's/^fit: .*, the farthest \([^ ]*\) % of the head.s height off (\([^)]*\)).*/\1 % (\2)/p' "$s")
    region=$(sed -n 's/^face region: \([0-9]*\) render vertices.*, \([^ ]*\) % attached$/\2 % of \1/p' "$s")
    amplification="$(sed -n 's/^amplification (moves of 0.1): largest \([^ ]*\) .*/\1/p' "$s") / $(sed -n 's/^amplification (moves of 1): largest \([^ ]*\) .*/\1/p' "$s")"
    blink() {
        local line
        line=$(grep "^  $1: " "$s")
        if [[ $line == *"closed at rest"* ]]; then
            echo "closed at rest, lids pass by $(sed -n 's/.*pass each other by \([^ ]*\) %.*/\1/p' <<< "$line") %$(missed "$1")"
        else
            echo "$(sed -n 's/.*lid gap \([^ ]*\) % of rest.*/\1/p' <<< "$line") %$(missed "$1")"
        fi
    }
    blinkLeft=$(blink eyeBlinkLeft)
    blinkRight=$(blink eyeBlinkRight)
    jaw="$(sed -n 's/^  jawOpen: the lower lip.s middle drops \([^ ]*\) %.*/\1/p' "$s") %$(missed jawOpen)"
    if grep -q '^  mouthClose: jawOpen does not part' "$s"; then
        close="no gap to close$(missed mouthClose)"
    else
        close="$(sed -n 's/^  mouthClose: with jawOpen at 1, the lip gap is \([^ ]*\) %.*/\1/p' "$s") %$(missed mouthClose)"
    fi
    smile() { echo "$(sed -n "s/^  $1: its corner moves .*; the other \([^ ]*\) % of it.*/\1/p" "$s") %$(missed "$1")"; }
    smiles="$(smile mouthSmileLeft) / $(smile mouthSmileRight)"
    mirror=$(sed -n "s/^  mirror: the Right poses within \([^ ]*\) % of their Left.s mirror image (\([^)]*\))/\1 % (\2)/p" "$s")
    kept=$(sed -n 's/^expressions: \([0-9]*\) carried to the fitted control mesh, \([0-9]*\) keep every aim$/\2 of \1/p' "$s")
    echo "| $1 | $2 | $fit | $worst | $region | $amplification | $blinkLeft | $blinkRight | $jaw | $close | $smiles | $mirror | $kept | $5 / $3 s |"
}

echo "| head | landmarks | fit median / 95th (% of height) | worst landmark residual | face region attached | amplification 0.1 / 1 | eyeBlinkLeft gap | eyeBlinkRight gap | jawOpen drop | mouthClose | smiles (other corner %) | mirror (worst) | poses keeping every aim | time --expressions / plain |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for file in "$here"/tests/landmarks/*.txt; do
    name=$(basename "$file" .txt)
    mesh=$(meshOf "$file")
    if [[ -z $mesh ]]; then
        echo "| $name | no mesh named on the file's first line | | | | | | | | | | | | |"
        continue
    fi
    read -r path options <<< "$mesh"
    label=${path#"$models"/}
    label=${label#"$heads"/}
    label="\`$label${options:+ $options}\`"
    # shellcheck disable=SC2086
    read -r status plain <<< "$(run "$path" $options --out "$tmp/plain")"
    [[ $status -eq 0 ]] || plain="$plain (status $status)"
    rm -rf "$tmp/plain"
    # shellcheck disable=SC2086
    read -r status seconds <<< "$(run "$path" $options --expressions --landmarks "$file" --out "$tmp/hand")"
    row "$label" "hand" "$plain" "$status" "$seconds"
    rm -rf "$tmp/hand"
    # shellcheck disable=SC2086
    read -r status seconds <<< "$(run "$path" $options --expressions --out "$tmp/found")"
    if [[ $status -eq 0 ]]; then
        agreement=$(sed -n 's/^landmarks: found on the mesh, agreeing \([^ ]*\) with.*/\1/p' "$tmp/out")
        cell="found, $agreement; $(offHand "$file" "$tmp/found/landmarks.txt") % off"
    else
        agreement=$(sed -n 's/.*no face found: the best match of a face.s depth agrees \([^ ,]*\),.*/\1/p' "$tmp/err")
        cell="none found (${agreement:-status $status})"
    fi
    row "$label" "$cell" "$plain" "$status" "$seconds"
    rm -rf "$tmp/found"
done
