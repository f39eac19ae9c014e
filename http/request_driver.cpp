#include "http/request_driver.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/log_base.h"
#include "base/output.h"
#include "base/platform.h"
#include "base/progress.h"
#include "http/cache_rules.h"
#include "http/client_certificate_answer.h"
#include "http/cookie_mgr.h"
#include "http/date_parser.h"
#include "http/http_client.h"
#include "http/http_conn_pool.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/ntlm_auth.h"
#include "http/output.h"
#include "http/parse_url.h"
#include "http/redirect.h"
#include "http/request_builder.h"
#include "http/response_reader.h"
#include "net/byte_stream.h"
#include "net/quillon_socket.h"
#include "net/schannel.h"

namespace quillon {

namespace {

// ---- Authentication: which 401 answers the NTLM exchange or a Basic retry takes up.

// Whether a 401 is one the NTLM exchange answers (it then logs no status lines).
bool NtlmWillAnswer(const HttpControl& settings, const BasicCredentials& credentials,
                    const HttpResult& result) {
  return result.header.statusCode == 401 && settings.ntlmEnabled && *credentials.login != '\0' &&
         *credentials.password != '\0';
}
// Whether a WWW-Authenticate field of the answer, trimmed and lower-cased, passes offered.
template <typename Offered>
bool AuthenticateFieldOffers(const HttpResponseHeader& header, Offered offered) {
  StringBuffer value;
  for (int i = 0; i < header.fields.count(); ++i) {
    const MimeField* field = header.fields.fieldAt(i);
    if (!field->name.equalsIgnoreCase("WWW-Authenticate")) continue;
    value.assign(field->value);
    value.trim();
    value.toLowerCase();
    if (offered(value.view())) return true;
  }
  return false;
}
// Whether a WWW-Authenticate field of the answer is exactly "NTLM" (any case).
bool OffersOnlyNtlm(const HttpResponseHeader& header) {
  return AuthenticateFieldOffers(header, [](std::string_view v) { return v == "ntlm"; });
}
// Whether a WWW-Authenticate field of the answer offers Basic.
bool OffersBasic(const HttpResponseHeader& header) {
  return AuthenticateFieldOffers(
      header, [](std::string_view v) { return v == "basic" || v.starts_with("basic "); });
}
// With NTLM enabled no request carries Basic credentials; a server that asks for Basic only
// gets the request once more with them.
bool AnswerBasicChallenge(HttpClient& client, const char* url, HttpControl& settings,
                          Output& sink, HttpResult& result, LogBase& log,
                          ProgressMonitor* progress) {
  log.addInfo("The server asks for Basic authentication; sending the request with the login.");
  if (!sink.clear(log)) return false;
  settings.ntlmEnabled = false;
  result.reset();
  const bool ok = DriveRequest(client, url, 0, ConnectionUse::kPooled, settings, sink, result,
                               log, progress);
  settings.ntlmEnabled = true;
  return ok;
}
// Answers a 401 that offers NTLM: the login runs into a buffer of its own, whose bytes then
// replace what the sink holds, and its last answer is the result.
bool AnswerNtlmChallenge(HttpClient& client, const char* url,
                         const BasicCredentials& credentials, HttpControl& settings,
                         Output& sink, HttpResult& result, LogBase& log,
                         ProgressMonitor* progress) {
  DataBuffer body;
  const bool ok =
      NtlmAuthenticate(client, url, credentials, settings, body, result, log, progress);
  if (!sink.clear(log) || !sink.writeBytes(body.data(), body.length(), log)) return false;
  return ok;
}

// ---- Helpers

// The credentials a request to url (parsed as target) carries; http/credential_scope.h decides.
RequestCredentials CredentialsFor(HttpClient& client, HttpControl& settings, const char* url,
                                  const ParsedUrl& target) {
  return CredentialsForRequest(settings, client.urlCredentials(), client.fetchOrigin(),
                               target.host.view(), StartsWithNoCase(url, "https:"));
}

BasicCredentials LoginOf(const RequestCredentials& credentials) {
  return {credentials.login, credentials.password};
}

// Binds a fetch's origin and the credentials in its URL to the client for the fetch's length.
class FetchScope {
 public:
  explicit FetchScope(HttpClient& client) : client_(client) {}
  ~FetchScope() {
    client_.urlCredentials().clear();
    client_.fetchOrigin().host.clear();
  }
  FetchScope(const FetchScope&) = delete;
  FetchScope& operator=(const FetchScope&) = delete;

  // False when memory runs out.
  bool bind(const char* url, const ParsedUrl& parsed) {
    FetchOrigin& origin = client_.fetchOrigin();
    origin.tls = StartsWithNoCase(url, "https:");
    if (!origin.host.assign(parsed.host)) return false;
    origin.host.toLowerCase();
    return client_.urlCredentials().take(parsed.host, parsed.user, parsed.password);
  }

