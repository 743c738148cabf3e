# Cross build for 64-bit Windows with MinGW-w64 (Debian: mingw-w64, g++-mingw-w64-x86-64-posix).
# The "posix" thread variant of the compiler is the one whose C++ library has std::thread and
# std::mutex. Programs link their runtime statically, so each .exe runs on a bare Windows 10 or later.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QOR_MINGW_TRIPLE}-windres)
set(CMAKE_ASM_COMPILER ${QOR_MINGW_TRIPLE}-gcc-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${QOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# zlib (Debian: libz-mingw-w64-dev) linked statically too: its import library would need zlib1.dll.
set(ZLIB_LIBRARY /usr/${QOR_MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "")
# Test programs run under Wine on the build machine: its 64-bit loader (Debian keeps wine64 in
# /usr/lib/wine, off the PATH), else the wine command, through wine-run.sh (a run that Wine itself
# lost is made again).
find_program(QOR_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${QOR_WINE})
# nlohmann-json is header-only: its headers are taken from the build machine, alone (its own package
# file would put the whole of /usr/include on the include path).
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw CACHE PATH "")
