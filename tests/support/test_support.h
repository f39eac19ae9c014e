// Helpers shared by the test programs.
#pragma once

#include <string>

namespace quillon::testing {

// The test's own scratch folder ($TMPDIR with a trailing "/"), created when missing.
std::string ScratchDir();
// A fresh sub-folder of the scratch folder, emptied first.
std::string FreshDir(const std::string& name);
// Reads a whole file into a string; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace quillon::testing
