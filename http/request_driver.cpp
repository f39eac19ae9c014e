#include "http/request_driver.h"

#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "base/log_base.h"
#include "base/output.h"
#include "base/platform.h"
#include "base/progress.h"
#include "http/http_client.h"
#include "http/http_conn_pool.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/output.h"
#include "http/parse_url.h"
#include "http/redirect.h"
#include "http/request_builder.h"
#include "http/response_reader.h"
#include "net/quillon_socket.h"
#include "net/schannel.h"

namespace quillon {

namespace {

// ---- Seams for the HTTP cache, the cookie store and NTLM. Each acts here, in one place, once
// its work exists; until then lookups find nothing and nothing is stored.

// A cache entry found for the URL; the lookup fills the sink with its body when it finds one.
struct CacheLookupResult {
  bool found = false;
  bool fresh = false;
  bool revalidate = false;  // stale with readFromCache: the request becomes conditional
  StringBuffer etag;
  SystemTime expiry{};
};

void LookUpCache(const HttpControl&, const char*, HttpResult&, Output&, CacheLookupResult&,
                 LogBase&) {}
void UpdateCache(const HttpControl&, const char*, const HttpResult&, Output&, LogBase&) {}
void RecordNegativeCacheEntry(const HttpControl&, const char*, LogBase&) {}
// Whether the cache remembers host as one that did not resolve.
bool IsDnsMarkedInvalid(const HttpControl&, const char*) { return false; }
void NoteConnectOutcome(const HttpControl&, const char*, bool, bool) {}
// Stores the response's cookies when a cookie folder is set; true when any were stored.
bool SaveResponseCookies(const HttpControl&, const HttpResult&, const char*, LogBase&) {
  return false;
}
// Whether a 401 is one the NTLM exchange answers (it then logs no status lines).
bool NtlmWillAnswer(const HttpControl& settings, const BasicCredentials& credentials,
                    const HttpResult& result) {
  return result.header.statusCode == 401 && settings.ntlmEnabled && *credentials.login != '\0' &&
         *credentials.password != '\0';
}
// Whether a WWW-Authenticate field of the answer is exactly "NTLM" (any case).
bool OffersOnlyNtlm(const HttpResponseHeader& header) {
  for (int i = 0; i < header.fields.count(); ++i) {
    const MimeField* field = header.fields.fieldAt(i);
    if (!field->name.equalsIgnoreCase("WWW-Authenticate")) continue;
    StringBuffer value;
    value.assign(field->value);
    value.trim();
    if (value.equalsIgnoreCase("NTLM")) return true;
  }
  return false;
}
// Answers a 401 that offers NTLM; the exchange comes with the NTLM work and does nothing yet.
bool AnswerNtlmChallenge(HttpClient&, const char*, HttpControl&, Output&, HttpResult&, LogBase&,
                         ProgressMonitor*, bool& answered) {
  answered = false;
  return false;
}

// ---- Helpers

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    char a = *text;
    char b = *prefix;
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
    if (a != b) return false;
  }
  return true;
}

// The credentials a request to host carries: during a fetch whose URL brought some, those for
// the URL's own host and none for any other (no redirect, reconnect or retry takes them
// elsewhere); otherwise the settings' login and password.
BasicCredentials CredentialsFor(const HttpClient& client, const HttpControl& settings,
                                const char* host) {
  const UrlCredentials& fromUrl = client.urlCredentials();
  if (fromUrl.host.isEmpty()) return {settings.login.getString(), settings.password.getString()};
  if (!fromUrl.host.equalsIgnoreCase(host)) return {};
  return {fromUrl.login.getString(), fromUrl.password.getString()};
}

// Binds the credentials in a fetch's URL to the client for the length of that fetch.
class UrlCredentialsScope {
 public:
  explicit UrlCredentialsScope(HttpClient& client) : client_(client) {}
  ~UrlCredentialsScope() { client_.urlCredentials().clear(); }
  UrlCredentialsScope(const UrlCredentialsScope&) = delete;
  UrlCredentialsScope& operator=(const UrlCredentialsScope&) = delete;

