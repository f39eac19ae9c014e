#include "base/charset/charset.h"

#include <cstring>
#include <string_view>

#include "base/platform.h"

namespace quillon {

namespace {

// Names longer than this are not in the table.
constexpr size_t kMaxNameLength = 64;
// "euc-jp" is written for 20932 but resolves to 51932.
constexpr int kCodePageWrittenOnly = 20932;

struct CharsetRow {
  int codePage;
  const char* written;  // null: no written name
  const char* further;  // further accepted names, "|"-separated, lower case
  CharsetConversion conversion;
};

constexpr CharsetConversion kNone = CharsetConversion::kNone;
constexpr CharsetConversion kAlgorithmic = CharsetConversion::kAlgorithmic;
constexpr CharsetConversion kTable = CharsetConversion::kTable;

// The charset table, in code page order.
constexpr CharsetRow kCharsets[] = {
    {37, "ibm037", "cp037|csibm037|ebcdic|ebcdic-cp-ca|ebcdic-cp-nl|ebcdic-cp-us|ebcdic-cp-wt",
     kTable},
    {437, "ibm437", "cp437|cspc8codepage437", kTable},
    {500, "ibm500", "cp500|csibm500|ebcdic-cp-be|ebcdic-cp-ch", kTable},
    {708, "asmo-708", "", kTable},
    {709, nullptr, "asmo-449|asmo-449+", kNone},
    {720, "dos-720", "", kTable},
    {737, "ibm737", "", kTable},
    {775, "ibm775", "", kTable},
    {850, "ibm850", "cp850", kTable},
    {852, "ibm852", "cp852", kTable},
    {855, "ibm855", "cp855", kTable},
    {857, "ibm857", "cp857", kTable},
    {858, "ibm00858", "cp00858|cp858|ccsid00858", kTable},
    {860, "ibm860", "cp860", kTable},
    {861, "ibm861", "cp861", kTable},
    {862, "dos-862", "ibm862|cp862", kTable},
    {863, "ibm863", "cp863", kTable},
    {864, "ibm864", "cp864", kTable},
    {865, "ibm865", "cp865", kTable},
    {866, "cp866", "ibm866", kTable},
    {869, "ibm869", "cp869", kTable},
    {870, "ibm870", "cp870|csibm870|ebcdic-cp-roece|ebcdic-cp-yu", kTable},
    {874, "windows-874", "iso-8859-11|dos-874|tis-620", kTable},
    {875, "cp875", "", kTable},
    {932, "shift_jis", "x-sjis|csshiftjis|cswindows31j|ms-kanji|shift-jis|sjis|x-ms-cp932", kTable},
    {936, "gb2312",
     "iso-ir-58|csgb2312|csgb231280|csiso58gb231280|chinese|cn-gb|gb18030|gb18030-2000|gb2312-80|"
     "gbk|gb-2312-80",
     kTable},
    {949, "ks_c_5601-1987",
     "iso-ir-149|csksc56011987|ks-c-5601-1987|korean|ks-c-5601|ks-c5601|ksc5601|ksc-5601|ks-c-5601-"
     "1989",
     kTable},
    {950, "big5", "x-x-big5|big5-hkscs|csbig5|cn-big5", kTable},
    {1026, "ibm1026", "cp1026|csibm1026", kTable},
    {1047, "ibm01047", "", kTable},
    {1140, "ibm01140", "cp01140|ccsid01140|ebcdic-us-37+euro", kTable},
    {1141, "ibm01141", "cp01141|ccsid01141|ebcdic-de-273+euro", kTable},
    {1142, "ibm01142", "cp01142|ccsid01142|ebcdic-dk-277+euro|ebcdic-no-277+euro", kTable},
    {1143, "ibm01143", "cp01143|ccsid01143|ebcdic-fi-278+euro|ebcdic-se-278+euro", kTable},
    {1144, "ibm01144", "cp01144|ccsid01144|ebcdic-it-280+euro", kTable},
    {1145, "ibm01145", "cp01145|ccsid01145|ebcdic-es-284+euro", kTable},
    {1146, "ibm01146", "cp01146|ccsid01146|ebcdic-gb-285+euro", kTable},
    {1147, "ibm01147", "cp01147|ccsid01147|ebcdic-fr-297+euro", kTable},
    {1148, "ibm01148", "cp01148|ccsid01148", kTable},
    {1149, "ibm01149", "cp01149|ccsid01149|ebcdic-is-871+euro", kTable},
    {1200, "unicode", "iso-10646-ucs-2|utf-16|utf16|ucs-2|ucs2|utf-16le", kAlgorithmic},
    {1201, "unicodefffe", "utf-16be", kAlgorithmic},
    {1250, "windows-1250", "x-cp1250", kTable},
    {1251, "windows-1251", "x-cp1251", kTable},
    {1252, "windows-1252", "x-ansi", kTable},
    {1253, "windows-1253", "", kTable},
    {1254, "windows-1254", "", kTable},
    {1255, "windows-1255", "", kTable},
    {1256, "windows-1256", "cp1256", kTable},
    {1257, "windows-1257", "", kTable},
    {1258, "windows-1258", "", kTable},
    {1361, "johab", "", kTable},
    {10000, "macintosh", "macroman", kTable},
    {10001, "x-mac-japanese", "macjapanese", kTable},
    {10002, "x-mac-chinesetrad", "macchinesetrad", kNone},
    {10003, "x-mac-korean", "mackorean", kNone},
    {10004, "x-mac-arabic", "macarabic", kTable},
    {10005, "x-mac-hebrew", "machebrew", kTable},
    {10006, "x-mac-greek", "macgreek", kTable},
    {10007, "x-mac-cyrillic", "maccyrillic", kTable},
    {10008, "x-mac-chinesesimp", "macchinesesimp", kNone},
    {10010, "x-mac-romanian", "", kTable},
    {10017, "x-mac-ukrainian", "", kTable},
    {10021, "x-mac-thai", "", kTable},
    {10029, "x-mac-ce", "maccentraleurope", kTable},
    {10079, "x-mac-icelandic", "macicelandic", kTable},
    {10081, "x-mac-turkish", "macturkish", kTable},
    {10082, "x-mac-croatian", "", kTable},
    {20000, "x-chinese-cns", "", kNone},
    {20001, "x-cp20001", "", kNone},
    {20002, "x-chinese-eten", "", kNone},
    {20003, "x-cp20003", "", kNone},
    {20004, "x-cp20004", "", kNone},
    {20005, "x-cp20005", "", kNone},
    {20105, "x-ia5", "irv", kTable},
    {20106, "x-ia5-german", "din-66003|german", kTable},
    {20107, "x-ia5-swedish", "sen-850200-b|swedish", kTable},
    {20108, "x-ia5-norwegian", "norwegian|ns-4551-1", kTable},
    {20127, "us-ascii",
     "iso-ir-6|iso646-us|iso-646.irv:1991|ibm367|us|cp367|csascii|ansi-x3.4-1968|ansi-x3.4-1986|"
     "ascii",
     kTable},
    {20261, "x-cp20261", "", kTable},
    {20269, "x-cp20269", "", kTable},
    {20273, "ibm273", "cp273|csibm273", kTable},
    {20277, "ibm277", "csibm277|ebcdic-cp-dk|ebcdic-cp-no", kTable},
    {20278, "ibm278", "cp278|csibm278|ebcdic-cp-fi|ebcdic-cp-se", kTable},
    {20280, "ibm280", "cp280|csibm280|ebcdic-cp-it", kTable},
    {20284, "ibm284", "cp284|csibm284|ebcdic-cp-es", kTable},
    {20285, "ibm285", "cp285|csibm285|ebcdic-cp-gb", kTable},
    {20290, "ibm290", "cp290|csibm290|ebcdic-jp-kana", kTable},
    {20297, "ibm297", "cp297|csibm297|ebcdic-cp-fr", kTable},
    {20420, "ibm420", "cp420|csibm420|ebcdic-cp-ar1", kTable},
    {20423, "ibm423", "cp423|csibm423|ebcdic-cp-gr", kTable},
    {20424, "ibm424", "cp424|csibm424|ebcdic-cp-he", kTable},
    {20833, "x-ebcdic-koreanextended", "", kNone},
    {20838, "ibm-thai", "csibmthai", kTable},
    {20866, "koi8-r", "cskoi8r|koi|koi8|koi8r", kTable},
    {20871, "ibm871", "cp871|csibm871|ebcdic-cp-is", kTable},
    {20880, "ibm880", "cp880|csibm880|ebcdic-cyrillic", kTable},
    {20905, "ibm905", "cp905|csibm905|ebcdic-cp-tr", kTable},
    {20924, "ibm00924", "cp00924|ccsid00924|ebcdic-latin9--euro", kTable},
    {20932, "euc-jp", "", kNone},
    {20936, "x-cp20936", "", kNone},
    {20949, "x-cp20949", "", kNone},
    {21025, "cp1025", "", kTable},
    {21027, nullptr, "x-cp21027", kNone},
    {21866, "koi8-u", "koi8-ru", kTable},
    {28591, "iso-8859-1", "iso-ir-100|iso-8859-1:1987|ibm819|cp819|csisolatin1|l1|latin1|latin-1",
     kTable},
    {28592, "iso-8859-2", "iso-ir-101|iso-8859-2:1987|csisolatin2|l2|latin2|latin-2", kTable},
    {28593, "iso-8859-3", "iso-ir-109|iso-8859-3:1988|csisolatin3|l3|latin3|latin-3", kTable},
    {28594, "iso-8859-4", "iso-ir-110|iso-8859-4:1988|csisolatin4|l4|latin4|latin-4", kTable},
    {28595, "iso-8859-5", "iso-ir-144|iso-8859-5:1988|csisolatincyrillic|cyrillic", kTable},
    {28596, "iso-8859-6", "iso-ir-127|iso-8859-6:1987|csisolatinarabic|ecma-114|arabic", kTable},
    {28597, "iso-8859-7",
     "iso-ir-126|iso-8859-7:1987|csisolatingreek|ecma-118|elot-928|greek|greek8", kTable},
    {28598, "iso-8859-8", "iso-ir-138|iso-8859-8:1988|csisolatinhebrew|hebrew|logical|visual",
     kTable},
    {28599, "iso-8859-9", "iso-ir-148|iso-8859-9:1989|csisolatin5|l5|latin5|latin-5", kTable},
    {28603, "iso-8859-13", "", kTable},
    {28605, "iso-8859-15", "csisolatin9|l9|latin9|latin-9", kTable},
    {29001, "x-europa", "", kNone},
    {38598, "iso-8859-8-i", "", kTable},
    {50000, nullptr, "x-user-defined", kNone},
    {50220, "iso-2022-jp", "csiso2022jp", kAlgorithmic},
    {50221, "csiso2022jp", "iso-2022-jp-1", kAlgorithmic},
    {50222, "iso-2022-jp", "iso-2022-jp-2", kAlgorithmic},
    {50225, "iso-2022-kr", "iso-2022-kr-7|iso-2022-kr-7bit|csiso2022kr", kAlgorithmic},
    {50227, "x-cp50227", "cp50227", kNone},
    {50930, nullptr, "cp930", kNone},
    {50931, nullptr, "x-ebcdic-japaneseanduscanada", kNone},
    {50933, nullptr, "cp933", kNone},
    {50935, nullptr, "cp935", kNone},
    {50937, nullptr, "cp937", kNone},
    {50939, nullptr, "cp939", kNone},
    {51932, "euc-jp", "iso-2022-jpeuc|x-euc|x-euc-jp|cseucpkdfmtjapanese", kTable},
    {51936, "euc-cn", "x-euc-cn", kTable},
    {51949, "euc-kr", "iso-2022-kr-8|iso-2022-kr-8bit|cseuckr", kTable},
    {51950, nullptr, "euc-tw", kNone},
    {52936, "hz-gb-2312", "", kNone},
    {54936, "gb18030", "", kNone},
    {57002, "x-iscii-de", "", kNone},
    {57003, "x-iscii-be", "", kNone},
    {57004, "x-iscii-ta", "", kNone},
    {57005, "x-iscii-te", "", kNone},
    {57006, "x-iscii-as", "", kNone},
    {57007, "x-iscii-or", "", kNone},
    {57008, "x-iscii-ka", "", kNone},
    {57009, "x-iscii-ma", "", kNone},
    {57010, "x-iscii-gu", "", kNone},
    {57011, "x-iscii-pa", "", kNone},
    {65000, nullptr,
     "utf-7|unicode-1-1-utf-7|unicode-2-0-utf-7|x-unicode-1-1-utf-7|x-unicode-2-0-utf-7|"
     "csunicode11utf7",
     kAlgorithmic},
    {65001, "utf-8",
     "utf8|unicode-1-1-utf-8|unicode-2-0-utf-8|x-unicode-1-1-utf-8|x-unicode-2-0-utf-8",
     kAlgorithmic},
    {65005, "utf-32", "", kAlgorithmic},
    {65006, "utf-32be", "", kAlgorithmic},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A written name compared in the resolver's normal form ("_" as "-").
bool EqualsNormalised(std::string_view key, const char* written) {
  size_t i = 0;
  for (; written[i] != '\0'; ++i) {
    char c = written[i] == '_' ? '-' : written[i];
    if (i >= key.size() || key[i] != c) return false;
  }
  return i == key.size();
}

bool ListContains(const char* list, std::string_view key) {
  std::string_view rest(list);
  while (!rest.empty()) {
    size_t bar = rest.find('|');
    if (rest.substr(0, bar) == key) return true;
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  return false;
}

const CharsetRow* RowFor(int codePage) {
  for (const CharsetRow& row : kCharsets) {
    if (row.codePage == codePage) return &row;
  }
  return nullptr;
}

bool EqualsIgnoreCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

int codePageForName(const char* name) {
  if (name == nullptr) return 0;
  std::string_view text(name);
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.size() < 3 || text.size() > kMaxNameLength) return 0;
  char folded[kMaxNameLength];
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF))
      c = static_cast<unsigned char>(c + 0x20);
    if (c == '_') c = '-';
    folded[i] = static_cast<char>(c);
  }
  std::string_view key(folded, text.size());
  if (key == "ansi") return AnsiCodePage();
  // Further names first, then written names: this gives the table's own resolution where a
  // name appears twice ("csiso2022jp", "gb18030" and "iso-2022-jp" to 50220, 936, 50220).
  for (const CharsetRow& row : kCharsets) {
    if (ListContains(row.further, key)) return row.codePage;
  }
  for (const CharsetRow& row : kCharsets) {
    if (row.written != nullptr && row.codePage != kCodePageWrittenOnly &&
        EqualsNormalised(key, row.written)) {
      return row.codePage;
    }
  }
  return 0;
}

