// Helpers of the zip reader tests.
#include "ZipTestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

#include "TestSupport.h"
#include "VrnWindows.h"

namespace ZipTest {
namespace {

void ListInto(const Vrn::CUnicodeString& root, const std::wstring& prefix, std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW data;
  Vrn::CFindHandle find(FindFirstFileW((root + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool folder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    const std::wstring path = prefix + name + (folder ? L"/" : L"");
    out.push_back(path);
    if (folder) ListInto(root + L"\\" + std::wstring_view(name), path, out);
  } while (FindNextFileW(find.Get(), &data));
}

void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

}  // namespace

Vrn::CExceptionPtr Capture(const std::function<void()>& f) {
  try {
    f();
  } catch (Vrn::CException* raw) {
    return Vrn::CExceptionPtr(raw);
  }
  return nullptr;
}

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

std::vector<std::wstring> ListTree(const Vrn::CUnicodeString& root) {
  std::vector<std::wstring> out;
  ListInto(root, L"", out);
  std::sort(out.begin(), out.end());
  return out;
}

Vrn::CUnicodeString CorpusPath(const Vrn::CUnicodeString& name) { return TestSupport::DataPath(L"zip\\" + name); }
std::string CorpusBytes(const Vrn::CUnicodeString& name) { return TestSupport::ReadBytes(CorpusPath(name)); }

std::vector<std::vector<std::string>> ReadTable(const Vrn::CUnicodeString& name) {
  std::vector<std::vector<std::string>> rows;
  const std::string text = CorpusBytes(name);
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::vector<std::string>& row = rows.emplace_back();
    for (size_t cell = start, tab; cell <= end; cell = tab + 1) {
      tab = std::min(text.find('\t', cell), end);
      row.push_back(text.substr(cell, tab - cell));
    }
  }
  return rows;
}

std::string Content(size_t size, uint32_t seed) {
  static constexpr char kLetters[] = "zip \r\n";
  std::string out(size, '\0');
  uint32_t x = seed;
  for (char& ch : out) {
    x = x * 1103515245u + 12345u;
    ch = static_cast<char>(seed & 1 ? (x >> 16) & 0xFF : kLetters[(x >> 16) % 6]);
  }
  return out;
}

void ExpectManifest(const Vrn::CUnicodeString& archive, const Vrn::CUnicodeString& folder) {
  const std::vector<std::wstring> tree = ListTree(folder);
  const auto rows = ReadTable(archive + L".manifest");
  ASSERT_FALSE(rows.empty());
  for (const auto& row : rows) {
    const Vrn::CUnicodeString name = Vrn::CUnicodeString::FromUtf8(row[1]);
    SCOPED_TRACE(row[1]);
    if (row[0] == "D") {
      EXPECT_TRUE(std::binary_search(tree.begin(), tree.end(), name.ToStdString()));
      continue;
    }
    Vrn::CUnicodeString path = folder + L"\\" + name;
    path.Replace(L"/", L"\\");
    EXPECT_TRUE(TestSupport::ReadBytes(path) == Content(std::stoul(row[2]), std::stoul(row[3])));
  }
  // Folders the manifest leaves implicit (parents of its files) are the only extra names allowed.
  EXPECT_EQ(std::count_if(tree.begin(), tree.end(), [](const std::wstring& n) { return !n.ends_with(L'/'); }),
            std::count_if(rows.begin(), rows.end(), [](const auto& row) { return row[0] == "F"; }));
}

void OpenImage(Zlib::CZipArchive& archive, const std::string& bytes, unsigned codePage) {
  archive.Open(std::make_unique<Zlib::CMemoryFile>(L"image.zip", bytes), codePage);
}

std::string BombImage(uint64_t size) {
  const std::string zeros(1 << 20, '\0');
  std::string packed, chunk(1 << 16, '\0');
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  uint32_t crc = 0;
  for (uint64_t done = 0; done < size;) {
    const auto n = static_cast<uInt>(std::min<uint64_t>(zeros.size(), size - done));
    crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), n));
    done += n;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    s.avail_in = n;
    do {
      s.next_out = reinterpret_cast<Bytef*>(chunk.data());
      s.avail_out = static_cast<uInt>(chunk.size());
      deflate(&s, done == size ? Z_FINISH : Z_NO_FLUSH);
      packed.append(chunk.data(), chunk.size() - s.avail_out);
    } while (s.avail_out == 0);
  }
  deflateEnd(&s);

  const std::string name = "bomb.bin";
  std::string fields;  // from the version needed to the extra length: shared by both headers
  for (const auto& [value, bytes] : {std::pair<uint64_t, int>{20, 2},
                                     {0, 2},
                                     {8, 2},
                                     {0, 4},
                                     {crc, 4},
                                     {packed.size(), 4},
                                     {size, 4},
                                     {name.size(), 2},
                                     {0, 2}})
    Put(fields, value, bytes);
  std::string image;
  Put(image, 0x04034B50, 4);
  image += fields + name + packed;
  const size_t directory = image.size();
  Put(image, 0x02014B50, 4);
  Put(image, 20, 2);
  image += fields;
  Put(image, 0, 8);  // comment length, disk, internal attributes, external attributes (half)
  Put(image, 0, 6);  // external attributes (rest), local header offset 0
  image += name;
  const size_t directorySize = image.size() - directory;
  Put(image, 0x06054B50, 4);
  Put(image, 0, 4);
  Put(image, 0x00010001, 4);
  Put(image, directorySize, 4);
  Put(image, directory, 4);
  Put(image, 0, 2);
  return image;
}

}  // namespace ZipTest