  // Takes user and password when the URL carries both. False when memory runs out.
  bool bind(const ParsedUrl& url) {
    if (url.user.isEmpty() || url.password.isEmpty()) return true;
    UrlCredentials& own = client_.urlCredentials();
    if (!own.host.assign(url.host) || !own.login.assign(url.user) ||
        !own.password.assign(url.password)) {
      own.clear();
      return false;
    }
    own.host.toLowerCase();
    return true;
  }

 private:
  HttpClient& client_;
};

// The credentials that went with the request whose answer result holds (the last redirect
// target's, when redirected).
BasicCredentials CredentialsForAnswer(const HttpClient& client, const HttpControl& settings,
                                      const char* url, const HttpResult& result) {
  ParsedUrl answered;
  if (!ParseUrl(result.redirected ? result.finalUrl.getString() : url, answered)) return {};
  return CredentialsFor(client, settings, answered.host.getString());
}

// Bytes of the head, the connect and the send are not body progress.
class CountingSuspended {
 public:
  explicit CountingSuspended(ProgressMonitor* progress) : progress_(progress) {
    if (progress_ != nullptr) progress_->setCountingSuspended(true);
  }
  ~CountingSuspended() {
    if (progress_ != nullptr) progress_->setCountingSuspended(false);
  }
  CountingSuspended(const CountingSuspended&) = delete;
  CountingSuspended& operator=(const CountingSuspended&) = delete;

 private:
  ProgressMonitor* progress_;
};

