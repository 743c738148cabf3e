#pragma once

#include <cstdint>
#include <string>

class CHdlcAdapter;
class CDownloadLog;

// The request record most DIAG commands build: cmd, subsystem id, subsystem command (little-endian
// on the wire), then data. length counts the bytes sent from cmd; expectedLength is the required
// response length (0 accepts any). Neither length is sent.
struct DiagRequest {
  uint8_t cmd = 0;
  uint8_t subsysId = 0;
  uint16_t subsysCmd = 0;
  uint8_t data[128] = {};
  uint32_t length = 0;
  uint32_t expectedLength = 0;

  DiagRequest(uint32_t len, uint32_t expected) : length(len), expectedLength(expected) {}
  // The bytes as sent (4 + 128), little-endian subsysCmd.
  void Serialize(uint8_t out[132]) const;
};

// The wireless module's command layer: one request frame through the router link (whose receiver
// runs), the matching response from its queue, a test of the response, and a log line for every
// failure and for the versions read. All operations block the calling worker thread; results are 1
// on success, 0 on failure. The adapter and the log are not owned and must outlive the caller (the
// log may be null: nothing is written then). Time-outs are milliseconds of clock time.
class CDiagCaller {
 public:
  CDiagCaller(CHdlcAdapter* adapter, CDownloadLog* log);

  void SetResponseKey(const uint8_t* key, unsigned length);  // at most 16 bytes are kept
  // Up to five tries: framed write (3000 ms), read of the response (readTimeout) into a response
  // filled with 0xCD. A DIAG error 13/14/15 fails at once; 03 and 18 answers and a length other than
  // expectedLength (0 = any) are retried after 200 ms, as are write and read failures.
  int Execute(const uint8_t* request, uint32_t length, uint32_t expectedLength, bool leadingFlag,
              uint32_t readTimeout);
  int Execute(const DiagRequest& request, bool leadingFlag, uint32_t readTimeout);

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

  const uint8_t* GetResponse() const { return m_Response; }
  uint32_t GetResponseLength() const { return m_ResponseLength; }

 private:
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Sets the key to the first keyLength request bytes and runs Execute.
  int RunCommand(const DiagRequest& request, unsigned keyLength, bool leadingFlag, uint32_t readTimeout);
  // The NV item exchange: -1 when Execute failed, else the module's status (logged unless 0).
  int NvCommand(uint8_t cmd, const char* prefix, uint16_t item, const uint8_t* source, uint32_t length,
                uint16_t* status);

  uint8_t m_Response[512] = {};
  uint32_t m_ResponseLength = 0;
  CHdlcAdapter* m_pAdapter;
  CDownloadLog* m_pLog;
};
