// Feeds arbitrary bytes to the settings profile's INI reader. Whatever the file held, the
// document written back must read as the same document, and the bytes stored as a path (a
// byte array when they are not UTF-8) must come back as they were.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tollwick::IniFile read;
  read.parse(bytes);
  read.find("Settings/Title");
  const std::string written = read.text();

  tollwick::IniFile reread;
  reread.parse(written);
  if (reread.text() != written) std::abort();

  reread.writeBytes("Settings/Last Folder", bytes);
  tollwick::IniFile withPath;
  withPath.parse(reread.text());
  if (withPath.findBytes("Settings/Last Folder") != bytes) std::abort();
  return 0;
}
