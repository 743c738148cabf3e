// qor-router-sim: the router emulator as a program. Starts one emulated router with its wireless
// module on the given address and ports, prints what it receives and does, and runs until SIGINT
// or SIGTERM. Exits 2 on a bad option and 1 when a port cannot be bound.
#include <signal.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <string>

#include "platform/Clock.h"
#include "platform/Version.h"
#include "sim/RouterSim.h"

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "Usage: qor-router-sim [options]\n"
               "\n"
               "Options:\n"
               "  --address A            IPv4 address to serve on (default 127.0.0.1)\n"
               "  --broadcast B          broadcast address to receive discovery on (default derived:\n"
               "                         127.255.255.255 for loopback, a.b.c.255 otherwise)\n"
               "  --udp-port N           discovery and control datagrams (default 1280, 0 = any free)\n"
               "  --link-port N          router link (default 1280, 0 = any free)\n"
               "  --telnet-port N        console (default 23, 0 = any free)\n"
               "  --console shell|cli    console flavour (default shell)\n"
               "  --mac XX-XX-XX-XX-XX-XX\n"
               "                         the router's MAC address in discovery answers\n"
               "  --router-text T        version text in discovery answers (default 1.0.0.0)\n"
               "  --cfe-version V, --app-version V\n"
               "                         the shell console's versions\n"
               "  --software-version V, --res-version V\n"
               "                         the command-interface console's versions\n"
               "  --firmware-version V, --dashboard-version V\n"
               "                         the wireless module's versions\n"
               "  --unlock-code C        8 characters, or 16 hex digits\n"
               "  --restart-ms N         module restart time in ms (default 8000)\n"
               "  --write-ms N           time the router takes to write a router image (default 3000)\n"
               "  --time-scale S         run the clock S times faster (default 1)\n"
               "  --start-in-downloader  the module waits in its downloader\n"
               "  --start-offline        the module starts in offline mode\n"
               "  --fault F[=V][,...]    switch faults on (repeatable); --list-faults names them\n"
               "  --quiet                do not print events\n"
               "  --help                 this text\n"
               "  --version              print the program's name and version\n");
}

bool ParseNumber(const std::string& text, unsigned long max, unsigned long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 10);
  if (errno || *end || v > max || text[0] == '-') return false;
  out = v;
  return true;
}

bool ParseMac(const std::string& text, std::array<uint8_t, 6>& mac) {
  unsigned v[6];
  char sep[5];
  if (text.size() != 17) return false;
  if (std::sscanf(text.c_str(), "%2x%c%2x%c%2x%c%2x%c%2x%c%2x", &v[0], &sep[0], &v[1], &sep[1], &v[2],
                  &sep[2], &v[3], &sep[3], &v[4], &sep[4], &v[5]) != 11) {
    return false;
  }
  for (char c : sep) {
    if (c != '-' && c != ':') return false;
  }
  for (int i = 0; i < 6; ++i) mac[static_cast<size_t>(i)] = static_cast<uint8_t>(v[i]);
  return true;
}

bool ParseCode(const std::string& text, std::array<uint8_t, 8>& code) {
  if (text.size() == 8) {
    for (size_t i = 0; i < 8; ++i) code[i] = static_cast<uint8_t>(text[i]);
    return true;
  }
  if (text.size() != 16) return false;
  for (size_t i = 0; i < 8; ++i) {
    unsigned v = 0;
    if (std::sscanf(text.substr(2 * i, 2).c_str(), "%2x", &v) != 1) return false;
    code[i] = static_cast<uint8_t>(v);
  }
  return true;
}

int Bad(const std::string& what) {
  std::fprintf(stderr, "qor-router-sim: %s\n", what.c_str());
  Usage(stderr);
  return 2;
}

}  // namespace

const std::set<std::string> kValueOptions = {"--address",
                                             "--broadcast",
                                             "--udp-port",
                                             "--link-port",
                                             "--telnet-port",
                                             "--console",
                                             "--mac",
                                             "--router-text",
                                             "--cfe-version",
                                             "--app-version",
                                             "--software-version",
                                             "--res-version",
                                             "--firmware-version",
                                             "--dashboard-version",
                                             "--unlock-code",
                                             "--restart-ms",
                                             "--write-ms",
                                             "--time-scale",
                                             "--fault"};

#ifdef _WIN32
// Ctrl+C, Ctrl+Break, closing the console and the system's shutdown stop the emulator in order.
class StopSignals {
 public:
  StopSignals() {
    s_Event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnControl, TRUE);
  }
  int Wait() {
    if (s_Event != nullptr) ::WaitForSingleObject(s_Event, INFINITE);
    return s_Signal.load();
  }

 private:
  static BOOL WINAPI OnControl(DWORD type) {
    s_Signal.store(type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT ? SIGINT : SIGTERM);
    if (s_Event != nullptr) ::SetEvent(s_Event);
    return TRUE;
  }
  static inline HANDLE s_Event = nullptr;
  static inline std::atomic<int> s_Signal{SIGTERM};
};
#else
// SIGINT and SIGTERM stop the emulator in order. The emulator's threads inherit the blocked mask,
// so the signals reach the sigwait of Wait.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&m_Set);
    sigaddset(&m_Set, SIGINT);
    sigaddset(&m_Set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &m_Set, nullptr);
  }
  int Wait() {
    int sig = 0;
    sigwait(&m_Set, &sig);
    return sig;
  }

 private:
  sigset_t m_Set;
};
#endif

