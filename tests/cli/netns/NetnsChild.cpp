#include "NetnsChild.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

bool Shell(const std::string& command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Report(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

ChildReport RunInChild(const std::function<void(int fd)>& child) {
  ChildReport report;
  int fds[2];
  if (pipe(fds) != 0) {
    report.text = "FAIL pipe";
    return report;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    report.text = "FAIL fork";
    return report;
  }
  if (pid == 0) {
    close(fds[0]);
    child(fds[1]);
    close(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    report.text.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  report.exitedCleanly = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return report;
}
