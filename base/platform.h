// The platform layer: the one place in base/ (with the file functions) that calls the OS for
// time, code pages, the temporary directory, random bytes, error texts, sleeping and the
// ownership of descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageOem = 437;

// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits.
uint32_t TickCount();

// The ANSI code page: 65001 unless a test set another one.
int AnsiCodePage();
// 437.
int OemCodePage();
// Process-wide override of the ANSI code page (tests run with 1252); 0 restores the default.
void SetAnsiCodePageForTests(int codePage);

// $TMPDIR when set and non-empty, else /tmp, always with a trailing "/".
std::string TempDirectory();
std::string CurrentDirectory();

// Whether the descriptor is a terminal (isatty).
bool IsTerminal(int fd);

// Fills the buffer from the kernel's random source (getrandom); false when it fails.
bool CryptoRandomBytes(void* buffer, size_t length);

// Owns one POSIX descriptor (a file or a socket) and closes it when destroyed or reset.
// Move-only. The close's own result is not reported: a caller that must know whether written
// data reached the file releases the descriptor and closes it itself.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  bool isValid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Closes the descriptor held, if any, and takes fd.
  void reset(int fd = -1);
  void close() { reset(); }
  // Gives the descriptor up unclosed; the caller owns it from then on.
  int release();

 private:
  int fd_ = -1;
};

// The calling thread's last error (errno).
int LastSystemError();
// The system's message text for an error code (errno value), without a trailing line end.
std::string SystemErrorText(int code);

// The eight 16-bit fields of a calendar time.
struct SystemTime {
  uint16_t year = 0;
  uint16_t month = 0;      // 1-12
  uint16_t dayOfWeek = 0;  // 0 = Sunday
  uint16_t day = 0;        // 1-31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

SystemTime LocalTimeNow();
SystemTime UtcTimeNow();
// Minutes to add to local time to get UTC (Windows' bias: UTC = local + bias).
int TimeZoneBiasMinutes();

void SleepMs(uint32_t milliseconds);

// Makes path a folder only this user can enter: created with mode 0700 when missing, then used
// only when lstat shows a real directory owned by the user (group and other bits are cleared).
// The temporary directory is shared, so a link or someone else's folder there is refused.
// False with a message for the user in error.
bool MakePrivateDirectory(const std::string& path, std::string& error);

// A folder the user named for files only this user should touch: created with mode 0700 when
// missing; an existing one keeps its mode, but must be a real directory (lstat) owned by the
// user that neither its group nor others can write to. False with a message in error.
bool PrepareUserDirectory(const std::string& path, std::string& error);

// Creates path with mode 0700 only when nothing is there yet (an exclusive mkdir), so the
// caller knows the folder is its own. Failed comes with a message in error.
enum class NewDirectory { Made, Exists, Failed };
NewDirectory MakeNewPrivateDirectory(const std::string& path, std::string& error);

// True when path names a directory (links followed).
bool IsDirectory(const std::string& path);

// Whether path can be opened for writing (created when missing, never truncated, a link in its
// place refused). False with a message for the user in error.
bool CheckWritableFile(const std::string& path, std::string& error);

// SIGINT and SIGTERM set a flag the crawl loop reads instead of ending the process; a second
// signal ends it the usual way.
void InstallStopSignalHandlers();
bool StopSignalled();
// The signal that set the flag (SIGINT or SIGTERM), 0 when none.
int StopSignalNumber();
// Sets the flag as SIGINT would, or clears it.
void SetStopSignalledForTests(bool signalled);

// The absolute path of program: itself when it holds a "/", else the first executable file of
// that name in a folder of $PATH; empty when there is none.
std::string FindProgram(const std::string& program);

// Whether this process runs as root (effective user 0).
bool IsSuperUser();

// A new folder only this user can enter, "<folder><prefix>XXXXXX" (mkdtemp; folder ends in
// "/"). False with a message in error.
bool MakeTemporaryDirectory(const std::string& folder, const std::string& prefix, std::string& path,
                            std::string& error);
// Deletes path and everything under it without following links; true when nothing is left.
bool RemoveTree(const std::string& path);

// Starts program with one argument (found on PATH) without waiting for it; false when it
// could not be started.
bool LaunchDetached(const char* program, const char* argument);
// The folder of this program's executable (from /proc/self/exe, else of fallbackPath), without
// a trailing slash.
std::string ExecutableFolder(const char* fallbackPath);
// Replaces this process with the program at path, run without arguments; returns (false) only
// when that failed.
bool ReplaceProcess(const char* path);

}  // namespace quillon
