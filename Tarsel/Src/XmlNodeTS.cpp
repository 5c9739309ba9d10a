// CXMLNode: names, texts, attributes and sibling search of an XML element. Misuse (an empty name,
// an attribute index past the end) raises an internal error rather than returning a guess.
#include "XmlNodeTS.h"

#include "Errors.h"

namespace Tarsel {

CXMLNode::CXMLNode(Vrn::CUnicodeString name, int32_t line) : m_name(std::move(name)), m_line(line) {
  if (m_name.IsEmpty()) Vrn::RaiseInternalError();
}

void CXMLNode::SetText(Vrn::CUnicodeString text, bool isCData) {
  m_text = std::move(text);
  m_textIsCData = isCData;
}

void CXMLNode::SetTailText(Vrn::CUnicodeString text, bool isCData) {
  m_tailText = std::move(text);
  m_tailIsCData = isCData;
}

void CXMLNode::AppendCharacterData(std::wstring_view data, bool isCData) {
  CXMLNode* last = LastChild();
  Vrn::CUnicodeString& target = last != nullptr ? last->m_tailText : m_text;
  bool& flag = last != nullptr ? last->m_tailIsCData : m_textIsCData;
  target += data;
  if (isCData) flag = true;
}

void CXMLNode::SetHeader(Vrn::CUnicodeString header) { m_header = std::move(header); }

CXMLNode* CXMLNode::FindNextSiblingByName(std::wstring_view name) const {
  if (name.empty()) Vrn::RaiseInternalError();
  for (CXMLNode* node = NextSibling(); node != nullptr; node = node->NextSibling())
    if (node->m_name == name) return node;
  return nullptr;
}

const Vrn::CUnicodeString& CXMLNode::AttributeName(size_t index) const {
  if (index >= m_attributes.size()) Vrn::RaiseInternalError();
  return m_attributes[index].first;
}

const Vrn::CUnicodeString& CXMLNode::AttributeValue(size_t index) const {
  if (index >= m_attributes.size()) Vrn::RaiseInternalError();
  return m_attributes[index].second;
}

size_t CXMLNode::FindAttribute(std::wstring_view name) const noexcept {
  for (size_t i = 0; i < m_attributes.size(); ++i)
    if (m_attributes[i].first == name) return i;
  return Vrn::CUnicodeString::npos;
}

void CXMLNode::SetAttribute(Vrn::CUnicodeString name, Vrn::CUnicodeString value) {
  if (name.IsEmpty()) Vrn::RaiseInternalError();
  const size_t index = FindAttribute(name);
  if (index != Vrn::CUnicodeString::npos)
    m_attributes[index].second = std::move(value);
  else
    AddAttribute(std::move(name), std::move(value));
}

void CXMLNode::AddAttribute(Vrn::CUnicodeString name, Vrn::CUnicodeString value) {
  m_attributes.emplace_back(std::move(name), std::move(value));
}

}  // namespace Tarsel
