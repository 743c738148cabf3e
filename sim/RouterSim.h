#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The router emulator: one router with its wireless module, reachable over loopback (or any local
// IPv4 address) on three ports, built from its own byte tables so that a wrong offset in the tool
// shows up as a failed exchange instead of being mirrored.
//
//   UDP (udpPort)     discovery (type 1) and control datagrams (6 erase NVRAM, 7 enter force-load,
//                     8 leave force-load, 10 presence), one HDLC frame each.
//   TCP (linkPort)    HDLC frames to and from the module, upgrade control packets, raw router images.
//   TCP (telnetPort)  the router console, shell or command-interface flavour.
//
// Receiving broadcasts: the emulator binds two UDP sockets with SO_REUSEADDR, one to address:port
// and one to the broadcast address:port (127.255.255.255 for a loopback address, a.b.c.255
// otherwise, or SimConfig::broadcastAddress). Datagrams sent to either reach it; every answer goes
// out from the unicast socket to the sender's address and port. With udpPort 0 the first socket
// picks a free port and the second binds the same one.
//
// All times are clock milliseconds (platform/Clock.h); install a ScaledClock before Start() to run
// the emulator fast. Each port is served by one thread of the emulator; Stop() (or destruction)
// joins them.
namespace qorsim {

// Faults on demand. Each has a name usable from C++ (ParseFault/ParseFaults) and from the command
// line (--fault name[=value], repeatable, or a comma-separated list). Counters count down as they
// are used: handshake-fail=3 leaves the next three hand-shakes unanswered, then answers again.
//
//   discovery and control datagrams
//     no-discovery            discovery requests are not answered
//     discovery-junk=N        N well-formed datagrams of a foreign type before each discovery answer
//     discovery-bad-fcs       a datagram with a broken frame check sequence before each answer
//     discovery-zero-mac      the discovery answer carries an all-zero MAC (does not qualify)
//     discovery-flood=MS      a discovery is not answered; instead a well-formed datagram of a
//                             foreign type goes to its sender every MS clock ms (a host that floods
//                             the port), up to 20000 per sender, until the fault is cleared
//     no-presence             presence checks (type 10) are not answered
//     presence-drop=N         the next N presence checks are not answered
//     presence-late=MS        presence answers are sent MS clock milliseconds late
//     erase-refuse            NVRAM erase (type 6) is not answered
//     force-load-refuse       enter force-load (type 7) is not answered and has no effect
//     control-corrupt         control echoes come back with their last byte changed
//   telnet console
//     telnet-closed           the console port refuses connections while this is on
//     telnet-unanswered       connection attempts to the console get no answer at all (see below)
//     telnet-refuse           connections are closed at once, nothing is sent
//     telnet-silent           connections stay open but nothing is ever sent
//     telnet-no-colon         the login prompt carries no ':'
//     telnet-bad-user         the user name is answered without a password prompt
//     telnet-bad-password     the password is refused ("Login incorrect")
//     cfe-fail, app-fail      the shell answers that nvram value without a prompt afterwards
//     version-fail            "diag display version" answers an error instead of "success"
//     resversion-fail         "diag display resversion" answers an error instead of "success"
//   router link and router images
//     link-closed             the link port refuses connections while this is on
//     link-unanswered         connection attempts to the link get no answer at all: a router, or a
//                             firewall in between, that drops them. The port's listener is replaced
//                             by one that never accepts and whose one queue place the emulator's
//                             own connection takes, so the system drops every further attempt
//                             and the connecting side waits for its own limit. An established
//                             connection is left alone.
//     link-drop               link connections are closed right after they are accepted
//     reset-after-bytes=N     the link is reset once N raw image bytes have arrived
//     reset-after-blocks=N    the link is reset when a download write block arrives after N
//                             of them were taken (counted from the fault's setting)
//     router-result=C         the result record carries code C instead of 4
//     router-no-result        no result record is sent
//     reset-after-image       once a router image arrived whole, the link is reset instead of the
//                             result being sent (a router that restarts on it)
//     close-after-image       the same with an orderly close of the connection
//   wireless module
//     handshake-fail=N        the next N hand-shakes are not answered
//     handshake-short         hand-shakes are answered with 15 bytes
//     handshake-status=S      hand-shakes report status S
//     handshake-downloader    hand-shakes report the downloader flag whatever the mode
//     handshake-offline       hand-shakes report the offline flag whatever the mode
//     board-version-fail      the board version query is answered with a bad-command error
//     iso-version-fail        the dashboard version query is answered with a bad-command error
//     iso-no-version          the dashboard version answer says "no version" (byte 4 = 1)
//     nv-backup-reason=R      NV backup refused with reason R (1 to 4, or any byte)
//     nv-restore-fail         after a download the automatic NV restore fails, and restore requests
//                             are refused (reason 4)
//     mode-refuse             change of mode refused (bad parameter)
//     switch-refuse           switch to the downloader refused (bad command)
//     unlock-refuse           unlock refused even with the right code
//     write-nak=N             the next N write frames are rejected
//     write-silent            write frames are never acknowledged (and not stored)
//     reset-refuse            reset refused
//     never-back              a module restart never ends (until the fault is cleared)
//     back-in-downloader      a reset brings the module back into its downloader
struct Faults {
  bool noDiscovery = false;
  int discoveryJunk = 0;
  bool discoveryBadFcs = false;
  bool discoveryZeroMac = false;
  uint32_t discoveryFloodMs = 0;  // 0: off
  bool noPresence = false;
  int presenceDrop = 0;
  uint32_t presenceLateMs = 0;
  bool eraseRefuse = false;
  bool forceLoadRefuse = false;
  bool controlCorrupt = false;

