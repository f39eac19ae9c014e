#include "base/file_access.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "base/log_base.h"
#include "base/memory.h"
#include "base/platform.h"
#include "base/quillon_rand.h"

namespace quillon {

namespace {

// Another process (an indexer, a running program) may hold a file for a moment.
constexpr int kBusyRetries = 3;
constexpr uint32_t kBusyRetryDelayMs = 50;
// How often a wait for a lock looks again.
constexpr uint32_t kLockRetryDelayMs = 10;
constexpr int kUniqueNameRetries = 200;
constexpr mode_t kFileMode = 0644;
constexpr mode_t kDirectoryMode = 0755;
// Zero bytes kept after a loaded file's data, so that loaded text is terminated.
constexpr uint32_t kSpareZeroBytes = 4;
constexpr uint32_t kHeaderLengthField = 4;
constexpr const char kNameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Output files: the temporary directory is shared, so a link planted in place of the file is
// never followed.
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;

// The free bytes a test gave appendBytes, or kRealDiskSpace for no limit.
std::atomic<int64_t> g_testDiskSpace{kRealDiskSpace};

// How many of length bytes the disk takes in one write; 0 with ENOSPC when a test's disk is
// full. A short count is what a filling disk gives before it refuses.
uint32_t WritableLength(uint32_t length) {
  int64_t space = g_testDiskSpace.load();
  if (space < 0) return length;
  if (space == 0) errno = ENOSPC;
  return static_cast<uint32_t>(std::min<int64_t>(length, space));
}

// Counts written bytes against a test's free space.
void TakeDiskSpace(ssize_t written) {
  if (written > 0 && g_testDiskSpace.load() >= 0) g_testDiskSpace -= written;
}

struct FreeBytesDeleter {
  void operator()(void* block) const { FreeBytes(block); }
};
using OwnedBlock = std::unique_ptr<uint8_t, FreeBytesDeleter>;

// Copies a caller's path with every "\" turned into "/"; false when memory runs out.
bool ToPosixPath(const char* path, StringBuffer& out) {
  if (!out.assign(path ? path : "")) return false;
  out.replaceChar('\\', '/');
  return true;
}

FileFailure FailureFor(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return FileFailure::AccessDenied;
    case ENOENT:
    case ENOTDIR:
      return FileFailure::PathNotFound;
    default:
      return FileFailure::Other;
  }
}

// Opens with O_CLOEXEC, retrying a busy file. O_NONBLOCK keeps a FIFO or device in the file's
// place from hanging the open; it is cleared again on success. error gets errno on failure.
UniqueFd OpenWithRetries(const char* path, int flags, int& error) {
  error = 0;
  for (int attempt = 0;;) {
    int fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK, kFileMode);
    if (fd >= 0) {
      int status = ::fcntl(fd, F_GETFL);
      if (status != -1) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
      return UniqueFd(fd);
    }
    error = errno;
    if (error == EINTR) continue;
    if ((error != EBUSY && error != ETXTBSY) || attempt >= kBusyRetries) return UniqueFd();
    ++attempt;
    SleepMs(kBusyRetryDelayMs);
  }
}

void AddErrorText(LogBase& log, int error) {
  StringBuffer text;
  text.appendSystemErrorText(error);
  log.addError(text.getString());
}

void AddErrorTextTag(LogBase& log, const char* name, int error) {
  StringBuffer text;
  text.appendSystemErrorText(error);
  log.addTag(name, text.getString());
}

void LogOpenFailure(LogBase& log, const char* path, int error) {
  log.addError("Failed to open file (2)");
  log.addTagQuotedPrintable("ansiFilename", path);
  AddErrorTextTag(log, "osErrorInfo", error);
}

// Writes every byte, resuming after partial writes and interruptions. False with error set when
// write fails or writes nothing.
bool WriteAll(const UniqueFd& handle, const void* bytes, uint32_t length, int& error) {
  if (appendBytes(handle, bytes, length)) return true;
  error = errno;
  return false;
}

