#include "protocol/ErrorText.h"

#include <cstdio>
#include <cstring>

#include "net/INetPort.h"
#include "net/SocketOs.h"

namespace {

// Texts for the codes the ports store themselves; they take precedence over an errno value of the
// same number (1 is EPERM as an errno, but a port stores it only for a purged read).
const char* PortCodeText(int code) {
  switch (code) {
    case kErrPurged:
      return "The read was ended by a purge.";
    case kErrTimeout:
      return "The wait operation timed out.";
    case kErrAborted:
      return "The operation was aborted: the connection was replaced or closed.";
    case kErrIoPending:
      return "The operation is still in progress.";
    case kErrInterrupted:
      return "The wait was ended by a stop request.";
    case kErrAccess:
      return "Permission denied: the system refused the operation (for example a firewall rule refused "
             "the send).";
    case kErrInvalid:
      return "An invalid argument was supplied.";
    case kErrMsgSize:
      return "A datagram was larger than the buffer for it.";
    case kErrAddrNotAvail:
      return "The requested address is not valid in its context.";
    case kErrConnAborted:
      return "The connection was aborted by this host.";
    case kErrConnReset:
      return "The connection was reset by the remote host.";
    case kErrShutdown:
      return "A send was refused: the connection had already been shut down.";
    case kErrTimedOut:
      return "The connection attempt timed out: the other side did not answer.";
    case kErrDisconnected:
      return "The connection was closed by the remote host.";
    default:
      return nullptr;
  }
}

}  // namespace

std::string GetErrorText(int code) {
  if (const char* text = PortCodeText(code)) return text;
  if (code == 0) return "The operation completed successfully.";
  if (std::string text = SystemErrorText(code); !text.empty()) return text;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "Unknow Error Code: %d\n", code);
  return buffer;
}
