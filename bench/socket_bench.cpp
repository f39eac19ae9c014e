// Socket receive paths on loopback. ReceiveNToOutput of 100 MB into a discarding Output is timed
// by the sender against socat (and nc) reading the same stream from the same sender code in the
// same run. ReadResponseHead of a 400-byte head over a ByteStream is timed against the
// byte-at-a-time reading it replaces. System calls per head: run under
//   strace -f -c -e trace=recvfrom,poll,ppoll build/bench/socket_bench --benchmark_filter=Head
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "base/output.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/response_reader.h"
#include "net/byte_stream.h"
#include "net/quillon_socket.h"

namespace {

using quillon::ByteStream;
using quillon::DataBuffer;
using quillon::HttpControl;
using quillon::HttpResult;
using quillon::LogNull;
using quillon::QuillonSocket;
using quillon::ReadResponseHead;
using quillon::SocketFlags;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kStreamBytes = 100ull << 20;
constexpr size_t kSendBlock = 256 * 1024;

class DiscardOutput : public quillon::Output {
 public:
  bool writeBytes(const uint8_t*, uint32_t length, quillon::LogBase&) override {
    written += length;
    return true;
  }
  uint64_t written = 0;
};

int ListenLoopback(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd, 4);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

int FreePort() {
  int port = 0;
  ::close(ListenLoopback(port));
  return port;
}

// The one sender of every throughput case: 100 MB, then the write side closed, then wait for
// the reader to close. Returns the seconds from the first byte to the reader's close.
double SendStream(int fd) {
  static const std::string block(kSendBlock, 'x');
  auto start = Clock::now();
  uint64_t left = kStreamBytes;
  while (left > 0) {
    size_t n = left < block.size() ? static_cast<size_t>(left) : block.size();
    ssize_t sent = ::send(fd, block.data(), n, MSG_NOSIGNAL);
    if (sent <= 0) break;
    left -= static_cast<uint64_t>(sent);
  }
  ::shutdown(fd, SHUT_WR);
  char byte;
  while (::recv(fd, &byte, 1, 0) > 0) {
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_ReceiveNToOutput(benchmark::State& state) {
  for (auto _ : state) {
    int port = 0;
    int listener = ListenLoopback(port);
    std::atomic<double> seconds{0};
    std::thread sender([&] {
      int fd = ::accept(listener, nullptr, nullptr);
      seconds = SendStream(fd);
      ::close(fd);
    });
    LogNull log;
    QuillonSocket socket;
    bool dnsFailed = false;
    DiscardOutput output;
    SocketFlags flags;
    if (!socket.Connect("127.0.0.1", port, log, dnsFailed) ||
        !socket.ReceiveNToOutput(kStreamBytes, output, 100, log, nullptr, flags) ||
        output.written != kStreamBytes) {
      state.SkipWithError("receive failed");
    }
    socket.Close(log);
    sender.join();
    ::close(listener);
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamBytes));
}
BENCHMARK(BM_ReceiveNToOutput)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Starts a listening reader program on port (its output to /dev/null), connects the sender to
// it and times the stream.
void ExternalReader(benchmark::State& state, const char* command) {
  for (auto _ : state) {
    int port = FreePort();
    char line[256];
    std::snprintf(line, sizeof line, command, port);
    pid_t child = ::fork();
    if (child == 0) {
      ::execl("/bin/sh", "sh", "-c", line, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int fd = -1;
    for (int attempt = 0; attempt < 500 && fd < 0; ++attempt) {
      fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(port));
      if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        fd = -1;
        usleep(10000);
      }
    }
    if (fd < 0) {
      ::kill(child, SIGTERM);
      ::waitpid(child, nullptr, 0);
      state.SkipWithError("reader did not start (is it installed?)");
      break;
    }
    double seconds = SendStream(fd);
    ::close(fd);
    ::waitpid(child, nullptr, 0);
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamBytes));
}

void BM_Socat(benchmark::State& state) {
  ExternalReader(state, "exec socat -u TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr OPEN:/dev/null");
}
BENCHMARK(BM_Socat)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Netcat(benchmark::State& state) {
  ExternalReader(state, "exec nc -d -l 127.0.0.1 %d > /dev/null");
}
BENCHMARK(BM_Netcat)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// ---- Heads

const std::string& Head400() {
  static const std::string head = [] {
    std::string h =
        "HTTP/1.1 200 OK\r\nServer: nginx/1.22.1\r\nDate: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
        "Content-Type: text/html; charset=utf-8\r\nConnection: keep-alive\r\n"
        "Last-Modified: Sun, 31 Dec 2023 12:00:00 GMT\r\nCache-Control: max-age=3600\r\n"
        "X-Pad: ";
    const std::string tail = "\r\nETag: \"abc\"\r\n\r\n";
    h += std::string(400 - h.size() - tail.size(), 'p');
    h += tail;
    return h;
  }();
  return head;
}

// Every head read in the process, printed at exit so that a strace -c count can be divided by it.
struct HeadTally {
  uint64_t heads = 0;
  ~HeadTally() {
    if (heads != 0) std::fprintf(stderr, "heads read by ReadResponseHead: %llu\n",
                                 static_cast<unsigned long long>(heads));
  }
} g_headTally;

// A peer that streams heads until the reader goes away.
struct HeadPeer {
  int listener = -1;
  int port = 0;
  std::thread thread;
  HeadPeer() {
    listener = ListenLoopback(port);
    thread = std::thread([this] {
      int fd = ::accept(listener, nullptr, nullptr);
      std::string burst;
      for (int i = 0; i < 64; ++i) burst += Head400();
      while (::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) > 0) {
      }
      ::close(fd);
    });
  }
  ~HeadPeer() {
    thread.join();
    ::close(listener);
  }
};

void BM_ReadResponseHead400(benchmark::State& state) {
  HeadPeer peer;
  LogNull log;
  {
    QuillonSocket socket;
    bool dnsFailed = false;
    socket.Connect("127.0.0.1", peer.port, log, dnsFailed);
    ByteStream stream(socket);
    HttpControl settings;
    HttpResult result;
    DataBuffer head;
    for (auto _ : state) {
      head.clear();
      if (!ReadResponseHead(stream, settings, result, head, log, nullptr) ||
          head.length() != 400) {
        state.SkipWithError("head read failed");
        break;
      }
      ++g_headTally.heads;
    }
    socket.Close(log);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ReadResponseHead400)->Unit(benchmark::kMicrosecond);

// The byte-at-a-time reading (one ReceiveSome of one byte per byte) that the buffered stream
// replaces, for comparison.
void BM_HeadByteAtATime400(benchmark::State& state) {
  HeadPeer peer;
  LogNull log;
  {
    QuillonSocket socket;
    bool dnsFailed = false;
    socket.Connect("127.0.0.1", peer.port, log, dnsFailed);
    DataBuffer head;
    SocketFlags flags;
    for (auto _ : state) {
      head.clear();
      uint32_t count = 0;
      for (;;) {
        uint8_t byte = 0;
        uint32_t size = 1;
        if (!socket.ReceiveSome(&byte, size, 100, log, nullptr, flags)) {
          state.SkipWithError("byte read failed");
          break;
        }
        head.appendByte(byte);
        if (byte == '\n') {
          if (count == 0) break;
          count = 0;
        } else if (byte != '\r') {
          ++count;
        }
      }
    }
    socket.Close(log);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_HeadByteAtATime400)->Unit(benchmark::kMicrosecond);

}  // namespace
