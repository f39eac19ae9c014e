#include "base/xml_serializer.h"

#include <algorithm>
#include <array>

#include "base/ascii.h"

namespace quillon {

namespace {

constexpr uint32_t kSpacesPerLevel = 4;
// Longest HTML 4.01 entity name ("thetasym").
constexpr size_t kMaxEntityNameLength = 8;
// Written for an element whose tag the filter left empty.
constexpr std::string_view kEmptyTagName = "nothing";

// HTML 4.01's character entity set: Latin-1, symbols and Greek, markup-significant and
// internationalisation characters.
constexpr std::array<std::string_view, 252> kHtmlEntityNames = {
    "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf",
    "laquo", "not", "shy", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro",
    "para", "middot", "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave", "Eacute",
    "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve", "Oacute",
    "Ocirc", "Otilde", "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute",
    "THORN", "szlig", "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil",
    "egrave", "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde",
    "ograve", "oacute", "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave", "uacute",
    "ucirc", "uuml", "yacute", "thorn", "yuml", "fnof", "Alpha", "Beta", "Gamma", "Delta",
    "Epsilon", "Zeta", "Eta", "Theta", "Iota", "Kappa", "Lambda", "Mu", "Nu", "Xi", "Omicron",
    "Pi", "Rho", "Sigma", "Tau", "Upsilon", "Phi", "Chi", "Psi", "Omega", "alpha", "beta",
    "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota", "kappa", "lambda", "mu", "nu",
    "xi", "omicron", "pi", "rho", "sigmaf", "sigma", "tau", "upsilon", "phi", "chi", "psi",
    "omega", "thetasym", "upsih", "piv", "bull", "hellip", "prime", "Prime", "oline", "frasl",
    "weierp", "image", "real", "trade", "alefsym", "larr", "uarr", "rarr", "darr", "harr",
    "crarr", "lArr", "uArr", "rArr", "dArr", "hArr", "forall", "part", "exist", "empty", "nabla",
    "isin", "notin", "ni", "prod", "sum", "minus", "lowast", "radic", "prop", "infin", "ang",
    "and", "or", "cap", "cup", "int", "there4", "sim", "cong", "asymp", "ne", "equiv", "le", "ge",
    "sub", "sup", "nsub", "sube", "supe", "oplus", "otimes", "perp", "sdot", "lceil", "rceil",
    "lfloor", "rfloor", "lang", "rang", "loz", "spades", "clubs", "hearts", "diams", "quot",
    "amp", "lt", "gt", "OElig", "oelig", "Scaron", "scaron", "Yuml", "circ", "tilde", "ensp",
    "emsp", "thinsp", "zwnj", "zwj", "lrm", "rlm", "ndash", "mdash", "lsquo", "rsquo", "sbquo",
    "ldquo", "rdquo", "bdquo", "dagger", "Dagger", "permil", "lsaquo", "rsaquo", "euro"};

// Orders names as if their first letters were lower case, the rest exact.
bool FirstLetterFoldedLess(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return a.size() < b.size();
  char fa = LowerAscii(a.front());
  char fb = LowerAscii(b.front());
  if (fa != fb) return fa < fb;
  return a.substr(1) < b.substr(1);
}

const std::array<std::string_view, 252>& SortedEntityNames() {
  static const std::array<std::string_view, 252> sorted = [] {
    std::array<std::string_view, 252> names = kHtmlEntityNames;
    std::sort(names.begin(), names.end(), FirstLetterFoldedLess);
    return names;
  }();
  return sorted;
}

bool IsAsciiAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether the "&" that starts text begins a reference the content writer keeps: "&#" with
// anything after it, or a known entity name followed by ";".
bool BeginsCharacterReference(std::string_view text) {
  if (text.size() >= 2 && text[1] == '#') return true;
  size_t end = 1;
  while (end < text.size() && end <= kMaxEntityNameLength && IsAsciiAlphanumeric(text[end])) ++end;
  return end < text.size() && text[end] == ';' && IsHtmlEntityName(text.substr(1, end - 1));
}

const char* EntityFor(char c) {
  switch (c) {
    case '"': return "&quot;";
    case '\'': return "&apos;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '&': return "&amp;";
    default: return nullptr;
  }
}

// Escapes the five markup characters. An "&" stays when it begins a reference: for element
// text any reference BeginsCharacterReference accepts, for attribute values only "&#".
bool AppendEscaped(std::string_view text, bool attributeValue, StringBuffer& out) {
  bool ok = true;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity = EntityFor(text[i]);
    if (entity == nullptr) continue;
    if (text[i] == '&') {
      std::string_view rest = text.substr(i);
      bool keep =
          attributeValue ? rest.size() >= 2 && rest[1] == '#' : BeginsCharacterReference(rest);
      if (keep) continue;
    }
    ok = out.append(text.substr(start, i - start)) && out.append(entity) && ok;
    start = i + 1;
  }
  return out.append(text.substr(start)) && ok;
}

bool AppendAttributes(const TreeNode& node, StringBuffer& out) {
  bool ok = true;
  if (const XmlAttributes* attributes = node.attributes()) {
    attributes->forEach([&](const XmlAttributes::Attribute& attribute) {
      ok = out.appendChar(' ') && out.append(attribute.name) && out.append("=\"") &&
           AppendEscaped(attribute.value, true, out) && out.appendChar('"') && ok;
      return ok;
    });
  }
  return ok;
}

bool AppendInstruction(const char* opening, const TreeNode& node, StringBuffer& out) {
  return out.append(opening) && AppendAttributes(node, out) && out.append(" ?>\r\n");
}

// The declaration, the stylesheet instructions and the DOCTYPE with other instructions.
bool AppendPrologue(TreeInfo& document, StringBuffer& out) {
  bool ok = true;
  if (TreeNode* declaration = document.declaration()) {
    std::string_view standalone;
    if (declaration->attribute("standalone", standalone)) {
      StringBuffer value(standalone);
      ok = declaration->replaceAttribute("standalone", value.view());
    }
    ok = AppendInstruction("<?xml", *declaration, out) && ok;
  }
  OwningPtrArray& stylesheets = document.stylesheets();
  for (int i = 0; i < stylesheets.count(); ++i) {
    auto* stylesheet = stylesheets.at<TreeNode>(i);
    if (stylesheet->attributes() && stylesheet->attributes()->count() > 0) {
      ok = AppendInstruction("<?xml-stylesheet", *stylesheet, out) && ok;
    }
  }
  if (!document.prologue().isEmpty()) {
    ok = out.append(document.prologue()) && out.append("\r\n") && ok;
  }
  return ok;
}

bool AppendIndent(uint32_t depth, StringBuffer& out) {
  return out.appendChars(' ', kSpacesPerLevel * std::min(depth, kMaxIndentLevel));
}

std::string_view TagName(const TreeNode& node) {
  return node.tag().isEmpty() ? kEmptyTagName : node.tag().view();
}

bool AppendContent(const TreeNode& node, StringBuffer& out) {
  std::string_view content = node.content();
  if (!node.isCdata()) return AppendEscaped(content, false, out);
  if (content.find("]]>") == std::string_view::npos) {
    return out.append("<![CDATA[") && out.append(content) && out.append("]]>");
  }
  // The section could not hold its own end marker: every marker goes.
  StringBuffer cleaned(content);
  cleaned.replaceAll("<![CDATA[", "");
  cleaned.replaceAll("]]>", "");
  return out.append("<![CDATA[") && out.append(cleaned) && out.append("]]>");
}

// The opening tag with the content, or the whole element when it has neither content nor
// children.
bool AppendOpening(const TreeNode& node, uint32_t depth, bool first, StringBuffer& out) {
  bool ok = !first || out.append("\r\n");
  ok = AppendIndent(depth, out) && out.appendChar('<') && out.append(TagName(node)) &&
       AppendAttributes(node, out) && ok;
  if (!node.hasContent() && node.childCount() == 0) return out.append(" />\r\n") && ok;
  return out.appendChar('>') && AppendContent(node, out) && ok;
}

bool AppendClosing(const TreeNode& node, uint32_t depth, StringBuffer& out) {
  bool ok = true;
  if (node.childCount() > 0 || out.lastChar() == '\n') ok = AppendIndent(depth, out);
  return out.append("</") && out.append(TagName(node)) && out.append(">\r\n") && ok;
}

}  // namespace

