// winsock2.h before windows.h (iphlpapi.h pulls it in): the other order declares the sockets twice
#include <winsock2.h>
#include <ws2tcpip.h>
// the adapter list's types need the two above
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "net/LocalInterfaces.h"
#include "platform/WinText.h"

namespace {
uint32_t NetmaskOfPrefix(unsigned prefix) {
  return prefix == 0 ? 0u : prefix >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - prefix)) - 1u);
}
}  // namespace

// The adapters' unicast IPv4 addresses (GetAdaptersAddresses). An adapter that is switched on is
// "up"; one whose link is up (IfOperStatusUp: a cable, a carrier, an association) is "running".
// The interface's name is its friendly name ("Ethernet", "Wi-Fi"), the one the user sees.
std::vector<LocalIpv4Address> ListLocalIpv4Addresses(std::string* error) {
  std::vector<LocalIpv4Address> list;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // the list may grow between the two calls: a few attempts, each with the size last asked for
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.assign(size, 0);
    result = ::GetAdaptersAddresses(AF_INET, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result == ERROR_NO_DATA) return list;
  if (result != NO_ERROR) {
    if (error != nullptr) *error = WindowsErrorText(result);
    return list;
  }
  for (const IP_ADAPTER_ADDRESSES* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKADDR* socketAddress = unicast->Address.lpSockaddr;
      if (socketAddress == nullptr || socketAddress->sa_family != AF_INET) continue;
      sockaddr_in address{};
      std::memcpy(&address, socketAddress, sizeof address);
      LocalIpv4Address item;
      item.interfaceName = adapter->FriendlyName != nullptr ? Utf8FromWide(adapter->FriendlyName) : "";
      item.address = ntohl(address.sin_addr.s_addr);
      item.netmask = NetmaskOfPrefix(unicast->OnLinkPrefixLength);
      item.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      item.running = adapter->OperStatus == IfOperStatusUp;
      // a disabled adapter is not listed at all; one that is listed but whose hardware is missing
      // (IfOperStatusNotPresent) counts as switched off
      item.up = adapter->OperStatus != IfOperStatusNotPresent;
      list.push_back(std::move(item));
    }
  }
  return list;
}
