// A browser driven over its debugging protocol on a pipe (--remote-debugging-pipe): commands
// go out as JSON texts ended by a NUL byte on the child's descriptor 3, answers and events come
// back the same way on its descriptor 4. Numbers each command; reads one message at a time,
// each bounded in size, so a confused or hostile browser costs at most that much memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/child_process.h"
#include "base/string_buffer.h"

namespace quillon {

class DevToolsClient {
 public:
  // Messages longer than maxMessageBytes end the conversation (kTooLarge).
  explicit DevToolsClient(uint32_t maxMessageBytes) : maxMessageBytes_(maxMessageBytes) {}

  // Starts the browser program with its arguments (argv[0] included) and environment
  // overrides. False with the reason in error.
  bool Start(const std::string& program, const std::vector<std::string>& argv,
             const std::vector<std::string>& environment, std::string& error);
  // Ends the browser and everything it started.
  void Stop();
  bool running() const { return browser_.running(); }

  // Sends method with params (a JSON object text; empty for none) to session (empty: the
  // browser itself), waiting at most until deadline (a TickCount value). id receives the
  // command's number, which its answer carries.
  bool Send(std::string_view method, std::string_view params, std::string_view session, int64_t& id,
            uint32_t deadline);

  enum class Next { kMessage, kTimedOut, kClosed, kTooLarge };
  // The next message (an answer or an event) in message, waiting at most until deadline.
  Next Receive(StringBuffer& message, uint32_t deadline);

 private:
  ChildProcess browser_;
  const uint32_t maxMessageBytes_;
  int64_t lastId_ = 0;
  // Bytes received and not yet handed out; scanned for the NUL from scanned_ on.
  StringBuffer pending_;
  uint32_t scanned_ = 0;
};

// Milliseconds from now until deadline (a TickCount value); 0 once it has passed.
uint32_t MsUntil(uint32_t deadline);

}  // namespace quillon
