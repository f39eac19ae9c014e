#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/data_buffer.h"
#include "base/logger.h"
#include "base/output.h"
#include "base/platform.h"
#include "base/progress.h"
#include "net/quillon_socket.h"
#include "tests/net/loopback_peer.h"

namespace quillon {
namespace {

using testing::LogText;
using testing::LoopbackPeer;
using testing::SendAll;
using Slices = std::vector<uint32_t>;

// ---- Test doubles

// A clock for progress monitors that only the recording seam moves.
uint32_t g_fakeNow = 0;
uint32_t FakeTicks() { return g_fakeNow; }

// Records every wait, advances the fake clock by it and reports "not ready" (or an error).
class RecordingSeam : public SocketWaitSeam {
 public:
  int pollOnce(int, short events, uint32_t ms, short& revents) override {
    slices.push_back(ms);
    lastEvents = events;
    g_fakeNow += ms;
    revents = 0;
    return result;
  }
  Slices slices;
  short lastEvents = 0;
  int result = 0;
};

// Counts interval ticks and asks to abort from the n-th on (never when n is 0).
class TickSink : public ProgressEvent {
 public:
  explicit TickSink(int abortAt = 0) : abortAt_(abortAt) {}
  void IntervalTick(int, bool& abort) override {
    ++ticks;
    abort = abortAt_ != 0 && ticks >= abortAt_;
  }
  void AbortCheck(bool& abort) override {
    ++checks;
    abort = abortAt_ != 0 && ticks >= abortAt_;
  }
  void OnReceiveRate(uint64_t, uint64_t total) override { receiveReports.push_back(total); }
  std::atomic<int> ticks{0};
  int checks = 0;
  std::vector<uint64_t> receiveReports;

 private:
  int abortAt_;
};

class StringOutput : public Output {
 public:
  bool writeBytes(const uint8_t* bytes, uint32_t length, LogBase&) override {
    data.append(reinterpret_cast<const char*>(bytes), length);
    return true;
  }
  std::string data;
};

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

std::string Text(const DataBuffer& buffer) { return std::string(buffer.view()); }

class SocketIoTest : public ::testing::Test {
 protected:
  void SetUp() override { g_fakeNow = 10000; }
  // A socket that exists but is not connected, for the seam tests.
  void CreateOnly() { ASSERT_TRUE(socket_.CreateSocket(log_, false)); }
  void ConnectTo(int port) {
    bool dnsFailed = false;
    ASSERT_TRUE(socket_.Connect("127.0.0.1", port, log_, dnsFailed)) << text();
  }
  std::string text() { return LogText(log_); }
  bool Has(const char* needle) { return text().find(needle) != std::string::npos; }

  Logger log_;
  QuillonSocket socket_;
  SocketFlags flags_;
};

// ---- Waits, through the seam

TEST_F(SocketIoTest, ReadWaitSlicesTwoSecondsByAHalfSecondHeartbeat) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  TickSink sink;
  ProgressMonitor progress(&sink, 0, &FakeTicks);
  bool error = false, aborted = false, timedOut = false;
  EXPECT_FALSE(socket_.WaitReadable(500, 2000, &progress, error, aborted, timedOut, log_));
  EXPECT_EQ(seam.slices, (Slices{250, 500, 500, 500, 250}));
  EXPECT_EQ(seam.lastEvents, POLLIN);
  EXPECT_TRUE(timedOut);
  EXPECT_FALSE(aborted);
  EXPECT_EQ(sink.ticks, 4);  // after every slice but the last
  EXPECT_TRUE(Has("Timeout waiting to read socket or accept connection"));
  EXPECT_TRUE(Has("timeoutMs: 2000"));
}

TEST_F(SocketIoTest, ReadWaitWithoutHeartbeatHalvesTheWholeTimeout) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  bool error = false, aborted = false, timedOut = false;
  EXPECT_FALSE(socket_.WaitReadable(0, 1000, nullptr, error, aborted, timedOut, log_));
  EXPECT_EQ(seam.slices, (Slices{500, 500}));
}

TEST_F(SocketIoTest, ShortFirstSliceBecomesFiftyMilliseconds) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  bool error = false, aborted = false, timedOut = false;
  EXPECT_FALSE(socket_.WaitReadable(80, 200, nullptr, error, aborted, timedOut, log_));
  EXPECT_EQ(seam.slices, (Slices{50, 80, 70}));
}

