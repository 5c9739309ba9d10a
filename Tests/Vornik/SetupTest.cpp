// Counted start and stop, the message log, debug flags, stop modes and typed settings.
#include <gtest/gtest.h>

#include <regex>

#include "CoreFixtures.h"
#include "Setup.h"
#include "TestSupport.h"

using namespace Vrn;

namespace {

void WriteSetting(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

}  // namespace

class SetupTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
};

TEST_F(SetupTest, NestedStartsInitialiseAndShutDownOnce) {
  WriteSetting(HKEY_LOCAL_MACHINE, kLibrarySettingsKey, L"WriteMessageLog", L" Yes ");
  const CUnicodeString logPath = LibraryModuleFolder() + L"VornikLog.txt";
  DeleteFileW(logPath.c_str());

  ASSERT_TRUE(Start());
  ASSERT_TRUE(Start());
  EXPECT_EQ(StartCount(), 2);
  Stop();
  EXPECT_EQ(State(), LibraryState::Started);
  Stop();
  EXPECT_EQ(State(), LibraryState::Stopped);
  Stop();  // an unmatched stop changes nothing
  EXPECT_EQ(StartCount(), 0);

  const std::string log = TestSupport::ReadBytes(logPath);
  DeleteFileW(logPath.c_str());
  EXPECT_EQ(Count(log, "Vornik: Debug flags initialized.\r\n"), 1u);
  EXPECT_EQ(Count(log, "Vornik: All modules initialized.\r\n"), 1u);
  EXPECT_EQ(Count(log, "Vornik: Deinitializing...\r\n"), 1u);
  EXPECT_EQ(Count(log, "Vornik: Deinitialization complete.\r\n"), 1u);
  const std::regex line("\\d\\d:\\d\\d:\\d\\d ProcessID:" + std::to_string(GetCurrentProcessId()) +
                        " Vornik: Debug flags initialized\\.\r");
  EXPECT_TRUE(std::regex_search(log, line)) << log;
  // The order of the start-up lines is fixed.
  EXPECT_LT(log.find("Debug flags initialized"), log.find("CRT locale changed"));
  EXPECT_LT(log.find("Resource base initialized"), log.find("All modules initialized"));
}

TEST_F(SetupTest, MessageLogIsOffUnlessATrueWord) {
  const CUnicodeString logPath = LibraryModuleFolder() + L"VornikLog.txt";
  DeleteFileW(logPath.c_str());
  WriteSetting(HKEY_LOCAL_MACHINE, kLibrarySettingsKey, L"WriteMessageLog", L"perhaps");
  { TestSupport::CStartedLibrary library; }
  EXPECT_EQ(GetFileAttributesW(logPath.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SetupTest, DebugFlagsChangeOnlyForBooleanWords) {
  WriteSetting(HKEY_CURRENT_USER, kLibrarySettingsKey, L"KeepTempFiles", L"1");
  WriteSetting(HKEY_CURRENT_USER, kLibrarySettingsKey, L"EnableHeapSwitching", L"");
  WriteSetting(HKEY_CURRENT_USER, kLibrarySettingsKey, L"CheckAllResourceModulesExistance", L"OFF");
  WriteSetting(HKEY_CURRENT_USER, kLibrarySettingsKey, L"SaveAllMessages", L"sometimes");
  TestSupport::CStartedLibrary library;
  EXPECT_EQ(DebugFlags(),
            (DebugFlag::Initial | DebugFlag::KeepTempFiles) & ~DebugFlag::CheckAllResourceModulesExistance);
}

TEST_F(SetupTest, BooleanWordsAndStopModes) {
  for (const wchar_t* yes : {L"true", L"ON", L" yes ", L"1"}) EXPECT_EQ(ParseBoolWord(yes), true);
  for (const wchar_t* no : {L"False", L"off", L"NO", L"\t0"}) EXPECT_EQ(ParseBoolWord(no), false);
  for (const wchar_t* other : {L"", L"y", L"01", L"yes please"}) EXPECT_EQ(ParseBoolWord(other), std::nullopt);

  EXPECT_EQ(ParseStopMode(L"debug"), StopMode::Debug);
  EXPECT_EQ(ParseStopMode(L"ALWAYS"), StopMode::Always);
  EXPECT_EQ(ParseStopMode(L"Never"), StopMode::Never);
  EXPECT_EQ(ParseStopMode(L"sometimes"), StopMode::Never);
  EXPECT_EQ(ParseStopMode(L""), StopMode::Never);
  ApplyStopMode(StopMode::Always);  // no debugger attached: must not end the process
}

TEST_F(SetupTest, EnableMsiLogSettingParsing) {
  const wchar_t* key = L"Software\\Orvant\\Debug";
  const CSetup<bool> setting(SetupLocation::User, key, L"EnableMsiLog", true);
  EXPECT_TRUE(setting.Get());  // missing
  const std::pair<const wchar_t*, bool> cases[] = {{L"Off", false}, {L"maybe", true}, {L" yes ", true},
                                                   {L"", true},     {L"0", false},    {L"TRUE", true}};
  for (const auto& [text, expected] : cases) {
    WriteSetting(HKEY_CURRENT_USER, key, L"EnableMsiLog", text);
    EXPECT_EQ(setting.Get(), expected) << CUnicodeString(text).ToUtf8();
  }

  // The cached form reads once.
  CCacheSetup<bool> cached(SetupLocation::User, key, L"EnableMsiLog", true);
  WriteSetting(HKEY_CURRENT_USER, key, L"EnableMsiLog", L"no");
  EXPECT_FALSE(cached.Get());
  WriteSetting(HKEY_CURRENT_USER, key, L"EnableMsiLog", L"yes");
  EXPECT_FALSE(cached.Get());
  cached.Set(true);
  EXPECT_TRUE(cached.Get());
  EXPECT_TRUE(setting.Get());
}

TEST_F(SetupTest, TypedSettingsReadWriteAndFallBack) {
  CSetup<int32_t> number(SetupLocation::Machine, L"Software\\Orvant\\Setup", L"Count", 5);
  EXPECT_EQ(number.Get(), 5);
  number.Set(-12);
  EXPECT_EQ(number.Get(), -12);
  WriteSetting(HKEY_LOCAL_MACHINE, L"Software\\Orvant\\Setup", L"Count", L"12abc");
  EXPECT_EQ(number.Get(), 5);

  CSetup<CUnicodeString> text(SetupLocation::User, L"Software\\Orvant\\Setup", L"Name", L"none");
  EXPECT_EQ(text.Get(), L"none");
  text.Set(L" spaced ");
  EXPECT_EQ(text.Get(), L" spaced ");
  EXPECT_EQ(CSetup<bool>(SetupLocation::User, L"x", L"y", false).AsText(true), L"true");
}
