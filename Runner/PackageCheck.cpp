// The package check of orvrun: reads the tables the rules need from the package and applies the rules.
#include "PackageCheck.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "ActionCatalog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "FileOperations.h"
#include "MsiHandle.h"
#include "MsiHelper.h"
#include "PeImage.h"

namespace Runner {

namespace {

using Vrn::CUnicodeString;

// The module name the library's export directory records.
constexpr wchar_t kLibraryModule[] = L"OrvantCA.dll";
constexpr const wchar_t* kSequenceTables[] = {L"InstallUISequence", L"InstallExecuteSequence", L"AdminUISequence",
                                              L"AdminExecuteSequence", L"AdvtExecuteSequence"};
// Only these two sequences are checked for actions placed before a CostFinalize they have.
constexpr const wchar_t* kCostedSequences[] = {L"InstallUISequence", L"InstallExecuteSequence"};
// Custom-action types: the low six bits are the kind of action and the source of its code.
constexpr int kKindMask = 0x3F;
constexpr int kDllInBinary = 1;
constexpr int kSetProperty = 51;
constexpr int kInScript = 0x400;
// A larger Binary stream is no DLL of ours; the bound keeps a hostile package from filling memory.
constexpr size_t kLargestLibrary = 256u << 20;

// The table schemas shipped in Packages/Tables, embedded when orvrun is built.
struct CShippedSchema {
  const wchar_t* table;
  const wchar_t* columns;  // names, tab-separated
  const wchar_t* types;    // .idt type codes, tab-separated
  const wchar_t* keys;     // primary-key columns, tab-separated
};
constexpr CShippedSchema kShippedSchemas[] = {
#include "TableSchemas.inc"
};

std::string Utf8(const CUnicodeString& text) { return text.ToUtf8(); }

// The blank-separated names of a CActionNeeds list.
std::vector<CUnicodeString> NeedsList(const wchar_t* list) { return Msi::SplitList(list, L' '); }

std::string JoinUtf8(const std::vector<CUnicodeString>& items, const char* separator) {
  std::string joined;
  for (const CUnicodeString& item : items) joined += (joined.empty() ? "" : separator) + item.ToUtf8();
  return joined;
}

struct CColumns {
  std::vector<CUnicodeString> names;
  std::vector<CUnicodeString> types;
  std::vector<CUnicodeString> keys;
};

struct CCustomAction {
  CUnicodeString name;
  int type = 0;
  CUnicodeString source;
  CUnicodeString target;
};

struct CSequenced {
  CUnicodeString action;
  std::optional<int> sequence;  // none for an empty cell
};

// The parts of the package the rules read, taken from its database once.
class CPackage {
 public:
  explicit CPackage(const CUnicodeString& path) {
    MSIHANDLE handle = 0;
    if (MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &handle) != ERROR_SUCCESS)
      throw CPackageError("cannot open " + Utf8(path) + " as an installer package");
    m_database.Reset(handle);
    for (const auto& row : Rows(L"SELECT `Name` FROM `_Tables`", 1)) m_tables.insert(row[0]);
    if (HasTable(L"Property"))
      for (const auto& row : Rows(L"SELECT `Property`, `Value` FROM `Property`", 2)) m_properties[row[0]] = row[1];
    if (HasTable(L"CustomAction"))
      for (const auto& row : Rows(L"SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`", 4))
        m_customActions.push_back({row[0], Vrn::StrictInteger<int32_t>(row[1]).value_or(0), row[2], row[3]});
    for (const wchar_t* table : kSequenceTables) {
      if (!HasTable(table)) continue;
      std::vector<CSequenced>& rows = m_sequences[table];
      for (const auto& row : Rows(CUnicodeString(L"SELECT `Action`, `Sequence` FROM `") + table + L"`", 2))
        rows.push_back({row[0], Vrn::StrictInteger<int32_t>(row[1])});
    }
    // Actions a dialog starts run as surely as sequenced ones.
    if (HasTable(L"ControlEvent"))
      for (const auto& row : Rows(L"SELECT `Event`, `Argument` FROM `ControlEvent`", 2))
        if (row[0] == L"DoAction") m_dialogActions.insert(row[1]);
    if (HasTable(L"Binary")) ReadLibraryBinaries();
  }

