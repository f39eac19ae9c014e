#include "http/cookie_mgr.h"

#include <new>
#include <string>

#include "base/ascii.h"
#include "base/cls_xml.h"
#include "base/file_access.h"
#include "base/html_help.h"
#include "base/log_base.h"
#include "http/http_control.h"
#include "http/http_result.h"

namespace quillon {

namespace {

constexpr char kRootTag[] = "cookies";
constexpr char kCookieTag[] = "cookie";

// The path of host's cookie file in dir.
bool CookieFilePath(const StringBuffer& dir, std::string_view host, StringBuffer& path) {
  StringBuffer name;
  if (!CookieDocumentName(host, name) || !path.assign(dir)) return false;
  std::string_view folder = path.view();
  if (!folder.ends_with('/') && !folder.ends_with('\\') && !path.append("/")) return false;
  return path.append(name);
}

// Where host's document lives: the memory table's key or the file's path, as the mode says.
struct DocumentPlace {
  bool memory = false;
  StringBuffer key;  // the table key (memory) or the file path
};

bool FindPlace(const StringBuffer& cookieDir, const char* host, DocumentPlace& place,
               LogBase& log, const char* failure) {
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

// Loads the document at place into xml; false when there is none yet.
bool LoadDocument(const DocumentPlace& place, const HashMap& memoryCookies, ClsXml& xml) {
  if (place.memory) {
    auto* text = static_cast<StringBuffer*>(memoryCookies.get(place.key.view()));
    return text != nullptr && xml.LoadXml(text->getString(), true);
  }
  return fileExists(place.key.getString()) && xml.LoadXmlFile(place.key.getString(), true);
}

// The "cookie" element whose key is key, made when missing (null when the document is full).
std::unique_ptr<ClsXml> CookieElement(ClsXml& root, const char* key, LogBase& log) {
  int count = 0;
  for (std::unique_ptr<ClsXml> child = root.FirstChildHandle(); child;) {
    if (child->AttrEquals("key", key)) return child;
    ++count;
    if (!child->MoveToNextSibling()) break;
  }
  if (count >= kMaxCookiesPerDocument) {
    log.addError("Too many cookies for this domain; cookie not saved.");
    return nullptr;
  }
  std::unique_ptr<ClsXml> made = root.AppendChildNode(kCookieTag, nullptr);
  if (made && !made->AppendAttr("key", key)) made.reset();
  return made;
}

// "secure" is written on each pair's element, not on the "cookie" element that the pairs of one
// domain and path share: a Secure cookie must not keep its plain neighbours off http.
bool WriteAttributes(ClsXml& element, const Cookie& cookie) {
  bool ok = element.ReplaceAttr("v", cookie.version);
  if (!cookie.expire.isEmpty()) ok = element.ReplaceAttr("expire", cookie.expire.getString()) && ok;
  if (cookie.maxAge != 0) ok = element.ReplaceAttr("maxAge", cookie.maxAge) && ok;
  if (cookie.discard) ok = element.ReplaceAttr("discard", "yes") && ok;
  return ok;
}

// Older files mark the whole "cookie" element secure; the mark moves onto each pair already
// there, so that a plain cookie saved beside them stays plain. The element's own mark becomes
// "no", as an attribute cannot be taken away.
bool MoveSecureOntoPairs(ClsXml& element) {
  if (!element.AttrEquals("secure", "yes")) return true;
  bool ok = true;
  for (std::unique_ptr<ClsXml> pair = element.FirstChildHandle(); pair;) {
    ok = pair->ReplaceAttr("secure", "yes") && ok;
    if (!pair->MoveToNextSibling()) break;
  }
  return element.ReplaceAttr("secure", "no") && ok;
}

// Like the element's attributes, a pair's "secure" not written this time keeps its old value.
bool WritePairs(ClsXml& element, const Cookie& cookie) {
  bool ok = MoveSecureOntoPairs(element);
  for (int i = 0; i < cookie.pairCount(); ++i) {
    const StringPair& pair = *cookie.pairAt(i);
    std::unique_ptr<ClsXml> child = element.ChildByTag(pair.firstText());
    if (child) {
      ok = child->PutContent(pair.secondText()) && ok;
    } else {
      child = element.AppendChildNode(pair.firstText(), pair.secondText());
      ok = child != nullptr && ok;
    }
    if (child && cookie.secure) ok = child->ReplaceAttr("secure", "yes") && ok;
  }
  return ok;
}

bool StoreDocument(const DocumentPlace& place, HashMap& memoryCookies, ClsXml& xml,
                   LogBase& log) {
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

// A cookie with the domain, path and attributes of one "cookie" element and no pairs yet; null
// when its key names no domain.
std::unique_ptr<Cookie> CookieOfElement(ClsXml& element) {
  StringBuffer key, expire;
  element.AttrText("key", key);
  element.AttrText("expire", expire);
  std::string_view keyText = key.view();
  size_t comma = keyText.find(',');
  if (comma == std::string_view::npos || comma == 0) return nullptr;
  std::unique_ptr<Cookie> cookie(new (std::nothrow) Cookie);
  if (!cookie || !cookie->domain.assign(keyText.substr(0, comma)) ||
      !cookie->path.assign(keyText.substr(comma + 1)) || !cookie->expire.assign(expire)) {
    return nullptr;
  }
  cookie->version = element.AttrNumber("v");
  cookie->secure = element.AttrEquals("secure", "yes");
  if (cookie->version == 1) {
    cookie->maxAge = element.AttrNumber("maxAge");
    cookie->discard = element.AttrEquals("discard", "yes");
  }
  return cookie;
}

// A copy of cookie's domain, path and attributes without its pairs.
std::unique_ptr<Cookie> EmptyTwin(const Cookie& cookie) {
  std::unique_ptr<Cookie> twin(new (std::nothrow) Cookie);
  if (!twin || !twin->domain.assign(cookie.domain) || !twin->path.assign(cookie.path) ||
      !twin->expire.assign(cookie.expire)) {
    return nullptr;
  }
  twin->version = cookie.version;
  twin->maxAge = cookie.maxAge;
  twin->discard = cookie.discard;
  return twin;
}

// Adds the cookies of one "cookie" element to jar: its pairs in order, one Cookie per run of
// pairs that are alike in being secure (marked on the pair, or on the element in older files).
// False only when memory runs out.
bool AddElementCookies(ClsXml& element, CookieJar& jar) {
  std::unique_ptr<Cookie> cookie = CookieOfElement(element);
  if (!cookie) return true;
  const bool elementSecure = cookie->secure;
  StringBuffer tag, content;
  for (std::unique_ptr<ClsXml> pair = element.FirstChildHandle(); pair;) {
    const bool secure = elementSecure || pair->AttrEquals("secure", "yes");
    if (cookie->pairCount() > 0 && secure != cookie->secure) {
      std::unique_ptr<Cookie> next = EmptyTwin(*cookie);
      if (!next || !jar.add(cookie.release())) return false;
      cookie = std::move(next);
    }
    cookie->secure = secure;
    tag.clear();
    content.clear();
    pair->TagText(tag);
    pair->ContentText(content);
    if (!cookie->setPair(tag.view(), content.view())) return false;
    if (!pair->MoveToNextSibling()) break;
  }
  return jar.add(cookie.release());
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

}  // namespace

bool IsMemoryCookieStore(const StringBuffer& cookieDir) {
  return cookieDir.isEmpty() || EqualsNoCase(cookieDir.view(), "memory");
}

CookieSaveOutcome SaveCookie(const StringBuffer& cookieDir, HashMap& memoryCookies,
                             const char* host, const Cookie& cookie, LogBase& log) {
  constexpr CookieSaveOutcome kNotStored = CookieSaveOutcome::kNotStored;
  LogContextGuard context(log, "SaveCookie");
  log.addTag("CookieDir", cookieDir.getString());
  log.addTag("Domain", cookie.domain.getString());
  if (!CookieDomainCoversHost(cookie.domain.view(), host == nullptr ? "" : host)) {
    log.addError("Cookie refused: its Domain attribute does not cover the host.");
    log.addTag("Host", host == nullptr ? "" : host);
    return CookieSaveOutcome::kRefused;
  }
  DocumentPlace place;
  if (!FindPlace(cookieDir, host, place, log,
                 IsMemoryCookieStore(cookieDir) ? "Failed to get cookie hashkey."
                                                : "Failed to get cookie filename.")) {
    return kNotStored;
  }
  ClsXml xml;
  if (!LoadDocument(place, memoryCookies, xml) && !xml.PutTag(kRootTag)) return kNotStored;
  StringBuffer key(cookie.domain.view());
  if (!key.append(",") || !key.append(cookie.path)) return kNotStored;
  std::unique_ptr<ClsXml> element = CookieElement(xml, key.getString(), log);
  if (!element || !WriteAttributes(*element, cookie) || !WritePairs(*element, cookie)) {
    return kNotStored;
  }
  return StoreDocument(place, memoryCookies, xml, log) ? CookieSaveOutcome::kSaved : kNotStored;
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
  if (place.memory) {
    if (!memoryCookies.contains(place.key.view())) {
      log.addError("No cookies exist yet.");
      return nullptr;
    }
    LoadDocument(place, memoryCookies, xml);
  } else if (!fileExists(place.key.getString())) {
    log.addError("Cookie file does not exist.");
    log.addTag("CookieFilename", place.key.getString());
    return nullptr;
  } else if (!LoadDocument(place, memoryCookies, xml)) {
    log.addError("Failed to load cookie jar XML.");
    log.addTag("CookieFilename", place.key.getString());
    return nullptr;
  }
  std::unique_ptr<ClsXml> element = xml.FirstChildHandle();
  if (!element) {
    log.addError("Cookie XML is empty");
    return nullptr;
  }
  std::unique_ptr<CookieJar> jar(new (std::nothrow) CookieJar);
  if (!jar) return nullptr;
  do {
    if (!AddElementCookies(*element, *jar)) return nullptr;
  } while (element->MoveToNextSibling());
  return jar->count() > 0 ? std::move(jar) : nullptr;
}

bool AddCookieHeader(const HttpControl& settings, const char* host, const char* path,
                     bool secureRequest, StringBuffer& head, LogBase& log) {
  if (settings.cookieDir.isEmpty() || !settings.autoAddCookies) {
    log.addError("Not auto-adding cookies.");
    return true;
  }
  log.addError("Auto-adding any accumulated cookies.");
  log.addTag("CookieDir", settings.cookieDir.getString());
  std::unique_ptr<CookieJar> jar =
      LoadCookieJar(settings.cookieDir, settings.memoryCookies, host, path, log);
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
  OwningPtrArray cookies;
  if (!defaultDomain.append(base) ||
      !ParseSetCookies(result.header, defaultDomain.view(), cookies)) {
    log.addError("Out of memory");
    result.warnings.add(FetchWarningKind::kCookieNotSaved);
    return true;
  }
  for (int i = 0; i < cookies.count(); ++i) {
    const Cookie& cookie = *cookies.at<Cookie>(i);
    LogCookie(cookie, log);
    if (SaveCookie(settings.cookieDir, settings.memoryCookies, host, cookie, log) ==
        CookieSaveOutcome::kNotStored) {
      result.warnings.add(FetchWarningKind::kCookieNotSaved);
    }
  }
  return true;
}

}  // namespace quillon
