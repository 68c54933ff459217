#!/usr/bin/env bash
# The starter example on the demo character in the project's data: it loads the file, plays
# and blends both clips, poses and skins the mesh, prints bones and vertices that move, and
# ends with the leak check passing (exit 0). A file that is not there fails with status 1.
#   play_character_test.sh PLAY_CHARACTER DATA_DIR
set -u
example=$1
data=${ORVANE_DATA_DIR:-$2}
content=$data/orvane_demo.ovn
if [ ! -f "$content" ]; then
    echo "SKIPPED: data file absent: $content"
    exit 0
fi
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$example" "$content" >"$work/out" 2>"$work/err" || fail "exit status $? on the demo file"
cat "$work/out"
[ -s "$work/err" ] && { cat "$work/err"; fail "the library logged something"; }
grep -q '^model "[^"]*": 23 bones, 1 meshes$' "$work/out" || fail "no model line"
[ "$(grep -c '^playing "' "$work/out")" -eq 2 ] || fail "two clips are not playing"
[ "$(grep -c '^t = ' "$work/out")" -eq 3 ] || fail "not three frames"
[ "$(grep -c '^  vertex ' "$work/out")" -eq 6 ] || fail "not two vertices per frame"
# The pelvis moves and the skinned vertices follow it between the frames.
[ "$(grep '^  bone ' "$work/out" | sort -u | wc -l)" -gt 3 ] || fail "the bones do not move"
[ "$(grep '^  vertex 0 ' "$work/out" | sort -u | wc -l)" -gt 1 ] || fail "the vertices do not move"
if grep -qi 'nan\|inf' "$work/out"; then fail "a value is not finite"; fi

"$example" "$work/absent.ovn" >/dev/null 2>&1
[ $? -eq 1 ] || fail "a missing file does not exit 1"
"$example" >/dev/null 2>&1
[ $? -eq 1 ] || fail "no argument does not exit 1"

[ $failures -eq 0 ] && echo "play_character: every check passed"
exit $((failures > 0))
