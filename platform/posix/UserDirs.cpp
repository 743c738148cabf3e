#include "platform/UserDirs.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/FileFaults.h"

namespace {
constexpr const char* kAppFolder = "qor-oneclick";

bool SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string EnvPath(const char* name) {
  const char* v = std::getenv(name);
  // relative values are ignored, as the base directory conventions ask
  if (v == nullptr || v[0] != '/') return {};
  return v;
}

std::string HomeDirectory() {
  std::string home = EnvPath("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = getpwuid(geteuid())) {
    if (pw->pw_dir != nullptr && pw->pw_dir[0] == '/') return pw->pw_dir;
  }
  return {};
}

// mkdir -p for the parents of dir; existing parents are left as they are (they may be shared).
void CreateParents(const std::string& dir) {
  for (size_t pos = dir.find('/', 1); pos != std::string::npos; pos = dir.find('/', pos + 1)) {
    const std::string part = dir.substr(0, pos);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}
}  // namespace

bool EnsurePrivateDirectory(const std::string& dir, std::string* error) {
  if (dir.empty() || dir[0] != '/') return SetError(error, "not an absolute path: '" + dir + "'");
  std::string path = dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();

  CreateParents(path);
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return SetError(error, "cannot create " + path + ": " + std::strerror(errno));

  // open without following a link, then check what was opened (not the name, which can change)
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    struct stat ls {};
    if (lstat(path.c_str(), &ls) == 0 && S_ISLNK(ls.st_mode))
      return SetError(error, path + " is a symbolic link");
    if (e == ENOTDIR) return SetError(error, path + " is not a directory");
    return SetError(error, "cannot open " + path + ": " + std::strerror(e));
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    close(fd);
    return SetError(error, path + " is not a directory");
  }
  if (st.st_uid != geteuid()) {
    close(fd);
    return SetError(error, path + " is owned by another user");
  }
  // our own folder, but opened up by someone (or an old umask): close it again
  if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
    close(fd);
    return SetError(error, "cannot make " + path + " private: " + std::strerror(errno));
  }
  close(fd);
  return true;
}

bool GetStateDirectory(std::string& path, std::string* error) {
  path.clear();
  std::string base = EnvPath("XDG_STATE_HOME");
  if (base.empty()) {
    const std::string home = HomeDirectory();
    if (home.empty()) return SetError(error, "no home directory");
    base = home + "/.local/state";
  }
  const std::string dir = base + "/" + kAppFolder;
  if (!EnsurePrivateDirectory(dir, error)) return false;
  path = dir;
  return true;
}

bool GetPrivateTempDirectory(std::string& path, std::string* error) {
  path.clear();
  std::string base = EnvPath("XDG_RUNTIME_DIR");
  if (base.empty()) base = EnvPath("TMPDIR");
  if (base.empty()) base = "/tmp";
  const std::string dir = base + "/" + kAppFolder + "-" + std::to_string(geteuid());
  if (!EnsurePrivateDirectory(dir, error)) return false;
  path = dir;
  return true;
}

int OpenPrivateFile(const std::string& dir, const std::string& name, int flags, mode_t mode,
                    bool followFolderLink) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    errno = EINVAL;
    return -1;
  }
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followFolderLink ? 0 : O_NOFOLLOW));
  if (dfd < 0) return -1;
  const int fd = openat(dfd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
  const int openErrno = errno;
  close(dfd);
  if (fd < 0) {
    errno = openErrno;
    return -1;
  }
  struct stat st {};
  int refuse = 0;
  if (fstat(fd, &st) != 0)
    refuse = errno;
  else if (!S_ISREG(st.st_mode))
    refuse = EINVAL;
  else if (st.st_uid != geteuid())
    refuse = EPERM;
  else if (st.st_nlink != 1)
    refuse = EMLINK;
  if (refuse != 0) {
    close(fd);
    errno = refuse;
    return -1;
  }
  // O_NONBLOCK only guarded the open against a planted FIFO; a regular file does not need it
  const int fl = fcntl(fd, F_GETFL);
  if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

bool TryLockFile(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

bool SyncFileData(int fd) {
  return CallUnlessFaulted(FileOp::Sync, [&] { return fdatasync(fd); }) == 0;
}

bool TruncateFile(int fd, int64_t size) { return ftruncate(fd, static_cast<off_t>(size)) == 0; }

int OpenFileToRead(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC); }

bool LocalTimeOf(time_t when, tm* out) { return localtime_r(&when, out) != nullptr; }
