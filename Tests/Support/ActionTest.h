// The support every action test shares: the fixture (private registry roots, a test package, the
// scripted user interface), property lists to set and to expect, one runner for tables of action
// cases, and the small helpers the action tests need (registry values, the installation counter,
// files, feature and component states, a fixed free-space answer). Actions are called by name
// through this program's own export table (the test program is linked with the module-definition
// file), so the seam overrides of a test reach them.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CoreFixtures.h"
#include "FakeAccountServices.h"
#include "Files.h"
#include "Handle.h"
#include "MessageHandlers.h"
#include "RegistryKey.h"
#include "TestPackage.h"
#include "TestSupport.h"

namespace Vrn {
// Failure messages show texts, not bytes.
inline std::ostream& operator<<(std::ostream& out, const CUnicodeString& text) { return out << text.ToUtf8(); }
}  // namespace Vrn

namespace TestSupport {

using Vrn::CUnicodeString;

// A box an action showed.
struct CBox {
  CUnicodeString text;
  UINT style = 0;
  bool operator==(const CBox&) const = default;
};
std::ostream& operator<<(std::ostream& out, const CBox& box);

// The boxes of a case (one box converts to a list of one), and the answers scripted for them.
struct CBoxes : std::vector<CBox> {
  using vector::vector;
  CBoxes(CBox box) : vector{std::move(box)} {}
};
struct CAnswers : std::vector<int> {
  using vector::vector;
  CAnswers(int answer) : vector{answer} {}
};

// An action's result and how much it raised the installation counter: one for 1603 (a failure that
// escaped the action and was counted by the frame), else none, unless given otherwise.
struct CResult {
  CResult(UINT result = 0) : code(result), counted(result == ERROR_INSTALL_FAILURE ? 1 : 0) {}
  CResult(UINT result, uint32_t timesCounted) : code(result), counted(timesCounted) {}
  UINT code;
  uint32_t counted;
};
// A 1603 the action returns by itself, not counted.
inline CResult NotCounted(UINT result) { return {result, 0}; }

// One call of an export in a table of cases: the properties set and the answers scripted before
// it; then its result, the properties expected and the boxes it showed.
struct CActionCase {
  const char* action;
  CProperties set{};
  CProperties expect{};
  CResult result{};
  CBoxes boxes{};
  CAnswers answers{};
};

// "InstallationCount"; 0 when it is missing or not a number.
uint32_t InstallationCount();

// Files: existence, a file written with its missing folders, a file held open for reading without
// sharing for writing or deleting (as an application holds its documents).
bool Exists(const CUnicodeString& path);
void WriteText(const CUnicodeString& path, const std::string& bytes);
Vrn::CFileHandle HoldOpen(const CUnicodeString& path);

// A feature's or component's installed and requested states.
struct CStates {
  int installed, action;
  bool operator==(const CStates&) const = default;
};
std::ostream& operator<<(std::ostream& out, const CStates& states);
CStates FeatureStates(MSIHANDLE session, const CUnicodeString& feature);
CStates ComponentStates(MSIHANDLE session, const CUnicodeString& component);

// Answers every free-space question with a number of bytes (until Set) for the object's lifetime.
class CFreeSpaceOverride {
 public:
  explicit CFreeSpaceOverride(uint64_t bytes);
  ~CFreeSpaceOverride();
  void Set(uint64_t bytes);
  CFreeSpaceOverride(const CFreeSpaceOverride&) = delete;
  CFreeSpaceOverride& operator=(const CFreeSpaceOverride&) = delete;

 private:
  Vrn::FreeSpaceQuery m_previous;
};

// Makes a folder the current directory for the object's lifetime.
class CCurrentDirectory {
 public:
  explicit CCurrentDirectory(const CUnicodeString& folder);
  ~CCurrentDirectory();
  CCurrentDirectory(const CCurrentDirectory&) = delete;
  CCurrentDirectory& operator=(const CCurrentDirectory&) = delete;

 private:
  CUnicodeString m_previous;
};

// A session of the action tests: private registry roots, the test package (built first, then
// opened with Open()) and the scripted user interface. ActionTest is the same as a fixture; tests
// that run in a child process make one of their own.
class CActionSession {
 public:
  // Both registry roots are private; without isolateMachine only HKEY_CURRENT_USER is (Wine's
  // account lookups read the prefix's own HKEY_LOCAL_MACHINE).
  explicit CActionSession(bool isolateMachine = true) {
    if (isolateMachine) machineRoot.emplace(HKEY_LOCAL_MACHINE);
  }
  // Opens the package (costed when asked) as a full-UI session, so that boxes reach the scripted
  // user interface.
  MSIHANDLE Open(bool runCosting = false, const wchar_t* uiLevel = L"5");
  MSIHANDLE Session() const noexcept { return package.Session(); }
  UINT Call(const char* action) { return CallAction(action, package.Session()); }
  void Set(const CProperties& properties);
  void Expect(const CProperties& properties);
  CUnicodeString Property(const CUnicodeString& name) const { return package.Property(name); }
  // The custom-action log since Open (from the given length on).
  CUnicodeString Log(size_t from = 0) const { return package.LogText().Mid(from); }
  bool Logged(std::wstring_view text, size_t from = 0) const;
  // The boxes shown since the last call, which forgets them.
  std::vector<CBox> Boxes();
  // Runs the cases in order on the session.
  void RunCases(const std::vector<CActionCase>& cases);

  CRegistryOverride userRoot{HKEY_CURRENT_USER};
  std::optional<CRegistryOverride> machineRoot;
  CTestPackage package;
  CScriptedUserInterface ui;
  Vrn::CUserInterfaceOverride uiSeam{ui};
};

class ActionTest : public ::testing::Test, public CActionSession {};

// The fixture of the account and domain actions: an open full-UI session and every account and
// directory service faked; HKEY_LOCAL_MACHINE stays the prefix's own.
class AccountActionsTest : public ::testing::Test, public CActionSession {
 protected:
  AccountActionsTest() : CActionSession(false) { Open(); }
  CFakeAccountServices fakes;
};

}  // namespace TestSupport
