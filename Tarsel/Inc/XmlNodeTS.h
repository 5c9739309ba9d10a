// The XML node tree: an intrusive ordered tree whose nodes own their children, and the element
// node CXMLNode with its name, texts, attributes and source line.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "UnicodeString.h"

namespace Tarsel {

// A node of an intrusive ordered tree. Each node owns its children; deleting a node deletes its
// subtree without recursion (a parsed document may nest deeper than the stack allows) and first
// unlinks the node from its parent, if it still has one.
template <class T>
class CTreeNode {
 public:
  CTreeNode() = default;
  CTreeNode(const CTreeNode&) = delete;
  CTreeNode& operator=(const CTreeNode&) = delete;
  virtual ~CTreeNode() {
    Unlink();
    CTreeNode* node = this;
    for (;;) {
      while (node->m_lastChild != nullptr) node = node->m_lastChild;
      if (node == this) break;
      CTreeNode* parent = node->m_parent;
      delete node;  // a leaf by now: its own destructor only unlinks it
      node = parent;
    }
  }

  T* Parent() const noexcept { return static_cast<T*>(m_parent); }
  T* FirstChild() const noexcept { return static_cast<T*>(m_firstChild); }
  T* LastChild() const noexcept { return static_cast<T*>(m_lastChild); }
  T* NextSibling() const noexcept { return static_cast<T*>(m_next); }
  T* PrevSibling() const noexcept { return static_cast<T*>(m_prev); }
  bool HasChildren() const noexcept { return m_firstChild != nullptr; }

  // Appends the node as the last child and returns it; the tree owns it from now on.
  T& AppendChild(std::unique_ptr<T> child) noexcept {
    CTreeNode* node = child.release();
    node->m_parent = this;
    node->m_prev = m_lastChild;
    if (m_lastChild != nullptr)
      m_lastChild->m_next = node;
    else
      m_firstChild = node;
    m_lastChild = node;
    return static_cast<T&>(*node);
  }

 private:
  void Unlink() noexcept {
    if (m_parent == nullptr) return;
    (m_prev != nullptr ? m_prev->m_next : m_parent->m_firstChild) = m_next;
    (m_next != nullptr ? m_next->m_prev : m_parent->m_lastChild) = m_prev;
    m_parent = m_prev = m_next = nullptr;
  }

  CTreeNode* m_parent = nullptr;
  CTreeNode* m_prev = nullptr;
  CTreeNode* m_next = nullptr;
  CTreeNode* m_firstChild = nullptr;
  CTreeNode* m_lastChild = nullptr;
};

// An element of a parsed or built document (or the artificial root above the top-level elements).
class CXMLNode : public CTreeNode<CXMLNode> {
 public:
  using CAttribute = std::pair<Vrn::CUnicodeString, Vrn::CUnicodeString>;

  // An empty name is an internal error. Line is -1 for nodes that were not parsed.
  explicit CXMLNode(Vrn::CUnicodeString name, int32_t line = -1);

  const Vrn::CUnicodeString& Name() const noexcept { return m_name; }
  // Line feeds before the node's start tag in the parsed text (0 on the first line), -1 for the root.
  int32_t Line() const noexcept { return m_line; }

  // Character data right after the start tag, before the first child.
  const Vrn::CUnicodeString& Text() const noexcept { return m_text; }
  bool TextIsCData() const noexcept { return m_textIsCData; }
  void SetText(Vrn::CUnicodeString text, bool isCData = false);
  // Character data after this node's end tag, inside its parent.
  const Vrn::CUnicodeString& TailText() const noexcept { return m_tailText; }
  bool TailIsCData() const noexcept { return m_tailIsCData; }
  void SetTailText(Vrn::CUnicodeString text, bool isCData = false);
  // Appends character data where the parser met it: to the tail of the last child when there are
  // children, else to the text. isCData sets the matching flag; plain data leaves it as it was.
  void AppendCharacterData(std::wstring_view data, bool isCData);

  // The XML declaration's text after "xml " (root only).
  const Vrn::CUnicodeString& Header() const noexcept { return m_header; }
  void SetHeader(Vrn::CUnicodeString header);

  // The first later sibling named exactly `name` (case-sensitive), or null. An empty name is an
  // internal error.
  CXMLNode* FindNextSiblingByName(std::wstring_view name) const;

  // Attributes in the order they were read or added. An index past the end is an internal error.
  size_t AttributeCount() const noexcept { return m_attributes.size(); }
  const Vrn::CUnicodeString& AttributeName(size_t index) const;
  const Vrn::CUnicodeString& AttributeValue(size_t index) const;
  // The index of the attribute named `name`, or npos.
  size_t FindAttribute(std::wstring_view name) const noexcept;
  // Replaces the value of the attribute `name`, or appends the pair. An empty name is an internal error.
  void SetAttribute(Vrn::CUnicodeString name, Vrn::CUnicodeString value);
  // Appends the pair without looking for an attribute of that name (the caller keeps names unique).
  void AddAttribute(Vrn::CUnicodeString name, Vrn::CUnicodeString value);

 private:
  Vrn::CUnicodeString m_name;
  Vrn::CUnicodeString m_text;
  Vrn::CUnicodeString m_tailText;
  Vrn::CUnicodeString m_header;
  std::vector<CAttribute> m_attributes;
  int32_t m_line;
  bool m_textIsCData = false;
  bool m_tailIsCData = false;
};

}  // namespace Tarsel
