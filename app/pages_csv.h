// pages.csv: one RFC 4180 row (UTF-8, CR LF) per URL the crawl fetched or tried, in crawl order.
// The rows are spooled to a scratch file beside it while the crawl runs, so memory stays flat
// however large the site; the inlink counts, known only when the crawl ends, are filled in as
// the spool is copied into pages.csv.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"

namespace tollwick {

// One row of pages.csv.
struct PageRow {
  std::string url;
  int status = 0;      // the first answer's status (a redirect's own); 0: none came
  std::string reason;  // why it failed, or where it redirected; "" for a plain answer
  int depth = 0;       // link steps from the start address
  std::string referrer;
  uint32_t inlinks = 0;
  std::string title;
  std::string description;
  uint64_t bytes = 0;
  uint32_t ms = 0;
  std::string contentType;
  bool inSitemap = false;
  std::string notInSitemapBecause;
  std::string lastModified;
};

// The header line's names, in column order.
std::string CsvHeaderLine();
// A field as RFC 4180 writes it: quoted (with quotes doubled) when it holds a comma, a quote, a
// line break or leading or trailing white space; else as it is.
std::string CsvField(std::string_view text);
// The whole line of a row, CR LF at its end.
std::string CsvLine(const PageRow& row);

// The scratch file of rows. Rows are buffered and appended; Replay reads them back in order.
class PageSpool {
 public:
  PageSpool() = default;
  PageSpool(const PageSpool&) = delete;
  PageSpool& operator=(const PageSpool&) = delete;
  // Removes the scratch file.
  ~PageSpool() { Remove(); }

  // Creates the scratch file at path (replacing one there). False with the reason in error.
  bool Open(const std::string& path, std::string& error);
  // False once a write failed (the reason in error()); later rows are dropped.
  bool Add(const PageRow& row);
  // Reads every row back in order into visit. False (reason in error()) when the file fails.
  bool Replay(const std::function<void(PageRow&)>& visit);
  // Closes and deletes the scratch file (the row count stays).
  void Remove();
  size_t rows() const { return rows_; }
  const std::string& error() const { return error_; }

 private:
  bool Flush();

  std::string path_;
  quillon::UniqueFd file_;
  std::string buffer_;
  size_t rows_ = 0;
  std::string error_;
};

}  // namespace tollwick
