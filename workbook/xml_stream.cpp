#include "workbook/xml_stream.h"

#include <expat.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/sysutils.h"

namespace workbook {

namespace {

constexpr std::string_view kStrictRels = "http://purl.oclc.org/ooxml/officeDocument/relationships";
constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

struct NamespacePair {
  std::string_view strict;
  std::string_view transitional;
};
constexpr std::array<NamespacePair, 3> kStrict = {{
    {"http://purl.oclc.org/ooxml/spreadsheetml/main", ns::kSpreadsheetMl},
    {kStrictRels, ns::kOfficeRels},
    {"http://purl.oclc.org/ooxml/drawingml/main", "http://schemas.openxmlformats.org/drawingml/2006/main"},
}};

// True for an attribute "xmlns" or "xmlns:...", without measuring the name.
bool IsDeclaration(const char* name) {
  return name[0] == 'x' && name[1] == 'm' && name[2] == 'l' && name[3] == 'n' && name[4] == 's' &&
         (name[5] == 0 || name[5] == ':');
}

// The prefix an attribute "xmlns" or "xmlns:p" declares ("" or "p"), or
// false for any other attribute.
bool DeclaredPrefix(std::string_view name, std::string_view& prefix) {
  if (!name.starts_with("xmlns")) return false;
  if (name.size() == 5) {
    prefix = {};
    return true;
  }
  if (name[5] != ':') return false;
  prefix = name.substr(6);
  return true;
}

// One random salt for the name hashes of every parser of the process; left
// alone, expat asks the kernel for one per parser (a system call per part).
// 0 (no random bytes to be had) leaves the choice to expat.
unsigned long HashSalt() {
  static const unsigned long salt = [] {
    unsigned long s = 0;
    if (getrandom(&s, sizeof s, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof s)) s = 0;
    return s;
  }();
  return salt;
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

const std::string* XmlStream::Lookup(std::string_view prefix) const {
  for (std::size_t i = 0; i < cached_; ++i) {
    if (cache_[i].prefix == prefix) return cache_[i].uri;
  }
  const std::string* uri = nullptr;
  for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it) {
    if (it->prefix == prefix) {
      uri = &it->uri;
      break;
    }
  }
  Cached& slot = cache_[cacheNext_];
  cacheNext_ = (cacheNext_ + 1) % cache_.size();
  cached_ = std::max(cached_, cacheNext_ == 0 ? cache_.size() : cacheNext_);
  slot.prefix.assign(prefix);
  slot.uri = uri;
  return uri;
}

bool XmlStream::Resolve(const char* raw, bool element, XmlName& out) const {
  NameSlot& slot = (element ? elementNames_ : attributeNames_)[(reinterpret_cast<std::uintptr_t>(raw) >> 4) % kNameSlots];
  if (slot.scope == scope_ && std::strcmp(slot.raw.c_str(), raw) == 0) {
    out.ns = slot.ns;
    out.local = std::string_view(raw + slot.localAt, slot.localSize);
    return true;
  }
  const std::string_view name(raw);
  const std::size_t colon = name.find(':');
  if (colon == std::string_view::npos) {
    out.local = name;
    out.ns = {};
    if (element) {
      if (const std::string* uri = Lookup({})) out.ns = *uri;
    }
  } else {
    const std::string_view prefix = name.substr(0, colon);
    out.local = name.substr(colon + 1);
    if (out.local.empty() || out.local.find(':') != std::string_view::npos) return false;
    if (prefix == "xml") {
      out.ns = kXmlNamespace;
    } else {
      const std::string* uri = Lookup(prefix);
      if (!uri) return false;
      out.ns = *uri;
    }
  }
  slot.raw.assign(name);
  slot.scope = scope_;
  slot.ns = out.ns;
  slot.localAt = static_cast<std::uint32_t>(out.local.data() - raw);
  slot.localSize = static_cast<std::uint32_t>(out.local.size());
  return true;
}

// Records the namespace declarations of a start tag at the current depth,
// then resolves its other attributes into attributes_; false (and the parse
// failed) for a malformed declaration or an unbound prefix among them.
bool XmlStream::ReadAttributes(const char** attributes) {
  attributes_.clear();
  bool declares = false;
  for (const char** p = attributes; *p && !declares; p += 2) declares = IsDeclaration(*p);
  for (const char** p = attributes; declares && *p; p += 2) {
    std::string_view prefix;
    if (!DeclaredPrefix(*p, prefix)) continue;
    const std::string_view uri(p[1]);
    if (!prefix.empty() && uri.empty()) {
      Fail(XmlError("must not undeclare prefix"));
      return false;
    }
    if (prefix == "xmlns" || (prefix == "xml") != (uri == kXmlNamespace)) {
      Fail(XmlError("reserved prefix (xml) must not be undeclared or bound to another namespace name"));
      return false;
    }
    if (bindings_.size() >= kMaxBindings) {
      Fail("more than " + std::to_string(kMaxBindings) + " namespace declarations in scope");
      return false;
    }
    bindings_.push_back({std::string(prefix), std::string(TransitionalNamespace(uri)), depth_});
    cached_ = cacheNext_ = 0;
    ++scope_;
  }
  for (const char** p = attributes; *p; p += 2) {
    if (declares && IsDeclaration(*p)) continue;
    XmlAttributes::Attribute& a = attributes_.emplace_back();
    a.value = p[1];
    if (!Resolve(*p, false, a.name)) {
      Fail(XmlError("unbound prefix"));
      return false;
    }
  }
  return true;
}

std::string XmlStream::XmlError(std::string_view what) const {
  return "XML error at line " + std::to_string(XML_GetCurrentLineNumber(static_cast<XML_Parser>(parser_))) + ": " +
         std::string(what);
}

struct XmlStream::Callbacks {
  static XmlStream& Self(void* data) { return *static_cast<XmlStream*>(data); }

