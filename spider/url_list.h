// An ordered list of owned URL strings that is taken from the front and appended at the back,
// each in constant time (a head index instead of moving the rest), as the crawl queues need.
// Strings move in and out by ownership transfer; there is no search.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/string_buffer.h"

namespace quillon {

class UrlList {
 public:
  UrlList() = default;
  UrlList(const UrlList&) = delete;
  UrlList& operator=(const UrlList&) = delete;
  ~UrlList();

  int count() const { return static_cast<int>(end_ - head_); }
  bool isEmpty() const { return end_ == head_; }
  // Takes url (deleted when memory runs out, then false). A null url is refused.
  bool append(std::unique_ptr<StringBuffer> url);
  // Appends a copy of text, trimmed to its size; false when memory runs out.
  bool appendCopy(std::string_view text);
  // Removes the first URL and hands it over; null when the list is empty.
  std::unique_ptr<StringBuffer> takeFront();
  // The i-th URL counted from the front, still owned here; null when out of range.
  const StringBuffer* at(int index) const;
  // Deletes every URL.
  void clear();

 private:
  StringBuffer** items_ = nullptr;
  uint32_t head_ = 0;
  uint32_t end_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace quillon
