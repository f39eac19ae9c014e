#include "base/html_help.h"

#include "base/parse_engine.h"

namespace quillon {

namespace {

// A tag may keep this many valued attributes that are not followed by ">"; the next one ends
// the clean-up without a closing ">".
constexpr uint32_t kMaxValuedAttributes = 100;
constexpr uint32_t kClosingTitleLength = 8;  // "</title>"

constexpr char kWhiteSpace[] = " \t\r\n";
constexpr std::string_view kMetaCharsetStart = "<meta charset=";
constexpr std::string_view kCharsetParameter = "CHARSET=";

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

void SkipWhiteSpace(ParseEngine& engine) { engine.skip(' ', '\t', '\r', '\n'); }

// Line breaks inside a clean tag become single spaces.
void FlattenLines(StringBuffer& clean) {
  clean.removeChar('\r');
  clean.replaceChar('\n', ' ');
}

// Replaces every backslash-quote pair of clean by "&quot;". Everything before `from` has been
// through this already and holds no pair; only the rest (and a pair across the border) is
// scanned, so that a tag of many attributes is cleaned in linear time. `from` moves to the end.
bool ReplaceEscapedQuotes(StringBuffer& clean, uint32_t& from) {
  uint32_t start = from < clean.length() ? from : clean.length();
  if (start > 0) --start;
  std::string_view all = clean.view();
  size_t at = all.find("\\\"", start);
  if (at == std::string_view::npos) {
    from = clean.length();
    return true;
  }
  StringBuffer tail;
  size_t copied = start;
  for (; at != std::string_view::npos; at = all.find("\\\"", copied)) {
    if (!tail.append(all.substr(copied, at - copied)) || !tail.append("&quot;")) return false;
    copied = at + 2;
  }
  if (!tail.append(all.substr(copied))) return false;
  clean.shorten(clean.length() - start);
  if (!clean.append(tail)) return false;
  from = clean.length();
  return true;
}

// The meta elements of a page, each as "seek <meta, copy until quoted(>), append >" gives it.
// On a page of elements whose quotes hide every later ">", each quoted copy would walk to the
// end of the page; the engine answers such repeated searches from a table.
class MetaWalker {
 public:
  explicit MetaWalker(std::string_view page) { ok_ = engine_.load(page); }

  // The next element's raw tag with ">" appended; false when no "<meta" is left.
  bool next(StringBuffer& tag) {
    tag.clear();
    if (!ok_ || !engine_.seek(kMetaStart)) return false;
    ok_ = engine_.copyUntilQuoted('>', tag) && tag.appendChar('>');
    return ok_;
  }
  bool failed() const { return !ok_ || engine_.outOfMemory(); }

 private:
  static constexpr std::string_view kMetaStart = "<meta";

  ParseEngine engine_;
  bool ok_ = false;
};

// The charset a content-type meta element names: the text after "charset=" in its content, up
// to the first double quote, else the first ";", else the first space; without "charset=" in
// the content, the element's own charset attribute. Empty when it names none.
bool ContentTypeCharset(const StringBuffer& content, std::string_view clean, StringBuffer& out) {
  out.clear();
  std::string_view text = content.view();
  const char* at = FindNoCase(text, kCharsetParameter);
  if (!at) return HtmlHelp::GetAttribute(clean, "CHARSET", out);
  size_t after = static_cast<size_t>(at - text.data()) + kCharsetParameter.size();
  std::string_view rest = text.substr(after);
  // charset="utf-8" inside the content: the value is what the quotes hold (a lone opening
  // quote is dropped).
  if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
    char quote = rest.front();
    rest.remove_prefix(1);
    size_t close = rest.find(quote);
    if (close != std::string_view::npos) return out.append(rest.substr(0, close));
  }
  size_t end = rest.find('"');
  if (end == std::string_view::npos) end = rest.find(';');
  if (end == std::string_view::npos) end = rest.find(' ');
  return out.append(rest.substr(0, end));
}

}  // namespace

bool HtmlHelp::GetTitle(std::string_view page, StringBuffer& title) {
  title.clear();
  ParseEngine engine;
  if (!engine.load(page)) return false;
  if (engine.seekPast("<title>")) {
    if (engine.copyThrough("</title>", title)) title.shorten(kClosingTitleLength);
  } else {
    // A title element with attributes: "<title lang=en>". The steps run whether or not each
    // one finds its pattern.
    engine.setPosition(0);
    engine.seekPast("<title");
    engine.seekPast(">");
    if (engine.copyThrough("</title>", title)) title.shorten(kClosingTitleLength);
  }
  title.trim();
  return !engine.outOfMemory();
}

bool HtmlHelp::GetMetaContent(std::string_view page, const char* name, StringBuffer& content) {
  content.clear();
  MetaWalker walker(page);
  StringBuffer tag, clean, value;
  bool ok = true;
  while (ok && walker.next(tag)) {
    ok = CleanTag(tag.view(), clean) && GetAttribute(clean.view(), "NAME", value);
    if (ok && !value.isEmpty() && value.equalsIgnoreCase(name)) {
      ok = GetAttribute(clean.view(), "content", content);
      if (ok && !content.isEmpty()) break;
    }
    ok = ok && GetAttribute(clean.view(), "HTTP-EQUIV", value);
    if (ok && !value.isEmpty() && value.equalsIgnoreCase(name)) {
      ok = GetAttribute(clean.view(), "content", content);
      if (ok && !content.isEmpty()) break;
    }
  }
  content.trim();
  return ok && !walker.failed();
}

