// The router module transfer through a scripted link port: the begin packet, the raw writes of
// 7300 bytes, the result record and what the wait passes over.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "UpgradeFixtures.h"
#include "image/CBinFile.h"
#include "net/INetPort.h"
#include "platform/Clock.h"
#include "protocol/Hdlc.h"
#include "upgrade/CUpgradeEngine.h"

namespace upgrade_test {
namespace {

// A link port that records every write and hands out bytes that the test queues. Thread-safe: the
// adapter's receiver reads while the worker writes.
class ScriptedLinkPort : public INetPort {
 public:
  ~ScriptedLinkPort() override {
    if (m_Later.joinable()) {
      m_Later.join();
    }
  }

  int Write(const uint8_t* data, uint32_t length, uint32_t /*timeout*/) override {
    std::function<void(ScriptedLinkPort&)> hook;
    {
      std::lock_guard<std::mutex> lock(m_Lock);
      if (m_FailFrom >= 0 && static_cast<int>(m_Writes.size()) >= m_FailFrom) {
        m_LastError.store(kErrConnReset);
        m_Writes.emplace_back();  // counted, nothing delivered
        return 0;
      }
      m_Writes.emplace_back(data, data + length);
      hook = m_AfterWrite;
    }
    if (hook) {
      hook(*this);
    }
    return 1;
  }

  int Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) override {
    std::unique_lock<std::mutex> lock(m_Lock);
    ++m_ReadsEntered;
    m_Ready.notify_all();
    const bool ready = m_Ready.wait_for(lock, Clock().RealWait(timeout),
                                        [this] { return !m_Stuck && (!m_Incoming.empty() || m_Purged); });
    // a read stuck in the system (a reconnect that hangs): no purge ends it, only Release
    m_Ready.wait(lock, [this] { return !m_Stuck; });
    if (m_Purged) {
      m_Purged = false;
      m_LastError.store(kErrPurged);
      return 0;
    }
    if (!ready) {
      m_LastError.store(kErrTimeout);
      return 0;
    }
    uint32_t n = 0;
    while (n < length && !m_Incoming.empty()) {
      buffer[n++] = m_Incoming.front();
      m_Incoming.pop_front();
    }
    *received = n;
    return 1;
  }

  int Close() override {
    Release();
    return 1;
  }
  bool IsConnected() const override { return m_Connected.load(); }
  void SetConnectionObserver(PortConnectionObserver observer) override { m_Observer = std::move(observer); }
  uint32_t GetGeneration() const override { return m_Generation.load(); }
  int SetConfig(const std::string&, uint16_t) override { return 1; }
  int Open() override { return 1; }
  int GetPortType() override { return NetPortTcp; }
  int Purge() override {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Purged = true;
    m_Ready.notify_all();
    return 1;
  }

  // Queues a frame (with its flags) for the reader.
  void Deliver(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(HdlcMaxEncodedSize(payload.size()));
    const int length = HdlcEncodeFrame(payload.data(), payload.size(), frame.data(), true);
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Incoming.insert(m_Incoming.end(), frame.begin(), frame.begin() + length);
    m_Ready.notify_all();
  }

  // Every write from the index on fails with a reset (0 is the first write).
  // Queues each frame after a pause of delayMs clock ms, as a router answers after writing flash;
  // the pauses let the reader take the frames one by one.
  void DeliverLater(std::vector<std::vector<uint8_t>> payloads, uint32_t delayMs) {
    m_Later = std::thread([this, payloads, delayMs] {
      for (const auto& p : payloads) {
        SleepMs(delayMs);
        Deliver(p);
      }
    });
  }

  void FailWritesFrom(int index) { m_FailFrom = index; }
  // From now on the reader hangs until Release (or Close); IsConnected answers connected. Waits
  // until the reader is inside a read, so the hang is where the receiver is.
  void Stick(bool connected) {
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Ready.wait_for(lock, std::chrono::seconds(10), [this] { return m_ReadsEntered > 0; });
    m_Stuck = true;
    m_Connected = connected;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Stuck = false;
    m_Ready.notify_all();
  }
  // The connection ends as the TCP port reports it (on the calling thread).
  void EndConnection(const PortConnectionEvent& event) {
    m_Generation.fetch_add(1);
    if (m_Observer) m_Observer(event);
  }
  void AfterWrite(std::function<void(ScriptedLinkPort&)> hook) { m_AfterWrite = std::move(hook); }
  std::vector<std::vector<uint8_t>> Writes() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Writes;
  }
  size_t RawBytes() {
    std::lock_guard<std::mutex> lock(m_Lock);
    size_t total = 0;
    for (size_t i = 1; i < m_Writes.size(); ++i) {
      total += m_Writes[i].size();
    }
    return total;
  }

