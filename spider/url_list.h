// An ordered list of URLs that is taken from the front and appended at the back, each in
// constant time (a head index instead of moving the rest), as the crawl queues need. The texts
// live in a store, the crawl's seen set: a list keeps only pointers to the store's copies, so a
// URL costs its text once however many lists name it. There is no search.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/hash_map.h"

namespace quillon {

class UrlList {
 public:
  // The store must outlive the list's use of its URLs: clear the list before the store.
  explicit UrlList(HashMap& store) : store_(store) {}
  UrlList(const UrlList&) = delete;
  UrlList& operator=(const UrlList&) = delete;
  ~UrlList();

  int count() const { return static_cast<int>(end_ - head_); }
  bool isEmpty() const { return end_ == head_; }
  // Appends the store's copy of text, putting text into the store first when it is not there
  // yet; false when memory runs out.
  bool appendCopy(std::string_view text);
  // Appends a URL that is the store's own copy (one taken from a list of the same store);
  // false for null or when memory runs out.
  bool append(const char* storedUrl);
  // Removes the first URL and returns it (the store's copy); null when the list is empty.
  const char* takeFront();
  // The i-th URL counted from the front (the store's copy); null when out of range.
  const char* at(int index) const;
  // Empties the list; the store keeps the URLs.
  void clear();

 private:
  HashMap& store_;
  const char** items_ = nullptr;
  uint32_t head_ = 0;
  uint32_t end_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace quillon
