// Helpers of the zip reader tests: an in-memory archive writer, capture of the library's
// exceptions, and listings of extracted trees.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Errors.h"
#include "UnicodeString.h"
#include "ZipArchive.h"
#include "ZipArchiveException.h"

namespace ZipTest {

// 2020-06-15 13:45:30 in DOS form.
inline constexpr uint16_t kDosDate = ((2020 - 1980) << 9) | (6 << 5) | 15;
inline constexpr uint16_t kDosTime = (13 << 11) | (45 << 5) | (30 / 2);

struct CEntrySpec {
  CEntrySpec(std::string name_, std::string data_, uint16_t method_ = 8)
      : name(std::move(name_)), data(std::move(data_)), method(method_) {}

  std::string name;  // raw name bytes
  std::string data;
  uint16_t method = 8;
  uint16_t flags = 0;
  uint16_t madeBy = 20;
  uint32_t external = 0;
  // When set, written as the compressed data instead of compressing data; then uncompressedSize
  // and crc describe the output.
  std::optional<std::string> payload;
  uint64_t uncompressedSize = 0;
  uint32_t crc = 0;
};

// A well-formed archive of the entries; zip64 routes every size and offset through Zip64 fields
// and adds the Zip64 end record and locator.
std::string BuildZip(const std::vector<CEntrySpec>& entries, bool zip64 = false);
// Raw deflate of data (level 6).
std::string Deflate(const std::string& data);
// A deflate stream of size zero bytes, produced in pieces (never held whole); crc receives the
// CRC-32 of the output.
std::string DeflateZeros(uint64_t size, uint32_t& crc);

// Runs f; returns the core-library exception it raised (owned) or null.
Vrn::CExceptionPtr Capture(const std::function<void()>& f);
// The reason code of a captured CZipArchiveException, -1 for anything else.
int ZipCode(const Vrn::CExceptionPtr& e);
// The message name of a captured exception: the zip code's error name or a CCheckException's name.
std::wstring ErrorName(const Vrn::CExceptionPtr& e);

// Files below root as "a/b.txt" and folders as "a/", sorted.
std::vector<std::wstring> ListTree(const Vrn::CUnicodeString& root);

// Opens an archive image held in memory.
void OpenImage(Zlib::CZipArchive& archive, const std::string& bytes, unsigned codePage = 437);

}  // namespace ZipTest
