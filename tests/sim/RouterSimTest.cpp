#include <gtest/gtest.h>

#include <memory>

#include "SimPeers.h"
#include "SimTestUtil.h"
#include "platform/Clock.h"
#include "sim/RouterSim.h"
#include "tools/ImageBuilder.h"

using namespace qorsim;
using simtest::Bytes;
using simtest::Hex;

namespace {

constexpr int kWaitMs = 3000;  // real ms; generous, the machine is shared
const std::array<uint8_t, 6> kMac = {0x00, 0x1E, 0x10, 0xAA, 0x7D, 0x7E};

Bytes Datagram(uint8_t type, std::array<uint8_t, 4> ip = {127, 0, 0, 1}, std::array<uint8_t, 6> mac = kMac) {
  Bytes d(32, 0);
  d[0] = type;
  std::copy(ip.begin(), ip.end(), d.begin() + 1);
  std::copy(mac.begin(), mac.end(), d.begin() + 5);
  return d;
}

const Bytes kProbe =
    Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kHandShake = simtest::Padded({0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06}, 126);

Bytes ControlPacket(const char* text, uint32_t value) {
  Bytes p(40, 0);
  p[0] = 0xFF;
  for (size_t i = 0; i < 29; ++i) p[1 + i] = static_cast<uint8_t>(text[i]);
  p[30] = static_cast<uint8_t>(value), p[31] = static_cast<uint8_t>(value >> 8);
  p[32] = static_cast<uint8_t>(value >> 16), p[33] = static_cast<uint8_t>(value >> 24);
  return p;
}
Bytes RutBegin(uint32_t total) { return ControlPacket("Tavrix RUT Begin Download Pkt", total); }

// router unit data: TRX header, our version tag, payload
Bytes RouterData(ModuleType module, const std::string& version, size_t payload) {
  Bytes body = GeneratePayload(payload, 7);
  auto tag = MakeVersionTag(module, version);
  auto trx = MakeTrxHeader(module, static_cast<uint32_t>(16 + tag.size() + body.size()));
  Bytes d(trx.begin(), trx.end());
  d.insert(d.end(), tag.begin(), tag.end());
  d.insert(d.end(), body.begin(), body.end());
  return d;
}

Bytes Short(Bytes d) {
  d.pop_back();
  return d;
}

uint32_t ResultCode(const Bytes& record) {
  return record[30] | (record[31] << 8) | (record[32] << 16) | (static_cast<uint32_t>(record[33]) << 24);
}

class RouterSimTest : public ::testing::Test {
 protected:
  RouterSimTest() : m_Use(m_Clock) {
    m_Config.udpPort = 0;
    m_Config.linkPort = 0;
    m_Config.telnetPort = 0;
    m_Config.mac = kMac;
    m_Config.discoveryText = "1.0.0.0";
    m_Config.restartMs = 3000;
    m_Config.routerWriteMs = 500;
  }
  void Start(const std::string& faults = "") {
    std::string error;
    ASSERT_TRUE(ParseFaults(faults, m_Config.faults, &error)) << error;
    m_Sim = std::make_unique<RouterSim>(m_Config);
    ASSERT_TRUE(m_Sim->Start(&error)) << error;
  }
  // the router's answer to payload, decoded; nullopt when nothing came within the wait
  std::optional<Bytes> Ask(const Bytes& payload, int waitMs = kWaitMs) {
    m_Udp.Send("127.0.0.1", m_Sim->UdpPort(), payload);
    return m_Udp.Receive(waitMs);
  }
  // proves that an earlier datagram went unanswered: datagrams on loopback keep their order, so
  // when the next answer is the discovery's, nothing came before it
  void ExpectNothingBefore(const char* what) {
    auto next = Ask(kProbe);
    ASSERT_TRUE(next.has_value()) << what;
    EXPECT_EQ((*next)[0], 1) << what << ": an answer came before the discovery's";
  }

