#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/LocalInterfaces.h"

// Before the discovery the Check looks at this PC's interfaces, and when no router answered it tells
// which of three causes applies (the most common field failure is the PC's own network):
// - no interface is up with an address in the router's subnet;
// - the search could not be sent (no route, a firewall refusing the send), with the system's reason;
// - it was sent and nothing answered (router off or still starting, or a firewall dropping its answer).

// The subnet of one discovery address that is a subnet's broadcast (a.b.c.255), and the interfaces
// that are up with an IPv4 address in it.
struct PreflightSubnet {
  std::string discoveryAddress;         // "192.168.1.255"
  std::string subnetText;               // "192.168.1.x"
  std::vector<std::string> interfaces;  // "eth0 192.168.1.10", in the system's order
};

struct NetworkPreflight {
  bool listed = false;    // whether the system listed its interfaces
  std::string listError;  // why not
  std::vector<PreflightSubnet> subnets;
};

// Matches the interfaces against each discovery address; the limited broadcast 255.255.255.255 (and
// any address that is not a.b.c.255) belongs to no one subnet and is left out. An address is in the
// router's subnet when it shares the network of the discovery address under the wider of its own
// netmask and /24 (a PC at 192.168.1.200/25 still reaches 192.168.1.1 through the router's
// broadcast domain, a PC at 192.168.0.5/16 too).
NetworkPreflight RunNetworkPreflight(const std::vector<LocalIpv4Address>& addresses, bool listed,
                                     const std::vector<std::string>& discoveryAddresses);
// The same with this PC's interfaces (getifaddrs).
NetworkPreflight RunNetworkPreflight(const std::vector<std::string>& discoveryAddresses);

// The preflight's log lines (English): one per subnet ("Interfaces in 192.168.1.x: eth0 192.168.1.10"
// or "No interface is up with an address in 192.168.1.x"), and a line when two or more share it.
std::vector<std::string> PreflightLogLines(const NetworkPreflight& preflight);

// How the search for the router went for one discovery address.
struct DiscoverySend {
  std::string address;
  // 0 when at least one datagram left; else the error of the last try (net/INetPort.h codes)
  int error = 0;
};

enum class NoRouterCause { None, NoInterfaceInSubnet, SendFailed, NoAnswer };

// Why no router answered, for the log and the front ends.
struct NoRouterDiagnosis {
  NoRouterCause cause = NoRouterCause::None;
  std::string address;  // SendFailed: the discovery address whose send failed
  int sendError = 0;    // SendFailed: its error
  int adviceId = 0;     // the advice table's entry (upgrade/Advice.h)
  std::string shown;    // the diagnosis and what to do, in the user's language
  std::string advice;   // what to do alone, in the user's language
  std::string logged;   // the same in English
  // the stable name of the cause for the JSON: no-interface-in-subnet, discovery-send-failed, no-answer
  std::string code;
};

// The cause: no interface in any directed subnet (when the interfaces were listed and there was
// at least one such subnet) comes first, as it makes the others follow; then a send that failed; else
// no answer. udpPort is the router's discovery port, named in the advice.
NoRouterDiagnosis DiagnoseNoRouter(const NetworkPreflight& preflight, const std::vector<DiscoverySend>& sends,
                                   uint16_t udpPort);
