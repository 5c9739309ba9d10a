// The shared action-test support: calls by name, the case runner and its helpers.
#include "ActionTest.h"

#include <stdexcept>

#include "ActionFrame.h"
#include "Files.h"

namespace TestSupport {

std::ostream& operator<<(std::ostream& out, const CBox& box) { return out << box.style << "|" << box.text; }

std::ostream& operator<<(std::ostream& out, const CStates& states) {
  return out << "(" << states.installed << ", " << states.action << ")";
}

uint32_t InstallationCount() {
  return Vrn::StrictInteger<uint32_t>(RegistryText(HKEY_LOCAL_MACHINE, Msi::kMutexCounterKey, L"InstallationCount"))
      .value_or(0);
}

bool Exists(const CUnicodeString& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteText(const CUnicodeString& path, const std::string& bytes) {
  Vrn::CreateDirectoryWithParents(path.Left(path.ReverseFind(L'\\')));
  WriteBytes(path, bytes);
}

Vrn::CFileHandle HoldOpen(const CUnicodeString& path) {
  return Vrn::CFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

CStates FeatureStates(MSIHANDLE session, const CUnicodeString& feature) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
  EXPECT_EQ(::MsiGetFeatureStateW(session, feature.c_str(), &installed, &action), 0u) << feature;
  return {installed, action};
}

CStates ComponentStates(MSIHANDLE session, const CUnicodeString& component) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
  EXPECT_EQ(::MsiGetComponentStateW(session, component.c_str(), &installed, &action), 0u) << component;
  return {installed, action};
}

namespace {
uint64_t g_freeBytes = 0;
bool FixedFreeSpace(const wchar_t*, uint64_t& bytes) {
  bytes = g_freeBytes;
  return true;
}
}  // namespace

CFreeSpaceOverride::CFreeSpaceOverride(uint64_t bytes) : m_previous(Vrn::SetFreeSpaceQuery(FixedFreeSpace)) {
  Set(bytes);
}
CFreeSpaceOverride::~CFreeSpaceOverride() { Vrn::SetFreeSpaceQuery(m_previous); }
void CFreeSpaceOverride::Set(uint64_t bytes) { g_freeBytes = bytes; }

CCurrentDirectory::CCurrentDirectory(const CUnicodeString& folder) {
  wchar_t previous[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  m_previous = previous;
  ::SetCurrentDirectoryW(folder.c_str());
}
CCurrentDirectory::~CCurrentDirectory() { ::SetCurrentDirectoryW(m_previous.c_str()); }

MSIHANDLE CActionSession::Open(bool runCosting, const wchar_t* uiLevel) {
  const MSIHANDLE session = package.Open(runCosting);
  package.SetProperty(L"UILevel", uiLevel);
  return session;
}

void CActionSession::Set(const CProperties& properties) {
  for (const auto& [name, value] : properties) package.SetProperty(name, value);
}

void CActionSession::Expect(const CProperties& properties) {
  for (const auto& [name, value] : properties) EXPECT_EQ(package.Property(name), value) << name;
}

bool CActionSession::Logged(std::wstring_view text, size_t from) const {
  return Log(from).Find(text) != CUnicodeString::npos;
}

std::vector<CBox> CActionSession::Boxes() {
  std::vector<CBox> boxes;
  for (const CShownMessage& shown : ui.shown) boxes.push_back({shown.text, shown.style});
  ui.shown.clear();
  return boxes;
}

void CActionSession::RunCases(const std::vector<CActionCase>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const CActionCase& c = cases[i];
    std::string trace = "case " + std::to_string(i) + ": " + c.action;
    for (const auto& [name, value] : c.set) trace += " " + name.ToUtf8() + "=" + value.Left(60).ToUtf8();
    SCOPED_TRACE(trace);
    Set(c.set);
    ui.shown.clear();
    ui.answers = c.answers;
    const uint32_t counted = InstallationCount();
    EXPECT_EQ(Call(c.action), c.result.code);
    Expect(c.expect);
    EXPECT_EQ(Boxes(), c.boxes);
    EXPECT_EQ(InstallationCount() - counted, c.result.counted) << "times counted";
  }
}

}  // namespace TestSupport
