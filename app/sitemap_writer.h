// The bytes of sitemap.htm: its head from the dialog's fields, one list item per crawled page
// and the footer. Pure text building; the crawl and the files are the Generate run's business.
#pragma once

#include <string>
#include <string_view>

#include "app/sitemap_fields.h"

namespace tollwick {

// The promotional line of the footer (without its line end).
inline constexpr char kPromotionalLine[] =
    "<a title=\"Tollwick: a free sitemap generator\" "
    "href=\"http://www.brindlewood.example/tollwick/\">Sitemap made with Tollwick</a> "
    "by Brindlewood";

// The charset line that follows "<head>" when the output is UTF-8.
inline constexpr char kUtf8CharsetLine[] =
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\r\n";

// The text without tab, line feed, carriage return and space at either end.
std::string TrimWhiteSpace(std::string_view text);

// Appends "<html>" up to "<ul>": the charset line when declareUtf8, the trimmed meta tags, the
// title and description lines when they are not empty. Trims the meta tags, title and
// description fields themselves (the description loses its line breaks), as the profile later
// stores them.
void AppendSitemapHead(std::string& out, SitemapFields& fields, bool declareUtf8);

// One "<li>" line for a page. Empty or one-byte keywords fall back to the title, then to the
// description; an empty or one-byte title falls back to the address. A double quote in the
// title attribute and the href becomes "&quot;"; "<" and ">" in the page's values become
// "&lt;" and "&gt;"; "&" stays as the page wrote it.
std::string FormatListItem(std::string keywords, std::string title, std::string_view description,
                           std::string_view url);

// Appends "</ul>" up to "</html>" (no line end after it), with the end-of-body field as typed.
void AppendSitemapFooter(std::string& out, std::string_view endOfBody);

}  // namespace tollwick
