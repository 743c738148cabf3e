#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

// A fresh folder under the system temp directory, removed with everything in it at scope end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qor-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) m_Path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!m_Path.empty()) std::filesystem::remove_all(m_Path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return m_Path; }
  std::string File(const std::string& name) const { return m_Path + "/" + name; }

 private:
  std::string m_Path;
};

// Sets an environment variable for the scope, restoring the previous value.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_Name(name) {
    if (const char* old = std::getenv(name)) {
      m_Had = true;
      m_Old = old;
    }
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (m_Had) setenv(m_Name.c_str(), m_Old.c_str(), 1);
    else unsetenv(m_Name.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_Name;
  std::string m_Old;
  bool m_Had = false;
};
