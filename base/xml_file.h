// XML files: the bytes of a file turned into the UTF-8 text the parser reads (byte-order marks
// and the declaration's encoding), and whole-file replacement through a temporary file renamed
// over the old one, so that a crash never leaves half a document behind.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "base/platform.h"
#include "base/string_buffer.h"

namespace quillon {

// The encoding named in the file's XML declaration, as the charset detection reads it: inside
// the first "<?xml" ... ">", spaces removed and lower-cased, the text after encoding= and a
// quote up to the matching quote. Empty when there is none.
void DeclaredXmlEncoding(std::string_view bytes, StringBuffer& name);

// Makes the loaded bytes of an XML file UTF-8: after FF FE the rest is converted from UTF-16LE,
// after FE FF from UTF-16BE, EF BB BF is dropped; otherwise a declared encoding that the charset
// table knows (other than "utf-8") is converted from. An unknown, unconvertible or missing
// encoding leaves the bytes as they are. False only when memory runs out (logged).
bool DecodeXmlFileBytes(DataBuffer& bytes, LogBase& log);

// Writes the bytes as the whole of path: into a new temporary file beside it, flushed to disk,
// then renamed over path. On failure (logged) path is as it was and the temporary file is gone.
// The new file has mode 0644 less the umask; with keepPermissions, an existing file's permission
// bits pass to it instead (a private file stays private).
bool ReplaceFileAtomically(const char* path, const void* bytes, uint32_t length, LogBase& log,
                           bool keepPermissions = false);

// The same replacement written piece by piece, for files too large to build in memory: begin
// creates the temporary file, append adds bytes, commit flushes it and renames it over the
// path. Until commit nothing is at the path; an object dropped uncommitted (or a failed step,
// logged) removes its temporary file.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile() { discard(); }

  bool begin(const char* path, LogBase& log, bool keepPermissions = false);
  bool append(const void* bytes, uint32_t length, LogBase& log);
  bool commit(LogBase& log);
  // Removes the temporary file (nothing at the path changes).
  void discard();
  bool isOpen() const { return file_.isValid(); }

 private:
  StringBuffer target_;
  StringBuffer temporary_;
  UniqueFd file_;
};

}  // namespace quillon
