# nlohmann-json for the Windows cross build: only its own headers from the build machine, copied
# into the build tree, so no other header of the build machine reaches the Windows compiler.
include_guard(GLOBAL)
set(_qor_json_include ${CMAKE_BINARY_DIR}/mingw-include)
file(COPY /usr/include/nlohmann DESTINATION ${_qor_json_include})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_qor_json_include})
