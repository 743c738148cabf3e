#include "net/LocalInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

std::vector<LocalIpv4Address> ListLocalIpv4Addresses(std::string* error) {
  std::vector<LocalIpv4Address> list;
  ifaddrs* all = nullptr;
  if (::getifaddrs(&all) != 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return list;
  }
  for (const ifaddrs* entry = all; entry != nullptr; entry = entry->ifa_next) {
    // interfaces without an address (or with another family) list an entry of their own
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    LocalIpv4Address item;
    item.interfaceName = entry->ifa_name != nullptr ? entry->ifa_name : "";
    sockaddr_in address{};
    std::memcpy(&address, entry->ifa_addr, sizeof address);
    item.address = ntohl(address.sin_addr.s_addr);
    if (entry->ifa_netmask != nullptr) {
      sockaddr_in mask{};
      std::memcpy(&mask, entry->ifa_netmask, sizeof mask);
      item.netmask = ntohl(mask.sin_addr.s_addr);
    }
    item.up = (entry->ifa_flags & IFF_UP) != 0;
    item.running = (entry->ifa_flags & IFF_RUNNING) != 0;
    item.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    list.push_back(std::move(item));
  }
  ::freeifaddrs(all);
  return list;
}
