# Sourced by the scripts that run Wine, with the architecture as its argument:
#   source scripts/wine-env.sh win32   (or win64)
# One private prefix per architecture under build/, no debug chatter, no Mono
# or Gecko installers. KOVA_WINE_PREFIX (an absolute path) puts the prefix
# elsewhere: a run beside another in the same tree then neither shares its
# wineserver nor stops it at the end. The loader and server are named
# directly: /usr/bin/wine always takes the 32-bit loader when wine32 is
# installed, even on a kernel that cannot run it.
KOVA_ROOT=${KOVA_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
KOVA_WINE_ARCH=${1:-${KOVA_WINE_ARCH:-win32}}
case $KOVA_WINE_ARCH in
  win32) export WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32 ;;
  win64) export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 ;;
  *) echo "wine-env: unknown architecture '$KOVA_WINE_ARCH' (win32 or win64)" >&2; return 2 ;;
esac
export KOVA_WINE_ARCH
export WINEARCH=$KOVA_WINE_ARCH
export WINEPREFIX=${KOVA_WINE_PREFIX:-$KOVA_ROOT/build/wine-$KOVA_WINE_ARCH}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
