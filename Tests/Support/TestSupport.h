// Shared test fixtures: paths of the source and build folders as Wine sees them, a private
// temporary folder, and private HKEY_LOCAL_MACHINE / HKEY_CURRENT_USER roots per test.
#pragma once

#include <string>
#include <string_view>

#include "Handle.h"
#include "RegistryKey.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace TestSupport {

// "Z:\...\main" (no trailing backslash).
Vrn::CUnicodeString SourceDir();
// SourceDir()\Tests\Data\<relative>
Vrn::CUnicodeString DataPath(const Vrn::CUnicodeString& relative);
// SourceDir()\Packages\Tables\<table>.idt, the schema of one of the library's tables
Vrn::CUnicodeString TableSchemaPath(const Vrn::CUnicodeString& table);
// A file of the build folder (OrvantCA.dll, the stand-in programs built beside the tests)
Vrn::CUnicodeString BuildPath(const Vrn::CUnicodeString& name);
// OrvantCA.dll in the build folder
Vrn::CUnicodeString LibraryPath();
// This test program's own file.
std::wstring ThisProgramPath();

// A new empty folder under parent (by default the Windows temporary folder), removed with
// everything in it.
class CTempFolder {
 public:
  explicit CTempFolder(const Vrn::CUnicodeString& parent = {});
  ~CTempFolder();
  CTempFolder(const CTempFolder&) = delete;
  CTempFolder& operator=(const CTempFolder&) = delete;
  const Vrn::CUnicodeString& Path() const noexcept { return m_path; }
  // Path()\relative
  Vrn::CUnicodeString operator/(const Vrn::CUnicodeString& relative) const;

 private:
  Vrn::CUnicodeString m_path;
};

// Redirects a predefined root (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER) of this process to a fresh
// private key for the object's lifetime, so tests never see or leave machine state.
class CRegistryOverride {
 public:
  explicit CRegistryOverride(HKEY root);
  ~CRegistryOverride();
  CRegistryOverride(const CRegistryOverride&) = delete;
  CRegistryOverride& operator=(const CRegistryOverride&) = delete;

 private:
  HKEY m_root;
  Vrn::CUnicodeString m_privatePath;
  Vrn::CRegKeyHandle m_key;
};

// Both roots at once.
struct CMachineIsolation {
  CRegistryOverride machine{HKEY_LOCAL_MACHINE};
  CRegistryOverride user{HKEY_CURRENT_USER};
};

// Registry values, by default in the 64-bit view: a value as text ("<missing>" without the value,
// "<no key>" without the key), and values written as REG_SZ (with its terminator) or as raw bytes.
Vrn::CUnicodeString RegistryText(HKEY root, const Vrn::CUnicodeString& key, const Vrn::CUnicodeString& name,
                                 Vrn::RegistryView view = Vrn::RegistryView::Sixty4);
void SetRegistryText(HKEY root, const Vrn::CUnicodeString& key, const Vrn::CUnicodeString& name,
                     const Vrn::CUnicodeString& value, Vrn::RegistryView view = Vrn::RegistryView::Sixty4);
void SetRegistryValue(HKEY root, const Vrn::CUnicodeString& key, const Vrn::CUnicodeString& name, DWORD type,
                      std::string_view bytes, Vrn::RegistryView view = Vrn::RegistryView::Sixty4);
// The UTF-16 bytes of a text (no terminator).
std::string Utf16(std::wstring_view text);

// Makes link a Unix symbolic link to target, an existing file or folder the test made (both Windows
// paths in this prefix). Wine shows a link to a folder as a reparse point and follows it like a
// junction; a link to a file looks like the file. CreateSymbolicLinkW makes nothing under Wine 8, so
// /bin/ln makes it, started through Wine's start.exe.
void PlantLink(const Vrn::CUnicodeString& link, const Vrn::CUnicodeString& target);

// Whole-file reads for assertions.
std::string ReadBytes(const Vrn::CUnicodeString& path);
void WriteBytes(const Vrn::CUnicodeString& path, const std::string& bytes);

}  // namespace TestSupport