  bool telnetClosed = false;
  bool telnetUnanswered = false;
  bool telnetRefuse = false;
  bool telnetSilent = false;
  bool telnetNoColon = false;
  bool telnetBadUser = false;
  bool telnetBadPassword = false;
  bool cfeFail = false;
  bool appFail = false;
  bool versionFail = false;
  bool resversionFail = false;

  bool linkClosed = false;
  bool linkUnanswered = false;
  bool linkDrop = false;
  int64_t resetAfterBytes = -1;   // -1: off
  int64_t resetAfterBlocks = -1;  // -1: off
  int64_t routerResult = -1;      // -1: the real result
  bool routerNoResult = false;
  bool resetAfterImage = false;
  bool closeAfterImage = false;

  int handshakeFail = 0;
  bool handshakeShort = false;
  int handshakeStatus = 0;
  bool handshakeDownloader = false;
  bool handshakeOffline = false;
  bool boardVersionFail = false;
  bool isoVersionFail = false;
  bool isoNoVersion = false;
  int nvBackupReason = 0;  // 0: backups succeed
  bool nvRestoreFail = false;
  bool modeRefuse = false;
  bool switchRefuse = false;
  bool unlockRefuse = false;
  int writeNak = 0;
  bool writeSilent = false;
  bool resetRefuse = false;
  bool neverBack = false;
  bool backInDownloader = false;
};

// Applies one "name" or "name=value" to faults. A leading "no-" is part of some names; to clear a
// fault use "name=0" (booleans accept 1/0, on/off, true/false). False with a reason on an unknown
// name or a bad value; faults is then unchanged.
bool ParseFault(const std::string& spec, Faults& faults, std::string* error);
// A comma-separated list of ParseFault specs; stops at the first bad one.
bool ParseFaults(const std::string& list, Faults& faults, std::string* error);
// The names ParseFault accepts, for help texts.
std::vector<std::string> FaultNames();

struct SimConfig {
  std::string address = "127.0.0.1";
  std::string broadcastAddress;  // "" = derived from address (see above)
  uint16_t udpPort = 1280;       // 0 = pick a free port
  uint16_t linkPort = 1280;
  uint16_t telnetPort = 23;

  enum class Console { Shell, Cli };
  Console console = Console::Shell;

  std::array<uint8_t, 6> mac = {0x00, 0x1E, 0x10, 0x5A, 0x3C, 0x01};
  std::string discoveryText = "1.0.0.0";  // the router's version text in discovery answers (<= 21)

  // versions read over the console
  std::string cfeVersion = "1.0.2.3";        // shell: nvram get cfe_version
  std::string appVersion = "2.1.10.6";       // shell: nvram get app_version
  std::string softwareVersion = "2.1.10.6";  // cli: diag display version
  std::string resVersion = "3.0.4.1";        // cli: diag display resversion
  // versions read over DIAG
  std::string firmwareVersion = "11.1.20.6";  // board version (<= 31 characters)
  std::string dashboardVersion = "4.2.0.1";   // ISO version (<= 128 characters); "" = no version

  std::array<uint8_t, 8> unlockCode = {'Q', 'O', 'R', 'M', 'O', 'D', 'M', '1'};
  uint32_t restartMs = 8000;      // how long a module restart keeps it silent
  uint32_t routerWriteMs = 3000;  // time the router takes to write a received router image
  bool startInDownloader = false;
  bool startOffline = false;

