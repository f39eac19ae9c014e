#include "spider/devtools_client.h"

#include "base/json_text.h"
#include "base/platform.h"

namespace quillon {

namespace {

constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

uint32_t MsUntil(uint32_t deadline) {
  const int32_t left = static_cast<int32_t>(deadline - TickCount());
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

bool DevToolsClient::Start(const std::string& program, const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment, std::string& error) {
  Stop();
  return browser_.Start(program, argv, environment, error);
}

void DevToolsClient::Stop() {
  browser_.Stop();
  pending_.clear();
  scanned_ = 0;
}

bool DevToolsClient::Send(std::string_view method, std::string_view params,
                          std::string_view session, int64_t& id, uint32_t deadline) {
  id = ++lastId_;
  StringBuffer message;
  bool ok = message.append("{\"id\":") && message.appendInt64(id) &&
            message.append(",\"method\":") && JsonText::AppendString(message, method);
  if (!params.empty()) ok = ok && message.append(",\"params\":") && message.append(params);
  if (!session.empty()) {
    ok = ok && message.append(",\"sessionId\":") && JsonText::AppendString(message, session);
  }
  // The NUL after the text ends the message.
  ok = ok && message.append("}") && message.appendChar('\0');
  return ok && browser_.Send(message.view(), MsUntil(deadline));
}

DevToolsClient::Next DevToolsClient::Receive(StringBuffer& message, uint32_t deadline) {
  char chunk[kReadChunk];
  for (;;) {
    const size_t end = pending_.view().find('\0', scanned_);
    if (end != std::string_view::npos) {
      const bool ok = message.assign(pending_.view().substr(0, end));
      pending_.removeRange(0, static_cast<uint32_t>(end + 1));
      scanned_ = 0;
      return ok ? Next::kMessage : Next::kTooLarge;
    }
    scanned_ = pending_.length();
    if (pending_.length() > maxMessageBytes_) return Next::kTooLarge;
    size_t got = 0;
    switch (browser_.Receive(chunk, sizeof chunk, got, MsUntil(deadline))) {
      case ChildProcess::Received::kData:
        if (!pending_.append(chunk, static_cast<uint32_t>(got))) return Next::kTooLarge;
        break;
      case ChildProcess::Received::kTimedOut:
        if (MsUntil(deadline) == 0) return Next::kTimedOut;
        break;
      case ChildProcess::Received::kClosed:
        return Next::kClosed;
    }
  }
}

}  // namespace quillon
