#include "upgrade/SupportReportSystem.h"

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

#include "platform/FileFaults.h"
#include "upgrade/SupportReport.h"

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* const kNetworkSummaryWhat = "network interfaces and IPv4 routes, addresses only";

namespace {

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

}  // namespace

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
    const ssize_t n =
        CallUnlessFaulted(FileOp::Write, [&] { return write(fd, data.data() + done, data.size() - done); });
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok) ok = CallUnlessFaulted(FileOp::Sync, [&] { return fsync(fd); }) == 0;
  const int writeErrno = errno;
  close(fd);
  if (!ok || CallUnlessFaulted(FileOp::Rename, [&] { return rename(temp.c_str(), path.c_str()); }) != 0) {
    error = "cannot write " + path + ": " + std::strerror(ok ? errno : (writeErrno ? writeErrno : ENOSPC));
    unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string KernelText() {
  std::string text;
  utsname names{};
  if (uname(&names) == 0) {
    // the node name is the PC's own and stays out of the report
    text += std::string("kernel: ") + names.sysname + " " + names.release + " " + names.version + "\n";
    text += std::string("machine: ") + names.machine + "\n";
  }
  return text;
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