 private:
  HttpClient& client_;
};

// The credentials that went with the request whose answer result holds (the last redirect
// target's, when redirected).
BasicCredentials CredentialsForAnswer(HttpClient& client, HttpControl& settings,
                                      const char* url, const HttpResult& result) {
  const char* answered = result.redirected ? result.finalUrl.getString() : url;
  ParsedUrl target;
  if (!ParseUrl(answered, target)) return {};
  return LoginOf(CredentialsFor(client, settings, answered, target));
}

// Waits ms before asking a busy server again, in slices so that a stop is heard meanwhile.
void PauseBeforeRetry(uint32_t ms, uint32_t heartbeatMs, ProgressMonitor* progress) {
  if (ms == 0) return;
  const HttpTestOverrides& o = HttpOverrides();
  if (o.pause != nullptr) {
    o.pause(ms);
    return;
  }
  for (uint32_t waited = 0; waited < ms; waited += kRetryPauseSliceMs) {
    if (progress != nullptr && progress->pollAbort(heartbeatMs)) return;
    SleepMs(ms - waited < kRetryPauseSliceMs ? ms - waited : kRetryPauseSliceMs);
  }
}

// The milliseconds from now until an HTTP date (0 when it is past); false when text is none.
bool MsUntilHttpDate(const char* text, uint64_t& ms) {
  SystemTime when;
  double until = 0;
  double now = 0;
  if (!DateParser::ParseHttpDate(text, when) || !DateParser::CalendarToDayCount(when, until) ||
      !DateParser::CalendarToDayCount(UtcTimeNow(), now)) {
    return false;
  }
  constexpr double kMsPerDay = 86400000.0;
  const double difference = (until - now) * kMsPerDay;
  ms = difference <= 0 ? 0 : difference >= kMaxRetryAfterMs ? kMaxRetryAfterMs
                                                             : static_cast<uint64_t>(difference);
  return true;
}

// How long a busy answer asks to wait: its Retry-After in seconds or as an HTTP date (at most
// kMaxRetryAfterMs; a date already past asks for none), else fallbackMs.
uint32_t RetryDelayMs(const HttpResponseHeader& header, uint32_t fallbackMs) {
  StringBuffer value;
  if (!header.getField("Retry-After", value)) return fallbackMs;
  value.trim();
  const std::string_view text = value.view();
  uint64_t ms = 0;
  if (!text.empty() && text.size() <= 9 &&
      text.find_first_not_of("0123456789") == std::string_view::npos) {
    ms = std::stoull(std::string(text)) * 1000;
  } else if (!MsUntilHttpDate(value.getString(), ms)) {
    return fallbackMs;
  }
  return ms < kMaxRetryAfterMs ? static_cast<uint32_t>(ms) : kMaxRetryAfterMs;
}

// The answer had no status line and does not look like HTML: log what came.
void LogInvalidHead(const DataBuffer& head, LogBase& log) {
  log.addError("Invalid response header received");
  uint32_t shown = head.length() < kInvalidHeadLogBytes ? head.length() : kInvalidHeadLogBytes;
  StringBuffer received;
  received.append(reinterpret_cast<const char*>(head.data()), shown);
  log.addTag("received", received.getString());
}

// Whether the answer's media type (Content-Type up to ";", trimmed) is the required one; logs
// the mismatch.
bool ContentTypeAccepted(const HttpControl& settings, const HttpResponseHeader& header,
                         LogBase& log) {
  if (settings.requiredContentType.isEmpty()) return true;
  StringBuffer received;
  header.getField("Content-Type", received);
  StringBuffer mediaType;
  mediaType.assign(received);
  if (const char* semicolon = std::strchr(mediaType.getString(), ';')) {
    mediaType.shorten(static_cast<uint32_t>(std::strlen(semicolon)));
  }
  mediaType.trim();
  if (mediaType.equalsIgnoreCase(settings.requiredContentType.getString())) return true;
  log.addError("Content-Type does not match the required content type");
  log.addTag("requiredContentType", settings.requiredContentType.getString());
  log.addTag("receivedContentType", received.getString());
  return false;
}

// Where a request goes: the URL's host, and the host and port it connects to (a proxy's when
// one is chosen; the request then goes in plain text with the full URL as target).
struct Route {
  StringBuffer proxyHost;
  int proxyPort = kDefaultHttpPort;
  bool viaProxy = false;
  bool tls = false;
  const char* connectHost = "";
  int connectPort = 0;
};

// The connection one request runs over: the client's pooled one, or one of its own that is
// closed when the request ends.
class Connection {
 public:
  Connection(HttpClient& client, bool tls) : tls_(tls), stream_(&client.stream(tls)) {}
  ~Connection() {
    LogNull quiet;
    if (ownStream_) ownStream_->close(quiet);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Switches to a connection of this request's own; false when memory runs out.
  bool makeOwn() {
    if (tls_) {
      ownChannel_.reset(new (std::nothrow) SChannel);
      if (ownChannel_) ownStream_.reset(new (std::nothrow) ByteStream(*ownChannel_));
    } else {
      ownSocket_.reset(new (std::nothrow) QuillonSocket);
      if (ownSocket_) ownStream_.reset(new (std::nothrow) ByteStream(*ownSocket_));
    }
    if (!ownStream_) return false;
    stream_ = ownStream_.get();
    return true;
  }

  bool tls() const { return tls_; }
  bool own() const { return ownStream_ != nullptr; }
  ByteStream& stream() { return *stream_; }
  QuillonSocket& socket() { return stream_->socket(); }
  bool isOpen() const { return stream_->isOpen(); }
  void close(LogBase& log) { stream_->close(log); }

  // Connects to host and port (the proxy when viaProxy), abortCheckMs as heartbeat, after a
  // reset and the settings' time-outs.
  bool connect(const HttpControl& settings, const char* host, int port, bool viaProxy,
               ClientCertificateUse certificate, LogBase& log, ProgressMonitor* progress,
               bool& dnsFailed) {
    close(log);
    ApplySocketTimeouts(socket(), settings);
    dnsFailed = false;
    log.addTag(viaProxy ? "proxyDomain" : "httpServer", host);
    log.addTagInt("port", port);
    if (tls_) {
      log.addError("Using HTTPS.");
      return ConnectChannel(*stream_->channel(), settings, host, port, certificate, log, progress,
                            dnsFailed);
    }
    return socket().ConnectDispatch(host, port, settings.abortCheckMs, log, dnsFailed,
                                    progress);
  }

 private:
  bool tls_;
  ByteStream* stream_;
  std::unique_ptr<QuillonSocket> ownSocket_;
  std::unique_ptr<SChannel> ownChannel_;
  std::unique_ptr<ByteStream> ownStream_;
};

// The one place where a request's connection is chosen.
enum class ConnectionChoice {
  kReusePooled,  // the pooled connection is open to this target and idle: it carries the request
  kOpenPooled,   // the pooled connection is closed (or no longer usable): it is opened
  kOwn,          // a connection of the request's own, closed when the request ends
};

// depth: 0 for a fetch's own request (and each leg of a login), above 0 after a redirect.
ConnectionChoice ChooseConnection(HttpClient& client, const Route& route, ConnectionUse use,
                                  int depth, LogBase& log) {
  if (use == ConnectionUse::kOwn) return ConnectionChoice::kOwn;
  if (!client.isOpen(route.tls)) return ConnectionChoice::kOpenPooled;
  ByteStream& pooled = client.stream(route.tls);
  LogNull quiet;
  if (!client.isOpenTo(route.tls, route.connectHost, route.connectPort)) {
    // A redirect leaves the pooled connection to another host or port alone. A request of the
    // fetch's own takes it over: the legs of an NTLM login to a redirect's target must share
    // one connection, and the next fetch of the client's own host takes it back.
    if (use == ConnectionUse::kPooled && depth > 0) return ConnectionChoice::kOwn;
    pooled.close(quiet);
    return ConnectionChoice::kOpenPooled;
  }
  if (pooled.isReusable()) return ConnectionChoice::kReusePooled;
  log.addInfo("The kept-alive connection was closed by the server.");
  pooled.close(quiet);
  return ConnectionChoice::kOpenPooled;
}

// One request from URL checks to finished body: each step below is one step of the driver,
// in the order in which they run.
class RequestRun {
 public:
  RequestRun(HttpClient& client, const char* url, int depth, ConnectionUse use,
             HttpControl& settings, Output& sink, HttpResult& result, LogBase& log,
             ProgressMonitor* progress)
      : client_(client), url_(url != nullptr ? url : ""), depth_(depth), use_(use),
        settings_(settings), sink_(sink), result_(result), log_(log), progress_(progress) {}

