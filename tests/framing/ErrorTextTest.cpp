#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "net/INetPort.h"
#include "protocol/ErrorText.h"

namespace {

TEST(ErrorText, PortCodesHaveTheirOwnTexts) {
  const struct {
    int code;
    const char* part;
  } cases[] = {
      {kErrPurged, "purge"},
      {kErrTimeout, "timed out"},
      {kErrIoPending, "in progress"},
      {kErrInvalid, "invalid"},
      {kErrConnAborted, "aborted"},
      {kErrConnReset, "reset"},
      {kErrAborted, "replaced"},
      {kErrMsgSize, "larger than the buffer"},
      {kErrAddrNotAvail, "not valid"},
      {kErrShutdown, "shut down"},
      {kErrAccess, "refused"},
      {kErrInterrupted, "stop request"},
      {kErrTimedOut, "did not answer"},
      {kErrDisconnected, "closed by the remote host"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    std::string text = GetErrorText(c.code);
    EXPECT_NE(text.find(c.part), std::string::npos) << text;
    EXPECT_EQ(text.find("Unknow"), std::string::npos);
  }
}

TEST(ErrorText, ErrnoValuesReadLikeTheSystemsText) {
  for (int code : {ENOENT, EACCES, ECONNREFUSED, EHOSTUNREACH, ENETUNREACH, EADDRINUSE}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(GetErrorText(code), std::string(strerror(code)));
  }
}

// EPERM comes back from the ports as 10013: the log then says that the send was refused, not that
// a read was purged.
TEST(ErrorText, APermissionRefusalReadsAsARefusedSend) {
  for (int err : {EPERM, EACCES}) {
    SCOPED_TRACE(err);
    const std::string text = GetErrorText(MapSocketErrno(err));
    EXPECT_NE(text.find("refused the send"), std::string::npos) << text;
    EXPECT_EQ(text.find("purge"), std::string::npos) << text;
  }
}

TEST(ErrorText, CodesWithoutTextFallBackWithTheNumber) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {-1, "Unknow Error Code: -1\n"},
      {12345, "Unknow Error Code: 12345\n"},
      {10061, "Unknow Error Code: 10061\n"},
      {-2147483647 - 1, "Unknow Error Code: -2147483648\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetErrorText(c.code), c.text);
  }
}

}  // namespace
