#include "platform/UserDirs.h"

#include <windows.h>
// windows.h first: the security headers need its types
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/FileFaults.h"
#include "platform/WinText.h"

namespace {
constexpr const wchar_t* kAppFolder = L"QorOneClick";

bool SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string SystemText(DWORD code) {
  const std::string text = WindowsErrorText(code);
  return text.empty() ? "error " + std::to_string(code) : text;
}

// The account this process runs as: the owner every folder and file of the tool must have.
struct Account {
  std::unique_ptr<uint8_t[]> buffer;
  PSID sid = nullptr;
};

bool CurrentUser(Account* user) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  bool ok = false;
  if (size != 0) {
    user->buffer = std::make_unique<uint8_t[]>(size);
    if (::GetTokenInformation(token, TokenUser, user->buffer.get(), size, &size)) {
      user->sid = reinterpret_cast<TOKEN_USER*>(user->buffer.get())->User.Sid;
      ok = true;
    }
  }
  ::CloseHandle(token);
  return ok;
}

// Whether the object behind handle belongs to the current account.
bool OwnedByCurrentUser(HANDLE handle) {
  Account user;
  if (!CurrentUser(&user)) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
    return false;
  const bool same = owner != nullptr && ::EqualSid(owner, user.sid);
  ::LocalFree(descriptor);
  return same;
}

// The access list of every folder and file the tool creates: full access for the owner alone,
// inherited by what is created inside, nothing inherited from above ("P": protected).
class OwnerOnlySecurity {
 public:
  OwnerOnlySecurity() {
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;OW)", SDDL_REVISION_1,
                                                               &m_Descriptor, nullptr)) {
      m_Attributes.nLength = sizeof(m_Attributes);
      m_Attributes.lpSecurityDescriptor = m_Descriptor;
      m_Attributes.bInheritHandle = FALSE;
    }
  }
  ~OwnerOnlySecurity() {
    if (m_Descriptor != nullptr) ::LocalFree(m_Descriptor);
  }
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;
  SECURITY_ATTRIBUTES* Get() { return m_Descriptor != nullptr ? &m_Attributes : nullptr; }

 private:
  PSECURITY_DESCRIPTOR m_Descriptor = nullptr;
  SECURITY_ATTRIBUTES m_Attributes{};
};

std::wstring LocalAppData() {
  const wchar_t* v = ::_wgetenv(L"LOCALAPPDATA");
  if (v == nullptr || v[0] == L'\0') return {};
  return v;
}

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
         (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/'));
}

// Opens a folder itself (not what a link in its place points to) to look at it.
HANDLE OpenFolder(const std::wstring& path, bool followLink) {
  return ::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}
}  // namespace

