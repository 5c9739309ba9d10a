// Tests of the export-directory reader on the built library and on damaged copies of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "ActionCatalog.h"
#include "PeImage.h"
#include "TestSupport.h"

namespace {

std::vector<unsigned char> LibraryBytes() {
  const std::string bytes = TestSupport::ReadBytes(TestSupport::LibraryPath());
  return {bytes.begin(), bytes.end()};
}

void PutU32(std::vector<unsigned char>& image, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) image.at(offset + i) = static_cast<unsigned char>(value >> (8 * i));
}

TEST(PeImageTest, TheLibraryExportsEveryActionOfTheCatalogUnderItsModuleName) {
  const std::optional<Vrn::CImageExports> exports = Vrn::ReadImageExports(LibraryBytes());
  ASSERT_TRUE(exports.has_value());
  EXPECT_EQ(exports->moduleName, "OrvantCA.dll");
  EXPECT_TRUE(std::is_sorted(exports->names.begin(), exports->names.end()));
  for (const Msi::CActionEntry& action : Msi::ActionCatalog()) {
    const std::string name(action.name.begin(), action.name.end());
    EXPECT_TRUE(std::binary_search(exports->names.begin(), exports->names.end(), name)) << name;
  }
}

TEST(PeImageTest, DamagedImagesGiveNothingOrTheWholeExportList) {
  const std::vector<unsigned char> library = LibraryBytes();
  const std::vector<std::string> names = Vrn::ReadImageExports(library)->names;
  uint32_t peOffset = 0;
  std::memcpy(&peOffset, &library[0x3C], 4);
  const size_t exportDirectory = peOffset + 24 + 112;  // the first data directory of a PE32+ image
  struct CCase {
    const char* what;
    void (*damage)(std::vector<unsigned char>&, size_t exportDirectory);
  };
  const CCase cases[] = {
      {"empty", [](std::vector<unsigned char>& image, size_t) { image.clear(); }},
      {"only the DOS mark", [](std::vector<unsigned char>& image, size_t) { image.resize(2); }},
      {"PE header beyond the end",
       [](std::vector<unsigned char>& image, size_t) { PutU32(image, 0x3C, static_cast<uint32_t>(image.size() - 2)); }},
      {"no sections",
       [](std::vector<unsigned char>& image, size_t directory) {
         image.at(directory - 112 - 20 + 2) = 0;
         image.at(directory - 112 - 20 + 3) = 0;
       }},
      {"export directory outside every section",
       [](std::vector<unsigned char>& image, size_t directory) { PutU32(image, directory, 0xFFFFFF00u); }},
      {"export directory cut short",
       [](std::vector<unsigned char>& image, size_t directory) { PutU32(image, directory + 4, 8); }},
  };
  for (const CCase& damaged : cases) {
    std::vector<unsigned char> image = library;
    damaged.damage(image, exportDirectory);
    EXPECT_FALSE(Vrn::ReadImageExports(image).has_value()) << damaged.what;
  }
  // Cut anywhere, or with any header byte changed, the reader stays within the bytes and never
  // reports exports other than the real ones.
  for (size_t size = 0; size <= library.size(); size += 65521) {
    const std::span<const unsigned char> cut(library.data(), size);
    const std::optional<Vrn::CImageExports> exports = Vrn::ReadImageExports(cut);
    if (exports) {
      EXPECT_EQ(exports->names, names) << "cut at " << size;
    }
  }
  std::vector<unsigned char> image = library;
  for (size_t offset = 0; offset < 1024; ++offset) {
    image[offset] ^= 0xA5;
    Vrn::ReadImageExports(image);
    image[offset] ^= 0xA5;
  }
}

}  // namespace
