// The XML reader and writer: parses a whole text into a CXMLNode tree under the root "XMLROOT"
// and writes the tree back as indented text.
//
// The dialect is a small XML 1.0 subset for configuration files: elements, attributes, text,
// CDATA sections, comments (dropped), other processing instructions (dropped) and one "xml"
// declaration. Only the five predefined entities are decoded; no DTD, no namespaces, no numeric
// character references.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "UnicodeString.h"
#include "XmlNodeTS.h"

namespace Tarsel {

// The errors Parse raises, as Vrn::CCheckException names. %0 is always the number of line feeds
// read before the error; %1 is the missing or offending text where there is one.
inline constexpr wchar_t kErrMissingSymbol[] = L"ERR_TOOLS_XML_PARSING_MISSING_SYMBOL";
inline constexpr wchar_t kErrMissingId[] = L"ERR_TOOLS_XML_PARSING_MISSING_ID";
inline constexpr wchar_t kErrUnexpectedSymbol[] = L"ERR_TOOLS_XML_PARSING_UNEXPECTED_SYMBOL";
inline constexpr wchar_t kErrUnexpectedEof[] = L"ERR_TOOLS_XML_PARSING_UNEXPECTED_EOF";
inline constexpr wchar_t kErrTagsMismatch[] = L"ERR_TOOLS_XML_PARSING_TAGS_MISMATCH";
inline constexpr wchar_t kErrDuplicateAttribute[] = L"ERR_TOOLS_XML_PARSING_DUPLICATE_ATTRIBUTE";
inline constexpr wchar_t kErrBadHeader[] = L"ERR_TOOLS_XML_PARSING_BAD_HEADER";

// Save refuses a tree nested deeper than this many elements, raising Vrn::CCheckException kErrTooDeep
// (%0 = the limit). Its text grows with depth squared (one tab per level on every line), so a hostile
// 100,000-level tree would need tens of gigabytes; configuration files nest a few dozen levels.
inline constexpr size_t kMaxSaveDepth = 4096;
inline constexpr wchar_t kErrTooDeep[] = L"ERR_XML_TOO_DEEP";

// The name of the artificial root above the document's top-level elements.
inline constexpr wchar_t kRootName[] = L"XMLROOT";

// Replaces "&lt;", "&gt;", "&amp;", "&apos;" and "&quot;" by their characters; any other "&" stays.
Vrn::CUnicodeString DecodeEntities(std::wstring_view text);
// Replaces every "<", ">", "&", "'" and '"' by its entity; a text without them is returned as is.
Vrn::CUnicodeString EncodeEntities(const Vrn::CUnicodeString& text);

class CXMLParser {
 public:
  // Called with each element as its end tag is read (an element written "<a/>" has no end tag
  // and is not reported). The callback may change the element and its subtree but must not
  // delete the element or move it.
  using ElementClosedCallback = std::function<void(CXMLNode& element)>;

  // Starts with an empty root.
  CXMLParser();
  ~CXMLParser();
  CXMLParser(const CXMLParser&) = delete;
  CXMLParser& operator=(const CXMLParser&) = delete;

  // Parses the whole text into a new tree that replaces the current one. Raises
  // Vrn::CCheckException with one of the kErr* names above (and an English fallback text); the
  // current tree is then left as it was.
  void Parse(const Vrn::CUnicodeString& text);

  // The root "XMLROOT": its children are the top-level elements, its Header the declaration.
  CXMLNode& GetRoot() noexcept { return *m_root; }
  const CXMLNode& GetRoot() const noexcept { return *m_root; }

  // The document as text: the declaration when the root has a Header, then each top-level element
  // indented by one tab per depth, every line ended by "\r\n". A tree deeper than kMaxSaveDepth raises.
  Vrn::CUnicodeString Save() const;

  void SetElementClosedCallback(ElementClosedCallback callback) { m_elementClosed = std::move(callback); }

 private:
  std::unique_ptr<CXMLNode> m_root;
  ElementClosedCallback m_elementClosed;
};

}  // namespace Tarsel
