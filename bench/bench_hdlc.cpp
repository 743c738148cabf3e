// Frame codec speed beside a plain read (copy) of the same bytes, and a stop-and-wait exchange over
// loopback through the router link adapter beside the same exchange on bare sockets.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "image/Crc16.h"
#include "net/INetPort.h"
#include "protocol/CHdlcAdapter.h"
#include "protocol/Hdlc.h"

namespace {

constexpr size_t kPayload = 4096;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// The plain read: every byte loaded once, as simply as it can be written.
void BM_PlainRead(benchmark::State& state) {
  auto payload = RandomBytes(kPayload, 1);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (size_t i = 0; i < kPayload; ++i) sum += payload[i];
    benchmark::DoNotOptimize(sum);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_PlainRead);

// A bulk copy of the same bytes, the fastest way to read them.
void BM_PlainCopy(benchmark::State& state) {
  auto payload = RandomBytes(kPayload, 1);
  std::vector<uint8_t> out(kPayload);
  for (auto _ : state) {
    std::memcpy(out.data(), payload.data(), kPayload);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_PlainCopy);

// The byte-at-a-time encoder, for comparison.
int ByteLoopEncode(const uint8_t* payload, size_t length, uint8_t* out) {
  int pos = 0;
  uint16_t reg = 0xFFFF;
  out[pos++] = kHdlcFlag;
  auto put = [&](uint8_t b) {
    if (b == kHdlcFlag || b == kHdlcEscape) {
      out[pos++] = kHdlcEscape;
      out[pos++] = static_cast<uint8_t>(b ^ 0x20);
    } else {
      out[pos++] = b;
    }
  };
  for (size_t i = 0; i < length; ++i) {
    reg = static_cast<uint16_t>((reg >> 8) ^ kCrc16Table[(reg ^ payload[i]) & 0xFF]);
    put(payload[i]);
  }
  uint16_t fcs = static_cast<uint16_t>(~reg);
  put(static_cast<uint8_t>(fcs));
  put(static_cast<uint8_t>(fcs >> 8));
  out[pos++] = kHdlcFlag;
  return pos;
}

void BM_HdlcEncode(benchmark::State& state) {
  auto payload = RandomBytes(kPayload, 2);
  std::vector<uint8_t> out(HdlcMaxEncodedSize(kPayload));
  for (auto _ : state) {
    int n = HdlcEncodeFrame(payload.data(), kPayload, out.data(), true);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_HdlcEncode);

void BM_HdlcEncodeByteLoop(benchmark::State& state) {
  auto payload = RandomBytes(kPayload, 2);
  std::vector<uint8_t> out(HdlcMaxEncodedSize(kPayload));
  for (auto _ : state) {
    int n = ByteLoopEncode(payload.data(), kPayload, out.data());
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_HdlcEncodeByteLoop);

void BM_HdlcDecode(benchmark::State& state) {
  auto payload = RandomBytes(kPayload, 3);
  std::vector<uint8_t> frame(HdlcMaxEncodedSize(kPayload));
  frame.resize(static_cast<size_t>(HdlcEncodeFrame(payload.data(), kPayload, frame.data(), true)));
  std::vector<uint8_t> out(frame.size());
  for (auto _ : state) {
    unsigned n = HdlcDecodeFrame(frame.data(), frame.size(), out.data());
    if (n != kPayload) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_HdlcDecode);

// ---- stop-and-wait over loopback ----

// Counts frames in a byte stream the way the link does: a flag after 3 or more bytes ends one.
struct FrameCounter {
  size_t gathered = 0;
  int Feed(const uint8_t* p, size_t n) {
    int frames = 0;
    for (size_t i = 0; i < n; ++i) {
      if (p[i] != kHdlcFlag) {
        ++gathered;
      } else if (gathered >= 3) {
        gathered = 0;
        ++frames;
      }
    }
    return frames;
  }
};

std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out(HdlcMaxEncodedSize(payload.size()));
  out.resize(static_cast<size_t>(HdlcEncodeFrame(payload.data(), payload.size(), out.data(), true)));
  return out;
}

// A request payload whose frame is exactly 4110 bytes: 4102 bytes with four that need escaping.
std::vector<uint8_t> RequestPayload() {
  for (uint32_t seed = 1;; ++seed) {
    auto p = RandomBytes(kHdlcMaxPayload, seed);
    for (auto& b : p) {
      if (b == kHdlcFlag || b == kHdlcEscape) b = 0x20;
    }
    p[0] = 0x02;  // answered by the download-mode acknowledgement
    p[100] = p[1000] = p[2000] = p[3000] = kHdlcFlag;
    if (Frame(p).size() == 4110) return p;
  }
}

int Listen(uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, 1);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

// Answers every request frame with a short acknowledgement frame until the connection closes.
void ServePeer(int listenFd) {
  pollfd p{listenFd, POLLIN, 0};
  if (::poll(&p, 1, 10000) != 1) return;
  int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const auto answer = Frame({0x02, 0x00, 0x10});
  FrameCounter counter;
  std::vector<uint8_t> buffer(65536);
  for (;;) {
    ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) break;
    for (int f = counter.Feed(buffer.data(), static_cast<size_t>(n)); f > 0; --f) {
      if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
    }
  }
  ::close(fd);
}

void BM_ExchangeAdapter(benchmark::State& state) {
  uint16_t port = 0;
  int listenFd = Listen(port);
  std::thread peer(ServePeer, listenFd);
  const auto payload = RequestPayload();
  {
    CHdlcAdapter link;
    if (!link.Open("127.0.0.1", port, NetPortTcp) || !link.StartReceiver()) {
      state.SkipWithError("open failed");
    } else {
      const uint8_t key[] = {0x02};
      uint8_t out[64];
      for (auto _ : state) {
        link.SetResponseKey(key, sizeof key);
        unsigned received = 0;
        if (!link.Write(false, payload.data(), static_cast<int>(payload.size()), true, 3000) ||
            !link.Read(out, sizeof out, &received, 3000)) {
          state.SkipWithError("exchange failed");
          break;
        }
      }
    }
    link.Close();
  }
  peer.join();
  ::close(listenFd);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ExchangeAdapter)->UseRealTime();

void BM_ExchangeBareSockets(benchmark::State& state) {
  uint16_t port = 0;
  int listenFd = Listen(port);
  std::thread peer(ServePeer, listenFd);
  const auto frame = Frame(RequestPayload());
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    state.SkipWithError("connect failed");
  } else {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FrameCounter counter;
    uint8_t buffer[256];
    for (auto _ : state) {
      if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) {
        state.SkipWithError("send failed");
        break;
      }
      int frames = 0;
      while (frames == 0) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        frames = counter.Feed(buffer, static_cast<size_t>(n));
      }
      if (frames == 0) {
        state.SkipWithError("recv failed");
        break;
      }
    }
  }
  ::close(fd);
  peer.join();
  ::close(listenFd);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ExchangeBareSockets)->UseRealTime();

