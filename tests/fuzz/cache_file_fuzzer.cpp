// Feeds arbitrary bytes to both cache stores as the stored file of one URL: ClsCache2's loader
// with the lookup that reads its entry data, and HttpCache's lookup and an Add into the (possibly
// damaged) container. Bodies are limited to 1 MiB so that bzip2 bombs stay small.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "base/file_access.h"
#include "base/log_base.h"
#include "base/platform.h"
#include "http/cache_rules.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/output.h"

namespace {

constexpr const char* kUrl = "http://example.com/a.html";

struct Cache {
  quillon::HttpControl settings;
  std::string datPath;
  std::string cafPath;
  std::string dir;
  Cache() {
    // Every run rewrites files: memory-backed /dev/shm keeps that off the disk when it exists.
    std::string pattern =
        (quillon::IsDirectory("/dev/shm") ? std::string("/dev/shm/") : quillon::TempDirectory()) +
        "cache_fuzz_XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) dir = pattern;
    settings.cache.AddRoot(dir.c_str());
    settings.httpCache.AddRoot(dir.c_str());
    settings.httpCache.setMaxBodyBytes(1u << 20);
    quillon::StringBuffer path;
    settings.cache.GetFilename(kUrl, path);
    datPath = path.getString();
    settings.httpCache.FilePath(kUrl, path);
    cafPath = path.getString();
  }
  ~Cache() {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
};

void LookUp(quillon::HttpControl& settings) {
  quillon::LogNull log;
  quillon::DataBuffer body;
  quillon::OutputDataBuffer sink(body);
  quillon::HttpResult result;
  quillon::CacheLookupOutcome outcome;
  quillon::CacheLookup(settings, kUrl, sink, result, outcome, log);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Cache cache;
  if (size > UINT32_MAX) return 0;
  quillon::LogNull log;
  quillon::StringBuffer folder;
  quillon::ensureParentDirectory(cache.cafPath.c_str(), folder, log);
  quillon::writeWholeFile(cache.datPath.c_str(), data, static_cast<uint32_t>(size), nullptr);
  quillon::writeWholeFile(cache.cafPath.c_str(), data, static_cast<uint32_t>(size), nullptr);
  cache.settings.useHttpCache = false;
  LookUp(cache.settings);
  cache.settings.useHttpCache = true;
  LookUp(cache.settings);
  cache.settings.httpCache.Add(kUrl, "HTTP/1.1 200 OK\r\n", "body", false, log);
  LookUp(cache.settings);
  return 0;
}
