#include "http/cache_file.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "base/log_base.h"
#include "base/platform.h"

namespace quillon {

namespace {

// Files are read in pieces of this size, so a short file costs one small read.
constexpr uint32_t kReadPiece = 64 * 1024;

void LogSystemError(LogBase& log, const char* message, const char* path, int error) {
  log.addError(message);
  log.addTag("filename", path);
  log.addTag("osErrorInfo", SystemErrorText(error).c_str());
}

}  // namespace

double GetLeDouble(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

void PutLeDouble(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

uint32_t Crc32(const void* bytes, uint32_t length) {
  return static_cast<uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), static_cast<const Bytef*>(bytes), static_cast<uInt>(length)));
}

bool ReserveDoubling(DataBuffer& buffer, uint32_t needed, uint32_t ceiling) {
  if (needed <= buffer.capacity()) return true;
  uint64_t capacity = uint64_t{buffer.capacity()} * 2;
  if (capacity > ceiling) capacity = ceiling;
  if (capacity < needed) capacity = needed;
  return buffer.reserve(static_cast<uint32_t>(capacity));
}

BoundedRead ReadFileBounded(const char* path, uint32_t maxBytes, DataBuffer& out, LogBase& log) {
  out.clear();
  if (!fileExists(path)) return BoundedRead::kMissing;
  FileAccess file;
  if (!file.open(path, log)) return BoundedRead::kFailed;
  DataBuffer piece;
  for (;;) {
    const uint64_t room = static_cast<uint64_t>(maxBytes) - out.length();
    // One byte past the limit tells a file of exactly maxBytes from a longer one.
    const uint32_t want = room >= kReadPiece ? kReadPiece : static_cast<uint32_t>(room) + 1;
    const bool full = file.read(out.length(), want, piece);
    if (piece.length() > room) {
      out.clear();
      return BoundedRead::kTooLarge;
    }
    if (!ReserveDoubling(out, out.length() + piece.length(), maxBytes) || !out.append(piece)) {
      log.addError("Out of memory reading cache file");
      return BoundedRead::kFailed;
    }
    if (!full) return BoundedRead::kOk;
  }
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

void AtomicFileWriter::discard() {
  handle_.close();
  if (!temp_.isEmpty()) deleteFile(temp_.getString());
  temp_.clear();
}

bool AtomicFileWriter::begin(const char* path, LogBase& log) {
  discard();
  size_ = 0;
  StringBuffer directory;
  if (!target_.assign(path) || !ensureParentDirectory(path, directory, log)) return false;
  const char* slash = std::strrchr(path, '/');
  StringBuffer base;
  if (!base.assign(slash != nullptr ? slash + 1 : path) || !base.append(".tmp")) return false;
  StringBuffer temp;
  if (!makeUniqueFileName(directory.isEmpty() ? "." : directory.getString(), base.getString(),
                          temp)) {
    log.addError("Failed to choose a temporary cache file name");
    log.addTag("filename", path);
    return false;
  }
  FileFailure reason;
  handle_ = createForWrite(temp.getString(), reason, log);
  if (!handle_.isValid()) return false;
  return temp_.assign(temp);
}

bool AtomicFileWriter::write(const void* bytes, uint32_t length, LogBase& log) {
  if (!patch(size_, bytes, length, log)) return false;
  size_ += length;
  return true;
}

bool AtomicFileWriter::patch(uint64_t position, const void* bytes, uint32_t length, LogBase& log) {
  if (!handle_.isValid()) return false;
  if (length == 0 || writeAt(handle_, position, bytes, length)) return true;
  LogSystemError(log, "Failed to write cache file", temp_.getString(), LastSystemError());
  return false;
}

bool AtomicFileWriter::commit(LogBase& log) {
  if (!handle_.isValid()) return false;
  handle_.close();
  if (std::rename(temp_.getString(), target_.getString()) != 0) {
    LogSystemError(log, "Failed to rename temporary cache file", target_.getString(),
                   LastSystemError());
    discard();
    return false;
  }
  temp_.clear();
  return true;
}

bool WriteFileAtomically(const char* path, const void* first, uint32_t firstLength,
                         const void* second, uint32_t secondLength, LogBase& log) {
  AtomicFileWriter writer;
  return writer.begin(path, log) && writer.write(first, firstLength, log) &&
         writer.write(second, secondLength, log) && writer.commit(log);
}

}  // namespace quillon
