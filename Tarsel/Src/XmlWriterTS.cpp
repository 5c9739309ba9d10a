// The XML writer: walks the tree through its parent and sibling links instead of recursing, so a
// document of any depth up to kMaxSaveDepth costs heap, never stack.
#include <initializer_list>
#include <string>

#include "Errors.h"
#include "XmlParserTS.h"

namespace Tarsel {

namespace {

constexpr std::wstring_view kLineEnd = L"\r\n";

class CWriter {
 public:
  std::wstring Write(const CXMLNode& root) {
    if (!root.Header().IsEmpty()) m_out.append(L"<?xml ").append(root.Header().View()).append(L"?>").append(kLineEnd);
    const CXMLNode* node = root.FirstChild();
    size_t depth = 0;
    while (node != nullptr) {
      OpenElement(*node, depth);
      if (node->HasChildren()) {
        node = node->FirstChild();
        if (++depth == kMaxSaveDepth)  // depth counts from 0 at the top level
          Vrn::Raise<Vrn::CCheckException>(
              kErrTooDeep, L"The XML document is nested deeper than %0 elements and cannot be saved.",
              std::initializer_list<Vrn::CUnicodeString>{Vrn::CUnicodeString::FromUInt(kMaxSaveDepth)});
        continue;
      }
      // The node is complete: climb until a later sibling is found, closing each parent passed.
      for (;;) {
        if (depth > 0) WriteTail(*node, depth - 1);  // top-level tails belong to no written element
        if (const CXMLNode* next = node->NextSibling()) {
          node = next;
          break;
        }
        if (depth == 0) {
          node = nullptr;
          break;
        }
        node = node->Parent();
        --depth;
        Indent(depth);
        CloseTag(*node);
      }
    }
    return std::move(m_out);
  }

 private:
  void Indent(size_t depth) { m_out.append(depth, L'\t'); }

  void Append(const Vrn::CUnicodeString& text) { m_out.append(EncodeEntities(text).View()); }

  void AppendCharacterData(const Vrn::CUnicodeString& text, bool isCData) {
    if (!isCData) return Append(text);
    // "]]>" cannot appear inside a section, so it is split across two.
    Vrn::CUnicodeString escaped = text;
    escaped.Replace(L"]]>", L"]]]]><![CDATA[>");
    m_out.append(L"<![CDATA[").append(escaped.View()).append(L"]]>");
  }

  // The start tag and, for an element without children, everything up to its line end.
  void OpenElement(const CXMLNode& element, size_t depth) {
    Indent(depth);
    m_out += L'<';
    Append(element.Name());
    for (size_t i = 0; i < element.AttributeCount(); ++i) {
      m_out += L' ';
      Append(element.AttributeName(i));
      m_out.append(L"=\"");
      Append(element.AttributeValue(i));
      m_out += L'"';
    }
    if (!element.HasChildren() && element.Text().IsEmpty()) {
      m_out.append(L"/>").append(kLineEnd);
      return;
    }
    m_out += L'>';
    AppendCharacterData(element.Text(), element.TextIsCData());
    if (element.HasChildren())
      m_out.append(kLineEnd);
    else
      CloseTag(element);
  }

  void CloseTag(const CXMLNode& element) {
    m_out.append(L"</");
    Append(element.Name());
    m_out.append(L">").append(kLineEnd);
  }

  void WriteTail(const CXMLNode& child, size_t parentDepth) {
    if (child.TailText().IsEmpty()) return;
    m_out.append(kLineEnd);
    Indent(parentDepth);
    AppendCharacterData(child.TailText(), child.TailIsCData());
    m_out.append(kLineEnd);
  }

  std::wstring m_out;
};

}  // namespace

Vrn::CUnicodeString CXMLParser::Save() const { return Vrn::CUnicodeString(CWriter().Write(*m_root)); }

}  // namespace Tarsel