TEST_F(SocketIoTest, HeartbeatOfTenIsRaisedToFifty) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  TickSink sink;
  ProgressMonitor progress(&sink, 0, &FakeTicks);
  bool error = false, aborted = false, timedOut = false;
  socket_.WaitReadable(10, 200, &progress, error, aborted, timedOut, log_);
  EXPECT_EQ(seam.slices, (Slices{50, 50, 50, 50}));
  seam.slices.clear();
  socket_.WaitWritableWithAbort(10, 0, 200, log_, &progress, aborted);
  EXPECT_EQ(seam.slices, (Slices{50, 50, 50, 50}));
  EXPECT_EQ(seam.lastEvents, POLLOUT);
  EXPECT_TRUE(Has("socket is not ready for writing;"));
}

TEST_F(SocketIoTest, WriteWaitWithoutMonitorIsOneWaitOfTheWholeTimeout) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  bool aborted = false;
  socket_.WaitWritableWithAbort(100, 0, 0, log_, nullptr, aborted);
  socket_.WaitWritable(0, log_);
  socket_.WaitWritable(3, log_);
  EXPECT_EQ(seam.slices, (Slices{21600000, 21600000, 3000}));
  EXPECT_TRUE(Has("socket is not ready for writing."));
}

TEST_F(SocketIoTest, AbortFromTheCallbackEndsTheReadWaitAtTheNextHeartbeat) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  TickSink sink(3);
  ProgressMonitor progress(&sink, 0, &FakeTicks);
  bool error = false, aborted = false, timedOut = false;
  EXPECT_FALSE(socket_.WaitReadable(100, 60000, &progress, error, aborted, timedOut, log_));
  EXPECT_TRUE(aborted);
  EXPECT_FALSE(timedOut);
  // The third check asked to abort; no further slice was waited.
  EXPECT_EQ(seam.slices, (Slices{50, 100, 100}));
  EXPECT_TRUE(Has("socket operation aborted by application callback"));
}

TEST_F(SocketIoTest, AbortFromTheCallbackEndsTheWriteWaitAtTheNextHeartbeat) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  TickSink sink(2);
  ProgressMonitor progress(&sink, 0, &FakeTicks);
  bool aborted = false;
  EXPECT_FALSE(socket_.WaitWritableWithAbort(100, 0, 60000, log_, &progress, aborted));
  EXPECT_TRUE(aborted);
  EXPECT_EQ(seam.slices, (Slices{100, 100}));
}

TEST_F(SocketIoTest, DataWaitSlicesByTwoHundredWithAtLeastTenAtTheEnd) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  ProgressMonitor progress(nullptr, 1000, &FakeTicks);
  EXPECT_FALSE(socket_.WaitForDataSliced(450, log_, &progress, 0, 0));
  EXPECT_EQ(seam.slices, (Slices{200, 200, 50}));
  seam.slices.clear();
  EXPECT_FALSE(socket_.WaitForDataSliced(405, log_, &progress, 0, 0));
  EXPECT_EQ(seam.slices, (Slices{200, 200, 10}));
}

TEST_F(SocketIoTest, DataWaitReportsProgressStepsUpToTheLimit) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  ProgressMonitor progress(nullptr, 1000, &FakeTicks);
  socket_.WaitForDataSliced(1000, log_, &progress, 100, 250);
  EXPECT_EQ(progress.done(), 300);  // reported before slices 1, 2 and 3
}

TEST_F(SocketIoTest, DataWaitOfZeroIsTwentyMilliseconds) {
  CreateOnly();
  RecordingSeam seam;
  socket_.SetWaitSeamForTests(&seam);
  bool lost = false;
  EXPECT_FALSE(socket_.WaitForData(0, nullptr, lost, log_));
  EXPECT_EQ(seam.slices, Slices{20});
  EXPECT_FALSE(lost);
}

TEST_F(SocketIoTest, FailingReadWaitClosesTheSocket) {
  CreateOnly();
  RecordingSeam seam;
  seam.result = -1;
  socket_.SetWaitSeamForTests(&seam);
  bool error = false, aborted = false, timedOut = false;
  EXPECT_FALSE(socket_.WaitReadable(100, 1000, nullptr, error, aborted, timedOut, log_));
  EXPECT_TRUE(error);
  EXPECT_EQ(socket_.SocketFd(), -1);
  EXPECT_TRUE(Has("Error waiting for socket to become ready for reading."));
}