// Bare sockets, but the answer is read by a second thread and handed over as the link's receiver
// does: the cost of the hand-off alone, for telling it apart from the adapter's own work.
void BM_ExchangeBareSocketsWithReaderThread(benchmark::State& state) {
  uint16_t port = 0;
  int listenFd = Listen(port);
  std::thread peer(ServePeer, listenFd);
  const auto frame = Frame(RequestPayload());
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    state.SkipWithError("connect failed");
    ::close(fd);
    peer.join();
    ::close(listenFd);
    return;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::mutex lock;
  std::condition_variable answered;
  long answers = 0;
  std::thread reader([&] {
    FrameCounter counter;
    uint8_t buffer[256];
    for (;;) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      int frames = counter.Feed(buffer, static_cast<size_t>(n));
      if (frames == 0) continue;
      {
        std::lock_guard<std::mutex> g(lock);
        answers += frames;
      }
      answered.notify_one();
    }
  });
  long expected = 0;
  for (auto _ : state) {
    if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) {
      state.SkipWithError("send failed");
      break;
    }
    ++expected;
    std::unique_lock<std::mutex> g(lock);
    if (!answered.wait_for(g, std::chrono::seconds(3), [&] { return answers >= expected; })) {
      state.SkipWithError("no answer");
      break;
    }
  }
  ::shutdown(fd, SHUT_RDWR);
  reader.join();
  ::close(fd);
  peer.join();
  ::close(listenFd);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ExchangeBareSocketsWithReaderThread)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
