#!/usr/bin/env bash
# Compiles the Objective-C++ of the macOS application (mac/*.mm) and of its
# tests (tests/mac/*.mm) with clang, syntax only, the way the Mac build does:
# C++17, manual reference counting (no -fobjc-arc), -Wall -Wextra -Wpedantic
# -Werror, and the warnings Apple's clang adds by itself for macOS targets.
# GCC builds these sources here, against GNUstep, but lets through what only
# clang checks: the format strings of NSLog and NSString, for one.
# The headers are GNUstep's, so code under #ifndef GNUSTEP is not seen.
#   scripts/check-mac-clang.sh
set -euo pipefail
cd "$(dirname "$0")/.."

clang=${KOVA_CLANGXX:-clang++}
command -v "$clang" >/dev/null ||
  { echo "check-mac-clang: $clang is missing (scripts/install-deps.sh installs clang)" >&2; exit 1; }
gnustep=$(gnustep-config --objc-flags) ||
  { echo "check-mac-clang: gnustep-config is missing (scripts/install-deps.sh installs GNUstep)" >&2; exit 1; }

# GNUstep's own flags, less the build's business (dependency files,
# optimisation, debug information); its headers as system headers, which are
# not written for -Wpedantic (as in mac/CMakeLists.txt).
flags=()
read -ra objc_flags <<<"$gnustep"
for flag in "${objc_flags[@]}"; do
  case $flag in
    -MMD | -MP | -O* | -g | -I.) ;;
    -I*) flags+=(-isystem "${flag#-I}") ;;
    *) flags+=("$flag") ;;
  esac
done

# GNUstep is built here for GCC's Objective-C runtime, whose headers
# (objc/objc.h...) sit in GCC's own folder: searched after clang's, so that
# GCC's stddef.h and the like do not stand in for clang's. The gnustep-2.0
# runtime has the non-fragile ABI of Apple's, which takes instance variables
# in class extensions and @implementation blocks as a Mac build does.
flags+=(-fobjc-runtime=gnustep-2.0 -idirafter "$(g++ -print-file-name=include)")

# Apple's clang, targeting macOS, always turns these on (its driver does).
# GNUstep defines no TARGET_OS_ macro, so here any test of one is refused:
# this code tells the platforms apart by GNUSTEP.
apple=(-Wundef-prefix=TARGET_OS_ -Werror=undef-prefix -Wdeprecated-objc-isa-usage
       -Werror=deprecated-objc-isa-usage)

sources=(mac/*.mm tests/mac/*.mm)
failed=0
for source in "${sources[@]}"; do
  # The tests' paths are CMake's to give; any string compiles the same.
  if "$clang" -fsyntax-only -std=c++17 -Wall -Wextra -Wpedantic -Werror "${apple[@]}" "${flags[@]}" \
       -Icore/include -Imac -Itests/mac -Itests/support -DKOVA_MAC_XIB='"MainMenu.xib"' -DKOVA_GEN_PATH='"kova-gen"' \
       "$source"; then
    echo "clang: $source"
  else
    echo "clang: $source FAILED" >&2
    failed=$((failed + 1))
  fi
done
echo "check-mac-clang: $(( ${#sources[@]} - failed )) of ${#sources[@]} sources compile cleanly with $("$clang" -dumpversion)"
(( failed == 0 ))
