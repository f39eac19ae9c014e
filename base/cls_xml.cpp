#include "base/cls_xml.h"

#include <climits>
#include <cstdlib>

#include "base/ascii.h"
#include "base/charset/charset.h"
#include "base/charset/encoding_convert.h"
#include "base/html_help.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"
#include "base/xml_file.h"
#include "base/xml_parser.h"
#include "base/xml_serializer.h"

namespace quillon {

namespace {

std::string_view View(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

std::string_view TrimmedText(const char* text) { return Trimmed(View(text)); }

bool IsPathLike(std::string_view text) {
  std::string_view trimmed = Trimmed(text);
  return text.find('<') == std::string_view::npos && trimmed.size() < ClsXml::kMaxPathLikeLength &&
         trimmed.size() >= 4 && EqualsNoCase(trimmed.substr(trimmed.size() - 4), ".xml");
}

bool IsSixteenBitEncodingName(std::string_view name) {
  return EqualsNoCase(name, "utf-16") || EqualsNoCase(name, "ucs-2") ||
         EqualsNoCase(name, "unicode");
}

// The declaration's encoding; when none is declared, "utf-8" is (a declaration "xml" with
// version "1.0" is created when there is none).
bool DeclaredEncoding(TreeInfo& document, StringBuffer& encoding) {
  TreeNode* declaration = document.declaration();
  std::string_view value;
  if (declaration && declaration->attribute("encoding", value)) return encoding.assign(value);
  if (!declaration) {
    declaration = TreeNode::Create("xml");
    if (!declaration || !declaration->addAttribute("version", "1.0")) {
      delete declaration;
      return false;
    }
    document.setDeclaration(declaration);
  }
  return declaration->replaceAttribute("encoding", "utf-8") && encoding.assign("utf-8");
}

}  // namespace

ClsXml::ClsXml() {
  TreeNode* root = TreeNode::Create("unnamed");
  if (!root) return;
  std::unique_ptr<TreeInfo> document(TreeInfo::Create(root));
  if (!document) {
    delete root;
    return;
  }
  adopt(std::move(document));
}

ClsXml::ClsXml(OnNode, TreeNode* node) { standOn(node); }

ClsXml::~ClsXml() { standOn(nullptr); }

TreeNode* ClsXml::validNode() const {
  if (!node_ || !node_->isValid()) return nullptr;
  TreeInfo* document = node_->document();
  return document && document->isValid() ? node_ : nullptr;
}

void ClsXml::standOn(TreeNode* node) {
  if (node) {
    node->addHandle();
    if (node->document()) node->document()->addHandle();
  }
  TreeNode* old = node_;
  node_ = node;
  if (!old) return;
  old->dropHandle();
  TreeInfo* document = old->document();
  if (document && document->dropHandle()) delete document;
}

std::unique_ptr<ClsXml> ClsXml::handleOn(TreeNode* node) {
  if (!node) return nullptr;
  return std::unique_ptr<ClsXml>(new (std::nothrow) ClsXml(OnNode{}, node));
}

void ClsXml::adopt(std::unique_ptr<TreeInfo> document) {
  standOn(document->root());
  document.release();  // owned by its handles from now on
}

bool ClsXml::LoadXml(const char* text, bool trimContent) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.reset();
  LogContextGuard context(log_, "LoadXml");
  if (!text) return false;
  if (IsPathLike(text)) return loadFile(StringBuffer(TrimmedText(text)).getString(), trimContent);
  std::unique_ptr<TreeInfo> document = ParseXmlDocument(text, log_, trimContent);
  if (!document) return false;
  adopt(std::move(document));
  return true;
}

bool ClsXml::LoadXmlFile(const char* path, bool trimContent) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.reset();
  return loadFile(path, trimContent);
}

bool ClsXml::loadFile(const char* path, bool trimContent) {
  LogContextGuard context(log_, "LoadXmlFile");
  StringBuffer trimmedPath(TrimmedText(path));
  DataBuffer bytes;
  if (!bytes.loadFile(trimmedPath.getString(), log_) || !DecodeXmlFileBytes(bytes, log_)) {
    return false;
  }
  std::unique_ptr<TreeInfo> document = ParseXmlDocument(bytes.view(), log_, trimContent);
  if (!document) {
    log_.addTagQuotedPrintable("filename", trimmedPath.getString());
    return false;
  }
  // The text is UTF-8 now, and will be written so unless the caller declares otherwise.
  TreeNode* declaration = document->declaration();
  std::string_view encoding;
  if (declaration && declaration->attribute("encoding", encoding) &&
      IsSixteenBitEncodingName(encoding)) {
    declaration->replaceAttribute("encoding", "utf-8");
  }
  adopt(std::move(document));
  return true;
}