int main(int argc, char** argv) {
  qorsim::SimConfig cfg;
  double scale = 1.0;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    unsigned long n = 0;
    if (opt == "--help" || opt == "-h") {
      Usage(stdout);
      return 0;
    } else if (opt == "--version") {
      std::fputs(VersionLine("qor-router-sim").c_str(), stdout);
      return 0;
    } else if (opt == "--list-faults") {
      for (const auto& name : qorsim::FaultNames()) std::printf("%s\n", name.c_str());
      return 0;
    } else if (opt == "--quiet") {
      quiet = true;
    } else if (opt == "--start-in-downloader") {
      cfg.startInDownloader = true;
    } else if (opt == "--start-offline") {
      cfg.startOffline = true;
    } else if (!kValueOptions.count(opt)) {
      return Bad("unknown option " + opt);
    } else if (!value(v)) {
      return Bad("option " + opt + " needs a value");
    } else if (opt == "--address") {
      cfg.address = v;
    } else if (opt == "--broadcast") {
      cfg.broadcastAddress = v;
    } else if (opt == "--udp-port" || opt == "--link-port" || opt == "--telnet-port") {
      if (!ParseNumber(v, 65535, n)) return Bad("bad port '" + v + "'");
      (opt == "--udp-port"    ? cfg.udpPort
       : opt == "--link-port" ? cfg.linkPort
                              : cfg.telnetPort) = static_cast<uint16_t>(n);
    } else if (opt == "--console") {
      if (v == "shell")
        cfg.console = qorsim::SimConfig::Console::Shell;
      else if (v == "cli")
        cfg.console = qorsim::SimConfig::Console::Cli;
      else
        return Bad("--console takes shell or cli");
    } else if (opt == "--mac") {
      if (!ParseMac(v, cfg.mac)) return Bad("bad MAC address '" + v + "'");
    } else if (opt == "--router-text") {
      if (v.size() > 21) return Bad("--router-text holds at most 21 characters");
      cfg.discoveryText = v;
    } else if (opt == "--cfe-version") {
      cfg.cfeVersion = v;
    } else if (opt == "--app-version") {
      cfg.appVersion = v;
    } else if (opt == "--software-version") {
      cfg.softwareVersion = v;
    } else if (opt == "--res-version") {
      cfg.resVersion = v;
    } else if (opt == "--firmware-version") {
      cfg.firmwareVersion = v;
    } else if (opt == "--dashboard-version") {
      cfg.dashboardVersion = v;
    } else if (opt == "--unlock-code") {
      if (!ParseCode(v, cfg.unlockCode)) return Bad("--unlock-code takes 8 characters or 16 hex digits");
    } else if (opt == "--restart-ms" || opt == "--write-ms") {
      if (!ParseNumber(v, 3600000, n)) return Bad("bad time '" + v + "'");
      (opt == "--restart-ms" ? cfg.restartMs : cfg.routerWriteMs) = static_cast<uint32_t>(n);
    } else if (opt == "--time-scale") {
      char* end = nullptr;
      scale = std::strtod(v.c_str(), &end);
      if (*end || !(scale >= 0.01 && scale <= 10000)) return Bad("bad time scale '" + v + "'");
    } else if (opt == "--fault") {
      std::string error;
      if (!qorsim::ParseFaults(v, cfg.faults, &error)) return Bad(error);
    } else {
      return Bad("unknown option " + opt);
    }
  }

  std::unique_ptr<ScaledClock> clock;
  std::unique_ptr<ScopedClock> useClock;
  if (scale != 1.0) {
    clock = std::make_unique<ScaledClock>(scale);
    useClock = std::make_unique<ScopedClock>(*clock);
  }

  StopSignals stopSignals;

  qorsim::RouterSim sim(cfg);
  if (!quiet) {
    sim.SetEventCallback([](const qorsim::SimEvent& e) {
      std::printf("%10llu  %-22s %s\n", static_cast<unsigned long long>(e.tickMs % 10000000000ull),
                  e.kind.c_str(), e.detail.c_str());
      std::fflush(stdout);
    });
  }
  std::string error;
  if (!sim.Start(&error)) {
    std::fprintf(stderr, "qor-router-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("qor-router-sim: router %s (broadcast %s), UDP %u, link %u, telnet %u, console %s%s\n",
              sim.Address().c_str(), sim.BroadcastAddress().empty() ? "none" : sim.BroadcastAddress().c_str(),
              sim.UdpPort(), sim.LinkPort(), sim.TelnetPort(),
              cfg.console == qorsim::SimConfig::Console::Shell ? "shell" : "cli",
              scale != 1.0 ? ", clock running faster" : "");
  std::fflush(stdout);

  const int sig = stopSignals.Wait();
  std::printf("qor-router-sim: stopping (%s)\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
  sim.Stop();
  return 0;
}
