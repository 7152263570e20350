# CLI11 and nlohmann-json for the Windows build. Both are header-only and hold
# no platform code, so the build machine's Debian packages serve: their header
# folders are copied into the build tree, which keeps the rest of the build
# machine's /usr/include out of the Windows compiler's search path.
set(TARVIK_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only/include)
foreach(folder CLI nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-deps.sh")
  endif()
  file(COPY /usr/include/${folder} DESTINATION ${TARVIK_HEADER_ONLY_DIR})
endforeach()
# Imported targets' headers are system headers: not held to this project's warnings.
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${TARVIK_HEADER_ONLY_DIR})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${TARVIK_HEADER_ONLY_DIR})