bool nameForCodePage(int codePage, StringBuffer& out) {
  out.clear();
  const char* name = WrittenNameForCodePage(codePage);
  return name != nullptr && out.append(name);
}

const char* WrittenNameForCodePage(int codePage) {
  const CharsetRow* row = RowFor(codePage);
  return row != nullptr ? row->written : nullptr;
}

CharsetConversion ConversionForCodePage(int codePage) {
  const CharsetRow* row = RowFor(codePage);
  return row != nullptr ? row->conversion : CharsetConversion::kUnknown;
}

void Charset::setByName(const char* name) {
  if (name == nullptr) return;
  if (std::strcmp(name, "default") == 0 || std::strcmp(name, "x-user-defined") == 0) {
    clear();
  } else if (EqualsIgnoreCase(name, "ansi")) {
    setByCodePage(AnsiCodePage());
  } else if (EqualsIgnoreCase(name, "oem")) {
    setByCodePage(OemCodePage());
  } else {
    int codePage = codePageForName(name);
    if (codePage == 0) {
      clear();
      return;
    }
    const char* written = WrittenNameForCodePage(codePage);
    codePage_ = codePage;
    name_ = written != nullptr ? written : "";
  }
}

void Charset::setByCodePage(int codePage) {
  const char* written = WrittenNameForCodePage(codePage);
  if (written == nullptr) {
    clear();
    return;
  }
  codePage_ = codePage;
  name_ = written;
}

void Charset::clear() {
  codePage_ = 0;
  name_ = "";
}

}  // namespace quillon
