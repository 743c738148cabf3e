#include "upgrade/NetworkPreflight.h"

#include "net/INetPort.h"
#include "net/SocketOs.h"
#include "platform/Translation.h"
#include "protocol/ErrorText.h"
#include "upgrade/Advice.h"

namespace {

constexpr uint32_t kSubnet24 = 0xFFFFFF00u;

// The discovery address as a number when it is a subnet's broadcast a.b.c.255 (not 255.255.255.255).
bool DirectedBroadcast(const std::string& text, uint32_t& address) {
  uint32_t network = 0;
  if (text == "255.255.255.255" || !ParseIpv4Text(text, &network)) return false;
  address = ntohl(network);
  return (address & 0xFFu) == 0xFFu;
}

std::string SubnetText(uint32_t address) {
  const std::string text = Ipv4Text(address & kSubnet24);
  return text.substr(0, text.size() - 1) + "x";
}

std::string JoinInterfaces(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

}  // namespace

NetworkPreflight RunNetworkPreflight(const std::vector<LocalIpv4Address>& addresses, bool listed,
                                     const std::vector<std::string>& discoveryAddresses) {
  NetworkPreflight preflight;
  preflight.listed = listed;
  for (const std::string& text : discoveryAddresses) {
    uint32_t broadcast = 0;
    if (!DirectedBroadcast(text, broadcast)) continue;
    PreflightSubnet subnet;
    subnet.discoveryAddress = text;
    subnet.subnetText = SubnetText(broadcast);
    for (const LocalIpv4Address& local : addresses) {
      if (!local.up) continue;
      // the wider of the interface's own network and the router's /24
      const uint32_t mask = local.netmask & kSubnet24;
      if ((local.address & mask) == (broadcast & mask)) {
        subnet.interfaces.push_back(local.interfaceName + " " + Ipv4Text(local.address));
      }
    }
    preflight.subnets.push_back(std::move(subnet));
  }
  return preflight;
}

NetworkPreflight RunNetworkPreflight(const std::vector<std::string>& discoveryAddresses) {
  std::string error;
  std::vector<LocalIpv4Address> addresses = ListLocalIpv4Addresses(&error);
  // a PC always has its loopback address: an empty list is one the system did not give
  const bool listed = !addresses.empty();
  NetworkPreflight preflight = RunNetworkPreflight(addresses, listed, discoveryAddresses);
  if (!listed) preflight.listError = error.empty() ? std::string("no interface listed") : error;
  return preflight;
}

std::vector<std::string> PreflightLogLines(const NetworkPreflight& preflight) {
  std::vector<std::string> lines;
  if (!preflight.listed) {
    lines.push_back("The network interfaces could not be listed: " + preflight.listError);
    return lines;
  }
  for (const PreflightSubnet& subnet : preflight.subnets) {
    if (subnet.interfaces.empty()) {
      lines.push_back("No interface is up with an address in " + subnet.subnetText);
      continue;
    }
    lines.push_back("Interfaces in " + subnet.subnetText + ": " + JoinInterfaces(subnet.interfaces));
    if (subnet.interfaces.size() > 1) {
      lines.push_back("Two or more interfaces have an address in " + subnet.subnetText +
                      ": the search for the router leaves by one of them only");
    }
  }
  return lines;
}

NoRouterDiagnosis DiagnoseNoRouter(const NetworkPreflight& preflight, const std::vector<DiscoverySend>& sends,
                                   uint16_t udpPort) {
  NoRouterDiagnosis d;
  const std::string port = std::to_string(udpPort);

  bool anySubnetReached = preflight.subnets.empty() || !preflight.listed;
  for (const PreflightSubnet& subnet : preflight.subnets) {
    if (!subnet.interfaces.empty()) anySubnetReached = true;
  }
  if (!anySubnetReached) {
    const std::string& subnet = preflight.subnets.front().subnetText;
    d.cause = NoRouterCause::NoInterfaceInSubnet;
    d.adviceId = ADVICE_NO_INTERFACE;
    d.code = AdviceCode(d.adviceId);
    d.advice = AdviceText(d.adviceId, subnet);
    d.shown = FormatText(Tr("No network interface of this PC is up with an address in %1."), {subnet}) +
              "\n" + d.advice;
    d.logged = "No network interface of this PC is up with an address in " + subnet + ". " +
               EnglishAdviceText(d.adviceId, subnet);
    return d;
  }

  for (const DiscoverySend& send : sends) {
    if (send.error == 0) continue;
    d.cause = NoRouterCause::SendFailed;
    d.address = send.address;
    d.sendError = send.error;
    d.adviceId = ADVICE_SEND_FAILED;
    d.code = AdviceCode(d.adviceId);
    const std::string reason = GetErrorText(send.error);
    d.shown = FormatText(Tr("The search for the router could not be sent to %1: %2 (%3)."),
                         {send.address, reason, std::to_string(send.error)}) +
              "\n" + AdviceText(d.adviceId, port);
    d.advice = AdviceText(d.adviceId, port);
    d.logged = "The search for the router could not be sent to " + send.address + ": " + reason + " (" +
               std::to_string(send.error) + "). " + EnglishAdviceText(d.adviceId, port);
    return d;
  }

  d.cause = NoRouterCause::NoAnswer;
  d.adviceId = ADVICE_NO_ANSWER;
  d.code = AdviceCode(d.adviceId);
  d.shown = Tr("The search for the router was sent, but no router answered.");
  d.logged = "The search for the router was sent, but no router answered.";
  for (const PreflightSubnet& subnet : preflight.subnets) {
    if (subnet.interfaces.size() > 1) {
      const std::string names = JoinInterfaces(subnet.interfaces);
      d.shown +=
          " " + FormatText(Tr("Two or more interfaces have an address in %1 (%2): the search leaves by "
                              "one of them only, so switch the others off."),
                           {subnet.subnetText, names});
      d.logged += " Two or more interfaces have an address in " + subnet.subnetText + " (" + names +
                  "): the search leaves by one of them only, so switch the others off.";
    }
  }
  d.advice = AdviceText(d.adviceId, port);
  d.shown += "\n" + d.advice;
  d.logged += " " + EnglishAdviceText(d.adviceId, port);
  return d;
}
