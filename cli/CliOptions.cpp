#include "cli/CliOptions.h"

#include <charconv>
#include <cmath>

#include "net/SocketOs.h"
#include "platform/Translation.h"

namespace {

bool ParsePort(const std::string& text, uint16_t& port) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

bool IsIpv4(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool ParseSpeed(const std::string& text, double& speed) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) return false;
  // beyond a few hundred the 100 ms pauses shrink below the scheduler's resolution
  if (value < 1.0 || value > 1000.0) return false;
  speed = value;
  return true;
}

}  // namespace

const char* CliCommandName(CliCommand command) {
  switch (command) {
    case CliCommand::Check:
      return "check";
    case CliCommand::Upgrade:
      return "upgrade";
    case CliCommand::Demo:
      return "demo";
    case CliCommand::Report:
      return "report";
    case CliCommand::None:
      break;
  }
  return "";
}

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error) {
  options = CliOptions{};
  bool addressGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool hasInlineValue = false;
    if (arg.rfind("--", 0) == 0) {
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
        hasInlineValue = true;
      }
    }
    auto takeValue = [&](std::string& out) {
      if (hasInlineValue) {
        out = value;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = FormatText(Tr("option %1 needs a value"), {arg});
        return false;
      }
      out = args[++i];
      return true;
    };
    auto flag = [&](bool& target) {
      if (hasInlineValue) {
        error = FormatText(Tr("option %1 takes no value"), {arg});
        return false;
      }
      target = true;
      return true;
    };

    if (arg == "--help" || arg == "-h") {
      if (!flag(options.help)) return false;
    } else if (arg == "--version") {
      if (!flag(options.version)) return false;
    } else if (arg == "--json") {
      if (!flag(options.json)) return false;
    } else if (arg == "--events") {
      if (!flag(options.events)) return false;
    } else if (arg == "--quiet" || arg == "-q") {
      if (!flag(options.quiet)) return false;
    } else if (arg == "--yes" || arg == "-y") {
      if (!flag(options.yes)) return false;
    } else if (arg == "--images") {
      std::string dir;
      if (!takeValue(dir)) return false;
      if (dir.empty()) {
        error = Tr("option --images needs a folder");
        return false;
      }
      options.imagesDir = dir;
    } else if (arg == "--log") {
      std::string path;
      if (!takeValue(path)) return false;
      if (path.empty()) {
        error = Tr("option --log needs a file name");
        return false;
      }
      options.logPath = path;
    } else if (arg == "--output" || arg == "-o") {
      std::string path;
      if (!takeValue(path)) return false;
      if (path.empty()) {
        error = Tr("option --output needs a file name");
        return false;
      }
      options.outputPath = path;
    } else if (arg == "--discovery-address") {
      std::string address;
      if (!takeValue(address)) return false;
      if (!IsIpv4(address)) {
        error = FormatText(Tr("not an IPv4 address: '%1'"), {address});
        return false;
      }
      // the first one given replaces the router's defaults; later ones add to it
      if (!addressGiven) options.endpoints.discoveryAddresses.clear();
      addressGiven = true;
      options.endpoints.discoveryAddresses.push_back(address);
    } else if (arg == "--udp-port" || arg == "--link-port" || arg == "--telnet-port") {
      std::string text;
      if (!takeValue(text)) return false;
      uint16_t port = 0;
      if (!ParsePort(text, port)) {
        error = FormatText(Tr("not a port number (1 to 65535) for %1: '%2'"), {arg, text});
        return false;
      }
      if (arg == "--udp-port")
        options.endpoints.udpPort = port;
      else if (arg == "--link-port")
        options.endpoints.linkPort = port;
      else
        options.endpoints.telnetPort = port;
    } else if (arg == "--speed") {
      std::string text;
      if (!takeValue(text)) return false;
      if (!ParseSpeed(text, options.speed)) {
        error = FormatText(Tr("not a speed (a number from 1 to 1000): '%1'"), {text});
        return false;
      }
      options.speedGiven = true;
    } else if (!arg.empty() && arg[0] == '-') {
      error = FormatText(Tr("unknown option: %1"), {arg});
      return false;
    } else {
      CliCommand command = CliCommand::None;
      if (arg == "check")
        command = CliCommand::Check;
      else if (arg == "upgrade")
        command = CliCommand::Upgrade;
      else if (arg == "demo")
        command = CliCommand::Demo;
      else if (arg == "report")
        command = CliCommand::Report;
      if (command == CliCommand::None) {
        error = FormatText(Tr("unknown command: '%1'"), {arg});
        return false;
      }
      if (options.command != CliCommand::None) {
        error = Tr("only one command may be given");
        return false;
      }
      options.command = command;
    }
  }
  if (options.command == CliCommand::None && !options.help && !options.version) {
    error = Tr("no command given (check, upgrade, demo or report)");
    return false;
  }
  if (options.outputPath && options.command != CliCommand::Report && !options.help) {
    error = Tr("--output applies only to report");
    return false;
  }
  if (options.speedGiven && options.command != CliCommand::Demo && !options.help) {
    error = Tr("--speed applies only to demo");
    return false;
  }
  return true;
}

