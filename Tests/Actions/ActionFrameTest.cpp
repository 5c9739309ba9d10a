// The action frame: results, failure reports, the installation counter and the handler attachment.
#include <stdexcept>

#include "ActionFrame.h"
#include "ActionTest.h"
#include "CustomActionLog.h"

using namespace Msi;
using TestSupport::RegistryText;

namespace {

Vrn::CUnicodeString ReadCounter() { return RegistryText(HKEY_LOCAL_MACHINE, kMutexCounterKey, L"InstallationCount"); }
void WriteCounter(const Vrn::CUnicodeString& value) {
  TestSupport::SetRegistryText(HKEY_LOCAL_MACHINE, kMutexCounterKey, L"InstallationCount", value);
}

Vrn::CMessageHandler* g_handlerSeenByBody = nullptr;
MSIHANDLE g_sessionSeenByBody = 0;

}  // namespace

class ActionFrameTest : public ::testing::Test {
 protected:
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
  void SetUp() override { package.Open(); }
};

TEST_F(ActionFrameTest, CounterStepParsesStrictly) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L" 7 ", L"8"},       {L"7a", L"1"}, {L"", L"1"}, {L"-3", L"-2"}, {L"2147483647", L"2147483648"},
      {L"2147483648", L"1"}};
  for (const auto& [stored, expected] : cases) {
    WriteCounter(stored);
    EXPECT_TRUE(IncrementInstallationCounter());
    EXPECT_EQ(ReadCounter(), expected) << stored;
  }
}

// The warning block of a failing action is checked under msiexec in Tests/EndToEnd/runtime-install.
TEST_F(ActionFrameTest, FailuresAreCountedOwnResultsAreNot) {
  EXPECT_EQ(ReadCounter(), L"<no key>");
  EXPECT_EQ(RunAction(package.Session(),
                      [](MSIHANDLE) -> UINT {
                        Vrn::Check(false);
                        return 0;
                      }),
            1603u);
  EXPECT_EQ(ReadCounter(), L"1");  // a missing counter becomes 1
  // The library is stopped and the previous handler is back.
  EXPECT_EQ(Vrn::StartCount(), 0);
  EXPECT_NE(Vrn::CurrentHandler(), static_cast<Vrn::CMessageHandler*>(&LogMessageHandler()));
  EXPECT_EQ(RunAction(package.Session(), [](MSIHANDLE) -> UINT { throw std::runtime_error("not ours"); }), 1603u);
  EXPECT_EQ(Vrn::StartCount(), 0);
  EXPECT_EQ(ReadCounter(), L"2");
  EXPECT_NE(package.LogText().Find(L"ERROR: not ours\r\n"), Vrn::CUnicodeString::npos);
  EXPECT_EQ(RunAction(package.Session(), [](MSIHANDLE) -> UINT { return 1602; }), 1602u);
  EXPECT_EQ(RunAction(package.Session(), [](MSIHANDLE) -> UINT { return 1603; }), 1603u);
  EXPECT_EQ(CountFailure(1602), 1602u);
  EXPECT_EQ(ReadCounter(), L"2");
  EXPECT_EQ(CountFailure(1603), 1603u);
  EXPECT_EQ(ReadCounter(), L"3");
}

TEST_F(ActionFrameTest, TheLogSwitchDecidesTheHandler) {
  const auto body = [](MSIHANDLE) -> UINT {
    g_handlerSeenByBody = Vrn::CurrentHandler();
    g_sessionSeenByBody = CCallSession::Current();
    return 0;
  };
  RunAction(package.Session(), body);
  EXPECT_EQ(g_handlerSeenByBody, static_cast<Vrn::CMessageHandler*>(&LogMessageHandler()));
  // The handler reports to the session of the call running on its thread, and to none after it.
  EXPECT_EQ(g_sessionSeenByBody, package.Session());
  EXPECT_EQ(CCallSession::Current(), 0u);

  EnableMsiLogSetting().Set(false);
  RunAction(package.Session(), body);
  EnableMsiLogSetting().Set(true);
  EXPECT_EQ(g_handlerSeenByBody, nullptr);
}
