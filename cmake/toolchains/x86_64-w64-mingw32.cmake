# 64-bit Windows with mingw-w64. Its tests are the Windows ones that run on
# every machine: Wine's 32-bit loader needs a kernel that runs i386 programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KOVA_MINGW_TRIPLET x86_64-w64-mingw32)
set(KOVA_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