  // Runs a handler call; an exception it raises stops the parser and is
  // raised again by Feed (it must not cross expat's C frames).
  template <typename F>
  static void Guard(XmlStream& self, F&& f) {
    if (self.stopped_ || !self.error_.empty() || self.handlerError_) return;
    try {
      f();
    } catch (...) {
      self.handlerError_ = std::current_exception();
      XML_StopParser(static_cast<XML_Parser>(self.parser_), XML_FALSE);
    }
  }

  static void Start(void* data, const char* name, const char** attributes) {
    XmlStream& self = Self(data);
    ++self.depth_;
    self.open_.emplace_back();
    if (self.depth_ > kMaxDepth) {
      self.Fail("elements nest deeper than " + std::to_string(kMaxDepth));
      return;
    }
    if (!self.ReadAttributes(attributes)) return;
    XmlName element;
    if (!self.Resolve(name, true, element)) {
      self.Fail(self.XmlError("unbound prefix"));
      return;
    }
    self.open_.back() = {element.ns, static_cast<std::uint32_t>(element.local.data() - name),
                         static_cast<std::uint32_t>(element.local.size())};
    Guard(self, [&] { self.handler_.OnStart(element, XmlAttributes(self.attributes_)); });
  }
  // An end tag repeats its start tag's name: its namespace and local name are
  // the ones found at the start (an element whose start failed gets no call).
  static void End(void* data, const char* name) {
    XmlStream& self = Self(data);
    if (!self.open_.empty()) {
      const Open open = self.open_.back();
      self.open_.pop_back();
      Guard(self, [&] { self.handler_.OnEnd(XmlName{open.ns, std::string_view(name + open.localAt, open.localSize)}); });
    }
    while (!self.bindings_.empty() && self.bindings_.back().depth == self.depth_) {
      self.bindings_.pop_back();
      self.cached_ = self.cacheNext_ = 0;
      ++self.scope_;
    }
    --self.depth_;
  }
  static void Text(void* data, const char* text, int length) {
    XmlStream& self = Self(data);
    Guard(self, [&] { self.handler_.OnText(std::string_view(text, static_cast<std::size_t>(length))); });
  }
  static void Doctype(void* data, const char*, const char*, const char*, int) {
    Self(data).Fail("a DOCTYPE is not allowed");
  }
  static void Entity(void* data, const char*, int, const char*, int, const char*, const char*, const char*,
                     const char*) {
    Self(data).Fail("an entity declaration is not allowed");
  }
};

XmlStream::XmlStream(XmlHandler& handler, std::string part) : handler_(handler), part_(std::move(part)) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) throw Exception("Out of memory for the XML parser");
  parser_ = parser;
  XML_SetUserData(parser, this);
  XML_SetElementHandler(parser, Callbacks::Start, Callbacks::End);
  XML_SetCharacterDataHandler(parser, Callbacks::Text);
  XML_SetStartDoctypeDeclHandler(parser, Callbacks::Doctype);
  XML_SetEntityDeclHandler(parser, Callbacks::Entity);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
  if (const unsigned long salt = HashSalt()) XML_SetHashSalt(parser, salt);
}

XmlStream::~XmlStream() { XML_ParserFree(static_cast<XML_Parser>(parser_)); }

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
    // Where the parse stands: what lies beyond is an unfinished token that
    // expat keeps in its buffer.
    const XML_Index at = XML_GetCurrentByteIndex(parser);
    if (at >= 0) parsed_ = static_cast<std::uint64_t>(at);
    if (fed_ - parsed_ > kMaxToken) {
      throw Exception("Workbook part " + part_ + ": a markup token is longer than " + std::to_string(kMaxToken) +
                      " bytes");
    }
  } while (done < bytes.size());
  return true;
}

}  // namespace workbook
