#include "log/CDownloadLog.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/Clock.h"
#include "platform/FileFaults.h"
#include "platform/TextCodec.h"
#include "platform/UserDirs.h"
#include "platform/Version.h"

namespace {
constexpr size_t kFormatBufferSize = 1040;
// How long a flush waits for another holder of the file's lock, in clock milliseconds.
constexpr uint64_t kLockWaitMs = 500;
constexpr uint32_t kLockPollMs = 10;

// "%Y-%m-%d %H:%M:%S " in local time.
std::string TimeStamp() {
  const time_t now = std::time(nullptr);
  tm local{};
  LocalTimeOf(now, &local);
  char buf[32];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S ", &local);
  return std::string(buf, n);
}

// A message cut at the buffer's end must not end inside a UTF-8 sequence.
size_t TrimToCharBoundary(const char* s, size_t n) {
  size_t start = n;
  while (start > 0 && (static_cast<unsigned char>(s[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return n;
  const unsigned char lead = static_cast<unsigned char>(s[start - 1]);
  size_t need = 1;
  if ((lead & 0xE0) == 0xC0)
    need = 2;
  else if ((lead & 0xF0) == 0xE0)
    need = 3;
  else if ((lead & 0xF8) == 0xF0)
    need = 4;
  return (n - (start - 1) < need) ? start - 1 : n;
}

bool TakeLock(int fd) {
  const uint64_t start = TickMs();
  for (;;) {
    if (TryLockFile(fd)) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (TickMs() - start >= kLockWaitMs) return false;
    SleepMs(kLockPollMs);
  }
}

// What the user is told when the file cannot be opened (OpenPrivateFile's refusals included).
std::string OpenErrorText(const std::string& path, int error) {
  switch (error) {
    case ELOOP:
      return path + " is a symbolic link";
    case EMLINK:
      return path + " has more than one link";
    case EPERM:
      return path + " is owned by another user";
    case EINVAL:
      return path + " is not a regular file";
    default:
      return "cannot open " + path + ": " + std::strerror(error);
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    errno = 0;
    const ssize_t n = CallUnlessFaulted(FileOp::Write, [&] { return write(fd, data, size); });
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

CDownloadLog::CDownloadLog() : CDownloadLog(LogKind::Technician) {}

CDownloadLog::CDownloadLog(LogKind kind) {
  std::string error;
  if (DefaultPath(kind, m_FilePath, error))
    m_PathValid = true;
  else
    m_LastError = error;
}

const char* CDownloadLog::FileName(LogKind kind) {
  return kind == LogKind::Demo ? "QorUpgradeLog-demo.txt" : "QorUpgradeLog.txt";
}

bool CDownloadLog::DefaultPath(LogKind kind, std::string& path, std::string& error) {
  std::string dir;
  std::string why;
  if (!GetStateDirectory(dir, &why)) {
    path.clear();
    error = "no state directory: " + why;
    return false;
  }
  path = dir + "/" + FileName(kind);
  return true;
}

std::string CDownloadLog::RunHeaderText(const std::string& frontEnd) {
  const time_t now = std::time(nullptr);
  tm local{};
  LocalTimeOf(now, &local);
  char zone[64];
  char offset[16];
  if (std::strftime(zone, sizeof zone, "%Z", &local) == 0) zone[0] = '\0';
  if (std::strftime(offset, sizeof offset, "%z", &local) == 0) offset[0] = '\0';
  std::string utc = "UTC";
  // "+0100" is shown "+01:00"
  if (std::strlen(offset) == 5) utc += std::string(offset, 3) + ":" + std::string(offset + 3, 2);
  return std::string("QorOneClick ") + kProductVersion + ", " + frontEnd + ", time zone " +
         (zone[0] ? std::string(zone) + " (" + utc + ")" : utc);
}

void CDownloadLog::WriteRunHeader(const std::string& frontEnd) {
  m_Buffer.insert(0, TimeStamp() + PrintableText(RunHeaderText(frontEnd), true) + "\r\n");
}

CDownloadLog::CDownloadLog(const std::string& filePath)
    : m_FilePath(filePath), m_PathValid(!filePath.empty()), m_FollowFolderLinks(true) {
  if (!m_PathValid) m_LastError = "no log file named";
}

CDownloadLog::~CDownloadLog() { Flush(); }

int CDownloadLog::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintV(format, args);
  va_end(args);
  return 1;
}

int CDownloadLog::PrintV(const char* format, va_list args) {
  char buf[kFormatBufferSize];
  int n = std::vsnprintf(buf, sizeof buf, format ? format : "", args);
  size_t len = n < 0 ? 0 : static_cast<size_t>(n);
  if (len >= sizeof buf) len = TrimToCharBoundary(buf, sizeof buf - 1);
  m_Buffer += TimeStamp();
  m_Buffer += PrintableText(std::string_view(buf, len), true);
  m_Buffer += "\r\n";
  return 1;
}

int CDownloadLog::PrintText(const std::string& text) {
  m_Buffer += TimeStamp();
  m_Buffer += PrintableText(text, true);
  m_Buffer += "\r\n";
  return 1;
}

int CDownloadLog::Flush(bool sync) {
  if (!m_PathValid || m_Buffer.empty()) return 0;

#ifdef _WIN32
  // Windows names folders with either separator
  const size_t slash = m_FilePath.find_last_of("/\\");
#else
  const size_t slash = m_FilePath.rfind('/');
#endif
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : m_FilePath.substr(0, slash));
  const std::string name = slash == std::string::npos ? m_FilePath : m_FilePath.substr(slash + 1);

  // Where the file is opened without sharing (Windows), its open is the lock: another program's
  // flush holds it for as long as a lock, and is waited for as long.
  int fd = -1;
  const uint64_t start = TickMs();
  for (;;) {
    fd = OpenPrivateFile(dir, name, O_WRONLY | O_APPEND | O_CREAT, 0600, m_FollowFolderLinks);
    if (fd >= 0 || errno != EWOULDBLOCK || TickMs() - start >= kLockWaitMs) break;
    SleepMs(kLockPollMs);
  }
  if (fd < 0 && errno == EWOULDBLOCK) {
    m_LastError = m_FilePath + " is locked by another program";
    return 0;
  }
  if (fd < 0) {
    m_LastError = OpenErrorText(m_FilePath, errno);
    return 0;
  }
  // the lock is held only while appending; another flush (this or another program) waits for it
  if (!TakeLock(fd)) {
    close(fd);
    m_LastError = m_FilePath + " is locked by another program";
    return 0;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    m_LastError = "cannot write " + m_FilePath + ": " + std::strerror(errno);
    close(fd);
    return 0;
  }
  if (!WriteAll(fd, m_Buffer.data(), m_Buffer.size())) {
    m_LastError = "cannot write " + m_FilePath + ": " + std::strerror(errno != 0 ? errno : ENOSPC);
    // a full disk or a size limit wrote part of the text: take it back, keep it pending
    if (!TruncateFile(fd, st.st_size)) {
      // nothing more can be done; the text stays pending and the next flush tries again
    }
    close(fd);
    return 0;
  }
  if (sync) {
    // the text is in the file whatever the disk says; a failed sync is not worth writing it twice
    (void)SyncFileData(fd);
  }
  close(fd);  // releases the lock
  m_Buffer.clear();
  m_Written = true;
  m_LastError.clear();
  return 1;
}