 private:
  std::mutex m_Lock;
  std::condition_variable m_Ready;
  std::deque<uint8_t> m_Incoming;
  bool m_Purged = false;
  std::vector<std::vector<uint8_t>> m_Writes;
  int m_FailFrom = -1;
  bool m_Stuck = false;
  int m_ReadsEntered = 0;
  std::atomic<bool> m_Connected{true};
  std::atomic<uint32_t> m_Generation{0};
  PortConnectionObserver m_Observer;
  std::function<void(ScriptedLinkPort&)> m_AfterWrite;
  std::thread m_Later;
};

// The router's 40-byte result record.
std::vector<uint8_t> ResultRecord(uint32_t code, size_t size = 40, uint8_t first = 0xFF) {
  std::vector<uint8_t> record(size, 0);
  record[0] = first;
  if (size >= 34) {
    record[30] = static_cast<uint8_t>(code);
    record[31] = static_cast<uint8_t>(code >> 8);
    record[32] = static_cast<uint8_t>(code >> 16);
    record[33] = static_cast<uint8_t>(code >> 24);
  }
  return record;
}

class RouterTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_Dir.Path().empty());
    Prepare();
  }
  void TearDown() override { m_Engine.reset(); }

  // A fresh engine, list and port, the port attached as the router link with its receiver running.
  void Prepare() {
    m_Engine.reset();
    m_List = std::make_unique<FakeModuleList>();
    for (int i = 0; i < 5; ++i) {
      m_List->InsertItem(i, "row");
    }
    m_Engine = std::make_unique<CUpgradeEngine>(m_Dir.File("log.txt"));
    m_Engine->Reporter().SetList(m_List.get());
    // the application's row, as the run selects it (first family: row 1)
    m_Engine->Reporter().SetCurrentRow(1);
    auto port = std::make_unique<ScriptedLinkPort>();
    m_Port = port.get();
    ASSERT_TRUE(m_Engine->GetRouterLink().Attach(std::move(port)));
    ASSERT_TRUE(m_Engine->GetRouterLink().StartReceiver());
  }

  // An application image whose unit holds exactly dataLength bytes.
  bool MakeImage(size_t dataLength) {
    m_Image.SetFilePath("");
    // the unit's data is the 16-byte header, the 64-byte version tag and the payload
    m_Data = WriteRouterImage(m_Dir.Path(), MODULE_APP, "2.1.10.7", dataLength - 80, 3);
    CBinFile& image = Image();
    image.SetFilePath(m_Dir.File("router-1.bin"));
    return m_Data.size() == dataLength && image.OpenFile(MODULE_NONE);
  }
  CBinFile& Image() { return m_Image; }

  // Answers the stream with these frames 3000 clock ms after all data arrived.
  void AnswerWhenComplete(std::vector<std::vector<uint8_t>> answers) {
    const size_t expected = m_Data.size();
    m_Port->AfterWrite([expected, answers](ScriptedLinkPort& port) {
      if (port.RawBytes() == expected) {
        port.DeliverLater(answers, 3000);
      }
    });
  }

  std::vector<std::string> Logged() { return LogMessages(m_Engine->GetLog().GetPending()); }

  ScaledClock m_Clock{50};
  ScopedClock m_UseClock{m_Clock};
  TempDir m_Dir;
  std::unique_ptr<FakeModuleList> m_List;
  std::unique_ptr<CUpgradeEngine> m_Engine;
  ScriptedLinkPort* m_Port = nullptr;
  std::vector<uint8_t> m_Data;
  CBinFile m_Image;
};

