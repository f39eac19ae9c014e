#include "net/quillon_socket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/logger.h"
#include "base/progress.h"
#include "tests/net/loopback_peer.h"
#include "tests/net/resolver_fake.h"

namespace quillon {
namespace {

using testing::FakeResolver;
using testing::Listener;
using testing::LogText;
using testing::LoopbackPeer;

// Every test runs with the fake resolver, so nothing is ever looked up on the network.
class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeResolver::Instance().Install(); }
  void TearDown() override {
    FakeResolver::Instance().OpenGate();
    EXPECT_TRUE(FakeResolver::WaitForLookupsToEnd());
    FakeResolver::Instance().Uninstall();
  }
  FakeResolver& fake() { return FakeResolver::Instance(); }
  std::string text() { return LogText(log_); }

  Logger log_;
  bool dnsFailed_ = false;
};

// A peer that waits for the client to go away.
std::function<void(int)> Idle() { return [](int fd) { testing::WaitForClose(fd); }; }

TEST_F(ConnectTest, LocalhostInAnyCaseConnectsWithoutALookup) {
  for (const char* host : {"localhost", "LocalHost", "LOCALHOST", "  localhost\r\n"}) {
    LoopbackPeer peer(Idle());
    QuillonSocket socket;
    ASSERT_TRUE(socket.Connect(host, peer.port(), log_, dnsFailed_)) << host << text();
    EXPECT_TRUE(socket.IsConnected());
    EXPECT_EQ(socket.RemoteIpAddress().view(), "127.0.0.1");
    EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::None);
  }
  EXPECT_TRUE(fake().Asked().empty());
}

TEST_F(ConnectTest, NumericHostSkipsTheLookupAndIsTheRemoteText) {
  LoopbackPeer peer(Idle());
  QuillonSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.port(), log_, dnsFailed_)) << text();
  EXPECT_EQ(socket.RemoteIpAddress().view(), "127.0.0.1");
  EXPECT_TRUE(fake().Asked().empty());
}

TEST_F(ConnectTest, NamedHostConnectsToTheResolvedAddress) {
  fake().Add("web.test.example", "127.0.0.1");
  LoopbackPeer peer(Idle());
  QuillonSocket socket;
  ASSERT_TRUE(socket.Connect("web.test.example", peer.port(), log_, dnsFailed_)) << text();
  EXPECT_EQ(socket.RemoteIpAddress().view(), "127.0.0.1");
  EXPECT_EQ(fake().Asked(), std::vector<std::string>{"web.test.example"});
}

TEST_F(ConnectTest, HostWithSurroundingBlanksAndSlashIsRetriedClean) {
  fake().Add("web.test.example", "127.0.0.1");
  LoopbackPeer peer(Idle());
  QuillonSocket socket;
  ASSERT_TRUE(socket.Connect(" web.test.example/ ", peer.port(), log_, dnsFailed_)) << text();
  EXPECT_EQ(fake().Asked(), (std::vector<std::string>{"web.test.example/", "web.test.example"}));
}

TEST_F(ConnectTest, UnknownHostFailsWithReasonTwo) {
  QuillonSocket socket;
  EXPECT_FALSE(socket.Connect("nowhere.invalid.example", 80, log_, dnsFailed_));
  EXPECT_TRUE(dnsFailed_);
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::Lookup);
  EXPECT_NE(text().find("Cannot get host by name.."), std::string::npos);
  EXPECT_NE(text().find("hostname: nowhere.invalid.example"), std::string::npos) << text();
}

TEST_F(ConnectTest, LookupGivingAddressZeroFailsQuietly) {
  fake().Add("zero.test.example", "0.0.0.0");
  QuillonSocket socket;
  EXPECT_FALSE(socket.Connect("zero.test.example", 80, log_, dnsFailed_));
  EXPECT_FALSE(dnsFailed_);
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::Lookup);
}

