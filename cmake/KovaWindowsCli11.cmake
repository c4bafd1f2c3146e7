# CLI11 for a mingw-w64 build. It is header-only, but Debian installs it in
# /usr/include beside glibc's headers, which a Windows compile must not
# see: its folder alone is copied into the build and used from there.
# Without it the commands are left out, as natively.
find_path(KOVA_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KOVA_CLI11_INCLUDE)
  message(WARNING "CLI11 not found: the Windows commands are not built (Debian: libcli11-dev)")
  return()
endif()
set(kova_cli11_copy ${PROJECT_BINARY_DIR}/cli11)
file(COPY ${KOVA_CLI11_INCLUDE}/CLI DESTINATION ${kova_cli11_copy})
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${kova_cli11_copy})
