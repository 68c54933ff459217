#!/usr/bin/env bash
# Runs the orvane tool's commands end to end on files it wrote itself.
# usage: tool_test.sh path/to/orvane
set -u
tool=${1:?usage: tool_test.sh path/to/orvane}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

check() {  # check DESCRIPTION EXPECTED-STATUS COMMAND...
    local what=$1 expected=$2
    shift 2
    "$@" >"$work/out" 2>"$work/err"
    local status=$?
    if [ "$status" -eq "$expected" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $what (status $status, expected $expected)"
        cat "$work/out" "$work/err"
    fi
}

lacks() {  # lacks DESCRIPTION FILE TEXT
    if grep -q -- "$3" "$2"; then
        failed=$((failed + 1))
        echo "FAIL: $1: '$3' found"
        cat "$2"
    else
        passed=$((passed + 1))
    fi
}

one_line() {  # one_line DESCRIPTION FILE: the file holds exactly one line
    if [ "$(wc -l <"$2")" -eq 1 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1: not one line"
        cat "$2"
    fi
}

kept() {  # kept DESCRIPTION FILE COPY: the file is byte for byte its copy
    if cmp -s "$2" "$3"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1: $2 changed"
    fi
}

absent() {  # absent DESCRIPTION FILE...: none of the files exists
    local what=$1 file
    shift
    for file in "$@"; do
        if [ -e "$file" ]; then
            failed=$((failed + 1))
            echo "FAIL: $what: $file was left behind"
            return
        fi
    done
    passed=$((passed + 1))
}

contains() {  # contains DESCRIPTION FILE TEXT
    if grep -q -- "$3" "$2"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1: '$3' not found"
        cat "$2"
    fi
}

# The demo character: built from code, written, loaded back and verified; the other commands
# then work on the file it wrote.
check "demo" 0 "$tool" demo "$work/demo.ovn"
contains "demo verifies its file" "$work/out" "demo.ovn: OK"
contains "demo prints the sections" "$work/out" "pelma1"
contains "demo compares what it loads back" "$work/out" "match what was built"
contains "demo reports the walk's fit" "$work/out" 'clip "Walk": .* max error'
contains "demo reports the wave's fit" "$work/out" 'clip "Wave": .* max error'
contains "demo plays the walk" "$work/out" "playing: Walk (weight 1)"
contains "demo blends the walk with the wave" "$work/out" "blending: Walk (weight 0.5) + Wave (weight 0.5)"
contains "demo times the whole frame" "$work/out" "whole frame"
contains "demo's frames do not allocate" "$work/out" "allocations per frame: 0$"
contains "the walk moves the root" "$work/out" "root motion travelled: 2.600 (0.000, 0.000, 2.600)"
check "info" 0 "$tool" info "$work/demo.ovn"
contains "info names the byte order" "$work/out" "little-endian"
contains "info checks the CRC" "$work/out" "valid"
contains "info counts the content" "$work/out" "1 skeleton (23 bones)"
check "info --tree" 0 "$tool" info "$work/demo.ovn" --tree --depth 4
contains "the tree shows bone names" "$work/out" '"Spine1"'
contains "the tree shows the clips" "$work/out" '"Walk"'
check "demo character's size" 0 "$tool" info "$work/demo.ovn" --json
cp "$work/out" "$work/demo.json"
check "the demo character is a skinned figure of 20 bones or more and a few thousand vertices" 0 \
    python3 -c '
import json, sys
c = json.load(open(sys.argv[1]))["content"]
assert c["bones"] >= 20 and c["skeletons"] == 1, c
assert 2000 <= c["vertices"] <= 10000 and c["triangles"] >= 2000, c
assert c["meshes"] == 1 and c["models"] == 1 and c["textures"] == 1, c
assert c["animations"] == 2 and c["tracks"] == 2 * c["bones"], c
 ' "$work/demo.json"
for clip in Walk Wave; do
    check "the demo character's $clip plays" 0 "$tool" play "$work/demo.ovn" --anim $clip --seconds 1
    contains "the demo character's $clip plays without allocating" "$work/out" \
        "allocations per frame: 0 "
done
check "demo with a bad frame rate fails" 1 "$tool" demo "$work/x.ovn" --fps 0
check "demo with a bad picture size fails" 1 "$tool" demo "$work/x.ovn" --size 10x
# The demo's picture, read back on its own: three rows (walk, wave, blend) of four cells; every
# cell shows the figure (not empty) with background all round it (inside the image), and two
# frames of the walk differ.
check "demo draws its picture" 0 "$tool" demo "$work/pic.ovn" --png "$work/pic.png" --frames 4 \
    --size 100x140 --seconds 0.2
contains "demo names its picture" "$work/out" "picture: $work/pic.png, 400 x 420"
check "the demo's picture shows the figure moving" 0 python3 -c '
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n"
pos, idat = 8, b""
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        width, height, depth, colour = struct.unpack(">IIBB", body[:10])
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
assert depth == 8 and colour in (2, 6), (depth, colour)
bpp = 4 if colour == 6 else 3
raw, stride = zlib.decompress(idat), width * bpp
rows, prev = [], bytearray(stride)
for y in range(height):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - bpp] if i >= bpp else 0
        b, c = prev[i], prev[i - bpp] if i >= bpp else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(bytes(line))
    prev = line
px = lambda x, y: rows[y][x * bpp:x * bpp + 3]
background = px(0, 0)
cw, ch = 100, 140
assert (width, height) == (4 * cw, 3 * ch), (width, height)
def cell(cx, cy):
    return [[px(cx * cw + x, cy * ch + y) for x in range(cw)] for y in range(ch)]
for cy in range(3):
    for cx in range(4):
        c = cell(cx, cy)
        figure = sum(p != background for line in c for p in line)
        assert figure > cw * ch // 50, ("empty", cx, cy, figure)
        edge = c[0] + c[-1] + [line[0] for line in c] + [line[-1] for line in c]
        assert all(p == background for p in edge), ("cut at the edge", cx, cy)
a, b = cell(0, 0), cell(2, 0)
differ = sum(p != q for la, lb in zip(a, b) for p, q in zip(la, lb))
assert differ > cw * ch // 200, ("the walk does not move", differ)
 ' "$work/pic.png"
check "demo of a content file" 0 "$tool" demo --content "$work/demo.ovn" --seconds 0.5
contains "demo of a content file verifies it" "$work/out" "demo.ovn: OK"
check "demo of a missing content file fails" 1 "$tool" demo --content "$work/missing.ovn"
check "verify" 0 "$tool" verify "$work/demo.ovn"

check "convert to big-endian" 0 "$tool" convert "$work/demo.ovn" "$work/big.ovn" --byte-order big
check "verify big-endian" 0 "$tool" verify "$work/big.ovn"
check "info big-endian" 0 "$tool" info "$work/big.ovn"
contains "big-endian is reported" "$work/out" "big-endian"
check "convert back" 0 "$tool" convert "$work/big.ovn" "$work/little.ovn" --byte-order little
check "conversion round trip is exact" 0 cmp "$work/demo.ovn" "$work/little.ovn"

for codec in none pelma0 pelma1; do
    check "recompress $codec" 0 "$tool" recompress "$work/big.ovn" "$work/$codec.ovn" --codec $codec
    check "verify $codec" 0 "$tool" verify "$work/$codec.ovn"
    check "info $codec" 0 "$tool" info "$work/$codec.ovn"
    contains "$codec sections" "$work/out" " $codec "
done
check "recompress back to pelma1" 0 "$tool" recompress "$work/none.ovn" "$work/again.ovn" --codec pelma1
check "recompression round trip is exact" 0 cmp "$work/big.ovn" "$work/again.ovn"
for level in fast default best; do
    for codec in pelma0 pelma1; do
        check "recompress $codec at level $level" 0 "$tool" recompress "$work/none.ovn" \
            "$work/$codec-$level.ovn" --codec $codec --level $level
        check "verify $codec at level $level" 0 "$tool" verify "$work/$codec-$level.ovn"
    done
done
check "the default level is the level of plain recompression" 0 cmp "$work/pelma1.ovn" \
    "$work/pelma1-default.ovn"
check "demo at the fast level" 0 "$tool" demo "$work/fast.ovn" --level fast

check "raw" 0 "$tool" raw "$work/demo.ovn" "$work/demo.raw"
check "raw image written" 0 test -s "$work/demo.raw"

# Faults: exit status 1 and a message on stderr.
cp "$work/demo.ovn" "$work/bad.ovn"
printf '\125' | dd of="$work/bad.ovn" bs=1 seek=400 conv=notrunc 2>/dev/null
check "a damaged file fails verification" 1 "$tool" verify "$work/bad.ovn"
contains "the CRC fault is named" "$work/err" "CRC"
head -c 100 "$work/demo.ovn" >"$work/short.ovn"
check "a truncated file fails" 1 "$tool" verify "$work/short.ovn"
check "a missing file fails" 1 "$tool" info "$work/missing.ovn"
check "a bad codec fails" 1 "$tool" recompress "$work/demo.ovn" "$work/x.ovn" --codec zip
check "a bad level fails" 1 "$tool" recompress "$work/demo.ovn" "$work/x.ovn" --codec pelma0 \
    --level hardest
check "a bad byte order fails" 1 "$tool" convert "$work/demo.ovn" "$work/x.ovn" --byte-order middle
check "missing arguments fail" 1 "$tool" raw "$work/demo.ovn"
check "an unknown command fails" 1 "$tool" frobnicate
check "an unknown option fails" 1 "$tool" info "$work/demo.ovn" --frobnicate
check "a negative depth fails" 1 "$tool" info "$work/demo.ovn" --tree --depth -1
check "--depth needs a number" 1 "$tool" info "$work/demo.ovn" --tree --depth deep
check "info without a file fails" 1 "$tool" info
check "verify without a file fails" 1 "$tool" verify
check "verify with two files fails" 1 "$tool" verify "$work/demo.ovn" "$work/big.ovn"
check "recompress without --codec fails" 1 "$tool" recompress "$work/demo.ovn" "$work/x.ovn"
check "convert without --byte-order fails" 1 "$tool" convert "$work/demo.ovn" "$work/x.ovn"
check "demo with two outputs fails" 1 "$tool" demo "$work/x.ovn" "$work/y.ovn"
check "demo with a bad level fails" 1 "$tool" demo "$work/x.ovn" --level hardest
check "version takes no arguments" 1 "$tool" version extra
contains "a usage error names the command" "$work/err" "orvane version"
check "no command fails" 1 "$tool"
contains "no command prints the usage" "$work/err" "usage: orvane"
check "a damaged file fails info" 1 "$tool" info "$work/short.ovn"
check "a missing input fails recompress" 1 "$tool" recompress "$work/missing.ovn" "$work/x.ovn" \
    --codec none
check "a missing input fails convert" 1 "$tool" convert "$work/missing.ovn" "$work/x.ovn" \
    --byte-order big
check "a missing input fails raw" 1 "$tool" raw "$work/missing.ovn" "$work/x.raw"

# info --json: one JSON object with the same facts.
check "info --json" 0 "$tool" info "$work/big.ovn" --json
cp "$work/out" "$work/info.json"
check "info --json is JSON with the facts" 0 python3 -c '
import json, sys
info = json.load(open(sys.argv[1]))
assert info["byte_order"] == "big" and info["crc_valid"] is True, info
assert info["root_type"] == "file_info" and info["content"]["bones"] == 23, info
assert info["content"]["skeletons"] == 1 and len(info["sections"]) > 0, info
assert all(s["codec"] in ("none", "pelma0", "pelma1") for s in info["sections"]), info
 ' "$work/info.json"
check "--json and --tree exclude each other" 1 "$tool" info "$work/demo.ovn" --json --tree
check "info --json of a missing file fails" 1 "$tool" info "$work/missing.ovn" --json

# Help: every command's --help and -h on stdout with status 0; the tool's own help lists every
# command.
for command in info verify recompress convert raw demo play bench render version; do
    check "$command --help" 0 "$tool" $command --help
    contains "$command --help prints its usage" "$work/out" "usage: orvane $command"
    check "$command -h" 0 "$tool" $command -h
    contains "$command -h prints its usage" "$work/out" "usage: orvane $command"
done
for help in --help -h help; do
    check "orvane $help" 0 "$tool" $help
    for command in info verify recompress convert raw demo play bench render version; do
        contains "orvane $help lists $command" "$work/out" "^ *$command "
    done
done
# The import command is there when the tool was built with the importer; it reads its own
# arguments.
if "$tool" --help | grep -q "^ *import "; then
    check "import --help" 0 "$tool" import --help
    contains "import --help prints its usage" "$work/out" "usage: orvane import"
    check "import without a scene fails" 1 "$tool" import
    check "import with an unknown option fails" 1 "$tool" import "$work/missing.gltf" --frobnicate
fi

# play and bench: the frame posed, blended and skinned through the library, end to end.
play_checks() {  # play_checks FILE CLIP OTHER-CLIP
    local file=$1 a=$2 b=$3 name
    name=$(basename "$file")
    check "play $name" 0 "$tool" play "$file" --seconds 0.5
    for stage in "sampling" "world pose" "skinning matrices" "deformation" "whole frame"; do
        contains "play $name times $stage" "$work/out" "^$stage  *[0-9.]*  *[0-9.]*$"
    done
    contains "play $name measures root motion" "$work/out" "root motion travelled: [0-9.]* units"
    contains "play $name allocates nothing per frame" "$work/out" "allocations per frame: 0 "
    check "play $name --anim $a" 0 "$tool" play "$file" --anim "$a" --seconds 0.3 --checksum
    grep '^checksum:' "$work/out" >"$work/alone"
    check "play $name $a with $b at weight 0" 0 "$tool" play "$file" --anim "$a" --blend "$b:0" \
        --seconds 0.3 --checksum
    grep '^checksum:' "$work/out" >"$work/blend0"
    check "a blend at weight 1 and 0 is the clip alone" 0 cmp "$work/alone" "$work/blend0"
    check "play $name $b alone" 0 "$tool" play "$file" --anim "$b" --seconds 0.3 --checksum
    grep '^checksum:' "$work/out" >"$work/other"
    check "two clips pose differently" 1 cmp -s "$work/alone" "$work/other"
    check "play $name at two times" 0 "$tool" play "$file" --anim "$a" --seconds 0.1 --checksum
    grep '^checksum:' "$work/out" >"$work/earlier"
    check "a moving clip differs between frames" 1 cmp -s "$work/alone" "$work/earlier"
    check "play $name blended in step" 0 "$tool" play "$file" --anim "$a" --blend "$b:0.4" \
        --same-phase --seconds 0.3
    contains "the blend lists both clips" "$work/out" "$a (weight 1) $b (weight 0.4)"
    contains "a blend allocates nothing per frame" "$work/out" "allocations per frame: 0 "
    check "play $name --accelerated" 0 "$tool" play "$file" --anim "$a" --accelerated --seconds 0.2
    check "bench $name" 0 "$tool" bench "$file" --instances 4 --threads 2 --frames 10
    contains "bench $name reports one thread" "$work/out" "^1  *[0-9]*  *1.00x"
    contains "bench $name reports two threads" "$work/out" "^2  *[0-9]*  *[0-9.]*x"
    contains "bench $name names the stages" "$work/out" "sampling  *world  *matrices  *deform"
    check "bench $name with a blend" 0 "$tool" bench "$file" --anim "$a" --blend "$b:0.5" \
        --instances 3 --threads 1 --frames 5
}
# Faults of play and bench are reported with status 1 whatever the file holds.
check "play a missing file fails" 1 "$tool" play "$work/missing.ovn"
check "play a damaged file fails" 1 "$tool" play "$work/short.ovn"
check "play a model out of range fails" 1 "$tool" play "$work/demo.ovn" --model 7
contains "the bad model is named" "$work/err" "model 7 is not in the file"
check "play a negative model fails" 1 "$tool" play "$work/demo.ovn" --model -1
check "play an unknown clip fails" 1 "$tool" play "$work/demo.ovn" --anim "no such clip"
contains "the unknown clip is named" "$work/err" "no animation is named \"no such clip\""
for bad in "Walk" "Walk:" ":0.5" "Walk:heavy" "Walk:-0.5" "Walk:nan" "Walk:inf"; do
    check "play --blend $bad fails" 1 "$tool" play "$work/demo.ovn" --anim A --blend "$bad"
done
check "play --seconds 0 fails" 1 "$tool" play "$work/demo.ovn" --seconds 0
check "play --fps -1 fails" 1 "$tool" play "$work/demo.ovn" --fps -1
check "play --fps needs a number" 1 "$tool" play "$work/demo.ovn" --fps fast
check "play without a file fails" 1 "$tool" play
check "bench a missing file fails" 1 "$tool" bench "$work/missing.ovn"
check "bench with no instances fails" 1 "$tool" bench "$work/demo.ovn" --instances 0
check "bench with no threads fails" 1 "$tool" bench "$work/demo.ovn" --threads 0
check "bench with no frames fails" 1 "$tool" bench "$work/demo.ovn" --frames 0
check "bench a model out of range fails" 1 "$tool" bench "$work/demo.ovn" --model 3
check "bench an unknown clip fails" 1 "$tool" bench "$work/demo.ovn" --anim "no such clip"
# The demo's file, when it holds a character with two clips.
if "$tool" play "$work/demo.ovn" --seconds 0.1 >/dev/null 2>&1; then
    clips=$("$tool" play "$work/demo.ovn" --list | head -2)
    if [ "$(echo "$clips" | wc -w)" -eq 2 ]; then
        play_checks "$work/demo.ovn" $clips
    fi
fi
# Imported characters, when the tool has the importer and the project's data is there.
data=${ORVANE_DATA_DIR:-${ORVANE_DEFAULT_DATA_DIR:-$(dirname "$0")/../../data}}
fox=$data/assets/gltf/Fox/Fox.glb
if "$tool" --help | grep -q "^ *import " && [ -f "$fox" ]; then
    check "import the fox" 0 "$tool" import "$fox" -o "$work/fox.ovn"
    play_checks "$work/fox.ovn" Walk Run
    check "play --counters" 0 "$tool" play "$work/fox.ovn" --anim Walk --seconds 0.1 --counters
    contains "the library's timing blocks are shown" "$work/out" "^DeformVertices  *1.00 "
    check "play --list" 0 "$tool" play "$work/fox.ovn" --list
    contains "play --list names the clips" "$work/out" "^Run$"
    check "play the fox's second model fails" 1 "$tool" play "$work/fox.ovn" --model 1
    check "play a clip blended with an unknown one fails" 1 "$tool" play "$work/fox.ovn" \
        --anim Walk --blend Trot:0.5
    contains "the unknown blended clip is named" "$work/err" "no animation is named \"Trot\""
    check "play with a blend but no --anim takes the first clip" 0 "$tool" play "$work/fox.ovn" \
        --blend Run:0.5 --seconds 0.1
    contains "the first clip is played" "$work/out" "Survey (weight 1) Run (weight 0.5)"
    # The compact curve format: a smaller file that plays, verifies and says what it holds.
    check "import the fox with compact curves" 0 "$tool" import "$fox" -o "$work/fox-compact.ovn" \
        --format compact
    play_checks "$work/fox-compact.ovn" Walk Run
    check "verify the compact fox" 0 "$tool" verify "$work/fox-compact.ovn"
    check "info of the compact fox" 0 "$tool" info "$work/fox-compact.ovn"
    contains "info counts the compact curves" "$work/out" "curves: .*DaCompact [0-9]"
    check "info --json of the compact fox" 0 "$tool" info "$work/fox-compact.ovn" --json
    contains "info --json counts the compact curves" "$work/out" '"DaCompact": [0-9]'
    check "the compact fox is smaller" 0 python3 -c '
import os, sys
sys.exit(0 if os.path.getsize(sys.argv[2]) < os.path.getsize(sys.argv[1]) else 1)' \
        "$work/fox.ovn" "$work/fox-compact.ovn"
    check "import with an unknown curve format fails" 1 "$tool" import "$fox" \
        -o "$work/x.ovn" --format tiny
fi

# render: a contact sheet of an imported character (when the tool has the importer and the
# data is there), checked by decoding the PNG here: its size, each cell drawn and inside its
# borders, and a moving clip giving different cells.
png_check() {  # png_check FILE WIDTH HEIGHT CELLS-ACROSS CELLS-DOWN CELLS
    python3 - "$@" <<'PYTHON'
import struct, sys, zlib
path, width, height, across, down, count = sys.argv[1], *map(int, sys.argv[2:])
data = open(path, "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
pos, idat, ihdr = 8, b"", None
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR": ihdr = struct.unpack(">IIBBBBB", body)
    if kind == b"IDAT": idat += body
    pos += 12 + length
w, h, depth, color = ihdr[:4]
assert (w, h) == (width, height), f"size {w}x{h}, expected {width}x{height}"
assert depth == 8 and color == 6, "not 8-bit RGBA"
raw, stride, rows, prev = zlib.decompress(idat), w * 4, [], bytearray(w * 4)
for y in range(h):
    kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - 4] if i >= 4 else 0
        b, c = prev[i], prev[i - 4] if i >= 4 else 0
        if kind == 1: line[i] = (line[i] + a) & 255
        elif kind == 2: line[i] = (line[i] + b) & 255
        elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(line)
    prev = line
pixel = lambda x, y: bytes(rows[y][x * 4:x * 4 + 4])
background = pixel(0, 0)
cw, ch = w // across, h // down
cells = []
for n in range(across * down):
    x0, y0 = (n % across) * cw, (n // across) * ch
    cell = b"".join(bytes(rows[y0 + y][x0 * 4:(x0 + cw) * 4]) for y in range(ch))
    drawn = sum(cell[i:i + 4] != background for i in range(0, len(cell), 4))
    if n >= count:  # past the last frame
        assert drawn == 0, f"cell {n} should be empty"
        continue
    border = [pixel(x0 + x, y0 + y) for x in range(cw) for y in (0, ch - 1)]
    border += [pixel(x0 + x, y0 + y) for y in range(ch) for x in (0, cw - 1)]
    assert all(p == background for p in border), f"cell {n}: the figure touches the border"
    assert drawn > cw * ch // 50, f"cell {n}: only {drawn} pixels drawn"
    cells.append(cell)
assert cells[0] != cells[1], "the first two frames are the same"
PYTHON
}
if "$tool" --help | grep -q "^ *import " && [ -f "$data/assets/gltf/CesiumMan/CesiumMan.glb" ]; then
    check "import a textured character" 0 "$tool" import \
        "$data/assets/gltf/CesiumMan/CesiumMan.glb" -o "$work/man.ovn"
    check "render" 0 "$tool" render "$work/man.ovn" -o "$work/man.png" --frames 4 --size 96x80 \
        --gif "$work/man.gif" --gif-frames 6
    # An unnamed clip takes the file's name.
    contains "render names the clip" "$work/out" "\"CesiumMan\""
    check "the sheet is a PNG of 4 drawn, moving cells inside their borders" 0 \
        png_check "$work/man.png" 384 80 4 1 4
    check "render wraps cells into rows" 0 "$tool" render "$work/man.ovn" -o "$work/rows.png" \
        --frames 5 --columns 2 --size 64x64 --samples 1
    check "the wrapped sheet has 3 rows" 0 png_check "$work/rows.png" 128 192 2 3 5
    check "the GIF has its screen size" 0 python3 -c '
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:6] == b"GIF89a" and struct.unpack("<HH", data[6:10]) == (96, 80)
assert data.count(b"\x21\xf9\x04") >= 6 and data.endswith(b"\x3b")
' "$work/man.gif"
    if [ -f "$data/assets/gltf/Fox/Fox.glb" ]; then
        check "import a character with several clips" 0 "$tool" import \
            "$data/assets/gltf/Fox/Fox.glb" -o "$work/fox.ovn"
        check "render a chosen clip" 0 "$tool" render "$work/fox.ovn" -o "$work/fox.png" \
            --anim Run --frames 3 --size 120x90
        check "the chosen clip's sheet" 0 png_check "$work/fox.png" 360 90 3 1 3
        check "render of an unknown clip fails" 1 "$tool" render "$work/fox.ovn" \
            -o "$work/x.png" --anim Dance
        check "render of a missing model fails" 1 "$tool" render "$work/fox.ovn" \
            -o "$work/x.png" --model 5
    fi
    check "render into a missing folder fails" 1 "$tool" render "$work/man.ovn" \
        -o "$work/no/x.png"
    check "render with a bad size fails" 1 "$tool" render "$work/man.ovn" -o "$work/x.png" \
        --size 100
    check "render with a tiny size fails" 1 "$tool" render "$work/man.ovn" -o "$work/x.png" \
        --size 4x4
    check "render with no frames fails" 1 "$tool" render "$work/man.ovn" -o "$work/x.png" \
        --frames 0
fi
# The user's files: never written over by mistake, never left half written, never laundered.
safe=$work/safe
mkdir -p "$safe"
cp "$work/demo.ovn" "$safe/x.ovn"
cp "$work/demo.ovn" "$safe/keep.ovn"
leftovers() {  # leftovers DESCRIPTION: no temporary file of the tool is left in $safe
    absent "$1" "$safe"/.*orvane-*
}
# An output that names an input is refused, and the input stays as it was.
check "raw over its input fails" 1 "$tool" raw "$safe/x.ovn" "$safe/x.ovn"
contains "raw names the input as the output" "$work/err" "x.ovn: is the input; write the result"
one_line "raw over its input says so once" "$work/err"
kept "raw over its input" "$safe/x.ovn" "$safe/keep.ovn"
ln -s x.ovn "$safe/link.ovn"
check "raw over its input through a link fails" 1 "$tool" raw "$safe/x.ovn" "$safe/link.ovn"
contains "the link's input is named" "$work/err" "is the same file as the input"
kept "raw over its input through a link" "$safe/x.ovn" "$safe/keep.ovn"
check "render over its input fails" 1 "$tool" render "$safe/x.ovn" -o "$safe/x.ovn" --frames 1 \
    --size 16x16
contains "render names the input as the output" "$work/err" "is the input"
kept "render over its input" "$safe/x.ovn" "$safe/keep.ovn"
check "render's GIF over its input fails" 1 "$tool" render "$safe/x.ovn" -o "$safe/x.png" \
    --gif "$safe/x.ovn" --frames 1 --size 16x16
contains "render names the GIF's input" "$work/err" "is the input"
kept "render's GIF over its input" "$safe/x.ovn" "$safe/keep.ovn"
absent "a refused render writes nothing" "$safe/x.png"
check "demo's picture over its content fails" 1 "$tool" demo --content "$safe/x.ovn" \
    --png "$safe/x.ovn"
contains "demo names the input as the picture" "$work/err" "is the input"
kept "demo's picture over its content" "$safe/x.ovn" "$safe/keep.ovn"
# recompress and convert work in place, whole.
check "recompress in place" 0 "$tool" recompress "$safe/x.ovn" "$safe/x.ovn" --codec none
check "recompress in place gives a whole file" 0 "$tool" verify "$safe/x.ovn"
check "convert in place" 0 "$tool" convert "$safe/x.ovn" "$safe/x.ovn" --byte-order big
check "recompress in place back" 0 "$tool" recompress "$safe/x.ovn" "$safe/x.ovn" --codec pelma1
check "convert in place back" 0 "$tool" convert "$safe/x.ovn" "$safe/x.ovn" --byte-order little
kept "in-place round trip" "$safe/x.ovn" "$safe/keep.ovn"
leftovers "in-place rewrites leave no temporary file"

# A write that fails (here the file-size limit, with SIGXFSZ ignored so that the write itself
# fails) leaves the old file as it was and no partial file.
limited() {  # limited COMMAND...: runs the tool under a 50 KiB file-size limit
    (ulimit -f 50 && trap '' XFSZ && "$tool" "$@")
}
check "recompress in place past the size limit fails" 1 limited recompress "$safe/x.ovn" \
    "$safe/x.ovn" --codec none
contains "the failed write names the file and the reason" "$work/err" \
    "x.ovn: cannot be written: File too large"
one_line "the failed write is said once" "$work/err"
lacks "the failed write is not the platform's warning" "$work/err" "WriteFile"
kept "recompress in place past the size limit" "$safe/x.ovn" "$safe/keep.ovn"
cp "$work/demo.raw" "$safe/old.raw"
cp "$work/demo.raw" "$safe/old-copy.raw"
check "raw over an old file past the size limit fails" 1 limited raw "$safe/x.ovn" \
    "$safe/old.raw"
kept "raw over an old file past the size limit" "$safe/old.raw" "$safe/old-copy.raw"
check "recompress past the size limit fails" 1 limited recompress "$safe/x.ovn" \
    "$safe/new.ovn" --codec none
check "convert past the size limit fails" 1 limited convert "$safe/x.ovn" "$safe/new.ovn" \
    --byte-order big
check "raw past the size limit fails" 1 limited raw "$safe/x.ovn" "$safe/new.raw"
check "render past the size limit fails" 1 limited render "$safe/x.ovn" -o "$safe/new.png" \
    --frames 16 --size 320x320
absent "failed writes leave no partial file" "$safe/new.ovn" "$safe/new.raw" "$safe/new.png"
leftovers "failed writes leave no temporary file"
check "--verbose adds the library's own lines" 1 limited --verbose raw "$safe/x.ovn" \
    "$safe/new.raw"
contains "--verbose shows the platform's line" "$work/err" "library warning: .*WriteFile"
check "--quiet prints nothing but the result" 0 "$tool" --quiet recompress "$safe/x.ovn" \
    "$safe/q.ovn" --codec pelma1
check "--quiet prints nothing on stdout" 0 test ! -s "$work/out"
check "--quiet prints nothing on stderr" 0 test ! -s "$work/err"
check "--quiet still prints errors" 1 "$tool" recompress "$safe/x.ovn" "$safe/x.ovn" --quiet \
    --codec zip
contains "an error under --quiet is on stderr" "$work/err" "codec"

# A destination that is not a regular file is written into or refused, never replaced.
check "raw into a folder fails" 1 "$tool" raw "$safe/x.ovn" "$safe"
contains "a folder as the output is named" "$work/err" "is a directory"
check "the folder is still a folder" 0 test -d "$safe"
mkfifo "$safe/fifo"
(cat "$safe/fifo" >"$safe/from-fifo" &)
check "raw into a FIFO" 0 "$tool" raw "$safe/x.ovn" "$safe/fifo"
check "the FIFO is still a FIFO" 0 test -p "$safe/fifo"
if mknod "$safe/full" c 1 7 2>/dev/null && mknod "$safe/null" c 1 3 2>/dev/null; then
    check "raw into a full device fails" 1 "$tool" raw "$safe/x.ovn" "$safe/full"
    contains "the full device's reason is given" "$work/err" "No space left on device"
    check "the full device is still a device" 0 test -c "$safe/full"
    check "raw into an empty device" 0 "$tool" raw "$safe/x.ovn" "$safe/null"
    check "the empty device is still a device" 0 test -c "$safe/null"
    check "recompress into a full device fails" 1 "$tool" recompress "$safe/x.ovn" \
        "$safe/full" --codec none
    check "the full device is still a device after recompress" 0 test -c "$safe/full"
fi

# Inputs are checked before any work.
check "info of a folder fails" 1 "$tool" info "$safe"
contains "info names the folder" "$work/err" "is a directory"
one_line "info of a folder says so once" "$work/err"
check "verify of a folder fails" 1 "$tool" verify "$safe"
contains "verify names the folder" "$work/err" "is a directory"
check "info of an endless device fails" 1 "$tool" info /dev/zero
contains "info names the device" "$work/err" "is not a regular file"
truncate -s 3G "$safe/huge.ovn"
check "info of a file larger than any content file fails" 1 "$tool" info "$safe/huge.ovn"
contains "the size is the reason" "$work/err" "larger than any content file"
rm -f "$safe/huge.ovn"
check "play of a folder fails" 1 "$tool" play "$safe"
check "recompress of a folder fails" 1 "$tool" recompress "$safe" "$safe/y.ovn" --codec none
check "a huge demo picture fails at once" 1 "$tool" demo "$safe/y.ovn" --size 4096x4096 \
    --frames 64
contains "the picture's size is the reason" "$work/err" "too large"
absent "a refused demo writes nothing" "$safe/y.ovn"
if [ "$(awk '/^MemTotal/ { print $2 }' /proc/meminfo)" -lt 60000000 ]; then
    check "bench of more instances than memory holds fails at once" 1 "$tool" bench \
        "$safe/x.ovn" --instances 100000
    contains "bench says how many it can take" "$work/err" "ask for at most"
fi

# Damage is never laundered: a file whose CRC does not match is refused by the commands that
# rewrite or play it, unless --ignore-crc, which warns.
cp "$work/bad.ovn" "$safe/bad.ovn"
cp "$work/bad.ovn" "$safe/bad-copy.ovn"
for command in "recompress --codec none" "convert --byte-order big" "raw"; do
    options=""
    [ "$command" = raw ] || options=${command#* }
    check "$command of a damaged file fails" 1 "$tool" ${command%% *} "$safe/bad.ovn" \
        "$safe/out" $options
    contains "$command names the damage" "$work/err" "bad.ovn: the CRC does not match"
    absent "$command of a damaged file writes nothing" "$safe/out"
done
check "recompress of a damaged file in place fails" 1 "$tool" recompress "$safe/bad.ovn" \
    "$safe/bad.ovn" --codec none
kept "recompress of a damaged file in place" "$safe/bad.ovn" "$safe/bad-copy.ovn"
check "play of a damaged file fails" 1 "$tool" play "$safe/bad.ovn" --seconds 0.1
contains "play names the damage" "$work/err" "the CRC does not match"
check "render of a damaged file fails" 1 "$tool" render "$safe/bad.ovn" -o "$safe/bad.png"
contains "render names the damage" "$work/err" "the CRC does not match"
check "demo of a damaged file fails" 1 "$tool" demo --content "$safe/bad.ovn"
check "bench of a damaged file fails" 1 "$tool" bench "$safe/bad.ovn"
check "play --ignore-crc plays a damaged file" 0 "$tool" play "$safe/bad.ovn" --ignore-crc \
    --seconds 0.1
contains "--ignore-crc warns" "$work/err" "warning: .*bad.ovn: the CRC does not match"
check "recompress --ignore-crc rewrites a damaged file" 0 "$tool" recompress "$safe/bad.ovn" \
    "$safe/out.ovn" --codec none --ignore-crc
cp "$work/demo.ovn" "$safe/broken.ovn"
head -c 3000 /dev/zero | tr '\0' '\377' | dd of="$safe/broken.ovn" bs=1 seek=60000 \
    conv=notrunc 2>/dev/null
check "info of a file whose section does not load fails" 1 "$tool" info "$safe/broken.ovn"
contains "info names the section" "$work/err" "broken.ovn: section [0-9]* cannot be loaded"
check "info --json of a file whose section does not load fails" 1 "$tool" info --json \
    "$safe/broken.ovn"

# Help: the options with their defaults, `orvane help COMMAND`, an unknown command named.
check "help recompress" 0 "$tool" help recompress
contains "help recompress prints its usage" "$work/out" "usage: orvane recompress"
contains "help recompress lists --level's default" "$work/out" "=default"
check "help of an unknown command fails" 1 "$tool" help frobnicate
contains "help names the unknown command" "$work/err" "unknown command 'frobnicate'"
check "an unknown command is named" 1 "$tool" frobnicate
contains "the unknown command is named" "$work/err" "unknown command 'frobnicate'"
check "render --help lists defaults" 0 "$tool" render --help
contains "render --help lists --frames' default" "$work/out" "frames.*=8"

if "$tool" --help | grep -q "^ *import "; then
    check "import --help lists its options" 0 "$tool" import --help
    contains "import --help gives the tolerance's default" "$work/out" "--tolerance CM=0.1"
    contains "import --help gives the tolerance's unit" "$work/out" "centimetres"
    contains "import --help lists -o" "$work/out" "-o,--output"
    check "help import" 0 "$tool" help import
    contains "help import gives the tolerance's default" "$work/out" "--tolerance CM=0.1"
    check "import of a folder fails" 1 "$tool" import "$safe"
    contains "import names the folder" "$work/err" "is a directory"
    if [ -f "$fox" ]; then
        cp "$fox" "$safe/scene.glb"
        cp "$fox" "$safe/scene-copy.glb"
        check "import over its scene fails" 1 "$tool" import "$safe/scene.glb" -o "$safe/scene.glb"
        contains "import names the scene as the output" "$work/err" "scene.glb: is the input"
        kept "import over its scene" "$safe/scene.glb" "$safe/scene-copy.glb"
        check "import of a missing scene fails" 1 "$tool" import "$safe/none.glb"
        one_line "a missing scene is said once" "$work/err"
        check "import of a new file past the size limit fails" 1 limited import \
            "$safe/scene.glb" -o "$safe/new.ovn" --codec none
        absent "a failed import leaves no partial file" "$safe/new.ovn"
        check "import" 0 "$tool" import "$safe/scene.glb" -o "$safe/old.ovn"
        cp "$safe/old.ovn" "$safe/old-copy.ovn"
        check "import over an old file past the size limit fails" 1 limited import \
            "$safe/scene.glb" -o "$safe/old.ovn" --codec none
        contains "the failed import names the file and the reason" "$work/err" \
            "old.ovn: cannot be written: File too large"
        one_line "the failed import is said once" "$work/err"
        kept "import over an old file past the size limit" "$safe/old.ovn" "$safe/old-copy.ovn"
        leftovers "a failed import leaves no temporary file"
        if [ -c "$safe/full" ]; then
            check "import into a full device fails" 1 "$tool" import "$safe/scene.glb" \
                -o "$safe/full"
            contains "import gives the device's reason" "$work/err" "No space left on device"
            check "the device is still a device after import" 0 test -c "$safe/full"
        fi
    fi
fi

# view: serves a page folder and the content file on 127.0.0.1 (a stand-in page here; the real
# one is built for WebAssembly and tested in a browser by tests/web/).
site="$work/site"
mkdir -p "$site/data"
echo '<!DOCTYPE html><title>stand-in</title>' >"$site/index.html"
printf '\0asm' >"$site/orvane_viewer.wasm"
echo 'a page file' >"$site/data/note.txt"
check "view of a missing file fails" 1 "$tool" view "$work/missing.ovn" --site "$site"
one_line "view of a missing file says so in one line" "$work/err"
check "view without a built page fails" 1 "$tool" view "$work/demo.ovn" --site "$work/nowhere"
contains "view without a built page says how to build it" "$work/err" "build.sh web"
check "view with a bad port fails" 1 "$tool" view "$work/demo.ovn" --site "$site" --port 70000
"$tool" view "$work/demo.ovn" --site "$site" --port 0 --requests 6 >"$work/view.out" 2>&1 &
view_pid=$!
for _ in $(seq 50); do grep -q '^http://' "$work/view.out" && break; sleep 0.1; done
check "view serves the page, the content file and nothing else" 0 python3 - "$work/view.out" \
    "$work/demo.ovn" <<'PY'
import sys, urllib.error, urllib.request
address = open(sys.argv[1]).readline().strip()
base, _, query = address.partition("/?")
assert address.startswith("http://127.0.0.1:") and query == "file=content/demo.ovn", address
def get(path):
    try:
        with urllib.request.urlopen(base + path, timeout=10) as r:
            return r.status, r.headers.get("Content-Type"), r.read()
    except urllib.error.HTTPError as e:
        return e.code, None, b""
status, kind, body = get("/")
assert status == 200 and kind.startswith("text/html") and b"stand-in" in body, (status, kind)
status, kind, body = get("/content/demo.ovn")
assert status == 200 and body == open(sys.argv[2], "rb").read(), status
status, kind, body = get("/orvane_viewer.wasm")
assert status == 200 and kind == "application/wasm", (status, kind)
assert get("/data/note.txt")[0] == 200
assert get("/../demo.ovn")[0] == 404
assert get("/data/../../demo.ovn")[0] == 404
PY
wait "$view_pid"
check "view ends after the requests it was given" 0 test $? -eq 0

check "render without -o fails" 1 "$tool" render "$work/demo.ovn"
check "render of a missing file fails" 1 "$tool" render "$work/missing.ovn" -o "$work/x.png"
check "--version" 0 "$tool" --version
contains "--version prints the version" "$work/out" "^[0-9]*\.[0-9]*\.[0-9]*\.[0-9]*$"
check "version" 0 "$tool" version
contains "version prints the version" "$work/out" "^[0-9]*\.[0-9]*\.[0-9]*\.[0-9]*$"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