TEST_F(RouterTransfer, DataGoesOutInWritesOf7300BytesAfterTheBeginPacket) {
  struct Case {
    size_t length;
    std::vector<size_t> writes;
  };
  const Case cases[] = {
      {7300, {7300}},
      {7300 * 2, {7300, 7300}},
      {7300 * 2 + 1, {7300, 7300, 1}},  // one byte more takes one more write
      {7299, {7299}},
      {100, {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    Prepare();
    ASSERT_TRUE(MakeImage(c.length));
    AnswerWhenComplete({ResultRecord(4)});
    ASSERT_TRUE(m_Engine->TransferRouterModule(Image()));

    const auto writes = m_Port->Writes();
    ASSERT_EQ(writes.size(), c.writes.size() + 1);
    // the begin packet: one frame with a leading flag, the RUT text and the data length
    std::vector<uint8_t> begin = writes[0];
    ASSERT_EQ(begin.front(), kHdlcFlag);
    const unsigned payload = HdlcDecodeFrame(begin.data(), begin.size(), begin.data());
    ASSERT_EQ(payload, 40u);
    EXPECT_EQ(begin[0], 0xFF);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&begin[1]), 29), "Tavrix RUT Begin Download Pkt");
    const uint32_t announced = static_cast<uint32_t>(begin[30] | (begin[31] << 8) | (begin[32] << 16) |
                                                     (static_cast<uint32_t>(begin[33]) << 24));
    EXPECT_EQ(announced, c.length);
    // the raw data, unframed, in order
    std::vector<uint8_t> sent;
    for (size_t i = 1; i < writes.size(); ++i) {
      EXPECT_EQ(writes[i].size(), c.writes[i - 1]) << "write " << i;
      sent.insert(sent.end(), writes[i].begin(), writes[i].end());
    }
    EXPECT_TRUE(sent == m_Data);
    EXPECT_EQ(m_List->Row(1).text[COL_PERCENT], "100%");
    EXPECT_EQ(m_Engine->GetStatusId(), 103);
  }
}

TEST_F(RouterTransfer, OnlyAFortyByteRecordStartingWithFFEndsTheWait) {
  ASSERT_TRUE(MakeImage(500));
  // passed over: too short, too long, and a frame the response key keeps out; each arrives on its
  // own, so each is looked at
  AnswerWhenComplete({ResultRecord(4, 39), ResultRecord(4, 41), ResultRecord(4, 40, 0x02), ResultRecord(3)});
  EXPECT_FALSE(m_Engine->TransferRouterModule(Image()));
  EXPECT_EQ(m_Engine->GetStatusId(), 122);
  const std::vector<std::string> log = Logged();
  ASSERT_FALSE(log.empty());
  const std::string last = log.back();
  EXPECT_EQ(last.rfind("TCP_GetRouterResult's ElapsedTime = ", 0), 0u) << last;
  EXPECT_EQ(last.substr(last.size() - std::string(" ms, Result = 3").size()), " ms, Result = 3") << last;
  EXPECT_EQ(m_List->Row(1).text[COL_PERCENT], "100%");
}

TEST_F(RouterTransfer, AFailedDataWriteIsLoggedWithItsBlockAndTheSystemText) {
  ASSERT_TRUE(MakeImage(7300 * 3));
  m_Port->FailWritesFrom(2);  // the begin packet and block 1 go out, block 2 fails
  EXPECT_FALSE(m_Engine->TransferRouterModule(Image()));
  EXPECT_EQ(m_Engine->GetStatusId(), 121);
  const std::vector<std::string> log = Logged();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().rfind("Router Block2 Transfer Fail: ", 0), 0u) << log.back();
  EXPECT_GT(log.back().size(), std::string("Router Block2 Transfer Fail: ").size());
  // nothing after the failed block is sent
  EXPECT_EQ(m_Port->Writes().size(), 3u);
}

