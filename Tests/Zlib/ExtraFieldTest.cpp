// Extra-field blocks, the Zip64 field in both layouts, and the Unicode path field's checks.
#include <gtest/gtest.h>

#include <string>

#include "ExtraField.h"

namespace {

Zlib::CBytes Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

std::string Field(uint16_t id, const std::string& data, int sizeDelta = 0) {
  const auto size = static_cast<uint16_t>(data.size() + sizeDelta);
  return std::string{char(id), char(id >> 8), char(size), char(size >> 8)} + data;
}

std::string Le64(uint64_t v) {
  std::string s;
  for (int i = 0; i < 8; ++i) s += char(v >> (8 * i));
  return s;
}

TEST(ExtraField, BlockIsValidOnlyWhenEveryFieldFits) {
  struct CCase {
    std::string block;
    bool valid;
  } cases[] = {
      {"", true},
      {Field(0x5455, "abcde") + Field(1, Le64(7)), true},
      {Field(0x5455, "abc") + "\x01\x02", true},  // a fragment shorter than a field header is padding
      {Field(0x5455, "abc", 1), false},
      {Field(0x5455, "abc") + Field(1, "", 0xFFFF), false},
  };
  for (const CCase& c : cases) EXPECT_EQ(Zlib::CExtraFields(Bytes(c.block)).Valid(), c.valid) << c.block.size();
}

TEST(ExtraField, FindReturnsTheFirstFieldOfAnId) {
  const std::string block = Field(0x5455, "ab") + Field(0x7075, "first") + Field(0x7075, "second");
  const auto found = Zlib::CExtraFields(Bytes(block)).Find(0x7075);
  ASSERT_TRUE(found);
  EXPECT_EQ(std::string(found->begin(), found->end()), "first");
  EXPECT_FALSE(Zlib::CExtraFields(Bytes(block)).Find(1));
}

TEST(ExtraField, Zip64FieldHoldsOnlyMarkedValuesUnlessItHoldsAllThree) {
  const std::string one = Le64(100), two = Le64(100) + Le64(200), all = Le64(100) + Le64(200) + Le64(300);
  struct CCase {
    std::string data;
    bool u, c, o;
    std::optional<uint64_t> eu, ec, eo;
  } cases[] = {
      {one, true, false, false, 100, {}, {}},
      {one, false, false, true, {}, {}, 100},  // the only marked value comes first
      {two, false, true, true, {}, 100, 200},
      {two, true, true, true, 100, 200, {}},   // too short for the offset: not set
      {all, false, false, true, {}, {}, 300},  // all three present: by position
      {all + "\0\0\0\0", true, true, true, 100, 200, 300},
      {"", true, false, false, {}, {}, {}},
  };
  for (const CCase& c : cases) {
    const Zlib::CZip64Values v = Zlib::ReadZip64Field(Bytes(c.data), c.u, c.c, c.o);
    EXPECT_EQ(v.uncompressedSize, c.eu);
    EXPECT_EQ(v.compressedSize, c.ec);
    EXPECT_EQ(v.localHeaderOffset, c.eo);
  }
}

TEST(ExtraField, UnicodeFieldCountsOnlyWithVersionOneAndMatchingCrc) {
  const std::string raw = "caf\x82.txt";
  const uint32_t crc = Zlib::Crc32(0, Bytes(raw));
  const auto field = [&](char version, uint32_t c) {
    return std::string{version, char(c), char(c >> 8), char(c >> 16), char(c >> 24)} + "caf\xc3\xa9.txt";
  };
  EXPECT_EQ(Zlib::UnicodeFieldText(Bytes(field(1, crc)), Bytes(raw)), "caf\xc3\xa9.txt");
  EXPECT_FALSE(Zlib::UnicodeFieldText(Bytes(field(1, crc ^ 1)), Bytes(raw)));
  EXPECT_FALSE(Zlib::UnicodeFieldText(Bytes(field(2, crc)), Bytes(raw)));
  EXPECT_FALSE(Zlib::UnicodeFieldText(Bytes(field(1, crc).substr(0, 4)), Bytes(raw)));
}

}  // namespace
