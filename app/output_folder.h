// The output folders of a run: the private "<temp>/Tollwick" folder and, inside it, a folder
// named after the local date and time. The temporary directory is shared on Linux, so the
// private folder is trusted only when it is a real directory owned by this user.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "base/platform.h"

namespace tollwick {

// The date and time as the user's locale writes them (strftime "%x %X").
std::string LocaleDateTimeText(const std::tm& when);
// The calendar fields of a local time, daylight saving left for the C library to decide.
std::tm TmOf(const quillon::SystemTime& when);

// The text without the nine characters a file name may not hold ("/", "\", ":", "*", "?", """,
// "<", ">", "|"); spaces and everything else stay.
std::string FolderNameFromDateText(std::string_view dateText);

// Every pair "//" made one "/" (one pass, left to right).
std::string CollapseSlashPairs(std::string_view path);

// Creates "<temp>/Tollwick" with mode 0700 when missing and puts its path into folder. False,
// with a message in error, when the path is a symbolic link, not a directory, owned by another
// user, or cannot be made; a folder of ours that others may enter is made private again.
bool PrepareTollwickFolder(std::string& folder, std::string& error);

// Makes a new "<parent>/<date and time text>" folder, with " (2)", " (3)", ... after the date
// when that folder exists already (two runs in one second get two folders), and puts its path
// into folder. An empty parent means "<temp>/Tollwick" (private, see above); another parent is
// created when missing. False with a message in error, folder unchanged, when either level
// cannot be made or trusted.
bool MakeOutputFolder(const std::tm& when, const std::string& parent, std::string& folder,
                      std::string& error);

}  // namespace tollwick
