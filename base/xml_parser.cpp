#include "base/xml_parser.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/parse_engine.h"

namespace quillon {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n";
constexpr std::string_view kCdataStart = "<![CDATA[";
constexpr std::string_view kCdataEnd = "]]>";

struct Entity {
  std::string_view text;
  char decoded;
};
constexpr Entity kEntities[] = {
    {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};

// Builds one document. The open top-level tree lives in open_; a top-level element that is
// closed moves to completed_, replacing (destroying) any earlier one.
class XmlParser {
 public:
  XmlParser(LogBase& log, bool trimContent) : log_(log), trim_(trimContent) {}

  std::unique_ptr<TreeInfo> parse(std::string_view text);

 private:
  std::string_view rest() const { return engine_.text().substr(engine_.position()); }
  bool startsWith(std::string_view prefix) const {
    return rest().substr(0, prefix.size()) == prefix;
  }
  bool startsWithNoCase(std::string_view prefix) const { return StartsWithNoCase(rest(), prefix); }
  // Whether the text at the cursor is prefix followed by white space.
  bool startsInstruction(std::string_view prefix, bool anyCase) const;
  void skipWhiteSpace() { engine_.skip(' ', '\t', '\r', '\n'); }
  // The text from the cursor up to the first byte of stops (or the end); the cursor moves there.
  // The view lasts until the next call.
  std::string_view takeUntilAny(const char* stops);
  // An attribute name: the text up to the first byte of stops, without the bytes of drop. The
  // view lasts until the next call.
  std::string_view takeName(const char* stops, std::string_view drop);
  void fail() { outOfMemory_ = true; }
  // Counts one more element; false (parsing stops) past kMaxXmlElements.
  bool countElement();

  void readText();
  void addText(std::string_view text);
  void readMarkup();
  void readCdata();
  void skipComment();
  void readDoctype();
  void readOtherInstruction();
  void readInstructionNode(bool stylesheet);
  void readClosingTag();
  void readOpeningTag();

  // How one kind of tag writes its attributes: the byte that may stand among them ("?" of an
  // instruction, "/" of an empty element), the bytes that end a name, the bytes dropped from a
  // name, and the reader of a value after "=".
  struct AttributeSyntax {
    char marker;
    const char* nameStops;
    std::string_view nameDrop;
    std::string_view (XmlParser::*readValue)();
  };
  // Reads name[=value] pairs up to ">" into node; true when the marker stood among them.
  bool readAttributeList(TreeNode& node, const AttributeSyntax& syntax);
  // An instruction's value: quotes optional, up to the next quote of either kind or line end.
  std::string_view readInstructionValue();
  // An element's value: up to its closing quote, or unquoted up to the next quote.
  std::string_view readAttributeValue();
  void closeCurrent();
  std::unique_ptr<TreeInfo> finish();

  LogBase& log_;
  bool trim_;
  ParseEngine engine_;
  TreeNode* current_ = nullptr;
  std::unique_ptr<TreeInfo> open_;
  std::unique_ptr<TreeInfo> completed_;
  std::unique_ptr<TreeNode> declaration_;
  OwningPtrArray stylesheets_;
  StringBuffer prologue_;
  // Reused pieces: the last takeUntilAny, the last takeName, a decoded value.
  StringBuffer taken_;
  StringBuffer name_;
  StringBuffer value_;
  int closingTagErrors_ = 0;
  uint32_t elements_ = 0;
  bool tooManyElements_ = false;
  bool stopped_ = false;
  bool outOfMemory_ = false;
};

std::unique_ptr<TreeInfo> XmlParser::parse(std::string_view text) {
  if (text.size() >= UINT32_MAX || !engine_.load(text)) {
    log_.addError("Out of memory");
    return nullptr;
  }
  while (!stopped_ && !outOfMemory_ && !tooManyElements_ && !engine_.atEnd()) {
    if (current_) {
      readText();
    } else {
      engine_.skipTo('<');  // text outside every element is not kept
    }
    if (!engine_.atEnd()) readMarkup();
  }
  if (outOfMemory_) {
    log_.addError("Out of memory");
    return nullptr;
  }
  if (tooManyElements_) {
    // Refused whole: a document cut short and saved back would lose the rest.
    log_.addError("Too many XML elements");
    log_.addTagInt("maxElements", static_cast<int32_t>(kMaxXmlElements));
    return nullptr;
  }
  return finish();
}

bool XmlParser::countElement() {
  if (++elements_ <= kMaxXmlElements) return true;
  tooManyElements_ = true;
  return false;
}

bool XmlParser::startsInstruction(std::string_view prefix, bool anyCase) const {
  std::string_view text = rest();
  bool matches = anyCase ? StartsWithNoCase(text, prefix) : text.substr(0, prefix.size()) == prefix;
  return matches && text.size() > prefix.size() && IsBlankOrLineEnd(text[prefix.size()]);
}

std::string_view XmlParser::takeUntilAny(const char* stops) {
  taken_.clear();
  if (!engine_.copyUntilAny(stops, taken_)) fail();
  return taken_.view();
}

std::string_view XmlParser::takeName(const char* stops, std::string_view drop) {
  name_.clear();
  if (!engine_.copyUntilAny(stops, name_)) fail();
  for (char c : drop) name_.removeChar(c);
  return name_.view();
}

void XmlParser::readText() {
  std::string_view text = rest();
  size_t end = std::min(text.find('<'), text.size());
  engine_.step(static_cast<uint32_t>(end));
  addText(text.substr(0, end));
}

void XmlParser::addText(std::string_view text) {
  size_t start = text.find_first_not_of(kWhiteSpace);
  if (start == std::string_view::npos) return;  // white space alone adds nothing
  std::string_view leading = trim_ ? std::string_view() : text.substr(0, start);
  std::string_view body = trim_ ? Trimmed(text) : text.substr(start);
  bool hadContent = current_->hasContent();
  StringBuffer& content = current_->contentBuffer();
  // Each piece is decoded once, as it is added: earlier text is never decoded a second time.
  bool ok = content.append(leading) && (!hadContent || content.appendChar(' ')) &&
            AppendXmlEntityDecoded(body, content);
  if (!ok) fail();
}

void XmlParser::readMarkup() {
  switch (rest().size() > 1 ? rest()[1] : 0) {
    case '!':
      if (startsWith(kCdataStart)) {
        readCdata();
      } else if (startsWith("<!--")) {
        skipComment();
      } else if (startsWithNoCase("<!DOCTYPE")) {
        readDoctype();
      } else {
        engine_.skipTo('>');
        engine_.step();
      }
      return;
    case '?':
      if (startsInstruction("<?xml-stylesheet", false)) {
        readInstructionNode(true);
      } else if (startsInstruction("<?xml", true)) {
        readInstructionNode(false);
      } else {
        readOtherInstruction();
      }
      return;
    case '/':
      readClosingTag();
      return;
    default:
      readOpeningTag();
  }
}

void XmlParser::readCdata() {
  engine_.step(static_cast<uint32_t>(kCdataStart.size()));
  std::string_view text = rest();
  size_t end = text.find(kCdataEnd);
  std::string_view data = text.substr(0, end);
  engine_.step(end == std::string_view::npos ? static_cast<uint32_t>(text.size())
                                              : static_cast<uint32_t>(end + kCdataEnd.size()));
  if (!current_) return;
  if (!current_->appendContent(data)) return fail();
  current_->setCdata(true);
}

void XmlParser::skipComment() {
  engine_.step(4);
  if (engine_.seekPast("-->")) return;
  log_.addError("Unclosed comment");
  stopped_ = true;
}

void XmlParser::readDoctype() {
  StringBuffer declaration;
  if (!engine_.copyBalanced('<', '>', 0, declaration)) {
    if (engine_.outOfMemory()) return fail();
    log_.addError("Failed to parse DTD");
    return;
  }
  if (!prologue_.append(declaration) || !prologue_.appendChar('\n')) fail();
}

void XmlParser::readOtherInstruction() {
  std::string_view text = rest();
  size_t end = text.find("?>", 2);
  end = end == std::string_view::npos ? text.size() : end + 2;
  engine_.step(static_cast<uint32_t>(end));
  if (!prologue_.append(text.substr(0, end)) || !prologue_.appendChar('\n')) fail();
}

void XmlParser::readInstructionNode(bool stylesheet) {
  if (stylesheet && !countElement()) return;
  engine_.step(2);
  TreeNode* node = TreeNode::Create(takeUntilAny(" \t\r\n/>"));
  if (!node) return fail();
  if (stylesheet) {
    if (!stylesheets_.append(node)) {
      delete node;
      return fail();
    }
  } else {
    declaration_.reset(node);  // a later declaration replaces an earlier one
  }
  static constexpr AttributeSyntax kInstruction{'?', " \t\r\n=?>", "\"",
                                                &XmlParser::readInstructionValue};
  readAttributeList(*node, kInstruction);
}

std::string_view XmlParser::readInstructionValue() {
  if (engine_.current() == '"' || engine_.current() == '\'') engine_.step();
  std::string_view value = takeUntilAny("\"'\r\n");
  if (engine_.current() == '"' || engine_.current() == '\'') engine_.step();
  return value;
}

void XmlParser::readClosingTag() {
  engine_.step(2);
  std::string_view text = rest();
  size_t stop = 0;
  while (stop < text.size() && text[stop] != '<' && text[stop] != '>') ++stop;
  if (stop == text.size()) {
    engine_.step(static_cast<uint32_t>(text.size()));
  } else if (text[stop] == '>') {
    engine_.step(static_cast<uint32_t>(stop + 1));
  } else {
    engine_.step(static_cast<uint32_t>(stop));
    if (++closingTagErrors_ <= kMaxLoggedClosingTagErrors) {
      log_.addError("Error in closing tag");
      if (current_) log_.addTag("error_tag", current_->tag().getString());
    }
  }
  closeCurrent();
}

void XmlParser::readOpeningTag() {
  if (!countElement()) return;
  engine_.step();
  TreeNode* node = TreeNode::Create(takeUntilAny(" \t\r\n/>"));  // the filter drops any "<"
  if (!node) return fail();
  if (current_) {
    if (!current_->appendChild(node)) {
      delete node;
      return fail();
    }
  } else {
    open_.reset(TreeInfo::Create(node));
    if (!open_) {
      delete node;
      return fail();
    }
  }
  current_ = node;
  static constexpr AttributeSyntax kElement{'/', " \t\r\n=/>", "\"'<",
                                            &XmlParser::readAttributeValue};
  if (readAttributeList(*node, kElement)) closeCurrent();
}

bool XmlParser::readAttributeList(TreeNode& node, const AttributeSyntax& syntax) {
  bool marked = false;
  StringBuffer& value = value_;
  while (!engine_.atEnd()) {
    skipWhiteSpace();
    char c = engine_.current();
    if (c == '>') {
      engine_.step();
      break;
    }
    if (c == syntax.marker) {
      marked = true;
      engine_.step();
      continue;
    }
    if (engine_.atEnd()) break;
    std::string_view name = takeName(syntax.nameStops, syntax.nameDrop);
    skipWhiteSpace();  // "encoding = 'x'" is a well-formed declaration too
    value.clear();
    if (engine_.current() == '=') {
      engine_.step();
      skipWhiteSpace();
      if (!AppendXmlEntityDecoded((this->*syntax.readValue)(), value)) {
        fail();
        break;
      }
    }
    if (!name.empty()) node.addAttribute(name, value.view());
  }
  return marked;
}

std::string_view XmlParser::readAttributeValue() {
  char quote = engine_.current();
  std::string_view value;
  if (quote == '"' || quote == '\'') {
    engine_.step();
    const char stop[] = {quote, 0};
    value = takeUntilAny(stop);
  } else {
    value = takeUntilAny("\"'");  // unquoted: up to the next quote of either kind
  }
  engine_.step();  // the closing quote
  return value;
}

void XmlParser::closeCurrent() {
  if (!current_) return;
  TreeNode* parent = current_->parent();
  if (!parent) completed_ = std::move(open_);  // the last top-level element wins
  current_ = parent;
}

std::unique_ptr<TreeInfo> XmlParser::finish() {
  // An element left open after a completed one is dropped; without a completed one, the
  // outermost open element is the root (an unclosed document is accepted).
  if (!completed_) completed_ = std::move(open_);
  open_.reset();
  if (!completed_) {
    log_.addError("No XML element found");
    return nullptr;
  }
  completed_->setDeclaration(declaration_.release());
  OwningPtrArray& stylesheets = completed_->stylesheets();
  for (int i = 0; i < stylesheets_.count(); ++i) {
    auto* stylesheet = stylesheets_.at<TreeNode>(i);
    stylesheet->setDocument(completed_.get());
    if (!stylesheets.append(stylesheet)) delete stylesheet;
  }
  stylesheets_.clear();
  if (!completed_->prologue().assign(prologue_)) {
    log_.addError("Out of memory");
    return nullptr;
  }
  return std::move(completed_);
}

}  // namespace

bool AppendXmlEntityDecoded(std::string_view text, StringBuffer& out) {
  bool ok = true;
  while (!text.empty()) {
    size_t amp = text.find('&');
    if (amp == std::string_view::npos) break;
    ok = out.append(text.substr(0, amp)) && ok;
    text.remove_prefix(amp);
    const Entity* match = nullptr;
    for (const Entity& entity : kEntities) {
      if (text.substr(0, entity.text.size()) == entity.text) {
        match = &entity;
        break;
      }
    }
    ok = out.appendChar(match ? match->decoded : '&') && ok;
    text.remove_prefix(match ? match->text.size() : 1);
  }
  return out.append(text) && ok;
}

std::unique_ptr<TreeInfo> ParseXmlDocument(std::string_view text, LogBase& log, bool trimContent) {
  XmlParser parser(log, trimContent);
  return parser.parse(text);
}

}  // namespace quillon
