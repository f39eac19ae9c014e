#include "base/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace quillon {

namespace {

// The descriptors a child reads and writes its channel on.
constexpr int kChildReadFd = 3;
constexpr int kChildWriteFd = 4;
// How long Stop waits for the killed group to be gone, and how often it looks.
constexpr uint32_t kGroupExitWaitMs = 1000;
constexpr uint32_t kGroupExitPollMs = 10;

// This process's environment with the overrides in place ("NAME=value" each).
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> merged;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const std::string& override : overrides) replaced |= override.starts_with(name);
    if (!replaced) merged.emplace_back(text);
  }
  merged.insert(merged.end(), overrides.begin(), overrides.end());
  return merged;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Whether a process of the group is still alive (not yet a zombie), from /proc/<pid>/stat:
// "pid (name) state ppid pgrp ...".
bool GroupHasLiveMember(pid_t group) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool live = false;
  while (const dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const std::string path = std::string("/proc/") + entry->d_name + "/stat";
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char stat[512];
    const ssize_t length = file.isValid() ? ::read(file.fd(), stat, sizeof stat - 1) : -1;
    if (length <= 0) continue;
    stat[length] = '\0';
    const char* afterName = std::strrchr(stat, ')');
    char state = 0;
    int parent = 0;
    int pgrp = 0;
    if (afterName != nullptr &&
        std::sscanf(afterName + 1, " %c %d %d", &state, &parent, &pgrp) == 3 && pgrp == group &&
        state != 'Z' && state != 'X') {
      live = true;
      break;
    }
  }
  ::closedir(proc);
  return live;
}

// Runs in the child between fork and exec: only async-signal-safe calls from here on.
[[noreturn]] void BecomeChild(pid_t parent, int channel, int devNull, const char* path,
                              char* const* argv, char* const* envp) {
  // Killed with the thread that started us; if that already ended, end at once.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
  ::setpgid(0, 0);
  // Above the descriptors to be filled, so that no dup2 below overwrites its own source.
  const int channelCopy = ::fcntl(channel, F_DUPFD, 10);
  const int nullCopy = ::fcntl(devNull, F_DUPFD, 10);
  if (channelCopy < 0 || nullCopy < 0) ::_exit(127);
  if (::dup2(nullCopy, 0) < 0 || ::dup2(nullCopy, 1) < 0 || ::dup2(nullCopy, 2) < 0 ||
      ::dup2(channelCopy, kChildReadFd) < 0 || ::dup2(channelCopy, kChildWriteFd) < 0) {
    ::_exit(127);
  }
  // Nothing else of ours reaches the program, whatever was opened without close-on-exec.
  for (int fd = kChildWriteFd + 1; fd < 1024; ++fd) ::close(fd);
  ::signal(SIGPIPE, SIG_DFL);
  ::execve(path, argv, envp);
  ::_exit(127);
}

}  // namespace

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, std::string& error) {
  Stop();
  // The child's own helpers outlive it for a moment when it is killed: as their reaper we can
  // collect them, where an init process that reaps nothing (a container's) would keep them as
  // zombies.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    error = "no socket for the child: " + SystemErrorText(errno);
    return false;
  }
  UniqueFd ours(pair[0]);
  UniqueFd theirs(pair[1]);
  UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!devNull.isValid()) {
    error = "/dev/null: " + SystemErrorText(errno);
    return false;
  }
  // Everything the child needs is made before the fork: a threaded parent's child may not
  // allocate.
  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = MergedEnvironment(environment);
  std::vector<char*> argPointers = PointersTo(arguments);
  std::vector<char*> envPointers = PointersTo(variables);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = "could not start " + path + ": " + SystemErrorText(errno);
    return false;
  }
  if (pid == 0) {
    BecomeChild(parent, theirs.fd(), devNull.fd(), path.c_str(), argPointers.data(),
                envPointers.data());
  }
  // Also here, so that a Stop right after the fork finds the group.
  ::setpgid(pid, pid);
  pid_ = pid;
  channel_ = std::move(ours);
  const int flags = ::fcntl(channel_.fd(), F_GETFL);
  ::fcntl(channel_.fd(), F_SETFL, flags | O_NONBLOCK);
  return true;
}

bool ChildProcess::Send(std::string_view bytes, uint32_t timeoutMs) {
  const uint32_t start = TickCount();
  while (!bytes.empty()) {
    const ssize_t sent = ::send(channel_.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const uint32_t spent = TickCount() - start;
    if (spent >= timeoutMs) return false;
    pollfd waiting{channel_.fd(), POLLOUT, 0};
    if (::poll(&waiting, 1, static_cast<int>(timeoutMs - spent)) < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

ChildProcess::Received ChildProcess::Receive(char* buffer, size_t capacity, size_t& length,
                                             uint32_t timeoutMs) {
  length = 0;
  if (!channel_.isValid()) return Received::kClosed;
  pollfd waiting{channel_.fd(), POLLIN, 0};
  const int ready = ::poll(&waiting, 1, static_cast<int>(timeoutMs));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return Received::kTimedOut;
  if (ready < 0) return Received::kClosed;
  const ssize_t got = ::recv(channel_.fd(), buffer, capacity, 0);
  if (got > 0) {
    length = static_cast<size_t>(got);
    return Received::kData;
  }
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return Received::kTimedOut;
  }
  return Received::kClosed;
}

void ChildProcess::Stop() {
  channel_.reset();
  if (pid_ <= 0) return;
  // The group holds the child and every helper it started.
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  // The helpers come to us to be reaped; a moment is enough for them to die.
  for (uint32_t waited = 0; waited < kGroupExitWaitMs; waited += kGroupExitPollMs) {
    while (::waitpid(-pid_, &status, WNOHANG) > 0) {
    }
    if (!GroupHasLiveMember(pid_)) break;
    SleepMs(kGroupExitPollMs);
  }
  while (::waitpid(-pid_, &status, WNOHANG) > 0) {
  }
  pid_ = -1;
}

}  // namespace quillon