  bool Drive() {
    StartRequest();
    if (IsAboutBlank()) return SkipAboutBlank();
    if (!CheckUrlLength()) return false;
    if (LookUpCacheEntry()) return AnswerFromCache();
    if (!ParseTarget()) return false;
    ChooseRoute();
    Connection connection(client_, route_.tls);
    connection_ = &connection;
    if (!settings_.composeOnly && !GetConnection()) return false;
    if (!ComposeHead()) return false;
    if (settings_.composeOnly) return settings_.lastComposedRequest.assign(head_);
    const bool ok = SendHead() && ReadAnswers();
    if (ok || !staleConnection_) return ok;
    return RetryOnNewConnection();
  }

 private:
  // ---- Before the request

  // Step 1.
  void StartRequest() {
    log_.addTag("url", url_);
    result_.needsReconnect = false;
    result_.cacheState = 0;
    result_.fromCache = false;
  }

  // Step 2: any URL containing "about:blank" succeeds at once with an empty body.
  bool IsAboutBlank() const {
    StringBuffer lowered;
    if (!lowered.assign(url_)) return false;
    lowered.toLowerCase();
    return lowered.contains("about:blank");
  }
  bool SkipAboutBlank() {
    log_.addError("Skipping about:blank");
    log_.addTag("url", url_);
    return sink_.clear(log_);
  }

