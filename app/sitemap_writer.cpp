#include "app/sitemap_writer.h"

#include <cstddef>

namespace tollwick {
namespace {

bool IsWhiteSpace(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

enum class EscapeQuote : bool { No = false, Yes = true };

// Appends text with "<" and ">" as entities (and the double quote when asked).
void AppendEscaped(std::string& out, std::string_view text, EscapeQuote quote) {
  for (char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"' && quote == EscapeQuote::Yes) {
      out += "&quot;";
    } else {
      out += c;
    }
  }
}

void AppendQuoteEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '"') {
      out += "&quot;";
    } else {
      out += c;
    }
  }
}

}  // namespace

std::string TrimWhiteSpace(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsWhiteSpace(text[begin])) ++begin;
  while (end > begin && IsWhiteSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

void AppendSitemapHead(std::string& out, SitemapFields& fields, bool declareUtf8) {
  out += "<html>\r\n";
  out += "<head>\r\n";
  if (declareUtf8) out += kUtf8CharsetLine;

  fields.metaTags = TrimWhiteSpace(fields.metaTags);
  out += fields.metaTags;
  out += "\r\n";

  fields.title = TrimWhiteSpace(fields.title);
  if (!fields.title.empty()) {
    out += "<title>";
    out += fields.title;
    out += "</title>\r\n";
  }

  std::string description = TrimWhiteSpace(fields.description);
  std::erase_if(description, [](char c) { return c == '\r' || c == '\n'; });
  fields.description = description;
  if (!fields.description.empty()) {
    out += "<meta name=\"description\" content=\"";
    out += fields.description;
    out += "\" />\r\n";
  }

  out += "</head>\r\n";
  out += "<body>\r\n";
  out += "<h1>Sitemap</h1>\r\n";
  out += "<ul>\r\n";
}

std::string FormatListItem(std::string keywords, std::string title, std::string_view description,
                           std::string_view url) {
  if (keywords.size() <= 1) {
    if (title.size() >= 2) {
      keywords = title;
    } else if (description.size() >= 2) {
      keywords = std::string(description);
    }
  }
  if (title.size() <= 1) title = std::string(url);

  std::string item = "<li><a title=\"";
  AppendEscaped(item, keywords, EscapeQuote::Yes);
  item += "\" href=\"";
  AppendQuoteEscaped(item, url);
  item += "\">";
  AppendEscaped(item, title, EscapeQuote::No);
  item += "</a> : ";
  AppendEscaped(item, description, EscapeQuote::No);
  item += "</li>\r\n";
  return item;
}

void AppendSitemapFooter(std::string& out, std::string_view endOfBody) {
  out += "</ul>\r\n";
  out += "<br />\r\n";
  out += "<br />\r\n";
  out += kPromotionalLine;
  out += "\r\n";
  out += "\r\n";
  out += endOfBody;
  out += "\r\n";
  out += "</body>\r\n";
  out += "</html>";
}

}  // namespace tollwick
