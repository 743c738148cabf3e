#include "upgrade/SleepInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string ErrnoText(int negativeErrno) { return std::strerror(-negativeErrno); }

// Owns an sd-bus connection for one call.
struct BusHandle {
  sd_bus* bus = nullptr;
  ~BusHandle() {
    if (bus) sd_bus_flush_close_unref(bus);
  }
};

struct ReplyHandle {
  sd_bus_message* message = nullptr;
  ~ReplyHandle() {
    if (message) sd_bus_message_unref(message);
  }
};

struct ErrorHandle {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~ErrorHandle() { sd_bus_error_free(&error); }
};

}  // namespace

int CLogindInhibitor::Acquire(std::string& error) {
  BusHandle handle;
  int r = sd_bus_open_system(&handle.bus);
  if (r < 0) {
    error = "no system bus (" + ErrnoText(r) + ")";
    return -1;
  }
  sd_bus_set_method_call_timeout(handle.bus, uint64_t{kCallTimeoutMs} * 1000);
  ErrorHandle callError;
  ReplyHandle reply;
  r = sd_bus_call_method(handle.bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "Inhibit", &callError.error, &reply.message,
                         "ssss", kWhat, kWho, kWhy, kMode);
  if (r < 0) {
    error =
        "the login manager refused the lock (" +
        std::string(sd_bus_error_is_set(&callError.error) && callError.error.message ? callError.error.message
                                                                                     : ErrnoText(r)) +
        ")";
    return -1;
  }
  int fd = -1;
  r = sd_bus_message_read(reply.message, "h", &fd);
  if (r < 0 || fd < 0) {
    error = "the login manager's answer carried no lock (" + ErrnoText(r < 0 ? r : -EBADMSG) + ")";
    return -1;
  }
  // the descriptor belongs to the message: keep a copy of our own
  const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (own < 0) {
    error = "the lock's descriptor could not be kept (" + std::string(std::strerror(errno)) + ")";
    return -1;
  }
  return own;
}
