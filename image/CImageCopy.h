#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

// The program's own copy of an image file. It is read at the Check, verified, and is what the
// Upgrade sends: once sealed the memory is read-only, so nothing that happens to the file (rewritten,
// truncated, replaced) and no stray write of the program can change the verified bytes.
//
// Anonymous memory of its own rather than the heap: an allocation that cannot be had is a result,
// never an exception, and the pages can be made read-only. Owned by one CBinFile; movable, not
// copyable.
class CImageCopy {
 public:
  CImageCopy() = default;
  ~CImageCopy() { Release(); }
  CImageCopy(CImageCopy&& other) noexcept;
  CImageCopy& operator=(CImageCopy&& other) noexcept;
  CImageCopy(const CImageCopy&) = delete;
  CImageCopy& operator=(const CImageCopy&) = delete;

  // Writable memory of size bytes (size > 0); false when it cannot be had. Releases what was held.
  bool Allocate(size_t size);
  // Fills the copy from a file descriptor, from offset 0 to the copy's size. false with errno set
  // when a read fails, and with errno 0 when the file ended early (it shrank while being read).
  bool ReadFrom(int fd);
  // Makes the memory read-only; no write through any pointer is possible afterwards.
  void Seal();
  void Release();

  const uint8_t* Data() const { return m_Data; }
  size_t Size() const { return m_Size; }

 private:
  uint8_t* m_Data = nullptr;
  size_t m_Size = 0;
};

// What tells one state of a file from another: its device and inode (another file under the same
// name), size, and modification and status-change times (the same file written to). The status-change
// time cannot be set back by a program, so a rewrite that restores the size and the modification time
// is still seen.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  static FileIdentity Of(const struct stat& st);
  bool operator==(const FileIdentity& other) const;
};
