#include <windows.h>
// windows.h first: io.h and the file calls need its types
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "image/CImageCopy.h"
#include "platform/FileFaults.h"
#include "platform/WinText.h"

namespace {
// ReadFile takes at most 4 GiB - 1 per call; pieces of 1 GiB keep to that.
constexpr size_t kReadPiece = size_t{1} << 30;

int64_t Nanoseconds(const FILETIME& t) {
  return static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) * 100;
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

bool FromHandle(HANDLE file, FileIdentity* out) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  // the change time (which no program can set back) is only in the basic information
  if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic))) return false;
  out->device = info.dwVolumeSerialNumber;
  out->inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  out->size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  out->modifiedNs = Nanoseconds(info.ftLastWriteTime);
  out->changedNs = basic.ChangeTime.QuadPart * 100;
  out->regular = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
                 ::GetFileType(file) == FILE_TYPE_DISK;
  return true;
}
}  // namespace

bool CImageCopy::Allocate(size_t size) {
  Release();
  if (size == 0) return false;
  void* memory = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (memory == nullptr) return false;
  m_Data = static_cast<uint8_t*>(memory);
  m_Size = size;
  return true;
}

bool CImageCopy::ReadFrom(int fd) {
  const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (file == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  size_t done = 0;
  while (done < m_Size) {
    const size_t want = std::min(kReadPiece, m_Size - done);
    // an explicit offset, as pread: the descriptor's own position is not used
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(done);
    at.OffsetHigh = static_cast<DWORD>(uint64_t{done} >> 32);
    DWORD n = 0;
    if (const int fault = TakeFileFault(FileOp::Read)) {
      errno = fault;
      return false;
    }
    if (!::ReadFile(file, m_Data + done, static_cast<DWORD>(want), &n, &at)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) {
        errno = 0;
        return false;
      }
      errno = ErrnoOf(error);
      return false;
    }
    if (n == 0) {
      errno = 0;
      return false;
    }
    done += n;
  }
  return true;
}

void CImageCopy::Seal() {
  DWORD before = 0;
  if (m_Data != nullptr) (void)::VirtualProtect(m_Data, m_Size, PAGE_READONLY, &before);
}

void CImageCopy::Release() {
  if (m_Data != nullptr) ::VirtualFree(m_Data, 0, MEM_RELEASE);
  m_Data = nullptr;
  m_Size = 0;
}

bool FileIdentity::OfOpen(int fd, FileIdentity* out) {
  const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  return file != INVALID_HANDLE_VALUE && FromHandle(file, out);
}

bool FileIdentity::OfPath(const std::string& path, FileIdentity* out) {
  // opened for its attributes only, sharing everything, so a writer elsewhere is not disturbed
  HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = FromHandle(file, out);
  ::CloseHandle(file);
  return ok;
}

bool FileIdentity::operator==(const FileIdentity& o) const {
  return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs &&
         changedNs == o.changedNs && regular == o.regular;
}

int OpenImageFile(const std::string& path) {
  // Read sharing only: nobody writes the file while its copy is read (a writer already at work makes
  // the open fail, and the image is refused as it cannot be opened).
  HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(::GetLastError());
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(file);
    errno = EMFILE;
  }
  return fd;
}

void CloseImageFile(int fd) { ::_close(fd); }

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(WideFromUtf8(folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // an empty folder still lists "." and ".."; only a missing or unreadable one fails
    errno = ErrnoOf(error);
    return false;
  }
  do {
    const std::string name = Utf8FromWide(found.cFileName);
    if (name != "." && name != "..") names->push_back(name);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return true;
}

bool ResolveFolderPath(const std::string& path, std::string* resolved) {
  HANDLE folder = ::CreateFileW(WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(::GetLastError());
    return false;
  }
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetFinalPathNameByHandleW(folder, buffer.data(), static_cast<DWORD>(buffer.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(folder, &info);
  ::CloseHandle(folder);
  if (n == 0 || n >= buffer.size() || !known) {
    errno = EIO;
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errno = ENOTDIR;
    return false;
  }
  std::wstring text(buffer.data(), n);
  // "\\?\C:\..." is the long form of "C:\..."; a network share "\\?\UNC\server\share" stays as it is
  if (text.rfind(L"\\\\?\\", 0) == 0 && text.size() > 6 && text[5] == L':') text.erase(0, 4);
  *resolved = Utf8FromWide(text);
  return true;
}

bool IsAbsolutePath(const std::string& path) {
  return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/'));
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return {};
  return Utf8FromWide(std::wstring_view(buffer.data(), n));
}

int CreateNewFile(const std::string& path) {
  HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : ErrnoOf(error);
    return -1;
  }
  // binary: the C library's text mode would turn every LF byte of an image into CR LF
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(file);
    errno = EMFILE;
  }
  return fd;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  if (const int fault = TakeFileFault(FileOp::Rename)) {
    errno = fault;
    return false;
  }
  if (::MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  errno = ErrnoOf(::GetLastError());
  return false;
}

bool RemoveFile(const std::string& path) {
  if (::DeleteFileW(WideFromUtf8(path).c_str())) return true;
  errno = ErrnoOf(::GetLastError());
  return false;
}

unsigned long ProcessNumber() { return ::GetCurrentProcessId(); }

std::string CurrentFolder() {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) return {};
  return Utf8FromWide(std::wstring_view(buffer.data(), n));
}
