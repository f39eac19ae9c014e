// Feeds arbitrary page text to link extraction and to the page processing that resolves,
// filters and queues the links (robots rules off, so nothing is fetched).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/ext_ptr_array.h"
#include "spider/cls_spider.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view page(reinterpret_cast<const char*>(data), size);
  quillon::ClsSpider spider;
  spider.setObeyRobots(false);
  spider.BeginSite("example.test");
  quillon::OwningPtrArray links;
  spider.ExtractLinks(page, links);
  spider.ProcessPage("http://example.test/dir/page.html?x=1", page, nullptr);
  return 0;
}