TEST_F(SocketIoTest, FailingDataWaitReportsTheSocketLost) {
  CreateOnly();
  RecordingSeam seam;
  seam.result = -1;
  socket_.SetWaitSeamForTests(&seam);
  bool lost = false;
  EXPECT_FALSE(socket_.WaitForData(100, nullptr, lost, log_));
  EXPECT_TRUE(lost);
  EXPECT_EQ(socket_.SocketFd(), -1);
  EXPECT_TRUE(Has("The peer has closed the socket (TCP) connection"));
}

TEST_F(SocketIoTest, WaitsOnNoSocketFailAtOnce) {
  bool error = false, aborted = false, timedOut = false, lost = false;
  EXPECT_FALSE(socket_.WaitReadable(100, 1000, nullptr, error, aborted, timedOut, log_));
  EXPECT_TRUE(error);
  EXPECT_FALSE(socket_.WaitForData(100, nullptr, lost, log_));
  EXPECT_TRUE(lost);
  EXPECT_FALSE(socket_.WaitWritableMs(100, log_));
  EXPECT_TRUE(Has("Invalid socket."));
  EXPECT_TRUE(Has("Wait-for-data passed invalid socket."));
  EXPECT_TRUE(Has("invalid socket, not ready for writing."));
}

// ---- Receiving from loopback peers

TEST_F(SocketIoTest, PeerCloseInReceiveSomeIsClosedByServer) {
  LoopbackPeer peer([](int) {});
  ConnectTo(peer.port());
  uint8_t buffer[100];
  uint32_t size = sizeof buffer;
  EXPECT_FALSE(socket_.ReceiveSome(buffer, size, 50, log_, nullptr, flags_));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(flags_.closedByPeer);
  EXPECT_FALSE(flags_.error);
  EXPECT_FALSE(socket_.IsConnected());
  EXPECT_EQ(socket_.SocketFd(), -1);
  EXPECT_TRUE(Has("Connection closed by server."));
  EXPECT_TRUE(Has("numBytesRequested: 100"));
}

TEST_F(SocketIoTest, PeerCloseInReceiveOnceIsThePeerHasClosedLine) {
  LoopbackPeer peer([](int) {});
  ConnectTo(peer.port());
  uint8_t buffer[100];
  uint32_t size = sizeof buffer;
  bool timedOut = false, closed = false;
  EXPECT_FALSE(socket_.ReceiveOnce(buffer, size, timedOut, closed, log_, nullptr));
  EXPECT_TRUE(closed);
  EXPECT_FALSE(timedOut);
  EXPECT_TRUE(Has("The peer has closed the socket (TCP) connection"));
  EXPECT_FALSE(Has("Connection closed by server."));
}

TEST_F(SocketIoTest, ReceiveOnNoSocketIsNotConnected) {
  uint8_t buffer[10];
  uint32_t size = sizeof buffer;
  EXPECT_FALSE(socket_.ReceiveSome(buffer, size, 50, log_, nullptr, flags_));
  EXPECT_TRUE(flags_.error);
  EXPECT_TRUE(Has("This socket is not connected"));
}

TEST_F(SocketIoTest, PeerThatResetsGivesAReceiveError) {
  LoopbackPeer peer(
      [](int fd) {
        SleepMs(20);
        testing::ResetAndClose(fd);
      },
      true);
  ConnectTo(peer.port());
  uint8_t buffer[100];
  uint32_t size = sizeof buffer;
  EXPECT_FALSE(socket_.ReceiveSome(buffer, size, 50, log_, nullptr, flags_));
  EXPECT_TRUE(flags_.error);
  EXPECT_FALSE(flags_.closedByPeer);
  EXPECT_FALSE(socket_.IsConnected());
  EXPECT_TRUE(Has("SOCKET_ERROR: ")) << text();
  EXPECT_TRUE(Has("Failed to receive data on the TCP socket"));
}

TEST_F(SocketIoTest, PeerThatNeverSendsTimesOutAndStaysConnected) {
  LoopbackPeer peer([](int fd) { testing::WaitForClose(fd); });
  ConnectTo(peer.port());
  socket_.SetIdleTimeoutMs(200);
  uint8_t buffer[100];
  uint32_t size = sizeof buffer;
  EXPECT_FALSE(socket_.ReceiveSome(buffer, size, 50, log_, nullptr, flags_));
  EXPECT_TRUE(flags_.timedOut);
  EXPECT_TRUE(socket_.IsConnected());
  EXPECT_TRUE(Has("Timeout waiting to read socket or accept connection"));
  // ReceiveOnce's own wait times out the same way.
  bool timedOut = false, closed = false;
  size = sizeof buffer;
  EXPECT_FALSE(socket_.ReceiveOnce(buffer, size, timedOut, closed, log_, nullptr));
  EXPECT_TRUE(timedOut);
  EXPECT_TRUE(Has("WaitForData timed out."));
  socket_.Close(log_);
}

