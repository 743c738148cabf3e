#include "app/HelpFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/Resources.h"
#include "platform/UserDirs.h"

namespace {
bool WriteAll(int fd, const unsigned char* bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

HelpFileResult EnsureHelpFile(const std::string& directory, const unsigned char* bytes, size_t size,
                              std::string& path) {
  return EnsureHelpFile(directory, kHelpFileName, bytes, size, path);
}

HelpFileResult EnsureHelpFile(const std::string& directory, const std::string& fileName,
                              const unsigned char* bytes, size_t size, std::string& path) {
  path = directory + "/" + fileName;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    // whatever its content or age; only a regular file is opened, never a link or a device
    return S_ISREG(st.st_mode) ? HelpFileResult::Existing : HelpFileResult::Failed;
  }
  if (bytes == nullptr || size == 0) return HelpFileResult::Failed;

  static std::atomic<unsigned> counter{0};
  const std::string tempName =
      fileName + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  const int fd = OpenPrivateFile(directory, tempName, O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return HelpFileResult::Failed;
  const bool written = WriteAll(fd, bytes, size);
  const bool closed = ::close(fd) == 0;
  const std::string tempPath = directory + "/" + tempName;
  if (!written || !closed || ::rename(tempPath.c_str(), path.c_str()) != 0) {
    ::unlink(tempPath.c_str());
    return HelpFileResult::Failed;
  }
  return HelpFileResult::Written;
}

const unsigned char* HelpGuideForLanguage(const std::string& language, size_t& size, std::string& fileName) {
  if (!language.empty()) {
    if (const unsigned char* bytes = LoadRawResource(language, "HELP", &size)) {
      fileName = "QorUpgradeHelp." + language + ".html";
      return bytes;
    }
  }
  fileName = kHelpFileName;
  return LoadRawResource(152, "HELP", &size);
}
