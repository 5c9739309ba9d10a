// Seeded mutation of valid archives: every mutant must either be refused with a core-library
// exception or extract correctly, and never write outside the destination, crash or hang.
#include <gtest/gtest.h>

#include <random>

#include "TestSupport.h"
#include "ZipTestSupport.h"

namespace {

constexpr unsigned kSeed = 20261205;
constexpr int kMutantsPerBase = 700;

// Boundary values that lengths, counts and offsets are most often mishandled at.
constexpr uint32_t kBoundaries[] = {0, 1, 0x2E, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};

std::string Mutate(std::string bytes, std::mt19937& random) {
  const auto pick = [&](size_t size) { return std::uniform_int_distribution<size_t>(0, size - 1)(random); };
  // Half the mutations hit the last 300 bytes, where the directory and end records are.
  const auto position = [&] {
    return random() % 2 || bytes.size() <= 300 ? pick(bytes.size()) : bytes.size() - 300 + pick(300);
  };
  switch (random() % 4) {
    case 0:  // a few random bytes
      for (unsigned n = 1 + random() % 4; n > 0; --n) bytes[position()] = static_cast<char>(random());
      break;
    case 1: {  // a 16- or 32-bit field set to a boundary value
      const uint32_t value = kBoundaries[pick(std::size(kBoundaries))];
      const size_t at = position(), width = random() % 2 ? 2 : 4;
      for (size_t i = 0; i < width && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
      break;
    }
    case 2:  // cut short
      bytes.resize(position());
      break;
    default: {  // a span copied over another place (headers pointing at each other)
      const size_t from = pick(bytes.size()), to = position();
      const size_t length = std::min({size_t{1} + random() % 64, bytes.size() - from, bytes.size() - to});
      bytes.replace(to, length, bytes.substr(from, length));
    }
  }
  return bytes;
}

TEST(ZipMutation, MutantsAreRefusedOrExtractedInsideTheDestination) {
  std::vector<std::string> bases;
  for (const wchar_t* name : {L"python_unicode.zip", L"zip64_small.zip", L"attributes_and_times.zip"})
    bases.push_back(ZipTest::CorpusBytes(name));
  std::mt19937 random(kSeed);
  int refused = 0, extracted = 0;
  for (const std::string& base : bases) {
    for (int i = 0; i < kMutantsPerBase; ++i) {
      const std::string mutant = Mutate(base, random);
      TestSupport::CTempFolder sandbox;
      Zlib::CZipArchive archive;
      // Anything but a core-library exception escapes Capture and fails the test.
      const auto e = ZipTest::Capture([&] {
        ZipTest::OpenImage(archive, mutant);
        archive.Extract(L"", sandbox / L"dest");
      });
      ASSERT_EQ(dynamic_cast<Vrn::CInternalError*>(e.get()), nullptr) << "mutant " << i;
      ++(e ? refused : extracted);
      for (const std::wstring& path : ZipTest::ListTree(sandbox.Path()))
        ASSERT_TRUE(path.starts_with(L"dest/")) << "mutant " << i << ": " << Vrn::CUnicodeString(path).ToUtf8();
    }
  }
  // The mutations must exercise both outcomes, or the test proves little.
  EXPECT_GT(refused, 0);
  EXPECT_GT(extracted, 0);
}

}  // namespace
