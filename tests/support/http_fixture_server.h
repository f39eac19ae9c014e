// A scripted HTTP server on a loopback address for protocol tests: it accepts any number of connections
// (one thread each), records every request head, and answers each request from a table of
// path -> raw response bytes written verbatim, or hands the connection to a test callback
// (trickle, stream forever, close mid-body, never answer, reset). No TLS, no request parsing
// beyond the head and a Content-Length body.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillon::testing {

class HttpFixtureServer {
 public:
  // What happens to the connection after an answer.
  enum class After {
    kClose,      // orderly close
    kKeepAlive,  // read the next request on the same connection
    kReset,      // close with a TCP reset
  };

  // One recorded request.
  struct Request {
    std::string head;    // request line and header lines up to and including the blank line
    std::string target;  // the request target as sent (absolute for a proxy request)
    std::string path;    // the target with any "scheme://authority" removed (path and query)
    std::string body;    // the Content-Length body, if any
    int connection = 0;  // 1-based number of the connection it arrived on
  };

  // A callback answer: gets the connection descriptor and the request; returns what to do
  // with the connection afterwards (the server closes it; callbacks never close fd themselves).
  // Long-running callbacks should watch stopping() or a failed send (the client went away) so
  // the server can stop.
  using Handler = std::function<After(int fd, const Request& request)>;

  // Starts listening on host (a loopback IPv4 address; 127.0.0.2 plays a second host) and a
  // free port.
  explicit HttpFixtureServer(const std::string& host = "127.0.0.1");
  // Stops: closes the listener, shuts every connection down and joins all threads.
  ~HttpFixtureServer();
  HttpFixtureServer(const HttpFixtureServer&) = delete;
  HttpFixtureServer& operator=(const HttpFixtureServer&) = delete;

  int port() const { return port_; }
  // "http://<host>:<port>" followed by path.
  std::string Url(const std::string& path) const;

  // Answers for path (the target's path and query, e.g. "/a?b=1"). Several answers for one path
  // are used in turn, the last one repeating. "*" is the fallback for unknown paths (without
  // one: "404 Not Found" with Content-Length 0, then close).
  void AddResponse(const std::string& path, std::string rawResponse, After after = After::kClose);
  void AddHandler(const std::string& path, Handler handler);
  // Forgets the answers of path (all paths when empty).
  void ClearResponses(const std::string& path = "");
  // The next count connections are accepted and left alone (nothing read or answered; they
  // still count as connections) until ResetHeldConnections closes them with a reset.
  void HoldNextConnections(int count);
  void ResetHeldConnections();

  // Every request received so far, in arrival order (thread-safe copies).
  std::vector<Request> Requests() const;
  size_t RequestCount() const;
  size_t ConnectionCount() const;
  // Waits until at least count requests have arrived or timeoutMs passed; true when they did.
  bool WaitForRequests(size_t count, uint32_t timeoutMs) const;

  // Set once the server is stopping; callbacks that wait or stream check it.
  bool stopping() const { return stopping_.load(); }
  // Sleeps up to ms in small steps; false when the server began stopping meanwhile.
  bool SleepUnlessStopping(uint32_t ms) const;

  // Stops early (the destructor does it otherwise). Idempotent.
  void Stop();

  // ---- Helpers for callbacks

  // Sends all bytes; false when the peer went away.
  static bool SendAll(int fd, const std::string& bytes);
  // Sends bytes one piece of pieceSize at a time with pauseMs between pieces; false when the
  // peer went away or the server is stopping.
  bool Trickle(int fd, const std::string& bytes, size_t pieceSize, uint32_t pauseMs) const;
  // Closes fd with a reset instead of an orderly close.
  static void ResetAndClose(int fd);

  // A raw answer with Content-Length set to the body's size.
  static std::string Response(int status, const std::string& reason, const std::string& body,
                              const std::string& extraHeaders = "");
  // The body in chunked form, with chunks of at most chunkSize bytes and the final "0" chunk.
  static std::string Chunked(const std::string& body, size_t chunkSize,
                             const std::string& trailers = "");

 private:
  struct Answer {
    std::string raw;
    After after = After::kClose;
    Handler handler;
  };
  struct Route {
    std::vector<Answer> answers;
    size_t next = 0;
  };

  void AcceptLoop();
  void Serve(int fd, int connection);
  // Waits (in poll slices, until the server stops) for more bytes and appends them; false when
  // the peer closed, the read failed or the server is stopping.
  bool ReadMore(int fd, std::string& pending);
  // Reads one request head (and its body); false when the peer closed or the server stops.
  bool ReadRequest(int fd, std::string& pending, Request& request);
  bool PickAnswer(const std::string& path, Answer& answer);

  std::string host_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::map<std::string, Route> routes_;
  std::vector<Request> requests_;
  std::vector<int> openFds_;
  std::vector<std::thread> connectionThreads_;
  int connections_ = 0;
  int holdsLeft_ = 0;
  std::vector<int> heldFds_;
};

}  // namespace quillon::testing
