#pragma once

#include <string>

// The product version, set once for every program by the build (project VERSION in CMakeLists.txt).
#ifndef QOR_PRODUCT_VERSION
#error "QOR_PRODUCT_VERSION is defined by the build for every target that links the core"
#endif

inline constexpr const char* kProductVersion = QOR_PRODUCT_VERSION;

// What --version prints: "<program> <version>" and a line end.
inline std::string VersionLine(const char* program) {
  return std::string(program) + " " + kProductVersion + "\n";
}
