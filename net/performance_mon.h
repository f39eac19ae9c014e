// Transfer-rate reports of one direction of a connection: counts bytes since a start tick and,
// at most every 300 ms, tells the application's progress sink the total and the average rate.
// Nothing is reported when the application gave no sink.
#pragma once

#include <cstdint>

namespace quillon {

class ProgressMonitor;

class PerformanceMon {
 public:
  using TickSource = uint32_t (*)();

  static constexpr int kSend = 1;
  static constexpr int kReceive = 2;
  static constexpr uint32_t kReportIntervalMs = 300;

  // kind is kSend or kReceive; ticks replaces the tick count (tests), null means TickCount.
  explicit PerformanceMon(int kind, TickSource ticks = nullptr);

  // Starts counting again from now.
  void restart();
  // Adds bytes just transferred and reports through progress's application sink when a report
  // is due.
  void addBytes(uint64_t count, ProgressMonitor* progress);

  int kind() const { return kind_; }
  uint64_t totalBytes() const { return total_; }

 private:
  int kind_;
  TickSource ticks_;
  uint32_t startTick_ = 0;
  uint32_t lastReportTick_ = 0;
  uint64_t total_ = 0;
};

}  // namespace quillon
