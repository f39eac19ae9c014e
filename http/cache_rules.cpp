#include "http/cache_rules.h"

#include <cstdlib>
#include <cstring>

#include "base/ascii.h"
#include "base/log_base.h"
#include "base/output.h"
#include "base/charset/text_conversion.h"
#include "http/cache_file.h"
#include "http/date_parser.h"
#include "http/http_control.h"
#include "http/http_result.h"

namespace quillon {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// The default freshness is never shorter than this.
constexpr double kMinFreshnessSeconds = 600.0;
// The entry data of the ClsCache2 store must be longer than this.
constexpr uint32_t kMinEntryData = 20;
// Cache-Control directives that keep a response out of the one-file store wherever they stand
// in the list, with or without a value (`private="Set-Cookie"` counts as private).
constexpr std::string_view kForbiddingDirectives[] = {"no-store", "no-cache", "private"};
// Whole Cache-Control values (spaces removed, any case) that keep it out as well.
constexpr const char* kForbiddingValues[] = {"max-age=0", "s-maxage=0"};

double AddSeconds(double dayCount, double seconds) {
  double result = dayCount + seconds / kSecondsPerDay;
  // Out-of-range counts would turn into "now" when converted back.
  if (result >= DateParser::kMaxDayCount) result = DateParser::kMaxDayCount - 1;
  if (result <= DateParser::kMinDayCount) result = DateParser::kMinDayCount + 1;
  return result;
}

SystemTime ShiftMinutes(const SystemTime& time, int minutes) {
  double dayCount = 0;
  if (!DateParser::CalendarToDayCount(time, dayCount)) return time;
  return DateParser::DayCountToCalendar(AddSeconds(dayCount, minutes * 60.0));
}

bool FieldText(const HttpResponseHeader& header, const char* name, StringBuffer& value) {
  value.clear();
  if (!header.getField(name, value)) return false;
  value.trim();
  return !value.isEmpty();
}

// A header date converted from UTC to local time; false when the field is missing or unreadable.
bool LocalFieldDate(const HttpResponseHeader& header, const char* name, int biasMinutes,
                    SystemTime& out) {
  StringBuffer value;
  SystemTime utc;
  if (!FieldText(header, name, value) || !DateParser::ParseHttpDate(value.getString(), utc)) {
    return false;
  }
  out = ShiftMinutes(utc, -biasMinutes);
  return true;
}

bool LogDate(LogBase& log, const char* name, const SystemTime& time) {
  StringBuffer text;
  return DateParser::FormatRequestDate(time, text) && log.addTag(name, text.getString());
}

bool SetsCookies(const HttpResponseHeader& header) {
  return header.fields.hasField("Set-Cookie") || header.fields.hasField("Set-Cookie2");
}

// A 401 or 407 asks for credentials. Kept, it would answer the login retry in place of the
// server: the credentials would never reach it, and one wrong password would spoil later runs.
bool IsLoginChallenge(int status) { return status == 401 || status == 407; }

// With --revalidate every cached page is asked about, fresh or stale, so that a re-crawl shows
// the site as it is now; the same switch makes every template send the conditional lines.
bool RevalidatesEveryEntry(const HttpControl& settings) {
  return settings.revalidateInEveryTemplate;
}

// Whether one Cache-Control value names the directive (RFC 9111 5.2: a comma-separated list
// of name or name=value; a comma inside a quoted value does not end the directive).
bool ListHasDirective(std::string_view list, std::string_view wanted) {
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i <= list.size(); ++i) {
    if (i < list.size()) {
      const char c = list[i];
      if (quoted && c == '\\' && i + 1 < list.size()) {
        ++i;
        continue;
      }
      if (c == '"') quoted = !quoted;
      if (c != ',' || quoted) continue;
    }
    const std::string_view directive = list.substr(start, i - start);
    if (EqualsNoCase(Trimmed(directive.substr(0, directive.find('='))), wanted)) return true;
    start = i + 1;
  }
  return false;
}

// Whether any Cache-Control field of the header names the directive.
bool HasCacheDirective(const HttpResponseHeader& header, std::string_view wanted) {
  for (int i = 0; i < header.fields.count(); ++i) {
    const MimeField* field = header.fields.fieldAt(i);
    if (EqualsNoCase(field->name.view(), "Cache-Control") &&
        ListHasDirective(field->value.view(), wanted)) {
      return true;
    }
  }
  return false;
}