  Faults faults;
};

// One thing the emulator received or did. Kinds are short dotted names; detail is free text.
//   sim.start
//   udp.discover udp.erase-nvram udp.force-load udp.leave-force-load udp.presence udp.ignored
//   link.connect link.close link.reset link.bad-frame link.rut-begin link.fwt-begin link.fwt-force
//   link.control router.image router.result
//   diag.handshake diag.board-version diag.iso-version diag.nv-backup diag.nv-restore
//   diag.restore-status diag.change-mode diag.switch diag.nv-read diag.nv-write diag.error
//   dl.wakeup dl.unlock dl.write dl.reset dl.nak
//   module.restart module.ready module.silent module.version module.nv-restore
//   telnet.connect telnet.login telnet.command telnet.close
struct SimEvent {
  uint64_t seq = 0;     // 1, 2, 3 ... in the order things happened
  uint64_t tickMs = 0;  // clock time
  std::string kind;
  std::string detail;
};

// A router image as the router received it after an RUT begin packet.
struct RouterImageRecord {
  uint32_t announced = 0;     // value of the begin packet
  std::vector<uint8_t> data;  // the raw bytes (all of them when the stream completed)
  bool complete = false;      // all announced bytes arrived
  int moduleType = 9;         // from the TRX flag word, 9 when the header is not valid
  std::string tagVersion;     // from our version tag, "" without one
  uint32_t resultCode = 0;    // what the router answered (or would have answered)
};

// The module's state as seen from outside.
enum class ModuleMode { Normal, Offline, Downloader };

struct ModuleStatus {
  ModuleMode mode = ModuleMode::Normal;
  bool restarting = false;
  bool unlocked = false;
  bool forceLoad = false;  // the router holds the module in force-load mode
  bool nvBackedUp = false;
  std::string firmwareVersion;
  std::string dashboardVersion;
};

class RouterSimImpl;

// Owns the emulator's sockets and threads. Not copyable. Every accessor is thread-safe.
class RouterSim {
 public:
  explicit RouterSim(SimConfig config);
  ~RouterSim();  // Stop()
  RouterSim(const RouterSim&) = delete;
  RouterSim& operator=(const RouterSim&) = delete;

  // Binds every port and starts serving. False with a reason (e.g. "cannot bind UDP 127.0.0.1:1280:
  // Address already in use") when a port cannot be bound; nothing keeps running then.
  bool Start(std::string* error);
  // Closes every socket and joins the threads. Harmless when not started; Start may follow again.
  void Stop();
  bool Running() const;

  // The bound ports (the chosen ones when the configuration asked for 0); 0 before Start.
  uint16_t UdpPort() const;
  uint16_t LinkPort() const;
  uint16_t TelnetPort() const;
  std::string Address() const;
  std::string BroadcastAddress() const;

  // Faults may change while running; the new set applies to the next request.
  void SetFaults(const Faults& faults);
  Faults GetFaults() const;
  bool ApplyFault(const std::string& spec, std::string* error);  // ParseFault onto the current set

  // Events in order. The callback (optional) is called for each event as it is recorded, on the
  // emulator thread that recorded it, one call at a time; it must not call back into RouterSim.
  std::vector<SimEvent> Events() const;
  std::vector<SimEvent> EventsOfKind(const std::string& kind) const;
  size_t CountEvents(const std::string& kind) const;
  void ClearEvents();
  void SetEventCallback(std::function<void(const SimEvent&)> callback);
  // Waits until an event of that kind with seq > afterSeq was recorded; timeout in clock ms.
  bool WaitForEvent(const std::string& kind, uint32_t timeoutMs, uint64_t afterSeq = 0,
                    SimEvent* found = nullptr) const;
  uint64_t LastSeq() const;

  // What arrived: router images in order, the last one for a module type, the module's flash.
  std::vector<RouterImageRecord> RouterImages() const;
  std::vector<uint8_t> RouterImage(int moduleType) const;  // empty when none arrived
  std::map<uint32_t, std::vector<uint8_t>> Flash() const;  // contiguous runs by start address
  // Bytes of flash at [address, address + length); false when any byte was never written.
  bool ReadFlash(uint32_t address, size_t length, std::vector<uint8_t>* out) const;

  ModuleStatus Module() const;
  // Current router versions (they change when a tagged router image was written).
  std::string CfeVersion() const;
  std::string AppVersion() const;
  std::string SoftwareVersion() const;
  std::string ResVersion() const;

 private:
  std::unique_ptr<RouterSimImpl> m_Impl;
};

}  // namespace qorsim
