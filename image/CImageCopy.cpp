#include "image/CImageCopy.h"

#include <errno.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace {
// One read of Linux returns at most about 2 GiB; reading in pieces also lets a signal interrupt it.
constexpr size_t kReadPiece = size_t{1} << 30;
}  // namespace

CImageCopy::CImageCopy(CImageCopy&& other) noexcept
    : m_Data(std::exchange(other.m_Data, nullptr)), m_Size(std::exchange(other.m_Size, 0)) {}

CImageCopy& CImageCopy::operator=(CImageCopy&& other) noexcept {
  if (this != &other) {
    Release();
    m_Data = std::exchange(other.m_Data, nullptr);
    m_Size = std::exchange(other.m_Size, 0);
  }
  return *this;
}

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
    const ssize_t n = pread(fd, m_Data + done, want, static_cast<off_t>(done));
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

FileIdentity FileIdentity::Of(const struct stat& st) {
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.modified = st.st_mtim;
  id.changed = st.st_ctim;
  return id;
}

bool FileIdentity::operator==(const FileIdentity& o) const {
  return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
         modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
         changed.tv_nsec == o.changed.tv_nsec;
}
