// The length check before hand-overs to Windows: the limits' edges, registry paths and accounts
// checked part by part, and the refusal naming the property a value came from.
#include <gtest/gtest.h>

#include <functional>

#include "CoreFixtures.h"
#include "TextLimits.h"

using namespace Vrn;

namespace {

// The refusal's text, or the empty text when nothing was raised.
CUnicodeString Refusal(const std::function<void()>& check) {
  const CExceptionPtr raised = Vrn::Caught(check);
  return raised ? raised->MessageText() : CUnicodeString();
}

}  // namespace

class TextLimitsTest : public ::testing::Test {
 protected:
  void TearDown() override { ForgetValueSources(); }
  TestSupport::CStartedLibrary library;
};

TEST_F(TextLimitsTest, AtTheLimitPassesOneMoreIsRefused) {
  const std::wstring key(255, L'k'), user(256, L'u'), domain(255, L'd');
  const struct {
    std::function<void()> check;
    bool refused;
  } cases[] = {
      {[] { CheckLength(std::wstring(32767, L'p'), kPathLimit); }, false},
      {[] { CheckLength(std::wstring(32768, L'p'), kPathLimit); }, true},
      {[] { CheckLength(std::wstring(259, L's'), kShellFileLimit); }, false},
      {[] { CheckLength(std::wstring(260, L's'), kShellFileLimit); }, true},
      // Each key name of a registry path counts, and separators do not.
      {[&] { CheckRegistryKeyPath(L"SOFTWARE\\" + key + L"\\" + key); }, false},
      {[&] { CheckRegistryKeyPath(L"SOFTWARE\\" + key + L"k\\x"); }, true},
      {[&] { CheckAccountName(domain + L"\\" + user); }, false},
      {[&] { CheckAccountName(domain + L"d\\user"); }, true},
      {[&] { CheckAccountName(user + L"u"); }, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(!Refusal(cases[i].check).IsEmpty(), cases[i].refused) << i;
}

TEST_F(TextLimitsTest, TheRefusalNamesTheSourceAndTheLimit) {
  const CUnicodeString folder(40000, L'f'), list = L"a|" + CUnicodeString(300, L'b') + L"|c";
  NoteValueSource(L"the property SHORT", L"1");
  NoteValueSource(L"the property INSTALLDIR", folder);
  NoteValueSource(L"the property LIST", list);
  const std::pair<CUnicodeString, CUnicodeString> cases[] = {
      {folder,
       L"A value from the property INSTALLDIR is 40000 characters long, too long for a path (at most "
       L"32767 characters)."},
      // A path built on the property, and one item of a list property.
      {folder + L"\\x.exe", L"A value from the property INSTALLDIR is 40006 characters long"},
      {CUnicodeString(300, L'b'), L"A value from the property LIST is 300 characters long"},
      // A short value inside it names no property.
      {CUnicodeString(40001, L'1'), L"A value is 40001 characters long"},
  };
  for (const auto& [value, expected] : cases)
    EXPECT_TRUE(
        Refusal([&] { CheckLength(value, value.Length() > 300 ? kPathLimit : kShellFileLimit); }).StartsWith(expected))
        << value.Length();
  ForgetValueSources();
  EXPECT_TRUE(Refusal([&] { CheckLength(folder, kPathLimit); }).StartsWith(L"A value is 40000"));
}