  ScaledClock m_Clock{10};
  ScopedClock m_Use;
  SimConfig m_Config;
  std::unique_ptr<RouterSim> m_Sim;
  simtest::UdpPeer m_Udp;
};

TEST_F(RouterSimTest, DiscoveryIsAnsweredOnUnicastAndLoopbackBroadcastFromTheRouterPort) {
  Start();
  Bytes expected = Datagram(1);
  const std::string text = "1.0.0.0";
  std::copy(text.begin(), text.end(), expected.begin() + 11);
  for (const char* to : {"127.0.0.1", "127.255.255.255"}) {
    m_Udp.Send(to, m_Sim->UdpPort(), kProbe);
    sockaddr_in from{};
    auto raw = m_Udp.ReceiveRaw(kWaitMs, &from);
    ASSERT_TRUE(raw.has_value()) << to;
    EXPECT_EQ((*raw)[0], 0x7E) << "leading flag";
    auto answer = simtest::Decode(*raw);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(Hex(*answer), Hex(expected)) << to;
    EXPECT_EQ(ntohs(from.sin_port), m_Sim->UdpPort());
    EXPECT_EQ(ntohl(from.sin_addr.s_addr), 0x7F000001u);
  }
}

TEST_F(RouterSimTest, ControlDatagramsAreEchoedOnlyForThisRouter) {
  Start();
  for (uint8_t type : {6, 7, 8, 10}) {
    Bytes d = Datagram(type);
    d[20] = 'x';  // the text is echoed as it came
    auto a = Ask(d);
    ASSERT_TRUE(a.has_value()) << int(type);
    EXPECT_EQ(Hex(*a), Hex(d)) << int(type);
  }
  struct Case {
    const char* what;
    Bytes datagram;
  } ignored[] = {
      {"another MAC", Datagram(10, {127, 0, 0, 1}, {0x00, 0x1E, 0x10, 0xAA, 0x7D, 0x7F})},
      {"another IP", Datagram(10, {127, 0, 0, 2})},
      {"unknown type", Datagram(9)},
      {"31 bytes", Short(Datagram(10))},
  };
  for (const auto& c : ignored) {
    m_Udp.Send("127.0.0.1", m_Sim->UdpPort(), c.datagram);
    ExpectNothingBefore(c.what);
  }
  // a datagram whose check sequence is broken
  Bytes broken = simtest::Encode(Datagram(10));
  broken[3] ^= 0x01;
  m_Udp.SendRaw("127.0.0.1", m_Sim->UdpPort(), broken);
  ExpectNothingBefore("broken frame");
}

TEST_F(RouterSimTest, ForceLoadDatagramsDriveTheModule) {
  Start();
  ASSERT_TRUE(Ask(Datagram(7)).has_value());
  EXPECT_EQ(m_Sim->Module().mode, ModuleMode::Downloader);
  EXPECT_TRUE(m_Sim->Module().forceLoad);
  simtest::LinkPeer link(m_Sim->LinkPort());
  ASSERT_TRUE(link.SendFrame(kHandShake, true));
  auto hs = link.ReadFrame(kWaitMs);
  ASSERT_TRUE(hs.has_value());
  EXPECT_EQ((*hs)[14], 1);
  ASSERT_TRUE(Ask(Datagram(8)).has_value());
  EXPECT_FALSE(m_Sim->Module().forceLoad);
}

TEST_F(RouterSimTest, PresenceGoesSilentWhileTheModuleRestarts) {
  Start();
  simtest::LinkPeer link(m_Sim->LinkPort());
  ASSERT_TRUE(link.SendFrame({0x29, 0x01, 0x00}, false));
  ASSERT_TRUE(link.ReadFrame(kWaitMs).has_value());
  ASSERT_TRUE(link.SendFrame({0x3A}, false));
  auto sw = link.ReadFrame(kWaitMs);
  ASSERT_TRUE(sw.has_value());
  EXPECT_EQ(Hex(*sw), "3A");
  const uint64_t switched = Clock().TickMs();

  m_Udp.Send("127.0.0.1", m_Sim->UdpPort(), Datagram(10));
  if (Clock().TickMs() - switched < m_Config.restartMs / 2) ExpectNothingBefore("presence while restarting");

  // it comes back: poll as the tool does, bounded
  bool back = false;
  for (int i = 0; i < 40 && !back; ++i) {
    Clock().SleepMs(500);
    back = Ask(Datagram(10), 300).has_value();
  }
  ASSERT_TRUE(back);
  EXPECT_GE(Clock().TickMs() - switched, m_Config.restartMs);
  EXPECT_EQ(m_Sim->Module().mode, ModuleMode::Downloader);
}

TEST_F(RouterSimTest, DiscoveryFaults) {
  Start("discovery-junk=2");
  m_Udp.Send("127.0.0.1", m_Sim->UdpPort(), kProbe);
  for (int i = 0; i < 2; ++i) {
    auto junk = m_Udp.Receive(kWaitMs);
    ASSERT_TRUE(junk.has_value());
    EXPECT_EQ(junk->size(), 32u);
    EXPECT_NE((*junk)[0], 1) << "junk must not qualify";
  }
  auto real = m_Udp.Receive(kWaitMs);
  ASSERT_TRUE(real.has_value());
  EXPECT_EQ((*real)[0], 1);

  m_Sim->SetFaults({});
  ASSERT_TRUE(m_Sim->ApplyFault("discovery-bad-fcs", nullptr));
  m_Udp.Send("127.0.0.1", m_Sim->UdpPort(), kProbe);
  auto bad = m_Udp.ReceiveRaw(kWaitMs);
  ASSERT_TRUE(bad.has_value());
  EXPECT_FALSE(simtest::Decode(*bad).has_value()) << "first datagram must not decode";
  auto good = m_Udp.Receive(kWaitMs);
  ASSERT_TRUE(good.has_value());
  EXPECT_EQ((*good)[0], 1);

  m_Sim->SetFaults({});
  ASSERT_TRUE(m_Sim->ApplyFault("discovery-zero-mac", nullptr));
  auto zero = Ask(kProbe);
  ASSERT_TRUE(zero.has_value());
  EXPECT_EQ(Hex(Bytes(zero->begin() + 5, zero->begin() + 11)), "00 00 00 00 00 00");

  m_Sim->SetFaults({});
  ASSERT_TRUE(m_Sim->ApplyFault("no-discovery", nullptr));
  m_Udp.Send("127.0.0.1", m_Sim->UdpPort(), kProbe);
  auto none = Ask(Datagram(10));
  ASSERT_TRUE(none.has_value());
  EXPECT_EQ((*none)[0], 10) << "the discovery went unanswered";
}

TEST_F(RouterSimTest, ControlFaults) {
  struct Case {
    const char* fault;
    uint8_t type;
  } silent[] = {{"no-presence", 10}, {"presence-drop=1", 10}, {"erase-refuse", 6}, {"force-load-refuse", 7}};
  Start();
  for (const auto& c : silent) {
    m_Sim->SetFaults({});
    ASSERT_TRUE(m_Sim->ApplyFault(c.fault, nullptr));
    m_Udp.Send("127.0.0.1", m_Sim->UdpPort(), Datagram(c.type));
    ExpectNothingBefore(c.fault);
  }
  EXPECT_EQ(m_Sim->Module().mode, ModuleMode::Normal) << "a refused force-load has no effect";

  m_Sim->SetFaults({});
  ASSERT_TRUE(m_Sim->ApplyFault("control-corrupt", nullptr));
  auto corrupt = Ask(Datagram(10));
  ASSERT_TRUE(corrupt.has_value());
  EXPECT_NE(Hex(*corrupt), Hex(Datagram(10)));
  EXPECT_EQ(corrupt->size(), 32u);

  m_Sim->SetFaults({});
  ASSERT_TRUE(m_Sim->ApplyFault("presence-late=2000", nullptr));
  const uint64_t sent = Clock().TickMs();
  auto late = Ask(Datagram(10), kWaitMs * 2);
  ASSERT_TRUE(late.has_value());
  EXPECT_GE(Clock().TickMs() - sent, 2000u);
}

TEST_F(RouterSimTest, RouterImageLengthIsCountedExactlyAcrossReads) {
  m_Config.console = SimConfig::Console::Shell;
  Start();
  const Bytes data = RouterData(MODULE_BOOT, "1.2.3.4", 20000);
  struct Case {
    const char* what;
    size_t chunk;  // bytes per send; 0 = begin frame, image and the next frame in one send
  } cases[] = {{"one send", 0}, {"7300-byte writes", 7300}, {"odd pieces", 997}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    simtest::LinkPeer link(m_Sim->LinkPort());
    ASSERT_TRUE(link.Connected());
    Bytes begin = simtest::Encode(RutBegin(static_cast<uint32_t>(data.size())));
    if (c.chunk == 0) {
      // the image ends with bytes that look like a flag and an escape: they must stay data
      ASSERT_TRUE(link.SendRaw(simtest::Cat(simtest::Cat(begin, data), simtest::Encode(kHandShake, false))));
    } else {
      ASSERT_TRUE(link.SendRaw(begin));
      for (size_t at = 0; at < data.size(); at += c.chunk) {
        ASSERT_TRUE(
            link.SendRaw(Bytes(data.begin() + static_cast<ptrdiff_t>(at),
                               data.begin() + static_cast<ptrdiff_t>(std::min(data.size(), at + c.chunk)))));
      }
      ASSERT_TRUE(link.SendFrame(kHandShake, false));
    }
    // the hand-shake after the image is answered at once, the result comes after the write time
    auto first = link.ReadFrame(kWaitMs);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->size(), 133u);
    EXPECT_EQ((*first)[0], 0x26);
    auto result = link.ReadFrame(kWaitMs);
    ASSERT_TRUE(result.has_value());
    ASSERT_EQ(result->size(), 40u);
    EXPECT_EQ((*result)[0], 0xFF);
    EXPECT_EQ(ResultCode(*result), 4u);
    auto images = m_Sim->RouterImages();
    ASSERT_FALSE(images.empty());
    EXPECT_TRUE(images.back().complete);
    EXPECT_EQ(images.back().data.size(), data.size());
    EXPECT_TRUE(images.back().data == data);
    EXPECT_EQ(images.back().moduleType, MODULE_BOOT);
  }
  EXPECT_EQ(m_Sim->CfeVersion(), "1.2.3.4");
  EXPECT_TRUE(m_Sim->RouterImage(MODULE_BOOT) == data);
}