  // Step 3.
  bool CheckUrlLength() {
    if (std::strlen(url_) <= settings_.maxUrlLen) return true;
    log_.addError("URL is longer than the maximum allowed length.");
    log_.addTagInt("maxUrlLen", static_cast<int32_t>(settings_.maxUrlLen));
    log_.addTag("url", url_);
    result_.error.limit = settings_.maxUrlLen;
    return result_.error.set(FetchErrorKind::kUrlTooLong);
  }

  // Step 4: true when a fresh cache entry answers the request (its head is in the result, its
  // body in the sink). A stale one makes the request conditional (step 8).
  bool LookUpCacheEntry() {
    return CacheLookup(settings_, url_, sink_, result_, cached_, log_);
  }
  bool AnswerFromCache() {
    result_.fromCache = true;
    // A stored redirect is followed at once, as if the server had just sent it.
    if (!cached_.followRedirect) return true;
    return FollowRedirect(client_, url_, depth_, settings_, sink_, result_, log_, progress_);
  }

  // Step 5.
  bool ParseTarget() {
    // No other scheme is ever turned into an HTTP request (a "file:" or "ftp:" address).
    if (!IsHttpAddress(url_)) {
      log_.addError("Only http and https addresses are fetched.");
      log_.addTag("url", url_);
      return result_.error.set(FetchErrorKind::kAddressUnusable);
    }
    if (!ParseUrl(url_, parsed_)) {
      log_.addError("Failed to parse URL");
      log_.addTag("url", url_);
      return result_.error.set(FetchErrorKind::kAddressUnusable);
    }
    parsed_.host.toLowerCase();
    if (client_.host().isEmpty() && !client_.recordHost(parsed_.host.getString())) {
      return result_.error.set(FetchErrorKind::kOutOfMemory);
    }
    allowed_ = CredentialsFor(client_, settings_, url_, parsed_);
    credentials_ = LoginOf(allowed_);
    return true;
  }

  // Step 6.
  void ChooseRoute() {
    route_.tls = StartsWithNoCase(url_, "https:");
    ChooseProxy(settings_, url_, ProxyPurpose::Request, route_.proxyHost, route_.proxyPort, log_);
    route_.viaProxy = !route_.proxyHost.isEmpty();
    if (route_.viaProxy) route_.tls = false;
    route_.connectHost = route_.viaProxy ? route_.proxyHost.getString() : parsed_.host.getString();
    route_.connectPort = route_.viaProxy ? route_.proxyPort : parsed_.port;
  }

  // Step 7: the pooled connection, reused or opened, or one of the request's own.
  bool GetConnection() {
    dnsMarked_ = IsDnsMarkedInvalid(settings_, parsed_.host.getString(), log_);
    if (dnsMarked_ && settings_.cacheRules.skipFailedDomains) {
      log_.addError("Domain name is marked as invalid in the cache.");
      log_.addTag("domain", parsed_.host.getString());
      result_.error.host.assign(parsed_.host);
      return result_.error.set(FetchErrorKind::kNameNotResolved);
    }
    const bool pooledWasOpen = client_.isOpen(route_.tls);
    switch (ChooseConnection(client_, route_, use_, depth_, log_)) {
      case ConnectionChoice::kReusePooled:
        log_.addError("Using existing connection to web server...");
        reused_ = true;
        return true;
      case ConnectionChoice::kOpenPooled:
        if (!pooledWasOpen) {
          log_.addError("Not yet connected to web server. Need to establish connection.");
        }
        return OpenPooled();
      case ConnectionChoice::kOwn:
        // The pooled connection is open, but to another host or port.
        if (use_ == ConnectionUse::kPooled) {
          log_.addError("Using existing connection to web server...");
        }
        return OpenOwn();
    }
    return false;
  }

  bool OpenPooled() {
    bool dnsFailed = false;
    bool connected;
    {
      CountingSuspended quiet(progress_);
      connected = connection_->connect(settings_, route_.connectHost, route_.connectPort,
                                       route_.viaProxy, CertificateUse(), log_, progress_,
                                       dnsFailed);
    }
    if (!connected) {
      log_.addError(route_.viaProxy ? "Failed to connect to proxy server"
                                    : "Failed to connect to HTTP server.");
      if (dnsFailed) log_.addError("Domain name lookup failed..");
    } else {
      client_.noteOpened(route_.tls, route_.connectHost, route_.connectPort);
      if (use_ == ConnectionUse::kReconnect) {
        log_.addError("New connection established, re-trying GET");
      }
    }
    return AfterConnect(connected, dnsFailed);
  }

