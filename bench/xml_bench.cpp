// Parsing and writing a 10 MB XML document (cookie-like records with attributes, entities and
// text). The document is also written to $TMPDIR/xml_bench.xml so that xmllint can read the same
// bytes: /usr/bin/time xmllint --noout "${TMPDIR:-/tmp}/xml_bench.xml"
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "base/cls_xml.h"
#include "base/platform.h"

namespace {

constexpr size_t kDocumentSize = 10 * 1000 * 1000;

std::string MakeDocument() {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<cookies>\n";
  for (int i = 0; xml.size() < kDocumentSize; ++i) {
    std::string n = std::to_string(i);
    xml += "  <cookie key=\".host" + n + ".example.com,/path/" + n + "\" v=\"0\" expire=\"Wed, 09 Jun 2027 10:18:14 GMT\" secure=\"yes\">\n";
    xml += "    <session_id>a8f5f167f44f4964e6c998dee827110c" + n + "</session_id>\n";
    xml += "    <pref>lang=en&amp;theme=dark&amp;n=" + n + "</pref>\n";
    xml += "    <note>Fish &amp; chips &lt;daily&gt; for " + n + " guests, &quot;quoted&quot;</note>\n";
    xml += "  </cookie>\n";
  }
  xml += "</cookies>\n";
  return xml;
}

std::string DocumentPath() { return quillon::TempDirectory() + "xml_bench.xml"; }

const std::string& Document() {
  static const std::string document = [] {
    std::string xml = MakeDocument();
    std::string path = DocumentPath();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
      std::fwrite(xml.data(), 1, xml.size(), file);
      std::fclose(file);
    }
    return xml;
  }();
  return document;
}

void BM_XmlParse10MB(benchmark::State& state) {
  const std::string& xml = Document();
  for (auto _ : state) {
    quillon::ClsXml doc;
    if (!doc.LoadXml(xml.c_str(), true)) state.SkipWithError("parse failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_XmlParse10MB)->Unit(benchmark::kMillisecond);

// The same document read from its file, as xmllint --noout reads it.
void BM_XmlLoadFile10MB(benchmark::State& state) {
  const std::string& xml = Document();
  std::string path = DocumentPath();
  for (auto _ : state) {
    quillon::ClsXml doc;
    if (!doc.LoadXmlFile(path.c_str(), true)) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_XmlLoadFile10MB)->Unit(benchmark::kMillisecond);

void BM_XmlSerialize10MB(benchmark::State& state) {
  quillon::ClsXml doc;
  doc.LoadXml(Document().c_str(), true);
  quillon::StringBuffer out;
  size_t bytes = 0;
  for (auto _ : state) {
    doc.ToXmlText(out);
    bytes += out.length();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_XmlSerialize10MB)->Unit(benchmark::kMillisecond);

}  // namespace
