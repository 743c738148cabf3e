#include "upgrade/SupportReportSystem.h"

#include <windows.h>
// windows.h first: io.h and the file calls need its types
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/CImageCopy.h"
#include "net/LocalInterfaces.h"
#include "platform/FileFaults.h"
#include "platform/UserDirs.h"
#include "upgrade/SupportReport.h"

namespace {
size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

int PrefixOfNetmask(uint32_t netmask) {
  int bits = 0;
  for (uint32_t m = netmask; m != 0; m <<= 1) ++bits;
  return bits;
}
}  // namespace

// Windows takes either separator; a path the user typed often mixes them.
std::string FolderOf(const std::string& path) {
  const size_t slash = LastSeparator(path);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Windows lists no routing table in a file, and this build does not ask the IP helper for one: the
// manifest names what is missing.
const char* const kNetworkSummaryWhat =
    "network interfaces and their IPv4 addresses (IPv4 routes: missing, not read on this system)";

// The file is created in the user's own folder, whose access list admits the owner alone, and
// replaces the old one in a single step (MoveFileEx with write-through).
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string& error) {
  const std::string stem = FolderOf(path) + "/." + BaseName(path) + "." + std::to_string(ProcessNumber());
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = stem + "." + std::to_string(attempt) + ".tmp";
    fd = CreateNewFile(temp);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = "cannot create a file in " + FolderOf(path) + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (done < data.size()) {
    const size_t chunk = std::min<size_t>(data.size() - done, 1u << 20);
    const int n = CallUnlessFaulted(
        FileOp::Write, [&] { return ::_write(fd, data.data() + done, static_cast<unsigned>(chunk)); });
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok) ok = SyncFileData(fd);
  const int writeErrno = errno;
  ::_close(fd);
  if (!ok || !ReplaceFileWith(temp, path)) {
    error = "cannot write " + path + ": " + std::strerror(ok ? errno : (writeErrno ? writeErrno : ENOSPC));
    RemoveFile(temp);
    return false;
  }
  return true;
}

// The version the kernel itself reports (RtlGetVersion: GetVersionEx answers what the program's
// manifest claims to support, not what runs).
std::string KernelText() {
  std::string text;
  using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const FARPROC proc = ntdll != nullptr ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (proc != nullptr &&
      reinterpret_cast<RtlGetVersionCall>(reinterpret_cast<void (*)()>(proc))(&version) == 0) {
    text += "kernel: Windows NT " + std::to_string(version.dwMajorVersion) + "." +
            std::to_string(version.dwMinorVersion) + " build " + std::to_string(version.dwBuildNumber) + "\n";
  } else {
    text += "kernel: Windows, version missing (not readable)\n";
  }
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      text += "machine: x86_64\n";
      break;
    case PROCESSOR_ARCHITECTURE_ARM64:
      text += "machine: aarch64\n";
      break;
    case PROCESSOR_ARCHITECTURE_INTEL:
      text += "machine: i686\n";
      break;
    default:
      text += "machine: unknown (" + std::to_string(info.wProcessorArchitecture) + ")\n";
      break;
  }
  return text;
}

std::string NetworkSummary() {
  std::string text = "Network interfaces:\n";
  std::string error;
  const std::vector<LocalIpv4Address> addresses = ListLocalIpv4Addresses(&error);
  if (addresses.empty() && !error.empty()) {
    text += "  cannot be read: " + error + "\n";
  } else {
    // one block per interface, in the order the system lists them; IPv4 addresses only
    std::vector<std::string> order;
    for (const LocalIpv4Address& a : addresses) {
      bool seen = false;
      for (const std::string& name : order) seen = seen || name == a.interfaceName;
      if (!seen) order.push_back(a.interfaceName);
    }
    for (const std::string& name : order) {
      std::string lines;
      bool up = false;
      bool running = false;
      bool loopback = false;
      for (const LocalIpv4Address& a : addresses) {
        if (a.interfaceName != name) continue;
        up = up || a.up;
        running = running || a.running;
        loopback = loopback || a.loopback;
        lines += "    inet " + Ipv4Text(a.address) + "/" + std::to_string(PrefixOfNetmask(a.netmask)) + "\n";
      }
      text += "  " + name + (up ? " up" : " down") + (running ? " running" : "") +
              (loopback ? " loopback" : "") + "\n" + lines;
    }
  }
  return text + "IPv4 routes: missing, not read on this system\n";
}