bool HtmlHelp::GetMetaCharset(std::string_view page, StringBuffer& charset) {
  MetaWalker walker(page);
  StringBuffer tag, clean, equiv, content, named, fallback;
  bool sawContentType = false;
  bool ok = true;
  while (ok && walker.next(tag)) {
    ok = CleanTag(tag.view(), clean) && GetAttribute(clean.view(), "HTTP-EQUIV", equiv);
    if (ok && equiv.equalsIgnoreCase("content-type")) {
      ok = GetAttribute(clean.view(), "content", content);
      if (ok && !content.isEmpty()) {
        sawContentType = true;
        ok = ContentTypeCharset(content, clean.view(), named);
        if (ok && !named.isEmpty()) return charset.assign(named) && !walker.failed();
        continue;
      }
    }
    // HTML5's <meta charset=...>, written as the element's first attribute.
    std::string_view head = clean.view().substr(0, kMetaCharsetStart.size());
    if (ok && fallback.isEmpty() && FindNoCase(head, kMetaCharsetStart)) {
      ok = GetAttribute(clean.view(), "charset", fallback);
    }
  }
  if (!ok || walker.failed()) return false;
  if (!fallback.isEmpty()) return charset.assign(fallback);
  if (sawContentType) charset.clear();  // the content-type element named no charset
  return true;
}

bool HtmlHelp::GetAttribute(std::string_view tag, const char* name, StringBuffer& value) {
  value.clear();
  StringBuffer pattern(name ? name : "");
  char quote = '"';
  if (!pattern.append("=\"")) return false;
  const char* at = FindNoCase(tag, pattern.view());
  if (!at) {
    quote = '\'';
    pattern.shorten(1);
    if (!pattern.appendChar(quote)) return false;
    at = FindNoCase(tag, pattern.view());
    if (!at) return true;
  }
  std::string_view rest = tag.substr(static_cast<size_t>(at - tag.data()) + pattern.length());
  size_t close = rest.find(quote);
  if (close == std::string_view::npos) return true;
  if (!value.append(rest.substr(0, close))) return false;
  value.trim();
  value.replaceChar('\\', '/');
  return true;
}

bool HtmlHelp::CleanTag(std::string_view raw, StringBuffer& clean) {
  clean.clear();
  ParseEngine engine;
  if (!engine.load(raw)) return false;
  engine.skipTo('<');
  if (engine.atEnd()) return true;

  bool ok = clean.appendChar('<');
  engine.step();
  SkipWhiteSpace(engine);
  ok = ok && engine.copyUntilAny(kWhiteSpace, clean);  // the element name
  SkipWhiteSpace(engine);
  if (engine.current() == '>') return ok && clean.appendChar('>');

  uint32_t valued = 0;
  uint32_t replacedUpTo = 0;  // no backslash-quote pair before this index of clean
  StringBuffer part, value;
  while (ok) {
    part.clear();
    ok = part.appendChar(' ');
    engine.skip('"', '\'', '"', '\'');
    ok = ok && engine.copyUntilAny(" \t\n\r>=", part);  // the attribute name
    SkipWhiteSpace(engine);
    char c = engine.current();

    if (IsAsciiLetter(c) || c == '>') {  // an attribute without a value
      ok = ok && clean.append(part);
      if (c == '>') return ok && clean.appendChar('>');
      continue;
    }

    if (c != '=') {  // end of text, a stray quote, a digit...: close what there is
      clean.trim();
      if (clean.lastChar() != '>') ok = ok && clean.appendChar('>');
      FlattenLines(clean);
      return ok;
    }

    ok = ok && clean.append(part) && clean.appendChar('=');
    engine.step();
    SkipWhiteSpace(engine);
    if (engine.current() == '\\') engine.step();
    char quote = engine.current();
    if (quote == '"' || quote == '\'') {
      const char stops[2] = {quote, 0};
      engine.step();
      ok = ok && clean.appendChar(quote) && engine.copyUntilAnyUnescaped(stops, clean) &&
           ReplaceEscapedQuotes(clean, replacedUpTo);
    } else {
      value.clear();
      ok = ok && engine.copyUntilAny("\r\n >", value);
      quote = value.contains("\"") ? '\'' : '"';
      ok = ok && clean.appendChar(quote) && clean.append(value);
    }
    SkipWhiteSpace(engine);
    if (engine.current() == '"' || engine.current() == '\'') engine.step();
    if (clean.lastChar() == '\\') {
      clean.shorten(1);
      if (replacedUpTo > clean.length()) replacedUpTo = clean.length();
    }
    ok = ok && clean.appendChar(quote);
    SkipWhiteSpace(engine);
    if (engine.current() == '>') {
      ok = ok && clean.appendChar('>');
      FlattenLines(clean);
      return ok;
    }
    if (++valued > kMaxValuedAttributes) {
      FlattenLines(clean);
      return ok;
    }
  }
  return false;
}

}  // namespace quillon