TEST_F(RouterSimTest, RouterImageResults) {
  Start();
  Bytes notTrx = GeneratePayload(1000, 3);
  notTrx[0] = 'X';
  struct Case {
    const char* what;
    const char* fault;
    Bytes data;
    uint32_t code;
  } cases[] = {
      {"good image", "", RouterData(MODULE_APP2, "9.9.9.9", 100), 4},
      {"no TRX header", "", notTrx, 3},
      {"too short for a TRX header", "", Bytes{'H', 'D', 'R', '0', 0, 0}, 3},
      {"result code forced", "router-result=7", RouterData(MODULE_APP, "8.8.8.8", 100), 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    m_Sim->SetFaults({});
    ASSERT_TRUE(m_Sim->ApplyFault(c.fault, nullptr));
    simtest::LinkPeer link(m_Sim->LinkPort());
    ASSERT_TRUE(
        link.SendRaw(simtest::Cat(simtest::Encode(RutBegin(static_cast<uint32_t>(c.data.size()))), c.data)));
    auto result = link.ReadFrame(kWaitMs);
    ASSERT_TRUE(result.has_value());
    ASSERT_EQ(result->size(), 40u);
    EXPECT_EQ(ResultCode(*result), c.code);
  }
  EXPECT_EQ(m_Sim->SoftwareVersion(), "9.9.9.9");
  EXPECT_NE(m_Sim->AppVersion(), "8.8.8.8") << "a failed write changes nothing";

  m_Sim->SetFaults({});
  ASSERT_TRUE(m_Sim->ApplyFault("router-no-result", nullptr));
  simtest::LinkPeer link(m_Sim->LinkPort());
  const uint64_t seq = m_Sim->LastSeq();
  Bytes data = RouterData(MODULE_APP, "8.8.8.8", 10);
  ASSERT_TRUE(
      link.SendRaw(simtest::Cat(simtest::Encode(RutBegin(static_cast<uint32_t>(data.size()))), data)));
  ASSERT_TRUE(m_Sim->WaitForEvent("router.image", 20000, seq));
  EXPECT_FALSE(link.ReadFrame(static_cast<int>(3 * m_Config.routerWriteMs / 10 + 200)).has_value());
}

TEST_F(RouterSimTest, ResetAfterBytesBreaksTheConnectionAtThatCount) {
  Start("reset-after-bytes=5000");
  const Bytes data = RouterData(MODULE_BOOT, "1.2.3.4", 20000);
  simtest::LinkPeer link(m_Sim->LinkPort());
  ASSERT_TRUE(link.SendRaw(simtest::Encode(RutBegin(static_cast<uint32_t>(data.size())))));
  link.SendRaw(data);
  EXPECT_FALSE(link.ReadFrame(kWaitMs).has_value());
  EXPECT_TRUE(link.Ended());
  ASSERT_TRUE(m_Sim->WaitForEvent("link.reset", 20000));
  auto images = m_Sim->RouterImages();
  ASSERT_EQ(images.size(), 1u);
  EXPECT_FALSE(images[0].complete);
  EXPECT_EQ(images[0].data.size(), 5000u);
  EXPECT_EQ(m_Sim->CfeVersion(), m_Config.cfeVersion);
}

TEST_F(RouterSimTest, LinkCarriesTheModuleAcrossSequentialConnections) {
  Start();
  for (int round = 0; round < 3; ++round) {
    simtest::LinkPeer link(m_Sim->LinkPort());
    // without and with a leading flag, and with a lone flag byte in front as the tool sends
    ASSERT_TRUE(link.SendRaw({0x7E}));
    ASSERT_TRUE(link.SendFrame({0x4B, 0xC9, 0x03, 0xFF}, round % 2 == 0));
    auto a = link.ReadFrame(kWaitMs);
    ASSERT_TRUE(a.has_value()) << round;
    EXPECT_EQ(a->size(), 66u);
  }
  auto connects = m_Sim->EventsOfKind("link.connect");
  EXPECT_EQ(connects.size(), 3u);
}

TEST_F(RouterSimTest, FullWriteBlocksWithEveryByteEscapedReachTheFlash) {
  m_Config.startInDownloader = true;
  Start();
  simtest::LinkPeer link(m_Sim->LinkPort());
  Bytes unlock = {0x0B};
  unlock.insert(unlock.end(), m_Config.unlockCode.begin(), m_Config.unlockCode.end());
  ASSERT_TRUE(link.SendFrame(unlock));
  auto ack = link.ReadFrame(kWaitMs);
  ASSERT_TRUE(ack.has_value());
  ASSERT_EQ(Hex(*ack), "02");
  struct Case {
    uint32_t address;
    uint8_t fill;
  } cases[] = {{0x7E7D7E7D, 0x7E}, {0x00100000, 0x7D}, {0x00101000, 0x55}};
  for (const auto& c : cases) {
    // 0F, address and length big-endian, 4096 data bytes: about 8 KB on the wire when escaped
    Bytes frame = {0x0F,
                   static_cast<uint8_t>(c.address >> 24),
                   static_cast<uint8_t>(c.address >> 16),
                   static_cast<uint8_t>(c.address >> 8),
                   static_cast<uint8_t>(c.address),
                   0x10,
                   0x00};
    frame.resize(7 + 4096, c.fill);
    ASSERT_TRUE(link.SendFrame(frame));
    auto a = link.ReadFrame(kWaitMs);
    ASSERT_TRUE(a.has_value()) << std::hex << c.address;
    EXPECT_EQ(Hex(*a), Hex(Bytes(frame.begin(), frame.begin() + 5)).replace(0, 2, "02"));
    std::vector<uint8_t> stored;
    ASSERT_TRUE(m_Sim->ReadFlash(c.address, 4096, &stored));
    EXPECT_TRUE(stored == Bytes(4096, c.fill));
  }
  EXPECT_EQ(m_Sim->CountEvents("link.bad-frame"), 0u);
}

TEST_F(RouterSimTest, FaultsThatCloseConnections) {
  struct Case {
    const char* fault;
    bool telnet;
  } cases[] = {{"link-drop", false}, {"telnet-refuse", true}};
  Start();
  for (const auto& c : cases) {
    m_Sim->SetFaults({});
    ASSERT_TRUE(m_Sim->ApplyFault(c.fault, nullptr));
    simtest::LinkPeer peer(c.telnet ? m_Sim->TelnetPort() : m_Sim->LinkPort());
    ASSERT_TRUE(peer.Connected());
    EXPECT_FALSE(peer.ReadFrame(kWaitMs).has_value());
    EXPECT_TRUE(peer.Ended()) << c.fault;
  }
}

TEST_F(RouterSimTest, ClosedPortsRefuseConnectionsUntilTheFaultIsCleared) {
  Start("link-closed");
  const uint16_t linkPort = m_Sim->LinkPort();
  ASSERT_NE(linkPort, 0);
  {
    simtest::LinkPeer refused(linkPort);
    EXPECT_FALSE(refused.Connected()) << "closed from the start";
  }
  const uint64_t seq = m_Sim->LastSeq();
  ASSERT_TRUE(m_Sim->ApplyFault("link-closed=0,telnet-closed", nullptr));
  ASSERT_TRUE(m_Sim->WaitForEvent("link.listen", 20000, seq));
  ASSERT_TRUE(m_Sim->WaitForEvent("telnet.listen", 20000, seq));
  {
    simtest::LinkPeer link(linkPort);
    ASSERT_TRUE(link.Connected()) << "the same port listens again";
    ASSERT_TRUE(link.SendFrame({0x4B, 0xC9, 0x03, 0xFF}, false));
    EXPECT_TRUE(link.ReadFrame(kWaitMs).has_value());
    simtest::LinkPeer console(m_Sim->TelnetPort());
    EXPECT_FALSE(console.Connected());
  }
  EXPECT_GE(m_Sim->CountEvents("link.listen"), 2u);
}

// A port that never answers: connection attempts get no reply at all (the connecting side waits for
// its own limit), a connection made before stays, and clearing the fault answers again.
TEST_F(RouterSimTest, UnansweredPortsDropConnectionAttemptsUntilTheFaultIsCleared) {
  Start();
  simtest::LinkPeer before(m_Sim->LinkPort());
  ASSERT_TRUE(before.Connected());
  // answered once: the emulator has taken the connection from its listener's queue
  ASSERT_TRUE(before.SendFrame({0x4B, 0xC9, 0x03, 0xFF}, false));
  ASSERT_TRUE(before.ReadFrame(kWaitMs).has_value());
  for (const char* fault : {"link-unanswered", "telnet-unanswered"}) {
    SCOPED_TRACE(fault);
    const bool link = std::string(fault) == "link-unanswered";
    const uint16_t port = link ? m_Sim->LinkPort() : m_Sim->TelnetPort();
    const char* listen = link ? "link.listen" : "telnet.listen";
    uint64_t seq = m_Sim->LastSeq();
    ASSERT_TRUE(m_Sim->ApplyFault(fault, nullptr));
    ASSERT_TRUE(m_Sim->WaitForEvent(listen, 20000, seq));

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in to = simtest::Loopback("127.0.0.1", port);
    const int r = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    EXPECT_TRUE(r < 0 && errno == EINPROGRESS) << "neither accepted nor refused at once";
    pollfd p{fd, POLLOUT, 0};
    EXPECT_EQ(poll(&p, 1, 500), 0) << "no answer within half a second";
    close(fd);
    if (link) {
      // the connection made before still carries the module's answers
      ASSERT_TRUE(before.SendFrame({0x4B, 0xC9, 0x03, 0xFF}, false));
      EXPECT_TRUE(before.ReadFrame(kWaitMs).has_value());
    }

    seq = m_Sim->LastSeq();
    ASSERT_TRUE(m_Sim->ApplyFault(std::string(fault) + "=0", nullptr));
    ASSERT_TRUE(m_Sim->WaitForEvent(listen, 20000, seq));
    simtest::LinkPeer again(port);
    EXPECT_TRUE(again.Connected()) << "answered again";
  }
}

// A discovery flooded with foreign datagrams instead of its answer, until the fault is cleared.
TEST_F(RouterSimTest, ADiscoveryFloodSendsForeignDatagramsInsteadOfTheAnswer) {
  Start("discovery-flood=10");
  m_Udp.Send("127.0.0.1", m_Sim->UdpPort(), kProbe);
  int foreign = 0;
  for (int i = 0; i < 20; ++i) {
    auto d = m_Udp.Receive(kWaitMs);
    ASSERT_TRUE(d.has_value()) << i;
    EXPECT_EQ(d->size(), 32u);
    if ((*d)[0] != 1) ++foreign;
  }
  EXPECT_EQ(foreign, 20) << "never the discovery answer";
  m_Sim->SetFaults({});
  // once cleared, the flood stops (a datagram already on its way may still come)
  while (m_Udp.Receive(200).has_value()) {
  }
  auto answer = Ask(kProbe);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ((*answer)[0], 1);
}

TEST_F(RouterSimTest, EventsAreRecordedInOrder) {
  Start();
  std::vector<std::string> seen;
  m_Sim->SetEventCallback([&seen](const SimEvent& e) { seen.push_back(e.kind); });
  ASSERT_TRUE(Ask(kProbe).has_value());
  {
    simtest::LinkPeer link(m_Sim->LinkPort());
    ASSERT_TRUE(link.SendFrame(kHandShake, false));
    ASSERT_TRUE(link.ReadFrame(kWaitMs).has_value());
  }
  ASSERT_TRUE(m_Sim->WaitForEvent("link.close", 20000));
  m_Sim->SetEventCallback(nullptr);
  const std::vector<std::string> expected = {"udp.discover", "link.connect", "diag.handshake", "link.close"};
  EXPECT_EQ(seen, expected);
  auto all = m_Sim->Events();
  for (size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].seq, all[i].seq);
}

TEST_F(RouterSimTest, StartFailsCleanlyOnAPortInUseAndCanRestart) {
  Start();
  SimConfig clash = m_Config;
  clash.udpPort = 0;
  clash.linkPort = m_Sim->LinkPort();
  RouterSim second(clash);
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find("cannot bind TCP 127.0.0.1:" + std::to_string(m_Sim->LinkPort())), std::string::npos)
      << error;
  EXPECT_EQ(second.UdpPort(), 0) << "nothing keeps running";

  clash.linkPort = 0;
  clash.udpPort = m_Sim->UdpPort();
  RouterSim udpClash(clash);
  EXPECT_FALSE(udpClash.Start(&error));
  EXPECT_NE(error.find("cannot bind UDP"), std::string::npos) << error;

  clash.address = "not-an-address";
  RouterSim third(clash);
  EXPECT_FALSE(third.Start(&error));

  m_Sim->Stop();
  EXPECT_FALSE(m_Sim->Running());
  ASSERT_TRUE(m_Sim->Start(&error)) << error;
  EXPECT_TRUE(Ask(kProbe).has_value());
}

}  // namespace
