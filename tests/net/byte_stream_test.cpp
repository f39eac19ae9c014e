#include "net/byte_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "net/memory_transport.h"

namespace quillon {
namespace {

using Ending = MemoryTransport::Ending;
using Fill = ByteStream::Fill;
using Kind = StreamTransport::Kind;

constexpr uint32_t kHeartbeatMs = 50;

TEST(ByteStreamTest, FillsHandOutThePiecesThenThePeerClose) {
  const std::string bytes = "abcdefghij";
  struct Case {
    uint32_t firstPiece;
    uint32_t piece;
    std::vector<uint32_t> sizes;  // what each fill appends before the close
  } cases[] = {
      {0, 0, {10}},
      {3, 0, {3, 7}},
      {3, 4, {3, 4, 3}},
      {0, 4, {10}},
      {1, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    MemoryTransport transport(bytes, {c.firstPiece, c.piece});
    ByteStream stream(transport);
    LogNull log;
    SocketFlags flags;
    std::string read;
    for (uint32_t size : c.sizes) {
      const uint32_t before = stream.size();
      ASSERT_EQ(stream.fill(kHeartbeatMs, log, nullptr, flags), Fill::kData) << c.firstPiece;
      EXPECT_EQ(stream.size() - before, size) << c.firstPiece << "/" << c.piece;
      // Taking a byte between fills leaves the rest in order.
      read += stream.view().substr(0, 1);
      stream.consume(1);
    }
    read += stream.view();
    EXPECT_EQ(read, bytes) << c.firstPiece << "/" << c.piece;
    EXPECT_EQ(stream.fill(kHeartbeatMs, log, nullptr, flags), Fill::kEnded);
    EXPECT_TRUE(flags.closedByPeer);
    EXPECT_FALSE(stream.isOpen());
  }
}

TEST(ByteStreamTest, PeerCloseAndTimeOutAreToldApart) {
  struct Case {
    Ending ending;
    Fill fill;
    bool closedByPeer;
    bool timedOut;
    bool openAfter;
  } cases[] = {
      {Ending::kPeerCloses, Fill::kEnded, true, false, false},
      {Ending::kTimesOut, Fill::kFailed, false, true, true},
  };
  for (const Case& c : cases) {
    for (Kind kind : {Kind::kPlain, Kind::kTls}) {
      MemoryTransport transport("answer", {0, 0, c.ending, kind});
      ByteStream stream(transport);
      LogNull log;
      SocketFlags flags;
      ASSERT_EQ(stream.fill(kHeartbeatMs, log, nullptr, flags), Fill::kData);
      stream.consume(stream.size());
      EXPECT_EQ(stream.fill(kHeartbeatMs, log, nullptr, flags), c.fill);
      EXPECT_EQ(flags.closedByPeer, c.closedByPeer);
      EXPECT_EQ(flags.timedOut, c.timedOut);
      EXPECT_FALSE(flags.error);
      EXPECT_EQ(stream.isOpen(), c.openAfter);
      // Only a silent peer leaves a connection that can carry the next request.
      EXPECT_EQ(stream.isReusable(), c.openAfter);
    }
  }
}

TEST(ByteStreamTest, ClosedStreamFailsFillsAndSends) {
  MemoryTransport transport("never read", {});
  ByteStream stream(transport);
  LogNull log;
  stream.close(log);
  SocketFlags flags;
  EXPECT_EQ(stream.fill(kHeartbeatMs, log, nullptr, flags), Fill::kFailed);
  EXPECT_TRUE(flags.error);
  EXPECT_FALSE(flags.closedByPeer);
  const uint8_t byte = 'x';
  EXPECT_FALSE(stream.send(&byte, 1, 0, kHeartbeatMs, log, nullptr));
}

TEST(ByteStreamTest, FillIntoKeepsAtMostMaxBytesInTheTarget) {
  struct Case {
    Kind kind;
    uint64_t maxBytes;
    uint32_t added;
    uint32_t heldAfter;  // a TLS arrival past maxBytes waits in the stream
  } cases[] = {
      {Kind::kPlain, 4, 4, 0},
      {Kind::kPlain, 100, 10, 0},
      {Kind::kTls, 4, 4, 6},
      {Kind::kTls, 10, 10, 0},
  };
  for (const Case& c : cases) {
    MemoryTransport transport("0123456789", {0, 0, Ending::kPeerCloses, c.kind});
    ByteStream stream(transport);
    DataBuffer target;
    target.append(std::string_view("body:"));
    LogNull log;
    SocketFlags flags;
    uint32_t added = 0;
    EXPECT_EQ(stream.fillInto(target, c.maxBytes, kHeartbeatMs, log, nullptr, flags, added),
              Fill::kData);
    EXPECT_EQ(added, c.added) << c.maxBytes;
    EXPECT_EQ(target.view(), "body:" + std::string("0123456789").substr(0, c.added));
    EXPECT_EQ(stream.size(), c.heldAfter) << c.maxBytes;
    // With bytes held, the next arrival goes to the stream, not the target.
    if (c.heldAfter > 0) {
      EXPECT_EQ(stream.fillInto(target, 100, kHeartbeatMs, log, nullptr, flags, added),
                Fill::kEnded);
      EXPECT_EQ(added, 0u);
      EXPECT_EQ(stream.view(), "456789");
    }
  }
}

TEST(ByteStreamTest, MemoryStreamKeepsWhatIsSentAndHasAnUnconnectedSocket) {
  MemoryTransport transport("", {0, 0, Ending::kTimesOut, Kind::kTls});
  ByteStream stream(transport);
  LogNull log;
  const std::string request = "GET / HTTP/1.1\r\n\r\n";
  EXPECT_TRUE(stream.send(reinterpret_cast<const uint8_t*>(request.data()),
                          static_cast<uint32_t>(request.size()), 4, kHeartbeatMs, log, nullptr));
  EXPECT_EQ(transport.sent(), request);
  EXPECT_TRUE(stream.tls());
  EXPECT_EQ(stream.channel(), nullptr);
  EXPECT_FALSE(stream.socket().IsConnected());
  stream.socket().SetIdleTimeoutMs(1234);
  EXPECT_EQ(stream.socket().GetIdleTimeoutMs(), 1234u);
}

}  // namespace
}  // namespace quillon
