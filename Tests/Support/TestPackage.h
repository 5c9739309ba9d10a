// TestPackage: a package database built by the test (summary information, Property, Directory,
// Feature, Component, FeatureComponents and any OV_ table), opened as a real installer session in
// this process, with exports of OrvantCA.dll called in-process and the custom-action log read back.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "TestSupport.h"
#include "UnicodeString.h"
#include "VrnWindows.h"
// msi headers after windows.h
#include <msi.h>
#include <msiquery.h>

namespace TestSupport {

// One cell of a row: text, integer or null.
struct CCell {
  CCell(const wchar_t* text) : value(Vrn::CUnicodeString(text)) {}
  CCell(const Vrn::CUnicodeString& text) : value(text) {}
  CCell(int number) : value(number) {}
  static CCell Null() { return CCell(); }
  std::variant<std::monostate, Vrn::CUnicodeString, int> value;

 private:
  CCell() = default;
};

// Properties by name, in the order they are set or checked: a list of name and value pairs, or one
// text "NAME=value|NAME=value" (split at every "|", then at the first "="; "" is no property).
struct CProperties : std::vector<std::pair<Vrn::CUnicodeString, Vrn::CUnicodeString>> {
  using vector::vector;
  CProperties(const wchar_t* text) : CProperties(Vrn::CUnicodeString(text)) {}
  CProperties(const Vrn::CUnicodeString& text);
};

class CTestPackage {
 public:
  // A new database in a private folder with the standard tables and a few product properties
  // (ProductName "Test Product", ProductLanguage 1033, ProductVersion 1.0.0, ProductCode).
  CTestPackage();
  ~CTestPackage();
  CTestPackage(const CTestPackage&) = delete;
  CTestPackage& operator=(const CTestPackage&) = delete;

  // ---- Building (before Open) ----
  void AddProperty(const Vrn::CUnicodeString& name, const Vrn::CUnicodeString& value);
  void AddProperties(const CProperties& properties);
  // Any SQL statement on the database (CREATE TABLE, INSERT ...), with the record of its markers.
  void Execute(const Vrn::CUnicodeString& sql, MSIHANDLE record = 0);
  void Insert(const Vrn::CUnicodeString& table, const std::vector<Vrn::CUnicodeString>& columns,
              const std::vector<CCell>& cells);
  // Imports an .idt file (for example a schema of Packages/Tables).
  void ImportTable(const Vrn::CUnicodeString& idtPath);
  // A top-level feature (level 1 installs it by default), with a component of that name when given;
  // a component in INSTALLDIR belonging to a feature.
  void AddFeature(const Vrn::CUnicodeString& feature, int level = 1, const Vrn::CUnicodeString& component = L"");
  void AddComponent(const Vrn::CUnicodeString& component, const Vrn::CUnicodeString& feature);
  // "Main" with "MainComp", installed by default, and "Off" (level 0) with "OffComp".
  void AddMainAndOffFeatures();
  // A row of the installer's Registry table (made on first use), keyed "reg1", "reg2", ...
  void AddRegistryRow(int root, const Vrn::CUnicodeString& key, const CCell& name, const CCell& value,
                      const Vrn::CUnicodeString& component = L"MainComp");

  // ---- Session ----
  // Commits the database and opens it as a package; with costing, feature and component states
  // are decided as the installer would (CostInitialize, FileCost, CostFinalize).
  MSIHANDLE Open(bool runCosting = false);
  MSIHANDLE Session() const noexcept { return m_session; }
  // Calls an export of this program (linked with the module-definition file) with the session.
  UINT Call(const char* exportName);
  Vrn::CUnicodeString Property(const Vrn::CUnicodeString& name) const;
  void SetProperty(const Vrn::CUnicodeString& name, const Vrn::CUnicodeString& value);

  // The custom-action log written since Open (decoded, without byte-order marks and the log's header).
  Vrn::CUnicodeString LogText() const;
  // Texts the installer received as error messages since Open.
  std::vector<Vrn::CUnicodeString> InstallerErrors() const;

 private:
  void EnsureTable(const wchar_t* name, const wchar_t* createSql);

  CTempFolder m_folder;
  int m_registryRows = 0;
  Vrn::CUnicodeString m_path;
  MSIHANDLE m_database = 0;
  MSIHANDLE m_session = 0;
  uint64_t m_logStart = 0;
  size_t m_errorsStart = 0;
};

// Calls the export of this program named `action` (the action tests are linked with the
// module-definition file, so that the seam overrides of a test reach the actions).
UINT CallAction(const char* action, MSIHANDLE session);

// Decodes a custom-action log: UTF-16LE with a U+FEFF before every piece.
Vrn::CUnicodeString DecodeCustomActionLog(const std::string& bytes);

}  // namespace TestSupport
