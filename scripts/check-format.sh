#!/usr/bin/env bash
# Fails, naming the files, when any C or C++ source the project keeps
# differs from what clang-format makes of it (.clang-format). The Cocoa
# application and its tests are left as written: their selectors have
# unnamed parts (copyData:::), which clang-format runs together.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
[[ -n $format ]] || { echo "check-format: clang-format is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' ':!:mac/*' ':!:tests/mac/*')
bad=()
for f in "${files[@]}"; do
  "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if ((${#bad[@]} > 0)); then
  echo "check-format: ${#bad[@]} of ${#files[@]} files are not formatted; run: $format -i ${bad[*]}" >&2
  exit 1
fi
echo "check-format: all ${#files[@]} files formatted"
