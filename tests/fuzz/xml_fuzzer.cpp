// Feeds arbitrary bytes to the XML file charset detection and the forgiving parser (trimming
// or not, by the input's length), writes the tree back and parses that again, and walks the
// handle's lookups with the first line as a wildcard pattern.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/cls_xml.h"
#include "base/log_base.h"
#include "base/xml_file.h"
#include "base/xml_parser.h"
#include "base/xml_serializer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX / 2) return 0;
  quillon::LogNull log;
  quillon::DataBuffer bytes(data, static_cast<uint32_t>(size));
  quillon::DecodeXmlFileBytes(bytes, log);
  std::unique_ptr<quillon::TreeInfo> document =
      quillon::ParseXmlDocument(bytes.view(), log, size % 2 == 0);
  if (document) {
    quillon::StringBuffer written;
    quillon::SerializeXml(*document->root(), written);
    quillon::ParseXmlDocument(written.view(), log, true);
  }

  std::string text(reinterpret_cast<const char*>(data), size);
  quillon::ClsXml xml;
  if (text.find('<') == std::string::npos || !xml.LoadXml(text.c_str(), true)) return 0;
  std::string pattern = text.substr(0, text.find('\n'));
  for (std::unique_ptr<quillon::ClsXml> child = xml.FirstChildHandle(); child;) {
    quillon::StringBuffer tag;
    child->TagText(tag);
    xml.ChildByTagAndAttr(tag.getString(), "key", pattern.c_str());
    child->ReplaceAttr(pattern.c_str(), pattern.c_str());
    if (!child->MoveToNextSibling()) break;
  }
  return 0;
}
