#include "upgrade/SupportReport.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "image/Catalogue.h"
#include "image/ImageSet.h"
#include "platform/Sha256.h"
#include "platform/TarGz.h"
#include "platform/Version.h"

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file's bytes, or its last `limit` bytes; false with why when it cannot be read.
bool ReadFileTail(const std::string& path, size_t limit, std::string& data, bool& cut, std::string& error) {
  cut = false;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  std::streamoff from = 0;
  if (size > static_cast<std::streamoff>(limit)) {
    from = size - static_cast<std::streamoff>(limit);
    cut = true;
  }
  in.seekg(from);
  data.assign(static_cast<size_t>(size - from), '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  if (!in) {
    error = "read failed";
    return false;
  }
  return true;
}

// Writes data to path through a temporary file in its folder, synced, then renamed into place.
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string& error) {
  std::string temp = FolderOf(path) + "/." + BaseName(path) + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "cannot create a file in " + FolderOf(path) + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = fchmod(fd, 0600) == 0;
  while (ok && done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok) ok = fsync(fd) == 0;
  const int writeErrno = errno;
  close(fd);
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(ok ? errno : (writeErrno ? writeErrno : ENOSPC));
    unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string VersionText(const std::string& frontEnd) {
  std::string text = std::string("QorOneClick ") + kProductVersion + "\n";
  text += "front end: " + frontEnd + "\n";
#if defined(__clang__)
  text += std::string("compiler: clang ") + __clang_version__ + "\n";
#elif defined(__GNUC__)
  text += std::string("compiler: GCC ") + __VERSION__ + "\n";
#endif
#if defined(NDEBUG)
  text += "build: optimised\n";
#else
  text += "build: with assertions\n";
#endif
#if defined(__SANITIZE_ADDRESS__)
  text += "sanitizers: address\n";
#endif
  utsname names{};
  if (uname(&names) == 0) {
    // the node name is the PC's own and stays out of the report
    text += std::string("kernel: ") + names.sysname + " " + names.release + " " + names.version + "\n";
    text += std::string("machine: ") + names.machine + "\n";
  }
  return text;
}

int PrefixLength(const sockaddr* mask) {
  if (mask == nullptr) return -1;
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  if (mask->sa_family == AF_INET) {
    bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(mask)->sin_addr);
    size = 4;
  } else if (mask->sa_family == AF_INET6) {
    bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in6*>(mask)->sin6_addr);
    size = 16;
  } else {
    return -1;
  }
  int bits = 0;
  for (size_t i = 0; i < size; ++i) bits += __builtin_popcount(bytes[i]);
  return bits;
}

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  return text;
}

std::string Ipv4Text(uint32_t networkOrder) {
  in_addr address{};
  address.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// /proc/net/route holds the addresses as hexadecimal numbers in the host's byte order of the
// network-order value; on every Linux that is what the 32 bits read back as.
std::string RoutesText() {
  std::ifstream in("/proc/net/route");
  if (!in) return "IPv4 routes: cannot be read (/proc/net/route)\n";
  std::string text = "IPv4 routes:\n";
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string device;
    std::string destination;
    std::string gateway;
    std::string flags;
    std::string skip;
    std::string mask;
    fields >> device >> destination >> gateway >> flags >> skip >> skip >> skip >> mask;
    if (!fields) continue;
    const uint32_t dest = static_cast<uint32_t>(std::stoul(destination, nullptr, 16));
    const uint32_t via = static_cast<uint32_t>(std::stoul(gateway, nullptr, 16));
    const uint32_t netmask = static_cast<uint32_t>(std::stoul(mask, nullptr, 16));
    const int prefix = __builtin_popcount(netmask);
    text += "  " + (dest == 0 && prefix == 0 ? std::string("default")
                                             : Ipv4Text(dest) + "/" + std::to_string(prefix));
    if (via != 0) text += " via " + Ipv4Text(via);
    text += " dev " + device + "\n";
  }
  return text;
}

JsonValue ImageEntry(const std::string& path, const std::string& name, const CBinFile* verified) {
  JsonValue entry;
  entry["name"] = JsonText(name);
  entry["path"] = JsonText(path);
  if (verified) {
    entry["size"] = verified->GetImageSize();
    entry["moduleType"] = static_cast<int>(verified->GetModuleType());
    entry["version"] = JsonText(verified->GetVersionText());
    entry["sha256"] = CSha256::Hex(verified->GetImageData(), static_cast<size_t>(verified->GetImageSize()));
    entry["valid"] = true;
    return entry;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) entry["size"] = static_cast<uint64_t>(st.st_size);
  CBinFile probe;
  probe.SetFilePath(path);
  probe.OpenFile(MODULE_NONE);
  const bool valid = probe.IsValid() && probe.GetModuleType() != MODULE_NONE;
  if (valid) {
    entry["moduleType"] = static_cast<int>(probe.GetModuleType());
    entry["version"] = JsonText(probe.GetVersionText());
    // the digest of the copy that was read and verified, which is what a Check would send
    entry["sha256"] = CSha256::Hex(probe.GetImageData(), static_cast<size_t>(probe.GetImageSize()));
  } else {
    std::string error;
    const std::string digest = Sha256OfFile(path, error);
    entry["sha256"] = digest.empty() ? JsonValue() : JsonValue(digest);
  }
  entry["valid"] = valid;
  if (!valid)
    entry["reason"] = JsonText(probe.GetRejectReason().empty() ? "unknown type" : probe.GetRejectReason());
  return entry;
}

}  // namespace

