#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program's own copy of an image file (the memory and the file calls are the platform's own:
// image/posix/ImageFiles.cpp, image/win32/ImageFiles.cpp). It is read at the Check, verified, and is what the
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
  // Fills the copy from a file descriptor (OpenImageFile), from offset 0 to the copy's size. false
  // with errno set when a read fails, and with errno 0 when the file ended early (it shrank while
  // being read).
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

// What tells one state of a file from another: the file itself (device and inode, or volume and
// file index), its size, and its modification and status-change times (the same file written to).
// The status-change time cannot be set back by a program, so a rewrite that restores the size and the
// modification time is still seen. Times are in nanoseconds (Windows: 100 ns steps).
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;
  bool regular = false;  // a regular file (not a folder, a FIFO or a device)

  // The open file fd, or the file a path names now (links followed); false when it cannot be told.
  static bool OfOpen(int fd, FileIdentity* out);
  static bool OfPath(const std::string& path, FileIdentity* out);
  bool operator==(const FileIdentity& other) const;
};

// Opens an image file (a UTF-8 path) for reading: binary, not inherited by child processes, and
// without waiting on a FIFO that has no writer. -1 with errno set on failure.
int OpenImageFile(const std::string& path);
void CloseImageFile(int fd);

// The names in a folder in the order the file system lists them ("." and ".." left out); false
// with errno set when the folder cannot be opened.
bool ListFolder(const std::string& folder, std::vector<std::string>* names);
// The absolute form of path with links resolved; false with errno set when it cannot be had.
bool ResolveFolderPath(const std::string& path, std::string* resolved);
// Whether path is absolute (on Windows: with a drive letter or a \\server\share prefix).
bool IsAbsolutePath(const std::string& path);
// The program's own file, or empty when the system does not tell it.
std::string ExecutablePath();
// The current folder, or empty.
std::string CurrentFolder();
// Creates path, which must not exist yet, for writing: binary, not inherited, with the permissions
// the user's defaults give a new file. -1 with errno set (EEXIST when it exists).
int CreateNewFile(const std::string& path);
// Gives the file at from the name to, in one step, replacing a file of that name. false with errno.
bool ReplaceFileWith(const std::string& from, const std::string& to);
// Removes a file; false with errno.
bool RemoveFile(const std::string& path);
// A number that tells this process from others running at the same time.
unsigned long ProcessNumber();
