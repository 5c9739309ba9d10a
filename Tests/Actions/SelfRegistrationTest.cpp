// Self-registration and the TCP acknowledgement frequency. The registration actions run in this
// program against real copies of a test library and a test server program (built beside the test
// programs) that record every call in calls.txt; the interface keys are written in the isolated
// machine hive.
#include <gtest/gtest.h>

#include <thread>

#include "ChildProcessTest.h"
#include "CoreFixtures.h"
#include "Files.h"
#include "RegistryKey.h"
#include "SessionTestSupport.h"
#include "TestPackage.h"
#include "TestSupport.h"

using SessionTests::ActionLog;
using SessionTests::Utf8;
using Vrn::CUnicodeString;

extern "C" UINT __stdcall SelfRegistration(MSIHANDLE session);
extern "C" UINT __stdcall SelfUnregistration(MSIHANDLE session);
extern "C" UINT __stdcall CallDllRegisterServer(MSIHANDLE session);
extern "C" UINT __stdcall CallDllUnregisterServer(MSIHANDLE session);
extern "C" UINT __stdcall CallDllInstallTrue(MSIHANDLE session);
extern "C" UINT __stdcall CallDllInstallFalse(MSIHANDLE session);
extern "C" UINT __stdcall IsTcpAckFrequencyNeed(MSIHANDLE session);
extern "C" UINT __stdcall SetTcpAckFrequency(MSIHANDLE session);

namespace {

CUnicodeString BuiltFile(const wchar_t* name) {
  CUnicodeString path = TestSupport::LibraryPath();
  return path.Left(path.ReverseFind(L'\\') + 1) + name;
}

// A folder of servers: libraries (with chosen results) and programs, and the calls they record.
class CServers {
 public:
  void AddLibrary(const wchar_t* name, long result = S_OK) {
    ASSERT_TRUE(::CopyFileW(BuiltFile(L"RegistrationFixture.dll").c_str(), (folder / name).c_str(), FALSE));
    if (result != S_OK) TestSupport::WriteBytes(folder / name + L".result", std::to_string(result));
  }
  void AddProgram(const wchar_t* name) {
    ASSERT_TRUE(::CopyFileW(BuiltFile(L"RegistrationServer.exe").c_str(), (folder / name).c_str(), FALSE));
  }
  std::string Calls() const {
    return Vrn::FileExists(folder / L"calls.txt") ? TestSupport::ReadBytes(folder / L"calls.txt") : std::string();
  }
  TestSupport::CTempFolder folder;
};

}  // namespace

class SelfRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    servers.AddLibrary(L"a.dll");
    servers.AddLibrary(L"b.OCX");
    servers.AddLibrary(L"sfalse.dll", S_FALSE);
    servers.AddLibrary(L"efail.dll", E_FAIL);
    servers.AddProgram(L"srv.EXE");
    TestSupport::WriteBytes(servers.folder / L"text.dll", "not a library");
    package.AddProperty(L"Directory", servers.folder.Path());
    session = package.Open();
  }

  TestSupport::CMachineIsolation isolation;
  CServers servers;
  TestSupport::CTestPackage package;
  MSIHANDLE session = 0;
  TestSupport::CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
};