  bool OpenOwn() {
    log_.addError("Using new connection...");
    if (!connection_->makeOwn()) {
      log_.addError("Out of memory");
      return result_.error.set(FetchErrorKind::kOutOfMemory);
    }
    StringBuffer host;
    if (!host.assign(route_.connectHost)) return result_.error.set(FetchErrorKind::kOutOfMemory);
    if (const char* q = std::strchr(host.getString(), '?')) {
      host.shorten(static_cast<uint32_t>(std::strlen(q)));
    }
    bool dnsFailed = false;
    bool connected;
    {
      CountingSuspended quiet(progress_);
      connected = connection_->connect(settings_, host.getString(), route_.connectPort,
                                       route_.viaProxy, CertificateUse(), log_, progress_,
                                       dnsFailed);
    }
    if (!connected) {
      log_.addError(route_.viaProxy ? "Failed to connect to proxy server"
                                    : "Failed to connect to HTTP server");
      if (dnsFailed) log_.addError("Domain name lookup failed.");
    }
    return AfterConnect(connected, dnsFailed);
  }

  ClientCertificateUse CertificateUse() const {
    return allowed_.clientCertificate ? ClientCertificateUse::kOffer
                                      : ClientCertificateUse::kWithhold;
  }

  // Steps 7e and 7f for a connection just opened.
  bool AfterConnect(bool connected, bool dnsFailed) {
    const ConnectOutcome outcome = connected   ? ConnectOutcome::kConnected
                                   : dnsFailed ? ConnectOutcome::kNameNotResolved
                                               : ConnectOutcome::kFailed;
    NoteConnectOutcome(settings_, parsed_.host.getString(), outcome,
                       dnsMarked_ ? DnsMark::kMarkedInvalid : DnsMark::kNone, log_);
    if (!connected) {
      SetConnectError(connection_->socket(), connection_->stream().channel(),
                      route_.connectHost, route_.connectPort, route_.viaProxy, result_.error);
      connection_->close(log_);
      return false;
    }
    if (!connection_->isOpen()) {
      log_.addError("Unable to connect to HTTP server.");
      return result_.error.set(FetchErrorKind::kConnectFailed);
    }
    if (!connection_->tls() && !connection_->socket().WaitWritable(kWritableWaitSec, log_)) {
      log_.addError("Socket connection to HTTP server is not writeable.");
      result_.needsReconnect = true;
      return result_.error.set(FetchErrorKind::kSendFailed);
    }
    NoteCertificateWarning();
    return true;
  }

  // A certificate that did not verify only warns (unless verification is required, when the
  // connect failed): the warning goes with the result to whoever shows it.
  void NoteCertificateWarning() {
    const SChannel* channel = connection_->stream().channel();
    if (channel == nullptr || channel->ServerCertVerified()) return;
    result_.warnings.add(FetchWarningKind::kCertificateNotVerified);
    result_.warnings.certificate = channel->ServerCertProblem();
  }

  // Step 8.
  bool ComposeHead() {
    if (parsed_.path.isEmpty() && !parsed_.path.assign("/")) return false;
    RequestParts parts;
    parts.url = url_;
    parts.host = parsed_.host.getString();
    parts.port = parsed_.port;
    parts.path = parsed_.path.getString();
    parts.query = parsed_.query.getString();
    parts.viaProxy = route_.viaProxy;
    parts.conditional = cached_.revalidate;
    parts.etag = cached_.etag.getString();
    parts.conditionalDate = cached_.conditionalDate;
    parts.credentials = &credentials_;
    // The NTLM token goes where the login may go.
    parts.offerNtlm = *credentials_.login != '\0';
    result_.loginOffered = *credentials_.login != '\0' && *credentials_.password != '\0';
    if (ComposeRequest(settings_, parts, result_, head_, log_)) return true;
    log_.addError("Failed to compose the request.");
    if (!settings_.composeOnly) connection_->close(log_);
    return result_.error.set(FetchErrorKind::kAddressUnusable);
  }

  // Step 10.
  bool SendHead() {
    CountingSuspended quiet(progress_);
    if (HttpOverrides().beforeSend != nullptr && !connection_->tls()) {
      HttpOverrides().beforeSend(connection_->socket().SocketFd());
    }
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(head_.getString());
    if (connection_->stream().send(bytes, head_.length(), kSendPiece, settings_.abortCheckMs,
                                   log_, progress_)) {
      return true;
    }
    log_.addError("Failed to send HTTP GET");
    if (reused_) {
      staleConnection_ = true;
    } else {
      result_.needsReconnect = true;
    }
    connection_->close(log_);
    const bool stopped = progress_ != nullptr && progress_->isAborted();
    return result_.error.set(stopped ? FetchErrorKind::kStopped : FetchErrorKind::kSendFailed);
  }

  // A kept-alive connection that the server closed as the request went out, before any byte
  // of the answer: the request goes once more, on a new connection.
  bool RetryOnNewConnection() {
    staleConnection_ = false;
    reused_ = false;
    result_.error.clear();
    log_.addInfo("The kept-alive connection was closed by the server; sending the request again.");
    if (!OpenPooled()) return false;
    return SendHead() && ReadAnswers();
  }

  // ---- The answers: steps 11 to 26, an interim answer going round again

