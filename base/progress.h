// Progress and abort: the application's event sink (ProgressEvent), a sink that only records
// (AsyncProgressEvent) and the per-operation ProgressMonitor that turns byte counts into whole
// percentages, throttles callbacks and keeps a sticky abort flag. The monitor is not locked:
// one operation's thread uses it.
#pragma once

#include <atomic>
#include <cstdint>

namespace quillon {

// The application's event interface. Every slot has a harmless default.
class ProgressEvent {
 public:
  virtual ~ProgressEvent() = default;

  // The whole percentage done has risen to percent; set abort to stop the operation.
  virtual void PercentUpdate(int percent, bool& abort);
  // A periodic chance to abort; abort arrives false and is left so by default.
  virtual void AbortCheck(bool& abort);
  // The caller's own periodic tick while it waits (value is 0).
  virtual void IntervalTick(int value, bool& abort);

  // A redirect from oldUrl to newUrl is about to be followed; set abort to refuse it.
  virtual void OnRedirect(const char* oldUrl, const char* newUrl, bool& abort);
  // The response body arrives in chunked transfer coding.
  virtual void OnChunked();
  // Transfer rate of the bytes sent, and of those received, so far on one connection.
  virtual void OnSendRate(uint64_t bytesPerSec, uint64_t totalBytes);
  virtual void OnReceiveRate(uint64_t bytesPerSec, uint64_t totalBytes);
};

// Records the last percentage and answers every question with its abort-requested flag, which
// another thread may set at any time.
class AsyncProgressEvent : public ProgressEvent {
 public:
  void PercentUpdate(int percent, bool& abort) override;
  void AbortCheck(bool& abort) override;
  void IntervalTick(int value, bool& abort) override;

  void setAbortRequested(bool requested) { abortRequested_.store(requested); }
  bool abortRequested() const { return abortRequested_.load(); }
  int lastPercent() const { return lastPercent_.load(); }

 private:
  std::atomic<bool> abortRequested_{false};
  std::atomic<int> lastPercent_{0};
};

// One operation's progress: counts bytes towards a total, reports each rise of the whole
// percentage, asks the sink about aborting at most once per interval (300 ms unless the caller
// gives one) and keeps the answer until resetTotal.
class ProgressMonitor {
 public:
  using TickSource = uint32_t (*)();

  static constexpr uint32_t kDefaultIntervalMs = 300;
  // Both terms are divided by 10 until the total is at most this, so done * 100 fits 64 bits.
  static constexpr int64_t kPercentScaleLimit = 1000000;

  // sink may be null (an embedded AsyncProgressEvent is used); it is not owned. ticks replaces
  // the system tick count (tests); null means TickCount.
  ProgressMonitor(ProgressEvent* sink, int64_t total, TickSource ticks = nullptr);
  ProgressMonitor(const ProgressMonitor&) = delete;
  ProgressMonitor& operator=(const ProgressMonitor&) = delete;

  // Whole percentage of done in total; 100 when total is 0 or less.
  static int percent(int64_t done, int64_t total);

  bool isAborted() const { return aborted_; }

  // Counts bytes just transferred; may call PercentUpdate, or AbortCheck when the interval has
  // passed. abort reports an abort asked for in this call. Nothing happens while counting is
  // suspended.
  void consumeAndCheck(uint32_t count, bool& abort);
  void consumeAndCheck64(uint64_t count, bool& abort);
  // Counts bytes; may call PercentUpdate, whose abort answer is ignored.
  void consume(uint64_t count);
  // Sets the absolute amount done (clamped to total); may call PercentUpdate.
  void setDone(uint32_t amount, bool& abort);
  void setDone64(int64_t amount, bool& abort);
  // The caller's periodic check while it waits: calls IntervalTick once ms have passed since the
  // last one (at once on a new monitor). ms is remembered as the interval; 0 never ticks.
  // Returns whether the operation is aborted.
  bool checkInterval(uint32_t ms);
  // The abort poll of waiting loops: checkInterval(ms) when ms > 0, else AbortCheck once 300 ms
  // have passed since the last callback. Returns whether the operation is aborted.
  bool pollAbort(uint32_t ms);
  // Counts whatever remains up to total.
  void finish();
  // A new total: nothing done, no percentage reported, the abort flag cleared.
  void resetTotal(uint32_t total);
  void resetTotal64(int64_t total);

  // Set by readers around framing bytes (chunk headers) that must not count.
  void setCountingSuspended(bool suspended) { countingSuspended_ = suspended; }
  bool countingSuspended() const { return countingSuspended_; }

  int64_t total() const { return total_; }
  int64_t done() const { return done_; }
  int lastPercent() const { return lastPercent_; }
  // The sink the application gave, or null when the monitor uses its embedded one.
  ProgressEvent* applicationSink() const { return sink_ == &ownEvent_ ? nullptr : sink_; }
  // The sink that receives the callbacks.
  ProgressEvent& sink() const { return *sink_; }
  // The embedded sink used when the application gave none.
  AsyncProgressEvent& ownEvent() { return ownEvent_; }

 private:
  uint32_t now() const { return ticks_(); }
  // Adds count to done (clamped to total); returns the percentage reached when it rose past
  // every one reported before, else -1.
  int countBytes(uint64_t count);
  int moveDoneTo(int64_t done);

  AsyncProgressEvent ownEvent_;
  ProgressEvent* sink_;
  TickSource ticks_;
  int64_t total_;
  int64_t done_ = 0;
  int lastPercent_ = 0;
  bool aborted_ = false;
  bool countingSuspended_ = false;
  uint32_t lastCallbackTick_;
  uint32_t intervalMs_ = 0;
  uint32_t lastIntervalTick_ = 0;
};

// Bytes moved while it lives are not body progress (a head, a connect, a buffer fill that a
// reader counts on delivery). Restores the state it found, so guards nest; a null monitor is
// left alone.
class CountingSuspended {
 public:
  explicit CountingSuspended(ProgressMonitor* progress)
      : progress_(progress), before_(progress != nullptr && progress->countingSuspended()) {
    if (progress_ != nullptr) progress_->setCountingSuspended(true);
  }
  ~CountingSuspended() {
    if (progress_ != nullptr) progress_->setCountingSuspended(before_);
  }
  CountingSuspended(const CountingSuspended&) = delete;
  CountingSuspended& operator=(const CountingSuspended&) = delete;

 private:
  ProgressMonitor* progress_;
  bool before_;
};

}  // namespace quillon
