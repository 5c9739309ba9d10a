// Counted start and stop, the message log, debug flags, stop modes and typed settings.

#include <regex>

#include "CoreFixtures.h"
#include "Files.h"
#include "TestSupport.h"

using namespace Vrn;

using TestSupport::SetRegistryText;

class SetupTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
};

TEST_F(SetupTest, NestedStartsInitialiseAndShutDownOnceAndLogEachStepOnce) {
  SetRegistryText(HKEY_LOCAL_MACHINE, kLibrarySettingsKey, L"WriteMessageLog", L" Yes ");
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
  size_t at = 0;
  for (const char* step : {"Debug flags initialized.\r\n", "CRT locale changed.\r\n", "Resource base initialized.\r\n",
                           "All modules initialized.\r\n", "Deinitializing...\r\n", "Deinitialization complete.\r\n"}) {
    const std::string line = std::string("Vornik: ") + step;
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << step << log;
    EXPECT_EQ(log.find(line, at + 1), std::string::npos) << step << log;
  }
  const std::regex stamp("(^|\n)\\d\\d:\\d\\d:\\d\\d ProcessID:" + std::to_string(GetCurrentProcessId()) +
                         " Vornik: Debug flags initialized\\.\r\n");
  EXPECT_TRUE(std::regex_search(log, stamp)) << log;

  // Any word but a true one leaves the log off.
  SetRegistryText(HKEY_LOCAL_MACHINE, kLibrarySettingsKey, L"WriteMessageLog", L"perhaps");
  { TestSupport::CStartedLibrary library; }
  EXPECT_EQ(GetFileAttributesW(logPath.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The last stop removes them: FilesTest's stress test.
TEST_F(SetupTest, TemporaryFilesStayAtAnInnerStopAndWhenKept) {
  TestSupport::CTempFolder folder;
  {
    TestSupport::CStartedLibrary outer;
    {
      TestSupport::CStartedLibrary inner;
      CreateUniqueTempFile(L"Orv", L"tmp", folder.Path());
    }
    EXPECT_EQ(ListDirectory(folder.Path(), L"Orv*").size(), 1u);
  }
  SetRegistryText(HKEY_CURRENT_USER, kLibrarySettingsKey, L"KeepTempFiles", L"1");
  {
    TestSupport::CStartedLibrary library;
    CreateUniqueTempFile(L"Kept", L"tmp", folder.Path());
  }
  EXPECT_EQ(ListDirectory(folder.Path(), L"Kept*").size(), 1u);
}

TEST_F(SetupTest, BooleanSettingsFallBackForMissingEmptyAndUnknownWords) {
  const wchar_t* key = L"Software\\Orvant\\Debug";
  const CSetup<bool> setting(SetupLocation::User, key, L"EnableMsiLog", true);
  EXPECT_TRUE(setting.Get());  // missing
  const std::pair<const wchar_t*, bool> cases[] = {{L"Off", false}, {L"maybe", true}, {L"", true},
                                                   {L"\t0", false}, {L"01", true},    {L"nO", false}};
  for (const auto& [text, expected] : cases) {
    SetRegistryText(HKEY_CURRENT_USER, key, L"EnableMsiLog", text);
    EXPECT_EQ(setting.Get(), expected) << CUnicodeString(text).ToUtf8();
  }
  // The cached form reads once.
  CCacheSetup<bool> cached(SetupLocation::User, key, L"EnableMsiLog", true);
  EXPECT_FALSE(cached.Get());
  SetRegistryText(HKEY_CURRENT_USER, key, L"EnableMsiLog", L"yes");
  EXPECT_FALSE(cached.Get());
  cached.Set(true);
  EXPECT_TRUE(cached.Get());
}

TEST_F(SetupTest, IntegerSettingsReadWriteAndFallBackOnAnythingButANumber) {
  CSetup<int32_t> number(SetupLocation::Machine, L"Software\\Orvant\\Setup", L"Count", 5);
  number.Set(-12);
  EXPECT_EQ(number.Get(), -12);
  SetRegistryText(HKEY_LOCAL_MACHINE, L"Software\\Orvant\\Setup", L"Count", L"12abc");
  EXPECT_EQ(number.Get(), 5);
}
