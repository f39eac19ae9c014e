#include "spider/page_directives.h"

#include "base/ascii.h"
#include "base/html_help.h"
#include "base/parse_engine.h"
#include "spider/link_text.h"

namespace quillon {

namespace {

constexpr std::string_view kLinkStart = "<link";

// Calls take(word) for each word of text separated by any of the separators.
template <typename Take>
void ForEachWord(std::string_view text, std::string_view separators, Take take) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of(separators, at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view word = Trimmed(text.substr(at, end - at));
    if (!word.empty()) take(word);
    at = end + 1;
  }
}

}  // namespace

void ReadRobotsDirectives(std::string_view value, RobotsDirectives& directives) {
  ForEachWord(value, ", :\t", [&directives](std::string_view word) {
    if (EqualsNoCase(word, "none")) {
      directives.noindex = true;
      directives.nofollow = true;
    } else if (EqualsNoCase(word, "noindex")) {
      directives.noindex = true;
    } else if (EqualsNoCase(word, "nofollow")) {
      directives.nofollow = true;
    }
  });
}

bool RelHolds(std::string_view rel, std::string_view word) {
  bool found = false;
  ForEachWord(rel, " \t\r\n",
              [&found, word](std::string_view part) { found = found || EqualsNoCase(part, word); });
  return found;
}

bool ReadCanonicalHref(std::string_view page, StringBuffer& href) {
  href.clear();
  ParseEngine parser;
  if (!parser.load(page)) return false;
  StringBuffer tag, clean, rel;
  while (parser.seek(kLinkStart)) {
    tag.clear();
    if (!parser.copyUntilQuoted('>', tag) || !tag.appendChar('>')) return false;
    if (!HtmlHelp::CleanTag(tag.view(), clean) ||
        !HtmlHelp::GetAttribute(clean.view(), "rel", rel)) {
      return false;
    }
    if (!RelHolds(rel.view(), "canonical")) continue;
    if (!HtmlHelp::GetAttribute(clean.view(), "href", href)) return false;
    return DecodeCharacterReferences(href);
  }
  return !parser.outOfMemory();
}

}  // namespace quillon
