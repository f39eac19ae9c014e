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
  ReplacingFile file;
  return file.begin(path, log, keepPermissions) && file.append(bytes, length, log) &&
         file.commit(log);
}

bool ReplacingFile::begin(const char* path, LogBase& log, bool keepPermissions) {
  discard();
  if (path == nullptr || *path == '\0') {
    log.addError("zero-length filename");
    return false;
  }
  target_.assign(path);
  target_.replaceChar('\\', '/');
  if (!TemporaryNameBeside(target_, temporary_)) {
    log.addError("Failed to choose a temporary file name");
    log.addTagQuotedPrintable("filename", target_.getString());
    return false;
  }
  // O_EXCL: the name was only chosen, so someone may have taken it meanwhile.
  file_.reset(::open(temporary_.getString(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     kFileMode));
  if (!file_.isValid()) {
    LogSystemError(log, "Failed to create temporary file", temporary_.getString(), errno);
    return false;
  }
  // Set before anything is written, so the bytes are never readable under looser bits.
  struct stat old;
  if (keepPermissions && ::stat(target_.getString(), &old) == 0 &&
      ::fchmod(file_.fd(), old.st_mode & 0777) != 0) {
    LogSystemError(log, "Failed to keep the file permissions", temporary_.getString(), errno);
    discard();
    return false;
  }
  return true;
}

bool ReplacingFile::append(const void* bytes, uint32_t length, LogBase& log) {
  if (!file_.isValid()) return false;
  // The new file's offset only grows, so appending writes it from the start.
  if (appendBytes(file_, bytes, length)) return true;
  LogSystemError(log, "Failed to write temporary file", temporary_.getString(), errno);
  discard();
  return false;
}

bool ReplacingFile::commit(LogBase& log) {
  if (!file_.isValid()) return false;
  // Flushed before the rename, so that the new name never points at unwritten blocks.
  int error = ::fsync(file_.fd()) != 0 ? errno : 0;
  if (error == 0 && ::close(file_.release()) != 0) error = errno;
  if (error != 0) {
    LogSystemError(log, "Failed to write temporary file", temporary_.getString(), error);
    discard();
    return false;
  }
  if (::rename(temporary_.getString(), target_.getString()) != 0) {
    LogSystemError(log, "Failed to replace file", target_.getString(), errno);
    discard();
    return false;
  }
  temporary_.clear();
  return true;
}

void ReplacingFile::discard() {
  file_.close();
  if (!temporary_.isEmpty()) ::unlink(temporary_.getString());
  temporary_.clear();
}

}  // namespace quillon
