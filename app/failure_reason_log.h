// A log that keeps only what a user needs of a failure: the system's reason. The file functions
// log it as the "osErrorInfo" item of a failed open and as the first error line of other
// failures; without either, the first error line names what went wrong.
#pragma once

#include <cstring>
#include <string>

#include "base/log_base.h"

namespace tollwick {

class FailureReasonLog : public quillon::LogNull {
 public:
  bool addError(const char* text) override {
    if (firstError_.empty() && text != nullptr) firstError_ = text;
    return true;
  }
  bool addTag(const char* name, const char* value) override {
    if (systemReason_.empty() && name != nullptr && value != nullptr &&
        std::strcmp(name, "osErrorInfo") == 0) {
      systemReason_ = value;
    }
    return true;
  }
  // The system's reason when one was logged, else the first error line; empty when neither.
  const std::string& reason() const { return systemReason_.empty() ? firstError_ : systemReason_; }

 private:
  std::string firstError_;
  std::string systemReason_;
};

}  // namespace tollwick
