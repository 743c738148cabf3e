#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where the tool looks for the router. The defaults are the router's: discovery by broadcast to
// 192.168.1.255 then 255.255.255.255 on UDP 1280, the link on TCP 1280, the console on Telnet 23.
// Tests and the demo point every one of them at loopback.
struct Endpoints {
  std::vector<std::string> discoveryAddresses = {"192.168.1.255", "255.255.255.255"};
  uint16_t udpPort = 1280;
  uint16_t linkPort = 1280;
  uint16_t telnetPort = 23;
};
