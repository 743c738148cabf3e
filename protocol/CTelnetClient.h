#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/CTcpPort.h"

class CDownloadLog;

// A growable byte buffer shared by the Telnet receiver (Append) and the caller (TakeOut); both hold
// its lock only around memory copies. Grows by whole multiples of its capacity; keeps at most
// kMaxHeld bytes (the excess of an Append is dropped), since a read takes at most 2045 bytes anyway.
class CTelnetBuffer {
 public:
  static constexpr int kMaxHeld = 1 << 20;
  static constexpr int kMinCapacity = 16;

  explicit CTelnetBuffer(int capacity);  // below 16 is raised to 16
  // False for no bytes or a count <= 0, or when growing failed (the bytes are then dropped and the
  // held ones kept). Bytes beyond kMaxHeld are dropped; the call still succeeds.
  bool Append(const uint8_t* bytes, int count);
  int TakeOut(uint8_t* destination, int most);  // empties the buffer; bytes past most are dropped
  int Capacity() const;
  int Length() const;

 private:
  mutable std::mutex m_Lock;
  std::vector<uint8_t> m_Data;  // size() is the capacity
  int m_Length = 0;
};

// Cuts received console text into lines at CR LF. The text ends at its first zero byte; a text that
// does not end with CR LF is taken as if it did. Each line is converted from 8-bit text.
std::vector<std::string> CutTelnetLines(const uint8_t* bytes, size_t count);

// The router's console client: connect with the four Telnet options, a receiver thread that appends
// what arrives, and line-based reads paced by fixed waits. Used by one worker thread (the Check);
// the receiver thread only appends to the buffer. Waits and time-outs are milliseconds of clock time.
class CTelnetClient {
 public:
  static constexpr uint16_t kTelnetPort = 23;
  static constexpr uint32_t kOptionTimeoutMs = 100;
  static constexpr uint32_t kCommandTimeoutMs = 1000;
  static constexpr uint32_t kMinWaitMs = 500;
  static constexpr int kMostPerRead = 2045;

  CTelnetClient();
  ~CTelnetClient();  // Close()
  CTelnetClient(const CTelnetClient&) = delete;
  CTelnetClient& operator=(const CTelnetClient&) = delete;

  // The console's port (23 unless a test or the emulator's demo sets another).
  void SetPort(uint16_t port) { m_PortNumber = port; }

  // Connects to the dotted address, starts the receiver and announces WILL ECHO, WONT 33, DO ECHO,
  // DO SUPPRESS-GO-AHEAD (results ignored). A receiver left from an earlier connection is stopped
  // first. Bytes left in the buffer from before stay for the next ReadLines.
  bool Connect(const std::string& address);
  bool SendOption(uint8_t command, uint8_t option);  // IAC command option, 100 ms
  // Sends the text's bytes up to its first zero byte.
  bool SendText(const std::string& text, uint32_t timeout);
  // Empties the lines, sleeps max(wait, 500) ms, takes at most 2045 bytes and cuts them into lines.
  // False when nothing had arrived.
  bool ReadLines(uint32_t wait);
  // Index of the last line containing text, -1 if none; "#" is looked for in the last line only.
  int FindLine(const std::string& text) const;
  // SendText (1000 ms), ReadLines(wait), FindLine(expected); stops at the first failure.
  bool Command(const std::string& text, const std::string& expected, uint32_t wait);
  std::string GetLine(int index) const { return m_Lines[static_cast<size_t>(index)]; }
  int GetLineCount() const { return static_cast<int>(m_Lines.size()); }
  const std::vector<std::string>& Lines() const { return m_Lines; }
  // Empties the lines, ends and joins the receiver, shuts the connection down and closes it. Harmless
  // on a client that never connected. Returns within about 1.5 s of clock time (a receive that saw
  // the peer close pauses that long).
  void Close();
  bool IsConnected() const { return m_Port.IsOpen(); }

 private:
  void ReceiverLoop();
  void StopReceiver();

  std::vector<std::string> m_Lines;
  CTcpPort m_Port;
  CTelnetBuffer m_Buffer{0};
  std::thread m_Receiver;
  std::atomic<bool> m_StopReceiver{false};
  uint16_t m_PortNumber = kTelnetPort;
};

// The two login dialogues (shell: final prompt "#"; command interface: "QVX"). The first failing
// step writes its line to log and the login returns false. The client is never closed here.
bool LoginShell(CTelnetClient& client, const std::string& address, CDownloadLog& log);
bool LoginCli(CTelnetClient& client, const std::string& address, CDownloadLog& log);

// Three runs of decimal digits, each closed by a dot, at the start of the text.
bool IsVersionText(const std::string& text);
// The last line that is a version text.
bool TakeLastVersionLine(const std::vector<std::string>& lines, std::string& out);
bool TakeLastVersionLine(const CTelnetClient& client, std::string& out);
// In the first line containing label: its last (line length - label length) characters, counted in
// characters, not bytes. When the label stands further in, the value starts that much earlier.
bool TakeValueAfterLabel(const std::vector<std::string>& lines, const std::string& label, std::string& out);
bool TakeValueAfterLabel(const CTelnetClient& client, const std::string& label, std::string& out);
