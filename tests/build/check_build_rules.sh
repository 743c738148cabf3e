#!/bin/sh
# The build's own rules, checked over the source tree:
#  - every C++ source file is named in a CMakeLists.txt of its folder or of a folder above it, so a
#    file cannot be left out of the build by forgetting it (nothing is globbed);
#  - no CMake file globs the source tree (a glob of build output or of a folder the builder names is
#    no source list) or drops a program or a test on a missing file or target.
#   check_build_rules.sh <source dir>
set -eu
cd "$1"
status=0

# the CMake files of the tree, outside build folders
cmake_files=$(find . -path ./build -prune -o -path './build-*' -prune -o \
                \( -name CMakeLists.txt -o -name '*.cmake' \) -print | LC_ALL=C sort)

for source in $(find . -path ./build -prune -o -path './build-*' -prune -o -name '*.cpp' -print | LC_ALL=C sort); do
  name=$(basename "$source")
  dir=$(dirname "$source")
  listed=0
  while :; do
    if [ -f "$dir/CMakeLists.txt" ] && grep -qw -- "$name" "$dir/CMakeLists.txt"; then
      listed=1
      break
    fi
    [ "$dir" = "." ] && break
    dir=$(dirname "$dir")
  done
  if [ "$listed" = 0 ]; then
    echo "$source: named in no CMakeLists.txt of its folder or above"
    status=1
  fi
done

for file in $cmake_files; do
  if grep -nE 'file *\( *GLOB' "$file" | grep -E 'SOURCE_DIR|\*\.(cpp|h|po|ts|html|qrc)'; then
    echo "$file: globs the source tree"
    status=1
  fi
  if grep -nE 'if *\( *(NOT +)?(EXISTS|TARGET) |TARGET_NAME_IF_EXISTS|^[[:space:]]*return *\( *\)' "$file"; then
    echo "$file: a guard that leaves something out without an error"
    status=1
  fi
done

[ "$status" = 0 ] && echo "every source is listed; no glob, no silent guard"
exit "$status"
