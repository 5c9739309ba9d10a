// Self-registration against copies of a test library and server program that record every call in
// calls.txt, and the TCP acknowledgement frequency in the isolated machine hive.

#include <thread>

#include "ActionTest.h"
#include "ChildProcessTest.h"

using namespace TestSupport;

namespace {

// A folder of servers: libraries (with chosen results) and programs, and the calls they record.
class CServers {
 public:
  void AddLibrary(const wchar_t* name, long result = S_OK) {
    ASSERT_TRUE(::CopyFileW(BuildPath(L"RegistrationFixture.dll").c_str(), (folder / name).c_str(), FALSE));
    if (result != S_OK) WriteBytes(folder / name + L".result", std::to_string(result));
  }
  void AddProgram(const wchar_t* name) {
    ASSERT_TRUE(::CopyFileW(BuildPath(L"RegistrationServer.exe").c_str(), (folder / name).c_str(), FALSE));
  }
  std::string Calls() const { return Exists(folder / L"calls.txt") ? ReadBytes(folder / L"calls.txt") : std::string(); }
  CTempFolder folder;
};

}  // namespace

class SelfRegistrationTest : public ActionTest {
 protected:
  void SetUp() override {
    servers.AddLibrary(L"a.dll");
    servers.AddLibrary(L"b.OCX");
    servers.AddLibrary(L"sfalse.dll", S_FALSE);
    servers.AddLibrary(L"efail.dll", E_FAIL);
    servers.AddProgram(L"srv.EXE");
    WriteBytes(servers.folder / L"text.dll", "not a library");
    package.AddProperty(L"Directory", servers.folder.Path());
    Open();
  }
  // Calls the action on the list and returns what the servers recorded.
  std::string Calls(const char* action, const wchar_t* files, CResult result) {
    ::DeleteFileW((servers.folder / L"calls.txt").c_str());
    RunCases({{action, {{L"Files", files}}, {}, result}});
    return servers.Calls();
  }
  CServers servers;
};

// Failures are only logged (a library that cannot be loaded raises): the calls show where it stopped.
TEST_F(SelfRegistrationTest, CallDllActionsStopAtTheFirstFailure) {
  const std::tuple<const char*, const wchar_t*, CResult, const char*> cases[] = {
      {"CallDllRegisterServer", L"a.dll,b.OCX", 0, "a.dll DllRegisterServer\nb.OCX DllRegisterServer\n"},
      {"CallDllUnregisterServer", L"a.dll,sfalse.dll,b.OCX", NotCounted(1603),
       "a.dll DllUnregisterServer\nsfalse.dll DllUnregisterServer\n"},
      {"CallDllRegisterServer", L"missing.dll,a.dll", NotCounted(1603), ""},
      {"CallDllRegisterServer", L"text.dll", 1603, ""},  // cannot be loaded: raises
      {"CallDllRegisterServer", L"a.dll,,b.OCX", 1603, ""},
      {"CallDllInstallTrue", L"a.dll,b.OCX", 0, "a.dll DllInstall(true)\nb.OCX DllInstall(true)\n"},
      {"CallDllInstallFalse", L"efail.dll,a.dll", NotCounted(1603), "efail.dll DllInstall(false)\n"},
      {"CallDllInstallFalse", L"missing.dll", NotCounted(1603), ""},
  };
  for (const auto& [action, files, result, calls] : cases) EXPECT_EQ(Calls(action, files, result), calls) << files;
  // A library without the entry point.
  RunCases({{"CallDllRegisterServer", L"Directory=C:\\windows\\system32|Files=kernel32.dll", L"", NotCounted(1603)},
            {"CallDllInstallTrue", L"", L"", NotCounted(1603)}});
}

