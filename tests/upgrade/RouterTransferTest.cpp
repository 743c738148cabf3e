// The router module transfer through a scripted link port: the begin packet, the raw writes of
// 7300 bytes, the result record and what the wait passes over.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "UpgradeFixtures.h"
#include "image/CBinFile.h"
#include "image/ModuleTable.h"
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
    const bool ready = m_Ready.wait_for(lock, Clock().RealWait(timeout),
                                        [this] { return !m_Incoming.empty() || m_Purged; });
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

  int Close() override { return 1; }
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
  void TearDown() override {
    m_Engine.reset();
    ResetModuleTable();
  }

  // A fresh engine, list and port, the port attached as the router link with its receiver running.
  void Prepare() {
    m_Engine.reset();
    m_List = std::make_unique<FakeModuleList>();
    for (int i = 0; i < 5; ++i) {
      m_List->InsertItem(i, "row");
    }
    m_Engine = std::make_unique<CUpgradeEngine>(m_Dir.File("log.txt"));
    m_Engine->SetListControl(m_List.get());
    auto port = std::make_unique<ScriptedLinkPort>();
    m_Port = port.get();
    ASSERT_TRUE(m_Engine->GetRouterLink().Attach(std::move(port)));
    ASSERT_TRUE(m_Engine->GetRouterLink().StartReceiver());
  }

  // An application image whose unit holds exactly dataLength bytes, in the module table's slot.
  bool MakeImage(size_t dataLength) {
    ResetModuleTable();
    // the unit's data is the 16-byte header, the 64-byte version tag and the payload
    m_Data = WriteRouterImage(m_Dir.Path(), MODULE_APP, "2.1.10.7", dataLength - 80, 3);
    CBinFile& image = Image();
    image.SetFilePath(m_Dir.File("router-1.bin"));
    return m_Data.size() == dataLength && image.OpenFile(MODULE_NONE);
  }
  static CBinFile& Image() { return g_ModuleRows[MODULE_APP].m_Image; }

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
