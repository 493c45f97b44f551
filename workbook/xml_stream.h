// Streaming XML for workbook parts: expat fed chunk by chunk (no document
// tree, no whole-part buffer), elements and attributes named by namespace
// URI and local name (prefixes never matter; the Strict OOXML namespaces are
// reported as their Transitional twins). Namespace declarations are resolved
// here rather than by expat's namespace mode, which hashes every prefixed
// attribute's expanded name: an ODF cell's attributes are all prefixed. Any DOCTYPE is refused, so no entity
// is ever declared, expanded or fetched; element nesting and the size of a
// single markup token are capped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace workbook {

// Namespaces the readers match on.
namespace ns {
inline constexpr std::string_view kSpreadsheetMl = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kOfficeRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kPackageRels = "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view kContentTypes = "http://schemas.openxmlformats.org/package/2006/content-types";
}  // namespace ns

// The Transitional form of a Strict OOXML namespace or relationship type
// ("http://purl.oclc.org/ooxml/spreadsheetml/main" ->
// "http://schemas.openxmlformats.org/spreadsheetml/2006/main"); any other
// text unchanged.
std::string_view TransitionalNamespace(std::string_view uri);
std::string TransitionalRelationshipType(std::string_view type);

struct XmlName {
  std::string_view ns;  // empty for no namespace
  std::string_view local;
  bool Is(std::string_view uri, std::string_view name) const { return local == name && ns == uri; }
};

class XmlStream;

// The attributes of a start tag, valid during the OnStart call only.
class XmlAttributes {
 public:
  struct Attribute {
    XmlName name;
    const char* value;
  };
  explicit XmlAttributes(std::span<const Attribute> list) : list_(list) {}
  // The value of the attribute (namespace URI, local name), or nullptr.
  // Unprefixed attributes have no namespace; namespace declarations are not
  // attributes.
  const char* Find(std::string_view uri, std::string_view local) const {
    for (const Attribute& a : list_) {
      if (a.name.local == local && a.name.ns == uri) return a.value;
    }
    return nullptr;
  }
  const char* Find(std::string_view local) const { return Find({}, local); }
  // All of them (for a handler that wants several: one pass).
  auto begin() const { return list_.begin(); }
  auto end() const { return list_.end(); }

 private:
  std::span<const Attribute> list_;
};

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void OnStart(const XmlName& name, const XmlAttributes& attributes) = 0;
  virtual void OnEnd(const XmlName& name) { (void)name; }
  // Character data, in pieces as they arrive (one text may come in several).
  virtual void OnText(std::string_view text) { (void)text; }
};

class XmlStream {
 public:
  static constexpr int kMaxDepth = 256;
  static constexpr std::size_t kMaxToken = std::size_t{4} << 20;
  // Namespace declarations in scope at once (a real part has a few dozen).
  static constexpr std::size_t kMaxBindings = 1024;

  // `part` names the document in messages ("xl/workbook.xml").
  XmlStream(XmlHandler& handler, std::string part);
  ~XmlStream();
  XmlStream(const XmlStream&) = delete;
  XmlStream& operator=(const XmlStream&) = delete;

  // Parses the next piece of the document (`last` at its end). Returns false
  // once the handler has called Stop (the rest is never parsed). Raises
  // Exception "Workbook part PART: ..." for malformed XML, a DOCTYPE ("a
  // DOCTYPE is not allowed"), nesting deeper than kMaxDepth, more than
  // kMaxBindings namespace declarations in scope, a markup token
  // longer than kMaxToken, and passes on what a handler raised.
  bool Feed(std::span<const std::uint8_t> bytes, bool last);
  // Ends parsing after the current event (from a handler).
  void Stop();
  bool Stopped() const { return stopped_; }
  int Depth() const { return depth_; }

 private:
  struct Callbacks;
  // A namespace declaration in scope: prefix (empty for the default
  // namespace) bound to a URI (Strict OOXML ones as their Transitional twin)
  // by the element at `depth`.
  struct Binding {
    std::string prefix;
    std::string uri;
    int depth;
  };
  void Fail(std::string message);
  // The URI bound to `prefix` (the innermost binding), or nullptr.
  const std::string* Lookup(std::string_view prefix) const;
  // Splits a raw name "prefix:local" and resolves its prefix; an unprefixed
  // element takes the default namespace, an unprefixed attribute none.
  // False for an unbound prefix.
  bool Resolve(const char* raw, bool element, XmlName& out) const;
  bool ReadAttributes(const char** attributes);
  std::string XmlError(std::string_view what) const;

  XmlHandler& handler_;
  std::string part_;
  void* parser_ = nullptr;
  int depth_ = 0;
  bool stopped_ = false;
  std::uint64_t fed_ = 0;
  std::uint64_t parsed_ = 0;  // bytes expat has parsed (as of the last slice)
  std::string error_;
  std::exception_ptr handlerError_;
  // A deque, so that a binding's URI stays where it is while it is in scope
  // (names handed to the handler are views of it).
  std::deque<Binding> bindings_;
  // The attributes of the start tag being reported, resolved.
  std::vector<XmlAttributes::Attribute> attributes_;
  // The open elements: namespace and where the local name lies in the raw
  // name, so that an end tag is not resolved again.
  struct Open {
    std::string_view ns;
    std::uint32_t localAt = 0;
    std::uint32_t localSize = 0;
  };
  std::vector<Open> open_;
  // The last prefixes looked up and what they resolved to, cleared whenever
  // a declaration comes into or goes out of scope: a part uses a handful of
  // prefixes but may declare dozens (an ODF document some thirty).
  struct Cached {
    std::string prefix;
    const std::string* uri = nullptr;
  };
  mutable std::array<Cached, 4> cache_;
  // Names resolved under the declarations in scope, by where expat keeps
  // them (an attribute name stays in one place for the whole document, an
  // element name mostly does) and confirmed by their text. scope_ changes
  // whenever a declaration comes into or goes out of scope.
  struct NameSlot {
    std::string raw;
    std::uint64_t scope = 0;
    std::string_view ns;
    std::uint32_t localAt = 0;
    std::uint32_t localSize = 0;
  };
  static constexpr std::size_t kNameSlots = 64;
  mutable std::array<NameSlot, kNameSlots> elementNames_, attributeNames_;
  std::uint64_t scope_ = 1;
  mutable std::size_t cached_ = 0;
  mutable std::size_t cacheNext_ = 0;
};

}  // namespace workbook
