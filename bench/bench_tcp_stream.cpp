// A raw stream of 64 MiB in 7300-byte writes over loopback: through CTcpPort and through a bare
// blocking socket, in the same run, into the same kind of draining peer. The time of one iteration
// ends when the peer has received every byte.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/Interleaved.h"
#include "net/CTcpPort.h"

namespace {

constexpr size_t kStreamBytes = 64u << 20;
constexpr uint32_t kChunk = 7300;
constexpr uint32_t kWriteTimeoutMs = 10000;

const std::vector<uint8_t>& Source() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> v(kStreamBytes);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i ^ (i >> 9));
    return v;
  }();
  return data;
}

// Accepts one connection on 127.0.0.1 and reads everything that arrives, counting it.
class Sink {
 public:
  Sink() {
    m_Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_Listen, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::listen(m_Listen, 1);
    socklen_t len = sizeof(a);
    ::getsockname(m_Listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_Port = ntohs(a.sin_port);
    m_Thread = std::thread([this] { Run(); });
  }
  ~Sink() {
    ::shutdown(m_Listen, SHUT_RDWR);
    m_Thread.join();
    ::close(m_Listen);
  }
  uint16_t Port() const { return m_Port; }
  // Blocks until the peer has counted at least total bytes since it started.
  bool WaitFor(uint64_t total) {
    std::unique_lock<std::mutex> lock(m_Lock);
    return m_Changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_Count >= total || m_Ended; }) &&
           m_Count >= total;
  }

 private:
  void Run() {
    pollfd p{m_Listen, POLLIN, 0};
    if (::poll(&p, 1, 30000) != 1) return Finish();
    int fd = ::accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return Finish();
    std::vector<uint8_t> buffer(1 << 18);
    for (;;) {
      ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(m_Lock);
      m_Count += static_cast<uint64_t>(n);
      m_Changed.notify_one();
    }
    ::close(fd);
    Finish();
  }
  void Finish() {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Ended = true;
    m_Changed.notify_one();
  }

  int m_Listen = -1;
  uint16_t m_Port = 0;
  std::thread m_Thread;
  std::mutex m_Lock;
  std::condition_variable m_Changed;
  uint64_t m_Count = 0;
  bool m_Ended = false;
};

void BM_RawStream_CTcpPort(benchmark::State& state) {
  const auto& src = Source();
  Sink sink;
  CTcpPort port;
  if (port.SetConfig("127.0.0.1", sink.Port()) != 1 || port.Open() != 1) {
    state.SkipWithError("cannot connect to the sink");
    return;
  }
  uint64_t sent = 0;
  bench::Stopwatch watch;
  for (auto _ : state) {
    for (size_t at = 0; at < src.size(); at += kChunk) {
      uint32_t n = static_cast<uint32_t>(std::min<size_t>(kChunk, src.size() - at));
      if (port.Write(src.data() + at, n, kWriteTimeoutMs) != 1) {
        state.SkipWithError("write failed");
        return;
      }
    }
    sent += src.size();
    if (!sink.WaitFor(sent)) {
      state.SkipWithError("the sink did not receive everything");
      return;
    }
  }
  state.counters["value"] = static_cast<double>(sent) / watch.Seconds() / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(sent));
  port.Close();
}

// shrink: both socket buffers set to 0 before connecting, which Linux clamps to its minimum (the
// setting the TCP port leaves alone; see docs/architecture.md, socket buffers)
void BareSocketStream(benchmark::State& state, bool shrink) {
  const auto& src = Source();
  Sink sink;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  if (shrink) {
    int zero = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &zero, sizeof(zero));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &zero, sizeof(zero));
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(sink.Port());
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    ::close(fd);
    state.SkipWithError("cannot connect to the sink");
    return;
  }
  uint64_t sent = 0;
  bench::Stopwatch watch;
  for (auto _ : state) {
    for (size_t at = 0; at < src.size(); at += kChunk) {
      size_t n = std::min<size_t>(kChunk, src.size() - at);
      const uint8_t* p = src.data() + at;
      while (n > 0) {
        ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r <= 0) {
          ::close(fd);
          state.SkipWithError("send failed");
          return;
        }
        p += r;
        n -= static_cast<size_t>(r);
      }
    }
    sent += src.size();
    if (!sink.WaitFor(sent)) {
      state.SkipWithError("the sink did not receive everything");
      break;
    }
  }
  state.counters["value"] = static_cast<double>(sent) / watch.Seconds() / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(sent));
  ::close(fd);
}

void BM_RawStream_BareSocket(benchmark::State& state) { BareSocketStream(state, false); }
void BM_RawStream_BareSocketShrunkBuffers(benchmark::State& state) { BareSocketStream(state, true); }

}  // namespace

// repeated: compare the medians, which both come from the same run
BENCHMARK(BM_RawStream_BareSocket)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_RawStream_CTcpPort)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(3);

// what the socket buffers of size 0 would cost here (slow: a single pass)
BENCHMARK(BM_RawStream_BareSocketShrunkBuffers)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// the dashboard's row: MB/s through the port beside the bare socket
const bool kTableRegistered = [] {
  bench::RegisterInterleaved("stream", BM_RawStream_BareSocket, BM_RawStream_CTcpPort);
  return true;
}();

BENCHMARK_MAIN();
