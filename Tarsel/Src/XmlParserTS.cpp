// The XML reader: one forward pass over the text with an explicit current element, so nesting depth
// costs heap, never stack.
#include <algorithm>
#include <climits>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>

#include "Errors.h"
#include "XmlParserTS.h"

namespace Tarsel {

namespace {

using Vrn::CUnicodeString;
constexpr size_t npos = std::wstring_view::npos;

struct CEntity {
  std::wstring_view text;
  wchar_t character;
};
// Tried in this order at every "&".
constexpr CEntity kEntities[] = {
    {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&amp;", L'&'}, {L"&apos;", L'\''}, {L"&quot;", L'"'},
};

const CEntity* EntityFor(wchar_t ch) noexcept {
  if (ch > L'>') return nullptr;  // every escaped character sorts at or below '>'
  for (const CEntity& entity : kEntities)
    if (entity.character == ch) return &entity;
  return nullptr;
}

enum class ParseError {
  MissingSymbol,
  MissingId,
  UnexpectedSymbol,
  UnexpectedEof,
  TagsMismatch,
  DuplicateAttribute,
  BadHeader
};

struct CErrorText {
  const wchar_t* name;
  const wchar_t* fallback;
};
// Indexed by ParseError. The names are outside this library's message table, so every raise
// carries its English text.
constexpr CErrorText kErrorTexts[] = {
    {kErrMissingSymbol, L"XML parsing error at line %0 (counting from 0): \"%1\" is missing."},
    {kErrMissingId, L"XML parsing error at line %0 (counting from 0): a name is missing."},
    {kErrUnexpectedSymbol, L"XML parsing error at line %0 (counting from 0): \"%1\" is not expected here."},
    {kErrUnexpectedEof,
     L"XML parsing error at line %0 (counting from 0): the text ends inside markup or inside an element."},
    {kErrTagsMismatch,
     L"XML parsing error at line %0 (counting from 0): the end tag \"%1\" does not match the open element \"%2\"."},
    {kErrDuplicateAttribute, L"XML parsing error at line %0 (counting from 0): the attribute \"%1\" is repeated."},
    {kErrBadHeader,
     L"XML parsing error at line %0 (counting from 0): the XML declaration must come once, before the first element."},
};
static_assert(std::size(kErrorTexts) == static_cast<size_t>(ParseError::BadHeader) + 1);

bool IsNameStop(wchar_t ch) noexcept {
  switch (ch) {
    case L' ':
    case L'\r':
    case L'\n':
    case L'\t':
    case L'>':
    case L'/':
    case L'<':
    case L'=':
      return true;
    default:
      return false;
  }
}

std::wstring_view TrimmedRight(std::wstring_view text) noexcept {
  while (!text.empty() && Vrn::IsWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::wstring_view Trimmed(std::wstring_view text) noexcept {
  text = TrimmedRight(text);
  while (!text.empty() && Vrn::IsWhiteSpace(text.front())) text.remove_prefix(1);
  return text;
}

// The decoded text: the text itself when it has no "&", else the decoded copy kept in `storage`.
std::wstring_view Decoded(std::wstring_view text, CUnicodeString& storage) {
  if (text.find(L'&') == npos) return text;
  storage = DecodeEntities(text);
  return storage.View();
}

// Names and attribute values of one parse: equal strings come back sharing one buffer, so a large
// configuration file holds each distinct name once, and equal pooled strings have equal c_str().
class CStringPool {
 public:
  CUnicodeString Intern(std::wstring_view text) {
    if (const auto found = m_strings.find(text); found != m_strings.end()) return found->second;
    CUnicodeString interned(text);
    // The key views the pooled string's own buffer, which lives as long as the pool's copy.
    m_strings.emplace(interned.View(), interned);
    return interned;
  }

 private:
  std::unordered_map<std::wstring_view, CUnicodeString> m_strings;
};

class CParseRun {
 public:
  CParseRun(const CUnicodeString& text, CXMLNode& root, const CXMLParser::ElementClosedCallback& elementClosed)
      : m_keepAlive(text), m_text(m_keepAlive.View()), m_root(root), m_current(&root), m_elementClosed(elementClosed) {}

  void Run() {
    SkipBlanks();
    while (!AtEnd()) {
      const size_t markup = std::min(m_text.find(L'<', m_pos), m_text.size());
      AppendText(Trimmed(m_text.substr(m_pos, markup - m_pos)));
      AdvanceTo(markup);
      if (AtEnd()) break;
      Advance(1);
      RequireMore();
      switch (Peek()) {
        case L'!':
          ReadCommentOrCData();
          break;
        case L'/':
          ReadEndTag();
          break;
        case L'?':
          ReadProcessingInstruction();
          break;
        default:
          ReadStartTag();
      }
      SkipBlanks();
    }
    if (m_current != &m_root) Fail(ParseError::UnexpectedEof);
  }

 private:
  // Past this many attributes on one element the repeat check switches from a scan to a hash set.
  static constexpr size_t kLinearAttributeScan = 8;

  bool AtEnd() const noexcept { return m_pos >= m_text.size(); }
  wchar_t Peek() const noexcept { return m_text[m_pos]; }
  std::wstring_view Rest() const noexcept { return m_text.substr(m_pos); }
  int32_t Line() const noexcept { return static_cast<int32_t>(std::min<size_t>(m_line, INT32_MAX)); }

  // Every move goes through here so that each line feed passed is counted exactly once.
  void AdvanceTo(size_t position) noexcept {
    m_line += static_cast<size_t>(std::count(m_text.begin() + m_pos, m_text.begin() + position, L'\n'));
    m_pos = position;
  }
  void Advance(size_t count) noexcept { AdvanceTo(m_pos + count); }

  void SkipBlanks() noexcept {
    size_t position = m_pos;
    while (position < m_text.size() && Vrn::IsWhiteSpace(m_text[position])) ++position;
    AdvanceTo(position);
  }

  // %1 and %2 are passed only where the error names a text, so their count tells which were given.
  [[noreturn]] void Fail(ParseError error, std::wstring_view first = {}, std::wstring_view second = {}) const {
    const CErrorText& text = kErrorTexts[static_cast<size_t>(error)];
    const CUnicodeString line = CUnicodeString::FromUInt(m_line);
    if (!second.empty())
      Vrn::Raise<Vrn::CCheckException>(text.name, text.fallback,
                                       std::initializer_list<CUnicodeString>{line, first, second});
    if (!first.empty())
      Vrn::Raise<Vrn::CCheckException>(text.name, text.fallback, std::initializer_list<CUnicodeString>{line, first});
    Vrn::Raise<Vrn::CCheckException>(text.name, text.fallback, std::initializer_list<CUnicodeString>{line});
  }

  // Steps past `symbol`. A text that ends before it (or in the middle of it) ends inside markup.
  void Require(std::wstring_view symbol) {
    const std::wstring_view rest = Rest();
    if (rest.starts_with(symbol)) return Advance(symbol.size());
    if (symbol.starts_with(rest)) Fail(ParseError::UnexpectedEof);
    Fail(ParseError::MissingSymbol, symbol);
  }
  void RequireMore() const {
    if (AtEnd()) Fail(ParseError::UnexpectedEof);
  }
  // The position of the next `terminator`; its absence is a missing symbol, not an early end.
  size_t FindOrFail(std::wstring_view terminator, size_t from) const {
    const size_t found = m_text.find(terminator, from);
    if (found == npos) Fail(ParseError::MissingSymbol, terminator);
    return found;
  }

  std::wstring_view ReadName() {
    RequireMore();
    size_t end = m_pos;
    while (end < m_text.size() && !IsNameStop(m_text[end])) ++end;
    if (end == m_pos) Fail(ParseError::MissingId);
    const std::wstring_view name = m_text.substr(m_pos, end - m_pos);
    AdvanceTo(end);
    return name;
  }

  CUnicodeString InternDecoded(std::wstring_view raw) {
    CUnicodeString storage;
    return m_pool.Intern(Decoded(raw, storage));
  }

  void AppendText(std::wstring_view raw) {
    if (raw.empty()) return;
    CUnicodeString storage;
    m_current->AppendCharacterData(Decoded(raw, storage), false);
  }

  void ReadStartTag() {
    const std::wstring_view rawName = ReadName();
    RequireMore();
    CXMLNode& element = m_current->AppendChild(std::make_unique<CXMLNode>(InternDecoded(rawName), Line()));
    ReadAttributes(element);
    if (Peek() == L'/') {
      Advance(1);
      RequireMore();
    } else {
      m_current = &element;
    }
    Require(L">");
  }

  // Reads attributes up to (not past) the "/" or ">" that ends the start tag.
  void ReadAttributes(CXMLNode& element) {
    for (;;) {
      SkipBlanks();
      RequireMore();
      if (Peek() == L'/' || Peek() == L'>') return;
      const std::wstring_view rawName = ReadName();
      SkipBlanks();
      Require(L"=");
      SkipBlanks();
      RequireMore();
      const wchar_t quote = Peek();
      if (quote != L'"' && quote != L'\'') Fail(ParseError::MissingSymbol, L"\"");
      const size_t close = FindOrFail(std::wstring_view(&quote, 1), m_pos + 1);
      const std::wstring_view rawValue = Trimmed(m_text.substr(m_pos + 1, close - m_pos - 1));
      AdvanceTo(close + 1);
      CUnicodeString name = InternDecoded(rawName);
      if (IsRepeated(element, name)) Fail(ParseError::DuplicateAttribute, name);
      element.AddAttribute(std::move(name), InternDecoded(rawValue));
    }
  }

  // Pooled names are equal exactly when they share a buffer, so the check compares pointers.
  bool IsRepeated(const CXMLNode& element, const CUnicodeString& name) {
    const size_t count = element.AttributeCount();
    if (count < kLinearAttributeScan) {
      for (size_t i = 0; i < count; ++i)
        if (element.AttributeName(i).c_str() == name.c_str()) return true;
      return false;
    }
    if (count == kLinearAttributeScan) {
      m_seenNames.clear();
      for (size_t i = 0; i < count; ++i) m_seenNames.insert(element.AttributeName(i).c_str());
    }
    return !m_seenNames.insert(name.c_str()).second;
  }

  void ReadEndTag() {
    if (m_current == &m_root) Fail(ParseError::UnexpectedSymbol, L"/");
    Require(L"/");
    CUnicodeString storage;
    const std::wstring_view name = Decoded(ReadName(), storage);
    if (name != m_current->Name().View()) Fail(ParseError::TagsMismatch, name, m_current->Name());
    SkipBlanks();
    Require(L">");
    CXMLNode& closed = *m_current;
    m_current = closed.Parent();
    if (m_elementClosed) m_elementClosed(closed);
  }

  void ReadProcessingInstruction() {
    Require(L"?");
    const size_t close = FindOrFail(L"?", m_pos);
    const std::wstring_view content = TrimmedRight(m_text.substr(m_pos, close - m_pos));
    AdvanceTo(close + 1);
    Require(L">");
    constexpr std::wstring_view kDeclaration = L"xml ";
    if (!content.starts_with(kDeclaration)) return;  // other processing instructions are dropped
    if (m_root.HasChildren() || !m_root.Header().IsEmpty()) Fail(ParseError::BadHeader);
    m_root.SetHeader(CUnicodeString(content.substr(kDeclaration.size())));
  }

  void ReadCommentOrCData() {
    Require(L"!");
    RequireMore();
    if (Peek() == L'-') {
      Require(L"--");
      const size_t close = FindOrFail(L"--", m_pos);
      AdvanceTo(close + 2);
      Require(L">");
    } else if (Peek() == L'[') {
      Require(L"[CDATA[");
      constexpr std::wstring_view kEnd = L"]]>";
      const size_t close = FindOrFail(kEnd, m_pos);
      m_current->AppendCharacterData(m_text.substr(m_pos, close - m_pos), true);
      AdvanceTo(close + kEnd.size());
    } else {
      Fail(ParseError::UnexpectedSymbol, m_text.substr(m_pos, 1));
    }
  }

  const CUnicodeString m_keepAlive;  // m_text views it
  const std::wstring_view m_text;
  size_t m_pos = 0;
  size_t m_line = 0;
  CXMLNode& m_root;
  CXMLNode* m_current;
  const CXMLParser::ElementClosedCallback& m_elementClosed;
  CStringPool m_pool;
  std::unordered_set<const wchar_t*> m_seenNames;
};

}  // namespace

CUnicodeString DecodeEntities(std::wstring_view text) {
  std::wstring decoded;
  decoded.reserve(text.size());
  size_t position = 0;
  for (size_t amp = text.find(L'&'); amp != npos; amp = text.find(L'&', position)) {
    decoded.append(text.substr(position, amp - position));
    const std::wstring_view rest = text.substr(amp);
    const auto* entity = std::find_if(std::begin(kEntities), std::end(kEntities),
                                      [rest](const CEntity& e) { return rest.starts_with(e.text); });
    if (entity != std::end(kEntities)) {
      decoded += entity->character;
      position = amp + entity->text.size();
    } else {
      decoded += L'&';
      position = amp + 1;
    }
  }
  decoded.append(text.substr(position));
  return CUnicodeString(decoded);
}

CUnicodeString EncodeEntities(const CUnicodeString& text) {
  const std::wstring_view view = text.View();
  if (std::none_of(view.begin(), view.end(), [](wchar_t ch) { return EntityFor(ch) != nullptr; })) return text;
  std::wstring encoded;
  encoded.reserve(view.size() + view.size() / 4);
  for (const wchar_t ch : view) {
    if (const CEntity* entity = EntityFor(ch))
      encoded.append(entity->text);
    else
      encoded += ch;
  }
  return CUnicodeString(encoded);
}

CXMLParser::CXMLParser() : m_root(std::make_unique<CXMLNode>(kRootName)) {}

CXMLParser::~CXMLParser() = default;

void CXMLParser::Parse(const CUnicodeString& text) {
  auto root = std::make_unique<CXMLNode>(kRootName);
  CParseRun(text, *root, m_elementClosed).Run();
  m_root = std::move(root);
}

}  // namespace Tarsel
