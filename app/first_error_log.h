// A log that keeps only the first error line: the file functions log the system's reason first,
// and that is the line a user needs.
#pragma once

#include <string>

#include "base/log_base.h"

namespace tollwick {

class FirstErrorLog : public quillon::LogNull {
 public:
  bool addError(const char* text) override {
    if (first_.empty() && text != nullptr) first_ = text;
    return true;
  }
  const std::string& first() const { return first_; }

 private:
  std::string first_;
};

}  // namespace tollwick