bool ForbiddenByCacheControl(const HttpResponseHeader& header) {
  for (std::string_view directive : kForbiddingDirectives) {
    if (HasCacheDirective(header, directive)) return true;
  }
  StringBuffer value;
  if (!header.getField("Cache-Control", value)) return false;
  value.removeChar(' ');
  for (const char* whole : kForbiddingValues) {
    if (value.equalsIgnoreCase(whole)) return true;
  }
  return false;
}

// Whether Cache-Control, Pragma or Expires keep the response out of the ClsCache2 store (logged).
bool ForbiddenByHeaders(const HttpResponseHeader& header, LogBase& log) {
  if (ForbiddenByCacheControl(header)) {
    log.addError("Not updating cache because of cache-control directive");
    return true;
  }
  StringBuffer value;
  if (header.getField("Pragma", value)) {
    value.removeChar(' ');
    if (value.equalsIgnoreCase("no-cache")) {
      log.addError("Not updating cache because of no-cache pragma");
      return true;
    }
  }
  if (FieldText(header, "Expires", value) && value.equals("0")) {
    log.addError("Not updating cache because of Expires=0 header");
    return true;
  }
  return false;
}

// Status line, CR LF and the fields; in the charset of Content-Type when convertCharset.
bool BuildHeadText(const HttpResult& result, bool convertCharset, DataBuffer& head) {
  StringBuffer text;
  if (!text.append(result.header.statusLine) || !text.append("\r\n") ||
      !result.header.renderFields(text)) {
    return false;
  }
  head.clear();
  StringBuffer charset;
  const int codePage = convertCharset && CharsetOfResponse(result, charset)
                           ? CodePageForCharsetName(charset.getString())
                           : 0;
  if (codePage != 0 && codePage != kCodePageUtf8 &&
      ConvertCodePage(kCodePageUtf8, codePage, text.getString(), text.length(), head)) {
    return true;
  }
  head.clear();
  return head.append(text.view());
}

// The conditional date of a stale entry: its Last-Modified, else its Date, as sent (UTC). A
// server compares If-Modified-Since with its own Last-Modified, so the entry's old expiry or a
// local time would make a changed page look unchanged.
SystemTime ConditionalDate(const HttpResponseHeader& cached) {
  StringBuffer value;
  for (const char* name : {"Last-Modified", "Date"}) {
    SystemTime date{};
    if (FieldText(cached, name, value) && DateParser::ParseHttpDate(value.getString(), date)) {
      return date;
    }
  }
  return SystemTime{};
}

// Parses a stored head into outcome.cachedHeader. False when it cannot be parsed, or when it is
// a login challenge kept by an older build: such an entry is a miss (logged).
bool ParseStoredHead(std::string_view head, CacheLookupOutcome& outcome, LogBase& log) {
  if (!outcome.cachedHeader.parse(head)) return false;
  if (!IsLoginChallenge(outcome.cachedHeader.statusCode)) return true;
  log.addInfo("Not using a cached answer that asks for a login.");
  outcome.cachedHeader.reset();
  return false;
}

// Keeps the entry (head already in outcome.cachedHeader) for the conditional request, which
// carries etag when it is not empty, else the entry's Last-Modified or Date.
bool KeepForRevalidation(std::string_view etag, std::string_view body,
                         CacheLookupOutcome& outcome) {
  if (!outcome.etag.assign(etag) || !outcome.cachedBody.append(body)) return false;
  outcome.revalidate = true;
  outcome.conditionalDate = ConditionalDate(outcome.cachedHeader);
  return true;
}

// Answers from the entry: its head into the result, its body into the sink.
bool AnswerFromEntry(std::string_view body, Output& sink, HttpResult& result,
                     CacheLookupOutcome& outcome, LogBase& log) {
  if (!result.header.copyFrom(outcome.cachedHeader) ||
      !sink.writeBytes(reinterpret_cast<const uint8_t*>(body.data()),
                       static_cast<uint32_t>(body.size()), log)) {
    return false;
  }
  outcome.fresh = true;
  return true;
}