// The connection one request runs over: the client's pooled one, or one of its own that is
// closed when the request ends.
class Connection {
 public:
  Connection(HttpClient& client, bool tls) : tls_(tls) {
    socket_ = &client.socket();
    channel_ = &client.channel();
  }
  ~Connection() {
    LogNull quiet;
    if (ownSocket_) ownSocket_->Close(quiet);
    if (ownChannel_) ResetChannel(*ownChannel_, quiet);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Switches to a socket and channel of this request's own; false when memory runs out.
  bool makeOwn() {
    ownSocket_.reset(new (std::nothrow) QuillonSocket);
    ownChannel_.reset(new (std::nothrow) SChannel);
    if (!ownSocket_ || !ownChannel_) return false;
    socket_ = ownSocket_.get();
    channel_ = ownChannel_.get();
    return true;
  }

  bool tls() const { return tls_; }
  QuillonSocket& socket() { return *socket_; }
  SChannel& channel() { return *channel_; }
  bool isOpen() const { return tls_ ? channel_->IsConnected() : socket_->IsConnected(); }
  // Closes the connection (a TLS channel is shut down).
  void close(LogBase& log) {
    if (tls_) {
      ResetChannel(*channel_, log);
    } else {
      socket_->Close(log);
    }
  }
  // Resets it and gives it the settings' time-outs before a connect.
  void prepare(const HttpControl& settings, LogBase& log) {
    close(log);
    ApplySocketTimeouts(tls_ ? channel_->Socket() : *socket_, settings);
  }

  // Connects to host and port (the proxy when viaProxy), abortCheckMs as heartbeat.
  bool connect(const HttpControl& settings, const char* host, int port, bool viaProxy,
               LogBase& log, ProgressMonitor* progress, bool& dnsFailed) {
    dnsFailed = false;
    log.addTag(viaProxy ? "proxyDomain" : "httpServer", host);
    log.addTagInt("port", port);
    if (tls_) {
      log.addError("Using HTTPS.");
      return ConnectChannel(*channel_, settings, host, port, log, progress, dnsFailed);
    }
    return socket_->ConnectDispatch(host, port, settings.abortCheckMs, log, dnsFailed, progress);
  }

 private:
  bool tls_;
  QuillonSocket* socket_;
  SChannel* channel_;
  std::unique_ptr<QuillonSocket> ownSocket_;
  std::unique_ptr<SChannel> ownChannel_;
};

void PauseBeforeRetry(uint32_t ms) {
  if (ms == 0) return;
  const HttpTestOverrides& o = HttpOverrides();
  if (o.pause != nullptr) {
    o.pause(ms);
  } else {
    SleepMs(ms);
  }
}

// The answer had no status line and does not look like HTML: log what came, close.
void LogInvalidHead(const DataBuffer& head, LogBase& log) {
  log.addError("Invalid response header received");
  uint32_t shown = head.length() < kInvalidHeadLogBytes ? head.length() : kInvalidHeadLogBytes;
  StringBuffer received;
  received.append(reinterpret_cast<const char*>(head.data()), shown);
  log.addTag("received", received.getString());
}

// Where a request connects to.
struct ConnectTarget {
  const char* host;         // the URL's host
  const char* connectHost;  // the host or the proxy
  int connectPort;
  bool viaProxy;
};

enum class Opened { kReady, kFailed, kUseOwnConnection };

// Makes the connection ready for the request: the pooled one (opened when closed; when open
// and forceOneOff, the caller runs the request again on one of its own), or a new one of this
// request's own. kFailed after the log lines of the failure.
Opened OpenConnection(Connection& connection, const ConnectTarget& target, bool usePooled,
                      bool forceOneOff, const HttpControl& settings, HttpResult& result,
                      LogBase& log, ProgressMonitor* progress) {
  if (settings.useHttpCache && settings.cacheRules.skipFailedDomains &&
      IsDnsMarkedInvalid(settings, target.host)) {
    log.addError("Domain name is marked as invalid in the cache.");
    log.addTag("domain", target.host);
    return Opened::kFailed;
  }
  bool connected = true;
  bool dnsFailed = false;
  if (usePooled) {
    if (connection.isOpen()) {
      log.addError("Using existing connection to web server...");
      if (forceOneOff) return Opened::kUseOwnConnection;
    } else {
      log.addError("Not yet connected to web server. Need to establish connection.");
      connection.prepare(settings, log);
      CountingSuspended quiet(progress);
      connected = connection.connect(settings, target.connectHost, target.connectPort,
                                     target.viaProxy, log, progress, dnsFailed);
      if (!connected) {
        log.addError(target.viaProxy ? "Failed to connect to proxy server"
                                     : "Failed to connect to HTTP server.");
        if (dnsFailed) log.addError("Domain name lookup failed..");
      }
    }
  } else {
    log.addError("Using new connection...");
    if (!connection.makeOwn()) {
      log.addError("Out of memory");
      return Opened::kFailed;
    }
    connection.prepare(settings, log);
    StringBuffer host;
    if (!host.assign(target.connectHost)) return Opened::kFailed;
    if (const char* q = std::strchr(host.getString(), '?')) {
      host.shorten(static_cast<uint32_t>(std::strlen(q)));
    }
    CountingSuspended quiet(progress);
    connected = connection.connect(settings, host.getString(), target.connectPort,
                                   target.viaProxy, log, progress, dnsFailed);
    if (!connected) {
      log.addError(target.viaProxy ? "Failed to connect to proxy server"
                                   : "Failed to connect to HTTP server");
      if (dnsFailed) log.addError("Domain name lookup failed.");
    }
  }
  if (settings.useHttpCache) NoteConnectOutcome(settings, target.host, connected, dnsFailed);
  if (!connected) {
    connection.close(log);
    return Opened::kFailed;
  }
  if (!connection.isOpen()) {
    log.addError("Unable to connect to HTTP server.");
    return Opened::kFailed;
  }
  if (!connection.tls() && !connection.socket().WaitWritable(kWritableWaitSec, log)) {
    log.addError("Socket connection to HTTP server is not writeable.");
    result.needsReconnect = true;
    return Opened::kFailed;
  }
  return Opened::kReady;
}

// Whether the answer's media type (Content-Type up to ";", trimmed) is the required one; logs
// the mismatch.
bool ContentTypeAccepted(const HttpControl& settings, const HttpResponseHeader& header,
                         LogBase& log) {
  if (settings.requiredContentType.isEmpty()) return true;
  StringBuffer contentType;
  header.getField("Content-Type", contentType);
  StringBuffer mediaType;
  mediaType.assign(contentType);
  if (const char* semi = std::strchr(mediaType.getString(), ';')) {
    mediaType.shorten(static_cast<uint32_t>(std::strlen(semi)));
  }
  mediaType.trim();
  if (mediaType.equalsIgnoreCase(settings.requiredContentType.getString())) return true;
  log.addError("Content-Type does not match the required content type");
  log.addTag("requiredContentType", settings.requiredContentType.getString());
  log.addTag("receivedContentType", contentType.getString());
  return false;
}

// Reads a response head over TLS: blocks are appended to bytes (which may hold bytes carried
// over) until they contain the blank line; the bytes after it move to afterHead. A session that
// ends before the blank line fails, with or without part of a head, as on a plain connection.
// At most 64 KiB of head.
bool ReadTlsHead(SChannel& channel, const HttpControl& settings, HttpResult& result,
                 DataBuffer& bytes, DataBuffer& afterHead, LogBase& log,
                 ProgressMonitor* progress) {
  uint32_t searchFrom = 0;
  for (;;) {
    std::string_view seen = bytes.view();
    size_t end = seen.find("\r\n\r\n", searchFrom);
    if (end != std::string_view::npos && end + 4 <= QuillonSocket::kMaxHeadBlock) {
      const uint32_t headLength = static_cast<uint32_t>(end + 4);
      if (!afterHead.append(bytes.data() + headLength, bytes.length() - headLength)) {
        log.addError("Out of memory");
        return false;
      }
      return bytes.setLength(headLength);
    }
    if (end != std::string_view::npos || seen.size() >= QuillonSocket::kMaxHeadBlock) {
      log.addError("Response header too large.");
      log.addTagInt("maxHeaderSize", static_cast<int32_t>(QuillonSocket::kMaxHeadBlock));
      return false;
    }
    searchFrom = seen.size() > 3 ? static_cast<uint32_t>(seen.size() - 3) : 0;
    bool timedOut = false;
    bool aborted = false;
    bool error = false;
    bool endOfSession = false;
    bool closed = false;
    const bool ok = channel.ReceiveBytes(bytes, settings.abortCheckMs, log, progress, timedOut,
                                         aborted, error, endOfSession, closed);
    result.socketFlags.timedOut = timedOut;
    result.socketFlags.aborted = aborted;
    result.socketFlags.error = error;
    result.socketFlags.closedByPeer = closed;
    if (ok && !endOfSession) continue;
    if (aborted) {
      log.addError("Application aborted prior to reading the response header.");
      return false;
    }
    if (timedOut) {
      log.addError("Timeout trying to read HTTP response header");
      log.addTagInt("readTimeout", static_cast<int32_t>(settings.readTimeout));
      return false;
    }
    if (endOfSession || closed) {
      log.addError("HTTP server closed the connection before the response head could be read.");
    }
    return false;
  }
}

}  // namespace

