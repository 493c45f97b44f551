#include "workbook/xml_stream.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "platform/sysutils.h"

using workbook::XmlAttributes;
using workbook::XmlName;
using workbook::XmlStream;

namespace {

// Writes what it sees as "{ns}local[attr=value]" / "/local" / "'text'";
// stops at an element named "stop".
class Recorder : public workbook::XmlHandler {
 public:
  std::string log;
  XmlStream* stream = nullptr;
  void OnStart(const XmlName& name, const XmlAttributes& a) override {
    if (name.local == "stop") stream->Stop();
    log += "{" + std::string(name.ns) + "}" + std::string(name.local);
    if (const char* v = a.Find("v")) log += std::string("[v=") + v + "]";
    if (const char* id = a.Find(workbook::ns::kOfficeRels, "id")) log += std::string("[r:id=") + id + "]";
    log += " ";
  }
  void OnEnd(const XmlName& name) override { log += "/" + std::string(name.local) + " "; }
  void OnText(std::string_view text) override { log += "'" + std::string(text) + "' "; }
};

// Parses `xml` in pieces of `piece` bytes; the log, or the refusal's text.
std::string Parse(const std::string& xml, std::size_t piece = 7) {
  Recorder r;
  try {
    XmlStream stream(r, "p.xml");
    r.stream = &stream;
    for (std::size_t at = 0;; at += piece) {
      const std::size_t n = at < xml.size() ? std::min(piece, xml.size() - at) : 0;
      const bool last = at + n >= xml.size();
      if (!stream.Feed({reinterpret_cast<const std::uint8_t*>(xml.data() + at), n}, last)) return r.log + "STOPPED";
      if (last) return r.log;
    }
  } catch (const Exception& e) {
    return e.what();
  }
}

TEST(XmlStream, NamesElementsAndAttributesByNamespaceUri) {
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  // xml, events
  const std::pair<std::string, std::string> rows[] = {
      {"<a v='1'>x</a>", "{}a[v=1] 'x' /a "},
      {"<w xmlns='" + main + "'/>", "{" + main + "}w /w "},
      {"<x:w xmlns:x='" + main + "'/>", "{" + main + "}w /w "},
      {"<w xmlns='http://purl.oclc.org/ooxml/spreadsheetml/main'/>", "{" + main + "}w /w "},
      {"<s xmlns:q='http://schemas.openxmlformats.org/officeDocument/2006/relationships' q:id='rId1'/>",
       "{}s[r:id=rId1] /s "},
      {"<s xmlns:r='http://purl.oclc.org/ooxml/officeDocument/relationships' r:id='rId2'/>", "{}s[r:id=rId2] /s "},
      {"<s xmlns:r='urn:other' r:id='rId3'/>", "{}s /s "},
      {"<a>&lt;&#x41;</a>", "{}a '<' 'A' /a "},
      {"<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n<!-- c --><a><?pi x?></a>", "{}a /a "},
      {"<a><stop/><b/></a>", "{}a {}stop STOPPED"},
      // Declarations are scoped to their element: an inner one hides an
      // outer one, and the outer one is back after the inner element ends.
      {"<p:a xmlns:p='urn:1'><p:b xmlns:p='urn:2'/><p:c/></p:a>", "{urn:1}a {urn:2}b /b {urn:1}c /c /a "},
      {"<a xmlns='urn:1'><b xmlns=''/><c/></a>", "{urn:1}a {}b /b {urn:1}c /c /a "},
      // An unprefixed attribute has no namespace, even under a default one;
      // a declaration is no attribute.
      {"<a xmlns='urn:1' v='2' xmlns:v='urn:v'/>", "{urn:1}a[v=2] /a "},
      {"<a xmlns:r='http://schemas.openxmlformats.org/officeDocument/2006/relationships' r:v='3' x:id='1' "
       "xmlns:x='urn:x'/>",
       "{}a /a "},
      {"<a xml:lang='de'/>", "{}a /a "},
  };
  for (const auto& [xml, events] : rows) EXPECT_EQ(Parse(xml), events) << xml;
  EXPECT_EQ(workbook::TransitionalRelationshipType("http://purl.oclc.org/ooxml/officeDocument/relationships/worksheet"),
            "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet");
}

TEST(XmlStream, RefusesHostileDocumentsQuickly) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  std::string laughs = "<!DOCTYPE l [<!ENTITY l0 'ha'>";
  for (int i = 1; i < 30; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '&l" + std::to_string(i - 1) + ";&l" + std::to_string(i - 1) + ";'>";
  }
  laughs += "]><a>&l29;</a>";
  std::string manyNs;  // 100 declarations on each of 20 nested elements
  for (int e = 0; e < 20; ++e) {
    manyNs += "<a";
    for (int i = 0; i < 100; ++i) manyNs += " xmlns:p" + std::to_string(i) + "='urn:1'";
    manyNs += ">";
  }
  // what, xml, message
  struct Case { const char* what; std::string xml; std::string message; };
  const Case cases[] = {
      {"external entity", "<!DOCTYPE a [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><a>&x;</a>",
       "Workbook part p.xml: a DOCTYPE is not allowed"},
      {"entity expansion", laughs, "Workbook part p.xml: a DOCTYPE is not allowed"},
      {"plain doctype", "<!DOCTYPE a><a/>", "Workbook part p.xml: a DOCTYPE is not allowed"},
      {"deep nesting", deep, "Workbook part p.xml: elements nest deeper than 256"},
      {"huge attribute", "<a v='" + std::string(5 << 20, 'x') + "'/>",
       "Workbook part p.xml: a markup token is longer than 4194304 bytes"},
      {"unclosed", "<a><b></a>", "Workbook part p.xml: XML error at line 1: mismatched tag"},
      {"cut short", "<a><b/>", "Workbook part p.xml: XML error at line 1: no element found"},
      {"undefined entity", "<a>&x;</a>", "Workbook part p.xml: XML error at line 1: undefined entity"},
      {"empty", "", "Workbook part p.xml: XML error at line 1: no element found"},
      {"unbound element prefix", "<a>\n<p:b/></a>", "Workbook part p.xml: XML error at line 2: unbound prefix"},
      {"unbound attribute prefix", "<a p:v='1'/>", "Workbook part p.xml: XML error at line 1: unbound prefix"},
      {"prefix out of scope", "<a><b xmlns:p='urn:1'/><p:c/></a>",
       "Workbook part p.xml: XML error at line 1: unbound prefix"},
      {"undeclared prefix", "<a xmlns:p=''/>", "Workbook part p.xml: XML error at line 1: must not undeclare prefix"},
      {"many declarations", manyNs, "Workbook part p.xml: more than 1024 namespace declarations in scope"},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Parse(c.xml, 65536), c.message) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.what;
  }
}