TEST_F(ConnectTest, SlowLookupUsesUpTheConnectTimeout) {
  fake().CloseGate();
  QuillonSocket socket;
  socket.SetConnectTimeoutMs(60);
  EXPECT_FALSE(socket.Connect("slow.test.example", 80, log_, dnsFailed_));
  EXPECT_TRUE(dnsFailed_);
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::LookupTimeout);
  EXPECT_NE(text().find("DNS timed out."), std::string::npos);
}

class AbortingSink : public ProgressEvent {
 public:
  void IntervalTick(int, bool& abort) override { abort = true; }
};

TEST_F(ConnectTest, AbortDuringTheLookupIsReasonFour) {
  fake().CloseGate();
  AbortingSink sink;
  ProgressMonitor progress(&sink, 0);
  QuillonSocket socket;
  EXPECT_FALSE(socket.ConnectWithAbort("held.test.example", 80, 50, log_, dnsFailed_, &progress));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::Aborted);
  EXPECT_NE(text().find("Cannot get host by name."), std::string::npos);
  EXPECT_EQ(text().find("Cannot get host by name.."), std::string::npos);
}

TEST_F(ConnectTest, MissingOrEmptyHostIsReasonOne) {
  QuillonSocket socket;
  EXPECT_FALSE(socket.Connect(nullptr, 80, log_, dnsFailed_));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::NoHost);
  EXPECT_FALSE(socket.Connect(" \t\r\n", 80, log_, dnsFailed_));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::NoHost);
  EXPECT_NE(text().find("Cannot connect, hostname is NULL"), std::string::npos);
  EXPECT_NE(text().find("Cannot connect, hostname is zero length"), std::string::npos);
}

TEST_F(ConnectTest, PortOutsideSixteenBitsIsRefusedBeforeConnecting) {
  QuillonSocket socket;
  EXPECT_FALSE(socket.Connect("127.0.0.1", 65536 + 80, log_, dnsFailed_));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::Connect);
  EXPECT_EQ(socket.SocketFd(), -1);
}

// A port nobody listens on: bind one, then close it.
int ClosedPort() {
  Listener listener;
  int port = listener.port();
  listener.Close();
  return port;
}

TEST_F(ConnectTest, RefusedPortIsReasonSevenWithTheRefusedText) {
  QuillonSocket socket;
  EXPECT_FALSE(socket.Connect("127.0.0.1", ClosedPort(), log_, dnsFailed_));
  EXPECT_FALSE(dnsFailed_);
  EXPECT_FALSE(socket.IsConnected());
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::Connect);
  EXPECT_NE(text().find("Connect function failed."), std::string::npos) << text();
  EXPECT_NE(text().find("WSAECONNREFUSED No connection could be made"), std::string::npos)
      << text();
}

TEST_F(ConnectTest, RefusedPortWithAbortCheckIsReasonSeven) {
  ProgressMonitor progress(nullptr, 0);
  QuillonSocket socket;
  EXPECT_FALSE(socket.ConnectWithAbort("127.0.0.1", ClosedPort(), 50, log_, dnsFailed_, &progress));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::Connect);
  EXPECT_NE(text().find("Connect function failed"), std::string::npos);
  EXPECT_NE(text().find("sockError: 10061"), std::string::npos) << text();
}

TEST_F(ConnectTest, RefusedPortWithBlockingConnectIsReasonSeven) {
  QuillonSocket socket;
  socket.SetConnectTimeoutMs(0);
  EXPECT_FALSE(socket.Connect("127.0.0.1", ClosedPort(), log_, dnsFailed_));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::Connect);
  EXPECT_NE(text().find("WSAECONNREFUSED"), std::string::npos) << text();
}

// Fills a listener whose backlog is 0 until a further connect no longer completes; the
// returned descriptors hold the queue full.
std::vector<int> FillBacklog(int port) {
  std::vector<int> held;
  for (int i = 0; i < 16; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    held.push_back(fd);
    pollfd entry{fd, POLLOUT, 0};
    if (::poll(&entry, 1, 100) == 0) break;  // this one is stuck: the queue is full
  }
  return held;
}

