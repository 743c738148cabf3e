#pragma once

#include <string>

// A fresh private folder (mkdtemp) under the system's temporary directory, removed with everything
// in it at the end of its scope. Path() is "" when none could be made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return m_Path; }
  std::string File(const std::string& name) const { return m_Path + "/" + name; }

 private:
  std::string m_Path;
};

// A fresh private folder whose name starts with prefix; "" when none could be made. The caller
// removes it (RemoveTree).
std::string MakeTempDir(const std::string& prefix = "qor-test-");
// Removes a folder and everything in it; nothing for "".
void RemoveTree(const std::string& path);

// Sets an environment variable for the scope, restoring the previous value (or its absence).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_Name;
  std::string m_Old;
  bool m_Had = false;
};