std::string DefaultSupportReportName(std::time_t now) {
  tm local{};
  localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "qor-support-%Y%m%d-%H%M%S.tar.gz", &local);
  return name;
}

std::string NetworkSummary() {
  std::string text = "Network interfaces:\n";
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    text += std::string("  cannot be read: ") + std::strerror(errno) + "\n";
  } else {
    // one block per interface, in the order the system lists them
    std::vector<std::string> order;
    std::map<std::string, std::string> lines;
    std::map<std::string, unsigned> flags;
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
      const std::string name = a->ifa_name ? a->ifa_name : "?";
      if (!flags.count(name)) order.push_back(name);
      flags[name] |= a->ifa_flags;
      if (a->ifa_addr && (a->ifa_addr->sa_family == AF_INET || a->ifa_addr->sa_family == AF_INET6)) {
        lines[name] += std::string("    ") + (a->ifa_addr->sa_family == AF_INET ? "inet " : "inet6 ") +
                       AddressText(a->ifa_addr) + "/" + std::to_string(PrefixLength(a->ifa_netmask)) + "\n";
      }
    }
    freeifaddrs(list);
    for (const std::string& name : order) {
      const unsigned f = flags[name];
      text += "  " + name + ((f & IFF_UP) ? " up" : " down") + ((f & IFF_RUNNING) ? " running" : "") +
              ((f & IFF_LOOPBACK) ? " loopback" : "") + "\n" + lines[name];
    }
  }
  return text + RoutesText();
}

JsonValue ImagesSummary(const std::string& folder, const CImageSet* embeddedImages) {
  JsonValue summary;
  summary["images"] = JsonValue::array();
  if (embeddedImages) {
    summary["source"] = "embedded";
    for (ModuleType m : kAllModules) {
      const CBinFile& image = (*embeddedImages)[m];
      if (!image.IsValid()) continue;
      const std::string name = "resource " + std::to_string(image.GetResourceId());
      summary["images"].push_back(ImageEntry(name, name, &image));
    }
    return summary;
  }
  summary["source"] = "folder";
  summary["folder"] = JsonText(folder);
  if (folder.empty()) return summary;
  std::string resolved;
  std::string error;
  if (!ResolveImageFolder(folder, resolved, error)) {
    summary["folderError"] = JsonText(error);
    return summary;
  }
  summary["folder"] = JsonText(resolved);
  const std::string prefix = resolved == "/" ? resolved : resolved + "/";
  for (const std::string& name : ListImageFiles(resolved))
    summary["images"].push_back(ImageEntry(prefix + name, name, nullptr));
  return summary;
}

std::string LastCheckPathFor(const std::string& logPath) { return FolderOf(logPath) + "/QorLastCheck.json"; }

bool SaveLastCheck(const std::string& logPath, const std::string& document, std::string& error) {
  if (logPath.empty()) {
    error = "no log folder";
    return false;
  }
  return WriteFileAtomically(LastCheckPathFor(logPath), document + "\n", error);
}

bool WriteSupportReport(const SupportReportInput& input, const std::string& outputPath, std::string& error) {
  std::string top = BaseName(outputPath);
  for (const char* suffix : {".tar.gz", ".tgz"}) {
    const std::string s = suffix;
    if (top.size() > s.size() && top.compare(top.size() - s.size(), s.size(), s) == 0) {
      top.erase(top.size() - s.size());
      break;
    }
  }
  if (top.empty() || top.size() > 60) top = "qor-support";
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::vector<TarEntry> entries;
  std::string manifest = "QorOneClick support report\n";
  auto add = [&](const std::string& name, const std::string& data, const std::string& what) {
    entries.push_back({top + "/" + name, data, now});
    manifest += name + ": " + what + "\n";
  };

  add("version.txt", VersionText(input.frontEnd), "the tool's version and build");
  {
    std::string data;
    bool cut = false;
    std::string why;
    if (ReadFileTail("/etc/os-release", 1 << 16, data, cut, why) ||
        ReadFileTail("/usr/lib/os-release", 1 << 16, data, cut, why))
      add("os-release.txt", data, "the OS release");
    else
      manifest += "os-release.txt: missing, the OS release cannot be read (" + why + ")\n";
  }
  add("network.txt", NetworkSummary(), "network interfaces and IPv4 routes, addresses only");
  {
    std::string data;
    bool cut = false;
    std::string why;
    if (!input.logPath.empty() && ReadFileTail(input.logPath, kLogTailBytes, data, cut, why))
      add(BaseName(input.logPath), data,
          cut ? "the log's last " + std::to_string(kLogTailBytes >> 20) + " MiB (" + input.logPath + ")"
              : "the log (" + input.logPath + ")");
    else
      manifest += "log: missing, " +
                  (input.logPath.empty() ? std::string("no log file") : input.logPath + ": " + why) + "\n";
  }
  {
    std::string data;
    bool cut = false;
    std::string why;
    if (!input.lastCheckPath.empty() && ReadFileTail(input.lastCheckPath, 1 << 20, data, cut, why))
      add("last-check.json", data, "the last Check's result (" + input.lastCheckPath + ")");
    else
      manifest += "last-check.json: missing, no Check was saved\n";
  }
  add("images.json", JsonDump(ImagesSummary(input.imageFolder, input.embeddedImages), 2) + "\n",
      "the images' names, sizes, versions and SHA-256 (not the images)");
  entries.insert(entries.begin(), TarEntry{top + "/manifest.txt", manifest, now});

  std::string tar;
  std::string compressed;
  if (!BuildTar(entries, tar, error) || !GzipCompress(tar, compressed, error)) return false;
  return WriteFileAtomically(outputPath, compressed, error);
}
