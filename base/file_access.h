// File access on POSIX: opening and creating files, attributes and existence tests, deletion,
// directory creation, unique temporary names, whole-file reads and writes, and random-access
// reading. Paths are UTF-8 (a "\" given by a caller becomes "/"); failures go into the caller's
// log with fixed, numbered messages.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/platform.h"
#include "base/string_buffer.h"

namespace quillon {

class LogBase;

// Why an open or create failed.
enum class FileFailure : int { None = 0, AccessDenied = 1, PathNotFound = 2, Other = 3 };

// The four opens retry a busy file (EBUSY, ETXTBSY) up to 3 more times, 50 ms apart, and log
// "Failed to open file (2)" with the file name when they finally fail; reason says why.
// openForRead: read-only; the file must exist. An empty path fails.
UniqueFd openForRead(const char* path, FileFailure& reason, LogBase& log);
// Read-only, directories too; for querying file information.
UniqueFd openForAttributes(const char* path, FileFailure& reason, LogBase& log);
// Read and write; the file is created (mode 0644 less the umask) when missing.
UniqueFd openReadWrite(const char* path, FileFailure& reason, LogBase& log);
// Write-only, every write landing at the end; the file is created (mode 0644 less the umask)
// when missing.
UniqueFd openForAppend(const char* path, FileFailure& reason, LogBase& log);
// A new empty file replacing any old one; a symbolic link in its place is not followed (fails).
// A file without write permission is made writable and opened once more.
UniqueFd createForWrite(const char* path, FileFailure& reason, LogBase& log);
// Opens (creating it when missing) a lock file and takes its exclusive lock, waiting up to
// timeoutMs for another holder; the lock goes with the descriptor. Invalid (logged) when the
// file cannot be opened or the wait ran out.
UniqueFd lockExclusive(const char* path, uint32_t timeoutMs, LogBase& log);

// The file's mode bits (st_mode); on failure false with the errno value in error.
bool getAttributes(const char* path, uint32_t& attributes, int& error, LogBase& log);
// Sets the permission bits (chmod).
bool setAttributes(const char* path, uint32_t attributes);
// False for a null or empty path and when stat says there is no such file; any other failure
// (access denied, for one) counts as existing. error gets the errno value of a failed stat.
bool fileExists(const char* path, int* error = nullptr);
// Silent; a missing file counts as deleted.
bool deleteFile(const char* path);
// Like deleteFile, but a missing file fails, and every failure is logged.
bool deleteFileLogged(const char* path, LogBase& log);
// One level (mode 0755 less the umask).
bool createDirectory(const char* path, LogBase& log);
// Creates every missing level; an empty path or one that exists succeeds.
bool ensureDirectory(const char* path, LogBase& log);
// ensureDirectory for the part before the last "/", which is also stored in directory (empty
// when there is none).
bool ensureParentDirectory(const char* filePath, StringBuffer& directory, LogBase& log);

// Chooses (does not create) a name "<stem>_XXXX<ext>" that does not exist in the directory.
// An empty base becomes "x", a base without "." gets ".tmp"; false (path empty) after 200 retries.
bool makeUniqueFileName(const char* directory, const char* baseName, StringBuffer& path);
// makeUniqueFileName in TempDirectory().
bool makeTempFileName(const char* baseName, StringBuffer& path, LogBase& log);

// Replaces the file with the bytes (an empty buffer leaves an empty file); a failed write leaves
// what was written. A null or empty path fails silently. log may be null.
bool writeWholeFile(const char* path, const void* bytes, uint32_t length, LogBase* log);
// writeWholeFile, but a null or empty path is logged.
bool writeWholeFileUtf8(const char* path, const void* bytes, uint32_t length, LogBase* log);
// Writes header then body (the header bytes carry their own length field). log may be null.
bool writeTwoPartFile(const char* path, const void* header, uint32_t headerLength,
                      const void* body, uint32_t bodyLength, LogBase* log);

// Writes all the bytes at a position of an open file, whatever the descriptor's own offset;
// false (errno kept) when the file system refuses them.
bool writeAt(const UniqueFd& handle, uint64_t position, const void* bytes, uint32_t length);
// Writes all the bytes at the end of a file opened by openForAppend; false (errno kept, EIO
// when a write took no byte) when the file system refuses them.
bool appendBytes(const UniqueFd& handle, const void* bytes, uint32_t length);
// Cuts an open file to length bytes.
bool truncateFile(const UniqueFd& handle, uint64_t length);

// Makes appendBytes (and so the whole-file writers) behave as on a disk with only this many
// bytes free: it takes what is left, then fails with ENOSPC. kRealDiskSpace restores the real
// disk (tests only).
inline constexpr int64_t kRealDiskSpace = -1;
void SetDiskSpaceForTests(int64_t freeBytes);

// Random-access reading of one file.
class FileAccess {
 public:
  // Closes any previous file and opens path for reading at position 0.
  bool open(const char* path, LogBase& log);
  // Reads count bytes at position into out (cleared first); true only when all were read.
  bool read(int64_t position, uint32_t count, DataBuffer& out);
  void close();
  bool isOpen() const { return handle_.isValid(); }

 private:
  UniqueFd handle_;
  int64_t position_ = 0;
};

}  // namespace quillon
