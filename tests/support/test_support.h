// Helpers shared by the test programs.
#pragma once

#include <string>

namespace quillon {
class LogBase;
}

namespace quillon::testing {

// The exit code of a test program that skipped tests and failed none (SKIP_RETURN_CODE in
// tests/CMakeLists.txt).
constexpr int kSkipExitCode = 77;

// The test's own scratch folder ($TMPDIR with a trailing "/"), created when missing.
std::string ScratchDir();
// A fresh sub-folder of the scratch folder, emptied first.
std::string FreshDir(const std::string& name);
// Reads a whole file into a string; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The log in its text form, for searching and for failure messages.
std::string LogText(LogBase& log);
// data in the gzip format (best compression), as a server would send it.
std::string GzipOf(const std::string& data);

}  // namespace quillon::testing
