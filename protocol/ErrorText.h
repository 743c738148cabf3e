#pragma once

#include <string>

// Text for a port error code (the codes of net/INetPort.h or an errno value), for logs and boxes.
// "Unknow Error Code: %d\n" when there is no text for the code.
std::string GetErrorText(int code);
