#include "base/logger.h"

#include <cinttypes>
#include <cstdio>
#include <new>

#include "base/file_access.h"
#include "base/platform.h"

namespace quillon {

namespace {

// Entries never grow after they are built, so their texts take only the room they need.
std::unique_ptr<StringBuffer> MakeText(std::string_view text) {
  std::unique_ptr<StringBuffer> buffer(new (std::nothrow) StringBuffer(StringBuffer::Increment{1}));
  if (!buffer || !buffer->append(text)) return nullptr;
  return buffer;
}

template <class... Parts>
void Append(StringBuffer& out, const Parts&... parts) {
  (out.append(parts), ...);
}

bool IsTrimChar(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// XML text content: wrapped in CDATA when it holds markup or line structure, unless it is
// already CDATA-wrapped. A "]]>" inside a wrapped value is split across two sections so it
// cannot end the section early.
void AppendXmlValue(const StringBuffer& value, StringBuffer& out) {
  std::string_view text = value.view();
  bool wrap = text.find_first_of("\n\t&<>") != std::string_view::npos;
  if (wrap && text.find("<![CDATA[") != std::string_view::npos &&
      text.find("]]>") != std::string_view::npos) {
    wrap = false;
  }
  if (!wrap) {
    out.append(text);
    return;
  }
  out.append("<![CDATA[");
  size_t start = 0;
  for (size_t end; (end = text.find("]]>", start)) != std::string_view::npos; start = end + 2) {
    out.append(text.substr(start, end + 2 - start));
    out.append("]]><![CDATA[");
  }
  out.append(text.substr(start));
  out.append("]]>");
}

// "&" "<" ">" and the double quote as entities (one pass gives the same result as replacing
// them in that order).
void AppendHtmlEscaped(const StringBuffer& value, StringBuffer& out) {
  std::string_view text = value.view();
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      default: continue;
    }
    out.append(text.substr(start, i - start));
    out.append(entity);
    start = i + 1;
  }
  out.append(text.substr(start));
}

}  // namespace

// ---- LogEntry2

void LogEntry2::clearContent() {
  children_.reset();
  name_.reset();
  value_.reset();
}

bool LogEntry2::setContext(std::string_view name) {
  clearContent();
  kind_ = kContext;
  name_ = MakeText(name);
  children_.reset(new (std::nothrow) OwningPtrArray);
  if (name_ && children_) return true;
  clearContent();
  return false;
}

bool LogEntry2::setTag(std::string_view name, std::string_view value) {
  clearContent();
  kind_ = kTag;
  name_ = MakeText(name);
  value_ = MakeText(value);
  if (name_ && value_) return true;
  clearContent();
  return false;
}

bool LogEntry2::setText(char kind, std::string_view value) {
  clearContent();
  kind_ = kind;
  value_ = MakeText(value);
  return value_ != nullptr;
}

void LogEntry2::renderXml(StringBuffer& out) const {
  switch (kind_) {
    case kContext:
      if (!name_ || !children_) return;
      Append(out, "<", *name_, ">\r\n");
      for (int i = 0; i < children_->count(); ++i) children_->at<LogEntry2>(i)->renderXml(out);
      Append(out, "</", *name_, ">\r\n");
      return;
    case kTag:
      if (!name_ || !value_) return;
      Append(out, "<", *name_, ">");
      AppendXmlValue(*value_, out);
      Append(out, "</", *name_, ">\r\n");
      return;
    case kError:
    case kInfo: {
      if (!value_) return;
      const char* element = kind_ == kError ? "error>" : "info>";
      Append(out, "<", element);
      AppendXmlValue(*value_, out);
      Append(out, "</", element, "\r\n");
      return;
    }
    default:
      if (!value_) return;
      AppendXmlValue(*value_, out);
      out.append("\r\n");
      return;
  }
}

void LogEntry2::renderHtml(StringBuffer& out) const {
  if (kind_ == kContext) {
    if (!name_ || !children_) return;
    Append(out, *name_, ":<blockquote>\r\n");
    for (int i = 0; i < children_->count(); ++i) children_->at<LogEntry2>(i)->renderHtml(out);
    out.append("</blockquote>\r\n");
    return;
  }
  if (!value_ || (kind_ == kTag && !name_)) return;
  if (kind_ == kTag) Append(out, *name_, ": ");
  AppendHtmlEscaped(*value_, out);
  out.append("<br>\r\n");
}

void LogEntry2::renderText(StringBuffer& out, uint32_t depth) const {
  if (kind_ == kContext && (!name_ || !children_)) return;
  if (kind_ != kContext && (!value_ || (kind_ == kTag && !name_))) return;
  out.appendChars(' ', 2 * depth);
  if (kind_ == kContext) {
    Append(out, *name_, ":\r\n");
    for (int i = 0; i < children_->count(); ++i) {
      children_->at<LogEntry2>(i)->renderText(out, depth + 1);
    }
    return;
  }
  if (kind_ == kTag) Append(out, *name_, ": ");
  Append(out, *value_, "\r\n");
}

