// An INI document in the form Qt's QSettings (IniFormat) reads and writes, so that a file
// written here reads the same in Qt and the other way round: keys percent-escaped, values with
// C-style escapes, quoted when they would otherwise read differently. Values are read and
// written as texts only; lists and the forms of other types are recognised, never produced.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tollwick {

// Sections and their keys in QSettings' sorted order, each value kept in its raw (escaped) form,
// so that keys nobody changes are written back as they were read. Sections and keys are found
// through sorted indexes, so reading a file takes time in proportion to its size.
class IniFile {
 public:
  // Asked now and then while a file is read; true ends the reading.
  using StopCheck = std::function<bool()>;

  // Adds the keys of a file's bytes (after a UTF-8 byte-order mark); a later key of the same
  // name wins. Lines that are neither "[section]" nor "key=value" are skipped, and so are
  // sections without keys, as QSettings drops them. False when stop ended the reading early:
  // the document then holds only a part of the file and must not be written back.
  bool parse(std::string_view bytes, const StopCheck& stop = {});
  // A full key's value ("Settings/URL") as QSettings reads it as a text: empty for a list (an
  // unquoted ","); none when the key is missing or holds another type ("@Variant(...)").
  std::optional<std::string> find(std::string_view fullKey) const;
  // As find, but a byte array ("@ByteArray(...)") gives its bytes as they are, not as UTF-8
  // text: for file paths, which need not be UTF-8.
  std::optional<std::string> findBytes(std::string_view fullKey) const;
  // Whether the document holds the key, whatever its value.
  bool contains(std::string_view fullKey) const { return rawValue(fullKey) != nullptr; }
  // Stores text under a full key in the form QSettings writes a string.
  void write(std::string_view fullKey, std::string_view text);
  // Stores bytes as write does when they are UTF-8, else in the form QSettings writes a byte
  // array, so that a path with a byte of another encoding survives.
  void writeBytes(std::string_view fullKey, std::string_view bytes);
  // The whole document in QSettings' layout.
  std::string text() const;

 private:
  // QString's order, which QSettings writes sections and keys in: by UTF-16 code units, so a
  // character above U+FFFF comes before U+E000..U+FFFF. A byte that starts no well-formed UTF-8
  // sequence counts as U+FFFD, as Qt reads it.
  struct Utf16Less {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  using RawValues = std::map<std::string, std::string, Utf16Less>;

  const std::string* rawValue(std::string_view fullKey) const;
  void set(std::string_view fullKey, std::string rawValue);

  // Each section's keys by the section's name, empty for the General section.
  std::map<std::string, RawValues, Utf16Less> sections_;
};

}  // namespace tollwick
