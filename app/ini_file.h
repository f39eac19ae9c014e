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
#include <vector>

namespace tollwick {

// Sections in file order, keys in QSettings' sorted order, each value kept in its raw (escaped)
// form, so that keys nobody changes are written back as they were read.
class IniFile {
 public:
  // Adds the keys of a file's bytes (after a UTF-8 byte-order mark); a later key of the same
  // name wins. Lines that are neither "[section]" nor "key=value" are skipped.
  void parse(std::string_view bytes);
  // A full key's value ("Settings/URL") as QSettings reads it as a text: empty for a list (an
  // unquoted ","); none when the key is missing or holds another type ("@Variant(...)").
  std::optional<std::string> find(std::string_view fullKey) const;
  // Whether the document holds the key, whatever its value.
  bool contains(std::string_view fullKey) const { return rawValue(fullKey) != nullptr; }
  // Stores text under a full key in the form QSettings writes a string.
  void write(std::string_view fullKey, std::string_view text);
  // The whole document in QSettings' layout.
  std::string text() const;

 private:
  struct Section {
    std::string name;  // empty for the General section
    std::map<std::string, std::string, std::less<>> rawValues;
  };

  const std::string* rawValue(std::string_view fullKey) const;
  void set(std::string_view fullKey, std::string rawValue);

  std::vector<Section> sections_;
};

}  // namespace tollwick