  bool HasTable(const CUnicodeString& table) const { return m_tables.contains(table); }
  const std::map<CUnicodeString, CUnicodeString>& Properties() const { return m_properties; }
  const std::vector<CCustomAction>& CustomActions() const { return m_customActions; }
  const std::map<CUnicodeString, std::vector<CSequenced>>& Sequences() const { return m_sequences; }
  // The export names of each Binary row that holds the library.
  const std::map<CUnicodeString, std::set<std::string>>& LibraryBinaries() const { return m_libraryBinaries; }

  // Whether a sequence table holds the action or a dialog starts it.
  bool IsScheduled(const CUnicodeString& action) const {
    for (const auto& [table, rows] : m_sequences)
      for (const CSequenced& row : rows)
        if (row.action == action) return true;
    return m_dialogActions.contains(action);
  }

  CColumns ReadColumns(const CUnicodeString& table) const {
    Msi::CMsiHandle view = OpenView(L"SELECT * FROM `" + table + L"`");
    CColumns columns;
    for (auto [kind, list] :
         {std::pair{MSICOLINFO_NAMES, &columns.names}, std::pair{MSICOLINFO_TYPES, &columns.types}}) {
      MSIHANDLE info = 0;
      Vrn::Check(MsiViewGetColumnInfo(view.Get(), kind, &info) == ERROR_SUCCESS);
      const Msi::CMsiHandle record(info);
      for (UINT field = 1; field <= MsiRecordGetFieldCount(record.Get()); ++field)
        list->push_back(Msi::GetRecordString(record.Get(), field));
    }
    MSIHANDLE keys = 0;
    Vrn::Check(MsiDatabaseGetPrimaryKeysW(m_database.Get(), table.c_str(), &keys) == ERROR_SUCCESS);
    const Msi::CMsiHandle record(keys);
    for (UINT field = 1; field <= MsiRecordGetFieldCount(record.Get()); ++field)
      columns.keys.push_back(Msi::GetRecordString(record.Get(), field));
    return columns;
  }

 private:
  std::vector<std::vector<CUnicodeString>> Rows(const CUnicodeString& query, UINT columnCount) const {
    std::vector<Msi::CColumnList> lists(columnCount);
    std::vector<Msi::CFieldInto> fields;
    for (UINT i = 0; i < columnCount; ++i) fields.push_back({i + 1, &lists[i]});
    Msi::ReadTableColumns(m_database.Get(), query.c_str(), fields);
    std::vector<std::vector<CUnicodeString>> rows(lists[0].size());
    for (size_t row = 0; row < rows.size(); ++row)
      for (const Msi::CColumnList& list : lists) rows[row].push_back(list[row]);
    return rows;
  }

  Msi::CMsiHandle OpenView(const CUnicodeString& query) const {
    MSIHANDLE view = 0;
    Vrn::Check(MsiDatabaseOpenViewW(m_database.Get(), query.c_str(), &view) == ERROR_SUCCESS);
    Msi::CMsiHandle owned(view);
    Vrn::Check(MsiViewExecute(owned.Get(), 0) == ERROR_SUCCESS);
    return owned;
  }

  void ReadLibraryBinaries() {
    const Msi::CMsiHandle view = OpenView(L"SELECT `Name`, `Data` FROM `Binary`");
    for (;;) {
      MSIHANDLE fetched = 0;
      const UINT answer = MsiViewFetch(view.Get(), &fetched);
      if (answer == ERROR_NO_MORE_ITEMS) return;
      Vrn::Check(answer == ERROR_SUCCESS);
      const Msi::CMsiHandle record(fetched);
      const size_t size = MsiRecordDataSize(record.Get(), 2);
      if (size == 0 || size > kLargestLibrary) continue;
      std::vector<unsigned char> data(size);
      DWORD read = static_cast<DWORD>(size);
      Vrn::Check(MsiRecordReadStream(record.Get(), 2, reinterpret_cast<char*>(data.data()), &read) == ERROR_SUCCESS);
      data.resize(read);
      const std::optional<Vrn::CImageExports> exports = Vrn::ReadImageExports(data);
      if (!exports || !CUnicodeString::FromUtf8(exports->moduleName).EqualsNoCaseAscii(kLibraryModule)) continue;
      m_libraryBinaries[Msi::GetRecordString(record.Get(), 1)] = {exports->names.begin(), exports->names.end()};
    }
  }