TEST_F(SocketIoTest, AbortEndsAWaitOnASilentPeer) {
  LoopbackPeer peer([](int fd) { testing::WaitForClose(fd); });
  ConnectTo(peer.port());
  TickSink sink(2);
  ProgressMonitor progress(&sink, 0);
  uint8_t buffer[100];
  uint32_t size = sizeof buffer;
  // Six hours of idle time: only the abort can end this.
  socket_.SetIdleTimeoutMs(0);
  EXPECT_FALSE(socket_.ReceiveSome(buffer, size, 50, log_, &progress, flags_));
  EXPECT_TRUE(flags_.aborted);
  EXPECT_EQ(sink.ticks, 2);
  EXPECT_TRUE(socket_.IsConnected());
  socket_.Close(log_);
}

TEST_F(SocketIoTest, PeerTricklingBytesSlowerThanTheHeartbeatIsReadToTheEnd) {
  LoopbackPeer peer([](int fd) {
    for (char c : std::string("xyz")) {
      SendAll(fd, std::string(1, c));
      SleepMs(200);  // four heartbeats between bytes
    }
  });
  ConnectTo(peer.port());
  socket_.SetIdleTimeoutMs(1000);
  DataBuffer buffer;
  EXPECT_TRUE(socket_.ReadN(3, buffer, 50, log_, nullptr, flags_)) << text();
  EXPECT_EQ(Text(buffer), "xyz");
}

TEST_F(SocketIoTest, PeerClosingMidReadKeepsWhatArrived) {
  LoopbackPeer peer([](int fd) { SendAll(fd, Pattern(1000)); });
  ConnectTo(peer.port());
  DataBuffer buffer;
  EXPECT_FALSE(socket_.ReadN(5000, buffer, 50, log_, nullptr, flags_));
  EXPECT_TRUE(flags_.closedByPeer);
  EXPECT_EQ(Text(buffer), Pattern(1000));
}

TEST_F(SocketIoTest, PeerClosingMidReadStillWritesTheOutput) {
  LoopbackPeer peer([](int fd) { SendAll(fd, Pattern(1000)); });
  ConnectTo(peer.port());
  StringOutput output;
  EXPECT_FALSE(socket_.ReceiveNToOutput(5000, output, 50, log_, nullptr, flags_));
  EXPECT_TRUE(flags_.closedByPeer);
  EXPECT_EQ(output.data, Pattern(1000));
}

TEST_F(SocketIoTest, ReceiveNToOutputTakesExactlyTheCountInPieces) {
  const std::string body = Pattern(3000000);
  LoopbackPeer peer([&](int fd) {
    SendAll(fd, body + "TAIL");
    testing::WaitForClose(fd);
  });
  ConnectTo(peer.port());
  StringOutput output;
  ASSERT_TRUE(socket_.ReceiveNToOutput(body.size(), output, 50, log_, nullptr, flags_)) << text();
  EXPECT_TRUE(output.data == body);
  DataBuffer tail;
  ASSERT_TRUE(socket_.ReadN(4, tail, 50, log_, nullptr, flags_));
  EXPECT_EQ(Text(tail), "TAIL");
  socket_.Close(log_);
}

TEST_F(SocketIoTest, ReadNLargerThanOneBlockReadsEverything) {
  const std::string body = Pattern(5000000);
  LoopbackPeer peer([&](int fd) { SendAll(fd, body); });
  ConnectTo(peer.port());
  DataBuffer buffer;
  ASSERT_TRUE(socket_.ReadN(static_cast<uint32_t>(body.size()), buffer, 50, log_, nullptr, flags_));
  EXPECT_EQ(buffer.length(), body.size());
  EXPECT_TRUE(Text(buffer) == body);
}

