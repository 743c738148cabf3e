#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One IPv4 address of one of this PC's network interfaces, as the system lists it.
struct LocalIpv4Address {
  std::string interfaceName;
  uint32_t address = 0;  // host order
  uint32_t netmask = 0;  // host order
  bool up = false;       // the interface is switched on (IFF_UP)
  bool running = false;  // its link is up (IFF_RUNNING: a cable, a carrier)
  bool loopback = false;
};

// Every IPv4 address of this PC's interfaces (getifaddrs), in the system's order; an empty list when
// the system cannot list them (error then holds the reason, when given).
std::vector<LocalIpv4Address> ListLocalIpv4Addresses(std::string* error = nullptr);

// "a.b.c.d" for an address in host order.
std::string Ipv4Text(uint32_t address);