// Reads up to length bytes, stopping early only at the end of the file; got says how many.
// False with error set when read fails.
bool ReadAll(int fd, void* into, uint32_t length, uint32_t& got, int& error) {
  uint8_t* p = static_cast<uint8_t*>(into);
  got = 0;
  while (got < length) {
    ssize_t n = ::read(fd, p + got, length - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      return false;
    }
    if (n == 0) break;
    got += static_cast<uint32_t>(n);
  }
  return true;
}

// Closes a written file; a failing close can mean lost data, so it is reported.
bool CloseWritten(UniqueFd& handle, int& error) {
  if (::close(handle.release()) == 0) return true;
  error = errno;
  return false;
}

// Gives a regular file without owner write permission that permission.
bool MakeWritable(const char* path) {
  struct stat st;
  if (::lstat(path, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR)) return false;
  return ::chmod(path, (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool MakeDirectory(const char* path, LogBase& log, bool existingCounts) {
  if (::mkdir(path, kDirectoryMode) == 0) return true;
  int error = errno;
  // Created by someone else meanwhile; a dangling link also gives EEXIST, so look again.
  if (existingCounts && error == EEXIST && fileExists(path)) return true;
  AddErrorTextTag(log, "errorMsg", error);
  return false;
}

// One level for ensureDirectory: an empty path and "." succeed, an existing path succeeds,
// otherwise it is created.
bool EnsureOne(const char* path, LogBase& log) {
  if (*path == '\0' || std::strcmp(path, ".") == 0) return true;
  if (fileExists(path)) return true;
  return MakeDirectory(path, log, true);
}

void LogCannotEnsure(LogBase& log, const char* path) {
  log.addError("Cannot ensure directory existence");
  log.addTag("path", path);
}

// What an open function adds to the log after the common open-failure lines.
enum class ExtraFailureItem { None, ErrorCode, FileName };

// The shared body of the four open functions: path conversion, the open with its retries (and,
// for a file being created, one more try after making a read-only file writable) and the
// failure report.
UniqueFd OpenLogged(const char* path, int flags, ExtraFailureItem extra, FileFailure& reason,
                      LogBase& log) {
  reason = FileFailure::None;
  StringBuffer p;
  if (!ToPosixPath(path, p)) {
    reason = FileFailure::Other;
    return UniqueFd();
  }
  int error = 0;
  UniqueFd handle = OpenWithRetries(p.getString(), flags, error);
  if (!handle.isValid() && (flags & O_CREAT) && (flags & O_TRUNC) && error == EACCES &&
      MakeWritable(p.getString())) {
    handle = OpenWithRetries(p.getString(), flags, error);
  }
  if (!handle.isValid()) {
    reason = FailureFor(error);
    LogOpenFailure(log, p.getString(), error);
    if (extra == ExtraFailureItem::ErrorCode)
      log.addTagHex("WindowsError", static_cast<uint32_t>(error));
    if (extra == ExtraFailureItem::FileName) log.addTag("Filename", p.getString());
  }
  return handle;
}

}  // namespace

UniqueFd openForRead(const char* path, FileFailure& reason, LogBase& log) {
  if (path == nullptr || *path == '\0') {
    log.addError("Cannot open file, filename is empty.");
    reason = FileFailure::Other;
    return UniqueFd();
  }
  return OpenLogged(path, O_RDONLY, ExtraFailureItem::ErrorCode, reason, log);
}

UniqueFd openForAttributes(const char* path, FileFailure& reason, LogBase& log) {
  return OpenLogged(path, O_RDONLY, ExtraFailureItem::ErrorCode, reason, log);
}

UniqueFd openReadWrite(const char* path, FileFailure& reason, LogBase& log) {
  return OpenLogged(path, O_RDWR | O_CREAT, ExtraFailureItem::None, reason, log);
}

UniqueFd openForAppend(const char* path, FileFailure& reason, LogBase& log) {
  return OpenLogged(path, O_WRONLY | O_CREAT | O_APPEND, ExtraFailureItem::None, reason, log);
}

UniqueFd createForWrite(const char* path, FileFailure& reason, LogBase& log) {
  return OpenLogged(path, kCreateFlags, ExtraFailureItem::FileName, reason, log);
}

UniqueFd lockExclusive(const char* path, uint32_t timeoutMs, LogBase& log) {
  FileFailure reason;
  UniqueFd file = OpenLogged(path, O_RDWR | O_CREAT, ExtraFailureItem::FileName, reason, log);
  if (!file.isValid()) return file;
  const uint32_t start = TickCount();
  while (::flock(file.fd(), LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || TickCount() - start >= timeoutMs) {
      AddErrorText(log, errno);
      log.addError("Failed to lock the file");
      log.addTagQuotedPrintable("filename", path);
      return UniqueFd();
    }
    SleepMs(kLockRetryDelayMs);
  }
  return file;
}

bool getAttributes(const char* path, uint32_t& attributes, int& error, LogBase& log) {
  error = 0;
  if (path == nullptr || *path == '\0') {
    log.addError("GetAttributes: filename is empty");
    error = ENOENT;
    return false;
  }
  StringBuffer p;
  if (!ToPosixPath(path, p)) {
    error = ENOMEM;
    return false;
  }
  struct stat st;
  if (::stat(p.getString(), &st) != 0) {
    error = errno;
    return false;
  }
  attributes = st.st_mode;
  return true;
}

bool setAttributes(const char* path, uint32_t attributes) {
  StringBuffer p;
  if (path == nullptr || !ToPosixPath(path, p)) return false;
  return ::chmod(p.getString(), static_cast<mode_t>(attributes & 07777)) == 0;
}

bool fileExists(const char* path, int* error) {
  if (error) *error = 0;
  if (path == nullptr || *path == '\0') return false;
  uint32_t attributes = 0;
  int code = 0;
  LogNull log;
  if (getAttributes(path, attributes, code, log)) return true;
  if (error) *error = code;
  // Anything but "no such file" (access denied, say) means something is there.
  return !(code == ENOENT || code == ENOTDIR || code == ENAMETOOLONG || code == ELOOP);
}

bool deleteFile(const char* path) {
  StringBuffer p;
  if (path == nullptr || *path == '\0' || !ToPosixPath(path, p)) return false;
  return ::unlink(p.getString()) == 0 || errno == ENOENT;
}

bool deleteFileLogged(const char* path, LogBase& log) {
  if (path == nullptr || *path == '\0') {
    log.addError("Cannot delete file, filename is null or empty");
    return false;
  }
  StringBuffer p;
  if (!ToPosixPath(path, p)) return false;
  int error = 0;
  if (!fileExists(p.getString(), &error)) {
    log.addWindowsError(error);
    log.addTag("delete_filename_1", p.getString());
    log.addInfo("Cannot delete file, file does not exist");
    return false;
  }
  if (::unlink(p.getString()) == 0) return true;
  error = errno;
  log.addInfo("Cannot delete file");
  log.addTag("delete_filename_2", p.getString());
  StringBuffer text("DeleteFile: ");
  text.appendSystemErrorText(error);
  log.addInfo(text.getString());
  return false;
}

bool createDirectory(const char* path, LogBase& log) {
  StringBuffer p;
  if (!ToPosixPath(path, p)) return false;
  return MakeDirectory(p.getString(), log, false);
}

bool ensureDirectory(const char* path, LogBase& log) {
  StringBuffer p;
  if (!ToPosixPath(path, p)) return false;
  p.trim();
  if (p.isEmpty()) return true;
  if (EnsureOne(p.getString(), log)) return true;

  // Create level by level, from the first one below the root.
  const char* text = p.getString();
  uint32_t length = p.length();
  uint32_t start = 0;
  while (start < length && text[start] == '/') ++start;
  bool sawSeparator = false;
  StringBuffer prefix;
  for (uint32_t i = start; i < length; ++i) {
    if (text[i] != '/') continue;
    sawSeparator = true;
    if (!prefix.assign(text, i)) return false;
    if (!EnsureOne(prefix.getString(), log)) {
      LogCannotEnsure(log, prefix.getString());
      return false;
    }
  }
  if (!sawSeparator || !EnsureOne(text, log)) {
    LogCannotEnsure(log, text);
    return false;
  }
  return true;
}

bool ensureParentDirectory(const char* filePath, StringBuffer& directory, LogBase& log) {
  directory.clear();
  if (filePath == nullptr) {
    log.addError("No filePath");
    return false;
  }
  StringBuffer p;
  if (!ToPosixPath(filePath, p)) return false;
  p.trim();
  const char* text = p.getString();
  const char* slash = std::strrchr(text, '/');
  if (slash == nullptr || slash == text) return true;
  if (!directory.assign(text, static_cast<uint32_t>(slash - text))) return false;
  return ensureDirectory(directory.getString(), log);
}

bool makeUniqueFileName(const char* directory, const char* baseName, StringBuffer& path) {
  path.clear();
  StringBuffer dir;
  StringBuffer base;
  if (!ToPosixPath(directory, dir) || !ToPosixPath(baseName, base)) return false;
  if (base.isEmpty() && !base.assign("x")) return false;
  const char* dot = std::strrchr(base.getString(), '.');
  if (dot == nullptr && !base.append(".tmp")) return false;
  if (!dir.endsWith("/") && !dir.appendChar('/')) return false;

  const char* baseText = base.getString();
  dot = std::strrchr(baseText, '.');
  uint32_t stemLength = static_cast<uint32_t>(dot - baseText);

  QuillonRand::reseedWithTickCount();
  StringBuffer candidate;
  for (int attempt = 0; attempt <= kUniqueNameRetries; ++attempt) {
    char random[5];
    for (int i = 0; i < 4; ++i) random[i] = kNameChars[QuillonRand::uniform(sizeof kNameChars - 1)];
    random[4] = '\0';
    candidate.clear();
    if (!candidate.append(dir) || !candidate.append(baseText, stemLength) ||
        !candidate.appendChar('_') || !candidate.append(random) || !candidate.append(dot)) {
      return false;
    }
    if (!fileExists(candidate.getString())) return path.assign(candidate);
  }
  return false;
}

bool makeTempFileName(const char* baseName, StringBuffer& path, LogBase& log) {
  std::string dir = TempDirectory();
  if (makeUniqueFileName(dir.c_str(), baseName, path)) return true;
  log.addError("Failed to choose a unique temporary file name");
  log.addTag("tempDir", dir.c_str());
  return false;
}

bool writeWholeFile(const char* path, const void* bytes, uint32_t length, LogBase* log) {
  LogNull nullLog;
  LogBase& out = log ? *log : nullLog;
  if (path == nullptr || *path == '\0') return false;
  if (bytes == nullptr && length != 0) {
    out.addError("No data to write");
    return false;
  }
  StringBuffer p;
  if (!ToPosixPath(path, p)) return false;
  int error = 0;
  UniqueFd handle = OpenWithRetries(p.getString(), kCreateFlags, error);
  if (!handle.isValid()) {
    out.addTagQuotedPrintable("ansiFilename", p.getString());
    AddErrorText(out, error);
    out.addError("Failed to write complete file (7)");
    return false;
  }
  if (!WriteAll(handle, bytes, length, error) || !CloseWritten(handle, error)) {
    out.addTagQuotedPrintable("ansiFilename2", p.getString());
    AddErrorText(out, error);
    out.addError("Failed to write complete file (1)");
    return false;
  }
  return true;
}

bool writeWholeFileUtf8(const char* path, const void* bytes, uint32_t length, LogBase* log) {
  LogNull nullLog;
  LogBase& out = log ? *log : nullLog;
  if (path == nullptr) {
    out.addError("NULL filename");
    return false;
  }
  if (*path == '\0') {
    out.addError("zero-length filename");
    return false;
  }
  return writeWholeFile(path, bytes, length, &out);
}

bool writeTwoPartFile(const char* path, const void* header, uint32_t headerLength,
                      const void* body, uint32_t bodyLength, LogBase* log) {
  LogNull nullLog;
  LogBase& out = log ? *log : nullLog;
  if (path == nullptr || *path == '\0') return false;
  if ((header == nullptr && headerLength != 0) || (body == nullptr && bodyLength != 0)) {
    out.addError("No data to write");
    return false;
  }
  StringBuffer p;
  if (!ToPosixPath(path, p)) return false;
  FileFailure reason;
  UniqueFd handle = createForWrite(p.getString(), reason, out);
  if (!handle.isValid()) return false;
  int error = 0;
  const char* failure = nullptr;
  if (!WriteAll(handle, header, headerLength, error)) {
    failure = "Failed to write complete file (4)";
  } else if (!WriteAll(handle, body, bodyLength, error) || !CloseWritten(handle, error)) {
    failure = "Failed to write complete file (5)";
  }
  if (failure == nullptr) return true;
  out.addTag("filename", p.getString());
  AddErrorText(out, error);
  out.addError(failure);
  return false;
}

bool DataBuffer::loadFile(const char* path, LogBase& log, uint64_t maxBytes) {
  clear();
  StringBuffer p;
  if (!ToPosixPath(path, p)) return false;
  FileFailure reason;
  UniqueFd handle = openForRead(p.getString(), reason, log);
  if (!handle.isValid()) return false;

  struct stat st;
  if (::fstat(handle.fd(), &st) != 0) {
    AddErrorText(log, errno);
    log.addError("Failed to get file size (64)");
    return false;
  }
  int64_t fileSize = st.st_size;
  if (fileSize <= 0) return true;
  if (static_cast<uint64_t>(fileSize) > maxBytes) {
    log.addError("File is larger than the limit");
    log.addTagInt64("fileSize", fileSize);
    log.addTagInt64("limit", static_cast<int64_t>(maxBytes));
    return false;
  }
  uint32_t capacity = 0;
  if (!AddSizes32(static_cast<uint64_t>(fileSize), kSpareZeroBytes, capacity)) {
    log.addError("Out of memory for data buffer");
    log.addTagInt64("fileSize", fileSize);
    return false;
  }
  uint32_t size = capacity - kSpareZeroBytes;
  OwnedBlock block(static_cast<uint8_t*>(AllocBytes(capacity)));
  if (!block) {
    log.addError("Out of memory");
    log.addTagInt64("fileSize", fileSize);
    return false;
  }
  uint32_t got = 0;
  int error = 0;
  if (!ReadAll(handle.fd(), block.get(), size, got, error)) {
    AddErrorText(log, error);
    log.addTag("filename", p.getString());
    log.addTag("current_dir", CurrentDirectory().c_str());
    return false;
  }
  if (got != size) {
    log.addError("Failed to read the entire file");
    return false;
  }
  std::memset(block.get() + size, 0, kSpareZeroBytes);
  takeOwnership(block.release(), size, capacity);
  return true;
}

bool DataBuffer::loadFileWithHeader(const char* path, DataBuffer& header,
                                    uint32_t maxHeaderLength, LogBase* log) {
  LogNull nullLog;
  LogBase& out = log ? *log : nullLog;
  clear();
  StringBuffer p;
  if (!ToPosixPath(path, p)) return false;
  const char* name = p.getString();
  FileFailure reason;
  UniqueFd handle = openForRead(name, reason, out);
  if (!handle.isValid()) return false;

  struct stat st;
  if (::fstat(handle.fd(), &st) != 0) {
    AddErrorText(out, errno);
    return false;
  }
  uint64_t fileSize = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  if (fileSize < kHeaderLengthField) {
    out.addError("File is empty or too small");
    return true;
  }

  uint8_t field[kHeaderLengthField];
  uint32_t got = 0;
  int error = 0;
  if (!ReadAll(handle.fd(), field, sizeof field, got, error)) {
    AddErrorText(out, error);
    out.addTag("filename", name);
    return false;
  }
  if (got != sizeof field) {
    out.addError("Failed to read the entire header");
    out.addTag("filename", name);
    return false;
  }
  uint32_t headerLength = static_cast<uint32_t>(field[0]) | (static_cast<uint32_t>(field[1]) << 8) |
                          (static_cast<uint32_t>(field[2]) << 16) |
                          (static_cast<uint32_t>(field[3]) << 24);
  if (headerLength <= kHeaderLengthField || headerLength > maxHeaderLength) {
    out.addError("Invalid header size");
    out.addTag("filename", name);
    return false;
  }
  // A length past the end of the file would only read short.
  if (headerLength > fileSize) {
    out.addError("Failed to read the entire header");
    out.addTag("filename", name);
    return false;
  }

  uint32_t headerBytes = headerLength - kHeaderLengthField;
  OwnedBlock headerBlock(static_cast<uint8_t*>(AllocBytes(headerBytes)));
  if (!headerBlock) {
    out.addError("Out of memory for header.");
    return false;
  }
  if (!ReadAll(handle.fd(), headerBlock.get(), headerBytes, got, error)) {
    AddErrorText(out, error);
    out.addTag("filename", name);
    return false;
  }
  if (got != headerBytes) {
    out.addError("Failed to read the entire header");
    out.addTag("filename", name);
    return false;
  }
  header.takeOwnership(headerBlock.release(), headerBytes, headerBytes);

  uint64_t bodySize = fileSize - headerLength;
  uint32_t capacity = 0;
  OwnedBlock bodyBlock;
  if (AddSizes32(bodySize, kSpareZeroBytes, capacity)) {
    bodyBlock.reset(static_cast<uint8_t*>(AllocBytes(capacity)));
  }
  if (!bodyBlock) {
    out.addError("Out of memory reading file after header");
    return false;
  }
  uint32_t size = capacity - kSpareZeroBytes;
  if (!ReadAll(handle.fd(), bodyBlock.get(), size, got, error)) {
    AddErrorText(out, error);
    out.addTag("filename", name);
    return false;
  }
  if (got != size) {
    out.addError("Failed to read the entire file");
    return false;
  }
  std::memset(bodyBlock.get() + size, 0, kSpareZeroBytes);
  takeOwnership(bodyBlock.release(), size, capacity);
  return true;
}

bool FileAccess::open(const char* path, LogBase& log) {
  close();
  FileFailure reason;
  handle_ = openForRead(path, reason, log);
  return handle_.isValid();
}

bool FileAccess::read(int64_t position, uint32_t count, DataBuffer& out) {
  if (!handle_.isValid()) return false;
  if (position != position_) {
    if (::lseek(handle_.fd(), static_cast<off_t>(position), SEEK_SET) < 0) return false;
    position_ = position;
  }
  out.clear();
  if (!out.reserve(count)) return false;
  uint32_t got = 0;
  int error = 0;
  bool ok = ReadAll(handle_.fd(), out.data(), count, got, error);
  out.setLength(got);
  position_ += got;
  return ok && got == count;
}

void FileAccess::close() {
  handle_.close();
  position_ = 0;
}

bool writeAt(const UniqueFd& handle, uint64_t position, const void* bytes, uint32_t length) {
  auto* next = static_cast<const uint8_t*>(bytes);
  while (length > 0) {
    ssize_t n = ::pwrite(handle.fd(), next, length, static_cast<off_t>(position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    next += n;
    length -= static_cast<uint32_t>(n);
    position += static_cast<uint64_t>(n);
  }
  return true;
}

bool appendBytes(const UniqueFd& handle, const void* bytes, uint32_t length) {
  auto* next = static_cast<const uint8_t*>(bytes);
  while (length > 0) {
    uint32_t take = WritableLength(length);
    if (take == 0) return false;
    ssize_t n = ::write(handle.fd(), next, take);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // nothing written and no error: the file system took no byte
    if (n <= 0) return false;
    TakeDiskSpace(n);
    next += n;
    length -= static_cast<uint32_t>(n);
  }
  return true;
}

bool truncateFile(const UniqueFd& handle, uint64_t length) {
  return ::ftruncate(handle.fd(), static_cast<off_t>(length)) == 0;
}

void SetDiskSpaceForTests(int64_t freeBytes) { g_testDiskSpace.store(freeBytes); }

}  // namespace quillon
