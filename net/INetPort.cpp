#include "net/INetPort.h"

#include <cstring>

#include "net/SocketOs.h"

namespace {
thread_local int t_SocketError = 0;
}  // namespace

int GetThreadSocketError() { return t_SocketError; }
void SetThreadSocketError(int code) { t_SocketError = code; }

bool ParseIpv4Text(const std::string& address, uint32_t* out) {
  // room for 24 characters and the terminating zero; a longer text would not fit
  char text[25] = {};
  if (address.size() >= sizeof(text)) return false;
  // an embedded zero would hide the rest of the text from the parser
  if (address.find('\0') != std::string::npos) return false;
  std::memcpy(text, address.data(), address.size());
  uint32_t value = ::inet_addr(text);
  if (value == INADDR_NONE) return false;
  *out = value;
  return true;
}