bool IsHtmlEntityName(std::string_view name) {
  const auto& names = SortedEntityNames();
  return std::binary_search(names.begin(), names.end(), name, FirstLetterFoldedLess);
}

bool SerializeXml(TreeNode& top, StringBuffer& out) {
  out.growGeometrically();
  bool ok = true;
  TreeInfo* document = top.document();
  if (document && document->isValid() && document->root() == &top) {
    ok = AppendPrologue(*document, out);
  }
  // Elements in document order: an element is opened when the walk reaches it and closed once
  // its last child is closed (or at once when it has no children).
  TreeNode* node = &top;
  uint32_t depth = 0;
  while (node) {
    bool first = node == &top || node->previousSibling() == nullptr;
    ok = AppendOpening(*node, depth, first, out) && ok;
    if (node->childCount() > 0) {
      node = node->firstChild();
      ++depth;
      continue;
    }
    if (node->hasContent()) ok = AppendClosing(*node, depth, out) && ok;
    // Climb until a next sibling, closing each parent left behind.
    while (node != &top && node->nextSibling() == nullptr) {
      node = node->parent();
      --depth;
      ok = AppendClosing(*node, depth, out) && ok;
    }
    node = node == &top ? nullptr : node->nextSibling();
  }
  return ok;
}

}  // namespace quillon
