#pragma once

#include <string>

// Text for a port error code (the codes of net/INetPort.h or an errno value), for logs and boxes.
// The port codes (1, 258, 995, 997, 10004, 10013, 10022, 10040, 10049, 10053, 10054, 10058, 10060,
// 10101) read as what the ports mean by them (1 is a purged read here, not EPERM, which the ports
// store as 10013); other positive codes read as the system's errno text, without a
// line end. "Unknow Error Code: %d\n" when there is no text for the code. Returned by value, so
// callers on different threads never share the text.
std::string GetErrorText(int code);
