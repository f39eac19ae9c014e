// The user's settings profile: company "Brindlewood", application "Tollwick", section
// "Settings", read into and written from the dialog's fields. Every front end uses it; between
// calls it keeps only the "Last Folder" its fields last exchanged with the profile. A value that
// cannot be read, or a read a stop signal cut short, keeps the field as it is. The file is
// the INI file QSettings("Brindlewood", "Tollwick") keeps ($XDG_CONFIG_HOME/Brindlewood/
// Tollwick.conf), read and written in its exact form without Qt (app/ini_file.h), so that the
// command line loads no Qt and the dialog still shares the file.
#pragma once

#include "app/generate_run.h"
#include "app/sitemap_fields.h"

namespace tollwick {

inline constexpr char kLastResultsNotAvailable[] = "Last Results not available.";
inline constexpr char kLastReportNotAvailable[] = "The last run wrote no crawl report.";
inline constexpr char kReportFileName[] = "report.html";

// Reads "URL", "Generate URLList", "Generate HTML Sitemap", "End Of Body", "Title",
// "Description" and "Meta tags", in that order, each with the field's value as default, then
// "Generate XML Sitemap" and the options (see SaveOptions).
void LoadSettings(SitemapFields& fields);

// Writes "URL", "Generate URLList", "Generate HTML Sitemap", "Last Folder" (the output folder),
// "End Of Body", "Title", "Description" and "Meta tags", in that order, then "Generate XML
// Sitemap" and the options; flags as 0 or 1. A folder path that is not UTF-8 is written as a
// byte array, so it reads back byte for byte. "Last Folder" is left as it is when it holds a
// newer folder: one that another front end saved since this process's fields last read or
// wrote theirs, while the fields bring no folder of their own (that same one again, or none).
// Write failures are ignored.
void SaveSettings(const SitemapFields& fields);

// Writes the Options box's values: "XML Gzip", "Output Directory", "Avoid", "Must Match",
// "Outbound Avoid" (patterns one per line), "Max URLs", "Drop Query Strings", "Drop HTTPS",
// "Respect Nofollow", "User Agent", "Robots Agent".
void SaveOptions(const SitemapFields& fields);

// Writes "Last Folder" alone, under the same rule: a command-line run leaves the dialog's
// fields as they are.
void SaveLastFolder(const std::string& folder);

// Reads "Last Folder" (default: the output folder field), with the bytes it was saved with, into
// the output folder field; opens it when it is not empty, else shows "Last Results not
// available.". True when there was a folder.
bool ShowLastResults(SitemapFields& fields, FrontEndHooks& hooks);
// Opens report.html of the last output folder, or says the last run wrote none.
bool ShowLastReport(SitemapFields& fields, FrontEndHooks& hooks);

// Shows the one-time welcome message while "First Time" (default 1) is not 0, then writes 0.
void ShowFirstTimeMessage(FrontEndHooks& hooks);

}  // namespace tollwick
