#include "protocol/CTelnetClient.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"
#include "platform/TextCodec.h"

namespace {

constexpr uint8_t kIac = 255;
constexpr uint8_t kWill = 251;
constexpr uint8_t kWont = 252;
constexpr uint8_t kDo = 253;
constexpr uint8_t kOptEcho = 1;
constexpr uint8_t kOptSuppressGoAhead = 3;
constexpr uint8_t kOptRemoteFlowControl = 33;
constexpr uint32_t kReceiveSize = 1460;
constexpr size_t kWorkSize = 2048;

size_t CountChars(const std::string& s) {
  return static_cast<size_t>(std::count_if(
      s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// byte offset at which the last `chars` characters of s begin
size_t OffsetOfLastChars(const std::string& s, size_t chars) {
  size_t pos = s.size();
  while (chars > 0 && pos > 0) {
    --pos;
    if ((static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80) --chars;
  }
  return pos;
}

bool Login(CTelnetClient& client, const std::string& address, CDownloadLog& log, const char* prompt) {
  // a step cut short by the thread's stop request did not fail: nothing to log
  auto fail = [&log](const char* text) {
    if (!StopRequestedHere()) log.PrintText(text);
    return false;
  };
  // The log texts stay as written: the people and tools that read the log know them. In English:
  // the TCP connection could not be made; no Telnet login prompt arrived; the login prompt holds no
  // ':'; entering the user name admin failed; entering the password korvx failed.
  if (!client.Connect(address)) return fail("创建TCP连接失败");
  if (!client.ReadLines(500)) return fail("没有收到Telnet的登录提示信息");
  if (client.FindLine(":") < 0) return fail("Telnet的登录提示中没有':'");
  if (!client.Command("admin\r\n", ":", 500)) return fail("输入用户名admin失败");
  if (!client.Command("korvx\r\n", prompt, 500)) return fail("输入密码korvx失败");
  return true;
}

}  // namespace

CTelnetBuffer::CTelnetBuffer(int capacity) : m_Data(static_cast<size_t>(std::max(capacity, kMinCapacity))) {}

bool CTelnetBuffer::Append(const uint8_t* bytes, int count) {
  if (bytes == nullptr || count <= 0) return false;
  std::lock_guard<std::mutex> lock(m_Lock);
  // a peer that talks on between two reads must not eat the memory: keep the first kMaxHeld bytes
  count = std::min(count, kMaxHeld - m_Length);
  if (count <= 0) return true;
  const int capacity = static_cast<int>(m_Data.size());
  if (capacity - m_Length < count) {
    // the smallest whole multiple (at least twice) that fits, so a burst needs one reallocation
    int64_t k = 2;
    while (k * capacity - m_Length < count) ++k;
    const size_t grown = static_cast<size_t>(std::min<int64_t>(k * capacity, kMaxHeld));
    try {
      std::vector<uint8_t> bigger(grown);
      std::copy_n(m_Data.begin(), m_Length, bigger.begin());
      m_Data.swap(bigger);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  std::copy_n(bytes, count, m_Data.begin() + m_Length);
  m_Length += count;
  return true;
}

int CTelnetBuffer::TakeOut(uint8_t* destination, int most) {
  std::lock_guard<std::mutex> lock(m_Lock);
  const int n = destination == nullptr ? 0 : std::clamp(std::min(m_Length, most), 0, m_Length);
  if (n > 0) std::copy_n(m_Data.begin(), n, destination);
  m_Length = 0;
  return n;
}

int CTelnetBuffer::Capacity() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return static_cast<int>(m_Data.size());
}

int CTelnetBuffer::Length() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Length;
}

std::vector<std::string> CutTelnetLines(const uint8_t* bytes, size_t count) {
  std::vector<std::string> lines;
  if (bytes == nullptr) return lines;
  // a zero byte ends the text
  const uint8_t* end = std::find(bytes, bytes + count, uint8_t{0});
  const uint8_t* pos = bytes;
  while (pos < end) {
    const uint8_t* cut = end;
    for (const uint8_t* p = pos; p + 1 < end; ++p) {
      if (p[0] == '\r' && p[1] == '\n') {
        cut = p;
        break;
      }
    }
    lines.push_back(TextFrom8Bit(std::span<const uint8_t>(pos, cut)));
    pos = cut == end ? end : cut + 2;
  }
  return lines;
}

CTelnetClient::CTelnetClient() = default;

CTelnetClient::~CTelnetClient() { Close(); }

bool CTelnetClient::Connect(const std::string& address) {
  StopReceiver();
  if (!m_Port.SetConfig(address, m_PortNumber)) return false;
  if (!m_Port.Open()) return false;
  m_StopReceiver.store(false);
  try {
    m_Receiver = std::thread(&CTelnetClient::ReceiverLoop, this);
  } catch (const std::system_error&) {
    m_Port.Close();
    return false;
  }
  SendOption(kWill, kOptEcho);
  SendOption(kWont, kOptRemoteFlowControl);
  SendOption(kDo, kOptEcho);
  SendOption(kDo, kOptSuppressGoAhead);
  return true;
}

bool CTelnetClient::SendOption(uint8_t command, uint8_t option) {
  const uint8_t bytes[3] = {kIac, command, option};
  return m_Port.Write(bytes, sizeof bytes, kOptionTimeoutMs) == 1;
}

bool CTelnetClient::SendText(const std::string& text, uint32_t timeout) {
  const std::string_view bytes = TextTo8Bit(text);
  const size_t length = std::min(bytes.size(), bytes.find('\0'));
  return m_Port.Write(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(length),
                      timeout) == 1;
}

bool CTelnetClient::ReadLines(uint32_t wait) {
  m_Lines.clear();
  SleepMs(std::max(wait, kMinWaitMs));
  uint8_t work[kWorkSize];
  const int taken = m_Buffer.TakeOut(work, kMostPerRead);
  if (taken <= 0) return false;
  m_Lines = CutTelnetLines(work, static_cast<size_t>(taken));
  return !m_Lines.empty();
}

int CTelnetClient::FindLine(const std::string& text) const {
  if (m_Lines.empty()) return -1;
  // the shell prompt counts only where the console stopped
  if (text == "#") {
    const int last = static_cast<int>(m_Lines.size()) - 1;
    return m_Lines.back().find('#') != std::string::npos ? last : -1;
  }
  for (int i = static_cast<int>(m_Lines.size()) - 1; i >= 0; --i) {
    if (m_Lines[static_cast<size_t>(i)].find(text) != std::string::npos) return i;
  }
  return -1;
}

bool CTelnetClient::Command(const std::string& text, const std::string& expected, uint32_t wait) {
  return SendText(text, kCommandTimeoutMs) && ReadLines(wait) && FindLine(expected) >= 0;
}

void CTelnetClient::StopReceiver() {
  if (!m_Receiver.joinable()) return;
  // the receiver waits without limit; the purge ends that wait, and it then sees the stop flag
  m_StopReceiver.store(true);
  m_Port.Purge();
  m_Receiver.join();
}

void CTelnetClient::Close() {
  m_Lines.clear();
  StopReceiver();
  m_Port.Shutdown();
  m_Port.Close();
}

void CTelnetClient::ReceiverLoop() {
  uint8_t bytes[kReceiveSize];
  while (!m_StopReceiver.load() && m_Port.IsOpen()) {
    uint32_t received = 0;
    if (m_Port.Read(bytes, sizeof bytes, &received, IClock::kInfinite) == 1 && received > 0) {
      m_Buffer.Append(bytes, static_cast<int>(std::min<uint32_t>(received, sizeof bytes)));
    }
  }
}

bool LoginShell(CTelnetClient& client, const std::string& address, CDownloadLog& log) {
  return Login(client, address, log, "#");
}

bool LoginCli(CTelnetClient& client, const std::string& address, CDownloadLog& log) {
  return Login(client, address, log, "QVX");
}

bool IsVersionText(const std::string& text) {
  if (text.empty()) return false;
  int dots = 0;
  bool afterDot = true;  // the last dot stands "just before the text"
  for (char c : text) {
    if (c == '.') {
      if (afterDot) return false;
      if (++dots == 3) return true;
      afterDot = true;
    } else if (c >= '0' && c <= '9') {
      afterDot = false;
    } else {
      return false;
    }
  }
  return false;
}

bool TakeLastVersionLine(const std::vector<std::string>& lines, std::string& out) {
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (IsVersionText(*it)) {
      out = *it;
      return true;
    }
  }
  return false;
}

bool TakeLastVersionLine(const CTelnetClient& client, std::string& out) {
  return TakeLastVersionLine(client.Lines(), out);
}

bool TakeValueAfterLabel(const std::vector<std::string>& lines, const std::string& label, std::string& out) {
  for (const std::string& line : lines) {
    if (line.find(label) == std::string::npos) continue;
    // the value is taken from the end of the line, as long as the line minus the label
    const size_t chars = CountChars(line) - std::min(CountChars(line), CountChars(label));
    out = line.substr(OffsetOfLastChars(line, chars));
    return true;
  }
  return false;
}

bool TakeValueAfterLabel(const CTelnetClient& client, const std::string& label, std::string& out) {
  return TakeValueAfterLabel(client.Lines(), label, out);
}