// ---- ErrorLog

ErrorLog::ErrorLog() { reset(); }

ErrorLog::~ErrorLog() { deleteRoot(); }

LogEntry2* ErrorLog::root() const { return stack_.at<LogEntry2>(0); }

LogEntry2* ErrorLog::current() const { return static_cast<LogEntry2*>(stack_.last()); }

void ErrorLog::deleteRoot() {
  LogEntry2* old = root();
  stack_.clear();
  delete old;
}

bool ErrorLog::reset() {
  deleteRoot();
  unmatchedOpens_ = 0;
  auto* fresh = new (std::nothrow) LogEntry2;
  if (!fresh || !fresh->setContext(kRootName) || !stack_.append(fresh)) {
    delete fresh;
    return false;
  }
  return true;
}

bool ErrorLog::append(LogEntry2* entry) {
  LogEntry2* context = current();
  if (!entry || !context || !context->children() || !context->children()->append(entry)) {
    delete entry;
    return false;
  }
  return true;
}

bool ErrorLog::openContext(LogEntry2* context) {
  // Once an open has failed, the opens nested in it are counted too, so that every
  // closeContext still pairs with its own open.
  if (unmatchedOpens_ == 0 && append(context)) {
    if (stack_.append(context)) return true;
    delete current()->children()->pop();
  } else if (unmatchedOpens_ > 0) {
    delete context;
  }
  ++unmatchedOpens_;
  return false;
}

void ErrorLog::closeContext() {
  if (unmatchedOpens_ > 0) {
    --unmatchedOpens_;
    return;
  }
  if (stack_.count() > 1) stack_.pop();
  if (stack_.count() > 1) {
    ExtPtrArray* siblings = current()->children();
    auto* last = siblings ? siblings->at<LogEntry2>(siblings->count() - 1) : nullptr;
    if (last && last->kind() == LogEntry2::kContext &&
        (!last->children() || last->children()->isEmpty())) {
      delete siblings->pop();
    }
  }
}

// ---- Logger

bool NormaliseTagName(const char* name, StringBuffer& out) {
  out.clear();
  if (!name) return false;
  std::string_view text(name);
  while (!text.empty() && IsTrimChar(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimChar(text.back())) text.remove_suffix(1);
  if (text.empty() || !out.append(text)) return false;
  out.replaceChar(' ', '_');
  return true;
}

bool Logger::appendEntry(LogEntry2* entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.append(entry);
}

bool Logger::addText(char kind, const char* text) {
  if (!text) return true;
  auto* entry = new (std::nothrow) LogEntry2;
  if (!entry || !entry->setText(kind, text)) {
    delete entry;
    return false;
  }
  return appendEntry(entry);
}

bool Logger::addError(const char* text) { return addText(LogEntry2::kError, text); }
bool Logger::addInfo(const char* text) { return addText(LogEntry2::kInfo, text); }
bool Logger::addLine(const char* text) { return addText(LogEntry2::kLine, text); }

bool Logger::addTag(const char* name, const char* value) {
  StringBuffer normalised(StringBuffer::Increment{1});
  if (!value || !NormaliseTagName(name, normalised)) return false;
  auto* entry = new (std::nothrow) LogEntry2;
  if (!entry || !entry->setTag(normalised.view(), value)) {
    delete entry;
    return false;
  }
  return appendEntry(entry);
}

bool Logger::addTagInt(const char* name, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return addTag(name, text);
}

bool Logger::addTagInt64(const char* name, int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRId64, value);
  return addTag(name, text);
}

bool Logger::addTagHex(const char* name, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return addTag(name, text);
}

bool Logger::addTickTag(const char* name) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", TickCount());
  return addTag(name, text);
}

bool Logger::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.reset();
}

bool Logger::openContext(const char* name, int) {
  // A null name still counts as an open context, so its closeContext stays paired.
  auto* context = name ? new (std::nothrow) LogEntry2 : nullptr;
  if (context && !context->setContext(name)) {
    delete context;
    context = nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.openContext(context);
}

bool Logger::closeContext() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.closeContext();
  return true;
}

void Logger::renderXml(StringBuffer& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out.clear();
  if (LogEntry2* root = log_.root()) root->renderXml(out);
}

void Logger::renderHtml(StringBuffer& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out.clear();
  if (LogEntry2* root = log_.root()) root->renderHtml(out);
}

void Logger::renderText(StringBuffer& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out.clear();
  if (LogEntry2* root = log_.root()) root->renderText(out, 0);
}

bool Logger::saveXml(const char* path, int) {
  if (!path) return false;
  StringBuffer xml;
  renderXml(xml);
  return writeWholeFile(path, xml.getString(), xml.length(), nullptr);
}

void ErrorReportText(LogBase& log, StringBuffer& out) {
  out.clear();
  log.renderText(out);
  out.toCrlf();
}

}  // namespace quillon
