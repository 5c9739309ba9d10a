// The built DLL exports every name its module-definition file lists.
#include <gtest/gtest.h>

#include <sstream>

#include "CoreFixtures.h"
#include "TestSupport.h"

namespace {

std::vector<std::string> DefinitionExports() {
  std::istringstream lines(TestSupport::ReadBytes(TestSupport::SourceDir() + L"\\Src\\OrvantCA.def"));
  std::vector<std::string> names;
  bool inExports = false;
  for (std::string line; std::getline(lines, line);) {
    if (const size_t comment = line.find(';'); comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;
    if (first == "EXPORTS") {
      inExports = true;
    } else if (inExports) {
      names.push_back(first);
    }
  }
  return names;
}

}  // namespace

TEST(Exports, EveryDefinitionNameIsFound) {
  HMODULE dll = TestSupport::LibraryModuleForTests();
  const auto names = DefinitionExports();
  ASSERT_GE(names.size(), 5u);
  for (const auto& name : names) EXPECT_NE(GetProcAddress(dll, name.c_str()), nullptr) << name;
}
