#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/CTcpPort.h"

class CDownloadLog;

// A growable byte buffer shared by the Telnet receiver (Append) and the caller (TakeOut). Grows by
// whole multiples of its capacity; keeps at most kMaxHeld bytes (the excess is dropped), since a read
// takes at most 2045 bytes anyway.
class CTelnetBuffer {
 public:
  static constexpr int kMaxHeld = 1 << 20;

  explicit CTelnetBuffer(int capacity);  // below 16 is raised to 16
  bool Append(const uint8_t* bytes, int count);
  int TakeOut(uint8_t* destination, int most);  // empties the buffer; bytes past most are dropped
  int Capacity() const;
  int Length() const;

 private:
  mutable std::mutex m_Lock;
  std::vector<uint8_t> m_Data;  // size() is the capacity
  int m_Length = 0;
};

// The router's console client: connect with the four Telnet options, a receiver thread that appends
// what arrives, and line-based reads paced by fixed waits.
class CTelnetClient {
 public:
  static constexpr uint16_t kTelnetPort = 23;

  CTelnetClient();
  ~CTelnetClient();  // Close()
  CTelnetClient(const CTelnetClient&) = delete;
  CTelnetClient& operator=(const CTelnetClient&) = delete;

  // The console's port (23 unless a test or the emulator's demo sets another).
  void SetPort(uint16_t port) { m_PortNumber = port; }

  bool Connect(const std::string& address);
  bool SendOption(uint8_t command, uint8_t option);
  bool SendText(const std::string& text, uint32_t timeout);
  bool ReadLines(uint32_t wait);
  int FindLine(const std::string& text) const;
  bool Command(const std::string& text, const std::string& expected, uint32_t wait);
  std::string GetLine(int index) const { return m_Lines[static_cast<size_t>(index)]; }
  int GetLineCount() const { return static_cast<int>(m_Lines.size()); }
  // Empties the lines, shuts the connection down, closes it and joins the receiver.
  void Close();

 private:
  void ReceiverLoop();

  std::vector<std::string> m_Lines;
  CTcpPort m_Port;
  CTelnetBuffer m_Buffer{0};
  std::thread m_Receiver;
  uint16_t m_PortNumber = kTelnetPort;
};

bool LoginShell(CTelnetClient& client, const std::string& address, CDownloadLog& log);
bool LoginCli(CTelnetClient& client, const std::string& address, CDownloadLog& log);
bool IsVersionText(const std::string& text);
bool TakeLastVersionLine(const CTelnetClient& client, std::string& out);
bool TakeValueAfterLabel(const CTelnetClient& client, const std::string& label, std::string& out);