  bool ReadAnswers() {
    bodyStart_ = sink_.size();
    for (int informational = 0;; ++informational) {
      headBytes_.clear();
      if (!ReadHead()) return false;
      if (!ParseHead()) return false;
      const bool savedCookies =
          SaveResponseCookies(settings_, result_, parsed_.host.getString(), log_);
      if (!CheckContentType()) return false;
      LogStatus();
      if (result_.header.statusCode == 0 && !TakeBareHtml()) return RetryInvalidHead();
      if (!ReadBodyStep()) return false;
      if (IsInformational()) {
        if (!SkipInformational(informational)) return false;
        continue;
      }
      if (!DecodeGzipBody(settings_, result_, sink_, log_)) return Close(false);
      if (!CheckBodyLimit()) return false;
      // Responses that set cookies are never cached.
      if (!savedCookies) UpdateCacheStep();
      ReleaseConnection();
      if (IsFollowedRedirect(result_.header.statusCode, result_.verb)) {
        return FollowRedirect(client_, url_, depth_, settings_, sink_, result_, log_, progress_);
      }
      // Step 25: a 304 to a conditional request brings the stale entry back.
      if (result_.header.statusCode == 304 && cached_.revalidate) {
        return CacheRestoreAfter304(settings_, url_, cached_, result_, sink_, log_);
      }
      return true;
    }
  }

  // Step 11. A kept-alive connection that fails before any byte of the answer (the server
  // closed it while it was idle) is stale: Drive sends the request once more.
  bool ReadHead() {
    bool gotHead;
    {
      CountingSuspended quiet(progress_);
      gotHead = ReadResponseHead(connection_->stream(), settings_, result_, headBytes_, log_,
                                 progress_);
    }
    const SocketFlags& flags = result_.socketFlags;
    if (gotHead || !headBytes_.isEmpty() || flags.timedOut || flags.aborted) reused_ = false;
    if (gotHead) return true;
    // A TLS 1.3 server refuses a client certificate with an alert at the first read.
    NoteClientCertificateAlert(connection_->stream().channel(), result_.error);
    staleConnection_ = reused_;
    connection_->close(log_);
    log_.addError("Failed to get response header");
    if (!staleConnection_) RecordNegative(settings_, url_, result_.header, {}, log_);
    return false;
  }

  // Step 12.
  bool ParseHead() {
    StringBuffer logged;
    logged.append("\r\n");
    logged.append(reinterpret_cast<const char*>(headBytes_.data()), headBytes_.length());
    log_.addTag("responseHeader", logged.getString());
    if (result_.header.parse(headBytes_.view())) return true;
    if (result_.header.contentLengthInvalid) {
      log_.addError("Content-Length is not a number that fits 64 bits.");
    }
    result_.error.set(FetchErrorKind::kHeadInvalid);
    return Close(false);
  }

  // Step 14.
  bool CheckContentType() {
    if (ContentTypeAccepted(settings_, result_.header, log_)) return true;
    result_.error.set(FetchErrorKind::kContentTypeRefused);
    return Close(false);
  }

  // Step 15.
  void LogStatus() {
    if (NtlmWillAnswer(settings_, credentials_, result_)) return;
    log_.addTagInt("StatusCode", result_.header.statusCode);
    log_.addTag("StatusText", result_.header.reasonText.getString());
  }

  // Step 16: an answer without a status line is a page when it looks like HTML; the bytes
  // read so far start its body.
  bool TakeBareHtml() {
    const uint32_t probe = headBytes_.length() < HttpResponseHeader::kBareHtmlProbe
                               ? headBytes_.length()
                               : HttpResponseHeader::kBareHtmlProbe;
    if (!HttpResponseHeader::LooksLikeBareHtml(headBytes_.view().substr(0, probe))) return false;
    result_.header.markBareHtml();
    bareHtml_ = true;
    return true;
  }

  // Step 16, otherwise: asked again on a connection of its own while the depth allows.
  bool RetryInvalidHead() {
    LogInvalidHead(headBytes_, log_);
    connection_->close(log_);
    if (depth_ > kMaxInvalidHeadDepth) return result_.error.set(FetchErrorKind::kHeadInvalid);
    const bool ok = DriveRequest(client_, url_, depth_ + 1, ConnectionUse::kOwn, settings_,
                                 sink_, result_, log_, progress_);
    if (!ok) RecordNegative(settings_, url_, result_.header, sink_, bodyStart_, log_);
    return ok;
  }

  // Steps 17 and 18.
  bool ReadBodyStep() {
    if (result_.header.contentLength != 0 && progress_ != nullptr) {
      progress_->resetTotal64(static_cast<int64_t>(result_.header.contentLength));
    }
    if (bareHtml_ && !sink_.writeBytes(headBytes_.data(), headBytes_.length(), log_)) {
      result_.error.set(FetchErrorKind::kFailed);
      return Close(false);
    }
    if (ReadBody(settings_, result_, sink_, connection_->stream(), log_, progress_)) return true;
    if (result_.bodyDropped) {
      ReleaseConnection();
      return false;
    }
    if (progress_ != nullptr && progress_->isAborted()) {
      log_.addError("Application aborted HTTP GET in event callback.");
    } else {
      log_.addError(connection_->tls() ? "Failed to fetch response data on SSL connection."
                                       : "Failed to fetch response data on non-SSL connection.");
    }
    return Close(false);
  }

