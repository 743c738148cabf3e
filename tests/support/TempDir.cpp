#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <random>
#endif

std::string MakeTempDir(const std::string& prefix) {
#ifdef _WIN32
  // no mkdtemp: a random name, made with CreateDirectory, which fails when the name is taken (so two
  // tests never share a folder); the folder inherits the per-user temporary folder's access list
  std::random_device seed;
  std::mt19937_64 random(seed() ^ (static_cast<uint64_t>(::GetCurrentProcessId()) << 32));
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string name = prefix;
    for (int i = 0; i < 10; ++i) name += kDigits[random() % 36];
    const std::filesystem::path path = base / name;
    if (::CreateDirectoryW(path.wstring().c_str(), nullptr)) return path.string();
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
#else
  const std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  return mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
#endif
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

TempDir::TempDir() : m_Path(MakeTempDir()) {}

TempDir::~TempDir() { RemoveTree(m_Path); }

namespace {

void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

void RemoveVariable(const std::string& name) {
#ifdef _WIN32
  // an empty value removes the variable from the C library's environment and the process's
  _putenv_s(name.c_str(), "");
#else
  unsetenv(name.c_str());
#endif
}

}  // namespace

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_Name(name) {
  if (const char* old = std::getenv(name)) {
    m_Had = true;
    m_Old = old;
  }
  SetVariable(m_Name, value);
}

ScopedEnv::~ScopedEnv() {
  if (m_Had) {
    SetVariable(m_Name, m_Old);
  } else {
    RemoveVariable(m_Name);
  }
}
