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
# Imported characters, when the tool has the importer and the shared data is there.
data=${ORVANE_SHARED_DATA:-$(dirname "$0")/../../../shared/data}
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
fi

# render: a contact sheet of an imported character (when the tool has the importer and the shared
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
shared=${ORVANE_SHARED_DATA:-}
if "$tool" --help | grep -q "^ *import " && [ -n "$shared" ] &&
    [ -f "$shared/assets/gltf/CesiumMan/CesiumMan.glb" ]; then
    check "import a textured character" 0 "$tool" import \
        "$shared/assets/gltf/CesiumMan/CesiumMan.glb" -o "$work/man.ovn"
    check "render" 0 "$tool" render "$work/man.ovn" -o "$work/man.png" --frames 4 --size 96x80 \
        --gif "$work/man.gif" --gif-frames 6
    contains "render names the clip" "$work/out" "Clip0"
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
    if [ -f "$shared/assets/gltf/Fox/Fox.glb" ]; then
        check "import a character with several clips" 0 "$tool" import \
            "$shared/assets/gltf/Fox/Fox.glb" -o "$work/fox.ovn"
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
check "render without -o fails" 1 "$tool" render "$work/demo.ovn"
check "render of a missing file fails" 1 "$tool" render "$work/missing.ovn" -o "$work/x.png"
check "--version" 0 "$tool" --version
contains "--version prints the version" "$work/out" "^[0-9]*\.[0-9]*\.[0-9]*\.[0-9]*$"
check "version" 0 "$tool" version
contains "version prints the version" "$work/out" "^[0-9]*\.[0-9]*\.[0-9]*\.[0-9]*$"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
