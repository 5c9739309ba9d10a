// Splitting quoted lists.
#include "QuotedList.h"

#include <algorithm>
#include <string_view>

#include "Errors.h"

namespace Msi {

std::vector<Vrn::CUnicodeString> SplitQuotedList(const Vrn::CUnicodeString& text, wchar_t separator) {
  const std::wstring_view view = text.View();
  constexpr size_t npos = std::wstring_view::npos;
  std::vector<Vrn::CUnicodeString> items;
  size_t start = 0;
  while (start < view.size()) {
    size_t end = std::min(view.find(separator, start), view.size());
    const size_t open = view.find(L'"', start);
    const size_t close = open == npos ? npos : view.find(L'"', open + 1);
    if (close != npos && open < end && end < close) end = std::min(view.find(separator, close + 1), view.size());
    Vrn::Check(end != start);
    std::wstring_view item = view.substr(start, end - start);
    if (item.size() >= 2 && item.front() == L'"' && item.back() == L'"') item = item.substr(1, item.size() - 2);
    items.emplace_back(item);
    start = end + 1;
  }
  return items;
}

}  // namespace Msi
