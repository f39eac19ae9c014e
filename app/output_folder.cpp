#include "app/output_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/platform.h"

namespace tollwick {
namespace {

constexpr mode_t kPrivateMode = 0700;
constexpr size_t kDateTextCapacity = 256;

// mkdir that accepts an existing entry; the caller checks what is there.
bool MakeDirectoryIfMissing(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), kPrivateMode) == 0 || errno == EEXIST) return true;
  error = "Cannot create the folder " + path + ": " + quillon::SystemErrorText(errno);
  return false;
}

// lstat says a real directory owned by us; group and other bits are cleared when set.
bool IsPrivateDirectory(const std::string& path, std::string& error) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    error = "Cannot examine the folder " + path + ": " + quillon::SystemErrorText(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    error = "Refusing to use " + path + ": it is not a directory (a link or a file is there).";
    return false;
  }
  if (info.st_uid != geteuid()) {
    error = "Refusing to use " + path + ": it belongs to another user.";
    return false;
  }
  if ((info.st_mode & 077) != 0 && chmod(path.c_str(), kPrivateMode) != 0) {
    error = "Cannot make the folder " + path + " private: " + quillon::SystemErrorText(errno);
    return false;
  }
  return true;
}

}  // namespace

std::string LocaleDateTimeText(const std::tm& when) {
  char text[kDateTextCapacity];
  size_t length = std::strftime(text, sizeof text, "%x %X", &when);
  return std::string(text, length);
}

std::string FolderNameFromDateText(std::string_view dateText) {
  static constexpr char kForbidden[] = "/\\:*?\"<>|";
  std::string name;
  name.reserve(dateText.size());
  for (char c : dateText) {
    if (std::strchr(kForbidden, c) == nullptr) name += c;  // a NUL goes too
  }
  return name;
}

std::string CollapseSlashPairs(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    out += path[i];
    if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/') ++i;
  }
  return out;
}

bool PrepareTollwickFolder(std::string& folder, std::string& error) {
  folder = CollapseSlashPairs(quillon::TempDirectory() + "/Tollwick");
  return MakeDirectoryIfMissing(folder, error) && IsPrivateDirectory(folder, error);
}

bool MakeOutputFolder(const std::tm& when, std::string& folder, std::string& error) {
  std::string base;
  if (!PrepareTollwickFolder(base, error)) return false;
  std::string dated =
      CollapseSlashPairs(base + "/" + FolderNameFromDateText(LocaleDateTimeText(when)));
  if (!MakeDirectoryIfMissing(dated, error) || !IsPrivateDirectory(dated, error)) return false;
  folder = dated;
  return true;
}

}  // namespace tollwick
