#include "app/output_folder.h"

#include <cstring>
#include <string>

#include "app/failure_reason_log.h"
#include "base/file_access.h"
#include "base/platform.h"

namespace tollwick {
namespace {

constexpr size_t kDateTextCapacity = 256;
// Runs started in the same second get " (2)" ... " (kMaxFolderSuffix)" after the date.
constexpr int kMaxFolderSuffix = 1000;

// A folder the user named: made when missing (its parents must exist), used as it is otherwise.
bool PrepareChosenFolder(const std::string& parent, std::string& base, std::string& error) {
  base = parent;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (quillon::IsDirectory(base)) return true;
  FailureReasonLog log;
  if (quillon::createDirectory(base.c_str(), log) && quillon::IsDirectory(base)) return true;
  error = "Cannot create the output folder " + base +
          (log.reason().empty() ? std::string() : ": " + log.reason());
  return false;
}

}  // namespace

std::tm TmOf(const quillon::SystemTime& when) {
  std::tm tm{};
  tm.tm_year = when.year - 1900;
  tm.tm_mon = when.month - 1;
  tm.tm_mday = when.day;
  tm.tm_wday = when.dayOfWeek;
  tm.tm_hour = when.hour;
  tm.tm_min = when.minute;
  tm.tm_sec = when.second;
  tm.tm_isdst = -1;
  return tm;
}

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
  return quillon::MakePrivateDirectory(folder, error);
}

bool MakeOutputFolder(const std::tm& when, const std::string& parent, std::string& folder,
                      std::string& error) {
  std::string base;
  if (parent.empty()) {
    if (!PrepareTollwickFolder(base, error)) return false;
  } else if (!PrepareChosenFolder(parent, base, error)) {
    return false;
  }
  std::string dated =
      CollapseSlashPairs(base + "/" + FolderNameFromDateText(LocaleDateTimeText(when)));
  // Only a folder this run made is written into: another run's files are never overwritten.
  for (int suffix = 1; suffix <= kMaxFolderSuffix; ++suffix) {
    std::string candidate = suffix == 1 ? dated : dated + " (" + std::to_string(suffix) + ")";
    switch (quillon::MakeNewPrivateDirectory(candidate, error)) {
      case quillon::NewDirectory::Made:
        folder = candidate;
        return true;
      case quillon::NewDirectory::Failed:
        return false;
      case quillon::NewDirectory::Exists:
        break;
    }
  }
  error = "Cannot create a new folder beside " + dated + ": too many runs in one second.";
  return false;
}

}  // namespace tollwick