bool LookUpClsCache2(HttpControl& settings, const char* url, Output& sink, HttpResult& result,
                     CacheLookupOutcome& outcome, LogBase& log) {
  ClsCache2& cache = settings.cache;
  DataBuffer data;
  if (!settings.cacheRules.readFromCache || !cache.LoadEntry(url, data) ||
      data.length() <= kMinEntryData) {
    return false;
  }
  const uint32_t headEnd = GetLe32(data.data());
  if (headEnd < 4 || headEnd > data.length() - 4) {
    log.addError("Bad offset in cache file");
    log.addTagInt64("offset", headEnd);
    log.addTagInt64("dbSize", data.length());
    return false;
  }
  const std::string_view head = data.view().substr(4, headEnd - 4);
  const std::string_view body = data.view().substr(headEnd);
  if (!ParseStoredHead(head, outcome, log)) return false;
  if (cache.IsExpired()) {
    log.addError("Cache entry expired.");
    if (!KeepForRevalidation(cache.loadedEtag().view(), body, outcome)) return false;
    log.addTag("ExpiredEtag", outcome.etag.getString());
    LogDate(log, "ExpiredDateTime", DateParser::DayCountToCalendar(cache.loadedExpiry()));
  } else if (RevalidatesEveryEntry(settings)) {
    log.addInfo("Revalidating a fresh cache entry.");
    if (!KeepForRevalidation(cache.loadedEtag().view(), body, outcome)) return false;
  } else if (!AnswerFromEntry(body, sink, result, outcome, log)) {
    return false;
  }
  outcome.found = true;
  result.cacheState = 1;
  log.addError("Cache hit.");
  return outcome.fresh;
}

bool LookUpHttpCache(HttpControl& settings, const char* url, Output& sink, HttpResult& result,
                     CacheLookupOutcome& outcome, LogBase& log) {
  const CacheControl& rules = settings.cacheRules;
  if ((!rules.readFromCache && !rules.writeToCache) || !settings.httpCache.hasRoots()) {
    return false;
  }
  CacheEntry entry;
  switch (settings.httpCache.Find(url, entry, log)) {
    case CacheFind::kNone:
      return false;
    case CacheFind::kNegative:
      outcome.negative = true;
      result.cacheState = 2;
      if (!rules.quietNegative && rules.readFromCache) {
        log.addError("Found negative cache entry.");
        log.addTag("url", url);
      }
      return false;
    case CacheFind::kPositive:
      break;
  }
  if (!ParseStoredHead(entry.head.view(), outcome, log)) return false;
  outcome.found = true;
  result.cacheState = 1;
  if (!rules.readFromCache) return false;
  // Entries of this store never go stale: only --revalidate asks the server about them.
  if (RevalidatesEveryEntry(settings)) {
    StringBuffer etag;
    FieldText(outcome.cachedHeader, "ETag", etag);
    log.addInfo("Revalidating a fresh cache entry.");
    // Not kept (out of memory), the request simply goes out unconditional.
    KeepForRevalidation(etag.view(), entry.body.view(), outcome);
    return false;
  }
  if (!AnswerFromEntry(entry.body.view(), sink, result, outcome, log)) return false;
  const int status = result.header.statusCode;
  outcome.followRedirect = status == 301 || status == 302;
  return true;
}

// The kept entry's head into the result and its body into the emptied sink, after a 304.
bool PutBackCachedEntry(CacheLookupOutcome& outcome, HttpResult& result, Output& sink,
                        LogBase& log) {
  if (!result.header.copyFrom(outcome.cachedHeader) || !sink.clear(log) ||
      !sink.writeBytes(outcome.cachedBody.data(), outcome.cachedBody.length(), log)) {
    return false;
  }
  result.fromCache = true;
  return true;
}