// A peer that counts how often the application was asked.
class CountingSink : public ProgressEvent {
 public:
  void IntervalTick(int, bool& abort) override {
    ++ticks;
    abort = false;
  }
  int ticks = 0;
};

TEST_F(ConnectTest, FullBacklogTimesOutWithReasonSix) {
  Listener listener(0);
  std::vector<int> held = FillBacklog(listener.port());
  QuillonSocket socket;
  socket.SetConnectTimeoutMs(150);
  EXPECT_FALSE(socket.Connect("127.0.0.1", listener.port(), log_, dnsFailed_));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::ConnectTimeout) << text();
  EXPECT_NE(text().find("ConnectTimeoutMs: 150"), std::string::npos) << text();
  EXPECT_NE(text().find("Connect function failed."), std::string::npos);
  for (int fd : held) ::close(fd);
}

TEST_F(ConnectTest, FullBacklogWithAbortCheckTimesOutWithReasonSix) {
  Listener listener(0);
  std::vector<int> held = FillBacklog(listener.port());
  CountingSink sink;
  ProgressMonitor progress(&sink, 0);
  QuillonSocket socket;
  socket.SetConnectTimeoutMs(200);
  EXPECT_FALSE(socket.ConnectWithAbort("127.0.0.1", listener.port(), 50, log_, dnsFailed_,
                                       &progress));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::ConnectTimeout) << text();
  EXPECT_NE(text().find("WSAEWOULDBLOCK The socket would block."), std::string::npos) << text();
  EXPECT_GE(sink.ticks, 1);
  for (int fd : held) ::close(fd);
}

TEST_F(ConnectTest, AbortWhileWaitingForTheConnectIsReasonFour) {
  Listener listener(0);
  std::vector<int> held = FillBacklog(listener.port());
  AbortingSink sink;
  ProgressMonitor progress(&sink, 0);
  QuillonSocket socket;
  socket.SetConnectTimeoutSec(60);
  EXPECT_FALSE(socket.ConnectWithAbort("127.0.0.1", listener.port(), 50, log_, dnsFailed_,
                                       &progress));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::Aborted) << text();
  EXPECT_NE(text().find("socket operation aborted by application callback"), std::string::npos);
  for (int fd : held) ::close(fd);
}

// Records every wait and lets it through at once.
class RecordingSeam : public SocketWaitSeam {
 public:
  int pollOnce(int, short, uint32_t ms, short& revents) override {
    slices.push_back(ms);
    revents = 0;
    return 0;
  }
  std::vector<uint32_t> slices;
};

TEST_F(ConnectTest, ConnectTimeoutZeroIsAPlainBlockingConnect) {
  LoopbackPeer peer(Idle());
  RecordingSeam seam;
  QuillonSocket socket;
  socket.SetWaitSeamForTests(&seam);
  socket.SetConnectTimeoutSec(0);
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.port(), log_, dnsFailed_)) << text();
  EXPECT_TRUE(seam.slices.empty());
  EXPECT_TRUE(socket.IsConnected());
}

TEST_F(ConnectTest, ConnectDispatchUsesTheAbortFormOnlyWithHeartbeatAndMonitor) {
  LoopbackPeer peer(Idle());
  CountingSink sink;
  ProgressMonitor progress(&sink, 0);
  QuillonSocket socket;
  ASSERT_TRUE(socket.ConnectDispatch("localhost", peer.port(), 50, log_, dnsFailed_, &progress));
  EXPECT_TRUE(socket.IsConnected());
}

TEST_F(ConnectTest, CloseClearsTheConnectionAndTheHandle) {
  LoopbackPeer peer(Idle());
  QuillonSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.port(), log_, dnsFailed_));
  socket.Close(log_);
  EXPECT_FALSE(socket.IsConnected());
  EXPECT_EQ(socket.SocketFd(), -1);
  socket.Close(log_);  // twice is harmless
}

