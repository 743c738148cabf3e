# Builds the Debian package in its own build folder and prints the package's path.
#
#   cmake -DSOURCE_DIR=<repository> -DBINARY_DIR=<build folder> [-DJOBS=N] [-DGENERATOR=Ninja]
#         -P cmake/BuildPackage.cmake
#
# A Release build of the programs only (no tests, benchmarks or fuzz targets), with the compiler and
# linker flags Debian builds its packages with (dpkg-buildflags with every hardening feature:
# fortified functions, stack protector, position-independent executables, read-only relocations
# bound at start), installed under /usr. The compiler cache is used when it is
# installed, so a second build compiles nothing that did not change.

foreach(_var SOURCE_DIR BINARY_DIR)
  if(NOT ${_var})
    message(FATAL_ERROR "BuildPackage.cmake needs -D${_var}=...")
  endif()
endforeach()
if(NOT JOBS)
  set(JOBS 2)
endif()

set(_flags "")
find_program(_buildflags dpkg-buildflags)
if(_buildflags)
  # every hardening feature, immediate binding included
  set(ENV{DEB_BUILD_MAINT_OPTIONS} "hardening=+all")
  foreach(_kind CFLAGS CXXFLAGS CPPFLAGS LDFLAGS)
    execute_process(COMMAND ${_buildflags} --get ${_kind} OUTPUT_VARIABLE _${_kind}
                    OUTPUT_STRIP_TRAILING_WHITESPACE WORKING_DIRECTORY ${SOURCE_DIR})
  endforeach()
  list(APPEND _flags "-DCMAKE_C_FLAGS=${_CPPFLAGS} ${_CFLAGS}" "-DCMAKE_CXX_FLAGS=${_CPPFLAGS} ${_CXXFLAGS}"
       "-DCMAKE_EXE_LINKER_FLAGS=${_LDFLAGS}")
endif()
find_program(_ccache ccache)
if(_ccache)
  list(APPEND _flags -DCMAKE_CXX_COMPILER_LAUNCHER=${_ccache} -DCMAKE_C_COMPILER_LAUNCHER=${_ccache})
endif()
set(_generator "")
if(GENERATOR AND NOT EXISTS ${BINARY_DIR}/CMakeCache.txt)
  set(_generator -G ${GENERATOR})
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} ${_generator}
          -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
          -DBUILD_TESTING=OFF -DQOR_BUILD_BENCH=OFF -DQOR_BUILD_FUZZ=OFF -DQOR_SANITIZE=OFF ${_flags}
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "configuring the package build failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} -j ${JOBS} --target package RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "building the package failed")
endif()
file(GLOB _debs ${BINARY_DIR}/qor-oneclick_*.deb)
message(STATUS "Package: ${_debs}")