  Msi::CMsiHandle m_database;
  std::set<CUnicodeString> m_tables;
  std::map<CUnicodeString, CUnicodeString> m_properties;
  std::vector<CCustomAction> m_customActions;
  std::map<CUnicodeString, std::vector<CSequenced>> m_sequences;
  std::set<CUnicodeString> m_dialogActions;
  std::map<CUnicodeString, std::set<std::string>> m_libraryBinaries;
};

// One custom action of the package that calls an action of the library, with what that action needs.
struct COurAction {
  const CCustomAction* row;
  const Msi::CActionNeeds* needs;  // null for an export this orvrun does not know

  // "Row" or, when the row is named otherwise, "Row (Export)".
  std::string Label() const {
    return Utf8(row->name) + (row->name == row->target ? "" : " (" + Utf8(row->target) + ")");
  }
  // Every property the action reads by a fixed name, shown texts and what their boxes read included.
  std::vector<CUnicodeString> PropertiesRead() const {
    std::vector<CUnicodeString> names = NeedsList(needs->reads);
    const std::vector<CUnicodeString> shown = NeedsList(needs->shows);
    names.insert(names.end(), shown.begin(), shown.end());
    if (!shown.empty())
      for (const CUnicodeString& name : NeedsList(Msi::kMessageBoxReads))
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    return names;
  }
};

class CChecker {
 public:
  explicit CChecker(const CPackage& package) : m_package(package) {
    const std::vector<Msi::CActionEntry> catalog = Msi::ActionCatalog();
    for (const Msi::CActionEntry& entry : catalog) m_needs[CUnicodeString(entry.name)] = entry.needs;
    for (const CCustomAction& row : package.CustomActions()) {
      if ((row.type & kKindMask) != kDllInBinary || !package.LibraryBinaries().contains(row.source)) continue;
      const auto needs = m_needs.find(row.target);
      m_ours.push_back({&row, needs == m_needs.end() ? nullptr : &needs->second});
    }
  }

  // The rules in their order; the findings of each by where.
  std::vector<CFinding> Run() {
    for (void (CChecker::*rule)() : {&CChecker::CheckEntries, &CChecker::CheckSchemas, &CChecker::CheckTables,
                                     &CChecker::CheckDeferredData, &CChecker::CheckCosting, &CChecker::CheckMessages}) {
      const size_t first = m_findings.size();
      (this->*rule)();
      std::sort(m_findings.begin() + static_cast<ptrdiff_t>(first), m_findings.end(),
                [](const CFinding& left, const CFinding& right) {
                  return std::tie(left.table, left.row, left.message) < std::tie(right.table, right.row, right.message);
                });
    }
    return std::move(m_findings);
  }

 private:
  void Add(Severity severity, const char* rule, const CUnicodeString& table, const CUnicodeString& row,
           std::string message) {
    m_findings.push_back({severity, rule, Utf8(table), Utf8(row), std::move(message)});
  }

  // unknown-entry: a DLL action of the library's Binary whose Target the library does not export.
  void CheckEntries() {
    for (const COurAction& action : m_ours) {
      const std::string target = Utf8(action.row->target);
      const std::set<std::string>& exports = m_package.LibraryBinaries().at(action.row->source);
      const std::string library = Utf8(kLibraryModule) + " in Binary." + Utf8(action.row->source);
      if (!exports.contains(target))
        Add(Severity::Error, "unknown-entry", L"CustomAction", action.row->name,
            "calls " + target + ", which " + library + " does not export");
      else if (std::find(std::begin(kNonActionExports), std::end(kNonActionExports), target) !=
               std::end(kNonActionExports))
        Add(Severity::Error, "unknown-entry", L"CustomAction", action.row->name,
            "calls " + target + ", which " + library + " exports but which is not an action");
    }
  }