bool EnsurePrivateDirectory(const std::string& dir, std::string* error) {
  std::wstring path = WideFromUtf8(dir);
  if (!IsAbsolute(path)) return SetError(error, "not an absolute path: '" + dir + "'");
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();

  OwnerOnlySecurity security;
  // the parents first, as they are missing; existing ones are left as they are (they may be shared)
  for (size_t pos = path.find_first_of(L"\\/", 3); pos != std::wstring::npos;
       pos = path.find_first_of(L"\\/", pos + 1))
    ::CreateDirectoryW(path.substr(0, pos).c_str(), security.Get());
  if (!::CreateDirectoryW(path.c_str(), security.Get()) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    return SetError(error, "cannot create " + dir + ": " + SystemText(::GetLastError()));

  HANDLE folder = OpenFolder(path, false);
  if (folder == INVALID_HANDLE_VALUE)
    return SetError(error, "cannot open " + dir + ": " + SystemText(::GetLastError()));
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(folder, &info);
  const bool owned = OwnedByCurrentUser(folder);
  ::CloseHandle(folder);
  if (!known) return SetError(error, "cannot open " + dir);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return SetError(error, dir + " is a symbolic link");
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return SetError(error, dir + " is not a directory");
  if (!owned) return SetError(error, dir + " is owned by another user");
  return true;
}

bool GetStateDirectory(std::string& path, std::string* error) {
  path.clear();
  const std::wstring base = LocalAppData();
  if (base.empty() || !IsAbsolute(base))
    return SetError(error, "no local application data folder (LOCALAPPDATA)");
  const std::string dir = Utf8FromWide(base + L"\\" + kAppFolder);
  if (!EnsurePrivateDirectory(dir, error)) return false;
  path = dir;
  return true;
}

bool GetPrivateTempDirectory(std::string& path, std::string* error) {
  path.clear();
  const std::wstring base = LocalAppData();
  if (base.empty() || !IsAbsolute(base))
    return SetError(error, "no local application data folder (LOCALAPPDATA)");
  const std::string dir = Utf8FromWide(base + L"\\" + kAppFolder + L"\\Temp");
  if (!EnsurePrivateDirectory(dir, error)) return false;
  path = dir;
  return true;
}

int OpenPrivateFile(const std::string& dir, const std::string& name, int flags, mode_t mode,
                    bool followFolderLink) {
  (void)mode;  // the owner-only access list takes the place of the mode
  if (name.empty() || name.find_first_of("/\\:") != std::string::npos || name == "." || name == "..") {
    errno = EINVAL;
    return -1;
  }
  const std::wstring folderPath = WideFromUtf8(dir);
  if (!followFolderLink) {
    HANDLE folder = OpenFolder(folderPath, false);
    if (folder == INVALID_HANDLE_VALUE) {
      errno = ENOENT;
      return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(folder, &info);
    ::CloseHandle(folder);
    if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      errno = ELOOP;
      return -1;
    }
  }

  DWORD access = 0;
  switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY:
      access = (flags & O_APPEND) != 0 ? FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES : GENERIC_WRITE;
      break;
    case O_RDWR:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    default:
      access = GENERIC_READ;
      break;
  }
  // truncating back a failed append needs the right to write anywhere in the file
  if ((flags & O_APPEND) != 0) access |= GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if ((flags & O_CREAT) != 0) disposition = (flags & O_EXCL) != 0 ? CREATE_NEW : OPEN_ALWAYS;

  OwnerOnlySecurity security;
  const std::wstring path = folderPath + L"\\" + WideFromUtf8(name);
  // No sharing at all: nobody else reads, writes, renames or deletes the file while it is open.
  // The last component is opened as itself when it is a link, and then refused.
  HANDLE file = ::CreateFileW(path.c_str(), access, 0, security.Get(), disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    switch (::GetLastError()) {
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION:
        errno = EWOULDBLOCK;
        break;
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
      case ERROR_ACCESS_DENIED:
        errno = EACCES;
        break;
      default:
        errno = EIO;
        break;
    }
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  int refuse = 0;
  if (!::GetFileInformationByHandle(file, &info))
    refuse = EIO;
  else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    refuse = ELOOP;
  else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    refuse = EINVAL;
  else if (!OwnedByCurrentUser(file))
    refuse = EPERM;
  else if (info.nNumberOfLinks != 1)
    refuse = EMLINK;
  if (refuse != 0) {
    ::CloseHandle(file);
    errno = refuse;
    return -1;
  }
  // the C runtime's descriptor takes the handle over; closing it closes the handle
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file),
                                   (flags & (O_APPEND | O_RDONLY | O_WRONLY | O_RDWR)) | O_BINARY);
  if (fd < 0) {
    ::CloseHandle(file);
    errno = EMFILE;
    return -1;
  }
  return fd;
}

// The file was opened without sharing: holding it open is holding the lock.
bool TryLockFile(int fd) { return fd >= 0; }

bool SyncFileData(int fd) {
  return CallUnlessFaulted(FileOp::Sync, [&] { return ::_commit(fd); }) == 0;
}

bool TruncateFile(int fd, int64_t size) { return ::_chsize_s(fd, size) == 0; }

int OpenFileToRead(const std::string& path) {
  return ::_wopen(WideFromUtf8(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

bool LocalTimeOf(time_t when, tm* out) { return ::localtime_s(out, &when) == 0; }