TEST_F(SocketIoTest, ReceiveToOutputReadsUntilThePeerCloses) {
  const std::string body = Pattern(100000);
  LoopbackPeer peer([&](int fd) { SendAll(fd, body); });
  ConnectTo(peer.port());
  StringOutput output;
  EXPECT_TRUE(socket_.ReceiveToOutput(output, 4096, 50, log_, nullptr, flags_));
  EXPECT_TRUE(flags_.closedByPeer);
  EXPECT_TRUE(output.data == body);
}

TEST_F(SocketIoTest, ReceiveToOutputWithNothingSentFails) {
  LoopbackPeer peer([](int) {});
  ConnectTo(peer.port());
  StringOutput output;
  EXPECT_FALSE(socket_.ReceiveToOutput(output, 0, 50, log_, nullptr, flags_));
  EXPECT_TRUE(flags_.closedByPeer);
}

TEST_F(SocketIoTest, ReceiveUntilClosedCollectsEverything) {
  const std::string body = Pattern(70000);
  LoopbackPeer peer([&](int fd) { SendAll(fd, body); });
  ConnectTo(peer.port());
  DataBuffer buffer;
  bool closed = false;
  EXPECT_TRUE(socket_.ReceiveUntilClosed(buffer, log_, nullptr, closed));
  EXPECT_TRUE(closed);
  EXPECT_TRUE(Text(buffer) == body);
}

TEST_F(SocketIoTest, ReceivedBytesAreReportedAsRates) {
  LoopbackPeer peer([](int fd) {
    SendAll(fd, Pattern(1000));
    SleepMs(350);
    SendAll(fd, Pattern(1000));
  });
  ConnectTo(peer.port());
  socket_.SetRateReportsEnabled(true);
  TickSink sink;
  ProgressMonitor progress(&sink, 2000);
  DataBuffer buffer;
  ASSERT_TRUE(socket_.ReadN(2000, buffer, 50, log_, &progress, flags_)) << text();
  ASSERT_FALSE(sink.receiveReports.empty());
  EXPECT_EQ(sink.receiveReports.back(), 2000u);
}

// ---- Heads and lines

// ---- Sending

TEST(SendChunkTest, ChunkSizesAreClamped) {
  struct Case {
    uint32_t asked;
    uint32_t used;
  } cases[] = {{0, 32767}, {10, 1000}, {999, 1000}, {1000, 1000},
               {8192, 8192}, {2000000, 2000000}, {2000001, 2000000}, {UINT32_MAX, 2000000}};
  for (const Case& c : cases) {
    EXPECT_EQ(QuillonSocket::EffectiveSendChunk(c.asked), c.used) << c.asked;
  }
}

TEST_F(SocketIoTest, SendBytes2DeliversEverythingAndRestoresBlockingMode) {
  const std::string body = Pattern(300000);
  std::string received;
  auto peer = std::make_unique<LoopbackPeer>([&](int fd) {
    received = testing::ReadUntilClosed(fd);
  });
  ConnectTo(peer->port());
  ASSERT_TRUE(socket_.SendBytes2(reinterpret_cast<const uint8_t*>(body.data()),
                                 static_cast<uint32_t>(body.size()), 10, 50, log_, nullptr))
      << text();
  EXPECT_EQ(::fcntl(socket_.SocketFd(), F_GETFL) & O_NONBLOCK, 0);
  socket_.Close(log_);
  peer.reset();
  EXPECT_EQ(received.size(), body.size());
  EXPECT_TRUE(received == body);
}

TEST_F(SocketIoTest, SendToAPeerThatNeverReadsHitsTheIdleTimeout) {
  LoopbackPeer peer([](int fd) {
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    testing::WaitForClose(fd);
  });
  socket_.SetSendBufferSize(4096);
  ConnectTo(peer.port());
  socket_.SetIdleTimeoutMs(200);
  const std::string body = Pattern(20000000);
  EXPECT_FALSE(socket_.SendBytes2(reinterpret_cast<const uint8_t*>(body.data()),
                                  static_cast<uint32_t>(body.size()), 0, 50, log_, nullptr));
  EXPECT_TRUE(Has("Socket send idle timeout"));
  EXPECT_TRUE(Has("idleTimeoutMs: 200"));
  EXPECT_EQ(socket_.LastSendError(), 10035);
  EXPECT_TRUE(socket_.IsConnected());
  socket_.Close(log_);
}