  // Step 24: an interim answer (100 Continue and the other 1xx) comes before the real one on
  // the same connection; at most ten are skipped.
  bool IsInformational() const {
    return result_.header.statusCode >= 100 && result_.header.statusCode < 200;
  }
  bool SkipInformational(int skipped) {
    if (skipped < kMaxInformationalHeads) return true;
    log_.addError("Too many informational responses.");
    log_.addTagInt("maxInformational", kMaxInformationalHeads);
    result_.error.set(FetchErrorKind::kHeadInvalid);
    return Close(false);
  }

  // Step 20.
  bool CheckBodyLimit() {
    if (settings_.maxContentLength == 0 ||
        sink_.size() - bodyStart_ <= settings_.maxContentLength) {
      return true;
    }
    log_.addError("Content length more than the maximum allowed...");
    log_.addTagInt64("maxContentLength", static_cast<int64_t>(settings_.maxContentLength));
    result_.error.limit = settings_.maxContentLength;
    result_.error.set(FetchErrorKind::kBodyTooLarge);
    return Close(false);
  }

  // Step 21: this response's body alone (the sink from bodyStart_ on) goes into the cache.
  void UpdateCacheStep() {
    DataBuffer copy;
    std::string_view body;
    if (!SinkBytesFrom(sink_, bodyStart_, copy, body, log_)) {
      log_.addInfo("The body could not be read back for the cache.");
      return;
    }
    if (!CacheUpdate(settings_, url_, result_, body, log_)) {
      result_.warnings.add(FetchWarningKind::kCacheNotWritten);
    }
  }

  // Step 22: the pooled connection stays open for the next request unless the server said
  // "Connection: close" or left bytes after the answer; a connection of the request's own is
  // closed.
  void ReleaseConnection() {
    if (connection_->own()) {
      connection_->close(log_);
      return;
    }
    StringBuffer connectionField;
    result_.header.getField("Connection", connectionField);
    connectionField.trim();
    if (connectionField.equalsIgnoreCase("close")) {
      log_.addError("Got connection:close header");
      connection_->close(log_);
    } else if (connection_->stream().size() != 0) {
      LogNull quiet;
      connection_->close(quiet);
    }
  }

  bool Close(bool outcome) {
    connection_->close(log_);
    return outcome;
  }

  HttpClient& client_;
  const char* url_;
  int depth_;
  ConnectionUse use_;
  HttpControl& settings_;
  Output& sink_;
  HttpResult& result_;
  LogBase& log_;
  ProgressMonitor* progress_;

  CacheLookupOutcome cached_;
  ParsedUrl parsed_;
  RequestCredentials allowed_;
  BasicCredentials credentials_;
  Route route_;
  Connection* connection_ = nullptr;
  bool dnsMarked_ = false;        // the cache remembers the host as one that did not resolve
  bool reused_ = false;           // the request went out on a kept-alive connection
  bool staleConnection_ = false;  // ... and that connection failed before any answer byte
  StringBuffer head_;
  DataBuffer headBytes_;
  bool bareHtml_ = false;
  uint64_t bodyStart_ = 0;
};

}  // namespace

bool DriveRequest(HttpClient& client, const char* url, int depth, ConnectionUse use,
                  HttpControl& settings, Output& sink, HttpResult& result, LogBase& log,
                  ProgressMonitor* progress) {
  RequestRun run(client, url, depth, use, settings, sink, result, log, progress);
  return run.Drive();
}

namespace {

// One fetch with its retries, as named steps: the attempt, the reconnect after a send that
// failed on a new connection, the answer to a login challenge, and the asks again after 503.
class FetchRun {
 public:
  FetchRun(HttpClient& client, const char* url, HttpControl& settings, Output& sink,
           HttpResult& result, LogBase& log, ProgressMonitor* progress)
      : client_(client), url_(url), settings_(settings), sink_(sink), result_(result), log_(log),
        progress_(progress) {}

  bool Run() {
    for (uint32_t busyRetries = 0;; ++busyRetries) {
      bool ok = Attempt();
      if (!ok && Stopped()) return false;
      if (!ok && result_.needsReconnect) ok = Reconnect();
      if (ChallengeAnswered()) return AnswerChallenge();
      if (!Busy(busyRetries)) return ok;
      PauseBeforeRetry(RetryDelayMs(result_.header, settings_.retryDelayMs),
                       settings_.abortCheckMs, progress_);
      if (Stopped()) return false;
      // The busy answer's body must not end up in front of the next answer's.
      if (!sink_.clear(log_)) return false;
    }
  }

