// Body sinks for HTTP responses, kept in memory (OutputDataBuffer) or in a file (OutputFile).
// They hold bytes only; decoding and limits are the reader's business.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/file_access.h"
#include "base/output.h"
#include "base/string_buffer.h"

namespace quillon {

class LogBase;

// Writes into a byte buffer owned by the caller, which must outlive the sink.
class OutputDataBuffer : public Output {
 public:
  // The position starts at the buffer's end, so writes append to what it holds.
  explicit OutputDataBuffer(DataBuffer& buffer) : buffer_(buffer), position_(buffer.length()) {}
  OutputDataBuffer(const OutputDataBuffer&) = delete;
  OutputDataBuffer& operator=(const OutputDataBuffer&) = delete;

  // Overwrites from the position and appends the rest. False, with a log line, when memory
  // runs out (the buffer is then emptied by DataBuffer).
  bool writeBytes(const uint8_t* bytes, uint32_t length, LogBase& log) override;
  void takeEndAsPosition() override { position_ = buffer_.length(); }
  bool seek(uint64_t position) override;
  uint64_t size() const override { return buffer_.length(); }
  bool describe(StringBuffer& out) const override { return out.append("memory"); }
  bool clear(LogBase& log) override;
  bool copyTo(DataBuffer& out, LogBase& log) const override;
  DataBuffer* dataBuffer() override { return &buffer_; }

 private:
  DataBuffer& buffer_;
  uint32_t position_;
};

// Writes into a file it creates (replacing any old one) and owns.
class OutputFile : public Output {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates path as a new empty file; false with the file functions' log lines.
  bool open(const char* path, LogBase& log);
  bool isOpen() const { return handle_.isValid(); }
  void close() { handle_.close(); }

  bool writeBytes(const uint8_t* bytes, uint32_t length, LogBase& log) override;
  void takeEndAsPosition() override { position_ = size_; }
  bool seek(uint64_t position) override;
  uint64_t size() const override { return size_; }
  bool describe(StringBuffer& out) const override { return out.append(path_); }
  bool clear(LogBase& log) override;
  bool copyTo(DataBuffer& out, LogBase& log) const override;

 private:
  UniqueFd handle_;
  StringBuffer path_;
  uint64_t position_ = 0;
  uint64_t size_ = 0;
};

}  // namespace quillon
