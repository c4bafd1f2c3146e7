#!/usr/bin/env bash
# Checks the packages scripts/package.sh made in build/packages/: the .deb
# unpacked into a scratch root (its commands run, report the project version,
# write a file; its manual pages render; lintian finds no error) and the
# Windows ZIP (both programs, 32-bit and 64-bit GUI, the version resource and
# the window title carrying the project version; the commands in both
# widths, console programs importing only system DLLs, the 64-bit ones run
# under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

# The version as project() sets it, read from the source, not from the build.
version=$(sed -n 's/^project(KOVA VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "test-packages: no version in CMakeLists.txt" >&2; exit 1; }
short=${version%.*}
deb=build/packages/kova-generator_${version}_amd64.deb
zip=build/packages/KOVA-Generator-${version}-windows.zip

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ---- Debian package -------------------------------------------------------
echo "== $deb"
[[ -f $deb ]] || { echo "test-packages: $deb is missing; run scripts/package.sh" >&2; exit 1; }
root=$tmp/root
dpkg -x "$deb" "$root"

check "package version is $version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libgnustep-gui libsndfile1 libportaudio2; do
  check "depends on $lib (shlibs)" grep -q "\b$lib" <<<"$depends"
done

for f in usr/bin/kova-gen usr/share/man/man1/kova-gen.1.gz \
         usr/bin/kova-check usr/share/man/man1/kova-check.1.gz \
         usr/bin/kova-play usr/share/man/man1/kova-play.1.gz \
         usr/bin/kova-loop usr/share/man/man1/kova-loop.1.gz \
         usr/lib/GNUstep/Applications/KOVA-mac.app/KOVA-mac \
         usr/share/applications/kova-generator.desktop \
         usr/share/icons/hicolor/32x32/apps/kova-generator.png \
         usr/share/doc/kova-generator/copyright usr/share/doc/kova-generator/changelog.gz; do
  check "installs /$f" test -s "$root/$f"
done
check "desktop entry starts the installed application" \
  grep -qx 'Exec=/usr/lib/GNUstep/Applications/KOVA-mac.app/KOVA-mac' "$root/usr/share/applications/kova-generator.desktop"
check "copyright file carries the MIT licence" grep -q 'Permission is hereby granted, free of charge' "$root/usr/share/doc/kova-generator/copyright"
check "changelog's last entry is $version" grep -q "^kova-generator ($version)" <(zcat "$root/usr/share/doc/kova-generator/changelog.gz" | head -1)
plist=$root/usr/lib/GNUstep/Applications/KOVA-mac.app/Resources/Info.plist
check "Info.plist versions are $version" test "$(grep -A1 -E 'CFBundle(Short)?VersionString|CFBundleVersion' "$plist" | grep -c "<string>$version</string>")" -eq 2

gen=$root/usr/bin/kova-gen
check "kova-gen --version reports $version" test "$("$gen" --version)" = "kova-gen (KOVA Generator) $version"
# 1 s at 48 kHz: 44 + 48000 x 3 bytes; the first three words 0x000600,
# 0x000A00, 0x000E00 stored little-endian.
wav=$tmp/kova.wav
if "$gen" -q -r 48000 -d 1 -o "$wav"; then
  pass "installed kova-gen writes a file"
  check "the file is 144044 bytes" test "$(stat -c %s "$wav")" -eq 144044
  check "header and first words are as expected" test \
    "$(od -An -tx1 -N12 "$wav" | tr -d ' \n') $(od -An -tx1 -j24 -N4 "$wav" | tr -d ' \n') $(od -An -tx1 -j44 -N9 "$wav" | tr -d ' \n')" = \
    "52494646a432020057415645 80bb0000 000600000a00000e00"
else
  fail "installed kova-gen writes a file"
fi
check_cmd=$root/usr/bin/kova-check
check "kova-check --version reports $version" test "$("$check_cmd" --version)" = "kova-check (KOVA Generator) $version"
check "installed kova-check finds the file bit-perfect" \
  grep -q "^$wav  ch1  bit-perfect  48 kHz  1 s " <("$check_cmd" "$wav")
for live in kova-play kova-loop; do
  check "$live --version reports $version" test "$("$root/usr/bin/$live" --version)" = "$live (KOVA Generator) $version"
done

for page in "$root"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  out=$(MANWIDTH=80 MANPAGER=cat man --warnings -l "$page" 2>"$tmp/man.err")
  check "man -l renders $name without warnings" test ! -s "$tmp/man.err"
  # The name line and the hand-written sections from the .h2m, the options
  # from --help, the version from --version.
  for part in "^       $name - " "^EXIT STATUS" "^EXAMPLES" "^       --version" "^KOVA Generator $version "; do
    check "$name page has '$part'" grep -q -- "$part" <<<"$out"
  done
done

echo "-- lintian"
if lintian --fail-on error "$deb" >"$tmp/lintian" 2>&1; then pass "lintian reports no errors"; else fail "lintian reports errors"; fi
grep -v 'root privileges' "$tmp/lintian" || true

# ---- Windows ZIP ----------------------------------------------------------
echo "== $zip"
[[ -f $zip ]] || { echo "test-packages: $zip is missing; run scripts/package.sh" >&2; exit 1; }
top=KOVA-Generator-${version}-windows
# The commands built for Windows so far, in a folder per width.
windows_commands="kova-gen kova-check kova-play kova-loop"
expected=$(for bits in 32 64; do for c in $windows_commands; do echo "$top/commands-${bits}bit/$c.exe"; done; done
           printf '%s\n' "$top/KOVA-32bit.exe" "$top/KOVA-64bit.exe" "$top/LICENSE.txt" "$top/README.txt")
listing=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
check "ZIP holds the two programs, the commands in both widths, README and licence" \
  test "$listing" = "$(sort <<<"$expected" | tr '\n' ' ')"
unzip -q "$zip" -d "$tmp/zip"
dir=$tmp/zip/$top
check "LICENSE.txt is the licence" cmp -s "$dir/LICENSE.txt" LICENSE
check "KOVA-32bit.exe is a 32-bit GUI program" grep -q 'PE32 executable (GUI) Intel 80386' <(file -b "$dir/KOVA-32bit.exe")
check "KOVA-64bit.exe is a 64-bit GUI program" grep -q 'PE32+ executable (GUI) x86-64' <(file -b "$dir/KOVA-64bit.exe")

for bits in 32 64; do
  arch=win$bits
  for c in $windows_commands; do
    exe=$dir/commands-${bits}bit/$c.exe
    check "$c.exe ($bits-bit) is a console program importing only system DLLs" \
      scripts/check-pe.sh --console "$arch" "$exe"
  done
done
# The 64-bit commands run here under Wine's 64-bit loader; the 32-bit ones
# only where the kernel runs i386 programs, like the other Windows suites.
source scripts/wine-env.sh win64
scripts/wine-prefix.sh win64
for c in $windows_commands; do
  check "$c.exe --version reports $version" \
    test "$("$WINELOADER" "$dir/commands-64bit/$c.exe" --version)" = "$c (KOVA Generator) $version"
done
check "kova-gen.exe writes the same file as the installed kova-gen" \
  bash -c '"$1" "$2" -q -r 48000 -d 1 -o "$3" && cmp -s "$3" "$4"' - "$WINELOADER" \
  "$dir/commands-64bit/kova-gen.exe" "$tmp/win.wav" "$wav"
check "kova-check.exe finds that file bit-perfect" \
  grep -q "^$tmp/win.wav  ch1  bit-perfect  48 kHz  1 s " <("$WINELOADER" "$dir/commands-64bit/kova-check.exe" "$tmp/win.wav")
"$WINESERVER" -k 2>/dev/null || true

for bits in 32 64; do
  exe=$dir/KOVA-${bits}bit.exe
  wrestool -x --raw --type=16 -o "$tmp/version-$bits.res" "$exe"
  # VS_VERSIONINFO: the fixed file information and the string table.
  found=$(python3 - "$tmp/version-$bits.res" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
align = lambda n: (n + 3) & ~3

def node(off):
    length, value_length, kind = struct.unpack_from('<HHH', data, off)
    end = data.index(b'\0\0', off + 6)
    while (end - off) % 2:
        end = data.index(b'\0\0', end + 1)
    key = data[off + 6:end].decode('utf-16-le')
    value_off = align(end + 2)
    size = value_length * 2 if kind == 1 else value_length
    value = data[value_off:value_off + size]
    kids, pos = [], align(value_off + size)
    while pos < off + length:
        kid = node(pos)
        kids.append(kid)
        pos = align(pos + kid[3])
    return key, value, kids, length

strings = {}
def walk(n):
    key, value, kids, _ = n
    if not kids and key not in ('VS_VERSION_INFO', 'Translation'):
        strings[key] = value.decode('utf-16-le').rstrip('\0')
    for k in kids:
        walk(k)
root = node(0)
walk(root)
sig, _, fms, fls, pms, pls = struct.unpack_from('<IIIIII', root[1])
assert sig == 0xFEEF04BD, hex(sig)
fixed = lambda ms, ls: '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
print(fixed(fms, fls), fixed(pms, pls), strings['FileVersion'], strings['ProductVersion'])
PY
  ) || found="unreadable"
  check "KOVA-${bits}bit.exe version resource is $version" test "$found" = "$version.0 $version.0 $version $version"
  # The window title is the product name and major.minor; no other version
  # may appear next to the name.
  titles=$(grep -aoE 'KOVA Generator [0-9]+\.[0-9]+' "$exe" | sort -u | tr '\n' ' ')
  check "KOVA-${bits}bit.exe title is \"KOVA Generator $short\"" test "$titles" = "KOVA Generator $short "
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
