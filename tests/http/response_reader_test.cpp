#include "http/response_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "base/data_buffer.h"
#include "base/logger.h"
#include "base/progress.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/output.h"
#include "net/byte_stream.h"
#include "net/memory_transport.h"
#include "net/quillon_socket.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::GzipOf;
using testing::HttpFixtureServer;
using After = HttpFixtureServer::After;

// Short enough that a test which has to wait out a time-out stays quick; long enough that a
// loaded machine does not time out a read that should succeed.
constexpr uint32_t kIdleMs = 5000;
constexpr uint32_t kHeartbeatMs = 50;

// Counts the chunked notifications; asks to abort from the first abort check (or the waits'
// periodic tick) when told to.
class RecordingEvent : public ProgressEvent {
 public:
  void AbortCheck(bool& abort) override {
    ++abortChecks;
    if (abortOnCheck) abort = true;
  }
  void IntervalTick(int, bool& abort) override { AbortCheck(abort); }
  void OnChunked() override { ++chunkedNotices; }

  bool abortOnCheck = false;
  std::atomic<int> abortChecks{0};
  int chunkedNotices = 0;
};

// One request over a real socket to the fixture server: the head is read and parsed the way the
// driver does it, then the body reader runs.
class ResponseReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.abortCheckMs = kHeartbeatMs;
    settings.readTimeout = 1;
  }

  // Connects (once), sends a GET for path and reads the head; false when no head arrived.
  bool RequestHead(const std::string& path) {
    if (!socket.IsConnected()) {
      socket.SetIdleTimeoutMs(kIdleMs);
      bool dnsFailed = false;
      if (!socket.Connect("127.0.0.1", server.port(), log, dnsFailed)) return false;
    }
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (!socket.SendBytes2(reinterpret_cast<const uint8_t*>(request.data()),
                           static_cast<uint32_t>(request.size()), 0, kHeartbeatMs, log,
                           nullptr)) {
      return false;
    }
    DataBuffer head;
    result.reset();
    if (!ReadResponseHead(stream, settings, result, head, log, progress.get())) return false;
    result.header.parse(std::string_view(reinterpret_cast<const char*>(head.data()),
                                         head.length()));
    return true;
  }

  // The head, then ReadBody's answer.
  bool Fetch(const std::string& path) {
    if (!RequestHead(path)) {
      ADD_FAILURE() << "no response head for " << path;
      return false;
    }
    return ReadBody(settings, result, sink, stream, log, progress.get());
  }

  void Serve(const std::string& path, const std::string& raw, After after = After::kClose) {
    server.AddResponse(path, raw, after);
  }

  std::string Body() const {
    return std::string(reinterpret_cast<const char*>(body.data()), body.length());
  }
  std::string LogText() { return testing::LogText(log); }
  bool Logged(const std::string& text) { return LogText().find(text) != std::string::npos; }

  void UseProgress(RecordingEvent& event) {
    progress = std::make_unique<ProgressMonitor>(&event, 0);
  }

  // The server outlives the client socket: the client closes first.
  HttpFixtureServer server;
  HttpControl settings;
  HttpResult result;
  DataBuffer body;
  OutputDataBuffer sink{body};
  QuillonSocket socket;
  ByteStream stream{socket};
  Logger log;
  std::unique_ptr<ProgressMonitor> progress;
};

// ---- Content length

TEST_F(ResponseReaderTest, ContentLengthWithOrWithoutSpaceReadsExactlyThatMany) {
  for (const char* line : {"Content-Length: 5", "Content-Length:5", "content-length:   5"}) {
    server.ClearResponses();
    Serve("/p", std::string("HTTP/1.1 200 OK\r\n") + line + "\r\n\r\nhelloEXTRA");
    body.clear();
    stream.close(log);
    EXPECT_TRUE(Fetch("/p")) << line;
    EXPECT_EQ(Body(), "hello") << line;
  }
}