// Each failure is shown through the library's message service, which hands the text to the installer.
TEST_F(SelfRegistrationTest, SelfRegistrationReportsEachFailure) {
  const CUnicodeString folder = servers.folder.Path();
  const std::tuple<const wchar_t*, const char*, CUnicodeString> cases[] = {
      {L"a.dll,srv.EXE,b.OCX", "a.dll DllRegisterServer\nsrv.EXE /regserver\nb.OCX DllRegisterServer\n", L""},
      {L"a.dll,efail.dll,b.OCX", "a.dll DllRegisterServer\nefail.dll DllRegisterServer\n",
       L"DllRegisterServer failed on (proc() != S_OK)\nfile \"" + folder + L"\\efail.dll\""},
      {L"sfalse.dll", "sfalse.dll DllRegisterServer\n",
       L"DllRegisterServer failed on (proc() != S_OK)\nfile \"" + folder + L"\\sfalse.dll\""},
      {L" a.dll ", "a.dll DllRegisterServer\n", L""},  // blanks around a name are not part of it
      {L"missing.ocx", "", L"DllRegisterServer failed on AccessFile\nfile \"" + folder + L"\\missing.ocx\""},
      {L"text.dll,a.dll", "", L"DllRegisterServer failed on GetProcAddress\nfile \"" + folder + L"\\text.dll\""},
  };
  for (const auto& [files, calls, box] : cases) {
    const size_t reported = package.InstallerErrors().size();
    EXPECT_EQ(Calls("SelfRegistration", files, box.IsEmpty() ? CResult() : NotCounted(1603)), calls) << files;
    const std::vector<CUnicodeString> errors = package.InstallerErrors();
    EXPECT_EQ(std::vector(errors.begin() + reported, errors.end()),
              box.IsEmpty() ? std::vector<CUnicodeString>{} : std::vector<CUnicodeString>{box});
  }
  // A library, a program with an upper-case extension, then a file of no known kind.
  EXPECT_EQ(Calls("SelfRegistration", L"a.dll,srv.EXE,notes.txt", 1603),
            "a.dll DllRegisterServer\nsrv.EXE /regserver\n");
}

// The program is started through the shell and not waited for, so the test waits for its record.
TIMED_CHILD_TEST(SelfUnregistration, UnregistersLibrariesAndPrograms, 120000) {
  CServers servers;
  servers.AddLibrary(L"a.dll");
  servers.AddProgram(L"srv.exe");
  CActionSession s;
  s.package.AddProperties(L"Files=a.dll,srv.exe|Directory=" + servers.folder.Path());
  s.Open();
  s.RunCases({{"SelfUnregistration"}});
  while (servers.Calls().find("srv.exe") == std::string::npos)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(servers.Calls(), "a.dll DllUnregisterServer\nsrv.exe /unregserver\n");
}

constexpr wchar_t kInterfaces[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";

class TcpAckFrequencyTest : public ActionTest {
 protected:
  // One interface subkey per value: a number is written as REG_DWORD, "-" leaves it missing, any
  // other text is written as REG_SZ.
  void SetInterfaces(const std::vector<const wchar_t*>& values) {
    Vrn::CRegistryKey root;
    ASSERT_TRUE(root.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                          Vrn::RegistryMode::Write, Vrn::RegistryView::Sixty4));
    if (RegistryText(HKEY_LOCAL_MACHINE, kInterfaces, L"") != L"<no key>") root.DeleteSubKeyTree(L"Interfaces");
    for (size_t index = 0; index < values.size(); ++index) {
      const CUnicodeString key = CUnicodeString(kInterfaces) + L"\\{IF" + CUnicodeString::FromUInt(index) + L"}";
      const CUnicodeString value = values[index];
      if (const auto number = Vrn::StrictInteger<uint32_t>(value))
        SetRegistryValue(HKEY_LOCAL_MACHINE, key, L"TcpAckFrequency", REG_DWORD,
                         std::string(reinterpret_cast<const char*>(&*number), 4));
      else
        SetRegistryText(HKEY_LOCAL_MACHINE, key, value == L"-" ? L"Other" : L"TcpAckFrequency", value);
    }
  }
};

// Whatever the interfaces held, the need is gone once the value is set.
TEST_F(TcpAckFrequencyTest, NeedAndSet) {
  Open();
  for (const auto& [values, need] : std::vector<std::pair<std::vector<const wchar_t*>, const wchar_t*>>{
           {{}, L"0"}, {{L"1", L"1"}, L"0"}, {{L"1", L"-"}, L"1"}, {{L"2", L"1"}, L"1"}, {{L"1", L"1x"}, L"1"}}) {
    SetInterfaces(values);
    RunCases({{"IsTcpAckFrequencyNeed", L"IS_TAFNEED=", {{L"IS_TAFNEED", need}}},
              {"SetTcpAckFrequency"},
              {"IsTcpAckFrequencyNeed", L"IS_TAFNEED=", L"IS_TAFNEED=0"}});
  }
}
