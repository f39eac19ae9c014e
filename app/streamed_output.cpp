#include "app/streamed_output.h"

#include <cstdint>

namespace tollwick {

void StreamedOutput::Begin(const std::string& path) {
  path_ = path;
  buffer_.clear();
  failed_ = !file_.begin(path.c_str(), log_);
}

void StreamedOutput::Append(std::string_view text) {
  if (failed_) return;
  buffer_ += text;
  if (buffer_.size() >= kBlockBytes) Flush();
}

bool StreamedOutput::Flush() {
  if (!failed_ && !buffer_.empty()) {
    failed_ = buffer_.size() > UINT32_MAX ||
              !file_.append(buffer_.data(), static_cast<uint32_t>(buffer_.size()), log_);
  }
  buffer_.clear();
  return !failed_;
}

bool StreamedOutput::Commit(std::string& reason) {
  if (Flush() && file_.commit(log_)) return true;
  failed_ = true;
  file_.discard();
  reason = log_.reason().empty() ? "the file could not be written" : log_.reason();
  return false;
}

}  // namespace tollwick