// A receiver that does not stop before the stream (stuck in its port) fails the transfer before
// anything is sent: 119 when the link has lost its connection meanwhile, else 121. Nothing waits for
// a result from a queue that nobody would fill.
TEST_F(RouterTransfer, AReceiverThatCannotBeStoppedFailsTheTransferBeforeAnythingIsSent) {
  struct Case {
    bool connected;
    int status;
    const char* log;
  };
  const Case cases[] = {
      {false, 119,
       "The router image was not sent: the router link's receiver did not stop while the link was "
       "being connected again"},
      {true, 121, "The router image was not sent: the router link's receiver did not stop"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    Prepare();
    ASSERT_TRUE(MakeImage(500));
    m_Port->Stick(c.connected);
    const uint64_t start = TickMs();
    EXPECT_FALSE(m_Engine->TransferRouterModule(Image()));
    const uint64_t took = TickMs() - start;
    EXPECT_EQ(m_Engine->GetStatusId(), c.status);
    EXPECT_TRUE(m_Port->Writes().empty()) << "no begin packet, no data";
    const std::vector<std::string> log = Logged();
    EXPECT_GE(FindMessage(log, "Receiver thread did not end within 10000 ms"), 0);
    EXPECT_GE(FindMessage(log, c.log), 0);
    // the receiver's stop gets its 10 s, no more: no result wait follows
    EXPECT_GE(took, 10000u);
    EXPECT_LT(took, 20000u);
    m_Port->Release();
  }
}

// The stream's connection ends before its result came: the port has already connected again (or
// found the connection closed), and the new connection can never carry the result. The wait ends
// at once with 121 and says why, instead of running out the application's 300 s.
TEST_F(RouterTransfer, TheResultWaitEndsAtOnceWhenTheStreamsConnectionEnded) {
  struct Case {
    PortConnectionEvent::Kind kind;
    int cause;
    const char* linkLine;
    const char* why;
  };
  const Case cases[] = {
      {PortConnectionEvent::Reconnected, kErrConnReset,
       "Router link lost (The connection was reset by the remote host.); connected again",
       "The connection was reset by the remote host."},
      {PortConnectionEvent::PeerClosed, kErrDisconnected, "Router link closed by the router",
       "The connection was closed by the remote host."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.linkLine);
    Prepare();
    ASSERT_TRUE(MakeImage(7300 + 1));
    const size_t expected = m_Data.size();
    ScriptedLinkPort* port = m_Port;
    std::thread ender;
    // 2 s after the last byte, from another thread, as the receiver would meet it
    m_Port->AfterWrite([&, expected, port](ScriptedLinkPort&) {
      if (port->RawBytes() == expected) {
        ender = std::thread([&c, port] {
          SleepMs(2000);
          PortConnectionEvent event;
          event.kind = c.kind;
          event.cause = c.cause;
          port->EndConnection(event);
        });
      }
    });
    const uint64_t start = TickMs();
    EXPECT_FALSE(m_Engine->TransferRouterModule(Image()));
    const uint64_t took = TickMs() - start;
    if (ender.joinable()) ender.join();
    EXPECT_EQ(m_Engine->GetStatusId(), 121);
    const std::vector<std::string> log = Logged();
    const int link = FindMessage(log, c.linkLine);
    EXPECT_GE(link, 0);
    EXPECT_GT(
        FindMessage(log, std::string("The router link's connection ended after the router image was sent, so "
                                     "its result cannot arrive: ") +
                             c.why),
        link);
    // begin packet pause 2500 ms, the end 2000 ms after the stream: nowhere near the 300 s limit
    EXPECT_GE(took, 4500u);
    EXPECT_LT(took, 15000u);
    EXPECT_EQ(m_List->Row(1).text[COL_PERCENT], "0%");
  }
}

// A reconnect before the stream began is no reason to fail: the stream went on the new connection.
TEST_F(RouterTransfer, AReconnectBeforeTheStreamDoesNotEndTheWait) {
  ASSERT_TRUE(MakeImage(500));
  PortConnectionEvent event;
  event.kind = PortConnectionEvent::Reconnected;
  event.cause = kErrConnReset;
  m_Port->EndConnection(event);
  AnswerWhenComplete({ResultRecord(4)});
  EXPECT_TRUE(m_Engine->TransferRouterModule(Image()));
  EXPECT_EQ(m_Engine->GetStatusId(), 103);
  // the reconnect is in the log all the same
  EXPECT_GE(FindMessage(Logged(),
                        "Router link lost (The connection was reset by the remote host.); connected again"),
            0);
}

TEST_F(RouterTransfer, ABeginPacketThatCannotBeWrittenIsTriedThreeTimes) {
  ASSERT_TRUE(MakeImage(500));
  m_Port->FailWritesFrom(0);
  const uint64_t start = TickMs();
  EXPECT_FALSE(m_Engine->TransferRouterModule(Image()));
  EXPECT_EQ(m_Engine->GetStatusId(), 120);
  EXPECT_EQ(m_Port->Writes().size(), 3u);
  // 100 ms after each failed try, and no 2500 ms pause as after a sent packet
  EXPECT_GE(TickMs() - start, 300u);
  const std::vector<std::string> log = Logged();
  EXPECT_EQ(MessagesStartingWith(log, "Sending RUT Begin Pkt").size(), 1u);
}

TEST_F(RouterTransfer, ASentForcePacketSetsTheForceLoadFlag) {
  struct Case {
    int kind;
    const char* log;
    const char* text;
    int flag;
  };
  const Case cases[] = {
      {1, "Sending FWT Begin Pkt", "Tavrix FWT Begin Download Pkt", 0},
      {2, "Sending FWT Force Pkt", "Tavrix FWT Force Download Pkt", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    Prepare();
    const uint64_t start = TickMs();
    ASSERT_TRUE(m_Engine->SendBeginPacket(c.kind, 0));
    // the router gets 2500 ms to prepare
    EXPECT_GE(TickMs() - start, 2500u);
    EXPECT_EQ(m_Engine->GetForceLoadFlag(), c.flag);
    EXPECT_EQ(Logged().back(), c.log);
    std::vector<uint8_t> frame = m_Port->Writes().at(0);
    ASSERT_EQ(HdlcDecodeFrame(frame.data(), frame.size(), frame.data()), 40u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&frame[1]), 29), c.text);
  }
}

}  // namespace
}  // namespace upgrade_test
