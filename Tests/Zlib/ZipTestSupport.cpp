// Helpers of the zip reader tests.
#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "Files.h"
#include "TestSupport.h"

namespace ZipTest {

int ZipCode(const Vrn::CExceptionPtr& e) {
  const auto* zip = dynamic_cast<const Zlib::CZipArchiveException*>(e.get());
  return zip ? zip->GetCode() : -1;
}

std::wstring ErrorName(const Vrn::CExceptionPtr& e) {
  if (const auto* zip = dynamic_cast<const Zlib::CZipArchiveException*>(e.get()))
    return Zlib::CZipArchiveException::ErrorName(zip->GetCode());
  if (const auto* check = dynamic_cast<const Vrn::CCheckException*>(e.get())) return check->Name().ToStdString();
  return e ? L"other exception" : L"none";
}

std::map<std::wstring, std::string> ReadTree(const Vrn::CUnicodeString& root) {
  std::map<std::wstring, std::string> tree;
  for (const Vrn::CDirectoryEntry& entry : Vrn::ListDirectory(root, L"*", Vrn::ListAll | Vrn::ListRecursive)) {
    std::wstring path = entry.fullPath.ToStdString().substr(root.Length() + 1) + (entry.IsDirectory() ? L"/" : L"");
    std::replace(path.begin(), path.end(), L'\\', L'/');
    tree[path] = entry.IsDirectory() ? std::string() : TestSupport::ReadBytes(entry.fullPath);
  }
  return tree;
}

std::vector<std::wstring> ListTree(const Vrn::CUnicodeString& root) {
  std::vector<std::wstring> names;
  for (const auto& [name, bytes] : ReadTree(root)) names.push_back(name);
  return names;
}

Vrn::CUnicodeString CorpusPath(const Vrn::CUnicodeString& name) { return TestSupport::DataPath(L"zip\\" + name); }
std::string CorpusBytes(const Vrn::CUnicodeString& name) { return TestSupport::ReadBytes(CorpusPath(name)); }

std::vector<std::vector<std::string>> ReadTable(const Vrn::CUnicodeString& name) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(CorpusBytes(name));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::vector<std::string>& row = rows.emplace_back();
    for (std::string cell; std::getline(cells, cell, '\t');) row.push_back(cell);
  }
  return rows;
}

// The file contents make_corpus.py generates from (size, seed).
std::string Content(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed;
  for (char& ch : out) {
    x = x * 1103515245u + 12345u;
    ch = static_cast<char>(seed & 1 ? (x >> 16) & 0xFF : "zip \r\n"[(x >> 16) % 6]);
  }
  return out;
}

void ExpectManifest(const Vrn::CUnicodeString& archive, const Vrn::CUnicodeString& folder) {
  const std::vector<std::wstring> tree = ListTree(folder);
  const auto rows = ReadTable(archive + L".manifest");
  ASSERT_FALSE(rows.empty());
  for (const auto& row : rows) {
    SCOPED_TRACE(row[1]);
    const std::wstring name = Vrn::CUnicodeString::FromUtf8(row[1]).ToStdString();
    ASSERT_TRUE(std::binary_search(tree.begin(), tree.end(), name));
    if (row[0] == "F") {
      EXPECT_TRUE(TestSupport::ReadBytes(folder + L"\\" + std::wstring_view(name)) ==
                  Content(stoul(row[2]), stoul(row[3])));
    }
  }
  // Folders the manifest leaves implicit (parents of its files) are the only extra names allowed.
  EXPECT_EQ(std::count_if(tree.begin(), tree.end(), [](const std::wstring& n) { return !n.ends_with(L'/'); }),
            std::count_if(rows.begin(), rows.end(), [](const auto& row) { return row[0] == "F"; }));
}

void OpenImage(Zlib::CZipArchive& archive, const std::string& bytes, unsigned codePage) {
  archive.Open(std::make_unique<Zlib::CMemoryFile>(L"image.zip", bytes), codePage);
}

}  // namespace ZipTest
