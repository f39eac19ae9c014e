#include "base/xml_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/charset/charset.h"
#include "base/charset/encoding_convert.h"
#include "base/file_access.h"
#include "base/parse_engine.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"

namespace quillon {

namespace {

constexpr mode_t kFileMode = 0644;

struct ByteOrderMark {
  std::string_view bytes;
  int codePage;  // 0: the text is UTF-8 already
};
constexpr ByteOrderMark kByteOrderMarks[] = {
    {"\xFF\xFE", kCodePageUtf16Le}, {"\xFE\xFF", kCodePageUtf16Be}, {"\xEF\xBB\xBF", 0}};

// Converts bytes (from offset on) to UTF-8 and puts the result in their place. Characters that
// do not convert are dropped; a code page without a converter leaves the bytes.
bool ConvertToUtf8(DataBuffer& bytes, uint32_t offset, int codePage, LogBase& log) {
  DataBuffer converted;
  EncodingConvert converter;
  converter.convert(codePage, kCodePageUtf8, bytes.data() + offset, bytes.length() - offset,
                    converted);
  if (converter.outOfMemory()) {
    log.addError("Out of memory converting the XML file to utf-8");
    return false;
  }
  if (converter.unsupported()) return true;
  bytes.moveFrom(converted);
  return true;
}

bool DropPrefix(DataBuffer& bytes, uint32_t count, LogBase& log) {
  DataBuffer rest(bytes.data() + count, bytes.length() - count);
  if (rest.length() != bytes.length() - count) {
    log.addError("Out of memory");
    return false;
  }
  bytes.moveFrom(rest);
  return true;
}

void LogSystemError(LogBase& log, const char* message, const char* path, int error) {
  log.addError(message);
  log.addTagQuotedPrintable("filename", path);
  log.addTag("osErrorInfo", SystemErrorText(error).c_str());
}

// The temporary file's name: hidden, beside the target, "<.name>_XXXX.tmp".
bool TemporaryNameBeside(const StringBuffer& path, StringBuffer& temporary) {
  std::string_view text = path.view();
  size_t slash = text.rfind('/');
  StringBuffer directory(slash == std::string_view::npos ? std::string_view(".")
                                                         : text.substr(0, slash == 0 ? 1 : slash));
  StringBuffer base(".");
  base.append(slash == std::string_view::npos ? text : text.substr(slash + 1));
  base.append(".tmp");
  return makeUniqueFileName(directory.getString(), base.getString(), temporary);
}

}  // namespace

void DeclaredXmlEncoding(std::string_view bytes, StringBuffer& name) {
  name.clear();
  const char* declaration = FindNoCase(bytes, "<?xml");
  if (!declaration) return;
  size_t start = static_cast<size_t>(declaration - bytes.data()) + 5;
  size_t end = bytes.find('>', start);
  if (end == std::string_view::npos) return;
  StringBuffer inside(bytes.substr(start, end - start));
  inside.removeChar(' ');
  inside.toLowerCase();
  std::string_view text = inside.view();
  for (char quote : {'"', '\''}) {
    const char prefix[] = {'e', 'n', 'c', 'o', 'd', 'i', 'n', 'g', '=', quote};
    size_t at = text.find(std::string_view(prefix, sizeof prefix));
    if (at == std::string_view::npos) continue;
    std::string_view rest = text.substr(at + sizeof prefix);
    name.append(rest.substr(0, rest.find(quote)));
    return;
  }
}

bool DecodeXmlFileBytes(DataBuffer& bytes, LogBase& log) {
  std::string_view text = bytes.view();
  for (const ByteOrderMark& mark : kByteOrderMarks) {
    if (text.substr(0, mark.bytes.size()) != mark.bytes) continue;
    uint32_t size = static_cast<uint32_t>(mark.bytes.size());
    return mark.codePage ? ConvertToUtf8(bytes, size, mark.codePage, log)
                         : DropPrefix(bytes, size, log);
  }
  StringBuffer encoding;
  DeclaredXmlEncoding(text, encoding);
  if (encoding.isEmpty() || encoding.equals("utf-8")) return true;
  int codePage = codePageForName(encoding.getString());
  if (codePage == 0) return true;
  return ConvertToUtf8(bytes, 0, codePage, log);
}

bool ReplaceFileAtomically(const char* path, const void* bytes, uint32_t length, LogBase& log,
                           bool keepPermissions) {
  if (path == nullptr || *path == '\0') {
    log.addError("zero-length filename");
    return false;
  }
  StringBuffer target(path);
  target.replaceChar('\\', '/');
  StringBuffer temporary;
  if (!TemporaryNameBeside(target, temporary)) {
    log.addError("Failed to choose a temporary file name");
    log.addTagQuotedPrintable("filename", target.getString());
    return false;
  }
  // O_EXCL: the name was only chosen, so someone may have taken it meanwhile.
  UniqueFd file(::open(temporary.getString(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  if (!file.isValid()) {
    LogSystemError(log, "Failed to create temporary file", temporary.getString(), errno);
    return false;
  }
  // Set before anything is written, so the bytes are never readable under looser bits.
  struct stat old;
  if (keepPermissions && ::stat(target.getString(), &old) == 0 &&
      ::fchmod(file.fd(), old.st_mode & 0777) != 0) {
    LogSystemError(log, "Failed to keep the file permissions", temporary.getString(), errno);
    ::unlink(temporary.getString());
    return false;
  }
  // Flushed before the rename, so that the new name never points at unwritten blocks.
  // The new file's offset only grows, so appending writes it from the start.
  bool written = appendBytes(file, bytes, length);
  int error = written ? 0 : errno;
  if (written && ::fsync(file.fd()) != 0) {
    error = errno;
    written = false;
  }
  if (written && ::close(file.release()) != 0) {
    error = errno;
    written = false;
  }
  if (!written) {
    LogSystemError(log, "Failed to write temporary file", temporary.getString(), error);
    ::unlink(temporary.getString());
    return false;
  }
  if (::rename(temporary.getString(), target.getString()) != 0) {
    LogSystemError(log, "Failed to replace file", target.getString(), errno);
    ::unlink(temporary.getString());
    return false;
  }
  return true;
}

}  // namespace quillon
