# What both mingw-w64 toolchains share; each sets KOVA_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR, then includes this. The posix thread model is needed
# by GoogleTest (std::mutex); everything is linked statically so the programs
# import only Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KOVA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KOVA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine, in the project's prefix for this architecture, through
# a wrapper that names the loader itself.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh ${KOVA_WINE_ARCH})
