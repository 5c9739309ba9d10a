// Helpers of the zip reader tests.
#include "ZipTestSupport.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "VrnWindows.h"

namespace ZipTest {
namespace {

void Put16(std::string& out, uint64_t v) { out.append({char(v), char(v >> 8)}); }
void Put32(std::string& out, uint64_t v) { out.append({char(v), char(v >> 8), char(v >> 16), char(v >> 24)}); }
void Put64(std::string& out, uint64_t v) {
  Put32(out, v);
  Put32(out, v >> 32);
}

void ListInto(const Vrn::CUnicodeString& root, const std::wstring& prefix, std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW data;
  Vrn::CFindHandle find(FindFirstFileW((root + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.push_back(prefix + name + L"/");
      ListInto(root + L"\\" + std::wstring_view(name), prefix + name + L"/", out);
    } else {
      out.push_back(prefix + name);
    }
  } while (FindNextFileW(find.Get(), &data));
}

}  // namespace

std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size())) + 64;
  std::string out(size, '\0');
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

std::string DeflateZeros(uint64_t size, uint32_t& crc) {
  const std::string zeros(1 << 20, '\0');
  std::string out;
  std::string chunk(1 << 16, '\0');
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  crc = 0;
  for (uint64_t done = 0;;) {
    const auto n = static_cast<uInt>(std::min<uint64_t>(zeros.size(), size - done));
    crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), n));
    done += n;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    s.avail_in = n;
    const int flush = done == size ? Z_FINISH : Z_NO_FLUSH;
    int result;
    do {
      s.next_out = reinterpret_cast<Bytef*>(chunk.data());
      s.avail_out = static_cast<uInt>(chunk.size());
      result = deflate(&s, flush);
      out.append(chunk.data(), chunk.size() - s.avail_out);
    } while (s.avail_out == 0);
    if (result == Z_STREAM_END) break;
  }
  deflateEnd(&s);
  return out;
}

std::string BuildZip(const std::vector<CEntrySpec>& entries, bool zip64) {
  std::string out;
  std::string directory;
  for (const CEntrySpec& e : entries) {
    const std::string payload = e.payload ? *e.payload : e.method == 8 ? Deflate(e.data) : e.data;
    const uint64_t size = e.payload ? e.uncompressedSize : e.data.size();
    const uint32_t crc =
        e.payload ? e.crc : static_cast<uint32_t>(crc32(0, (const Bytef*)e.data.data(), e.data.size()));
    const uint64_t offset = out.size();
    std::string extra;
    if (zip64) {
      Put16(extra, 1);
      Put16(extra, 24);
      Put64(extra, size);
      Put64(extra, payload.size());
      Put64(extra, offset);
    }
    const uint64_t mark = zip64 ? 0xFFFFFFFF : 0;
    // The shared middle of local and central headers: flags .. extra length.
    std::string middle;
    Put16(middle, e.flags);
    Put16(middle, e.method);
    Put16(middle, kDosTime);
    Put16(middle, kDosDate);
    Put32(middle, crc);
    Put32(middle, zip64 ? mark : payload.size());
    Put32(middle, zip64 ? mark : size);
    Put16(middle, e.name.size());
    Put16(middle, extra.size());

    Put32(out, 0x04034B50);
    Put16(out, zip64 ? 45 : 20);
    out += middle + e.name + extra + payload;

    Put32(directory, 0x02014B50);
    Put16(directory, e.madeBy);
    Put16(directory, zip64 ? 45 : 20);
    directory += middle;
    Put16(directory, 0);  // comment length
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, e.external);
    Put32(directory, zip64 ? mark : offset);
    directory += e.name + extra;
  }
  const uint64_t directoryOffset = out.size();
  out += directory;
  if (zip64) {
    const uint64_t record = out.size();
    Put32(out, 0x06064B50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, entries.size());
    Put64(out, entries.size());
    Put64(out, directory.size());
    Put64(out, directoryOffset);
    Put32(out, 0x07064B50);
    Put32(out, 0);
    Put64(out, record);
    Put32(out, 1);
  }
  Put32(out, 0x06054B50);
  Put32(out, 0);
  Put16(out, zip64 ? 0xFFFF : entries.size());
  Put16(out, zip64 ? 0xFFFF : entries.size());
  Put32(out, zip64 ? 0xFFFFFFFF : directory.size());
  Put32(out, zip64 ? 0xFFFFFFFF : directoryOffset);
  Put16(out, 0);
  return out;
}

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
  if (dynamic_cast<const Vrn::CFileException*>(e.get())) return L"file error";
  return e ? L"other exception" : L"none";
}

std::vector<std::wstring> ListTree(const Vrn::CUnicodeString& root) {
  std::vector<std::wstring> out;
  ListInto(root, L"", out);
  std::sort(out.begin(), out.end());
  return out;
}

void OpenImage(Zlib::CZipArchive& archive, const std::string& bytes, unsigned codePage) {
  archive.Open(std::make_unique<Zlib::CMemoryFile>(L"image.zip", bytes), codePage);
}

}  // namespace ZipTest