// The token cap bounds what expat must hold, not the document: a document far
// longer than kMaxToken made of short tokens, a long text and a long comment
// (each below the cap) parses, fed in slices as a zip entry is.
TEST(XmlStream, LongDocumentsOfShortTokensPass) {
  class Counter : public workbook::XmlHandler {
   public:
    std::size_t elements = 0, text = 0;
    void OnStart(const XmlName&, const XmlAttributes&) override { ++elements; }
    void OnText(std::string_view t) override { text += t.size(); }
  } counter;
  std::string xml = "<r>";
  while (xml.size() < XmlStream::kMaxToken + (1 << 20)) xml += "<c r='A1'><v>1.5</v></c>";
  xml += "<t>" + std::string(3 << 20, 'x') + "</t><!--" + std::string(3 << 20, 'y') + "--></r>";
  XmlStream stream(counter, "p.xml");
  for (std::size_t at = 0; at < xml.size(); at += 65536) {
    const std::size_t n = std::min<std::size_t>(65536, xml.size() - at);
    ASSERT_TRUE(stream.Feed({reinterpret_cast<const std::uint8_t*>(xml.data() + at), n}, at + n == xml.size()));
  }
  EXPECT_EQ(counter.text, (3u << 20) + 3 * (counter.elements - 2) / 2);  // "1.5" in each <v>
}

TEST(XmlStream, PassesOnWhatAHandlerRaises) {
  class Thrower : public workbook::XmlHandler {
    void OnStart(const XmlName&, const XmlAttributes&) override { throw Exception("no thanks"); }
  } handler;
  XmlStream stream(handler, "p.xml");
  const std::string xml = "<a/>";
  EXPECT_THAT([&] { stream.Feed({reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()}, true); },
              testing::ThrowsMessage<Exception>(testing::StrEq("no thanks")));
}

}  // namespace
