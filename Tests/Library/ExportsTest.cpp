// The built DLL exports every name its module-definition file lists.

#include <sstream>

#include "CoreFixtures.h"
#include "TestSupport.h"

TEST(Exports, EveryDefinitionNameIsFound) {
  HMODULE dll = TestSupport::LibraryModuleForTests();
  std::istringstream lines(TestSupport::ReadBytes(TestSupport::SourceDir() + L"\\Src\\OrvantCA.def"));
  size_t found = 0;
  bool inExports = false;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line.substr(0, line.find(';')));  // without the comment
    std::string first;
    if (!(words >> first)) continue;
    if (inExports) {
      EXPECT_NE(GetProcAddress(dll, first.c_str()), nullptr) << first;
      ++found;
    }
    inExports = inExports || first == "EXPORTS";
  }
  EXPECT_GE(found, 5u);
}