TEST_F(SelfRegistrationTest, CallDllActionsStopAtTheFirstFailure) {
  const struct {
    UINT(__stdcall* action)(MSIHANDLE);
    const wchar_t* files;
    UINT result;
    const char* calls;
    const wchar_t* logged;
  } cases[] = {
      {CallDllRegisterServer, L"a.dll,b.OCX", 0, "a.dll DllRegisterServer\nb.OCX DllRegisterServer\n", nullptr},
      {CallDllUnregisterServer, L"a.dll,sfalse.dll,b.OCX", 1603,
       "a.dll DllUnregisterServer\nsfalse.dll DllUnregisterServer\n", L"callRegistrationProcess ERROR :bad address 2"},
      {CallDllRegisterServer, L"missing.dll,a.dll", 1603, "", L"callRegistrationProcess file not found"},
      {CallDllRegisterServer, L"text.dll", 1603, "", nullptr},  // cannot be loaded: raises
      {CallDllRegisterServer, L"a.dll,,b.OCX", 1603, "", nullptr},
      {CallDllInstallTrue, L"a.dll,b.OCX", 0, "a.dll DllInstall(true)\nb.OCX DllInstall(true)\n", nullptr},
      {CallDllInstallFalse, L"efail.dll,a.dll", 1603, "efail.dll DllInstall(false)\n", nullptr},
      {CallDllInstallFalse, L"missing.dll", 1603, "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.files).ToUtf8());
    ::DeleteFileW((servers.folder / L"calls.txt").c_str());
    package.SetProperty(L"Files", c.files);
    const size_t logged = ActionLog(package).Length();
    EXPECT_EQ(c.action(session), c.result);
    EXPECT_EQ(servers.Calls(), c.calls);
    if (c.logged) {
      EXPECT_NE(ActionLog(package).Mid(logged).Find(c.logged), CUnicodeString::npos);
    }
  }
  // A library without the entry point.
  package.SetProperty(L"Directory", L"C:\\windows\\system32");
  package.SetProperty(L"Files", L"kernel32.dll");
  EXPECT_EQ(CallDllRegisterServer(session), 1603u);
  EXPECT_NE(ActionLog(package).Find(L"callRegistrationProcess ERROR :bad address 1"), CUnicodeString::npos);
  EXPECT_EQ(CallDllInstallTrue(session), 1603u);
}

TEST_F(SelfRegistrationTest, SelfRegistrationReportsEachFailure) {
  const CUnicodeString folder = servers.folder.Path();
  const struct {
    const wchar_t* files;
    const char* calls;
    CUnicodeString box;
  } cases[] = {
      {L"a.dll,srv.EXE,b.OCX", "a.dll DllRegisterServer\nsrv.EXE /regserver\nb.OCX DllRegisterServer\n", L""},
      {L"a.dll,efail.dll,b.OCX", "a.dll DllRegisterServer\nefail.dll DllRegisterServer\n",
       L"DllRegisterServer failed on (proc() != S_OK)\nfile \"" + folder + L"\\efail.dll\""},
      {L"sfalse.dll", "sfalse.dll DllRegisterServer\n",
       L"DllRegisterServer failed on (proc() != S_OK)\nfile \"" + folder + L"\\sfalse.dll\""},
      {L" a.dll ", "a.dll DllRegisterServer\n", L""},  // blanks around a name are not part of it
      {L"missing.ocx", "", L"DllRegisterServer failed on AccessFile\nfile \"" + folder + L"\\missing.ocx\""},
      {L"text.dll,a.dll", "", L"DllRegisterServer failed on GetProcAddress\nfile \"" + folder + L"\\text.dll\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CUnicodeString(c.files).ToUtf8());
    ::DeleteFileW((servers.folder / L"calls.txt").c_str());
    package.SetProperty(L"Files", c.files);
    const size_t reported = package.InstallerErrors().size();
    EXPECT_EQ(SelfRegistration(session), c.box.IsEmpty() ? 0u : 1603u);
    EXPECT_EQ(servers.Calls(), c.calls);
    // The library's message service hands the text to the installer.
    const std::vector<CUnicodeString> errors = package.InstallerErrors();
    ASSERT_EQ(errors.size() - reported, c.box.IsEmpty() ? 0u : 1u);
    if (!c.box.IsEmpty()) {
      EXPECT_EQ(Utf8(errors.back()), Utf8(c.box));
    }
  }
  // A library, a program with an upper-case extension, then a file of no known kind.
  ::DeleteFileW((servers.folder / L"calls.txt").c_str());
  package.SetProperty(L"Files", L"a.dll,srv.EXE,notes.txt");
  EXPECT_EQ(SelfRegistration(session), 1603u);
  EXPECT_EQ(servers.Calls(), "a.dll DllRegisterServer\nsrv.EXE /regserver\n");
  const CUnicodeString log = ActionLog(package);
  EXPECT_NE(log.Find(L"SelfRegistration - a.dll,srv.EXE,notes.txt\r\nSelfRegistration - a.dll\r\n"),
            CUnicodeString::npos);
  EXPECT_NE(log.Find(L"callRegistrationProcess 2 - " + folder + L"\\a.dll"), CUnicodeString::npos);
}

// The program is started through the shell and not waited for, so the test waits for its record.
TIMED_CHILD_TEST(SelfUnregistration, UnregistersLibrariesAndPrograms, 120000) {
  TestSupport::CMachineIsolation isolation;
  CServers servers;
  servers.AddLibrary(L"a.dll");
  servers.AddProgram(L"srv.exe");
  TestSupport::CTestPackage package;
  package.AddProperty(L"Directory", servers.folder.Path());
  package.AddProperty(L"Files", L"a.dll,srv.exe");
  const MSIHANDLE session = package.Open();
  EXPECT_EQ(SelfUnregistration(session), 0u);
  while (servers.Calls().find("srv.exe") == std::string::npos)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(servers.Calls(), "a.dll DllUnregisterServer\nsrv.exe /unregserver\n");
}

constexpr wchar_t kInterfaces[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";

class TcpAckFrequencyTest : public ::testing::Test {
 protected:
  // One interface subkey per value: a number is written as REG_DWORD, "-" leaves it missing, any
  // other text is written as REG_SZ.
  void SetInterfaces(const std::vector<const wchar_t*>& values) {
    Vrn::CRegistryKey root;
    ASSERT_TRUE(root.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                          Vrn::RegistryMode::Write, Vrn::RegistryView::Sixty4));
    Vrn::CRegistryKey existing;
    if (existing.Open(root, L"Interfaces", Vrn::RegistryMode::Read)) {
      existing.Close();
      root.DeleteSubKeyTree(L"Interfaces");
    }
    for (size_t index = 0; index < values.size(); ++index) {
      Vrn::CRegistryKey key;
      ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE,
                           CUnicodeString(kInterfaces) + L"\\{IF" + CUnicodeString::FromUInt(index) + L"}",
                           Vrn::RegistryMode::Write, Vrn::RegistryView::Sixty4));
      const CUnicodeString value = values[index];
      if (const auto number = Vrn::StrictInteger<uint32_t>(value))
        key.WriteDword(L"TcpAckFrequency", *number);
      else if (value != L"-")
        key.WriteString(L"TcpAckFrequency", value);
    }
  }
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage package;
};

TEST_F(TcpAckFrequencyTest, NeedAndSet) {
  const MSIHANDLE session = package.Open();
  const struct {
    std::vector<const wchar_t*> values;
    const wchar_t* need;
  } cases[] = {
      {{}, L"0"}, {{L"1", L"1"}, L"0"}, {{L"1", L"-"}, L"1"}, {{L"2", L"1"}, L"1"}, {{L"1", L"1x"}, L"1"},
  };
  for (const auto& c : cases) {
    SetInterfaces(c.values);
    package.SetProperty(L"IS_TAFNEED", L"");
    EXPECT_EQ(IsTcpAckFrequencyNeed(session), 0u);
    EXPECT_EQ(Utf8(package.Property(L"IS_TAFNEED")), Utf8(c.need)) << c.values.size();
    EXPECT_EQ(SetTcpAckFrequency(session), 0u);
    package.SetProperty(L"IS_TAFNEED", L"");
    EXPECT_EQ(IsTcpAckFrequencyNeed(session), 0u);
    EXPECT_EQ(Utf8(package.Property(L"IS_TAFNEED")), Utf8(L"0"));
  }
}
