# 32-bit Windows with mingw-w64: the main Windows deliverable.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KOVA_MINGW_TRIPLET i686-w64-mingw32)
set(KOVA_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