bool ResolveClockScale(const CliOptions& options, const char* testScale, double& scale, std::string& error) {
  scale = 1.0;
  if (options.command == CliCommand::Demo) {
    scale = options.speed;
    return true;
  }
  if (testScale == nullptr || *testScale == '\0') return true;
  double value = 1.0;
  if (!ParseSpeed(testScale, value)) {
    error = FormatText(Tr("%1 is not a speed (a number from 1 to 1000)"), {kTestClockScaleVariable});
    return false;
  }
  for (const std::string& address : options.endpoints.discoveryAddresses) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1 || (ntohl(parsed.s_addr) >> 24) != 127) {
      error = FormatText(Tr("%1 applies only when every discovery address is a loopback address"),
                         {kTestClockScaleVariable});
      return false;
    }
  }
  scale = value;
  return true;
}

std::string CliUsage() {
  return Tr("Usage: qor-oneclick-cli <command> [options]\n"
            "\n"
            "Commands:\n"
            "  check                 find the images and the router, read and compare the versions\n"
            "  upgrade               check, ask, then upgrade the chosen modules\n"
            "  demo                  run check and upgrade against a built-in router emulator on loopback\n"
            "\n"
            "Options (before or after the command):\n"
            "  --images DIR          folder of .bin images (default: searched, see below)\n"
            "  --discovery-address A\n"
            "                        where to send the discovery broadcast; repeatable\n"
            "                        (default 192.168.1.255, then 255.255.255.255)\n"
            "  --udp-port N          router's discovery and control port (default 1280)\n"
            "  --link-port N         router's TCP link port (default 1280)\n"
            "  --telnet-port N       router's Telnet port (default 23)\n"
            "  --log FILE            write the log to FILE (default: QorUpgradeLog.txt in\n"
            "                        $XDG_STATE_HOME/qor-oneclick, or ~/.local/state/qor-oneclick)\n"
            "  --yes                 upgrade without asking\n"
            "  --speed N             demo only: run the clock N times faster (default 1, real time)\n"
            "  --json                print one JSON object with the result on stdout at the end\n"
            "  --events              print one JSON object per line on stdout as the run goes\n"
            "                        (status, progress, warning, final status, end)\n"
            "  --quiet               no table, only warnings and errors\n"
            "  --help                this text\n"
            "  --version             print the program's name and version\n"
            "\n"
            "Images: without --images the first of these that holds a .bin file is used: the images\n"
            "embedded in the program, the program's folder, $XDG_DATA_HOME/qor-oneclick/images\n"
            "(~/.local/share/qor-oneclick/images), each $XDG_DATA_DIRS entry + /qor-oneclick/images\n"
            "(/usr/local/share, /usr/share).\n"
            "\n"
            "The table: \"%\" and its bar show the step's progress as the procedure reports it (the\n"
            "share of an image sent, or of a wait's time limit used); the bar of a failed module reads\n"
            "\"failed\". \"Time\" is the module's elapsed minutes:seconds, counted as in the \"(mm:ss)\" of\n"
            "its final status: from the end of the module before it (the first from the start of the\n"
            "upgrade), whole hours not shown; it stops at the final status.\n"
            "\n"
            "Exit status: 0 success, 1 version conflict or failed module, 2 bad command line,\n"
            "3 check stopped (no images, duplicate images, no router) or an image changed since the\n"
            "check (nothing was sent), 4 upgrade not confirmed, 5 demo could not start, 128+N ended by\n"
            "signal N. A folder given with --images that cannot be read is a bad command line (2).\n") +
         Tr("\n"
            "Support report:\n"
            "  report [-o FILE]      write a .tar.gz for the support desk (default name\n"
            "                        qor-support-<date>-<time>.tar.gz here): the log (--log), the\n"
            "                        version and build, the OS release, the network interfaces\n"
            "                        and routes (addresses only), the last check's result, and\n"
            "                        the images' names, sizes, versions and SHA-256 (--images;\n"
            "                        not the images). Exit status 0, or 1 when it cannot be written.\n");
}
