// Tests of Vrn::CRegistryKey against the real registry of the Wine prefix, with private roots.

#include <string>
#include <tuple>

#include "CoreFixtures.h"
#include "RegistryKey.h"
#include "TestSupport.h"

namespace {

using Vrn::CRegistryKey;
using Vrn::CUnicodeString;
using Vrn::RegistryMode;
using Vrn::RegistryView;

constexpr wchar_t kTestPath[] = L"Software\\OrvantTest";
constexpr wchar_t kTestName[] = L"HKEY_CURRENT_USER\\Software\\OrvantTest";

class RegistryKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_key.Open(HKEY_CURRENT_USER, kTestPath, RegistryMode::Write)); }

  // Stores raw bytes under a value name, bypassing the object under test.
  void StoreRaw(const wchar_t* name, DWORD type, std::string_view bytes) {
    ASSERT_EQ(RegSetValueExW(m_key.Handle(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

  bool KeyExists(const CUnicodeString& path) {
    CRegistryKey probe;
    return probe.Open(m_key, path, RegistryMode::Read);
  }

  TestSupport::CMachineIsolation m_isolation;
  CRegistryKey m_key;
};

// The text followed by its terminating zero, as RegSetValueExW callers normally store it.
std::string Terminated(std::wstring_view text) { return TestSupport::Utf16(text) + std::string(2, '\0'); }

std::unique_ptr<Vrn::CCheckException> CatchCantWrite(const std::function<void()>& body) {
  auto raised = TestSupport::CatchRaised<Vrn::CCheckException>(body);
  if (raised) {
    EXPECT_EQ(raised->Name(), L"ERR_CANT_WRITE_TO_REGISTRY");
  }
  return raised;
}

TEST_F(RegistryKeyTest, ReadStringFollowsTypeSizeAndTerminatorRules) {
  const std::wstring long200(200, L'x'), exactly63(63, L'y');  // 63 fill the first read: the terminator forces a second
  const std::tuple<DWORD, std::string, const wchar_t*> cases[] = {
      // type, stored bytes, text read (null: the default)
      {REG_SZ, Terminated(long200), long200.c_str()},
      {REG_SZ, Terminated(exactly63), exactly63.c_str()},
      {REG_SZ, TestSupport::Utf16(L"whole"), L"whole"},  // no terminator
      {REG_SZ, Terminated(std::wstring_view(L"ab\0cd", 5)), L"ab"},
      {REG_EXPAND_SZ, Terminated(L"%TEMP%\\x"), L"%TEMP%\\x"},
      {REG_SZ, "", nullptr},
      {REG_SZ, "abc", nullptr},
      {REG_DWORD, std::string("\x2A\0\0\0", 4), nullptr},
      {REG_MULTI_SZ, Terminated(L"a") + std::string(2, '\0'), nullptr},
  };
  for (const auto& [type, bytes, expected] : cases) {
    StoreRaw(L"Value", type, bytes);
    EXPECT_EQ(m_key.ReadString(L"Value", L"<default>").ToStdString(), expected ? expected : L"<default>")
        << "type " << type << ", " << bytes.size() << " bytes";
  }
}

TEST_F(RegistryKeyTest, ReadsOfWhatIsNotThereGiveTheDefault) {
  EXPECT_EQ(m_key.ReadString(L"Missing", L"dflt"), L"dflt");
  CRegistryKey closed;
  EXPECT_EQ(closed.ReadString(L"Value", L"dflt"), L"dflt");
  // A key deleted under an open handle answers 1018, which counts as missing too.
  CRegistryKey child;
  ASSERT_TRUE(child.Open(m_key, L"Doomed", RegistryMode::Write));
  child.WriteString(L"Value", L"text");
  m_key.DeleteSubKeyTree(L"Doomed");
  EXPECT_EQ(child.ReadString(L"Value", L"dflt"), L"dflt");
}

TEST_F(RegistryKeyTest, DeletesATreeThreeLevelsDeepAndFailedChangesNameKeyAndValue) {
  for (const wchar_t* path : {L"Tree\\L1a\\L2\\L3", L"Tree\\L1b", L"Sibling"}) {
    CRegistryKey key;
    ASSERT_TRUE(key.Open(m_key, path, RegistryMode::Write));
    key.WriteString(L"Value", path);
  }
  m_key.DeleteSubKeyTree(L"Tree");
  EXPECT_FALSE(KeyExists(L"Tree"));
  EXPECT_TRUE(KeyExists(L"Sibling"));

  const std::pair<std::function<void()>, const wchar_t*> failures[] = {
      {[&] { m_key.DeleteSubKeyTree(L"Tree"); }, L"\\Tree"}, {[&] { m_key.DeleteValue(L"Missing"); }, L"\\Missing"}};
  for (const auto& [change, named] : failures) {
    const auto raised = CatchCantWrite(change);
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->Params()[0], CUnicodeString(kTestName) + named);
  }
  CRegistryKey closed;
  EXPECT_TRUE(CatchCantWrite([&] { closed.WriteString(L"Value", L"x"); }));
}

}  // namespace
