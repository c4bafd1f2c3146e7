# Sourced by the scripts that run Wine: one private prefix under build/, no
# debug chatter, no Mono or Gecko installers.
KOVA_ROOT=${KOVA_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$KOVA_ROOT/build/wine-prefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