TEST_F(SocketIoTest, SendToAPeerThatResetsFailsAndDropsTheConnection) {
  // The peer resets only once the connect has been checked: a reset before that fails the
  // connect instead.
  std::atomic<bool> connected{false};
  LoopbackPeer peer(
      [&connected](int fd) {
        for (int i = 0; i < 500 && !connected.load(); ++i) SleepMs(10);
        testing::ResetAndClose(fd);
      },
      true);
  ConnectTo(peer.port());
  connected.store(true);
  pollfd entry{socket_.SocketFd(), POLLIN, 0};
  ASSERT_EQ(::poll(&entry, 1, 5000), 1);  // the reset has arrived
  const std::string body = Pattern(200000);
  EXPECT_FALSE(socket_.SendBytes2(reinterpret_cast<const uint8_t*>(body.data()),
                                  static_cast<uint32_t>(body.size()), 0, 50, log_, nullptr));
  EXPECT_TRUE(Has("Error sending on socket")) << text();
  EXPECT_TRUE(Has("WSAECONNRESET"));
  EXPECT_FALSE(socket_.IsConnected());
  EXPECT_EQ(socket_.SocketFd(), -1);
}

TEST_F(SocketIoTest, SendOnNoSocketFails) {
  uint8_t byte = 1;
  EXPECT_FALSE(socket_.SendBytes2(&byte, 1, 0, 50, log_, nullptr));
  EXPECT_TRUE(Has("No socket exists for sending (2)"));
  DataBuffer received;
  EXPECT_FALSE(socket_.SendBytesWhileReceiving(&byte, 1, 0, 0, 0, 50, log_, nullptr, received));
  EXPECT_TRUE(Has("No socket exists for sending (2a)"));
}

TEST_F(SocketIoTest, SendWhileReceivingCollectsTheEarlyAnswer) {
  const std::string body = Pattern(2000000);
  const std::string answer = Pattern(5000);
  std::string received;
  auto peer = std::make_unique<LoopbackPeer>([&](int fd) {
    SendAll(fd, answer);
    received = testing::ReadUntilClosed(fd);
  });
  ConnectTo(peer->port());
  DataBuffer early;
  ASSERT_TRUE(socket_.SendBytesWhileReceiving(reinterpret_cast<const uint8_t*>(body.data()),
                                              static_cast<uint32_t>(body.size()), 1000, 3, 65536,
                                              50, log_, nullptr, early))
      << text();
  // Whatever was not drained during the send is still queued.
  DataBuffer rest;
  ASSERT_TRUE(socket_.ReadN(static_cast<uint32_t>(answer.size()) - early.length(), rest, 50, log_,
                            nullptr, flags_));
  EXPECT_EQ(Text(early) + Text(rest), answer);
  socket_.Close(log_);
  peer.reset();
  EXPECT_TRUE(received == body);
}

TEST_F(SocketIoTest, AccumulateAvailableSeesThePeerClose) {
  LoopbackPeer peer([](int fd) { SendAll(fd, "bye"); });
  ConnectTo(peer.port());
  SleepMs(50);
  DataBuffer buffer;
  EXPECT_FALSE(socket_.AccumulateAvailable(buffer, log_, nullptr));
  EXPECT_EQ(Text(buffer), "bye");
  EXPECT_FALSE(socket_.IsConnected());
}

// ---- Descriptors above 1024

TEST_F(SocketIoTest, DescriptorAbove1024Works) {
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur < 1200) {
    if (limit.rlim_max < 1200) GTEST_SKIP() << "the hard descriptor limit is below 1200";
    limit.rlim_cur = 1200;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  std::vector<int> fillers;
  for (;;) {
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    fillers.push_back(fd);
    if (fd > 1100) break;
  }
  {
    LoopbackPeer peer([](int fd) {
      SendAll(fd, "HTTP/1.1 200 OK\r\n\r\n");
      testing::WaitForClose(fd);
    });
    ConnectTo(peer.port());
    EXPECT_GT(socket_.SocketFd(), 1024);
    DataBuffer head;
    EXPECT_TRUE(socket_.ReadN(19, head, 50, log_, nullptr, flags_)) << text();
    EXPECT_EQ(Text(head), "HTTP/1.1 200 OK\r\n\r\n");
    socket_.SetIdleTimeoutMs(100);
    uint8_t buffer[10];
    uint32_t size = sizeof buffer;
    EXPECT_FALSE(socket_.ReceiveSome(buffer, size, 50, log_, nullptr, flags_));
    EXPECT_TRUE(flags_.timedOut);
    socket_.Close(log_);
  }
  for (int fd : fillers) ::close(fd);
}

}  // namespace
}  // namespace quillon
