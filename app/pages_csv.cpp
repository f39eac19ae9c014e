#include "app/pages_csv.h"

#include <cerrno>

#include "app/failure_reason_log.h"
#include "base/data_buffer.h"
#include "base/file_access.h"

namespace tollwick {
namespace {

// Rows are written to the scratch file in blocks of about this size, and read back so.
constexpr size_t kSpoolBlock = 1 << 20;

// A spooled field: its length in decimal, ":", then its bytes.
void PutField(std::string& out, std::string_view text) {
  out += std::to_string(text.size());
  out += ':';
  out += text;
}

// Reads the next field of a spooled row from text at pos; false when the row is cut short.
bool TakeField(std::string_view text, size_t& pos, std::string& field) {
  size_t colon = text.find(':', pos);
  if (colon == std::string_view::npos || colon == pos || colon - pos > 19) return false;
  uint64_t length = 0;
  for (size_t i = pos; i < colon; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    length = length * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  if (length > text.size() - colon - 1) return false;
  field.assign(text.substr(colon + 1, length));
  pos = colon + 1 + length;
  return true;
}

uint64_t NumberOf(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

constexpr int kSpooledFields = 13;

// Reads one spooled row starting at pos; false when the text ends first.
bool TakeRow(std::string_view text, size_t& pos, PageRow& row) {
  std::string fields[kSpooledFields];
  size_t at = pos;
  for (std::string& field : fields) {
    if (!TakeField(text, at, field)) return false;
  }
  pos = at;
  row.url = std::move(fields[0]);
  row.status = static_cast<int>(NumberOf(fields[1]));
  row.reason = std::move(fields[2]);
  row.depth = static_cast<int>(NumberOf(fields[3]));
  row.referrer = std::move(fields[4]);
  row.title = std::move(fields[5]);
  row.description = std::move(fields[6]);
  row.bytes = NumberOf(fields[7]);
  row.ms = static_cast<uint32_t>(NumberOf(fields[8]));
  row.contentType = std::move(fields[9]);
  row.inSitemap = fields[10] == "1";
  row.notInSitemapBecause = std::move(fields[11]);
  row.lastModified = std::move(fields[12]);
  row.inlinks = 0;
  return true;
}

}  // namespace

std::string CsvHeaderLine() {
  return "url,status,reason,depth,first_referrer,inlinks,title,description,bytes,milliseconds,"
         "content_type,in_sitemap_xml,not_in_sitemap_because,last_modified\r\n";
}

std::string CsvField(std::string_view text) {
  bool quote = !text.empty() && (text.front() == ' ' || text.front() == '\t' ||
                                 text.back() == ' ' || text.back() == '\t');
  quote = quote || text.find_first_of(",\"\r\n") != std::string_view::npos;
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvLine(const PageRow& row) {
  std::string line = CsvField(row.url);
  auto add = [&line](std::string_view text) {
    line += ',';
    line += CsvField(text);
  };
  add(row.status == 0 ? std::string() : std::to_string(row.status));
  add(row.reason);
  add(std::to_string(row.depth));
  add(row.referrer);
  add(std::to_string(row.inlinks));
  add(row.title);
  add(row.description);
  add(std::to_string(row.bytes));
  add(std::to_string(row.ms));
  add(row.contentType);
  add(row.inSitemap ? "yes" : "no");
  add(row.notInSitemapBecause);
  add(row.lastModified);
  return line + "\r\n";
}

void PageSpool::Remove() {
  file_.close();
  if (!path_.empty()) quillon::deleteFile(path_.c_str());
  path_.clear();
  buffer_.clear();
}

bool PageSpool::Open(const std::string& path, std::string& error) {
  quillon::deleteFile(path.c_str());
  FailureReasonLog log;
  quillon::FileFailure failure;
  file_ = quillon::openForAppend(path.c_str(), failure, log);
  if (!file_.isValid()) {
    error = log.reason().empty() ? "the file could not be created" : log.reason();
    return false;
  }
  path_ = path;
  return true;
}

bool PageSpool::Add(const PageRow& row) {
  if (!error_.empty() || !file_.isValid()) return false;
  PutField(buffer_, row.url);
  PutField(buffer_, std::to_string(row.status));
  PutField(buffer_, row.reason);
  PutField(buffer_, std::to_string(row.depth));
  PutField(buffer_, row.referrer);
  PutField(buffer_, row.title);
  PutField(buffer_, row.description);
  PutField(buffer_, std::to_string(row.bytes));
  PutField(buffer_, std::to_string(row.ms));
  PutField(buffer_, row.contentType);
  PutField(buffer_, row.inSitemap ? "1" : "0");
  PutField(buffer_, row.notInSitemapBecause);
  PutField(buffer_, row.lastModified);
  ++rows_;
  return buffer_.size() < kSpoolBlock || Flush();
}

bool PageSpool::Flush() {
  if (buffer_.empty()) return true;
  if (!quillon::appendBytes(file_, buffer_.data(), static_cast<uint32_t>(buffer_.size()))) {
    error_ = quillon::SystemErrorText(errno);
    return false;
  }
  buffer_.clear();
  return true;
}

bool PageSpool::Replay(const std::function<void(PageRow&)>& visit) {
  if (!error_.empty() || !Flush()) return false;
  FailureReasonLog log;
  quillon::FileAccess reader;
  if (!reader.open(path_.c_str(), log)) {
    error_ = log.reason().empty() ? "the scratch file could not be read" : log.reason();
    return false;
  }
  std::string pending;
  quillon::DataBuffer block;
  int64_t position = 0;
  size_t seen = 0;
  PageRow row;
  for (;;) {
    const bool full = reader.read(position, kSpoolBlock, block);
    position += block.length();
    pending.append(block.view());
    size_t pos = 0;
    while (seen < rows_ && TakeRow(pending, pos, row)) {
      visit(row);
      ++seen;
    }
    pending.erase(0, pos);
    if (!full || block.length() == 0) break;
  }
  if (seen != rows_) {
    error_ = "the scratch file ended early";
    return false;
  }
  return true;
}

}  // namespace tollwick