// False only when an entry was due and could not be written.
bool UpdateClsCache2(HttpControl& settings, const char* url, const HttpResult& result,
                     std::string_view body, LogBase& log) {
  const HttpResponseHeader& header = result.header;
  if (header.statusCode == 304) return true;
  if (header.statusCode != 200) {
    log.addTagInt("statusCode", header.statusCode);
    return true;
  }
  if (!settings.cacheRules.ignoreNoCache && ForbiddenByHeaders(header, log)) return true;

  log.addTag("UrlToCache", url);
  StringBuffer etag;
  header.getField("ETag", etag);
  const SystemTime expiry = ComputeExpiry(settings, header);
  LogDate(log, "NewExpireTime", expiry);
  log.addTag("Etag", etag.getString());

  // Entry data: E = 4 + head length, the head text, the body.
  DataBuffer head;
  DataBuffer entry;
  const bool built = BuildHeadText(result, true, head);
  const bool fits = uint64_t{4} + head.length() + body.size() <= ClsCache2::kMaxEntryData;
  uint8_t headEnd[4];
  PutLe32(headEnd, 4 + head.length());
  if (!built || !fits || !entry.reserve(4 + head.length() + static_cast<uint32_t>(body.size())) ||
      !entry.append(headEnd, 4) || !entry.append(head) || !entry.append(body)) {
    if (!fits) log.addError("Cache entry too large");
    log.addError("Cache not updated.");
    return !built || !fits;
  }
  return settings.cache.rootCount() == 0 ||
         settings.cache.SaveToCache2(url, expiry, etag.getString(), entry, log);
}

// False only when an entry was due and could not be written.
bool UpdateHttpCache(HttpControl& settings, const char* url, const HttpResult& result,
                     std::string_view body, LogBase& log) {
  const int status = result.header.statusCode;
  // A 304 answers a conditional request: the entry it confirms stays as it is.
  if (!settings.httpCache.hasRoots() || status < 200 || status > 499 || status == 304) {
    return true;
  }
  if (IsLoginChallenge(status)) {
    log.addInfo("Not updating cache because the answer asks for a login");
    return true;
  }
  if (!settings.cacheRules.ignoreNoCache && HasCacheDirective(result.header, "no-store")) {
    log.addError("Not updating cache because of cache-control directive");
    return true;
  }
  DataBuffer head;
  if (!BuildHeadText(result, false, head)) return false;
  HttpCache& store = settings.httpCache;
  return store.Contains(url, log) ? store.Replace(url, head.view(), body, false, log)
                                  : store.Add(url, head.view(), body, false, log);
}

}  // namespace

SystemTime ComputeExpiry(const CacheControl& rules, const HttpResponseHeader& header,
                         const SystemTime& nowLocal, int biasMinutes) {
  SystemTime expires;
  if (LocalFieldDate(header, "Expires", biasMinutes, expires)) return expires;

  double now = 0;
  DateParser::CalendarToDayCount(nowLocal, now);
  StringBuffer maxAge;
  if (header.getAttribute("Cache-Control", "max-age", maxAge) && !maxAge.isEmpty()) {
    const long long seconds = std::strtoll(maxAge.getString(), nullptr, 10);
    if (seconds != 0)
      return DateParser::DayCountToCalendar(AddSeconds(now, static_cast<double>(seconds)));
  }

  StringBuffer value;
  SystemTime modified;
  double modifiedDay = 0;
  if (rules.lastModifiedHeuristic == 1 && FieldText(header, "Last-Modified", value) &&
      DateParser::ParseHttpDate(value.getString(), modified) &&
      DateParser::CalendarToDayCount(modified, modifiedDay) && modifiedDay < now) {
    const double share = rules.lastModifiedPercent / 100.0;
    return DateParser::DayCountToCalendar(
        AddSeconds(now, share * (now - modifiedDay) * kSecondsPerDay));
  }

  double seconds = rules.defaultFreshnessMinutes * 60.0;
  if (seconds < kMinFreshnessSeconds) seconds = kMinFreshnessSeconds;
  return DateParser::DayCountToCalendar(AddSeconds(now, seconds));
}

SystemTime ComputeExpiry(const HttpControl& settings, const HttpResponseHeader& header) {
  return ComputeExpiry(settings.cacheRules, header, LocalTimeNow(), TimeZoneBiasMinutes());
}

bool CacheLookup(HttpControl& settings, const char* url, Output& sink, HttpResult& result,
                 CacheLookupOutcome& outcome, LogBase& log) {
  if (url == nullptr) return false;
  return settings.useHttpCache ? LookUpHttpCache(settings, url, sink, result, outcome, log)
                               : LookUpClsCache2(settings, url, sink, result, outcome, log);
}

