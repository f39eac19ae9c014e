// The pace of a crawl: at most one request start per interval, across every connection of the
// crawl. The interval is the larger of the run's pause and the site's Crawl-delay, raised while
// the site answers "busy" (429, 503). Safe to use from several threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace quillon {

class CrawlPace {
 public:
  // A busy answer doubles the interval, starting from at least this much.
  static constexpr uint32_t kFirstBackoffMs = 500;
  // The interval never grows past this through busy answers.
  static constexpr uint32_t kMaxBackoffMs = 60000;
  // After this many answers in a row that were not busy, the raised interval halves.
  static constexpr uint32_t kRelaxAfterAnswers = 10;

  void setPauseMs(uint32_t ms);
  void setCrawlDelayMs(uint32_t ms);
  // The time between two request starts now.
  uint32_t intervalMs() const;
  // What busy answers add to the pause and Crawl-delay (0 when the site is not busy).
  uint32_t backoffMs() const;
  // Waits for the next free start and books it; false (nothing booked) once stop is set, or
  // once stopped() says so (asked every few dozen milliseconds while waiting).
  bool WaitTurn(const std::atomic<bool>& stop);
  bool WaitTurn(const std::function<bool()>& stopped);
  // After an answer: busyAnswers is how many 429/503 answers the fetch met (each doubles the
  // interval); an answer without any counts toward relaxing it.
  void NoteAnswer(uint32_t busyAnswers);

 private:
  using Clock = std::chrono::steady_clock;
  uint32_t IntervalLocked() const;

  mutable std::mutex mutex_;
  uint32_t pauseMs_ = 0;
  uint32_t crawlDelayMs_ = 0;
  uint32_t backoffMs_ = 0;
  uint32_t calmAnswers_ = 0;
  Clock::time_point nextStart_{};
};

}  // namespace quillon