  // table-schema: an OV_ table whose columns differ from the schema the library ships.
  void CheckSchemas() {
    for (const CShippedSchema& shipped : kShippedSchemas) {
      if (!m_package.HasTable(shipped.table)) continue;
      const CColumns found = m_package.ReadColumns(shipped.table);
      const CColumns wanted{Msi::SplitList(shipped.columns, L'\t'), Msi::SplitList(shipped.types, L'\t'),
                            Msi::SplitList(shipped.keys, L'\t')};
      if (std::optional<std::string> difference = SchemaDifference(found, wanted))
        Add(Severity::Error, "table-schema", shipped.table, L"",
            "differs from the library's schema (Packages/Tables/" + Utf8(shipped.table) + ".idt): " + *difference);
    }
  }

  static std::optional<std::string> SchemaDifference(const CColumns& found, const CColumns& wanted) {
    auto column = [](const CColumns& columns, size_t i) { return Utf8(columns.names[i] + L" " + columns.types[i]); };
    for (size_t i = 0; i < std::min(found.names.size(), wanted.names.size()); ++i)
      if (found.names[i] != wanted.names[i] || found.types[i] != wanted.types[i])
        return "column " + std::to_string(i + 1) + " is " + column(found, i) + ", the schema has " + column(wanted, i);
    if (found.names.size() != wanted.names.size())
      return "it has " + std::to_string(found.names.size()) + " columns, the schema " +
             std::to_string(wanted.names.size());
    if (found.keys != wanted.keys)
      return "its primary key is " + JoinUtf8(found.keys, ", ") + ", the schema's is " + JoinUtf8(wanted.keys, ", ");
    return std::nullopt;
  }

  // missing-table: a scheduled action of the library that reads a table the package lacks.
  void CheckTables() {
    for (const COurAction& action : m_ours) {
      if (!action.needs || !m_package.IsScheduled(action.row->name)) continue;
      for (const CUnicodeString& needed : NeedsList(action.needs->tables)) {
        std::vector<CUnicodeString> described;
        bool present = false;
        for (const CUnicodeString& alternative : Msi::SplitList(needed, L'|')) {
          const bool named = alternative.StartsWith(L"[");
          const CUnicodeString table = named ? NamedTable(alternative.Mid(1, alternative.Length() - 2)) : alternative;
          present = present || m_package.HasTable(table);
          described.push_back(named ? L"the table " + alternative.Mid(1, alternative.Length() - 2) + L" names"
                                    : alternative);
        }
        if (present) continue;
        Add(Severity::Error, "missing-table", L"CustomAction", action.row->name,
            action.Label() + (described.size() == 1
                                  ? " reads the table " + Utf8(described[0]) + ", which the package lacks"
                                  : " reads one of " + JoinUtf8(described, ", ") + "; the package has none"));
      }
    }
  }

  CUnicodeString NamedTable(const CUnicodeString& property) const {
    const auto value = m_package.Properties().find(property);
    return value == m_package.Properties().end() ? CUnicodeString() : value->second;
  }

  // deferred-data: a deferred action of the library that reads properties needs a type-51 action
  // setting its CustomActionData earlier in the same sequence; a literal value should hold every
  // key the action reads.
  void CheckDeferredData() {
    std::set<std::pair<CUnicodeString, CUnicodeString>> warned;
    for (const COurAction& action : m_ours) {
      if (!(action.row->type & kInScript) || !action.needs) continue;
      const std::vector<CUnicodeString> reads = action.PropertiesRead();
      if (reads.empty() && !action.needs->readsIndirect) continue;
      for (const auto& [table, rows] : m_package.Sequences()) {
        for (const CSequenced& scheduled : rows) {
          if (scheduled.action != action.row->name || !scheduled.sequence) continue;
          const std::vector<const CCustomAction*> setters = SettersBefore(table, action.row->name, *scheduled.sequence);
          if (setters.empty())
            Add(Severity::Error, "deferred-data", table, action.row->name,
                action.Label() + " runs in the script and reads its properties from CustomActionData, but no type-51 " +
                    "action sets " + Utf8(action.row->name) + " before it in " + Utf8(table));
          for (const CCustomAction* setter : setters)
            for (const CUnicodeString& key : MissingKeys(setter->target, reads))
              if (warned.insert({setter->name, key}).second)
                Add(Severity::Warning, "deferred-data", L"CustomAction", setter->name,
                    "the CustomActionData it sets for " + action.Label() + " has no item " + Utf8(key) +
                        ", which the action reads");
        }
      }
    }
  }

