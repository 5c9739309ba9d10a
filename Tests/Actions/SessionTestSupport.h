// Helpers shared by the tests of the session facade, the message boxes and the session actions.
#pragma once

#include <ostream>
#include <regex>
#include <string>

#include "TestPackage.h"

namespace SessionTests {

// The custom-action log since the package was opened, without the header that each copy of the
// log (this program's and the DLL's) writes when it is first used in the process.
inline Vrn::CUnicodeString ActionLog(const TestSupport::CTestPackage& package) {
  static const std::wregex header(L"={49}\r\n\\.\\.\\.LOGGING started at [0-9:, -]+\r\n\r\n");
  return std::regex_replace(package.LogText().ToStdString(), header, L"");
}

// Feature "Main" (installed by default; components MainComp and RemovedComp) and feature "Off"
// (level 0, so not installed; component OffComp).
inline void AddTestFeatures(TestSupport::CTestPackage& package) {
  package.AddFeature(L"Main");
  package.AddComponent(L"MainComp", L"Main");
  package.AddComponent(L"RemovedComp", L"Main");
  package.AddFeature(L"Off", 0);
  package.AddComponent(L"OffComp", L"Off");
}

inline std::string Utf8(const Vrn::CUnicodeString& text) { return text.ToUtf8(); }

}  // namespace SessionTests

namespace Vrn {
// Failure messages show texts, not bytes.
inline std::ostream& operator<<(std::ostream& out, const CUnicodeString& text) { return out << text.ToUtf8(); }
}  // namespace Vrn
