#include "http/output.h"

#include <cstdint>
#include <algorithm>
#include <cstring>

#include "base/log_base.h"
#include "base/memory.h"

namespace quillon {

bool OutputDataBuffer::writeBytes(const uint8_t* bytes, uint32_t length, LogBase& log) {
  if (length == 0) return true;
  if (position_ > buffer_.length()) position_ = buffer_.length();
  const uint32_t overwrite = std::min(length, buffer_.length() - position_);
  if (overwrite > 0) std::memcpy(buffer_.data() + position_, bytes, overwrite);
  if (overwrite < length && !buffer_.append(bytes + overwrite, length - overwrite)) {
    log.addError("Out of memory for response data.");
    position_ = 0;
    return false;
  }
  position_ += length;
  return true;
}

bool OutputDataBuffer::seek(uint64_t position) {
  if (position > buffer_.length()) return false;
  position_ = static_cast<uint32_t>(position);
  return true;
}

bool OutputDataBuffer::clear(LogBase&) {
  buffer_.clear();
  position_ = 0;
  return true;
}

bool OutputDataBuffer::copyTo(DataBuffer& out, LogBase& log) const {
  if (!out.append(buffer_)) {
    log.addError("Out of memory for response data.");
    return false;
  }
  return true;
}

bool OutputFile::open(const char* path, LogBase& log) {
  handle_.close();
  position_ = 0;
  size_ = 0;
  FileFailure reason = FileFailure::None;
  handle_ = createForWrite(path, reason, log);
  if (!handle_.isValid()) return false;
  return path_.assign(path);
}

// The file functions hand out a descriptor; positioned writes keep the sink's own position
// independent of the descriptor's.
bool OutputFile::writeBytes(const uint8_t* bytes, uint32_t length, LogBase& log) {
  if (!handle_.isValid()) {
    log.addError("Output file is not open.");
    return false;
  }
  if (!writeAt(handle_, position_, bytes, length)) {
    log.addError("Failed to write to output file.");
    log.addTag("filename", path_.getString());
    return false;
  }
  position_ += length;
  if (position_ > size_) size_ = position_;
  return true;
}

bool OutputFile::seek(uint64_t position) {
  if (position > size_) return false;
  position_ = position;
  return true;
}

bool OutputFile::clear(LogBase& log) {
  position_ = 0;
  size_ = 0;
  if (handle_.isValid() && !truncateFile(handle_, 0)) {
    log.addError("Failed to truncate output file.");
    return false;
  }
  return true;
}

bool OutputFile::copyTo(DataBuffer& out, LogBase& log) const {
  // The sink's descriptor is write-only; the content is read back through a reader of its own.
  uint32_t total = 0;
  if (!handle_.isValid() || size_ > UINT32_MAX || !AddSizes32(out.length(), size_, total)) {
    log.addError("Failed to copy output file into memory.");
    return false;
  }
  if (size_ == 0) return true;
  FileAccess reader;
  DataBuffer content;
  if (!reader.open(path_.getString(), log) ||
      !reader.read(0, static_cast<uint32_t>(size_), content) || !out.append(content)) {
    log.addError("Failed to copy output file into memory.");
    return false;
  }
  return true;
}

}  // namespace quillon