TEST_F(ConnectTest, ClientBindAddressIsUsed) {
  std::string seenFrom;
  auto peer = std::make_unique<LoopbackPeer>([&](int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
    seenFrom = inet_ntoa(address.sin_addr);
    testing::WaitForClose(fd);
  });
  {
    QuillonSocket socket;
    socket.SetClientBindIp("127.0.0.1");
    ASSERT_TRUE(socket.Connect("127.0.0.1", peer->port(), log_, dnsFailed_)) << text();
    EXPECT_NE(text().find("BindIpAddr: 127.0.0.1"), std::string::npos) << text();
    EXPECT_NE(text().find("ClientBindIP: 127.0.0.1"), std::string::npos);
  }
  peer.reset();  // its script ends once the socket is gone
  EXPECT_EQ(seenFrom, "127.0.0.1");
}

TEST_F(ConnectTest, BindToAPortInUseFailsWithReasonFive) {
  Listener taken;
  LoopbackPeer peer(Idle());
  QuillonSocket socket;
  socket.SetClientBindIp("127.0.0.1");
  socket.SetClientBindPort(static_cast<uint16_t>(taken.port()));
  EXPECT_FALSE(socket.Connect("127.0.0.1", peer.port(), log_, dnsFailed_));
  EXPECT_EQ(socket.ConnectFailReason(), ConnectFailure::NoSocket);
  EXPECT_NE(text().find("Failed to bind to local IP address"), std::string::npos);
  EXPECT_NE(text().find("WSAEADDRINUSE"), std::string::npos) << text();
  EXPECT_NE(text().find("Cannot connect, invalid socket."), std::string::npos);
}

TEST(QuillonSocketSettingsTest, DefaultsAreThoseOfTheLibrary) {
  QuillonSocket socket;
  EXPECT_EQ(socket.GetIdleTimeoutMs(), 30000u);
  EXPECT_EQ(socket.GetConnectTimeoutSec(), 7u);
  EXPECT_EQ(socket.SocketFd(), -1);
  EXPECT_FALSE(socket.IsConnected());
}

TEST(QuillonSocketSettingsTest, IdleTimeoutZeroAndNineMillionBothStoreFiveMillion) {
  QuillonSocket socket;
  socket.SetIdleTimeoutMs(0);
  EXPECT_EQ(socket.GetIdleTimeoutMs(), 5000000u);
  socket.SetIdleTimeoutMs(9000000);
  EXPECT_EQ(socket.GetIdleTimeoutMs(), 5000000u);
  socket.SetIdleTimeoutMs(1234);
  EXPECT_EQ(socket.GetIdleTimeoutMs(), 1234u);
}

TEST(QuillonSocketSettingsTest, ConnectTimeoutIsHeldInMilliseconds) {
  QuillonSocket socket;
  socket.SetConnectTimeoutSec(12);
  EXPECT_EQ(socket.GetConnectTimeoutMs(), 12000u);
  EXPECT_EQ(socket.GetConnectTimeoutSec(), 12u);
}

TEST(QuillonSocketSettingsTest, EverySocketGetsItsOwnSerialNumber) {
  QuillonSocket a;
  QuillonSocket b;
  EXPECT_NE(a.SocketSerial(), b.SocketSerial());
}

int SendBufferOf(QuillonSocket& socket) {
  int size = 0;
  socklen_t length = sizeof size;
  ::getsockopt(socket.SocketFd(), SOL_SOCKET, SO_SNDBUF, &size, &length);
  return size;
}

TEST(QuillonSocketSettingsTest, BufferSizesApplyOnlyFromOneThousandBelowTwoMillion) {
  LogNull log;
  QuillonSocket plain;
  ASSERT_TRUE(plain.CreateSocket(log, false));
  int systemDefault = SendBufferOf(plain);
  struct Case {
    uint32_t size;
    bool applied;
  } cases[] = {{999, false}, {1000, true}, {2000000, false}, {1999999, true}};
  for (const Case& c : cases) {
    QuillonSocket socket;
    socket.SetSendBufferSize(c.size);
    ASSERT_TRUE(socket.CreateSocket(log, false));
    EXPECT_EQ(SendBufferOf(socket) != systemDefault, c.applied) << c.size;
  }
}

}  // namespace
}  // namespace quillon
