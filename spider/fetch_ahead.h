// Fetches the pages at the front of the crawl's queue on several connections while the engine
// handles the page before them. Each connection is a worker thread with a client of its own,
// set up like the engine's client whenever it is handed a URL. The engine takes the answers in
// queue order, so it handles the pages one by one exactly as with a single connection.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/string_buffer.h"
#include "http/cls_http.h"

namespace quillon {

class CrawlPace;
class ProgressEvent;
class UrlList;

class FetchAhead {
 public:
  // connections workers (at least one) whose request starts keep to pace.
  FetchAhead(int connections, CrawlPace& pace);
  FetchAhead(const FetchAhead&) = delete;
  FetchAhead& operator=(const FetchAhead&) = delete;
  // Ends the fetches in hand and joins the workers.
  ~FetchAhead();

  // Hands the queue's URLs that follow those in hand to idle workers, in queue order, while
  // fewer than limit are in hand. Each worker's client takes model's settings first.
  void Schedule(const UrlList& queue, int limit, ClsHttp& model);
  // A fetched page: the client that answered (its result and log), whether the fetch
  // succeeded, and the page's text.
  struct Answer {
    ClsHttp* client = nullptr;
    bool ok = false;
    StringBuffer* body = nullptr;
  };
  // Waits for the fetch of url, which must be the first in hand (the queue's front, just taken
  // from it), asking progress about a stop meanwhile; a stop heard ends every fetch in hand.
  // False when url is not in hand. The answer stays valid until Release.
  bool Take(const char* url, ProgressEvent* progress, Answer& answer);
  // The worker of the page last taken is free again.
  void Release();
  // Ends the fetches in hand and forgets them (their URLs stay queued, to be fetched again).
  void DropAll();
  int inHand() const;

 private:
  struct Worker;
  void Run(Worker& worker);
  void Fetch(Worker& worker);
  Worker* IdleWorker();

  CrawlPace& pace_;
  mutable std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::vector<std::unique_ptr<Worker>> workers_;
  // The workers handed a URL, in queue order.
  std::deque<Worker*> inHand_;
  Worker* taken_ = nullptr;
  std::atomic<bool> stop_{false};
  bool quit_ = false;
};

}  // namespace quillon
