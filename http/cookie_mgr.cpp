#include "http/cookie_mgr.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/ascii.h"
#include "base/cls_xml.h"
#include "base/file_access.h"
#include "base/html_help.h"
#include "base/log_base.h"
#include "base/platform.h"
#include "http/http_control.h"
#include "http/http_result.h"

namespace quillon {

namespace {

constexpr char kRootTag[] = "cookies";
constexpr char kCookieTag[] = "cookie";
// The element of a name that is no plain XML name; the name itself is its "name" attribute.
constexpr char kPairTag[] = "pair";
constexpr char kNameAttribute[] = "name";
// The lock file in the cookie folder, held from the read of a document to its write.
constexpr char kLockFileName[] = ".cookies.lock";
// How long a save waits for another run's read and write of the folder; after that it goes on
// without the lock rather than stall the crawl behind a run that hangs.
constexpr uint32_t kLockWaitMs = 5000;

// dir + "/" (unless dir ends with "/" or a backslash) + name.
bool PathInFolder(const StringBuffer& dir, std::string_view name, StringBuffer& path) {
  if (!path.assign(dir)) return false;
  std::string_view folder = path.view();
  if (!folder.ends_with('/') && !folder.ends_with('\\') && !path.append("/")) return false;
  return path.append(name);
}

// The path of host's cookie file in dir.
bool CookieFilePath(const StringBuffer& dir, std::string_view host, StringBuffer& path) {
  StringBuffer name;
  return CookieDocumentName(host, name) && PathInFolder(dir, name.view(), path);
}

// Where host's document lives: the memory table's key or the file's path, as the mode says.
struct DocumentPlace {
  bool memory = false;
  StringBuffer key;  // the table key (memory) or the file path
};

bool FindPlace(const StringBuffer& cookieDir, const char* host, DocumentPlace& place, LogBase& log,
               const char* failure) {
  place.memory = IsMemoryCookieStore(cookieDir);
  bool named = place.memory ? CookieDocumentName(host, place.key)
                            : CookieFilePath(cookieDir, host, place.key);
  if (!named) {
    log.addError(failure);
    log.addTag(place.memory ? "BaseDomain" : "CookieDomain", host);
    return false;
  }
  if (place.memory) log.addTag("HashKey", place.key.getString());
  return true;
}

enum class DocumentState { kMissing, kLoaded, kUnreadable };

// Loads the document at place into xml.
DocumentState LoadDocument(const DocumentPlace& place, const HashMap& memoryCookies, ClsXml& xml) {
  bool loaded = false;
  if (place.memory) {
    auto* text = static_cast<StringBuffer*>(memoryCookies.get(place.key.view()));
    if (text == nullptr) return DocumentState::kMissing;
    loaded = xml.LoadXml(text->getString(), true);
  } else {
    if (!fileExists(place.key.getString())) return DocumentState::kMissing;
    loaded = xml.LoadXmlFile(place.key.getString(), true);
  }
  return loaded ? DocumentState::kLoaded : DocumentState::kUnreadable;
}

bool StoreDocument(const DocumentPlace& place, HashMap& memoryCookies, ClsXml& xml, LogBase& log) {
  if (place.memory) {
    auto* text = new (std::nothrow) StringBuffer;
    if (text == nullptr || !xml.ToXmlText(*text)) {
      delete text;
      return false;
    }
    return memoryCookies.put(place.key.view(), text);
  }
  if (xml.SaveXml(place.key.getString())) return true;
  log.addError("Failed to save cookie jar XML");
  log.addTag("CookieFilename", place.key.getString());
  return false;
}

// A name that can be an element's tag and read back unchanged: an ASCII letter or "_", then
// letters, digits, "-", "." and "_". Other names are kept in an attribute.
bool IsPlainXmlName(std::string_view name) {
  auto starts = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (name.empty() || !starts(name[0])) return false;
  return std::all_of(name.begin(), name.end(), [&starts](char c) {
    return starts(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
  });
}

// One name of a stored cookie; age orders the names for eviction (smaller is older).
struct StoredPair {
  std::string name;
  std::string value;
  bool secure = false;
  uint64_t age = 0;
};

// One "cookie" element: its key (domain + "," + path), its attributes and its names in order.
struct StoredCookie {
  std::string key;
  int version = 0;
  std::string expire;
  int maxAge = 0;
  bool discard = false;
  std::vector<StoredPair> pairs;
  std::unordered_map<std::string, size_t> indexOfName;  // into pairs
};

// A cookie document as plain data, read from and written to its XML form, so that a response's
// cookies are applied in memory and the document is written once. Its containers throw
// std::bad_alloc when memory runs out; the public functions below catch it.
class CookieDocument {
 public:
  // Takes every child of root that names a domain in its key; an element whose key was seen
  // already, and a name seen already in an element, merge into the first (the later value
  // wins). Older files: a name is the tag when there is no "name" attribute, and "secure" on
  // the element covers all its names.
  void Read(ClsXml& root);
  // Sets cookie's attributes and names on the element of its domain and path, made when
  // missing (not for a cookie without names). True when the document changed.
  bool Apply(const Cookie& cookie);
  // Drops the oldest names until at most limit are left, and elements left without names;
  // returns how many names went.
  size_t DropOldest(size_t limit);
  // Builds the document's XML under a fresh root. False when memory runs out.
  bool Write(ClsXml& root) const;
  const std::vector<StoredCookie>& cookies() const { return cookies_; }

 private:
  StoredCookie* Find(std::string_view key);
  void ReadElement(ClsXml& element);
  // Sets name on stored (in place when there, else at the end); a secure mark stays once set.
  bool SetPair(StoredCookie& stored, std::string_view name, std::string_view value, bool secure);

  std::vector<StoredCookie> cookies_;
  uint64_t nextAge_ = 0;
};

// Whether key holds "," with a domain before it: other elements never give a cookie.
bool NamesADomain(std::string_view key) {
  size_t comma = key.find(',');
  return comma != std::string_view::npos && comma > 0;
}

StoredCookie* CookieDocument::Find(std::string_view key) {
  for (StoredCookie& stored : cookies_) {
    if (stored.key == key) return &stored;
  }
  return nullptr;
}

bool CookieDocument::SetPair(StoredCookie& stored, std::string_view name, std::string_view value,
                             bool secure) {
  auto [at, added] = stored.indexOfName.try_emplace(std::string(name), stored.pairs.size());
  if (added) {
    stored.pairs.push_back(StoredPair{std::string(name), std::string(value), secure, nextAge_++});
    return true;
  }
  StoredPair& pair = stored.pairs[at->second];
  const bool changed = pair.value != value || (secure && !pair.secure);
  pair.value = value;
  pair.secure = pair.secure || secure;
  return changed;
}

void CookieDocument::Read(ClsXml& root) {
  for (std::unique_ptr<ClsXml> element = root.FirstChildHandle(); element;) {
    ReadElement(*element);
    if (!element->MoveToNextSibling()) break;
  }
}

void CookieDocument::ReadElement(ClsXml& element) {
  StringBuffer key, text;
  element.AttrText("key", key);
  if (!NamesADomain(key.view())) return;
  StoredCookie* stored = Find(key.view());
  if (stored == nullptr) {
    stored = &cookies_.emplace_back();
    stored->key = key.view();
  }
  stored->version = element.AttrNumber("v");
  if (element.AttrText("expire", text)) stored->expire = text.view();
  stored->maxAge = element.AttrNumber("maxAge");
  stored->discard = element.AttrEquals("discard", "yes");
  const bool elementSecure = element.AttrEquals("secure", "yes");
  StringBuffer name, value;
  for (std::unique_ptr<ClsXml> pair = element.FirstChildHandle(); pair;) {
    if (!pair->AttrText(kNameAttribute, name) || name.isEmpty()) pair->TagText(name);
    pair->ContentText(value);
    SetPair(*stored, name.view(), value.view(), elementSecure || pair->AttrEquals("secure", "yes"));
    if (!pair->MoveToNextSibling()) break;
  }
}

bool CookieDocument::Apply(const Cookie& cookie) {
  std::string key(cookie.domain.view());
  key += ',';
  key += cookie.path.view();
  StoredCookie* stored = Find(key);
  bool changed = false;
  if (stored == nullptr) {
    if (cookie.pairCount() == 0) return false;
    stored = &cookies_.emplace_back();
    stored->key = std::move(key);
    changed = true;
  }
  // Attributes not given this time keep their stored values.
  changed = changed || stored->version != cookie.version;
  stored->version = cookie.version;
  if (!cookie.expire.isEmpty() && stored->expire != cookie.expire.view()) {
    stored->expire = cookie.expire.view();
    changed = true;
  }
  if (cookie.maxAge != 0 && stored->maxAge != cookie.maxAge) {
    stored->maxAge = cookie.maxAge;
    changed = true;
  }
  if (cookie.discard && !stored->discard) {
    stored->discard = true;
    changed = true;
  }
  for (int i = 0; i < cookie.pairCount(); ++i) {
    const StringPair& pair = *cookie.pairAt(i);
    changed = SetPair(*stored, pair.firstText(), pair.secondText(), cookie.secure) || changed;
  }
  return changed;
}

size_t CookieDocument::DropOldest(size_t limit) {
  std::vector<uint64_t> ages;
  for (const StoredCookie& stored : cookies_) {
    for (const StoredPair& pair : stored.pairs) ages.push_back(pair.age);
  }
  if (ages.size() <= limit) return 0;
  const size_t dropped = ages.size() - limit;
  std::nth_element(ages.begin(), ages.begin() + dropped, ages.end());
  const uint64_t firstKept = ages[dropped];  // ages are unique
  for (StoredCookie& stored : cookies_) {
    std::erase_if(stored.pairs,
                  [firstKept](const StoredPair& pair) { return pair.age < firstKept; });
    stored.indexOfName.clear();
    for (size_t i = 0; i < stored.pairs.size(); ++i) stored.indexOfName[stored.pairs[i].name] = i;
  }
  std::erase_if(cookies_, [](const StoredCookie& stored) { return stored.pairs.empty(); });
  return dropped;
}

// The "cookie" element's attributes in the order of the file format.
bool WriteAttributes(const StoredCookie& stored, ClsXml& element) {
  return element.AppendAttr("key", stored.key.c_str()) &&
         element.ReplaceAttr("v", stored.version) &&
         (stored.expire.empty() || element.AppendAttr("expire", stored.expire.c_str())) &&
         (stored.maxAge == 0 || element.ReplaceAttr("maxAge", stored.maxAge)) &&
         (!stored.discard || element.AppendAttr("discard", "yes"));
}

// A name's element: tagged with the name when it is a plain XML name, else tagged "pair" with
// the name in its "name" attribute, so that any name comes back exactly as it was sent.
bool WritePair(const StoredPair& pair, ClsXml& element) {
  const bool plain = IsPlainXmlName(pair.name);
  std::unique_ptr<ClsXml> child =
      element.AppendChildNode(plain ? pair.name.c_str() : kPairTag, pair.value.c_str());
  return child && (plain || child->AppendAttr(kNameAttribute, pair.name.c_str())) &&
         (!pair.secure || child->AppendAttr("secure", "yes"));
}

bool CookieDocument::Write(ClsXml& root) const {
  if (!root.PutTag(kRootTag)) return false;
  for (const StoredCookie& stored : cookies_) {
    if (stored.pairs.empty()) continue;
    std::unique_ptr<ClsXml> element = root.AppendChildNode(kCookieTag, nullptr);
    if (!element || !WriteAttributes(stored, *element)) return false;
    for (const StoredPair& pair : stored.pairs) {
      if (!WritePair(pair, *element)) return false;
    }
  }
  return true;
}

// Takes the cookie folder's lock for one read, change and write; without it (logged) the save
// goes on as it would alone.
UniqueFd LockCookieFolder(const StringBuffer& cookieDir, LogBase& log) {
  StringBuffer path;
  UniqueFd lock;
  if (PathInFolder(cookieDir, kLockFileName, path))
    lock = lockExclusive(path.getString(), kLockWaitMs, log);
  if (!lock.isValid()) log.addError("Saving cookies without the cookie folder's lock.");
  return lock;
}

// One read, change and write of host's document. In file mode the folder's lock is held from
// the read to the end of the edit, so that another run's edit in between is not overwritten.
class DocumentEdit {
 public:
  // Names the document, takes the lock and reads the document (a new one when there is none).
  // False (logged) when host names no document, or its document cannot be read: it is kept as
  // it is rather than replaced by one that lacks its cookies.
  bool Open(const StringBuffer& cookieDir, const HashMap& memoryCookies, const char* host,
            LogBase& log) {
    const char* failure = IsMemoryCookieStore(cookieDir) ? "Failed to get cookie hashkey."
                                                         : "Failed to get cookie filename.";
    if (!FindPlace(cookieDir, host, place_, log, failure)) return false;
    if (!place_.memory) lock_ = LockCookieFolder(cookieDir, log);
    ClsXml xml;
    switch (LoadDocument(place_, memoryCookies, xml)) {
      case DocumentState::kMissing:
        return true;
      case DocumentState::kLoaded:
        document_.Read(xml);
        return true;
      case DocumentState::kUnreadable:
        break;
    }
    log.addError("Failed to load cookie jar XML.");
    log.addTag(place_.memory ? "HashKey" : "CookieFilename", place_.key.getString());
    log.addError("The cookie jar is left as it is; cookies not saved.");
    return false;
  }
  CookieDocument& document() { return document_; }
  // Writes the document back; false (logged) when that fails.
  bool Store(HashMap& memoryCookies, LogBase& log) {
    ClsXml xml;
    return document_.Write(xml) && StoreDocument(place_, memoryCookies, xml, log);
  }

 private:
  DocumentPlace place_;
  UniqueFd lock_;
  CookieDocument document_;
};

// The cookies of cookies whose domain covers host; the others are logged as refused.
std::vector<const Cookie*> CookiesForHost(const StringBuffer& cookieDir, const char* host,
                                          std::span<const Cookie* const> cookies, LogBase& log) {
  std::vector<const Cookie*> accepted;
  for (const Cookie* cookie : cookies) {
    LogContextGuard context(log, "SaveCookie");
    log.addTag("CookieDir", cookieDir.getString());
    log.addTag("Domain", cookie->domain.getString());
    if (CookieDomainCoversHost(cookie->domain.view(), host)) {
      accepted.push_back(cookie);
      continue;
    }
    log.addError("Cookie refused: its Domain attribute does not cover the host.");
    log.addTag("Host", host);
  }
  return accepted;
}

void LogDropped(size_t dropped, LogBase& log) {
  log.addError("Too many cookies for this domain; the oldest were dropped.");
  log.addTagInt("CookieLimit", kMaxCookiesPerDomain);
  log.addTagInt64("CookiesDropped", static_cast<int64_t>(dropped));
}

// A cookie with stored's domain, path and attributes and no names yet; null when memory runs
// out.
std::unique_ptr<Cookie> JarCookie(const StoredCookie& stored, bool secure) {
  const std::string_view key = stored.key;
  const size_t comma = key.find(',');
  std::unique_ptr<Cookie> cookie(new (std::nothrow) Cookie);
  if (!cookie || !cookie->domain.assign(key.substr(0, comma)) ||
      !cookie->path.assign(key.substr(comma + 1)) || !cookie->expire.assign(stored.expire)) {
    return nullptr;
  }
  cookie->version = stored.version;
  cookie->secure = secure;
  if (cookie->version == 1) {
    cookie->maxAge = stored.maxAge;
    cookie->discard = stored.discard;
  }
  return cookie;
}

// Adds stored's names to jar in order: one Cookie per run of names alike in being secure, and
// a new one whenever a Cookie holds Cookie::kMaxPairs, so that every stored name is sent. False
// only when memory runs out.
bool AddStoredCookie(const StoredCookie& stored, CookieJar& jar) {
  std::unique_ptr<Cookie> cookie;
  for (const StoredPair& pair : stored.pairs) {
    if (!cookie || cookie->secure != pair.secure || cookie->pairCount() >= Cookie::kMaxPairs) {
      if (cookie && !jar.add(cookie.release())) return false;
      cookie = JarCookie(stored, pair.secure);
      if (!cookie) return false;
    }
    if (!cookie->setPair(pair.name, pair.value)) return false;
  }
  return !cookie || jar.add(cookie.release());
}

// The jar of document; null when it holds no cookie or memory runs out.
std::unique_ptr<CookieJar> JarOf(const CookieDocument& document) {
  std::unique_ptr<CookieJar> jar(new (std::nothrow) CookieJar);
  if (!jar) return nullptr;
  for (const StoredCookie& stored : document.cookies()) {
    if (!AddStoredCookie(stored, *jar)) return nullptr;
  }
  return jar->count() > 0 ? std::move(jar) : nullptr;
}

void LogCookie(const Cookie& cookie, LogBase& log) {
  LogContextGuard context(log, "Cookie");
  log.addTag("Domain", cookie.domain.getString());
  log.addTag("Path", cookie.path.getString());
  log.addTag("Expire", cookie.expire.getString());
  for (int i = 0; i < cookie.pairCount(); ++i) {
    log.addTag("CookieName", cookie.pairAt(i)->firstText());
    log.addTag("CookieValue", cookie.pairAt(i)->secondText());
  }
}

// Applies the cookies to host's document with one read and one write.
CookieSaveOutcome EditDocument(const StringBuffer& cookieDir, HashMap& memoryCookies,
                               const char* host, const std::vector<const Cookie*>& cookies,
                               LogBase& log) {
  LogContextGuard context(log, "SaveCookie");
  DocumentEdit edit;
  if (!edit.Open(cookieDir, memoryCookies, host, log)) return CookieSaveOutcome::kNotStored;
  bool changed = false;
  for (const Cookie* cookie : cookies) changed = edit.document().Apply(*cookie) || changed;
  const size_t dropped = edit.document().DropOldest(kMaxCookiesPerDomain);
  if (dropped > 0) LogDropped(dropped, log);
  if (!changed && dropped == 0) return CookieSaveOutcome::kSaved;
  return edit.Store(memoryCookies, log) ? CookieSaveOutcome::kSaved : CookieSaveOutcome::kNotStored;
}

// Logs each of parsed (owning Cookies) and saves them all with SaveCookies.
CookieSaveOutcome SaveParsedCookies(HttpControl& settings, const char* host,
                                    const OwningPtrArray& parsed, LogBase& log) {
  try {
    std::vector<const Cookie*> cookies;
    for (int i = 0; i < parsed.count(); ++i) cookies.push_back(parsed.at<Cookie>(i));
    for (const Cookie* cookie : cookies) LogCookie(*cookie, log);
    std::lock_guard<std::mutex> lock(settings.cookieLock());
    return SaveCookies(settings.cookieDir, settings.cookieStore(), host, cookies, log);
  } catch (const std::bad_alloc&) {
    log.addError("Out of memory");
    return CookieSaveOutcome::kNotStored;
  }
}

}  // namespace

bool IsMemoryCookieStore(const StringBuffer& cookieDir) {
  return cookieDir.isEmpty() || EqualsNoCase(cookieDir.view(), "memory");
}

CookieSaveOutcome SaveCookies(const StringBuffer& cookieDir, HashMap& memoryCookies,
                              const char* host, std::span<const Cookie* const> cookies,
                              LogBase& log) {
  if (host == nullptr) host = "";
  try {
    std::vector<const Cookie*> accepted = CookiesForHost(cookieDir, host, cookies, log);
    if (accepted.empty()) return CookieSaveOutcome::kRefused;
    return EditDocument(cookieDir, memoryCookies, host, accepted, log);
  } catch (const std::bad_alloc&) {
    log.addError("Out of memory");
    return CookieSaveOutcome::kNotStored;
  }
}

CookieSaveOutcome SaveCookie(const StringBuffer& cookieDir, HashMap& memoryCookies,
                             const char* host, const Cookie& cookie, LogBase& log) {
  const Cookie* const one[] = {&cookie};
  return SaveCookies(cookieDir, memoryCookies, host, one, log);
}

std::unique_ptr<CookieJar> LoadCookieJar(const StringBuffer& cookieDir,
                                         const HashMap& memoryCookies, const char* host,
                                         const char* path, LogBase& log) {
  LogContextGuard context(log, "LoadCookieJar");
  log.addTag("CookieDir", cookieDir.getString());
  log.addTag("Domain", host);
  log.addTag("Path", path);
  DocumentPlace place;
  if (!FindPlace(cookieDir, host, place, log, "Failed to get cookie filename.")) return nullptr;
  ClsXml xml;
  const DocumentState state = LoadDocument(place, memoryCookies, xml);
  if (state == DocumentState::kMissing) {
    log.addError(place.memory ? "No cookies exist yet." : "Cookie file does not exist.");
    if (!place.memory) log.addTag("CookieFilename", place.key.getString());
    return nullptr;
  }
  // A memory text that does not load reads as an empty document.
  if (state == DocumentState::kUnreadable && !place.memory) {
    log.addError("Failed to load cookie jar XML.");
    log.addTag("CookieFilename", place.key.getString());
    return nullptr;
  }
  if (!xml.FirstChildHandle()) {
    log.addError("Cookie XML is empty");
    return nullptr;
  }
  try {
    CookieDocument document;
    document.Read(xml);
    return JarOf(document);
  } catch (const std::bad_alloc&) {
    log.addError("Out of memory");
    return nullptr;
  }
}

bool AddCookieHeader(const HttpControl& settings, const char* host, const char* path,
                     bool secureRequest, StringBuffer& head, LogBase& log) {
  if (settings.cookieDir.isEmpty() || !settings.autoAddCookies) {
    log.addError("Not auto-adding cookies.");
    return true;
  }
  log.addError("Auto-adding any accumulated cookies.");
  log.addTag("CookieDir", settings.cookieDir.getString());
  std::unique_ptr<CookieJar> jar;
  {
    std::lock_guard<std::mutex> lock(settings.cookieLock());
    jar = LoadCookieJar(settings.cookieDir, settings.cookieStore(), host, path, log);
  }
  if (!jar) {
    log.addError("No cookie jar found.");
    return true;
  }
  StringBuffer line;
  if (!BuildCookieHeader(*jar, host == nullptr ? "" : host, path == nullptr ? "" : path,
                         secureRequest, line)) {
    return false;
  }
  line.trim();
  if (line.isEmpty()) return true;
  log.addTag("AddingCookie", line.getString());
  return head.append("Cookie: ") && head.append(line) && head.append("\r\n");
}

bool SaveResponseCookies(HttpControl& settings, HttpResult& result, const char* host,
                         LogBase& log) {
  if (settings.cookieDir.isEmpty() || !settings.autoSaveCookies ||
      !result.header.fields.hasField("Set-Cookie")) {
    return false;
  }
  log.addError("Saving cookies...");
  StringBuffer base;
  HtmlHelp::BaseDomain(host == nullptr ? "" : host, base);
  StringBuffer defaultDomain(".");
  OwningPtrArray parsed;
  if (!defaultDomain.append(base) ||
      !ParseSetCookies(result.header, defaultDomain.view(), parsed)) {
    log.addError("Out of memory");
    result.warnings.add(FetchWarningKind::kCookieNotSaved);
    return true;
  }
  if (SaveParsedCookies(settings, host, parsed, log) == CookieSaveOutcome::kNotStored) {
    result.warnings.add(FetchWarningKind::kCookieNotSaved);
  }
  return true;
}

}  // namespace quillon
