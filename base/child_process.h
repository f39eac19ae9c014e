// A helper program run as a child of this process, spoken to over one socket: part of the
// platform layer. The child gets the socket as descriptors 3 and 4 (read and write) and
// /dev/null for its standard streams; it leads a process group of its own, and the kernel kills
// it when the thread that started it ends, so nothing it starts outlives us even after a crash.
// Stop (and the destructor) kills the whole group and reaps the child.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"

namespace quillon {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }

  // Starts the program at path (an absolute path) with argv (argv[0] included) and this
  // process's environment, in which each "NAME=value" of environment replaces or adds NAME.
  // False with the reason in error.
  bool Start(const std::string& path, const std::vector<std::string>& argv,
             const std::vector<std::string>& environment, std::string& error);
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Writes all of bytes, waiting at most timeoutMs for room. False when the child closed its
  // end, or the time ran out.
  bool Send(std::string_view bytes, uint32_t timeoutMs);

  enum class Received { kData, kTimedOut, kClosed };
  // Reads what has come, at most capacity bytes, waiting at most timeoutMs for the first.
  Received Receive(char* buffer, size_t capacity, size_t& length, uint32_t timeoutMs);

  // Kills the child's process group and waits for the child; harmless when none runs.
  void Stop();

 private:
  pid_t pid_ = -1;
  UniqueFd channel_;
};

}  // namespace quillon
