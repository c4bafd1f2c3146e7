#!/usr/bin/env bash
# Checks a built KOVA.exe without running it: the right kind of Windows GUI
# program for its architecture, importing nothing but Windows system DLLs
# (the C++ runtime is linked in statically, so a user needs nothing else).
# --console checks a console program (a command, a test) the same way.
#   scripts/check-pe.sh [--console] win32|win64 PROGRAM
set -euo pipefail
subsystem='00000002[[:space:]]*(Windows GUI)' kind_name='Windows GUI'
if [[ ${1:-} == --console ]]; then
  subsystem='00000003[[:space:]]*(Windows CUI)' kind_name='Windows console'
  shift
fi
arch=$1 exe=$2
case $arch in
  win32) objdump=i686-w64-mingw32-objdump format=pei-i386 magic='010b	(PE32)' ;;
  win64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 magic='020b	(PE32+)' ;;
  *) echo "check-pe: unknown architecture '$arch' (win32 or win64)" >&2; exit 2 ;;
esac
[[ -f $exe ]] || { echo "check-pe: $exe is missing" >&2; exit 1; }

fail() { echo "check-pe: $exe: $*" >&2; exit 1; }
kind=${magic#*(}; kind=${kind%)}
headers=$("$objdump" -p "$exe" 2>/dev/null) || fail "not $format ($objdump cannot read it)"
grep -q "file format $format\$" <<<"$headers" || fail "not $format"
grep -q "^Magic[[:space:]]*$magic" <<<"$headers" || fail "optional header magic is not $magic"
grep -q "^Subsystem[[:space:]]*$subsystem" <<<"$headers" || fail "not a $kind_name program"

# avrt (the audio thread's scheduling) and winmm (its timer) for the live layer.
system_dlls='^(kernel32|user32|gdi32|comdlg32|comctl32|advapi32|shell32|ole32|msvcrt|avrt|winmm)\.dll$'
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[[ -n $imports ]] || fail "imports nothing: not a program of ours"
while read -r dll; do
  [[ ${dll,,} =~ $system_dlls ]] || fail "imports $dll, which is not a Windows system DLL"
done <<<"$imports"
echo "check-pe: $exe: $format, ${kind}, $kind_name, imports only $(paste -sd, <<<"$imports")"