bool DriveRequest(HttpClient& client, const char* url, int depth, bool usePooled,
                  bool forceOneOff, HttpControl& settings, Output& sink, HttpResult& result,
                  LogBase& log, ProgressMonitor* progress) {
  if (url == nullptr) url = "";
  log.addTag("url", url);
  result.needsReconnect = false;
  result.cacheState = 0;
  result.fromCache = false;

  StringBuffer lowered;
  if (!lowered.assign(url)) return false;
  lowered.toLowerCase();
  if (lowered.contains("about:blank")) {
    log.addError("Skipping about:blank");
    log.addTag("url", url);
    return sink.clear(log);
  }
  if (std::strlen(url) > settings.maxUrlLen) {
    log.addError("URL is longer than the maximum allowed length.");
    log.addTagInt("maxUrlLen", static_cast<int32_t>(settings.maxUrlLen));
    log.addTag("url", url);
    return false;
  }

  CacheLookupResult cached;
  LookUpCache(settings, url, result, sink, cached, log);
  if (cached.found) result.cacheState = 1;
  if (cached.found && cached.fresh && settings.cacheRules.readFromCache) {
    result.fromCache = true;
    return true;
  }

  ParsedUrl parsed;
  if (!ParseUrl(url, parsed)) {
    log.addError("Failed to parse URL");
    log.addTag("url", url);
    return false;
  }
  parsed.host.toLowerCase();
  if (client.host().isEmpty() && !client.recordHost(parsed.host.getString())) return false;
  const BasicCredentials credentials = CredentialsFor(client, settings, parsed.host.getString());

  bool tls = StartsWithNoCase(url, "https:");
  StringBuffer proxyHost;
  int proxyPort = kDefaultHttpPort;
  ChooseProxy(settings, url, ProxyPurpose::Request, proxyHost, proxyPort, log);
  const bool viaProxy = !proxyHost.isEmpty();
  // Through a proxy the request goes in plain text, with the full URL as request target.
  if (viaProxy) tls = false;
  const char* connectHost = viaProxy ? proxyHost.getString() : parsed.host.getString();
  const int connectPort = viaProxy ? proxyPort : parsed.port;

  Connection connection(client, tls);
  if (!settings.composeOnly) {
    ConnectTarget target{parsed.host.getString(), connectHost, connectPort, viaProxy};
    switch (OpenConnection(connection, target, usePooled, forceOneOff, settings, result, log,
                           progress)) {
      case Opened::kReady:
        break;
      case Opened::kFailed:
        return false;
      case Opened::kUseOwnConnection:
        return DriveRequest(client, url, depth, false, false, settings, sink, result, log,
                            progress);
    }
  }

  if (parsed.path.isEmpty() && !parsed.path.assign("/")) return false;
  RequestParts parts;
  parts.url = url;
  parts.host = parsed.host.getString();
  parts.port = parsed.port;
  parts.path = parsed.path.getString();
  parts.query = parsed.query.getString();
  parts.viaProxy = viaProxy;
  parts.conditional = cached.revalidate;
  parts.etag = cached.etag.getString();
  parts.conditionalDate = cached.expiry;
  parts.credentials = &credentials;
  StringBuffer head;
  if (!ComposeRequest(settings, parts, result, head, log)) {
    log.addError("Failed to compose the request.");
    connection.close(log);
    return false;
  }
  if (settings.composeOnly) return settings.lastComposedRequest.assign(head);

  {
    CountingSuspended quiet(progress);
    if (HttpOverrides().beforeSend != nullptr && !connection.tls()) {
      HttpOverrides().beforeSend(connection.socket().SocketFd());
    }
    const uint8_t* headData = reinterpret_cast<const uint8_t*>(head.getString());
    const bool sent =
        connection.tls()
            ? connection.channel().SendBytes(headData, head.length(), settings.abortCheckMs, log,
                                             progress)
            : connection.socket().SendBytes2(headData, head.length(), kSendPiece,
                                             settings.abortCheckMs, log, progress);
    if (!sent) {
      log.addError("Failed to send HTTP GET");
      result.needsReconnect = true;
      connection.close(log);
      return false;
    }
  }

  const uint64_t bodyStart = sink.size();
  // Over TLS the head arrives in blocks: what follows its blank line is the body's start (or,
  // after an interim answer, the next head's).
  DataBuffer carried;
  for (int informational = 0;; ++informational) {
    DataBuffer headBytes;
    DataBuffer afterHead;
    bool gotHead;
    {
      CountingSuspended quiet(progress);
      if (connection.tls()) {
        headBytes.moveFrom(carried);
        gotHead = ReadTlsHead(connection.channel(), settings, result, headBytes, afterHead, log,
                              progress);
      } else {
        gotHead = connection.socket().ReceiveHeaderBlock(headBytes, settings.abortCheckMs, log,
                                                         progress, &result.socketFlags);
      }
    }
    if (!gotHead) {
      connection.close(log);
      log.addError("Failed to get response header");
      if (settings.useHttpCache && settings.cacheRules.writeToCache) {
        RecordNegativeCacheEntry(settings, url, log);
      }
      return false;
    }

    StringBuffer logged;
    logged.append("\r\n");
    logged.append(reinterpret_cast<const char*>(headBytes.data()), headBytes.length());
    log.addTag("responseHeader", logged.getString());
    if (!result.header.parse(headBytes.view())) {
      if (result.header.contentLengthInvalid) {
        log.addError("Content-Length is not a number that fits 64 bits.");
      }
      connection.close(log);
      return false;
    }

    const bool savedCookies =
        SaveResponseCookies(settings, result, parsed.host.getString(), log);

    if (!ContentTypeAccepted(settings, result.header, log)) {
      connection.close(log);
      return false;
    }

    if (!NtlmWillAnswer(settings, credentials, result)) {
      log.addTagInt("StatusCode", result.header.statusCode);
      log.addTag("StatusText", result.header.reasonText.getString());
    }

    bool bareHtml = false;
    if (result.header.statusCode == 0) {
      const uint32_t probe = headBytes.length() < HttpResponseHeader::kBareHtmlProbe
                                 ? headBytes.length()
                                 : HttpResponseHeader::kBareHtmlProbe;
      if (HttpResponseHeader::LooksLikeBareHtml(headBytes.view().substr(0, probe))) {
        result.header.markBareHtml();
        bareHtml = true;
      } else {
        LogInvalidHead(headBytes, log);
        connection.close(log);
        if (depth > kMaxInvalidHeadDepth) return false;
        bool ok = DriveRequest(client, url, depth + 1, false, false, settings, sink, result, log,
                               progress);
        if (!ok && settings.useHttpCache && settings.cacheRules.writeToCache) {
          RecordNegativeCacheEntry(settings, url, log);
        }
        return ok;
      }
    }

    if (result.header.contentLength != 0 && progress != nullptr) {
      progress->resetTotal64(static_cast<int64_t>(result.header.contentLength));
    }
    if (bareHtml) {
      // Everything that came is the page's start, over TLS the bytes after a blank line too.
      if (!sink.writeBytes(headBytes.data(), headBytes.length(), log) ||
          !sink.writeBytes(afterHead.data(), afterHead.length(), log)) {
        connection.close(log);
        return false;
      }
      afterHead.clear();
    }

    const bool bodyRead =
        connection.tls()
            ? ReadBodyTls(settings, result, sink, afterHead.view(), connection.channel(), log,
                          progress)
            : ReadBodyPlain(settings, result, sink, connection.socket(), log, progress);
    if (!bodyRead) {
      if (progress != nullptr && progress->isAborted()) {
        log.addError("Application aborted HTTP GET in event callback.");
      } else {
        log.addError(connection.tls() ? "Failed to fetch response data on SSL connection."
                                      : "Failed to fetch response data on non-SSL connection.");
      }
      connection.close(log);
      return false;
    }

    // An informational answer (100 Continue and the other 1xx) comes before the real one on the
    // same connection: read the next head, at most ten times.
    const int status = result.header.statusCode;
    if (status >= 100 && status < 200) {
      if (connection.tls()) carried.moveFrom(afterHead);
      if (informational >= kMaxInformationalHeads) {
        log.addError("Too many informational responses.");
        log.addTagInt("maxInformational", kMaxInformationalHeads);
        connection.close(log);
        return false;
      }
      continue;
    }

    if (!DecodeGzipBody(settings, result, sink, log)) {
      connection.close(log);
      return false;
    }
    if (settings.maxContentLength != 0 && sink.size() - bodyStart > settings.maxContentLength) {
      log.addError("Content length more than the maximum allowed...");
      log.addTagInt64("maxContentLength", static_cast<int64_t>(settings.maxContentLength));
      connection.close(log);
      return false;
    }
    // Responses that set cookies are never cached.
    if (!savedCookies) UpdateCache(settings, url, result, sink, log);

    if (usePooled) {
      StringBuffer connectionField;
      result.header.getField("Connection", connectionField);
      connectionField.trim();
      if (connectionField.equalsIgnoreCase("close")) {
        log.addError("Got connection:close header");
        connection.close(log);
      }
    } else {
      connection.close(log);
    }

    if (IsFollowedRedirect(status, result.verb)) {
      return FollowRedirect(client, url, depth, settings, sink, result, log, progress);
    }
    // A 304 answers a conditional request; the cache restores its entry here once it exists.
    return true;
  }
}