TEST_F(ResponseReaderTest, KeepAliveConnectionServesTheNextResponse) {
  Serve("/a", HttpFixtureServer::Response(200, "OK", "first"), After::kKeepAlive);
  Serve("/b", HttpFixtureServer::Response(200, "OK", "second"), After::kKeepAlive);
  ASSERT_TRUE(Fetch("/a"));
  ASSERT_TRUE(Fetch("/b"));
  EXPECT_EQ(Body(), "firstsecond");
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST_F(ResponseReaderTest, ServerClosingBeforeTheLengthIsReachedFailsKeepingWhatArrived) {
  Serve("/p", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
  EXPECT_FALSE(Fetch("/p"));
  EXPECT_EQ(Body(), "partial");
}

// A body over the limit is dropped unread by the caller; up to 8 MB it is still taken off the
// connection, so the next answer comes on the same one. A longer one is left where it is.
TEST_F(ResponseReaderTest, ContentLengthBeyondTheLimitIsDroppedWhileTheConnectionCanBeKept) {
  settings.maxContentLength = 1000;
  Serve("/p", HttpFixtureServer::Response(200, "OK", std::string(1001, 'x')), After::kKeepAlive);
  Serve("/q", HttpFixtureServer::Response(200, "OK", "next"), After::kKeepAlive);
  Serve("/huge", "HTTP/1.1 200 OK\r\nContent-Length: 8388609\r\n\r\nxyz", After::kKeepAlive);
  EXPECT_FALSE(Fetch("/p"));
  EXPECT_TRUE(Logged("Content length more than the maximum allowed."));
  EXPECT_EQ(result.error.kind, FetchErrorKind::kBodyTooLarge);
  EXPECT_TRUE(result.bodyDropped);
  EXPECT_EQ(body.length(), 0u);
  ASSERT_TRUE(Fetch("/q"));
  EXPECT_EQ(Body(), "next");
  EXPECT_EQ(server.ConnectionCount(), 1u);

  body.clear();
  EXPECT_FALSE(Fetch("/huge"));
  EXPECT_FALSE(result.bodyDropped);
  EXPECT_EQ(body.length(), 0u);
}

TEST_F(ResponseReaderTest, ContentLengthAtTheLimitIsRead) {
  settings.maxContentLength = 1000;
  Serve("/p", HttpFixtureServer::Response(200, "OK", std::string(1000, 'x')));
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(body.length(), 1000u);
}

TEST_F(ResponseReaderTest, ContentLengthNotFitting64BitsFailsTheRead) {
  Serve("/p", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabc");
  EXPECT_FALSE(Fetch("/p"));
  EXPECT_TRUE(Logged("Invalid Content-Length."));
  EXPECT_EQ(body.length(), 0u);
}

TEST_F(ResponseReaderTest, ZeroContentLengthIsAnEmptyBody) {
  Serve("/p", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", After::kKeepAlive);
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(body.length(), 0u);
}

TEST_F(ResponseReaderTest, HeadRequestHasNoBodyWhateverTheLength) {
  Serve("/p", "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n", After::kKeepAlive);
  ASSERT_TRUE(RequestHead("/p"));
  result.verb.assign("HEAD");
  EXPECT_TRUE(ReadBody(settings, result, sink, stream, log, nullptr));
  EXPECT_EQ(body.length(), 0u);
}

// ---- Chunked

TEST_F(ResponseReaderTest, ChunkedBodyIsDecodedAndAnnounced) {
  RecordingEvent event;
  UseProgress(event);
  std::string page(5000, 'p');
  Serve("/p", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                  HttpFixtureServer::Chunked(page, 777));
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(Body(), page);
  EXPECT_TRUE(Logged("Reading chunked response"));
  EXPECT_EQ(event.chunkedNotices, 1);
}

TEST_F(ResponseReaderTest, ChunkedValueComparesWholeAndWithoutCase) {
  Serve("/upper", "HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
        After::kKeepAlive);
  EXPECT_TRUE(Fetch("/upper"));
  EXPECT_EQ(Body(), "abc");
  // "gzip, chunked" is not "chunked": without a length the body runs to the close.
  Serve("/list",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
  body.clear();
  EXPECT_TRUE(Fetch("/list"));
  EXPECT_EQ(Body(), "3\r\nabc\r\n0\r\n\r\n");
}

TEST_F(ResponseReaderTest, ChunkSizeLinesReadLikePercentX) {
  struct Case {
    const char* chunks;
    const char* body;
  } cases[] = {
      {"5;name=value\r\nhello\r\n0\r\n\r\n", "hello"},  // extension ignored
      {"  a\r\n0123456789\r\n0\r\n\r\n", "0123456789"},   // leading blanks
      {"0x3\r\nabc\r\n0\r\n\r\n", "abc"},                 // prefix accepted
      {"00000003\r\nabc\r\n0\r\n\r\n", "abc"},            // leading zeros
      {"3\r\nabc\r\nzz\r\nignored", "abc"},               // not hexadecimal: the body ends
      {"3\r\nabc\r\n\r\nignored", "abc"},                 // empty line: the body ends
      {"3\r\nabc\r\n-1\r\nignored", "abc"},               // a sign is no number
  };
  for (const Case& c : cases) {
    server.ClearResponses();
    Serve("/p", std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") + c.chunks);
    stream.close(log);
    body.clear();
    EXPECT_TRUE(Fetch("/p")) << c.chunks;
    EXPECT_EQ(Body(), c.body) << c.chunks;
  }
}

TEST_F(ResponseReaderTest, ChunkSizeNotFitting64BitsFailsTheRead) {
  Serve("/p", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
              "3\r\nabc\r\n10000000000000000\r\nxyz\r\n0\r\n\r\n");
  EXPECT_FALSE(Fetch("/p"));
  EXPECT_TRUE(Logged("Chunk size does not fit 64 bits."));
  EXPECT_EQ(Body(), "abc");
  EXPECT_FALSE(socket.IsConnected());
}

TEST_F(ResponseReaderTest, TrailersAreConsumedUpToTheirEmptyLine) {
  Serve("/a", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                  HttpFixtureServer::Chunked("body", 2, "X-One: 1\r\nX-Two: 2\r\n"),
        After::kKeepAlive);
  Serve("/b", HttpFixtureServer::Response(200, "OK", "next"), After::kKeepAlive);
  EXPECT_TRUE(Fetch("/a"));
  EXPECT_EQ(Body(), "body");
  // The next answer on the same connection starts clean.
  ASSERT_TRUE(Fetch("/b"));
  EXPECT_EQ(result.header.statusCode, 200);
  EXPECT_EQ(Body(), "bodynext");
}

TEST_F(ResponseReaderTest, ServerClosingMidChunkFailsKeepingWhatArrived) {
  server.AddHandler("/p", [](int fd, const HttpFixtureServer::Request&) {
    HttpFixtureServer::SendAll(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                   "4\r\nfull\r\n10\r\nhalf");
    return After::kClose;
  });
  EXPECT_FALSE(Fetch("/p"));
  EXPECT_TRUE(Logged("Failed to get response data (b)"));
  EXPECT_EQ(Body(), "fullhalf");
  EXPECT_FALSE(socket.IsConnected());
}

TEST_F(ResponseReaderTest, ChunkFramingFailuresAreToldApart) {
  struct Case {
    const char* chunks;
    const char* logged;
  } cases[] = {
      {"", "Failed to get response data (a)"},
      {"4\r\nfull", "Failed to get response data (c)"},
      {"4\r\nfull\r\n0\r\n", nullptr},  // the line after the last chunk never came
  };
  for (const Case& c : cases) {
    server.ClearResponses();
    Serve("/p", std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") + c.chunks);
    stream.close(log);
    log.reset();
    EXPECT_FALSE(Fetch("/p")) << c.chunks;
    if (c.logged != nullptr) {
      EXPECT_TRUE(Logged(c.logged)) << c.chunks;
    } else {
      EXPECT_FALSE(Logged("Failed to get response data (")) << c.chunks;
    }
  }
}

TEST_F(ResponseReaderTest, ChunkThatWouldPassTheLimitIsNotRead) {
  settings.maxContentLength = 1000;
  Serve("/p", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                  HttpFixtureServer::Chunked(std::string(3000, 'c'), 600));
  EXPECT_FALSE(Fetch("/p"));
  EXPECT_TRUE(Logged("Chunked response is too large."));
  EXPECT_TRUE(Logged("receivedSoFar"));
  EXPECT_EQ(body.length(), 600u);
}

TEST_F(ResponseReaderTest, HugeAnnouncedChunkIsRefusedUnderALimitWithoutAllocating) {
  settings.maxContentLength = 1000;
  Serve("/p", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc");
  EXPECT_FALSE(Fetch("/p"));
  EXPECT_TRUE(Logged("Chunked response is too large."));
  EXPECT_EQ(body.length(), 0u);
}

TEST_F(ResponseReaderTest, TrickledChunkedBodyArrivesWhole) {
  std::string page = "a trickled page, one byte at a time";
  std::string raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                    HttpFixtureServer::Chunked(page, 7, "X-T: 1\r\n");
  server.AddHandler("/p", [&server = server, raw](int fd, const HttpFixtureServer::Request&) {
    server.Trickle(fd, raw, 1, 2);
    return After::kClose;
  });
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(Body(), page);
}

// ---- Status codes without a body, and reading until the close

TEST_F(ResponseReaderTest, StatusWithoutReasonReadsUntilTheServerCloses) {
  // No reason phrase: no fields, so the length line does not count.
  Serve("/p", "HTTP/1.1 200\r\nContent-Length: 3\r\n\r\nabcdef");
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(result.header.statusCode, 200);
  EXPECT_EQ(Body(), "abcdef");
  EXPECT_TRUE(Logged("Read max non-chunked response"));
}

TEST_F(ResponseReaderTest, ReadUntilCloseRestoresTheIdleTimeOut) {
  Serve("/p", "HTTP/1.1 200 OK\r\n\r\nuntil close");
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(Body(), "until close");
  EXPECT_EQ(socket.GetIdleTimeoutMs(), kIdleMs);
}

TEST_F(ResponseReaderTest, EmptyBodyEndedByTheCloseIsAnEmptySuccess) {
  Serve("/p", "HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(body.length(), 0u);
}

TEST_F(ResponseReaderTest, EndlessBodyWithoutLengthStopsAtTheLimit) {
  settings.maxContentLength = 100000;
  server.AddHandler("/p", [&server = server](int fd, const HttpFixtureServer::Request&) {
    HttpFixtureServer::SendAll(fd, "HTTP/1.1 200 OK\r\n\r\n");
    std::string block(8192, 'e');
    while (!server.stopping() && HttpFixtureServer::SendAll(fd, block)) {
    }
    return After::kClose;
  });
  EXPECT_FALSE(Fetch("/p"));
  EXPECT_TRUE(Logged("Content length more than the maximum allowed..."));
  // Filled up to the limit, never past it.
  EXPECT_EQ(body.length(), 100000u);
  EXPECT_FALSE(socket.IsConnected());
}

TEST_F(ResponseReaderTest, StalledBodyWithoutLengthEndsAtTheReadTimeOut) {
  settings.readTimeout = 1;
  server.AddHandler("/p", [&server = server](int fd, const HttpFixtureServer::Request&) {
    HttpFixtureServer::SendAll(fd, "HTTP/1.1 200 OK\r\n\r\nsome");
    server.SleepUnlessStopping(60000);
    return After::kClose;
  });
  // What arrived before the silence is the body.
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(Body(), "some");
  EXPECT_TRUE(result.socketFlags.timedOut);
  EXPECT_EQ(socket.GetIdleTimeoutMs(), kIdleMs);
}

TEST_F(ResponseReaderTest, BodylessStatusesSucceedOrFailByCode) {
  struct Case {
    const char* head;
    bool ok;
  } cases[] = {
      {"HTTP/1.1 204 No Content\r\n\r\n", false},
      {"HTTP/1.1 304 Not Modified\r\n\r\n", true},
      {"HTTP/1.1 100 Continue\r\n\r\n", true},
      {"HTTP/1.1 103 Early Hints\r\n\r\n", true},
      {"HTTP/1.1 404 Not Found\r\n\r\n", false},
      {"HTTP/1.1 300 Multiple Choices\r\n\r\n", false},
      {"HTTP/1.1 503 Service Unavailable\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    server.ClearResponses();
    // The connection stays open: nothing may be waited for.
    Serve("/p", c.head, After::kKeepAlive);
    stream.close(log);
    log.reset();
    EXPECT_EQ(Fetch("/p"), c.ok) << c.head;
    EXPECT_TRUE(Logged("No response body to fetch...")) << c.head;
    EXPECT_TRUE(Logged("response_code")) << c.head;
    EXPECT_EQ(body.length(), 0u);
  }
}

TEST_F(ResponseReaderTest, ErrorStatusWithALengthOrChunksIsReadAndReturned) {
  Serve("/len", HttpFixtureServer::Response(404, "Not Found", "missing page"), After::kKeepAlive);
  EXPECT_TRUE(Fetch("/len"));
  EXPECT_EQ(Body(), "missing page");
  Serve("/chunks", "HTTP/1.1 410 Gone\r\nTransfer-Encoding: chunked\r\n\r\n" +
                       HttpFixtureServer::Chunked("gone", 3), After::kKeepAlive);
  body.clear();
  EXPECT_TRUE(Fetch("/chunks"));
  EXPECT_EQ(Body(), "gone");
}

TEST_F(ResponseReaderTest, RedirectWithoutLengthSkipsItsBody) {
  for (const char* code : {"301", "302", "303", "307", "308"}) {
    server.ClearResponses();
    Serve("/p", std::string("HTTP/1.1 ") + code + " Moved\r\nLocation: /q\r\n\r\n",
          After::kKeepAlive);
    stream.close(log);
    log.reset();
    EXPECT_TRUE(Fetch("/p")) << code;
    EXPECT_TRUE(Logged("Skipping response body because Content-Length header is missing and "
                       "response code >= 300"))
        << code;
  }
}

TEST_F(ResponseReaderTest, PermanentRedirectBodyIsReadLikeTheOthers) {
  Serve("/p", HttpFixtureServer::Response(308, "Permanent Redirect", "moved", "Location: /q\r\n"));
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(Body(), "moved");
}

TEST_F(ResponseReaderTest, ServerErrorWithoutLengthReadsUntilClose) {
  Serve("/p", "HTTP/1.1 500 Internal Server Error\r\n\r\nerror page");
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(Body(), "error page");
  EXPECT_TRUE(Logged("Read max non-chunked response."));
  EXPECT_EQ(socket.GetIdleTimeoutMs(), kIdleMs);
}

TEST_F(ResponseReaderTest, ServerErrorWithLengthIsRead) {
  Serve("/p", HttpFixtureServer::Response(500, "Internal Server Error", "oops"), After::kKeepAlive);
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(Body(), "oops");
}

// ---- Waiting and aborting

TEST_F(ResponseReaderTest, TrickledLengthBodyArrivesWhole) {
  std::string page(300, 't');
  server.AddHandler("/p", [&server = server, page](int fd, const HttpFixtureServer::Request&) {
    server.Trickle(fd, HttpFixtureServer::Response(200, "OK", page), 16, 2);
    return After::kClose;
  });
  EXPECT_TRUE(Fetch("/p"));
  EXPECT_EQ(Body(), page);
}

TEST_F(ResponseReaderTest, AbortFromTheCallbackEndsAWaitingRead) {
  RecordingEvent event;
  UseProgress(event);
  // The idle time-out is far away: only the abort can end the read.
  socket.SetIdleTimeoutMs(600000);
  server.AddHandler("/p", [&server = server](int fd, const HttpFixtureServer::Request&) {
    HttpFixtureServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nab");
    server.SleepUnlessStopping(600000);
    return After::kClose;
  });
  ASSERT_TRUE(RequestHead("/p"));
  socket.SetIdleTimeoutMs(600000);
  event.abortOnCheck = true;
  EXPECT_FALSE(ReadBody(settings, result, sink, stream, log, progress.get()));
  EXPECT_TRUE(result.socketFlags.aborted);
  EXPECT_FALSE(result.socketFlags.timedOut);
  EXPECT_TRUE(progress->isAborted());
  EXPECT_GE(event.abortChecks.load(), 1);
}

TEST_F(ResponseReaderTest, AbortEndsAnEndlessReadUntilClose) {
  RecordingEvent event;
  UseProgress(event);
  settings.readTimeout = 600;
  server.AddHandler("/p", [&server = server](int fd, const HttpFixtureServer::Request&) {
    HttpFixtureServer::SendAll(fd, "HTTP/1.1 200 OK\r\n\r\n");
    std::string block(1024, 'e');
    while (HttpFixtureServer::SendAll(fd, block) && server.SleepUnlessStopping(5)) {
    }
    return After::kClose;
  });
  ASSERT_TRUE(RequestHead("/p"));
  event.abortOnCheck = true;
  EXPECT_FALSE(ReadBody(settings, result, sink, stream, log, progress.get()));
  EXPECT_TRUE(result.socketFlags.aborted);
}

// ---- Gzip

class GzipBodyTest : public ::testing::Test {
 protected:
  void SetBody(const std::string& bytes, const char* coding) {
    body.clear();
    body.append(bytes);
    sink.takeEndAsPosition();
    result.reset();
    std::string head = "HTTP/1.1 200 OK\r\n";
    if (coding != nullptr) head += std::string("Content-Encoding: ") + coding + "\r\n";
    head += "\r\n";
    result.header.parse(head);
  }
  std::string Body() const {
    return std::string(reinterpret_cast<const char*>(body.data()), body.length());
  }
  bool Logged(const std::string& text) {
    return testing::LogText(log).find(text) != std::string::npos;
  }

  HttpControl settings;
  HttpResult result;
  DataBuffer body;
  OutputDataBuffer sink{body};
  Logger log;
};

TEST_F(GzipBodyTest, GzipEncodedBodyIsReplacedByItsDecodedForm) {
  std::string page(20000, 'g');
  for (const char* coding : {"gzip", "GZIP"}) {
    SetBody(GzipOf(page), coding);
    EXPECT_TRUE(DecodeGzipBody(settings, result, sink, log)) << coding;
    EXPECT_EQ(Body(), page) << coding;
  }
  // Later writes append after the decoded body.
  const uint8_t tail[] = {'!'};
  ASSERT_TRUE(sink.writeBytes(tail, 1, log));
  EXPECT_EQ(body.length(), page.size() + 1);
}

TEST_F(GzipBodyTest, BodiesThatAreNotDecodedStayAsReceived) {
  std::string gz = GzipOf("some page text that compresses");
  struct Case {
    std::string bytes;
    const char* coding;
    const char* why;
  } cases[] = {
      {gz, nullptr, "no Content-Encoding"},
      {gz, "deflate", "another coding"},
      {gz, "gzip, identity", "not the whole value"},
      {"\x1f\x8b" "12345678", "gzip", "ten bytes only"},
      {"not gzip at all, just text", "gzip", "no magic"},
      {gz.substr(0, gz.size() / 2), "gzip", "truncated stream"},
      {"\x1f\x8b\x08\x00garbage garbage garbage", "gzip", "corrupt stream"},
  };
  for (const Case& c : cases) {
    SetBody(c.bytes, c.coding);
    EXPECT_TRUE(DecodeGzipBody(settings, result, sink, log)) << c.why;
    EXPECT_EQ(Body(), c.bytes) << c.why;
  }
}

TEST_F(GzipBodyTest, InflationPastTheLimitFailsWithoutFallingBack) {
  settings.maxContentLength = 10000;
  std::string gz = GzipOf(std::string(10001, 'z'));
  SetBody(gz, "gzip");
  EXPECT_FALSE(DecodeGzipBody(settings, result, sink, log));
  EXPECT_TRUE(Logged("Content length more than the maximum allowed..."));
  EXPECT_TRUE(Logged("maxContentLength"));
  // A bomb of a few kilobytes inflates no further than the limit.
  SetBody(GzipOf(std::string(50 * 1024 * 1024, '\0')), "gzip");
  EXPECT_FALSE(DecodeGzipBody(settings, result, sink, log));
}

TEST_F(GzipBodyTest, InflationUpToTheLimitSucceeds) {
  settings.maxContentLength = 10000;
  SetBody(GzipOf(std::string(10000, 'z')), "gzip");
  EXPECT_TRUE(DecodeGzipBody(settings, result, sink, log));
  EXPECT_EQ(body.length(), 10000u);
}

TEST_F(GzipBodyTest, FileSinkIsRewrittenWithTheDecodedBody) {
  std::string path = ::testing::TempDir() + "gzip_body_sink.bin";
  OutputFile file;
  ASSERT_TRUE(file.open(path.c_str(), log));
  std::string gz = GzipOf("decoded into a file");
  ASSERT_TRUE(file.writeBytes(reinterpret_cast<const uint8_t*>(gz.data()),
                              static_cast<uint32_t>(gz.size()), log));
  SetBody("", "gzip");
  EXPECT_TRUE(DecodeGzipBody(settings, result, file, log));
  DataBuffer content;
  ASSERT_TRUE(file.copyTo(content, log));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(content.data()), content.length()),
            "decoded into a file");
}

TEST_F(ResponseReaderTest, GzipBodyReadByLengthDecodesAfterTheRead) {
  std::string page = "<html><body>" + std::string(4000, 'w') + "</body></html>";
  Serve("/p", HttpFixtureServer::Response(200, "OK", GzipOf(page), "Content-Encoding: gzip\r\n"));
  ASSERT_TRUE(Fetch("/p"));
  EXPECT_TRUE(DecodeGzipBody(settings, result, sink, log));
  EXPECT_EQ(Body(), page);
}

TEST_F(ResponseReaderTest, GzipBytesServedWithAnotherEncodingStayCompressed) {
  std::string gz = GzipOf("compressed but not labelled so");
  Serve("/p", HttpFixtureServer::Response(200, "OK", gz, "Content-Encoding: identity\r\n"));
  ASSERT_TRUE(Fetch("/p"));
  EXPECT_TRUE(DecodeGzipBody(settings, result, sink, log));
  EXPECT_EQ(Body(), gz);
}

// ---- Every split of an answer, through an in-memory connection

// Reads heads and bodies as the driver does (interim answers skipped); then the bytes left
// for the next answer.
struct SplitReading {
  bool ok = false;
  std::string body;
  std::string left;
};

SplitReading ReadSplit(const std::string& answer, const MemoryTransport::Script& script,
                       uint64_t limit) {
  MemoryTransport transport(answer, script);
  ByteStream stream(transport);
  HttpControl settings;
  settings.maxContentLength = limit;
  HttpResult result;
  DataBuffer body;
  OutputDataBuffer sink(body);
  LogNull log;
  SplitReading reading;
  for (int heads = 0; heads < 3 && !reading.ok; ++heads) {
    DataBuffer head;
    if (!ReadResponseHead(stream, settings, result, head, log, nullptr) ||
        !result.header.parse(head.view()) ||
        !ReadBody(settings, result, sink, stream, log, nullptr)) {
      break;
    }
    reading.ok = result.header.statusCode >= 200;
  }
  reading.body.assign(body.view());
  SocketFlags flags;
  while (stream.fill(kHeartbeatMs, log, nullptr, flags) == ByteStream::Fill::kData) {
  }
  reading.left.assign(stream.view());
  return reading;
}

TEST(ResponseReaderSplitTest, AnswersReadAlikeHoweverTheirBytesArrive) {
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  struct Case {
    std::string answer;
    uint64_t limit;
    bool ok;
    const char* body;
    const char* left;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloNEXT", 0, true, "hello", "NEXT"},
      {"\r\nHTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 0,
       true, "ok", ""},
      {chunked + "5;x=1\r\nhello\r\n6\r\n world\r\n0\r\nX-T: 1\r\n\r\nNEXT", 0, true,
       "hello world", "NEXT"},
      {chunked + "4\r\nabcd\r\n6\r\nefghij\r\n0\r\n\r\n", 10, true, "abcdefghij", ""},
      {chunked + "4\r\nabcd\r\n6\r\nefghij\r\n0\r\n\r\n", 9, false, "abcd", ""},
      {"HTTP/1.1 200 OK\r\n\r\nuntil the close", 0, true, "until the close", ""},
      {"HTTP/1.1 200 OK\r\n\r\nuntil the close", 5, false, "until", ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\ncut", 0, false, "cut", ""},
      {chunked + "5\r\nhel", 0, false, "hel", ""},
      {"HTTP/1.1 200 OK\r\nContent-Len", 0, false, "", "HTTP/1.1 200 OK\r\nContent-Len"},
  };
  for (const Case& c : cases) {
    for (auto kind : {StreamTransport::Kind::kPlain, StreamTransport::Kind::kTls}) {
      // A first piece of every length, then the rest at once; and one byte at a time.
      for (uint32_t first = 0; first <= c.answer.size(); ++first) {
        const uint32_t later = first == c.answer.size() ? 1 : 0;
        const SplitReading got = ReadSplit(c.answer, {first, later, {}, kind}, c.limit);
        const std::string where = c.answer + " split at " + std::to_string(first) +
                                  (kind == StreamTransport::Kind::kTls ? " (TLS)" : "");
        EXPECT_EQ(got.ok, c.ok) << where;
        EXPECT_EQ(got.body, c.body) << where;
        EXPECT_EQ(got.left, c.left) << where;
      }
    }
  }
}

// ---- The fixture server itself

TEST(HttpFixtureServerTest, RecordsHeadsAndAnswersInTurn) {
  HttpFixtureServer server;
  server.AddResponse("/x", HttpFixtureServer::Response(200, "OK", "one"));
  server.AddResponse("/x", HttpFixtureServer::Response(200, "OK", "two"));
  Logger log;
  std::string got;
  for (int i = 0; i < 3; ++i) {
    QuillonSocket socket;
    bool dnsFailed = false;
    ASSERT_TRUE(socket.Connect("127.0.0.1", server.port(), log, dnsFailed));
    std::string request = "GET http://127.0.0.1/x HTTP/1.1\r\nHost: h\r\n\r\n";
    ASSERT_TRUE(socket.SendBytes2(reinterpret_cast<const uint8_t*>(request.data()),
                                  static_cast<uint32_t>(request.size()), 0, 50, log, nullptr));
    DataBuffer all;
    bool closed = false;
    socket.ReceiveUntilClosed(all, log, nullptr, closed);
    std::string text(reinterpret_cast<const char*>(all.data()), all.length());
    got += text.substr(text.find("\r\n\r\n") + 4);
  }
  EXPECT_EQ(got, "onetwotwo");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, "http://127.0.0.1/x");
  EXPECT_EQ(requests[0].path, "/x");
  EXPECT_NE(requests[0].head.find("Host: h\r\n"), std::string::npos);
  EXPECT_EQ(server.ConnectionCount(), 3u);
}

}  // namespace
}  // namespace quillon
