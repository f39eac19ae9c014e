// An output file of the run written as the crawl goes: the pieces are gathered in a small
// buffer and appended to a temporary file beside the name, which is renamed into place at the
// end. So memory does not grow with the site, and a failure leaves no half file.
#pragma once

#include <string>
#include <string_view>

#include "app/failure_reason_log.h"
#include "base/xml_file.h"

namespace tollwick {

class StreamedOutput {
 public:
  // The buffer is written out once it holds this much.
  static constexpr size_t kBlockBytes = 64 * 1024;

  StreamedOutput() = default;
  StreamedOutput(const StreamedOutput&) = delete;
  StreamedOutput& operator=(const StreamedOutput&) = delete;

  // Creates the temporary file for path. A failure is kept for Commit to tell.
  void Begin(const std::string& path);
  // Adds text (dropped once a write failed).
  void Append(std::string_view text);
  // Writes what is left and renames the file into place. False when any step failed; reason
  // then says why (the system's reason when there is one).
  bool Commit(std::string& reason);
  const std::string& path() const { return path_; }

 private:
  bool Flush();

  std::string path_;
  quillon::ReplacingFile file_;
  std::string buffer_;
  FailureReasonLog log_;
  bool failed_ = false;
};

}  // namespace tollwick
