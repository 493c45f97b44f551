#include "workbook/xml_stream.h"

#include <expat.h>

#include <array>
#include <cstring>
#include <utility>

#include "platform/sysutils.h"

namespace workbook {

namespace {

// Separates the namespace URI from the local name in expat's names; it
// cannot occur in either.
constexpr char kSeparator = '\x01';

constexpr std::string_view kStrictRels = "http://purl.oclc.org/ooxml/officeDocument/relationships";

struct NamespacePair {
  std::string_view strict;
  std::string_view transitional;
};
constexpr std::array<NamespacePair, 3> kStrict = {{
    {"http://purl.oclc.org/ooxml/spreadsheetml/main", ns::kSpreadsheetMl},
    {kStrictRels, ns::kOfficeRels},
    {"http://purl.oclc.org/ooxml/drawingml/main", "http://schemas.openxmlformats.org/drawingml/2006/main"},
}};

XmlName SplitName(const char* name) {
  const std::string_view all(name);
  const std::size_t sep = all.find(kSeparator);
  if (sep == std::string_view::npos) return {{}, all};
  return {TransitionalNamespace(all.substr(0, sep)), all.substr(sep + 1)};
}

}  // namespace

std::string_view TransitionalNamespace(std::string_view uri) {
  if (!uri.starts_with("http://purl.oclc.org/")) return uri;
  for (const auto& pair : kStrict) {
    if (uri == pair.strict) return pair.transitional;
  }
  return uri;
}

std::string TransitionalRelationshipType(std::string_view type) {
  if (type.starts_with(kStrictRels) && type.size() > kStrictRels.size() && type[kStrictRels.size()] == '/') {
    return std::string(ns::kOfficeRels) + std::string(type.substr(kStrictRels.size()));
  }
  return std::string(type);
}

const char* XmlAttributes::Find(std::string_view uri, std::string_view local) const {
  for (const char** p = pairs_; *p; p += 2) {
    const XmlName name = SplitName(*p);
    if (name.local == local && name.ns == uri) return p[1];
  }
  return nullptr;
}

struct XmlStream::Callbacks {
  static XmlStream& Self(void* data) { return *static_cast<XmlStream*>(data); }

  // Runs a handler call; an exception it raises stops the parser and is
  // raised again by Feed (it must not cross expat's C frames).
  template <typename F>
  static void Guard(XmlStream& self, F&& f) {
    if (self.stopped_ || !self.error_.empty() || self.handlerError_) return;
    self.Mark();
    try {
      f();
    } catch (...) {
      self.handlerError_ = std::current_exception();
      XML_StopParser(static_cast<XML_Parser>(self.parser_), XML_FALSE);
    }
  }

  static void Start(void* data, const char* name, const char** attributes) {
    XmlStream& self = Self(data);
    if (++self.depth_ > kMaxDepth) {
      self.Fail("elements nest deeper than " + std::to_string(kMaxDepth));
      return;
    }
    Guard(self, [&] { self.handler_.OnStart(SplitName(name), XmlAttributes(attributes)); });
  }
  static void End(void* data, const char* name) {
    XmlStream& self = Self(data);
    Guard(self, [&] { self.handler_.OnEnd(SplitName(name)); });
    --self.depth_;
  }
  static void Text(void* data, const char* text, int length) {
    XmlStream& self = Self(data);
    Guard(self, [&] { self.handler_.OnText(std::string_view(text, static_cast<std::size_t>(length))); });
  }
  // Comments and processing instructions only mark progress (see kMaxToken).
  static void Marker(void* data, const char*) { Self(data).Mark(); }
  static void Marker2(void* data, const char*, const char*) { Self(data).Mark(); }
  static void Doctype(void* data, const char*, const char*, const char*, int) {
    Self(data).Fail("a DOCTYPE is not allowed");
  }
  static void Entity(void* data, const char*, int, const char*, int, const char*, const char*, const char*,
                     const char*) {
    Self(data).Fail("an entity declaration is not allowed");
  }
};

XmlStream::XmlStream(XmlHandler& handler, std::string part) : handler_(handler), part_(std::move(part)) {
  XML_Parser parser = XML_ParserCreateNS(nullptr, kSeparator);
  if (!parser) throw Exception("Out of memory for the XML parser");
  parser_ = parser;
  XML_SetUserData(parser, this);
  XML_SetElementHandler(parser, Callbacks::Start, Callbacks::End);
  XML_SetCharacterDataHandler(parser, Callbacks::Text);
  XML_SetCommentHandler(parser, Callbacks::Marker);
  XML_SetProcessingInstructionHandler(parser, Callbacks::Marker2);
  XML_SetStartDoctypeDeclHandler(parser, Callbacks::Doctype);
  XML_SetEntityDeclHandler(parser, Callbacks::Entity);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlStream::~XmlStream() { XML_ParserFree(static_cast<XML_Parser>(parser_)); }

void XmlStream::Mark() {
  const XML_Index at = XML_GetCurrentByteIndex(static_cast<XML_Parser>(parser_));
  if (at >= 0) lastEvent_ = static_cast<std::uint64_t>(at);
}

void XmlStream::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
  XML_StopParser(static_cast<XML_Parser>(parser_), XML_FALSE);
}

void XmlStream::Stop() {
  stopped_ = true;
  XML_StopParser(static_cast<XML_Parser>(parser_), XML_FALSE);
}

bool XmlStream::Feed(std::span<const std::uint8_t> bytes, bool last) {
  if (stopped_) return false;
  auto* parser = static_cast<XML_Parser>(parser_);
  // Parsed in slices, so that a token growing without end is seen while
  // expat's buffer is still small.
  constexpr std::size_t kSlice = 64 * 1024;
  std::size_t done = 0;
  do {
    const std::size_t n = std::min(kSlice, bytes.size() - done);
    const bool final = last && done + n == bytes.size();
    const XML_Status status =
        XML_Parse(parser, reinterpret_cast<const char*>(bytes.data() + done), static_cast<int>(n), final);
    done += n;
    fed_ += n;
    if (handlerError_) std::rethrow_exception(std::exchange(handlerError_, nullptr));
    if (!error_.empty()) throw Exception("Workbook part " + part_ + ": " + error_);
    if (stopped_) return false;
    if (status != XML_STATUS_OK) {
      throw Exception("Workbook part " + part_ + ": XML error at line " +
                      std::to_string(XML_GetCurrentLineNumber(parser)) + ": " +
                      XML_ErrorString(XML_GetErrorCode(parser)));
    }
    if (fed_ - lastEvent_ > kMaxToken) {
      throw Exception("Workbook part " + part_ + ": a markup token is longer than " + std::to_string(kMaxToken) +
                      " bytes");
    }
  } while (done < bytes.size());
  return true;
}

}  // namespace workbook
