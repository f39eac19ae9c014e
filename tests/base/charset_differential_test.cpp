// Every table code page against the source its data came from: glibc's iconv called live, or
// the reference lists the generator wrote straight from Python's codecs, Perl's Encode and ICU.
// IBM 924 is IBM 1047 with the Latin-9 repertoire; glibc has both halves of that.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/charset/charset.h"
#include "base/charset/encoding_convert.h"

namespace quillon {
namespace {

std::string DataPath(const std::string& name) {
  const char* root = std::getenv("QUILLON_SOURCE_DIR");
  std::string base = root != nullptr
                         ? root
                         : std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/"));
  return base + "/tests/data/charsets/" + name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// One conversion through glibc's iconv; nullopt when it refuses the input.
std::optional<std::string> Iconv(const std::string& to, const std::string& from,
                                 const std::string& input) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(input.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char* o = out.data();
  size_t outLeft = out.size();
  size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &o, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

struct Decoded {
  bool result;
  std::string wide;
};

Decoded Decode(int codePage, const std::string& bytes) {
  EncodingConvert converter;
  DataBuffer out;
  bool result = converter.convert(codePage, 1200, bytes.data(), bytes.size(), out);
  return {result, std::string(out.view())};
}

std::string Encode(int codePage, const std::string& wide) {
  EncodingConvert converter;
  DataBuffer out;
  converter.convert(1200, codePage, wide.data(), wide.size(), out);
  return std::string(out.view());
}

std::string Unit(unsigned unit) {
  return std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
}

// x-mac-arabic bytes are re-coded before the table sees them (visual to logical order).
int MacArabicRecoded(int b) {
  if (b == 0x81) return 0xA0;
  bool shifted = (b >= 0xA0 && b <= 0xAF && b != 0xA5 && b != 0xAC) || (b >= 0xB0 && b <= 0xBA) ||
                 (b >= 0xBC && b <= 0xBE) || (b >= 0xDB && b <= 0xDF) || (b >= 0xFB && b <= 0xFD);
  return shifted ? b - 0x80 : b;
}

struct Reference {
  int codePage;
  std::string kind;    // glibc, latin9 (a glibc page read as Latin-9), python, perl or icu
  std::string source;  // the source's name for the code page
  std::vector<std::string> entries;
};

std::vector<Reference> ReadReferences(const std::string& file) {
  std::vector<Reference> refs;
  std::ifstream in(DataPath(file));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Reference ref;
    std::string source;
    words >> ref.codePage >> source;
    ref.kind = source.substr(0, source.find(':'));
    ref.source = source.substr(source.find(':') + 1);
    for (std::string entry; words >> entry;) ref.entries.push_back(entry);
    refs.push_back(ref);
  }
  return refs;
}

bool IsLive(const Reference& ref) { return ref.kind == "glibc" || ref.kind == "latin9"; }

// A latin9 page puts the Latin-9 character where its glibc module has the Latin-1 character
// of the same ISO-8859 byte.
std::optional<std::string> LiveDecode(const Reference& ref, const std::string& bytes) {
  if (ref.kind == "glibc") return Iconv("UTF-16LE", ref.source, bytes);
  std::optional<std::string> latin1 = Iconv("ISO-8859-1", ref.source, bytes);
  return latin1 ? Iconv("UTF-16LE", "ISO-8859-15", *latin1) : std::nullopt;
}

std::optional<std::string> LiveEncode(const Reference& ref, const std::string& wide) {
  if (ref.kind == "glibc") return Iconv(ref.source, "UTF-16LE", wide);
  std::optional<std::string> latin9 = Iconv("ISO-8859-15", "UTF-16LE", wide);
  return latin9 ? Iconv(ref.source, "ISO-8859-1", *latin9) : std::nullopt;
}

TEST(CharsetDifferentialTest, EverySingleBytePageDecodesAsItsSource) {
  std::vector<Reference> refs = ReadReferences("reference_single_byte.txt");
  ASSERT_EQ(refs.size(), 94u);
  for (const Reference& ref : refs) {
    SCOPED_TRACE(testing::Message()
                 << ref.codePage << " (" << ref.kind << " " << ref.source << ")");
    ASSERT_EQ(ref.entries.size(), 256u);
    EXPECT_EQ(ConversionForCodePage(ref.codePage), CharsetConversion::kTable);
    for (int b = 0; b < 256; ++b) {
      std::string byte(1, static_cast<char>(b));
      int tableByte = ref.codePage == 10004 ? MacArabicRecoded(b) : b;
      unsigned expected = std::stoul(ref.entries[tableByte], nullptr, 16);
      if (IsLive(ref) && b != 0) {
        std::optional<std::string> live = LiveDecode(ref, byte);
        unsigned liveUnit = live && live->size() == 2 ? static_cast<uint8_t>((*live)[0]) |
                                                            static_cast<uint8_t>((*live)[1]) << 8
                                                      : 0;
        ASSERT_EQ(liveUnit, expected) << "byte " << b;
      }
      Decoded d = Decode(ref.codePage, byte);
      if (expected == 0 && b != 0) {
        EXPECT_FALSE(d.result) << "byte " << b;
        EXPECT_EQ(d.wide, "") << "byte " << b;
        continue;
      }
      EXPECT_TRUE(d.result) << "byte " << b;
      ASSERT_EQ(d.wide, Unit(expected)) << "byte " << b;
      // The unit encodes to a byte that decodes to it again.
      std::string back = Encode(ref.codePage, d.wide);
      ASSERT_EQ(back.size(), 1u) << "byte " << b;
      EXPECT_EQ(Decode(ref.codePage, back).wide, d.wide) << "byte " << b;
      if (IsLive(ref) && !(expected < 0x80 && b >= 0x80)) {
        EXPECT_EQ(std::optional<std::string>(back), LiveEncode(ref, d.wide)) << "byte " << b;
      }
    }
    // Characters no byte decodes to, such as the Latin-1 ones that Latin-9 replaced, encode
    // as the source says too (most to nothing).
    for (unsigned unit = 0x80; IsLive(ref) && unit < 0x180; ++unit) {
      std::optional<std::string> live = LiveEncode(ref, Unit(unit));
      if (live && live->size() > 1) continue;  // a diacritic prefix: not a single-byte entry
      EXPECT_EQ(Encode(ref.codePage, Unit(unit)), live.value_or("")) << "unit " << unit;
    }
  }
}

// Every one- and two-byte sequence (and the three-byte JIS X 0212 ones of EUC-JP) of the
// glibc-sourced pages against iconv, both ways; every 16th entry of the others from the list.
TEST(CharsetDifferentialTest, MultiBytePagesMatchTheirSource) {
  std::vector<Reference> refs = ReadReferences("reference_multi_byte.txt");
  ASSERT_EQ(refs.size(), 9u);
  for (const Reference& ref : refs) {
    SCOPED_TRACE(testing::Message()
                 << ref.codePage << " (" << ref.kind << " " << ref.source << ")");
    EXPECT_EQ(ConversionForCodePage(ref.codePage), CharsetConversion::kTable);
    std::vector<std::string> sequences;
    if (ref.kind == "glibc") {
      for (int lead = 0x80; lead < 0x100; ++lead) {
        sequences.push_back(std::string(1, static_cast<char>(lead)));
        for (int trail = 0x21; trail < 0x100; ++trail) {
          sequences.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
        }
      }
      if (ref.codePage == 51932) {
        for (int a = 0xA1; a < 0xFF; ++a) {
          for (int b = 0xA1; b < 0xFF; ++b) {
            sequences.push_back(std::string{'\x8F', static_cast<char>(a), static_cast<char>(b)});
          }
        }
      }
    }
    size_t compared = 0;
    for (const std::string& seq : sequences) {
      std::optional<std::string> live = Iconv("UTF-16LE", ref.source, seq);
      if (!live || live->size() != 2) continue;  // refused, or not one BMP unit
      ++compared;
      Decoded d = Decode(ref.codePage, seq);
      ASSERT_EQ(d.wide, *live) << testing::PrintToString(seq);
      std::string back = Encode(ref.codePage, d.wide);
      ASSERT_EQ(std::optional<std::string>(back), Iconv(ref.source, "UTF-16LE", d.wide))
          << testing::PrintToString(seq);
    }
    for (const std::string& entry : ref.entries) {
      std::string code = entry.substr(0, entry.find('='));
      unsigned unit = std::stoul(entry.substr(entry.find('=') + 1), nullptr, 16);
      std::string seq;
      for (size_t i = 0; i < code.size(); i += 2) {
        seq += static_cast<char>(std::stoul(code.substr(i, 2), nullptr, 16));
      }
      Decoded d = Decode(ref.codePage, seq);
      ASSERT_EQ(d.wide, Unit(unit)) << entry;
      EXPECT_EQ(Decode(ref.codePage, Encode(ref.codePage, d.wide)).wide, d.wide) << entry;
      ++compared;
    }
    EXPECT_GT(compared, 400u);
  }
}

// Pages as sites serve them, labelled with their charset, against iconv with the Windows code
// page the label stands for.
TEST(CharsetDifferentialTest, RealTextPagesMatchIconvWithTheWindowsCodePage) {
  struct Page {
    const char* file;
    const char* label;
    const char* iconvName;
  } pages[] = {
      {"windows-1252.html", "windows-1252", "CP1252"},
      {"iso-8859-2.html", "iso-8859-2", "ISO-8859-2"},
      {"koi8-r.html", "koi8-r", "KOI8-R"},
      {"shift_jis.html", "shift_jis", "CP932"},
      {"euc-jp.html", "euc-jp", "EUC-JP-MS"},
      {"gb2312.html", "gb2312", "CP936"},
      {"big5.html", "big5", "CP950"},
      {"euc-kr.html", "euc-kr", "CP949"},
  };
  for (const Page& page : pages) {
    SCOPED_TRACE(page.file);
    std::string bytes = ReadAll(DataPath(page.file));
    ASSERT_GT(bytes.size(), 200u);
    ASSERT_NE(bytes.find(std::string("charset=") + page.label), std::string::npos);
    EncodingConvert converter;
    DataBuffer out;
    EXPECT_TRUE(converter.convertFromName(page.label, 65001, bytes.data(), bytes.size(), out));
    EXPECT_FALSE(converter.droppedAny());
    std::optional<std::string> expected = Iconv("UTF-8", page.iconvName, bytes);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(std::string(out.view()), *expected);
  }
}

}  // namespace
}  // namespace quillon