bool FetchWithRetry(HttpClient& client, const char* url, HttpControl& settings, Output& sink,
                    HttpResult& result, LogBase& log, ProgressMonitor* progress) {
  for (uint32_t retries = 0;; ++retries) {
    result.reset();
    bool ok = DriveRequest(client, url, 0, true, true, settings, sink, result, log, progress);
    if (!ok) {
      if (progress != nullptr && progress->isAborted()) {
        log.addError("Application aborted HTTP operation...");
        return false;
      }
      if (result.needsReconnect) {
        log.addError("Socket not writeable, re-opening connection with HTTP server (3)");
        StringBuffer host;
        host.assign(client.host());
        const int port = client.port();
        client.CloseClientConnection(log);
        bool connectedNow = false;
        bool connected;
        const char* again = url;
        if (result.redirected) {
          ParsedUrl target;
          ParseUrl(result.finalUrl.getString(), target);
          const bool tls = target.port == kDefaultHttpsPort ||
                           StartsWithNoCase(result.finalUrl.getString(), "https");
          connected = HttpConnect(client, settings, target.host.getString(), target.port, tls,
                                  log, progress, connectedNow);
          again = result.finalUrl.getString();
        } else {
          const bool tls = port == kDefaultHttpsPort || StartsWithNoCase(url, "https");
          connected = HttpConnect(client, settings, host.getString(), port, tls, log, progress,
                                  connectedNow);
        }
        if (connected) {
          log.addError("New connection established, re-trying GET");
          StringBuffer target;
          target.assign(again);
          ok = DriveRequest(client, target.getString(), 0, true, true, settings, sink, result,
                            log, progress);
        }
      }
    }

    const int status = result.header.statusCode;
    if (OffersOnlyNtlm(result.header) &&
        NtlmWillAnswer(settings, CredentialsForAnswer(client, settings, url, result), result)) {
      bool answered = false;
      bool ntlmOk =
          AnswerNtlmChallenge(client, url, settings, sink, result, log, progress, answered);
      if (answered) return ntlmOk;
    }
    if (status == 503 && retries < settings.max503Retries) {
      PauseBeforeRetry(settings.retryDelayMs);
      // The busy answer's body must not end up in front of the next answer's.
      if (!sink.clear(log)) return false;
      continue;
    }
    return ok;
  }
}

