#include "base/platform.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

extern char** environ;

namespace quillon {

namespace {
std::atomic<int> g_ansiCodePageOverride{0};
volatile std::sig_atomic_t g_stopSignalled = 0;

constexpr mode_t kPrivateMode = 0700;

extern "C" void OnStopSignal(int signal) { g_stopSignalled = signal; }

SystemTime FromTm(const std::tm& tm, long nanoseconds) {
  SystemTime t;
  t.year = static_cast<uint16_t>(tm.tm_year + 1900);
  t.month = static_cast<uint16_t>(tm.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  t.day = static_cast<uint16_t>(tm.tm_mday);
  t.hour = static_cast<uint16_t>(tm.tm_hour);
  t.minute = static_cast<uint16_t>(tm.tm_min);
  t.second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);  // no leap second field
  t.milliseconds = static_cast<uint16_t>(nanoseconds / 1000000);
  return t;
}
}  // namespace

uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

int AnsiCodePage() {
  int overridden = g_ansiCodePageOverride.load(std::memory_order_relaxed);
  return overridden ? overridden : kCodePageUtf8;
}

int OemCodePage() { return kCodePageOem; }

void SetAnsiCodePageForTests(int codePage) { g_ansiCodePageOverride.store(codePage); }

std::string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp && *tmp) ? tmp : "/tmp";
  for (char& c : dir) {
    if (c == '\\') c = '/';
  }
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string CurrentDirectory() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) ? std::string(path) : std::string();
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

bool CryptoRandomBytes(void* buffer, size_t length) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    ssize_t n = getrandom(out, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int UniqueFd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

int LastSystemError() { return errno; }

std::string SystemErrorText(int code) {
  char text[256];
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* message = strerror_r(code, text, sizeof text);
  std::string result = message ? message : "";
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
    result.pop_back();
  }
  return result;
}

SystemTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm tm{};
  localtime_r(&now.tv_sec, &tm);
  return FromTm(tm, now.tv_nsec);
}

SystemTime UtcTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm tm{};
  gmtime_r(&now.tv_sec, &tm);
  return FromTm(tm, now.tv_nsec);
}

int TimeZoneBiasMinutes() {
  time_t now = time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return static_cast<int>(-tm.tm_gmtoff / 60);
}

void SleepMs(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

NewDirectory MakeNewPrivateDirectory(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), kPrivateMode) == 0) return NewDirectory::Made;
  if (errno == EEXIST) return NewDirectory::Exists;
  error = "Cannot create the folder " + path + ": " + SystemErrorText(errno);
  return NewDirectory::Failed;
}

namespace {

// Makes path with mode 0700 when nothing is there, then reads what is there without following
// a link. False with a message in error.
bool MakeOrExamineDirectory(const std::string& path, struct stat& info, std::string& error) {
  if (mkdir(path.c_str(), kPrivateMode) != 0 && errno != EEXIST) {
    error = "Cannot create the folder " + path + ": " + SystemErrorText(errno);
    return false;
  }
  if (lstat(path.c_str(), &info) != 0) {
    error = "Cannot examine the folder " + path + ": " + SystemErrorText(errno);
    return false;
  }
  return true;
}

// A real directory (no link) owned by this user. False with a message in error.
bool IsOwnDirectory(const std::string& path, const struct stat& info, std::string& error) {
  if (!S_ISDIR(info.st_mode)) {
    error = "Refusing to use " + path + ": it is not a directory (a link or a file is there).";
    return false;
  }
  if (info.st_uid != geteuid()) {
    error = "Refusing to use " + path + ": it belongs to another user.";
    return false;
  }
  return true;
}

std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

bool MakePrivateDirectory(const std::string& path, std::string& error) {
  struct stat info {};
  if (!MakeOrExamineDirectory(path, info, error) || !IsOwnDirectory(path, info, error)) {
    return false;
  }
  if ((info.st_mode & 077) != 0 && chmod(path.c_str(), kPrivateMode) != 0) {
    error = "Cannot make the folder " + path + " private: " + SystemErrorText(errno);
    return false;
  }
  return true;
}

bool PrepareUserDirectory(const std::string& path, std::string& error) {
  struct stat info {};
  if (!MakeOrExamineDirectory(path, info, error) || !IsOwnDirectory(path, info, error)) {
    return false;
  }
  // Others who can write there could replace or plant the files kept in it.
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    error = "Refusing to use " + path + ": other users can write to it (mode " +
            OctalMode(info.st_mode) + "); remove their write permission (chmod go-w) or choose "
            "another folder.";
    return false;
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CheckWritableFile(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "Cannot write to " + path + ": " + SystemErrorText(errno);
    return false;
  }
  close(fd);
  return true;
}

void InstallStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalled() { return g_stopSignalled != 0; }

int StopSignalNumber() { return g_stopSignalled; }

void SetStopSignalledForTests(bool signalled) { g_stopSignalled = signalled ? SIGINT : 0; }

bool LaunchDetached(const char* program, const char* argument) {
  pid_t pid = 0;
  const char* argv[] = {program, argument, nullptr};
  auto* arguments = const_cast<char* const*>(argv);
  return posix_spawnp(&pid, program, nullptr, nullptr, arguments, environ) == 0;
}

std::string FindProgram(const std::string& program) {
  auto runnable = [](const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
  };
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos) {
    if (!runnable(program)) return {};
    return program.front() == '/' ? program : CurrentDirectory() + "/" + program;
  }
  const char* search = std::getenv("PATH");
  std::string folders = search != nullptr ? search : "/usr/local/bin:/usr/bin:/bin";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    // An empty entry or a relative one would depend on where we stand: not searched.
    if (!folder.empty() && folder.front() == '/' && runnable(folder + "/" + program)) {
      return folder + "/" + program;
    }
    start = end + 1;
  }
  return {};
}

bool IsSuperUser() { return ::geteuid() == 0; }

bool MakeTemporaryDirectory(const std::string& folder, const std::string& prefix, std::string& path,
                            std::string& error) {
  std::string pattern = folder + prefix + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = "could not make a folder in " + folder + ": " + SystemErrorText(errno);
    return false;
  }
  path = pattern;
  return true;
}

namespace {
extern "C" int RemoveEntry(const char* path, const struct stat* /*info*/, int kind,
                           struct FTW* /*where*/) {
  // Whatever cannot go stays; the walk goes on and the caller learns of it at the end.
  if (kind == FTW_DP) {
    ::rmdir(path);
  } else {
    ::unlink(path);
  }
  return 0;
}
}  // namespace

bool RemoveTree(const std::string& path) {
  // Children before their folder, links removed rather than followed.
  ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  struct stat info {};
  return ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

std::string ExecutableFolder(const char* fallbackPath) {
  char self[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = length > 0 ? std::string(self, static_cast<size_t>(length))
                                : std::string(fallbackPath ? fallbackPath : "");
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool ReplaceProcess(const char* path) {
  char* const argv[] = {const_cast<char*>(path), nullptr};
  ::execv(path, argv);
  return false;
}

}  // namespace quillon
