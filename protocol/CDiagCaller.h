#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/PrintfFormat.h"

class CHdlcAdapter;
class CDownloadLog;

// The answer of one exchange as it arrived: the decoded payload of the frame that matched the
// request. Bytes past the received length read 0xCD, the fill put in before every read; only the
// log line of a short refusal shows them.
class DiagAnswer {
 public:
  static constexpr size_t kCapacity = 512;
  static constexpr uint8_t kFill = 0xCD;

  std::span<const uint8_t> Bytes() const { return {m_Bytes.data(), m_Length}; }
  // Byte i of the receive buffer, the fill included (the fill as well past the buffer).
  uint8_t At(size_t i) const { return i < kCapacity ? m_Bytes[i] : kFill; }

 private:
  friend class CDiagCaller;
  std::array<uint8_t, kCapacity> m_Bytes{};
  uint32_t m_Length = 0;
};

// The wireless module's command layer: one request frame through the router link (whose receiver
// runs), the matching answer from its queue, retries, and a log line for every failure and for the
// versions read. What the bytes are and mean is protocol/DiagCodec's; this class only exchanges
// them. All operations block the calling worker thread; results are 1 on success, 0 on failure.
// The adapter and the log are not owned and must outlive the caller (the log may be null: nothing
// is written then). Time-outs are milliseconds of clock time.
class CDiagCaller {
 public:
  CDiagCaller(CHdlcAdapter* adapter, CDownloadLog* log);

  void SetResponseKey(const uint8_t* key, unsigned length);  // at most 16 bytes are kept
  // Up to five tries: framed write (3000 ms), read of the answer (readTimeout) into answer. A DIAG
  // refusal 13/14/15 fails at once; 03 and 18 answers and a length other than expectedLength (0 =
  // any) are retried after 200 ms, as are write and read failures. answer holds the last try's.
  int Execute(std::span<const uint8_t> request, uint32_t expectedLength, bool leadingFlag,
              uint32_t readTimeout, DiagAnswer& answer);

  // version receives the text read, "No version" (dashboard absent) or "Failed to read".
  int DIAG_QueryBoardVersion(std::string* version);
  int DIAG_QueryISOVersion(std::string* version);
  int DIAG_SwitchToDownloader();
  int DIAG_NV_BackupRestore(bool backup);  // false restores
  int DIAG_NV_QueryRestoreStatus();
  int DIAG_Unlock(const uint8_t code[8]);
  // Both flags read 1 unless the hand-shake succeeded (6000 ms read time-out).
  int DIAG_HandShake(bool leadingFlag, int* inDownloader, int* offline);
  int DIAG_Reset();
  int DIAG_ChangeMode(uint8_t mode);
  // length <= 128 (more is refused before sending). A read of an item never written (status 5)
  // succeeds with zeros.
  int DIAG_Read_NV(uint16_t item, uint8_t* destination, uint32_t length, uint16_t* status);
  int DIAG_Write_NV(uint16_t item, const uint8_t* source, uint32_t length, uint16_t* status);
  // Sends the download-mode frame already built in the adapter's write buffer (raw, 3000 ms) and
  // waits for its acknowledgement (5000 ms); five tries without pause. The caller sets the key.
  int DIAG_Write(uint32_t frameLength);

 private:
  void Log(const char* format, ...) QOR_PRINTF_FORMAT(2, 3);
  // Sets the key the command's answer is matched by and runs Execute with its lengths.
  int RunCommand(std::span<const uint8_t> request, uint32_t keyLength, uint32_t answerLength,
                 bool leadingFlag, uint32_t readTimeout, DiagAnswer& answer);
  // The NV item exchange: -1 when it failed, else the module's status (logged unless 0); data
  // receives the item's bytes on status 0.
  int NvCommand(std::span<const uint8_t> request, const char* prefix, uint16_t* status, uint8_t* data,
                uint32_t length);

  CHdlcAdapter* m_pAdapter;
  CDownloadLog* m_pLog;
};