bool CacheUpdate(HttpControl& settings, const char* url, const HttpResult& result,
                 std::string_view body, LogBase& log) {
  if (url == nullptr || !settings.cacheRules.writeToCache) return true;
  if (SetsCookies(result.header)) {
    log.addInfo("Not updating cache because the response sets cookies");
    return true;
  }
  return settings.useHttpCache ? UpdateHttpCache(settings, url, result, body, log)
                               : UpdateClsCache2(settings, url, result, body, log);
}

bool CacheRestoreAfter304(HttpControl& settings, const char* url, CacheLookupOutcome& outcome,
                          HttpResult& result, Output& sink, LogBase& log) {
  if (settings.useHttpCache) {
    // Entries of the container store carry no expiry: the entry is used as it is.
    log.addInfo("Cache entry unchanged on the server.");
    return PutBackCachedEntry(outcome, result, sink, log);
  }
  log.addError("Updating cache entry with new expiration.");
  // The freshness comes from the 304's own fields (RFC 9111 4.3.4): the stored ones already
  // made the entry stale.
  const SystemTime expiry = ComputeExpiry(settings, result.header);
  if (!PutBackCachedEntry(outcome, result, sink, log)) return false;
  settings.cache.UpdateExpiry(url, expiry, log);
  LogDate(log, "NewExpiration", expiry);
  return true;
}

void RecordNegative(HttpControl& settings, const char* url, const HttpResponseHeader& header,
                    std::string_view body, LogBase& log) {
  if (url == nullptr || !settings.useHttpCache || !settings.cacheRules.writeToCache ||
      !settings.httpCache.hasRoots()) {
    return;
  }
  StringBuffer head;
  if (!header.renderFields(head)) return;
  HttpCache& store = settings.httpCache;
  if (store.Contains(url, log)) {
    store.Replace(url, head.view(), body, true, log);
  } else {
    store.Add(url, head.view(), body, true, log);
  }
}

void RecordNegative(HttpControl& settings, const char* url, const HttpResponseHeader& header,
                    Output& sink, uint64_t bodyStart, LogBase& log) {
  if (url == nullptr || !settings.useHttpCache || !settings.cacheRules.writeToCache ||
      !settings.httpCache.hasRoots()) {
    return;
  }
  DataBuffer copy;
  std::string_view body;
  LogNull quiet;  // a body that cannot be read back is recorded empty: nothing fails
  SinkBytesFrom(sink, bodyStart, copy, body, quiet);
  RecordNegative(settings, url, header, body, log);
}

bool SinkBytesFrom(Output& sink, uint64_t start, DataBuffer& copy, std::string_view& bytes,
                   LogBase& log) {
  bytes = {};
  const uint64_t size = sink.size();
  // A gzip body decoded in place replaces everything the sink held.
  if (start > size) start = 0;
  if (size - start > ClsCache2::kMaxEntryData) {
    log.addInfo("The body is larger than a cache entry may be.");
    return false;
  }
  const DataBuffer* held = sink.dataBuffer();
  if (held == nullptr) {
    if (!sink.copyTo(copy, log) || copy.length() != size) return false;
    held = &copy;
  }
  bytes = held->view().substr(static_cast<size_t>(start));
  return true;
}

bool IsDnsMarkedInvalid(HttpControl& settings, const char* host, LogBase& log) {
  bool invalid = false;
  return settings.useHttpCache && settings.httpCache.hasRoots() &&
         settings.httpCache.IsDnsMarkedInvalid(host, invalid, log) && invalid;
}

void NoteConnectOutcome(HttpControl& settings, const char* host, ConnectOutcome outcome,
                        DnsMark before, LogBase& log) {
  if (!settings.useHttpCache || !settings.httpCache.hasRoots() ||
      !settings.cacheRules.writeToCache) {
    return;
  }
  if (outcome == ConnectOutcome::kNameNotResolved) {
    settings.httpCache.MarkDnsInvalid(host, log);
  } else if (before == DnsMark::kMarkedInvalid) {
    settings.httpCache.MarkDnsValid(host, log);
  }
}

}  // namespace quillon
