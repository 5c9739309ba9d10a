// orvrun --check: how a package uses the library, checked without installing it or running an action.
// The package's Binary rows that hold the library (found by the module name of their export
// directory) tell which custom actions are the library's; what each action needs from its package
// comes from the action catalog (Src/ActionCatalog.h), the table schemas from Packages/Tables.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "UnicodeString.h"

namespace Runner {

enum class Severity { Error, Warning };

struct CFinding {
  Severity severity;
  std::string rule;     // unknown-entry, table-schema, missing-table, deferred-data, before-costing, message-undefined
  std::string table;    // where: a table of the package
  std::string row;      // and the key of the row in it (empty when the finding is about the whole table)
  std::string message;  // one sentence, UTF-8
};

// The file is missing or is no installer database.
struct CPackageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct CCheckReport {
  // Ordered by rule (in the order above), then by table and row.
  std::vector<CFinding> findings;
  // The Binary rows that hold the library.
  std::vector<std::string> libraryBinaries;
};

// Checks the package. Raises CPackageError for bad input; a database that fails while it is read
// raises the core library's internal error.
CCheckReport CheckPackage(const Vrn::CUnicodeString& path);

// The library's exports that are not actions: its message-module interface.
inline constexpr const char* kNonActionExports[] = {"GetResourceID", "NumberOfMessages", "GetMessageName",
                                                    "GetMessageSystemVersion", "__VornikUsed"};

}  // namespace Runner
