#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

std::string MakeTempDir(const std::string& prefix) {
  const std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  return mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

TempDir::TempDir() : m_Path(MakeTempDir()) {}

TempDir::~TempDir() { RemoveTree(m_Path); }

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_Name(name) {
  if (const char* old = std::getenv(name)) {
    m_Had = true;
    m_Old = old;
  }
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (m_Had) {
    setenv(m_Name.c_str(), m_Old.c_str(), 1);
  } else {
    unsetenv(m_Name.c_str());
  }
}
