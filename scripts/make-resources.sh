#!/usr/bin/env bash
# Regenerates the GUI's binary resources:
#   win/res/background.bmp  window background (320x142, 24-bit BI_RGB)
#   mac/res/GUI_bg.bmp      the same bytes for the Cocoa front end
#   win/res/kova.ico        application icon (one 32x32 32-bit BMP image)
# The output is byte-for-byte reproducible: `make test` runs it with
# KOVA_RESOURCES_DIR set to a scratch folder and compares what it writes
# there with the committed files. Needs imagemagick (6), fonts-dejavu-core
# and python3; see scripts/install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# The tree by default; elsewhere, a folder holding win/res and mac/res.
out=${KOVA_RESOURCES_DIR:-.}

# By path, so no fontconfig alias can swap the face.
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[[ -r $font ]] || { echo "make-resources: missing $font (fonts-dejavu-core)" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# No timestamps or ancillary chunks, so reruns give identical files.
repro=(+set date:create +set date:modify -strip)

mkdir -p "$out/win/res" "$out/mac/res"

# --- background ---------------------------------------------------------
# Teal-to-black gradient. The labels, lists and button cover rows 12..72,
# so the title stays in the lower part and the top is plain gradient.
# The title is rendered at 4x and squeezed to its 233x23 box: DejaVu Sans
# Bold is wider than the box at the wanted height, and the oversampling
# gives clean anti-aliased edges. Below it, one row down, a flipped copy
# fades from 45% to nothing.
convert -size 320x142 gradient:'rgb(19,127,119)-black' \
  \( +size -background black -fill white -font "$font" -pointsize 128 \
     label:'KOVA Generator' -trim +repage -resize '233x23!' \
     -write mpr:title +delete \) \
  \( mpr:title -background white -alpha shape \) \
  -geometry +46+90 -compose over -composite \
  \( mpr:title -flip \( -size 233x23 gradient:'gray45-black' \) \
     -compose multiply -composite -background white -alpha shape \) \
  -geometry +46+114 -compose over -composite \
  -alpha off -type TrueColor "${repro[@]}" -define bmp:format=bmp3 \
  "BMP3:$out/win/res/background.bmp"
cp "$out/win/res/background.bmp" "$out/mac/res/GUI_bg.bmp"

# --- icon ---------------------------------------------------------------
# Drawn at 8x (256x256) and box-filtered down to 32x32 for anti-aliasing.
# Rounded teal square with a blurred shadow offset (1,2) px. The pulse is
# built from rectangles rather than a stroked path: ImageMagick 6 mis-fills
# the stroke of a path that doubles back on itself. Its 2 px line sits on
# whole pixels after the reduction, so it stays crisp.
convert -size 256x256 xc:none \
  \( -size 256x256 xc:none -fill 'rgba(0,0,0,0.6)' \
     -draw 'roundrectangle 24,24 231,231 24,24' -blur 0x10 \) \
  -compose over -composite \
  \( -size 208x208 gradient:'rgb(38,156,146)-rgb(14,98,92)' -alpha set \
     \( -size 208x208 xc:none -fill white \
        -draw 'roundrectangle 0,0 207,207 24,24' \) \
     -compose dstin -composite \) \
  -geometry +16+8 -compose over -composite \
  +antialias -fill white -stroke none \
  -draw 'rectangle 48,152 95,167 rectangle 80,56 95,167 rectangle 80,56 159,71
         rectangle 144,56 159,167 rectangle 144,152 191,167' \
  -filter box -resize 32x32 "${repro[@]}" -depth 8 "rgba:$tmp/icon.rgba"

# ImageMagick's ICO writer is not trusted to keep a BMP (not PNG) payload
# and a 32-bit entry across versions, and older Windows and Wine's
# LoadIcon need exactly that, so the file is assembled here.
python3 - "$tmp/icon.rgba" "$out/win/res/kova.ico" <<'EOF'
import struct, sys

W = H = 32
rgba = open(sys.argv[1], 'rb').read()
assert len(rgba) == W * H * 4, len(rgba)
rows = [rgba[y * W * 4:(y + 1) * W * 4] for y in range(H)]

xor = bytearray()   # BGRA, bottom-up
# AND mask, 1 bpp, rows padded to 32 bits. Alpha-aware loaders ignore it;
# for the others, the faint shadow fringe counts as transparent.
mask = bytearray()
for row in reversed(rows):
    bits = bytearray((W + 31) // 32 * 4)
    for x in range(W):
        r, g, b, a = row[x * 4:x * 4 + 4]
        xor += bytes((b, g, r, a))
        if a < 128:
            bits[x // 8] |= 0x80 >> (x % 8)
    mask += bits

# Height is doubled: colour image plus AND mask.
bih = struct.pack('<IiiHHIIiiII', 40, W, 2 * H, 1, 32, 0,
                  len(xor) + len(mask), 0, 0, 0, 0)
image = bih + xor + mask
icondir = struct.pack('<HHH', 0, 1, 1)
entry = struct.pack('<BBBBHHII', W, H, 0, 0, 1, 32, len(image), 6 + 16)
with open(sys.argv[2], 'wb') as f:
    f.write(icondir + entry + image)
EOF

# --- check --------------------------------------------------------------
# The loaders are picky about these header fields, so verify what was written.
cmp -s "$out/win/res/background.bmp" "$out/mac/res/GUI_bg.bmp" ||
  { echo "make-resources: the two background copies differ" >&2; exit 1; }
python3 - "$out/win/res/background.bmp" "$out/win/res/kova.ico" <<'EOF'
import struct, sys

bmp = open(sys.argv[1], 'rb').read()
magic, size, _, _, off = struct.unpack_from('<2sIHHI', bmp, 0)
hs, w, h, planes, bpp, comp = struct.unpack_from('<IiiHHI', bmp, 14)
stride = (w * 3 + 3) & ~3
assert (magic, off, hs) == (b'BM', 54, 40), (magic, off, hs)
assert (w, h, planes, bpp, comp) == (320, 142, 1, 24, 0), (w, h, planes, bpp, comp)
assert size == len(bmp) == 54 + stride * h, (size, len(bmp))
top = bmp[off + stride * (h - 1):off + stride * (h - 1) + w * 3]
bottom = bmp[off:off + w * 3]
assert top == bytes((119, 127, 19)) * w, 'top row is not teal'
assert bottom == bytes(w * 3), 'bottom row is not black'

ico = open(sys.argv[2], 'rb').read()
assert struct.unpack_from('<HHH', ico, 0) == (0, 1, 1)
ew, eh, ncol, _, eplanes, ebpp, nbytes, eoff = struct.unpack_from('<BBBBHHII', ico, 6)
assert (ew, eh, ncol, eplanes, ebpp) == (32, 32, 0, 1, 32), (ew, eh, ncol, eplanes, ebpp)
assert eoff == 22 and eoff + nbytes == len(ico), (eoff, nbytes, len(ico))
hs, w, h, planes, bpp, comp = struct.unpack_from('<IiiHHI', ico, eoff)
assert (hs, w, h, planes, bpp, comp) == (40, 32, 64, 1, 32, 0), (hs, w, h, planes, bpp, comp)
assert nbytes == 40 + 32 * 32 * 4 + 32 * 4, nbytes
EOF
echo "make-resources: wrote $out/win/res/background.bmp $out/mac/res/GUI_bg.bmp $out/win/res/kova.ico"
