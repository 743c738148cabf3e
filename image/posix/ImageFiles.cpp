#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "image/CImageCopy.h"
#include "platform/FileFaults.h"

namespace {
// One read of Linux returns at most about 2 GiB; reading in pieces also lets a signal interrupt it.
constexpr size_t kReadPiece = size_t{1} << 30;

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

int64_t Nanoseconds(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

void FromStat(const struct stat& st, FileIdentity* out) {
  out->device = static_cast<uint64_t>(st.st_dev);
  out->inode = static_cast<uint64_t>(st.st_ino);
  out->size = static_cast<uint64_t>(st.st_size);
  out->modifiedNs = Nanoseconds(st.st_mtim);
  out->changedNs = Nanoseconds(st.st_ctim);
  out->regular = S_ISREG(st.st_mode);
}
}  // namespace

bool CImageCopy::Allocate(size_t size) {
  Release();
  if (size == 0) return false;
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return false;
  // Large pages where the system allows them: filling fresh memory costs one fault per page, and on
  // a virtual machine 4 KiB faults made reading a 64 MiB image take 20 times as long as the copy
  // itself. Only whole 2 MiB pages inside the range become large, so the memory used stays the size.
  (void)madvise(memory, size, MADV_HUGEPAGE);
  m_Data = static_cast<uint8_t*>(memory);
  m_Size = size;
  return true;
}

bool CImageCopy::ReadFrom(int fd) {
  size_t done = 0;
  while (done < m_Size) {
    const size_t want = std::min(kReadPiece, m_Size - done);
    const ssize_t n = CallUnlessFaulted(
        FileOp::Read, [&] { return pread(fd, m_Data + done, want, static_cast<off_t>(done)); });
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = 0;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void CImageCopy::Seal() {
  if (m_Data != nullptr) (void)mprotect(m_Data, m_Size, PROT_READ);
}

void CImageCopy::Release() {
  if (m_Data != nullptr) munmap(m_Data, m_Size);
  m_Data = nullptr;
  m_Size = 0;
}

bool FileIdentity::OfOpen(int fd, FileIdentity* out) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  FromStat(st, out);
  return true;
}

bool FileIdentity::OfPath(const std::string& path, FileIdentity* out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  FromStat(st, out);
  return true;
}

bool FileIdentity::operator==(const FileIdentity& o) const {
  return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs &&
         changedNs == o.changedNs && regular == o.regular;
}

// O_NONBLOCK so that a FIFO named *.bin cannot stall the scan
int OpenImageFile(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }

void CloseImageFile(int fd) { close(fd); }

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* e = readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  return true;
}

bool ResolveFolderPath(const std::string& path, std::string* resolved) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  *resolved = real;
  std::free(real);
  // the folder itself must open as one
  std::unique_ptr<DIR, DirCloser> dir(opendir(resolved->c_str()));
  return dir != nullptr;
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return {};
  return std::string(buf.data(), static_cast<size_t>(n));
}

int CreateNewFile(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return CallUnlessFaulted(FileOp::Rename, [&] { return rename(from.c_str(), to.c_str()); }) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

unsigned long ProcessNumber() { return static_cast<unsigned long>(getpid()); }

std::string CurrentFolder() {
  std::vector<char> cwd(4096);
  if (getcwd(cwd.data(), cwd.size()) == nullptr) return {};
  return cwd.data();
}