  std::vector<const CCustomAction*> SettersBefore(const CUnicodeString& table, const CUnicodeString& property,
                                                  int sequence) const {
    std::vector<const CCustomAction*> setters;
    for (const CSequenced& scheduled : m_package.Sequences().at(table)) {
      if (!scheduled.sequence || *scheduled.sequence <= 0 || *scheduled.sequence >= sequence) continue;
      for (const CCustomAction& row : m_package.CustomActions())
        if (row.name == scheduled.action && (row.type & kKindMask) == kSetProperty && row.source == property)
          setters.push_back(&row);
    }
    return setters;
  }

  // The read keys a literal value lacks. A value whose keys are made while installing (a key with
  // a "[" reference) or that is no list of items (such as "[DATA]") is not literal: nothing to say.
  static std::vector<CUnicodeString> MissingKeys(const CUnicodeString& value,
                                                 const std::vector<CUnicodeString>& reads) {
    std::vector<Msi::CCustomActionDataItem> items;
    if (Vrn::Caught([&] { items = Msi::CustomActionDataItems(value); })) return {};
    std::vector<CUnicodeString> missing;
    for (const Msi::CCustomActionDataItem& item : items)
      if (item.key.Find(L'[') != CUnicodeString::npos) return {};
    for (const CUnicodeString& key : reads)
      if (std::none_of(items.begin(), items.end(), [&](const auto& item) { return item.key.EqualsNoCase(key); }))
        missing.push_back(key);
    return missing;
  }

  // before-costing: an action that needs costing sequenced before CostFinalize, or in a sequence
  // without it.
  void CheckCosting() {
    for (const auto& [table, rows] : m_package.Sequences()) {
      const auto costFinalize =
          std::find_if(rows.begin(), rows.end(), [](const CSequenced& row) { return row.action == L"CostFinalize"; });
      const bool ordered = std::any_of(std::begin(kCostedSequences), std::end(kCostedSequences),
                                       [&](const wchar_t* costed) { return table == costed; });
      for (const COurAction& action : m_ours) {
        if (!action.needs || !action.needs->costing) continue;
        for (const CSequenced& scheduled : rows) {
          if (scheduled.action != action.row->name) continue;
          const std::string needs = action.Label() + " needs target paths or feature or component states";
          if (costFinalize == rows.end()) {
            Add(Severity::Error, "before-costing", table, action.row->name,
                needs + ", but " + Utf8(table) + " has no CostFinalize");
          } else if (ordered && scheduled.sequence && costFinalize->sequence && *scheduled.sequence > 0 &&
                     *scheduled.sequence < *costFinalize->sequence) {
            Add(Severity::Error, "before-costing", table, action.row->name,
                needs + ", but runs at " + std::to_string(*scheduled.sequence) + ", before CostFinalize (" +
                    std::to_string(*costFinalize->sequence) + ")");
          }
        }
      }
    }
  }

  // message-undefined: an MT_ text a scheduled action shows that the Property table lacks.
  void CheckMessages() {
    std::map<CUnicodeString, std::vector<CUnicodeString>> missing;
    for (const COurAction& action : m_ours) {
      if (!action.needs || !m_package.IsScheduled(action.row->name)) continue;
      for (const CUnicodeString& text : NeedsList(action.needs->shows))
        if (!m_package.Properties().contains(text)) missing[text].push_back(CUnicodeString::FromUtf8(action.Label()));
    }
    for (const auto& [text, actions] : missing)
      Add(Severity::Warning, "message-undefined", L"Property", text,
          Utf8(text) + " is shown by " + JoinUtf8(actions, ", ") + ", but the Property table does not define it");
  }

  const CPackage& m_package;
  std::map<CUnicodeString, Msi::CActionNeeds> m_needs;
  std::vector<COurAction> m_ours;
  std::vector<CFinding> m_findings;
};

}  // namespace

CCheckReport CheckPackage(const CUnicodeString& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    throw CPackageError("no such package file: " + Utf8(path));
  const CPackage package(path);
  CCheckReport report{CChecker(package).Run(), {}};
  for (const auto& [binary, exports] : package.LibraryBinaries()) report.libraryBinaries.push_back(Utf8(binary));
  return report;
}

}  // namespace Runner