bool ClsXml::SaveXml(const char* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.reset();
  LogContextGuard context(log_, "SaveXml");
  if (!node_) {
    log_.addError("null tree");
    return false;
  }
  if (!validNode()) {
    log_.addError("invalid tree");
    return false;
  }
  StringBuffer encoding;
  StringBuffer xml;
  if (!DeclaredEncoding(*node_->document(), encoding) || !SerializeXml(*node_, xml)) {
    log_.addError("Out of memory");
    return false;
  }
  if (encoding.equalsIgnoreCase("utf-8")) {
    return ReplaceFileAtomically(path, xml.getString(), xml.length(), log_);
  }
  DataBuffer converted;
  EncodingConvert converter;
  int codePage = codePageForName(encoding.getString());
  // UTF-16 gets its byte-order mark: without it the file could not be read back.
  if (codePage == kCodePageUtf16Le || codePage == kCodePageUtf16Be) {
    converter.convertWithPreamble(kCodePageUtf8, codePage, xml.getString(), xml.length(),
                                  converted);
  } else {
    converter.convertToName(kCodePageUtf8, encoding.getString(), xml.getString(), xml.length(),
                            converted);
  }
  if (converter.unsupported() || converter.outOfMemory()) {
    log_.addError("Cannot convert the XML text to its declared encoding");
    log_.addTag("encoding", encoding.getString());
    return false;
  }
  return ReplaceFileAtomically(path, converted.data(), converted.length(), log_);
}

bool ClsXml::ToXmlText(StringBuffer& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out.clear();
  TreeNode* node = validNode();
  return node && SerializeXml(*node, out);
}

bool ClsXml::PutTag(const char* tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  return node && node->setTag(View(tag));
}

bool ClsXml::TagText(StringBuffer& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out.clear();
  TreeNode* node = validNode();
  return node && out.append(node->tag());
}

bool ClsXml::PutContent(const char* content) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  return node && node->setContent(View(content));
}

bool ClsXml::ContentText(StringBuffer& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out.clear();
  TreeNode* node = validNode();
  return node && out.append(node->content());
}

bool ClsXml::AppendAttr(const char* name, const char* value) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  return node && node->addAttribute(TrimmedText(name), View(value));
}

bool ClsXml::ReplaceAttr(const char* name, const char* value) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  return node && node->replaceAttribute(TrimmedText(name), View(value));
}

bool ClsXml::ReplaceAttr(const char* name, int value) {
  StringBuffer text;
  return text.appendInt(value) && ReplaceAttr(name, text.getString());
}

bool ClsXml::AttrText(const char* name, StringBuffer& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out.clear();
  TreeNode* node = validNode();
  std::string_view value;
  return node && node->attribute(TrimmedText(name), value) && out.append(value);
}

int ClsXml::AttrNumber(const char* name) {
  StringBuffer text;
  if (!AttrText(name, text)) return 0;
  long number = std::strtol(text.getString(), nullptr, 10);
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

bool ClsXml::AttrEquals(const char* name, const char* value) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  if (!node || !node->attributes()) return false;
  std::string_view wanted = TrimmedText(name);
  bool found = false;
  node->attributes()->forEach([&](const XmlAttributes::Attribute& attribute) {
    found = attribute.name == wanted && attribute.value == View(value);
    return !found;
  });
  return found;
}

TreeNode* ClsXml::appendChild(TreeNode& parent, const char* tag, const char* content) {
  StringBuffer name(TrimmedText(tag));
  name.replaceChar(' ', '_');
  TreeNode* child = TreeNode::Create(name.view());
  if (!child || !child->setContent(View(content)) || !parent.appendChild(child)) {
    delete child;
    return nullptr;
  }
  return child;
}

std::unique_ptr<ClsXml> ClsXml::AppendChildNode(const char* tag, const char* content) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  return node ? handleOn(appendChild(*node, tag, content)) : nullptr;
}

bool ClsXml::AppendChild(const char* tag, const char* content) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  return node && appendChild(*node, tag, content) != nullptr;
}

std::unique_ptr<ClsXml> ClsXml::FirstChildHandle() {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  return node ? handleOn(node->firstChild()) : nullptr;
}

std::unique_ptr<ClsXml> ClsXml::ChildByTag(const char* tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  if (!node) return nullptr;
  std::string_view wanted = TrimmedText(tag);
  for (TreeNode* child = node->firstChild(); child; child = child->nextSibling()) {
    if (child->tag().view() == wanted) return handleOn(child);
  }
  return nullptr;
}

std::unique_ptr<ClsXml> ClsXml::ChildByTagAndAttr(const char* tag, const char* name,
                                                  const char* pattern) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  if (!node) return nullptr;
  std::string_view wanted = TrimmedText(tag);
  std::string_view attributeName = View(name);
  for (TreeNode* child = node->firstChild(); child; child = child->nextSibling()) {
    if (child->tag().view() != wanted || !child->attributes()) continue;
    bool matches = false;
    child->attributes()->forEach([&](const XmlAttributes::Attribute& attribute) {
      matches = attribute.name == attributeName &&
                HtmlHelp::MatchesWildcard(attribute.value, pattern, true);
      return !matches;
    });
    if (matches) return handleOn(child);
  }
  return nullptr;
}

bool ClsXml::MoveToParent() { return moveAlong(&TreeNode::parent); }

bool ClsXml::MoveToFirstChild() { return moveAlong(&TreeNode::firstChild); }

bool ClsXml::MoveToNextSibling() { return moveAlong(&TreeNode::nextSibling); }

bool ClsXml::moveAlong(TreeNode* (TreeNode::*neighbour)() const) {
  std::lock_guard<std::mutex> lock(mutex_);
  TreeNode* node = validNode();
  TreeNode* next = node ? (node->*neighbour)() : nullptr;
  if (!next) return false;
  standOn(next);
  return true;
}

}  // namespace quillon
