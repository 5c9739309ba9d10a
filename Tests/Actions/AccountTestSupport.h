// The fixture of the account and domain action tests: a private HKEY_CURRENT_USER, a package opened
// in full UI (so messages reach the scripted user interface), and every account service faked.
// HKEY_LOCAL_MACHINE stays the prefix's own: Wine's account lookups read it, and they stay real.
#pragma once
#include <gtest/gtest.h>

#include "CoreFixtures.h"
#include "FakeAccountServices.h"
#include "MessageHandlers.h"
#include "SessionTestSupport.h"

class AccountActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session = package.Open();
    package.SetProperty(L"UILevel", L"5");
  }
  // Runs an action and returns its result after clearing what earlier calls recorded.
  UINT Run(UINT(__stdcall* action)(MSIHANDLE)) {
    ui.shown.clear();
    logStart = SessionTests::ActionLog(package).Length();
    return action(session);
  }
  // The custom-action log written by the last Run.
  Vrn::CUnicodeString LastLog() const { return SessionTests::ActionLog(package).Mid(logStart); }

  TestSupport::CRegistryOverride userIsolation{HKEY_CURRENT_USER};
  TestSupport::CTestPackage package;
  TestSupport::CFakeAccountServices fakes;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
  MSIHANDLE session = 0;
  size_t logStart = 0;
};

// This computer's name, as the lookups use it for ".".
inline Vrn::CUnicodeString ComputerNameForTests() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  ::GetComputerNameW(name, &size);
  return name;
}

// The SID Wine gives its only real account, "root".
inline constexpr wchar_t kRootSid[] = L"S-1-5-21-0-0-0-1000";