bool FetchBytes(HttpConnPool& pool, const char* url, HttpControl& settings, DataBuffer& out,
                HttpResult& result, LogBase& log, ProgressMonitor* progress) {
  ParsedUrl parsed;
  if (url == nullptr || !ParseUrl(url, parsed)) {
    log.addError("Failed to parse URL");
    log.addTag("url", url ? url : "");
    return false;
  }
  HttpClient* client = pool.GetClient(parsed.host.getString(), parsed.port, settings, log);
  if (client == nullptr) {
    log.addError("Out of memory");
    return false;
  }

  // Credentials in the URL serve this fetch's requests to the URL's host only; the settings
  // stay untouched.
  UrlCredentialsScope credentials(*client);
  if (!credentials.bind(parsed)) {
    log.addError("Out of memory");
    return false;
  }
  OutputDataBuffer sink(out);
  return FetchWithRetry(*client, url, settings, sink, result, log, progress);
}

bool FetchText(HttpConnPool& pool, const char* url, HttpControl& settings, StringBuffer& text,
               HttpResult& result, LogBase& log, ProgressMonitor* progress) {
  DataBuffer body;
  if (!FetchBytes(pool, url, settings, body, result, log, progress)) return false;
  if (body.isEmpty()) return true;
  if (!DecodeTextBody(result, body, text)) {
    log.addError("Out of memory");
    return false;
  }
  return true;
}

}  // namespace quillon