 private:
  bool Attempt() {
    result_.reset();
    const bool ok = DriveRequest(client_, url_, 0, ConnectionUse::kPooled, settings_, sink_,
                                 result_, log_, progress_);
    if (IsBusyStatus(result_.header.statusCode)) ++busyAnswers_;
    result_.busyAnswers = busyAnswers_;
    return ok;
  }

  // A stop ends the fetch whatever the attempt's own failure was.
  bool Stopped() {
    if (progress_ == nullptr || !progress_->isAborted()) return false;
    log_.addError("Application aborted HTTP operation...");
    result_.error.clear();
    result_.error.set(FetchErrorKind::kStopped);
    return true;
  }

  // A send that failed on a new connection: once more on a connection opened anew, to the
  // redirect target when the failure came there (the result keeps saying it was redirected).
  bool Reconnect() {
    log_.addError("Socket not writeable, re-opening connection with HTTP server (3)");
    client_.CloseClientConnection(log_);
    StringBuffer target;
    if (!target.assign(Answered())) return false;
    result_.error.clear();
    return DriveRequest(client_, target.getString(), 0, ConnectionUse::kReconnect, settings_,
                        sink_, result_, log_, progress_);
  }

  // The URL that was answered (the redirect target's, when redirected): a login goes there.
  const char* Answered() const {
    return result_.redirected ? result_.finalUrl.getString() : url_;
  }

  // Whether the answer is a login challenge this fetch takes up (NTLM, or Basic with NTLM on).
  bool ChallengeAnswered() {
    credentials_ = CredentialsForAnswer(client_, settings_, url_, result_);
    if (!NtlmWillAnswer(settings_, credentials_, result_)) return false;
    ntlm_ = OffersOnlyNtlm(result_.header);
    return ntlm_ || OffersBasic(result_.header);
  }

  bool AnswerChallenge() {
    StringBuffer answered;
    if (!answered.assign(Answered())) return false;
    const bool ok = ntlm_ ? AnswerNtlmChallenge(client_, answered.getString(), credentials_,
                                                settings_, sink_, result_, log_, progress_)
                          : AnswerBasicChallenge(client_, answered.getString(), settings_, sink_,
                                                 result_, log_, progress_);
    // The page came from where the redirect led: its links are relative to there.
    if (!result_.redirected && !answered.equals(url_)) {
      result_.redirected = true;
      if (!result_.finalUrl.assign(answered)) return false;
    }
    return ok;
  }

  // 503 Service Unavailable and 429 Too Many Requests are asked again after a pause.
  static bool IsBusyStatus(int status) { return status == 503 || status == 429; }
  bool Busy(uint32_t retries) const {
    return IsBusyStatus(result_.header.statusCode) && retries < settings_.max503Retries;
  }

  HttpClient& client_;
  const char* url_;
  HttpControl& settings_;
  Output& sink_;
  HttpResult& result_;
  LogBase& log_;
  ProgressMonitor* progress_;
  uint32_t busyAnswers_ = 0;
  BasicCredentials credentials_;
  bool ntlm_ = false;
};

}  // namespace

bool FetchWithRetry(HttpClient& client, const char* url, HttpControl& settings, Output& sink,
                    HttpResult& result, LogBase& log, ProgressMonitor* progress) {
  return FetchRun(client, url, settings, sink, result, log, progress).Run();
}

bool FetchBytes(HttpConnPool& pool, const char* url, HttpControl& settings, DataBuffer& out,
                HttpResult& result, LogBase& log, ProgressMonitor* progress) {
  result.warnings.clear();
  ParsedUrl parsed;
  if (url == nullptr || !ParseUrl(url, parsed)) {
    log.addError("Failed to parse URL");
    log.addTag("url", url ? url : "");
    return result.error.set(FetchErrorKind::kAddressUnusable);
  }
  HttpClient* client = pool.GetClient(parsed.host.getString(), parsed.port, settings, log);
  if (client == nullptr) {
    log.addError("Out of memory");
    return result.error.set(FetchErrorKind::kOutOfMemory);
  }

  // Credentials in the URL serve this fetch's requests to the URL's host only; the settings
  // stay untouched.
  FetchScope scope(*client);
  if (!scope.bind(url, parsed)) {
    log.addError("Out of memory");
    return result.error.set(FetchErrorKind::kOutOfMemory);
  }
  OutputDataBuffer sink(out);
  return FetchWithRetry(*client, url, settings, sink, result, log, progress);
}

bool FetchText(HttpConnPool& pool, const char* url, HttpControl& settings, StringBuffer& text,
               HttpResult& result, LogBase& log, ProgressMonitor* progress) {
  DataBuffer body;
  if (!FetchBytes(pool, url, settings, body, result, log, progress)) return false;
  NoteClientCertificateAnswer(settings, body.view(), result);
  if (body.isEmpty()) return true;
  if (!DecodeTextBody(result, body, text)) {
    log.addError("Out of memory");
    return result.error.set(FetchErrorKind::kOutOfMemory);
  }
  return true;
}

}  // namespace quillon
